#include "bmp_builder.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

void put_le(Bytes* out, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

int64_t bmp_stride(int16_t bit_count, int32_t width) {
  return (int64_t{bit_count} * width + 31) / 32 * 4;
}

Bytes make_bmp(const BmpFixture& fixture) {
  const bool core = fixture.header_size == 12;
  const int entry_size = core ? 3 : 4;
  const bool rle = fixture.compression == 1 || fixture.compression == 2;
  const int64_t stride = bmp_stride(fixture.bit_count, fixture.width);
  const int64_t rows = std::llabs(static_cast<int64_t>(fixture.height));
  const int64_t pixel_bytes = rle ? static_cast<int64_t>(fixture.stream.size()) : rows * stride;
  const int64_t table_offset = 14 + fixture.header_size;
  const int64_t data_offset =
      table_offset + entry_size * static_cast<int64_t>(fixture.palette.size()) + fixture.gap;

  Bytes out;
  out.push_back('B');
  out.push_back('M');
  put_le(&out, static_cast<uint32_t>(data_offset + pixel_bytes), 4);
  put_le(&out, 0, 4);
  put_le(&out, static_cast<uint32_t>(data_offset), 4);

  Bytes info;
  put_le(&info, fixture.header_size, 4);
  if (core) {
    put_le(&info, fixture.width, 2);
    put_le(&info, fixture.height, 2);
    put_le(&info, 1, 2);
    put_le(&info, fixture.bit_count, 2);
  } else {
    put_le(&info, fixture.width, 4);
    put_le(&info, fixture.height, 4);
    put_le(&info, 1, 2);
    put_le(&info, fixture.bit_count, 2);
    put_le(&info, fixture.compression, 4);
    put_le(&info, static_cast<uint32_t>(pixel_bytes), 4);
    put_le(&info, 2835, 4);
    put_le(&info, 2835, 4);
    put_le(&info, static_cast<uint32_t>(fixture.palette.size()), 4);
    put_le(&info, 0, 4);
  }
  info.resize(fixture.header_size, 0);
  out.insert(out.end(), info.begin(), info.end());

  for (uint32_t entry : fixture.palette) put_le(&out, entry, entry_size);
  out.insert(out.end(), fixture.gap, 0x55);

  if (rle) {
    out.insert(out.end(), fixture.stream.begin(), fixture.stream.end());
    return out;
  }
  const bool top_down = fixture.height < 0;
  for (int64_t stored = 0; stored < rows; ++stored) {
    const int64_t picture_row = top_down ? stored : rows - 1 - stored;
    Bytes row = picture_row < static_cast<int64_t>(fixture.rows.size()) ? fixture.rows[picture_row]
                                                                        : Bytes();
    row.resize(stride, 0xEE);
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

std::vector<Bytes> patterned_rows(int16_t bit_count, int32_t width, int32_t height) {
  const int64_t stride = bmp_stride(bit_count, width);
  const int64_t rows = std::llabs(static_cast<int64_t>(height));
  std::vector<Bytes> picture(rows, Bytes(stride));
  for (int64_t r = 0; r < rows; ++r) {
    for (int64_t i = 0; i < stride; ++i) picture[r][i] = static_cast<uint8_t>(r * 7 + i * 13 + 1);
  }
  return picture;
}

namespace {

int pixel_at(const Bytes& row, int16_t bit_count, int64_t x) {
  if (bit_count == 8) return row[x];
  return x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0F;
}

void put_absolute_run(Bytes* out, int16_t bit_count, const std::vector<int>& pixels, int64_t from,
                      int64_t n) {
  out->push_back(0);
  out->push_back(static_cast<uint8_t>(n));
  const size_t start = out->size();
  for (int64_t i = 0; i < n; ++i) {
    const int pixel = pixels[from + i];
    if (bit_count == 8) {
      out->push_back(static_cast<uint8_t>(pixel));
    } else if (i % 2 == 0) {
      out->push_back(static_cast<uint8_t>(pixel << 4));
    } else {
      out->back() |= static_cast<uint8_t>(pixel);
    }
  }
  if ((out->size() - start) % 2 == 1) out->push_back(0);
}

}  // namespace

Bytes rle_encode(int16_t bit_count, int32_t width, const std::vector<Bytes>& rows) {
  Bytes out;
  for (size_t k = rows.size(); k-- > 0;) {  // bottom row first
    std::vector<int> pixels(width);
    for (int64_t x = 0; x < width; ++x) pixels[x] = pixel_at(rows[k], bit_count, x);
    auto run_length = [&](int64_t x) {
      int64_t n = 1;
      while (x + n < width && n < 255 && pixels[x + n] == pixels[x]) ++n;
      return n;
    };
    int64_t x = 0;
    while (x < width) {
      const int64_t same = run_length(x);
      if (same >= 3) {
        const int pixel = pixels[x];
        out.push_back(static_cast<uint8_t>(same));
        out.push_back(static_cast<uint8_t>(bit_count == 8 ? pixel : pixel << 4 | pixel));
        x += same;
        continue;
      }
      int64_t n = 0;  // pixels up to the next run of three equal ones
      while (x + n < width && n < 255 && run_length(x + n) < 3) ++n;
      if (n >= 3) {
        put_absolute_run(&out, bit_count, pixels, x, n);
      } else if (bit_count == 4 && n == 2) {
        out.push_back(2);
        out.push_back(static_cast<uint8_t>(pixels[x] << 4 | pixels[x + 1]));
      } else {
        for (int64_t i = 0; i < n; ++i) {
          out.push_back(1);
          out.push_back(static_cast<uint8_t>(bit_count == 8 ? pixels[x + i] : pixels[x + i] << 4));
        }
      }
      x += n;
    }
    out.push_back(0);
    out.push_back(0);
  }
  out.push_back(0);
  out.push_back(1);
  return out;
}

std::vector<uint32_t> grey_ramp(int16_t bit_count) {
  const int entries = 1 << bit_count;
  std::vector<uint32_t> ramp;
  for (int i = 0; i < entries; ++i) {
    const uint32_t level = entries == 1 ? 0 : static_cast<uint32_t>(i * 255 / (entries - 1));
    ramp.push_back(level << 16 | level << 8 | level);
  }
  return ramp;
}

BmpFixture grey_picture(int16_t bit_count, int32_t width, int32_t height) {
  BmpFixture fixture;
  fixture.width = width;
  fixture.height = height;
  fixture.bit_count = bit_count;
  fixture.palette = grey_ramp(bit_count);
  fixture.rows = patterned_rows(bit_count, width, height);
  return fixture;
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}
