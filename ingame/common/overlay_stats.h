// What one game's overlay counts for the benchmarks: frames, textures made and filled, memory allocated, and
// for each slot of the shared state the first present that used the slot's latest version. Kept in a section
// named after the game's process (StatsSectionName), made only when the game runs with the environment variable
// VA_VAZU_OVERLAY_STATS set. Window-free.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace ingame {

inline constexpr char kStatsVariable[] = "VA_VAZU_OVERLAY_STATS";

enum StatsSlot { kLineSlot, kBlockSlot, kPictureSlot, kSwitchesSlot, kStatsSlotCount };

struct OverlayStats {
  std::atomic<std::uint64_t> presents;
  std::atomic<std::uint64_t> texturesCreated;
  std::atomic<std::uint64_t> texturesFilled;
  std::atomic<std::uint64_t> allocations;
  // The sequence number of each slot as the last present drew it, and the count of presents (this one
  // included) when that version was first drawn.
  std::atomic<std::uint32_t> drawnSequence[kStatsSlotCount];
  std::atomic<std::uint64_t> drawnAtPresent[kStatsSlotCount];
};

inline std::string StatsSectionName(unsigned long processId) {
  return "Local\\va_vazu.overlay.1.stats." + std::to_string(processId);
}

}  // namespace ingame
