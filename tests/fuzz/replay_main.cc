// Replays fuzz inputs without libFuzzer, so that every build runs the committed corpus and the
// crash regressions: iconweld_fuzz_replay <file or folder>...
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg = argv[i];
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (entry.is_regular_file() && entry.path().filename() != ".gitkeep") {
          files.push_back(entry.path());
        }
      }
    } else {
      files.push_back(arg);
    }
  }
  for (const std::filesystem::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::printf("replayed %zu inputs\n", files.size());
  return files.empty() ? 1 : 0;
}
