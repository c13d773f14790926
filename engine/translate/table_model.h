// Tables: the row and cell records of pass 1, their analysis between the passes, and the table
// markup written in pass 2. Pass 1 records every table, row and cell in document order; pass 2
// walks the same sequence and fetches the records by position. Depends on the translation state
// (translate.h) and the tag stacks of tags.h.
#pragma once

#include <functional>
#include <vector>

#include "translate/table_state.h"

namespace quillo {
struct Engine;

namespace translate {

// ---- Operations -----------------------------------------------------------------------------

/// Moves the current channel's state machine to state `a` (0-6), starting tables, rows and
/// cells on the way.
void TableState(Engine& engine, int a);
/// Opens or closes table markup of the current channel in pass 2 until the output level is `n`.
void SetTableLevel(Engine& engine, int n);
/// Splits the tables, finds header, footer and spans, and builds each table's column grid. Run
/// once at the end of pass 1.
void AnalyseTables(Engine& engine);
/// Side-by-side paragraph outside a table: placed as a cell by its left indent.
void PlaceParagraphAsCell(Engine& engine);

/// A table word (major 10).
void TableWord(Engine& engine);
/// \brdrwN: the weight of the current cell border side.
void TableBorderWidth(Engine& engine, int param);
/// \cell (also \nestcell handled as a cell of the flattened table): ends the cell.
void TableCellEnd(Engine& engine);
/// \row: ends the row.
void TableRowEnd(Engine& engine);
/// Called by FormatChange before the paragraph tags are chosen: the paragraph is in a table or
/// not, and in pass 2 the table, row and cell markup follows. `content`: text or a picture
/// follows in pass 1 (a cell that holds content is never merged away).
void TableFormatChange(Engine& engine, bool content = true);
/// Paragraph end: side-by-side paragraphs become cells; outside a table the state returns to 0.
void TableParagraphEnd(Engine& engine);
/// A footnote starts or ends: the footnote channel leaves any table, closing its markup.
void TableFootnoteBoundary(Engine& engine);
/// End of an output file: closes the table markup of both channels.
void FinishTables(Engine& engine);
/// Debug bit that traces the table records and their analysis.
inline constexpr int kDebugTables = 0x8;
/// True when the table traces are on (debug bit kDebugTables).
bool TableTracing(const Engine& engine);
/// Forgets the records (`newConversion`) or only the pass state (table counter and channels);
/// in pass 1 the tables the channels still hold are written to their streams first.
void ResetTables(Engine& engine, bool newConversion);

// ---- Table records (table_store.cc) ------------------------------------------------------------

/// Makes table `number` the table of `channel`. Pass 1: the channel's previous table goes to
/// the channel's stream and an empty record takes its place. Pass 2: the analysed table
/// `number` is read; nullptr when there is none.
TableRec* HoldTable(TableModel& model, int channel, int number, bool pass1);
/// Writes the table `channel` holds in pass 1 to the channel's stream. Idempotent.
void StoreHeldTable(TableModel& model, int channel);
/// Records finished table `number` as pass 1 would (for the analysis on its own).
void RecordTable(TableModel& model, int number, const TableRec& table);
/// Calls `use` with every recorded table in table order (the tables the channels hold included),
/// then releases the records.
void ForEachRecordedTable(TableModel& model, const std::function<void(TableRec&&)>& use);
/// Forgets the analysed tables (before the analysis adds them anew).
void ClearAnalysedTables(TableModel& model);
/// Appends the next analysed table, for pass 2.
void AddAnalysedTable(TableModel& model, const TableRec& table);
/// Every analysed table, read back (for inspection).
std::vector<TableRec> AnalysedTables(TableModel& model);

}  // namespace translate
}  // namespace quillo
