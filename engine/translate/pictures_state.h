// Pictures of the document: the values of the \pict group being read and the record of every
// picture (PictureState, held by the Engine).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillo {
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

}  // namespace translate
}  // namespace quillo
