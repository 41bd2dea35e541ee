// The preview's scene drawn on one Direct3D: CSceneRenderer<Api> over the traits of Direct3D 8
// (direct3d8_api.h) or Direct3D 9 (direct3d9_api.h), which give its interfaces and the calls whose form differs.
// Everything else it calls by the names both Direct3Ds share (render states, formats, lights), and those are
// the ones of the Direct3D header included before this one: renderer_d3d8.cpp and renderer_d3d9.cpp include
// their own and make the renderer of theirs, and no source file includes both.
#pragma once

#ifndef DIRECT3D_VERSION
#error "include direct3d8_api.h or direct3d9_api.h before scene_renderer.h"
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "preview/com_ref.h"
#include "preview/renderer.h"
#include "preview/scene.h"

namespace preview {

template <class Api>
class CSceneRenderer final : public IRenderer {
 public:
  CSceneRenderer() = default;
  CSceneRenderer(const CSceneRenderer&) = delete;
  CSceneRenderer& operator=(const CSceneRenderer&) = delete;

  bool Create(HWND window, const Options& options, std::string& error) override;
  void Release() override;
  int MaxPictureWidth() const override {
    return static_cast<int>(std::min<DWORD>(caps_.MaxTextureWidth, 16384));
  }
  int MaxPictureHeight() const override {
    return static_cast<int>(std::min<DWORD>(caps_.MaxTextureHeight, 16384));
  }
  bool SetStillPicture(const Picture& picture, std::string& error) override;
  bool DrawFrame(double seconds) override;

 private:
  using Device = typename Api::Device;
  using Texture = typename Api::Texture;
  using VertexBuffer = typename Api::VertexBuffer;

  static constexpr DWORD kColourFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;
  static constexpr DWORD kLitFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;
  static constexpr DWORD kTexturedFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
  static constexpr DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
  static_assert(sizeof(ColourVertex) == 16 && sizeof(LitVertex) == 28 && sizeof(TexturedVertex) == 32 &&
                    sizeof(ScreenVertex) == 28,
                "the vertex layouts match their formats");
  static_assert(sizeof(Matrix) == sizeof(D3DMATRIX), "a Matrix is laid out as a D3DMATRIX");

  static constexpr UINT kPatternSide = 64;
  // The heavy scene: this many rings of so many triangles, and the layers over them.
  static constexpr int kRings = 12;
  static constexpr int kRingSegments = 24;
  static constexpr int kRingSides = 12;
  static constexpr int kLayers = 3;

  static std::string Describe(HRESULT result);
  static DWORD FloatBits(float value) {
    DWORD bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
  }
  static D3DCOLORVALUE Colour(float red, float green, float blue) { return D3DCOLORVALUE{red, green, blue, 1.0f}; }
  void SetTransform(D3DTRANSFORMSTATETYPE which, const Matrix& matrix) {
    D3DMATRIX m;
    std::memcpy(&m, &matrix, sizeof m);
    device_->SetTransform(which, &m);
  }
  // A static buffer in the Direct3D's pool (Api::kPool).
  template <class Vertex>
  bool MakeVertexBuffer(const std::vector<Vertex>& vertices, DWORD fvf, ComRef<VertexBuffer>& buffer);
  // Writes one texture level, row by row, with texel(x, y) as 0x00RRGGBB; the alpha byte is made opaque.
  template <class Texel>
  static bool FillLevel(Texture* texture, UINT level, Texel texel);

  std::string Failed(const char* what) const { return std::string(Api::kName) + " cannot " + what; }
  bool CreateMovingScene(std::string& error);
  bool CreateHeavyScene(std::string& error);
  // A square texture with every level filled from texel(x, y, level side).
  bool MakePatternTexture(UINT side, std::uint32_t (*texel)(int, int, int), ComRef<Texture>& texture);
  // After a lost device: true once it can draw again.
  bool Restore();
  void DrawMoving(double seconds);
  void DrawHeavy(double seconds);
  void DrawStill();

  void SetState(D3DRENDERSTATETYPE state, DWORD value) { device_->SetRenderState(state, value); }
  // What flat screen-space drawing needs: no depth, lighting, fog, blending, highlights or culling.
  void SetFlatStates();
  void SetStage(D3DTEXTURESTAGESTATETYPE state, DWORD value) { device_->SetTextureStageState(0, state, value); }
  // Filtering and addressing of stage 0.
  void SetSampler(typename Api::SamplerState state, DWORD value) { Api::SetSampler(device_.get(), state, value); }
  // Stage 0 takes its colour and alpha from `colour` (a D3DTA_ value), or modulates the texture by the
  // vertex colour when `modulate` is set.
  void UseTexture(Texture* texture, DWORD colour, bool modulate);

  ComRef<typename Api::Direct3D> direct3d_;
  ComRef<Device> device_;
  D3DPRESENT_PARAMETERS parameters_{};
  typename Api::Caps caps_{};
  D3DFORMAT textureFormat_ = D3DFMT_X8R8G8B8;
  bool lost_ = false;
  bool heavy_ = false;
  int width_ = 0;
  int height_ = 0;

  ComRef<Texture> chequer_;
  ComRef<Texture> mist_;
  ComRef<VertexBuffer> hills_;
  ComRef<VertexBuffer> floor_;
  ComRef<VertexBuffer> craft_;
  ComRef<VertexBuffer> torus_;
  ComRef<typename Api::IndexBuffer> torusIndices_;
  UINT hillsTriangles_ = 0;
  UINT craftTriangles_ = 0;
  UINT torusVertices_ = 0;
  UINT torusTriangles_ = 0;

  ComRef<Texture> picture_;
  int pictureWidth_ = 0;
  int pictureHeight_ = 0;
  int textureWidth_ = 0;
  int textureHeight_ = 0;
};

template <class Api>
std::string CSceneRenderer<Api>::Describe(HRESULT result) {
  const char* name = "";
  switch (result) {
    case D3DERR_INVALIDCALL: name = "D3DERR_INVALIDCALL, "; break;
    case D3DERR_NOTAVAILABLE: name = "D3DERR_NOTAVAILABLE, "; break;
    case D3DERR_OUTOFVIDEOMEMORY: name = "D3DERR_OUTOFVIDEOMEMORY, "; break;
    case D3DERR_DRIVERINTERNALERROR: name = "D3DERR_DRIVERINTERNALERROR, "; break;
    case E_OUTOFMEMORY: name = "E_OUTOFMEMORY, "; break;
    default: break;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(result));
  return std::string("(") + name + hex + ")";
}

template <class Api>
template <class Vertex>
bool CSceneRenderer<Api>::MakeVertexBuffer(const std::vector<Vertex>& vertices, DWORD fvf,
                                           ComRef<VertexBuffer>& buffer) {
  const auto bytes = static_cast<UINT>(vertices.size() * sizeof(Vertex));
  void* data = nullptr;
  if (FAILED(Api::CreateVertexBuffer(device_.get(), bytes, fvf, Api::kPool, buffer.out())) ||
      FAILED(Api::Lock(buffer.get(), bytes, &data))) {
    return false;
  }
  std::memcpy(data, vertices.data(), bytes);
  buffer->Unlock();
  return true;
}

template <class Api>
template <class Texel>
bool CSceneRenderer<Api>::FillLevel(Texture* texture, UINT level, Texel texel) {
  D3DSURFACE_DESC description{};
  D3DLOCKED_RECT locked{};
  if (FAILED(texture->GetLevelDesc(level, &description)) || FAILED(texture->LockRect(level, &locked, nullptr, 0))) {
    return false;
  }
  for (UINT y = 0; y < description.Height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch);
    for (UINT x = 0; x < description.Width; ++x) row[x] = 0xFF000000u | texel(x, y, description.Width);
  }
  texture->UnlockRect(level);
  return true;
}

template <class Api>
bool CSceneRenderer<Api>::Create(HWND window, const Options& options, std::string& error) {
  width_ = options.width;
  height_ = options.height;
  heavy_ = options.heavy;
  direct3d_ = ComRef<typename Api::Direct3D>(Api::Create());
  if (!direct3d_) {
    error = std::string(Api::kName) + " is not available.";
    return false;
  }
  D3DDISPLAYMODE mode{};
  HRESULT result = direct3d_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
  if (FAILED(result)) {
    error = Failed("read the display mode ") + Describe(result) + ".";
    return false;
  }
  // The first depth format the adapter has that goes with the display's colour format.
  D3DFORMAT depth = D3DFMT_UNKNOWN;
  for (D3DFORMAT candidate : {D3DFMT_D24X8, D3DFMT_D24S8, D3DFMT_D16}) {
    if (SUCCEEDED(direct3d_->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mode.Format,
                                               D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, candidate)) &&
        SUCCEEDED(direct3d_->CheckDepthStencilMatch(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mode.Format, mode.Format,
                                                    candidate))) {
      depth = candidate;
      break;
    }
  }
  if (depth == D3DFMT_UNKNOWN) {
    error = std::string(Api::kName) + " offers no depth buffer for the display's format.";
    return false;
  }
  direct3d_->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps_);

  parameters_ = D3DPRESENT_PARAMETERS{};
  parameters_.BackBufferWidth = static_cast<UINT>(width_);
  parameters_.BackBufferHeight = static_cast<UINT>(height_);
  parameters_.BackBufferFormat = mode.Format;
  parameters_.BackBufferCount = 1;
  parameters_.SwapEffect = D3DSWAPEFFECT_DISCARD;
  parameters_.hDeviceWindow = window;
  parameters_.Windowed = TRUE;
  parameters_.EnableAutoDepthStencil = TRUE;
  parameters_.AutoDepthStencilFormat = depth;
  UINT& interval = Api::Interval(parameters_);
  interval = options.frameLimit == 0 ? D3DPRESENT_INTERVAL_IMMEDIATE : D3DPRESENT_INTERVAL_DEFAULT;
  // Direct3D sets the processor's floating point to single precision unless told to keep it; the frame timing
  // counts milliseconds in doubles.
  DWORD behaviour = D3DCREATE_FPU_PRESERVE | ((caps_.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT)
                                                  ? D3DCREATE_HARDWARE_VERTEXPROCESSING
                                                  : D3DCREATE_SOFTWARE_VERTEXPROCESSING);
  result = Api::CreateDevice(direct3d_.get(), window, behaviour, parameters_, device_.out());
  if (result == D3DERR_INVALIDCALL && interval != D3DPRESENT_INTERVAL_DEFAULT) {
    // Windows' Direct3D 8 takes no other interval for a window, whose presents never wait for the display.
    interval = D3DPRESENT_INTERVAL_DEFAULT;
    result = Api::CreateDevice(direct3d_.get(), window, behaviour, parameters_, device_.out());
  }
  if (FAILED(result)) {
    error = Failed("create a device for a ") + std::to_string(width_) + " x " + std::to_string(height_) +
            " back buffer " + Describe(result) + ".";
    return false;
  }
  for (D3DFORMAT candidate : {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}) {
    if (SUCCEEDED(direct3d_->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mode.Format, Api::kTextureUsage,
                                               D3DRTYPE_TEXTURE, candidate))) {
      textureFormat_ = candidate;
      break;
    }
  }
  return CreateMovingScene(error) && (!heavy_ || CreateHeavyScene(error));
}

template <class Api>
void CSceneRenderer<Api>::Release() {
  for (auto* texture : {&chequer_, &mist_, &picture_}) texture->Reset();
  for (auto* buffer : {&hills_, &floor_, &craft_, &torus_}) buffer->Reset();
  torusIndices_.Reset();
  device_.Reset();
  direct3d_.Reset();
}

// Everything the device holds lives in the managed pool (on the extended Direct3D 9, whose devices are never
// lost, in the device's own), and the screen-space quads are drawn from memory, so a Reset after a lost device
// needs nothing released or made again.
template <class Api>
bool CSceneRenderer<Api>::CreateMovingScene(std::string& error) {
  const std::vector<ColourVertex> hills = MakeHills();
  const std::vector<LitVertex> craft = MakeCraft();
  hillsTriangles_ = static_cast<UINT>(hills.size() - 2);
  craftTriangles_ = static_cast<UINT>(craft.size() / 3);
  if (!MakeVertexBuffer(hills, kColourFvf, hills_) || !MakeVertexBuffer(MakeFloor(), kTexturedFvf, floor_) ||
      !MakeVertexBuffer(craft, kLitFvf, craft_)) {
    error = Failed("make the scene's vertex buffers.");
    return false;
  }
  if (!MakePatternTexture(kPatternSide, ChequerTexel, chequer_)) {
    error = Failed("make the floor's texture.");
    return false;
  }
  return true;
}

template <class Api>
bool CSceneRenderer<Api>::MakePatternTexture(UINT side, std::uint32_t (*texel)(int, int, int),
                                             ComRef<Texture>& texture) {
  if (FAILED(Api::CreateTexture(device_.get(), side, side, 0, Api::kTextureUsage, textureFormat_, Api::kPool,
                                texture.out()))) {
    return false;
  }
  const auto levelTexel = [texel](UINT x, UINT y, UINT levelSide) {
    return texel(static_cast<int>(x), static_cast<int>(y), static_cast<int>(levelSide));
  };
  for (UINT level = 0; level < texture->GetLevelCount(); ++level) {
    if (!FillLevel(texture.get(), level, levelTexel)) return false;
  }
  return true;
}

template <class Api>
bool CSceneRenderer<Api>::CreateHeavyScene(std::string& error) {
  const TexturedMesh ring = MakeTorus(kRingSegments, kRingSides, 1.6f, 0.5f);
  torusVertices_ = static_cast<UINT>(ring.vertices.size());
  torusTriangles_ = static_cast<UINT>(ring.indices.size() / 3);
  const auto bytes = static_cast<UINT>(ring.indices.size() * sizeof ring.indices[0]);
  void* data = nullptr;
  if (!MakeVertexBuffer(ring.vertices, kTexturedFvf, torus_) ||
      FAILED(Api::CreateIndexBuffer(device_.get(), bytes, Api::kPool, torusIndices_.out())) ||
      FAILED(Api::Lock(torusIndices_.get(), bytes, &data)) || !MakePatternTexture(kPatternSide, MistTexel, mist_)) {
    error = Failed("make the heavy scene's buffers.");
    return false;
  }
  std::memcpy(data, ring.indices.data(), bytes);
  torusIndices_->Unlock();
  return true;
}

template <class Api>
bool CSceneRenderer<Api>::SetStillPicture(const Picture& picture, std::string& error) {
  const bool powerOfTwoOnly = (caps_.TextureCaps & D3DPTEXTURECAPS_POW2) != 0 &&
                              (caps_.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) == 0;
  const int textureWidth = TextureSide(picture.width, powerOfTwoOnly);
  const int textureHeight = TextureSide(picture.height, powerOfTwoOnly);
  ComRef<Texture> texture;
  const HRESULT result =
      Api::CreateTexture(device_.get(), static_cast<UINT>(textureWidth), static_cast<UINT>(textureHeight), 1,
                         Api::kTextureUsage, textureFormat_, Api::kPool, texture.out());
  if (FAILED(result)) {
    error = "no texture for it " + Describe(result);
    return false;
  }
  // The picture is opaque, a see-through one shown over black; texels beyond it (a power-of-two texture) stay
  // black and are never drawn.
  const auto texel = [&picture](UINT x, UINT y, UINT) {
    if (static_cast<int>(x) >= picture.width || static_cast<int>(y) >= picture.height) return std::uint32_t{0};
    return OpaqueOverBlack(picture.argb[static_cast<std::size_t>(y) * picture.width + x]);
  };
  if (!FillLevel(texture.get(), 0, texel)) {
    error = "cannot fill its texture";
    return false;
  }
  picture_ = std::move(texture);
  pictureWidth_ = picture.width;
  pictureHeight_ = picture.height;
  textureWidth_ = textureWidth;
  textureHeight_ = textureHeight;
  return true;
}

template <class Api>
bool CSceneRenderer<Api>::DrawFrame(double seconds) {
  if (!device_ || (lost_ && !Restore())) return false;
  if (SUCCEEDED(device_->BeginScene())) {
    if (picture_) {
      DrawStill();
    } else {
      DrawMoving(seconds);
      if (heavy_) DrawHeavy(seconds);
    }
    device_->EndScene();
  }
  if (Api::Present(device_.get()) == D3DERR_DEVICELOST) {
    lost_ = true;
    return false;
  }
  return true;
}

template <class Api>
bool CSceneRenderer<Api>::Restore() {
  const HRESULT state = device_->TestCooperativeLevel();
  if (state == D3DERR_DEVICELOST) return false;
  if (state == D3DERR_DEVICENOTRESET && FAILED(device_->Reset(&parameters_))) return false;
  lost_ = false;
  return true;
}

template <class Api>
void CSceneRenderer<Api>::UseTexture(Texture* texture, DWORD colour, bool modulate) {
  device_->SetTexture(0, texture);
  SetStage(D3DTSS_COLOROP, modulate ? D3DTOP_MODULATE : D3DTOP_SELECTARG1);
  SetStage(D3DTSS_COLORARG1, modulate ? D3DTA_TEXTURE : colour);
  SetStage(D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  SetStage(D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  SetStage(D3DTSS_ALPHAARG1, modulate ? D3DTA_DIFFUSE : colour);
}

// Each pass sets every state it relies on: a Reset returns them all to their defaults, and an overlay drawn
// into the frame may leave its own.
template <class Api>
void CSceneRenderer<Api>::DrawMoving(double seconds) {
  Device* device = device_.get();
  device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u | kHaze, 1.0f, 0);
  const Camera camera = SceneCamera(width_, height_);

  // The sky behind everything, down to the horizon.
  SetFlatStates();
  UseTexture(nullptr, D3DTA_DIFFUSE, false);
  const auto sky = SkyQuad(width_, HorizonRow(camera, height_));
  Api::SetFvf(device, kScreenFvf);
  device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, sky.data(), sizeof sky[0]);

  // The world, depth-tested, fading into the haze with the distance.
  SetState(D3DRS_ZENABLE, D3DZB_TRUE);
  SetState(D3DRS_ZWRITEENABLE, TRUE);
  SetState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
  SetState(D3DRS_FOGENABLE, TRUE);
  SetState(D3DRS_FOGCOLOR, kHaze);
  const bool tableFog = (caps_.RasterCaps & D3DPRASTERCAPS_FOGTABLE) != 0;
  SetState(tableFog ? D3DRS_FOGTABLEMODE : D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
  SetState(tableFog ? D3DRS_FOGVERTEXMODE : D3DRS_FOGTABLEMODE, D3DFOG_NONE);
  SetState(D3DRS_FOGSTART, FloatBits(kFogStart));
  SetState(D3DRS_FOGEND, FloatBits(kFogEnd));
  SetTransform(D3DTS_VIEW, camera.view);
  SetTransform(D3DTS_PROJECTION, camera.projection);

  SetTransform(D3DTS_WORLD, HillsPose(seconds));
  Api::SetFvf(device, kColourFvf);
  Api::SetStream(device, hills_.get(), sizeof(ColourVertex));
  device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, hillsTriangles_);

  SetTransform(D3DTS_WORLD, FloorPose(seconds));
  UseTexture(chequer_.get(), D3DTA_TEXTURE, false);
  SetSampler(Api::kMinFilter, D3DTEXF_LINEAR);
  SetSampler(Api::kMagFilter, D3DTEXF_LINEAR);
  SetSampler(Api::kMipFilter, D3DTEXF_LINEAR);
  SetSampler(Api::kAddressU, D3DTADDRESS_WRAP);
  SetSampler(Api::kAddressV, D3DTADDRESS_WRAP);
  Api::SetFvf(device, kTexturedFvf);
  Api::SetStream(device, floor_.get(), sizeof(TexturedVertex));
  device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);

  // The craft, lit by the low sun behind the viewer, in its vertices' colours.
  typename Api::Light sun{};
  sun.Type = D3DLIGHT_DIRECTIONAL;
  sun.Diffuse = Colour(1.0f, 0.95f, 0.85f);
  sun.Direction = D3DVECTOR{-0.4f, -0.6f, 0.7f};
  device->SetLight(0, &sun);
  device->LightEnable(0, TRUE);
  device->LightEnable(1, FALSE);
  typename Api::Material material{};
  material.Diffuse = Colour(1, 1, 1);
  material.Ambient = Colour(1, 1, 1);
  device->SetMaterial(&material);
  SetState(D3DRS_LIGHTING, TRUE);
  SetState(D3DRS_AMBIENT, 0xFF505060u);
  SetState(D3DRS_COLORVERTEX, TRUE);
  SetState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1);
  SetState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_COLOR1);
  SetState(D3DRS_CULLMODE, D3DCULL_CCW);
  UseTexture(nullptr, D3DTA_DIFFUSE, false);
  SetTransform(D3DTS_WORLD, CraftPose(seconds));
  Api::SetFvf(device, kLitFvf);
  Api::SetStream(device, craft_.get(), sizeof(LitVertex));
  device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, craftTriangles_);
}

// Spinning rings, textured and lit by the sun, a moving point light and its shine, then see-through layers
// drifting over the whole screen.
template <class Api>
void CSceneRenderer<Api>::DrawHeavy(double seconds) {
  Device* device = device_.get();
  typename Api::Light lamp{};
  lamp.Type = D3DLIGHT_POINT;
  lamp.Diffuse = Colour(0.9f, 0.6f, 1.0f);
  lamp.Specular = Colour(1, 1, 1);
  lamp.Position = D3DVECTOR{static_cast<float>(8 * std::sin(seconds)), 4, 25};
  lamp.Range = 40;
  lamp.Attenuation0 = 1;
  lamp.Attenuation1 = 0.05f;
  device->SetLight(1, &lamp);
  device->LightEnable(1, TRUE);
  typename Api::Material material{};
  material.Diffuse = Colour(1, 1, 1);
  material.Ambient = Colour(0.6f, 0.6f, 0.6f);
  material.Specular = Colour(1, 1, 1);
  material.Power = 24;
  device->SetMaterial(&material);
  SetState(D3DRS_COLORVERTEX, FALSE);
  SetState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
  SetState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL);
  SetState(D3DRS_SPECULARENABLE, TRUE);
  UseTexture(chequer_.get(), D3DTA_TEXTURE, true);
  Api::SetFvf(device, kTexturedFvf);
  Api::SetStream(device, torus_.get(), sizeof(TexturedVertex));
  Api::SetIndices(device, torusIndices_.get());
  for (int ring = 0; ring < kRings; ++ring) {
    SetTransform(D3DTS_WORLD, TorusPose(ring, kRings, seconds));
    Api::DrawIndexed(device, D3DPT_TRIANGLELIST, torusVertices_, torusTriangles_);
  }

  SetState(D3DRS_SPECULARENABLE, FALSE);
  SetState(D3DRS_LIGHTING, FALSE);
  SetState(D3DRS_FOGENABLE, FALSE);
  SetState(D3DRS_ZENABLE, D3DZB_FALSE);
  SetState(D3DRS_CULLMODE, D3DCULL_NONE);
  SetState(D3DRS_ALPHABLENDENABLE, TRUE);
  SetState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  SetState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  UseTexture(mist_.get(), D3DTA_TEXTURE, true);
  Api::SetFvf(device, kScreenFvf);
  static constexpr std::uint32_t kTints[kLayers] = {0x28FFE0C0u, 0x20C0E0FFu, 0x1CFFC0E0u};
  for (int layer = 0; layer < kLayers; ++layer) {
    const float scale = static_cast<float>(layer + 1) / 256.0f;
    auto quad = ScreenQuad(width_, height_, static_cast<float>(width_) * scale, static_cast<float>(height_) * scale,
                           kTints[layer]);
    const auto drift = static_cast<float>(std::fmod(seconds * 0.05 * (layer + 1), 1.0));
    for (ScreenVertex& vertex : quad) {
      vertex.u += drift;
      vertex.v += drift * (layer % 2 == 0 ? 0.5f : -0.5f);
    }
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad.data(), sizeof quad[0]);
  }
  SetState(D3DRS_ALPHABLENDENABLE, FALSE);
}

template <class Api>
void CSceneRenderer<Api>::SetFlatStates() {
  SetState(D3DRS_ZENABLE, D3DZB_FALSE);
  SetState(D3DRS_ZWRITEENABLE, FALSE);
  SetState(D3DRS_LIGHTING, FALSE);
  SetState(D3DRS_FOGENABLE, FALSE);
  SetState(D3DRS_ALPHABLENDENABLE, FALSE);
  SetState(D3DRS_SPECULARENABLE, FALSE);
  SetState(D3DRS_CULLMODE, D3DCULL_NONE);
}

// The picture over the whole screen, each pixel its own texel's colour: point sampling, no blending, no fog.
template <class Api>
void CSceneRenderer<Api>::DrawStill() {
  Device* device = device_.get();
  device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
  SetFlatStates();
  SetState(D3DRS_DITHERENABLE, FALSE);
  UseTexture(picture_.get(), D3DTA_TEXTURE, false);
  SetSampler(Api::kMinFilter, D3DTEXF_POINT);
  SetSampler(Api::kMagFilter, D3DTEXF_POINT);
  SetSampler(Api::kMipFilter, D3DTEXF_NONE);
  SetSampler(Api::kAddressU, D3DTADDRESS_CLAMP);
  SetSampler(Api::kAddressV, D3DTADDRESS_CLAMP);
  const auto quad = PictureQuad(width_, height_, pictureWidth_, pictureHeight_, textureWidth_, textureHeight_);
  Api::SetFvf(device, kScreenFvf);
  device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad.data(), sizeof quad[0]);
}

}  // namespace preview
