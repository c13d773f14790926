#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillo::test {

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "quillo-test-XXXXXX").string();
  if (!mkdtemp(templ.data())) std::abort();
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string DataDir() { return std::string(QUILLO_SOURCE_DIR) + "/data"; }

std::unique_ptr<Engine> MakeEngine() {
  auto engine = std::make_unique<Engine>();
  std::string program = DataDir() + "/quillocmd";
  EngineInit(*engine, program.c_str());
  return engine;
}

namespace {

std::uint32_t Read16(const std::string& data, std::size_t at) {
  return static_cast<unsigned char>(data.at(at)) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(data.at(at + 1))) << 8;
}
std::uint32_t Read32(const std::string& data, std::size_t at) {
  return Read16(data, at) | Read16(data, at + 2) << 16;
}

}  // namespace

std::vector<ZipMember> ReadZip(const std::string& zip) {
  std::vector<ZipMember> members;
  if (zip.size() < 22) {
    ADD_FAILURE() << "no ZIP archive: " << zip.size() << " bytes";
    return members;
  }
  const std::size_t end = zip.size() - 22;
  EXPECT_EQ(Read32(zip, end), 0x06054B50u);
  const std::uint32_t count = Read16(zip, end + 10);
  std::size_t at = Read32(zip, end + 16);
  EXPECT_EQ(at + Read32(zip, end + 12), end);  // the directory ends where its end record starts
  for (std::uint32_t i = 0; i < count && at + 46 <= zip.size(); ++i) {
    EXPECT_EQ(Read32(zip, at), 0x02014B50u);
    ZipMember member;
    member.method = Read16(zip, at + 10);
    member.crc = Read32(zip, at + 16);
    const std::uint32_t size = Read32(zip, at + 20);
    const std::uint32_t nameLength = Read16(zip, at + 28);
    const std::uint32_t local = Read32(zip, at + 42);
    member.name = zip.substr(at + 46, nameLength);
    EXPECT_EQ(Read32(zip, local), 0x04034B50u);
    EXPECT_EQ(Read32(zip, local + 14), member.crc);  // local header and directory agree
    EXPECT_EQ(zip.substr(local + 30, Read16(zip, local + 26)), member.name);
    member.data = zip.substr(local + 30 + nameLength + Read16(zip, local + 28), size);
    members.push_back(member);
    at += 46 + nameLength + Read16(zip, at + 30) + Read16(zip, at + 32);
  }
  return members;
}

}  // namespace quillo::test
