#include "ingame/common/overlay_core.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "ingame/common/allocation_count.h"
#include "ingame/common/shared_section.h"

namespace ingame {
namespace {

// How long a game waits before it tries again to open the shared state when it could not.
constexpr ULONGLONG kReopenIntervalMs = 1000;

// How long a frame's uploads may take before the rest waits for the next frame; a band of each image is always
// filled.
constexpr std::uint64_t kUploadBudgetMicroseconds = 200;
// The side of the tiles where the device takes it.
constexpr int kTileSide = 256;
// How many textures of tiles no longer shown are kept for the next images.
constexpr std::size_t kSpareTiles = 32;
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

}  // namespace

COverlayCore::COverlayCore(IDeviceTiles& tiles, const DeviceLimits& limits, bool usable)
    : tiles_(tiles),
      limits_(limits),
      usable_(usable && limits.alphaFormat != TileFormat::kNone && limits.maxTextureWidth > 0 &&
              limits.maxTextureHeight > 0),
      stats_(ProcessStats()) {
  // Square tiles of a power of two fit every device's limits: its largest texture, a power of two or square only,
  // any largest aspect ratio.
  tileSide_ = kTileSide;
  while (tileSide_ > 1 && (static_cast<std::uint32_t>(tileSide_) > limits_.maxTextureWidth ||
                           static_cast<std::uint32_t>(tileSide_) > limits_.maxTextureHeight)) {
    tileSide_ /= 2;
  }
  content_ = std::make_shared<CContentSlots>();
  AddContentSlots(content_);
}

COverlayCore::~COverlayCore() {
  RemoveContentSlots(content_.get());
  // The game is gone from this device: it no longer answers for the screen size.
  if (screenWord_ != 0) {
    if (SharedState* state = ProcessState()) {
      ScreenWord expected = screenWord_;
      state->screen.compare_exchange_strong(expected, 0);
    }
  }
}

void COverlayCore::CountTextureCreated() { Count(stats_, &OverlayStats::texturesCreated); }

Rect COverlayCore::BeginFrame(std::int64_t width, std::int64_t height, const Rect* presented, bool newFrame) {
  frameStart_ = stats_ ? NowMicroseconds() : 0;
  drawStart_ = 0;
  lockMicroseconds_ = 0;
  if (newFrame && fpsMeter_.AddFrame(NowMicroseconds() / 1000) && stats_) {
    stats_->fps.store(static_cast<std::uint32_t>(fpsMeter_.Fps()), std::memory_order_relaxed);
  }
  SharedState* state = ProcessState();
  // The presented part of the back buffer is the overlay's screen.
  Rect screen{0, 0, width, height};
  if (presented) screen = Intersect(screen, *presented);
  if (!state || !usable_ || screen.Empty()) return Rect{};
  PublishScreen(*state, screen);
  const std::uint32_t before[kStatsSlotCount] = {lineSequence_, blockSequence_, pictureSequence_, switchesSequence_};
  ReadSharedState(*state);
  if (stats_) {
    const std::uint64_t begun = stats_->presentsBegun.fetch_add(1) + 1;
    const std::uint32_t after[kStatsSlotCount] = {lineSequence_, blockSequence_, pictureSequence_, switchesSequence_};
    for (int slot = 0; slot < kStatsSlotCount; ++slot) {
      if (after[slot] != before[slot] || readAtBegun_[slot] == 0) readAtBegun_[slot] = begun;
    }
  }
  SetCanvas(screen);
  return screen;
}

const DrawList* COverlayCore::Update(const Rect& screen) {
  const std::uint64_t updating = stats_ ? NowMicroseconds() : 0;
  // A line posted before (at the device's creation, for the first present) is made while Warm waits, where the
  // worker gets a processor meanwhile.
  if (wakeNow_) {
    wakeNow_ = false;
    WakeContentWorker();
  }
  if (!warmed_) {
    // Tried once: a device that cannot make its staging now (its memory full) takes the wait with the first upload.
    warmed_ = true;
    tiles_.Warm();
  }
  UploadImages();
  drawStart_ = stats_ ? NowMicroseconds() : 0;
  if (stats_) KeepLongest(stats_->longestUploadMicroseconds, drawStart_ - updating);
  if (!AnythingShown()) return nullptr;
  CollectPieces(screen);
  return list_.pieces.empty() ? nullptr : &list_;
}

void COverlayCore::EndFrame() {
  if (!stats_) return;
  const std::uint64_t now = NowMicroseconds();
  if (drawStart_ != 0) KeepLongest(stats_->longestDrawMicroseconds, now - drawStart_);
  const std::uint64_t spent = now - frameStart_;
  stats_->overlayMicroseconds.fetch_add(spent, std::memory_order_relaxed);
  KeepLongest(stats_->longestOverlayMicroseconds, spent);
  stats_->workHistogram[std::min<std::uint64_t>(spent / kWorkStepMicroseconds, kWorkSteps - 1)].fetch_add(
      1, std::memory_order_relaxed);
  const std::uint64_t unlocked = spent - std::min(spent, lockMicroseconds_);
  KeepLongest(stats_->longestUnlockedMicroseconds, unlocked);
  stats_->unlockedHistogram[std::min<std::uint64_t>(unlocked / kWorkStepMicroseconds, kWorkSteps - 1)].fetch_add(
      1, std::memory_order_relaxed);
}

void COverlayCore::OnPresented(std::uint64_t presentMicroseconds) {
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

void COverlayCore::SetCanvas(const Rect& screen) {
  canvasWidth_ = std::max(canvasWidth_, screen.Width());
  canvasHeight_ = std::max(canvasHeight_, screen.Height());
}

void COverlayCore::PublishScreen(SharedState& state, const Rect& screen) {
  screenWord_ = PackScreen(GetCurrentProcessId(), static_cast<std::uint32_t>(screen.Width()),
                           static_cast<std::uint32_t>(screen.Height()));
  if (state.screen.load(std::memory_order_relaxed) != screenWord_) {
    state.screen.store(screenWord_, std::memory_order_release);
  }
  state.screenTick.store(GetTickCount(), std::memory_order_relaxed);
}

void COverlayCore::ReadSharedState(const SharedState& state) {
  Refresh(state.line, line_, lineSequence_, lineRead_, CheckLine);
  Refresh(state.block, block_, blockSequence_, blockRead_, CheckBlock);
  Refresh(state.picture, picture_, pictureSequence_, pictureRead_, CheckPicture);
  Refresh(state.switches, switches_, switchesSequence_, switchesRead_, [](const SwitchRecord&) { return true; });
}

bool COverlayCore::AnythingShown() const {
  return switches_.lineShown || switches_.blockShown || switches_.pictureShown || switches_.fpsShown;
}

Job COverlayCore::WantedJob(Element element) const {
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
      job.maxTextureWidth = limits_.maxTextureWidth;
      job.maxTextureHeight = limits_.maxTextureHeight;
      break;
    default:
      // The glyphs do not depend on the screen.
      job.canvasWidth = job.canvasHeight = 0;
      break;
  }
  return job;
}

void COverlayCore::PostJobs() {
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

void COverlayCore::UploadImages() {
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

void COverlayCore::Upload(ElementSprites& element, std::uint64_t deadline) {
  const Image& image = *element.image;
  Sprite& next = element.next;
  if (!element.uploading) {
    next.source = element.image;
    next.area = image.area;
    next.opaque = image.opaque;
    next.sequence = image.sequence;
    // An opaque image is kept in the format of the back buffer it is copied into, where the device has it.
    next.format = image.opaque && limits_.copyableFormat != TileFormat::kNone ? limits_.copyableFormat
                                                                          : limits_.alphaFormat;
    element.plan = CUploadPlan(image.width, image.height, tileSide_, limits_.wholeTiles ? tileSide_ : kBandRows,
                               kStagingSlots, nextStagingSlot_);
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
    Tile& tile = next.tiles[static_cast<std::size_t>(step.tile)];
    if (!tile.texture && !MakeTile(next.format, tile)) return Defer(element);
    if (!tiles_.FillBand(image, step, next.format, tile.texture, tile.x, tile.y)) return Defer(element);
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

void COverlayCore::Defer(ElementSprites& element) {
  // The element's last image goes, and with it the textures kept for later ones, which gives the device back what
  // the overlay can spare; the image that could not be uploaded is kept and tried again, whole, once due.
  ReleaseUpload(element);
  ReleaseSprite(element.shown);
  element.shown.present = true;
  ReleaseSpareTiles();
  element.retry.Failed(NowMicroseconds());
}

void COverlayCore::ReleaseSpareTiles() {
  for (auto& spare : spareTiles_) tiles_.ReleaseTile(spare.second);
  spareTiles_.clear();
}

void COverlayCore::ReleaseSprite(Sprite& sprite) {
  for (Tile& tile : sprite.tiles) {
    if (!tile.texture) continue;
    if (spareTiles_.size() < kSpareTiles) {
      spareTiles_.emplace_back(sprite.format, tile.texture);
      tile.texture = nullptr;
    } else {
      tiles_.ReleaseTile(tile.texture);
    }
  }
  Retire(sprite.source);
  sprite = Sprite{};
}

void COverlayCore::Retire(std::shared_ptr<const Image>& image) {
  if (!image) return;
  try {
    retired_.push_back(std::move(image));
  } catch (...) {
    // Out of memory: freed here after all.
  }
  image = nullptr;
}

void COverlayCore::ReleaseUpload(ElementSprites& element) {
  ReleaseSprite(element.next);
  element.uploading = false;
}

void COverlayCore::AddPieces(const Sprite& sprite, const Rect& part, std::int64_t atX, std::int64_t atY,
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
    const Rect content{inImage.left - tile.x + (area.left - placed.left),
                       inImage.top - tile.y + (area.top - placed.top),
                       inImage.left - tile.x + (area.right - placed.left),
                       inImage.top - tile.y + (area.bottom - placed.top)};
    list_.pieces.push_back(DrawPiece{tile.texture, sprite.format, sprite.opaque, area, content});
  }
}

void COverlayCore::CollectPieces(const Rect& screen) {
  list_.pieces.clear();
  list_.coveredCount = 0;
  // Bottom first: the picture, then the block, the line and the frame rate.
  const bool shown[] = {switches_.pictureShown != 0, switches_.blockShown != 0, switches_.lineShown != 0};
  const Element order[] = {kPictureElement, kBlockElement, kLineElement};
  for (int i = 0; i < 3; ++i) {
    const Sprite& sprite = elements_[order[i]].shown;
    if (!shown[i] || sprite.tiles.empty()) continue;
    const std::size_t first = list_.pieces.size();
    AddPieces(sprite, Rect{0, 0, sprite.area.Width(), sprite.area.Height()}, sprite.area.left, sprite.area.top, screen);
    Cover(first);
  }
  if (switches_.fpsShown) {
    const std::size_t first = list_.pieces.size();
    AddFpsPieces(screen);
    Cover(first);
  }
  MakeQuads();
}

void COverlayCore::Cover(std::size_t first) {
  const std::vector<DrawPiece>& pieces = list_.pieces;
  if (first >= pieces.size()) return;
  Rect bounds = pieces[first].area;
  for (std::size_t i = first + 1; i < pieces.size(); ++i) {
    const Rect& area = pieces[i].area;
    bounds = Rect{std::min(bounds.left, area.left), std::min(bounds.top, area.top), std::max(bounds.right, area.right),
                  std::max(bounds.bottom, area.bottom)};
  }
  list_.covered[list_.coveredCount++] = bounds;
}

void COverlayCore::AddFpsPieces(const Rect& screen) {
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

void COverlayCore::Prepare(std::int64_t width, std::int64_t height) {
  SharedState* state = ProcessState();
  if (!state || !usable_ || width <= 0 || height <= 0) return;
  ReadSharedState(*state);
  SetCanvas(Rect{0, 0, width, height});
  // Posted now, made from the first present on (WakeContentWorker).
  PostJobs();
}

bool COverlayCore::MakeTile(TileFormat format, Tile& tile) {
  // A texture of a tile no longer shown, or a new one.
  for (auto spare = spareTiles_.begin(); spare != spareTiles_.end(); ++spare) {
    if (spare->first == format) {
      tile.texture = spare->second;
      spareTiles_.erase(spare);
      return true;
    }
  }
  if (!tiles_.MakeTile(format, tileSide_, tile.texture)) {
    tile.texture = nullptr;
    return false;
  }
  Count(stats_, &OverlayStats::texturesCreated);
  return true;
}

void COverlayCore::ReleaseAll() {
  for (ElementSprites& element : elements_) {
    // Uploaded again, after a reset, from the images they were made from.
    if (!element.image) element.image = element.shown.source;
    ReleaseSprite(element.shown);
    ReleaseUpload(element);
  }
  ReleaseSpareTiles();
  list_.pieces.clear();
  list_.quadsChanged = true;
}

void COverlayCore::OnAfterReset(bool reset) {
  // A reset gives the device its memory back: whatever could not be made is tried at once.
  for (ElementSprites& element : elements_) element.retry.TryNow();
  // Nothing is queued on a device just reset: the staging's first lock waits least here.
  if (reset && warmed_) tiles_.Warm();
}

void COverlayCore::Abandon() {
  for (ElementSprites& element : elements_) {
    element.shown = Sprite{};
    element.next = Sprite{};
    element.uploading = false;
  }
  spareTiles_.clear();
  list_.pieces.clear();
}

void COverlayCore::MakeQuads() {
  const std::vector<DrawPiece>& pieces = list_.pieces;
  std::vector<QuadVertex>& quads = list_.quads;
  const std::size_t wanted = pieces.size() * 4;
  bool same = quads.size() == wanted;
  if (!same) quads.resize(wanted);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    QuadVertex quad[4];
    QuadCorners(pieces[i].area, pieces[i].content, tileSide_, quad);
    QuadVertex* at = &quads[i * 4];
    same = same && std::memcmp(at, quad, sizeof quad) == 0;
    std::memcpy(at, quad, sizeof quad);
  }
  list_.quadsChanged = !same;
}

}  // namespace ingame
