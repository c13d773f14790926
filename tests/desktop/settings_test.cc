// quillo.ini: defaults, tolerant reading, the recent-files list, atomic writing.
#include "settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

namespace quillo::desktop {
namespace {

TEST(SettingsTest, DefaultsFollowTheUsersFolders) {
  setenv("HOME", "/home/ann", 1);
  setenv("XDG_CONFIG_HOME", "/home/ann/.cfg", 1);
  unsetenv("XDG_DATA_HOME");
  DesktopSettings s = ParseSettings("");
  EXPECT_EQ(s.openPath, "/home/ann");
  EXPECT_EQ(s.cmdlineFName, "/home/ann/.cfg/quillo/cmd.trn");
  EXPECT_EQ(DataDirectory(), "/home/ann/.local/share/quillo");
  EXPECT_EQ(s.mainLeft, 1000);
  EXPECT_EQ(s.mainWidth, 11000);
  EXPECT_EQ(s.mainHeight, 8000);
  EXPECT_TRUE(s.showHTMLAfterTranslation && s.showErrorAfterTranslation &&
              s.showLogAfterTranslation);
  EXPECT_FALSE(s.useWordForRTF);
  EXPECT_TRUE(s.autoConvertDD && s.displayRTF && s.useFSThreshold && s.showTips);
  EXPECT_FALSE(s.showSample);
  EXPECT_EQ(s.FSThreshold, 100);
  EXPECT_EQ(s.patternListIndex, 0);
  // A relative XDG variable is ignored, as the XDG rules say.
  setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(ConfigDirectory(), "/home/ann/.config/quillo");
}

TEST(SettingsTest, BrokenLinesAreSkipped) {
  DesktopSettings s = ParseSettings(
      "FSThreshold=5\n"  // outside [Settings]
      "[Settings]\n"
      "no equals sign\n"
      "=value without key\n"
      "FSThreshold=abc\n"
      "showTips=maybe\n"
      "displayRTF=false\n"
      "fsthreshold=250\n"
      "2mnuFileMRU=/b.rtf\n"
      "1mnuFileMRU=\n"
      "9mnuFileMRU=/z.rtf\n"
      "FutureKey=kept\n"
      "[Other]\n"
      "displayRTF=true\n");
  EXPECT_EQ(s.FSThreshold, 250);
  EXPECT_TRUE(s.showTips);
  EXPECT_FALSE(s.displayRTF);
  EXPECT_EQ(s.mru[0], "/b.rtf") << "gaps in the list close up";
  EXPECT_EQ(s.mru[1], "");
  EXPECT_EQ(s.unknown.at("FutureKey"), "kept");
  EXPECT_EQ(s.unknown.at("9mnuFileMRU"), "/z.rtf");
}

TEST(SettingsTest, FormatThenParseIsIdentity) {
  DesktopSettings s = DesktopSettings::Defaults();
  s.showLogAfterTranslation = false;
  s.FSThreshold = 42;
  s.openPath = "/data/rtf files";
  s.paneLayout = "tileV";
  s.mru = {"/a.rtf", "/b.doc", "", ""};
  s.cmdlineFName = "/x/cmd.trn";
  std::string text = FormatSettings(s);
  EXPECT_EQ(text.rfind("[Settings]\n", 0), 0u);
  EXPECT_NE(text.find("\n1mnuFileMRU=/a.rtf\n"), std::string::npos);
  EXPECT_EQ(FormatSettings(ParseSettings(text)), text);
}

TEST(SettingsTest, RecentFilesKeepFourMostRecentFirst) {
  DesktopSettings s;
  for (const char* f : {"/1", "/2", "/3", "/4", "/5", "/3"}) AddRecentFile(s, f);
  std::array<std::string, 4> expected = {"/3", "/5", "/4", "/2"};
  EXPECT_EQ(s.mru, expected);
  RemoveRecentFile(s, "/5");
  expected = {"/3", "/4", "/2", ""};
  EXPECT_EQ(s.mru, expected);
}

TEST(SettingsTest, WrittenAtomicallyIntoANewFolder) {
  char pattern[] = "/tmp/quillo-settings-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string path = std::string(pattern) + "/deep/er/quillo.ini";
  DesktopSettings s = DesktopSettings::Defaults();
  s.FSThreshold = 7;
  ASSERT_EQ(WriteSettings(path, s), "");
  EXPECT_EQ(ReadSettings(path).FSThreshold, 7);
  EXPECT_EQ(ReadSettings(std::string(pattern) + "/missing.ini").FSThreshold, 100);
  EXPECT_NE(WriteSettings("/proc/quillo/none.ini", s), "") << "a failure is reported, not ignored";
  std::string cleanup = std::string("rm -rf ") + pattern;
  EXPECT_EQ(system(cleanup.c_str()), 0);
}

}  // namespace
}  // namespace quillo::desktop
