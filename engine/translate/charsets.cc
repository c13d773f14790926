// Code pages and character sets of the text: the converters of double-byte code pages, the
// character set of a Windows code page, and the choice of the character set of a font.
#include "translate/charsets.h"

#include <iconv.h>

#include <cstring>
#include <mutex>
#include <string>

#include "engine.h"
#include "rtf/charmaps.h"
#include "rtf/tables.h"
#include "translate/translate.h"

namespace quillo::translate {

namespace {

const char* IconvName(int codePage) {
  switch (codePage) {
    case 932:
      return "CP932";
    case 936:
      return "CP936";
    case 949:
      return "CP949";
    case 950:
      return "CP950";
    default:
      return nullptr;
  }
}

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

}  // namespace

std::mutex& IconvLock() {
  static std::mutex lock;
  return lock;
}

CodePageConverter::CodePageConverter(int codePage) : codePage_(codePage), handle_(kNoConverter) {
  if (const char* name = IconvName(codePage)) {
    const std::lock_guard<std::mutex> hold(IconvLock());
    handle_ = iconv_open("UTF-32LE", name);
  }
}

CodePageConverter::~CodePageConverter() {
  if (handle_ != kNoConverter) {
    const std::lock_guard<std::mutex> hold(IconvLock());
    iconv_close(static_cast<iconv_t>(handle_));
  }
}

CodePageConverter::CodePageConverter(CodePageConverter&& other) noexcept
    : codePage_(other.codePage_), handle_(other.handle_) {
  other.handle_ = kNoConverter;
}

CodePageConverter& CodePageConverter::operator=(CodePageConverter&& other) noexcept {
  if (this != &other) {
    if (handle_ != kNoConverter) {
      const std::lock_guard<std::mutex> hold(IconvLock());
      iconv_close(static_cast<iconv_t>(handle_));
    }
    codePage_ = other.codePage_;
    handle_ = other.handle_;
    other.handle_ = kNoConverter;
  }
  return *this;
}

int CodePageConverter::Decode(const unsigned char* bytes, std::size_t length) {
  if (handle_ == kNoConverter || length == 0 || length > 4) return -1;
  iconv_t cd = static_cast<iconv_t>(handle_);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
  char in[4];
  std::memcpy(in, bytes, length);
  unsigned char out[8];
  char* inPtr = in;
  char* outPtr = reinterpret_cast<char*>(out);
  std::size_t inLeft = length, outLeft = sizeof out;
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
      inLeft != 0 || sizeof out - outLeft != 4)
    return -1;
  return static_cast<int>(out[0] | (out[1] << 8) | (out[2] << 16) | (out[3] << 24));
}

/// Charset number of a Windows code page given by \ansicpg, -1 for code pages without a map.
int CharsetOfCodePage(int codePage) {
  switch (codePage) {
    case 1252:
      return 0;
    case 1250:
      return 238;
    case 1251:
      return 204;
    case 1253:
      return 161;
    case 1254:
      return 162;
    case 1255:
      return 177;
    case 1256:
      return 178;
    case 1257:
      return 186;
    case 1258:
      return 163;
    case 874:
      return 222;
    case 437:
      return 2;  // the \pc map
    case 850:
      return 3;  // the \pca map
    case 10000:
      return 77;  // Mac Roman
    case 932:
    case 10001:  // Mac Japanese: Shift-JIS with a few Mac additions
      return 128;
    case 936:
      return 134;
    case 949:
    case 10003:  // Mac Korean
      return 129;
    case 950:
    case 10002:  // Mac Traditional Chinese (Big5)
      return 136;
    default:
      return -1;
  }
}

/// The Windows code page of a font charset, 0 when it stands for none: the inverse of
/// CharsetOfCodePage over the Windows code pages.
int WindowsCodePage(int charset) {
  for (int codePage :
       {1252, 1250, 1251, 1253, 1254, 1255, 1256, 1257, 1258, 874, 932, 936, 949, 950})
    if (CharsetOfCodePage(codePage) == charset) return codePage;
  return 0;
}

/// Double-byte code page of a font charset, 0 for single-byte charsets.
int DoubleByteCodePage(int charset) {
  switch (charset) {
    case 128:
    case 78:  // Mac Japanese
      return 932;
    case 129:
    case 79:  // Mac Korean
      return 949;
    case 134:
    case 80:  // Mac Simplified Chinese
      return 936;
    case 136:
    case 81:  // Mac Traditional Chinese
      return 950;
    default:
      return 0;
  }
}

bool IsLeadByte(int codePage, int byte) {
  if (codePage == 932) return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
  return byte >= 0x81 && byte <= 0xFE;
}

CodePageConverter& ConverterFor(Engine& engine, int codePage) {
  for (CodePageConverter& converter : engine.translate.converters)
    if (converter.codePage() == codePage) return converter;
  return engine.translate.converters.emplace_back(codePage);
}

/// Makes the character set of font `font` current: the font's own charset when it names one
/// (\fcharset other than 0 and 1), else the document's (\ansicpg, or \ansi, \mac, \pc, \pca).
void SelectFontCharset(Engine& engine, int font) {
  TranslateState& t = engine.translate;
  const rtf::FontEntry* entry = rtf::FindFont(engine, font);
  int charset = entry ? entry->charset : 0;
  int codePage = DoubleByteCodePage(charset);
  // Fonts of charset 0 (ANSI) and 1 (default) take the document's code page: writers that declare
  // \ansicpg1251 and the like often leave their fonts at \fcharset0.
  if (charset == 0 || charset == 1) {
    charset = t.docCharset;
    codePage = t.docCodePage;
  }
  rtf::SelectCharset(engine, charset, font);
  t.cur.codePage = codePage;
}
}  // namespace quillo::translate
