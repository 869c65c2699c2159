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

Bytes make_bmp(const BmpSpec& spec) {
  const bool core = spec.header_size == 12;
  const int entry_size = core ? 3 : 4;
  const int64_t stride = bmp_stride(spec.bit_count, spec.width);
  const int64_t rows = std::llabs(static_cast<int64_t>(spec.height));
  const int64_t table_offset = 14 + spec.header_size;
  const int64_t data_offset =
      table_offset + entry_size * static_cast<int64_t>(spec.palette.size()) + spec.gap;

  Bytes out;
  out.push_back('B');
  out.push_back('M');
  put_le(&out, static_cast<uint32_t>(data_offset + rows * stride), 4);
  put_le(&out, 0, 4);
  put_le(&out, static_cast<uint32_t>(data_offset), 4);

  Bytes info;
  put_le(&info, spec.header_size, 4);
  if (core) {
    put_le(&info, spec.width, 2);
    put_le(&info, spec.height, 2);
    put_le(&info, 1, 2);
    put_le(&info, spec.bit_count, 2);
  } else {
    put_le(&info, spec.width, 4);
    put_le(&info, spec.height, 4);
    put_le(&info, 1, 2);
    put_le(&info, spec.bit_count, 2);
    put_le(&info, spec.compression, 4);
    put_le(&info, static_cast<uint32_t>(rows * stride), 4);
    put_le(&info, 2835, 4);
    put_le(&info, 2835, 4);
    put_le(&info, static_cast<uint32_t>(spec.palette.size()), 4);
    put_le(&info, 0, 4);
  }
  info.resize(spec.header_size, 0);
  out.insert(out.end(), info.begin(), info.end());

  for (uint32_t entry : spec.palette) put_le(&out, entry, entry_size);
  out.insert(out.end(), spec.gap, 0x55);

  const bool top_down = spec.height < 0;
  for (int64_t stored = 0; stored < rows; ++stored) {
    const int64_t picture_row = top_down ? stored : rows - 1 - stored;
    Bytes row =
        picture_row < static_cast<int64_t>(spec.rows.size()) ? spec.rows[picture_row] : Bytes();
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

std::vector<uint32_t> grey_ramp(int16_t bit_count) {
  const int entries = 1 << bit_count;
  std::vector<uint32_t> ramp;
  for (int i = 0; i < entries; ++i) {
    const uint32_t level = entries == 1 ? 0 : static_cast<uint32_t>(i * 255 / (entries - 1));
    ramp.push_back(level << 16 | level << 8 | level);
  }
  return ramp;
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
