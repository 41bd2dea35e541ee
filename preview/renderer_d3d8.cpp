// The preview's scene on Direct3D 8, through the d3d8.dll the program imports.
#include "preview/direct3d8_api.h"
#include "preview/scene_renderer.h"

namespace preview {

std::unique_ptr<IRenderer> MakeDirect3D8Renderer() { return std::make_unique<CSceneRenderer<Direct3D8Api>>(); }

}  // namespace preview
