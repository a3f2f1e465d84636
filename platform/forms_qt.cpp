// The forms runtime on Qt Widgets.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QKeyEvent>
#include <QFont>
#include <QFontMetrics>
#include <QGridLayout>
#include <QSpacerItem>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QShortcut>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include <unistd.h>

#include "platform/cookie_folder.h"
#include "platform/files.h"
#include "platform/forms_qt_internal.h"
#include "platform/forms_testing.h"

// Resources of a static library must be pulled in by name.
static void InitTidrexResources() { Q_INIT_RESOURCE(resources); }

namespace tidrex::forms {
namespace {

namespace fs = std::filesystem;

struct Runtime {
  std::vector<Form*> loaded;
  std::map<WindowHandle, Form*> live;
  WindowHandle next_hwnd = 0x1000;
  MsgBoxAnswerer answerer;
  int nested_loops = 0;
  std::vector<Form*> pending_delete;
  bool flush_posted = false;
  bool main_loop_running = false;
  bool end_requested = false;
  int exit_code = 0;
  int mouse_pointer = kCursorDefault;
  bool task_visible = true;
  Form* active = nullptr;
  bool in_popup = false;
  MenuItem* popup_choice = nullptr;
  std::vector<std::string> last_popup;
  int popup_count = 0;
};

// Built on first use, never at static-initialisation time.
Runtime& R() {
  static Runtime* r = new Runtime();
  return *r;
}

QString Q(const std::string& s) { return QString::fromLocal8Bit(s.data(), qsizetype(s.size())); }
std::string S(const QString& s) { return s.toLocal8Bit().toStdString(); }

double DpiX() {
  QScreen* s = QCoreApplication::instance() ? QGuiApplication::primaryScreen() : nullptr;
  return s ? s->logicalDotsPerInchX() : 96.0;
}
double DpiY() {
  QScreen* s = QCoreApplication::instance() ? QGuiApplication::primaryScreen() : nullptr;
  return s ? s->logicalDotsPerInchY() : 96.0;
}

// A stored twips value stays exact while the widget still holds it; once the window
// system changed the widget, the widget wins.
Twips Synced(Twips stored, int actual_px, bool x) {
  int expected = x ? TwipsToPixelsX(stored) : TwipsToPixelsY(stored);
  if (expected == actual_px) return stored;
  return x ? PixelsToTwipsX(actual_px) : PixelsToTwipsY(actual_px);
}

QColor FromBgr(std::uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }
std::uint32_t ToBgr(QRgb c) {
  return std::uint32_t(qRed(c)) | (std::uint32_t(qGreen(c)) << 8) | (std::uint32_t(qBlue(c)) << 16);
}

// Families that look like the pages' own fonts, for systems that lack them.
QStringList FamiliesFor(const std::string& name, QFont::StyleHint* hint) {
  QStringList f{Q(name)};
  *hint = QFont::SansSerif;
  if (name == "Comic Sans MS") {
    f << "Comic Neue" << "Comic Relief" << "Chilanka" << "Purisa" << "URW Chancery L";
    *hint = QFont::Cursive;
  } else if (name == "Times New Roman") {
    f << "Liberation Serif" << "Tinos" << "DejaVu Serif";
    *hint = QFont::Serif;
  } else if (name == "Courier New") {
    f << "Liberation Mono" << "Cousine" << "DejaVu Sans Mono";
    *hint = QFont::Monospace;
  } else {  // MS Sans Serif, Arial, Tahoma, Verdana and the rest
    f << "Microsoft Sans Serif" << "Liberation Sans" << "Arimo" << "DejaVu Sans";
  }
  f << "DejaVu Sans";
  return f;
}

void ScheduleFlush();

void FlushDeletes() {
  Runtime& r = R();
  r.flush_posted = false;
  if (r.nested_loops > 0) return;  // a handler up the stack may still use them
  std::vector<Form*> v;
  v.swap(r.pending_delete);
  for (Form* f : v) delete f;
}

void ScheduleFlush() {
  Runtime& r = R();
  if (r.flush_posted || r.pending_delete.empty() || !QCoreApplication::instance()) return;
  r.flush_posted = true;
  QMetaObject::invokeMethod(QCoreApplication::instance(), [] { FlushDeletes(); }, Qt::QueuedConnection);
}

// Counts the nested event loops (message boxes, popup menus): forms unloaded meanwhile
// are destroyed only once every such loop has returned.
struct NestedLoop {
  NestedLoop() { ++R().nested_loops; }
  ~NestedLoop() {
    if (--R().nested_loops == 0) ScheduleFlush();
  }
};

void RunMenuClick(MenuItem* item) {
  Runtime& r = R();
  if (r.in_popup) {
    r.popup_choice = item;  // runs once the popup has closed
    return;
  }
  if (item->Click) item->Click();
}

QListWidget* ListWidget(const ControlImpl& c) { return static_cast<QListWidget*>(c.widget); }

// Enter on a list's current item does what a double click on it does.
class ReturnActsAsDoubleClick : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(e)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    auto* list = static_cast<QListWidget*>(o);
    QListWidgetItem* item = list->currentItem();
    if (!item) return false;
    emit list->itemDoubleClicked(item);
    return true;
  }
};

// Alt, and F10 below, reach the menu bar by the keyboard as on Windows; the
// rest of the look is the platform's own style.
class KeyboardMenuStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_MenuBar_AltKeyNavigation) return 1;
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};

void FillList(ControlImpl& c, const std::vector<std::string>& texts, const std::vector<QString>* shown = nullptr) {
  QListWidget* w = ListWidget(c);
  w->setUpdatesEnabled(false);
  w->clear();
  QStringList l;
  for (std::size_t i = 0; i < texts.size(); ++i) l << (shown ? (*shown)[i] : Q(texts[i]));
  w->addItems(l);
  w->setCurrentRow(-1);
  w->clearSelection();
  w->setUpdatesEnabled(true);
}

std::string StripSlash(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

}  // namespace

QIcon ApplicationIcon() {
  // Pictures rendered from tidrex.svg: no image plugin needs loading at start.
  QIcon icon;
  for (int size : {22, 32, 64}) icon.addFile(QStringLiteral(":/tidrex/tidrex-%1.png").arg(size), QSize(size, size));
  return icon;
}

int TwipsToPixelsX(Twips t) { return int(std::lround(t * DpiX() / 1440.0)); }
int TwipsToPixelsY(Twips t) { return int(std::lround(t * DpiY() / 1440.0)); }
Twips PixelsToTwipsX(int px) { return Twips(std::lround(px * 1440.0 / DpiX())); }
Twips PixelsToTwipsY(int px) { return Twips(std::lround(px * 1440.0 / DpiY())); }

// ---------------------------------------------------------------------------------------
// Windows

ClientArea::ClientArea(FormImpl* owner, QWidget* parent) : QWidget(parent), owner_(owner) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void ClientArea::EnsureImage(int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (!image_.isNull() && image_.width() >= width && image_.height() >= height) return;
  QImage grown(std::max(width, image_.width()), std::max(height, image_.height()), QImage::Format_RGB32);
  grown.fill(palette().color(QPalette::Window));
  if (!image_.isNull()) {
    QPainter p(&grown);
    p.drawImage(0, 0, image_);
  }
  image_ = std::move(grown);
}

void ClientArea::paintEvent(QPaintEvent*) {
  QPainter p(this);
  EnsureImage(width(), height());
  p.drawImage(0, 0, image_);
}

void ClientArea::resizeEvent(QResizeEvent*) {
  EnsureImage(width(), height());
  owner_->Resized();
}

FormWindow::FormWindow(FormImpl* owner) : QWidget(nullptr), owner_(owner) {}

bool FormWindow::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) owner_->Activated();
  if (e->type() == QEvent::Resize || e->type() == QEvent::Show) owner_->FitMenuBar();
  return QWidget::event(e);
}

// Every item of a page's menu bar stays in view: where the bar's natural width exceeds the
// window's, the items get less padding and then a smaller font, rather than some of them
// going behind the bar's overflow button.
void FormImpl::FitMenuBar() {
  if (!bar || !window) return;
  const int room = window->width();
  auto fits = [&] { return bar->sizeHint().width() <= room; };
  const QFont base = QApplication::font(bar);
  bar->setStyleSheet(QString());
  bar->setFont(base);
  if (fits()) return;
  bar->setStyleSheet(QStringLiteral("QMenuBar::item { padding: 2px 3px; margin: 0px; }"));
  for (double points = base.pointSizeF(); !fits() && points > 5.5; points -= 0.5) {
    QFont smaller = base;
    smaller.setPointSizeF(points);
    bar->setFont(smaller);
  }
}

void FormWindow::closeEvent(QCloseEvent* e) {
  // The title bar's close unloads this form only.
  e->ignore();
  owner_->CloseRequested();
}

QMenuBar* FormImpl::MenuBar() {
  if (!bar) {
    bar = new QMenuBar(window);
    bar->setNativeMenuBar(false);
    layout->setMenuBar(bar);
    layout->activate();
    // F10 does what a lone Alt does: the bar's first item is highlighted for the arrows and
    // Enter; Escape leaves it.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), window);
    QObject::connect(f10, &QShortcut::activated, window, [w = window.data()] {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
      QKeyEvent release(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
      QCoreApplication::sendEvent(w, &press);
      QCoreApplication::sendEvent(w, &release);
    });
  }
  return bar;
}

// Activate and Deactivate follow the program's own windows: another program taking the
// focus deactivates nothing, and coming back to the same form activates nothing.
void FormImpl::Activated() {
  Runtime& r = R();
  if (!form->IsLoaded() || r.active == form) return;
  Form* old = r.active;
  r.active = form;
  if (old && old->IsLoaded()) old->Form_Deactivate();
  if (r.active == form && form->IsLoaded()) form->Form_Activate();
}

void FormImpl::Resized() {
  if (form->IsLoaded() && !form->unloading_) form->Form_Resize();
}

void FormImpl::CloseRequested() { form->Unload(); }

void FormImpl::ApplyFont(ControlImpl& c) {
  if (!c.widget) return;
  QFont::StyleHint hint;
  QFont f;
  f.setFamilies(FamiliesFor(c.font.name, &hint));
  f.setStyleHint(hint);
  f.setPointSizeF(c.font.size > 0 ? c.font.size : 1.0);
  f.setBold(c.font.bold);
  f.setItalic(c.font.italic);
  c.widget->setFont(f);
}

// ---------------------------------------------------------------------------------------
// Controls

Control::Control(Form& parent, std::string name, Kind kind)
    : impl_(std::make_unique<ControlImpl>()), parent_(&parent), name_(std::move(name)), kind_(kind) {
  ClientArea* client = parent.Impl().client;
  ControlImpl& c = *impl_;
  switch (kind) {
    case Kind::Label: {
      auto* l = new QLabel(client);
      l->setWordWrap(true);
      l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      c.widget = l;
      break;
    }
    case Kind::PictureBox: {
      auto* l = new QLabel(client);
      l->setScaledContents(true);
      l->setPixmap(QPixmap(QStringLiteral(":/tidrex/picture.jpg")));
      c.widget = l;
      break;
    }
    case Kind::CheckBox:
      c.widget = new QCheckBox(client);
      break;
    case Kind::ListBox:
    case Kind::FileListBox:
    case Kind::DirListBox: {
      auto* w = new QListWidget(client);
      w->setSelectionMode(QAbstractItemView::SingleSelection);
      w->setUniformItemSizes(true);
      w->installEventFilter(new ReturnActsAsDoubleClick(w));
      c.widget = w;
      break;
    }
    case Kind::DriveListBox:
      c.widget = new QComboBox(client);
      break;
    case Kind::Timer:
      c.timer = new QTimer(parent.Impl().window);
      c.timer->setTimerType(Qt::PreciseTimer);
      break;
  }
  if (c.widget) {
    c.widget->setObjectName(Q(name_));
    FormImpl::ApplyFont(c);
    c.widget->show();
  }
}

Control::~Control() = default;

Twips Control::Left() const { return impl_->widget ? Synced(impl_->rect.left, impl_->widget->x(), true) : impl_->rect.left; }
Twips Control::Top() const { return impl_->widget ? Synced(impl_->rect.top, impl_->widget->y(), false) : impl_->rect.top; }
Twips Control::Width() const { return impl_->widget ? Synced(impl_->rect.width, impl_->widget->width(), true) : impl_->rect.width; }
Twips Control::Height() const { return impl_->widget ? Synced(impl_->rect.height, impl_->widget->height(), false) : impl_->rect.height; }

static void ApplyGeometry(ControlImpl& c) {
  if (!c.widget) return;
  c.widget->setGeometry(TwipsToPixelsX(c.rect.left), TwipsToPixelsY(c.rect.top),
                        std::max(0, TwipsToPixelsX(c.rect.width)), std::max(0, TwipsToPixelsY(c.rect.height)));
}

// Reading back first keeps a value the window system changed.
void Control::SetLeft(Twips v) { Rect r{Left(), Top(), Width(), Height()}; r.left = v; impl_->rect = r; ApplyGeometry(*impl_); }
void Control::SetTop(Twips v) { Rect r{Left(), Top(), Width(), Height()}; r.top = v; impl_->rect = r; ApplyGeometry(*impl_); }
void Control::SetWidth(Twips v) { Rect r{Left(), Top(), Width(), Height()}; r.width = v; impl_->rect = r; ApplyGeometry(*impl_); }
void Control::SetHeight(Twips v) { Rect r{Left(), Top(), Width(), Height()}; r.height = v; impl_->rect = r; ApplyGeometry(*impl_); }

const FontSpec& Control::Font() const { return impl_->font; }
void Control::SetFont(const FontSpec& font) {
  if (!HasFont()) return;
  impl_->font = font;
  FormImpl::ApplyFont(*impl_);
}
void Control::SetFontSize(double points) {
  if (!HasFont()) return;
  impl_->font.size = points;
  FormImpl::ApplyFont(*impl_);
}

bool Control::Visible() const { return impl_->widget ? impl_->visible : false; }
void Control::SetVisible(bool visible) {
  if (!impl_->widget) return;
  impl_->visible = visible;
  impl_->widget->setVisible(visible);
}

std::string Control::Caption() const { return impl_->caption; }
void Control::SetCaption(const std::string& caption) {
  impl_->caption = caption;
  if (kind_ == Kind::Label) static_cast<QLabel*>(impl_->widget)->setText(Q(caption));
  if (kind_ == Kind::CheckBox) static_cast<QCheckBox*>(impl_->widget)->setText(Q(caption));
}

void Control::SetForeColor(std::uint32_t color) {
  if (!impl_->widget) return;
  impl_->has_fore_color = true;
  impl_->fore_color = color;
  QPalette p = impl_->widget->palette();
  p.setColor(QPalette::WindowText, FromBgr(color));
  p.setColor(QPalette::Text, FromBgr(color));
  impl_->widget->setPalette(p);
}

Label::Label(Form& parent, std::string name) : Control(parent, std::move(name), Kind::Label) {}

void Label::SetAlignment(int alignment) {
  impl_->alignment = alignment;
  Qt::Alignment h = alignment == 1 ? Qt::AlignRight : alignment == 2 ? Qt::AlignHCenter : Qt::AlignLeft;
  static_cast<QLabel*>(impl_->widget)->setAlignment(h | Qt::AlignTop);
}

PictureBox::PictureBox(Form& parent, std::string name) : Control(parent, std::move(name), Kind::PictureBox) {}

CheckBox::CheckBox(Form& parent, std::string name) : Control(parent, std::move(name), Kind::CheckBox) {
  QObject::connect(static_cast<QCheckBox*>(impl_->widget), &QCheckBox::toggled, [this](bool) {
    if (Click) Click();
  });
}
int CheckBox::Value() const { return static_cast<QCheckBox*>(impl_->widget)->isChecked() ? 1 : 0; }
void CheckBox::SetValue(int value) { static_cast<QCheckBox*>(impl_->widget)->setChecked(value != 0); }

ListBox::ListBox(Form& parent, std::string name) : Control(parent, std::move(name), Kind::ListBox) {
  QObject::connect(ListWidget(*impl_), &QListWidget::itemDoubleClicked, [this](QListWidgetItem*) {
    if (DblClick) DblClick();
  });
}
void ListBox::AddItem(const std::string& text) {
  impl_->items.push_back(text);
  ListWidget(*impl_)->addItem(Q(text));
}
void ListBox::AddItems(const std::vector<std::string>& texts) {
  if (texts.empty()) return;
  QListWidget* w = ListWidget(*impl_);
  QStringList l;
  l.reserve(qsizetype(texts.size()));
  for (const auto& t : texts) l << Q(t);
  w->setUpdatesEnabled(false);
  w->addItems(l);
  w->setUpdatesEnabled(true);
  impl_->items.insert(impl_->items.end(), texts.begin(), texts.end());
}
void ListBox::RemoveItem(int index) {
  if (index < 0 || index >= ListCount()) return;
  impl_->items.erase(impl_->items.begin() + index);
  delete ListWidget(*impl_)->takeItem(index);
}
void ListBox::Clear() {
  impl_->items.clear();
  ListWidget(*impl_)->clear();
}
int ListBox::ListCount() const { return int(impl_->items.size()); }
std::string ListBox::List(int index) const {
  return index >= 0 && index < ListCount() ? impl_->items[std::size_t(index)] : std::string();
}
std::vector<std::string> ListBox::Items() const { return impl_->items; }
int ListBox::ListIndex() const {
  QListWidget* w = ListWidget(*impl_);
  auto sel = w->selectedItems();
  return sel.isEmpty() ? -1 : w->row(sel.front());
}
void ListBox::SetListIndex(int index) {
  QListWidget* w = ListWidget(*impl_);
  if (index < 0 || index >= ListCount()) {
    w->clearSelection();
    w->setCurrentRow(-1);
    return;
  }
  w->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
}

FileListBox::FileListBox(Form& parent, std::string name) : Control(parent, std::move(name), Kind::FileListBox) {}
std::string FileListBox::Path() const { return impl_->path; }
void FileListBox::SetPath(const std::string& folder) {
  impl_->path = StripSlash(folder);
  Refresh();
}
void FileListBox::Refresh() {
  std::vector<std::string> names;
  std::error_code ec;
  if (auto off_disk = platform::ListFolderOffDisk(impl_->path)) {
    names = std::move(*off_disk);
  } else if (!impl_->path.empty()) {
    for (fs::directory_iterator it(impl_->path, ec), end; !ec && it != end; it.increment(ec)) {
      std::string n = it->path().filename().string();
      if (n.empty() || n[0] == '.') continue;
      std::error_code ec2;
      if (it->is_regular_file(ec2)) names.push_back(n);
    }
  }
  std::sort(names.begin(), names.end());
  impl_->items = names;
  FillList(*impl_, names);
}
int FileListBox::ListCount() const { return int(impl_->items.size()); }
std::string FileListBox::List(int index) const {
  return index >= 0 && index < ListCount() ? impl_->items[std::size_t(index)] : std::string();
}

DirListBox::DirListBox(Form& parent, std::string name) : Control(parent, std::move(name), Kind::DirListBox) {
  QObject::connect(ListWidget(*impl_), &QListWidget::itemDoubleClicked, [this](QListWidgetItem* item) {
    int row = ListWidget(*impl_)->row(item);
    if (row >= 0 && row < ListCount()) SetPath(impl_->items[std::size_t(row)]);
  });
  char cwd[4096];
  SetPath(getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string("/"));
}
std::string DirListBox::Path() const { return impl_->path; }
bool DirListBox::SetPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  std::string p = StripSlash(fs::path(path).lexically_normal().string());
  p = StripSlash(p);
  std::error_code ec;
  fs::directory_iterator it(p, ec);
  if (ec) return false;
  // Ancestors from the root down, the open folder, then its subfolders by name. Linked
  // folders are not offered: choosing one would name a place through a link.
  std::vector<std::string> entries;
  std::vector<QString> shown;
  std::string acc;
  int depth = 0;
  auto add = [&](const std::string& full, const std::string& label, int d) {
    entries.push_back(full);
    shown.push_back(QString(d * 2, QLatin1Char(' ')) + Q(label));
  };
  add("/", "/", 0);
  std::size_t pos = 1;
  while (pos < p.size()) {
    std::size_t next = p.find('/', pos);
    if (next == std::string::npos) next = p.size();
    acc += "/" + p.substr(pos, next - pos);
    add(acc, p.substr(pos, next - pos), ++depth);
    pos = next + 1;
  }
  std::vector<std::string> subs;
  for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
    std::string n = it->path().filename().string();
    if (n.empty() || n[0] == '.') continue;
    std::error_code ec2;
    auto st = it->symlink_status(ec2);
    if (!ec2 && fs::is_directory(st)) subs.push_back(n);
  }
  std::sort(subs.begin(), subs.end());
  for (const auto& s : subs) add(p == "/" ? "/" + s : p + "/" + s, s, depth + 1);
  bool changed = p != impl_->path;
  impl_->path = p;
  impl_->items = entries;
  FillList(*impl_, entries, &shown);
  // The open folder (the one a Save stores) and the folders above it carry the open-folder
  // picture, the open one also in bold; its subfolders the closed one.
  QListWidget* w = ListWidget(*impl_);
  const QIcon open_icon = w->style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed_icon = w->style()->standardIcon(QStyle::SP_DirClosedIcon);
  for (int row = 0; row < w->count(); ++row) {
    QListWidgetItem* item = w->item(row);
    item->setIcon(row <= depth ? open_icon : closed_icon);
    if (row == depth) {
      QFont f = item->font();
      f.setBold(true);
      item->setFont(f);
    }
  }
  if (changed && Change) Change();
  return true;
}
int DirListBox::ListCount() const { return int(impl_->items.size()); }
std::string DirListBox::List(int index) const {
  return index >= 0 && index < ListCount() ? impl_->items[std::size_t(index)] : std::string();
}
int DirListBox::ListIndex() const {
  QListWidget* w = ListWidget(*impl_);
  auto sel = w->selectedItems();
  return sel.isEmpty() ? -1 : w->row(sel.front());
}
void DirListBox::SetListIndex(int index) {
  QListWidget* w = ListWidget(*impl_);
  if (index < 0 || index >= ListCount()) {
    w->clearSelection();
    return;
  }
  w->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
}

namespace {
// Filesystems a user browses; the pseudo filesystems of the kernel are left out.
bool BrowsableMount(const platform::Mount& m) {
  static const std::set<std::string> types{"ext2", "ext3", "ext4", "xfs", "btrfs", "vfat", "exfat", "msdos",
                                           "ntfs", "ntfs3", "fuseblk", "iso9660", "udf", "nfs", "nfs4", "cifs",
                                           "smb3", "f2fs", "jfs", "reiserfs", "zfs", "hfsplus", "overlay", "9p",
                                           "virtiofs", "fuse.sshfs"};
  if (m.mount_point == "/") return true;
  if (!types.count(m.fs_type)) return false;
  for (const char* p : {"/proc", "/sys", "/dev", "/boot", "/snap", "/etc", "/usr", "/var", "/run"}) {
    std::string pre = p;
    if (m.mount_point == pre || m.mount_point.rfind(pre + "/", 0) == 0) {
      if (m.mount_point.rfind("/run/media/", 0) == 0) return true;
      return false;
    }
  }
  return true;
}
}  // namespace

DriveListBox::DriveListBox(Form& parent, std::string name) : Control(parent, std::move(name), Kind::DriveListBox) {
  std::vector<std::string> drives{"/"};
  for (const auto& m : platform::ListMounts()) {
    if (BrowsableMount(m) && std::find(drives.begin(), drives.end(), m.mount_point) == drives.end())
      drives.push_back(m.mount_point);
  }
  impl_->items = drives;
  impl_->path = "/";
  auto* combo = static_cast<QComboBox*>(impl_->widget);
  for (const auto& d : drives) combo->addItem(Q(d));
  combo->setCurrentIndex(0);
  QObject::connect(combo, &QComboBox::activated, [this](int index) {
    if (index < 0 || index >= ListCount()) return;
    if (!SetDrive(impl_->items[std::size_t(index)])) {
      auto* c = static_cast<QComboBox*>(impl_->widget);
      auto at = std::find(impl_->items.begin(), impl_->items.end(), impl_->path);
      c->setCurrentIndex(int(at - impl_->items.begin()));
    }
  });
}
std::string DriveListBox::Drive() const { return impl_->path; }
bool DriveListBox::SetDrive(const std::string& mount_point) {
  auto at = std::find(impl_->items.begin(), impl_->items.end(), mount_point);
  if (at == impl_->items.end() || access(mount_point.c_str(), R_OK | X_OK) != 0) return false;
  static_cast<QComboBox*>(impl_->widget)->setCurrentIndex(int(at - impl_->items.begin()));
  bool changed = impl_->path != mount_point;
  impl_->path = mount_point;
  if (changed && Change) Change();
  return true;
}
int DriveListBox::ListCount() const { return int(impl_->items.size()); }
std::string DriveListBox::List(int index) const {
  return index >= 0 && index < ListCount() ? impl_->items[std::size_t(index)] : std::string();
}

Timer::Timer(Form& parent, std::string name, int interval_ms) : Control(parent, std::move(name), Kind::Timer) {
  impl_->interval = std::max(0, interval_ms);
  QObject::connect(impl_->timer, &QTimer::timeout, [this] {
    // A tick that arrives while this timer's own handler waits in a message box is dropped.
    if (impl_->in_tick || !Parent().IsLoaded()) return;
    impl_->in_tick = true;
    if (OnTimer) OnTimer();
    impl_->in_tick = false;
  });
}
int Timer::Interval() const { return impl_->interval; }
static void ArmTimer(ControlImpl& c) {
  if (c.enabled && c.interval > 0)
    c.timer->start(c.interval);
  else
    c.timer->stop();
}
void Timer::SetInterval(int ms) {
  impl_->interval = std::max(0, ms);
  ArmTimer(*impl_);
}
bool Timer::Enabled() const { return impl_->enabled; }
void Timer::SetEnabled(bool enabled) {
  impl_->enabled = enabled && Parent().IsLoaded();
  ArmTimer(*impl_);
}

// ---------------------------------------------------------------------------------------
// Menus

MenuItem::MenuItem(Form& form, MenuItem* parent, std::string name, const std::string& caption)
    : form_(&form), parent_(parent), name_(std::move(name)), impl_(std::make_unique<MenuImpl>()) {
  impl_->caption = caption;
}
MenuItem::~MenuItem() = default;

std::string MenuItem::Caption() const { return impl_->caption; }
void MenuItem::SetCaption(const std::string& caption) {
  impl_->caption = caption;
  if (impl_->action) impl_->action->setText(Q(caption));
  if (impl_->menu) impl_->menu->setTitle(Q(caption));
}
bool MenuItem::Visible() const { return impl_->visible; }
void MenuItem::SetVisible(bool visible) {
  impl_->visible = visible;
  if (impl_->action) impl_->action->setVisible(visible);
}

MenuItem& MenuItem::AddItem(const std::string& name, const std::string& caption) {
  auto child = std::unique_ptr<MenuItem>(new MenuItem(*form_, this, name, caption));
  MenuItem* c = child.get();
  MenuImpl& m = *impl_;
  if (!m.menu) {
    // A bar button becomes a submenu in the same place.
    m.menu = new QMenu(Q(m.caption), form_->Impl().window);
    if (m.in_menu_bar) {
      QMenuBar* bar = form_->Impl().MenuBar();
      bar->insertMenu(m.action, m.menu);
      bar->removeAction(m.action);
      delete m.action;
      m.action = m.menu->menuAction();
      m.action->setVisible(m.visible);
    }
  }
  if (caption == "-") {
    c->impl_->action = m.menu->addSeparator();
  } else {
    c->impl_->action = m.menu->addAction(Q(caption));
    QObject::connect(c->impl_->action, &QAction::triggered, [c] { RunMenuClick(c); });
  }
  c->impl_->action->setObjectName(Q(name));
  items_.push_back(std::move(child));
  return *c;
}

// ---------------------------------------------------------------------------------------
// Forms

Form::Form(std::string name) : name_(std::move(name)), impl_(std::make_unique<FormImpl>()) {
  Runtime& r = R();
  hwnd_ = r.next_hwnd;
  r.next_hwnd += 4;
  r.live[hwnd_] = this;
  FormImpl& f = *impl_;
  f.form = this;
  f.window = new FormWindow(&f);
  f.window->setObjectName(Q(name_));
  f.window->setAttribute(Qt::WA_QuitOnClose, false);
  f.layout = new QVBoxLayout(f.window);
  f.layout->setContentsMargins(0, 0, 0, 0);
  f.layout->setSpacing(0);
  f.layout->setSizeConstraint(QLayout::SetNoConstraint);
  f.client = new ClientArea(&f, f.window);
  f.layout->addWidget(f.client);
  f.rect = {0, 0, PixelsToTwipsX(f.window->width()), PixelsToTwipsY(f.window->height())};
}

Form::~Form() {
  Runtime& r = R();
  if (loaded_) {
    auto it = std::find(r.loaded.begin(), r.loaded.end(), this);
    if (it != r.loaded.end()) r.loaded.erase(it);
    loaded_ = false;
  }
  if (slot_ && *slot_ == this) *slot_ = nullptr;
  if (r.active == this) r.active = nullptr;
  r.pending_delete.erase(std::remove(r.pending_delete.begin(), r.pending_delete.end(), this), r.pending_delete.end());
  r.live.erase(hwnd_);
  delete impl_->window.data();  // with every control widget and timer in it
}

std::string Form::Caption() const { return S(impl_->window->windowTitle()); }
void Form::SetCaption(const std::string& caption) { impl_->window->setWindowTitle(Q(caption)); }

int Form::WindowState() const {
  auto s = impl_->window->windowState();
  if (s & Qt::WindowMinimized) return 1;
  if (s & Qt::WindowMaximized) return 2;
  return 0;
}
void Form::SetWindowState(int state) {
  Qt::WindowStates s = state == 1 ? Qt::WindowMinimized : state == 2 ? Qt::WindowMaximized : Qt::WindowNoState;
  impl_->window->setWindowState(s);
}

Twips Form::Left() const { return Synced(impl_->rect.left, impl_->window->x(), true); }
Twips Form::Top() const { return Synced(impl_->rect.top, impl_->window->y(), false); }
Twips Form::Width() const { return Synced(impl_->rect.width, impl_->window->width(), true); }
Twips Form::Height() const { return Synced(impl_->rect.height, impl_->window->height(), false); }

static void ApplyFormGeometry(FormImpl& f, bool move, bool resize) {
  if (move) f.window->move(TwipsToPixelsX(f.rect.left), TwipsToPixelsY(f.rect.top));
  if (resize) {
    f.window->resize(std::max(1, TwipsToPixelsX(f.rect.width)), std::max(1, TwipsToPixelsY(f.rect.height)));
    f.layout->activate();
  }
}

void Form::SetLeft(Twips v) { impl_->rect = {v, Top(), Width(), Height()}; ApplyFormGeometry(*impl_, true, false); }
void Form::SetTop(Twips v) { impl_->rect = {Left(), v, Width(), Height()}; ApplyFormGeometry(*impl_, true, false); }
void Form::SetWidth(Twips v) { impl_->rect = {Left(), Top(), v, Height()}; ApplyFormGeometry(*impl_, false, true); }
void Form::SetHeight(Twips v) { impl_->rect = {Left(), Top(), Width(), v}; ApplyFormGeometry(*impl_, false, true); }

static int MenuBarHeightPx(const FormImpl& f) {
  if (!f.bar) return 0;
  int h = f.bar->heightForWidth(std::max(1, f.window->width()));
  return h > 0 ? h : f.bar->sizeHint().height();
}

Twips Form::ScaleWidth() const { return Width(); }
Twips Form::ScaleHeight() const { return std::max(0, Height() - PixelsToTwipsY(MenuBarHeightPx(*impl_))); }

void Form::SetClientSize(Twips width, Twips height) {
  impl_->rect = {Left(), Top(), width, height};
  ApplyFormGeometry(*impl_, false, true);
  impl_->rect.height = height + PixelsToTwipsY(MenuBarHeightPx(*impl_));
  ApplyFormGeometry(*impl_, false, true);
}

// A transient dialog of its owner: the window manager keeps it above the owner, a tiling
// one floats it, and it takes no place of its own among the desktop's windows.
static void ApplyOwner(FormImpl& f, Form* owner) {
  FormWindow* w = f.window;
  QWidget* owner_window = owner && owner->IsLoaded() ? owner->Impl().window.data() : nullptr;
  const bool dialog = owner_window != nullptr;
  if ((w->windowType() == Qt::Dialog) != dialog) {
    // Set while hidden: changing the type of a shown window would hide it.
    w->setWindowFlags((w->windowFlags() & ~Qt::WindowType_Mask) | (dialog ? Qt::Dialog : Qt::Window));
  }
  if (!dialog) {
    if (w->windowHandle()) w->windowHandle()->setTransientParent(nullptr);
    return;
  }
  owner_window->winId();
  w->winId();
  w->windowHandle()->setTransientParent(owner_window->windowHandle());
}

void Form::Show() {
  if (!loaded_) Load();
  if (!loaded_) return;
  FormWindow* w = impl_->window;
  if (!w->isVisible()) ApplyOwner(*impl_, Owner());
  if (!R().task_visible && !w->isVisible()) platform_ui_detail::ApplySkipTaskbar(w, true);  // before mapping
  w->show();
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) w->raise();  // it has no stacking
  w->activateWindow();
}

void Form::Hide() { impl_->window->hide(); }
bool Form::Visible() const { return impl_->window->isVisible(); }

void Form::SetForeground() {
  if (!impl_->window->isVisible()) return;
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) impl_->window->raise();
  impl_->window->activateWindow();
}

void Form::Refresh() {
  FormWindow* w = impl_->window;
  if (!w->isVisible()) return;
  // Layout and geometry changes still queued would otherwise paint stale positions.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  w->repaint();
  platform_ui_detail::FlushWindowSystem();
}

void Form::Load() {
  if (loaded_) return;
  loaded_ = true;
  R().loaded.push_back(this);
  Form_Load();
}

void Form::Unload() {
  if (!loaded_ || unloading_) return;
  unloading_ = true;
  Form_Unload();
  Runtime& r = R();
  for (auto& c : controls_)
    if (c->GetKind() == Kind::Timer) c->Impl().timer->stop();
  impl_->window->hide();
  auto it = std::find(r.loaded.begin(), r.loaded.end(), this);
  if (it != r.loaded.end()) r.loaded.erase(it);
  loaded_ = false;
  unloading_ = false;
  if (r.active == this) r.active = nullptr;
  if (slot_) {
    if (*slot_ == this) *slot_ = nullptr;
    slot_ = nullptr;
    // Destroyed after the current event, so a form may unload itself from its own handler.
    r.pending_delete.push_back(this);
    ScheduleFlush();
  }
  // As with a forms runtime on Windows, the program ends when its last form is unloaded.
  if (r.loaded.empty()) QuitEventLoop(0);
}

void Form::Line(Twips x1, Twips y1, Twips x2, Twips y2, std::uint32_t color) {
  ClientArea* c = impl_->client;
  int px1 = TwipsToPixelsX(x1), py1 = TwipsToPixelsY(y1), px2 = TwipsToPixelsX(x2), py2 = TwipsToPixelsY(y2);
  c->EnsureImage(std::max({c->width(), px1 + 1, px2 + 1}), std::max({c->height(), py1 + 1, py2 + 1}));
  QPainter p(&c->Image());
  p.setPen(QPen(FromBgr(color), 0));
  p.drawLine(px1, py1, px2, py2);
  p.end();
  c->update();
}

std::uint32_t Form::Point(Twips x, Twips y) const {
  QImage& img = impl_->client->Image();
  int px = TwipsToPixelsX(x), py = TwipsToPixelsY(y);
  if (img.isNull() || px < 0 || py < 0 || px >= img.width() || py >= img.height()) return 0xFFFFFFFFu;
  return ToBgr(img.pixel(px, py));
}

template <class T, class... A>
static T& AddControl(std::vector<std::unique_ptr<Control>>& list, Rect r, A&&... args) {
  auto c = std::make_unique<T>(std::forward<A>(args)...);
  T& ref = *c;
  list.push_back(std::move(c));
  if (ref.GetKind() != Kind::Timer) {
    ref.Impl().rect = r;
    ApplyGeometry(ref.Impl());
  }
  return ref;
}

Label& Form::AddLabel(const std::string& name, const std::string& caption, Rect r, FontSpec f) {
  Label& l = AddControl<Label>(controls_, r, *this, name);
  l.SetFont(f);
  l.SetCaption(caption);
  return l;
}
PictureBox& Form::AddPicture(const std::string& name, Rect r) { return AddControl<PictureBox>(controls_, r, *this, name); }
CheckBox& Form::AddCheckBox(const std::string& name, const std::string& caption, Rect r, FontSpec f) {
  CheckBox& c = AddControl<CheckBox>(controls_, r, *this, name);
  c.SetFont(f);
  c.SetCaption(caption);
  return c;
}
ListBox& Form::AddListBox(const std::string& name, Rect r, FontSpec f) {
  ListBox& c = AddControl<ListBox>(controls_, r, *this, name);
  c.SetFont(f);
  return c;
}
FileListBox& Form::AddFileListBox(const std::string& name, Rect r, FontSpec f) {
  FileListBox& c = AddControl<FileListBox>(controls_, r, *this, name);
  c.SetFont(f);
  return c;
}
DirListBox& Form::AddDirListBox(const std::string& name, Rect r, FontSpec f) {
  DirListBox& c = AddControl<DirListBox>(controls_, r, *this, name);
  c.SetFont(f);
  return c;
}
DriveListBox& Form::AddDriveListBox(const std::string& name, Rect r, FontSpec f) {
  DriveListBox& c = AddControl<DriveListBox>(controls_, r, *this, name);
  c.SetFont(f);
  return c;
}
Timer& Form::AddTimer(const std::string& name, int interval_ms) {
  return AddControl<Timer>(controls_, Rect{}, *this, name, interval_ms);
}

Control* Form::FindControl(const std::string& name) const {
  for (const auto& c : controls_)
    if (c->Name() == name) return c.get();
  return nullptr;
}

MenuItem& Form::AddMenu(const std::string& name, const std::string& caption, bool in_menu_bar) {
  auto item = std::unique_ptr<MenuItem>(new MenuItem(*this, nullptr, name, caption));
  MenuItem* m = item.get();
  MenuImpl& mi = m->Impl();
  mi.in_menu_bar = in_menu_bar;
  if (in_menu_bar) {
    mi.action = impl_->MenuBar()->addAction(Q(caption));
    mi.action->setObjectName(Q(name));
    QObject::connect(mi.action, &QAction::triggered, [m] {
      if (!m->Impl().menu) RunMenuClick(m);
    });
  }
  menus_.push_back(std::move(item));
  return *m;
}

MenuItem* Form::FindMenu(const std::string& name) const {
  std::function<MenuItem*(const std::vector<std::unique_ptr<MenuItem>>&)> find =
      [&](const std::vector<std::unique_ptr<MenuItem>>& items) -> MenuItem* {
    for (const auto& i : items) {
      if (i->Name() == name) return i.get();
      if (MenuItem* s = find(i->Items())) return s;
    }
    return nullptr;
  };
  return find(menus_);
}

void Form::PopupMenu(MenuItem& menu) {
  QMenu* m = menu.Impl().menu;
  if (!m || !QCoreApplication::instance()) return;
  Runtime& r = R();
  r.last_popup.clear();
  ++r.popup_count;
  for (QAction* a : m->actions())
    if (a->isVisible()) r.last_popup.push_back(a->isSeparator() ? "-" : S(a->text()));
  bool was_in_popup = r.in_popup;
  r.in_popup = true;
  r.popup_choice = nullptr;
  {
    NestedLoop nested;
    m->exec(QCursor::pos());
  }
  MenuItem* chosen = r.popup_choice;
  r.popup_choice = nullptr;
  r.in_popup = was_in_popup;
  if (chosen && chosen->Click) chosen->Click();
}

std::vector<Form*> LoadedForms() { return R().loaded; }

Form* FormFromHandle(WindowHandle hwnd) {
  auto& live = R().live;
  auto it = live.find(hwnd);
  return it == live.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------------------
// Screen, message boxes, application

static QScreen* PrimaryScreen() { return QCoreApplication::instance() ? QGuiApplication::primaryScreen() : nullptr; }

Twips Screen::Width() {
  QScreen* s = PrimaryScreen();
  return s ? PixelsToTwipsX(s->geometry().width()) : 640 * 15;
}
Twips Screen::Height() {
  QScreen* s = PrimaryScreen();
  return s ? PixelsToTwipsY(s->geometry().height()) : 480 * 15;
}
Twips Screen::TwipsPerPixelX() { return Twips(std::lround(1440.0 / DpiX())); }
Twips Screen::TwipsPerPixelY() { return Twips(std::lround(1440.0 / DpiY())); }
int Screen::MousePointer() { return R().mouse_pointer; }
void Screen::SetMousePointer(int value) {
  R().mouse_pointer = value;
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  if (value == kCursorDefault) {
    while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
    return;
  }
  QCursor c(value == kCursorHourglass ? Qt::WaitCursor : value == kCursorArrowHourglass ? Qt::BusyCursor : Qt::ArrowCursor);
  if (QGuiApplication::overrideCursor())
    QGuiApplication::changeOverrideCursor(c);
  else
    QGuiApplication::setOverrideCursor(c);
}

int MsgBox(const std::string& prompt, int style, const std::string& title) {
  Runtime& r = R();
  if (r.answerer) {
    MsgBoxAnswerer a = r.answerer;  // the answerer may replace itself
    return a(prompt, style, title);
  }
  int buttons = style & 7;
  int fallback = buttons == 4 ? kIdNo : buttons == 1 || buttons == 3 || buttons == 5 ? 2 : kIdOk;
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return fallback;
  QMessageBox box;
  box.setWindowTitle(Q(title));
  box.setText(Q(prompt));
  switch (style & 0x70) {
    case 16: box.setIcon(QMessageBox::Critical); break;
    case 32: box.setIcon(QMessageBox::Question); break;
    case 48: box.setIcon(QMessageBox::Warning); break;
    case 64: box.setIcon(QMessageBox::Information); break;
    default: break;
  }
  using B = QMessageBox::StandardButton;
  std::vector<std::pair<B, int>> map;
  switch (buttons) {
    case 1: map = {{QMessageBox::Ok, kIdOk}, {QMessageBox::Cancel, 2}}; break;
    case 2: map = {{QMessageBox::Abort, 3}, {QMessageBox::Retry, 4}, {QMessageBox::Ignore, 5}}; break;
    case 3: map = {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}, {QMessageBox::Cancel, 2}}; break;
    case 4: map = {{QMessageBox::Yes, kIdYes}, {QMessageBox::No, kIdNo}}; break;
    case 5: map = {{QMessageBox::Retry, 4}, {QMessageBox::Cancel, 2}}; break;
    default: map = {{QMessageBox::Ok, kIdOk}}; break;
  }
  QMessageBox::StandardButtons set;
  for (auto& [b, id] : map) set |= b;
  box.setStandardButtons(set);
  box.setDefaultButton(map.front().first);
  // The box is at least as wide as its title in the title bar, with room for the window's
  // icon and buttons: a short text must not cut the title.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    QFont title_font = box.font();
    title_font.setBold(true);
    const int title_px = QFontMetrics(title_font).horizontalAdvance(Q(title)) + 140;
    grid->addItem(new QSpacerItem(title_px, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                  grid->columnCount());
  }
  {
    NestedLoop nested;  // timers keep firing in here
    box.exec();
  }
  auto* clicked = box.clickedButton();
  for (auto& [b, id] : map)
    if (clicked && box.button(b) == clicked) return id;
  return fallback;
}

void SetMsgBoxAnswererForTesting(MsgBoxAnswerer answerer) { R().answerer = std::move(answerer); }

void InitializeApplication(int& argc, char** argv) {
  if (!QCoreApplication::instance()) new QApplication(argc, argv);  // lives until the process ends
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app) return;
  InitTidrexResources();
  app->setQuitOnLastWindowClosed(false);
  app->setWindowIcon(ApplicationIcon());
  if (!dynamic_cast<KeyboardMenuStyle*>(QApplication::style())) QApplication::setStyle(new KeyboardMenuStyle());
}

int RunEventLoop() {
  Runtime& r = R();
  if (r.end_requested) return r.exit_code;
  if (!QCoreApplication::instance()) return 0;
  r.main_loop_running = true;
  int rc = QCoreApplication::exec();
  r.main_loop_running = false;
  return rc;
}

void QuitEventLoop(int code) {
  Runtime& r = R();
  r.end_requested = true;
  r.exit_code = code;
  if (r.main_loop_running) QCoreApplication::exit(code);
}

void DoEvents() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Sleep(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetTaskVisible(bool visible) {
  Runtime& r = R();
  r.task_visible = visible;
  for (auto& [hwnd, form] : r.live)
    if (form->Impl().window->isVisible()) platform_ui_detail::ApplySkipTaskbar(form->Impl().window, !visible);
}

// ---------------------------------------------------------------------------------------
// Test seams

namespace testing {
bool ProgramEndRequested() { return R().end_requested; }
int ProgramExitCode() { return R().exit_code; }
void ResetProgramEnd() {
  R().end_requested = false;
  R().exit_code = 0;
}
std::size_t PendingDestructions() { return R().pending_delete.size(); }
std::vector<std::string> LastPopupCaptions() { return R().last_popup; }
int PopupCount() { return R().popup_count; }
Form* ActiveForm() { return R().active; }
bool TaskVisible() { return R().task_visible; }
}  // namespace testing

}  // namespace tidrex::forms
