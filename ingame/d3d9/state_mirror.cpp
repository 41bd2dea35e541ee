#include "ingame/d3d9/state_mirror.h"

#include <array>
#include <cstddef>

namespace ingame::d3d9 {
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
    case D3DTSS_RESULTARG: return D3DTA_CURRENT;
    default: return 0;
  }
}

DWORD DefaultSamplerState(D3DSAMPLERSTATETYPE type) {
  switch (type) {
    case D3DSAMP_ADDRESSU:
    case D3DSAMP_ADDRESSV: return D3DTADDRESS_WRAP;
    case D3DSAMP_MAGFILTER:
    case D3DSAMP_MINFILTER: return D3DTEXF_POINT;
    default: return 0;  // MIPFILTER none, MAXMIPLEVEL 0, SRGBTEXTURE off
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
constexpr int kSamplerStateNumbers = 16;

struct SlotTables {
  std::array<signed char, kRenderStateNumbers> render{};
  std::array<signed char, kStages * kStageStateNumbers> stage{};
  std::array<signed char, kSamplerStateNumbers> sampler0{};
};

constexpr int kStageSlotsStart = kOverlayRenderStateCount;
constexpr int kSamplerSlotsStart = kOverlayRenderStateCount + kOverlayStageStateCount;

constexpr SlotTables MakeSlotTables() {
  SlotTables tables;
  for (auto& slot : tables.render) slot = -1;
  for (auto& slot : tables.stage) slot = -1;
  for (auto& slot : tables.sampler0) slot = -1;
  for (int i = 0; i < kOverlayRenderStateCount; ++i) {
    tables.render[static_cast<std::size_t>(kOverlayRenderStates[i].state)] = static_cast<signed char>(i);
  }
  for (int i = 0; i < kOverlayStageStateCount; ++i) {
    const StageStateValue& s = kOverlayStageStates[i];
    tables.stage[static_cast<std::size_t>(s.stage) * kStageStateNumbers + static_cast<std::size_t>(s.type)] =
        static_cast<signed char>(kStageSlotsStart + i);
  }
  for (int i = 0; i < kOverlaySamplerStateCount; ++i) {
    tables.sampler0[static_cast<std::size_t>(kOverlaySamplerStates[i].type)] =
        static_cast<signed char>(kSamplerSlotsStart + i);
  }
  return tables;
}

static_assert(kMirrorSlotCount < 128, "a slot fits a signed char");
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

// Only sampler 0's states are followed: the overlay samples through no other.
int SamplerStateSlot(DWORD sampler, D3DSAMPLERSTATETYPE type) {
  const auto number = static_cast<std::size_t>(type);
  if (sampler != 0 || number >= kSamplerStateNumbers) return -1;
  return kSlots.sampler0[number];
}

RECT WholeTarget(UINT width, UINT height) {
  return RECT{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
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
  for (int i = 0; i < kOverlaySamplerStateCount; ++i) {
    current_.samplerStates[i] = DefaultSamplerState(kOverlaySamplerStates[i].type);
  }
  current_.viewport = D3DVIEWPORT9{0, 0, backBufferWidth, backBufferHeight, 0.0f, 1.0f};
  current_.scissorRect = WholeTarget(backBufferWidth, backBufferHeight);
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
  if (slot >= 0) Target(slot).stageStates[slot - kStageSlotsStart] = value;
}

void CStateMirror::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
  const int slot = SamplerStateSlot(sampler, type);
  if (slot >= 0) Target(slot).samplerStates[slot - kSamplerSlotsStart] = value;
}

void CStateMirror::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
  if (stage == 0) Target(kTexture0Slot).texture0 = texture;
}

void CStateMirror::SetVertexShader(IDirect3DVertexShader9* shader) { Target(kVertexShaderSlot).vertexShader = shader; }

void CStateMirror::SetPixelShader(IDirect3DPixelShader9* shader) { Target(kPixelShaderSlot).pixelShader = shader; }

void CStateMirror::SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) {
  Values& values = Target(kVertexFormatSlot);
  values.vertexDeclaration = declaration;
  values.fvf = 0;
}

void CStateMirror::SetFVF(DWORD fvf) {
  // An FVF of 0 describes no vertex and leaves the device's format as it was.
  if (fvf == 0) return;
  Values& values = Target(kVertexFormatSlot);
  values.vertexDeclaration = nullptr;
  values.fvf = fvf;
}

void CStateMirror::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) {
  if (stream != 0) return;
  Values& values = Target(kStream0Slot);
  values.stream0 = buffer;
  values.stream0Offset = offset;
  values.stream0Stride = stride;
}

void CStateMirror::SetStreamSourceFreq(UINT stream, UINT frequency) {
  if (stream == 0) Target(kStream0FrequencySlot).stream0Frequency = frequency;
}

void CStateMirror::SetViewport(const D3DVIEWPORT9& viewport) { Target(kViewportSlot).viewport = viewport; }

void CStateMirror::SetScissorRect(const RECT& rect) { Target(kScissorRectSlot).scissorRect = rect; }

void CStateMirror::DrawFromUserMemory() {
  current_.stream0 = nullptr;
  current_.stream0Offset = 0;
  current_.stream0Stride = 0;
}

void CStateMirror::SetRenderTarget(DWORD index, UINT width, UINT height) {
  if (index != 0) return;
  current_.viewport = D3DVIEWPORT9{0, 0, width, height, 0.0f, 1.0f};
  current_.scissorRect = WholeTarget(width, height);
}

void CStateMirror::BeginStateBlock() { recording_.emplace(); }

void CStateMirror::EndStateBlock(IDirect3DStateBlock9* block) {
  if (recording_ && block) blocks_[block] = *recording_;
  recording_.reset();
}

void CStateMirror::CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9* block) {
  Block made;
  const unsigned wanted = type == D3DSBT_PIXELSTATE ? kPixel : type == D3DSBT_VERTEXSTATE ? kVertex : kPixel | kVertex;
  const bool all = type == D3DSBT_ALL;
  for (int i = 0; i < kOverlayRenderStateCount; ++i) {
    made.has.set(static_cast<std::size_t>(i), all || (RenderStateKinds(kOverlayRenderStates[i].state) & wanted) != 0);
  }
  for (int i = 0; i < kOverlayStageStateCount; ++i) {
    made.has.set(static_cast<std::size_t>(kStageSlotsStart + i),
                 all || (StageStateKinds(kOverlayStageStates[i].type) & wanted) != 0);
  }
  // Every state of the pixel samplers is a pixel state.
  for (int i = 0; i < kOverlaySamplerStateCount; ++i) {
    made.has.set(static_cast<std::size_t>(kSamplerSlotsStart + i), (wanted & kPixel) != 0);
  }
  made.has.set(kTexture0Slot, all);
  made.has.set(kStream0Slot, all);
  made.has.set(kStream0FrequencySlot, all);
  made.has.set(kViewportSlot, all);
  made.has.set(kScissorRectSlot, all);
  made.has.set(kVertexShaderSlot, (wanted & kVertex) != 0);
  made.has.set(kVertexFormatSlot, (wanted & kVertex) != 0);
  made.has.set(kPixelShaderSlot, (wanted & kPixel) != 0);
  made.values = current_;
  blocks_[block] = made;
}

void CStateMirror::CopySlot(Values& to, const Values& from, int slot) {
  if (slot < kStageSlotsStart) {
    to.renderStates[slot] = from.renderStates[slot];
  } else if (slot < kSamplerSlotsStart) {
    to.stageStates[slot - kStageSlotsStart] = from.stageStates[slot - kStageSlotsStart];
  } else if (slot < kTexture0Slot) {
    to.samplerStates[slot - kSamplerSlotsStart] = from.samplerStates[slot - kSamplerSlotsStart];
  } else {
    switch (slot) {
      case kTexture0Slot: to.texture0 = from.texture0; break;
      case kVertexShaderSlot: to.vertexShader = from.vertexShader; break;
      case kPixelShaderSlot: to.pixelShader = from.pixelShader; break;
      case kVertexFormatSlot:
        to.vertexDeclaration = from.vertexDeclaration;
        to.fvf = from.fvf;
        break;
      case kStream0Slot:
        to.stream0 = from.stream0;
        to.stream0Offset = from.stream0Offset;
        to.stream0Stride = from.stream0Stride;
        break;
      case kStream0FrequencySlot: to.stream0Frequency = from.stream0Frequency; break;
      case kViewportSlot: to.viewport = from.viewport; break;
      case kScissorRectSlot: to.scissorRect = from.scissorRect; break;
      default: break;
    }
  }
}

void CStateMirror::ApplyStateBlock(IDirect3DStateBlock9* block) {
  const auto found = blocks_.find(block);
  if (found == blocks_.end()) return;
  for (int slot = 0; slot < kMirrorSlotCount; ++slot) {
    if (found->second.has.test(static_cast<std::size_t>(slot))) CopySlot(current_, found->second.values, slot);
  }
}

void CStateMirror::CaptureStateBlock(IDirect3DStateBlock9* block) {
  const auto found = blocks_.find(block);
  if (found == blocks_.end()) return;
  for (int slot = 0; slot < kMirrorSlotCount; ++slot) {
    if (found->second.has.test(static_cast<std::size_t>(slot))) CopySlot(found->second.values, current_, slot);
  }
}

void CStateMirror::ReleaseStateBlock(IDirect3DStateBlock9* block) { blocks_.erase(block); }

void CStateMirror::Restore(IDirect3DDevice9* device) const {
  for (int i = 0; i < kOverlayRenderStateCount; ++i) {
    device->SetRenderState(kOverlayRenderStates[i].state, current_.renderStates[i]);
  }
  for (int i = 0; i < kOverlayStageStateCount; ++i) {
    device->SetTextureStageState(kOverlayStageStates[i].stage, kOverlayStageStates[i].type, current_.stageStates[i]);
  }
  for (int i = 0; i < kOverlaySamplerStateCount; ++i) {
    device->SetSamplerState(kOverlaySamplerStates[i].sampler, kOverlaySamplerStates[i].type,
                            current_.samplerStates[i]);
  }
  device->SetViewport(&current_.viewport);
  device->SetScissorRect(&current_.scissorRect);
}

}  // namespace ingame::d3d9
