// The Qt side of the forms runtime, shared by its implementation and its test driver.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <string>
#include <vector>

#include "platform/forms.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QMenu;
class QMenuBar;
class QTimer;
class QVBoxLayout;

namespace tidrex::forms {

class ClientArea;
class FormWindow;

struct ControlImpl {
  QWidget* widget = nullptr;  // owned by the form's window
  QTimer* timer = nullptr;    // owned by the form's window
  Rect rect;                  // twips as last set; the widget holds them rounded to pixels
  FontSpec font;
  bool visible = true;
  std::string caption;
  // Lists keep their texts byte for byte; the widget shows them decoded.
  std::vector<std::string> items;
  std::string path;  // file and folder lists: the folder; drive lists: the mount point
  int interval = 0;
  bool enabled = false;
  bool in_tick = false;
  int alignment = 0;
  bool has_fore_color = false;
  std::uint32_t fore_color = 0;
};

struct MenuImpl {
  QAction* action = nullptr;  // the entry that a click on this item triggers
  QMenu* menu = nullptr;      // its sub-items, once it has any (or the popup menu itself)
  bool in_menu_bar = false;
  std::string caption;
  bool visible = true;
};

struct FormImpl {
  Form* form = nullptr;
  QPointer<FormWindow> window;
  ClientArea* client = nullptr;
  QVBoxLayout* layout = nullptr;
  QMenuBar* bar = nullptr;
  Rect rect;  // outer geometry in twips as last set
  bool rect_set_w = false;
  bool rect_set_h = false;

  QMenuBar* MenuBar();
  void Activated();
  void Resized();
  void CloseRequested();
  void FitMenuBar();
  static void ApplyFont(ControlImpl& c);
};

class ClientArea : public QWidget {
 public:
  ClientArea(FormImpl* owner, QWidget* parent);
  QImage& Image() { return image_; }
  void EnsureImage(int width, int height);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  FormImpl* owner_;
  QImage image_;
};

class FormWindow : public QWidget {
 public:
  explicit FormWindow(FormImpl* owner);

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  FormImpl* owner_;
};

// The program's icon, for windows and the tray.
QIcon ApplicationIcon();

// Pixels and twips along one axis, by the screen's logical DPI.
int TwipsToPixelsX(Twips t);
int TwipsToPixelsY(Twips t);
Twips PixelsToTwipsX(int px);
Twips PixelsToTwipsY(int px);

namespace platform_ui_detail {
// Keeps a window out of the task list where the window system has one (EWMH
// _NET_WM_STATE_SKIP_TASKBAR on X11); elsewhere it does nothing.
void ApplySkipTaskbar(QWidget* window, bool skip);
// Sends what was drawn to the display server now, not when the event loop next runs.
void FlushWindowSystem();
}  // namespace platform_ui_detail

}  // namespace tidrex::forms
