// The only calls from a lower layer into a higher one. Layers call from the bottom up (see
// engine/README.md): base -> output -> rtf -> expand -> trn -> translate -> structure -> frame.
// Where a lower layer must reach a higher one it calls one of these hooks, which the driver sets
// when it makes an engine (Engine::Engine in frame/engine.cc). The lower layer owns the hook's
// meaning (written here); the higher one only provides it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillo {
struct Engine;
struct FileEntry;
struct OutputContext;

namespace expand {
struct BuiltinEntry;
}

struct LayerHooks {
  // ---- Called by base (messages, settings, the file table) ----
  /// Expands a text of the expansion language: message texts and actions, the output names.
  std::string (*expand)(Engine&, std::string_view text) = nullptr;
  /// A message is being reported: results of expansions recorded so far may not be replayed
  /// across it (the memo of expansion results).
  void (*noteReport)(Engine&) = nullptr;
  /// A setting is being stored: the memo learns of the write unless it records it itself.
  void (*noteStore)(Engine&) = nullptr;
  /// The value of a built-in name the translation layer computes when it is read (paragraph,
  /// character and document state); false when it has none.
  bool (*computedValue)(Engine&, int builtinIndex, std::string& value) = nullptr;
  /// The text of sub-match n (0..9) of the current pattern match, read as "_0".."_9"; false when
  /// no match is current.
  bool (*subMatch)(const Engine&, int n, std::string& text) = nullptr;
  /// MatchName was set: the translation layer selects that .PMatch entry.
  void (*assignMatchName)(Engine&, std::string_view value) = nullptr;
  /// Registers the defaults of settings that higher layers own, at the point of the store reset
  /// where they have always been registered (the order of names in the store stays the same).
  void (*registerDefaults)(Engine&) = nullptr;
  /// The output names were derived anew: the log opens when one is asked for.
  void (*openLog)(Engine&) = nullptr;
  /// The end-of-conversion sweep of the file table: before it looks at the entries, for every
  /// entry still known, and after the table was emptied (the log lists the files, counts the
  /// created ones, publishes the list and closes).
  void (*beforeSweep)(Engine&) = nullptr;
  void (*sweptFile)(Engine&, const FileEntry&) = nullptr;
  void (*afterSweep)(Engine&) = nullptr;

  // ---- Called by output (the line writer) ----
  /// Before any text of a PutWrap call is written: text held back by the translation layer goes
  /// out first, so output keeps document order, and the memo learns that output happened.
  void (*beforeWrite)(Engine&) = nullptr;

  // ---- Called by expand (the expansion language) ----
  /// Built-ins that work on the document's tags and structure (contents, index, frames, links,
  /// PushTag/PopTags): looked up after the language's own.
  const expand::BuiltinEntry* builtins = nullptr;
  std::size_t builtinCount = 0;
  /// The created-files list read as the list "ListFile": the next file ("" at the end), or back to
  /// the first when `restart` is set.
  std::string (*nextListFile)(Engine&, bool restart) = nullptr;
  /// The Script step of a user function (run by the batch layer).
  std::string (*runScript)(Engine&, std::string_view text) = nullptr;
  /// The file that holds an anchor: the AnchorFile step, and link targets of the translation
  /// layer.
  std::string (*anchorFile)(Engine&, std::string_view name) = nullptr;

  // ---- Called by translate (the token handlers, the text sink, fields and footnotes) ----
  /// The first content of a paragraph in its channel (text, a tab, a line break, a field's
  /// output), asked for only while the structure state says the paragraph has not started: the
  /// heading hierarchy starts the paragraph's record, or in pass 2 finds it and may change files.
  void (*paragraphContentBegins)(Engine&) = nullptr;
  /// Pass 2, while the structure state has a heading anchor pending: the paragraph's text
  /// follows inside its tag, and the anchor is written there.
  void (*writeDueHeadingAnchor)(Engine&) = nullptr;
  /// A paragraph mark, before it is written: the heading hierarchy ends the paragraph's record.
  void (*paragraphEnd)(Engine&) = nullptr;
  /// An index or contents entry's group ends with its text and cross-reference text.
  void (*indexGroupEnd)(Engine&, std::string_view text, std::string_view reference) = nullptr;
  /// A bookmark or anchor name: pass 1 records it; pass 2 steps over its record and changes the
  /// output file when it lies in the next one.
  void (*bookmarkSeen)(Engine&, std::string_view name) = nullptr;
  /// A cross-reference: true when a heading's text resolves `target` (_LINK_ and _HOTTEXT_ set).
  bool (*resolveHeading)(Engine&, std::string_view target) = nullptr;
  /// Pass 2, InlineFootnotes: the footnote just ended moves into the main text at its mark.
  void (*moveFootnoteIntoText)(Engine&) = nullptr;

  // ---- Called by structure ----
  /// Pass 2: finishes the output file being written and opens the next one of the file plan.
  void (*changeOutputFile)(Engine&) = nullptr;
};

}  // namespace quillo
