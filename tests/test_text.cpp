// The font cell table, captions and DrawString on a real GL context.

#include "support/TestSupport.h"

#include "maths/Misc.h"
#include "text/Text.h"

#include <GL/gl.h>

#include <cstdlib>
#include <string>

TEST(FontData, CellsFollowTheSheetLayout) {
  SetupText();
  EXPECT_EQ(0.0f, FontData[0].u);
  EXPECT_EQ(0.0f, FontData[0].v);
  EXPECT_EQ(0.0625f, FontData[17].u);
  EXPECT_EQ(0.125f, FontData[17].v);
  EXPECT_EQ(0.9375f, FontData[95].u);
  EXPECT_EQ(0.625f, FontData[95].v);
  FontCell copy[96];
  std::copy(FontData, FontData + 96, copy);
  SetupText();
  for (int i = 0; i < 96; ++i) {
    EXPECT_EQ(copy[i].u, FontData[i].u);
    EXPECT_EQ(copy[i].v, FontData[i].v);
  }
  CellRect a = CharacterRect('A');  // 65: index 33, column 1, row 2
  EXPECT_EQ(0.0625f, a.left);
  EXPECT_EQ(0.125f, a.right);
  EXPECT_EQ(0.75f, a.top);
  EXPECT_EQ(0.625f, a.bottom);
}

TEST(FontData, BytesOutsideTheTableUseTheQuestionMark) {
  for (int c : {0, 1, 10, 31, 128, 200, 255})
    EXPECT_EQ('?' - 32, FontIndex(static_cast<char>(c))) << "byte " << c;
  EXPECT_EQ(0, FontIndex(' '));
  EXPECT_EQ(95, FontIndex(static_cast<char>(127)));
}

TEST(CaptionSet, CutsTo55AndStartsInvisible) {
  Caption c;
  EXPECT_FALSE(c.active);
  std::string seventy(70, 'x');
  for (int i = 0; i < 70; ++i) seventy[i] = static_cast<char>('A' + i % 26);
  std::srand(7);
  c.Set(seventy.c_str(), MakePoint(1, 1, 1), 20, 20);
  EXPECT_TRUE(c.active);
  EXPECT_EQ(55, c.length);
  Caption d;
  std::srand(7);
  d.Set(seventy.substr(0, 55).c_str(), MakePoint(1, 1, 1), 20, 20);
  EXPECT_EQ(std::string(c.text, 55), std::string(d.text, 55));
  for (int i = 0; i < 55; ++i) {
    EXPECT_LE(c.alpha[i], -2.5f);
    EXPECT_GE(c.alpha[i], -4.49f - 1e-5f);
    EXPECT_EQ(c.alpha[i], d.alpha[i]) << "same draws for the same seed";
  }
}

class CaptionDraw : public GLTest {
protected:
  void SetUp() override {
    GLTest::SetUp();
    SetupText();
    // A font sheet whose every cell is opaque white, so a drawn letter is a
    // solid square of the caption's colour.
    unsigned char white[16 * 8 * 4];
    for (unsigned char& b : white) b = 255;
    glGenTextures(1, &font);
    glBindTexture(GL_TEXTURE_2D, font);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 16, 8, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
    glViewport(0, 0, kWidth, kHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, kWidth, 0, kHeight, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_TEXTURE_2D);
    glClearColor(0, 0, 0, 1);
  }

  // Clears, draws the caption at the centre of the frame, returns the number
  // of lit pixels.
  int DrawFrame(Caption& c, double elapsed) {
    glClear(GL_COLOR_BUFFER_BIT);
    glPushMatrix();
    glTranslatef(kWidth / 2.0f, kHeight / 2.0f, 0);
    c.Draw(font, elapsed);
    glPopMatrix();
    return LitPixels();
  }

  int LitPixels() {
    std::vector<unsigned char> rgba = Frame();
    int lit = 0;
    for (size_t i = 0; i < rgba.size(); i += 4)
      if (rgba[i] > 8) ++lit;
    return lit;
  }

  GLuint font = 0;
};

TEST_F(CaptionDraw, OneDrawShowsWhatLetterByLetterShows) {
  Caption c;
  std::srand(8);
  c.Set("Image: Red Sky", MakePoint(1, 0.5f, 0.25f), 12, 16);
  std::vector<unsigned char> frames[2];
  for (double t = 0; t < 6.4; t += 0.4) {  // some letters in, some not yet
    for (int way = 0; way < 2; ++way) {
      glClear(GL_COLOR_BUFFER_BIT);
      glPushMatrix();
      glTranslatef(kWidth / 2.0f, kHeight / 2.0f, 0);
      c.Draw(font, way == 0 ? 0.4 : 0.0, way == 1);
      glPopMatrix();
      frames[way] = Frame();
    }
    ASSERT_TRUE(frames[0] == frames[1]) << "at " << t << " s";
  }
  EXPECT_GT(LitPixels(), 0);
}

TEST_F(CaptionDraw, EmptyTextTurnsInactiveAtFirstDraw) {
  Caption c;
  c.Set("", MakePoint(1, 1, 1), 10, 16);
  EXPECT_TRUE(c.active);
  EXPECT_EQ(0, DrawFrame(c, 0.1));
  EXPECT_FALSE(c.active);
}

TEST_F(CaptionDraw, LettersAppearOneByOneHoldThenFadeOut) {
  Caption c;
  std::srand(3);
  c.Set("ABCDEFGH", MakePoint(1, 1, 1), 12, 16);
  // Letters overlap by a quarter: eight opaque letters of 16 cover
  // (7 * 12 + 16) x 16 pixels.
  const int fullArea = (7 * 12 + 16) * 16;
  int previous = 0;
  bool sawPartial = false;
  double t = 0;
  // Nothing shows for the first 5 seconds.
  for (; t < 4.9; t += 0.1) EXPECT_EQ(0, DrawFrame(c, 0.1)) << "at " << t;
  // Between 5 and about 11 seconds letters come in one by one.
  for (; t < 11.5; t += 0.1) {
    int lit = DrawFrame(c, 0.1);
    EXPECT_GE(lit, previous - 1) << "letters must not go away while fading in";
    if (lit > 0 && lit < fullArea * 3 / 4) sawPartial = true;
    previous = lit;
  }
  EXPECT_TRUE(sawPartial) << "letters should appear at different moments";
  EXPECT_EQ(fullArea, previous) << "all eight letters opaque by 11.5 s";
  // The timer (12 s) runs out: two seconds later everything has faded.
  for (; t < 14.2; t += 0.1) DrawFrame(c, 0.1);
  EXPECT_FALSE(c.active);
  EXPECT_EQ(0, DrawFrame(c, 0.1));
}

TEST_F(CaptionDraw, SpacesAdvanceButDrawNothingAndAlphaHoldsAtOne) {
  Caption c;
  c.Set("A B", MakePoint(1, 0, 0), 100, 20);
  for (int i = 0; i < 3; ++i) c.alpha[i] = 1;
  DrawFrame(c, 0.01);
  EXPECT_EQ(1.0f, c.alpha[0]) << "an alpha of exactly 1 is held";
  // Layout: start at -(3 + 2) * 20 * 0.75 / 2 = -37.5, each letter advances
  // 15 before it is drawn: A at [-22.5, -2.5], space at [-7.5, ...] (none),
  // B at [7.5, 27.5], around the centre 128.
  EXPECT_GT(Pixel(128 - 12, 128).r, 200);
  EXPECT_EQ(0, Pixel(128 - 12, 128).g) << "caption colour is red";
  EXPECT_EQ(0, Pixel(128 + 3, 128).r) << "the space leaves a gap";
  EXPECT_GT(Pixel(128 + 17, 128).r, 200);
  EXPECT_EQ(0, Pixel(128 + 17, 128 + 12).r) << "letters are size/2 tall above the baseline";
  EXPECT_EQ(2, c.length - 1);
  GLfloat colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  EXPECT_EQ(1.0f, colour[0]);
  EXPECT_EQ(1.0f, colour[1]);
  EXPECT_EQ(GL_FALSE, glIsEnabled(GL_BLEND));
}

TEST_F(CaptionDraw, InactiveCaptionDoesNotAge) {
  Caption c;
  c.Set("AB", MakePoint(1, 1, 1), 5, 16);
  c.active = false;
  float timer = c.timer;
  DrawFrame(c, 3);
  EXPECT_EQ(timer, c.timer);
}

TEST_F(CaptionDraw, DrawStringUsesOpacityAndCaptionLayout) {
  glClear(GL_COLOR_BUFFER_BIT);
  glPushMatrix();
  glTranslatef(128, 128, 0);
  DrawString("A B", 20, 0.5f, font);
  glPopMatrix();
  GLTest::RGBA a = Pixel(128 - 12, 128);
  EXPECT_NEAR(128, a.r, 2) << "half opacity over black";
  EXPECT_EQ(0, Pixel(128 + 3, 128).r);
  EXPECT_NEAR(128, Pixel(128 + 17, 128).g, 2);
  EXPECT_EQ(GL_FALSE, glIsEnabled(GL_BLEND));
}

TEST_F(CaptionDraw, ForeignBytesDrawTheQuestionMarkCell) {
  // A sheet with only the '?' cell lit: a name of non-ASCII bytes must show it.
  unsigned char sheet[16 * 8 * 4] = {};
  int index = '?' - 32;  // column 15, row 1 from the top
  int row = 7 - index / 16, column = index % 16;
  for (int k = 0; k < 4; ++k) sheet[(row * 16 + column) * 4 + k] = 255;
  glBindTexture(GL_TEXTURE_2D, font);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 16, 8, 0, GL_RGBA, GL_UNSIGNED_BYTE, sheet);
  Caption c;
  c.Set("\xc3\xa9\x01", MakePoint(1, 1, 1), 100, 20);
  for (int i = 0; i < 3; ++i) c.alpha[i] = 1;
  EXPECT_EQ((2 * 15 + 20) * 20, DrawFrame(c, 0.01)) << "three '?' cells, overlapping by a quarter";
}
