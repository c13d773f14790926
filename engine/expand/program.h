// Compiled expansion texts: a text of the expansion language parsed once into a list of steps
// (literal runs, `$Name;` references, `$Func(args)` calls with their argument names split), which
// the expander walks instead of scanning the text again at every use, and a bounded cache of the
// programs by their text. Depends only on the standard library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillo::expand {

enum class StepKind : unsigned char {
  kLiteral,    ///< `text` is written as it is
  kReference,  ///< `$name;`: the value of the name, expanded again unless it is literal
  kCall,       ///< `$name(arguments)`: a user function or built-in; its result is not expanded
};

/// One step of a compiled text.
struct ProgramStep {
  StepKind kind = StepKind::kLiteral;
  /// Literal: the text. Reference: the name. Call: the call text without "$" and ")" ("F(a,b"),
  /// which traces and messages show.
  std::string text;
  /// Reference and call: the reference as written ("$A;", "$F(a,b)"), for the runaway report.
  std::string source;
  /// Call: the function name (empty when the call text holds no name token) and the argument
  /// names, in order. Separators are "(" and ",", so empty arguments vanish ("F(a,,b" -> a, b).
  std::string function;
  std::vector<std::string> arguments;
  /// Reference: "1".."n" and "0" read a slot of the innermost user-function call (the number
  /// here, -1 otherwise), "_0".."_9" a sub-match of the current match (the digit here, -1
  /// otherwise); any other name is a named setting.
  long argumentSlot = -1;
  int subMatch = -1;
  /// Reference to a named setting: the store index the name found last, -1 before the first
  /// lookup. Checked against the store's name before use, so a stale hint costs one comparison.
  mutable int settingHint = -1;
};

/// A text of the expansion language in compiled form. Only the first "$" that begins no
/// well-formed reference matters: it and everything after it are one literal run.
class Program {
 public:
  /// Parses `text`. Never fails: what is not a reference is literal text.
  static Program Compile(std::string_view text);

  const std::string& source() const { return source_; }
  const std::vector<ProgramStep>& steps() const { return steps_; }

  /// The steps as one short line for tests: literal runs in quotes, references as "$name;",
  /// calls as "$name(a,b)" with the split arguments; steps separated by blanks.
  std::string Serialize() const;

 private:
  std::string source_;
  std::vector<ProgramStep> steps_;
};

/// How a reference resolves `name`: "1".."n" and "0" set `argumentSlot` to the number (a slot of
/// the innermost user-function call), "_0".."_9" set `subMatch` to the digit; both stay -1 for a
/// named setting. A name with leading digits reads the slot of those digits ("2x" is slot 2).
void ClassifyName(std::string_view name, long& argumentSlot, int& subMatch);

/// Splits a call text ("Name(a,b" or "Name(a,b)") into the function name and argument names:
/// runs of [A-Za-z0-9_], anything else separating them.
void SplitCall(std::string_view call, std::string& function, std::vector<std::string>& arguments);

/// Compiled programs by their text, shared by every expansion of an engine's conversions. The same
/// text always compiles to the same program, so an entry never goes stale; the cache only bounds
/// how much it keeps.
class ProgramCache {
 public:
  /// Most programs kept, and most source bytes kept in all. A translation file has a few hundred
  /// texts; texts beyond the bounds (made from document text by a translation file that expands
  /// it) are compiled for their one use and not kept, so memory stays bounded whatever the input.
  static constexpr std::size_t kMaxPrograms = 8192;
  static constexpr std::size_t kMaxBytes = 4u << 20;

  /// The program of `text`, compiled at its first use. The result stays valid as long as the
  /// caller holds it, also when the cache is emptied meanwhile.
  std::shared_ptr<const Program> Get(std::string_view text);
  std::size_t size() const { return programs_.size(); }
  /// Source bytes kept.
  std::size_t bytes() const { return bytes_; }
  void Clear() {
    programs_.clear();
    recent_.fill(nullptr);
    bytes_ = 0;
  }

 private:
  /// Slots of the programs found last, by where their text lay in memory: a text expanded again
  /// from the same place (a setting's value, a tag text) is most often the same text, which the
  /// slot confirms by comparing it with the program's source instead of hashing it. Only programs
  /// the cache keeps are put in a slot.
  static constexpr std::size_t kRecentSlots = 64;
  std::shared_ptr<const Program>& RecentSlot(std::string_view text);

  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept {
      return std::hash<std::string_view>()(key);
    }
  };
  std::unordered_map<std::string, std::shared_ptr<const Program>, Hash, std::equal_to<>> programs_;
  std::array<std::shared_ptr<const Program>, kRecentSlots> recent_;
  std::size_t bytes_ = 0;
};

}  // namespace quillo::expand
