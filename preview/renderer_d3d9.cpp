// The preview's scene on Direct3D 9 or the extended Direct3D 9, through the d3d9.dll a program in its folder
// loads by name.
#include "preview/direct3d9_api.h"
#include "preview/scene_renderer.h"

namespace preview {

std::unique_ptr<IRenderer> MakeDirect3D9Renderer(bool extended) {
  if (extended) return std::make_unique<CSceneRenderer<Direct3D9ExApi>>();
  return std::make_unique<CSceneRenderer<Direct3D9Api>>();
}

}  // namespace preview
