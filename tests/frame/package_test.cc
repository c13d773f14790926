// Packages: ZIP archives of output files (read back here with a reader of the format's records),
// the files a conversion wrote, and the built-ins PutOutputFile and PackFiles that translation
// files use for publications (EPUB).
#include "base/package.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/file_table.h"
#include "engine.h"
#include "frame/driver.h"
#include "support/test_support.h"

namespace quillo {
namespace {

using test::ReadZip;
using ReadMember = test::ZipMember;

TEST(PackageTest, ArchivesHoldTheirMembersStoredInOrder) {
  FileTable table;
  table.memoryOutputMode = true;
  FileEntry* out = FileOpen(table, "a.zip", "wb");
  const std::string binary("\0\xff\x01\x80zip", 7);
  ASSERT_TRUE(WriteZipArchive(out, {{"mimetype", "application/epub+zip"},
                                    {"META-INF/container.xml", "<container/>"},
                                    {"check", "123456789"},
                                    {"binary", binary},
                                    {"empty", ""}}));
  const std::string zip(out->output.view());
  // The first member's bytes follow its header directly, as EPUB wants of "mimetype".
  EXPECT_EQ(zip.substr(30, 8), "mimetype");
  EXPECT_EQ(zip.substr(38, 20), "application/epub+zip");
  const std::vector<ReadMember> members = ReadZip(zip);
  ASSERT_EQ(members.size(), 5u);
  EXPECT_EQ(members[1].name, "META-INF/container.xml");
  EXPECT_EQ(members[1].data, "<container/>");
  EXPECT_EQ(members[2].crc, 0xCBF43926u);  // the CRC-32 check value of "123456789"
  EXPECT_EQ(members[3].data, binary);
  EXPECT_EQ(members[4].data, "");
  EXPECT_EQ(members[4].crc, 0u);
  for (const ReadMember& member : members) EXPECT_EQ(member.method, 0u) << member.name;
  // The same members give the same bytes: no time of day is stored.
  FileEntry* again = FileOpen(table, "b.zip", "wb");
  ASSERT_TRUE(WriteZipArchive(again, {{"mimetype", "application/epub+zip"},
                                      {"META-INF/container.xml", "<container/>"},
                                      {"check", "123456789"},
                                      {"binary", binary},
                                      {"empty", ""}}));
  EXPECT_EQ(std::string(again->output.view()), zip);
}

TEST(PackageTest, AnEmptyArchiveIsItsEndRecord) {
  FileTable table;
  table.memoryOutputMode = true;
  FileEntry* out = FileOpen(table, "e.zip", "wb");
  ASSERT_TRUE(WriteZipArchive(out, {}));
  EXPECT_EQ(out->output.view().size(), 22u);
  EXPECT_TRUE(ReadZip(std::string(out->output.view())).empty());
}

TEST(PackageTest, OnlyFilesThisConversionWroteAreRead) {
  test::TempDir dir;
  auto engine = test::MakeEngine();
  const std::string written = dir.File("w.txt"), read = dir.File("r.txt");
  test::WriteFile(read, "input");
  FileEntry* w = FileOpen(engine->files, written, "w");
  FilePutString(w, "output");
  FileClose(w);
  FileClose(FileOpen(engine->files, read, "r"));
  std::string data;
  EXPECT_TRUE(ReadWrittenFile(*engine, written, data));
  EXPECT_EQ(data, "output");
  EXPECT_FALSE(ReadWrittenFile(*engine, read, data));  // opened for reading only
  EXPECT_FALSE(ReadWrittenFile(*engine, dir.File("none"), data));
}

/// A translation file whose TranslationEnd runs `end`, with the strings `strings`.
std::string PackingTrn(const std::string& strings, const std::string& end) {
  return ".Version 6\n"
         ".PTag\nP \"<p>\" \"</p>\" \"\" \"\" \"</p><p>\" \"\" 1 0 0 0 0 0\n"
         ".TTag\nB \"<b>\" \"</b>\"\n"
         ".TMatch\n\"\" 0 Bold \"\" \"\" B\n"
         ".PMatch\nNormal 0 P\n"
         ".Strings\nPauseOnErr 0\nTitlePageHead \"[page]\"\nTitlePageEnd \"\"\n" +
         strings + "TranslationEnd \"" + end + "\"\n";
}

/// The outputs of a string conversion with `trn`, by name.
std::map<std::string, std::string> ConvertWith(const std::string& trn, test::TempDir& dir) {
  const std::string file = dir.File("pack.trn");
  test::WriteFile(file, trn);
  auto engine = test::MakeEngine();
  std::vector<std::string> words = {"", "-D", "TrnFile=" + file};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int count = 0;
  ConvertedOutput* outputs =
      ConvertString(*engine, static_cast<int>(words.size()), argv.data(), "{\\rtf1 x}", &count);
  std::map<std::string, std::string> result;
  for (int i = 0; i < count; ++i)
    result[outputs[i].name] =
        std::string(outputs[i].data ? outputs[i].data : "", outputs[i].length);
  FreeConvertedOutputs(outputs, count);
  return result;
}

TEST(PackageTest, TranslationFilesWritePackageFilesAndArchives) {
  test::TempDir dir;
  const std::string strings =
      "OpfSuffix \".opf\"\nOpfText \"<package/>\"\nZipSuffix \".zip\"\nOne \"1\"\n"
      "Page \"-.html\"\nOpf \"-.opf\"\nRenamed \"OEBPS/package.opf\\t-.opf\"\n";
  // The package file, then an archive of it and of the page, which are removed.
  std::map<std::string, std::string> outputs = ConvertWith(
      PackingTrn(strings,
                 "$PutOutputFile(OpfSuffix,OpfText)$PushList(Files,Page)$PushList(Files,Renamed)"
                 "$PackFiles(ZipSuffix,Files,One)"),
      dir);
  ASSERT_EQ(outputs.count("-.zip"), 1u);
  EXPECT_EQ(outputs.count("-.html"), 0u);
  EXPECT_EQ(outputs.count("-.opf"), 0u);
  const std::vector<ReadMember> members = ReadZip(outputs["-.zip"]);
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0].name, "-.html");
  EXPECT_EQ(members[0].data, "[page]<p>x</p>");
  EXPECT_EQ(members[1].name, "OEBPS/package.opf");
  EXPECT_EQ(members[1].data, "<package/>");
  // Without removal the packed files stay.
  outputs =
      ConvertWith(PackingTrn(strings, "$PushList(Files,Page)$PackFiles(ZipSuffix,Files)"), dir);
  EXPECT_EQ(outputs.count("-.zip"), 1u);
  EXPECT_EQ(outputs.count("-.html"), 1u);
}

TEST(PackageTest, NothingOutsideTheOutputIsWrittenOrPacked) {
  test::TempDir dir;
  test::WriteFile(dir.File("secret.txt"), "secret");
  const std::string strings = "Up \"/../x\"\nText \"t\"\nZipSuffix \".zip\"\nEscape \"../" +
                              std::string("secret.txt") + "\"\nAbsolute \"" +
                              dir.File("secret.txt") + "\"\nNotWritten \"pack.trn\"\n";
  std::map<std::string, std::string> outputs = ConvertWith(
      PackingTrn(strings,
                 "$PutOutputFile(Up,Text)$PushList(Files,Escape)$PushList(Files,Absolute)"
                 "$PushList(Files,NotWritten)$PackFiles(ZipSuffix,Files)"),
      dir);
  for (const auto& [name, data] : outputs) EXPECT_EQ(name.find("x"), std::string::npos) << name;
  ASSERT_EQ(outputs.count("-.zip"), 1u);
  EXPECT_TRUE(ReadZip(outputs["-.zip"]).empty());  // each refused member is left out
  std::string errors;
  for (const auto& [name, data] : outputs)
    if (name.find("_err.") != std::string::npos) errors += data;
  EXPECT_NE(errors.find("secret.txt"), std::string::npos) << errors;
}

}  // namespace
}  // namespace quillo
