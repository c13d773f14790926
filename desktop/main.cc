// quillo: the desktop application. A small web server on 127.0.0.1 that serves the page the
// user works in and drives the engine through the control; the browser is its window.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app.h"
#include "control.h"
#include "guards.h"
#include "server.h"
#include "settings.h"
#include "text_util.h"

extern char** environ;

namespace {

using namespace quillo::desktop;

constexpr const char* kUsage =
    "Usage: quillo [--port N] [--no-browser] [FILE...]\n"
    "Starts the Quillo desktop application: a page in your web browser where you open RTF, Word,\n"
    "HTML and XML files, convert RTF to web pages and look at the results.\n"
    "\n"
    "  --port N       listen on 127.0.0.1 port N (default: a free port)\n"
    "  --no-browser   print the address instead of opening the browser\n"
    "  --help         show this text\n"
    "  --version      show the version\n"
    "\n"
    "The address printed carries a key for this run; only 127.0.0.1 is served.\n"
    "Settings: $XDG_CONFIG_HOME/quillo/quillo.ini; dropped files: $XDG_DATA_HOME/quillo/dropped/\n";

/// After Ctrl-C the program stops what it does and ends; if that takes longer than this (a
/// request or a conversion that does not end), it ends without waiting.
constexpr time_t kStopGraceSeconds = 3;

/// Removes the private folder of viewer renderings.
void RemoveTree(const std::string& path) {
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      std::string full = path + "/" + name;
      struct stat st;
      if (lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        RemoveTree(full);
      else
        unlink(full.c_str());
    }
    closedir(dir);
  }
  rmdir(path.c_str());
}

std::string ProgramPath(const char* argv0) {
  std::string self = RealPath("/proc/self/exe");
  return self.empty() ? RealPath(argv0) : self;
}

/// Opens `url` with $BROWSER or the desktop's default handler, without waiting and without a
/// shell (the address is one argument).
bool OpenBrowser(const std::string& url) {
  std::vector<std::string> programs;
  if (const char* browser = std::getenv("BROWSER"); browser && *browser)
    programs.push_back(browser);
  programs.push_back("xdg-open");
  for (std::string& program : programs) {
    std::string u = url;
    char* argv[] = {program.data(), u.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid;
    int rc = posix_spawnp(&pid, program.c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc == 0) return true;
  }
  return false;
}

/// What the command line asks for.
struct Arguments {
  int port = 0;
  bool openBrowser = true;
  std::vector<std::string> files;
};

/// Reads the command line into `args`; -1 to go on, else the status to end with (after --help,
/// --version or a mistake, which is reported).
int ReadArguments(int argc, char** argv, Arguments& args) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-?") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--version") {
      std::printf("quillo %s\n", quillo::Control::Version().c_str());
      return 0;
    }
    if (a == "--no-browser") {
      args.openBrowser = false;
    } else if (a == "--port" || a.rfind("--port=", 0) == 0) {
      std::string value = a == "--port" ? (i + 1 < argc ? argv[++i] : "") : a.substr(7);
      char* end = nullptr;
      long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end || n < 0 || n > 65535) {
        std::fprintf(stderr, "quillo: --port needs a number from 0 to 65535\n%s", kUsage);
        return 2;
      }
      args.port = static_cast<int>(n);
    } else if (a == "--") {
      for (++i; i < argc; ++i) args.files.push_back(argv[i]);
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "quillo: unknown option %s\n%s", a.c_str(), kUsage);
      return 2;
    } else {
      args.files.push_back(a);
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (int status = ReadArguments(argc, argv, args); status >= 0) return status;
  const int port = args.port;

  // Ctrl-C and the like are taken by one thread that stops the server; every other thread
  // (HTTP, worker) inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  AppPaths paths;
  paths.programPath = ProgramPath(argv[0]);
  paths.settingsFile = ConfigDirectory() + "/quillo.ini";
  paths.droppedDir = DataDirectory() + "/dropped";
  char viewPattern[] = "/tmp/quillo-view-XXXXXX";
  const char* tmp = mkdtemp(viewPattern);
  paths.viewDir = tmp ? tmp : DataDirectory() + "/view";
  std::string besideProgram = DirName(paths.programPath) + "/readme.rtf";
  paths.sampleFile =
      FileExists(besideProgram) ? besideProgram : quillo::Control::DataDirectory() + "/readme.rtf";

  DesktopApp app(paths);
  const std::string token = NewToken();
  DesktopServer server(app, token);
  int bound = server.Bind(port);
  if (bound < 0) {
    std::fprintf(stderr, "quillo: cannot listen on 127.0.0.1:%d (%s)\n", port,
                 port ? "is another program using it?" : "no free port");
    return 1;
  }
  app.Start(args.files);

  // The first stop signal stops the server; the orderly end that follows gets a few seconds,
  // and a second signal ends the program at once. `finished` tells this thread that main()
  // is done with the server and the application (it holds `stopMutex` while it ends the
  // program, so main() cannot destroy them meanwhile).
  std::mutex stopMutex;
  bool finished = false;
  std::thread signalThread([&] {
    int received = 0;
    sigwait(&stopSignals, &received);
    {
      std::lock_guard<std::mutex> lock(stopMutex);
      if (finished) return;  // main() woke this thread to end it
    }
    server.Stop();
    struct timespec grace = {kStopGraceSeconds, 0};
    siginfo_t info;
    int again;
    do {
      again = sigtimedwait(&stopSignals, &info, &grace);
    } while (again < 0 && errno == EINTR);
    std::lock_guard<std::mutex> lock(stopMutex);
    if (finished) return;
    std::fflush(stdout);
    if (again > 0)
      std::fprintf(stderr, "quillo: stopped at once\n");
    else
      std::fprintf(stderr,
                   "quillo: stopping took longer than %d seconds; stopped without waiting\n",
                   static_cast<int>(kStopGraceSeconds));
    RemoveTree(paths.viewDir);
    _exit(1);
  });

  std::string url = "http://127.0.0.1:" + std::to_string(bound) + "/?token=" + token;
  std::printf("Quillo %s is running at %s\nPress Ctrl-C to stop it.\n",
              quillo::Control::Version().c_str(), url.c_str());
  std::fflush(stdout);
  if (args.openBrowser && !OpenBrowser(url))
    std::printf("Could not start a web browser: open the address above in yours.\n");
  std::fflush(stdout);

  server.Run();
  app.Stop();
  {
    std::lock_guard<std::mutex> lock(stopMutex);
    finished = true;
  }
  pthread_kill(signalThread.native_handle(), SIGTERM);
  signalThread.join();
  RemoveTree(paths.viewDir);
  if (!app.InterruptedConversion().empty())
    std::printf("The conversion of %s was stopped before it ended.\n",
                app.InterruptedConversion().c_str());
  std::printf("Quillo has stopped.\n");
  return 0;
}
