// Text and file-name helpers.
#include "text_util.h"

#include <sys/stat.h>

#include <cerrno>

namespace quillo::desktop {

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t' || text[b] == '\r' || text[b] == '\n')) ++b;
  while (e > b &&
         (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\r' || text[e - 1] == '\n'))
    --e;
  return std::string(text.substr(b, e - b));
}

std::string Lower(std::string_view text) {
  std::string r(text);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string HtmlEscape(std::string_view text) {
  std::string r;
  r.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        r += "&amp;";
        break;
      case '<':
        r += "&lt;";
        break;
      case '>':
        r += "&gt;";
        break;
      case '"':
        r += "&quot;";
        break;
      case '\'':
        r += "&#39;";
        break;
      default:
        r += c;
    }
  }
  return r;
}

std::string DirName(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Extension(const std::string& path) {
  std::string base = BaseName(path);
  std::string::size_type dot = base.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  return base.substr(dot + 1);
}

std::string StripExtension(const std::string& path) {
  std::string ext = Extension(path);
  return ext.empty() && (path.empty() || path.back() != '.')
             ? path
             : path.substr(0, path.size() - ext.size() - 1);
}

bool MakeDirectories(const std::string& dir) {
  if (dir.empty()) return false;
  if (IsDirectory(dir)) return true;
  std::string parent = DirName(dir);
  if (parent != dir && parent != "." && !IsDirectory(parent) && !MakeDirectories(parent))
    return false;
  return mkdir(dir.c_str(), 0700) == 0 || (errno == EEXIST && IsDirectory(dir));
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

long long FileSize(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

}  // namespace quillo::desktop
