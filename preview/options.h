// The preview's command line. Window-free.
//
//   va_vazu_preview.exe [--size WIDTHxHEIGHT] [--scene PICTURE] [--pos X,Y | --beside WINDOW-TITLE]
//                       [--fps-limit N]
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace preview {

struct Options {
  // The game's screen: the client area of the window, and what HVSI_GetScreenSize reports.
  int width = 800;
  int height = 600;
  // A picture shown as a still scene instead of the moving one, fitted to the screen.
  std::string scene;
  // Where the window's top left corner goes; else the system's choice.
  std::optional<int> x;
  std::optional<int> y;
  // A window to sit beside once it appears (by its title), as the dialog does when both are started together.
  std::string beside;
  // Frames drawn per second at most; 0 draws as fast as it can, as a game without vertical sync does.
  int frameLimit = 60;
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
