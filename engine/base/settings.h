// The store of named settings: the 148 built-in names at fixed positions (some computed when
// read), everything set by options, the translation file and the host; the option parser; the
// library-file search; the derivation of output, base and error-file names.
// Depends on the file table and the message reporter; string expansion, the computed names and
// the log are reached through LayerHooks (base/hooks_state.h).
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/buffers.h"
#include "base/settings_state.h"

namespace quillo {
struct Engine;
struct FileEntry;

/// Empties the store (names, values, protected names, mirrors, saved text) and registers the
/// built-in names with their defaults, then the default message texts and actions, then TransCMD
/// and UserConfigDir. A built-in that does not land at its expected index is a fatal text
/// (throws).
void ResetSettings(Engine& engine);
/// The user's configuration folder of Quillo, where the options editor keeps its command-line
/// file: $XDG_CONFIG_HOME/quillo, else $HOME/.config/quillo; "" when neither names an absolute
/// folder. Read from the environment at every reset (the setting UserConfigDir), since
/// translation files cannot read the environment.
std::string UserConfigDirectory();
/// Sets `name` (case-insensitive) to `value`, honouring OverrideDefs protection, and refreshes the
/// mirrors and side effects. Returns the index of the name (also when the name is protected and
/// nothing changed).
int SetSetting(Engine& engine, std::string_view name, std::string_view value);
/// Sets `name` like SetSetting (same protection rule, mirrors and side effects) and marks the value
/// literal: a reference to the name yields the value unexpanded. This is what keeps document text
/// (link targets, bookmark names, field instructions) from running "$Func()" calls it happens to
/// contain. Returns the index of the name (also when protected and nothing changed).
int SetLiteralSetting(Engine& engine, std::string_view name, std::string_view value);
/// True when the value at `index` was stored by SetLiteralSetting and not set since.
bool IsLiteralSetting(const Engine& engine, int index);
/// Sets `name` without consulting or extending the protected list: for variables the engine owns
/// (errCode, errPos, MsgParam1..., CBWhy), which an OverrideDefs period must not freeze. Traced
/// like SetSetting. Returns the index of the name.
int SetUnprotected(Engine& engine, std::string_view name, std::string_view value);
/// Sets a built-in by index without the protection rule (mirrors and side effects still apply);
/// `literal` marks the value literal (before the side effects read it). An index outside the
/// built-ins is ignored.
void SetBuiltin(Engine& engine, int index, std::string_view value, bool literal = false);
/// printf-style SetSetting. There is no length limit on the formatted text.
int SetFormatted(Engine& engine, std::string_view name, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
/// printf-style SetBuiltin.
void SetIndexFormatted(Engine& engine, int index, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
/// Index of `name`, or -1 when it is not in the store.
int FindSetting(const Engine& engine, std::string_view name);
/// Value of `name`: a computed built-in is computed now (and stored back). Returns nullptr when the
/// name is not defined (the expansion language then applies its NotDef rule). The pointer is valid
/// until the next setting is added to the store.
const std::string* GetSetting(Engine& engine, std::string_view name);
/// Value of the setting at `index` (a valid index of the store), computed now when it is a
/// computed built-in: GetSetting without the name lookup. Valid as GetSetting's result.
const std::string& GetSettingAt(Engine& engine, int index);
/// Value of `name`, "" when undefined (no NotDef rule).
std::string SettingValue(Engine& engine, std::string_view name);
/// True for the built-ins whose value is computed when read (what is stored is ignored).
bool IsComputedSetting(int index);

/// Parses option words argv[1..] up to the input name (the first word that does not begin with
/// '-', or "-" alone, standard input). Returns the index of the input entry, argc when there is
/// none, -1 for an option error (reported), 0 after -V (reported). Options are
/// matched with case. The caller sets OverrideDefs around the call.
int ParseOptions(Engine& engine, int argc, char** argv);
/// True when `word` is an option spelled without its parameter ("-D", "-o"...), which then
/// follows as the next word.
bool OptionTakesNextWord(std::string_view word);
/// Opens a library file (translation file, map, control-word table): an absolute name as given;
/// otherwise the first of library-directory override, input directory, $RTFLIBDIR, program
/// directory, ./LIBDIR and the installed data folders (InstalledDataFolders) that opens. nullptr
/// when none opens.
FileEntry* OpenLibraryFile(Engine& engine, std::string_view name, const char* mode);
/// The paths OpenLibraryFile tries for `name`, in its order (just `name` when it is absolute).
std::vector<std::string> LibraryFileCandidates(const Engine& engine, std::string_view name);
/// Derives base name, HtmlExt, error-file name and print sink from OutFileName. Does nothing while
/// OutFileName is empty. An OutFileName of "-" (file conversions only) sends the main page to
/// standard output: the base name is then the input's (DefaultOutputBase of InputFile), and the
/// error file is the one ErrorFileName names, none (standard error) when it is empty.
void ApplyOutputName(Engine& engine);
/// The output base name a conversion uses when no output name is given: the input's name without
/// a final ".rtf" or ".RTF" (when longer than that), at most 256 characters.
std::string DefaultOutputBase(std::string_view inputName);

}  // namespace quillo
