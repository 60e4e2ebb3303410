// make-hack-description: writes glymmer.xml, the description that
// xscreensaver's settings dialog reads to offer the hack's options, from the
// same settings table that glymmer's option parser and the settings loader
// follow, so that names, defaults and ranges cannot drift apart.
//
//   make-hack-description OUTPUT.xml

#include "host/SettingsTable.h"

#include <cstdio>
#include <string>

namespace {

// The id xscreensaver keeps an option's value under: the option's name
// without dashes ("--glyph-size" gives "glyphsize").
std::string Id(const char* name) {
  std::string id;
  for (const char* p = name; *p; ++p)
    if (*p != '-') id += *p;
  return id;
}

// Attribute text: the labels are plain ASCII, but quote what XML needs.
std::string Escape(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    switch (*p) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += *p;
    }
  }
  return out;
}

std::string Option(const SettingOption& o) {
  const int64_t def = kSettingKeys[o.setting].defaultNumber;
  std::string id = Id(o.name);
  std::string out;
  switch (o.kind) {
    case OptionKind::Number:
      out = "  <number id=\"" + id + "\" type=\"" + o.widget + "\" arg=\"" + o.name + " %\"\n" +
            "          _label=\"" + Escape(o.label) + "\"";
      if (o.lowLabel)
        out += std::string(" _low-label=\"") + Escape(o.lowLabel) + "\" _high-label=\"" +
               Escape(o.highLabel) + "\"";
      out += "\n          low=\"" + std::to_string(o.low) + "\" high=\"" + std::to_string(o.high) +
             "\" default=\"" + std::to_string(def) + "\"/>\n";
      break;
    case OptionKind::Choice:
      // The option without an argument is the default, as the dialog expects.
      out = "  <select id=\"" + id + "\">\n";
      for (int i = 0; i < o.choiceCount; ++i) {
        out += std::string("    <option id=\"") + o.choices[i] + "\" _label=\"" +
               Escape(o.choiceLabels[i]) + "\"";
        if (i != def) out += std::string(" arg-set=\"") + o.name + " " + o.choices[i] + "\"";
        out += "/>\n";
      }
      out += "  </select>\n";
      break;
    case OptionKind::Folder:
      out = "  <file id=\"" + id + "\" _label=\"" + Escape(o.label) + "\" arg=\"" + o.name +
            " %\"/>\n";
      break;
    case OptionKind::Switch:
      // The dialog passes an option only when the box differs from its default.
      out = "  <boolean id=\"" + id + "\" _label=\"" + Escape(o.label) + "\" " +
            (def ? std::string("arg-unset=\"") + o.offName : std::string("arg-set=\"") + o.name) +
            "\"/>\n";
      break;
  }
  return out;
}

std::string Description() {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
      "\n"
      "<screensaver name=\"glymmer\" _label=\"Glymmer\" gl=\"yes\">\n"
      "\n"
      "  <command arg=\"--root\"/>\n"
      "\n";
  bool switches = false;
  for (const SettingOption& o : kSettingOptions) {
    if (o.kind == OptionKind::Switch && !switches) {
      xml += "\n";
      switches = true;
    }
    xml += Option(o);
  }
  xml +=
      "  <boolean id=\"showfps\" _label=\"Show frame rate\" arg-set=\"--fps\"/>\n"
      "\n"
      "  <_description>\n"
      "Thousands of small letters fly together from a deep cloud and settle into\n"
      "a flat sheet that shows a section of a picture as a mosaic of letters;\n"
      "the letters spell the picture's file name. The sheet drifts, now and\n"
      "then the letters tumble as a ball, and after a while a new picture comes\n"
      "from the picture folder (JPEG, GIF and PNG files), or from the whole\n"
      "photo library under it (sub-folders, and WebP, HEIC, AVIF, TIFF and BMP\n"
      "too).\n"
      "\n"
      "Options left at their defaults here take their values from Glymmer's\n"
      "own settings: run \"glymmer --configure\" to change those.\n"
      "  </_description>\n"
      "</screensaver>\n";
  return xml;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-hack-description OUTPUT.xml\n");
    return 2;
  }
  // Written whole or not at all: a temporary file renamed over the output.
  std::string temporary = std::string(argv[1]) + ".part";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) {
    std::perror(temporary.c_str());
    return 1;
  }
  std::string xml = Description();
  bool ok = std::fwrite(xml.data(), 1, xml.size(), f) == xml.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(temporary.c_str(), argv[1]) != 0) {
    std::perror(argv[1]);
    std::remove(temporary.c_str());
    return 1;
  }
  return 0;
}
