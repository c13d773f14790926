// The translation layer's state: the character and paragraph formats that groups scope, the
// channels' formatting-tag state, held text, fields, code page converters and the format
// registries (TranslateState, held by the Engine). Data only; the functions are in translate.h
// and the headers beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/spill_stream_state.h"

namespace quillo {
struct OutputContext;

namespace translate {

// ---- Character and paragraph properties --------------------------------------------------------

/// Character attribute bits, in the bit order of the .TMatch attribute words.
enum CharAttribute : uint32_t {
  kAttrBold = 0x1,
  kAttrItalic = 0x2,
  kAttrStrikeThru = 0x4,
  kAttrOutline = 0x8,
  kAttrShadow = 0x10,
  kAttrSmallCaps = 0x20,
  kAttrAllCaps = 0x40,
  kAttrInvisible = 0x80,
  kAttrUnderline = 0x100,
  kAttrWUnderline = 0x200,
  kAttrDUnderline = 0x400,
  kAttrDbUnderline = 0x800,
  kAttrSuperScript = 0x1000,
  kAttrSubScript = 0x2000,
};
inline constexpr int kAttributeCount = 14;

/// Paragraph alignment codes (the PAlign setting).
enum Alignment : int { kAlignLeft = 0, kAlignJustify = 1, kAlignRight = 2, kAlignCenter = 3 };

struct CharFormat {
  uint32_t attributes = 0;
  int font = 0;       ///< font number
  int fontSize = 12;  ///< points
  /// Points, of complex-script text (Hebrew, Arabic, Thai, Indic...): a size word read while
  /// \rtlch is in effect sets it, as does \afs read before any direction word.
  int complexSize = 12;
  int color = 0;  ///< .Colors index of the current colour table entry
  int charStyle = 0;
  int extra = 0;        ///< value of the "extra" character word; cleared by \plain
  int background = -1;  ///< highlight or shading as 0xRRGGBB; -1 = none
  /// The raised or lowered text was moved by \up or \dn, which keep its size (\super and \sub
  /// make it smaller).
  bool shiftOnly = false;
  bool operator==(const CharFormat&) const = default;
};

struct ParFormat {
  int style = 0;
  int align = kAlignLeft;
  int firstIndent = 0, leftIndent = 0, rightIndent = 0;  ///< twips
  bool inTable = false;
  bool sideBySide = false;
  bool borderDouble = false;  ///< the paragraph border word of minor 82
  int borderSide = 0;         ///< minor of the last border-side word (used by tables)
  int background = -1;        ///< shading colour (\cbpat) as 0xRRGGBB; -1 = none
  int nestLevel = 0;          ///< table nesting level (\itapN); 2 and more: a nested table
  int list = 0;               ///< list override (\lsN) of a list paragraph; 0 = none
  int listLevel = 0;          ///< its level (\ilvlN), 0 to 8
  bool operator==(const ParFormat&) const = default;
};

/// Output channels text can be written to: the main output and the footnote channel.
enum Channel : int { kMainChannel = 0, kFootnoteChannel = 1, kChannelCount = 2 };

/// Which direction word (\ltrch, \rtlch) came last in the run, if any.
enum class SizeDirection : unsigned char { kNone, kLeftToRight, kRightToLeft };

/// The values RTF scopes to a group: saved on '{', restored on '}'.
struct GroupState {
  CharFormat chr;
  ParFormat par;
  int destination = -1;        ///< minor of the destination in effect; -1 = the document body
  int charset = -1;            ///< current .Charsets entry (engine.charMaps.currentCharset)
  int channel = kMainChannel;  ///< where body text goes
  int unicodeSkip = 1;         ///< \ucN: fallback characters that follow each \uN
  int codePage = 0;            ///< double-byte code page of the current font, 0 = single-byte
  /// The last of \ltrch and \rtlch read: which size a size word (\fs or \afs) sets, the size
  /// of left-to-right text (CharFormat::fontSize) or of complex-script text (complexSize).
  /// Writers give both sizes of a run as `\rtlch \afsN \ltrch \fsM` or as
  /// `\ltrch \afsN \rtlch \fsM`: what decides is the direction word before the size word.
  SizeDirection sizeDirection = SizeDirection::kNone;
};

/// Words whose font changes inside them (digits or Latin letters in another font inside Thai,
/// kana or Han text, where a whole run of text is one word) are shown in one font, the one
/// covering most of their characters, so that no element ends inside the word. Pass 1 counts the
/// characters of each font in the open word and records, for every word whose font covering most
/// of it is not the one it starts in, the reader position of its first character and that font.
/// Pass 2 reads the records forward and shows the font from the word's first character on
/// (TranslateState::heldFont holds it to the word's end).
struct WordFontState {
  static constexpr int kFonts = 4;  ///< fonts counted per word; a fifth and more are not counted
  static constexpr long kNone = 0x7FFFFFFFFFFFFFFF;
  // Pass 1: the open word.
  long start = -1;  ///< record position of its first character; -1 = no word open
  int channel = 0;
  int used = 0;  ///< fonts counted
  int fonts[kFonts] = {};
  long counts[kFonts] = {};
  // Pass 2: the next record to show.
  long next = kNone;  ///< its position; kNone when there is none
  int nextFont = -1;
  std::uint64_t readOffset = 0;  ///< where the record after it starts in `records`
};

/// The paragraph properties that count at the paragraph mark: word processors show a paragraph
/// with the alignment, indents and shading last given before its mark, also when they were given
/// after its text (`Text\qc\par`, as WPF's RichTextBox writes). A group that ends inside the
/// paragraph does not take back what was given in it (`{\qj Text}\par` is justified, as these
/// readers show it). Pass 1 records, for each paragraph whose values at the mark differ from
/// those at its first content, the reader position of that content, the values and which of them
/// differ; pass 2 shows those from the paragraph's start. One stream per channel: within a channel
/// paragraphs follow one another, so the records are in the order pass 2 meets the paragraphs.
struct ParagraphMarkValues {
  enum Field : int {
    kAlign = 1,
    kFirstIndent = 2,
    kLeftIndent = 4,
    kRightIndent = 8,
    kShading = 16
  };
  int fields = 0;  ///< the values that differ (Field bits); 0 = none
  int align = 0, firstIndent = 0, leftIndent = 0, rightIndent = 0, background = -1;
};
struct ParagraphMarkState {
  static constexpr long kNone = 0x7FFFFFFFFFFFFFFF;
  bool open = false;  ///< a paragraph of the channel has content and no mark yet
  // Pass 1: the open paragraph.
  long start = 0;  ///< reader position of its first content
  ParFormat startFormat;
  ParFormat markFormat;  ///< the format as the paragraph words since then left it
  // Pass 2.
  ParagraphMarkValues shown;  ///< what the open paragraph shows of its mark (fields 0: nothing)
  long next = kNone;          ///< start of the next recorded paragraph; kNone when none is left
  ParagraphMarkValues nextValues;
  std::uint64_t readOffset = 0;  ///< where the record after it starts in the channel's stream
};

// ---- Formatting tag state
// -------------------------------------------------------------------------

/// What a text-tag entry of the tag stack remembers beyond TagEntry: the character format number
/// and the start text it was opened with. Kept parallel to OutputContext::tagStack.
struct TagExtra {
  int formatIndex = -1;
  std::string startText;
};

/// Formatting state of one output channel that OutputContext does not carry itself.
struct ChannelState {
  bool pendingBreak = false;  ///< a paragraph mark was read and the next paragraph has not begun
  bool textStarted = false;   ///< the paragraph's text (or its first tab) has been written
  /// The text tags fit the current format: cleared by every change of the formatting state or
  /// of the tag stack, so that text only re-evaluates the tags when something changed.
  bool textReady = false;
  std::vector<TagExtra> extras;  ///< parallel to the context's tag stack
  CharFormat captureFormat;      ///< format saved when _Capture began
  int pass1State = 0;            ///< special state seen by pass 1 (only _Capture acts there)
};

/// One RTF field (\field) that is being read.
struct FieldRecord {
  int depth = 0;            ///< group depth of the \field group
  std::string instruction;  ///< text of \fldinst
  std::string picture;      ///< replacement made for INCLUDEPICTURE, sent at the result's end
  bool hasPicture = false;
  bool skipResult = false;  ///< the instruction produced the result itself (SYMBOL, flag "1")
};

/// An event held back with the paragraph-number text: a piece of text, a special character or
/// a change of format, replayed in order when the paragraph's first text arrives.
struct DeferredEvent {
  enum Kind : int { kText, kSpecial, kFormat };
  Kind kind = kText;
  int code = 0;                 ///< special character code (28, 32, 37)
  uint32_t begin = 0, end = 0;  ///< text range in DeferredText::text
  CharFormat format;
};

struct DeferredText {
  std::string text;
  std::vector<DeferredEvent> events;
  bool held = false;  ///< number text or events are waiting
  /// Index in `events` of the last kFormat event, -1 when there is none. Held text asks for it
  /// with every piece: looking it up must not walk the events (a long number text would make
  /// that quadratic).
  int lastFormat = -1;
};

/// A cached iconv converter from one double-byte code page to UTF-32.
class CodePageConverter {
 public:
  explicit CodePageConverter(int codePage);
  ~CodePageConverter();
  CodePageConverter(CodePageConverter&& other) noexcept;
  CodePageConverter& operator=(CodePageConverter&& other) noexcept;
  CodePageConverter(const CodePageConverter&) = delete;
  CodePageConverter& operator=(const CodePageConverter&) = delete;
  int codePage() const { return codePage_; }
  /// Code point of the `length` bytes, or -1 when they do not form one character.
  int Decode(const unsigned char* bytes, std::size_t length);

 private:
  int codePage_;
  void* handle_;  ///< iconv_t, or (void*)-1 when the code page is not available
};

/// Format registries: distinct paragraph and character formats in order of first use.
struct FormatRegistry {
  struct Key {
    int64_t a = 0, b = 0, c = 0, d = 0;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const noexcept {
      uint64_t h = 1469598103934665603ULL;
      for (int64_t v : {k.a, k.b, k.c, k.d}) h = (h ^ static_cast<uint64_t>(v)) * 1099511628211ULL;
      return static_cast<std::size_t>(h);
    }
  };
  std::unordered_map<Key, int, KeyHash> index;
  int count = 0;
  std::string list;  ///< the expansions of $ParFmtEntry; / $CharFmtEntry;, appended
  /// Where each format's expansion lies in `list` (offset, length), by format number.
  std::vector<std::pair<std::size_t, std::size_t>> entries;
  int current = -1;  ///< number of the format last registered
  /// The key looked up last and its number (-1: none yet). Formats are asked for far more often
  /// than they change, and entries are never removed, so the pair stays true once made.
  Key lastKey;
  int lastNumber = -1;
};

/// A text tag's start or end text as expanded for one character format and look (tags.cc keeps
/// only expansions that read nothing but the format's and look's numbers and rule), with what
/// reusing the expansion adds to the count of literal uses and how deep it went.
struct ExpandedTagText {
  std::string text;
  unsigned long literalUses = 0;
  int depthSpan = 0;
};

/// Per-conversion state of the translation layer. Members are grouped by lifetime.
struct TranslateState {
  /// MSG_STACK_POP_ERR is reported this many times per conversion; later ones are counted and
  /// reported once with their number, so a document of a million stray '}' cannot flood the
  /// error file.
  static constexpr int kPopErrorReports = 10;
  /// \ucN values above this are held at it: a larger count would only swallow document text.
  static constexpr int kMaxUnicodeSkip = 16;

  // ---- Conversion lifetime (ResetConversion) ----
  FormatRegistry parFormats, charFormats;
  /// Character looks: what a page shows of a character format beyond its emphasis (font, size,
  /// colour, background). Formats that differ only in emphasis share a look, so the element that
  /// shows the look stays open across bold, italic or raised text.
  FormatRegistry charLooks;
  /// Expanded text-tag texts by (format number, look number, tag * 2 + end), see ExpandedTagText.
  std::unordered_map<FormatRegistry::Key, ExpandedTagText, FormatRegistry::KeyHash> tagTexts;
  long popErrors = 0;                         ///< '}' without a group, counted in pass 1
  std::unordered_map<int, int> unicodeIndex;  ///< code point -> standard character, -1 = none
  std::vector<CodePageConverter> converters;  ///< one per double-byte code page met
  std::string lastLanguage;                   ///< last value given to the Language setting
  std::string
      bodyFontFamily;  ///< BodyFontFamily as pass 1 saw it (page heads come before the font table)
  /// The document's lists: the number format (\levelnfc) of each of the nine levels of each list
  /// (by \listid), and for each list override (\ls) the list it numbers by and the formats it
  /// gives levels of its own (-1: the list's).
  struct ListOverride {
    int list = 0;
    short formats[9] = {-1, -1, -1, -1, -1, -1, -1, -1, -1};
  };
  /// Nested tables are kept as paragraphs of their enclosing cell: the shading of each nested
  /// row's cells (0xRRGGBB, -1 none), in document order, as pass 1 read their row definitions
  /// (which follow the cells' text), for the paragraphs of pass 2.
  std::vector<std::vector<int>> nestedRows;
  /// The words shown in one font (WordFontState): position and font of each, written by pass 1
  /// in reading order, read forward by pass 2.
  SpillStream wordFontRecords;
  /// The paragraphs whose values at the mark differ (ParagraphMarkState), per channel.
  SpillStream paragraphMarkRecords[kChannelCount];
  std::unordered_map<int, std::string> listFormats;
  std::unordered_map<int, ListOverride> listOverrides;

  // ---- Pass lifetime (ResetPass) ----
  std::vector<GroupState> stack;  ///< snapshots of the enclosing groups, innermost last
  GroupState cur;                 ///< the state of the current group
  int depth = 0;                  ///< group depth: 1 inside the document's outermost group
  bool ignorable = false;         ///< \* was read and no brace or destination word since
  bool stateChanged = true;       ///< formatting must be re-evaluated before the next output
  /// A font change inside a word (between two letters or digits, as writers switch fonts for the
  /// digits or Latin letters of East Asian text) is shown from the end of the word on: until
  /// then the page shows the font before the change, or the font covering most of the word
  /// (WordFontState), held here (-1: none), so that no element ends inside the word.
  int heldFont = -1;
  int shownFont = -1;  ///< the font the last format change showed (pass 2)
  /// The body text being written is complex-script text, shown at CharFormat::complexSize.
  /// Set by the first letter or digit of each piece of text while the two sizes differ; blanks
  /// and punctuation set it in a right-to-left run, clear it at the start of another run and
  /// keep it inside one (NoteScript).
  bool complexText = false;
  CharFormat scriptFormat;    ///< the format of the text NoteScript last looked at
  bool lastWordChar = false;  ///< the body text written last ended in a letter or digit
  WordFontState wordFont;
  ParagraphMarkState paragraphMarks[kChannelCount];
  ParFormat shownParagraph;  ///< ShownParagraph's result when a mark's values are shown
  int defaultFont = 0;
  int docCharset = 0;   ///< charset number of \ansi/\mac/\pc/\pca or \ansicpg
  int docCodePage = 0;  ///< double-byte code page given by \ansicpg, 0 = none
  int pageWidth = 12240, pageHeight = 15840;
  int marginLeft = 1800, marginRight = 1800, marginTop = 1440, marginBottom = 1440;
  int sectPageWidth = 12240, sectPageHeight = 15840;
  int sectMarginLeft = 1800, sectMarginRight = 1800, sectMarginTop = 1440, sectMarginBottom = 1440;
  int footnoteNumber = 1;   ///< next automatic footnote number
  bool objectFlag = false;  ///< hyperlink flag of the old object-link form
  bool pictureInProgress = false;
  int unicodePending = 0;      ///< fallback characters still to skip after \uN
  int highSurrogate = 0;       ///< first half of a surrogate pair, 0 = none
  int leadByte = -1;           ///< first byte of a double-byte character, -1 = none
  bool paragraphOpen = false;  ///< the current paragraph has content
  bool rtfHeaderSeen = false;  ///< the outermost group began with \rtf (a whole document)
  /// Where the text stands among the nested rows and their cells; pass 1 keeps the formats of
  /// the current nested row's paragraphs (with their cell) and its row definition's shading.
  int nestedRow = 0, nestedCell = 0;
  std::vector<std::pair<int, ParFormat>> nestedParagraphs;
  std::vector<int> nestedShading;
  int nestedCellShading = -1;
  int forcedPMatch = -1;             ///< .PMatch entry forced for this paragraph (MatchName, PN)
  int forcedChannel = kMainChannel;  ///< the channel whose paragraph forcedPMatch belongs to
  int currentPMatch = -1;            ///< .PMatch entry chosen last
  bool inFormatChange = false;       ///< re-entry guard of FormatChange
  /// Positions of the .TMatch entries whose tag is a special state, in table order (the only
  /// entries that can select one); listed at the first format change of a pass, since the tables
  /// do not change during the passes.
  std::vector<int> specialTMatch;
  bool specialTMatchListed = false;
  DeferredText deferred;     ///< paragraph-number text held back
  int releaseSuspended = 0;  ///< deferred text may not be released while > 0
  std::vector<FieldRecord> fields;
  std::string hyperlinkName;  ///< destination 53
  std::string bookmarkName;   ///< destination 42
  std::string indexText, indexPage;
  std::string collection[2];  ///< destinations 132, 133
  std::string linkText, hrefText, hotText, nameText, captureText;
  int anchorsOpen = 0;  ///< hyperlink anchors pushed in \result groups
  int unnamedAnchors = 0;
  ChannelState channels[kChannelCount];
  ChannelState otherChannel;  ///< for contexts of generated pages (no text tags there)
  std::string paragraphText;  ///< pass 1: plain text of the current paragraph

  // ---- Text run: consecutive body text gathered for one PutWrap call ----
  std::string run;
  OutputContext* runContext = nullptr;
  int runWrap = 1;
  std::string charScratch;  ///< text of the last character made up from a code point
};

}  // namespace translate
}  // namespace quillo
