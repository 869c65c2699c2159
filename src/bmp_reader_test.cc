#include "bmp_reader.h"

#include <gtest/gtest.h>

#include "bmp_builder.h"

namespace {

// An in-memory stream over bytes, closed when the value goes.
struct MemoryFile {
  explicit MemoryFile(Bytes contents) : bytes(std::move(contents)) {
    // fmemopen refuses a zero-length buffer; keep one byte but expose none of it.
    if (bytes.empty()) {
      bytes.push_back(0);
      file = fmemopen(bytes.data(), 1, "rb");
      std::fgetc(file);
    } else {
      file = fmemopen(bytes.data(), bytes.size(), "rb");
    }
  }
  ~MemoryFile() { std::fclose(file); }
  Bytes bytes;
  std::FILE* file = nullptr;
};

TEST(ByteOrder, ReadsLittleAndBigEndianAndCountsMissingBytesAsFF) {
  MemoryFile f({0x78, 0x56, 0x34, 0x12, 0x80, 0x01, 0x42});
  EXPECT_EQ(read_le32(f.file), 0x12345678u);
  EXPECT_EQ(read_be16(f.file), static_cast<int16_t>(0x8001));  // negative as signed 16-bit
  // One byte left, then the end of the file.
  EXPECT_EQ(read_le32(f.file), 0xFFFFFF42u);
  EXPECT_EQ(read_be16(f.file), -1);
}

TEST(ReadImageHeader, RefusesFilesWithoutTheSignature) {
  const Bytes cases[] = {
      {'M', 'B', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0},  // reversed
      {'B', 'A', 0, 0},                                             // OS/2 bitmap array
      {'B'},                                                        // one byte
      {},                                                           // empty
  };
  for (const Bytes& bytes : cases) {
    MemoryFile f(bytes);
    ImageHeader header;
    EXPECT_FALSE(read_image_header(f.file, &header)) << bytes.size() << " bytes";
  }
}

TEST(ReadImageHeader, ReadsEveryHeaderLayout) {
  struct Case {
    const char* what;
    int32_t header_size;
    int32_t height;
  };
  const Case cases[] = {
      {"Windows 3 header", 40, 9},
      {"top-down rows", 40, -9},
      {"OS/2 core header: 16-bit fields, 3-byte colours", 12, 9},
      {"shortest OS/2 2.x header", 16, 9},
      {"longest OS/2 2.x header", 64, 9},
      {"version 4 header", 108, 9},
      {"version 5 header", 124, -9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BmpFixture fixture;
    fixture.header_size = c.header_size;
    fixture.width = 15;
    fixture.height = c.height;
    fixture.bit_count = 4;
    // Entry 0 black, entry 1 white: only entry 1 may set second_palette_entry.
    fixture.palette = {0x000000, 0xFFFFFF};
    fixture.rows = patterned_rows(4, 15, 9);
    const Bytes bmp = make_bmp(fixture);
    MemoryFile f(bmp);
    ImageHeader header;
    ASSERT_TRUE(read_image_header(f.file, &header));
    EXPECT_EQ(header.header_size, c.header_size);
    EXPECT_EQ(header.width, 15);
    EXPECT_EQ(header.height, c.height);
    EXPECT_EQ(header.bit_count, 4);
    EXPECT_EQ(header.compression, 0);
    EXPECT_EQ(header.data_offset, 14 + c.header_size + (c.header_size == 12 ? 6 : 8));
    EXPECT_EQ(header.second_palette_entry, 0xFFFFFFu);
    EXPECT_EQ(header.file_size, static_cast<int64_t>(bmp.size()));
  }
}

TEST(ReadImageHeader, TakesColourEntryOneFromTheTableNotFromFixedOffsets) {
  // With a 108-byte header, file offset 58 (where a fixed 40-byte layout would look for entry 1)
  // is inside the header; here the real entry 1 is black, with a bright entry 0.
  BmpFixture fixture;
  fixture.header_size = 108;
  fixture.width = 8;
  fixture.height = 1;
  fixture.bit_count = 1;
  fixture.palette = {0xFFFFFF, 0x000000};
  Bytes bmp = make_bmp(fixture);
  bmp[58] = 0x7F;
  MemoryFile f(bmp);
  ImageHeader header;
  ASSERT_TRUE(read_image_header(f.file, &header));
  EXPECT_EQ(header.second_palette_entry, 0u);
}

TEST(ReadImageHeader, FieldsBeyondTheDeclaredSizeReadAsZero) {
  // A 16-byte header ends after the bit count; the colour table's first bytes must not be
  // mistaken for a compression field.
  BmpFixture fixture;
  fixture.header_size = 16;
  fixture.width = 8;
  fixture.height = 2;
  fixture.bit_count = 8;
  fixture.palette = {0x000001, 0x000000};
  MemoryFile f(make_bmp(fixture));
  ImageHeader header;
  ASSERT_TRUE(read_image_header(f.file, &header));
  EXPECT_EQ(header.compression, 0);
  EXPECT_EQ(header.bit_count, 8);
}

TEST(ReadImageHeader, ColourEntryPastTheEndOfTheFileReadsAsZero) {
  BmpFixture fixture;
  fixture.width = 8;
  fixture.height = 1;
  fixture.bit_count = 1;
  fixture.palette = {0x000000, 0xFFFFFF};
  Bytes bmp = make_bmp(fixture);
  bmp.resize(14 + 40 + 6);  // entry 1 cut in half
  MemoryFile f(bmp);
  ImageHeader header;
  ASSERT_TRUE(read_image_header(f.file, &header));
  EXPECT_EQ(header.second_palette_entry, 0u);
  EXPECT_EQ(second_palette_entry_end(header), 14 + 40 + 8);
}

TEST(RowGeometry, LengthsAndPositions) {
  struct Case {
    const char* what;
    int16_t bit_count;
    int32_t width;
    int32_t height;
    int64_t row_bytes;
    int64_t stride;
    int64_t top_row_position;     // output row 0
    int64_t bottom_row_position;  // output row |height| - 1
  };
  const Case cases[] = {
      {"1-bit, 15 wide: 2 of 4 stored bytes copied", 1, 15, 9, 2, 4, 100 + 8 * 4, 100},
      {"1-bit, 16 wide", 1, 16, 9, 2, 4, 100 + 8 * 4, 100},
      {"1-bit, 17 wide", 1, 17, 9, 4, 4, 100 + 8 * 4, 100},
      {"2-bit, 9 wide", 2, 9, 3, 4, 4, 100 + 2 * 4, 100},
      {"4-bit, 5 wide", 4, 5, 2, 4, 4, 104, 100},
      {"8-bit, 3 wide: stride padded to 4", 8, 3, 2, 4, 4, 104, 100},
      {"8-bit, 34 wide: row 34, stride 36", 8, 34, 2, 34, 36, 136, 100},
      {"top-down: first stored row is the top", 8, 3, -2, 4, 4, 100, 104},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ImageHeader header;
    header.data_offset = 100;
    header.width = c.width;
    header.height = c.height;
    header.bit_count = c.bit_count;
    EXPECT_EQ(row_bytes(header), c.row_bytes);
    EXPECT_EQ(source_stride(header), c.stride);
    EXPECT_EQ(row_position(header, 0), c.top_row_position);
    EXPECT_EQ(row_position(header, picture_height(header) - 1), c.bottom_row_position);
  }
}

}  // namespace
