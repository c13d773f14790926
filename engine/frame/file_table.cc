// PLACEHOLDER until the file table lands.
#include "frame/file_table.h"

#include "engine.h"

namespace quillo {
FileEntry* FileOpen(FileTable&, std::string_view, const char*) { return nullptr; }
FileEntry* FileOpenText(FileTable&, std::string_view, const char*, long) { return nullptr; }
void FileClose(FileEntry*) {}
int FilePutChar(FileEntry*, int) { return -1; }
std::size_t FileWrite(FileEntry*, const void*, std::size_t, std::size_t) { return 0; }
int FilePutString(FileEntry*, std::string_view) { return -1; }
int FileGetChar(FileEntry*) { return -1; }
std::size_t FileRead(FileEntry*, void*, std::size_t, std::size_t) { return 0; }
bool FileReadLine(FileEntry*, std::string&, std::size_t) { return false; }
int FileUngetChar(FileEntry*, int) { return -1; }
long FileTell(FileEntry*) { return -1; }
int FileSeek(FileEntry*, long, int) { return 1; }
void FileFlush(FileEntry*) {}
int FileRemove(FileEntry*) { return 1; }
ConvertedOutput* FileSweep(Engine&, bool, int* count) { *count = 0; return nullptr; }
std::string_view BaseName(std::string_view path) { auto p = path.rfind('/'); return p == std::string_view::npos ? path : path.substr(p + 1); }
std::string_view DirectoryPart(std::string_view path) { auto p = path.rfind('/'); return p == std::string_view::npos ? std::string_view() : path.substr(0, p); }
bool IsRelativePath(std::string_view path) { return path.empty() || path[0] != '/'; }
}  // namespace quillo
