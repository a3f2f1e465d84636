// The three cleaning runs and what a run needs of the user interface.
#pragma once

#include <string>

namespace tidrex::engine {

// Message-box styles and answers used by the runs.
inline constexpr int kStyleInformationOk = 64;
inline constexpr int kStyleQuestionYesNo = 36;
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

// What a run needs of the screens, and nothing more. The screens supply it for the
// interactive and tray runs; the unattended run uses HeadlessRunUi.
class RunUi {
 public:
  virtual ~RunUi() = default;
  virtual int MessageBox(const std::string& text, int style, const std::string& title) = 0;
  virtual void SetStatusLine(const std::string& caption) = 0;  // and make it visible
  virtual void RepaintBackdrop() = 0;
  virtual bool BackdropVisible() = 0;
  virtual void ShowBackdrop() = 0;
  virtual void ShowMainStartPage() = 0;
  virtual void HideOptionsPage() = 0;
  virtual void SetDefaultCursor() = 0;
  virtual void HideAllForms() = 0;           // last loaded first
  virtual void HideAndUnloadAllForms() = 0;  // last loaded first
  virtual void EnableCloseAllTimer() = 0;
  virtual void Sleep(int ms) = 0;
  virtual void EndProgram() = 0;
};

// No window system at all: messages go nowhere and the program ends by returning from main.
class HeadlessRunUi : public RunUi {
 public:
  int MessageBox(const std::string&, int style, const std::string&) override {
    return style == kStyleQuestionYesNo ? kAnswerYes : kAnswerOk;
  }
  void SetStatusLine(const std::string&) override {}
  void RepaintBackdrop() override {}
  bool BackdropVisible() override { return false; }
  void ShowBackdrop() override {}
  void ShowMainStartPage() override {}
  void HideOptionsPage() override {}
  void SetDefaultCursor() override {}
  void HideAllForms() override {}
  void HideAndUnloadAllForms() override {}
  void EnableCloseAllTimer() override {}
  void Sleep(int) override {}
  void EndProgram() override { ended = true; }
  bool ended = false;
};

void RunInteractiveClean(RunUi& ui);
void RunTrayClean(RunUi& ui);
// Ends the program through ui.EndProgram(); main returns 0 after it.
void RunUnattendedClean(RunUi& ui);

}  // namespace tidrex::engine
