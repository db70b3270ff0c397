// The about box's picture: our decoder against djpeg, damaged pictures, and
// the generator that makes the picture while building.
#include "scheduler/windows/jpegpicture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scheduler/windows/aboutpicture.h"
#include "testsupport/commands.h"
#include "testsupport/fixtures.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

std::vector<uint8_t> BuiltPicture() { return test::ReadBytes(KV_ABOUT_PICTURE); }

TEST(JpegPicture, DecodesOurPictureExactlyAsDjpegDoes) {
  const std::vector<uint8_t> jpeg = BuiltPicture();
  const std::span<const uint8_t> embedded = AboutBackgroundPicture();
  ASSERT_TRUE(std::equal(jpeg.begin(), jpeg.end(), embedded.begin(), embedded.end()))
      << "the program carries another picture than the build made";
  int status = 0;
  test::RunCommand("command -v djpeg", &status);
  if (status != 0) GTEST_SKIP() << "djpeg (libjpeg-turbo-progs) is not installed";

  test::TempTree tree;
  test::MustRun("djpeg -pnm " + test::ShellQuote(KV_ABOUT_PICTURE) + " > " + test::ShellQuote(tree.Posix("a.ppm")));
  const std::optional<TRgbPicture> ours = DecodeJpeg(jpeg);
  ASSERT_TRUE(ours.has_value());
  // A binary PPM: "P6", width, height, maximum, the pixels.
  std::vector<uint8_t> asPpm;
  const std::string head = "P6\n" + std::to_string(kAboutPictureWidth) + " " + std::to_string(kAboutPictureHeight) +
                           "\n255\n";
  asPpm.assign(head.begin(), head.end());
  asPpm.insert(asPpm.end(), ours->rgb.begin(), ours->rgb.end());
  EXPECT_EQ(ours->width, kAboutPictureWidth);
  EXPECT_TRUE(test::ReadBytes(tree.Posix("a.ppm")) == asPpm) << "pixels differ from djpeg's";
}

// libjpeg's own error handling would end the program on each of these, and
// a file cut short would decode as a picture with a grey lower part.
TEST(JpegPicture, DamagedPicturesGiveNothing) {
  const std::vector<uint8_t> good = BuiltPicture();
  std::vector<uint8_t> huge = good;
  const uint8_t startOfFrame[] = {0xff, 0xc0};
  const auto sof = std::search(huge.begin(), huge.end(), std::begin(startOfFrame), std::end(startOfFrame));
  ASSERT_NE(sof, huge.end());
  std::fill(sof + 5, sof + 9, 0xff);  // 65535 x 65535 pixels
  std::vector<uint8_t> garbage(4096);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 7919 >> 3);
  std::vector<uint8_t> garbageAfterHeader(good.begin(), good.begin() + 700);
  garbageAfterHeader.insert(garbageAfterHeader.end(), garbage.begin(), garbage.end());

  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty", {}},
      {"cut in the header", {good.begin(), good.begin() + 100}},
      {"cut in the middle", {good.begin(), good.begin() + static_cast<long>(good.size() / 2)}},
      {"last byte missing", {good.begin(), good.end() - 1}},
      {"garbage", garbage},
      {"garbage after a good header", garbageAfterHeader},
      {"absurd size", huge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(DecodeJpeg(c.bytes).has_value());
  }
  EXPECT_TRUE(DecodeJpeg(good).has_value()) << "the decoder recovers for the next picture";
}

TEST(JpegPicture, GeneratorWritesTheSameBytesEveryTime) {
  test::TempTree tree;
  for (const std::string run : {"1", "2"}) {
    test::MustRun(test::ShellQuote(KV_MAKE_ABOUT_PICTURE) + " " + test::ShellQuote(tree.Posix(run + ".jpg")) + " " +
                  test::ShellQuote(tree.Posix(run + ".cpp")));
  }
  EXPECT_TRUE(test::ReadBytes(tree.Posix("1.jpg")) == test::ReadBytes(tree.Posix("2.jpg")));
  EXPECT_TRUE(test::ReadBytes(tree.Posix("1.jpg")) == BuiltPicture());
  EXPECT_EQ(tree.Read("1.cpp"), tree.Read("2.cpp"));
}

}  // namespace
}  // namespace kv
