#include "test_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "bmp_reader.h"
#include "family_writer.h"

const char kBanner[] = "Iconweld: Windows BMP to Palm OS bitmap family converter\n";

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "iconweld-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  dir = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

std::string ScratchDir::file(const std::string& name, const Bytes& bytes) const {
  const std::string p = path(name);
  if (!write_file(p, bytes)) std::abort();
  return p;
}

RunResult run_program(const std::vector<std::string>& argv) {
  ScratchDir capture;
  const std::string out_path = capture.path("stdout");
  const std::string err_path = capture.path("stderr");
  RunResult result;
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(ICONWELD_PROGRAM, args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage = {};
  wait4(child, &status, 0, &usage);
  result.max_rss_kib = usage.ru_maxrss;
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  const Bytes out = read_file(out_path);
  const Bytes err = read_file(err_path);
  result.output.assign(out.begin(), out.end());
  result.errors.assign(err.begin(), err.end());
  return result;
}

Bytes expected_record(int width, int height, int row_bytes, int bit_count, bool last,
                      const std::vector<Bytes>& rows) {
  const int pixels = height * row_bytes;
  const int length = (16 + pixels + 3) / 4 * 4;
  const int offset = last ? 0 : length / 4;
  Bytes record = {static_cast<uint8_t>(width >> 8),
                  static_cast<uint8_t>(width),
                  static_cast<uint8_t>(height >> 8),
                  static_cast<uint8_t>(height),
                  static_cast<uint8_t>(row_bytes >> 8),
                  static_cast<uint8_t>(row_bytes),
                  0,
                  0,
                  static_cast<uint8_t>(bit_count),
                  static_cast<uint8_t>(last ? 1 : 2),
                  static_cast<uint8_t>(offset >> 8),
                  static_cast<uint8_t>(offset),
                  0,
                  0,
                  0,
                  0};
  for (const Bytes& row : rows) record.insert(record.end(), row.begin(), row.end());
  record.resize(length, 0);
  return record;
}

std::vector<Bytes> output_rows(const std::vector<Bytes>& rows, size_t n, bool invert) {
  std::vector<Bytes> cut;
  for (Bytes row : rows) {
    row.resize(n, 0xEE);
    if (invert) {
      for (uint8_t& b : row) b = static_cast<uint8_t>(~b);
    }
    cut.push_back(row);
  }
  return cut;
}

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

int record_pixel(const Bytes& family, int x, int y) {
  const int row_bytes = family[4] << 8 | family[5];
  const int depth = family[8];
  const int bit = x * depth;  // from the row's first, most significant bit
  const uint8_t byte = family.at(16 + static_cast<size_t>(y) * row_bytes + bit / 8);
  return byte >> (8 - depth - bit % 8) & ((1 << depth) - 1);
}

Bytes drain(std::FILE* stream) {
  Bytes written(std::ftell(stream));
  std::rewind(stream);
  if (std::fread(written.data(), 1, written.size(), stream) != written.size()) written.clear();
  std::fclose(stream);
  return written;
}

Bytes record_from_memory(const Bytes& bmp, bool last, bool* complete) {
  std::FILE* in = fmemopen(const_cast<uint8_t*>(bmp.data()), bmp.size(), "rb");
  std::FILE* out = std::tmpfile();
  ImageHeader header;
  bool ok = read_image_header(in, &header);
  ok = write_record(out, in, header, last) && ok;
  if (complete != nullptr) *complete = ok;
  std::fclose(in);
  return drain(out);
}

std::string bmpsuite_path(const std::string& name) {
  const std::filesystem::path suite =
      std::filesystem::path(ICONWELD_SOURCE_DIR) / ".." / "shared" / "bmpsuite";
  if (!std::filesystem::is_directory(suite)) return "";
  return (suite / name).lexically_normal().string();
}
