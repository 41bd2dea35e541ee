// The preview's window: a stand-in for a running game's screen. It draws a scene every frame into a bitmap of
// the screen's size, blends the overlay over it as the communication library's stand-in describes it (one
// WM_COPYDATA message per call, preview/protocol.h), and puts the finished frame on the window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "preview/options.h"
#include "preview/protocol.h"
#include "preview/raster.h"

namespace preview {

class CPreviewWindow {
 public:
  explicit CPreviewWindow(const Options& options);
  ~CPreviewWindow();
  CPreviewWindow(const CPreviewWindow&) = delete;
  CPreviewWindow& operator=(const CPreviewWindow&) = delete;

  // Creates and shows the window; false (with nothing left behind) when it cannot.
  bool Create(HINSTANCE instance);
  // Draws frames and handles messages until the window is closed; returns the exit code.
  int Run();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnCopyData(const COPYDATASTRUCT& data);
  // Applies one call's effect; returns the answer to the caller.
  std::uint32_t Apply(const Message& message);
  void LoadPicture(const std::string& path);
  void OnPlaceTimer();

  bool CreateBackBuffer();
  void LoadScene();
  void DrawFrame(double milliseconds);
  void DrawFpsFigure();
  void Present(HDC dc) const;
  void SetNotice(const std::string& notice);

  Options options_;
  HWND window_ = nullptr;
  HDC memoryDc_ = nullptr;
  HBITMAP backBuffer_ = nullptr;
  HGDIOBJ oldBitmap_ = nullptr;
  HFONT fpsFont_ = nullptr;
  Pixels frame_;
  // The still scene, when one was given and could be read.
  std::vector<std::uint32_t> scene_;
  Overlay overlay_;
  FpsMeter fpsMeter_;
  std::string sceneNotice_;
  std::string notice_;
  int placeAttempts_ = 0;
};

}  // namespace preview
