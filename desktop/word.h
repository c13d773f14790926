// Word-processor documents (.doc, .docx, .odt) turned into RTF by LibreOffice running headless,
// each job with a private profile and a time limit.
#pragma once

#include <atomic>
#include <string>

namespace quillo::desktop {

/// The RTF beside a Word document: its name with the last extension replaced ("a.b.doc" gives
/// "a.b.rtf"; a name without extension gets ".rtf" added).
std::string WordTargetName(const std::string& source);
/// True when `target` exists and is newer than `source`, so it can be used as it is.
bool TargetIsFresh(const std::string& source, const std::string& target);
/// The LibreOffice program found on PATH ("soffice" or "libreoffice"), "" when none.
std::string FindLibreOffice();

struct WordResult {
  std::string rtfPath;  ///< the RTF written, "" on failure
  std::string message;  ///< why it failed
};

/// Converts `source` to WordTargetName(source) with LibreOffice; gives up after `timeoutSeconds`
/// or as soon as `*cancel` turns true (the job's processes are killed). The private profile
/// folder is removed afterwards.
WordResult ConvertWordToRtf(const std::string& source, int timeoutSeconds,
                            const std::atomic<bool>* cancel = nullptr);

/// Text of the message shown when LibreOffice is not installed.
extern const char* const kLibreOfficeMissing;

}  // namespace quillo::desktop
