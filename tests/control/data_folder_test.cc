// The data folder found from where the code lives: build tree, installed prefix, environment.
#include "data_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using quillo::control::AnchoredCandidates;
using quillo::control::EnvironmentCandidates;

TEST(DataFolder, CandidatesAroundAnAnchor) {
  struct Case {
    const char* anchor;
    std::vector<std::string> candidates;
  };
  const Case cases[] = {
      // A program in a build tree: its own folder holds the data.
      {"/src/build/bin/quillo",
       {"/src/build/bin", "/src/build/share/quillo", "/src/build/bin", "/src/share/quillo",
        "/src/bin", "/share/quillo", "/bin"}},
      // The Python module in a build tree, and installed in the Debian layout.
      {"/src/build/python/quillo/_quillo.so",
       {"/src/build/python/quillo", "/src/build/python/share/quillo", "/src/build/python/bin",
        "/src/build/share/quillo", "/src/build/bin", "/src/share/quillo", "/src/bin",
        "/share/quillo", "/bin"}},
      {"/usr/lib/python3/dist-packages/quillo/_quillo.so",
       {"/usr/lib/python3/dist-packages/quillo", "/usr/lib/python3/dist-packages/share/quillo",
        "/usr/lib/python3/dist-packages/bin", "/usr/lib/python3/share/quillo",
        "/usr/lib/python3/bin", "/usr/lib/share/quillo", "/usr/lib/bin", "/usr/share/quillo",
        "/usr/bin"}},
      {"/quillo", {"/"}},
      {"quillo", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(AnchoredCandidates(c.anchor), c.candidates) << c.anchor;
}

TEST(DataFolder, EnvironmentCandidatesFollowTheXdgRules) {
  std::string savedHome = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", "/home/u", 1);
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_DATA_DIRS");
  EXPECT_EQ(EnvironmentCandidates(),
            (std::vector<std::string>{"/home/u/.local/share/quillo", "/usr/local/share/quillo",
                                      "/usr/share/quillo"}));
  setenv("XDG_DATA_HOME", "/data", 1);
  setenv("XDG_DATA_DIRS", "/opt/share:relative:/x/", 1);
  EXPECT_EQ(EnvironmentCandidates(),
            (std::vector<std::string>{"/data/quillo", "/opt/share/quillo", "/x/quillo"}));
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_DATA_DIRS");
  setenv("HOME", savedHome.c_str(), 1);
}

TEST(DataFolder, TheTestProgramFindsTheBuildTreeData) {
  std::string found = quillo::control::LocateDataFolder();
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(std::filesystem::path(found),
            std::filesystem::canonical(std::string(QUILLO_BINARY_DIR) + "/bin"));
  quillo::test::TempDir dir;
  EXPECT_FALSE(quillo::control::HoldsData(dir.path()));
  EXPECT_TRUE(quillo::control::HoldsData(found));
}

}  // namespace
