// Compile-time check that an exported entry point, of the overlay's own libraries or of the stand-ins, takes
// exactly the arguments, in the calling convention, of the program's declaration in overlay_api.h. Only the
// result type may differ: the stand-ins return a full DWORD so a test can script any 32-bit value, of which
// the program reads the low 8 bits.
#pragma once

#include <windows.h>

#include <type_traits>

#include "overlay/overlay_api.h"

namespace overlay {

template <typename Implementation, typename Contract>
struct SameArguments : std::false_type {};

template <typename ImplementationResult, typename ContractResult, typename... Args>
struct SameArguments<ImplementationResult(WINAPI*)(Args...), ContractResult(WINAPI*)(Args...)> : std::true_type {};

}  // namespace overlay

#define ENTRY_POINT_MATCHES_CONTRACT(name) \
  static_assert(::overlay::SameArguments<decltype(&name), ::overlay::name##_t>::value, \
                #name " does not take the arguments of its declaration in overlay_api.h")
