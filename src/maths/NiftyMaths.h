// NiftyMaths: vectors, 4x4 matrices and quaternions.
//
// Vector-only arithmetic is single precision; matrix and quaternion arithmetic
// is double precision. Where a float vector meets a matrix its components are
// widened, the arithmetic is done in double and each result is rounded to
// float once, at the end. Euler angles are in degrees everywhere except
// AxisAndAngleToQuat, which takes radians. Nothing allocates, keeps state or
// reports errors: IEEE infinities and NaNs pass straight through.
#pragma once

// Three floats: a position, a direction, a colour (r, g, b) or Euler angles.
struct VECTOR3D {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
};

struct point2d {
  float x;
  float y;
};

// Sixteen doubles, column-major as in OpenGL: m[4c + r] is row r, column c.
// m[12..14] hold the translation.
class MATRIX {
public:
  double m[16];
  MATRIX() { Identity(); }  // the identity
  void Zero();              // all sixteen elements 0
  void Identity();          // zero, then m[0] = m[5] = m[10] = m[15] = 1
  void SetTranslation(VECTOR3D t);  // m[12..14] = t; nothing else changes
};

// A quaternion, vector part first, scalar last.
class QUAT {
public:
  double x, y, z, w;
  QUAT() { Identity(); }  // (0, 0, 0, 1)
  void Identity();
  bool IsEqualTo(QUAT q);  // exact comparison; any NaN gives false
};

VECTOR3D AddVectors(VECTOR3D a, VECTOR3D b);
VECTOR3D SubtractVectors(VECTOR3D a, VECTOR3D b);
VECTOR3D MultiplyVectors(VECTOR3D a, VECTOR3D b);
VECTOR3D DivideVectors(VECTOR3D a, VECTOR3D b);
VECTOR3D ScaleVector(VECTOR3D v, double s);          // in double, rounded once
double VectorDotProduct(VECTOR3D a, VECTOR3D b);      // summed in float
VECTOR3D VectorCrossProduct(VECTOR3D a, VECTOR3D b);  // right-handed: x × y = z
double VectorLength(VECTOR3D v);
double VectorLengthNOSQRT(VECTOR3D v);
double DistanceBetweenVectors(VECTOR3D a, VECTOR3D b);  // the squared distance
VECTOR3D NormalizeVector(VECTOR3D v);                   // zero vector gives NaNs
bool CompareVectors(VECTOR3D a, VECTOR3D b);            // exact; NaN never equal
VECTOR3D AngleBetweenVectors(VECTOR3D a, VECTOR3D b);   // rotation vector, degrees

MATRIX AddMatrix(MATRIX a, MATRIX b);
MATRIX SubtractMatrix(MATRIX a, MATRIX b);
MATRIX MultiplyMatrix(MATRIX a, MATRIX b);  // a·b: b acts on a point first
MATRIX TransposeMatrix(MATRIX m);
VECTOR3D MatrixInverseRotatePoint(MATRIX m, VECTOR3D p);  // transposed 3x3 times p
VECTOR3D MatrixTranslatePoint(MATRIX m, VECTOR3D p);
VECTOR3D MatrixInverseTranslatePoint(MATRIX m, VECTOR3D p);
VECTOR3D MatrixPointMultiply(MATRIX m, VECTOR3D p);  // rotate then translate; no w divide
MATRIX MatrixFromAngle(VECTOR3D angles);             // Euler angles in degrees
VECTOR3D AngleFromMatrix(MATRIX m);                  // each angle in [0, 360)
MATRIX MatrixAngleBetweenVectors(VECTOR3D a, VECTOR3D b);  // z axis from b towards a
MATRIX QuatToRotationMatrix(QUAT q);
void SaveMatrix(MATRIX m);  // appends m as text to "/Users/Shared/test.txt"

QUAT MultiplyQuats(QUAT a, QUAT b);  // Hamilton product a·b
QUAT InverseQuat(QUAT q);            // the conjugate
double QuatMagnitude(QUAT q);        // w² − x² − y² − z²
QUAT NormalizeQuat(QUAT q);          // divided by QuatMagnitude(q)
QUAT QuatFromMatrix(MATRIX m);
QUAT QuatSlerp(QUAT* from, QUAT* to, double t);  // neither input changes
QUAT RotationToQuat(VECTOR3D angles);            // Euler angles in degrees
QUAT AxisAndAngleToQuat(VECTOR3D axis, double angle);  // angle in radians

// Upper-left 3x3 block times p; translation and bottom row ignored. Inline:
// the effect's motion turns every glyph with it.
inline VECTOR3D MatrixRotatePoint(const MATRIX& m, VECTOR3D p) {
  double x = p.x, y = p.y, z = p.z;
  VECTOR3D r;
  r.x = static_cast<float>(m.m[0] * x + m.m[4] * y + m.m[8] * z);
  r.y = static_cast<float>(m.m[1] * x + m.m[5] * y + m.m[9] * z);
  r.z = static_cast<float>(m.m[2] * x + m.m[6] * y + m.m[10] * z);
  return r;
}

// The path SaveMatrix appends to.
extern const char* const kMatrixLogPath;
