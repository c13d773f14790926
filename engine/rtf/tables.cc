// The font, colour and style tables of the document: the readers of the three header groups, the
// lookups by number and name, the end-of-table actions that bind the translation tables to the
// document's numbers, and the document information.
#include "rtf/tables.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unordered_set>
#include <utility>

#include "base/buffers.h"
#include "base/messages.h"
#include "engine.h"
#include "rtf/charmaps.h"
#include "rtf/control_words.h"
#include "rtf/reader.h"

namespace quillo::rtf {
namespace {

constexpr char kFontReader[] = "ReadFontTbl";
constexpr char kColorReader[] = "ReadColorTbl";
constexpr char kStyleReader[] = "ReadStyleSheet";

// ---- Token tests --------------------------------------------------------------------------------

bool IsGroupStart(const RtfToken& token) {
  return token.tokClass == kClassGroup && token.major == 0;
}
bool IsGroupEnd(const RtfToken& token) { return token.tokClass == kClassGroup && token.major == 1; }
bool IsText(const RtfToken& token, int byte) {
  return token.tokClass == kClassText && token.major == byte;
}
bool IsControl(const RtfToken& token, int major, int minor) {
  return token.tokClass == kClassControl && token.major == major && token.minor == minor;
}

/// End of input, or a message or the translation file asked the conversion to stop: every reader
/// loop ends on this.
bool AtEnd(const Engine& engine) {
  return engine.reader.token.tokClass == kClassEOF || engine.driver.stop;
}

/// Reads the next token, passing over text blanks: blanks between entries belong to no entry.
void GetTokenSkippingBlanks(Engine& engine) {
  do {
    GetToken(engine);
  } while (IsText(engine.reader.token, ' '));
}

/// Traces a token the reader does not use, when the token trace is switched on.
void TraceUnknown(Engine& engine, const char* reader) {
  if (engine.settings.mirrors.debug & kDebugTokens)
    PrintEscaped(engine, "%s: unknown token \"%s\"\n", reader, engine.reader.token.text.c_str());
}

/// Appends one raw byte of a name, dropping what lies beyond the length limit.
void AppendNameByte(std::string& name, int byte) {
  if (name.size() < kMaxTableNameLength) name.push_back(static_cast<char>(byte));
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return text;
}

/// ASCII lower case: style names are compared without regard to letter case.
std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

/// Calls `fn` with each comma-separated part of `list`, blanks around it trimmed; empty parts are
/// passed over.
template <typename Fn>
void ForEachListName(std::string_view list, Fn&& fn) {
  std::size_t begin = 0;
  while (begin <= list.size()) {
    std::size_t end = list.find(',', begin);
    if (end == std::string_view::npos) end = list.size();
    std::string_view part = TrimBlanks(list.substr(begin, end - begin));
    if (!part.empty()) fn(part);
    begin = end + 1;
  }
}

// ---- Font list ----------------------------------------------------------------------------------

/// Records a completed font in the indexes; it is the newest font of its number and name.
void IndexFont(DocumentTables& tables, std::size_t position, bool numbered) {
  const FontEntry& font = tables.fonts[position];
  if (numbered) tables.fontByNumber[font.number] = position;
  tables.fontByName[font.name] = position;
}

/// The number of a font the engine adds to the document's list (one that a translation file or a
/// field names and the document lacks): below -1, which stands for "the newest font". Text names
/// only fonts numbered 0 and above (a negative \f is an undefined font), so no word of the
/// document can select a font it did not define.
int NextEngineFontNumber(DocumentTables& tables) {
  if (tables.engineFonts < INT_MAX - 2) ++tables.engineFonts;
  return -1 - tables.engineFonts;
}

// ---- Font table reader --------------------------------------------------------------------------

/// State of one font table read.
struct FontTableRead {
  enum Format { kUnknown, kNoBraces, kBraces };
  Format format = kUnknown;
  /// Entry groups left open because their closing brace was missing; a '}' between entries closes
  /// one of them before one can end the table.
  int openEntryGroups = 0;
  bool formatReported = false;
  bool lastHasNumber = true;  ///< number seen in the last entry read (true before any entry)
};

/// With the current token a '{' inside a font entry: reads the group up to its closing brace, which
/// is then the current token. The text of an alternative-name group ({\*\falt Times}) becomes the
/// font's alternative name; every other group (\panose, \fname...) is passed over.
void ReadFontEntryGroup(Engine& engine, FontEntry& font) {
  const RtfToken& token = engine.reader.token;
  long level = 1;
  bool first = true, alternative = false;
  std::string name;
  while (!AtEnd(engine)) {
    GetToken(engine);
    if (IsGroupStart(token)) {
      ++level;
    } else if (IsGroupEnd(token)) {
      if (--level < 1) break;
    } else if (first && IsControl(token, kMajorSpecialChar, special::kOptDest)) {
      continue;  // still the group's first word
    } else if (first && IsControl(token, kMajorDestination, dest::kFontAltName)) {
      alternative = true;
    } else if (alternative && level == 1 && token.tokClass == kClassText) {
      AppendNameByte(name, token.major);
    }
    first = false;
  }
  if (alternative) font.altName.assign(TrimBlanks(name));
}

/// Reads one font entry whose first token is the current token (for an entry group: the token
/// after its '{'). Returns when the entry has ended; for an entry group the closing brace is then
/// the next token to read.
void ReadFontEntry(Engine& engine, bool braced, FontTableRead& read) {
  DocumentTables& tables = engine.tables;
  RtfToken& token = engine.reader.token;
  tables.fonts.emplace_back();
  const std::size_t position = tables.fonts.size() - 1;
  std::string name;
  enum { kNoName, kInName, kNameDone } nameState = kNoName;
  bool numberSeen = false;  // an \f word was read
  bool numbered = false;    // ... and it gave a number text can select

  for (; !AtEnd(engine); GetToken(engine)) {
    FontEntry& font = tables.fonts[position];
    if (IsText(token, ';')) break;
    if (IsGroupEnd(token)) {
      // The entry ends without its ';': the brace closes the entry group or the table.
      UngetToken(engine);
      break;
    }
    if (token.tokClass == kClassText) {
      if (nameState != kNameDone) {
        nameState = kInName;
        AppendNameByte(name, token.major);
      }
      continue;
    }
    if (nameState == kInName) {
      // The name is interrupted ({\*\falt ...}, \u..., another word). In an entry group the rest
      // of the entry is passed over up to the group's closing brace, which stays to be read.
      nameState = kNameDone;
      if (braced) {
        // An alternative name may come before the rest of the entry is passed over.
        if (IsGroupStart(token)) {
          ReadFontEntryGroup(engine, font);
          if (AtEnd(engine)) break;
          GetToken(engine);
          if (IsText(token, ';')) break;
          if (IsGroupEnd(token)) {
            UngetToken(engine);
            break;
          }
        }
        if (IsGroupStart(token)) UngetToken(engine);  // so that SkipGroup counts it
        SkipGroup(engine);
        if (IsGroupEnd(token)) UngetToken(engine);
        break;
      }
    }
    if (numberSeen && !braced && IsControl(token, kMajorCharAttr, chr::kFontNum)) {
      // A second \f in an entry without braces: the ';' before it is missing. End this entry here
      // so that the next one keeps its own number and name.
      UngetToken(engine);
      break;
    }
    if (token.tokClass == kClassControl && token.major == kMajorFontFamily) {
      font.family = token.minor;
    } else if (token.tokClass == kClassControl &&
               (token.major == kMajorCharAttr || token.major == kMajorFontAttr)) {
      // \fcharset, \fprq and \cpg carry the font-attribute major in the control-word table;
      // tables that number them under the character major read the same way.
      switch (token.minor) {
        case chr::kFontNum:
          numberSeen = true;
          // A negative number is kept out of the index: text cannot select such a font (see
          // NextEngineFontNumber).
          if (token.param >= 0) {
            font.number = token.param;
            numbered = true;
          }
          break;
        case 0:
          font.charset = token.param;
          break;
        case 1:
          font.pitch = token.param;
          break;
        case 2:
          font.codePage = token.param;
          break;
        case 3:
        case 4:
          font.type = token.param;
          break;
        default:
          break;
      }
    } else if (IsGroupStart(token)) {
      ReadFontEntryGroup(engine, font);  // \falt, and \panose, \fname and the like passed over
      if (AtEnd(engine)) break;
    } else {
      TraceUnknown(engine, kFontReader);
    }
  }
  FontEntry& font = tables.fonts[position];
  font.name.assign(TrimBlanks(name));
  IndexFont(tables, position, numbered);
  read.lastHasNumber = numberSeen;
}

// ---- Colour matching ----------------------------------------------------------------------------

int ClampComponent(long long value) {
  return static_cast<int>(std::clamp<long long>(value, 0, 255));
}

/// The .Colors entries bucketed in a grid whose cells are as wide as the distance limit: a colour
/// closer than the limit differs by less than the limit in every component, so only the 27 cells
/// around a colour's own cell need searching. This keeps a document with many colours from
/// costing the product of its colours and the (growing) .Colors list.
class ColorGrid {
 public:
  explicit ColorGrid(int limit) : cell_(std::max(limit, 1)) {}

  void Add(int red, int green, int blue, int index) {
    cells_[Key(red / cell_, green / cell_, blue / cell_)].push_back(index);
  }

  /// The index of the nearest entry closer than `limit` (earliest on equal distance), or -1.
  int Nearest(const std::vector<ColorEntry>& colors, int red, int green, int blue,
              long long limit) const {
    int best = -1;
    long long bestDistance = 0;
    const int cr = red / cell_, cg = green / cell_, cb = blue / cell_;
    for (int dr = -1; dr <= 1; ++dr) {
      for (int dg = -1; dg <= 1; ++dg) {
        for (int db = -1; db <= 1; ++db) {
          auto it = cells_.find(Key(cr + dr, cg + dg, cb + db));
          if (it == cells_.end()) continue;
          for (int index : it->second) {
            const ColorEntry& c = colors[static_cast<std::size_t>(index)];
            const long long distance = std::llabs(ClampComponent(c.red) - red) +
                                       std::llabs(ClampComponent(c.green) - green) +
                                       std::llabs(ClampComponent(c.blue) - blue);
            if (distance >= limit) continue;
            if (best < 0 || distance < bestDistance || (distance == bestDistance && index < best)) {
              best = index;
              bestDistance = distance;
            }
          }
        }
      }
    }
    return best;
  }

 private:
  // Cell coordinates lie in -1..256 (components are clamped to 0-255).
  static long long Key(int r, int g, int b) {
    return ((static_cast<long long>(r) + 1) * 512 + (g + 1)) * 512 + (b + 1);
  }
  int cell_;
  std::unordered_map<long long, std::vector<int>> cells_;
};

// ---- Style sheet reader -------------------------------------------------------------------------

/// Reads one style entry whose first token is the current token (for an entry group: the token
/// after its '{'). Returns when the entry has ended; for an entry group the closing brace is then
/// the next token to read.
void ReadStyleEntry(Engine& engine) {
  DocumentTables& tables = engine.tables;
  RtfToken& token = engine.reader.token;
  tables.styles.emplace_back();
  const std::size_t position = tables.styles.size() - 1;
  std::string name;
  bool hasName = false;

  for (; !AtEnd(engine); GetToken(engine)) {
    StyleEntry& style = tables.styles[position];
    if (IsText(token, ';')) break;
    if (IsGroupEnd(token)) {
      // The entry ends without its ';'. An entry that never named itself is the normal style.
      if (!hasName) {
        name = "Normal";
        hasName = true;
      }
      UngetToken(engine);
      break;
    }
    if (token.tokClass == kClassText) {
      hasName = true;
      AppendNameByte(name, token.major);
    } else if (token.tokClass == kClassControl) {
      if (token.major == kMajorSpecialChar && token.minor == special::kOptDest) {
        // \* marks a destination this reader skips anyway.
      } else if (token.major == kMajorParAttr && token.minor == par::kStyleNum) {
        style.type = kParagraphStyle;
        style.number = token.param;
      } else if (token.major == kMajorCharAttr && token.minor == chr::kCharStyleNum) {
        style.type = kCharacterStyle;
        style.number = token.param;
      } else if (token.major == kMajorSectAttr && token.minor == sect::kStyleNum) {
        style.type = kSectionStyle;
        style.number = token.param;
      } else if (token.major == kMajorStyleAttr && token.minor == style::kBasedOn) {
        style.basedOn = token.param;
      } else if (token.major == kMajorStyleAttr && token.minor == style::kAdditive) {
        style.additive = true;
      } else if (token.major == kMajorStyleAttr && token.minor == style::kNext) {
        style.nextPar = token.param;
      } else {
        style.tokens.push_back(token);
      }
    } else if (IsGroupStart(token)) {
      SkipGroup(engine);  // \keycode and other groups inside a style
      if (AtEnd(engine)) break;
    } else {
      TraceUnknown(engine, kStyleReader);
    }
  }

  StyleEntry& style = tables.styles[position];
  style.name.assign(TrimBlanks(name));
  if (style.number < 0) style.number = 0;
  if (style.nextPar == -1) style.nextPar = style.number;
  tables.styleByNumber[style.number] = position;
}

}  // namespace

// ---- Readers ------------------------------------------------------------------------------------

void ReadFontTbl(Engine& engine) {
  RtfToken& token = engine.reader.token;
  FontTableRead read;
  for (;;) {
    GetTokenSkippingBlanks(engine);
    if (AtEnd(engine)) break;
    if (IsGroupEnd(token)) {
      if (read.openEntryGroups > 0) {
        --read.openEntryGroups;
        continue;
      }
      break;
    }

    bool braced = IsGroupStart(token);
    if (read.format == FontTableRead::kUnknown) {
      if (braced) {
        read.format = FontTableRead::kBraces;
      } else if (IsControl(token, kMajorCharAttr, chr::kFontNum)) {
        read.format = FontTableRead::kNoBraces;
      } else {
        // Neither format: drop the token and try again on the next one. One report per table is
        // enough; a table of stray text would otherwise give one per character.
        if (!read.formatReported) ReportMessage(engine, "ERR_FORMAT_ERROR", {kFontReader});
        read.formatReported = true;
        continue;
      }
    } else if (read.format == FontTableRead::kBraces && !braced && read.openEntryGroups == 0) {
      // A word no font entry starts with (\viewkind, \pard...) after entries in braces: the
      // table's own '}' is missing and the document goes on here. The table ends, and the word
      // is the document's.
      const bool entryWord = token.tokClass != kClassControl ||
                             IsControl(token, kMajorCharAttr, chr::kFontNum) ||
                             token.major == kMajorFontFamily || token.major == kMajorFontAttr;
      if (!entryWord) break;
      // The entry's '{' is missing. The entry is read as one without braces, so that no closing
      // brace is expected for it: the brace that follows is the table's own.
      ReportMessage(engine, "ERR_MISSING_BRACE", {kFontReader});
    }

    if (braced) GetToken(engine);  // the entry starts after its '{'
    ReadFontEntry(engine, braced, read);
    if (AtEnd(engine)) break;
    if (braced) {
      GetToken(engine);
      if (AtEnd(engine)) break;
      if (!IsGroupEnd(token)) {
        // The entry group goes on after its ';'. Keep the token for the next entry and remember
        // that the group is still open, so that its brace does not end the table.
        ReportMessage(engine, "ERR_MISSING_BRACE", {kFontReader});
        UngetToken(engine);
        ++read.openEntryGroups;
      }
    }
  }
  if (!read.lastHasNumber) ReportMessage(engine, "ERR_MISSING_FONT_NUM", {kFontReader});
  if (!AtEnd(engine)) RouteToken(engine);
}

void ReadColorTbl(Engine& engine) {
  DocumentTables& tables = engine.tables;
  RtfToken& token = engine.reader.token;
  for (int number = 0;; ++number) {
    GetTokenSkippingBlanks(engine);
    if (AtEnd(engine)) return;
    if (IsGroupEnd(token)) break;

    ColorTableEntry entry;
    entry.number = number;
    // A component word without a value gives 0, not the reader's no-parameter marker.
    auto component = [&token]() { return token.param == kNoParam ? 0 : token.param; };
    while (token.tokClass == kClassControl && token.major == kMajorColorName) {
      switch (token.minor) {
        case 0:
          entry.red = component();
          break;
        case 1:
          entry.green = component();
          break;
        case 2:
          entry.blue = component();
          break;
        default:
          break;
      }
      GetTokenSkippingBlanks(engine);
    }
    tables.colors.push_back(entry);
    tables.colorByNumber[entry.number] = tables.colors.size() - 1;

    if (AtEnd(engine)) return;
    if (IsText(token, ';')) continue;
    ReportMessage(engine, "ERR_MALFORMED_ENTRY", {kColorReader});
    // The token is dropped, except that a brace is never taken lightly: '}' still ends the table
    // (the last entry merely lacked its ';'), and a nested group is skipped whole so that its
    // closing brace cannot end the table early.
    if (IsGroupEnd(token)) break;
    if (IsGroupStart(token)) {
      SkipGroup(engine);
      if (AtEnd(engine)) return;
    }
  }
  RouteToken(engine);
}

void ReadStyleSheet(Engine& engine) {
  RtfToken& token = engine.reader.token;
  int openEntryGroups = 0;  // entry groups whose closing brace was missing
  for (;;) {
    GetTokenSkippingBlanks(engine);
    if (AtEnd(engine)) return;
    if (IsGroupEnd(token)) {
      if (openEntryGroups > 0) {
        --openEntryGroups;
        continue;
      }
      break;
    }

    const bool braced = IsGroupStart(token);
    if (braced) {
      GetToken(engine);
    } else if (openEntryGroups == 0) {
      // The style's '{' is missing: read the style from this token on, without expecting a
      // closing brace for it, so the brace that follows stays the style sheet's own.
      ReportMessage(engine, "ERR_MISSING_BRACE", {kStyleReader});
    }
    ReadStyleEntry(engine);
    if (AtEnd(engine)) return;
    if (braced) {
      GetToken(engine);
      if (AtEnd(engine)) return;
      if (!IsGroupEnd(token)) {
        ReportMessage(engine, "ERR_MISSING_BRACE", {kStyleReader});
        UngetToken(engine);
        ++openEntryGroups;
      }
    }
  }
  RouteToken(engine);
}

// ---- Lookups ------------------------------------------------------------------------------------

namespace {

template <typename Entry>
const Entry* FindByNumber(const std::vector<Entry>& list,
                          const std::unordered_map<int, std::size_t>& index, int number) {
  if (number == -1) return list.empty() ? nullptr : &list.back();
  auto it = index.find(number);
  return it == index.end() ? nullptr : &list[it->second];
}

}  // namespace

const FontEntry* FindFont(const Engine& engine, int number) {
  return FindByNumber(engine.tables.fonts, engine.tables.fontByNumber, number);
}

const ColorTableEntry* FindColor(const Engine& engine, int number) {
  return FindByNumber(engine.tables.colors, engine.tables.colorByNumber, number);
}

const StyleEntry* FindStyle(const Engine& engine, int number) {
  return FindByNumber(engine.tables.styles, engine.tables.styleByNumber, number);
}

FontEntry& FindOrAddFontByName(Engine& engine, std::string_view name) {
  DocumentTables& tables = engine.tables;
  auto it = tables.fontByName.find(std::string(name));
  if (it != tables.fontByName.end()) return tables.fonts[it->second];
  FontEntry font;
  font.name.assign(name);
  font.number = NextEngineFontNumber(tables);
  tables.fonts.push_back(std::move(font));
  IndexFont(tables, tables.fonts.size() - 1, true);
  return tables.fonts.back();
}

// ---- End-of-table actions -----------------------------------------------------------------------

void EndFontTable(Engine& engine) {
  BindCharsetFonts(engine);
  for (TMatchEntry& entry : engine.translation.tmatch)
    if (!entry.fontName.empty()) entry.fontKey = FindOrAddFontByName(engine, entry.fontName).number;
}

void EndColorTable(Engine& engine) {
  std::vector<ColorEntry>& colors = engine.translation.colors;
  const long long limit = engine.settings.mirrors.maxColorDiff;
  ColorGrid grid(engine.settings.mirrors.maxColorDiff);
  for (std::size_t i = 0; i < colors.size(); ++i)
    grid.Add(ClampComponent(colors[i].red), ClampComponent(colors[i].green),
             ClampComponent(colors[i].blue), static_cast<int>(i));

  for (ColorTableEntry& entry : engine.tables.colors) {
    const int red = ClampComponent(entry.red);
    const int green = ClampComponent(entry.green);
    const int blue = ClampComponent(entry.blue);
    int index = grid.Nearest(colors, red, green, blue, limit);
    if (index < 0) {
      char name[8];
      std::snprintf(name, sizeof name, "#%02x%02x%02x", static_cast<unsigned>(red),
                    static_cast<unsigned>(green), static_cast<unsigned>(blue));
      ColorEntry added;
      added.name = name;
      added.red = red;
      added.green = green;
      added.blue = blue;
      colors.push_back(std::move(added));
      index = static_cast<int>(colors.size() - 1);
      grid.Add(red, green, blue, index);
    }
    entry.value = index;
  }
}

void EndStyleSheet(Engine& engine) {
  // Folded name or alias -> number of the first style of each kind that carries it, in
  // stylesheet order, so that each .PMatch and .TMatch name costs one lookup.
  std::unordered_map<std::string, int> paragraphStyles;
  std::unordered_map<std::string, std::size_t> characterStyles;  // -> position in the list
  const std::vector<StyleEntry>& styles = engine.tables.styles;
  for (std::size_t i = 0; i < styles.size(); ++i) {
    const StyleEntry& style = styles[i];
    if (style.type != kParagraphStyle && style.type != kCharacterStyle) continue;
    auto record = [&](std::string_view alias) {
      if (style.type == kParagraphStyle)
        paragraphStyles.emplace(Folded(alias), style.number);
      else
        characterStyles.emplace(Folded(alias), i);
    };
    if (!style.name.empty()) record(style.name);
    ForEachListName(style.name, record);
  }

  for (PMatchEntry& entry : engine.translation.pmatch) {
    if (entry.styleName.empty()) continue;
    auto it = paragraphStyles.find(Folded(entry.styleName));
    entry.styleKey = it == paragraphStyles.end() ? kNoStyleNumber : it->second;
  }
  for (TMatchEntry& entry : engine.translation.tmatch) {
    if (entry.charStyleNames.empty()) continue;
    std::size_t first = styles.size();
    ForEachListName(entry.charStyleNames, [&](std::string_view name) {
      auto it = characterStyles.find(Folded(name));
      if (it != characterStyles.end()) first = std::min(first, it->second);
    });
    entry.styleKey = first < styles.size() ? styles[first].number : kNoStyleNumber;
  }
}

// ---- Lifecycle and document information ---------------------------------------------------------

void ResetDocumentTables(Engine& engine) {
  DocumentTables& tables = engine.tables;
  tables.fonts.clear();
  tables.colors.clear();
  tables.styles.clear();
  tables.fontByNumber.clear();
  tables.fontByName.clear();
  tables.colorByNumber.clear();
  tables.styleByNumber.clear();
  tables.engineFonts = 0;
}

void ResetDocumentInfo(Engine& engine) {
  for (std::string& value : engine.tables.info) value.clear();
}

void AppendInfoText(Engine& engine, InfoKind kind, std::string_view text) {
  // Document information is kept for the page heads, not written as text: held to a sane size.
  if (kind >= 0 && kind < kInfoCount) AppendKept(engine.tables.info[kind], text);
}

std::string_view DocumentInfo(const Engine& engine, InfoKind kind) {
  if (kind < 0 || kind >= kInfoCount) return {};
  return engine.tables.info[kind];
}

namespace {

struct InfoRoute {
  int minor;
  InfoKind text, breaks;
};
/// Where the text and the tabs and line breaks of each \info sub-destination go. Version comments
/// give their text to the document comments and keep only their breaks.
constexpr InfoRoute kInfoRoutes[] = {
    {dest::kTitle, kInfoTitle, kInfoTitle},
    {dest::kSubject, kInfoSubject, kInfoSubject},
    {dest::kAuthor, kInfoAuthor, kInfoAuthor},
    {dest::kOperator, kInfoOperator, kInfoOperator},
    {dest::kKeywords, kInfoKeywords, kInfoKeywords},
    {dest::kComment, kInfoComments, kInfoComments},
    {dest::kDocComment, kInfoDocComments, kInfoDocComments},
    {dest::kVersComment, kInfoDocComments, kInfoVersComments},
};

}  // namespace

bool InfoDestination(int minor, InfoKind& textKind, InfoKind& breakKind) {
  for (const InfoRoute& route : kInfoRoutes) {
    if (route.minor != minor) continue;
    textKind = route.text;
    breakKind = route.breaks;
    return true;
  }
  return false;
}

}  // namespace quillo::rtf
