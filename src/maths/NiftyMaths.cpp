// NiftyMaths: vectors, matrices and quaternions.

#include "maths/NiftyMaths.h"

#include "maths/Misc.h"

#include <cmath>
#include <cstdio>

const char* const kMatrixLogPath = "/Users/Shared/test.txt";

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDegreesPerRadian = 57.29577951308232;

double Radians(float degrees) { return static_cast<double>(degrees) * kPi / 180.0; }

VECTOR3D Vec(double x, double y, double z) {
  VECTOR3D v;
  v.x = static_cast<float>(x);
  v.y = static_cast<float>(y);
  v.z = static_cast<float>(z);
  return v;
}

}  // namespace

void MATRIX::Zero() {
  for (double& e : m) e = 0.0;
}

void MATRIX::Identity() {
  Zero();
  m[0] = m[5] = m[10] = m[15] = 1.0;
}

void MATRIX::SetTranslation(VECTOR3D t) {
  m[12] = t.x;
  m[13] = t.y;
  m[14] = t.z;
}

void QUAT::Identity() {
  x = y = z = 0.0;
  w = 1.0;
}

bool QUAT::IsEqualTo(QUAT q) { return x == q.x && y == q.y && z == q.z && w == q.w; }

VECTOR3D AddVectors(VECTOR3D a, VECTOR3D b) { return MakePoint(a.x + b.x, a.y + b.y, a.z + b.z); }
VECTOR3D SubtractVectors(VECTOR3D a, VECTOR3D b) { return MakePoint(a.x - b.x, a.y - b.y, a.z - b.z); }
VECTOR3D MultiplyVectors(VECTOR3D a, VECTOR3D b) { return MakePoint(a.x * b.x, a.y * b.y, a.z * b.z); }
VECTOR3D DivideVectors(VECTOR3D a, VECTOR3D b) { return MakePoint(a.x / b.x, a.y / b.y, a.z / b.z); }

VECTOR3D ScaleVector(VECTOR3D v, double s) { return Vec(v.x * s, v.y * s, v.z * s); }

double VectorDotProduct(VECTOR3D a, VECTOR3D b) {
  float sum = a.x * b.x;
  sum += a.y * b.y;
  sum += a.z * b.z;
  return sum;
}

VECTOR3D VectorCrossProduct(VECTOR3D a, VECTOR3D b) {
  return MakePoint(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

double VectorLengthNOSQRT(VECTOR3D v) {
  float sum = v.x * v.x;
  sum += v.y * v.y;
  sum += v.z * v.z;
  return sum;
}

double VectorLength(VECTOR3D v) { return std::sqrt(VectorLengthNOSQRT(v)); }

double DistanceBetweenVectors(VECTOR3D a, VECTOR3D b) {
  return VectorLengthNOSQRT(SubtractVectors(a, b));
}

VECTOR3D NormalizeVector(VECTOR3D v) {
  double length = VectorLength(v);
  return Vec(v.x / length, v.y / length, v.z / length);
}

bool CompareVectors(VECTOR3D a, VECTOR3D b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

VECTOR3D AngleBetweenVectors(VECTOR3D a, VECTOR3D b) {
  VECTOR3D d = SubtractVectors(b, a);
  if (std::fabs(d.x) < 1.0f) d.x = static_cast<float>(d.x + 0.1);
  if (CompareVectors(a, b)) d.z = d.z + 1.0f;
  double len = VectorLength(d);
  VECTOR3D axis = VectorCrossProduct(MakePoint(0, 0, 1), d);
  double axisLength = VectorLength(axis);
  if (axisLength != 0.0) axis = Vec(axis.x / axisLength, axis.y / axisLength, axis.z / axisLength);
  double angle = std::acos(VectorDotProduct(d, MakePoint(0, 0, 1)) / len) * 180.0 / kPi;
  return Vec(axis.x * angle, axis.y * angle, axis.z * angle);
}

MATRIX AddMatrix(MATRIX a, MATRIX b) {
  MATRIX r;
  for (int i = 0; i < 16; ++i) r.m[i] = a.m[i] + b.m[i];
  return r;
}

MATRIX SubtractMatrix(MATRIX a, MATRIX b) {
  MATRIX r;
  for (int i = 0; i < 16; ++i) r.m[i] = a.m[i] - b.m[i];
  return r;
}

MATRIX MultiplyMatrix(MATRIX a, MATRIX b) {
  MATRIX r;
  for (int c = 0; c < 4; ++c)
    for (int j = 0; j < 4; ++j)
      r.m[4 * c + j] = a.m[j] * b.m[4 * c] + a.m[4 + j] * b.m[4 * c + 1] +
                       a.m[8 + j] * b.m[4 * c + 2] + a.m[12 + j] * b.m[4 * c + 3];
  return r;
}

MATRIX TransposeMatrix(MATRIX m) {
  MATRIX r;
  for (int c = 0; c < 4; ++c)
    for (int j = 0; j < 4; ++j) r.m[4 * c + j] = m.m[4 * j + c];
  return r;
}

VECTOR3D MatrixInverseRotatePoint(MATRIX m, VECTOR3D p) {
  double x = p.x, y = p.y, z = p.z;
  return Vec(m.m[0] * x + m.m[1] * y + m.m[2] * z, m.m[4] * x + m.m[5] * y + m.m[6] * z,
             m.m[8] * x + m.m[9] * y + m.m[10] * z);
}

VECTOR3D MatrixTranslatePoint(MATRIX m, VECTOR3D p) {
  return Vec(p.x + m.m[12], p.y + m.m[13], p.z + m.m[14]);
}

VECTOR3D MatrixInverseTranslatePoint(MATRIX m, VECTOR3D p) {
  return Vec(p.x - m.m[12], p.y - m.m[13], p.z - m.m[14]);
}

VECTOR3D MatrixPointMultiply(MATRIX m, VECTOR3D p) {
  double x = p.x, y = p.y, z = p.z;
  return Vec(m.m[0] * x + m.m[4] * y + m.m[8] * z + m.m[12],
             m.m[1] * x + m.m[5] * y + m.m[9] * z + m.m[13],
             m.m[2] * x + m.m[6] * y + m.m[10] * z + m.m[14]);
}

MATRIX MatrixFromAngle(VECTOR3D angles) {
  double ax = Radians(angles.x), ay = Radians(angles.y), az = Radians(angles.z);
  double cx = std::cos(ax), sx = std::sin(ax);
  double cy = std::cos(ay), sy = std::sin(ay);
  double cz = std::cos(az), sz = std::sin(az);
  MATRIX r;
  r.m[0] = cy * cz;
  r.m[1] = -cy * sz;
  r.m[2] = -sy;
  r.m[4] = cx * sz - sx * sy * cz;
  r.m[5] = sx * sy * sz + cx * cz;
  r.m[6] = -sx * cy;
  r.m[8] = cx * sy * cz + sx * sz;
  r.m[9] = sx * cz - cx * sy * sz;
  r.m[10] = cx * cy;
  r.m[3] = r.m[7] = r.m[11] = r.m[12] = r.m[13] = r.m[14] = 0.0;
  r.m[15] = 1.0;
  return r;
}

VECTOR3D AngleFromMatrix(MATRIX m) {
  float ay = static_cast<float>(-std::asin(m.m[2]));
  double c = std::cos(static_cast<double>(ay));
  float ax, az;
  if (std::fabs(c) > 0.005) {
    ax = static_cast<float>(std::atan2(-m.m[6] / c, m.m[10] / c) * kDegreesPerRadian);
    az = static_cast<float>(std::atan2(-m.m[1] / c, m.m[0] / c) * kDegreesPerRadian);
  } else {
    ax = 0.0f;
    az = static_cast<float>(std::atan2(m.m[4], m.m[5]) * kDegreesPerRadian);
  }
  return Vec(clamp(ax, 0, 360), clamp(ay * kDegreesPerRadian, 0, 360), clamp(az, 0, 360));
}

MATRIX MatrixAngleBetweenVectors(VECTOR3D a, VECTOR3D b) {
  VECTOR3D d = SubtractVectors(a, b);
  if (d.x == 0.0f && d.y == 0.0f && d.z == 0.0f) d.z = 1.0f;
  VECTOR3D f = NormalizeVector(d);
  VECTOR3D up = (f.x == 0.0f && f.z == 0.0f) ? MakePoint(-f.y, 0, 0) : MakePoint(0, 1, 0);
  VECTOR3D s = NormalizeVector(VectorCrossProduct(up, f));
  VECTOR3D u = NormalizeVector(VectorCrossProduct(s, f));
  MATRIX r;
  r.Zero();
  r.m[0] = s.x;
  r.m[1] = s.y;
  r.m[2] = s.z;
  r.m[4] = -u.x;
  r.m[5] = -u.y;
  r.m[6] = -u.z;
  r.m[8] = f.x;
  r.m[9] = f.y;
  r.m[10] = f.z;
  r.m[15] = 1.0;
  return r;
}

MATRIX QuatToRotationMatrix(QUAT q) {
  double x = q.x, y = q.y, z = q.z, w = q.w;
  MATRIX r;
  r.m[0] = 1 - 2 * (y * y + z * z);
  r.m[4] = 2 * (x * y - z * w);
  r.m[8] = 2 * (x * z + y * w);
  r.m[1] = 2 * (x * y + z * w);
  r.m[5] = 1 - 2 * (z * z + x * x);
  r.m[9] = 2 * (y * z - x * w);
  r.m[2] = 2 * (x * z - y * w);
  r.m[6] = 2 * (y * z + x * w);
  r.m[10] = 1 - 2 * (x * x + y * y);
  r.m[3] = r.m[7] = r.m[11] = r.m[12] = r.m[13] = r.m[14] = 0.0;
  r.m[15] = 1.0;
  return r;
}

void SaveMatrix(MATRIX m) {
  FILE* file = std::fopen(kMatrixLogPath, "a");
  if (!file) return;
  std::fprintf(file, "\n");
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 4; ++i) std::fprintf(file, "%4.5f ", m.m[4 * j + i]);
    std::fprintf(file, "\n");
  }
  std::fclose(file);
}

QUAT MultiplyQuats(QUAT a, QUAT b) {
  QUAT r;
  r.w = a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z;
  r.x = a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y;
  r.y = a.w * b.y + a.y * b.w + a.z * b.x - a.x * b.z;
  r.z = a.w * b.z + a.z * b.w + a.x * b.y - a.y * b.x;
  return r;
}

QUAT InverseQuat(QUAT q) {
  QUAT r;
  r.x = -q.x;
  r.y = -q.y;
  r.z = -q.z;
  r.w = q.w;
  return r;
}

double QuatMagnitude(QUAT q) { return q.w * q.w - q.x * q.x - q.y * q.y - q.z * q.z; }

QUAT NormalizeQuat(QUAT q) {
  double magnitude = QuatMagnitude(q);
  QUAT r;
  r.x = q.x / magnitude;
  r.y = q.y / magnitude;
  r.z = q.z / magnitude;
  r.w = q.w / magnitude;
  return r;
}

QUAT QuatFromMatrix(MATRIX m) {
  QUAT r;
  double trace = m.m[0] + m.m[5] + m.m[10];
  if (trace > 0.0) {
    double s = std::sqrt(trace + 1.0);
    r.w = s * 0.5;
    s = 0.5 / s;
    r.x = (m.m[6] - m.m[9]) * s;
    r.y = (m.m[8] - m.m[2]) * s;
    r.z = (m.m[1] - m.m[4]) * s;
    return r;
  }
  static const int next[3] = {1, 2, 0};
  int i = 0;
  if (m.m[5] > m.m[0]) i = 1;
  if (m.m[10] > m.m[5 * i]) i = 2;
  int j = next[i];
  int k = next[j];
  double q[3];
  double s = std::sqrt(m.m[5 * i] - (m.m[5 * j] + m.m[5 * k]) + 1.0);
  q[i] = s * 0.5;
  if (s != 0.0) s = 0.5 / s;
  r.w = (m.m[4 * j + k] - m.m[4 * k + j]) * s;
  q[j] = (m.m[4 * i + j] + m.m[4 * j + i]) * s;
  q[k] = (m.m[4 * i + k] + m.m[4 * k + i]) * s;
  r.x = q[0];
  r.y = q[1];
  r.z = q[2];
  return r;
}

QUAT QuatSlerp(QUAT* from, QUAT* to, double t) {
  QUAT target = *to;
  double cosom = from->x * to->x + from->y * to->y + from->z * to->z + from->w * to->w;
  if (cosom < 0.0) {
    cosom = -cosom;
    target.x = -target.x;
    target.y = -target.y;
    target.z = -target.z;
    target.w = -target.w;
  }
  double scale0, scale1;
  if (1.0 - cosom > 1e-05) {
    double omega = std::acos(cosom);
    double sinom = std::sin(omega);
    scale0 = std::sin((1.0 - t) * omega) / sinom;
    scale1 = std::sin(t * omega) / sinom;
  } else {
    scale0 = 1.0 - t;
    scale1 = t;
  }
  QUAT r;
  r.x = scale0 * from->x + scale1 * target.x;
  r.y = scale0 * from->y + scale1 * target.y;
  r.z = scale0 * from->z + scale1 * target.z;
  r.w = scale0 * from->w + scale1 * target.w;
  return r;
}

QUAT RotationToQuat(VECTOR3D angles) {
  double hx = Radians(angles.x) * 0.5, hy = Radians(angles.y) * 0.5, hz = Radians(angles.z) * 0.5;
  double cx = std::cos(hx), sx = std::sin(hx);
  double cy = std::cos(hy), sy = std::sin(hy);
  double cz = std::cos(hz), sz = std::sin(hz);
  QUAT r;
  r.x = cz * sx * cy - sz * cx * sy;
  r.y = cx * sy * cz + sx * cy * sz;
  r.z = sz * cy * cx - cz * sx * sy;
  r.w = cy * cx * cz + sx * sy * sz;
  return r;
}

QUAT AxisAndAngleToQuat(VECTOR3D axis, double angle) {
  double h = angle * 0.5;
  double s = std::sin(h);
  QUAT r;
  r.x = axis.x * s;
  r.y = axis.y * s;
  r.z = axis.z * s;
  r.w = std::cos(h);
  return r;
}
