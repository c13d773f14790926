// PLACEHOLDER: the translation-file loader is being written.
#include "frame/translation_file.h"

#include "engine.h"

namespace quillo {

FieldScanner::FieldScanner(ScannerSettings settings) : settings_(std::move(settings)) {}
void FieldScanner::SetLine(std::string_view line) { line_ = line; pos_ = 0; emptyPending_ = false; }
bool FieldScanner::Next(std::string&) { return false; }
std::string_view FieldScanner::Rest() const { return std::string_view(line_).substr(pos_); }

int LoadTranslationFile(Engine&, std::string_view) { return 0; }

}  // namespace quillo
