// Pictures: the picture words, the data reader, the image files of pass 1 (with the headers
// that Mac PICT, Windows metafile and bitmap data need to open as files), duplicates, output
// sizes, and the references of pass 2.
#include "translate/pictures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "engine.h"
#include "expand/expand.h"
#include "rtf/control_words.h"
#include "rtf/reader.h"
#include "translate/tags.h"
#include "translate/translate.h"

namespace quillo::translate {

namespace {

/// Image numbers have at most this many digits: ten to the power of the digit count must fit
/// an int, and no document holds a billion pictures.
constexpr int kMaxFileDigits = 9;
/// Picture data is written in blocks of this size.
constexpr std::size_t kBlock = 4096;
/// Bitmap files: file header and information header.
constexpr int kBitmapHeaderSize = 54;

bool IsPictureWord(const rtf::RtfToken& token, int minor) {
  return token.tokClass == rtf::kClassControl && token.major == rtf::kMajorPictAttr &&
         token.minor == minor;
}

/// The picture group is passed over: its remaining tokens are skipped and its state popped.
void SkipPicture(Engine& engine) {
  engine.translate.pictureInProgress = false;
  rtf::SkipGroup(engine);
  PopGroupState(engine);
}

void PutLE16(std::string& out, int value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void PutLE32(std::string& out, long value) {
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

long ReadLE32(const std::vector<unsigned char>& data, std::size_t at) {
  if (at + 4 > data.size()) return 0;
  return static_cast<long>(
      static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
      static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24);
}

int ReadLE16(const std::vector<unsigned char>& data, std::size_t at) {
  if (at + 2 > data.size()) return 0;
  return data[at] | data[at + 1] << 8;
}

/// The extension that the first bytes of picture data show ("png", "jpg", "gif"), or null.
const char* SniffedExtension(const std::vector<unsigned char>& data) {
  auto starts = [&](std::string_view magic) {
    return data.size() >= magic.size() && std::memcmp(data.data(), magic.data(), magic.size()) == 0;
  };
  if (starts("\x89PNG\r\n\x1a\n")) return "png";
  if (starts("\xff\xd8\xff")) return "jpg";
  if (starts("GIF87a") || starts("GIF89a")) return "gif";
  return nullptr;
}

void Write(FileEntry* file, const std::string& bytes) {
  if (file && !bytes.empty()) FileWrite(file, bytes.data(), 1, bytes.size());
}

void Write(FileEntry* file, const unsigned char* bytes, std::size_t size) {
  if (file && size) FileWrite(file, bytes, 1, size);
}

/// The 22-byte placeable header that makes metafile data a .wmf file.
std::string PlaceableHeader(int width, int height) {
  const int words[10] = {0xCDD7,         0x9AC6,          0,  0xFFFC, 0xFFFC,
                         width & 0xFFFF, height & 0xFFFF, 96, 0,      0};
  std::string out;
  int checksum = 0;
  for (int word : words) {
    PutLE16(out, word);
    checksum ^= word;
  }
  PutLE16(out, checksum);
  return out;
}

/// Bitmap file and information headers for `width` x `height` pixels of `bits` bits.
std::string BitmapHeader(int width, int height, int bits, long paletteBytes, long imageSize) {
  std::string out = "BM";
  PutLE32(out, kBitmapHeaderSize + paletteBytes + imageSize);
  PutLE32(out, 0);
  PutLE32(out, kBitmapHeaderSize + paletteBytes);
  PutLE32(out, 40);
  PutLE32(out, width);
  PutLE32(out, height);
  PutLE16(out, 1);
  PutLE16(out, bits);
  PutLE32(out, 0);
  PutLE32(out, imageSize);
  PutLE32(out, 2835);
  PutLE32(out, 2835);
  PutLE32(out, 0);
  PutLE32(out, 0);
  return out;
}

/// The palette of a device-dependent bitmap of `bits` bits per pixel: black and white for one
/// bit, else the library's palette file "ct<bits>.ct" (4-byte entries, blue green red 0).
std::string Palette(Engine& engine, int bits) {
  if (bits > 8) return std::string();  // direct colours need no palette
  const std::size_t size = 4u << bits;
  if (bits == 1) return std::string("\0\0\0\0\xff\xff\xff\0", 8);
  std::string palette(size, '\0');
  char name[32];
  std::snprintf(name, sizeof name, "ct%d.ct", bits);
  FileEntry* file = OpenLibraryFile(engine, name, "rb");
  if (!file) {
    ReportMessage(engine, "ERR_FILE_OPEN_FAILED", {name});
    return palette;
  }
  for (std::size_t at = 0; at < size;) {
    const std::size_t want = size - at < 256 ? size - at : 256;
    const std::size_t got = FileRead(file, &palette[at], 1, want);
    if (got == 0) break;
    at += got;
  }
  FileClose(file);
  return palette;
}

/// How the rows of a device-dependent bitmap (\wbitmap) are laid out. Every figure comes from
/// the document's picture words, so each is held to its meaningful range and computed in 64 bits
/// before any arithmetic depends on it: a negative or huge \picw, \pich, \wbmwidthbytes or
/// \wbmbitspixel can neither overflow nor size a buffer beyond the picture's data.
struct BitmapLayout {
  int bits = 1;           ///< bits per pixel: 1, 2, 4, 8, 16, 24 or 32
  int width = 0;          ///< pixels per row, as the file header states it
  int64_t rowLength = 0;  ///< bytes of data per row
  int64_t rows = 0;       ///< rows written to the file
};

/// The bit depth a bitmap of `bits` bits per pixel is written with: the next valid depth (none
/// or a negative count is 1; above 32 is 32).
int ValidBitsPerPixel(int bits) {
  constexpr int kValid[] = {1, 2, 4, 8, 16, 24, 32};
  for (int valid : kValid)
    if (bits <= valid) return valid;
  return 32;
}

/// The layout the picture words declare, its rows held to what `remaining` bytes of input could
/// hold (a bogus height cannot make a huge file).
BitmapLayout DeclaredLayout(const PictureValues& v, int64_t remaining) {
  BitmapLayout layout;
  layout.bits = ValidBitsPerPixel(v.bitsPerPixel);
  layout.width = v.width < 0 ? 0 : v.width;
  layout.rowLength = v.bytesPerLine > 0
                         ? v.bytesPerLine
                         : ((static_cast<int64_t>(layout.width) * layout.bits + 15) / 16) * 2;
  layout.rows = v.height < 0 ? -static_cast<int64_t>(v.height) : v.height;
  if (remaining < 0) remaining = 0;
  if (layout.rowLength > 0 && layout.rows > remaining / layout.rowLength)
    layout.rows = remaining / layout.rowLength;
  return layout;
}

/// Holds a layout to the `dataSize` bytes the picture really has: a row is never longer than all
/// of its data (a row of a width that no data fills is cut to the data, and the header's width
/// follows), so the row buffer and the file stay within the data's size.
void FitToData(BitmapLayout& layout, int64_t dataSize, int64_t remaining) {
  const int64_t most = dataSize > 0 ? dataSize : 1;
  if (layout.rowLength <= 0 || layout.rowLength > most) {
    layout.rowLength = most;
    const int64_t width = most * 8 / layout.bits;
    layout.width = static_cast<int>(std::min<int64_t>(width, INT32_MAX));
  }
  const int64_t limit = std::max<int64_t>(remaining, dataSize) / layout.rowLength;
  if (layout.rows > limit) layout.rows = limit;
}

/// Writes a device-dependent bitmap (\wbitmap): header, palette and the rows of `data`, last row
/// first, each padded to a multiple of 4 bytes.
void WriteBitmap(Engine& engine, FileEntry* file, const BitmapLayout& layout,
                 const std::vector<unsigned char>& data) {
  const std::string palette = Palette(engine, layout.bits);
  const int64_t rowLength = layout.rowLength;
  const int64_t padded = (rowLength + 3) & ~int64_t{3};
  Write(file,
        BitmapHeader(layout.width, static_cast<int>(layout.rows), layout.bits,
                     static_cast<long>(palette.size()), static_cast<long>(padded * layout.rows)));
  Write(file, palette);
  std::vector<unsigned char> row(static_cast<std::size_t>(padded), 0);
  for (int64_t r = layout.rows - 1; r >= 0; --r) {
    std::fill(row.begin(), row.end(), 0);
    const uint64_t start = static_cast<uint64_t>(r) * static_cast<uint64_t>(rowLength);
    if (start < data.size()) {
      const uint64_t count =
          std::min<uint64_t>(static_cast<uint64_t>(rowLength), data.size() - start);
      std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(start), count, row.begin());
    }
    Write(file, row.data(), row.size());
  }
}

/// Writes a device-independent bitmap (\dibitmap): its data carries the information header and
/// the colour table, so only the file header goes before it.
void WriteDib(FileEntry* file, const std::vector<unsigned char>& data) {
  const long headerSize = ReadLE32(data, 0);
  const int bits = ReadLE16(data, 14);
  const long compression = ReadLE32(data, 16);
  long colors = ReadLE32(data, 32);
  if (colors <= 0 && bits > 0 && bits <= 8) colors = 1L << bits;
  if (colors < 0 || colors > 256) colors = 0;
  long offset = 14 + headerSize + colors * 4;
  if (compression == 3 && headerSize == 40) offset += 12;  // the three colour masks
  const long fileSize = 14 + static_cast<long>(data.size());
  if (offset > fileSize) offset = fileSize;
  std::string header = "BM";
  PutLE32(header, fileSize);
  PutLE32(header, 0);
  PutLE32(header, offset);
  Write(file, header);
  Write(file, data.data(), data.size());
}

double SizeFactor(const Engine& engine, int kind, bool goal) {
  const SettingMirrors& m = engine.settings.mirrors;
  switch (kind) {
    case kPictMac:
      return goal ? m.macAdjust : m.macNgAdjust;
    case kPictBitmap:
      return goal ? m.bmpAdjust : m.bmpNgAdjust;
    default:
      return goal ? m.wmfAdjust : m.wmfNgAdjust;
  }
}

/// A pixel size truncated to an int: sizes the document declares may be anything, and a double
/// outside the int range (or not a number) must not be converted as it is.
int PixelSize(double value) {
  if (std::isnan(value)) return 0;
  value = std::clamp(value, static_cast<double>(INT32_MIN), static_cast<double>(INT32_MAX));
  return static_cast<int>(value);
}

void OutputSize(const Engine& engine, const PictureValues& v, PictureRec& rec) {
  const bool goal = v.goalHeight != 0;
  const double factor = SizeFactor(engine, v.kind, goal);
  const double w = goal ? v.goalWidth : v.width;
  const double h = goal ? v.goalHeight : v.height;
  rec.outWidth = PixelSize(v.scaleX * w * factor * 0.000005 + 0.5);
  rec.outHeight = PixelSize(v.scaleY * h * factor * 0.000005 + 0.5);
}

bool SettingIsOne(Engine& engine, const char* name) { return SettingValue(engine, name) == "1"; }

/// Prepares the output for a picture reference at the current place (pass 2) or lets the
/// paragraph and table state follow the picture (pass 1).
void PrepareOutput(Engine& engine) {
  TranslateState& t = engine.translate;
  ReleaseHeldText(engine);
  if (engine.driver.pass != 2) {
    if (t.stateChanged) FormatChange(engine, nullptr, false);
    return;
  }
  OutputContext* context = CurrentOutput(engine);
  if (!context) return;
  if (t.stateChanged || !CurrentChannel(engine).textReady) FormatChange(engine, context, true);
  t.paragraphOpen = true;
}

/// Pass 1, first step: the picture's record (a new one, or the one a linked picture's field
/// made) with its file name, sizes and values. nullptr when the file numbers ran out (the
/// conversion stops).
PictureRec* StartRecord(Engine& engine, bool binary, bool linked) {
  PictureState& p = engine.pictures;
  const PictureValues& v = p.current;
  const rtf::ReaderState& reader = engine.reader;
  if (linked && p.index > 0) {
    --p.index;  // the field's record takes the picture
  } else {
    p.records.resize(static_cast<std::size_t>(p.index));
    p.records.emplace_back();
  }
  p.linkedTaken = p.linkedPending;
  PictureRec* rec = &p.records[static_cast<std::size_t>(p.index)];

  int digits = engine.settings.mirrors.shortFileDigits;
  if (digits < 1) digits = 1;
  if (digits > kMaxFileDigits) digits = kMaxFileDigits;
  long limit = 1;
  for (int i = 0; i < digits; ++i) limit *= 10;
  if (p.imageCounter >= limit) {
    engine.driver.stop = true;
    ReportMessage(engine, "ERR_MAX_FILES", {p.imageCounter - 1, digits});
    return nullptr;
  }
  char number[16];
  std::snprintf(number, sizeof number, "%0*d", digits, p.imageCounter);
  rec->fileName = engine.settings.paths.baseName + number + "." + v.extension;
  rec->refName =
      engine.settings.paths.baseFileName + number + "." + SettingValue(engine, "ImageExt");
  ++p.imageCounter;

  OutputSize(engine, v, *rec);
  rec->goalHeight = v.goalHeight;
  rec->goalWidth = v.goalWidth;
  rec->height = v.height;
  rec->width = v.width;
  rec->scaleX = v.scaleX;
  rec->scaleY = v.scaleY;
  rec->cropTop = v.cropTop;
  rec->cropBottom = v.cropBottom;
  rec->cropRight = v.cropRight;
  rec->cropLeft = v.cropLeft;
  rec->kind = v.kind;
  rec->linked = 0;
  rec->embedded = 1;
  rec->dataStart = rec->dataEnd = reader.charCount;
  rec->binary = binary ? 1 : 0;
  std::memset(rec->checksum, 0, sizeof rec->checksum);
  rec->digest = 0;
  rec->dataLength = 0;
  rec->sameAs = -1;
  rec->written = false;
  return rec;
}

/// Pass 1, second step: reads the picture's data and writes it, with the header its format
/// needs, to `rec`'s file (`write`: pictures are written; otherwise the data is only read).
/// Returns the file, still open; nullptr when nothing was written.
FileEntry* WritePicture(Engine& engine, PictureRec& rec, bool binary, bool write) {
  const PictureValues& v = engine.pictures.current;
  const rtf::ReaderState& reader = engine.reader;
  std::vector<unsigned char> collected;
  if (v.kind == kPictPng || v.kind == kPictJpeg) {
    // The data, not the word before it, says what a PNG or JPEG is: documents call GIFs and
    // JPEGs PNGs (and the other way round), and readers that check files refuse a misnamed one.
    ReadPictureData(engine, rec, nullptr, &collected);
    const char* extension = SniffedExtension(collected);
    if (extension && v.extension != extension) {
      rec.fileName.resize(rec.fileName.size() - v.extension.size());
      rec.fileName += extension;
    }
  }
  FileEntry* file = nullptr;
  if (write) {
    file = FileOpen(engine.files, rec.fileName, "wb");
    if (!file) ReportOpenFailure(engine, rec.fileName);
  }
  if (v.kind == kPictPng || v.kind == kPictJpeg) {
    if (file) Write(file, collected.data(), collected.size());
  } else if (v.kind == kPictBitmap) {
    // The declared size comes from the document: it is held to what the rest of the input can
    // hold, so that a bogus size cannot make a huge file.
    const int64_t remaining = static_cast<int64_t>(reader.inputSize) - reader.charCount + 1;
    BitmapLayout layout = DeclaredLayout(v, remaining);
    const long expected =
        layout.rowLength > 0 ? static_cast<long>(layout.rowLength * layout.rows) : 0;
    if (binary && !v.deviceIndependent && reader.token.param != expected)
      ReportMessage(engine, "ERR_IMG_MISMATCH", {expected, static_cast<long>(reader.token.param)});
    ReadPictureData(engine, rec, nullptr, &collected);
    if (file && v.deviceIndependent) {
      WriteDib(file, collected);
    } else if (file) {
      FitToData(layout, static_cast<int64_t>(collected.size()), remaining);
      WriteBitmap(engine, file, layout, collected);
    }
  } else {
    if (file && v.kind == kPictMac) Write(file, std::string(512, '\0'));
    if (file && v.kind == kPictWmf) Write(file, PlaceableHeader(rec.outWidth, rec.outHeight));
    ReadPictureData(engine, rec, file, nullptr);
  }
  return file;
}

/// Pass 1, third step: the same data met before is referenced through the earlier file, and the
/// file just written (`file`, closed) is removed unless KeepDupPicts keeps it. The 4-byte checksum
/// alone is weak, so the length and a 64-bit digest must match too.
void FindDuplicate(Engine& engine, PictureRec& rec, FileEntry* file) {
  PictureState& p = engine.pictures;
  for (int j = 0; j < p.index; ++j) {
    const PictureRec& earlier = p.records[static_cast<std::size_t>(j)];
    if (earlier.embedded != 1 || earlier.sameAs >= 0 || earlier.kind != rec.kind ||
        std::memcmp(earlier.checksum, rec.checksum, 4) != 0 || earlier.digest != rec.digest ||
        earlier.dataLength != rec.dataLength)
      continue;
    rec.sameAs = j;
    if (engine.settings.mirrors.keepDupPicts != 1) {
      if (file) FileRemove(file);
      rec.written = false;
      --p.imageCounter;
    }
    break;
  }
}

/// Pass 1: the picture's record, file and data.
void ReadPicture(Engine& engine) {
  PictureState& p = engine.pictures;
  const rtf::ReaderState& reader = engine.reader;
  const bool binary = IsPictureWord(reader.token, rtf::pict::kBinData) && reader.binarySkip > 0;
  const bool linked = p.linkedPending && !p.linkedTaken;
  if (!StartRecord(engine, binary, linked)) return;
  StrExp(engine, "$GraphicFound;");
  // The expansion may read records only, but the record is looked up again after each one.
  PictureRec* rec = &p.records[static_cast<std::size_t>(p.index)];
  const bool write = engine.settings.mirrors.noGraphics == 0 &&
                     (!linked || engine.settings.mirrors.preferEmbed == 1);
  FileEntry* file = WritePicture(engine, *rec, binary, write);
  if (file) {
    FileClose(file);
    rec->written = true;
  }
  FindDuplicate(engine, *rec, file);
  if (rec->written) StrExp(engine, "$GraphicWritten;");
  rec = &p.records[static_cast<std::size_t>(p.index)];
  rec->dataEnd = reader.charCount;
}

/// Pass 2: the data is skipped and the reference written.
void ReferencePicture(Engine& engine) {
  PictureState& p = engine.pictures;
  rtf::ReaderState& reader = engine.reader;
  const bool linked = p.linkedPending && !p.linkedTaken;
  if (linked) --p.index;
  p.linkedTaken = p.linkedPending;
  if (p.index < 0 || p.index >= static_cast<int>(p.records.size())) {
    ReportMessage(engine, "ERR_LOGIC_ERROR");
    rtf::SkipGroup(engine);
    return;
  }
  const PictureRec& rec = p.records[static_cast<std::size_t>(p.index)];
  // The data and the group's closing brace are passed over as pass 1 read them.
  reader.binarySkip = 0;
  reader.pushedChar = -1;
  const long position = FileTell(reader.input);
  if (position >= 0) {
    long target = position + (rec.dataEnd - rec.dataStart);
    if (target > reader.inputSize) target = reader.inputSize;
    FileSeek(reader.input, target, 0);
    reader.charCount = FileTell(reader.input);
  }
  OutputContext* context = CurrentOutput(engine);
  if (!context || context->specialState == kTagDiscard) return;
  SetFormatted(engine, "_IMAGE_WIDTH_", "%d", rec.outWidth);
  SetFormatted(engine, "_IMAGE_HEIGHT_", "%d", rec.outHeight);
  const bool inlineImage =
      engine.settings.mirrors.inlineGraphics != 0 || context->specialState == kTagHot;
  const char* reference;
  if (!linked || engine.settings.mirrors.preferEmbed == 1) {
    const PictureRec& shown = rec.sameAs >= 0 && engine.settings.mirrors.keepDupPicts == 0
                                  ? p.records[static_cast<std::size_t>(rec.sameAs)]
                                  : rec;
    SetLiteralSetting(engine, "_IMAGE_FILENAME_", shown.fileName);
    SetLiteralSetting(engine, "_IMAGE_REFNAME_", shown.refName);
    reference = inlineImage ? "$_inline_image_ref_;" : "$_image_ref_;";
  } else {
    reference = inlineImage ? "$LinkedInlineIMG;" : "$LinkedIMG;";
  }
  ExpandInto(engine, *context, reference);
}

/// The whole work of one picture, in both passes; called at its first data token or at \bin.
void PictureHandler(Engine& engine) {
  PictureState& p = engine.pictures;
  PrepareOutput(engine);
  if (engine.driver.pass == 2)
    ReferencePicture(engine);
  else
    ReadPicture(engine);
  if (engine.driver.stop && engine.driver.pass != 2) return;
  PopGroupState(engine);  // the data reader consumed the group's closing brace
  p.linkedPending = false;
  ++p.index;
}

}  // namespace

// ---- Picture words ------------------------------------------------------------------------------

void PictureStart(Engine& engine) { engine.pictures.current = PictureValues(); }

void PictureWord(Engine& engine) {
  TranslateState& t = engine.translate;
  if (t.cur.destination != rtf::dest::kPict) return;
  PictureValues& v = engine.pictures.current;
  const rtf::RtfToken& token = engine.reader.token;
  const int param = token.param == rtf::kNoParam ? 0 : token.param;
  using namespace rtf::pict;
  auto kind = [&](int k, const char* extension, const char* skipSetting) {
    if (skipSetting && SettingIsOne(engine, skipSetting)) {
      SkipPicture(engine);
      return;
    }
    v.kind = k;
    v.extension = extension;
  };
  switch (token.minor) {
    case kMacPict:
      kind(kPictMac, SettingValue(engine, "HtmlExt").size() == 3 ? "pct" : "pict", nullptr);
      break;
    case kPmMetafile:
      kind(kPictPmm, "pmm", "SkipPMM");
      break;
    case kWinMetafile:
      kind(kPictWmf, "wmf", nullptr);
      break;
    case kDevIndBitmap:
    case kWinBitmap:
      kind(kPictBitmap, "bmp", nullptr);
      v.deviceIndependent = token.minor == kDevIndBitmap;
      break;
    case kJpeg:
      kind(kPictJpeg, "jpg", "SkipJPG");
      break;
    case kPng:
      kind(kPictPng, "png", "SkipPNG");
      break;
    case kEmf:
      kind(kPictEmf, "emf", "SkipEMF");
      break;
    case kBitsPerPixel:
      v.bitsPerPixel = param;
      break;
    case kWidthBytes:
      v.bytesPerLine = param;
      break;
    case kPicWidth:
      v.width = param;
      break;
    case kPicHeight:
      v.height = param;
      break;
    case kGoalWidth:
      v.goalWidth = param;
      break;
    case kGoalHeight:
      v.goalHeight = param;
      break;
    case kScaleX:
      v.scaleX = token.param == rtf::kNoParam ? 100 : param;
      break;
    case kScaleY:
      v.scaleY = token.param == rtf::kNoParam ? 100 : param;
      break;
    case kCropTop:
      v.cropTop = param;
      break;
    case kCropBottom:
      v.cropBottom = param;
      break;
    case kCropLeft:
      v.cropLeft = param;
      break;
    case kCropRight:
      v.cropRight = param;
      break;
    case kBinData:
      PictureText(engine);
      break;
    default:
      break;
  }
}

void PictureText(Engine& engine) {
  if (engine.pictures.current.kind == kPictNone) {
    // Data of no kind that could be written: passed over, never shown as text.
    SkipPicture(engine);
    return;
  }
  PictureHandler(engine);
}

// ---- Data ---------------------------------------------------------------------------------------

bool ReadPictureData(Engine& engine, PictureRec& record, FileEntry* file,
                     std::vector<unsigned char>* collect) {
  rtf::ReaderState& reader = engine.reader;
  std::string block;
  long n = record.dataLength;
  uint64_t digest = record.digest == 0 ? 1469598103934665603ULL : record.digest;
  auto put = [&](unsigned char byte) {
    record.checksum[n & 3] ^= byte;
    digest = (digest ^ byte) * 1099511628211ULL;
    ++n;
    if (collect) {
      collect->push_back(byte);
    } else if (file) {
      block.push_back(static_cast<char>(byte));
      if (block.size() >= kBlock) {
        Write(file, block);
        block.clear();
      }
    }
  };
  bool complete = true;
  // A \bin without a count is followed by hexadecimal data, as writers that emit it mean.
  if (IsPictureWord(reader.token, rtf::pict::kBinData) && reader.binarySkip > 0) {
    // Binary data: the bytes are read here, so the reader must not skip them again.
    long count = reader.binarySkip;
    reader.binarySkip = 0;
    unsigned char bytes[kBlock];
    while (count > 0) {
      const std::size_t want =
          count < static_cast<long>(kBlock) ? static_cast<std::size_t>(count) : kBlock;
      const std::size_t got = FileRead(reader.input, bytes, 1, want);
      for (std::size_t i = 0; i < got; ++i) put(bytes[i]);
      count -= static_cast<long>(got);
      if (got < want) {
        complete = false;
        break;
      }
    }
    const long now = FileTell(reader.input);
    if (now >= 0) reader.charCount = now;
    if (complete) {
      // The rest of the group up to its closing brace holds no further data.
      int depth = 0;
      for (;;) {
        rtf::ReadRawToken(engine);
        if (reader.token.tokClass == rtf::kClassEOF) break;
        if (reader.token.tokClass != rtf::kClassGroup) continue;
        if (reader.token.major == 0)
          ++depth;
        else if (--depth < 0)
          break;
      }
    }
  } else {
    // Hexadecimal text: two digits make a byte, high digit first; other characters (line ends,
    // blanks) and control words are not data.
    int high = -1;
    int depth = 0;
    bool first = reader.token.tokClass == rtf::kClassText;
    auto digit = [&](int value) {
      if (high < 0) {
        high = value;
      } else {
        put(static_cast<unsigned char>(high << 4 | value));
        high = -1;
      }
    };
    for (;;) {
      if (!first) {
        rtf::ConsumeRawHexDigits(engine, digit);  // the data up to the next line end, at once
        rtf::ReadRawToken(engine);
      }
      first = false;
      const rtf::RtfToken& token = reader.token;
      if (token.tokClass == rtf::kClassEOF) {
        complete = false;
        break;
      }
      if (token.tokClass == rtf::kClassGroup) {
        if (token.major == 0)
          ++depth;
        else if (--depth < 0)
          break;  // the picture group's closing brace
        continue;
      }
      if (token.tokClass != rtf::kClassText) continue;
      if (const int value = HexDigitValue(token.major); value >= 0) digit(value);
    }
  }
  Write(file && !collect ? file : nullptr, block);
  record.digest = digest;
  record.dataLength = n;
  if (!complete) ReportMessage(engine, "MSG_PREMATURE_EOF");
  return complete;
}

// ---- Linked pictures ----------------------------------------------------------------------------

void LinkedPicture(Engine& engine, std::string_view name) {
  PictureState& p = engine.pictures;
  if (engine.driver.pass != 2) {
    p.records.resize(static_cast<std::size_t>(p.index));
    PictureRec& rec = p.records.emplace_back();
    rec.fileName.assign(name);
    rec.linked = 1;
  }
  ++p.index;
  p.linkedPending = true;
  p.linkedTaken = false;
}

bool LinkedPictureEnd(Engine& engine) {
  PictureState& p = engine.pictures;
  const bool taken = p.linkedTaken;
  p.linkedPending = false;
  p.linkedTaken = false;
  return taken;
}

// ---- Picture variables --------------------------------------------------------------------------

bool PictureValue(Engine& engine, int builtinIndex, std::string& out) {
  if (builtinIndex < kSettingPicfilename || builtinIndex > kSettingPicChecksum) return false;
  PictureState& p = engine.pictures;
  out.clear();
  if (p.index < 0 || p.index >= static_cast<int>(p.records.size())) return true;
  const PictureRec& rec = p.records[static_cast<std::size_t>(p.index)];
  auto number = [&](int value) { out = std::to_string(value); };
  switch (builtinIndex) {
    case kSettingPicfilename:
      out = rec.fileName;
      break;
    case kSettingPicGoalHt:
      number(rec.goalHeight);
      break;
    case kSettingPicGoalWid:
      number(rec.goalWidth);
      break;
    case kSettingPicHt:
      number(rec.height);
      break;
    case kSettingPicWid:
      number(rec.width);
      break;
    case kSettingPicScaleX:
      number(rec.scaleX);
      break;
    case kSettingPicScaleY:
      number(rec.scaleY);
      break;
    case kSettingPictType:
      number(rec.kind);
      break;
    case kSettingPicCropt:
      number(rec.cropTop);
      break;
    case kSettingPicCropb:
      number(rec.cropBottom);
      break;
    case kSettingPicCropr:
      number(rec.cropRight);
      break;
    case kSettingPicCropl:
      number(rec.cropLeft);
      break;
    case kSettingPicEmbedded:
      number(rec.embedded);
      break;
    case kSettingPicwidth:
      number(rec.outWidth);
      break;
    case kSettingPicheight:
      number(rec.outHeight);
      break;
    case kSettingPicChecksum: {
      char hex[12];
      std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x", rec.checksum[0], rec.checksum[1],
                    rec.checksum[2], rec.checksum[3]);
      out = hex;
      break;
    }
    default:
      break;
  }
  return true;
}

void ResetPictures(Engine& engine, bool newConversion) {
  PictureState& p = engine.pictures;
  if (newConversion) {
    p.records.clear();
    p.imageCounter = 0;
  }
  p.current = PictureValues();
  p.index = 0;
  p.linkedPending = false;
  p.linkedTaken = false;
}

}  // namespace quillo::translate
