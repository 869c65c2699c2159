// The family as other programs read it: netpbm's palmtopnm must decode every record to the
// picture that bmptopnm decodes from its source, and ImageMagick must walk the whole chain.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "test_support.h"

namespace {

// ImageMagick by its full path: a stand-in named convert may come first on PATH.
constexpr char kImageMagick[] = "/usr/bin/convert";

bool have(const std::string& program) {
  const std::string command = "command -v " + program + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// Runs a shell command and returns what it printed on standard output.
std::string output_of(const std::string& command) {
  std::string text;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  pclose(pipe);
  return text;
}

// A netpbm picture turned into 8-bit grey levels, as "width height" and the levels.
struct Grey {
  int width = 0, height = 0;
  std::string levels;
  bool operator==(const Grey&) const = default;
};

Grey grey_of(const std::string& decode_command) {
  const std::string pgm =
      output_of(decode_command + " 2>/dev/null | ppmtopgm | pamdepth 255 2>/dev/null");
  Grey grey;
  std::istringstream in(pgm);
  std::string magic;
  int maxval = 0;
  in >> magic >> grey.width >> grey.height >> maxval;
  in.get();
  if (magic != "P5" || maxval != 255) return Grey{};
  grey.levels = pgm.substr(static_cast<size_t>(in.tellg()));
  return grey;
}

#define SKIP_WITHOUT(program)                                                              \
  if (!have(program)) {                                                                    \
    if (std::getenv("CI") != nullptr) FAIL() << program << " is missing in CI";            \
    GTEST_SKIP() << program << " is not installed: the independent readers cannot be run"; \
  }

TEST(IndependentReaders, NetpbmAndImageMagickReadEveryRecord) {
  SKIP_WITHOUT("palmtopnm");
  SKIP_WITHOUT("bmptopnm");
  SKIP_WITHOUT("pamdepth");
  SKIP_WITHOUT(kImageMagick);

  struct Case {
    const char* what;
    int32_t header_size;
    int16_t depth;
    int32_t width;
    int32_t height;
    bool white_first;  // a 1-bit table of white then black: no inversion
  };
  const Case cases[] = {
      {"1-bit black then white", 40, 1, 13, 7, false},
      {"1-bit white then black", 40, 1, 21, 5, true},
      {"1-bit top-down", 40, 1, 35, -6, false},
      {"2-bit", 40, 2, 9, 6, false},
      {"2-bit top-down, 124-byte header", 124, 2, 23, -4, false},
      {"4-bit", 40, 4, 7, 5, false},
      {"4-bit, 124-byte header", 124, 4, 19, 8, false},
      {"4-bit top-down", 40, 4, 31, -3, false},
      {"1-bit core header", 12, 1, 17, 4, false},
      {"4-bit core header", 12, 4, 11, 9, false},
  };
  ScratchDir dir;
  std::string command = ICONWELD_PROGRAM;
  std::vector<std::string> sources;
  for (const Case& c : cases) {
    BmpFixture fixture;
    fixture.header_size = c.header_size;
    fixture.width = c.width;
    fixture.height = c.height;
    fixture.bit_count = c.depth;
    fixture.palette = grey_ramp(c.depth);
    if (c.white_first) std::swap(fixture.palette[0], fixture.palette[1]);
    fixture.rows = patterned_rows(c.depth, c.width, c.height);
    sources.push_back(dir.file("in" + std::to_string(sources.size()) + ".bmp", make_bmp(fixture)));
    command += " " + sources.back();
  }
  const std::string family = dir.path("family.bin");
  command += " " + family + " >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);

  std::string listed;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.what);
    const Grey source = grey_of("bmptopnm " + sources[i]);
    const Grey record = grey_of("palmtopnm -rendition " + std::to_string(i + 1) + " " + family);
    ASSERT_EQ(source.width, c.width);
    ASSERT_EQ(source.height, std::abs(c.height));
    EXPECT_TRUE(record == source) << "palmtopnm and bmptopnm disagree";
    listed += std::to_string(c.width) + "x" + std::to_string(std::abs(c.height)) + "\n";
  }

  // ImageMagick follows the next-record offsets and stops at the record marked last.
  const std::string info =
      output_of(std::string(kImageMagick) + " PALM:" + family + " -format '%wx%h\\n' info: 2>&1");
  EXPECT_EQ(info, listed);
}

}  // namespace
