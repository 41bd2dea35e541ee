// The preview's window: a stand-in for a running game. It renders its scene with Direct3D 8 (or 9) and presents
// a frame at the rate asked for, as a small game does; keys take the default path, so the hook library sees
// them as in any game.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "preview/options.h"
#include "preview/renderer.h"

namespace preview {

class CPreviewWindow {
 public:
  explicit CPreviewWindow(const Options& options);
  ~CPreviewWindow();
  CPreviewWindow(const CPreviewWindow&) = delete;
  CPreviewWindow& operator=(const CPreviewWindow&) = delete;

  // Creates the window and its device and shows it; false, with `error` saying why and nothing shown, when
  // it cannot.
  bool Create(HINSTANCE instance, std::string& error);
  // Presents frames and handles messages until the window is closed; returns the exit code.
  int Run();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnPlaceTimer();
  void LoadScene();
  void SetTitle();

  Options options_;
  HWND window_ = nullptr;
  std::unique_ptr<IRenderer> renderer_;
  std::string sceneNotice_;
  int placeAttempts_ = 0;
};

}  // namespace preview
