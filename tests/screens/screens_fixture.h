// What every screens test shares: a sandbox, a user who answers message boxes and notes
// what they said, a watch on the busy cursor, and fixture caches and cookie stores.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/forms.h"
#include "platform/forms_testing.h"
#include "tests/support/sandbox.h"

class QObject;

namespace tidrex::screens_testing {

struct Message {
  std::string text;
  int style = 0;
  std::string title;
  bool backdrop_visible = false;  // at the moment the box was shown
  bool operator==(const Message& o) const {
    return text == o.text && style == o.style && title == o.title;
  }
};
std::ostream& operator<<(std::ostream& os, const Message& m);

// A moment in a page's life and the busy cursor at that moment.
struct CursorAt {
  std::string form;
  int cursor = 0;
};

// The row of `text` in `list`, or -1.
int IndexOf(const forms::ListBox& list, const std::string& text);

class ScreensTest : public ::testing::Test {
 protected:
  ScreensTest();
  ~ScreensTest() override;

  // The start-up form, resident as in the running program (no tray host offscreen). The
  // screens that a first start opens are closed again.
  void LoadStartupForm();
  // The screens as the tray's "Change Configuration" opens them: backdrop and start page.
  void OpenScreens();
  // Opens the screens, follows the user's menu path to `page` and lets the pages left on
  // the way unload.
  void GoTo(const std::string& page);

  // Names of the loaded forms, in load order.
  static std::vector<std::string> LoadedNames();
  static forms::Form* Loaded(const std::string& name);
  static bool IsLoaded(const std::string& name) { return Loaded(name) != nullptr; }
  static bool IsShown(const std::string& name);
  // The visible forms' names.
  static std::vector<std::string> VisibleNames();

  static void Wait(int ms) { forms::testing::ProcessEvents(ms); }
  static bool WaitFor(const std::function<bool()>& condition, int timeout_ms = 3000) {
    return forms::testing::WaitFor(condition, timeout_ms);
  }
  // Clicks a menu item of the named loaded form; fails the test when it cannot.
  static void Click(const std::string& form, const std::string& item);

  // The backdrop's status line.
  static std::string StatusLine();
  static bool StatusLineVisible();

  std::string Ini() const { return testing::Sandbox::ReadFile(sandbox_.IniPath()); }
  void WriteIni(const std::string& text) const { testing::Sandbox::WriteFile(sandbox_.IniPath(), text); }

  // A Chromium "simple" cache entry for `url` in the sandbox's Default profile.
  void AddCacheEntry(const std::string& url) const;
  // Cookie stores of both families in the sandbox, with rows (host, name).
  void WriteChromiumCookies(const std::vector<std::pair<std::string, std::string>>& rows) const;
  void WriteFirefoxCookies(const std::vector<std::pair<std::string, std::string>>& rows) const;
  std::vector<std::string> ChromiumCookieHosts() const;
  std::vector<std::string> FirefoxCookieHosts() const;

  testing::Sandbox sandbox_;
  std::vector<Message> messages_;
  std::deque<int> answers_;            // kIdYes / kIdNo for the questions, in order
  std::vector<CursorAt> page_loads_;   // cursor when a page's load began
  std::vector<CursorAt> shows_;        // cursor when a window was shown

 private:
  QObject* show_watch_ = nullptr;
};

}  // namespace tidrex::screens_testing
