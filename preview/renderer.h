// The preview's device and what it draws each frame: the moving scene (sky, drifting hills, a chequered floor
// scrolling toward the viewer, a swaying craft; with --heavy also a circle of spinning lit rings and see-through
// layers over everything), or the still picture, one texel per pixel. The same scene on Direct3D 8 (the
// default), Direct3D 9 or the extended Direct3D 9 (scene_renderer.h).
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "preview/options.h"
#include "preview/picture_file.h"

namespace preview {

class IRenderer {
 public:
  virtual ~IRenderer() = default;

  // Creates the device presenting into `window`, with a back buffer of the options' size; false, with `error`
  // saying why, when the Direct3D cannot give one.
  virtual bool Create(HWND window, const Options& options, std::string& error) = 0;
  // Releases everything, the device last.
  virtual void Release() = 0;

  // The largest picture the device takes as one texture.
  virtual int MaxPictureWidth() const = 0;
  virtual int MaxPictureHeight() const = 0;
  // Shows `picture` as the still scene from now on, stretched over the screen; false, with `error`, when its
  // texture cannot be made.
  virtual bool SetStillPicture(const Picture& picture, std::string& error) = 0;

  // Draws and presents the frame at `seconds` since the start. False while the device is lost and cannot be
  // reset yet; the caller waits a little before it tries again.
  virtual bool DrawFrame(double seconds) = 0;
};

// The renderer on the Direct3D the options ask for.
std::unique_ptr<IRenderer> MakeRenderer(const Options& options);

// Each in a source file of its own, which includes only its Direct3D's header.
std::unique_ptr<IRenderer> MakeDirect3D8Renderer();
std::unique_ptr<IRenderer> MakeDirect3D9Renderer(bool extended);

}  // namespace preview
