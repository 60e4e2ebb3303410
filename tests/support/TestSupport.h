// Shared helpers for the test suite: a real headless GL context, temporary
// folders, and reading pixels back.
#pragma once

#include <gtest/gtest.h>

#include "platform/gl/HeadlessGL.h"

#include <string>
#include <vector>

// A fixture that owns a real OpenGL context on a pbuffer for each test.
class GLTest : public ::testing::Test {
protected:
  static constexpr int kWidth = 256;
  static constexpr int kHeight = 256;
  void SetUp() override;
  void TearDown() override;

  // RGBA of pixel (x, y), y counted from the bottom as GL does.
  struct RGBA { int r, g, b, a; };
  RGBA Pixel(int x, int y);
  // Reads the whole pbuffer (rows bottom first).
  std::vector<unsigned char> Frame();
  // Saves the current frame under the build tree's test-output folder when
  // GLYMMER_KEEP_FRAMES is set, for a person to look at.
  void KeepFrame(const std::string& name);

  HeadlessGL gl;
};

// A fresh folder under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path; }
  // Path of a file inside the folder.
  std::string File(const std::string& name) const { return path + "/" + name; }
  // Writes bytes into a file inside the folder; returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) const;

private:
  std::string path;
};

std::string ReadFileBytes(const std::string& path);
