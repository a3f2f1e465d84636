// The forms runtime: windows with captions and menu bars, named controls, event-loop timers,
// message boxes, the screen and the application-wide cursor. Positions and sizes are in
// twips, font sizes in points. The rest of the program sees no window-system type.
//
// Lifecycle: a form class has one program-wide FormSlot. Get() creates and loads the form
// on first reference (Form_Load runs once); Unload() runs Form_Unload, empties the slot,
// removes the form from the collection of loaded forms and destroys the window after the
// current event, so a form may unload itself from its own handler or timer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tidrex::forms {

using Twips = int;

// Stands in for a window handle: a number that names one form for as long as it lives and
// is never reused. 0 names no window.
using WindowHandle = std::uintptr_t;

struct Rect {
  Twips left = 0, top = 0, width = 0, height = 0;
};

struct FontSpec {
  std::string name = "MS Sans Serif";
  double size = 8.25;
  bool bold = false;
  bool italic = false;
};

// Busy cursor values.
inline constexpr int kCursorDefault = 0;
inline constexpr int kCursorHourglass = 11;
inline constexpr int kCursorArrowHourglass = 13;

// Message-box styles and answers.
inline constexpr int kMbInformationOk = 64;
inline constexpr int kMbQuestionYesNo = 36;
inline constexpr int kMbExclamationOk = 48;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

enum class Kind { Label, PictureBox, CheckBox, ListBox, FileListBox, DirListBox, DriveListBox, Timer };

class Form;
struct ControlImpl;
struct FormImpl;
struct MenuImpl;

class Control {
 public:
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& Name() const { return name_; }
  Kind GetKind() const { return kind_; }
  Form& Parent() const { return *parent_; }

  // Geometry relative to the form's client area. Timers have none and ignore it.
  Twips Left() const;
  Twips Top() const;
  Twips Width() const;
  Twips Height() const;
  void SetLeft(Twips v);
  void SetTop(Twips v);
  void SetWidth(Twips v);
  void SetHeight(Twips v);

  // Timers have no font; their font calls do nothing.
  bool HasFont() const { return kind_ != Kind::Timer; }
  const FontSpec& Font() const;
  void SetFont(const FontSpec& font);
  double FontSize() const { return Font().size; }
  void SetFontSize(double points);

  bool Visible() const;
  void SetVisible(bool visible);

  // Labels and check boxes show their caption; other kinds ignore it.
  std::string Caption() const;
  void SetCaption(const std::string& caption);

  // Text colour, 0xBBGGRR. Timers ignore it.
  void SetForeColor(std::uint32_t color);

  ControlImpl& Impl() const { return *impl_; }

 protected:
  Control(Form& parent, std::string name, Kind kind);
  std::unique_ptr<ControlImpl> impl_;

 private:
  Form* parent_;
  std::string name_;
  Kind kind_;
};

class Label : public Control {
 public:
  Label(Form& parent, std::string name);
  // 0 left, 1 right, 2 centre; the caption wraps at the label's width.
  void SetAlignment(int alignment);
};

// Shows the pages' common picture.
class PictureBox : public Control {
 public:
  PictureBox(Form& parent, std::string name);
};

class CheckBox : public Control {
 public:
  CheckBox(Form& parent, std::string name);
  int Value() const;  // 0 unticked, 1 ticked
  // Click runs after every change of state, also one made here by code.
  void SetValue(int value);
  std::function<void()> Click;
};

// A plain, unsorted, single-selection list of texts.
class ListBox : public Control {
 public:
  ListBox(Form& parent, std::string name);
  void AddItem(const std::string& text);
  // Many items in one batch, without a repaint per item.
  void AddItems(const std::vector<std::string>& texts);
  void RemoveItem(int index);
  void Clear();
  int ListCount() const;
  std::string List(int index) const;
  std::vector<std::string> Items() const;
  int ListIndex() const;  // -1 when nothing is selected
  void SetListIndex(int index);
  std::function<void()> DblClick;
};

// The plain files of one folder, in name order; hidden files (a leading ".") left out.
class FileListBox : public Control {
 public:
  FileListBox(Form& parent, std::string name);
  std::string Path() const;
  void SetPath(const std::string& folder);  // the list follows at once
  void Refresh();
  int ListCount() const;
  std::string List(int index) const;
};

// A folder tree: the open folder with its ancestors above and its subfolders below. A
// double click opens an entry; a single click only highlights it.
class DirListBox : public Control {
 public:
  DirListBox(Form& parent, std::string name);
  std::string Path() const;              // the open folder
  bool SetPath(const std::string& path);  // false (and unchanged) when it cannot be opened
  int ListCount() const;
  std::string List(int index) const;     // full path of an entry
  int ListIndex() const;                 // the highlighted entry, -1 for none
  void SetListIndex(int index);
  std::function<void()> Change;          // after the open folder changed
};

// The drives (mount points a user would browse); one is chosen.
class DriveListBox : public Control {
 public:
  DriveListBox(Form& parent, std::string name);
  std::string Drive() const;
  bool SetDrive(const std::string& mount_point);  // false (and unchanged) when not ready
  int ListCount() const;
  std::string List(int index) const;
  std::function<void()> Change;
};

// An event-loop timer. Disabled until enabled; it wakes nothing while disabled.
class Timer : public Control {
 public:
  Timer(Form& parent, std::string name, int interval_ms);
  int Interval() const;
  void SetInterval(int ms);
  bool Enabled() const;
  void SetEnabled(bool enabled);
  std::function<void()> OnTimer;
};

class MenuItem {
 public:
  ~MenuItem();
  const std::string& Name() const { return name_; }
  std::string Caption() const;
  void SetCaption(const std::string& caption);
  bool Visible() const;
  void SetVisible(bool visible);
  // A top-level item without sub-items acts as a button; with sub-items it opens them.
  MenuItem& AddItem(const std::string& name, const std::string& caption);
  const std::vector<std::unique_ptr<MenuItem>>& Items() const { return items_; }
  MenuItem* ParentItem() const { return parent_; }  // nullptr for a top-level item
  std::function<void()> Click;
  MenuImpl& Impl() const { return *impl_; }

 private:
  friend class Form;
  MenuItem(Form& form, MenuItem* parent, std::string name, const std::string& caption);
  Form* form_;
  MenuItem* parent_;
  std::string name_;
  std::vector<std::unique_ptr<MenuItem>> items_;
  std::unique_ptr<MenuImpl> impl_;
};

template <class F>
class FormSlot;

class Form {
 public:
  explicit Form(std::string name);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const std::string& Name() const { return name_; }
  WindowHandle Hwnd() const { return hwnd_; }

  std::string Caption() const;
  void SetCaption(const std::string& caption);
  int WindowState() const;  // 0 normal, 1 minimised, 2 maximised
  void SetWindowState(int state);

  // The window's outer geometry and its inner (client) size.
  Twips Left() const;
  Twips Top() const;
  Twips Width() const;
  Twips Height() const;
  void SetLeft(Twips v);
  void SetTop(Twips v);
  void SetWidth(Twips v);
  void SetHeight(Twips v);
  Twips ScaleWidth() const;
  Twips ScaleHeight() const;
  // Sets Width and Height so that the inner area (below the menu bar) gets this size.
  void SetClientSize(Twips width, Twips height);

  void Show();  // modeless; loads nothing, the form is loaded already
  void Hide();
  bool Visible() const;
  bool IsLoaded() const { return loaded_; }
  void SetForeground();
  // Paints the window and its controls now, before returning, and hands the picture to the
  // window system: a handler that blocks the event loop afterwards still shows it.
  void Refresh();
  // Runs Form_Unload, hides the window and leaves the collection. A form held by a slot
  // empties it and is destroyed after the current event, or once every open message box
  // and popup menu has returned; any other form is only hidden and its owner destroys it.
  // The title bar's close does the same. When the last loaded form goes, the program ends.
  void Unload();

  // Drawing into the form's persistent background (redrawn from it, never lost). Colours are
  // 0xBBGGRR with red in the low byte.
  void Line(Twips x1, Twips y1, Twips x2, Twips y2, std::uint32_t color);
  std::uint32_t Point(Twips x, Twips y) const;  // the colour drawn there, for tests

  Label& AddLabel(const std::string& name, const std::string& caption, Rect r, FontSpec f = {});
  PictureBox& AddPicture(const std::string& name, Rect r);
  CheckBox& AddCheckBox(const std::string& name, const std::string& caption, Rect r, FontSpec f = {});
  ListBox& AddListBox(const std::string& name, Rect r, FontSpec f = {});
  FileListBox& AddFileListBox(const std::string& name, Rect r, FontSpec f = {});
  DirListBox& AddDirListBox(const std::string& name, Rect r, FontSpec f = {});
  DriveListBox& AddDriveListBox(const std::string& name, Rect r, FontSpec f = {});
  Timer& AddTimer(const std::string& name, int interval_ms);

  // Controls in design (creation) order.
  const std::vector<std::unique_ptr<Control>>& Controls() const { return controls_; }
  Control* FindControl(const std::string& name) const;

  // A top-level menu item; `in_menu_bar` false keeps it off the bar (a popup menu).
  MenuItem& AddMenu(const std::string& name, const std::string& caption, bool in_menu_bar = true);
  MenuItem* FindMenu(const std::string& name) const;
  // Shows the menu's items as a popup at the mouse; returns when it closes. The chosen
  // item's Click runs after the menu has closed, before this returns.
  void PopupMenu(MenuItem& menu);

  FormImpl& Impl() const { return *impl_; }

  // Runs Form_Load once and adds the form to the collection of loaded forms.
  void Load();

 protected:
  virtual void Form_Load() {}
  virtual void Form_Unload() {}
  virtual void Form_Activate() {}
  virtual void Form_Deactivate() {}
  virtual void Form_Resize() {}
  // The form this one stays in front of whenever it is shown (a transient dialog of it for
  // the window manager); nullptr for a window of its own.
  virtual Form* Owner() const { return nullptr; }

 private:
  friend struct FormImpl;
  template <class F>
  friend class FormSlot;
  std::string name_;
  WindowHandle hwnd_ = 0;
  bool loaded_ = false;
  bool unloading_ = false;
  Form** slot_ = nullptr;
  std::unique_ptr<FormImpl> impl_;
  std::vector<std::unique_ptr<Control>> controls_;
  std::vector<std::unique_ptr<MenuItem>> menus_;
};

// The program-wide slot of one form class.
template <class F>
class FormSlot {
 public:
  // The loaded form, or nullptr; referring to it this way loads nothing.
  F* Loaded() const { return static_cast<F*>(form_); }
  bool IsLoaded() const { return form_ != nullptr; }
  // Creates and loads the form on first reference.
  // A form that unloads itself inside its own Form_Load is still returned; it is destroyed
  // after the current event like any unloaded form.
  F& Get() {
    if (!form_) {
      F* f = new F();
      form_ = f;
      f->slot_ = &form_;
      f->Load();
      return *f;
    }
    return *static_cast<F*>(form_);
  }

 private:
  Form* form_ = nullptr;
};

// The loaded forms in load order (a copy: unloading while walking it is safe).
std::vector<Form*> LoadedForms();
// The living form with this handle, or nullptr.
Form* FormFromHandle(WindowHandle hwnd);

struct Screen {
  static Twips Width();
  static Twips Height();
  static Twips TwipsPerPixelX();
  static Twips TwipsPerPixelY();
  static int MousePointer();
  static void SetMousePointer(int value);
};

// A modal message box; timers keep running while it is open. Returns kIdOk, kIdYes or kIdNo.
int MsgBox(const std::string& prompt, int style, const std::string& title);
using MsgBoxAnswerer = std::function<int(const std::string& prompt, int style, const std::string& title)>;
// Replaces the user who answers message boxes; an empty function restores real boxes.
void SetMsgBoxAnswererForTesting(MsgBoxAnswerer answerer);

// The application: created once, before the first form, only in resident mode. A test that
// made its own QApplication calls it too (it then only sets the application up).
void InitializeApplication(int& argc, char** argv);
int RunEventLoop();
// Ends the program: RunEventLoop returns `code` (at once if it has not started yet).
void QuitEventLoop(int code = 0);
void DoEvents();
void Sleep(int ms);          // blocks the thread, as the run's waits must
void SetTaskVisible(bool visible);  // the task-list entry (skip-taskbar when false)

}  // namespace tidrex::forms
