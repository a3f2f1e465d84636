#include "platform/file_system_object.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/platform/fs_fixtures.h"

namespace tidrex::platform {
namespace {

using testing::Sandbox;

template <class Item>
std::vector<std::string> Names(const std::vector<Item>& items) {
  std::vector<std::string> out;
  for (const auto& f : items) out.push_back(f.Name());
  return out;
}

class FileSystemObjectTest : public testing::SandboxFixture<> {
 protected:
  FileSystemObject fso;
};

TEST(NormalizePathTextTest, CollapsesSlashesDotsAndDotDots) {
  const std::pair<const char*, const char*> cases[] = {
      {"/a//b/./c/../d/", "/a/b/d"}, {"/", "/"}, {"//", "/"}, {"/..", "/"}, {"/a/../..", "/"},
      {"/a/b/..", "/a"}, {"a/./b/", "a/b"}, {"../a", "../a"}, {"a/..", "."}, {"", ""}};
  for (const auto& [in, out] : cases) EXPECT_EQ(NormalizePathText(in), out) << in;
}

TEST_F(FileSystemObjectTest, GetFolderGivesNormalisedPathsOfRealFoldersOnly) {
  Dir("tree/sub");
  auto folder = fso.GetFolder(P("tree//./sub/../sub/"));
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->Name(), "sub");
  EXPECT_EQ(folder->Path(), P("tree/sub"));
  auto root = fso.GetFolder("/");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->Path(), "/");
  EXPECT_EQ(root->Name(), "");

  Dir("real/inner");
  File("plain");
  Link(P("real"), "link");
  EXPECT_FALSE(fso.GetFolder(P("missing")));
  EXPECT_FALSE(fso.GetFolder(P("plain")));
  EXPECT_FALSE(fso.GetFolder(P("link"))) << "a link to a folder is not that folder";
  EXPECT_FALSE(fso.GetFolder(P("link/inner"))) << "no component may be a link";
  EXPECT_FALSE(fso.GetFolder("relative/path"));
  EXPECT_FALSE(fso.GetFolder(""));
}

TEST_F(FileSystemObjectTest, CollectionsAreSortedAndSplitFilesFromFolders) {
  Dir("t/zeta");
  Dir("t/.hidden_dir");
  Dir("t/Alpha");
  File("t/b.txt");
  File("t/.profile");
  File("t/a*?.txt");
  File("t/a");
  File("t/outside/target.txt");
  Link(P("t/outside"), "t/dirlink");
  Link(P("t/outside/target.txt"), "t/filelink");
  Link(P("nowhere"), "t/dangling");
  ASSERT_EQ(mkfifo(P("t/pipe").c_str(), 0600), 0);

  auto folder = fso.GetFolder(P("t"));
  ASSERT_TRUE(folder);
  auto files = folder->Files();
  ASSERT_TRUE(files);
  EXPECT_EQ(Names(*files), (std::vector<std::string>{".profile", "a", "a*?.txt", "b.txt", "dangling",
                                                     "dirlink", "filelink", "pipe"}));
  EXPECT_EQ((*files)[3].Path(), P("t/b.txt"));
  auto folders = folder->SubFolders();
  ASSERT_TRUE(folders);
  EXPECT_EQ(Names(*folders), (std::vector<std::string>{".hidden_dir", "Alpha", "outside", "zeta"}));
  EXPECT_EQ((*folders)[1].Path(), P("t/Alpha"));
  auto inner = (*folders)[2].Files();
  ASSERT_TRUE(inner);
  EXPECT_EQ(Names(*inner), std::vector<std::string>{"target.txt"});
  // Wildcard characters in a name are taken literally.
  EXPECT_TRUE((*files)[2].Delete());
  EXPECT_FALSE(Exists("t/a*?.txt"));
  EXPECT_TRUE(Exists("t/a"));
}

TEST_F(FileSystemObjectTest, MountPointInsideIsNeitherFileNorFolderAndIsNotDeleted) {
  Dir("t/plain");
  testing::ScratchMount mount(P("t/mnt"));
  if (!mount.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  File("t/mnt/on_other_fs");
  auto folder = fso.GetFolder(P("t"));
  ASSERT_TRUE(folder);
  EXPECT_EQ(Names(*folder->SubFolders()), std::vector<std::string>{"plain"});
  EXPECT_TRUE(folder->Files()->empty());
  // The mounted folder itself can be named and listed: the rule is about what lies below.
  auto mounted = fso.GetFolder(P("t/mnt"));
  ASSERT_TRUE(mounted);
  EXPECT_EQ(Names(*mounted->Files()), std::vector<std::string>{"on_other_fs"});
  // Deleting leaves the mount point and what is on it.
  EXPECT_FALSE(fso.DeleteFolder(P("t")));
  EXPECT_FALSE(fso.DeleteFolder(P("t/mnt"))) << "the mount point itself";
  EXPECT_TRUE(Exists("t/mnt/on_other_fs"));
}

TEST_F(FileSystemObjectTest, FileDeleteStaysInTheFolderItWasListedIn) {
  File("t/sub/victim");
  File("outside/victim", "precious");
  auto folder = fso.GetFolder(P("t/sub"));
  ASSERT_TRUE(folder);
  auto files = folder->Files();
  ASSERT_TRUE(files && files->size() == 1);
  // The listed folder is moved away and a link to another folder takes its name.
  ASSERT_EQ(rename(P("t/sub").c_str(), P("t/moved").c_str()), 0);
  Link(P("outside"), "t/sub");
  EXPECT_TRUE((*files)[0].Delete());
  EXPECT_FALSE(Exists("t/moved/victim"));
  EXPECT_EQ(Sandbox::ReadFile(P("outside/victim")), "precious");
}

TEST_F(FileSystemObjectTest, SubfolderSwappedAfterListingIsNoLongerThere) {
  Dir("t/sub");
  File("outside/keep");
  auto folders = fso.GetFolder(P("t"))->SubFolders();
  ASSERT_TRUE(folders && folders->size() == 1);
  const FsoFolder& sub = (*folders)[0];
  EXPECT_TRUE(sub.StillThere());
  ASSERT_EQ(rmdir(P("t/sub").c_str()), 0);
  Link(P("outside"), "t/sub");
  EXPECT_FALSE(sub.StillThere());
  EXPECT_FALSE(sub.Files()) << "a link put in its place is not walked";
  EXPECT_FALSE(sub.SubFolders());
  // Another folder moved in under the same name is not the one that was listed.
  ASSERT_EQ(unlink(P("t/sub").c_str()), 0);
  ASSERT_EQ(rename(P("outside").c_str(), P("t/sub").c_str()), 0);
  EXPECT_FALSE(sub.StillThere());
}

TEST_F(FileSystemObjectTest, DeleteFolderRemovesATreeWithLinksAsLinks) {
  File("t/victim/a/b/c/deep.txt");
  File("t/victim/.dot");
  Dir("t/victim/empty");
  File("outside/dir/keep.txt", "keep");
  File("outside/file.txt", "keep");
  Link(P("outside/dir"), "t/victim/a/dirlink");
  Link(P("outside/file.txt"), "t/victim/filelink");
  EXPECT_TRUE(fso.DeleteFolder(P("t/victim")));
  EXPECT_FALSE(Exists("t/victim"));
  EXPECT_TRUE(Exists("t"));
  EXPECT_EQ(Sandbox::ReadFile(P("outside/dir/keep.txt")), "keep");
  EXPECT_EQ(Sandbox::ReadFile(P("outside/file.txt")), "keep");
}

TEST_F(FileSystemObjectTest, DeleteFolderRefusesLinksAndNamesThatAreNotOneFolder) {
  File("outside/keep.txt", "keep");
  File("t/abc/f");
  File("t/plain");
  Link(P("outside"), "t/link");
  Link(P("t"), "tlink");
  EXPECT_FALSE(fso.DeleteFolder(P("t/link")));
  EXPECT_FALSE(fso.DeleteFolder(P("t/link/")));
  EXPECT_FALSE(fso.DeleteFolder(P("tlink/abc"))) << "a link higher up the path";
  EXPECT_TRUE(Exists("t/link"));
  EXPECT_EQ(Sandbox::ReadFile(P("outside/keep.txt")), "keep");
  EXPECT_FALSE(fso.DeleteFolder(P("t/a*"))) << "no wildcard expansion";
  EXPECT_FALSE(fso.DeleteFolder(P("t/plain")));
  EXPECT_FALSE(fso.DeleteFolder(P("t/missing")));
  EXPECT_FALSE(fso.DeleteFolder("/"));
  EXPECT_FALSE(fso.DeleteFolder("t/abc"));
  EXPECT_TRUE(Exists("t/abc/f"));
  EXPECT_TRUE(Exists("t/plain"));
}

TEST_F(FileSystemObjectTest, ReadOnlyFileOrFolderIsNotForcedAndStopsTheDeletion) {
  File("t/victim/a_first");
  File("t/victim/b_readonly");
  File("t/victim/c_after");
  ASSERT_EQ(chmod(P("t/victim/b_readonly").c_str(), 0444), 0);
  EXPECT_FALSE(fso.DeleteFolder(P("t/victim")));
  EXPECT_FALSE(Exists("t/victim/a_first"));
  EXPECT_TRUE(Exists("t/victim/b_readonly"));
  EXPECT_TRUE(Exists("t/victim/c_after")) << "the deletion stops at the first failure";

  File("t/other/ro/inside");
  ASSERT_EQ(chmod(P("t/other/ro").c_str(), 0555), 0);
  EXPECT_FALSE(fso.DeleteFolder(P("t/other/ro")));
  EXPECT_FALSE(fso.DeleteFolder(P("t/other")));
  EXPECT_TRUE(Exists("t/other/ro/inside"));
}

TEST_F(FileSystemObjectTest, WithoutPermissionListingAndDeletingFail) {
  File("t/locked/secret");
  File("t/shut/inner/file");
  File("t/mine/file");
  ASSERT_TRUE(testing::GiveTreeToNobody(box.Root()));
  ASSERT_EQ(chmod(box.Root().c_str(), 0755), 0);
  // Root's own folder, which nobody else may change (only root can make one).
  const bool foreign = geteuid() == 0 && lchown(P("t/locked").c_str(), 0, 0) == 0;
  // One that even its owner may enter but not read.
  ASSERT_EQ(chmod(P("t/shut").c_str(), 0311), 0);
  const std::string locked = P("t/locked"), shut = P("t/shut"), mine = P("t/mine");
  int status = testing::RunUnprivileged([&] {
    FileSystemObject fso;
    if (foreign && fso.DeleteFolder(locked)) return 1;
    auto folder = fso.GetFolder(shut);
    if (!folder) return 2;  // may be got, as on Windows ...
    if (folder->Files()) return 3;  // ... but not listed
    if (fso.DeleteFolder(shut)) return 4;
    if (!fso.DeleteFolder(mine)) return 5;
    return 0;
  });
  if (status == -1) GTEST_SKIP() << "cannot drop privileges";
  ASSERT_EQ(status, 0);
  EXPECT_TRUE(Exists("t/locked/secret"));
  EXPECT_TRUE(Exists("t/shut/inner/file"));
  EXPECT_FALSE(Exists("t/mine"));
}

}  // namespace
}  // namespace tidrex::platform
