// Deciding, before anything is written, whether an input can become a bitmap record.
#ifndef ICONWELD_IMAGE_CHECK_H_
#define ICONWELD_IMAGE_CHECK_H_

#include <cstdio>

#include "bmp_reader.h"

enum class Refusal {
  kNone,
  kTruncated,        // the file ends before something the conversion reads, or is corrupt
  kTrueColour,       // more than 8 bits per pixel
  kCompressed,       // compressed other than as RLE8 at 8 bits or RLE4 at 4 bits, bottom-up
  kDepth,            // not 1, 2, 4 or 8 bits per pixel
  kSize,             // a dimension does not fit the record's signed 16-bit fields
  kTooLargeToChain,  // another record follows, and this one's length does not fit the offset
};

// Checks every header value in one place, in a fixed order, so that each input gets exactly one
// answer. last_path tells whether the input is the last path on the command line: only then
// may its record be longer than a next-record offset can express.
Refusal check_image(const ImageHeader& header, bool last_path);

// The check that reads the pixel array itself, once check_image has accepted the header: an RLE
// stream is read to its end, so that a broken one is refused before its record is begun.
// Uncompressed rows need nothing more.
Refusal check_pixels(std::FILE* in, const ImageHeader& header);

#endif  // ICONWELD_IMAGE_CHECK_H_
