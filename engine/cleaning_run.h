// The three cleaning runs and what a run needs of the user interface.
#pragma once

#include <functional>
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

// The cleaning steps a run carries out, in the order it carries them out. The runs above
// use EmptyUserFolder, EmptyTempFolder and CleanInternetCache; tests pass their own to see
// which steps ran and when.
struct CleaningSteps {
  std::function<void()> empty_user_folder;
  std::function<void()> empty_temp_folder;
  std::function<void()> clean_internet_cache;
};
CleaningSteps DefaultCleaningSteps();

void RunInteractiveClean(RunUi& ui, const CleaningSteps& steps);
void RunTrayClean(RunUi& ui, const CleaningSteps& steps);
void RunUnattendedClean(RunUi& ui, const CleaningSteps& steps);

// The texts the runs show.
inline constexpr const char* kTextNothingSelected = "You Have Not Entered Any Files To Be Cleaned !";
inline constexpr const char* kTitleNothingSelected = "Varnok Info.....";
inline constexpr const char* kTextKeepListNotSaved =
    "You have not saved any Cookies !\r\rDo you want to continue?";
inline constexpr const char* kTitleKeepListNotSaved = "For Your Information.....";
inline constexpr const char* kTextAllCleaned = "All Files Cleaned!";
inline constexpr const char* kTitleAllCleaned = "Varnok Tidrex.....";
inline constexpr const char* kStatusCleaning = "Cleaning Files Now !";
inline constexpr const char* kStatusFinished = "All Finished Cleaning Files !";

}  // namespace tidrex::engine
