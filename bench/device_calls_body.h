#include "bench/device_calls.h"

#include <windows.h>
#include <d3d8.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>

namespace bench {
namespace {

constexpr int kRounds = 15;

double NowNs() {
  static const double nsPerTick = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1e9 / static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * nsPerTick;
}

// The device and what it draws with, made through the d3d8.dll of the program's folder when there is one (the
// overlay's), else the system's: as a game in that folder would.
class Device {
 public:
  explicit Device(DWORD flags) {
    HMODULE library = LoadLibraryA("d3d8.dll");
    using Create = IDirect3D8*(WINAPI*)(UINT);
    const auto create = library ? reinterpret_cast<Create>(
                                      reinterpret_cast<void (*)()>(GetProcAddress(library, "Direct3DCreate8")))
                                : nullptr;
    direct3d_ = create ? create(D3D_SDK_VERSION) : nullptr;
    window_ = CreateWindowExA(0, "STATIC", "device calls", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 240, nullptr,
                              nullptr, nullptr, nullptr);
    if (!direct3d_ || !window_) return;
    D3DDISPLAYMODE mode{};
    direct3d_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
    D3DPRESENT_PARAMETERS parameters{};
    parameters.Windowed = TRUE;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.BackBufferFormat = mode.Format;
    parameters.BackBufferWidth = 320;
    parameters.BackBufferHeight = 240;
    parameters.hDeviceWindow = window_;
    if (FAILED(direct3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_,
                                       D3DCREATE_HARDWARE_VERTEXPROCESSING | flags, &parameters, &device_))) {
      device_ = nullptr;
      return;
    }
    device_->CreateVertexBuffer(3 * 16, D3DUSAGE_WRITEONLY, D3DFVF_XYZRHW, D3DPOOL_MANAGED, &vertices_);
    if (vertices_) {
      // A triangle of no area: the draw calls cost what the call costs, not what the rasteriser does.
      float* data = nullptr;
      if (SUCCEEDED(vertices_->Lock(0, 0, reinterpret_cast<BYTE**>(&data), 0))) {
        std::fill(data, data + 12, 1.0f);
        vertices_->Unlock();
      }
    }
  }
  ~Device() {
    if (vertices_) vertices_->Release();
    if (device_) device_->Release();
    if (direct3d_) direct3d_->Release();
    if (window_) DestroyWindow(window_);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  IDirect3DDevice8* get() const { return device_; }
  IDirect3DVertexBuffer8* vertices() const { return vertices_; }
  void Frames(int count) const {
    for (int i = 0; i < count; ++i) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF204060, 1.0f, 0);
      device_->Present(nullptr, nullptr, nullptr, nullptr);
    }
  }

 private:
  IDirect3D8* direct3d_ = nullptr;
  HWND window_ = nullptr;
  IDirect3DDevice8* device_ = nullptr;
  IDirect3DVertexBuffer8* vertices_ = nullptr;
};

// The fastest of kRounds rounds of `count` calls, per call.
double Fastest(int count, const std::function<void(int)>& call) {
  double best = 1e300;
  for (int round = 0; round < kRounds; ++round) {
    const double start = NowNs();
    for (int i = 0; i < count; ++i) call(i);
    best = std::min(best, (NowNs() - start) / count);
  }
  return best;
}

}  // namespace

const std::vector<std::string>& DeviceCallNames() {
  static const std::vector<std::string> names = {
      "SetTransform",         "GetRenderState", "SetRenderState",    "SetTextureStageState",
      "SetVertexShaderConstant", "SetStreamSource", "DrawPrimitive", "TestCooperativeLevel"};
  return names;
}

int RunDeviceCalls(const std::string& kind, const std::string& file) {
  const DWORD flags = kind == "pure"            ? D3DCREATE_PUREDEVICE
                      : kind == "multithreaded" ? D3DCREATE_MULTITHREADED
                                                : 0;
  const Device device(flags);
  IDirect3DDevice8* d = device.get();
  if (!d || !device.vertices()) return 1;
  // The overlay measures the device and makes its objects at the first presents.
  device.Frames(30);
  d->SetVertexShader(D3DFVF_XYZRHW);
  d->SetStreamSource(0, device.vertices(), 16);
  d->BeginScene();
  D3DMATRIX matrix{};
  matrix._11 = matrix._22 = matrix._33 = matrix._44 = 1.0f;
  const float constant[4] = {1.0f, 2.0f, 3.0f, 4.0f};
  DWORD value = 0;
  constexpr int kCalls = 20000;
  const std::vector<std::pair<int, std::function<void(int)>>> calls = {
      {kCalls, [&](int) { d->SetTransform(D3DTS_WORLD, &matrix); }},
      {kCalls, [&](int) { d->GetRenderState(D3DRS_ZENABLE, &value); }},
      {kCalls, [&](int i) { d->SetRenderState(D3DRS_ZENABLE, static_cast<DWORD>(i & 1)); }},
      {kCalls,
       [&](int i) { d->SetTextureStageState(0, D3DTSS_COLOROP, (i & 1) ? D3DTOP_MODULATE : D3DTOP_SELECTARG1); }},
      {kCalls, [&](int) { d->SetVertexShaderConstant(0, constant, 1); }},
      {kCalls, [&](int) { d->SetStreamSource(0, device.vertices(), 16); }},
      {kCalls / 10, [&](int) { d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1); }},
      {kCalls, [&](int) { d->TestCooperativeLevel(); }},
  };
  std::ofstream out(file);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    out << DeviceCallNames()[i] << ' ' << Fastest(calls[i].first, calls[i].second) << '\n';
  }
  d->EndScene();
  device.Frames(1);
  return out ? 0 : 1;
}

int RunCooperativeCalls(int milliseconds, const std::string& file) {
  const Device device(D3DCREATE_MULTITHREADED);
  if (!device.get()) return 1;
  device.Frames(10);
  std::atomic<bool> stop{false};
  struct Presenter {
    const Device* device;
    std::atomic<bool>* stop;
    static DWORD WINAPI Run(void* self) {
      auto* p = static_cast<Presenter*>(self);
      while (!p->stop->load()) {
        p->device->get()->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF204060, 1.0f, 0);
        p->device->get()->Present(nullptr, nullptr, nullptr, nullptr);
      }
      return 0;
    }
  } presenter{&device, &stop};
  HANDLE thread = CreateThread(nullptr, 0, &Presenter::Run, &presenter, 0, nullptr);
  if (!thread) return 1;
  std::uint64_t calls = 0;
  double longest = 0;
  const double end = NowNs() + milliseconds * 1e6;
  for (double now = NowNs(); now < end; ++calls) {
    device.get()->TestCooperativeLevel();
    const double after = NowNs();
    longest = std::max(longest, after - now);
    now = after;
  }
  stop.store(true);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  std::ofstream out(file);
  out << "calls " << calls << "\nlongest " << longest / 1000.0 << '\n';
  return out ? 0 : 1;
}

}  // namespace bench
