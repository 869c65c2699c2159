// Deciding, before anything is written, whether an input can become a bitmap record.
#ifndef ICONWELD_IMAGE_CHECK_H_
#define ICONWELD_IMAGE_CHECK_H_

#include "bmp_reader.h"

enum class Refusal {
  kNone,
  kTruncated,        // the file ends before something the conversion reads, or is corrupt
  kTrueColour,       // more than 8 bits per pixel
  kCompressed,       // any compression
  kDepth,            // not 1, 2, 4 or 8 bits per pixel
  kSize,             // a dimension does not fit the record's signed 16-bit fields
  kTooLargeToChain,  // another record follows, and this one's length does not fit the offset
};

// Checks every header value in one place, in a fixed order, so that each input gets exactly one
// answer. last_path tells whether the input is the last path on the command line: only then
// may its record be longer than a next-record offset can express.
Refusal check_image(const ImageHeader& header, bool last_path);

#endif  // ICONWELD_IMAGE_CHECK_H_
