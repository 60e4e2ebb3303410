// Code: the character-mosaic effect.

#include "effect/Code.h"

#include "maths/Misc.h"
#include "pictures/Pics.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const char kBuiltInPicture[] = "Quorinda.jpg";
const char kErrorName[] = "ERROR!";

// A fresh rand() draw reduced modulo n (n > 0).
inline int Roll(int n) { return std::rand() % n; }

// (k % 200 - 100) / 10: -10.0 .. 9.9 in steps of 0.1.
inline float RollTenth() { return static_cast<float>(Roll(200) - 100) / 10.0f; }

// Folder and file name joined without a separator. Each part is at most 1023
// bytes of text (the size of the buffers they come from), so the result
// always fits.
// Any folder picPath holds (1024 bytes) and any name a listing gives (fewer
// than 1024) fit.
struct FullPath {
  char text[2049];
  FullPath(const char* folder, const char* name) {
    size_t a = strnlen(folder, 1024);
    size_t b = strnlen(name, 1023);
    std::memcpy(text, folder, a);
    std::memcpy(text + a, name, b);
    text[a + b] = '\0';
  }
};

// A caption message followed directly by a name, for Caption::Set, which
// keeps at most 55 letters anyway.
struct Message {
  char text[64];
  Message(const char* head, const char* name) {
    size_t a = strnlen(head, sizeof(text) - 1);
    size_t b = strnlen(name, sizeof(text) - 1 - a);
    std::memcpy(text, head, a);
    std::memcpy(text + a, name, b);
    text[a + b] = '\0';
  }
};

VECTOR3D White() { return MakePoint(1, 1, 1); }

// Creep, flight and colour fade: the per-glyph steps that every layout shares.
inline void Advance(GLYPH* g, const VECTOR3D& centre, float dt, float flight, float fade) {
  g->home.x += dt * g->drift.x * g->driftScale;
  g->home.y += dt * g->drift.y * g->driftScale;
  g->home.z += dt * g->drift.z * g->driftScale;
  g->pos.x += (centre.x + g->home.x - g->pos.x) * flight;
  g->pos.y += (centre.y + g->home.y - g->pos.y) * flight;
  g->pos.z += (centre.z + g->home.z - g->pos.z) * flight;
  g->colour.x += (g->goalColour.x - g->colour.x) * fade;
  g->colour.y += (g->goalColour.y - g->colour.y) * fade;
  g->colour.z += (g->goalColour.z - g->colour.z) * fade;
}

// The instanced draw: one instance a glyph, four corners an instance, in the
// order immediate mode gives them. Only the vertex stage is programmed; the
// texture still modulates the colour in GL's fixed fragment stage.
enum GlyphAttribute : GLuint { kCorner, kCentre, kColour, kCell };
const char kGlyphVertexShader[] = R"(#version 120
attribute vec2 corner;  // (-1 or 1, -1 or 1): left or right, bottom or top
attribute vec3 centre;  // the glyph's pos
attribute vec3 colour;
attribute vec4 cell;    // texLeft, texRight, texTop, texBottom
uniform float halfSize;
void main() {
  gl_Position = gl_ModelViewProjectionMatrix * vec4(centre.xy + corner * halfSize, centre.z, 1.0);
  gl_FrontColor = vec4(colour, 1.0);
  gl_TexCoord[0] = vec4(corner.x < 0.0 ? cell.x : cell.y, corner.y > 0.0 ? cell.z : cell.w, 0.0, 1.0);
}
)";
const GLfloat kCorners[8] = {-1, 1, 1, 1, 1, -1, -1, -1};

// True when the current context is OpenGL 3.3 or later (instanced arrays).
bool OffersInstancing() {
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  int major = 0, minor = 0;
  if (!version || std::sscanf(version, "%d.%d", &major, &minor) != 2) return false;
  return major > 3 || (major == 3 && minor >= 3);
}

// The linked program of kGlyphVertexShader, or 0.
GLuint MakeGlyphProgram() {
  GLuint shader = glCreateShader(GL_VERTEX_SHADER);
  const char* text = kGlyphVertexShader;
  glShaderSource(shader, 1, &text, nullptr);
  glCompileShader(shader);
  GLuint program = glCreateProgram();
  glAttachShader(program, shader);
  glBindAttribLocation(program, kCorner, "corner");
  glBindAttribLocation(program, kCentre, "centre");
  glBindAttribLocation(program, kColour, "colour");
  glBindAttribLocation(program, kCell, "cell");
  glLinkProgram(program);
  glDeleteShader(shader);  // goes with the program
  GLint linked = GL_FALSE;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (!linked) {
    glDeleteProgram(program);
    return 0;
  }
  return program;
}

}  // namespace

MAINCODE::MAINCODE()
    : fontTexture(0),
      glyphs(nullptr),
      picColours(nullptr),
      phaseTime(0.0f),
      picWidth(0),
      picHeight(0),
      picAspect(1.0f),
      sampleScale(1.0f),
      picTimer(120.0f),
      nameLen(0),
      spinMode(true),
      approach(1.0f),
      showCaption(true),
      picDelay(120),
      glyphCount(15000),
      charSize(20),
      halfSize(0.2f),
      charType(0),
      builtInFirst(false),
      waitForPictures(false),
      glyphDraw(kGlyphDrawChoose),
      glyphProgram(0),
      glyphHalfSizeAt(-1),
      letterDraws(nullptr),
      loadAttempt(0),
      wholeLibrary(false),
      awaitingLibrary(false),
      loadFromLibrary(false),
      quadVertices(nullptr) {
  // Until Setup: an empty folder. An empty name shows the '?' cell should a
  // first load find no picture at all.
  std::memset(picPath, 0, sizeof(picPath));
  std::memset(picName, 0, sizeof(picName));
  std::memset(loadName, 0, sizeof(loadName));
  std::memset(loadPath, 0, sizeof(loadPath));
  std::memset(builtInPath, 0, sizeof(builtInPath));
}

MAINCODE::~MAINCODE() {
  picLoad.Cleanup();
  library.Cleanup();
  ReleaseArrays();
}

void MAINCODE::ReleaseArrays() {
  delete[] glyphs;
  glyphs = nullptr;
  delete[] letterDraws;
  letterDraws = nullptr;
  delete[] quadVertices;
  quadVertices = nullptr;
  delete picColours;
  picColours = nullptr;
}

bool MAINCODE::Setup(const SETTINGS* settings) {
  if (!settings) return false;
  // picPath holds whatever PicPath holds, terminated even if PicPath is not.
  size_t pathLength = strnlen(settings->PicPath, sizeof(picPath) - 1);
  std::memcpy(picPath, settings->PicPath, pathLength);
  picPath[pathLength] = '\0';
  glyphCount = settings->PIC_SIZE;
  charSize = settings->CHARSIZE;
  halfSize = static_cast<float>(static_cast<double>(settings->CHARSIZE) / 100.0);
  charType = settings->CHARTYPE;
  picDelay = settings->PICDELAY;
  showCaption = settings->SHOWCAPTION;
  builtInFirst = settings->MLFIRST;
  wholeLibrary = settings->WHOLELIBRARY;

  picLoad.Cleanup();
  loadAttempt = 0;
  library.Cleanup();
  awaitingLibrary = false;
  ReleaseArrays();
  // A stored count may be anything: refuse negative and absurd ones instead
  // of letting the size computation wrap or the allocation throw.
  if (glyphCount >= 0 && glyphCount <= kMaxGlyphs) {
    const size_t count = static_cast<size_t>(glyphCount);
    glyphs = new (std::nothrow) GLYPH[count]();
    letterDraws = new (std::nothrow) int[count]();
    quadVertices = new (std::nothrow) float[std::min(count, size_t{kDrawBatch}) * kQuadFloats];
  }
  if (!glyphs || !letterDraws || !quadVertices) {
    ReleaseArrays();
    glyphCount = 0;  // keeps Move and Draw harmless on a failed object
    return false;
  }

  if (wholeLibrary) {
    // Listed while the first picture decodes.
    library.Start(picPath);
    char folder[1025];
    DefaultPicturePath(folder);
    std::snprintf(builtInPath, sizeof(builtInPath), "%s%s", folder, kBuiltInPicture);
  }
  LoadPic();
  caption.active = false;  // the first picture is not announced

  for (GLYPH *g = glyphs, *end = glyphs + glyphCount; g != end; ++g) {
    g->pos.x = RollTenth();
    g->pos.y = RollTenth();
    g->pos.z = static_cast<float>(Roll(200) - 100);
    g->home.x = RollTenth();
    g->home.y = RollTenth();
    g->home.z = -10.0f;
    AssignLetter(g);
  }
  centre = MakePoint(0, 0, static_cast<float>(-Roll(50) - 10));
  phaseTime = 0.0f;
  picTimer = static_cast<float>(picDelay);
  spinMode = true;
  return true;
}

void MAINCODE::AssignLetter(GLYPH* g) {
  const int draw = std::rand();
  if (letterDraws && g >= glyphs && g < glyphs + glyphCount) letterDraws[g - glyphs] = draw;
  SetLetter(g, draw);
}

void MAINCODE::SetLetter(GLYPH* g, int draw) const {
  // nameLen is at least 1 once LoadPic has run; the bounds keep the index
  // inside picName whatever the state.
  int n = std::min(std::max(nameLen, 1), static_cast<int>(sizeof(picName)) - 1);
  char c = picName[draw % n];
  const FontCell& cell = FontData[FontIndex(c)];
  g->texLeft = cell.u;
  g->texRight = cell.u + cWidth;
  g->texTop = 1.0f - cell.v;
  g->texBottom = 1.0f - (cell.v + cHeight);
}

void MAINCODE::Relabel() {
  // The draws the letters were chosen by at the phase change give each glyph
  // the letter of the new name that choosing then would have given.
  for (int64_t i = 0; i < glyphCount; ++i) SetLetter(glyphs + i, letterDraws[i]);
}

bool MAINCODE::LoadPic() {
  if (!BeginPicChange(false)) return false;
  return FinishPicChange(true) == kPicLoaded;
}

// A random picture file into loadName and loadPath, with one rand() draw:
// from the folder, or from the library once it is listed.
MAINCODE::Choice MAINCODE::ChooseFile() {
  loadFromLibrary = false;
  if (!wholeLibrary) {
    if (!ChooseRandomImageFile(picPath, loadName)) return kNoPicture;
    std::memcpy(loadPath, FullPath(picPath, loadName).text, sizeof(FullPath::text));
    return kChosen;
  }
  if (!library.Listed()) return kNotListed;
  const int count = library.Count();
  const char* name = nullptr;
  if (count <= 0) {
    library.FoundNothing();
    return kNoPicture;
  }
  if (!library.PathOf(Roll(count), loadPath, sizeof(loadPath), &name)) return kNoPicture;
  std::snprintf(loadName, sizeof(loadName), "%s", name);
  loadFromLibrary = true;
  awaitingLibrary = false;
  return kChosen;
}

// The resources' built-in picture, shown while the library is listed.
void MAINCODE::ChooseBuiltIn() {
  awaitingLibrary = true;
  loadFromLibrary = false;
  std::memcpy(loadName, kBuiltInPicture, sizeof(kBuiltInPicture));
  std::memcpy(loadPath, builtInPath, sizeof(builtInPath));
}

// Chooses the file and starts its decode; the old picture is released first
// unless it is to go on showing meanwhile. False when the folder holds no
// picture: that settles the change at once, the old name staying with its
// first letter only. False too while the library is still being listed and a
// picture shows: it stays until the first library picture.
bool MAINCODE::BeginPicChange(bool keepOld) {
  picLoad.Cleanup();  // a change still decoding gives way to this one
  loadAttempt = 0;
  if (!keepOld) {
    delete picColours;
    picColours = nullptr;
  }
  if (builtInFirst) {
    builtInFirst = false;
    loadFromLibrary = false;
    std::memcpy(loadName, kBuiltInPicture, sizeof(kBuiltInPicture));
    std::memcpy(loadPath, FullPath(picPath, loadName).text, sizeof(FullPath::text));
  } else {
    switch (ChooseFile()) {
      case kChosen:
        break;
      case kNoPicture:
        delete picColours;
        picColours = nullptr;
        nameLen = 1;
        return false;
      case kNotListed:
        awaitingLibrary = true;
        if (picColours) return false;
        ChooseBuiltIn();
        break;
    }
  }
  loadAttempt = 1;
  picLoad.Start(loadPath, PictureFormats());
  return true;
}

// Takes a finished decode (or, with `wait`, waits for it). A file that
// cannot be decoded is followed by one more random choice, drawn now.
MAINCODE::PicChange MAINCODE::FinishPicChange(bool wait) {
  while (loadAttempt != 0) {
    if (!wait && !picLoad.Ready()) return kPicPending;
    int width = picWidth, height = picHeight;
    if (PicArray* picture = picLoad.Take(&width, &height)) {
      TakePicture(picture, width, height);
      return kPicLoaded;
    }
    // A library file may have gone since the listing.
    if (loadFromLibrary) library.PictureFailed(loadPath);
    if (loadAttempt == 2) {
      FailPicChange(Message("Error loading file:", loadName).text);
      return kPicFailed;
    }
    switch (ChooseFile()) {
      case kChosen:
        break;
      case kNoPicture:
        FailPicChange("No Image Files Found!");
        return kPicFailed;
      case kNotListed:
        ChooseBuiltIn();
        break;
    }
    loadAttempt = 2;
    picLoad.Start(loadPath, PictureFormats());
  }
  return kPicFailed;
}

void MAINCODE::TakePicture(PicArray* picture, int width, int height) {
  loadAttempt = 0;
  delete picColours;
  picColours = picture;
  picWidth = width;
  picHeight = height;
  std::memcpy(picName, loadName, sizeof(picName));

  // Every name of the folder ends in a four-character extension; a library's
  // may be longer, or shorter.
  size_t length = strnlen(picName, sizeof(picName) - 1);
  if (wholeLibrary) {
    if (const char* dot = std::strrchr(picName, '.')) length = static_cast<size_t>(dot - picName);
  } else if (length > 4) {
    length -= 4;
  }
  picName[length] = '\0';
  nameLen = length > 0 ? static_cast<int>(length) : 1;

  for (int i = 0; i < nameLen; ++i) {
    unsigned char c = static_cast<unsigned char>(picName[i]);
    if (charType == 1) picName[i] = static_cast<char>(std::toupper(c));
    else if (charType == 2) picName[i] = static_cast<char>(std::tolower(c));
  }

  picAspect = static_cast<float>(picWidth) / static_cast<float>(picHeight);

  if (showCaption && !caption.active)
    caption.Set(Message("Image: ", picName).text, White(), 20, 20);
}

// Said even with captions off, over any caption showing.
void MAINCODE::FailPicChange(const char* message) {
  loadAttempt = 0;
  delete picColours;
  picColours = nullptr;
  caption.Set(message, White(), 30, 32);
  std::memcpy(picName, kErrorName, sizeof(kErrorName));
  nameLen = 6;
}

// Keeps the library current and, once it is first listed, puts its first
// picture in place of the built-in one at once.
void MAINCODE::StepLibrary(float elapsed) {
  if (waitForPictures) library.WaitForListing();  // a render's frames follow from its seed alone
  library.Update(elapsed);
  if (!awaitingLibrary || loadAttempt != 0 || !library.Listed()) return;
  awaitingLibrary = false;
  picTimer = static_cast<float>(picDelay);
  if (library.Count() == 0) {
    FailPicChange("No Image Files Found!");
    Relabel();
  } else if (BeginPicChange(!waitForPictures) && waitForPictures) {
    FinishPicChange(true);
    Relabel();
  }
}

void MAINCODE::PhaseChange() {
  if (picTimer < 0) {
    picTimer = static_cast<float>(picDelay);
    if (BeginPicChange(!waitForPictures) && waitForPictures) FinishPicChange(true);
  }
  centre.x = static_cast<float>(Roll(10) - 5);
  centre.y = static_cast<float>(Roll(10) - 5);
  centre.z = static_cast<float>(-Roll(20) - 10);
  phaseTime = static_cast<float>(Roll(20) + 10);
  approach = 0.0f;
  sampleScale = static_cast<float>(Roll(90)) / 100.0f + 0.1f;
  samplePos.x = static_cast<float>(Roll(80)) / 100.0f + 0.2f;
  samplePos.y = static_cast<float>(Roll(80)) / 100.0f + 0.2f;
  samplePos.z = 0.0f;
  sampleVel.x = static_cast<float>(Roll(10) - 5) / 100.0f;
  sampleVel.y = static_cast<float>(Roll(10) - 5) / 100.0f;
  sampleVel.z = 0.0f;
  // A spin phase is always followed by a flat one.
  if (spinMode) spinMode = false;
  else spinMode = Roll(10) == 1;

  for (GLYPH *g = glyphs, *end = glyphs + glyphCount; g != end; ++g) {
    if (spinMode) {
      g->home.x = RollTenth();
      g->home.y = RollTenth();
      g->home.z = RollTenth();
      float ax = static_cast<float>(Roll(3600)) / 10.0f;
      float ay = static_cast<float>(Roll(3600)) / 10.0f;
      float az = static_cast<float>(Roll(3600)) / 10.0f;
      Rotate(&g->home, ax, ay, az);
      spinRate.x = static_cast<float>(Roll(30) - 15);
      spinRate.y = static_cast<float>(Roll(30) - 15);
      spinRate.z = static_cast<float>(Roll(30) - 15);
      phaseTime = static_cast<float>(Roll(20) + 2);
    } else {
      g->home.x = RollTenth();
      g->home.y = RollTenth();
      g->home.z = 0.0f;
      Rotate(&g->home, 0, 0, static_cast<float>(Roll(3600)) / 10.0f);
    }
    g->drift.x = static_cast<float>(Roll(30)) / 100.0f;
    g->drift.y = static_cast<float>(Roll(30)) / 100.0f;
    g->drift.z = 0.0f;
    g->driftScale = static_cast<float>(Roll(100) - 50) / 100.0f;
    AssignLetter(g);
  }
}

void MAINCODE::Move(float elapsed) {
  // A picture decoded since the last frame takes effect, letters and all.
  if (loadAttempt != 0 && FinishPicChange(waitForPictures) != kPicPending) Relabel();
  if (wholeLibrary) StepLibrary(elapsed);

  const float dt = elapsed;
  picTimer -= dt;
  phaseTime -= dt;
  if (phaseTime < 0) PhaseChange();

  // The sampling window slides and bounces between 0.2 and 0.8; the gathering
  // point travels ten times as far in world units.
  VECTOR3D delta = MakePoint(dt * sampleVel.x, dt * sampleVel.y, dt * sampleVel.z);
  samplePos.x += delta.x;
  samplePos.y += delta.y;
  samplePos.z += delta.z;
  if ((samplePos.x > 0.8f && sampleVel.x > 0) || (samplePos.x < 0.2f && sampleVel.x < 0)) {
    sampleVel.x = -sampleVel.x;
    delta.x = dt * sampleVel.x;
  }
  if ((samplePos.y > 0.8f && sampleVel.y > 0) || (samplePos.y < 0.2f && sampleVel.y < 0)) {
    sampleVel.y = -sampleVel.y;
    delta.y = dt * sampleVel.y;
  }
  approach += dt * (10.0f - approach) * 0.025f;
  centre.x += 10.0f * delta.x;
  centre.y += 10.0f * delta.y;
  centre.z += 10.0f * delta.z;

  const VECTOR3D c = centre;
  const float flight = dt * approach;
  const float fade = dt * approach * 2.5f;
  GLYPH* const end = glyphs + glyphCount;

  if (spinMode) {
    const MATRIX r = MatrixFromAngle(MakePoint(dt * spinRate.x, dt * spinRate.y, dt * spinRate.z));
    for (GLYPH* g = glyphs; g != end; ++g) {
      g->home = MatrixRotatePoint(r, g->home);
      Advance(g, c, dt, flight, fade);
    }
    return;
  }

  const float scale = sampleScale, aspect = picAspect;
  const float sx = samplePos.x, sy = samplePos.y;
  if (picColours) {
    const PicArray& picture = *picColours;
    const float width = static_cast<float>(picture.width);
    const float height = static_cast<float>(picture.height);
    const int lastColumn = picture.width - 1, lastRow = picture.height - 1;
    const float lastColumnF = static_cast<float>(lastColumn), lastRowF = static_cast<float>(lastRow);
    constexpr ptrdiff_t kOutside = PTRDIFF_MIN;
    // Grid entry under a glyph's target, or kOutside when the target is
    // outside the picture (a NaN counts as outside too).
    auto lookup = [=, &picture](const GLYPH* g) -> ptrdiff_t {
      const float px = g->home.x / 20.0f * scale / aspect + sx;
      const float py = g->home.y / 20.0f * scale + sy;
      if (!(px > 0 && px < 1 && py > 0 && py < 1)) return kOutside;
      // Truncation toward zero, kept inside the grid whatever the rounding of
      // width * px does for the largest pictures.
      const int column = std::min(static_cast<int>(std::min(width * px, lastColumnF)), lastColumn);
      const int row = std::min(static_cast<int>(std::min(height * py, lastRowF)), lastRow);
      return picture.Offset(column, row);
    };
    // The glyphs visit the grid in no order, so most lookups miss the cache:
    // each is worked out kLookAhead glyphs early and its entry prefetched.
    // That glyph's target has not crept yet, so the result is the same.
    constexpr int64_t kLookAhead = 4;  // a power of two; 4 to 16 measure alike
    ptrdiff_t ahead[kLookAhead];
    const int64_t count = glyphCount;
    for (int64_t i = 0; i < std::min(count, kLookAhead); ++i) {
      ahead[i] = lookup(glyphs + i);
      if (ahead[i] != kOutside) __builtin_prefetch(picture.Bytes(ahead[i]));
    }
    for (int64_t i = 0; i < count; ++i) {
      GLYPH* g = glyphs + i;
      const ptrdiff_t entry = ahead[i & (kLookAhead - 1)];
      if (i + kLookAhead < count) {
        const ptrdiff_t next = lookup(g + kLookAhead);
        ahead[i & (kLookAhead - 1)] = next;
        if (next != kOutside) __builtin_prefetch(picture.Bytes(next));
      }
      g->goalColour = entry != kOutside ? picture.ColourAt(entry) : g->colour;
      Advance(g, c, dt, flight, fade);
    }
  } else {
    // No picture: glyphs inside the window flicker through random colours.
    for (GLYPH* g = glyphs; g != end; ++g) {
      const float px = g->home.x / 20.0f * scale / aspect + sx;
      const float py = g->home.y / 20.0f * scale + sy;
      if (px > 0 && px < 1 && py > 0 && py < 1) {
        g->goalColour.x = static_cast<float>(Roll(100)) / 100.0f;
        g->goalColour.y = static_cast<float>(Roll(100)) / 100.0f;
        g->goalColour.z = static_cast<float>(Roll(100)) / 100.0f;
      } else {
        g->goalColour = g->colour;
      }
      Advance(g, c, dt, flight, fade);
    }
  }
}

void MAINCODE::ChooseGlyphDraw() {
  glyphDraw = kGlyphDrawArrays;
  if (!OffersInstancing()) return;
  glyphProgram = MakeGlyphProgram();
  if (glyphProgram == 0) return;
  glyphHalfSizeAt = glGetUniformLocation(glyphProgram, "halfSize");
  glyphDraw = kGlyphDrawInstanced;
}

void MAINCODE::Draw() {
  glBindTexture(GL_TEXTURE_2D, fontTexture);
  glEnable(GL_BLEND);
  glDepthMask(GL_FALSE);
  if (glyphs && glyphCount > 0) {
    if (glyphDraw == kGlyphDrawChoose) ChooseGlyphDraw();
    if (glyphDraw == kGlyphDrawInstanced && glyphProgram == 0) glyphDraw = kGlyphDrawArrays;
    if (glyphDraw == kGlyphDrawInstanced) DrawInstanced();
    else if (glyphDraw == kGlyphDrawArrays && quadVertices) DrawArrays();
    if (glyphDraw != kGlyphDrawImmediate) {
      // Arrays leave GL's current colour undefined.
      const VECTOR3D& last = glyphs[glyphCount - 1].colour;
      glColor4f(last.x, last.y, last.z, 1.0f);
    }
  }
  if (glyphDraw == kGlyphDrawImmediate) {
    const float h = halfSize;
    glBegin(GL_QUADS);
    for (const GLYPH *g = glyphs, *end = glyphs + glyphCount; glyphs && g != end; ++g) {
      const float x = g->pos.x, y = g->pos.y, z = g->pos.z;
      glColor4f(g->colour.x, g->colour.y, g->colour.z, 1.0f);
      glTexCoord2f(g->texLeft, g->texTop);
      glVertex3f(x - h, y + h, z);
      glTexCoord2f(g->texRight, g->texTop);
      glVertex3f(x + h, y + h, z);
      glTexCoord2f(g->texRight, g->texBottom);
      glVertex3f(x + h, y - h, z);
      glTexCoord2f(g->texLeft, g->texBottom);
      glVertex3f(x - h, y - h, z);
    }
    glEnd();
  }
  glDisable(GL_BLEND);
  glDepthMask(GL_TRUE);
}

// Nothing is copied or filled: GL reads the records where Move left them.
void MAINCODE::DrawInstanced() {
  const GLsizei stride = sizeof(GLYPH);
  glUseProgram(glyphProgram);
  glUniform1f(glyphHalfSizeAt, halfSize);  // a later Setup may change the size
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glVertexAttribPointer(kCorner, 2, GL_FLOAT, GL_FALSE, 0, kCorners);
  glVertexAttribPointer(kCentre, 3, GL_FLOAT, GL_FALSE, stride, &glyphs->pos);
  glVertexAttribPointer(kColour, 3, GL_FLOAT, GL_FALSE, stride, &glyphs->colour);
  glVertexAttribPointer(kCell, 4, GL_FLOAT, GL_FALSE, stride, &glyphs->texLeft);
  for (GLuint a : {kCorner, kCentre, kColour, kCell}) {
    glVertexAttribDivisor(a, a == kCorner ? 0 : 1);
    glEnableVertexAttribArray(a);
  }
  glDrawArraysInstanced(GL_QUADS, 0, 4, static_cast<GLsizei>(glyphCount));
  for (GLuint a : {kCorner, kCentre, kColour, kCell}) {
    glVertexAttribDivisor(a, 0);
    glDisableVertexAttribArray(a);
  }
  glUseProgram(0);
}

// The corners of every glyph's quad go into one array (kQuadFloats each) and
// to GL in one call per batch, rather than nine calls a glyph. A client
// array: Mesa's software and no-op drivers take it as it is, where a
// streamed buffer object costs them a copy or a mapping more.
void MAINCODE::DrawArrays() {
  const float h = halfSize;
  glInterleavedArrays(GL_T2F_C3F_V3F, 0, quadVertices);
  for (int64_t first = 0; first < glyphCount; first += kDrawBatch) {
    const int64_t count = std::min(glyphCount - first, kDrawBatch);
    float* v = quadVertices;
    for (const GLYPH *g = glyphs + first, *end = g + count; g != end; ++g, v += kQuadFloats) {
      const float x = g->pos.x, y = g->pos.y, z = g->pos.z;
      const float r = g->colour.x, gr = g->colour.y, b = g->colour.z;
      const float left = x - h, right = x + h, top = y + h, bottom = y - h;
      const float s[4] = {g->texLeft, g->texRight, g->texRight, g->texLeft};
      const float t[4] = {g->texTop, g->texTop, g->texBottom, g->texBottom};
      const float px[4] = {left, right, right, left};
      const float py[4] = {top, top, bottom, bottom};
      for (int k = 0; k < 4; ++k) {
        float* corner = v + 8 * k;
        corner[0] = s[k];
        corner[1] = t[k];
        corner[2] = r;
        corner[3] = gr;
        corner[4] = b;
        corner[5] = px[k];
        corner[6] = py[k];
        corner[7] = z;
      }
    }
    glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(count * 4));
  }
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
}

void MAINCODE::Cleanup() {
  picLoad.Cleanup();
  library.Cleanup();
  loadAttempt = 0;
  ReleaseArrays();
  if (fontTexture != 0) glDeleteTextures(1, &fontTexture);
  fontTexture = 0;
  if (glyphProgram != 0) glDeleteProgram(glyphProgram);
  glyphProgram = 0;
  if (glyphDraw == kGlyphDrawInstanced) glyphDraw = kGlyphDrawChoose;
}
