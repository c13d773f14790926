// Output files of pass 2: each file of the file plan is opened with its footnote file and its
// opening page strings, and finished with the footnotes and the closing strings before the next
// one opens.
#include "frame/output_files.h"

#include <string>
#include <string_view>

#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "frame/driver.h"
#include "output/line_writer.h"
#include "structure/structure.h"
#include "translate/table_model.h"
#include "translate/tags.h"
#include "translate/translate.h"

namespace quillo {
namespace {

/// Writes a page string and pushes its closing string, expanded when popped.
void PushPageEntry(Engine& engine, OutputContext& context, translate::TagKind kind,
                   const char* open, const char* close) {
  translate::PushTag(engine, context, kind, translate::kEndExpandedWhenPopped, 0, open, close);
}

/// Bytes of the footnote section copied at a time.
constexpr std::size_t kFootnotePiece = 64u << 10;

/// Passes the footnote output after what was moved into the main text already to `write`, in
/// pieces of about kFootnotePiece bytes, so that a long footnote section is never held whole;
/// what it passes counts as moved. False when there was nothing to pass.
template <typename Write>
bool MoveUnmovedFootnotes(Engine& engine, Write write) {
  DriverState& d = engine.driver;
  if (!d.footnoteFile) return false;
  bool any = false;
  if (d.footnoteFile->kind == FileKind::kMemoryOutput) {
    // Copied piece by piece: writing the pieces must not depend on the footnote output's buffer.
    std::string piece;
    while (static_cast<std::size_t>(d.footnotesMoved) < d.footnoteFile->output.view().size()) {
      piece.assign(d.footnoteFile->output.view().substr(static_cast<std::size_t>(d.footnotesMoved),
                                                        kFootnotePiece));
      d.footnotesMoved += static_cast<long>(piece.size());
      any = true;
      write(std::string_view(piece));
    }
    return any;
  }
  const long end = FileTell(d.footnoteFile);
  if (end <= d.footnotesMoved) return false;
  FileSeek(d.footnoteFile, d.footnotesMoved, 0);
  std::string piece, line;
  bool more = true;
  while (more) {
    more = FileReadLine(d.footnoteFile, line, 257);
    if (more) piece += line;
    if (!piece.empty() && (!more || piece.size() >= kFootnotePiece)) {
      d.footnotesMoved += static_cast<long>(piece.size());
      any = true;
      write(std::string_view(piece));
      piece.clear();
    }
  }
  FileSeek(d.footnoteFile, 0, 2);  // further footnotes are written at the end
  return any;
}

}  // namespace

void RunHook(Engine& engine, const char* hook) { StrExp(engine, hook); }

/// Opens output file `number` with its footnote file and writes the opening page strings.
void OpenOutputFile(Engine& engine, int number) {
  DriverState& d = engine.driver;
  d.main.Reset();
  d.footnotes.Reset();
  translate::StartOutputFile(engine);
  d.currentFile = number;
  const std::string& base = engine.settings.paths.baseName;
  std::string ext = SettingValue(engine, "HtmlExt");
  if (number == 0) {
    // File names made from the output's base name: literal, like the name they come from.
    SetLiteralSetting(engine, "ContentsFile", base + SettingValue(engine, "CSuffix") + "." + ext);
    SetLiteralSetting(engine, "IndexFile", base + SettingValue(engine, "ISuffix") + "." + ext);
    SetLiteralSetting(engine, "FContentsFile", base + SettingValue(engine, "FCSuffix") + "." + ext);
    SetLiteralSetting(engine, "FIndexFile", base + SettingValue(engine, "FISuffix") + "." + ext);
    RunHook(engine, "$Pass2Start;");
  }
  // The file plan names every output file of pass 2 and sets the navigation settings.
  std::string name = structure::OutputFileName(engine, number);
  if (name.empty()) name = SettingValue(engine, "OutFileName");
  // An empty output name, or "-", writes the (first) page to standard output.
  const bool toStandardOutput =
      !engine.files.memoryOutputMode &&
      (name.empty() || (number == 0 && engine.settings.paths.standardOutput));
  d.main.file =
      toStandardOutput ? FileOpenStandardOutput(engine.files) : FileOpen(engine.files, name, "w");
  if (!d.main.file) ReportOpenFailure(engine, name);
  d.outputOpen = true;
  if (toStandardOutput) {
    // Beside a page on standard output there may be no folder to write in: its footnotes are
    // collected in memory.
    d.footnoteFileName = base + ".tmp";
    d.footnoteFile = FileOpenMemory(engine.files, d.footnoteFileName);
  } else {
    // The footnotes of this file collect in a temporary file of a fresh name beside the output.
    d.footnoteFile = FileCreateTemporary(engine.files, base);
    d.footnoteFileName = d.footnoteFile ? d.footnoteFile->name : std::string();
  }
  if (!d.footnoteFile) ReportMessage(engine, "ERR_TMP_OPEN_FAILED");
  d.footnotes.file = d.footnoteFile;
  d.footnotesMoved = 0;
  if (number == 0) {
    PushPageEntry(engine, d.main, translate::kTagPage, "$TitlePageHead;", "$TitlePageEnd;");
    structure::NoteTitleHeadEnd(engine, d.main);  // the frame page copies from here
    PushPageEntry(engine, d.main, translate::kTagPageBody, "$TitlePageBody;", "$TitlePageBodyEnd;");
  } else {
    PushPageEntry(engine, d.main, translate::kTagPage, "$GenPageHead;", "$GenPageEnd;");
    PushPageEntry(engine, d.main, translate::kTagPageBody, "$GenPageBody;", "$GenPageBodyEnd;");
  }
}

/// Closes the open tags, appends collected footnotes, writes the closing page strings and closes
/// the output file. At the end of the input also runs the last hook and closes the error file.
void FinishOutputFile(Engine& engine, bool atEndOfInput) {
  DriverState& d = engine.driver;
  if (!d.outputOpen) return;
  // Open paragraph and text tags and special text states of both channels are closed first.
  translate::FinishOutputFormatting(engine);
  d.outputOpen = false;
  // Footnotes collected for this file (and not moved into its text already) follow its text,
  // after the separator.
  if (d.footnoteFile) {
    FlushContext(engine, d.footnotes);
    bool separated = false;
    const bool any = MoveUnmovedFootnotes(engine, [&](std::string_view piece) {
      if (!separated) ExpandInto(engine, d.main, "$FNSep;");
      separated = true;
      PutWrap(engine, piece, d.main, 0);
    });
    // The end of the footnote section, when the translation file has one.
    if (any && GetSetting(engine, "FNEnd")) ExpandInto(engine, d.main, "$FNEnd;");
    FileRemove(d.footnoteFile);
    d.footnoteFile = nullptr;
    d.footnoteFileName.clear();
    d.footnotes.file = nullptr;
  }
  // The body closes first; the frame page copies the title page's body up to here.
  translate::PopTags(engine, translate::kTagPage, d.main, translate::kPopAboveIfOpen);
  structure::NoteBodyEnd(engine, d.main);
  translate::PopAllTags(engine, d.main);
  FlushContext(engine, d.main);
  FileEntry* page = d.main.file;
  d.main.file = nullptr;
  if (page && !FileCloseChecked(engine.files, page))
    ReportMessage(engine, "ERR_FILE_WRITE_FAILED", {page->name});
  if (d.currentFile == 0) RunHook(engine, "$TitlePageComplete;");
  if (atEndOfInput) {
    RunHook(engine, "$TranslationEnd;");
    CloseErrorFile(engine);
  }
}

void MoveFootnoteIntoText(Engine& engine) {
  DriverState& d = engine.driver;
  if (d.pass != 2 || !d.outputOpen || !d.footnoteFile || !d.main.file) return;
  FlushContext(engine, d.footnotes);
  bool first = true;
  MoveUnmovedFootnotes(engine, [&](std::string_view piece) {
    // The text tags of the reference close first, so that the footnote's own markup nests in
    // none of them; the text after it opens them again as needed.
    if (first) translate::PopTags(engine, translate::kTagText, d.main, translate::kPopRunIfOpen);
    first = false;
    PutWrap(engine, piece, d.main, 0);
  });
}

void ChangeOutputFile(Engine& engine) {
  DriverState& d = engine.driver;
  if (d.pass != 2 || !d.outputOpen) return;
  FinishOutputFile(engine, false);
  OpenOutputFile(engine, d.currentFile + 1);
}

}  // namespace quillo
