# Settings for everything built for Windows.

# The program and its libraries use the ANSI entry points of the system on purpose: its texts reach the
# product's libraries as 8-bit strings of the ANSI code page.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 STRICT)

# Link the C and C++ runtimes in, so that va_vazu.exe runs with nothing but the system's own DLLs.
set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
function(va_vazu_static_runtime target)
  if(MINGW)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()

# Everything that runs lands in one folder: the program, the tests, and bin/standins/ with the stand-ins.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
