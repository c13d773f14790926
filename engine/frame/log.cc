// The log file and the created-files list.
#include "frame/log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/file_table.h"
#include "base/html_escape.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "expand/functions.h"

namespace quillo {

void LogState::StreamCloser::operator()(std::FILE* stream) const {
  if (stream) std::fclose(stream);
}

namespace {

constexpr const char* kLogHeader[] = {
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\n",
    "<html>\n",
    "<!-\n",
    "This document was created by Quillo 5.0\n",
    "Quillo on the web: https://quillo.example.org/\n",
    "-->\n",
    "<title>Quillo log file</title>\n",
    "<head><body>\n",
    "<h2>Quillo Log File</h2>\n",
};

bool IsTrue(const std::string& value) { return value == "1" || value == "true"; }

/// File names may come from heading text; the log is HTML, so they are escaped.
std::string HtmlEscape(std::string_view text) { return HtmlEscaped(text, kEscapeQuotes); }

void Put(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

/// The directory of the expanded output name, "." when it has none, + "/" + the default name.
std::string DefaultLogPath(const std::string& outName) {
  std::size_t slash = outName.rfind('/');
  std::string dir = slash == std::string::npos ? "." : outName.substr(0, slash);
  return dir + "/" + kDefaultLogName;
}

/// Opens the log for writing (with "e": a script run later does not inherit it).
std::FILE* CreateLog(const std::string& path) {
  std::FILE* stream = std::fopen(path.c_str(), "we");
  if (stream)
    for (const char* line : kLogHeader) Put(stream, line);
  return stream;
}

/// The expansion of "$HrefFix(_LINK_)" for `link`, or `link` when the translation file defines no
/// HrefFix (an undefined function would only report itself once per file and empty the link).
std::string FixLink(Engine& engine, const std::string& link) {
  if (FindUserFunction(engine, "HrefFix") < 0) return link;
  // The name may come from heading text: the function gets it as literal text.
  SetLiteralSetting(engine, "_LINK_", link);
  try {
    return StrExp(engine, "$HrefFix(_LINK_)");
  } catch (const ConversionAbandoned&) {
    // The sweep also runs for abandoned conversions; the log keeps the plain link.
    return link;
  }
}

}  // namespace

void OpenLogFile(Engine& engine) {
  LogState& log = engine.log;
  if (log.stream || log.opening) return;
  log.opening = true;
  struct Reset {
    LogState& log;
    ~Reset() { log.opening = false; }
  } reset{log};

  if (!IsTrue(StrExp(engine, "$CreateLogFile;"))) {
    log.path.clear();
    return;
  }
  std::string newLog = StrExp(engine, "$NewLogFile;");
  std::string date = StrExp(engine, "$Date;");
  std::string time = StrExp(engine, "$Time;");
  std::string path = StrExp(engine, "$LogFileName;");
  std::string outName = StrExp(engine, "$OutFileName;");
  if (path.empty()) path = DefaultLogPath(outName);
  log.path = path;

  // Only the first conversion of a batch or wildcard run may start the log anew.
  bool create = engine.batch.counter <= 1 && IsTrue(newLog);
  if (log.collect) {
    // The host writes the part where the run would have, when it knows what came before.
    log.collected.push_back({path, create, {}});
    std::free(log.collectBuffer);
    log.collectBuffer = nullptr;
    log.collectSize = 0;
    log.stream.reset(open_memstream(&log.collectBuffer, &log.collectSize));
    if (!log.stream) ReportMessage(engine, "MSG_NO_LOGFILE", {path});
    create = false;
  } else if (!create) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
      log.stream.reset(std::fopen(path.c_str(), "ae"));
      if (!log.stream) ReportMessage(engine, "MSG_NO_LOGFILE", {path});
    } else {
      create = true;
    }
  }
  if (create && !log.collect) {
    log.stream.reset(CreateLog(path));
    if (!log.stream) ReportMessage(engine, "MSG_NO_LOGFILE", {path});
  }
  if (log.stream) {
    Put(log.stream.get(), "<h3>" + HtmlEscape(outName) + " (" + HtmlEscape(date) + ", " +
                              HtmlEscape(time) + ")</h3>\n");
    Put(log.stream.get(), "<ul>\n");
  }
  SetLiteralSetting(engine, "LogFileUsed", path);
}

std::string FileLink(std::string_view name) {
  std::string link = "file://";
  if (IsRelativePath(name)) {
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
      if (errno != ERANGE || buffer.size() > (1u << 20)) {
        buffer.assign(2, '\0');
        buffer[0] = '.';
        break;
      }
      buffer.resize(buffer.size() * 2);
    }
    link += buffer.data();
    if (link.back() != '/') link += '/';
  }
  link += name;
  return link;
}

void WriteLogFileLines(Engine& engine) {
  if (!engine.log.stream) return;
  // A snapshot: HrefFix may open files, which would grow the table being walked.
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : engine.files.entries)
    if (entry->state != FileState::kFree && entry->kind == FileKind::kDisk &&
        !entry->standardStream)
      files.emplace_back(entry->name, entry->access);
  for (const auto& [name, access] : files) {
    std::string link = FileLink(name);
    std::string href = FixLink(engine, link);
    if (!engine.log.stream) return;  // HrefFix ended the conversion's log
    const char* kind = access.empty()     ? ""
                       : access[0] == 'w' ? "write"
                       : access[0] == 'r' ? "read"
                                          : "";
    std::string text = link.substr(std::string_view("file://").size());
    Put(engine.log.stream.get(), std::string("<li>(") + kind + ") <a href=\"" + HtmlEscape(href) +
                                     "\">" + HtmlEscape(text) + "</a></li>\n");
  }
}

void RecordCreatedFile(Engine& engine, const FileEntry& entry) {
  if (entry.state == FileState::kFree || entry.kind != FileKind::kDisk || entry.access.empty() ||
      entry.access[0] != 'w' || entry.standardStream)
    return;
  std::vector<std::string>& names = engine.log.createdFiles;
  std::size_t n = static_cast<std::size_t>(++engine.files.outputFileCounter);
  // The counter is reset at the start of each argument-vector conversion (not in a batch run):
  // the list then starts again.
  names.resize(n - 1);
  names.push_back(entry.name);
}

void PublishCreatedFiles(Engine& engine) {
  const std::vector<std::string>& names = engine.log.createdFiles;
  if (names.empty() || engine.files.outputFileCounter <= 0) return;
  for (std::size_t i = 0; i < names.size(); ++i)
    SetLiteralSetting(engine, "OutputFileList" + std::to_string(i + 1), names[i]);
  SetSetting(engine, "OutputFileListCount", std::to_string(names.size()));
}

void CloseLogFile(Engine& engine) {
  LogState& log = engine.log;
  if (!log.stream) return;
  Put(log.stream.get(), "</ul>\n");
  log.stream.reset();
  if (log.collect && log.collectBuffer) {
    if (!log.collected.empty())
      log.collected.back().text.assign(log.collectBuffer, log.collectSize);
    std::free(log.collectBuffer);
    log.collectBuffer = nullptr;
    log.collectSize = 0;
  }
}

bool WriteCollectedLog(const LogState::Part& part) {
  struct stat st;
  const bool fresh = part.startNew || stat(part.path.c_str(), &st) != 0;
  std::FILE* stream = fresh ? CreateLog(part.path) : std::fopen(part.path.c_str(), "ae");
  if (!stream) return false;
  Put(stream, part.text);
  const bool written = std::ferror(stream) == 0;
  return std::fclose(stream) == 0 && written;
}

}  // namespace quillo
