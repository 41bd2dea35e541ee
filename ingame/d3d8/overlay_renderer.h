// The overlay's device work on a Direct3D 8 device, under the overlay's core (overlay_core.h), which decides what
// is shown: it keeps the tiles' textures and the staging textures a band of an image is written into before the
// device copies it into its tile (dynamic ones, whose lock with D3DLOCK_DISCARD never waits, else in system memory),
// and draws the core's draw list into the back buffer of the swap chain the game presents, just before it does,
// leaving every state of the game's as it was: opaque pieces copied where the back buffer has their format, the rest
// as quads through the pipeline, with the game's states saved and restored around them.
//
// The overlay's vertex buffer and state block, like the tiles, are made again after the device could not make them,
// soon after and then less and less often. A frame in which the device is lost, or in which the game records a
// state block, is drawn without the overlay.
#pragma once

#include <d3d8.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "ingame/common/layer_renderer.h"
#include "ingame/common/overlay_core.h"
#include "ingame/d3d8/direct3d8.h"
#include "ingame/d3d8/state_mirror.h"

namespace ingame::d3d8 {

class COverlayRenderer final : public CLayerRenderer<Direct3D8> {
 public:
  // `mirror` follows the game's states on a device whose states cannot be read back; null on any other device.
  // The overlay's objects are counted in `ledger`.
  COverlayRenderer(IDirect3DDevice8* device, const CStateMirror* mirror, CReferenceLedger& ledger)
      : CLayerRenderer(device, mirror, ledger) {}
  ~COverlayRenderer();

  // Called by the game's present of `chain`, before the device presents: draws the overlay into its back buffer
  // 0, in the `source` part of it (null: all of it). `newFrame` when this present begins a frame of the game's
  // (FrameCounter). Where the chain keeps its back buffers, what is drawn over is saved in `keeper` first; true
  // when the keeper must restore it once the device has presented.
  bool DrawInto(const PresentChain& chain, const RECT* source, bool newFrame, CBackBufferKeeper* keeper);

 private:
  // A texture a band of an image is written into before the device copies it into its tile: a dynamic texture of a
  // tile's size, whose lock with D3DLOCK_DISCARD never waits for the device.
  struct Staging {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    // Null where the device has no dynamic textures: `surface` is then in system memory.
    IDirect3DTexture8* texture = nullptr;
    IDirect3DSurface8* surface = nullptr;
  };

  // What the game has bound where the overlay binds its own, held by a reference of the overlay's while it draws:
  // the device's binding may be the only thing that keeps it.
  struct GameBindings {
    IDirect3DBaseTexture8* texture = nullptr;
    IDirect3DVertexBuffer8* stream = nullptr;
    UINT stride = 0;
    DWORD vertexShader = 0;
    DWORD pixelShader = 0;
    IDirect3DSurface8* renderTarget = nullptr;
    IDirect3DSurface8* depthStencil = nullptr;
  };

  // IDeviceTiles
  bool MakeTile(TileFormat format, int side, TileTexture& texture) override;
  bool FillBand(const Image& image, const UploadStep& step, TileFormat format, TileTexture tile, int tileX,
                int tileY) override;
  void Warm() override;

  HRESULT CopyBand(const Image& image, const UploadStep& step, TileFormat format, Staging& staging,
                   IDirect3DTexture8* tile, int tileX, int tileY);
  // The staging texture of `slot` in `format`, made or made again as needed; null when it cannot be.
  Staging* StagingFor(TileFormat format, int slot);
  void ReleaseStaging(Staging& staging);
  void ReleaseStaging() override;
  void AbandonStaging() override;
  void Draw(const DrawList& list, IDirect3DSurface8* backBuffer, UINT width, UINT height);
  void DrawWithPipeline(const DrawList& list, IDirect3DSurface8* backBuffer, UINT width, UINT height);
  // Sets the states of overlay_states.h and the viewport over the back buffer: what the state block saves.
  void SetOverlayStates(UINT width, UINT height);
  // Takes the game's bindings with a reference each, and gives them back.
  GameBindings SaveBindings();
  void RestoreBindings(GameBindings& bindings);
  // Draws the pieces in their order: copies into the back buffer, and, `withPipeline`, quads.
  void DrawPieces(const DrawList& list, IDirect3DSurface8* backBuffer, bool withPipeline);
  bool Copyable(const DrawPiece& piece) const;
  // Copies a piece into the back buffer; false when the device did not.
  bool Copy(const DrawPiece& piece, IDirect3DSurface8* backBuffer);

  // The back buffer drawn into now: opaque tiles of its format are copied into it.
  D3DFORMAT backBufferFormat_ = D3DFMT_UNKNOWN;
  // Staging textures in the tiles' two formats (with alpha; opaque), filled in turn, made on first use.
  Staging staging_[2][COverlayCore::kStagingSlots];
  // Staging in dynamic textures, until the device refuses to lock one or to copy from it into a tile: then in
  // system memory, for as long as the device lives.
  bool dynamicStaging_ = true;
};

}  // namespace ingame::d3d8
