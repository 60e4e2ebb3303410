// Presentation against an ideal display: the times at which one surface of
// a Wayland client committed its frames, from the client's WAYLAND_DEBUG=1
// log, replayed against a display that refreshes exactly 60 times a second
// (or HERTZ) and shows at each refresh the last frame committed before it. Prints, a
// second, the refreshes that show a new frame, the refreshes that show the
// frame before again (a visible hitch in smooth motion, unless every frame
// is shown as long), the frames that no refresh showed (drawn in vain), and
// the frames shown for another number of refreshes than the frame before
// (uneven: judder, where motion that should glide jerks). The display's
// phase is the one that
// suits the run best (fewest repeats, then fewest drops), as a display the
// run kept in step with would have. Also the time from one frame to the
// next, on average and its standard deviation. bench/pacing.sh makes the
// logs.
//
//   bench_pacing LOG [SKIP_SECONDS [HERTZ]]   (default 2: start-up is left out; 60)
//
// The surface is the one with the most frames (commits with a new buffer).

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

struct Replay {
  double news = 0, repeats = 0, drops = 0, uneven = 0;  // a second
};

// Shows `frames` (seconds, ascending) on a display refreshing at `phase` +
// k / hertz over [from, to).
Replay Show(const std::vector<double>& frames, double from, double to, double hertz,
            double phase) {
  const double period = 1 / hertz;
  long shown = -1, next = 0, news = 0, repeats = 0, seen = 0, uneven = 0;
  long held = 0, heldBefore = 0;  // refreshes the frame shown, and the one before, stayed
  const long count = static_cast<long>(frames.size());
  double refresh = from + phase;
  long firstInside = 0;
  while (firstInside < count && frames[firstInside] < from) ++firstInside;
  for (; refresh < to; refresh += period) {
    long latest = shown;
    while (next < count && frames[next] < refresh) latest = next++;
    if (latest < firstInside) continue;  // nothing of the span shown yet
    if (latest == shown) {
      ++repeats;
      ++held;
    } else {
      ++news;
      ++seen;
      if (heldBefore && held != heldBefore) ++uneven;
      heldBefore = shown >= firstInside ? held : 0;
      held = 1;
    }
    shown = latest;
  }
  long inside = 0;
  for (long i = firstInside; i < count && frames[i] < to; ++i) ++inside;
  Replay r;
  const double seconds = to - from;
  r.news = static_cast<double>(news) / seconds;
  r.repeats = static_cast<double>(repeats) / seconds;
  r.drops = static_cast<double>(inside - seen) / seconds;
  r.uneven = static_cast<double>(uneven) / seconds;
  return r;
}

// "[1234567.890] ..." in milliseconds of a 32-bit microsecond clock.
bool Stamp(const std::string& line, double* ms) {
  if (line.size() < 3 || line[0] != '[') return false;
  *ms = std::atof(line.c_str() + 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_pacing LOG [SKIP_SECONDS [HERTZ]]\n");
    return 2;
  }
  const double skip = argc > 2 ? std::atof(argv[2]) : 2;
  const double hertz = argc > 3 ? std::atof(argv[3]) : 60;
  if (!(hertz > 0)) {
    std::fprintf(stderr, "bench_pacing: HERTZ must be above 0\n");
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::fprintf(stderr, "bench_pacing: cannot read %s\n", argv[1]);
    return 1;
  }
  // Frame times of every surface, in seconds, the stamps' wrap undone.
  std::map<std::string, std::vector<double>> frames;
  std::map<std::string, bool> attached;
  std::string line;
  double last = -1, wraps = 0;
  while (std::getline(in, line)) {
    double ms = 0;
    if (!Stamp(line, &ms)) continue;
    if (last >= 0 && ms < last - 2147483.648) wraps += 4294967.296;
    last = ms;
    size_t at = line.find("-> wl_surface@");
    if (at == std::string::npos) continue;
    size_t dot = line.find('.', at);
    if (dot == std::string::npos) continue;
    std::string surface = line.substr(at + 3, dot - at - 3);
    if (line.compare(dot, 8, ".attach(") == 0) attached[surface] = true;
    if (line.compare(dot, 9, ".commit()") == 0) {
      if (attached[surface]) frames[surface].push_back((ms + wraps) / 1000);
      attached[surface] = false;
    }
  }
  const std::vector<double>* busiest = nullptr;
  for (const auto& f : frames)
    if (!busiest || f.second.size() > busiest->size()) busiest = &f.second;
  if (!busiest || busiest->size() < 10) {
    std::fprintf(stderr, "bench_pacing: %s holds too few frames\n", argv[1]);
    return 1;
  }
  const std::vector<double>& times = *busiest;
  const double from = times.front() + skip, to = times.back();
  if (!(to - from > 1)) {
    std::fprintf(stderr, "bench_pacing: the run is too short\n");
    return 1;
  }
  long committed = 0;
  double sum = 0, squares = 0, previous = -1;
  long intervals = 0;
  for (double t : times) {
    if (t < from || t >= to) continue;
    ++committed;
    if (previous >= 0) {
      sum += t - previous;
      squares += (t - previous) * (t - previous);
      ++intervals;
    }
    previous = t;
  }
  const double mean = intervals ? sum / static_cast<double>(intervals) : 0;
  const double spread =
      intervals ? std::sqrt(std::max(0.0, squares / static_cast<double>(intervals) - mean * mean)) : 0;
  Replay best;
  bool first = true;
  for (int i = 0; i < 200; ++i) {
    Replay r = Show(times, from, to, hertz, i / 200.0 / hertz);
    if (first || r.repeats < best.repeats || (r.repeats == best.repeats && r.drops < best.drops))
      best = r;
    first = false;
  }
  std::printf("%5.1f frames/s, %5.2f ms apart (deviation %4.2f ms); at %.0f Hz: %4.1f new, %4.1f "
              "repeated, %4.1f dropped, %4.1f uneven\n",
              static_cast<double>(committed) / (to - from), 1000 * mean, 1000 * spread, hertz,
              best.news, best.repeats, best.drops, best.uneven);
  return 0;
}
