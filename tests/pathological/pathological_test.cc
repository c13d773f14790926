// Pathological inputs: each is a whole conversion that must end cleanly (a result and, where the
// input is at fault, a message), in time linear in the input and with bounded memory. CTest gives
// every test of this folder a time limit, so a hang or a quadratic blow-up fails instead of
// blocking the run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine.h"
#include "support/test_support.h"

namespace quillo {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

/// Peak resident set of this process in MiB (each test runs in its own process under CTest).
long PeakResidentMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) / 1024;
  return 0;
}

/// Memory must stay within a small multiple of the input. Sanitizer builds keep shadow memory
/// and quarantined blocks, so the check is left to the plain build.
void ExpectBoundedMemory(long limitMiB) {
  if (kSanitized) return;
  EXPECT_LT(PeakResidentMiB(), limitMiB);
}

/// The outputs of one string conversion, by name.
struct Conversion {
  int count = 0;
  std::map<std::string, std::string> outputs;
  bool Has(const std::string& name) const { return outputs.count(name) != 0; }
  const std::string& Page() const { return outputs.at("-.html"); }
  /// The error file's text ("" when nothing was reported).
  std::string Messages() const {
    auto it = outputs.find("-_err.htm");
    return it == outputs.end() ? std::string() : it->second;
  }
};

Conversion Convert(const std::string& rtf, std::vector<std::string> options = {}) {
  auto engine = test::MakeEngine();
  std::vector<std::string> words = {""};
  words.insert(words.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  Conversion result;
  ConvertedOutput* outputs = ConvertString(*engine, static_cast<int>(words.size()), argv.data(),
                                           rtf.c_str(), &result.count);
  for (int i = 0; i < result.count; ++i)
    result.outputs[outputs[i].name] = std::string(outputs[i].data, outputs[i].length);
  FreeConvertedOutputs(outputs, result.count);
  return result;
}

std::string Repeat(const std::string& piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

// ---- Groups -----------------------------------------------------------------------------------

TEST(PathologicalTest, HundredThousandNestedGroups) {
  constexpr std::size_t kDepth = 100000;
  std::string rtf = "{\\rtf1\\ansi before " + Repeat("{\\b ", kDepth) + "deep" +
                    std::string(kDepth, '}') + " after\\par}";
  Conversion result = Convert(rtf);
  ASSERT_GT(result.count, 0);
  const std::string& page = result.Page();
  EXPECT_NE(page.find("before"), std::string::npos);
  EXPECT_NE(page.find("after"), std::string::npos) << "the text after the deep groups is kept";
  ExpectBoundedMemory(256);
}

TEST(PathologicalTest, HundredThousandNestedGroupsNeverClosed) {
  std::string rtf = "{\\rtf1\\ansi text " + Repeat("{\\i ", 100000) + "end";
  Conversion result = Convert(rtf);
  ASSERT_GT(result.count, 0);
  EXPECT_NE(result.Page().find("text"), std::string::npos);
  ExpectBoundedMemory(256);
}

TEST(PathologicalTest, MillionUnbalancedClosingBraces) {
  std::string rtf = "{\\rtf1\\ansi kept text\\par}" + std::string(1000000, '}') + "tail";
  Conversion result = Convert(rtf);
  ASSERT_GT(result.count, 0);
  EXPECT_NE(result.Page().find("kept text"), std::string::npos);
  ExpectBoundedMemory(256);
}

TEST(PathologicalTest, MillionClosingBracesBetweenTheGroupsOfAFragment) {
  // Without \rtf every group is read, so the reader goes through all the stray braces.
  std::string rtf = "{one}" + std::string(1000000, '}') + "{two}";
  Conversion result = Convert(rtf);
  ASSERT_GT(result.count, 0);
  EXPECT_NE(result.Page().find("one"), std::string::npos);
  EXPECT_NE(result.Page().find("two"), std::string::npos);
  ExpectBoundedMemory(256);
}

// ---- Control words ----------------------------------------------------------------------------

TEST(PathologicalTest, BinaryCountLargerThanTheFile) {
  // Inside a picture, in plain text, and with the largest count a parameter can carry.
  for (const char* count : {"999999", "2147483647", "99999999999999999999"}) {
    std::string rtf = std::string("{\\rtf1\\ansi start {\\pict\\pngblip\\bin") + count +
                      " 0123456789}} never seen\\par}";
    Conversion result = Convert(rtf);
    ASSERT_GT(result.count, 0) << count;
    EXPECT_NE(result.Page().find("start"), std::string::npos) << count;
    EXPECT_EQ(result.Page().find("never seen"), std::string::npos) << count;
    rtf = std::string("{\\rtf1\\ansi start \\bin") + count + " data}";
    result = Convert(rtf);
    ASSERT_GT(result.count, 0) << count;
  }
}

TEST(PathologicalTest, HundredThousandCharacterControlWord) {
  std::string rtf = "{\\rtf1\\ansi before \\" + std::string(100000, 'b') + " after\\par}";
  Conversion result = Convert(rtf);
  ASSERT_GT(result.count, 0);
  const std::string& page = result.Page();
  EXPECT_NE(page.find("before"), std::string::npos);
  EXPECT_NE(page.find("after"), std::string::npos) << "the long word is one unknown token";
  EXPECT_EQ(page.find("bbbb"), std::string::npos) << "its letters are not text";
  // The same word with a parameter, and as the last thing in the file.
  rtf = "{\\rtf1\\ansi x \\" + std::string(100000, 'q') + "-123456 y\\par}";
  EXPECT_GT(Convert(rtf).count, 0);
  rtf = "{\\rtf1\\ansi x \\" + std::string(100000, 'q');
  EXPECT_GT(Convert(rtf).count, 0);
}

TEST(PathologicalTest, ThirtyDigitParameters) {
  const std::string digits = "123456789012345678901234567890";
  std::string rtf = "{\\rtf1\\ansi{\\fonttbl{\\f" + digits + " Big;}}\\fs" + digits +
                    " size \\fs-" + digits + " neg \\u" + digits + "? uni \\u-" + digits +
                    "? \\li" + digits + "\\fi-" + digits + " indent \\cf" + digits +
                    " colour \\ls" + digits + " list\\trowd\\cellx" + digits +
                    "\\intbl cell\\cell\\row\\sb" + digits + " end\\par}";
  Conversion result = Convert(rtf);
  ASSERT_GT(result.count, 0);
  const std::string& page = result.Page();
  for (const char* word : {"size", "neg", "uni", "indent", "colour", "end"})
    EXPECT_NE(page.find(word), std::string::npos) << word;
  EXPECT_EQ(page.find(digits), std::string::npos) << "the digits are the parameter, not text";
}

// ---- Pictures ---------------------------------------------------------------------------------

TEST(PathologicalTest, TenMegabyteHexPictureWithoutClosingBrace) {
  std::string rtf = "{\\rtf1\\ansi before\\par {\\pict\\pngblip\\picw10\\pich10 ";
  rtf += Repeat("89504e470d0a1a0a0000000d49484452", 10 * 1024 * 1024 / 32);
  Conversion result = Convert(rtf);
  ASSERT_GT(result.count, 0);
  EXPECT_NE(result.Page().find("before"), std::string::npos);
  // The picture's hex text is never written as document text.
  EXPECT_EQ(result.Page().find("89504e47"), std::string::npos);
  // The input is 10 MB and may be held twice (input and one picture) but not more.
  ExpectBoundedMemory(128);
}

// ---- Named strings and translation files ------------------------------------------------------

TEST(PathologicalTest, NamedStringThatRefersToItself) {
  // PercentCallback is expanded while the conversion is set up; it and a pair of strings naming
  // each other can only be cut off by the expansion depth bound.
  Conversion result =
      Convert("{\\rtf1\\ansi text\\par}", {"-D", "PercentCallback=$PercentCallback;"});
  ASSERT_GT(result.count, 0);
  EXPECT_NE(result.Page().find("text"), std::string::npos);
  EXPECT_NE(result.Messages().find("nested too deeply"), std::string::npos) << result.Messages();

  result = Convert("{\\rtf1\\ansi text\\par}",
                   {"-D", "Ping=x$Pong;", "-D", "Pong=y$Ping;", "-D", "PercentCallback=$Ping;"});
  ASSERT_GT(result.count, 0);
  EXPECT_NE(result.Messages().find("nested too deeply"), std::string::npos) << result.Messages();

  // A reference that doubles at each level: bounded depth alone would still be exponential.
  result = Convert("{\\rtf1\\ansi text\\par}",
                   {"-D", "Twice=$Twice;$Twice;", "-D", "PercentCallback=$Twice;"});
  ASSERT_GT(result.count, 0);
  ExpectBoundedMemory(256);
}

TEST(PathologicalTest, BacktrackingPatternsOnLongSubjectsInAFunction) {
  // Nested repetitions that a plain backtracking matcher takes exponential time over, on a
  // 100,000-character subject without a match and on one that holds the needed letters.
  test::TempDir dir;
  std::string trn = dir.File("slow.trn");
  test::WriteFile(trn, "#include " + test::DataDir() +
                           "/html.trn\n.Functions\nFunction Slow\nSub \"(a+)+b\" \"x\"\n"
                           "Function Slower\nGsub \"((a|aa)+)+c\" \"y\"\n");
  for (const std::string& subject :
       {std::string(100000, 'a'), "b" + std::string(100000, 'a') + "xbc"}) {
    Conversion result =
        Convert("{\\rtf1\\ansi text\\par}", {"-D", "TrnFile=" + trn, "-D", "LongText=" + subject,
                                             "-D", "Pass1Start=$Slow(LongText)$Slower(LongText)"});
    ASSERT_GT(result.count, 0) << result.Messages();
    EXPECT_NE(result.Page().find("text"), std::string::npos);
  }
  ExpectBoundedMemory(256);
}

TEST(PathologicalTest, StarOfAPatternThatMatchesEmptyIsRefused) {
  // "(a*)*b" could loop without consuming input; the translation file is refused with a message
  // when it is loaded, before any subject is matched.
  test::TempDir dir;
  std::string trn = dir.File("empty.trn");
  test::WriteFile(trn, "#include " + test::DataDir() +
                           "/html.trn\n.Functions\nFunction Slow\nSub \"(a*)*b\" \"x\"\n");
  std::string input = dir.File("in.rtf"), output = dir.File("out.html");
  test::WriteFile(input, "{\\rtf1\\ansi text\\par}");
  std::vector<std::string> words = {"",
                                    "-D",
                                    "TrnFile=" + trn,
                                    "-D",
                                    "LongText=" + std::string(100000, 'a'),
                                    "-D",
                                    "Pass1Start=$Slow(LongText)",
                                    "-o",
                                    output,
                                    input};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  auto engine = test::MakeEngine();
  EXPECT_EQ(ConvertFiles(*engine, static_cast<int>(words.size()), argv.data()), 1);
  std::string messages = test::ReadFile(dir.File("out_err.htm"));
  EXPECT_NE(messages.find("Invalid Search Expression Sub"), std::string::npos) << messages;
}

// ---- Batch files ------------------------------------------------------------------------------

TEST(PathologicalTest, BatchFileThatNamesItself) {
  test::TempDir dir;
  std::string batch = dir.File("self.bat");
  std::string input = dir.File("in.rtf");
  test::WriteFile(input, "{\\rtf1\\ansi batch text\\par}");
  test::WriteFile(batch, "-b " + batch + "\n" + input + "\n-b " + batch + "\n");
  auto engine = test::MakeEngine();
  std::string program = "", flag = "-b";
  char* argv[] = {program.data(), flag.data(), batch.data(), nullptr};
  int rc = ConvertFiles(*engine, 3, argv);
  EXPECT_TRUE(rc == 0 || rc == 1) << rc;
}

}  // namespace
}  // namespace quillo
