#include "support/test_support.h"

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

}  // namespace quillo::test
