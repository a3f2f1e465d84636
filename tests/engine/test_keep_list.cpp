#include "engine/internet_keep_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/ini_settings.h"
#include "platform/locations.h"
#include "tests/platform/fs_fixtures.h"

namespace tidrex::engine {
namespace {

using testing::Sandbox;

std::vector<std::string> Urls(std::size_t n, const std::string& stem = "https://site.test/page") {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < n; ++i) out.push_back(stem + std::to_string(i));
  return out;
}

class KeepListTest : public ::testing::Test {
 protected:
  std::string Ini() const { return ConfigFilePath(); }
  void Write(const std::string& text) { Sandbox::WriteFile(Ini(), text); }
  std::string Read() const { return Sandbox::ReadFile(Ini()); }
  Sandbox box;
};

// The file is rebuilt in a fixed order: the user folder, the three switches, the keep
// list, the cookie list; everything else goes.
TEST_F(KeepListTest, RebuildsTheFileInItsFixedOrderCarryingTheOtherValues) {
  const std::string zeros = "[User]\nsFile0=0\n[Delete]\nTemp=0\nTemporary Internet Files=0\nUser=0\n";
  struct Case {
    std::optional<std::string> before;
    std::vector<std::string> list;
    std::string after;
  };
  const Case cases[] = {
      {"[sAppPath]\nShortCut=/opt/tidrex/\n"
       "[Delete]\nUser=Yes\nTemporary Internet Files=No\nTemp=Yes\nExtra=1\n"
       "[Internet]\nsFile0=old0\nsFile1=old1\nsFile2=old2\n[Cookies]\nsFile0=/c/a.txt\nsFile1=/c/b.txt\n"
       "[User]\nsFile0=/home/u/junk\n[Other]\nkey=value\n",
       {"https://a.test/", "https://b.test/x"},
       "[User]\nsFile0=/home/u/junk\n[Delete]\nTemp=Yes\nTemporary Internet Files=No\nUser=Yes\n"
       "[Internet]\nsFile0=https://a.test/\nsFile1=https://b.test/x\n[Cookies]\nsFile0=/c/a.txt\nsFile1=/c/b.txt\n"},
      // Names are found in any case; a missing "User" switch is written back as "0".
      {"[Delete]\ntemp=No\nTEMPORARY INTERNET FILES=Yes\n[user]\nSFILE0=/data/x\n[cookies]\nsFile0=/c/1\n",
       {"n0"},
       "[User]\nsFile0=/data/x\n[Delete]\nTemp=No\nTemporary Internet Files=Yes\nUser=0\n"
       "[Internet]\nsFile0=n0\n[Cookies]\nsFile0=/c/1\n"},
      {"[Internet]\nsFile0=https://old.test/\n", {"https://new.test/"}, zeros + "[Internet]\nsFile0=https://new.test/\n"},
      {std::nullopt, {}, zeros},
  };
  for (const Case& c : cases) {
    unlink(Ini().c_str());
    if (c.before) Write(*c.before);
    SaveInternetKeepList(c.list);
    EXPECT_EQ(Read(), c.after) << c.before.value_or("no file");
    EXPECT_EQ(LoadInternetKeepList(), c.list);
  }
}

TEST_F(KeepListTest, SavesDuplicatesAndOddTextsAsGiven) {
  SaveInternetKeepList({"https://a.test/", "https://a.test/", "HTTPS://A.TEST/", "two\r\nlines", " padded"});
  EXPECT_EQ(ReadIniValue(Ini(), "Internet", "sFile1"), "https://a.test/");
  EXPECT_EQ(ReadIniValue(Ini(), "Internet", "sFile2"), "HTTPS://A.TEST/");
  EXPECT_NE(Read().find("sFile3=two  lines\n"), std::string::npos) << "line breaks become blanks";
  EXPECT_EQ(LoadInternetKeepList().size(), 5u);
}

TEST_F(KeepListTest, StoresTwelveHundredReadsBackTheFirstThousandAndOneAndStopsAtAGapOrZero) {
  const auto entries = Urls(1200);
  SaveInternetKeepList(entries);
  EXPECT_EQ(ReadIniValue(Ini(), "Internet", "sFile1199"), entries[1199]);
  const auto loaded = LoadInternetKeepList();
  ASSERT_EQ(loaded.size(), 1001u);
  EXPECT_EQ(loaded, std::vector<std::string>(entries.begin(), entries.begin() + 1001));
  // Loading stops at the first gap or "0".
  Write("[Internet]\nsFile0=a\nsFile1=b\nsFile2=0\nsFile3=d\n");
  EXPECT_EQ(LoadInternetKeepList(), (std::vector<std::string>{"a", "b"}));
  Write("[Internet]\nsFile0=a\nsFile2=c\n");
  EXPECT_EQ(LoadInternetKeepList(), (std::vector<std::string>{"a"}));
}

TEST_F(KeepListTest, CookieListSurvivesSavesUpToItsFirstGap) {
  std::string cookies = "[Cookies]\n";
  for (int i = 0; i < 1003; ++i) cookies += "sFile" + std::to_string(i) + "=/c/" + std::to_string(i) + "\n";
  Write(cookies + "[Delete]\nTemp=Yes\n");
  for (int round = 0; round < 3; ++round) SaveInternetKeepList(Urls(round + 1));
  const auto kept = ReadIniList(Ini(), "Cookies");
  ASSERT_EQ(kept.size(), 1001u);
  EXPECT_EQ(kept.front(), "/c/0");
  EXPECT_EQ(kept.back(), "/c/1000");
  EXPECT_EQ(ReadIniValue(Ini(), "Cookies", "sFile1001"), "0") << "what the list rule cannot read is dropped";
  EXPECT_EQ(ReadIniValue(Ini(), "Delete", "Temp"), "Yes");

  Write("[Cookies]\nsFile0=/c/a\nsFile2=/c/after_gap\n");
  SaveInternetKeepList({"x"});
  EXPECT_EQ(ReadIniList(Ini(), "Cookies"), std::vector<std::string>{"/c/a"});
  EXPECT_EQ(Read().find("after_gap"), std::string::npos);
}

TEST_F(KeepListTest, LongValuesAreCarriedWholeAndAFileThatCannotBeReplacedStaysWhole) {
  // Cut at 254 characters, each of these would name something else for good.
  const std::string folder = "/" + std::string(300, 'd');
  const std::string cookie = "/c/" + std::string(300, 'c');
  const std::string url = "https://long.test/" + std::string(300, 'u');
  Write("[User]\nsFile0=" + folder + "\n[Cookies]\nsFile0=" + cookie + "\n");
  SaveInternetKeepList({url, "https://short.test/"});
  EXPECT_EQ(ReadIniValueWhole(Ini(), "User", "sFile0"), folder);
  EXPECT_EQ(ReadIniValue(Ini(), "User", "sFile0"), folder.substr(0, 254)) << "an ordinary read still cuts";
  EXPECT_EQ(ReadIniListWhole(Ini(), "Cookies"), std::vector<std::string>{cookie});
  EXPECT_EQ(LoadInternetKeepList(), (std::vector<std::string>{url, "https://short.test/"}));
  SaveInternetKeepList(LoadInternetKeepList());
  EXPECT_EQ(LoadInternetKeepList().front(), url) << "a second save keeps it whole";

  const std::string old = "[Internet]\nsFile0=a\nsFile1=b\nsFile2=c\n[Delete]\nTemp=Yes\n";
  Write(old);
  ASSERT_EQ(chmod(Ini().c_str(), 0444), 0);
  SaveInternetKeepList({"z"});
  EXPECT_EQ(Read(), old) << "never the new list followed by the tail of the old one";
}

// A save killed at any moment leaves the complete old file or the complete new one.
TEST_F(KeepListTest, AKilledSaveLeavesTheOldOrTheNewFile) {
  Write("[Delete]\nTemp=Yes\nUser=No\n[User]\nsFile0=/data/u\n[Cookies]\nsFile0=/c/1\n");
  const auto long_list = Urls(1200, "https://long.test/");
  const auto short_list = Urls(3, "https://short.test/");
  SaveInternetKeepList(long_list);
  const std::string long_file = Read();
  SaveInternetKeepList(short_list);
  const std::string short_file = Read();
  ASSERT_NE(long_file, short_file);

  int round_trip = 0;
  testing::KillWritersRepeatedly(40, [&] { SaveInternetKeepList(++round_trip % 2 ? long_list : short_list); },
                                 [&](int round) {
                                   const std::string now = Read();
                                   EXPECT_TRUE(now == long_file || now == short_file)
                                       << "round " << round << ": " << now.size() << " bytes";
                                 });
}

// A save reads the switches, deletes and rebuilds: another process's write of a switch in
// between must neither be undone by the rebuild nor be read stale.
TEST_F(KeepListTest, ASaveNeverUndoesAWriteAnotherProcessMakesMeanwhile) {
  testing::QuickFolder folder;
  platform::SetApplicationFolderForTesting(folder.Path() + "/");
  const int rounds = folder.OnMemory() ? 300 : 40;
  auto spawn = [](const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
  };
  const pid_t writer = spawn([&] {
    for (int i = 1; i <= rounds; ++i) {
      // Nobody else writes this switch: it must still hold this process's last value.
      if (ReadIniValue(Ini(), "Delete", "Temp") != (i == 1 ? "0" : "v" + std::to_string(i - 1))) return 1;
      WriteIniValue(Ini(), "Delete", "Temp", "v" + std::to_string(i));
    }
    return 0;
  });
  const pid_t saver = spawn([&] {
    for (int i = 1; i <= rounds; ++i) SaveInternetKeepList({"https://k" + std::to_string(i) + ".test/"});
    return 0;
  });
  for (const pid_t pid : {writer, saver}) {
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << (pid == writer ? "a write was undone" : "saver");
  }
  EXPECT_EQ(ReadIniValue(Ini(), "Delete", "Temp"), "v" + std::to_string(rounds));
  EXPECT_EQ(LoadInternetKeepList(), std::vector<std::string>{"https://k" + std::to_string(rounds) + ".test/"});
}

}  // namespace
}  // namespace tidrex::engine
