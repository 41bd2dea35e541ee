// Method tables of the test game's own, whose functions count their calls and call on to the system's
// (counted_tables.cpp).
#pragma once

namespace testgame {

using Method = void (*)();

// Fills `device` and `chain`, tables as long as the system's, with the counting functions over `systemDevice` and
// `systemChain`, the system's own functions.
void MakeCountedTables(const Method* systemDevice, Method* device, const Method* systemChain, Method* chain);
// The calls of the counting tables' Present, the devices' and the swap chains'.
long CountedPresents();

}  // namespace testgame
