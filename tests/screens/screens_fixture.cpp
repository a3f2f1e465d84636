#include "tests/screens/screens_fixture.h"

#include <sqlite3.h>

#include <QEvent>
#include <QObject>
#include <QWidget>
#include <QApplication>

#include <cstdint>
#include <ostream>
#include <stdexcept>

#include "platform/internet_cache.h"
#include "screens/form1.h"
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

class Db {
 public:
  explicit Db(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + path);
  }
  ~Db() { sqlite3_close_v2(db_); }
  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : "?";
      sqlite3_free(err);
      throw std::runtime_error(sql + ": " + msg);
    }
  }
  void Insert(const std::string& sql, const std::string& a, const std::string& b) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
    sqlite3_bind_text(stmt, 1, a.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, b.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) throw std::runtime_error("insert failed");
  }
  std::vector<std::string> Strings(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    std::vector<std::string> out;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      const unsigned char* t = sqlite3_column_text(stmt, 0);
      out.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
    }
    sqlite3_finalize(stmt);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace

std::ostream& operator<<(std::ostream& os, const Message& m) {
  return os << "{\"" << m.text << "\", " << m.style << ", \"" << m.title << "\"}";
}

ScreensTest::ScreensTest() {
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
  Db db(folder + "/Cookies");
  db.Exec("CREATE TABLE IF NOT EXISTS cookies(creation_utc INTEGER NOT NULL DEFAULT 0, host_key TEXT NOT NULL,"
          " top_frame_site_key TEXT NOT NULL DEFAULT '', name TEXT NOT NULL, value TEXT NOT NULL"
          " DEFAULT '', path TEXT NOT NULL DEFAULT '/')");
  for (const auto& [host, name] : rows) db.Insert("INSERT INTO cookies(host_key, name) VALUES(?1, ?2)", host, name);
}

void ScreensTest::WriteFirefoxCookies(const std::vector<std::pair<std::string, std::string>>& rows) const {
  testing::Sandbox::WriteFile(sandbox_.Home() + "/.mozilla/firefox/profiles.ini",
                              "[Profile0]\nName=default-esr\nIsRelative=1\nPath=abcd.default-esr\nDefault=1\n");
  const std::string folder = sandbox_.Home() + "/.mozilla/firefox/abcd.default-esr";
  testing::Sandbox::MakeDirs(folder);
  Db db(folder + "/cookies.sqlite");
  db.Exec("CREATE TABLE IF NOT EXISTS moz_cookies(id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL DEFAULT '',"
          " name TEXT, value TEXT, host TEXT, path TEXT)");
  for (const auto& [host, name] : rows) db.Insert("INSERT INTO moz_cookies(host, name) VALUES(?1, ?2)", host, name);
}

std::vector<std::string> ScreensTest::ChromiumCookieHosts() const {
  Db db(sandbox_.Home() + "/.config/chromium/Default/Cookies");
  return db.Strings("SELECT host_key FROM cookies ORDER BY host_key");
}

std::vector<std::string> ScreensTest::FirefoxCookieHosts() const {
  Db db(sandbox_.Home() + "/.mozilla/firefox/abcd.default-esr/cookies.sqlite");
  return db.Strings("SELECT host FROM moz_cookies ORDER BY host");
}

}  // namespace tidrex::screens_testing
