"""Presses keys at the X level, as a user at the keyboard would, for the end-to-end tests under Wine.

    x_keys.py DONE_FILE [ACTION ...]

Each action is one of
    down:KEYSYM, up:KEYSYM   a key event (KEYSYM as X names it: Insert, Home, End, a)
    sleep:MILLISECONDS       a pause
    focus:TITLE              gives the X keyboard focus to the shown window of that title, as a window manager
                             does when the user clicks into a window
Key events go through the XTEST extension to the window that has the X keyboard focus. Without a window
manager nothing else moves that focus reliably: Wine moves it only when the focus changes inside a thread,
and the X server ignores its requests if they carry an older time than the last change.

DONE_FILE is written once every action has reached the X server; with no action it tells that XTEST can be
used at all. A Windows program cannot wait for a Unix process that Wine started for it, so it waits for that
file instead.

Needs only python3 and the X libraries (libX11, libXtst), so no extra package.
"""
import ctypes
import ctypes.util
import sys
import time


def load(name, soname):
    path = ctypes.util.find_library(name) or soname
    return ctypes.CDLL(path)


REVERT_TO_PARENT = 2
CURRENT_TIME = 0
IS_VIEWABLE = 2


class XWindowAttributes(ctypes.Structure):
    # Xlib's XWindowAttributes; only map_state is read.
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("c_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
                ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
                ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


def find_shown_window(x11, display, title):
    """The first viewable window named `title`, searched from the root, or 0."""
    pending = [x11.XDefaultRootWindow(display)]
    while pending:
        window = pending.pop(0)
        name = ctypes.c_char_p()
        if x11.XFetchName(display, window, ctypes.byref(name)) and name.value is not None:
            found = name.value.decode("latin-1") == title
            x11.XFree(name)
            attributes = XWindowAttributes()
            if found and x11.XGetWindowAttributes(display, window, ctypes.byref(attributes)) and \
                    attributes.map_state == IS_VIEWABLE:
                return window
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if x11.XQueryTree(display, window, ctypes.byref(root), ctypes.byref(parent), ctypes.byref(children),
                          ctypes.byref(count)):
            pending.extend(children[i] for i in range(count.value))
            if children:
                x11.XFree(children)
    return 0


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    done_file, actions = argv[1], argv[2:]

    x11 = load("X11", "libX11.so.6")
    xtst = load("Xtst", "libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XStringToKeysym.restype = ctypes.c_ulong
    x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
    x11.XKeysymToKeycode.restype = ctypes.c_ubyte
    x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                               ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                               ctypes.POINTER(ctypes.c_uint)]
    x11.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
    x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]
    x11.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_ulong]
    x11.XFree.argtypes = [ctypes.c_void_p]
    xtst.XTestQueryExtension.argtypes = [ctypes.c_void_p] + [ctypes.POINTER(ctypes.c_int)] * 4
    xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]

    display = x11.XOpenDisplay(None)
    if not display:
        print("cannot open the X display", file=sys.stderr)
        return 1
    unused = [ctypes.c_int() for _ in range(4)]
    if not xtst.XTestQueryExtension(display, *[ctypes.byref(v) for v in unused]):
        print("the X server has no XTEST extension", file=sys.stderr)
        return 1

    for action in actions:
        kind, _, value = action.partition(":")
        if kind == "sleep":
            x11.XSync(display, 0)
            time.sleep(int(value) / 1000.0)
            continue
        if kind == "focus":
            window = find_shown_window(x11, display, value)
            if not window:
                print("no shown window titled " + value, file=sys.stderr)
                return 1
            x11.XSetInputFocus(display, window, REVERT_TO_PARENT, CURRENT_TIME)
            continue
        keycode = x11.XKeysymToKeycode(display, x11.XStringToKeysym(value.encode()))
        if kind not in ("down", "up") or keycode == 0:
            print("bad action: " + action, file=sys.stderr)
            return 2
        xtst.XTestFakeKeyEvent(display, keycode, 1 if kind == "down" else 0, 0)
    x11.XSync(display, 0)
    x11.XCloseDisplay(display)

    with open(done_file, "w") as done:
        done.write("done\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
