// imgdemo: converts the pictures Quillo extracts from RTF documents (Windows metafiles, enhanced
// metafiles and bitmaps) into PNG or JPEG files that every browser shows. A worked example of
// Magick++ (ImageMagick's C++ interface) and libemf2svg, and a handy tool on its own:
//
//   imgdemo -png pictures/*.wmf       writes pictures/NAME.png beside each picture
//   imgdemo -s -jpg 'report??.bmp'    quoted patterns are expanded here, as on a desktop
//
// The PNG/JPEG choice is remembered in $XDG_CONFIG_HOME/quillo/imgdemo.ini, section [Settings].
#include <Magick++.h>
#include <dlfcn.h>
#include <emf2svg.h>
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#ifndef QUILLO_VERSION
#define QUILLO_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: imgdemo [-s] [-png | -jpg] FILE...\n"
    "Converts Windows metafiles (.wmf), enhanced metafiles (.emf) and bitmaps (.bmp) to PNG or\n"
    "JPEG files beside them (same folder and name, extension png or jpg).\n"
    "\n"
    "  -s         silent: print nothing for pictures that convert (errors are still shown)\n"
    "  -png       write PNG files (remembered for later runs)\n"
    "  -jpg       write JPEG files (remembered for later runs)\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "FILE may hold the wildcards * and ?. The choice of format is kept in\n"
    "$XDG_CONFIG_HOME/quillo/imgdemo.ini (default ~/.config/quillo/imgdemo.ini).\n"
    "Exit status: 0 when every picture converted, 1 when one failed, 2 for a usage error.\n";

// Pictures come from untrusted documents. These bounds keep a picture that declares an absurd
// size from taking the machine's memory: no real document picture comes near them.
constexpr std::size_t kMaxInputBytes = 256u << 20;       // 256 MiB of picture data
constexpr Magick::MagickSizeType kMaxSide = 32768;       // pixels per side
constexpr Magick::MagickSizeType kMaxArea = 256u << 20;  // pixels in all
constexpr Magick::MagickSizeType kMaxMemory = 1024u << 20;

// Metafiles are measured in inches; web pages count 96 pixels to the inch, so a metafile
// rendered at this density has the size the document meant it to have on screen.
constexpr double kScreenDensity = 96.0;

enum class Format { kPng, kJpeg };

const char* Extension(Format format) { return format == Format::kPng ? "png" : "jpg"; }

// ---- Settings file ------------------------------------------------------------------------

/// $XDG_CONFIG_HOME/quillo (an unset or relative XDG_CONFIG_HOME means ~/.config), or "" when
/// no home folder is known.
std::string ConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/quillo";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.config/quillo";
  return "";
}

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r";
  std::string::size_type first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool SameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

/// The lines of an INI file, one string each (empty when the file is missing).
std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

/// The value of `key` in section `section`, if the file has one. Names ignore case.
std::optional<std::string> IniValue(const std::vector<std::string>& lines,
                                    const std::string& section, const std::string& key) {
  bool inSection = false;
  for (const std::string& raw : lines) {
    std::string line = Trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      inSection = SameNoCase(Trim(line.substr(1, line.size() - 2)), section);
    } else if (inSection) {
      std::string::size_type eq = line.find('=');
      if (eq != std::string::npos && SameNoCase(Trim(line.substr(0, eq)), key))
        return Trim(line.substr(eq + 1));
    }
  }
  return std::nullopt;
}

/// `lines` with `key` in `section` set to `value`; every other line is kept as it was.
std::vector<std::string> WithIniValue(std::vector<std::string> lines, const std::string& section,
                                      const std::string& key, const std::string& value) {
  const std::string entry = key + "=" + value;
  int sectionStart = -1;
  int sectionEnd = static_cast<int>(lines.size());  // one past the section's last line
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    std::string line = Trim(lines[i]);
    if (!line.empty() && line.front() == '[' && line.back() == ']') {
      if (sectionStart >= 0) {
        sectionEnd = i;
        break;
      }
      if (SameNoCase(Trim(line.substr(1, line.size() - 2)), section)) sectionStart = i;
    } else if (sectionStart >= 0) {
      std::string::size_type eq = line.find('=');
      if (eq != std::string::npos && SameNoCase(Trim(line.substr(0, eq)), key)) {
        lines[i] = entry;
        return lines;
      }
    }
  }
  if (sectionStart < 0) {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
    lines.push_back("[" + section + "]");
    lines.push_back(entry);
    return lines;
  }
  // Insert after the section's last non-blank line, so a blank separator line stays last.
  int at = sectionEnd;
  while (at > sectionStart + 1 && Trim(lines[at - 1]).empty()) --at;
  lines.insert(lines.begin() + at, entry);
  return lines;
}

/// Writes `bytes` to `path` through a temporary file in the same folder and a rename, so that
/// readers see the old file or the new one, never a half-written one.
bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  bool ok = true;
  while (left > 0 && ok) {
    ssize_t n = write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) {
      data += n;
      left -= static_cast<std::size_t>(n);
    }
  }
  ok = ok && fsync(fd) == 0;
  // mkstemp makes the file private (0600); a picture or a settings file gets the usual mode.
  mode_t mask = umask(0);
  umask(mask);
  ok = fchmod(fd, 0666 & ~mask) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
  unlink(temp.c_str());
  return false;
}

/// The remembered format, PNG when nothing (or something unknown) is stored.
Format LoadFormat() {
  std::string folder = ConfigFolder();
  if (folder.empty()) return Format::kPng;
  std::optional<std::string> value =
      IniValue(ReadLines(folder + "/imgdemo.ini"), "Settings", "Format");
  return value && SameNoCase(*value, "jpg") ? Format::kJpeg : Format::kPng;
}

/// Remembers the format for later runs. A settings file that cannot be written is reported but
/// does not stop the conversions.
void SaveFormat(Format format) {
  std::string folder = ConfigFolder();
  if (folder.empty()) return;
  std::string parent = folder.substr(0, folder.rfind('/'));
  mkdir(parent.c_str(), 0777);
  mkdir(folder.c_str(), 0777);
  std::string path = folder + "/imgdemo.ini";
  std::vector<std::string> lines = ReadLines(path);
  std::optional<std::string> old = IniValue(lines, "Settings", "Format");
  if (old && SameNoCase(*old, Extension(format))) return;
  std::string text;
  for (const std::string& line : WithIniValue(lines, "Settings", "Format", Extension(format)))
    text += line + "\n";
  if (!WriteFileAtomically(path, text))
    std::fprintf(stderr, "imgdemo: could not save the settings in %s: %s\n", path.c_str(),
                 std::strerror(errno));
}

// ---- Pictures -----------------------------------------------------------------------------

enum class Kind { kWmf, kEmf, kBmp, kOther };

/// The kind of picture a file name says it holds, by its extension (any letter case).
Kind KindOf(const std::string& name) {
  std::string::size_type dot = name.rfind('.');
  std::string::size_type slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return Kind::kOther;
  std::string ext = name.substr(dot + 1);
  if (SameNoCase(ext, "wmf")) return Kind::kWmf;
  if (SameNoCase(ext, "emf")) return Kind::kEmf;
  if (SameNoCase(ext, "bmp") || SameNoCase(ext, "dib")) return Kind::kBmp;
  return Kind::kOther;
}

/// libemf2svg writes text runs as CDATA sections, which ImageMagick's SVG renderer leaves out;
/// the same text written as escaped character data is drawn.
std::string InlineCdata(const std::string& svg) {
  std::string out;
  out.reserve(svg.size());
  std::string::size_type pos = 0;
  for (;;) {
    std::string::size_type open = svg.find("<![CDATA[", pos);
    if (open == std::string::npos) break;
    std::string::size_type close = svg.find("]]>", open + 9);
    if (close == std::string::npos) break;
    out.append(svg, pos, open - pos);
    for (std::string::size_type i = open + 9; i < close; ++i) {
      switch (svg[i]) {
        case '&':
          out += "&amp;";
          break;
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        default:
          out += svg[i];
      }
    }
    pos = close + 3;
  }
  out.append(svg, pos, std::string::npos);
  return out;
}

/// Reads enhanced metafiles with libemf2svg, loaded when the first one needs it. It is opened
/// privately (RTLD_LOCAL, and RTLD_DEEPBIND where the sanitizers allow it) because its helper
/// library libuemf exports functions named like libwmf's (wmf_free ...): linked normally,
/// ImageMagick's WMF reader would call libuemf's functions and crash.
class EmfReader {
 public:
  /// An enhanced metafile as SVG text, or "" (with `why` set) when it cannot be read.
  std::string ToSvg(std::string& emf, std::string& why) {
    if (!tried_) Load();
    if (!convert_) {
      why = loadError_;
      return "";
    }
    generatorOptions options{};
    options.nameSpace = const_cast<char*>("");  // a prefix makes libemf2svg mismatch some tags
    options.svgDelimiter = true;
    options.emfplus = true;
    char* svg = nullptr;
    std::size_t length = 0;
    int ok = convert_(emf.data(), emf.size(), &svg, &length, &options);
    std::string result = ok && svg ? InlineCdata(std::string(svg, length)) : "";
    std::free(svg);
    if (result.empty()) why = "not an enhanced metafile libemf2svg can read";
    return result;
  }

 private:
  void Load() {
    tried_ = true;
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kFlags = RTLD_NOW | RTLD_LOCAL;  // the sanitizers refuse RTLD_DEEPBIND
#else
    constexpr int kFlags = RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND;
#endif
    // Stays loaded until the program ends: every later EMF uses it too.
    void* library = dlopen("libemf2svg.so.1", kFlags);
    if (!library) {
      loadError_ = std::string("EMF pictures need libemf2svg (Debian: libemf2svg1): ") + dlerror();
      return;
    }
    convert_ = reinterpret_cast<decltype(&emf2svg)>(dlsym(library, "emf2svg"));
    if (!convert_) loadError_ = "libemf2svg has no emf2svg function";
  }

  bool tried_ = false;
  decltype(&emf2svg) convert_ = nullptr;
  std::string loadError_;
};

/// Converts one picture file; on failure returns false and sets `why`.
bool ConvertPicture(EmfReader& emfReader, const std::string& source, Kind kind, Format format,
                    const std::string& target, std::string& why) {
  std::ifstream in(source, std::ios::binary);
  if (!in) {
    why = std::strerror(errno);
    return false;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) {
    why = "the file is empty";
    return false;
  }
  try {
    Magick::Image image;
    image.quiet(true);  // warnings of the decoders are not failures
    if (kind == Kind::kEmf) {
      std::string svg = emfReader.ToSvg(bytes, why);
      if (svg.empty()) return false;
      bytes.swap(svg);
    } else if (kind == Kind::kWmf) {
      image.density(Magick::Geometry(kScreenDensity, kScreenDensity));
    }
    // The decoder is named explicitly: ImageMagick never guesses a format (and so never runs
    // a coder for scripts or documents) from what a file claims to be.
    const char* decoder = kind == Kind::kWmf ? "WMF" : kind == Kind::kEmf ? "SVG" : "BMP";
    image.read(Magick::Blob(bytes.data(), bytes.size()), decoder);
    if (image.columns() == 0 || image.rows() == 0) {
      why = "the picture is empty";
      return false;
    }
    Magick::Blob encoded;
    if (format == Format::kJpeg) {
      // JPEG has no transparency: draw the picture on white paper, as a page would show it.
      Magick::Image paper(Magick::Geometry(image.columns(), image.rows()), Magick::Color("white"));
      paper.composite(image, 0, 0, Magick::OverCompositeOp);
      paper.quality(90);
      paper.write(&encoded, "JPEG");
    } else {
      image.write(&encoded, "PNG");
    }
    std::string out(static_cast<const char*>(encoded.data()), encoded.length());
    if (!WriteFileAtomically(target, out)) {
      why = std::string("cannot write ") + target + ": " + std::strerror(errno);
      return false;
    }
    return true;
  } catch (const Magick::Exception& error) {
    why = error.what();
    return false;
  }
}

/// The file names an argument stands for: the argument itself, or the regular files its
/// wildcards match, in byte order. A pattern that matches nothing stands for itself.
std::vector<std::string> Expand(const std::string& argument) {
  if (argument.find_first_of("*?") == std::string::npos) return {argument};
  std::vector<std::string> names;
  glob_t found{};
  if (glob(argument.c_str(), 0, nullptr, &found) == 0) {
    for (std::size_t i = 0; i < found.gl_pathc; ++i) {
      struct stat info;
      if (stat(found.gl_pathv[i], &info) == 0 && S_ISREG(info.st_mode))
        names.push_back(found.gl_pathv[i]);
    }
  }
  globfree(&found);
  std::sort(names.begin(), names.end());
  if (names.empty()) names.push_back(argument);
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  bool silent = false;
  std::optional<Format> chosen;
  std::vector<std::string> arguments;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      arguments.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("imgdemo (Quillo) %s\n", QUILLO_VERSION);
      return 0;
    } else if (arg == "-s") {
      silent = true;
    } else if (arg == "-png") {
      chosen = Format::kPng;
    } else if (arg == "-jpg") {
      chosen = Format::kJpeg;
    } else {
      std::fprintf(stderr, "imgdemo: unknown option %s\nTry 'imgdemo --help'.\n", arg.c_str());
      return 2;
    }
  }
  if (arguments.empty()) {
    std::fputs("Please drop a wmf or bmp file to translate onto the imgdemo icon\n", stderr);
    std::fputs("Try 'imgdemo --help'.\n", stderr);
    return 2;
  }

  Format format = chosen ? *chosen : LoadFormat();
  if (chosen) SaveFormat(*chosen);

  Magick::InitializeMagick(argv[0]);
  Magick::ResourceLimits::width(kMaxSide);
  Magick::ResourceLimits::height(kMaxSide);
  Magick::ResourceLimits::area(kMaxArea);
  Magick::ResourceLimits::memory(kMaxMemory);
  Magick::ResourceLimits::map(kMaxMemory);
  // Document pictures are small: one thread converts them as fast as several would, and leaves
  // no thread pool spinning on a busy machine.
  Magick::ResourceLimits::thread(1);

  EmfReader emfReader;
  int failures = 0;
  for (const std::string& argument : arguments) {
    for (const std::string& name : Expand(argument)) {
      struct stat info;
      if (stat(name.c_str(), &info) != 0) {
        std::fprintf(stderr, "Error: \"%s\" does not exist\n", name.c_str());
        ++failures;
        continue;
      }
      Kind kind = KindOf(name);
      if (!S_ISREG(info.st_mode) || kind == Kind::kOther) {
        std::fprintf(stderr, "Error: \"%s\" is not a wmf, emf or bmp picture\n", name.c_str());
        ++failures;
        continue;
      }
      std::string why;
      if (static_cast<unsigned long long>(info.st_size) > kMaxInputBytes) {
        why = "the file is larger than 256 MiB";
      } else {
        std::string target = name.substr(0, name.rfind('.')) + "." + Extension(format);
        if (ConvertPicture(emfReader, name, kind, format, target, why)) {
          if (!silent) std::printf("%s -> %s\n", name.c_str(), target.c_str());
          continue;
        }
      }
      std::fprintf(stderr, "Unknown problem converting %s\n  (%s)\n", name.c_str(), why.c_str());
      ++failures;
    }
  }
  Magick::TerminateMagick();
  return failures == 0 ? 0 : 1;
}
