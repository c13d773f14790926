// File splitting and naming: the split files planned at the headings, their suffixes and every
// rule that keeps the names distinct and inside the output folder, the navigation settings of
// each output file, the positions the frame page copies between, and the named anchors.
#include <cstdio>
#include <cstring>
#include <string>

#include "base/buffers.h"
#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "expand/expand.h"
#include "structure/internal.h"
#include "structure/paragraphs.h"
#include "structure/structure.h"
#include "translate/translate.h"

namespace quillo::structure {

namespace {

/// At most this many characters of the suffix text that a heading gives are kept: names stay
/// short, and a 255-character base plus the suffix still fits a file-system name.
constexpr std::size_t kMaxSuffixText = 32;
/// One suffix text may be used by this many files (-X, -X-2 ... -X-99).
constexpr int kMaxSuffixUses = 99;

/// The reserved suffixes of the generated pages.
std::vector<std::string> ReservedSuffixes(Engine& engine) {
  std::vector<std::string> reserved = {SettingValue(engine, "CSuffix"),
                                       SettingValue(engine, "ISuffix")};
  if (engine.settings.mirrors.genFrames != 0) {
    reserved.push_back(SettingValue(engine, "TSuffix"));
    reserved.push_back(SettingValue(engine, "FCSuffix"));
    reserved.push_back(SettingValue(engine, "FISuffix"));
  }
  return reserved;
}

/// True when a split file with `suffix` would take the name of another file of this conversion:
/// a generated page, an earlier split file, or a file the conversion has open or has written
/// (the input, the error file, the log).
bool SuffixTaken(Engine& engine, const std::string& suffix,
                 const std::vector<std::string>& reserved) {
  for (const std::string& r : reserved)
    if (!r.empty() && CaseEqual(r, suffix)) return true;
  for (const FileRecord& file : engine.structure.files)
    if (CaseEqual(file.suffix, suffix)) return true;
  const std::string path = engine.settings.paths.baseName + suffix + "." + HtmlExt(engine);
  for (const auto& entry : engine.files.entries)
    if (entry && entry->state != FileState::kFree && CaseEqual(entry->name, path)) return true;
  return false;
}

}  // namespace

std::string SafeSuffixText(std::string_view text) {
  std::string safe;
  for (char c : text) {
    if (safe.size() >= kMaxSuffixText) break;
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '.' || c == '-';
    // Everything else (separators, "..", blanks, control and non-ASCII bytes, characters that
    // need quoting in a link) becomes one '-'; runs of '-' collapse.
    const char out = plain && c != '-' ? c : '-';
    if (out == '-' && (safe.empty() || safe.back() == '-')) continue;
    if (out == '.' && (safe.empty() || safe.back() == '.')) continue;
    safe.push_back(out);
  }
  while (!safe.empty() && (safe.back() == '-' || safe.back() == '.')) safe.pop_back();
  return safe;
}

/// Plans the split file that heading record `record` begins (called by the resolution).
void NewSplitFile(Engine& engine, int record) {
  StructureState& s = engine.structure;
  FileRecord file;
  file.heading = record;
  const int count = s.fileCount;
  if (engine.settings.mirrors.shortNames != 0) {
    int digits = engine.settings.mirrors.shortFileDigits;
    if (digits < 1) digits = 1;
    if (digits > 9) digits = 9;
    long limit = 1;
    for (int i = 0; i < digits; ++i) limit *= 10;
    if (limit <= count) ReportMessage(engine, "ERR_MAX_FILES_EXCEEDED", {count - 1, digits});
    char number[32];
    std::snprintf(number, sizeof number, "%0*d", digits, count);
    file.suffix = number;
  } else {
    SetText(engine, "Heading", RecordAt(s.records, record).text);
    // The suffix comes from document text through the translation file; whatever it gives, the
    // name keeps to letters, digits, '_', '.' and '-', so it cannot leave the output folder.
    std::string text = SafeSuffixText(StrExp(engine, "$GenFileSuffix(Heading)"));
    if (text.empty()) text = std::to_string(count);
    const std::vector<std::string> reserved = ReservedSuffixes(engine);
    file.suffix = "-" + text;
    for (int use = 1; SuffixTaken(engine, file.suffix, reserved);) {
      if (++use > kMaxSuffixUses) {
        ReportMessage(engine, "ERR_OVLP_FILENAMES");
        // Should the message be ignored, the file still gets a name of its own.
        file.suffix = "-" + std::to_string(count);
        while (SuffixTaken(engine, file.suffix, reserved)) file.suffix += "-";
        break;
      }
      file.suffix = "-" + text + "-" + std::to_string(use);
    }
  }
  s.files.push_back(std::move(file));
}

std::string FileSuffix(Engine& engine, int number) {
  const StructureState& s = engine.structure;
  if (number == 0)
    return engine.settings.mirrors.genFrames != 0 ? SettingValue(engine, "TSuffix") : std::string();
  if (number >= 1 && number <= static_cast<int>(s.files.size())) return s.files[number - 1].suffix;
  return {};
}

std::string FileLinkName(Engine& engine, int number) {
  return engine.settings.paths.baseFileName + FileSuffix(engine, number) + "." + HtmlExt(engine);
}

std::string FileLinkHref(Engine& engine, int number) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::string name = FileLinkName(engine, number);
  std::string href;
  href.reserve(name.size());
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || std::strchr("\"#%&'<>?", c) != nullptr) {
      href.push_back('%');
      href.push_back(kHex[byte >> 4]);
      href.push_back(kHex[byte & 15]);
    } else {
      href.push_back(c);
    }
  }
  return href;
}

std::string FrameTargetName(Engine& engine, std::string_view suffix) {
  std::string name = engine.settings.paths.baseFileName;
  for (char& c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_';
    if (!plain) c = '_';
  }
  name.append(suffix);
  return name;
}

namespace {

std::string FilePathName(Engine& engine, int number) {
  return engine.settings.paths.baseName + FileSuffix(engine, number) + "." + HtmlExt(engine);
}

/// NextFile and NextFileH from split file `number` (none past the last).
void SetNextFile(Engine& engine, int number) {
  const StructureState& s = engine.structure;
  if (number >= 1 && number <= static_cast<int>(s.files.size())) {
    SetText(engine, "NextFile", FilePathName(engine, number));
    SetText(engine, "NextFileH", RecordAt(s.records, s.files[number - 1].heading).text);
  } else {
    SetText(engine, "NextFile", "");
    SetText(engine, "NextFileH", "");
  }
}

}  // namespace

std::string OutputFileName(Engine& engine, int number) {
  StructureState& s = engine.structure;
  if (SettingValue(engine, "OutFileName").empty()) return {};
  if (number == 0) {
    // Both passes number the index entries alike from here.
    s.runningEntry = 0;
    s.entryCursor = -1;
    s.anchorCursor = -1;
  }
  const std::string name = FilePathName(engine, number);
  if (number <= 0) {
    SetText(engine, "TitleFile", name);
    SetText(engine, "ThisFile", name);
    SetText(engine, "PrevFile", "");
    SetText(engine, "PrevFileH", "");
    SetText(engine, "ParentFile", "");
    SetText(engine, "ParentFileH", "");
    SetNextFile(engine, 1);
  } else {
    SetText(engine, "PrevFile", SettingValue(engine, "ThisFile"));
    SetText(engine, "PrevFileH", SettingValue(engine, "FileFirstHeading"));
    SetText(engine, "ThisFile", name);
    const bool known = number <= static_cast<int>(s.files.size());
    const int heading = known ? s.files[number - 1].heading : -1;
    const int parent = heading >= 0 ? RecordAt(s.records, heading).parent : -1;
    if (parent >= 0) {
      SetText(engine, "ParentFile", FileLinkName(engine, RecordAt(s.records, parent).fileNumber));
      SetText(engine, "ParentFileH", RecordAt(s.records, parent).text);
    } else {
      SetText(engine, "ParentFile", "");
      SetText(engine, "ParentFileH", "");
    }
    SetNextFile(engine, number + 1);
    // The page strings of a split file read its heading.
    SetText(engine, "FileFirstHeading",
            heading >= 0 ? RecordAt(s.records, heading).text : std::string());
  }
  if (Tracing(engine)) PrintEscaped(engine, "hierOutFile: %s\n", name.c_str());
  return name;
}

void NoteTitleHeadEnd(Engine& engine, const OutputContext& context) {
  engine.structure.titleHeadEnd = OutputPosition(context);
}

void NoteBodyEnd(Engine& engine, const OutputContext& context) {
  engine.structure.lastBodyEnd = OutputPosition(context);
}

// ---- Anchors -----------------------------------------------------------------------------------

void BookmarkSeen(Engine& engine, std::string_view name) {
  StructureState& s = engine.structure;
  if (engine.driver.pass != 2) {
    AnchorRecord anchor;
    anchor.name.assign(name);
    anchor.place = RecordCount(s.records);
    s.anchors.push_back(std::move(anchor));
    if (s.firstPendingAnchor < 0) s.firstPendingAnchor = static_cast<int>(s.anchors.size()) - 1;
    if (Tracing(engine))
      PrintEscaped(engine, "newHierAnchor:%s,%d\n", s.anchors.back().name.c_str(),
                   s.anchors.back().place);
    return;
  }
  if (!s.resolved || s.anchorCursor + 1 >= static_cast<int>(s.anchors.size())) return;
  const AnchorRecord& anchor = s.anchors[++s.anchorCursor];
  if (anchor.place > engine.driver.currentFile) {
    if (Tracing(engine))
      PrintEscaped(engine, "ChangeFile Anchor:%d,%s\n", anchor.place, anchor.name.c_str());
    ChangeFileTo(engine, anchor.place);
  }
}

std::string AnchorFile(Engine& engine, std::string_view name) {
  if (engine.driver.pass != 2) return {};
  std::string_view key = name;
  if (!key.empty() && key[0] == '#') key.remove_prefix(1);
  for (const AnchorRecord& anchor : engine.structure.anchors)
    if (anchor.name == key) return FileLinkHref(engine, anchor.place);
  ReportMessage(engine, "MSG_NO_LINK_TARGET", {name});
  return {};
}

// ---- The created-files walk
// ----------------------------------------------------------------------

std::string NextListFile(Engine& engine, bool restart) {
  StructureState& s = engine.structure;
  if (restart) {
    s.listFileCursor = 0;
    return {};
  }
  if (!s.resolved || s.listFileCursor >= s.fileCount) return {};
  return FileLinkName(engine, s.listFileCursor++);
}

}  // namespace quillo::structure
