// Routes and request guards.
#include "server.h"

#include <httplib.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "app.h"
#include "guards.h"
#include "text_util.h"

namespace quillo::desktop {

namespace {

/// Threads answering requests. Every open page holds one for its event stream, and a browser
/// keeps up to six connections to a server; a stream whose page went away holds its thread
/// until its next heartbeat fails to write.
constexpr size_t kThreads = 32;
/// An idle connection is closed after this long, and a stopping server waits this long at
/// most for idle connections to end.
constexpr time_t kKeepAliveSeconds = 1;
/// An event stream with nothing to say writes a comment this often; writing to a page that
/// went away fails, which ends the stream.
constexpr int kHeartbeatMs = 5000;

const char* ContentTypeOf(const std::string& path) {
  std::string ext = Lower(Extension(path));
  if (ext == "html" || ext == "htm") return "text/html";
  if (ext == "xhtml") return "application/xhtml+xml";
  if (ext == "xml" || ext == "opf" || ext == "ncx") return "text/xml";
  if (ext == "css") return "text/css";
  if (ext == "png") return "image/png";
  if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
  if (ext == "gif") return "image/gif";
  if (ext == "svg") return "image/svg+xml";
  if (ext == "bmp") return "image/bmp";
  if (ext == "epub") return "application/epub+zip";
  if (ext == "txt" || ext == "rtf" || ext == "trn" || ext == "log") return "text/plain";
  return "application/octet-stream";
}

void SendJson(httplib::Response& res, const Json& body, int status = 200) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(body.dump(), "application/json");
}

Json ParseBody(const httplib::Request& req) {
  Json j = Json::parse(req.body, nullptr, false);
  return j.is_discarded() || !j.is_object() ? Json::object() : j;
}

std::string Field(const Json& j, const char* key) {
  return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : std::string();
}

void Refuse(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(Json{{"ok", false}, {"message", text}, {"title", "Quillo"}}.dump(),
                  "application/json");
}

}  // namespace

DesktopServer::DesktopServer(DesktopApp& app, std::string token)
    : app_(app), token_(std::move(token)), server_(std::make_unique<httplib::Server>()) {}

DesktopServer::~DesktopServer() = default;

int DesktopServer::Bind(int port) {
  if (port == 0) {
    port_ = server_->bind_to_any_port("127.0.0.1");
  } else {
    port_ = server_->bind_to_port("127.0.0.1", port) ? port : -1;
  }
  if (port_ > 0) InstallRoutes();
  return port_;
}

void DesktopServer::Run() {
  {
    std::lock_guard<std::mutex> lock(runMutex_);
    if (stopRequested_) return;
    runStarted_ = true;
  }
  server_->listen_after_bind();
  runEnded_ = true;
}

void DesktopServer::Stop() {
  // Event streams wait for news and the worker may be converting: both end first, so that no
  // request being answered keeps the server from stopping.
  app_.Cancel();
  {
    std::lock_guard<std::mutex> lock(runMutex_);
    if (stopRequested_) return;
    stopRequested_ = true;
    if (!runStarted_) return;  // Run sees the request and does not listen
  }
  while (!server_->is_running() && !runEnded_)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  server_->stop();
}

void DesktopServer::InstallRoutes() {
  httplib::Server& s = *server_;
  s.set_payload_max_length(DesktopApp::kMaxUpload);
  s.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  s.set_keep_alive_timeout(kKeepAliveSeconds);
  InstallGuards();
  InstallPageRoutes();
  InstallApiRoutes();
  InstallEventRoutes();
}

void DesktopServer::InstallGuards() {
  httplib::Server& s = *server_;
  const std::string cookieName = "quillo_" + std::to_string(port_);
  s.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                         {"Referrer-Policy", "no-referrer"},
                         {"Cross-Origin-Resource-Policy", "same-origin"}});

  // Every request passes the guards first: the Host must be this server (a DNS name rebound to
  // 127.0.0.1 is refused), the token must come with it, and a request that changes something
  // must come from the page itself.
  s.set_pre_routing_handler([this, cookieName](const httplib::Request& req,
                                               httplib::Response& res) {
    if (!HostAllowed(req.get_header_value("Host"), port_)) {
      Refuse(res, 421, "This server answers only to 127.0.0.1:" + std::to_string(port_));
      return httplib::Server::HandlerResponse::Handled;
    }
    if (HasDotDot(req.path)) {
      Refuse(res, 400, "Paths with \"..\" are refused");
      return httplib::Server::HandlerResponse::Handled;
    }
    for (const auto& [key, value] : req.params) {
      if (key != "token" && HasDotDot(value)) {
        Refuse(res, 400, "Paths with \"..\" are refused");
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    std::string cookie = CookieValue(req.get_header_value("Cookie"), cookieName);
    std::string query = req.get_param_value("token");
    bool viaCookie = TokenEquals(cookie, token_);
    bool viaQuery = TokenEquals(query, token_);
    if (!viaCookie && !viaQuery) {
      res.status = 403;
      res.set_content(
          "<!DOCTYPE html><title>Quillo</title><p>Please open Quillo with the address it printed "
          "when it started: that address carries this session's key.</p>",
          "text/html");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.method != "GET" && req.method != "HEAD") {
      std::string site = req.get_header_value("Sec-Fetch-Site");
      if (!OriginAllowed(req.get_header_value("Origin"), port_) ||
          (!site.empty() && site != "same-origin" && site != "none")) {
        Refuse(res, 403, "Requests from other web pages are refused");
        return httplib::Server::HandlerResponse::Handled;
      }
    }
    if (viaQuery && !viaCookie) {
      res.set_header("Set-Cookie",
                     cookieName + "=" + token_ + "; HttpOnly; SameSite=Strict; Path=/");
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
}

void DesktopServer::InstallPageRoutes() {
  httplib::Server& s = *server_;
  // ---- The page -------------------------------------------------------------------------------
  auto serveAsset = [](const std::string& path, httplib::Response& res) {
    const Asset* asset = FindAsset(path);
    if (!asset) {
      res.status = 404;
      return;
    }
    res.set_header("Cache-Control", "no-cache");
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data:; style-src 'self'; script-src 'self'; "
                   "frame-src 'self'; object-src 'none'; base-uri 'none'; frame-ancestors 'none'");
    res.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->contentType);
  };
  s.Get("/", [serveAsset](const httplib::Request& req, httplib::Response& res) {
    if (req.has_param("token")) {
      // The token leaves the address bar (and the history) once the cookie holds it.
      res.set_redirect("/");
      return;
    }
    serveAsset("/index.html", res);
  });
  s.Get(R"(/(app\.js|dialogs\.js|app\.css|help\.html|icon\.svg))",
        [serveAsset](const httplib::Request& req, httplib::Response& res) {
          serveAsset(req.path, res);
        });
  s.Get("/help", [serveAsset](const httplib::Request&, httplib::Response& res) {
    serveAsset("/help.html", res);
  });

  // ---- Produced files, read-only ---------------------------------------------------------------
  s.Get(R"(/view(/.*))", [this](const httplib::Request& req, httplib::Response& res) {
    const std::string requested = req.matches[1].str();
    std::string real = app_.allowList().Resolve(requested);
    if (real.empty()) {
      res.status = 404;
      res.set_content("<!DOCTYPE html><title>Not found</title><p>" + HtmlEscape(requested) +
                          " does not exist or is outside the opened folders.</p>",
                      "text/html");
      return;
    }
    auto in = std::make_shared<std::ifstream>(real, std::ios::binary);
    long long size = FileSize(real);
    if (!*in || size < 0) {
      res.status = 404;
      return;
    }
    // Documents are untrusted: no scripts run in what they produced, even opened on their own.
    res.set_header("Content-Security-Policy",
                   "sandbox allow-same-origin allow-popups allow-modals; script-src 'none'; "
                   "object-src 'none'; frame-ancestors 'self'");
    res.set_header("Cache-Control", "no-cache");
    res.set_content_provider(static_cast<size_t>(size), ContentTypeOf(real),
                             [in](size_t offset, size_t length, httplib::DataSink& sink) {
                               char buffer[65536];
                               in->seekg(static_cast<std::streamoff>(offset));
                               size_t want = std::min(length, sizeof buffer);
                               in->read(buffer, static_cast<std::streamsize>(want));
                               std::streamsize got = in->gcount();
                               if (got <= 0) return false;
                               sink.write(buffer, static_cast<size_t>(got));
                               return true;
                             });
  });
}

void DesktopServer::InstallApiRoutes() {
  httplib::Server& s = *server_;
  // ---- The API -------------------------------------------------------------------------------
  s.Get("/api/state",
        [this](const httplib::Request&, httplib::Response& res) { SendJson(res, app_.State()); });
  s.Get("/api/about", [this](const httplib::Request&, httplib::Response& res) {
    SendJson(res, {{"ok", true}, {"about", app_.About()}});
  });
  s.Get("/api/list", [this](const httplib::Request& req, httplib::Response& res) {
    SendJson(res, app_.ListFolder(req.get_param_value("dir")));
  });
  s.Get("/api/source", [this](const httplib::Request& req, httplib::Response& res) {
    SendJson(res, app_.Source(req.get_param_value("path")));
  });
  s.Get("/api/editor", [this](const httplib::Request&, httplib::Response& res) {
    SendJson(res, app_.EditorGet());
  });

  auto post = [&s](const char* path, std::function<Json(const Json&)> action) {
    s.Post(path, [action](const httplib::Request& req, httplib::Response& res) {
      SendJson(res, action(ParseBody(req)));
    });
  };
  post("/api/open", [this](const Json& b) { return app_.Open(Field(b, "path"), false); });
  post("/api/translate", [this](const Json& b) { return app_.Translate(Field(b, "path")); });
  post("/api/preview", [this](const Json& b) { return app_.Preview(Field(b, "path")); });
  post("/api/save", [this](const Json& b) {
    return app_.SaveSource(Field(b, "path"), Field(b, "text"), Field(b, "saveAs"));
  });
  post("/api/tools",
       [this](const Json& b) { return app_.ToolsView(Field(b, "what"), Field(b, "path")); });
  post("/api/settings", [this](const Json& b) { return app_.UpdateSettings(b); });
  post("/api/editor/apply",
       [this](const Json& b) { return app_.EditorApply(b.value("state", Json::object())); });
  post("/api/editor/save",
       [this](const Json& b) { return app_.EditorSave(b.value("state", Json::object())); });
  post("/api/editor/load", [this](const Json&) { return app_.EditorLoad(); });
  post("/api/editor/sample",
       [this](const Json& b) { return app_.EditorSample(b.value("state", Json::object())); });
  s.Post("/api/upload", [this](const httplib::Request& req, httplib::Response& res) {
    SendJson(res, app_.Upload(req.get_param_value("name"), req.body));
  });
  s.Post("/api/exit", [this](const httplib::Request&, httplib::Response& res) {
    // The server stops once the answer has been written (httplib releases a content provider
    // after writing the response), so the page hears that it was understood; then main() ends.
    auto body = std::make_shared<std::string>(Json{{"ok", true}}.dump());
    res.set_header("Cache-Control", "no-store");
    res.set_content_provider(
        body->size(), "application/json",
        [body](size_t offset, size_t length, httplib::DataSink& sink) {
          return sink.write(body->data() + offset, std::min(length, body->size() - offset));
        },
        [this](bool) { Stop(); });
  });
}

void DesktopServer::InstallEventRoutes() {
  httplib::Server& s = *server_;
  // ---- Events ----------------------------------------------------------------------------------
  s.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) {
    // The stream starts after the event the page saw last: Last-Event-ID when the browser
    // reconnects, ?after= (lastEvent of /api/state) on the first connection, else from now on.
    // An id this run never reached comes from an earlier run of the program: from now on too.
    uint64_t now = app_.events().LastId();
    std::string from = req.get_header_value("Last-Event-ID");
    if (from.empty()) from = req.get_param_value("after");
    uint64_t after = from.empty() ? now : std::strtoull(from.c_str(), nullptr, 10);
    if (after > now) after = now;
    auto cursor = std::make_shared<uint64_t>(after);
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream", [this, cursor](size_t, httplib::DataSink& sink) {
          std::vector<Event> events = app_.events().WaitAfter(*cursor, kHeartbeatMs);
          if (app_.events().Closed()) {
            sink.done();  // the program stops: the stream ends
            return true;
          }
          std::string text;
          for (const Event& e : events) {
            text += FormatServerSentEvent(e);
            *cursor = e.id;
          }
          if (text.empty())
            text = ": still here\n\n";  // keeps proxies and the browser from timing out
          return sink.write(text.data(), text.size());
        });
  });

  s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.status == 413) {
      Refuse(res, 413, "The file is too large to open here (the limit is 256 MB)");
    } else if (res.body.empty()) {
      Refuse(res, res.status, "Not found");
    }
  });
}

}  // namespace quillo::desktop
