// Pictures: picture groups read into image files beside the output and referenced at their place.
// Pass 1 decodes each \pict group's data, writes it to a file of its native format (with the
// header that format needs and RTF leaves out), finds duplicates and records the picture; pass 2
// skips the data and writes the reference through the translation file's named strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "translate/pictures_state.h"

namespace quillo {
struct Engine;
struct FileEntry;

namespace translate {

/// \pict begins: the picture values start afresh.
void PictureStart(Engine& engine);
/// A picture word (major 13).
void PictureWord(Engine& engine);
/// Text inside a \pict group: the picture data begins (or, for a group without a known kind, the
/// group is passed over).
void PictureText(Engine& engine);
/// INCLUDEPICTURE: a linked picture of file `name` (both passes).
void LinkedPicture(Engine& engine, std::string_view name);
/// The field that linked a picture ends. Returns true when a picture of the document's own took
/// the link's place, so that the link's reference is not written as well.
bool LinkedPictureEnd(Engine& engine);
/// The picture variables (Picfilename ... PicChecksum) of the current record.
bool PictureValue(Engine& engine, int builtinIndex, std::string& out);
/// Forgets the records and the image counter (`newConversion`) or only restarts the index.
void ResetPictures(Engine& engine, bool newConversion);

/// Reads the picture data of the current \pict group (pass 1): hexadecimal text, whose first
/// digit is the current token, or, when the current token is \bin, the binary bytes. Returns with
/// the group's closing brace as the current token; data cut short by the end of the input
/// reports MSG_PREMATURE_EOF and returns false. Each byte goes into `collect` when it is given,
/// else into `file` when that is given, and always into the checksum, digest and length of
/// `record`.
bool ReadPictureData(Engine& engine, PictureRec& record, FileEntry* file,
                     std::vector<unsigned char>* collect);

}  // namespace translate
}  // namespace quillo
