// Misc: small shared helpers: wrapping, makers, Euler rotation, a triangle
// normal, the frame-rate sampler and the debug loggers.
#pragma once

#include "maths/NiftyMaths.h"

struct COLOUR {
  float r, g, b, a;
};

// Frame-rate sampler state, one for the whole process, all zero at load.
extern int fCount;             // frames counted by whoever draws
extern double frameRate;       // frames per second at the last sample
extern double lastcountTime;   // time of the last sample, seconds
extern int lastcountFrame;     // fCount at the last sample

// The file the debug loggers append to.
extern const char* const kDebugLogPath;

// Wraps value into [low, high) by steps of `high` (not high − low): while
// low > value add high, then while value >= high subtract high. NaN passes.
double clamp(double value, double low, double high);

COLOUR MakeColour(float r, float g, float b, float a);
VECTOR3D MakePoint(float x, float y, float z);
point2d Make2DPoint(float x, float y);

// Turns *v in place about the world x, then y, then z axis by the given angles
// in degrees (right-handed). Three exact zeros leave *v bit-for-bit alone, and
// an axis whose angle is zero is skipped.
void Rotate(VECTOR3D* v, float ax, float ay, float az);

// (a − b) × (b − c), not normalised: +z for a counter-clockwise triangle.
VECTOR3D CalculateNormal(VECTOR3D a, VECTOR3D b, VECTOR3D c);

// Refreshes frameRate from fCount at most every quarter second of `now`.
void CalcFrameRate(double now);

// Append one line to kDebugLogPath; write nothing if it cannot be opened.
void DEBUGp3d(VECTOR3D v);
void DEBUGstr(const char* text);
void DEBUG(double value);

// Error hooks that do nothing.
void ERRORBOX(const char* message);
void ERRORCLOSE(const char* message);
