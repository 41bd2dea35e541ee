// va_vazu_testgame.exe: a small Direct3D 8 or 9 game for the overlay's tests, other than the preview, so that the
// overlay is not tuned to one game. It clears its back buffer to one colour every frame and presents it, and on
// request it sets every state the overlay touches (and more) to unusual values, through its own calls or through
// state blocks, and after each present reads them back to see that they are still what it set. It can run with
// any of the usual back-buffer formats and swap effects, on a pure or multithreaded device, full screen (where its
// device is lost while another window is in front, and reset when it comes back), with an off-screen render
// target set at present time, reset itself to another size, create its device anew, or never present at all. It
// can also draw its back buffers once and check after every present that they stay as drawn, keep drawing with a
// texture and a vertex buffer whose references it has released (the device's bindings keep them), present a part
// of its back buffer, present through additional swap chains, and probe the objects of a device of its own
// (identities, reference counts, private data) as the documentation describes them. What it sees goes into its
// report section (game_report.h), and so does a copy of a frame, read off the screen, when a test asks for one.
// The game is written once (game_core.h) over a small part of each Direct3D's own (direct3d8.cpp, direct3d9.cpp).
//
//   va_vazu_testgame.exe [--d3d9 | --d3d9ex]
//                        [--size WxH] [--pos X,Y] [--clear RRGGBB] [--format X8R8G8B8|A8R8G8B8|R5G6B5|X1R5G5B5]
//                        [--swap discard|copy|flip] [--back-buffers N] [--multisample N] [--draw-once]
//                        [--pure] [--multithreaded] [--odd-state] [--state-blocks]
//                        [--offscreen [--offscreen-size WxH] [--viewport X,Y,W,H]] [--bind-released]
//                        [--source X,Y,W,H] [--chains N] [--probe]
//                        [--reset-after N] [--reset-size WxH] [--recreate-after N] [--never-present] [--fullscreen]
//                        [--side-thread shaders|states|process] [--failing-reset] [--defaults] [--load-churn]
//                        [--release-on-request] [--restore-table]
//                        [--first-rect-only] [--texture-copies-refused] [--documented-flip] [--second-table]
//                        [--other-tool first|late] [--refuse-textures MS] [--cbt-hook]
//
// Direct3D 9 (each option below it runs on either Direct3D but those the Direct3D 8 list names):
//   --d3d9              Direct3DCreate9 of "d3d9.dll" (an overlay's beside the game, where there is one) and
//                       CreateDevice.
//   --d3d9ex            Direct3DCreate9Ex and CreateDeviceEx, presenting with PresentEx. An Ex device has no
//                       D3DPOOL_MANAGED: the game keeps in D3DPOOL_DEFAULT what it keeps there otherwise, and reports
//                       what creating a managed texture returned (managedPool).
//   --swap flipex|overlay  Direct3D 9's other swap effects (FLIPEX on an Ex device only); a device the system
//                       refuses stops the game with CreateDevice as its failure.
//   --format A2R10G10B10  (also --back-buffer-format) a back buffer of ten bits a channel.
//   --present-donotwait presents with D3DPRESENT_DONOTWAIT (PresentEx, or the device's swap chain's Present) and
//                       calls again while the present returns D3DERR_WASSTILLDRAWING, counting those (stillDrawing).
//   --still-drawing N   as --present-donotwait, with a busy device emulated below everything else: before the game's
//                       first call of "d3d9.dll", the system's own swap chain Present and device PresentEx return
//                       D3DERR_WASSTILLDRAWING without presenting for every Nth present that does not wait
//                       (stillDrawingMade), as a driver under an overlay would.
//   --present-through-chain  the same way below everything else, the system's device Present and PresentEx present
//                       through the device's own swap chain, calling its Present through the swap chain's table, as
//                       an implementation built so does (throughChain counts those presents).
//   --no-dynamic-textures  the same way, the system's devices list no dynamic textures in their capabilities.
// Direct3D 9's own states are set and checked with the others (--odd-state, --state-blocks): sampler states,
// a vertex declaration and shaders with constants in turn with a vertex format, the scissor rectangle and its
// test, sRGB writes, and a stream's frequency. The probe (--probe) adds the device's swap chain, its container
// and the device's Direct3D object to the identities and counts.
// Direct3D 8 only: --defaults, --restore-table, --first-rect-only, --texture-copies-refused, --documented-flip,
// --second-table, --other-tool, --refuse-textures.
//
// Threads, resets, defaults and lifetimes:
//   --side-thread MODE  a multithreaded device presented by a thread of its own while the window's thread calls the
//                       device in a loop, counting its rounds (sideRounds) and failed calls (sideFailures):
//                       "shaders" creates a vertex or pixel shader, sets it and deletes it; "states" reads every odd
//                       state with Get* and sets what it read back, as code that saves and restores states does,
//                       counting reads unlike the game's (sideStrangeReads); "process" calls ProcessVertices from
//                       the game's vertex buffer on stream 0 into a buffer of its own. With "states" and "process"
//                       the game sets its odd states once (after creating the device and after a reset), never per
//                       frame, and checks them after every present.
//   --failing-reset     draws a triangle from a vertex buffer of its own every frame and holds a D3DPOOL_DEFAULT
//                       texture; a requested reset is a Reset with the texture held (which fails), the texture
//                       released, a Reset (which succeeds) and a Clear: both results go to the report.
//   --defaults          never sets a state: only clears and presents; after 30 presents, and after 30 more
//                       following a reset of its own, writes every value Get* reads into the probe lines.
//   --load-churn        loads as an engine does between creating its device and its first present, and goes on
//                       through its first frames: makes decode-like buffers and frees some, and makes materials
//                       among them with new; writes the materials' addresses into the probe lines after frame 20.
//   --release-on-request binds a texture and a vertex buffer, each holding an object as private data, and draws
//                       with them; once the test asks (releaseRequests), unbinds and releases them, presents 30
//                       frames and writes whether each private-data object was let go (the system destroyed it).
//   --restore-table     before the imported Direct3DCreate8 runs, copies the device table of a throwaway device of
//                       the system's own d3d8.dll; after 50 presents writes the copy back over the table, as
//                       another component restoring it would; 30 presents later writes the device's count, then
//                       releases everything and writes whether the device ended.
// Another Direct3D 8, put on the system's (through its own d3d8.dll and a throwaway device) before the imported
// Direct3DCreate8 runs, so that an overlay finds it so:
//   --first-rect-only   the device's CopyRects copies only the first rectangle of a call and returns D3D_OK.
//   --texture-copies-refused  CopyRects between two surfaces of D3DPOOL_DEFAULT fails with D3DERR_INVALIDCALL where
//                       either is a level of a texture that is not a render target, as a Direct3D 8 over a later
//                       Direct3D's surface-to-surface blit may.
//   --documented-flip   a FLIP swap chain rotates as the documentation says: after Present the former front buffer
//                       is the last back buffer, emulated over the system's rotation with whole-surface copies.
//   --second-table      every second device made (2nd, 4th, ...: with --recreate-after) gets a method table of its
//                       own, and so do its additional swap chains, as a wrapper's would: functions of the game's own
//                       that count their calls and call on to the system's (counted_tables.h).
//   --refuse-textures MS  for MS milliseconds from the first device's creation, CreateTexture fails with
//                       D3DERR_OUTOFVIDEOMEMORY, as on a device whose video memory the game has filled, for every
//                       caller but the game itself, counting the refusals (refusedTextures).
// Other components in the game:
//   --other-tool first  a tool that patched the system's device table before anything else (through the system's own
//                       d3d8.dll): its Present and EndScene count their calls and call on to what they replaced.
//   --other-tool late   the same tool finding the table as recorders and second overlays do: a throwaway device made
//                       through "d3d8.dll" by name (an overlay's, where there is one), released once patched.
//   --cbt-hook          a WH_CBT hook on the game's thread counts the windows made on it once the game runs.
#include <windows.h>

#include <cstdio>

#include "tests/game/game_options.h"

namespace testgame {
// Each Direct3D's game (direct3d8.cpp, direct3d9.cpp).
int RunDirect3D8(const Options& options);
int RunDirect3D9(const Options& options);
}  // namespace testgame

int main(int argc, char** argv) {
  testgame::Options options;
  if (!testgame::ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "va_vazu_testgame: unknown option\n");
    return 2;
  }
  return options.api == testgame::Options::Api::Direct3D8 ? testgame::RunDirect3D8(options)
                                                          : testgame::RunDirect3D9(options);
}
