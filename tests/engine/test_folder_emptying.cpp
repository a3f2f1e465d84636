#include "engine/folder_emptying.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>

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

TEST_P(FolderEmptyingTest, WhatPermissionForbidsStaysAndReadOnlyFoldersOfTheUsersOwnGo) {
  Tree("work");
  // Read-only trees of one's own, as a module cache or an unpacked archive leaves them.
  File("work/modcache/pkg@v1/sub/file.go");
  File("work/modcache/pkg@v1/README");
  for (const char* rel : {"work/modcache/pkg@v1/sub", "work/modcache/pkg@v1", "work/modcache"})
    ASSERT_EQ(chmod(P(rel).c_str(), 0555), 0);
  File("work/guarded/locked/file");
  File("work/guarded/free");
  File("work/shut/hidden");
  File("work/z_last/file");
  Name(P("work"));
  ASSERT_TRUE(testing::GiveTreeToNobody(box.Root()));
  ASSERT_EQ(chmod(box.Root().c_str(), 0755), 0);
  // A folder nobody may list, not even its owner: the walk adds no read permission.
  ASSERT_EQ(chmod(P("work/shut").c_str(), 0000), 0);
  // Root's folder that the user may not change: its mode is never touched.
  const bool foreign = geteuid() == 0 && lchown(P("work/guarded/locked").c_str(), 0, 0) == 0 &&
                       chmod(P("work/guarded/locked").c_str(), 0555) == 0;
  const Step step = GetParam();
  int status = testing::RunUnprivileged([step] {
    if (step == Step::kTemp) EmptyTempFolder();
    else EmptyUserFolder();
    return 0;
  });
  if (status == -1) GTEST_SKIP() << "cannot drop privileges";
  ASSERT_EQ(status, 0);
  ASSERT_EQ(chmod(P("work/shut").c_str(), 0700), 0);
  std::set<std::string> left{"shut", "shut/hidden"};
  if (foreign) left.insert({"guarded", "guarded/locked", "guarded/locked/file"});
  EXPECT_EQ(Listing(P("work")), left);
  if (foreign) {
    struct stat st {};
    ASSERT_EQ(stat(P("work/guarded/locked").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0555u);
  }
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
  if (GetParam() == Step::kTemp) { EXPECT_EQ(Sandbox::ReadFile(ConfigFilePath()), before); }
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
  EXPECT_FALSE(IsFolderRefusedForEmptying("/var/tmp"));
  EXPECT_FALSE(IsFolderRefusedForEmptying("/var/tmp/not-made-yet"));
  EXPECT_TRUE(IsFolderRefusedForEmptying("/usr/local/not-made-yet")) << "judged by its name";
  // Where /bin is a link (merged /usr), the folder it stands for is as vital.
  char buffer[PATH_MAX];
  if (realpath("/bin", buffer) && std::string(buffer) != "/bin") { EXPECT_TRUE(IsFolderRefusedForEmptying(buffer)); }
}

// A sandbox stands in for the system tree: every folder below it is really tried, and
// nothing of it may go.
TEST_F(RefusalTest, TheWholeSystemTreeAndOtherPeoplesHomesAreRefusedWhereverTheyAreNamedFrom) {
  const std::string uid = std::to_string(geteuid());
  const std::vector<std::string> refused = {
      "usr/local", "usr/share/doc", "etc/ssh", "var", "var/lib", "var/log", "boot/efi", "dev/shm",
      "opt/tool", "srv/www", "snap/core", "bin", "sbin", "lib", "lib64", "libexec", "root/junk",
      "run", "run/lock", "run/user", "run/user/4242", "home", "home/alice", "home/alice/Downloads",
      "elsewhere/people/bob", "elsewhere/people/bob/cache", "elsewhere/people"};
  const std::vector<std::string> allowed = {"var/tmp", "var/tmp/mine", "run/user/" + uid,
                                            "run/user/" + uid + "/cache", "tmp", "tmp/mine",
                                            "home/me/Downloads"};
  for (const auto& rel : refused) File("sys/" + rel + "/keep", "keep");
  for (const auto& rel : allowed) File("sys/" + rel + "/junk");
  platform::SetSystemRootForTesting(P("sys"));
  box.SetEnv("HOME", P("sys/home/me"));
  // Homes that are the root or a shared temporary folder belong to nobody in particular.
  File("passwd", "me:x:" + uid + ":" + uid + "::" + P("sys/home/me") + ":/bin/sh\n" +
                     "bob:x:4343:4343:Bob:" + P("sys/elsewhere/people/bob") + ":/bin/sh\n" +
                     "daemon:x:1:1::/:/usr/sbin/nologin\nsvc:x:4444:4444::" + P("sys/tmp") + ":\n");
  platform::SetPasswordFileForTesting(P("passwd"));
  Link(P("sys/usr/local"), "to_local");
  Link(P("sys/home/alice"), "sys/tmp/mine/alice");
  for (const std::string& folder : {P("to_local"), P("sys/tmp/mine/alice"), P("sys/var/tmp/../lib")}) {
    EXPECT_TRUE(EmptyFolder(folder).refused) << folder;
  }
  for (const auto& rel : refused) {
    EXPECT_TRUE(EmptyFolder(P("sys/" + rel)).refused) << rel;
    EXPECT_TRUE(IsFolderRefusedForEmptying(P("sys/" + rel))) << rel;
  }
  for (const auto& rel : refused) EXPECT_EQ(Sandbox::ReadFile(P("sys/" + rel + "/keep")), "keep") << rel;
  for (const auto& rel : allowed) {
    EXPECT_FALSE(IsFolderRefusedForEmptying(P("sys/" + rel))) << rel;
    File("sys/" + rel + "/junk");
    EmptyingReport report = EmptyFolder(P("sys/" + rel));
    EXPECT_TRUE(report.found && !report.refused) << rel;
    EXPECT_FALSE(Exists("sys/" + rel + "/junk")) << rel;
  }
  if (geteuid() != 0) GTEST_SKIP() << "folders of another user can only be made by root";
  // Somebody else's folder is refused even in the shared temporary folder, which itself
  // may belong to somebody else.
  File("sys/tmp/theirs/file", "keep");
  ASSERT_EQ(chown(P("sys/tmp/theirs").c_str(), 4242, 4242), 0);
  ASSERT_EQ(chown(P("sys/tmp").c_str(), 4242, 4242), 0);
  EXPECT_TRUE(EmptyFolder(P("sys/tmp/theirs")).refused);
  EXPECT_EQ(Sandbox::ReadFile(P("sys/tmp/theirs/file")), "keep");
  EXPECT_FALSE(EmptyFolder(P("sys/tmp")).refused);
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

// What a clean does when the named folder is long, raced or planted.
class NamedFolderTest : public testing::SandboxFixture<> {
 protected:
  // A folder below the sandbox whose path is exactly `length` characters.
  std::string PathOfLength(std::size_t length, char fill) const {
    return box.Root() + "/" + std::string(length - box.Root().size() - 1, fill);
  }
};

TEST_F(NamedFolderTest, AUserFolderLongerThanAReadIsNeverEmptiedNorWhatItsCutNames) {
  for (std::size_t length : {255u, 258u, 280u, 300u}) {
    // The cut names the parent, or a sibling whose name is a prefix of the named one's.
    const std::string parent = PathOfLength(254, 'p');
    const std::string sibling_parent = PathOfLength(254 - 5, 'q');
    for (const std::string& named : {parent + "/" + std::string(length - 255, 'j') + "x",
                                     sibling_parent + "/junk" + std::string(length - 254, 'y')}) {
      ASSERT_EQ(named.size(), length + (named.rfind(parent, 0) == 0 ? 1 : 0));
      Sandbox::WriteFile(named + "/junk.tmp", "named");
      Sandbox::WriteFile(parent + "/document.odt", "keep");
      Sandbox::WriteFile(sibling_parent + "/junk/photo.jpg", "keep");
      WriteIniValue(ConfigFilePath(), "User", "sFile0", named);
      ASSERT_EQ(ReadIniValue(ConfigFilePath(), "User", "sFile0").size(), 254u);
      EmptyUserFolder();
      EXPECT_EQ(Sandbox::ReadFile(parent + "/document.odt"), "keep") << named.size();
      EXPECT_EQ(Sandbox::ReadFile(sibling_parent + "/junk/photo.jpg"), "keep") << named.size();
      EXPECT_EQ(Sandbox::ReadFile(named + "/junk.tmp"), "named") << "unset, so left alone";
    }
  }
  // 254 characters are cleaned as ever.
  const std::string fits = PathOfLength(254, 'f');
  Sandbox::WriteFile(fits + "/old.tmp", "x");
  WriteIniValue(ConfigFilePath(), "User", "sFile0", fits);
  EmptyUserFolder();
  EXPECT_EQ(Listing(fits), std::set<std::string>{});
}

// Another thread points the named link now at a folder that may be emptied, now at home,
// while the clean runs: home must never lose anything.
TEST_F(NamedFolderTest, ANamedLinkFlippedToHomeDuringTheRunNeverEmptiesHome) {
  File("home/Documents/letter", "keep");
  File("home/.config/app/settings", "keep");
  Link(P("permitted"), "named");
  box.SetEnv("Temp", P("named"));
  std::atomic<bool> stop{false};
  std::thread flipper([&] {
    const std::string named = P("named"), next = P("named.next");
    for (bool home = true; !stop; home = !home) {
      unlink(next.c_str());
      if (symlink((home ? box.Home() : P("permitted")).c_str(), next.c_str()) == 0) rename(next.c_str(), named.c_str());
    }
  });
  for (int round = 0; round < 300 && !HasFailure(); ++round) {
    for (int i = 0; i < 5; ++i) File("permitted/sub" + std::to_string(i) + "/f");
    EmptyTempFolder();
    EXPECT_EQ(Sandbox::ReadFile(P("home/Documents/letter")), "keep") << round;
    EXPECT_EQ(Sandbox::ReadFile(P("home/.config/app/settings")), "keep") << round;
  }
  stop = true;
  flipper.join();
}

TEST_F(NamedFolderTest, ALinkPlantedByAnotherUserInTheNamedPathIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "a link owned by another user can only be made by root";
  File("home/Documents/letter", "keep");
  Dir("shared");
  ASSERT_EQ(chmod(P("shared").c_str(), 01777), 0);
  Link(P("home/Documents"), "shared/cache");
  ASSERT_EQ(lchown(P("shared/cache").c_str(), 4242, 4242), 0);
  box.SetEnv("Temp", P("shared/cache"));
  EXPECT_TRUE(EmptyFolder(P("shared/cache")).refused);
  EXPECT_TRUE(IsFolderRefusedForEmptying(P("shared/cache")));
  EmptyTempFolder();
  EXPECT_EQ(Sandbox::ReadFile(P("home/Documents/letter")), "keep");
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Far deeper than any path can name and than the open-file limit allows descriptors.
TEST_F(NamedFolderTest, ATreeDeeperThanTheOpenFileLimitIsEmptiedWithFewDescriptorsAndLittleMemory) {
  constexpr int kDepth = 20000;
  int fd = open(box.TempDir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (int level = 0; level < kDepth && fd >= 0; ++level) {
    if (level % 1000 == 0) close(openat(fd, "file", O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    ASSERT_EQ(mkdirat(fd, "d", 0700), 0) << level;
    int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = next;
  }
  ASSERT_GE(fd, 0);
  close(fd);
  box.SetEnv("Temp", box.TempDir());
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit few{64, 64};
    rusage before {}, after {};
    if (setrlimit(RLIMIT_NOFILE, &few) != 0 || getrusage(RUSAGE_SELF, &before) != 0) _exit(3);
    EmptyTempFolder();
    getrusage(RUSAGE_SELF, &after);
    // Kilobytes; a walk that keeps every level's path would need hundreds of megabytes.
    // AddressSanitizer holds freed memory back in quarantine, so there the figure says nothing.
    const long grown = after.ru_maxrss - before.ru_maxrss;
    std::fprintf(stderr, "peak memory grew by %ld KiB\n", grown);
    _exit(grown < 64 * 1024 || kSanitized ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: too much memory";
  EXPECT_TRUE(fs::is_empty(box.TempDir())) << "every level, with 64 descriptors";
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
  // Not even its owner may list it.
  ASSERT_EQ(chmod(P("t/b_shut").c_str(), 0300), 0);
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
