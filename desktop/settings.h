// The desktop application's per-user settings: the keys of quillo.ini, section [Settings], their
// defaults, and a tolerant reader and an atomic writer. Nothing here touches the engine.
#pragma once

#include <array>
#include <map>
#include <string>

namespace quillo::desktop {

/// Where the per-user files live: $XDG_CONFIG_HOME/quillo (or ~/.config/quillo) and
/// $XDG_DATA_HOME/quillo (or ~/.local/share/quillo). Never empty: without HOME they fall back
/// to the current folder.
std::string ConfigDirectory();
std::string DataDirectory();
std::string HomeDirectory();

struct DesktopSettings {
  // Main window placement, in twips (1/15 of a CSS pixel at 96 dpi); the page also keeps the
  // arrangement of its panes in `paneLayout`.
  int mainLeft = 1000;
  int mainTop = 1000;
  int mainWidth = 11000;
  int mainHeight = 8000;
  std::string paneLayout = "cascade";

  bool showHTMLAfterTranslation = true;
  bool showErrorAfterTranslation = true;
  bool showLogAfterTranslation = true;
  bool useWordForRTF = false;
  bool autoConvertDD = true;
  bool displayRTF = true;
  bool useFSThreshold = true;
  int FSThreshold = 100;  ///< thousands of bytes
  bool showTips = true;
  bool showSample = false;
  std::string openPath;  ///< default: the home folder
  int patternListIndex = 0;
  std::string cmdlineFName;        ///< default: ConfigDirectory() + "/cmd.trn"
  std::string installDir;          ///< written only: the program folder
  std::array<std::string, 4> mru;  ///< most recent first; "" = empty slot

  /// Keys this version does not know, kept so that a newer version's settings survive.
  std::map<std::string, std::string> unknown;

  /// Settings with every default filled in (home folder, per-user cmd.trn).
  static DesktopSettings Defaults();
};

/// Reads `path`. A missing file gives the defaults; a line that cannot be read (no "=", a number
/// that is not a number, a key outside [Settings]) is skipped.
DesktopSettings ReadSettings(const std::string& path);
/// Parses INI text as ReadSettings does.
DesktopSettings ParseSettings(const std::string& text);
/// The INI text of `settings`.
std::string FormatSettings(const DesktopSettings& settings);
/// Writes `settings` to `path` through a temporary file and a rename, creating the folder.
/// Returns "" or a message saying what failed.
std::string WriteSettings(const std::string& path, const DesktopSettings& settings);

/// Puts `path` at the top of the most-recently-used list (no duplicates, four entries).
void AddRecentFile(DesktopSettings& settings, const std::string& path);
/// Removes `path` from the list, closing the gap.
void RemoveRecentFile(DesktopSettings& settings, const std::string& path);

/// Writes `text` to `path` through a temporary file in the same folder and a rename, creating
/// the folder when needed. Returns "" or a message.
std::string WriteFileAtomically(const std::string& path, const std::string& text);

}  // namespace quillo::desktop
