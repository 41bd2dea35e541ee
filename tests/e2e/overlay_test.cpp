// The overlay inside real Direct3D 8 frames: what the communication library is told shows in the frames a game
// presents, pixel by pixel, and the game is left as it was.
#include <gtest/gtest.h>

#include "game.h"
#include "harness.h"

namespace e2e {
namespace {

constexpr std::uint32_t kScene = 0x204060;
constexpr int kWidth = 320;
constexpr int kHeight = 240;

TEST(OverlayDrawing, TextLineSitsAtItsPlace) {
  Overlay overlay;
  ASSERT_TRUE(overlay.loaded());
  Game game("--size 320x240 --clear 204060");
  EXPECT_EQ(overlay.SetLine(40, 30, "HHHH", 0xFFFF0000), 1);
  EXPECT_EQ(overlay.ShowLine(true), 1);
  const Frame frame = game.WaitForFrame([](const Frame& f) { return f.Count(0xFF0000) > 0; });
  ASSERT_TRUE(frame.valid()) << game.Failure();
  EXPECT_GT(frame.Count(0xFF0000), 20);
  EXPECT_TRUE(Inside(frame.Changed(kScene), RECT{40, 30, 240, 70})) << Describe(frame.Changed(kScene));
}

}  // namespace
}  // namespace e2e
