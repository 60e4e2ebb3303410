// GLStuff: view-frustum extraction and tests.

#include "maths/GLStuff.h"

#include "maths/Misc.h"

#include <GL/gl.h>

#include <cmath>

float frustum[6][4] = {};

namespace {

float Distance(int plane, VECTOR3D p) {
  const float* f = frustum[plane];
  return f[0] * p.x + f[1] * p.y + f[2] * p.z + f[3];
}

}  // namespace

void ExtractFrustum() {
  float proj[16], modl[16], clip[16];
  glGetFloatv(GL_PROJECTION_MATRIX, proj);
  glGetFloatv(GL_MODELVIEW_MATRIX, modl);
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r)
      clip[4 * c + r] = modl[4 * c] * proj[r] + modl[4 * c + 1] * proj[4 + r] +
                        modl[4 * c + 2] * proj[8 + r] + modl[4 * c + 3] * proj[12 + r];
  // Row k of clip is (clip[k], clip[4 + k], clip[8 + k], clip[12 + k]).
  static const int row[6] = {0, 0, 1, 1, 2, 2};
  static const float sign[6] = {-1, 1, 1, -1, -1, 1};
  for (int p = 0; p < 6; ++p) {
    for (int i = 0; i < 4; ++i) frustum[p][i] = clip[4 * i + 3] + sign[p] * clip[4 * i + row[p]];
    float length = std::sqrt(frustum[p][0] * frustum[p][0] + frustum[p][1] * frustum[p][1] +
                             frustum[p][2] * frustum[p][2]);
    for (int i = 0; i < 4; ++i) frustum[p][i] /= length;
  }
}

bool PointInFrustum(VECTOR3D p) {
  for (int i = 0; i < 6; ++i)
    if (Distance(i, p) <= 0) return false;
  return true;
}

bool SphereInFrustum(VECTOR3D centre, float radius) {
  for (int i = 0; i < 6; ++i)
    if (Distance(i, centre) <= -radius) return false;
  return true;
}

bool SphereInsideSinglePlaneFrustum(int plane, VECTOR3D centre, float radius) {
  return Distance(plane, centre) > -radius;
}

VECTOR3D PointAtEdgeOfFrustum(int plane, VECTOR3D p) {
  if (plane < 0 || plane > 5) return MakePoint(0, 0, 0);
  float a = frustum[plane][0], b = frustum[plane][1], c = frustum[plane][2], d = frustum[plane][3];
  if (plane <= 1) p.x = -((b * p.y + d) + c * p.z) / a;
  else if (plane <= 3) p.y = -((c * p.z + d) + a * p.x) / b;
  else p.z = -((b * p.y + d) + a * p.x) / c;
  return p;
}
