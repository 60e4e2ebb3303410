// Vectors, matrices, quaternions, Euler rotations, wrapping, the frame-rate
// sampler, the debug loggers and the view frustum.

#include "support/TestSupport.h"

#include "maths/GLStuff.h"
#include "maths/Misc.h"
#include "maths/NiftyMaths.h"

#include <GL/gl.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

void ExpectNear(VECTOR3D expected, VECTOR3D actual, float tolerance = 1e-5f) {
  EXPECT_NEAR(expected.x, actual.x, tolerance) << "x";
  EXPECT_NEAR(expected.y, actual.y, tolerance) << "y";
  EXPECT_NEAR(expected.z, actual.z, tolerance) << "z";
}

MATRIX Translation(float x, float y, float z) {
  MATRIX m;
  m.SetTranslation(MakePoint(x, y, z));
  return m;
}

bool IsIdentity(const MATRIX& m) {
  for (int i = 0; i < 16; ++i)
    if (m.m[i] != ((i % 5 == 0) ? 1.0 : 0.0)) return false;
  return true;
}

QUAT Quat(double x, double y, double z, double w) {
  QUAT q;
  q.x = x;
  q.y = y;
  q.z = z;
  q.w = w;
  return q;
}

}  // namespace

TEST(Vector, DefaultIsZeroAndArithmeticIsPerComponent) {
  VECTOR3D zero;
  EXPECT_TRUE(CompareVectors(zero, MakePoint(0, 0, 0)));
  VECTOR3D a = MakePoint(1, 2, 3), b = MakePoint(4, -5, 0.5f);
  EXPECT_TRUE(CompareVectors(AddVectors(a, b), MakePoint(5, -3, 3.5f)));
  EXPECT_TRUE(CompareVectors(SubtractVectors(a, b), MakePoint(-3, 7, 2.5f)));
  EXPECT_TRUE(CompareVectors(MultiplyVectors(a, b), MakePoint(4, -10, 1.5f)));
  EXPECT_TRUE(CompareVectors(DivideVectors(a, b), MakePoint(0.25f, -0.4f, 6)));
  VECTOR3D inf = DivideVectors(a, MakePoint(0, 0, 0));
  EXPECT_TRUE(std::isinf(inf.x));
}

TEST(Vector, ScaleRoundsOnceFromDouble) {
  // 1/3 scaled by 3 in double gives exactly 1 after one rounding.
  VECTOR3D v = ScaleVector(MakePoint(1.0f / 3.0f, 0, 0), 3.0);
  EXPECT_EQ(static_cast<float>(static_cast<double>(1.0f / 3.0f) * 3.0), v.x);
}

TEST(Vector, LengthsAndDistanceIsSquared) {
  EXPECT_DOUBLE_EQ(25.0, DistanceBetweenVectors(MakePoint(0, 0, 0), MakePoint(3, 4, 0)));
  EXPECT_DOUBLE_EQ(5.0, VectorLength(MakePoint(3, 4, 0)));
  EXPECT_DOUBLE_EQ(25.0, VectorLengthNOSQRT(MakePoint(3, 4, 0)));
  EXPECT_DOUBLE_EQ(32.0, VectorDotProduct(MakePoint(1, 2, 3), MakePoint(4, 5, 6)));
}

TEST(Vector, CrossProductIsRightHanded) {
  EXPECT_TRUE(CompareVectors(MakePoint(0, 0, 1), VectorCrossProduct(MakePoint(1, 0, 0), MakePoint(0, 1, 0))));
  EXPECT_TRUE(CompareVectors(MakePoint(1, 0, 0), VectorCrossProduct(MakePoint(0, 1, 0), MakePoint(0, 0, 1))));
}

TEST(Vector, NormalizeAndNaN) {
  ExpectNear(MakePoint(0.6f, 0.8f, 0), NormalizeVector(MakePoint(3, 4, 0)));
  VECTOR3D n = NormalizeVector(MakePoint(0, 0, 0));
  EXPECT_TRUE(std::isnan(n.x) && std::isnan(n.y) && std::isnan(n.z));
  VECTOR3D withNaN = MakePoint(kNaN, 0, 0);
  EXPECT_FALSE(CompareVectors(withNaN, withNaN)) << "NaN must never compare equal";
}

TEST(Vector, AngleBetweenVectorsExamples) {
  ExpectNear(MakePoint(0, 90, 0), AngleBetweenVectors(MakePoint(0, 0, 0), MakePoint(3, 0, 0)), 1e-4f);
  ExpectNear(MakePoint(0, 1.14578f, 0), AngleBetweenVectors(MakePoint(0, 0, 0), MakePoint(0, 0, 5)), 1e-4f);
  ExpectNear(MakePoint(0, 5.71059f, 0), AngleBetweenVectors(MakePoint(1, 1, 1), MakePoint(1, 1, 1)), 1e-4f);
}

TEST(Matrix, IdentityZeroAndTranslation) {
  MATRIX m;
  EXPECT_TRUE(IsIdentity(m));
  for (double& e : m.m) e = 7;
  m.Identity();
  EXPECT_TRUE(IsIdentity(m));
  m.Zero();
  for (double e : m.m) EXPECT_EQ(0.0, e);
  MATRIX t;
  t.m[3] = 9;
  t.SetTranslation(MakePoint(1, 2, 3));
  EXPECT_EQ(1.0, t.m[12]);
  EXPECT_EQ(2.0, t.m[13]);
  EXPECT_EQ(3.0, t.m[14]);
  EXPECT_EQ(9.0, t.m[3]) << "SetTranslation must change only m[12..14]";
  EXPECT_EQ(1.0, t.m[0]);
}

TEST(Matrix, MultiplyOrderMatches_OpenGL) {
  MATRIX move = Translation(10, 0, 0);
  MATRIX turn = MatrixFromAngle(MakePoint(0, 0, -90));  // +90 about z: x -> y
  VECTOR3D p = MakePoint(1, 0, 0);
  // move·turn: turn first, then move.
  ExpectNear(MakePoint(10, 1, 0), MatrixPointMultiply(MultiplyMatrix(move, turn), p));
  // turn·move: move first, then turn.
  ExpectNear(MakePoint(0, 11, 0), MatrixPointMultiply(MultiplyMatrix(turn, move), p), 1e-4f);
  MATRIX identity;
  MATRIX a = MultiplyMatrix(identity, turn), b = MultiplyMatrix(turn, identity);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(turn.m[i], a.m[i]);
    EXPECT_EQ(turn.m[i], b.m[i]);
  }
}

TEST(Matrix, AddSubtractTranspose) {
  MATRIX a = MatrixFromAngle(MakePoint(10, 20, 30));
  a.m[11] = 4;
  a.m[14] = 5;
  MATRIX tt = TransposeMatrix(TransposeMatrix(a));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(a.m[i], tt.m[i]);
  EXPECT_EQ(a.m[14], TransposeMatrix(a).m[11]);
  MATRIX sum = AddMatrix(a, a), difference = SubtractMatrix(sum, a);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(a.m[i], difference.m[i]);
}

TEST(Matrix, RotateIgnoresTranslationPointMultiplyAddsIt) {
  MATRIX m = Translation(5, 6, 7);
  m.m[3] = m.m[7] = m.m[11] = 2;  // a bottom row that a w-divide would use
  m.m[15] = 4;
  VECTOR3D p = MakePoint(1, 2, 3);
  EXPECT_TRUE(CompareVectors(p, MatrixRotatePoint(m, p)));
  EXPECT_TRUE(CompareVectors(MakePoint(6, 8, 10), MatrixPointMultiply(m, p)));
  EXPECT_TRUE(CompareVectors(MakePoint(6, 8, 10), MatrixTranslatePoint(m, p)));
  EXPECT_TRUE(CompareVectors(MakePoint(-4, -4, -4), MatrixInverseTranslatePoint(m, p)));
}

TEST(Matrix, FromAngleTurnsAndInverseTurnsBack) {
  EXPECT_TRUE(IsIdentity(MatrixFromAngle(MakePoint(0, 0, 0))));
  MATRIX m = MatrixFromAngle(MakePoint(90, 0, 0));
  VECTOR3D turned = MatrixRotatePoint(m, MakePoint(0, 1, 0));
  ExpectNear(MakePoint(0, 0, -1), turned);
  ExpectNear(MakePoint(0, 1, 0), MatrixInverseRotatePoint(m, turned));
}

TEST(Matrix, FromAngleEqualsRotateWithXAndZNegated) {
  VECTOR3D angles = MakePoint(33, -47, 121);
  VECTOR3D p = MakePoint(0.3f, -2, 5);
  VECTOR3D viaRotate = p;
  Rotate(&viaRotate, -angles.x, angles.y, -angles.z);
  ExpectNear(viaRotate, MatrixRotatePoint(MatrixFromAngle(angles), p), 1e-4f);
}

TEST(Matrix, AngleFromMatrixInvertsFromAngle) {
  ExpectNear(MakePoint(10, 20, 330), AngleFromMatrix(MatrixFromAngle(MakePoint(10, 20, -30))), 1e-3f);
  VECTOR3D gimbal = AngleFromMatrix(MatrixFromAngle(MakePoint(30, 90, 10)));
  EXPECT_EQ(0.0f, gimbal.x);
  MATRIX bad;
  bad.m[2] = 2;  // |m[2]| > 1: asin gives NaN
  VECTOR3D r = AngleFromMatrix(bad);
  EXPECT_EQ(0.0f, r.x);
  EXPECT_TRUE(std::isnan(r.y));
}

TEST(Matrix, AngleBetweenVectorsFrame) {
  EXPECT_TRUE(IsIdentity(MatrixAngleBetweenVectors(MakePoint(1, 2, 3), MakePoint(1, 2, 3))));
  MATRIX up = MatrixAngleBetweenVectors(MakePoint(0, 5, 0), MakePoint(0, 0, 0));
  EXPECT_NEAR(-1.0, up.m[4], 1e-6);
  EXPECT_NEAR(0.0, up.m[5], 1e-6);
  EXPECT_NEAR(0.0, up.m[6], 1e-6);
  EXPECT_NEAR(1.0, up.m[9], 1e-6) << "z column along a - b";
}

TEST(Quat, IdentityEqualityAndNaN) {
  QUAT q;
  EXPECT_TRUE(q.IsEqualTo(Quat(0, 0, 0, 1)));
  QUAT n = Quat(kNaN, 0, 0, 1);
  EXPECT_FALSE(n.IsEqualTo(n));
  EXPECT_TRUE(IsIdentity(QuatToRotationMatrix(q)));
}

TEST(Quat, MultiplyIsHamiltonAndInverseUndoes) {
  QUAT a = RotationToQuat(MakePoint(90, 0, 0)), b = RotationToQuat(MakePoint(0, 90, 0));
  QUAT ab = MultiplyQuats(a, b), ba = MultiplyQuats(b, a);
  EXPECT_FALSE(std::fabs(ab.x - ba.x) < 1e-9 && std::fabs(ab.z - ba.z) < 1e-9);
  QUAT id = MultiplyQuats(a, InverseQuat(a));
  EXPECT_NEAR(1.0, id.w, 1e-12);
  EXPECT_NEAR(0.0, id.x, 1e-12);
  QUAT i = Quat(1, 0, 0, 0), j = Quat(0, 1, 0, 0);
  QUAT k = MultiplyQuats(i, j);  // i·j = k
  EXPECT_TRUE(k.IsEqualTo(Quat(0, 0, 1, 0)));
}

TEST(Quat, MatrixRoundTrip) {
  for (VECTOR3D angles : {MakePoint(10, 20, 30), MakePoint(170, -80, 45), MakePoint(180, 0, 0),
                          MakePoint(0, 180, 0), MakePoint(0, 0, 180)}) {
    QUAT q = RotationToQuat(angles);
    QUAT back = QuatFromMatrix(QuatToRotationMatrix(q));
    double sign = (back.w * q.w + back.x * q.x + back.y * q.y + back.z * q.z) < 0 ? -1 : 1;
    EXPECT_NEAR(q.x, sign * back.x, 1e-9);
    EXPECT_NEAR(q.y, sign * back.y, 1e-9);
    EXPECT_NEAR(q.z, sign * back.z, 1e-9);
    EXPECT_NEAR(q.w, sign * back.w, 1e-9);
  }
  EXPECT_GT(QuatFromMatrix(QuatToRotationMatrix(RotationToQuat(MakePoint(10, 20, 30)))).w, 0);
}

TEST(Quat, RotationToQuatTurnsLikeRotate) {
  VECTOR3D angles = MakePoint(25, -60, 140);
  VECTOR3D p = MakePoint(1, 2, 3);
  VECTOR3D viaRotate = p;
  Rotate(&viaRotate, angles.x, angles.y, angles.z);
  ExpectNear(viaRotate, MatrixRotatePoint(QuatToRotationMatrix(RotationToQuat(angles)), p), 1e-4f);
}

TEST(Quat, SlerpEndsShortArcAndLinearBlend) {
  QUAT from = RotationToQuat(MakePoint(0, 0, 0)), to = RotationToQuat(MakePoint(0, 0, 90));
  EXPECT_TRUE(QuatSlerp(&from, &to, 0).IsEqualTo(from));
  QUAT end = QuatSlerp(&from, &to, 1);
  EXPECT_NEAR(to.z, end.z, 1e-12);
  EXPECT_NEAR(to.w, end.w, 1e-12);
  QUAT negated = Quat(-to.x, -to.y, -to.z, -to.w);
  QUAT viaShortArc = QuatSlerp(&from, &negated, 1);
  EXPECT_NEAR(to.w, viaShortArc.w, 1e-12) << "a negative dot product takes -to";
  QUAT near = Quat(0, 0, 0.001, 1);
  QUAT half = QuatSlerp(&from, &near, 0.5);
  EXPECT_DOUBLE_EQ(0.5 * 1 + 0.5 * 1, half.w);
  EXPECT_DOUBLE_EQ(0.0005, half.z);
  EXPECT_TRUE(to.IsEqualTo(RotationToQuat(MakePoint(0, 0, 90)))) << "inputs unchanged";
}

TEST(Quat, MagnitudeNormalizeAndAxisAngle) {
  QUAT q = Quat(1, 2, 3, 4);
  EXPECT_DOUBLE_EQ(16 - 1 - 4 - 9, QuatMagnitude(q));
  QUAT n = NormalizeQuat(q);
  EXPECT_DOUBLE_EQ(2.0, n.w);
  QUAT r = AxisAndAngleToQuat(MakePoint(0, 0, 2), 3.141592653589793);
  EXPECT_NEAR(2.0, r.z, 1e-12) << "axis is not normalised";
  EXPECT_NEAR(0.0, r.w, 1e-12);
}

TEST(Misc, ClampWrapsByHigh) {
  EXPECT_DOUBLE_EQ(330, clamp(-30, 0, 360));
  EXPECT_DOUBLE_EQ(0, clamp(360, 0, 360));
  EXPECT_DOUBLE_EQ(5, clamp(725, 0, 360));
  EXPECT_DOUBLE_EQ(359.5, clamp(359.5, 0, 360));
  EXPECT_DOUBLE_EQ(-50, clamp(-150, -100, 100));
  EXPECT_TRUE(std::isnan(clamp(std::nan(""), 0, 360)));
}

TEST(Misc, RotateAxesAndZeroShortcuts) {
  VECTOR3D v = MakePoint(0, 1, 0);
  Rotate(&v, 90, 0, 0);
  ExpectNear(MakePoint(0, 0, 1), v);
  v = MakePoint(0, 0, 1);
  Rotate(&v, 0, 90, 0);
  ExpectNear(MakePoint(1, 0, 0), v);
  v = MakePoint(1, 0, 0);
  Rotate(&v, 0, 0, 90);
  ExpectNear(MakePoint(0, 1, 0), v);
  v = MakePoint(0, 1, 0);
  Rotate(&v, 0, 0, 90);
  ExpectNear(MakePoint(-1, 0, 0), v);

  VECTOR3D odd = MakePoint(0.1f, 1e-7f, 3.3f);
  VECTOR3D same = odd;
  Rotate(&same, 0, 0, 0);
  EXPECT_EQ(0, std::memcmp(&odd, &same, sizeof odd));
  // A zero x angle must not round y and z through a no-op turn: with y only
  // turned about z, z stays bit-for-bit.
  VECTOR3D keepZ = MakePoint(0.1f, 0.7f, 3.3000002f);
  Rotate(&keepZ, 0, 0, 30);
  EXPECT_EQ(3.3000002f, keepZ.z);
  VECTOR3D nan = MakePoint(1, 1, 1);
  Rotate(&nan, kNaN, 0, 0);
  EXPECT_TRUE(std::isnan(nan.y));
}

TEST(Misc, NormalAndMakers) {
  EXPECT_TRUE(CompareVectors(MakePoint(0, 0, 1),
                             CalculateNormal(MakePoint(0, 0, 0), MakePoint(1, 0, 0), MakePoint(0, 1, 0))));
  EXPECT_TRUE(CompareVectors(MakePoint(0, 0, 0),
                             CalculateNormal(MakePoint(0, 0, 0), MakePoint(1, 1, 1), MakePoint(2, 2, 2))));
  COLOUR c = MakeColour(0.1f, 0.2f, 0.3f, 0.4f);
  EXPECT_EQ(0.4f, c.a);
  point2d p = Make2DPoint(3, 4);
  EXPECT_EQ(4.0f, p.y);
}

TEST(Misc, FrameRateSamplesEveryQuarterSecond) {
  fCount = 60;
  frameRate = lastcountTime = 0;
  lastcountFrame = 0;
  CalcFrameRate(0.2);
  EXPECT_EQ(0.0, frameRate);
  CalcFrameRate(2.0);
  EXPECT_DOUBLE_EQ(30.0, frameRate);
  EXPECT_DOUBLE_EQ(2.0, lastcountTime);
  EXPECT_EQ(60, lastcountFrame);
  fCount = 75;
  CalcFrameRate(2.25);
  EXPECT_DOUBLE_EQ(2.0, lastcountTime) << "exactly 0.25 s later is not a new sample";
  CalcFrameRate(2.5);
  EXPECT_DOUBLE_EQ(30.0, frameRate);
  fCount = 0;
  frameRate = lastcountTime = 0;
  lastcountFrame = 0;
}

TEST(Misc, LoggersWriteToTheirFixedPathsOrNothing) {
  // The loggers' folder does not exist on Linux; a call must write nothing
  // and return normally. Where someone made the folder, check the format.
  std::string before = ReadFileBytes(kDebugLogPath);
  VECTOR3D v = MakePoint(1, 2.5f, -3);
  DEBUGp3d(v);
  DEBUGstr("hello");
  DEBUG(0.5);
  MATRIX m;
  SaveMatrix(m);
  ERRORBOX("ignored");
  ERRORCLOSE("ignored");
  FILE* folder = std::fopen("/Users/Shared", "r");
  if (!folder) {
    EXPECT_EQ("", ReadFileBytes(kDebugLogPath));
  } else {
    std::fclose(folder);
    std::string after = ReadFileBytes(kDebugLogPath);
    EXPECT_EQ(before + "1.000000,2.500000,-3.000000\nhello\n0.500000\n", after);
  }
}

class FrustumTest : public GLTest {};

TEST_F(FrustumTest, ZeroBeforeExtraction) {
  for (auto& plane : frustum)
    for (float& v : plane) v = 0;
  EXPECT_FALSE(PointInFrustum(MakePoint(0, 0, 0)));
  EXPECT_TRUE(SphereInFrustum(MakePoint(100, 0, 0), 0.1f));
}

TEST_F(FrustumTest, IdentityMatricesGiveTheUnitCube) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  ExtractFrustum();
  const float expected[6][4] = {{-1, 0, 0, 1}, {1, 0, 0, 1}, {0, 1, 0, 1},
                                {0, -1, 0, 1}, {0, 0, -1, 1}, {0, 0, 1, 1}};
  for (int p = 0; p < 6; ++p)
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(expected[p][i], frustum[p][i]) << p << "," << i;
  EXPECT_TRUE(PointInFrustum(MakePoint(0, 0, 0)));
  EXPECT_FALSE(PointInFrustum(MakePoint(1, 0, 0)));
  EXPECT_FALSE(SphereInFrustum(MakePoint(1.5f, 0, 0), 0.5f));
  EXPECT_TRUE(SphereInFrustum(MakePoint(1.5f, 0, 0), 0.6f));
  EXPECT_TRUE(SphereInsideSinglePlaneFrustum(0, MakePoint(1.5f, 0, 0), 0.6f));
  EXPECT_FALSE(SphereInsideSinglePlaneFrustum(0, MakePoint(1.5f, 0, 0), 0.5f));
  EXPECT_TRUE(CompareVectors(MakePoint(1, 2, 3), PointAtEdgeOfFrustum(0, MakePoint(5, 2, 3))));
  EXPECT_TRUE(CompareVectors(MakePoint(5, -1, 3), PointAtEdgeOfFrustum(2, MakePoint(5, 2, 3))));
  EXPECT_TRUE(CompareVectors(MakePoint(5, 2, -1), PointAtEdgeOfFrustum(5, MakePoint(5, 2, 3))));
  EXPECT_TRUE(CompareVectors(MakePoint(0, 0, 0), PointAtEdgeOfFrustum(6, MakePoint(5, 2, 3))));
  EXPECT_TRUE(CompareVectors(MakePoint(0, 0, 0), PointAtEdgeOfFrustum(-1, MakePoint(5, 2, 3))));
}

TEST_F(FrustumTest, PerspectiveFromTheRealContext) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glFrustum(-1, 1, -1, 1, 1, 100);  // 90 degrees across, near 1, far 100
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0, 0, -5);  // the world moves 5 units away from the camera
  ExtractFrustum();
  EXPECT_TRUE(PointInFrustum(MakePoint(0, 0, 0)));       // 5 in front
  EXPECT_FALSE(PointInFrustum(MakePoint(0, 0, 5)));      // at the camera
  EXPECT_TRUE(PointInFrustum(MakePoint(4.9f, 0, 0)));    // inside the 45-degree edge
  EXPECT_FALSE(PointInFrustum(MakePoint(5.1f, 0, 0)));
  EXPECT_FALSE(PointInFrustum(MakePoint(0, 0, -96)));    // beyond far
  EXPECT_NEAR(-95.0f, PointAtEdgeOfFrustum(4, MakePoint(0, 0, 0)).z, 1e-3f);
}
