#include "base/file_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "support/test_support.h"

namespace quillo {
namespace {

TEST(FileTableTest, OpeningANameAgainReusesItsEntry) {
  test::TempDir dir;
  FileTable table;
  std::string name = dir.File("a.txt");
  FileEntry* first = FileOpen(table, name, "w");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(FileOpen(table, name, "r"), first);  // still open: returned unchanged
  FilePutString(first, "one\n");
  FileClose(first);
  EXPECT_EQ(first->state, FileState::kClosed);
  FileEntry* again = FileOpen(table, name, "a");  // closed: reopened with the new mode
  EXPECT_EQ(again, first);
  EXPECT_EQ(again->access, "a");
  FilePutString(again, "two\n");
  FileClose(again);
  EXPECT_EQ(test::ReadFile(name), "one\ntwo\n");
  EXPECT_EQ(table.entries.size(), 1u);
}

TEST(FileTableTest, FailedDiskOpenLeavesNoTrace) {
  FileTable table;
  EXPECT_EQ(FileOpen(table, "/nonexistent-dir/x.txt", "r"), nullptr);
  ASSERT_EQ(table.entries.size(), 1u);
  EXPECT_EQ(table.entries[0]->state, FileState::kFree);
  // The free slot is reused by the next open.
  test::TempDir dir;
  FileEntry* e = FileOpen(table, dir.File("b"), "w");
  EXPECT_EQ(e, table.entries[0].get());
}

TEST(FileTableTest, MemoryModeKeepsWritesButReadsFromDisk) {
  test::TempDir dir;
  test::WriteFile(dir.File("in.txt"), "disk");
  FileTable table;
  table.memoryOutputMode = true;
  FileEntry* out = FileOpen(table, "out.html", "w");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->kind, FileKind::kMemoryOutput);
  EXPECT_EQ(FilePutString(out, "abc"), 1);
  EXPECT_EQ(FilePutChar(out, 'd'), 1);
  EXPECT_EQ(FileWrite(out, "ef", 1, 2), 2u);
  EXPECT_EQ(out->output.view(), "abcdef");
  EXPECT_EQ(FileGetChar(out), -1);  // memory outputs cannot be read
  FileEntry* in = FileOpen(table, dir.File("in.txt"), "r");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->kind, FileKind::kDisk);
  EXPECT_EQ(FileGetChar(in), 'd');
  EXPECT_FALSE(test::FileExists("out.html"));
}

TEST(FileTableTest, MemoryInputReadsLinesSeeksAndUngets) {
  FileTable table;
  const char text[] = "first\nlast";
  FileEntry* in = FileOpenText(table, "-.rtf", text, 10);
  std::string line;
  ASSERT_TRUE(FileReadLine(in, line, 256));
  EXPECT_EQ(line, "first\n");
  ASSERT_TRUE(FileReadLine(in, line, 256));
  EXPECT_EQ(line, "last");  // the last line has no newline and comes once
  EXPECT_FALSE(FileReadLine(in, line, 256));

  EXPECT_EQ(FileSeek(in, 11, 0), 1);  // beyond the size: refused, position kept
  EXPECT_EQ(FileTell(in), 10);
  EXPECT_EQ(FileSeek(in, 0, 2), 0);  // whence 2, offset 0: the end
  EXPECT_EQ(FileTell(in), 10);
  EXPECT_EQ(FileSeek(in, 2, 0), 0);
  EXPECT_EQ(FileGetChar(in), 'r');
  EXPECT_EQ(FileUngetChar(in, 'r'), 'r');
  EXPECT_EQ(FileGetChar(in), 'r');
  EXPECT_EQ(FileSeek(in, 0, 0), 0);
  EXPECT_EQ(FileUngetChar(in, 'x'), -1);  // nothing before the start

  char buffer[8] = {};
  EXPECT_EQ(FileRead(in, buffer, 1, 7), 7u);
  EXPECT_STREQ(buffer, "first\nl");
  EXPECT_EQ(FileRead(in, buffer, 1, 7), 3u);  // stops after the last character
  EXPECT_EQ(FilePutString(in, "x"), -1);      // memory inputs cannot be written
  // A read line is cut to size - 1 characters.
  FileSeek(in, 0, 0);
  ASSERT_TRUE(FileReadLine(in, line, 4));
  EXPECT_EQ(line, "fir");
}

TEST(FileTableTest, OperationsOnMissingOrClosedEntriesAreRefused) {
  FileTable table;
  EXPECT_EQ(FilePutChar(nullptr, 'a'), -1);
  EXPECT_EQ(FileWrite(nullptr, "a", 1, 1), 0u);
  EXPECT_EQ(FileGetChar(nullptr), -1);
  EXPECT_EQ(FileRemove(nullptr), 1);
  FileEntry* in = FileOpenText(table, "-.rtf", "x", 1);
  EXPECT_EQ(FileRemove(in), 1);  // a memory input is left alone
  FileClose(in);
  EXPECT_EQ(FileGetChar(in), -1);
}

TEST(FileTableTest, SweepHandsOverMemoryOutputsWithData) {
  Engine engine;
  engine.files.memoryOutputMode = true;
  FilePutString(FileOpen(engine.files, "-.html", "w"), "<p>hi</p>");
  FileOpen(engine.files, "empty.html", "w");  // never written: takes no slot
  FilePutString(FileOpen(engine.files, "pic.png", "w"), std::string_view("\x89PNG\0\1", 6));
  FileOpenText(engine.files, "-.rtf", "{\\rtf1}", 7);
  int count = -1;
  ConvertedOutput* out = FileSweep(engine, false, &count);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(out[0].name, "-.html");
  EXPECT_EQ(std::string(out[0].data, out[0].length), "<p>hi</p>");
  EXPECT_STREQ(out[1].name, "pic.png");
  EXPECT_EQ(out[1].length, 6);
  EXPECT_EQ(std::memcmp(out[1].data, "\x89PNG\0\1", 6), 0);
  EXPECT_TRUE(engine.files.entries.empty());
  FreeConvertedOutputs(out, count);

  FilePutString(FileOpen(engine.files, "-.html", "w"), "x");
  count = -1;
  EXPECT_EQ(FileSweep(engine, true, &count), nullptr);
  EXPECT_EQ(count, 0);
}

TEST(FileTableTest, SweepNumbersTheDiskFilesWritten) {
  test::TempDir dir;
  auto engine = test::MakeEngine();
  FileOpen(engine->files, dir.File("one.html"), "w");
  FileEntry* in = FileOpen(engine->files, dir.File("one.html"), "r");
  FileClose(in);
  FileOpen(engine->files, dir.File("two.html"), "w");
  int count = 0;
  FileSweep(*engine, true, &count);
  EXPECT_EQ(SettingValue(*engine, "OutputFileListCount"), "2");
  EXPECT_EQ(SettingValue(*engine, "OutputFileList1"), dir.File("one.html"));
  EXPECT_EQ(SettingValue(*engine, "OutputFileList2"), dir.File("two.html"));
}

TEST(PathTest, SplitsAtTheLastSlash) {
  EXPECT_EQ(BaseName("/a/b/c.rtf"), "c.rtf");
  EXPECT_EQ(BaseName("c.rtf"), "c.rtf");
  EXPECT_EQ(DirectoryPart("/a/b/c.rtf"), "/a/b");
  EXPECT_EQ(DirectoryPart("c.rtf"), "");
  EXPECT_TRUE(IsRelativePath("a/b"));
  EXPECT_FALSE(IsRelativePath("/a/b"));
}

}  // namespace
}  // namespace quillo
