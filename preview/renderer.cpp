#include "preview/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "preview/scene.h"

namespace preview {
namespace {

constexpr DWORD kColourFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;
constexpr DWORD kLitFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;
constexpr DWORD kTexturedFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
constexpr DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
static_assert(sizeof(ColourVertex) == 16 && sizeof(LitVertex) == 28 && sizeof(TexturedVertex) == 32 &&
                  sizeof(ScreenVertex) == 28,
              "the vertex layouts match their formats");
static_assert(sizeof(Matrix) == sizeof(D3DMATRIX), "a Matrix is laid out as a D3DMATRIX");

constexpr UINT kPatternSide = 64;
// The heavy scene: this many rings of so many triangles, and the layers over them.
constexpr int kRings = 12;
constexpr int kRingSegments = 24;
constexpr int kRingSides = 12;
constexpr int kLayers = 3;

std::string Describe(HRESULT result) {
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

DWORD FloatBits(float value) {
  DWORD bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

D3DCOLORVALUE Colour(float red, float green, float blue) { return D3DCOLORVALUE{red, green, blue, 1.0f}; }

void SetTransform(IDirect3DDevice8* device, D3DTRANSFORMSTATETYPE which, const Matrix& matrix) {
  D3DMATRIX m;
  std::memcpy(&m, &matrix, sizeof m);
  device->SetTransform(which, &m);
}

// A static buffer in the managed pool, which survives a Reset.
template <class Vertex>
bool MakeVertexBuffer(IDirect3DDevice8* device, const std::vector<Vertex>& vertices, DWORD fvf,
                      ComRef<IDirect3DVertexBuffer8>& buffer) {
  const auto bytes = static_cast<UINT>(vertices.size() * sizeof(Vertex));
  BYTE* data = nullptr;
  if (FAILED(device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, fvf, D3DPOOL_MANAGED, buffer.out())) ||
      FAILED(buffer->Lock(0, bytes, &data, 0))) {
    return false;
  }
  std::memcpy(data, vertices.data(), bytes);
  buffer->Unlock();
  return true;
}

// Writes one texture level, row by row, with texel(x, y) as 0x00RRGGBB; the alpha byte is made opaque.
template <class Texel>
bool FillLevel(IDirect3DTexture8* texture, UINT level, Texel texel) {
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

}  // namespace

bool CRenderer::Create(HWND window, const Options& options, std::string& error) {
  width_ = options.width;
  height_ = options.height;
  heavy_ = options.heavy;
  direct3d_ = ComRef<IDirect3D8>(Direct3DCreate8(D3D_SDK_VERSION));
  if (!direct3d_) {
    error = "Direct3D 8 is not available.";
    return false;
  }
  D3DDISPLAYMODE mode{};
  HRESULT result = direct3d_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
  if (FAILED(result)) {
    error = "Direct3D 8 cannot read the display mode " + Describe(result) + ".";
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
    error = "Direct3D 8 offers no depth buffer for the display's format.";
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
  parameters_.FullScreen_PresentationInterval =
      options.frameLimit == 0 ? D3DPRESENT_INTERVAL_IMMEDIATE : D3DPRESENT_INTERVAL_DEFAULT;
  // Direct3D 8 sets the processor's floating point to single precision unless told to keep it; the frame
  // timing counts milliseconds in doubles.
  DWORD behaviour = D3DCREATE_FPU_PRESERVE | ((caps_.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT)
                                                  ? D3DCREATE_HARDWARE_VERTEXPROCESSING
                                                  : D3DCREATE_SOFTWARE_VERTEXPROCESSING);
  result = direct3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, behaviour, &parameters_,
                                   device_.out());
  if (result == D3DERR_INVALIDCALL && parameters_.FullScreen_PresentationInterval != D3DPRESENT_INTERVAL_DEFAULT) {
    // Windows' Direct3D 8 takes no other interval for a window, whose presents never wait for the display.
    parameters_.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
    result = direct3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, behaviour, &parameters_,
                                     device_.out());
  }
  if (FAILED(result)) {
    error = "Direct3D 8 cannot create a device for a " + std::to_string(width_) + " x " + std::to_string(height_) +
            " back buffer " + Describe(result) + ".";
    return false;
  }
  for (D3DFORMAT candidate : {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}) {
    if (SUCCEEDED(direct3d_->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mode.Format, 0,
                                               D3DRTYPE_TEXTURE, candidate))) {
      textureFormat_ = candidate;
      break;
    }
  }
  return CreateMovingScene(error) && (!heavy_ || CreateHeavyScene(error));
}

void CRenderer::Release() {
  for (auto* texture : {&chequer_, &mist_, &picture_}) texture->Reset();
  for (auto* buffer : {&hills_, &floor_, &craft_, &torus_}) buffer->Reset();
  torusIndices_.Reset();
  device_.Reset();
  direct3d_.Reset();
}

int CRenderer::MaxPictureWidth() const { return static_cast<int>(std::min<DWORD>(caps_.MaxTextureWidth, 16384)); }
int CRenderer::MaxPictureHeight() const { return static_cast<int>(std::min<DWORD>(caps_.MaxTextureHeight, 16384)); }

// Everything the device holds lives in the managed pool, and the screen-space quads are drawn from memory, so
// a Reset after a lost device needs nothing released or made again.
bool CRenderer::CreateMovingScene(std::string& error) {
  IDirect3DDevice8* device = device_.get();
  const std::vector<ColourVertex> hills = MakeHills();
  const std::vector<LitVertex> craft = MakeCraft();
  hillsTriangles_ = static_cast<UINT>(hills.size() - 2);
  craftTriangles_ = static_cast<UINT>(craft.size() / 3);
  if (!MakeVertexBuffer(device, hills, kColourFvf, hills_) ||
      !MakeVertexBuffer(device, MakeFloor(), kTexturedFvf, floor_) ||
      !MakeVertexBuffer(device, craft, kLitFvf, craft_)) {
    error = "Direct3D 8 cannot make the scene's vertex buffers.";
    return false;
  }
  if (!MakePatternTexture(kPatternSide, ChequerTexel, chequer_)) {
    error = "Direct3D 8 cannot make the floor's texture.";
    return false;
  }
  return true;
}

bool CRenderer::MakePatternTexture(UINT side, std::uint32_t (*texel)(int, int, int),
                                   ComRef<IDirect3DTexture8>& texture) {
  if (FAILED(device_->CreateTexture(side, side, 0, 0, textureFormat_, D3DPOOL_MANAGED, texture.out()))) {
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

bool CRenderer::CreateHeavyScene(std::string& error) {
  const TexturedMesh ring = MakeTorus(kRingSegments, kRingSides, 1.6f, 0.5f);
  torusVertices_ = static_cast<UINT>(ring.vertices.size());
  torusTriangles_ = static_cast<UINT>(ring.indices.size() / 3);
  const auto bytes = static_cast<UINT>(ring.indices.size() * sizeof ring.indices[0]);
  BYTE* data = nullptr;
  if (!MakeVertexBuffer(device_.get(), ring.vertices, kTexturedFvf, torus_) ||
      FAILED(device_->CreateIndexBuffer(bytes, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED,
                                        torusIndices_.out())) ||
      FAILED(torusIndices_->Lock(0, bytes, &data, 0)) || !MakePatternTexture(kPatternSide, MistTexel, mist_)) {
    error = "Direct3D 8 cannot make the heavy scene's buffers.";
    return false;
  }
  std::memcpy(data, ring.indices.data(), bytes);
  torusIndices_->Unlock();
  return true;
}

bool CRenderer::SetStillPicture(const Picture& picture, std::string& error) {
  const bool powerOfTwoOnly = (caps_.TextureCaps & D3DPTEXTURECAPS_POW2) != 0 &&
                              (caps_.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) == 0;
  const int textureWidth = TextureSide(picture.width, powerOfTwoOnly);
  const int textureHeight = TextureSide(picture.height, powerOfTwoOnly);
  ComRef<IDirect3DTexture8> texture;
  const HRESULT result = device_->CreateTexture(static_cast<UINT>(textureWidth), static_cast<UINT>(textureHeight),
                                                1, 0, textureFormat_, D3DPOOL_MANAGED, texture.out());
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

bool CRenderer::DrawFrame(double seconds) {
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
  if (device_->Present(nullptr, nullptr, nullptr, nullptr) == D3DERR_DEVICELOST) {
    lost_ = true;
    return false;
  }
  return true;
}

bool CRenderer::Restore() {
  const HRESULT state = device_->TestCooperativeLevel();
  if (state == D3DERR_DEVICELOST) return false;
  if (state == D3DERR_DEVICENOTRESET && FAILED(device_->Reset(&parameters_))) return false;
  lost_ = false;
  return true;
}

void CRenderer::UseTexture(IDirect3DTexture8* texture, DWORD colour, bool modulate) {
  device_->SetTexture(0, texture);
  SetStage(D3DTSS_COLOROP, modulate ? D3DTOP_MODULATE : D3DTOP_SELECTARG1);
  SetStage(D3DTSS_COLORARG1, modulate ? D3DTA_TEXTURE : colour);
  SetStage(D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  SetStage(D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  SetStage(D3DTSS_ALPHAARG1, modulate ? D3DTA_DIFFUSE : colour);
}

// Each pass sets every state it relies on: a Reset returns them all to their defaults, and an overlay drawn
// into the frame may leave its own.
void CRenderer::DrawMoving(double seconds) {
  IDirect3DDevice8* device = device_.get();
  device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u | kHaze, 1.0f, 0);
  const Camera camera = SceneCamera(width_, height_);

  // The sky behind everything, down to the horizon.
  SetFlatStates();
  UseTexture(nullptr, D3DTA_DIFFUSE, false);
  const auto sky = SkyQuad(width_, HorizonRow(camera, height_));
  device->SetVertexShader(kScreenFvf);
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
  SetTransform(device, D3DTS_VIEW, camera.view);
  SetTransform(device, D3DTS_PROJECTION, camera.projection);

  SetTransform(device, D3DTS_WORLD, HillsPose(seconds));
  device->SetVertexShader(kColourFvf);
  device->SetStreamSource(0, hills_.get(), sizeof(ColourVertex));
  device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, hillsTriangles_);

  SetTransform(device, D3DTS_WORLD, FloorPose(seconds));
  UseTexture(chequer_.get(), D3DTA_TEXTURE, false);
  SetStage(D3DTSS_MINFILTER, D3DTEXF_LINEAR);
  SetStage(D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
  SetStage(D3DTSS_MIPFILTER, D3DTEXF_LINEAR);
  SetStage(D3DTSS_ADDRESSU, D3DTADDRESS_WRAP);
  SetStage(D3DTSS_ADDRESSV, D3DTADDRESS_WRAP);
  device->SetVertexShader(kTexturedFvf);
  device->SetStreamSource(0, floor_.get(), sizeof(TexturedVertex));
  device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);

  // The craft, lit by the low sun behind the viewer, in its vertices' colours.
  D3DLIGHT8 sun{};
  sun.Type = D3DLIGHT_DIRECTIONAL;
  sun.Diffuse = Colour(1.0f, 0.95f, 0.85f);
  sun.Direction = D3DVECTOR{-0.4f, -0.6f, 0.7f};
  device->SetLight(0, &sun);
  device->LightEnable(0, TRUE);
  device->LightEnable(1, FALSE);
  D3DMATERIAL8 material{};
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
  SetTransform(device, D3DTS_WORLD, CraftPose(seconds));
  device->SetVertexShader(kLitFvf);
  device->SetStreamSource(0, craft_.get(), sizeof(LitVertex));
  device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, craftTriangles_);
}

// Spinning rings, textured and lit by the sun, a moving point light and its shine, then see-through layers
// drifting over the whole screen.
void CRenderer::DrawHeavy(double seconds) {
  IDirect3DDevice8* device = device_.get();
  D3DLIGHT8 lamp{};
  lamp.Type = D3DLIGHT_POINT;
  lamp.Diffuse = Colour(0.9f, 0.6f, 1.0f);
  lamp.Specular = Colour(1, 1, 1);
  lamp.Position = D3DVECTOR{static_cast<float>(8 * std::sin(seconds)), 4, 25};
  lamp.Range = 40;
  lamp.Attenuation0 = 1;
  lamp.Attenuation1 = 0.05f;
  device->SetLight(1, &lamp);
  device->LightEnable(1, TRUE);
  D3DMATERIAL8 material{};
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
  device->SetVertexShader(kTexturedFvf);
  device->SetStreamSource(0, torus_.get(), sizeof(TexturedVertex));
  device->SetIndices(torusIndices_.get(), 0);
  for (int ring = 0; ring < kRings; ++ring) {
    SetTransform(device, D3DTS_WORLD, TorusPose(ring, kRings, seconds));
    device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, torusVertices_, 0, torusTriangles_);
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
  device->SetVertexShader(kScreenFvf);
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

void CRenderer::SetFlatStates() {
  SetState(D3DRS_ZENABLE, D3DZB_FALSE);
  SetState(D3DRS_ZWRITEENABLE, FALSE);
  SetState(D3DRS_LIGHTING, FALSE);
  SetState(D3DRS_FOGENABLE, FALSE);
  SetState(D3DRS_ALPHABLENDENABLE, FALSE);
  SetState(D3DRS_SPECULARENABLE, FALSE);
  SetState(D3DRS_CULLMODE, D3DCULL_NONE);
}

// The picture over the whole screen, each pixel its own texel's colour: point sampling, no blending, no fog.
void CRenderer::DrawStill() {
  IDirect3DDevice8* device = device_.get();
  device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
  SetFlatStates();
  SetState(D3DRS_DITHERENABLE, FALSE);
  UseTexture(picture_.get(), D3DTA_TEXTURE, false);
  SetStage(D3DTSS_MINFILTER, D3DTEXF_POINT);
  SetStage(D3DTSS_MAGFILTER, D3DTEXF_POINT);
  SetStage(D3DTSS_MIPFILTER, D3DTEXF_NONE);
  SetStage(D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
  SetStage(D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
  const auto quad = PictureQuad(width_, height_, pictureWidth_, pictureHeight_, textureWidth_, textureHeight_);
  device->SetVertexShader(kScreenFvf);
  device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad.data(), sizeof quad[0]);
}

}  // namespace preview
