// Every message says where it arose: a translation file's messages name the file and the line
// (also for an included file, and for tag names checked only at the end of the load), a
// character map's the map and its line, and a document's the input, the line and the column of
// the token read last. Each family is one table of inputs and the exact message lines a host
// shows for them (quillocmd's standard error, QuilloLastMessages).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/message_lines.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "frame/driver.h"
#include "rtf/charmaps.h"
#include "support/test_support.h"
#include "trn/translation_file.h"

namespace quillo {
namespace {

using test::TempDir;
using test::WriteFile;

/// One entry in each table the load requires (four lines).
const char kTables[] =
    ".TTag\n"
    "bold <b> </b>\n"
    ".PTag\n"
    "para <p> </p> '' '' '' '' 0 0 0 0 0 0\n";
const char kMatches[] =
    ".TMatch\n"
    "'' 0 Bold '' '' bold\n"
    ".PMatch\n"
    "Normal 0 para\n";

/// `text` with every "{D}" replaced by the folder's path.
std::string InFolder(std::string text, const std::string& folder) {
  for (std::size_t at = text.find("{D}"); at != std::string::npos; at = text.find("{D}", at))
    text.replace(at, 3, folder);
  return text;
}

class MessagePlacesTest : public testing::Test {
 protected:
  /// Every message of the codes a translation file can raise is printed (none abandons the
  /// load), so that one load shows them all.
  void SetUp() override {
    for (const char* code : {"ERR_INVALID_INCLUDE", "ERR_INVALID_HTMLTRN", "ERR_TAG_NOT_IN_TABLE",
                             "ERR_INVALID_CTRL_WORD", "ERR_NOT_ENOUGH_FIELDS",
                             "ERR_INVALID_NESTING", "ERR_MISSING_FUNC_NAME", "ERR_INVALID_TRANSORM",
                             "ERR_INVALID_SEARCH_EXPR", "MSG_INVALID_BLOCK_NEST",
                             "ERR_MISSING_TABLE", "ERR_MALFORMED_CHARSET", "ERR_CHAR_VALUE_HIGH"})
      SetSetting(*engine, std::string(code) + "_Action", "message");
  }
  /// The messages recorded since the last call, as message lines.
  std::string Lines() {
    std::string lines = FormatMessageRecords(engine->messages.recorded, 0);
    ClearRecordedMessages(*engine);
    return lines;
  }
  std::string Quietly(const std::function<void()>& run) {
    ClearRecordedMessages(*engine);
    testing::internal::CaptureStderr();
    run();
    testing::internal::GetCapturedStderr();
    return Lines();
  }

  std::unique_ptr<Engine> engine = test::MakeEngine();
  TempDir dir;
};

TEST_F(MessagePlacesTest, TranslationFileMessagesNameTheFileAndLine) {
  struct Case {
    const char* text;      ///< t.trn ("{D}" is the folder)
    const char* expected;  ///< the message lines
  } cases[] = {
      {".Version 6\n.Strings\n#include {D}/missing.trn\n",
       "{D}/t.trn:3: ERR_INVALID_INCLUDE: Unable include file:{D}/missing.trn\n"},
      {".Version 5\n.Strings\n\nA 1\n.Version 6\n",
       "{D}/t.trn:4: ERR_INVALID_HTMLTRN: The version of html-trn.txt (5) is incompatible with "
       "this release of quillo\n  htm-trn version 6 required.\n"},
      {".Version 6\n.TMatch\n'' 0 Bold '' '' nosuch\n.PMatch\nNormal 0 para\n",
       "{D}/t.trn:3: ERR_TAG_NOT_IN_TABLE: Tag Name nosuch not in .TTag table\n"},
      {".Version 6\n.TMatch\n'' 0 Bold '' '' bold\n.PMatch\nNormal 0 para\nHeading 1 nosuch\n",
       "{D}/t.trn:6: MSG_INVALID_PTAG: PTag Name nosuch not in .PTag table\n"},
      {".Version 6\n.Strings\n.Bogus x\n",
       "{D}/t.trn:3: ERR_INVALID_CTRL_WORD: Invalid Control Word .Bogus in: {D}/t.trn at 3\n"},
      {".Version 6\n.Colors\nRed 255\n",
       "{D}/t.trn:3: ERR_NOT_ENOUGH_FIELDS: In file {D}/t.trn, Not enough fields in table at "
       "line:3\n"},
      {".Version 6\n.Strings\nA 1 2\n",
       "{D}/t.trn:3: ERR_EXTRA_DATA: In file {D}/t.trn, extra data (2) at the end of line:3\n"},
      {".Version 6\n.TMatch\n'' 0 Blink Mauve '' bold\n.PMatch\nNormal 0 para\n",
       "{D}/t.trn:3: MSG_INVALID_TXT_ATTRIB: Invalid text Atrribute:Blink, file:{D}/t.trn line 3\n"
       "{D}/t.trn:3: MSG_INVALID_COLOR: Invalid color name:Mauve, file:{D}/t.trn line 3\n"},
      {".Version 6\n#endif\n",
       "{D}/t.trn:2: ERR_INVALID_NESTING: Invalid Nesting of ifdef/ifmatch/else/endif in "
       "{D}/t.trn at 2\n"},
      {".Version 6\n.Functions\nFunction F\nEnd\n",
       "{D}/t.trn:4: MSG_INVALID_BLOCK_NEST: Invalid nesting of directives , in {D}/t.trn, at "
       "line 4\n"},
      {".Version 6\n.Functions\nLower\n",
       "{D}/t.trn:3: ERR_MISSING_FUNC_NAME: {D}/t.trn: Missing NAME entry for .Functions table, "
       "at line $MsgParam2\n"},
      {".Version 6\n.Functions\nFunction F\nFrobnicate x\n",
       "{D}/t.trn:4: ERR_INVALID_TRANSORM: Invalid Transformation Frobnicate, in {D}/t.trn, at "
       "line 4\n"},
      {".Version 6\n.Functions\nFunction F\n\nSub a** x\n",
       "{D}/t.trn:5: MSG_BAD_PROG_LOGIC: Bad program logic:regexp nested *?+\n"
       "{D}/t.trn:5: ERR_INVALID_SEARCH_EXPR: Invalid Search Expression Sub, in {D}/t.trn, at "
       "line 5\n"},
      // A file that lacks a table: the message is about the whole file.
      {".Version 6\n.Strings\nA 1\n",
       "{D}/t.trn: ERR_MISSING_TABLE: Missing table .TMatch, in file: {D}/t.trn\n"
       "{D}/t.trn: ERR_MISSING_TABLE: Missing table .PMatch, in file: {D}/t.trn\n"},
      // In an included file, its own name and line; after it, the including file's again.
      {".Version 6\n.Strings\n#include {D}/inc.trn\nB 1 extra\n",
       "{D}/inc.trn:2: ERR_EXTRA_DATA: In file {D}/inc.trn, extra data (2) at the end of line:2\n"
       "{D}/t.trn:4: ERR_EXTRA_DATA: In file {D}/t.trn, extra data (extra) at the end of line:4\n"},
  };
  const std::string folder = dir.path();
  WriteFile(dir.File("inc.trn"), "# included\nA 1 2\n");
  for (const Case& c : cases) {
    // The required tables follow the case's own lines (the matches when it has none of its own,
    // except in the case about a missing table).
    std::string text = InFolder(c.text, folder) + kTables;
    const bool ownMatches = std::string(c.text).find(".TMatch") != std::string::npos;
    if (!ownMatches && std::string(c.expected).find("ERR_MISSING_TABLE") == std::string::npos)
      text += kMatches;
    WriteFile(dir.File("t.trn"), text);
    const std::string lines =
        Quietly([&] { EXPECT_EQ(LoadTranslationFile(*engine, dir.File("t.trn")), 1); });
    EXPECT_EQ(lines, InFolder(c.expected, folder)) << c.text;
  }
}

// The file and line also reach the message's parameters after its own ones, so that the host
// callback and a translation file that rewords a message have them.
TEST_F(MessagePlacesTest, FileAndLineFollowTheParametersOfTheMessagesThatLackedThem) {
  struct Case {
    const char* code;
    const char* text;
    const char* file;  ///< expected MsgParam n (n = `at`) and the line in MsgParam n+1
    int at;
    const char* line;
  } cases[] = {
      {"ERR_INVALID_INCLUDE", ".Version 6\n.Strings\n#include nowhere.trn\n", "t.trn", 2, "3"},
      {"ERR_INVALID_HTMLTRN", ".Version 4\n.Strings\nA 1\n.Version 6\n", "t.trn", 3, "3"},
      {"MSG_INVALID_PTAG", ".Version 6\n.PMatch\nNormal 0 nosuch\n", "t.trn", 2, "3"},
      {"ERR_TAG_NOT_IN_TABLE", ".Version 6\n.TMatch\n'' 0 Bold '' '' nosuch\n", "t.trn", 2, "3"},
  };
  for (const Case& c : cases) {
    // The message's own text shows the file and line: the parameters are really passed.
    SetSetting(
        *engine, c.code,
        "at $MsgParam" + std::to_string(c.at) + ";:$MsgParam" + std::to_string(c.at + 1) + ";\n");
    std::string text = c.text + std::string(kTables);
    if (std::string(c.text).find("Match") == std::string::npos) text += kMatches;
    WriteFile(dir.File("t.trn"), text);
    const std::string lines = Quietly([&] { LoadTranslationFile(*engine, dir.File("t.trn")); });
    const std::string where = dir.File(c.file) + ":" + c.line;
    EXPECT_NE(lines.find(std::string(c.code) + ": at " + where + "\n"), std::string::npos)
        << c.code << "\n"
        << lines;
  }
}

TEST_F(MessagePlacesTest, CharacterMapMessagesNameTheMapAndLine) {
  struct Case {
    const char* map;
    const char* expected;
  } cases[] = {
      {"# a comment\nA 0x41\nD 0xZZ\n",
       "{D}/m.map:3: ERR_MALFORMED_CHARSET: RTFReadCharSetMap: malformed charset map line for "
       "character D\n"},
      {"A 0x41\n\nB\n",
       "{D}/m.map:3: ERR_MALFORMED_CHARSET: RTFReadCharSetMap: malformed charset map line for "
       "character B\n"},
      {"A zz\n",
       "{D}/m.map:1: ERR_MALFORMED_CHARSET: RTFReadCharSetMap: malformed charset map "
       "line for character A\n"},
      {"A 0x41\nB 0x1234\n",
       "{D}/m.map:2: ERR_CHAR_VALUE_HIGH: RTFReadCharSetMap: character value RTFReadCharSetMap "
       "for 4660 too high\n  maximum value is B\n"},
  };
  for (const Case& c : cases) {
    WriteFile(dir.File("m.map"), c.map);
    const std::string lines =
        Quietly([&] { EXPECT_NE(rtf::RTFReadCharSetMap(*engine, dir.File("m.map")), nullptr); });
    EXPECT_EQ(lines, InFolder(c.expected, dir.path())) << c.map;
  }
  // An output map the same way; after the map, messages carry no map place any more.
  WriteFile(dir.File("o.map"), "A a\nB\n\n# c\nC\n");
  const std::string lines =
      Quietly([&] { EXPECT_EQ(rtf::RTFReadOutputMap(*engine, dir.File("o.map"), true), 1); });
  EXPECT_EQ(lines, InFolder("{D}/o.map:2: MSG_MALFORMED_OUTPUT: RTFReadOutputMap: malformed "
                            "output sequence line for character B\n"
                            "{D}/o.map:5: MSG_MALFORMED_OUTPUT: RTFReadOutputMap: malformed "
                            "output sequence line for character C\n",
                            dir.path()));
  EXPECT_EQ(engine->messages.source, nullptr);
}

TEST_F(MessagePlacesTest, DocumentMessagesNameTheInputLineAndColumn) {
  struct Case {
    const char* rtf;
    const char* action;  ///< "-D CODE_Action=message" for a code fatal by default, or ""
    const char* expected;
  } cases[] = {
      {"{\\rtf1\\ansi{\\fonttbl{\\fnil Arial;}}\nHello\\par}", "ERR_MISSING_FONT_NUM",
       "{D}/d.rtf:1:35: ERR_MISSING_FONT_NUM: ReadFontTbl: missing font number\n"},
      {"{\\rtf1\\ansi{\\colortbl;\\red1\\green2\\blue3}\nHello\\par}", "ERR_MALFORMED_ENTRY",
       "{D}/d.rtf:1:41: ERR_MALFORMED_ENTRY: ReadColorTbl: malformed entry\n"},
      {"{\\rtf1\\ansi\n\n{\\field{\\*\\fldinst HYPERLINK \"javascript:x\"}{\\fldrslt here}}\\par}",
       "",
       "{D}/d.rtf:3:44: MSG_UNSAFE_LINK: Link to \"javascript:x\" dropped: its scheme is not one "
       "of LinkSchemes\n"},
  };
  for (const Case& c : cases) {
    WriteFile(dir.File("d.rtf"), c.rtf);
    std::vector<std::string> words{test::DataDir() + "/quillocmd", "-D", "PauseOnErr=0"};
    if (*c.action) {
      words.push_back("-D");
      words.push_back(std::string(c.action) + "_Action=message");
    }
    words.push_back(dir.File("d.rtf"));
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const std::string lines =
        Quietly([&] { ConvertFiles(*engine, static_cast<int>(words.size()), argv.data()); });
    // Both passes read the table; a message of the text comes in the second only.
    const std::string expected = InFolder(c.expected, dir.path());
    EXPECT_EQ(lines, *c.action ? expected + expected : expected) << c.rtf;
  }
}

}  // namespace
}  // namespace quillo
