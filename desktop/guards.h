// The server's request guards: the per-run token, the Host and Origin checks that keep other
// web sites out, and the folder allow-list that decides which files the page may read.
#pragma once

#include <mutex>
#include <set>
#include <string>

namespace quillo::desktop {

/// A random token of 32 hexadecimal digits from the system's random source.
std::string NewToken();
/// Compares in time independent of where the texts differ.
bool TokenEquals(const std::string& a, const std::string& b);

/// True for "127.0.0.1:PORT" and "localhost:PORT": any other name may be a rebound DNS name
/// pointing at the loopback address.
bool HostAllowed(const std::string& host, int port);
/// True when a request that changes state may proceed: no Origin header (not a browser), or the
/// page's own origin. "null" and every other origin are refused.
bool OriginAllowed(const std::string& origin, int port);
/// The token carried by a Cookie header under `cookieName`, "" when none.
std::string CookieValue(const std::string& cookieHeader, const std::string& cookieName);
/// True when a request path or path parameter holds a ".." segment (also %2e%2e, decoded first).
bool HasDotDot(const std::string& path);

/// The file types of the open dialog and what opening them does.
enum class FileKind { kRtf, kWord, kHtml, kXml, kOther };
FileKind KindOfFile(const std::string& path);
/// "doc", "docx", "odt", "rtf" and so on, as the page names the kind.
const char* FileKindName(FileKind kind);

/// Folders the page may read files from: those the user opened a file in, the working folder of
/// dropped files, and where conversions wrote their output. Thread-safe.
class FolderAllowList {
 public:
  /// Adds the folder (resolved to its real path). False when it does not exist.
  bool Add(const std::string& folder);
  /// The real path of `path` when it names an existing file inside an allowed folder (after
  /// every symbolic link is resolved), else "".
  std::string Resolve(const std::string& path) const;
  /// True when `folder` (real path) is inside an allowed folder.
  bool Contains(const std::string& realFolder) const;

 private:
  mutable std::mutex mutex_;
  std::set<std::string> folders_;
};

/// The real path of `path`, "" when it does not exist.
std::string RealPath(const std::string& path);

}  // namespace quillo::desktop
