#include "image_check.h"

#include <algorithm>

#include "family_writer.h"
#include "rle_decoder.h"

namespace {

constexpr int32_t kMaxDimension = 32767;
// The signature, file size, reserved fields, data offset and information header size.
constexpr int64_t kMinimumFileSize = 18;

// The bytes of the information header that the conversion reads.
int64_t header_bytes_read(const ImageHeader& header) {
  if (header.header_size == kCoreHeaderSize) return kCoreHeaderSize;
  return std::clamp<int64_t>(header.header_size, 0, 40);
}

bool rows_lie_within_file(const ImageHeader& header) {
  const int64_t rows = picture_height(header);
  const int64_t copied = row_bytes(header);
  if (rows == 0 || copied == 0) return true;
  if (header.data_offset < 0) return false;
  const int64_t end = header.data_offset + (rows - 1) * source_stride(header) + copied;
  return end <= header.file_size;
}

}  // namespace

Refusal check_image(const ImageHeader& header, bool last_path) {
  if (header.file_size < kMinimumFileSize || header.file_size < 14 + header_bytes_read(header)) {
    return Refusal::kTruncated;
  }
  if (header.bit_count > 8) return Refusal::kTrueColour;
  if (header.compression != 0 && !is_rle(header)) return Refusal::kCompressed;
  const int16_t depth = header.bit_count;
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return Refusal::kDepth;
  if (header.width < 0 || header.width > kMaxDimension || picture_height(header) > kMaxDimension) {
    return Refusal::kSize;
  }
  if (!last_path && record_length(header) > kMaxChainedRecordLength) {
    return Refusal::kTooLargeToChain;
  }
  if (depth < 8 && second_palette_entry_end(header) > header.file_size) {
    return Refusal::kTruncated;
  }
  // An RLE stream has no fixed length; check_pixels reads it.
  if (!is_rle(header) && !rows_lie_within_file(header)) return Refusal::kTruncated;
  return Refusal::kNone;
}

Refusal check_pixels(std::FILE* in, const ImageHeader& header) {
  if (is_rle(header) && !rle_stream_is_valid(in, header)) return Refusal::kTruncated;
  return Refusal::kNone;
}
