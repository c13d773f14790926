// Shared set-up of the fuzz targets: a fresh engine per input whose library files come from the
// source tree's data folder, every write kept in memory, and a guard that keeps inputs from
// reaching the built-ins that touch the real file system or start programs.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine.h"
#include "frame/driver.h"

namespace quillo::fuzz {

/// An initialised engine that finds the library files of QUILLO_FUZZ_DATA_DIR and keeps every file
/// it writes in memory. Messages printed outside a conversion are dropped.
inline std::unique_ptr<Engine> MakeEngine() {
  auto engine = std::make_unique<Engine>();
  std::string program = std::string(QUILLO_FUZZ_DATA_DIR) + "/quillocmd";
  EngineInit(*engine, program.c_str());
  engine->files.memoryOutputMode = true;
  engine->messages.discardPrinted = true;
  return engine;
}

/// True when `text` could reach the host: the Delete built-in (removes files) or a Script step of a
/// translation file's function (runs a command). Such inputs are skipped: the fuzzer explores the
/// language, not the host. Letter case is ignored, as the engine ignores it in names and statement
/// keywords. (The targets also set ScriptExecCmd empty, so a step that got through runs nothing.)
inline bool ReachesHost(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (lower.find("delete") != std::string::npos) return true;
  // A statement keyword is the first field of its line.
  for (std::size_t at = lower.find("script"); at != std::string::npos;
       at = lower.find("script", at + 1)) {
    std::size_t start = at;
    while (start > 0 && (lower[start - 1] == ' ' || lower[start - 1] == '\t')) --start;
    const bool lineStart = start == 0 || lower[start - 1] == '\n' || lower[start - 1] == '\r';
    const std::size_t after = at + 6;  // "script" is the whole keyword, not a name's beginning
    const bool wordEnd =
        after == lower.size() ||
        !(std::isalnum(static_cast<unsigned char>(lower[after])) || lower[after] == '_');
    if (lineStart && wordEnd) return true;
  }
  return false;
}

/// True when a browser would run script from `page` written with the shipped html.trn, which
/// writes no script and no event attribute of its own: a <script> element, or an attribute whose
/// name begins with "on" in a start tag, read as the HTML tokenizer reads attributes (names end
/// at blanks, '/', '>' or '='; values are quoted with " or ' or run to a blank or '>').
inline bool Scripted(std::string_view page) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; };
  for (std::size_t i = page.find('<'); i != std::string_view::npos; i = page.find('<', i)) {
    ++i;
    if (i >= page.size() || !std::isalpha(static_cast<unsigned char>(page[i]))) continue;
    std::string element;
    while (i < page.size() && !blank(page[i]) && page[i] != '>' && page[i] != '/')
      element.push_back(lower(page[i++]));
    if (element == "script") return true;
    for (;;) {
      while (i < page.size() && (blank(page[i]) || page[i] == '/')) ++i;
      if (i >= page.size() || page[i] == '>') break;
      std::string name;
      while (i < page.size() && !blank(page[i]) && page[i] != '/' && page[i] != '>' &&
             (page[i] != '=' || name.empty()))
        name.push_back(lower(page[i++]));
      if (name.size() > 2 && name[0] == 'o' && name[1] == 'n') return true;
      while (i < page.size() && blank(page[i])) ++i;
      if (i >= page.size() || page[i] != '=') continue;
      ++i;
      while (i < page.size() && blank(page[i])) ++i;
      if (i < page.size() && (page[i] == '"' || page[i] == '\'')) {
        const std::size_t end = page.find(page[i], i + 1);
        i = end == std::string_view::npos ? page.size() : end + 1;
      } else {
        while (i < page.size() && !blank(page[i]) && page[i] != '>') ++i;
      }
    }
  }
  return false;
}

/// The first `size` bytes of `data` as a NUL-terminated text (inputs may hold NULs; the engine's
/// string entry point reads up to the first one, as a host's C string would).
inline std::string AsText(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace quillo::fuzz
