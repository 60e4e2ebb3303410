// ConfigureSheet: the configuration sheet of GlymmerView, which edits the
// view's in-memory settings and saves them to the preference store.

#include "host/GlymmerView.h"

#include "host/AppSettings.h"
#include "host/Settings.h"
#include "host/SettingsTable.h"
#include "platform/gtk/Alert.h"
#include "platform/Bundle.h"
#include "platform/gtk/OpenPanel.h"
#include "platform/ScreenSaverDefaults.h"
#include "platform/gtk/SheetLayout.h"
#include "platform/Workspace.h"

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A setting as an integer control's value. Values outside what a control can
// hold are brought to its nearest end rather than wrapped.
int ControlValue(int64_t value) {
  if (value < INT_MIN) return INT_MIN;
  if (value > INT_MAX) return INT_MAX;
  return static_cast<int>(value);
}

int CheckState(bool on) { return on ? NSOnState : NSOffState; }

std::string PicPathText(const char* picPath) {
  return std::string(picPath, strnlen(picPath, kPicPathMaxText + 1));
}

// The folder above `folder` (no trailing "/"), lexically.
std::string ParentFolder(const std::string& folder) {
  size_t slash = folder.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return folder.substr(0, slash);
}

const char* Key(SettingIndex index) { return kSettingKeys[index].key; }

template <void (GlymmerView::*Operation)(void*)>
void Send(void* owner, void* sender) {
  (static_cast<GlymmerView*>(owner)->*Operation)(sender);
}

}  // namespace

NSPanel* GlymmerView::configureSheet() {
  if (!configureSheetWindow) {
    NibConnections c(this);
    c.Window("configureSheet", &configureSheetWindow);
    c.CheckBox("oMainMonitorOnly", &oMainMonitorOnly);
    c.CheckBox("oShowCaption", &oShowCaption);
    c.IntegerControl("oPicSize", &oPicSize);
    c.IntegerControl("oCharSize", &oCharSize);
    c.PopUp("oCharType", &oCharType);
    c.IntegerControl("oPicDelay", &oPicDelay);
    c.CheckBox("oMLFirst", &oMLFirst);
    c.TitledButton("oPicPath", &oPicPath);
    c.CheckBox("oWholeLibrary", &oWholeLibrary);
    c.Handler("configureSheet_save", Send<&GlymmerView::configureSheet_save>);
    c.Handler("configureSheet_cancel", Send<&GlymmerView::configureSheet_cancel>);
    c.Handler("configureSheet_defaults", Send<&GlymmerView::configureSheet_defaults>);
    c.Handler("configureSheet_directory", Send<&GlymmerView::configureSheet_directory>);
    c.Handler("configureSheet_openwebsite", Send<&GlymmerView::configureSheet_openwebsite>);
    c.Handler("configureSheet_update", Send<&GlymmerView::configureSheet_update>);
    loadNibNamed("GlymmerSS", &c);
  }
  if (!configureSheetWindow) return nullptr;

  // From memory, not from the store: unsaved edits of an earlier opening are
  // gone.
  oMainMonitorOnly->setState(CheckState(MainMonitorOnly));
  oCharSize->setIntValue(ControlValue(mySettings.CHARSIZE));
  oCharType->setIntValue(mySettings.CHARTYPE);
  oPicDelay->setIntValue(ControlValue(mySettings.PICDELAY));
  oPicSize->setIntValue(ControlValue(mySettings.PIC_SIZE));
  oPicPath->setTitle(PicPathText(mySettings.PicPath));
  oShowCaption->setState(CheckState(mySettings.SHOWCAPTION));
  oMLFirst->setState(CheckState(mySettings.MLFIRST));
  oWholeLibrary->setState(CheckState(mySettings.WHOLELIBRARY));
  configureSheet_updatestates();
  return configureSheetWindow;
}

void GlymmerView::configureSheet_save(void*) {
  if (!configureSheetWindow) return;
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName(kSettingsModuleName);

  SheetValues(&mySettings, &MainMonitorOnly, true);
  if (store) store->setBool(MainMonitorOnly, Key(kSettingMainMonitorOnly));

  bool saved = false;
  if (store) {
    store->setBool(mySettings.SHOWCAPTION, Key(kSettingShowCaption));
    store->setBool(mySettings.MLFIRST, Key(kSettingMLFirst));
    store->setInteger(mySettings.CHARSIZE, Key(kSettingCharSize));
    store->setInteger(mySettings.CHARTYPE, Key(kSettingCharType));
    store->setInteger(mySettings.PICDELAY, Key(kSettingPicDelay));
    store->setInteger(mySettings.PIC_SIZE, Key(kSettingPicSize));
    store->setObject(oPicPath->title().c_str(), Key(kSettingPicPath));
    saved = store->synchronize();
  }
  WriteAppSetting(kSettingWholeLibrary, mySettings.WHOLELIBRARY);
  std::string appFile;
  bool appSaved = SaveAppSettings(&appFile);
  if (!saved || !appSaved) {
    // The sheet still ends, but the person is told that the choices will not
    // be there next time instead of finding out later.
    std::string where = !saved ? (store ? store->FilePath() : std::string()) : appFile;
    if (where.empty()) where = "the configuration folder";
    AlertPanel* alert =
        NSGetCriticalAlertPanel("ERROR", ("The settings could not be saved to " + where + ".").c_str(), "OK");
    runModalForWindow(alert);
    alert->close();
  }
  endSheet(configureSheetWindow);
}

bool GlymmerView::SheetValues(SETTINGS* settings, bool* mainMonitorOnly, bool typed) {
  if (!configureSheetWindow) return false;
  auto value = [typed](NSControl* control) {
    return typed ? control->intValue() : control->confirmedIntValue();
  };
  // Only a box that is on counts: off and mixed both save as false.
  *mainMonitorOnly = oMainMonitorOnly->state() == NSOnState;
  settings->SHOWCAPTION = oShowCaption->state() == NSOnState;
  settings->MLFIRST = oMLFirst->state() == NSOnState;
  settings->PICDELAY = value(oPicDelay);
  settings->PIC_SIZE = value(oPicSize);
  settings->CHARSIZE = value(oCharSize);
  settings->fCHARSIZE = static_cast<float>(static_cast<double>(settings->CHARSIZE) / 100.0);
  settings->CHARTYPE = oCharType->indexOfSelectedItem();
  settings->WHOLELIBRARY = oWholeLibrary->state() == NSOnState;
  if (settings != &mySettings) std::memcpy(settings->PicPath, mySettings.PicPath, sizeof settings->PicPath);
  return true;
}

void GlymmerView::configureSheet_cancel(void*) {
  if (!configureSheetWindow) return;
  endSheet(configureSheetWindow);
}

void GlymmerView::configureSheet_defaults(void*) {
  if (!configureSheetWindow) return;
  oMainMonitorOnly->setState(CheckState(kSettingKeys[kSettingMainMonitorOnly].defaultNumber != 0));
  oCharSize->setIntValue(ControlValue(kSettingKeys[kSettingCharSize].defaultNumber));
  oPicDelay->setIntValue(ControlValue(kSettingKeys[kSettingPicDelay].defaultNumber));
  oPicSize->setIntValue(ControlValue(kSettingKeys[kSettingPicSize].defaultNumber));
  oCharType->selectItemAtIndex(ControlValue(kSettingKeys[kSettingCharType].defaultNumber));
  // The folder is the one setting that changes in memory at once.
  DefaultPicturePath(mySettings.PicPath);
  oPicPath->setTitle(PicPathText(mySettings.PicPath));
  oShowCaption->setState(CheckState(kSettingKeys[kSettingShowCaption].defaultNumber != 0));
  oMLFirst->setState(CheckState(kSettingKeys[kSettingMLFirst].defaultNumber != 0));
  oWholeLibrary->setState(CheckState(kSettingKeys[kSettingWholeLibrary].defaultNumber != 0));
  configureSheet_updatestates();
}

void GlymmerView::configureSheet_directory(void*) {
  if (!configureSheetWindow) return;
  const std::vector<std::string> types = {"jpg", "gif", "png", "JPG", "GIF", "PNG"};
  NSOpenPanel* panel = NSOpenPanel::openPanel();
  panel->setAllowsMultipleSelection(false);
  panel->setCanChooseFiles(false);
  panel->setCanChooseDirectories(true);
  panel->setTitle("Select Picture Folder");
  if (panel->runModalForDirectory(PicPathText(mySettings.PicPath), "", types) != NSOKButton) return;
  // The folder is kept without a trailing "/"; loading the settings adds it.
  for (const std::string& path : panel->filenames()) {
    CopyPicPath(mySettings.PicPath, path.c_str());
    oPicPath->setTitle(path);
  }
}

// The "website" is Glymmer's own documentation, which is there without a
// network: the README installed as <prefix>/share/doc/glymmer/README.md (the
// resources being <prefix>/share/glymmer), or, for a program run from the
// build tree, the README.md of the source tree above its resources/ folder.
// When neither exists, the installed address is still the one offered.
std::string GlymmerView::WebsiteAddress() {
  std::string above = ParentFolder(Bundle::bundleForClass()->resourcePath());
  std::string installedDocs = (above == "/" ? std::string() : above) + "/doc/glymmer";
  std::string found = Bundle(installedDocs).pathForResource("README", "md");
  if (found.empty()) found = Bundle(above).pathForResource("README", "md");
  if (found.empty()) found = installedDocs + "/README.md";
  return FileAddressForPath(found);
}

void GlymmerView::configureSheet_openwebsite(void*) {
  if (!configureSheetWindow) return;
  std::string address = WebsiteAddress();
  if (!address.empty()) OpenAddressWithDesktop(address);
}

void GlymmerView::configureSheet_update(void*) { configureSheet_updatestates(); }

void GlymmerView::configureSheet_updatestates() {}

void GlymmerView::ReleaseConfigureSheet() {
  delete configureSheetWindow;
  configureSheetWindow = nullptr;
  oMainMonitorOnly = oShowCaption = oMLFirst = oPicPath = oWholeLibrary = nullptr;
  oPicSize = oCharSize = oPicDelay = nullptr;
  oCharType = nullptr;
}
