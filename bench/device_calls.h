// What a game's calls of a device's methods cost: a child of the in-game benchmark, started in a game folder with
// the overlay's d3d8.dll or d3d9.dll or without, that loads the library a game there would load and times the
// calls.
#pragma once

#include <string>
#include <vector>

namespace bench {

// The methods timed, in the order of the results (on Direct3D 9 the vertex shader constant is set with
// SetVertexShaderConstantF).
const std::vector<std::string>& DeviceCallNames();

// In the child: makes a Direct3D `direct3d` (8 or 9) device of `kind` ("plain", "pure", "multithreaded"),
// presents a few frames, then calls each method in rounds of many calls and writes the fastest round's time per
// call, in nanoseconds, one "name value" a line, into `file`. 0 when it ran.
int RunDeviceCalls(int direct3d, const std::string& kind, const std::string& file);

// In the child: makes a multithreaded Direct3D `direct3d` device whose own thread presents as fast as it can for
// `milliseconds` while this thread calls TestCooperativeLevel in a loop; writes "calls", the calls made, and
// "longest", the longest one in microseconds, into `file`. 0 when it ran.
int RunCooperativeCalls(int direct3d, int milliseconds, const std::string& file);

// The same on each Direct3D, in a source file of its own that includes only its Direct3D's header.
int RunDirect3D8DeviceCalls(const std::string& kind, const std::string& file);
int RunDirect3D9DeviceCalls(const std::string& kind, const std::string& file);
int RunDirect3D8CooperativeCalls(int milliseconds, const std::string& file);
int RunDirect3D9CooperativeCalls(int milliseconds, const std::string& file);

}  // namespace bench
