// Packages of output files: the files a conversion wrote, read back (from memory or disk), and
// ZIP archives of them for publication formats such as EPUB. Archives are written with stored
// (uncompressed) members: what EPUB requires of its first member, and what keeps the writer
// small and free of libraries.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillo {
struct Engine;
struct FileEntry;

/// One member of an archive: its name in the archive and its bytes.
struct ArchiveMember {
  std::string name;
  std::string data;
};

/// The file table's entry of a file that this conversion opened for writing under `path`
/// (a memory output or a disk file), or nullptr.
FileEntry* WrittenFile(Engine& engine, std::string_view path);
/// The bytes of a file this conversion wrote (see WrittenFile) into `data`. False when there is
/// no such file or its disk copy cannot be read.
bool ReadWrittenFile(Engine& engine, std::string_view path, std::string& data);

/// Writes a ZIP archive of `members`, in their order, to `file` (open for writing). Every
/// member is stored without compression, with its CRC-32, dated 1980-01-01 so that the same
/// members make the same archive. False, with nothing written, when the format cannot hold the
/// members: more than 65535 of them, a name longer than 65535 bytes, or a member or archive of
/// 4 GiB or more.
bool WriteZipArchive(FileEntry* file, const std::vector<ArchiveMember>& members);

}  // namespace quillo
