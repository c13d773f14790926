// Golden files of the output languages: small focused documents converted with each shipped
// translation file (HTML 4.01, HTML 3.2, XHTML 1.0, DocBook, OEB, EPUB, and HTML5 for the
// documents the HTML5 goldens of tests/golden do not cover) must give the expected outputs,
// byte for byte. An expected file holds every output of one conversion, each after a line
// "=== name ===" (an EPUB's members after "=== name: member ==="; pictures as their size).
//
// To accept new output after reviewing it:  QUILLO_UPDATE_GOLDEN=1 ./quillo_languages_tests
// (this rewrites the expected files; look at `git diff tests/languages/golden` before keeping
// them).
//
// A second test runs each language's own validator over the same outputs, when it is
// installed: onsgmls (HTML 4.01, 3.2), xmllint --valid (XHTML, DocBook, OEB pages), epubcheck.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <future>
#include <map>
#include <string>
#include <vector>

#include "engine.h"
#include "frame/driver.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using quillo::test::FileExists;
using quillo::test::ReadFile;
using quillo::test::TempDir;
using quillo::test::WriteFile;

std::string SourceDir() { return QUILLO_SOURCE_DIR; }
std::string GoldenDir() { return SourceDir() + "/tests/languages/golden"; }

struct Language {
  const char* name;
  std::vector<std::string> options;
};

const Language kLanguages[] = {
    {"html5", {}},
    {"html4", {"-D", "HTML=4"}},
    {"html3", {"-D", "HTML=3"}},
    {"xhtml", {"-D", "XHTML=1"}},
    {"docbook", {"-D", "TrnFile=docbook.trn"}},
    {"oeb", {"-D", "TrnFile=oeb.trn"}},
    {"epub", {"-D", "TrnFile=epub.trn"}},
};

/// The languages a case is converted to.
enum class Languages { kAll, kAllButHtml5, kHtml };

struct Case {
  const char* name;   ///< the expected file's name: <name>.<language>.txt
  const char* input;  ///< relative to the source tree
  std::vector<std::string> options;
  Languages languages;
  bool reported = false;  ///< the input holds what the engine reports (unmapped bytes)
};

const Case kCases[] = {
    // Headings (with a level skipped), text before them, a footnote, a bookmark and links to
    // it and to the web, index entries, a numbered list, a table with a header and spans.
    {"book", "tests/languages/golden/book.rtf", {}, Languages::kAll},
    // The same split at its chapters, with contents and index.
    {"book-split", "tests/languages/golden/book.rtf", {"-h", "1", "-c", "-x"}, Languages::kAll},
    // The same in frames, and with the page colours, background and font scale of the options
    // editor (HTML 3.2 writes sizes; .5 makes 12pt text size 6).
    {"book-frames", "tests/languages/golden/book.rtf", {"-h", "1", "-F", "-x"}, Languages::kHtml},
    {"book-colours",
     "tests/languages/golden/book.rtf",
     {"-D", "BColor=#fffff0", "-D", "TxtColor=#202020", "-D", "LColor=#0000c0", "-D",
      "VColor=#800080", "-D", "AColor=#c00000", "-D", "Background=paper.png", "-D", "FontScale=.5"},
     Languages::kHtml},
    // Pictures: PNG shown, a metafile linked or named, a repeated picture written once (HTML5:
    // see tests/golden).
    {"pictures", "tests/golden/pictures.rtf", {}, Languages::kAllButHtml5},
    // Preformatted text and quotations (HTML5: see tests/golden).
    {"preformatted", "tests/golden/preformatted-and-quotes.rtf", {}, Languages::kAllButHtml5},
    // Split: a link whose address is a fragment (into the other file), links to a file beside
    // the document and to an address with < and >, pictures the document only names.
    {"links", "tests/languages/golden/links.rtf", {"-h", "1"}, Languages::kAll},
    // Characters no markup allows, C1 controls and a character beyond U+FFFF.
    {"characters", "tests/languages/golden/characters.rtf", {}, Languages::kAll, true},
};

bool Converts(const Case& c, const Language& language) {
  const std::string name = language.name;
  switch (c.languages) {
    case Languages::kAll:
      return true;
    case Languages::kAllButHtml5:
      return name != "html5";
    case Languages::kHtml:
      return name == "html5" || name == "html4" || name == "html3" || name == "xhtml";
  }
  return false;
}

bool IsText(const std::string& name) {
  const std::string ext = fs::path(name).extension().string();
  return ext == ".html" || ext == ".htm" || ext == ".xhtml" || ext == ".xml" || ext == ".opf" ||
         ext == "";
}

/// The outputs of converting `input` in memory, by name.
std::map<std::string, std::string> Convert(const Case& c, const Language& language) {
  auto engine = quillo::test::MakeEngine();
  const std::string base = fs::path(c.input).stem().string();
  // No command-line file of the user's, and a fixed time for the packages' dates.
  std::vector<std::string> words = {
      quillo::test::DataDir() + "/quillocmd", "-D", "PauseOnErr=0", "-D",
      "InputFile=" + base + ".rtf",           "-D", "CmdLineFile=", "-D",
      "StartTimeUTC=2000-01-01T00:00:00Z"};
  words.insert(words.end(), language.options.begin(), language.options.end());
  words.insert(words.end(), c.options.begin(), c.options.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string rtf = ReadFile(SourceDir() + "/" + c.input);
  int count = 0;
  ConvertedOutput* outputs = quillo::ConvertString(*engine, static_cast<int>(words.size()),
                                                   argv.data(), rtf.c_str(), &count);
  std::map<std::string, std::string> result;
  for (int i = 0; outputs && i < count; ++i)
    result[outputs[i].name ? outputs[i].name : ""] =
        std::string(outputs[i].data ? outputs[i].data : "", outputs[i].length);
  quillo::FreeConvertedOutputs(outputs, count);
  return result;
}

/// The outputs as one text: each after its name; binary files as their size.
std::string Render(const std::map<std::string, std::string>& outputs) {
  std::string text;
  for (const auto& [name, data] : outputs) {
    if (name.find("_err.") != std::string::npos) continue;
    if (fs::path(name).extension() == ".epub") {
      for (const quillo::test::ZipMember& member : quillo::test::ReadZip(data)) {
        text += "=== " + name + ": " + member.name + " ===\n";
        text += IsText(member.name) ? member.data
                                    : "(" + std::to_string(member.data.size()) + " bytes)\n";
      }
    } else {
      text += "=== " + name + " ===\n";
      text += IsText(name) ? data : "(" + std::to_string(data.size()) + " bytes)\n";
    }
  }
  return text;
}

struct Param {
  const Case* c;
  const Language* language;
};

std::vector<Param> Params() {
  std::vector<Param> params;
  for (const Case& c : kCases)
    for (const Language& language : kLanguages)
      if (Converts(c, language)) params.push_back({&c, &language});
  return params;
}

std::string ExpectedPath(const Param& p) {
  return GoldenDir() + "/" + p.c->name + "." + p.language->name + ".txt";
}

bool UpdateMode() {
  const char* value = std::getenv("QUILLO_UPDATE_GOLDEN");
  return value && std::string(value) == "1";
}

class LanguagesTest : public ::testing::TestWithParam<Param> {};

TEST_P(LanguagesTest, OutputsMatchExpected) {
  const Param& p = GetParam();
  const std::map<std::string, std::string> outputs = Convert(*p.c, *p.language);
  ASSERT_FALSE(outputs.empty()) << "the conversion failed";
  std::string errors;
  for (const auto& [name, data] : outputs)
    if (name.find("_err.") != std::string::npos) errors += data;
  // The translation file must not make the engine complain about a well-formed input.
  if (!p.c->reported) {
    EXPECT_EQ(errors, "");
  }
  const std::string page = Render(outputs);
  if (UpdateMode()) {
    WriteFile(ExpectedPath(p), page);
    std::printf("updated %s\n", ExpectedPath(p).c_str());
    return;
  }
  ASSERT_TRUE(FileExists(ExpectedPath(p)))
      << ExpectedPath(p) << " is missing; run with QUILLO_UPDATE_GOLDEN=1 and review it";
  EXPECT_EQ(page, ReadFile(ExpectedPath(p)));
}

std::string ParamName(const ::testing::TestParamInfo<Param>& info) {
  std::string name = std::string(info.param.c->name) + "_" + info.param.language->name;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Golden, LanguagesTest, ::testing::ValuesIn(Params()), ParamName);

// --- The options editor's command-line file ----------------------------------------------------

/// The outputs of converting book.rtf with `options`, after writing `cmd` as the command-line
/// file in `dir` (cmd.trn, named by CmdLineFile unless `inConfigDir`: then it is the per-user
/// file of UserConfigDir).
std::map<std::string, std::string> ConvertWithCommandLineFile(const TempDir& dir,
                                                              const std::string& cmd,
                                                              std::vector<std::string> options,
                                                              bool inConfigDir = false) {
  WriteFile(dir.File("cmd.trn"), "# Cmd line file for quillo\n#\n.Strings\n" + cmd);
  auto engine = quillo::test::MakeEngine();
  std::vector<std::string> words = {quillo::test::DataDir() + "/quillocmd", "-D", "PauseOnErr=0"};
  if (inConfigDir) {
    words.insert(words.end(), {"-D", "UserConfigDir=" + dir.path()});
  } else {
    words.insert(words.end(), {"-D", "CmdLineFile=" + dir.File("cmd.trn")});
  }
  words.insert(words.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string rtf = ReadFile(SourceDir() + "/tests/languages/golden/book.rtf");
  int count = 0;
  ConvertedOutput* outputs = quillo::ConvertString(*engine, static_cast<int>(words.size()),
                                                   argv.data(), rtf.c_str(), &count);
  std::map<std::string, std::string> result;
  for (int i = 0; outputs && i < count; ++i)
    result[outputs[i].name ? outputs[i].name : ""] =
        std::string(outputs[i].data ? outputs[i].data : "", outputs[i].length);
  quillo::FreeConvertedOutputs(outputs, count);
  return result;
}

TEST(CommandLineFileTest, ItsOptionsApplyAndTheCommandLineWins) {
  struct Case {
    const char* name;
    const char* cmd;
    std::vector<std::string> options;
    const char* output;    // the output that must exist
    const char* contains;  // text it must hold
  };
  const Case cases[] = {
      {"HTML 4", "HTML,4\n", {}, "-.html", "-//W3C//DTD HTML 4.01//EN"},
      {"HTML 3.2", "HTML,3\n", {}, "-.html", "-//W3C//DTD HTML 3.2 Final//EN"},
      {"XHTML", "XHTML,1\n", {}, "-.html", "-//W3C//DTD XHTML 1.0 Strict//EN"},
      {"the command line's HTML beats the file's XHTML",
       "XHTML,1\n",
       {"-D", "HTML=4"},
       "-.html",
       "-//W3C//DTD HTML 4.01//EN"},
      {"the command line's XHTML beats the file's HTML",
       "HTML,3\n",
       {"-D", "XHTML=1"},
       "-.html",
       "-//W3C//DTD XHTML 1.0 Strict//EN"},
      {"another translation file", "TRNFILE,docbook.trn\n", {}, "-.xml", "<book lang=\"en\">"},
      {"the command line's translation file wins",
       "TRNFILE,docbook.trn\n",
       {"-D", "TrnFile=html.trn"},
       "-.html",
       "<!DOCTYPE html>"},
      {"the desktop's -Dtrnfile as well",
       "TRNFILE,oeb.trn\n",
       {"-Dtrnfile=docbook.trn"},
       "-.xml",
       "<book lang=\"en\">"},
      {"settings", "SplitDepth,1\nGenIndex,1\n", {}, "--usage.html", "<h1>"},
      {"frames", "Framed,1\n", {}, "--Title.html", "<!DOCTYPE html>"},
      {"colours", "BColor,#ffeedd\nHTML,3\n", {}, "-.html", "bgcolor=\"#ffeedd\""},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::map<std::string, std::string> outputs =
        ConvertWithCommandLineFile(dir, c.cmd, c.options);
    auto found = outputs.find(c.output);
    ASSERT_NE(found, outputs.end()) << c.name;
    EXPECT_NE(found->second.find(c.contains), std::string::npos) << c.name << ":\n"
                                                                 << found->second;
    for (const auto& [name, data] : outputs)
      if (name.find("_err.") != std::string::npos) ADD_FAILURE() << c.name << ":\n" << data;
  }
}

TEST(CommandLineFileTest, ThePerUserFileIsReadAndAMissingOneIsNoError) {
  TempDir dir;
  std::map<std::string, std::string> outputs =
      ConvertWithCommandLineFile(dir, "HTML,4\n", {}, true);
  EXPECT_NE(outputs["-.html"].find("HTML 4.01"), std::string::npos);
  // A CmdLineFile that does not exist is passed over, and so is an empty one.
  for (const std::string& name : {dir.File("none.trn"), std::string()}) {
    auto engine = quillo::test::MakeEngine();
    std::vector<std::string> words = {quillo::test::DataDir() + "/quillocmd", "-D", "PauseOnErr=0",
                                      "-D", "CmdLineFile=" + name};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    int count = 0;
    ConvertedOutput* result = quillo::ConvertString(*engine, static_cast<int>(words.size()),
                                                    argv.data(), "{\\rtf1 x\\par}", &count);
    ASSERT_NE(result, nullptr) << name;
    for (int i = 0; i < count; ++i)
      EXPECT_EQ(std::string(result[i].name).find("_err."), std::string::npos) << name;
    quillo::FreeConvertedOutputs(result, count);
  }
}

// --- The validators over the expected outputs --------------------------------------------------

bool Installed(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

/// Runs `command` (its output joined to standard output); returns its exit code and output.
int RunCommand(const std::string& command, std::string& report) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  std::size_t n;
  report.clear();
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) report.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// The outputs of a case, written out into `dir` by name (an EPUB as the book itself).
std::vector<std::string> WriteOutputs(const Param& p, const TempDir& dir) {
  std::vector<std::string> written;
  for (const auto& [name, data] : Convert(*p.c, *p.language)) {
    const bool book = fs::path(name).extension() == ".epub";
    if (name.find("_err.") != std::string::npos || (!IsText(name) && !book)) continue;
    // String conversions name their outputs "-..."; a leading "-" would read as an option.
    const std::string path = dir.File("out" + name);
    WriteFile(path, data);
    written.push_back(path);
  }
  return written;
}

class LanguagesValidityTest : public ::testing::TestWithParam<const Language*> {};

TEST_P(LanguagesValidityTest, OutputsPassTheirValidator) {
  const std::string language = GetParam()->name;
  const std::string epubJar = "/usr/share/java/epubcheck.jar";
  std::string command;
  if (language == "html4" || language == "html3") {
    if (!Installed("onsgmls") || !FileExists("/usr/share/xml/w3c-sgml-lib/schema/dtd/sgml.soc"))
      GTEST_SKIP() << "onsgmls and w3c-sgml-lib are not installed";
    command =
        "SP_CHARSET_FIXED=1 SP_ENCODING=utf-8 onsgmls -s -c "
        "/usr/share/xml/w3c-sgml-lib/schema/dtd/sgml.soc ";
  } else if (language == "xhtml" || language == "docbook" || language == "oeb") {
    if (!Installed("xmllint")) GTEST_SKIP() << "xmllint is not installed";
    command = "xmllint --noout --nonet --valid ";
  } else if (language == "epub") {
    // Debian's epubcheck is the jar itself; java runs it where the kernel does not know jars.
    if (!FileExists(epubJar) || !Installed("java")) GTEST_SKIP() << "epubcheck is not installed";
    // A check is a short run: the first compiler tier and the serial collector halve the start
    // of the Java machine.
    command = "java -XX:TieredStopAtLevel=1 -XX:+UseSerialGC -jar " + epubJar + " -q ";
  } else {
    if (!Installed("tidy")) GTEST_SKIP() << "tidy is not installed";
    command = "tidy -q -e ";
  }
  // The outputs of every case, then their checks, two at a time (a validator that starts a
  // Java machine takes seconds).
  struct Check {
    std::string where, path, command;
  };
  std::deque<TempDir> dirs;  // never moved: each removes its folder once
  std::vector<Check> checks;
  for (const Param& p : Params()) {
    if (p.language != GetParam()) continue;
    dirs.emplace_back();
    for (const std::string& path : WriteOutputs(p, dirs.back())) {
      // The package file of OEB has no DTD that can be read offline: well-formed is what it is.
      const std::string check =
          fs::path(path).extension() == ".opf" ? "xmllint --noout --nonet " : command;
      checks.push_back({ExpectedPath(p), path, check + "'" + path + "'"});
    }
  }
  for (std::size_t first = 0; first < checks.size(); first += 2) {
    std::vector<std::future<std::pair<int, std::string>>> running;
    for (std::size_t i = first; i < std::min(first + 2, checks.size()); ++i)
      running.push_back(std::async(std::launch::async, [&checks, i] {
        std::string report;
        const int code = RunCommand(checks[i].command, report);
        return std::make_pair(code, report);
      }));
    for (std::size_t i = first; i < std::min(first + 2, checks.size()); ++i) {
      const auto [code, report] = running[i - first].get();
      // tidy answers 1 for warnings alone.
      EXPECT_TRUE(code == 0 || (language == "html5" && code == 1))
          << checks[i].where << ": " << fs::path(checks[i].path).filename() << " is not valid:\n"
          << report;
    }
  }
  const std::size_t checked = checks.size();
  EXPECT_GT(checked, 0u);
}

std::vector<const Language*> AllLanguages() {
  std::vector<const Language*> all;
  for (const Language& language : kLanguages) all.push_back(&language);
  return all;
}

INSTANTIATE_TEST_SUITE_P(Validators, LanguagesValidityTest, ::testing::ValuesIn(AllLanguages()),
                         [](const ::testing::TestParamInfo<const Language*>& info) {
                           return std::string(info.param->name);
                         });

}  // namespace
