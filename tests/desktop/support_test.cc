// Word-document naming, the produced-files page, picture conversion and the event history.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "events.h"
#include "pictures.h"
#include "produced_files.h"
#include "text_util.h"
#include "word.h"

namespace quillo::desktop {
namespace {

TEST(WordTest, TargetReplacesTheLastExtension) {
  EXPECT_EQ(WordTargetName("/d/a.b.doc"), "/d/a.b.rtf");
  EXPECT_EQ(WordTargetName("/d/letter.docx"), "/d/letter.rtf");
  EXPECT_EQ(WordTargetName("/d.x/letter"), "/d.x/letter.rtf");
}

TEST(WordTest, ExistingTargetIsReusedOnlyWhenNewer) {
  char pattern[] = "/tmp/quillo-word-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  std::ofstream(dir + "/a.doc") << "doc";
  EXPECT_FALSE(TargetIsFresh(dir + "/a.doc", dir + "/a.rtf")) << "no target yet";
  std::ofstream(dir + "/a.rtf") << "{\\rtf1}";
  struct timespec times[2] = {{1000, 0}, {1000, 0}};
  utimensat(AT_FDCWD, (dir + "/a.rtf").c_str(), times, 0);
  EXPECT_FALSE(TargetIsFresh(dir + "/a.doc", dir + "/a.rtf")) << "older than the document";
  times[0].tv_sec = times[1].tv_sec = 4000000000;
  utimensat(AT_FDCWD, (dir + "/a.rtf").c_str(), times, 0);
  EXPECT_TRUE(TargetIsFresh(dir + "/a.doc", dir + "/a.rtf"));
  EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

TEST(WordTest, MissingLibreOfficeIsSaidPlainly) {
  std::string path = getenv("PATH") ? getenv("PATH") : "";
  char pattern[] = "/tmp/quillo-word-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string doc = std::string(pattern) + "/a.doc";
  std::ofstream(doc) << "doc";
  setenv("PATH", "/nonexistent", 1);
  WordResult r = ConvertWordToRtf(doc, 5);
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(r.rtfPath, "");
  EXPECT_EQ(r.message, kLibreOfficeMissing);
  EXPECT_EQ(ConvertWordToRtf(std::string(pattern) + "/none.doc", 5).message,
            "Error: \"" + std::string(pattern) + "/none.doc\" does not exist");
  EXPECT_EQ(system((std::string("rm -rf ") + pattern).c_str()), 0);
}

TEST(ProducedFilesTest, ConvertedMetafilesAreListedUnderTheirNewName) {
  char pattern[] = "/tmp/quillo-produced-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  std::ofstream(dir + "/doc01.png") << "png";
  std::vector<std::string> names = ProducedFileNames(
      {dir + "/doc.html", dir + "/doc01.wmf", dir + "/doc02.wmf", dir + "/doc03.bmp"}, "png");
  std::vector<std::string> expected = {dir + "/doc.html", dir + "/doc01.png", dir + "/doc02.wmf",
                                       dir + "/doc03.bmp"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(ProducedFilesPageName(dir + "/doc.html"), dir + "/doc_Log.htm");
  std::string page =
      FormatProducedFilesPage("a<b>.rtf", {dir + "/x y#.html", "/elsewhere/z.png"}, dir);
  EXPECT_NE(page.find("<ol>"), std::string::npos);
  EXPECT_NE(page.find("<li><a href=\"x%20y%23.html\">" + dir + "/x y#.html</a></li>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("href=\"file:///elsewhere/z.png\""), std::string::npos);
  EXPECT_NE(page.find("a&lt;b&gt;.rtf"), std::string::npos) << "names are escaped";
  EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

TEST(PicturesTest, BitmapBecomesPngAndTheSourceIsDeleted) {
  char pattern[] = "/tmp/quillo-picture-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = pattern;
  // A 2 x 1 pixel, 24-bit BMP: file header, information header, one row padded to 8 bytes.
  std::string bmp;
  auto u16 = [&](unsigned v) {
    bmp += static_cast<char>(v & 255);
    bmp += static_cast<char>(v >> 8);
  };
  auto u32 = [&](unsigned v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  bmp += "BM";
  u32(62);
  u32(0);
  u32(54);
  u32(40);
  u32(2);
  u32(1);
  u16(1);
  u16(24);
  u32(0);
  u32(8);
  u32(2835);
  u32(2835);
  u32(0);
  u32(0);
  bmp += std::string("\xFF\x00\x00\x00\x00\xFF\x00\x00", 8);
  std::ofstream(dir + "/p.bmp", std::ios::binary) << bmp;
  EXPECT_TRUE(NeedsPictureConversion(dir + "/p.BMP"));
  EXPECT_FALSE(NeedsPictureConversion(dir + "/p.png"));
  PictureResult r = ConvertPicture(dir + "/p.bmp", "png");
  ASSERT_EQ(r.message, "");
  EXPECT_EQ(r.converted, dir + "/p.png");
  EXPECT_FALSE(FileExists(dir + "/p.bmp"));
  std::ifstream png(r.converted, std::ios::binary);
  char magic[4] = {};
  png.read(magic, 4);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");
  std::ofstream(dir + "/bad.wmf") << "not a metafile";
  EXPECT_NE(ConvertPicture(dir + "/bad.wmf", "png").message, "");
  EXPECT_TRUE(FileExists(dir + "/bad.wmf")) << "a picture that could not be converted stays";
  EXPECT_NE(ConvertPicture(dir + "/bad.wmf", "tiff").message, "");
  EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
}

TEST(EventsTest, HistoryIsBoundedAndReadFromAnyPoint) {
  EventHub hub(3);
  for (int i = 0; i < 5; ++i) hub.Publish("status", "{\"n\":" + std::to_string(i) + "}");
  std::vector<Event> all = hub.WaitAfter(0, 0);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all.front().id, 3u);
  EXPECT_EQ(hub.WaitAfter(4, 0).size(), 1u);
  EXPECT_TRUE(hub.WaitAfter(5, 10).empty());
  std::thread later([&] { hub.Publish("box", "{}"); });
  EXPECT_EQ(hub.WaitAfter(5, 5000).size(), 1u);
  later.join();
  EXPECT_EQ(FormatServerSentEvent({7, "status", "{\"a\":1}\n{\"b\":2}"}),
            "id: 7\nevent: status\ndata: {\"a\":1}\ndata: {\"b\":2}\n\n");
  hub.Close();
  EXPECT_TRUE(hub.WaitAfter(0, 5000).empty()) << "a closed hub ends every stream at once";
}

}  // namespace
}  // namespace quillo::desktop
