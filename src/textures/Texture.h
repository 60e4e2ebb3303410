// Texture: an image on its way into OpenGL, then the handle of its texture.
#pragma once

class Texture {
public:
  unsigned char* pixels;      // malloc'd pixel bytes or null; owned
  unsigned int bitsPerPixel;  // 24 or 32
  unsigned int width;
  unsigned int height;
  unsigned int glName;        // OpenGL texture name once built, else 0
  unsigned int pixelFormat;   // GL_RGB or GL_RGBA: layout of `pixels`

  Texture();   // no pixels, name 0
  ~Texture();  // frees the pixels, deletes the GL name (needs the context current)
  Texture(const Texture&) = delete;
  Texture& operator=(const Texture&) = delete;
};

// Uploads `pixels` as an RGBA texture whose alpha follows `alphaMode`
// (1 colour key on the first pixel, 2 brightness, anything else opaque), with
// repeat wrapping and linear filtering. On success `glName` names the texture
// and `pixels` is freed and null. False when there are no pixels, the scratch
// buffer cannot be had, or the size is out of range (width or height 0, or
// width × height × 4 beyond 32 bits); the record then keeps its pixels and
// its name. Needs a current GL context.
bool BuildTexture(Texture* t, int alphaMode);

// The same upload with 3-byte colour pixels and each pixel's alpha taken from
// byte 3i of *alphaPixels (a second 3-byte image of the same size), which
// stays the caller's. Fails like BuildTexture, and when there is no second image.
bool BuildTGATextureWithAlpha(Texture* t, unsigned char** alphaPixels);
