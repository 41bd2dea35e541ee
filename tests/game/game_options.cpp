// The test game's options: what it reads from its command line (test_game.cpp lists the options).
#include "tests/game/game_options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/game/game_report.h"

namespace testgame {
namespace {

bool ParseSize(const char* text, UINT& width, UINT& height) {
  unsigned w = 0;
  unsigned h = 0;
  if (std::sscanf(text, "%ux%u", &w, &h) != 2 || w == 0 || h == 0 || w * h > testgame::kMaxCapturePixels) return false;
  width = w;
  height = h;
  return true;
}

bool ParseRect(const char* text, unsigned (&values)[4]) {
  return std::sscanf(text, "%u,%u,%u,%u", &values[0], &values[1], &values[2], &values[3]) == 4 && values[2] > 0 &&
         values[3] > 0;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : "";
    unsigned rect[4] = {};
    if (a == "--size" && ParseSize(next, options.width, options.height)) {
      ++i;
    } else if (a == "--pos" && std::sscanf(next, "%d,%d", &options.x, &options.y) == 2) {
      ++i;
    } else if (a == "--clear") {
      options.clear = 0xFF000000u | static_cast<DWORD>(std::strtoul(next, nullptr, 16));
      ++i;
    } else if (a == "--format" || a == "--back-buffer-format") {
      using Format = Options::Format;
      const std::string f = next;
      options.format = f == "A8R8G8B8"      ? Format::A8R8G8B8
                       : f == "R5G6B5"      ? Format::R5G6B5
                       : f == "X1R5G5B5"    ? Format::X1R5G5B5
                       : f == "A2R10G10B10" ? Format::A2R10G10B10
                                            : Format::X8R8G8B8;
      ++i;
    } else if (a == "--swap") {
      using Swap = Options::Swap;
      const std::string f = next;
      options.swap = f == "copy"      ? Swap::Copy
                     : f == "flip"    ? Swap::Flip
                     : f == "flipex"  ? Swap::FlipEx
                     : f == "overlay" ? Swap::Overlay
                                      : Swap::Discard;
      ++i;
    } else if (a == "--d3d9") {
      options.api = Options::Api::Direct3D9;
    } else if (a == "--d3d9ex") {
      options.api = Options::Api::Direct3D9Ex;
    } else if (a == "--multisample") {
      options.multisample = static_cast<UINT>(std::strtoul(next, nullptr, 10));
      if (options.multisample < 2 || options.multisample > 16) return false;
      ++i;
    } else if (a == "--present-donotwait") {
      options.presentDoNotWait = true;
    } else if (a == "--still-drawing") {
      options.stillDrawingEvery = static_cast<UINT>(std::strtoul(next, nullptr, 10));
      if (options.stillDrawingEvery < 2) return false;
      options.presentDoNotWait = true;
      ++i;
    } else if (a == "--present-through-chain") {
      options.presentThroughChain = true;
    } else if (a == "--no-dynamic-textures") {
      options.noDynamicTextures = true;
    } else if (a == "--back-buffers") {
      options.backBuffers = static_cast<UINT>(std::strtoul(next, nullptr, 10));
      if (options.backBuffers < 1 || options.backBuffers > 3) return false;
      ++i;
    } else if (a == "--draw-once") {
      options.drawOnce = true;
    } else if (a == "--pure") {
      options.pure = true;
    } else if (a == "--multithreaded") {
      options.multithreaded = true;
    } else if (a == "--odd-state") {
      options.oddState = true;
    } else if (a == "--state-blocks") {
      options.oddState = options.stateBlocks = true;
    } else if (a == "--offscreen") {
      options.offscreen = true;
    } else if (a == "--offscreen-size" && ParseSize(next, options.offscreenWidth, options.offscreenHeight)) {
      ++i;
    } else if (a == "--viewport" && ParseRect(next, rect)) {
      options.viewportGiven = true;
      std::copy(rect, rect + 4, options.viewport);
      ++i;
    } else if (a == "--bind-released") {
      options.bindReleased = true;
    } else if (a == "--source" && ParseRect(next, rect)) {
      options.sourceGiven = true;
      options.source = RECT{static_cast<LONG>(rect[0]), static_cast<LONG>(rect[1]), static_cast<LONG>(rect[0] + rect[2]),
                            static_cast<LONG>(rect[1] + rect[3])};
      ++i;
    } else if (a == "--chains") {
      options.chains = static_cast<UINT>(std::strtoul(next, nullptr, 10));
      if (options.chains > 2) return false;
      ++i;
    } else if (a == "--probe") {
      options.probe = true;
    } else if (a == "--never-present") {
      options.neverPresent = true;
    } else if (a == "--fullscreen") {
      options.fullscreen = true;
    } else if (a == "--reset-after") {
      options.resetAfter = static_cast<UINT>(std::strtoul(next, nullptr, 10));
      ++i;
    } else if (a == "--reset-size" && ParseSize(next, options.resetWidth, options.resetHeight)) {
      ++i;
    } else if (a == "--side-thread") {
      const std::string m = next;
      options.side = m == "shaders" ? Options::Side::Shaders
                     : m == "states" ? Options::Side::States
                     : m == "process" ? Options::Side::Process
                                      : Options::Side::None;
      if (options.side == Options::Side::None) return false;
      options.multithreaded = true;
      options.oddState = options.setOnce = options.side != Options::Side::Shaders;
      ++i;
    } else if (a == "--failing-reset") {
      options.failingReset = true;
    } else if (a == "--defaults") {
      options.defaults = true;
    } else if (a == "--load-churn") {
      options.loadChurn = true;
    } else if (a == "--release-on-request") {
      options.releaseOnRequest = true;
    } else if (a == "--restore-table") {
      options.restoreTable = true;
    } else if (a == "--first-rect-only") {
      options.firstRectOnly = true;
    } else if (a == "--texture-copies-refused") {
      options.textureCopiesRefused = true;
    } else if (a == "--documented-flip") {
      options.documentedFlip = true;
    } else if (a == "--second-table") {
      options.secondTable = true;
    } else if (a == "--other-tool") {
      const std::string t = next;
      options.tool = t == "first" ? Options::Tool::First : t == "late" ? Options::Tool::Late : Options::Tool::None;
      if (options.tool == Options::Tool::None) return false;
      ++i;
    } else if (a == "--refuse-textures") {
      options.refuseTexturesMs = static_cast<DWORD>(std::strtoul(next, nullptr, 10));
      ++i;
    } else if (a == "--cbt-hook") {
      options.cbtHook = true;
    } else if (a == "--recreate-after") {
      options.recreateAfter = static_cast<UINT>(std::strtoul(next, nullptr, 10));
      ++i;
    } else {
      return false;
    }
  }
  // What only the Direct3D 8 game does: it puts other Direct3D 8s on the system's, and reads Direct3D 8's defaults.
  const bool direct3d8Only = options.defaults || options.restoreTable || options.firstRectOnly ||
                             options.textureCopiesRefused || options.documentedFlip || options.secondTable ||
                             options.tool != Options::Tool::None || options.refuseTexturesMs != 0;
  // And what only a Direct3D 9 game does: its present that does not wait, and the swap effects Direct3D 8 has not.
  const bool direct3d9Only = options.presentDoNotWait || options.presentThroughChain || options.noDynamicTextures ||
                             options.swap == Options::Swap::FlipEx ||
                             options.swap == Options::Swap::Overlay || options.format == Options::Format::A2R10G10B10;
  return options.api == Options::Api::Direct3D8 ? !direct3d9Only : !direct3d8Only;
}

}  // namespace testgame
