// Shared set-up of the document-structure tests: a translation file whose page, list and index
// strings write short markers, and string conversions whose outputs are kept by name.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "frame/driver.h"
#include "support/test_support.h"

namespace quillo::test {

/// Headings of levels 1 to 3 by style name; every page and list string writes a marker that
/// shows the variables it reads.
inline constexpr char kStructureTrn[] = R"trn(.Version 6
.PTag
P  "<p>"  "</p>\n"  "" "" "</p>\n<p>" "<br>" 1 0 0 0 0 0
H1 "<h1>" "</h1>\n" "" "" "</h1>\n<h1>" "<br>" 0 0 0 0 1 0
H2 "<h2>" "</h2>\n" "" "" "</h2>\n<h2>" "<br>" 0 0 0 0 2 0
H3 "<h3>" "</h3>\n" "" "" "</h3>\n<h3>" "<br>" 0 0 0 0 3 0
.TTag
Bold "<b>" "</b>"
.TMatch
"" 0 Bold "" "" Bold
"" 0 Italic "" "" _Capture
.PMatch
Normal      0 P
"heading 1" 0 H1
"heading 2" 0 H2
"heading 3" 0 H3
.Functions
Function GenFileSuffix
Set "$0;"
Function StripPN
Sub "^[0-9.]+ +" ""
Function ProcessField
Set "0"
Function EndResult
Set ""
Function Extra
Ifelse "$GenContents;" "^0?$" "" "$GenTOC(GenFrames)"
Ifelse "$GenIndex;" "^0?$" "" "$GenIndex(GenFrames)"
Ifelse "$GenFrames;" "^0?$" "" "$GenFrames()"
.Strings
PauseOnErr "0"
TitlePageHead "[title this=$ThisFile; next=$NextFile;/$NextFileH;]\n"
TitlePageBody ""
TitlePageBodyEnd ""
TitlePageEnd "[/title]\n"
TitlePageComplete "$Extra()"
GenPageHead "[page this=$ThisFile; prev=$PrevFile;/$PrevFileH; next=$NextFile;/$NextFileH; up=$ParentFile;/$ParentFileH; first=$FileFirstHeading;]\n"
GenPageBody ""
GenPageBodyEnd ""
GenPageEnd "[/page]\n"
_anchor_entry_ "{a:$_LINK_;}"
_head_list_start_ "<ul>"
_head_list_entry_ "<li $_LINK_;|$_HOTTEXT_;>"
_head_list_entry_current_ "<cur $_HOTTEXT_;>"
_head_list_end_ "</ul>"
ContentsPageHead "[contents]"
ContentsPageBody "<body>"
ContentsPageEnd "[/contents]"
IndexHead "[index]"
IndexBody "<body>"
IndexEnd "[/index]"
_ipanel_start_ "<panel>"
_ipanel_end_ "</panel>"
_ipanel_entry_ "<L $_LINK_;|$_HOTTEXT_;>"
_ipanel_entry_framed_ "<L $_LINK_;|$_HOTTEXT_;|$_TARGET_;>"
_ipanel_sep_ ","
_index_letter_entry_ "<letter $_NAME_;|$_TEXT_;>"
SIStart "<S $SIText;>"
SISep "<sep>"
SIEnd "</S>"
SIRStart "<R $SIText;>"
SIREnt "<ref $_LINK_;|$_HOTTEXT_;>"
SIRSep ";"
SIREnd "</R>"
SXRef "<X $SIText;|$SXRefText;>"
IESep "<iesep>"
FramePageHead "[frames]\n"
FramePageBody "<fbody>\n"
FramePageEnd "[/frames title=$_TITLE_HREF_; toc=$_TOC_HREF_; doc=$_TARGET_;]\n"
_xref_ "<xref $_LINK_;|$_HOTTEXT_;>"
_Capture "$CaptureText;"
)trn";

/// The RTF head of the test documents: the three heading styles.
inline constexpr char kRtfHead[] =
    "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}"
    "{\\stylesheet{\\s0 Normal;}{\\s1 heading 1;}{\\s2 heading 2;}{\\s3 heading 3;}}\n";

struct StructureRun {
  bool converted = false;
  std::map<std::string, std::string> outputs;  ///< every memory output by name
  std::string errors;                          ///< the error file
  /// The output named `name` ("" when there is none).
  std::string Output(const std::string& name) const {
    auto found = outputs.find(name);
    return found == outputs.end() ? std::string() : found->second;
  }
  bool Has(const std::string& name) const { return outputs.count(name) != 0; }
};

class StructureTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::unique_ptr<Engine> engine_ = MakeEngine();

  /// Converts the paragraphs `body` (after kRtfHead) in memory with kStructureTrn plus `extra`
  /// and the option words `options`. The main output of a string conversion is "-.html"; split
  /// files are "-" + suffix + ".html".
  StructureRun Convert(const std::string& body, std::vector<std::string> options = {},
                       const std::string& extra = "") {
    std::string trn = dir_.File("structure.trn");
    WriteFile(trn, std::string(kStructureTrn) + extra);
    std::vector<std::string> words = {"", "-D", "TrnFile=" + trn};
    for (std::string& option : options) words.push_back(std::move(option));
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string rtf = std::string(kRtfHead) + body + "}";
    int count = 0;
    ConvertedOutput* outputs =
        ConvertString(*engine_, static_cast<int>(words.size()), argv.data(), rtf.c_str(), &count);
    StructureRun run;
    run.converted = outputs != nullptr;
    for (int i = 0; i < count; ++i) {
      std::string name = outputs[i].name ? outputs[i].name : "";
      std::string data(outputs[i].data ? outputs[i].data : "", outputs[i].length);
      if (name.find("_err.") != std::string::npos)
        run.errors += data;
      else
        run.outputs[name] = data;
    }
    FreeConvertedOutputs(outputs, count);
    return run;
  }

  /// Converts the paragraphs `body` from a file into `out`/book.htm (files on disk). Returns the
  /// result of ConvertFiles.
  int ConvertToDisk(const std::string& body, const TempDir& out,
                    std::vector<std::string> options = {}) {
    const std::string input = out.File("doc.rtf");
    WriteFile(input, std::string(kRtfHead) + body + "}");
    WriteFile(dir_.File("structure.trn"), kStructureTrn);
    std::vector<std::string> words = {"", "-D", "TrnFile=" + dir_.File("structure.trn"), "-o",
                                      out.File("book.htm")};
    for (std::string& option : options) words.push_back(std::move(option));
    words.push_back(input);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return ConvertFiles(*engine_, static_cast<int>(words.size()), argv.data());
  }

  std::string Value(const char* name) { return SettingValue(*engine_, name); }

  static std::string H(int level, const std::string& text) {
    return "\\pard\\s" + std::to_string(level) + " " + text + "\\par\n";
  }
  static std::string P(const std::string& text) { return "\\pard\\s0 " + text + "\\par\n"; }
};

}  // namespace quillo::test
