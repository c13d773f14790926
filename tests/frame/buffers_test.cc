#include "base/buffers.h"

#include <gtest/gtest.h>

namespace quillo {
namespace {

TEST(TextBufferTest, GrowsInSixteenByteSteps) {
  TextBuffer b;
  EXPECT_EQ(b.capacity(), 0);
  EXPECT_STREQ(b.data(), "");
  b.AppendString("x");
  EXPECT_EQ(b.capacity(), 16);
  b.AppendString("abcdefghijklmn");  // length 15: still fits 16 with its NUL
  EXPECT_EQ(b.length(), 15);
  EXPECT_EQ(b.capacity(), 16);
  b.AppendChar('!');
  EXPECT_EQ(b.capacity(), 32);
  EXPECT_EQ(b.view(), "xabcdefghijklmn!");
  b.AppendBytes("\0z", 2);
  EXPECT_EQ(b.length(), 18);
  EXPECT_EQ(b.data()[18], '\0');
  b.Clear();
  EXPECT_EQ(b.length(), 0);
  EXPECT_EQ(b.capacity(), 32);
}

TEST(CaseCompareTest, FoldsAsciiLettersOnly) {
  EXPECT_EQ(CaseCompare("TrnFile", "trnfile"), 0);
  EXPECT_EQ(CaseCompare("a", "B"), -1);
  EXPECT_EQ(CaseCompare("b", "A"), 1);
  EXPECT_EQ(CaseCompare("ab", "a"), 1);
  EXPECT_NE(CaseCompare("\xe9", "\xc9"), 0);  // no folding beyond ASCII
  EXPECT_EQ(CaseCompareN("Heading 1", "HEADING 2", 8), 0);
  EXPECT_EQ(FoldedKey("Html_Ext9"), "HTML_EXT9");
}

}  // namespace
}  // namespace quillo
