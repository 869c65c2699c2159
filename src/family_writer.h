// Writing the bitmap family file: a chain of Palm OS bitmap records, one per image, each
// beginning where the previous one ends, nothing before the first or after the last.
//
// One record (all 16-bit fields big-endian):
//
//   offset          size                 field
//   0               2                    width in pixels
//   2               2                    height in pixels
//   4               2                    row bytes: bit count x width bits, rounded up to 2 bytes
//   6               2                    flags: 0
//   8               1                    pixel size: bits per pixel (1, 2, 4 or 8)
//   9               1                    version: 2 when another record follows, 1 for the last
//   10              2                    next-record offset: this record's length in 4-byte
//                                        units (0 for the last record)
//   12              4                    reserved: 0
//   16              height x row bytes   pixel rows, top row first
//   16 + rows       0 or 2               zero fill to a multiple of 4 bytes
//
// Pixels are the BMP's palette indices, copied unchanged, except that below 8 bits per pixel
// every bit is inverted when the BMP's colour-table entry 1 is not zero: the format reads
// index 0 as white, and a BMP whose entry 1 is non-zero (black then white, or a grey ramp)
// has its bright colours at the high indices.
#ifndef ICONWELD_FAMILY_WRITER_H_
#define ICONWELD_FAMILY_WRITER_H_

#include <cstdint>
#include <cstdio>

#include "bmp_reader.h"

constexpr int64_t kRecordHeaderSize = 16;
// The longest record whose next-record offset fits in 16 bits.
constexpr int64_t kMaxChainedRecordLength = 0xFFFF * 4;

// Writes the low 8 bits of value.
void put_byte(std::FILE* out, int value);

// Writes the low 16 bits of value, high byte first.
void put_be16(std::FILE* out, int value);

// The record's whole length: header, pixel rows and fill.
int64_t record_length(const ImageHeader& header);

// The 16 header bytes. The caller has made sure the values fit their fields.
void write_record_header(std::FILE* out, const ImageHeader& header, bool last);

// The pixel rows, top row first. Reads stored rows in large blocks; the caller has made sure
// that every byte read lies within the file. Returns false when the input nonetheless came up
// short (it changed while being read); the missing bytes are written as zero so that the
// record keeps its declared length.
bool copy_rows(std::FILE* in, std::FILE* out, const ImageHeader& header);

// Header, pixel rows and fill; the rows of an RLE picture come from copy_rle_rows. Returns false
// as copy_rows does.
bool write_record(std::FILE* out, std::FILE* in, const ImageHeader& header, bool last);

#endif  // ICONWELD_FAMILY_WRITER_H_
