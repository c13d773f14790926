// Pictures: picture groups read into image files beside the output and referenced at their place.
#pragma once

namespace quillo {
struct Engine;

namespace translate {

struct PictureState {};

}  // namespace translate
}  // namespace quillo
