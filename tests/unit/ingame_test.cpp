#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ingame/common/backoff.h"
#include "ingame/common/layout.h"
#include "ingame/common/shared_state.h"
#include "ingame/common/tile_pixels.h"
#include "ingame/common/upload_plan.h"

using namespace ingame;

TEST(SharedState, ReadersGetWholeRecordsOrNothing) {
  Slot<LineRecord> slot{};
  TextLook look;
  look.argb = 0xFF00FF00;
  Publish(slot, MakeLineRecord(3, 4, "first", look));
  LineRecord read;
  std::uint32_t sequence = 0;
  ASSERT_TRUE(TryRead(slot, read, sequence));
  EXPECT_EQ(std::string(read.text, read.length), "first");
  EXPECT_EQ(sequence, Sequence(slot));

  // A writer that died in the middle leaves the slot odd: nothing is read until the next writer finishes.
  slot.sequence.store(sequence + 1);
  std::memset(&slot.record, 0x7F, sizeof slot.record);
  EXPECT_FALSE(TryRead(slot, read, sequence));
  Publish(slot, MakeLineRecord(5, 6, "second", look));
  EXPECT_EQ(Sequence(slot) % 2, 0u);
  ASSERT_TRUE(TryRead(slot, read, sequence));
  EXPECT_EQ(std::string(read.text, read.length), "second");
  EXPECT_EQ(read.x, 5);
}

TEST(SharedState, RecordsCutTextsAndChecksRejectWhatDoesNotFit) {
  const std::string long_text(2000, 'a');
  const LineRecord line = MakeLineRecord(0, 0, long_text.c_str(), TextLook{});
  EXPECT_EQ(line.length, kLineTextCapacity);
  EXPECT_EQ(line.text[kLineTextCapacity], '\0');
  const BlockRecord block = MakeBlockRecord(0, 0, 10, 10, long_text.c_str(), TextLook{});
  EXPECT_EQ(block.length, kBlockTextCapacity);
  EXPECT_EQ(MakeLineRecord(0, 0, nullptr, TextLook{}).length, 0);

  LineRecord hostileLine = line;
  hostileLine.length = kLineTextCapacity + 1;
  EXPECT_FALSE(CheckLine(hostileLine));
  BlockRecord hostileBlock = block;
  hostileBlock.length = 0xFFFF;
  EXPECT_FALSE(CheckBlock(hostileBlock));

  EXPECT_TRUE(CheckPicture(PictureRecord{0, 0, 0}));
  EXPECT_TRUE(CheckPicture(PictureRecord{7, kPictureMaxSide, kPictureMaxPixels / kPictureMaxSide}));
  EXPECT_FALSE(CheckPicture(PictureRecord{7, 0, 10}));
  EXPECT_FALSE(CheckPicture(PictureRecord{7, kPictureMaxSide + 1, 1}));
  EXPECT_FALSE(CheckPicture(PictureRecord{7, 8192, 8192}));

}

TEST(SharedState, ScreenWordAndTextHeight) {
  const Screen screen = UnpackScreen(PackScreen(0xDEADBEEF, 1920, 1080));
  EXPECT_EQ(screen.processId, 0xDEADBEEFu);
  EXPECT_EQ(screen.width, 1920u);
  EXPECT_EQ(screen.height, 1080u);
  EXPECT_EQ(UnpackScreen(0).processId, 0u);
  EXPECT_EQ(TextHeight(TextLook{0, 0, 0}), kDefaultTextHeight);
  EXPECT_EQ(TextHeight(TextLook{0, 40, 0}), 40);
}

TEST(Layout, FittingKeepsTheAspectAndTheLimits) {
  EXPECT_EQ(FitWithin(Size{100, 50}, 200, 200), (Size{100, 50}));
  EXPECT_EQ(FitWithin(Size{4000, 1000}, 2048, 2048), (Size{2048, 512}));
  EXPECT_EQ(FitWithin(Size{100000, 1}, 16384, 16384), (Size{16384, 1}));
  for (const Size size : {Size{32768, 32768}, Size{65535, 3}, Size{5000, 5000}, Size{1, 65535}}) {
    const Size fitted = FitPictureLimits(size);
    EXPECT_GE(fitted.width, 1u);
    EXPECT_GE(fitted.height, 1u);
    EXPECT_LE(fitted.width, kPictureMaxSide);
    EXPECT_LE(fitted.height, kPictureMaxSide);
    EXPECT_LE(std::uint64_t{fitted.width} * fitted.height, kPictureMaxPixels);
  }
  EXPECT_EQ(FitPictureLimits(Size{32768, 32768}), (Size{4096, 4096}));
}

// Each target pixel is the mean of what it covers, colours weighted by alpha: an opaque red pixel and a clear
// black one give red at half alpha, not a dark red; only the region asked for is written.
TEST(Layout, ScaleRegionAveragesWhatEachPixelCoversWeightedByAlpha) {
  const std::uint32_t source[] = {0xFF000000, 0xFFFFFFFF, 0xFFFF0000, 0x00000000, 0x00000000, 0x00000000,
                                  0xFF000000, 0xFFFFFFFF, 0xFFFF0000, 0x00000000, 0x00000000, 0x00000000};
  const auto row = [&](std::uint32_t y) { return source + y * 6; };
  std::uint32_t target[3] = {1, 1, 1};
  ScaleRegion(row, Size{6, 2}, Size{3, 1}, Rect{0, 0, 3, 1}, target, 3);
  EXPECT_EQ(target[0], 0xFF808080u);
  EXPECT_EQ(target[1], 0x80FF0000u);
  EXPECT_EQ(target[2], 0x00000000u);
  std::uint32_t part[2] = {1, 1};
  ScaleRegion(row, Size{6, 2}, Size{3, 1}, Rect{1, 0, 2, 1}, part, 2);
  EXPECT_EQ(part[0], 0x80FF0000u);
  EXPECT_EQ(part[1], 1u);
}

// A picture, fitted to the largest texture, keeps only what lies on the screen, whatever its size and position.
TEST(Layout, PictureCropKeepsWhatTheScreenShows) {
  const PictureCrop crop = CropPicture(Size{16384, 64}, 8192, 8192, -7892, 10, 800, 600);
  EXPECT_EQ(crop.shown, (Size{8192, 32}));
  EXPECT_EQ(crop.visible, (Rect{0, 10, 300, 42}));
  EXPECT_EQ(crop.region, (Rect{7892, 0, 8192, 32}));
  EXPECT_TRUE(CropPicture(Size{10, 10}, 8192, 8192, 0x7FFFFFFF, -0x7FFFFFFF, 800, 600).visible.Empty());
  EXPECT_EQ(CropPicture(Size{32768, 512}, 4096, 4096, 0, 0, 800, 600).region, (Rect{0, 0, 800, 64}));
}

TEST(Layout, FigureCellsFromPreparedGlyphs) {
  std::vector<FigureCell> cells;
  ASSERT_TRUE(LayFigure("FPS 60", 10, 4, cells));
  ASSERT_EQ(cells.size(), 8u);
  EXPECT_EQ(cells[1].glyph, 12);  // F
  EXPECT_EQ(cells[1].offset, 4);
  EXPECT_EQ(cells[6].glyph, 2);   // 0
  EXPECT_EQ(cells[7].offset, 64);
  EXPECT_EQ(cells[7].width, 4);
  EXPECT_FALSE(LayFigure("FPS x", 10, 4, cells));
  EXPECT_TRUE(cells.empty());
}

TEST(Layout, LinesClipsAndFrameRate) {
  EXPECT_EQ(SplitLines("a\r\nb\r\n"), (std::vector<std::string_view>{"a", "b", ""}));
  EXPECT_EQ(SplitLines("a\rb\nc"), (std::vector<std::string_view>{"a\rb\nc"}));
  EXPECT_EQ(Intersect(Rect{0, 0, 10, 10}, Rect{5, 5, 20, 20}), (Rect{5, 5, 10, 10}));
  EXPECT_TRUE(Intersect(Rect{0, 0, 10, 10}, Rect{10, 0, 20, 10}).Empty());

  FpsMeter meter;
  EXPECT_FALSE(meter.AddFrame(1000));
  for (int i = 1; i < 60; ++i) meter.AddFrame(1000 + i * 1000 / 60);
  EXPECT_TRUE(meter.AddFrame(2000));
  EXPECT_EQ(meter.Fps(), 60);
  EXPECT_EQ(FpsText(meter.Fps()), "FPS 60");
  EXPECT_EQ(FpsText(0), "FPS --");
}

// One frame shown in several windows is one frame, whatever the order; a window shown now and then adds none.
TEST(Layout, FramesShownInSeveralWindowsCountOnce) {
  FrameCounter frames;
  int counted = 0;
  for (int frame = 0; frame < 10; ++frame) {
    for (std::uintptr_t window : {1u, 2u, 3u}) counted += frames.Presented(window) ? 1 : 0;
    if (frame % 4 == 0) counted += frames.Presented(9) ? 1 : 0;
  }
  EXPECT_EQ(counted, 10);
  FrameCounter single;
  EXPECT_TRUE(single.Presented(1));
  EXPECT_TRUE(single.Presented(1));
}

TEST(Layout, TextTexelsCarryColourCoverageAndBackground) {
  EXPECT_EQ(TextTexel(255, 0xFFFF0000, false), 0xFFFF0000u);
  EXPECT_EQ(TextTexel(0, 0xFFFF0000, false), 0x00FF0000u);
  EXPECT_EQ(TextTexel(255, 0x80FF0000, false), 0x80FF0000u);
  // Over an opaque black background: text colour where covered, black where not, opaque everywhere.
  EXPECT_EQ(TextTexel(255, 0xFF10E020, true), 0xFF10E020u);
  EXPECT_EQ(TextTexel(0, 0xFF10E020, true), 0xFF000000u);
  EXPECT_EQ(TextTexel(128, 0xFFFFFFFF, true), 0xFF808080u);
  // Half alpha: the background shows the game by half; the text's colour keeps its share.
  EXPECT_EQ(TextTexel(0, 0x80FFFFFF, true), 0x80000000u);
  EXPECT_EQ(TextTexel(0, 0x00FFFFFF, true), 0u);
}

TEST(Layout, OnlyFilesOnADriveArePicturePaths) {
  EXPECT_TRUE(IsDriveFilePath("C:\\pictures\\a.png"));
  EXPECT_TRUE(IsDriveFilePath("d:/x/console.bmp"));
  EXPECT_TRUE(IsDriveFilePath("C:\\com10\\nul1.png"));
  for (const char* blocked : {"\\\\server\\share\\a.png", "\\\\.\\pipe\\p", "\\\\.\\COM1", "\\\\?\\C:\\a.png",
                              "C:\\dir\\NUL", "C:\\dir\\com1.png", "C:\\LPT3 .txt\\a.png", "C:\\dir\\CONIN$", "C:",
                              "C:\\", "C:\\dir\\", "relative\\a.png", ""}) {
    EXPECT_FALSE(IsDriveFilePath(blocked)) << blocked;
  }
}

// Every pixel of an image goes into its tile exactly once, a band of at most `bandRows` rows of one tile at a time,
// tile after tile, each band through the next staging texture of the ring.
TEST(UploadPlan, FillsEveryPixelOnceInBoundedBandsThroughTheRingInTurn) {
  const int width = 600;
  const int height = 300;
  CUploadPlan plan(width, height, 256, 64, 3, 2);
  ASSERT_EQ(plan.tileCount(), 6);
  std::vector<int> filled(static_cast<std::size_t>(width) * height, 0);
  int expectedSlot = 2;
  int lastTile = 0;
  int steps = 0;
  while (!plan.Done()) {
    const UploadStep step = plan.Next();
    ++steps;
    EXPECT_EQ(step.slot, expectedSlot);
    expectedSlot = (expectedSlot + 1) % 3;
    EXPECT_GE(step.tile, lastTile);
    lastTile = step.tile;
    const Rect tile = plan.TilePart(step.tile);
    EXPECT_EQ(Intersect(step.part, tile), step.part) << "a band outside its tile";
    EXPECT_LE(step.part.Height(), 64);
    EXPECT_FALSE(step.part.Empty());
    for (std::int64_t y = step.part.top; y < step.part.bottom; ++y) {
      for (std::int64_t x = step.part.left; x < step.part.right; ++x) ++filled[static_cast<std::size_t>(y * width + x)];
    }
  }
  EXPECT_TRUE(std::all_of(filled.begin(), filled.end(), [](int n) { return n == 1; }));
  // Tiles of 256 rows take 4 bands, the last row of tiles (44 rows) one: 3 x 4 + 3 x 1.
  EXPECT_EQ(steps, 15);
  EXPECT_EQ(plan.nextSlot(), expectedSlot);
  EXPECT_EQ(plan.TilePart(5), (Rect{512, 256, 600, 300}));
}

TEST(UploadPlan, AnEmptyImageHasNothingToFill) {
  EXPECT_TRUE(CUploadPlan(0, 40, 256, 64, 4, 0).Done());
  EXPECT_TRUE(CUploadPlan().Done());
  CUploadPlan one(1, 1, 256, 64, 4, 7);
  ASSERT_FALSE(one.Done());
  const UploadStep step = one.Next();
  EXPECT_EQ(step.part, (Rect{0, 0, 1, 1}));
  EXPECT_EQ(step.slot, 3);
  EXPECT_TRUE(one.Done());
}

// A device that stays full is asked again at most four times a second; a reset or new content asks at once, and the
// first success starts the waits over.
TEST(Backoff, WaitsDoubleUpToTheLongestAndStartOverOnSuccess) {
  CBackoff retry;
  EXPECT_TRUE(retry.Due(0));
  std::uint64_t now = 1'000'000;
  std::uint64_t waited = 0;
  for (int failure = 0; failure < 8; ++failure) {
    retry.Failed(now);
    std::uint64_t next = now;
    while (!retry.Due(next)) next += 1'000;
    EXPECT_GE(next - now, waited) << "failure " << failure;
    waited = next - now;
    now = next;
  }
  EXPECT_EQ(waited, CBackoff::kLongestWaitMicroseconds);
  retry.Failed(now);
  EXPECT_FALSE(retry.Due(now + 1));
  retry.TryNow();
  EXPECT_TRUE(retry.Due(now + 1));
  retry.Failed(now);
  EXPECT_FALSE(retry.Due(now + CBackoff::kLongestWaitMicroseconds - 1)) << "a reset does not shorten the waits";
  retry.Succeeded();
  retry.Failed(now);
  EXPECT_TRUE(retry.Due(now + CBackoff::kFirstWaitMicroseconds));
}

TEST(UploadPlan, TheWorkerTakesWhatTheGamesProcessorsLeaveFree) {
  // A game presenting as fast as it can on its one processor, waiting for the display server now and then, or
  // nothing known: a thirty-second.
  EXPECT_DOUBLE_EQ(WorkerShare(0.4), 1.0 / 32);
  EXPECT_DOUBLE_EQ(WorkerShare(0), 1.0 / 32);
  EXPECT_DOUBLE_EQ(WorkerShare(-1), 1.0 / 32);
  // A game held to 60 frames a second, busy a third of the time on its one processor.
  EXPECT_NEAR(WorkerShare(0.7), 0.2, 1e-9);
  // A processor and a half free, or more: all of one.
  EXPECT_DOUBLE_EQ(WorkerShare(1.5), 1.0);
  EXPECT_DOUBLE_EQ(WorkerShare(3.5), 1.0);
}

TEST(TilePixels, EachFormatKeepsTheChannelsInTheirBitsRowByRow) {
  // A 3 x 2 image; its right 2 x 2 part goes into memory of a pitch wider than a row.
  const std::uint32_t image[] = {0x00000000, 0xFF102030, 0x80F0E0D0,  //
                                 0x00000000, 0x7FFFFFFF, 0xFF0000FF};
  const Rect part{1, 0, 3, 2};
  std::uint8_t memory[2 * 16] = {};
  const auto at = [&memory](int y, int x, int bytes) {
    std::uint32_t value = 0;
    std::memcpy(&value, memory + y * 16 + x * bytes, static_cast<std::size_t>(bytes));
    return value;
  };
  FillPart(image, 3, part, TileFormat::kA8R8G8B8, memory, 16);
  EXPECT_EQ(at(0, 0, 4), 0xFF102030u);
  EXPECT_EQ(at(1, 1, 4), 0xFF0000FFu);
  FillPart(image, 3, part, TileFormat::kA4R4G4B4, memory, 16);
  EXPECT_EQ(at(0, 0, 2), 0xF123u);
  EXPECT_EQ(at(0, 1, 2), 0x8FED);
  EXPECT_EQ(at(1, 0, 2), 0x7FFFu);
  FillPart(image, 3, part, TileFormat::kA1R5G5B5, memory, 16);
  EXPECT_EQ(at(0, 0, 2), 0x8000u | (0x10u >> 3) << 10 | (0x20u >> 3) << 5 | (0x30u >> 3));
  EXPECT_EQ(at(1, 0, 2), 0x7FFFu) << "alpha below a half is transparent";
  EXPECT_EQ(at(1, 1, 2), 0x801Fu);
}

TEST(TilePixels, AQuadPutsEachTexelOnOnePixel) {
  QuadVertex corners[4];
  QuadCorners(Rect{10, 20, 74, 52}, Rect{0, 128, 64, 160}, 256, corners);
  // Half a pixel back, so that texel centres fall on pixel centres; the texels are the content's part of the tile.
  EXPECT_FLOAT_EQ(corners[0].x, 9.5f);
  EXPECT_FLOAT_EQ(corners[0].y, 19.5f);
  EXPECT_FLOAT_EQ(corners[3].x, 73.5f);
  EXPECT_FLOAT_EQ(corners[3].y, 51.5f);
  EXPECT_FLOAT_EQ(corners[0].v, 0.5f);
  EXPECT_FLOAT_EQ(corners[3].u, 0.25f);
  EXPECT_FLOAT_EQ(corners[3].v, 0.625f);
  EXPECT_FLOAT_EQ(corners[1].rhw, 1.0f);
  EXPECT_EQ(corners[2].colour, 0xFFFFFFFFu);
}
