// The frame page: written under the plain output name, it carries a copy of the title page's
// body and the addresses of the title page and the contents page that its frames show.
#include <string>

#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "expand/expand.h"
#include "output/line_writer.h"
#include "structure/internal.h"
#include "structure/structure.h"
#include "translate/tags.h"

namespace quillo::structure {

namespace {

/// Lines of the title page are copied in pieces of at most this many characters.
constexpr std::size_t kCopyPiece = 511;

/// The text of a file this conversion has written: a memory output is read from its buffer (it
/// must not be opened again, which would empty it); a disk file is read from the disk.
bool ReadWrittenFile(Engine& engine, const std::string& name, std::string& text) {
  for (const auto& entry : engine.files.entries) {
    if (entry && entry->state != FileState::kFree && entry->kind == FileKind::kMemoryOutput &&
        entry->name == name) {
      text.assign(entry->output.view());
      return true;
    }
  }
  FileEntry* file = FileOpen(engine.files, name, "r");
  if (!file) return false;
  std::string line;
  while (FileReadLine(file, line, kCopyPiece + 1)) text += line;
  FileClose(file);
  return true;
}

}  // namespace

void GenFrames(Engine& engine) {
  StructureState& s = engine.structure;
  if (!CanGeneratePages(engine)) return;
  const std::string& base = engine.settings.paths.baseName;
  const std::string& linkBase = engine.settings.paths.baseFileName;
  const std::string ext = HtmlExt(engine);
  const std::string name = base + "." + ext;
  const std::string titleName = base + SettingValue(engine, "TSuffix") + "." + ext;
  // Without a title suffix the frame page would take the title page's own name and destroy it.
  if (name == titleName || SettingValue(engine, "OutFileName").empty()) return;
  SavedNavigation navigation(engine, name);
  OutputContext page;
  if (!OpenPage(engine, page, name)) return;
  if (Tracing(engine)) PrintEscaped(engine, "Generating Frames...\n");
  // The document frame's name, which the frame page gives its document frame.
  SetText(engine, "_TARGET_", FrameTargetName(engine, "2"));
  translate::PushTag(engine, page, translate::kTagPage, translate::kEndExpandedWhenPopped, 0,
                     "$FramePageHead;", "$FramePageEnd;");
  translate::PushTag(engine, page, translate::kTagPageBody, translate::kEndExpandedWhenPopped, 0,
                     "$FramePageBody;", "");

  std::string title;
  if (!ReadWrittenFile(engine, titleName, title)) {
    ClosePage(engine, page);
    ReportMessage(engine, "ERR_FILE_OPEN_FAILED", {titleName});
    return;
  }
  // Copy from the line that begins right after the title page's head up to where its body
  // ended. A head that does not end at a line boundary is never met, and nothing is copied.
  bool copying = false;
  for (std::size_t position = 0; position < title.size();) {
    const long at = static_cast<long>(position);
    if (at == s.lastBodyEnd) break;
    if (at == s.titleHeadEnd) copying = true;
    std::size_t end = title.find('\n', position);
    end = end == std::string::npos ? title.size() : end + 1;
    if (end - position > kCopyPiece) end = position + kCopyPiece;
    if (copying) PutWrap(engine, std::string_view(title).substr(position, end - position), page, 0);
    position = end;
  }

  SetText(engine, "_TITLE_HREF_", linkBase + SettingValue(engine, "TSuffix") + "." + ext);
  SetText(engine, "_TOC_HREF_", linkBase + SettingValue(engine, "FCSuffix") + "." + ext);
  ClosePage(engine, page);
}

}  // namespace quillo::structure
