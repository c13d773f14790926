#include "base/data_folders.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine.h"

namespace quillo {
namespace {

/// `folder` without its last component ("/opt/q/bin" -> "/opt/q"); "/" stays "/".
std::string ParentFolder(std::string_view folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  std::size_t slash = folder.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(folder.substr(0, slash));
}

/// The folder of an absolute file path, "" for anything else.
std::string FolderOfFile(const std::string& path) {
  if (path.empty() || path[0] != '/') return {};
  std::size_t slash = path.rfind('/');
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

/// <folder>/../share/quillo, with the ".." resolved.
std::string ShareFolderBeside(const std::string& binaryFolder) {
  std::string prefix = ParentFolder(binaryFolder);
  if (prefix == "/") prefix.clear();
  return prefix + "/share/" + kDataFolderName;
}

/// Absolute, symlink-free path of the file that holds this code: libquillo.so when the engine
/// is linked into it, otherwise the program (or module) itself.
std::string EngineFilePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&InstalledDataFolders), &info) == 0 || !info.dli_fname ||
      !*info.dli_fname)
    return {};
  char resolved[PATH_MAX];
  if (!realpath(info.dli_fname, resolved)) return {};
  return resolved;
}

bool IsReadableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), R_OK) == 0;
}

}  // namespace

std::string RunningProgramPath() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  path[n] = '\0';
  return path;
}

std::vector<std::string> InstalledDataFolders() {
  std::vector<std::string> folders;
  auto add = [&folders](std::string folder) {
    if (folder.empty()) return;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    for (const std::string& known : folders)
      if (known == folder) return;
    folders.push_back(std::move(folder));
  };

  std::string program = FolderOfFile(RunningProgramPath());
  if (!program.empty()) add(ShareFolderBeside(program));
  std::string engineFile = FolderOfFile(EngineFilePath());
  if (!engineFile.empty()) add(ShareFolderBeside(engineFile));

  // The XDG base-directory rules: an unset or empty variable means the two system folders, and
  // relative entries are ignored.
  const char* xdg = std::getenv("XDG_DATA_DIRS");
  std::string_view dirs = xdg && *xdg ? xdg : "/usr/local/share:/usr/share";
  while (!dirs.empty()) {
    std::size_t colon = dirs.find(':');
    std::string_view entry = dirs.substr(0, colon);
    if (!entry.empty() && entry[0] == '/') {
      std::string folder(entry);
      while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
      add((folder == "/" ? "" : folder) + "/" + kDataFolderName);
    }
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
#ifdef QUILLO_DATA_DIR
  add(QUILLO_DATA_DIR);
#endif
  return folders;
}

std::string DataFolderInUse(const Engine& engine) {
  std::vector<std::string> candidates;
  if (const char* env = std::getenv("RTFLIBDIR"); env && *env) candidates.emplace_back(env);
  candidates.push_back(engine.settings.paths.programDirectory);
  candidates.emplace_back("LIBDIR");
  for (std::string& folder : InstalledDataFolders()) candidates.push_back(std::move(folder));
  for (const std::string& folder : candidates)
    if (!folder.empty() && IsReadableFile(folder + "/rtf-ctrl.txt")) return folder;
  return {};
}

}  // namespace quillo
