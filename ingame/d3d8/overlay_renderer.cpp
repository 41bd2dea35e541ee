#include "ingame/d3d8/overlay_renderer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "ingame/common/shared_section.h"
#include "ingame/d3d8/allocation_count.h"
#include "ingame/d3d8/overlay_states.h"

namespace ingame {
namespace {

// How long a game waits before it tries again to open the shared state when it could not.
constexpr ULONGLONG kReopenIntervalMs = 1000;

// How long a frame's uploads may take before the rest waits for the next frame; a band of each image is always
// filled.
constexpr std::uint64_t kUploadBudgetMicroseconds = 200;
// The side of the tiles where the device takes it.
constexpr UINT kTileSide = 256;
// How many textures of tiles no longer shown are kept for the next images.
constexpr std::size_t kSpareTiles = 32;
// How many quads the overlay's vertex buffer holds: written one frame's pieces after another.
constexpr UINT kVertexBufferQuads = 1024;
// How many rows of a tile go into a staging texture at a time: a band's work is a few tens of microseconds.
constexpr int kBandRows = 128;

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

// A pixel of 0xAARRGGBB in a texture format of 16 bits.
std::uint16_t ToA4R4G4B4(std::uint32_t p) {
  return static_cast<std::uint16_t>(((p >> 16) & 0xF000) | ((p >> 12) & 0x0F00) | ((p >> 8) & 0x00F0) | ((p >> 4) & 0x000F));
}

std::uint16_t ToA1R5G5B5(std::uint32_t p) {
  return static_cast<std::uint16_t>(((p >> 31) << 15) | ((p >> 9) & 0x7C00) | ((p >> 6) & 0x03E0) | ((p >> 3) & 0x001F));
}

// The first of `formats` the device takes for textures; D3DFMT_UNKNOWN when none.
template <std::size_t Count>
D3DFORMAT TextureFormat(IDirect3DDevice8* device, const D3DFORMAT (&formats)[Count]) {
  IDirect3D8* direct3d = nullptr;
  D3DDEVICE_CREATION_PARAMETERS creation{};
  D3DDISPLAYMODE mode{};
  D3DFORMAT found = D3DFMT_UNKNOWN;
  if (SUCCEEDED(device->GetDirect3D(&direct3d)) && direct3d && SUCCEEDED(device->GetCreationParameters(&creation)) &&
      SUCCEEDED(device->GetDisplayMode(&mode))) {
    for (D3DFORMAT format : formats) {
      if (SUCCEEDED(direct3d->CheckDeviceFormat(creation.AdapterOrdinal, creation.DeviceType, mode.Format, 0,
                                                D3DRTYPE_TEXTURE, format))) {
        found = format;
        break;
      }
    }
  }
  Release(direct3d);
  return found;
}

}  // namespace

COverlayRenderer::COverlayRenderer(IDirect3DDevice8* device, const CStateMirror* mirror, CReferenceLedger& ledger)
    : device_(device), mirror_(mirror), ledger_(ledger), stats_(ProcessStats()) {
  usable_ = SUCCEEDED(device_->GetDeviceCaps(&caps_)) && caps_.MaxTextureWidth > 0 && caps_.MaxTextureHeight > 0;
  // Square tiles of a power of two fit every device's limits: its largest texture, a power of two or square only,
  // any largest aspect ratio.
  tileSide_ = kTileSide;
  while (tileSide_ > 1 && (tileSide_ > caps_.MaxTextureWidth || tileSide_ > caps_.MaxTextureHeight)) tileSide_ /= 2;
  const D3DFORMAT withAlpha[] = {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, D3DFMT_A1R5G5B5};
  const D3DFORMAT copyable[] = {D3DFMT_X8R8G8B8};
  alphaFormat_ = TextureFormat(device_, withAlpha);
  copyableFormat_ = TextureFormat(device_, copyable);
  usable_ = usable_ && alphaFormat_ != D3DFMT_UNKNOWN;
  content_ = std::make_shared<CContentSlots>();
  AddContentSlots(content_);
}

COverlayRenderer::~COverlayRenderer() {
  RemoveContentSlots(content_.get());
  // The state block first: it holds no reference to the device, which the last of the textures may end.
  DeleteStateBlocks();
  ReleaseAll();
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
  lockMicroseconds_ = 0;
  if (newFrame && fpsMeter_.AddFrame(NowMicroseconds() / 1000) && stats_) {
    stats_->fps.store(static_cast<std::uint32_t>(fpsMeter_.Fps()), std::memory_order_relaxed);
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
    SetCanvas(screen);
    // A lost device draws nothing until the game has reset it; nor is anything drawn into a state block the game
    // is recording.
    if (!recording_ && device_->TestCooperativeLevel() == D3D_OK) {
      const std::uint64_t updating = stats_ ? NowMicroseconds() : 0;
      // A line posted before (at the device's creation, for the first present) is made while Warm waits, where
      // the worker gets a processor meanwhile.
      if (wakeNow_) {
        wakeNow_ = false;
        WakeContentWorker();
      }
      Warm();
      Update();
      const std::uint64_t drawing = stats_ ? NowMicroseconds() : 0;
      if (stats_) KeepLongest(stats_->longestUploadMicroseconds, drawing - updating);
      if (AnythingShown()) {
        backBufferFormat_ = chain.multiSample == D3DMULTISAMPLE_NONE ? chain.format : D3DFMT_UNKNOWN;
        CollectPieces(screen);
        IDirect3DSurface8* backBuffer = pieces_.empty() ? nullptr : chain.BackBuffer(0);
        if (backBuffer) {
          bool drawable = true;
          if (chain.keepsBackBuffers && keeper) {
            // What cannot be saved is not drawn over: the game would find the overlay in its next frame.
            drawable = saved = keeper->Save(chain, backBuffer, covered_, coveredCount_);
          }
          if (drawable) Draw(backBuffer, chain.width, chain.height);
          backBuffer->Release();
        }
      }
      if (stats_) KeepLongest(stats_->longestDrawMicroseconds, NowMicroseconds() - drawing);
    }
  }
  if (stats_) {
    const std::uint64_t spent = NowMicroseconds() - start;
    stats_->overlayMicroseconds.fetch_add(spent, std::memory_order_relaxed);
    KeepLongest(stats_->longestOverlayMicroseconds, spent);
    stats_->workHistogram[std::min<std::uint64_t>(spent / kWorkStepMicroseconds, kWorkSteps - 1)].fetch_add(
        1, std::memory_order_relaxed);
    const std::uint64_t unlocked = spent - std::min(spent, lockMicroseconds_);
    KeepLongest(stats_->longestUnlockedMicroseconds, unlocked);
    stats_->unlockedHistogram[std::min<std::uint64_t>(unlocked / kWorkStepMicroseconds, kWorkSteps - 1)].fetch_add(
        1, std::memory_order_relaxed);
  }
  return saved;
}

void COverlayRenderer::OnPresented(std::uint64_t presentMicroseconds) {
  if (wakeWorker_) {
    wakeWorker_ = false;
    WakeContentWorker();
  }
  if (!stats_) return;
  stats_->presentMicroseconds.fetch_add(presentMicroseconds, std::memory_order_relaxed);
  const std::uint64_t presents = stats_->presents.fetch_add(1) + 1;
  stats_->allocations.store(g_overlayAllocations.load(std::memory_order_relaxed), std::memory_order_relaxed);
  // What the frame showed of each slot: the version of the record its element's image was made from.
  const std::pair<bool, std::uint32_t> drawn[kStatsSlotCount] = {
      {elements_[kLineElement].shown.present, elements_[kLineElement].shown.sequence},
      {elements_[kBlockElement].shown.present, elements_[kBlockElement].shown.sequence},
      {elements_[kPictureElement].shown.present, elements_[kPictureElement].shown.sequence},
      {switchesRead_, switchesSequence_}};
  for (int slot = 0; slot < kStatsSlotCount; ++slot) {
    if (!drawn[slot].first || stats_->drawnSequence[slot].load() == drawn[slot].second) continue;
    stats_->drawnAtPresent[slot].store(presents);
    stats_->drawnAtBegun[slot].store(readAtBegun_[slot]);
    stats_->drawnSequence[slot].store(drawn[slot].second);
  }
}

void COverlayRenderer::OnBeforeReset() {
  ReleaseAll();
  ledger_.DeleteStateBlock(stateBlock_);
}

void COverlayRenderer::OnAfterReset(bool reset) {
  recording_ = false;
  // A reset gives the device its memory back: whatever could not be made is tried at once.
  for (ElementSprites& element : elements_) element.retry.TryNow();
  objectsRetry_.TryNow();
  // Nothing is queued on a device just reset: the staging textures' first lock waits least here.
  if (reset && warmed_) {
    warmed_ = false;
    Warm();
  }
}

void COverlayRenderer::Warm() {
  if (warmed_ || !usable_) return;
  // A device that queues its commands may make the first lock of a dynamic texture wait until it has drawn all
  // it has queued (Wine's does, once for each device and again after each reset); later locks with
  // D3DLOCK_DISCARD return at once. So that wait is taken here, once, rather than with the first change shown.
  // Tried once: a device that cannot make the texture now (its memory full) takes the wait with the first upload.
  warmed_ = true;
  Staging* staging = StagingFor(alphaFormat_, 0);
  if (!staging || !staging->texture) return;
  D3DLOCKED_RECT locked{};
  const std::uint64_t locking = stats_ ? NowMicroseconds() : 0;
  if (SUCCEEDED(staging->texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD))) staging->texture->UnlockRect(0);
  if (stats_) lockMicroseconds_ += NowMicroseconds() - locking;
}

void COverlayRenderer::Abandon() {
  stateBlock_ = 0;
  CReferenceLedger::Abandon(vertices_);
  for (ElementSprites& element : elements_) {
    element.shown = Sprite{};
    element.next = Sprite{};
    element.uploading = false;
  }
  spareTiles_.clear();
  for (auto& ring : staging_) {
    for (Staging& staging : ring) staging = Staging{};
  }
}

void COverlayRenderer::SetCanvas(const Rect& screen) {
  canvasWidth_ = std::max(canvasWidth_, screen.Width());
  canvasHeight_ = std::max(canvasHeight_, screen.Height());
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
  Refresh(state.line, line_, lineSequence_, lineRead_, CheckLine);
  Refresh(state.block, block_, blockSequence_, blockRead_, CheckBlock);
  Refresh(state.picture, picture_, pictureSequence_, pictureRead_, CheckPicture);
  Refresh(state.switches, switches_, switchesSequence_, switchesRead_, [](const SwitchRecord&) { return true; });
}

bool COverlayRenderer::AnythingShown() const {
  return switches_.lineShown || switches_.blockShown || switches_.pictureShown || switches_.fpsShown;
}

Job COverlayRenderer::WantedJob(Element element) const {
  Job job;
  job.element = element;
  job.canvasWidth = canvasWidth_;
  job.canvasHeight = canvasHeight_;
  switch (element) {
    case kLineElement:
      job.line = line_;
      job.sequence = lineSequence_;
      break;
    case kBlockElement:
      job.block = block_;
      job.sequence = blockSequence_;
      break;
    case kPictureElement:
      job.picture = picture_;
      job.sequence = pictureSequence_;
      job.pictureX = switches_.pictureX;
      job.pictureY = switches_.pictureY;
      job.maxTextureWidth = caps_.MaxTextureWidth;
      job.maxTextureHeight = caps_.MaxTextureHeight;
      break;
    default:
      // The glyphs do not depend on the screen.
      job.canvasWidth = job.canvasHeight = 0;
      break;
  }
  return job;
}

void COverlayRenderer::Prepare(const PresentChain& own) {
  SharedState* state = ProcessState();
  if (!state || !usable_ || own.width == 0 || own.height == 0) return;
  ReadSharedState(*state);
  SetCanvas(Rect{0, 0, own.width, own.height});
  // Posted now, made from the first present on (WakeContentWorker).
  PostJobs();
}

void COverlayRenderer::PostJobs() {
  // Whatever has content is made, shown or not, so that switching it on shows it at once; the frame-rate glyphs
  // once the frame rate is first shown.
  const bool has[kElementCount] = {lineRead_ && line_.length > 0, blockRead_ && block_.length > 0,
                                   pictureRead_ && picture_.generation != 0,
                                   switches_.fpsShown != 0 || elements_[kGlyphsElement].havePosted};
  for (int e = 0; e < kElementCount; ++e) {
    ElementSprites& element = elements_[e];
    const Job wanted = WantedJob(static_cast<Element>(e));
    if (!has[e]) {
      // Nothing to show: the last image goes, and nothing is asked for.
      if (element.shown.present && element.shown.sequence != wanted.sequence) {
        ReleaseSprite(element.shown);
        element.shown.sequence = wanted.sequence;
        element.shown.present = true;
      }
      element.havePosted = false;
      continue;
    }
    if ((!element.havePosted || element.posted != wanted) && content_->Post(wanted)) {
      element.posted = wanted;
      element.havePosted = true;
      wakeWorker_ = true;
      // A line is a short job: the worker is woken at once, and on a processor shared with the game it has made the
      // line before this present looks for it. Blocks and pictures wait for the present to be done.
      wakeNow_ = wakeNow_ || e == kLineElement;
    }
  }
}

void COverlayRenderer::Update() {
  PostJobs();
  if (wakeNow_) {
    wakeNow_ = false;
    WakeContentWorker();
  }
  for (int e = 0; e < kElementCount; ++e) {
    ElementSprites& element = elements_[e];
    if (!element.havePosted) continue;
    if (std::shared_ptr<const Image> made = content_->Take(static_cast<Element>(e))) {
      // A newer image than the one being uploaded replaces it, and is tried at once.
      ReleaseUpload(element);
      Retire(element.image);
      element.image = std::move(made);
      element.retry.TryNow();
    }
  }
  const std::uint64_t now = NowMicroseconds();
  const std::uint64_t deadline = now + kUploadBudgetMicroseconds;
  for (ElementSprites& element : elements_) {
    if (element.image && element.retry.Due(now)) Upload(element, deadline);
  }
  // The images let go of are freed on the worker's thread: giving back megabytes takes the system a while.
  if (!retired_.empty()) {
    content_->Retire(retired_);
    wakeWorker_ = true;
  }
}

namespace {

// Copies the `part` of an image into locked texture memory from its top left corner on, in the texture's format.
void FillPart(const Image& image, const Rect& part, D3DFORMAT format, const D3DLOCKED_RECT& locked) {
  const auto width = static_cast<std::size_t>(part.Width());
  for (std::int64_t y = part.top; y < part.bottom; ++y) {
    const std::uint32_t* from = image.pixels.data() +
                                static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                                static_cast<std::size_t>(part.left);
    auto* to = static_cast<unsigned char*>(locked.pBits) + static_cast<std::ptrdiff_t>(y - part.top) * locked.Pitch;
    if (format == D3DFMT_A4R4G4B4 || format == D3DFMT_A1R5G5B5) {
      auto* pixels = reinterpret_cast<std::uint16_t*>(to);
      for (std::size_t x = 0; x < width; ++x) {
        pixels[x] = format == D3DFMT_A4R4G4B4 ? ToA4R4G4B4(from[x]) : ToA1R5G5B5(from[x]);
      }
    } else {
      std::memcpy(to, from, width * 4);
    }
  }
}

}  // namespace

void COverlayRenderer::Upload(ElementSprites& element, std::uint64_t deadline) {
  const Image& image = *element.image;
  Sprite& next = element.next;
  if (!element.uploading) {
    next.source = element.image;
    next.area = image.area;
    next.opaque = image.opaque;
    next.sequence = image.sequence;
    // An opaque image is kept in the format of the back buffer it is copied into, where the device has it.
    next.format = image.opaque && copyableFormat_ != D3DFMT_UNKNOWN ? copyableFormat_ : alphaFormat_;
    element.plan = CUploadPlan(image.width, image.height, static_cast<int>(tileSide_), kBandRows, kStagingSlots,
                               nextStagingSlot_);
    for (int t = 0; t < element.plan.tileCount(); ++t) {
      const Rect part = element.plan.TilePart(t);
      next.tiles.push_back(Tile{nullptr, static_cast<int>(part.left), static_cast<int>(part.top),
                                static_cast<int>(part.Width()), static_cast<int>(part.Height())});
    }
    element.uploading = true;
  }
  // A band at a time within the frame's budget, and at least one band a frame.
  for (bool first = true; !element.plan.Done(); first = false) {
    if (!first && NowMicroseconds() >= deadline) return;
    const UploadStep step = element.plan.Next();
    nextStagingSlot_ = element.plan.nextSlot();
    if (!FillBand(image, step, next.format, next.tiles[static_cast<std::size_t>(step.tile)])) return Defer(element);
  }
  Count(stats_, &OverlayStats::texturesFilled);
  element.retry.Succeeded();
  ReleaseSprite(element.shown);
  element.shown = std::move(next);
  element.shown.present = true;
  next = Sprite{};
  element.uploading = false;
  Retire(element.image);
}

void COverlayRenderer::Defer(ElementSprites& element) {
  // The element's last image goes, and with it the textures kept for later ones, which gives the device back what
  // the overlay can spare; the image that could not be uploaded is kept and tried again, whole, once due.
  ReleaseUpload(element);
  ReleaseSprite(element.shown);
  element.shown.present = true;
  ReleaseSpareTiles();
  element.retry.Failed(NowMicroseconds());
}

void COverlayRenderer::ReleaseSpareTiles() {
  for (auto& spare : spareTiles_) ledger_.Release(spare.second);
  spareTiles_.clear();
}

bool COverlayRenderer::FillBand(const Image& image, const UploadStep& step, D3DFORMAT format, Tile& tile) {
  if (!tile.texture && !MakeTile(format, tile)) return false;
  Staging* staging = StagingFor(format, step.slot);
  if (!staging) return false;
  const HRESULT result = CopyBand(image, step, format, *staging, tile);
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
  return staging && SUCCEEDED(CopyBand(image, step, format, *staging, tile));
}

HRESULT COverlayRenderer::CopyBand(const Image& image, const UploadStep& step, D3DFORMAT format, Staging& staging,
                                   Tile& tile) {
  // A dynamic texture locked with D3DLOCK_DISCARD is given fresh memory at once, where any other lock may wait for
  // the device to finish the commands it has queued; the device then copies the band into the tile in its own time.
  D3DLOCKED_RECT locked{};
  const std::uint64_t locking = stats_ ? NowMicroseconds() : 0;
  const HRESULT lockedResult = staging.texture ? staging.texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD)
                                               : staging.surface->LockRect(&locked, nullptr, 0);
  if (stats_) lockMicroseconds_ += NowMicroseconds() - locking;
  if (FAILED(lockedResult)) return lockedResult;
  if (!locked.pBits) return E_FAIL;
  FillPart(image, step.part, format, locked);
  const std::uint64_t unlocking = stats_ ? NowMicroseconds() : 0;
  if (staging.texture) {
    staging.texture->UnlockRect(0);
  } else {
    staging.surface->UnlockRect();
  }
  if (stats_) lockMicroseconds_ += NowMicroseconds() - unlocking;
  IDirect3DSurface8* target = nullptr;
  if (FAILED(tile.texture->GetSurfaceLevel(0, &target))) return E_FAIL;
  const RECT band{0, 0, static_cast<LONG>(step.part.Width()), static_cast<LONG>(step.part.Height())};
  const POINT corner{static_cast<LONG>(step.part.left - tile.x), static_cast<LONG>(step.part.top - tile.y)};
  const HRESULT copied = device_->CopyRects(staging.surface, &band, 1, target, &corner);
  target->Release();
  return copied;
}

bool COverlayRenderer::MakeTile(D3DFORMAT format, Tile& tile) {
  // A texture of a tile no longer shown, or a new one in the device's own memory.
  for (auto spare = spareTiles_.begin(); spare != spareTiles_.end(); ++spare) {
    if (spare->first == format) {
      tile.texture = spare->second;
      spareTiles_.erase(spare);
      return true;
    }
  }
  if (FAILED(device_->CreateTexture(tileSide_, tileSide_, 1, 0, format, D3DPOOL_DEFAULT, &tile.texture))) {
    tile.texture = nullptr;
    return false;
  }
  ledger_.Adopt(tile.texture);
  Count(stats_, &OverlayStats::texturesCreated);
  return true;
}

COverlayRenderer::Staging* COverlayRenderer::StagingFor(D3DFORMAT format, int slot) {
  Staging& staging = staging_[format == alphaFormat_ ? 0 : 1][slot];
  if (staging.surface && staging.format == format) return &staging;
  ReleaseStaging(staging);
  if (dynamicStaging_ && (caps_.Caps2 & D3DCAPS2_DYNAMICTEXTURES) != 0 &&
      SUCCEEDED(device_->CreateTexture(tileSide_, tileSide_, 1, D3DUSAGE_DYNAMIC, format, D3DPOOL_DEFAULT,
                                       &staging.texture))) {
    ledger_.Adopt(staging.texture);
    if (FAILED(staging.texture->GetSurfaceLevel(0, &staging.surface))) staging.surface = nullptr;
  } else {
    // Without dynamic textures: a surface in system memory, whose lock may wait.
    staging.texture = nullptr;
    if (SUCCEEDED(device_->CreateImageSurface(tileSide_, tileSide_, format, &staging.surface))) {
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
  Count(stats_, &OverlayStats::texturesCreated);
  return &staging;
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

void COverlayRenderer::ReleaseSprite(Sprite& sprite) {
  for (Tile& tile : sprite.tiles) {
    if (!tile.texture) continue;
    if (spareTiles_.size() < kSpareTiles) {
      spareTiles_.emplace_back(sprite.format, tile.texture);
      tile.texture = nullptr;
    } else {
      ledger_.Release(tile.texture);
    }
  }
  Retire(sprite.source);
  sprite = Sprite{};
}

void COverlayRenderer::Retire(std::shared_ptr<const Image>& image) {
  if (!image) return;
  try {
    retired_.push_back(std::move(image));
  } catch (...) {
    // Out of memory: freed here after all.
  }
  image = nullptr;
}

void COverlayRenderer::ReleaseUpload(ElementSprites& element) {
  ReleaseSprite(element.next);
  element.uploading = false;
}

void COverlayRenderer::ReleaseAll() {
  for (ElementSprites& element : elements_) {
    // Uploaded again, after a reset, from the images they were made from.
    if (!element.image) element.image = element.shown.source;
    ReleaseSprite(element.shown);
    ReleaseUpload(element);
  }
  ReleaseSpareTiles();
  for (auto& ring : staging_) {
    for (Staging& staging : ring) ReleaseStaging(staging);
  }
  ledger_.Release(vertices_);
  verticesWritten_ = false;
}

void COverlayRenderer::AddPieces(const Sprite& sprite, const Rect& part, std::int64_t atX, std::int64_t atY,
                                 const Rect& screen) {
  for (const Tile& tile : sprite.tiles) {
    if (!tile.texture) continue;
    // The part of this tile that is asked for, in the image's pixels.
    const Rect inImage = Intersect(Rect{tile.x, tile.y, tile.x + tile.width, tile.y + tile.height}, part);
    if (inImage.Empty()) continue;
    const Rect placed{atX + inImage.left - part.left + screen.left, atY + inImage.top - part.top + screen.top,
                      atX + inImage.right - part.left + screen.left, atY + inImage.bottom - part.top + screen.top};
    const Rect area = Intersect(placed, screen);
    if (area.Empty()) continue;
    const Rect content{inImage.left - tile.x + (area.left - placed.left), inImage.top - tile.y + (area.top - placed.top),
                       inImage.left - tile.x + (area.right - placed.left),
                       inImage.top - tile.y + (area.bottom - placed.top)};
    pieces_.push_back(Piece{tile.texture, sprite.format, sprite.opaque, area, content});
  }
}

void COverlayRenderer::CollectPieces(const Rect& screen) {
  pieces_.clear();
  coveredCount_ = 0;
  // Bottom first: the picture, then the block, the line and the frame rate.
  const bool shown[] = {switches_.pictureShown != 0, switches_.blockShown != 0, switches_.lineShown != 0};
  const Element order[] = {kPictureElement, kBlockElement, kLineElement};
  for (int i = 0; i < 3; ++i) {
    const Sprite& sprite = elements_[order[i]].shown;
    if (!shown[i] || sprite.tiles.empty()) continue;
    const std::size_t first = pieces_.size();
    AddPieces(sprite, Rect{0, 0, sprite.area.Width(), sprite.area.Height()}, sprite.area.left, sprite.area.top, screen);
    Cover(first);
  }
  if (switches_.fpsShown) {
    const std::size_t first = pieces_.size();
    AddFpsPieces(screen);
    Cover(first);
  }
}

void COverlayRenderer::Cover(std::size_t first) {
  if (first >= pieces_.size()) return;
  Rect bounds = pieces_[first].area;
  for (std::size_t i = first + 1; i < pieces_.size(); ++i) {
    const Rect& area = pieces_[i].area;
    bounds = Rect{std::min(bounds.left, area.left), std::min(bounds.top, area.top), std::max(bounds.right, area.right),
                  std::max(bounds.bottom, area.bottom)};
  }
  covered_[coveredCount_++] = RECT{static_cast<LONG>(bounds.left), static_cast<LONG>(bounds.top),
                                   static_cast<LONG>(bounds.right), static_cast<LONG>(bounds.bottom)};
}

void COverlayRenderer::AddFpsPieces(const Rect& screen) {
  const Sprite& glyphs = elements_[kGlyphsElement].shown;
  if (glyphs.tiles.empty()) return;
  // Worked out by the worker when it made the glyphs: the game's thread never measures a font.
  const int cell = GlyphCellWidth();
  if (cell <= 0 || !LayFigure(FpsText(fpsMeter_.Fps()), cell, kFpsPaddingX, figure_)) return;
  const int width = figure_.back().offset + figure_.back().width;
  const std::int64_t left = screen.Width() - kFpsMargin - width;
  for (const FigureCell& c : figure_) {
    const Rect part{std::int64_t{c.glyph} * cell, 0, std::int64_t{c.glyph} * cell + c.width, glyphs.area.Height()};
    AddPieces(glyphs, part, left + c.offset, kFpsMargin, screen);
  }
}

void COverlayRenderer::Draw(IDirect3DSurface8* backBuffer, UINT width, UINT height) {
  bool needsPipeline = false;
  for (const Piece& piece : pieces_) needsPipeline = needsPipeline || !Copyable(piece);
  if (needsPipeline) {
    DrawWithPipeline(backBuffer, width, height);
  } else {
    // Copies alone touch none of the game's states: nothing to save and restore.
    DrawPieces(backBuffer, false);
  }
}

void COverlayRenderer::DrawPieces(IDirect3DSurface8* backBuffer, bool withPipeline) {
  for (std::size_t i = 0; i < pieces_.size(); ++i) {
    // A copy the device refuses is drawn as a quad instead, where the pipeline is set up.
    const bool copied = Copyable(pieces_[i]) && Copy(i, backBuffer);
    if (!copied && withPipeline) DrawQuad(i);
  }
}

void COverlayRenderer::DrawWithPipeline(IDirect3DSurface8* backBuffer, UINT width, UINT height) {
  if (!FillVertices()) return;
  // The game's values of the render and stage states and the viewport that the overlay sets: captured into a state
  // block of exactly those, or, where the device cannot be read, followed by the mirror. The block holds values
  // only, never an object of the game's.
  if (!mirror_) {
    if (!stateBlock_) {
      // Recorded: the block holds exactly the states that are set. The values recorded do not matter, only which
      // states are in the block: its viewport is one that fits any render target, since one that does not fit the
      // target of the moment is refused and would be left out of the block.
      if (!objectsRetry_.Due(NowMicroseconds())) return;
      const ULONG before = ledger_.DeviceCount();
      if (FAILED(device_->BeginStateBlock())) return objectsRetry_.Failed(NowMicroseconds());
      SetOverlayStates(1, 1);
      if (FAILED(device_->EndStateBlock(&stateBlock_))) {
        stateBlock_ = 0;
        return objectsRetry_.Failed(NowMicroseconds());
      }
      ledger_.AdoptStateBlock(before);
      objectsRetry_.Succeeded();
    }
    if (FAILED(device_->CaptureStateBlock(stateBlock_))) return;
  }
  GameBindings bindings = SaveBindings();
  // The game may be drawing into a texture of its own: the overlay goes into the back buffer all the same.
  const bool retarget = bindings.renderTarget != backBuffer;
  const bool targetReady = !retarget || SUCCEEDED(device_->SetRenderTarget(backBuffer, nullptr));

  if (targetReady && SUCCEEDED(device_->BeginScene())) {
    SetOverlayStates(width, height);
    device_->SetVertexShader(kOverlayVertexFormat);
    device_->SetPixelShader(0);
    device_->SetStreamSource(0, vertices_, sizeof(QuadVertex));
    DrawPieces(backBuffer, true);
    device_->EndScene();
  }

  // The game's render target first: setting one resets the viewport, which the restore then sets back.
  if (retarget && targetReady) device_->SetRenderTarget(bindings.renderTarget, bindings.depthStencil);
  if (mirror_) {
    mirror_->Restore(device_);
  } else {
    device_->ApplyStateBlock(stateBlock_);
  }
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

bool COverlayRenderer::FillVertices() {
  // The texels carry the colours; the vertices only pass them on.
  constexpr DWORD argb = 0xFFFFFFFF;
  const float side = static_cast<float>(tileSide_);
  const std::size_t wanted = pieces_.size() * 4;
  bool same = verticesWritten_ && quads_.size() == wanted;
  if (quads_.size() != wanted) quads_.resize(wanted);
  for (std::size_t i = 0; i < pieces_.size(); ++i) {
    const Rect& area = pieces_[i].area;
    const Rect& content = pieces_[i].content;
    // Pixel centres sit half a pixel off the corners: moving the quad back by half a pixel puts texel centres on
    // them, so each texel lands on exactly one pixel.
    const float left = static_cast<float>(area.left) - 0.5f;
    const float top = static_cast<float>(area.top) - 0.5f;
    const float right = static_cast<float>(area.right) - 0.5f;
    const float bottom = static_cast<float>(area.bottom) - 0.5f;
    const float u0 = static_cast<float>(content.left) / side;
    const float v0 = static_cast<float>(content.top) / side;
    const float u1 = static_cast<float>(content.right) / side;
    const float v1 = static_cast<float>(content.bottom) / side;
    const QuadVertex quad[4] = {
        {left, top, 0.0f, 1.0f, argb, u0, v0},
        {right, top, 0.0f, 1.0f, argb, u1, v0},
        {left, bottom, 0.0f, 1.0f, argb, u0, v1},
        {right, bottom, 0.0f, 1.0f, argb, u1, v1},
    };
    QuadVertex* at = &quads_[i * 4];
    same = same && std::memcmp(at, quad, sizeof quad) == 0;
    std::memcpy(at, quad, sizeof quad);
  }
  if (same) return true;
  // Written behind what was written before, with D3DLOCK_NOOVERWRITE, which never waits for the device; a full
  // buffer is let go (the device keeps it for as long as it draws from it) and a new one made. D3DLOCK_DISCARD is
  // never used: it also never waits, but Wine backs such locks with a 64 MiB heap of its own.
  const UINT quads = static_cast<UINT>(pieces_.size());
  if (vertices_ && vertexNext_ + quads > vertexCapacity_) ledger_.Release(vertices_);
  if (!vertices_) {
    if (!objectsRetry_.Due(NowMicroseconds())) return false;
    // Room for many more pieces than an overlay usually has, so that a buffer lasts for many changes.
    const UINT capacity = std::max<UINT>(kVertexBufferQuads, quads);
    if (FAILED(device_->CreateVertexBuffer(capacity * 4 * sizeof(QuadVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                           kOverlayVertexFormat, D3DPOOL_DEFAULT, &vertices_))) {
      vertices_ = nullptr;
      objectsRetry_.Failed(NowMicroseconds());
      return false;
    }
    ledger_.Adopt(vertices_);
    objectsRetry_.Succeeded();
    vertexCapacity_ = capacity;
    vertexNext_ = 0;
  }
  BYTE* data = nullptr;
  verticesWritten_ = false;
  const UINT bytes = quads * 4 * sizeof(QuadVertex);
  if (FAILED(vertices_->Lock(vertexNext_ * 4 * sizeof(QuadVertex), bytes, &data, D3DLOCK_NOOVERWRITE)) || !data) {
    return false;
  }
  std::memcpy(data, quads_.data(), bytes);
  vertices_->Unlock();
  firstVertex_ = vertexNext_ * 4;
  vertexNext_ += quads;
  verticesWritten_ = true;
  return true;
}

bool COverlayRenderer::Copyable(const Piece& piece) const {
  return piece.opaque && piece.format == backBufferFormat_ && piece.format == copyableFormat_;
}

bool COverlayRenderer::Copy(std::size_t index, IDirect3DSurface8* backBuffer) {
  const Piece& piece = pieces_[index];
  IDirect3DSurface8* surface = nullptr;
  if (FAILED(piece.texture->GetSurfaceLevel(0, &surface))) return false;
  // One rectangle a call: some implementations copy only the first rectangle of a call, and say it succeeded.
  const RECT from{static_cast<LONG>(piece.content.left), static_cast<LONG>(piece.content.top),
                  static_cast<LONG>(piece.content.right), static_cast<LONG>(piece.content.bottom)};
  const POINT to{static_cast<LONG>(piece.area.left), static_cast<LONG>(piece.area.top)};
  const HRESULT copied = device_->CopyRects(surface, &from, 1, backBuffer, &to);
  surface->Release();
  return SUCCEEDED(copied);
}

void COverlayRenderer::DrawQuad(std::size_t index) {
  const Piece& piece = pieces_[index];
  device_->SetTexture(0, piece.texture);
  if (piece.opaque) device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, firstVertex_ + static_cast<UINT>(index * 4), 2);
  if (piece.opaque) device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
}

}  // namespace ingame
