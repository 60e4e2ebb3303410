// Options: parsing the glymmer command line.

#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

bool ParseDouble(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text.c_str(), &end);
  if (errno || *end || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool ParseInt(const std::string& text, long long low, long long high, long long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno || *end || v < low || v > high) return false;
  *out = v;
  return true;
}

bool ParseSize(const std::string& text, int* width, int* height) {
  size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  long long w, h;
  if (!ParseInt(text.substr(0, x), 1, 16384, &w) || !ParseInt(text.substr(x + 1), 1, 16384, &h))
    return false;
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

bool ParseTimes(const std::string& text, std::vector<double>* times) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    double t;
    if (!ParseDouble(item, &t) || t < 0) return false;
    times->push_back(t);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return !times->empty();
}

}  // namespace

const char* UsageText() {
  return "Usage: glymmer [MODE] [OPTIONS]\n"
         "\n"
         "Glymmer shows your pictures as a mosaic of flying letters.\n"
         "\n"
         "Modes:\n"
         "  --render            render headless to PNG files (no display needed)\n"
         "  --configure         change the settings in the settings dialog\n"
         "  --help              show this text\n"
         "  --version           show the version\n"
         "\n"
         "Render options:\n"
         "  --size WxH          frame size (default 1920x1080)\n"
         "  --fps N             virtual frames per second (default 30)\n"
         "  --seconds S         length of the render in seconds (default 10)\n"
         "  --every K           write every K-th frame (default: one a second)\n"
         "  --at T[,T...]       write the frames at these times in seconds\n"
         "  --output DIR        folder for the numbered PNG files (default .)\n"
         "  --seed N            start the virtual clock at N seconds; the same seed\n"
         "                      and options give the same frames\n"
         "  --preview           draw as the small settings preview does\n"
         "  --quiet             no progress lines\n";
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasInlineValue = false;
    if (arg.rfind("--", 0) == 0) {
      size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
        hasInlineValue = true;
      }
    }
    auto needValue = [&](std::string* out) {
      if (hasInlineValue) {
        *out = value;
        return true;
      }
      if (i + 1 >= argc) {
        *error = "option " + arg + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    auto bad = [&](const std::string& v, const char* what) {
      *error = "bad value '" + v + "' for " + arg + " (" + what + ")";
      return false;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      o->showHelp = true;
    } else if (arg == "--version") {
      o->showVersion = true;
    } else if (arg == "--render") {
      o->mode = RunMode::Render;
    } else if (arg == "--configure") {
      o->mode = RunMode::Configure;
    } else if (arg == "--preview") {
      o->preview = true;
    } else if (arg == "--quiet") {
      o->quiet = true;
    } else if (arg == "--size") {
      if (!needValue(&v)) return false;
      if (!ParseSize(v, &o->width, &o->height)) return bad(v, "expected WIDTHxHEIGHT, 1 to 16384 each");
    } else if (arg == "--fps") {
      if (!needValue(&v)) return false;
      if (!ParseDouble(v, &o->fps) || o->fps < 1 || o->fps > 1000) return bad(v, "expected 1 to 1000");
    } else if (arg == "--seconds") {
      if (!needValue(&v)) return false;
      if (!ParseDouble(v, &o->seconds) || o->seconds < 0 || o->seconds > 31 * 24 * 3600.0)
        return bad(v, "expected a non-negative number of seconds");
    } else if (arg == "--every") {
      if (!needValue(&v)) return false;
      long long k;
      if (!ParseInt(v, 1, 1000000000, &k)) return bad(v, "expected a whole number from 1");
      o->every = static_cast<int>(k);
    } else if (arg == "--at") {
      if (!needValue(&v)) return false;
      if (!ParseTimes(v, &o->at)) return bad(v, "expected times in seconds separated by commas");
    } else if (arg == "--output") {
      if (!needValue(&v)) return false;
      if (v.empty()) return bad(v, "expected a folder");
      o->output = v;
    } else if (arg == "--seed") {
      if (!needValue(&v)) return false;
      if (!ParseDouble(v, &o->seed) || o->seed < 0 || o->seed > 4e9)
        return bad(v, "expected a number of seconds from 0 to 4000000000");
      o->seedGiven = true;
    } else {
      *error = "unknown option '" + std::string(argv[i]) + "' (see glymmer --help)";
      return false;
    }
  }
  return true;
}
