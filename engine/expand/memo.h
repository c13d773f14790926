// Reuse of expansion results. A user-function call (or the expansion of a tag text) whose only
// effects were reading names and saving named strings of the translation file's own is recorded;
// while every name it read from outside still gives the same value, a later identical call gives
// the recorded result and sets the same strings again instead of running. The whole interface is
// four functions: note a read, note an effect, look up, record. Bounded in keys, entries and
// bytes; the setting ReuseResults=0 turns it off (for comparing outputs with and without it).
// Depends on the settings store (a lookup checks the recorded reads against it).
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillo {
struct Engine;
struct ExpansionState;

/// A name read, or a named string set by a Save step, while a recorded call ran.
struct MemoEvent {
  std::string name;
  std::string value;     ///< what the read gave, or what was set
  bool literal = false;  ///< the value is literal text (read as such, or set as such)
  int index = -1;  ///< the setting the name found (settings are never removed in a conversion)
  bool write = false;
  /// A read of a string the call had set itself before (found when the entry is kept): a check
  /// does not repeat it.
  bool ownValue = false;
};

/// A finished call whose only effects were reading names and setting named strings of the
/// translation file's own: as long as every name it read from outside still gives the same value,
/// doing it again gives the same result and sets the same strings to the same values.
struct MemoEntry {
  std::vector<MemoEvent> events;  ///< in the order they happened
  std::string result;
  bool resultLiteral = false;
  /// literalUses the call counted beyond those of the reads that a reuse repeats (its arguments'
  /// and current value's literal slots, names it had set itself), which a reuse adds again.
  unsigned long otherLiteralUses = 0;
  int depthSpan = 0;      ///< expansion levels the call went below its own
  std::size_t bytes = 0;  ///< what the entry holds, counted against MemoState::kMaxBytes
};

/// The recording of a call that may become a MemoEntry. Every name read and every Save of a
/// translation-file string while it is active is appended; anything else with an effect spoils it.
struct MemoRecording {
  std::vector<MemoEvent> events;
  std::size_t frameDepth = 0;  ///< function frames outside the recorded call
  bool spoiled = false;
};

/// The reusable results kept for one call or text, and how often looking them up paid.
struct MemoList {
  std::vector<std::shared_ptr<const MemoEntry>> entries;  ///< most recently used first
  unsigned long hits = 0;
  unsigned long misses = 0;
};

/// Hashes std::string and std::string_view alike, so the memo is searched without building a key.
struct MemoKeyHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view key) const noexcept {
    return std::hash<std::string_view>()(key);
  }
};

using MemoTable = std::unordered_map<std::string, MemoList, MemoKeyHash, std::equal_to<>>;

/// The memo of one conversion.
struct MemoState {
  /// Most keys a table keeps: a key that comes after is not recorded. Keys are function calls with
  /// their argument names and tag texts, a few hundred in a real document; texts made per use
  /// (a pushed tag's literal reference) would otherwise add a key each.
  static constexpr std::size_t kMaxKeys = 4096;
  /// Most results kept for one key (a function whose value alternates between a few forms).
  static constexpr std::size_t kEntriesPerKey = 16;
  /// Most events of one recording: a call that reads more is not kept (checking it would cost
  /// about what running it does).
  static constexpr std::size_t kMaxEvents = 256;
  /// Most bytes held by all entries; beyond it the tables are emptied and fill again.
  static constexpr std::size_t kMaxBytes = 16u << 20;

  MemoTable calls;                          ///< by function number and argument names
  MemoTable texts;                          ///< by text
  std::vector<signed char> functionPurity;  ///< per function: -1 not known yet, 0 no, 1 yes
  std::vector<MemoRecording*> recordings;   ///< calls being recorded, innermost last
  int deepestLevel = 0;          ///< deepest expansion depth reached, for MemoEntry::depthSpan
  bool replayableWrite = false;  ///< a Save is setting a string that recordings take as an event
  std::size_t bytes = 0;         ///< held by the entries of both tables
  int switchHint = -1;           ///< store index of ReuseResults, once found
  std::size_t switchSearchedSize = 0;  ///< store size when ReuseResults was last searched for
  /// Advanced by every look-up and every expansion entered. A built-in setting computed for a
  /// check keeps its value while the count stays: the computations read only the translation
  /// state and the store, which nothing but an expansion changes while a look-up runs.
  unsigned long epoch = 0;
  std::vector<unsigned long> computedAt;  ///< per built-in setting: epoch of its last check read
};

namespace memo {

/// What the memo offers for a key.
enum class Reuse {
  kHit,     ///< a kept result whose reads still give the same values: use it, replay its saves
  kRecord,  ///< nothing fits: make the call through Record
  kSkip,    ///< results of this key are seldom reused: just make the call
  kOff,     ///< no reuse now (ReuseResults=0, the trace is on or an expansion is running away):
            ///< make the call as if there were no memo
};

/// Note a read: a name was read (or, with `event.write`, a translation-file string was saved by
/// a step a reuse can replay). Every call being recorded takes it as an event.
void NoteRead(ExpansionState& x, MemoEvent event);
/// Note an effect: anything else with an effect (a setting written, a message, output, a built-in
/// call) spoils every call being recorded, since reusing one would skip the effect. With
/// `callerFrames`, only the recordings of calls that run inside that many function frames or
/// fewer are spoiled (a read of a caller's argument, which their own arguments do not determine).
void NoteEffect(ExpansionState& x, std::size_t callerFrames = static_cast<std::size_t>(-1));
/// Look up: finds a kept result of `key` whose reads still give the same values (repeating those
/// reads, with the effects reading a name has) and sets `hit` to it. The caller then sets again
/// what the call saved (the write events of `hit`, in order).
Reuse Lookup(Engine& engine, MemoTable& table, std::string_view key,
             std::shared_ptr<const MemoEntry>& hit);

/// False when results are not reused now (Lookup answers kOff): ReuseResults=0, the trace is on
/// or an expansion is running away.
bool Usable(Engine& engine);

/// Record: runs `evaluate` (which returns the result and sets its literal flag) while recording
/// what it reads, and keeps the result under `key` when it did nothing else (then `kept`, when
/// given, is set to the entry kept).
template <typename Evaluate>
std::string Record(Engine& engine, MemoTable& table, std::string_view key, bool& literal,
                   Evaluate evaluate, std::shared_ptr<const MemoEntry>* kept = nullptr);

// ---- Implementation of Record ------------------------------------------------------------------

struct RecordScope {
  RecordScope(Engine& engine, MemoRecording& recording);
  ~RecordScope();
  /// Ends the recording and keeps it under `key` when the call did nothing but read and save.
  void Keep(MemoTable& table, std::string_view key, const std::string& result, bool literal);
  Engine& engine;
  MemoRecording& recording;
  unsigned long usesBefore;
  int startDepth;
  int deepestBefore;
  bool finished = false;
  std::shared_ptr<const MemoEntry> kept;  ///< the entry Keep kept, if it kept one
};

template <typename Evaluate>
std::string Record(Engine& engine, MemoTable& table, std::string_view key, bool& literal,
                   Evaluate evaluate, std::shared_ptr<const MemoEntry>* kept) {
  MemoRecording recording;
  RecordScope scope(engine, recording);
  std::string result = evaluate(literal);
  scope.Keep(table, key, result, literal);
  if (kept) *kept = std::move(scope.kept);
  return result;
}

}  // namespace memo
}  // namespace quillo
