// The desktop application behind the page: settings, the documents the user opened, the
// translation options, and the one worker thread that drives the engine through the control.
// Every operation returns the JSON the page receives; progress and results arrive as events.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cmd_file.h"
#include "events.h"
#include "guards.h"
#include "settings.h"

namespace quillo {
class Control;
}

namespace quillo::desktop {

using Json = nlohmann::json;

/// Where the application keeps its files; tests point these at temporary folders through the
/// XDG variables, so nothing here is fixed.
struct AppPaths {
  std::string programPath;   ///< the program file (its folder holds the translation files)
  std::string settingsFile;  ///< quillo.ini
  std::string droppedDir;    ///< working folder of dropped files
  std::string viewDir;       ///< private folder of viewer renderings and samples
  std::string sampleFile;    ///< readme.rtf of the data folder
};

/// The translation-options editor's state as the page sends it; fields missing or of the wrong
/// type keep their defaults.
EditorState EditorFromJson(const Json& j);

class DesktopApp {
 public:
  explicit DesktopApp(AppPaths paths);
  ~DesktopApp();

  /// Starts the worker thread. Files named on the command line are offered to the page.
  void Start(const std::vector<std::string>& startupFiles);
  /// Ends what runs so that the program can stop: queued jobs are dropped, the running
  /// conversion stops at its next progress report, a LibreOffice job is ended, event streams
  /// end, and nothing new starts. Returns at once; safe from any thread, more than once.
  void Cancel();
  /// Cancel, then writes the settings and waits for the worker to end.
  void Stop();
  /// The document whose conversion Stop cut short, "" when none was running.
  std::string InterruptedConversion() const { return interrupted_; }

  EventHub& events() { return events_; }
  const FolderAllowList& allowList() const { return allowList_; }

  Json State();
  Json Open(const std::string& path, bool dropped);
  Json Upload(const std::string& name, const std::string& body);
  Json Translate(const std::string& path);
  Json Preview(const std::string& path);
  Json Source(const std::string& path);
  Json SaveSource(const std::string& path, const std::string& text, const std::string& saveAs);
  Json ToolsView(const std::string& what, const std::string& path);
  Json ListFolder(const std::string& dir);
  Json UpdateSettings(const Json& changes);
  Json EditorGet();
  Json EditorApply(const Json& state);
  Json EditorSave(const Json& state);
  Json EditorLoad();
  Json EditorSample(const Json& state);
  std::string About() const { return about_; }

  /// Largest upload accepted, in bytes.
  static constexpr size_t kMaxUpload = 256u * 1024 * 1024;

 private:
  struct Job {
    enum Kind { kTranslate, kPreview, kSample } kind;
    std::string path;
    bool safe = false;
    std::string outputName;    ///< -o for previews and samples
    std::string extraOptions;  ///< appended after the editor's options
  };
  /// What a finished conversion left, kept so that Tools views need not ask the engine.
  struct Result {
    std::string output;
    std::string logFile;
    std::string producedPage;
    std::string errorFile;
  };

  void WorkerLoop();
  void RunJob(const Job& job);
  void OnCallback(int why, const std::vector<std::string>& args);
  void OnTranslationComplete(int status, const std::string& name);
  /// Converts the pictures the translation file did not hand over through the callback and
  /// mends the pages that name them; the names of the files the conversion produced.
  std::vector<std::string> ConvertLeftPictures(Control& control);
  /// The translation or sample being run is over for the user: another one may be asked for
  /// (it runs once the rest of this job is done). Once per job; nothing for previews.
  void EndTranslation();
  void PublishStatus(const std::string& text);
  void PublishProgress(int value, bool visible);
  void PublishBox(const std::string& text, const std::string& title = "Quillo");
  void SaveSettingsLocked();
  std::string EditorOptionsLocked() const;
  Json EditorJsonLocked() const;
  std::string ErrorFileFor(const std::string& output, const std::string& input) const;
  bool IsDropped(const std::string& realPath) const;
  Json Message(const std::string& text, const std::string& title = "Quillo") const;

  AppPaths paths_;
  EventHub events_;
  FolderAllowList allowList_;
  std::string about_;

  std::mutex mutex_;  ///< guards everything below
  DesktopSettings settings_;
  EditorState editor_;
  std::string editorOptions_;  ///< the option string of the last Apply (or of the file read)
  std::vector<std::string> startupFiles_;
  std::map<std::string, Result> results_;  ///< by input path
  std::deque<Job> jobs_;
  std::condition_variable jobsChanged_;
  bool stopping_ = false;  ///< the worker ends, nothing new is queued
  bool stopped_ = false;   ///< Stop wrote the settings
  int viewCounter_ = 0;

  std::atomic<bool> translating_{false};  ///< a translation is queued or running
  std::atomic<bool> cancelled_{false};    ///< Cancel was called: the program is stopping
  std::mutex wordMutex_;                  ///< one LibreOffice job at a time

  // Worker-thread state: the control and the job being run.
  std::unique_ptr<Control> control_;
  Job current_;
  bool translationEnded_ = false;
  std::string interrupted_;  ///< written by the worker, read after it ended
  std::thread worker_;
};

}  // namespace quillo::desktop
