#!/usr/bin/env python3
"""Checks the release archive as a user gets it: what it holds and where, that its name carries the version of
va_vazu.exe's version record, that the program and the overlay import nothing but the system's own DLLs, that
va_vazu.exe stays within its size budget, and, with nothing copied, that va_vazu.exe and the preview start from
their unpacked folders and the overlay shows in the preview; then that va_vazu.exe copied into standins/ runs
on the stand-ins, as their note says, and closes cleanly. Also that no source of what ships includes anything
of the stand-ins or the tests.

Usage: check_release.py <archive.zip> <objdump> --demo <va_vazu_demo.exe> --sources <source folder>
                        [--max-bytes N]
       (run with WINEPREFIX and DISPLAY set, as ctest is)
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

EXPECTED_ENTRIES = {
    "va_vazu.exe",
    "hvcomms.dll",
    "HVHook.dll",
    "README.md",
    "preview/va_vazu_preview.exe",
    "preview/d3d8.dll",
    "preview/d3d9.dll",
    "preview/README.txt",
    "overlay/d3d8.dll",
    "overlay/d3d9.dll",
    "overlay/README.txt",
    "standins/hvcomms.dll",
    "standins/HVHook.dll",
    "standins/README.txt",
}
# DLLs that every Windows installation has in its system folder.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "comctl32.dll",
               "msvcrt.dll", "ole32.dll", "oleaut32.dll", "comdlg32.dll", "version.dll"}
# The folders whose sources are built into what ships: none may include the stand-ins or the tests.
SHIPPED_SOURCES = ("app", "commands", "core", "framework", "ingame", "overlay", "preview", "res")
# The still scene the preview shows, and the colours the overlay draws in with the dialog's defaults: the text
# line red at the top left, the frame rate yellow in the top right corner.
SCENE_SIZE = (400, 300)
SCENE_BGR = (0x60, 0x40, 0x20)
RED, YELLOW = (0, 0, 255), (0, 255, 255)

# The entry points of the system's Direct3D 8 library.
D3D8_EXPORTS = {"Direct3DCreate8", "ValidatePixelShader", "ValidateVertexShader", "DebugSetMute", "D3D8GetSWInfo"}
# And of the system's Direct3D 9 library.
D3D9_EXPORTS = {"Direct3DCreate9", "Direct3DCreate9Ex", "Direct3DShaderValidatorCreate9", "D3DPERF_BeginEvent",
                "D3DPERF_EndEvent", "D3DPERF_GetStatus", "D3DPERF_QueryRepeatFrame", "D3DPERF_SetMarker",
                "D3DPERF_SetOptions", "D3DPERF_SetRegion", "DebugSetLevel", "DebugSetMute", "PSGPError",
                "PSGPSampleTexture"}

failures = []


# The Wine that runs the build: scripts/wine-env.sh names 64-bit Wine where the machine runs no 32-bit code.
WINE = os.environ.get("VA_WINE", "wine")

def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAILED:", message)


def file_version(exe):
    """The file version of the fixed part of the version record, as a dotted string."""
    signature = struct.pack("<I", 0xFEEF04BD)
    at = exe.find(signature)
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", exe, at + 8)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def shipped_sources_include_no_tests(root):
    for folder in SHIPPED_SOURCES:
        for base, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if not name.endswith((".h", ".cpp", ".rc")):
                    continue
                path = os.path.join(base, name)
                for line in open(path, errors="replace"):
                    if re.match(r'\s*#\s*include\s*[<"](standins|tests)/', line):
                        check(False, "%s includes %s" % (os.path.relpath(path, root), line.strip()))


def write_scene(path):
    width, height = SCENE_SIZE
    row = bytes(SCENE_BGR) * width  # 1,200 bytes: no padding
    header = struct.pack("<2sIHHI", b"BM", 54 + len(row) * height, 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(row) * height, 0, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(header + info + row * height)


def count_colour(bmp_path, colour, left, top, right, bottom):
    """How many pixels of the rectangle have exactly `colour` (BGR) in the 32-bit top-down BMP of the demo."""
    data = open(bmp_path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    height = abs(height)
    count = 0
    for y in range(max(top, 0), min(bottom, height)):
        for x in range(max(left, 0), min(right, width)):
            at = offset + (y * width + x) * 4
            count += tuple(data[at:at + 3]) == colour
    return count


def close(process, image, env):
    """Asks the program's windows to close, as the close box does; its exit code, or None if it stayed."""
    subprocess.run([WINE, "taskkill", "/im", image], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    try:
        return process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


def overlay_shows_in_the_preview(work, demo, env):
    """Starts the preview from preview/ and va_vazu.exe from the top, as unpacked; the demo driver sends the
    dialog's texts, switches the frame rate on and presses INSERT in the game; what the game shows must have
    the text line and the frame rate in it."""
    write_scene(os.path.join(work, "scene.bmp"))
    # As the preview's note says: Wine takes the d3d8.dll beside the game only when told so, in the environment
    # of the wine that starts it.
    game_env = dict(env, WINEDLLOVERRIDES=env.get("WINEDLLOVERRIDES", "") + ";d3d8=n,b")
    width, height = SCENE_SIZE
    preview = subprocess.Popen([WINE, "va_vazu_preview.exe", "--pos", "0,0", "--size", "%dx%d" % SCENE_SIZE,
                                "--scene", "..\\scene.bmp"],
                               cwd=os.path.join(work, "preview"), env=game_env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    program = subprocess.Popen([WINE, "va_vazu.exe"], cwd=work, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        shot = os.path.join(work, "preview.bmp")
        # Its messages go to a file: a pipe would stay open as long as the Wine processes it started.
        messages = os.path.join(work, "demo.txt")
        with open(messages, "w") as out:
            driven = subprocess.run([WINE, demo, "preview.bmp"], cwd=work, env=env, stdout=out, stderr=out,
                                    timeout=60)
        check(driven.returncode == 0 and os.path.exists(shot),
              "the dialog and the preview started from the unpacked archive and answered the demo driver (%s)" %
              open(messages, errors="replace").read().strip())
        if os.path.exists(shot):
            check(count_colour(shot, RED, 0, 0, width, 30) > 20, "the text line shows in the preview (INSERT)")
            check(count_colour(shot, YELLOW, width - 120, 0, width, 40) > 20, "the frame rate shows in the preview")
    finally:
        check(close(program, "va_vazu.exe", env) == 0, "va_vazu.exe with the overlay's libraries exited with 0")
        check(close(preview, "va_vazu_preview.exe", env) is not None, "the preview closed")


def standins_record(work, env):
    """Runs va_vazu.exe copied into standins/ until it has hooked the keyboard, then closes it."""
    folder = os.path.join(work, "standins")
    shutil.copy(os.path.join(work, "va_vazu.exe"), folder)
    program = subprocess.Popen([WINE, "va_vazu.exe"], cwd=folder, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    trace_path = os.path.join(folder, "trace.log")
    started = False
    deadline = time.time() + 30
    while time.time() < deadline and program.poll() is None:
        if os.path.exists(trace_path) and "HookOn" in open(trace_path, errors="replace").read():
            started = True
            break
        time.sleep(0.1)
    check(started, "va_vazu.exe copied into standins/ bound the stand-ins")
    code = close(program, "va_vazu.exe", env)
    check(code == 0, "va_vazu.exe on the stand-ins exited with code 0 (got %r)" % code)
    trace = open(trace_path, errors="replace").read() if os.path.exists(trace_path) else ""
    check("hvcomms.dll:detach by=FreeLibrary" in trace and "HookOff" in trace,
          "va_vazu.exe released both stand-ins when closed")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("archive")
    parser.add_argument("objdump")
    parser.add_argument("--demo", required=True)
    parser.add_argument("--sources", required=True)
    parser.add_argument("--max-bytes", type=int)
    args = parser.parse_args()
    shipped_sources_include_no_tests(args.sources)
    name = os.path.basename(args.archive)
    env = dict(os.environ)
    with zipfile.ZipFile(args.archive) as archive:
        entries = {n for n in archive.namelist() if not n.endswith("/")}
        check(entries == EXPECTED_ENTRIES, "archive holds exactly %s (holds %s)" %
              (sorted(EXPECTED_ENTRIES), sorted(entries)))
        work = tempfile.mkdtemp(prefix="va_vazu_release_")
        try:
            archive.extractall(work)
            exe_path = os.path.join(work, "va_vazu.exe")
            version = file_version(open(exe_path, "rb").read())
            check(version is not None and name == "va_vazu-%s-win32.zip" % version,
                  "archive name %s carries the version record's %s" % (name, version))

            if args.max_bytes:
                size = os.path.getsize(exe_path)
                check(size < args.max_bytes,
                      "va_vazu.exe is under %d bytes (is %d)" % (args.max_bytes, size))

            # The program and the overlay (which runs inside games) need nothing but the system's own DLLs; the
            # overlay's d3d8.dll and d3d9.dll do not import the libraries they stand for.
            for binary in ("va_vazu.exe", "hvcomms.dll", "HVHook.dll", "overlay/d3d8.dll", "overlay/d3d9.dll"):
                dump = subprocess.run([args.objdump, "-p", os.path.join(work, binary)], capture_output=True,
                                      text=True).stdout
                imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
                check(imports and imports <= SYSTEM_DLLS - {"d3d8.dll", "d3d9.dll"},
                      "%s imports only system DLLs (imports %s)" % (binary, sorted(imports)))
            # A program that asks the overlay's d3d8.dll or d3d9.dll for any entry point of the system's library
            # finds it.
            for library, expected in (("d3d8.dll", D3D8_EXPORTS), ("d3d9.dll", D3D9_EXPORTS)):
                dump = subprocess.run([args.objdump, "-p", os.path.join(work, "overlay", library)],
                                      capture_output=True, text=True).stdout
                exported = set(re.findall(r"^\s*\[\s*\d+\] (\S+)$", dump, re.MULTILINE))
                missing = expected - exported
                check(not missing,
                      "%s exports the system library's entry points (missing %s)" % (library, sorted(missing)))
            check(open(os.path.join(work, "preview", "d3d8.dll"), "rb").read() ==
                  open(os.path.join(work, "overlay", "d3d8.dll"), "rb").read(),
                  "the preview has the same d3d8.dll as the one for games")

            overlay_shows_in_the_preview(work, args.demo, env)
            standins_record(work, env)
        finally:
            shutil.rmtree(work, ignore_errors=True)

    print("%d passed, %d failed" % (1 if not failures else 0, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
