// va_vazu_testgame.exe: a small Direct3D 8 game for the overlay's tests, other than the preview, so that the
// overlay is not tuned to one game. It clears its back buffer to one colour every frame and presents it, and on
// request it sets every state the overlay touches (and more) to unusual values, through its own calls or through
// state blocks, and after each present reads them back to see that they are still what it set. It can run with
// any of the usual back-buffer formats, on a pure or multithreaded device, full screen (where its device is lost
// while another window is in front, and reset when it comes back), with an off-screen render target set at
// present time, reset itself to another size, create its device anew, or never present at all. What it sees
// goes into its report section (game_report.h), and so does a copy of its last frame when a test asks for one.
//
//   va_vazu_testgame.exe [--size WxH] [--pos X,Y] [--clear RRGGBB] [--format X8R8G8B8|A8R8G8B8|R5G6B5|X1R5G5B5]
//                        [--pure] [--multithreaded] [--odd-state] [--state-blocks] [--offscreen]
//                        [--reset-after N --reset-size WxH] [--recreate-after N] [--never-present] [--fullscreen]
#include <windows.h>
#include <d3d8.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/game/game_report.h"

namespace {

struct Options {
  UINT width = 320;
  UINT height = 240;
  int x = 0;
  int y = 0;
  D3DCOLOR clear = 0xFF204060;
  D3DFORMAT format = D3DFMT_X8R8G8B8;
  bool pure = false;
  bool multithreaded = false;
  bool oddState = false;
  bool stateBlocks = false;
  bool offscreen = false;
  bool neverPresent = false;
  bool fullscreen = false;
  UINT resetAfter = 0;
  UINT resetWidth = 0;
  UINT resetHeight = 0;
  UINT recreateAfter = 0;
};

bool ParseSize(const char* text, UINT& width, UINT& height) {
  unsigned w = 0;
  unsigned h = 0;
  if (std::sscanf(text, "%ux%u", &w, &h) != 2 || w == 0 || h == 0 || w * h > testgame::kMaxCapturePixels) return false;
  width = w;
  height = h;
  return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : "";
    if (a == "--size" && ParseSize(next, options.width, options.height)) {
      ++i;
    } else if (a == "--pos" && std::sscanf(next, "%d,%d", &options.x, &options.y) == 2) {
      ++i;
    } else if (a == "--clear") {
      options.clear = 0xFF000000u | static_cast<D3DCOLOR>(std::strtoul(next, nullptr, 16));
      ++i;
    } else if (a == "--format") {
      const std::string f = next;
      options.format = f == "A8R8G8B8"   ? D3DFMT_A8R8G8B8
                       : f == "R5G6B5"   ? D3DFMT_R5G6B5
                       : f == "X1R5G5B5" ? D3DFMT_X1R5G5B5
                                         : D3DFMT_X8R8G8B8;
      ++i;
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
    } else if (a == "--never-present") {
      options.neverPresent = true;
    } else if (a == "--fullscreen") {
      options.fullscreen = true;
    } else if (a == "--reset-after") {
      options.resetAfter = static_cast<UINT>(std::strtoul(next, nullptr, 10));
      ++i;
    } else if (a == "--reset-size" && ParseSize(next, options.resetWidth, options.resetHeight)) {
      ++i;
    } else if (a == "--recreate-after") {
      options.recreateAfter = static_cast<UINT>(std::strtoul(next, nullptr, 10));
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

// A render state the game sets, with a value unlike both the default and what the overlay sets, and another
// value for setting it differently before a state block is applied.
struct OddRenderState {
  D3DRENDERSTATETYPE state;
  DWORD odd;
  DWORD other;
  const char* name;
};

const OddRenderState kOddRenderStates[] = {
    {D3DRS_ZENABLE, D3DZB_TRUE, D3DZB_FALSE, "ZENABLE"},
    {D3DRS_ZWRITEENABLE, FALSE, TRUE, "ZWRITEENABLE"},
    {D3DRS_ZFUNC, D3DCMP_GREATEREQUAL, D3DCMP_LESSEQUAL, "ZFUNC"},
    {D3DRS_ALPHATESTENABLE, TRUE, FALSE, "ALPHATESTENABLE"},
    {D3DRS_ALPHAREF, 0x10, 0x80, "ALPHAREF"},
    {D3DRS_ALPHAFUNC, D3DCMP_GREATER, D3DCMP_ALWAYS, "ALPHAFUNC"},
    {D3DRS_ALPHABLENDENABLE, FALSE, TRUE, "ALPHABLENDENABLE"},
    {D3DRS_SRCBLEND, D3DBLEND_DESTCOLOR, D3DBLEND_ONE, "SRCBLEND"},
    {D3DRS_DESTBLEND, D3DBLEND_SRCCOLOR, D3DBLEND_ZERO, "DESTBLEND"},
    {D3DRS_BLENDOP, D3DBLENDOP_REVSUBTRACT, D3DBLENDOP_ADD, "BLENDOP"},
    {D3DRS_FILLMODE, D3DFILL_WIREFRAME, D3DFILL_SOLID, "FILLMODE"},
    {D3DRS_SHADEMODE, D3DSHADE_FLAT, D3DSHADE_GOURAUD, "SHADEMODE"},
    {D3DRS_STENCILENABLE, TRUE, FALSE, "STENCILENABLE"},
    {D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_ALPHA, 0xF, "COLORWRITEENABLE"},
    {D3DRS_DITHERENABLE, TRUE, FALSE, "DITHERENABLE"},
    {D3DRS_WRAP0, D3DWRAP_U, 0, "WRAP0"},
    {D3DRS_CULLMODE, D3DCULL_CW, D3DCULL_CCW, "CULLMODE"},
    {D3DRS_LIGHTING, TRUE, FALSE, "LIGHTING"},
    {D3DRS_FOGENABLE, TRUE, FALSE, "FOGENABLE"},
    {D3DRS_SPECULARENABLE, TRUE, FALSE, "SPECULARENABLE"},
    {D3DRS_VERTEXBLEND, D3DVBF_1WEIGHTS, D3DVBF_DISABLE, "VERTEXBLEND"},
    {D3DRS_CLIPPLANEENABLE, 1, 0, "CLIPPLANEENABLE"},
    {D3DRS_MULTISAMPLEMASK, 0x0F0F0F0F, 0xFFFFFFFF, "MULTISAMPLEMASK"},
    {D3DRS_TEXTUREFACTOR, 0x12345678, 0xFFFFFFFF, "TEXTUREFACTOR"},
};

struct OddStageState {
  DWORD stage;
  D3DTEXTURESTAGESTATETYPE type;
  DWORD odd;
  DWORD other;
  const char* name;
};

const OddStageState kOddStageStates[] = {
    {0, D3DTSS_COLOROP, D3DTOP_ADD, D3DTOP_MODULATE, "0.COLOROP"},
    {0, D3DTSS_COLORARG1, D3DTA_TFACTOR, D3DTA_TEXTURE, "0.COLORARG1"},
    {0, D3DTSS_COLORARG2, D3DTA_SPECULAR, D3DTA_CURRENT, "0.COLORARG2"},
    {0, D3DTSS_ALPHAOP, D3DTOP_SUBTRACT, D3DTOP_SELECTARG1, "0.ALPHAOP"},
    {0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE, D3DTA_TEXTURE, "0.ALPHAARG1"},
    {0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR, D3DTA_CURRENT, "0.ALPHAARG2"},
    {0, D3DTSS_TEXCOORDINDEX, 1, 0, "0.TEXCOORDINDEX"},
    {0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2, D3DTTFF_DISABLE, "0.TEXTURETRANSFORMFLAGS"},
    {0, D3DTSS_ADDRESSU, D3DTADDRESS_MIRROR, D3DTADDRESS_WRAP, "0.ADDRESSU"},
    {0, D3DTSS_ADDRESSV, D3DTADDRESS_BORDER, D3DTADDRESS_WRAP, "0.ADDRESSV"},
    {0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR, D3DTEXF_POINT, "0.MAGFILTER"},
    {0, D3DTSS_MINFILTER, D3DTEXF_LINEAR, D3DTEXF_POINT, "0.MINFILTER"},
    {0, D3DTSS_MIPFILTER, D3DTEXF_LINEAR, D3DTEXF_NONE, "0.MIPFILTER"},
    {0, D3DTSS_RESULTARG, D3DTA_TEMP, D3DTA_CURRENT, "0.RESULTARG"},
    {1, D3DTSS_COLOROP, D3DTOP_MODULATE, D3DTOP_DISABLE, "1.COLOROP"},
    {1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1, D3DTOP_DISABLE, "1.ALPHAOP"},
};

const D3DMATRIX kOddMatrix = {{{2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 5, 6, 7, 1}}};
constexpr DWORD kOddVertexFormat = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2;
constexpr UINT kOddStride = 40;
constexpr UINT kOddBaseVertex = 5;

// ps.1.1: tex t0; mov r0, t0
const DWORD kPixelShader[] = {0xFFFF0101, 0x00000042, 0xB00F0000, 0x00000001, 0x800F0000, 0xB0E40000, 0x0000FFFF};

class CGame {
 public:
  explicit CGame(const Options& options) : options_(options) {}
  ~CGame() {
    ReleaseDevice();
    if (direct3d_) direct3d_->Release();
    if (report_) UnmapViewOfFile(report_);
    if (section_) CloseHandle(section_);
  }

  bool Start(HINSTANCE instance);
  int Run();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static DWORD WINAPI RenderThread(void* self);
  bool CreateDevice();
  bool CreateResources();
  void ReleaseDefaultResources();
  void ReleaseDevice();
  void Fail(const char* what, HRESULT result);
  void RenderLoop();
  void Frame();
  void ResetTo(UINT width, UINT height);
  void SetOddStates(bool odd);
  void CheckOddStates();
  void Mismatch(const char* what, DWORD set, DWORD read);
  void Capture();

  Options options_;
  HWND window_ = nullptr;
  HANDLE section_ = nullptr;
  testgame::Report* report_ = nullptr;
  IDirect3D8* direct3d_ = nullptr;
  IDirect3DDevice8* device_ = nullptr;
  D3DPRESENT_PARAMETERS parameters_{};
  IDirect3DTexture8* textures_[2] = {};
  IDirect3DVertexBuffer8* vertices_ = nullptr;
  IDirect3DIndexBuffer8* indices_ = nullptr;
  IDirect3DTexture8* offscreen_ = nullptr;
  IDirect3DSurface8* offscreenSurface_ = nullptr;
  IDirect3DSurface8* offscreenDepth_ = nullptr;
  DWORD pixelShader_ = 0;
  DWORD recordedBlock_ = 0;
  DWORD createdBlock_ = 0;
  D3DVIEWPORT8 viewport_{};
  UINT frame_ = 0;
  volatile bool quit_ = false;
};

bool CGame::Start(HINSTANCE instance) {
  const std::string name = testgame::ReportName(GetCurrentProcessId());
  section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(testgame::Report),
                                name.c_str());
  if (!section_) return false;
  report_ = static_cast<testgame::Report*>(MapViewOfFile(section_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (!report_) return false;

  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.lpszClassName = "VaVazuTestGame";
  RegisterClassA(&windowClass);
  const DWORD style = options_.fullscreen ? WS_POPUP : WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT outer{0, 0, static_cast<LONG>(options_.width), static_cast<LONG>(options_.height)};
  AdjustWindowRect(&outer, style, FALSE);
  window_ = CreateWindowA("VaVazuTestGame", "va_vazu test game", style | WS_VISIBLE, options_.x, options_.y,
                          outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr, instance, this);
  if (!window_) return false;
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  direct3d_ = Direct3DCreate8(D3D_SDK_VERSION);
  if (!direct3d_) {
    Fail("Direct3DCreate8", E_FAIL);
    return false;
  }
  return CreateDevice() && CreateResources();
}

LRESULT CALLBACK CGame::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* game = reinterpret_cast<CGame*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_DESTROY) {
    if (game) game->quit_ = true;
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void CGame::Fail(const char* what, HRESULT result) {
  if (!report_ || report_->failure.load() != 0) return;
  std::snprintf(report_->failureWhat, sizeof report_->failureWhat, "%s", what);
  report_->failure.store(result == 0 ? E_FAIL : result);
}

bool CGame::CreateDevice() {
  parameters_ = D3DPRESENT_PARAMETERS{};
  parameters_.BackBufferWidth = options_.width;
  parameters_.BackBufferHeight = options_.height;
  parameters_.BackBufferFormat = options_.format;
  if (options_.fullscreen) {
    // The display as it is: no mode change is needed.
    D3DDISPLAYMODE mode{};
    direct3d_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
    parameters_.BackBufferWidth = options_.width = mode.Width;
    parameters_.BackBufferHeight = options_.height = mode.Height;
    parameters_.BackBufferFormat = mode.Format;
  }
  parameters_.BackBufferCount = 1;
  // Copy keeps the back buffer as presented, so the game can read back what the overlay drew into it.
  parameters_.SwapEffect = D3DSWAPEFFECT_COPY;
  parameters_.hDeviceWindow = window_;
  parameters_.Windowed = options_.fullscreen ? FALSE : TRUE;
  parameters_.EnableAutoDepthStencil = TRUE;
  parameters_.AutoDepthStencilFormat = D3DFMT_D24S8;
  parameters_.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  parameters_.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
  DWORD flags = D3DCREATE_HARDWARE_VERTEXPROCESSING;
  if (options_.pure) flags |= D3DCREATE_PUREDEVICE;
  if (options_.multithreaded) flags |= D3DCREATE_MULTITHREADED;
  const HRESULT result =
      direct3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_, flags, &parameters_, &device_);
  if (FAILED(result)) {
    Fail("CreateDevice", result);
    device_ = nullptr;
    return false;
  }
  D3DCAPS8 caps{};
  if (SUCCEEDED(device_->GetDeviceCaps(&caps))) {
    report_->maxTextureWidth = caps.MaxTextureWidth;
    report_->maxTextureHeight = caps.MaxTextureHeight;
  }
  report_->devices.fetch_add(1);
  return true;
}

bool CGame::CreateResources() {
  for (IDirect3DTexture8*& texture : textures_) {
    if (FAILED(device_->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture))) {
      Fail("CreateTexture", E_FAIL);
      return false;
    }
  }
  if (FAILED(device_->CreateVertexBuffer(kOddStride * 16, 0, kOddVertexFormat, D3DPOOL_MANAGED, &vertices_)) ||
      FAILED(device_->CreateIndexBuffer(64, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &indices_))) {
    Fail("CreateVertexBuffer", E_FAIL);
    return false;
  }
  if (FAILED(device_->CreatePixelShader(kPixelShader, &pixelShader_))) pixelShader_ = 0;
  if (options_.offscreen) {
    if (FAILED(device_->CreateTexture(parameters_.BackBufferWidth, parameters_.BackBufferHeight, 1,
                                      D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &offscreen_)) ||
        FAILED(offscreen_->GetSurfaceLevel(0, &offscreenSurface_)) ||
        FAILED(device_->CreateDepthStencilSurface(parameters_.BackBufferWidth, parameters_.BackBufferHeight,
                                                  D3DFMT_D24S8, D3DMULTISAMPLE_NONE, &offscreenDepth_))) {
      Fail("off-screen render target", E_FAIL);
      return false;
    }
  }
  viewport_ = D3DVIEWPORT8{parameters_.BackBufferWidth / 8, parameters_.BackBufferHeight / 6,
                           parameters_.BackBufferWidth / 2, parameters_.BackBufferHeight / 2, 0.25f, 0.75f};
  if (options_.stateBlocks) {
    // One block recorded, one created from the device's states: the game applies them in turn.
    device_->BeginStateBlock();
    SetOddStates(true);
    device_->EndStateBlock(&recordedBlock_);
    SetOddStates(true);
    device_->CreateStateBlock(D3DSBT_ALL, &createdBlock_);
  }
  return true;
}

void CGame::ReleaseDefaultResources() {
  for (IUnknown** object : {reinterpret_cast<IUnknown**>(&offscreenSurface_), reinterpret_cast<IUnknown**>(&offscreen_),
                            reinterpret_cast<IUnknown**>(&offscreenDepth_)}) {
    if (*object) (*object)->Release();
    *object = nullptr;
  }
}

void CGame::ReleaseDevice() {
  ReleaseDefaultResources();
  if (!device_) return;
  // Nothing of the game's may stay bound to a device it lets go.
  device_->SetTexture(0, nullptr);
  device_->SetTexture(1, nullptr);
  device_->SetStreamSource(0, nullptr, 0);
  device_->SetIndices(nullptr, 0);
  if (recordedBlock_) device_->DeleteStateBlock(recordedBlock_);
  if (createdBlock_) device_->DeleteStateBlock(createdBlock_);
  recordedBlock_ = createdBlock_ = 0;
  if (pixelShader_) device_->DeletePixelShader(pixelShader_);
  pixelShader_ = 0;
  for (IDirect3DTexture8*& texture : textures_) {
    if (texture) texture->Release();
    texture = nullptr;
  }
  if (vertices_) vertices_->Release();
  if (indices_) indices_->Release();
  vertices_ = nullptr;
  indices_ = nullptr;
  device_->Release();
  device_ = nullptr;
}

void CGame::SetOddStates(bool odd) {
  for (const OddRenderState& s : kOddRenderStates) device_->SetRenderState(s.state, odd ? s.odd : s.other);
  for (const OddStageState& s : kOddStageStates) device_->SetTextureStageState(s.stage, s.type, odd ? s.odd : s.other);
  device_->SetTexture(0, odd ? textures_[0] : nullptr);
  device_->SetTexture(1, odd ? textures_[1] : nullptr);
  device_->SetVertexShader(odd ? kOddVertexFormat : D3DFVF_XYZ);
  device_->SetPixelShader(odd ? pixelShader_ : 0);
  device_->SetStreamSource(0, odd ? vertices_ : nullptr, kOddStride);
  device_->SetIndices(odd ? indices_ : nullptr, odd ? kOddBaseVertex : 0);
  if (odd) {
    device_->SetViewport(&viewport_);
    for (D3DTRANSFORMSTATETYPE t : {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_TEXTURE0}) {
      device_->SetTransform(t, &kOddMatrix);
    }
  }
}

void CGame::Mismatch(const char* what, DWORD set, DWORD read) {
  if (report_->stateMismatches.fetch_add(1) == 0) {
    std::snprintf(report_->firstMismatch, sizeof report_->firstMismatch, "%s: set 0x%08lX, read 0x%08lX", what,
                  static_cast<unsigned long>(set), static_cast<unsigned long>(read));
  }
}

// Reads back every state it set. What Get calls hand out is released at once.
void CGame::CheckOddStates() {
  DWORD value = 0;
  for (const OddRenderState& s : kOddRenderStates) {
    if (FAILED(device_->GetRenderState(s.state, &value)) || value != s.odd) Mismatch(s.name, s.odd, value);
  }
  for (const OddStageState& s : kOddStageStates) {
    if (FAILED(device_->GetTextureStageState(s.stage, s.type, &value)) || value != s.odd) {
      Mismatch(s.name, s.odd, value);
    }
  }
  for (DWORD stage = 0; stage < 2; ++stage) {
    IDirect3DBaseTexture8* texture = nullptr;
    device_->GetTexture(stage, &texture);
    if (texture != textures_[stage]) Mismatch(stage == 0 ? "texture 0" : "texture 1", 1, 0);
    if (texture) texture->Release();
  }
  if (SUCCEEDED(device_->GetVertexShader(&value)) && value != kOddVertexFormat) {
    Mismatch("vertex shader", kOddVertexFormat, value);
  }
  if (SUCCEEDED(device_->GetPixelShader(&value)) && value != pixelShader_) Mismatch("pixel shader", pixelShader_, value);
  IDirect3DVertexBuffer8* stream = nullptr;
  UINT stride = 0;
  device_->GetStreamSource(0, &stream, &stride);
  if (stream != vertices_ || stride != kOddStride) Mismatch("stream 0", kOddStride, stride);
  if (stream) stream->Release();
  IDirect3DIndexBuffer8* indices = nullptr;
  UINT base = 0;
  device_->GetIndices(&indices, &base);
  if (indices != indices_ || base != kOddBaseVertex) Mismatch("indices", kOddBaseVertex, base);
  if (indices) indices->Release();
  D3DVIEWPORT8 viewport{};
  device_->GetViewport(&viewport);
  if (std::memcmp(&viewport, &viewport_, sizeof viewport) != 0) Mismatch("viewport", viewport_.X, viewport.X);
  for (D3DTRANSFORMSTATETYPE t : {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_TEXTURE0}) {
    D3DMATRIX matrix{};
    device_->GetTransform(t, &matrix);
    if (std::memcmp(&matrix, &kOddMatrix, sizeof matrix) != 0) Mismatch("transform", t, 0);
  }
  if (options_.offscreen) {
    IDirect3DSurface8* target = nullptr;
    IDirect3DSurface8* depth = nullptr;
    device_->GetRenderTarget(&target);
    device_->GetDepthStencilSurface(&depth);
    if (target != offscreenSurface_) Mismatch("render target", 1, 0);
    if (depth != offscreenDepth_) Mismatch("depth stencil", 1, 0);
    if (target) target->Release();
    if (depth) depth->Release();
  }
  report_->stateChecks.fetch_add(1);
}

// Copies the back buffer, as presented, into the report as 0x00RRGGBB.
void CGame::Capture() {
  const std::uint32_t request = report_->captureRequest.load();
  if (request == report_->captureDone.load()) return;
  IDirect3DSurface8* backBuffer = nullptr;
  if (FAILED(device_->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &backBuffer))) return;
  D3DSURFACE_DESC desc{};
  D3DLOCKED_RECT locked{};
  if (SUCCEEDED(backBuffer->GetDesc(&desc)) && desc.Width * desc.Height <= testgame::kMaxCapturePixels &&
      SUCCEEDED(backBuffer->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
    for (UINT y = 0; y < desc.Height; ++y) {
      const auto* row = static_cast<const unsigned char*>(locked.pBits) + static_cast<std::ptrdiff_t>(y) * locked.Pitch;
      for (UINT x = 0; x < desc.Width; ++x) {
        std::uint32_t rgb = 0;
        if (desc.Format == D3DFMT_R5G6B5 || desc.Format == D3DFMT_X1R5G5B5) {
          const unsigned p = row[x * 2] | (row[x * 2 + 1] << 8);
          const bool r565 = desc.Format == D3DFMT_R5G6B5;
          const unsigned r = r565 ? (p >> 11) & 31 : (p >> 10) & 31;
          const unsigned g = r565 ? ((p >> 5) & 63) * 255 / 63 : ((p >> 5) & 31) * 255 / 31;
          const unsigned b = p & 31;
          rgb = ((r * 255 / 31) << 16) | (g << 8) | (b * 255 / 31);
        } else {
          std::memcpy(&rgb, row + x * 4, 4);
          rgb &= 0xFFFFFF;
        }
        report_->pixels[y * desc.Width + x] = rgb;
      }
    }
    backBuffer->UnlockRect();
    report_->captureWidth = desc.Width;
    report_->captureHeight = desc.Height;
    report_->captureDone.store(request);
  }
  backBuffer->Release();
}

void CGame::ResetTo(UINT width, UINT height) {
  const DWORD style = static_cast<DWORD>(GetWindowLongA(window_, GWL_STYLE));
  RECT outer{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
  AdjustWindowRect(&outer, style, FALSE);
  SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ReleaseDefaultResources();
  parameters_.BackBufferWidth = width;
  parameters_.BackBufferHeight = height;
  const HRESULT result = device_->Reset(&parameters_);
  if (FAILED(result)) {
    Fail("Reset", result);
    return;
  }
  report_->resets.fetch_add(1);
  options_.width = width;
  options_.height = height;
  if (options_.offscreen) CreateResources();
}

void CGame::Frame() {
  const HRESULT cooperative = device_->TestCooperativeLevel();
  if (cooperative == D3DERR_DEVICELOST) {
    report_->lostFrames.fetch_add(1);
    Sleep(10);
    return;
  }
  if (cooperative == D3DERR_DEVICENOTRESET) {
    ResetTo(parameters_.BackBufferWidth, parameters_.BackBufferHeight);
    return;
  }
  if (options_.resetAfter != 0 && frame_ == options_.resetAfter && options_.resetWidth != 0) {
    ResetTo(options_.resetWidth, options_.resetHeight);
  }
  if (options_.recreateAfter != 0 && frame_ != 0 && frame_ % options_.recreateAfter == 0) {
    ReleaseDevice();
    if (!CreateDevice() || !CreateResources()) {
      quit_ = true;
      return;
    }
  }
  ++frame_;

  SetOddStates(false);
  const D3DVIEWPORT8 full{0, 0, parameters_.BackBufferWidth, parameters_.BackBufferHeight, 0.0f, 1.0f};
  device_->SetViewport(&full);
  if (SUCCEEDED(device_->BeginScene())) {
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, options_.clear, 1.0f, 0);
    device_->EndScene();
  }
  // The back buffer and its depth buffer, to go back to after presenting with an off-screen target set.
  IDirect3DSurface8* backBuffer = nullptr;
  IDirect3DSurface8* backDepth = nullptr;
  if (options_.offscreen) {
    device_->GetRenderTarget(&backBuffer);
    device_->GetDepthStencilSurface(&backDepth);
    device_->SetRenderTarget(offscreenSurface_, offscreenDepth_);
  }
  // Set after the render target, which resets the viewport.
  if (options_.oddState) {
    if (options_.stateBlocks) {
      device_->ApplyStateBlock(frame_ % 2 ? recordedBlock_ : createdBlock_);
    } else {
      SetOddStates(true);
    }
  }
  if (options_.neverPresent) {
    if (backBuffer) backBuffer->Release();
    if (backDepth) backDepth->Release();
    Sleep(10);
    return;
  }
  const HRESULT presented = device_->Present(nullptr, nullptr, nullptr, nullptr);
  if (FAILED(presented) && presented != D3DERR_DEVICELOST) Fail("Present", presented);
  report_->frames.fetch_add(1);
  if (options_.oddState) CheckOddStates();
  if (options_.offscreen) {
    device_->SetRenderTarget(backBuffer, backDepth);
    if (backBuffer) backBuffer->Release();
    if (backDepth) backDepth->Release();
  }
  Capture();
}

void CGame::RenderLoop() {
  while (!quit_ && device_ && report_->failure.load() == 0) Frame();
}

DWORD WINAPI CGame::RenderThread(void* self) {
  static_cast<CGame*>(self)->RenderLoop();
  return 0;
}

// A multithreaded device is drawn from a thread of its own while the window's thread handles messages and keeps
// making and dropping textures on the same device, as games that load while they draw do.
int CGame::Run() {
  if (options_.multithreaded) {
    HANDLE renderer = CreateThread(nullptr, 0, RenderThread, this, 0, nullptr);
    MSG msg;
    while (!quit_) {
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) quit_ = true;
        DispatchMessageA(&msg);
      }
      IDirect3DTexture8* texture = nullptr;
      if (device_ && SUCCEEDED(device_->CreateTexture(16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture))) {
        texture->Release();
      }
      Sleep(1);
    }
    WaitForSingleObject(renderer, INFINITE);
    CloseHandle(renderer);
    return 0;
  }
  MSG msg;
  while (!quit_) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) quit_ = true;
      DispatchMessageA(&msg);
    }
    if (quit_ || !device_ || report_->failure.load() != 0) {
      Sleep(10);
      continue;
    }
    Frame();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "va_vazu_testgame: unknown option\n");
    return 2;
  }
  CGame game(options);
  if (!game.Start(GetModuleHandleA(nullptr))) {
    // The report says why; the window stays until the test ends the game.
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 1;
  }
  return game.Run();
}
