// Pictures: picture groups read into image files beside the output and referenced at their place.
// Pass 1 decodes each \pict group's data, writes it to a file of its native format (with the
// header that format needs and RTF leaves out), finds duplicates and records the picture; pass 2
// skips the data and writes the reference through the translation file's named strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {
struct Engine;
struct FileEntry;

namespace translate {

/// Picture kinds (the PictType value).
enum PictureKind : int {
  kPictNone = 0,
  kPictMac = 2,
  kPictWmf = 3,
  kPictBitmap = 4,
  kPictEmf = 6,
  kPictJpeg = 7,
  kPictPng = 8,
  kPictPmm = 9,
};

/// Values of the \pict group being read (reset by \pict).
struct PictureValues {
  int kind = kPictNone;
  std::string extension;              ///< native file extension
  bool deviceIndependent = false;     ///< \dibitmap: the data carries its own bitmap header
  int width = 0, height = 0;          ///< \picw, \pich
  int goalWidth = 0, goalHeight = 0;  ///< \picwgoal, \pichgoal (twips)
  int scaleX = 100, scaleY = 100;     ///< percent
  int cropTop = 0, cropBottom = 0, cropLeft = 0, cropRight = 0;
  int bytesPerLine = 0, bitsPerPixel = 0;  ///< bitmaps
};

struct PictureRec {
  std::string fileName;  ///< the image file (output base + number + native extension)
  std::string refName;   ///< link base name + number + ImageExt (for converted copies)
  unsigned char checksum[4] = {0, 0, 0, 0};  ///< each data byte XORed into byte n mod 4
  uint64_t digest = 0;  ///< FNV-1a of the data: confirms a checksum match before a file is shared
  long dataLength = 0;  ///< bytes of picture data
  int goalHeight = 0, goalWidth = 0, height = 0, width = 0, scaleX = 100, scaleY = 100;
  int linked = 0;  ///< made by an INCLUDEPICTURE field
  int cropTop = 0, cropBottom = 0, cropRight = 0, cropLeft = 0;
  int embedded = 0;  ///< the data was in the document
  int kind = kPictNone;
  long dataStart = 0, dataEnd = 0;  ///< input character counts around the data
  int binary = 0;                   ///< the data came as \bin
  int outWidth = 0, outHeight = 0;  ///< output size in pixels
  int sameAs = -1;                  ///< earlier picture with the same data, -1 none
  bool written = false;             ///< the image file was written and kept
};

struct PictureState {
  PictureValues current;
  std::vector<PictureRec> records;  ///< document order; pass 1 makes them, pass 2 reads them
  int index = 0;                    ///< pictures met in this pass
  int imageCounter = 0;             ///< numbers the image files of the conversion
  bool linkedPending = false;       ///< an INCLUDEPICTURE field made a record a \pict may fill
  bool linkedTaken = false;         ///< a \pict filled (or stood for) the pending linked record
};

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
