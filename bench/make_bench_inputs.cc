// Writes the benchmark's input pictures, all stored bottom row first, into one folder:
//
//   small-4.bmp      4-bit, 48 x 36, grey ramp: about 1 KB, the memory baseline
//   mid-8.bmp        8-bit, 2000 x 2000, grey ramp: 4 MB
//   big-8.bmp        8-bit, 8000 x 8000, grey ramp: 64 MB
//   big-1.bmp        1-bit, 16000 x 16000, black then white, so its bits are inverted: 32 MB
//   icons/NNNN-D.bmp 1000 icons of 32 x 32 at 1, 2, 4 and 8 bits in turn, grey ramps
//
//   make_bench_inputs <folder>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bmp_builder.h"

namespace {

constexpr int kIconCount = 1000;

bool write_picture(const std::string& path, const BmpFixture& layout) {
  if (write_file(path, make_bmp(layout))) return true;
  std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  std::error_code error;
  std::filesystem::create_directories(folder + "/icons", error);
  if (error) {
    std::fprintf(stderr, "cannot make %s/icons\n", folder.c_str());
    return 1;
  }

  // Each picture is built and written on its own so that only one is held at a time.
  bool ok = write_picture(folder + "/small-4.bmp", grey_picture(4, 48, 36));
  ok = ok && write_picture(folder + "/mid-8.bmp", grey_picture(8, 2000, 2000));
  ok = ok && write_picture(folder + "/big-8.bmp", grey_picture(8, 8000, 8000));
  BmpFixture inverted = grey_picture(1, 16000, 16000);
  inverted.palette = {0x000000, 0xFFFFFF};
  ok = ok && write_picture(folder + "/big-1.bmp", inverted);
  inverted = BmpFixture();

  const int16_t depths[] = {1, 2, 4, 8};
  char name[32];
  for (int i = 0; ok && i < kIconCount; ++i) {
    const int16_t depth = depths[i % 4];
    std::snprintf(name, sizeof name, "/icons/%04d-%d.bmp", i, depth);
    ok = write_picture(folder + name, grey_picture(depth, 32, 32));
  }
  return ok ? 0 : 1;
}
