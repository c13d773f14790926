// The index: entries collected from RTF index-entry groups and the IndexEntry
// built-in, their anchors in the text, and the alphabetical index page with its
// panel of initial letters.
#include <algorithm>
#include <string>
#include <vector>

#include "base/buffers.h"
#include "base/messages.h"
#include "base/settings.h"
#include "expand/expand.h"
#include "structure/internal.h"
#include "structure/paragraphs.h"
#include "structure/structure.h"
#include "translate/fields.h"
#include "translate/tags.h"
#include "translate/text.h"
#include "translate/translate.h"

namespace quillo::structure {

namespace {

/// A letter of the panel that begins with '&' is the whole character reference,
/// at most this long ("&Eacute;", "&#x1F600;").
constexpr std::size_t kMaxEntityLetter = 23;

/// Splits `text` into levels at every character of `markers`: blanks around
/// each level are dropped, and so are empty levels. The levels are joined by
/// kLevelSeparator.
std::string SplitLevels(std::string_view text, std::string_view markers) {
  std::string result;
  std::string level;
  auto finish = [&] {
    const std::size_t first = level.find_first_not_of(" \t\n");
    if (first != std::string::npos) {
      const std::size_t last = level.find_last_not_of(" \t\n");
      if (!result.empty()) result.push_back(kLevelSeparator);
      result.append(level, first, last - first + 1);
    }
    level.clear();
  };
  for (char c : text) {
    if (c == kLevelSeparator || markers.find(c) != std::string_view::npos)
      finish();
    else
      level.push_back(c);
  }
  finish();
  return result;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\n");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\n");
  return text.substr(first, last - first + 1);
}

/// The panel letter of an entry text.
std::string LetterOf(std::string_view text) {
  if (text.empty()) return {};
  if (text[0] == '&') {
    const std::size_t end = text.find(';');
    if (end != std::string_view::npos && end < kMaxEntityLetter)
      return std::string(text.substr(0, end + 1));
  }
  return std::string(1, FoldUpper(text[0]));
}

/// Start of each level of `text` (level i begins at starts[i]).
std::vector<std::size_t> LevelStarts(std::string_view text) {
  std::vector<std::size_t> starts = {0};
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] == kLevelSeparator) starts.push_back(i + 1);
  return starts;
}

/// Text of the level that begins at `start` (up to the next separator).
std::string_view LevelAt(std::string_view text, std::size_t start) {
  const std::size_t end = text.find(kLevelSeparator, start);
  return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

/// Number of leading levels of `next` (its last level excluded) equal to the
/// levels of `entry` at the same positions, letters compared without regard to
/// case.
int SharedLevels(std::string_view entry, std::string_view next) {
  const std::vector<std::size_t> a = LevelStarts(entry);
  const std::vector<std::size_t> b = LevelStarts(next);
  int shared = 0;
  for (std::size_t i = 0; i + 1 < b.size() && i < a.size(); ++i) {
    if (!CaseEqual(LevelAt(entry, a[i]), LevelAt(next, b[i]))) break;
    ++shared;
  }
  return shared;
}

void PushLevelList(Engine& engine, OutputContext& page, const char* start) {
  translate::PushTag(engine, page, translate::kTagIndexSubEntry, translate::kEndExpandedWhenPopped,
                     0, start, "$SIEnd;");
}

void PopLevelList(Engine& engine, OutputContext& page) {
  translate::PopTags(engine, translate::kTagIndexSubEntry, page, translate::kPopEntry);
}

std::string EntryLink(Engine& engine, const IndexRecord& entry) {
  return FileLinkHref(engine, entry.place) + "#Index" + std::to_string(entry.number);
}

}  // namespace

int IndexEntry(Engine& engine, std::string_view text, std::string_view reference) {
  StructureState& s = engine.structure;
  if (engine.settings.mirrors.genIndex == 0) return -1;
  const int running = ++s.runningEntry;
  if (engine.driver.pass != 2) {
    IndexRecord entry;
    entry.place = RecordCount(s.records);
    entry.text = SplitLevels(text, SettingValue(engine, "IndexSubMarkers"));
    entry.crossReference.assign(Trimmed(reference));
    entry.number = entry.crossReference.empty() ? running : 0;
    s.entries.push_back(std::move(entry));
    if (s.firstPendingEntry < 0) s.firstPendingEntry = static_cast<int>(s.entries.size()) - 1;
    if (Tracing(engine))
      PrintEscaped(engine, "addIndexEntry:%s,%d,%d\n", s.entries.back().text.c_str(),
                   s.entries.back().place, running);
    return running;
  }
  if (s.entryCursor + 1 >= static_cast<int>(s.entries.size())) {
    ReportMessage(engine, "ERR_OVERRAN_INDEX");
    return running;
  }
  const IndexRecord& entry = s.entries[++s.entryCursor];
  if (Tracing(engine)) PrintEscaped(engine, "At Index:%s\n", entry.text.c_str());
  if (entry.place > engine.driver.currentFile) {
    if (Tracing(engine))
      PrintEscaped(engine, "ChangeFile Index:%d,%s\n", entry.place, entry.text.c_str());
    translate::ReleaseHeldText(engine);
    ChangeFileTo(engine, entry.place);
  }
  return running;
}

void IndexGroupEnd(Engine& engine, std::string_view text, std::string_view reference) {
  if (engine.settings.mirrors.genIndex == 0) return;
  // Both passes see the same groups, so an empty one is left out in both.
  if (SplitLevels(text, SettingValue(engine, "IndexSubMarkers")).empty()) return;
  const int running = IndexEntry(engine, text, reference);
  if (engine.driver.pass != 2 || running < 0) return;
  const StructureState& s = engine.structure;
  if (s.entryCursor < 0 || s.entryCursor >= static_cast<int>(s.entries.size())) return;
  const IndexRecord& entry = s.entries[s.entryCursor];
  // Languages whose tools build the index themselves (DocBook's indexterm)
  // write the entry where it stands: _INDEXTEXT_ holds its levels, separated by
  // tabs (text from the document holds none: its tabs are written through the
  // output map), _INDEXSEE_ its cross-reference.
  const bool term = GetSetting(engine, "_index_term_") != nullptr;
  if (entry.number == 0 && !term) return;  // a cross-reference has no place to link to
  OutputContext* context = translate::PrepareForOutput(engine);
  if (!context) return;
  if (term) {
    std::string levels = entry.text;
    std::replace(levels.begin(), levels.end(), kLevelSeparator, '\t');
    translate::SetDocumentValue(engine, "_INDEXTEXT_", levels);
    translate::SetDocumentValue(engine, "_INDEXSEE_", entry.crossReference);
    ExpandInto(engine, *context, "$_index_term_;");
  }
  if (entry.number == 0) return;
  SetSetting(engine, "_LINK_", "Index" + std::to_string(entry.number));
  ExpandInto(engine, *context, "$_anchor_entry_;");
}

namespace {

/// The entries in index order: sorted by text, case ignored; equal texts keep
/// document order, and a cross-reference comes after the references of the same
/// text so that it never joins their group.
std::vector<int> IndexOrder(const StructureState& s) {
  std::vector<int> order(s.entries.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    const int c = CaseCompare(s.entries[a].text, s.entries[b].text);
    if (c != 0) return c < 0;
    return s.entries[a].number != 0 && s.entries[b].number == 0;
  });
  return order;
}

/// The letter panel: a link to each first letter of the entries.
void WriteLetterPanel(Engine& engine, OutputContext& page, const std::vector<int>& order,
                      int frames) {
  StructureState& s = engine.structure;
  translate::PushTag(engine, page, translate::kTagIndexPanel, translate::kEndExpandedWhenPopped, 0,
                     "$_ipanel_start_;", "$_ipanel_end_;");
  std::string previous;
  for (int index : order) {
    const std::string letter = LetterOf(s.entries[index].text);
    if (letter == previous) continue;
    if (!previous.empty()) ExpandInto(engine, page, "$_ipanel_sep_;");
    previous = letter;
    SetText(engine, "_LINK_", "#IA-" + letter);
    SetText(engine, "_HOTTEXT_", letter);
    if (frames != 0) {
      SetText(engine, "_TARGET_", FrameTargetName(engine, "1"));
      ExpandInto(engine, page, "$_ipanel_entry_framed_;");
    } else {
      ExpandInto(engine, page, "$_ipanel_entry_;");
    }
  }
  translate::PopTags(engine, translate::kTagIndexPanel, page, translate::kPopEntry);
  if (frames != 0) SetText(engine, "_TARGET_", FrameTargetName(engine, "2"));
}

/// The entries, grouped by text and nested by level.
void WriteIndexEntries(Engine& engine, OutputContext& page, const std::vector<int>& order) {
  StructureState& s = engine.structure;
  const int maxLevels = std::max(1, engine.settings.mirrors.maxIndexLevels);
  std::vector<std::size_t> offsets(static_cast<std::size_t>(maxLevels) + 1, 0);
  int depth = 0;   // level lists open
  int shared = 0;  // levels the current group shares with the one before
  std::string letter;
  const int count = static_cast<int>(order.size());
  for (int g = 0; g < count;) {
    const IndexRecord& entry = s.entries[order[g]];
    const std::string_view text = entry.text;
    if (shared < depth) {
      for (; depth > shared; --depth) PopLevelList(engine, page);
    } else {
      shared = depth;
    }
    if (shared == 0) {
      const std::string current = LetterOf(text);
      if (current != letter) {
        letter = current;
        SetText(engine, "_NAME_", "IA-" + letter);
        SetText(engine, "_TEXT_", letter);
        ExpandInto(engine, page, "$_index_letter_entry_;");
      }
    }
    // Open the levels of this entry that the previous group did not share.
    for (int level = shared; level < maxLevels - 1; ++level) {
      const std::size_t separator = text.find(kLevelSeparator, offsets[level]);
      if (separator == std::string_view::npos) break;
      SetText(engine, "SIText", text.substr(offsets[level], separator - offsets[level]));
      PushLevelList(engine, page, "$SIStart;$SISep;");
      offsets[level + 1] = separator + 1;
      ++depth;
    }
    const std::string_view last =
        offsets[depth] <= text.size() ? text.substr(offsets[depth]) : std::string_view();
    // The group: an ordinary entry takes the following entries of the same text
    // as further references; a cross-reference stands alone.
    int next = g + 1;
    if (entry.number != 0) {
      while (next < count && s.entries[order[next]].number != 0 &&
             CaseEqual(s.entries[order[next]].text, text))
        ++next;
    } else {
      SetText(engine, "SXRefText", entry.crossReference);
    }
    bool hasSubEntries = false;
    if (next < count) {
      shared = SharedLevels(text, s.entries[order[next]].text);
      if (shared == depth + 1 && depth + 1 < maxLevels) {
        SetText(engine, "SIText", last);
        PushLevelList(engine, page, "$SIStart;");
        offsets[depth + 1] = text.size() + 1;
        ++depth;
        hasSubEntries = true;
      }
    } else {
      shared = 0;
    }
    if (!hasSubEntries) SetText(engine, "SIText", last);
    if (entry.number != 0) {
      SetText(engine, "_LINK_", EntryLink(engine, entry));
      SetText(engine, "_HOTTEXT_", "1");
      if (!hasSubEntries)
        translate::PushTag(engine, page, translate::kTagIndexSubRange,
                           translate::kEndExpandedWhenPopped, 0, "$SIRStart;", "$SIREnd;");
      ExpandInto(engine, page, "$SIREnt;");
      for (int k = g + 1; k < next; ++k) {
        SetText(engine, "_LINK_", EntryLink(engine, s.entries[order[k]]));
        SetText(engine, "_HOTTEXT_", std::to_string(k - g + 1));
        ExpandInto(engine, page, "$SIRSep;$SIREnt;");
      }
      if (!hasSubEntries)
        translate::PopTags(engine, translate::kTagIndexSubRange, page, translate::kPopEntry);
    } else {
      ExpandInto(engine, page, "$SXRef;");
    }
    if (hasSubEntries)
      ExpandInto(engine, page, "$SISep;");
    else if (depth == shared)
      ExpandInto(engine, page, "$IESep;");
    g = next;
  }
  for (; depth > 0; --depth) PopLevelList(engine, page);
}

}  // namespace

void GenIndex(Engine& engine, int frames) {
  StructureState& s = engine.structure;
  if (!CanGeneratePages(engine)) return;
  if (s.entries.empty()) {
    if (Tracing(engine)) PrintEscaped(engine, "no index entries were found...\n");
    return;
  }
  if (Tracing(engine)) PrintEscaped(engine, "Generating Index...\n");
  const std::string name = engine.settings.paths.baseName +
                           SettingValue(engine, frames != 0 ? "FISuffix" : "ISuffix") + "." +
                           HtmlExt(engine);
  SavedNavigation navigation(engine, name);
  OutputContext page;
  if (!OpenPage(engine, page, name)) return;
  SetText(engine, "IndexFile", name);
  if (frames != 0) SetText(engine, "_TARGET_", FrameTargetName(engine, "2"));
  translate::PushTag(engine, page, translate::kTagPage, translate::kEndExpandedWhenPopped, 0,
                     "$IndexHead;", "$IndexEnd;");
  translate::PushTag(engine, page, translate::kTagPageBody, translate::kEndExpandedWhenPopped, 0,
                     "$IndexBody;", "");
  CurrentFileScope scope(engine, -2);

  for (IndexRecord& entry : s.entries)
    if (entry.place < 0) entry.place = 0;
  const std::vector<int> order = IndexOrder(s);
  WriteLetterPanel(engine, page, order, frames);
  WriteIndexEntries(engine, page, order);
  ClosePage(engine, page);
}

}  // namespace quillo::structure
