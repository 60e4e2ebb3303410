// Misc: small shared helpers.

#include "maths/Misc.h"

#include <cmath>
#include <cstdio>

int fCount = 0;
double frameRate = 0.0;
double lastcountTime = 0.0;
int lastcountFrame = 0;

const char* const kDebugLogPath = "/Users/Shared/debug.txt";

double clamp(double value, double low, double high) {
  while (low > value) value += high;
  while (value >= high) value -= high;
  return value;
}

COLOUR MakeColour(float r, float g, float b, float a) { return COLOUR{r, g, b, a}; }

VECTOR3D MakePoint(float x, float y, float z) {
  VECTOR3D v;
  v.x = x;
  v.y = y;
  v.z = z;
  return v;
}

point2d Make2DPoint(float x, float y) { return point2d{x, y}; }

static float ToRadians(float degrees) {
  return static_cast<float>(static_cast<double>(degrees) * 3.141592653589793 / 180.0);
}

void Rotate(VECTOR3D* v, float ax, float ay, float az) {
  if (ax == 0.0f && ay == 0.0f && az == 0.0f) return;
  float rx = ToRadians(ax), ry = ToRadians(ay), rz = ToRadians(az);
  if (rx != 0.0f) {
    double c = std::cos(static_cast<double>(rx)), s = std::sin(static_cast<double>(rx));
    double y = v->y, z = v->z;
    v->y = static_cast<float>(c * y - s * z);
    v->z = static_cast<float>(s * y + c * z);
  }
  if (ry != 0.0f) {
    double c = std::cos(static_cast<double>(ry)), s = std::sin(static_cast<double>(ry));
    double x = v->x, z = v->z;
    v->x = static_cast<float>(c * x + s * z);
    v->z = static_cast<float>(c * z - s * x);
  }
  if (rz != 0.0f) {
    double c = std::cos(static_cast<double>(rz)), s = std::sin(static_cast<double>(rz));
    double x = v->x, y = v->y;
    v->x = static_cast<float>(c * x - s * y);
    v->y = static_cast<float>(s * x + c * y);
  }
}

VECTOR3D CalculateNormal(VECTOR3D a, VECTOR3D b, VECTOR3D c) {
  return VectorCrossProduct(SubtractVectors(a, b), SubtractVectors(b, c));
}

void CalcFrameRate(double now) {
  if (now < 0.25) return;
  if (now > lastcountTime + 0.25) {
    frameRate = static_cast<double>(fCount - lastcountFrame) / (now - lastcountTime);
    lastcountTime = now;
    lastcountFrame = fCount;
  }
}

static void AppendDebugLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

#include <cstdarg>
static void AppendDebugLine(const char* format, ...) {
  FILE* file = std::fopen(kDebugLogPath, "a");
  if (!file) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(file, format, args);
  va_end(args);
  std::fclose(file);
}

void DEBUGp3d(VECTOR3D v) { AppendDebugLine("%f,%f,%f\n", v.x, v.y, v.z); }
void DEBUGstr(const char* text) { AppendDebugLine("%s\n", text); }
void DEBUG(double value) { AppendDebugLine("%f\n", value); }

void ERRORBOX(const char*) {}
void ERRORCLOSE(const char*) {}
