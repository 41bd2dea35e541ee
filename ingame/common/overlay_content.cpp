#include "ingame/common/overlay_content.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "ingame/common/shared_section.h"
#include "ingame/common/upload_plan.h"
#include "ingame/common/text_raster.h"

namespace ingame {
namespace {

bool SameText(const char* a, std::uint16_t lengthA, const char* b, std::uint16_t lengthB) {
  return lengthA == lengthB && std::memcmp(a, b, lengthA) == 0;
}

// Keeps the worker to what the game leaves free of the processors, so that a game that keeps its processor busy
// loses a little in many frames rather than much in one, and a game that leaves a processor idle gets its
// pictures within a few frames: the worker earns working time at a share of the clock (WorkerShare), up to a burst
// of 0.4 ms, and spends it working; with none left, it sleeps until it has earned a slice again. The share comes
// from the system's counts of processor time, at most every 0.1 s: how much of the processors it may run on the
// game's process kept busy, the worker left out. A short text (a score, a status
// line) is made at once from what was earned while idle; a long block or a large picture spreads over several
// frames of a busy game's. The system's thread priorities do not reach the scheduler everywhere (not under Wine),
// so the worker paces itself. One worker thread makes every image: the account is its own and goes on from one
// image to the next, in plain statics that only that thread touches (a compiler's thread_local may allocate on the
// game's heap).
class Pace {
 public:
  Pace() { Earn(); }
  ~Pace() { Spend(); }
  Pace(const Pace&) = delete;
  Pace& operator=(const Pace&) = delete;

  // Called often while working: spends the time worked since, and rests when what was earned is gone.
  void Step() {
    Spend();
    if (t_credit > 0) return;
    Measure();
    if (t_share >= 1.0) {
      Earn();
      return;
    }
    const double rest = static_cast<double>(kSliceMicroseconds - t_credit) / t_share;
    Sleep(static_cast<DWORD>(rest / 1000 + 1));
    Earn();
  }

  // Measures what the game leaves free of the processors it may run on, when the last measurement is old enough to
  // tell: the processor time of the game's process, less the worker's own.
  static void Measure() {
    const std::uint64_t now = NowMicroseconds();
    if (t_measured != 0 && now - t_measured < kMeasureMicroseconds) return;
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    FILETIME created, ended, kernel, user, workerKernel, workerUser;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask) ||
        !GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user) ||
        !GetThreadTimes(GetCurrentThread(), &created, &ended, &workerKernel, &workerUser)) {
      return;
    }
    int processors = 0;
    for (; processMask != 0; processMask &= processMask - 1) ++processors;
    const std::uint64_t game = Ticks(kernel) + Ticks(user);
    const std::uint64_t worker = Ticks(workerKernel) + Ticks(workerUser);
    if (t_measured != 0) {
      // Processor times come in 100 ns units; the clock in microseconds.
      const double wall = static_cast<double>(now - t_measured) * 10.0;
      const std::uint64_t gameBusy = (game - t_game) - std::min(game - t_game, worker - t_worker);
      t_share = WorkerShare(processors - static_cast<double>(gameBusy) / wall);
    }
    t_measured = now;
    t_game = game;
    t_worker = worker;
  }

 private:
  static constexpr std::int64_t kBurstMicroseconds = 400;
  static constexpr std::int64_t kSliceMicroseconds = 200;
  static constexpr std::uint64_t kMeasureMicroseconds = 100000;

  static std::uint64_t Ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  }

  // Time away from work (asleep, or between images) earns its share; time working is spent.
  static void Earn() {
    const std::uint64_t now = NowMicroseconds();
    const auto earned = static_cast<std::int64_t>(static_cast<double>(now - t_since) * t_share);
    t_credit = std::min(kBurstMicroseconds, t_credit + earned);
    t_since = now;
  }
  static void Spend() {
    const std::uint64_t now = NowMicroseconds();
    t_credit -= static_cast<std::int64_t>(now - t_since);
    t_since = now;
  }

  static std::int64_t t_credit;
  static std::uint64_t t_since;
  static double t_share;
  static std::uint64_t t_measured;
  static std::uint64_t t_game;
  static std::uint64_t t_worker;
};

std::int64_t Pace::t_credit = Pace::kBurstMicroseconds;
std::uint64_t Pace::t_since = 0;
double Pace::t_share = 1.0 / 32;
std::uint64_t Pace::t_measured = 0;
std::uint64_t Pace::t_game = 0;
std::uint64_t Pace::t_worker = 0;

// Sizes an image's pixels a band at a time, resting between: clearing megabytes at once is a long slice.
void SizePixels(Image& image, Pace& pace) {
  const std::size_t count = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  constexpr std::size_t kBand = 64 * 1024;
  image.pixels.reserve(count);
  while (image.pixels.size() < count) {
    image.pixels.resize(std::min(count, image.pixels.size() + kBand));
    pace.Step();
  }
}

std::shared_ptr<Image> EmptyImage(std::uint32_t sequence) {
  auto image = std::make_shared<Image>();
  image->sequence = sequence;
  return image;
}

// Draws the lines, the first one's top left corner at `origin`, within `box` (which a black background fills) and
// the overlay's screen.
std::shared_ptr<const Image> TextImage(const std::vector<std::string_view>& lines, const TextLook& look,
                                       const Rect& box, const Job& job) {
  auto image = EmptyImage(job.sequence);
  if ((look.argb >> 24) == 0) return image;
  const Rect visible = Intersect(box, Rect{0, 0, job.canvasWidth, job.canvasHeight});
  CTextRaster raster;
  Pace pace;
  if (visible.Empty() || !raster.Draw(lines, look, box.left, box.top, visible, [&pace] { pace.Step(); })) {
    return image;
  }
  const bool black = (look.flags & kBlackBackground) != 0;
  // The 256 texels a coverage can give, worked out once.
  std::uint32_t texels[256];
  for (unsigned coverage = 0; coverage < 256; ++coverage) texels[coverage] = TextTexel(coverage, look.argb, black);
  image->width = raster.width();
  image->height = raster.height();
  SizePixels(*image, pace);
  for (int y = 0; y < image->height; ++y) {
    std::uint32_t* row = image->pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image->width);
    for (int x = 0; x < image->width; ++x) row[x] = texels[raster.Coverage(x, y)];
    pace.Step();
  }
  image->area = visible;
  image->opaque = black && (look.argb >> 24) == 0xFF;
  return image;
}

TextLook FpsLook() {
  TextLook look;
  look.argb = kFpsColour;
  look.size = kFpsTextHeight;
  look.flags = kBold | kMonospace | kBlackBackground;
  return look;
}

// The glyphs of kFpsGlyphs side by side, each in a cell of the figure's full height, over black.
std::shared_ptr<const Image> GlyphsImage() {
  auto image = EmptyImage(0);
  const TextLook look = FpsLook();
  const int cell = GlyphCellWidth();
  const int height = CTextRaster::Measure("0", look).lineHeight + 2 * kFpsPaddingY;
  const int count = static_cast<int>(sizeof kFpsGlyphs - 1);
  if (cell <= 0 || height <= 2 * kFpsPaddingY) return image;
  image->width = cell * count;
  image->height = height;
  image->pixels.assign(static_cast<std::size_t>(image->width) * static_cast<std::size_t>(height), 0xFF000000u);
  for (int i = 0; i < count; ++i) {
    CTextRaster raster;
    const Rect cellRect{std::int64_t{i} * cell, 0, std::int64_t{i + 1} * cell, height};
    if (!raster.Draw({std::string_view(&kFpsGlyphs[i], 1)}, look, cellRect.left, kFpsPaddingY, cellRect)) continue;
    for (int y = 0; y < raster.height(); ++y) {
      std::uint32_t* row = image->pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image->width);
      for (int x = 0; x < raster.width(); ++x) row[i * cell + x] = TextTexel(raster.Coverage(x, y), look.argb, true);
    }
  }
  image->area = Rect{0, 0, image->width, image->height};
  image->opaque = true;
  return image;
}

// The part of the picture that lies on the overlay's screen, the picture scaled down first where it is larger than
// the device's largest texture: never more pixels than the screen has, whatever size the picture is.
std::shared_ptr<const Image> PictureImage(const Job& job) {
  auto image = EmptyImage(job.sequence);
  Pace pace;
  const std::shared_ptr<const CPictureSection> section = KeptPicture(job.picture);
  if (!section) return image;
  pace.Step();
  const Size size{job.picture.width, job.picture.height};
  const PictureCrop crop = CropPicture(size, job.maxTextureWidth, job.maxTextureHeight, job.pictureX, job.pictureY,
                                       job.canvasWidth, job.canvasHeight);
  if (crop.visible.Empty()) return image;
  const Size shown = crop.shown;
  const Rect& visible = crop.visible;
  const Rect& region = crop.region;
  image->width = static_cast<int>(region.Width());
  image->height = static_cast<int>(region.Height());
  SizePixels(*image, pace);
  CPictureSection::Rows rows(*section);
  bool readable = true;
  if (shown == size) {
    for (int y = 0; y < image->height && readable; ++y) {
      pace.Step();
      const std::uint32_t* row = rows.Row(static_cast<std::uint32_t>(region.top + y));
      readable = row != nullptr;
      if (readable) {
        std::memcpy(image->pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image->width),
                    row + region.left, static_cast<std::size_t>(image->width) * 4);
      }
    }
  } else {
    // A row the section cannot give reads as a transparent one, and the image is dropped after.
    const std::vector<std::uint32_t> clear(size.width, 0);
    ScaleRegion(
        [&](std::uint32_t y) {
          pace.Step();
          const std::uint32_t* row = rows.Row(y);
          readable = readable && row != nullptr;
          return row ? row : clear.data();
        },
        size, shown, region, image->pixels.data(), static_cast<std::size_t>(image->width));
  }
  if (!readable) return EmptyImage(job.sequence);
  image->area = visible;
  image->opaque = true;
  for (std::size_t at = 0; at < image->pixels.size() && image->opaque; at += image->width) {
    const auto row = image->pixels.begin() + static_cast<std::ptrdiff_t>(at);
    image->opaque = std::all_of(row, row + image->width, [](std::uint32_t p) { return (p >> 24) == 0xFF; });
    pace.Step();
  }
  return image;
}

// The image made last for each element, whichever device asked: a device made anew, or a second one, takes it at
// once instead of waiting for the worker to make it again.
class CRecentImages {
 public:
  static CRecentImages& Instance() {
    static CRecentImages recent;
    return recent;
  }
  // The image made for a job equal to `job`; null when there is none, or when the worker holds the lock.
  std::shared_ptr<const Image> Find(const Job& job) {
    if (!TryAcquireSRWLockShared(&lock_)) return nullptr;
    std::shared_ptr<const Image> found = made_[job.element].image && made_[job.element].job == job
                                             ? made_[job.element].image
                                             : nullptr;
    ReleaseSRWLockShared(&lock_);
    return found;
  }
  void Keep(const Job& job, const std::shared_ptr<const Image>& image) {
    AcquireSRWLockExclusive(&lock_);
    made_[job.element].job = job;
    made_[job.element].image = image;
    ReleaseSRWLockExclusive(&lock_);
  }

 private:
  struct Made {
    Job job;
    std::shared_ptr<const Image> image;
  };
  SRWLOCK lock_ = SRWLOCK_INIT;
  Made made_[kElementCount];
};

// The process's worker: one thread that makes the images every device's renderer asks for. It waits on a condition
// variable, which a renderer wakes without a call into the system's server.
class CContentWorker {
 public:
  static CContentWorker& Instance() {
    static CContentWorker worker;
    return worker;
  }

  bool Start(void (*housekeeping)()) {
    housekeeping_.store(housekeeping);
    InitOnceExecuteOnce(&started_, StartThread, this, nullptr);
    return running_;
  }

  void Add(const std::shared_ptr<CContentSlots>& slots) {
    AcquireSRWLockExclusive(&lock_);
    try {
      slots_.push_back(slots);
    } catch (...) {
      // Out of memory: this device's overlay gets no images.
    }
    ReleaseSRWLockExclusive(&lock_);
  }

  void Remove(const CContentSlots* slots) {
    AcquireSRWLockExclusive(&lock_);
    slots_.erase(std::remove_if(slots_.begin(), slots_.end(), [slots](const auto& s) { return s.get() == slots; }),
                 slots_.end());
    ReleaseSRWLockExclusive(&lock_);
  }

  // Wakes the worker. From a renderer, which must not wait: where the lock is had at once, the wake cannot be
  // missed; where not, the worker is awake at that moment or wakes on its own within kIdleWakeMs.
  void Wake() {
    // The thread was made at the game's CreateDevice and starts at the first wake, the game's first present: while
    // the game loads, nothing of the worker's runs beside it.
    if (thread_ && !resumed_.exchange(true)) ResumeThread(thread_);
    const bool locked = TryAcquireSRWLockExclusive(&lock_) != FALSE;
    work_ = true;
    if (locked) ReleaseSRWLockExclusive(&lock_);
    WakeConditionVariable(&wake_);
  }

 private:
  static constexpr DWORD kIdleWakeMs = 50;
  static constexpr std::uint64_t kHousekeepingMicroseconds = 250000;

  static BOOL CALLBACK StartThread(PINIT_ONCE, PVOID self, PVOID*) {
    auto* worker = static_cast<CContentWorker*>(self);
    HANDLE thread = CreateThread(nullptr, 0, Run, worker, CREATE_SUSPENDED, nullptr);
    worker->running_ = thread != nullptr;
    // Below the game's threads, where the system's scheduler takes the hint (Wine's does not: there the worker
    // paces itself, Pace).
    if (thread) SetThreadPriority(thread, THREAD_PRIORITY_LOWEST);
    worker->thread_ = thread;
    return TRUE;
  }

  static DWORD WINAPI Run(void* self) {
    static_cast<CContentWorker*>(self)->Loop();
    return 0;
  }

  void Loop() {
    std::vector<std::shared_ptr<CContentSlots>> slots;
    std::uint64_t lastHousekeeping = NowMicroseconds();
    for (;;) {
      AcquireSRWLockExclusive(&lock_);
      if (!work_) SleepConditionVariableSRW(&wake_, &lock_, kIdleWakeMs, 0);
      const bool work = work_;
      work_ = false;
      try {
        if (work) slots = slots_;
      } catch (...) {
        slots.clear();
      }
      ReleaseSRWLockExclusive(&lock_);
      if (NowMicroseconds() - lastHousekeeping >= kHousekeepingMicroseconds) {
        if (const auto housekeeping = housekeeping_.load()) housekeeping();
        lastHousekeeping = NowMicroseconds();
      }
      Pace::Measure();
      for (const auto& s : slots) s->MakePending();
      slots.clear();
    }
  }

  INIT_ONCE started_ = INIT_ONCE_STATIC_INIT;
  bool running_ = false;
  HANDLE thread_ = nullptr;
  std::atomic<bool> resumed_{false};
  std::atomic<void (*)()> housekeeping_{nullptr};
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE wake_ = CONDITION_VARIABLE_INIT;
  bool work_ = false;
  std::vector<std::shared_ptr<CContentSlots>> slots_;
};

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

bool Job::operator==(const Job& other) const {
  if (element != other.element || sequence != other.sequence) return false;
  const bool sameCanvas = canvasWidth == other.canvasWidth && canvasHeight == other.canvasHeight;
  switch (element) {
    case kLineElement:
      return sameCanvas && line.x == other.line.x && line.y == other.line.y && line.look == other.line.look &&
             SameText(line.text, line.length, other.line.text, other.line.length);
    case kBlockElement:
      return sameCanvas && block.x == other.block.x && block.y == other.block.y && block.width == other.block.width &&
             block.height == other.block.height && block.look == other.block.look &&
             SameText(block.text, block.length, other.block.text, other.block.length);
    case kPictureElement:
      return sameCanvas && picture.generation == other.picture.generation && picture.width == other.picture.width &&
             picture.height == other.picture.height && pictureX == other.pictureX && pictureY == other.pictureY &&
             maxTextureWidth == other.maxTextureWidth && maxTextureHeight == other.maxTextureHeight;
    default:
      return true;
  }
}

std::shared_ptr<const Image> MakeImage(const Job& job) {
  switch (job.element) {
    case kLineElement: {
      const std::string_view text(job.line.text, job.line.length);
      const TextMetrics metrics = CTextRaster::Measure(text, job.line.look);
      const Rect box{job.line.x, job.line.y, job.line.x + std::int64_t{metrics.width},
                     job.line.y + std::int64_t{metrics.lineHeight}};
      return TextImage({text}, job.line.look, box, job);
    }
    case kBlockElement: {
      const BlockRecord& block = job.block;
      const Rect box{block.x, block.y, block.x + std::int64_t{block.width}, block.y + std::int64_t{block.height}};
      return TextImage(SplitLines(std::string_view(block.text, block.length)), block.look, box, job);
    }
    case kPictureElement:
      return PictureImage(job);
    case kGlyphsElement:
      return GlyphsImage();
    default:
      return EmptyImage(job.sequence);
  }
}

int GlyphCellWidth() {
  static const int width = CTextRaster::Measure("0", FpsLook()).width;
  return width;
}

CContentSlots::CContentSlots() = default;
CContentSlots::~CContentSlots() = default;

bool CContentSlots::Post(const Job& job) {
  std::shared_ptr<const Image> made = CRecentImages::Instance().Find(job);
  if (!TryAcquireSRWLockExclusive(&lock_)) return false;
  Slot& slot = slots_[job.element];
  slot.job = job;
  const bool toMake = !made;
  slot.pending = toMake;
  if (made) slot.made = std::move(made);
  ReleaseSRWLockExclusive(&lock_);
  return true;
}

std::shared_ptr<const Image> CContentSlots::Take(Element element) {
  if (!TryAcquireSRWLockExclusive(&lock_)) return nullptr;
  std::shared_ptr<const Image> made = static_cast<std::shared_ptr<const Image>&&>(slots_[element].made);
  slots_[element].made = nullptr;
  ReleaseSRWLockExclusive(&lock_);
  return made;
}

void CContentSlots::Retire(std::vector<std::shared_ptr<const Image>>& images) {
  if (!TryAcquireSRWLockExclusive(&lock_)) return;
  // Swapped, not copied: the renderer gets the worker's emptied list back, and neither side allocates.
  if (retired_.empty()) {
    retired_.swap(images);
  } else {
    try {
      for (auto& image : images) retired_.push_back(std::move(image));
      images.clear();
    } catch (...) {
      // Out of memory: they wait for the next call.
    }
  }
  ReleaseSRWLockExclusive(&lock_);
}

void CContentSlots::MakePending() {
  {
    std::vector<std::shared_ptr<const Image>> freed;
    AcquireSRWLockExclusive(&lock_);
    freed.swap(retired_);
    ReleaseSRWLockExclusive(&lock_);
    freed.clear();
    // The list's room goes back for the next swap.
    AcquireSRWLockExclusive(&lock_);
    if (retired_.empty()) retired_.swap(freed);
    ReleaseSRWLockExclusive(&lock_);
  }
  for (Slot& slot : slots_) {
    AcquireSRWLockExclusive(&lock_);
    const bool pending = slot.pending;
    Job job;
    if (pending) job = slot.job;
    slot.pending = false;
    ReleaseSRWLockExclusive(&lock_);
    if (!pending) continue;
    std::shared_ptr<const Image> image;
    try {
      image = MakeImage(job);
    } catch (...) {
      // Out of memory: the element goes without an image until it changes.
      image = nullptr;
    }
    if (!image) {
      try {
        image = EmptyImage(job.sequence);
      } catch (...) {
        continue;
      }
    }
    CRecentImages::Instance().Keep(job, image);
    AcquireSRWLockExclusive(&lock_);
    // A newer job posted meanwhile makes a newer image soon: this one is still the nearest to it.
    slot.made = image;
    ReleaseSRWLockExclusive(&lock_);
  }
}

bool StartContentWorker(void (*housekeeping)()) { return CContentWorker::Instance().Start(housekeeping); }

void WakeContentWorker() { CContentWorker::Instance().Wake(); }

void AddContentSlots(const std::shared_ptr<CContentSlots>& slots) { CContentWorker::Instance().Add(slots); }

void RemoveContentSlots(const CContentSlots* slots) { CContentWorker::Instance().Remove(slots); }

std::shared_ptr<const CPictureSection> KeptPicture(const PictureRecord& record) {
  static SRWLOCK lock = SRWLOCK_INIT;
  static std::shared_ptr<const CPictureSection> kept;
  AcquireSRWLockExclusive(&lock);
  std::shared_ptr<const CPictureSection> found;
  const bool same = kept && kept->record().generation == record.generation && kept->record().width == record.width &&
                    kept->record().height == record.height;
  if (same) {
    found = kept;
  } else if (record.generation != 0) {
    found = CPictureSection::Open(record);
    // Kept only when it opens: a picture the dialog has let go of meanwhile cannot be had again, and the last one
    // that could stays.
    if (found) kept = found;
  }
  ReleaseSRWLockExclusive(&lock);
  return found;
}

}  // namespace ingame
