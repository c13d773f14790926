// Tables: the state machine over RTF's rows and cells, the analysis into a column grid with
// spans, header and footer sections and split tables, and the markup written in pass 2.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "translate/table_model.h"
#include "translate_fixture.h"

namespace quillo::test {
namespace {

/// Table strings that show the engine's values compactly.
constexpr char kTableStrings[] =
    R"(_table_start_ "<T f$_TableFrame_; r$_TableRules_; w$_TableBorderWeight_; n$_NCOLS_; a$_TABLEALIGN_;>"
_table_end_ "</T>\n"
_ColGroupStart_ "<G>"
_ColGroupEnd_ "</G>"
ColEntry "<C$_COLWIDTH_;>"
_thead_start_ "<H>"
_thead_end_ "</H>"
_tbody_start_ "<B>"
_tbody_end_ "</B>"
_tfoot_start_ "<F>"
_tfoot_end_ "</F>"
_row_start_ "<R>"
_row_end_ "</R>"
_header_cell_start_ "<th$_COLSPAN_;,$_ROWSPAN_;,$_CELLVALIGN_;>"
_header_cell_end_ "</th>"
_data_cell_start_ "<td$_COLSPAN_;,$_ROWSPAN_;,$_CELLVALIGN_;>"
_data_cell_end_ "</td>"
_empty_cell_tag_ "[empty]"
)";

/// Cells write their text without paragraph tags, so the expectations stay short.
constexpr char kPlainTables[] = R"(.PTag
Normal "" "" "" "" " " "" 1 0 0 0 0 0
.TTag
Bold "<b>" "</b>"
.TMatch
"" 0 Bold "" "" Bold
.PMatch
Normal 0 Normal
)";

class TablesTest : public TranslateTest {
 protected:
  std::string Page(const std::string& body, std::vector<std::string> options = {}) {
    const std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}" + body + "}";
    Conversion run =
        Convert(std::string(kPlainTables) + ".Strings\n" + kTableStrings, rtf, std::move(options));
    EXPECT_TRUE(run.converted);
    errors_ = run.errors;
    std::string page = run.page;
    std::string flat;
    for (char c : page)
      if (c != '\n') flat.push_back(c);
    return flat;
  }
  std::string errors_;
};

TEST_F(TablesTest, RowsAndCellsBecomeTableMarkup) {
  struct Case {
    const char* name;
    const char* body;
    const char* expected;
  };
  const Case cases[] = {
      {"two rows with the same edges form one table with one column per edge",
       "\\trowd\\cellx1000\\cellx3000\\pard\\intbl a\\cell b\\cell\\row"
       "\\trowd\\cellx1000\\cellx3000\\pard\\intbl c\\cell d\\cell\\row\\pard after\\par",
       "<T f0 r0 w0 n2 a0><G><C50><C100></G><R><td1,1,0>a</td><td1,1,0>b</td></R>"
       "<R><td1,1,0>c</td><td1,1,0>d</td></R></T>after"},
      {"edges 5 twips apart share a column boundary",
       "\\trowd\\cellx1000\\cellx3000\\pard\\intbl a\\cell b\\cell\\row"
       "\\trowd\\cellx1005\\cellx3000\\pard\\intbl c\\cell d\\cell\\row",
       "<T f0 r0 w0 n2 a0><G><C50><C100></G><R><td1,1,0>a</td><td1,1,0>b</td></R>"
       "<R><td1,1,0>c</td><td1,1,0>d</td></R></T>"},
      {"edges 20 twips apart make two boundaries and spans",
       "\\trowd\\cellx1000\\cellx3000\\pard\\intbl a\\cell b\\cell\\row"
       "\\trowd\\cellx1020\\cellx3000\\pard\\intbl c\\cell d\\cell\\row",
       "<T f0 r0 w0 n3 a0><G><C50><C1><C99></G><R><td1,1,0>a</td><td2,1,0>b</td></R>"
       "<R><td2,1,0>c</td><td1,1,0>d</td></R></T>"},
      {"a row with another left edge starts a new table",
       "\\trowd\\cellx1000\\pard\\intbl a\\cell\\row"
       "\\trowd\\trleft500\\cellx1500\\pard\\intbl b\\cell\\row",
       "<T f0 r0 w0 n1 a0><G><C50></G><R><td1,1,0>a</td></R></T>"
       "<T f0 r0 w0 n1 a0><G><C50></G><R><td1,1,0>b</td></R></T>"},
      {"an empty cell still gets its tags and the empty-cell text",
       "\\trowd\\cellx1000\\cellx2000\\pard\\intbl\\cell x\\cell\\row",
       "<T f0 r0 w0 n2 a0><G><C50><C50></G><R><td1,1,0>[empty]</td><td1,1,0>x</td></R></T>"},
      {"vertical and horizontal merges become row and column spans",
       "\\trowd\\clvmgf\\clvertalc\\cellx1000\\clmgf\\cellx2000\\clmrg\\cellx3000"
       "\\pard\\intbl tall\\cell wide\\cell\\cell\\row"
       "\\trowd\\clvmrg\\cellx1000\\clvertalb\\cellx2000\\cellx3000"
       "\\pard\\intbl\\cell b\\cell c\\cell\\row",
       "<T f0 r0 w0 n3 a0><G><C50><C50><C50></G><R><td1,2,1>tall</td><td2,1,0>wide</td></R>"
       "<R><td1,1,2>b</td><td1,1,0>c</td></R></T>"},
      {"a row definition repeated before \\row adds no cells",
       "\\trowd\\cellx1000\\cellx2000\\pard\\intbl a\\cell b\\cell"
       "{\\trowd\\cellx1000\\cellx2000\\row}\\pard after\\par",
       "<T f0 r0 w0 n2 a0><G><C50><C50></G><R><td1,1,0>a</td><td1,1,0>b</td></R></T>after"},
      {"cell content without a row definition takes the previous row's cells",
       "\\trowd\\cellx1000\\cellx2000\\pard\\intbl a\\cell b\\cell\\row"
       "\\pard\\intbl c\\cell d\\cell\\row",
       "<T f0 r0 w0 n2 a0><G><C50><C50></G><R><td1,1,0>a</td><td1,1,0>b</td></R>"
       "<R><td1,1,0>c</td><td1,1,0>d</td></R></T>"},
      {"content beyond the defined cells stays in the last cell",
       "\\trowd\\cellx1000\\pard\\intbl a\\cell b\\cell\\row",
       "<T f0 r0 w0 n1 a0><G><C50></G><R><td1,1,0>a</td><td1,1,0>b</td></R></T>"},
      {"a centred row centres the table", "\\trowd\\trqc\\cellx1000\\pard\\intbl a\\cell\\row",
       "<T f0 r0 w0 n1 a3><G><C50></G><R><td1,1,0>a</td></R></T>"},
      {"nested tables keep their text in order inside the enclosing cell",
       "\\trowd\\cellx3000\\pard\\intbl before \\pard\\intbl\\itap2 in1\\nestcell in2\\nestcell"
       "{\\*\\nesttableprops\\trowd\\cellx1000\\cellx2000\\nestrow}{\\nonesttables fallback\\par}"
       "\\pard\\intbl\\itap1 after\\cell\\row",
       "<T f0 r0 w0 n1 a0><G><C150></G><R><td1,1,0>before in1 in2 after</td></R></T>"},
      {"an in-table paragraph without \\cell is a table in both passes",
       "\\pard\\intbl\\par\\pard after\\par",
       "<T f0 r0 w0 n1 a0><G><C0></G><R><td0,1,0></td></R></T>after"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Page(c.body), c.expected) << c.name;
    EXPECT_EQ(errors_.find("Overrun"), std::string::npos) << c.name << ": " << errors_;
  }
}

TEST_F(TablesTest, HeaderAndFooterSections) {
  // A header row; the row after it whose last cell has a top border opens the footer.
  const std::string page = Page(
      "\\trowd\\trhdr\\clbrdrb\\brdrs\\brdrw15\\cellx1000\\pard\\intbl H\\cell\\row"
      "\\trowd\\cellx1000\\pard\\intbl b1\\cell\\row"
      "\\trowd\\cellx1000\\pard\\intbl b2\\cell\\row"
      "\\trowd\\clbrdrt\\brdrs\\brdrw15\\cellx1000\\pard\\intbl total\\cell\\row");
  EXPECT_EQ(page,
            "<T f0 r1 w0 n1 a0><G><C50></G><H><R><th1,1,0>H</th></R></H>"
            "<B><R><td1,1,0>b1</td></R><R><td1,1,0>b2</td></R></B>"
            "<F><R><td1,1,0>total</td></R></F></T>");
}

TEST_F(TablesTest, ColumnIndexAndRowCountsForStrictTableModels) {
  // Each cell's first column counts the columns of the cells before it in its row, also those
  // covered by a cell above (which are not written); the table knows its rows and header rows.
  const std::string strings = std::string(kTableStrings) +
                              "_table_start_ \"<T $_TABLEROWS_;/$_HEADERROWS_;>\"\n"
                              "_data_cell_start_ \"<td c$_COLINDEX_;+$_COLSPAN_;>\"\n"
                              "_header_cell_start_ \"<th c$_COLINDEX_;+$_COLSPAN_;>\"\n";
  const std::string rtf =
      "{\\rtf1\\ansi\\trowd\\trhdr\\cellx1000\\cellx2000\\cellx3000\\pard\\intbl h\\cell i\\cell "
      "j\\cell\\row\\trowd\\clvmgf\\cellx1000\\clmgf\\cellx2000\\clmrg\\cellx3000\\pard\\intbl "
      "tall\\cell "
      "wide\\cell\\cell\\row\\trowd\\clvmrg\\cellx1000\\cellx2000\\cellx3000\\pard\\intbl"
      "\\cell b\\cell c\\cell\\row}";
  Conversion run = Convert(std::string(kPlainTables) + ".Strings\n" + strings, rtf);
  std::string flat;
  for (char c : run.page)
    if (c != '\n') flat.push_back(c);
  EXPECT_EQ(flat,
            "<T 3/1><G><C50><C50><C50></G><H><R><th c1+1>h</th><th c2+1>i</th><th c3+1>j</th></R>"
            "</H><B><R><td c1+1>tall</td><td c2+2>wide</td></R><R><td c2+1>b</td><td c3+1>c</td>"
            "</R></B></T>");
}

TEST_F(TablesTest, BorderWeightsGiveFrameAndRules) {
  struct Case {
    const char* width;
    const char* expectedStart;
  };
  // 15 twips is one pixel; 5 twips rounds to nothing.
  const Case cases[] = {
      {"15", "<T f15 r6 w1 n2 a0>"}, {"5", "<T f0 r0 w0 n2 a0>"}, {"60", "<T f15 r6 w3 n2 a0>"}};
  for (const Case& c : cases) {
    const std::string w = c.width;
    const std::string cell = "\\clbrdrt\\brdrs\\brdrw" + w + "\\clbrdrl\\brdrs\\brdrw" + w +
                             "\\clbrdrb\\brdrs\\brdrw" + w + "\\clbrdrr\\brdrs\\brdrw" + w;
    const std::string row = "\\trowd" + cell + "\\cellx1000" + cell + "\\cellx2000";
    const std::string page = Page(row + "\\pard\\intbl a\\cell b\\cell\\row" + row +
                                  "\\pard\\intbl c\\cell d\\cell\\row");
    EXPECT_EQ(page.substr(0, page.find('>') + 1), c.expectedStart) << "width " << c.width;
  }
}

TEST_F(TablesTest, FootnoteTableDoesNotDisturbTheBodyTable) {
  const std::string page = Page(
      "\\trowd\\cellx1000\\cellx2000\\pard\\intbl a{\\footnote\\pard\\trowd\\cellx500"
      "\\pard\\intbl n\\cell\\row\\pard note}\\cell b\\cell\\row\\pard after\\par");
  EXPECT_EQ(page,
            "<T f0 r0 w0 n2 a0><G><C50><C50></G><R><td1,1,0>a</td><td1,1,0>b</td></R></T>after"
            "<HR><T f0 r0 w0 n1 a0><G><C25></G><R><td1,1,0>n</td></R></T>note");
}

TEST_F(TablesTest, SideBySideParagraphsBecomeCells) {
  const std::string page =
      Page("\\pard\\sbys\\li0 left\\par\\pard\\sbys\\li3000 right\\par\\pard after\\par");
  EXPECT_NE(page.find("<R><td1,1,0>left</td><td1,1,0>right</td></R></T>after"), std::string::npos)
      << page;
}

TEST_F(TablesTest, TraceShowsRecordsAndAnalysis) {
  Page("\\trowd\\cellx1000\\pard\\intbl a\\cell\\row", {"-D", "Debug=8"});
  for (const char* line : {"newTable:0", "newRow:0", "newCell:0", "TableState:0-&gt;1",
                           "Tbl:ti=0,le=0,re=1000", "Tbl:ti=0,le=0,re=1000,cgi=0,w=1000,cg=0"})
    EXPECT_NE(errors_.find(line), std::string::npos) << line << "\n" << errors_;
}

TEST_F(TablesTest, LargeTableOfShiftingEdgesConvertsWhole) {
  // 2000 rows of 60 cells whose edges differ from row to row: the grid has the full 999
  // columns and every cell spans many of them. (Its speed is bench/'s business.)
  std::string body;
  for (int r = 0; r < 2000; ++r) {
    body += "\\trowd";
    for (int i = 1; i <= 60; ++i) body += "\\cellx" + std::to_string(i * 150 + (r % 50) * 3);
    body += "\\pard\\intbl";
    for (int i = 1; i <= 60; ++i) body += " c\\cell";
    body += "\\row";
  }
  const std::string page = Page(body);
  EXPECT_EQ(Count(page, "<R>"), 2000);
  EXPECT_EQ(Count(page, "</td>"), 120000);
}

// ---- The analysis on records made by hand -------------------------------------------------------

translate::RowRec Row(std::vector<int> rights, int left = 0) {
  translate::RowRec row;
  row.left = left;
  row.rowCount = 1;
  for (int right : rights) {
    translate::CellRec cell;
    cell.right = right;
    row.cells.push_back(cell);
  }
  return row;
}

/// Records `table` as pass 1's only table and returns the tables the analysis makes of it.
std::vector<translate::TableRec> Analyse(Engine& engine, const translate::TableRec& table) {
  translate::ResetTables(engine, true);
  translate::RecordTable(engine.tableModel, 0, table);
  translate::AnalyseTables(engine);
  return translate::AnalysedTables(engine.tableModel);
}

TEST(TableStoreTest, RecordsComeBackInTableOrderThroughTheTemporaryFile) {
  // Tables of the two channels interleaved, far more than the streams keep in memory: the
  // analysis meets them in table order and pass 2 reads each back whole.
  translate::TableModel model;
  constexpr int kTables = 3000;
  auto shape = [](int n) {
    translate::TableRec table;
    for (int r = 0; r < 1 + n % 7; ++r) {
      translate::RowRec row = Row({100 + n, 200 + n, 300 + r});
      row.cells[1].background = n;
      row.cells[2].hasText = (n + r) % 2 == 0;
      row.cells[0].border[3] = r;
      table.rows.push_back(row);
    }
    table.left = -n;
    return table;
  };
  for (int n = 0; n < kTables; ++n) {
    translate::TableRec* held = translate::HoldTable(model, n % 3 == 0 ? 1 : 0, n, true);
    ASSERT_NE(held, nullptr);
    *held = shape(n);
  }
  int expected = 0;
  translate::ForEachRecordedTable(model, [&](translate::TableRec&& table) {
    EXPECT_EQ(table.left, -expected);
    translate::AddAnalysedTable(model, table);
    ++expected;
  });
  EXPECT_EQ(expected, kTables);
  EXPECT_GT(model.analysed.SpilledBytes(), 0u);
  for (int n = 0; n < kTables; ++n) {
    const translate::TableRec* table = translate::HoldTable(model, n % 2, n, false);
    ASSERT_NE(table, nullptr) << n;
    const translate::TableRec want = shape(n);
    ASSERT_EQ(table->rows.size(), want.rows.size()) << n;
    EXPECT_EQ(table->left, want.left);
    for (std::size_t r = 0; r < want.rows.size(); ++r) {
      ASSERT_EQ(table->rows[r].cells.size(), 3u);
      EXPECT_EQ(table->rows[r].cells[0].right, want.rows[r].cells[0].right);
      EXPECT_EQ(table->rows[r].cells[1].background, n);
      EXPECT_EQ(table->rows[r].cells[2].hasText, want.rows[r].cells[2].hasText);
      EXPECT_EQ(table->rows[r].cells[0].border[3], static_cast<int>(r));
    }
  }
  EXPECT_EQ(translate::HoldTable(model, 0, kTables, false), nullptr);
  // Going back reads the stream again.
  ASSERT_NE(translate::HoldTable(model, 0, 5, false), nullptr);
  EXPECT_EQ(model.held[0].left, -5);
}

TEST(TableAnalysisTest, ColumnsWithTolerance) {
  struct Case {
    int tolerance;
    std::vector<int> first, second;
    std::vector<int> widths;
  };
  const Case cases[] = {
      {10, {1000, 3000}, {1005, 3000}, {1000, 2000}},
      {10, {1000, 3000}, {1020, 3000}, {1000, 20, 1980}},
      {50, {1000, 3000}, {1020, 3000}, {1000, 2000}},
      {10, {1000, 2000, 3000}, {3000}, {1000, 1000, 1000}},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Engine> engine = MakeEngine();
    engine->settings.mirrors.colTolerance = c.tolerance;
    translate::TableRec table;
    table.rows = {Row(c.first), Row(c.second)};
    const std::vector<translate::TableRec> tables = Analyse(*engine, table);
    ASSERT_EQ(tables.size(), 1u);
    std::vector<int> widths;
    for (const translate::ColumnRec& column : tables[0].columns) widths.push_back(column.width);
    EXPECT_EQ(widths, c.widths) << "tolerance " << c.tolerance;
  }
}

TEST(TableAnalysisTest, SplitsRowsOfAnotherShapeUnlessTheyContinueAMerge) {
  std::unique_ptr<Engine> engine = MakeEngine();
  translate::TableRec table;
  table.rows = {Row({1000}), Row({1000}), Row({2000}, 500), Row({2000}, 500)};
  const std::vector<translate::TableRec> tables = Analyse(*engine, table);
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0].rows.size(), 2u);
  EXPECT_TRUE(tables[0].continues);
  EXPECT_EQ(tables[1].left, 500);

  // A row that continues a vertical merge stays with the merge.
  table.rows = {Row({1000}), Row({2000}, 500)};
  table.rows[0].cells[0].rowSpan = 1;
  table.rows[1].cells[0].right = 1000;
  table.rows[1].cells[0].rowSpan = -1;
  table.rows[1].left = 900;
  const std::vector<translate::TableRec> merged = Analyse(*engine, table);
  ASSERT_EQ(merged.size(), 1u);
  EXPECT_EQ(merged[0].rows[0].cells[0].rowSpan, 2);
}

TEST(TableAnalysisTest, ContinuationCellWithTextIsACellOfItsOwn) {
  std::unique_ptr<Engine> engine = MakeEngine();
  translate::TableRec table;
  table.rows = {Row({1000}), Row({1000}), Row({1000})};
  table.rows[0].cells[0].rowSpan = 1;
  table.rows[1].cells[0].rowSpan = -1;
  table.rows[2].cells[0].rowSpan = -1;
  table.rows[2].cells[0].hasText = true;
  const std::vector<translate::TableRec> tables = Analyse(*engine, table);
  const auto& rows = tables[0].rows;
  EXPECT_EQ(rows[0].cells[0].rowSpan, 2);
  EXPECT_EQ(rows[1].cells[0].rowSpan, -1);
  EXPECT_EQ(rows[2].cells[0].rowSpan, 1);
}

TEST(TableAnalysisTest, ColumnCountIsBounded) {
  std::unique_ptr<Engine> engine = MakeEngine();
  translate::TableRec table;
  std::vector<int> rights;
  for (int i = 1; i <= 3000; ++i) rights.push_back(i * 100);
  table.rows = {Row(rights)};
  const std::vector<translate::TableRec> tables = Analyse(*engine, table);
  EXPECT_EQ(tables[0].columns.size(), static_cast<std::size_t>(translate::TableModel::kMaxColumns));
}

}  // namespace
}  // namespace quillo::test
