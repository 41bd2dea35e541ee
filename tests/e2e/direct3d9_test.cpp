// The overlay in what only Direct3D 9 games do: an Ex device, which has no managed pool and presents with PresentEx;
// each of Direct3D 9's swap effects, formats and multisampling, keeping what each promises of the back buffers; and
// presents that find the device still drawing and are called again, after which the overlay is in the frame once.
// The cases that Direct3D 9 shares with Direct3D 8 run on both from their own suites (OnBothApis).
#include <gtest/gtest.h>

#include <d3d9.h>

#include <set>
#include <string>

#include "game.h"
#include "harness.h"

namespace e2e {
namespace {

constexpr char kGame[] = "--size 320x240 --clear 204060 ";

// The game's states, set every frame, are as it set them after each present, and the overlay is in its frames,
// on an Ex device, which refuses D3DPOOL_MANAGED.
TEST(Direct3D9Ex, NoManagedPoolAndPresentExShowTheOverlay) {
  Overlay overlay;
  ShowEverything(overlay, NewRunFolder() / "picture.bmp");
  Game game(Api::k9Ex, std::string(kGame) + "--odd-state");
  ASSERT_TRUE(game.WaitForFrames(30)) << game.Failure();
  EXPECT_EQ(game.report()->managedPool.load(), D3DERR_INVALIDCALL);
  EXPECT_TRUE(ShowsTheLine(game.WaitForFrame(ShowsTheLine))) << "no overlay";
  EXPECT_GE(game.report()->stateChecks.load(), 30u);
  EXPECT_EQ(game.report()->stateMismatches.load(), 0u) << game.report()->firstMismatch;
  EXPECT_EQ(game.Failure(), "");
}

class Direct3D9Swaps : public ::testing::TestWithParam<GameCase> {};

// Every swap effect, format and multisampling the system gives a device shows the overlay; a game that draws its
// back buffers once finds them as it drew them after each present where the swap effect keeps them (COPY, FLIP).
TEST_P(Direct3D9Swaps, ShowTheOverlayAndKeepWhatTheyPromise) {
  Overlay overlay;
  ShowEverything(overlay, NewRunFolder() / "picture.bmp");
  Game game(GetParam().api, kGame + GetParam().arguments);
  if (!game.WaitForFrames(20) && game.Failure().rfind("CreateDevice", 0) == 0) {
    GTEST_SKIP() << "the system makes no such device: " << game.Failure();
  }
  ASSERT_EQ(game.Failure(), "");
  EXPECT_TRUE(ShowsTheLine(game.WaitForFrame(ShowsTheLine))) << "no overlay";
  if (GetParam().arguments.find("--draw-once") != std::string::npos) {
    EXPECT_GE(game.report()->bufferChecks.load(), 20u);
    EXPECT_EQ(game.report()->bufferMismatches.load(), 0u) << game.report()->firstMismatch;
  }
  EXPECT_EQ(game.report()->stateMismatches.load(), 0u) << game.report()->firstMismatch;
  EXPECT_EQ(game.Failure(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Direct3D9, Direct3D9Swaps,
    ::testing::Values(GameCase{"Discard", "--swap discard --odd-state", Api::k9},
                      GameCase{"Copy", "--swap copy --draw-once", Api::k9Ex},
                      GameCase{"FlipTwoBackBuffers", "--swap flip --back-buffers 2 --draw-once", Api::k9Ex},
                      // FLIPEX rotates the buffers as the system shows them: nothing is promised of their contents.
                      GameCase{"FlipEx", "--swap flipex --back-buffers 2 --odd-state", Api::k9Ex},
                      GameCase{"Overlay", "--swap overlay", Api::k9},
                      GameCase{"TenBitsAChannel", "--format A2R10G10B10", Api::k9},
                      GameCase{"Multisampled", "--multisample 4 --odd-state", Api::k9},
                      // The tiles then come from system memory, as on a device without dynamic textures.
                      GameCase{"WithoutDynamicTextures", "--no-dynamic-textures --odd-state", Api::k9Ex}),
    CaseName);

// The colours in the see-through line's box: the scene's and the line's blended over it.
std::set<std::uint32_t> LineColours(const Frame& frame) {
  std::set<std::uint32_t> colours;
  for (int y = 200; y < 230 && y < frame.height; ++y) {
    for (int x = 10; x < 100 && x < frame.width; ++x) colours.insert(frame.At(x, y));
  }
  return colours;
}

// The see-through line's colours in a game run with `arguments`, as in a game run with `calm` whose device presents
// plainly: blended once over the scene, not a second time over itself. The game is handed to `check`.
template <class Check>
void ExpectTheLineBlendedOnce(Api api, const std::string& calm, const std::string& arguments, Check check) {
  SCOPED_TRACE(NameOf(api));
  const auto shown = [](const Frame& f) { return LineColours(f).size() > 2; };
  std::set<std::uint32_t> once;
  {
    Game game(api, std::string(kGame) + calm);
    once = LineColours(game.WaitForFrame(shown));
  }
  EXPECT_GT(once.size(), 2u) << "no line";
  Game game(api, std::string(kGame) + arguments);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(LineColours(game.WaitForFrame(shown)), once) << "frame " << i;
  const testgame::Report* report = game.report();
  ASSERT_NE(report, nullptr);
  check(*report);
  EXPECT_EQ(game.Failure(), "");
}

// A present that does not wait and finds the device still drawing has presented nothing; called again, it presents
// the frame with the overlay drawn once. Through PresentEx and through a swap chain's Present. And a device whose
// Present presents through its own swap chain's table, as an implementation may: one drawing a present.
TEST(Direct3D9Presents, AStillDrawingOrNestedPresentDrawsTheOverlayOnce) {
  Overlay overlay;
  overlay.SetLine(10, 200, "HHHH", 0x80FF0000);
  overlay.ShowLine(true);
  for (Api api : {Api::k9, Api::k9Ex}) {
    ExpectTheLineBlendedOnce(api, "--present-donotwait", "--still-drawing 3", [](const testgame::Report& report) {
      EXPECT_GT(report.stillDrawing.load(), report.frames.load() / 4) << "the device was never busy";
      EXPECT_NEAR(report.stillDrawing.load(), report.stillDrawingMade.load(), 1.0) << "still drawing, told the game";
    });
    ExpectTheLineBlendedOnce(api, "", "--present-through-chain", [](const testgame::Report& report) {
      EXPECT_GT(report.throughChain.load(), 0u) << "never presented through the swap chain";
    });
  }
}

}  // namespace
}  // namespace e2e
