// The heading hierarchy: records and levels of pass 1, the links and file numbers resolved
// between the passes, the pass-2 walk and the values it feeds (FirstHeading, __ParText,
// ParNumber, MatchName).
#include <string>
#include <vector>

#include "structure/paragraphs.h"
#include "structure/structure.h"
#include "structure_fixture.h"

namespace quillo::test {
namespace {

using structure::ParagraphRecord;

/// Levels of the records that carry text, in order.
std::vector<int> Levels(const Engine& engine) {
  std::vector<int> levels;
  const structure::ParagraphRecords& records = engine.structure.records;
  for (int i = 0; i < structure::RecordCount(records); ++i)
    levels.push_back(structure::RecordAt(records, i).level);
  return levels;
}

TEST_F(StructureTest, DocumentWithoutHeadingsIsOneFile) {
  StructureRun run = Convert(P("one") + P("two"), {"-h", "2"});
  ASSERT_TRUE(run.converted);
  EXPECT_EQ(Levels(*engine_), (std::vector<int>{0, 0}));
  EXPECT_EQ(Value("FirstHeading"), "");
  EXPECT_EQ(Value("NumFiles"), "1");
  EXPECT_EQ(run.outputs.size(), 1u);
  EXPECT_TRUE(run.Has("-.html"));
}

TEST_F(StructureTest, ParentsChildrenAndPeersOfOneThreeTwo) {
  Convert(H(1, "A") + H(3, "B") + H(2, "C"));
  const auto& records = engine_->structure.records;
  auto r = [&](int i) { return structure::RecordAt(records, i); };
  ASSERT_EQ(structure::RecordCount(records), 3);
  EXPECT_EQ(r(0).firstChild, 1);  // the level-3 record is the first child of the level-1 one
  EXPECT_EQ(r(1).parent, 0);
  EXPECT_EQ(r(2).parent, 0);  // the level-2 record has the level-1 record as parent
  EXPECT_EQ(r(1).nextPeer, -1);
  EXPECT_EQ(r(0).nextPeer, -1);
  EXPECT_EQ(Value("FirstHeading"), "A");
}

TEST_F(StructureTest, FileNumbersFollowSplitDepth) {
  // SplitDepth 2 with levels 1, 2, 3, 2: files 1, 2, 2, 3.
  Convert(H(1, "A") + H(2, "B") + H(3, "C") + H(2, "D"), {"-h", "2"});
  std::vector<int> files;
  const auto& records = engine_->structure.records;
  for (int i = 0; i < structure::RecordCount(records); ++i)
    files.push_back(structure::RecordAt(records, i).fileNumber);
  EXPECT_EQ(files, (std::vector<int>{1, 2, 2, 3}));
  EXPECT_EQ(Value("NumFiles"), "4");
}

TEST_F(StructureTest, LevelJumpsAfterAHeadingAreReported) {
  struct Case {
    std::string body;
    bool reported;
  };
  const Case cases[] = {
      {H(1, "First") + H(3, "Deep"), true},
      {H(1, "First") + P("plain") + H(3, "Deep"), false},  // not directly after a heading
      {H(3, "Deep") + H(1, "Up"), false},                  // upwards never
      {H(1, "First") + H(2, "Next"), false},
  };
  for (const Case& c : cases) {
    StructureRun run = Convert(c.body);
    EXPECT_EQ(run.errors.find("First") != std::string::npos && c.reported, c.reported) << c.body;
    if (!c.reported) {
      EXPECT_EQ(run.errors.find("Level"), std::string::npos) << run.errors;
    }
  }
}

TEST_F(StructureTest, HeadingInATableCellHasNoLevel) {
  Convert(H(1, "A") + "\\pard\\intbl\\s1 In a cell\\cell\\row\n" + P("after"));
  const auto& records = engine_->structure.records;
  ASSERT_GE(structure::RecordCount(records), 2);
  EXPECT_EQ(structure::RecordAt(records, 0).level, 1);
  for (int i = 1; i < structure::RecordCount(records); ++i)
    EXPECT_EQ(structure::RecordAt(records, i).level, 0) << i;
}

TEST_F(StructureTest, ItemsBeforeTheFirstCharacterBelongToTheHeadingsFile) {
  // A bookmark and an index entry between the paragraph mark and the heading's text go with
  // the heading into its file; those inside the paragraph before stay in the earlier file.
  StructureRun run = Convert(P("intro {\\*\\bkmkstart early}{\\*\\bkmkend early}") +
                                 "\\pard\\s1 {\\*\\bkmkstart late}{\\*\\bkmkend late}"
                                 "{\\xe {\\v term}}Chapter\\par\n" +
                                 P("text"),
                             {"-h", "1", "-x"});
  ASSERT_EQ(engine_->structure.anchors.size(), 2u);
  EXPECT_EQ(engine_->structure.anchors[0].place, 0);
  EXPECT_EQ(engine_->structure.anchors[1].place, 1);
  ASSERT_EQ(engine_->structure.entries.size(), 1u);
  EXPECT_EQ(engine_->structure.entries[0].place, 1);
  const std::string chapter = run.Output("--Chapter.html");
  EXPECT_NE(chapter.find("{a:late}"), std::string::npos) << chapter;
  EXPECT_NE(chapter.find("{a:Index1}"), std::string::npos) << chapter;
  EXPECT_NE(run.Output("-.html").find("{a:early}"), std::string::npos);
}

TEST_F(StructureTest, HeadingsGetAnchorsInsideTheirTag) {
  StructureRun run = Convert(P("x") + H(1, "A") + H(2, "B"));
  const std::string page = run.Output("-.html");
  EXPECT_NE(page.find("<h1>{a:Heading2}A"), std::string::npos) << page;
  EXPECT_NE(page.find("<h2>{a:Heading3}B"), std::string::npos) << page;
}

TEST_F(StructureTest, SplitHeadingsBeginTheirFileWithTheirAnchor) {
  StructureRun run = Convert(P("x") + H(1, "A") + P("a text") + H(1, "B"), {"-h", "1"});
  EXPECT_EQ(run.outputs.size(), 3u);
  EXPECT_NE(run.Output("--A.html").find("<h1>{a:Heading2}A"), std::string::npos);
  EXPECT_NE(run.Output("--A.html").find("a text"), std::string::npos);
  EXPECT_EQ(run.Output("-.html").find("a text"), std::string::npos);
  EXPECT_NE(run.Output("--B.html").find("{a:Heading4}B"), std::string::npos);
}

TEST_F(StructureTest, ParTextFeedsEndParAndParNumberNamesTheHeading) {
  StructureRun run = Convert(P("plain words") + H(1, "Title words"), {},
                             "EndPar \"[end $__ParText;|$ParNumber;]\"\n");
  const std::string page = run.Output("-.html");
  EXPECT_NE(page.find("[end plain words|0]"), std::string::npos) << page;
  EXPECT_NE(page.find("[end Title words|2]"), std::string::npos) << page;
}

TEST_F(StructureTest, DocumentTextInHeadingsNeverRunsAsCode) {
  // A heading that looks like expansion code stays text in every setting that carries it.
  StructureRun run =
      Convert(H(1, "$Exit() now") + P("after"), {"-h", "1"}, "EndPar \"$__ParText;\"\n");
  EXPECT_TRUE(run.converted);
  EXPECT_EQ(Value("FirstHeading"), "$Exit() now");
  bool found = false;
  for (const auto& [name, text] : run.outputs) found |= text.find("after") != std::string::npos;
  EXPECT_TRUE(found);
}

TEST_F(StructureTest, MatchNameChangesTheRecordsLevel) {
  // The translation file makes a paragraph a heading at its end; an unknown name is reported
  // and changes nothing.
  const std::string functions =
      ".Functions\nFunction Promote\nIfelse \"$__ParText;\" \"^promote\" \"$DoPromote()\" "
      "\"$Unknown()\"\n"
      "Function DoPromote\nSave MatchName \"heading 2\"\nSet \"\"\n"
      "Function Unknown\nIfelse \"$__ParText;\" \"^unknown\" \"$SetUnknown()\" \"\"\n"
      "Function SetUnknown\nSave MatchName \"no such style\"\nSet \"\"\n"
      ".Strings\nEndPar \"$Promote()\"\n";
  StructureRun run = Convert(P("plain") + P("promote me") + P("unknown style"), {}, functions);
  EXPECT_EQ(Levels(*engine_), (std::vector<int>{0, 2, 0}));
  EXPECT_EQ(Value("FirstHeading"), "promote me");
  EXPECT_NE(run.errors.find("no such style"), std::string::npos) << run.errors;
}

TEST_F(StructureTest, ManyHeadingsOfRisingLevelsResolve) {
  // Resolution and the contents lists walk the records without recursion: 3000 chapters of
  // three levels each, and a run of 2000 headings that go down level by level and back.
  std::string body;
  for (int i = 0; i < 3000; ++i) body += H(1, "C" + std::to_string(i)) + H(2, "S") + H(3, "T");
  for (int i = 0; i < 2000; ++i) body += H(1 + i % 3, "R");
  StructureRun run = Convert(body, {"-c"});
  EXPECT_TRUE(run.converted);
  EXPECT_TRUE(run.Has("--Contents.html"));
}

}  // namespace
}  // namespace quillo::test
