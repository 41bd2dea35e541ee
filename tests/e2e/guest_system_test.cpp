// The overlay as a guest that never hangs, crashes or changes a game, whatever the game does with its device:
// other threads calling a multithreaded device while the overlay draws, a reset the system refuses before one it
// accepts, a game that never sets a state and reads them all, objects the game lets go of, another component
// putting the device's method table back, and a game whose allocations must land where they did the run before.
// Each case holds with the system's Direct3D 8 alone; where the test compares, it runs the game both ways.
#include <gtest/gtest.h>

#include <d3d8.h>

#include <map>
#include <string>

#include "game.h"
#include "harness.h"

namespace e2e {
namespace {

constexpr char kGame[] = "--size 320x240 --clear 204060";

// The lines of `withOverlay` that differ from `alone`, or that either lacks, one a line.
std::string Differences(const std::map<std::string, unsigned long>& alone,
                        const std::map<std::string, unsigned long>& withOverlay) {
  std::string out;
  for (const auto& [name, value] : alone) {
    const auto found = withOverlay.find(name);
    if (found == withOverlay.end()) {
      out += name + ": missing with the overlay\n";
    } else if (found->second != value) {
      out += name + ": " + std::to_string(value) + " alone, " + std::to_string(found->second) + " with the overlay\n";
    }
  }
  for (const auto& [name, value] : withOverlay) {
    if (alone.count(name) == 0) out += name + ": only with the overlay\n";
  }
  return out;
}

class GuestThreads : public ::testing::TestWithParam<GameCase> {};

// A multithreaded device presented by one thread while the window's thread calls it in a loop, with everything
// shown: both threads go on second after second, no call fails, the other thread never reads a state the game did
// not set, and the game finds its states as it set them after every present.
TEST_P(GuestThreads, BothThreadsGoOnAndSeeOnlyTheGamesStates) {
  Overlay overlay;
  ShowEverything(overlay, NewRunFolder() / "picture.bmp");
  Game game(GetParam().api, std::string(kGame) + " " + GetParam().arguments);
  ASSERT_TRUE(game.WaitForFrames(20)) << game.Failure();
  const testgame::Report* report = game.report();
  for (int second = 1; second <= 3; ++second) {
    const std::uint32_t frames = report->frames.load();
    const std::uint32_t rounds = report->sideRounds.load();
    Sleep(1000);
    ASSERT_TRUE(game.Running()) << "the game ended within second " << second;
    ASSERT_GT(report->frames.load(), frames) << "the presenting thread stopped within second " << second;
    ASSERT_GT(report->sideRounds.load(), rounds) << "the other thread stopped within second " << second;
  }
  EXPECT_EQ(report->sideFailures.load(), 0u) << "failed calls in " << report->sideRounds.load() << " rounds";
  EXPECT_EQ(report->sideStrangeReads.load(), 0u) << "states read unlike the game's";
  EXPECT_EQ(report->stateMismatches.load(), 0u) << report->firstMismatch;
  EXPECT_EQ(game.Failure(), "");
}

INSTANTIATE_TEST_SUITE_P(Guest, GuestThreads,
                         ::testing::ValuesIn(OnBothApis({GameCase{"ShadersMadeSetAndDeleted", "--side-thread shaders"},
                                                         GameCase{"StatesSavedAndRestored", "--side-thread states"},
                                                         GameCase{"ProcessVertices", "--side-thread process"}})),
                         CaseName);

// A game that draws from a vertex buffer of its own and holds a D3DPOOL_DEFAULT texture: its Reset fails, it
// releases the texture, resets again successfully, clears, and goes on, with the overlay drawn before and after:
// the same results as with the system alone.
TEST(GuestReset, AFailedResetThenOneThatSucceeds) {
  for (Api api : {Api::k8, Api::k9}) {
    SCOPED_TRACE(NameOf(api));
    using Results = std::pair<HRESULT, HRESULT>;
    const auto run = [api](bool withOverlay) {
      Overlay overlay;
      ShowEverything(overlay, NewRunFolder() / "picture.bmp");
      Game game(api, std::string(kGame) + " --failing-reset", withOverlay);
      if (withOverlay) {
        EXPECT_TRUE(ShowsTheLine(game.WaitForFrame(ShowsTheLine))) << "no overlay: " << game.Failure();
      }
      EXPECT_TRUE(game.WaitForFrames(10)) << game.Failure();
      game.RequestReset();
      const testgame::Report* report = game.report();
      WaitUntil([&] { return report->resets.load() == 1 || !game.Running() || !game.Failure().empty(); });
      EXPECT_TRUE(game.WaitForFrames(30, 3000)) << "the game stopped after the resets; running: " << game.Running();
      if (withOverlay) {
        EXPECT_TRUE(ShowsTheLine(game.WaitForFrame(ShowsTheLine, 3000))) << "no overlay after the reset";
      }
      EXPECT_EQ(game.Failure(), "");
      return Results{report->firstReset.load(), report->secondReset.load()};
    };
    const auto alone = run(false);
    EXPECT_TRUE(FAILED(alone.first)) << "the first Reset, with a D3DPOOL_DEFAULT texture held, succeeded";
    EXPECT_EQ(alone.second, D3D_OK);
    EXPECT_EQ(run(true), alone);
  }
}

class GuestDefaults : public ::testing::TestWithParam<GameCase> {};

// A game that never sets a state reads every state, binding, shader, viewport, transform, material, clip plane,
// target and palette as the system's Direct3D 8 alone has them, after 30 presents and again after a reset, while
// the overlay draws a see-through line and block with the pipeline: on a plain device, and on a pure one, whose
// states the overlay cannot read and follows instead.
TEST_P(GuestDefaults, AGameThatSetsNothingReadsTheSystemsDefaults) {
  const std::string arguments = std::string(kGame) + " --defaults " + GetParam().arguments;
  const auto alone = Game(arguments, "va_vazu_testgame.exe", false).ReadLines();
  Overlay overlay;
  overlay.SetLine(10, 200, "line", 0x80FF0000);
  overlay.SetBlock(150, 100, 120, 60, "block\r\nof text", 0xC000FF00);
  overlay.ShowLine(true);
  overlay.ShowBlock(true);
  Game game(arguments);
  const auto withOverlay = game.ReadLines();
  ASSERT_GT(alone.size(), 500u);
  EXPECT_EQ(alone.at("start.vertex.shader"), 0u);
  EXPECT_EQ(alone.at("reset.target.is.back.buffer"), 1u);
  EXPECT_EQ(Differences(alone, withOverlay), "") << game.Failure();
}

INSTANTIATE_TEST_SUITE_P(Guest, GuestDefaults,
                         ::testing::Values(GameCase{"Plain", ""}, GameCase{"Pure", "--pure"}),
                         [](const ::testing::TestParamInfo<GameCase>& test) { return test.param.name; });

// A texture and a vertex buffer that the game binds and draws with while the overlay shows everything, each holding
// an object of the game's as private data: once the game unbinds and releases them, the system destroys them and
// lets go of the objects.
TEST(GuestObjects, WhatTheGameReleasesEnds) {
  const auto run = [](bool withOverlay) {
    Overlay overlay;
    ShowEverything(overlay, NewRunFolder() / "picture.bmp");
    Game game(std::string(kGame) + " --release-on-request", "va_vazu_testgame.exe", withOverlay);
    if (withOverlay) {
      EXPECT_TRUE(ShowsTheLine(game.WaitForFrame(ShowsTheLine))) << "no overlay: " << game.Failure();
    }
    EXPECT_TRUE(game.WaitForFrames(30)) << game.Failure();
    overlay.ShowLine(false);
    overlay.ShowBlock(false);
    overlay.ShowPicture(false, 0, 0);
    overlay.ShowFps(false);
    EXPECT_TRUE(game.WaitForFrames(10)) << game.Failure();
    game.RequestRelease();
    return game.ReadLines();
  };
  const auto alone = run(false);
  EXPECT_EQ(alone, (std::map<std::string, unsigned long>{{"texture.data.released", 1}, {"vertices.data.released", 1}}));
  EXPECT_EQ(Differences(alone, run(true)), "");
}

// Another component puts the device's method table back as the system made it while the overlay draws: the
// device's count, and whether it ends once the game has released it and its resources, are the system's.
TEST(GuestTables, ADeviceWhoseTableIsPutBackCountsAndEndsAsTheSystems) {
  const auto alone = Game(std::string(kGame) + " --restore-table", "va_vazu_testgame.exe", false).ReadLines();
  Overlay overlay;
  ShowEverything(overlay, NewRunFolder() / "picture.bmp");
  Game game(std::string(kGame) + " --restore-table");
  const auto withOverlay = game.ReadLines();
  ASSERT_FALSE(alone.empty());
  EXPECT_EQ(alone.at("release.kept"), 0u);
  EXPECT_EQ(alone.at("private.kept.after.release"), 1u);
  EXPECT_EQ(alone.at("direct3d.after.device") + 1, alone.at("direct3d.with.device"));
  EXPECT_EQ(Differences(alone, withOverlay), "") << game.Failure();
}

// Another tool that chains its Present and EndScene to the table's functions, before the overlay patched the table
// (through the system's d3d8.dll) or after it (through a throwaway device of "d3d8.dll", the overlay's, as recorders
// and second overlays find the table): the overlay shows in every device the game makes, the first and those made
// again, and the tool's functions see every present and scene.
class GuestTools : public ::testing::TestWithParam<const char*> {};

TEST_P(GuestTools, AToolChainedBeforeOrAfterKeepsTheOverlayInEveryDevice) {
  Overlay overlay;
  overlay.SetLine(10, 200, "line", 0xFFFF0000, true);
  overlay.ShowLine(true);
  Game game(std::string(kGame) + " --recreate-after 100 --other-tool " + GetParam());
  for (std::uint32_t device = 1; device <= 3; ++device) {
    const auto shownByThisDevice = [&](const Frame& f) {
      return game.report()->captureDevice == device && ShowsTheLine(f);
    };
    EXPECT_TRUE(shownByThisDevice(game.WaitForFrame(shownByThisDevice, 8000)))
        << "device " << device << ": " << game.Failure();
  }
  // The tool counts a present before the game does: read around the game's count, the two bracket it.
  const std::uint32_t before = game.report()->toolPresents.load();
  const std::uint32_t frames = game.report()->frames.load();
  const std::uint32_t after = game.report()->toolPresents.load();
  EXPECT_LE(before, frames + 1) << "the tool's Present was called more than once a present";
  EXPECT_GE(after, frames) << "the tool's Present was passed by";
  EXPECT_GE(game.report()->toolEndScenes.load(), frames);
  EXPECT_EQ(game.Failure(), "");
}

INSTANTIATE_TEST_SUITE_P(Guest, GuestTools, ::testing::Values("first", "late"));

// A device that cannot take the overlay's textures for a while (its video memory full): the line and the frame rate
// show by themselves once it can again, and the overlay asks far less often than every frame meanwhile.
TEST(GuestMemory, WhatCouldNotBeUploadedShowsOnceTheDeviceCanTakeIt) {
  Overlay overlay;
  overlay.SetLine(10, 200, "line", 0xFFFF0000, true);
  overlay.ShowLine(true);
  overlay.ShowFps(true);
  Game game(std::string(kGame) + " --refuse-textures 1500");
  ASSERT_TRUE(game.WaitForFrames(30)) << game.Failure();
  const auto everything = [](const Frame& f) { return ShowsTheLine(f) && f.Has(0xFFFF00, RECT{200, 0, 320, 40}); };
  const Frame frame = game.WaitForFrame(everything, 8000);
  EXPECT_TRUE(everything(frame)) << "line " << ShowsTheLine(frame) << ", frame rate missing";
  const std::uint32_t refused = game.report()->refusedTextures.load();
  EXPECT_GT(refused, 0u) << "nothing was refused: the test shows nothing";
  EXPECT_LT(refused, 60u) << "tried too often while the device was full";
  EXPECT_EQ(game.Failure(), "");
}

// The flip probe leaves nothing on the game's thread: a WH_CBT hook there sees the windows the system's Direct3D 8
// makes, and no more with the overlay.
TEST(GuestWindows, AHookOnTheGamesThreadSeesNoWindowOfTheOverlays) {
  const std::string arguments = std::string(kGame) + " --swap flip --back-buffers 2 --cbt-hook";
  std::uint32_t alone = 0;
  {
    Game game(arguments, "va_vazu_testgame.exe", false);
    ASSERT_TRUE(game.WaitForFrames(30)) << game.Failure();
    alone = game.report()->hookedWindows.load();
  }
  Overlay overlay;
  ShowEverything(overlay, NewRunFolder() / "picture.bmp");
  Game game(arguments);
  EXPECT_TRUE(ShowsTheLine(game.WaitForFrame(ShowsTheLine))) << game.Failure();
  ASSERT_TRUE(game.WaitForFrames(30)) << game.Failure();
  EXPECT_EQ(game.report()->hookedWindows.load(), alone);
}

// A game that loads between creating its device and its first present, and goes on through its first frames,
// with everything shown from its start: the addresses of the objects it makes among its allocations are the same
// run after run, as they are without the overlay. Engines sort and key by them.
TEST(GuestHeap, TheGamesAllocationsLandWhereTheyDidTheRunBefore) {
  const auto run = [](bool withOverlay) {
    Overlay overlay;
    ShowEverything(overlay, NewRunFolder() / "picture.bmp");
    Game game(std::string(kGame) + " --load-churn", "va_vazu_testgame.exe", withOverlay);
    const auto lines = game.ReadLines();
    EXPECT_EQ(lines.size(), 2u * (12 + 20)) << game.Failure();
    if (withOverlay) {
      EXPECT_TRUE(ShowsTheLine(game.WaitForFrame(ShowsTheLine))) << "no overlay: " << game.Failure();
    }
    return lines;
  };
  EXPECT_EQ(Differences(run(false), run(false)), "") << "the game alone is not repeatable here";
  EXPECT_EQ(Differences(run(true), run(true)), "");
}

}  // namespace
}  // namespace e2e
