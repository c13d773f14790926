// File names and navigation of split documents, the contents lists, links by heading text,
// anchors, the index page and the frame page.
#include <string>
#include <vector>

#include "structure/internal.h"
#include "structure/structure.h"
#include "structure_fixture.h"

namespace quillo::test {
namespace {

// ---- Names
// ---------------------------------------------------------------------------------------

TEST(SafeSuffixTextTest, KeepsNamesInsideTheOutputFolder) {
  struct Case {
    const char* text;
    const char* safe;
  };
  const Case cases[] = {
      {"Intro", "Intro"},
      {"getting-started", "getting-started"},
      {"../../etc/passwd", "etc-passwd"},
      {"..", ""},
      {"!!!", ""},
      {"/absolute/path", "absolute-path"},
      {"a\\b", "a-b"},
      {".hidden", "hidden"},
      {"v1.2", "v1.2"},
      {"a..b", "a.b"},
      {"two  words", "two-words"},
      {"trailing.", "trailing"},
      {"caf\xe9", "caf"},
      {"a\nb\tc", "a-b-c"},
      {"x$y;z", "x-y-z"},
      {"0123456789012345678901234567890123456789", "01234567890123456789012345678901"},
  };
  for (const Case& c : cases) EXPECT_EQ(structure::SafeSuffixText(c.text), c.safe) << c.text;
}

TEST_F(StructureTest, SuffixClashesGetNumbers) {
  // Same text in other case, the reserved page names, and names that say nothing.
  StructureRun run = Convert(H(1, "Intro") + H(1, "intro") + H(1, "Contents") + H(1, "Index") +
                                 H(1, "../x") + H(1, "!!!") + H(1, "!!!") + H(1, "Intro"),
                             {"-h", "1"});
  const std::vector<std::string> expected = {
      "--Intro.html", "--intro-2.html", "--Contents-2.html", "--Index-2.html",
      "--x.html",     "--6.html",       "--7.html",          "--Intro-3.html"};
  for (const std::string& name : expected) EXPECT_TRUE(run.Has(name)) << name;
  EXPECT_EQ(run.outputs.size(), expected.size() + 1);
  for (const auto& [name, text] : run.outputs) EXPECT_EQ(name.find('/'), std::string::npos);
}

TEST_F(StructureTest, FramesReserveTheirSuffixes) {
  StructureRun run = Convert(H(1, "Title") + H(1, "FContents") + H(1, "FIndex"), {"-h", "1", "-F"});
  for (const char* name :
       {"--Title.html", "--Title-2.html", "--FContents-2.html", "--FIndex-2.html", "-.html"})
    EXPECT_TRUE(run.Has(name)) << name;
}

TEST_F(StructureTest, ShortNamesNumberTheFiles) {
  StructureRun run = Convert(H(1, "A") + H(1, "B"), {"-h", "1", "-s"});
  EXPECT_TRUE(run.Has("-.htm"));
  EXPECT_TRUE(run.Has("-01.htm"));
  EXPECT_TRUE(run.Has("-02.htm"));
}

TEST_F(StructureTest, ShortNamesStopAtTheHundredthFile) {
  std::string body;
  for (int i = 0; i < 100; ++i) body += H(1, "H");
  TempDir out;
  EXPECT_NE(ConvertToDisk(body, out, {"-h", "1", "-s"}), 0);
  const std::string errors = ReadFile(out.File("book_err.htm"));
  EXPECT_NE(errors.find("Maximum number of files (99)"), std::string::npos) << errors;
}

TEST_F(StructureTest, NavigationSettingsOfEachFile) {
  StructureRun run = Convert(P("x") + H(1, "One") + H(2, "Two") + H(1, "Three"), {"-h", "2"});
  EXPECT_EQ(run.Output("-.html").substr(0, run.Output("-.html").find('\n')),
            "[title this=-.html next=--One.html/One]");
  const std::string two = run.Output("--Two.html");
  EXPECT_EQ(two.substr(0, two.find('\n')),
            "[page this=--Two.html prev=--One.html/One next=--Three.html/Three up=--One.html/One "
            "first=Two]");
  const std::string three = run.Output("--Three.html");
  EXPECT_EQ(three.substr(0, three.find('\n')),
            "[page this=--Three.html prev=--Two.html/Two next=/ up=/ first=Three]");
}

TEST_F(StructureTest, ParentFileHasNoDirectory) {
  TempDir out;
  ASSERT_EQ(ConvertToDisk(H(1, "Top") + H(2, "Below"), out, {"-h", "2"}), 0);
  const std::string below = ReadFile(out.File("book-Below.htm"));
  EXPECT_NE(below.find("this=" + out.File("book-Below.htm")), std::string::npos) << below;
  EXPECT_NE(below.find("prev=" + out.File("book-Top.htm")), std::string::npos) << below;
  EXPECT_NE(below.find("up=book-Top.htm/Top"), std::string::npos) << below;
}

// ---- Contents lists
// ------------------------------------------------------------------------------

TEST_F(StructureTest, ContentsPageLinksFilesAndAnchors) {
  // SplitDepth 1, levels 1, 2, 1: file, file with anchor, second file.
  StructureRun run = Convert(H(1, "A") + H(2, "B") + H(1, "C"), {"-h", "1", "-c"});
  EXPECT_EQ(run.Output("--Contents.html"),
            "[contents]<body><ul><li --A.html|A><ul><li --A.html#Heading2|B></ul>"
            "<li --C.html|C></ul>[/contents]");
}

TEST_F(StructureTest, ContentsPageHonoursMaxTocLevel) {
  StructureRun run = Convert(H(1, "A") + H(2, "B") + H(1, "C") + H(3, "D") + H(2, "E"),
                             {"-c", "-D", "MaxTOCLevel=1"});
  EXPECT_EQ(run.Output("--Contents.html"),
            "[contents]<body><ul><li -.html#Heading1|A><li -.html#Heading3|C></ul>[/contents]");
}

TEST_F(StructureTest, ContentsListOfOneThreeTwo) {
  StructureRun run = Convert(H(1, "A") + H(3, "B") + H(2, "C"), {"-c"});
  EXPECT_EQ(run.Output("--Contents.html"),
            "[contents]<body><ul><li -.html#Heading1|A><ul><li -.html#Heading2|B></ul>"
            "<li -.html#Heading3|C></ul>[/contents]");
}

TEST_F(StructureTest, LocalAndPeerLists) {
  const std::string lists =
      "GenPageBody \"[local $GenLocalTOC()][peer $GenPeerTOC()]\"\n"
      "TitlePageBody \"[local $GenLocalTOC()][peer $GenPeerTOC()]\"\n";
  StructureRun run =
      Convert(H(1, "A") + H(2, "A1") + H(3, "A1x") + H(1, "B") + H(1, "C") + H(2, "C1"),
              {"-h", "1"}, lists);
  EXPECT_NE(run.Output("-.html").find("[local <ul><li --A.html|A><li --B.html|B><li --C.html|C>"
                                      "</ul>][peer ]"),
            std::string::npos)
      << run.Output("-.html");
  EXPECT_NE(run.Output("--A.html")
                .find("[local <ul><li #Heading2|A1><ul><li #Heading3|A1x></ul>"
                      "</ul>][peer <ul><cur A><li --B.html|B><li --C.html|C>"
                      "</ul>]"),
            std::string::npos)
      << run.Output("--A.html");
  // A file whose heading has no sub-heading before the next of its level: empty local list.
  EXPECT_NE(run.Output("--B.html").find("[local ][peer"), std::string::npos);
  // Sub-headings with files of their own are listed by file.
  StructureRun split = Convert(H(1, "A") + H(2, "A1") + H(2, "A2"), {"-h", "2"}, lists);
  EXPECT_NE(split.Output("--A.html").find("[local <ul><li --A1.html|A1><li --A2.html|A2></ul>]"),
            std::string::npos)
      << split.Output("--A.html");
  // Without splitting the title file lists the whole document.
  StructureRun whole = Convert(H(1, "A") + H(2, "B"), {}, lists);
  EXPECT_NE(whole.Output("-.html").find("[local <ul><li #Heading1|A><ul><li #Heading2|B></ul>"
                                        "</ul>]"),
            std::string::npos)
      << whole.Output("-.html");
}

TEST_F(StructureTest, FileListsReachEveryChildFile) {
  // The document skips levels: it begins with a level-2 heading and A's children have levels 3
  // and 2. The peer lists miss files then; GenFileTOC lists every file directly under the
  // current one.
  const std::string lists =
      "GenPageBody \"[files $GenFileTOC()][local $GenLocalTOC()]\"\n"
      "TitlePageBody \"[files $GenFileTOC()][local $GenLocalTOC()]\"\n";
  StructureRun run =
      Convert(H(2, "Z") + H(1, "A") + H(3, "A1") + H(2, "A2") + H(1, "B"), {"-h", "3"}, lists);
  EXPECT_NE(run.Output("-.html").find("[files <ul><li --Z.html|Z><li --A.html|A><li --B.html|B>"
                                      "</ul>][local <ul><li --Z.html|Z></ul>]"),
            std::string::npos)
      << run.Output("-.html");
  EXPECT_NE(run.Output("--A.html")
                .find("[files <ul><li --A1.html|A1><li --A2.html|A2></ul>]"
                      "[local <ul><li --A1.html|A1></ul>]"),
            std::string::npos)
      << run.Output("--A.html");
  EXPECT_NE(run.Output("--B.html").find("[files ][local ]"), std::string::npos)
      << run.Output("--B.html");
}

TEST_F(StructureTest, LinksByHeadingText) {
  struct Case {
    const char* target;
    const char* expected;
  };
  const Case cases[] = {
      {"intro", "[--Introduction.html#Heading1|intro]"},  // prefix, case ignored
      {"Scope", "[--Introduction.html#Heading2|Scope]"},  // through StripPN
      {"Later", "[#Heading3|Later]"},                     // in the file being written
      {"someone@example.org", "[mailto:someone@example.org|someone@example.org]"},
      {"http://example.org/a b", "[http://example.org/ab|http://example.org/a b]"},
      {"#top", "[--Introduction.html#top|top]"},
      {"nothing at all", "[|nothing at all]"},
  };
  for (const Case& c : cases) {
    const std::string extra = std::string("LinkTarget \"") + c.target +
                              "\"\nLinkShow \"[$_LINK_;|$_HOTTEXT_;]\"\n"
                              "GenPageBodyEnd \"$Link(LinkTarget,LinkShow)\"\n";
    StructureRun run = Convert(H(1, "Introduction {\\*\\bkmkstart top}{\\*\\bkmkend top}") +
                                   H(2, "2.1 Scope") + H(1, "Later"),
                               {"-h", "1"}, extra);
    EXPECT_NE(run.Output("--Later.html").find(c.expected), std::string::npos)
        << c.target << "\n"
        << run.Output("--Later.html");
  }
  StructureRun unresolved = Convert(
      H(1, "A"), {"-h", "1"}, "LinkTarget \"nothing\"\nGenPageBodyEnd \"$Link(LinkTarget)\"\n");
  EXPECT_NE(unresolved.errors.find("resolve"), std::string::npos) << unresolved.errors;
}

TEST_F(StructureTest, AnchorFileNamesTheFileOfABookmark) {
  const std::string extra =
      ".Functions\nFunction FileOf\nAnchorFile \"#$1;\"\n.Strings\n"
      "Known \"there\"\nUnknown \"nowhere\"\n"
      "GenPageBodyEnd \"[$FileOf(Known)|$FileOf(Unknown)]\"\n";
  StructureRun run = Convert(
      H(1, "A") + P("{\\*\\bkmkstart there}{\\*\\bkmkend there}x") + H(1, "B"), {"-h", "1"}, extra);
  EXPECT_NE(run.Output("--B.html").find("[--A.html|]"), std::string::npos)
      << run.Output("--B.html");
  EXPECT_NE(run.errors.find("nowhere"), std::string::npos) << run.errors;
}

TEST_F(StructureTest, CreatedFilesWalk) {
  const std::string extra =
      "ListName \"ListFile\"\n"
      "GenPageBodyEnd \"[$ResetListPointer(ListName)$GetListElement(ListName)"
      ",$GetListElement(ListName),$GetListElement(ListName),$GetListElement(ListName)]\"\n";
  StructureRun run = Convert(H(1, "A") + H(1, "B"), {"-h", "1"}, extra);
  EXPECT_NE(run.Output("--B.html").find("[-.html,--A.html,--B.html,]"), std::string::npos)
      << run.Output("--B.html");
  EXPECT_EQ(Value("NumFiles"), "3");
}

TEST_F(StructureTest, GeneratorsOutsideAConversionWriteNothing) {
  TempDir here;
  structure::ResetStructure(*engine_);
  structure::GenTOC(*engine_, 0);
  structure::GenIndex(*engine_, 1);
  structure::GenFrames(*engine_);
  EXPECT_EQ(structure::NextListFile(*engine_, false), "");
  EXPECT_FALSE(FileExists("-Contents.html"));
}

// ---- Index
// ---------------------------------------------------------------------------------------

TEST_F(StructureTest, IndexGroupsSortsAndNests) {
  StructureRun run =
      Convert(H(1, "One") + P("{\\xe {\\v apple}}{\\xe {\\v Apple}}{\\xe {\\v banana}}") +
                  H(1, "Two") + P("{\\xe {\\v A}}{\\xe {\\v A:B}}{\\xe {\\v Pomme}{\\txe See A}}") +
                  P("{\\xe {\\v \\'c9t\\'e9}}{\\tc {\\v Contents entry}}"),
              {"-h", "1", "-x"});
  EXPECT_EQ(Value("NumIndexEntries"), "8");
  // '&' sorts before the letters: an entry that begins with a character reference comes first.
  EXPECT_EQ(
      run.Output("--Index.html"),
      "[index]<body><panel><L #IA-&Eacute;|&Eacute;>,<L #IA-A|A>,<L #IA-B|B>,<L #IA-C|C>,"
      "<L #IA-P|P></panel>"
      "<letter IA-&Eacute;|&Eacute;><R &Eacute;t&eacute;><ref --Two.html#Index7|1></R><iesep>"
      "<letter IA-A|A><S A><ref --Two.html#Index4|1><sep><R B><ref --Two.html#Index5|1></R></S>"
      "<R apple><ref --One.html#Index1|1>;<ref --One.html#Index2|2></R><iesep>"
      "<letter IA-B|B><R banana><ref --One.html#Index3|1></R><iesep>"
      "<letter IA-C|C><R Contents entry><ref --Two.html#Index8|1></R><iesep>"
      "<letter IA-P|P><X Pomme|See A><iesep>[/index]");
  // Every entry with a number has its anchor in the text.
  for (int n : {1, 2, 3})
    EXPECT_NE(run.Output("--One.html").find("{a:Index" + std::to_string(n) + "}"),
              std::string::npos);
  for (int n : {4, 5, 7, 8})
    EXPECT_NE(run.Output("--Two.html").find("{a:Index" + std::to_string(n) + "}"),
              std::string::npos);
  EXPECT_EQ(run.Output("--Two.html").find("{a:Index6}"), std::string::npos);  // the cross-reference
}

TEST_F(StructureTest, IndexSubMarkersChooseTheLevelSeparators) {
  StructureRun run = Convert(P("{\\xe {\\v Fruit;Pear}}{\\xe {\\v Fruit;Plum}}"),
                             {"-x", "-D", "IndexSubMarkers=;"});
  EXPECT_NE(run.Output("--Index.html")
                .find("<S Fruit><sep><R Pear><ref -.html#Index1|1></R>"
                      "<iesep><R Plum><ref -.html#Index2|1></R></S>"),
            std::string::npos)
      << run.Output("--Index.html");
}

TEST_F(StructureTest, NoEntriesNoIndexAndEntriesOnlyWithGenIndex) {
  StructureRun none = Convert(P("no entries"), {"-x"});
  EXPECT_FALSE(none.Has("--Index.html"));
  StructureRun off = Convert(P("{\\xe {\\v word}}text"));
  EXPECT_EQ(off.Output("-.html").find("{a:Index"), std::string::npos);
  EXPECT_EQ(Value("NumIndexEntries"), "0");
  // The text of an index group never reaches the page.
  EXPECT_EQ(off.Output("-.html").find("word"), std::string::npos);
}

TEST_F(StructureTest, IndexTermsStandWhereTheirEntriesStand) {
  // With _index_term_ defined every entry, cross-references too, is written where it stands,
  // with its levels separated by tabs, before its anchor.
  const std::string extra = "_index_term_ \"{t:$_INDEXTEXT_;|$_INDEXSEE_;}\"\n";
  StructureRun run =
      Convert(P("a{\\xe {\\v Fruit:Pear}}b{\\xe {\\v Pomme}{\\txe See Apple}}c"), {"-x"}, extra);
  EXPECT_NE(run.Output("-.html").find("a{t:Fruit\tPear|}{a:Index1}b{t:Pomme|See Apple}c"),
            std::string::npos)
      << run.Output("-.html");
  // Without it, nothing changes: only the numbered entry has an anchor.
  StructureRun plain =
      Convert(P("a{\\xe {\\v Fruit:Pear}}b{\\xe {\\v Pomme}{\\txe See Apple}}c"), {"-x"});
  EXPECT_NE(plain.Output("-.html").find("a{a:Index1}bc"), std::string::npos)
      << plain.Output("-.html");
}

TEST_F(StructureTest, IndexEntryBuiltinAddsEntriesInBothPasses) {
  // Italic text is captured in both passes; its capture string makes it an index entry.
  const std::string extra = "None \"\"\n_Capture \"[$IndexEntry(CaptureText,None)]\"\n";
  StructureRun run = Convert(P("x {\\i builtin term} y"), {"-x"}, extra);
  EXPECT_NE(run.Output("-.html").find("[Index1]"), std::string::npos) << run.Output("-.html");
  EXPECT_NE(run.Output("--Index.html").find("<R builtin term><ref -.html#Index1|1></R>"),
            std::string::npos)
      << run.Output("--Index.html") << run.errors;
}

TEST_F(StructureTest, FramedIndexTargetsTheFrames) {
  StructureRun run = Convert(P("{\\xe {\\v word}}"), {"-x", "-F"});
  const std::string index = run.Output("--FIndex.html");
  EXPECT_NE(index.find("<L #IA-W|W|-1>"), std::string::npos) << index;
  EXPECT_EQ(Value("_TARGET_"), "");  // restored after the generated pages
}

// ---- Frames
// --------------------------------------------------------------------------------------

TEST_F(StructureTest, FramePageCopiesTheTitleBody) {
  const std::string extra =
      "TitlePageHead \"[head]\\n\"\nTitlePageBody \"<body>\\n\"\nTitlePageBodyEnd \"</body>\\n\"\n"
      "TitlePageEnd \"[end]\\n\"\n";
  StructureRun run = Convert(P("title text") + H(1, "A"), {"-h", "1", "-F"}, extra);
  EXPECT_EQ(run.Output("-.html"),
            "[frames]\n<fbody>\n<body>\n<p>title text</p>\n</body>\n"
            "[/frames title=--Title.html toc=--FContents.html doc=-2]\n");
  EXPECT_TRUE(run.Has("--Title.html"));
  // A head that does not end at a line boundary is never met: nothing is copied.
  const std::string open =
      "TitlePageHead \"[head]\"\nTitlePageBody \"<body>\\n\"\nTitlePageBodyEnd \"</body>\\n\"\n";
  StructureRun none = Convert(P("title text") + H(1, "A"), {"-h", "1", "-F"}, open);
  EXPECT_EQ(none.Output("-.html"),
            "[frames]\n<fbody>\n[/frames title=--Title.html toc=--FContents.html doc=-2]\n");
}

}  // namespace
}  // namespace quillo::test
