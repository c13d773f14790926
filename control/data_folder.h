// Where the library files (translation files, maps, the control-word table) of an installation
// are, found from where the running code lives, so that a host needs neither Init nor RTFLIBDIR.
// Depends only on the file system.
#pragma once

#include <string>
#include <vector>

namespace quillo::control {

/// The file every conversion reads from the data folder; a folder holding it is a data folder.
inline constexpr const char* kDataMarker = "rtf-ctrl.txt";

/// True when `directory` holds the control-word table.
bool HoldsData(const std::string& directory);

/// Folders that may hold the data of the installation that `anchor` (an absolute path of a
/// program or shared object) belongs to, most likely first: the anchor's own folder (data
/// beside the programs, as in a build tree), then for each of its next four parent folders P
/// "P/share/quillo" (an installed prefix) and "P/bin" (a build tree seen from build/python).
std::vector<std::string> AnchoredCandidates(const std::string& anchor);

/// Folders named by the environment: "$XDG_DATA_HOME/quillo" (default ~/.local/share) and
/// "D/quillo" for each D of $XDG_DATA_DIRS (default /usr/local/share:/usr/share).
std::vector<std::string> EnvironmentCandidates();

/// The first data folder among: the candidates anchored at the shared object holding this code
/// (when that is not the program), those anchored at the program, the environment's, and the
/// configured install folder. "" when none holds the data.
std::string LocateDataFolder();

}  // namespace quillo::control
