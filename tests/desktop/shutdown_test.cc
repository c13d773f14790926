// Stopping the desktop application: Ctrl-C (and File -> Exit) must end it promptly and cleanly
// whatever it is doing: just started, serving event streams, converting. The server is tested
// in this process; the program itself (build/bin/quillo) runs as a child process.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app.h"
#include "server.h"

extern char** environ;

namespace quillo::desktop {
namespace {

using Clock = std::chrono::steady_clock;

/// Far longer than any stop may take: reaching it means the program hangs.
constexpr int kHangSeconds = 20;

std::string TempDir() {
  char pattern[] = "/tmp/quillo-shutdown-XXXXXX";
  return mkdtemp(pattern) ? pattern : "";
}

void RemoveDir(const std::string& dir) {
  if (!dir.empty()) {
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
  }
}

/// Runs `work` on a thread; false when it has not returned within kHangSeconds. A hung server
/// cannot be taken back, so the test program then ends with the failure on record.
bool EndsInTime(std::function<void()> work) {
  std::packaged_task<void()> task(std::move(work));
  std::future<void> done = task.get_future();
  std::thread thread(std::move(task));
  if (done.wait_for(std::chrono::seconds(kHangSeconds)) != std::future_status::ready) {
    ADD_FAILURE() << "did not end within " << kHangSeconds << " s";
    std::fflush(stdout);
    std::_Exit(1);
  }
  thread.join();
  return true;
}

TEST(ServerStopTest, AStopIsNeverLostHoweverEarlyItComes) {
  std::string root = TempDir();
  ASSERT_FALSE(root.empty());
  AppPaths paths;
  paths.programPath = root + "/quillo";
  paths.settingsFile = root + "/quillo.ini";
  paths.droppedDir = root + "/dropped";
  paths.viewDir = root + "/view";
  DesktopApp app(paths);
  // Stop before Run: Run returns at once.
  {
    DesktopServer server(app, "token");
    ASSERT_GT(server.Bind(0), 0);
    server.Stop();
    EXPECT_TRUE(EndsInTime([&] { server.Run(); }));
  }
  // Stop while Run starts, at every moment the scheduler offers: it never waits for a request.
  for (int i = 0; i < 100; ++i) {
    DesktopServer server(app, "token");
    ASSERT_GT(server.Bind(0), 0);
    std::thread run([&] { server.Run(); });
    if (i % 2) std::this_thread::sleep_for(std::chrono::microseconds(50 * i));
    EXPECT_TRUE(EndsInTime([&] { server.Stop(); }));
    EXPECT_TRUE(EndsInTime([&] { run.join(); })) << "round " << i;
  }
  // Stop from two threads at once.
  DesktopServer server(app, "token");
  ASSERT_GT(server.Bind(0), 0);
  std::thread run([&] { server.Run(); });
  std::thread other([&] { server.Stop(); });
  server.Stop();
  other.join();
  EXPECT_TRUE(EndsInTime([&] { run.join(); }));
  app.Stop();
  RemoveDir(root);
}

// ---- The program --------------------------------------------------------------------------------

/// build/bin/quillo with its own settings and data folders, and what it prints.
class Program {
 public:
  explicit Program(const std::string& root) : root_(root) {}
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  /// Starts it and reads its address. False (with the reason in output()) when it does not
  /// print one.
  bool Start() {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return false;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string v = *e;
      if (v.rfind("HOME=", 0) && v.rfind("XDG_CONFIG_HOME=", 0) && v.rfind("XDG_DATA_HOME=", 0))
        env.push_back(v);
    }
    env.push_back("HOME=" + root_ + "/home");
    env.push_back("XDG_CONFIG_HOME=" + root_ + "/config");
    env.push_back("XDG_DATA_HOME=" + root_ + "/data");
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string program = QUILLO_DESKTOP_PROGRAM, noBrowser = "--no-browser";
    char* argv[] = {program.data(), noBrowser.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out_ = pipeFds[0];
    if (rc != 0) {
      pid_ = -1;
      output_ = "cannot start " + program + ": " + std::strerror(rc);
      return false;
    }
    static const std::regex address(R"(http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]+))");
    auto deadline = Clock::now() + std::chrono::seconds(kHangSeconds);
    std::smatch m;
    while (!std::regex_search(output_, m, address)) {
      if (Clock::now() > deadline || !ReadSome(100)) return false;
    }
    port_ = std::stoi(m[1]);
    token_ = m[2];
    return true;
  }

  void Signal(int sig) { kill(pid_, sig); }

  /// Waits for the program to end: its exit status, or -1 when it was still running after
  /// kHangSeconds (it is killed then).
  int WaitForExit() {
    auto deadline = Clock::now() + std::chrono::seconds(kHangSeconds);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
      }
      ReadSome(10);
    }
    pid_ = -1;
    while (ReadSome(1000)) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  /// A connection to the server, or -1.
  int Connect() const {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }

  /// The text of a request with this run's key and the page's own Host and Origin.
  std::string RequestText(const std::string& method, const std::string& path,
                          const std::string& body = "", bool keepAlive = false) const {
    std::string host = "127.0.0.1:" + std::to_string(port_);
    return method + " " + path + " HTTP/1.1\r\nHost: " + host + "\r\nOrigin: http://" + host +
           "\r\nCookie: quillo_" + std::to_string(port_) + "=" + token_ +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: " + (keepAlive ? "keep-alive" : "close") + "\r\n\r\n" + body;
  }

  /// Sends a request and reads the answer until the server closes the connection.
  std::string Fetch(const std::string& method, const std::string& path,
                    const std::string& body = "") const {
    int fd = Connect();
    if (fd < 0) return "";
    std::string request = RequestText(method, path, body);
    std::string answer;
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size()))
      ReadUntil(fd, "", &answer);
    close(fd);
    return answer;
  }

  const std::string& output() const { return output_; }

 private:
  /// Reads what the program printed, waiting up to `ms`. False at its end of output.
  bool ReadSome(int ms) {
    pollfd p = {out_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return true;
    char buffer[4096];
    ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<size_t>(n));
    return true;
  }

 public:
  /// Reads from `fd` into `*text` until it contains `wanted` (true) or the connection ends
  /// (true when `wanted` is empty) or kHangSeconds pass.
  static bool ReadUntil(int fd, const std::string& wanted, std::string* text) {
    auto deadline = Clock::now() + std::chrono::seconds(kHangSeconds);
    while (wanted.empty() || text->find(wanted) == std::string::npos) {
      pollfd p = {fd, POLLIN, 0};
      if (Clock::now() > deadline) return false;
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[4096];
      ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return wanted.empty();
      text->append(buffer, static_cast<size_t>(n));
    }
    return true;
  }

 private:
  std::string root_;
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
  int port_ = 0;
  std::string token_;
};

TEST(ProgramStopTest, CtrlCTheMomentItHasStarted) {
  std::string root = TempDir();
  ASSERT_FALSE(root.empty());
  for (int i = 0; i < 15; ++i) {
    Program program(root);
    ASSERT_TRUE(program.Start()) << program.output();
    program.Signal(SIGINT);
    ASSERT_EQ(program.WaitForExit(), 0) << "round " << i << ":\n" << program.output();
    EXPECT_NE(program.output().find("\nQuillo has stopped.\n"), std::string::npos)
        << program.output();
  }
  RemoveDir(root);
}

TEST(ProgramStopTest, CtrlCEndsOpenEventStreamsAndIdleConnections) {
  std::string root = TempDir();
  ASSERT_FALSE(root.empty());
  Program program(root);
  ASSERT_TRUE(program.Start()) << program.output();
  std::vector<int> streams;
  for (int i = 0; i < 3; ++i) {
    int fd = program.Connect();
    ASSERT_GE(fd, 0);
    std::string request = program.RequestText("GET", "/api/events", "", true);
    ASSERT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    std::string head;
    ASSERT_TRUE(Program::ReadUntil(fd, "\r\n\r\n", &head));
    EXPECT_NE(head.find("text/event-stream"), std::string::npos) << head;
    streams.push_back(fd);
  }
  // A connection kept alive after its answer, and one that never sent a request.
  int idle = program.Connect();
  std::string request = program.RequestText("GET", "/api/state", "", true);
  ASSERT_EQ(send(idle, request.data(), request.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(request.size()));
  std::string answer;
  ASSERT_TRUE(Program::ReadUntil(idle, "\"lastEvent\"", &answer)) << answer;
  int silent = program.Connect();
  ASSERT_GE(silent, 0);

  program.Signal(SIGINT);
  ASSERT_EQ(program.WaitForExit(), 0) << program.output();
  EXPECT_NE(program.output().find("\nQuillo has stopped.\n"), std::string::npos)
      << program.output();
  for (int fd : streams) {
    std::string rest;
    EXPECT_TRUE(Program::ReadUntil(fd, "", &rest)) << "the stream ends with the program";
    close(fd);
  }
  close(idle);
  close(silent);
  RemoveDir(root);
}

TEST(ProgramStopTest, CtrlCStopsARunningConversion) {
  std::string root = TempDir();
  ASSERT_FALSE(root.empty());
  // Large enough that converting it takes seconds: the stop comes at its first progress report.
  std::string document = root + "/long.rtf";
  {
    std::ofstream out(document, std::ios::binary);
    out << "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times New Roman;}}\n";
    std::string paragraphs;
    for (int i = 0; i < 1000; ++i)
      paragraphs += "Quillo converts long documents one paragraph at a time. \\par\n";
    for (int i = 0; i < 600; ++i) out << paragraphs;
    out << "}\n";
  }
  Program program(root);
  ASSERT_TRUE(program.Start()) << program.output();
  int events = program.Connect();
  ASSERT_GE(events, 0);
  std::string request = program.RequestText("GET", "/api/events", "", true);
  ASSERT_EQ(send(events, request.data(), request.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(request.size()));
  std::string stream;
  ASSERT_TRUE(Program::ReadUntil(events, "\r\n\r\n", &stream));
  std::string body = "{\"path\":\"" + document + "\"}";
  ASSERT_NE(program.Fetch("POST", "/api/open", body).find("\"ok\":true"), std::string::npos);
  ASSERT_NE(program.Fetch("POST", "/api/translate", body).find("\"ok\":true"), std::string::npos);
  ASSERT_TRUE(Program::ReadUntil(events, "(2%)", &stream)) << stream;

  program.Signal(SIGINT);
  ASSERT_EQ(program.WaitForExit(), 0) << program.output();
  EXPECT_NE(program.output().find("The conversion of " + document +
                                  " was stopped before it ended.\nQuillo has stopped.\n"),
            std::string::npos)
      << program.output();
  EXPECT_EQ(stream.find("event: complete"), std::string::npos);
  close(events);
  RemoveDir(root);
}

TEST(ProgramStopTest, ExitAnswersThenStops) {
  std::string root = TempDir();
  ASSERT_FALSE(root.empty());
  Program program(root);
  ASSERT_TRUE(program.Start()) << program.output();
  std::string answer = program.Fetch("POST", "/api/exit", "{}");
  EXPECT_NE(answer.find("HTTP/1.1 200"), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"ok\":true}"), std::string::npos) << answer;
  ASSERT_EQ(program.WaitForExit(), 0) << program.output();
  EXPECT_NE(program.output().find("\nQuillo has stopped.\n"), std::string::npos)
      << program.output();
  RemoveDir(root);
}

TEST(ProgramStopTest, WhatDoesNotEndInTimeIsNotWaitedFor) {
  std::string root = TempDir();
  ASSERT_FALSE(root.empty());
  for (bool twice : {false, true}) {
    Program program(root);
    ASSERT_TRUE(program.Start()) << program.output();
    // A request that never ends keeps its thread reading longer than a stop may take.
    int slow = program.Connect();
    std::string half = "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    ASSERT_EQ(send(slow, half.data(), half.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(half.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    program.Signal(SIGINT);
    // A second stop signal (another kind, as two Ctrl-C sent at once would be taken as one).
    if (twice) program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(), 1) << program.output();
    EXPECT_NE(program.output().find(twice ? "quillo: stopped at once\n"
                                          : "quillo: stopping took longer than 3 seconds; "
                                            "stopped without waiting\n"),
              std::string::npos)
        << program.output();
    close(slow);
  }
  RemoveDir(root);
}

}  // namespace
}  // namespace quillo::desktop
