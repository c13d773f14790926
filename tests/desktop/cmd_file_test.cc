// The translation-options editor: pairs, option strings, and the command-line file reader and
// writer.
#include "cmd_file.h"

#include <gtest/gtest.h>

namespace quillo::desktop {
namespace {

bool HasPair(const StringPairs& pairs, const std::string& name, const std::string& value) {
  for (const auto& p : pairs)
    if (p.first == name && p.second == value) return true;
  return false;
}

TEST(EditorTest, DocbookWithFramesAndIndex) {
  EditorState s;
  s.outputType = OutputType::kDocbook;
  s.chkFrameOptions = {true, true};
  s.chkGenIndex = true;
  EXPECT_EQ(SetTranslationOptions(s), " -Dtrnfile=docbook.trn");
  StringPairs pairs = UpdateStrings(s);
  for (auto [name, value] : {std::pair{"TRNFILE", "docbook.trn"},
                             {"Framed", "1"},
                             {"GenFrames", "1"},
                             {"GenIndex", "1"}})
    EXPECT_TRUE(HasPair(pairs, name, value)) << name;
  std::string text = FormatCmdFile(pairs);
  EXPECT_EQ(text.rfind("# Cmd line file for quillo\n#\n.Strings\nTRNFILE,docbook.trn\n", 0), 0u)
      << text;
}

TEST(EditorTest, OptionStringPerOutputType) {
  struct Case {
    OutputType type;
    std::string dtd, options, pairName, pairValue;
  };
  const Case cases[] = {
      {OutputType::kHtml5, "", "", "", ""},
      {OutputType::kHtml3, "", "", "HTML", "3"},
      {OutputType::kHtml4, "", "", "HTML", "4"},
      {OutputType::kXhtml, "", "", "XHTML", "1"},
      {OutputType::kDocbook, "", " -Dtrnfile=docbook.trn", "TRNFILE", "docbook.trn"},
      {OutputType::kOeb, "", " -Dtrnfile=oeb.trn", "TRNFILE", "oeb.trn"},
      {OutputType::kEpub, "", " -Dtrnfile=epub.trn", "TRNFILE", "epub.trn"},
      {OutputType::kUserDtd, "mine.trn", " -Dtrnfile=mine.trn", "TRNFILE", "mine.trn"},
  };
  for (const Case& c : cases) {
    EditorState s;
    s.outputType = c.type;
    s.txtDTD = c.dtd;
    EXPECT_EQ(SetTranslationOptions(s), c.options) << OutputTypeName(c.type);
    StringPairs pairs = UpdateStrings(s);
    if (c.pairName.empty()) {
      EXPECT_EQ(pairs.front().first, "FontScale");
    } else {
      EXPECT_EQ(pairs.front(), std::make_pair(c.pairName, c.pairValue));
    }
    EXPECT_EQ(ParseOutputType(OutputTypeName(c.type)), c.type);
  }
}

TEST(EditorTest, PairOrderAndRules) {
  EditorState s;
  s.outputType = OutputType::kHtml4;
  s.chkCreateLogFile = true;
  s.txtSplitDepth = "2";
  s.txtBackgroundImage = "paper.png";
  s.chkShortFileNames = true;
  s.txtImageDir = "img";
  s.chkTOCOptions = {true, true, true, true};
  s.colors = {"#ff0000", "", "00ff00", "nonsense", "#0000FF"};
  s.userStrings = {{"Title", "Report"}, {"  ", "dropped"}};
  StringPairs expected = {
      {"HTML", "4"},           {"CreateLogFile", "1"},   {"FontScale", ".33"},
      {"ImageExt", "jpg"},     {"SplitDepth", "2"},      {"Background", "paper.png"},
      {"ShortNames", "1"},     {"ImageDir", "img"},      {"genContents", "1"},
      {"SkipLeadingTOC", "0"}, {"SkipTrailingTOC", "0"}, {"SkipNavPanel", "0"},
      {"BColor", "#FF0000"},   {"LColor", "#00FF00"},    {"AColor", "#0000FF"},
      {"Title", "Report"}};
  EXPECT_EQ(UpdateStrings(s), expected);
}

TEST(EditorTest, EmptyFieldsWriteNothingButFontScaleAndImageExt) {
  EditorState s;
  s.txtFontScale = "";
  s.txtImageExt = "";
  StringPairs expected = {{"FontScale", ""}, {"ImageExt", ""}};
  EXPECT_EQ(UpdateStrings(s), expected);
}

TEST(CmdFileTest, ReadsBackWhatItWrites) {
  EditorState s;
  s.outputType = OutputType::kUserDtd;
  s.txtDTD = "mine.trn";
  s.chkFrameOptions = {true, false};
  s.chkTOCOptions = {true, false, true, false};
  s.chkGenIndex = true;
  s.colors[1] = "#102030";
  s.userStrings = {{"Footer", "line one\r\nline two"}, {"Title", "A, B"}};
  std::string text = FormatCmdFile(UpdateStrings(s));
  EXPECT_NE(text.find("Footer,line one\\\nline two\n"), std::string::npos) << text;
  EditorState back;
  ASSERT_TRUE(ParseCmdFile(text, "cmd.trn", back).ok());
  EXPECT_EQ(UpdateStrings(back), UpdateStrings(s));
  EXPECT_EQ(back.outputType, OutputType::kUserDtd);
  EXPECT_TRUE(back.chkFrameOptions[0]);
}

TEST(CmdFileTest, ReaderRules) {
  struct Case {
    const char* text;
    const char* message;  // "" = read without error
  };
  const Case cases[] = {
      {"# comment\n\n  .Strings  \nSplitDepth, 2 \n", ""},
      {"SplitDepth,2\n.Strings\n", ".Strings should be the first non-comment line in f.trn"},
      {".Strings\nA,1\n.functions\nanything at all\n.PMATCH\nmore\n", ""},
      {".Strings\nA,1\n.PTag\nB,2\n",
       "Error reading f.trn\n.PTag\nThe rest of the file has not been read"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EditorState s;
    CmdFileResult r = ParseCmdFile(c.text, "f.trn", s);
    EXPECT_EQ(r.message, c.message) << c.text;
  }
  EditorState s;
  ParseCmdFile(".Strings\nA,1\n.functions\nB,2\n", "f.trn", s);
  ASSERT_EQ(s.userStrings.size(), 1u) << "lines of a passed-over section are not read";
  EditorState first;
  ParseCmdFile("SplitDepth,2\n.Strings\n", "f.trn", first);
  EXPECT_EQ(first.txtSplitDepth, "") << "no values are read before .Strings";
}

TEST(CmdFileTest, ContinuationLinesJoinWithCrLf) {
  EditorState s;
  ASSERT_TRUE(ParseCmdFile(".Strings\nNote, first \\\n   second\\\nthird\nNext,x\n", "f", s).ok());
  ASSERT_EQ(s.userStrings.size(), 2u);
  EXPECT_EQ(s.userStrings[0].second, "first \r\nsecond\r\nthird");
  EXPECT_EQ(s.userStrings[1], std::make_pair(std::string("Next"), std::string("x")));
}

TEST(CmdFileTest, SetStringMapsNamesToControls) {
  EditorState s;
  for (auto [name, value] : {std::pair{"bcolor", "#010203"},
                             {"TxtColor", "a0b0c0"},
                             {"splitdepth", "3"},
                             {"IMAGEEXT", "png"},
                             {"background", "bg.png"},
                             {"imagedir", "pics"},
                             {"fontscale", ".5"},
                             {"ShortNames", "true"},
                             {"GenIndex", "1"},
                             {"CreateLogFile", "false"},
                             {"GenFrames", "1"},
                             {"Framed", "1"},
                             {"genContents", "1"},
                             {"SkipLeadingTOC", "0"},
                             {"SkipTrailingTOC", "1"},
                             {"SkipNavPanel", "false"},
                             {"html", "3"},
                             {"Other", "kept"}})
    SetString(s, name, value);
  EXPECT_EQ(s.colors[0], "#010203");
  EXPECT_EQ(s.colors[1], "#A0B0C0");
  EXPECT_EQ(s.txtSplitDepth, "3");
  EXPECT_EQ(s.txtImageExt, "png");
  EXPECT_EQ(s.txtBackgroundImage, "bg.png");
  EXPECT_EQ(s.txtImageDir, "pics");
  EXPECT_EQ(s.txtFontScale, ".5");
  EXPECT_TRUE(s.chkShortFileNames);
  EXPECT_TRUE(s.chkGenIndex);
  EXPECT_FALSE(s.chkCreateLogFile);
  EXPECT_TRUE(s.chkFrameOptions[0]);
  EXPECT_TRUE(s.chkFrameOptions[1]);
  EXPECT_TRUE(s.chkTOCOptions[0]);
  EXPECT_TRUE(s.chkTOCOptions[1]);
  EXPECT_FALSE(s.chkTOCOptions[2]);
  EXPECT_TRUE(s.chkTOCOptions[3]) << "\"false\" becomes 0, which checks the box";
  EXPECT_EQ(s.outputType, OutputType::kHtml3);
  ASSERT_EQ(s.userStrings.size(), 1u);
  EXPECT_EQ(s.userStrings[0].first, "Other");

  struct TrnCase {
    const char* value;
    OutputType type;
  };
  for (auto c : {TrnCase{"docbook.trn", OutputType::kDocbook},
                 {"oeb.trn", OutputType::kOeb},
                 {"epub.trn", OutputType::kEpub},
                 {"x/mine.trn", OutputType::kUserDtd}}) {
    EditorState t;
    SetString(t, "TRNFILE", c.value);
    EXPECT_EQ(t.outputType, c.type) << c.value;
  }
  EditorState x;
  SetString(x, "XHTML", "1");
  EXPECT_EQ(x.outputType, OutputType::kXhtml);
  EditorState badColour;
  SetString(badColour, "LColor", "blue");
  EXPECT_EQ(badColour.colors[2], "");
  ASSERT_EQ(badColour.userStrings.size(), 1u) << "a value that is no colour is kept, not lost";
}

TEST(CmdFileTest, WriterMessages) {
  EXPECT_EQ(WriteCmdFile("", {}).message, "Cmdline filename is blank, please set in View->Options");
  EditorState s;
  EXPECT_EQ(ReadCmdFile("/nonexistent/cmd.trn", s).message, "/nonexistent/cmd.trn doesn't exist");
}

TEST(ConversionOptionsTest, OptionStringAndCmdLineFile) {
  EXPECT_EQ(ConversionOptions(3, ""), "-DerrCallback=true -DpercentCallback=3");
  EXPECT_EQ(ConversionOptions(15, " -Dtrnfile=docbook.trn"),
            "-DerrCallback=true -DpercentCallback=15  -Dtrnfile=docbook.trn");
  EditorState s;
  s.outputType = OutputType::kOeb;
  EXPECT_EQ(EditorOptionString(s, "/c/cmd.trn", "/c/cmd.trn"), " -Dtrnfile=oeb.trn");
  EXPECT_EQ(EditorOptionString(s, "/other/cmd.trn", "/c/cmd.trn"),
            " -Dtrnfile=oeb.trn -DCmdLineFile=/other/cmd.trn");
  EXPECT_EQ(EditorOptionString(s, "/my files/cmd.trn", "/c/cmd.trn"),
            " -Dtrnfile=oeb.trn '-DCmdLineFile=/my files/cmd.trn'");
  EXPECT_NE(CheckCmdFileName("/a'b/cmd.trn"), "");
  EXPECT_EQ(CheckCmdFileName("/a b/cmd.trn"), "");
}

TEST(ConversionOptionsTest, ProgressStepBySize) {
  struct Case {
    long long size;
    int step;
  };
  for (Case c : {Case{0, 15},
                 {999, 15},
                 {1000, 10},
                 {9999, 10},
                 {10000, 7},
                 {99999, 7},
                 {100000, 3},
                 {150000, 3},
                 {999999, 3},
                 {1000000, 1},
                 {5000000000LL, 1}})
    EXPECT_EQ(ProgressStep(c.size), c.step) << c.size;
}

}  // namespace
}  // namespace quillo::desktop
