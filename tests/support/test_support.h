// Helpers shared by the unit tests: temporary folders, whole-file reads, and an engine set up with
// the data folder of the source tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/engine_all.h"

namespace quillo::test {

/// A fresh temporary directory, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);
/// The data folder of the source tree (library files).
std::string DataDir();
/// An initialised engine whose library-file search finds the source tree's data folder.
std::unique_ptr<Engine> MakeEngine();

/// One member of a ZIP archive as ReadZip finds it.
struct ZipMember {
  std::string name;
  std::string data;
  std::uint32_t crc = 0;
  std::uint32_t method = 0xFFFF;  ///< 0: stored
};
/// The members of a ZIP archive, found through its central directory as unzip finds them; the
/// records' consistency (signatures, local headers against the directory) is checked with
/// GoogleTest expectations.
std::vector<ZipMember> ReadZip(const std::string& zip);

}  // namespace quillo::test
