// Build tool: gives the standard-call forwarders of libquillo.so their Windows-decorated names.
// They are linked as "_QuilloInitVB_4" and so on, because linkers read '@' in a symbol name as a
// version tag; this tool rewrites the '_' before the argument size into '@' in the dynamic string
// table and rebuilds the SysV symbol hash table (the library is linked with --hash-style=sysv, so
// no GNU hash table depends on the names). Usage: decorate_exports LIBRARY
#include <elf.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace {

unsigned long ElfHash(const unsigned char* name) {
  unsigned long h = 0;
  while (*name) {
    h = (h << 4) + *name++;
    unsigned long g = h & 0xf0000000;
    if (g) h ^= g >> 24;
    h &= ~g;
  }
  return h;
}

int Fail(const char* what) {
  std::fprintf(stderr, "decorate_exports: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Fail("usage: decorate_exports LIBRARY");
  std::vector<unsigned char> image;
  {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) return Fail("cannot read the library");
    image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (image.size() < sizeof(Elf64_Ehdr) || std::memcmp(image.data(), ELFMAG, SELFMAG) != 0 ||
      image[EI_CLASS] != ELFCLASS64)
    return Fail("not a 64-bit ELF file");
  auto* header = reinterpret_cast<Elf64_Ehdr*>(image.data());
  if (header->e_shoff + header->e_shnum * sizeof(Elf64_Shdr) > image.size())
    return Fail("bad section table");
  auto* sections = reinterpret_cast<Elf64_Shdr*>(image.data() + header->e_shoff);
  Elf64_Shdr *dynsym = nullptr, *hash = nullptr;
  for (int i = 0; i < header->e_shnum; ++i) {
    if (sections[i].sh_type == SHT_DYNSYM) dynsym = &sections[i];
    if (sections[i].sh_type == SHT_HASH) hash = &sections[i];
    if (sections[i].sh_type == SHT_GNU_HASH) return Fail("library has a GNU hash table");
  }
  if (!dynsym || !hash) return Fail("no dynamic symbol or hash table");
  Elf64_Shdr* dynstr = &sections[dynsym->sh_link];
  auto* symbols = reinterpret_cast<Elf64_Sym*>(image.data() + dynsym->sh_offset);
  size_t count = dynsym->sh_size / sizeof(Elf64_Sym);
  char* strings = reinterpret_cast<char*>(image.data() + dynstr->sh_offset);

  static const std::regex forwarder("_Quillo[A-Za-z0-9]+VB_[0-9]+");
  int renamed = 0;
  for (size_t i = 1; i < count; ++i) {
    char* name = strings + symbols[i].st_name;
    if (!std::regex_match(name, forwarder)) continue;
    // The name must not be shared with another symbol's tail: check no other symbol starts inside.
    size_t begin = symbols[i].st_name, end = begin + std::strlen(name);
    for (size_t j = 1; j < count; ++j) {
      if (j != i && symbols[j].st_name > begin && symbols[j].st_name <= end)
        return Fail("a forwarder name is shared in the string table");
    }
    *std::strrchr(name, '_') = '@';
    ++renamed;
  }
  if (renamed == 0) return Fail("no forwarders found");

  auto* table = reinterpret_cast<Elf64_Word*>(image.data() + hash->sh_offset);
  Elf64_Word nbucket = table[0], nchain = table[1];
  if (nchain != count) return Fail("hash table does not match the symbol table");
  Elf64_Word* bucket = table + 2;
  Elf64_Word* chain = bucket + nbucket;
  std::memset(bucket, 0, nbucket * sizeof(Elf64_Word));
  std::memset(chain, 0, nchain * sizeof(Elf64_Word));
  for (size_t i = 1; i < count; ++i) {
    auto h = ElfHash(reinterpret_cast<unsigned char*>(strings + symbols[i].st_name)) % nbucket;
    chain[i] = bucket[h];
    bucket[h] = static_cast<Elf64_Word>(i);
  }

  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  return out ? 0 : Fail("cannot write the library");
}
