#include "base/package.h"

#include <array>
#include <cstdint>
#include <cstdio>

#include "base/file_table.h"
#include "engine.h"

namespace quillo {

namespace {

/// The CRC-32 of ZIP (the reflected polynomial 0xEDB88320), one table lookup per byte.
constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

std::uint32_t Crc32(std::string_view data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : data) crc = kCrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void Put16(std::string& out, std::uint32_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// ZIP's MS-DOS date and time of 1980-01-01 00:00: the first day the format can name.
constexpr std::uint32_t kDosTime = 0;
constexpr std::uint32_t kDosDate = (0 << 9) | (1 << 5) | 1;
// Version 1.0 of the format suffices for stored members; bit 11 says names are UTF-8.
constexpr std::uint32_t kVersion = 10;
constexpr std::uint32_t kUtf8Names = 1u << 11;
constexpr std::uint64_t kLimit = 0xFFFFFFFFu;

}  // namespace

FileEntry* WrittenFile(Engine& engine, std::string_view path) {
  for (const auto& entry : engine.files.entries) {
    if (!entry || entry->state == FileState::kFree || entry->name != path) continue;
    if (entry->kind == FileKind::kMemoryOutput) return entry.get();
    if (entry->kind == FileKind::kDisk && !entry->access.empty() &&
        (entry->access[0] == 'w' || entry->access[0] == 'a'))
      return entry.get();
  }
  return nullptr;
}

bool ReadWrittenFile(Engine& engine, std::string_view path, std::string& data) {
  FileEntry* entry = WrittenFile(engine, path);
  if (!entry) return false;
  if (entry->kind == FileKind::kMemoryOutput) {
    data.assign(entry->output.view());
    return true;
  }
  if (entry->stream) std::fflush(entry->stream);
  std::FILE* in = std::fopen(entry->name.c_str(), "rb");
  if (!in) return false;
  data.clear();
  char block[64 * 1024];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, in)) > 0;)
    data.append(block, got);
  const bool ok = !std::ferror(in);
  std::fclose(in);
  return ok;
}

bool WriteZipArchive(FileEntry* file, const std::vector<ArchiveMember>& members) {
  if (members.size() > 0xFFFF) return false;
  std::string archive, directory;
  for (const ArchiveMember& member : members) {
    if (member.name.size() > 0xFFFF || member.data.size() >= kLimit) return false;
    const std::uint64_t offset = archive.size();
    if (offset >= kLimit) return false;
    const std::uint32_t crc = Crc32(member.data);
    const auto size = static_cast<std::uint32_t>(member.data.size());
    const auto nameLength = static_cast<std::uint32_t>(member.name.size());
    // Local file header, then the name and the stored bytes.
    Put32(archive, 0x04034B50);
    Put16(archive, kVersion);
    Put16(archive, kUtf8Names);
    Put16(archive, 0);  // stored
    Put16(archive, kDosTime);
    Put16(archive, kDosDate);
    Put32(archive, crc);
    Put32(archive, size);
    Put32(archive, size);
    Put16(archive, nameLength);
    Put16(archive, 0);  // no extra field
    archive += member.name;
    archive += member.data;
    // Its central directory record.
    Put32(directory, 0x02014B50);
    Put16(directory, kVersion);  // made by: MS-DOS attributes, version 1.0
    Put16(directory, kVersion);
    Put16(directory, kUtf8Names);
    Put16(directory, 0);
    Put16(directory, kDosTime);
    Put16(directory, kDosDate);
    Put32(directory, crc);
    Put32(directory, size);
    Put32(directory, size);
    Put16(directory, nameLength);
    Put16(directory, 0);  // extra field
    Put16(directory, 0);  // comment
    Put16(directory, 0);  // disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, 0);  // external attributes
    Put32(directory, static_cast<std::uint32_t>(offset));
    directory += member.name;
  }
  if (archive.size() + directory.size() >= kLimit) return false;
  const auto count = static_cast<std::uint32_t>(members.size());
  const auto directoryOffset = static_cast<std::uint32_t>(archive.size());
  const auto directorySize = static_cast<std::uint32_t>(directory.size());
  archive += directory;
  // End of central directory record.
  Put32(archive, 0x06054B50);
  Put16(archive, 0);
  Put16(archive, 0);
  Put16(archive, count);
  Put16(archive, count);
  Put32(archive, directorySize);
  Put32(archive, directoryOffset);
  Put16(archive, 0);  // no comment
  return FileWrite(file, archive.data(), 1, archive.size()) == archive.size();
}

}  // namespace quillo
