// Document structure: the paragraph records of pass 1 and the heading hierarchy resolved from
// them, the plan of split output files and their names, named anchors, the contents lists, the
// index and the frame page. The translation layer feeds the records in both passes; the driver
// resolves them between the passes and asks for file names in pass 2; the built-in functions of
// the expansion language call the generators.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "structure/structure_state.h"
#include "translate/translate.h"

namespace quillo {
struct Engine;
struct OutputContext;

namespace structure {

// ---- Life cycle --------------------------------------------------------------------------------

/// Forgets everything of the previous conversion (set-up).
void ResetStructure(Engine& engine);
/// Between the passes: links parents, first children and peers, plans the split files, gives
/// index entries and anchors their file numbers and prepares the pass-2 cursors.
void ResolveHierarchy(Engine& engine);

// ---- Paragraphs (called by the translation layer in both passes, through LayerHooks) ----------

/// The first content of the current channel's paragraph (the translation layer checks that the
/// channel's paragraph has not started). Starts the paragraph's record in pass 1; in pass 2 finds
/// it, changes the output file at a heading that begins the next file, or schedules the heading's
/// anchor.
void ParagraphContentBegins(Engine& engine);
/// A heading anchor is due: the work of BeforeParagraphText.
void WriteDueHeadingAnchor(Engine& engine);

// The call below comes with every piece of body text and almost always finds nothing to do; it
// is defined here so that this check costs no call. It is a template only so that the body can
// use Engine, which is complete wherever it is called. (The translation layer makes the same
// checks before its hooks: translate/upcalls.h.)

/// Pass 2: the paragraph's format has been chosen and its text follows; writes the pending
/// "Heading<n>" anchor inside the heading's tag.
template <typename EngineT>
requires std::is_same_v<EngineT, Engine>
inline void BeforeParagraphText(EngineT& engine) {
  if (engine.structure.pendingHeadingAnchor >= 0) WriteDueHeadingAnchor(engine);
}
/// A paragraph mark. Pass 1 keeps the paragraph's text (headings) and "$EndPar;"; pass 2 checks
/// the position and writes the kept "$EndPar;" text. Call before the mark is written.
void ParagraphEnd(Engine& engine);
/// MatchName chose .PMatch entry `matchIndex` for the current paragraph (pass 1: its level).
void MatchChanged(Engine& engine, int matchIndex);

// ---- Files (file splitting and naming) ---------------------------------------------------------

/// Pass 2: the name of output file `number` (0 the title file, k the k-th split file); sets the
/// navigation settings (ThisFile, PrevFile, NextFile, ParentFile, TitleFile and their heading
/// texts, FileFirstHeading).
std::string OutputFileName(Engine& engine, int number);
/// Pass 2: the title page's head has been written to `context` (the frame page copies from here).
void NoteTitleHeadEnd(Engine& engine, const OutputContext& context);
/// Pass 2: the body of the file being finished has been closed in `context`.
void NoteBodyEnd(Engine& engine, const OutputContext& context);
/// Suffix of file `number` ("" for an unknown number).
std::string FileSuffix(Engine& engine, int number);
/// Link name of file `number`: link base, suffix, ".", HtmlExt.
std::string FileLinkName(Engine& engine, int number);
/// FileLinkName as it goes into a link (_LINK_): the characters that would end an attribute or
/// change the address's meaning (blanks, quotes, '#', '%', '&', '<', '>', '?', controls) are
/// percent-encoded. File names come from whoever named the input; a link never breaks out.
std::string FileLinkHref(Engine& engine, int number);
/// The name of a frame of the frame page (_TARGET_): the link base with every character but
/// letters, digits, '-', '.' and '_' made '_', then `suffix`.
std::string FrameTargetName(Engine& engine, std::string_view suffix);
/// Number of output files planned (NumFiles).
int NumFiles(const Engine& engine);
/// Sequence number of the current paragraph when it is a heading, else 0 (ParNumber).
int ParNumber(const Engine& engine);
/// Number of index entries collected (NumIndexEntries).
int NumIndexEntries(const Engine& engine);
/// The value of a computed built-in setting that reads the structure (NumFiles, ParNumber,
/// NumIndexEntries); false for every other index.
bool ComputedValue(const Engine& engine, int builtinIndex, std::string& out);

// ---- Anchors -----------------------------------------------------------------------------------

/// A bookmark ends. Pass 1 records it; pass 2 advances the anchor cursor and changes the output
/// file when the bookmark lies in the next one.
void BookmarkSeen(Engine& engine, std::string_view name);
/// Name of the output file that holds anchor `name` (one leading "#" is skipped): in pass 2 the
/// link base, the suffix of its file and HtmlExt; "" in pass 1. An unknown anchor reports
/// MSG_NO_LINK_TARGET and gives "".
std::string AnchorFile(Engine& engine, std::string_view name);

// ---- Contents lists ----------------------------------------------------------------------------

/// Writes the contents page; `frames` selects the frame variant.
void GenTOC(Engine& engine, int frames);
/// Contents list of the headings under the current output file's heading.
std::string GenLocalTOC(Engine& engine);
/// Contents list of the current file's peer headings.
std::string GenPeerTOC(Engine& engine);
/// The built-in GenFileTOC: the list of the files that begin at the headings directly under the
/// current file's heading (in the title file: at the top-level headings), each linking to its
/// file, drawn like the other lists; empty when there are none. Every such file is listed, also
/// when the levels of the headings differ (a document that skips a level), so that a language
/// assembling the files (DocBook's XInclude) reaches all of them.
std::string GenFileTOC(Engine& engine);
/// Looks `target` up among the heading texts (prefix, case ignored; then through
/// "$StripPN(Tmp1)"). On a match sets _LINK_ and _HOTTEXT_ and returns true.
bool ResolveHeading(Engine& engine, std::string_view target);

// ---- Index -------------------------------------------------------------------------------------

/// Adds an index entry (text and cross-reference text); returns its running number (0 for a
/// cross-reference entry), or -1 when none was added (GenIndex is 0).
int IndexEntry(Engine& engine, std::string_view text, std::string_view reference);
/// An RTF index-entry group (\xe, \tc) ends with its collected text and cross-reference text:
/// levels are split at the IndexSubMarkers characters; in pass 2 the entry's anchor is written.
void IndexGroupEnd(Engine& engine, std::string_view text, std::string_view reference);
/// Writes the index page; `frames` selects the frame variant.
void GenIndex(Engine& engine, int frames);

// ---- Frames ------------------------------------------------------------------------------------

/// Writes the frame page.
void GenFrames(Engine& engine);
/// Next file of the created-files walk (ListFile), "" after the last; `restart` starts again.
std::string NextListFile(Engine& engine, bool restart);

}  // namespace structure
}  // namespace quillo
