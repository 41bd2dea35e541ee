// Compile-time check that an exported entry point, of a stand-in or of the overlay's own libraries, takes
// exactly the arguments, in the calling convention, of the program's declaration in overlay_api.h. Only the
// result type may differ: the stand-ins return a full DWORD so a test can script any 32-bit value, of which
// the program reads the low 8 bits.
#pragma once

#include <windows.h>

#include <type_traits>

namespace standin {

template <typename Standin, typename Contract>
struct SameArguments : std::false_type {};

template <typename StandinResult, typename ContractResult, typename... Args>
struct SameArguments<StandinResult(WINAPI*)(Args...), ContractResult(WINAPI*)(Args...)> : std::true_type {};

}  // namespace standin

#define STANDIN_MATCHES_CONTRACT(name) \
  static_assert(::standin::SameArguments<decltype(&name), ::overlay::name##_t>::value, \
                #name " does not take the arguments of its declaration in overlay_api.h")
