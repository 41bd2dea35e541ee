// The preview's window-free parts: the command line, the placement beside the dialog, and the geometry of
// its scenes.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "preview/options.h"
#include "preview/placement.h"
#include "preview/scene.h"

using namespace preview;

namespace {

Vec3 Apply(const Matrix& m, const Vec3& p) {
  const std::array<float, 4> r = Transform({p.x, p.y, p.z, 1}, m);
  return Vec3{r[0] / r[3], r[1] / r[3], r[2] / r[3]};
}

// Each triangle's corners run clockwise seen from the side its vertices' normals point to, so that culling
// the back faces keeps the outside.
template <class Vertex>
void ExpectFacingOut(const std::vector<Vertex>& vertices, const std::vector<std::uint16_t>& indices) {
  for (std::size_t i = 0; i + 2 < indices.size(); i += 3) {
    const Vertex& a = vertices.at(indices[i]);
    const Vertex& b = vertices.at(indices[i + 1]);
    const Vertex& c = vertices.at(indices[i + 2]);
    const float ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
    const float vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
    const float facing = (uy * vz - uz * vy) * a.nx + (uz * vx - ux * vz) * a.ny + (ux * vy - uy * vx) * a.nz;
    ASSERT_GT(facing, 0.0f) << "triangle " << i / 3 << " faces inward";
  }
}

std::vector<std::uint16_t> Sequence(std::size_t count) {
  std::vector<std::uint16_t> indices(count);
  for (std::size_t i = 0; i < count; ++i) indices[i] = static_cast<std::uint16_t>(i);
  return indices;
}

}  // namespace

// The camera's matrices as Direct3D reads them: what it looks at lands in the middle of the screen, depth
// runs from 0 at the near plane to 1 at the far one, and transformations apply in the order multiplied.
TEST(PreviewScene, MatricesFollowDirect3DConventions) {
  const Matrix view = LookAt(Vec3{1, 2, 3}, Vec3{1, 2, 13}, Vec3{0, 1, 0});
  const Matrix projection = Perspective(1.0f, 4.0f / 3.0f, 0.5f, 100);
  const Matrix both = Multiply(view, projection);
  const Vec3 ahead = Apply(both, Vec3{1, 2, 13});
  EXPECT_NEAR(ahead.x, 0, 1e-5);
  EXPECT_NEAR(ahead.y, 0, 1e-5);
  EXPECT_NEAR(Apply(both, Vec3{1, 2, 3.5f}).z, 0, 1e-5);
  EXPECT_NEAR(Apply(both, Vec3{1, 2, 103}).z, 1, 1e-5);
  EXPECT_GT(Apply(both, Vec3{2, 3, 13}).x, 0) << "right is right";
  EXPECT_GT(Apply(both, Vec3{2, 3, 13}).y, 0) << "up is up";

  const Vec3 turned = Apply(Multiply(Translation(1, 0, 0), RotationY(1.5707963f)), Vec3{0, 0, 0});
  EXPECT_NEAR(turned.x, 0, 1e-5);
  EXPECT_NEAR(turned.z, -1, 1e-5) << "translated first, then turned a quarter about y";

  // The horizon of the scene's camera, which looks slightly down, lies in the upper half of the screen.
  const float horizon = HorizonRow(SceneCamera(800, 600), 600);
  EXPECT_GT(horizon, 150);
  EXPECT_LT(horizon, 300);
  Camera level;
  level.view = LookAt(Vec3{0, 5, 0}, Vec3{0, 5, 1}, Vec3{0, 1, 0});
  level.projection = Perspective(1.0f, 1.0f, 1, 10);
  EXPECT_NEAR(HorizonRow(level, 600), 300, 1e-3);
}

TEST(PreviewScene, ClosedMeshesFaceOutward) {
  const std::vector<LitVertex> craft = MakeCraft();
  ASSERT_EQ(craft.size() % 3, 0u);
  ExpectFacingOut(craft, Sequence(craft.size()));
  const TexturedMesh ring = MakeTorus(24, 12, 1.6f, 0.5f);
  EXPECT_EQ(ring.indices.size(), 24u * 12 * 6);
  ExpectFacingOut(ring.vertices, ring.indices);
}

// The still picture: every pixel centre of the screen samples the middle of its own texel, whether the
// texture has the picture's size or the next powers of two.
TEST(PreviewScene, PictureQuadPutsEachTexelOnItsPixel) {
  for (const std::array<int, 2>& texture : {std::array<int, 2>{400, 300}, std::array<int, 2>{512, 512}}) {
    const std::array<ScreenVertex, 4> quad = PictureQuad(400, 300, 400, 300, texture[0], texture[1]);
    const ScreenVertex& topLeft = quad[0];
    const ScreenVertex& bottomRight = quad[3];
    for (int pixel : {0, 1, 150, 298, 299}) {
      const float along = (static_cast<float>(pixel) - topLeft.x) / (bottomRight.x - topLeft.x);
      const float texel = (topLeft.u + along * (bottomRight.u - topLeft.u)) * static_cast<float>(texture[0]);
      EXPECT_NEAR(texel, static_cast<float>(pixel) + 0.5f, 1e-3) << "column " << pixel;
      const float down = (static_cast<float>(pixel) - topLeft.y) / (bottomRight.y - topLeft.y);
      const float row = (topLeft.v + down * (bottomRight.v - topLeft.v)) * static_cast<float>(texture[1]);
      EXPECT_NEAR(row, static_cast<float>(pixel) + 0.5f, 1e-3) << "row " << pixel;
    }
  }
  EXPECT_EQ(TextureSide(400, false), 400);
  EXPECT_EQ(TextureSide(400, true), 512);
  EXPECT_EQ(TextureSide(512, true), 512);
  EXPECT_EQ(TextureSide(1, true), 1);
  EXPECT_EQ(OpaqueOverBlack(0xFF406080u), 0x406080u);
  EXPECT_EQ(OpaqueOverBlack(0x80FF0102u), 0x800101u);
  EXPECT_EQ(OpaqueOverBlack(0x00FFFFFFu), 0u);
}

TEST(PreviewPlacement, PlaceBesideFindsRoomOnEitherSide) {
  const Rect work{0, 0, 1920, 1040};
  const Rect dialog{0, 0, 651, 580};
  const Rect right = PlaceBeside(dialog, 806, 625, work);
  EXPECT_EQ(right.left, 651);
  EXPECT_EQ(right.top, 0);
  const Rect left = PlaceBeside(Rect{1200, 100, 1851, 680}, 806, 625, work);
  EXPECT_EQ(left.right, 1200);
  EXPECT_EQ(left.top, 100);
  // Room on neither side: on the roomier one, kept on the screen.
  const Rect squeezed = PlaceBeside(dialog, 806, 625, Rect{0, 0, 1280, 1024});
  EXPECT_EQ(squeezed.left, 1280 - 806);
  const Rect low = PlaceBeside(Rect{0, 900, 651, 1480}, 806, 625, work);
  EXPECT_EQ(low.bottom, 1040);
}

TEST(PreviewOptions, ReadsEveryOptionAndRejectsBadOnes) {
  const ParsedOptions defaults = ParseOptions({});
  EXPECT_TRUE(defaults.error.empty());
  EXPECT_EQ(defaults.options.width, 800);
  EXPECT_EQ(defaults.options.height, 600);

  const ParsedOptions all = ParseOptions(
      {"--size", "1024x768", "--scene", "C:\\shot.jpg", "--pos", "-10,20", "--beside", "Demo", "--fps-limit", "0"});
  ASSERT_TRUE(all.error.empty()) << all.error;
  EXPECT_EQ(all.options.width, 1024);
  EXPECT_EQ(all.options.height, 768);
  EXPECT_EQ(all.options.scene, "C:\\shot.jpg");
  EXPECT_EQ(all.options.x, -10);
  EXPECT_EQ(all.options.y, 20);
  EXPECT_EQ(all.options.beside, "Demo");
  EXPECT_EQ(all.options.frameLimit, 0);
  EXPECT_FALSE(all.options.heavy);
  const ParsedOptions heavy = ParseOptions({"--heavy", "--fps-limit", "30", "--run-for", "4000", "--stats", "s.txt"});
  ASSERT_TRUE(heavy.error.empty()) << heavy.error;
  EXPECT_TRUE(heavy.options.heavy);
  EXPECT_EQ(heavy.options.frameLimit, 30);
  EXPECT_EQ(heavy.options.runForMs, 4000);
  EXPECT_EQ(heavy.options.stats, "s.txt");

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--size", "0x600"}, {"--size", "800"}, {"--size", "800x600x2"}, {"--size", "16385x10"},
           {"--size", "x600"}, {"--pos", "1;2"}, {"--fps-limit", "-1"}, {"--size"}, {"--colour", "red"}, {"extra"},
           {"--heavy", "--scene", "a.png"}, {"--run-for", "100"}, {"--stats", "s.txt"}, {"--run-for", "0", "--stats", "s"}}) {
    EXPECT_FALSE(ParseOptions(bad).error.empty()) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
  }
}
