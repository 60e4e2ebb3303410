// The configuration sheet with its real layout on a private Xvfb server, the
// real preference store in a temporary folder, and the open panel and the
// desktop handler scripted through their test hooks.

#include "support/TestSupport.h"
#include "support/Xvfb.h"

#include "effect/Code.h"
#include "host/GlymmerView.h"
#include "host/Settings.h"
#include "host/SheetPreview.h"
#include "platform/gtk/Alert.h"
#include "platform/Clock.h"
#include "platform/OpenGLView.h"
#include "platform/gtk/OpenPanel.h"
#include "platform/ScreenSaverDefaults.h"
#include "platform/gtk/PreviewPane.h"
#include "platform/gtk/SheetLayout.h"
#include "platform/ImageFile.h"
#include "platform/Workspace.h"
#include "scene/SSMain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

// One X server for the whole program; the toolkit opens it once.
class SheetEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    ASSERT_TRUE(server.Start(1024, 768)) << "Xvfb is not installed or cannot start";
    server.Export();
    // No accessibility bus and no settings daemon on a bare X server.
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    ASSERT_TRUE(StartToolkit()) << "the toolkit cannot open " << server.Display();
  }
  Xvfb server;
};

::testing::Environment* const gEnvironment = ::testing::AddGlobalTestEnvironment(new SheetEnvironment);

std::string StoreFile(const TempDir& config) { return config.Path() + "/glymmer/kvGlymmerSS.ini"; }

class SheetTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    ScreenSaverDefaults::ForgetStoresForTesting();
    ClearAlertsShown();
    SetAlertEcho(false);
    NSOpenPanel::SetRunHookForTesting(nullptr);
    SetSpawnHookForTesting([this](const std::vector<std::string>& command) {
      spawned.push_back(command);
      return true;
    });
  }
  void TearDown() override {
    delete view;
    view = nullptr;
    NSOpenPanel::SetRunHookForTesting(nullptr);
    SetSpawnHookForTesting(nullptr);
    SetAlertEcho(true);
    ScreenSaverDefaults::ForgetStoresForTesting();
  }

  // Writes a store as a view of an earlier run would have left it.
  void StoreSettings(bool mainMonitorOnly, bool showCaption, bool mlFirst, long long charSize,
                     long long charType, long long picSize, long long picDelay, const std::string& folder) {
    ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
    store->setObject("1.0", "version");
    store->setBool(mainMonitorOnly, "MainMonitorOnly");
    store->setBool(showCaption, "ShowCaption");
    store->setBool(mlFirst, "MLFirst");
    store->setInteger(charSize, "CharSize");
    store->setInteger(charType, "CharType");
    store->setInteger(picSize, "PicSize");
    store->setInteger(picDelay, "PicDelay");
    store->setObject(folder.c_str(), "PicPath");
    ASSERT_TRUE(store->synchronize());
    ScreenSaverDefaults::ForgetStoresForTesting();
  }

  // A view as the host makes one; its settings come from the store.
  GlymmerView* MakeView() {
    delete view;
    view = new GlymmerView;
    EXPECT_EQ(view, view->initWithFrame(NSMakeRect(0, 0, 160, 120), true));
    view->SetWindow(&window);
    view->setFrameSize(NSMakeSize(160, 120));
    return view;
  }

  NSPanel* OpenSheet() {
    NSPanel* sheet = view->configureSheet();
    EXPECT_NE(nullptr, sheet) << "the layout GlymmerSS did not load";
    return sheet;
  }

  static std::string DefaultFolder() {
    char folder[1025];
    DefaultPicturePath(folder);
    return folder;
  }

  TempDir config;
  NSWindow window;
  GlymmerView* view = nullptr;
  std::vector<std::vector<std::string>> spawned;
};

// ---- The layout ------------------------------------------------------------

TEST_F(SheetTest, EveryOutletIsConnectedWithItsControlKindAndEveryActionIsSent) {
  MakeView();
  NSPanel* sheet = OpenSheet();
  ASSERT_NE(nullptr, sheet);
  EXPECT_EQ(sheet, view->configureSheetWindow);
  EXPECT_STREQ("GtkDialog", sheet->ClassName());
  EXPECT_EQ("Glymmer Settings", sheet->title());
  EXPECT_FALSE(sheet->isVisible()) << "the host decides when to show the sheet";

  for (NSButton* box : {view->oMainMonitorOnly, view->oShowCaption, view->oMLFirst}) {
    ASSERT_NE(nullptr, box);
    EXPECT_STREQ("GtkCheckButton", box->ClassName());
  }
  ASSERT_NE(nullptr, view->oPicPath);
  EXPECT_STREQ("GtkButton", view->oPicPath->ClassName()) << "the folder is a button with a title";

  struct Range {
    NSControl* control;
    const char* name;
    int low, high, value;
  };
  for (const Range& r : {Range{view->oCharSize, "oCharSize", 1, 100, 20},
                         Range{view->oPicSize, "oPicSize", 1, 100000, 15000},
                         Range{view->oPicDelay, "oPicDelay", 5, 3600, 120}}) {
    ASSERT_NE(nullptr, r.control) << r.name;
    EXPECT_STREQ("GtkSpinButton", r.control->ClassName()) << r.name;
    EXPECT_EQ(r.low, r.control->minValue()) << r.name;
    EXPECT_EQ(r.high, r.control->maxValue()) << r.name;
    EXPECT_EQ(r.value, r.control->intValue()) << r.name << " shows the default of a fresh store";
  }

  ASSERT_NE(nullptr, view->oCharType);
  EXPECT_STREQ("GtkComboBoxText", view->oCharType->ClassName());
  ASSERT_EQ(3, view->oCharType->numberOfItems());
  EXPECT_EQ("As in the file name", view->oCharType->itemTitleAtIndex(0));
  EXPECT_EQ("UPPER CASE", view->oCharType->itemTitleAtIndex(1));
  EXPECT_EQ("lower case", view->oCharType->itemTitleAtIndex(2));

  // Which control sends which action.
  auto sends = [&](const std::string& id, const std::string& signal, const std::string& action) {
    for (const NSPanel::Connection& c : sheet->Connections())
      if (c.objectId == id && c.signal == signal && c.action == action) return true;
    return false;
  };
  EXPECT_TRUE(sends("saveButton", "clicked", "configureSheet_save"));
  EXPECT_TRUE(sends("cancelButton", "clicked", "configureSheet_cancel"));
  EXPECT_TRUE(sends("configureSheet", "delete-event", "configureSheet_cancel"))
      << "closing the window cancels";
  EXPECT_TRUE(sends("defaultsButton", "clicked", "configureSheet_defaults"));
  EXPECT_TRUE(sends("oPicPath", "clicked", "configureSheet_directory"));
  EXPECT_TRUE(sends("websiteButton", "clicked", "configureSheet_openwebsite"));
  for (const char* id : {"oMainMonitorOnly", "oShowCaption", "oMLFirst"})
    EXPECT_TRUE(sends(id, "toggled", "configureSheet_update")) << id;
  for (const char* id : {"oCharSize", "oPicSize", "oPicDelay"})
    EXPECT_TRUE(sends(id, "value-changed", "configureSheet_update")) << id;
  EXPECT_TRUE(sends("oCharType", "changed", "configureSheet_update"));

  // Kept for a person to look at with GLYMMER_KEEP_FRAMES.
  if (std::getenv("GLYMMER_KEEP_FRAMES")) {
    std::string folder = std::string(GLYMMER_BINARY_DIR) + "/test-output";
    mkdir(folder.c_str(), 0755);
    EXPECT_TRUE(sheet->SaveScreenshot((folder + "/sheet.png").c_str()));
  }
}

TEST(SheetLayout, EveryAltKeyOfTheLayoutReachesOneControl) {
  // Two labels with the same underlined letter make Alt+letter cycle between
  // them instead of acting.
  std::string ui = ReadFileBytes(std::string(GLYMMER_SOURCE_DIR) + "/resources/GlymmerSS.ui");
  ASSERT_FALSE(ui.empty());
  const std::string open = "<property name=\"label\">", close = "</property>";
  std::map<char, std::string> keys;
  for (size_t at = ui.find(open); at != std::string::npos; at = ui.find(open, at + 1)) {
    size_t begin = at + open.size(), end = ui.find(close, begin);
    ASSERT_NE(std::string::npos, end);
    std::string label = ui.substr(begin, end - begin);
    size_t underline = label.find('_');
    if (underline == std::string::npos || underline + 1 >= label.size()) continue;
    char key = static_cast<char>(std::tolower(static_cast<unsigned char>(label[underline + 1])));
    EXPECT_TRUE(keys.emplace(key, label).second)
        << "Alt+" << key << " is taken by both \"" << keys[key] << "\" and \"" << label << "\"";
  }
  EXPECT_GE(keys.size(), 10u) << "the labels have lost their Alt keys";
}

TEST_F(SheetTest, LoaderRefusesMissingObjectsWrongKindsAndUnknownHandlers) {
  struct Owner {
    NSPanel* window = nullptr;
    NSButton* button = nullptr;
    NSControl* control = nullptr;
  } owner;
  auto noAction = [](void*, void*) {};
  const char* handlers[] = {"configureSheet_save",      "configureSheet_cancel",
                            "configureSheet_defaults",  "configureSheet_directory",
                            "configureSheet_openwebsite", "configureSheet_update"};
  {
    NibConnections c(&owner);
    c.Window("configureSheet", &owner.window);
    c.TitledButton("noSuchButton", &owner.button);
    for (const char* h : handlers) c.Handler(h, noAction);
    EXPECT_FALSE(loadNibNamed("GlymmerSS", &c)) << "an outlet the layout lacks";
    EXPECT_EQ(nullptr, owner.window) << "a failed load sets no outlet";
  }
  {
    NibConnections c(&owner);
    c.Window("configureSheet", &owner.window);
    c.CheckBox("oPicPath", &owner.button);
    for (const char* h : handlers) c.Handler(h, noAction);
    EXPECT_FALSE(loadNibNamed("GlymmerSS", &c)) << "the folder button is no check box";
    c = NibConnections(&owner);
    c.Window("configureSheet", &owner.window);
    c.IntegerControl("oCharType", &owner.control);
    for (const char* h : handlers) c.Handler(h, noAction);
    EXPECT_FALSE(loadNibNamed("GlymmerSS", &c)) << "the pop-up list has no integer value";
  }
  {
    NibConnections c(&owner);
    c.Window("configureSheet", &owner.window);
    for (const char* h : handlers)
      if (std::strcmp(h, "configureSheet_update") != 0) c.Handler(h, noAction);
    EXPECT_FALSE(loadNibNamed("GlymmerSS", &c)) << "the layout names a handler the owner lacks";
    EXPECT_EQ(nullptr, owner.window);
  }
  {
    NibConnections c(&owner);
    c.Window("configureSheet", &owner.window);
    EXPECT_FALSE(loadNibNamed("NoSuchLayout", &c));
    EXPECT_EQ(nullptr, owner.window);
  }
  {
    NibConnections c(&owner);
    c.Window("configureSheet", &owner.window);
    c.TitledButton("oPicPath", &owner.button);
    for (const char* h : handlers) c.Handler(h, noAction);
    ASSERT_TRUE(loadNibNamed("GlymmerSS", &c));
    ASSERT_NE(nullptr, owner.window);
    EXPECT_NE(nullptr, owner.button);
    delete owner.window;
  }
}

// ---- Opening ---------------------------------------------------------------

TEST_F(SheetTest, OpeningAgainReusesTheLayoutAndRefillsFromMemoryNotFromTheStore) {
  StoreSettings(true, false, false, 35, 2, 4000, 300, "/pictures/holiday/");
  MakeView();
  NSPanel* first = OpenSheet();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(NSOnState, view->oMainMonitorOnly->state());
  EXPECT_EQ(NSOffState, view->oShowCaption->state());
  EXPECT_EQ(NSOffState, view->oMLFirst->state());
  EXPECT_EQ(35, view->oCharSize->intValue());
  EXPECT_EQ(2, view->oCharType->indexOfSelectedItem());
  EXPECT_EQ(4000, view->oPicSize->intValue());
  EXPECT_EQ(300, view->oPicDelay->intValue());
  EXPECT_EQ("/pictures/holiday/", view->oPicPath->title());

  NSButton* box = view->oMainMonitorOnly;
  NSControl* size = view->oCharSize;
  // Unsaved edits, a store changed behind the sheet's back, and new values
  // in memory.
  view->oMainMonitorOnly->setState(NSOffState);
  view->oCharSize->setIntValue(90);
  view->oCharType->selectItemAtIndex(0);
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  store->setInteger(77, "PicSize");
  view->mySettings.PIC_SIZE = 1234;
  view->mySettings.PICDELAY = 45;
  view->mySettings.SHOWCAPTION = true;
  std::strcpy(view->mySettings.PicPath, "/elsewhere/");

  NSPanel* second = OpenSheet();
  EXPECT_EQ(first, second) << "the layout is loaded once per view";
  EXPECT_EQ(box, view->oMainMonitorOnly);
  EXPECT_EQ(size, view->oCharSize);
  EXPECT_EQ(NSOnState, view->oMainMonitorOnly->state()) << "unsaved edits are gone";
  EXPECT_EQ(35, view->oCharSize->intValue());
  EXPECT_EQ(2, view->oCharType->indexOfSelectedItem());
  EXPECT_EQ(1234, view->oPicSize->intValue()) << "from memory, not the store's 77";
  EXPECT_EQ(45, view->oPicDelay->intValue());
  EXPECT_EQ(NSOnState, view->oShowCaption->state());
  EXPECT_EQ("/elsewhere/", view->oPicPath->title());
}

TEST_F(SheetTest, ValuesBeyondAControlAreBoundedByItNotWrapped) {
  MakeView();
  view->mySettings.PIC_SIZE = (int64_t{1} << 33) + 5;  // low 32 bits: 5
  view->mySettings.CHARSIZE = -7;
  view->mySettings.PICDELAY = 999999;
  view->mySettings.CHARTYPE = 7;
  OpenSheet();
  EXPECT_EQ(100000, view->oPicSize->intValue()) << "a huge count shows the control's top, not 5";
  EXPECT_EQ(1, view->oCharSize->intValue());
  EXPECT_EQ(3600, view->oPicDelay->intValue());
  EXPECT_EQ(-1, view->oCharType->indexOfSelectedItem()) << "no item has index 7";
  view->oCharType->setIntValue(1);
  EXPECT_EQ(1, view->oCharType->indexOfSelectedItem());
}

// ---- Defaults, folder choice and Cancel -------------------------------------

TEST_F(SheetTest, DefaultsThenCancelLeavesTheStoreAndMemoryButThePictureFolder) {
  StoreSettings(true, false, false, 35, 2, 4000, 300, "/pictures/holiday/");
  MakeView();
  std::string before = ReadFileBytes(StoreFile(config));
  ASSERT_FALSE(before.empty());
  SETTINGS memory = view->mySettings;
  NSPanel* sheet = OpenSheet();
  sheet->show();

  ASSERT_TRUE(sheet->PerformClick("defaultsButton"));
  EXPECT_EQ(NSOffState, view->oMainMonitorOnly->state());
  EXPECT_EQ(NSOnState, view->oShowCaption->state());
  EXPECT_EQ(NSOnState, view->oMLFirst->state());
  EXPECT_EQ(20, view->oCharSize->intValue());
  EXPECT_EQ(0, view->oCharType->indexOfSelectedItem());
  EXPECT_EQ(15000, view->oPicSize->intValue());
  EXPECT_EQ(120, view->oPicDelay->intValue());
  EXPECT_EQ(DefaultFolder(), view->oPicPath->title());
  EXPECT_EQ(DefaultFolder(), view->mySettings.PicPath) << "Defaults writes the folder at once";

  ASSERT_TRUE(sheet->PerformClick("cancelButton"));
  EXPECT_EQ(1, sheet->timesEnded());
  EXPECT_FALSE(sheet->isVisible());
  EXPECT_EQ(before, ReadFileBytes(StoreFile(config))) << "Cancel stores nothing";
  EXPECT_TRUE(view->MainMonitorOnly);
  EXPECT_EQ(memory.SHOWCAPTION, view->mySettings.SHOWCAPTION);
  EXPECT_EQ(memory.MLFIRST, view->mySettings.MLFIRST);
  EXPECT_EQ(35, view->mySettings.CHARSIZE);
  EXPECT_EQ(2, view->mySettings.CHARTYPE);
  EXPECT_EQ(4000, view->mySettings.PIC_SIZE);
  EXPECT_EQ(300, view->mySettings.PICDELAY);
  EXPECT_EQ(DefaultFolder(), view->mySettings.PicPath);

  OpenSheet();
  EXPECT_EQ(DefaultFolder(), view->oPicPath->title()) << "reopening shows the default folder";
  EXPECT_EQ(35, view->oCharSize->intValue());
}

TEST_F(SheetTest, TheFolderChooserAsksForAFolderAndAChosenOneStaysInMemoryAfterCancel) {
  TempDir pictures;
  std::string chosen = pictures.Path() + "/Holiday_<b>pics<i> & more";
  ASSERT_EQ(0, mkdir(chosen.c_str(), 0755));
  StoreSettings(false, true, true, 20, 0, 15000, 120, "/pictures/holiday/");
  MakeView();
  std::string before = ReadFileBytes(StoreFile(config));

  int runs = 0;
  NSOpenPanel::SetRunHookForTesting([&](const NSOpenPanel& panel, const std::string& directory,
                                        const std::string& file, const std::vector<std::string>& types,
                                        std::vector<std::string>* paths) {
    ++runs;
    EXPECT_EQ("Select Picture Folder", panel.title());
    EXPECT_TRUE(panel.canChooseDirectories());
    EXPECT_FALSE(panel.canChooseFiles());
    EXPECT_FALSE(panel.allowsMultipleSelection());
    EXPECT_EQ("/pictures/holiday/", directory) << "it starts in the current folder";
    EXPECT_EQ("", file);
    EXPECT_EQ((std::vector<std::string>{"jpg", "gif", "png", "JPG", "GIF", "PNG"}), types);
    if (runs == 1) return 0;  // the person cancels the first time
    paths->push_back(chosen);
    return 1;
  });

  NSPanel* sheet = OpenSheet();
  ASSERT_TRUE(sheet->PerformClick("oPicPath"));
  EXPECT_EQ(1, runs);
  EXPECT_STREQ("/pictures/holiday/", view->mySettings.PicPath) << "a cancelled chooser changes nothing";
  EXPECT_EQ("/pictures/holiday/", view->oPicPath->title());

  view->oPicPath->performClick();
  EXPECT_EQ(2, runs);
  EXPECT_EQ(chosen, view->mySettings.PicPath) << "the chosen folder, without a trailing /";
  EXPECT_EQ(chosen, view->oPicPath->title()) << "the title keeps every character as chosen";

  sheet->PerformClose();
  EXPECT_EQ(1, sheet->timesEnded()) << "closing the window ends the sheet as Cancel does";
  EXPECT_EQ(before, ReadFileBytes(StoreFile(config)));
  EXPECT_EQ(chosen, view->mySettings.PicPath);
  OpenSheet();
  EXPECT_EQ(chosen, view->oPicPath->title());
}

// ---- Save ------------------------------------------------------------------

TEST_F(SheetTest, SaveWritesEveryKeyButVersionInItsOrderThenEndsTheSheet) {
  // A store that holds nothing but its version: the file then lists the keys
  // in the order Save first writes them.
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  store->setObject("1.0", "version");
  ASSERT_TRUE(store->synchronize());
  ScreenSaverDefaults::ForgetStoresForTesting();
  MakeView();
  EXPECT_EQ(0, view->mySettings.PIC_SIZE) << "no reset for a store of version 1.0";
  NSPanel* sheet = OpenSheet();
  sheet->show();

  view->oMainMonitorOnly->setState(NSOnState);
  view->oShowCaption->setState(NSOnState);
  view->oMLFirst->setState(NSOffState);
  view->oCharSize->setIntValue(42);
  view->oCharType->selectItemAtIndex(1);
  view->oPicDelay->setIntValue(600);
  view->oPicSize->setIntValue(2500);
  view->oPicPath->setTitle("/my/pictures");
  // A "version" that Save must leave alone.
  ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS")->setObject("0.9", "version");

  ASSERT_TRUE(sheet->PerformClick("saveButton"));
  EXPECT_EQ(1, sheet->timesEnded());
  EXPECT_FALSE(sheet->isVisible());
  EXPECT_EQ("[kvGlymmerSS]\n"
            "version=0.9\n"
            "MainMonitorOnly=true\n"
            "ShowCaption=true\n"
            "MLFirst=false\n"
            "CharSize=42\n"
            "CharType=1\n"
            "PicDelay=600\n"
            "PicSize=2500\n"
            "PicPath=/my/pictures\n",
            ReadFileBytes(StoreFile(config)));
  EXPECT_TRUE(view->MainMonitorOnly);
  EXPECT_TRUE(view->mySettings.SHOWCAPTION);
  EXPECT_FALSE(view->mySettings.MLFIRST);
  EXPECT_EQ(42, view->mySettings.CHARSIZE);
  EXPECT_FLOAT_EQ(0.42f, view->mySettings.fCHARSIZE);
  EXPECT_EQ(1, view->mySettings.CHARTYPE);
  EXPECT_EQ(600, view->mySettings.PICDELAY);
  EXPECT_EQ(2500, view->mySettings.PIC_SIZE);
  EXPECT_TRUE(AlertsShown().empty());
}

TEST_F(SheetTest, AMixedCheckBoxSavesAsFalseAndAClickMakesItOnOrOff) {
  MakeView();
  NSPanel* sheet = OpenSheet();
  for (NSButton* box : {view->oMainMonitorOnly, view->oShowCaption, view->oMLFirst}) {
    box->setState(NSOnState);
    box->setState(NSMixedState);
    EXPECT_EQ(NSMixedState, box->state()) << "a box that was on, now mixed";
  }
  view->configureSheet_save(nullptr);
  EXPECT_EQ(1, sheet->timesEnded());
  EXPECT_FALSE(view->MainMonitorOnly);
  EXPECT_FALSE(view->mySettings.SHOWCAPTION);
  EXPECT_FALSE(view->mySettings.MLFIRST);
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  EXPECT_FALSE(store->boolForKey("MainMonitorOnly"));
  EXPECT_FALSE(store->boolForKey("ShowCaption"));
  EXPECT_FALSE(store->boolForKey("MLFirst"));

  view->oShowCaption->setState(NSMixedState);
  view->oShowCaption->performClick();
  EXPECT_NE(NSMixedState, view->oShowCaption->state()) << "a person's click leaves the mixed state";
}

TEST_F(SheetTest, AChosenFolderIsSavedWithoutSlashAndGetsItOnTheNextLoad) {
  TempDir pictures;
  // Bytes that are not UTF-8 (a Latin-1 name) are kept exactly.
  std::string chosen = pictures.Path() + "/caf\xe9";
  NSOpenPanel::SetRunHookForTesting([&](const NSOpenPanel&, const std::string&, const std::string&,
                                        const std::vector<std::string>&, std::vector<std::string>* paths) {
    paths->push_back(chosen);
    return 1;
  });
  MakeView();
  OpenSheet();
  view->configureSheet_directory(nullptr);
  EXPECT_EQ(chosen, view->mySettings.PicPath);
  EXPECT_EQ(chosen, view->oPicPath->title());
  view->configureSheet_save(nullptr);
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName("kvGlymmerSS");
  ASSERT_TRUE(store->stringForKey("PicPath").has_value());
  EXPECT_EQ(chosen, *store->stringForKey("PicPath"));
  EXPECT_EQ(chosen, view->mySettings.PicPath) << "no / until the settings are loaded again";

  ScreenSaverDefaults::ForgetStoresForTesting();
  SETTINGS loaded;
  bool mainOnly = true;
  ASSERT_TRUE(LoadSettings(&loaded, &mainOnly));
  EXPECT_EQ(chosen + "/", loaded.PicPath);
}

TEST_F(SheetTest, SaveLeavesARunningSceneAsItWas) {
  std::string pics = std::string(GLYMMER_SOURCE_DIR) + "/resources/pics/";
  StoreSettings(false, true, true, 20, 0, 300, 120, pics);
  FakeClock clock;
  clock.now = 1000.0;
  clock.Install();
  MakeView();
  view->startAnimation();
  view->animateOneFrame();
  SSMAIN* scene = view->ssMain;
  ASSERT_NE(nullptr, scene);
  ASSERT_NE(nullptr, scene->effect);
  MAINCODE* effect = scene->effect;
  const float* glyphs = effect->glyphs.x;
  std::string scenePath = effect->picPath;

  OpenSheet();
  view->oPicSize->setIntValue(9000);
  view->oCharSize->setIntValue(70);
  view->oPicDelay->setIntValue(30);
  view->oCharType->selectItemAtIndex(2);
  view->oShowCaption->setState(NSOffState);
  view->oMLFirst->setState(NSOffState);
  view->oPicPath->setTitle("/somewhere/else");
  view->configureSheet_save(nullptr);
  EXPECT_EQ(9000, view->mySettings.PIC_SIZE);

  EXPECT_EQ(scene, view->ssMain) << "the scene is not rebuilt";
  EXPECT_EQ(effect, scene->effect);
  EXPECT_EQ(glyphs, effect->glyphs.x);
  EXPECT_EQ(300, effect->glyphCount);
  EXPECT_EQ(20, effect->charSize);
  EXPECT_EQ(120, effect->picDelay);
  EXPECT_EQ(0, effect->charType);
  EXPECT_TRUE(effect->showCaption);
  EXPECT_EQ(scenePath, effect->picPath);

  uint64_t frames = view->glView->PresentedFrames();
  clock.now += 0.05;
  view->animateOneFrame();
  EXPECT_EQ(frames + 1, view->glView->PresentedFrames()) << "the animation goes on";
  EXPECT_EQ(300, view->ssMain->effect->glyphCount);
  delete view;  // with the clock still installed
  view = nullptr;
}

// What the preview pane shows last: the share of lit pixels, and the share
// of those that are clearly red.
struct PaneLook {
  double lit = 0, red = 0;
  uint64_t frames = 0;
};

PaneLook LookAt(const SheetPreview& preview) {
  PaneLook look;
  look.frames = preview.Pane()->FramesShown();
  std::vector<unsigned char> rgb;
  int w = 0, h = 0;
  if (!preview.Pane()->LastFrame(&rgb, &w, &h)) return look;
  long long lit = 0, red = 0;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
    if (rgb[i] <= 24 && rgb[i + 1] <= 24 && rgb[i + 2] <= 24) continue;
    ++lit;
    if (rgb[i] > 2 * rgb[i + 1] && rgb[i] > 2 * rgb[i + 2]) ++red;
  }
  look.lit = static_cast<double>(lit) / (static_cast<double>(w) * h);
  look.red = lit ? static_cast<double>(red) / static_cast<double>(lit) : 0;
  return look;
}

// Lets the dialog run until `done` holds, for at most `seconds`.
template <typename Done>
bool RunUntil(Done done, double seconds) {
  for (double waited = 0; waited < seconds; waited += 0.1) {
    if (done()) return true;
    RunToolkitFor(0.1);
  }
  return done();
}

TEST_F(SheetTest, ThePreviewShowsTheMosaicFollowsUnsavedControlsAndDrawsNothingHidden) {
  // One red picture: a mosaic coloured like it is red, and the settled sheet
  // of 15000 letters lights over a quarter of the pane.
  TempDir pics;
  std::vector<unsigned char> red(64 * 64 * 4);
  for (size_t i = 0; i < red.size(); i += 4) red[i] = red[i + 3] = 255;
  ASSERT_TRUE(WritePNG(pics.File("Scarlet.png").c_str(), 64, 64, red.data(), false));
  StoreSettings(false, true, false, 20, 0, 15000, 120, pics.Path());
  std::string stored = ReadFileBytes(StoreFile(config));
  MakeView();
  NSPanel* sheet = OpenSheet();
  SheetPreview preview;
  ASSERT_TRUE(preview.Setup(view)) << "the layout has no preview pane";
  sheet->show();

  PaneLook shown;
  EXPECT_TRUE(RunUntil([&] { return (shown = LookAt(preview)).lit > 0.2 && shown.red > 0.9; }, 60))
      << "the preview shows no red mosaic: lit " << shown.lit << ", red " << shown.red << " after "
      << shown.frames << " frames";
  if (std::getenv("GLYMMER_KEEP_FRAMES")) {
    std::string folder = std::string(GLYMMER_BINARY_DIR) + "/test-output";
    mkdir(folder.c_str(), 0755);
    sheet->SaveScreenshot((folder + "/sheet-preview.png").c_str());
  }
  ASSERT_NE(nullptr, preview.View());
  EXPECT_TRUE(preview.View()->isPreview());

  // A letter count changed and not saved: the preview's scene has it, and
  // far fewer letters light far less of the pane.
  view->oPicSize->setIntValue(300);
  auto fewer = [&] {
    SSMAIN* scene = preview.View()->ssMain;
    return scene && scene->effect && scene->effect->glyphCount == 300 &&
           LookAt(preview).lit < shown.lit / 2;
  };
  EXPECT_TRUE(RunUntil(fewer, 30)) << "the preview kept " << preview.View()->ssMain->effect->glyphCount
                                   << " letters, lighting " << LookAt(preview).lit;

  // Cancel stores nothing, and the hidden dialog's preview commits no frame.
  ASSERT_TRUE(sheet->PerformClick("cancelButton"));
  EXPECT_FALSE(sheet->isVisible());
  RunToolkitFor(0.2);  // a frame already under way when it was hidden
  uint64_t frames = preview.Pane()->FramesShown();
  RunToolkitFor(1.5);
  EXPECT_EQ(frames, preview.Pane()->FramesShown()) << "the hidden preview went on drawing";
  EXPECT_EQ(stored, ReadFileBytes(StoreFile(config)));
  preview.Cleanup();
}

TEST_F(SheetTest, ASaveThatCannotBeWrittenIsToldAndStillEndsTheSheet) {
  MakeView();
  NSPanel* sheet = OpenSheet();
  // A configuration folder beneath a plain file cannot be made, even by root.
  std::string blocker = config.Write("blocker", "not a folder");
  setenv("XDG_CONFIG_HOME", (blocker + "/config").c_str(), 1);
  ScreenSaverDefaults::ForgetStoresForTesting();
  view->oPicSize->setIntValue(321);
  view->configureSheet_save(nullptr);
  EXPECT_EQ(1, sheet->timesEnded());
  EXPECT_EQ(321, view->mySettings.PIC_SIZE);
  std::vector<AlertRecord> alerts = AlertsShown();
  ASSERT_EQ(1u, alerts.size()) << "a lost save is not kept quiet";
  EXPECT_EQ("ERROR", alerts[0].title);
  EXPECT_NE(std::string::npos, alerts[0].message.find("could not be saved")) << alerts[0].message;
}

TEST_F(SheetTest, ActionsWithoutALoadedSheetDoNothing) {
  MakeView();
  std::string before = ReadFileBytes(StoreFile(config));
  view->configureSheet_save(nullptr);
  view->configureSheet_defaults(nullptr);
  view->configureSheet_cancel(nullptr);
  view->configureSheet_update(nullptr);
  view->configureSheet_openwebsite(nullptr);
  view->configureSheet_directory(nullptr);
  EXPECT_TRUE(spawned.empty());
  EXPECT_EQ(before, ReadFileBytes(StoreFile(config)));
  EXPECT_EQ(15000, view->mySettings.PIC_SIZE);
  EXPECT_EQ(nullptr, view->configureSheetWindow);
}

// ---- The website -----------------------------------------------------------

TEST_F(SheetTest, TheWebsiteButtonOpensTheReadmeWithXdgOpen) {
  MakeView();
  NSPanel* sheet = OpenSheet();
  ASSERT_TRUE(sheet->PerformClick("websiteButton"));
  ASSERT_EQ(1u, spawned.size());
  // A program run from the build tree offers the source tree's README.
  std::string expected = FileAddressForPath(std::string(GLYMMER_SOURCE_DIR) + "/README.md");
  EXPECT_EQ((std::vector<std::string>{"xdg-open", expected}), spawned[0]);
  EXPECT_EQ(expected, GlymmerView::WebsiteAddress());
  EXPECT_EQ(0, sheet->timesEnded()) << "the sheet stays open";
}

TEST(Workspace, FileAddressesAreEncodedAndTheHandlerGetsThemAsOneArgumentWithoutAShell) {
  EXPECT_EQ("file:///usr/share/doc/glymmer/README.md", FileAddressForPath("/usr/share/doc/glymmer/README.md"));
  EXPECT_EQ("file:///a%20b/%C3%BC%23%3F%3B%24%28x%29", FileAddressForPath("/a b/\xc3\xbc#?;$(x)"));
  EXPECT_EQ("", FileAddressForPath("relative/README.md"));

  // A stand-in xdg-open first on PATH records its arguments.
  TempDir bin;
  std::string log = bin.File("args");
  std::string script = bin.Write("xdg-open", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                                                 log + ".tmp\"\nmv \"" + log + ".tmp\" \"" + log + "\"\n");
  ASSERT_EQ(0, chmod(script.c_str(), 0755));
  std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (bin.Path() + ":" + oldPath).c_str(), 1);
  std::string address = "file:///x; touch " + bin.File("shell-ran") + " $(id)";
  bool started = OpenAddressWithDesktop(address);
  setenv("PATH", oldPath.c_str(), 1);
  ASSERT_TRUE(started);
  for (int i = 0; i < 500 && access(log.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(address + "\n", ReadFileBytes(log)) << "one argument, exactly as given";
  EXPECT_NE(0, access(bin.File("shell-ran").c_str(), F_OK)) << "no shell read the address";

  setenv("PATH", bin.File("empty").c_str(), 1);
  EXPECT_FALSE(OpenAddressWithDesktop("file:///x")) << "no handler to start";
  setenv("PATH", oldPath.c_str(), 1);
}

}  // namespace
