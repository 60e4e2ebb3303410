// Options: parsing the glymmer command line.

#include "Options.h"

#include <cctype>
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

bool IsHackOption(const std::string& arg) {
  for (const char* name : {"-root", "--root", "-window-id", "--window-id"}) {
    std::string n = name;
    if (arg == n || arg.rfind(n + "=", 0) == 0) return true;
  }
  return false;
}

bool ParseOffset(const std::string& text, size_t* pos, int* value, bool* negative) {
  if (*pos >= text.size() || (text[*pos] != '+' && text[*pos] != '-')) return false;
  *negative = text[*pos] == '-';
  size_t start = ++*pos;
  while (*pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9') ++*pos;
  long long v;
  if (!ParseInt(text.substr(start, *pos - start), 0, 1000000, &v)) return false;
  *value = static_cast<int>(v);
  return true;
}

// The settings part of --help, from the table the options are parsed by.
std::string SettingsUsage() {
  std::string out;
  for (const SettingOption& o : kSettingOptions) {
    std::string head = std::string("  ") + o.name;
    // The dialog's label, in the lower case of the lines around it.
    std::string what = o.label;
    if (what.size() > 1 && std::isupper(static_cast<unsigned char>(what[0])) &&
        !std::isupper(static_cast<unsigned char>(what[1])))
      what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
    int64_t def = kSettingKeys[o.setting].defaultNumber;
    switch (o.kind) {
      case OptionKind::Number:
        head += " N";
        what += ", " + std::to_string(o.low) + " to " + std::to_string(o.high) + " (default " +
                std::to_string(def) + ")";
        break;
      case OptionKind::Choice:
        head += " WORD";
        what += ": ";
        for (int i = 0; i < o.choiceCount; ++i) what += std::string(i ? ", " : "") + o.choices[i];
        what += std::string(" (default ") + o.choices[def] + ")";
        break;
      case OptionKind::Folder:
        head += " PATH";
        what += "; a picture file stands for its folder";
        break;
      case OptionKind::Switch:
        head += std::string(", ") + o.offName;
        what += def ? ", or not (default: on)" : ", or not (default: off)";
        break;
    }
    if (head.size() > 21) {
      out += head + "\n";
      head.clear();
    }
    head.resize(22, ' ');
    out += head + what + "\n";
  }
  return out;
}

}  // namespace

bool ParseWindowId(const std::string& text, unsigned long* id) {
  if (text.empty() || text.size() > 18) return false;
  std::string digits = text;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
    base = 16;
  } else if (digits.find_first_not_of("0123456789") != std::string::npos) {
    base = 16;
  }
  const char* allowed = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
  if (digits.empty() || digits.find_first_not_of(allowed) != std::string::npos) return false;
  errno = 0;
  unsigned long long v = std::strtoull(digits.c_str(), nullptr, base);
  if (errno || v == 0 || v > 0xFFFFFFFFull) return false;
  *id = static_cast<unsigned long>(v);
  return true;
}

bool ParseGeometry(const std::string& text, Geometry* g) {
  Geometry out;
  size_t pos = 0;
  if (pos < text.size() && text[pos] == '=') ++pos;
  if (pos < text.size() && text[pos] != '+' && text[pos] != '-') {
    size_t end = text.find_first_of("+-", pos);
    std::string size = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (!ParseSize(size, &out.width, &out.height)) return false;
    out.hasSize = true;
    pos = end == std::string::npos ? text.size() : end;
  }
  if (pos < text.size()) {
    if (!ParseOffset(text, &pos, &out.x, &out.xFromRight) ||
        !ParseOffset(text, &pos, &out.y, &out.yFromBottom) || pos != text.size())
      return false;
    out.hasPosition = true;
  }
  if (!out.hasSize && !out.hasPosition) return false;
  *g = out;
  return true;
}

std::string UsageText() {
  std::string text =
      "Usage: glymmer [MODE] [OPTIONS]\n"
         "\n"
         "Glymmer shows your pictures as a mosaic of flying letters.\n"
         "Every option may be written with one dash or two (-root, --root).\n"
         "\n"
         "Modes:\n"
         "  (none)              a window, where a display is set (Escape or closing ends it)\n"
         "  --window            the same\n"
         "  --fullscreen        every monitor, one borderless window each; a key, a click\n"
         "                      or moving the pointer ends it\n"
         "  --saver             Wayland: cover every output above panels and windows, as\n"
         "                      an idle tool starts a screen saver (swayidle timeout 300\n"
         "                      'glymmer --saver'); input ends it, outputs may come and go\n"
         "  --preview           a small window drawn as the settings preview is\n"
         "  -root               as an xscreensaver hack: draw into the window named by\n"
         "                      XSCREENSAVER_WINDOW, or the root window; ends on SIGTERM\n"
         "  -window-id ID       as an xscreensaver hack, into window ID (hex or decimal);\n"
         "                      wins over -root\n"
         "  --idle              the screen saver of this session: watch it, and start the\n"
         "                      saver once it has been idle for the stored delay (5\n"
         "                      minutes unless changed), again after each return of\n"
         "                      the user; see Idle watcher options\n"
         "  --render            render headless to PNG files (no display needed)\n"
         "  --configure         change the settings in the settings dialog, and whether\n"
         "                      Glymmer starts itself after some idle minutes (its last\n"
         "                      row: the delay, and a switch for the autostart entry)\n"
         "  --help              show this text\n"
         "  --version           show the version\n"
         "\n"
         "On-screen options:\n"
         "  --backend B         x11 or wayland; by default Wayland where WAYLAND_DISPLAY\n"
         "                      is set, else X11 where DISPLAY is (a hack is always X11)\n"
         "  --main-output NAME  the monitor that counts as main (DP-1, HDMI-A-1); by\n"
         "                      default the primary one (X11), the first one (Wayland)\n"
         "  --detach            once the views are up, go on in the background and let\n"
         "                      the command end (0: shown, 1: could not start), so an\n"
         "                      idle tool that waits for its commands is not held up;\n"
         "                      then logs to $XDG_RUNTIME_DIR/glymmer.log with --verbose\n"
         "  --shown-fd FD       write one byte to FD once every view shows its first\n"
         "                      frame (the idle watcher learns so when its saver is up)\n"
         "  --size WxH          window size (default 960x540, the preview 320x200)\n"
         "  --geometry G        window size and place, as X writes it: WxH+X+Y\n"
         "  --fps               show the frame rate; --no-fps hides it\n"
         "  --seconds S         end after S seconds (not as a hack)\n"
         "  --verbose           report the resource folder, each view's settings and\n"
         "                      set-up, its frame rate and CPU time, and the picture\n"
         "                      library's listings and folders it cannot read\n"
         "  -visual V, -install, -noinstall, -mono\n"
         "                      accepted from xscreensaver; Glymmer always draws in\n"
         "                      colour with the window's own visual\n"
         "\n"
         "Idle watcher options:\n"
         "  --after S           start the saver after S seconds of inactivity, 1 to\n"
         "                      86400, instead of the stored delay\n"
         "  --verbose           report the idle source, each start and end of the saver\n"
         "  The saver covers every output above panels (--saver) where the compositor\n"
         "  offers a layer shell, else every monitor (--fullscreen); the on-screen and\n"
         "  setting options go on to it. A second watcher on a session is refused.\n"
         "\n"
         "Settings for this run (each wins over the stored preference, which stays as\n"
         "it is; xscreensaver's settings dialog passes them to the hack):\n"
         "%SETTINGS%"
         "\n"
         "Render options:\n"
         "  --size WxH          frame size (default 1920x1080)\n"
         "  --fps N             virtual frames per second, 1 to 240 (default 30)\n"
         "  --seconds S         length of the render in seconds (default 10)\n"
         "  --every K           write every K-th frame (default: one a second)\n"
         "  --at T[,T...]       write the frames at these times in seconds\n"
         "  --output DIR        folder for the numbered PNG files (default .)\n"
         "  --seed N            start the virtual clock at N seconds; the same seed\n"
         "                      and options give the same frames\n"
         "  --preview           draw as the small settings preview does\n"
         "  --quiet             no progress lines\n"
         "  --verbose           report the resource folder, the settings used and\n"
         "                      the picture library's listings\n";
  size_t at = text.find("%SETTINGS%");
  text.replace(at, 10, SettingsUsage());
  return text;
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
  bool hack = false;
  for (int i = 1; i < argc; ++i)
    if (IsHackOption(argv[i])) hack = true;
  // In the hack mode a problem is reported and passed over: a daemon counts a
  // hack that exits by itself as crashed.
  auto fail = [&](const std::string& message) {
    if (!hack) {
      *error = message;
      return false;
    }
    o->warnings.push_back(message);
    return true;
  };

  for (int i = 1; i < argc; ++i) {
    // The words of this option, once it is parsed, go on to the idle
    // watcher's saver unless they are the watcher's own or choose a mode.
    struct PassOn {
      char** argv;
      int first;
      const int& last;
      bool keep = true;
      std::vector<std::string>* out;
      ~PassOn() {
        if (keep)
          for (int k = first; k <= last; ++k) out->push_back(argv[k]);
      }
    } passOn{argv, i, i, true, &o->saverArguments};
    std::string arg = argv[i];
    // One spelling for the comparisons below: two dashes.
    if (arg.size() > 2 && arg[0] == '-' && arg[1] != '-') arg = "-" + arg;
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
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    auto missing = [&]() { return fail("option " + arg + " needs a value"); };
    auto bad = [&](const std::string& v, const char* what) {
      return fail("bad value '" + v + "' for " + arg + " (" + what + ")");
    };
    std::string v;
    // The option's whole-number value, `lowest` to `highest`: 1 with *n set;
    // otherwise the problem is said, and 0 goes on with the next argument (a
    // hack warns and goes on), -1 ends the parse.
    auto wholeValue = [&](long long lowest, long long highest, const char* expected, long long* n) {
      if (!needValue(&v)) return missing() ? 0 : -1;
      if (!ParseInt(v, lowest, highest, n)) return bad(v, expected) ? 0 : -1;
      return 1;
    };
    for (const char* own : {"--render", "--window", "--fullscreen", "--saver", "--preview",
                            "--detach", "--configure", "--root", "--window-id", "--idle",
                            "--after", "--shown-fd"})
      if (arg == own) passOn.keep = false;
    if (arg == "--help" || arg == "-h") {
      o->showHelp = true;
    } else if (arg == "--version") {
      o->showVersion = true;
    } else if (arg == "--render") {
      o->mode = RunMode::Render;
    } else if (arg == "--window") {
      o->mode = RunMode::Window;
    } else if (arg == "--fullscreen") {
      o->mode = RunMode::FullScreen;
    } else if (arg == "--saver") {
      o->mode = RunMode::Saver;
    } else if (arg == "--detach") {
      o->detach = true;
    } else if (arg == "--idle") {
      o->mode = RunMode::Idle;
    } else if (arg == "--shown-fd") {
      long long fd;
      int got = wholeValue(0, 65535, "expected a file descriptor", &fd);
      if (got < 0) return false;
      if (got > 0) o->shownFd = static_cast<int>(fd);
    } else if (arg == "--after") {
      long long seconds;
      int got = wholeValue(1, 86400, "expected whole seconds, 1 to 86400", &seconds);
      if (got < 0) return false;
      if (got > 0) {
        o->afterSeconds = static_cast<int>(seconds);
        o->afterGiven = true;
      }
    } else if (arg == "--backend") {
      if (!needValue(&v)) {
        if (!missing()) return false;
        continue;
      }
      if (v == "x11" || v == "X11") {
        o->backend = DisplayBackend::kX11;
      } else if (v == "wayland" || v == "Wayland") {
        o->backend = DisplayBackend::kWayland;
      } else {
        if (!bad(v, "expected x11 or wayland")) return false;
        continue;
      }
      o->backendGiven = true;
    } else if (arg == "--main-output") {
      if (!needValue(&v)) {
        if (!missing()) return false;
        continue;
      }
      if (v.empty() || v.size() > 63) {
        if (!bad(v, "expected an output's name")) return false;
        continue;
      }
      o->mainOutput = v;
    } else if (arg == "--configure") {
      o->mode = RunMode::Configure;
    } else if (arg == "--preview") {
      o->preview = true;
    } else if (arg == "--root") {
      o->root = true;
    } else if (arg == "--window-id") {
      if (!needValue(&v)) {
        if (!missing()) return false;
        continue;
      }
      if (!ParseWindowId(v, &o->windowId)) {
        if (!bad(v, "expected a window id, hexadecimal or decimal")) return false;
        continue;
      }
      o->windowIdGiven = true;
    } else if (arg == "--quiet") {
      o->quiet = true;
    } else if (arg == "--verbose") {
      o->verbose = true;
    } else if (arg == "--no-fps") {
      o->showFps = false;
    } else if (arg == "--install" || arg == "--noinstall" || arg == "--mono") {
      // Colormaps and monochrome are for displays this program never meets.
    } else if (arg == "--visual") {
      // The window's own visual is always used.
      if (!needValue(&v) && !missing()) return false;
    } else if (arg == "--geometry") {
      if (!needValue(&v)) {
        if (!missing()) return false;
        continue;
      }
      if (!ParseGeometry(v, &o->geometry) && !bad(v, "expected WIDTHxHEIGHT+X+Y")) return false;
    } else if (arg == "--size") {
      if (!needValue(&v)) {
        if (!missing()) return false;
        continue;
      }
      if (!ParseSize(v, &o->width, &o->height)) {
        if (!bad(v, "expected WIDTHxHEIGHT, 1 to 16384 each")) return false;
        continue;
      }
      o->sizeGiven = true;
    } else if (arg == "--fps") {
      // With a number it is the render's frame rate; alone it shows the
      // frame rate on screen, as xscreensaver's hacks do.
      double rate = 0;
      bool numberFollows = !hasInlineValue && i + 1 < argc && ParseDouble(argv[i + 1], &rate);
      if (!hasInlineValue && !numberFollows) {
        o->showFps = true;
        continue;
      }
      needValue(&v);
      // A view steps at most 60 times a second; faster, frames are drawn
      // between steps, as on a display that refreshes as often.
      if (!ParseDouble(v, &o->fps) || o->fps < 1 || o->fps > 240) {
        o->fps = 30;
        if (!bad(v, "expected 1 to 240")) return false;
      }
    } else if (arg == "--seconds") {
      if (!needValue(&v)) {
        if (!missing()) return false;
        continue;
      }
      if (!ParseDouble(v, &o->seconds) || o->seconds < 0 || o->seconds > 31 * 24 * 3600.0) {
        o->seconds = 10;
        if (!bad(v, "expected a non-negative number of seconds")) return false;
        continue;
      }
      o->secondsGiven = true;
    } else if (arg == "--every") {
      long long k;
      int got = wholeValue(1, 1000000000, "expected a whole number from 1", &k);
      if (got < 0) return false;
      if (got > 0) o->every = static_cast<int>(k);
    } else if (arg == "--at") {
      if (!needValue(&v)) {
        if (!missing()) return false;
        continue;
      }
      std::vector<double> times;
      if (!ParseTimes(v, &times)) {
        if (!bad(v, "expected times in seconds separated by commas")) return false;
        continue;
      }
      o->at.insert(o->at.end(), times.begin(), times.end());
    } else if (arg == "--output") {
      if (!needValue(&v)) {
        if (!missing()) return false;
        continue;
      }
      if (v.empty()) {
        if (!bad(v, "expected a folder")) return false;
        continue;
      }
      o->output = v;
    } else if (arg == "--seed") {
      if (!needValue(&v)) {
        if (!missing()) return false;
        continue;
      }
      if (!ParseDouble(v, &o->seed) || o->seed < 0 || o->seed > 4e9) {
        o->seed = 0;
        if (!bad(v, "expected a number of seconds from 0 to 4000000000")) return false;
        continue;
      }
      o->seedGiven = true;
    } else if (bool off = false; const SettingOption* setting = FindSettingOption(arg, &off)) {
      // The settings for this run; each wins over the stored preference.
      if (setting->kind == OptionKind::Switch) {
        if (hasInlineValue) {
          if (!fail("option " + arg + " takes no value")) return false;
          continue;
        }
      } else if (!needValue(&v)) {
        if (!missing()) return false;
        continue;
      }
      std::string problem;
      if (!SetSettingOption(*setting, off, v, &o->overrides, &problem)) {
        if (!fail(problem)) return false;
        continue;
      }
      o->settingsGiven = true;
    } else {
      if (!fail("unknown option '" + std::string(argv[i]) + "' (see glymmer --help)")) return false;
    }
  }
  // The daemon's settings preview appends -window-id to a command line that
  // already says -root; either makes this a hack.
  if (o->root || o->windowIdGiven || hack) o->mode = RunMode::Hack;
  return true;
}
