#include "engine/folder_emptying.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "engine/ini_settings.h"
#include "platform/locations.h"
#include "tests/platform/fs_fixtures.h"

namespace tidrex::engine {
namespace {

using testing::Sandbox;
namespace fs = std::filesystem;

using testing::Listing;

// The two steps differ only in how they find their folder.
enum class Step { kTemp, kUser };

class FolderEmptyingTest : public testing::SandboxFixture<::testing::TestWithParam<Step>> {
 protected:
  using Base = testing::SandboxFixture<::testing::TestWithParam<Step>>;
  using Base::box, Base::P, Base::File, Base::Dir, Base::Exists, Base::Link;

  // Names the folder the way the step finds it: "Temp", or "User"/"sFile0".
  void Name(const std::optional<std::string>& folder) {
    if (GetParam() == Step::kTemp) {
      box.SetEnv("Temp", folder);
    } else if (folder) {
      WriteIniValue(ConfigFilePath(), "User", "sFile0", *folder);
    }
  }
  void RunStep() {
    if (GetParam() == Step::kTemp) EmptyTempFolder();
    else EmptyUserFolder();
  }

  // A tree with nested folders, dotfiles, read-only items, an empty folder and odd names.
  void Tree(const std::string& rel) {
    File(rel + "/a.txt");
    File(rel + "/.hidden");
    File(rel + "/sub/inner/deep/file.bin");
    File(rel + "/sub/.dotdir/x");
    File(rel + "/ro_file", "r");
    File(rel + "/ro_dir/child");
    File(rel + "/star*and?mark");
    Dir(rel + "/empty");
    ASSERT_EQ(chmod(P(rel + "/ro_file").c_str(), 0444), 0);
    ASSERT_EQ(chmod(P(rel + "/ro_dir").c_str(), 0555), 0);
  }
};

TEST_P(FolderEmptyingTest, EmptiesEverythingAndKeepsTheFolder) {
  Tree("target");
  File("neighbour/keep", "keep");
  Name(P("neighbour/../target/./"));
  RunStep();
  EXPECT_TRUE(fs::is_directory(P("target")));
  EXPECT_EQ(Listing(P("target")), std::set<std::string>{});
  EXPECT_EQ(Sandbox::ReadFile(P("neighbour/keep")), "keep");
  // An empty folder stays, a missing one is not made.
  RunStep();
  EXPECT_TRUE(fs::is_directory(P("target")));
  Name(P("gone"));
  RunStep();
  EXPECT_FALSE(Exists("gone"));
}

TEST_P(FolderEmptyingTest, LinksInsideAreRemovedAsLinksAndALinkedFolderIsEmptied) {
  File("outside/dir/keep.txt", "keep");
  File("outside/file.txt", "keep");
  File("work/sub/f");
  Link(P("outside/dir"), "work/dirlink");
  Link(P("outside/file.txt"), "work/sub/filelink");
  Link(P("outside"), "work/sub/uplink");
  Name(P("work"));
  RunStep();
  EXPECT_EQ(Listing(P("work")), std::set<std::string>{});
  EXPECT_EQ(Sandbox::ReadFile(P("outside/dir/keep.txt")), "keep");
  EXPECT_EQ(Sandbox::ReadFile(P("outside/file.txt")), "keep");
  // A folder named through a link is emptied and the link stays.
  Tree("real");
  Link(P("real"), "named");
  Name(P("named"));
  RunStep();
  EXPECT_EQ(Listing(P("real")), std::set<std::string>{});
  EXPECT_TRUE(fs::is_symlink(P("named")));
}

TEST_P(FolderEmptyingTest, MountPointsInsideAreLeftWithEverythingOnThem) {
  File("work/a/b/plain");
  File("work/top");
  testing::ScratchMount shallow(P("work/mnt"));
  if (!shallow.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  testing::ScratchMount deep(P("work/a/b/mnt"));
  ASSERT_TRUE(deep.Mounted());
  File("work/mnt/keep", "keep");
  File("work/mnt/sub/keep", "keep");
  File("work/a/b/mnt/keep", "keep");
  Name(P("work"));
  RunStep();
  EXPECT_EQ(Listing(P("work")),
            (std::set<std::string>{"a", "a/b", "a/b/mnt", "a/b/mnt/keep", "mnt", "mnt/keep",
                                   "mnt/sub", "mnt/sub/keep"}));
}

TEST_P(FolderEmptyingTest, WhatPermissionForbidsStaysAndEverythingElseGoes) {
  Tree("work");
  File("work/guarded/locked/file");
  File("work/guarded/free");
  File("work/shut/hidden");
  File("work/z_last/file");
  Name(P("work"));
  ASSERT_TRUE(testing::GiveTreeToNobody(box.Root()));
  ASSERT_EQ(chmod(box.Root().c_str(), 0755), 0);
  if (geteuid() == 0) {
    // Folders of root's that nobody may change or read.
    ASSERT_EQ(lchown(P("work/guarded/locked").c_str(), 0, 0), 0);
    ASSERT_EQ(lchown(P("work/shut").c_str(), 0, 0), 0);
  }
  ASSERT_EQ(chmod(P("work/shut").c_str(), 0700), 0);
  ASSERT_EQ(chmod(P("work/ro_dir").c_str(), 0755), 0);  // as nobody a 0555 folder cannot be emptied
  const Step step = GetParam();
  int status = testing::RunUnprivileged([step] {
    if (step == Step::kTemp) EmptyTempFolder();
    else EmptyUserFolder();
    return 0;
  });
  if (status == -1) GTEST_SKIP() << "cannot drop privileges";
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Listing(P("work")), (std::set<std::string>{"guarded", "guarded/locked",
                                                       "guarded/locked/file", "shut", "shut/hidden"}));
  EXPECT_TRUE(Exists("work/shut/hidden"));
}

TEST_P(FolderEmptyingTest, RefusedFoldersAreLeftUntouched) {
  // Every refused folder that can be tried without risk: the sandbox stands in for them.
  File("home/.config/settings", "keep");
  File("app/Quorvel", "keep");
  File("app/Skin1/Skin1.uis", "keep");
  File("relative/keep", "keep");
  File("temp/keep");
  File("0/keep");
  Link(P("home"), "home_link");
  WriteIniValue(ConfigFilePath(), "Delete", "User", "Yes");
  const std::string before = Sandbox::ReadFile(ConfigFilePath());
  const fs::path old_cwd = fs::current_path();
  fs::current_path(box.Root());
  // Unset, the working folder would be "/" or "0/": nothing named, nothing deleted.
  Name(std::nullopt);
  RunStep();
  for (const std::string& folder :
       {std::string(""), std::string("0"), P("home"), P("home/"), P("home/.config/.."), P("home_link"), box.Root(), box.Root() + "//",
        P("app"), P("app/"), P("app/Skin1/.."), std::string("relative"), std::string("./relative")}) {
    Name(folder);
    EmptyingReport report = EmptyFolder(folder);
    EXPECT_TRUE(report.refused) << folder;
    RunStep();
  }
  fs::current_path(old_cwd);
  EXPECT_EQ(Sandbox::ReadFile(P("home/.config/settings")), "keep");
  EXPECT_EQ(Sandbox::ReadFile(P("app/Quorvel")), "keep");
  EXPECT_EQ(Sandbox::ReadFile(P("app/Skin1/Skin1.uis")), "keep");
  for (const char* rel : {"relative/keep", "temp/keep", "0/keep", "home_link"}) EXPECT_TRUE(Exists(rel)) << rel;
  // The user step's own configuration is part of what is protected.
  if (GetParam() == Step::kTemp) EXPECT_EQ(Sandbox::ReadFile(ConfigFilePath()), before);
  // Folders below home and the application folder are not refused.
  File("home/Downloads/old.iso");
  Name(P("home/Downloads"));
  RunStep();
  EXPECT_EQ(Listing(P("home/Downloads")), std::set<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Steps, FolderEmptyingTest, ::testing::Values(Step::kTemp, Step::kUser),
                         [](const auto& info) { return info.param == Step::kTemp ? "Temp" : "User"; });

class RefusalTest : public testing::SandboxFixture<> {};

TEST_F(RefusalTest, SystemFoldersUnsetAndRelativeNamesAreRefused) {
  for (const char* folder :
       {"/", "//", "/.", "/..", "/bin", "/boot", "/dev", "/etc", "/etc/", "/home", "/lib", "/lib32",
        "/lib64", "/libx32", "/opt", "/proc", "/root", "/run", "/sbin", "/srv", "/sys", "/usr",
        "/usr/", "/var", "/var/.", "/usr/../etc", "//etc//", "/tmp/..", "", "0", "0/", "/0/..",
        "temp", "./temp", "../temp", "~/tmp", " /tmp"})
    EXPECT_TRUE(IsFolderRefusedForEmptying(folder)) << '"' << folder << '"';
  EXPECT_FALSE(IsFolderRefusedForEmptying("/usr/local"));
  EXPECT_FALSE(IsFolderRefusedForEmptying("/var/tmp"));
  // Where /bin is a link (merged /usr), the folder it stands for is as vital.
  char buffer[PATH_MAX];
  if (realpath("/bin", buffer) && std::string(buffer) != "/bin") EXPECT_TRUE(IsFolderRefusedForEmptying(buffer));
}

TEST_F(RefusalTest, HomeApplicationEverythingAboveThemAndLinksToThemAreRefused) {
  for (const char* dir : {"app/Skin1", "home/Downloads", "elsewhere", "app2", "hom", "real/user"}) Dir(dir);
  Link("/", "to_root");
  Link("/etc", "to_etc");
  Link(box.Home(), "to_home");
  Link(P("to_root"), "to_link");
  for (const std::string& folder : {box.Home(), box.AppFolder(), box.Root(), fs::path(box.Root()).parent_path().string(),
                                    P("to_root"), P("to_etc"), P("to_home"), P("to_link"), P("to_root/")})
    EXPECT_TRUE(IsFolderRefusedForEmptying(folder)) << folder;
  // A sibling that merely starts with the same letters is not above anything.
  for (const char* rel : {"home/Downloads", "app/Skin1", "elsewhere", "does/not/exist", "app2", "hom"})
    EXPECT_FALSE(IsFolderRefusedForEmptying(P(rel))) << rel;
  // HOME names a link; the folder behind it and everything above that are refused.
  Link(P("real/user"), "home_link");
  box.SetEnv("HOME", P("home_link"));
  for (const char* rel : {"real/user", "real", "home_link"}) EXPECT_TRUE(IsFolderRefusedForEmptying(P(rel))) << rel;
  // Beside a program that cannot write its own folder, "Clean.ini" lives below the XDG
  // configuration folder: that folder and the ones above it are refused, its siblings not.
  Dir("home/.config/other");
  EXPECT_FALSE(IsFolderRefusedForEmptying(P("home/.config"))) << "the file is beside the program";
  platform::SetApplicationFolderForTesting(P("gone"));
  for (const char* rel : {"home/.config/Tidrex", "home/.config"}) EXPECT_TRUE(IsFolderRefusedForEmptying(P(rel))) << rel;
  EXPECT_FALSE(IsFolderRefusedForEmptying(P("home/.config/other")));
}

class DeleteFilesRecursiveTest : public testing::SandboxFixture<> {};

TEST_F(DeleteFilesRecursiveTest, DeletesFilesOnlyAndKeepsEveryFolder) {
  File("t/a");
  File("t/.b");
  File("t/sub/c");
  File("t/sub/deeper/d");
  Sandbox::MakeDirs(P("t/empty"));
  File("t/ro");
  ASSERT_EQ(chmod(P("t/ro").c_str(), 0444), 0);
  Link(P("outside"), "t/link");
  File("outside/keep");
  EXPECT_TRUE(DeleteFilesRecursive(P("t"), true));
  EXPECT_EQ(Listing(P("t")), (std::set<std::string>{"empty", "sub", "sub/deeper"}));
  EXPECT_TRUE(Sandbox::Exists(P("outside/keep")));
  File("t/top");
  File("t/sub/c");
  EXPECT_TRUE(DeleteFilesRecursive(P("t"), false));
  EXPECT_FALSE(Exists("t/top"));
  EXPECT_TRUE(Exists("t/sub/c")) << "without recursion only the top files go";
}

TEST_F(DeleteFilesRecursiveTest, FolderThatCannotBeGotIsFalse) {
  File("plain");
  Link(P("t"), "link");
  File("t/kept");
  EXPECT_FALSE(DeleteFilesRecursive(P("missing"), true));
  EXPECT_FALSE(DeleteFilesRecursive(P("plain"), true));
  EXPECT_FALSE(DeleteFilesRecursive(P("link"), true));
  EXPECT_FALSE(DeleteFilesRecursive("relative", true));
  EXPECT_TRUE(Sandbox::Exists(P("t/kept")));
}

TEST_F(DeleteFilesRecursiveTest, AFolderThatCannotBeListedEndsTheWholeWalk) {
  File("t/a_first/file");
  File("t/b_shut/file");
  File("t/c_after/file");
  File("t/top");
  ASSERT_TRUE(testing::GiveTreeToNobody(box.Root()));
  ASSERT_EQ(chmod(box.Root().c_str(), 0755), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(lchown(P("t/b_shut").c_str(), 0, 0), 0);
  }
  ASSERT_EQ(chmod(P("t/b_shut").c_str(), 0700), 0);
  const std::string folder = P("t");
  int status = testing::RunUnprivileged([&] { return DeleteFilesRecursive(folder, true) ? 1 : 0; });
  if (status == -1) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(status, 0) << "the walk reports that it ended early";
  EXPECT_FALSE(Sandbox::Exists(P("t/top")));
  EXPECT_FALSE(Sandbox::Exists(P("t/a_first/file")));
  EXPECT_TRUE(Sandbox::Exists(P("t/b_shut/file")));
  EXPECT_TRUE(Sandbox::Exists(P("t/c_after/file"))) << "nothing after the failure is visited";
}

}  // namespace
}  // namespace tidrex::engine
