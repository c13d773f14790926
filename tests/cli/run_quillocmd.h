// Runs the built quillocmd as a user would from a shell, for the command-line tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace quillo::test {

struct CommandResult {
  int exitCode = -1;
  std::string output;  // stdout and stderr together
};

/// Runs `quillocmd ARGUMENTS` in `directory` with no standard input.
inline CommandResult Quillocmd(const std::string& arguments, const std::string& directory = ".") {
  std::string command = "cd '" + directory + "' && " QUILLO_BINARY_DIR "/bin/quillocmd " +
                        arguments + " </dev/null 2>&1";
  CommandResult run;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace quillo::test
