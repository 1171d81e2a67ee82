// QuinCheck's command line: where the program name ends, switches between the lists, offers in
// runs without targets, and copies started from folders named with national letters.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <string>
#include <vector>
#include "check_fixture.h"
#include "checker.h"
#include "testsupport.h"

using namespace testsupport;
using namespace checktest;

namespace {

// ---- Where the program name ends ----------------------------------------------------------------

struct SkipCase {
  const char *what;
  std::string line;
  std::string rest;  // what follows the name and its blanks
};

TEST(SkipProgramName, EndsTheNameByTheWindowsRuleAndKeepsEveryByteAbove0x7F) {
  const std::vector<SkipCase> cases = {
      {"empty line", "", ""},
      {"only a name", "QuinCheck.exe", ""},
      {"only a name and blanks", "QuinCheck.exe \t ", ""},
      {"unquoted name", "QuinCheck.exe /U qctA", "/U qctA"},
      {"a tab ends an unquoted name", "QuinCheck.exe\t/U qctA", "/U qctA"},
      {"blanks behind the name go, blanks further on stay", "QuinCheck.exe \t  /U  qctA  ", "/U  qctA  "},
      {"unquoted path through a national folder", "C:\\Programme\\Pr\xFC" "fung\\QuinCheck.exe", ""},
      {"national folder, then arguments", "C:\\Pr\xFC" "fung\\QuinCheck.exe /U \xC4" "qctX", "/U \xC4" "qctX"},
      {"an argument beginning with a national letter", "QuinCheck.exe \xC4" "qctX", "\xC4" "qctX"},
      {"no-break space and 0xFF are no blanks", "Q\xA0\xFF.exe \xA0\xFFx", "\xA0\xFFx"},
      {"quoted name with spaces", "\"C:\\Program Files\\Pr\xFC" "f \xC4\\QuinCheck.exe\" /U qctA", "/U qctA"},
      {"quoted name only", "\"C:\\a b\\QuinCheck.exe\"", ""},
      {"quoted name, then tabs and spaces", "\"C:\\a b\\QuinCheck.exe\"\t \t/U qctA", "/U qctA"},
      {"text right behind the closing quote", "\"QuinCheck.exe\"/U qctA", "/U qctA"},
      {"empty quoted name", "\"\" qctA", "qctA"},
      {"unclosed quote: all of it is the name", "\"C:\\a b\\QuinCheck.exe /U qctA", ""},
      {"a quote inside an unquoted name", "Quin\"Check x\".exe qctA", "x\".exe qctA"},
  };
  for (const SkipCase &c : cases) {
    SCOPED_TRACE(c.what);
    const char *rest = SkipProgramName(c.line.c_str());
    // A pointer into the line itself, at its tail.
    EXPECT_EQ(c.line.c_str() + c.line.size() - c.rest.size(), rest);
    EXPECT_EQ(c.rest, std::string(rest));
  }
  EXPECT_STREQ("", SkipProgramName(nullptr));
}

// ---- Switches and offers --------------------------------------------------------------------------

struct OfferCase {
  const char *what;
  DWORD targets;
  bool malformedLower;  // LowerFilters "qctRel" without its NULs: the run cleans it (I1)
  std::vector<std::string> lowerBefore, upperBefore;
  std::string args;
  Script script;
  std::vector<std::string> lowerAfter, upperAfter;  // empty: no value
};

TEST_F(CheckTest, SwitchesGoBothWaysAndOffersInRunsWithoutTargets) {
  const std::vector<OfferCase> cases = {
      {"/U alpha beta /L gamma: gamma goes back to LowerFilters", 1, false, {}, {},
       "/U qctGood qctGood2 /L qctRel",
       {Ask(Q1("qctGood"), IDYES), Info(W2()), Ask(Q1("qctGood2"), IDYES), Info(W2()), Ask(Q1("qctRel"), IDYES),
        Info(W2())},
       {"qctRel"}, {"qctGood2", "qctGood"}},
      {"gamma /U alpha /l beta", 1, false, {}, {}, "qctRel /U qctGood /l qctGood2",
       {Ask(Q1("qctRel"), IDYES), Info(W2()), Ask(Q1("qctGood"), IDYES), Info(W2()), Ask(Q1("qctGood2"), IDYES),
        Info(W2())},
       {"qctGood2", "qctRel"}, {"qctGood"}},
      {"no targets: an addition alone asks for no restart beyond W2", 0, false, {}, {}, "/U qctGood",
       {Ask(Q1("qctGood"), IDYES), Info(W2())}, {}, {"qctGood"}},
      {"no targets: W3 on account of the cleaning", 0, true, {}, {}, "/U qctGood",
       {Info(I1()), Ask(Q1("qctGood"), IDYES), Info(W2()), Info(W3())}, {"qctRel"}, {"qctGood"}},
      {"no targets: W3 on account of the verification", 0, false, {"qctMissA"}, {}, "/U qctGood",
       {Ask(Q1("qctGood"), IDYES), Info(W2()), Ask(Q2("qctMissA"), IDYES), Info(I2("qctMissA")), Info(W3())}, {},
       {"qctGood"}},
      {"no targets: a declined offer and a kept driver ask for nothing", 0, false, {"qctMissA"}, {},
       "/U qctGood", {Ask(Q1("qctGood"), IDNO), Ask(Q2("qctMissA"), IDNO)}, {"qctMissA"}, {}},
      {"no targets: the walk sees the added driver in front and keeps the order", 0, false,
       {"qctMissA", "qctRel"}, {}, "/L qctGood",
       {Ask(Q1("qctGood"), IDYES), Info(W2()), Ask(Q2("qctMissA"), IDNO)}, {"qctGood", "qctMissA", "qctRel"}, {}},
  };
  for (const OfferCase &c : cases) {
    SCOPED_TRACE(c.what);
    ResetClassKey();
    if (c.malformedLower) SetRaw(HKEY_LOCAL_MACHINE, kClass, "LowerFilters", REG_MULTI_SZ, B("qctRel", 6));
    if (!c.lowerBefore.empty()) SetList(0, c.lowerBefore);
    if (!c.upperBefore.empty()) SetList(1, c.upperBefore);
    SetTargets(c.targets);
    RunResult r = RunCheck(c.args, c.script);
    EXPECT_EQ(0u, r.exitCode);
    ExpectList(0, c.lowerAfter);
    ExpectList(1, c.upperAfter);
  }
}

// ---- Started from folders named with national letters ---------------------------------------------

// A copy of the deployable checker and its CD I/O layer in a folder of the temp directory,
// removed again at the end of its scope.
class CopiedChecker {
 public:
  explicit CopiedChecker(const std::string &folder) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + folder;
    EXPECT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) << dir_;
    for (const char *file : kFiles)
      EXPECT_TRUE(CopyFileA(DistPath(file).c_str(), (dir_ + "\\" + file).c_str(), FALSE)) << file;
  }
  ~CopiedChecker() {
    for (const char *file : kFiles) DeleteFileA((dir_ + "\\" + file).c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  std::string exe() const { return dir_ + "\\QuinCheck.exe"; }

 private:
  static constexpr const char *kFiles[] = {"QuinCheck.exe", "QuinCDIO.dll"};
  std::string dir_;
};
constexpr const char *CopiedChecker::kFiles[];

struct FolderArgs {
  const char *what;
  std::string args;  // as written behind the program name
  Script script;     // behind the cleaning's I1
  std::vector<std::string> lowerAfter, upperAfter;
};

TEST_F(CheckTest, StartedFromNationalFoldersQuotedOrNot) {
  // The folder names are letters of the Western code page; in another one they could be the
  // lead bytes of double-byte characters.
  ASSERT_EQ(1252u, GetACP());
  CopiedChecker unquoted("qctPr\xFC" "fung");    // no space: it can stand unquoted
  CopiedChecker quoted("qct Pr\xFC" "f \xC4" "rger");  // spaces: it must be quoted
  const std::string national = kNationalName;
  const std::vector<FolderArgs> argCases = {
      {"no arguments", "", {}, {"qctRel"}, {}},
      {"/U and a name with a national letter", " /U " + national, {Ask(Q1(national), IDYES), Info(W2())},
       {"qctRel"}, {national}},
      {"a first argument beginning with a national letter", " " + national,
       {Ask(Q1(national), IDYES), Info(W2())}, {national, "qctRel"}, {}},
  };
  struct Start {
    const char *what;
    std::string exe, name;  // the file, and the program name as the command line writes it
  };
  const std::vector<Start> starts = {{"unquoted path", unquoted.exe(), unquoted.exe()},
                                     {"quoted path with spaces", quoted.exe(), "\"" + quoted.exe() + "\""}};
  for (const Start &s : starts) {
    SCOPED_TRACE(s.what);
    for (const FolderArgs &c : argCases) {
      SCOPED_TRACE(c.what);
      ResetClassKey();
      // A list that needs cleaning: its I1 is the one box every run shows.
      SetRaw(HKEY_LOCAL_MACHINE, kClass, "LowerFilters", REG_MULTI_SZ, B("qctRel", 6));
      Script script = {Info(I1())};
      script.insert(script.end(), c.script.begin(), c.script.end());
      RunResult r = RunCheckAs(s.exe, s.name + c.args, script);
      EXPECT_EQ(0u, r.exitCode);
      ExpectList(0, c.lowerAfter);
      ExpectList(1, c.upperAfter);
    }
  }
}

}  // namespace
