// Every valid layout cut at every length: a cut file converts exactly when nothing that the
// conversion reads is missing, and then gives the whole file's record; otherwise it gets one
// message and no record.
#include <gtest/gtest.h>

#include <cstdlib>

#include "driver.h"
#include "test_support.h"

namespace {

struct Outcome {
  std::string messages;
  int status = -1;
  Bytes family;
};

// Runs the conversion in this process, so that a sanitizer build watches every cut.
Outcome convert(const ScratchDir& dir, const Bytes& bmp) {
  const std::string in = dir.file("cut.bmp", bmp);
  const std::string out = dir.path("out");
  const char* argv[] = {"iconweld", in.c_str(), out.c_str()};
  char* text = nullptr;
  size_t size = 0;
  std::FILE* messages = open_memstream(&text, &size);
  Outcome outcome;
  outcome.status = run_iconweld(3, argv, messages);
  std::fclose(messages);
  outcome.messages.assign(text, size);
  std::free(text);
  outcome.family = read_file(out);
  return outcome;
}

TEST(Cut, ConvertsOnlyWhenNothingReadIsMissing) {
  ScratchDir dir;
  const int32_t header_sizes[] = {12, 16, 40, 64, 108, 124};
  const int16_t depths[] = {1, 2, 4, 8};
  int layouts = 0;
  for (int32_t header_size : header_sizes) {
    for (int16_t depth : depths) {
      for (int32_t height : {3, -3}) {
        if (header_size == 12 && height < 0) continue;  // core heights are unsigned
        SCOPED_TRACE(testing::Message()
                     << "header " << header_size << ", depth " << depth << ", height " << height);
        ++layouts;
        BmpFixture fixture;
        fixture.header_size = header_size;
        fixture.width = 15;  // row bytes below the stored stride for depths 1 and 2
        fixture.height = height;
        fixture.bit_count = depth;
        fixture.palette = grey_ramp(depth < 8 ? depth : 1);
        fixture.rows = patterned_rows(depth, 15, height);
        const Bytes whole = make_bmp(fixture);
        const Outcome full = convert(dir, whole);
        ASSERT_EQ(full.status, kExitSuccess) << full.messages;

        const int64_t stride = bmp_stride(depth, 15);
        const int64_t row_bytes = (int64_t{depth} * 15 + 15) / 16 * 2;
        // The last byte read is the end of the picture's last stored row's copied bytes.
        const int64_t needed = static_cast<int64_t>(whole.size()) - stride + row_bytes;
        const std::string truncated = std::string(kBanner) +
                                      "Error:  Truncated or corrupt bitmap file " +
                                      dir.path("cut.bmp") + "\n";
        for (int64_t length = 0; length < static_cast<int64_t>(whole.size()); ++length) {
          const Outcome cut = convert(dir, Bytes(whole.begin(), whole.begin() + length));
          if (length >= needed) {
            EXPECT_EQ(cut.messages, full.messages) << "cut at " << length;
            EXPECT_EQ(cut.family, full.family) << "cut at " << length;
            EXPECT_EQ(cut.status, kExitSuccess);
          } else {
            const std::string expected =
                length < 2 ? std::string(kBanner) + "Invalid BMP file\n" : truncated;
            EXPECT_EQ(cut.messages, expected) << "cut at " << length;
            EXPECT_TRUE(cut.family.empty()) << "cut at " << length;
            EXPECT_EQ(cut.status, kExitFailure);
          }
        }
      }
    }
  }
  EXPECT_EQ(layouts, 44);
}

}  // namespace
