#include "rle_decoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The stream is read this many bytes at a time: one system call serves thousands of codes, and
// the window stays small next to the rows it feeds.
constexpr int64_t kWindowBytes = 64 * 1024;

// The stream, read through a window of the file that is refilled a block at a time.
struct StreamReader {
  std::FILE* file = nullptr;
  int64_t begin = 0;     // file offset of the stream's first byte
  int64_t end = 0;       // the file's length: no byte at or past it is read
  int64_t position = 0;  // file offset of the next byte
  std::vector<unsigned char> window;
  int64_t window_start = 0;
  int64_t window_length = 0;
};

// The picture as the decoder sees it.
struct Picture {
  int64_t width = 0;
  int64_t height = 0;
  int depth = 8;
  // The column no run may pass: the pixels of a stored row, padding included.
  int64_t row_limit = 0;
};

struct Cursor {
  int64_t x = 0;
  int64_t y = 0;  // stored row: 0 is the bottom row of the picture
};

// Where the cursor enters a stored row, found by the first pass so that the second can decode
// the rows in the opposite order.
struct RowStart {
  int64_t offset = -1;  // file offset of the row's first code; -1: the stream never enters it
  int64_t column = 0;
};

enum class Code {
  kInRow,        // a run, or a delta that stays in the row
  kNewRow,       // an end of line, or a delta that moves up
  kEndOfBitmap,  // the end of bitmap
  kEndOfStream,  // the file ended where a code would begin
  kBroken,       // the code is invalid for the picture, or the file ends inside it
};

StreamReader reader_for(std::FILE* in, const ImageHeader& header) {
  StreamReader r;
  r.file = in;
  r.end = header.file_size;
  // A data offset outside the file leaves an empty stream.
  r.begin = header.data_offset < 0 ? r.end : std::min<int64_t>(header.data_offset, r.end);
  r.position = r.begin;
  return r;
}

Picture picture_of(const ImageHeader& header) {
  Picture p;
  p.width = header.width;
  p.height = picture_height(header);
  p.depth = header.bit_count;
  p.row_limit = p.width < 0 ? 0 : source_stride(header) * 8 / p.depth;  // depth is 4 or 8
  return p;
}

// Fills the window with the bytes from first on; false when there are none.
bool load_window(StreamReader* r, int64_t first) {
  r->window_start = first;
  r->window_length = 0;
  if (first < 0 || first >= r->end) return false;
  const int64_t n = std::min(kWindowBytes, r->end - first);
  r->window.resize(kWindowBytes);
  if (std::fseek(r->file, first, SEEK_SET) != 0) return false;
  r->window_length = static_cast<int64_t>(std::fread(r->window.data(), 1, n, r->file));
  return r->window_length > 0;
}

// When the bytes [first, last) fit in one window but are not all in the current one, loads the
// window that ends at last: rows are written top first, so the row wanted next lies just below.
void load_window_ending_at(StreamReader* r, int64_t first, int64_t last) {
  const bool held = first >= r->window_start && last <= r->window_start + r->window_length;
  if (held || last - first > kWindowBytes) return;
  load_window(r, std::max(r->begin, last - kWindowBytes));
}

bool read_byte(StreamReader* r, int* value) {
  int64_t at = r->position - r->window_start;
  if (at < 0 || at >= r->window_length) {
    if (!load_window(r, r->position)) return false;
    at = 0;
  }
  *value = r->window[at];
  ++r->position;
  return true;
}

// Copies the next n bytes to destination; false when the file holds fewer.
bool read_bytes(StreamReader* r, unsigned char* destination, int64_t n) {
  while (n > 0) {
    int64_t at = r->position - r->window_start;
    if (at < 0 || at >= r->window_length) {
      if (!load_window(r, r->position)) return false;
      at = 0;
    }
    const int64_t k = std::min(n, r->window_length - at);
    std::memcpy(destination, r->window.data() + at, k);
    destination += k;
    n -= k;
    r->position += k;
  }
  return true;
}

// Moves past n bytes without reading them; false when the file holds fewer.
bool skip_bytes(StreamReader* r, int64_t n) {
  if (r->end - r->position < n) return false;
  r->position += n;
  return true;
}

// RLE4 pixel i of a run whose byte is value: the high nibble first.
int nibble_of(int value, int64_t i) {
  return i % 2 == 0 ? value >> 4 : value & 0x0F;
}

// Sets an RLE4 pixel of a row that was zeroed first; pixels beyond the width are dropped.
void set_nibble(unsigned char* row, const Picture& p, int64_t x, int value) {
  if (x >= p.width) return;
  row[x / 2] |= static_cast<unsigned char>(x % 2 == 0 ? value << 4 : value);
}

// How many of n pixels from column x lie within the width; the rest are dropped.
int64_t kept_pixels(const Picture& p, int64_t x, int64_t n) {
  return std::clamp<int64_t>(p.width - x, 0, n);
}

// A run of n pixels may start at the cursor only inside the picture and within the row.
bool run_fits(const Picture& p, const Cursor& c, int64_t n) {
  return c.y < p.height && n <= p.row_limit - c.x;
}

// Reads the code at the reader's position and moves the cursor. When row is not null, the run's
// pixels are set in it (it is the cursor's row); otherwise absolute runs are skipped unread.
Code read_code(StreamReader* r, const Picture& p, Cursor* c, unsigned char* row) {
  int first = 0;
  int second = 0;
  if (!read_byte(r, &first)) return Code::kEndOfStream;
  if (!read_byte(r, &second)) return Code::kBroken;

  if (first > 0) {  // encoded run
    if (!run_fits(p, *c, first)) return Code::kBroken;
    if (row != nullptr && p.depth == 8) {
      const int64_t kept = kept_pixels(p, c->x, first);
      if (kept > 0) std::memset(row + c->x, second, kept);
    } else if (row != nullptr) {
      for (int64_t i = 0; i < first; ++i) set_nibble(row, p, c->x + i, nibble_of(second, i));
    }
    c->x += first;
    return Code::kInRow;
  }

  if (second == 0) {  // end of line
    if (c->y >= p.height) return Code::kBroken;
    c->x = 0;
    ++c->y;
    return Code::kNewRow;
  }
  if (second == 1) return Code::kEndOfBitmap;
  if (second == 2) {  // delta
    int dx = 0;
    int dy = 0;
    if (!read_byte(r, &dx) || !read_byte(r, &dy)) return Code::kBroken;
    if (dy >= p.height - c->y || dx > p.row_limit - c->x) return Code::kBroken;
    c->x += dx;
    c->y += dy;
    return dy == 0 ? Code::kInRow : Code::kNewRow;
  }

  // Absolute run of `second` pixels.
  const int64_t n = second;
  if (!run_fits(p, *c, n)) return Code::kBroken;
  const int64_t bytes = p.depth == 8 ? n : (n + 1) / 2;
  if (row == nullptr) {
    if (!skip_bytes(r, bytes + bytes % 2)) return Code::kBroken;
  } else if (p.depth == 8) {
    const int64_t kept = kept_pixels(p, c->x, n);
    if ((kept > 0 && !read_bytes(r, row + c->x, kept)) || !skip_bytes(r, n - kept + n % 2)) {
      return Code::kBroken;
    }
  } else {
    int value = 0;
    for (int64_t i = 0; i < n; ++i) {
      if (i % 2 == 0 && !read_byte(r, &value)) return Code::kBroken;
      set_nibble(row, p, c->x + i, nibble_of(value, i));
    }
    if (bytes % 2 == 1 && !skip_bytes(r, 1)) return Code::kBroken;
  }
  c->x += n;
  return Code::kInRow;
}

// Reads the whole stream, recording in starts (when not null) where the cursor enters each
// row. Returns whether the stream is valid; *stream_end is where reading stopped.
bool scan_stream(StreamReader* r, const Picture& p, std::vector<RowStart>* starts,
                 int64_t* stream_end) {
  Cursor c;
  if (starts != nullptr && p.height > 0) (*starts)[0] = RowStart{r->position, 0};
  for (;;) {
    const Code code = read_code(r, p, &c, nullptr);
    *stream_end = r->position;
    switch (code) {
      case Code::kInRow:
        break;
      case Code::kNewRow:
        if (starts != nullptr && c.y < p.height) (*starts)[c.y] = RowStart{r->position, c.x};
        break;
      case Code::kEndOfBitmap:
        return true;
      case Code::kEndOfStream:
        // Only the end of line that closes the top row may end the stream.
        return c.x == 0 && c.y == p.height;
      case Code::kBroken:
        return false;
    }
  }
}

// Decodes stored row y from where the cursor enters it into row, which is zeroed. Returns false
// when the stream breaks off inside the row.
bool decode_row(StreamReader* r, const Picture& p, int64_t y, const RowStart& start,
                unsigned char* row) {
  r->position = start.offset;
  Cursor c{start.column, y};
  for (;;) {
    const Code code = read_code(r, p, &c, row);
    if (code != Code::kInRow) return code == Code::kNewRow || code == Code::kEndOfBitmap;
  }
}

}  // namespace

bool is_rle(const ImageHeader& header) {
  const bool rle8 = header.compression == kRle8 && header.bit_count == 8;
  const bool rle4 = header.compression == kRle4 && header.bit_count == 4;
  return (rle8 || rle4) && header.height >= 0;
}

bool rle_stream_is_valid(std::FILE* in, const ImageHeader& header) {
  if (!is_rle(header)) return false;
  StreamReader r = reader_for(in, header);
  int64_t stream_end = 0;
  return scan_stream(&r, picture_of(header), nullptr, &stream_end);
}

bool copy_rle_rows(std::FILE* in, std::FILE* out, const ImageHeader& header) {
  if (!is_rle(header)) return false;
  const Picture p = picture_of(header);
  const int64_t out_bytes = row_bytes(header);
  if (p.height == 0 || out_bytes == 0) return true;

  StreamReader r = reader_for(in, header);
  std::vector<RowStart> starts(p.height);
  int64_t stream_end = 0;
  bool complete = scan_stream(&r, p, &starts, &stream_end);

  const bool invert_pixels = p.depth < 8 && header.second_palette_entry != 0;
  std::vector<unsigned char> row(out_bytes);
  int64_t above = stream_end;  // where the codes of the row above begin
  for (int64_t y = p.height - 1; y >= 0; --y) {
    std::fill(row.begin(), row.end(), 0);
    const RowStart& start = starts[y];
    if (start.offset >= 0) {
      load_window_ending_at(&r, start.offset, above);
      complete &= decode_row(&r, p, y, start, row.data());
      above = start.offset;
    }
    if (invert_pixels) {
      for (unsigned char& b : row) b = static_cast<unsigned char>(~b);
    }
    std::fwrite(row.data(), 1, row.size(), out);
  }
  return complete;
}
