// The overlay's device work on a Direct3D 9 device, under the overlay's core (overlay_core.h), which decides what
// is shown: it keeps the tiles' textures, dynamic ones filled whole with locks that never wait (else filled from
// surfaces in system memory, which the device copies into them), and draws the core's draw list as quads into the
// back buffer of the swap chain
// the game presents, just before it does, inside a scene of its own, with the game's states saved and restored
// around them: the render, stage and sampler states, the viewport and scissor rectangle through a state block of
// exactly those (or a mirror of the game's calls on a pure device), the bindings one by one.
//
// The overlay's vertex buffer and state block, like the tiles, are made again after the device could not make them,
// soon after and then less and less often. A frame in which the device is lost, or in which the game records a
// state block, is drawn without the overlay.
#pragma once

#include <d3d9.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "ingame/common/layer_renderer.h"
#include "ingame/common/overlay_core.h"
#include "ingame/d3d9/direct3d9.h"
#include "ingame/d3d9/state_mirror.h"

namespace ingame::d3d9 {

class COverlayRenderer final : public CLayerRenderer<Direct3D9> {
 public:
  // `mirror` follows the game's states on a device whose states cannot be read back; null on any other device.
  // The overlay's objects are counted in `ledger`.
  COverlayRenderer(IDirect3DDevice9* device, const CStateMirror* mirror, CReferenceLedger& ledger)
      : CLayerRenderer(device, mirror, ledger), dynamicTiles_(core_.limits().wholeTiles) {}
  ~COverlayRenderer();

  // Called by the game's present of `chain`, before the device presents: draws the overlay into its back buffer
  // 0, in the `source` part of it (null: all of it). `newFrame` when this present begins a frame of the game's
  // (FrameCounter). Where the chain keeps its back buffers, what is drawn over is saved in `keeper` first; true
  // when the keeper must restore it once the device has presented.
  bool DrawInto(const PresentChain& chain, const RECT* source, bool newFrame, CBackBufferKeeper* keeper);

 private:
  // A surface in system memory of a tile's size that a band of an image is written into before the device copies it
  // into its tile (UpdateSurface copies from system memory only). Several are filled in turn, so that a lock
  // rarely meets a copy the device has not made yet.
  struct Staging {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    IDirect3DSurface9* surface = nullptr;
  };

  // What the game has bound where the overlay binds its own, held by a reference of the overlay's while it draws:
  // the device's binding may be the only thing that keeps it.
  struct GameBindings {
    IDirect3DBaseTexture9* texture = nullptr;
    IDirect3DVertexBuffer9* stream = nullptr;
    UINT offset = 0;
    UINT stride = 0;
    UINT frequency = 1;
    IDirect3DVertexShader9* vertexShader = nullptr;
    IDirect3DPixelShader9* pixelShader = nullptr;
    IDirect3DVertexDeclaration9* declaration = nullptr;
    DWORD fvf = 0;
    IDirect3DSurface9* renderTargets[4] = {};
    IDirect3DSurface9* depthStencil = nullptr;
  };

  // IDeviceTiles
  bool MakeTile(TileFormat format, int side, TileTexture& texture) override;
  bool FillBand(const Image& image, const UploadStep& step, TileFormat format, TileTexture tile, int tileX,
                int tileY) override;
  void Warm() override;

  // The staging texture of `slot` in `format`, made or made again as needed; null when it cannot be.
  Staging* StagingFor(TileFormat format, int slot);
  void ReleaseStaging(Staging& staging);
  void ReleaseStaging() override;
  void AbandonStaging() override;
  void Draw(const DrawList& list, IDirect3DSurface9* backBuffer, UINT width, UINT height);
  bool Copyable(const DrawPiece& piece) const;
  // Copies a piece into the back buffer; false when the device did not.
  bool Copy(const DrawPiece& piece, IDirect3DSurface9* backBuffer);
  // Sets the states of overlay_states.h, the viewport and the scissor rectangle over the back buffer: what the state
  // block saves.
  void SetOverlayStates(UINT width, UINT height);
  // Takes the game's bindings with a reference each, and gives them back.
  GameBindings SaveBindings();
  void RestoreBindings(GameBindings& bindings);

  // The back buffer drawn into now: opaque tiles of its format are copied into it.
  D3DFORMAT backBufferFormat_ = D3DFMT_UNKNOWN;
  // Tiles are dynamic textures, filled whole with locks that discard what they held, which never wait for the
  // device; until a device refuses such a lock, or where it has no dynamic textures: then filled from system memory.
  bool dynamicTiles_;
  // Staging textures in the tiles' two formats (with alpha; opaque), filled in turn, made on first use.
  Staging staging_[2][COverlayCore::kStagingSlots];
};

}  // namespace ingame::d3d9
