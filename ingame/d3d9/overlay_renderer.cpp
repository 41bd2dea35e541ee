#include "ingame/d3d9/overlay_renderer.h"

#include <algorithm>
#include <cstring>

#include "ingame/d3d9/overlay_states.h"

namespace ingame::d3d9 {
namespace {

// How many quads the overlay's vertex buffer holds: written one frame's pieces after another.
constexpr UINT kVertexBufferQuads = 1024;

void Release(IUnknown* object) {
  if (object) object->Release();
}

D3DFORMAT ToD3D(TileFormat format) {
  switch (format) {
    case TileFormat::kA8R8G8B8: return D3DFMT_A8R8G8B8;
    case TileFormat::kA4R4G4B4: return D3DFMT_A4R4G4B4;
    case TileFormat::kA1R5G5B5: return D3DFMT_A1R5G5B5;
    case TileFormat::kX8R8G8B8: return D3DFMT_X8R8G8B8;
    default: return D3DFMT_UNKNOWN;
  }
}

D3DCAPS9 CapsOf(IDirect3DDevice9* device) {
  D3DCAPS9 caps{};
  if (FAILED(device->GetDeviceCaps(&caps))) caps = D3DCAPS9{};
  return caps;
}

// What the device holds: textures with alpha in the first format it takes. Opaque images are drawn as quads too (a
// copy into the back buffer would need a texture the device can stretch from), so none is kept for copies.
DeviceLimits LimitsOf(IDirect3DDevice9* device, const D3DCAPS9& caps) {
  DeviceLimits limits;
  limits.maxTextureWidth = caps.MaxTextureWidth;
  limits.maxTextureHeight = caps.MaxTextureHeight;
  IDirect3D9* direct3d = nullptr;
  D3DDEVICE_CREATION_PARAMETERS creation{};
  D3DDISPLAYMODE mode{};
  if (SUCCEEDED(device->GetDirect3D(&direct3d)) && direct3d && SUCCEEDED(device->GetCreationParameters(&creation)) &&
      SUCCEEDED(device->GetDisplayMode(0, &mode))) {
    for (const TileFormat format : {TileFormat::kA8R8G8B8, TileFormat::kA4R4G4B4, TileFormat::kA1R5G5B5}) {
      if (SUCCEEDED(direct3d->CheckDeviceFormat(creation.AdapterOrdinal, creation.DeviceType, mode.Format, 0,
                                                D3DRTYPE_TEXTURE, ToD3D(format)))) {
        limits.alphaFormat = format;
        break;
      }
    }
  }
  Release(direct3d);
  return limits;
}

}  // namespace

COverlayRenderer::COverlayRenderer(IDirect3DDevice9* device, const CStateMirror* mirror, CReferenceLedger& ledger)
    : device_(device),
      mirror_(mirror),
      ledger_(ledger),
      caps_(CapsOf(device)),
      core_(*this, LimitsOf(device, caps_), true) {}

COverlayRenderer::~COverlayRenderer() {
  // The state block first: the last of the textures may end the device.
  DeleteStateBlocks();
  ReleaseAll();
}

bool COverlayRenderer::DrawInto(const PresentChain& chain, const RECT* source, bool newFrame,
                                CBackBufferKeeper* keeper) {
  // A lost device draws nothing until the game has reset it; nor is anything drawn into a state block the game is
  // recording.
  const auto ready = [this] { return !recording_ && device_->TestCooperativeLevel() == D3D_OK; };
  const auto draw = [&](const DrawList& list, IDirect3DSurface9* backBuffer) {
    Draw(list, backBuffer, chain.width, chain.height);
  };
  return DrawFrame(core_, chain, source, newFrame, keeper, ready, draw);
}

void COverlayRenderer::OnBeforeReset() {
  ReleaseAll();
  ledger_.DeleteStateBlock(stateBlock_);
}

void COverlayRenderer::OnAfterReset(bool reset) {
  recording_ = false;
  objectsRetry_.TryNow();
  core_.OnAfterReset(reset);
}

void COverlayRenderer::Warm() {
  // A device that queues its commands may make the first lock of a surface wait until it has drawn all it has
  // queued; that wait is taken here, once, rather than with the first change shown.
  Staging* staging = StagingFor(core_.limits().alphaFormat, 0);
  if (!staging) return;
  D3DLOCKED_RECT locked{};
  const std::uint64_t locking = core_.counting() ? NowMicroseconds() : 0;
  if (SUCCEEDED(staging->surface->LockRect(&locked, nullptr, 0))) staging->surface->UnlockRect();
  if (core_.counting()) core_.AddLockTime(NowMicroseconds() - locking);
}

void COverlayRenderer::Abandon() {
  stateBlock_ = nullptr;
  CReferenceLedger::Abandon(vertices_);
  core_.Abandon();
  for (auto& ring : staging_) {
    for (Staging& staging : ring) staging = Staging{};
  }
}

void COverlayRenderer::ReleaseAll() {
  core_.ReleaseAll();
  for (auto& ring : staging_) {
    for (Staging& staging : ring) ReleaseStaging(staging);
  }
  ledger_.Release(vertices_);
  verticesWritten_ = false;
}

bool COverlayRenderer::MakeTile(TileFormat format, int side, TileTexture& texture) {
  // In the device's own memory: Direct3D 9Ex devices have no managed pool.
  IDirect3DTexture9* made = nullptr;
  const UINT size = static_cast<UINT>(side);
  if (FAILED(device_->CreateTexture(size, size, 1, 0, ToD3D(format), D3DPOOL_DEFAULT, &made, nullptr)) || !made) {
    return false;
  }
  ledger_.Adopt(made);
  texture = made;
  return true;
}

void COverlayRenderer::ReleaseTile(TileTexture& texture) {
  auto* tile = static_cast<IDirect3DTexture9*>(texture);
  ledger_.Release(tile);
  texture = nullptr;
}

bool COverlayRenderer::FillBand(const Image& image, const UploadStep& step, TileFormat format, TileTexture tile,
                                int tileX, int tileY) {
  Staging* staging = StagingFor(format, step.slot);
  if (!staging) return false;
  D3DLOCKED_RECT locked{};
  const bool counting = core_.counting();
  std::uint64_t locking = counting ? NowMicroseconds() : 0;
  if (FAILED(staging->surface->LockRect(&locked, nullptr, 0))) return false;
  if (counting) core_.AddLockTime(NowMicroseconds() - locking);
  if (locked.pBits) FillPart(image.pixels.data(), image.width, step.part, format, locked.pBits, locked.Pitch);
  locking = counting ? NowMicroseconds() : 0;
  staging->surface->UnlockRect();
  if (counting) core_.AddLockTime(NowMicroseconds() - locking);
  if (!locked.pBits) return false;
  IDirect3DSurface9* target = nullptr;
  if (FAILED(static_cast<IDirect3DTexture9*>(tile)->GetSurfaceLevel(0, &target)) || !target) return false;
  const RECT band{0, 0, static_cast<LONG>(step.part.Width()), static_cast<LONG>(step.part.Height())};
  const POINT corner{static_cast<LONG>(step.part.left - tileX), static_cast<LONG>(step.part.top - tileY)};
  const HRESULT copied = device_->UpdateSurface(staging->surface, &band, target, &corner);
  target->Release();
  return SUCCEEDED(copied);
}

COverlayRenderer::Staging* COverlayRenderer::StagingFor(TileFormat tileFormat, int slot) {
  const D3DFORMAT format = ToD3D(tileFormat);
  const UINT side = static_cast<UINT>(core_.tileSide());
  Staging& staging = staging_[tileFormat == core_.limits().alphaFormat ? 0 : 1][slot];
  if (staging.surface && staging.format == format) return &staging;
  ReleaseStaging(staging);
  if (FAILED(device_->CreateOffscreenPlainSurface(side, side, format, D3DPOOL_SYSTEMMEM, &staging.surface, nullptr)) ||
      !staging.surface) {
    staging.surface = nullptr;
    return nullptr;
  }
  ledger_.Adopt(staging.surface);
  staging.format = format;
  core_.CountTextureCreated();
  return &staging;
}

void COverlayRenderer::ReleaseStaging(Staging& staging) {
  ledger_.Release(staging.surface);
  staging.format = D3DFMT_UNKNOWN;
}

void COverlayRenderer::Draw(const DrawList& list, IDirect3DSurface9* backBuffer, UINT width, UINT height) {
  if (!FillVertices(list)) return;
  // The game's values of the render, stage and sampler states, the viewport and the scissor rectangle that the
  // overlay sets: captured into a state block of exactly those, or, where the device cannot be read, followed by the
  // mirror. The block holds values only, never an object of the game's.
  if (!mirror_) {
    if (!stateBlock_) {
      // Recorded: the block holds exactly the states that are set. Its viewport and scissor rectangle fit any
      // render target, since a viewport that does not fit the target of the moment is refused and left out.
      if (!objectsRetry_.Due(NowMicroseconds())) return;
      const ULONG before = ledger_.DeviceCount();
      if (FAILED(device_->BeginStateBlock())) return objectsRetry_.Failed(NowMicroseconds());
      SetOverlayStates(1, 1);
      if (FAILED(device_->EndStateBlock(&stateBlock_)) || !stateBlock_) {
        stateBlock_ = nullptr;
        return objectsRetry_.Failed(NowMicroseconds());
      }
      ledger_.AdoptStateBlock(before);
      objectsRetry_.Succeeded();
    }
    if (FAILED(stateBlock_->Capture())) return;
  }
  GameBindings bindings = SaveBindings();
  // The game may be drawing into a texture of its own, or into several targets at once: the overlay goes into the
  // back buffer alone, without a depth buffer, which may be smaller than the back buffer.
  bool targetReady = bindings.renderTargets[0] == backBuffer || SUCCEEDED(device_->SetRenderTarget(0, backBuffer));
  for (DWORD i = 1; i < 4 && targetReady; ++i) {
    if (bindings.renderTargets[i]) device_->SetRenderTarget(i, nullptr);
  }
  if (bindings.depthStencil) device_->SetDepthStencilSurface(nullptr);

  if (targetReady && SUCCEEDED(device_->BeginScene())) {
    SetOverlayStates(width, height);
    device_->SetVertexShader(nullptr);
    device_->SetPixelShader(nullptr);
    device_->SetFVF(kOverlayVertexFormat);
    device_->SetStreamSource(0, vertices_, 0, sizeof(QuadVertex));
    device_->SetStreamSourceFreq(0, kOverlayStreamFrequency);
    for (std::size_t i = 0; i < list.pieces.size(); ++i) DrawQuad(list, i);
    device_->EndScene();
  }

  // The game's render targets first: setting one resets the viewport and the scissor rectangle, which the restore
  // then sets back.
  for (DWORD i = 0; i < 4; ++i) {
    if (i == 0 ? bindings.renderTargets[0] != backBuffer : bindings.renderTargets[i] != nullptr) {
      device_->SetRenderTarget(i, bindings.renderTargets[i]);
    }
  }
  if (bindings.depthStencil) device_->SetDepthStencilSurface(bindings.depthStencil);
  if (mirror_) {
    mirror_->Restore(device_);
  } else {
    stateBlock_->Apply();
  }
  RestoreBindings(bindings);
}

COverlayRenderer::GameBindings COverlayRenderer::SaveBindings() {
  GameBindings bindings;
  if (mirror_) {
    bindings.texture = mirror_->BoundTexture0();
    bindings.stream = mirror_->BoundStream0();
    bindings.offset = mirror_->Stream0Offset();
    bindings.stride = mirror_->Stream0Stride();
    bindings.frequency = mirror_->Stream0Frequency();
    bindings.vertexShader = mirror_->VertexShader();
    bindings.pixelShader = mirror_->PixelShader();
    bindings.declaration = mirror_->VertexDeclaration();
    bindings.fvf = mirror_->Fvf();
    for (IUnknown* bound : std::initializer_list<IUnknown*>{bindings.texture, bindings.stream, bindings.vertexShader,
                                                             bindings.pixelShader, bindings.declaration}) {
      if (bound) bound->AddRef();
    }
  } else {
    if (FAILED(device_->GetTexture(0, &bindings.texture))) bindings.texture = nullptr;
    if (FAILED(device_->GetStreamSource(0, &bindings.stream, &bindings.offset, &bindings.stride))) {
      bindings.stream = nullptr;
    }
    if (FAILED(device_->GetStreamSourceFreq(0, &bindings.frequency))) bindings.frequency = 1;
    if (FAILED(device_->GetVertexShader(&bindings.vertexShader))) bindings.vertexShader = nullptr;
    if (FAILED(device_->GetPixelShader(&bindings.pixelShader))) bindings.pixelShader = nullptr;
    if (FAILED(device_->GetVertexDeclaration(&bindings.declaration))) bindings.declaration = nullptr;
    if (FAILED(device_->GetFVF(&bindings.fvf))) bindings.fvf = 0;
  }
  const DWORD targets = std::min<DWORD>(4, std::max<DWORD>(1, caps_.NumSimultaneousRTs));
  for (DWORD i = 0; i < targets; ++i) {
    if (FAILED(device_->GetRenderTarget(i, &bindings.renderTargets[i]))) bindings.renderTargets[i] = nullptr;
  }
  if (FAILED(device_->GetDepthStencilSurface(&bindings.depthStencil))) bindings.depthStencil = nullptr;
  return bindings;
}

void COverlayRenderer::RestoreBindings(GameBindings& bindings) {
  device_->SetTexture(0, bindings.texture);
  // Some implementations keep a stream's stride and offset when it is given no buffer: the game's go in with a
  // buffer first, so that an empty stream 0 reads back what the game left, not the overlay's.
  if (!bindings.stream) device_->SetStreamSource(0, vertices_, bindings.offset, bindings.stride);
  device_->SetStreamSource(0, bindings.stream, bindings.offset, bindings.stride);
  device_->SetStreamSourceFreq(0, bindings.frequency);
  device_->SetVertexShader(bindings.vertexShader);
  device_->SetPixelShader(bindings.pixelShader);
  // A vertex format and a declaration replace each other: the one the game set last goes back.
  if (bindings.fvf != 0) {
    device_->SetFVF(bindings.fvf);
  } else {
    device_->SetVertexDeclaration(bindings.declaration);
  }
  for (IUnknown* bound : std::initializer_list<IUnknown*>{
           bindings.depthStencil, bindings.renderTargets[0], bindings.renderTargets[1], bindings.renderTargets[2],
           bindings.renderTargets[3], bindings.declaration, bindings.pixelShader, bindings.vertexShader,
           bindings.stream, bindings.texture}) {
    Release(bound);
  }
}

void COverlayRenderer::SetOverlayStates(UINT width, UINT height) {
  const D3DVIEWPORT9 viewport{0, 0, width, height, 0.0f, 1.0f};
  device_->SetViewport(&viewport);
  const RECT scissor{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
  device_->SetScissorRect(&scissor);
  for (const RenderStateValue& s : kOverlayRenderStates) device_->SetRenderState(s.state, s.value);
  for (const StageStateValue& s : kOverlayStageStates) device_->SetTextureStageState(s.stage, s.type, s.value);
  for (const SamplerStateValue& s : kOverlaySamplerStates) device_->SetSamplerState(s.sampler, s.type, s.value);
}

bool COverlayRenderer::FillVertices(const DrawList& list) {
  if (verticesWritten_ && !list.quadsChanged) return true;
  // Written behind what was written before, with D3DLOCK_NOOVERWRITE, which never waits for the device; a full
  // buffer is let go (the device keeps it for as long as it draws from it) and a new one made.
  const UINT quads = static_cast<UINT>(list.pieces.size());
  if (vertices_ && vertexNext_ + quads > vertexCapacity_) ledger_.Release(vertices_);
  if (!vertices_) {
    if (!objectsRetry_.Due(NowMicroseconds())) return false;
    // Room for many more pieces than an overlay usually has, so that a buffer lasts for many changes.
    const UINT capacity = std::max<UINT>(kVertexBufferQuads, quads);
    if (FAILED(device_->CreateVertexBuffer(capacity * 4 * sizeof(QuadVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                           kOverlayVertexFormat, D3DPOOL_DEFAULT, &vertices_, nullptr))) {
      vertices_ = nullptr;
      objectsRetry_.Failed(NowMicroseconds());
      return false;
    }
    ledger_.Adopt(vertices_);
    objectsRetry_.Succeeded();
    vertexCapacity_ = capacity;
    vertexNext_ = 0;
  }
  void* data = nullptr;
  verticesWritten_ = false;
  const UINT bytes = quads * 4 * sizeof(QuadVertex);
  if (FAILED(vertices_->Lock(vertexNext_ * 4 * sizeof(QuadVertex), bytes, &data, D3DLOCK_NOOVERWRITE)) || !data) {
    return false;
  }
  std::memcpy(data, list.quads.data(), bytes);
  vertices_->Unlock();
  firstVertex_ = vertexNext_ * 4;
  vertexNext_ += quads;
  verticesWritten_ = true;
  return true;
}

void COverlayRenderer::DrawQuad(const DrawList& list, std::size_t index) {
  const DrawPiece& piece = list.pieces[index];
  device_->SetTexture(0, static_cast<IDirect3DTexture9*>(piece.texture));
  if (piece.opaque) device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, firstVertex_ + static_cast<UINT>(index * 4), 2);
  if (piece.opaque) device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
}

}  // namespace ingame::d3d9
