// The device-calls child on Direct3D 9.
#include "preview/direct3d9_api.h"
#include "bench/device_calls_body.h"

namespace bench {
namespace {

struct Direct3D9Calls : preview::Direct3D9Api {
  // Through the d3d9.dll of the program's folder, loaded by name as the preview loads it.
  static Direct3D* Load() { return Create(); }
  static void SetVertexShaderConstant(Device* device, const float* constant) {
    device->SetVertexShaderConstantF(0, constant, 1);
  }
};

}  // namespace

int RunDirect3D9DeviceCalls(const std::string& kind, const std::string& file) {
  return device_calls::RunDeviceCalls<Direct3D9Calls>(kind, file);
}

int RunDirect3D9CooperativeCalls(int milliseconds, const std::string& file) {
  return device_calls::RunCooperativeCalls<Direct3D9Calls>(milliseconds, file);
}

}  // namespace bench
