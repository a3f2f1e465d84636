#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/files.h"
#include "tests/platform/fs_fixtures.h"
#include "tests/support/sandbox.h"

namespace tidrex::platform {
namespace {

using testing::Sandbox;

class DeletePathParallelTest : public ::testing::TestWithParam<unsigned> {
 protected:
  std::string P(const std::string& rel) const { return box.Path(rel); }
  void File(const std::string& rel, const std::string& content = "x") { Sandbox::WriteFile(P(rel), content); }
  bool Exists(const std::string& rel) const { return Sandbox::Exists(P(rel)); }

  // Many folders on several levels, so that the threads really share the work.
  void Tree(const std::string& rel) {
    for (int a = 0; a < 6; ++a)
      for (int b = 0; b < 5; ++b)
        for (int f = 0; f < 4; ++f)
          File(rel + "/d" + std::to_string(a) + "/e" + std::to_string(b) + "/f" + std::to_string(f));
    File(rel + "/.dotfile");
    File(rel + "/top.txt");
  }

  Sandbox box;
};

TEST_P(DeletePathParallelTest, PatternEmptiesTheFolderAndKeepsIt) {
  Tree("t");
  File("t/ro_dir/ro_file");
  ASSERT_EQ(chmod(P("t/ro_dir/ro_file").c_str(), 0444), 0);
  EXPECT_EQ(DeletePathParallel(P("t/*.*"), GetParam()), 0u);
  struct stat st;
  ASSERT_EQ(lstat(P("t").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_FALSE(Exists("t/d0"));
  EXPECT_FALSE(Exists("t/.dotfile"));
  EXPECT_FALSE(Exists("t/ro_dir"));
}

TEST_P(DeletePathParallelTest, NamedFolderGoesWithEverythingInIt) {
  Tree("t/victim");
  File("t/sibling");
  EXPECT_EQ(DeletePathParallel(P("t/victim"), GetParam()), 0u);
  EXPECT_FALSE(Exists("t/victim"));
  EXPECT_TRUE(Exists("t/sibling"));
  File("t/one_file");
  EXPECT_EQ(DeletePathParallel(P("t/one_file"), GetParam()), 0u);
  EXPECT_FALSE(Exists("t/one_file"));
  EXPECT_EQ(DeletePathParallel(P("t/missing"), GetParam()), 0u);
}

TEST_P(DeletePathParallelTest, PatternMatchesOnlyItsNames) {
  File("t/a1/x");
  File("t/a2");
  File("t/b1/x");
  EXPECT_EQ(DeletePathParallel(P("t/a*"), GetParam()), 0u);
  EXPECT_FALSE(Exists("t/a1"));
  EXPECT_FALSE(Exists("t/a2"));
  EXPECT_TRUE(Exists("t/b1/x"));
}

TEST_P(DeletePathParallelTest, LinksGoAsLinksAndTheirTargetsStay) {
  Tree("t");
  File("outside/dir/keep", "keep");
  File("outside/file", "keep");
  ASSERT_EQ(symlink(P("outside/dir").c_str(), P("t/d1/e1/dirlink").c_str()), 0);
  ASSERT_EQ(symlink(P("outside/file").c_str(), P("t/filelink").c_str()), 0);
  ASSERT_EQ(symlink(P("outside").c_str(), P("t/toplink").c_str()), 0);
  EXPECT_EQ(DeletePathParallel(P("t/*"), GetParam()), 0u);
  EXPECT_FALSE(Exists("t/toplink"));
  EXPECT_FALSE(Exists("t/d1"));
  EXPECT_EQ(Sandbox::ReadFile(P("outside/dir/keep")), "keep");
  EXPECT_EQ(Sandbox::ReadFile(P("outside/file")), "keep");
}

TEST_P(DeletePathParallelTest, NoComponentOfTheNamedPathMayBeALink) {
  Tree("real");
  ASSERT_EQ(symlink(P("real").c_str(), P("link").c_str()), 0);
  DeletePathParallel(P("link/*"), GetParam());
  EXPECT_TRUE(Exists("real/d0/e0/f0"));
  EXPECT_TRUE(Exists("real/top.txt"));
  DeletePathParallel(P("link/d0"), GetParam());
  EXPECT_TRUE(Exists("real/d0/e0/f0"));
}

TEST_P(DeletePathParallelTest, RootAndRelativePathsAreNeverDeleted) {
  EXPECT_EQ(DeletePathParallel("/", GetParam()), 1u);
  EXPECT_EQ(DeletePathParallel("relative/*", GetParam()), 0u);
  EXPECT_EQ(DeletePathParallel("", GetParam()), 0u);
}

TEST_P(DeletePathParallelTest, MountPointInsideIsLeftStanding) {
  Tree("t");
  testing::ScratchMount mount(P("t/d2/e2/mnt"));
  if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  File("t/d2/e2/mnt/keep", "keep");
  // The mount point and the two folders above it remain.
  EXPECT_EQ(DeletePathParallel(P("t/*"), GetParam()), 3u);
  EXPECT_EQ(Sandbox::ReadFile(P("t/d2/e2/mnt/keep")), "keep");
  EXPECT_FALSE(Exists("t/d2/e1"));
  EXPECT_FALSE(Exists("t/d3"));
}

TEST_P(DeletePathParallelTest, WhatPermissionForbidsIsLeftAndCounted) {
  Tree("t");
  File("t/d4/guarded/inner/file");
  ASSERT_TRUE(testing::GiveTreeToNobody(box.Root()));
  ASSERT_EQ(chmod(box.Root().c_str(), 0755), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(lchown(P("t/d4/guarded/inner").c_str(), 0, 0), 0);
  }
  const std::string pattern = P("t/*");
  const unsigned threads = GetParam();
  int status = testing::RunUnprivileged([&] {
    // "file" and "inner" cannot go, so neither can "guarded" and "d4".
    return DeletePathParallel(pattern, threads) == 4u ? 0 : 1;
  });
  if (status == -1) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(Exists("t/d4/guarded/inner/file"));
  EXPECT_FALSE(Exists("t/d4/e0"));
  EXPECT_FALSE(Exists("t/d5"));
}

INSTANTIATE_TEST_SUITE_P(Threads, DeletePathParallelTest, ::testing::Values(1u, 2u, 4u));

}  // namespace
}  // namespace tidrex::platform
