// Helpers shared by the unit tests: temporary folders, whole-file reads, and an engine set up with
// the data folder of the source tree.
#pragma once

#include <memory>
#include <string>

#include "engine.h"

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

}  // namespace quillo::test
