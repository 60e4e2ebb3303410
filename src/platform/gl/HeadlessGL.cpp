// HeadlessGL: desktop OpenGL on an EGL pbuffer.

#include "platform/gl/HeadlessGL.h"

#include "platform/gl/EGLDisplayShared.h"

#include <GL/gl.h>

#include <cstdio>

struct HeadlessGL::Impl {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLConfig config = nullptr;
  EGLContext context = EGL_NO_CONTEXT;
  EGLSurface surface = EGL_NO_SURFACE;
  int width = 0;
  int height = 0;
};

HeadlessGL::HeadlessGL() : impl(new Impl) {}

HeadlessGL::~HeadlessGL() { Destroy(); }

static EGLSurface CreatePbuffer(EGLDisplay display, EGLConfig config, int width, int height) {
  const EGLint attributes[] = {EGL_WIDTH, width < 1 ? 1 : width,
                               EGL_HEIGHT, height < 1 ? 1 : height, EGL_NONE};
  return eglCreatePbufferSurface(display, config, attributes);
}

bool HeadlessGL::Create(int width, int height) {
  Destroy();
  impl->display = AcquireHeadlessDisplay();
  if (impl->display == EGL_NO_DISPLAY) return false;
  if (!ChooseDesktopGLConfig(impl->display, EGL_PBUFFER_BIT, &impl->config)) {
    std::fprintf(stderr, "glymmer: no EGL configuration for OpenGL pbuffers\n");
    Destroy();
    return false;
  }
  impl->context = CreateCompatibilityContext(impl->display, impl->config);
  if (impl->context == EGL_NO_CONTEXT) {
    Destroy();
    return false;
  }
  impl->surface = CreatePbuffer(impl->display, impl->config, width, height);
  if (impl->surface == EGL_NO_SURFACE) {
    std::fprintf(stderr, "glymmer: cannot create a %dx%d pbuffer (EGL error 0x%x)\n",
                 width, height, eglGetError());
    Destroy();
    return false;
  }
  impl->width = width;
  impl->height = height;
  return MakeCurrent();
}

bool HeadlessGL::Resize(int width, int height) {
  if (impl->context == EGL_NO_CONTEXT) return false;
  if (width == impl->width && height == impl->height && impl->surface != EGL_NO_SURFACE)
    return MakeCurrent();
  EGLSurface fresh = CreatePbuffer(impl->display, impl->config, width, height);
  if (fresh == EGL_NO_SURFACE) return false;
  if (eglGetCurrentSurface(EGL_DRAW) == impl->surface)
    eglMakeCurrent(impl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (impl->surface != EGL_NO_SURFACE) eglDestroySurface(impl->display, impl->surface);
  impl->surface = fresh;
  impl->width = width;
  impl->height = height;
  return MakeCurrent();
}

bool HeadlessGL::MakeCurrent() {
  if (impl->context == EGL_NO_CONTEXT || impl->surface == EGL_NO_SURFACE) return false;
  if (!eglBindAPI(EGL_OPENGL_API)) return false;
  return eglMakeCurrent(impl->display, impl->surface, impl->surface, impl->context) == EGL_TRUE;
}

void HeadlessGL::Destroy() {
  if (impl->display == EGL_NO_DISPLAY) return;
  DestroySurfaceAndContext(impl->display, &impl->surface, &impl->context);
  impl->display = EGL_NO_DISPLAY;
  impl->width = impl->height = 0;
  ReleaseHeadlessDisplay();
}

bool HeadlessGL::IsValid() const { return impl->surface != EGL_NO_SURFACE; }
int HeadlessGL::Width() const { return impl->width; }
int HeadlessGL::Height() const { return impl->height; }

bool HeadlessGL::ReadPixels(std::vector<unsigned char>& rgba) const {
  if (impl->surface == EGL_NO_SURFACE) return false;
  rgba.assign(static_cast<size_t>(impl->width) * impl->height * 4, 0);
  // Errors that earlier drawing left behind are not this read's.
  for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
  }
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, impl->width, impl->height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  return glGetError() == GL_NO_ERROR;
}

const char* HeadlessGL::Renderer() const {
  if (impl->context == EGL_NO_CONTEXT) return "";
  const GLubyte* r = glGetString(GL_RENDERER);
  return r ? reinterpret_cast<const char*>(r) : "";
}
