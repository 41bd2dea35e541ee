// The overlay's device work on a Direct3D 9 device, under the overlay's core (overlay_core.h), which decides what
// is shown: it keeps the tiles' textures and the surfaces in system memory a band of an image is written into before
// the device copies it into its tile, and draws the core's draw list as quads into the back buffer of the swap chain
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

#include "ingame/common/backoff.h"
#include "ingame/common/overlay_core.h"
#include "ingame/d3d9/direct3d9.h"
#include "ingame/d3d9/state_mirror.h"

namespace ingame::d3d9 {

class COverlayRenderer final : private IDeviceTiles {
 public:
  // `mirror` follows the game's states on a device whose states cannot be read back; null on any other device.
  // The overlay's objects are counted in `ledger`.
  COverlayRenderer(IDirect3DDevice9* device, const CStateMirror* mirror, CReferenceLedger& ledger);
  ~COverlayRenderer();
  COverlayRenderer(const COverlayRenderer&) = delete;
  COverlayRenderer& operator=(const COverlayRenderer&) = delete;

  // Called when the device is made, before the game has it: posts the jobs of whatever the shared state holds
  // (COverlayCore::Prepare). Makes nothing on the device.
  void Prepare(const PresentChain& own) { core_.Prepare(own.width, own.height); }
  // Called by the game's present of `chain`, before the device presents: draws the overlay into its back buffer
  // 0, in the `source` part of it (null: all of it). `newFrame` when this present begins a frame of the game's
  // (FrameCounter). Where the chain keeps its back buffers, what is drawn over is saved in `keeper` first; true
  // when the keeper must restore it once the device has presented.
  bool DrawInto(const PresentChain& chain, const RECT* source, bool newFrame, CBackBufferKeeper* keeper);
  // Called once the device has presented, with the time the device took.
  void OnPresented(std::uint64_t presentMicroseconds) { core_.OnPresented(presentMicroseconds); }
  // Whether the benchmarks' counters are kept, and so whether the time of a present is worth taking.
  bool counting() const { return core_.counting(); }
  // While the game records a state block, the overlay's calls would go into it: nothing is drawn.
  void SetRecording(bool recording) { recording_ = recording; }
  // Before the device is reset: gives up everything a reset requires to be given up.
  void OnBeforeReset();
  // After a reset, successful (`reset`) or not.
  void OnAfterReset(bool reset);
  // Deletes the overlay's state block: before the objects that keep the device alive go.
  void DeleteStateBlocks() { ledger_.DeleteStateBlock(stateBlock_); }
  // Forgets everything made on the device without a call to it, once it has ended.
  void Abandon();

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
  void ReleaseTile(TileTexture& texture) override;
  bool FillBand(const Image& image, const UploadStep& step, TileFormat format, TileTexture tile, int tileX,
                int tileY) override;
  void Warm() override;

  // The staging texture of `slot` in `format`, made or made again as needed; null when it cannot be.
  Staging* StagingFor(TileFormat format, int slot);
  void ReleaseStaging(Staging& staging);
  void ReleaseAll();
  void Draw(const DrawList& list, IDirect3DSurface9* backBuffer, UINT width, UINT height);
  // Sets the states of overlay_states.h, the viewport and the scissor rectangle over the back buffer: what the state
  // block saves.
  void SetOverlayStates(UINT width, UINT height);
  // Takes the game's bindings with a reference each, and gives them back.
  GameBindings SaveBindings();
  void RestoreBindings(GameBindings& bindings);
  // Writes the list's quads into the overlay's vertex buffer, made on first use, unless it holds them already;
  // false when there is no buffer to draw from.
  bool FillVertices(const DrawList& list);
  void DrawQuad(const DrawList& list, std::size_t index);

  IDirect3DDevice9* device_;
  const CStateMirror* mirror_;
  CReferenceLedger& ledger_;
  D3DCAPS9 caps_{};
  COverlayCore core_;
  bool recording_ = false;

  // The state block of the overlay's states, for saving and restoring the game's values on a device that can.
  IDirect3DStateBlock9* stateBlock_ = nullptr;
  // Staging textures in the tiles' two formats (with alpha; opaque), filled in turn, made on first use.
  Staging staging_[2][COverlayCore::kStagingSlots];
  // The overlay's own vertices, one quad of four for each piece, in a dynamic buffer of the device's memory (made
  // again after a reset), written only when the pieces change, each time behind the last.
  IDirect3DVertexBuffer9* vertices_ = nullptr;
  // When the vertex buffer or the state block is made again after the device could not make it.
  CBackoff objectsRetry_;
  UINT vertexCapacity_ = 0;  // in quads
  UINT vertexNext_ = 0;      // the first quad not written yet
  UINT firstVertex_ = 0;     // where the list's quads were written
  bool verticesWritten_ = false;  // the buffer holds the list's quads
};

}  // namespace ingame::d3d9
