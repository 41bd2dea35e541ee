// What a game's calls of a device's methods cost: a child of the in-game benchmark, started in a game folder with
// the overlay's d3d8.dll or without, that loads the d3d8.dll a game there would load and times the calls.
#pragma once

#include <string>
#include <vector>

namespace bench {

// The methods timed, in the order of the results.
const std::vector<std::string>& DeviceCallNames();

// In the child: makes a device of `kind` ("plain", "pure", "multithreaded"), presents a few frames, then calls each
// method in rounds of many calls and writes the fastest round's time per call, in nanoseconds, one "name value" a
// line, into `file`. 0 when it ran.
int RunDeviceCalls(const std::string& kind, const std::string& file);

// In the child: makes a multithreaded device whose own thread presents as fast as it can for `milliseconds` while
// this thread calls TestCooperativeLevel in a loop; writes "calls", the calls made, and "longest", the longest
// one in microseconds, into `file`. 0 when it ran.
int RunCooperativeCalls(int milliseconds, const std::string& file);

}  // namespace bench
