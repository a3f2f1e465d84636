#include "platform/files.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/locations.h"
#include "tests/platform/fs_fixtures.h"
#include "tests/support/sandbox.h"

namespace tidrex::platform {
namespace {

using testing::Sandbox;
namespace fs = std::filesystem;

TEST(Wildcards, WindowsRules) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"*", ".hidden", true},   {"*.*", "noext", true}, {"*.*", ".bashrc", true},
      {"*.txt", "a.txt", true}, {"*.txt", "a.TXT", false},  // names compare exactly
      {"a?c", "abc", true},     {"a?c", "ac", false},   {"*b*", "abc", true},
      {"*b", "abc", false},     {"a**", "a", true},     {".*", ".profile", true},
      {".*", "profile", false}};
  for (const auto& [pattern, name, match] : cases) EXPECT_EQ(WildcardMatch(pattern, name), match) << pattern << " " << name;
}

class FilesTest : public testing::SandboxFixture<> {};

TEST_F(FilesTest, AnyEntryMatchesNeverFollowsLinks) {
  File("t/.dotfile");
  Link("/nonexistent/nowhere", "t/dangling");
  Dir("empty");
  EXPECT_TRUE(AnyEntryMatches(P("t/*")));
  EXPECT_TRUE(AnyEntryMatches(P("t/.d*")));
  EXPECT_TRUE(AnyEntryMatches(P("t/dangling"))) << "a dangling link exists";
  EXPECT_FALSE(AnyEntryMatches(P("t/*.txt")));
  EXPECT_FALSE(AnyEntryMatches(P("missing/*")));
  EXPECT_FALSE(AnyEntryMatches(P("empty/*"))) << "\".\" and \"..\" are no entries";
  EXPECT_FALSE(AnyEntryMatches("relative/path"));
}

TEST_F(FilesTest, ALinkInTheNamedPathIsFollowedOnlyWhenTheUserOrRootOwnsIt) {
  File("outside/keep", "keep");
  Link(P("outside"), "named-link");
  DeletePath(P("named-link"));
  EXPECT_FALSE(Exists("named-link")) << "a named link goes as a link";
  EXPECT_EQ(Sandbox::ReadFile(P("outside/keep")), "keep");
  File("real/d0/f");
  File("real/d1/f");
  Link(P("real"), "link");
  Link("./real/../real", "rel-link");
  DeletePath(P("link/d0"), 2);
  DeletePath(P("rel-link/*"), 2);
  EXPECT_EQ(testing::Listing(P("real")), std::set<std::string>{}) << "the user's own links are the user's words";
  NamedFolderError why = NamedFolderError::kNone;
  EXPECT_TRUE(OpenNamedFolder(P("link"), &why));
  EXPECT_EQ(why, NamedFolderError::kNone);
  EXPECT_FALSE(OpenNamedFolder(P("outside/keep"), &why));
  EXPECT_FALSE(OpenNamedFolder(P("missing/.."), &why));
  EXPECT_EQ(why, NamedFolderError::kMissing);
  if (geteuid() != 0) GTEST_SKIP() << "a link owned by another user can only be made by root";
  // Planted by somebody else, as in a shared sticky folder: never followed.
  File("victim/Documents/letter", "keep");
  Link(P("victim/Documents"), "planted");
  ASSERT_EQ(lchown(P("planted").c_str(), 4242, 4242), 0);
  EXPECT_FALSE(OpenNamedFolder(P("planted"), &why));
  EXPECT_EQ(why, NamedFolderError::kForeignLink);
  EXPECT_FALSE(OpenNamedFolder(P("planted/../victim"), &why)) << "not even to go up again";
  DeletePath(P("planted/*"));
  DeletePath(P("planted/letter"));
  EXPECT_EQ(Sandbox::ReadFile(P("victim/Documents/letter")), "keep");
}

TEST_F(FilesTest, DriveTypesFromTheMountTable) {
  File("mountinfo",
       "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
       "2 1 0:30 / /tmp rw - tmpfs tmpfs rw\n"
       "3 1 0:31 / /mnt/nas rw - nfs4 server:/x rw\n"
       "4 1 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n"
       "5 1 8:17 / /media/usb\\040stick rw shared:1 - vfat /dev/sdb1 rw\n");
  File("sys/dev/block/8:1/removable", "0\n");
  File("sys/dev/block/8:16/removable", "1\n");
  // A partition sits one folder below its disk.
  Dir("sys/dev/block/8:16/8:17");
  Link(P("sys/dev/block/8:16/8:17"), "sys/dev/block/8:17");
  SetMountTableForTesting(P("mountinfo"));
  SetSysfsRootForTesting(P("sys"));
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

// One thread (0: the default) and several keep the same promises.
class DeletePathTest : public testing::SandboxFixture<::testing::TestWithParam<unsigned>> {
 protected:
  std::size_t Delete(const std::string& path) const {
    return GetParam() == 0 ? DeletePath(path) : DeletePath(path, GetParam());
  }
  // Many folders on several levels, so that the threads really share the work.
  void Tree(const std::string& rel) {
    for (int a = 0; a < 6; ++a)
      for (int b = 0; b < 5; ++b)
        for (int f = 0; f < 4; ++f)
          File(rel + "/d" + std::to_string(a) + "/e" + std::to_string(b) + "/f" + std::to_string(f));
    File(rel + "/.dotfile");
    File(rel + "/ro_dir/ro_file");
    Dir(rel + "/empty");
    ASSERT_EQ(chmod(P(rel + "/ro_dir/ro_file").c_str(), 0444), 0);
  }
  void ExpectOutsideIntact() {
    EXPECT_EQ(Sandbox::ReadFile(P("outside/dir/keep")), "keep");
    EXPECT_EQ(Sandbox::ReadFile(P("outside/file")), "keep");
  }
  void SetUp() override {
    File("outside/dir/keep", "keep");
    File("outside/file", "keep");
  }
};

TEST_P(DeletePathTest, PatternEmptiesTheFolderAndLinksGoAsLinks) {
  Tree("t");
  Link(P("outside/dir"), "t/d1/e1/dirlink");
  Link(P("outside/file"), "t/filelink");
  Link(P("outside"), "t/toplink");
  Link(P("t/loop"), "t/loop");
  Link("../..", "t/d2/up");
  EXPECT_EQ(Delete(P("t/*.*")), 0u);
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(P("t"))));
  EXPECT_TRUE(fs::is_empty(P("t")));
  ExpectOutsideIntact();
}

TEST_P(DeletePathTest, PatternMatchesOnlyItsNamesAndANamedEntryGoesWhole) {
  File("t/a1/x");
  File("t/a2");
  File("t/b1/x");
  Tree("t/victim");
  EXPECT_EQ(Delete(P("t/a*")), 0u);
  EXPECT_FALSE(Exists("t/a1"));
  EXPECT_FALSE(Exists("t/a2"));
  EXPECT_TRUE(Exists("t/b1/x"));
  EXPECT_EQ(Delete(P("t/victim")), 0u);
  EXPECT_FALSE(Exists("t/victim"));
  EXPECT_EQ(Delete(P("t/b1/x")), 0u);
  EXPECT_FALSE(Exists("t/b1/x"));
  EXPECT_EQ(Delete(P("t/missing")), 0u);
  EXPECT_TRUE(Exists("t/b1"));
}

TEST_P(DeletePathTest, RootDotsAndRelativePathsAreNeverDeleted) {
  Dir("t");
  EXPECT_EQ(Delete("/"), 1u);
  EXPECT_EQ(Delete("///"), 1u);
  EXPECT_EQ(Delete("relative/*"), 0u);
  EXPECT_EQ(Delete(""), 0u);
  if (GetParam() == 0) { EXPECT_EQ(Delete(P("t/..")), 1u); }
  EXPECT_TRUE(Exists("t"));
}

TEST_P(DeletePathTest, MountPointsInsideAreLeftStandingWithTheirContents) {
  Tree("t");
  testing::ScratchMount scratch(P("t/d2/e2/mnt"));
  if (!scratch.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  File("t/d2/e2/mnt/keep", "keep");
  // A bind mount shares the device number of its source; it must be spotted all the same.
  Dir("t/d3/bind");
  const bool bound = ::mount(P("outside").c_str(), P("t/d3/bind").c_str(), nullptr, MS_BIND, nullptr) == 0;
  // Each mount point and the two folders above it remain.
  EXPECT_EQ(Delete(P("t/*")), bound ? 5u : 3u);
  if (bound) umount2(P("t/d3/bind").c_str(), MNT_DETACH);
  EXPECT_EQ(Sandbox::ReadFile(P("t/d2/e2/mnt/keep")), "keep");
  EXPECT_FALSE(Exists("t/d2/e1"));
  EXPECT_FALSE(Exists("t/d4"));
  ExpectOutsideIntact();
}

TEST_P(DeletePathTest, WhatPermissionForbidsIsLeftAndCountedAndReadOnlyFoldersOfOnesOwnGo) {
  Tree("t");
  File("t/d4/guarded/inner/file");
  File("t/d5/ro/sub/file");
  ASSERT_EQ(chmod(P("t/d5/ro/sub").c_str(), 0555), 0);
  ASSERT_EQ(chmod(P("t/d5/ro").c_str(), 0500), 0);
  ASSERT_TRUE(testing::GiveTreeToNobody(box.Root()));
  ASSERT_EQ(chmod(box.Root().c_str(), 0755), 0);
  // A folder its owner may not list: the deletion adds no read permission.
  ASSERT_EQ(chmod(P("t/d4/guarded/inner").c_str(), 0300), 0);
  const std::string pattern = P("t/*");
  int status = testing::RunUnprivileged([&] {
    // "inner" cannot be listed, so neither it nor "guarded" nor "d4" can go.
    return Delete(pattern) == 3u ? 0 : 1;
  });
  if (status == -1) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(status, 0);
  ASSERT_EQ(chmod(P("t/d4/guarded/inner").c_str(), 0700), 0);
  EXPECT_TRUE(Exists("t/d4/guarded/inner/file"));
  EXPECT_FALSE(Exists("t/d4/e0"));
  EXPECT_FALSE(Exists("t/d5"));
  if (geteuid() != 0) return;
  // Root's folder inside: never opened up for another user.
  File("t/d6/roots/file");
  ASSERT_TRUE(testing::GiveTreeToNobody(P("t")));
  ASSERT_EQ(lchown(P("t/d6/roots").c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(P("t/d6/roots").c_str(), 0555), 0);
  status = testing::RunUnprivileged([&] { return Delete(pattern) == 3u ? 0 : 1; });
  EXPECT_EQ(status, 0) << "file, roots and d6 stay";
  EXPECT_FALSE(Exists("t/d4"));
  struct stat st {};
  ASSERT_EQ(stat(P("t/d6/roots").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0555u);
}

// Another thread swaps a folder for a link to an outside folder, over and over, while the
// deletion runs: the outside folder must never lose anything.
TEST_P(DeletePathTest, FolderSwappedForALinkCannotRedirectTheDeletion) {
  for (int round = 0; round < 30 && !HasFailure(); ++round) {
    for (int i = 0; i < 30; ++i) File("t/d/f" + std::to_string(i));
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
      const std::string d = P("t/d"), real = P("t/d-real"), outside = P("outside");
      while (!stop) {
        if (rename(d.c_str(), real.c_str()) == 0) {
          (void)!symlink(outside.c_str(), d.c_str());
          unlink(d.c_str());
          rename(real.c_str(), d.c_str());
        }
      }
    });
    Delete(P("t/*.*"));
    stop = true;
    swapper.join();
    ExpectOutsideIntact();
    Delete(P("t/*.*"));
  }
}

INSTANTIATE_TEST_SUITE_P(Threads, DeletePathTest, ::testing::Values(0u, 1u, 2u, 4u));

}  // namespace
}  // namespace tidrex::platform
