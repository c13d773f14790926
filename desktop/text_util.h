// Small text and file-name helpers shared by the desktop application's modules.
#pragma once

#include <string>
#include <string_view>

namespace quillo::desktop {

std::string Trim(std::string_view text);
std::string Lower(std::string_view text);
/// Escapes &, <, >, " and ' for HTML text and attribute values.
std::string HtmlEscape(std::string_view text);
/// The folder part of `path` (text before the last "/"), "." when there is none, "/" for "/x".
std::string DirName(const std::string& path);
/// The name after the last "/".
std::string BaseName(const std::string& path);
/// The extension: text after the last "." of the base name, "" when none (".bashrc" has none).
std::string Extension(const std::string& path);
/// `path` without its extension and its ".".
std::string StripExtension(const std::string& path);
/// Creates `dir` and its parents (mode 0700 for new folders). True when it exists afterwards.
bool MakeDirectories(const std::string& dir);
bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);
/// Size in bytes, -1 when the file cannot be examined.
long long FileSize(const std::string& path);

}  // namespace quillo::desktop
