// Request guards and the folder allow-list.
#include "guards.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <random>

#include "text_util.h"

namespace quillo::desktop {

std::string NewToken() {
  unsigned char bytes[16] = {};
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  bool filled = false;
  if (fd >= 0) {
    filled = read(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes);
    close(fd);
  }
  if (!filled) {
    std::random_device device;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(device());
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += kHex[b >> 4];
    token += kHex[b & 15];
  }
  return token;
}

bool TokenEquals(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

bool HostAllowed(const std::string& host, int port) {
  std::string p = ":" + std::to_string(port);
  std::string h = Lower(host);
  return h == "127.0.0.1" + p || h == "localhost" + p;
}

bool OriginAllowed(const std::string& origin, int port) {
  if (origin.empty()) return true;
  std::string p = ":" + std::to_string(port);
  std::string o = Lower(origin);
  return o == "http://127.0.0.1" + p || o == "http://localhost" + p;
}

std::string CookieValue(const std::string& header, const std::string& name) {
  size_t pos = 0;
  while (pos < header.size()) {
    size_t end = header.find(';', pos);
    if (end == std::string::npos) end = header.size();
    std::string part = Trim(std::string_view(header).substr(pos, end - pos));
    size_t eq = part.find('=');
    if (eq != std::string::npos && part.substr(0, eq) == name) return part.substr(eq + 1);
    pos = end + 1;
  }
  return "";
}

bool HasDotDot(const std::string& path) {
  // Decode %2e / %2E and %2f / %2F first so that an encoded ".." is seen too.
  std::string decoded;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '%' && i + 2 < path.size()) {
      std::string hex = Lower(path.substr(i + 1, 2));
      if (hex == "2e") {
        decoded += '.';
        i += 2;
        continue;
      }
      if (hex == "2f" || hex == "5c") {
        decoded += '/';
        i += 2;
        continue;
      }
    }
    decoded += path[i] == '\\' ? '/' : path[i];
  }
  size_t pos = 0;
  while (pos <= decoded.size()) {
    size_t end = decoded.find('/', pos);
    if (end == std::string::npos) end = decoded.size();
    if (decoded.compare(pos, end - pos, "..") == 0 && end - pos == 2) return true;
    pos = end + 1;
  }
  return false;
}

FileKind KindOfFile(const std::string& path) {
  std::string ext = Lower(Extension(path));
  if (ext == "rtf") return FileKind::kRtf;
  if (ext == "doc" || ext == "docx" || ext == "odt") return FileKind::kWord;
  if (ext == "htm" || ext == "html" || ext == "xhtml") return FileKind::kHtml;
  if (ext == "xml") return FileKind::kXml;
  return FileKind::kOther;
}

const char* FileKindName(FileKind kind) {
  switch (kind) {
    case FileKind::kRtf:
      return "rtf";
    case FileKind::kWord:
      return "word";
    case FileKind::kHtml:
      return "html";
    case FileKind::kXml:
      return "xml";
    case FileKind::kOther:
      break;
  }
  return "other";
}

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  if (path.empty() || !realpath(path.c_str(), buffer)) return "";
  return buffer;
}

bool FolderAllowList::Add(const std::string& folder) {
  std::string real = RealPath(folder);
  if (real.empty() || !IsDirectory(real)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  folders_.insert(real);
  return true;
}

bool FolderAllowList::Contains(const std::string& realFolder) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& f : folders_) {
    if (realFolder == f) return true;
    std::string prefix = f == "/" ? f : f + "/";
    if (realFolder.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

std::string FolderAllowList::Resolve(const std::string& path) const {
  if (path.empty() || path[0] != '/' || HasDotDot(path)) return "";
  std::string real = RealPath(path);
  if (real.empty() || !FileExists(real)) return "";
  return Contains(DirName(real)) ? real : "";
}

}  // namespace quillo::desktop
