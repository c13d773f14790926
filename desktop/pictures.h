// Pictures the engine wrote as BMP or WMF, turned into PNG or JPEG with Magick++ so that
// browsers can show them.
#pragma once

#include <string>

namespace quillo::desktop {

/// True for "bmp" and "wmf" (any case): the formats browsers cannot show.
bool NeedsPictureConversion(const std::string& path);

struct PictureResult {
  std::string converted;  ///< path of the new picture, "" on failure
  std::string message;    ///< why it failed
};

/// Converts `path` into the same folder and base name with extension `imageExt` ("png" or
/// "jpg"/"jpeg"), then deletes `path`. Other extensions are refused (nothing is written).
PictureResult ConvertPicture(const std::string& path, const std::string& imageExt);

}  // namespace quillo::desktop
