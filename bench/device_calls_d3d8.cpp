// The device-calls child on Direct3D 8.
#include "preview/direct3d8_api.h"
#include "bench/device_calls_body.h"

namespace bench {
namespace {

struct Direct3D8Calls : preview::Direct3D8Api {
  // Through the d3d8.dll of the program's folder, loaded by name: this program imports none.
  static Direct3D* Load() {
    HMODULE library = LoadLibraryA("d3d8.dll");
    using Create = IDirect3D8*(WINAPI*)(UINT);
    const auto create = library ? reinterpret_cast<Create>(
                                      reinterpret_cast<void (*)()>(GetProcAddress(library, "Direct3DCreate8")))
                                : nullptr;
    return create ? create(D3D_SDK_VERSION) : nullptr;
  }
  static void SetVertexShaderConstant(Device* device, const float* constant) {
    device->SetVertexShaderConstant(0, constant, 1);
  }
};

}  // namespace

int RunDirect3D8DeviceCalls(const std::string& kind, const std::string& file) {
  return device_calls::RunDeviceCalls<Direct3D8Calls>(kind, file);
}

int RunDirect3D8CooperativeCalls(int milliseconds, const std::string& file) {
  return device_calls::RunCooperativeCalls<Direct3D8Calls>(milliseconds, file);
}

}  // namespace bench
