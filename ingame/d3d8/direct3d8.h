// Direct3D 8 as the overlay's core sees it (device_objects.h, device_overlay.h): its interfaces, and the few calls
// whose form is its own.
#pragma once

#include <windows.h>
#include <d3d8.h>

#include "ingame/common/device_objects.h"
#include "ingame/common/flip_rotation.h"
#include "ingame/common/overlay_core.h"

namespace ingame::d3d8 {

class COverlayRenderer;
class CStateMirror;

struct Direct3D8 {
  using Device = IDirect3DDevice8;
  using SwapChain = IDirect3DSwapChain8;
  using Surface = IDirect3DSurface8;
  using Texture = IDirect3DTexture8;
  using VertexBuffer = IDirect3DVertexBuffer8;
  using Caps = D3DCAPS8;
  using StateBlock = DWORD;  // a token
  using PresentParameters = D3DPRESENT_PARAMETERS;
  using SurfaceDesc = D3DSURFACE_DESC;
  using Format = D3DFORMAT;
  using Renderer = COverlayRenderer;
  using StateMirror = CStateMirror;

  static constexpr Format kNoFormat = D3DFMT_UNKNOWN;
  static constexpr DWORD kPureDevice = D3DCREATE_PUREDEVICE;
  static constexpr DWORD kMultithreaded = D3DCREATE_MULTITHREADED;
  // Direct3D 8's presents always wait: no present of it finds the device still drawing.
  static constexpr DWORD kDoNotWait = 0;
  static constexpr HRESULT kStillDrawing = S_OK;
  static constexpr const wchar_t* kLayerAbove = nullptr;

  static Surface* MakeProbeSurface(Device* device);
  static bool StateBlockMade(const StateBlock& block) { return block != 0; }
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
  static FlipRotation ProbeFlipRotation(Device* device, ingame::CReferenceLedger<Direct3D8>& ledger);
  // The device's own swap chain is no object of its own on Direct3D 8.
  static SwapChain* OwnChain(Device*) { return nullptr; }
};

// The Direct3D format of a tile's format.
D3DFORMAT ToD3D(TileFormat format);

using CReferenceLedger = ingame::CReferenceLedger<Direct3D8>;
using CountMethod = CReferenceLedger::CountMethod;
using PresentChain = ingame::PresentChain<Direct3D8>;
using CBackBufferKeeper = ingame::CBackBufferKeeper<Direct3D8>;

}  // namespace ingame::d3d8
