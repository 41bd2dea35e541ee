// Where the methods of Direct3D 8's interfaces sit in their tables: their order of declaration in d3d8.h, counted
// from QueryInterface at 0 (d3d8_slots_check.cpp holds each number against the header).
#pragma once

namespace ingame::slots {

// IDirect3D8
inline constexpr int kCreateDevice = 15;
inline constexpr int kDirect3DSlotCount = 16;

// IDirect3DDevice8, every method in its order: X(name) for each.
#define VA_D3D8_DEVICE_METHODS(X)                                                                                 \
  X(QueryInterface) X(AddRef) X(Release) X(TestCooperativeLevel) X(GetAvailableTextureMem)                      \
  X(ResourceManagerDiscardBytes) X(GetDirect3D) X(GetDeviceCaps) X(GetDisplayMode) X(GetCreationParameters)       \
  X(SetCursorProperties) X(SetCursorPosition) X(ShowCursor) X(CreateAdditionalSwapChain) X(Reset) X(Present)      \
  X(GetBackBuffer) X(GetRasterStatus) X(SetGammaRamp) X(GetGammaRamp) X(CreateTexture) X(CreateVolumeTexture)     \
  X(CreateCubeTexture) X(CreateVertexBuffer) X(CreateIndexBuffer) X(CreateRenderTarget)                           \
  X(CreateDepthStencilSurface) X(CreateImageSurface) X(CopyRects) X(UpdateTexture) X(GetFrontBuffer)              \
  X(SetRenderTarget) X(GetRenderTarget) X(GetDepthStencilSurface) X(BeginScene) X(EndScene) X(Clear)              \
  X(SetTransform) X(GetTransform) X(MultiplyTransform) X(SetViewport) X(GetViewport) X(SetMaterial)               \
  X(GetMaterial) X(SetLight) X(GetLight) X(LightEnable) X(GetLightEnable) X(SetClipPlane) X(GetClipPlane)         \
  X(SetRenderState) X(GetRenderState) X(BeginStateBlock) X(EndStateBlock) X(ApplyStateBlock)                      \
  X(CaptureStateBlock) X(DeleteStateBlock) X(CreateStateBlock) X(SetClipStatus) X(GetClipStatus) X(GetTexture)    \
  X(SetTexture) X(GetTextureStageState) X(SetTextureStageState) X(ValidateDevice) X(GetInfo)                      \
  X(SetPaletteEntries) X(GetPaletteEntries) X(SetCurrentTexturePalette) X(GetCurrentTexturePalette)               \
  X(DrawPrimitive) X(DrawIndexedPrimitive) X(DrawPrimitiveUP) X(DrawIndexedPrimitiveUP) X(ProcessVertices)        \
  X(CreateVertexShader) X(SetVertexShader) X(GetVertexShader) X(DeleteVertexShader) X(SetVertexShaderConstant)    \
  X(GetVertexShaderConstant) X(GetVertexShaderDeclaration) X(GetVertexShaderFunction) X(SetStreamSource)          \
  X(GetStreamSource) X(SetIndices) X(GetIndices) X(CreatePixelShader) X(SetPixelShader) X(GetPixelShader)         \
  X(DeletePixelShader) X(SetPixelShaderConstant) X(GetPixelShaderConstant) X(GetPixelShaderFunction)              \
  X(DrawRectPatch) X(DrawTriPatch) X(DeletePatch)

inline constexpr int kQueryInterface = 0;
inline constexpr int kAddRef = 1;
inline constexpr int kRelease = 2;
inline constexpr int kCreateAdditionalSwapChain = 13;
inline constexpr int kReset = 14;
inline constexpr int kPresent = 15;
inline constexpr int kSetRenderTarget = 31;
inline constexpr int kBeginScene = 34;
inline constexpr int kEndScene = 35;
inline constexpr int kClear = 36;
inline constexpr int kSetViewport = 40;
inline constexpr int kSetRenderState = 50;
inline constexpr int kBeginStateBlock = 52;
inline constexpr int kEndStateBlock = 53;
inline constexpr int kApplyStateBlock = 54;
inline constexpr int kCaptureStateBlock = 55;
inline constexpr int kDeleteStateBlock = 56;
inline constexpr int kCreateStateBlock = 57;
inline constexpr int kSetTexture = 61;
inline constexpr int kSetTextureStageState = 63;
inline constexpr int kDrawPrimitive = 70;
inline constexpr int kDrawIndexedPrimitive = 71;
inline constexpr int kDrawPrimitiveUP = 72;
inline constexpr int kDrawIndexedPrimitiveUP = 73;
inline constexpr int kSetVertexShader = 76;
inline constexpr int kSetStreamSource = 83;
inline constexpr int kSetPixelShader = 88;
inline constexpr int kDeviceSlotCount = 97;

// IDirect3DSwapChain8
inline constexpr int kSwapChainRelease = 2;
inline constexpr int kSwapChainPresent = 3;
inline constexpr int kSwapChainSlotCount = 5;

}  // namespace ingame::slots
