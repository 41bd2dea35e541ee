// Where the methods the overlay hooks sit in the tables of Direct3D 8's interfaces: their order of declaration
// in d3d8.h, counted from QueryInterface at 0 (d3d8_slots_check.cpp holds each number against the header).
#pragma once

namespace ingame::slots {

// IDirect3D8
inline constexpr int kCreateDevice = 15;

// IDirect3DDevice8
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
