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

double NowMicroseconds() {
  static const double ticksPerMicrosecond = [] {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000000.0;
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticksPerMicrosecond;
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

}  // namespace

void BackBufferSize(IDirect3DDevice8* device, UINT& width, UINT& height, D3DSURFACE_DESC* description) {
  width = 0;
  height = 0;
  IDirect3DSurface8* backBuffer = nullptr;
  if (FAILED(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) || !backBuffer) return;
  D3DSURFACE_DESC desc{};
  if (SUCCEEDED(backBuffer->GetDesc(&desc))) {
    width = desc.Width;
    height = desc.Height;
    if (description) *description = desc;
  }
  backBuffer->Release();
}

COverlayRenderer::COverlayRenderer(IDirect3DDevice8* device, const CStateMirror* mirror)
    : device_(device), mirror_(mirror), stats_(ProcessStats()) {
  usable_ = SUCCEEDED(device_->GetDeviceCaps(&caps_)) && caps_.MaxTextureWidth > 0 && caps_.MaxTextureHeight > 0;
  ReadBackBuffer();
}

COverlayRenderer::~COverlayRenderer() {
  ReleaseSprites();
  if (stateBlock_) device_->DeleteStateBlock(stateBlock_);
  // The game is gone from this device: it no longer answers for the screen size.
  if (screenWord_ != 0) {
    if (SharedState* state = ProcessState()) {
      ScreenWord expected = screenWord_;
      state->screen.compare_exchange_strong(expected, 0);
    }
  }
}

void COverlayRenderer::OnPresent() {
  const double start = stats_ ? NowMicroseconds() : 0.0;
  DrawOverlay();
  if (stats_) {
    stats_->overlayMicroseconds.fetch_add(static_cast<std::uint64_t>(NowMicroseconds() - start),
                                          std::memory_order_relaxed);
  }
}

void COverlayRenderer::DrawOverlay() {
  if (fpsMeter_.AddFrame(static_cast<std::uint64_t>(NowMicroseconds() / 1000.0))) fpsSprite_.built = false;
  SharedState* state = ProcessState();
  if (!state || !usable_ || backBufferWidth_ == 0 || backBufferHeight_ == 0) return;
  PublishScreen(*state);
  const std::uint32_t before[kStatsSlotCount] = {lineSequence_, blockSequence_, pictureSequence_, switchesSequence_};
  ReadSharedState(*state);
  if (stats_) {
    const std::uint64_t begun = stats_->presentsBegun.fetch_add(1) + 1;
    const std::uint32_t after[kStatsSlotCount] = {lineSequence_, blockSequence_, pictureSequence_, switchesSequence_};
    for (int slot = 0; slot < kStatsSlotCount; ++slot) {
      if (after[slot] != before[slot] || readAtBegun_[slot] == 0) readAtBegun_[slot] = begun;
    }
  }
  if (!AnythingShown()) return;
  // A lost device draws nothing until the game has reset it.
  if (device_->TestCooperativeLevel() != D3D_OK) return;
  Draw();
}

void COverlayRenderer::OnPresented(double presentMicroseconds) {
  if (!stats_) return;
  stats_->presentMicroseconds.fetch_add(static_cast<std::uint64_t>(presentMicroseconds), std::memory_order_relaxed);
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
  if (stateBlock_) device_->DeleteStateBlock(stateBlock_);
  stateBlock_ = 0;
}

void COverlayRenderer::OnAfterReset() { ReadBackBuffer(); }

void COverlayRenderer::ReadBackBuffer() {
  D3DSURFACE_DESC desc{};
  BackBufferSize(device_, backBufferWidth_, backBufferHeight_, &desc);
  copyFormat_ = backBufferWidth_ != 0 && desc.Format == D3DFMT_X8R8G8B8 && desc.MultiSampleType == D3DMULTISAMPLE_NONE
                    ? D3DFMT_X8R8G8B8
                    : D3DFMT_UNKNOWN;
}

void COverlayRenderer::PublishScreen(SharedState& state) {
  screenWord_ = PackScreen(GetCurrentProcessId(), backBufferWidth_, backBufferHeight_);
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

void COverlayRenderer::Draw() {
  if (switches_.lineShown && !lineSprite_.built) BuildLine();
  if (switches_.blockShown && !blockSprite_.built) BuildBlock();
  if (switches_.pictureShown && !pictureSprite_.built) BuildPicture();
  if (switches_.fpsShown && !fpsSprite_.built) BuildFps();

  // What is to be drawn, bottom first: the picture, then the block, the line and the frame rate.
  Piece pieces[4];
  int count = 0;
  bool needsPipeline = false;
  const auto add = [&](const Sprite& sprite, const Rect& area, const Rect& content) {
    if (!sprite.texture || area.Empty()) return;
    pieces[count++] = Piece{&sprite, area, content};
    needsPipeline = needsPipeline || !Copyable(sprite);
  };
  const Rect screen = ScreenRect();
  if (switches_.pictureShown && pictureSprite_.sprite.contentWidth > 0) {
    const Sprite& sprite = pictureSprite_.sprite;
    const Rect placed{switches_.pictureX, switches_.pictureY, switches_.pictureX + std::int64_t{sprite.contentWidth},
                      switches_.pictureY + std::int64_t{sprite.contentHeight}};
    const Rect area = Intersect(placed, screen);
    add(sprite, area, Rect{area.left - placed.left, area.top - placed.top, area.right - placed.left,
                           area.bottom - placed.top});
  }
  for (const auto& [shown, text] : {std::pair<bool, const TextSprite*>{switches_.blockShown != 0, &blockSprite_},
                                    {switches_.lineShown != 0, &lineSprite_},
                                    {switches_.fpsShown != 0, &fpsSprite_}}) {
    if (shown && text->sprite.contentWidth > 0) {
      add(text->sprite, text->area, Rect{0, 0, text->area.Width(), text->area.Height()});
    }
  }
  if (count == 0) return;

  IDirect3DSurface8* backBuffer = nullptr;
  if (FAILED(device_->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &backBuffer)) || !backBuffer) return;
  if (needsPipeline) {
    DrawWithPipeline(pieces, count, backBuffer);
  } else {
    // Copies alone touch none of the game's states: nothing to save and restore.
    for (int i = 0; i < count; ++i) Copy(pieces[i], backBuffer);
  }
  backBuffer->Release();
}

void COverlayRenderer::DrawWithPipeline(const Piece* pieces, int count, IDirect3DSurface8* backBuffer) {
  // The game's values of the states the overlay sets: captured into a state block of exactly those states, or,
  // where the device cannot be read, followed by the mirror.
  if (!mirror_) {
    if (!stateBlock_) {
      // Recorded: the block holds exactly the states that are set, and drawing also sets the texture of stage 0
      // and (drawing from memory) empties stream 0.
      if (FAILED(device_->BeginStateBlock())) return;
      SetOverlayStates();
      device_->SetTexture(0, nullptr);
      device_->SetStreamSource(0, nullptr, 0);
      if (FAILED(device_->EndStateBlock(&stateBlock_))) {
        stateBlock_ = 0;
        return;
      }
    }
    if (FAILED(device_->CaptureStateBlock(stateBlock_))) return;
  }

  // The game may be drawing into a texture of its own: the overlay goes into the back buffer all the same.
  IDirect3DSurface8* renderTarget = nullptr;
  IDirect3DSurface8* depthStencil = nullptr;
  device_->GetRenderTarget(&renderTarget);
  if (FAILED(device_->GetDepthStencilSurface(&depthStencil))) depthStencil = nullptr;
  const bool retarget = renderTarget != backBuffer;
  const bool targetReady = !retarget || SUCCEEDED(device_->SetRenderTarget(backBuffer, nullptr));

  if (targetReady && SUCCEEDED(device_->BeginScene())) {
    SetOverlayStates();
    for (int i = 0; i < count; ++i) {
      if (!Copyable(*pieces[i].sprite) || !Copy(pieces[i], backBuffer)) DrawQuad(pieces[i]);
    }
    device_->EndScene();
  }

  if (retarget && targetReady) device_->SetRenderTarget(renderTarget, depthStencil);
  if (mirror_) {
    mirror_->Restore(device_);
  } else {
    device_->ApplyStateBlock(stateBlock_);
  }
  Release(depthStencil);
  Release(renderTarget);
}

void COverlayRenderer::SetOverlayStates() {
  const D3DVIEWPORT8 viewport{0, 0, backBufferWidth_, backBufferHeight_, 0.0f, 1.0f};
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
  const std::int64_t right = std::int64_t{backBufferWidth_} - kFpsMargin;
  const Rect box{right - metrics.width - 2 * kFpsPaddingX, kFpsMargin, right,
                 kFpsMargin + metrics.lineHeight + 2 * kFpsPaddingY};
  BuildText(fpsSprite_, {text}, look, box, box.left + kFpsPaddingX, box.top + kFpsPaddingY);
}

void COverlayRenderer::BuildText(TextSprite& text, const std::vector<std::string_view>& lines, const TextLook& look,
                                 const Rect& box, std::int64_t originX, std::int64_t originY) {
  text.built = true;
  text.area = Rect{};
  if ((look.argb >> 24) == 0) return;
  Rect visible = Intersect(box, ScreenRect());
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
  const SectionView section = OpenPictureSection(picture_.generation);
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
  D3DLOCKED_RECT locked{};
  if (FAILED(staging->LockRect(0, &locked, nullptr, 0))) {
    staging->Release();
    return false;
  }
  auto* bits = static_cast<unsigned char*>(locked.pBits);
  for (UINT y = 0; y < textureHeight; ++y) std::memset(bits + static_cast<std::ptrdiff_t>(y) * locked.Pitch, 0, textureWidth * 4);
  fill(bits, locked.Pitch);
  staging->UnlockRect(0);

  if (sprite.texture &&
      (sprite.textureWidth != textureWidth || sprite.textureHeight != textureHeight || sprite.format != format)) {
    sprite.texture->Release();
    sprite.texture = nullptr;
  }
  if (!sprite.texture) {
    if (FAILED(device_->CreateTexture(textureWidth, textureHeight, 1, 0, format, D3DPOOL_DEFAULT, &sprite.texture))) {
      sprite.texture = nullptr;
      staging->Release();
      return false;
    }
    Count(stats_, &OverlayStats::texturesCreated);
    sprite.textureWidth = textureWidth;
    sprite.textureHeight = textureHeight;
    sprite.format = format;
  }
  const HRESULT copied = device_->UpdateTexture(staging, sprite.texture);
  staging->Release();
  Count(stats_, &OverlayStats::texturesFilled);
  if (FAILED(copied)) return false;
  sprite.contentWidth = width;
  sprite.contentHeight = height;
  return true;
}

void COverlayRenderer::ReleaseSprites() {
  for (Sprite* sprite : {&lineSprite_.sprite, &blockSprite_.sprite, &fpsSprite_.sprite, &pictureSprite_.sprite}) {
    if (sprite->texture) sprite->texture->Release();
    *sprite = Sprite{};
  }
  lineSprite_.built = false;
  blockSprite_.built = false;
  fpsSprite_.built = false;
  pictureSprite_.built = false;
}

}  // namespace ingame
