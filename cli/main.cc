// quillocmd: converts the RTF files named on its command line with the engine linked into it.
// Started without arguments it hands over to the desktop application `quillo` beside it.
#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine.h"

extern char** environ;

namespace {

constexpr const char* kBanner =
    "Drop your RTF file onto the filter and it will convert it to HTML\n"
    "(Info: This is Quillocmd 5.0.2 )\n\n";

/// Starts `quillo` from the program's own folder in a session of its own, without waiting.
bool StartDesktopApplication(char** argv) {
  std::string self = argv[0] ? argv[0] : "";
  std::string::size_type slash = self.rfind('/');
  std::string dir = slash == std::string::npos ? "." : self.substr(0, slash);
  std::string program = dir + "/quillo";
  if (access(program.c_str(), X_OK) != 0) return false;
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid;
  int rc = posix_spawn(&pid, program.c_str(), nullptr, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  return rc == 0;
}

int FailureExit(quillo::Engine& engine) {
  const std::string& errorFile = engine.messages.errorFileName;
  if (!errorFile.empty()) {
    std::fprintf(stderr, "Quillo has found errors and is unable to continue\n");
    std::fprintf(stderr, "See %s file for details\n", errorFile.c_str());
  }
  if (engine.settings.mirrors.pauseOnErr != 0) {
    std::fprintf(stderr, "Press Enter\n");
    std::fflush(stderr);
    std::getchar();
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1 && StartDesktopApplication(argv)) return 0;
  quillo::Engine& engine = quillo::GlobalEngine();
  int rc = quillo::ConvertFiles(engine, argc, argv);
  if (rc == 0) return 0;
  if (rc == -1) {
    std::string usage = std::string("Usage: ") + kBanner + "\n";
    quillo::PrintText(engine, usage);
  }
  return FailureExit(engine);
}
