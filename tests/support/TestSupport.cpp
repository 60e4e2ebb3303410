#include "support/TestSupport.h"

#include "platform/ImageFile.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <ftw.h>

void GLTest::SetUp() {
  ASSERT_TRUE(gl.Create(kWidth, kHeight)) << "no headless OpenGL context";
}

void GLTest::TearDown() { gl.Destroy(); }

GLTest::RGBA GLTest::Pixel(int x, int y) {
  unsigned char p[4] = {0, 0, 0, 0};
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
  return RGBA{p[0], p[1], p[2], p[3]};
}

std::vector<unsigned char> GLTest::Frame() {
  std::vector<unsigned char> rgba;
  gl.ReadPixels(rgba);
  return rgba;
}

void GLTest::KeepFrame(const std::string& name) {
  if (!std::getenv("GLYMMER_KEEP_FRAMES")) return;
  std::string dir = std::string(GLYMMER_BINARY_DIR) + "/test-frames";
  mkdir(dir.c_str(), 0755);
  std::vector<unsigned char> rgba = Frame();
  WritePNG((dir + "/" + name + ".png").c_str(), gl.Width(), gl.Height(), rgba.data(), true);
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/glymmer-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data())) path = buffer.data();
}

static int RemoveEntry(const char* p, const struct stat*, int, struct FTW*) {
  std::remove(p);
  return 0;
}

TempDir::~TempDir() {
  if (!path.empty()) nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  std::string p = File(name);
  std::ofstream(p, std::ios::binary) << bytes;
  return p;
}

std::string TempDir::Write(const std::string& name, const std::vector<unsigned char>& bytes) const {
  return Write(name, std::string(bytes.begin(), bytes.end()));
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
