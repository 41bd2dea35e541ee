# GoogleTest, built from its sources along with the tests: the Debian package's (googletest) on a Linux build
# machine; elsewhere the tests are off unless VA_VAZU_GOOGLETEST_DIR points at a copy of the sources.

if(CMAKE_HOST_UNIX)
  set(va_vazu_googletest_default /usr/src/googletest)
endif()
set(VA_VAZU_GOOGLETEST_DIR "${va_vazu_googletest_default}" CACHE PATH "GoogleTest sources (Debian package googletest)")
if(VA_VAZU_GOOGLETEST_DIR AND EXISTS "${VA_VAZU_GOOGLETEST_DIR}/CMakeLists.txt")
  set(VA_VAZU_GOOGLETEST_FOUND ON)
else()
  set(VA_VAZU_GOOGLETEST_FOUND OFF)
endif()

# GoogleTest for the tests built for Windows, which run under Wine.
function(va_vazu_add_googletest)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VA_VAZU_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

  # MinGW's win32 thread model (see the toolchain file) has no std::mutex, on which GoogleTest builds the one
  # class it cannot do without; give it that class on a Win32 event instead, in every file that sees its headers.
  include(CheckCXXSourceCompiles)
  check_cxx_source_compiles("#include <mutex>\nint main() { std::mutex m; m.lock(); }" VA_VAZU_HAS_STD_MUTEX)
  if(NOT VA_VAZU_HAS_STD_MUTEX)
    target_compile_options(gtest PUBLIC -include ${PROJECT_SOURCE_DIR}/tests/support/gtest_notification.h)
  endif()
endfunction()
