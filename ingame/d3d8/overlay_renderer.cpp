#include "ingame/d3d8/overlay_renderer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "ingame/common/shared_section.h"
#include "ingame/d3d8/allocation_count.h"
#include "ingame/d3d8/overlay_states.h"
#include "ingame/d3d8/text_raster.h"

namespace ingame {
namespace {

// How long a game waits before it tries again to open the shared state when it could not.
constexpr ULONGLONG kReopenIntervalMs = 1000;

// The frame-rate figure: yellow on black, bold monospace, in the top right corner.
constexpr std::uint32_t kFpsColour = 0xFFFFFF00;
constexpr int kFpsTextHeight = 16;
constexpr int kFpsMargin = 4;
constexpr int kFpsPaddingX = 4;
constexpr int kFpsPaddingY = 2;

struct Vertex {
  float x, y, z, rhw;
  DWORD colour;
  float u, v;
};

// The shared state, opened once for the whole process by the first device that presents.
SharedState* ProcessState() {
  static std::atomic<SharedState*> state{nullptr};
  static std::atomic<ULONGLONG> lastAttempt{0};
  static std::atomic<bool> opening{false};
  static SectionView section;
  SharedState* current = state.load(std::memory_order_acquire);
  if (current) return current;
  const ULONGLONG now = GetTickCount64();
  const ULONGLONG last = lastAttempt.load(std::memory_order_relaxed);
  if (last != 0 && now - last < kReopenIntervalMs) return nullptr;
  if (opening.exchange(true)) return nullptr;  // another device's thread is at it
  lastAttempt.store(now, std::memory_order_relaxed);
  section = OpenStateSection();
  current = StateOf(section);
  state.store(current, std::memory_order_release);
  opening.store(false);
  return current;
}

// The benchmarks' counters of this process, made on first use when the game runs with them; null otherwise.
OverlayStats* ProcessStats() {
  static OverlayStats* const stats = [] {
    char value[8];
    if (GetEnvironmentVariableA(kStatsVariable, value, sizeof value) == 0) return static_cast<OverlayStats*>(nullptr);
    UserOnlySecurity security;
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, security.attributes(), PAGE_READWRITE, 0,
                                        sizeof(OverlayStats), StatsSectionName(GetCurrentProcessId()).c_str());
    void* view = section ? MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(OverlayStats)) : nullptr;
    // Kept for the process's life, like the counters.
    return static_cast<OverlayStats*>(view);
  }();
  return stats;
}

template <class Field>
void Count(OverlayStats* stats, Field OverlayStats::*field) {
  if (stats) (stats->*field).fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

std::uint64_t NowMicroseconds() {
  static const std::uint64_t frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return f.QuadPart > 0 ? static_cast<std::uint64_t>(f.QuadPart) : 1;
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  const auto ticks = static_cast<std::uint64_t>(now.QuadPart);
  // In two steps, so that the product cannot overflow however long the machine has run.
  return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

namespace {

UINT NextPowerOfTwo(UINT value) {
  UINT power = 1;
  while (power < value && power < 0x80000000u) power <<= 1;
  return power;
}

// Copies a slot's record when it changed since `sequence`. A record that fails its check is taken as empty, so a
// malformed state draws nothing; a record being written is tried again next frame. True when the copy changed.
template <class Record, class Check>
bool Refresh(const Slot<Record>& slot, Record& record, std::uint32_t& sequence, bool& read, Check check) {
  const std::uint32_t now = Sequence(slot);
  if (read && now == sequence) return false;
  Record copy;
  std::uint32_t copied = 0;
  if (!TryRead(slot, copy, copied)) return false;
  record = check(copy) ? copy : Record{};
  sequence = copied;
  read = true;
  return true;
}

void Release(IUnknown* object) {
  if (object) object->Release();
}

// The picture of the generation shown last, for the whole process: its section stays open while the game runs, so
// that a reset, a device made anew or a game started later still finds it after the dialog has let it go.
class PictureSection {
 public:
  // A view of the picture section of `generation`; empty when there is none.
  SectionView Map(std::uint32_t generation) {
    AcquireSRWLockExclusive(&lock_);
    if (generation != generation_) {
      SectionView opened = OpenPictureSection(generation);
      if (opened) {
        // Only the section is kept: it is mapped again when a texture is made of it.
        opened.Unmap();
        kept_ = static_cast<SectionView&&>(opened);
        generation_ = generation;
      }
    }
    SectionView view = generation == generation_ ? kept_.MapAgain() : SectionView();
    ReleaseSRWLockExclusive(&lock_);
    return view;
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  SectionView kept_;
  std::uint32_t generation_ = 0;
};

PictureSection& ProcessPicture() {
  static PictureSection picture;
  return picture;
}

}  // namespace

COverlayRenderer::COverlayRenderer(IDirect3DDevice8* device, const CStateMirror* mirror, CReferenceLedger& ledger)
    : device_(device), mirror_(mirror), ledger_(ledger), stats_(ProcessStats()) {
  usable_ = SUCCEEDED(device_->GetDeviceCaps(&caps_)) && caps_.MaxTextureWidth > 0 && caps_.MaxTextureHeight > 0;
}

COverlayRenderer::~COverlayRenderer() {
  // The state block first: it holds no reference to the device, which the last of the textures may end.
  DeleteStateBlocks();
  ReleaseSprites();
  // The game is gone from this device: it no longer answers for the screen size.
  if (screenWord_ != 0) {
    if (SharedState* state = ProcessState()) {
      ScreenWord expected = screenWord_;
      state->screen.compare_exchange_strong(expected, 0);
    }
  }
}

bool COverlayRenderer::DrawInto(const PresentChain& chain, const RECT* source, bool newFrame,
                                CBackBufferKeeper* keeper) {
  const std::uint64_t start = stats_ ? NowMicroseconds() : 0;
  if (newFrame && fpsMeter_.AddFrame(NowMicroseconds() / 1000)) {
    fpsSprite_.built = false;
    if (stats_) stats_->fps.store(static_cast<std::uint32_t>(fpsMeter_.Fps()), std::memory_order_relaxed);
  }
  bool saved = false;
  SharedState* state = ProcessState();
  // The presented part of the back buffer is the overlay's screen.
  Rect screen{0, 0, chain.width, chain.height};
  if (source) screen = Intersect(screen, Rect{source->left, source->top, source->right, source->bottom});
  if (state && usable_ && !screen.Empty()) {
    PublishScreen(*state, screen);
    const std::uint32_t before[kStatsSlotCount] = {lineSequence_, blockSequence_, pictureSequence_,
                                                   switchesSequence_};
    ReadSharedState(*state);
    if (stats_) {
      const std::uint64_t begun = stats_->presentsBegun.fetch_add(1) + 1;
      const std::uint32_t after[kStatsSlotCount] = {lineSequence_, blockSequence_, pictureSequence_,
                                                    switchesSequence_};
      for (int slot = 0; slot < kStatsSlotCount; ++slot) {
        if (after[slot] != before[slot] || readAtBegun_[slot] == 0) readAtBegun_[slot] = begun;
      }
    }
    // A lost device draws nothing until the game has reset it; nor is anything drawn into a state block the game
    // is recording.
    if (AnythingShown() && !recording_ && device_->TestCooperativeLevel() == D3D_OK) {
      copyFormat_ = chain.format == D3DFMT_X8R8G8B8 && chain.multiSample == D3DMULTISAMPLE_NONE ? D3DFMT_X8R8G8B8
                                                                                                : D3DFMT_UNKNOWN;
      SetCanvas(screen);
      Piece pieces[4];
      const int count = Pieces(screen, pieces);
      IDirect3DSurface8* backBuffer = count > 0 ? chain.BackBuffer(0) : nullptr;
      if (backBuffer) {
        bool drawable = true;
        if (chain.keepsBackBuffers && keeper) {
          RECT areas[4];
          for (int i = 0; i < count; ++i) {
            areas[i] = RECT{static_cast<LONG>(pieces[i].area.left), static_cast<LONG>(pieces[i].area.top),
                            static_cast<LONG>(pieces[i].area.right), static_cast<LONG>(pieces[i].area.bottom)};
          }
          // What cannot be saved is not drawn over: the game would find the overlay in its next frame.
          drawable = saved = keeper->Save(chain, backBuffer, areas, count);
        }
        if (drawable) Draw(pieces, count, backBuffer, chain.width, chain.height);
        backBuffer->Release();
      }
    }
  }
  if (stats_) stats_->overlayMicroseconds.fetch_add(NowMicroseconds() - start, std::memory_order_relaxed);
  return saved;
}

void COverlayRenderer::OnPresented(std::uint64_t presentMicroseconds) {
  if (!stats_) return;
  stats_->presentMicroseconds.fetch_add(presentMicroseconds, std::memory_order_relaxed);
  const std::uint64_t presents = stats_->presents.fetch_add(1) + 1;
  stats_->allocations.store(g_overlayAllocations.load(std::memory_order_relaxed), std::memory_order_relaxed);
  const std::pair<bool, std::uint32_t> drawn[kStatsSlotCount] = {
      {lineRead_, lineSequence_}, {blockRead_, blockSequence_}, {pictureRead_, pictureSequence_},
      {switchesRead_, switchesSequence_}};
  for (int slot = 0; slot < kStatsSlotCount; ++slot) {
    if (!drawn[slot].first || stats_->drawnSequence[slot].load() == drawn[slot].second) continue;
    stats_->drawnAtPresent[slot].store(presents);
    stats_->drawnAtBegun[slot].store(readAtBegun_[slot]);
    stats_->drawnSequence[slot].store(drawn[slot].second);
  }
}

void COverlayRenderer::OnBeforeReset() {
  ReleaseSprites();
  ledger_.DeleteStateBlock(device_, stateBlock_);
}

void COverlayRenderer::Abandon() {
  stateBlock_ = 0;
  for (Sprite* sprite : {&lineSprite_.sprite, &blockSprite_.sprite, &fpsSprite_.sprite, &pictureSprite_.sprite}) {
    *sprite = Sprite{};
  }
}

void COverlayRenderer::OnAfterReset() {
  recording_ = false;
  canvasWidth_ = 0;
  canvasHeight_ = 0;
}

void COverlayRenderer::SetCanvas(const Rect& screen) {
  if (screen.Width() <= canvasWidth_ && screen.Height() <= canvasHeight_) return;
  canvasWidth_ = std::max(canvasWidth_, screen.Width());
  canvasHeight_ = std::max(canvasHeight_, screen.Height());
  lineSprite_.built = false;
  blockSprite_.built = false;
}

void COverlayRenderer::PublishScreen(SharedState& state, const Rect& screen) {
  screenWord_ = PackScreen(GetCurrentProcessId(), static_cast<std::uint32_t>(screen.Width()),
                           static_cast<std::uint32_t>(screen.Height()));
  if (state.screen.load(std::memory_order_relaxed) != screenWord_) {
    state.screen.store(screenWord_, std::memory_order_release);
  }
  state.screenTick.store(GetTickCount(), std::memory_order_relaxed);
}

void COverlayRenderer::ReadSharedState(const SharedState& state) {
  if (Refresh(state.line, line_, lineSequence_, lineRead_, CheckLine)) lineSprite_.built = false;
  if (Refresh(state.block, block_, blockSequence_, blockRead_, CheckBlock)) blockSprite_.built = false;
  if (Refresh(state.picture, picture_, pictureSequence_, pictureRead_, CheckPicture)) pictureSprite_.built = false;
  const bool fpsWasShown = switches_.fpsShown != 0;
  if (Refresh(state.switches, switches_, switchesSequence_, switchesRead_, [](const SwitchRecord&) { return true; }) &&
      switches_.fpsShown && !fpsWasShown) {
    fpsSprite_.built = false;
  }
}

bool COverlayRenderer::AnythingShown() const {
  return switches_.lineShown || switches_.blockShown || switches_.pictureShown || switches_.fpsShown;
}

int COverlayRenderer::Pieces(const Rect& screen, Piece (&pieces)[4]) {
  if (switches_.lineShown && !lineSprite_.built) BuildLine();
  if (switches_.blockShown && !blockSprite_.built) BuildBlock();
  if (switches_.pictureShown && !pictureSprite_.built) BuildPicture();
  if (switches_.fpsShown && !fpsSprite_.built) BuildFps();

  // Bottom first: the picture, then the block, the line and the frame rate. Each is placed on the screen (the
  // overlay's coordinates moved to its corner) and cut to it.
  int count = 0;
  const auto add = [&](const Sprite& sprite, const Rect& placed) {
    if (!sprite.texture || sprite.contentWidth == 0) return;
    const Rect moved{placed.left + screen.left, placed.top + screen.top, placed.right + screen.left,
                     placed.bottom + screen.top};
    const Rect area = Intersect(moved, screen);
    if (area.Empty()) return;
    pieces[count++] = Piece{&sprite, area,
                            Rect{area.left - moved.left, area.top - moved.top, area.right - moved.left,
                                 area.bottom - moved.top}};
  };
  if (switches_.pictureShown) {
    const Sprite& sprite = pictureSprite_.sprite;
    add(sprite, Rect{switches_.pictureX, switches_.pictureY, switches_.pictureX + std::int64_t{sprite.contentWidth},
                     switches_.pictureY + std::int64_t{sprite.contentHeight}});
  }
  if (switches_.blockShown) add(blockSprite_.sprite, blockSprite_.area);
  if (switches_.lineShown) add(lineSprite_.sprite, lineSprite_.area);
  if (switches_.fpsShown) {
    const Sprite& sprite = fpsSprite_.sprite;
    const std::int64_t right = screen.Width() - kFpsMargin;
    add(sprite, Rect{right - sprite.contentWidth, kFpsMargin, right, kFpsMargin + std::int64_t{sprite.contentHeight}});
  }
  return count;
}

void COverlayRenderer::Draw(const Piece* pieces, int count, IDirect3DSurface8* backBuffer, UINT width, UINT height) {
  bool needsPipeline = false;
  for (int i = 0; i < count; ++i) needsPipeline = needsPipeline || !Copyable(*pieces[i].sprite);
  if (needsPipeline) {
    DrawWithPipeline(pieces, count, backBuffer, width, height);
  } else {
    // Copies alone touch none of the game's states: nothing to save and restore.
    for (int i = 0; i < count; ++i) Copy(pieces[i], backBuffer);
  }
}

void COverlayRenderer::DrawWithPipeline(const Piece* pieces, int count, IDirect3DSurface8* backBuffer, UINT width,
                                        UINT height) {
  // The game's values of the states the overlay sets: captured into a state block of exactly those states, or,
  // where the device cannot be read, followed by the mirror.
  if (!mirror_) {
    if (!stateBlock_) {
      // Recorded: the block holds exactly the states that are set, and drawing also sets the texture of stage 0
      // and (drawing from memory) empties stream 0. The values recorded do not matter, only which states are in
      // the block: its viewport is one that fits any render target, since one that does not fit the target of the
      // moment is refused and would be left out of the block.
      if (FAILED(device_->BeginStateBlock())) return;
      SetOverlayStates(1, 1);
      device_->SetTexture(0, nullptr);
      device_->SetStreamSource(0, nullptr, 0);
      if (FAILED(device_->EndStateBlock(&stateBlock_))) {
        stateBlock_ = 0;
        return;
      }
      ledger_.AdoptStateBlock();
    }
    if (FAILED(device_->CaptureStateBlock(stateBlock_))) return;
  }

  // What the game has bound where the overlay binds its own is held by a reference of the overlay's until it is
  // bound again: the device's binding may be the only thing that keeps it.
  IDirect3DBaseTexture8* texture = nullptr;
  IDirect3DVertexBuffer8* stream = nullptr;
  if (mirror_) {
    texture = mirror_->BoundTexture0();
    stream = mirror_->BoundStream0();
    if (texture) texture->AddRef();
    if (stream) stream->AddRef();
  } else {
    UINT stride = 0;
    if (FAILED(device_->GetTexture(0, &texture))) texture = nullptr;
    if (FAILED(device_->GetStreamSource(0, &stream, &stride))) stream = nullptr;
  }
  // The game may be drawing into a texture of its own: the overlay goes into the back buffer all the same.
  IDirect3DSurface8* renderTarget = nullptr;
  IDirect3DSurface8* depthStencil = nullptr;
  if (FAILED(device_->GetRenderTarget(&renderTarget))) renderTarget = nullptr;
  if (FAILED(device_->GetDepthStencilSurface(&depthStencil))) depthStencil = nullptr;
  const bool retarget = renderTarget != backBuffer;
  const bool targetReady = !retarget || SUCCEEDED(device_->SetRenderTarget(backBuffer, nullptr));

  if (targetReady && SUCCEEDED(device_->BeginScene())) {
    SetOverlayStates(width, height);
    for (int i = 0; i < count; ++i) {
      if (!Copyable(*pieces[i].sprite) || !Copy(pieces[i], backBuffer)) DrawQuad(pieces[i]);
    }
    device_->EndScene();
  }

  // The game's render target first: setting one resets the viewport, which the restore then sets back.
  if (retarget && targetReady) device_->SetRenderTarget(renderTarget, depthStencil);
  if (mirror_) {
    mirror_->Restore(device_);
  } else {
    device_->ApplyStateBlock(stateBlock_);
  }
  Release(depthStencil);
  Release(renderTarget);
  Release(stream);
  Release(texture);
}

void COverlayRenderer::SetOverlayStates(UINT width, UINT height) {
  const D3DVIEWPORT8 viewport{0, 0, width, height, 0.0f, 1.0f};
  device_->SetViewport(&viewport);
  for (const RenderStateValue& s : kOverlayRenderStates) device_->SetRenderState(s.state, s.value);
  for (const StageStateValue& s : kOverlayStageStates) device_->SetTextureStageState(s.stage, s.type, s.value);
  device_->SetVertexShader(kOverlayVertexFormat);
  device_->SetPixelShader(0);
}

bool COverlayRenderer::Copyable(const Sprite& sprite) const {
  return sprite.opaque && sprite.format == copyFormat_;
}

bool COverlayRenderer::Copy(const Piece& piece, IDirect3DSurface8* backBuffer) {
  IDirect3DSurface8* surface = nullptr;
  if (FAILED(piece.sprite->texture->GetSurfaceLevel(0, &surface))) return false;
  const RECT source{static_cast<LONG>(piece.content.left), static_cast<LONG>(piece.content.top),
                    static_cast<LONG>(piece.content.right), static_cast<LONG>(piece.content.bottom)};
  const POINT at{static_cast<LONG>(piece.area.left), static_cast<LONG>(piece.area.top)};
  const HRESULT copied = device_->CopyRects(surface, &source, 1, backBuffer, &at);
  surface->Release();
  return SUCCEEDED(copied);
}

void COverlayRenderer::DrawQuad(const Piece& piece) {
  const Sprite& sprite = *piece.sprite;
  const Rect& area = piece.area;
  const Rect& content = piece.content;
  // The texels carry the colours; the vertices only pass them on.
  constexpr DWORD argb = 0xFFFFFFFF;
  // Pixel centres sit half a pixel off the corners: moving the quad back by half a pixel puts texel centres on
  // them, so each texel lands on exactly one pixel.
  const float left = static_cast<float>(area.left) - 0.5f;
  const float top = static_cast<float>(area.top) - 0.5f;
  const float right = static_cast<float>(area.right) - 0.5f;
  const float bottom = static_cast<float>(area.bottom) - 0.5f;
  const float u0 = static_cast<float>(content.left) / static_cast<float>(sprite.textureWidth);
  const float v0 = static_cast<float>(content.top) / static_cast<float>(sprite.textureHeight);
  const float u1 = static_cast<float>(content.right) / static_cast<float>(sprite.textureWidth);
  const float v1 = static_cast<float>(content.bottom) / static_cast<float>(sprite.textureHeight);
  const Vertex quad[4] = {
      {left, top, 0.0f, 1.0f, argb, u0, v0},
      {right, top, 0.0f, 1.0f, argb, u1, v0},
      {left, bottom, 0.0f, 1.0f, argb, u0, v1},
      {right, bottom, 0.0f, 1.0f, argb, u1, v1},
  };
  device_->SetTexture(0, sprite.texture);
  if (sprite.opaque) device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex));
  if (sprite.opaque) device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
}

void COverlayRenderer::BuildLine() {
  const std::string_view text(line_.text, line_.length);
  const TextMetrics metrics = CTextRaster::Measure(text, line_.look);
  const Rect box{line_.x, line_.y, line_.x + std::int64_t{metrics.width}, line_.y + std::int64_t{metrics.lineHeight}};
  BuildText(lineSprite_, {text}, line_.look, box, box.left, box.top);
}

void COverlayRenderer::BuildBlock() {
  const Rect box{block_.x, block_.y, block_.x + std::int64_t{block_.width}, block_.y + std::int64_t{block_.height}};
  BuildText(blockSprite_, SplitLines(std::string_view(block_.text, block_.length)), block_.look, box, box.left,
            box.top);
}

void COverlayRenderer::BuildFps() {
  const std::string text = FpsText(fpsMeter_.Fps());
  TextLook look;
  look.argb = kFpsColour;
  look.size = kFpsTextHeight;
  look.flags = kBold | kMonospace | kBlackBackground;
  const TextMetrics metrics = CTextRaster::Measure(text, look);
  // Made at the corner; each screen puts it into its own top right corner.
  const Rect box{0, 0, metrics.width + 2 * kFpsPaddingX, metrics.lineHeight + 2 * kFpsPaddingY};
  BuildText(fpsSprite_, {text}, look, box, kFpsPaddingX, kFpsPaddingY);
}

void COverlayRenderer::BuildText(TextSprite& text, const std::vector<std::string_view>& lines, const TextLook& look,
                                 const Rect& box, std::int64_t originX, std::int64_t originY) {
  text.built = true;
  text.area = Rect{};
  if ((look.argb >> 24) == 0) return;
  Rect visible = Intersect(box, Rect{0, 0, std::max<std::int64_t>(canvasWidth_, box.Width()),
                                     std::max<std::int64_t>(canvasHeight_, box.Height())});
  visible.right = std::min<std::int64_t>(visible.right, visible.left + caps_.MaxTextureWidth);
  visible.bottom = std::min<std::int64_t>(visible.bottom, visible.top + caps_.MaxTextureHeight);
  if (visible.Empty()) return;
  CTextRaster raster;
  if (!raster.Draw(lines, look, originX, originY, visible)) return;
  const bool black = (look.flags & kBlackBackground) != 0;
  // The 256 texels a coverage can give, worked out once.
  std::uint32_t texels[256];
  for (unsigned coverage = 0; coverage < 256; ++coverage) texels[coverage] = TextTexel(coverage, look.argb, black);
  const bool opaque = black && (look.argb >> 24) == 0xFF;
  const bool uploaded = Upload(text.sprite, static_cast<UINT>(raster.width()), static_cast<UINT>(raster.height()),
                               opaque, [&](unsigned char* bits, INT pitch) {
                                 for (int y = 0; y < raster.height(); ++y) {
                                   auto* row = reinterpret_cast<std::uint32_t*>(bits + static_cast<std::ptrdiff_t>(y) * pitch);
                                   for (int x = 0; x < raster.width(); ++x) row[x] = texels[raster.Coverage(x, y)];
                                 }
                               });
  if (uploaded) text.area = visible;
}

void COverlayRenderer::BuildPicture() {
  pictureSprite_.built = true;
  pictureSprite_.sprite.contentWidth = 0;
  pictureSprite_.sprite.contentHeight = 0;
  if (picture_.generation == 0) return;
  const SectionView section = ProcessPicture().Map(picture_.generation);
  if (!section || section.bytes() < sizeof(PictureHeader)) return;
  const auto* bytes = static_cast<const unsigned char*>(section.data());
  PictureHeader header;
  std::memcpy(&header, bytes, sizeof header);
  if (!CheckPictureSection(header, section.bytes(), picture_)) return;
  const Size size{picture_.width, picture_.height};
  // A picture larger than the device's largest texture is scaled down to fit.
  const Size fitted = FitWithin(size, caps_.MaxTextureWidth, caps_.MaxTextureHeight);
  const auto* pixels = reinterpret_cast<const std::uint32_t*>(bytes + sizeof(PictureHeader));
  bool opaque = true;
  for (std::size_t i = 0, count = std::size_t{size.width} * size.height; i < count && opaque; ++i) {
    opaque = (pixels[i] >> 24) == 0xFF;
  }
  Upload(pictureSprite_.sprite, fitted.width, fitted.height, opaque, [&](unsigned char* bits, INT pitch) {
    if (fitted == size) {
      for (std::uint32_t y = 0; y < size.height; ++y) {
        std::memcpy(bits + static_cast<std::ptrdiff_t>(y) * pitch, pixels + std::size_t{y} * size.width,
                    std::size_t{size.width} * 4);
      }
    } else {
      ScaleDown(pixels, size, size.width, reinterpret_cast<std::uint32_t*>(bits), fitted,
                static_cast<std::size_t>(pitch) / 4);
    }
  });
}

template <class Fill>
bool COverlayRenderer::Upload(Sprite& sprite, UINT width, UINT height, bool opaque, Fill fill) {
  sprite.contentWidth = 0;
  sprite.contentHeight = 0;
  sprite.opaque = opaque;
  // An opaque sprite is kept in the back buffer's format where it can be copied there (the fill's alpha then
  // goes unused); any other in 32-bit colour with alpha.
  const D3DFORMAT format = opaque && copyFormat_ != D3DFMT_UNKNOWN ? copyFormat_ : D3DFMT_A8R8G8B8;
  if (width == 0 || height == 0) return false;
  UINT textureWidth = width;
  UINT textureHeight = height;
  if ((caps_.TextureCaps & D3DPTEXTURECAPS_POW2) && !(caps_.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL)) {
    textureWidth = NextPowerOfTwo(textureWidth);
    textureHeight = NextPowerOfTwo(textureHeight);
  }
  if (caps_.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) textureWidth = textureHeight = std::max(textureWidth, textureHeight);
  if (textureWidth > caps_.MaxTextureWidth || textureHeight > caps_.MaxTextureHeight) return false;

  // Filled in system memory, then copied to a texture of the default pool: the device keeps one copy only.
  IDirect3DTexture8* staging = nullptr;
  if (FAILED(device_->CreateTexture(textureWidth, textureHeight, 1, 0, format, D3DPOOL_SYSTEMMEM, &staging))) {
    return false;
  }
  ledger_.Adopt(staging);
  D3DLOCKED_RECT locked{};
  if (FAILED(staging->LockRect(0, &locked, nullptr, 0))) {
    ledger_.Release(staging);
    return false;
  }
  auto* bits = static_cast<unsigned char*>(locked.pBits);
  for (UINT y = 0; y < textureHeight; ++y) std::memset(bits + static_cast<std::ptrdiff_t>(y) * locked.Pitch, 0, textureWidth * 4);
  fill(bits, locked.Pitch);
  staging->UnlockRect(0);

  if (sprite.texture &&
      (sprite.textureWidth != textureWidth || sprite.textureHeight != textureHeight || sprite.format != format)) {
    ledger_.Release(sprite.texture);
  }
  if (!sprite.texture) {
    if (FAILED(device_->CreateTexture(textureWidth, textureHeight, 1, 0, format, D3DPOOL_DEFAULT, &sprite.texture))) {
      sprite.texture = nullptr;
      ledger_.Release(staging);
      return false;
    }
    ledger_.Adopt(sprite.texture);
    Count(stats_, &OverlayStats::texturesCreated);
    sprite.textureWidth = textureWidth;
    sprite.textureHeight = textureHeight;
    sprite.format = format;
  }
  const HRESULT copied = device_->UpdateTexture(staging, sprite.texture);
  ledger_.Release(staging);
  Count(stats_, &OverlayStats::texturesFilled);
  if (FAILED(copied)) return false;
  sprite.contentWidth = width;
  sprite.contentHeight = height;
  return true;
}

void COverlayRenderer::ReleaseSprites() {
  for (Sprite* sprite : {&lineSprite_.sprite, &blockSprite_.sprite, &fpsSprite_.sprite, &pictureSprite_.sprite}) {
    ledger_.Release(sprite->texture);
    *sprite = Sprite{};
  }
  lineSprite_.built = false;
  blockSprite_.built = false;
  fpsSprite_.built = false;
  pictureSprite_.built = false;
}

}  // namespace ingame
