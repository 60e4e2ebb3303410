// GLStuff: the six clipping planes of the current OpenGL view volume, and
// point and sphere tests against them.
#pragma once

#include "maths/NiftyMaths.h"

// Planes (a, b, c, d) with unit normals pointing inside, in the order right,
// left, bottom, top, far, near. Zero until the first ExtractFrustum.
extern float frustum[6][4];

// Refills `frustum` from the current projection and model-view matrices; the
// GL context must be current.
void ExtractFrustum();

// Strictly inside all six planes (a point on a plane is outside).
bool PointInFrustum(VECTOR3D p);
// At least partly inside every plane (touching from outside is outside).
bool SphereInFrustum(VECTOR3D centre, float radius);
// The sphere test against one plane; `plane` must be 0 to 5.
bool SphereInsideSinglePlaneFrustum(int plane, VECTOR3D centre, float radius);
// p moved along one axis onto the plane; (0, 0, 0) for an index outside 0..5.
VECTOR3D PointAtEdgeOfFrustum(int plane, VECTOR3D p);
