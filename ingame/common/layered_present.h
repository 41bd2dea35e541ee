// The overlay's Direct3D libraries may sit one over the other: a Direct3D 8 that draws through Direct3D 9 (a
// wrapper named in d3d8_chain.txt) loads d3d9.dll from the game's folder, which may be the overlay's too. The
// library the game calls draws the overlay; one below it draws nothing into a frame the one above presents.
#pragma once

namespace ingame {

// For the scope of a game's present in this library: the calling thread presents here.
class CLayerPresent {
 public:
  CLayerPresent();
  ~CLayerPresent();
  CLayerPresent(const CLayerPresent&) = delete;
  CLayerPresent& operator=(const CLayerPresent&) = delete;

 private:
  void* before_;
};

// Whether the calling thread is in a present of this library (the answer of its VaVazuOverlayPresenting export).
bool PresentingHere();

// Finds the overlay's library `name` (e.g. L"d3d8.dll") among the loaded ones, once it is: afterwards
// PresentingAbove tells whether the calling thread is in a present of that library.
void FindLayerAbove(const wchar_t* name);
bool PresentingAbove();

}  // namespace ingame
