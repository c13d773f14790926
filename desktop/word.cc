// LibreOffice headless conversion of word-processor documents to RTF.
#include "word.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "text_util.h"

extern char** environ;

namespace quillo::desktop {

const char* const kLibreOfficeMissing =
    "LibreOffice needs to be installed to open Word documents. Install it with:\n"
    "sudo apt-get install libreoffice-writer-nogui";

namespace {

void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (DIR* dir = opendir(path.c_str())) {
      while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        RemoveTree(path + "/" + name);
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

bool CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return false;
  std::string temp = to + ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << in.rdbuf();
    if (!out) {
      unlink(temp.c_str());
      return false;
    }
  }
  if (rename(temp.c_str(), to.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text(4096, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return Trim(text);
}

}  // namespace

std::string WordTargetName(const std::string& source) { return StripExtension(source) + ".rtf"; }

bool TargetIsFresh(const std::string& source, const std::string& target) {
  struct stat s, t;
  if (stat(target.c_str(), &t) != 0 || !S_ISREG(t.st_mode)) return false;
  if (stat(source.c_str(), &s) != 0) return true;
  if (t.st_mtim.tv_sec != s.st_mtim.tv_sec) return t.st_mtim.tv_sec > s.st_mtim.tv_sec;
  return t.st_mtim.tv_nsec > s.st_mtim.tv_nsec;
}

std::string FindLibreOffice() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (const char* program : {"soffice", "libreoffice"}) {
    size_t pos = 0;
    while (pos <= dirs.size()) {
      size_t end = dirs.find(':', pos);
      if (end == std::string::npos) end = dirs.size();
      std::string dir = dirs.substr(pos, end - pos);
      if (!dir.empty()) {
        std::string candidate = dir + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0 && FileExists(candidate)) return candidate;
      }
      pos = end + 1;
    }
  }
  return "";
}

WordResult ConvertWordToRtf(const std::string& source, int timeoutSeconds,
                            const std::atomic<bool>* cancel) {
  if (!FileExists(source)) return {"", "Error: \"" + source + "\" does not exist"};
  std::string soffice = FindLibreOffice();
  if (soffice.empty()) return {"", kLibreOfficeMissing};

  char pattern[] = "/tmp/quillo-office-XXXXXX";
  if (!mkdtemp(pattern))
    return {"", std::string("Cannot create a temporary folder: ") + std::strerror(errno)};
  std::string work = pattern;
  std::string outDir = work + "/out";
  mkdir(outDir.c_str(), 0700);
  std::string log = work + "/messages.txt";

  std::vector<std::string> args = {
      soffice,        "-env:UserInstallation=file://" + work + "/profile",
      "--headless",   "--norestore",
      "--convert-to", "rtf",
      "--outdir",     outDir,
      source};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // A process group of its own, so that a job that runs too long is ended with all its helpers.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, soffice.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    RemoveTree(work);
    return {"", "Cannot start LibreOffice (" + soffice + "): " + std::strerror(rc)};
  }

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  bool finished = false;
  bool cancelled = false;
  while (!finished) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) {
      finished = true;
      break;
    }
    if (cancel && *cancel) {
      cancelled = true;
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!finished) {
    kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
    RemoveTree(work);
    if (cancelled) return {"", "The conversion of " + source + " to RTF was stopped"};
    return {"", "LibreOffice did not finish converting " + source + " within " +
                    std::to_string(timeoutSeconds) + " seconds"};
  }
  // Helpers LibreOffice may have left behind in its group end with it.
  kill(-pid, SIGKILL);

  std::string produced = outDir + "/" + BaseName(WordTargetName(source));
  WordResult result;
  if (!FileExists(produced) || FileSize(produced) <= 0) {
    std::string said = ReadSmallFile(log);
    result.message = "LibreOffice could not convert " + source + " to RTF" +
                     (said.empty() ? std::string(".") : ":\n" + said);
  } else {
    std::string target = WordTargetName(source);
    if (CopyFile(produced, target)) {
      result.rtfPath = target;
    } else {
      result.message = "Cannot write " + target + ": " + std::strerror(errno);
    }
  }
  RemoveTree(work);
  return result;
}

}  // namespace quillo::desktop
