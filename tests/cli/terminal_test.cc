// quillocmd on a terminal: the pause after a failure waits for Enter only when a person can
// answer it, and large inputs show a progress bar. The program runs on a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using quillo::test::TempDir;
using quillo::test::WriteFile;

struct TerminalRun {
  int exitCode = -1;
  bool finished = false;  ///< false when the program had to be killed after the time limit
  std::string output;     ///< everything written to the terminal (standard output and error)
};

/// Runs quillocmd in `directory` with standard output and standard error on a new terminal, and
/// standard input too unless `inputIsTerminal` is false (then it reads /dev/null). Once the
/// output holds `prompt` (when not empty), `answer` is typed. The program is killed after
/// `limit`.
TerminalRun OnTerminal(const std::vector<std::string>& arguments, const std::string& directory,
                       bool inputIsTerminal, const std::string& prompt = "",
                       const std::string& answer = "",
                       std::chrono::seconds limit = std::chrono::seconds(30)) {
  std::string program = QUILLO_BINARY_DIR "/bin/quillocmd";
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  TerminalRun run;
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return run;
  if (pid == 0) {
    if (chdir(directory.c_str()) != 0) _exit(126);
    if (!inputIsTerminal) {
      int null = open("/dev/null", O_RDONLY);
      if (null < 0 || dup2(null, STDIN_FILENO) < 0) _exit(126);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool answered = prompt.empty();
  char buffer[4096];
  for (;;) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      break;
    }
    pollfd fd{master, POLLIN, 0};
    if (poll(&fd, 1, 100) <= 0) continue;
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) {
      run.finished = true;  // the terminal closed: the program ended
      break;
    }
    run.output.append(buffer, static_cast<std::size_t>(n));
    if (!answered && run.output.find(prompt) != std::string::npos) {
      answered = write(master, answer.data(), answer.size()) == static_cast<ssize_t>(answer.size());
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  if (run.finished && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(QuillocmdTerminalTest, PauseWaitsForEnterWhenSomeoneCanAnswer) {
  TempDir dir;
  WriteFile(dir.File("bad.rtf"), "not rtf");
  TerminalRun run = OnTerminal({"bad.rtf"}, dir.path(), true, "Press Enter", "\n");
  ASSERT_TRUE(run.finished) << run.output;
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(Contains(run.output, "See bad_err.htm file for details\r\nPress Enter\r\n"))
      << run.output;
}

TEST(QuillocmdTerminalTest, NoPauseWithoutSomeoneToAnswer) {
  TempDir dir;
  WriteFile(dir.File("bad.rtf"), "not rtf");
  // Standard input is a file or a pipe (a `while read` loop): the pause would eat its input.
  TerminalRun script = OnTerminal({"bad.rtf"}, dir.path(), false);
  ASSERT_TRUE(script.finished) << script.output;
  EXPECT_EQ(script.exitCode, 1);
  EXPECT_FALSE(Contains(script.output, "Press Enter")) << script.output;
  // On a terminal, PauseOnErr=0 turns the pause off: the program ends without an answer.
  TerminalRun off = OnTerminal({"-D", "PauseOnErr=0", "bad.rtf"}, dir.path(), true, "", "",
                               std::chrono::seconds(20));
  ASSERT_TRUE(off.finished) << off.output;
  EXPECT_EQ(off.exitCode, 1);
  EXPECT_FALSE(Contains(off.output, "Press Enter")) << off.output;
}

TEST(QuillocmdTerminalTest, LargeInputsShowAProgressBar) {
  TempDir dir;
  std::string document = "{\\rtf1\\ansi ";
  const std::string paragraph = "A paragraph of plain words that fills the document.\\par\n";
  while (document.size() < (5u << 20)) document += paragraph;
  document += "}";
  WriteFile(dir.File("big.rtf"), document);
  TerminalRun run = OnTerminal({"big.rtf"}, dir.path(), true, "", "", std::chrono::seconds(120));
  ASSERT_TRUE(run.finished) << run.output.substr(0, 200);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Contains(run.output, "\rquillocmd: [")) << run.output.substr(0, 200);
  EXPECT_TRUE(Contains(run.output, "% big.rtf"));
  // The bar is cleared at the end, so the terminal is left with a clean line.
  EXPECT_GE(run.output.size(), 4u);
  EXPECT_EQ(run.output.substr(run.output.size() - 4), "\r\x1b[K");

  // --quiet draws none; nor does a small input.
  TerminalRun quiet =
      OnTerminal({"--quiet", "big.rtf"}, dir.path(), true, "", "", std::chrono::seconds(120));
  ASSERT_TRUE(quiet.finished);
  EXPECT_EQ(quiet.output, "");
  WriteFile(dir.File("small.rtf"), "{\\rtf1 small\\par}");
  TerminalRun small = OnTerminal({"small.rtf"}, dir.path(), true);
  ASSERT_TRUE(small.finished);
  EXPECT_EQ(small.output, "");
}

}  // namespace
