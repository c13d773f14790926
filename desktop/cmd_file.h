// The translation-options editor's model: its controls, the name-value pairs they stand for, the
// option string handed to each conversion, and the command-line file (cmd.trn) that keeps the
// pairs between sessions. The page shows these controls; everything they mean is decided here.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace quillo::desktop {

/// The output type radio buttons. `kHtml5` (the shipped translation file's own language, no
/// pair written) and `kEpub` are additions to the classic set.
enum class OutputType { kHtml5, kHtml3, kHtml4, kXhtml, kDocbook, kOeb, kEpub, kUserDtd };

/// Name of an output type for the page ("html3", "docbook", ...); ParseOutputType inverts it
/// (unknown names give kHtml5).
const char* OutputTypeName(OutputType type);
OutputType ParseOutputType(const std::string& name);

using StringPairs = std::vector<std::pair<std::string, std::string>>;

/// Every control of the translation-options window.
struct EditorState {
  OutputType outputType = OutputType::kHtml5;
  std::string txtDTD;  ///< translation file of the user-defined type
  bool chkCreateLogFile = false;
  std::string txtFontScale = ".33";
  std::string txtImageExt = "jpg";
  std::string txtSplitDepth;
  std::string txtBackgroundImage;
  bool chkShortFileNames = false;
  bool chkGenIndex = false;
  std::string txtImageDir;
  /// 0 generate contents, 1 leading contents list, 2 trailing contents list, 3 navigation panel.
  std::array<bool, 4> chkTOCOptions{};
  /// 0 framed pages, 1 generate the frame set.
  std::array<bool, 2> chkFrameOptions{};
  /// Background, text, link, visited link, active link: "#RRGGBB", or "" when unset (no line).
  std::array<std::string, 5> colors;
  /// The user list: further names with their values, in list order.
  StringPairs userStrings;
};

/// The pairs the controls stand for, in the order they are written to the command-line file.
StringPairs UpdateStrings(const EditorState& state);

/// The option string of the output type: "" or " -Dtrnfile=NAME" (blank first).
std::string SetTranslationOptions(const EditorState& state);

/// Applies one pair read from a command-line file to the controls ("true"/"false" become 1/0;
/// known names set their control, every other name joins the user list).
void SetString(EditorState& state, const std::string& name, std::string value);

/// Result of reading or writing a command-line file: "" when it worked, else the message.
struct CmdFileResult {
  std::string message;
  bool ok() const { return message.empty(); }
};

/// Reads the command-line file at `path` into `state` (pairs added to what the state holds).
/// Messages: "PATH doesn't exist", ".Strings should be the first non-comment line in PATH",
/// "Error reading PATH\nLINE\nThe rest of the file has not been read". Pairs read before an
/// error stay applied.
CmdFileResult ReadCmdFile(const std::string& path, EditorState& state);
/// As ReadCmdFile on text already in memory; `path` only names the file in messages.
CmdFileResult ParseCmdFile(const std::string& text, const std::string& path, EditorState& state);

/// The text of a command-line file holding `pairs`. A value holding line breaks is written as
/// continuation lines (each ending in "\") so that it reads back as the same value.
std::string FormatCmdFile(const StringPairs& pairs);
/// Writes the file (atomically). An empty path gives "Cmdline filename is blank, please set in
/// View->Options".
CmdFileResult WriteCmdFile(const std::string& path, const StringPairs& pairs);

/// The options of one conversion: "-DerrCallback=true -DpercentCallback=STEP", then a blank and
/// the editor's option string when that is not empty.
std::string ConversionOptions(int progressStep, const std::string& editorOptions);

/// The editor's option string as conversions use it: SetTranslationOptions, then
/// " -DCmdLineFile=PATH" when the command-line file is not the per-user default.
/// `cmdFile` must not hold quotes (CheckCmdFileName).
std::string EditorOptionString(const EditorState& state, const std::string& cmdFile,
                               const std::string& defaultCmdFile);

/// "" when `path` can be handed to the engine as a command-line file name; else why not.
std::string CheckCmdFileName(const std::string& path);

/// Progress step for a file of `size` bytes: the engine reports progress every STEP percent.
int ProgressStep(long long size);

}  // namespace quillo::desktop
