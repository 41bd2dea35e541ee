// The Direct3D 9 device's overlay until it draws with the renderer shared with Direct3D 8: no device gets one, so
// every patched method passes the game's calls on to the system unchanged, and no call is ever marked or waits.
#include "ingame/d3d9/device_overlay.h"

namespace ingame {

void CGameCallLock::Mark(const void*, CDeviceOverlay*, bool) {}

void CDeviceOverlay::Attach(IDirect3DDevice9*, const D3DPRESENT_PARAMETERS&, UINT, DWORD, CountMethod, CountMethod) {}

CDeviceOverlay* CDeviceOverlay::FindForGame(IDirect3DDevice9*) { return nullptr; }

CDeviceOverlay* CDeviceOverlay::FindPure(IDirect3DDevice9*) { return nullptr; }

CDeviceOverlay* CDeviceOverlay::FindByChain(IDirect3DSwapChain9*) { return nullptr; }

CDeviceOverlay::CDeviceOverlay(IDirect3DDevice9* device, const D3DPRESENT_PARAMETERS&, DWORD) : device_(device) {}

CDeviceOverlay::~CDeviceOverlay() = default;

ULONG CDeviceOverlay::Release() { return 0; }

void CDeviceOverlay::SetRecording(bool) {}

void CDeviceOverlay::AddChain(IDirect3DSwapChain9*, const D3DPRESENT_PARAMETERS&) {}

void CDeviceOverlay::RemoveChain(IDirect3DSwapChain9*) {}

void CDeviceOverlay::StopOverlay() { mirror_.reset(); }

}  // namespace ingame
