#include "driver.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "bmp_reader.h"
#include "family_writer.h"
#include "image_check.h"

namespace {

constexpr size_t kOutputBufferBytes = 256 * 1024;

// An accepted input whose record is not written yet: whether it is the last record is known
// only once the next input is accepted or the inputs run out, and the output may be a pipe, so
// the record waits rather than being patched afterwards.
struct PendingInput {
  std::FILE* file = nullptr;
  const char* path = nullptr;
  ImageHeader header;
};

// Opens a regular file for reading; directories, pipes and devices cannot be read by offset.
std::FILE* open_input(const char* path) {
  std::FILE* in = std::fopen(path, "rb");
  if (in == nullptr) return nullptr;
  struct stat info;
  if (fstat(fileno(in), &info) != 0 || !S_ISREG(info.st_mode)) {
    std::fclose(in);
    return nullptr;
  }
  return in;
}

bool names_same_file(const char* a, const char* b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

void print_refusal(std::FILE* messages, Refusal refusal, const ImageHeader& header,
                   const char* path) {
  switch (refusal) {
    case Refusal::kNone:
      break;
    case Refusal::kTruncated:
      std::fprintf(messages, "Error:  Truncated or corrupt bitmap file %s\n", path);
      break;
    case Refusal::kTrueColour:
      std::fprintf(messages, "Error:  Cannot handle true color bitmaps (depth=%d)\n",
                   header.bit_count);
      break;
    case Refusal::kCompressed:
      std::fprintf(messages, "Error:  Cannot handle compressed bitmaps (compression=%d)\n",
                   header.compression);
      break;
    case Refusal::kDepth:
      std::fprintf(messages, "Error:  Cannot handle bitmaps of depth %d\n", header.bit_count);
      break;
    case Refusal::kSize:
      std::fprintf(messages, "Error:  Cannot handle bitmap size %d x %d\n", header.width,
                   header.height);
      break;
    case Refusal::kTooLargeToChain:
      std::fprintf(messages, "Error:  Bitmap of %d bytes is too large to chain\n",
                   static_cast<int>(record_length(header)));
      break;
  }
}

// Writes the pending record, if any, and closes its input. Returns false when the input came
// up short while its rows were copied.
bool flush_pending(PendingInput* pending, std::FILE* out, bool last, std::FILE* messages) {
  if (pending->file == nullptr) return true;
  const bool complete = write_record(out, pending->file, pending->header, last);
  std::fclose(pending->file);
  pending->file = nullptr;
  if (!complete) {
    std::fprintf(messages, "Error:  Truncated or corrupt bitmap file %s\n", pending->path);
  }
  return complete;
}

}  // namespace

int run_iconweld(int argc, const char* const* argv, std::FILE* messages) {
  std::fprintf(messages, "Iconweld: Windows BMP to Palm OS bitmap family converter\n");
  if (argc < 3) {
    std::fprintf(messages, "Usage %s [<bitmap 1>..<bitmap n>] <outfile>", argv[0]);
    return kExitUsage;
  }

  const char* output_path = argv[argc - 1];
  const int last_input = argc - 2;
  for (int i = 1; i <= last_input; ++i) {
    if (names_same_file(argv[i], output_path)) {
      std::fprintf(messages, "Error:  Output file %s is also an input file\n", output_path);
      return kExitFailure;
    }
  }

  std::FILE* out = std::fopen(output_path, "wb");
  if (out == nullptr) {
    std::fprintf(messages, "Cannot write file %s\n", output_path);
    return kExitFailure;
  }
  // The buffer is passed in because glibc ignores the size when given none and keeps a buffer
  // of the file system's block size (4 KiB): one write call per 4 KiB of a large picture.
  static char output_buffer[kOutputBufferBytes];
  std::setvbuf(out, output_buffer, _IOFBF, sizeof output_buffer);

  bool all_converted = true;
  PendingInput pending;
  for (int i = 1; i <= last_input && !std::ferror(out); ++i) {
    const char* path = argv[i];
    std::FILE* in = open_input(path);
    if (in == nullptr) {
      std::fprintf(messages, "Cannot read file %s\n", path);
      all_converted = false;
      continue;
    }
    ImageHeader header;
    if (!read_image_header(in, &header)) {
      std::fprintf(messages, "Invalid BMP file\n");
      std::fclose(in);
      all_converted = false;
      break;
    }
    Refusal refusal = check_image(header, i == last_input);
    if (refusal == Refusal::kNone) refusal = check_pixels(in, header);
    if (refusal != Refusal::kNone) {
      print_refusal(messages, refusal, header, path);
      std::fclose(in);
      all_converted = false;
      continue;
    }
    std::fprintf(messages, "  Processing %d x %d, %d-bit image file\n", header.width,
                 static_cast<int>(picture_height(header)), header.bit_count);
    all_converted &= flush_pending(&pending, out, /*last=*/false, messages);
    pending = PendingInput{in, path, header};
  }
  all_converted &= flush_pending(&pending, out, /*last=*/true, messages);

  const bool write_failed = std::ferror(out) != 0;
  if (std::fclose(out) != 0 || write_failed) {
    std::fprintf(messages, "Cannot write file %s\n", output_path);
    return kExitFailure;
  }
  return all_converted ? kExitSuccess : kExitFailure;
}
