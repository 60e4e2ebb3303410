// SETTINGS: the user's choices for the effect, as one plain record, and their
// loading from the preference store.
#pragma once

#include <string>

#include <cstddef>
#include <cstdint>

struct SETTINGS {
  bool SHOWCAPTION = true;   // caption naming each new picture
  int64_t PICDELAY = 120;    // seconds a picture stays at least
  int64_t PIC_SIZE = 15000;  // number of glyphs
  int64_t CHARSIZE = 20;     // half the glyph side, hundredths of a scene unit
  float fCHARSIZE = 0.2f;    // CHARSIZE / 100
  int32_t CHARTYPE = 0;      // 0 as written, 1 upper case, 2 lower case
  bool MLFIRST = true;       // start with the built-in first picture
  char PicPath[1025] = {};   // picture folder, ends in "/" once loaded
  // The program's own setting, beside the module's (store "glymmer"): the
  // whole library under PicPath, in every photo format.
  bool WHOLELIBRARY = false;
};

// Text bytes a PicPath holds at most; the terminator comes on top.
constexpr size_t kPicPathMaxText = 1024;

// Fills *settings and *mainMonitorOnly from the store "kvGlymmerSS", and
// WHOLELIBRARY from the store "glymmer" (its default when absent). A store
// whose "version" is absent or not exactly "1.0" is reset: all nine keys are
// written with their defaults (the picture folder being DefaultPicturePath)
// and synchronized, and the defaults are used. Otherwise the stored values
// are used as they are, an absent key reading false or 0 and an absent
// "PicPath" leaving PicPath as the caller had it. Then fCHARSIZE is
// CHARSIZE / 100, and a PicPath longer than 2 bytes is made to end in "/".
// True when the store was read, and, if reset, written; false when it could
// not be had or the reset could not be saved. Either way the outputs hold
// usable values.
bool LoadSettings(SETTINGS* settings, bool* mainMonitorOnly);

// The default picture folder: the bundle's resource folder, "/" unless the
// folder is 2 bytes or shorter or already ends in "/", then "pics/". Written
// as a NUL-terminated path into out (1025 bytes), cut as CopyPicPath does.
void DefaultPicturePath(char out[1025]);

// Copies `text` into the 1025-byte field `out`, NUL-terminated. Text longer
// than 1024 bytes is cut to its first 1024 bytes, and further back (at most
// three bytes) to the start of a UTF-8 sequence the cut would split; the
// field is never overrun. A cut is said in one line (an alert naming the
// path), since the folder shown afterwards is not the one chosen. False when
// the text was cut.
bool CopyPicPath(char out[1025], const char* text);

// Says in one line (an alert) that the path `what` names is longer than
// 1024 bytes and how it was dealt with.
void TellPathTooLong(const char* what, const std::string& path, const char* outcome);

// Appends "/" to a path longer than 2 bytes that does not end in "/". A path
// already 1024 bytes long stays as it is (cut as CopyPicPath does).
void AddFolderSeparator(char path[1025]);
