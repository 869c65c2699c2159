// Reading the few values of a Windows BMP file that a bitmap record needs.
//
// File header (14 bytes, little-endian):
//
//   offset  size  field
//   0       2     signature "BM"
//   2       4     file size (ignored)
//   6       4     two reserved 16-bit fields (ignored)
//   10      4     data offset: file offset of the pixel array
//
// Information header, at offset 14; its first four bytes give its size. Two layouts:
//
//   OS/2 core header (size 12)          every other size (40 Windows; 16 to 64 OS/2 2.x;
//                                        52, 56, 108, 124 later Windows versions)
//   offset  size  field                  offset  size  field
//   0       4     header size            0       4     header size
//   4       2     width, unsigned        4       4     width, signed
//   6       2     height, unsigned       8       4     height, signed; negative: top-down
//   8       2     planes                 12      2     planes
//   10      2     bit count              14      2     bit count
//                                        16      4     compression (0: none)
//
// Fields that lie beyond the declared header size read as zero. The colour table follows the
// information header directly (offset 14 + header size): entries of 4 bytes (blue, green, red,
// reserved), or of 3 bytes after a core header. Only entry 1 is read.
//
// Pixel rows start at the data offset, each padded to a multiple of 4 bytes, stored bottom row
// first unless the height is negative.
#ifndef ICONWELD_BMP_READER_H_
#define ICONWELD_BMP_READER_H_

#include <cstdint>
#include <cstdio>

struct ImageHeader {
  int32_t data_offset = 0;
  int32_t width = 0;
  int32_t height = 0;  // as stored: negative when rows are stored top row first
  int16_t bit_count = 0;
  // Colour-table entry 1 as one value; only whether it is zero matters. Zero when the entry
  // lies beyond the end of the file.
  uint32_t second_palette_entry = 0;

  // What the checks need beyond the values above.
  int32_t header_size = 0;
  int32_t compression = 0;
  int64_t file_size = 0;
};

constexpr int32_t kCoreHeaderSize = 12;

// Four single-byte reads, least significant byte first. A byte read past the end of the file
// counts as 0xFF.
uint32_t read_le32(std::FILE* in);

// Two single-byte reads, most significant byte first, as a signed 16-bit value.
int16_t read_be16(std::FILE* in);

// Reads the signature and the header values. Returns false, having read only the signature,
// when the file does not begin with "BM". The header values are not checked here.
bool read_image_header(std::FILE* in, ImageHeader* header);

// The number of rows of the picture, whatever order they are stored in.
int64_t picture_height(const ImageHeader& header);

// Length of one stored row: bit_count x width bits, rounded up to a multiple of 4 bytes.
int64_t source_stride(const ImageHeader& header);

// Length of one output row: bit_count x width bits, rounded up to a multiple of 2 bytes.
int64_t row_bytes(const ImageHeader& header);

// File offset of the stored row that becomes output row j (0 is the picture's top row).
int64_t row_position(const ImageHeader& header, int64_t j);

// File offset just past colour-table entry 1.
int64_t second_palette_entry_end(const ImageHeader& header);

#endif  // ICONWELD_BMP_READER_H_
