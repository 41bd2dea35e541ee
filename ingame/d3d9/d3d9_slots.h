// Where the methods of Direct3D 9's interfaces sit in their tables: their order of declaration in d3d9.h, counted
// from QueryInterface at 0 (d3d9_slots_check.cpp holds each number against the header). An Ex interface extends
// the plain one: its table is the plain table with the further methods after it.
#pragma once

namespace ingame::slots {

// IDirect3D9, and the further methods of IDirect3D9Ex
inline constexpr int kCreateDevice = 16;
inline constexpr int kDirect3DSlotCount = 17;
inline constexpr int kCreateDeviceEx = 20;
inline constexpr int kDirect3DExSlotCount = 22;

// IDirect3DDevice9, every method in its order: X(name) for each.
#define VA_D3D9_DEVICE_METHODS(X)                                                                                 \
  X(QueryInterface) X(AddRef) X(Release) X(TestCooperativeLevel) X(GetAvailableTextureMem)                      \
  X(EvictManagedResources) X(GetDirect3D) X(GetDeviceCaps) X(GetDisplayMode) X(GetCreationParameters)             \
  X(SetCursorProperties) X(SetCursorPosition) X(ShowCursor) X(CreateAdditionalSwapChain) X(GetSwapChain)          \
  X(GetNumberOfSwapChains) X(Reset) X(Present) X(GetBackBuffer) X(GetRasterStatus) X(SetDialogBoxMode)            \
  X(SetGammaRamp) X(GetGammaRamp) X(CreateTexture) X(CreateVolumeTexture) X(CreateCubeTexture)                    \
  X(CreateVertexBuffer) X(CreateIndexBuffer) X(CreateRenderTarget) X(CreateDepthStencilSurface) X(UpdateSurface)  \
  X(UpdateTexture) X(GetRenderTargetData) X(GetFrontBufferData) X(StretchRect) X(ColorFill)                       \
  X(CreateOffscreenPlainSurface) X(SetRenderTarget) X(GetRenderTarget) X(SetDepthStencilSurface)                  \
  X(GetDepthStencilSurface) X(BeginScene) X(EndScene) X(Clear) X(SetTransform) X(GetTransform)                    \
  X(MultiplyTransform) X(SetViewport) X(GetViewport) X(SetMaterial) X(GetMaterial) X(SetLight) X(GetLight)        \
  X(LightEnable) X(GetLightEnable) X(SetClipPlane) X(GetClipPlane) X(SetRenderState) X(GetRenderState)            \
  X(CreateStateBlock) X(BeginStateBlock) X(EndStateBlock) X(SetClipStatus) X(GetClipStatus) X(GetTexture)         \
  X(SetTexture) X(GetTextureStageState) X(SetTextureStageState) X(GetSamplerState) X(SetSamplerState)             \
  X(ValidateDevice) X(SetPaletteEntries) X(GetPaletteEntries) X(SetCurrentTexturePalette)                         \
  X(GetCurrentTexturePalette) X(SetScissorRect) X(GetScissorRect) X(SetSoftwareVertexProcessing)                  \
  X(GetSoftwareVertexProcessing) X(SetNPatchMode) X(GetNPatchMode) X(DrawPrimitive) X(DrawIndexedPrimitive)       \
  X(DrawPrimitiveUP) X(DrawIndexedPrimitiveUP) X(ProcessVertices) X(CreateVertexDeclaration)                      \
  X(SetVertexDeclaration) X(GetVertexDeclaration) X(SetFVF) X(GetFVF) X(CreateVertexShader) X(SetVertexShader)    \
  X(GetVertexShader) X(SetVertexShaderConstantF) X(GetVertexShaderConstantF) X(SetVertexShaderConstantI)          \
  X(GetVertexShaderConstantI) X(SetVertexShaderConstantB) X(GetVertexShaderConstantB) X(SetStreamSource)          \
  X(GetStreamSource) X(SetStreamSourceFreq) X(GetStreamSourceFreq) X(SetIndices) X(GetIndices)                    \
  X(CreatePixelShader) X(SetPixelShader) X(GetPixelShader) X(SetPixelShaderConstantF) X(GetPixelShaderConstantF)  \
  X(SetPixelShaderConstantI) X(GetPixelShaderConstantI) X(SetPixelShaderConstantB) X(GetPixelShaderConstantB)     \
  X(DrawRectPatch) X(DrawTriPatch) X(DeletePatch) X(CreateQuery)

// The further methods of IDirect3DDevice9Ex, in their order after those above.
#define VA_D3D9_DEVICE_EX_METHODS(X)                                                                              \
  X(SetConvolutionMonoKernel) X(ComposeRects) X(PresentEx) X(GetGPUThreadPriority) X(SetGPUThreadPriority)        \
  X(WaitForVBlank) X(CheckResourceResidency) X(SetMaximumFrameLatency) X(GetMaximumFrameLatency)                  \
  X(CheckDeviceState) X(CreateRenderTargetEx) X(CreateOffscreenPlainSurfaceEx) X(CreateDepthStencilSurfaceEx)     \
  X(ResetEx) X(GetDisplayModeEx)

inline constexpr int kQueryInterface = 0;
inline constexpr int kAddRef = 1;
inline constexpr int kRelease = 2;
inline constexpr int kCreateAdditionalSwapChain = 13;
inline constexpr int kReset = 16;
inline constexpr int kPresent = 17;
inline constexpr int kSetRenderTarget = 37;
inline constexpr int kSetDepthStencilSurface = 39;
inline constexpr int kSetViewport = 47;
inline constexpr int kSetRenderState = 57;
inline constexpr int kCreateStateBlock = 59;
inline constexpr int kBeginStateBlock = 60;
inline constexpr int kEndStateBlock = 61;
inline constexpr int kSetTexture = 65;
inline constexpr int kSetTextureStageState = 67;
inline constexpr int kSetSamplerState = 69;
inline constexpr int kSetScissorRect = 75;
inline constexpr int kDrawPrimitiveUP = 83;
inline constexpr int kDrawIndexedPrimitiveUP = 84;
inline constexpr int kSetVertexDeclaration = 87;
inline constexpr int kSetFVF = 89;
inline constexpr int kSetVertexShader = 92;
inline constexpr int kSetStreamSource = 100;
inline constexpr int kSetStreamSourceFreq = 102;
inline constexpr int kSetPixelShader = 107;
inline constexpr int kDeviceSlotCount = 119;
inline constexpr int kPresentEx = 121;
inline constexpr int kResetEx = 132;
inline constexpr int kDeviceExSlotCount = 134;

// IDirect3DSwapChain9; IDirect3DSwapChain9Ex adds three methods, none of which the overlay patches.
inline constexpr int kSwapChainRelease = 2;
inline constexpr int kSwapChainPresent = 3;
inline constexpr int kSwapChainSlotCount = 10;
inline constexpr int kSwapChainExSlotCount = 13;

// IDirect3DStateBlock9
inline constexpr int kStateBlockRelease = 2;
inline constexpr int kStateBlockCapture = 4;
inline constexpr int kStateBlockApply = 5;
inline constexpr int kStateBlockSlotCount = 6;

}  // namespace ingame::slots
