// SheetLayout: the configuration sheet's window and controls, loaded from a
// layout among the bundle's resources.
//
// A layout "<name>" is the GTK builder file "<name>.ui" in the resource
// folder. Loading it connects the owner's outlets (pointers that the loader
// sets to the layout's objects, found by object id) and actions (the owner's
// operations that the layout's signal handlers name). The controls keep the
// toolkit's operation names (setState, intValue, setTitle, ...). Everything
// runs on the thread that started the toolkit.
#pragma once

#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class NibConnections;
class PreviewPane;

// Opens the desktop's display for the toolkit, once per process. True when
// it is open (now or before); false when there is no display to open (DISPLAY
// unset or unreachable), in which case no layout can be loaded.
bool StartToolkit();

// States of a check box.
enum : int { NSMixedState = -1, NSOffState = 0, NSOnState = 1 };

// A button: a check box (setState/state) or a push button with a title
// (setTitle/title).
class NSButton {
public:
  // Check box: 1 on, 0 off, -1 mixed. Any other value is taken as on. Ignored
  // by a push button.
  void setState(int state);
  // 1 on, 0 off, -1 mixed (the box shows neither); a push button is 0. A
  // person clicking a mixed box makes it on or off.
  int state() const;
  // The title, kept exactly as given (any bytes); what is shown is the same
  // text made displayable, cut in the middle when it is too long to fit, and
  // in full in the button's tooltip.
  void setTitle(const std::string& title);
  // The last title set, byte for byte, or the layout's own label before any.
  std::string title() const;

  // The toolkit's class name of the control ("GtkCheckButton", "GtkButton").
  const char* ClassName() const;
  // Acts as a person's click: the button's actions run before this returns.
  void performClick();

  explicit NSButton(void* widget);  // for the loader: a GtkButton
  ~NSButton();

private:
  void* widget;
  bool hasTitle = false;
  std::string titleText;
};

// A control with an integer value: a spin button or a slider.
class NSControl {
public:
  // Shows `value`, brought into the control's range as the control does.
  void setIntValue(int value);
  // The value shown; text a person has typed but not yet confirmed counts.
  int intValue() const;
  // The value as last confirmed: text being typed is left as it is and does
  // not count yet.
  int confirmedIntValue() const;

  const char* ClassName() const;  // "GtkSpinButton", "GtkScale", ...
  // The range the control allows.
  int minValue() const;
  int maxValue() const;

  explicit NSControl(void* widget);  // for the loader: a GtkSpinButton or GtkRange
  ~NSControl();

private:
  void* widget;
};

// A pop-up list of items, chosen by index.
class NSPopUpButton {
public:
  // Selects the item at `index`; an index with no item selects nothing.
  void setIntValue(int index);
  void selectItemAtIndex(int index);
  // The selected item's index, -1 when none is selected.
  int indexOfSelectedItem() const;

  int numberOfItems() const;
  std::string itemTitleAtIndex(int index) const;  // "" when there is no such item
  const char* ClassName() const;                   // "GtkComboBoxText"

  explicit NSPopUpButton(void* widget);  // for the loader: a GtkComboBoxText
  ~NSPopUpButton();

private:
  void* widget;
};

// An on/off switch.
class NSSwitch {
public:
  // NSOnState turns it on; any other state, off.
  void setState(int state);
  int state() const;  // NSOnState or NSOffState

  explicit NSSwitch(void* widget);  // for the panel: a GtkSwitch
  ~NSSwitch();

private:
  void* widget;
};

// The sheet window. It owns everything its layout loaded: destroying it
// destroys the window and its controls, and leaves every outlet that pointed
// into it dangling.
class NSPanel {
public:
  ~NSPanel();
  NSPanel(const NSPanel&) = delete;
  NSPanel& operator=(const NSPanel&) = delete;

  // The window's title as shown.
  std::string title() const;
  const char* ClassName() const;  // "GtkDialog" or "GtkWindow"
  // Whether the window is on screen.
  bool isVisible() const;
  // Puts the window on screen (does not wait).
  void show();
  // How often endSheet has ended this sheet.
  int timesEnded() const { return ended; }

  // One action connection the layout made: which object, on which signal,
  // sends which action.
  struct Connection {
    std::string objectId;  // "" for an object without an id
    std::string signal;
    std::string action;
  };
  const std::vector<Connection>& Connections() const { return connections; }

  // Acts as a person's click on the layout's object `objectId` (a button).
  // False when there is no such button.
  bool PerformClick(const char* objectId);
  // Acts as a person closing the window with its close box or Escape.
  void PerformClose();
  // The host's own controls, which the layout holds below the module's
  // sheet and the module's outlets do not name, found by object id; the
  // panel owns them. Null when the layout has no object of that id and kind.
  NSControl* IntegerControlNamed(const char* objectId);
  NSSwitch* SwitchNamed(const char* objectId);
  // The host's preview pane (a drawing area) of that id, owned by the panel;
  // null when there is none.
  PreviewPane* PreviewPaneNamed(const char* objectId);
  // Runs `then` each time the button `objectId` is clicked, after the
  // module's actions for the click (Save's, Defaults'). False when there is
  // no such button.
  bool AfterClick(const char* objectId, std::function<void()> then);
  // Runs `then` each time a person changes the control `objectId` (a number
  // field's value, a switch's state); not when the program sets it. False
  // when there is no such control.
  bool AfterChange(const char* objectId, std::function<void()> then);
  // The text of the label or button `objectId`, and setting it; one set to
  // "" is hidden. False / "" when there is no such label or button.
  bool SetLabel(const char* objectId, const std::string& text);
  std::string Label(const char* objectId) const;
  // Shows or hides the widget `objectId` (a button, say), and whether it is
  // shown. False when there is none.
  bool SetShown(const char* objectId, bool shown);
  bool Shown(const char* objectId) const;

  // Writes what the window shows now as a PNG file (it is shown first, and
  // drawn). False when it cannot be drawn or written.
  bool SaveScreenshot(const char* pngPath);

  struct Native;  // the toolkit's objects; opaque outside the platform

private:
  friend bool loadNibNamed(const char*, NibConnections*);
  friend void endSheet(NSPanel*);
  friend bool runSheet(NSPanel*, const volatile std::sig_atomic_t*);
  NSPanel();

  std::unique_ptr<Native> native;
  std::vector<std::unique_ptr<NSButton>> buttons;
  std::vector<std::unique_ptr<NSControl>> controls;
  std::vector<std::unique_ptr<NSPopUpButton>> popUps;
  std::vector<std::unique_ptr<NSSwitch>> switches;
  std::vector<std::unique_ptr<PreviewPane>> panes;
  std::vector<Connection> connections;
  int ended = 0;
};

// The outlets and actions an owner offers to loadNibNamed. Each outlet names
// the control kind it needs; loading fails when the layout lacks the object
// or has one of another kind.
class NibConnections {
public:
  // An action: `owner` as given to the constructor, and the object that sent
  // it (opaque; actions ignore it).
  typedef void (*Action)(void* owner, void* sender);

  explicit NibConnections(void* owner) : owner(owner) {}

  void Window(const char* id, NSPanel** outlet);           // the sheet window
  void CheckBox(const char* id, NSButton** outlet);        // a check button
  void TitledButton(const char* id, NSButton** outlet);   // a push button
  void IntegerControl(const char* id, NSControl** outlet); // spin button or slider
  void PopUp(const char* id, NSPopUpButton** outlet);      // a text combo box
  // The layout's signal handlers named `handler` send `action`.
  void Handler(const char* handler, Action action);

private:
  friend bool loadNibNamed(const char*, NibConnections*);
  enum class Kind { Window, CheckBox, TitledButton, IntegerControl, PopUp };
  struct Outlet {
    std::string id;
    Kind kind;
    void** slot;
  };
  struct HandlerEntry {
    std::string name;
    Action action;
  };
  void* owner;
  std::vector<Outlet> outlets;
  std::vector<HandlerEntry> handlers;
};

// Loads the layout `name` ("<resources>/<name>.ui") and connects `connections`.
// Exactly one Window outlet is needed; the panel it receives owns everything
// loaded, and the caller owns the panel (delete it when done). True when
// every outlet was found with its kind and every signal handler of the layout
// is one of the connected handlers; on false no outlet is set, no action is
// connected and nothing stays loaded. Starts the toolkit when needed.
bool loadNibNamed(const char* name, NibConnections* connections);

// The application's endSheet: hides the sheet and ends runSheet's wait for
// it. A null sheet is ignored.
void endSheet(NSPanel* sheet);

// Shows the sheet as a window of its own and returns when endSheet ends it,
// when the window is destroyed, or when *stop becomes non-zero (checked a few
// times a second; stop may be null). True when endSheet ended it.
bool runSheet(NSPanel* sheet, const volatile std::sig_atomic_t* stop);

// Lets the toolkit handle what comes (drawing, frames, input) for `seconds`,
// showing and ending nothing: for tests and measurements.
void RunToolkitFor(double seconds);

// While runSheet waits: shows a modal message dialog over the sheet, titled
// `title`, saying `message`, with one button `button`, and returns once the
// person has dismissed it (or the stop that runSheet watches is set). False,
// showing nothing, when no sheet is running.
bool RunAlertOverSheet(const std::string& title, const std::string& message,
                       const std::string& button);
