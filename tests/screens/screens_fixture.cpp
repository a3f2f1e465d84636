#include "tests/screens/screens_fixture.h"

#include <sqlite3.h>

#include <QEvent>
#include <QObject>
#include <QWidget>
#include <QApplication>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <stdexcept>

#include "platform/internet_cache.h"
#include "screens/form1.h"
#include "screens/navigation.h"
#include "screens/page_frame.h"
#include "shell/form10.h"
#include "shell/form1a.h"

namespace tidrex::screens_testing {

namespace {

// Notes the busy cursor whenever one of the program's windows is shown.
class ShowWatch : public QObject {
 public:
  explicit ShowWatch(std::vector<CursorAt>* out) : out_(out) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      for (forms::Form* f : forms::LoadedForms()) {
        if (forms::testing::WidgetOf(*f) == watched) out_->push_back({f->Name(), forms::Screen::MousePointer()});
      }
    }
    return false;
  }

 private:
  std::vector<CursorAt>* out_;
};

void AppendLe(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

// Runs `sql` on the database at `path`; the first column of every row comes back.
std::vector<std::string> Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  char* err = nullptr;
  std::vector<std::string> out;
  auto row = [](void* o, int, char** v, char**) {
    static_cast<std::vector<std::string>*>(o)->emplace_back(v[0] ? v[0] : "");
    return 0;
  };
  const bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, sql.c_str(), row, &out, &err) == SQLITE_OK;
  const std::string msg = err ? err : sqlite3_errmsg(db);
  sqlite3_free(err);
  sqlite3_close(db);
  if (!ok) throw std::runtime_error(sql + ": " + msg);
  return out;
}

// Rows (host, name) as an INSERT's values; the fixture's names need no escaping.
std::string Values(const std::vector<std::pair<std::string, std::string>>& rows) {
  std::string out;
  for (const auto& [host, name] : rows) out += (out.empty() ? "('" : ", ('") + host + "', '" + name + "')";
  return out;
}

struct Step {
  const char* form;
  const char* item;
};

// How the user reaches a page from the start page.
std::vector<Step> PathTo(const std::string& page) {
  if (page == "Form1") return {};
  if (page == "Form2") return {{"Form1", "sOptions"}};
  if (page == "frmPath") return {{"Form1", "sPath"}};
  if (page == "frmUser") return {{"Form1", "sCookies"}};
  if (page == "Form5") return {{"Form1", "sAbout"}};
  if (page == "Form3a") return {{"Form1", "sInter"}};
  if (page == "Form3c") return {{"Form1", "sInter"}, {"Form3a", "sCookies"}};
  if (page == "Form4") return {{"Form1", "sHelp"}};
  if (page == "Form4a") return {{"Form1", "sOptions"}, {"Form2", "sHelp"}};
  if (page == "Form4b") return {{"Form1", "sCookies"}, {"frmUser", "sHelp"}};
  if (page == "Form4c") return {{"Form1", "sInter"}, {"Form3a", "sHelp"}};
  if (page == "Form4d") return {{"Form1", "sInter"}, {"Form3a", "sCookies"}, {"Form3c", "sHelp"}};
  ADD_FAILURE() << "no path to " << page;
  return {};
}

}  // namespace

int IndexOf(const forms::ListBox& list, const std::string& text) {
  const std::vector<std::string> items = list.Items();
  auto it = std::find(items.begin(), items.end(), text);
  return it == items.end() ? -1 : int(it - items.begin());
}

std::ostream& operator<<(std::ostream& os, const Message& m) {
  return os << "{\"" << m.text << "\", " << m.style << ", \"" << m.title << "\"}";
}

ScreensTest::ScreensTest() {
  screens::ConnectToShell();
  sandbox_.SetEnv("Temp", sandbox_.TempDir());
  forms::SetMsgBoxAnswererForTesting([this](const std::string& text, int style, const std::string& title) {
    shell::Form10* backdrop = shell::Form10Slot().Loaded();
    messages_.push_back({text, style, title, backdrop && backdrop->Visible()});
    if ((style & 7) == 4) {
      if (answers_.empty()) {
        ADD_FAILURE() << "unexpected question: " << text;
        return forms::kIdNo;
      }
      const int answer = answers_.front();
      answers_.pop_front();
      return answer;
    }
    return forms::kIdOk;
  });
  screens::SetPageLoadObserverForTesting(
      [this](forms::Form& page) { page_loads_.push_back({page.Name(), forms::Screen::MousePointer()}); });
  show_watch_ = new ShowWatch(&shows_);
  qApp->installEventFilter(show_watch_);
}

ScreensTest::~ScreensTest() {
  qApp->removeEventFilter(show_watch_);
  delete show_watch_;
  screens::SetPageLoadObserverForTesting({});
  forms::testing::UnloadEverything();
  forms::testing::ResetProgramEnd();
  forms::SetMsgBoxAnswererForTesting({});
  forms::Screen::SetMousePointer(forms::kCursorDefault);
}

void ScreensTest::LoadStartupForm() {
  const bool first_start = !testing::Sandbox::Exists(sandbox_.IniPath());
  shell::Form1aSlot().Get();
  if (!first_start) return;
  // A first start opens the screens by itself; the tests open them their own way.
  for (forms::Form* f : forms::LoadedForms())
    if (f->Name() != "Form1a") f->Unload();
  forms::testing::ProcessEvents(0);
}

void ScreensTest::OpenScreens() {
  shell::Form10Slot().Get();
  screens::Page::Open(screens::Form1Slot());
}

void ScreensTest::GoTo(const std::string& page) {
  OpenScreens();
  for (const Step& s : PathTo(page)) Click(s.form, s.item);
  ASSERT_TRUE(forms::testing::WaitFor([] {
    for (forms::Form* f : forms::LoadedForms()) {
      auto* p = dynamic_cast<screens::Page*>(f);
      if (p && p->SelfUnloadTimer().Enabled()) return false;
    }
    return true;
  }, 3000));
  ASSERT_TRUE(IsShown(page)) << page;
}

std::vector<std::string> ScreensTest::LoadedNames() {
  std::vector<std::string> names;
  for (forms::Form* f : forms::LoadedForms()) names.push_back(f->Name());
  return names;
}

forms::Form* ScreensTest::Loaded(const std::string& name) {
  for (forms::Form* f : forms::LoadedForms())
    if (f->Name() == name) return f;
  return nullptr;
}

bool ScreensTest::IsShown(const std::string& name) {
  forms::Form* f = Loaded(name);
  return f && f->Visible();
}

std::vector<std::string> ScreensTest::VisibleNames() {
  std::vector<std::string> names;
  for (forms::Form* f : forms::LoadedForms())
    if (f->Visible()) names.push_back(f->Name());
  return names;
}

void ScreensTest::Click(const std::string& form, const std::string& item) {
  forms::Form* f = Loaded(form);
  ASSERT_NE(f, nullptr) << form << " is not loaded";
  ASSERT_TRUE(forms::testing::ClickMenu(*f, item)) << form << "." << item;
}

std::string ScreensTest::StatusLine() {
  shell::Form10* backdrop = shell::Form10Slot().Loaded();
  return backdrop ? backdrop->Label6.Caption() : std::string("<no backdrop>");
}

bool ScreensTest::StatusLineVisible() {
  shell::Form10* backdrop = shell::Form10Slot().Loaded();
  return backdrop && backdrop->Label6.Visible();
}

void ScreensTest::AddCacheEntry(const std::string& url) const {
  testing::Sandbox::MakeDirs(sandbox_.Home() + "/.config/chromium/Default");
  const std::string folder = sandbox_.Home() + "/.cache/chromium/Default/Cache/Cache_Data";
  const std::string key = "1/0/" + url;
  std::string bytes;
  AppendLe(bytes, 0xfcfb6d1ba7725c30ull, 8);
  AppendLe(bytes, 5, 4);
  AppendLe(bytes, key.size(), 4);
  AppendLe(bytes, 0, 4);
  AppendLe(bytes, 0, 4);
  bytes += key;
  bytes += "body";
  testing::Sandbox::WriteFile(folder + "/" + platform::ChromiumEntryHash(key) + "_0", bytes);
}

void ScreensTest::WriteChromiumCookies(const std::vector<std::pair<std::string, std::string>>& rows) const {
  const std::string folder = sandbox_.Home() + "/.config/chromium/Default";
  testing::Sandbox::MakeDirs(folder);
  Sql(folder + "/Cookies",
      "CREATE TABLE IF NOT EXISTS cookies(creation_utc INTEGER NOT NULL DEFAULT 0, host_key TEXT NOT NULL,"
      " top_frame_site_key TEXT NOT NULL DEFAULT '', name TEXT NOT NULL, value TEXT NOT NULL"
      " DEFAULT '', path TEXT NOT NULL DEFAULT '/'); INSERT INTO cookies(host_key, name) VALUES " + Values(rows));
}

void ScreensTest::WriteFirefoxCookies(const std::vector<std::pair<std::string, std::string>>& rows) const {
  testing::Sandbox::WriteFile(sandbox_.Home() + "/.mozilla/firefox/profiles.ini",
                              "[Profile0]\nName=default-esr\nIsRelative=1\nPath=abcd.default-esr\nDefault=1\n");
  const std::string folder = sandbox_.Home() + "/.mozilla/firefox/abcd.default-esr";
  testing::Sandbox::MakeDirs(folder);
  Sql(folder + "/cookies.sqlite",
      "CREATE TABLE IF NOT EXISTS moz_cookies(id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL DEFAULT '',"
      " name TEXT, value TEXT, host TEXT, path TEXT); INSERT INTO moz_cookies(host, name) VALUES " + Values(rows));
}

std::vector<std::string> ScreensTest::ChromiumCookieHosts() const {
  return Sql(sandbox_.Home() + "/.config/chromium/Default/Cookies", "SELECT host_key FROM cookies ORDER BY host_key");
}

std::vector<std::string> ScreensTest::FirefoxCookieHosts() const {
  return Sql(sandbox_.Home() + "/.mozilla/firefox/abcd.default-esr/cookies.sqlite",
             "SELECT host FROM moz_cookies ORDER BY host");
}

}  // namespace tidrex::screens_testing
