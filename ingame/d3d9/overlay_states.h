// The device states the overlay sets to draw on a Direct3D 9 device, in one list: the drawing sets them, and what
// saves and restores the game's states around the drawing covers exactly these. Whatever else the game set stays
// untouched, so it is kept as it was; the overlay's drawing does not depend on it (pre-transformed vertices ignore
// transforms, lighting and clip planes; depth, stencil, fog, alpha test and the scissor test are switched off).
//
// Besides these states the overlay binds its own texture to stage 0, its vertices to stream 0, no shaders and its
// vertex format (kOverlayVertexFormat, through SetFVF, which replaces the game's vertex declaration); stream 0 must
// be read once per vertex, so its frequency is set to 1 for the drawing, and the game's put back after it.
#pragma once

#include <d3d9.h>

namespace ingame::d3d9 {

struct RenderStateValue {
  D3DRENDERSTATETYPE state;
  DWORD value;
};

struct StageStateValue {
  DWORD stage;
  D3DTEXTURESTAGESTATETYPE type;
  DWORD value;
};

struct SamplerStateValue {
  DWORD sampler;
  D3DSAMPLERSTATETYPE type;
  DWORD value;
};

// Straight alpha blending of the overlay over the game, nothing else.
inline constexpr RenderStateValue kOverlayRenderStates[] = {
    {D3DRS_ZENABLE, D3DZB_FALSE},
    {D3DRS_ZWRITEENABLE, FALSE},
    {D3DRS_ALPHATESTENABLE, FALSE},
    {D3DRS_ALPHABLENDENABLE, TRUE},
    {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
    {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
    {D3DRS_BLENDOP, D3DBLENDOP_ADD},
    // The colour's blend applies to alpha too; alpha is not written anyway.
    {D3DRS_SEPARATEALPHABLENDENABLE, FALSE},
    {D3DRS_FILLMODE, D3DFILL_SOLID},
    {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
    {D3DRS_STENCILENABLE, FALSE},
    // Colour only: the back buffer's alpha, where it has one, stays the game's.
    {D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN | D3DCOLORWRITEENABLE_BLUE},
    // The texels are written as they are: a game that draws in linear light and converts on writing would make the
    // overlay's colours paler.
    {D3DRS_SRGBWRITEENABLE, FALSE},
    // The overlay may lie anywhere on the back buffer, whatever part of it the game last drew into.
    {D3DRS_SCISSORTESTENABLE, FALSE},
    {D3DRS_DITHERENABLE, FALSE},
    {D3DRS_WRAP0, 0},
    {D3DRS_CULLMODE, D3DCULL_NONE},
    {D3DRS_LIGHTING, FALSE},
    {D3DRS_FOGENABLE, FALSE},
    {D3DRS_SPECULARENABLE, FALSE},
    {D3DRS_VERTEXBLEND, D3DVBF_DISABLE},
    {D3DRS_CLIPPLANEENABLE, 0},
    {D3DRS_MULTISAMPLEMASK, 0xFFFFFFFF},
};

// Stage 0 takes the texture's colours and alpha (multiplied by the white of the vertices): a picture's texels,
// or a text's, which hold its colour, coverage and background. Stage 1 ends the cascade.
inline constexpr StageStateValue kOverlayStageStates[] = {
    {0, D3DTSS_COLOROP, D3DTOP_MODULATE},
    {0, D3DTSS_COLORARG1, D3DTA_TEXTURE},
    {0, D3DTSS_COLORARG2, D3DTA_DIFFUSE},
    {0, D3DTSS_ALPHAOP, D3DTOP_MODULATE},
    {0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE},
    {0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE},
    {0, D3DTSS_TEXCOORDINDEX, 0},
    {0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE},
    {0, D3DTSS_RESULTARG, D3DTA_CURRENT},
    {1, D3DTSS_COLOROP, D3DTOP_DISABLE},
    {1, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
};

// Sampler 0 reads the texture as it is: every texel lands on exactly one pixel, from the texture's only level,
// without conversion from sRGB.
inline constexpr SamplerStateValue kOverlaySamplerStates[] = {
    {0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP},
    {0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP},
    {0, D3DSAMP_MAGFILTER, D3DTEXF_POINT},
    {0, D3DSAMP_MINFILTER, D3DTEXF_POINT},
    {0, D3DSAMP_MIPFILTER, D3DTEXF_NONE},
    {0, D3DSAMP_MAXMIPLEVEL, 0},
    {0, D3DSAMP_SRGBTEXTURE, FALSE},
};

inline constexpr DWORD kOverlayVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
// Stream 0's frequency while the overlay draws: one vertex after the other, not instanced.
inline constexpr UINT kOverlayStreamFrequency = 1;

inline constexpr int kOverlayRenderStateCount = sizeof kOverlayRenderStates / sizeof kOverlayRenderStates[0];
inline constexpr int kOverlayStageStateCount = sizeof kOverlayStageStates / sizeof kOverlayStageStates[0];
inline constexpr int kOverlaySamplerStateCount = sizeof kOverlaySamplerStates / sizeof kOverlaySamplerStates[0];

}  // namespace ingame::d3d9
