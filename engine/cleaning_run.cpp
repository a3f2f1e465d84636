#include "engine/cleaning_run.h"

#include <optional>

#include "engine/folder_emptying.h"
#include "engine/ini_settings.h"
#include "engine/internet_delete.h"
#include "engine/switches.h"

namespace tidrex::engine {
namespace {

enum class Entry { kInteractive, kTray, kUnattended };

// Any value but "0", "No" and "" selects a category; only "Yes" runs its step.
bool Selected(const std::string& value) { return value != "0" && value != "No" && !value.empty(); }

bool KeepListSaved() {
  const std::string marker = ReadIniValue(ConfigFilePath(), "Internet", "sFile0", "0");
  return marker != "0" && marker != "No";
}

void Run(Entry entry, RunUi& ui, const CleaningSteps& steps) {
  const bool interactive = entry == Entry::kInteractive;
  const bool unattended = entry == Entry::kUnattended;
  // The switches, the marker and what the steps read come from one reading of the file. It
  // ends before every message box, while which the user can change the settings.
  std::optional<IniOperation> settings(std::in_place, ConfigFilePath());

  if (interactive) {
    ui.SetStatusLine(kStatusCleaning);
    ui.RepaintBackdrop();
  }

  const Switches s = ReadSwitches();
  if (!Selected(s.user) && !Selected(s.temp) && !Selected(s.internet)) {
    if (unattended) {
      ui.EndProgram();
      return;
    }
    settings.reset();
    ui.MessageBox(kTextNothingSelected, kStyleInformationOk, kTitleNothingSelected);
    ui.ShowBackdrop();
    ui.ShowMainStartPage();
    return;
  }

  bool clean = true;
  if (!unattended && !KeepListSaved()) {
    ui.ShowBackdrop();
    settings.reset();
    // Only an explicit Yes goes on: an answer that is neither (a box closed some other way)
    // deletes nothing.
    clean = ui.MessageBox(kTextKeepListNotSaved, kStyleQuestionYesNo, kTitleKeepListNotSaved) ==
            kAnswerYes;
    if (clean) ui.HideOptionsPage();
    settings.emplace(ConfigFilePath());
  }

  if (clean) {
    if (s.user == "Yes" && steps.empty_user_folder) steps.empty_user_folder();
    if (s.temp == "Yes" && steps.empty_temp_folder) steps.empty_temp_folder();
    if (s.internet == "Yes" && steps.clean_internet_cache) steps.clean_internet_cache();
    settings.reset();

    if (interactive && ui.BackdropVisible()) {
      ui.SetStatusLine(kStatusFinished);
      ui.RepaintBackdrop();
      ui.Sleep(1000);
      ui.MessageBox(kTextAllCleaned, kStyleInformationOk, kTitleAllCleaned);
    }
  }

  ui.SetDefaultCursor();
  if (unattended) {
    ui.HideAndUnloadAllForms();
    ui.EndProgram();
    return;
  }
  ui.HideAllForms();
  ui.EnableCloseAllTimer();
}

}  // namespace

CleaningSteps DefaultCleaningSteps() {
  return CleaningSteps{EmptyUserFolder, EmptyTempFolder, CleanInternetCache};
}

void RunInteractiveClean(RunUi& ui, const CleaningSteps& steps) { Run(Entry::kInteractive, ui, steps); }
void RunTrayClean(RunUi& ui, const CleaningSteps& steps) { Run(Entry::kTray, ui, steps); }
void RunUnattendedClean(RunUi& ui, const CleaningSteps& steps) { Run(Entry::kUnattended, ui, steps); }

void RunInteractiveClean(RunUi& ui) { RunInteractiveClean(ui, DefaultCleaningSteps()); }
void RunTrayClean(RunUi& ui) { RunTrayClean(ui, DefaultCleaningSteps()); }
void RunUnattendedClean(RunUi& ui) { RunUnattendedClean(ui, DefaultCleaningSteps()); }

}  // namespace tidrex::engine
