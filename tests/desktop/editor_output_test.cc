// The options editor's choices convert a document: for every output type, the command-line file
// the editor writes and the option string it passes make the control write that language, with
// the editor's defaults and with every option turned on.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cmd_file.h"
#include "control.h"

namespace quillo::desktop {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct OutputCase {
  OutputType type;
  const char* txtDTD;
  const char* output;  // the main output, beside the input, as the engine names it
  const char* marker;  // text it must hold (for the EPUB: its first member's name)
};

const OutputCase kOutputs[] = {
    {OutputType::kHtml5, "", "book.html", "<!DOCTYPE html>"},
    {OutputType::kHtml4, "", "book.html", "-//W3C//DTD HTML 4.01"},
    {OutputType::kHtml3, "", "book.html", "-//W3C//DTD HTML 3.2 Final//EN"},
    {OutputType::kXhtml, "", "book.html", "-//W3C//DTD XHTML 1.0"},
    {OutputType::kDocbook, "", "book.xml", "-//OASIS//DTD DocBook XML V4.5//EN"},
    // A publication's first page; its package is checked below.
    {OutputType::kOeb, "", "book.html", "-//W3C//DTD XHTML 1.1//EN"},
    {OutputType::kEpub, "", "book.epub", "mimetypeapplication/epub+zip"},
    // A translation file of the user's own, named by its path.
    {OutputType::kUserDtd, QUILLO_SOURCE_DIR "/data/docbook.trn", "book.xml", "<book"},
};

class EditorOutputTest : public ::testing::TestWithParam<bool> {};

TEST_P(EditorOutputTest, EveryOutputTypeWritesItsLanguage) {
  const bool everything = GetParam();
  char pattern[] = "/tmp/quillo-editor-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root = pattern;
  Control control;
  ASSERT_EQ(control.Init(QUILLO_BINARY_DIR "/bin"), 0);
  for (const OutputCase& c : kOutputs) {
    const std::string name = OutputTypeName(c.type);
    const fs::path dir = root / name;
    fs::create_directories(dir);
    fs::copy_file(QUILLO_SOURCE_DIR "/tests/languages/golden/book.rtf", dir / "book.rtf");
    EditorState s;
    s.outputType = c.type;
    s.txtDTD = c.txtDTD;
    if (everything) {
      s.txtSplitDepth = "1";
      s.chkGenIndex = true;
      s.chkTOCOptions = {true, true, true, true};
      s.chkFrameOptions = {true, true};
      s.colors = {"#fffff0", "#202020", "#0000c0", "#800080", "#c00000"};
      s.txtBackgroundImage = "paper.png";
      s.txtFontScale = ".5";
      s.chkShortFileNames = false;
    }
    const std::string cmdFile = (dir / "cmd.trn").string();
    ASSERT_TRUE(WriteCmdFile(cmdFile, UpdateStrings(s)).ok());
    control.options = ConversionOptions(15, EditorOptionString(s, cmdFile, "")) +
                      " -DPauseOnErr=0 -DCreateLogFile=0";
    EXPECT_EQ(control.ConvertRTF((dir / "book.rtf").string()), 0) << name;
    for (const ControlMessage& m : Control::LastMessages())
      ADD_FAILURE() << name << ": " << m.code << " " << m.text;
    // The desktop opens the output the engine names.
    EXPECT_EQ(fs::path(control.ExpandString("$Outfilename;")).filename(), c.output) << name;
    EXPECT_FALSE(fs::exists(dir / "book_err.htm")) << name << ":\n"
                                                   << ReadAll(dir / "book_err.htm");
    // The main output holds the language's marker; with frames one of the pages of its kind
    // does. HTML 3.2 has no frames (nor links into them): its pages in frames are HTML 4.01
    // Transitional, still with the attributes of HTML 3.2.
    std::string marker = c.marker;
    if (everything && c.type == OutputType::kHtml3) marker = " bgcolor=\"#FFFFF0\"";
    const std::string output = ReadAll(dir / c.output);
    bool marked = output.find(marker) != std::string::npos;
    int pages = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() != fs::path(c.output).extension()) continue;
      ++pages;
      if (everything && ReadAll(entry.path()).find(marker) != std::string::npos) marked = true;
    }
    EXPECT_TRUE(marked) << name << ": " << c.output << ":\n" << output.substr(0, 400);
    if (c.type == OutputType::kOeb) {
      EXPECT_NE(ReadAll(dir / "book.opf").find("<spine"), std::string::npos);
    }
    // Split at the chapters: more than one page of the language.
    if (everything && c.type != OutputType::kEpub && c.type != OutputType::kOeb) {
      EXPECT_GT(pages, 2) << name;
    }
  }
  fs::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(Options, EditorOutputTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Everything" : "Defaults");
                         });

}  // namespace
}  // namespace quillo::desktop
