// The application's operations. HTTP threads call them; engine work runs on the worker thread.
#include "app.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "control.h"
#include "pictures.h"
#include "produced_files.h"
#include "text_util.h"
#include "word.h"

namespace quillo::desktop {

namespace {

/// LibreOffice gets this long for one document before its job is ended.
constexpr int kWordTimeoutSeconds = 120;

/// Thrown from the engine's progress callback when the program stops: the control ends the
/// conversion at its next token and hands this back to the worker.
struct ConversionCancelled {};

constexpr const char* kStopping = "Quillo is stopping";

std::string ReadWholeFile(const std::string& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  return text.str();
}

/// RTF is 8-bit text: each byte becomes the character of the same number, so that the source
/// view shows it and gives it back byte for byte.
std::string BytesToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

/// The inverse of BytesToUtf8. Characters above 255 (typed into the source view) are written
/// as RTF Unicode escapes with "?" as their fallback.
std::string Utf8ToBytes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned cp = c;
    int extra = 0;
    if (c >= 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else if (c >= 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if (c >= 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    }
    ++i;
    for (int k = 0; k < extra && i < text.size(); ++k, ++i)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    if (cp < 256) {
      out += static_cast<char>(cp);
    } else if (cp < 0x10000) {
      int signedValue = cp > 32767 ? static_cast<int>(cp) - 65536 : static_cast<int>(cp);
      out += "\\u" + std::to_string(signedValue) + "?";
    } else {
      out += "?";
    }
  }
  return out;
}

bool LooksLikeRtf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[16] = {};
  in.read(head, sizeof head);
  std::string start(head, static_cast<size_t>(in.gcount()));
  size_t i = 0;
  // A byte-order mark or leading blank lines occur in the wild; the engine copes with them.
  if (start.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
  while (i < start.size() &&
         (start[i] == ' ' || start[i] == '\r' || start[i] == '\n' || start[i] == '\t'))
    ++i;
  return start.compare(i, 5, "{\\rtf") == 0;
}

std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

/// Replaces quoted references to `oldName` by `newName` in a produced page, so that a picture
/// converted after the page was written is still shown.
void RewritePictureReference(const std::string& page, const std::string& oldName,
                             const std::string& newName) {
  bool ok = false;
  std::string text = ReadWholeFile(page, &ok);
  if (!ok) return;
  bool changed = false;
  for (char quote : {'"', '\''}) {
    std::string from = std::string(1, quote) + oldName + quote;
    std::string to = std::string(1, quote) + newName + quote;
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
      text.replace(pos, from.size(), to);
      pos += to.size();
      changed = true;
    }
  }
  if (changed) WriteFileAtomically(page, text);
}

Json SettingsJson(const DesktopSettings& s) {
  Json mru = Json::array();
  for (const std::string& m : s.mru)
    if (!m.empty()) mru.push_back(m);
  return {{"MainLeft", s.mainLeft},
          {"MainTop", s.mainTop},
          {"MainWidth", s.mainWidth},
          {"MainHeight", s.mainHeight},
          {"PaneLayout", s.paneLayout},
          {"showHTMLAfterTranslation", s.showHTMLAfterTranslation},
          {"showErrorAfterTranslation", s.showErrorAfterTranslation},
          {"showLogAfterTranslation", s.showLogAfterTranslation},
          {"useWordForRTF", s.useWordForRTF},
          {"autoConvertDD", s.autoConvertDD},
          {"displayRTF", s.displayRTF},
          {"useFSThreshold", s.useFSThreshold},
          {"FSThreshold", s.FSThreshold},
          {"showTips", s.showTips},
          {"showSample", s.showSample},
          {"openPath", s.openPath},
          {"patternListIndex", s.patternListIndex},
          {"cmdlineFName", s.cmdlineFName},
          {"InstallDir", s.installDir},
          {"mru", mru}};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Life cycle

DesktopApp::DesktopApp(AppPaths paths) : paths_(std::move(paths)) {
  settings_ = ReadSettings(paths_.settingsFile);
  settings_.installDir = DirName(paths_.programPath);
  MakeDirectories(paths_.droppedDir);
  MakeDirectories(paths_.viewDir);
  allowList_.Add(paths_.droppedDir);
  allowList_.Add(paths_.viewDir);
  // The translation options of the last session come back from the command-line file.
  if (FileExists(settings_.cmdlineFName)) ReadCmdFile(settings_.cmdlineFName, editor_);
  editorOptions_ = EditorOptionsLocked();
}

DesktopApp::~DesktopApp() { Stop(); }

void DesktopApp::Start(const std::vector<std::string>& startupFiles) {
  control_ = std::make_unique<Control>();
  about_ = control_->AboutBox();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& f : startupFiles) startupFiles_.push_back(Absolute(f));
  }
  worker_ = std::thread([this] { WorkerLoop(); });
}

void DesktopApp::Cancel() {
  cancelled_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  jobsChanged_.notify_all();
  events_.Close();
}

void DesktopApp::Stop() {
  Cancel();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
    SaveSettingsLocked();
  }
  if (worker_.joinable()) worker_.join();
}

void DesktopApp::SaveSettingsLocked() { WriteSettings(paths_.settingsFile, settings_); }

// ---------------------------------------------------------------------------------------------
// Events

void DesktopApp::PublishStatus(const std::string& text) {
  events_.Publish("status", Json{{"text", text}}.dump());
}

void DesktopApp::PublishProgress(int value, bool visible) {
  events_.Publish("progress", Json{{"value", value}, {"visible", visible}}.dump());
}

void DesktopApp::PublishBox(const std::string& text, const std::string& title) {
  events_.Publish("box", Json{{"text", text}, {"title", title}}.dump());
}

Json DesktopApp::Message(const std::string& text, const std::string& title) const {
  return {{"ok", false}, {"message", text}, {"title", title}};
}

// ---------------------------------------------------------------------------------------------
// State and settings

Json DesktopApp::State() {
  // Taken first: the page's event stream starts after it, so nothing that happens while the
  // page starts is missed (an event may repeat what the state already says).
  uint64_t lastEvent = events_.LastId();
  std::lock_guard<std::mutex> lock(mutex_);
  Json files = startupFiles_;
  startupFiles_.clear();
  return {{"settings", SettingsJson(settings_)},
          {"busy", translating_.load()},
          {"lastEvent", lastEvent},
          {"about", about_},
          {"version", Control::Version()},
          {"startupFiles", files},
          {"droppedDir", paths_.droppedDir},
          {"sampleFile", paths_.sampleFile},
          {"editor", EditorJsonLocked()}};
}

Json DesktopApp::UpdateSettings(const Json& c) {
  std::lock_guard<std::mutex> lock(mutex_);
  DesktopSettings& s = settings_;
  auto flag = [&](const char* key, bool& field) {
    if (c.contains(key) && c[key].is_boolean()) field = c[key].get<bool>();
  };
  auto number = [&](const char* key, int& field, int low, int high) {
    if (c.contains(key) && c[key].is_number_integer())
      field = std::clamp(c[key].get<int>(), low, high);
  };
  flag("showHTMLAfterTranslation", s.showHTMLAfterTranslation);
  flag("showErrorAfterTranslation", s.showErrorAfterTranslation);
  flag("showLogAfterTranslation", s.showLogAfterTranslation);
  flag("useWordForRTF", s.useWordForRTF);
  flag("autoConvertDD", s.autoConvertDD);
  flag("displayRTF", s.displayRTF);
  flag("useFSThreshold", s.useFSThreshold);
  flag("showTips", s.showTips);
  flag("showSample", s.showSample);
  number("FSThreshold", s.FSThreshold, 0, 2000000);
  number("patternListIndex", s.patternListIndex, 0, 16);
  number("MainLeft", s.mainLeft, -1000000, 1000000);
  number("MainTop", s.mainTop, -1000000, 1000000);
  number("MainWidth", s.mainWidth, 0, 1000000);
  number("MainHeight", s.mainHeight, 0, 1000000);
  if (c.contains("PaneLayout") && c["PaneLayout"].is_string())
    s.paneLayout = c["PaneLayout"].get<std::string>().substr(0, 4096);
  if (c.contains("openPath") && c["openPath"].is_string() &&
      IsDirectory(c["openPath"].get<std::string>()))
    s.openPath = c["openPath"].get<std::string>();
  if (c.contains("cmdlineFName") && c["cmdlineFName"].is_string()) {
    std::string name = Trim(c["cmdlineFName"].get<std::string>());
    std::string why = CheckCmdFileName(name);
    if (!why.empty()) return Message(why);
    if (!name.empty() && name[0] != '/')
      return Message("Please give the command-line file as a full path: " + name);
    s.cmdlineFName = name;
    editorOptions_ = EditorOptionsLocked();
  }
  SaveSettingsLocked();
  return {{"ok", true}, {"settings", SettingsJson(s)}};
}

// ---------------------------------------------------------------------------------------------
// Opening files

bool DesktopApp::IsDropped(const std::string& realPath) const {
  std::string dropped = RealPath(paths_.droppedDir);
  return !dropped.empty() && realPath.compare(0, dropped.size() + 1, dropped + "/") == 0;
}

Json DesktopApp::Open(const std::string& requested, bool dropped) {
  std::string path = Absolute(requested);
  if (path.empty() || HasDotDot(path)) return Message("Please choose a file by its full path");
  if (!FileExists(path)) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool wasRecent =
        std::find(settings_.mru.begin(), settings_.mru.end(), path) != settings_.mru.end();
    if (wasRecent) {
      RemoveRecentFile(settings_, path);
      SaveSettingsLocked();
    }
    Json m = Message(path + " does not exist");
    m["settings"] = SettingsJson(settings_);
    return m;
  }
  path = RealPath(path);
  FileKind kind = KindOfFile(path);
  if (kind == FileKind::kOther) return Message("Only rtf, doc, html and xml files may be loaded");
  allowList_.Add(DirName(path));

  Json doc = {{"path", path}, {"name", BaseName(path)}, {"kind", FileKindName(kind)}};
  if (kind == FileKind::kWord) {
    bool useWord;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      useWord = settings_.useWordForRTF;
    }
    if (!useWord)
      return Message(
          "Word documents are opened by converting them to RTF with LibreOffice. Turn on "
          "\"Convert Word documents to RTF with LibreOffice\" in View->Options to open " +
          BaseName(path));
    std::string target = WordTargetName(path);
    std::lock_guard<std::mutex> wordLock(wordMutex_);
    if (TargetIsFresh(path, target)) {
      PublishStatus("Using existing file " + target);
    } else {
      PublishStatus("Saving " + BaseName(path) + " as RTF");
      WordResult r = ConvertWordToRtf(path, kWordTimeoutSeconds, &cancelled_);
      PublishStatus("");
      if (r.rtfPath.empty()) return Message(r.message);
      target = r.rtfPath;
    }
    doc["wordSource"] = path;
    path = RealPath(target);
    doc["path"] = path;
    doc["name"] = BaseName(path);
    doc["kind"] = "rtf";
    kind = FileKind::kRtf;
  }

  std::lock_guard<std::mutex> lock(mutex_);
  AddRecentFile(settings_,
                doc.contains("wordSource") ? doc["wordSource"].get<std::string>() : path);
  settings_.openPath = DirName(path);
  if (dropped) RemoveRecentFile(settings_, path);  // the working folder is no place to return to
  SaveSettingsLocked();

  doc["dropped"] = IsDropped(path);
  doc["url"] = "/view" + path;
  if (kind == FileKind::kRtf) {
    long long size = FileSize(path);
    doc["size"] = size;
    doc["step"] = ProgressStep(size);
    bool overThreshold =
        settings_.useFSThreshold && size > static_cast<long long>(settings_.FSThreshold) * 1000;
    doc["displayed"] = settings_.displayRTF && !overThreshold;
    if (overThreshold)
      doc["status"] = BaseName(path) +
                      " not displayed as the file size is greater than the threshold, use "
                      "View->Options to change";
    if (!LooksLikeRtf(path))
      doc["warning"] =
          BaseName(path) + " does not look like an RTF file (it does not begin with {\\rtf)";
  } else {
    doc["displayed"] = true;
  }
  return {{"ok", true}, {"doc", doc}, {"settings", SettingsJson(settings_)}};
}

Json DesktopApp::Upload(const std::string& rawName, const std::string& body) {
  std::string name = BaseName(rawName);
  bool bad = name.empty() || name[0] == '.' || name.size() > 200 || HasDotDot(rawName);
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') bad = true;
  if (bad) return Message("This file name cannot be used: " + rawName);
  if (KindOfFile(name) == FileKind::kOther)
    return Message("Only rtf, doc, html and xml files may be loaded");
  if (!MakeDirectories(paths_.droppedDir)) return Message("Cannot create " + paths_.droppedDir);
  std::string target = paths_.droppedDir + "/" + name;
  std::string why = WriteFileAtomically(target, body);
  if (!why.empty()) return Message(why);
  Json opened = Open(target, true);
  if (!opened.value("ok", false)) return opened;
  bool autoConvert;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    autoConvert = settings_.autoConvertDD;
  }
  const Json& doc = opened["doc"];
  if (autoConvert && doc["kind"] == "rtf") {
    Json t = Translate(doc["path"].get<std::string>());
    opened["translate"] = t;
  }
  return opened;
}

Json DesktopApp::Source(const std::string& path) {
  std::string real = allowList_.Resolve(path);
  if (real.empty()) return Message(path + " is not one of the opened files");
  bool ok = false;
  std::string bytes = ReadWholeFile(real, &ok);
  if (!ok) return Message("Cannot read " + real);
  return {{"ok", true}, {"path", real}, {"text", BytesToUtf8(bytes)}};
}

Json DesktopApp::SaveSource(const std::string& path, const std::string& text,
                            const std::string& saveAs) {
  std::string bytes = Utf8ToBytes(text);
  if (saveAs.empty()) {
    std::string real = allowList_.Resolve(path);
    if (real.empty() || KindOfFile(real) != FileKind::kRtf)
      return Message(path + " is not one of the opened RTF files");
    // The previous file is kept as NAME.bak, so one Save can always be undone.
    std::string backup = real + ".bak";
    bool ok = false;
    std::string previous = ReadWholeFile(real, &ok);
    if (ok) {
      std::string why = WriteFileAtomically(backup, previous);
      if (!why.empty()) return Message(why);
    }
    std::string why = WriteFileAtomically(real, bytes);
    if (!why.empty()) return Message(why);
    return {{"ok", true}, {"path", real}, {"backup", backup}};
  }
  std::string target = Absolute(saveAs);
  if (HasDotDot(target)) return Message("Please choose a file by its full path");
  if (Lower(Extension(target)) != "rtf")
    return Message("Please save RTF text under a name ending in .rtf");
  std::string dir = RealPath(DirName(target));
  if (dir.empty() || !IsDirectory(dir))
    return Message("The folder " + DirName(target) + " does not exist");
  target = dir + "/" + BaseName(target);
  std::string why = WriteFileAtomically(target, bytes);
  if (!why.empty()) return Message(why);
  allowList_.Add(dir);
  std::lock_guard<std::mutex> lock(mutex_);
  AddRecentFile(settings_, target);
  SaveSettingsLocked();
  return {{"ok", true}, {"path", target}, {"settings", SettingsJson(settings_)}};
}

Json DesktopApp::ListFolder(const std::string& requested) {
  std::string dir = requested.empty() ? HomeDirectory() : requested;
  if (dir[0] != '/' || HasDotDot(dir)) return Message("Please give a full path");
  std::string real = RealPath(dir);
  if (real.empty() || !IsDirectory(real)) return Message(dir + " does not exist");
  DIR* d = opendir(real.c_str());
  if (!d) return Message("Cannot read the folder " + real);
  Json entries = Json::array();
  // A folder of a million files must not make a response of a million entries.
  constexpr size_t kMaxEntries = 5000;
  bool truncated = false;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    if (entries.size() >= kMaxEntries) {
      truncated = true;
      break;
    }
    std::string full = real == "/" ? "/" + name : real + "/" + name;
    struct stat st;
    if (stat(full.c_str(), &st) != 0) continue;
    bool isDir = S_ISDIR(st.st_mode);
    if (!isDir && !S_ISREG(st.st_mode)) continue;
    entries.push_back({{"name", name},
                       {"dir", isDir},
                       {"size", isDir ? 0 : static_cast<long long>(st.st_size)},
                       {"mtime", static_cast<long long>(st.st_mtime)}});
  }
  closedir(d);
  std::sort(entries.begin(), entries.end(), [](const Json& a, const Json& b) {
    if (a["dir"] != b["dir"]) return a["dir"].get<bool>();
    return Lower(a["name"].get<std::string>()) < Lower(b["name"].get<std::string>());
  });
  return {{"ok", true},
          {"dir", real},
          {"parent", real == "/" ? "" : DirName(real)},
          {"home", HomeDirectory()},
          {"truncated", truncated},
          {"entries", entries}};
}

// ---------------------------------------------------------------------------------------------
// Conversions

Json DesktopApp::Translate(const std::string& requested) {
  std::string path = allowList_.Resolve(requested);
  if (path.empty()) {
    if (!requested.empty() && !FileExists(requested)) return Message(requested + " does not exist");
    return Message("Please open a file before translating it");
  }
  FileKind kind = KindOfFile(path);
  if (kind == FileKind::kWord) {
    std::string rtf = WordTargetName(path);
    if (!FileExists(rtf)) return Message(rtf + " does not exist");
    path = RealPath(rtf);
  } else if (kind != FileKind::kRtf) {
    return Message("Sorry, can't translate this file type");
  }
  if (!LooksLikeRtf(path))
    return Message(
        BaseName(path) +
        " is not an RTF file (it does not begin with {\\rtf), so it cannot be translated");
  bool expected = false;
  if (!translating_.compare_exchange_strong(expected, true))
    return Message("Sorry, only one translation allowed at a time");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      translating_ = false;
      return Message(kStopping);
    }
    // Published before the worker can take the job, so that its "busy": false comes after.
    events_.Publish("busy", Json{{"busy", true}}.dump());
    jobs_.push_back({Job::kTranslate, path, IsDropped(path), "", ""});
  }
  jobsChanged_.notify_all();
  return {{"ok", true}, {"path", path}};
}

Json DesktopApp::Preview(const std::string& requested) {
  std::string path = allowList_.Resolve(requested);
  if (path.empty() || KindOfFile(path) != FileKind::kRtf)
    return Message(requested + " is not one of the opened RTF files");
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return Message(kStopping);
  std::string folder = paths_.viewDir + "/view" + std::to_string(++viewCounter_);
  MakeDirectories(folder);
  std::string output = folder + "/" + BaseName(StripExtension(path)) + ".html";
  jobs_.push_back({Job::kPreview, path, true, output, ""});
  jobsChanged_.notify_all();
  return {{"ok", true}, {"path", path}};
}

Json DesktopApp::EditorSample(const Json& state) {
  std::string sample = paths_.sampleFile;
  if (!FileExists(sample)) return Message("The sample document " + sample + " does not exist");
  bool expected = false;
  if (!translating_.compare_exchange_strong(expected, true))
    return Message("Sorry, only one translation allowed at a time");
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) {
    translating_ = false;
    return Message(kStopping);
  }
  EditorState e = EditorFromJson(state);
  std::string folder = paths_.viewDir + "/sample" + std::to_string(++viewCounter_);
  MakeDirectories(folder);
  // The sample shows the options on screen, saved or not: they go to a command-line file of
  // its own.
  std::string cmdFile = folder + "/cmd.trn";
  WriteCmdFile(cmdFile, UpdateStrings(e));
  std::string options = SetTranslationOptions(e) + " -DCmdLineFile=" + cmdFile;
  events_.Publish("busy", Json{{"busy", true}}.dump());
  jobs_.push_back({Job::kSample, sample, false, folder + "/readme.html", options});
  jobsChanged_.notify_all();
  return {{"ok", true}};
}

void DesktopApp::WorkerLoop() {
  while (true) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      jobsChanged_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      if (stopping_) break;
      job = jobs_.front();
      jobs_.pop_front();
    }
    try {
      RunJob(job);
    } catch (const ConversionCancelled&) {
      if (job.kind != Job::kPreview) interrupted_ = job.path;
    } catch (const std::exception& e) {
      PublishBox(std::string("The conversion stopped: ") + e.what());
    }
    EndTranslation();  // when it stopped without its completion
  }
  translating_ = false;
}

void DesktopApp::EndTranslation() {
  if (current_.kind == Job::kPreview || translationEnded_) return;
  translationEnded_ = true;
  translating_ = false;
  events_.Publish("busy", Json{{"busy", false}}.dump());
}

void DesktopApp::RunJob(const Job& job) {
  current_ = job;
  translationEnded_ = false;
  Control& control = *control_;
  control.callback = [this](int16_t why, int16_t, const std::vector<std::string>& args) {
    OnCallback(why, args);
  };
  control.translationComplete = [this](int16_t status, const std::string& name) {
    OnTranslationComplete(status, name);
  };
  if (job.kind != Job::kPreview) PublishStatus("Converting " + job.path);
  if (control.Init(paths_.programPath) != 0) {
    PublishBox("The converter could not be initialised");
    return;
  }
  int step = ProgressStep(FileSize(job.path));
  std::string options;
  if (job.kind == Job::kPreview) {
    // The viewer's rendering: the shipped translation file, safe, beside nothing of the user's.
    // Its progress reports are not shown; they let a stopping program end it.
    options =
        "-DSafeMode=1 -DPauseOnErr=0 -DCreateLogFile=0 -DpercentCallback=" + std::to_string(step) +
        " '-DOutFilename=" + job.outputName + "'";
  } else {
    std::string editorOptions;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      editorOptions = job.kind == Job::kSample ? job.extraOptions : editorOptions_;
    }
    options = ConversionOptions(step, editorOptions);
    if (job.kind == Job::kSample) options += " '-DOutFilename=" + job.outputName + "'";
    if (job.safe) options += " -DSafeMode=1";
    PublishProgress(0, true);
  }
  control.options = options;
  try {
    control.ConvertRTF(job.path);
  } catch (const ControlBusy&) {
    PublishBox("Sorry, only one translation allowed at a time");
  }
}

void DesktopApp::OnCallback(int why, const std::vector<std::string>& args) {
  if (cancelled_) throw ConversionCancelled();
  if (current_.kind == Job::kPreview) return;
  Control& control = *control_;
  if (why == 1) {
    std::string code = control.ExpandString("$ErrCode;");
    if (code.empty() && !args.empty()) code = args[0];
    if (code == "MSG_PERCENT") {
      std::string percent = args.size() > 1 ? args[1] : "0";
      PublishStatus("Converting " + current_.path + " (" + percent + "%)");
      events_.Publish("progress",
                      Json{{"value", std::atoi(percent.c_str())}, {"visible", true}}.dump());
    } else {
      Json a = Json::array();
      for (size_t i = 1; i < args.size(); ++i) a.push_back(args[i]);
      events_.Publish("message", Json{{"code", code}, {"args", a}}.dump());
    }
  } else if (why == 2) {
    std::string picture = control.ExpandString("$Picfilename;");
    if (!NeedsPictureConversion(picture)) return;
    std::string ext = control.ExpandString("$ImageExt;");
    PictureResult r = ConvertPicture(Absolute(picture), ext);
    if (!r.message.empty())
      events_.Publish("message", Json{{"code", "PICTURE"}, {"args", {r.message}}}.dump());
  }
}

std::string DesktopApp::ErrorFileFor(const std::string& output, const std::string& input) const {
  const std::string& base = output.empty() || output[0] == '-' ? input : output;
  return StripExtension(base) + "_err.htm";
}

std::vector<std::string> DesktopApp::ConvertLeftPictures(Control& control) {
  std::string imageExt = control.ExpandString("$ImageExt;");
  int count = std::atoi(control.ExpandString("$OutputFileListCount;").c_str());
  count = std::clamp(count, 0, 100000);
  std::vector<std::string> names;
  for (int n = 1; n <= count; ++n)
    names.push_back(Absolute(control.ExpandString("$OutputFileList" + std::to_string(n) + ";")));
  std::vector<std::string> pages;
  for (const std::string& n : names) {
    std::string ext = Lower(Extension(n));
    if (ext == "htm" || ext == "html" || ext == "xhtml" || ext == "xml") pages.push_back(n);
  }
  std::string convertTo = Lower(imageExt) == "jpg" || Lower(imageExt) == "jpeg" ? imageExt : "png";
  for (std::string& n : names) {
    if (cancelled_) break;
    if (!NeedsPictureConversion(n) || !FileExists(n)) continue;
    PictureResult r = ConvertPicture(n, convertTo);
    if (r.converted.empty()) {
      events_.Publish("message", Json{{"code", "PICTURE"}, {"args", {r.message}}}.dump());
      continue;
    }
    for (const std::string& page : pages)
      RewritePictureReference(page, BaseName(n), BaseName(r.converted));
  }
  std::vector<std::string> produced = ProducedFileNames(names, convertTo);
  // A BMP converted through the callback is listed under its new name too.
  for (std::string& p : produced) {
    if (Lower(Extension(p)) == "bmp" && !FileExists(p)) {
      std::string converted = StripExtension(p) + "." + convertTo;
      if (FileExists(converted)) p = converted;
    }
  }
  return produced;
}

void DesktopApp::OnTranslationComplete(int status, const std::string& name) {
  if (current_.kind == Job::kPreview) {
    std::string output = current_.outputName;
    if (FileExists(output)) {
      allowList_.Add(DirName(output));
      events_.Publish("preview", Json{{"path", name}, {"url", "/view" + output}}.dump());
    } else {
      events_.Publish("preview", Json{{"path", name}, {"url", ""}, {"failed", true}}.dump());
    }
    return;
  }
  Control& control = *control_;
  PublishProgress(100, true);
  std::string output = Absolute(control.ExpandString("$Outfilename;"));
  // The sample's output is named by OutFilename; a translation file of another language gives
  // it that language's extension (readme.xml, readme.epub), and the engine names what it wrote.
  if (current_.kind == Job::kSample && !FileExists(output)) output = current_.outputName;
  std::string errorFile = ErrorFileFor(output, name);
  Json messages = Json::array();
  for (const ControlMessage& m : Control::LastMessages())
    messages.push_back(
        {{"code", m.code}, {"action", m.action}, {"text", m.text}, {"line", m.line}});

  DesktopSettings s;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    s = settings_;
  }
  Json done = {{"status", status},
               {"name", name},
               {"kind", current_.kind == Job::kSample ? "sample" : "translate"},
               {"messages", messages}};
  if (FileExists(errorFile)) {
    allowList_.Add(DirName(errorFile));
    done["errorFile"] = errorFile;
  }
  // Anything but 0 is a failure: an argument error (-1) is reported as one too.
  if (status != 0) {
    PublishBox(
        "Translation of " + name + " failed (return status = " + std::to_string(status) + ").",
        "Translation Failed");
    done["showError"] = true;  // a failure always shows why, when the engine wrote it down
    EndTranslation();
    events_.Publish("complete", done.dump());
    PublishProgress(0, false);
    PublishStatus("");
    return;
  }

  std::vector<std::string> produced = ConvertLeftPictures(control);

  allowList_.Add(DirName(output));
  Result result;
  result.output = output;
  result.errorFile = errorFile;
  std::string logUsed = control.ExpandString("$LogFileUsed;");
  if (!logUsed.empty()) result.logFile = Absolute(logUsed);
  done["output"] = output;
  done["files"] = produced;
  done["showHTML"] = s.showHTMLAfterTranslation;
  done["showError"] = s.showErrorAfterTranslation;
  done["showLog"] = s.showLogAfterTranslation;
  if (s.showLogAfterTranslation && current_.kind != Job::kSample) {
    std::string page = ProducedFilesPageName(output);
    std::string why =
        WriteFileAtomically(page, FormatProducedFilesPage(BaseName(name), produced, DirName(page)));
    if (why.empty()) {
      result.producedPage = page;
      done["producedPage"] = page;
    } else {
      events_.Publish("message", Json{{"code", "LOG"}, {"args", {why}}}.dump());
    }
  }
  if (current_.kind == Job::kSample && !FileExists(output)) {
    PublishBox("The HTML file " + output + " does not exist");
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (current_.kind != Job::kSample) results_[name] = result;
  }
  EndTranslation();
  events_.Publish("complete", done.dump());
  PublishProgress(0, false);
  PublishStatus("");
}

}  // namespace quillo::desktop
