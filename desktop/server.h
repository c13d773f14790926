// The HTTP side of the desktop application: one static page, the JSON API under /api/, the
// event stream, and read-only access to produced files, all behind the request guards.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace httplib {
class Server;
}

namespace quillo::desktop {

class DesktopApp;

/// One embedded file of the page.
struct Asset {
  const char* path;  ///< "/app.js"
  const char* contentType;
  const unsigned char* data;
  unsigned long size;
};
/// The page's files, compiled into the program (generated from desktop/assets/).
const Asset* FindAsset(const std::string& path);

class DesktopServer {
 public:
  DesktopServer(DesktopApp& app, std::string token);
  ~DesktopServer();
  /// Binds 127.0.0.1 on `port` (0: a free port). Returns the port, or -1.
  int Bind(int port);
  /// Serves until Stop (from any thread, or File -> Exit); returns at once when Stop came
  /// first. Returns once the requests being answered are done.
  void Run();
  /// Cancels the application's work (DesktopApp::Cancel) and makes Run return. Safe from any
  /// thread, at any time, more than once.
  void Stop();

 private:
  void InstallRoutes();
  void InstallGuards();       ///< host, token and origin checks before every route
  void InstallPageRoutes();   ///< the page's files and the produced files (/view)
  void InstallApiRoutes();    ///< /api/...: what the page asks for and does
  void InstallEventRoutes();  ///< the event stream and the error pages
  DesktopApp& app_;
  std::string token_;
  int port_ = -1;
  std::unique_ptr<httplib::Server> server_;
  // Run and Stop meet here: httplib's stop() does nothing until its accept loop runs, so a Stop
  // that comes while Run is on its way there waits for the loop instead of being lost.
  std::mutex runMutex_;
  bool stopRequested_ = false;
  bool runStarted_ = false;
  std::atomic<bool> runEnded_{false};
};

}  // namespace quillo::desktop
