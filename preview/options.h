// The preview's command line. Window-free.
//
//   va_vazu_preview.exe [--size WIDTHxHEIGHT] [--scene PICTURE | --heavy] [--pos X,Y | --beside WINDOW-TITLE]
//                       [--fps-limit N] [--run-for MS --stats FILE] [--d3d9 | --d3d9ex]
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace preview {

// The Direct3D the preview draws with: 8, 9, or 9 through its extended object and device.
enum class Direct3D { k8, k9, k9Ex };

struct Options {
  // The game's screen: the back buffer, and the client area of the window.
  int width = 800;
  int height = 600;
  // A picture shown as a still scene instead of the moving one, fitted to the screen.
  std::string scene;
  // The moving scene with more to draw in every frame, for measuring what the overlay costs a busier game.
  bool heavy = false;
  // Where the window's top left corner goes; else the system's choice.
  std::optional<int> x;
  std::optional<int> y;
  // A window to sit beside once it appears (by its title), as the dialog does when both are started together.
  std::string beside;
  // Frames presented per second at most; 0 presents as fast as it can, without waiting for vertical sync.
  int frameLimit = 60;
  // For benchmarks: after a second of warming up, count the frames of this many milliseconds, write what was
  // measured to `stats` and end. 0 runs until the window is closed.
  int runForMs = 0;
  std::string stats;
  // Direct3D 8 unless --d3d9 or --d3d9ex asks for another.
  Direct3D direct3d = Direct3D::k8;
};

struct ParsedOptions {
  Options options;
  std::string error;  // empty when the command line was understood
};

ParsedOptions ParseOptions(const std::vector<std::string>& arguments);

// "1024x768" (or with 'X'): both between 1 and 16384.
bool ParseSize(const std::string& text, int& width, int& height);

extern const char kUsage[];

}  // namespace preview
