#include "data_folder.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string_view>

namespace quillo::control {
namespace {

std::string ParentOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string Join(const std::string& directory, std::string_view name) {
  if (directory.empty() || directory.back() == '/') return directory + std::string(name);
  return directory + "/" + std::string(name);
}

/// Resolved absolute path of `path`, "" when it cannot be resolved.
std::string RealPath(const char* path) {
  if (!path || !*path) return std::string();
  char resolved[PATH_MAX];
  return realpath(path, resolved) ? std::string(resolved) : std::string();
}

/// Path of the shared object or program holding this function.
std::string ThisObject() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ThisObject), &info) == 0) return std::string();
  return RealPath(info.dli_fname);
}

}  // namespace

bool HoldsData(const std::string& directory) {
  if (directory.empty()) return false;
  struct stat st;
  return stat(Join(directory, kDataMarker).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> AnchoredCandidates(const std::string& anchor) {
  std::vector<std::string> candidates;
  std::string folder = ParentOf(anchor);
  if (folder.empty()) return candidates;
  candidates.push_back(folder);
  // Four levels reach the prefix from <prefix>/lib/python3/dist-packages/quillo.
  constexpr int kParentLevels = 4;
  for (int level = 0; level < kParentLevels && folder != "/"; ++level) {
    folder = ParentOf(folder);
    if (folder.empty()) break;
    candidates.push_back(Join(folder, "share/quillo"));
    candidates.push_back(Join(folder, "bin"));
  }
  return candidates;
}

std::vector<std::string> EnvironmentCandidates() {
  std::vector<std::string> candidates;
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (dataHome && *dataHome == '/')
    candidates.push_back(Join(dataHome, "quillo"));
  else if (home && *home == '/')
    candidates.push_back(Join(home, ".local/share/quillo"));
  const char* dataDirs = std::getenv("XDG_DATA_DIRS");
  std::string_view dirs = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
  while (!dirs.empty()) {
    std::string_view::size_type colon = dirs.find(':');
    std::string_view dir = dirs.substr(0, colon);
    // Relative entries are invalid by the XDG rules and would depend on the current folder.
    if (!dir.empty() && dir[0] == '/') candidates.push_back(Join(std::string(dir), "quillo"));
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return candidates;
}

std::string LocateDataFolder() {
  std::vector<std::string> candidates;
  std::string program = RealPath("/proc/self/exe");
  std::string object = ThisObject();
  if (!object.empty() && object != program) candidates = AnchoredCandidates(object);
  if (!program.empty()) {
    std::vector<std::string> more = AnchoredCandidates(program);
    candidates.insert(candidates.end(), more.begin(), more.end());
  }
  std::vector<std::string> environment = EnvironmentCandidates();
  candidates.insert(candidates.end(), environment.begin(), environment.end());
#ifdef QUILLO_DATA_DIR
  candidates.push_back(QUILLO_DATA_DIR);
#endif
  for (const std::string& candidate : candidates)
    if (HoldsData(candidate)) return candidate;
  return std::string();
}

}  // namespace quillo::control
