// The produced-files page "<base>_Log.htm": an ordered list of every file a conversion wrote,
// with WMF pictures replaced by their converted form.
#pragma once

#include <string>
#include <vector>

namespace quillo::desktop {

/// The names to list: `names` in order, each ".wmf" name replaced by the same folder and base
/// name with `imageExt` when that file exists.
std::vector<std::string> ProducedFileNames(const std::vector<std::string>& names,
                                           const std::string& imageExt);
/// The page's HTML. Links are relative to `pageFolder` when a file lies inside it.
std::string FormatProducedFilesPage(const std::string& title, const std::vector<std::string>& names,
                                    const std::string& pageFolder);
/// "<folder of output>/<base of output>_Log.htm".
std::string ProducedFilesPageName(const std::string& outputName);

}  // namespace quillo::desktop
