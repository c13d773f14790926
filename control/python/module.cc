// quillo._quillo: the control as the Python class quillo.Control, the engines of quillo.Engine
// (each an engine of its own, so that threads convert in parallel), the options splitting rule and
// the process-wide queries. The package's __init__.py adds the Pythonic layer (convert_file,
// convert_string, Result). The GIL is released while the engine runs and taken again for each
// event; exceptions raised by event handlers come back from the method that ran the conversion.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "control.h"
#include "data_folder.h"
#include "engine.h"
#include "frame/driver.h"

namespace py = pybind11;

namespace {

// ---- Text across the boundary ---------------------------------------------------------------
// Engine text is bytes. Going out it becomes str by UTF-8 with 'surrogateescape' (as os.fsdecode
// does), so s.encode("utf-8", "surrogateescape") gives the exact bytes back; going in, str is
// encoded the same way and bytes pass unchanged.

py::str Decode(std::string_view bytes, const char* errors = "surrogateescape") {
  PyObject* text =
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), errors);
  if (!text) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

[[noreturn]] void RefuseType(const char* function, const char* parameter, const char* expected,
                             py::handle value) {
  throw py::type_error(std::string(function) + "() argument '" + parameter + "' must be " +
                       expected + ", not " + Py_TYPE(value.ptr())->tp_name);
}

/// Bytes of a str or bytes argument (or of an os.PathLike when `pathLike`). NUL bytes are
/// refused (ValueError): the engine's names and settings end at the first one.
std::string TextArgument(py::handle value, const char* function, const char* parameter,
                         bool pathLike = false) {
  py::object object = py::reinterpret_borrow<py::object>(value);
  if (pathLike && !PyUnicode_Check(value.ptr()) && !PyBytes_Check(value.ptr()) &&
      PyObject_HasAttrString(value.ptr(), "__fspath__")) {
    PyObject* path = PyOS_FSPath(value.ptr());
    if (!path) throw py::error_already_set();
    object = py::reinterpret_steal<py::object>(path);
  }
  std::string bytes;
  if (PyUnicode_Check(object.ptr())) {
    PyObject* encoded = PyUnicode_AsEncodedString(object.ptr(), "utf-8", "surrogateescape");
    if (!encoded) throw py::error_already_set();
    bytes.assign(PyBytes_AS_STRING(encoded), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded)));
    Py_DECREF(encoded);
  } else if (PyBytes_Check(object.ptr())) {
    bytes.assign(PyBytes_AS_STRING(object.ptr()),
                 static_cast<std::size_t>(PyBytes_GET_SIZE(object.ptr())));
  } else {
    RefuseType(function, parameter, pathLike ? "str, bytes or os.PathLike" : "str or bytes", value);
  }
  if (bytes.find('\0') != std::string::npos)
    throw py::value_error(std::string(function) + "(): embedded null character in '" + parameter +
                          "'");
  return bytes;
}

/// Appends one UTF-16 unit as RTF's Unicode escape (a signed 16-bit number).
void AppendUnicodeEscape(std::string& rtf, unsigned unit) {
  int value = unit > 32767 ? static_cast<int>(unit) - 65536 : static_cast<int>(unit);
  rtf += "\\u";
  rtf += std::to_string(value);
  rtf += '?';
}

/// RTF text from a str. RTF is a byte format: ASCII passes unchanged, a lone surrogate left by
/// 'surrogateescape' becomes its byte again, and any other character becomes RTF's own Unicode
/// escape, a run of them inside a group of its own with one fallback character per escape, so
/// that the document's \ucN setting neither changes nor is changed.
std::string RtfFromStr(py::handle text) {
  PyObject* object = text.ptr();
  if (PyUnicode_READY(object) != 0) throw py::error_already_set();
  const Py_ssize_t length = PyUnicode_GET_LENGTH(object);
  const int kind = PyUnicode_KIND(object);
  const void* data = PyUnicode_DATA(object);
  std::string rtf;
  rtf.reserve(static_cast<std::size_t>(length));
  bool inEscapes = false;
  for (Py_ssize_t i = 0; i < length; ++i) {
    Py_UCS4 c = PyUnicode_READ(kind, data, i);
    bool escaped = c >= 0x80 && !(c >= 0xDC80 && c <= 0xDCFF);
    if (escaped && !inEscapes) rtf += "{\\uc1";
    if (!escaped && inEscapes) rtf += '}';
    inEscapes = escaped;
    if (c < 0x80) {
      rtf += static_cast<char>(c);
    } else if (!escaped) {
      rtf += static_cast<char>(c - 0xDC00);
    } else if (c <= 0xFFFF) {
      AppendUnicodeEscape(rtf, c);
    } else {
      c -= 0x10000;
      AppendUnicodeEscape(rtf, 0xD800 + (c >> 10));
      AppendUnicodeEscape(rtf, 0xDC00 + (c & 0x3FF));
    }
  }
  if (inEscapes) rtf += '}';
  return rtf;
}

/// RTF text of a str or bytes-like argument; bytes may hold anything, NUL bytes included.
std::string RtfArgument(py::handle value, const char* function) {
  if (PyUnicode_Check(value.ptr())) return RtfFromStr(value);
  if (PyObject_CheckBuffer(value.ptr())) {
    Py_buffer view;
    if (PyObject_GetBuffer(value.ptr(), &view, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    std::string bytes(static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len));
    PyBuffer_Release(&view);
    return bytes;
  }
  RefuseType(function, "rtf", "str or bytes", value);
}

py::object MakeMessage(const quillo::ControlMessage& message) {
  py::object type = py::module_::import("quillo").attr("Message");
  // Messages are read by people: a byte that is not UTF-8 shows as U+FFFD.
  return type(Decode(message.code), Decode(message.action), Decode(message.text, "replace"),
              message.line, message.position);
}

py::list MakeMessages(const std::vector<quillo::ControlMessage>& messages) {
  py::list list;
  for (const quillo::ControlMessage& message : messages) list.append(MakeMessage(message));
  return list;
}

// ---- Event handlers -------------------------------------------------------------------------

/// The Python callables of one control's events. Read and written with the GIL held; shared
/// with the C++ event members, which may outlive the control while an event is being fired.
struct EventHandlers {
  py::object translationComplete = py::none();
  py::object callback = py::none();
};

/// Releasing the callables needs the GIL; once the interpreter is finalising they are left.
void ReleaseHandlers(EventHandlers* handlers) {
  if (PyGILState_Check()) {
    delete handlers;
  } else if (Py_IsInitialized() && !_Py_IsFinalizing()) {
    py::gil_scoped_acquire gil;
    delete handlers;
  }
}

py::object CheckedHandler(py::object handler, const char* event) {
  if (!handler.is_none() && !PyCallable_Check(handler.ptr()))
    throw py::type_error(std::string(event) + " must be callable or None, not " +
                         Py_TYPE(handler.ptr())->tp_name);
  return handler;
}

// ---- The control ----------------------------------------------------------------------------

/// quillo.Control: a quillo::Control and its Python event handlers. One thread at a time uses a
/// control: a call from another thread while a method runs is refused (ControlBusy); the thread
/// running it may call back in from its event handlers.
class PyControl {
 public:
  PyControl() : handlers_(new EventHandlers, ReleaseHandlers) {
    std::shared_ptr<EventHandlers> handlers = handlers_;
    control_.translationComplete = [handlers](int16_t status, const std::string& rtfName) {
      py::gil_scoped_acquire gil;
      py::object handler = handlers->translationComplete;
      if (!handler.is_none()) handler(status, Decode(rtfName));
    };
    control_.callback = [handlers](int16_t why, int16_t nargs,
                                   const std::vector<std::string>& args) {
      py::gil_scoped_acquire gil;
      py::object handler = handlers->callback;
      if (handler.is_none()) return;
      py::list list;
      for (const std::string& arg : args) list.append(Decode(arg));
      handler(why, nargs, list);
    };
  }

  /// Marks the control in use by this thread for one call; taken and dropped with the GIL held.
  class Use {
   public:
    explicit Use(PyControl& self) : self_(self) {
      const std::thread::id thread = std::this_thread::get_id();
      if (self.depth_ > 0 && self.user_ != thread)
        throw quillo::ControlBusy(
            "this quillo.Control is in use by another thread; use one Control per thread");
      self.user_ = thread;
      ++self.depth_;
    }
    ~Use() {
      if (--self_.depth_ == 0) self_.user_ = std::thread::id();
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

   private:
    PyControl& self_;
  };

  /// True while another thread runs a method of this control.
  bool UsedElsewhere() const { return depth_ > 0 && user_ != std::this_thread::get_id(); }

  quillo::Control control_;
  std::shared_ptr<EventHandlers> handlers_;

 private:
  std::thread::id user_;
  int depth_ = 0;
};

// ---- Methods ----------------------------------------------------------------------------------

int ConvertRTF(PyControl& self, py::object filename) {
  std::string name = TextArgument(filename, "ConvertRTF", "filename", true);
  PyControl::Use use(self);
  py::gil_scoped_release release;
  return self.control_.ConvertRTF(name);
}

py::list OutputRows(const quillo::Control& control) {
  py::list rows;
  for (const quillo::ControlOutputRow& row : control.Outputs()) {
    py::list entry;
    entry.append(Decode(row.name));
    entry.append(Decode(row.text));
    entry.append(Decode(row.length));
    rows.append(entry);
  }
  return rows;
}

py::tuple ConvertStrRTF(PyControl& self, py::object rtf) {
  std::string text = RtfArgument(rtf, "ConvertStrRTF");
  PyControl::Use use(self);
  int32_t count;
  {
    py::gil_scoped_release release;
    count = self.control_.ConvertStrRTF(text, nullptr);
  }
  return py::make_tuple(count, OutputRows(self.control_));
}

/// ConvertStrRTF without the rows (the Pythonic layer reads `outputs` as bytes).
int32_t ConvertStrRTFCount(PyControl& self, py::object rtf) {
  std::string text = RtfArgument(rtf, "convert_string");
  PyControl::Use use(self);
  py::gil_scoped_release release;
  return self.control_.ConvertStrRTF(text, nullptr);
}

py::str ExpandString(PyControl& self, py::object name) {
  std::string text = TextArgument(name, "ExpandString", "name");
  PyControl::Use use(self);
  std::string expanded;
  {
    py::gil_scoped_release release;
    expanded = self.control_.ExpandString(text);
  }
  return Decode(expanded);
}

void SetString(PyControl& self, py::object name, py::object value) {
  std::string settingName = TextArgument(name, "SetString", "name");
  std::string settingValue = TextArgument(value, "SetString", "value");
  PyControl::Use use(self);
  py::gil_scoped_release release;
  self.control_.SetString(settingName, settingValue);
}

int Init(PyControl& self, py::object path) {
  std::string programPath = TextArgument(path, "Init", "path", true);
  PyControl::Use use(self);
  py::gil_scoped_release release;
  return self.control_.Init(programPath);
}

py::tuple GetImageBytes(PyControl& self, py::object index) {
  if (PyBool_Check(index.ptr()) || !PyIndex_Check(index.ptr()))
    RefuseType("GetImageBytes", "index", "int", index);
  PyObject* number = PyNumber_Index(index.ptr());
  if (!number) throw py::error_already_set();
  int overflow = 0;
  long value = PyLong_AsLongAndOverflow(number, &overflow);
  Py_DECREF(number);
  if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
  PyControl::Use use(self);
  // The index is a 16-bit integer: anything outside that range is outside the table.
  if (overflow != 0 || value < INT16_MIN || value > INT16_MAX) return py::make_tuple(1, py::none());
  std::vector<uint8_t> bytes;
  if (self.control_.GetImageBytes(static_cast<int16_t>(value), &bytes) != 0)
    return py::make_tuple(1, py::none());
  return py::make_tuple(0, py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

py::list Outputs(PyControl& self) {
  PyControl::Use use(self);
  py::list outputs;
  for (const quillo::ControlOutputRow& row : self.control_.Outputs())
    outputs.append(py::make_tuple(Decode(row.name), py::bytes(row.text)));
  return outputs;
}

// ---- Properties -------------------------------------------------------------------------------

int GetStatus(PyControl& self) {
  if (self.UsedElsewhere()) return -1;  // a conversion runs in another thread
  return self.control_.status;
}

void SetStatus(PyControl& self, py::object value) {
  if (PyBool_Check(value.ptr()) || !PyLong_Check(value.ptr()))
    throw py::type_error(std::string("status must be int, not ") + Py_TYPE(value.ptr())->tp_name);
  long status = value.cast<long>();
  if (status < INT16_MIN || status > INT16_MAX)
    throw py::value_error("status must be a 16-bit integer (-32768 to 32767)");
  PyControl::Use use(self);
  self.control_.status = static_cast<int16_t>(status);
}

py::str GetOptions(PyControl& self) {
  PyControl::Use use(self);
  return Decode(self.control_.options);
}

void SetOptions(PyControl& self, py::object value) {
  if (!PyUnicode_Check(value.ptr()))
    throw py::type_error(std::string("options must be str, not ") + Py_TYPE(value.ptr())->tp_name);
  std::string options = TextArgument(value, "options", "value");
  PyControl::Use use(self);
  self.control_.options = std::move(options);
}

py::list GetArguments(PyControl& self) {
  PyControl::Use use(self);
  py::list words;
  for (const std::string& word : self.control_.arguments) words.append(Decode(word));
  return words;
}

void SetArguments(PyControl& self, py::object value) {
  if (PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr()) || !PySequence_Check(value.ptr()))
    throw py::type_error(std::string("arguments must be a sequence of str, not ") +
                         Py_TYPE(value.ptr())->tp_name);
  std::vector<std::string> words;
  for (py::handle word : py::reinterpret_borrow<py::sequence>(value)) {
    if (!PyUnicode_Check(word.ptr()))
      throw py::type_error(std::string("arguments must hold str, not ") +
                           Py_TYPE(word.ptr())->tp_name);
    words.push_back(TextArgument(word, "arguments", "item"));
  }
  PyControl::Use use(self);
  self.control_.arguments = std::move(words);
}

// ---- Engines ----------------------------------------------------------------------------------

/// quillo._EngineCore, behind quillo.Engine: an engine of its own. Its conversions run without
/// the GIL, so conversions on different engines run in parallel; one engine converts for one
/// thread at a time (a second thread is refused with ControlBusy rather than kept waiting).
class PyEngine {
 public:
  PyEngine() : engine_(std::make_unique<quillo::Engine>()) {
    // The data folder of this installation, as the control finds it.
    std::string folder = quillo::control::LocateDataFolder();
    std::string program = folder.empty() ? std::string() : folder + "/";
    py::gil_scoped_release release;
    quillo::EngineInit(*engine_, program.empty() ? nullptr : program.c_str());
  }

  /// Converts a file with the option words; (status, created files, messages).
  py::tuple ConvertFile(const std::vector<std::string>& words, py::object path,
                        py::object progress) {
    std::string name = TextArgument(path, "convert_file", "path", true);
    Use use(*this, progress);
    std::vector<std::string> vector = Vector(words);
    vector.push_back(name);
    int status = 0;
    {
      Pointers argv(vector);
      py::gil_scoped_release release;
      status = Guarded([&] { return quillo::ConvertFiles(*engine_, argv.argc(), argv.argv()); });
    }
    use.RaisePending();
    const std::vector<std::string>& names = engine_->log.createdFiles;
    std::size_t created = std::min<std::size_t>(
        names.size(), static_cast<std::size_t>(std::max(engine_->files.outputFileCounter, 0)));
    py::list files;
    for (std::size_t i = 0; i < created; ++i) files.append(Decode(names[i]));
    return py::make_tuple(status, files, Messages());
  }

  /// Converts RTF text in memory; (count, [(name, bytes)], messages).
  py::tuple ConvertString(const std::vector<std::string>& words, py::object rtf,
                          py::object progress) {
    std::string text = RtfArgument(rtf, "convert_string");
    Use use(*this, progress);
    std::vector<std::string> vector = Vector(words);
    int count = 0;
    ConvertedOutput* outputs = nullptr;
    {
      Pointers argv(vector);
      py::gil_scoped_release release;
      Guarded([&] {
        outputs = quillo::ConvertString(*engine_, argv.argc(), argv.argv(), std::string_view(text),
                                        &count);
        return 0;
      });
    }
    std::unique_ptr<ConvertedOutput, Release> owned(outputs, Release{count});
    use.RaisePending();
    py::list list;
    for (int i = 0; outputs && i < count; ++i)
      list.append(py::make_tuple(
          Decode(outputs[i].name ? outputs[i].name : ""),
          py::bytes(outputs[i].data ? outputs[i].data : "",
                    outputs[i].data ? static_cast<std::size_t>(outputs[i].length) : 0)));
    return py::make_tuple(count, list, Messages());
  }

 private:
  struct Release {
    int count;
    void operator()(ConvertedOutput* outputs) const {
      quillo::FreeConvertedOutputs(outputs, count);
    }
  };

  /// An argument vector the driver may read while the GIL is released.
  struct Pointers {
    std::vector<char*> pointers;
    explicit Pointers(std::vector<std::string>& words) {
      for (std::string& word : words) pointers.push_back(word.data());
      pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(pointers.size()) - 1; }
    char** argv() { return pointers.data(); }
  };

  /// Marks the engine in use for one conversion and installs the progress handler; taken and
  /// dropped with the GIL held, so the flag needs no lock.
  class Use {
   public:
    Use(PyEngine& self, py::object progress) : self_(self) {
      if (self.busy_)
        throw quillo::ControlBusy(
            "this quillo.Engine is converting in another thread; use one Engine per thread");
      self.busy_ = true;
      self.progress_ = std::move(progress);
      self.pending_ = nullptr;
      quillo::LibraryState& library = self.engine_->library;
      library.engineCallback = self.progress_.is_none() ? nullptr : &PyEngine::Callback;
      library.engineCallbackData = &self;
    }
    ~Use() {
      self_.engine_->library.engineCallback = nullptr;
      self_.progress_ = py::none();
      self_.busy_ = false;
    }
    void RaisePending() {
      if (self_.pending_) std::rethrow_exception(std::exchange(self_.pending_, nullptr));
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

   private:
    PyEngine& self_;
  };

  /// Progress reaches Python as the percentage of each MSG_PERCENT report. An exception raised
  /// by the handler stops the conversion and is raised again by the method that ran it.
  static char* Callback(void* data, int why, int argc, char** argv) {
    auto* self = static_cast<PyEngine*>(data);
    if (self->pending_ || why != 1 || argc < 2 || std::string_view(argv[0]) != "MSG_PERCENT")
      return nullptr;
    py::gil_scoped_acquire gil;
    try {
      self->progress_(std::atoi(argv[1]));
    } catch (...) {
      self->pending_ = std::current_exception();
      self->engine_->driver.stop = true;
    }
    return nullptr;
  }

  /// Runs a conversion; nothing the engine throws may reach Python as anything but a failure.
  template <typename Run>
  int Guarded(Run run) {
    try {
      return run();
    } catch (...) {
      return 1;
    }
  }

  static std::vector<std::string> Vector(const std::vector<std::string>& words) {
    std::vector<std::string> vector(1, std::string());  // entry 0: no program path
    for (const std::string& word : words) {
      if (word.find('\0') != std::string::npos)
        throw py::value_error("option words may not hold a null character");
      vector.push_back(word);
    }
    return vector;
  }

  py::list Messages() const {
    std::vector<quillo::ControlMessage> messages;
    for (const quillo::MessageRecord& record : engine_->messages.recorded)
      messages.push_back({record.code, record.action, record.text, record.line, record.position});
    return MakeMessages(messages);
  }

  std::unique_ptr<quillo::Engine> engine_;
  bool busy_ = false;
  py::object progress_ = py::none();
  std::exception_ptr pending_;
};

/// The control's methods: conversions, settings, Init and the about text.
void BindControlMethods(py::class_<PyControl>& control) {
  control
      .def("ConvertRTF", &ConvertRTF, py::arg("filename"),
           "ConvertRTF(filename) -> int\n\nConverts an RTF file (names with * or ? convert each "
           "matching file) with `options`; outputs are written beside it unless the options say "
           "otherwise. Fires translationComplete(status, filename) once before returning the "
           "result, which `status` then holds. An empty name returns -1 without the event.")
      .def("ConvertStrRTF", &ConvertStrRTF, py::arg("rtf"),
           "ConvertStrRTF(rtf) -> (count, rows)\n\nConverts RTF text (str or bytes) in memory "
           "with `options`. rows holds [name, text, length] per output, length the decimal text "
           "of the output's byte length; the main page is named \"-.html\". count is 0 when the "
           "conversion failed. Non-ASCII characters of a str become RTF Unicode escapes. "
           "`status` stays -1.")
      .def("_convert_string", &ConvertStrRTFCount, py::arg("rtf"),
           "ConvertStrRTF returning the count only; read the outputs from `outputs`.")
      .def("ExpandString", &ExpandString, py::arg("name"),
           "ExpandString(name) -> str\n\nExpands a text with the expansion language, e.g. "
           "\"$OutFileName;\" or \"$Date;\", against the current named settings.")
      .def("SetString", &SetString, py::arg("name"), py::arg("value"),
           "SetString(name, value) -> None\n\nSets a named setting. Each conversion starts from "
           "the defaults, so set values for a conversion with -D options, or from a handler "
           "during it.")
      .def("Init", &Init, py::arg("path") = "",
           "Init(path='') -> int\n\nMakes this control the receiver of engine callbacks and "
           "initialises the engine with `path` as the program path: its folder (or the folder "
           "`path` names) is searched for translation files. '' keeps the located data folder. "
           "Returns 0 on success.")
      .def("GetImageBytes", &GetImageBytes, py::arg("index"),
           "GetImageBytes(index) -> (0, bytes) or (1, None)\n\nThe bytes of output `index` of "
           "the last ConvertStrRTF (pictures included); (1, None) for an index outside 0 .. "
           "count - 1.")
      .def(
          "AboutBox", [](PyControl& self) { return Decode(self.control_.AboutBox()); },
          "AboutBox() -> str\n\nThe about text: product name, version and the data folder in "
          "use.");
}

/// What the last conversion of a control left (outputs, files, messages) and its events.
void BindControlResults(py::class_<PyControl>& control) {
  control
      .def_property_readonly("outputs", &Outputs,
                             "Outputs of the last ConvertStrRTF as a list of (name, bytes).")
      .def_property_readonly(
          "created_files",
          [](PyControl& self) {
            PyControl::Use use(self);
            py::list names;
            for (const std::string& name : self.control_.CreatedFiles()) names.append(Decode(name));
            return names;
          },
          "Files written by the last ConvertRTF of this control, in the order they were closed.")
      .def_property_readonly(
          "messages",
          [](PyControl& self) {
            PyControl::Use use(self);
            return MakeMessages(self.control_.Messages());
          },
          "Messages (quillo.Message) of the last conversion of this control.")
      .def_property(
          "translationComplete",
          [](PyControl& self) { return self.handlers_->translationComplete; },
          [](PyControl& self, py::object handler) {
            self.handlers_->translationComplete =
                CheckedHandler(std::move(handler), "translationComplete");
          },
          "Event handler f(status, rtfName) fired once at the end of each ConvertRTF; or None.")
      .def_property(
          "callback", [](PyControl& self) { return self.handlers_->callback; },
          [](PyControl& self, py::object handler) {
            self.handlers_->callback = CheckedHandler(std::move(handler), "callback");
          },
          "Event handler f(why, nargs, args) for engine callbacks (args a list of str); or None. "
          "Fired on the control Init was last called on. Its return value is ignored: the engine "
          "always receives an empty string.")
      .def("__repr__", [](PyControl& self) {
        if (self.UsedElsewhere()) return std::string("<quillo.Control (converting)>");
        return "<quillo.Control status=" + std::to_string(self.control_.status) +
               " options=" + py::repr(Decode(self.control_.options)).cast<std::string>() + ">";
      });
}

/// quillo._quillo.Control: its properties, methods and events.
void BindControl(py::module_& m, const py::dict& metadata) {
  py::class_<PyControl> control(
      m, "Control", R"doc(Quillo Control: the converter as properties, methods and events.

All controls of a process drive one engine, one conversion at a time. Set
`options` (command-line words such as "-c -DSplitDepth=1"), optionally call
Init, then convert with ConvertRTF (a file, written beside it) or
ConvertStrRTF (RTF text, outputs kept in memory).

Events are attributes that take a callable (or None):
  translationComplete(status, rtfName)  after each ConvertRTF
  callback(why, nargs, args)            engine callbacks on the control given
                                        to Init: progress ("MSG_PERCENT", n),
                                        messages, $CallBack() of a translation
                                        file; args is a list of str.
An exception raised by a handler stops the conversion and is raised again by
the method that ran it. Converting from a handler raises ControlBusy.

Texts from the engine are str decoded as UTF-8 with 'surrogateescape':
s.encode("utf-8", "surrogateescape") gives the exact bytes.)doc");
  for (auto item : metadata) control.attr(item.first) = item.second;
  control.def(py::init<>(), "A control with empty options and no event handlers.")
      .def_property("status", &GetStatus, &SetStatus,
                    "Result of the last ConvertRTF (0 success, -1 argument error, 1 failure); -1 "
                    "while a conversion runs, after an empty file name and after any "
                    "ConvertStrRTF.")
      .def_property("options", &GetOptions, &SetOptions,
                    "Command-line options used for every conversion. Blanks separate words "
                    "outside quotes; single quotes are dropped, double quotes kept.")
      .def_property("arguments", &GetArguments, &SetArguments,
                    "Option words added after those of `options`, each taken whole (no quoting "
                    "rules), e.g. ['-DTitle=It\\'s \"here\"'].")
      .def_property(
          "own_callbacks",
          [](PyControl& self) {
            PyControl::Use use(self);
            return self.control_.ownCallbacks;
          },
          [](PyControl& self, bool value) {
            PyControl::Use use(self);
            self.control_.ownCallbacks = value;
          },
          "When True, this control's own conversions fire its `callback`, whichever control "
          "Init was last called on; that control then sees nothing of them.");
  BindControlMethods(control);
  BindControlResults(control);
}

/// quillo._quillo._EngineCore and the module's functions.
void BindEngineAndFunctions(py::module_& m) {
  py::class_<PyEngine>(m, "_EngineCore",
                       "An engine of its own for quillo.Engine; use quillo.Engine.")
      .def(py::init<>())
      .def("convert_file", &PyEngine::ConvertFile, py::arg("words"), py::arg("path"),
           py::arg("progress") = py::none(),
           "convert_file(words, path, progress) -> (status, created_files, messages)")
      .def("convert_string", &PyEngine::ConvertString, py::arg("words"), py::arg("rtf"),
           py::arg("progress") = py::none(),
           "convert_string(words, rtf, progress) -> (count, [(name, bytes)], messages)");

  m.def(
      "split_options",
      [](py::object text) {
        if (!PyUnicode_Check(text.ptr())) RefuseType("split_options", "text", "str", text);
        py::list words;
        for (const std::string& word :
             quillo::Control::SplitOptions(TextArgument(text, "split_options", "text")))
          words.append(Decode(word));
        return words;
      },
      py::arg("text"),
      "split_options(text) -> list[str]\n\nThe options splitting rule: blanks separate words "
      "outside quotes, single quotes are dropped and double quotes kept; no empty words.");
  m.def(
      "busy", [] { return quillo::Control::Busy(); },
      "busy() -> bool\n\nTrue while a conversion runs in this process.");
  m.def(
      "last_messages",
      [] {
        std::vector<quillo::ControlMessage> messages;
        {
          py::gil_scoped_release release;
          messages = quillo::Control::LastMessages();
        }
        return MakeMessages(messages);
      },
      "last_messages() -> list[Message]\n\nMessages of the last conversion of this process.");
  m.def(
      "data_directory", [] { return Decode(quillo::Control::DataDirectory()); },
      "data_directory() -> str\n\nThe folder searched for translation files when none sits "
      "beside the input; '' when none was found.");
}

}  // namespace

PYBIND11_MODULE(_quillo, m) {
  m.doc() = "Quillo's control for Python hosts; use the package quillo.";
  auto& busy = py::register_exception<quillo::ControlBusy>(m, "ControlBusy", PyExc_RuntimeError);
  busy.doc() =
      "Raised when a conversion is started while another one runs in this process (from another "
      "thread, or from inside an event handler), or when another thread uses the engine or the "
      "same Control meanwhile. A RuntimeError; its text says why.";

  using Meta = quillo::ControlMetadata;
  py::dict metadata;
  metadata["type_library"] = Meta::kTypeLibrary;
  metadata["type_library_version"] = Meta::kTypeLibraryVersion;
  metadata["type_library_help"] = Meta::kTypeLibraryHelp;
  metadata["dispatch_interface"] = Meta::kDispatchInterface;
  metadata["dispatch_help"] = Meta::kDispatchHelp;
  metadata["event_interface"] = Meta::kEventInterface;
  metadata["event_help"] = Meta::kEventHelp;
  metadata["class_name"] = Meta::kClassName;
  metadata["class_help"] = Meta::kClassHelp;
  metadata["prog_id"] = Meta::kProgId;
  metadata["property_page_prog_id"] = Meta::kPropertyPageProgId;
  m.attr("metadata") = metadata;
  m.attr("__version__") = quillo::Control::Version();

  BindControl(m, metadata);
  BindEngineAndFunctions(m);
}
