// The Windows entry point of a program built on this framework: it runs the global application object.
#include "framework/win_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return AfxWinMain(instance); }

#if defined(__GLIBCXX__)
#include <cstdlib>

// GCC's C++ library ends an uncaught exception through a handler that prints the exception's type, with
// its name demangled, to the standard error stream, which a GUI program does not have. Linked statically,
// that handler brings the whole demangler along and makes up a sixth of the program. Defining it here keeps
// the library's from being linked; the program ends the same way, without the message nobody could see.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif
