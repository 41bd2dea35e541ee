// The preview's window-free parts: the messages between the stand-in and the preview, the drawing maths of
// the overlay, and the command line.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "preview/options.h"
#include "preview/protocol.h"
#include "preview/raster.h"

using namespace preview;

namespace {

// A frame of one colour, with the pixels it owns.
struct Frame {
  std::vector<std::uint32_t> memory;
  Pixels pixels;
  Frame(int width, int height, std::uint32_t colour)
      : memory(static_cast<std::size_t>(width) * height, colour), pixels{memory.data(), width, height} {}
  int CountOther(std::uint32_t colour) const {
    int n = 0;
    for (std::uint32_t p : memory) n += p != colour ? 1 : 0;
    return n;
  }
};

Coverage FullCoverage(const Rect& bounds) {
  return Coverage{bounds, std::vector<std::uint8_t>(static_cast<std::size_t>(bounds.Width()) * bounds.Height(), 255)};
}

}  // namespace

TEST(PreviewProtocol, EveryFieldSurvivesTheTrip) {
  Message m;
  m.command = Command::SetBlock;
  m.show = true;
  m.x = 65535;  // a word position arrives zero-extended
  m.y = -7;     // the picture's positions are signed
  m.width = 0xFFFF;
  m.height = 1;
  m.look = TextLook{0x80FF1020, true, 200, false, true};
  m.text = std::string("Line1\r\n\xFC\x81", 9);
  const std::vector<std::uint8_t> bytes = Encode(m);
  ASSERT_EQ(bytes.size(), kHeaderSize + m.text.size());
  EXPECT_EQ(bytes[0], 1);  // version, little-endian
  EXPECT_EQ(bytes[2], 3);  // command
  const std::optional<Message> back = Decode(bytes.data(), bytes.size());
  ASSERT_TRUE(back.has_value());
  EXPECT_TRUE(*back == m);

  m.look = TextLook{0, false, 0, true, false};
  m.show = false;
  EXPECT_TRUE(*Decode(Encode(m).data(), Encode(m).size()) == m);
}

TEST(PreviewProtocol, RejectsWhatIsNotAMessageOfThisVersion) {
  Message m;
  m.command = Command::SetLine;
  m.text = "abc";
  const std::vector<std::uint8_t> good = Encode(m);
  EXPECT_TRUE(Decode(good.data(), good.size()).has_value());
  EXPECT_FALSE(Decode(nullptr, 0).has_value());
  EXPECT_FALSE(Decode(good.data(), good.size() - 1).has_value()) << "text shorter than its length";
  std::vector<std::uint8_t> longer = good;
  longer.push_back('x');
  EXPECT_FALSE(Decode(longer.data(), longer.size()).has_value()) << "bytes after the text";
  std::vector<std::uint8_t> version = good;
  version[0] = 2;
  EXPECT_FALSE(Decode(version.data(), version.size()).has_value());
  std::vector<std::uint8_t> command = good;
  command[2] = 9;
  EXPECT_FALSE(Decode(command.data(), command.size()).has_value());
  command[2] = 0;
  EXPECT_FALSE(Decode(command.data(), command.size()).has_value());

  // A text is cut to its command's limit when encoded, and a longer one is refused when decoded.
  m.text.assign(200, 'a');
  const std::vector<std::uint8_t> cut = Encode(m);
  EXPECT_EQ(Decode(cut.data(), cut.size())->text.size(), kLineTextLimit);
  m.command = Command::SetBlock;
  std::vector<std::uint8_t> forged = Encode(m);
  forged[2] = static_cast<std::uint8_t>(Command::SetLine);
  EXPECT_FALSE(Decode(forged.data(), forged.size()).has_value()) << "200 bytes for the 127-byte line";
  m.command = Command::ShowLine;
  EXPECT_EQ(Encode(m).size(), kHeaderSize) << "a show message carries no text";
}

TEST(PreviewProtocol, ScreenSizeAnswerIsNeverZero) {
  int w = 0;
  int h = 0;
  UnpackScreenSize(PackScreenSize(1024, 768), w, h);
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 768);
  UnpackScreenSize(PackScreenSize(65535, 1), w, h);
  EXPECT_EQ(w, 65535);
  EXPECT_EQ(h, 1);
  EXPECT_NE(PackScreenSize(0, 0), 0u);
}

TEST(PreviewRaster, BlendMixesEachChannelByAlpha) {
  EXPECT_EQ(Blend(0x406080, 0xFF0000, 0), 0x406080u);
  EXPECT_EQ(Blend(0x406080, 0xFF0000, 255), 0xFF0000u);
  EXPECT_EQ(Blend(0x406080, 0xFF0000, 128), 0xA03040u);
  EXPECT_EQ(Blend(0x000000, 0xFFFFFF, 1), 0x010101u);
}

// Everything that draws stays inside the frame, whatever the position, and alpha 0 or a hidden element
// draws nothing.
TEST(PreviewRaster, DrawingIsClippedToTheFrame) {
  Frame frame(10, 8, 0x111111);
  FillBlended(frame.pixels, Rect{-5, -5, 3, 2}, 0xFFFFFF, 255);
  EXPECT_EQ(frame.CountOther(0x111111), 3 * 2);
  FillBlended(frame.pixels, Rect{8, 6, 100, 100}, 0xFFFFFF, 0);
  EXPECT_EQ(frame.CountOther(0x111111), 3 * 2);

  Frame text(10, 8, 0);
  BlendCoverage(text.pixels, FullCoverage(Rect{7, 5, 20, 20}), 0x00FF00, 255);
  EXPECT_EQ(text.CountOther(0), 3 * 3);
  EXPECT_EQ(text.memory[7 * 10 + 9], 0x00FF00u);

  Picture picture{4, 3, std::vector<std::uint32_t>(12, 0xFF0000FF)};
  picture.argb[1] = 0x00FFFFFF;  // a see-through pixel leaves the frame as it was
  Frame drawn(10, 8, 0);
  DrawPicture(drawn.pixels, picture, -2, -1);
  EXPECT_EQ(drawn.CountOther(0), 2 * 2);
  DrawPicture(drawn.pixels, picture, 9, 7);
  EXPECT_EQ(drawn.CountOther(0), 2 * 2 + 1);
  DrawPicture(drawn.pixels, picture, 20, 0);
  DrawPicture(drawn.pixels, picture, 0, -3);
  EXPECT_EQ(drawn.CountOther(0), 2 * 2 + 1);
  Frame corner(10, 8, 0);
  DrawPicture(corner.pixels, picture, 0, 0);
  EXPECT_EQ(corner.memory[0], 0x0000FFu);
  EXPECT_EQ(corner.memory[1], 0u);
  EXPECT_EQ(corner.CountOther(0), 4 * 3 - 1);
}

TEST(PreviewRaster, OverlayDrawsOnlyShownElementsWithTheirBackground) {
  Overlay overlay;
  overlay.line.set = true;
  overlay.line.box = Rect{2, 2, 6, 4};
  overlay.line.coverage = Coverage{Rect{2, 2, 6, 4}, {0, 255, 0, 0, 0, 0, 0, 0}};
  overlay.line.look = TextLook{0xFFFF0000, true, 20, false, false};

  Frame hidden(8, 6, 0x406080);
  ComposeOverlay(hidden.pixels, overlay);
  EXPECT_EQ(hidden.CountOther(0x406080), 0) << "not shown yet";

  overlay.line.shown = true;
  Frame shown(8, 6, 0x406080);
  ComposeOverlay(shown.pixels, overlay);
  EXPECT_EQ(shown.CountOther(0x406080), 8) << "the background fills the box";
  EXPECT_EQ(shown.memory[2 * 8 + 3], 0xFF0000u) << "the text over it";
  EXPECT_EQ(shown.memory[2 * 8 + 2], 0u);

  overlay.line.look.argb = 0x00FF0000;
  Frame invisible(8, 6, 0x406080);
  ComposeOverlay(invisible.pixels, overlay);
  EXPECT_EQ(invisible.CountOther(0x406080), 0) << "alpha 0 draws neither text nor background";
}

// The scene fills every pixel of any size of screen, and no further (the sanitizers watch the edges), and moves.
TEST(PreviewRaster, SceneFillsTheFrameAndMoves) {
  for (const auto& size : std::vector<std::pair<int, int>>{{1, 1}, {3, 2}, {2, 50}, {801, 599}}) {
    Frame first(size.first, size.second, 0xFEFEFE);
    Frame later(size.first, size.second, 0xFEFEFE);
    DrawScene(first.pixels, 0);
    DrawScene(later.pixels, 123456789);
    EXPECT_EQ(first.CountOther(0xFEFEFE), size.first * size.second);
    if (size.first > 100) {
      EXPECT_NE(first.memory, later.memory) << "the scene stands still";
    }
  }
}

TEST(PreviewRaster, BlockLinesAreSplitAtCrLfOnly) {
  EXPECT_EQ(SplitLines("Line1\r\nLine2\r\nLine3"), (std::vector<std::string>{"Line1", "Line2", "Line3"}));
  EXPECT_EQ(SplitLines("a\nb\rc\r\n"), (std::vector<std::string>{"a\nb\rc", ""}));
  EXPECT_EQ(SplitLines(""), (std::vector<std::string>{""}));
  EXPECT_EQ(SplitLines("\r\n\r\n").size(), 3u);
}

TEST(PreviewRaster, FpsMeterCountsFramesOverEachSecond) {
  FpsMeter meter;
  bool changed = false;
  for (int frame = 0; frame <= 60; ++frame) changed = meter.AddFrame(1000 + frame * 1000 / 60);
  EXPECT_TRUE(changed);
  EXPECT_EQ(meter.Fps(), 60);
  for (int frame = 1; frame <= 30; ++frame) meter.AddFrame(2000 + frame * 1000 / 30);
  EXPECT_EQ(meter.Fps(), 30);
}

TEST(PreviewRaster, PlaceBesideFindsRoomOnEitherSide) {
  const Rect work{0, 0, 1920, 1040};
  const Rect dialog{0, 0, 651, 580};
  const Rect right = PlaceBeside(dialog, 806, 625, work);
  EXPECT_EQ(right.left, 651);
  EXPECT_EQ(right.top, 0);
  const Rect left = PlaceBeside(Rect{1200, 100, 1851, 680}, 806, 625, work);
  EXPECT_EQ(left.right, 1200);
  EXPECT_EQ(left.top, 100);
  // Room on neither side: on the roomier one, kept on the screen.
  const Rect squeezed = PlaceBeside(dialog, 806, 625, Rect{0, 0, 1280, 1024});
  EXPECT_EQ(squeezed.left, 1280 - 806);
  const Rect low = PlaceBeside(Rect{0, 900, 651, 1480}, 806, 625, work);
  EXPECT_EQ(low.bottom, 1040);
}

TEST(PreviewOptions, ReadsEveryOptionAndRejectsBadOnes) {
  const ParsedOptions defaults = ParseOptions({});
  EXPECT_TRUE(defaults.error.empty());
  EXPECT_EQ(defaults.options.width, 800);
  EXPECT_EQ(defaults.options.height, 600);

  const ParsedOptions all = ParseOptions(
      {"--size", "1024x768", "--scene", "C:\\shot.jpg", "--pos", "-10,20", "--beside", "Demo", "--fps-limit", "0"});
  ASSERT_TRUE(all.error.empty()) << all.error;
  EXPECT_EQ(all.options.width, 1024);
  EXPECT_EQ(all.options.height, 768);
  EXPECT_EQ(all.options.scene, "C:\\shot.jpg");
  EXPECT_EQ(all.options.x, -10);
  EXPECT_EQ(all.options.y, 20);
  EXPECT_EQ(all.options.beside, "Demo");
  EXPECT_EQ(all.options.frameLimit, 0);

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--size", "0x600"}, {"--size", "800"}, {"--size", "800x600x2"}, {"--size", "16385x10"},
           {"--size", "x600"}, {"--pos", "1;2"}, {"--fps-limit", "-1"}, {"--size"}, {"--colour", "red"}, {"extra"}}) {
    EXPECT_FALSE(ParseOptions(bad).error.empty()) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
  }
}
