// The settings record, the preference store, and the clock, bundle and
// screens the view relies on. Stores are real files in a temporary
// XDG_CONFIG_HOME.

#include "support/TestSupport.h"

#include "host/SettingOverrides.h"
#include "host/Settings.h"
#include "host/SettingsTable.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/ScreenSaverDefaults.h"
#include "platform/Screens.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

// A fresh configuration folder for every test; the process's stores are
// forgotten before and after so that each test reads its own files.
class StoreTest : public ::testing::Test {
protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    hadOld = old != nullptr;
    if (old) oldValue = old;
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    ScreenSaverDefaults::ForgetStoresForTesting();
  }
  void TearDown() override {
    ScreenSaverDefaults::ForgetStoresForTesting();
    if (hadOld)
      setenv("XDG_CONFIG_HOME", oldValue.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }
  std::string Folder() const { return config.File("glymmer"); }
  std::string StoreFile() const { return Folder() + "/kvGlymmerSS.ini"; }
  void WriteStore(const std::string& text) {
    mkdir(Folder().c_str(), 0700);
    config.Write("glymmer/kvGlymmerSS.ini", text);
  }
  // Loads as a newly created view would: an empty PicPath, then the store.
  bool Load(SETTINGS* s, bool* mainMonitorOnly) {
    *s = SETTINGS();
    *mainMonitorOnly = false;
    return LoadSettings(s, mainMonitorOnly);
  }
  static std::string DefaultFolder() {
    char path[1025];
    DefaultPicturePath(path);
    return path;
  }

  TempDir config;
  bool hadOld = false;
  std::string oldValue;
};

std::string ResetFileText(const std::string& picPath) {
  return "[kvGlymmerSS]\n"
         "version=1.0\n"
         "MainMonitorOnly=false\n"
         "ShowCaption=true\n"
         "MLFirst=true\n"
         "CharSize=20\n"
         "CharType=0\n"
         "PicSize=15000\n"
         "PicDelay=120\n"
         "PicPath=" + picPath + "\n";
}

void ExpectDefaults(const SETTINGS& s, bool mainMonitorOnly) {
  EXPECT_FALSE(mainMonitorOnly);
  EXPECT_TRUE(s.SHOWCAPTION);
  EXPECT_TRUE(s.MLFIRST);
  EXPECT_EQ(20, s.CHARSIZE);
  EXPECT_FLOAT_EQ(0.2f, s.fCHARSIZE);
  EXPECT_EQ(0, s.CHARTYPE);
  EXPECT_EQ(15000, s.PIC_SIZE);
  EXPECT_EQ(120, s.PICDELAY);
}

}  // namespace

// ---- Loading and the version rule ----------------------------------------

TEST_F(StoreTest, DefaultPictureFolderIsPicsInTheSourceResourcesForABuildTreeProgram) {
  EXPECT_EQ(std::string(GLYMMER_SOURCE_DIR) + "/resources/pics/", DefaultFolder());
}

TEST_F(StoreTest, MissingOrEmptyStoreIsResetToAllNineKeysInOrder) {
  for (bool emptyFileFirst : {false, true}) {
    SCOPED_TRACE(emptyFileFirst ? "empty file" : "no file, no folder");
    ScreenSaverDefaults::ForgetStoresForTesting();
    std::remove(StoreFile().c_str());
    if (emptyFileFirst) WriteStore("");
    SETTINGS s;
    bool mmo = true;
    ASSERT_TRUE(Load(&s, &mmo));
    ExpectDefaults(s, mmo);
    EXPECT_EQ(DefaultFolder(), s.PicPath);
    EXPECT_EQ(ResetFileText(DefaultFolder()), ReadFileBytes(StoreFile()));
    struct stat st {};
    ASSERT_EQ(0, stat(StoreFile().c_str(), &st));
    if (!emptyFileFirst)
      EXPECT_EQ(0600u, st.st_mode & 0777u) << "a new store is private to the user";
    else
      EXPECT_EQ(0644u, st.st_mode & 0777u) << "an existing file keeps its permissions";
  }
}

TEST_F(StoreTest, WrongOrEmptyVersionResetsEverythingIncludingPicPathAndMainMonitorOnly) {
  const char* versions[] = {"version=\n", "version=2.0\n", "version=1.0 \n", "version=1\n", ""};
  for (const char* version : versions) {
    SCOPED_TRACE(std::string("store line: ") + version);
    ScreenSaverDefaults::ForgetStoresForTesting();
    WriteStore(std::string("[kvGlymmerSS]\n") + version +
               "MainMonitorOnly=true\nShowCaption=false\nMLFirst=false\nCharSize=5\n"
               "CharType=2\nPicSize=7\nPicDelay=9\nPicPath=/elsewhere/\n");
    SETTINGS s;
    bool mmo = true;
    ASSERT_TRUE(Load(&s, &mmo));
    ExpectDefaults(s, mmo);
    EXPECT_EQ(DefaultFolder(), s.PicPath);
    ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
    EXPECT_EQ("1.0", store->stringForKey("version").value_or("(none)"));
    EXPECT_FALSE(store->boolForKey("MainMonitorOnly"));
    EXPECT_EQ(DefaultFolder(), store->stringForKey("PicPath").value_or("(none)"));
    // Written to disk too: a fresh read sees the defaults.
    ScreenSaverDefaults::ForgetStoresForTesting();
    SETTINGS again;
    bool mmoAgain = true;
    ASSERT_TRUE(Load(&again, &mmoAgain));
    ExpectDefaults(again, mmoAgain);
    EXPECT_EQ(DefaultFolder(), again.PicPath);
  }
}

TEST_F(StoreTest, Version10ValuesStandAsStoredWithoutDefaultsOrRangeChecks) {
  const std::string text =
      "[kvGlymmerSS]\nversion=1.0\nMainMonitorOnly=true\nCharSize=5\nCharType=4294967298\n"
      "PicDelay=-4\nMLFirst=false\nShowCaption=true\nPicPath=/pictures\n";
  WriteStore(text);
  SETTINGS s;
  bool mmo = false;
  ASSERT_TRUE(Load(&s, &mmo));
  EXPECT_TRUE(mmo);
  EXPECT_EQ(0, s.PIC_SIZE) << "an absent PicSize reads 0; no per-key default applies";
  EXPECT_EQ(5, s.CHARSIZE);
  EXPECT_FLOAT_EQ(0.05f, s.fCHARSIZE);
  EXPECT_EQ(2, s.CHARTYPE) << "CHARTYPE keeps the low 32 bits";
  EXPECT_EQ(-4, s.PICDELAY);
  EXPECT_FALSE(s.MLFIRST);
  EXPECT_TRUE(s.SHOWCAPTION);
  EXPECT_STREQ("/pictures/", s.PicPath);
  EXPECT_EQ(text, ReadFileBytes(StoreFile())) << "a store that is not reset is not written";
}

TEST_F(StoreTest, AbsentPicPathLeavesTheRecordsPathAlone) {
  WriteStore("[kvGlymmerSS]\nversion=1.0\n");
  SETTINGS s;
  bool mmo = true;
  std::strcpy(s.PicPath, "/kept");
  ASSERT_TRUE(LoadSettings(&s, &mmo));
  EXPECT_STREQ("/kept/", s.PicPath);
  EXPECT_FALSE(mmo);
  EXPECT_FALSE(s.SHOWCAPTION) << "absent bools read false";
  EXPECT_EQ(0, s.CHARSIZE);
  EXPECT_EQ(0.0f, s.fCHARSIZE);
}

TEST_F(StoreTest, FolderSeparatorRuleCountsBytes) {
  struct Case { const char* stored; const char* loaded; } cases[] = {
      {"", ""},             {"/", "/"},          {"a", "a"},        {"/a", "/a"},
      {"ab", "ab"},         {"/ab", "/ab/"},     {"/ab/", "/ab/"},  {"abc", "abc/"},
      {"\xc3\xa9", "\xc3\xa9"},                  // one letter, two bytes: stays
      {"/\xc3\xa9", "/\xc3\xa9/"},               // three bytes
      {"\xe2\x82\xac", "\xe2\x82\xac/"},         // one three-byte letter
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("stored PicPath \"") + c.stored + "\"");
    ScreenSaverDefaults::ForgetStoresForTesting();
    WriteStore(std::string("[kvGlymmerSS]\nversion=1.0\nPicPath=") + c.stored + "\n");
    SETTINGS s;
    bool mmo;
    ASSERT_TRUE(Load(&s, &mmo));
    EXPECT_STREQ(c.loaded, s.PicPath);
  }
}

TEST_F(StoreTest, OverlongPathsAreCutWithinTheFieldAndNeverSplitALetter) {
  // The record sits in a larger block; the bytes after it must stay untouched.
  struct Guarded {
    SETTINGS s;
    unsigned char after[64];
  };
  struct Case { std::string stored; std::string loaded; } cases[] = {
      {std::string(1100, 'x'), std::string(1024, 'x')},
      {std::string(1024, 'x'), std::string(1024, 'x')},          // no room for "/"
      {std::string(1023, 'x'), std::string(1023, 'x') + "/"},
      {std::string(1023, 'x') + "\xc3\xa9", std::string(1023, 'x') + "/"},
      {std::string(1022, 'x') + "\xe2\x82\xac", std::string(1022, 'x') + "/"},
      {std::string(1021, 'x') + "\xe2\x82\xac" + "z", std::string(1021, 'x') + "\xe2\x82\xac"},
      {std::string(1023, 'x') + "\x80\x80", std::string(1023, 'x') + "\x80"},  // not UTF-8
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("stored path of " + std::to_string(c.stored.size()) + " bytes");
    ScreenSaverDefaults::ForgetStoresForTesting();
    WriteStore("[kvGlymmerSS]\nversion=1.0\nPicPath=" + c.stored + "\n");
    Guarded g;
    std::memset(g.after, 0xA5, sizeof g.after);
    bool mmo;
    g.s = SETTINGS();
    ASSERT_TRUE(LoadSettings(&g.s, &mmo));
    EXPECT_EQ(c.loaded.size(), std::strlen(g.s.PicPath));
    EXPECT_TRUE(c.loaded == g.s.PicPath);
    for (unsigned char b : g.after) ASSERT_EQ(0xA5, b) << "bytes past PicPath were written";
  }
}

// ---- Corrupt and crashed stores -----------------------------------------

TEST_F(StoreTest, UnparseableStoreIsKeptAsideAndReset) {
  const std::string garbage[] = {
      "MainMonitorOnly=true\n",                       // no group
      "[kvGlymmerSS]\nversion=1.0\nnot a key line\n",  // a broken line
      std::string("[kvGlymmerSS]\nversion=1.0\0PicSize=3\n", 34),  // binary
  };
  for (const std::string& bytes : garbage) {
    ScreenSaverDefaults::ForgetStoresForTesting();
    for (const std::string& name : FolderEntries(Folder())) std::remove((Folder() + "/" + name).c_str());
    WriteStore(bytes);
    SETTINGS s;
    bool mmo = true;
    ASSERT_TRUE(Load(&s, &mmo));
    ExpectDefaults(s, mmo);
    EXPECT_EQ(ResetFileText(DefaultFolder()), ReadFileBytes(StoreFile()));
    std::vector<std::string> kept;
    for (const std::string& name : FolderEntries(Folder()))
      if (name.rfind("kvGlymmerSS.ini.corrupt-", 0) == 0) kept.push_back(name);
    ASSERT_EQ(1u, kept.size()) << "expected exactly one file kept aside";
    EXPECT_EQ(bytes, ReadFileBytes(Folder() + "/" + kept[0])) << "the user's file must survive whole";
  }
}

TEST_F(StoreTest, RepeatedCorruptionKeepsEveryOldFile) {
  for (int i = 0; i < 3; ++i) {
    ScreenSaverDefaults::ForgetStoresForTesting();
    WriteStore("broken " + std::to_string(i) + "\n");
    ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  }
  std::vector<std::string> contents;
  for (const std::string& name : FolderEntries(Folder()))
    if (name.find(".corrupt-") != std::string::npos)
      contents.push_back(ReadFileBytes(Folder() + "/" + name));
  std::sort(contents.begin(), contents.end());
  ASSERT_EQ(3u, contents.size()) << "each corrupt file is kept under its own name";
  EXPECT_EQ("broken 0\n", contents[0]);
  EXPECT_EQ("broken 2\n", contents[2]);
}

TEST_F(StoreTest, StorePathThatIsAFolderIsMovedAsideToo) {
  mkdir(Folder().c_str(), 0700);
  mkdir(StoreFile().c_str(), 0700);
  config.Write("glymmer/kvGlymmerSS.ini/inside", "keep me");
  SETTINGS s;
  bool mmo;
  ASSERT_TRUE(Load(&s, &mmo));
  EXPECT_EQ(ResetFileText(DefaultFolder()), ReadFileBytes(StoreFile()));
  bool found = false;
  for (const std::string& name : FolderEntries(Folder()))
    if (name.find(".corrupt-") != std::string::npos)
      found = ReadFileBytes(Folder() + "/" + name + "/inside") == "keep me";
  EXPECT_TRUE(found) << "the folder and its content must be kept aside";
}

namespace {

constexpr int kBlobs = 8;
constexpr size_t kBlobBytes = 32 * 1024;

std::string Blob(int64_t generation, int index) {
  std::string b(kBlobBytes, static_cast<char>('a' + (generation + index) % 26));
  return b + std::to_string(generation);
}

bool WriteGeneration(ScreenSaverDefaults* store, int64_t generation) {
  store->setInteger(generation, "Generation");
  for (int i = 0; i < kBlobs; ++i)
    store->setObject(Blob(generation, i).c_str(), ("Blob" + std::to_string(i)).c_str());
  store->setInteger(generation, "Check");
  return store->synchronize();
}

}  // namespace

TEST_F(StoreTest, KillingTheWriterLeavesTheOldOrTheNewStoreWhole) {
  ASSERT_TRUE(WriteGeneration(ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS"), 0));
  std::mt19937 random(20240607);
  int64_t seen = 0;
  int advanced = 0;
  for (int round = 0; round < 60; ++round) {
    int64_t first = seen + 1;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ScreenSaverDefaults::ForgetStoresForTesting();
      ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
      for (int64_t g = first;; ++g)
        if (!WriteGeneration(store, g)) _exit(3);
    }
    // Every other round lets the writer finish at least one generation
    // first, so that slow machines (a sanitizer build, a loaded CI) still
    // see stores replaced; the kill then lands at a random moment after.
    if (round % 2 == 1) {
      struct stat before;
      bool known = stat(StoreFile().c_str(), &before) == 0;
      for (int wait = 0; wait < 400; ++wait) {
        struct stat now;
        if (known && stat(StoreFile().c_str(), &now) == 0 && now.st_ino != before.st_ino) break;
        usleep(5000);
      }
    }
    usleep(std::uniform_int_distribution<int>(0, 15000)(random));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own, status " << status;

    ScreenSaverDefaults::ForgetStoresForTesting();
    ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
    int64_t generation = store->integerForKey("Generation");
    ASSERT_EQ(generation, store->integerForKey("Check")) << "round " << round << ": a torn store";
    for (int i = 0; i < kBlobs; ++i)
      ASSERT_TRUE(store->stringForKey(("Blob" + std::to_string(i)).c_str()) == Blob(generation, i))
          << "round " << round << ": blob " << i << " is not from generation " << generation;
    ASSERT_GE(generation, seen) << "the store went back to an older generation";
    if (generation > seen) ++advanced;
    seen = generation;
  }
  for (const std::string& name : FolderEntries(Folder()))
    EXPECT_EQ(std::string::npos, name.find(".corrupt-")) << "no store was found unreadable";
  EXPECT_GT(advanced, 5) << "the writers were killed before they wrote anything";
}

// ---- The store itself ----------------------------------------------------

TEST_F(StoreTest, OneStorePerModuleNameAndFileAndGroupNamedAfterIt) {
  ScreenSaverDefaults* a = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  ScreenSaverDefaults* b = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  ScreenSaverDefaults* other = ScreenSaverDefaults::defaultsForModuleWithName("Other");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, other);
  a->setInteger(7, "PicSize");
  EXPECT_EQ(7, b->integerForKey("PicSize")) << "every caller shares the one store";
  EXPECT_EQ(0, other->integerForKey("PicSize"));
  EXPECT_EQ(StoreFile(), a->FilePath());
  other->setBool(true, "Seen");
  ASSERT_TRUE(other->synchronize());
  EXPECT_EQ("[Other]\nSeen=true\n", ReadFileBytes(Folder() + "/Other.ini"));
  for (const char* bad : {"", ".", "..", "a/b", "x[y]", "tab\there"})
    EXPECT_EQ(nullptr, ScreenSaverDefaults::defaultsForModuleWithName(bad)) << "name: " << bad;
  EXPECT_EQ(nullptr, ScreenSaverDefaults::defaultsForModuleWithName(nullptr));
}

TEST_F(StoreTest, AbsentKeysReadFalseZeroAndNoString) {
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  EXPECT_FALSE(store->boolForKey("ShowCaption"));
  EXPECT_EQ(0, store->integerForKey("PicSize"));
  EXPECT_FALSE(store->stringForKey("version").has_value());
  store->setObject("", "version");
  ASSERT_TRUE(store->stringForKey("version").has_value()) << "an empty string is not an absent key";
  EXPECT_EQ("", *store->stringForKey("version"));
  store->setObject(nullptr, "version");
  EXPECT_FALSE(store->stringForKey("version").has_value()) << "a null value removes the key";
}

TEST_F(StoreTest, ValuesSurviveTheFileWhateverBytesTheyHold) {
  const std::string awkward[] = {
      " leading and trailing  ", "two\nlines\r\tand \\ backslash", "\xff\xfe not UTF-8 /pics/",
      "=[brackets]=", "#not a comment"};
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  for (size_t i = 0; i < std::size(awkward); ++i)
    store->setObject(awkward[i].c_str(), ("S" + std::to_string(i)).c_str());
  store->setInteger(INT64_MIN, "Min");
  store->setInteger(INT64_MAX, "Max");
  store->setBool(true, "Yes");
  store->setBool(false, "No");
  ASSERT_TRUE(store->synchronize());
  ScreenSaverDefaults::ForgetStoresForTesting();
  store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  for (size_t i = 0; i < std::size(awkward); ++i)
    EXPECT_EQ(awkward[i], store->stringForKey(("S" + std::to_string(i)).c_str()).value_or("(none)"));
  EXPECT_EQ(INT64_MIN, store->integerForKey("Min"));
  EXPECT_EQ(INT64_MAX, store->integerForKey("Max"));
  EXPECT_TRUE(store->boolForKey("Yes"));
  EXPECT_FALSE(store->boolForKey("No"));
  for (const std::string& name : FolderEntries(Folder()))
    EXPECT_EQ("kvGlymmerSS.ini", name) << "a temporary file was left behind";
}

TEST_F(StoreTest, HandEditedValuesReadLeniently) {
  WriteStore(
      "# my settings\n[kvGlymmerSS]\nA=1\nB=YES\nC=0\nD=maybe\nE= 42 \nF=true\nG=12abc\n"
      "H=99999999999999999999\n[Other]\nX=1\n");
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  EXPECT_TRUE(store->boolForKey("A"));
  EXPECT_TRUE(store->boolForKey("B"));
  EXPECT_FALSE(store->boolForKey("C"));
  EXPECT_FALSE(store->boolForKey("D"));
  EXPECT_EQ(42, store->integerForKey("E"));
  EXPECT_EQ(1, store->integerForKey("F"));
  EXPECT_EQ(0, store->integerForKey("G")) << "not an integer";
  EXPECT_EQ(0, store->integerForKey("H")) << "out of range";
  EXPECT_FALSE(store->boolForKey("X")) << "other groups are not this module's keys";
  store->setInteger(5, "A");
  store->setInteger(6, "New");
  ASSERT_TRUE(store->synchronize());
  std::string text = ReadFileBytes(StoreFile());
  EXPECT_EQ(0u, text.find("# my settings\n")) << "comments are kept: " << text;
  EXPECT_NE(std::string::npos, text.find("[kvGlymmerSS]\nA=5\nB=YES\n")) << text;
  EXPECT_NE(std::string::npos, text.find("H=99999999999999999999\nNew=6\n")) << text;
  EXPECT_NE(std::string::npos, text.find("[Other]\nX=1\n")) << "other groups are kept: " << text;
}

TEST_F(StoreTest, InvalidKeysAreNeitherStoredNorRead) {
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  for (const char* key : {"", "a=b", "[x]", "line\nbreak", " padded"}) {
    store->setInteger(3, key);
    EXPECT_EQ(0, store->integerForKey(key)) << "key \"" << key << "\"";
  }
  store->setInteger(3, nullptr);
  EXPECT_EQ(0, store->integerForKey(nullptr));
  store->setInteger(1, "Fine");
  ASSERT_TRUE(store->synchronize());
  EXPECT_EQ("[kvGlymmerSS]\nFine=1\n", ReadFileBytes(StoreFile()));
}

TEST_F(StoreTest, SynchronizeWritesThroughASymbolicLink) {
  mkdir(Folder().c_str(), 0700);
  std::string real = config.Write("real.ini", "[kvGlymmerSS]\nversion=1.0\n");
  ASSERT_EQ(0, symlink(real.c_str(), StoreFile().c_str()));
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  EXPECT_EQ("1.0", store->stringForKey("version").value_or("(none)"));
  store->setInteger(4, "PicSize");
  ASSERT_TRUE(store->synchronize());
  struct stat st {};
  ASSERT_EQ(0, lstat(StoreFile().c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a plain file";
  EXPECT_EQ("[kvGlymmerSS]\nversion=1.0\nPicSize=4\n", ReadFileBytes(real));
}

TEST_F(StoreTest, SynchronizeFailsWithoutHarmWhenTheFolderCannotBeMade) {
  config.Write("glymmer", "a file where the folder should be");
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  store->setInteger(9, "PicSize");
  EXPECT_FALSE(store->synchronize());
  EXPECT_EQ(9, store->integerForKey("PicSize")) << "the values stay in memory";
  EXPECT_EQ("a file where the folder should be", ReadFileBytes(config.File("glymmer")));
  SETTINGS s;
  bool mmo = true;
  EXPECT_FALSE(Load(&s, &mmo)) << "a reset that cannot be saved is reported";
  ExpectDefaults(s, mmo);
  EXPECT_EQ(DefaultFolder(), s.PicPath);
}

TEST_F(StoreTest, FolderComesFromTheEnvironmentWhenAStoreIsFirstMade) {
  TempDir home;
  unsetenv("XDG_CONFIG_HOME");
  const char* oldHome = std::getenv("HOME");
  std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", home.Path().c_str(), 1);
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  EXPECT_EQ(home.Path() + "/.config/glymmer/kvGlymmerSS.ini", store->FilePath());
  ASSERT_TRUE(store->synchronize()) << "the folders are created, even for an empty store";
  EXPECT_EQ("", ReadFileBytes(store->FilePath()));
  struct stat st {};
  EXPECT_EQ(0, stat(store->FilePath().c_str(), &st)) << "the file exists";
  ScreenSaverDefaults::ForgetStoresForTesting();
  setenv("XDG_CONFIG_HOME", "relative/path", 1);
  EXPECT_EQ(home.Path() + "/.config/glymmer/kvGlymmerSS.ini",
            ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS")->FilePath())
      << "a relative XDG_CONFIG_HOME is ignored";
  if (oldHome)
    setenv("HOME", savedHome.c_str(), 1);
  else
    unsetenv("HOME");
}

TEST_F(StoreTest, UnreadableStoreThatCannotBeMovedAsideIsNeverOverwritten) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  WriteStore("[kvGlymmerSS]\nversion=1.0\nPicSize=3\n");
  chmod(StoreFile().c_str(), 0);
  chmod(Folder().c_str(), 0500);
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  store->setInteger(4, "PicSize");
  EXPECT_FALSE(store->synchronize());
  chmod(Folder().c_str(), 0700);
  chmod(StoreFile().c_str(), 0600);
  EXPECT_EQ("[kvGlymmerSS]\nversion=1.0\nPicSize=3\n", ReadFileBytes(StoreFile()));
}

// ---- Clock -------------------------------------------------------------

TEST(Clock, NeverRunsBackwardsAndStartsAtTheWallClock) {
  double first = CFAbsoluteTimeGetCurrent();
  double wall = static_cast<double>(std::time(nullptr)) - kCFAbsoluteTimeIntervalSince1970;
  EXPECT_NEAR(wall, first, 2.0) << "seconds since 2001 expected";
  double last = first;
  for (int i = 0; i < 200000; ++i) {
    double now = CFAbsoluteTimeGetCurrent();
    ASSERT_GE(now, last) << "reading " << i << " ran backwards";
    last = now;
  }
  EXPECT_GT(last, first) << "the clock did not advance";
}

namespace {
double Doubled(void* context) { return 2.0 * *static_cast<double*>(context); }
}  // namespace

TEST(Clock, OverrideReplacesTheReadingsUntilRemoved) {
  FakeClock fake;
  fake.now = 12.5;
  fake.Install();
  EXPECT_EQ(12.5, CFAbsoluteTimeGetCurrent());
  fake.now += 1.0 / 60.0;
  EXPECT_EQ(12.5 + 1.0 / 60.0, CFAbsoluteTimeGetCurrent());
  fake.Uninstall();
  double real = CFAbsoluteTimeGetCurrent();
  EXPECT_GT(real, 1e8) << "the real clock is back";

  double value = 3.0;
  SetClockOverride(&Doubled, &value);
  EXPECT_EQ(6.0, CFAbsoluteTimeGetCurrent());
  SetClockOverride(nullptr, nullptr);
  {
    FakeClock scoped;
    scoped.Install();
    EXPECT_EQ(0.0, CFAbsoluteTimeGetCurrent());
  }
  EXPECT_GE(CFAbsoluteTimeGetCurrent(), real) << "a destroyed fake clock removes itself";
}

// ---- Bundle --------------------------------------------------------------

TEST(Bundle, BuildTreeProgramUsesTheSourceResources) {
  const Bundle* bundle = Bundle::bundleForClass();
  EXPECT_EQ(bundle, Bundle::bundleForClass());
  EXPECT_EQ(std::string(GLYMMER_SOURCE_DIR) + "/resources", bundle->resourcePath());
}

TEST(Bundle, InstalledProgramUsesShareGlymmerBesideItsBin) {
  TempDir prefix;
  mkdir(prefix.File("bin").c_str(), 0755);
  prefix.Write("bin/glymmer", "");
  const std::string exe = prefix.File("bin/glymmer");
  EXPECT_EQ("/src/resources", Bundle::ResourceFolderForExecutable(exe, "/src/resources"))
      << "without <prefix>/share/glymmer the program is taken to run from the build tree";
  mkdir(prefix.File("share").c_str(), 0755);
  mkdir(prefix.File("share/glymmer").c_str(), 0755);
  EXPECT_EQ(prefix.File("share/glymmer"), Bundle::ResourceFolderForExecutable(exe, "/src/resources"));
  EXPECT_EQ("/src/resources", Bundle::ResourceFolderForExecutable("", "/src/resources"));
  EXPECT_EQ("/src/resources", Bundle::ResourceFolderForExecutable("relative/bin/x", "/src/resources"));
}

TEST(Bundle, PathForResourceNamesOnlyFilesThatExist) {
  TempDir resources;
  resources.Write("zentari.vostrelli", "KAMB");
  resources.Write("plain", "x");
  Bundle bundle(resources.Path() + "/");
  EXPECT_EQ(resources.Path(), bundle.resourcePath());
  EXPECT_EQ(resources.File("zentari.vostrelli"), bundle.pathForResource("zentari", "vostrelli"));
  EXPECT_EQ(resources.File("plain"), bundle.pathForResource("plain", ""));
  EXPECT_EQ("", bundle.pathForResource("zentari", "tga"));
  EXPECT_EQ("", bundle.pathForResource("", "vostrelli"));
  Bundle missing(resources.File("nowhere"));
  EXPECT_EQ("", missing.pathForResource("zentari", "vostrelli"));
}

// ---- Screens ---------------------------------------------------------------

TEST(Screens, HeadlessRunHasOneMainScreenUnlessToldOtherwise) {
  ResetScreens();
  ASSERT_EQ(1, ScreenCount());
  EXPECT_EQ(ScreenAt(0), mainScreen());
  EXPECT_EQ(nullptr, ScreenAt(1));

  ASSERT_TRUE(SetVirtualScreens(2, 1, 800, 600));
  ASSERT_EQ(2, ScreenCount());
  EXPECT_EQ(ScreenAt(1), mainScreen());
  EXPECT_NE(ScreenAt(0)->screenNumber(), ScreenAt(1)->screenNumber());
  EXPECT_EQ(800.0, ScreenAt(1)->x) << "screens lie side by side";
  EXPECT_EQ(600.0, ScreenAt(0)->height);

  EXPECT_FALSE(SetVirtualScreens(0, 0, 800, 600));
  EXPECT_FALSE(SetVirtualScreens(2, 2, 800, 600));
  EXPECT_FALSE(SetVirtualScreens(2, 0, 0, 600));
  EXPECT_FALSE(SetVirtualScreens(2, 0, 800, std::numeric_limits<double>::infinity()));
  EXPECT_EQ(2, ScreenCount()) << "a refused set-up leaves the list as it was";
  ResetScreens();
  EXPECT_EQ(1, ScreenCount());
}

// ---- Settings for one run (the hack options) -------------------------------

namespace {

// The lower, upper and value of the GtkAdjustment `id` in the sheet's layout.
bool SheetRange(const std::string& layout, const std::string& id, long long out[3]) {
  size_t at = layout.find("id=\"" + id + "\"");
  if (at == std::string::npos) return false;
  size_t end = layout.find("</object>", at);
  const char* names[3] = {"lower", "upper", "value"};
  for (int i = 0; i < 3; ++i) {
    std::string tag = std::string("<property name=\"") + names[i] + "\">";
    size_t p = layout.find(tag, at);
    if (p == std::string::npos || p > end) return false;
    out[i] = std::atoll(layout.c_str() + p + tag.size());
  }
  return true;
}

const SettingOption& OptionFor(SettingIndex key) {
  for (const SettingOption& o : kSettingOptions)
    if (o.setting == key) return o;
  ADD_FAILURE() << "no option for " << kSettingKeys[key].key;
  return kSettingOptions[0];
}

bool Set(SettingIndex key, const std::string& value, SettingOverrides* v, std::string* error,
         bool off = false) {
  return SetSettingOption(OptionFor(key), off, value, v, error);
}

}  // namespace

TEST(SettingOptions, NamesAreDistinctAndRangesHoldTheDefaultsAndMatchTheSheet) {
  const std::string layout =
      ReadFileBytes(std::string(GLYMMER_SOURCE_DIR) + "/resources/GlymmerSS.ui");
  ASSERT_FALSE(layout.empty());
  std::vector<std::string> names;
  for (const SettingOption& o : kSettingOptions) {
    const SettingKey& key = kSettingKeys[o.setting];
    ASSERT_EQ(0, std::strncmp(o.name, "--", 2)) << o.name;
    names.push_back(o.name);
    if (o.offName) names.push_back(o.offName);
    EXPECT_EQ(o.kind == OptionKind::Switch, o.offName != nullptr) << o.name;
    switch (o.kind) {
      case OptionKind::Number: {
        EXPECT_EQ(SettingType::Integer, key.type) << o.name;
        EXPECT_LE(o.low, key.defaultNumber) << o.name;
        EXPECT_GE(o.high, key.defaultNumber) << o.name;
        const char* adjustment = o.setting == kSettingPicSize    ? "picSizeRange"
                                 : o.setting == kSettingCharSize ? "charSizeRange"
                                                                 : "picDelayRange";
        long long range[3];
        ASSERT_TRUE(SheetRange(layout, adjustment, range)) << adjustment;
        EXPECT_EQ(range[0], o.low) << o.name << ": the sheet's lower bound";
        EXPECT_EQ(range[1], o.high) << o.name << ": the sheet's upper bound";
        EXPECT_EQ(range[2], key.defaultNumber) << o.name << ": the sheet's starting value";
        break;
      }
      case OptionKind::Switch:
        EXPECT_EQ(SettingType::Bool, key.type) << o.name;
        break;
      case OptionKind::Choice:
        EXPECT_EQ(3, o.choiceCount) << "CHARTYPE takes 0, 1 and 2";
        EXPECT_LT(key.defaultNumber, o.choiceCount);
        break;
      case OptionKind::Folder:
        EXPECT_EQ(kSettingPicPath, o.setting);
        break;
    }
  }
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted.end(), std::adjacent_find(sorted.begin(), sorted.end())) << "a name twice";
  for (const std::string& n : names) {
    bool off = false;
    const SettingOption* found = FindSettingOption(n, &off);
    ASSERT_NE(nullptr, found) << n;
    EXPECT_EQ(off, found->offName && n == found->offName) << n;
  }
  bool off = false;
  EXPECT_EQ(nullptr, FindSettingOption("--delay", &off));
  EXPECT_EQ(nullptr, FindSettingOption("glyphs", &off)) << "callers pass the two-dash spelling";
}

TEST(SettingOptions, NumbersAreWholeAndWithinRangeElseNothingChanges) {
  SettingOverrides v;
  std::string error;
  EXPECT_TRUE(Set(kSettingPicSize, "1", &v, &error));
  EXPECT_EQ(1, v.number[kSettingPicSize]);
  EXPECT_TRUE(Set(kSettingPicSize, "100000", &v, &error));
  EXPECT_EQ(100000, v.number[kSettingPicSize]);
  EXPECT_TRUE(v.given[kSettingPicSize]);
  for (const char* bad : {"0", "100001", "-5", "", " 5", "5 ", "+5", "1e3", "12x", "3.5",
                          "99999999999999999999", "0x10"}) {
    error.clear();
    EXPECT_FALSE(Set(kSettingPicSize, bad, &v, &error)) << "'" << bad << "' was taken";
    EXPECT_EQ(100000, v.number[kSettingPicSize]) << "a refused value changed the override";
    EXPECT_NE(std::string::npos, error.find("--glyphs")) << error;
    EXPECT_EQ(std::string::npos, error.find('\n')) << "one line: " << error;
  }
  EXPECT_FALSE(Set(kSettingPicDelay, "4", &v, &error));
  EXPECT_FALSE(v.given[kSettingPicDelay]);
  EXPECT_TRUE(Set(kSettingPicDelay, "3600", &v, &error));
  EXPECT_FALSE(Set(kSettingCharSize, "101", &v, &error));
  EXPECT_TRUE(Set(kSettingCharSize, "05", &v, &error)) << "leading zeros are still decimal";
  EXPECT_EQ(5, v.number[kSettingCharSize]);
}

TEST(SettingOptions, CaseWordsAndSwitches) {
  SettingOverrides v;
  std::string error;
  const std::pair<const char*, int> words[] = {{"as-is", 0}, {"upper", 1}, {"lower", 2}};
  for (const auto& w : words) {
    ASSERT_TRUE(Set(kSettingCharType, w.first, &v, &error)) << w.first;
    EXPECT_EQ(w.second, v.number[kSettingCharType]) << w.first;
  }
  for (const char* bad : {"Upper", "UPPER", "1", "", "lower "})
    EXPECT_FALSE(Set(kSettingCharType, bad, &v, &error)) << bad;
  EXPECT_EQ(2, v.number[kSettingCharType]);
  EXPECT_NE(std::string::npos, error.find("as-is, upper, lower")) << error;

  bool off = false;
  const SettingOption* captions = FindSettingOption("--no-captions", &off);
  ASSERT_TRUE(captions && off);
  ASSERT_TRUE(SetSettingOption(*captions, true, "", &v, &error));
  EXPECT_TRUE(v.given[kSettingShowCaption]);
  EXPECT_EQ(0, v.number[kSettingShowCaption]);
  ASSERT_TRUE(SetSettingOption(*captions, false, "", &v, &error));
  EXPECT_EQ(1, v.number[kSettingShowCaption]) << "the later spelling wins";
  const SettingOption* monitors = FindSettingOption("--all-monitors", &off);
  ASSERT_TRUE(monitors && off);
  EXPECT_EQ(kSettingMainMonitorOnly, monitors->setting);
}

TEST(SettingOptions, FolderIsMadeAbsoluteAndAPictureStandsForItsFolder) {
  TempDir dir;
  mkdir(dir.File("pics").c_str(), 0755);
  dir.Write("pics/cat.jpg", "x");
  SettingOverrides v;
  std::string error;
  ASSERT_TRUE(Set(kSettingPicPath, dir.File("pics"), &v, &error)) << error;
  EXPECT_EQ(dir.File("pics") + "/", v.PicPath);
  ASSERT_TRUE(Set(kSettingPicPath, dir.File("pics/"), &v, &error)) << error;
  EXPECT_EQ(dir.File("pics") + "/", v.PicPath) << "no second separator";
  ASSERT_TRUE(Set(kSettingPicPath, dir.File("pics/cat.jpg"), &v, &error)) << error;
  EXPECT_EQ(dir.File("pics") + "/", v.PicPath) << "xscreensaver's dialog chooses a file";

  std::vector<char> cwd(4096);
  ASSERT_NE(nullptr, getcwd(cwd.data(), cwd.size()));
  ASSERT_EQ(0, chdir(dir.Path().c_str()));
  bool relative = Set(kSettingPicPath, "pics", &v, &error);
  std::string got = v.PicPath;
  ASSERT_EQ(0, chdir(cwd.data()));
  ASSERT_TRUE(relative) << error;
  char real[PATH_MAX];
  ASSERT_NE(nullptr, realpath(dir.Path().c_str(), real));
  EXPECT_TRUE(got == dir.File("pics") + "/" || got == std::string(real) + "/pics/")
      << "a relative folder is taken from the working folder, got " << got;

  std::string before = v.PicPath;
  EXPECT_FALSE(Set(kSettingPicPath, dir.File("missing"), &v, &error));
  EXPECT_NE(std::string::npos, error.find("--folder")) << error;
  EXPECT_FALSE(Set(kSettingPicPath, "", &v, &error));
  // A folder whose path does not fit the 1024-byte field is refused, not cut.
  std::string deep = dir.Path();
  while (deep.size() < 1030) {
    deep += "/" + std::string(100, 'd');
    ASSERT_EQ(0, mkdir(deep.c_str(), 0755)) << deep;
  }
  EXPECT_FALSE(Set(kSettingPicPath, deep, &v, &error));
  EXPECT_NE(std::string::npos, error.find("1024")) << error;
  EXPECT_EQ(before, v.PicPath) << "a refused folder changed the override";
}

TEST(SettingOptions, ApplyReplacesOnlyWhatWasGiven) {
  SETTINGS s;
  s.PIC_SIZE = 7;
  s.CHARSIZE = 9;
  s.fCHARSIZE = 0.09f;
  s.CHARTYPE = 2;
  s.SHOWCAPTION = false;
  s.MLFIRST = false;
  s.PICDELAY = 33;
  CopyPicPath(s.PicPath, "/stored/");
  bool mainOnly = true;

  SettingOverrides none;
  SETTINGS same = s;
  ApplySettingOverrides(none, &same, &mainOnly);
  EXPECT_EQ(DescribeSettings(s, true), DescribeSettings(same, mainOnly))
      << "nothing given changes nothing";
  EXPECT_FLOAT_EQ(0.09f, same.fCHARSIZE);
  EXPECT_TRUE(mainOnly);

  SettingOverrides v;
  std::string error;
  TempDir dir;
  ASSERT_TRUE(Set(kSettingCharSize, "5", &v, &error));
  ASSERT_TRUE(Set(kSettingMainMonitorOnly, "", &v, &error, true));
  ASSERT_TRUE(Set(kSettingMLFirst, "", &v, &error));
  ASSERT_TRUE(Set(kSettingPicPath, dir.Path(), &v, &error));
  ApplySettingOverrides(v, &s, &mainOnly);
  EXPECT_EQ(5, s.CHARSIZE);
  EXPECT_FLOAT_EQ(0.05f, s.fCHARSIZE) << "fCHARSIZE follows CHARSIZE";
  EXPECT_FALSE(mainOnly);
  EXPECT_TRUE(s.MLFIRST);
  EXPECT_EQ(dir.Path() + "/", s.PicPath);
  EXPECT_EQ(7, s.PIC_SIZE);
  EXPECT_EQ(2, s.CHARTYPE);
  EXPECT_FALSE(s.SHOWCAPTION);
  EXPECT_EQ(33, s.PICDELAY);

  EXPECT_EQ("glyphs 7, glyph-size 5, case lower, picture-delay 33, folder " + dir.Path() +
                "/, builtin-first on, captions off, main-monitor-only off",
            DescribeSettings(s, mainOnly));
  s.CHARTYPE = 9;
  EXPECT_NE(std::string::npos, DescribeSettings(s, true).find("case 9,"))
      << "a stored case outside 0 to 2 is shown as its number";
}
