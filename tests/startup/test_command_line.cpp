#include <gtest/gtest.h>

#include "shell/win_proc.h"

namespace tidrex::shell {
namespace {

TEST(GetLastArgument, SplitsAtBlanksSlashesTabsAndQuotes) {
  EXPECT_EQ(GetLastArgument("a"), "a");
  EXPECT_EQ(GetLastArgument("/a"), "a");
  EXPECT_EQ(GetLastArgument("  \"A\"  "), "A");
  EXPECT_EQ(GetLastArgument("x\ty/z"), "z");
  EXPECT_EQ(GetLastArgument("-a"), "-a");
  EXPECT_EQ(GetLastArgument(""), "");
  EXPECT_EQ(GetLastArgument(" / \" \t"), "");
}

TEST(GetLastArgument, CollectsAtMostMaxArgs) {
  EXPECT_EQ(GetLastArgument("1 2 3 4 5 6 7 8 9 10 11 a"), "10");
  EXPECT_EQ(GetLastArgument("1 2 3 4 5 6 7 8 9 a 11"), "a");
  EXPECT_EQ(GetLastArgument("x y z", 2), "y");
  EXPECT_EQ(GetLastArgument("x y z", 0), "");
}

TEST(ModeChoice, TheUnattendedLetterAloneAtTheEnd) {
  struct Row {
    std::vector<const char*> args;
    bool unattended;
  };
  const Row rows[] = {
      {{}, false},           {{"a"}, true},       {{"A"}, true},       {{"/a"}, true},
      {{"x", "A"}, true},    {{"\"a\""}, true},   {{"-a"}, false},     {{"aa"}, false},
      {{"a", "x"}, false},   {{"b"}, false},      {{"x a"}, true},     {{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "a"}, false},
  };
  for (const auto& r : rows) {
    std::vector<char*> argv{const_cast<char*>("Quorvel")};
    for (auto* a : r.args) argv.push_back(const_cast<char*>(a));
    std::string line = JoinCommandLine(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(IsUnattendedCommandLine(line), r.unattended) << "command line: " << line;
  }
  char prog[] = "Quorvel", one[] = "x", two[] = "A";
  char* argv[] = {prog, one, two};
  EXPECT_EQ(JoinCommandLine(3, argv), "x A");
}

}  // namespace
}  // namespace tidrex::shell
