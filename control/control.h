// The control: the engine behind the properties, methods and events that scripting hosts use
// (the Python module `quillo`, the desktop application `quillo`, the samples). It drives the one
// process-wide engine through the same conversion entries as the C interface.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

/// The names the control's type information has always carried; hosts and the Python module
/// expose them as metadata.
struct ControlMetadata {
  static constexpr const char* kTypeLibrary = "QuilloLib";
  static constexpr const char* kTypeLibraryVersion = "1.0";
  static constexpr const char* kTypeLibraryHelp = "Quillo RTF to Web Converter";
  static constexpr const char* kDispatchInterface = "_DQuillo";
  static constexpr const char* kDispatchHelp = "Dispatch interface for Quillo Control";
  static constexpr const char* kEventInterface = "_DQuilloEvents";
  static constexpr const char* kEventHelp = "Event interface for Quillo Control";
  static constexpr const char* kClassName = "Quillo";
  static constexpr const char* kClassHelp = "Quillo Control";
  static constexpr const char* kProgId = "QUILLOOCX.QuilloOCXCtrl.1";
  static constexpr const char* kPropertyPageProgId = "QUILLOOCX.QuilloOCXPropPage.1";
};

/// Thrown when a conversion is started while another one runs in this process (from another
/// thread, or from inside an event handler). The running conversion is not disturbed.
class ControlBusy : public std::runtime_error {
 public:
  ControlBusy()
      : std::runtime_error(
            "a Quillo conversion is already running in this process; only one "
            "translation is allowed at a time") {}
};

/// One output of ConvertStrRTF: its name, its bytes as text, and its length in decimal.
struct ControlOutputRow {
  std::string name;
  std::string text;
  std::string length;
};

/// One message of the last conversion.
struct ControlMessage {
  std::string code;    ///< "ERR_FILE_OPEN_FAILED"
  std::string action;  ///< "message", "panic" or "eof"
  std::string text;    ///< plain text
  long line = 0;       ///< input line of the last token read, 0 when none
  int position = 0;    ///< column on that line
};

class Control {
 public:
  Control();
  /// A control that is the callback receiver stops being it: the engine is left without a
  /// dangling pointer and later callbacks reach no one.
  ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // ---- Properties ---------------------------------------------------------------------------
  /// Result of the last ConvertRTF; -1 while a conversion runs, after an empty file name and
  /// after any ConvertStrRTF.
  int16_t status = 0;
  /// Command-line options used for every conversion, split by SplitOptions.
  std::string options;

  // ---- Methods ------------------------------------------------------------------------------
  /// Converts a file. Fires translationComplete(status, filename) once before returning.
  /// An empty name returns -1 at once without the event. Throws ControlBusy.
  int16_t ConvertRTF(const std::string& filename);
  /// Converts RTF text held in memory; `out` receives one row per output (may be null).
  /// Returns the number of outputs. Throws ControlBusy.
  int32_t ConvertStrRTF(std::string_view inStr, std::vector<ControlOutputRow>* out);
  /// Expands `name` with the expansion language ("$Outfilename;").
  std::string ExpandString(const std::string& name);
  /// Sets a named setting or string.
  void SetString(const std::string& name, const std::string& value);
  /// Makes this control the receiver of engine callbacks and initialises the engine with `path`
  /// as the program path (its directory is searched for library files). 0 on success.
  int32_t Init(const std::string& path);
  /// Bytes of output `index` of the last ConvertStrRTF: 0 and `out` filled, or 1 for an index
  /// outside the table (`out` unchanged).
  int16_t GetImageBytes(int16_t index, std::vector<uint8_t>* out) const;
  /// The about text: product name, version, the data folder in use.
  std::string AboutBox() const;

  // ---- Events -------------------------------------------------------------------------------
  /// Fired once at the end of each ConvertRTF with a non-empty name.
  std::function<void(int16_t status, const std::string& rtfName)> translationComplete;
  /// Fired on the control given to Init for every engine callback (progress, messages,
  /// $Callback() of a translation file). The engine always receives an empty string back.
  std::function<void(int16_t why, int16_t nargs, const std::vector<std::string>& args)> callback;

  // ---- Beyond the component-model interface ------------------------------------------------
  /// The options splitting rule: blanks separate words outside quotes; single quotes are
  /// dropped, double quotes kept.
  static std::vector<std::string> SplitOptions(std::string_view text);
  /// True while a conversion runs in this process.
  static bool Busy();
  /// Messages reported by the last conversion of this process, in order.
  static std::vector<ControlMessage> LastMessages();
  /// The data folder the engine searches when no translation file sits beside the input.
  static std::string DataDirectory();
  /// The product version, "5.0.2".
  static std::string Version();

 private:
  std::vector<std::string> BuildArguments(const std::string* input) const;
  std::vector<ControlOutputRow> rows_;
  std::vector<std::string> data_;  ///< bytes of each output of the last ConvertStrRTF
};

}  // namespace quillo
