# GoogleTest for the tests that run under Wine, built from the sources of the Debian package.

set(VA_VAZU_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
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
