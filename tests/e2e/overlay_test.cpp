// The overlay inside real Direct3D 8 frames: what the communication library is told shows in the frames a game
// presents, pixel by pixel, whatever the back buffer and the device; the game's own states are as it set them
// after every frame; and neither start order, restarts, a second game nor a broken shared state upsets it.
//
// The test game clears its frames to one colour, so every pixel the overlay touches shows; it reads each
// presented frame back from its back buffer on request.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>

#include "game.h"
#include "harness.h"
#include "ingame/common/shared_section.h"
#include "res/resource.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kScene = 0x204060;
constexpr char kGame[] = "--size 320x240 --clear 204060";
const RECT kScreen{0, 0, 320, 240};

bool HasChange(const Frame& f) { return f.Changed(kScene).right != 0; }
bool Unchanged(const Frame& f) { return f.Changed(kScene).right == 0; }

// The width of what the overlay drew, text only. Each text comes in a grey of its own, so that the frame measured is
// the new text's, never a frame that still shows the one before.
LONG DrawnWidth(const Game& game, const Overlay& overlay, const char* text, bool bold, bool monospace) {
  static std::uint32_t grey = 0xFFFFFF;
  grey -= 0x080808;
  overlay.SetLine(10, 10, text, 0xFF000000 | grey, false, 20, bold, monospace);
  const Frame frame = game.WaitForFrame([](const Frame& f) { return f.Count(grey) > 0; });
  const RECT changed = frame.Changed(kScene);
  return changed.right - changed.left;
}

// The text line: its colour lies in the box that starts at (x, y) and nowhere else; the colour's alpha mixes it
// with the game; the black background fills exactly the text's box; alpha 0 draws nothing, nor does hiding it.
TEST(OverlayDrawing, TextLineColourAlphaAndBackground) {
  Overlay overlay;
  Game game(kGame);
  const RECT around{40, 30, 240, 70};

  EXPECT_EQ(overlay.SetLine(40, 30, "HHHH", 0xFFFF0000), 1);
  EXPECT_EQ(overlay.ShowLine(true), 1);
  Frame frame = game.WaitForFrame([](const Frame& f) { return f.Count(0xFF0000) > 0; });
  ASSERT_TRUE(frame.valid()) << game.Failure();
  EXPECT_GT(frame.Count(0xFF0000), 20);
  EXPECT_TRUE(Inside(frame.Changed(kScene), around)) << Describe(frame.Changed(kScene));
  EXPECT_LT(frame.Changed(kScene).left, 40 + 6);

  // Half alpha: fully covered pixels are the halfway mix of red and the scene, and none is pure red.
  overlay.SetLine(40, 30, "HHHH", 0x80FF0000);
  frame = game.WaitForFrame([](const Frame& f) { return f.Count(0xFF0000) == 0 && HasChange(f); });
  EXPECT_TRUE(frame.Has(0x902030, around, 2)) << "no halfway mix of red and the scene";
  EXPECT_EQ(frame.Count(0xFF0000), 0);

  overlay.SetLine(40, 30, "HHHH", 0xFFFF0000, true);
  frame = game.WaitForFrame([](const Frame& f) { return f.At(40, 30) == 0; });
  const RECT background = frame.Changed(kScene);
  EXPECT_EQ(background.left, 40);
  EXPECT_EQ(background.top, 30);
  EXPECT_TRUE(Inside(background, around)) << Describe(background);
  EXPECT_FALSE(frame.Has(kScene, background)) << "the background has holes";
  EXPECT_TRUE(frame.Has(0xFF0000, background));

  overlay.SetLine(40, 30, "HHHH", 0x00FF0000, true);
  EXPECT_TRUE(game.WaitForFrame(Unchanged).valid());
  EXPECT_TRUE(Unchanged(game.Capture())) << "alpha 0 drew something";

  overlay.SetLine(40, 30, "HHHH", 0xFFFF0000, true);
  game.WaitForFrame(HasChange);
  overlay.ShowLine(false);
  EXPECT_TRUE(Unchanged(game.WaitForFrame(Unchanged))) << "still drawn when hidden";
}

// Bold is wider than regular (in letters whose bold is wider: the capitals of the system's Arial keep their
// widths); a monospace font gives narrow and wide letters one width, a proportional one not.
TEST(OverlayDrawing, BoldAndMonospace) {
  Overlay overlay;
  Game game(kGame);
  overlay.ShowLine(true);
  const LONG regular = DrawnWidth(game, overlay, "rrrtttsss", false, false);
  const LONG bold = DrawnWidth(game, overlay, "rrrtttsss", true, false);
  EXPECT_GT(bold, regular);
  const LONG monoNarrow = DrawnWidth(game, overlay, "iiiiii", false, true);
  const LONG monoWide = DrawnWidth(game, overlay, "MMMMMM", false, true);
  EXPECT_NEAR(monoNarrow, monoWide, 4);
  const LONG narrow = DrawnWidth(game, overlay, "iiiiii", false, false);
  const LONG wide = DrawnWidth(game, overlay, "MMMMMM", false, false);
  EXPECT_LT(narrow * 2, wide);
}

// The text block: one line per CR LF, everything cut at its box, the black background filling the box exactly.
TEST(OverlayDrawing, TextBlockIsClippedToItsBox) {
  Overlay overlay;
  Game game(kGame);
  overlay.ShowBlock(true);

  overlay.SetBlock(20, 20, 200, 150, "WWW\r\nWWW", 0xFF00FF00);
  Frame frame = game.WaitForFrame([](const Frame& f) { return f.Count(0x00FF00) > 0; });
  std::vector<bool> rowHasText(static_cast<std::size_t>(frame.height), false);
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) rowHasText[y] = rowHasText[y] || frame.At(x, y) != kScene;
  }
  int bands = 0;
  for (int y = 0; y < frame.height; ++y) bands += rowHasText[y] && (y == 0 || !rowHasText[y - 1]) ? 1 : 0;
  EXPECT_EQ(bands, 2);

  const RECT box{20, 20, 80, 50};
  const char* lines = "WWWWWWWWWWWW\r\nWWWWWWWWWWWW\r\nWWWWWWWWWWWW";
  overlay.SetBlock(20, 20, 60, 30, lines, 0xFF00FF00);
  frame = game.WaitForFrame([&](const Frame& f) { return HasChange(f) && Inside(f.Changed(kScene), box); });
  const RECT changed = frame.Changed(kScene);
  EXPECT_TRUE(Inside(changed, box)) << Describe(changed);
  EXPECT_GE(changed.right, box.right - 2) << Describe(changed);
  EXPECT_GE(changed.bottom, box.bottom - 2) << "the second line is missing: " << Describe(changed);

  overlay.SetBlock(20, 20, 60, 30, lines, 0xFF00FF00, true);
  frame = game.WaitForFrame([](const Frame& f) { return f.At(20, 20) == 0; });
  EXPECT_EQ(Describe(frame.Changed(kScene)), Describe(box));
  EXPECT_FALSE(frame.Has(kScene, box)) << "the background has holes";
}

struct PictureFormat {
  std::string name;
  GUID container;
  int tolerance;  // JPEG is lossy
};

void PrintTo(const PictureFormat& f, std::ostream* out) { *out << f.name; }

class OverlayPicture : public ::testing::TestWithParam<PictureFormat> {};

// A picture of two known halves shows with its corner at the position of its call, goes when hidden, and a file
// that cannot be read is rejected and shows nothing.
TEST_P(OverlayPicture, ShowsAtItsPositionAndHides) {
  const PictureFormat& format = GetParam();
  constexpr std::uint32_t kLeft = 0xD02030;
  constexpr std::uint32_t kRight = 0x30D050;
  const fs::path file = NewRunFolder() / ("picture." + format.name);
  ASSERT_TRUE(WritePicture(file, format.container, 32, 16, [](int x, int) { return x < 16 ? kLeft : kRight; }));
  Overlay overlay;
  // An opaque picture is copied into the back buffer where the device can: on Direct3D 9 too, pixel for pixel.
  if (format.name == "bmp") {
    Game game9(Api::k9, kGame);
    EXPECT_EQ(overlay.LoadPicture(file.string()), 1);
    overlay.ShowPicture(true, 10, 20);
    const Frame frame = game9.WaitForFrame(HasChange);
    EXPECT_EQ(frame.At(10, 20), kLeft) << "Direct3D 9";
    EXPECT_EQ(frame.At(41, 35), kRight) << "Direct3D 9";
    EXPECT_TRUE(Inside(frame.Changed(kScene), RECT{10, 20, 42, 36}))
        << "Direct3D 9 " << Describe(frame.Changed(kScene));
    overlay.ShowPicture(false, 0, 0);
  }
  Game game(kGame);

  EXPECT_EQ(overlay.LoadPicture(file.string()), 1);
  overlay.ShowPicture(true, 10, 20);
  Frame frame = game.WaitForFrame(HasChange);
  EXPECT_TRUE(Near(frame.At(10 + 8, 20 + 8), kLeft, format.tolerance)) << std::hex << frame.At(18, 28);
  EXPECT_TRUE(Near(frame.At(10 + 24, 20 + 8), kRight, format.tolerance)) << std::hex << frame.At(34, 28);
  EXPECT_TRUE(Inside(frame.Changed(kScene), RECT{10, 20, 42, 36})) << Describe(frame.Changed(kScene));
  if (format.tolerance == 0) {
    EXPECT_EQ(frame.At(10, 20), kLeft);
    EXPECT_EQ(frame.At(41, 35), kRight);
  }

  overlay.ShowPicture(false, 0, 0);
  EXPECT_TRUE(Unchanged(game.WaitForFrame(Unchanged)));

  // Missing, not a picture at all, or a picture's start with nothing after it: each leaves no picture (the files
  // are read on the library's own thread, so the calls cannot tell).
  const fs::path notAPicture = file.parent_path() / "not a picture.png";
  const fs::path cut = file.parent_path() / "cut.bmp";
  std::ofstream(notAPicture) << "just text";
  std::ofstream(cut, std::ios::binary) << "BM6";
  for (const fs::path& unreadable : {file.parent_path() / "missing.png", notAPicture, cut}) {
    ASSERT_EQ(overlay.LoadPicture(file.string()), 1);
    overlay.ShowPicture(true, 10, 20);
    ASSERT_TRUE(HasChange(game.WaitForFrame(HasChange)));
    overlay.LoadPicture(unreadable.string());
    EXPECT_TRUE(Unchanged(game.WaitForFrame(Unchanged))) << unreadable << " left a picture";
  }
}

INSTANTIATE_TEST_SUITE_P(Overlay, OverlayPicture,
                         ::testing::Values(PictureFormat{"bmp", GUID_ContainerFormatBmp, 0},
                                           PictureFormat{"png", GUID_ContainerFormatPng, 0},
                                           PictureFormat{"gif", GUID_ContainerFormatGif, 0},
                                           PictureFormat{"jpg", GUID_ContainerFormatJpeg, 40}),
                         [](const ::testing::TestParamInfo<PictureFormat>& test) { return test.param.name; });

// A picture twice as wide as the device's largest texture is drawn scaled to half its size: its right end, with
// the edge between its two colours and then its see-through end, is placed on the screen by a negative position.
// Where the scaled picture's pixel covers one yellow and one clear source pixel, it is yellow at half alpha over
// the game: the clear pixel, black in colour, darkens nothing.
TEST(OverlayPictureSize, LargerThanTheLargestTextureIsScaledDownToFitWithItsEdgesColours) {
  Overlay overlay;
  Game game(kGame);
  ASSERT_TRUE(game.WaitForFrames(1)) << game.Failure();
  const int maxWidth = static_cast<int>(game.report()->maxTextureWidth);
  ASSERT_GT(maxWidth, 0);
  const int width = maxWidth * 2;
  const int clearFrom = width - 401;  // odd: one scaled pixel covers a yellow and a clear one
  const fs::path file = NewRunFolder() / "wide.png";
  ASSERT_TRUE(WritePicture(file, GUID_ContainerFormatPng, width, 64, [&](int x, int) {
    return x >= clearFrom ? 0x00000000u : x < width - 800 ? 0xFFE0E020u : 0xFF2020E0u;
  }, true));
  ASSERT_EQ(overlay.LoadPicture(file.string()), 1);
  overlay.ShowPicture(true, -(maxWidth - 300), 10);
  const Frame frame = game.WaitForFrame(HasChange);
  EXPECT_EQ(frame.At(50, 20), 0x2020E0u);
  EXPECT_EQ(frame.At(98, 20), 0x2020E0u);
  EXPECT_TRUE(Near(frame.At(99, 20), 0x2030A0, 2)) << "the edge is " << std::hex << frame.At(99, 20);
  EXPECT_EQ(frame.At(100, 20), kScene);
  EXPECT_EQ(Describe(frame.Changed(kScene)), Describe(RECT{0, 10, 100, 10 + 32}));
}

// The frame rate appears in the top right corner, yellow on black, only while it is switched on.
TEST(OverlayFps, ShowsInTheCornerOnlyWhenOn) {
  Overlay overlay;
  Game game(kGame);
  ASSERT_TRUE(game.WaitForFrames(5)) << game.Failure();
  EXPECT_TRUE(Unchanged(game.Capture()));
  EXPECT_EQ(overlay.ShowFps(true), 1);
  const Frame frame = game.WaitForFrame(HasChange);
  EXPECT_TRUE(Inside(frame.Changed(kScene), RECT{320 - 120, 0, 320, 40})) << Describe(frame.Changed(kScene));
  EXPECT_TRUE(frame.Has(0xFFFF00, kScreen));
  EXPECT_TRUE(frame.Has(0x000000, kScreen));
  overlay.ShowFps(false);
  EXPECT_TRUE(Unchanged(game.WaitForFrame(Unchanged)));
}

// The screen size is the back buffer of the game that presented last; with no game none is written. After a reset
// to another size, both the size and the drawing follow.
TEST(OverlayScreen, SizeFollowsTheBackBufferThroughAReset) {
  for (Api api : {Api::k8, Api::k9}) {
    SCOPED_TRACE(NameOf(api));
    Overlay overlay;
    EXPECT_FALSE(overlay.ScreenSize().has_value()) << "a size was written with no game running";
    Game game(api, "--size 320x240 --clear 204060 --reset-after 30 --reset-size 400x300");
    ASSERT_TRUE(game.WaitForFrames(2)) << game.Failure();
    EXPECT_EQ(overlay.ScreenSize(), std::make_pair(320, 240));
    overlay.SetLine(300, 250, "HH", 0xFFFF0000);
    overlay.ShowLine(true);
    ASSERT_TRUE(WaitUntil([&] { return game.report()->resets.load() == 1; })) << game.Failure();
    ASSERT_TRUE(game.WaitForFrames(2));
    EXPECT_EQ(overlay.ScreenSize(), std::make_pair(400, 300));
    const Frame frame = game.WaitForFrame([](const Frame& f) { return f.width == 400 && f.Count(0xFF0000) > 0; });
    EXPECT_TRUE(frame.Has(0xFF0000, RECT{300, 250, 400, 300}));
    game.End();
    EXPECT_TRUE(WaitUntil([&] { return !overlay.ScreenSize().has_value(); }, 2000))
        << "the size of a game that has ended";
  }
}

class OverlayGames : public ::testing::TestWithParam<GameCase> {};

// With everything shown, the game finds every state it set (render and stage states, textures, shaders, streams,
// indices, viewport, transforms, render target) as it set it after each frame, and the overlay is in its frames.
TEST_P(OverlayGames, DrawAndLeaveTheGameAsItWas) {
  Overlay overlay;
  ShowEverything(overlay, NewRunFolder() / "picture.bmp");
  Game game(GetParam().api, std::string(kGame) + " " + GetParam().arguments);
  ASSERT_TRUE(game.WaitForFrames(40)) << game.Failure();
  // A device made anew every few frames shows the overlay within a frame or two of each start.
  const Frame frame = game.WaitForFrame([](const Frame& f) {
    return f.At(12, 12) == 0xE0E020u && f.Has(0x08D018, RECT{150, 100, 270, 160}, 4) &&
           f.Has(0xFFFF00, RECT{200, 0, 320, 40});
  });
  EXPECT_EQ(frame.At(12, 12), 0xE0E020u) << "no picture";
  EXPECT_TRUE(ShowsTheLine(frame)) << "no line";
  EXPECT_TRUE(frame.Has(0x08D018, RECT{150, 100, 270, 160}, 4)) << "no block";
  EXPECT_TRUE(frame.Has(0xFFFF00, RECT{200, 0, 320, 40})) << "no frame rate";
  const testgame::Report* report = game.report();
  if (GetParam().arguments.find("odd-state") != std::string::npos ||
      GetParam().arguments.find("state-blocks") != std::string::npos) {
    EXPECT_GE(report->stateChecks.load(), 40u);
  }
  EXPECT_EQ(report->stateMismatches.load(), 0u) << report->firstMismatch;
  EXPECT_EQ(game.Failure(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Overlay, OverlayGames,
    ::testing::ValuesIn(OnBothApis({
        GameCase{"OddStates", "--odd-state"},
        GameCase{"OddStatesOnAPureDevice", "--odd-state --pure"},
        GameCase{"StateBlocks", "--state-blocks"},
        GameCase{"StateBlocksOnAPureDevice", "--state-blocks --pure"},
        GameCase{"OffscreenTarget", "--odd-state --offscreen"},
        GameCase{"PureOffscreenTarget", "--odd-state --offscreen --pure"},
        // A target smaller than the back buffer, with a viewport inside it that the overlay's does not fit: it must
        // come back all the same.
        GameCase{"SmallOffscreenTargetAndItsViewport",
                 "--odd-state --offscreen --offscreen-size 256x256 --viewport 8,8,240,200"},
        GameCase{"PureSmallOffscreenTargetAndItsViewport",
                 "--odd-state --offscreen --offscreen-size 256x256 --viewport 8,8,240,200 --pure"},
        GameCase{"Multithreaded", "--odd-state --multithreaded"},
        GameCase{"DeviceCreatedAgain", "--odd-state --recreate-after 15"},
    })),
    CaseName);

class OverlayFormats : public ::testing::TestWithParam<std::string> {};

// Each back-buffer format gets the overlay in its colours (16-bit formats within their precision).
TEST_P(OverlayFormats, DrawInEveryBackBufferFormat) {
  Overlay overlay;
  overlay.SetLine(20, 20, "HHHH", 0xFFFFFFFF, true);
  overlay.ShowLine(true);
  Game game("--size 320x240 --clear 808080 --format " + GetParam());
  const Frame frame = game.WaitForFrame([](const Frame& f) { return f.Has(0xFFFFFF, RECT{20, 20, 120, 50}, 8); });
  ASSERT_TRUE(frame.valid()) << game.Failure();
  EXPECT_TRUE(frame.Has(0x000000, RECT{20, 20, 120, 50}, 8));
  EXPECT_TRUE(Near(frame.At(300, 200), 0x808080, 8)) << std::hex << frame.At(300, 200);
}

INSTANTIATE_TEST_SUITE_P(Overlay, OverlayFormats, ::testing::Values("X8R8G8B8", "A8R8G8B8", "R5G6B5", "X1R5G5B5"));

// Start orders and restarts: what was sent before a game starts shows when it starts; a communication library
// released and loaded again (the dialog closed and started again) takes over the running game; a game started
// again shows the overlay as it stands; two games draw at once.
TEST(OverlayLifetime, StartOrdersRestartsAndTwoGames) {
  auto overlay = std::make_unique<Overlay>();
  overlay->SetLine(40, 30, "HHHH", 0xFFFF0000);
  overlay->ShowLine(true);
  auto game = std::make_unique<Game>(kGame);
  EXPECT_TRUE(game->WaitForFrame([](const Frame& f) { return f.Count(0xFF0000) > 0; }).valid())
      << "set before the game started, not shown when it did";

  overlay.reset();
  ASSERT_TRUE(game->WaitForFrames(3));
  EXPECT_GT(game->Capture().Count(0xFF0000), 0) << "the line went with the library";
  overlay = std::make_unique<Overlay>();  // starts by hiding everything, as the dialog does
  EXPECT_TRUE(Unchanged(game->WaitForFrame(Unchanged)));
  overlay->ShowLine(true);
  EXPECT_GT(game->WaitForFrame([](const Frame& f) { return f.Count(0xFF0000) > 0; }).Count(0xFF0000), 0);

  game = std::make_unique<Game>(kGame);
  Game second("--size 200x100 --clear 204060 --pos 400,0");
  for (const Game* g : {game.get(), &second}) {
    EXPECT_GT(g->WaitForFrame([](const Frame& f) { return f.Count(0xFF0000) > 0; }).Count(0xFF0000), 0)
        << "a game started while the library runs does not show the line";
  }
  ASSERT_TRUE(second.WaitForFrames(2));
  const auto size = overlay->ScreenSize();
  EXPECT_TRUE(size == std::make_pair(320, 240) || size == std::make_pair(200, 100));
}

// A game that never presents draws nothing and holds nothing up: the library's calls return at once.
TEST(OverlayLifetime, AGameThatNeverPresents) {
  Overlay overlay;
  Game game("--size 320x240 --never-present");
  ASSERT_TRUE(WaitUntil([&] { return game.report() != nullptr && game.window() != nullptr; }));
  Sleep(300);
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(overlay.SetLine(1, 1, "x", 0xFFFFFFFF), 1);
  EXPECT_EQ(overlay.ShowLine(true), 1);
  EXPECT_LT(GetTickCount64() - start, 100u);
  EXPECT_FALSE(overlay.ScreenSize().has_value());
  DWORD_PTR answer = 0;
  EXPECT_TRUE(SendMessageTimeoutA(game.window(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer));
  EXPECT_EQ(game.report()->frames.load(), 0u);
}

// A broken or hostile shared state draws nothing and never stops the game; a writer that died in the middle of a
// change (its slot left odd, its lock abandoned) holds nothing up, and the next change shows.
TEST(OverlayLifetime, BrokenStateAndAWriterThatDied) {
  Overlay overlay;
  Game game(kGame);
  ingame::SectionView section = ingame::OpenStateSection();
  ASSERT_TRUE(section);
  ingame::SharedState& state = *ingame::StateOf(section);
  ASSERT_TRUE(game.WaitForFrames(2)) << game.Failure();

  // Lengths beyond every buffer, a picture larger than the limits, everything switched on.
  ingame::LineRecord line = ingame::MakeLineRecord(10, 10, "HHHH", ingame::TextLook{0xFFFF0000, 20, 0});
  line.length = 0xFFFF;
  ingame::BlockRecord block = ingame::MakeBlockRecord(0, 0, 0xFFFF, 0xFFFF, "W", ingame::TextLook{0xFFFF0000, 255, 1});
  block.length = 60000;
  ingame::Publish(state.line, line);
  ingame::Publish(state.block, block);
  ingame::Publish(state.picture, ingame::PictureRecord{12345, 0xFFFFFFFF, 0xFFFFFFFF});
  ingame::Publish(state.switches, ingame::SwitchRecord{1, 1, 1, 0, 0x7FFFFFFF, -0x7FFFFFFF});
  ASSERT_TRUE(game.WaitForFrames(10)) << game.Failure();
  EXPECT_TRUE(Unchanged(game.Capture()));

  // A writer dies holding the lock, half-way through the line.
  Thread writer([&] {
    ingame::WritersLock lock(state, 1000);
    state.line.sequence.fetch_add(1);
    std::memset(static_cast<void*>(&state.line.record), 0x41, sizeof state.line.record);
    ExitThread(0);  // without releasing: the lock is abandoned
  });
  ASSERT_TRUE(writer.Join(kWaitMs));
  ASSERT_TRUE(game.WaitForFrames(5)) << game.Failure();
  EXPECT_TRUE(Unchanged(game.Capture())) << "a half-written line was drawn";
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(overlay.SetLine(40, 30, "HHHH", 0xFFFF0000), 1);
  EXPECT_LT(GetTickCount64() - start, 100u) << "the dead writer's lock held the call up";
  EXPECT_GT(game.WaitForFrame([](const Frame& f) { return f.Count(0xFF0000) > 0; }).Count(0xFF0000), 0);
  EXPECT_EQ(game.Failure(), "");
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// Full screen, another window comes in front and the game is brought back: the device is lost and reset exactly
// when the system alone does so (Wine's Direct3D 8 loses it, others only when set to), and the overlay is drawn
// again once the game draws.
TEST(OverlayLifetime, FullScreenDeviceLostAndReset) {
  for (Api api : {Api::k8, Api::k9}) {
    SCOPED_TRACE(NameOf(api));
    struct Outcome {
      bool lost = false;
      bool reset = false;
    };
    const auto play = [api](bool withOverlay, Outcome& outcome) {
      Game game(api, "--fullscreen --clear 204060", withOverlay);
      const auto shown = [](const Frame& f) { return f.Count(0xFF0000) > 0; };
      if (!game.WaitForFrames(5, 5000)) GTEST_SKIP() << "no full-screen device here: " << game.Failure();
      if (withOverlay) {
        ASSERT_TRUE(game.WaitForFrame(shown).valid());
      }
      HWND window = game.window();
      {
        // Another program's window in front: the game is switched away from.
        Thread other([] {
          HWND front = CreateWindowExA(0, "STATIC", "in front", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                       nullptr, nullptr, nullptr, nullptr);
          SetForegroundWindow(front);
          const ULONGLONG end = GetTickCount64() + 1500;
          MSG msg;
          while (GetTickCount64() < end) {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
            Sleep(5);
          }
          DestroyWindow(front);
        });
        outcome.lost = WaitUntil([&] { return game.report()->lostFrames.load() > 0; }, 2500);
      }
      // Back as a player brings it back: restored from the minimized state a full-screen game falls into.
      ShowWindow(window, SW_RESTORE);
      SetForegroundWindow(window);
      outcome.reset = !outcome.lost || WaitUntil([&] { return game.report()->resets.load() > 0; });
      EXPECT_TRUE(game.WaitForFrames(5)) << game.Failure();
      if (withOverlay) {
        EXPECT_TRUE(game.WaitForFrame(shown).valid()) << "not drawn after coming back";
      }
      EXPECT_EQ(game.Failure(), "");
    };
    Overlay overlay;
    overlay.SetLine(40, 30, "HHHH", 0xFFFF0000);
    overlay.ShowLine(true);
    Outcome alone;
    Outcome withOverlay;
    play(false, alone);
    if (IsSkipped()) continue;
    play(true, withOverlay);
    EXPECT_EQ(withOverlay.lost, alone.lost) << "lost with the overlay unlike the system alone";
    EXPECT_TRUE(withOverlay.reset) << "not reset after it was lost";
  }
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// The whole way, with the program and the overlay's own libraries: the dialog's "Set Text Data" buttons set what
// the game shows, INSERT, HOME and END pressed with the game in front switch the line, the block and the picture
// (from the dialog's path), "Get ScreenSize Info" reports the game's back buffer and "Show FPS Info" puts the
// frame rate into it.
TEST(OverlayWithProgram, TheDialogDrivesTheGame) {
  const fs::path picture = NewRunFolder() / "picture.bmp";
  WriteBmp(picture, 16, 8, [](int, int) { return 0xE0E020u; });
  // Beside the dialog, which opens in the middle of the screen.
  Game game("--size 320x240 --clear 204060 --pos 0,0");
  ASSERT_TRUE(game.WaitForFrames(2)) << game.Failure();
  Libraries libraries;
  libraries.comms = libraries.hook = "overlay";
  App app(libraries);
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(app.WaitForDialog());

  ASSERT_TRUE(app.SetText(IDC_LINE_X, "200"));
  ASSERT_TRUE(app.SetText(IDC_LINE_Y, "200"));
  ASSERT_TRUE(app.SetText(IDC_PICTURE_PATH, picture.string()));
  ASSERT_TRUE(app.ClickAndWait(IDC_SET_LINE));
  ASSERT_TRUE(app.ClickAndWait(IDC_SET_MULTI));  // red "Line1" to "Line3" in the box at (20, 40), 100 x 100
  EXPECT_FALSE(app.FindMessageBox().has_value());
  EXPECT_TRUE(Unchanged(game.Capture())) << "shown before its key was pressed";

  const RECT lineArea{200, 200, 320, 240};
  const RECT blockArea{20, 40, 120, 140};
  const RECT pictureArea{10, 10, 26, 18};
  const auto only = [](const RECT& area) {
    return [area](const Frame& f) { return HasChange(f) && Inside(f.Changed(kScene), area); };
  };
  ASSERT_TRUE(PressKeyIn(game.window(), VK_INSERT));
  EXPECT_TRUE(game.WaitForFrame(only(lineArea)).Has(0xFF0000, lineArea)) << "line not shown";
  EXPECT_EQ(app.Text(IDC_LINE_STATE), "INGAME SINGLE LINE ON");
  ASSERT_TRUE(PressKeyIn(game.window(), VK_INSERT));
  ASSERT_TRUE(PressKeyIn(game.window(), VK_HOME));
  EXPECT_TRUE(game.WaitForFrame(only(blockArea)).Has(0xFF0000, blockArea)) << "block not shown";
  ASSERT_TRUE(PressKeyIn(game.window(), VK_HOME));
  ASSERT_TRUE(PressKeyIn(game.window(), VK_END));
  const Frame withPicture = game.WaitForFrame(only(pictureArea));
  EXPECT_EQ(withPicture.At(10, 10), 0xE0E020u) << "picture not shown";
  EXPECT_EQ(withPicture.At(25, 17), 0xE0E020u);
  ASSERT_TRUE(PressKeyIn(game.window(), VK_END));
  EXPECT_TRUE(Unchanged(game.WaitForFrame(Unchanged)));
  const std::string log = "<ins>\r\n<ins>\r\n<home>\r\n<home>\r\n<end>\r\n<end>\r\n";
  EXPECT_TRUE(WaitUntil([&] { return app.Text(IDC_KEY_LOG) == log; })) << app.Text(IDC_KEY_LOG);

  ASSERT_TRUE(app.ClickAndWait(IDC_GET_SCREEN_SIZE));
  EXPECT_EQ(app.Text(IDC_SCREEN_SIZE), "320 x 240");
  app.Click(IDC_SHOW_FPS);
  EXPECT_TRUE(game.WaitForFrame(HasChange).Has(0xFFFF00, RECT{200, 0, 320, 40})) << "no frame rate";
  EXPECT_FALSE(app.FindMessageBox().has_value());
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// The shared state is open to the user's own processes only: its one access entry is the user's.
TEST(OverlayLifetime, SharedStateIsOpenToTheUserOnly) {
  Overlay overlay;
  HANDLE section = OpenFileMappingA(READ_CONTROL, FALSE, ingame::kStateName);
  ASSERT_NE(section, nullptr);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(section, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(section);
  ASSERT_NE(dacl, nullptr) << "no access list: open to everyone";
  ACL_SIZE_INFORMATION size{};
  GetAclInformation(dacl, &size, sizeof size, AclSizeInformation);
  EXPECT_EQ(size.AceCount, 1u);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &ace));
  const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  std::vector<BYTE> user(256);
  DWORD bytes = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &bytes));
  CloseHandle(token);
  EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&allowed->SidStart), reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid));
  LocalFree(descriptor);
}

}  // namespace
}  // namespace e2e
