// The bash completion of quillocmd, driven the way bash drives it: options, option values and
// .rtf files, with the bash-completion package and without it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "support/test_support.h"

namespace {

using quillo::test::FileExists;
using quillo::test::TempDir;
using quillo::test::WriteFile;

constexpr const char* kBashCompletion = "/usr/share/bash-completion/bash_completion";

/// What the completion offers for `line` (the cursor at its end), typed in `directory`: the
/// candidates joined by blanks.
std::string Complete(const std::string& line, const std::string& directory, bool withPackage) {
  TempDir scratch;
  std::string script = scratch.File("complete.sh");
  WriteFile(script,
            std::string(withPackage ? "source " + std::string(kBashCompletion) + "\n" : "") +
                "source '" QUILLO_SOURCE_DIR
                "/cli/bash-completion/quillocmd'\n"
                "cd \"$1\" || exit 1\n"
                "COMP_LINE=$2; COMP_POINT=${#COMP_LINE}\n"
                "read -ra COMP_WORDS <<<\"$COMP_LINE\"\n"
                "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')\n"
                "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                "_quillocmd quillocmd \"${COMP_WORDS[COMP_CWORD]}\" "
                "\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
                "printf '%s\\n' \"${COMPREPLY[@]}\" | sort | tr '\\n' ' '\n");
  std::string command = "bash '" + script + "' '" + directory + "' '" + line + "' 2>&1";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[1024];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  pclose(pipe);
  while (!output.empty() && output.back() == ' ') output.pop_back();
  return output;
}

TEST(QuillocmdCompletionTest, OptionsValuesAndRtfFiles) {
  TempDir dir;
  for (const char* name : {"a.rtf", "B.RTF", "notes.txt", "mine.trn"})
    WriteFile(dir.File(name), "");
  mkdir(dir.File("sub").c_str(), 0755);
  struct Case {
    const char* line;
    const char* expected;
  } cases[] = {
      {"quillocmd --ou", "--output"},          {"quillocmd --k", "--keep-going"},
      {"quillocmd ", "B.RTF a.rtf sub"},       {"quillocmd -c a", "a.rtf"},
      {"quillocmd --trn ", "mine.trn sub"},    {"quillocmd -D PauseOn", "PauseOnErr=0"},
      {"quillocmd --split ", "0 1 2 3 4 5 6"}, {"quillocmd -T ", ""},
  };
  for (bool withPackage : {false, true}) {
    if (withPackage && !FileExists(kBashCompletion)) {
      GTEST_SKIP() << "bash-completion is not installed";
    }
    for (const Case& c : cases) {
      EXPECT_EQ(Complete(c.line, dir.path(), withPackage), c.expected)
          << c.line << (withPackage ? " (bash-completion)" : " (plain bash)");
    }
  }
}

}  // namespace
