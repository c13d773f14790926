// The control-word table and the numbers of the control words (see rtf/control_words.h).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillo {
struct Engine;
struct FileEntry;

namespace rtf {

/// Major numbers that the translation layer tests.
enum Major : int {
  kMajorVersion = 0,
  kMajorDefFont = 1,
  kMajorCharSet = 2,
  kMajorDestination = 3,
  kMajorFontFamily = 4,
  kMajorColorName = 5,
  kMajorSpecialChar = 6,
  kMajorStyleAttr = 7,
  kMajorDocAttr = 8,
  kMajorSectAttr = 9,
  kMajorTblAttr = 10,
  kMajorParAttr = 11,
  kMajorCharAttr = 12,
  kMajorPictAttr = 13,
  kMajorBookmarkAttr = 14,
  kMajorNeXTGrAttr = 15,
  kMajorProtect = 16,
  kMajorFieldAttr = 17,
  kMajorTOCAttr = 18,
  kMajorObjAttr = 19,
  kMajorFontAttr = 23,
  kMajorIgnored = 33,
};

// Minor numbers the translation layer acts on, named after the words that carry them in the
// shipped "rtf-ctrl.txt". The file and these constants must agree.

/// Destination minors (major 3). Minors of 134 and above always skip their group.
namespace dest {
constexpr int kFontTbl = 0, kFontAltName = 1, kDeleted = 3, kColorTbl = 6, kStyleSheet = 7;
constexpr int kInfo = 10, kTitle = 11, kSubject = 12, kAuthor = 13, kOperator = 14;
constexpr int kKeywords = 15, kComment = 16, kDocComment = 18, kVersComment = 19;
constexpr int kFtnSep = 22, kFtnSepC = 23, kFtnCn = 24;
constexpr int kHeader = 30, kFooter = 31, kHeaderL = 32, kHeaderR = 33, kHeaderF = 34;
constexpr int kFooterL = 35, kFooterR = 36, kFooterF = 37;
constexpr int kListText = 38, kParNumbering = 39, kPnTextAfter = 40, kPnTextBefore = 41;
constexpr int kBookmarkStart = 42, kBookmarkEnd = 43, kPict = 44, kObject = 45;
constexpr int kObjClass = 46, kObjName = 47, kObjData = 49, kResult = 52, kObjItem = 53;
constexpr int kDrawObject = 55, kFootnote = 56;
constexpr int kField = 65, kFieldInst = 66, kFieldResult = 67;
constexpr int kIndexEntry = 69, kIndexText = 70, kIndexRange = 71, kTocEntry = 72, kTocEntryN = 73;
constexpr int kShapePict = 106, kNonShapePict = 116;
constexpr int kFontFile = 126, kPnText = 127;
/// Minors from here on skip their group whatever else they mean.
constexpr int kFirstSkipped = 134;
}  // namespace dest

/// Special characters and breaks (major 6).
namespace special {
constexpr int kChftn = 22, kCell = 26, kRow = 27, kPar = 28, kSect = 29, kPage = 30;
constexpr int kLine = 32, kTab = 37, kEmDash = 38, kEnDash = 39, kBullet = 42;
constexpr int kLQuote = 43, kRQuote = 44, kLDblQuote = 45, kRDblQuote = 46, kFormula = 47;
constexpr int kNoBrkSpace = 49, kOptHyphen = 50, kNoBrkHyphen = 51, kOptDest = 52;
}  // namespace special

/// Style attributes (major 7).
namespace style {
constexpr int kAdditive = 0, kBasedOn = 1, kNext = 2;
}  // namespace style

/// Document attributes (major 8).
namespace doc {
constexpr int kDefTab = 0, kDefLang = 11, kFtnStart = 21, kPaperW = 40, kPaperH = 41;
constexpr int kMargL = 43, kMargR = 44, kMargT = 45, kMargB = 46, kRtlDoc = 76, kLtrDoc = 77;
}  // namespace doc

/// Section attributes (major 9).
namespace sect {
constexpr int kSectDef = 0, kStyleNum = 4, kPgWSxn = 22, kPgHSxn = 23, kMargLSxn = 24;
constexpr int kMargRSxn = 25, kMargTSxn = 26, kMargBSxn = 27;
}  // namespace sect

/// Table words (major 10).
namespace tbl {
constexpr int kRowDef = 0, kRowHeight = 1, kCellX = 2, kMergeFirst = 3, kMergePrev = 4;
constexpr int kRowLeftAlign = 5, kRowRightAlign = 6, kRowCenter = 7, kRowLeft = 8, kRowGap = 9;
constexpr int kRowHeader = 10;
constexpr int kRowBorderTop = 14, kRowBorderVert = 19;  ///< row border sides 14-19
constexpr int kCellBorderBottom = 20, kCellBorderTop = 21, kCellBorderLeft = 22;
constexpr int kCellBorderRight = 23;
constexpr int kVMergeFirst = 39, kVMergePrev = 40;
constexpr int kVAlignBottom = 41, kVAlignCenter = 42, kVAlignTop = 43;
constexpr int kCellBackColor = 38;
}  // namespace tbl

/// Paragraph attributes (major 11).
namespace par {
constexpr int kParDef = 0, kStyleNum = 1, kInTable = 3, kSideBySide = 10;
constexpr int kQuadLeft = 11, kQuadRight = 12, kQuadJust = 13, kQuadCenter = 14;
constexpr int kFirstIndent = 15, kLeftIndent = 16, kRightIndent = 17;
constexpr int kBorderTop = 72, kBorderBox = 78;  ///< paragraph border sides 72-78
constexpr int kBorderDouble = 82, kBorderWidth = 86, kBackColor = 91;
}  // namespace par

/// Character attributes (major 12).
namespace chr {
constexpr int kPlain = 0, kBold = 1, kAllCaps = 2, kSubDown = 4, kSubScript = 5;
constexpr int kNoSuperSub = 6, kFontNum = 10, kFontSize = 11, kItalic = 12, kOutline = 13;
constexpr int kSmallCaps = 17, kShadow = 18, kStrikeThru = 19, kUnderline = 20;
constexpr int kDotUnderline = 21, kDbUnderline = 22, kNoUnderline = 23, kWordUnderline = 24;
constexpr int kSuperUp = 25, kSuperScript = 26, kInvisible = 27, kForeColor = 28;
constexpr int kBackColor = 29, kRtlChar = 30, kLtrChar = 31, kCharStyleNum = 32;
constexpr int kCharCharSet = 33, kLanguage = 34, kHighlight = 35, kAssocFontSize = 45;
constexpr int kCharShadePattern = 52;
constexpr int kUnicodeSkip = 65;  ///< \uc: the extra character value
}  // namespace chr

/// Picture attributes (major 13).
namespace pict {
constexpr int kMacPict = 0, kPmMetafile = 1, kWinMetafile = 2, kDevIndBitmap = 3;
constexpr int kWinBitmap = 4, kBitsPerPixel = 5, kPlanes = 6, kWidthBytes = 7;
constexpr int kPicWidth = 8, kPicHeight = 9, kGoalWidth = 10, kGoalHeight = 11;
constexpr int kScaleX = 12, kScaleY = 13, kCropTop = 15, kCropBottom = 16, kCropLeft = 17;
constexpr int kCropRight = 18, kBinData = 21, kJpeg = 22, kPng = 23, kEmf = 24;
}  // namespace pict

/// Object attributes (major 19).
namespace obj {
constexpr int kObjLinkSelf = 6;
}  // namespace obj

struct CtrlWord {
  int major = 0;
  int minor = -1;
  std::string word;  ///< without the backslash
  int hash = 0;      ///< sum of the word's characters as signed 8-bit values
};

/// Word -> entry number, by open addressing over a power-of-two table. Control words are looked
/// up once per token, so the lookup is kept to a few instructions: each slot holds the word's
/// first eight bytes (zero-padded) and its length, the hash is one multiplication of those, and
/// a word of up to eight bytes is found without touching the entry; only the rest of a longer
/// word is compared with the entry's letters.
class WordIndex {
 public:
  /// Maps `word` to `index` unless the word is mapped already (the first mapping stays).
  void Insert(const std::vector<CtrlWord>& entries, std::string_view word, int index);
  /// The entry number of `word`, -1 when it is not mapped. `readable` is how many bytes may be
  /// read from word.data() (at least its size): with eight or more the head is one load.
  int Find(const std::vector<CtrlWord>& entries, std::string_view word,
           std::size_t readable = 0) const {
    if (slots_.empty()) return -1;
    const std::size_t mask = slots_.size() - 1;
    const std::uint64_t head = Head(word, readable);
    const std::uint32_t length = static_cast<std::uint32_t>(word.size());
    for (std::size_t i = Hash(head, length) & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.index < 0) return -1;
      if (slot.head == head && slot.length == length &&
          (length <= kHeadBytes || std::memcmp(entries[slot.index].word.data() + kHeadBytes,
                                               word.data() + kHeadBytes, length - kHeadBytes) == 0))
        return slot.index;
    }
  }
  std::size_t size() const { return count_; }
  /// Sizes the table for `words` words; has an effect only while it is empty.
  void reserve(std::size_t words);

 private:
  static constexpr std::size_t kHeadBytes = 8;
  struct Slot {
    std::uint64_t head = 0;  ///< the word's first bytes, zero-padded (see Head)
    std::uint32_t length = 0;
    int index = -1;  ///< entry number, -1 for a free slot
  };
  /// The first kHeadBytes bytes of `word` as a number, the bytes beyond its end zero.
  static std::uint64_t Head(std::string_view word, std::size_t readable) {
    const std::size_t n = word.size() < kHeadBytes ? word.size() : kHeadBytes;
    if constexpr (std::endian::native == std::endian::little) {
      if (readable >= kHeadBytes || word.size() >= kHeadBytes) {
        std::uint64_t head;
        std::memcpy(&head, word.data(), kHeadBytes);
        return n == kHeadBytes ? head : head & ((std::uint64_t{1} << (8 * n)) - 1);
      }
    }
    unsigned char bytes[kHeadBytes] = {};
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(word[i]);
    std::uint64_t head;
    std::memcpy(&head, bytes, kHeadBytes);
    return head;
  }
  static std::size_t Hash(std::uint64_t head, std::uint32_t length) {
    const std::uint64_t h = (head ^ (std::uint64_t{length} << 59)) * 0x9E3779B97F4A7C15u;
    return static_cast<std::size_t>(h >> 32);
  }
  void Grow(std::size_t slots);

  std::vector<Slot> slots_;  ///< at most half full
  std::size_t count_ = 0;
};

struct ControlWordTable {
  bool loaded = false;            ///< set once the count line was read
  bool wellFormed = false;        ///< exactly the announced entries were read
  int declaredCount = 0;          ///< N of the count line
  std::vector<CtrlWord> entries;  ///< file order
  WordIndex firstIndex;           ///< word -> first entry of that word
};

}  // namespace rtf
}  // namespace quillo
