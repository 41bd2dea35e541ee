#include "preview/options.h"

#include <cstdlib>

namespace preview {
namespace {

constexpr int kLargestSide = 16384;

// A whole decimal number filling the text, within [low, high].
bool ParseNumber(const std::string& text, int low, int high, int& value) {
  if (text.empty() || text.size() > 6) return false;
  std::size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  for (std::size_t k = i; k < text.size(); ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
  }
  const long number = std::strtol(text.c_str(), nullptr, 10);
  if (number < low || number > high) return false;
  value = static_cast<int>(number);
  return true;
}

// Two numbers separated by one of the `separators`.
bool ParsePair(const std::string& text, const char* separators, int low, int high, int& first, int& second) {
  const std::size_t at = text.find_first_of(separators);
  return at != std::string::npos && ParseNumber(text.substr(0, at), low, high, first) &&
         ParseNumber(text.substr(at + 1), low, high, second);
}

}  // namespace

const char kUsage[] =
    "va_vazu_preview.exe [--size WIDTHxHEIGHT] [--scene PICTURE | --heavy] [--pos X,Y | --beside WINDOW-TITLE] "
    "[--fps-limit N] [--run-for MS --stats FILE] [--d3d9 | --d3d9ex]";

bool ParseSize(const std::string& text, int& width, int& height) {
  return ParsePair(text, "xX", 1, kLargestSide, width, height);
}

ParsedOptions ParseOptions(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  Options& options = parsed.options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& name = arguments[i];
    if (name == "--heavy") {
      options.heavy = true;
      continue;
    }
    if (name == "--d3d9" || name == "--d3d9ex") {
      const Direct3D asked = name == "--d3d9" ? Direct3D::k9 : Direct3D::k9Ex;
      if (options.direct3d != Direct3D::k8 && options.direct3d != asked) {
        parsed.error = "--d3d9 and --d3d9ex do not go together";
        return parsed;
      }
      options.direct3d = asked;
      continue;
    }
    if (i + 1 >= arguments.size()) {
      parsed.error = name.rfind("--", 0) == 0 ? name + " needs a value" : "unexpected argument " + name;
      return parsed;
    }
    const std::string& value = arguments[++i];
    bool ok = true;
    if (name == "--size") {
      ok = ParseSize(value, options.width, options.height);
    } else if (name == "--scene") {
      options.scene = value;
    } else if (name == "--pos") {
      int x = 0;
      int y = 0;
      ok = ParsePair(value, ",", -kLargestSide, kLargestSide, x, y);
      options.x = x;
      options.y = y;
    } else if (name == "--beside") {
      options.beside = value;
    } else if (name == "--fps-limit") {
      ok = ParseNumber(value, 0, 1000, options.frameLimit);
    } else if (name == "--run-for") {
      ok = ParseNumber(value, 1, 999999, options.runForMs);
    } else if (name == "--stats") {
      options.stats = value;
    } else {
      parsed.error = "unknown option " + name;
      return parsed;
    }
    if (!ok) {
      parsed.error = "bad value for " + name + ": " + value;
      return parsed;
    }
  }
  if (options.heavy && !options.scene.empty()) parsed.error = "--heavy is for the moving scene, not with --scene";
  if ((options.runForMs != 0) != !options.stats.empty()) parsed.error = "--run-for and --stats go together";
  return parsed;
}

}  // namespace preview
