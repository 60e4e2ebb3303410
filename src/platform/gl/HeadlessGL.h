// HeadlessGL: an OpenGL context that needs no display.
//
// A desktop OpenGL compatibility-profile context (fixed-function pipeline and
// immediate mode work) drawing into an off-screen EGL pbuffer. EGL's
// surfaceless platform gives Mesa's software renderer on a machine without a
// GPU; where a GPU driver exposes an EGL device, that is used instead. Each
// object owns its own context: objects never share GL names.
#pragma once

#include <memory>
#include <vector>

class HeadlessGL {
public:
  HeadlessGL();
  ~HeadlessGL();
  HeadlessGL(const HeadlessGL&) = delete;
  HeadlessGL& operator=(const HeadlessGL&) = delete;

  // Creates the context and a width x height pbuffer and makes them current.
  // False (with a line on standard error) when no EGL display, configuration,
  // context or surface can be had; the object is then empty.
  bool Create(int width, int height);

  // Replaces the pbuffer with one of the new size; the context and its GL
  // objects stay. Makes the context current. False when the surface fails.
  bool Resize(int width, int height);

  // Makes this context and its pbuffer current on the calling thread.
  bool MakeCurrent();

  // Releases the current binding if it is ours, then the surface and context.
  // Safe to call more than once.
  void Destroy();

  bool IsValid() const;
  int Width() const;
  int Height() const;

  // Reads the whole pbuffer as RGBA bytes, rows bottom first (GL's order).
  // The context must be current. False when there is no surface or the read
  // itself fails; errors that earlier GL calls left pending are cleared, not
  // reported.
  bool ReadPixels(std::vector<unsigned char>& rgba) const;

  // GL_RENDERER of the context, or "" when none.
  const char* Renderer() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};
