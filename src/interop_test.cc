// Other programs as independent readers: ImageMagick writes and decodes BMP files, netpbm's
// palmtopnm decodes records. Each test skips, saying why, where a program is missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <map>

#include "driver.h"
#include "test_support.h"

namespace {

// ImageMagick by its full path: the convert first on PATH may be another program.
const char kConvert[] = "/usr/bin/convert";

bool have_convert() {
  return access(kConvert, X_OK) == 0;
}

bool have_palmtopnm() {
  return std::system("command -v palmtopnm >/dev/null 2>&1") == 0;
}

bool shell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

uint32_t le32(const Bytes& b, size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
         static_cast<uint32_t>(b.at(at + 3)) << 24;
}

struct Rgb {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0xRRGGBB, top row first
};

// A binary PPM with a maximum value of 255.
bool parse_ppm(const Bytes& bytes, Rgb* image) {
  size_t at = 0;
  auto token = [&]() {
    std::string t;
    while (at < bytes.size()) {
      if (bytes[at] == '#') {
        while (at < bytes.size() && bytes[at] != '\n') ++at;
      } else if (std::isspace(bytes[at])) {
        if (!t.empty()) break;
        ++at;
      } else {
        t += static_cast<char>(bytes[at++]);
      }
    }
    return t;
  };
  if (token() != "P6") return false;
  image->width = std::atoi(token().c_str());
  image->height = std::atoi(token().c_str());
  if (token() != "255") return false;
  ++at;  // the one whitespace byte before the pixels
  const size_t n = static_cast<size_t>(image->width) * image->height;
  if (bytes.size() - at < 3 * n) return false;
  image->pixels.resize(n);
  for (size_t i = 0; i < n; ++i, at += 3) {
    image->pixels[i] = bytes[at] << 16 | bytes[at + 1] << 8 | bytes[at + 2];
  }
  return true;
}

// The BMP's colour table as 0xRRGGBB, for a 40-byte header.
std::vector<uint32_t> palette_of(const Bytes& bmp) {
  std::vector<uint32_t> palette;
  for (size_t at = 54; at + 4 <= le32(bmp, 10); at += 4)
    palette.push_back(le32(bmp, at) & 0xFFFFFF);
  return palette;
}

// palmtopnm's colours for the 8-bit indices of a record without a colour table, from a record
// that holds every index it takes (0 to 230) once.
std::map<uint32_t, int> palm_indices_by_colour(const ScratchDir& dir) {
  Bytes row;
  for (int i = 0; i < 231; ++i) row.push_back(static_cast<uint8_t>(i));
  row.push_back(0);
  dir.file("probe.bin", expected_record(231, 1, 232, 8, true, {row}));
  std::map<uint32_t, int> indices;
  Rgb probe;
  if (!shell("palmtopnm " + dir.path("probe.bin") + " > " + dir.path("probe.ppm") +
             " 2>/dev/null") ||
      !parse_ppm(read_file(dir.path("probe.ppm")), &probe)) {
    return indices;
  }
  for (int i = 0; i < probe.width; ++i) indices[probe.pixels[i]] = i;
  return indices;
}

// An RLE8 icon written by ImageMagick converts, and palmtopnm reads back from its record the
// indices that ImageMagick wrote into the same picture stored uncompressed.
TEST(Interop, ImageMagickRle8IconReadsBackWithPalmtopnm) {
  if (!have_convert()) GTEST_SKIP() << kConvert << " (ImageMagick) is missing: no RLE icon to make";
  if (!have_palmtopnm()) GTEST_SKIP() << "palmtopnm (netpbm) is missing: no reader of records";
  ScratchDir dir;
  const std::map<uint32_t, int> palm_index = palm_indices_by_colour(dir);
  ASSERT_EQ(palm_index.size(), 231u) << "palmtopnm gave no distinct colour to each index";

  const char* const sources[] = {
      "-size 40x30 gradient:black-white",  // runs only: one grey a row
      "rose:",                             // ImageMagick's built-in 70 x 46 photograph
  };
  for (const char* source : sources) {
    SCOPED_TRACE(source);
    const std::string make = std::string(kConvert) + " " + source + " -colors 200 -type palette ";
    ASSERT_TRUE(shell(make + "-compress RLE BMP3:" + dir.path("rle.bmp")));
    ASSERT_TRUE(shell(make + "-compress none BMP3:" + dir.path("plain.bmp")));
    const Bytes rle = read_file(dir.path("rle.bmp"));
    const Bytes plain = read_file(dir.path("plain.bmp"));
    ASSERT_EQ(le32(rle, 30), 1u) << "not RLE8";
    ASSERT_EQ(rle[28], 8);
    ASSERT_EQ(palette_of(rle), palette_of(plain)) << "not one quantised picture";
    const int width = static_cast<int>(le32(plain, 18));
    const int height = static_cast<int>(le32(plain, 22));
    const size_t stride = (width + 3) / 4 * 4;

    const RunResult run = run_program({"iconweld", dir.path("rle.bmp"), dir.path("out.bin")});
    EXPECT_EQ(run.output, kBanner + ("  Processing " + std::to_string(width) + " x " +
                                     std::to_string(height) + ", 8-bit image file\n"));
    ASSERT_TRUE(shell("palmtopnm " + dir.path("out.bin") + " > " + dir.path("out.ppm")));
    Rgb decoded;
    ASSERT_TRUE(parse_ppm(read_file(dir.path("out.ppm")), &decoded));
    ASSERT_EQ(decoded.width, width);
    ASSERT_EQ(decoded.height, height);
    int mismatched = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        // Uncompressed rows are stored bottom-up.
        const int source_index = plain.at(le32(plain, 10) + (height - 1 - y) * stride + x);
        const auto found = palm_index.find(decoded.pixels[y * width + x]);
        if (found == palm_index.end() || found->second != source_index) ++mismatched;
      }
    }
    EXPECT_EQ(mismatched, 0);
  }
}

// The suite's RLE files, decoded by ImageMagick, show at every pixel the colour-table entry that
// the record holds there; ImageMagick too paints the pixels a stream passes over in entry 0.
TEST(Interop, SuiteRleFilesAgreeWithImageMagick) {
  if (bmpsuite_path("").empty()) GTEST_SKIP() << "../shared/bmpsuite is not beside the project";
  if (!have_convert()) GTEST_SKIP() << kConvert << " (ImageMagick) is missing: no second decoder";
  const char* const files[] = {"g/pal4rle.bmp",    "g/pal8rle.bmp",     "q/pal4rlecut.bmp",
                               "q/pal8rlecut.bmp", "q/pal4rletrns.bmp", "q/pal8rletrns.bmp"};
  ScratchDir dir;
  for (const char* file : files) {
    SCOPED_TRACE(file);
    const std::string path = bmpsuite_path(file);
    const RunResult run = run_program({"iconweld", path, dir.path("out.bin")});
    ASSERT_EQ(run.exit_status, kExitSuccess);
    const Bytes record = read_file(dir.path("out.bin"));
    // ImageMagick complains that the cut files end early, and decodes them all the same.
    shell(std::string(kConvert) + " " + path + " -depth 8 ppm:" + dir.path("im.ppm") +
          " 2>/dev/null");
    Rgb decoded;
    ASSERT_TRUE(parse_ppm(read_file(dir.path("im.ppm")), &decoded));
    const Bytes bmp = read_file(path);
    const std::vector<uint32_t> palette = palette_of(bmp);
    const int depth = record[8];
    // Below 8 bits the record is inverted when colour entry 1 (at offset 58) is not zero.
    const int flip = depth < 8 && le32(bmp, 58) != 0 ? (1 << depth) - 1 : 0;
    int mismatched = 0;
    for (int y = 0; y < decoded.height; ++y) {
      for (int x = 0; x < decoded.width; ++x) {
        const int index = record_pixel(record, x, y) ^ flip;
        if (palette.at(index) != decoded.pixels[y * decoded.width + x]) ++mismatched;
      }
    }
    EXPECT_EQ(mismatched, 0);
  }
}

}  // namespace
