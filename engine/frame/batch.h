// Batch conversion (-b): a file of conversions run one after another, and external scripts.
#pragma once

namespace quillo {
struct Engine;

struct BatchState {};

}  // namespace quillo
