#include "ingame/d3d8/state_mirror.h"

#include <array>
#include <cstddef>

namespace ingame::d3d8 {
namespace {

enum Kinds : unsigned { kPixel = 1, kVertex = 2 };

DWORD DefaultRenderState(D3DRENDERSTATETYPE state, bool autoDepthStencil) {
  switch (state) {
    case D3DRS_ZENABLE: return autoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
    case D3DRS_ZWRITEENABLE: return TRUE;
    case D3DRS_SRCBLEND: return D3DBLEND_ONE;
    case D3DRS_DESTBLEND: return D3DBLEND_ZERO;
    case D3DRS_BLENDOP: return D3DBLENDOP_ADD;
    case D3DRS_FILLMODE: return D3DFILL_SOLID;
    case D3DRS_SHADEMODE: return D3DSHADE_GOURAUD;
    case D3DRS_COLORWRITEENABLE: return 0xF;
    case D3DRS_CULLMODE: return D3DCULL_CCW;
    case D3DRS_LIGHTING: return TRUE;
    case D3DRS_VERTEXBLEND: return D3DVBF_DISABLE;
    case D3DRS_MULTISAMPLEMASK: return 0xFFFFFFFF;
    default: return 0;  // the switches that start off, WRAP0 and CLIPPLANEENABLE
  }
}

DWORD DefaultStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) {
  switch (type) {
    case D3DTSS_COLOROP: return stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    case D3DTSS_ALPHAOP: return stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    case D3DTSS_COLORARG1:
    case D3DTSS_ALPHAARG1: return D3DTA_TEXTURE;
    case D3DTSS_COLORARG2:
    case D3DTSS_ALPHAARG2: return D3DTA_CURRENT;
    case D3DTSS_TEXCOORDINDEX: return stage;
    case D3DTSS_TEXTURETRANSFORMFLAGS: return D3DTTFF_DISABLE;
    case D3DTSS_ADDRESSU:
    case D3DTSS_ADDRESSV: return D3DTADDRESS_WRAP;
    case D3DTSS_MAGFILTER:
    case D3DTSS_MINFILTER: return D3DTEXF_POINT;
    case D3DTSS_MIPFILTER: return D3DTEXF_NONE;
    case D3DTSS_RESULTARG: return D3DTA_CURRENT;
    default: return 0;
  }
}

// Which predefined state blocks hold a followed render state: the pixel states, the vertex states, or both.
unsigned RenderStateKinds(D3DRENDERSTATETYPE state) {
  switch (state) {
    case D3DRS_SHADEMODE: return kPixel | kVertex;
    case D3DRS_CULLMODE:
    case D3DRS_LIGHTING:
    case D3DRS_FOGENABLE:
    case D3DRS_SPECULARENABLE:
    case D3DRS_VERTEXBLEND:
    case D3DRS_CLIPPLANEENABLE:
    case D3DRS_MULTISAMPLEMASK: return kVertex;
    default: return kPixel;
  }
}

unsigned StageStateKinds(D3DTEXTURESTAGESTATETYPE type) {
  return type == D3DTSS_TEXCOORDINDEX || type == D3DTSS_TEXTURETRANSFORMFLAGS ? kPixel | kVertex : kPixel;
}

// Where each followed state sits in the mirror, by the state's number: looked up on every state call a pure
// device's game makes, most of them of states the overlay does not draw with, so a table rather than a search.
constexpr int kRenderStateNumbers = 256;
constexpr int kStages = 8;
constexpr int kStageStateNumbers = 32;

struct SlotTables {
  std::array<signed char, kRenderStateNumbers> render{};
  std::array<signed char, kStages * kStageStateNumbers> stage{};
};

constexpr SlotTables MakeSlotTables() {
  SlotTables tables;
  for (auto& slot : tables.render) slot = -1;
  for (auto& slot : tables.stage) slot = -1;
  for (int i = 0; i < kOverlayRenderStateCount; ++i) {
    tables.render[static_cast<std::size_t>(kOverlayRenderStates[i].state)] = static_cast<signed char>(i);
  }
  for (int i = 0; i < kOverlayStageStateCount; ++i) {
    const StageStateValue& s = kOverlayStageStates[i];
    tables.stage[static_cast<std::size_t>(s.stage) * kStageStateNumbers + static_cast<std::size_t>(s.type)] =
        static_cast<signed char>(kOverlayRenderStateCount + i);
  }
  return tables;
}

static_assert(kOverlayRenderStateCount + kOverlayStageStateCount < 128, "a slot fits a signed char");
constexpr SlotTables kSlots = MakeSlotTables();

int RenderStateSlot(D3DRENDERSTATETYPE state) {
  const auto number = static_cast<std::size_t>(state);
  return number < kSlots.render.size() ? kSlots.render[number] : -1;
}

int StageStateSlot(DWORD stage, D3DTEXTURESTAGESTATETYPE type) {
  const auto number = static_cast<std::size_t>(type);
  if (stage >= kStages || number >= kStageStateNumbers) return -1;
  return kSlots.stage[stage * kStageStateNumbers + number];
}

}  // namespace

CStateMirror::CStateMirror(UINT backBufferWidth, UINT backBufferHeight, bool autoDepthStencil) {
  ResetToDefaults(backBufferWidth, backBufferHeight, autoDepthStencil);
}

void CStateMirror::ResetToDefaults(UINT backBufferWidth, UINT backBufferHeight, bool autoDepthStencil) {
  current_ = Values{};
  for (int i = 0; i < kOverlayRenderStateCount; ++i) {
    current_.renderStates[i] = DefaultRenderState(kOverlayRenderStates[i].state, autoDepthStencil);
  }
  for (int i = 0; i < kOverlayStageStateCount; ++i) {
    current_.stageStates[i] = DefaultStageState(kOverlayStageStates[i].stage, kOverlayStageStates[i].type);
  }
  current_.viewport = D3DVIEWPORT8{0, 0, backBufferWidth, backBufferHeight, 0.0f, 1.0f};
  recording_.reset();
}

CStateMirror::Values& CStateMirror::Target(int slot) {
  if (!recording_) return current_;
  recording_->has.set(static_cast<std::size_t>(slot));
  return recording_->values;
}

void CStateMirror::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  const int slot = RenderStateSlot(state);
  if (slot >= 0) Target(slot).renderStates[slot] = value;
}

void CStateMirror::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  const int slot = StageStateSlot(stage, type);
  if (slot >= 0) Target(slot).stageStates[slot - kOverlayRenderStateCount] = value;
}

void CStateMirror::SetTexture(DWORD stage, IDirect3DBaseTexture8* texture) {
  if (stage == 0) Target(kTexture0Slot).texture0 = texture;
}

void CStateMirror::SetVertexShader(DWORD handle) { Target(kVertexShaderSlot).vertexShader = handle; }

void CStateMirror::SetPixelShader(DWORD handle) { Target(kPixelShaderSlot).pixelShader = handle; }

void CStateMirror::SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) {
  if (stream != 0) return;
  Values& values = Target(kStream0Slot);
  values.stream0 = buffer;
  values.stream0Stride = stride;
}

void CStateMirror::SetViewport(const D3DVIEWPORT8& viewport) { Target(kViewportSlot).viewport = viewport; }

void CStateMirror::DrawFromUserMemory() {
  current_.stream0 = nullptr;
  current_.stream0Stride = 0;
}

void CStateMirror::SetRenderTarget(UINT width, UINT height) {
  current_.viewport = D3DVIEWPORT8{0, 0, width, height, 0.0f, 1.0f};
}

void CStateMirror::BeginStateBlock() { recording_.emplace(); }

void CStateMirror::EndStateBlock(DWORD token) {
  if (recording_) blocks_[token] = *recording_;
  recording_.reset();
}

void CStateMirror::CreateStateBlock(D3DSTATEBLOCKTYPE type, DWORD token) {
  Block block;
  const unsigned wanted = type == D3DSBT_PIXELSTATE ? kPixel : type == D3DSBT_VERTEXSTATE ? kVertex : kPixel | kVertex;
  const bool all = type == D3DSBT_ALL;
  for (int i = 0; i < kOverlayRenderStateCount; ++i) {
    block.has.set(static_cast<std::size_t>(i), all || (RenderStateKinds(kOverlayRenderStates[i].state) & wanted) != 0);
  }
  for (int i = 0; i < kOverlayStageStateCount; ++i) {
    block.has.set(static_cast<std::size_t>(kOverlayRenderStateCount + i),
                  all || (StageStateKinds(kOverlayStageStates[i].type) & wanted) != 0);
  }
  block.has.set(kTexture0Slot, all);
  block.has.set(kStream0Slot, all);
  block.has.set(kViewportSlot, all);
  block.has.set(kVertexShaderSlot, (wanted & kVertex) != 0);
  block.has.set(kPixelShaderSlot, (wanted & kPixel) != 0);
  block.values = current_;
  blocks_[token] = block;
}

void CStateMirror::CopySlot(Values& to, const Values& from, int slot) {
  if (slot < kOverlayRenderStateCount) {
    to.renderStates[slot] = from.renderStates[slot];
  } else if (slot < kTexture0Slot) {
    to.stageStates[slot - kOverlayRenderStateCount] = from.stageStates[slot - kOverlayRenderStateCount];
  } else if (slot == kTexture0Slot) {
    to.texture0 = from.texture0;
  } else if (slot == kVertexShaderSlot) {
    to.vertexShader = from.vertexShader;
  } else if (slot == kPixelShaderSlot) {
    to.pixelShader = from.pixelShader;
  } else if (slot == kStream0Slot) {
    to.stream0 = from.stream0;
    to.stream0Stride = from.stream0Stride;
  } else if (slot == kViewportSlot) {
    to.viewport = from.viewport;
  }
}

void CStateMirror::ApplyStateBlock(DWORD token) {
  const auto found = blocks_.find(token);
  if (found == blocks_.end()) return;
  for (int slot = 0; slot < kMirrorSlotCount; ++slot) {
    if (found->second.has.test(static_cast<std::size_t>(slot))) CopySlot(current_, found->second.values, slot);
  }
}

void CStateMirror::CaptureStateBlock(DWORD token) {
  const auto found = blocks_.find(token);
  if (found == blocks_.end()) return;
  for (int slot = 0; slot < kMirrorSlotCount; ++slot) {
    if (found->second.has.test(static_cast<std::size_t>(slot))) CopySlot(found->second.values, current_, slot);
  }
}

void CStateMirror::DeleteStateBlock(DWORD token) { blocks_.erase(token); }

void CStateMirror::Restore(IDirect3DDevice8* device) const {
  for (int i = 0; i < kOverlayRenderStateCount; ++i) {
    device->SetRenderState(kOverlayRenderStates[i].state, current_.renderStates[i]);
  }
  for (int i = 0; i < kOverlayStageStateCount; ++i) {
    device->SetTextureStageState(kOverlayStageStates[i].stage, kOverlayStageStates[i].type, current_.stageStates[i]);
  }
  device->SetViewport(&current_.viewport);
}

}  // namespace ingame::d3d8
