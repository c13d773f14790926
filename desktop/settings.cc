// quillo.ini: reading (tolerant, line by line) and writing (temporary file and rename).
#include "settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "text_util.h"

namespace quillo::desktop {

namespace {

std::string EnvOr(const char* name) {
  const char* v = std::getenv(name);
  return v && *v == '/' ? std::string(v) : std::string();
}

bool ParseBool(const std::string& v, bool* out) {
  std::string l = Lower(v);
  if (l == "true" || l == "1" || l == "yes" || l == "on") {
    *out = true;
    return true;
  }
  if (l == "false" || l == "0" || l == "no" || l == "off") {
    *out = false;
    return true;
  }
  return false;
}

bool ParseInt(const std::string& v, int* out) {
  int n = 0;
  auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (ec != std::errc() || end != v.data() + v.size()) return false;
  *out = n;
  return true;
}

/// One table drives reading and writing so that the two never disagree on a key.
struct Key {
  const char* name;
  enum Kind { kInt, kBool, kString } kind;
  int DesktopSettings::*intField;
  bool DesktopSettings::*boolField;
  std::string DesktopSettings::*stringField;
};

const Key kKeys[] = {
    {"MainLeft", Key::kInt, &DesktopSettings::mainLeft, nullptr, nullptr},
    {"MainTop", Key::kInt, &DesktopSettings::mainTop, nullptr, nullptr},
    {"MainWidth", Key::kInt, &DesktopSettings::mainWidth, nullptr, nullptr},
    {"MainHeight", Key::kInt, &DesktopSettings::mainHeight, nullptr, nullptr},
    {"PaneLayout", Key::kString, nullptr, nullptr, &DesktopSettings::paneLayout},
    {"showHTMLAfterTranslation", Key::kBool, nullptr, &DesktopSettings::showHTMLAfterTranslation,
     nullptr},
    {"showErrorAfterTranslation", Key::kBool, nullptr, &DesktopSettings::showErrorAfterTranslation,
     nullptr},
    {"showLogAfterTranslation", Key::kBool, nullptr, &DesktopSettings::showLogAfterTranslation,
     nullptr},
    {"useWordForRTF", Key::kBool, nullptr, &DesktopSettings::useWordForRTF, nullptr},
    {"autoConvertDD", Key::kBool, nullptr, &DesktopSettings::autoConvertDD, nullptr},
    {"displayRTF", Key::kBool, nullptr, &DesktopSettings::displayRTF, nullptr},
    {"useFSThreshold", Key::kBool, nullptr, &DesktopSettings::useFSThreshold, nullptr},
    {"FSThreshold", Key::kInt, &DesktopSettings::FSThreshold, nullptr, nullptr},
    {"showTips", Key::kBool, nullptr, &DesktopSettings::showTips, nullptr},
    {"showSample", Key::kBool, nullptr, &DesktopSettings::showSample, nullptr},
    {"openPath", Key::kString, nullptr, nullptr, &DesktopSettings::openPath},
    {"patternListIndex", Key::kInt, &DesktopSettings::patternListIndex, nullptr, nullptr},
    {"cmdlineFName", Key::kString, nullptr, nullptr, &DesktopSettings::cmdlineFName},
    {"InstallDir", Key::kString, nullptr, nullptr, &DesktopSettings::installDir},
};

}  // namespace

std::string HomeDirectory() {
  std::string home = EnvOr("HOME");
  return home.empty() ? std::string(".") : home;
}

std::string ConfigDirectory() {
  std::string base = EnvOr("XDG_CONFIG_HOME");
  if (base.empty()) base = HomeDirectory() + "/.config";
  return base + "/quillo";
}

std::string DataDirectory() {
  std::string base = EnvOr("XDG_DATA_HOME");
  if (base.empty()) base = HomeDirectory() + "/.local/share";
  return base + "/quillo";
}

DesktopSettings DesktopSettings::Defaults() {
  DesktopSettings s;
  s.openPath = HomeDirectory();
  s.cmdlineFName = ConfigDirectory() + "/cmd.trn";
  return s;
}

DesktopSettings ParseSettings(const std::string& text) {
  DesktopSettings s = DesktopSettings::Defaults();
  std::istringstream in(text);
  std::string line;
  bool inSettings = false;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      inSettings = Lower(line) == "[settings]";
      continue;
    }
    if (!inSettings) continue;
    std::string::size_type eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    std::string name = Trim(line.substr(0, eq));
    std::string value = Trim(line.substr(eq + 1));
    bool known = false;
    for (const Key& key : kKeys) {
      if (Lower(name) != Lower(key.name)) continue;
      known = true;
      switch (key.kind) {
        case Key::kInt:
          ParseInt(value, &(s.*key.intField));
          break;
        case Key::kBool:
          ParseBool(value, &(s.*key.boolField));
          break;
        case Key::kString:
          s.*key.stringField = value;
          break;
      }
      break;
    }
    if (known) continue;
    // "1mnuFileMRU" to "4mnuFileMRU": the recent files.
    if (name.size() == 11 && name[0] >= '1' && name[0] <= '4' &&
        Lower(name.substr(1)) == "mnufilemru") {
      s.mru[name[0] - '1'] = value;
      continue;
    }
    if (name.find_first_of("\r\n") == std::string::npos) s.unknown[name] = value;
  }
  // Empty paths mean "not chosen": keep the defaults rather than an unusable blank.
  if (s.openPath.empty()) s.openPath = HomeDirectory();
  if (s.cmdlineFName.empty()) s.cmdlineFName = ConfigDirectory() + "/cmd.trn";
  if (s.FSThreshold < 0) s.FSThreshold = 0;
  // Close gaps so that the list is always "most recent first".
  std::array<std::string, 4> packed;
  int n = 0;
  for (const std::string& entry : s.mru)
    if (!entry.empty()) packed[n++] = entry;
  s.mru = packed;
  return s;
}

DesktopSettings ReadSettings(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return DesktopSettings::Defaults();
  std::ostringstream text;
  text << in.rdbuf();
  return ParseSettings(text.str());
}

std::string FormatSettings(const DesktopSettings& s) {
  std::string out = "[Settings]\n";
  auto single = [](const std::string& v) {
    // A value is one line; a line break would start a new key when read back.
    std::string r = v;
    for (char& c : r)
      if (c == '\n' || c == '\r') c = ' ';
    return r;
  };
  for (const Key& key : kKeys) {
    out += key.name;
    out += '=';
    switch (key.kind) {
      case Key::kInt:
        out += std::to_string(s.*key.intField);
        break;
      case Key::kBool:
        out += (s.*key.boolField) ? "true" : "false";
        break;
      case Key::kString:
        out += single(s.*key.stringField);
        break;
    }
    out += '\n';
  }
  for (int i = 0; i < 4; ++i)
    out += std::to_string(i + 1) + "mnuFileMRU=" + single(s.mru[i]) + "\n";
  for (const auto& [name, value] : s.unknown) out += name + "=" + single(value) + "\n";
  return out;
}

std::string WriteFileAtomically(const std::string& path, const std::string& text) {
  std::string::size_type slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    std::string dir = path.substr(0, slash);
    if (!MakeDirectories(dir))
      return "Cannot create the folder " + dir + ": " + std::strerror(errno);
  }
  std::string temp = path + ".tmp" + std::to_string(getpid());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return "Cannot write " + path + ": " + std::strerror(errno);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::string why = std::strerror(errno);
      close(fd);
      unlink(temp.c_str());
      return "Cannot write " + path + ": " + why;
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    unlink(temp.c_str());
    return "Cannot write " + path + ": " + std::strerror(errno);
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    std::string why = std::strerror(errno);
    unlink(temp.c_str());
    return "Cannot write " + path + ": " + why;
  }
  return "";
}

std::string WriteSettings(const std::string& path, const DesktopSettings& settings) {
  return WriteFileAtomically(path, FormatSettings(settings));
}

void AddRecentFile(DesktopSettings& s, const std::string& path) {
  RemoveRecentFile(s, path);
  for (int i = 3; i > 0; --i) s.mru[i] = s.mru[i - 1];
  s.mru[0] = path;
}

void RemoveRecentFile(DesktopSettings& s, const std::string& path) {
  std::array<std::string, 4> kept;
  int n = 0;
  for (const std::string& entry : s.mru)
    if (!entry.empty() && entry != path) kept[n++] = entry;
  s.mru = kept;
}

}  // namespace quillo::desktop
