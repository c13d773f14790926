// Pictures: each kind written to a file of its native format with the header it needs, output
// sizes, duplicates, numbering and its limit, \bin data, data cut short, linked pictures, and
// the shape groups that carry a modern picture and a fallback copy.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "frame/driver.h"
#include "translate_fixture.h"

namespace quillo::test {
namespace {

constexpr char kPictureTables[] = R"(.PTag
Normal "" "" "" "" " " "" 1 0 0 0 0 0
.TTag
Bold "<b>" "</b>"
.TMatch
"" 0 Bold "" "" Bold
.PMatch
Normal 0 Normal
.Strings
_image_ref_ "[img $_IMAGE_FILENAME_; $_IMAGE_WIDTH_;x$_IMAGE_HEIGHT_; t$PictType; c$PicChecksum;]"
_inline_image_ref_ "$_image_ref_;"
LinkedIMG "[link $_LinkFile;]"
LinkedInlineIMG "$LinkedIMG;"
)";

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

/// A small valid PNG (1 by 1 pixel); `shade` makes different pictures.
std::string Png(int shade) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  png += std::string("\0\0\0\rIHDR\0\0\0\1\0\0\0\1\x08\x02\0\0\0", 21);
  png.push_back(static_cast<char>(shade));  // stands in for the CRC: enough to differ
  png += std::string("\0\0\0\0IEND\xae\x42\x60\x82", 12);
  return png;
}

/// The picture checksum: each byte XORed into byte (n mod 4), as eight hexadecimal digits.
std::string Checksum(const std::string& bytes) {
  std::string lanes(4, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) lanes[i % 4] ^= bytes[i];
  return Hex(lanes);
}

uint32_t Le32(const std::string& data, std::size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(data[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(data[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(data[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(data[at + 3])) << 24;
}

int Count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size()))
    ++n;
  return n;
}

int Le16(const std::string& data, std::size_t at) {
  return static_cast<unsigned char>(data[at]) | static_cast<unsigned char>(data[at + 1]) << 8;
}

class PicturesTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::unique_ptr<Engine> engine_ = MakeEngine();
  std::map<std::string, std::string> outputs_;
  std::string page_, errors_;
  bool converted_ = false;

  /// Converts `rtf` (read from a file, so that it may hold any bytes) in memory mode; every
  /// output lands in outputs_ by name.
  void Run(const std::string& rtf, std::vector<std::string> options = {}) {
    const std::string trn = dir_.File("test.trn");
    WriteFile(trn, std::string(kBaseTrn) + kPictureTables);
    const std::string input = dir_.File("doc.rtf");
    WriteFile(input, rtf);
    std::vector<std::string> words = {"", "-D", "TrnFile=" + trn};
    for (std::string& option : options) words.push_back(std::move(option));
    words.push_back(input);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    int count = 0;
    ConvertedOutput* results =
        ConvertString(*engine_, static_cast<int>(words.size()), argv.data(), "", &count);
    converted_ = results != nullptr;
    outputs_.clear();
    page_.clear();
    errors_.clear();
    for (int i = 0; i < count; ++i) {
      std::string name = results[i].name ? results[i].name : "";
      std::string data(results[i].data ? results[i].data : "", results[i].length);
      if (name.find("_err.") != std::string::npos) errors_ = data;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0) page_ = data;
      outputs_[name] = data;
    }
    FreeConvertedOutputs(results, count);
  }

  std::string Base() const { return dir_.File("doc"); }
  static std::string Doc(const std::string& body) { return "{\\rtf1\\ansi " + body + "}"; }
};

TEST_F(PicturesTest, ShapePictureIsWrittenOnceAndTheFallbackSkipped) {
  const std::string png = Png(1);
  Run(Doc("A{\\*\\shppict{\\pict\\pngblip\\picwgoal300\\pichgoal150 " + Hex(png) +
          "}}{\\nonshppict{\\pict\\wmetafile8\\picw10\\pich10 0100090000}}B"));
  ASSERT_TRUE(converted_);
  EXPECT_EQ(outputs_[Base() + "00.png"], png);
  EXPECT_EQ(outputs_.count(Base() + "01.wmf"), 0u);
  EXPECT_EQ(outputs_.count(Base() + "00.wmf"), 0u);
  EXPECT_EQ(page_, "[head]A[img " + Base() + "00.png 20x10 t8 c" + Checksum(png) + "]B[end]");
  EXPECT_EQ(errors_, "");
}

TEST_F(PicturesTest, EachKindGetsItsHeaderAndSize) {
  struct Case {
    const char* words;
    const char* file;
    const char* size;
    std::size_t headerSize;
  };
  const std::string data("\x01\x02\x03\x04", 4);
  const Case cases[] = {
      {"\\wmetafile8\\picwgoal1440\\pichgoal720", "00.wmf", "96x48", 22},
      {"\\emfblip\\picwgoal1440\\pichgoal720", "00.emf", "96x48", 0},
      {"\\jpegblip\\picwgoal1440\\pichgoal720\\picscalex50\\picscaley200", "00.jpg", "48x96", 0},
      {"\\pngblip\\picw30\\pich15", "00.png", "2x1", 0},
      {"\\macpict\\picw30\\pich15", "00.pict", "30x15", 512},
      {"\\pmmetafile\\picw30\\pich15", "00.pmm", "2x1", 0},
  };
  for (const Case& c : cases) {
    Run(Doc(std::string("{\\pict") + c.words + " " + Hex(data) + "}"));
    ASSERT_TRUE(converted_) << c.words;
    const std::string& file = outputs_[Base() + c.file];
    ASSERT_EQ(file.size(), c.headerSize + data.size()) << c.words;
    EXPECT_EQ(file.substr(c.headerSize), data) << c.words;
    EXPECT_NE(page_.find(std::string(c.file) + " " + c.size + " "), std::string::npos)
        << c.words << ": " << page_ << " want " << c.file << " " << c.size;
  }
}

// A PNG or JPEG is named by what its data is: documents call GIFs and JPEGs PNGs.
TEST_F(PicturesTest, BlipsAreNamedByTheirData) {
  struct Case {
    const char* word;
    std::string data;
    const char* file;
  };
  const Case cases[] = {
      {"\\pngblip", std::string("GIF89a\x01\0\x01\0", 10), "00.gif"},
      {"\\pngblip", std::string("\xff\xd8\xff\xe0", 4), "00.jpg"},
      {"\\jpegblip", Png(1), "00.png"},
      {"\\jpegblip", std::string("\xff\xd8\xff\xe0", 4), "00.jpg"},
      {"\\pngblip", std::string("\x01\x02", 2), "00.png"},  // unknown data: the word decides
  };
  for (const Case& c : cases) {
    Run(Doc(std::string("{\\pict") + c.word + " " + Hex(c.data) + "}"));
    ASSERT_TRUE(converted_) << c.file;
    EXPECT_EQ(outputs_[Base() + c.file], c.data) << c.word << " " << c.file;
    EXPECT_NE(page_.find(std::string("[img ") + Base() + c.file), std::string::npos)
        << c.file << ": " << page_;
  }
}

TEST_F(PicturesTest, PlaceableMetafileHeader) {
  Run(Doc("{\\pict\\wmetafile8\\picwgoal1440\\pichgoal720 0100}"));
  const std::string& file = outputs_[Base() + "00.wmf"];
  ASSERT_GE(file.size(), 22u);
  EXPECT_EQ(Le32(file, 0), 0x9AC6CDD7u);
  const int words[] = {0, 0xFFFC, 0xFFFC, 96, 48, 96, 0, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Le16(file, 4 + 2 * i), words[i]) << "word " << i;
  int checksum = 0;
  for (int i = 0; i < 10; ++i) checksum ^= Le16(file, 2 * i);
  EXPECT_EQ(Le16(file, 20), checksum);
}

TEST_F(PicturesTest, DeviceBitmapRowsArePaddedAndReversed) {
  // 1 bit per pixel, 3 bytes per line, 2 rows.
  Run(
      Doc("{\\pict\\wbitmap0\\wbmbitspixel1\\wbmplanes1\\wbmwidthbytes3\\picw20\\pich2 "
          "aabbccddeeff}"));
  const std::string& file = outputs_[Base() + "00.bmp"];
  ASSERT_EQ(file.size(), 54u + 8u + 8u);
  EXPECT_EQ(file.substr(0, 2), "BM");
  EXPECT_EQ(Le32(file, 2), 70u);   // file size
  EXPECT_EQ(Le32(file, 10), 62u);  // bits offset: headers and 2 palette entries
  EXPECT_EQ(Le32(file, 18), 20u);  // width
  EXPECT_EQ(Le32(file, 22), 2u);   // height
  EXPECT_EQ(Le16(file, 28), 1);    // bits per pixel
  EXPECT_EQ(Le32(file, 34), 8u);   // image size: 2 rows of 4 bytes
  EXPECT_EQ(file.substr(54, 8), std::string("\0\0\0\0\xff\xff\xff\0", 8));
  EXPECT_EQ(file.substr(62), std::string("\xdd\xee\xff\0\xaa\xbb\xcc\0", 8));
}

TEST_F(PicturesTest, PaletteComesFromTheLibraryFile) {
  Run(Doc("{\\pict\\wbitmap0\\wbmbitspixel4\\wbmwidthbytes2\\picw4\\pich1 0123}"));
  const std::string& file = outputs_[Base() + "00.bmp"];
  ASSERT_EQ(file.size(), 54u + 64u + 4u);
  const std::string palette = ReadFile(DataDir() + "/ct4.ct");
  EXPECT_EQ(file.substr(54, 64), palette);
  EXPECT_EQ(file.substr(118), std::string("\x01\x23\0\0", 4));
}

TEST_F(PicturesTest, DeviceIndependentBitmapKeepsItsOwnHeader) {
  // A 40-byte information header for 1x1 at 24 bits, then one padded row.
  std::string dib(40, '\0');
  dib[0] = 40;
  dib[4] = 1;
  dib[8] = 1;
  dib[12] = 1;
  dib[14] = 24;
  dib += std::string("\x10\x20\x30\0", 4);
  Run(Doc("{\\pict\\dibitmap0\\picw1\\pich1 " + Hex(dib) + "}"));
  const std::string& file = outputs_[Base() + "00.bmp"];
  ASSERT_EQ(file.size(), 14u + dib.size());
  EXPECT_EQ(Le32(file, 2), 14u + dib.size());
  EXPECT_EQ(Le32(file, 10), 54u);
  EXPECT_EQ(file.substr(14), dib);
}

TEST_F(PicturesTest, DuplicatesShareTheFirstFile) {
  const std::string a = Hex(Png(1)), b = Hex(Png(2));
  const std::string rtf =
      Doc("{\\pict\\pngblip " + a + "}{\\pict\\pngblip " + b + "}{\\pict\\pngblip " + a + "}");
  Run(rtf);
  EXPECT_EQ(outputs_.count(Base() + "00.png"), 1u);
  EXPECT_EQ(outputs_.count(Base() + "01.png"), 1u);
  EXPECT_EQ(outputs_.count(Base() + "02.png"), 0u);
  EXPECT_EQ(Count(page_, "[img " + Base() + "00.png"), 2);
  EXPECT_EQ(Count(page_, "[img " + Base() + "01.png"), 1);

  Run(rtf, {"-D", "KeepDupPicts=1"});
  EXPECT_EQ(outputs_.count(Base() + "02.png"), 1u);
  EXPECT_EQ(Count(page_, "[img " + Base() + "02.png"), 1);

  // Same checksum, different data: byte swaps four places apart keep the XOR of each lane.
  const std::string x("\x01\x02\x03\x04\x05\x06\x07\x08", 8),
      y("\x05\x06\x07\x08\x01\x02\x03\x04", 8);
  Run(Doc("{\\pict\\pngblip " + Hex(x) + "}{\\pict\\pngblip " + Hex(y) + "}"));
  EXPECT_EQ(outputs_[Base() + "01.png"], y);
}

TEST_F(PicturesTest, NumberingStopsAtTheDigitLimit) {
  std::string body;
  for (int i = 0; i < 11; ++i) body += "{\\pict\\pngblip " + Hex(Png(i)) + "}";
  Run(Doc(body), {"-D", "ShortFileDigits=1", "-D", "ERR_MAX_FILES_Action=message"});
  EXPECT_NE(errors_.find("Maximum number of files (9) exceeded , set ShortFileDigits (1)"),
            std::string::npos)
      << errors_;
  EXPECT_EQ(outputs_.count(Base() + "9.png"), 1u);

  Run(Doc(body), {"-D", "ShortFileDigits=1"});
  EXPECT_FALSE(converted_);  // fatal by default
}

TEST_F(PicturesTest, BinaryDataMayHoldBraces) {
  const std::string data("{}}{\\\0x", 7);
  Run(Doc("A{\\pict\\emfblip\\bin7 " + data + "}B"));
  ASSERT_TRUE(converted_);
  EXPECT_EQ(outputs_[Base() + "00.emf"], data);
  EXPECT_NE(page_.find("A[img "), std::string::npos);
  EXPECT_NE(page_.find("]B"), std::string::npos);
  EXPECT_EQ(errors_, "");
}

TEST_F(PicturesTest, DataCutShortEndsCleanly) {
  for (const std::string& body :
       {std::string("A{\\pict\\emfblip\\bin100 abc"), std::string("A{\\pict\\pngblip 89504e47"),
        std::string("A{\\pict\\wbitmap0\\wbmwidthbytes100000\\pich100000 00")}) {
    Run("{\\rtf1\\ansi " + body);
    ASSERT_TRUE(converted_) << body;
    EXPECT_NE(page_.find("A"), std::string::npos) << body;
    EXPECT_NE(errors_.find("Premature end-of-file reading binary image"), std::string::npos)
        << body;
  }
  // The declared bitmap size is held to what the input can hold.
  EXPECT_LT(outputs_[Base() + "00.bmp"].size(), 100u);
}

TEST_F(PicturesTest, BinWithoutCountIsReadAsHex) {
  const std::string png = Png(3);
  Run(Doc("{\\pict\\pngblip\\bin " + Hex(png) + "}"));
  EXPECT_EQ(outputs_[Base() + "00.png"], png);
}

TEST_F(PicturesTest, PicturesWithoutKindOrSkippedKindsWriteNothing) {
  Run(Doc("A{\\pict\\picw10 0102}B{\\pict\\jpegblip 0102}C"), {"-D", "SkipJPG=1"});
  ASSERT_TRUE(converted_);
  EXPECT_EQ(page_, "[head]ABC[end]");
  EXPECT_EQ(outputs_.size(), 1u);  // the page only
}

TEST_F(PicturesTest, NoGraphicsWritesNoFiles) {
  Run(Doc("{\\pict\\pngblip 0102}"), {"-D", "NoGraphics=1"});
  EXPECT_EQ(outputs_.count(Base() + "00.png"), 0u);
}

TEST_F(PicturesTest, LinkedPictures) {
  const std::string png = Hex(Png(4));
  // A linked picture with the picture in the result: written once, as the embedded file.
  Run(
      Doc("{\\field{\\*\\fldinst INCLUDEPICTURE \"http://x/a.png\" \\\\* MERGEFORMAT}"
          "{\\fldrslt{\\pict\\pngblip " +
          png + "}}}after{\\pict\\pngblip " + Hex(Png(5)) + "}"));
  EXPECT_EQ(Count(page_, "[img "), 2) << page_;
  EXPECT_EQ(Count(page_, "[link"), 0) << page_;
  EXPECT_NE(page_.find(Base() + "01.png"), std::string::npos) << page_;
  // Without a picture in the result the link is written.
  Run(
      Doc("{\\field{\\*\\fldinst INCLUDEPICTURE \"pic.png\"}{\\fldrslt x}}"
          "{\\pict\\pngblip " +
          png + "}"));
  EXPECT_EQ(Count(page_, "[link pic.png]"), 1) << page_;
  EXPECT_NE(page_.find("[img " + Base() + "00.png"), std::string::npos) << page_;
  // PreferEmbed 0: the link stands where the picture is, and nothing is written.
  Run(Doc("{\\field{\\*\\fldinst INCLUDEPICTURE \"pic.png\"}{\\fldrslt{\\pict\\pngblip " + png +
          "}}}"),
      {"-D", "PreferEmbed=0"});
  EXPECT_EQ(Count(page_, "[link pic.png]"), 1) << page_;
  EXPECT_EQ(outputs_.count(Base() + "00.png"), 0u);
}

TEST_F(PicturesTest, FilesAreWrittenBesideTheOutput) {
  const std::string out = dir_.File("sub");
  ASSERT_EQ(std::system(("mkdir -p " + out).c_str()), 0);
  const std::string trn = dir_.File("test.trn");
  WriteFile(trn, std::string(kBaseTrn) + kPictureTables);
  const std::string input = dir_.File("doc.rtf");
  WriteFile(input, Doc("{\\pict\\pngblip 0102}{\\*\\bkmkstart ../../evil}x{\\*\\bkmkend x}"));
  std::vector<std::string> words = {"", "-D", "TrnFile=" + trn, "-o", out + "/page.html", input};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  ASSERT_EQ(ConvertFiles(*engine_, static_cast<int>(words.size()), argv.data()), 0);
  EXPECT_EQ(ReadFile(out + "/page00.png"), std::string("\x01\x02", 2));
  EXPECT_NE(ReadFile(out + "/page.html").find("[img " + out + "/page00.png"), std::string::npos);
}

}  // namespace
}  // namespace quillo::test
