#include "bench/device_calls.h"

namespace bench {

const std::vector<std::string>& DeviceCallNames() {
  static const std::vector<std::string> names = {
      "SetTransform",         "GetRenderState", "SetRenderState",    "SetTextureStageState",
      "SetVertexShaderConstant", "SetStreamSource", "DrawPrimitive", "TestCooperativeLevel"};
  return names;
}

int RunDeviceCalls(int direct3d, const std::string& kind, const std::string& file) {
  return direct3d == 9 ? RunDirect3D9DeviceCalls(kind, file) : RunDirect3D8DeviceCalls(kind, file);
}

int RunCooperativeCalls(int direct3d, int milliseconds, const std::string& file) {
  return direct3d == 9 ? RunDirect3D9CooperativeCalls(milliseconds, file)
                       : RunDirect3D8CooperativeCalls(milliseconds, file);
}

}  // namespace bench
