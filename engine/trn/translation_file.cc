// The line scanner and the translation-file loader: logical lines with continuations, the
// preprocessor (#ifdef, #ifndef, #ifmatch, #else, #endif, #include, #cinclude), the nine sections
// and the records they produce, and the tag resolution at the end of a load.
#include "trn/translation_file.h"

#include <climits>
#include <cstdio>
#include <unordered_map>

#include "base/buffers.h"
#include "base/field_scanner.h"
#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "expand/regex.h"
#include "trn/loader_names.h"
#include "trn/translation_cache.h"

namespace quillo {

namespace {

using namespace loader_names;

// ---- Loader -------------------------------------------------------------------------------------

/// One file being read: the main translation file or an included one.
struct OpenFile {
  FileEntry* file = nullptr;
  std::string name;
  int line = 0;   ///< physical lines read so far
  int index = 0;  ///< index of the name in TranslationTables::files
};

/// The files of the include stack (the back one is being read). Closes whatever is still open
/// when a fatal message unwinds the load.
struct IncludeStack {
  std::vector<OpenFile> files;
  IncludeStack() = default;
  IncludeStack(const IncludeStack&) = delete;
  IncludeStack& operator=(const IncludeStack&) = delete;
  ~IncludeStack() {
    for (auto& f : files) FileClose(f.file);
  }
};

struct Condition {
  int line;
  bool skip;
};

/// An open `Switch` or `while` block of the function being read.
struct OpenBlock {
  int opening;        ///< index of the Switch/while statement
  int lastCase = -1;  ///< index of the block's last Case/Default, -1 when none
  int kind;           ///< kOpSwitch or kOpWhile
};

/// Reads one translation file and its includes. While it reads it is the place of every message
/// raised (the file and line being read; while tag names are checked at the end, the entry's).
class Loader : public MessageSource {
 public:
  Loader(Engine& engine, trn::LoadWatch& watch)
      : engine_(engine),
        watch_(watch),
        tables_(engine.translation),
        scanner_(MakeScannerSettings()) {}

  int Run(std::string_view name);

  std::string SourceName() const override {
    if (checking_) return tables_.files[static_cast<std::size_t>(checking_->file)];
    return stack_.files.empty() ? tables_.fileName : FileName();
  }
  long SourceLine() const override {
    if (checking_) return checking_->line;
    return stack_.files.empty() ? 0 : LineNumber();
  }

 private:
  static ScannerSettings MakeScannerSettings() {
    ScannerSettings s;
    s.separators = kTranslationSeparators;
    return s;
  }

  bool ReadLogicalLine();
  void TraceLine();
  void ProcessLine();
  void Directive(const std::string& word);
  void Include(bool reportMissing);
  bool SectionHeader(const std::string& word);
  void DataLine(const std::string& first);
  void ResolveTags();

  // Section readers; `first` is the line's first field.
  void ReadCharset(const std::string& first);
  void ReadTMatch(const std::string& first);
  void ReadPMatch(const std::string& first);
  void ReadRMatch(const std::string& first);
  void ReadTTag(const std::string& first);
  void ReadPTag(const std::string& first);
  void ReadColor(const std::string& first);
  void ReadString(const std::string& first);
  void ReadFunctionLine(const std::string& first);
  void StartFunction();
  void LinkBlock(int op, int index);
  /// Compiles a pattern of this file. One that does not compile reports the compiler's reason
  /// (MSG_BAD_PROG_LOGIC) and then ERR_INVALID_SEARCH_EXPR naming `what` and this line; the
  /// result is then nullptr.
  std::unique_ptr<expand::Regex> CompileReported(const std::string& pattern,
                                                 const std::string& what);

  uint32_t AttributeBits(const std::string& words, uint32_t& mask);
  int ColorIndex(const std::string& name);

  /// Next field of the current line; reports ERR_NOT_ENOUGH_FIELDS (once per line) when absent.
  bool Need(std::string& field);
  /// Reports ERR_EXTRA_DATA when a field that is not a '#' comment follows the section's fields.
  void CheckExtra();

  const std::string& FileName() const { return stack_.files.back().name; }
  int LineNumber() const { return stack_.files.back().line; }
  bool Skipping() const { return conditions_.back().skip; }
  /// Opens a level of the include stack for `file`, read as `name`.
  void PushFile(FileEntry* file, std::string name);
  EntryPlace Place() const { return {stack_.files.back().index, LineNumber()}; }

  Engine& engine_;
  trn::LoadWatch& watch_;  ///< told of every file the load opens
  TranslationTables& tables_;
  FieldScanner scanner_;
  IncludeStack stack_;
  std::string line_;   ///< the current logical line
  std::string piece_;  ///< one read of at most 511 characters
  bool fieldsMissing_ = false;
  Section section_ = Section::kNone;
  std::vector<Condition> conditions_{{1, false}};

  // .Functions: the function receiving statements (-1 before the first "Function" line), and
  // its open blocks. Blocks opened beyond kMaxOpenBlocks are only counted, so that their End
  // lines close them without touching the recorded blocks.
  int currentFunction_ = -1;
  std::vector<OpenBlock> blocks_;
  int unrecordedBlocks_ = 0;

  // Case-insensitive indexes (first entry of a name) kept beside the tables so that lookups
  // stay constant-time however large the file is.
  std::unordered_map<std::string, int> colorByName_;
  std::unordered_map<std::string, int> functionByName_;

  /// The entry whose tag name is being checked at the end of the load, or nullptr.
  const EntryPlace* checking_ = nullptr;
};

void Loader::PushFile(FileEntry* file, std::string name) {
  tables_.files.push_back(name);
  const int index = static_cast<int>(tables_.files.size()) - 1;
  stack_.files.push_back({file, std::move(name), 0, index});
}

/// Reads one logical line of the current file into line_. Returns false at the end of the file.
/// Text after the last newline of a file (also a continuation still open there) is not a line of
/// that file and is dropped, for included files as well: the including file then resumes with a
/// fresh line, so nothing of the included file's tail can leak into it.
bool Loader::ReadLogicalLine() {
  OpenFile& current = stack_.files.back();
  line_.clear();
  while (FileReadLine(current.file, piece_, 512)) {
    line_ += piece_;
    if (line_.empty() || line_.back() != '\n') continue;
    ++current.line;
    line_.pop_back();
    if (!line_.empty() && line_.back() == '\\') {
      line_.pop_back();  // continuation: the next physical line joins without a blank
      continue;
    }
    return true;
  }
  return false;
}

void Loader::TraceLine() {
  // PrintEscaped formats into 4096 bytes; the line is cut so that the whole trace stays within
  // 4088 characters.
  constexpr int kTraceLimit = 4088;
  const char mark = Skipping() ? '-' : '+';
  const int depth = static_cast<int>(conditions_.size());
  const int prefix =
      std::snprintf(nullptr, 0, "%s[%5d]%2d%c", FileName().c_str(), LineNumber(), depth, mark);
  long room = kTraceLimit - 1L - prefix;
  if (room < 0) room = 0;
  std::string shown = line_.substr(0, static_cast<std::size_t>(room));
  PrintEscaped(engine_, "%s[%5d]%2d%c%s\n", FileName().c_str(), LineNumber(), depth, mark,
               shown.c_str());
}

void Loader::ProcessLine() {
  if (engine_.settings.mirrors.debug & 4) TraceLine();
  scanner_.SetLine(line_);
  fieldsMissing_ = false;
  std::string first;
  if (!scanner_.Next(first)) return;  // empty line
  if (!first.empty() && first[0] == '#') {
    Directive(first);
    return;
  }
  if (!Skipping() && line_[0] == '.' && SectionHeader(first)) return;
  DataLine(first);
}

// ---- Preprocessor -------------------------------------------------------------------------------

void Loader::Directive(const std::string& word) {
  const bool skipping = Skipping();
  if (CaseEqual(word, "#ifdef") || CaseEqual(word, "#ifndef")) {
    std::string name;
    if (!skipping && !Need(name)) {
      conditions_.push_back({LineNumber(), true});
      return;
    }
    if (skipping) scanner_.Next(name);
    const bool defined = FindSetting(engine_, name) >= 0;
    const bool wanted = CaseEqual(word, "#ifdef") ? defined : !defined;
    conditions_.push_back({LineNumber(), skipping || !wanted});
  } else if (CaseEqual(word, "#ifmatch")) {
    // Inside a skipped branch nothing is expanded: the result could not change the skip state,
    // and expansion may call functions with side effects.
    bool skip = true;
    std::string text, pattern;
    if (!skipping && Need(text) && Need(pattern)) {
      const std::string subject = StrExp(engine_, text);
      const std::string expression = StrExp(engine_, pattern);
      auto regex = CompileReported(expression, word);
      if (regex) skip = !regex->Match(subject.c_str());
    }
    conditions_.push_back({LineNumber(), skip});
  } else if (CaseEqual(word, "#else")) {
    if (conditions_.size() < 2) {
      ReportMessage(engine_, "ERR_INVALID_NESTING", {FileName(), LineNumber()});
      return;
    }
    const bool enclosingSkips = conditions_[conditions_.size() - 2].skip;
    if (!(skipping && enclosingSkips)) conditions_.back().skip = !skipping;
  } else if (CaseEqual(word, "#endif")) {
    if (conditions_.size() < 2) {
      ReportMessage(engine_, "ERR_INVALID_NESTING", {FileName(), LineNumber()});
      return;
    }
    conditions_.pop_back();
  } else if (!skipping && CaseEqual(word, "#include")) {
    Include(true);
  } else if (!skipping && CaseEqual(word, "#cinclude")) {
    Include(false);
  }
  // Anything else beginning with '#' is a comment.
}

void Loader::Include(bool reportMissing) {
  std::string field;
  if (!Need(field)) return;
  const std::string name = StrExp(engine_, field);
  if (static_cast<int>(stack_.files.size()) > kMaxIncludeDepth) {
    ReportMessage(engine_, "ERR_INVALID_INCLUDE", {name, FileName(), LineNumber()});
    return;
  }
  FileEntry* file = OpenLibraryFile(engine_, name, "r");
  watch_.NoteFile(name, file);
  if (!file) {
    if (reportMissing)
      ReportMessage(engine_, "ERR_INVALID_INCLUDE", {name, FileName(), LineNumber()});
    return;
  }
  // The file table hands back the entry of a file that is already open, so a file that includes
  // itself (directly or through others) would share its read position with the including level.
  // Such a cycle can never end; refuse it without touching the open entry.
  for (const auto& open : stack_.files) {
    if (open.file == file) {
      ReportMessage(engine_, "ERR_INVALID_INCLUDE", {name, FileName(), LineNumber()});
      return;
    }
  }
  PushFile(file, name);
}

bool Loader::SectionHeader(const std::string& word) {
  if (CaseEqual(word, ".Version")) {
    std::string number;
    scanner_.Next(number);
    tables_.version = ParseDecimal(number);
    return true;
  }
  for (const auto& s : kSections) {
    if (CaseEqual(word, s.name)) {
      section_ = s.section;
      return true;
    }
  }
  ReportMessage(engine_, "ERR_INVALID_CTRL_WORD", {word, FileName(), LineNumber()});
  return false;  // treated as a data line of the current section
}

// ---- Data lines ---------------------------------------------------------------------------------

bool Loader::Need(std::string& field) {
  if (scanner_.Next(field)) return true;
  if (!fieldsMissing_) {
    fieldsMissing_ = true;
    ReportMessage(engine_, "ERR_NOT_ENOUGH_FIELDS", {FileName(), LineNumber()});
  }
  return false;
}

void Loader::CheckExtra() {
  std::string extra;
  if (scanner_.Next(extra) && (extra.empty() || extra[0] != '#'))
    ReportMessage(engine_, "ERR_EXTRA_DATA", {FileName(), extra, LineNumber()});
}

void Loader::DataLine(const std::string& first) {
  constexpr int kRequiredVersion = 6;
  if (tables_.version != kRequiredVersion)
    ReportMessage(engine_, "ERR_INVALID_HTMLTRN",
                  {tables_.version, kRequiredVersion, FileName(), LineNumber()});
  if (Skipping()) return;
  switch (section_) {
    case Section::kNone:
      FatalText(engine_, "Missing Control Word in %s, at line %d\n", FileName().c_str(),
                LineNumber());
    case Section::kCharsets:
      ReadCharset(first);
      break;
    case Section::kTMatch:
      ReadTMatch(first);
      break;
    case Section::kPMatch:
      ReadPMatch(first);
      break;
    case Section::kRMatch:
      ReadRMatch(first);
      break;
    case Section::kTTag:
      ReadTTag(first);
      break;
    case Section::kPTag:
      ReadPTag(first);
      break;
    case Section::kColors:
      ReadColor(first);
      break;
    case Section::kStrings:
      ReadString(first);
      break;
    case Section::kFunctions:
      ReadFunctionLine(first);
      break;
  }
}

// A record whose fields are incomplete is reported and not recorded.

void Loader::ReadCharset(const std::string& first) {
  CharsetEntry entry;
  entry.charset = ParseDecimal(first);
  if (!Need(entry.fontName) || !Need(entry.mapFile)) return;
  entry.fontKey = entry.fontName.empty() ? -1 : 999;
  tables_.charsets.push_back(std::move(entry));
  CheckExtra();
}

uint32_t Loader::AttributeBits(const std::string& words, uint32_t& mask) {
  uint32_t values = 0;
  bool pendingValue = true;
  std::size_t pos = 0;
  while (pos < words.size()) {
    const std::size_t begin = words.find_first_not_of(" \t", pos);
    if (begin == std::string::npos) break;
    std::size_t end = words.find_first_of(" \t", begin);
    if (end == std::string::npos) end = words.size();
    const std::string_view word(words.data() + begin, end - begin);
    pos = end;
    if (CaseEqual(word, "Not")) {
      pendingValue = !pendingValue;
      continue;
    }
    bool known = false;
    for (const auto& a : kAttributeWords) {
      if (!CaseEqual(word, a.name)) continue;
      const uint32_t bit = uint32_t{1} << a.code;
      mask |= bit;
      if (pendingValue) values |= bit;
      pendingValue = true;
      known = true;
      break;
    }
    if (!known) ReportMessage(engine_, "MSG_INVALID_TXT_ATTRIB", {word, FileName(), LineNumber()});
  }
  return values;
}

/// Index of the colour `name` among the colours read so far; -1 for an empty name. An unknown
/// name is reported and also gives -1, so the entry does not depend on the colour.
int Loader::ColorIndex(const std::string& name) {
  if (name.empty()) return -1;
  auto it = colorByName_.find(FoldedKey(name));
  if (it != colorByName_.end()) return it->second;
  ReportMessage(engine_, "MSG_INVALID_COLOR", {name, FileName(), LineNumber()});
  return -1;
}

void Loader::ReadTMatch(const std::string& first) {
  TMatchEntry entry;
  entry.fontName = first;
  std::string size, attributes, color;
  if (!Need(size) || !Need(attributes) || !Need(color) || !Need(entry.charStyleNames) ||
      !Need(entry.tagName))
    return;
  entry.fontKey = entry.fontName.empty() ? -1 : 999;
  entry.fontSize = ParseDecimal(size);
  entry.attrValues = AttributeBits(attributes, entry.attrMask);
  entry.colorIndex = ColorIndex(color);
  entry.styleKey = entry.charStyleNames.empty() ? -1 : 999;
  entry.place = Place();
  tables_.tmatch.push_back(std::move(entry));
  CheckExtra();
}

void Loader::ReadPMatch(const std::string& first) {
  PMatchEntry entry;
  entry.styleName = first;
  std::string level;
  if (!Need(level) || !Need(entry.tagName)) return;
  entry.styleKey = entry.styleName.empty() ? -1 : 999;
  entry.level = ParseDecimal(level);
  if (entry.level < 0) entry.level = 0;
  entry.place = Place();
  tables_.pmatch.push_back(std::move(entry));
  CheckExtra();
}

void Loader::ReadRMatch(const std::string& first) {
  RMatchEntry entry;
  if (!Need(entry.replacement)) return;
  entry.pattern = expand::Regex::TryCompile(first);  // nullptr when it does not compile
  tables_.rmatch.push_back(std::move(entry));
  CheckExtra();
}

void Loader::ReadTTag(const std::string& first) {
  TTagEntry entry;
  entry.name = first;
  if (!Need(entry.start) || !Need(entry.end)) return;
  tables_.ttag.push_back(std::move(entry));
  CheckExtra();
}

void Loader::ReadPTag(const std::string& first) {
  PTagEntry entry;
  entry.name = first;
  for (auto& text : entry.texts)
    if (!Need(text)) return;
  std::string number;
  for (auto& value : entry.values) {
    if (!Need(number)) return;
    value = ParseDecimal(number);
  }
  tables_.ptag.push_back(std::move(entry));
  CheckExtra();
}

void Loader::ReadColor(const std::string& first) {
  ColorEntry entry;
  entry.name = first;
  std::string red, green, blue;
  if (!Need(red) || !Need(green) || !Need(blue)) return;
  entry.red = ParseDecimal(red);
  entry.green = ParseDecimal(green);
  entry.blue = ParseDecimal(blue);
  colorByName_.emplace(FoldedKey(entry.name), static_cast<int>(tables_.colors.size()));
  tables_.colors.push_back(std::move(entry));
  CheckExtra();
}

void Loader::ReadString(const std::string& first) {
  std::string value;
  if (!Need(value)) return;
  SetSetting(engine_, first, value);  // stored unexpanded; OverrideDefs protection applies
  CheckExtra();
}

// ---- .Functions ---------------------------------------------------------------------------------

void Loader::StartFunction() {
  std::string name;
  if (!Need(name)) return;
  if (!blocks_.empty() || unrecordedBlocks_ > 0) {
    // The open blocks belong to the previous function; they are closed here so that nothing of
    // the new function is linked to them.
    blocks_.clear();
    unrecordedBlocks_ = 0;
    ReportMessage(engine_, "MSG_INVALID_BLOCK_NEST", {FileName(), LineNumber()});
  }
  const std::string key = FoldedKey(name);
  auto it = functionByName_.find(key);
  if (engine_.settings.mirrors.overrideDefs != 0 && it != functionByName_.end()) {
    currentFunction_ = it->second;
    tables_.functions[currentFunction_].statements.clear();
  } else {
    currentFunction_ = static_cast<int>(tables_.functions.size());
    tables_.functions.push_back(UserFunction{name, {}});
    functionByName_.emplace(key, currentFunction_);
    tables_.functionIndex[name] = currentFunction_;
  }
  CheckExtra();
}

/// Links the block statement `op` just appended at `index` into the open blocks of the function.
void Loader::LinkBlock(int op, int index) {
  auto& statements = tables_.functions[currentFunction_].statements;
  switch (op) {
    case kOpSwitch:
    case kOpWhile:
      if (unrecordedBlocks_ > 0 || static_cast<int>(blocks_.size()) >= kMaxOpenBlocks) {
        ++unrecordedBlocks_;
        ReportMessage(engine_, "MSG_INVALID_BLOCK_NEST", {FileName(), LineNumber()});
      } else {
        blocks_.push_back({index, -1, op});
      }
      break;
    case kOpCase:
    case kOpDefault:
      if (unrecordedBlocks_ > 0) break;  // belongs to a block that is not recorded
      if (blocks_.empty() || blocks_.back().kind != kOpSwitch) {
        ReportMessage(engine_, "MSG_INVALID_BLOCK_NEST", {FileName(), LineNumber()});
        break;
      }
      if (blocks_.back().lastCase >= 0) statements[blocks_.back().lastCase].jump = index;
      blocks_.back().lastCase = index;
      break;
    case kOpEnd:
      if (unrecordedBlocks_ > 0) {
        --unrecordedBlocks_;
        break;
      }
      if (blocks_.empty()) {
        ReportMessage(engine_, "MSG_INVALID_BLOCK_NEST", {FileName(), LineNumber()});
        break;
      }
      if (blocks_.back().lastCase >= 0) statements[blocks_.back().lastCase].jump = index;
      statements[blocks_.back().opening].jump = index;
      blocks_.pop_back();
      break;
    default:
      break;
  }
}

void Loader::ReadFunctionLine(const std::string& first) {
  if (CaseEqual(first, "Function")) {
    StartFunction();
    return;
  }
  if (currentFunction_ < 0) {
    ReportMessage(engine_, "ERR_MISSING_FUNC_NAME", {FileName(), LineNumber()});
    return;
  }
  const StatementSyntax* syntax = nullptr;
  for (const auto& s : kStatements) {
    if (CaseEqual(first, s.keyword)) {
      syntax = &s;
      break;
    }
  }
  if (!syntax) {
    ReportMessage(engine_, "ERR_INVALID_TRANSORM", {first, FileName(), LineNumber()});
    return;
  }

  // A statement with missing operands is still recorded (without them), so that the blocks of
  // the function stay balanced.
  FunctionStatement statement;
  statement.op = syntax->op;
  bool complete = true;
  std::string field;
  for (const char* operand = syntax->operands; *operand && complete; ++operand) {
    complete = Need(field);
    if (!complete) break;
    switch (*operand) {
      case '1':
        statement.text1 = field;
        statement.hasText1 = true;
        break;
      case '2':
        statement.text2 = field;
        statement.hasText2 = true;
        break;
      case '3':
        statement.text3 = field;
        statement.hasText3 = true;
        break;
      case 'c':
        statement.pattern = expand::Regex::TryCompile(field);
        break;
      case 'd':
        if (field.empty()) field = "^$";
        [[fallthrough]];
      case 'p':
        // Compiled without the regex engine's own report (which is fatal): a bad pattern is a
        // fault of this line of the translation file and is reported as such.
        statement.pattern = CompileReported(field, first);
        break;
    }
  }
  auto& statements = tables_.functions[currentFunction_].statements;
  const int index = static_cast<int>(statements.size());
  statements.push_back(std::move(statement));
  LinkBlock(syntax->op, index);
  if (complete) CheckExtra();
}

std::unique_ptr<expand::Regex> Loader::CompileReported(const std::string& pattern,
                                                       const std::string& what) {
  std::string reason;
  std::unique_ptr<expand::Regex> regex = expand::Regex::TryCompile(pattern, &reason);
  if (!regex) {
    ReportMessage(engine_, "MSG_BAD_PROG_LOGIC", {reason});
    ReportMessage(engine_, "ERR_INVALID_SEARCH_EXPR", {what, FileName(), LineNumber()});
  }
  return regex;
}

// ---- End of load --------------------------------------------------------------------------------

void Loader::ResolveTags() {
  std::unordered_map<std::string, int> ptagByName, ttagByName;
  for (int i = 0; i < static_cast<int>(tables_.ptag.size()); ++i)
    ptagByName.emplace(FoldedKey(tables_.ptag[i].name), i);
  for (int i = 0; i < static_cast<int>(tables_.ttag.size()); ++i)
    ttagByName.emplace(FoldedKey(tables_.ttag[i].name), i);

  for (auto& entry : tables_.pmatch) {
    entry.resolvedTag = SpecialTagCode(entry.tagName);
    if (entry.resolvedTag >= 0) continue;
    auto it = ptagByName.find(FoldedKey(entry.tagName));
    if (it != ptagByName.end()) {
      entry.resolvedTag = it->second;
    } else {
      entry.resolvedTag = 0;
      checking_ = &entry.place;
      ReportMessage(engine_, "MSG_INVALID_PTAG", {entry.tagName, SourceName(), SourceLine()});
      checking_ = nullptr;
    }
  }
  for (auto& entry : tables_.tmatch) {
    entry.resolvedTag = SpecialTagCode(entry.tagName);
    if (entry.resolvedTag >= 0) continue;
    auto it = ttagByName.find(FoldedKey(entry.tagName));
    if (it != ttagByName.end()) {
      entry.resolvedTag = it->second;
    } else {
      entry.resolvedTag = 0;
      checking_ = &entry.place;
      ReportMessage(engine_, "ERR_TAG_NOT_IN_TABLE", {entry.tagName, SourceName(), SourceLine()});
      checking_ = nullptr;
    }
  }
}

int Loader::Run(std::string_view name) {
  FileEntry* file = OpenLibraryFile(engine_, name, "r");
  watch_.NoteFile(name, file);
  if (!file) return 0;
  tables_.fileName.assign(name);
  PushFile(file, std::string(name));
  MessageSourceScope place(engine_.messages, this);
  SetSetting(engine_, "TransCMDVersion", "5.0.2");

  while (!stack_.files.empty()) {
    if (!ReadLogicalLine()) {
      FileClose(stack_.files.back().file);
      stack_.files.pop_back();
      continue;
    }
    ProcessLine();
  }

  ResolveTags();
  if (engine_.driver.stop) return 1;
  const std::pair<const char*, bool> required[] = {
      {".TTag", tables_.ttag.empty()},
      {".PTag", tables_.ptag.empty()},
      {".TMatch", tables_.tmatch.empty()},
      {".PMatch", tables_.pmatch.empty()},
  };
  for (const auto& [section, missing] : required)
    if (missing) ReportMessage(engine_, "ERR_MISSING_TABLE", {section, tables_.fileName});
  if (tables_.colors.empty()) tables_.colors.push_back(ColorEntry{"Black", 0, 0, 0});
  if (tables_.charsets.empty()) {
    CharsetEntry entry;
    entry.mapFile = "ansi-gen";
    tables_.charsets.push_back(std::move(entry));
  }
  conditions_.clear();
  return 1;
}

}  // namespace

int SpecialTagCode(std::string_view name) {
  for (const auto& tag : kSpecialTags)
    if (CaseEqual(name, tag.name)) return tag.code;
  return -1;
}

int LoadTranslationFile(Engine& engine, std::string_view name) {
  ForgetCallMemo(engine);  // results of the old functions
  if (trn::ReuseLoad(engine, name)) return 1;
  engine.translation = TranslationTables{};
  trn::LoadWatch watch(engine, name);
  Loader loader(engine, watch);
  const int result = loader.Run(name);
  watch.Keep(result);
  return result;
}

}  // namespace quillo
