// The class name of the preview's window, by which tests and scripts find it.
#pragma once

namespace preview {

inline constexpr char kWindowClass[] = "VaVazuPreviewGameScreen";

}  // namespace preview
