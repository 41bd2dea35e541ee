// The test game written once for both Direct3Ds: its window, frame loop, report, screen reading and probes, as a
// class template over a small part of each Direct3D's own (direct3d8.cpp, direct3d9.cpp). Each of those includes
// its Direct3D's header before this one, so that the names both headers share (states, formats, flags) are that
// Direct3D's; everything here has internal linkage, one copy for each.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/game/game_options.h"
#include "tests/game/game_report.h"
#include "tests/support/screen_pixels.h"

namespace testgame {
namespace {

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

// The stage states both Direct3Ds have; Direct3D 8's filters and addressing are stage states too, Direct3D 9's
// sampler states (each Direct3D's part sets and checks them).
const OddStageState kOddStageStates[] = {
    {0, D3DTSS_COLOROP, D3DTOP_ADD, D3DTOP_MODULATE, "0.COLOROP"},
    {0, D3DTSS_COLORARG1, D3DTA_TFACTOR, D3DTA_TEXTURE, "0.COLORARG1"},
    {0, D3DTSS_COLORARG2, D3DTA_SPECULAR, D3DTA_CURRENT, "0.COLORARG2"},
    {0, D3DTSS_ALPHAOP, D3DTOP_SUBTRACT, D3DTOP_SELECTARG1, "0.ALPHAOP"},
    {0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE, D3DTA_TEXTURE, "0.ALPHAARG1"},
    {0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR, D3DTA_CURRENT, "0.ALPHAARG2"},
    {0, D3DTSS_TEXCOORDINDEX, 1, 0, "0.TEXCOORDINDEX"},
    {0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2, D3DTTFF_DISABLE, "0.TEXTURETRANSFORMFLAGS"},
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

// The colours of the back buffers a game that draws once gives each of them.
// A chain of n back buffers holds n + 1 buffers: the game draws n + 1 frames once each.
constexpr D3DCOLOR kDrawnOnce[] = {0xFF3080C0, 0xFFC08030, 0xFF30C080, 0xFFC03080};

// A triangle in screen coordinates, for the game's own drawing from a vertex buffer.
struct ScreenVertex {
  float x, y, z, rhw;
  DWORD colour;
};
constexpr DWORD kScreenVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

// A COM object that only counts its references: attached to a resource as private data, it shows when the
// resource lets go of it.
class CCounted final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = IsEqualGUID(riid, IID_IUnknown) ? this : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  ULONG references() const { return references_; }

 private:
  ULONG references_ = 1;
};

// {5B3C7A7E-2F1D-4C6E-9A0B-7C8D9E0F1A2B}
const GUID kProbeData = {0x5b3c7a7e, 0x2f1d, 0x4c6e, {0x9a, 0x0b, 0x7c, 0x8d, 0x9e, 0x0f, 0x1a, 0x2b}};

inline void PutLine(std::string& out, const std::string& name, unsigned long value) {
  out += name;
  out += ' ';
  out += std::to_string(value);
  out += '\n';
}

inline DWORD BitsOf(float value) {
  DWORD bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

inline ULONG CountOf(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

template <class Interface>
void ReleaseAndClear(Interface*& object) {
  if (object) object->Release();
  object = nullptr;
}
// Method tables: the first pointer of every Direct3D object is its table, which the objects of a class share.
using Method = void (*)();

inline Method* TableOf(void* object) {
  Method* table = nullptr;
  std::memcpy(&table, object, sizeof table);
  return table;
}

inline void SetTableOf(void* object, Method* table) { std::memcpy(object, &table, sizeof table); }

// Writes into a table that the system keeps read-only.
inline bool WriteSlots(Method* slots, const Method* values, std::size_t count) {
  DWORD old = 0;
  if (!VirtualProtect(slots, count * sizeof(Method), PAGE_EXECUTE_READWRITE, &old)) return false;
  std::memcpy(slots, values, count * sizeof(Method));
  VirtualProtect(slots, count * sizeof(Method), old, &old);
  return true;
}

template <class Function>
bool WriteSlot(Method* table, int slot, Function function) {
  const Method value = reinterpret_cast<Method>(function);
  return WriteSlots(table + slot, &value, 1);
}

// The report, for the functions the game puts into the system's tables.
testgame::Report* g_report = nullptr;

inline LRESULT CALLBACK CountWindowsMade(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) g_report->hookedWindows.fetch_add(1);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The game over one Direct3D. `A` is that Direct3D's part: its interfaces' names, the calls whose signatures
// differ between the two, and what only one of them does (see Direct3D8 in direct3d8.cpp for the list).
template <class A>
class CGame {
 public:
  using Direct3D = typename A::Direct3D;
  using Device = typename A::Device;
  using SwapChain = typename A::SwapChain;
  using Surface = typename A::Surface;
  using BaseTexture = typename A::BaseTexture;
  using Texture = typename A::Texture;
  using CubeTexture = typename A::CubeTexture;
  using VolumeTexture = typename A::VolumeTexture;
  using Volume = typename A::Volume;
  using VertexBuffer = typename A::VertexBuffer;
  using IndexBuffer = typename A::IndexBuffer;
  using Caps = typename A::Caps;
  using Viewport = typename A::Viewport;

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
  HWND MakeWindow(const char* title, int x, int y, UINT width, UINT height);
  bool CreateDevice();
  bool CreateResources();
  void ReleaseDefaultResources();
  void ReleaseDevice();
  void Fail(const char* what, HRESULT result);
  void RenderLoop();
  void Frame();
  void ClearChains();
  void ResetTo(UINT width, UINT height);
  void SetOddStates(bool odd);
  void CheckOddStates();
  void CheckReleasedBindings();
  void CheckBackBuffers();
  void Mismatch(const char* what, DWORD set, DWORD read);
  void Capture();
  void Probe();
  VertexBuffer* MakeTriangle();
  void SideRound();
  void ResetFailingFirst();
  std::string DefaultValues(const char* prefix);
  void LetBoundObjectsGo();
  void EndAfterTheTableWasRestored();
  void Publish(const std::string& lines);
  void Churn();
  HRESULT PresentAll();

  Options options_;
  HINSTANCE instance_ = nullptr;
  HWND window_ = nullptr;
  std::vector<HWND> chainWindows_;
  // --load-churn: the buffers not freed yet, the addresses of the materials and their names, the rounds made.
  std::vector<void*> churned_;
  std::vector<std::uintptr_t> materials_;
  std::size_t churnRounds_ = 0;
  HANDLE section_ = nullptr;
  testgame::Report* report_ = nullptr;
  Direct3D* direct3d_ = nullptr;
  Device* device_ = nullptr;
  D3DPRESENT_PARAMETERS parameters_{};
  std::vector<SwapChain*> chains_;
  Texture* textures_[2] = {};
  VertexBuffer* vertices_ = nullptr;
  IndexBuffer* indices_ = nullptr;
  Texture* offscreen_ = nullptr;
  Surface* offscreenSurface_ = nullptr;
  Surface* offscreenDepth_ = nullptr;
  // Bound, and released by the game: only the device's bindings keep them (--bind-released).
  BaseTexture* releasedTexture_ = nullptr;
  VertexBuffer* releasedVertices_ = nullptr;
  // A triangle of the game's own (--failing-reset, --release-on-request), the texture bound with it, the objects
  // each holds as private data, and a D3DPOOL_DEFAULT texture held through a reset.
  VertexBuffer* triangle_ = nullptr;
  Texture* boundTexture_ = nullptr;
  CCounted* boundData_[2] = {};
  Texture* heldTexture_ = nullptr;
  UINT releasedAt_ = 0;
  VertexBuffer* processed_ = nullptr;  // where ProcessVertices writes (--side-thread process)
  std::string defaults_;
  const void* autoDepth_ = nullptr;  // the device's own depth buffer, compared by address only
  UINT sideRound_ = 0;
  typename A::StateBlock recordedBlock_{};
  typename A::StateBlock createdBlock_{};
  // The states only this Direct3D has, set and checked with the others.
  typename A::MoreStates more_{};
  // Which of two sets of odd values the game set last, frame by frame (the recorded block's, with state blocks):
  // Direct3D 9 sets a vertex declaration and shaders in one, a vertex format in the other.
  bool variant_ = false;
  Viewport viewport_{};
  UINT frame_ = 0;
  std::uint32_t resetsAsked_ = 0;
  volatile bool quit_ = false;
  D3DPOOL managed_ = D3DPOOL_MANAGED;  // where the game keeps what it does not make anew after a reset
};

template <class A>
HWND CGame<A>::MakeWindow(const char* title, int x, int y, UINT width, UINT height) {
  const DWORD style = options_.fullscreen ? WS_POPUP : WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT outer{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
  AdjustWindowRect(&outer, style, FALSE);
  HWND window = CreateWindowA("VaVazuTestGame", title, style | WS_VISIBLE, x, y, outer.right - outer.left,
                              outer.bottom - outer.top, nullptr, nullptr, instance_, this);
  if (window) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return window;
}

template <class A>
bool CGame<A>::Start(HINSTANCE instance) {
  instance_ = instance;
  const std::string name = testgame::ReportName(GetCurrentProcessId());
  section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(testgame::Report),
                                name.c_str());
  if (!section_) return false;
  report_ = static_cast<testgame::Report*>(MapViewOfFile(section_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (!report_) return false;
  g_report = report_;
  managed_ = A::ManagedPool(options_);

  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.lpszClassName = "VaVazuTestGame";
  RegisterClassA(&windowClass);
  // Presenting a part of the back buffer, the window shows that part at its own size.
  const UINT clientWidth = options_.sourceGiven ? options_.source.right - options_.source.left : options_.width;
  const UINT clientHeight = options_.sourceGiven ? options_.source.bottom - options_.source.top : options_.height;
  window_ = MakeWindow("va_vazu test game", options_.x, options_.y, clientWidth, clientHeight);
  if (!window_) return false;
  for (UINT i = 0; i < options_.chains; ++i) {
    const int x = options_.x + static_cast<int>((i + 1) * (clientWidth + 24));
    HWND chainWindow = MakeWindow("va_vazu test game chain", x, options_.y, options_.width, options_.height);
    if (!chainWindow) return false;
    chainWindows_.push_back(chainWindow);
  }
  // What sits on the system's Direct3D, or finds it, before the game's own first call of it.
  if (const char* failed = A::PrepareTheSystem(options_, instance)) {
    Fail(failed, E_FAIL);
    return false;
  }
  if (options_.cbtHook && !SetWindowsHookExA(WH_CBT, CountWindowsMade, nullptr, GetCurrentThreadId())) {
    Fail("SetWindowsHookEx", E_FAIL);
    return false;
  }
  direct3d_ = A::Create(options_);
  if (!direct3d_) {
    Fail(A::kCreateName, E_FAIL);
    return false;
  }
  if (!CreateDevice() || !CreateResources()) return false;
  // Loading, with a pause for what decoding would take, in which anything else of the process's runs.
  for (int round = 0; round < 12 && options_.loadChurn; ++round) {
    Churn();
    Sleep(2);
  }
  return true;
}

template <class A>
void CGame<A>::Churn() {
  struct Material {
    DWORD colour[4];
    float shininess;
    std::string name;
  };
  const std::size_t round = churnRounds_++;
  for (std::size_t i = 0; i < 6; ++i) churned_.push_back(std::malloc(512 + (round * 7 + i * 13) % 17 * 3072));
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t at = (round + i * 5) % churned_.size();
    std::free(churned_[at]);
    churned_.erase(churned_.begin() + static_cast<std::ptrdiff_t>(at));
  }
  auto* material = new Material{{0, 0, 0, 0}, 0.5f, "material " + std::to_string(round) + " of the loaded level"};
  materials_.push_back(reinterpret_cast<std::uintptr_t>(material));
  materials_.push_back(reinterpret_cast<std::uintptr_t>(material->name.data()));
}

template <class A>
LRESULT CALLBACK CGame<A>::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* game = reinterpret_cast<CGame*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_DESTROY && game && window == game->window_) {
    game->quit_ = true;
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

template <class A>
void CGame<A>::Fail(const char* what, HRESULT result) {
  if (!report_ || report_->failure.load() != 0) return;
  std::snprintf(report_->failureWhat, sizeof report_->failureWhat, "%s", what);
  report_->failure.store(result == 0 ? E_FAIL : result);
}

template <class A>
bool CGame<A>::CreateDevice() {
  parameters_ = D3DPRESENT_PARAMETERS{};
  parameters_.BackBufferWidth = options_.width;
  parameters_.BackBufferHeight = options_.height;
  parameters_.BackBufferFormat = A::BackBufferFormat(options_.format);
  if (options_.fullscreen) {
    // The display as it is: no mode change is needed.
    D3DDISPLAYMODE mode{};
    direct3d_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
    parameters_.BackBufferWidth = options_.width = mode.Width;
    parameters_.BackBufferHeight = options_.height = mode.Height;
    parameters_.BackBufferFormat = mode.Format;
  }
  parameters_.BackBufferCount = options_.backBuffers;
  parameters_.SwapEffect = A::SwapEffect(options_.swap);
  parameters_.hDeviceWindow = window_;
  parameters_.Windowed = options_.fullscreen ? FALSE : TRUE;
  parameters_.EnableAutoDepthStencil = TRUE;
  parameters_.AutoDepthStencilFormat = D3DFMT_D24S8;
  // Lockable, so that the game can read back what it drew (not where it is sampled many times a pixel).
  parameters_.Flags = options_.multisample ? 0 : D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  parameters_.MultiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(options_.multisample);
  // The presentation interval is left at its default (0), D3DPRESENT_INTERVAL_DEFAULT in both Direct3Ds.
  DWORD flags = D3DCREATE_HARDWARE_VERTEXPROCESSING;
  if (options_.pure) flags |= D3DCREATE_PUREDEVICE;
  if (options_.multithreaded) flags |= D3DCREATE_MULTITHREADED;
  const HRESULT result = A::CreateDevice(direct3d_, window_, flags, &parameters_, &device_);
  if (FAILED(result)) {
    Fail("CreateDevice", result);
    device_ = nullptr;
    return false;
  }
  A::DeviceMade(device_, options_);
  Caps caps{};
  if (SUCCEEDED(device_->GetDeviceCaps(&caps))) {
    report_->maxTextureWidth = caps.MaxTextureWidth;
    report_->maxTextureHeight = caps.MaxTextureHeight;
  }
  Surface* depth = nullptr;
  device_->GetDepthStencilSurface(&depth);
  autoDepth_ = depth;
  ReleaseAndClear(depth);
  report_->devices.fetch_add(1);
  return true;
}

template <class A>
bool CGame<A>::CreateResources() {
  const typename A::GameCreating creating;
  for (Texture*& texture : textures_) {
    if (FAILED(A::CreateTexture(device_, 4, 4, 1, 0, D3DFMT_A8R8G8B8, managed_, &texture))) {
      Fail("CreateTexture", E_FAIL);
      return false;
    }
  }
  if (FAILED(A::CreateVertexBuffer(device_, kOddStride * 16, 0, kOddVertexFormat, managed_, &vertices_)) ||
      FAILED(A::CreateIndexBuffer(device_, 64, 0, D3DFMT_INDEX16, managed_, &indices_))) {
    Fail("CreateVertexBuffer", E_FAIL);
    return false;
  }
  if (!more_.Create(device_)) {
    Fail("the game's shaders", E_FAIL);
    return false;
  }
  if (options_.offscreen) {
    const UINT width = options_.offscreenWidth ? options_.offscreenWidth : parameters_.BackBufferWidth;
    const UINT height = options_.offscreenHeight ? options_.offscreenHeight : parameters_.BackBufferHeight;
    if (FAILED(A::CreateTexture(device_, width, height, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                                      &offscreen_)) ||
        FAILED(offscreen_->GetSurfaceLevel(0, &offscreenSurface_)) ||
        FAILED(A::CreateDepthStencil(device_, width, height, D3DFMT_D24S8, &offscreenDepth_))) {
      Fail("off-screen render target", E_FAIL);
      return false;
    }
  }
  for (HWND chainWindow : chainWindows_) {
    D3DPRESENT_PARAMETERS parameters = parameters_;
    parameters.hDeviceWindow = chainWindow;
    parameters.EnableAutoDepthStencil = FALSE;
    SwapChain* chain = nullptr;
    if (FAILED(device_->CreateAdditionalSwapChain(&parameters, &chain))) {
      Fail("CreateAdditionalSwapChain", E_FAIL);
      return false;
    }
    chains_.push_back(chain);
  }
  if (options_.bindReleased && !releasedTexture_) {
    // A texture and a triangle bound for good, with no reference of the game's left.
    Texture* texture = nullptr;
    VertexBuffer* vertices = MakeTriangle();
    if (!vertices || FAILED(A::CreateTexture(device_, 4, 4, 1, 0, D3DFMT_A8R8G8B8, managed_, &texture))) {
      ReleaseAndClear(vertices);
      Fail("bound resources", E_FAIL);
      return false;
    }
    device_->SetTexture(0, texture);
    A::SetStream(device_, 0, vertices, sizeof(ScreenVertex));
    releasedTexture_ = texture;
    releasedVertices_ = vertices;
    texture->Release();
    vertices->Release();
  }
  if (options_.failingReset || options_.releaseOnRequest) {
    triangle_ = MakeTriangle();
    if (!triangle_ ||
        (options_.failingReset &&
         FAILED(A::CreateTexture(device_, 16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &heldTexture_))) ||
        (options_.releaseOnRequest &&
         FAILED(A::CreateTexture(device_, 4, 4, 1, 0, D3DFMT_A8R8G8B8, managed_, &boundTexture_)))) {
      Fail("the game's triangle", E_FAIL);
      return false;
    }
  }
  if (options_.releaseOnRequest) {
    // Each holds an object of the game's, which shows when the system destroys it; bound once, for good.
    IUnknown* objects[2] = {};
    for (int i = 0; i < 2; ++i) objects[i] = boundData_[i] = new CCounted;
    boundTexture_->SetPrivateData(kProbeData, objects[0], sizeof objects[0], D3DSPD_IUNKNOWN);
    triangle_->SetPrivateData(kProbeData, objects[1], sizeof objects[1], D3DSPD_IUNKNOWN);
    device_->SetTexture(0, boundTexture_);
    A::SetStream(device_, 0, triangle_, sizeof(ScreenVertex));
    A::SetFvf(device_, kScreenVertexFormat);
  }
  if (options_.side == Options::Side::Process &&
      FAILED(A::CreateVertexBuffer(device_, 16 * 32, 0, D3DFVF_XYZRHW | D3DFVF_TEX2, D3DPOOL_SYSTEMMEM, &processed_))) {
    Fail("ProcessVertices' buffer", E_FAIL);
    return false;
  }
  const UINT* v = options_.viewport;
  viewport_ = options_.viewportGiven
                  ? Viewport{v[0], v[1], v[2], v[3], 0.0f, 1.0f}
                  : Viewport{parameters_.BackBufferWidth / 8, parameters_.BackBufferHeight / 6,
                             parameters_.BackBufferWidth / 2, parameters_.BackBufferHeight / 2, 0.25f, 0.75f};
  if (options_.stateBlocks) {
    // One block recorded, one created from the device's states: the game applies them in turn.
    device_->BeginStateBlock();
    variant_ = true;
    SetOddStates(true);
    A::EndStateBlock(device_, &recordedBlock_);
    variant_ = false;
    SetOddStates(true);
    A::CreateStateBlock(device_, &createdBlock_);
  }
  if (options_.setOnce) SetOddStates(true);
  return true;
}

// A green triangle in screen coordinates, in a managed vertex buffer.
template <class A>
typename A::VertexBuffer* CGame<A>::MakeTriangle() {
  VertexBuffer* vertices = nullptr;
  void* data = nullptr;
  if (FAILED(A::CreateVertexBuffer(device_, 3 * sizeof(ScreenVertex), 0, kScreenVertexFormat, managed_,
                                         &vertices)) ||
      FAILED(A::Lock(vertices, &data))) {
    ReleaseAndClear(vertices);
    return nullptr;
  }
  const ScreenVertex triangle[3] = {{250, 200, 0.5f, 1, 0xFF00FF00}, {300, 200, 0.5f, 1, 0xFF00FF00},
                                    {250, 230, 0.5f, 1, 0xFF00FF00}};
  std::memcpy(data, triangle, sizeof triangle);
  vertices->Unlock();
  return vertices;
}

template <class A>
void CGame<A>::ReleaseDefaultResources() {
  ReleaseAndClear(offscreenSurface_);
  ReleaseAndClear(offscreen_);
  ReleaseAndClear(offscreenDepth_);
  ReleaseAndClear(heldTexture_);
  for (SwapChain*& chain : chains_) ReleaseAndClear(chain);
  chains_.clear();
}

template <class A>
void CGame<A>::ReleaseDevice() {
  ReleaseDefaultResources();
  if (!device_) return;
  // Nothing of the game's may stay bound to a device it lets go.
  device_->SetTexture(0, nullptr);
  device_->SetTexture(1, nullptr);
  A::SetStream(device_, 0, nullptr, 0);
  A::SetIndices(device_, nullptr, 0);
  releasedTexture_ = nullptr;
  releasedVertices_ = nullptr;
  A::DeleteStateBlock(device_, recordedBlock_);
  A::DeleteStateBlock(device_, createdBlock_);
  more_.Release(device_);
  for (Texture*& texture : textures_) ReleaseAndClear(texture);
  ReleaseAndClear(vertices_);
  ReleaseAndClear(indices_);
  ReleaseAndClear(triangle_);
  ReleaseAndClear(boundTexture_);
  ReleaseAndClear(processed_);
  if constexpr (A::kVersion == 8) A::DropFrontBuffers();
  ReleaseAndClear(device_);
}

template <class A>
void CGame<A>::SetOddStates(bool odd) {
  for (const OddRenderState& s : kOddRenderStates) device_->SetRenderState(s.state, odd ? s.odd : s.other);
  for (const OddStageState& s : kOddStageStates) device_->SetTextureStageState(s.stage, s.type, odd ? s.odd : s.other);
  device_->SetTexture(0, odd ? textures_[0] : nullptr);
  device_->SetTexture(1, odd ? textures_[1] : nullptr);
  // The vertex input (a format, or a declaration and shaders), the pixel shader, and this Direct3D's own states.
  more_.Set(device_, odd, variant_);
  A::SetStream(device_, 0, odd ? vertices_ : nullptr, kOddStride);
  A::SetIndices(device_, odd ? indices_ : nullptr, odd ? kOddBaseVertex : 0);
  if (odd) {
    device_->SetViewport(&viewport_);
    for (D3DTRANSFORMSTATETYPE t : {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_TEXTURE0}) {
      device_->SetTransform(t, &kOddMatrix);
    }
  }
}

template <class A>
void CGame<A>::Mismatch(const char* what, DWORD set, DWORD read) {
  if (report_->stateMismatches.fetch_add(1) == 0) {
    std::snprintf(report_->firstMismatch, sizeof report_->firstMismatch, "%s: set 0x%08lX, read 0x%08lX", what,
                  static_cast<unsigned long>(set), static_cast<unsigned long>(read));
  }
}

// Reads back every state it set. What Get calls hand out is released at once.
template <class A>
void CGame<A>::CheckOddStates() {
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
    BaseTexture* texture = nullptr;
    device_->GetTexture(stage, &texture);
    if (texture != textures_[stage]) Mismatch(stage == 0 ? "texture 0" : "texture 1", 1, 0);
    if (texture) texture->Release();
  }
  more_.Check(device_, variant_,
              [this](const char* what, DWORD set, DWORD read) { Mismatch(what, set, read); });
  VertexBuffer* stream = nullptr;
  UINT stride = 0;
  A::GetStream(device_, 0, &stream, &stride);
  if (stream != vertices_ || stride != kOddStride) Mismatch("stream 0", kOddStride, stride);
  if (stream) stream->Release();
  IndexBuffer* indices = nullptr;
  UINT base = 0;
  A::GetIndices(device_, &indices, &base);
  // Direct3D 9 keeps no base vertex with the indices (its draw calls take it).
  const UINT oddBase = A::kIndicesKeepTheBaseVertex ? kOddBaseVertex : 0;
  if (indices != indices_ || base != oddBase) Mismatch("indices", oddBase, base);
  if (indices) indices->Release();
  Viewport viewport{};
  device_->GetViewport(&viewport);
  if (std::memcmp(&viewport, &viewport_, sizeof viewport) != 0) {
    Mismatch(viewport.X != viewport_.X ? "viewport X" : "viewport size", viewport_.X != viewport.X ? viewport_.X : viewport_.Width,
             viewport.X != viewport_.X ? viewport.X : viewport.Width);
  }
  for (D3DTRANSFORMSTATETYPE t : {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_TEXTURE0}) {
    D3DMATRIX matrix{};
    device_->GetTransform(t, &matrix);
    if (std::memcmp(&matrix, &kOddMatrix, sizeof matrix) != 0) Mismatch("transform", t, 0);
  }
  if (options_.offscreen) {
    Surface* target = nullptr;
    Surface* depth = nullptr;
    A::GetTarget(device_, &target);
    device_->GetDepthStencilSurface(&depth);
    if (target != offscreenSurface_) Mismatch("render target", 1, 0);
    if (depth != offscreenDepth_) Mismatch("depth stencil", 1, 0);
    if (target) target->Release();
    if (depth) depth->Release();
  }
  report_->stateChecks.fetch_add(1);
}

// The texture and the vertex buffer the game released are still bound, and still the same objects.
template <class A>
void CGame<A>::CheckReleasedBindings() {
  BaseTexture* texture = nullptr;
  VertexBuffer* stream = nullptr;
  UINT stride = 0;
  device_->GetTexture(0, &texture);
  A::GetStream(device_, 0, &stream, &stride);
  if (texture != releasedTexture_) Mismatch("released texture 0", 1, 0);
  if (stream != releasedVertices_ || stride != sizeof(ScreenVertex)) Mismatch("released stream 0", 1, 0);
  ReleaseAndClear(texture);
  ReleaseAndClear(stream);
  report_->stateChecks.fetch_add(1);
}

// Each back buffer holds one of the colours the game drew, all of it, and no colour is in two of them: a flip may
// have moved them from one buffer to another, but nothing else changed them. Every pixel unlike its buffer's colour
// counts, black ones included.
template <class A>
void CGame<A>::CheckBackBuffers() {
  const UINT colours = options_.backBuffers + 1;
  bool found[4] = {};
  char what[sizeof report_->firstMismatch];
  const auto mismatch = [this, &what] {
    if (report_->bufferMismatches.fetch_add(1) == 0) std::snprintf(report_->firstMismatch, sizeof what, "%s", what);
  };
  for (UINT index = 0; index < options_.backBuffers; ++index) {
    Surface* backBuffer = nullptr;
    D3DLOCKED_RECT locked{};
    if (FAILED(A::BackBuffer(device_, index, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) ||
        FAILED(backBuffer->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
      ReleaseAndClear(backBuffer);
      Fail("reading a back buffer", E_FAIL);
      return;
    }
    const auto pixel = [&locked](UINT x, UINT y) {
      return reinterpret_cast<const std::uint32_t*>(static_cast<const unsigned char*>(locked.pBits) +
                                                    static_cast<std::ptrdiff_t>(y) * locked.Pitch)[x] &
             0xFFFFFFu;
    };
    UINT colour = 0;
    while (colour < colours && (kDrawnOnce[colour] & 0xFFFFFFu) != pixel(0, 0)) ++colour;
    const std::uint32_t expected = colour < colours ? kDrawnOnce[colour] & 0xFFFFFFu : pixel(0, 0);
    unsigned long changed = colour < colours ? 0 : 1;
    UINT firstX = 0;
    UINT firstY = 0;
    for (UINT y = 0; y < options_.height; ++y) {
      for (UINT x = 0; x < options_.width; ++x) {
        if (pixel(x, y) == expected) continue;
        if (changed++ == 0) {
          firstX = x;
          firstY = y;
        }
      }
    }
    const std::uint32_t firstChanged = pixel(firstX, firstY);
    backBuffer->UnlockRect();
    backBuffer->Release();
    if (changed != 0) {
      std::snprintf(what, sizeof what, "back buffer %u after present %u: %lu pixels changed, the first at (%u, %u) 0x%06lX",
                    index, frame_, changed, firstX, firstY, static_cast<unsigned long>(firstChanged));
      mismatch();
    }
    if (colour < colours && found[colour]) {
      std::snprintf(what, sizeof what, "colour %u in two back buffers after present %u", colour, frame_);
      mismatch();
    }
    if (colour < colours) found[colour] = true;
  }
  report_->bufferChecks.fetch_add(1);
}

// Copies the client area of the window asked for, as the screen shows it after the present (the frame the device
// presented, the overlay included), into the report as 0x00RRGGBB.
template <class A>
void CGame<A>::Capture() {
  const std::uint32_t request = report_->captureRequest.load();
  if (request == report_->captureDone.load()) return;
  const std::uint32_t index = report_->captureWindow.load();
  HWND window = index == 0 ? window_ : index <= chainWindows_.size() ? chainWindows_[index - 1] : nullptr;
  RECT client{};
  POINT origin{0, 0};
  if (!window || !GetClientRect(window, &client) || !ClientToScreen(window, &origin)) return;
  const int width = client.right;
  const int height = client.bottom;
  if (width <= 0 || height <= 0 || static_cast<std::uint32_t>(width * height) > testgame::kMaxCapturePixels) return;
  const std::vector<std::uint32_t> pixels =
      testsupport::ScreenPixels(RECT{origin.x, origin.y, origin.x + width, origin.y + height});
  if (pixels.empty()) return;
  std::copy(pixels.begin(), pixels.end(), report_->pixels);
  report_->captureWidth = static_cast<std::uint32_t>(width);
  report_->captureHeight = static_cast<std::uint32_t>(height);
  report_->captureDevice = report_->devices.load();
  report_->captureDone.store(request);
}

// Probes a device of its own the way the documentation describes its objects, after a few presents (so that an
// overlay has made its own objects on it): which device each kind of object names, which container a surface or a
// volume names, the reference counts the device and the objects report, what a resource does with an object
// attached as private data, and a device released before its last resource and reached through it. Every value is
// written down; the tests compare them with the system's Direct3D 8 alone.
template <class A>
void CGame<A>::Probe() {
  std::string out;
  const auto put = [&out](const char* name, unsigned long value) {
    out += name;
    out += ' ';
    out += std::to_string(value);
    out += '\n';
  };
  HWND window = MakeWindow("va_vazu test game probe", options_.x, options_.y + 300, 128, 96);
  HWND chainWindow = MakeWindow("va_vazu test game probe chain", options_.x + 160, options_.y + 300, 128, 96);
  D3DPRESENT_PARAMETERS parameters{};
  parameters.BackBufferWidth = 128;
  parameters.BackBufferHeight = 96;
  parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
  parameters.BackBufferCount = 1;
  parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
  parameters.hDeviceWindow = window;
  parameters.Windowed = TRUE;
  parameters.EnableAutoDepthStencil = TRUE;
  parameters.AutoDepthStencilFormat = D3DFMT_D24S8;
  Device* device = nullptr;
  if (!window || !chainWindow ||
      FAILED(A::CreateDevice(direct3d_, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &parameters, &device))) {
    Fail("probe device", E_FAIL);
    return;
  }
  // Half a second of frames: time enough for an overlay to make its images for this screen and upload them.
  for (int i = 0; i < 50; ++i) {
    device->Clear(0, nullptr, D3DCLEAR_TARGET, options_.clear, 1.0f, 0);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    Sleep(10);
  }
  put("device", CountOf(device));

  Texture* texture = nullptr;
  CubeTexture* cube = nullptr;
  VolumeTexture* volumeTexture = nullptr;
  VertexBuffer* vertices = nullptr;
  IndexBuffer* indices = nullptr;
  Surface* target = nullptr;
  Surface* depth = nullptr;
  Surface* image = nullptr;
  SwapChain* chain = nullptr;
  D3DPRESENT_PARAMETERS chainParameters = parameters;
  chainParameters.hDeviceWindow = chainWindow;
  chainParameters.EnableAutoDepthStencil = FALSE;
  put("create.texture", A::CreateTexture(device, 16, 16, 2, 0, D3DFMT_A8R8G8B8, managed_, &texture));
  put("create.cube", A::CreateCubeTexture(device, 16, 1, 0, D3DFMT_A8R8G8B8, managed_, &cube));
  put("create.volume", A::CreateVolumeTexture(device, 8, 8, 8, 1, 0, D3DFMT_A8R8G8B8, managed_, &volumeTexture));
  put("create.vertices", A::CreateVertexBuffer(device, 64, 0, 0, managed_, &vertices));
  put("create.indices", A::CreateIndexBuffer(device, 64, 0, D3DFMT_INDEX16, managed_, &indices));
  put("create.target", A::CreateRenderTarget(device, 16, 16, D3DFMT_X8R8G8B8, &target));
  put("create.depth", A::CreateDepthStencil(device, 16, 16, D3DFMT_D24S8, &depth));
  put("create.image", A::CreateImage(device, 16, 16, D3DFMT_A8R8G8B8, &image));
  put("create.chain", device->CreateAdditionalSwapChain(&chainParameters, &chain));
  if (!texture || !cube || !volumeTexture || !vertices || !indices || !target || !depth || !image || !chain) {
    report_->probe[0] = '\0';
    std::snprintf(report_->probe, sizeof report_->probe, "%s", out.c_str());
    Fail("probe objects", E_FAIL);
    return;
  }
  Surface* level = nullptr;
  Surface* face = nullptr;
  Volume* volume = nullptr;
  Surface* backBuffer = nullptr;
  Surface* chainBuffer = nullptr;
  texture->GetSurfaceLevel(0, &level);
  cube->GetCubeMapSurface(D3DCUBEMAP_FACE_POSITIVE_X, 0, &face);
  volumeTexture->GetVolumeLevel(0, &volume);
  A::BackBuffer(device, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
  chain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &chainBuffer);
  put("device.with.resources", CountOf(device));
  put("texture", CountOf(texture));
  put("level", CountOf(level));
  put("back.buffer", CountOf(backBuffer));

  // Every object names the device that made it, and a reference taken through it is one of the device's.
  struct Named {
    const char* name;
    HRESULT result;
    Device* device;
  };
  const auto deviceOf = [](auto* object) {
    Device* named = nullptr;
    const HRESULT result = object ? object->GetDevice(&named) : E_POINTER;
    return std::make_pair(result, named);
  };
  const std::pair<const char*, std::pair<HRESULT, Device*>> named[] = {
      {"texture", deviceOf(texture)}, {"level", deviceOf(level)},      {"cube", deviceOf(cube)},
      {"face", deviceOf(face)},       {"volume.texture", deviceOf(volumeTexture)},
      {"volume", deviceOf(volume)},   {"vertices", deviceOf(vertices)}, {"indices", deviceOf(indices)},
      {"target", deviceOf(target)},   {"depth", deviceOf(depth)},      {"image", deviceOf(image)},
      {"back.buffer", deviceOf(backBuffer)}, {"chain.buffer", deviceOf(chainBuffer)}};
  for (const auto& [name, found] : named) {
    put((std::string("getdevice.same.") + name).c_str(), SUCCEEDED(found.first) && found.second == device);
    put((std::string("getdevice.count.") + name).c_str(), found.second ? found.second->Release() : 0);
  }

  // A surface or a volume names its container: a texture's level its texture, a back buffer the device (Direct3D
  // 8) or its swap chain (Direct3D 9).
  const auto containerOf = [](auto* object, REFIID riid, void* expected) {
    void* container = nullptr;
    const HRESULT result = object->GetContainer(riid, &container);
    const bool same = SUCCEEDED(result) && container == expected;
    if (SUCCEEDED(result) && container) static_cast<IUnknown*>(container)->Release();
    return static_cast<unsigned long>(same);
  };
  put("container.level", containerOf(level, A::kTextureId, texture));
  put("container.face", containerOf(face, A::kCubeTextureId, cube));
  put("container.volume", containerOf(volume, A::kVolumeTextureId, volumeTexture));
  if constexpr (A::kVersion == 8) {
    put("container.back.buffer", containerOf(backBuffer, A::kDeviceId, device));
    put("container.chain.buffer", containerOf(chainBuffer, A::kDeviceId, device));
  } else {
    // The device's own swap chain is one object, whenever it is asked for, and names the device; the device names
    // the Direct3D object that made it.
    SwapChain* own = nullptr;
    SwapChain* again = nullptr;
    put("getswapchain", device->GetSwapChain(0, &own));
    device->GetSwapChain(0, &again);
    put("getswapchain.same", own != nullptr && own == again);
    put("container.back.buffer", containerOf(backBuffer, A::kSwapChainId, own));
    put("container.chain.buffer", containerOf(chainBuffer, A::kSwapChainId, chain));
    const auto ownNames = deviceOf(own);
    const auto chainNames = deviceOf(chain);
    put("getdevice.same.swap.chain", ownNames.second == device);
    put("getdevice.same.chain", chainNames.second == device);
    if (ownNames.second) ownNames.second->Release();
    if (chainNames.second) chainNames.second->Release();
    Direct3D* direct3d = nullptr;
    put("getdirect3d.same", SUCCEEDED(device->GetDirect3D(&direct3d)) && direct3d == direct3d_);
    put("getdirect3d.count", direct3d ? direct3d->Release() : 0);
    put("release.swap.chain.again", again ? again->Release() : 0);
    put("release.swap.chain", own ? own->Release() : 0);
    put("device.after.identities", CountOf(device));
  }

  // An object attached as private data is held by the resource until the resource ends.
  CCounted attached;
  IUnknown* attachedPointer = &attached;
  put("private.set", texture->SetPrivateData(kProbeData, attachedPointer, sizeof attachedPointer, D3DSPD_IUNKNOWN));
  put("private.held", attached.references());
  Texture* kept = nullptr;
  put("create.kept", A::CreateTexture(device, 8, 8, 1, 0, D3DFMT_A8R8G8B8, managed_, &kept));
  CCounted attachedToKept;
  IUnknown* attachedToKeptPointer = &attachedToKept;
  if (kept) kept->SetPrivateData(kProbeData, attachedToKeptPointer, sizeof attachedToKeptPointer, D3DSPD_IUNKNOWN);

  put("release.level", level->Release());
  put("release.face", face->Release());
  put("release.volume", volume->Release());
  put("release.back.buffer", backBuffer->Release());
  put("release.chain.buffer", chainBuffer->Release());
  put("release.texture", texture->Release());
  put("private.after.release", attached.references());
  put("release.cube", cube->Release());
  put("release.volume.texture", volumeTexture->Release());
  put("release.vertices", vertices->Release());
  put("release.indices", indices->Release());
  put("release.target", target->Release());
  put("release.depth", depth->Release());
  put("release.image", image->Release());
  put("release.chain", chain->Release());
  put("device.with.one.resource", CountOf(device));

  // The device released while a resource still holds it, then reached through the resource.
  const ULONG direct3dBefore = CountOf(direct3d_);
  put("release.device", device->Release());
  Device* reached = nullptr;
  put("reached.result", kept ? kept->GetDevice(&reached) : E_POINTER);
  put("reached.same", reached == device);
  Caps caps{};
  put("reached.caps", reached ? reached->GetDeviceCaps(&caps) : E_POINTER);
  put("reached.release", reached ? reached->Release() : 0);
  put("direct3d.with.device", direct3dBefore);
  put("release.kept", kept ? kept->Release() : 0);
  put("private.kept.after.release", attachedToKept.references());
  // The device ended with its last resource, and let go of the Direct3D object.
  put("direct3d.after.device", CountOf(direct3d_));

  DestroyWindow(chainWindow);
  DestroyWindow(window);
  std::snprintf(report_->probe, sizeof report_->probe, "%s", out.c_str());
  report_->probed.store(1);
}

// One round of the other thread's calls on a multithreaded device (--side-thread).
template <class A>
void CGame<A>::SideRound() {
  bool failed = false;
  if (options_.side == Options::Side::Shaders) {
    // A vertex shader (or declaration) and a pixel shader, in turn: made, set and deleted.
    failed = !A::ShaderRound(device_, sideRound_);
  } else if (options_.side == Options::Side::States) {
    // Saved with Get* and put back with what was read: what the game set once, unless someone else's value is read.
    DWORD value = 0;
    for (const OddRenderState& s : kOddRenderStates) {
      failed = FAILED(device_->GetRenderState(s.state, &value)) || failed;
      if (value != s.odd) report_->sideStrangeReads.fetch_add(1);
      device_->SetRenderState(s.state, value);
    }
    for (const OddStageState& s : kOddStageStates) {
      failed = FAILED(device_->GetTextureStageState(s.stage, s.type, &value)) || failed;
      if (value != s.odd) report_->sideStrangeReads.fetch_add(1);
      device_->SetTextureStageState(s.stage, s.type, value);
    }
  } else if (options_.side == Options::Side::Process) {
    // The game's vertex buffer on stream 0 and its vertex format, through the fixed-function pipeline.
    failed = FAILED(A::ProcessVertices(device_, 16, processed_));
  }
  ++sideRound_;
  report_->sideRounds.fetch_add(1);
  if (failed) report_->sideFailures.fetch_add(1);
}

// A reset the system refuses while a D3DPOOL_DEFAULT texture is held, then the texture released and a reset that
// succeeds, and a clear. (No clear between them: the refused Reset has unbound Wine's render target, and Wine's own
// Clear then crashes on it, with or without an overlay.)
template <class A>
void CGame<A>::ResetFailingFirst() {
  report_->firstReset.store(device_->Reset(&parameters_));
  ReleaseAndClear(heldTexture_);
  const HRESULT second = device_->Reset(&parameters_);
  report_->secondReset.store(second);
  device_->Clear(0, nullptr, D3DCLEAR_TARGET, options_.clear, 1.0f, 0);
  if (FAILED(second)) {
    Fail("the second Reset", second);
    return;
  }
  report_->resets.fetch_add(1);
}


// Every value a game can read back with Get*, as "name value" lines: floats as their bits, objects as whether one
// is bound (and the render target and depth buffer as whether they are the device's own).
template <class A>
std::string CGame<A>::DefaultValues(const char* prefix) {
  std::string out;
  const auto put = [&out, prefix](const std::string& name, unsigned long value) { PutLine(out, prefix + name, value); };
  DWORD value = 0;
  for (const auto& [state, name] : A::kRenderStates) {
    value = 0xBAADF00D;
    device_->GetRenderState(state, &value);
    put(std::string("rs.") + name, value);
  }
  for (DWORD stage = 0; stage < 8; ++stage) {
    for (const auto& [type, name] : A::kStageStates) {
      value = 0xBAADF00D;
      device_->GetTextureStageState(stage, type, &value);
      put("tss." + std::to_string(stage) + "." + name, value);
    }
    BaseTexture* texture = nullptr;
    device_->GetTexture(stage, &texture);
    put("texture." + std::to_string(stage), texture != nullptr);
    ReleaseAndClear(texture);
  }
  Caps caps{};
  device_->GetDeviceCaps(&caps);
  for (UINT stream = 0; stream < caps.MaxStreams; ++stream) {
    VertexBuffer* buffer = nullptr;
    UINT stride = 0xBAADF00D;
    A::GetStream(device_, stream, &buffer, &stride);
    put("stream." + std::to_string(stream), buffer != nullptr);
    put("stream." + std::to_string(stream) + ".stride", stride);
    ReleaseAndClear(buffer);
  }
  IndexBuffer* indices = nullptr;
  UINT base = 0xBAADF00D;
  A::GetIndices(device_, &indices, &base);
  put("indices", indices != nullptr);
  put("indices.base", base);
  ReleaseAndClear(indices);
  value = 0xBAADF00D;
  device_->GetVertexShader(&value);
  put("vertex.shader", value);
  value = 0xBAADF00D;
  device_->GetPixelShader(&value);
  put("pixel.shader", value);
  Viewport viewport{};
  device_->GetViewport(&viewport);
  put("viewport.x", viewport.X);
  put("viewport.y", viewport.Y);
  put("viewport.width", viewport.Width);
  put("viewport.height", viewport.Height);
  put("viewport.minz", BitsOf(viewport.MinZ));
  put("viewport.maxz", BitsOf(viewport.MaxZ));
  for (const auto& [type, name] : A::kTransforms) {
    D3DMATRIX matrix{};
    device_->GetTransform(type, &matrix);
    for (int i = 0; i < 16; ++i) put("transform." + std::string(name) + "." + std::to_string(i), BitsOf(matrix.m[i / 4][i % 4]));
  }
  typename A::Material material{};
  device_->GetMaterial(&material);
  const D3DCOLORVALUE colours[] = {material.Diffuse, material.Ambient, material.Specular, material.Emissive};
  for (int i = 0; i < 4; ++i) {
    const std::string name = "material." + std::to_string(i);
    put(name + ".r", BitsOf(colours[i].r));
    put(name + ".g", BitsOf(colours[i].g));
    put(name + ".b", BitsOf(colours[i].b));
    put(name + ".a", BitsOf(colours[i].a));
  }
  put("material.power", BitsOf(material.Power));
  for (DWORD plane = 0; plane < caps.MaxUserClipPlanes; ++plane) {
    float values[4] = {};
    device_->GetClipPlane(plane, values);
    for (int i = 0; i < 4; ++i) put("clip." + std::to_string(plane) + "." + std::to_string(i), BitsOf(values[i]));
  }
  Surface* target = nullptr;
  Surface* backBuffer = nullptr;
  Surface* depth = nullptr;
  A::GetTarget(device_, &target);
  A::BackBuffer(device_, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
  device_->GetDepthStencilSurface(&depth);
  put("target.is.back.buffer", target != nullptr && target == backBuffer);
  put("depth.is.own", depth != nullptr && depth == autoDepth_);
  ReleaseAndClear(target);
  ReleaseAndClear(backBuffer);
  ReleaseAndClear(depth);
  UINT palette = 0xBAADF00D;
  device_->GetCurrentTexturePalette(&palette);
  put("palette", palette);
  return out;
}

// Unbinds the texture and the triangle and releases them: the game's were the last references.
template <class A>
void CGame<A>::LetBoundObjectsGo() {
  device_->SetTexture(0, nullptr);
  A::SetStream(device_, 0, nullptr, 0);
  ReleaseAndClear(boundTexture_);
  ReleaseAndClear(triangle_);
  releasedAt_ = frame_;
}

// The device's count once its table is the system's again; then everything released, a texture holding an object
// as private data last, and whether the device ended (and let go of the Direct3D object).
template <class A>
void CGame<A>::EndAfterTheTableWasRestored() {
  std::string lines;
  PutLine(lines, "device.count", CountOf(device_));
  Texture* kept = nullptr;
  auto* data = new CCounted;  // the resource may hold it for as long as the process runs
  IUnknown* object = data;
  if (SUCCEEDED(A::CreateTexture(device_, 8, 8, 1, 0, D3DFMT_A8R8G8B8, managed_, &kept))) {
    kept->SetPrivateData(kProbeData, object, sizeof object, D3DSPD_IUNKNOWN);
  }
  const ULONG direct3dWithDevice = CountOf(direct3d_);
  ReleaseDevice();
  PutLine(lines, "release.kept", kept ? kept->Release() : 0xBAADF00D);
  PutLine(lines, "private.kept.after.release", data->references());
  PutLine(lines, "direct3d.with.device", direct3dWithDevice);
  PutLine(lines, "direct3d.after.device", CountOf(direct3d_));
  Publish(lines);
}

template <class A>
void CGame<A>::Publish(const std::string& lines) {
  std::snprintf(report_->probe, sizeof report_->probe, "%s", lines.c_str());
  report_->probed.store(1);
}

template <class A>
void CGame<A>::ResetTo(UINT width, UINT height) {
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
  Surface* depth = nullptr;
  device_->GetDepthStencilSurface(&depth);
  autoDepth_ = depth;
  ReleaseAndClear(depth);
  report_->resets.fetch_add(1);
  options_.width = width;
  options_.height = height;
  if (options_.setOnce) SetOddStates(true);
  // A reset unbinds everything: the released bindings went with it.
  releasedTexture_ = nullptr;
  releasedVertices_ = nullptr;
  options_.bindReleased = false;
  if (options_.offscreen || !chainWindows_.empty()) CreateResources();
}

// The back buffers of the additional swap chains, each cleared to the game's colour.
template <class A>
void CGame<A>::ClearChains() {
  if (chains_.empty()) return;
  Surface* backBuffer = nullptr;
  Surface* depth = nullptr;
  A::GetTarget(device_, &backBuffer);
  device_->GetDepthStencilSurface(&depth);
  for (SwapChain* chain : chains_) {
    Surface* chainBuffer = nullptr;
    if (SUCCEEDED(chain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &chainBuffer)) &&
        SUCCEEDED(A::SetTargets(device_, chainBuffer, nullptr))) {
      device_->Clear(0, nullptr, D3DCLEAR_TARGET, options_.clear, 1.0f, 0);
    }
    ReleaseAndClear(chainBuffer);
  }
  A::SetTargets(device_, backBuffer, depth);
  ReleaseAndClear(backBuffer);
  ReleaseAndClear(depth);
}

template <class A>
void CGame<A>::Frame() {
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
  if (report_->resetRequests.load() > resetsAsked_) {
    ++resetsAsked_;
    if (options_.failingReset) {
      ResetFailingFirst();
    } else {
      ResetTo(options_.resetWidth ? options_.resetWidth : options_.width,
              options_.resetHeight ? options_.resetHeight : options_.height);
    }
  }
  if (options_.releaseOnRequest && releasedAt_ == 0 && report_->releaseRequests.load() != 0) LetBoundObjectsGo();
  if (options_.recreateAfter != 0 && frame_ != 0 && frame_ % options_.recreateAfter == 0) {
    ReleaseDevice();
    if (!CreateDevice() || !CreateResources()) {
      quit_ = true;
      return;
    }
  }
  ++frame_;

  if (options_.drawOnce) {
    // Each buffer of the chain gets its colour in one of the first frames, and is never drawn again.
    if (frame_ <= options_.backBuffers + 1) {
      device_->Clear(0, nullptr, D3DCLEAR_TARGET, kDrawnOnce[frame_ - 1], 1.0f, 0);
    }
  } else if (options_.setOnce || options_.defaults || options_.releaseOnRequest || options_.failingReset) {
    // States set once, or never: the frame clears (the game's viewport) and draws its triangle, if it has one.
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, options_.clear, 1.0f, 0);
    if (triangle_ && SUCCEEDED(device_->BeginScene())) {
      if (options_.failingReset) {
        // A reset unbinds it.
        A::SetStream(device_, 0, triangle_, sizeof(ScreenVertex));
        A::SetFvf(device_, kScreenVertexFormat);
      }
      device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1);
      device_->EndScene();
    }
  } else {
    if (!options_.bindReleased) SetOddStates(false);
    const Viewport full{0, 0, parameters_.BackBufferWidth, parameters_.BackBufferHeight, 0.0f, 1.0f};
    device_->SetViewport(&full);
    if (SUCCEEDED(device_->BeginScene())) {
      device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, options_.clear, 1.0f, 0);
      // Drawing from what only the device's bindings keep: gone objects would end the game here.
      if (options_.bindReleased) device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1);
      device_->EndScene();
    }
    ClearChains();
  }
  // The back buffer and its depth buffer, to go back to after presenting with an off-screen target set.
  Surface* backBuffer = nullptr;
  Surface* backDepth = nullptr;
  if (options_.offscreen) {
    A::GetTarget(device_, &backBuffer);
    device_->GetDepthStencilSurface(&backDepth);
    A::SetTargets(device_, offscreenSurface_, offscreenDepth_);
  }
  // Set after the render target, which resets the viewport.
  if (options_.oddState && !options_.setOnce) {
    variant_ = frame_ % 2 != 0;
    if (options_.stateBlocks) {
      A::ApplyStateBlock(device_, variant_ ? recordedBlock_ : createdBlock_);
    } else {
      SetOddStates(true);
    }
  }
  if (options_.neverPresent) {
    ReleaseAndClear(backBuffer);
    ReleaseAndClear(backDepth);
    Sleep(10);
    return;
  }
  const HRESULT presented = PresentAll();
  if (FAILED(presented) && presented != D3DERR_DEVICELOST) Fail("Present", presented);
  report_->frames.fetch_add(1);
  if (options_.oddState) CheckOddStates();
  if (options_.bindReleased && releasedTexture_) CheckReleasedBindings();
  if (options_.drawOnce && frame_ > options_.backBuffers) CheckBackBuffers();
  if (options_.offscreen) {
    A::SetTargets(device_, backBuffer, backDepth);
    ReleaseAndClear(backBuffer);
    ReleaseAndClear(backDepth);
  }
  if (options_.probe && frame_ == 20) Probe();
  if (options_.loadChurn && frame_ <= 20) {
    Churn();
    if (frame_ == 20) {
      std::string lines;
      for (std::size_t i = 0; i < materials_.size(); ++i) PutLine(lines, "material." + std::to_string(i), materials_[i]);
      Publish(lines);
    }
  }
  // Direct3D 8's defaults, which only its game reads.
  if constexpr (A::kVersion == 8) {
    if (options_.defaults && frame_ == 30) {
      defaults_ = DefaultValues("start.");
      ResetTo(options_.width, options_.height);
    } else if (options_.defaults && frame_ == 60) {
      Publish(defaults_ + DefaultValues("reset."));
    }
  }
  if (releasedAt_ != 0 && frame_ == releasedAt_ + 30) {
    std::string lines;
    PutLine(lines, "texture.data.released", boundData_[0]->references() == 1);
    PutLine(lines, "vertices.data.released", boundData_[1]->references() == 1);
    Publish(lines);
  }
  if constexpr (A::kVersion == 8) {
    if (options_.restoreTable && frame_ == 50) A::RestoreTheTable();
  }
  // Time for an overlay to make its images and draw them before the values are read.
  if (options_.defaults || options_.restoreTable) Sleep(15);
  Capture();
  if constexpr (A::kVersion == 8) {
    if (options_.restoreTable && frame_ == 80) EndAfterTheTableWasRestored();
  }
}

// Presents the frame through the device and every additional swap chain; what the device's present returned.
template <class A>
HRESULT CGame<A>::PresentAll() {
  // Counted before each call, so that the counting table's functions never see more than these.
  if constexpr (A::kVersion == 8) A::CountIfPrivate(device_);
  const HRESULT presented = A::Present(device_, options_.sourceGiven ? &options_.source : nullptr, options_);
  for (SwapChain* chain : chains_) {
    if constexpr (A::kVersion == 8) A::CountIfPrivate(chain);
    A::PresentChain(chain, options_);
  }
  if constexpr (A::kVersion == 8) A::AfterPresents(options_);
  return presented;
}

template <class A>
void CGame<A>::RenderLoop() {
  while (!quit_ && device_ && report_->failure.load() == 0) Frame();
}

template <class A>
DWORD WINAPI CGame<A>::RenderThread(void* self) {
  static_cast<CGame*>(self)->RenderLoop();
  return 0;
}

// A multithreaded device is drawn from a thread of its own while the window's thread handles messages and keeps
// making and dropping textures on the same device, as games that load while they draw do.
template <class A>
int CGame<A>::Run() {
  if (options_.multithreaded) {
    HANDLE renderer = CreateThread(nullptr, 0, RenderThread, this, 0, nullptr);
    MSG msg;
    while (!quit_) {
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) quit_ = true;
        DispatchMessageA(&msg);
      }
      if (options_.side != Options::Side::None) {
        for (int i = 0; i < 64 && device_; ++i) SideRound();
        continue;
      }
      Texture* texture = nullptr;
      if (device_ && SUCCEEDED(A::CreateTexture(device_, 16, 16, 1, 0, D3DFMT_A8R8G8B8, managed_, &texture))) {
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

// Runs the game until its window closes; what the process returns.
template <class A>
int RunGame(const Options& options) {
  CGame<A> game(options);
  if (!game.Start(GetModuleHandleA(nullptr))) {
    // The report says why; the window stays until the test ends the game.
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 1;
  }
  return game.Run();
}

}  // namespace
}  // namespace testgame
