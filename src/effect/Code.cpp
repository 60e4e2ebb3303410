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

// The arrays of the loop that follows do not overlap: GCC need not check
// (the restrict qualifiers of local pointers are not enough for it).
#if defined(__GNUC__) && !defined(__clang__)
#define GLYMMER_NO_ALIASING _Pragma("GCC ivdep")
#else
#define GLYMMER_NO_ALIASING
#endif

// Glyphs a step takes at a time: a block's colour lookups, then its motion,
// while its fields are still in the cache.
constexpr int64_t kBlock = 256;

// The instanced draw: one instance a glyph, four corners an instance, in the
// order immediate mode gives them. Only the vertex stage is programmed; the
// texture still modulates the colour in GL's fixed fragment stage. Each drawn
// field is an attribute of its own, read where it lies in the buffers: that
// of the step before the last and of the last, blended by `blend` (the
// same buffer for both where nothing is blended).
enum GlyphAttribute : GLuint { kCorner, kBefore, kLast = kBefore + GlyphStore::kDrawnArrays, kCell = kLast + GlyphStore::kDrawnArrays };
const char* const kAttributeNames[] = {"corner", "x0", "y0", "z0", "red0", "green0", "blue0",
                                       "x1", "y1", "z1", "red1", "green1", "blue1", "cell"};
const char kGlyphVertexShader[] = R"(#version 120
attribute vec2 corner;  // (-1 or 1, -1 or 1): left or right, bottom or top
attribute float x0, y0, z0, red0, green0, blue0;  // the step before
attribute float x1, y1, z1, red1, green1, blue1;  // the last step
attribute vec4 cell;    // left, right, top, bottom
uniform float halfSize;
uniform float blend;
void main() {
  vec3 centre = mix(vec3(x0, y0, z0), vec3(x1, y1, z1), blend);
  gl_Position = gl_ModelViewProjectionMatrix * vec4(centre.xy + corner * halfSize, centre.z, 1.0);
  gl_FrontColor = vec4(mix(vec3(red0, green0, blue0), vec3(red1, green1, blue1), blend), 1.0);
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
  for (GLuint a = kCorner; a <= kCell; ++a) glBindAttribLocation(program, a, kAttributeNames[a]);
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
      glyphs(),
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
      glyphBlendAt(-1),
      drawnBuffers{0, 0},
      cellBuffer(0),
      newestBuffer(0),
      uploadedStep(-1),
      olderIsPrevious(false),
      cellsChanged(true),
      steps(0),
      keepPrevious(false),
      previous(nullptr),
      previousAt(-1),
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

bool MAINCODE::AllocateGlyphs(int64_t count) {
  // Each array starts 64 bytes after the one before, on a cache line of its own.
  const int64_t stride = (count + 15) / 16 * 16;
  const size_t n = static_cast<size_t>(stride);
  float* block = new (std::nothrow) float[n * GlyphStore::kFloatArrays]();
  glyphs.cell = new (std::nothrow) CellRect[n]();
  previous = new (std::nothrow) float[n * GlyphStore::kDrawnArrays]();
  glyphs.x = block;
  if (!block || !glyphs.cell || !previous) return false;
  float** arrays[GlyphStore::kFloatArrays] = {
      &glyphs.x,      &glyphs.y,      &glyphs.z,          &glyphs.red,     &glyphs.green,
      &glyphs.blue,   &glyphs.homeX,  &glyphs.homeY,      &glyphs.homeZ,   &glyphs.driftX,
      &glyphs.driftY, &glyphs.driftScale, &glyphs.goalRed, &glyphs.goalGreen, &glyphs.goalBlue};
  for (int k = 0; k < GlyphStore::kFloatArrays; ++k) *arrays[k] = block + k * n;
  glyphs.stride = stride;
  return true;
}

GLYPH MAINCODE::Glyph(int64_t i) const {
  GLYPH g;
  const GlyphStore& a = glyphs;
  g.pos = MakePoint(a.x[i], a.y[i], a.z[i]);
  g.home = MakePoint(a.homeX[i], a.homeY[i], a.homeZ[i]);
  g.drift = MakePoint(a.driftX[i], a.driftY[i], 0);
  g.driftScale = a.driftScale[i];
  g.goalColour = MakePoint(a.goalRed[i], a.goalGreen[i], a.goalBlue[i]);
  g.colour = MakePoint(a.red[i], a.green[i], a.blue[i]);
  g.texLeft = a.cell[i].left;
  g.texRight = a.cell[i].right;
  g.texTop = a.cell[i].top;
  g.texBottom = a.cell[i].bottom;
  return g;
}

void MAINCODE::SetGlyph(int64_t i, const GLYPH& g) {
  GlyphStore& a = glyphs;
  a.x[i] = g.pos.x;
  a.y[i] = g.pos.y;
  a.z[i] = g.pos.z;
  a.homeX[i] = g.home.x;
  a.homeY[i] = g.home.y;
  a.homeZ[i] = g.home.z;
  a.driftX[i] = g.drift.x;
  a.driftY[i] = g.drift.y;
  a.driftScale[i] = g.driftScale;
  a.goalRed[i] = g.goalColour.x;
  a.goalGreen[i] = g.goalColour.y;
  a.goalBlue[i] = g.goalColour.z;
  a.red[i] = g.colour.x;
  a.green[i] = g.colour.y;
  a.blue[i] = g.colour.z;
  a.cell[i] = CellRect{g.texLeft, g.texRight, g.texTop, g.texBottom};
  cellsChanged = true;
  uploadedStep = -1;  // the next draw shows the change, blending nothing
  previousAt = -1;
}

void MAINCODE::ReleaseArrays() {
  delete[] glyphs.x;
  delete[] glyphs.cell;
  glyphs = GlyphStore();
  delete[] previous;
  previous = nullptr;
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
    if (AllocateGlyphs(glyphCount)) {
      letterDraws = new (std::nothrow) int[count]();
      quadVertices = new (std::nothrow) float[std::min(count, size_t{kDrawBatch}) * kQuadFloats];
    }
  }
  if (!glyphs.x || !letterDraws || !quadVertices) {
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

  for (int64_t i = 0; i < glyphCount; ++i) {
    glyphs.x[i] = RollTenth();
    glyphs.y[i] = RollTenth();
    glyphs.z[i] = static_cast<float>(Roll(200) - 100);
    glyphs.homeX[i] = RollTenth();
    glyphs.homeY[i] = RollTenth();
    glyphs.homeZ[i] = -10.0f;
    AssignLetter(i);
  }
  steps = 0;
  previousAt = -1;
  uploadedStep = -1;
  olderIsPrevious = false;
  centre = MakePoint(0, 0, static_cast<float>(-Roll(50) - 10));
  phaseTime = 0.0f;
  picTimer = static_cast<float>(picDelay);
  spinMode = true;
  return true;
}

void MAINCODE::AssignLetter(int64_t i) {
  const int draw = std::rand();
  if (!letterDraws || i < 0 || i >= glyphCount) return;
  letterDraws[i] = draw;
  SetLetter(i, draw);
}

void MAINCODE::SetLetter(int64_t i, int draw) {
  // nameLen is at least 1 once LoadPic has run; the bounds keep the index
  // inside picName whatever the state.
  int n = std::min(std::max(nameLen, 1), static_cast<int>(sizeof(picName)) - 1);
  char c = picName[draw % n];
  const FontCell& cell = FontData[FontIndex(c)];
  glyphs.cell[i] = CellRect{cell.u, cell.u + cWidth, 1.0f - cell.v, 1.0f - (cell.v + cHeight)};
  cellsChanged = true;
}

void MAINCODE::Relabel() {
  // The draws the letters were chosen by at the phase change give each glyph
  // the letter of the new name that choosing then would have given.
  for (int64_t i = 0; i < glyphCount; ++i) SetLetter(i, letterDraws[i]);
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

  GlyphStore& a = glyphs;
  for (int64_t i = 0; i < glyphCount; ++i) {
    if (spinMode) {
      VECTOR3D home;
      home.x = RollTenth();
      home.y = RollTenth();
      home.z = RollTenth();
      float ax = static_cast<float>(Roll(3600)) / 10.0f;
      float ay = static_cast<float>(Roll(3600)) / 10.0f;
      float az = static_cast<float>(Roll(3600)) / 10.0f;
      Rotate(&home, ax, ay, az);
      a.homeX[i] = home.x;
      a.homeY[i] = home.y;
      a.homeZ[i] = home.z;
      spinRate.x = static_cast<float>(Roll(30) - 15);
      spinRate.y = static_cast<float>(Roll(30) - 15);
      spinRate.z = static_cast<float>(Roll(30) - 15);
      phaseTime = static_cast<float>(Roll(20) + 2);
    } else {
      VECTOR3D home;
      home.x = RollTenth();
      home.y = RollTenth();
      home.z = 0.0f;
      Rotate(&home, 0, 0, static_cast<float>(Roll(3600)) / 10.0f);
      a.homeX[i] = home.x;
      a.homeY[i] = home.y;
      a.homeZ[i] = home.z;
    }
    a.driftX[i] = static_cast<float>(Roll(30)) / 100.0f;
    a.driftY[i] = static_cast<float>(Roll(30)) / 100.0f;
    a.driftScale[i] = static_cast<float>(Roll(100) - 50) / 100.0f;
    AssignLetter(i);
  }
}

// Creep, flight and colour fade of glyphs first..end-1: the steps that every
// layout shares, in a loop the compiler runs several glyphs at a time.
void MAINCODE::Advance(int64_t first, int64_t end, float dt, float flight, float fade) {
  const float cx = centre.x, cy = centre.y, cz = centre.z;
  const float dtz = dt * 0.0f;  // drift's z
  float* __restrict x = glyphs.x;
  float* __restrict y = glyphs.y;
  float* __restrict z = glyphs.z;
  float* __restrict red = glyphs.red;
  float* __restrict green = glyphs.green;
  float* __restrict blue = glyphs.blue;
  float* __restrict hx = glyphs.homeX;
  float* __restrict hy = glyphs.homeY;
  float* __restrict hz = glyphs.homeZ;
  const float* __restrict dx = glyphs.driftX;
  const float* __restrict dy = glyphs.driftY;
  const float* __restrict ds = glyphs.driftScale;
  const float* __restrict gr = glyphs.goalRed;
  const float* __restrict gg = glyphs.goalGreen;
  const float* __restrict gb = glyphs.goalBlue;
  GLYMMER_NO_ALIASING
  for (int64_t i = first; i < end; ++i) {
    hx[i] += dt * dx[i] * ds[i];
    hy[i] += dt * dy[i] * ds[i];
    hz[i] += dtz * ds[i];
    x[i] += (cx + hx[i] - x[i]) * flight;
    y[i] += (cy + hy[i] - y[i]) * flight;
    z[i] += (cz + hz[i] - z[i]) * flight;
    red[i] += (gr[i] - red[i]) * fade;
    green[i] += (gg[i] - green[i]) * fade;
    blue[i] += (gb[i] - blue[i]) * fade;
  }
}

void MAINCODE::Move(float elapsed) {
  // The instanced draw keeps the step before in GL: no copy for it.
  if (keepPrevious && glyphDraw != kGlyphDrawInstanced && previous && glyphs.x) {
    std::memcpy(previous, glyphs.x,
                sizeof(float) * static_cast<size_t>(glyphs.stride) * GlyphStore::kDrawnArrays);
    previousAt = steps + 1;
  }
  ++steps;
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

  const float flight = dt * approach;
  const float fade = dt * approach * 2.5f;
  if (!spinMode) {
    MoveFlat(dt, flight, fade);
    return;
  }
  const MATRIX r = MatrixFromAngle(MakePoint(dt * spinRate.x, dt * spinRate.y, dt * spinRate.z));
  const double* m = r.m;
  float* __restrict hx = glyphs.homeX;
  float* __restrict hy = glyphs.homeY;
  float* __restrict hz = glyphs.homeZ;
  for (int64_t first = 0; first < glyphCount; first += kBlock) {
    const int64_t end = std::min(glyphCount, first + kBlock);
    for (int64_t i = first; i < end; ++i) {
      const double x = hx[i], y = hy[i], z = hz[i];
      hx[i] = static_cast<float>(m[0] * x + m[4] * y + m[8] * z);
      hy[i] = static_cast<float>(m[1] * x + m[5] * y + m[9] * z);
      hz[i] = static_cast<float>(m[2] * x + m[6] * y + m[10] * z);
    }
    Advance(first, end, dt, flight, fade);
  }
}

// A flat phase: each glyph fades toward the colour of the picture under its
// target, or holds its colour outside the sampling window.
void MAINCODE::MoveFlat(float dt, float flight, float fade) {
  GlyphStore& a = glyphs;
  const float scale = sampleScale, aspect = picAspect;
  const float sx = samplePos.x, sy = samplePos.y;
  const int64_t count = glyphCount;
  if (!picColours) {
    // No picture: glyphs inside the window flicker through random colours.
    for (int64_t first = 0; first < count; first += kBlock) {
      const int64_t end = std::min(count, first + kBlock);
      for (int64_t i = first; i < end; ++i) {
        const float px = a.homeX[i] / 20.0f * scale / aspect + sx;
        const float py = a.homeY[i] / 20.0f * scale + sy;
        if (px > 0 && px < 1 && py > 0 && py < 1) {
          a.goalRed[i] = static_cast<float>(Roll(100)) / 100.0f;
          a.goalGreen[i] = static_cast<float>(Roll(100)) / 100.0f;
          a.goalBlue[i] = static_cast<float>(Roll(100)) / 100.0f;
        } else {
          a.goalRed[i] = a.red[i];
          a.goalGreen[i] = a.green[i];
          a.goalBlue[i] = a.blue[i];
        }
      }
      Advance(first, end, dt, flight, fade);
    }
    return;
  }

  const PicArray& picture = *picColours;
  const float width = static_cast<float>(picture.width);
  const float height = static_cast<float>(picture.height);
  const int lastColumn = picture.width - 1, lastRow = picture.height - 1;
  const float lastColumnF = static_cast<float>(lastColumn), lastRowF = static_cast<float>(lastRow);
  // The grid entry under each glyph's target (before this step's creep), a
  // block at a time; column -1 where the target is outside the picture (a
  // NaN counts as outside too). The glyphs visit the grid in no order, so
  // most lookups miss the cache: each entry is prefetched kLookAhead glyphs
  // before its colour is read.
  constexpr int64_t kLookAhead = 16;
  int column[kBlock], row[kBlock];
  const float* __restrict hx = a.homeX;
  const float* __restrict hy = a.homeY;
  for (int64_t first = 0; first < count; first += kBlock) {
    const int64_t n = std::min(count - first, kBlock);
    GLYMMER_NO_ALIASING
    for (int64_t j = 0; j < n; ++j) {
      const float px = hx[first + j] / 20.0f * scale / aspect + sx;
      const float py = hy[first + j] / 20.0f * scale + sy;
      const bool inside = (px > 0) & (px < 1) & (py > 0) & (py < 1);
      // Truncation toward zero, kept inside the grid whatever the rounding
      // of width * px does for the largest pictures.
      // Worked out whatever `inside` says and chosen after, so that the
      // loop has no branch; only chosen values are converted.
      const float cx = std::min(width * px, lastColumnF);
      const float cy = std::min(height * py, lastRowF);
      const int c = static_cast<int>(inside ? cx : 0.0f);
      const int r = static_cast<int>(inside ? cy : 0.0f);
      column[j] = inside ? std::min(c, lastColumn) : -1;
      row[j] = std::min(r, lastRow);
    }
    for (int64_t j = 0; j < std::min(n, kLookAhead); ++j)
      if (column[j] >= 0) __builtin_prefetch(picture.Bytes(picture.Offset(column[j], row[j])));
    for (int64_t j = 0; j < n; ++j) {
      const int64_t ahead = j + kLookAhead;
      if (ahead < n && column[ahead] >= 0)
        __builtin_prefetch(picture.Bytes(picture.Offset(column[ahead], row[ahead])));
      const int64_t i = first + j;
      if (column[j] >= 0) {
        const VECTOR3D c = picture.Colour(column[j], row[j]);
        a.goalRed[i] = c.x;
        a.goalGreen[i] = c.y;
        a.goalBlue[i] = c.z;
      } else {
        a.goalRed[i] = a.red[i];
        a.goalGreen[i] = a.green[i];
        a.goalBlue[i] = a.blue[i];
      }
    }
    Advance(first, first + n, dt, flight, fade);
  }
}

void MAINCODE::ChooseGlyphDraw() {
  glyphDraw = kGlyphDrawArrays;
  if (!OffersInstancing()) return;
  glyphProgram = MakeGlyphProgram();
  if (glyphProgram == 0) return;
  glyphHalfSizeAt = glGetUniformLocation(glyphProgram, "halfSize");
  glyphBlendAt = glGetUniformLocation(glyphProgram, "blend");
  glyphDraw = kGlyphDrawInstanced;
}

void MAINCODE::Draw(float blend) {
  glBindTexture(GL_TEXTURE_2D, fontTexture);
  glEnable(GL_BLEND);
  glDepthMask(GL_FALSE);
  if (glyphs.x && glyphCount > 0) {
    if (glyphDraw == kGlyphDrawChoose) ChooseGlyphDraw();
    if (glyphDraw == kGlyphDrawInstanced && glyphProgram == 0) glyphDraw = kGlyphDrawArrays;
    if (glyphDraw == kGlyphDrawInstanced) DrawInstanced(blend);
    else if (glyphDraw == kGlyphDrawArrays && quadVertices) DrawArrays(blend);
    else if (glyphDraw == kGlyphDrawImmediate) DrawImmediate(blend);
    if (glyphDraw != kGlyphDrawImmediate) {
      // Arrays leave GL's current colour undefined.
      const int64_t last = glyphCount - 1;
      glColor4f(glyphs.red[last], glyphs.green[last], glyphs.blue[last], 1.0f);
    }
  } else if (glyphDraw == kGlyphDrawImmediate) {
    glBegin(GL_QUADS);
    glEnd();
  }
  glDisable(GL_BLEND);
  glDepthMask(GL_TRUE);
}

namespace {

// A glyph's drawn fields, from the last step or blended from the step before.
struct DrawnGlyph {
  const float* last;  // the store's first drawn array
  const float* before;  // `previous`, or null: the last step as it is
  int64_t stride;
  float blend;
  // Field k (0 x .. 5 blue) of glyph i.
  float operator()(int k, int64_t i) const {
    const float v = last[k * stride + i];
    if (!before) return v;
    const float p = before[k * stride + i];
    return p + (v - p) * blend;
  }
};

}  // namespace

void MAINCODE::DrawImmediate(float blend) {
  const bool between = blend < 1 && keepPrevious && previousAt == steps;
  const DrawnGlyph field{glyphs.x, between ? previous : nullptr, glyphs.stride, blend};
  const float h = halfSize;
  glBegin(GL_QUADS);
  for (int64_t i = 0; i < glyphCount; ++i) {
    const float x = field(0, i), y = field(1, i), z = field(2, i);
    const CellRect& cell = glyphs.cell[i];
    glColor4f(field(3, i), field(4, i), field(5, i), 1.0f);
    glTexCoord2f(cell.left, cell.top);
    glVertex3f(x - h, y + h, z);
    glTexCoord2f(cell.right, cell.top);
    glVertex3f(x + h, y + h, z);
    glTexCoord2f(cell.right, cell.bottom);
    glVertex3f(x + h, y - h, z);
    glTexCoord2f(cell.left, cell.bottom);
    glVertex3f(x - h, y - h, z);
  }
  glEnd();
}

// The drawn fields go to GL once a step, into the buffer the step before the
// last had (a new store for it, so that GL never waits for a frame still
// drawn from it); the cells only when letters have changed.
void MAINCODE::UploadGlyphs() {
  const GLsizeiptr drawnBytes = static_cast<GLsizeiptr>(
      sizeof(float) * static_cast<size_t>(glyphs.stride) * GlyphStore::kDrawnArrays);
  if (drawnBuffers[0] == 0) {
    glGenBuffers(2, drawnBuffers);
    glGenBuffers(1, &cellBuffer);
    uploadedStep = -1;
    cellsChanged = true;
  }
  if (uploadedStep != steps) {
    const int target = 1 - newestBuffer;
    glBindBuffer(GL_ARRAY_BUFFER, drawnBuffers[target]);
    glBufferData(GL_ARRAY_BUFFER, drawnBytes, glyphs.x, GL_STREAM_DRAW);
    olderIsPrevious = uploadedStep >= 0 && steps == uploadedStep + 1;
    newestBuffer = target;
    uploadedStep = steps;
  }
  if (cellsChanged) {
    glBindBuffer(GL_ARRAY_BUFFER, cellBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(sizeof(CellRect) * static_cast<size_t>(glyphCount)),
                 glyphs.cell, GL_STATIC_DRAW);
    cellsChanged = false;
  }
}

void MAINCODE::DrawInstanced(float blend) {
  UploadGlyphs();
  const bool between = blend < 1 && olderIsPrevious;
  const GLuint last = drawnBuffers[newestBuffer];
  const GLuint before = between ? drawnBuffers[1 - newestBuffer] : last;
  glUseProgram(glyphProgram);
  glUniform1f(glyphHalfSizeAt, halfSize);  // a later Setup may change the size
  glUniform1f(glyphBlendAt, between ? blend : 1.0f);
  const size_t arrayBytes = sizeof(float) * static_cast<size_t>(glyphs.stride);
  for (int k = 0; k < GlyphStore::kDrawnArrays; ++k) {
    const void* offset = reinterpret_cast<const void*>(k * arrayBytes);
    glBindBuffer(GL_ARRAY_BUFFER, before);
    glVertexAttribPointer(kBefore + k, 1, GL_FLOAT, GL_FALSE, 0, offset);
    glBindBuffer(GL_ARRAY_BUFFER, last);
    glVertexAttribPointer(kLast + k, 1, GL_FLOAT, GL_FALSE, 0, offset);
  }
  glBindBuffer(GL_ARRAY_BUFFER, cellBuffer);
  glVertexAttribPointer(kCell, 4, GL_FLOAT, GL_FALSE, 0, nullptr);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glVertexAttribPointer(kCorner, 2, GL_FLOAT, GL_FALSE, 0, kCorners);
  for (GLuint a = kCorner; a <= kCell; ++a) {
    glVertexAttribDivisor(a, a == kCorner ? 0 : 1);
    glEnableVertexAttribArray(a);
  }
  glDrawArraysInstanced(GL_QUADS, 0, 4, static_cast<GLsizei>(glyphCount));
  for (GLuint a = kCorner; a <= kCell; ++a) {
    glVertexAttribDivisor(a, 0);
    glDisableVertexAttribArray(a);
  }
  glUseProgram(0);
}

// The corners of every glyph's quad go into one array (kQuadFloats each) and
// to GL in one call per batch, rather than nine calls a glyph. A client
// array: Mesa's software and no-op drivers take it as it is, where a
// streamed buffer object costs them a copy or a mapping more.
void MAINCODE::DrawArrays(float blend) {
  const bool between = blend < 1 && keepPrevious && previousAt == steps;
  const DrawnGlyph field{glyphs.x, between ? previous : nullptr, glyphs.stride, blend};
  const float h = halfSize;
  glInterleavedArrays(GL_T2F_C3F_V3F, 0, quadVertices);
  for (int64_t first = 0; first < glyphCount; first += kDrawBatch) {
    const int64_t count = std::min(glyphCount - first, kDrawBatch);
    float* v = quadVertices;
    for (int64_t i = first; i < first + count; ++i, v += kQuadFloats) {
      const float x = field(0, i), y = field(1, i), z = field(2, i);
      const float r = field(3, i), gr = field(4, i), b = field(5, i);
      const CellRect& cell = glyphs.cell[i];
      const float left = x - h, right = x + h, top = y + h, bottom = y - h;
      const float s[4] = {cell.left, cell.right, cell.right, cell.left};
      const float t[4] = {cell.top, cell.top, cell.bottom, cell.bottom};
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
  if (drawnBuffers[0] != 0) {
    glDeleteBuffers(2, drawnBuffers);
    glDeleteBuffers(1, &cellBuffer);
  }
  drawnBuffers[0] = drawnBuffers[1] = 0;
  cellBuffer = 0;
  if (glyphDraw == kGlyphDrawInstanced) glyphDraw = kGlyphDrawChoose;
}
