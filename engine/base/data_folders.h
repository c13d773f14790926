// Where an installed Quillo finds its library files (translation files, maps, the control-word
// table) without RTFLIBDIR: beside the running program or the library, then the XDG data folders.
// Used by the library-file search and by front ends that show the data folder in use.
#pragma once

#include <string>
#include <vector>

namespace quillo {
struct Engine;

/// Name of the data folder under a prefix's "share" folder.
inline constexpr char kDataFolderName[] = "quillo";

/// The folders an installed copy keeps its data in, in search order, without duplicates:
///   1. <folder of the running program>/../share/quillo
///   2. <folder of the file holding the engine (libquillo.so, or the program)>/../share/quillo
///   3. quillo/ under each absolute folder of $XDG_DATA_DIRS (default /usr/local/share:/usr/share)
///   4. the data folder of the configured install prefix (a build-time path, last resort)
/// Folders are listed whether or not they exist; "/.." steps are resolved textually.
std::vector<std::string> InstalledDataFolders();

/// The folder library files come from when none sits beside the input (or the batch file): the
/// first of $RTFLIBDIR, the program directory, ./LIBDIR and InstalledDataFolders() that holds the
/// control-word table "rtf-ctrl.txt". "" when none does.
std::string DataFolderInUse(const Engine& engine);

/// Absolute path of the running program (from /proc/self/exe); "" when it cannot be read.
std::string RunningProgramPath();

}  // namespace quillo
