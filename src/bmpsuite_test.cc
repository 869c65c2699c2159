// Every file of the public BMP suite through the built program.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>

#include "driver.h"
#include "test_support.h"

namespace {

std::vector<std::string> suite_files() {
  std::vector<std::string> files;
  const std::string root = bmpsuite_path("");
  if (root.empty()) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.path().extension() == ".bmp") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

#define SKIP_WITHOUT_SUITE()     \
  if (bmpsuite_path("").empty()) \
  GTEST_SKIP() << "../shared/bmpsuite is not beside the project: no suite files to run"

struct Converted {
  RunResult run;
  Bytes family;
};

Converted convert(const std::vector<std::string>& inputs) {
  ScratchDir dir;
  std::vector<std::string> argv = {"iconweld"};
  argv.insert(argv.end(), inputs.begin(), inputs.end());
  argv.push_back(dir.path("out"));
  Converted result;
  result.run = run_program(argv);
  result.family = read_file(dir.path("out"));
  return result;
}

// Each file converts, or gets exactly one of the messages; none crashes.
TEST(BmpSuite, EveryFileConvertsOrGetsOneMessage) {
  SKIP_WITHOUT_SUITE();
  const std::regex answer(
      "  Processing -?\\d+ x \\d+, \\d+-bit image file\n|"
      "Error:  Truncated or corrupt bitmap file .*\n|"
      "Error:  Cannot handle true color bitmaps \\(depth=\\d+\\)\n|"
      "Error:  Cannot handle compressed bitmaps \\(compression=\\d+\\)\n|"
      "Error:  Cannot handle bitmaps of depth -?\\d+\n|"
      "Error:  Cannot handle bitmap size -?\\d+ x -?\\d+\n|"
      "Invalid BMP file\n");
  const std::vector<std::string> files = suite_files();
  ASSERT_GT(files.size(), 80u);
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const Converted c = convert({file});
    ASSERT_EQ(c.run.signal, 0);
    ASSERT_EQ(c.run.output.rfind(kBanner, 0), 0u);
    const std::string answered = c.run.output.substr(std::string(kBanner).size());
    EXPECT_TRUE(std::regex_match(answered, answer)) << answered;
    const bool converted = answered.rfind("  Processing", 0) == 0;
    EXPECT_EQ(c.run.exit_status, converted ? kExitSuccess : kExitFailure);
    EXPECT_EQ(c.family.empty(), !converted);
  }
}

TEST(BmpSuite, ChosenFilesGetTheRightAnswer) {
  SKIP_WITHOUT_SUITE();
  const std::map<std::string, std::string> expected = {
      {"g/pal1.bmp", "  Processing 127 x 64, 1-bit image file\n"},
      {"q/pal2.bmp", "  Processing 127 x 64, 2-bit image file\n"},
      {"g/pal8topdown.bmp", "  Processing 127 x 64, 8-bit image file\n"},
      {"g/pal8os2.bmp", "  Processing 127 x 64, 8-bit image file\n"},
      {"g/rgb24.bmp", "Error:  Cannot handle true color bitmaps (depth=24)\n"},
      {"g/pal8rle.bmp", "  Processing 127 x 64, 8-bit image file\n"},
      {"g/pal4rle.bmp", "  Processing 127 x 64, 4-bit image file\n"},
      {"q/pal8rlecut.bmp", "  Processing 127 x 64, 8-bit image file\n"},
      {"q/pal4rletrns.bmp", "  Processing 127 x 64, 4-bit image file\n"},
      // badrle: runs past the end of their rows; bis: deltas past the end of their rows; ter:
      // such deltas moving up a row each, past the top.
      {"b/badrle.bmp", "Error:  Truncated or corrupt bitmap file %s\n"},
      {"b/badrle4.bmp", "Error:  Truncated or corrupt bitmap file %s\n"},
      {"b/badrlebis.bmp", "Error:  Truncated or corrupt bitmap file %s\n"},
      {"b/badrle4bis.bmp", "Error:  Truncated or corrupt bitmap file %s\n"},
      {"b/badrleter.bmp", "Error:  Truncated or corrupt bitmap file %s\n"},
      {"b/badrle4ter.bmp", "Error:  Truncated or corrupt bitmap file %s\n"},
      // RLE has no top-down form.
      {"b/rletopdown.bmp", "Error:  Cannot handle compressed bitmaps (compression=1)\n"},
      {"q/pal1huffmsb.bmp", "Error:  Cannot handle compressed bitmaps (compression=3)\n"},
      {"q/rgb24png.bmp", "Error:  Cannot handle compressed bitmaps (compression=5)\n"},
      {"b/badbitcount.bmp", "Error:  Cannot handle true color bitmaps (depth=30000)\n"},
      {"b/badwidth.bmp", "Error:  Cannot handle bitmap size -127 x 64\n"},
      {"b/reallybig.bmp", "Error:  Cannot handle true color bitmaps (depth=24)\n"},
      {"b/shortfile.bmp", "Error:  Truncated or corrupt bitmap file %s\n"},
      {"x/ba-bm.bmp", "Invalid BMP file\n"},
  };
  for (const auto& [name, message] : expected) {
    SCOPED_TRACE(name);
    const std::string path = bmpsuite_path(name);
    std::string want = message;
    if (const size_t at = want.find("%s"); at != std::string::npos) want.replace(at, 2, path);
    EXPECT_EQ(convert({path}).run.output, kBanner + want);
  }
}

// Files that hold the same picture in different layouts must give the same record.
TEST(BmpSuite, OnePictureInManyLayoutsGivesOneRecord) {
  SKIP_WITHOUT_SUITE();
  const std::vector<std::vector<std::string>> groups = {
      // Header sizes 40, 108, 124, 12 (core), 16 and 64 (OS/2 2.x); top-down rows; a gap
      // before the pixels; a colour table longer than the header says; RLE8.
      {"g/pal8.bmp", "g/pal8v4.bmp", "g/pal8v5.bmp", "g/pal8os2.bmp", "g/pal8topdown.bmp",
       "g/pal8-0.bmp", "q/pal8offs.bmp", "q/pal8oversizepal.bmp", "q/pal8os2v2.bmp",
       "q/pal8os2v2-16.bmp", "q/pal8os2-sz.bmp", "q/pal8os2sp.bmp", "g/pal8rle.bmp"},
      // RLE4 of an odd width: the last nibble of each row is beyond the width, 0 in the stored
      // rows and never set by the stream, and inverted in both records.
      {"g/pal4.bmp", "g/pal4rle.bmp"},
  };
  for (const std::vector<std::string>& group : groups) {
    const Bytes first = convert({bmpsuite_path(group[0])}).family;
    ASSERT_FALSE(first.empty()) << group[0];
    for (size_t i = 1; i < group.size(); ++i) {
      EXPECT_EQ(convert({bmpsuite_path(group[i])}).family, first) << group[i];
    }
  }
}

// Black then white is inverted, white then black is not; the two files store opposite indices
// for the same picture, so their records agree but for the bit beyond the 127 pixels of each
// row, which is 0 in both files and so inverted in one record only.
TEST(BmpSuite, InversionFollowsColourEntryOne) {
  SKIP_WITHOUT_SUITE();
  const Bytes black_white = convert({bmpsuite_path("g/pal1.bmp")}).family;
  Bytes white_black = convert({bmpsuite_path("g/pal1wb.bmp")}).family;
  ASSERT_EQ(black_white.size(), 16u + 64 * 16);
  ASSERT_EQ(white_black.size(), black_white.size());
  for (size_t row_end = 16 + 15; row_end < white_black.size(); row_end += 16) {
    EXPECT_EQ(white_black[row_end] & 1, 0);
    white_black[row_end] |= 1;
  }
  EXPECT_EQ(white_black, black_white);
}

// These RLE files hold the full picture less the pixels their deltas and early ends pass over.
// Their colour tables repeat pal4's and pal8's one entry later, after a marker colour at index 0,
// so every pixel must be the full picture's index plus one, or 0 where the stream sets nothing.
TEST(BmpSuite, PixelsAnRleStreamPassesOverAreIndexZero) {
  SKIP_WITHOUT_SUITE();
  struct Case {
    const char* file;
    const char* full_picture;
    bool full_picture_inverted;  // pal4's colour entry 1 is blue, the RLE files' is black
    int unset_top_rows;          // rows above the stream's end of bitmap
  };
  const Case cases[] = {
      {"q/pal8rletrns.bmp", "g/pal8.bmp", false, 0},
      {"q/pal4rletrns.bmp", "g/pal4.bmp", true, 0},
      // The end of bitmap comes after 59 of the 64 rows.
      {"q/pal8rlecut.bmp", "g/pal8.bmp", false, 5},
      {"q/pal4rlecut.bmp", "g/pal4.bmp", true, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes rle = convert({bmpsuite_path(c.file)}).family;
    const Bytes full = convert({bmpsuite_path(c.full_picture)}).family;
    ASSERT_EQ(rle.size(), full.size());
    ASSERT_EQ(Bytes(rle.begin(), rle.begin() + 16), Bytes(full.begin(), full.begin() + 16));
    const int mask = (1 << full[8]) - 1;
    int unset = 0;
    int mismatched = 0;
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 127; ++x) {
        const int pixel = record_pixel(rle, x, y);
        const int full_pixel = record_pixel(full, x, y) ^ (c.full_picture_inverted ? mask : 0);
        if (pixel == 0) {
          ++unset;
        } else if (pixel != full_pixel + 1 || y < c.unset_top_rows) {
          ++mismatched;
        }
      }
    }
    EXPECT_EQ(mismatched, 0);
    EXPECT_GT(unset, c.unset_top_rows * 127);
  }
}

}  // namespace
