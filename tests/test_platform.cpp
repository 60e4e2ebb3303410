// The headless OpenGL context the rest of the suite draws on, and the
// watcher's fork of its saver.

#include "support/TestSupport.h"

#include "platform/IdleLoop.h"

#include <GL/gl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

TEST(HeadlessGL, GivesACompatibilityContextThatDrawsImmediateMode) {
  HeadlessGL gl;
  ASSERT_TRUE(gl.Create(64, 32));
  EXPECT_EQ(64, gl.Width());
  EXPECT_EQ(32, gl.Height());
  EXPECT_STRNE("", gl.Renderer());

  glViewport(0, 0, 64, 32);
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 64, 0, 32, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glColor3f(0, 1, 0);
  glBegin(GL_QUADS);
  glVertex2f(0, 0);
  glVertex2f(32, 0);
  glVertex2f(32, 32);
  glVertex2f(0, 32);
  glEnd();
  std::vector<unsigned char> rgba;
  ASSERT_TRUE(gl.ReadPixels(rgba));
  ASSERT_EQ(64u * 32u * 4u, rgba.size());
  // Left half green, right half still the red clear.
  EXPECT_EQ(0, rgba[(10 * 64 + 5) * 4 + 0]);
  EXPECT_EQ(255, rgba[(10 * 64 + 5) * 4 + 1]);
  EXPECT_EQ(255, rgba[(10 * 64 + 50) * 4 + 0]);
  EXPECT_EQ(0, rgba[(10 * 64 + 50) * 4 + 1]);
}

TEST(HeadlessGL, ResizeKeepsTheContextAndItsObjects) {
  HeadlessGL gl;
  ASSERT_TRUE(gl.Create(16, 16));
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  ASSERT_TRUE(gl.Resize(40, 20));
  EXPECT_EQ(40, gl.Width());
  EXPECT_EQ(GL_TRUE, glIsTexture(name));
  std::vector<unsigned char> rgba;
  ASSERT_TRUE(gl.ReadPixels(rgba));
  EXPECT_EQ(40u * 20u * 4u, rgba.size());
}

TEST(HeadlessGL, TwoContextsKeepTheirOwnNames) {
  HeadlessGL a, b;
  ASSERT_TRUE(a.Create(8, 8));
  GLuint inA = 0;
  glGenTextures(1, &inA);
  glBindTexture(GL_TEXTURE_2D, inA);
  ASSERT_TRUE(b.Create(8, 8));
  EXPECT_EQ(GL_FALSE, glIsTexture(inA)) << "a texture of one context is visible in another";
  a.Destroy();
  ASSERT_TRUE(b.MakeCurrent());
  glClearColor(0, 0, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  std::vector<unsigned char> rgba;
  ASSERT_TRUE(b.ReadPixels(rgba));
  EXPECT_EQ(255, rgba[2]);
}

TEST(HeadlessGL, DestroyTwiceIsHarmless) {
  HeadlessGL gl;
  ASSERT_TRUE(gl.Create(4, 4));
  gl.Destroy();
  gl.Destroy();
  EXPECT_FALSE(gl.IsValid());
  EXPECT_FALSE(gl.MakeCurrent());
}

TEST(HeadlessGL, ReadPixelsIsNotFailedByAnEarlierCallsError) {
  HeadlessGL gl;
  ASSERT_TRUE(gl.Create(8, 8));
  glMatrixMode(GL_PROJECTION);
  glOrtho(0, 0, 0, 0, -1, 1);  // an empty box: GL_INVALID_VALUE, left pending
  std::vector<unsigned char> rgba;
  EXPECT_TRUE(gl.ReadPixels(rgba)) << "a stale error was reported as the read's";
  EXPECT_EQ(8u * 8u * 4u, rgba.size());
  EXPECT_EQ(static_cast<GLenum>(GL_NO_ERROR), glGetError());
}

// The watcher's stop signals are GLib's, whose handler only notes a signal
// for the loop: a child that met SIGTERM before its exec would run on.
TEST(ForkWithDefaultSignals, AStopSignalBeforeExecEndsTheChild) {
  IdleLoop loop;
  loop.WatchStopSignals([](int) {});
  int child = ForkWithDefaultSignals();
  ASSERT_GE(child, 0);
  if (child == 0) {
    raise(SIGTERM);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
      << "the child lived through SIGTERM (wait status " << status << ")";
}
