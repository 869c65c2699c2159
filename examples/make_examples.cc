// Writes the bundled example pictures: one 24 x 24 icon, a ring around a dot, at 1, 2, 4 and 8
// bits per pixel, each with a grey ramp from black at index 0 to white at the top index.
//
//   make_examples <folder>   writes <folder>/icon-1.bmp .. icon-8.bmp
#include <cstdio>
#include <string>

#include "bmp_builder.h"

namespace {

constexpr int kSize = 24;

// Brightness from 0 (black) to 1 (white): a white ring and dot on a black ground, with a soft
// edge so that the deeper versions show their extra grey levels.
double brightness(int x, int y) {
  const double dx = x - (kSize - 1) / 2.0;
  const double dy = y - (kSize - 1) / 2.0;
  const double r = dx * dx + dy * dy;
  if (r < 9) return 1.0;
  if (r > 64 && r < 121) return 1.0 - (r - 64) / 80.0;
  return 0.1 * (x + y) / (2 * kSize);
}

Bytes icon(int16_t depth) {
  BmpFixture fixture;
  fixture.width = kSize;
  fixture.height = kSize;
  fixture.bit_count = depth;
  fixture.palette = grey_ramp(depth);
  const int top = (1 << depth) - 1;
  for (int y = 0; y < kSize; ++y) {
    Bytes row(bmp_stride(depth, kSize), 0);
    for (int x = 0; x < kSize; ++x) {
      const int index = static_cast<int>(brightness(x, y) * top + 0.5);
      const int bit = x * depth;
      row[bit / 8] |= static_cast<uint8_t>(index << (8 - depth - bit % 8));
    }
    fixture.rows.push_back(row);
  }
  return make_bmp(fixture);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  for (int16_t depth : {1, 2, 4, 8}) {
    const std::string path = std::string(argv[1]) + "/icon-" + std::to_string(depth) + ".bmp";
    if (!write_file(path, icon(depth))) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
