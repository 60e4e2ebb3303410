// Textures and resources: the TGA reader in both forms, texture upload on a
// real GL context, the resource archive, and the built-in art.

#include "support/TestSupport.h"

#include "platform/gtk/Alert.h"
#include "text/Text.h"
#include "textures/ResFile.h"
#include "textures/TGALoader.h"
#include "textures/Texture.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Building test files.

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

// An 18-byte TGA header followed by `body`.
std::string Tga(int type, int width, int height, int bits, const std::string& body) {
  std::string s(18, '\0');
  s[2] = static_cast<char>(type);
  s[12] = static_cast<char>(width & 0xff);
  s[13] = static_cast<char>(width >> 8);
  s[14] = static_cast<char>(height & 0xff);
  s[15] = static_cast<char>(height >> 8);
  s[16] = static_cast<char>(bits);
  return s + body;
}

std::string Repeat(const std::string& part, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += part;
  return s;
}

void Put32(std::string* s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*s)[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

void Append32(std::string* s, uint32_t v) {
  s->resize(s->size() + 4);
  Put32(s, s->size() - 4, v);
}

struct TestLump {
  int32_t type;
  int32_t alphaMode;
  std::string data;
};

// Header, lump data, directory; the check value matches the length.
std::string Archive(const std::vector<TestLump>& lumps) {
  std::string s(24, '\0');
  s.replace(0, 4, "KAMB");
  std::vector<uint32_t> offsets;
  for (const TestLump& l : lumps) {
    offsets.push_back(static_cast<uint32_t>(s.size()));
    s += l.data;
  }
  const uint32_t dir = static_cast<uint32_t>(s.size());
  for (size_t i = 0; i < lumps.size(); ++i) {
    Append32(&s, static_cast<uint32_t>(lumps[i].data.size()));
    Append32(&s, offsets[i]);
    Append32(&s, static_cast<uint32_t>(lumps[i].type));
    Append32(&s, static_cast<uint32_t>(lumps[i].alphaMode));
    s.append(12, '\0');
  }
  Put32(&s, 12, static_cast<uint32_t>(lumps.size()));
  Put32(&s, 20, dir);
  Put32(&s, 16, ~static_cast<uint32_t>(s.size()));
  return s;
}

// Makes the check value match the archive's present length again.
void FixCheck(std::string* s) { Put32(s, 16, ~static_cast<uint32_t>(s->size())); }

// A 24-bit type 2 image of one colour (given as red, green, blue).
std::string Plain(int width, int height, int r, int g, int b) {
  return Tga(2, width, height, 24, Repeat(Bytes({b, g, r}), width * height));
}

std::string Describe(const std::vector<AlertRecord>& alerts) {
  std::string s;
  for (const AlertRecord& a : alerts) s += "[" + a.title + ": " + a.message + "] ";
  return s.empty() ? "no alert" : s;
}

// Alerts are recorded, not echoed, so that the test log stays readable.
class QuietAlerts {
public:
  QuietAlerts() {
    SetAlertEcho(false);
    ClearAlertsShown();
  }
  ~QuietAlerts() { SetAlertEcho(true); }
};

// ---------------------------------------------------------------------------
// The TGA reader, run through both entry points.

enum class Form { Path, Stream };

class TGAReader : public ::testing::TestWithParam<Form> {
protected:
  // Reads `bytes` as a file through the form under test.
  bool Load(const std::string& bytes, Texture* t) {
    std::string path = dir.Write("image.tga", bytes);
    if (GetParam() == Form::Path) return LoadTGA(t, path.c_str());
    std::ifstream in(path, std::ios::binary);
    return LoadTGA2(t, &in);
  }

  // Expects the read to fail with exactly one alert and no pixels left.
  void ExpectRefused(const std::string& bytes, const char* message,
                     const char* title = "ERROR") {
    ClearAlertsShown();
    Texture t;
    t.glName = 77;  // must survive a failed read
    EXPECT_FALSE(Load(bytes, &t)) << "expected the refusal \"" << message << "\"";
    std::vector<AlertRecord> alerts = AlertsShown();
    ASSERT_EQ(1u, alerts.size()) << "expected one alert \"" << message << "\", got "
                                 << Describe(alerts);
    EXPECT_EQ(title, alerts[0].title);
    EXPECT_EQ(message, alerts[0].message);
    EXPECT_EQ(nullptr, t.pixels) << "a failed read must not leave a pixel buffer";
    EXPECT_EQ(77u, t.glName) << "a read never touches the GL name";
    t.glName = 0;
  }

  void ExpectNoAlert() { EXPECT_TRUE(AlertsShown().empty()) << Describe(AlertsShown()); }

  QuietAlerts quiet;
  TempDir dir;
};

TEST_P(TGAReader, UncompressedTwentyFourBitsBecomesRedGreenBlueInStoredRowOrder) {
  // Stored blue-green-red, first row first.
  std::string body = Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  Texture t;
  ASSERT_TRUE(Load(Tga(2, 2, 2, 24, body), &t)) << Describe(AlertsShown());
  ExpectNoAlert();
  EXPECT_EQ(2u, t.width);
  EXPECT_EQ(2u, t.height);
  EXPECT_EQ(24u, t.bitsPerPixel);
  EXPECT_EQ(static_cast<unsigned>(GL_RGB), t.pixelFormat);
  ASSERT_NE(nullptr, t.pixels);
  const std::vector<int> want = {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10};
  EXPECT_EQ(want, std::vector<int>(t.pixels, t.pixels + 12));
  EXPECT_EQ(0u, t.glName);
}

TEST_P(TGAReader, UncompressedThirtyTwoBitsKeepsAlpha) {
  std::string body = Bytes({10, 20, 30, 40, 50, 60, 70, 0});
  Texture t;
  ASSERT_TRUE(Load(Tga(2, 2, 1, 32, body), &t)) << Describe(AlertsShown());
  EXPECT_EQ(static_cast<unsigned>(GL_RGBA), t.pixelFormat);
  EXPECT_EQ(32u, t.bitsPerPixel);
  const std::vector<int> want = {30, 20, 10, 40, 70, 60, 50, 0};
  EXPECT_EQ(want, std::vector<int>(t.pixels, t.pixels + 8));
}

TEST_P(TGAReader, RunLengthPacketsCrossRowsAndMixWithRawPackets) {
  // 3 x 2: a run of 4 (through the end of row 0 into row 1), then 2 raw.
  std::string body = Bytes({128 + 3, 1, 2, 3, 1, 7, 8, 9, 4, 5, 6});
  Texture t;
  ASSERT_TRUE(Load(Tga(10, 3, 2, 24, body), &t)) << Describe(AlertsShown());
  ExpectNoAlert();
  const std::vector<int> want = {3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 9, 8, 7, 6, 5, 4};
  EXPECT_EQ(want, std::vector<int>(t.pixels, t.pixels + 18));
}

TEST_P(TGAReader, RunLengthThirtyTwoBitsKeepsAlphaInRunsAndRawPackets) {
  std::string body = Bytes({128 + 1, 1, 2, 3, 4, 0, 5, 6, 7, 8});
  Texture t;
  ASSERT_TRUE(Load(Tga(10, 3, 1, 32, body), &t)) << Describe(AlertsShown());
  EXPECT_EQ(static_cast<unsigned>(GL_RGBA), t.pixelFormat);
  const std::vector<int> want = {3, 2, 1, 4, 3, 2, 1, 4, 7, 6, 5, 8};
  EXPECT_EQ(want, std::vector<int>(t.pixels, t.pixels + 12));
}

TEST_P(TGAReader, LongestRunFillsExactlyOneHundredTwentyEightPixels) {
  std::string packet = Bytes({255, 10, 20, 30});
  Texture t;
  ASSERT_TRUE(Load(Tga(10, 16, 8, 24, packet), &t)) << Describe(AlertsShown());
  for (int i = 0; i < 128; ++i) {
    ASSERT_EQ(30, t.pixels[i * 3]) << "pixel " << i;
    ASSERT_EQ(10, t.pixels[i * 3 + 2]) << "pixel " << i;
  }
  // The same packet is one pixel too many for 127.
  ExpectRefused(Tga(10, 127, 1, 24, packet), "Too many pixels read");
}

TEST_P(TGAReader, RawPacketPastTheLastPixelIsRefused) {
  ExpectRefused(Tga(10, 2, 1, 24, Bytes({2, 1, 1, 1, 2, 2, 2, 3, 3, 3})),
                "Too many pixels read");
}

TEST_P(TGAReader, ShortRunLengthDataGivesTheAlertOfWhereItStopped) {
  // One pixel short, and the file ends there.
  ExpectRefused(Tga(10, 4, 1, 24, Bytes({128 + 2, 1, 2, 3})), "Could not read RLE header");
  // A raw packet whose second pixel is cut short.
  ExpectRefused(Tga(10, 4, 1, 24, Bytes({1, 1, 2, 3, 4, 5})), "Could not read image data");
  // A run packet without its whole pixel.
  ExpectRefused(Tga(10, 4, 1, 32, Bytes({128 + 3, 1, 2, 3})), "Could not read from file");
}

TEST_P(TGAReader, ShortUncompressedDataIsRefused) {
  ExpectRefused(Tga(2, 2, 2, 24, Repeat(Bytes({1, 2, 3}), 3) + Bytes({4, 5})),
                "Could not read image data");
}

TEST_P(TGAReader, BadImageInformationIsRefused) {
  ExpectRefused(Tga(2, 2, 2, 16, Repeat(Bytes({1, 2}), 4)), "Invalid texture information");
  ExpectRefused(Tga(2, 0, 2, 24, ""), "Invalid texture information");
  ExpectRefused(Tga(10, 2, 0, 24, ""), "Invalid texture information");
  ExpectRefused(Tga(2, 2, 2, 8, Repeat(Bytes({1}), 4)), "Invalid texture information");
}

TEST_P(TGAReader, SizesWhoseRGBAFormPassesThirtyTwoBitsAreRefusedBeforeAnyRead) {
  // 65535 x 65535 x 4 wraps a 32-bit size; so does 32768 x 32768 x 4 = 2^32
  // exactly. The run-length body would otherwise write past a small buffer.
  const std::string run = Repeat(Bytes({255, 1, 2, 3, 4}), 64);
  ExpectRefused(Tga(10, 65535, 65535, 32, run), "Invalid texture information");
  ExpectRefused(Tga(10, 65535, 65535, 24, run), "Invalid texture information");
  ExpectRefused(Tga(2, 32768, 32768, 24, run), "Invalid texture information");
}

// Images far larger than the reader's first buffer arrive whole and in order.
TEST_P(TGAReader, LargeImagesArriveWhole) {
  const int w = 600, h = 400;
  std::string plain, packets;
  std::vector<unsigned char> want;
  for (int i = 0; i < w * h; ++i) {
    const int b = i % 251, g = (i / 7) % 253, r = (i / 600) % 256;
    plain += Bytes({b, g, r, i % 256});
    want.insert(want.end(), {static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                             static_cast<unsigned char>(b), static_cast<unsigned char>(i % 256)});
  }
  Texture t;
  ASSERT_TRUE(Load(Tga(2, w, h, 32, plain), &t)) << Describe(AlertsShown());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), t.pixels)) << "uncompressed pixels differ";

  // Each row: a run of 100, then a raw packet of 128 distinct pixels.
  const int rleWidth = 228;
  std::vector<unsigned char> wantRle;
  for (int k = 0; k < h; ++k) {
    const unsigned char c = static_cast<unsigned char>(k % 256);
    packets += Bytes({128 + 99, c, 1, 2});
    for (int i = 0; i < 100; ++i) wantRle.insert(wantRle.end(), {2, 1, c});
    packets += Bytes({127});
    for (int i = 0; i < 128; ++i) {
      packets += Bytes({i, c, 9});
      wantRle.insert(wantRle.end(), {9, c, static_cast<unsigned char>(i)});
    }
  }
  Texture u;
  ASSERT_TRUE(Load(Tga(10, rleWidth, h, 24, packets), &u)) << Describe(AlertsShown());
  EXPECT_TRUE(std::equal(wantRle.begin(), wantRle.end(), u.pixels)) << "run-length pixels differ";
}

// Memory is taken as pixels arrive: a header that claims 4 GiB over a few
// bytes of data must end in the short-data alert even when the process may not
// have 4 GiB, not in an allocation failure (or a 4 GiB allocation).
TEST_P(TGAReader, HugeClaimsOverLittleDataTakeLittleMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs an unlimited address space";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "AddressSanitizer needs an unlimited address space";
#endif
#endif
  const std::string uncompressed = Tga(2, 32767, 32768, 32, Repeat(Bytes({1, 2, 3, 4}), 1000));
  const std::string runLength = Tga(10, 32767, 32768, 32, Repeat(Bytes({255, 1, 2, 3, 4}), 100));
  const std::string u = dir.Write("u.tga", uncompressed);
  const std::string r = dir.Write("r.tga", runLength);
  const Form form = GetParam();
  auto child = [&](const std::string& path, const char* expected) {
    struct rlimit limit = {512u << 20, 512u << 20};
    setrlimit(RLIMIT_AS, &limit);
    Texture t;
    bool ok;
    if (form == Form::Path) {
      ok = LoadTGA(&t, path.c_str());
    } else {
      std::ifstream in(path, std::ios::binary);
      ok = LoadTGA2(&t, &in);
    }
    std::vector<AlertRecord> alerts = AlertsShown();
    std::exit(!ok && alerts.size() == 1 && alerts[0].message == expected ? 0 : 1);
  };
  EXPECT_EXIT(child(u, "Could not read image data"), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(child(r, "Could not read RLE header"), ::testing::ExitedWithCode(0), "");
}

TEST_P(TGAReader, OnlyTrueColourWithoutIDOrColourMapIsAccepted) {
  std::string good = Plain(1, 1, 1, 2, 3);
  std::string withID = good;
  withID[0] = 3;  // an ID field
  ExpectRefused(withID + "abc", "TGA file be type 2 or type 10 ", "Invalid Image");
  std::string colourMapped = good;
  colourMapped[1] = 1;
  colourMapped[2] = 1;
  ExpectRefused(colourMapped, "TGA file be type 2 or type 10 ", "Invalid Image");
  std::string grey = good;
  grey[2] = 3;
  ExpectRefused(grey, "TGA file be type 2 or type 10 ", "Invalid Image");
  std::string origin = good;
  origin[8] = 1;  // non-zero x origin
  ExpectRefused(origin, "TGA file be type 2 or type 10 ", "Invalid Image");
}

TEST_P(TGAReader, ShortHeadersAreRefused) {
  ExpectRefused(std::string(11, '\0'), "Could not read file header");
  ExpectRefused("", "Could not read file header");
  ExpectRefused(Tga(2, 1, 1, 24, "").substr(0, 17), "Could not read info header");
}

TEST_P(TGAReader, ARefilledRecordDropsItsOldPixelsFirst) {
  Texture t;
  ASSERT_TRUE(Load(Plain(2, 2, 1, 2, 3), &t));
  ASSERT_NE(nullptr, t.pixels);
  // A refused image must not leave the old 2 x 2 pixels under its own, larger
  // size, where an upload would read past them.
  EXPECT_FALSE(Load(Tga(2, 64, 64, 16, ""), &t));
  EXPECT_EQ(nullptr, t.pixels);
  EXPECT_EQ(64u, t.width);
  ASSERT_TRUE(Load(Plain(2, 2, 1, 2, 3), &t));
  EXPECT_FALSE(Load(Tga(2, 64, 64, 24, ""), &t));
  EXPECT_EQ(nullptr, t.pixels);
}

INSTANTIATE_TEST_SUITE_P(BothForms, TGAReader, ::testing::Values(Form::Path, Form::Stream),
                         [](const ::testing::TestParamInfo<Form>& info) {
                           return info.param == Form::Path ? "Path" : "Stream";
                         });

TEST(TGAEntryPoints, MissingFileOrStreamIsRefused) {
  QuietAlerts quiet;
  Texture t;
  EXPECT_FALSE(LoadTGA(&t, "/nonexistent/glymmer/none.tga"));
  EXPECT_FALSE(LoadTGA2(&t, nullptr));
  std::ifstream closed;
  EXPECT_FALSE(LoadTGA2(&t, &closed));
  std::vector<AlertRecord> alerts = AlertsShown();
  ASSERT_EQ(3u, alerts.size()) << Describe(alerts);
  for (const AlertRecord& a : alerts) {
    EXPECT_EQ("ERROR", a.title);
    EXPECT_EQ("Could not open texture file", a.message);
  }
}

TEST(TGAEntryPoints, StreamFormReadsImagesBackToBackAndFailsAtTheEnd) {
  QuietAlerts quiet;
  TempDir dir;
  std::string first = Plain(2, 1, 10, 20, 30);
  std::string second = Tga(10, 3, 1, 24, Bytes({128 + 2, 7, 8, 9}));
  std::string path = dir.Write("two.tga", first + second);
  std::ifstream in(path, std::ios::binary);
  Texture a, b, c;
  ASSERT_TRUE(LoadTGA2(&a, &in));
  EXPECT_EQ(static_cast<std::streamoff>(first.size()), static_cast<std::streamoff>(in.tellg()))
      << "the stream must stand just after the first image";
  ASSERT_TRUE(LoadTGA2(&b, &in));
  EXPECT_EQ(3u, b.width);
  EXPECT_EQ(9, b.pixels[0]);
  EXPECT_TRUE(AlertsShown().empty()) << Describe(AlertsShown());
  EXPECT_FALSE(LoadTGA2(&c, &in));
  std::vector<AlertRecord> alerts = AlertsShown();
  ASSERT_EQ(1u, alerts.size()) << Describe(alerts);
  EXPECT_EQ("Could not read file header", alerts[0].message);
}

TEST(Alert, ShowsOneLineWithTitleThenMessageOnStandardError) {
  ClearAlertsShown();
  SetAlertEcho(true);
  ::testing::internal::CaptureStderr();
  MessageBox(nullptr, "Could not read RLE header", "ERROR", 0);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ("ERROR: Could not read RLE header\n", err);
  std::vector<AlertRecord> alerts = AlertsShown();
  ASSERT_EQ(1u, alerts.size());
  EXPECT_EQ("ERROR", alerts[0].title);
  EXPECT_EQ("Could not read RLE header", alerts[0].message);

  // Line breaks in a message cannot split the line.
  ::testing::internal::CaptureStderr();
  MessageBox(nullptr, "two\nlines", "Title", 0);
  EXPECT_EQ("Title: two lines\n", ::testing::internal::GetCapturedStderr());
  ClearAlertsShown();
  EXPECT_TRUE(AlertsShown().empty());
}

TEST(Alert, KeepsOnlyTheLatestAlerts) {
  QuietAlerts quiet;
  for (int i = 0; i < 200; ++i) MessageBox(nullptr, std::to_string(i).c_str(), "T", 0);
  std::vector<AlertRecord> alerts = AlertsShown();
  ASSERT_EQ(64u, alerts.size());
  EXPECT_EQ("199", alerts.back().message);
  EXPECT_EQ("136", alerts.front().message);
}

// ---------------------------------------------------------------------------
// Upload to OpenGL.

class TextureUpload : public GLTest {
protected:
  // The texture's level 0 as RGBA bytes.
  std::vector<unsigned char> ReadBack(unsigned int name, int* width, int* height) {
    glBindTexture(GL_TEXTURE_2D, name);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, height);
    std::vector<unsigned char> rgba(static_cast<size_t>(*width) * *height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
  }

  // A record holding a copy of `bytes` as its malloc'd pixels.
  static void Fill(Texture* t, int width, int height, unsigned int format,
                   const std::vector<unsigned char>& bytes) {
    t->width = width;
    t->height = height;
    t->pixelFormat = format;
    t->bitsPerPixel = format == GL_RGBA ? 32 : 24;
    t->pixels = static_cast<unsigned char*>(std::malloc(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), t->pixels);
  }

  static std::vector<int> Alphas(const std::vector<unsigned char>& rgba) {
    std::vector<int> a;
    for (size_t i = 3; i < rgba.size(); i += 4) a.push_back(rgba[i]);
    return a;
  }
};

TEST_F(TextureUpload, ColourKeyHidesEveryPixelOfTheFirstPixelsColour) {
  Texture t;
  // 32-bit source: the alpha bytes are ignored whatever they say.
  Fill(&t, 4, 1, GL_RGBA, {0, 0, 0, 255, 9, 9, 9, 0, 0, 0, 0, 200, 0, 0, 1, 0});
  ASSERT_TRUE(BuildTexture(&t, 1));
  int w = 0, h = 0;
  std::vector<unsigned char> rgba = ReadBack(t.glName, &w, &h);
  EXPECT_EQ((std::vector<int>{0, 255, 0, 255}), Alphas(rgba));
  EXPECT_EQ(9, rgba[4]);
}

TEST_F(TextureUpload, BrightnessTakesTheLargestChannel) {
  Texture t;
  Fill(&t, 4, 1, GL_RGB, {255, 0, 0, 128, 128, 128, 0, 0, 0, 10, 200, 30});
  ASSERT_TRUE(BuildTexture(&t, 2));
  int w = 0, h = 0;
  EXPECT_EQ((std::vector<int>{255, 128, 0, 200}), Alphas(ReadBack(t.glName, &w, &h)));
}

TEST_F(TextureUpload, OtherModesAreOpaqueEvenWithASourceAlpha) {
  for (int mode : {0, 3, -1}) {
    Texture t;
    Fill(&t, 2, 1, GL_RGBA, {1, 2, 3, 0, 4, 5, 6, 17});
    ASSERT_TRUE(BuildTexture(&t, mode));
    int w = 0, h = 0;
    std::vector<unsigned char> rgba = ReadBack(t.glName, &w, &h);
    EXPECT_EQ((std::vector<int>{255, 255}), Alphas(rgba)) << "mode " << mode;
    EXPECT_EQ((std::vector<unsigned char>{1, 2, 3, 255, 4, 5, 6, 255}), rgba);
  }
}

TEST_F(TextureUpload, SizeIsKeptAndRowsAreNotFlipped) {
  Texture one;
  Fill(&one, 1, 1, GL_RGB, {7, 8, 9});
  ASSERT_TRUE(BuildTexture(&one, 0));
  int w = 0, h = 0;
  ReadBack(one.glName, &w, &h);
  EXPECT_EQ(1, w);
  EXPECT_EQ(1, h);

  std::vector<unsigned char> bytes;
  for (int i = 0; i < 15; ++i) {
    bytes.push_back(static_cast<unsigned char>(i * 10));
    bytes.push_back(static_cast<unsigned char>(i));
    bytes.push_back(0);
  }
  Texture odd;
  Fill(&odd, 3, 5, GL_RGB, bytes);
  ASSERT_TRUE(BuildTexture(&odd, 0));
  std::vector<unsigned char> rgba = ReadBack(odd.glName, &w, &h);
  EXPECT_EQ(3, w);
  EXPECT_EQ(5, h);
  for (int i = 0; i < 15; ++i) {
    EXPECT_EQ(i, rgba[i * 4 + 1]) << "texel " << i << " must be source pixel " << i;
  }
}

TEST_F(TextureUpload, ABuiltRecordHoldsOnlyItsNameAndDeletesIt) {
  GLuint name = 0;
  {
    Texture t;
    Fill(&t, 2, 2, GL_RGB, std::vector<unsigned char>(12, 50));
    ASSERT_TRUE(BuildTexture(&t, 0));
    EXPECT_EQ(nullptr, t.pixels);
    name = t.glName;
    ASSERT_NE(0u, name);
    EXPECT_EQ(GL_TRUE, glIsTexture(name));
    GLint value = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &value);
    EXPECT_EQ(GL_REPEAT, value);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &value);
    EXPECT_EQ(GL_REPEAT, value);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &value);
    EXPECT_EQ(GL_LINEAR, value);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &value);
    EXPECT_EQ(GL_LINEAR, value);
  }
  EXPECT_EQ(GL_FALSE, glIsTexture(name)) << "the destructor must delete the texture";
}

TEST_F(TextureUpload, OutOfRangeSizesAreRefusedAndKeepThePixels) {
  Texture t;
  Fill(&t, 1, 1, GL_RGB, {1, 2, 3});
  unsigned char* pixels = t.pixels;
  t.width = 65536;  // 65536 x 16384 x 4 = 2^32
  t.height = 16384;
  EXPECT_FALSE(BuildTexture(&t, 0));
  EXPECT_EQ(pixels, t.pixels);
  EXPECT_EQ(0u, t.glName);
  t.width = 0;
  t.height = 1;
  EXPECT_FALSE(BuildTexture(&t, 2));
  EXPECT_EQ(pixels, t.pixels);
  Texture empty;
  EXPECT_FALSE(BuildTexture(&empty, 0));
}

TEST_F(TextureUpload, SeparateAlphaComesFromTheFirstByteOfEachPixel) {
  Texture t;
  Fill(&t, 3, 1, GL_RGB, {10, 20, 30, 40, 50, 60, 70, 80, 90});
  std::vector<unsigned char> second = {0, 1, 2, 128, 3, 4, 255, 5, 6};
  unsigned char* alpha = second.data();
  ASSERT_TRUE(BuildTGATextureWithAlpha(&t, &alpha));
  EXPECT_EQ(nullptr, t.pixels);
  EXPECT_EQ(second.data(), alpha);
  EXPECT_EQ((std::vector<unsigned char>{0, 1, 2, 128, 3, 4, 255, 5, 6}), second);
  int w = 0, h = 0;
  std::vector<unsigned char> rgba = ReadBack(t.glName, &w, &h);
  EXPECT_EQ((std::vector<unsigned char>{10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255}), rgba);
  unsigned char* none = nullptr;
  Texture u;
  Fill(&u, 1, 1, GL_RGB, {1, 2, 3});
  EXPECT_FALSE(BuildTGATextureWithAlpha(&u, &none));
  EXPECT_NE(nullptr, u.pixels);
}

// ---------------------------------------------------------------------------
// The resource archive.

class Archives : public ::testing::Test {
protected:
  std::string Write(const std::string& bytes) { return dir.Write("test.vostrelli", bytes); }
  QuietAlerts quiet;
  TempDir dir;
};

TEST_F(Archives, EmptyArchiveOpensAndReadsTheHeader) {
  std::string bytes = Archive({});
  RESFILE r;
  EXPECT_EQ(0u, r.fileSize);
  EXPECT_EQ(nullptr, r.lumps);
  ASSERT_TRUE(r.Open(Write(bytes).c_str()));
  EXPECT_EQ(24u, r.fileSize);
  EXPECT_EQ(0u, r.header.lumpCount);
  EXPECT_EQ(~24u, r.header.check);
  EXPECT_TRUE(r.stream.is_open());
  EXPECT_FALSE(r.SeekLump(0));
  r.Close();
  r.Close();
  EXPECT_FALSE(r.stream.is_open());
  EXPECT_EQ(nullptr, r.lumps);
}

TEST_F(Archives, CheckValueMustMatchTheLength) {
  std::string bytes = Archive({{1, 0, Plain(1, 1, 1, 2, 3)}});
  RESFILE r;
  EXPECT_TRUE(r.Open(Write(bytes).c_str()));
  EXPECT_FALSE(r.Open(Write(bytes + "x").c_str())) << "one byte appended";
  EXPECT_FALSE(r.stream.is_open());
  EXPECT_EQ(nullptr, r.lumps);
  std::string wrong = bytes;
  Put32(&wrong, 16, static_cast<uint32_t>(bytes.size()));  // not complemented
  EXPECT_FALSE(r.Open(Write(wrong).c_str()));
}

TEST_F(Archives, EveryCharacterOfTheMagicCounts) {
  std::string bytes = Archive({});
  for (int i = 0; i < 4; ++i) {
    std::string changed = bytes;
    changed[i] = static_cast<char>(changed[i] ^ 0x20);
    RESFILE r;
    EXPECT_FALSE(r.Open(Write(changed).c_str())) << "magic character " << i << " changed";
  }
}

TEST_F(Archives, MissingOrShortFilesAreRefused) {
  RESFILE r;
  EXPECT_FALSE(r.Open(dir.File("none").c_str()));
  EXPECT_FALSE(r.Open(nullptr));
  std::string shortHeader = Archive({}).substr(0, 20);
  EXPECT_FALSE(r.Open(Write(shortHeader).c_str()));
  EXPECT_FALSE(r.Open(dir.Path().c_str())) << "a folder is not an archive";
  EXPECT_TRUE(AlertsShown().empty()) << "archive refusals are silent";
}

TEST_F(Archives, DirectoryCutShortIsRefused) {
  std::string bytes = Archive({{0, 0, "abcd"}, {0, 0, "efgh"}});
  bytes.resize(bytes.size() - 5);  // the last entry loses 5 of its 28 bytes
  FixCheck(&bytes);
  RESFILE r;
  EXPECT_FALSE(r.Open(Write(bytes).c_str()));
}

TEST_F(Archives, DirectoryOutsideTheFileIsRefusedWithoutAllocatingIt) {
  std::string bytes = Archive({{0, 0, "abcd"}});
  RESFILE r;
  std::string absurd = bytes;
  Put32(&absurd, 12, 0x7fffffffu);  // ~56 GiB of directory in a tiny file
  EXPECT_FALSE(r.Open(Write(absurd).c_str()));
  Put32(&absurd, 12, 0x80000000u);
  EXPECT_FALSE(r.Open(Write(absurd).c_str())) << "counts of 2^31 and above";
  Put32(&absurd, 12, 0xffffffffu);
  EXPECT_FALSE(r.Open(Write(absurd).c_str()));
  std::string farDir = bytes;
  Put32(&farDir, 20, 0xfffffff0u);  // offset + 28 wraps 32 bits
  EXPECT_FALSE(r.Open(Write(farDir).c_str()));
  EXPECT_EQ(nullptr, r.lumps);
}

TEST_F(Archives, SeekLumpAndLoadDataStayInsideTheDirectory) {
  std::string bytes = Archive({{5, 0, "first"}, {0, 0, ""}, {7, 3, "last lump"}});
  RESFILE r;
  EXPECT_FALSE(r.SeekLump(0)) << "closed reader";
  void* data = nullptr;
  EXPECT_FALSE(r.LoadData(0, &data));
  ASSERT_TRUE(r.Open(Write(bytes).c_str()));
  ASSERT_EQ(3u, r.header.lumpCount);
  EXPECT_EQ(5, r.lumps[0].type);
  EXPECT_EQ(3, r.lumps[2].alphaMode);
  EXPECT_FALSE(r.SeekLump(3));
  EXPECT_FALSE(r.SeekLump(-1));
  ASSERT_TRUE(r.SeekLump(2));
  EXPECT_EQ(static_cast<std::streamoff>(r.lumps[2].offset),
            static_cast<std::streamoff>(r.stream.tellg()));
  EXPECT_FALSE(r.LoadData(3, &data));
  EXPECT_EQ(nullptr, data) << "nothing is stored on failure";
  ASSERT_TRUE(r.LoadData(2, &data));
  EXPECT_EQ("last lump", std::string(static_cast<char*>(data), 9));
  delete[] static_cast<unsigned char*>(data);
  data = nullptr;
  ASSERT_TRUE(r.LoadData(1, &data)) << "an empty lump is still a lump";
  delete[] static_cast<unsigned char*>(data);
}

TEST_F(Archives, LumpsReachingPastTheEndFailWithoutSpoilingTheOthers) {
  std::string bytes = Archive({{0, 0, "abcd"}, {0, 0, "efgh"}});
  const size_t dir = bytes.size() - 2 * 28;
  Put32(&bytes, dir + 28, 0x00ffffffu);  // lump 1's size: 16 MiB in a tiny file
  RESFILE r;
  ASSERT_TRUE(r.Open(Write(bytes).c_str()));
  void* data = nullptr;
  EXPECT_FALSE(r.LoadData(1, &data));
  EXPECT_EQ(nullptr, data);
  ASSERT_TRUE(r.LoadData(0, &data)) << "an earlier failure must not block later reads";
  EXPECT_EQ("abcd", std::string(static_cast<char*>(data), 4));
  delete[] static_cast<unsigned char*>(data);
}

// ---------------------------------------------------------------------------
// Loading archives into textures.

class ArchiveTextures : public GLTest {
protected:
  void SetUp() override {
    GLTest::SetUp();
    SetAlertEcho(false);
    ClearAlertsShown();
  }
  void TearDown() override {
    delete[] textures;
    textures = nullptr;
    SetAlertEcho(true);
    GLTest::TearDown();
  }
  bool Load(const std::string& bytes) {
    std::string path = dir.Write("art.vostrelli", bytes);
    return LoadTexturesFromDataFile(path.c_str(), &textures, &count);
  }
  static int Width(unsigned int name) {
    GLint w = 0;
    glBindTexture(GL_TEXTURE_2D, name);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    return w;
  }

  TempDir dir;
  Texture* textures = nullptr;
  int count = -1;
};

TEST_F(ArchiveTextures, EmptyArchiveGivesNoSlots) {
  ASSERT_TRUE(Load(Archive({})));
  EXPECT_EQ(0, count);
  EXPECT_NE(nullptr, textures);
}

TEST_F(ArchiveTextures, OtherLumpTypesLeaveEmptySlotsAtTheirIndex) {
  ASSERT_TRUE(Load(Archive({{1, 0, Plain(2, 1, 9, 9, 9)},
                            {0, 0, "not an image"},
                            {1, 2, Plain(4, 1, 128, 64, 0)},
                            {7, 0, Plain(8, 1, 1, 1, 1)}})))
      << Describe(AlertsShown());
  ASSERT_EQ(4, count);
  EXPECT_EQ(2, Width(textures[0].glName));
  EXPECT_EQ(0u, textures[1].glName);
  EXPECT_EQ(nullptr, textures[1].pixels);
  EXPECT_EQ(4, Width(textures[2].glName));
  EXPECT_EQ(0u, textures[3].glName) << "only type 1 lumps become textures";
  EXPECT_EQ(nullptr, textures[0].pixels);

  // The lump's alpha mode reaches the upload: brightness of (128, 64, 0).
  unsigned char rgba[4 * 4];
  glBindTexture(GL_TEXTURE_2D, textures[2].glName);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  EXPECT_EQ(128, rgba[3]);
}

TEST_F(ArchiveTextures, BadImageStopsTheLoadAndKeepsEarlierSlots) {
  ASSERT_FALSE(Load(Archive({{1, 0, Plain(2, 1, 9, 9, 9)},
                             {1, 0, Tga(2, 2, 2, 16, "")},
                             {1, 0, Plain(4, 1, 1, 1, 1)}})));
  ASSERT_EQ(3, count) << "the caller owns the slots once the archive opened";
  ASSERT_NE(nullptr, textures);
  EXPECT_EQ(2, Width(textures[0].glName));
  EXPECT_EQ(0u, textures[2].glName);
  std::vector<AlertRecord> alerts = AlertsShown();
  ASSERT_EQ(1u, alerts.size()) << Describe(alerts);
  EXPECT_EQ("Invalid texture information", alerts[0].message);
}

TEST_F(ArchiveTextures, LumpOffsetPastTheEndFailsThroughTheReadersAlert) {
  std::string bytes = Archive({{1, 0, Plain(2, 1, 9, 9, 9)}, {1, 0, Plain(2, 1, 1, 1, 1)}});
  const size_t dir = bytes.size() - 2 * 28;
  Put32(&bytes, dir + 28 + 4, 0xfffffff0u);
  ASSERT_FALSE(Load(bytes));
  EXPECT_EQ(2, count);
  EXPECT_NE(0u, textures[0].glName);
  std::vector<AlertRecord> alerts = AlertsShown();
  ASSERT_EQ(1u, alerts.size()) << Describe(alerts);
  EXPECT_EQ("Could not read file header", alerts[0].message);
}

TEST_F(ArchiveTextures, UnopenableArchiveLeavesTheCallersValuesAlone) {
  Texture* before = reinterpret_cast<Texture*>(0x1);
  textures = before;
  count = 42;
  EXPECT_FALSE(LoadTexturesFromDataFile(dir.File("none").c_str(), &textures, &count));
  EXPECT_EQ(before, textures);
  EXPECT_EQ(42, count);
  textures = nullptr;
  EXPECT_TRUE(AlertsShown().empty());
}

// ---------------------------------------------------------------------------
// Glymmer's own art.

const std::string kArt = std::string(GLYMMER_SOURCE_DIR) + "/resources/zentari.vostrelli";

TEST(BuiltInArt, HasSixImageLumpsOfPowerOfTwoSizes) {
  QuietAlerts quiet;
  RESFILE r;
  ASSERT_TRUE(r.Open(kArt.c_str())) << kArt;
  ASSERT_EQ(6u, r.header.lumpCount);
  const unsigned drawnWidth[6] = {0, 256, 0, 0, 512, 512};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(1, r.lumps[i].type) << "slot " << i;
    ASSERT_TRUE(r.SeekLump(i));
    Texture t;
    ASSERT_TRUE(LoadTGA2(&t, &r.stream)) << "slot " << i << ": " << Describe(AlertsShown());
    EXPECT_EQ(0u, t.width & (t.width - 1)) << "slot " << i << " width " << t.width;
    EXPECT_EQ(0u, t.height & (t.height - 1)) << "slot " << i << " height " << t.height;
    EXPECT_GE(t.width, drawnWidth[i]) << "slot " << i << " is drawn wider than it is";
  }
  EXPECT_EQ(2, r.lumps[0].alphaMode) << "the font sheet uses the brightness alpha";
}

class FontSheet : public GLTest {
protected:
  void SetUp() override {
    GLTest::SetUp();
    SetAlertEcho(false);
    ClearAlertsShown();
    ASSERT_TRUE(LoadTexturesFromDataFile(kArt.c_str(), &textures, &count))
        << Describe(AlertsShown());
    ASSERT_GE(count, 6);
    SetupText();
  }
  void TearDown() override {
    delete[] textures;
    SetAlertEcho(true);
    GLTest::TearDown();
  }

  // Draws character c's cell, by the same rectangle rule as every letter in
  // the saver, over the whole 256 x 256 frame, blended as captions are, and
  // returns the brightness of each pixel (rows bottom first).
  std::vector<int> RenderCell(char c) {
    glViewport(0, 0, kWidth, kHeight);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, kWidth, 0, kHeight, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, textures[0].glName);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(1, 1, 1, 1);
    CellRect r = CharacterRect(c);
    glBegin(GL_QUADS);
    glTexCoord2f(r.left, r.bottom);
    glVertex2f(0, 0);
    glTexCoord2f(r.right, r.bottom);
    glVertex2f(kWidth, 0);
    glTexCoord2f(r.right, r.top);
    glVertex2f(kWidth, kHeight);
    glTexCoord2f(r.left, r.top);
    glVertex2f(0, kHeight);
    glEnd();
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    std::vector<unsigned char> rgba = Frame();
    std::vector<int> light(rgba.size() / 4);
    for (size_t i = 0; i < light.size(); ++i) light[i] = rgba[i * 4];
    return light;
  }

  struct Ink {
    int lit = 0;                   // pixels brighter than half
    int border = 0;                // brightest pixel in the outer 8 pixels
    int left = kWidth, right = -1, bottom = kHeight, top = -1;
    double cx = 0, cy = 0;         // centre of the lit pixels
  };

  static Ink Measure(const std::vector<int>& light) {
    Ink ink;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const int v = light[y * kWidth + x];
        if (x < 8 || y < 8 || x >= kWidth - 8 || y >= kHeight - 8) {
          ink.border = std::max(ink.border, v);
        }
        if (v < 128) continue;
        ++ink.lit;
        ink.cx += x;
        ink.cy += y;
        ink.left = std::min(ink.left, x);
        ink.right = std::max(ink.right, x);
        ink.bottom = std::min(ink.bottom, y);
        ink.top = std::max(ink.top, y);
      }
    }
    if (ink.lit > 0) {
      ink.cx /= ink.lit;
      ink.cy /= ink.lit;
    }
    return ink;
  }

  Texture* textures = nullptr;
  int count = 0;
};

TEST_F(FontSheet, EveryPrintableCharacterIsInsideItsOwnCell) {
  for (int code = 33; code <= 126; ++code) {
    const char c = static_cast<char>(code);
    Ink ink = Measure(RenderCell(c));
    EXPECT_GT(ink.lit, 60) << "'" << c << "' shows almost nothing in its cell";
    EXPECT_LT(ink.border, 48) << "'" << c << "' reaches the edge of its cell (or a neighbour's ink"
                              << " spills in): brightness " << ink.border;
    if (code == 33) KeepFrame("font-sheet-exclamation");
    if (code == 'W') KeepFrame("font-sheet-W");
  }
  Ink space = Measure(RenderCell(' '));
  EXPECT_EQ(0, space.lit) << "the space cell must be empty";
}

TEST_F(FontSheet, LettersStandUprightAndLarge) {
  // Which way up: an underscore sits low, a caret high; a slash leans right.
  Ink under = Measure(RenderCell('_'));
  Ink caret = Measure(RenderCell('^'));
  EXPECT_LT(under.cy, kHeight / 3) << "'_' is not at the bottom of its cell";
  EXPECT_GT(caret.cy, kHeight / 2) << "'^' is not in the upper half of its cell";
  std::vector<int> slash = RenderCell('/');
  double lowX = 0, highX = 0;
  int low = 0, high = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      if (slash[y * kWidth + x] < 128) continue;
      if (y < kHeight / 2) {
        lowX += x;
        ++low;
      } else {
        highX += x;
        ++high;
      }
    }
  }
  ASSERT_GT(low, 0);
  ASSERT_GT(high, 0);
  EXPECT_LT(lowX / low, highX / high) << "'/' leans the wrong way: the sheet is mirrored";

  // Big enough to read as a mosaic tile: capitals over half the cell height,
  // and centred across it.
  for (char c : {'H', 'M', 'W', 'O'}) {
    Ink ink = Measure(RenderCell(c));
    EXPECT_GT(ink.top - ink.bottom, kHeight / 2) << "'" << c << "' is too small";
    EXPECT_GT(ink.right - ink.left, kWidth / 2) << "'" << c << "' is too narrow";
    EXPECT_NEAR(kWidth / 2.0, (ink.left + ink.right) / 2.0, kWidth / 16.0)
        << "'" << c << "' is not centred across its cell";
  }
}

// The committed archive is what tools/make-art makes today.
TEST(BuiltInArt, RegeneratingGivesTheSameBytes) {
  const std::string tool = std::string(GLYMMER_BINARY_DIR) + "/tools/make-art/make-art";
  if (access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "make-art was not built";
  FILE* version = popen((tool + " --freetype-version").c_str(), "r");
  ASSERT_NE(nullptr, version);
  char line[64] = {0};
  std::fgets(line, sizeof line, version);
  pclose(version);
  std::string have, made;
  {
    std::string s = line;
    size_t space = s.find(' ');
    have = s.substr(0, space);
    made = space == std::string::npos ? "" : s.substr(space + 1);
    while (!made.empty() && (made.back() == '\n' || made.back() == ' ')) made.pop_back();
  }
  if (have != made) {
    GTEST_SKIP() << "FreeType " << have << " here; the art was rendered with " << made;
  }
  TempDir dir;
  const std::string out = dir.File("zentari.vostrelli");
  int status = std::system((tool + " " + out).c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << tool << " failed";
  EXPECT_TRUE(ReadFileBytes(out) == ReadFileBytes(kArt))
      << "resources/zentari.vostrelli differs from what make-art renders now; regenerate it "
         "with `cmake --build build --target art` and commit it";
}

}  // namespace
