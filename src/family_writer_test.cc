#include "family_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "bmp_builder.h"
#include "test_support.h"

namespace {

// A record from a file on disk, which is read through its descriptor rather than the stream.
// The last cut bytes of the file are cut off after its header has been read.
Bytes record_from_file(const Bytes& bmp, bool* complete, size_t cut = 0) {
  ScratchDir dir;
  const std::string path = dir.file("in.bmp", bmp);
  std::FILE* in = std::fopen(path.c_str(), "rb");
  std::FILE* out = std::tmpfile();
  ImageHeader header;
  EXPECT_TRUE(read_image_header(in, &header));
  std::filesystem::resize_file(path, bmp.size() - cut);
  *complete = write_record(out, in, header, /*last=*/true);
  std::fclose(in);
  return drain(out);
}

TEST(PutBe16, WritesTheLowSixteenBitsHighByteFirst) {
  std::FILE* out = std::tmpfile();
  put_be16(out, 0x1234);
  put_be16(out, -2);
  put_be16(out, 0x18000);
  put_byte(out, 0x1FF);
  Bytes written(7);
  std::rewind(out);
  ASSERT_EQ(std::fread(written.data(), 1, 7, out), 7u);
  std::fclose(out);
  EXPECT_EQ(written, (Bytes{0x12, 0x34, 0xFF, 0xFE, 0x80, 0x00, 0xFF}));
}

TEST(WriteRecord, OneBitFifteenByNineIsInvertedAndFilled) {
  BmpFixture fixture;
  fixture.width = 15;
  fixture.height = 9;
  fixture.bit_count = 1;
  fixture.palette = {0x000000, 0xFFFFFF};
  fixture.rows = patterned_rows(1, 15, 9);
  const Bytes record = record_from_memory(make_bmp(fixture), /*last=*/true);
  ASSERT_EQ(record.size(), 36u);
  EXPECT_EQ(Bytes(record.begin(), record.begin() + 16),
            (Bytes{0x00, 0x0F, 0x00, 0x09, 0x00, 0x02, 0, 0, 0x01, 0x01, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(record, expected_record(15, 9, 2, 1, true, output_rows(fixture.rows, 2, true)));
}

TEST(WriteRecord, RowsTopFirstWithTheInversionRule) {
  struct Case {
    const char* what;
    int16_t bit_count;
    int32_t width;
    int32_t height;
    uint32_t entry_one;
    bool inverted;
    int32_t header_size = 40;
  };
  const Case cases[] = {
      {"1-bit, 16 x 16: no fill", 1, 16, 16, 0xFFFFFF, true},
      {"2-bit, top-down", 2, 9, -5, 0x555555, true},
      {"4-bit, entry 1 zero: unchanged", 4, 7, 3, 0, false},
      {"4-bit, entry 1 black with a non-zero reserved byte", 4, 7, 3, 0x01000000, true},
      {"8-bit is never inverted", 8, 5, 3, 0xFFFFFF, false},
      {"core header, 3-byte colours", 1, 20, 4, 0xFFFFFF, true, 12},
      {"width 0: header only", 8, 0, 4, 0xFFFFFF, false},
      {"height 0: header only", 8, 4, 0, 0xFFFFFF, false},
      // Several blocks of stored rows, the last one partial.
      {"8-bit, 3000 x 500 bottom-up", 8, 3000, 500, 0, false},
      {"4-bit, 3001 x -700 top-down", 4, 3001, -700, 0xFFFFFF, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BmpFixture fixture;
    fixture.header_size = c.header_size;
    fixture.width = c.width;
    fixture.height = c.height;
    fixture.bit_count = c.bit_count;
    fixture.palette = {0x000000, c.entry_one};
    fixture.rows = patterned_rows(c.bit_count, c.width, c.height);
    ImageHeader header;
    header.width = c.width;
    header.bit_count = c.bit_count;
    const int out_row = static_cast<int>(row_bytes(header));
    const int height = std::abs(c.height);
    for (bool last : {false, true}) {
      EXPECT_EQ(record_from_memory(make_bmp(fixture), last),
                expected_record(c.width, height, out_row, c.bit_count, last,
                                output_rows(fixture.rows, out_row, c.inverted)));
    }
  }
}

TEST(WriteRecord, InputThatComesUpShortKeepsTheRecordLength) {
  // The checks refuse such files; here the writer is called directly, as if the file had
  // shrunk after it was checked.
  BmpFixture fixture;
  fixture.width = 8;
  fixture.height = 4;
  fixture.bit_count = 8;
  fixture.rows = patterned_rows(8, 8, 4);
  Bytes bmp = make_bmp(fixture);
  bmp.resize(bmp.size() - 8);  // the top row is gone
  bool complete = true;
  const Bytes record = record_from_memory(bmp, true, &complete);
  EXPECT_FALSE(complete);
  std::vector<Bytes> rows = output_rows(fixture.rows, 8, false);
  rows[0] = Bytes(8, 0);
  EXPECT_EQ(record, expected_record(8, 4, 8, 8, true, rows));
}

TEST(WriteRecord, RowsFromAFileOnDiskInSeveralBlocks) {
  for (int32_t height : {500, -700}) {
    SCOPED_TRACE(height);
    BmpFixture layout;
    layout.width = 3001;
    layout.height = height;
    layout.bit_count = 4;
    layout.palette = {0x000000, 0xFFFFFF};
    layout.rows = patterned_rows(4, 3001, height);
    bool complete = false;
    EXPECT_EQ(record_from_file(make_bmp(layout), &complete),
              expected_record(3001, std::abs(height), 1502, 4, true,
                              output_rows(layout.rows, 1502, true)));
    EXPECT_TRUE(complete);
  }
}

TEST(WriteRecord, FileThatShrinksKeepsTheRecordLength) {
  BmpFixture layout;
  layout.width = 8;
  layout.height = 4;
  layout.bit_count = 8;
  layout.rows = patterned_rows(8, 8, 4);
  bool complete = true;
  const Bytes record = record_from_file(make_bmp(layout), &complete, /*cut=*/8);
  EXPECT_FALSE(complete);
  std::vector<Bytes> rows = output_rows(layout.rows, 8, false);
  rows[0] = Bytes(8, 0);  // the top row is stored last
  EXPECT_EQ(record, expected_record(8, 4, 8, 8, true, rows));
}

}  // namespace
