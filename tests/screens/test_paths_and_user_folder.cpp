// The paths page's rows and the user folder page: browsing, the open folder that "Save"
// stores, refused folders, folders and drives that are gone, and the return from help.
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QTest>

#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/ini_settings.h"
#include "engine/path_helpers.h"
#include "platform/locations.h"
#include "platform/shell_folders.h"
#include "screens/frm_path.h"
#include "screens/frm_user.h"
#include "tests/screens/screens_fixture.h"

namespace tidrex::screens_testing {
namespace {

using ::testing::ElementsAre;
using testing::Sandbox;

// The entries of a list control, or the row of one of them (-1 when absent).
template <class List>
std::vector<std::string> Entries(const List& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.ListCount(); ++i) out.push_back(list.List(i));
  return out;
}
template <class List>
int EntryOf(const List& list, const std::string& text) {
  const std::vector<std::string> all = Entries(list);
  auto it = std::find(all.begin(), all.end(), text);
  return it == all.end() ? -1 : int(it - all.begin());
}

class PathsTest : public ScreensTest {
 protected:
  screens::FrmPath& OpenPaths() {
    OpenScreens();
    Click("Form1", "sPath");
    return *screens::FrmPathSlot().Loaded();
  }
  std::vector<std::string> SystemRows() const {
    return {engine::GetFolderPath(platform::kCsidlInternetCache), engine::GetFolderPath(platform::kCsidlCookies),
            sandbox_.TempDir()};
  }
};

TEST_F(PathsTest, ThreeRowsWithoutAUserFolder) {
  for (const char* ini : {"", "[User]\r\nsFile0=0\r\n", "[User]\r\nsFile0=\r\n"}) {
    SCOPED_TRACE(ini);
    WriteIni(ini);
    screens::FrmPath& page = OpenPaths();
    EXPECT_EQ(page.List1.Items(), SystemRows());
    EXPECT_FALSE(SystemRows()[0].empty());
    EXPECT_FALSE(SystemRows()[1].empty());
    forms::testing::UnloadEverything();
  }
  // An unset Temp leaves an empty row in its place.
  sandbox_.SetEnv("Temp", std::nullopt);
  EXPECT_THAT(OpenPaths().List1.Items(), ElementsAre(SystemRows()[0], SystemRows()[1], ""));
}

TEST_F(PathsTest, FourthRowNamesTheStoredFolderEvenWhenItIsGone) {
  WriteIni("[User]\r\nsFile0=/nowhere/old files\r\n");
  screens::FrmPath& page = OpenPaths();
  std::vector<std::string> expected = SystemRows();
  expected.push_back("/nowhere/old files \"Your file!\"");
  EXPECT_EQ(page.List1.Items(), expected);
}

// ---------------------------------------------------------------------------------------

class UserFolderTest : public ScreensTest {
 protected:
  UserFolderTest() {
    data_ = sandbox_.Path("data");
    docs_ = data_ + "/docs";
    Sandbox::WriteFile(docs_ + "/b.txt", "b");
    Sandbox::WriteFile(docs_ + "/a.txt", "a");
    Sandbox::WriteFile(docs_ + "/.hidden", "h");
    Sandbox::MakeDirs(docs_ + "/sub1");
    Sandbox::MakeDirs(data_ + "/music");
    char buf[4096];
    old_cwd_ = getcwd(buf, sizeof buf) ? buf : "/";
    EXPECT_EQ(chdir(data_.c_str()), 0);  // the program's current folder
  }
  ~UserFolderTest() override { (void)chdir(old_cwd_.c_str()); }

  screens::FrmUser& OpenUserFolder() {
    OpenScreens();
    Click("Form1", "sCookies");
    return *screens::FrmUserSlot().Loaded();
  }
  std::string Stored() const { return engine::ReadIniValue(sandbox_.IniPath(), "User", "sFile0", "<missing>"); }

  std::string data_, docs_, old_cwd_;
};

TEST_F(UserFolderTest, StartsAtTheCurrentFolderAndAsksForOne) {
  screens::FrmUser& page = OpenUserFolder();
  EXPECT_EQ(page.Dir1.Path(), data_);
  EXPECT_THAT(Entries(page.File1), ElementsAre());
}

TEST_F(UserFolderTest, SaveStoresTheOpenFolderNotTheHighlightedOne) {
  screens::FrmUser& page = OpenUserFolder();
  ASSERT_TRUE(forms::testing::DoubleClickDirEntry(page.Dir1, EntryOf(page.Dir1, docs_)));
  EXPECT_EQ(page.Dir1.Path(), docs_);
  EXPECT_THAT(Entries(page.File1), ElementsAre("a.txt", "b.txt"));

  const int sub = EntryOf(page.Dir1, docs_ + "/sub1");
  ASSERT_GE(sub, 0);
  ASSERT_TRUE(forms::testing::ClickDirEntry(page.Dir1, sub));
  EXPECT_EQ(page.Dir1.ListIndex(), sub);
  EXPECT_EQ(page.Dir1.Path(), docs_) << "a single click only highlights";
  EXPECT_THAT(Entries(page.File1), ElementsAre("a.txt", "b.txt"));

  Click("frmUser", "sSave");
  EXPECT_EQ(Stored(), docs_);
  EXPECT_EQ(StatusLine(), "This is the folder you have selected!");
  EXPECT_TRUE(page.Visible()) << "Save leaves the page open";
  EXPECT_TRUE(messages_.empty());

  // The paths page shows it as its last row next time.
  Click("frmUser", "sView");
  screens::FrmPath* paths = screens::FrmPathSlot().Loaded();
  ASSERT_NE(paths, nullptr);
  ASSERT_EQ(paths->List1.ListCount(), 4);
  EXPECT_EQ(paths->List1.List(3), docs_ + " \"Your file!\"");
}

TEST_F(UserFolderTest, AFolderTheCleanRefusesIsNotStoredAndTheUserIsTold) {
  WriteIni("[User]\r\nsFile0=" + docs_ + "\r\n");
  screens::FrmUser& page = OpenUserFolder();
  // The sandbox's root holds the application folder; emptying it would remove the program.
  const int root = EntryOf(page.Dir1, sandbox_.Root());
  ASSERT_GE(root, 0);
  ASSERT_TRUE(forms::testing::DoubleClickDirEntry(page.Dir1, root));
  ASSERT_EQ(page.Dir1.Path(), sandbox_.Root());
  Click("frmUser", "sSave");
  EXPECT_THAT(messages_, ElementsAre(Message{screens::kRefusedFolderText, 64, screens::kRefusedFolderTitle}));
  EXPECT_EQ(Stored(), docs_) << "the earlier choice stays";

  // "/" and the home folder likewise.
  for (const std::string& refused : {std::string("/"), sandbox_.Home()}) {
    messages_.clear();
    ASSERT_TRUE(page.Dir1.SetPath(refused));
    Click("frmUser", "sSave");
    EXPECT_EQ(messages_.size(), 1u) << refused;
    EXPECT_EQ(Stored(), docs_);
  }
  // A path longer than a read carries would come back cut, naming another folder.
  const std::string parent = data_ + "/" + std::string(254 - data_.size() - 1, 'p');
  const std::string longer = parent + "/junk";
  Sandbox::MakeDirs(longer);
  messages_.clear();
  ASSERT_TRUE(page.Dir1.SetPath(longer));
  Click("frmUser", "sSave");
  EXPECT_THAT(messages_, ElementsAre(Message{screens::kLongFolderText, 64, screens::kRefusedFolderTitle}));
  EXPECT_EQ(Stored(), docs_);
  ASSERT_TRUE(page.Dir1.SetPath(parent));
  Click("frmUser", "sSave");
  EXPECT_EQ(Stored(), parent) << "254 characters are stored";
}

TEST_F(UserFolderTest, AStoredFolderTooLongToCleanIsNotOpenedAtWhatItsCutNames) {
  const std::string parent = data_ + "/" + std::string(254 - data_.size() - 1, 'p');
  Sandbox::MakeDirs(parent + "/junk");
  WriteIni("[User]\r\nsFile0=" + parent + "/junk\r\n");
  screens::FrmUser& page = OpenUserFolder();
  EXPECT_EQ(page.Dir1.Path(), data_) << "not the parent, which Save would then store";
}

TEST_F(UserFolderTest, StoredFolderIsOpenedWithItsFiles) {
  WriteIni("[User]\r\nsFile0=" + docs_ + "\r\n");
  screens::FrmUser& page = OpenUserFolder();
  EXPECT_EQ(page.Dir1.Path(), docs_);
  EXPECT_THAT(Entries(page.File1), ElementsAre("a.txt", "b.txt"));
  EXPECT_EQ(page.Drive1.Drive(), "/") << "the drive list keeps its first drive";
  EXPECT_TRUE(WaitFor([] { return StatusLine() == "This is the folder you have selected!"; })) << StatusLine();
}

TEST_F(UserFolderTest, StoredFolderThatIsGoneLeavesThePageUsableWhereItWas) {
  WriteIni("[User]\r\nsFile0=" + sandbox_.Path("gone") + "\r\n");
  screens::FrmUser& page = OpenUserFolder();
  EXPECT_TRUE(page.Visible());
  EXPECT_EQ(page.Dir1.Path(), data_);
  ASSERT_TRUE(forms::testing::DoubleClickDirEntry(page.Dir1, EntryOf(page.Dir1, data_ + "/music")));
  Click("frmUser", "sSave");
  EXPECT_EQ(Stored(), data_ + "/music");
}

TEST_F(UserFolderTest, ReturnFromHelpShowsTheSamePageAtTheSameUnsavedFolder) {
  screens::FrmUser& page = OpenUserFolder();
  ASSERT_TRUE(forms::testing::DoubleClickDirEntry(page.Dir1, EntryOf(page.Dir1, docs_)));
  Click("frmUser", "sHelp");
  Wait(700);  // longer than the page's self-unload interval
  page_loads_.clear();
  Click("Form4b", "sClose");
  EXPECT_EQ(screens::FrmUserSlot().Loaded(), &page);
  EXPECT_TRUE(page.Visible());
  EXPECT_TRUE(page_loads_.empty());
  EXPECT_EQ(page.Dir1.Path(), docs_);
  EXPECT_THAT(Entries(page.File1), ElementsAre("a.txt", "b.txt"));
  EXPECT_EQ(Stored(), "<missing>");
}

TEST_F(UserFolderTest, DriveListOffersBrowsableMountsAndSurvivesADriveThatIsNotReady) {
  const std::string usb = sandbox_.Path("media/usb");
  const std::string gone = sandbox_.Path("media/gone");
  Sandbox::WriteFile(usb + "/photo.jpg", "p");
  const std::string table = sandbox_.Path("mountinfo");
  Sandbox::WriteFile(table,
                     "20 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
                     "21 20 0:5 / /proc rw - proc proc rw\n"
                     "22 20 0:6 / /sys rw - sysfs sysfs rw\n"
                     "23 20 0:7 / /dev rw - devtmpfs udev rw\n"
                     "24 20 0:8 / /run rw - tmpfs tmpfs rw\n"
                     "25 20 8:2 / /home rw - ext4 /dev/sda2 rw\n"
                     "26 20 8:17 / " + usb + " rw - vfat /dev/sdb1 rw\n"
                     "27 20 8:33 / " + gone + " rw - vfat /dev/sdc1 rw\n"
                     "28 22 0:9 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n");
  platform::SetMountTableForTesting(table);

  screens::FrmUser& page = OpenUserFolder();
  EXPECT_THAT(Entries(page.Drive1), ElementsAre("/", "/home", usb, gone));

  ASSERT_TRUE(forms::testing::ChooseDrive(page.Drive1, EntryOf(page.Drive1, gone)));
  EXPECT_EQ(page.Drive1.Drive(), "/");
  EXPECT_EQ(page.Dir1.Path(), data_);

  ASSERT_TRUE(forms::testing::ChooseDrive(page.Drive1, EntryOf(page.Drive1, usb)));
  EXPECT_EQ(page.Drive1.Drive(), usb);
  EXPECT_EQ(page.Dir1.Path(), usb);
  EXPECT_THAT(Entries(page.File1), ElementsAre("photo.jpg"));
  Click("frmUser", "sSave");
  EXPECT_EQ(Stored(), usb);
}

}  // namespace
}  // namespace tidrex::screens_testing
