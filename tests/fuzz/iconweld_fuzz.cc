// Fuzz target: the whole conversion, on one or two inputs cut from the fuzzer's data, checked
// against what any correct conversion must satisfy.
//
// The data is one BMP file, or two joined by the separator below. The inputs are written to
// files and converted by run_iconweld exactly as the program would; then:
// - every input gets exactly one message line, in order, and the exit status agrees with them;
// - the output is a well-formed chain: each record's header agrees with the bytes after it,
//   versions and next-record offsets are exact, and the last record ends the chain at the end
//   of the file;
// - there is one record per accepted input, with the width, height and depth it was announced
//   with;
// - a record holds exactly the pixels that a plain reading of the input gives (byte by byte for
//   stored rows, a naive whole-picture decoder for RLE), and that reading never needs a byte
//   past the input's end nor sets a pixel outside the picture's stored rows;
// - the output is no longer than the uncompressed inputs plus 18 bytes each.
// RLE inputs claiming more than kMaxFuzzPixels pixels are not run: a valid stream of a few bytes
// may stand for a gigabyte of index-0 pixels, which is correct but slow.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver.h"

namespace {

constexpr char kSeparator[] = "\nNEXT\n";
constexpr int64_t kMaxFuzzPixels = int64_t{1} << 22;

using Bytes = std::vector<uint8_t>;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

void require(bool condition, const char* what) {
  if (!condition) fail(what);
}

// A byte of an input, read the plain way: failing, not guessing, past the end.
uint8_t byte_at(const Bytes& file, int64_t offset) {
  require(offset >= 0 && offset < static_cast<int64_t>(file.size()),
          "an accepted input needs a byte past its end");
  return file[offset];
}

uint32_t le(const Bytes& file, int64_t offset, int size) {
  uint32_t value = 0;
  for (int i = 0; i < size; ++i) value |= uint32_t{byte_at(file, offset + i)} << (8 * i);
  return value;
}

struct Geometry {
  int32_t header_size = 0;
  bool core = false;
  int64_t width = 0, stored_height = 0, height = 0, depth = 0, data_offset = 0;
  int64_t stride = 0, row_bytes = 0;
  uint32_t compression = 0;
};

Geometry geometry_of(const Bytes& bmp) {
  Geometry g;
  g.header_size = static_cast<int32_t>(le(bmp, 14, 4));
  g.core = g.header_size == 12;
  // Both branches as int64_t: a shared unsigned type would turn negative heights positive.
  g.width = g.core ? int64_t{le(bmp, 18, 2)} : int64_t{static_cast<int32_t>(le(bmp, 18, 4))};
  g.stored_height =
      g.core ? int64_t{le(bmp, 20, 2)} : int64_t{static_cast<int32_t>(le(bmp, 22, 4))};
  g.depth = g.core ? le(bmp, 24, 2) : le(bmp, 28, 2);
  g.data_offset = static_cast<int32_t>(le(bmp, 10, 4));
  g.height = std::llabs(g.stored_height);
  g.stride = (g.depth * g.width + 31) / 32 * 4;
  g.row_bytes = (g.depth * g.width + 15) / 16 * 2;
  if (!g.core && g.header_size >= 20) g.compression = le(bmp, 30, 4);
  return g;
}

// The stored rows of an RLE picture, bottom row first, each stride bytes, decoded naively into
// the whole picture.
Bytes naive_rle_rows(const Bytes& bmp, const Geometry& g) {
  const bool rle4 = g.compression == 2;
  const int64_t row_pixels = g.stride * 8 / g.depth;
  std::vector<uint8_t> pixels(g.height * row_pixels, 0);
  auto set = [&](int64_t x, int64_t y, uint8_t v) {
    require(x < row_pixels && y < g.height, "an accepted RLE stream sets a pixel outside");
    pixels[y * row_pixels + x] = v;
  };
  int64_t x = 0, y = 0;
  // A data offset before the file leaves no stream at all.
  for (int64_t at = g.data_offset < 0 ? bmp.size() : g.data_offset;
       at + 2 <= static_cast<int64_t>(bmp.size());) {
    const uint8_t first = bmp[at], second = bmp[at + 1];
    at += 2;
    if (first > 0) {
      for (int i = 0; i < first; ++i) {
        set(x + i, y, rle4 ? (i % 2 ? second & 15 : second >> 4) : second);
      }
      x += first;
    } else if (second == 0) {
      x = 0;
      ++y;
    } else if (second == 1) {
      break;
    } else if (second == 2) {
      x += byte_at(bmp, at);
      y += byte_at(bmp, at + 1);
      at += 2;
    } else {
      for (int i = 0; i < second; ++i) {
        const uint8_t b = byte_at(bmp, at + (rle4 ? i / 2 : i));
        set(x + i, y, rle4 ? (i % 2 ? b & 15 : b >> 4) : b);
      }
      x += second;
      const int64_t bytes = rle4 ? (second + 1) / 2 : second;
      at += bytes + bytes % 2;
    }
  }
  // Pack each row's pixels within the width; those beyond it stay 0.
  Bytes rows(g.height * g.stride, 0);
  for (int64_t r = 0; r < g.height; ++r) {
    for (int64_t px = 0; px < g.width; ++px) {
      const uint8_t v = pixels[r * row_pixels + px];
      if (rle4) {
        rows[r * g.stride + px / 2] |= px % 2 ? v : v << 4;
      } else {
        rows[r * g.stride + px] = v;
      }
    }
  }
  return rows;
}

// The record an input must give, read without any of the converter's code.
Bytes reference_record(const Bytes& bmp, bool last) {
  const Geometry g = geometry_of(bmp);
  const bool rle = g.compression != 0;
  const Bytes rle_rows = rle ? naive_rle_rows(bmp, g) : Bytes();
  bool invert = false;
  if (g.depth < 8) {
    const int entry = g.core ? 3 : 4;
    invert = le(bmp, 14 + g.header_size + entry, entry) != 0;
  }
  const int64_t length = (16 + g.height * g.row_bytes + 3) / 4 * 4;
  const int64_t offset = last ? 0 : length / 4;
  Bytes record = {uint8_t(g.width >> 8),
                  uint8_t(g.width),
                  uint8_t(g.height >> 8),
                  uint8_t(g.height),
                  uint8_t(g.row_bytes >> 8),
                  uint8_t(g.row_bytes),
                  0,
                  0,
                  uint8_t(g.depth),
                  uint8_t(last ? 1 : 2),
                  uint8_t(offset >> 8),
                  uint8_t(offset),
                  0,
                  0,
                  0,
                  0};
  for (int64_t j = 0; j < g.height; ++j) {
    const int64_t stored = g.stored_height < 0 ? j : g.height - 1 - j;
    for (int64_t k = 0; k < g.row_bytes; ++k) {
      const uint8_t b = rle ? rle_rows[stored * g.stride + k]
                            : byte_at(bmp, g.data_offset + stored * g.stride + k);
      record.push_back(invert ? uint8_t(~b) : b);
    }
  }
  record.resize(length, 0);
  return record;
}

// Whether an RLE input claims more pixels than a fuzz run should write.
bool too_big_to_fuzz(const Bytes& bmp) {
  if (bmp.size() < 34) return false;
  const Geometry g = geometry_of(bmp);
  return g.compression != 0 && std::llabs(g.width) * g.height > kMaxFuzzPixels;
}

// Whether the compression field is present and set; the header size counts as signed.
bool compressed(const Bytes& bmp) {
  if (bmp.size() < 34) return false;
  const int32_t header_size = static_cast<int32_t>(le(bmp, 14, 4));
  return header_size >= 20 && le(bmp, 30, 4) != 0;
}

// A folder of this process's own for the input and output files.
const std::string& work_dir() {
  static const std::string dir = [] {
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/iconweld-fuzz-XXXXXX"
                                                        : "/tmp/iconweld-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) fail("cannot make a scratch folder");
    return pattern;
  }();
  return dir;
}

void write_bytes(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  require(f != nullptr, "cannot write a scratch file");
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

Bytes read_bytes(const std::string& path) {
  Bytes bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(f);
  return bytes;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  require(start == text.size(), "a message without its newline");
  return lines;
}

struct Announced {
  int width = 0, height = 0, depth = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<Bytes> inputs;
  const uint8_t* end = data + size;
  const uint8_t* cut =
      static_cast<const uint8_t*>(memmem(data, size, kSeparator, sizeof kSeparator - 1));
  if (cut == nullptr) {
    inputs.emplace_back(data, end);
  } else {
    inputs.emplace_back(data, cut);
    inputs.emplace_back(cut + sizeof kSeparator - 1, end);
  }

  for (const Bytes& input : inputs) {
    if (too_big_to_fuzz(input)) return 0;
  }

  const std::string dir = work_dir();
  std::vector<std::string> paths;
  for (size_t i = 0; i < inputs.size(); ++i) {
    paths.push_back(dir + "/input" + std::to_string(i) + ".bmp");
    write_bytes(paths.back(), inputs[i]);
  }
  const std::string out_path = dir + "/family.bin";
  std::vector<const char*> argv = {"iconweld"};
  for (const std::string& p : paths) argv.push_back(p.c_str());
  argv.push_back(out_path.c_str());

  char* text = nullptr;
  size_t text_size = 0;
  std::FILE* messages = open_memstream(&text, &text_size);
  const int status = run_iconweld(static_cast<int>(argv.size()), argv.data(), messages);
  std::fclose(messages);
  const std::vector<std::string> lines = split_lines(std::string(text, text_size));
  std::free(text);
  const Bytes family = read_bytes(out_path);

  // One line per input after the banner, up to an "Invalid BMP file" that ends the run.
  require(!lines.empty(), "no banner");
  std::vector<size_t> accepted;
  std::vector<Announced> announced;
  size_t line = 1;
  for (size_t i = 0; i < inputs.size(); ++i, ++line) {
    require(line < lines.size(), "an input without its message");
    Announced a;
    if (std::sscanf(lines[line].c_str(), "  Processing %d x %d, %d-bit image file", &a.width,
                    &a.height, &a.depth) == 3) {
      accepted.push_back(i);
      announced.push_back(a);
    } else if (lines[line] == "Invalid BMP file") {
      ++line;
      break;
    }
  }
  require(line == lines.size(), "more message lines than inputs");
  require(status == (accepted.size() == inputs.size() ? 0 : 1), "exit status disagrees");

  // Walk the chain.
  int64_t max_length = 0;
  for (size_t i : accepted)
    max_length += compressed(inputs[i]) ? INT64_MAX / 4 : inputs[i].size() + 18;
  require(static_cast<int64_t>(family.size()) <= max_length, "output longer than its inputs");
  size_t at = 0;
  for (size_t r = 0; r < accepted.size(); ++r) {
    require(at + 16 <= family.size(), "record header cut short");
    const uint8_t* h = family.data() + at;
    const int width = h[0] << 8 | h[1];
    const int height = h[2] << 8 | h[3];
    const int row_bytes = h[4] << 8 | h[5];
    const int depth = h[8];
    const bool last = r + 1 == accepted.size();
    require(
        width == announced[r].width && height == announced[r].height && depth == announced[r].depth,
        "record differs from its Processing line");
    require(row_bytes == (depth * width + 15) / 16 * 2, "row bytes disagree with width");
    require(h[6] == 0 && h[7] == 0 && h[12] == 0 && h[13] == 0 && h[14] == 0 && h[15] == 0,
            "flags or reserved bytes not zero");
    const size_t length = (16 + size_t(height) * row_bytes + 3) / 4 * 4;
    require(at + length <= family.size(), "record cut short");
    require(h[9] == (last ? 1 : 2), "wrong version byte");
    require((h[10] << 8 | h[11]) == (last ? 0 : int(length / 4)), "wrong next-record offset");
    const Bytes record(family.begin() + at, family.begin() + at + length);
    for (size_t k = 16 + size_t(height) * row_bytes; k < length; ++k) {
      require(record[k] == 0, "fill not zero");
    }
    const Bytes& input = inputs[accepted[r]];
    require(record == reference_record(input, last), "pixels differ from the input's");
    at += length;
  }
  require(at == family.size(), "bytes after the last record");
  return 0;
}
