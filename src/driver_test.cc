// End-to-end: the built program on files in a scratch folder.
#include "driver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "test_support.h"

namespace {

Bytes record_of(const BmpFixture& fixture, bool last) {
  const int row = static_cast<int>((int64_t{fixture.bit_count} * fixture.width + 15) / 16 * 2);
  return expected_record(fixture.width, std::abs(fixture.height), row, fixture.bit_count, last,
                         output_rows(fixture.rows, row, fixture.bit_count < 8));
}

std::string processing(int width, int height, int bit_count) {
  return "  Processing " + std::to_string(width) + " x " + std::to_string(height) + ", " +
         std::to_string(bit_count) + "-bit image file\n";
}

TEST(Driver, FewerThanThreeArgumentsPrintsUsageWithoutNewline) {
  ScratchDir dir;
  for (const std::vector<std::string>& argv :
       {std::vector<std::string>{"iconweld"}, {"iconweld", dir.path("only")}}) {
    const RunResult run = run_program(argv);
    EXPECT_EQ(run.output,
              std::string(kBanner) + "Usage iconweld [<bitmap 1>..<bitmap n>] <outfile>");
    EXPECT_EQ(run.exit_status, kExitUsage);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path("only")));
}

TEST(Driver, FourDepthsChainIntoOneFamily) {
  ScratchDir dir;
  std::vector<std::string> argv = {"iconweld"};
  std::vector<Bytes> records;
  std::string expected_output = kBanner;
  const int16_t depths[] = {1, 2, 4, 8};
  for (int16_t depth : depths) {
    const BmpFixture fixture = grey_picture(depth, 32, 22);
    argv.push_back(dir.file("icon" + std::to_string(depth) + ".bmp", make_bmp(fixture)));
    records.push_back(record_of(fixture, depth == 8));
    expected_output += processing(32, 22, depth);
  }
  argv.push_back(dir.path("family.bin"));
  const RunResult run = run_program(argv);
  EXPECT_EQ(run.output, expected_output);
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.exit_status, kExitSuccess);
  const Bytes family = read_file(dir.path("family.bin"));
  EXPECT_EQ(family, concat(records));
  // Next-record offsets 26, 48, 92 and 0; versions 2, 2, 2, 1.
  ASSERT_EQ(family.size(), 104u + 192u + 368u + 720u);
  EXPECT_EQ(family[11], 26);
  EXPECT_EQ(family[104 + 11], 48);
  EXPECT_EQ(family[296 + 11], 92);
  EXPECT_EQ(family[664 + 9], 1);
  EXPECT_EQ(family[664 + 11], 0);
}

TEST(Driver, TopDownPictureIsStoredWithItsPositiveHeight) {
  ScratchDir dir;
  const BmpFixture fixture = grey_picture(4, 13, -6);
  const RunResult run =
      run_program({"iconweld", dir.file("a.bmp", make_bmp(fixture)), dir.path("out")});
  EXPECT_EQ(run.output, kBanner + processing(13, 6, 4));
  EXPECT_EQ(run.exit_status, kExitSuccess);
  EXPECT_EQ(read_file(dir.path("out")), record_of(fixture, true));
}

// Inputs that are skipped: the records of the others follow one another, and the last record
// written ends the chain.
TEST(Driver, SkippedInputsLeaveAnUnbrokenChain) {
  ScratchDir dir;
  const BmpFixture a = grey_picture(1, 16, 16);
  const BmpFixture c = grey_picture(8, 5, 3);
  BmpFixture true_colour = grey_picture(8, 4, 4);
  true_colour.bit_count = 24;
  const std::string pa = dir.file("a.bmp", make_bmp(a));
  const std::string pc = dir.file("c.bmp", make_bmp(c));
  const std::string p24 = dir.file("rgb.bmp", make_bmp(true_colour));
  const std::string missing = dir.path("missing.bmp");
  const std::string not_bmp = dir.file("x.bmp", {'B', 'A', 0, 0, 0, 0});
  const std::string out = dir.path("out");
  std::filesystem::create_directory(dir.path("folder"));
  struct Case {
    const char* what;
    std::vector<std::string> inputs;
    std::string messages;
    Bytes family;
  };
  const Case cases[] = {
      {"an unreadable input between two good ones",
       {pa, missing, pc},
       processing(16, 16, 1) + "Cannot read file " + missing + "\n" + processing(5, 3, 8),
       concat({record_of(a, false), record_of(c, true)})},
      {"a directory is unreadable too",
       {pa, dir.path("folder")},
       processing(16, 16, 1) + "Cannot read file " + dir.path("folder") + "\n",
       record_of(a, true)},
      {"a true-colour last input",
       {pa, p24},
       processing(16, 16, 1) + "Error:  Cannot handle true color bitmaps (depth=24)\n",
       record_of(a, true)},
      {"a non-BMP first input stops the run at once", {not_bmp, pa, pc}, "Invalid BMP file\n", {}},
      {"a non-BMP later input stops the run after what was written",
       {pa, not_bmp, pc},
       processing(16, 16, 1) + "Invalid BMP file\n",
       record_of(a, true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(out, Bytes(100, 0xAA));  // an existing output is truncated
    std::vector<std::string> argv = {"iconweld"};
    argv.insert(argv.end(), c.inputs.begin(), c.inputs.end());
    argv.push_back(out);
    const RunResult run = run_program(argv);
    EXPECT_EQ(run.output, kBanner + c.messages);
    EXPECT_EQ(run.exit_status, kExitFailure);
    EXPECT_EQ(read_file(out), c.family);
  }
}

TEST(Driver, RefusedInputsGetOneMessageAndNoRecord) {
  ScratchDir dir;
  const BmpFixture good = grey_picture(8, 4, 2);
  const Bytes good_bmp = make_bmp(good);
  struct Case {
    const char* what;
    Bytes bmp;
    std::string message;  // %s stands for the input's path
  };
  std::vector<Case> cases;
  {
    Bytes cut = good_bmp;
    cut.resize(17);
    cases.push_back(
        {"cut before the header size", cut, "Error:  Truncated or corrupt bitmap file %s\n"});
  }
  {
    BmpFixture fixture = good;
    fixture.compression = 2;  // RLE4 is read at 4 bits per pixel only
    cases.push_back({"RLE4 at 8 bits", make_bmp(fixture),
                     "Error:  Cannot handle compressed bitmaps (compression=2)\n"});
  }
  {
    BmpFixture picture = grey_picture(4, 4, 2);
    picture.compression = 1;
    picture.stream = rle_encode(4, 4, picture.rows);
    cases.push_back({"RLE8 at 4 bits", make_bmp(picture),
                     "Error:  Cannot handle compressed bitmaps (compression=1)\n"});
  }
  {
    BmpFixture picture = grey_picture(8, 4, -2);
    picture.compression = 1;
    picture.stream = rle_encode(8, 4, picture.rows);
    cases.push_back({"top-down RLE8, which the format does not have", make_bmp(picture),
                     "Error:  Cannot handle compressed bitmaps (compression=1)\n"});
  }
  {
    BmpFixture picture = grey_picture(8, 4, 2);
    picture.compression = 1;
    picture.stream = {4, 1, 0, 0, 5, 1, 0, 1};
    cases.push_back({"RLE8 run past the end of its row", make_bmp(picture),
                     "Error:  Truncated or corrupt bitmap file %s\n"});
  }
  {
    BmpFixture picture = grey_picture(4, 4, 2);
    picture.compression = 2;
    picture.stream = {4, 0x12, 0, 0};
    cases.push_back({"RLE4 stream ending before its top row", make_bmp(picture),
                     "Error:  Truncated or corrupt bitmap file %s\n"});
  }
  {
    BmpFixture fixture = good;
    fixture.bit_count = 3;
    cases.push_back({"depth 3", make_bmp(fixture), "Error:  Cannot handle bitmaps of depth 3\n"});
  }
  {
    BmpFixture fixture = good;
    fixture.width = -4;
    cases.push_back(
        {"negative width", make_bmp(fixture), "Error:  Cannot handle bitmap size -4 x 2\n"});
  }
  {
    BmpFixture fixture = good;
    fixture.height = 40000;
    fixture.rows.clear();
    cases.push_back({"height past 16 bits", make_bmp(fixture),
                     "Error:  Cannot handle bitmap size 4 x 40000\n"});
  }
  {
    BmpFixture fixture = grey_picture(8, 1024, 300);  // 16 + 300 x 1024 bytes, then another input
    cases.push_back({"too large to chain", make_bmp(fixture),
                     "Error:  Bitmap of 307216 bytes is too large to chain\n"});
  }
  {
    Bytes cut = make_bmp(grey_picture(1, 8, 2));
    cut.resize(14 + 40 + 6);
    cases.push_back(
        {"colour entry 1 cut off", cut, "Error:  Truncated or corrupt bitmap file %s\n"});
  }
  {
    Bytes cut = good_bmp;
    cut.pop_back();
    cases.push_back(
        {"last row one byte short", cut, "Error:  Truncated or corrupt bitmap file %s\n"});
  }
  {
    Bytes bad_offset = good_bmp;
    bad_offset[13] = 0x80;  // data offset read as a negative value
    cases.push_back({"data offset before the file", bad_offset,
                     "Error:  Truncated or corrupt bitmap file %s\n"});
  }
  {
    BmpFixture fixture = grey_picture(1, 32767, 60);  // rows of 4096 bytes
    Bytes huge = make_bmp(fixture);
    huge.resize(2000);  // a tiny file must never make a large output
    cases.push_back(
        {"wide picture, tiny file", huge, "Error:  Truncated or corrupt bitmap file %s\n"});
  }
  const std::string next = dir.file("next.bmp", good_bmp);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.file("refused.bmp", c.bmp);
    const RunResult run = run_program({"iconweld", path, next, dir.path("out")});
    std::string message = c.message;
    if (const size_t at = message.find("%s"); at != std::string::npos) {
      message.replace(at, 2, path);
    }
    EXPECT_EQ(run.output, kBanner + message + processing(4, 2, 8));
    EXPECT_EQ(run.exit_status, kExitFailure);
    EXPECT_EQ(read_file(dir.path("out")), record_of(good, true));
  }
}

// RLE inputs give the records of the same pictures stored uncompressed. The widths fill their
// output rows, so no bits lie beyond the width.
TEST(Driver, RlePicturesJoinTheChain) {
  ScratchDir dir;
  const BmpFixture plain4 = grey_picture(4, 12, 5);  // grey ramp: inverted
  const BmpFixture plain1 = grey_picture(1, 16, 3);
  const BmpFixture plain8 = grey_picture(8, 6, 4);
  BmpFixture rle4 = plain4;
  rle4.compression = 2;
  rle4.stream = rle_encode(4, 12, plain4.rows);
  BmpFixture rle8 = plain8;
  rle8.compression = 1;
  rle8.stream = rle_encode(8, 6, plain8.rows);
  const RunResult run = run_program({"iconweld", dir.file("a.bmp", make_bmp(rle4)),
                                     dir.file("b.bmp", make_bmp(plain1)),
                                     dir.file("c.bmp", make_bmp(rle8)), dir.path("out")});
  EXPECT_EQ(run.output,
            kBanner + processing(12, 5, 4) + processing(16, 3, 1) + processing(6, 4, 8));
  EXPECT_EQ(run.exit_status, kExitSuccess);
  EXPECT_EQ(read_file(dir.path("out")),
            concat({record_of(plain4, false), record_of(plain1, false), record_of(plain8, true)}));
}

// The largest picture takes a gigabyte as one block of pixels; the decoder keeps a few hundred
// kilobytes per picture, whatever the header claims and however long the stream is.
TEST(Driver, RleMemoryFollowsTheHeightNotTheClaimedSize) {
  ScratchDir dir;
  BmpFixture largest;
  largest.width = 32767;
  largest.height = 32767;
  largest.bit_count = 8;
  largest.compression = 1;
  struct Case {
    const char* what;
    Bytes stream;
    std::string message;  // %s stands for the input's path
  };
  std::vector<Case> cases;
  cases.push_back({"a stream of three codes, then the end of the file",
                   {0xFF, 1, 0, 0, 0xFF, 2},
                   "Error:  Truncated or corrupt bitmap file %s\n"});
  Bytes empty_rows;
  for (int i = 0; i < 32767; ++i) empty_rows.insert(empty_rows.end(), {0, 0});
  empty_rows.insert(empty_rows.end(), {0, 1});
  cases.push_back({"every row ended at once: a gigabyte of index 0, converted", empty_rows,
                   processing(32767, 32767, 8)});
  // A child's peak memory includes the test process's own, carried across fork and exec: a run
  // on a small input measures that part.
  const RunResult small = run_program(
      {"iconweld", dir.file("small.bmp", make_bmp(grey_picture(8, 4, 2))), "/dev/null"});
  ASSERT_EQ(small.exit_status, kExitSuccess);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    largest.stream = c.stream;
    const std::string path = dir.file("big.bmp", make_bmp(largest));
    const RunResult run = run_program({"iconweld", path, "/dev/null"});
    std::string message = c.message;
    if (const size_t at = message.find("%s"); at != std::string::npos) {
      message.replace(at, 2, path);
    }
    EXPECT_EQ(run.output, kBanner + message);
    EXPECT_LT(run.max_rss_kib - small.max_rss_kib, 64 * 1024);
  }
}

TEST(Driver, OutputThatIsAlsoAnInputIsNeverTruncated) {
  ScratchDir dir;
  const Bytes bmp = make_bmp(grey_picture(8, 4, 2));
  const std::string path = dir.file("a.bmp", bmp);
  const std::string other = dir.file("b.bmp", bmp);
  // The same file under another name.
  const std::string alias = dir.path("sub/../a.bmp");
  std::filesystem::create_directory(dir.path("sub"));
  const RunResult run = run_program({"iconweld", other, path, alias});
  EXPECT_EQ(run.output,
            kBanner + std::string("Error:  Output file ") + alias + " is also an input file\n");
  EXPECT_EQ(run.exit_status, kExitFailure);
  EXPECT_EQ(read_file(path), bmp);
}

TEST(Driver, OutputThatCannotBeOpenedOrWritten) {
  ScratchDir dir;
  const std::string input = dir.file("a.bmp", make_bmp(grey_picture(8, 4, 2)));
  const std::string no_folder = dir.path("no/such/folder/out");
  RunResult run = run_program({"iconweld", input, no_folder});
  EXPECT_EQ(run.output, kBanner + ("Cannot write file " + no_folder + "\n"));
  EXPECT_EQ(run.exit_status, kExitFailure);

  run = run_program({"iconweld", input, "/dev/full"});
  EXPECT_EQ(run.output, kBanner + processing(4, 2, 8) + "Cannot write file /dev/full\n");
  EXPECT_EQ(run.exit_status, kExitFailure);
}

TEST(Driver, WritesToAPipeWithoutSeeking) {
  ScratchDir dir;
  const BmpFixture a = grey_picture(2, 10, 3);
  const BmpFixture b = grey_picture(4, 10, 3);
  const std::string pa = dir.file("a.bmp", make_bmp(a));
  const std::string pb = dir.file("b.bmp", make_bmp(b));
  const std::string family = dir.path("family");
  // The family goes to descriptor 3, a pipe into cat; the messages go nowhere.
  const std::string command = std::string(ICONWELD_PROGRAM) + " " + pa + " " + pb +
                              " /dev/fd/3 3>&1 >/dev/null | cat > " + family;
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(read_file(family), concat({record_of(a, false), record_of(b, true)}));
}

}  // namespace
