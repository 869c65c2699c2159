// Writes fuzz seeds: small BMPs of every depth and header layout, bottom-up and top-down, alone
// and in pairs.   make_seeds <folder>
#include <string>

#include "bmp_builder.h"

namespace {

const char kSeparator[] = "\nNEXT\n";

Bytes seed(int32_t header_size, int16_t depth, int32_t width, int32_t height, uint32_t entry1) {
  BmpFixture fixture;
  fixture.header_size = header_size;
  fixture.width = width;
  fixture.height = height;
  fixture.bit_count = depth;
  fixture.palette = grey_ramp(depth > 4 ? 4 : depth);
  if (fixture.palette.size() > 1) fixture.palette[1] = entry1;
  fixture.rows = patterned_rows(depth, width, height);
  return make_bmp(fixture);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  int n = 0;
  const int32_t header_sizes[] = {12, 16, 40, 52, 64, 108, 124};
  const int16_t depths[] = {1, 2, 4, 8};
  Bytes previous;
  for (int32_t header_size : header_sizes) {
    for (int16_t depth : depths) {
      for (int32_t height : {5, -3}) {
        if (header_size == 12 && height < 0) continue;  // core heights are unsigned
        const Bytes bmp = seed(header_size, depth, 13 + depth, height, depth == 2 ? 0 : 0x808080);
        write_file(dir + "/seed-" + std::to_string(n++), bmp);
        if (!previous.empty()) {
          Bytes pair = previous;
          pair.insert(pair.end(), kSeparator, kSeparator + sizeof kSeparator - 1);
          pair.insert(pair.end(), bmp.begin(), bmp.end());
          write_file(dir + "/seed-" + std::to_string(n++), pair);
        }
        previous = bmp;
      }
    }
  }
  // RLE8 and RLE4 pictures, with runs of equal pixels as well as mixed stretches.
  for (int16_t depth : {4, 8}) {
    BmpFixture fixture;
    fixture.width = 11;
    fixture.height = 4;
    fixture.bit_count = depth;
    fixture.compression = depth == 8 ? 1 : 2;
    fixture.palette = grey_ramp(4);
    std::vector<Bytes> rows = patterned_rows(depth, 11, 4);
    rows[1].assign(rows[1].size(), 0x33);
    fixture.stream = rle_encode(depth, 11, rows);
    write_file(dir + "/seed-" + std::to_string(n++), make_bmp(fixture));
  }
  return 0;
}
