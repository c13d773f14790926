// Table analysis, run once at the end of pass 1: the records of each table split where a row
// cannot continue it, vertical spans, header and footer rows, and the column grid built from the
// cells' right edges.
#include <climits>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "engine.h"
#include "translate/table_model.h"
#include "translate/translate.h"

namespace quillo::translate {

namespace {

int LastRight(const RowRec& row) { return row.cells.empty() ? 0 : row.cells.back().right; }

bool HasContinuation(const RowRec& row) {
  for (const CellRec& cell : row.cells)
    if (cell.rowSpan == -1) return true;
  return false;
}

/// Vertical spans: each first cell of a vertical merge spans the rows of the continuation cells
/// below it. A continuation cell that holds text is a cell of its own, so its text is not lost.
void VerticalSpans(TableRec& table, int tolerance) {
  const int rows = static_cast<int>(table.rows.size());
  for (int r = 0; r < rows; ++r) {
    for (CellRec& cell : table.rows[r].cells) {
      if (cell.rowSpan == -1 && cell.hasText) cell.rowSpan = 0;
    }
  }
  for (int r = 0; r < rows; ++r) {
    for (CellRec& cell : table.rows[r].cells) {
      if (cell.rowSpan != 1) continue;
      for (int below = r + 1; below < rows; ++below) {
        const RowRec& next = table.rows[below];
        const CellRec* same = nullptr;
        for (const CellRec& candidate : next.cells) {
          if (std::abs(candidate.right - cell.right) <= tolerance) {
            same = &candidate;
            break;
          }
        }
        if (!same || same->rowSpan != -1) break;
        cell.rowSpan += next.rowCount > 0 ? next.rowCount : 1;
      }
    }
  }
  // Continuation cells that no first cell claimed are ordinary cells.
  for (int r = 0; r < rows; ++r) {
    for (CellRec& cell : table.rows[r].cells) {
      if (cell.rowSpan == 0) cell.rowSpan = 1;
    }
  }
}

void Columns(Engine& engine, TableRec& table, int tableIndex, int tolerance) {
  const bool tracing = TableTracing(engine);
  int o = table.left;
  int c = INT_MAX;
  for (const RowRec& row : table.rows)
    if (!row.cells.empty() && row.cells.front().right < c) c = row.cells.front().right;
  // The left edge only grows, so the cells of a row at or left of it are never looked at again:
  // each row keeps where its cells still matter, and a row whose edges grow (as they do in any
  // well-formed row) is left as soon as the next boundary is known. This keeps the grid linear
  // in the number of cells rather than columns times cells.
  const int rowCount = static_cast<int>(table.rows.size());
  std::vector<int> first(static_cast<std::size_t>(rowCount), 0);
  std::vector<char> ordered(static_cast<std::size_t>(rowCount), 1);
  for (int r = 0; r < rowCount; ++r) {
    const auto& cells = table.rows[r].cells;
    for (std::size_t i = 1; i < cells.size(); ++i)
      if (cells[i].right < cells[i - 1].right) ordered[r] = 0;
  }
  while (c != INT_MAX && c <= table.right &&
         static_cast<int>(table.columns.size()) < TableModel::kMaxColumns) {
    if (tracing)
      PrintEscaped(engine, "Tbl:ti=%d,le=%d,re=%d,bw=%d,bm=%d\n", tableIndex, o, c,
                   table.borderWeight, table.frameRules);
    int next = INT_MAX;
    for (int r = 0; r < rowCount; ++r) {
      RowRec& row = table.rows[r];
      bool counted = false;
      int& start = first[static_cast<std::size_t>(r)];
      while (start < static_cast<int>(row.cells.size()) && row.cells[start].right <= o) ++start;
      for (int i = start; i < static_cast<int>(row.cells.size()); ++i) {
        CellRec& cell = row.cells[i];
        if (cell.right <= o) continue;
        if (cell.right > c + tolerance && cell.right < next) next = cell.right;
        if (counted && ordered[static_cast<std::size_t>(r)] && cell.right > c + tolerance) break;
        if (counted || cell.right < c) continue;
        counted = true;
        if (cell.right > c && cell.right < c + tolerance) {
          if (tracing)
            PrintEscaped(engine, "Tbl:ti=%d,ri=%d,ci=%d,re=%d,ore=%d\n", tableIndex, r, i, c,
                         cell.right);
          cell.right = c;
        }
        cell.width = cell.right - (i > 0 ? row.cells[i - 1].right : row.left);
        // A horizontally merged cell gives its columns to the cell that began the merge.
        CellRec& owner = cell.mergedInto >= 0 ? row.cells[cell.mergedInto] : cell;
        if (&owner != &cell) owner.width += cell.width;
        ++owner.colSpan;
        if (tracing)
          PrintEscaped(engine, "Tbl:ti=%d,le=%d,re=%d,ri=%d,ci=%d,w=%d,cs=%d,rs=%d\n", tableIndex,
                       o, c, r, i, cell.width, owner.colSpan, cell.rowSpan);
      }
    }
    ColumnRec column;
    column.width = c - o;
    table.columns.push_back(column);
    if (tracing)
      PrintEscaped(engine, "Tbl:ti=%d,le=%d,re=%d,cgi=%d,w=%d,cg=%d\n", tableIndex, o, c,
                   static_cast<int>(table.columns.size()) - 1, column.width, column.colGroup);
    o = c;
    c = next;
  }
}

void AnalyseOne(Engine& engine, TableRec& table, int tableIndex, int tolerance) {
  table.headerRow = -1;
  table.footerRow = -1;
  table.columns.clear();
  const int rows = static_cast<int>(table.rows.size());
  bool headerBit = false, innerRule = false;
  for (int j = 0; j < rows; ++j) {
    RowRec& row = table.rows[j];
    const int firstBottom = row.cells.empty() ? 0 : row.cells.front().Border(kSideBottom);
    if (row.isHeader) {
      table.headerRow = j;
      headerBit = firstBottom != 0;
    } else if (j < rows - 1) {
      innerRule = innerRule || firstBottom != 0;
    }
    row.left = table.left;
  }
  VerticalSpans(table, tolerance);
  // Column spans are counted by the grid below; merged cells give theirs to the merge's first
  // cell.
  for (RowRec& row : table.rows)
    for (CellRec& cell : row.cells) cell.colSpan = cell.mergedInto >= 0 ? -2 : 0;
  if (table.headerRow >= 0) {
    int d = 0;
    for (int j = table.headerRow + 1; j < rows; ++j) {
      const RowRec& row = table.rows[j];
      if (row.cells.empty()) continue;
      const CellRec& q = row.cells.back();
      if (q.Border(kSideTop) > d) {
        table.footerRow = j;
        d = q.Border(kSideBottom);
      }
      if (q.Border(kSideBottom) > d && j != rows - 1) {
        table.footerRow = j + 1;
        d = q.Border(kSideBottom);
      }
    }
  }
  const CellRec noCell;
  const CellRec& first =
      rows > 0 && !table.rows.front().cells.empty() ? table.rows.front().cells.front() : noCell;
  const CellRec& last =
      rows > 0 && !table.rows.back().cells.empty() ? table.rows.back().cells.back() : noCell;
  int weight = first.Border(kSideTop) * (first.doubleTop ? 2 : 1);
  for (int w : {first.Border(kSideLeft), first.Border(kSideRight), last.Border(kSideBottom)})
    if (w > weight) weight = w;
  table.borderWeight = weight;
  table.frameRules = (headerBit ? 1 : 0) | (last.Border(kSideLeft) ? 2 : 0) | (innerRule ? 4 : 0) |
                     (first.Border(kSideTop) ? 8 : 0) | (first.Border(kSideLeft) ? 16 : 0) |
                     (last.Border(kSideRight) ? 32 : 0) | (last.Border(kSideBottom) ? 64 : 0);
  Columns(engine, table, tableIndex, tolerance);
}

}  // namespace

void AnalyseTables(Engine& engine) {
  TableModel& model = engine.tableModel;
  const int tolerance = engine.settings.mirrors.colTolerance;
  ClearAnalysedTables(model);
  int ti = 0;  // number of the table after the splits
  ForEachRecordedTable(model, [&](TableRec&& recorded) {
    TableRec table = std::move(recorded);
    for (;;) {
      if (!table.rows.empty()) {
        const RowRec& first = table.rows.front();
        table.left = first.left;
        table.right = LastRight(first);
        table.align = first.align;
      }
      TableRec rest;
      bool split = false;
      for (std::size_t j = 1; j < table.rows.size(); ++j) {
        const RowRec& row = table.rows[j];
        const bool differs =
            std::abs(row.left - table.left) > tolerance ||
            (!row.cells.empty() && std::abs(LastRight(row) - table.right) > tolerance) ||
            row.align != table.align;
        if (!differs || HasContinuation(row)) continue;
        // A row of another shape starts a table of its own, analysed next.
        rest.rows.assign(std::make_move_iterator(table.rows.begin() + static_cast<long>(j)),
                         std::make_move_iterator(table.rows.end()));
        table.rows.erase(table.rows.begin() + static_cast<long>(j), table.rows.end());
        table.continues = true;
        split = true;
        break;
      }
      AnalyseOne(engine, table, ti++, tolerance);
      AddAnalysedTable(model, table);
      if (!split) break;
      table = std::move(rest);
    }
  });
}

}  // namespace quillo::translate
