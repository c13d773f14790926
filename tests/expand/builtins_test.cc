// The built-in functions: comparisons, named lists (including the cursor walk), the user file,
// Delete, CvtPict, NextToken, IndexEntry, Link, the pass-2-only tag functions and unknown names.
#include <gtest/gtest.h>

#include <string>

#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "support/test_support.h"

namespace quillo {
namespace {

class BuiltinsTest : public ::testing::Test {
 protected:
  void SetUp() override { engine_->messages.errorFileName = dir_.File("b_err.htm"); }
  void Set(const char* name, const std::string& value) { SetSetting(*engine_, name, value); }
  std::string Expand(std::string_view text) { return StrExp(*engine_, text); }
  std::string ErrorText() {
    const std::string& name = engine_->messages.errorFileName;
    return test::FileExists(name) ? test::ReadFile(name) : std::string();
  }

  std::unique_ptr<Engine> engine_ = test::MakeEngine();
  test::TempDir dir_;
};

TEST_F(BuiltinsTest, Comparisons) {
  struct Case {
    const char* a;
    const char* b;
    const char* compare;
    const char* ncompare;
  } cases[] = {
      {"abc", "abd", "-1", "0"}, {"abc", "abc", "0", "0"},
      {"b", "a", "1", "0"},      {"\xE9", "a", "1", "0"},  // unsigned bytes
      {"10", "9", "-1", "1"},                              // bytes versus numbers
      {"1.0", "1", "1", "0"},    {"-2", "1", "-1", "-1"},
      {"", "x", "-1", "0"},      {"2e1", "19.5", "1", "1"},
  };
  for (const Case& c : cases) {
    Set("A", c.a);
    Set("B", c.b);
    EXPECT_EQ(Expand("$Compare(A,B)"), c.compare) << c.a << " " << c.b;
    EXPECT_EQ(Expand("$NCompare(A,B)"), c.ncompare) << c.a << " " << c.b;
  }
  // A missing argument gives "0"; empty arguments vanish; names match in any case.
  EXPECT_EQ(Expand("$Compare(A)"), "0");
  EXPECT_EQ(Expand("$NCompare()"), "0");
  Set("A", "a");
  Set("B", "b");
  EXPECT_EQ(Expand("$COMPARE(A,,,B)"), "-1");
  EXPECT_EQ(Expand("$ncompare(B,A)"), "0");  // neither reads as a number
}

TEST_F(BuiltinsTest, ListsKeepOrder) {
  Set("L", "queue");
  Set("l2", "QUEUE");  // list names match regardless of case
  for (const char* text : {"one", "two", "three"}) {
    Set("T", text);
    Expand("$PushList(L,T)");
  }
  Set("Zero", "0");
  Set("One", "1");
  Set("Two", "2");
  // Mode 2 walks front to back without removing; ResetListPointer starts again.
  EXPECT_EQ(Expand("$GetListElement(L2,Two)|$GetListElement(L,Two)|$GetListElement(L,Two)|"
                   "$GetListElement(L,Two)"),
            "one|two|three|");
  Expand("$ResetListPointer(L)");
  EXPECT_EQ(Expand("$GetListElement(L,Two)"), "one");
  // keep non-zero: the element stays.
  EXPECT_EQ(Expand("$GetListElement(L,Zero,One)$GetListElement(L,One,One)"), "onethree");
  // Mode 0 takes the front (push order), mode 1 the back (reverse order).
  EXPECT_EQ(Expand("$GetListElement(L)"), "one");
  EXPECT_EQ(Expand("$GetListElement(L,One)"), "three");
  EXPECT_EQ(Expand("$GetListElement(L,Zero)"), "two");
  EXPECT_EQ(Expand("[$GetListElement(L)][$GetListElement(L,Two)]"), "[][]");

  // end 0 puts the text at the front; a list that was empty gets its cursor on the new element.
  Set("T", "b");
  Expand("$PushList(L,T,Zero)");
  Set("T", "a");
  Expand("$PushList(L,T,Zero)");
  Set("T", "c");
  Expand("$PushList(L,T,One)");
  EXPECT_EQ(Expand("$GetListElement(L,Two)"), "b");  // the cursor stayed on the first pushed
  Expand("$ResetListPointer(L)");
  EXPECT_EQ(Expand("$GetListElement(L,Two)$GetListElement(L,Two)$GetListElement(L,Two)"), "abc");

  // Unknown lists are empty; missing arguments stand as "<none>".
  Set("U", "unknown");
  EXPECT_EQ(Expand("[$GetListElement(U)][$GetListElement()]"), "[][]");
  Expand("$PushList()");
  Set("N", "<none>");
  EXPECT_EQ(Expand("$GetListElement(N)"), "<none>");
}

TEST_F(BuiltinsTest, ListCursorSurvivesRemovals) {
  Set("L", "walk");
  Set("Zero", "0");
  Set("One", "1");
  Set("Two", "2");
  for (const char* text : {"a", "b", "c"}) {
    Set("T", text);
    Expand("$PushList(L,T)");
  }
  EXPECT_EQ(Expand("$GetListElement(L,Two)"), "a");   // the cursor now on "b"
  EXPECT_EQ(Expand("$GetListElement(L,Zero)"), "a");  // removing before it keeps it on "b"
  EXPECT_EQ(Expand("$GetListElement(L,Two)"), "b");   // now on "c"
  EXPECT_EQ(Expand("$GetListElement(L,One)"), "c");   // removing the element under it
  EXPECT_EQ(Expand("[$GetListElement(L,Two)]"), "[]");
  Expand("$ResetListPointer(L)");
  EXPECT_EQ(Expand("$GetListElement(L,Two)"), "b");
}

TEST_F(BuiltinsTest, UserFile) {
  const std::string path = dir_.File("user.txt");
  Set("Name", path);
  Set("Text", "shown");
  Set("Data", "line 1\n");
  Set("Append", "a");
  EXPECT_EQ(Expand("[$CreateFile()]"), "[]");
  EXPECT_EQ(Expand("$CreateFile(Name)"), "abc");
  EXPECT_EQ(Expand("$WriteFile(Text,Data)"), "shown");
  EXPECT_EQ(Expand("[$WriteFile()]"), "[]");
  Expand("$CloseFile()");  // needs an argument: the file stays open
  Set("Data", "line 2\n");
  Expand("$WriteFile(Text,Data)");
  Expand("$CloseFile(Text)");
  EXPECT_EQ(test::ReadFile(path), "line 1\nline 2\n");
  // Closed: writes do nothing.
  Expand("$WriteFile(Text,Data)$CloseFile(Text)");
  EXPECT_EQ(test::ReadFile(path), "line 1\nline 2\n");
  // Mode "a" appends; a second CreateFile finishes the first file.
  Expand("$CreateFile(Name,Append)$WriteFile(Text,Text)");
  Set("Other", dir_.File("other.txt"));
  Expand("$CreateFile(Other)$WriteFile(Text,Data)$CloseFile(Text)");
  EXPECT_EQ(test::ReadFile(path), "line 1\nline 2\nshown");
  EXPECT_EQ(test::ReadFile(dir_.File("other.txt")), "line 2\n");
}

TEST_F(BuiltinsTest, DeleteCvtPictNextToken) {
  const std::string path = dir_.File("gone.txt");
  test::WriteFile(path, "x");
  Set("F", path);
  EXPECT_EQ(Expand("$Delete(F)"), "1");
  EXPECT_FALSE(test::FileExists(path));
  EXPECT_EQ(Expand("$Delete(F)$Delete()"), "11");

  Set("S", "a.wmf");
  EXPECT_EQ(Expand("$CvtPict(S,S)"), "5");
  EXPECT_EQ(Expand("$CvtPict(S)"), "1");

  Set("V", "expanded");
  Set("NextToken", "$V;");
  EXPECT_EQ(Expand("$NextToken()"), "$V;");
}

TEST_F(BuiltinsTest, IndexEntryLinkAndTags) {
  Set("T", "term");
  Set("R", "");
  EXPECT_EQ(Expand("[$IndexEntry(T,R)]"), "[]");  // GenIndex is 0
  Set("GenIndex", "1");
  EXPECT_EQ(Expand("[$IndexEntry(T)]"), "[]");  // both arguments are required

  Set("Target", "#here");
  Set("Hot", "hot text");
  EXPECT_EQ(Expand("$Link(Target,Hot)"), "hot text");
  EXPECT_EQ(Expand("[$Link(Target)][$Link()]"), "[][]");

  // The tag functions act in pass 2 only, on the current output.
  engine_->driver.pass = 1;
  Set("K", "13");
  EXPECT_EQ(Expand("[$PushTag(K,K,T,T)][$PopTags(K,K)]"), "[][]");
}

TEST_F(BuiltinsTest, ExitAndUnknownNames) {
  EXPECT_EQ(Expand("$Exit()"), "Exit");  // the last name token read
  EXPECT_TRUE(engine_->driver.stop);
  engine_->driver.stop = false;
  Set("Code", "0");
  EXPECT_EQ(Expand("$exit(Code)"), "Code");
  EXPECT_TRUE(engine_->driver.stop);

  EXPECT_EQ(Expand("[$NoSuchFunction(Code)]"), "[]");
  EXPECT_NE(ErrorText().find("Invalid function name:NoSuchFunction"), std::string::npos);
}

TEST_F(BuiltinsTest, GeneratorsCallTheStructureLayer) {
  // The structure layer decides what they produce; the calls themselves yield no text.
  Set("One", "1");
  EXPECT_EQ(Expand("[$GenTOC()][$GenTOC(One)][$GenIndex(One)][$GenFrames()]"), "[][][][]");
  EXPECT_EQ(Expand("$GenLocalTOC()$GenPeerTOC()"), "");
  Expand("$ResetListPointer(ListFile)");
  Set("LF", "listfile");
  EXPECT_EQ(Expand("$GetListElement(LF)"), "");  // no created files
}

}  // namespace
}  // namespace quillo
