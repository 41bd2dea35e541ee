// The game's values of the states the overlay sets, followed through the game's own calls, for a Direct3D 9
// device whose state cannot be read back (a pure device). The device's patched methods, and those of its state
// blocks, report every call that changes one of these states, and the overlay restores them from here after
// drawing. The mirror holds no references: what it names is bound on the device, or held by a state block, for as
// long as the mirror names it, as the device keeps what is bound to it and a block what it recorded.
#pragma once

#include <d3d9.h>

#include <bitset>
#include <map>
#include <optional>

#include "ingame/d3d9/overlay_states.h"

namespace ingame::d3d9 {

// One slot per followed state: the render states, then the stage states, then the sampler states, then these.
enum MirrorSlot : int {
  kTexture0Slot = kOverlayRenderStateCount + kOverlayStageStateCount + kOverlaySamplerStateCount,
  kVertexShaderSlot,
  kPixelShaderSlot,
  kVertexFormatSlot,  // the vertex declaration or the FVF, which replace each other
  kStream0Slot,
  kStream0FrequencySlot,
  kViewportSlot,
  kScissorRectSlot,
  kMirrorSlotCount
};

struct MirroredValues {
  DWORD renderStates[kOverlayRenderStateCount] = {};
  DWORD stageStates[kOverlayStageStateCount] = {};
  DWORD samplerStates[kOverlaySamplerStateCount] = {};
  IDirect3DBaseTexture9* texture0 = nullptr;
  IDirect3DVertexShader9* vertexShader = nullptr;
  IDirect3DPixelShader9* pixelShader = nullptr;
  // The vertex format: an FVF when the game last set one (`fvf` not 0), else the declaration it set.
  IDirect3DVertexDeclaration9* vertexDeclaration = nullptr;
  DWORD fvf = 0;
  IDirect3DVertexBuffer9* stream0 = nullptr;
  UINT stream0Offset = 0;
  UINT stream0Stride = 0;
  UINT stream0Frequency = 1;
  D3DVIEWPORT9 viewport{};
  RECT scissorRect{};
};

// A state block as the mirror knows it: which followed states it holds, and their values.
struct MirroredBlock {
  std::bitset<kMirrorSlotCount> has;
  MirroredValues values;
};

class CStateMirror {
 public:
  // The device's states as creation and Reset leave them: the documented defaults, a viewport and a scissor rect
  // covering the back buffer, and depth testing on when the device made its own depth buffer.
  CStateMirror(UINT backBufferWidth, UINT backBufferHeight, bool autoDepthStencil);
  void ResetToDefaults(UINT backBufferWidth, UINT backBufferHeight, bool autoDepthStencil);

  // The game's calls, after the device accepted them.
  void SetRenderState(D3DRENDERSTATETYPE state, DWORD value);
  void SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value);
  void SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value);
  void SetTexture(DWORD stage, IDirect3DBaseTexture9* texture);
  void SetVertexShader(IDirect3DVertexShader9* shader);
  void SetPixelShader(IDirect3DPixelShader9* shader);
  void SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration);
  void SetFVF(DWORD fvf);
  void SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride);
  void SetStreamSourceFreq(UINT stream, UINT frequency);
  void SetViewport(const D3DVIEWPORT9& viewport);
  void SetScissorRect(const RECT& rect);
  // Drawing from the game's own memory leaves stream 0 empty.
  void DrawFromUserMemory();
  // Setting the first render target makes the viewport and the scissor rect cover it.
  void SetRenderTarget(DWORD index, UINT width, UINT height);
  void BeginStateBlock();
  void EndStateBlock(IDirect3DStateBlock9* block);
  void CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9* block);
  void ApplyStateBlock(IDirect3DStateBlock9* block);
  void CaptureStateBlock(IDirect3DStateBlock9* block);
  // The block's last reference is gone.
  void ReleaseStateBlock(IDirect3DStateBlock9* block);

  // What the game has bound where the overlay binds its own: texture stage 0, stream 0, the shaders and the vertex
  // format.
  IDirect3DBaseTexture9* BoundTexture0() const { return current_.texture0; }
  IDirect3DVertexBuffer9* BoundStream0() const { return current_.stream0; }
  UINT Stream0Offset() const { return current_.stream0Offset; }
  UINT Stream0Stride() const { return current_.stream0Stride; }
  UINT Stream0Frequency() const { return current_.stream0Frequency; }
  IDirect3DVertexShader9* VertexShader() const { return current_.vertexShader; }
  IDirect3DPixelShader9* PixelShader() const { return current_.pixelShader; }
  IDirect3DVertexDeclaration9* VertexDeclaration() const { return current_.vertexDeclaration; }
  DWORD Fvf() const { return current_.fvf; }

  // Sets the followed render, stage and sampler states, the viewport and the scissor rect on the device to the
  // game's values (the bindings above the overlay puts back itself).
  void Restore(IDirect3DDevice9* device) const;

 private:
  using Values = MirroredValues;
  using Block = MirroredBlock;

  // Where a change goes: the block being recorded, or the device's current values.
  Values& Target(int slot);
  static void CopySlot(Values& to, const Values& from, int slot);

  Values current_;
  std::optional<Block> recording_;
  std::map<const IDirect3DStateBlock9*, Block> blocks_;
};

}  // namespace ingame::d3d9
