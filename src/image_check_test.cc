#include "image_check.h"

#include <gtest/gtest.h>

namespace {

// A 1-bit 16 x 16 image with a 40-byte header, colour table of two entries, rows right after.
ImageHeader valid_header() {
  ImageHeader header;
  header.header_size = 40;
  header.data_offset = 62;
  header.width = 16;
  header.height = 16;
  header.bit_count = 1;
  header.file_size = 62 + 16 * 4;
  return header;
}

TEST(CheckImage, RefusesInAFixedOrder) {
  struct Case {
    const char* what;
    void (*change)(ImageHeader*);
    bool last_path;
    Refusal expected;
  };
  const Case cases[] = {
      {"a valid image", [](ImageHeader*) {}, false, Refusal::kNone},
      {"shorter than the header size field", [](ImageHeader* h) { h->file_size = 17; }, true,
       Refusal::kTruncated},
      {"shorter than the first 40 bytes of a 124-byte header",
       [](ImageHeader* h) {
         h->header_size = 124;
         h->file_size = 53;
       },
       true, Refusal::kTruncated},
      {"a core header needs only 12 bytes",
       [](ImageHeader* h) {
         h->header_size = 12;
         h->bit_count = 8;
         h->width = 0;
         h->file_size = 26;
       },
       true, Refusal::kNone},
      {"true colour before compression",
       [](ImageHeader* h) {
         h->bit_count = 24;
         h->compression = 3;
       },
       true, Refusal::kTrueColour},
      {"compression before depth",
       [](ImageHeader* h) {
         h->bit_count = 0;
         h->compression = 4;
       },
       true, Refusal::kCompressed},
      // RLE streams have no length to check here: check_pixels reads them.
      {"RLE8 at 8 bits, whatever the file's length",
       [](ImageHeader* h) {
         h->bit_count = 8;
         h->compression = 1;
         h->file_size = 62;
       },
       true, Refusal::kNone},
      {"RLE4 at 4 bits",
       [](ImageHeader* h) {
         h->bit_count = 4;
         h->compression = 2;
         h->file_size = 62;
       },
       true, Refusal::kNone},
      {"RLE4 still needs colour entry 1",
       [](ImageHeader* h) {
         h->bit_count = 4;
         h->compression = 2;
         h->file_size = 61;
       },
       true, Refusal::kTruncated},
      {"RLE8 at 4 bits",
       [](ImageHeader* h) {
         h->bit_count = 4;
         h->compression = 1;
       },
       true, Refusal::kCompressed},
      {"RLE4 at 8 bits",
       [](ImageHeader* h) {
         h->bit_count = 8;
         h->compression = 2;
       },
       true, Refusal::kCompressed},
      {"top-down RLE8",
       [](ImageHeader* h) {
         h->bit_count = 8;
         h->compression = 1;
         h->height = -16;
       },
       true, Refusal::kCompressed},
      {"depth 3", [](ImageHeader* h) { h->bit_count = 3; }, true, Refusal::kDepth},
      {"depth 0", [](ImageHeader* h) { h->bit_count = 0; }, true, Refusal::kDepth},
      {"negative depth", [](ImageHeader* h) { h->bit_count = -1; }, true, Refusal::kDepth},
      {"negative width", [](ImageHeader* h) { h->width = -16; }, true, Refusal::kSize},
      {"width past 16 bits", [](ImageHeader* h) { h->width = 32768; }, true, Refusal::kSize},
      {"height past 16 bits", [](ImageHeader* h) { h->height = 32768; }, true, Refusal::kSize},
      {"top-down height past 16 bits", [](ImageHeader* h) { h->height = -32768; }, true,
       Refusal::kSize},
      {"lowest height", [](ImageHeader* h) { h->height = INT32_MIN; }, true, Refusal::kSize},
      {"size before the file's length",
       [](ImageHeader* h) {
         h->width = 32768;
         h->file_size = 62;
       },
       true, Refusal::kSize},
      {"record of 262,128 bytes followed by another",
       [](ImageHeader* h) {
         h->bit_count = 8;
         h->width = 32;
         h->height = 8191;  // 16 + 8191 x 32 = 262,128 bytes
         h->file_size = 1 << 30;
       },
       false, Refusal::kNone},
      {"one row more is too long to chain",
       [](ImageHeader* h) {
         h->bit_count = 8;
         h->width = 32;
         h->height = 8192;
         h->file_size = 1 << 30;
       },
       false, Refusal::kTooLargeToChain},
      {"the last path may be any length",
       [](ImageHeader* h) {
         h->bit_count = 8;
         h->width = 32767;
         h->height = 32767;
         h->file_size = int64_t{1} << 31;
       },
       true, Refusal::kNone},
      {"colour entry 1 cut off", [](ImageHeader* h) { h->file_size = 61; }, true,
       Refusal::kTruncated},
      {"8-bit images need no colour entry",
       [](ImageHeader* h) {
         h->bit_count = 8;
         h->width = 4;
         h->height = 1;
         h->data_offset = 54;
         h->file_size = 58;
       },
       true, Refusal::kNone},
      {"last row one byte short", [](ImageHeader* h) { h->file_size -= 3; }, true,
       Refusal::kTruncated},
      {"padding of the last row may be missing", [](ImageHeader* h) { h->file_size -= 2; }, true,
       Refusal::kNone},
      {"data offset past 2 GiB reads as negative",
       [](ImageHeader* h) { h->data_offset = INT32_MIN; }, true, Refusal::kTruncated},
      {"data offset far past the end", [](ImageHeader* h) { h->data_offset = INT32_MAX; }, true,
       Refusal::kTruncated},
      {"width 0 reads no rows",
       [](ImageHeader* h) {
         h->width = 0;
         h->data_offset = INT32_MAX;
       },
       true, Refusal::kNone},
      {"height 0 reads no rows",
       [](ImageHeader* h) {
         h->height = 0;
         h->data_offset = INT32_MAX;
       },
       true, Refusal::kNone},
  };
  for (const Case& c : cases) {
    ImageHeader header = valid_header();
    c.change(&header);
    EXPECT_EQ(check_image(header, c.last_path), c.expected) << c.what;
  }
}

}  // namespace
