#include "engine/folder_emptying.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "engine/ini_settings.h"
#include "tests/platform/fs_fixtures.h"
#include "tests/support/sandbox.h"

namespace tidrex::engine {
namespace {

using testing::Sandbox;
namespace fs = std::filesystem;

// Everything below `root`, relative, links not followed.
std::set<std::string> Listing(const std::string& root) {
  std::set<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    out.insert(fs::relative(it->path(), root).string());
  return out;
}

// The two steps differ only in how they find their folder.
enum class Step { kTemp, kUser };

class FolderEmptyingTest : public ::testing::TestWithParam<Step> {
 protected:
  std::string P(const std::string& rel) const { return box.Path(rel); }
  void File(const std::string& rel, const std::string& content = "x") { Sandbox::WriteFile(P(rel), content); }
  void Dir(const std::string& rel) { Sandbox::MakeDirs(P(rel)); }
  bool Exists(const std::string& rel) const { return Sandbox::Exists(P(rel)); }

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

  Sandbox box;
};

TEST_P(FolderEmptyingTest, EmptiesEverythingAndKeepsTheFolder) {
  Dir("work");
  Tree("work");
  File("neighbour/keep", "keep");
  Name(P("work"));
  RunStep();
  EXPECT_TRUE(fs::is_directory(P("work")));
  EXPECT_EQ(Listing(P("work")), std::set<std::string>{});
  EXPECT_EQ(Sandbox::ReadFile(P("neighbour/keep")), "keep");
}

TEST_P(FolderEmptyingTest, NamedWithTrailingSlashAndDotsStillTheSameFolder) {
  Tree("dir");
  File("dir2/keep", "keep");
  Name(P("dir2/../dir/./"));
  RunStep();
  EXPECT_EQ(Listing(P("dir")), std::set<std::string>{});
  EXPECT_TRUE(Exists("dir2/keep"));
}

TEST_P(FolderEmptyingTest, EmptyAndMissingFoldersLeaveEverythingAsItWas) {
  Dir("empty");
  Name(P("empty"));
  RunStep();
  EXPECT_TRUE(fs::is_directory(P("empty")));
  File("other/keep");
  Name(P("gone"));
  RunStep();
  EXPECT_FALSE(Exists("gone"));
  EXPECT_TRUE(Exists("other/keep"));
}

TEST_P(FolderEmptyingTest, LinksInsideAreRemovedAsLinks) {
  File("outside/dir/keep.txt", "keep");
  File("outside/file.txt", "keep");
  File("work/sub/f");
  ASSERT_EQ(symlink(P("outside/dir").c_str(), P("work/dirlink").c_str()), 0);
  ASSERT_EQ(symlink(P("outside/file.txt").c_str(), P("work/sub/filelink").c_str()), 0);
  ASSERT_EQ(symlink(P("outside").c_str(), P("work/sub/uplink").c_str()), 0);
  Name(P("work"));
  RunStep();
  EXPECT_EQ(Listing(P("work")), std::set<std::string>{});
  EXPECT_EQ(Sandbox::ReadFile(P("outside/dir/keep.txt")), "keep");
  EXPECT_EQ(Sandbox::ReadFile(P("outside/file.txt")), "keep");
}

TEST_P(FolderEmptyingTest, FolderNamedThroughALinkIsEmptiedAndTheLinkStays) {
  Tree("real");
  ASSERT_EQ(symlink(P("real").c_str(), P("named").c_str()), 0);
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

TEST_P(FolderEmptyingTest, UnsetFolderDeletesNothing) {
  // The working folder would be "/" or "0/": nothing named, nothing deleted.
  File("temp/keep");
  File("app/keep");
  File("0/keep");
  const fs::path old_cwd = fs::current_path();
  fs::current_path(box.Root());
  Name(std::nullopt);
  RunStep();
  Name("");
  RunStep();
  Name("0");
  RunStep();
  fs::current_path(old_cwd);
  EXPECT_TRUE(Exists("temp/keep"));
  EXPECT_TRUE(Exists("app/keep"));
  EXPECT_TRUE(Exists("0/keep"));
}

TEST_P(FolderEmptyingTest, RefusedFoldersAreLeftUntouched) {
  // Every refused folder that can be tried without risk: the sandbox stands in for them.
  File("home/.config/settings", "keep");
  File("app/Quorvel", "keep");
  File("app/Skin1/Skin1.uis", "keep");
  File("relative/keep", "keep");
  ASSERT_EQ(symlink(P("home").c_str(), P("home_link").c_str()), 0);
  WriteIniValue(ConfigFilePath(), "Delete", "User", "Yes");
  const std::string before = Sandbox::ReadFile(ConfigFilePath());
  const fs::path old_cwd = fs::current_path();
  fs::current_path(box.Root());
  for (const std::string& folder :
       {P("home"), P("home/"), P("home/.config/.."), P("home_link"), box.Root(), box.Root() + "//",
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
  EXPECT_TRUE(Exists("relative/keep"));
  EXPECT_TRUE(Exists("home_link"));
  // The user step's own configuration is part of what is protected.
  if (GetParam() == Step::kTemp) {
    EXPECT_EQ(Sandbox::ReadFile(ConfigFilePath()), before);
  }
}

TEST_P(FolderEmptyingTest, FoldersBelowHomeAndTheApplicationAreNotRefused) {
  File("home/Downloads/old.iso");
  File("app/Skin1/cache.tmp");
  Name(P("home/Downloads"));
  RunStep();
  EXPECT_EQ(Listing(P("home/Downloads")), std::set<std::string>{});
  EmptyFolder(P("app/Skin1"));
  EXPECT_EQ(Listing(P("app/Skin1")), std::set<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Steps, FolderEmptyingTest, ::testing::Values(Step::kTemp, Step::kUser),
                         [](const auto& info) { return info.param == Step::kTemp ? "Temp" : "User"; });

class RefusalTest : public ::testing::Test {
 protected:
  Sandbox box;
};

TEST_F(RefusalTest, SystemFoldersAndTheRootAreRefused) {
  for (const char* folder :
       {"/", "//", "/.", "/..", "/bin", "/boot", "/dev", "/etc", "/etc/", "/home", "/lib", "/lib32",
        "/lib64", "/libx32", "/opt", "/proc", "/root", "/run", "/sbin", "/srv", "/sys", "/usr",
        "/usr/", "/var", "/var/.", "/usr/../etc", "//etc//", "/tmp/.."})
    EXPECT_TRUE(IsFolderRefusedForEmptying(folder)) << folder;
}

TEST_F(RefusalTest, LinksToRefusedFoldersAreRefused) {
  ASSERT_EQ(symlink("/", box.Path("to_root").c_str()), 0);
  ASSERT_EQ(symlink("/etc", box.Path("to_etc").c_str()), 0);
  ASSERT_EQ(symlink(box.Home().c_str(), box.Path("to_home").c_str()), 0);
  ASSERT_EQ(symlink(box.Path("to_root").c_str(), box.Path("to_link").c_str()), 0);
  for (const char* name : {"to_root", "to_etc", "to_home", "to_link", "to_root/"})
    EXPECT_TRUE(IsFolderRefusedForEmptying(box.Path(name))) << name;
}

TEST_F(RefusalTest, MergedSystemFoldersAreRefusedUnderTheirOtherName) {
  // Where /bin is a link (merged /usr), the folder it stands for is as vital.
  char buffer[PATH_MAX];
  if (!realpath("/bin", buffer) || std::string(buffer) == "/bin") GTEST_SKIP() << "/bin is no link here";
  EXPECT_TRUE(IsFolderRefusedForEmptying(buffer));
}

TEST_F(RefusalTest, HomeApplicationAndEverythingAboveThemAreRefused) {
  Sandbox::MakeDirs(box.Path("app/Skin1"));
  Sandbox::MakeDirs(box.Path("home/Downloads"));
  Sandbox::MakeDirs(box.Path("elsewhere"));
  EXPECT_TRUE(IsFolderRefusedForEmptying(box.Home()));
  EXPECT_TRUE(IsFolderRefusedForEmptying(box.AppFolder()));
  EXPECT_TRUE(IsFolderRefusedForEmptying(box.Root()));
  EXPECT_TRUE(IsFolderRefusedForEmptying(fs::path(box.Root()).parent_path().string()));
  EXPECT_FALSE(IsFolderRefusedForEmptying(box.Path("home/Downloads")));
  EXPECT_FALSE(IsFolderRefusedForEmptying(box.Path("app/Skin1")));
  EXPECT_FALSE(IsFolderRefusedForEmptying(box.Path("elsewhere")));
  EXPECT_FALSE(IsFolderRefusedForEmptying(box.Path("does/not/exist")));
  // A sibling that merely starts with the same letters is not above anything.
  Sandbox::MakeDirs(box.Path("app2"));
  Sandbox::MakeDirs(box.Path("hom"));
  EXPECT_FALSE(IsFolderRefusedForEmptying(box.Path("app2")));
  EXPECT_FALSE(IsFolderRefusedForEmptying(box.Path("hom")));
}

TEST_F(RefusalTest, HomeReachedThroughALinkIsStillProtected) {
  // HOME names a link; the folder behind it and everything above that are refused.
  Sandbox::MakeDirs(box.Path("real/user"));
  ASSERT_EQ(symlink(box.Path("real/user").c_str(), box.Path("home_link").c_str()), 0);
  box.SetEnv("HOME", box.Path("home_link"));
  EXPECT_TRUE(IsFolderRefusedForEmptying(box.Path("real/user")));
  EXPECT_TRUE(IsFolderRefusedForEmptying(box.Path("real")));
  EXPECT_TRUE(IsFolderRefusedForEmptying(box.Path("home_link")));
}

TEST_F(RefusalTest, UnsetAndRelativeNamesAreRefused) {
  for (const char* folder : {"", "0", "0/", "/0/..", "temp", "./temp", "../temp", "~/tmp", " /tmp"})
    EXPECT_TRUE(IsFolderRefusedForEmptying(folder)) << '"' << folder << '"';
  EXPECT_FALSE(IsFolderRefusedForEmptying("/usr/local"));
  EXPECT_FALSE(IsFolderRefusedForEmptying("/var/tmp"));
}

class DeleteFilesRecursiveTest : public ::testing::Test {
 protected:
  std::string P(const std::string& rel) const { return box.Path(rel); }
  void File(const std::string& rel) { Sandbox::WriteFile(P(rel), "x"); }
  Sandbox box;
};

TEST_F(DeleteFilesRecursiveTest, DeletesFilesOnlyAndKeepsEveryFolder) {
  File("t/a");
  File("t/.b");
  File("t/sub/c");
  File("t/sub/deeper/d");
  Sandbox::MakeDirs(P("t/empty"));
  File("t/ro");
  ASSERT_EQ(chmod(P("t/ro").c_str(), 0444), 0);
  ASSERT_EQ(symlink(P("outside").c_str(), P("t/link").c_str()), 0);
  File("outside/keep");
  EXPECT_TRUE(DeleteFilesRecursive(P("t"), true));
  EXPECT_EQ(Listing(P("t")), (std::set<std::string>{"empty", "sub", "sub/deeper"}));
  EXPECT_TRUE(Sandbox::Exists(P("outside/keep")));
}

TEST_F(DeleteFilesRecursiveTest, WithoutRecursionOnlyTheTopFiles) {
  File("t/a");
  File("t/sub/c");
  EXPECT_TRUE(DeleteFilesRecursive(P("t"), false));
  EXPECT_EQ(Listing(P("t")), (std::set<std::string>{"sub", "sub/c"}));
}

TEST_F(DeleteFilesRecursiveTest, FolderThatCannotBeGotIsFalse) {
  File("plain");
  ASSERT_EQ(symlink(P("t").c_str(), P("link").c_str()), 0);
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
