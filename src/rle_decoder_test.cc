#include "rle_decoder.h"

#include <gtest/gtest.h>

#include "bmp_builder.h"
#include "family_writer.h"
#include "test_support.h"

namespace {

// An RLE picture whose colour entry 1 is zero, so that the rows come out as decoded.
Bytes rle_bmp(int16_t bit_count, int32_t width, int32_t height, const Bytes& stream) {
  BmpFixture picture;
  picture.width = width;
  picture.height = height;
  picture.bit_count = bit_count;
  picture.compression = bit_count == 8 ? kRle8 : kRle4;
  picture.palette = {0x000000, 0x000000};
  picture.stream = stream;
  return make_bmp(picture);
}

struct Decoded {
  bool valid = false;     // what the check says of the stream
  bool complete = false;  // what copy_rle_rows returns
  Bytes rows;             // what copy_rle_rows writes
};

Decoded decode(const Bytes& bmp) {
  std::FILE* in = fmemopen(const_cast<uint8_t*>(bmp.data()), bmp.size(), "rb");
  std::FILE* out = std::tmpfile();
  ImageHeader header;
  EXPECT_TRUE(read_image_header(in, &header));
  EXPECT_TRUE(is_rle(header));
  Decoded d;
  d.valid = rle_stream_is_valid(in, header);
  d.complete = copy_rle_rows(in, out, header);
  std::fclose(in);
  d.rows = drain(out);
  return d;
}

TEST(IsRle, OnlyRle8AtEightBitsAndRle4AtFourBitsStoredBottomUp) {
  struct Case {
    const char* what;
    int32_t compression;
    int16_t bit_count;
    int32_t height;
    bool expected;
  };
  const Case cases[] = {
      {"RLE8 at 8 bits", 1, 8, 5, true},
      {"RLE4 at 4 bits", 2, 4, 5, true},
      {"height 0 is not top-down", 1, 8, 0, true},
      {"RLE8 at 4 bits", 1, 4, 5, false},
      {"RLE4 at 8 bits", 2, 8, 5, false},
      {"RLE8 at 1 bit", 1, 1, 5, false},
      {"top-down RLE8", 1, 8, -5, false},
      {"top-down RLE4", 2, 4, -5, false},
      {"uncompressed", 0, 8, 5, false},
      {"RLE24 (OS/2) at 24 bits", 4, 24, 5, false},
  };
  for (const Case& c : cases) {
    ImageHeader header;
    header.compression = c.compression;
    header.bit_count = c.bit_count;
    header.height = c.height;
    EXPECT_EQ(is_rle(header), c.expected) << c.what;
  }
}

TEST(RleDecoder, DecodesEveryCode) {
  struct Case {
    const char* what;
    int16_t bit_count;
    int32_t width;
    int32_t height;
    Bytes stream;
    std::vector<Bytes> rows;  // output rows, top first
  };
  std::vector<Case> cases = {
      {"encoded runs; the bottom row comes first in the stream",
       8,
       4,
       2,
       {2, 5, 2, 6, 0, 0, 4, 7, 0, 1},
       {{7, 7, 7, 7}, {5, 5, 6, 6}}},
      // Were the padding byte taken as a code, 0xFF would be a run far past the row.
      {"absolute run of three pixels, then its padding byte",
       8,
       4,
       1,
       {0, 3, 1, 2, 3, 0xFF, 1, 9, 0, 1},
       {{1, 2, 3, 9}}},
      // Were a padding byte skipped here, the end of bitmap would be misread.
      {"absolute run of four pixels has no padding",
       8,
       4,
       1,
       {0, 4, 1, 2, 3, 4, 0, 1},
       {{1, 2, 3, 4}}},
      {"an early end of line leaves the rest of the row at 0",
       8,
       4,
       2,
       {1, 5, 0, 0, 2, 6, 0, 0, 0, 1},
       {{6, 6, 0, 0}, {5, 0, 0, 0}}},
      {"a delta within the row leaves the pixels it passes at 0",
       8,
       4,
       1,
       {1, 5, 0, 2, 2, 0, 1, 6, 0, 1},
       {{5, 0, 0, 6}}},
      {"a delta up keeps the column; the rows it passes stay 0",
       8,
       4,
       3,
       {1, 5, 0, 2, 1, 2, 1, 6, 0, 1},
       {{0, 0, 6, 0}, {0, 0, 0, 0}, {5, 0, 0, 0}}},
      {"an early end of bitmap leaves the rows above at 0",
       8,
       2,
       3,
       {2, 5, 0, 0, 0, 1},
       {{0, 0}, {0, 0}, {5, 5}}},
      {"the end of line that closes the top row may end the stream",
       8,
       2,
       2,
       {2, 5, 0, 0, 2, 6, 0, 0},
       {{6, 6}, {5, 5}}},
      {"bytes after the end of bitmap are ignored", 8, 2, 1, {2, 5, 0, 1, 0xFF, 0xFF, 7}, {{5, 5}}},
      {"width 0: rows are only ended", 8, 0, 2, {0, 0, 0, 0, 0, 1}, {{}, {}}},
      {"height 0: an empty stream is whole", 8, 4, 0, {}, {}},
      // 4-bit rows are 2-byte aligned: 5 pixels take 4 bytes.
      {"RLE4 encoded run alternates the nibbles, high first",
       4,
       5,
       1,
       {5, 0x12, 0, 1},
       {{0x12, 0x12, 0x10, 0x00}}},
      {"RLE4 absolute run of five pixels: three bytes, then padding",
       4,
       5,
       1,
       {0, 5, 0x12, 0x34, 0x50, 0xFF, 0, 1},
       {{0x12, 0x34, 0x50, 0x00}}},
      {"RLE4 absolute run of three pixels: two bytes, no padding",
       4,
       4,
       1,
       {0, 3, 0xAB, 0xC0, 1, 0xD0, 0, 1},
       {{0xAB, 0xCD}}},
      {"RLE4 delta to an odd column",
       4,
       4,
       1,
       {1, 0x70, 0, 2, 2, 0, 1, 0x80, 0, 1},
       {{0x70, 0x08}}},
      // Runs may reach into the padding of the stored row they stand for, up to its 4-byte
      // end, as encoders of whole stored rows (ImageMagick's among them) write them; the pixels
      // there are dropped, so the bits beyond the width are 0.
      {"RLE8, 3 wide: an encoded run over the padding byte", 8, 3, 1, {4, 5, 0, 1}, {{5, 5, 5, 0}}},
      {"RLE8, 5 wide: an absolute run to the end of the stored row",
       8,
       5,
       1,
       {0, 8, 1, 2, 3, 4, 5, 6, 7, 8, 0, 1},
       {{1, 2, 3, 4, 5, 0}}},
      {"RLE4, 3 wide: an encoded run over the padding pixel",
       4,
       3,
       1,
       {4, 0x56, 0, 1},
       {{0x56, 0x50}}},
      {"RLE4, 3 wide: an absolute run to the end of the stored row",
       4,
       3,
       1,
       {0, 8, 0x12, 0x34, 0x56, 0x78, 0, 1},
       {{0x12, 0x30}}},
  };
  {
    // The bottom row's codes take more than one read window: 10,000 empty deltas, then
    // absolute runs of 255 pixels, which cross from one window into the next.
    const int32_t width = 32767;
    Bytes stream = {1, 5};
    for (int i = 0; i < 10000; ++i) stream.insert(stream.end(), {0, 2, 0, 0});
    Bytes bottom = {5};
    for (int32_t x = 1; x < width;) {
      const int n = std::min(255, width - x);
      stream.insert(stream.end(), {0, static_cast<uint8_t>(n)});
      for (int i = 0; i < n; ++i) {
        stream.push_back(static_cast<uint8_t>((x + i) % 251));
        bottom.push_back(stream.back());
      }
      if (n % 2 == 1) stream.push_back(0);
      x += n;
    }
    stream.insert(stream.end(), {0, 0, 0, 1});
    bottom.push_back(0);  // the output row's padding byte
    cases.push_back(
        {"a row longer than the read window", 8, width, 2, stream, {Bytes(width + 1, 0), bottom}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Decoded d = decode(rle_bmp(c.bit_count, c.width, c.height, c.stream));
    EXPECT_TRUE(d.valid);
    EXPECT_TRUE(d.complete);
    EXPECT_EQ(d.rows, concat(c.rows));
  }
}

TEST(RleDecoder, RefusesBrokenStreams) {
  struct Case {
    const char* what;
    int16_t bit_count;
    int32_t width;
    int32_t height;
    Bytes stream;
  };
  const Case cases[] = {
      // A stored row of 4 pixels at 8 bits has no padding; one of 3 has one byte.
      {"RLE8, 4 wide: an encoded run one pixel past the row", 8, 4, 1, {5, 1, 0, 1}},
      {"RLE8, 4 wide: an absolute run past the row", 8, 4, 1, {0, 5, 1, 2, 3, 4, 5, 0, 0, 1}},
      {"RLE8, 3 wide: a run after the padding, without an end of line",
       8,
       3,
       1,
       {4, 1, 1, 1, 0, 1}},
      {"RLE4, 8 wide: no padding to run into", 4, 8, 1, {9, 0x11, 0, 1}},
      {"RLE4, 3 wide: a run past the stored row's 8 pixels", 4, 3, 1, {9, 0x11, 0, 1}},
      {"delta past the end of the row", 8, 4, 2, {0, 2, 5, 0, 0, 1}},
      {"delta up to the height", 8, 4, 2, {0, 2, 0, 2, 0, 1}},
      {"a run above the top row", 8, 2, 1, {2, 1, 0, 0, 1, 1, 0, 1}},
      {"an end of line above the top row", 8, 2, 1, {2, 1, 0, 0, 0, 0, 0, 1}},
      {"a delta above the top row", 8, 2, 1, {2, 1, 0, 0, 0, 2, 0, 0, 0, 1}},
      {"the file ends inside a row", 8, 2, 1, {2, 1}},
      {"the file ends after the end of line of a row below the top", 8, 2, 2, {2, 1, 0, 0}},
      {"an empty stream for a picture with rows", 8, 2, 1, {}},
      {"the file ends inside a code", 8, 2, 1, {2, 1, 0}},
      {"the file ends inside a delta", 8, 4, 2, {0, 2, 1}},
      {"the file ends inside an absolute run", 8, 4, 1, {0, 4, 1, 2}},
      {"the file ends before an absolute run's padding", 8, 4, 1, {0, 3, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Decoded d = decode(rle_bmp(c.bit_count, c.width, c.height, c.stream));
    EXPECT_FALSE(d.valid);
    // Written anyway (as if the file had changed since its check), the rows keep their length.
    EXPECT_FALSE(d.complete);
    ImageHeader header;
    header.width = c.width;
    header.bit_count = c.bit_count;
    EXPECT_EQ(d.rows.size(), static_cast<size_t>(c.height * row_bytes(header)));
  }
}

// Rows with runs and varied stretches, the bits beyond the width 0, as an uncompressed file with
// zero padding would hold them.
std::vector<Bytes> picture_with_runs(int16_t bit_count, int32_t width, int32_t height) {
  std::vector<Bytes> rows = patterned_rows(bit_count, width, height);
  const int64_t used_bytes = (int64_t{bit_count} * width + 7) / 8;
  for (size_t r = 0; r < rows.size(); ++r) {
    Bytes& row = rows[r];
    // The middle third of each row is one value: encoded runs, longer than 255 in wide rows.
    for (int64_t i = used_bytes / 3; i < 2 * used_bytes / 3; ++i) {
      row[i] = static_cast<uint8_t>(bit_count == 8 ? r : (r % 16) * 0x11);
    }
    for (size_t i = used_bytes; i < row.size(); ++i) row[i] = 0;
    if (bit_count == 4 && width % 2 == 1) row[used_bytes - 1] &= 0xF0;
  }
  return rows;
}

TEST(RleDecoder, GivesTheRecordOfTheUncompressedPicture) {
  struct Case {
    const char* what;
    int16_t bit_count;
    int32_t width;
    int32_t height;
    uint32_t entry_one;  // non-zero: 4-bit records are inverted
  };
  const Case cases[] = {
      {"RLE8, one pixel a row", 8, 1, 3, 0},
      {"RLE8, 2 x 2", 8, 2, 2, 0xFFFFFF},
      {"RLE8, 127 x 64", 8, 127, 64, 0},
      // A stream of some 200 KiB: the read window is refilled, also when moving downwards.
      {"RLE8, 1000 x 300: runs longer than 255", 8, 1000, 300, 0},
      {"RLE4, one pixel", 4, 1, 1, 0},
      {"RLE4, 3 x 5, inverted", 4, 3, 5, 0xFFFFFF},
      {"RLE4, 127 x 64, inverted: the padding nibble inverted too", 4, 127, 64, 0x0000FF},
      {"RLE4, 1001 x 200", 4, 1001, 200, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BmpFixture plain;
    plain.width = c.width;
    plain.height = c.height;
    plain.bit_count = c.bit_count;
    plain.palette = {0x000000, c.entry_one};
    plain.rows = picture_with_runs(c.bit_count, c.width, c.height);
    BmpFixture rle = plain;
    rle.compression = c.bit_count == 8 ? kRle8 : kRle4;
    rle.stream = rle_encode(c.bit_count, c.width, plain.rows);
    bool rle_complete = false;
    bool plain_complete = false;
    EXPECT_EQ(record_from_memory(make_bmp(rle), true, &rle_complete),
              record_from_memory(make_bmp(plain), true, &plain_complete));
    EXPECT_TRUE(rle_complete);
    EXPECT_TRUE(plain_complete);
  }
}

}  // namespace
