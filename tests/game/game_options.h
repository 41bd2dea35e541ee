// The test game's options (test_game.cpp lists them), in terms of neither Direct3D: each Direct3D's part of the
// game (direct3d8.cpp, direct3d9.cpp) maps the formats and swap effects to its own values.
#pragma once

#include <windows.h>

namespace testgame {

struct Options {
  enum class Api { Direct3D8, Direct3D9, Direct3D9Ex } api = Api::Direct3D8;
  UINT width = 320;
  UINT height = 240;
  int x = 0;
  int y = 0;
  DWORD clear = 0xFF204060;
  enum class Format { X8R8G8B8, A8R8G8B8, R5G6B5, X1R5G5B5, A2R10G10B10 } format = Format::X8R8G8B8;
  enum class Swap { Discard, Copy, Flip, FlipEx, Overlay } swap = Swap::Discard;
  UINT backBuffers = 1;
  UINT multisample = 0;
  bool drawOnce = false;
  bool pure = false;
  bool multithreaded = false;
  bool oddState = false;
  bool stateBlocks = false;
  bool offscreen = false;
  UINT offscreenWidth = 0;  // 0: the back buffer's size
  UINT offscreenHeight = 0;
  bool viewportGiven = false;
  UINT viewport[4] = {};  // X, Y, width, height
  bool bindReleased = false;
  bool sourceGiven = false;
  RECT source{};
  UINT chains = 0;
  bool probe = false;
  bool neverPresent = false;
  bool fullscreen = false;
  UINT resetAfter = 0;
  UINT resetWidth = 0;
  UINT resetHeight = 0;
  UINT recreateAfter = 0;
  enum class Side { None, Shaders, States, Process } side = Side::None;
  bool setOnce = false;  // odd states set once, never per frame
  bool failingReset = false;
  bool defaults = false;
  bool loadChurn = false;
  bool releaseOnRequest = false;
  bool restoreTable = false;
  bool firstRectOnly = false;
  bool textureCopiesRefused = false;
  bool documentedFlip = false;
  bool secondTable = false;
  enum class Tool { None, First, Late } tool = Tool::None;
  DWORD refuseTexturesMs = 0;
  bool cbtHook = false;
  bool presentDoNotWait = false;
  UINT stillDrawingEvery = 0;  // --still-drawing N
  bool presentThroughChain = false;
  bool noDynamicTextures = false;
};

// False for an unknown option, a bad value, or an option the Direct3D chosen does not have.
bool ParseOptions(int argc, char** argv, Options& options);

}  // namespace testgame
