// Code: the character-mosaic effect. Thousands of letter glyphs gather into a
// flat sheet whose letters take the colours of a picture, break up, tumble now
// and then, and gather again elsewhere; the letters spell the picture's name.
#pragma once

#include "host/Settings.h"
#include "maths/NiftyMaths.h"
#include "pictures/Library.h"
#include "pictures/Pics.h"
#include "text/Text.h"

#include <cstddef>
#include <cstdint>

// One glyph particle, whole: what MAINCODE::Glyph gives and SetGlyph takes.
// The effect itself keeps its glyphs field by field (GlyphStore).
struct GLYPH {
  VECTOR3D pos;         // world position of the glyph's centre
  VECTOR3D home;        // target offset from MAINCODE::centre; in flat phases also
                        // where in the picture the colour is sampled
  VECTOR3D drift;       // direction in which `home` creeps during a phase; its z
                        // is always 0 (the creep lies in the sheet)
  float driftScale;     // signed factor on `drift`, -0.5..0.49
  VECTOR3D goalColour;  // colour the glyph fades toward
  VECTOR3D colour;      // colour drawn this frame
  float texLeft;        // texture rectangle of the glyph's letter cell
  float texRight;
  float texTop;
  float texBottom;
};

// The glyphs as Move and Draw use them: each field of every glyph in an array
// of its own, so that a step streams only the fields it reads, four or more
// glyphs to an instruction, and the drawn ones go to GL as they lie. The
// float arrays share one block, `stride` floats apart, the six drawn ones
// (x, y, z, red, green, blue) first; cells are changed only with the letters.
struct GlyphStore {
  float* x;  // position
  float* y;
  float* z;
  float* red;  // colour drawn
  float* green;
  float* blue;
  float* homeX;
  float* homeY;
  float* homeZ;
  float* driftX;
  float* driftY;
  float* driftScale;
  float* goalRed;
  float* goalGreen;
  float* goalBlue;
  CellRect* cell;  // texture rectangle of the glyph's letter
  int64_t stride;  // floats from one array to the next
  static constexpr int kFloatArrays = 15;
  static constexpr int kDrawnArrays = 6;
};

// Glyph counts above this are refused by Setup (about 1 GB of glyphs, at 96
// bytes a glyph).
constexpr int64_t kMaxGlyphs = 10000000;

// Glyphs Draw sends in one call from its vertex array (8 MiB of vertices),
// where the context cannot draw instances: any usual count goes in
// one, as immediate mode sent them in few large batches, so that the software
// renderer, which draws a rectangle one way or another by what else its batch
// holds, draws them alike. And the floats of one glyph's quad in Draw's
// vertex array: four corners of texture s, t; colour red, green, blue
// (opacity 1); position x, y, z.
constexpr int64_t kDrawBatch = 65536;
constexpr size_t kQuadFloats = 4 * 8;

class MAINCODE {
public:
  unsigned int fontTexture;  // GL name of the font sheet; set by the owner after Setup
  GlyphStore glyphs;         // glyphCount glyphs; the arrays are owned
  PicArray* picColours;      // picWidth x picHeight colours, bottom row first (8 bits a
                             // channel, see PicArray); owned, null while no picture is loaded
  VECTOR3D centre;           // world point about which the glyphs gather
  float phaseTime;           // seconds left in this phase; below 0 starts the next
  int picWidth;
  int picHeight;
  float picAspect;           // picWidth / picHeight
  VECTOR3D samplePos;        // centre of the sampling window, picture units (0..1)
  VECTOR3D sampleVel;        // window velocity, picture units per second
  float sampleScale;         // window height as a fraction of the picture height
  float picTimer;            // seconds until a new picture may be loaded
  int nameLen;               // characters of picName that letters are drawn from
  char picPath[1025];        // picture folder, ending in "/": all 1024 bytes PicPath may hold
  char picName[1024];        // current picture's name (extension cut, case converted)
  bool spinMode;             // false: flat mosaic; true: tumbling ball
  VECTOR3D spinRate;         // degrees per second about x, y, z in spin phases
  float approach;            // rate of closing on targets; 0 at each phase change
  Caption caption;           // names the picture or reports a problem
  bool showCaption;
  int64_t picDelay;          // minimum seconds between pictures
  int64_t glyphCount;
  int64_t charSize;
  float halfSize;            // half a glyph square's edge, charSize / 100
  int32_t charType;          // 0 name as written, 1 upper case, 2 lower case
  bool builtInFirst;         // the first load uses "Quorinda.jpg"

  // Picture changes decode on picLoad's own thread, one at a time. The file
  // is chosen at the phase change with the same draws as ever; the picture,
  // its name, letters (by the draws kept in letterDraws) and caption take
  // effect at the first Move after the decode has finished, the old picture
  // showing until then. A file that cannot be decoded is followed by the
  // retry's choice at that Move; a change still decoding when the next is due
  // gives way to it. With waitForPictures set (a headless render, where a
  // seed must always give the same frames) the phase change waits instead.
  bool waitForPictures;
  // How Draw sends the quads. kGlyphDrawChoose (the default) lets the first
  // Draw choose by what the context offers: kGlyphDrawInstanced, where it has
  // OpenGL 3.3, reads each glyph's position, colour and letter cell straight
  // from the glyph records, one instance of four corners a glyph, placed by a
  // small vertex shader; elsewhere kGlyphDrawArrays fills a vertex array with
  // every corner. kGlyphDrawImmediate (a headless render, whose frames must
  // equal those of earlier versions bit for bit) sends each quad in immediate
  // mode, nine GL calls a glyph, as it always did. The other two draw the
  // same pixels on llvmpipe, but it batches them otherwise and, in a frame
  // where a glyph crosses the edge, may round a pixel or two by one level.
  enum GlyphDraw { kGlyphDrawChoose, kGlyphDrawInstanced, kGlyphDrawArrays, kGlyphDrawImmediate };
  GlyphDraw glyphDraw;
  unsigned int glyphProgram;  // the instanced draw's shader program; owned
  int glyphHalfSizeAt;        // its halfSize uniform, set at each draw from halfSize
  int glyphBlendAt;           // its blend uniform
  // The instanced draw's GL buffers (owned): the drawn fields as the last two
  // uploads left them, one each in turn, uploaded once a step at the step's
  // first Draw; and every glyph's cell, uploaded when letters have changed.
  unsigned int drawnBuffers[2];
  unsigned int cellBuffer;
  int newestBuffer;          // drawnBuffers index of the last upload
  int64_t uploadedStep;      // `steps` at the last upload; -1 before the first
  bool olderIsPrevious;      // the other buffer holds the step just before it
  bool cellsChanged;         // letters set since the cells were last uploaded
  int64_t steps;             // Moves since Setup
  // With keepPrevious set, each Move first copies the drawn fields into
  // `previous` (same layout), for draws between steps, unless instances
  // are drawn: the instanced draw keeps the step before in GL.
  bool keepPrevious;
  float* previous;           // GlyphStore::kDrawnArrays arrays; owned
  int64_t previousAt;        // `steps` when `previous` was last copied; -1 never
  int* letterDraws;          // per glyph, the rand() draw that chose its letter; owned
  PicArrayLoad picLoad;      // the decode of the picture being changed to
  int loadAttempt;           // 0 no change under way, 1 first file, 2 the retry
  char loadName[1024];       // the file being decoded, without its folder
  char loadPath[4096];       // ... and with it

  // With wholeLibrary set (the setting "WholeLibrary") pictures come from
  // every folder under picPath, in every photo format: a library listed on
  // its own worker thread, drawn from with one rand() draw per choice as the
  // folder is. Until it is first listed the built-in picture of the
  // resources (builtInPath) shows, unless builtInFirst found one in picPath;
  // the first library picture then follows at once (awaitingLibrary) and
  // stays the full picture delay. Names lose their extension whatever its
  // length. Without it nothing here is used.
  bool wholeLibrary;
  bool awaitingLibrary;
  bool loadFromLibrary;      // the file being decoded was drawn from the library
  PictureLibrary library;
  char builtInPath[1040];    // the resources' "pics/Quorinda.jpg"
  float* quadVertices;       // Draw's vertex array, kDrawBatch glyphs at most; owned

  // Defaults only; allocates nothing.
  MAINCODE();
  // Stops a picture decode and releases the arrays if Cleanup was not called
  // (no GL calls).
  ~MAINCODE();
  MAINCODE(const MAINCODE&) = delete;
  MAINCODE& operator=(const MAINCODE&) = delete;

  // Copies the settings, allocates the glyphs, loads the first picture and
  // scatters the glyphs as a deep cloud; with the whole library, starts
  // listing it first. False only when the glyph array cannot
  // be had (a negative count, more than kMaxGlyphs, or no memory); nothing is
  // then owned and no picture is loaded. Needs no GL context.
  bool Setup(const SETTINGS* settings);

  // Replaces the current picture with the built-in first one or a random one
  // from picPath, and sets picName, nameLen and the caption, waiting for the
  // decode. True when a new picture was loaded; on false picColours is null
  // and nameLen is 1 or 6. A change still decoding is given up.
  bool LoadPic();

  // A picture change has started and not yet taken effect.
  bool PicChangePending() const { return loadAttempt != 0; }

  // Advances the effect by `elapsed` seconds: phase changes, picture changes,
  // flight, creep and colour fades. Never allocates except for a picture
  // and, with the whole library, to start or let go of a listing.
  void Move(float elapsed);

  // Draws every glyph as a textured quad bound to fontTexture, in glyph order
  // (see glyphDraw). Leaves blending off, depth writes on, no program in use,
  // no buffer bound and no array enabled; the current colour is the last
  // glyph's. Needs the GL context current. `blend` says where between the
  // step before the last Move and the last one the glyphs are shown: 1, the
  // last, exactly as it is; below 1 (a display that refreshes between
  // steps), positions and colours that far from the step before toward the
  // last, letters as the last has them. A draw that cannot tell the step
  // before (the first, or one after two Moves and no Draw between, or
  // without keepPrevious where no instances are drawn) shows the last.
  void Draw(float blend = 1.0f);

  // Stops a picture decode, releases the arrays and deletes the GL texture
  // fontTexture and the glyph program (the context must be current when
  // either is not 0). Safe to call more than once.
  void Cleanup();

  // Gives glyph i a random letter of picName's first nameLen characters.
  void AssignLetter(int64_t i);

  // Glyph i (0 <= i < glyphCount), whole; SetGlyph stores every field but
  // drift.z.
  GLYPH Glyph(int64_t i) const;
  void SetGlyph(int64_t i, const GLYPH& g);

private:
  enum PicChange { kPicPending, kPicLoaded, kPicFailed };
  enum Choice { kChosen, kNoPicture, kNotListed };
  Choice ChooseFile();
  NSBitmapImageRep::Formats PictureFormats() const {
    return wholeLibrary ? NSBitmapImageRep::kPhotoFormats : NSBitmapImageRep::kClassicFormats;
  }
  void ChooseBuiltIn();
  void StepLibrary(float elapsed);
  void PhaseChange();
  bool BeginPicChange(bool keepOld);
  PicChange FinishPicChange(bool wait);
  void TakePicture(PicArray* picture, int width, int height);
  void FailPicChange(const char* message);
  void SetLetter(int64_t i, int draw);
  void Relabel();
  bool AllocateGlyphs(int64_t count);
  void ReleaseArrays();
  void ChooseGlyphDraw();
  void UploadGlyphs();
  void DrawInstanced(float blend);
  void DrawArrays(float blend);
  void DrawImmediate(float blend);
  void MoveFlat(float dt, float flight, float fade);
  void Advance(int64_t first, int64_t end, float dt, float flight, float fade);
};
