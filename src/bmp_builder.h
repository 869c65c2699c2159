// Making BMP files in memory, for tests, fuzz seeds, benchmarks and the bundled examples.
#ifndef ICONWELD_BMP_BUILDER_H_
#define ICONWELD_BMP_BUILDER_H_

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct BmpFixture {
  int32_t header_size = 40;  // 12 is the OS/2 core layout
  int32_t width = 0;
  int32_t height = 0;  // negative: rows stored top row first
  int16_t bit_count = 8;
  int32_t compression = 0;
  // Colour-table entries as 0x00RRGGBB (with a reserved byte on top when not 0).
  std::vector<uint32_t> palette;
  // Picture rows, top row first. Each is padded (or cut) to the stored row length; padding
  // bytes are 0xEE so that a test sees when they are copied.
  std::vector<Bytes> rows;
  // Bytes left between the colour table and the pixel array.
  int32_t gap = 0;
  // With compression 1 or 2 (RLE8, RLE4): the pixel array, written as is in place of the rows.
  Bytes stream;
};

// The stored length of one row: bit_count x width bits rounded up to 4 bytes.
int64_t bmp_stride(int16_t bit_count, int32_t width);

Bytes make_bmp(const BmpFixture& fixture);

// A picture whose rows differ from each other and whose bytes differ along each row, so that a
// row taken from the wrong place or in the wrong order shows.
std::vector<Bytes> patterned_rows(int16_t bit_count, int32_t width, int32_t height);

// An RLE8 (bit_count 8) or RLE4 (bit_count 4) stream for a picture given as rows, top row first,
// each holding at least width pixels: equal pixels make encoded runs of up to 255, other stretches
// absolute runs (single pixels and, in RLE4, pairs become short encoded runs); every row ends
// with an end of line, the last one with an end of bitmap too.
Bytes rle_encode(int16_t bit_count, int32_t width, const std::vector<Bytes>& rows);

// A grey ramp from black at index 0 to white at the top index.
std::vector<uint32_t> grey_ramp(int16_t bit_count);

// An uncompressed picture with patterned rows and a grey-ramp colour table, so that below 8 bits
// its record is inverted. A negative height stores the rows top-down.
BmpFixture grey_picture(int16_t bit_count, int32_t width, int32_t height);

Bytes read_file(const std::string& path);
bool write_file(const std::string& path, const Bytes& bytes);

#endif  // ICONWELD_BMP_BUILDER_H_
