// The log file: an HTML page listing the files each conversion read and wrote.
#pragma once

namespace quillo {
struct Engine;

struct LogState {};

}  // namespace quillo
