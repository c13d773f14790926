// The HTTP side of the desktop application: one static page, the JSON API under /api/, the
// event stream, and read-only access to produced files, all behind the request guards.
#pragma once

#include <memory>
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
  /// Serves until Stop (from any thread, or File -> Exit).
  void Run();
  void Stop();

 private:
  void InstallRoutes();
  DesktopApp& app_;
  std::string token_;
  int port_ = -1;
  std::unique_ptr<httplib::Server> server_;
};

}  // namespace quillo::desktop
