#include "family_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "rle_decoder.h"

namespace {

// Stored rows are read this many bytes at a time (at least one row): large enough that the calls
// cost little beside the copying, small enough that memory does not follow the image and that
// the block stays in a core's cache together with the output stream's buffer (512 KiB blocks
// measured slower).
constexpr int64_t kBlockBytes = 128 * 1024;

void invert_bytes(unsigned char* p, int64_t n) {
  int64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    word = ~word;
    std::memcpy(p + i, &word, 8);
  }
  for (; i < n; ++i) p[i] = static_cast<unsigned char>(~p[i]);
}

// Reads n bytes at offset into buffer; what cannot be read is left as zero. A stream with a
// file descriptor is read with pread, one call per block: a seek and a read through the stream
// cost a seek, a read to refill the stream's buffer at the new position and a read split
// around that buffer. Streams without one (fmemopen) are read through the stream.
bool read_at(std::FILE* in, int64_t offset, unsigned char* buffer, int64_t n) {
  int64_t got = 0;
  const int fd = fileno(in);
  if (fd >= 0) {
    while (got < n) {
      const ssize_t r = pread(fd, buffer + got, n - got, offset + got);
      if (r <= 0) break;
      got += r;
    }
  } else if (std::fseek(in, offset, SEEK_SET) == 0) {
    got = static_cast<int64_t>(std::fread(buffer, 1, n, in));
  }
  if (got == n) return true;
  std::memset(buffer + got, 0, n - got);
  return false;
}

}  // namespace

void put_byte(std::FILE* out, int value) {
  std::putc(value & 0xFF, out);
}

void put_be16(std::FILE* out, int value) {
  put_byte(out, value >> 8);
  put_byte(out, value & 0xFF);
}

int64_t record_length(const ImageHeader& header) {
  return (kRecordHeaderSize + picture_height(header) * row_bytes(header) + 3) / 4 * 4;
}

void write_record_header(std::FILE* out, const ImageHeader& header, bool last) {
  put_be16(out, header.width);
  put_be16(out, static_cast<int>(picture_height(header)));
  put_be16(out, static_cast<int>(row_bytes(header)));
  put_be16(out, 0);  // flags
  put_byte(out, header.bit_count);
  put_byte(out, last ? 1 : 2);
  put_be16(out, last ? 0 : static_cast<int>(record_length(header) / 4));
  for (int i = 0; i < 4; ++i) put_byte(out, 0);
}

bool copy_rows(std::FILE* in, std::FILE* out, const ImageHeader& header) {
  const int64_t rows = picture_height(header);
  const int64_t out_bytes = row_bytes(header);
  if (rows == 0 || out_bytes == 0) return true;

  const int64_t stride = source_stride(header);
  const bool top_down = header.height < 0;
  const bool invert_pixels = header.bit_count < 8 && header.second_palette_entry != 0;
  const int64_t rows_per_block = std::min(rows, std::max<int64_t>(1, kBlockBytes / stride));
  std::vector<unsigned char> block(rows_per_block * stride);

  bool complete = true;
  for (int64_t first = 0; first < rows; first += rows_per_block) {
    const int64_t count = std::min(rows_per_block, rows - first);
    // The stored rows behind output rows first .. first + count - 1 are contiguous in the
    // file; read them in one go, up to the last byte that is copied.
    const int64_t lowest =
        std::min(row_position(header, first), row_position(header, first + count - 1));
    complete &= read_at(in, lowest, block.data(), (count - 1) * stride + out_bytes);
    for (int64_t k = 0; k < count; ++k) {
      unsigned char* row = block.data() + (top_down ? k : count - 1 - k) * stride;
      if (invert_pixels) invert_bytes(row, out_bytes);
      std::fwrite(row, 1, out_bytes, out);
    }
  }
  return complete;
}

bool write_record(std::FILE* out, std::FILE* in, const ImageHeader& header, bool last) {
  write_record_header(out, header, last);
  const bool complete =
      is_rle(header) ? copy_rle_rows(in, out, header) : copy_rows(in, out, header);
  const int64_t fill =
      record_length(header) - kRecordHeaderSize - picture_height(header) * row_bytes(header);
  for (int64_t i = 0; i < fill; ++i) put_byte(out, 0);
  return complete;
}
