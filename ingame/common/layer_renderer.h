// What every layer's renderer does alike on its device, written once over the layer's Direct3D: it holds the
// overlay's core (overlay_core.h) and the device's few objects of the overlay's own besides the tiles (a vertex
// buffer of the quads, a state block of the states it sets), lets them go before a reset and makes them again after,
// soon after the device could not make them and then less and less often, and saves and restores the game's states
// around its drawing through that state block, or, on a pure device, the mirror of the game's calls. A layer's
// renderer derives from it and adds its staging, its copies of bands and its drawing.
//
// Besides what device_objects.h asks of the layer's `Api`:
//   types        Texture, VertexBuffer, Caps
//   functions    Caps CapsOf(Device*), DeviceLimits LimitsOf(Device*, const Caps&)
//                bool MakeVertexBuffer(Device*, UINT bytes, VertexBuffer**)   dynamic, write-only, the quads' format
//                void* LockVertices(VertexBuffer*, UINT offset, UINT bytes)   behind what was written, never waiting
//                void DrawQuad(Device*, Texture*, bool opaque, UINT firstVertex)   from stream 0, blended unless opaque
//                HRESULT CaptureStateBlock(Device*, StateBlock), void ApplyStateBlock(Device*, StateBlock)
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "ingame/common/backoff.h"
#include "ingame/common/device_objects.h"
#include "ingame/common/overlay_core.h"

namespace ingame {

template <class Api>
class CLayerRenderer : protected IDeviceTiles {
 public:
  using Device = typename Api::Device;
  using Mirror = typename Api::StateMirror;

  CLayerRenderer(const CLayerRenderer&) = delete;
  CLayerRenderer& operator=(const CLayerRenderer&) = delete;

  // Called when the device is made, before the game has it: posts the jobs of whatever the shared state holds
  // (COverlayCore::Prepare). Makes nothing on the device.
  void Prepare(const PresentChain<Api>& own) { core_.Prepare(own.width, own.height); }
  // Called once the device has presented, with the time the device took.
  void OnPresented(std::uint64_t presentMicroseconds) { core_.OnPresented(presentMicroseconds); }
  // Whether the benchmarks' counters are kept, and so whether the time of a present is worth taking.
  bool counting() const { return core_.counting(); }
  // While the game records a state block, the overlay's calls would go into it: nothing is drawn.
  void SetRecording(bool recording) { recording_ = recording; }
  // Before the device is reset: gives up everything a reset requires to be given up.
  void OnBeforeReset() {
    ReleaseAll();
    DeleteStateBlocks();
  }
  // After a reset, successful (`reset`) or not: what could not be made is tried at once.
  void OnAfterReset(bool reset) {
    recording_ = false;
    objectsRetry_.TryNow();
    core_.OnAfterReset(reset);
  }
  // Deletes the overlay's state block: before the objects that keep the device alive go.
  void DeleteStateBlocks() { ledger_.DeleteStateBlock(stateBlock_); }
  // Forgets everything made on the device without a call to it, once it has ended.
  void Abandon() {
    stateBlock_ = typename Api::StateBlock{};
    CReferenceLedger<Api>::Abandon(vertices_);
    core_.Abandon();
    AbandonStaging();
  }

 protected:
  // `mirror` follows the game's states on a device whose states cannot be read back; null on any other device.
  // The overlay's objects are counted in `ledger`.
  CLayerRenderer(Device* device, const Mirror* mirror, CReferenceLedger<Api>& ledger)
      : device_(device),
        mirror_(mirror),
        ledger_(ledger),
        caps_(Api::CapsOf(device)),
        core_(*this, Api::LimitsOf(device, caps_), true) {}
  ~CLayerRenderer() = default;

  // The layer's staging: let go of, or forgotten without a call to the device.
  virtual void ReleaseStaging() = 0;
  virtual void AbandonStaging() = 0;

  // Lets go of everything made on the device but the state block.
  void ReleaseAll() {
    core_.ReleaseAll();
    ReleaseStaging();
    ledger_.Release(vertices_);
    verticesWritten_ = false;
  }

  void ReleaseTile(TileTexture& texture) override {
    auto* tile = static_cast<typename Api::Texture*>(texture);
    ledger_.Release(tile);
    texture = nullptr;
  }

  // Captures the game's values of the states the overlay sets: into a state block of exactly those, recorded once
  // with `setStates`, or, on a pure device, whose states cannot be read, left to the mirror. The block holds values
  // only, never an object of the game's. False when the states cannot be saved, and then nothing is drawn.
  template <class SetStates>
  bool SaveStates(SetStates setStates) {
    if (mirror_) return true;
    if (!Api::StateBlockMade(stateBlock_)) {
      // Recorded: the block holds exactly the states that are set. The values recorded do not matter, only which
      // states are in the block.
      if (!objectsRetry_.Due(NowMicroseconds())) return false;
      const ULONG before = ledger_.DeviceCount();
      if (FAILED(device_->BeginStateBlock())) {
        objectsRetry_.Failed(NowMicroseconds());
        return false;
      }
      setStates();
      if (FAILED(device_->EndStateBlock(&stateBlock_)) || !Api::StateBlockMade(stateBlock_)) {
        stateBlock_ = typename Api::StateBlock{};
        objectsRetry_.Failed(NowMicroseconds());
        return false;
      }
      ledger_.AdoptStateBlock(before);
      objectsRetry_.Succeeded();
    }
    return SUCCEEDED(Api::CaptureStateBlock(device_, stateBlock_));
  }
  // Sets the saved states back (the bindings the layer puts back itself).
  void RestoreStates() {
    if (mirror_) {
      mirror_->Restore(device_);
    } else {
      Api::ApplyStateBlock(device_, stateBlock_);
    }
  }

  // Writes the list's quads into the overlay's vertex buffer, made on first use, unless it holds them already;
  // false when there is no buffer to draw from. Written behind what was written before, without waiting for the
  // device; a full buffer is let go (the device keeps it for as long as it draws from it) and a new one made. A
  // lock that discards is never used: it also never waits, but Wine backs such locks with a 64 MiB heap of its own.
  bool FillVertices(const DrawList& list) {
    if (verticesWritten_ && !list.quadsChanged) return true;
    const UINT quads = static_cast<UINT>(list.pieces.size());
    if (vertices_ && vertexNext_ + quads > vertexCapacity_) ledger_.Release(vertices_);
    if (!vertices_) {
      if (!objectsRetry_.Due(NowMicroseconds())) return false;
      // Room for many more pieces than an overlay usually has, so that a buffer lasts for many changes.
      const UINT capacity = std::max<UINT>(kVertexBufferQuads, quads);
      if (!Api::MakeVertexBuffer(device_, capacity * 4 * sizeof(QuadVertex), &vertices_)) {
        vertices_ = nullptr;
        objectsRetry_.Failed(NowMicroseconds());
        return false;
      }
      ledger_.Adopt(vertices_);
      objectsRetry_.Succeeded();
      vertexCapacity_ = capacity;
      vertexNext_ = 0;
    }
    verticesWritten_ = false;
    const UINT bytes = quads * 4 * sizeof(QuadVertex);
    void* data = Api::LockVertices(vertices_, vertexNext_ * 4 * sizeof(QuadVertex), bytes);
    if (!data) return false;
    std::memcpy(data, list.quads.data(), bytes);
    vertices_->Unlock();
    firstVertex_ = vertexNext_ * 4;
    vertexNext_ += quads;
    verticesWritten_ = true;
    return true;
  }
  // Draws piece `index` of the list as its quad, from the vertices FillVertices wrote.
  void DrawQuad(const DrawList& list, std::size_t index) {
    const DrawPiece& piece = list.pieces[index];
    Api::DrawQuad(device_, static_cast<typename Api::Texture*>(piece.texture), piece.opaque,
                  firstVertex_ + static_cast<UINT>(index * 4));
  }

  Device* const device_;
  const Mirror* const mirror_;
  CReferenceLedger<Api>& ledger_;
  const typename Api::Caps caps_;
  COverlayCore core_;
  bool recording_ = false;
  // The state block of the overlay's states, for saving and restoring the game's values on a device that can.
  typename Api::StateBlock stateBlock_{};
  // The overlay's own vertices, one quad of four for each piece, in a dynamic buffer of the device's memory (made
  // again after a reset), written only when the pieces change, each time behind the last.
  typename Api::VertexBuffer* vertices_ = nullptr;

 private:
  // How many quads the overlay's vertex buffer holds: written one frame's pieces after another.
  static constexpr UINT kVertexBufferQuads = 1024;

  // When the vertex buffer or the state block is made again after the device could not make it.
  CBackoff objectsRetry_;
  UINT vertexCapacity_ = 0;  // in quads
  UINT vertexNext_ = 0;      // the first quad not written yet
  UINT firstVertex_ = 0;     // where the list's quads were written
  bool verticesWritten_ = false;  // the buffer holds the list's quads
};

}  // namespace ingame
