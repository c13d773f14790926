// The command-line options (-o, -D, -h ... turned into settings) and the library-file search
// (where translation files, maps and the other data files are looked for).
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/buffers.h"
#include "base/data_folders.h"
#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"

namespace quillo {
namespace {

enum class OptionKind { kSet, kVersion, kBatch, kDefine };

struct OptionEntry {
  const char* word;  ///< the whole word, or the two characters that start it
  bool takesParameter;
  OptionKind kind;
  const char* setting;  ///< name set (kSet)
  const char* value;    ///< value set; nullptr = the parameter
};

constexpr OptionEntry kOptions[] = {
    {"-V", false, OptionKind::kVersion, nullptr, nullptr},
    {"-i", false, OptionKind::kSet, "InlineGraphics", "1"},
    {"-G", false, OptionKind::kSet, "NoGraphics", "1"},
    {"-o", true, OptionKind::kSet, "OutFileName", nullptr},
    {"-P", true, OptionKind::kSet, "ImageExt", nullptr},
    {"-h", true, OptionKind::kSet, "SplitDepth", nullptr},
    {"-c", false, OptionKind::kSet, "GenContents", "1"},
    {"-t", false, OptionKind::kSet, "SkipLeadingToc", "0"},
    {"-s", false, OptionKind::kSet, "ShortNames", "1"},
    {"-F", false, OptionKind::kSet, "GenFrames", "1"},
    {"-T", true, OptionKind::kSet, "Title", nullptr},
    {"-b", true, OptionKind::kBatch, nullptr, nullptr},
    {"-D", true, OptionKind::kDefine, nullptr, nullptr},
    {"-X", true, OptionKind::kSet, "EmptyAnchorText", nullptr},
    {"-x", false, OptionKind::kSet, "GenIndex", "1"},
};

const OptionEntry* MatchOption(std::string_view word) {
  for (const OptionEntry& option : kOptions) {
    std::string_view spelling = option.word;
    if (option.takesParameter ? word.substr(0, spelling.size()) == spelling : word == spelling)
      return &option;
  }
  return nullptr;
}

constexpr const char* kVersion = "5.0.2";

/// The settings that name the files a conversion writes. Given as options (-o, -D) they are file
/// names from the command line: literal values, never expanded.
bool IsFileNameSetting(std::string_view name) {
  return CaseEqual(name, "OutFileName") || CaseEqual(name, "ErrorFileName") ||
         CaseEqual(name, "LogFileName");
}

}  // namespace

bool OptionTakesNextWord(std::string_view word) {
  const OptionEntry* option = MatchOption(word);
  return option && option->takesParameter && word.size() == 2;
}

int ParseOptions(Engine& engine, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string_view word = argv[i] ? argv[i] : "";
    if (word.empty()) continue;
    if (word[0] != '-') return i;               // the input
    if (word == kStandardStreamName) return i;  // the input is read from standard input

    const OptionEntry* option = MatchOption(word);
    if (!option) {
      ReportMessage(engine, "MSG_UNKNOWN_OPTION", {word});
      return -1;
    }
    std::string_view parameter;
    if (option->takesParameter) {
      if (word.size() > 2) {
        parameter = word.substr(2);
      } else if (i + 1 < argc) {
        parameter = argv[++i] ? argv[i] : "";
      } else {
        ReportMessage(engine, "MSG_PARAM_REQUIRED", {word});
        return -1;
      }
    }
    switch (option->kind) {
      case OptionKind::kVersion:
        ReportMessage(engine, "MSG_VERSION", {kVersion});
        return 0;
      case OptionKind::kBatch:
        break;  // the driver looks for -b before set-up; the parameter is only skipped here
      case OptionKind::kDefine: {
        std::size_t equals = parameter.find('=');
        if (equals == std::string_view::npos) {
          SetSetting(engine, parameter, "1");
        } else if (IsFileNameSetting(parameter.substr(0, equals))) {
          // A file name given as an option is a name, never expanded.
          SetLiteralSetting(engine, parameter.substr(0, equals), parameter.substr(equals + 1));
        } else {
          SetSetting(engine, parameter.substr(0, equals), parameter.substr(equals + 1));
        }
        break;
      }
      case OptionKind::kSet:
        if (option->value) {
          SetSetting(engine, option->setting, option->value);
        } else if (IsFileNameSetting(option->setting)) {
          // An output name given on the command line is a file name, never expanded.
          SetLiteralSetting(engine, option->setting, parameter);
        } else {
          SetSetting(engine, option->setting, parameter);
        }
        break;
    }
  }
  return argc;
}

// ---------------------------------------------------------------------------------------------
// Library files

namespace {

/// Calls `use` with each path the library search tries for `name`, in order, until it returns
/// true (then true). The installed data folders are worked out only when the search gets to them.
template <typename Use>
bool EachLibraryCandidate(const Engine& engine, std::string_view name, Use&& use) {
  if (!IsRelativePath(name)) return use(std::string(name));
  std::string path;
  auto tryDirectory = [&](std::string_view directory) {
    if (directory.empty()) return false;
    path.assign(directory);
    path += '/';
    path += name;
    return use(path);
  };
  const OutputNames& dirs = engine.settings.paths;
  // Safe mode trusts no folder a document (or whoever sent it) could have put files into: not
  // the input's folder, a batch's search folder nor ./LIBDIR.
  const bool safe = engine.settings.safeMode;
  if (!safe && tryDirectory(dirs.libraryDirOverride)) return true;
  if (!safe && tryDirectory(dirs.inputDirectory)) return true;
  if (const char* env = std::getenv("RTFLIBDIR"); env && tryDirectory(env)) return true;
  if (tryDirectory(dirs.programDirectory)) return true;
  if (!safe && tryDirectory("LIBDIR")) return true;
  // The installed data folders, so that an installed program finds its data from anywhere.
  for (const std::string& folder : InstalledDataFolders())
    if (tryDirectory(folder)) return true;
  return false;
}

}  // namespace

std::vector<std::string> LibraryFileCandidates(const Engine& engine, std::string_view name) {
  std::vector<std::string> paths;
  EachLibraryCandidate(engine, name, [&](const std::string& path) {
    paths.push_back(path);
    return false;
  });
  return paths;
}

FileEntry* OpenLibraryFile(Engine& engine, std::string_view name, const char* mode) {
  FileEntry* file = nullptr;
  EachLibraryCandidate(engine, name, [&](const std::string& path) {
    file = FileOpen(engine.files, path, mode);
    return file != nullptr;
  });
  return file;
}

}  // namespace quillo
