#include "ingame/d3d8/overlay_renderer.h"

#include <algorithm>
#include <cstring>

#include "ingame/d3d8/overlay_states.h"

namespace ingame::d3d8 {
namespace {

void Release(IUnknown* object) {
  if (object) object->Release();
}

}  // namespace

COverlayRenderer::~COverlayRenderer() {
  // The state block first: it holds no reference to the device, which the last of the textures may end.
  DeleteStateBlocks();
  ReleaseAll();
}

bool COverlayRenderer::DrawInto(const PresentChain& chain, const RECT* source, bool newFrame,
                                CBackBufferKeeper* keeper) {
  // A lost device draws nothing until the game has reset it; nor is anything drawn into a state block the game is
  // recording.
  const auto ready = [this] { return !recording_ && device_->TestCooperativeLevel() == D3D_OK; };
  const auto draw = [&](const DrawList& list, IDirect3DSurface8* backBuffer) {
    // Opaque tiles of the back buffer's format are copied into it.
    backBufferFormat_ = chain.multisampled ? D3DFMT_UNKNOWN : chain.format;
    Draw(list, backBuffer, chain.width, chain.height);
  };
  return DrawFrame(core_, chain, source, newFrame, keeper, ready, draw);
}

void COverlayRenderer::Warm() {
  // A device that queues its commands may make the first lock of a dynamic texture wait until it has drawn all
  // it has queued (Wine's does, once for each device and again after each reset); later locks with
  // D3DLOCK_DISCARD return at once. So that wait is taken here, once, rather than with the first change shown.
  Staging* staging = StagingFor(core_.limits().alphaFormat, 0);
  if (!staging || !staging->texture) return;
  D3DLOCKED_RECT locked{};
  const std::uint64_t locking = core_.counting() ? NowMicroseconds() : 0;
  if (SUCCEEDED(staging->texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD))) staging->texture->UnlockRect(0);
  if (core_.counting()) core_.AddLockTime(NowMicroseconds() - locking);
}

bool COverlayRenderer::MakeTile(TileFormat format, int side, TileTexture& texture) {
  IDirect3DTexture8* made = nullptr;
  const UINT size = static_cast<UINT>(side);
  if (FAILED(device_->CreateTexture(size, size, 1, 0, ToD3D(format), D3DPOOL_DEFAULT, &made)) || !made) return false;
  ledger_.Adopt(made);
  texture = made;
  return true;
}

bool COverlayRenderer::FillBand(const Image& image, const UploadStep& step, TileFormat format, TileTexture tile,
                                int tileX, int tileY) {
  auto* texture = static_cast<IDirect3DTexture8*>(tile);
  Staging* staging = StagingFor(format, step.slot);
  if (!staging) return false;
  const HRESULT result = CopyBand(image, step, format, *staging, texture, tileX, tileY);
  if (SUCCEEDED(result)) return true;
  if (result != D3DERR_INVALIDCALL || !staging->texture) return false;
  // Not every implementation copies from one texture of the device's memory into another: a Direct3D 8 over a
  // later Direct3D may copy there only into render targets. Every one copies from system memory into the device's,
  // so the bands go that way from now on, with locks that may wait for the device.
  dynamicStaging_ = false;
  for (auto& ring : staging_) {
    for (Staging& each : ring) ReleaseStaging(each);
  }
  staging = StagingFor(format, step.slot);
  return staging && SUCCEEDED(CopyBand(image, step, format, *staging, texture, tileX, tileY));
}

HRESULT COverlayRenderer::CopyBand(const Image& image, const UploadStep& step, TileFormat format, Staging& staging,
                                   IDirect3DTexture8* tile, int tileX, int tileY) {
  // A dynamic texture locked with D3DLOCK_DISCARD is given fresh memory at once, where any other lock may wait for
  // the device to finish the commands it has queued; the device then copies the band into the tile in its own time.
  D3DLOCKED_RECT locked{};
  const bool counting = core_.counting();
  const std::uint64_t locking = counting ? NowMicroseconds() : 0;
  const HRESULT lockedResult = staging.texture ? staging.texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD)
                                               : staging.surface->LockRect(&locked, nullptr, 0);
  if (counting) core_.AddLockTime(NowMicroseconds() - locking);
  if (FAILED(lockedResult)) return lockedResult;
  if (!locked.pBits) return E_FAIL;
  FillPart(image.pixels.data(), image.width, step.part, format, locked.pBits, locked.Pitch);
  const std::uint64_t unlocking = counting ? NowMicroseconds() : 0;
  if (staging.texture) {
    staging.texture->UnlockRect(0);
  } else {
    staging.surface->UnlockRect();
  }
  if (counting) core_.AddLockTime(NowMicroseconds() - unlocking);
  IDirect3DSurface8* target = nullptr;
  if (FAILED(tile->GetSurfaceLevel(0, &target))) return E_FAIL;
  const RECT band{0, 0, static_cast<LONG>(step.part.Width()), static_cast<LONG>(step.part.Height())};
  const POINT corner{static_cast<LONG>(step.part.left - tileX), static_cast<LONG>(step.part.top - tileY)};
  const HRESULT copied = device_->CopyRects(staging.surface, &band, 1, target, &corner);
  target->Release();
  return copied;
}

COverlayRenderer::Staging* COverlayRenderer::StagingFor(TileFormat tileFormat, int slot) {
  const D3DFORMAT format = ToD3D(tileFormat);
  const UINT side = static_cast<UINT>(core_.tileSide());
  Staging& staging = staging_[tileFormat == core_.limits().alphaFormat ? 0 : 1][slot];
  if (staging.surface && staging.format == format) return &staging;
  ReleaseStaging(staging);
  if (dynamicStaging_ && (caps_.Caps2 & D3DCAPS2_DYNAMICTEXTURES) != 0 &&
      SUCCEEDED(device_->CreateTexture(side, side, 1, D3DUSAGE_DYNAMIC, format, D3DPOOL_DEFAULT, &staging.texture))) {
    ledger_.Adopt(staging.texture);
    if (FAILED(staging.texture->GetSurfaceLevel(0, &staging.surface))) staging.surface = nullptr;
  } else {
    // Without dynamic textures: a surface in system memory, whose lock may wait.
    staging.texture = nullptr;
    if (SUCCEEDED(device_->CreateImageSurface(side, side, format, &staging.surface))) {
      ledger_.Adopt(staging.surface);
    } else {
      staging.surface = nullptr;
    }
  }
  if (!staging.surface) {
    ReleaseStaging(staging);
    return nullptr;
  }
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
  if (staging.texture) {
    // The level's reference is the texture's own: the texture holds what the device counts.
    Release(staging.surface);
    staging.surface = nullptr;
    ledger_.Release(staging.texture);
  } else {
    ledger_.Release(staging.surface);
  }
  staging.format = D3DFMT_UNKNOWN;
}

void COverlayRenderer::Draw(const DrawList& list, IDirect3DSurface8* backBuffer, UINT width, UINT height) {
  bool needsPipeline = false;
  for (const DrawPiece& piece : list.pieces) needsPipeline = needsPipeline || !Copyable(piece);
  if (needsPipeline) {
    DrawWithPipeline(list, backBuffer, width, height);
  } else {
    // Copies alone touch none of the game's states: nothing to save and restore.
    DrawPieces(list, backBuffer, false);
  }
}

void COverlayRenderer::DrawPieces(const DrawList& list, IDirect3DSurface8* backBuffer, bool withPipeline) {
  for (std::size_t i = 0; i < list.pieces.size(); ++i) {
    // A copy the device refuses is drawn as a quad instead, where the pipeline is set up.
    const bool copied = Copyable(list.pieces[i]) && Copy(list.pieces[i], backBuffer);
    if (!copied && withPipeline) DrawQuad(list, i);
  }
}

void COverlayRenderer::DrawWithPipeline(const DrawList& list, IDirect3DSurface8* backBuffer, UINT width,
                                        UINT height) {
  if (!FillVertices(list)) return;
  // The game's values of the render and stage states and the viewport that the overlay sets. The block is recorded
  // with a viewport that fits any render target, since one that does not fit the target of the moment is refused
  // and would be left out of the block.
  if (!SaveStates([this] { SetOverlayStates(1, 1); })) return;
  GameBindings bindings = SaveBindings();
  // The game may be drawing into a texture of its own: the overlay goes into the back buffer all the same.
  const bool retarget = bindings.renderTarget != backBuffer;
  const bool targetReady = !retarget || SUCCEEDED(device_->SetRenderTarget(backBuffer, nullptr));

  if (targetReady && SUCCEEDED(device_->BeginScene())) {
    SetOverlayStates(width, height);
    device_->SetVertexShader(kOverlayVertexFormat);
    device_->SetPixelShader(0);
    device_->SetStreamSource(0, vertices_, sizeof(QuadVertex));
    DrawPieces(list, backBuffer, true);
    device_->EndScene();
  }

  // The game's render target first: setting one resets the viewport, which the restore then sets back.
  if (retarget && targetReady) device_->SetRenderTarget(bindings.renderTarget, bindings.depthStencil);
  RestoreStates();
  RestoreBindings(bindings);
}

COverlayRenderer::GameBindings COverlayRenderer::SaveBindings() {
  GameBindings bindings;
  if (mirror_) {
    bindings.texture = mirror_->BoundTexture0();
    bindings.stream = mirror_->BoundStream0();
    bindings.stride = mirror_->Stream0Stride();
    bindings.vertexShader = mirror_->VertexShader();
    bindings.pixelShader = mirror_->PixelShader();
    if (bindings.texture) bindings.texture->AddRef();
    if (bindings.stream) bindings.stream->AddRef();
  } else {
    if (FAILED(device_->GetTexture(0, &bindings.texture))) bindings.texture = nullptr;
    if (FAILED(device_->GetStreamSource(0, &bindings.stream, &bindings.stride))) bindings.stream = nullptr;
    if (FAILED(device_->GetVertexShader(&bindings.vertexShader))) bindings.vertexShader = 0;
    if (FAILED(device_->GetPixelShader(&bindings.pixelShader))) bindings.pixelShader = 0;
  }
  if (FAILED(device_->GetRenderTarget(&bindings.renderTarget))) bindings.renderTarget = nullptr;
  if (FAILED(device_->GetDepthStencilSurface(&bindings.depthStencil))) bindings.depthStencil = nullptr;
  return bindings;
}

void COverlayRenderer::RestoreBindings(GameBindings& bindings) {
  device_->SetTexture(0, bindings.texture);
  // Some implementations (Wine's) keep a stream's stride when it is given no buffer: the game's stride goes in with
  // a buffer first, so that an empty stream 0 reads back the stride the game left, not the overlay's.
  if (!bindings.stream) device_->SetStreamSource(0, vertices_, bindings.stride);
  device_->SetStreamSource(0, bindings.stream, bindings.stride);
  // Set one by one rather than through the state block: a block captured where the game never set a shader may
  // leave the overlay's vertex format behind where the game would read 0.
  device_->SetVertexShader(bindings.vertexShader);
  device_->SetPixelShader(bindings.pixelShader);
  Release(bindings.depthStencil);
  Release(bindings.renderTarget);
  Release(bindings.stream);
  Release(bindings.texture);
}

void COverlayRenderer::SetOverlayStates(UINT width, UINT height) {
  const D3DVIEWPORT8 viewport{0, 0, width, height, 0.0f, 1.0f};
  device_->SetViewport(&viewport);
  for (const RenderStateValue& s : kOverlayRenderStates) device_->SetRenderState(s.state, s.value);
  for (const StageStateValue& s : kOverlayStageStates) device_->SetTextureStageState(s.stage, s.type, s.value);
}

bool COverlayRenderer::Copyable(const DrawPiece& piece) const {
  return piece.opaque && ToD3D(piece.format) == backBufferFormat_ && piece.format == core_.limits().copyableFormat;
}

bool COverlayRenderer::Copy(const DrawPiece& piece, IDirect3DSurface8* backBuffer) {
  IDirect3DSurface8* surface = nullptr;
  if (FAILED(static_cast<IDirect3DTexture8*>(piece.texture)->GetSurfaceLevel(0, &surface))) return false;
  // One rectangle a call: some implementations copy only the first rectangle of a call, and say it succeeded.
  const RECT from{static_cast<LONG>(piece.content.left), static_cast<LONG>(piece.content.top),
                  static_cast<LONG>(piece.content.right), static_cast<LONG>(piece.content.bottom)};
  const POINT to{static_cast<LONG>(piece.area.left), static_cast<LONG>(piece.area.top)};
  const HRESULT copied = device_->CopyRects(surface, &from, 1, backBuffer, &to);
  surface->Release();
  return SUCCEEDED(copied);
}

}  // namespace ingame::d3d8
