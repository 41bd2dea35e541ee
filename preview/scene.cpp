#include "preview/scene.h"

#include <cmath>

namespace preview {
namespace {

constexpr float kPi = 3.14159265f;
constexpr float kChequerPeriod = 4.0f;  // world units of one light and one dark square
constexpr float kFloorSpeed = 6.0f;     // world units per second
constexpr float kFloorHalfSide = 140.0f;
constexpr float kHillsRadius = 120.0f;
constexpr int kHillsSegments = 128;
constexpr std::uint32_t kSkyTop = 0x141E5A;
constexpr std::uint32_t kHills = 0x3C285A;
constexpr std::uint32_t kHillsFoot = 0x281C3C;
constexpr std::uint32_t kChequerLight = 0x46AA3C;
constexpr std::uint32_t kChequerDark = 0x1E6E28;
constexpr std::uint32_t kCraftBody = 0xE63C28;
constexpr std::uint32_t kCraftWings = 0xC8C8D2;

constexpr std::uint32_t kOpaque = 0xFF000000u;

Vec3 Minus(const Vec3& a, const Vec3& b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Plus(const Vec3& a, const Vec3& b) { return Vec3{a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 Times(const Vec3& a, float k) { return Vec3{a.x * k, a.y * k, a.z * k}; }
float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Cross(const Vec3& a, const Vec3& b) {
  return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3 Normalize(const Vec3& a) { return Times(a, 1.0f / std::sqrt(Dot(a, a))); }

// The two colours' channels mixed, `k` of the way from `a` to `b`.
std::uint32_t Mix(std::uint32_t a, std::uint32_t b, float k) {
  std::uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const float from = static_cast<float>((a >> shift) & 0xFFu);
    const float to = static_cast<float>((b >> shift) & 0xFFu);
    out |= static_cast<std::uint32_t>(std::lround(from + (to - from) * k)) << shift;
  }
  return out;
}

// Every motion of the craft and the rings repeats after 100 turns of 2 pi seconds: the time taken modulo that
// keeps their single-precision angles precise however long the game runs.
double Wrapped(double seconds) { return std::fmod(seconds, 2 * 3.14159265358979 * 100); }

// A box's six faces as twelve triangles, each face's corners clockwise seen from outside.
void AddBox(std::vector<LitVertex>& out, const Vec3& centre, const Vec3& half, std::uint32_t rgb) {
  const Vec3 x{1, 0, 0};
  const Vec3 y{0, 1, 0};
  const Vec3 z{0, 0, 1};
  // Each face: its normal and two directions across it with Cross(u, v) == normal.
  const Vec3 faces[6][3] = {{x, y, z}, {Times(x, -1), z, y}, {y, z, x},
                            {Times(y, -1), x, z}, {z, x, y}, {Times(z, -1), y, x}};
  const auto extent = [&half](const Vec3& axis) {
    return std::fabs(axis.x) * half.x + std::fabs(axis.y) * half.y + std::fabs(axis.z) * half.z;
  };
  for (const auto& face : faces) {
    const Vec3& n = face[0];
    const Vec3 u = Times(face[1], extent(face[1]));
    const Vec3 v = Times(face[2], extent(face[2]));
    const Vec3 middle = Plus(centre, Times(n, extent(n)));
    const auto corner = [&](float su, float sv) {
      const Vec3 p = Plus(middle, Plus(Times(u, su), Times(v, sv)));
      return LitVertex{p.x, p.y, p.z, n.x, n.y, n.z, kOpaque | rgb};
    };
    for (const LitVertex& vertex :
         {corner(-1, -1), corner(1, -1), corner(-1, 1), corner(1, -1), corner(1, 1), corner(-1, 1)}) {
      out.push_back(vertex);
    }
  }
}

}  // namespace

Matrix Identity() {
  Matrix r;
  for (int i = 0; i < 4; ++i) r.m[i][i] = 1;
  return r;
}

Matrix Multiply(const Matrix& first, const Matrix& second) {
  Matrix r;
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column) {
      float sum = 0;
      for (int k = 0; k < 4; ++k) sum += first.m[row][k] * second.m[k][column];
      r.m[row][column] = sum;
    }
  }
  return r;
}

Matrix Translation(float x, float y, float z) {
  Matrix r = Identity();
  r.m[3][0] = x;
  r.m[3][1] = y;
  r.m[3][2] = z;
  return r;
}

Matrix RotationX(float radians) {
  Matrix r = Identity();
  const float c = std::cos(radians);
  const float s = std::sin(radians);
  r.m[1][1] = c;
  r.m[1][2] = s;
  r.m[2][1] = -s;
  r.m[2][2] = c;
  return r;
}

Matrix RotationY(float radians) {
  Matrix r = Identity();
  const float c = std::cos(radians);
  const float s = std::sin(radians);
  r.m[0][0] = c;
  r.m[0][2] = -s;
  r.m[2][0] = s;
  r.m[2][2] = c;
  return r;
}

Matrix RotationZ(float radians) {
  Matrix r = Identity();
  const float c = std::cos(radians);
  const float s = std::sin(radians);
  r.m[0][0] = c;
  r.m[0][1] = s;
  r.m[1][0] = -s;
  r.m[1][1] = c;
  return r;
}

Matrix LookAt(const Vec3& eye, const Vec3& at, const Vec3& up) {
  const Vec3 forward = Normalize(Minus(at, eye));
  const Vec3 right = Normalize(Cross(up, forward));
  const Vec3 top = Cross(forward, right);
  Matrix r = Identity();
  const Vec3 axes[3] = {right, top, forward};
  for (int column = 0; column < 3; ++column) {
    r.m[0][column] = axes[column].x;
    r.m[1][column] = axes[column].y;
    r.m[2][column] = axes[column].z;
    r.m[3][column] = -Dot(axes[column], eye);
  }
  return r;
}

Matrix Perspective(float fovY, float aspect, float nearZ, float farZ) {
  const float yScale = 1.0f / std::tan(fovY / 2);
  Matrix r;
  r.m[0][0] = yScale / aspect;
  r.m[1][1] = yScale;
  r.m[2][2] = farZ / (farZ - nearZ);
  r.m[2][3] = 1;
  r.m[3][2] = -nearZ * farZ / (farZ - nearZ);
  return r;
}

std::array<float, 4> Transform(const std::array<float, 4>& point, const Matrix& matrix) {
  std::array<float, 4> r{};
  for (int column = 0; column < 4; ++column) {
    for (int k = 0; k < 4; ++k) r[column] += point[k] * matrix.m[k][column];
  }
  return r;
}

Camera SceneCamera(int width, int height) {
  Camera camera;
  camera.view = LookAt(Vec3{0, 2.5f, 0}, Vec3{0, 1.0f, 20}, Vec3{0, 1, 0});
  const float aspect = static_cast<float>(width) / static_cast<float>(height > 0 ? height : 1);
  camera.projection = Perspective(kPi / 3, aspect, 0.5f, 400);
  return camera;
}

float HorizonRow(const Camera& camera, int height) {
  // Straight ahead at infinity: a direction, so the view's translation drops out.
  const std::array<float, 4> clip = Transform(Transform({0, 0, 1, 0}, camera.view), camera.projection);
  const float ndcY = clip[1] / clip[3];
  return (1 - ndcY) / 2 * static_cast<float>(height);
}

std::array<ScreenVertex, 4> SkyQuad(int width, float horizonRow) {
  const float right = static_cast<float>(width) - 0.5f;
  const std::uint32_t top = kOpaque | kSkyTop;
  const std::uint32_t bottom = kOpaque | kHaze;
  return {ScreenVertex{-0.5f, -0.5f, 1, 1, top, 0, 0}, ScreenVertex{right, -0.5f, 1, 1, top, 0, 0},
          ScreenVertex{-0.5f, horizonRow, 1, 1, bottom, 0, 0}, ScreenVertex{right, horizonRow, 1, 1, bottom, 0, 0}};
}

std::vector<ColourVertex> MakeHills() {
  std::vector<ColourVertex> strip;
  for (int i = 0; i <= kHillsSegments; ++i) {
    const float a = 2 * kPi * static_cast<float>(i) / kHillsSegments;
    const float height = 14 + 7 * std::sin(5 * a) + 4 * std::sin(13 * a + 1);
    const float x = kHillsRadius * std::sin(a);
    const float z = kHillsRadius * std::cos(a);
    strip.push_back(ColourVertex{x, -1, z, kOpaque | kHillsFoot});
    strip.push_back(ColourVertex{x, height, z, kOpaque | kHills});
  }
  return strip;
}

Matrix HillsPose(double seconds) { return RotationY(static_cast<float>(std::fmod(seconds * 0.03, 2 * kPi))); }

// It begins at the viewer's feet rather than around them: some drivers, Wine's among them, work the fog out
// from the corners' distances, which a corner behind the viewer throws off.
std::vector<TexturedVertex> MakeFloor() {
  const float s = kFloorHalfSide;
  const float t = s / kChequerPeriod;
  return {TexturedVertex{-s, 0, 0, 0, 1, 0, -t, 0}, TexturedVertex{-s, 0, s, 0, 1, 0, -t, t},
          TexturedVertex{s, 0, 0, 0, 1, 0, t, 0}, TexturedVertex{s, 0, s, 0, 1, 0, t, t}};
}

Matrix FloorPose(double seconds) {
  const double shift = std::fmod(seconds * kFloorSpeed, static_cast<double>(kChequerPeriod));
  return Translation(0, 0, -static_cast<float>(shift));
}

std::vector<LitVertex> MakeCraft() {
  std::vector<LitVertex> triangles;
  AddBox(triangles, Vec3{0, 0, 0}, Vec3{0.25f, 0.18f, 0.8f}, kCraftBody);
  AddBox(triangles, Vec3{0, 0, -0.1f}, Vec3{1.5f, 0.04f, 0.3f}, kCraftWings);
  return triangles;
}

Matrix CraftPose(double seconds) {
  const double t = Wrapped(seconds);
  const float x = static_cast<float>(3 * std::sin(t * 1.3));
  const float y = static_cast<float>(1.3 + 0.12 * std::sin(t * 3.1));
  // Banking into the sway, as a craft turning does.
  const float roll = static_cast<float>(-0.45 * std::cos(t * 1.3));
  return Multiply(RotationZ(roll), Translation(x, y, 7));
}

std::uint32_t ChequerTexel(int x, int y, int size) {
  if (size <= 1) return Mix(kChequerLight, kChequerDark, 0.5f);
  const bool light = (x < size / 2) != (y < size / 2);
  return light ? kChequerLight : kChequerDark;
}

std::uint32_t MistTexel(int x, int y, int size) {
  const float k = 2 * kPi / static_cast<float>(size > 0 ? size : 1);
  const float fx = k * static_cast<float>(x);
  const float fy = k * static_cast<float>(y);
  const float level = 0.5f + 0.25f * std::sin(fx) * std::sin(2 * fy) + 0.25f * std::sin(3 * (fx + fy));
  const auto grey = static_cast<std::uint32_t>(std::lround(255 * level));
  return grey << 16 | grey << 8 | grey;
}

TexturedMesh MakeTorus(int rings, int sides, float radius, float tubeRadius) {
  TexturedMesh mesh;
  for (int i = 0; i <= rings; ++i) {
    const float u = 2 * kPi * static_cast<float>(i) / static_cast<float>(rings);
    for (int j = 0; j <= sides; ++j) {
      const float v = 2 * kPi * static_cast<float>(j) / static_cast<float>(sides);
      const Vec3 out{std::cos(u), 0, std::sin(u)};
      const Vec3 normal = Plus(Times(out, std::cos(v)), Vec3{0, std::sin(v), 0});
      const Vec3 p = Plus(Times(out, radius), Times(normal, tubeRadius));
      mesh.vertices.push_back(TexturedVertex{p.x, p.y, p.z, normal.x, normal.y, normal.z,
                                             4 * static_cast<float>(i) / static_cast<float>(rings),
                                             static_cast<float>(j) / static_cast<float>(sides)});
    }
  }
  const auto at = [sides](int i, int j) { return static_cast<std::uint16_t>(i * (sides + 1) + j); };
  for (int i = 0; i < rings; ++i) {
    for (int j = 0; j < sides; ++j) {
      for (std::uint16_t index : {at(i, j), at(i, j + 1), at(i + 1, j), at(i + 1, j), at(i, j + 1), at(i + 1, j + 1)}) {
        mesh.indices.push_back(index);
      }
    }
  }
  return mesh;
}

Matrix TorusPose(int index, int count, double seconds) {
  const double t = Wrapped(seconds);
  const float k = static_cast<float>(index);
  const float spin = static_cast<float>(t);
  const float around = 2 * kPi * k / static_cast<float>(count > 0 ? count : 1) + 0.2f * spin;
  const Matrix turn = Multiply(RotationX(0.9f * spin + k), RotationY(0.7f * spin + 0.5f * k));
  return Multiply(turn, Translation(10 * std::sin(around), 3 + 1.2f * std::sin(1.1f * spin + k),
                                    25 + 10 * std::cos(around)));
}

std::array<ScreenVertex, 4> ScreenQuad(int width, int height, float u, float v, std::uint32_t argb) {
  const float right = static_cast<float>(width) - 0.5f;
  const float bottom = static_cast<float>(height) - 0.5f;
  return {ScreenVertex{-0.5f, -0.5f, 0, 1, argb, 0, 0}, ScreenVertex{right, -0.5f, 0, 1, argb, u, 0},
          ScreenVertex{-0.5f, bottom, 0, 1, argb, 0, v}, ScreenVertex{right, bottom, 0, 1, argb, u, v}};
}

std::array<ScreenVertex, 4> PictureQuad(int width, int height, int pictureWidth, int pictureHeight,
                                        int textureWidth, int textureHeight) {
  return ScreenQuad(width, height, static_cast<float>(pictureWidth) / static_cast<float>(textureWidth),
                    static_cast<float>(pictureHeight) / static_cast<float>(textureHeight), 0xFFFFFFFFu);
}

int TextureSide(int size, bool powerOfTwoOnly) {
  if (!powerOfTwoOnly) return size;
  int side = 1;
  while (side < size) side *= 2;
  return side;
}

std::uint32_t OpaqueOverBlack(std::uint32_t argb) {
  const std::uint32_t alpha = argb >> 24;
  std::uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) out |= (((argb >> shift) & 0xFFu) * alpha + 127) / 255 << shift;
  return out;
}

}  // namespace preview
