// Function calls of the expansion language: FctExpand splits the call text into the function name
// and argument names and runs the user function or else the built-in of that name. Arguments are
// names of named strings, evaluated lazily, in order, as a built-in asks for them.
#include "expand/builtins.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/buffers.h"
#include "base/file_table.h"
#include "base/html_escape.h"
#include "base/messages.h"
#include "base/package.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "expand/functions.h"
#include "expand/memo.h"
#include "expand/program.h"
#include "rtf/reader.h"

namespace quillo {
namespace {

using expand::BuiltinEntry;
using expand::CallArguments;
using expand::ReadInt;

// ---- Built-ins ----------------------------------------------------------------------------------

/// In safe mode the built-ins that delete, create or write files of their own are refused with
/// MSG_SAFE_MODE (their arguments are not even evaluated).
bool RefusedInSafeMode(Engine& engine, const char* builtin) {
  if (!engine.settings.safeMode) return false;
  ReportMessage(engine, "MSG_SAFE_MODE", {builtin});
  return true;
}

/// CallBack(id, a1..an): hands (id as integer, n, the n values) to the host callback and yields the
/// text it returns. Without a registered callback the result is the value of id; with no argument
/// at all nothing is called and the result is empty.
std::string CallBack(Engine& engine, CallArguments& args, OutputContext*) {
  std::string id;
  if (!args.NextValue(engine, id)) return {};
  const LibraryState& library = engine.library;
  if (!library.callback && !library.engineCallback) return id;
  std::vector<std::string> values;
  for (std::string value; args.NextValue(engine, value);) values.push_back(std::move(value));
  std::vector<char*> argv;
  argv.reserve(values.size());
  for (std::string& value : values) argv.push_back(value.data());
  const int argc = static_cast<int>(argv.size());
  char** texts = argv.empty() ? nullptr : argv.data();
  char* returned = library.engineCallback ? library.engineCallback(library.engineCallbackData,
                                                                   ReadInt(id), argc, texts)
                                          : library.callback(ReadInt(id), argc, texts);
  if (!returned) return {};
  std::string result(returned);
  std::free(returned);  // the host hands over a malloc'ed block
  return result;
}

/// Exit(code): stops the conversion at the reader loop's next check; a code reading as -1 also
/// reports ERR_EXIT. Yields the last name token read (the argument's, else "Exit" as written).
std::string Exit(Engine& engine, CallArguments& args, OutputContext*) {
  engine.driver.stop = true;
  std::string code;
  if (args.NextValue(engine, code) && ReadInt(code) == -1) ReportMessage(engine, "ERR_EXIT");
  return std::string(args.last());
}

/// Context(): where in the document we are, framed by MSG_ERROR_PLACE_START and _END. The
/// recent input is document text on its way into the HTML error file: its markup characters are
/// written as references, so it shows as text and never acts as markup there.
std::string Context(Engine& engine, CallArguments&, OutputContext*) {
  std::string result;
  if (const std::string* start = GetSetting(engine, "MSG_ERROR_PLACE_START"))
    result = StrExp(engine, *start);
  AppendHtmlEscaped(result, rtf::RecentInput(engine), kEscapeQuotes | kDropNul);
  result.push_back('\n');
  if (const std::string* end = GetSetting(engine, "MSG_ERROR_PLACE_END"))
    result.append(StrExp(engine, *end));
  return result;
}

/// "-1", "0" or "1" for a comparison result.
std::string Sign(int comparison) { return comparison < 0 ? "-1" : comparison > 0 ? "1" : "0"; }

/// Compare(a, b): byte-wise comparison (unsigned bytes); "0" when an argument is missing.
std::string Compare(Engine& engine, CallArguments& args, OutputContext*) {
  std::string a, b;
  if (!args.NextValue(engine, a) || !args.NextValue(engine, b)) return "0";
  return Sign(std::strcmp(a.c_str(), b.c_str()));
}

/// NCompare(a, b): both read as floating-point numbers; "0" when an argument is missing.
std::string NCompare(Engine& engine, CallArguments& args, OutputContext*) {
  std::string a, b;
  if (!args.NextValue(engine, a) || !args.NextValue(engine, b)) return "0";
  double x = std::atof(a.c_str());
  double y = std::atof(b.c_str());
  if (x > y) return "1";
  if (x == y) return "0";
  return "-1";
}

/// Delete(file): removes the file named by the argument's value. Always "1".
std::string Delete(Engine& engine, CallArguments& args, OutputContext*) {
  if (RefusedInSafeMode(engine, "Delete")) return "1";
  std::string name;
  if (args.NextValue(engine, name) && !name.empty()) std::remove(name.c_str());
  return "1";
}

/// CvtPict(source, target): evaluates both; no conversion is made.
std::string CvtPict(Engine& engine, CallArguments& args, OutputContext*) {
  std::string source, target;
  if (!args.NextValue(engine, source) || !args.NextValue(engine, target)) return "1";
  return "5";
}

NamedList* FindList(Engine& engine, std::string_view name) {
  for (NamedList& list : engine.expansion.lists)
    if (CaseEqual(list.name, name)) return &list;
  return nullptr;
}

/// The list name whose elements are the created files instead of pushed texts.
constexpr std::string_view kFileListName = "ListFile";

/// PushList(list, text, end): appends text to the back of the list (end non-zero, the default) or
/// puts it at the front (end 0). The list is created by its first push.
std::string PushList(Engine& engine, CallArguments& args, OutputContext*) {
  std::string name = args.ValueOr(engine, "<none>");
  std::string text = args.ValueOr(engine, "<none>");
  int end = ReadInt(args.ValueOr(engine, "1"));
  NamedList* list = FindList(engine, name);
  if (!list) {
    engine.expansion.lists.push_back(NamedList{name, {}, -1});
    list = &engine.expansion.lists.back();
  }
  if (end != 0) {
    list->elements.push_back(std::move(text));
  } else {
    list->elements.push_front(std::move(text));
    if (list->cursor >= 0) ++list->cursor;  // the cursor stays on its element
  }
  if (list->elements.size() == 1) list->cursor = 0;
  return {};
}

/// GetListElement(list, mode, keep): mode 0 the front element, mode 1 the back one, each removed
/// unless keep is non-zero; any other mode the element under the cursor, moving the cursor one
/// step toward the back. "ListFile" walks the created files instead.
std::string GetListElement(Engine& engine, CallArguments& args, OutputContext*) {
  std::string name;
  if (!args.NextValue(engine, name)) return {};
  int mode = ReadInt(args.ValueOr(engine, "0"));
  int keep = ReadInt(args.ValueOr(engine, "0"));
  if (CaseEqual(name, kFileListName))
    return engine.hooks.nextListFile ? engine.hooks.nextListFile(engine, false) : std::string();
  NamedList* list = FindList(engine, name);
  if (!list || list->elements.empty()) return {};
  std::deque<std::string>& elements = list->elements;
  const long size = static_cast<long>(elements.size());
  std::string result;
  if (mode == 0) {
    result = elements.front();
    if (keep == 0) {
      elements.pop_front();
      // The cursor keeps its element; on the removed one it moves to the next.
      if (list->cursor > 0) --list->cursor;
      if (elements.empty()) list->cursor = -1;
    }
  } else if (mode == 1) {
    result = elements.back();
    if (keep == 0) {
      elements.pop_back();
      if (list->cursor == size - 1) list->cursor = -1;  // it was on the removed element
    }
  } else {
    if (list->cursor < 0 || list->cursor >= size) return {};
    result = elements[list->cursor];
    ++list->cursor;
    if (list->cursor >= size) list->cursor = -1;
  }
  return result;
}

/// ResetListPointer(list): the cursor goes back to the front element.
std::string ResetListPointer(Engine& engine, CallArguments& args, OutputContext*) {
  std::string name;
  if (!args.NextValue(engine, name)) return {};
  if (CaseEqual(name, kFileListName)) {
    if (engine.hooks.nextListFile) engine.hooks.nextListFile(engine, true);
    return {};
  }
  if (NamedList* list = FindList(engine, name)) list->cursor = list->elements.empty() ? -1 : 0;
  return {};
}

/// CreateFile(name, mode): opens the user file (mode "w" by default). "abc", or empty without
/// arguments.
std::string CreateFile(Engine& engine, CallArguments& args, OutputContext*) {
  if (RefusedInSafeMode(engine, "CreateFile")) return {};
  std::string name;
  if (!args.NextValue(engine, name)) return {};
  std::string mode = args.ValueOr(engine, "w");
  // One user file at a time: a file still open is finished first, so its text is not lost.
  if (engine.expansion.userFile) FileClose(engine.expansion.userFile);
  engine.expansion.userFile = FileOpen(engine.files, name, mode.c_str());
  return "abc";
}

/// WriteFile(text, data): writes data to the open user file; yields the value of text.
std::string WriteFile(Engine& engine, CallArguments& args, OutputContext*) {
  if (RefusedInSafeMode(engine, "WriteFile")) return {};
  std::string text, data;
  if (!args.NextValue(engine, text)) return {};
  if (args.NextValue(engine, data) && engine.expansion.userFile)
    FilePutString(engine.expansion.userFile, data);
  return text;
}

/// CloseFile(any): closes and forgets the user file.
std::string CloseFile(Engine& engine, CallArguments& args, OutputContext*) {
  std::string_view token;
  if (!args.NextToken(token) || !engine.expansion.userFile) return {};
  FileClose(engine.expansion.userFile);
  engine.expansion.userFile = nullptr;
  return {};
}

/// The path of a file beside the output named `name` (a name without folders, or a relative path
/// without ".." parts), or "" when `name` could name a file elsewhere.
std::string BesideOutput(Engine& engine, std::string_view name) {
  if (name.empty() || name[0] == '/' || engine.settings.paths.baseName.empty()) return {};
  for (std::size_t start = 0; start <= name.size();) {
    std::size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return {};
    start = end + 1;
  }
  const std::string_view folder = DirectoryPart(engine.settings.paths.baseName);
  return folder.empty() ? std::string(name) : std::string(folder) + "/" + std::string(name);
}

/// PutOutputFile(suffix, text): writes text to the file named by the output's base path and the
/// suffix (".opf" beside "book.html" is "book.opf"). Like the pages it stays beside the output,
/// so a translation file can write the package files of a publication; a suffix with a "/" is
/// refused (MSG_CANT_OPEN). Empty.
std::string PutOutputFile(Engine& engine, CallArguments& args, OutputContext*) {
  std::string suffix, text;
  if (!args.NextValue(engine, suffix) || !args.NextValue(engine, text)) return {};
  if (suffix.find('/') != std::string::npos || engine.settings.paths.baseName.empty()) {
    ReportMessage(engine, "MSG_CANT_OPEN", {suffix});
    return {};
  }
  const std::string path = engine.settings.paths.baseName + suffix;
  FileEntry* file = FileOpen(engine.files, path, "w");
  if (!file) {
    ReportMessage(engine, "ERR_FILE_OPEN_FAILED", {path});
    return {};
  }
  FilePutString(file, text);
  FileClose(file);
  return {};
}

/// PackFiles(suffix, list, remove): writes the ZIP archive named by the output's base path and
/// the suffix, from the files of the named list, in its order. An element is the member's name in
/// the archive, or that name, a tab and the file's name beside the output when they differ
/// ("META-INF/container.xml<tab>book-container.xml"). Only files this conversion wrote are
/// packed; any other is reported (MSG_CANT_OPEN) and left out. With remove non-zero the packed
/// files are removed afterwards, so that the archive stands in their place. Empty.
std::string PackFiles(Engine& engine, CallArguments& args, OutputContext*) {
  std::string suffix, listName;
  if (!args.NextValue(engine, suffix) || !args.NextValue(engine, listName)) return {};
  const bool remove = ReadInt(args.ValueOr(engine, "0")) != 0;
  if (suffix.find('/') != std::string::npos || engine.settings.paths.baseName.empty()) {
    ReportMessage(engine, "MSG_CANT_OPEN", {suffix});
    return {};
  }
  std::vector<ArchiveMember> members;
  std::vector<std::string> packed;
  if (NamedList* list = FindList(engine, listName)) {
    for (const std::string& element : list->elements) {
      const std::size_t tab = element.find('\t');
      ArchiveMember member;
      member.name = element.substr(0, tab);
      const std::string path =
          BesideOutput(engine, tab == std::string::npos ? member.name : element.substr(tab + 1));
      if (member.name.empty() || path.empty() || !ReadWrittenFile(engine, path, member.data)) {
        ReportMessage(engine, "MSG_CANT_OPEN", {path.empty() ? element : path});
        continue;
      }
      members.push_back(std::move(member));
      packed.push_back(path);
    }
  }
  const std::string archiveName = engine.settings.paths.baseName + suffix;
  FileEntry* archive = FileOpen(engine.files, archiveName, "wb");
  if (!archive || !WriteZipArchive(archive, members)) {
    ReportMessage(engine, "ERR_FILE_OPEN_FAILED", {archiveName});
    if (archive) FileRemove(archive);
    return {};
  }
  FileClose(archive);
  if (remove)
    for (const std::string& path : packed)
      if (path != archiveName)
        if (FileEntry* file = WrittenFile(engine, path)) FileRemove(file);
  return {};
}

/// NextToken(): the stored value of the named string NextToken, unexpanded.
std::string NextToken(Engine& engine, CallArguments&, OutputContext*) {
  return SettingValue(engine, "NextToken");
}

constexpr BuiltinEntry kBuiltins[] = {
    {"Compare", Compare, true},
    {"NCompare", NCompare, true},
    {"Exit", Exit, false},
    {"Context", Context, false},
    {"Delete", Delete, false},
    {"CvtPict", CvtPict, false},
    {"CallBack", CallBack, false},
    {"PushList", PushList, false},
    {"GetListElement", GetListElement, false},
    {"ResetListPointer", ResetListPointer, false},
    {"CreateFile", CreateFile, false},
    {"WriteFile", WriteFile, false},
    {"CloseFile", CloseFile, false},
    {"NextToken", NextToken, false},
    {"PutOutputFile", PutOutputFile, false},
    {"PackFiles", PackFiles, false},
};

}  // namespace

std::string FctExpand(Engine& engine, std::string_view call, OutputContext* context) {
  std::string function;
  std::vector<std::string> arguments;
  expand::SplitCall(call, function, arguments);
  return CallFunction(engine, std::string(call), function, arguments, context);
}

std::string CallFunction(Engine& engine, std::string_view call, const std::string& function,
                         const std::vector<std::string>& arguments, OutputContext* context) {
  ExpansionLevel level(engine, '.', call);
  if (!level.entered()) return {};
  const bool trace = ExpansionTraced(engine);
  if (trace)
    PrintEscaped(engine, "%sFctExpand:%s\n", engine.expansion.indent.c_str(),
                 std::string(call).c_str());

  std::string result;
  if (!function.empty()) {
    int user = FindUserFunction(engine, function);
    if (user >= 0) {
      // User functions come first, so a translation file can replace any built-in.
      result = CallUserFunction(engine, user, call, arguments, context);
    } else {
      const BuiltinEntry* builtin = nullptr;
      for (const BuiltinEntry& candidate : kBuiltins)
        if (CaseEqual(candidate.name, function)) builtin = &candidate;
      // Then those of the layers above (contents, index, tags).
      for (std::size_t i = 0; !builtin && i < engine.hooks.builtinCount; ++i)
        if (CaseEqual(engine.hooks.builtins[i].name, function)) builtin = &engine.hooks.builtins[i];
      if (builtin) {
        memo::NoteEffect(engine.expansion);  // built-ins may have effects: no reuse around them
        ++engine.expansion.outsideCalls;
        CallArguments args(function, arguments);
        result = builtin->run(engine, args, context);
        if (trace && builtin->traceResult)
          PrintEscaped(engine, "%sFctExpand:%s,return=%.256s\n", engine.expansion.indent.c_str(),
                       std::string(call).c_str(), result.c_str());
      } else {
        ReportMessage(engine, "MSG_INVALID_FUNC", {function});
      }
    }
  }
  level.Leave();
  return result;
}

}  // namespace quillo
