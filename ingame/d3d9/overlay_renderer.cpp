#include "ingame/d3d9/overlay_renderer.h"

#include <algorithm>
#include <cstring>

#include "ingame/d3d9/overlay_states.h"

namespace ingame::d3d9 {
namespace {

void Release(IUnknown* object) {
  if (object) object->Release();
}

}  // namespace

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
    // Opaque tiles of the back buffer's format are copied into it.
    backBufferFormat_ = chain.multisampled ? D3DFMT_UNKNOWN : chain.format;
    Draw(list, backBuffer, chain.width, chain.height);
  };
  return DrawFrame(core_, chain, source, newFrame, keeper, ready, draw);
}

void COverlayRenderer::Warm() {
  // A device that queues its commands may make the first lock of a texture wait until it has drawn all it has
  // queued (Wine's does, once for each device and again after each reset); that wait is taken here, once, rather
  // than with the first change shown.
  const std::uint64_t locking = core_.counting() ? NowMicroseconds() : 0;
  if (dynamicTiles_) {
    TileTexture texture = nullptr;
    if (MakeTile(core_.limits().alphaFormat, core_.tileSide(), texture)) {
      auto* tile = static_cast<IDirect3DTexture9*>(texture);
      D3DLOCKED_RECT locked{};
      if (SUCCEEDED(tile->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD))) tile->UnlockRect(0);
      ReleaseTile(texture);
    }
  } else if (Staging* staging = StagingFor(core_.limits().alphaFormat, 0)) {
    D3DLOCKED_RECT locked{};
    if (SUCCEEDED(staging->surface->LockRect(&locked, nullptr, 0))) staging->surface->UnlockRect();
  }
  if (core_.counting()) core_.AddLockTime(NowMicroseconds() - locking);
}

bool COverlayRenderer::MakeTile(TileFormat format, int side, TileTexture& texture) {
  // In the device's own memory: Direct3D 9Ex devices have no managed pool.
  IDirect3DTexture9* made = nullptr;
  const UINT size = static_cast<UINT>(side);
  const DWORD usage = dynamicTiles_ ? D3DUSAGE_DYNAMIC : 0;
  if (FAILED(device_->CreateTexture(size, size, 1, usage, ToD3D(format), D3DPOOL_DEFAULT, &made, nullptr)) || !made) {
    return false;
  }
  ledger_.Adopt(made);
  texture = made;
  return true;
}

bool COverlayRenderer::FillBand(const Image& image, const UploadStep& step, TileFormat format, TileTexture tile,
                                int tileX, int tileY) {
  auto* texture = static_cast<IDirect3DTexture9*>(tile);
  const bool counting = core_.counting();
  if (dynamicTiles_) {
    // The tile itself, whole (the core fills whole tiles here), locked with D3DLOCK_DISCARD: it gets fresh memory at
    // once, while the device goes on drawing from what it held.
    D3DLOCKED_RECT locked{};
    const std::uint64_t locking = counting ? NowMicroseconds() : 0;
    const HRESULT result = texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD);
    if (SUCCEEDED(result) && locked.pBits) {
      auto* corner = static_cast<unsigned char*>(locked.pBits) + (step.part.top - tileY) * locked.Pitch +
                     (step.part.left - tileX) * PixelBytes(format);
      FillPart(image.pixels.data(), image.width, step.part, format, corner, locked.Pitch);
      texture->UnlockRect(0);
      if (counting) core_.AddLockTime(NowMicroseconds() - locking);
      return true;
    }
    if (SUCCEEDED(result)) texture->UnlockRect(0);
    if (result != D3DERR_INVALIDCALL) return false;
    // A device that lists dynamic textures but does not lock them so: the bands go through system memory from now on.
    dynamicTiles_ = false;
  }
  Staging* staging = StagingFor(format, step.slot);
  if (!staging) return false;
  D3DLOCKED_RECT locked{};
  std::uint64_t locking = counting ? NowMicroseconds() : 0;
  if (FAILED(staging->surface->LockRect(&locked, nullptr, 0))) return false;
  if (counting) core_.AddLockTime(NowMicroseconds() - locking);
  if (locked.pBits) FillPart(image.pixels.data(), image.width, step.part, format, locked.pBits, locked.Pitch);
  locking = counting ? NowMicroseconds() : 0;
  staging->surface->UnlockRect();
  if (counting) core_.AddLockTime(NowMicroseconds() - locking);
  if (!locked.pBits) return false;
  IDirect3DSurface9* target = nullptr;
  if (FAILED(texture->GetSurfaceLevel(0, &target)) || !target) return false;
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

void COverlayRenderer::ReleaseStaging() {
  for (auto& ring : staging_) {
    for (Staging& staging : ring) ReleaseStaging(staging);
  }
}

void COverlayRenderer::AbandonStaging() {
  for (auto& ring : staging_) {
    for (Staging& staging : ring) staging = Staging{};
  }
}

void COverlayRenderer::ReleaseStaging(Staging& staging) {
  ledger_.Release(staging.surface);
  staging.format = D3DFMT_UNKNOWN;
}

void COverlayRenderer::Draw(const DrawList& list, IDirect3DSurface9* backBuffer, UINT width, UINT height) {
  bool needsPipeline = false;
  for (const DrawPiece& piece : list.pieces) needsPipeline = needsPipeline || !Copyable(piece);
  if (!needsPipeline) {
    // Copies alone touch none of the game's states: nothing to save and restore. Where the device refuses one (not
    // every implementation copies from every texture), the pieces are drawn through the pipeline instead.
    bool copied = true;
    for (const DrawPiece& piece : list.pieces) copied = Copy(piece, backBuffer) && copied;
    if (copied) return;
  }
  if (!FillVertices(list)) return;
  // The game's values of the render, stage and sampler states, the viewport and the scissor rectangle that the
  // overlay sets. The block is recorded with a viewport and a scissor rectangle that fit any render target, since
  // one that does not fit the target of the moment is refused and would be left out of the block.
  if (!SaveStates([this] { SetOverlayStates(1, 1); })) return;
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
    // In their order: copies into the back buffer, and quads; a copy the device refuses is drawn as a quad.
    for (std::size_t i = 0; i < list.pieces.size(); ++i) {
      if (!Copyable(list.pieces[i]) || !Copy(list.pieces[i], backBuffer)) DrawQuad(list, i);
    }
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
  RestoreStates();
  RestoreBindings(bindings);
}

bool COverlayRenderer::Copyable(const DrawPiece& piece) const {
  return piece.opaque && ToD3D(piece.format) == backBufferFormat_ && piece.format == core_.limits().copyableFormat;
}

bool COverlayRenderer::Copy(const DrawPiece& piece, IDirect3DSurface9* backBuffer) {
  IDirect3DSurface9* surface = nullptr;
  if (FAILED(static_cast<IDirect3DTexture9*>(piece.texture)->GetSurfaceLevel(0, &surface)) || !surface) return false;
  const RECT from{static_cast<LONG>(piece.content.left), static_cast<LONG>(piece.content.top),
                  static_cast<LONG>(piece.content.right), static_cast<LONG>(piece.content.bottom)};
  const RECT to{static_cast<LONG>(piece.area.left), static_cast<LONG>(piece.area.top),
                static_cast<LONG>(piece.area.right), static_cast<LONG>(piece.area.bottom)};
  const HRESULT copied = device_->StretchRect(surface, &from, backBuffer, &to, D3DTEXF_NONE);
  surface->Release();
  return SUCCEEDED(copied);
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

}  // namespace ingame::d3d9
