#include "engine/ini_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/locations.h"
#include "platform/private_profile.h"
#include "tests/platform/fs_fixtures.h"
#include "tests/support/sandbox.h"

namespace tidrex::engine {
namespace {

using testing::Sandbox;

class IniSettings : public ::testing::Test {
 protected:
  Sandbox box;
  std::string file = box.IniPath();
};

// Beside the program while the user may write there, else below $XDG_CONFIG_HOME; decided
// again at every call, so a folder that turns read-only moves the file at the next access.
TEST_F(IniSettings, PathFollowsTheWritableApplicationFolderEveryTime) {
  const std::string fallback = box.Path("home/.config/Tidrex/Clean.ini");
  EXPECT_EQ(ConfigFilePath(), box.AppFolder() + "Clean.ini");
  EXPECT_FALSE(Sandbox::Exists(box.Path("home/.config/Tidrex"))) << "nothing created while unused";

  Sandbox::MakeDirs(box.Path("elsewhere"));
  platform::SetApplicationFolderForTesting(box.Path("elsewhere"));
  EXPECT_EQ(ConfigFilePath(), box.Path("elsewhere/Clean.ini")) << "never cached";

  // A folder that cannot be written (here: one that is not there) sends every reader and
  // writer to the same fallback file, whose folder the first call creates.
  platform::SetApplicationFolderForTesting(box.Path("gone"));
  EXPECT_EQ(ConfigFilePath(), fallback);
  WriteIniValue(ConfigFilePath(), "Delete", "Temp", "Yes");
  EXPECT_EQ(ReadIniValue(ConfigFilePath(), "Delete", "Temp"), "Yes");
  EXPECT_EQ(Sandbox::ReadFile(fallback), "[Delete]\nTemp=Yes\n");

  // Read-only by its mode: root may still write there, any other user may not.
  ASSERT_EQ(chmod(box.Path("elsewhere").c_str(), 0555), 0);
  platform::SetApplicationFolderForTesting(box.Path("elsewhere"));
  EXPECT_EQ(ConfigFilePath(), geteuid() == 0 ? box.Path("elsewhere/Clean.ini") : fallback);

  // An XDG_CONFIG_HOME that is not absolute is ignored, as the XDG rules say.
  box.SetEnv("XDG_CONFIG_HOME", "relative/config");
  platform::SetApplicationFolderForTesting(box.Path("gone"));
  EXPECT_EQ(ConfigFilePath(), box.Path("home/.config/Tidrex/Clean.ini"));
  box.SetEnv("XDG_CONFIG_HOME", box.Path("cfg"));
  EXPECT_EQ(ConfigFilePath(), box.Path("cfg/Tidrex/Clean.ini"));
}

TEST_F(IniSettings, DefaultIsZeroEmptyIsNotTheDefaultAndAtMost254CharactersComeBack) {
  EXPECT_EQ(ReadIniValue(file, "Delete", "User"), "0");
  Sandbox::WriteFile(file, "[Delete]\nUser=\n");
  EXPECT_EQ(ReadIniValue(file, "Delete", "User"), "");
  EXPECT_EQ(ReadIniValue(file, "Delete", "Temp"), "0");
  std::string path300(300, 'p');
  WriteIniValue(file, "User", "sFile0", path300);
  EXPECT_EQ(ReadIniValue(file, "User", "sFile0"), path300.substr(0, 254));
  WriteIniValue(file, "User", "sFile0", std::string(254, 'q'));
  EXPECT_EQ(ReadIniValue(file, "User", "sFile0"), std::string(254, 'q'));
}

TEST_F(IniSettings, CarriageReturnAndLineFeedBecomeBlanks) {
  WriteIniValue(file, "User", "sFile0", "two\r\nwords");
  EXPECT_EQ(ReadIniValue(file, "User", "sFile0"), "two  words");
  EXPECT_EQ(Sandbox::ReadFile(file), "[User]\nsFile0=two  words\n");
  WriteIniValue(file, "User", "sFile1", "\rinjected=1\n[Delete]\nUser=Yes");
  EXPECT_EQ(ReadIniValue(file, "Delete", "User"), "0") << "a value can never open a section";
}

TEST_F(IniSettings, ListsEndAtGapsAndZeroesAndReadAtMost1001Values) {
  Sandbox::WriteFile(file, "[Internet]\nsFile0=a\nsFile1=b\nsFile2=c\nsFile3=d\nsFile4=e\nsFile6=g\n"
                           "[Cookies]\nsFile0=x\nsFile1=y\nsFile2=0\nsFile3=z\n"
                           "[Empty]\nsFile0=\nsFile1=after\n");
  EXPECT_EQ(ReadIniList(file, "Internet"), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(ReadIniList(file, "Cookies"), (std::vector<std::string>{"x", "y"}));
  EXPECT_TRUE(ReadIniList(file, "Empty").empty());
  EXPECT_TRUE(ReadIniList(file, "Missing").empty());
  EXPECT_TRUE(ReadIniList(box.Path("none.ini"), "Internet").empty());

  std::vector<platform::ProfileWrite> writes;
  for (int i = 0; i < 1500; ++i) writes.push_back({"Internet", ListKey(i), "u" + std::to_string(i)});
  ASSERT_TRUE(platform::WriteProfileStrings(file, writes));
  auto list = ReadIniList(file, "Internet");
  ASSERT_EQ(list.size(), 1001u);
  EXPECT_EQ(list.front(), "u0");
  EXPECT_EQ(list.back(), "u1000");
}

TEST_F(IniSettings, ListAgreesWithSingleReads) {
  Sandbox::WriteFile(file, "[internet]\nSFILE0=\"quoted\"\nsfile1=  spaced  \nsFile1=dup\nsFile2=" +
                               std::string(400, 'L') + "\n");
  auto list = ReadIniList(file, "Internet");
  ASSERT_EQ(list.size(), 3u);
  for (size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i], ReadIniValue(file, "Internet", ListKey(i)));
  EXPECT_EQ(list[0], "quoted");
  EXPECT_EQ(list[1], "spaced");
  EXPECT_EQ(list[2].size(), 254u);
}

// One operation's reads cost one reading and see one state of the file; its own writes are
// seen at once; between operations every read goes to the file afresh.
TEST_F(IniSettings, AnOperationReadsTheFileOnceAndSeesItsOwnWrites) {
  Sandbox::WriteFile(file, "[Delete]\nUser=Yes\nTemp=No\n[Internet]\nsFile0=a\nsFile1=b\n");
  const std::string other = box.Path("other.ini");
  Sandbox::WriteFile(other, "[Delete]\nUser=Other\n");
  std::vector<std::string> seen;
  const int opens = testing::OpensOf(file, [&] {
    const IniOperation op(file);
    seen.push_back(ReadIniValue(file, "Delete", "User"));
    // Another process replaces the file meanwhile: the operation goes on with what it read.
    Sandbox::WriteFile(file, "[Delete]\nUser=Changed\n");
    seen.push_back(ReadIniValue(file, "delete", "temp"));
    seen.push_back(ReadIniValue(file, "Delete", "Missing"));
    for (auto& v : ReadIniList(file, "Internet")) seen.push_back(v);
    seen.push_back(ReadIniValue(other, "Delete", "User"));  // another file is read as always
  });
  EXPECT_EQ(opens, 2) << "one reading, and the other process's write";
  EXPECT_EQ(seen, (std::vector<std::string>{"Yes", "No", "0", "a", "b", "Other"}));
  EXPECT_EQ(ReadIniValue(file, "Delete", "User"), "Changed") << "afresh after the operation";

  const IniOperation op(file);
  EXPECT_EQ(ReadIniValue(file, "Delete", "Temp"), "0");
  WriteIniValue(file, "Delete", "Temp", "Yes");
  EXPECT_EQ(ReadIniValue(file, "Delete", "Temp"), "Yes") << "its own write is seen";
  {
    const IniOperation inner(file, IniOperation::kForUpdate);
    EXPECT_EQ(ReadIniValue(file, "Delete", "User"), "Changed");
    WriteIniValue(file, "Delete", "User", "No");  // the writers' lock nests
  }
  EXPECT_EQ(ReadIniValue(file, "Delete", "User"), "No");
  EXPECT_EQ(Sandbox::ReadFile(file), "[Delete]\nUser=No\nTemp=Yes\n");
}

}  // namespace
}  // namespace tidrex::engine
