// Code pages and character sets of the text: the character set of a Windows code page (\ansicpg),
// the double-byte code page of a font charset, its lead bytes and converters, and the choice of
// the character set of a font.
#pragma once

#include <mutex>

namespace quillo {
struct Engine;

namespace translate {
class CodePageConverter;

/// Held around iconv_open and iconv_close: glibc loads and unloads its converter modules there
/// under a lock of its own that the thread checker cannot see, and engines on other threads
/// open and close converters too.
std::mutex& IconvLock();
/// Charset number of a Windows code page given by \ansicpg, -1 for code pages without a map.
int CharsetOfCodePage(int codePage);
/// The Windows code page of a font charset, 0 when it stands for none.
int WindowsCodePage(int charset);
/// Double-byte code page of a font charset, 0 for single-byte charsets.
int DoubleByteCodePage(int charset);
/// True when `byte` begins a two-byte character in double-byte code page `codePage`.
bool IsLeadByte(int codePage, int byte);
/// The converter of double-byte code page `codePage`, made when first asked for.
CodePageConverter& ConverterFor(Engine& engine, int codePage);
/// Makes the character set of font `font` current: the font's own charset when it names one
/// (\fcharset other than 0 and 1), else the document's (\ansicpg, or \ansi, \mac, \pc, \pca).
void SelectFontCharset(Engine& engine, int font);

}  // namespace translate
}  // namespace quillo
