// Helpers shared by the tests: a scratch folder, running the built program, expected records.
#ifndef ICONWELD_TEST_SUPPORT_H_
#define ICONWELD_TEST_SUPPORT_H_

#include <cstdio>
#include <string>
#include <vector>

#include "bmp_builder.h"

// A fresh folder, removed with everything in it when the value goes.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Writes bytes to a file of that name in the folder and returns its path.
  std::string file(const std::string& name, const Bytes& bytes) const;
  std::string path(const std::string& name) const { return dir + "/" + name; }

  std::string dir;
};

struct RunResult {
  std::string output;  // everything printed on standard output
  std::string errors;  // everything printed on standard error
  int exit_status = -1;
  int signal = 0;        // the signal that ended the program, or 0
  long max_rss_kib = 0;  // the program's peak resident memory
};

// Runs the built iconweld with these arguments (program path first).
RunResult run_program(const std::vector<std::string>& argv);

// The banner that every run prints first.
extern const char kBanner[];

// The record that the converter should write: rows are the output rows, top first, each
// already row_bytes long and inverted where it should be.
Bytes expected_record(int width, int height, int row_bytes, int bit_count, bool last,
                      const std::vector<Bytes>& rows);

// Cuts each picture row to n bytes, inverting every byte when invert is set.
std::vector<Bytes> output_rows(const std::vector<Bytes>& rows, size_t n, bool invert);

Bytes concat(const std::vector<Bytes>& parts);

// Everything written to a temporary stream, which is then closed.
Bytes drain(std::FILE* stream);

// Writes the record of a BMP held in memory, as the last one when last is set, and returns it;
// *complete, when given, gets write_record's answer.
Bytes record_from_memory(const Bytes& bmp, bool last, bool* complete = nullptr);

// The value of pixel (x, y) (y = 0 is the top row) in the first record of a family, as stored:
// not undoing any inversion.
int record_pixel(const Bytes& family, int x, int y);

// The path of a bmpsuite file, or "" when the suite is not beside the project.
std::string bmpsuite_path(const std::string& name);

#endif  // ICONWELD_TEST_SUPPORT_H_
