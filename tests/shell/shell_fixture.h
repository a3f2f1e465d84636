// A sandboxed start of the resident shell, and helpers the shell tests share.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/ini_settings.h"
#include "platform/forms.h"
#include "platform/forms_testing.h"
#include "screens/navigation.h"
#include "shell/form1a.h"
#include "tests/support/sandbox.h"

namespace tidrex::shell::test {

struct Box {
  std::string text;
  int style;
  std::string title;
};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    screens::ConnectToShell();
    forms::SetMsgBoxAnswererForTesting([this](const std::string& text, int style, const std::string& title) {
      boxes_.push_back({text, style, title});
      return style == forms::kMbQuestionYesNo ? answer_yes_no_ : forms::kIdOk;
    });
  }
  void TearDown() override {
    forms::testing::UnloadEverything();
    forms::SetTaskVisible(true);
  }

  std::string Ini() const { return sandbox_.IniPath(); }
  void SetSwitches(const std::string& user, const std::string& temp, const std::string& inet) {
    engine::WriteIniValue(Ini(), "Delete", "User", user);
    engine::WriteIniValue(Ini(), "Delete", "Temp", temp);
    engine::WriteIniValue(Ini(), "Delete", "Temporary Internet Files", inet);
  }
  std::string Autostart() const { return sandbox_.Path("home/.config/autostart/Tidrex.desktop"); }
  std::vector<std::string> LoadedNames() const {
    std::vector<std::string> names;
    for (forms::Form* f : forms::LoadedForms()) names.push_back(f->Name());
    return names;
  }
  Form1a& Start() { return Form1aSlot().Get(); }

  tidrex::testing::Sandbox sandbox_;
  std::vector<Box> boxes_;
  int answer_yes_no_ = forms::kIdYes;
};

}  // namespace tidrex::shell::test
