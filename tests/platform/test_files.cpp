#include "platform/files.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/locations.h"
#include "tests/support/sandbox.h"

namespace tidrex::platform {
namespace {

using testing::Sandbox;
namespace fs = std::filesystem;

TEST(Wildcards, WindowsRules) {
  EXPECT_TRUE(WildcardMatch("*", ".hidden"));
  EXPECT_TRUE(WildcardMatch("*.*", "noext"));
  EXPECT_TRUE(WildcardMatch("*.*", ".bashrc"));
  EXPECT_TRUE(WildcardMatch("*.txt", "a.txt"));
  EXPECT_FALSE(WildcardMatch("*.txt", "a.TXT")) << "names compare exactly";
  EXPECT_TRUE(WildcardMatch("a?c", "abc"));
  EXPECT_FALSE(WildcardMatch("a?c", "ac"));
  EXPECT_TRUE(WildcardMatch("*b*", "abc"));
  EXPECT_FALSE(WildcardMatch("*b", "abc"));
  EXPECT_TRUE(WildcardMatch("a**", "a"));
  EXPECT_TRUE(WildcardMatch(".*", ".profile"));
  EXPECT_FALSE(WildcardMatch(".*", "profile"));
}

class FilesTest : public ::testing::Test {
 protected:
  Sandbox box;
  std::string target = box.Path("target");
  std::string outside = box.Path("outside");
  void SetUp() override {
    Sandbox::MakeDirs(target);
    Sandbox::WriteFile(outside + "/precious.txt", "keep");
    Sandbox::WriteFile(outside + "/sub/deeper.txt", "keep");
  }
  void ExpectOutsideIntact() {
    EXPECT_EQ(Sandbox::ReadFile(outside + "/precious.txt"), "keep");
    EXPECT_EQ(Sandbox::ReadFile(outside + "/sub/deeper.txt"), "keep");
  }
  static size_t Count(const std::string& dir) {
    size_t n = 0;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) ++n;
    return n;
  }
};

TEST_F(FilesTest, AnyEntryMatchesNeverFollowsLinks) {
  Sandbox::WriteFile(target + "/.dotfile", "");
  symlink("/nonexistent/nowhere", (target + "/dangling").c_str());
  EXPECT_TRUE(AnyEntryMatches(target + "/*"));
  EXPECT_TRUE(AnyEntryMatches(target + "/.d*"));
  EXPECT_TRUE(AnyEntryMatches(target + "/dangling")) << "a dangling link exists";
  EXPECT_FALSE(AnyEntryMatches(target + "/*.txt"));
  EXPECT_FALSE(AnyEntryMatches(box.Path("empty-missing/*")));
  Sandbox::MakeDirs(box.Path("empty"));
  EXPECT_FALSE(AnyEntryMatches(box.Path("empty/*"))) << "\".\" and \"..\" are no entries";
  EXPECT_FALSE(AnyEntryMatches("relative/path"));
}

TEST_F(FilesTest, DeletesTreeWithPatternAndKeepsTheFolder) {
  Sandbox::WriteFile(target + "/a.txt", "");
  Sandbox::WriteFile(target + "/.hidden", "");
  Sandbox::WriteFile(target + "/d/e/f/g.bin", "");
  Sandbox::MakeDirs(target + "/empty");
  EXPECT_EQ(DeletePath(target + "/*.*"), 0u);
  EXPECT_TRUE(fs::is_directory(target));
  EXPECT_TRUE(fs::is_empty(target));
}

TEST_F(FilesTest, PatternDeletesOnlyMatchingEntries) {
  Sandbox::WriteFile(target + "/a.log", "");
  Sandbox::WriteFile(target + "/b.txt", "");
  DeletePath(target + "/*.log");
  EXPECT_FALSE(Sandbox::Exists(target + "/a.log"));
  EXPECT_TRUE(Sandbox::Exists(target + "/b.txt"));
}

TEST_F(FilesTest, LinksAreRemovedAsLinksAndTargetsStay) {
  symlink((outside + "/precious.txt").c_str(), (target + "/file-link").c_str());
  symlink(outside.c_str(), (target + "/dir-link").c_str());
  Sandbox::MakeDirs(target + "/nested");
  symlink(outside.c_str(), (target + "/nested/dir-link").c_str());
  symlink((target + "/loop").c_str(), (target + "/loop").c_str());
  symlink("../..", (target + "/nested/up").c_str());
  DeletePath(target + "/*.*");
  EXPECT_TRUE(fs::is_empty(target));
  ExpectOutsideIntact();
  DeletePath(box.Path("link-to-outside"));  // nonexistent: quiet
  ExpectOutsideIntact();
}

TEST_F(FilesTest, DeletingALinkByNameRemovesOnlyTheLink) {
  std::string link = box.Path("named-link");
  symlink(outside.c_str(), link.c_str());
  DeletePath(link);
  EXPECT_FALSE(Sandbox::Exists(link));
  ExpectOutsideIntact();
}

TEST_F(FilesTest, RootAndDotsAreNeverDeleted) {
  EXPECT_EQ(DeletePath("/"), 1u);
  EXPECT_EQ(DeletePath("///"), 1u);
  EXPECT_EQ(DeletePath(target + "/.."), 1u);
  EXPECT_EQ(DeletePath("relative"), 0u);
  EXPECT_TRUE(fs::exists(target));
}

TEST_F(FilesTest, MountPointInsideIsLeftStandingWithItsContents) {
  std::string mnt = target + "/mnt";
  Sandbox::MakeDirs(mnt);
  if (mount("tidrex-test", mnt.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  Sandbox::WriteFile(mnt + "/on-other-fs.txt", "keep");
  Sandbox::WriteFile(target + "/plain.txt", "");
  // A bind mount shares the device number of its source; it must be spotted all the same.
  std::string bind = target + "/bind";
  Sandbox::MakeDirs(bind);
  bool bound = mount(outside.c_str(), bind.c_str(), nullptr, MS_BIND, nullptr) == 0;
  size_t left = DeletePath(target + "/*.*");
  EXPECT_EQ(Sandbox::ReadFile(mnt + "/on-other-fs.txt"), "keep");
  EXPECT_FALSE(Sandbox::Exists(target + "/plain.txt"));
  EXPECT_GE(left, 1u);
  if (bound) umount2(bind.c_str(), MNT_DETACH);
  umount2(mnt.c_str(), MNT_DETACH);
  ExpectOutsideIntact();
}

// Another process swaps a folder for a link to an outside folder, over and over, while
// the deletion runs: the outside folder must never lose anything.
TEST_F(FilesTest, FolderSwappedForALinkCannotRedirectTheDeletion) {
  for (int round = 0; round < 40; ++round) {
    for (int i = 0; i < 30; ++i) Sandbox::WriteFile(target + "/d/f" + std::to_string(i), "");
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
      std::string d = target + "/d", real = target + "/d-real";
      while (!stop) {
        if (rename(d.c_str(), real.c_str()) == 0) {
          symlink(outside.c_str(), d.c_str());
          unlink(d.c_str());
          rename(real.c_str(), d.c_str());
        }
      }
    });
    DeletePath(target + "/*.*");
    stop = true;
    swapper.join();
    ExpectOutsideIntact();
    ASSERT_EQ(Sandbox::ReadFile(outside + "/precious.txt"), "keep") << "round " << round;
    DeletePath(target + "/*.*");
  }
}

// Root may delete anything, so permission failures are seen from an ordinary user.
TEST_F(FilesTest, WhatCannotBeDeletedIsLeftAndTheRestGoes) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand the tree to another user";
  Sandbox::WriteFile(target + "/locked/inside.txt", "");
  Sandbox::WriteFile(target + "/free/file.txt", "");
  Sandbox::WriteFile(target + "/top.txt", "");
  for (auto& e : fs::recursive_directory_iterator(box.Root())) lchown(e.path().c_str(), 65534, 65534);
  lchown(box.Root().c_str(), 65534, 65534);
  chmod((target + "/locked").c_str(), 0555);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
    _exit(static_cast<int>(std::min<size_t>(DeletePath(target + "/*.*"), 99)));
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2) << "the file in the locked folder and that folder are left";
  EXPECT_TRUE(Sandbox::Exists(target + "/locked/inside.txt"));
  EXPECT_FALSE(Sandbox::Exists(target + "/free"));
  EXPECT_FALSE(Sandbox::Exists(target + "/top.txt"));
}

TEST_F(FilesTest, DriveTypesFromTheMountTable) {
  std::string table = box.Path("mountinfo");
  Sandbox::WriteFile(table,
                     "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                     "2 1 0:30 / /tmp rw - tmpfs tmpfs rw\n"
                     "3 1 0:31 / /mnt/nas rw - nfs4 server:/x rw\n"
                     "4 1 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n"
                     "5 1 8:17 / /media/usb\\040stick rw shared:1 - vfat /dev/sdb1 rw\n");
  Sandbox::WriteFile(box.Path("sys/dev/block/8:1/removable"), "0\n");
  Sandbox::WriteFile(box.Path("sys/dev/block/8:16/removable"), "1\n");
  // A partition sits one folder below its disk.
  Sandbox::MakeDirs(box.Path("sys/dev/block/8:16/8:17"));
  symlink(box.Path("sys/dev/block/8:16/8:17").c_str(), box.Path("sys/dev/block/8:17").c_str());
  SetMountTableForTesting(table);
  SetSysfsRootForTesting(box.Path("sys"));
  EXPECT_EQ(DriveTypeOfPath("/home/user"), 3);
  EXPECT_EQ(DriveTypeOfPath("/tmp/x"), 6);
  EXPECT_EQ(DriveTypeOfPath("/tmpfoo"), 3) << "a prefix is not a parent";
  EXPECT_EQ(DriveTypeOfPath("/mnt/nas/share"), 4);
  EXPECT_EQ(DriveTypeOfPath("/media/cd"), 5);
  EXPECT_EQ(DriveTypeOfPath("/media/usb stick/f"), 2);
  EXPECT_EQ(DriveTypeOfPath("relative"), 1);
  auto mounts = ListMounts();
  ASSERT_EQ(mounts.size(), 5u);
  EXPECT_EQ(mounts[4].mount_point, "/media/usb stick");
  EXPECT_EQ(mounts[4].fs_type, "vfat");
}

}  // namespace
}  // namespace tidrex::platform
