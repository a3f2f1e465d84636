// The autostart entry: folders by identifier and keyword, the entry's text, atomic writing,
// and the one message of the routine.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>

#include "platform/locations.h"
#include "shell/shortcuts.h"
#include "tests/shell/shell_fixture.h"

namespace tidrex::shell::test {
namespace {

using tidrex::testing::Sandbox;

class Shortcuts : public ShellTest {};

// desktop-file-validate's verdict; -1 when the tool is missing.
int Validate(const std::string& path) {
  if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0) return -1;
  return std::system(("desktop-file-validate '" + path + "' >/dev/null 2>&1").c_str());
}

TEST_F(Shortcuts, SpecialFoldersEndInASlashOrAreEmptyAndKeywordsChooseThem) {
  EXPECT_EQ(GetSpecialFolder(7), sandbox_.Path("home/.config/autostart/"));
  EXPECT_EQ(GetSpecialFolder(8), sandbox_.Path("home/.local/share/RecentDocuments/"));
  EXPECT_EQ(GetSpecialFolder(12345), "");
  CreateShortcut("/x/Quorvel", "Tidrex", "DeskTop");
  EXPECT_TRUE(Sandbox::Exists(sandbox_.Path("home/Desktop/Tidrex.desktop")));
  CreateShortcut("/x/Quorvel", "Other", "RecentFolder");
  EXPECT_TRUE(Sandbox::Exists(sandbox_.Path("home/.local/share/RecentDocuments/Other.desktop")));
}

TEST_F(Shortcuts, StartUpEntryIsWrittenValidAndComplete) {
  Sandbox::WriteFile(Autostart(), "old");  // replaced
  forms::Screen::SetMousePointer(forms::kCursorHourglass);
  CreateShortcut(sandbox_.AppFolder() + "Quorvel", "Tidrex", "StartUp");
  EXPECT_EQ(forms::Screen::MousePointer(), forms::kCursorDefault);
  const std::string entry = Autostart();
  ASSERT_TRUE(Sandbox::Exists(entry));
  const std::string text = Sandbox::ReadFile(entry);
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
  EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
  EXPECT_NE(text.find("\nName=Tidrex\n"), std::string::npos);
  EXPECT_NE(text.find("\nExec=\"" + sandbox_.AppFolder() + "Quorvel\"\n"), std::string::npos);
  EXPECT_NE(text.find("\nIcon=" + sandbox_.AppFolder() + "tidrex.svg\n"), std::string::npos);
  // Desktops start it once their panel is up.
  for (const char* key : {"\nX-GNOME-Autostart-Delay=3\n", "\nX-KDE-autostart-after=panel\n", "\nX-LXQt-Need-Tray=true\n"})
    EXPECT_NE(text.find(key), std::string::npos) << key;
  int verdict = Validate(entry);
  if (verdict == -1) GTEST_SKIP() << "desktop-file-validate is not installed";
  EXPECT_EQ(verdict, 0) << text;
  // Nothing but the entry is left in the folder: the temporary file was renamed.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(sandbox_.Path("home/.config/autostart"))) (void)e, ++files;
  EXPECT_EQ(files, 1);
  struct stat st {};
  ASSERT_EQ(stat(entry.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(Shortcuts, ExecQuotesEveryReservedCharacter) {
  EXPECT_EQ(QuoteExecArgument("/opt/my apps/Quorvel"), "\"/opt/my apps/Quorvel\"");
  // '"', '`', '$' and '\' escaped inside the quotes, the backslashes once more for the key
  // file; '%' doubled.
  EXPECT_EQ(QuoteExecArgument("/a\"b`c$d\\e%f"), "\"/a\\\\\"b\\\\`c\\\\$d\\\\\\\\e%%f\"");
  const std::string odd = sandbox_.Path("app dir $HOME `x` 100% \"q\" back\\slash/");
  Sandbox::MakeDirs(odd);
  const std::string entry = sandbox_.Path("entry.desktop");
  Sandbox::WriteFile(entry, DesktopEntryText(odd + "Quorvel", "Tidrex", odd + "tidrex.svg"));
  int verdict = Validate(entry);
  if (verdict == -1) GTEST_SKIP() << "desktop-file-validate is not installed";
  EXPECT_EQ(verdict, 0) << Sandbox::ReadFile(entry);
}

TEST_F(Shortcuts, UnknownKeywordWritesNothingAndSaysNothing) {
  forms::Screen::SetMousePointer(forms::kCursorHourglass);
  CreateShortcut(sandbox_.AppFolder() + "Quorvel", "Tidrex", "startup");  // case matters
  EXPECT_EQ(forms::Screen::MousePointer(), forms::kCursorDefault);
  EXPECT_FALSE(Sandbox::Exists(Autostart()));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(Shortcuts, AFailedWriteShowsTheOneMessage) {
  // The autostart folder cannot be made: a file stands where it would go.
  Sandbox::WriteFile(sandbox_.Path("home/.config/autostart"), "in the way");
  CreateShortcut(sandbox_.AppFolder() + "Quorvel", "Tidrex", "StartUp");
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Error creating Startup shortcut. Error creating Startup shortcut.");
  EXPECT_EQ(boxes_[0].title, "Create Shortcut");
  EXPECT_EQ(boxes_[0].style, 48);
  EXPECT_EQ(Sandbox::ReadFile(sandbox_.Path("home/.config/autostart")), "in the way");
}

// Installed, the program's folder is <prefix>/libexec/tidrex and <prefix>/bin/tidrex leads to
// it: the entry starts that command and takes the theme's icon. Any other copy, or a command
// that leads elsewhere, starts the executable in the application folder.
TEST_F(Shortcuts, AnInstalledProgramStartsItsCommandAnyOtherCopyItsOwnFile) {
  const std::string app = sandbox_.Path("usr/libexec/tidrex/");
  const std::string command = sandbox_.Path("usr/bin/tidrex");
  Sandbox::MakeDirs(app);
  Sandbox::MakeDirs(sandbox_.Path("usr/bin"));
  platform::SetApplicationFolderForTesting(app);
  EXPECT_EQ(AutostartTarget(), app + "Quorvel") << "no command at all";

  // This test program stands in for the installed executable behind the link.
  ASSERT_EQ(symlink(std::filesystem::read_symlink("/proc/self/exe").c_str(), command.c_str()), 0);
  EXPECT_EQ(AutostartTarget(), command);
  CreateShortcut(AutostartTarget(), "Tidrex", "StartUp");
  const std::string text = Sandbox::ReadFile(Autostart());
  EXPECT_NE(text.find("\nExec=\"" + command + "\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nIcon=tidrex\n"), std::string::npos) << text;

  ASSERT_EQ(unlink(command.c_str()), 0);
  ASSERT_EQ(symlink("/bin/true", command.c_str()), 0);
  EXPECT_EQ(AutostartTarget(), app + "Quorvel") << "a command of another program";
  platform::SetApplicationFolderForTesting(sandbox_.AppFolder());
  EXPECT_EQ(AutostartTarget(), sandbox_.AppFolder() + "Quorvel");
}

}  // namespace
}  // namespace tidrex::shell::test
