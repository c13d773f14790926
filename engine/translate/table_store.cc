// The table records between the passes (see TableModel in translate/table_state.h): written to
// streams in pass 1, analysed in table order, read forward by pass 2.
#include <cstdint>
#include <utility>

#include "base/spill_stream.h"
#include "translate/table_model.h"

namespace quillo::translate {

namespace {

void WriteCell(SpillStream& out, const CellRec& cell) {
  for (int value : {cell.width, cell.right, cell.colSpan, cell.rowSpan, cell.vAlign,
                    cell.background, cell.pattern, cell.shading, cell.border[0], cell.border[1],
                    cell.border[2], cell.border[3], cell.leftIndent, cell.mergedInto})
    out.Put<int32_t>(value);
  out.Put<uint8_t>(static_cast<uint8_t>((cell.hasText ? 1 : 0) | (cell.doubleTop ? 2 : 0)));
}

void ReadCell(SpillReader& in, CellRec& cell) {
  for (int* value :
       {&cell.width, &cell.right, &cell.colSpan, &cell.rowSpan, &cell.vAlign, &cell.background,
        &cell.pattern, &cell.shading, &cell.border[0], &cell.border[1], &cell.border[2],
        &cell.border[3], &cell.leftIndent, &cell.mergedInto})
    *value = in.Take<int32_t>();
  const uint8_t flags = in.Take<uint8_t>();
  cell.hasText = (flags & 1) != 0;
  cell.doubleTop = (flags & 2) != 0;
}

/// A table in a stream: its number, its own fields, its columns, then its rows with their cells.
void WriteTable(SpillStream& out, int number, const TableRec& table) {
  out.Put<int32_t>(number);
  for (int value : {table.headerRow, table.borderWeight, table.footerRow, table.frameRules,
                    table.left, table.right, table.align, table.continues ? 1 : 0})
    out.Put<int32_t>(value);
  out.Put<uint32_t>(static_cast<uint32_t>(table.columns.size()));
  for (const ColumnRec& column : table.columns) {
    out.Put<int32_t>(column.width);
    out.Put<int32_t>(column.colGroup);
  }
  out.Put<uint32_t>(static_cast<uint32_t>(table.rows.size()));
  for (const RowRec& row : table.rows) {
    for (int value : {row.isHeader, row.left, row.gap, row.align, row.rowCount})
      out.Put<int32_t>(value);
    out.Put<uint32_t>(static_cast<uint32_t>(row.cells.size()));
    for (const CellRec& cell : row.cells) WriteCell(out, cell);
  }
}

/// Reads the table after its number; false when the stream ends within it.
bool ReadTableBody(SpillReader& in, TableRec& table) {
  table = TableRec();
  int continues = 0;
  for (int* value : {&table.headerRow, &table.borderWeight, &table.footerRow, &table.frameRules,
                     &table.left, &table.right, &table.align, &continues})
    *value = in.Take<int32_t>();
  table.continues = continues != 0;
  const uint32_t columns = in.Take<uint32_t>();
  for (uint32_t i = 0; i < columns && in.ok(); ++i) {
    ColumnRec& column = table.columns.emplace_back();
    column.width = in.Take<int32_t>();
    column.colGroup = in.Take<int32_t>();
  }
  const uint32_t rows = in.Take<uint32_t>();
  for (uint32_t r = 0; r < rows && in.ok(); ++r) {
    RowRec& row = table.rows.emplace_back();
    for (int* value : {&row.isHeader, &row.left, &row.gap, &row.align, &row.rowCount})
      *value = in.Take<int32_t>();
    const uint32_t cells = in.Take<uint32_t>();
    for (uint32_t i = 0; i < cells && in.ok(); ++i) ReadCell(in, row.cells.emplace_back());
  }
  return in.ok();
}

/// The next table of a channel's stream during the merge of ForEachRecordedTable.
struct RecordedCursor {
  SpillReader reader;
  int number = -1;  ///< number of the table the reader is at; -1 = the stream is done

  explicit RecordedCursor(SpillStream& stream) : reader(stream, 0) { Advance(); }
  void Advance() {
    number = reader.Take<int32_t>();
    if (!reader.ok()) number = -1;
  }
};

}  // namespace

void StoreHeldTable(TableModel& model, int channel) {
  int& number = model.heldNumber[channel];
  if (number < 0) return;
  WriteTable(model.recorded[channel], number, model.held[channel]);
  model.held[channel] = TableRec();
  number = -1;
}

TableRec* HoldTable(TableModel& model, int channel, int number, bool pass1) {
  if (pass1) {
    StoreHeldTable(model, channel);
    model.heldNumber[channel] = number;
    return &model.held[channel];
  }
  model.held[channel] = TableRec();
  model.heldNumber[channel] = -1;
  if (number < 0 || number >= model.analysedCount) return nullptr;
  // Pass 2 asks for the tables in order; should it ever go back, the stream is read again.
  if (number < model.nextToRead) {
    model.nextToRead = 0;
    model.readOffset = 0;
  }
  SpillReader in(model.analysed, model.readOffset);
  TableRec table;
  while (model.nextToRead <= number) {
    in.Take<int32_t>();
    if (!ReadTableBody(in, table)) return nullptr;
    ++model.nextToRead;
  }
  model.readOffset = in.offset();
  model.held[channel] = std::move(table);
  model.heldNumber[channel] = number;
  return &model.held[channel];
}

void RecordTable(TableModel& model, int number, const TableRec& table) {
  WriteTable(model.recorded[0], number, table);
}

void ForEachRecordedTable(TableModel& model, const std::function<void(TableRec&&)>& use) {
  for (int channel : {0, 1}) StoreHeldTable(model, channel);
  RecordedCursor cursors[2] = {RecordedCursor(model.recorded[0]),
                               RecordedCursor(model.recorded[1])};
  TableRec table;
  for (;;) {
    RecordedCursor* next = nullptr;
    for (RecordedCursor& cursor : cursors)
      if (cursor.number >= 0 && (!next || cursor.number < next->number)) next = &cursor;
    if (!next) break;
    const bool whole = ReadTableBody(next->reader, table);
    if (whole) use(std::move(table));
    next->Advance();
    if (!whole) next->number = -1;
  }
  for (SpillStream& stream : model.recorded) stream.Clear();
}

void ClearAnalysedTables(TableModel& model) {
  model.analysed.Clear();
  model.analysedCount = 0;
  model.nextToRead = 0;
  model.readOffset = 0;
}

void AddAnalysedTable(TableModel& model, const TableRec& table) {
  WriteTable(model.analysed, model.analysedCount, table);
  ++model.analysedCount;
}

std::vector<TableRec> AnalysedTables(TableModel& model) {
  std::vector<TableRec> tables;
  SpillReader in(model.analysed, 0);
  for (int i = 0; i < model.analysedCount; ++i) {
    in.Take<int32_t>();
    if (!ReadTableBody(in, tables.emplace_back())) {
      tables.pop_back();
      break;
    }
  }
  return tables;
}

}  // namespace quillo::translate
