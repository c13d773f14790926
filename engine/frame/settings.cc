// PLACEHOLDER: minimal store so the engine links while the real one is written.
#include "frame/settings.h"

#include "engine.h"
#include "frame/buffers.h"

namespace quillo {

void ResetSettings(Engine& engine) {
  engine.settings.names.clear();
  engine.settings.values.clear();
  engine.settings.indexByKey.clear();
  engine.settings.protectedKeys.clear();
}

int SetSetting(Engine& engine, std::string_view name, std::string_view value) {
  auto& s = engine.settings;
  auto key = FoldedKey(name);
  auto it = s.indexByKey.find(key);
  int index;
  if (it == s.indexByKey.end()) {
    index = static_cast<int>(s.names.size());
    s.names.emplace_back(name);
    s.values.emplace_back();
    s.indexByKey.emplace(key, index);
  } else {
    index = it->second;
  }
  s.values[index] = std::string(value);
  return index;
}

void SetBuiltin(Engine& engine, int index, std::string_view value) {
  if (index >= 0 && index < static_cast<int>(engine.settings.values.size()))
    engine.settings.values[index] = std::string(value);
}

int FindSetting(const Engine& engine, std::string_view name) {
  auto it = engine.settings.indexByKey.find(FoldedKey(name));
  return it == engine.settings.indexByKey.end() ? -1 : it->second;
}

const std::string* GetSetting(Engine& engine, std::string_view name) {
  int i = FindSetting(engine, name);
  return i < 0 ? nullptr : &engine.settings.values[i];
}

std::string SettingValue(Engine& engine, std::string_view name) {
  const std::string* v = GetSetting(engine, name);
  return v ? *v : std::string();
}

int ParseOptions(Engine&, int argc, char**) { return argc; }

FileEntry* OpenLibraryFile(Engine& engine, std::string_view name, const char* mode) {
  return FileOpen(engine.files, name, mode);
}

void ApplyOutputName(Engine&) {}

}  // namespace quillo
