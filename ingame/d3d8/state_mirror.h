// The game's values of the states the overlay sets, followed through the game's own calls, for a device whose
// state cannot be read back (a pure device). The device's patched methods report every call that changes one of
// these states, state blocks included, and the overlay restores them from here after drawing.
#pragma once

#include <d3d8.h>

#include <bitset>
#include <map>
#include <optional>

#include "ingame/d3d8/overlay_states.h"

namespace ingame::d3d8 {

// One slot per followed state: the render states, then the stage states, then these.
enum MirrorSlot : int {
  kTexture0Slot = kOverlayRenderStateCount + kOverlayStageStateCount,
  kVertexShaderSlot,
  kPixelShaderSlot,
  kStream0Slot,
  kViewportSlot,
  kMirrorSlotCount
};

struct MirroredValues {
  DWORD renderStates[kOverlayRenderStateCount] = {};
  DWORD stageStates[kOverlayStageStateCount] = {};
  IDirect3DBaseTexture8* texture0 = nullptr;
  DWORD vertexShader = 0;
  DWORD pixelShader = 0;
  IDirect3DVertexBuffer8* stream0 = nullptr;
  UINT stream0Stride = 0;
  D3DVIEWPORT8 viewport{};
};

// A state block as the mirror knows it: which followed states it holds, and their values.
struct MirroredBlock {
  std::bitset<kMirrorSlotCount> has;
  MirroredValues values;
};

class CStateMirror {
 public:
  // The device's states as creation and Reset leave them: the documented defaults, a viewport covering the back
  // buffer, and depth testing on when the device made its own depth buffer.
  CStateMirror(UINT backBufferWidth, UINT backBufferHeight, bool autoDepthStencil);
  void ResetToDefaults(UINT backBufferWidth, UINT backBufferHeight, bool autoDepthStencil);

  // The game's calls, after the device accepted them.
  void SetRenderState(D3DRENDERSTATETYPE state, DWORD value);
  void SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value);
  void SetTexture(DWORD stage, IDirect3DBaseTexture8* texture);
  void SetVertexShader(DWORD handle);
  void SetPixelShader(DWORD handle);
  void SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride);
  void SetViewport(const D3DVIEWPORT8& viewport);
  // Drawing from the game's own memory leaves stream 0 empty.
  void DrawFromUserMemory();
  // Setting a render target makes the viewport cover it.
  void SetRenderTarget(UINT width, UINT height);
  void BeginStateBlock();
  void EndStateBlock(DWORD token);
  void CreateStateBlock(D3DSTATEBLOCKTYPE type, DWORD token);
  void ApplyStateBlock(DWORD token);
  void CaptureStateBlock(DWORD token);
  void DeleteStateBlock(DWORD token);

  // What the game has bound where the overlay binds its own: texture stage 0, stream 0 and the shaders.
  IDirect3DBaseTexture8* BoundTexture0() const { return current_.texture0; }
  IDirect3DVertexBuffer8* BoundStream0() const { return current_.stream0; }
  UINT Stream0Stride() const { return current_.stream0Stride; }
  DWORD VertexShader() const { return current_.vertexShader; }
  DWORD PixelShader() const { return current_.pixelShader; }

  // Sets the followed render and stage states and the viewport on the device to the game's values (the bindings
  // above the overlay puts back itself).
  void Restore(IDirect3DDevice8* device) const;

 private:
  using Values = MirroredValues;
  using Block = MirroredBlock;

  // Where a change goes: the block being recorded, or the device's current values.
  Values& Target(int slot);
  static void CopySlot(Values& to, const Values& from, int slot);

  Values current_;
  std::optional<Block> recording_;
  std::map<DWORD, Block> blocks_;
};

}  // namespace ingame::d3d8
