#include "platform/private_profile.h"

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <random>
#include <set>
#include <string>

#include "platform/atomic_file.h"
#include "platform/small_file.h"
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

// The names in a folder, links not followed.
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

struct Identity {
  mode_t type = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  bool operator==(const Identity& o) const {
    return type == o.type && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

Identity IdentityOf(const std::string& path, bool follow) {
  struct stat st {};
  if ((follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return {};
  return {static_cast<mode_t>(st.st_mode & S_IFMT), st.st_ino, st.st_size, st.st_mtim};
}

long PeakKilobytes() {
  rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Whatever sits where "Clean.ini" belongs, reading neither blocks nor aborts and gives the
// defaults, nothing is written into it and nothing is left beside it.
TEST_F(ProfileFile, HostileFilesReadAsMissingAndAreNeverWritten) {
  alarm(60);  // a read that blocks ends the run instead of hanging it
  const std::string elsewhere = box.Path("elsewhere");
  Sandbox::MakeDirs(elsewhere);
  const std::string settings = "[Delete]\nUser=Yes\n[Internet]\nsFile0=kept\n";
  auto sparse = [&](off_t size) {
    Sandbox::WriteFile(file, settings);
    return truncate(file.c_str(), size) == 0;
  };
  struct Kind {
    const char* what;
    std::function<bool()> make;  // false: this system cannot make it, skip
    SmallFileRead read;
  };
  const Kind kinds[] = {
      {"FIFO", [&] { return mkfifo(file.c_str(), 0644) == 0; }, SmallFileRead::kUnreadable},
      {"link to a FIFO",
       [&] { return mkfifo((elsewhere + "/fifo").c_str(), 0644) == 0 && symlink((elsewhere + "/fifo").c_str(), file.c_str()) == 0; },
       SmallFileRead::kUnreadable},
      {"socket",
       [&] {
         const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         if (file.size() >= sizeof addr.sun_path) return false;
         std::strcpy(addr.sun_path, file.c_str());
         const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
         close(fd);
         return ok;
       },
       SmallFileRead::kUnreadable},
      {"folder", [&] { return mkdir(file.c_str(), 0755) == 0; }, SmallFileRead::kUnreadable},
      {"endless device", [&] { return symlink("/dev/zero", file.c_str()) == 0; }, SmallFileRead::kUnreadable},
      {"dangling link", [&] { return symlink((elsewhere + "/gone").c_str(), file.c_str()) == 0; }, SmallFileRead::kMissing},
      {"one byte over the ceiling",
       [&] {
         Sandbox::WriteFile(file, settings + std::string(kSmallFileCeiling + 1 - settings.size(), ';'));
         return true;
       },
       SmallFileRead::kUnreadable},
      {"4 GB sparse", [&] { return sparse(off_t{4} << 30); }, SmallFileRead::kUnreadable},
      {"100 GB sparse", [&] { return sparse(off_t{100} << 30); }, SmallFileRead::kUnreadable},
      {"no read permission",
       [&] {
         Sandbox::WriteFile(file, settings);
         // Root reads it all the same: there is nothing unreadable to show then.
         return geteuid() != 0 && chmod(file.c_str(), 0200) == 0;
       },
       SmallFileRead::kUnreadable},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.what);
    std::filesystem::remove_all(file);
    std::filesystem::remove_all(elsewhere + "/fifo");
    if (!k.make()) {
      std::cout << "  (" << k.what << ": not possible here)\n";
      continue;
    }
    const std::set<std::string> names = Names(box.AppFolder());
    const Identity as_link = IdentityOf(file, false), as_target = IdentityOf(file, true);
    const long peak = PeakKilobytes();

    std::string text = "stale";
    EXPECT_EQ(ReadSmallFile(file, text), k.read);
    EXPECT_EQ(text, "");
    EXPECT_EQ(GetProfileString(file, "Delete", "User", "0", 255), "0");
    EXPECT_EQ(GetProfileStrings(file, "Internet", {"sFile0", "sFile1"}, "0", 255), (std::vector<std::string>{"0", "0"}));
    EXPECT_EQ(ProfileSnapshot(file).GetString("Internet", "sFile0", "0", 255), "0");
    EXPECT_FALSE(WriteProfileString(file, "Delete", "User", "No"));
    EXPECT_FALSE(WriteProfileStrings(file, {{"User", "sFile0", "/x"}}, /*from_empty=*/true));

    EXPECT_TRUE(IdentityOf(file, false) == as_link) << "the entry itself is untouched";
    EXPECT_TRUE(IdentityOf(file, true) == as_target) << "and so is what it leads to";
    EXPECT_EQ(Names(box.AppFolder()), names) << "nothing is left beside it";
    EXPECT_LT(PeakKilobytes() - peak, 64 * 1024) << "memory stays bounded";
    chmod(file.c_str(), 0600);
  }
  alarm(0);
}

TEST_F(ProfileFile, SmallFilesAreReadUpToTheCeilingAndWithoutAKnownSize) {
  Sandbox::WriteFile(file, "12345");
  std::string text;
  EXPECT_EQ(ReadSmallFile(file, text, 5), SmallFileRead::kRead);
  EXPECT_EQ(text, "12345");
  EXPECT_EQ(ReadSmallFile(file, text, 4), SmallFileRead::kUnreadable);
  EXPECT_EQ(ReadSmallFileText(file, 4), "");
  EXPECT_EQ(ReadSmallFile(box.Path("absent"), text), SmallFileRead::kMissing);
  EXPECT_EQ(ReadSmallFile(file + "/below-a-file", text), SmallFileRead::kMissing);
  // Files of the kernel report no size; they are read to their end, still within the ceiling.
  EXPECT_EQ(ReadSmallFile("/proc/self/status", text), SmallFileRead::kRead);
  EXPECT_EQ(text.rfind("Name:", 0), 0u);
  EXPECT_EQ(ReadSmallFile("/proc/self/status", text, 16), SmallFileRead::kUnreadable);

  // The writer never makes a file that the reader would refuse.
  EXPECT_FALSE(WriteProfileString(file, "A", "k", std::string(kSmallFileCeiling, 'v')));
  EXPECT_EQ(Sandbox::ReadFile(file), "12345");
}

TEST_F(ProfileFile, ANoOpWriteTouchesNothing) {
  Sandbox::WriteFile(file, "[Delete]\r\n  User = Yes \r\n");
  const timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old_times, 0), 0);
  const Identity before = IdentityOf(file, true);
  EXPECT_TRUE(WriteProfileString(file, " delete", "USER ", "Yes"));
  EXPECT_TRUE(WriteProfileStrings(file, {{"Delete", "User", "Yes"}, {"Delete", "User", "Yes"}}));
  EXPECT_TRUE(IdentityOf(file, true) == before) << "same inode, size and modification time";
  EXPECT_EQ(Sandbox::ReadFile(file), "[Delete]\r\n  User = Yes \r\n");
  EXPECT_TRUE(WriteProfileString(file, "Delete", "User", "No"));
  EXPECT_EQ(Sandbox::ReadFile(file), "[Delete]\r\nUser=No\r\n");
  EXPECT_FALSE(IdentityOf(file, true) == before);
}

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
  // What the killed writers left (temporary files, the lock file of one killed holding it)
  // is gone with the next write once it is a minute old.
  std::set<std::string> left = Names(box.AppFolder());
  left.erase("Clean.ini");
  std::cout << "  " << left.size() << " files left by 25 killed writers\n";
  const timespec old_times[2] = {{time(nullptr) - 120, 0}, {time(nullptr) - 120, 0}};
  for (const std::string& name : left) utimensat(AT_FDCWD, (box.AppFolder() + name).c_str(), old_times, AT_SYMLINK_NOFOLLOW);
  ASSERT_TRUE(WriteProfileStrings(file, content_for(10), true));
  EXPECT_EQ(Names(box.AppFolder()), std::set<std::string>{"Clean.ini"});
  EXPECT_EQ(Sandbox::ReadFile(file), ApplyProfileWrites("", content_for(10)));
}

TEST_F(ProfileFile, OnlyLeftoversOfDeadWritersGoWithTheNextWrite) {
  const std::string app = box.AppFolder();
  Sandbox::WriteFile(file, "[A]\nk=1\n");
  const timespec old_times[2] = {{time(nullptr) - 61 - 5, 0}, {time(nullptr) - 61 - 5, 0}};
  auto leftover = [&](const std::string& name, bool old) {
    Sandbox::WriteFile(app + name, "[A]\nk=half");
    if (old) utimensat(AT_FDCWD, (app + name).c_str(), old_times, 0);
  };
  leftover(".Clean.ini.aB3dE9", true);   // a dead writer's
  leftover(".Clean.ini.Zz0000", false);  // a writer that may be starting
  leftover(".Clean.ini.HeLd42", true);   // a writer that is slow, but alive
  leftover(".Clean.ini.lock", true);     // the lock file of a holder that died
  for (const char* other : {".Clean.ini.toolong", ".Clean.ini.a-b_c1", ".Other.ini.aB3dE9", "Clean.ini.aB3dE9"})
    leftover(other, true);
  testing::LockHolder live(app + ".Clean.ini.HeLd42", testing::LockHolder::kFlock);

  ASSERT_TRUE(WriteProfileString(file, "A", "k", "2"));
  EXPECT_EQ(Names(app), (std::set<std::string>{"Clean.ini", ".Clean.ini.Zz0000", ".Clean.ini.HeLd42",
                                               ".Clean.ini.toolong", ".Clean.ini.a-b_c1", ".Other.ini.aB3dE9",
                                               "Clean.ini.aB3dE9"}));
  live.Release();
  ASSERT_TRUE(WriteProfileString(file, "A", "k", "3"));
  EXPECT_FALSE(Sandbox::Exists(app + ".Clean.ini.HeLd42")) << "its writer is gone now";
  EXPECT_TRUE(Sandbox::Exists(app + ".Clean.ini.Zz0000"));
  EXPECT_EQ(Sandbox::ReadFile(file), "[A]\nk=3\n");
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Several processes writing different keys of one file at once never lose a write: each
// read-modify-write holds the lock, so no rename carries an older file over another's key.
TEST(ProfileConcurrency, FourProcessesWritingAThousandKeysEachLoseNone) {
  testing::QuickFolder folder;
  const std::string file = folder.Path() + "/Clean.ini";
  constexpr int kProcesses = 4;
  // A thousand each; fewer where each write costs far more (a real disk's flushes, or the
  // sanitizers' thirtyfold slowdown): without the lock, most of any number get lost.
  const int writes = !folder.OnMemory() ? 100 : kSanitized ? 250 : 1000;
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(start[1]);
      char go;
      (void)!read(start[0], &go, 1);  // all start together when the pipe closes
      int failed = 0;
      for (int i = 0; i < writes; ++i)
        if (!WriteProfileString(file, i % 2 ? "Shared" : "P" + std::to_string(p), "p" + std::to_string(p) + "k" + std::to_string(i),
                                "v" + std::to_string(i)))
          ++failed;
      _exit(failed ? 1 : 0);
    }
    children.push_back(child);
  }
  close(start[0]);
  close(start[1]);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write reported failure";
  }
  const ProfileSnapshot result(file);
  int lost = 0;
  for (int p = 0; p < kProcesses; ++p)
    for (int i = 0; i < writes; ++i)
      lost += result.GetString(i % 2 ? "Shared" : "P" + std::to_string(p), "p" + std::to_string(p) + "k" + std::to_string(i),
                               "", 255) != "v" + std::to_string(i);
  EXPECT_EQ(lost, 0) << "of " << kProcesses * writes << " writes";
  EXPECT_EQ(Names(folder.Path()), std::set<std::string>{"Clean.ini"}) << "no lock or temporary file remains";
}

}  // namespace
}  // namespace tidrex::platform
