// MatrixRotatePoint and Rotate over 15000 points per call (the glyph count of
// the default mosaic); reported per point.

#include <benchmark/benchmark.h>

#include "maths/Misc.h"
#include "maths/NiftyMaths.h"

#include <cstdlib>
#include <vector>

namespace {

constexpr int kPoints = 15000;

std::vector<VECTOR3D> MakePoints() {
  std::vector<VECTOR3D> points(kPoints);
  std::srand(1);
  for (VECTOR3D& p : points)
    p = MakePoint((std::rand() % 200 - 100) / 10.0f, (std::rand() % 200 - 100) / 10.0f,
                  (std::rand() % 200 - 100) / 10.0f);
  return points;
}

// Reports the time per point as a counter beside the time per call.
void CountPerPoint(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kPoints);
  state.counters["ns_per_point"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kPoints,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_MatrixRotatePoint(benchmark::State& state) {
  std::vector<VECTOR3D> points = MakePoints();
  MATRIX r = MatrixFromAngle(MakePoint(0.2f, -0.3f, 0.1f));
  for (auto _ : state) {
    for (VECTOR3D& p : points) p = MatrixRotatePoint(r, p);
    benchmark::DoNotOptimize(points.data());
    benchmark::ClobberMemory();
  }
  CountPerPoint(state);
}
BENCHMARK(BM_MatrixRotatePoint);

void BM_Rotate(benchmark::State& state) {
  std::vector<VECTOR3D> points = MakePoints();
  for (auto _ : state) {
    for (VECTOR3D& p : points) Rotate(&p, 0.2f, -0.3f, 0.1f);
    benchmark::DoNotOptimize(points.data());
    benchmark::ClobberMemory();
  }
  CountPerPoint(state);
}
BENCHMARK(BM_Rotate);

void BM_RotateZOnly(benchmark::State& state) {
  // The flat phase turns each target about z only.
  std::vector<VECTOR3D> points = MakePoints();
  for (auto _ : state) {
    for (VECTOR3D& p : points) Rotate(&p, 0, 0, 37.5f);
    benchmark::DoNotOptimize(points.data());
    benchmark::ClobberMemory();
  }
  CountPerPoint(state);
}
BENCHMARK(BM_RotateZOnly);

}  // namespace

BENCHMARK_MAIN();
