// Tables: the row and cell records of pass 1, their analysis between the passes, and the table
// markup written in pass 2. Pass 1 records every table, row and cell in document order; pass 2
// walks the same sequence and fetches the records by position. Depends on the translation state
// (translate.h) and the tag stacks of tags.h.
#pragma once

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
/// Forgets the records (`newConversion`) or only the pass state (table counter and channels).
void ResetTables(Engine& engine, bool newConversion);

}  // namespace translate
}  // namespace quillo
