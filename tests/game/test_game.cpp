// va_vazu_testgame.exe: a small Direct3D 8 game for the overlay's tests, other than the preview, so that the
// overlay is not tuned to one game. It clears its back buffer to one colour every frame and presents it, and on
// request it sets every state the overlay touches (and more) to unusual values, through its own calls or through
// state blocks, and after each present reads them back to see that they are still what it set. It can run with
// any of the usual back-buffer formats and swap effects, on a pure or multithreaded device, full screen (where its
// device is lost while another window is in front, and reset when it comes back), with an off-screen render
// target set at present time, reset itself to another size, create its device anew, or never present at all. It
// can also draw its back buffers once and check after every present that they stay as drawn, keep drawing with a
// texture and a vertex buffer whose references it has released (the device's bindings keep them), present a part
// of its back buffer, present through additional swap chains, and probe the objects of a device of its own
// (identities, reference counts, private data) as the documentation describes them. What it sees goes into its
// report section (game_report.h), and so does a copy of a frame, read off the screen, when a test asks for one.
//
//   va_vazu_testgame.exe [--size WxH] [--pos X,Y] [--clear RRGGBB] [--format X8R8G8B8|A8R8G8B8|R5G6B5|X1R5G5B5]
//                        [--swap discard|copy|flip] [--back-buffers N] [--draw-once]
//                        [--pure] [--multithreaded] [--odd-state] [--state-blocks]
//                        [--offscreen [--offscreen-size WxH] [--viewport X,Y,W,H]] [--bind-released]
//                        [--source X,Y,W,H] [--chains N] [--probe]
//                        [--reset-after N] [--reset-size WxH] [--recreate-after N] [--never-present] [--fullscreen]
//                        [--side-thread shaders|states|process] [--failing-reset] [--defaults] [--load-churn]
//                        [--release-on-request] [--restore-table]
//                        [--first-rect-only] [--texture-copies-refused] [--documented-flip] [--second-table]
//                        [--other-tool first|late] [--refuse-textures MS] [--cbt-hook]
//
// Threads, resets, defaults and lifetimes:
//   --side-thread MODE  a multithreaded device presented by a thread of its own while the window's thread calls the
//                       device in a loop, counting its rounds (sideRounds) and failed calls (sideFailures):
//                       "shaders" creates a vertex or pixel shader, sets it and deletes it; "states" reads every odd
//                       state with Get* and sets what it read back, as code that saves and restores states does,
//                       counting reads unlike the game's (sideStrangeReads); "process" calls ProcessVertices from
//                       the game's vertex buffer on stream 0 into a buffer of its own. With "states" and "process"
//                       the game sets its odd states once (after creating the device and after a reset), never per
//                       frame, and checks them after every present.
//   --failing-reset     draws a triangle from a vertex buffer of its own every frame and holds a D3DPOOL_DEFAULT
//                       texture; a requested reset is a Reset with the texture held (which fails), the texture
//                       released, a Reset (which succeeds) and a Clear: both results go to the report.
//   --defaults          never sets a state: only clears and presents; after 30 presents, and after 30 more
//                       following a reset of its own, writes every value Get* reads into the probe lines.
//   --load-churn        loads as an engine does between creating its device and its first present, and goes on
//                       through its first frames: makes decode-like buffers and frees some, and makes materials
//                       among them with new; writes the materials' addresses into the probe lines after frame 20.
//   --release-on-request binds a texture and a vertex buffer, each holding an object as private data, and draws
//                       with them; once the test asks (releaseRequests), unbinds and releases them, presents 30
//                       frames and writes whether each private-data object was let go (the system destroyed it).
//   --restore-table     before the imported Direct3DCreate8 runs, copies the device table of a throwaway device of
//                       the system's own d3d8.dll; after 50 presents writes the copy back over the table, as
//                       another component restoring it would; 30 presents later writes the device's count, then
//                       releases everything and writes whether the device ended.
// Another Direct3D 8, put on the system's (through its own d3d8.dll and a throwaway device) before the imported
// Direct3DCreate8 runs, so that an overlay finds it so:
//   --first-rect-only   the device's CopyRects copies only the first rectangle of a call and returns D3D_OK.
//   --texture-copies-refused  CopyRects between two surfaces of D3DPOOL_DEFAULT fails with D3DERR_INVALIDCALL where
//                       either is a level of a texture that is not a render target, as a Direct3D 8 over a later
//                       Direct3D's surface-to-surface blit may.
//   --documented-flip   a FLIP swap chain rotates as the documentation says: after Present the former front buffer
//                       is the last back buffer, emulated over the system's rotation with whole-surface copies.
//   --second-table      every second device made (2nd, 4th, ...: with --recreate-after) gets a method table of its
//                       own, and so do its additional swap chains, as a wrapper's would: functions of the game's own
//                       that count their calls and call on to the system's (counted_tables.h).
//   --refuse-textures MS  for MS milliseconds from the first device's creation, CreateTexture fails with
//                       D3DERR_OUTOFVIDEOMEMORY, as on a device whose video memory the game has filled, for every
//                       caller but the game itself, counting the refusals (refusedTextures).
// Other components in the game:
//   --other-tool first  a tool that patched the system's device table before anything else (through the system's own
//                       d3d8.dll): its Present and EndScene count their calls and call on to what they replaced.
//   --other-tool late   the same tool finding the table as recorders and second overlays do: a throwaway device made
//                       through "d3d8.dll" by name (an overlay's, where there is one), released once patched.
//   --cbt-hook          a WH_CBT hook on the game's thread counts the windows made on it once the game runs.
#include <windows.h>
// Direct3D's interface identifiers, for GetContainer, are defined here.
#include <initguid.h>
#include <d3d8.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/game/counted_tables.h"
#include "tests/game/game_report.h"
#include "tests/game/system_slots.h"
#include "tests/support/screen_pixels.h"

namespace {

struct Options {
  UINT width = 320;
  UINT height = 240;
  int x = 0;
  int y = 0;
  D3DCOLOR clear = 0xFF204060;
  D3DFORMAT format = D3DFMT_X8R8G8B8;
  D3DSWAPEFFECT swap = D3DSWAPEFFECT_DISCARD;
  UINT backBuffers = 1;
  bool drawOnce = false;
  bool pure = false;
  bool multithreaded = false;
  bool oddState = false;
  bool stateBlocks = false;
  bool offscreen = false;
  UINT offscreenWidth = 0;  // 0: the back buffer's size
  UINT offscreenHeight = 0;
  bool viewportGiven = false;
  D3DVIEWPORT8 viewport{};
  bool bindReleased = false;
  bool sourceGiven = false;
  RECT source{};
  UINT chains = 0;
  bool probe = false;
  bool neverPresent = false;
  bool fullscreen = false;
  UINT resetAfter = 0;
  UINT resetWidth = 0;
  UINT resetHeight = 0;
  UINT recreateAfter = 0;
  enum class Side { None, Shaders, States, Process } side = Side::None;
  bool setOnce = false;  // odd states set once, never per frame
  bool failingReset = false;
  bool defaults = false;
  bool loadChurn = false;
  bool releaseOnRequest = false;
  bool restoreTable = false;
  bool firstRectOnly = false;
  bool textureCopiesRefused = false;
  bool documentedFlip = false;
  bool secondTable = false;
  enum class Tool { None, First, Late } tool = Tool::None;
  DWORD refuseTexturesMs = 0;
  bool cbtHook = false;
};

bool ParseSize(const char* text, UINT& width, UINT& height) {
  unsigned w = 0;
  unsigned h = 0;
  if (std::sscanf(text, "%ux%u", &w, &h) != 2 || w == 0 || h == 0 || w * h > testgame::kMaxCapturePixels) return false;
  width = w;
  height = h;
  return true;
}

bool ParseRect(const char* text, unsigned (&values)[4]) {
  return std::sscanf(text, "%u,%u,%u,%u", &values[0], &values[1], &values[2], &values[3]) == 4 && values[2] > 0 &&
         values[3] > 0;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : "";
    unsigned rect[4] = {};
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
    } else if (a == "--swap") {
      const std::string f = next;
      options.swap = f == "copy" ? D3DSWAPEFFECT_COPY : f == "flip" ? D3DSWAPEFFECT_FLIP : D3DSWAPEFFECT_DISCARD;
      ++i;
    } else if (a == "--back-buffers") {
      options.backBuffers = static_cast<UINT>(std::strtoul(next, nullptr, 10));
      if (options.backBuffers < 1 || options.backBuffers > 3) return false;
      ++i;
    } else if (a == "--draw-once") {
      options.drawOnce = true;
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
    } else if (a == "--offscreen-size" && ParseSize(next, options.offscreenWidth, options.offscreenHeight)) {
      ++i;
    } else if (a == "--viewport" && ParseRect(next, rect)) {
      options.viewportGiven = true;
      options.viewport = D3DVIEWPORT8{rect[0], rect[1], rect[2], rect[3], 0.0f, 1.0f};
      ++i;
    } else if (a == "--bind-released") {
      options.bindReleased = true;
    } else if (a == "--source" && ParseRect(next, rect)) {
      options.sourceGiven = true;
      options.source = RECT{static_cast<LONG>(rect[0]), static_cast<LONG>(rect[1]), static_cast<LONG>(rect[0] + rect[2]),
                            static_cast<LONG>(rect[1] + rect[3])};
      ++i;
    } else if (a == "--chains") {
      options.chains = static_cast<UINT>(std::strtoul(next, nullptr, 10));
      if (options.chains > 2) return false;
      ++i;
    } else if (a == "--probe") {
      options.probe = true;
    } else if (a == "--never-present") {
      options.neverPresent = true;
    } else if (a == "--fullscreen") {
      options.fullscreen = true;
    } else if (a == "--reset-after") {
      options.resetAfter = static_cast<UINT>(std::strtoul(next, nullptr, 10));
      ++i;
    } else if (a == "--reset-size" && ParseSize(next, options.resetWidth, options.resetHeight)) {
      ++i;
    } else if (a == "--side-thread") {
      const std::string m = next;
      options.side = m == "shaders" ? Options::Side::Shaders
                     : m == "states" ? Options::Side::States
                     : m == "process" ? Options::Side::Process
                                      : Options::Side::None;
      if (options.side == Options::Side::None) return false;
      options.multithreaded = true;
      options.oddState = options.setOnce = options.side != Options::Side::Shaders;
      ++i;
    } else if (a == "--failing-reset") {
      options.failingReset = true;
    } else if (a == "--defaults") {
      options.defaults = true;
    } else if (a == "--load-churn") {
      options.loadChurn = true;
    } else if (a == "--release-on-request") {
      options.releaseOnRequest = true;
    } else if (a == "--restore-table") {
      options.restoreTable = true;
    } else if (a == "--first-rect-only") {
      options.firstRectOnly = true;
    } else if (a == "--texture-copies-refused") {
      options.textureCopiesRefused = true;
    } else if (a == "--documented-flip") {
      options.documentedFlip = true;
    } else if (a == "--second-table") {
      options.secondTable = true;
    } else if (a == "--other-tool") {
      const std::string t = next;
      options.tool = t == "first" ? Options::Tool::First : t == "late" ? Options::Tool::Late : Options::Tool::None;
      if (options.tool == Options::Tool::None) return false;
      ++i;
    } else if (a == "--refuse-textures") {
      options.refuseTexturesMs = static_cast<DWORD>(std::strtoul(next, nullptr, 10));
      ++i;
    } else if (a == "--cbt-hook") {
      options.cbtHook = true;
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

void PutLine(std::string& out, const std::string& name, unsigned long value) {
  out += name;
  out += ' ';
  out += std::to_string(value);
  out += '\n';
}

DWORD BitsOf(float value) {
  DWORD bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

ULONG CountOf(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

template <class Interface>
void ReleaseAndClear(Interface*& object) {
  if (object) object->Release();
  object = nullptr;
}

// Another Direct3D 8 put on the system's: slots of the method tables that all the system's objects of an interface
// share, redirected before the imported Direct3DCreate8 runs (so before an overlay in the game's folder patches
// them too, and finds these functions there as the system's).
using Method = void (*)();
using CopyRectsFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice8*, IDirect3DSurface8*, const RECT*, UINT,
                                                IDirect3DSurface8*, const POINT*);
using DevicePresentFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice8*, const RECT*, const RECT*, HWND,
                                                    const RGNDATA*);
using ChainPresentFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DSwapChain8*, const RECT*, const RECT*, HWND,
                                                   const RGNDATA*);
using CreateDeviceFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3D8*, UINT, D3DDEVTYPE, HWND, DWORD,
                                                   D3DPRESENT_PARAMETERS*, IDirect3DDevice8**);
using CreateChainFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice8*, D3DPRESENT_PARAMETERS*, IDirect3DSwapChain8**);
using EndSceneFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice8*);
using CreateTextureFn = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice8*, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL,
                                                    IDirect3DTexture8**);

struct SystemTables {
  Method* device = nullptr;             // the table all the system's devices share
  std::vector<Method> deviceAsMade;     // its slots before anything was patched (--restore-table)
  std::vector<Method> privateDevice;    // the table of every second device (--second-table)
  std::vector<Method> privateChain;     // and of its additional swap chains
  Method copyRects = nullptr;           // the system's own methods
  Method devicePresent = nullptr;
  Method chainPresent = nullptr;
  Method createDevice = nullptr;
  Method createChain = nullptr;
  Method createTexture = nullptr;
  bool flip = false;                    // the game's swap chains flip (--documented-flip rotates them)
  bool firstRectOnly = false;           // how the patched CopyRects copies
  bool textureCopiesRefused = false;
  LONG devicesMade = 0;
};
SystemTables g_system;
// The report, for the functions the game puts into tables.
testgame::Report* g_report = nullptr;

// --refuse-textures: until when, and whether the game itself is making its resources.
ULONGLONG g_refuseUntil = 0;
bool g_gameCreating = false;

// --other-tool: what the tool's Present and EndScene replaced and call on to.
struct OtherTool {
  Method present = nullptr;
  Method endScene = nullptr;
};
OtherTool g_tool;

Method* TableOf(void* object) {
  Method* table = nullptr;
  std::memcpy(&table, object, sizeof table);
  return table;
}

void SetTableOf(void* object, Method* table) { std::memcpy(object, &table, sizeof table); }

// Writes into a table that the system keeps read-only.
bool WriteSlots(Method* slots, const Method* values, std::size_t count) {
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

bool IsPlainTextureLevel(IDirect3DSurface8* surface) {
  D3DSURFACE_DESC description{};
  IDirect3DTexture8* texture = nullptr;
  if (FAILED(surface->GetDesc(&description)) || description.Pool != D3DPOOL_DEFAULT) return false;
  if (FAILED(surface->GetContainer(IID_IDirect3DTexture8, reinterpret_cast<void**>(&texture))) || !texture) {
    return false;
  }
  texture->Release();
  return (description.Usage & D3DUSAGE_RENDERTARGET) == 0;
}

bool InDefaultPool(IDirect3DSurface8* surface) {
  D3DSURFACE_DESC description{};
  return SUCCEEDED(surface->GetDesc(&description)) && description.Pool == D3DPOOL_DEFAULT;
}

// --first-rect-only: only the first rectangle of a call is copied, and the call succeeds all the same.
// --texture-copies-refused: no copy between the device's surfaces where either is a plain texture's level.
HRESULT STDMETHODCALLTYPE CopyAsAnotherSystem(IDirect3DDevice8* device, IDirect3DSurface8* source, const RECT* rects,
                                              UINT count, IDirect3DSurface8* destination, const POINT* points) {
  if (g_system.textureCopiesRefused && source && destination && InDefaultPool(source) &&
      InDefaultPool(destination) && (IsPlainTextureLevel(source) || IsPlainTextureLevel(destination))) {
    return D3DERR_INVALIDCALL;
  }
  if (!g_system.firstRectOnly) {
    return reinterpret_cast<CopyRectsFn>(g_system.copyRects)(device, source, rects, count, destination, points);
  }
  const HRESULT result =
      reinterpret_cast<CopyRectsFn>(g_system.copyRects)(device, source, rects, std::min(count, 1u), destination, points);
  return count > 1 && SUCCEEDED(result) ? D3D_OK : result;
}

HRESULT STDMETHODCALLTYPE RefusingCreateTexture(IDirect3DDevice8* device, UINT width, UINT height, UINT levels,
                                                DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DTexture8** texture) {
  if (!g_gameCreating && g_refuseUntil != 0 && GetTickCount64() < g_refuseUntil) {
    g_report->refusedTextures.fetch_add(1);
    return D3DERR_OUTOFVIDEOMEMORY;
  }
  return reinterpret_cast<CreateTextureFn>(g_system.createTexture)(device, width, height, levels, usage, format, pool,
                                                                  texture);
}

HRESULT STDMETHODCALLTYPE ToolPresent(IDirect3DDevice8* device, const RECT* source, const RECT* destination,
                                      HWND window, const RGNDATA* dirty) {
  g_report->toolPresents.fetch_add(1);
  return reinterpret_cast<DevicePresentFn>(g_tool.present)(device, source, destination, window, dirty);
}

HRESULT STDMETHODCALLTYPE ToolEndScene(IDirect3DDevice8* device) {
  g_report->toolEndScenes.fetch_add(1);
  return reinterpret_cast<EndSceneFn>(g_tool.endScene)(device);
}

// The tool's Present and EndScene into `table`, calling on to what was there.
bool PatchAsTheTool(Method* table) {
  const testgame::SystemSlots& slots = testgame::kSystemSlots;
  g_tool.present = table[slots.devicePresent];
  g_tool.endScene = table[slots.deviceEndScene];
  return WriteSlot(table, slots.devicePresent, &ToolPresent) && WriteSlot(table, slots.deviceEndScene, &ToolEndScene);
}

// --documented-flip: what each swap chain (the device's own under the device's key) presented last, its "front
// buffer", black at first; and the copy of the frame being presented.
struct FrontBuffer {
  IDirect3DSurface8* front = nullptr;
  IDirect3DSurface8* next = nullptr;
};
std::map<void*, FrontBuffer> g_fronts;

void DropFrontBuffers() {
  for (auto& [key, buffers] : g_fronts) {
    ReleaseAndClear(buffers.front);
    ReleaseAndClear(buffers.next);
  }
  g_fronts.clear();
}

bool SameSize(IDirect3DSurface8* surface, const D3DSURFACE_DESC& desc) {
  D3DSURFACE_DESC own{};
  return surface && SUCCEEDED(surface->GetDesc(&own)) && own.Width == desc.Width && own.Height == desc.Height &&
         own.Format == desc.Format;
}

IDirect3DSurface8* BlackSurface(IDirect3DDevice8* device, const D3DSURFACE_DESC& desc) {
  IDirect3DSurface8* surface = nullptr;
  D3DLOCKED_RECT locked{};
  if (FAILED(device->CreateImageSurface(desc.Width, desc.Height, desc.Format, &surface))) return nullptr;
  if (SUCCEEDED(surface->LockRect(&locked, nullptr, 0))) {
    const UINT bytes = desc.Format == D3DFMT_R5G6B5 || desc.Format == D3DFMT_X1R5G5B5 ? 2 : 4;
    for (UINT y = 0; y < desc.Height; ++y) {
      std::memset(static_cast<unsigned char*>(locked.pBits) + static_cast<std::ptrdiff_t>(y) * locked.Pitch, 0,
                  static_cast<std::size_t>(desc.Width) * bytes);
    }
    surface->UnlockRect();
  }
  return surface;
}

// The system's present, then the former front buffer put into the last back buffer, where the system leaves the
// frame it presented: after it, back buffer i holds what back buffer i + 1 held and the last one the former front.
template <class GetBackBuffer, class Present>
HRESULT PresentAsDocumented(void* key, GetBackBuffer backBuffer, Present present) {
  if (!g_system.flip) return present();
  std::vector<IDirect3DSurface8*> buffers;
  IDirect3DSurface8* buffer = nullptr;
  while (buffers.size() < 4 && SUCCEEDED(backBuffer(static_cast<UINT>(buffers.size()), &buffer)) && buffer) {
    buffers.push_back(buffer);
    buffer = nullptr;
  }
  IDirect3DDevice8* device = nullptr;
  D3DSURFACE_DESC desc{};
  if (buffers.empty() || FAILED(buffers[0]->GetDesc(&desc)) || FAILED(buffers[0]->GetDevice(&device))) {
    for (IDirect3DSurface8* b : buffers) b->Release();
    return present();
  }
  const auto copy = [device](IDirect3DSurface8* from, IDirect3DSurface8* to) {
    return reinterpret_cast<CopyRectsFn>(g_system.copyRects)(device, from, nullptr, 0, to, nullptr);
  };
  FrontBuffer& f = g_fronts[key];
  if (!SameSize(f.front, desc) || !SameSize(f.next, desc)) {
    ReleaseAndClear(f.front);
    ReleaseAndClear(f.next);
    f.front = BlackSurface(device, desc);
    f.next = BlackSurface(device, desc);
  }
  const bool copied = f.front && f.next && SUCCEEDED(copy(buffers[0], f.next));
  const HRESULT result = present();
  if (copied && SUCCEEDED(result) && SUCCEEDED(copy(f.front, buffers.back()))) std::swap(f.front, f.next);
  for (IDirect3DSurface8* b : buffers) b->Release();
  device->Release();
  return result;
}

HRESULT STDMETHODCALLTYPE DevicePresentAsDocumented(IDirect3DDevice8* device, const RECT* source,
                                                    const RECT* destination, HWND window, const RGNDATA* dirty) {
  return PresentAsDocumented(
      device, [device](UINT i, IDirect3DSurface8** b) { return device->GetBackBuffer(i, D3DBACKBUFFER_TYPE_MONO, b); },
      [&] {
        return reinterpret_cast<DevicePresentFn>(g_system.devicePresent)(device, source, destination, window, dirty);
      });
}

HRESULT STDMETHODCALLTYPE ChainPresentAsDocumented(IDirect3DSwapChain8* chain, const RECT* source,
                                                   const RECT* destination, HWND window, const RGNDATA* dirty) {
  return PresentAsDocumented(
      chain, [chain](UINT i, IDirect3DSurface8** b) { return chain->GetBackBuffer(i, D3DBACKBUFFER_TYPE_MONO, b); },
      [&] {
        return reinterpret_cast<ChainPresentFn>(g_system.chainPresent)(chain, source, destination, window, dirty);
      });
}

// --second-table: the swap chains of a device with a table of its own get one too, and so does every second device.
HRESULT STDMETHODCALLTYPE CreateChainWithATableOfItsOwn(IDirect3DDevice8* device, D3DPRESENT_PARAMETERS* parameters,
                                                        IDirect3DSwapChain8** chain) {
  const HRESULT result = reinterpret_cast<CreateChainFn>(g_system.createChain)(device, parameters, chain);
  if (SUCCEEDED(result) && chain && *chain) SetTableOf(*chain, g_system.privateChain.data());
  return result;
}

HRESULT STDMETHODCALLTYPE CreateEverySecondDeviceWithATableOfItsOwn(IDirect3D8* direct3d, UINT adapter,
                                                                    D3DDEVTYPE type, HWND window, DWORD flags,
                                                                    D3DPRESENT_PARAMETERS* parameters,
                                                                    IDirect3DDevice8** device) {
  const HRESULT result = reinterpret_cast<CreateDeviceFn>(g_system.createDevice)(direct3d, adapter, type, window,
                                                                                 flags, parameters, device);
  if (SUCCEEDED(result) && device && *device && InterlockedIncrement(&g_system.devicesMade) % 2 == 0) {
    SetTableOf(*device, g_system.privateDevice.data());
  }
  return result;
}

// A throwaway device of the Direct3D 8 that `library` holds, on a hidden window of its own, and with `withChain` an
// additional swap chain of it: what a component makes to reach the tables the objects of their classes share.
// Released with the object; the library stays loaded.
struct CThrowawayDevice {
  CThrowawayDevice(HMODULE library, HINSTANCE instance, bool withChain) {
    using CreateFn = IDirect3D8*(WINAPI*)(UINT);
    const auto create =
        library ? reinterpret_cast<CreateFn>(reinterpret_cast<void (*)()>(GetProcAddress(library, "Direct3DCreate8")))
                : nullptr;
    direct3d = create ? create(D3D_SDK_VERSION) : nullptr;
    window = CreateWindowA("VaVazuTestGame", "throwaway", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr, nullptr,
                           instance, nullptr);
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 64;
    parameters.BackBufferHeight = 64;
    parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
    parameters.BackBufferCount = 1;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.hDeviceWindow = window;
    parameters.Windowed = TRUE;
    if (direct3d && window &&
        SUCCEEDED(direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                         D3DCREATE_HARDWARE_VERTEXPROCESSING, &parameters, &device)) &&
        withChain && FAILED(device->CreateAdditionalSwapChain(&parameters, &chain))) {
      chain = nullptr;
    }
    chainWanted = withChain;
  }
  ~CThrowawayDevice() {
    ReleaseAndClear(chain);
    ReleaseAndClear(device);
    ReleaseAndClear(direct3d);
    if (window) DestroyWindow(window);
  }
  CThrowawayDevice(const CThrowawayDevice&) = delete;
  CThrowawayDevice& operator=(const CThrowawayDevice&) = delete;

  bool made() const { return device && (!chainWanted || chain); }

  IDirect3D8* direct3d = nullptr;
  IDirect3DDevice8* device = nullptr;
  IDirect3DSwapChain8* chain = nullptr;
  HWND window = nullptr;
  bool chainWanted = false;
};

// Loads the system's own d3d8.dll (not the d3d8.dll the game imports, which may be an overlay's), makes a throwaway
// device with an additional swap chain on a hidden window to reach the tables, and patches them as asked.
bool PatchTheSystem(const Options& options, HINSTANCE instance) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  const CThrowawayDevice throwaway(LoadLibraryW((std::wstring(folder, length) + L"\\d3d8.dll").c_str()), instance,
                                   true);
  bool patched = throwaway.made();
  if (patched) {
    const testgame::SystemSlots& slots = testgame::kSystemSlots;
    Method* deviceTable = TableOf(throwaway.device);
    Method* chainTable = TableOf(throwaway.chain);
    Method* direct3dTable = TableOf(throwaway.direct3d);
    g_system.device = deviceTable;
    g_system.deviceAsMade.assign(deviceTable, deviceTable + slots.deviceSlots);
    g_system.copyRects = deviceTable[slots.deviceCopyRects];
    g_system.devicePresent = deviceTable[slots.devicePresent];
    g_system.chainPresent = chainTable[slots.swapChainPresent];
    g_system.createDevice = direct3dTable[slots.createDevice];
    g_system.createChain = deviceTable[slots.deviceCreateSwapChain];
    g_system.flip = options.swap == D3DSWAPEFFECT_FLIP;
    g_system.firstRectOnly = options.firstRectOnly;
    g_system.textureCopiesRefused = options.textureCopiesRefused;
    if (options.firstRectOnly || options.textureCopiesRefused) {
      patched = WriteSlot(deviceTable, slots.deviceCopyRects, &CopyAsAnotherSystem);
    }
    if (options.documentedFlip) {
      patched = patched && WriteSlot(deviceTable, slots.devicePresent, &DevicePresentAsDocumented) &&
                WriteSlot(chainTable, slots.swapChainPresent, &ChainPresentAsDocumented);
    }
    if (options.refuseTexturesMs != 0) {
      g_system.createTexture = deviceTable[slots.deviceCreateTexture];
      patched = patched && WriteSlot(deviceTable, slots.deviceCreateTexture, &RefusingCreateTexture);
    }
    if (options.tool == Options::Tool::First) patched = patched && PatchAsTheTool(deviceTable);
    if (options.secondTable) {
      g_system.privateDevice.assign(static_cast<std::size_t>(slots.deviceSlots), nullptr);
      g_system.privateChain.assign(static_cast<std::size_t>(slots.swapChainSlots), nullptr);
      testgame::MakeCountedTables(deviceTable, g_system.privateDevice.data(), chainTable, g_system.privateChain.data());
      g_system.privateDevice[slots.deviceCreateSwapChain] = reinterpret_cast<Method>(&CreateChainWithATableOfItsOwn);
      patched = patched && WriteSlot(direct3dTable, slots.createDevice, &CreateEverySecondDeviceWithATableOfItsOwn);
    }
  }
  // The system's library stays loaded: its tables and these functions are in use for the process's life.
  return patched;
}

// --other-tool late: the tool finds the device table through a throwaway device of "d3d8.dll", whichever library
// that name loads, patches it and lets the device go.
bool PatchAsALateTool(HINSTANCE instance) {
  const CThrowawayDevice throwaway(LoadLibraryA("d3d8.dll"), instance, false);
  return throwaway.made() && PatchAsTheTool(TableOf(throwaway.device));
}

LRESULT CALLBACK CountWindowsMade(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) g_report->hookedWindows.fetch_add(1);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

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
  IDirect3DVertexBuffer8* MakeTriangle();
  void SideRound();
  void ResetFailingFirst();
  std::string DefaultValues(const char* prefix);
  void LetBoundObjectsGo();
  void EndAfterTheTableWasRestored();
  void Publish(const std::string& lines);
  void Churn();

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
  IDirect3D8* direct3d_ = nullptr;
  IDirect3DDevice8* device_ = nullptr;
  D3DPRESENT_PARAMETERS parameters_{};
  std::vector<IDirect3DSwapChain8*> chains_;
  IDirect3DTexture8* textures_[2] = {};
  IDirect3DVertexBuffer8* vertices_ = nullptr;
  IDirect3DIndexBuffer8* indices_ = nullptr;
  IDirect3DTexture8* offscreen_ = nullptr;
  IDirect3DSurface8* offscreenSurface_ = nullptr;
  IDirect3DSurface8* offscreenDepth_ = nullptr;
  // Bound, and released by the game: only the device's bindings keep them (--bind-released).
  IDirect3DBaseTexture8* releasedTexture_ = nullptr;
  IDirect3DVertexBuffer8* releasedVertices_ = nullptr;
  // A triangle of the game's own (--failing-reset, --release-on-request), the texture bound with it, the objects
  // each holds as private data, and a D3DPOOL_DEFAULT texture held through a reset.
  IDirect3DVertexBuffer8* triangle_ = nullptr;
  IDirect3DTexture8* boundTexture_ = nullptr;
  CCounted* boundData_[2] = {};
  IDirect3DTexture8* heldTexture_ = nullptr;
  UINT releasedAt_ = 0;
  IDirect3DVertexBuffer8* processed_ = nullptr;  // where ProcessVertices writes (--side-thread process)
  std::string defaults_;
  const void* autoDepth_ = nullptr;  // the device's own depth buffer, compared by address only
  UINT sideRound_ = 0;
  DWORD pixelShader_ = 0;
  DWORD recordedBlock_ = 0;
  DWORD createdBlock_ = 0;
  D3DVIEWPORT8 viewport_{};
  UINT frame_ = 0;
  std::uint32_t resetsAsked_ = 0;
  volatile bool quit_ = false;
};

HWND CGame::MakeWindow(const char* title, int x, int y, UINT width, UINT height) {
  const DWORD style = options_.fullscreen ? WS_POPUP : WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT outer{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
  AdjustWindowRect(&outer, style, FALSE);
  HWND window = CreateWindowA("VaVazuTestGame", title, style | WS_VISIBLE, x, y, outer.right - outer.left,
                              outer.bottom - outer.top, nullptr, nullptr, instance_, this);
  if (window) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return window;
}

bool CGame::Start(HINSTANCE instance) {
  instance_ = instance;
  const std::string name = testgame::ReportName(GetCurrentProcessId());
  section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(testgame::Report),
                                name.c_str());
  if (!section_) return false;
  report_ = static_cast<testgame::Report*>(MapViewOfFile(section_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (!report_) return false;
  g_report = report_;

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
  if ((options_.restoreTable || options_.firstRectOnly || options_.textureCopiesRefused || options_.documentedFlip ||
       options_.secondTable || options_.refuseTexturesMs != 0 || options_.tool == Options::Tool::First) &&
      !PatchTheSystem(options_, instance)) {
    Fail("patching the system's tables", E_FAIL);
    return false;
  }
  if (options_.tool == Options::Tool::Late && !PatchAsALateTool(instance)) {
    Fail("patching as a tool through d3d8.dll", E_FAIL);
    return false;
  }
  if (options_.cbtHook && !SetWindowsHookExA(WH_CBT, CountWindowsMade, nullptr, GetCurrentThreadId())) {
    Fail("SetWindowsHookEx", E_FAIL);
    return false;
  }
  direct3d_ = Direct3DCreate8(D3D_SDK_VERSION);
  if (!direct3d_) {
    Fail("Direct3DCreate8", E_FAIL);
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

void CGame::Churn() {
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

LRESULT CALLBACK CGame::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* game = reinterpret_cast<CGame*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_DESTROY && game && window == game->window_) {
    game->quit_ = true;
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
  parameters_.BackBufferCount = options_.backBuffers;
  parameters_.SwapEffect = options_.swap;
  parameters_.hDeviceWindow = window_;
  parameters_.Windowed = options_.fullscreen ? FALSE : TRUE;
  parameters_.EnableAutoDepthStencil = TRUE;
  parameters_.AutoDepthStencilFormat = D3DFMT_D24S8;
  // Lockable, so that the game can read back what it drew.
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
  if (options_.refuseTexturesMs != 0 && g_refuseUntil == 0) g_refuseUntil = GetTickCount64() + options_.refuseTexturesMs;
  D3DCAPS8 caps{};
  if (SUCCEEDED(device_->GetDeviceCaps(&caps))) {
    report_->maxTextureWidth = caps.MaxTextureWidth;
    report_->maxTextureHeight = caps.MaxTextureHeight;
  }
  IDirect3DSurface8* depth = nullptr;
  device_->GetDepthStencilSurface(&depth);
  autoDepth_ = depth;
  ReleaseAndClear(depth);
  report_->devices.fetch_add(1);
  return true;
}

bool CGame::CreateResources() {
  // The game's own textures are never refused (--refuse-textures).
  struct GameCreating {
    GameCreating() { g_gameCreating = true; }
    ~GameCreating() { g_gameCreating = false; }
  } creating;
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
    const UINT width = options_.offscreenWidth ? options_.offscreenWidth : parameters_.BackBufferWidth;
    const UINT height = options_.offscreenHeight ? options_.offscreenHeight : parameters_.BackBufferHeight;
    if (FAILED(device_->CreateTexture(width, height, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                                      &offscreen_)) ||
        FAILED(offscreen_->GetSurfaceLevel(0, &offscreenSurface_)) ||
        FAILED(device_->CreateDepthStencilSurface(width, height, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, &offscreenDepth_))) {
      Fail("off-screen render target", E_FAIL);
      return false;
    }
  }
  for (HWND chainWindow : chainWindows_) {
    D3DPRESENT_PARAMETERS parameters = parameters_;
    parameters.hDeviceWindow = chainWindow;
    parameters.EnableAutoDepthStencil = FALSE;
    IDirect3DSwapChain8* chain = nullptr;
    if (FAILED(device_->CreateAdditionalSwapChain(&parameters, &chain))) {
      Fail("CreateAdditionalSwapChain", E_FAIL);
      return false;
    }
    chains_.push_back(chain);
  }
  if (options_.bindReleased && !releasedTexture_) {
    // A texture and a triangle bound for good, with no reference of the game's left.
    IDirect3DTexture8* texture = nullptr;
    IDirect3DVertexBuffer8* vertices = MakeTriangle();
    if (!vertices || FAILED(device_->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture))) {
      ReleaseAndClear(vertices);
      Fail("bound resources", E_FAIL);
      return false;
    }
    device_->SetTexture(0, texture);
    device_->SetStreamSource(0, vertices, sizeof(ScreenVertex));
    releasedTexture_ = texture;
    releasedVertices_ = vertices;
    texture->Release();
    vertices->Release();
  }
  if (options_.failingReset || options_.releaseOnRequest) {
    triangle_ = MakeTriangle();
    if (!triangle_ ||
        (options_.failingReset &&
         FAILED(device_->CreateTexture(16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &heldTexture_))) ||
        (options_.releaseOnRequest &&
         FAILED(device_->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &boundTexture_)))) {
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
    device_->SetStreamSource(0, triangle_, sizeof(ScreenVertex));
    device_->SetVertexShader(kScreenVertexFormat);
  }
  if (options_.side == Options::Side::Process &&
      FAILED(device_->CreateVertexBuffer(16 * 32, 0, D3DFVF_XYZRHW | D3DFVF_TEX2, D3DPOOL_SYSTEMMEM, &processed_))) {
    Fail("ProcessVertices' buffer", E_FAIL);
    return false;
  }
  viewport_ = options_.viewportGiven
                  ? options_.viewport
                  : D3DVIEWPORT8{parameters_.BackBufferWidth / 8, parameters_.BackBufferHeight / 6,
                                 parameters_.BackBufferWidth / 2, parameters_.BackBufferHeight / 2, 0.25f, 0.75f};
  if (options_.stateBlocks) {
    // One block recorded, one created from the device's states: the game applies them in turn.
    device_->BeginStateBlock();
    SetOddStates(true);
    device_->EndStateBlock(&recordedBlock_);
    SetOddStates(true);
    device_->CreateStateBlock(D3DSBT_ALL, &createdBlock_);
  }
  if (options_.setOnce) SetOddStates(true);
  return true;
}

// A green triangle in screen coordinates, in a managed vertex buffer.
IDirect3DVertexBuffer8* CGame::MakeTriangle() {
  IDirect3DVertexBuffer8* vertices = nullptr;
  void* data = nullptr;
  if (FAILED(device_->CreateVertexBuffer(3 * sizeof(ScreenVertex), 0, kScreenVertexFormat, D3DPOOL_MANAGED,
                                         &vertices)) ||
      FAILED(vertices->Lock(0, 0, reinterpret_cast<BYTE**>(&data), 0))) {
    ReleaseAndClear(vertices);
    return nullptr;
  }
  const ScreenVertex triangle[3] = {{250, 200, 0.5f, 1, 0xFF00FF00}, {300, 200, 0.5f, 1, 0xFF00FF00},
                                    {250, 230, 0.5f, 1, 0xFF00FF00}};
  std::memcpy(data, triangle, sizeof triangle);
  vertices->Unlock();
  return vertices;
}

void CGame::ReleaseDefaultResources() {
  ReleaseAndClear(offscreenSurface_);
  ReleaseAndClear(offscreen_);
  ReleaseAndClear(offscreenDepth_);
  ReleaseAndClear(heldTexture_);
  for (IDirect3DSwapChain8*& chain : chains_) ReleaseAndClear(chain);
  chains_.clear();
}

void CGame::ReleaseDevice() {
  ReleaseDefaultResources();
  if (!device_) return;
  // Nothing of the game's may stay bound to a device it lets go.
  device_->SetTexture(0, nullptr);
  device_->SetTexture(1, nullptr);
  device_->SetStreamSource(0, nullptr, 0);
  device_->SetIndices(nullptr, 0);
  releasedTexture_ = nullptr;
  releasedVertices_ = nullptr;
  if (recordedBlock_) device_->DeleteStateBlock(recordedBlock_);
  if (createdBlock_) device_->DeleteStateBlock(createdBlock_);
  recordedBlock_ = createdBlock_ = 0;
  if (pixelShader_) device_->DeletePixelShader(pixelShader_);
  pixelShader_ = 0;
  for (IDirect3DTexture8*& texture : textures_) ReleaseAndClear(texture);
  ReleaseAndClear(vertices_);
  ReleaseAndClear(indices_);
  ReleaseAndClear(triangle_);
  ReleaseAndClear(boundTexture_);
  ReleaseAndClear(processed_);
  DropFrontBuffers();
  ReleaseAndClear(device_);
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

// The texture and the vertex buffer the game released are still bound, and still the same objects.
void CGame::CheckReleasedBindings() {
  IDirect3DBaseTexture8* texture = nullptr;
  IDirect3DVertexBuffer8* stream = nullptr;
  UINT stride = 0;
  device_->GetTexture(0, &texture);
  device_->GetStreamSource(0, &stream, &stride);
  if (texture != releasedTexture_) Mismatch("released texture 0", 1, 0);
  if (stream != releasedVertices_ || stride != sizeof(ScreenVertex)) Mismatch("released stream 0", 1, 0);
  ReleaseAndClear(texture);
  ReleaseAndClear(stream);
  report_->stateChecks.fetch_add(1);
}

// Each back buffer holds one of the colours the game drew, all of it, and no colour is in two of them: a flip may
// have moved them from one buffer to another, but nothing else changed them. Every pixel unlike its buffer's colour
// counts, black ones included.
void CGame::CheckBackBuffers() {
  const UINT colours = options_.backBuffers + 1;
  bool found[4] = {};
  char what[sizeof report_->firstMismatch];
  const auto mismatch = [this, &what] {
    if (report_->bufferMismatches.fetch_add(1) == 0) std::snprintf(report_->firstMismatch, sizeof what, "%s", what);
  };
  for (UINT index = 0; index < options_.backBuffers; ++index) {
    IDirect3DSurface8* backBuffer = nullptr;
    D3DLOCKED_RECT locked{};
    if (FAILED(device_->GetBackBuffer(index, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) ||
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
void CGame::Capture() {
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
void CGame::Probe() {
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
  IDirect3DDevice8* device = nullptr;
  if (!window || !chainWindow ||
      FAILED(direct3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING,
                                     &parameters, &device))) {
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

  IDirect3DTexture8* texture = nullptr;
  IDirect3DCubeTexture8* cube = nullptr;
  IDirect3DVolumeTexture8* volumeTexture = nullptr;
  IDirect3DVertexBuffer8* vertices = nullptr;
  IDirect3DIndexBuffer8* indices = nullptr;
  IDirect3DSurface8* target = nullptr;
  IDirect3DSurface8* depth = nullptr;
  IDirect3DSurface8* image = nullptr;
  IDirect3DSwapChain8* chain = nullptr;
  D3DPRESENT_PARAMETERS chainParameters = parameters;
  chainParameters.hDeviceWindow = chainWindow;
  chainParameters.EnableAutoDepthStencil = FALSE;
  put("create.texture", device->CreateTexture(16, 16, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture));
  put("create.cube", device->CreateCubeTexture(16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube));
  put("create.volume", device->CreateVolumeTexture(8, 8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &volumeTexture));
  put("create.vertices", device->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &vertices));
  put("create.indices", device->CreateIndexBuffer(64, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &indices));
  put("create.target", device->CreateRenderTarget(16, 16, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, FALSE, &target));
  put("create.depth", device->CreateDepthStencilSurface(16, 16, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, &depth));
  put("create.image", device->CreateImageSurface(16, 16, D3DFMT_A8R8G8B8, &image));
  put("create.chain", device->CreateAdditionalSwapChain(&chainParameters, &chain));
  if (!texture || !cube || !volumeTexture || !vertices || !indices || !target || !depth || !image || !chain) {
    report_->probe[0] = '\0';
    std::snprintf(report_->probe, sizeof report_->probe, "%s", out.c_str());
    Fail("probe objects", E_FAIL);
    return;
  }
  IDirect3DSurface8* level = nullptr;
  IDirect3DSurface8* face = nullptr;
  IDirect3DVolume8* volume = nullptr;
  IDirect3DSurface8* backBuffer = nullptr;
  IDirect3DSurface8* chainBuffer = nullptr;
  texture->GetSurfaceLevel(0, &level);
  cube->GetCubeMapSurface(D3DCUBEMAP_FACE_POSITIVE_X, 0, &face);
  volumeTexture->GetVolumeLevel(0, &volume);
  device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
  chain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &chainBuffer);
  put("device.with.resources", CountOf(device));
  put("texture", CountOf(texture));
  put("level", CountOf(level));
  put("back.buffer", CountOf(backBuffer));

  // Every object names the device that made it, and a reference taken through it is one of the device's.
  struct Named {
    const char* name;
    HRESULT result;
    IDirect3DDevice8* device;
  };
  const auto deviceOf = [](auto* object) {
    IDirect3DDevice8* named = nullptr;
    const HRESULT result = object ? object->GetDevice(&named) : E_POINTER;
    return std::make_pair(result, named);
  };
  const std::pair<const char*, std::pair<HRESULT, IDirect3DDevice8*>> named[] = {
      {"texture", deviceOf(texture)}, {"level", deviceOf(level)},      {"cube", deviceOf(cube)},
      {"face", deviceOf(face)},       {"volume.texture", deviceOf(volumeTexture)},
      {"volume", deviceOf(volume)},   {"vertices", deviceOf(vertices)}, {"indices", deviceOf(indices)},
      {"target", deviceOf(target)},   {"depth", deviceOf(depth)},      {"image", deviceOf(image)},
      {"back.buffer", deviceOf(backBuffer)}, {"chain.buffer", deviceOf(chainBuffer)}};
  for (const auto& [name, found] : named) {
    put((std::string("getdevice.same.") + name).c_str(), SUCCEEDED(found.first) && found.second == device);
    put((std::string("getdevice.count.") + name).c_str(), found.second ? found.second->Release() : 0);
  }

  // A surface or a volume names its container: a texture's level its texture, a back buffer the device.
  const auto containerOf = [](auto* object, REFIID riid, void* expected) {
    void* container = nullptr;
    const HRESULT result = object->GetContainer(riid, &container);
    const bool same = SUCCEEDED(result) && container == expected;
    if (SUCCEEDED(result) && container) static_cast<IUnknown*>(container)->Release();
    return static_cast<unsigned long>(same);
  };
  put("container.level", containerOf(level, IID_IDirect3DTexture8, texture));
  put("container.face", containerOf(face, IID_IDirect3DCubeTexture8, cube));
  put("container.volume", containerOf(volume, IID_IDirect3DVolumeTexture8, volumeTexture));
  put("container.back.buffer", containerOf(backBuffer, IID_IDirect3DDevice8, device));
  put("container.chain.buffer", containerOf(chainBuffer, IID_IDirect3DDevice8, device));

  // An object attached as private data is held by the resource until the resource ends.
  CCounted attached;
  IUnknown* attachedPointer = &attached;
  put("private.set", texture->SetPrivateData(kProbeData, attachedPointer, sizeof attachedPointer, D3DSPD_IUNKNOWN));
  put("private.held", attached.references());
  IDirect3DTexture8* kept = nullptr;
  put("create.kept", device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &kept));
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
  IDirect3DDevice8* reached = nullptr;
  put("reached.result", kept ? kept->GetDevice(&reached) : E_POINTER);
  put("reached.same", reached == device);
  D3DCAPS8 caps{};
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
void CGame::SideRound() {
  bool failed = false;
  if (options_.side == Options::Side::Shaders) {
    // A fixed-function vertex shader (a declaration alone) and a pixel shader, in turn: made, set and deleted.
    static const DWORD kDeclaration[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_END()};
    DWORD handle = 0;
    if (sideRound_ % 2 == 0) {
      failed = FAILED(device_->CreateVertexShader(kDeclaration, nullptr, &handle, 0));
      if (!failed) {
        const HRESULT set = device_->SetVertexShader(handle);
        failed = FAILED(device_->DeleteVertexShader(handle)) || FAILED(set);
      }
    } else {
      failed = FAILED(device_->CreatePixelShader(kPixelShader, &handle));
      if (!failed) {
        const HRESULT set = device_->SetPixelShader(handle);
        failed = FAILED(device_->DeletePixelShader(handle)) || FAILED(set);
      }
    }
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
    failed = FAILED(device_->ProcessVertices(0, 0, 16, processed_, 0));
  }
  ++sideRound_;
  report_->sideRounds.fetch_add(1);
  if (failed) report_->sideFailures.fetch_add(1);
}

// A reset the system refuses while a D3DPOOL_DEFAULT texture is held, then the texture released and a reset that
// succeeds, and a clear. (No clear between them: the refused Reset has unbound Wine's render target, and Wine's own
// Clear then crashes on it, with or without an overlay.)
void CGame::ResetFailingFirst() {
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

#define NAMED(prefix, name) {prefix##name, #name}
const std::pair<D3DRENDERSTATETYPE, const char*> kRenderStates[] = {
    NAMED(D3DRS_, ZENABLE), NAMED(D3DRS_, FILLMODE), NAMED(D3DRS_, SHADEMODE), NAMED(D3DRS_, LINEPATTERN),
    NAMED(D3DRS_, ZWRITEENABLE), NAMED(D3DRS_, ALPHATESTENABLE), NAMED(D3DRS_, LASTPIXEL), NAMED(D3DRS_, SRCBLEND),
    NAMED(D3DRS_, DESTBLEND), NAMED(D3DRS_, CULLMODE), NAMED(D3DRS_, ZFUNC), NAMED(D3DRS_, ALPHAREF),
    NAMED(D3DRS_, ALPHAFUNC), NAMED(D3DRS_, DITHERENABLE), NAMED(D3DRS_, ALPHABLENDENABLE), NAMED(D3DRS_, FOGENABLE),
    NAMED(D3DRS_, SPECULARENABLE), NAMED(D3DRS_, ZVISIBLE), NAMED(D3DRS_, FOGCOLOR), NAMED(D3DRS_, FOGTABLEMODE),
    NAMED(D3DRS_, FOGSTART), NAMED(D3DRS_, FOGEND), NAMED(D3DRS_, FOGDENSITY), NAMED(D3DRS_, EDGEANTIALIAS),
    NAMED(D3DRS_, ZBIAS), NAMED(D3DRS_, RANGEFOGENABLE), NAMED(D3DRS_, STENCILENABLE), NAMED(D3DRS_, STENCILFAIL),
    NAMED(D3DRS_, STENCILZFAIL), NAMED(D3DRS_, STENCILPASS), NAMED(D3DRS_, STENCILFUNC), NAMED(D3DRS_, STENCILREF),
    NAMED(D3DRS_, STENCILMASK), NAMED(D3DRS_, STENCILWRITEMASK), NAMED(D3DRS_, TEXTUREFACTOR), NAMED(D3DRS_, WRAP0),
    NAMED(D3DRS_, WRAP1), NAMED(D3DRS_, WRAP2), NAMED(D3DRS_, WRAP3), NAMED(D3DRS_, WRAP4), NAMED(D3DRS_, WRAP5),
    NAMED(D3DRS_, WRAP6), NAMED(D3DRS_, WRAP7), NAMED(D3DRS_, CLIPPING), NAMED(D3DRS_, LIGHTING),
    NAMED(D3DRS_, AMBIENT), NAMED(D3DRS_, FOGVERTEXMODE), NAMED(D3DRS_, COLORVERTEX), NAMED(D3DRS_, LOCALVIEWER),
    NAMED(D3DRS_, NORMALIZENORMALS), NAMED(D3DRS_, DIFFUSEMATERIALSOURCE), NAMED(D3DRS_, SPECULARMATERIALSOURCE),
    NAMED(D3DRS_, AMBIENTMATERIALSOURCE), NAMED(D3DRS_, EMISSIVEMATERIALSOURCE), NAMED(D3DRS_, VERTEXBLEND),
    NAMED(D3DRS_, CLIPPLANEENABLE), NAMED(D3DRS_, SOFTWAREVERTEXPROCESSING), NAMED(D3DRS_, POINTSIZE),
    NAMED(D3DRS_, POINTSIZE_MIN), NAMED(D3DRS_, POINTSPRITEENABLE), NAMED(D3DRS_, POINTSCALEENABLE),
    NAMED(D3DRS_, POINTSCALE_A), NAMED(D3DRS_, POINTSCALE_B), NAMED(D3DRS_, POINTSCALE_C),
    NAMED(D3DRS_, MULTISAMPLEANTIALIAS), NAMED(D3DRS_, MULTISAMPLEMASK), NAMED(D3DRS_, PATCHEDGESTYLE),
    NAMED(D3DRS_, PATCHSEGMENTS), NAMED(D3DRS_, DEBUGMONITORTOKEN), NAMED(D3DRS_, POINTSIZE_MAX),
    NAMED(D3DRS_, INDEXEDVERTEXBLENDENABLE), NAMED(D3DRS_, COLORWRITEENABLE), NAMED(D3DRS_, TWEENFACTOR),
    NAMED(D3DRS_, BLENDOP), NAMED(D3DRS_, POSITIONORDER), NAMED(D3DRS_, NORMALORDER)};
const std::pair<D3DTEXTURESTAGESTATETYPE, const char*> kStageStates[] = {
    NAMED(D3DTSS_, COLOROP), NAMED(D3DTSS_, COLORARG1), NAMED(D3DTSS_, COLORARG2), NAMED(D3DTSS_, ALPHAOP),
    NAMED(D3DTSS_, ALPHAARG1), NAMED(D3DTSS_, ALPHAARG2), NAMED(D3DTSS_, BUMPENVMAT00), NAMED(D3DTSS_, BUMPENVMAT01),
    NAMED(D3DTSS_, BUMPENVMAT10), NAMED(D3DTSS_, BUMPENVMAT11), NAMED(D3DTSS_, TEXCOORDINDEX),
    NAMED(D3DTSS_, ADDRESSU), NAMED(D3DTSS_, ADDRESSV), NAMED(D3DTSS_, BORDERCOLOR), NAMED(D3DTSS_, MAGFILTER),
    NAMED(D3DTSS_, MINFILTER), NAMED(D3DTSS_, MIPFILTER), NAMED(D3DTSS_, MIPMAPLODBIAS), NAMED(D3DTSS_, MAXMIPLEVEL),
    NAMED(D3DTSS_, MAXANISOTROPY), NAMED(D3DTSS_, BUMPENVLSCALE), NAMED(D3DTSS_, BUMPENVLOFFSET),
    NAMED(D3DTSS_, TEXTURETRANSFORMFLAGS), NAMED(D3DTSS_, ADDRESSW), NAMED(D3DTSS_, COLORARG0),
    NAMED(D3DTSS_, ALPHAARG0), NAMED(D3DTSS_, RESULTARG)};
const std::pair<D3DTRANSFORMSTATETYPE, const char*> kTransforms[] = {
    {D3DTS_WORLD, "WORLD"}, NAMED(D3DTS_, VIEW), NAMED(D3DTS_, PROJECTION), NAMED(D3DTS_, TEXTURE0),
    NAMED(D3DTS_, TEXTURE1), NAMED(D3DTS_, TEXTURE2), NAMED(D3DTS_, TEXTURE3), NAMED(D3DTS_, TEXTURE4),
    NAMED(D3DTS_, TEXTURE5), NAMED(D3DTS_, TEXTURE6), NAMED(D3DTS_, TEXTURE7)};
#undef NAMED

// Every value a game can read back with Get*, as "name value" lines: floats as their bits, objects as whether one
// is bound (and the render target and depth buffer as whether they are the device's own).
std::string CGame::DefaultValues(const char* prefix) {
  std::string out;
  const auto put = [&out, prefix](const std::string& name, unsigned long value) { PutLine(out, prefix + name, value); };
  DWORD value = 0;
  for (const auto& [state, name] : kRenderStates) {
    value = 0xBAADF00D;
    device_->GetRenderState(state, &value);
    put(std::string("rs.") + name, value);
  }
  for (DWORD stage = 0; stage < 8; ++stage) {
    for (const auto& [type, name] : kStageStates) {
      value = 0xBAADF00D;
      device_->GetTextureStageState(stage, type, &value);
      put("tss." + std::to_string(stage) + "." + name, value);
    }
    IDirect3DBaseTexture8* texture = nullptr;
    device_->GetTexture(stage, &texture);
    put("texture." + std::to_string(stage), texture != nullptr);
    ReleaseAndClear(texture);
  }
  D3DCAPS8 caps{};
  device_->GetDeviceCaps(&caps);
  for (UINT stream = 0; stream < caps.MaxStreams; ++stream) {
    IDirect3DVertexBuffer8* buffer = nullptr;
    UINT stride = 0xBAADF00D;
    device_->GetStreamSource(stream, &buffer, &stride);
    put("stream." + std::to_string(stream), buffer != nullptr);
    put("stream." + std::to_string(stream) + ".stride", stride);
    ReleaseAndClear(buffer);
  }
  IDirect3DIndexBuffer8* indices = nullptr;
  UINT base = 0xBAADF00D;
  device_->GetIndices(&indices, &base);
  put("indices", indices != nullptr);
  put("indices.base", base);
  ReleaseAndClear(indices);
  value = 0xBAADF00D;
  device_->GetVertexShader(&value);
  put("vertex.shader", value);
  value = 0xBAADF00D;
  device_->GetPixelShader(&value);
  put("pixel.shader", value);
  D3DVIEWPORT8 viewport{};
  device_->GetViewport(&viewport);
  put("viewport.x", viewport.X);
  put("viewport.y", viewport.Y);
  put("viewport.width", viewport.Width);
  put("viewport.height", viewport.Height);
  put("viewport.minz", BitsOf(viewport.MinZ));
  put("viewport.maxz", BitsOf(viewport.MaxZ));
  for (const auto& [type, name] : kTransforms) {
    D3DMATRIX matrix{};
    device_->GetTransform(type, &matrix);
    for (int i = 0; i < 16; ++i) put("transform." + std::string(name) + "." + std::to_string(i), BitsOf(matrix.m[i / 4][i % 4]));
  }
  D3DMATERIAL8 material{};
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
  IDirect3DSurface8* target = nullptr;
  IDirect3DSurface8* backBuffer = nullptr;
  IDirect3DSurface8* depth = nullptr;
  device_->GetRenderTarget(&target);
  device_->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
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
void CGame::LetBoundObjectsGo() {
  device_->SetTexture(0, nullptr);
  device_->SetStreamSource(0, nullptr, 0);
  ReleaseAndClear(boundTexture_);
  ReleaseAndClear(triangle_);
  releasedAt_ = frame_;
}

// The device's count once its table is the system's again; then everything released, a texture holding an object
// as private data last, and whether the device ended (and let go of the Direct3D object).
void CGame::EndAfterTheTableWasRestored() {
  std::string lines;
  PutLine(lines, "device.count", CountOf(device_));
  IDirect3DTexture8* kept = nullptr;
  auto* data = new CCounted;  // the resource may hold it for as long as the process runs
  IUnknown* object = data;
  if (SUCCEEDED(device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &kept))) {
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

void CGame::Publish(const std::string& lines) {
  std::snprintf(report_->probe, sizeof report_->probe, "%s", lines.c_str());
  report_->probed.store(1);
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
  IDirect3DSurface8* depth = nullptr;
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
void CGame::ClearChains() {
  if (chains_.empty()) return;
  IDirect3DSurface8* backBuffer = nullptr;
  IDirect3DSurface8* depth = nullptr;
  device_->GetRenderTarget(&backBuffer);
  device_->GetDepthStencilSurface(&depth);
  for (IDirect3DSwapChain8* chain : chains_) {
    IDirect3DSurface8* chainBuffer = nullptr;
    if (SUCCEEDED(chain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &chainBuffer)) &&
        SUCCEEDED(device_->SetRenderTarget(chainBuffer, nullptr))) {
      device_->Clear(0, nullptr, D3DCLEAR_TARGET, options_.clear, 1.0f, 0);
    }
    ReleaseAndClear(chainBuffer);
  }
  device_->SetRenderTarget(backBuffer, depth);
  ReleaseAndClear(backBuffer);
  ReleaseAndClear(depth);
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
        device_->SetStreamSource(0, triangle_, sizeof(ScreenVertex));
        device_->SetVertexShader(kScreenVertexFormat);
      }
      device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1);
      device_->EndScene();
    }
  } else {
    if (!options_.bindReleased) SetOddStates(false);
    const D3DVIEWPORT8 full{0, 0, parameters_.BackBufferWidth, parameters_.BackBufferHeight, 0.0f, 1.0f};
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
  IDirect3DSurface8* backBuffer = nullptr;
  IDirect3DSurface8* backDepth = nullptr;
  if (options_.offscreen) {
    device_->GetRenderTarget(&backBuffer);
    device_->GetDepthStencilSurface(&backDepth);
    device_->SetRenderTarget(offscreenSurface_, offscreenDepth_);
  }
  // Set after the render target, which resets the viewport.
  if (options_.oddState && !options_.setOnce) {
    if (options_.stateBlocks) {
      device_->ApplyStateBlock(frame_ % 2 ? recordedBlock_ : createdBlock_);
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
  // Counted before each call, so that the counting table's functions never see more than these.
  const auto countIfPrivate = [](void* object) {
    if (!g_system.privateDevice.empty() &&
        (TableOf(object) == g_system.privateDevice.data() || TableOf(object) == g_system.privateChain.data())) {
      g_report->privatePresents.fetch_add(1);
    }
  };
  countIfPrivate(device_);
  const HRESULT presented = device_->Present(options_.sourceGiven ? &options_.source : nullptr, nullptr, nullptr,
                                             nullptr);
  if (FAILED(presented) && presented != D3DERR_DEVICELOST) Fail("Present", presented);
  for (IDirect3DSwapChain8* chain : chains_) {
    countIfPrivate(chain);
    chain->Present(nullptr, nullptr, nullptr, nullptr);
  }
  if (options_.secondTable) report_->countedPresents.store(static_cast<std::uint32_t>(testgame::CountedPresents()));
  report_->frames.fetch_add(1);
  if (options_.oddState) CheckOddStates();
  if (options_.bindReleased && releasedTexture_) CheckReleasedBindings();
  if (options_.drawOnce && frame_ > options_.backBuffers) CheckBackBuffers();
  if (options_.offscreen) {
    device_->SetRenderTarget(backBuffer, backDepth);
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
  if (options_.defaults && frame_ == 30) {
    defaults_ = DefaultValues("start.");
    ResetTo(options_.width, options_.height);
  } else if (options_.defaults && frame_ == 60) {
    Publish(defaults_ + DefaultValues("reset."));
  }
  if (releasedAt_ != 0 && frame_ == releasedAt_ + 30) {
    std::string lines;
    PutLine(lines, "texture.data.released", boundData_[0]->references() == 1);
    PutLine(lines, "vertices.data.released", boundData_[1]->references() == 1);
    Publish(lines);
  }
  if (options_.restoreTable && frame_ == 50) {
    WriteSlots(g_system.device, g_system.deviceAsMade.data(), g_system.deviceAsMade.size());
  }
  // Time for an overlay to make its images and draw them before the values are read.
  if (options_.defaults || options_.restoreTable) Sleep(15);
  Capture();
  if (options_.restoreTable && frame_ == 80) EndAfterTheTableWasRestored();
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
      if (options_.side != Options::Side::None) {
        for (int i = 0; i < 64 && device_; ++i) SideRound();
        continue;
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
