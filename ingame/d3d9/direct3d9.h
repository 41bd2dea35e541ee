// Direct3D 9 (and 9Ex) as the overlay's core sees it (device_objects.h, device_overlay.h): its interfaces, and the
// few calls whose form is its own.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include "ingame/common/device_objects.h"
#include "ingame/common/flip_rotation.h"
#include "ingame/common/overlay_core.h"

namespace ingame::d3d9 {

class COverlayRenderer;
class CStateMirror;

struct Direct3D9 {
  using Device = IDirect3DDevice9;
  using SwapChain = IDirect3DSwapChain9;
  using Surface = IDirect3DSurface9;
  using Texture = IDirect3DTexture9;
  using VertexBuffer = IDirect3DVertexBuffer9;
  using Caps = D3DCAPS9;
  using StateBlock = IDirect3DStateBlock9*;
  using PresentParameters = D3DPRESENT_PARAMETERS;
  using SurfaceDesc = D3DSURFACE_DESC;
  using Format = D3DFORMAT;
  using Renderer = COverlayRenderer;
  using StateMirror = CStateMirror;

  static constexpr Format kNoFormat = D3DFMT_UNKNOWN;
  static constexpr DWORD kPureDevice = D3DCREATE_PUREDEVICE;
  static constexpr DWORD kMultithreaded = D3DCREATE_MULTITHREADED;
  static constexpr DWORD kDoNotWait = D3DPRESENT_DONOTWAIT;
  static constexpr HRESULT kStillDrawing = D3DERR_WASSTILLDRAWING;
  // The overlay's Direct3D 8, where a wrapper it chose draws through this library.
  static constexpr const wchar_t* kLayerAbove = L"d3d8.dll";

  static Surface* MakeProbeSurface(Device* device);
  static bool StateBlockMade(const StateBlock& block) { return block != nullptr; }
  static void ReleaseStateBlock(Device* device, StateBlock& block);
  static HRESULT CaptureStateBlock(Device* device, StateBlock block);
  static void ApplyStateBlock(Device* device, StateBlock block);
  static SwapRules SwapRulesOf(const PresentParameters& parameters);
  static Surface* BackBuffer(Device* device, SwapChain* chain, UINT index);
  static bool Multisampled(const SurfaceDesc& desc) { return desc.MultiSampleType != D3DMULTISAMPLE_NONE; }
  static Surface* MakeCopyTarget(Device* device, const SurfaceDesc& desc);
  static bool CopyArea(Device* device, Surface* from, const RECT& area, Surface* to);
  static Caps CapsOf(Device* device);
  // The largest texture and the tiles' formats the device takes.
  static DeviceLimits LimitsOf(Device* device, const Caps& caps);
  static bool MakeVertexBuffer(Device* device, UINT bytes, VertexBuffer** buffer);
  static void* LockVertices(VertexBuffer* buffer, UINT offset, UINT bytes);
  static void DrawQuad(Device* device, Texture* texture, bool opaque, UINT firstVertex);
  static bool HookSwapChain(SwapChain* chain);
  static void RepatchTables();
  // Finds out which rotation the device's flips follow, with a small swap chain of the overlay's own on a window of
  // its own that is never shown; kUnknown when that cannot be made. Costs a few waits for the device, once.
  static FlipRotation ProbeFlipRotation(Device* device, ingame::CReferenceLedger<Direct3D9>& ledger);
  // The swap chain of the device's first head, which a game may present through as well as through the device.
  static SwapChain* OwnChain(Device* device);
};

// The Direct3D format of a tile's format.
D3DFORMAT ToD3D(TileFormat format);

using CReferenceLedger = ingame::CReferenceLedger<Direct3D9>;
using CountMethod = CReferenceLedger::CountMethod;
using PresentChain = ingame::PresentChain<Direct3D9>;
using CBackBufferKeeper = ingame::CBackBufferKeeper<Direct3D9>;

}  // namespace ingame::d3d9
