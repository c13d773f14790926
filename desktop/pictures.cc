// BMP and WMF to PNG or JPEG through Magick++.
#include "pictures.h"

#include <Magick++.h>
#include <unistd.h>

#include <mutex>

#include "text_util.h"

namespace quillo::desktop {

bool NeedsPictureConversion(const std::string& path) {
  std::string ext = Lower(Extension(path));
  return ext == "bmp" || ext == "wmf";
}

PictureResult ConvertPicture(const std::string& path, const std::string& imageExt) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { Magick::InitializeMagick(nullptr); });
  std::string ext = Lower(imageExt);
  const char* format = ext == "png" ? "PNG" : (ext == "jpg" || ext == "jpeg") ? "JPEG" : nullptr;
  if (!format) return {"", "Pictures can be converted to png or jpg only, not " + imageExt};
  std::string target = StripExtension(path) + "." + imageExt;
  try {
    Magick::Image image;
    // Metafiles carry no pixel size of their own; 96 dots per inch matches the screen.
    image.density(Magick::Geometry(96, 96));
    image.read(path);
    image.magick(format);
    if (std::string(format) == "JPEG") {
      image.backgroundColor(Magick::Color("white"));
      image.matte(false);
    }
    image.write(target);
  } catch (const Magick::Error& error) {
    return {"", "Unknown problem converting " + path + ": " + error.what()};
  } catch (const std::exception& error) {
    return {"", "Unknown problem converting " + path + ": " + error.what()};
  }
  if (!FileExists(target)) return {"", "Unknown problem converting " + path};
  unlink(path.c_str());
  return {target, ""};
}

}  // namespace quillo::desktop
