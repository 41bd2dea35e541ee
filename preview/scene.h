// The geometry of the preview's scenes, window-free: matrices as Direct3D takes them, the vertices of the
// meshes in the layouts the renderer hands to the device, the camera and the poses of everything that moves.
//
// Coordinates are Direct3D's left-handed ones: x to the right, y up, z away from the viewer. A triangle's
// front is the side from which its corners run clockwise, and its normal points out of that side.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace preview {

struct Vec3 {
  float x = 0;
  float y = 0;
  float z = 0;
};

// Row vectors times the matrix, m[row][column], the translation in the last row: the layout of D3DMATRIX.
struct Matrix {
  float m[4][4] = {};
};

Matrix Identity();
// The transformation `first`, then `second`.
Matrix Multiply(const Matrix& first, const Matrix& second);
Matrix Translation(float x, float y, float z);
Matrix RotationX(float radians);
Matrix RotationY(float radians);
Matrix RotationZ(float radians);
// The view from `eye` toward `at`, `up` pointing up.
Matrix LookAt(const Vec3& eye, const Vec3& at, const Vec3& up);
// A perspective projection with the vertical field of view `fovY`; depth 0 at `nearZ`, 1 at `farZ`, and w the
// distance from the viewer, which the device's fog by depth reads.
Matrix Perspective(float fovY, float aspect, float nearZ, float farZ);
// (x, y, z, w) times the matrix.
std::array<float, 4> Transform(const std::array<float, 4>& point, const Matrix& matrix);

// The vertex layouts; the renderer gives each its flexible vertex format.
struct ColourVertex {  // position, colour: unlit
  float x, y, z;
  std::uint32_t colour;
};
struct LitVertex {  // position, normal, colour: lit, coloured by the vertex
  float x, y, z;
  float nx, ny, nz;
  std::uint32_t colour;
};
struct TexturedVertex {  // position, normal, texture coordinates
  float x, y, z;
  float nx, ny, nz;
  float u, v;
};
struct ScreenVertex {  // already on the screen: pixel position, depth, 1/w, colour, texture coordinates
  float x, y, z, rhw;
  std::uint32_t colour;
  float u, v;
};

// An indexed triangle list.
struct TexturedMesh {
  std::vector<TexturedVertex> vertices;
  std::vector<std::uint16_t> indices;
};

// The colour the distance fades to, and the sky at the horizon: 0xRRGGBB.
constexpr std::uint32_t kHaze = 0xC8AA8C;
// How far from the viewer the fog begins, and where it hides everything.
constexpr float kFogStart = 10.0f;
constexpr float kFogEnd = 220.0f;

struct Camera {
  Matrix view;
  Matrix projection;
};

// The viewer of the moving scene: a little above the floor, looking ahead and slightly down.
Camera SceneCamera(int width, int height);
// The screen row where the floor would meet the sky at infinity, from the top.
float HorizonRow(const Camera& camera, int height);

// The sky from the top of the screen down to the horizon: deep blue above, the haze at the horizon. A strip.
std::array<ScreenVertex, 4> SkyQuad(int width, float horizonRow);

// A ring of hills far around the viewer, as a triangle strip, and its slow drift.
std::vector<ColourVertex> MakeHills();
Matrix HillsPose(double seconds);

// The floor: a large rectangle in the plane y = 0 from the viewer's feet on, its texture repeating every four
// units (one light and one dark square of the chequer). A strip.
std::vector<TexturedVertex> MakeFloor();
// The floor moving toward the viewer: it repeats after one period of the chequer, so the shift stays small.
Matrix FloorPose(double seconds);

// The player's craft: a body and two wings, as a triangle list, and its swaying flight above the floor.
std::vector<LitVertex> MakeCraft();
Matrix CraftPose(double seconds);

// The chequer texture's texel at (x, y) of a `size` x `size` level: two light and two dark squares, 0xRRGGBB.
// A 1 x 1 level is their average.
std::uint32_t ChequerTexel(int x, int y, int size);

// The texture of the heavy scene's see-through layers at (x, y) of a `size` x `size` level: soft grey
// patches that repeat seamlessly, 0xRRGGBB.
std::uint32_t MistTexel(int x, int y, int size);

// A ring with `rings` segments around and `sides` around its tube; texture coordinates run once around each.
TexturedMesh MakeTorus(int rings, int sides, float radius, float tubeRadius);
// Ring `index` of `count`, spinning on its own axis, the lot circling ahead of the viewer.
Matrix TorusPose(int index, int count, double seconds);

// A rectangle of the screen, its corners on pixel corners (Direct3D 8 puts pixel centres on whole
// coordinates, so the corners are half a pixel off them), its texture coordinates running from (0, 0) to
// (u, v); each pixel then samples at its own texel's centre when the texture is u * width by v * height.
std::array<ScreenVertex, 4> ScreenQuad(int width, int height, float u, float v, std::uint32_t argb);

// The still picture on a `width` x `height` screen from a texture of `textureWidth` x `textureHeight` whose
// top left `pictureWidth` x `pictureHeight` texels hold the picture: stretched over the screen, one texel per
// pixel when the picture has the screen's size.
std::array<ScreenVertex, 4> PictureQuad(int width, int height, int pictureWidth, int pictureHeight,
                                        int textureWidth, int textureHeight);

// The side of a texture holding `size` texels: the size itself, or the next power of two when the device
// takes only those.
int TextureSide(int size, bool powerOfTwoOnly);

// A picture pixel 0xAARRGGBB shown over black: 0x00RRGGBB, each channel scaled by the alpha and rounded.
std::uint32_t OpaqueOverBlack(std::uint32_t argb);

}  // namespace preview
