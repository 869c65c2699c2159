#include "bmp_reader.h"

#include <cstdlib>

namespace {

constexpr int64_t kFileHeaderSize = 14;
// Everything the conversion needs lies within the first 40 bytes of any information header.
constexpr int kInfoBlockSize = 40;

uint32_t le32_at(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t le16_at(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// A field of the information header, or zero when it lies beyond the header's declared size.
uint32_t info_field(const unsigned char* block, int32_t header_size, int offset, int size) {
  if (offset + size > header_size) return 0;
  return size == 4 ? le32_at(block + offset) : le16_at(block + offset);
}

int colour_entry_size(const ImageHeader& header) {
  return header.header_size == kCoreHeaderSize ? 3 : 4;
}

}  // namespace

uint32_t read_le32(std::FILE* in) {
  uint32_t value = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    value |= static_cast<uint32_t>(std::getc(in) & 0xFF) << shift;
  }
  return value;
}

int16_t read_be16(std::FILE* in) {
  const int high = std::getc(in);
  const int low = std::getc(in);
  return static_cast<int16_t>(((high << 8) | low) & 0xFFFF);
}

bool read_image_header(std::FILE* in, ImageHeader* header) {
  if (read_be16(in) != 0x424D) return false;

  ImageHeader h;
  read_le32(in);  // file size, often wrong in the wild
  read_le32(in);  // reserved
  h.data_offset = static_cast<int32_t>(read_le32(in));

  if (std::fseek(in, 0, SEEK_END) == 0) h.file_size = std::ftell(in);
  if (h.file_size < 0) h.file_size = 0;

  // Bytes beyond the end of the file stay zero; the checks refuse files cut that short.
  unsigned char block[kInfoBlockSize] = {};
  if (std::fseek(in, kFileHeaderSize, SEEK_SET) == 0) {
    (void)std::fread(block, 1, sizeof block, in);
  }
  h.header_size = static_cast<int32_t>(le32_at(block));
  if (h.header_size == kCoreHeaderSize) {
    h.width = le16_at(block + 4);
    h.height = le16_at(block + 6);
    h.bit_count = static_cast<int16_t>(le16_at(block + 10));
  } else {
    h.width = static_cast<int32_t>(info_field(block, h.header_size, 4, 4));
    h.height = static_cast<int32_t>(info_field(block, h.header_size, 8, 4));
    h.bit_count = static_cast<int16_t>(info_field(block, h.header_size, 14, 2));
    h.compression = static_cast<int32_t>(info_field(block, h.header_size, 16, 4));
  }

  const int entry_size = colour_entry_size(h);
  const int64_t entry_end = second_palette_entry_end(h);
  if (entry_end <= h.file_size && std::fseek(in, entry_end - entry_size, SEEK_SET) == 0) {
    unsigned char entry[4] = {};
    if (std::fread(entry, 1, entry_size, in) == static_cast<size_t>(entry_size)) {
      h.second_palette_entry = le32_at(entry);
    }
  }

  *header = h;
  return true;
}

int64_t picture_height(const ImageHeader& header) {
  return std::llabs(static_cast<int64_t>(header.height));
}

int64_t source_stride(const ImageHeader& header) {
  return (int64_t{header.bit_count} * header.width + 31) / 32 * 4;
}

int64_t row_bytes(const ImageHeader& header) {
  return (int64_t{header.bit_count} * header.width + 15) / 16 * 2;
}

int64_t row_position(const ImageHeader& header, int64_t j) {
  const bool top_down = header.height < 0;
  const int64_t stored_row = top_down ? j : picture_height(header) - 1 - j;
  return header.data_offset + stored_row * source_stride(header);
}

int64_t second_palette_entry_end(const ImageHeader& header) {
  return kFileHeaderSize + header.header_size + 2 * colour_entry_size(header);
}
