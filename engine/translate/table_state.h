// The table records of pass 1 and the table contexts of both passes (TableModel, held by the
// Engine): rows, cells, spans and the column grid that the analysis builds.
#pragma once

#include <cstdint>
#include <vector>

#include "base/spill_stream_state.h"

namespace quillo {
namespace translate {

/// Cell border sides, by the minor of the cell border words (major 10).
enum CellSide : int { kSideBottom = 20, kSideTop = 21, kSideLeft = 22, kSideRight = 23 };

struct ColumnRec {
  int width = 0;     ///< twips
  int colGroup = 0;  ///< always 0: one column group per table
};

struct CellRec {
  int width = 0;    ///< twips, set by the analysis
  int right = 0;    ///< right edge, twips
  int colSpan = 0;  ///< columns covered (after the analysis); -2 for a horizontally merged cell
  /// 0 normal, 1 first cell of a vertical merge, -1 continuation; after the analysis the number
  /// of rows spanned (continuations stay -1).
  int rowSpan = 0;
  int vAlign = 0;                ///< 0 top, 1 middle, 2 bottom
  int background = -1;           ///< shading colour (\clcbpat) as 0xRRGGBB; -1 = none
  int pattern = -1;              ///< pattern colour (\clcfpat) as 0xRRGGBB; -1 = automatic
  int shading = 0;               ///< pattern share (\clshdng) in hundredths of a percent
  int border[4] = {0, 0, 0, 0};  ///< weights in pixels of sides 20, 21, 22, 23
  int leftIndent = 0;            ///< side-by-side paragraphs: the paragraph's left indent
  int mergedInto = -1;           ///< horizontally merged cell: index of the merge's first cell
  bool hasText = false;          ///< pass 1 saw text in the cell
  bool doubleTop = false;        ///< the top border is a double line

  int Border(int side) const { return side >= 20 && side <= 23 ? border[side - 20] : 0; }
};

struct RowRec {
  int isHeader = 0;
  int left = 0;      ///< row left edge, twips
  int gap = 0;       ///< half the space between cells (\trgaph), twips
  int align = 0;     ///< 0 left, 2 right, 3 centered
  int rowCount = 0;  ///< \row words that ended this row in pass 1
  std::vector<CellRec> cells;
};

struct TableRec {
  std::vector<ColumnRec> columns;
  int headerRow = -1;  ///< index of the last header row
  int borderWeight = 0;
  int footerRow = -1;  ///< index of the row that opens the footer section
  int frameRules = 0;  ///< bits 0-2 the rules value, bits 3-6 the frame value
  int left = 0, right = 0;
  int align = 0;
  bool continues = false;  ///< the analysis split the table: its rows go on in the next table
  std::vector<RowRec> rows;
};

/// Table state of one output channel (the main output, the footnote output).
struct TableContext {
  /// 0 outside a table, 1 in a row definition, 2 in a cell definition, 3 cell definition
  /// complete, 4 in cell content, 5 after \cell, 6 after \row.
  int state = 0;
  int level = 0;        ///< markup open in pass 2: 0 none, 1 table, 2 row, 3 cell
  int table = -1;       ///< number of the current table (TableModel::held while current), -1 none
  int row = -1;         ///< row index, -1 before the first row
  int cell = -1;        ///< cell index, -1 before the first cell
  int mergeStart = -1;  ///< cell that began the horizontal merge being defined
  // Pass 2: which markup of the open levels was written (a missing or merged record writes none).
  bool tableWritten = false, rowWritten = false, cellWritten = false;
  bool headOpen = false, bodyOpen = false, footOpen = false;
};

/// The tables of a conversion. Pass 1 records each table of a channel while the channel is in it
/// (`held`) and writes it to the channel's stream once the channel starts another; the analysis
/// between the passes reads the two streams in table order and writes the analysed tables to
/// `analysed`, which pass 2 reads forward, one table per channel at a time. So memory holds the
/// tables being worked on, never the document's (a stream continues in a temporary file past
/// its memory share).
struct TableModel {
  /// A table has at most this many columns: the grid is built column by column over the cell
  /// edges, and a document with thousands of distinct edges would otherwise make a page of
  /// hair-thin columns.
  static constexpr int kMaxColumns = 999;

  TableRec held[2];              ///< by output channel: the table recorded or written now
  int heldNumber[2] = {-1, -1};  ///< its number; -1 = none
  SpillStream recorded[2];       ///< pass 1: the channel's finished tables, in number order
  SpillStream analysed;          ///< the analysed tables in number order, for pass 2
  int analysedCount = 0;         ///< tables in `analysed`
  int nextToRead = 0;            ///< pass 2: number of the table `readOffset` points at
  std::uint64_t readOffset = 0;  ///< pass 2: where that table begins in `analysed`
  int counter = -1;              ///< number of the last table started in this pass
  TableContext contexts[2];      ///< by output channel
};

}  // namespace translate
}  // namespace quillo
