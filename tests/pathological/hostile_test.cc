// Documents built to hurt: sizes a document declares that would overflow or allocate without
// bound, text that used to take quadratic time, and single huge values. Each must end cleanly,
// in linear time and within a small multiple of its input's size.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
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

long PeakResidentMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) / 1024;
  return 0;
}

/// Sanitizer builds keep shadow memory and quarantined blocks: the check is the plain build's.
void ExpectBoundedMemory(long limitMiB) {
  if (kSanitized) return;
  EXPECT_LT(PeakResidentMiB(), limitMiB);
}

/// The outputs of one string conversion with html.trn, by name.
std::map<std::string, std::string> Convert(const std::string& rtf) {
  auto engine = test::MakeEngine();
  char empty[] = "";
  char* argv[] = {empty, nullptr};
  int count = 0;
  ConvertedOutput* outputs = ConvertString(*engine, 1, argv, rtf.c_str(), &count);
  std::map<std::string, std::string> result;
  for (int i = 0; i < count; ++i)
    result[outputs[i].name] = std::string(outputs[i].data, outputs[i].length);
  FreeConvertedOutputs(outputs, count);
  return result;
}

std::string Repeat(const std::string& piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

const std::string kHead = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}";

// Negative and huge picture words: a row of the bitmap written is never longer than its data
// (here one byte), nor are there more rows than the rest of the input could fill; nothing
// overflows (UBSan) or allocates by the declared size.
TEST(HostileTest, BitmapSizesAreHeldToTheData) {
  const char* pictures[] = {
      "\\picw-100\\pich1",
      "\\picw2147483647\\pich1\\wbmbitspixel24",
      "\\picw2147483647\\pich2147483647\\wbmbitspixel24",
      "\\picw10\\pich10\\wbmwidthbytes2147483647",
      "\\picw-2147483647\\pich-2147483647\\wbmbitspixel-5",
      "\\picw7\\pich3\\wbmbitspixel2147483647",
      "\\picw5\\pich5\\wbmbitspixel3",  // no palette file for 3 bits: written as 4
      "\\picw1\\pich1\\picscalex2147483647\\picwgoal2147483647\\pichgoal2147483647",
  };
  for (const char* words : pictures) {
    const std::string rtf = kHead + "before {\\pict\\wbitmap0" + words + " 00}after\\par}";
    auto outputs = Convert(rtf);
    ASSERT_TRUE(outputs.count("-.html")) << words;
    const std::string& page = outputs["-.html"];
    EXPECT_NE(page.find("before"), std::string::npos) << words;
    EXPECT_NE(page.find("after"), std::string::npos) << words;
    ASSERT_TRUE(outputs.count("-00.bmp")) << words;
    // 54 bytes of headers, at most 16 palette entries of 4 bytes, rows of one byte padded to 4.
    EXPECT_LE(outputs["-00.bmp"].size(), 54u + 64u + 4u * rtf.size()) << words;
  }
  ExpectBoundedMemory(64);
}

// A well-formed bitmap is written exactly as before: rows padded to 4 bytes, last row first.
TEST(HostileTest, WellFormedBitmapIsUnchanged) {
  auto outputs = Convert(kHead +
                         "{\\pict\\wbitmap0\\picw2\\pich2\\wbmbitspixel24\\wbmwidthbytes6 "
                         "010203040506 0a0b0c0d0e0f}\\par}");
  ASSERT_TRUE(outputs.count("-00.bmp"));
  const std::string& bmp = outputs["-00.bmp"];
  ASSERT_EQ(bmp.size(), 54u + 16u);
  EXPECT_EQ(bmp.substr(54),
            std::string("\x0a\x0b\x0c\x0d\x0e\x0f\0\0\x01\x02\x03\x04\x05\x06\0\0", 16));
  EXPECT_EQ(static_cast<unsigned char>(bmp[18]), 2);  // width
  EXPECT_EQ(static_cast<unsigned char>(bmp[22]), 2);  // height
}

// 512k characters of list-number text: every character used to look back over all the ones
// before it (64k took 34 s), and each was held as an event of its own until the paragraph's
// text began.
TEST(HostileTest, LongListNumberTextIsLinear) {
  auto outputs = Convert(kHead + "\\pard {\\listtext " + Repeat("1.", 262144) + "\\tab}item\\par}");
  ASSERT_TRUE(outputs.count("-.html"));
  EXPECT_NE(outputs["-.html"].find("<li>item</li>"), std::string::npos);
  ExpectBoundedMemory(48);
}

// A 6 MB heading: the page shows all of it; the title and what the engine keeps for contents
// and links are cut to a sane length, so memory stays a small multiple of the input.
TEST(HostileTest, HugeHeadingKeepsMemoryBounded) {
  const std::string heading = Repeat("1.2.3.", 1000000);
  auto outputs = Convert(kHead + "{\\stylesheet{\\s0 Normal;}{\\s1 heading 1;}}\\pard\\s1 " +
                         heading + "\\par\\pard text\\par}");
  ASSERT_TRUE(outputs.count("-.html"));
  const std::string& page = outputs["-.html"];
  EXPECT_NE(page.find("1.2.3.1.2.3."), std::string::npos);
  const std::size_t title = page.find("<title>"), titleEnd = page.find("</title>");
  ASSERT_NE(title, std::string::npos);
  EXPECT_LE(titleEnd - title, kMaxKeptText + 16);
  // The heading itself is all there, wrapped over lines.
  std::string text;
  for (char c : page)
    if (c == '1' || c == '2' || c == '3' || c == '.') text.push_back(c);
  EXPECT_GE(text.size(), heading.size());
  ExpectBoundedMemory(100);
}

// A 20 MB hyperlink address: the instruction kept for the translation file is cut (and its
// quote closed), the link text written.
TEST(HostileTest, HugeLinkAddressKeepsMemoryBounded) {
  auto outputs = Convert(kHead + "\\pard {\\field{\\*\\fldinst HYPERLINK \"http://" +
                         std::string(20000000, 'a') + "\"}{\\fldrslt x}}\\par}");
  ASSERT_TRUE(outputs.count("-.html"));
  const std::string& page = outputs["-.html"];
  EXPECT_NE(page.find("<a href=\"http://aaaa"), std::string::npos);
  EXPECT_NE(page.find("aaa\">x</a>"), std::string::npos) << "the address is one attribute";
  EXPECT_LT(page.size(), 64u * 1024);
  ExpectBoundedMemory(150);
}

// Long bookmark, anchor-name, document-information and cross-reference texts are kept cut too.
TEST(HostileTest, HugeNamesAreKeptCut) {
  const std::string big(4000000, 'b');
  auto outputs = Convert(kHead + "{\\info{\\title " + big + "}{\\author " + big +
                         "}}\\pard {\\*\\bkmkstart " + big + "}x{\\*\\bkmkend b}\\par}");
  ASSERT_TRUE(outputs.count("-.html"));
  const std::string& page = outputs["-.html"];
  EXPECT_NE(page.find("<title>bbbb"), std::string::npos);
  EXPECT_LT(page.size(), 64u * 1024);
  ExpectBoundedMemory(100);
}

}  // namespace
}  // namespace quillo
