// Tables: the state machine that follows RTF's row-by-row description, the records of pass 1,
// their analysis into a column grid with spans, header and footer sections, and the table
// markup of pass 2 through the tag stack.
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "rtf/control_words.h"
#include "rtf/reader.h"
#include "translate/table_model.h"
#include "translate/tags.h"
#include "translate/translate.h"

namespace quillo::translate {

namespace {

/// Table words of the control-word table beyond the named constants: \clshdng, \clcfpat.
constexpr int kCellShading = 24, kCellPatternColor = 37;

/// The colour a shaded cell shows: `shading` hundredths of a percent of the pattern colour
/// (black when automatic) over the background colour (white when automatic), as 0xRRGGBB;
/// without shading the background colour as it is (-1 for none).
int ShadedColor(int background, int pattern, int shading) {
  if (shading <= 0) return background;
  const int back = background >= 0 ? background : 0xFFFFFF;
  const int fore = pattern >= 0 ? pattern : 0;
  int rgb = 0;
  for (int shift = 16; shift >= 0; shift -= 8) {
    const int b = (back >> shift) & 0xFF, f = (fore >> shift) & 0xFF;
    rgb |= ((b * (10000 - shading) + f * shading) / 10000) << shift;
  }
  return rgb;
}

int ChannelIndex(const Engine& engine) {
  return engine.translate.cur.channel == kFootnoteChannel ? kFootnoteChannel : kMainChannel;
}

OutputContext& OutputOf(Engine& engine, int channel) {
  return channel == kFootnoteChannel ? engine.driver.footnotes : engine.driver.main;
}

/// The record of the context's current table: the one its channel holds.
TableRec* TableOf(Engine& engine, const TableContext& c) {
  TableModel& model = engine.tableModel;
  const int channel = &c == &model.contexts[kFootnoteChannel] ? kFootnoteChannel : kMainChannel;
  return c.table >= 0 && model.heldNumber[channel] == c.table ? &model.held[channel] : nullptr;
}

RowRec* RowOf(Engine& engine, const TableContext& c) {
  TableRec* table = TableOf(engine, c);
  return table && c.row >= 0 && c.row < static_cast<int>(table->rows.size()) ? &table->rows[c.row]
                                                                             : nullptr;
}

CellRec* CellOf(Engine& engine, const TableContext& c) {
  RowRec* row = RowOf(engine, c);
  return row && c.cell >= 0 && c.cell < static_cast<int>(row->cells.size()) ? &row->cells[c.cell]
                                                                            : nullptr;
}

bool Pass1(const Engine& engine) { return engine.driver.pass != 2; }

/// Twips to pixels with the TwipToPixel factor, truncated.
int Pixels(const Engine& engine, int twips) {
  return static_cast<int>(twips * engine.settings.mirrors.twipToPixel);
}

int TopmostOf(const OutputContext& context, int kind) {
  for (int i = static_cast<int>(context.tagStack.size()) - 1; i >= 0; --i)
    if (context.tagStack[i].kind == kind) return i;
  return -1;
}

/// Topmost entry that belongs to table markup (kinds 3 to 7), -1 when none.
int TopmostTableEntry(const OutputContext& context) {
  for (int i = static_cast<int>(context.tagStack.size()) - 1; i >= 0; --i)
    if (context.tagStack[i].kind >= kTagTable && context.tagStack[i].kind <= kTagCell) return i;
  return -1;
}

// ---- Records ------------------------------------------------------------------------------------

void SetLevel(Engine& engine, int channel, int n);

void NewTable(Engine& engine, int channel, TableContext& c) {
  TableModel& model = engine.tableModel;
  // The markup of a table still open in this channel ends before the next table begins.
  SetLevel(engine, channel, 0);
  const int number = ++model.counter;
  c.row = -1;
  c.cell = -1;
  c.mergeStart = -1;
  if (TableTracing(engine)) PrintEscaped(engine, "newTable:%d\n", number);
  // The channel's previous table is done with: pass 1 files it, pass 2 forgets it.
  if (HoldTable(model, channel, number, Pass1(engine))) {
    c.table = number;
  } else {
    c.table = -1;
    ReportMessage(engine, "ERR_TABLE_OVERRUN");
  }
}

void NewRow(Engine& engine, int channel, TableContext& c) {
  ++c.row;
  c.cell = -1;
  c.mergeStart = -1;
  if (TableTracing(engine)) PrintEscaped(engine, "newRow:%d\n", c.row);
  TableRec* table = TableOf(engine, c);
  if (!table) return;  // a missing table was reported when it started
  if (Pass1(engine)) {
    table->rows.emplace_back();
    c.row = static_cast<int>(table->rows.size()) - 1;
    return;
  }
  if (c.row >= static_cast<int>(table->rows.size()) && table->continues) {
    // The analysis split the table before this row: the rest is the next table.
    SetLevel(engine, channel, 0);
    NewTable(engine, channel, c);
    c.row = 0;
    table = TableOf(engine, c);
    if (!table) return;
  }
  if (c.row >= static_cast<int>(table->rows.size())) ReportMessage(engine, "ERR_ROW_OVERRUN");
}

void NewCell(Engine& engine, TableContext& c) {
  ++c.cell;
  if (TableTracing(engine)) PrintEscaped(engine, "newCell:%d\n", c.cell);
  RowRec* row = RowOf(engine, c);
  if (!row) return;
  if (Pass1(engine)) {
    // A row definition repeated after the row's cells (as Word writes it before \row) describes
    // the same cells again: they are updated, not added.
    if (c.cell >= static_cast<int>(row->cells.size())) {
      row->cells.emplace_back();
      c.cell = static_cast<int>(row->cells.size()) - 1;
    }
    return;
  }
  if (c.cell >= static_cast<int>(row->cells.size())) ReportMessage(engine, "ERR_CELL_OVERRUN");
}

// ---- Markup -------------------------------------------------------------------------------------

/// A table cannot stand inside a paragraph: the paragraph tags open around the place where a
/// table begins are closed, and the pending break between paragraphs is dropped with them.
void CloseEnclosingParagraphs(Engine& engine, int channel, OutputContext& out) {
  while (TopmostOf(out, kTagParagraph) > TopmostTableEntry(out))
    PopTags(engine, kTagParagraph, out, kPopEntry);
  ChannelState& state = engine.translate.channels[channel];
  state.pendingBreak = false;
  state.textStarted = false;
  state.textReady = false;
}

void SetNumber(Engine& engine, const char* name, int value) {
  SetSetting(engine, name, std::to_string(value));
}

void OpenTable(Engine& engine, int channel, TableContext& c, OutputContext& out) {
  CloseEnclosingParagraphs(engine, channel, out);
  c.headOpen = c.bodyOpen = c.footOpen = false;
  TableRec* table = TableOf(engine, c);
  c.tableWritten = table != nullptr;
  if (!table) return;
  SetNumber(engine, "_TABLEALIGN_", table->align);
  SetNumber(engine, "_TableBorderWeight_", table->borderWeight);
  SetNumber(engine, "_TableFrame_", table->frameRules >> 3);
  SetNumber(engine, "_TableRules_", table->frameRules & 7);
  SetNumber(engine, "_TABLEWIDTH_", Pixels(engine, table->right - table->left));
  SetNumber(engine, "_NCOLS_", static_cast<int>(table->columns.size()));
  // Languages whose tables need a body section (HTML 4.01, XHTML, CALS) learn from these
  // whether rows follow the header rows.
  SetNumber(engine, "_TABLEROWS_", static_cast<int>(table->rows.size()));
  SetNumber(engine, "_HEADERROWS_", table->headerRow + 1);
  PushTag(engine, out, kTagTable, kEndExpandedWhenPopped, c.table, "$_table_start_;",
          "$_table_end_;");
  if (!table->columns.empty()) {
    PushTag(engine, out, kTagColumnGroup, kEndExpandedWhenPopped, 0, "$_ColGroupStart_;",
            "$_ColGroupEnd_;");
    int group = table->columns.front().colGroup;
    for (const ColumnRec& column : table->columns) {
      if (column.colGroup != group) {
        PopTags(engine, kTagColumnGroup, out, kPopEntry);
        PushTag(engine, out, kTagColumnGroup, kEndExpandedWhenPopped, 0, "$_ColGroupStart_;",
                "$_ColGroupEnd_;");
        group = column.colGroup;
      }
      SetNumber(engine, "_COLWIDTH_", Pixels(engine, column.width));
      ExpandInto(engine, out, "$ColEntry;");
    }
    PopTags(engine, kTagColumnGroup, out, kPopEntry);
  }
  if (table->headerRow >= 0) {
    PushTag(engine, out, kTagTableHeadFoot, kEndExpandedWhenPopped, 0, "$_thead_start_;",
            "$_thead_end_;");
    c.headOpen = true;
  }
}

void OpenRow(Engine& engine, TableContext& c, OutputContext& out) {
  TableRec* table = TableOf(engine, c);
  RowRec* row = RowOf(engine, c);
  c.rowWritten = c.tableWritten && table && row;
  if (!c.rowWritten) return;
  if (c.row == table->footerRow && !c.footOpen) {
    PopTags(engine, kTagTable, out, kPopAbove);  // the header or body section ends here
    c.headOpen = c.bodyOpen = false;
    PushTag(engine, out, kTagTableHeadFoot, kEndExpandedWhenPopped, 0, "$_tfoot_start_;",
            "$_tfoot_end_;");
    c.footOpen = true;
  } else if (!c.footOpen && !c.bodyOpen && !c.headOpen && table->headerRow >= 0 &&
             c.row > table->headerRow && GetSetting(engine, "_tbody_start_")) {
    // After a header section the body rows get a section of their own when the translation
    // file names one.
    PushTag(engine, out, kTagTableHeadFoot, kEndExpandedWhenPopped, 0, "$_tbody_start_;",
            "$_tbody_end_;");
    c.bodyOpen = true;
  }
  PushTag(engine, out, kTagRow, kEndExpandedWhenPopped, c.row, "$_row_start_;", "$_row_end_;");
}

void OpenCell(Engine& engine, TableContext& c, OutputContext& out) {
  RowRec* row = RowOf(engine, c);
  CellRec* cell = CellOf(engine, c);
  c.cellWritten = c.rowWritten && cell && cell->rowSpan >= 0 && cell->colSpan >= 0;
  if (!c.cellWritten) return;
  SetNumber(engine, "_CELLVALIGN_", cell->vAlign);
  std::string background;
  const int rgb = ShadedColor(cell->background, cell->pattern, cell->shading);
  if (rgb >= 0) HexColor(rgb >> 16, rgb >> 8, rgb, background);
  SetSetting(engine, "_CELLBACKRGB_", background);
  SetNumber(engine, "_ROWSPAN_", cell->rowSpan);
  SetNumber(engine, "_COLSPAN_", cell->colSpan);
  SetNumber(engine, "_COLWIDTH_", Pixels(engine, cell->width));
  // The cell's first column (from 1): the columns of the cells before it in its row, those
  // covered by a cell of an earlier row (not written) included. Languages that name a spanning
  // cell's columns (CALS tables) need it.
  int column = 1;
  for (int k = 0; k < c.cell && k < static_cast<int>(row->cells.size()); ++k)
    if (row->cells[k].colSpan > 0) column += row->cells[k].colSpan;
  SetNumber(engine, "_COLINDEX_", column);
  if (row->isHeader)
    PushTag(engine, out, kTagCell, kEndExpandedWhenPopped, c.cell, "$_header_cell_start_;",
            "$_header_cell_end_;");
  else
    PushTag(engine, out, kTagCell, kEndExpandedWhenPopped, c.cell, "$_data_cell_start_;",
            "$_data_cell_end_;");
}

/// SetTableLevel for channel `channel`.
void SetLevel(Engine& engine, int channel, int n) {
  if (engine.driver.pass != 2) return;
  TableContext& c = engine.tableModel.contexts[channel];
  if (c.level == n) return;
  TranslateState& t = engine.translate;
  OutputContext& out = OutputOf(engine, channel);
  // Text gathered so far belongs before the markup. Held paragraph-number text is not released
  // here: this may run inside FormatChange, which releases it itself.
  ++t.releaseSuspended;
  ReleaseHeldText(engine);
  --t.releaseSuspended;
  const bool topIsCell = !out.tagStack.empty() && out.tagStack.back().kind == kTagCell;
  ChangeSpecialState(engine, out, 0);
  if (TopmostOf(out, kTagParagraph) > TopmostTableEntry(out))
    PopTags(engine, kTagParagraph, out, kPopAboveIfOpen);
  while (c.level < n) {
    switch (++c.level) {
      case 1:
        OpenTable(engine, channel, c, out);
        break;
      case 2:
        OpenRow(engine, c, out);
        break;
      default:
        OpenCell(engine, c, out);
        break;
    }
  }
  while (c.level > n) {
    switch (c.level--) {
      case 3:
        if (c.cellWritten) {
          // Nothing was written in the cell when its own entry is still on top.
          if (topIsCell) ExpandInto(engine, out, "$_empty_cell_tag_;");
          PopTags(engine, kTagRow, out, kPopAbove);
        }
        c.cellWritten = false;
        // The cell's last paragraph ended with it: no break string joins it to the next cell.
        t.channels[channel].pendingBreak = false;
        t.channels[channel].textStarted = false;
        break;
      case 2:
        if (c.rowWritten) {
          PopTags(engine, kTagRow, out, kPopEntry);
          // The header section ends with its last row (the body must not be part of it).
          const TableRec* table = TableOf(engine, c);
          if (c.headOpen && table && c.row >= table->headerRow) {
            PopTags(engine, kTagTable, out, kPopAbove);
            c.headOpen = false;
          }
        }
        c.rowWritten = false;
        break;
      default:
        if (c.tableWritten) PopTags(engine, kTagTable, out, kPopEntry);
        c.tableWritten = false;
        c.headOpen = c.bodyOpen = c.footOpen = false;
        break;
    }
  }
  // The paragraph that follows opens its tag anew inside (or after) the markup.
  t.channels[channel].textReady = false;
  t.stateChanged = true;
}

/// TableState for channel `channel`.
void MoveState(Engine& engine, int channel, int a) {
  TableModel& model = engine.tableModel;
  TableContext& c = model.contexts[channel];
  int s = c.state;
  if (a == s) return;
  TranslateState& t = engine.translate;
  if (TableTracing(engine)) PrintEscaped(engine, "TableState:%d->%d\n", s, a);
  if (!t.inFormatChange) ReleaseHeldText(engine);
  if (a == 0) {
    c.state = 0;
    return;
  }
  if (s == 0) {
    // A new table. Cell content without a row definition takes the cells of the context's
    // previous row.
    RowRec remembered;
    bool haveRemembered = false;
    if (const TableRec* previous = TableOf(engine, c); previous && !previous->rows.empty()) {
      remembered = previous->rows.back();
      haveRemembered = true;
    }
    NewTable(engine, channel, c);
    if (a > 3) {
      NewRow(engine, channel, c);
      RowRec* row = RowOf(engine, c);
      if (Pass1(engine) && row) {
        if (haveRemembered && !remembered.cells.empty()) {
          row->isHeader = remembered.isHeader;
          row->left = remembered.left;
          row->gap = remembered.gap;
          row->align = remembered.align;
          row->cells = remembered.cells;
          for (CellRec& cell : row->cells) {
            cell.rowSpan = 0;
            cell.hasText = false;
          }
        } else {
          NewCell(engine, c);
        }
      } else if (row && row->cells.empty()) {
        NewCell(engine, c);
      }
      c.cell = a == 6 ? -1 : 0;
      c.state = a;
      return;
    }
    // A row definition: the row starts below.
  }
  if (a <= 3 && (s == 0 || s == 6)) {
    NewRow(engine, channel, c);
    s = 1;
  }
  if (a == 2) {
    NewCell(engine, c);
    c.state = 2;
    return;
  }
  if (a > 3) {
    RowRec* row = RowOf(engine, c);
    if (row && row->cells.empty() && Pass1(engine)) {
      NewCell(engine, c);
      s = 2;
    }
    if (s < 4) c.cell = -1;
    if (a == 4) {
      row = RowOf(engine, c);
      // Content beyond the row's last cell stays in that cell.
      if (row && c.cell + 1 < static_cast<int>(row->cells.size())) ++c.cell;
      c.state = 4;
      return;
    }
  }
  if (a == 6) c.cell = -1;
  c.state = a;
}

int CellWidthOfPage(const Engine& engine) {
  const TranslateState& t = engine.translate;
  return t.pageWidth - (t.cur.par.leftIndent + t.cur.par.rightIndent + t.marginRight);
}

/// A cell for a side-by-side paragraph: its width runs from the paragraph's left indent to the
/// page's right margin.
void NewParagraphCell(Engine& engine, TableContext& c) {
  NewCell(engine, c);
  if (!Pass1(engine)) return;
  if (CellRec* cell = CellOf(engine, c)) {
    const int left = engine.translate.cur.par.leftIndent;
    cell->width = CellWidthOfPage(engine);
    cell->right = cell->width + left;
    cell->leftIndent = left;
  }
}

/// Some writers mark only the row end with \intbl: a paragraph that follows a row definition or
/// a \cell of an unfinished row belongs to that row all the same. (After a paragraph of cell
/// content, a paragraph without \intbl ends the table, as the flag says.)
void InferInTable(Engine& engine, int channel) {
  const int state = engine.tableModel.contexts[channel].state;
  if ((state >= 1 && state <= 3) || state == 5) engine.translate.cur.par.inTable = true;
}

}  // namespace

// ---- State machine ------------------------------------------------------------------------------

bool TableTracing(const Engine& engine) {
  return (engine.settings.mirrors.debug & kDebugTables) != 0;
}

void TableState(Engine& engine, int a) { MoveState(engine, ChannelIndex(engine), a); }

void SetTableLevel(Engine& engine, int n) { SetLevel(engine, ChannelIndex(engine), n); }

namespace {

/// A table word of a nested table's row definition. Nested tables are kept as paragraphs of the
/// enclosing cell, so their words must not change the enclosing row; pass 1 keeps the shading of
/// the nested row's cells for their paragraphs.
void NestedRowWord(Engine& engine, const rtf::RtfToken& token) {
  TranslateState& t = engine.translate;
  if (!Pass1(engine)) return;
  if (token.minor == rtf::tbl::kRowDef) {
    t.nestedShading.clear();
    t.nestedCellShading = -1;
  } else if (token.minor == rtf::tbl::kCellBackColor) {
    t.nestedCellShading = TableColorRgb(engine, token.param);
  } else if (token.minor == rtf::tbl::kCellX && t.nestedShading.size() < 1024) {
    t.nestedShading.push_back(t.nestedCellShading);
    t.nestedCellShading = -1;
  }
}

}  // namespace

void TableWord(Engine& engine) {
  TranslateState& t = engine.translate;
  const rtf::RtfToken& token = engine.reader.token;
  t.stateChanged = true;
  if (t.cur.destination == 2) {
    NestedRowWord(engine, token);
    return;
  }
  const int channel = ChannelIndex(engine);
  TableContext& c = engine.tableModel.contexts[channel];
  const int param = token.param == rtf::kNoParam ? 0 : token.param;
  const bool record = Pass1(engine);
  auto row = [&]() { return record ? RowOf(engine, c) : nullptr; };
  auto cell = [&]() { return record ? CellOf(engine, c) : nullptr; };
  using namespace rtf::tbl;
  const int minor = token.minor;
  switch (minor) {
    case kRowDef:
      MoveState(engine, channel, 1);
      c.cell = -1;
      break;
    case kRowHeight:
      MoveState(engine, channel, 1);
      break;
    case kCellX:
      MoveState(engine, channel, 2);
      if (CellRec* p = cell()) p->right = param;
      MoveState(engine, channel, 3);
      break;
    case kMergeFirst:
      MoveState(engine, channel, 2);
      c.mergeStart = c.cell;
      break;
    case kMergePrev:
      MoveState(engine, channel, 2);
      if (CellRec* p = cell(); p && c.mergeStart >= 0 && c.mergeStart < c.cell) {
        p->colSpan = -2;
        p->mergedInto = c.mergeStart;
      }
      break;
    case kRowLeftAlign:
    case kRowRightAlign:
    case kRowCenter:
      MoveState(engine, channel, 1);
      if (RowRec* p = row())
        p->align = minor == kRowLeftAlign ? 0 : minor == kRowRightAlign ? 2 : 3;
      break;
    case kRowLeft:
      MoveState(engine, channel, 1);
      if (RowRec* p = row()) p->left = param;
      break;
    case kRowGap:
      MoveState(engine, channel, 1);
      if (RowRec* p = row()) p->gap = param;
      break;
    case kRowHeader:
      MoveState(engine, channel, 1);
      if (RowRec* p = row()) p->isHeader = 1;
      break;
    case kVMergeFirst:
    case kVMergePrev:
      MoveState(engine, channel, 2);
      if (CellRec* p = cell()) p->rowSpan = minor == kVMergeFirst ? 1 : -1;
      break;
    case kCellBackColor:
      MoveState(engine, channel, 2);
      if (CellRec* p = cell()) p->background = TableColorRgb(engine, token.param);
      break;
    case kCellPatternColor:
      MoveState(engine, channel, 2);
      if (CellRec* p = cell()) p->pattern = TableColorRgb(engine, token.param);
      break;
    case kCellShading:
      MoveState(engine, channel, 2);
      if (CellRec* p = cell()) p->shading = param < 0 ? 0 : param > 10000 ? 10000 : param;
      break;
    case kVAlignBottom:
    case kVAlignCenter:
    case kVAlignTop:
      MoveState(engine, channel, 2);
      if (CellRec* p = cell())
        p->vAlign = minor == kVAlignBottom ? 2 : minor == kVAlignCenter ? 1 : 0;
      break;
    default:
      if (minor >= kRowBorderTop && minor <= kRowBorderVert) {
        MoveState(engine, channel, 1);
        t.cur.par.borderSide = minor;
      } else if (minor >= kCellBorderBottom && minor <= kCellBorderRight) {
        MoveState(engine, channel, 2);
        t.cur.par.borderSide = minor;
      }
      break;
  }
}

void TableBorderWidth(Engine& engine, int param) {
  const int side = engine.translate.cur.par.borderSide;
  if (side < kSideBottom || side > kSideRight || !Pass1(engine)) return;
  TableContext& c = engine.tableModel.contexts[ChannelIndex(engine)];
  CellRec* cell = CellOf(engine, c);
  if (!cell) return;
  // Twips to pixels, rounded: a fixed factor, since the weight says whether a line shows.
  const int weight = static_cast<int>(param * 0.05 + 0.5);
  cell->border[side - kSideBottom] = weight > 0 ? weight : 0;
  if (side == kSideTop) cell->doubleTop = engine.translate.cur.par.borderDouble;
}

void TableCellEnd(Engine& engine) {
  const int channel = ChannelIndex(engine);
  MoveState(engine, channel, 5);
  SetLevel(engine, channel, 3);  // an empty cell is still written
  SetLevel(engine, channel, 2);
  ChannelState& state = engine.translate.channels[channel];
  state.pendingBreak = false;
  state.textStarted = false;
  state.textReady = false;
  engine.translate.stateChanged = true;
}

void TableRowEnd(Engine& engine) {
  const int channel = ChannelIndex(engine);
  TableContext& c = engine.tableModel.contexts[channel];
  MoveState(engine, channel, 6);
  if (Pass1(engine)) {
    if (RowRec* row = RowOf(engine, c)) ++row->rowCount;
  }
  if (c.level < 2) SetLevel(engine, channel, 2);
  SetLevel(engine, channel, 1);
  engine.translate.stateChanged = true;
}

void TableFormatChange(Engine& engine, bool content) {
  TranslateState& t = engine.translate;
  const int channel = ChannelIndex(engine);
  InferInTable(engine, channel);
  if (t.cur.par.sideBySide && !t.cur.par.inTable) PlaceParagraphAsCell(engine);
  if (t.cur.par.inTable) {
    MoveState(engine, channel, 4);
    if (Pass1(engine)) {
      if (CellRec* cell = CellOf(engine, engine.tableModel.contexts[channel]); cell && content)
        cell->hasText = true;
    } else {
      SetLevel(engine, channel, 3);
    }
  } else {
    MoveState(engine, channel, 0);
    SetLevel(engine, channel, 0);
  }
}

void TableParagraphEnd(Engine& engine) {
  TranslateState& t = engine.translate;
  InferInTable(engine, ChannelIndex(engine));
  if (t.cur.par.inTable) return;
  if (t.cur.par.sideBySide) PlaceParagraphAsCell(engine);
  if (!t.cur.par.inTable) TableState(engine, 0);
}

void PlaceParagraphAsCell(Engine& engine) {
  TranslateState& t = engine.translate;
  const int channel = ChannelIndex(engine);
  TableContext& c = engine.tableModel.contexts[channel];
  t.cur.par.inTable = true;
  const int left = t.cur.par.leftIndent;
  if (c.state == 0) {
    NewTable(engine, channel, c);
    NewRow(engine, channel, c);
    NewParagraphCell(engine, c);
    c.state = 4;
    return;
  }
  const CellRec* current = CellOf(engine, c);
  const int e = current ? current->leftIndent : 0;
  if (left == e) return;
  if (left < e) {
    // A smaller indent starts a new row.
    SetLevel(engine, channel, 1);
    NewRow(engine, channel, c);
    NewParagraphCell(engine, c);
  } else {
    if (Pass1(engine)) {
      if (CellRec* previous = CellOf(engine, c)) {
        previous->width = left - e;
        previous->right = left;
      }
    }
    SetLevel(engine, channel, 3);
    SetLevel(engine, channel, 2);
    NewParagraphCell(engine, c);
  }
  c.state = 4;
}

void TableFootnoteBoundary(Engine& engine) {
  MoveState(engine, kFootnoteChannel, 0);
  SetLevel(engine, kFootnoteChannel, 0);
}

void FinishTables(Engine& engine) {
  for (int channel : {kFootnoteChannel, kMainChannel}) SetLevel(engine, channel, 0);
}

void ResetTables(Engine& engine, bool newConversion) {
  TableModel& model = engine.tableModel;
  for (int channel : {kMainChannel, kFootnoteChannel}) {
    if (!newConversion && Pass1(engine)) {
      StoreHeldTable(model, channel);  // the end of pass 1: the analysis reads it from there
    } else {
      model.held[channel] = TableRec();
      model.heldNumber[channel] = -1;
    }
    if (newConversion) model.recorded[channel].Clear();
  }
  if (newConversion) ClearAnalysedTables(model);
  model.nextToRead = 0;
  model.readOffset = 0;
  model.counter = -1;
  for (TableContext& c : model.contexts) c = TableContext();
}

}  // namespace quillo::translate
