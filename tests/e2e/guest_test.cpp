// The overlay as a guest that a game cannot tell is there: the game's objects, their identities, reference counts
// and private data are the system's; what only the device's bindings keep survives the overlay's drawing; back
// buffers that the swap effect keeps stay as the game drew them; and the overlay shows wherever the game presents:
// in additional swap chains and in the part of a back buffer it presents. It also keeps its picture when the
// dialog has gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "game.h"
#include "harness.h"
#include "ingame/common/overlay_stats.h"
#include "res/resource.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kScene = 0x204060;

// Every object the game makes names the game's device and container, every count is the system's, an object held
// as private data goes when the system lets it go, and a device released before its last resource can be reached
// through it and ends with it: the same, value for value, as the system's Direct3D alone, while the overlay draws
// and holds objects of its own on that device. On Direct3D 9 the device's swap chain and Direct3D object are
// probed too.
class GuestObjects : public ::testing::TestWithParam<Api> {};

TEST_P(GuestObjects, IdentitiesCountsAndPrivateDataAreTheSystems) {
  const auto alone = [] {
    Game game(GetParam(), "--size 320x240 --probe", false);
    return game.ReadLines();
  }();
  Overlay overlay;
  ShowEverything(overlay, NewRunFolder() / "picture.bmp");
  Game game(GetParam(), "--size 320x240 --probe");
  const auto withOverlay = game.ReadLines();
  ASSERT_FALSE(alone.empty());
  EXPECT_EQ(game.Failure(), "");
  EXPECT_EQ(withOverlay, alone);

  // And the system's answers are the documented ones.
  for (const auto& [name, value] : alone) {
    if (name.rfind("getdevice.same.", 0) == 0 || name.rfind("container.", 0) == 0) {
      EXPECT_EQ(value, 1u) << name;
    }
  }
  EXPECT_EQ(alone.at("private.held"), 2u);
  EXPECT_EQ(alone.at("private.after.release"), 1u);
  EXPECT_EQ(alone.at("reached.same"), 1u);
  EXPECT_EQ(alone.at("release.kept"), 0u);
  EXPECT_EQ(alone.at("private.kept.after.release"), 1u);
  EXPECT_EQ(alone.at("direct3d.after.device") + 1, alone.at("direct3d.with.device"));
  if (GetParam() != Api::k8) {
    EXPECT_EQ(alone.at("getswapchain.same"), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Guest, GuestObjects, ::testing::Values(Api::k8, Api::k9, Api::k9Ex),
                         [](const ::testing::TestParamInfo<Api>& test) { return NameOf(test.param); });

// A pure device whose game released its own references to the texture and vertex buffer it keeps bound: the
// overlay unbinds and binds them again around its drawing, and they must live through it.
TEST(GuestObjects, WhatOnlyAPureDevicesBindingsKeepLivesOn) {
  Overlay overlay;
  ShowEverything(overlay, NewRunFolder() / "picture.bmp");
  Game game("--size 320x240 --clear 204060 --pure --bind-released");
  ASSERT_TRUE(game.WaitForFrames(40)) << game.Failure();
  EXPECT_TRUE(game.Running());
  EXPECT_EQ(game.Failure(), "");
  EXPECT_GE(game.report()->stateChecks.load(), 40u);
  EXPECT_EQ(game.report()->stateMismatches.load(), 0u) << game.report()->firstMismatch;
  EXPECT_TRUE(ShowsTheLine(game.Capture())) << "no overlay";
}

class GuestBackBuffers : public ::testing::TestWithParam<GameCase> {};

// How wide the frame rate's yellow figures spread in the top right corner of a 320-pixel-wide frame; a figure of
// two digits or more spans this much at least.
constexpr int kFrameRateWidth = 12;
int FrameRateWidth(const Frame& f) {
  int first = -1;
  int last = -1;
  for (int x = 200; x < std::min(f.width, 320); ++x) {
    for (int y = 0; y < std::min(f.height, 40); ++y) {
      if (!Near(f.At(x, y), 0xFFFF00, 40)) continue;
      if (first < 0) first = x;
      last = x;
    }
  }
  return first < 0 ? 0 : last - first + 1;
}

// A game that draws its back buffers once and then only presents finds them, after every present, as it drew
// them: the overlay is in what it presented, and nowhere in its back buffers.
TEST_P(GuestBackBuffers, StayAsTheGameDrewThem) {
  Overlay overlay;
  ShowEverything(overlay, NewRunFolder() / "picture.bmp");
  Game game(GetParam().api, "--size 320x240 --draw-once " + GetParam().arguments);
  ASSERT_TRUE(game.WaitForFrames(30)) << game.Failure();
  const Frame frame = game.WaitForFrame([](const Frame& f) { return FrameRateWidth(f) >= kFrameRateWidth; }, 5000);
  EXPECT_TRUE(ShowsTheLine(frame)) << "no overlay in what was presented";
  EXPECT_TRUE(frame.Has(0xE0E020, RECT{10, 10, 34, 34})) << "no picture in what was presented";
  EXPECT_GE(FrameRateWidth(frame), kFrameRateWidth) << "the frame rate is cut";
  ASSERT_TRUE(game.WaitForFrames(10)) << game.Failure();
  EXPECT_GE(game.report()->bufferChecks.load(), 30u);
  EXPECT_EQ(game.report()->bufferMismatches.load(), 0u) << game.report()->firstMismatch;
}

// Each as Wine's Direct3D 8 behaves, and as another's that copies only the first rectangle of a CopyRects call and
// flips as the documentation says; and as one that copies nothing between the device's surfaces where either is a
// texture's, as a Direct3D 8 over a later Direct3D may.
INSTANTIATE_TEST_SUITE_P(Guest, GuestBackBuffers,
                         ::testing::Values(GameCase{"Copy", "--swap copy"}, GameCase{"Flip", "--swap flip"},
                                           GameCase{"FlipTwoBackBuffers", "--swap flip --back-buffers 2"},
                                           GameCase{"CopyOnAnotherSystem", "--swap copy --first-rect-only --documented-flip"},
                                           GameCase{"FlipOnAnotherSystem", "--swap flip --first-rect-only --documented-flip"},
                                           GameCase{"FlipTwoBackBuffersOnAnotherSystem",
                                                    "--swap flip --back-buffers 2 --first-rect-only --documented-flip"},
                                           GameCase{"CopyWithTextureCopiesRefused",
                                                    "--swap copy --first-rect-only --texture-copies-refused"},
                                           GameCase{"CopyD3D9", "--swap copy", Api::k9},
                                           GameCase{"FlipD3D9", "--swap flip", Api::k9},
                                           GameCase{"FlipTwoBackBuffersD3D9", "--swap flip --back-buffers 2", Api::k9}),
                         CaseName);

// The picture stays with the game once the dialog that loaded it has ended: through a reset, and for a game
// started later.
TEST(GuestPicture, OutlivesTheDialogThroughAResetAndForALaterGame) {
  const fs::path picture = NewRunFolder() / "picture.bmp";
  WriteBmp(picture, 24, 16, [](int, int) { return 0xE0E020u; });
  const auto shown = [](const Frame& f) { return f.Count(0xE0E020) == 24 * 16; };
  // Beside the dialog, which opens in the middle of the screen.
  Game game("--size 320x240 --clear 204060 --pos 0,0 --reset-size 400x300");
  ASSERT_TRUE(game.WaitForFrames(2)) << game.Failure();
  {
    Libraries libraries;
    libraries.comms = libraries.hook = "overlay";
    App app(libraries);
    ASSERT_TRUE(app.Start());
    ASSERT_TRUE(app.WaitForDialog());
    ASSERT_TRUE(app.SetText(IDC_PICTURE_PATH, picture.string()));
    ASSERT_TRUE(PressKeyIn(game.window(), VK_END));
    ASSERT_TRUE(shown(game.WaitForFrame(shown))) << "the picture did not show";
    PostMessageA(app.dialog(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(app.WaitForExit().has_value());
  }
  game.RequestReset();
  ASSERT_TRUE(WaitUntil([&] { return game.report()->resets.load() == 1; })) << game.Failure();
  EXPECT_TRUE(shown(game.WaitForFrame([&](const Frame& f) { return f.width == 400 && shown(f); })))
      << "the picture went with the dialog";
  Game later("--size 200x100 --clear 204060 --pos 0,400");
  EXPECT_TRUE(shown(later.WaitForFrame(shown))) << "a game started after the dialog ended has no picture";
}

// What the overlay's counters say of a game (VA_VAZU_OVERLAY_STATS, set while the game starts).
class GameStats {
 public:
  explicit GameStats(const Game& game)
      : section_(OpenFileMappingA(FILE_MAP_READ, FALSE, ingame::StatsSectionName(game.processId()).c_str())),
        stats_(section_ ? static_cast<const ingame::OverlayStats*>(MapViewOfFile(section_, FILE_MAP_READ, 0, 0, 0))
                        : nullptr) {}
  ~GameStats() {
    if (stats_) UnmapViewOfFile(stats_);
    if (section_) CloseHandle(section_);
  }
  GameStats(const GameStats&) = delete;
  GameStats& operator=(const GameStats&) = delete;
  const ingame::OverlayStats* operator->() const { return stats_; }
  explicit operator bool() const { return stats_ != nullptr; }

 private:
  HANDLE section_;
  const ingame::OverlayStats* stats_;
};

// A game that shows each frame in two windows, its own swap chain's and an additional one's: the overlay is in
// both, and the frame rate counts each frame once.
TEST(GuestPresents, AdditionalSwapChainsShowTheOverlayAndFramesCountOnce) {
  for (Api api : {Api::k8, Api::k9}) {
    SCOPED_TRACE(NameOf(api));
    Overlay overlay;
    overlay.SetLine(20, 20, "HHHH", 0xFFFF0000);
    overlay.ShowLine(true);
    overlay.ShowFps(true);
    SetEnvironmentVariableA(ingame::kStatsVariable, "1");
    Game game(api, "--size 320x240 --clear 204060 --chains 1");
    SetEnvironmentVariableA(ingame::kStatsVariable, nullptr);
    const auto shown = [](const Frame& f) {
      return f.Has(0xFF0000, RECT{20, 20, 120, 60}) && f.Has(0xFFFF00, RECT{200, 0, 320, 40});
    };
    EXPECT_TRUE(shown(game.WaitForFrame(shown))) << "not in the game's own window";
    EXPECT_TRUE(shown(game.WaitForFrame(shown, 10000, 1))) << "not in the additional swap chain's window";

    ASSERT_TRUE(game.WaitForFrames(1));
    const GameStats stats(game);
    ASSERT_TRUE(stats);
    const std::uint32_t frames = game.report()->frames.load();
    const ULONGLONG start = GetTickCount64();
    Sleep(2500);
    const double rate = (game.report()->frames.load() - frames) * 1000.0 / static_cast<double>(GetTickCount64() - start);
    const double figure = stats->fps.load();
    EXPECT_GT(figure, rate * 0.6) << "frames per second " << rate;
    EXPECT_LT(figure, rate * 1.4) << "frames per second " << rate << ": each window counted";
  }
}

// A wrapper's device, or another class's, has a method table of its own: every second device the game makes, and
// its additional swap chain, has a private copy of the system's tables. The overlay shows in each device's frames,
// in its own window and in the additional swap chain's.
TEST(GuestPresents, ADeviceWithATableOfItsOwnShowsTheOverlay) {
  Overlay overlay;
  overlay.SetLine(20, 20, "HHHH", 0xFFFF0000);
  overlay.ShowLine(true);
  Game game("--size 320x240 --clear 204060 --chains 1 --second-table --recreate-after 100");
  const auto shownByAnEvenDevice = [&game](const Frame& f) {
    return game.report()->captureDevice % 2 == 0 && f.Has(0xFF0000, RECT{20, 20, 120, 60});
  };
  for (unsigned window : {0u, 1u}) {
    const Frame frame = game.WaitForFrame(shownByAnEvenDevice, 6000, window);
    ASSERT_TRUE(frame.valid()) << game.Failure();
    EXPECT_TRUE(shownByAnEvenDevice(frame)) << "not in window " << window << " of device "
                                            << game.report()->captureDevice;
  }
  EXPECT_GE(game.report()->devices.load(), 2u);
  // Those objects' functions are the game's own, which count their calls: the overlay called them, not another
  // table's, for every present (the counts are read a present apart at most).
  const std::uint32_t made = game.report()->privatePresents.load();
  EXPECT_GT(made, 0u);
  EXPECT_NEAR(game.report()->countedPresents.load(), made, 2.0);
  EXPECT_EQ(game.Failure(), "");
}

// A game that presents only a part of its back buffer: the overlay's corner is that part's corner, the frame rate
// sits in its top right corner, and the screen size is its size.
TEST(GuestPresents, APresentedPartIsTheOverlaysScreen) {
  for (Api api : {Api::k8, Api::k9}) {
    SCOPED_TRACE(NameOf(api));
    Overlay overlay;
    overlay.SetLine(10, 10, "HHHH", 0xFFFF0000, true);
    overlay.ShowLine(true);
    overlay.ShowFps(true);
    Game game(api, "--size 320x240 --clear 204060 --swap copy --source 40,30,200,150");
    const Frame frame =
        game.WaitForFrame([](const Frame& f) { return f.Count(0) > 0 && f.Has(0xFFFF00, RECT{100, 0, 200, 40}); });
    ASSERT_EQ(frame.width, 200) << game.Failure();
    // The line's black background starts exactly at (10, 10) of what is shown.
    EXPECT_EQ(frame.At(10, 10), 0u);
    EXPECT_EQ(frame.At(9, 10), kScene);
    EXPECT_EQ(frame.At(10, 9), kScene);
    EXPECT_TRUE(frame.Has(0xFFFF00, RECT{120, 0, 200, 40})) << "no frame rate in the presented part's corner";
    EXPECT_EQ(overlay.ScreenSize(), std::make_pair(200, 150));
  }
}

}  // namespace
}  // namespace e2e
