// Contents and navigation lists: the contents page, the local list of the current file, the
// list of its peer files, and links resolved by the text of a heading. Every list is drawn with
// the translation strings "$_head_list_start_;", "$_head_list_entry_;" and "$_head_list_end_;".
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/settings.h"
#include "expand/expand.h"
#include "structure/internal.h"
#include "structure/paragraphs.h"
#include "structure/structure.h"
#include "translate/tags.h"
#include "translate/translate.h"

namespace quillo::structure {

namespace {

/// Where a heading list goes: the contents page's output (lists are tags, closed when popped) or
/// a string (each string expanded in place).
struct ListWriter {
  explicit ListWriter(Engine& e, OutputContext* page = nullptr) : engine(e), context(page) {}
  Engine& engine;
  OutputContext* context = nullptr;  ///< the page, or nullptr for a string
  std::string text;

  void Open() {
    if (context)
      translate::PushTag(engine, *context, translate::kTagHeadingList,
                         translate::kEndExpandedWhenPopped, 0, "$_head_list_start_;",
                         "$_head_list_end_;");
    else
      text += StrExp(engine, "$_head_list_start_;");
  }
  void Close() {
    if (context)
      translate::PopTags(engine, translate::kTagHeadingList, *context, translate::kPopEntry);
    else
      text += StrExp(engine, "$_head_list_end_;");
  }
  void Entry(std::string_view link, std::string_view hotText, bool current = false) {
    SetText(engine, "_LINK_", link);
    SetText(engine, "_HOTTEXT_", hotText);
    const char* name = current ? "$_head_list_entry_current_;" : "$_head_list_entry_;";
    if (context)
      ExpandInto(engine, *context, name);
    else
      text += StrExp(engine, name);
  }
};

std::string AnchorLink(Engine& engine, const ParagraphRecord& record) {
  return FileLinkHref(engine, record.fileNumber) + "#Heading" + std::to_string(record.sequence);
}

std::string LocalLink(const ParagraphRecord& record) {
  return "#Heading" + std::to_string(record.sequence);
}

enum class ListKind {
  kContents,  ///< the contents page: MaxTOCLevel applies; split headings link to their file
  kLocal,     ///< headings of the file being written: local links
};

/// Writes the heading list that begins at record `start` with the lists nested in it, and
/// returns the record at which it stopped (one of a lower level number than the list's, or the
/// end). Nesting is kept on an explicit stack, so no document can make it recurse deeply.
int HeadingList(Engine& engine, int start, ListWriter& writer, ListKind kind) {
  const ParagraphRecords& records = engine.structure.records;
  const int n = RecordCount(records);
  const int maxLevel = engine.settings.mirrors.maxTocLevel;
  const int splitDepth = engine.settings.mirrors.splitDepth;
  // Paragraphs that are no heading (level 0) add nothing to a list: the walk goes from heading
  // to heading.
  int r = NextHeading(records, start);
  if (r >= n) return n;

  struct Frame {
    int base;
    bool shown;
  };
  std::vector<Frame> frames;
  auto enter = [&](int record) {
    const int base = RecordAt(records, record).level;
    const Frame frame{base, kind == ListKind::kLocal || maxLevel >= base};
    if (frame.shown) writer.Open();
    frames.push_back(frame);
  };
  auto leave = [&] {
    if (frames.back().shown) writer.Close();
    frames.pop_back();
  };
  enter(r);
  for (;;) {
    const Frame& frame = frames.back();
    const ParagraphRecord& record = RecordAt(records, r);
    // An entry deeper than MaxTOCLevel that follows a deeper list stays out as well.
    if (record.level != 0 && frame.shown &&
        (kind == ListKind::kLocal || record.level <= maxLevel)) {
      if (kind == ListKind::kLocal)
        writer.Entry(LocalLink(record), record.text);
      else if (record.level <= splitDepth && record.fileNumber > 0)
        writer.Entry(FileLinkHref(engine, record.fileNumber), record.text);
      else
        writer.Entry(AnchorLink(engine, record), record.text);
    }
    if ((r = NextHeading(records, r + 1)) >= n) {
      while (!frames.empty()) leave();
      return n;
    }
    const int level = RecordAt(records, r).level;
    if (level > frames.back().base) {
      enter(r);
      continue;
    }
    while (level < frames.back().base) {
      leave();
      if (frames.empty()) return r;
    }
  }
}

/// The list of the heading reached from `start` and its next peers, each linking to its file.
std::string PeerFileList(Engine& engine, int start) {
  const ParagraphRecords& records = engine.structure.records;
  const int n = RecordCount(records);
  if (start < 0) return {};
  int r = NextHeading(records, start);
  if (r >= n) return {};
  ListWriter writer{engine};
  writer.Open();
  for (; r >= 0; r = RecordAt(records, r).nextPeer) {
    const ParagraphRecord& record = RecordAt(records, r);
    writer.Entry(FileLinkHref(engine, record.fileNumber), record.text);
  }
  writer.Close();
  return writer.text;
}

/// The nested local lists of every heading from `start` to the end.
std::string LocalLists(Engine& engine, int start) {
  ListWriter writer{engine};
  const int n = RecordCount(engine.structure.records);
  for (int r = start; r < n;) r = HeadingList(engine, r, writer, ListKind::kLocal);
  return writer.text;
}

}  // namespace

void GenTOC(Engine& engine, int frames) {
  if (!CanGeneratePages(engine)) return;
  const std::string name = engine.settings.paths.baseName +
                           SettingValue(engine, frames != 0 ? "FCSuffix" : "CSuffix") + "." +
                           HtmlExt(engine);
  SavedNavigation navigation(engine, name);
  OutputContext page;
  if (!OpenPage(engine, page, name)) return;
  SetText(engine, "ContentsFile", name);
  CurrentFileScope scope(engine, -1);
  if (Tracing(engine)) PrintEscaped(engine, "Generating Table of Contents...\n");
  if (frames != 0) SetText(engine, "_TARGET_", FrameTargetName(engine, "2"));
  translate::PushTag(engine, page, translate::kTagPage, translate::kEndExpandedWhenPopped, 0,
                     "$ContentsPageHead;", "$ContentsPageEnd;");
  translate::PushTag(engine, page, translate::kTagPageBody, translate::kEndExpandedWhenPopped, 0,
                     "$ContentsPageBody;", "");
  ListWriter writer{engine, &page};
  const int n = RecordCount(engine.structure.records);
  for (int r = 0; r < n;) r = HeadingList(engine, r, writer, ListKind::kContents);
  ClosePage(engine, page);
}

std::string GenLocalTOC(Engine& engine) {
  const StructureState& s = engine.structure;
  const ParagraphRecords& records = s.records;
  const int n = RecordCount(records);
  if (n == 0) return {};
  const int w = engine.driver.currentFile;
  const int splitDepth = engine.settings.mirrors.splitDepth;
  if (w == 0) return splitDepth != 0 ? PeerFileList(engine, 0) : LocalLists(engine, 0);
  if (w < 1 || w > static_cast<int>(s.files.size())) return {};
  const int heading = s.files[w - 1].heading;
  int r = RecordAt(records, heading).firstChild;
  if (r < 0) return {};
  r = NextHeading(records, r);
  if (r >= n || RecordAt(records, r).parent != heading) return {};
  if (RecordAt(records, r).level > splitDepth) {
    ListWriter writer{engine};
    HeadingList(engine, r, writer, ListKind::kLocal);
    return writer.text;
  }
  return PeerFileList(engine, r);
}

std::string GenFileTOC(Engine& engine) {
  const StructureState& s = engine.structure;
  const ParagraphRecords& records = s.records;
  const int w = engine.driver.currentFile;
  if (RecordCount(records) == 0 || w < 0 || w > static_cast<int>(s.files.size())) return {};
  // A split heading's parent has a lower level, so it begins a file of its own: the children of
  // the current file are the files whose heading's parent is the current file's heading (none
  // in the title file). Every one of them is listed, whatever its level.
  const int owner = w == 0 ? -1 : s.files[w - 1].heading;
  ListWriter writer{engine};
  bool open = false;
  for (int k = 1; k <= static_cast<int>(s.files.size()); ++k) {
    const int heading = s.files[k - 1].heading;
    if (heading < 0 || heading >= RecordCount(records)) continue;
    const ParagraphRecord& record = RecordAt(records, heading);
    if (record.parent != owner) continue;
    if (!open) writer.Open();
    open = true;
    writer.Entry(FileLinkName(engine, k), record.text);
  }
  if (open) writer.Close();
  return writer.text;
}

std::string GenPeerTOC(Engine& engine) {
  const StructureState& s = engine.structure;
  const int w = engine.driver.currentFile;
  if (RecordCount(s.records) == 0 || w < 1 || w > static_cast<int>(s.files.size())) return {};
  const int level = RecordAt(s.records, s.files[w - 1].heading).level;
  ListWriter writer{engine};
  writer.Open();
  for (int k = 1; k <= static_cast<int>(s.files.size()); ++k) {
    const ParagraphRecord& heading = RecordAt(s.records, s.files[k - 1].heading);
    if (heading.level != level) continue;
    writer.Entry(FileLinkHref(engine, k), heading.text, k == w);
  }
  writer.Close();
  return writer.text;
}

bool ResolveHeading(Engine& engine, std::string_view target) {
  const ParagraphRecords& records = engine.structure.records;
  const int n = RecordCount(records);
  if (target.empty() || n == 0) return false;
  if (Tracing(engine))
    PrintEscaped(engine, "Resolving: %.*s\n", static_cast<int>(target.size()), target.data());
  int found = -1;
  for (int i = NextHeading(records, 0); i < n && found < 0; i = NextHeading(records, i + 1))
    if (RecordAt(records, i).level > 0 && CasePrefix(RecordAt(records, i).text, target)) found = i;
  // Headings are often numbered ("2.1 Scope") while references name them without the number.
  for (int i = NextHeading(records, 0); i < n && found < 0; i = NextHeading(records, i + 1)) {
    if (RecordAt(records, i).level <= 0) continue;
    SetText(engine, "Tmp1", RecordAt(records, i).text);
    if (CasePrefix(StrExp(engine, "$StripPN(Tmp1)"), target)) found = i;
  }
  if (found < 0) return false;
  const ParagraphRecord& record = RecordAt(records, found);
  const bool local = engine.driver.pass == 2 && record.fileNumber == engine.driver.currentFile;
  SetText(engine, "_LINK_", local ? LocalLink(record) : AnchorLink(engine, record));
  SetText(engine, "_HOTTEXT_", target);
  return true;
}

}  // namespace quillo::structure
