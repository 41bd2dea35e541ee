// The preview's Direct3D 8 device and what it draws each frame: the moving scene (sky, drifting hills, a
// chequered floor scrolling toward the viewer, a swaying craft; with --heavy also a circle of spinning lit
// rings and see-through layers over everything), or the still picture, one texel per pixel.
#pragma once

#include <windows.h>
#include <d3d8.h>

#include <string>

#include "preview/com_ref.h"
#include "preview/options.h"
#include "preview/picture_file.h"

namespace preview {

class CRenderer {
 public:
  CRenderer() = default;
  CRenderer(const CRenderer&) = delete;
  CRenderer& operator=(const CRenderer&) = delete;

  // Creates the device presenting into `window`, with a back buffer of the options' size; false, with `error`
  // saying why, when Direct3D 8 cannot give one.
  bool Create(HWND window, const Options& options, std::string& error);
  // Releases everything, the device last.
  void Release();

  // The largest picture the device takes as one texture.
  int MaxPictureWidth() const;
  int MaxPictureHeight() const;
  // Shows `picture` as the still scene from now on, stretched over the screen; false, with `error`, when its
  // texture cannot be made.
  bool SetStillPicture(const Picture& picture, std::string& error);

  // Draws and presents the frame at `seconds` since the start. False while the device is lost and cannot be
  // reset yet; the caller waits a little before it tries again.
  bool DrawFrame(double seconds);

 private:
  bool CreateMovingScene(std::string& error);
  bool CreateHeavyScene(std::string& error);
  // A square texture with every level filled from texel(x, y, level side).
  bool MakePatternTexture(UINT side, std::uint32_t (*texel)(int, int, int), ComRef<IDirect3DTexture8>& texture);
  // After a lost device: true once it can draw again.
  bool Restore();
  void DrawMoving(double seconds);
  void DrawHeavy(double seconds);
  void DrawStill();

  void SetState(D3DRENDERSTATETYPE state, DWORD value) { device_->SetRenderState(state, value); }
  // What flat screen-space drawing needs: no depth, lighting, fog, blending, highlights or culling.
  void SetFlatStates();
  void SetStage(D3DTEXTURESTAGESTATETYPE state, DWORD value) { device_->SetTextureStageState(0, state, value); }
  // Stage 0 takes its colour and alpha from `colour` (a D3DTA_ value), or modulates the texture by the
  // vertex colour when `modulate` is set.
  void UseTexture(IDirect3DTexture8* texture, DWORD colour, bool modulate);

  ComRef<IDirect3D8> direct3d_;
  ComRef<IDirect3DDevice8> device_;
  D3DPRESENT_PARAMETERS parameters_{};
  D3DCAPS8 caps_{};
  D3DFORMAT textureFormat_ = D3DFMT_X8R8G8B8;
  bool lost_ = false;
  bool heavy_ = false;
  int width_ = 0;
  int height_ = 0;

  ComRef<IDirect3DTexture8> chequer_;
  ComRef<IDirect3DTexture8> mist_;
  ComRef<IDirect3DVertexBuffer8> hills_;
  ComRef<IDirect3DVertexBuffer8> floor_;
  ComRef<IDirect3DVertexBuffer8> craft_;
  ComRef<IDirect3DVertexBuffer8> torus_;
  ComRef<IDirect3DIndexBuffer8> torusIndices_;
  UINT hillsTriangles_ = 0;
  UINT craftTriangles_ = 0;
  UINT torusVertices_ = 0;
  UINT torusTriangles_ = 0;

  ComRef<IDirect3DTexture8> picture_;
  int pictureWidth_ = 0;
  int pictureHeight_ = 0;
  int textureWidth_ = 0;
  int textureHeight_ = 0;
};

}  // namespace preview
