// The control: the engine behind the properties, methods and events that scripting hosts use
// (the Python module `quillo`, the desktop application `quillo`, the samples). It drives the one
// process-wide engine through the same conversion entries as the C interface.
//
// Threads: the engine is used by one thread at a time. A conversion started while one runs is
// refused with ControlBusy (from another thread, or from an event handler of the running one).
// ExpandString, SetString, Init and LastMessages are refused the same way while another thread
// converts, wait for a short call of another thread to end, and are allowed from the event
// handlers of the running conversion. The members of one Control are used by one thread at a
// time; set the event members before a conversion starts.
//
// Events: handlers run on the converting thread, inside the conversion. An exception thrown by a
// `callback` handler never reaches the engine: the conversion stops at its next token (later
// events reach no handler) and the method that ran it throws that exception once the engine has
// cleaned up; ConvertRTF then leaves `status` at 1 and fires no translationComplete.
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
  /// The same refusal with a text that says more precisely why.
  explicit ControlBusy(const std::string& why) : std::runtime_error(why) {}
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
  /// Converts a file. Fires translationComplete(status, filename) once before returning, after
  /// the engine is free again (its handler may start the next conversion; the method still
  /// returns this conversion's result). An empty name returns -1 at once without the event.
  /// Throws ControlBusy (nothing changes), or what an event handler threw.
  int16_t ConvertRTF(const std::string& filename);
  /// Converts RTF text held in memory (NUL bytes included); `out` receives one row per output
  /// (may be null). Returns the number of outputs: 0 when the conversion failed, -1 when the
  /// engine could not be initialised. Leaves `status` at -1. Throws ControlBusy, or what an
  /// event handler threw.
  int32_t ConvertStrRTF(std::string_view inStr, std::vector<ControlOutputRow>* out);
  /// Expands `name` with the expansion language ("$Outfilename;") against the current store.
  /// "" when the expansion yields nothing or raises a fatal message.
  std::string ExpandString(const std::string& name);
  /// Sets a named setting or string. The next conversion's set-up resets the store, so a value
  /// meant for a conversion is set with a -D option, or from a handler during it.
  void SetString(const std::string& name, const std::string& value);
  /// Makes this control the receiver of engine callbacks and initialises the engine with `path`
  /// as the program path (its directory is searched for library files). A path naming a folder
  /// is that folder; an empty path keeps the folder chosen before, else the located data
  /// folder. 0 on success. Without any Init the data folder is located as for quillocmd.
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
  /// Messages reported by the last conversion of this process, in order (progress reports and
  /// ignored messages are not kept).
  static std::vector<ControlMessage> LastMessages();
  /// The data folder the engine searches when no translation file sits beside the input; ""
  /// when no folder holding the library files is found.
  static std::string DataDirectory();
  /// The product version, "5.0.2".
  static std::string Version();

  /// Option words added after the words of `options`, each taken whole (no quoting rules), for
  /// hosts that build settings programmatically: {"-DTitle=It's \"here\""} needs no quoting.
  std::vector<std::string> arguments;
  /// When true, the engine callbacks of this control's own conversions fire `callback` on this
  /// control, whichever control is the receiver set by Init (whose handlers then see nothing
  /// of these conversions). The engine's callback is installed for the conversion only.
  bool ownCallbacks = false;
  /// Outputs of the last ConvertStrRTF of this control: name, bytes and decimal length each.
  const std::vector<ControlOutputRow>& Outputs() const { return rows_; }
  /// Files written by the last ConvertRTF of this control, in the order they were closed.
  const std::vector<std::string>& CreatedFiles() const { return created_; }
  /// Messages of the last conversion of this control (ConvertRTF or ConvertStrRTF).
  const std::vector<ControlMessage>& Messages() const { return messages_; }

 private:
  std::vector<std::string> BuildArguments(const std::string* input) const;
  std::vector<ControlOutputRow> rows_;  ///< outputs of the last ConvertStrRTF, bytes in `text`
  std::vector<std::string> created_;
  std::vector<ControlMessage> messages_;
};

}  // namespace quillo
