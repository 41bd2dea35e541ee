// The device states the overlay sets to draw, in one list: the drawing sets them, and what saves and restores the
// game's states around the drawing covers exactly these. Whatever else the game set stays untouched, so it is
// kept as it was; the overlay's drawing does not depend on it (pre-transformed vertices ignore transforms,
// lighting and clip planes; depth, stencil, fog and alpha test are switched off).
#pragma once

#include <d3d8.h>

namespace ingame::d3d8 {

struct RenderStateValue {
  D3DRENDERSTATETYPE state;
  DWORD value;
};

struct StageStateValue {
  DWORD stage;
  D3DTEXTURESTAGESTATETYPE type;
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
    {D3DRS_FILLMODE, D3DFILL_SOLID},
    {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
    {D3DRS_STENCILENABLE, FALSE},
    // Colour only: the back buffer's alpha, where it has one, stays the game's.
    {D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN | D3DCOLORWRITEENABLE_BLUE},
    {D3DRS_EDGEANTIALIAS, FALSE},
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
// or a text's, which hold its colour, coverage and background. Every texel lands on exactly one pixel. Stage 1
// ends the cascade.
inline constexpr StageStateValue kOverlayStageStates[] = {
    {0, D3DTSS_COLOROP, D3DTOP_MODULATE},
    {0, D3DTSS_COLORARG1, D3DTA_TEXTURE},
    {0, D3DTSS_COLORARG2, D3DTA_DIFFUSE},
    {0, D3DTSS_ALPHAOP, D3DTOP_MODULATE},
    {0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE},
    {0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE},
    {0, D3DTSS_TEXCOORDINDEX, 0},
    {0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE},
    {0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP},
    {0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP},
    {0, D3DTSS_MAGFILTER, D3DTEXF_POINT},
    {0, D3DTSS_MINFILTER, D3DTEXF_POINT},
    {0, D3DTSS_MIPFILTER, D3DTEXF_NONE},
    {0, D3DTSS_RESULTARG, D3DTA_CURRENT},
    {1, D3DTSS_COLOROP, D3DTOP_DISABLE},
    {1, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
};

inline constexpr DWORD kOverlayVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

inline constexpr int kOverlayRenderStateCount = sizeof kOverlayRenderStates / sizeof kOverlayRenderStates[0];
inline constexpr int kOverlayStageStateCount = sizeof kOverlayStageStates / sizeof kOverlayStageStates[0];

}  // namespace ingame::d3d8
