// Control-word table tests: the shipped "rtf-ctrl.txt" and the loader's handling of malformed
// tables, duplicates, quoting and the word escapes.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine.h"
#include "support/test_support.h"

namespace quillo::rtf {
namespace {

class ControlWordsTest : public ::testing::Test {
 protected:
  void SetUp() override { engine_ = test::MakeEngine(); }

  /// Loads a table from memory. Returns LookupInitFrom's result.
  int LoadText(std::string text) {
    text_ = std::move(text);
    std::string name = "table" + std::to_string(++loads_) + ".txt";
    FileEntry* file =
        FileOpenText(engine_->files, name, text_.data(), static_cast<long>(text_.size()));
    EXPECT_NE(file, nullptr);
    return LookupInitFrom(*engine_, file);
  }

  int LoadShipped() {
    FileEntry* file = FileOpen(engine_->files, test::DataDir() + "/rtf-ctrl.txt", "r");
    EXPECT_NE(file, nullptr);
    return LookupInitFrom(*engine_, file);
  }

  const CtrlWord* Find(std::string_view text) { return Lookup(engine_->controlWords, text); }

  std::unique_ptr<Engine> engine_;
  std::string text_;
  int loads_ = 0;
};

TEST_F(ControlWordsTest, ShippedTableIsWellFormed) {
  ASSERT_EQ(LoadShipped(), 0);
  const ControlWordTable& table = engine_->controlWords;
  EXPECT_TRUE(table.loaded);
  EXPECT_TRUE(table.wellFormed);
  EXPECT_EQ(static_cast<int>(table.entries.size()), table.declaredCount);
  EXPECT_GE(table.entries.size(), 177u);
  // Every word appears once, and destinations fit the 141 destination-callback slots.
  EXPECT_EQ(table.firstIndex.size(), table.entries.size());
  for (const CtrlWord& entry : table.entries) {
    if (entry.major == kMajorDestination) {
      EXPECT_GE(entry.minor, 0) << entry.word;
      EXPECT_LT(entry.minor, 141) << entry.word;
    }
    EXPECT_EQ(entry.hash, WordHashSum(entry.word));
  }
}

// Words are indexed by their first eight bytes and length; the rest of a longer word decides
// between words that share both, and bytes after the letters in the reader's window never count.
TEST_F(ControlWordsTest, WordsSharingTheirHeadAreTold) {
  ASSERT_EQ(LoadText("8\n 1 1 \"a\"\n 1 2 \"ab\"\n 1 3 \"abcdefgh\"\n 1 4 \"abcdefghi\"\n"
                     " 1 5 \"abcdefghij\"\n 1 6 \"abcdefghik\"\n 1 7 \"abcdefgh12345678x\"\n"
                     " 1 8 \"abcdefgh12345678y\"\n"),
            0);
  const struct {
    const char* word;
    int minor;  // -1: not in the table
  } cases[] = {
      {"a", 1},          {"ab", 2},         {"abcdefgh", 3},          {"abcdefghi", 4},
      {"abcdefghij", 5}, {"abcdefghik", 6}, {"abcdefgh12345678x", 7}, {"abcdefgh12345678y", 8},
      {"abc", -1},       {"abcdefg", -1},   {"abcdefghil", -1},       {"abcdefgh12345678z", -1},
      {"b", -1},         {"abcdefgi", -1},  {"abcdefgh12345678", -1}};
  const ControlWordTable& table = engine_->controlWords;
  for (const auto& c : cases) {
    const std::string word = c.word;
    const CtrlWord* found = Find("\\" + word);
    // The same letters at the start of a longer window, as the reader looks them up.
    const std::string window = word + "ghijklmnopq ";
    const CtrlWord* inWindow =
        LookupLetters(table, std::string_view(window).substr(0, word.size()), window.size());
    EXPECT_EQ(found, inWindow) << word;
    if (c.minor < 0) {
      EXPECT_EQ(found, nullptr) << word;
    } else {
      ASSERT_NE(found, nullptr) << word;
      EXPECT_EQ(found->minor, c.minor) << word;
    }
  }
}

TEST_F(ControlWordsTest, ShippedTableIsSortedAsWritten) {
  std::string text = test::ReadFile(test::DataDir() + "/rtf-ctrl.txt");
  std::vector<std::string> written;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ASSERT_FALSE(line.empty()) << "blank lines count as data lines";
    std::size_t quote = line.find('"');
    if (line[0] == '#' || quote == std::string::npos) continue;
    written.push_back(line.substr(quote + 1, line.size() - quote - 2));
  }
  ASSERT_GE(written.size(), 177u);
  for (std::size_t i = 1; i < written.size(); ++i)
    EXPECT_LT(written[i - 1], written[i]) << "entry " << i;
}

TEST_F(ControlWordsTest, ShippedWordsHaveTheirNumbers) {
  ASSERT_EQ(LoadShipped(), 0);
  struct Case {
    const char* text;
    int major;
    int minor;
  };
  const Case cases[] = {
      // Words of the default table.
      {"\\rtf", 0, -1},
      {"\\deff", 1, -1},
      {"\\ansi", 2, 0},
      {"\\pca", 2, 3},
      {"\\fonttbl", 3, 0},
      {"\\deleted", 3, 3},
      {"\\colortbl", 3, 6},
      {"\\stylesheet", 3, 7},
      {"\\info", 3, 10},
      {"\\header", 3, 30},
      {"\\footerf", 3, 37},
      {"\\pict", 3, 44},
      {"\\object", 3, 45},
      {"\\result", 3, 52},
      {"\\footnote", 3, 56},
      {"\\field", 3, 65},
      {"\\fldinst", 3, 66},
      {"\\fldrslt", 3, 67},
      {"\\xe", 3, 69},
      {"\\tc", 3, 72},
      {"\\fontfile", 3, 126},
      {"\\pntext", 3, 127},
      {"\\lchars", 3, 130},
      {"\\fbidi", 4, 7},
      {"\\blue", 5, 2},
      {"\\cell", 6, 26},
      {"\\row", 6, 27},
      {"\\par", 6, 28},
      {"\\\n", 6, 28},
      {"\\\r", 6, 28},
      {"\\sect", 6, 29},
      {"\\line", 6, 32},
      {"\\bullet", 6, 42},
      {"\\rdblquote", 6, 46},
      {"\\|", 6, 47},
      {"\\~", 6, 49},
      {"\\-", 6, 50},
      {"\\_", 6, 51},
      {"\\zwnj", 6, 56},
      {"\\deftab", 8, 0},
      {"\\margr", 8, 44},
      {"\\ltrdoc", 8, 77},
      {"\\sectd", 9, 0},
      {"\\margrsxn", 9, 25},
      {"\\pard", 11, 0},
      {"\\intbl", 11, 3},
      {"\\qc", 11, 14},
      {"\\ri", 11, 17},
      {"\\pnlvlblt", 11, 37},
      {"\\pnindent", 11, 65},
      {"\\plain", 12, 0},
      {"\\fs", 12, 11},
      {"\\ulnone", 12, 23},
      {"\\v", 12, 27},
      {"\\cf", 12, 28},
      {"\\lang", 12, 34},
      {"\\ulwave", 12, 59},
      {"\\wbitmap", 13, 4},
      {"\\pichgoal", 13, 11},
      {"\\piccropr", 13, 18},
      {"\\bin", 13, 21},
      {"\\protect", 16, 5},
      {"\\objemb", 19, 0},
      {"\\objscaley", 19, 19},
      {"\\fcharset", 23, 0},
      {"\\cpg", 23, 2},
      {"\\ulhair", 33, 0},
      {"\\nooverflow", 33, 45},
      // Words the translation layer acts on beyond the default table.
      {"\\*", 6, 52},
      {"\\chftn", 6, 22},
      {"\\page", 6, 30},
      {"\\tab", 6, 37},
      {"\\additive", 7, 0},
      {"\\sbasedon", 7, 1},
      {"\\snext", 7, 2},
      {"\\ftnstart", 8, 21},
      {"\\paperw", 8, 40},
      {"\\paperh", 8, 41},
      {"\\margt", 8, 45},
      {"\\margb", 8, 46},
      {"\\ds", 9, 4},
      {"\\pgwsxn", 9, 22},
      {"\\margbsxn", 9, 27},
      {"\\trowd", 10, 0},
      {"\\cellx", 10, 2},
      {"\\clmgf", 10, 3},
      {"\\clmrg", 10, 4},
      {"\\trqc", 10, 7},
      {"\\trleft", 10, 8},
      {"\\trgaph", 10, 9},
      {"\\trhdr", 10, 10},
      {"\\clbrdrb", 10, 20},
      {"\\clbrdrr", 10, 23},
      {"\\clvmgf", 10, 39},
      {"\\clvmrg", 10, 40},
      {"\\clvertalt", 10, 43},
      {"\\s", 11, 1},
      {"\\sbys", 11, 10},
      {"\\qj", 11, 13},
      {"\\brdrt", 11, 72},
      {"\\box", 11, 78},
      {"\\brdrdb", 11, 82},
      {"\\brdrw", 11, 86},
      {"\\caps", 12, 2},
      {"\\outl", 12, 13},
      {"\\scaps", 12, 17},
      {"\\shad", 12, 18},
      {"\\cs", 12, 32},
      {"\\cchs", 12, 33},
      {"\\uc", 12, 65},
      {"\\jpegblip", 13, 22},
      {"\\pngblip", 13, 23},
      {"\\emfblip", 13, 24},
      {"\\listtext", 3, 38},
      {"\\bkmkstart", 3, 42},
      {"\\bkmkend", 3, 43},
      {"\\shppict", 3, 106},
      {"\\nonshppict", 3, 116},
      {"\\txe", 3, 70},
      {"\\objlself", 19, 6},
  };
  for (const Case& c : cases) {
    const CtrlWord* entry = Find(c.text);
    ASSERT_NE(entry, nullptr) << c.text;
    EXPECT_EQ(entry->major, c.major) << c.text;
    EXPECT_EQ(entry->minor, c.minor) << c.text;
  }
  EXPECT_EQ(Find("\\PAR"), nullptr);
  EXPECT_EQ(Find("\\pa"), nullptr);
}

// Destinations that real documents write without \* must skip (minor not in the read-on set)
// or read on as the translation layer expects; a \* destination that is not a destination
// would let its text through.
TEST_F(ControlWordsTest, ShippedDestinationsThatMustBeSkipped) {
  // Destination minors whose group the translation layer reads or handles itself.
  const std::set<int> kKeptMinors = {0,  1,  2,  6,  7,  10, 11,  12,  13,  14,  15,  16,  18, 19,
                                     38, 42, 43, 44, 45, 52, 53,  55,  56,  59,  61,  65,  66, 67,
                                     69, 70, 71, 72, 73, 86, 106, 116, 118, 125, 127, 132, 133};
  ASSERT_EQ(LoadShipped(), 0);
  for (const char* word :
       {"\\listtable", "\\listoverridetable", "\\generator", "\\rsidtbl", "\\latentstyles",
        "\\themedata", "\\datastore", "\\blipuid", "\\picprop", "\\pgdsctbl", "\\revtbl",
        "\\filetbl", "\\datafield", "\\shpinst", "\\xmlnstbl", "\\annotation", "\\atnid"}) {
    const CtrlWord* entry = Find(word);
    ASSERT_NE(entry, nullptr) << word;
    EXPECT_EQ(entry->major, kMajorDestination) << word;
    EXPECT_EQ(kKeptMinors.count(entry->minor), 0u) << word << " " << entry->minor;
  }
}

TEST_F(ControlWordsTest, HeaderConstantsMatchTheShippedTable) {
  ASSERT_EQ(LoadShipped(), 0);
  struct Case {
    const char* text;
    int major;
    int minor;
  };
  const Case cases[] = {
      {"\\par", kMajorSpecialChar, special::kPar},
      {"\\cell", kMajorSpecialChar, special::kCell},
      {"\\row", kMajorSpecialChar, special::kRow},
      {"\\*", kMajorSpecialChar, special::kOptDest},
      {"\\chftn", kMajorSpecialChar, special::kChftn},
      {"\\footnote", kMajorDestination, dest::kFootnote},
      {"\\fldinst", kMajorDestination, dest::kFieldInst},
      {"\\bkmkstart", kMajorDestination, dest::kBookmarkStart},
      {"\\nonshppict", kMajorDestination, dest::kNonShapePict},
      {"\\cellx", kMajorTblAttr, tbl::kCellX},
      {"\\clvmgf", kMajorTblAttr, tbl::kVMergeFirst},
      {"\\brdrw", kMajorParAttr, par::kBorderWidth},
      {"\\s", kMajorParAttr, par::kStyleNum},
      {"\\cs", kMajorCharAttr, chr::kCharStyleNum},
      {"\\scaps", kMajorCharAttr, chr::kSmallCaps},
      {"\\pngblip", kMajorPictAttr, pict::kPng},
      {"\\bin", kMajorPictAttr, pict::kBinData},
      {"\\sbasedon", kMajorStyleAttr, style::kBasedOn},
      {"\\margl", kMajorDocAttr, doc::kMargL},
      {"\\marglsxn", kMajorSectAttr, sect::kMargLSxn},
  };
  for (const Case& c : cases) {
    const CtrlWord* entry = Find(c.text);
    ASSERT_NE(entry, nullptr) << c.text;
    EXPECT_EQ(entry->major, c.major) << c.text;
    EXPECT_EQ(entry->minor, c.minor) << c.text;
  }
}

TEST_F(ControlWordsTest, FieldsQuotesAndEscapes) {
  ASSERT_EQ(LoadText("# comment\n"
                     "7\n"
                     "# another comment\n"
                     "   1    2 \"a b\"\n"
                     "   3\t4\t\"\\\\\"\n"
                     "   5    6 \"\\n\"\n"
                     "   7    8 'q\"t'\n"
                     " -12    1 \"trap\"\n"
                     "   9   -1 \"\\x\\r\"\n"
                     "  10   11 plain\n"),
            0);
  EXPECT_TRUE(engine_->controlWords.wellFormed);
  struct Case {
    std::string text;
    int major;
    int minor;
  };
  const Case cases[] = {
      {"\\a b", 1, 2},    {"\\\\", 3, 4},   {"\\\n", 5, 6},      {"\\q\"t", 7, 8},
      {"\\trap", -12, 1}, {"\\x\r", 9, -1}, {"\\plain", 10, 11},
  };
  for (const Case& c : cases) {
    const CtrlWord* entry = Find(c.text);
    ASSERT_NE(entry, nullptr) << c.text;
    EXPECT_EQ(entry->major, c.major);
    EXPECT_EQ(entry->minor, c.minor);
  }
}

TEST_F(ControlWordsTest, FirstEntryOfAWordWins) {
  ASSERT_EQ(LoadText("3\n  12    1 \"b\"\n  99   99 \"b\"\n  12   12 \"i\"\n"), 0);
  const CtrlWord* entry = Find("\\b");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->major, 12);
  EXPECT_EQ(entry->minor, 1);
  EXPECT_EQ(engine_->controlWords.entries.size(), 3u);
}

// ERR_MALFORMED_FILE is a "panic" message by default; with the action "message" the load goes
// on and what was read before the fault stays usable.
TEST_F(ControlWordsTest, MalformedTables) {
  struct Case {
    const char* name;
    std::string text;
    std::size_t usable;
  };
  const std::vector<Case> cases = {
      {"fewer entries than announced", "3\n 1 1 \"a\"\n 2 2 \"b\"\n", 2},
      {"more entries than announced", "2\n 1 1 \"a\"\n 2 2 \"b\"\n 3 3 \"c\"\n", 2},
      {"entry lacking its word", "3\n 1 1 \"a\"\n 2 2\n 3 3 \"c\"\n", 1},
      {"blank line is a data line", "2\n 1 1 \"a\"\n\n 2 2 \"b\"\n", 1},
      {"no count line", "# only a comment\n", 0},
      {"empty file", "", 0},
      {"blank count line", "\n 1 1 \"a\"\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetSetting(*engine_, "ERR_MALFORMED_FILE_Action", "message");
    EXPECT_EQ(LoadText(c.text), 0);
    EXPECT_FALSE(engine_->controlWords.wellFormed);
    EXPECT_EQ(engine_->controlWords.entries.size(), c.usable);
  }
  SetSetting(*engine_, "ERR_MALFORMED_FILE_Action", "panic");
  EXPECT_THROW(LoadText("3\n 1 1 \"a\"\n 2 2 \"b\"\n"), ConversionAbandoned);
  EXPECT_NE(Find("\\b"), nullptr);
}

TEST_F(ControlWordsTest, MissingFileStopsTheConversion) {
  // ERR_NO_RTF_CTRL ends the conversion by default.
  EXPECT_THROW(LookupInitFrom(*engine_, nullptr), ConversionAbandoned);
  EXPECT_FALSE(engine_->controlWords.loaded);
  EXPECT_EQ(Find("\\par"), nullptr);
}

TEST_F(ControlWordsTest, LoadsFromDiskAndOnlyOnce) {
  test::TempDir dir;
  test::WriteFile(dir.File("rtf-ctrl.txt"),
                  "# number of control words\n2\n"
                  "# control word table\n"
                  "   6   28 \"par\"\n"
                  "  12    1 \"b\"\n");
  FileEntry* file = FileOpen(engine_->files, dir.File("rtf-ctrl.txt"), "r");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(LookupInitFrom(*engine_, file), 0);
  EXPECT_TRUE(engine_->controlWords.wellFormed);
  ASSERT_EQ(engine_->controlWords.entries.size(), 2u);
  // A loaded table is kept: LookupInit does not look for the library file again.
  EXPECT_EQ(LookupInit(*engine_), 0);
  EXPECT_EQ(engine_->controlWords.entries.size(), 2u);
  EXPECT_EQ(Find("\\i"), nullptr);
}

TEST_F(ControlWordsTest, LibrarySearchFindsTheShippedTable) {
  // MakeEngine's program directory is the data folder, which the library search covers.
  ASSERT_EQ(LookupInit(*engine_), 0);
  EXPECT_TRUE(engine_->controlWords.wellFormed);
  EXPECT_NE(Find("\\par"), nullptr);
}

}  // namespace
}  // namespace quillo::rtf
