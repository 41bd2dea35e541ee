#!/usr/bin/env python3
"""Checks the release archive: what it holds, that its name carries the version of va_vazu.exe's version
record, that va_vazu.exe and the overlay's libraries import nothing but the system's own DLLs, that va_vazu.exe
stays within its size budget, and that it starts from the unpacked archive with the stand-ins copied beside it
and closes cleanly.

Usage: check_release.py <archive.zip> <objdump> [--max-bytes N]
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
    "README.md",
    "standins/hvcomms.dll",
    "standins/HVHook.dll",
    "standins/va_vazu_preview.exe",
    "standins/README.txt",
    "overlay/hvcomms.dll",
    "overlay/HVHook.dll",
    "overlay/d3d8.dll",
    "overlay/README.txt",
}
# DLLs that every Windows installation has in its system folder.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "comctl32.dll",
               "msvcrt.dll", "ole32.dll", "oleaut32.dll", "comdlg32.dll", "version.dll"}

failures = []


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


def start_and_close(folder):
    """Runs va_vazu.exe under Wine until it has hooked the keyboard, then closes it as a user would."""
    env = dict(os.environ)
    program = subprocess.Popen(["wine", "va_vazu.exe"], cwd=folder, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    trace_path = os.path.join(folder, "trace.log")
    started = False
    deadline = time.time() + 30
    while time.time() < deadline and program.poll() is None:
        if os.path.exists(trace_path) and "HookOn" in open(trace_path, errors="replace").read():
            started = True
            break
        time.sleep(0.1)
    check(started, "va_vazu.exe started from the unpacked archive and bound the stand-ins")
    # taskkill without /f asks the program's windows to close, as the close box does.
    subprocess.run(["wine", "taskkill", "/im", "va_vazu.exe"], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    try:
        code = program.wait(timeout=30)
    except subprocess.TimeoutExpired:
        program.kill()
        code = None
    check(code == 0, "va_vazu.exe exited with code 0 (got %r)" % code)
    trace = open(trace_path, errors="replace").read() if os.path.exists(trace_path) else ""
    check("hvcomms.dll:detach by=FreeLibrary" in trace and "HookOff" in trace,
          "va_vazu.exe released both libraries when closed")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("archive")
    parser.add_argument("objdump")
    parser.add_argument("--max-bytes", type=int)
    args = parser.parse_args()
    archive_path, objdump = args.archive, args.objdump
    name = os.path.basename(archive_path)
    with zipfile.ZipFile(archive_path) as archive:
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
            # overlay's d3d8.dll does not import the library it stands for.
            for binary in ("va_vazu.exe", "overlay/hvcomms.dll", "overlay/HVHook.dll", "overlay/d3d8.dll"):
                dump = subprocess.run([objdump, "-p", os.path.join(work, binary)], capture_output=True,
                                      text=True).stdout
                imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
                check(imports and imports <= SYSTEM_DLLS - {"d3d8.dll"},
                      "%s imports only system DLLs (imports %s)" % (binary, sorted(imports)))

            for dll in ("hvcomms.dll", "HVHook.dll"):
                shutil.copy(os.path.join(work, "standins", dll), work)
            start_and_close(work)
        finally:
            shutil.rmtree(work, ignore_errors=True)

    print("%d passed, %d failed" % (1 if not failures else 0, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
