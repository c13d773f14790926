// The memo of expansion results: noting reads and effects while calls are recorded, checking a
// kept result against the store, and keeping new results within the bounds.
#include "expand/memo.h"

#include "base/buffers.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"

namespace quillo::memo {
namespace {

/// The setting that turns reuse off ("0"); any other value, or none, leaves it on.
constexpr std::string_view kSwitchName = "ReuseResults";

/// True when ReuseResults is "0". The store index of the name is kept once found; while the name
/// is not defined, the store is searched again only after it has grown (settings are never
/// removed during a conversion).
bool SwitchedOff(Engine& engine) {
  MemoState& memo = engine.expansion.memo;
  const std::vector<std::string>& names = engine.settings.names;
  int& hint = memo.switchHint;
  if (hint < 0 || hint >= static_cast<int>(names.size()) || !CaseEqual(names[hint], kSwitchName)) {
    if (names.size() == memo.switchSearchedSize) return false;
    hint = FindSetting(engine, kSwitchName);
    memo.switchSearchedSize = names.size();
    if (hint < 0) return false;
  }
  return engine.settings.values[hint] == "0";
}

/// The value of setting `index` for a check. A built-in read again in the same look-up with no
/// expansion run since is not computed again: its value is still the one computed (computing it
/// again would give the same text, at the cost of building it).
const std::string& CheckRead(Engine& engine, int index) {
  MemoState& memo = engine.expansion.memo;
  if (index >= kSettingCount && !engine.settings.watch.active)
    return engine.settings.values[index];  // GetSettingAt has nothing to compute or note
  if (index < 0 || index >= kSettingCount) return GetSettingAt(engine, index);
  if (memo.computedAt.size() != kSettingCount) memo.computedAt.assign(kSettingCount, 0);
  if (memo.computedAt[index] == memo.epoch) {
    SettingsWatch& watch = engine.settings.watch;
    if (watch.active && IsComputedSetting(index)) watch.computedRead = true;
    return engine.settings.values[index];
  }
  const std::string& value = GetSettingAt(engine, index);
  memo.computedAt[index] = memo.epoch;
  return value;
}

/// True when every name `entry` read from outside (not after setting it itself) gives the same
/// value and literal flag again. Those reads are repeated in order, with the effects reading a
/// name has, before anything is set: the strings the call sets are the translation file's own,
/// which no other name's value depends on, so the reads see what they saw in the call.
bool StillValid(Engine& engine, const MemoEntry& entry) {
  if (engine.expansion.depth + entry.depthSpan + 1 >= ExpansionState::kMaxDepth) return false;
  ExpansionState& x = engine.expansion;
  for (std::size_t i = 0; i < entry.events.size(); ++i) {
    const MemoEvent& read = entry.events[i];
    if (read.write || read.ownValue) continue;
    // The setting the name found before is found again without looking the name up.
    const std::string& value = CheckRead(engine, read.index);
    const bool literal = engine.settings.literalIndexes.count(read.index);  // IsLiteralSetting
    if (literal) ++x.literalUses;
    if (!x.memo.recordings.empty()) NoteRead(x, {read.name, value, literal, read.index, false});
    if (literal != read.literal || value != read.value) return false;
  }
  return true;
}

/// True when a format number is read after a Save. Reading one may register a new format, which
/// expands the format's entry string; in the call that happened after the Save, but a reuse reads
/// before it sets anything, so such a call is not kept.
bool RegistersAfterSave(const std::vector<MemoEvent>& events) {
  bool saved = false;
  for (const MemoEvent& event : events) {
    if (event.write) {
      saved = true;
    } else if (saved &&
               (event.index == kSettingCharFmtIdx || event.index == kSettingParFmtIdx ||
                event.index == kSettingCharLookIdx || event.index == kSettingCharLookRule)) {
      return true;
    }
  }
  return false;
}

std::size_t EntryBytes(const MemoEntry& entry) {
  std::size_t bytes = sizeof entry + entry.result.size();
  for (const MemoEvent& event : entry.events)
    bytes += sizeof event + event.name.size() + event.value.size();
  return bytes;
}

}  // namespace

void NoteRead(ExpansionState& x, MemoEvent event) {
  const std::size_t count = x.memo.recordings.size();
  for (std::size_t i = 0; i < count; ++i) {
    MemoRecording& recording = *x.memo.recordings[i];
    if (recording.spoiled) continue;
    if (recording.events.size() >= MemoState::kMaxEvents) {
      recording.spoiled = true;  // too many reads to be worth checking later
      continue;
    }
    if (i + 1 == count) {
      recording.events.push_back(std::move(event));
      return;
    }
    recording.events.push_back(event);
  }
}

void NoteEffect(ExpansionState& x, std::size_t callerFrames) {
  for (MemoRecording* recording : x.memo.recordings)
    if (callerFrames == static_cast<std::size_t>(-1) || callerFrames <= recording->frameDepth)
      recording->spoiled = true;
}

bool Usable(Engine& engine) {
  return !engine.expansion.unwinding &&
         (engine.settings.mirrors.debug & kDebugTraceExpansion) == 0 && !SwitchedOff(engine);
}

/// A key whose results keep missing (a function of a link's address, say) is not checked any
/// more: checking and keeping its results would cost more than it saves. Reading a name can run
/// other expansions, which may change the memo: it is looked up afresh after a validation that
/// ran one, and the entry under test is held on to.
Reuse Lookup(Engine& engine, MemoTable& table, std::string_view key,
             std::shared_ptr<const MemoEntry>& hit) {
  ExpansionState& x = engine.expansion;
  if (!Usable(engine)) return Reuse::kOff;
  ++x.memo.epoch;  // values computed for an earlier look-up are computed again
  auto found = table.find(key);
  if (found == table.end()) return Reuse::kRecord;
  if (found->second.misses >= 32 && found->second.hits * 4 < found->second.misses)
    return Reuse::kSkip;
  for (std::size_t i = 0;; ++i) {
    if (i >= found->second.entries.size()) {
      ++found->second.misses;
      return Reuse::kRecord;
    }
    const std::shared_ptr<const MemoEntry> entry = found->second.entries[i];
    const unsigned long epoch = x.memo.epoch;
    const bool valid = StillValid(engine, *entry);
    // Only an expansion changes the tables (and it advances the epoch).
    if (x.memo.epoch != epoch) {
      found = table.find(key);
      if (found == table.end()) return Reuse::kRecord;
    }
    if (!valid) continue;
    auto& list = found->second.entries;
    auto at = std::find(list.begin(), list.end(), entry);
    if (at != list.end()) std::rotate(list.begin(), at, at + 1);
    ++found->second.hits;
    x.literalUses += entry->otherLiteralUses;
    hit = entry;
    return Reuse::kHit;
  }
}

RecordScope::RecordScope(Engine& engine, MemoRecording& recording)
    : engine(engine), recording(recording) {
  ExpansionState& x = engine.expansion;
  recording.frameDepth = x.frames.size();
  x.memo.recordings.push_back(&recording);
  usesBefore = x.literalUses;
  startDepth = x.depth;
  deepestBefore = x.memo.deepestLevel;
  x.memo.deepestLevel = x.depth;
}

RecordScope::~RecordScope() {
  if (finished) return;
  // The call was abandoned (a fatal message): nothing is kept.
  MemoState& memo = engine.expansion.memo;
  memo.recordings.pop_back();
  memo.deepestLevel = std::max(deepestBefore, memo.deepestLevel);
}

void RecordScope::Keep(MemoTable& table, std::string_view key, const std::string& result,
                       bool literal) {
  ExpansionState& x = engine.expansion;
  MemoState& memo = x.memo;
  finished = true;
  memo.recordings.pop_back();
  const int span = memo.deepestLevel - startDepth;
  memo.deepestLevel = std::max(deepestBefore, memo.deepestLevel);
  if (recording.spoiled || x.unwinding || RegistersAfterSave(recording.events)) return;
  auto found = table.find(key);
  if (found == table.end() && table.size() >= MemoState::kMaxKeys) return;
  // Literal reads that a reuse repeats count there; the others are added as a number. A read of
  // a string one of the events before it set is the call's own value. (Calls save few strings:
  // the list of those set so far stays short.)
  unsigned long readUses = 0;
  std::vector<MemoEvent>& events = recording.events;
  std::vector<int> setSoFar;
  for (MemoEvent& event : events) {
    if (event.write) {
      if (std::find(setSoFar.begin(), setSoFar.end(), event.index) == setSoFar.end())
        setSoFar.push_back(event.index);
      continue;
    }
    event.ownValue = std::find(setSoFar.begin(), setSoFar.end(), event.index) != setSoFar.end();
    if (event.literal && !event.ownValue) ++readUses;
  }
  auto entry = std::make_shared<MemoEntry>();
  entry->events = std::move(recording.events);
  entry->result = result;
  entry->resultLiteral = literal;
  entry->otherLiteralUses = x.literalUses - usesBefore - readUses;
  entry->depthSpan = span;
  entry->bytes = EntryBytes(*entry);
  if (memo.bytes + entry->bytes > MemoState::kMaxBytes) {
    // Over the budget: everything kept so far goes, and the memo fills again from here.
    memo.calls.clear();
    memo.texts.clear();
    memo.bytes = 0;
    found = table.end();
  }
  memo.bytes += entry->bytes;
  if (found == table.end()) found = table.emplace(std::string(key), MemoList()).first;
  auto& list = found->second.entries;
  kept = entry;
  list.insert(list.begin(), std::move(entry));
  if (list.size() > MemoState::kEntriesPerKey) {
    memo.bytes -= list.back()->bytes;
    list.pop_back();
  }
}

}  // namespace quillo::memo
