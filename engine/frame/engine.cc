// Making an engine: every layer's state starts empty, and the hooks through which a lower layer
// reaches a higher one (base/hooks_state.h) are set to the functions of the layers above.
#include "engine.h"

#include <string>
#include <string_view>

#include "base/settings.h"
#include "expand/expand.h"
#include "expand/memo.h"
#include "frame/batch.h"
#include "frame/driver.h"
#include "frame/log.h"
#include "structure/builtins.h"
#include "structure/structure.h"
#include "translate/links.h"
#include "translate/translate.h"

namespace quillo {

Engine::Engine() {
  LayerHooks& h = hooks;
  h.expand = [](Engine& engine, std::string_view text) { return StrExp(engine, text); };
  h.noteReport = [](Engine& engine) { memo::NoteEffect(engine.expansion); };
  // A Save that recordings can replay records itself; every other write spoils them.
  h.noteStore = [](Engine& engine) {
    if (!engine.expansion.memo.replayableWrite) memo::NoteEffect(engine.expansion);
  };
  h.subMatch = CurrentSubMatch;
  h.computedValue = [](Engine& engine, int index, std::string& value) {
    return translate::ComputedValue(engine, index, value) ||
           structure::ComputedValue(engine, index, value);
  };
  h.assignMatchName = [](Engine& engine, std::string_view value) {
    const int match = translate::AssignMatchName(engine, value);
    if (match >= 0) structure::MatchChanged(engine, match);  // the record takes its heading level
  };
  h.registerDefaults = [](Engine& engine) {
    SetSetting(engine, "LinkSchemes", translate::kDefaultLinkSchemes);
  };
  h.openLog = OpenLogFile;
  h.beforeSweep = WriteLogFileLines;
  h.sweptFile = RecordCreatedFile;
  h.afterSweep = [](Engine& engine) {
    engine.expansion.userFile = nullptr;  // CreateFile's file went with the table
    PublishCreatedFiles(engine);
    CloseLogFile(engine);
  };
  h.beforeWrite = [](Engine& engine) {
    // Paragraph text held back for the paragraph-number override, and text gathered into a run,
    // are written before anything else reaches the output, so output keeps document order.
    translate::ReleaseHeldText(engine);
    memo::NoteEffect(engine.expansion);
  };
  h.builtins = structure::DocumentBuiltins(h.builtinCount);
  h.nextListFile = structure::NextListFile;
  h.runScript = RunScriptStep;
  h.anchorFile = structure::AnchorFile;
  h.paragraphContentBegins = structure::ParagraphContentBegins;
  h.writeDueHeadingAnchor = structure::WriteDueHeadingAnchor;
  h.paragraphEnd = structure::ParagraphEnd;
  h.indexGroupEnd = structure::IndexGroupEnd;
  h.bookmarkSeen = structure::BookmarkSeen;
  h.resolveHeading = structure::ResolveHeading;
  h.moveFootnoteIntoText = MoveFootnoteIntoText;
  h.changeOutputFile = ChangeOutputFile;
}

}  // namespace quillo
