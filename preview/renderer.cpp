#include "preview/renderer.h"

namespace preview {

std::unique_ptr<IRenderer> MakeRenderer(const Options& options) {
  switch (options.direct3d) {
    case Direct3D::k9: return MakeDirect3D9Renderer(false);
    case Direct3D::k9Ex: return MakeDirect3D9Renderer(true);
    case Direct3D::k8: break;
  }
  return MakeDirect3D8Renderer();
}

}  // namespace preview
