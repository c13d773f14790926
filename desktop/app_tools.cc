// The Tools menu's operations: the views of a translation's files, and the translation-options
// editor (its state to and from the page's JSON; applying, saving and loading the command-line
// file).
#include "app.h"
#include "guards.h"
#include "produced_files.h"
#include "text_util.h"
#include "word.h"

namespace quillo::desktop {

namespace {

Json EditorToJson(const EditorState& e) {
  Json user = Json::array();
  for (const auto& [name, value] : e.userStrings) user.push_back({name, value});
  return {{"outputType", OutputTypeName(e.outputType)},
          {"txtDTD", e.txtDTD},
          {"chkCreateLogFile", e.chkCreateLogFile},
          {"txtFontScale", e.txtFontScale},
          {"txtImageExt", e.txtImageExt},
          {"txtSplitDepth", e.txtSplitDepth},
          {"txtBackgroundImage", e.txtBackgroundImage},
          {"chkShortFileNames", e.chkShortFileNames},
          {"chkGenIndex", e.chkGenIndex},
          {"txtImageDir", e.txtImageDir},
          {"chkTOCOptions", e.chkTOCOptions},
          {"chkFrameOptions", e.chkFrameOptions},
          {"colors", e.colors},
          {"userStrings", user}};
}

Json PairsJson(const StringPairs& pairs) {
  Json out = Json::array();
  for (const auto& [name, value] : pairs) out.push_back({name, value});
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tools views

Json DesktopApp::ToolsView(const std::string& what, const std::string& requested) {
  std::string path = allowList_.Resolve(requested);
  if (path.empty()) return Message("Please open a file first");
  if (KindOfFile(path) == FileKind::kWord) {
    std::string rtf = WordTargetName(path);
    if (FileExists(rtf)) path = RealPath(rtf);
  }
  Result r;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = results_.find(path);
    if (it != results_.end()) r = it->second;
  }
  if (r.output.empty()) r.output = StripExtension(path) + ".html";
  std::string file;
  std::string label;
  if (what == "html") {
    file = r.output;
    label = "The HTML file ";
  } else if (what == "log") {
    file = !r.logFile.empty() && FileExists(r.logFile) ? r.logFile
           : !r.producedPage.empty()                   ? r.producedPage
                                                       : ProducedFilesPageName(r.output);
    label = "The Log file ";
  } else if (what == "error") {
    file = ErrorFileFor(r.output, path);
    label = "The Error file ";
  } else {
    return Message("Unknown view " + what);
  }
  if (!FileExists(file)) return Message(label + file + " does not exist");
  allowList_.Add(DirName(RealPath(file)));
  return {{"ok", true}, {"path", file}, {"url", "/view" + RealPath(file)}};
}

EditorState EditorFromJson(const Json& j) {
  EditorState e;
  auto str = [&](const char* key, std::string& field) {
    if (j.contains(key) && j[key].is_string()) field = j[key].get<std::string>();
  };
  auto flag = [&](const char* key, bool& field) {
    if (j.contains(key) && j[key].is_boolean()) field = j[key].get<bool>();
  };
  if (j.contains("outputType") && j["outputType"].is_string())
    e.outputType = ParseOutputType(j["outputType"].get<std::string>());
  str("txtDTD", e.txtDTD);
  flag("chkCreateLogFile", e.chkCreateLogFile);
  str("txtFontScale", e.txtFontScale);
  str("txtImageExt", e.txtImageExt);
  str("txtSplitDepth", e.txtSplitDepth);
  str("txtBackgroundImage", e.txtBackgroundImage);
  flag("chkShortFileNames", e.chkShortFileNames);
  flag("chkGenIndex", e.chkGenIndex);
  str("txtImageDir", e.txtImageDir);
  for (const char* key : {"chkTOCOptions", "chkFrameOptions", "colors"}) {
    if (!j.contains(key) || !j[key].is_array()) continue;
    const Json& a = j[key];
    for (size_t i = 0; i < a.size(); ++i) {
      if (std::string(key) == "chkTOCOptions" && i < 4 && a[i].is_boolean())
        e.chkTOCOptions[i] = a[i].get<bool>();
      if (std::string(key) == "chkFrameOptions" && i < 2 && a[i].is_boolean())
        e.chkFrameOptions[i] = a[i].get<bool>();
      if (std::string(key) == "colors" && i < 5 && a[i].is_string())
        e.colors[i] = a[i].get<std::string>();
    }
  }
  if (j.contains("userStrings") && j["userStrings"].is_array()) {
    for (const Json& pair : j["userStrings"]) {
      if (pair.is_array() && pair.size() == 2 && pair[0].is_string() && pair[1].is_string())
        e.userStrings.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
    }
  }
  return e;
}

// ---------------------------------------------------------------------------------------------
// Translation-options editor

std::string DesktopApp::EditorOptionsLocked() const {
  return EditorOptionString(editor_, settings_.cmdlineFName, ConfigDirectory() + "/cmd.trn");
}

Json DesktopApp::EditorJsonLocked() const {
  return {{"state", EditorToJson(editor_)},
          {"optionString", editorOptions_},
          {"pairs", PairsJson(UpdateStrings(editor_))},
          {"fileText", FormatCmdFile(UpdateStrings(editor_))},
          {"cmdFile", settings_.cmdlineFName}};
}

Json DesktopApp::EditorGet() {
  std::lock_guard<std::mutex> lock(mutex_);
  Json j = EditorJsonLocked();
  j["ok"] = true;
  return j;
}

Json DesktopApp::EditorApply(const Json& state) {
  EditorState e = EditorFromJson(state);
  if (e.outputType == OutputType::kUserDtd && Trim(e.txtDTD).empty())
    return Message("Please type in a .trn filename for the user defined DTD");
  if (e.outputType == OutputType::kUserDtd &&
      e.txtDTD.find_first_of("'\" \t\r\n") != std::string::npos)
    return Message("The translation file name may not contain blanks or quotes: " + e.txtDTD);
  std::lock_guard<std::mutex> lock(mutex_);
  editor_ = e;
  editorOptions_ = EditorOptionsLocked();
  Json j = EditorJsonLocked();
  j["ok"] = true;
  j["translationOptions"] = SetTranslationOptions(editor_);
  j["fileText"] = FormatCmdFile(UpdateStrings(editor_));
  return j;
}

Json DesktopApp::EditorSave(const Json& state) {
  Json applied = EditorApply(state);
  if (!applied.value("ok", false)) return applied;
  std::lock_guard<std::mutex> lock(mutex_);
  CmdFileResult r = WriteCmdFile(settings_.cmdlineFName, UpdateStrings(editor_));
  if (!r.ok()) return Message(r.message);
  Json j = EditorJsonLocked();
  j["ok"] = true;
  j["saved"] = settings_.cmdlineFName;
  return j;
}

Json DesktopApp::EditorLoad() {
  std::lock_guard<std::mutex> lock(mutex_);
  EditorState e;
  CmdFileResult r = ReadCmdFile(settings_.cmdlineFName, e);
  // A missing file, or one that is no command-line file at all, leaves the window as it was.
  if (!r.ok() &&
      (!FileExists(settings_.cmdlineFName) || r.message.rfind(".Strings should be", 0) == 0)) {
    Json j = EditorJsonLocked();
    j["ok"] = false;
    j["message"] = r.message;
    j["title"] = "Quillo";
    return j;
  }
  // What was read before an error stays: the file's first lines may be all the user needs.
  editor_ = e;
  editorOptions_ = EditorOptionsLocked();
  Json j = EditorJsonLocked();
  j["ok"] = r.ok();
  if (!r.ok()) {
    j["message"] = r.message;
    j["title"] = "Quillo";
  }
  return j;
}

}  // namespace quillo::desktop
