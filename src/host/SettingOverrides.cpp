// SettingOverrides: the hack options' values for one run.

#include "host/SettingOverrides.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Every setting but "version" has exactly one option.
constexpr bool EveryKeyHasOneOption() {
  for (int key = 0; key < kSettingCount; ++key) {
    int n = 0;
    for (const SettingOption& o : kSettingOptions)
      if (o.setting == key) ++n;
    if (n != (key == kSettingVersion ? 0 : 1)) return false;
  }
  return true;
}
static_assert(EveryKeyHasOneOption(), "each setting but \"version\" needs one hack option");

bool ParseWhole(const std::string& text, int64_t low, int64_t high, int64_t* out) {
  if (text.empty() || text.size() > 19) return false;
  size_t start = text[0] == '-' ? 1 : 0;
  if (start == text.size() || text.find_first_not_of("0123456789", start) != std::string::npos)
    return false;
  errno = 0;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (errno || v < low || v > high) return false;
  *out = v;
  return true;
}

std::string WorkingFolder() {
  std::vector<char> buffer(4096);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE || buffer.size() >= (size_t{1} << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

// The folder a --folder value names, absolute and ending in "/", or "" with
// *error set.
std::string ResolveFolder(const std::string& value, std::string* error) {
  if (value.empty()) {
    *error = "expected a folder";
    return std::string();
  }
  std::string path = value;
  if (path[0] != '/') {
    std::string cwd = WorkingFolder();
    if (cwd.empty()) {
      *error = "the working folder is unknown";
      return std::string();
    }
    path = cwd + (cwd.back() == '/' ? "" : "/") + path;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    *error = std::string("no such folder: ") + std::strerror(errno);
    return std::string();
  }
  if (!S_ISDIR(st.st_mode)) {
    // xscreensaver's settings dialog chooses files: a picture stands for the
    // folder it lies in.
    size_t slash = path.rfind('/');
    path.resize(slash + 1);
  }
  if (path.back() != '/') path += '/';
  if (path.size() > kPicPathMaxText) {
    *error = "the folder's path is longer than 1024 bytes";
    return std::string();
  }
  return path;
}

}  // namespace

SettingOverrides* ProcessSettingOverrides() {
  static SettingOverrides overrides;
  return &overrides;
}

const SettingOption* FindSettingOption(const std::string& name, bool* off) {
  for (const SettingOption& o : kSettingOptions) {
    if (name == o.name) {
      *off = false;
      return &o;
    }
    if (o.offName && name == o.offName) {
      *off = true;
      return &o;
    }
  }
  return nullptr;
}

bool SetSettingOption(const SettingOption& o, bool off, const std::string& value,
                      SettingOverrides* overrides, std::string* error) {
  int64_t number = 0;
  switch (o.kind) {
    case OptionKind::Switch:
      number = off ? 0 : 1;
      break;
    case OptionKind::Number:
      if (!ParseWhole(value, o.low, o.high, &number)) {
        *error = "bad value '" + value + "' for " + o.name + " (expected a whole number from " +
                 std::to_string(o.low) + " to " + std::to_string(o.high) + ")";
        return false;
      }
      break;
    case OptionKind::Choice: {
      int found = -1;
      std::string words;
      for (int i = 0; i < o.choiceCount; ++i) {
        if (value == o.choices[i]) found = i;
        words += (i ? ", " : "") + std::string(o.choices[i]);
      }
      if (found < 0) {
        *error = "bad value '" + value + "' for " + o.name + " (expected " + words + ")";
        return false;
      }
      number = found;
      break;
    }
    case OptionKind::Folder: {
      std::string problem;
      std::string folder = ResolveFolder(value, &problem);
      if (folder.empty()) {
        *error = "bad value '" + value + "' for " + o.name + " (" + problem + ")";
        return false;
      }
      CopyPicPath(overrides->PicPath, folder.c_str());
      break;
    }
  }
  overrides->given[o.setting] = true;
  overrides->number[o.setting] = number;
  return true;
}

void ApplySettingOverrides(const SettingOverrides& v, SETTINGS* s, bool* mainMonitorOnly) {
  if (v.given[kSettingMainMonitorOnly]) *mainMonitorOnly = v.number[kSettingMainMonitorOnly] != 0;
  if (v.given[kSettingShowCaption]) s->SHOWCAPTION = v.number[kSettingShowCaption] != 0;
  if (v.given[kSettingMLFirst]) s->MLFIRST = v.number[kSettingMLFirst] != 0;
  if (v.given[kSettingCharSize]) {
    s->CHARSIZE = v.number[kSettingCharSize];
    s->fCHARSIZE = static_cast<float>(static_cast<double>(s->CHARSIZE) / 100.0);
  }
  if (v.given[kSettingCharType]) s->CHARTYPE = static_cast<int32_t>(v.number[kSettingCharType]);
  if (v.given[kSettingPicSize]) s->PIC_SIZE = v.number[kSettingPicSize];
  if (v.given[kSettingPicDelay]) s->PICDELAY = v.number[kSettingPicDelay];
  if (v.given[kSettingWholeLibrary]) s->WHOLELIBRARY = v.number[kSettingWholeLibrary] != 0;
  if (v.given[kSettingPicPath]) {
    CopyPicPath(s->PicPath, v.PicPath);
    AddFolderSeparator(s->PicPath);
  }
}

std::string DescribeSettings(const SETTINGS& s, bool mainMonitorOnly) {
  std::string out;
  for (const SettingOption& o : kSettingOptions) {
    std::string value;
    switch (o.setting) {
      case kSettingPicSize: value = std::to_string(s.PIC_SIZE); break;
      case kSettingCharSize: value = std::to_string(s.CHARSIZE); break;
      case kSettingPicDelay: value = std::to_string(s.PICDELAY); break;
      case kSettingCharType:
        value = s.CHARTYPE >= 0 && s.CHARTYPE < o.choiceCount ? o.choices[s.CHARTYPE]
                                                               : std::to_string(s.CHARTYPE);
        break;
      case kSettingPicPath: value = s.PicPath; break;
      case kSettingMLFirst: value = s.MLFIRST ? "on" : "off"; break;
      case kSettingShowCaption: value = s.SHOWCAPTION ? "on" : "off"; break;
      case kSettingMainMonitorOnly: value = mainMonitorOnly ? "on" : "off"; break;
      // Named only when on: without it a line reads as it always has.
      case kSettingWholeLibrary:
        if (!s.WHOLELIBRARY) continue;
        value = "on";
        break;
      default: continue;
    }
    if (!out.empty()) out += ", ";
    out += o.name + 2;  // without the dashes
    out += ' ';
    out += value;
  }
  return out;
}
