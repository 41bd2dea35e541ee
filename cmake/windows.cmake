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

# No manifest in anything built here, so that both builds carry the same resources and behave as a program
# without one. Microsoft's linker embeds one unless told not to. MinGW-w64's GCC links default-manifest.o into
# every program when it finds that file, and some distributions (MSYS2's) ship it: an empty archive of that
# name in a folder searched first stands in for it.
if(MSVC)
  add_link_options(/MANIFEST:NO)
elseif(MINGW)
  file(WRITE ${CMAKE_BINARY_DIR}/no-default-manifest/default-manifest.o "!<arch>\n")
  add_link_options(-B${CMAKE_BINARY_DIR}/no-default-manifest/)
endif()
