#include "platform/private_profile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "tests/platform/fs_fixtures.h"
#include "tests/support/sandbox.h"

namespace tidrex::platform {
namespace {

using testing::Sandbox;

std::string Read(const std::string& text, const std::string& s, const std::string& k,
                 size_t capacity = 255) {
  return ReadProfileText(text, s, k, "DEF", capacity);
}

TEST(ProfileReading, WhatAPersonEditingByHandMeets) {
  std::string text =
      "; a comment\n"
      "orphan=before any section\n"
      "  [ Delete ]  \n"
      "  User   =   Yes  \n"
      ";Temp=Yes\n"
      "Quoted=\"a value\"\n"
      "Single='b'\n"
      "Mismatched=\"c'\n"
      "Equals=x=y\n"
      "Empty=\n"
      "NoEquals\n"
      "User=Second\n"
      "[Delete]\n"
      "Temp=FromSecondSection\n";
  EXPECT_EQ(Read(text, "DELETE", "user"), "Yes") << "names ignore case";
  EXPECT_EQ(Read("[A]\nk=yes\n", "a", "K"), "yes") << "values keep theirs";
  EXPECT_EQ(Read(text, "Missing", "User"), "DEF");
  EXPECT_EQ(Read(text, "Delete", "Temp"), "DEF") << "commented and second-section keys are not read";
  EXPECT_EQ(Read(text, "Delete", "Quoted"), "a value");
  EXPECT_EQ(Read(text, "Delete", "Single"), "b");
  EXPECT_EQ(Read(text, "Delete", "Mismatched"), "\"c'");
  EXPECT_EQ(Read(text, "Delete", "Equals"), "x=y");
  EXPECT_EQ(Read(text, "Delete", "Empty"), "") << "an empty value is not the default";
  EXPECT_EQ(Read(text, "Delete", "NoEquals"), "DEF");
  EXPECT_EQ(Read(text, "", "orphan"), "DEF");
}

TEST(ProfileReading, LineEndsByteOrderMarkCapacityAndNul) {
  for (std::string eol : {"\n", "\r\n", "\r"}) {
    std::string text = "[A]" + eol + "k=v" + eol + "[B]" + eol + "k=w";
    EXPECT_EQ(Read(text, "A", "k"), "v") << "eol " << eol.size();
    EXPECT_EQ(Read(text, "B", "k"), "w") << "no final newline";
  }
  EXPECT_EQ(Read("\xEF\xBB\xBF[A]\nk=v\n", "A", "k"), "v");
  std::string long_value(300, 'x');
  std::string text = "[A]\nk=" + long_value + "\nn=ab" + std::string(1, '\0') + "cd\n";
  EXPECT_EQ(Read(text, "A", "k").size(), 254u);
  EXPECT_EQ(Read(text, "A", "k", 10), std::string(9, 'x'));
  EXPECT_EQ(Read(text, "A", "n"), "ab");
  EXPECT_EQ(ReadProfileText("", "A", "k", std::string(300, 'd'), 255).size(), 254u);
}

TEST(ProfileReading, GarbageNeverHurts) {
  std::mt19937 rng(7);
  std::string garbage;
  for (int i = 0; i < 200000; ++i) garbage += static_cast<char>(rng());
  garbage += "\n[A]\nk=found\n";
  EXPECT_EQ(Read(garbage, "A", "k"), "found");
  std::string huge_line = "[A]\nk=" + std::string(8 << 20, 'z') + "\nafter=1\n";
  EXPECT_EQ(Read(huge_line, "A", "after"), "1");
  EXPECT_EQ(Read(huge_line, "A", "k").size(), 254u);
  EXPECT_EQ(Read("[[[]]]]\n=\n[", "A", "k"), "DEF");
}

// Where the Windows functions behave in ways a reader would not guess.
TEST(ProfileReading, WindowsTrimsTheDefaultAndTheRequestedNamesAndNeedsBothBrackets) {
  const std::string text = "[Delete]\nUser=Yes\n[b\nTemp=in Delete\n[c]\nk=c\n";
  EXPECT_EQ(ReadProfileText("", "A", "k", "dflt  ", 255), "dflt") << "trailing blanks of the default";
  EXPECT_EQ(ReadProfileText("", "A", "k", "  dflt \t", 255), "  dflt \t") << "only trailing spaces";
  EXPECT_EQ(ReadProfileText("", "A", "k", "   ", 255), "");
  EXPECT_EQ(ReadProfileText(text, "A", "k", "\"q\"  ", 255), "q") << "then the quotes";
  EXPECT_EQ(Read(text, "  Delete\t", " User  "), "Yes") << "blanks around requested names";
  EXPECT_EQ(GetProfileStrings("/nonexistent", "A", {"k"}, "d  ", 255), std::vector<std::string>{"d"});
  EXPECT_EQ(ReadProfileTexts(text, " delete ", {" user", "TEMP "}, "d ", 255),
            (std::vector<std::string>{"Yes", "in Delete"}));
  EXPECT_EQ(Read(text, "b", "Temp"), "DEF") << "\"[b\" opens no section";
  EXPECT_EQ(Read(text, "Delete", "Temp"), "in Delete");
  EXPECT_EQ(Read(text, "Delete", "[b"), "DEF") << "a line without \"=\" is a key without value";
  EXPECT_EQ(Read(text, "c", "k"), "c");
  EXPECT_EQ(Read("[a]b]\nk=1\n", "a]b", "k"), "1") << "the last \"]\" closes the name";
}

TEST(ProfileReading, ManyLinesWithOneKindOfLineEnd) {
  for (char eol : {'\r', '\n'}) {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "k" + std::to_string(i) + "=v" + std::to_string(i) + eol;
    text = "[A]" + std::string(1, eol) + text + "last=found" + eol;
    EXPECT_EQ(Read(text, "A", "last"), "found");
    EXPECT_EQ(Read(text, "A", "k99999"), "v99999");
  }
}

TEST(ProfileWriting, CreatesReplacesInPlaceAndAppendsWithinTheSection) {
  struct Case {
    std::string before;
    std::vector<ProfileWrite> writes;
    std::string after;
  };
  const Case cases[] = {
      // A new section follows the last line directly.
      {"", {{"Delete", "User", "Yes"}, {"sAppPath", "ShortCut", "/opt/app/"}, {"Delete", "Temp", "No"}},
       "[Delete]\nUser=Yes\nTemp=No\n[sAppPath]\nShortCut=/opt/app/\n"},
      {"[A]\nk=1", {{"B", "x", "1"}}, "[A]\nk=1\n[B]\nx=1\n"},
      {"[A]\nk=1\n\n", {{"B", "x", "1"}}, "[A]\nk=1\n\n[B]\nx=1\n"},
      // Written lines take the file's own line ends: CRLF in a file from Windows.
      {"[A]\r\nk=1\r\n", {{"A", "n", "2"}, {"B", "x", "1"}}, "[A]\r\nk=1\r\nn=2\r\n[B]\r\nx=1\r\n"},
      {"[A]\r\nk=1", {{"A", "n", "2"}}, "[A]\r\nk=1\r\nn=2\r\n"},
      {"; from Windows\r\n[A]\nk=1\n", {{"B", "x", "1"}}, "; from Windows\r\n[A]\nk=1\n[B]\r\nx=1\r\n"},
      {"[A]\nk=1\r\n", {{"B", "x", "1"}}, "[A]\nk=1\r\n[B]\nx=1\n"},
      // Writing the value a key has changes no byte, not even the spacing around it.
      {"[A]\n  k =  v  \n", {{"a", "K", "v"}}, "[A]\n  k =  v  \n"},
      {"[A]\nk=\"v\"\n", {{"A", "k", "v"}}, "[A]\nk=v\n"},
      {"[A]\nk\n", {{"A", "k", ""}}, "[A]\nk=\n"},
      // Requested names are found without their blanks, and written without them.
      {"[A]\nk=1\n", {{" A\t", " k ", "2"}, {" New ", " n ", "3"}}, "[A]\nk=2\n[New]\nn=3\n"},
      // "[b" without "]" is an ordinary line of the section before it.
      {"[a]\n[b\nk=1\n", {{"b", "k", "2"}, {"a", "k", "3"}}, "[a]\n[b\nk=3\n[b]\nk=2\n"},
      {"; keep me\r\n[delete]\r\nuser = Yes\r\n\r\n[Other]\r\nx=1", {{"Delete", "USER", "No"}},
       "; keep me\r\n[delete]\r\nuser=No\r\n\r\n[Other]\r\nx=1"},
      // A new key goes after the last non-blank line of its section.
      {"[A]\na=1\n\n\n[B]\nb=1", {{"a", "new", "2"}}, "[A]\na=1\nnew=2\n\n\n[B]\nb=1"},
      {"[A]\na=1\n\n\n[B]\nb=1", {{"B", "new", "2"}}, "[A]\na=1\n\n\n[B]\nb=1\nnew=2\n"},
      {"[A]\n[A]\n", {{"A", "k", "v"}}, "[A]\nk=v\n[A]\n"},  // the first of two equal sections
      {"[A]\nk=1\nk=2\n", {{"A", "k", "v"}}, "[A]\nk=v\nk=2\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(ApplyProfileWrites(c.before, c.writes), c.after) << c.before;
}

TEST(ProfileWriting, BatchEqualsSingleWritesByteForByte) {
  std::string start = "[Internet]\nsFile0=x\n[Delete]\r\nTemp=Yes\r\n";
  std::vector<ProfileWrite> writes;
  for (int i = 0; i < 50; ++i) writes.push_back({i % 3 ? "Internet" : "Cookies", "sFile" + std::to_string(i / 2), "v" + std::to_string(i)});
  writes.push_back({"delete", "temp", "No"});
  std::string one_at_a_time = start;
  for (const auto& w : writes) one_at_a_time = ApplyProfileWrites(one_at_a_time, {w});
  EXPECT_EQ(ApplyProfileWrites(start, writes), one_at_a_time);
}

class ProfileFile : public ::testing::Test {
 protected:
  Sandbox box;
  std::string file = box.IniPath();
};

TEST_F(ProfileFile, MissingFileGivesDefaultWriteCreatesItAndFromEmptyStartsOver) {
  EXPECT_EQ(GetProfileString(file, "Delete", "User", "0", 255), "0");
  EXPECT_TRUE(WriteProfileString(file, "Delete", "User", "Yes"));
  EXPECT_EQ(GetProfileString(file, "delete", "user", "0", 255), "Yes");
  EXPECT_EQ(Sandbox::ReadFile(file), "[Delete]\nUser=Yes\n");
  Sandbox::WriteFile(file, "[Old]\nx=1\n[User]\nsFile0=/a\n");
  EXPECT_TRUE(WriteProfileStrings(file, {{"User", "sFile0", "/b"}}, /*from_empty=*/true));
  EXPECT_EQ(Sandbox::ReadFile(file), "[User]\nsFile0=/b\n");
}

TEST_F(ProfileFile, WriteKeepsPermissionBitsLeavesNoSiblingAndFailsOnReadOnly) {
  Sandbox::WriteFile(file, "[A]\nk=1\n");
  chmod(file.c_str(), 0640);
  EXPECT_TRUE(WriteProfileString(file, "A", "k", "2"));
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  std::string listing;
  for (const auto& e : std::filesystem::directory_iterator(box.AppFolder())) listing += e.path().filename().string() + ";";
  EXPECT_EQ(listing, "Clean.ini;");

  chmod(file.c_str(), 0444);
  EXPECT_FALSE(WriteProfileString(file, "A", "k", "3"));
  EXPECT_EQ(Sandbox::ReadFile(file), "[A]\nk=2\n");
  EXPECT_FALSE(WriteProfileString(box.Path("no/such/folder/Clean.ini"), "A", "k", "2"));
}

TEST_F(ProfileFile, ManyKeysReadInOnePass) {
  std::vector<ProfileWrite> writes;
  std::vector<std::string> keys;
  for (int i = 0; i < 20; ++i) {
    writes.push_back({"L", "sFile" + std::to_string(i), "v" + std::to_string(i)});
    keys.push_back("SFILE" + std::to_string(i));
  }
  keys.push_back("absent");
  ASSERT_TRUE(WriteProfileStrings(file, writes));
  auto values = GetProfileStrings(file, "l", keys, "0", 255);
  ASSERT_EQ(values.size(), keys.size());
  for (int i = 0; i < 20; ++i) EXPECT_EQ(values[i], GetProfileString(file, "L", keys[i], "0", 255));
  EXPECT_EQ(values.back(), "0");
}

// A writer killed at any moment leaves a complete old or new file, never a mixture.
TEST_F(ProfileFile, KilledWriterNeverLeavesATornFile) {
  auto content_for = [](int generation) {
    std::vector<ProfileWrite> w;
    for (int i = 0; i < 300; ++i) w.push_back({"Internet", "sFile" + std::to_string(i), "gen" + std::to_string(generation)});
    return w;
  };
  ASSERT_TRUE(WriteProfileStrings(file, content_for(0), true));
  testing::KillWritersRepeatedly(25, [&] { WriteProfileStrings(file, content_for(1 + rand() % 9), true); },
                                 [&](int round) {
                                   const std::string text = Sandbox::ReadFile(file);
                                   const std::string first = ReadProfileText(text, "Internet", "sFile0", "", 255);
                                   ASSERT_EQ(first.rfind("gen", 0), 0u) << "round " << round;
                                   EXPECT_EQ(text, ApplyProfileWrites("", content_for(std::stoi(first.substr(3)))))
                                       << "round " << round;
                                 });
}

}  // namespace
}  // namespace tidrex::platform
