#include "engine/path_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/locations.h"
#include "platform/shell_folders.h"
#include "tests/support/sandbox.h"

namespace tidrex::engine {
namespace {

using testing::Sandbox;

class PathHelpers : public ::testing::Test {
 protected:
  Sandbox box;
};

TEST_F(PathHelpers, ItemExistsTrimsAndDropsOneTrailingSlash) {
  std::string dir = box.Path("folder");
  Sandbox::MakeDirs(dir);
  Sandbox::WriteFile(dir + "/.dot", "");
  EXPECT_TRUE(ItemExists("  " + dir + "/  "));
  EXPECT_TRUE(ItemExists(dir + "/*"));
  EXPECT_TRUE(ItemExists(dir + "/*.*"));
  EXPECT_FALSE(ItemExists(dir + "/*.txt"));
  EXPECT_FALSE(ItemExists(dir + "//")) << "only one slash is dropped";
  EXPECT_FALSE(ItemExists(""));
  EXPECT_FALSE(ItemExists("   "));
  EXPECT_FALSE(ItemExists("folder")) << "not absolute";
  EXPECT_TRUE(ItemExists("/"));
  EXPECT_TRUE(ItemExists(" / "));
  EXPECT_FALSE(ItemExists(box.Path("missing")));
}

TEST_F(PathHelpers, EveryMountPointExists) {
  std::string table = box.Path("mountinfo");
  Sandbox::WriteFile(table, "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n2 1 0:5 / /not/on/disk rw - tmpfs t rw\n");
  platform::SetMountTableForTesting(table);
  EXPECT_TRUE(ItemExists("/not/on/disk/"));
  EXPECT_EQ(DriveTypeOf("/not/on/disk/x"), 6);
  EXPECT_EQ(DriveTypeOf("  "), 0);
  EXPECT_EQ(DriveTypeOf(""), 0);
  std::string list = LogicalDriveList();
  EXPECT_EQ(list, std::string("/\0/not/on/disk\0", 15));
}

TEST_F(PathHelpers, SpecialFoldersFollowXdg) {
  EXPECT_EQ(GetFolderPath(7), box.Path("home/.config/autostart"));
  EXPECT_EQ(GetFolderPath(8), box.Path("home/.local/share/RecentDocuments"));
  EXPECT_EQ(GetFolderPath(16), box.Path("home/Desktop"));
  Sandbox::WriteFile(box.Path("home/.config/user-dirs.dirs"), "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  EXPECT_EQ(GetFolderPath(16), box.Path("home/Schreibtisch"));
  EXPECT_EQ(GetFolderPath(22), "/usr/share/applications");
  EXPECT_EQ(GetFolderPath(32), box.Path("home/.cache"));
  EXPECT_EQ(GetFolderPath(5), "");
  EXPECT_EQ(GetFolderPath(-1), "");
  box.SetEnv("XDG_CONFIG_HOME", "relative/ignored");
  EXPECT_EQ(GetFolderPath(7), box.Path("home/.config/autostart"));
  box.SetEnv("XDG_CONFIG_HOME", box.Path("cfg/"));
  EXPECT_EQ(GetFolderPath(7), box.Path("cfg/autostart"));
}

TEST_F(PathHelpers, TempIsFoundInAnyCaseAndNeverGuessed) {
  EXPECT_EQ(TempFolder(), "") << "no fallback to TMPDIR or /tmp";
  box.SetEnv("TMPDIR", "/tmp");
  EXPECT_EQ(TempFolder(), "");
  box.SetEnv("temp", box.TempDir());
  EXPECT_EQ(TempFolder(), box.TempDir());
  box.SetEnv("temp", std::nullopt);
  box.SetEnv("TEMP", "/x/y");
  EXPECT_EQ(TempFolder(), "/x/y");
}

TEST_F(PathHelpers, ShellDeleteIsSilentAndFinal) {
  std::string dir = box.Path("victim");
  Sandbox::WriteFile(dir + "/a/b.txt", "");
  ShellDelete(dir);
  EXPECT_FALSE(Sandbox::Exists(dir));
  ShellDelete(dir);  // already gone: nothing happens
  ShellDelete("");
  EXPECT_FALSE(IsWindowsXP());
}

}  // namespace
}  // namespace tidrex::engine
