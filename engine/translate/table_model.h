// Tables: the row and cell records of pass 1, their analysis between the passes, and the table
// markup written in pass 2.
#pragma once

namespace quillo {
struct Engine;

namespace translate {

struct TableModel {};

}  // namespace translate
}  // namespace quillo
