// The device-calls child (device_calls.h) on one Direct3D, over the preview's traits of it
// (preview/direct3d8_api.h, preview/direct3d9_api.h) with what the benchmark adds: how it loads the library and
// sets a vertex shader constant. As with the preview's renderer, the names both Direct3Ds share are those of the
// Direct3D header included before this one, by device_calls_d3d8.cpp or device_calls_d3d9.cpp.
#pragma once

#ifndef DIRECT3D_VERSION
#error "include the traits of a Direct3D before device_calls_body.h"
#endif

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bench/device_calls.h"

namespace bench {
namespace device_calls {

constexpr int kRounds = 15;

inline double NowNs() {
  static const double nsPerTick = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1e9 / static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * nsPerTick;
}

// The fastest of kRounds rounds of `count` calls, per call.
inline double Fastest(int count, const std::function<void(int)>& call) {
  double best = 1e300;
  for (int round = 0; round < kRounds; ++round) {
    const double start = NowNs();
    for (int i = 0; i < count; ++i) call(i);
    best = std::min(best, (NowNs() - start) / count);
  }
  return best;
}

// The device and what it draws with, made through the Direct3D library of the program's folder when there is
// one (the overlay's), else the system's: as a game in that folder would.
template <class Api>
class CDevice {
 public:
  using Device = typename Api::Device;
  using VertexBuffer = typename Api::VertexBuffer;

  explicit CDevice(DWORD flags) {
    direct3d_ = Api::Load();
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
    if (FAILED(Api::CreateDevice(direct3d_, window_, D3DCREATE_HARDWARE_VERTEXPROCESSING | flags, parameters,
                                 &device_))) {
      device_ = nullptr;
      return;
    }
    Api::CreateVertexBuffer(device_, 3 * 16, D3DFVF_XYZRHW, D3DPOOL_MANAGED, &vertices_);
    void* data = nullptr;
    if (vertices_ && SUCCEEDED(Api::Lock(vertices_, 3 * 16, &data))) {
      // A triangle of no area: the draw calls cost what the call costs, not what the rasteriser does.
      std::fill(static_cast<float*>(data), static_cast<float*>(data) + 12, 1.0f);
      vertices_->Unlock();
    }
  }
  ~CDevice() {
    if (vertices_) vertices_->Release();
    if (device_) device_->Release();
    if (direct3d_) direct3d_->Release();
    if (window_) DestroyWindow(window_);
  }
  CDevice(const CDevice&) = delete;
  CDevice& operator=(const CDevice&) = delete;

  Device* get() const { return device_; }
  VertexBuffer* vertices() const { return vertices_; }
  void Frames(int count) const {
    for (int i = 0; i < count; ++i) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF204060, 1.0f, 0);
      device_->Present(nullptr, nullptr, nullptr, nullptr);
    }
  }

 private:
  typename Api::Direct3D* direct3d_ = nullptr;
  HWND window_ = nullptr;
  Device* device_ = nullptr;
  VertexBuffer* vertices_ = nullptr;
};

template <class Api>
int RunDeviceCalls(const std::string& kind, const std::string& file) {
  const DWORD flags = kind == "pure"            ? D3DCREATE_PUREDEVICE
                      : kind == "multithreaded" ? D3DCREATE_MULTITHREADED
                                                : 0;
  const CDevice<Api> device(flags);
  typename Api::Device* d = device.get();
  if (!d || !device.vertices()) return 1;
  // The overlay measures the device and makes its objects at the first presents.
  device.Frames(30);
  Api::SetFvf(d, D3DFVF_XYZRHW);
  Api::SetStream(d, device.vertices(), 16);
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
      {kCalls, [&](int) { Api::SetVertexShaderConstant(d, constant); }},
      {kCalls, [&](int) { Api::SetStream(d, device.vertices(), 16); }},
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

template <class Api>
int RunCooperativeCalls(int milliseconds, const std::string& file) {
  const CDevice<Api> device(D3DCREATE_MULTITHREADED);
  if (!device.get()) return 1;
  device.Frames(10);
  std::atomic<bool> stop{false};
  struct Presenter {
    const CDevice<Api>* device;
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

}  // namespace device_calls
}  // namespace bench
