// PLACEHOLDER: the regular-expression engine is being written.
#include "expand/regex.h"

#include "engine.h"

namespace quillo::expand {

std::unique_ptr<Regex> Regex::Compile(Engine*, std::string_view) { return nullptr; }
std::unique_ptr<Regex> Regex::TryCompile(std::string_view, std::string*) { return nullptr; }
bool Regex::Match(const char*) { return false; }
void Regex::Substitute(std::string_view, std::string&) const {}
std::string_view Regex::Group(int) const { return {}; }
bool Regex::GroupMatched(int) const { return false; }

}  // namespace quillo::expand
