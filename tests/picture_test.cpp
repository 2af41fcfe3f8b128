// Pictures: creation, the picture file reader and the screenshot writer.
#include "gfx/picture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/files.h"
#include "platform/gx.h"
#include "tests/support.h"

namespace {

class Pictures : public ::testing::Test {
 protected:
  void TearDown() override { ResetDisplay(); }
  TempFolder folder;
};

Bytes PictureFile(uint16_t width, uint16_t height, uint16_t first) {
  Bytes b;
  AppendU16(b, width);
  AppendU16(b, height);
  for (uint32_t i = 0; i < static_cast<uint32_t>(width) * height; ++i) {
    AppendU16(b, static_cast<uint16_t>(first + i));
  }
  return b;
}

}  // namespace

TEST_F(Pictures, CreateTakesTheGivenSizeOrTheScreens) {
  Picture given;
  ASSERT_EQ(CreatePicture(given, 17, 5, kPictureGivenSize), 0);
  EXPECT_EQ(given.width, 17u);
  EXPECT_EQ(given.height, 5u);
  EXPECT_EQ(given.xStep, 1u);
  EXPECT_EQ(given.yStep, 17u);
  EXPECT_NE(given.pixels, nullptr);

  Picture screen;
  ASSERT_EQ(CreatePicture(screen, 17, 5, kPictureScreenSize), 0);
  EXPECT_EQ(screen.width, 240u);
  EXPECT_EQ(screen.height, 320u);
  EXPECT_EQ(screen.yStep, 240u);
  EXPECT_NE(screen.pixels, nullptr);
}

TEST_F(Pictures, CreateOnAScreenThatIsNot16BitsGivesSizeButNoPixels) {
  GXDisplayProperties deep = DefaultDisplayProperties();
  deep.cBPP = 32;
  SetDisplayProperties(deep);
  Picture picture;
  ASSERT_EQ(CreatePicture(picture, 10, 10, kPictureGivenSize), 1);
  EXPECT_EQ(picture.width, 10u);
  EXPECT_EQ(picture.pixels, nullptr);
}

TEST_F(Pictures, LoadReadsSizeAndPixelsAndIgnoresTrailingBytes) {
  Bytes file = PictureFile(3, 2, 0x1234);
  file.push_back(0xAB);  // bytes after the pixels are ignored
  WriteBytes(folder.HostFile("p.pic"), file);
  Picture picture;
  LoadPicture(picture, folder.File("p.pic"));
  ASSERT_NE(picture.pixels, nullptr);
  EXPECT_EQ(picture.width, 3u);
  EXPECT_EQ(picture.height, 2u);
  EXPECT_EQ(picture.yStep, 3u);
  EXPECT_EQ(picture.pixels[0], 0x1234);
  EXPECT_EQ(picture.pixels[1 * picture.yStep + 2], 0x1234 + 5);
}

// Whatever goes wrong, a picture never ends up with pixels nobody wrote, and a failed load keeps
// the size it had.
TEST_F(Pictures, LoadOfABadFileLeavesThePictureWithoutPixels) {
  struct Case {
    const char* name;
    Bytes file;
    bool create;
    const char* other = "none.pic";  // what is read when no file is created
  };
  Bytes shortByOne = PictureFile(4, 4, 7);
  shortByOne.pop_back();
  ASSERT_EQ(mkfifo(folder.HostFile("pipe.pic").c_str(), 0600), 0);
  const Case cases[] = {
      {"missing file", {}, false},
      {"empty file", {}, true},
      {"header cut short", {0x04, 0x00, 0x04}, true},
      {"pixels cut short", shortByOne, true},
      {"header claims a huge picture", {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4}, true},
      {"a FIFO, which would hold the read forever", {}, false, "pipe.pic"},
  };
  for (const Case& c : cases) {
    if (c.create) WriteBytes(folder.HostFile("bad.pic"), c.file);
    Picture picture;
    ASSERT_EQ(CreatePicture(picture, 9, 8, kPictureGivenSize), 0);
    LoadPicture(picture, folder.File(c.create ? "bad.pic" : c.other));
    EXPECT_EQ(picture.pixels, nullptr) << c.name;
    EXPECT_EQ(picture.width, 9u) << c.name;
    EXPECT_EQ(picture.height, 8u) << c.name;
  }
}

TEST_F(Pictures, LoadOfAnEmptyPictureGivesNoStoreAndWidthZero) {
  WriteBytes(folder.HostFile("empty.pic"), PictureFile(0, 0, 0));
  Picture picture;
  ASSERT_EQ(CreatePicture(picture, 9, 8, kPictureGivenSize), 0);
  LoadPicture(picture, folder.File("empty.pic"));
  EXPECT_EQ(picture.pixels, nullptr);
  EXPECT_EQ(picture.width, 0u);
  EXPECT_EQ(picture.height, 0u);
}

TEST_F(Pictures, ScreenshotOfAFrameHasThe32BitHeaderAndLittleEndianPixels) {
  Picture frame;
  ASSERT_EQ(CreatePicture(frame, 0, 0, kPictureScreenSize), 0);
  for (uint32_t i = 0; i < 240 * 320; ++i) frame.pixels[i] = static_cast<uint16_t>(i);
  SavePicture(frame, folder.File("ScrSave.pic"));
  const Bytes file = ReadBytes(folder.HostFile("ScrSave.pic"));
  ASSERT_EQ(file.size(), 153608u);
  const Bytes header(file.begin(), file.begin() + 8);
  EXPECT_EQ(header, (Bytes{0xF0, 0x00, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00}));
  EXPECT_EQ(GetU16(file, 8 + 2 * 241), 241);
  EXPECT_EQ(GetU16(file, 8 + 2 * 76799), static_cast<uint16_t>(76799));

  // A second shot replaces the first, whole: where a step of writing it fails (a full disk), the
  // first stays as it was, and nothing is left beside it.
  frame.pixels[0] = 0xBEEF;
  for (FileStep step : {kFileOpen, kFileWrite, kFileSync, kFileRename}) {
    FailFileStep(step, 1);
    SavePicture(frame, folder.File("ScrSave.pic"));
    EXPECT_FALSE(FileFaultPending()) << step;
    EXPECT_EQ(ReadBytes(folder.HostFile("ScrSave.pic")), file) << step;
  }
  SavePicture(frame, folder.File("ScrSave.pic"));
  EXPECT_EQ(GetU16(ReadBytes(folder.HostFile("ScrSave.pic")), 8), 0xBEEF);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.host()), std::filesystem::directory_iterator()),
            1);
}

TEST_F(Pictures, SavingAPictureWithoutPixelsWritesNothing) {
  Picture empty;
  empty.width = 240;
  empty.height = 320;
  SavePicture(empty, folder.File("ScrSave.pic"));
  EXPECT_FALSE(FileExists(folder.HostFile("ScrSave.pic")));
}

TEST_F(Pictures, ReleasingTwiceReleasesOnce) {
  Picture picture;
  ASSERT_EQ(CreatePicture(picture, 4, 4, kPictureGivenSize), 0);
  EXPECT_EQ(ReleasePixels(picture), 0);
  EXPECT_EQ(ReleasePixels(picture), 0);
  EXPECT_EQ(picture.pixels, nullptr);
  EXPECT_EQ(picture.width, 4u);
}
