// Decoding run-length encoded BMP pixel arrays: RLE8 (compression 1, 8 bits per pixel) and
// RLE4 (compression 2, 4 bits per pixel) into the rows an uncompressed file would hold.
//
// The stream begins at the data offset and runs to the end of the file. A cursor starts at the
// left end of the bottom row (rows are stored bottom-up, so "up" is towards the picture's top).
// The stream is read as two-byte codes:
//
//   first   second   meaning
//   n > 0   v        encoded run: n pixels. RLE8: each is v. RLE4: they alternate between v's
//                    high and low nibble, high first (n = 3, v = 0x12 gives 1, 2, 1).
//   0       0        end of line: the cursor moves to the left end of the row above.
//   0       1        end of bitmap: nothing more is set; bytes after it are ignored.
//   0       2        delta: two more bytes dx, dy (unsigned) move the cursor dx pixels right
//                    and dy rows up.
//   0       n >= 3   absolute run: n pixels follow, one a byte (RLE8) or two a byte, high
//                    nibble first (RLE4). When that makes an odd number of bytes, one byte of
//                    padding follows, so that every code starts at an even offset from the
//                    beginning of the stream.
//
// Each run sets pixels from the cursor rightwards and leaves the cursor after them. Pixels that
// the stream never sets (passed over by an end of line, a delta or the end of bitmap) are
// index 0.
//
// A run may reach past the width into the padding of the stored row it stands for, up to the
// row's 4-byte end: encoders that compress whole stored rows write such runs (ImageMagick's RLE8
// covers the padding bytes of every row whose width is not a multiple of 4; an RLE4 encoder
// counting in bytes covers the padding nibble of an odd width). Pixels beyond the width are
// dropped, so those bits stay 0, as in a stored row padded with zeros.
//
// A stream is broken, and the whole input refused, when:
//   - a run reaches past the end of its stored row, padding included;
//   - a delta leaves the image: it lands past the end of the stored row or on a row at or above
//     the height;
//   - any code other than the end of bitmap comes once the cursor has left the top row;
//   - the file ends inside a code, or before the end of bitmap. The one accepted ending without
//     an end of bitmap is right after the end of line that closes the top row: every row has
//     then been ended, and nothing more could be set.
//
// Memory: validating keeps no more than a read window. Writing keeps, per row, where its
// decoding begins (16 bytes a row, 512 KiB at the largest height), one output row and the
// read window, whatever the width or the claimed size.
#ifndef ICONWELD_RLE_DECODER_H_
#define ICONWELD_RLE_DECODER_H_

#include <cstdio>

#include "bmp_reader.h"

constexpr int32_t kRle8 = 1;
constexpr int32_t kRle4 = 2;

// Whether the pixel array is an RLE stream this decoder reads: RLE8 at 8 bits or RLE4 at 4
// bits per pixel, stored bottom-up (the format has no top-down RLE).
bool is_rle(const ImageHeader& header);

// Both functions below take only headers that is_rle accepts, and return false for others.

// Reads the whole stream once and tells whether every code in it is valid for the picture.
bool rle_stream_is_valid(std::FILE* in, const ImageHeader& header);

// Writes the picture's rows, top row first, row_bytes(header) long each, inverted under the
// same rule as uncompressed rows. Returns false when the stream turns out broken (the file
// changed after it was checked); the rows are then written as far as they decode, the rest as
// index 0, so that the record keeps its declared length.
bool copy_rle_rows(std::FILE* in, std::FILE* out, const ImageHeader& header);

#endif  // ICONWELD_RLE_DECODER_H_
