// QuinCheck.exe end to end under Wine: real services, real class key, real message boxes.
#include <gtest/gtest.h>
#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include "check_fixture.h"
#include "testsupport.h"
#include "uiauto.h"

using namespace testsupport;
using namespace checktest;

namespace {

// ---- Installation test --------------------------------------------------------------------------

// Every kind of fixture service in one list: the walk asks about exactly the ones that are not
// properly installed, in list order, and answering No changes nothing.
TEST_F(CheckTest, WalkAsksAboutExactlyTheDriversThatAreNotProperlyInstalled) {
  std::vector<std::string> list;
  Script script;
  for (const Fixture &f : Fixtures()) {
    list.push_back(f.name);
    if (!f.installed) script.push_back(Ask(Q2(f.name), IDNO));
  }
  for (const char *missing : {"qctMissA", "qctMissB"}) {
    list.push_back(missing);
    script.push_back(Ask(Q2(missing), IDNO));
  }
  SetList(0, list);
  SetTargets(0);
  RunResult r = RunCheck("", script);
  EXPECT_EQ(0u, r.exitCode);
  ExpectList(0, list);  // no repeats: the walk keeps the order
  EXPECT_FALSE(ReadRaw(HKEY_LOCAL_MACHINE, kClass, "UpperFilters").exists);
}

// The same test seen from the command line: an installed driver that is not listed is offered
// (Q1), one that is not properly installed gets W1.
TEST_F(CheckTest, CommandLineNamesGetW1UnlessProperlyInstalled) {
  std::string args = "/U";
  Script script;
  for (const Fixture &f : Fixtures()) {
    args += " " + f.name;
    script.push_back(f.installed ? Ask(Q1(f.name), IDNO) : Info(W1(f.name)));
  }
  SetTargets(1);
  RunResult r = RunCheck(args, script);
  EXPECT_EQ(0u, r.exitCode);
  EXPECT_FALSE(ReadRaw(HKEY_LOCAL_MACHINE, kClass, "UpperFilters").exists);
  EXPECT_FALSE(ReadRaw(HKEY_LOCAL_MACHINE, kClass, "LowerFilters").exists);
}

// ---- Restart notice -----------------------------------------------------------------------------

struct NoticeCase {
  const char *what;
  DWORD targets;      // the emulation's TargetsFound
  bool malformed;     // LowerFilters needs cleaning
  int answer;         // answer to Q2 about qctMissA in UpperFilters
  Script script;
};

TEST_F(CheckTest, RestartNoticeFollowsTargetsRemovalAndCleaning) {
  const std::vector<NoticeCase> cases = {
      {"targets found, cleaned: no walk, no notice", 1, true, 0, {Info(I1())}},
      {"targets found, low byte set", 0x101, false, 0, {}},
      {"no targets, removed", 0, false, IDYES,
       {Ask(Q2("qctMissA"), IDYES), Info(I2("qctMissA")), Info(W3())}},
      {"no targets, not removed, cleaned", 0, true, IDNO,
       {Info(I1()), Ask(Q2("qctMissA"), IDNO), Info(W3())}},
      {"no targets, nothing changed", 0, false, IDNO, {Ask(Q2("qctMissA"), IDNO)}},
      {"256 is no targets: only the low byte counts", 256, false, IDYES,
       {Ask(Q2("qctMissA"), IDYES), Info(I2("qctMissA")), Info(W3())}},
  };
  for (const NoticeCase &c : cases) {
    SCOPED_TRACE(c.what);
    ResetClassKey();
    if (c.malformed) SetRaw(HKEY_LOCAL_MACHINE, kClass, "LowerFilters", REG_MULTI_SZ, B("qctRel", 6));
    SetList(1, {"qctMissA", "qctRel"});
    SetTargets(c.targets);
    DWORD enumBefore = Calls("QuinCDIO_EnumTargets");
    RunResult r = RunCheck("", c.script);
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_EQ(enumBefore + 1, Calls("QuinCDIO_EnumTargets"));
    // A walk over a list without repeats keeps its order.
    if (c.answer == IDYES)
      ExpectList(1, {"qctRel"});
    else
      ExpectList(1, {"qctMissA", "qctRel"});
  }
}

// ---- Command line -------------------------------------------------------------------------------

struct CommandCase {
  const char *what;
  std::string args;
  std::vector<std::string> lowerBefore, upperBefore;  // empty: no value
  Script script;
  std::vector<std::string> lowerAfter, upperAfter;
};

TEST_F(CheckTest, CommandLineRules) {
  const std::string tabbed = "qctGood\tqctGood2";
  const std::vector<CommandCase> cases = {
      {"lower-case switch", "/u qctGood", {}, {"qctRel"},
       {Ask(Q1("qctGood"), IDYES), Info(W2())}, {}, {"qctGood", "qctRel"}},
      {"LowerFilters before the first switch, then /U", "qctGood /U qctGood2", {}, {},
       {Ask(Q1("qctGood"), IDNO), Ask(Q1("qctGood2"), IDYES), Info(W2())}, {}, {"qctGood2"}},
      {"an unknown switch is a driver name", "/X /l", {}, {}, {Info(W1("/X"))}, {}, {}},
      {"quotes stay part of the name", "\"qctGood\"", {}, {}, {Info(W1("\"qctGood\""))}, {}, {}},
      {"a tab does not separate", tabbed, {}, {}, {Info(W1(tabbed))}, {}, {}},
      {"runs of spaces and a trailing space give no extra offers", "/L   qctGood    /U  ", {"qctRel"}, {},
       {Ask(Q1("qctGood"), IDYES), Info(W2())}, {"qctGood", "qctRel"}, {}},
      {"offered again after No, silent after Yes", "qctGood qctGood qctGood", {}, {},
       {Ask(Q1("qctGood"), IDNO), Ask(Q1("qctGood"), IDYES), Info(W2())}, {"qctGood"}, {}},
      {"already listed in another case: silent", "/U QCTGOOD", {}, {"qctRel", "qctgood"}, {}, {},
       {"qctRel", "qctgood"}},
      {"listed in the other list only: offered", "/L qctGood", {}, {"qctGood"},
       {Ask(Q1("qctGood"), IDYES), Info(W2())}, {"qctGood"}, {"qctGood"}},
      {"not installed: W1 whether listed or not", "/L qctMissA /U qctMissA", {"qctMissA"}, {},
       {Info(W1("qctMissA")), Info(W1("qctMissA"))}, {"qctMissA"}, {}},
  };
  SetTargets(1);
  for (const CommandCase &c : cases) {
    SCOPED_TRACE(c.what);
    ResetClassKey();
    if (!c.lowerBefore.empty()) SetList(0, c.lowerBefore);
    if (!c.upperBefore.empty()) SetList(1, c.upperBefore);
    RunResult r = RunCheck(c.args, c.script);
    EXPECT_EQ(0u, r.exitCode);
    ExpectList(0, c.lowerAfter);
    ExpectList(1, c.upperAfter);
  }
}

// Thousands of pieces and a name far longer than any buffer: no crash, the long name's
// warning is cut at the message buffer's end and still terminated.
TEST_F(CheckTest, VeryLongCommandLines) {
  std::string switches;
  for (int i = 0; i < 2500; ++i) switches += "/L /u  ";
  SetTargets(1);
  SetList(1, {"qctGood"});
  {
    SCOPED_TRACE("thousands of switches and empty pieces");
    RunResult r = RunCheck(switches + "qctGood", {});
    EXPECT_EQ(0u, r.exitCode);
    ExpectList(1, {"qctGood"});
  }
  {
    SCOPED_TRACE("a name of 5000 characters");
    std::string name = "qct" + std::string(4997, 'n');
    RunResult r = RunCheck("/U " + name, {Info(W1(name))}, /*prefixOnly=*/true);
    EXPECT_EQ(0u, r.exitCode);
    ASSERT_EQ(1u, r.boxes.size());
    EXPECT_GE(r.boxes[0].text.size(), 1023u);
    EXPECT_LE(r.boxes[0].text.size(), 1024u);
    ExpectList(1, {"qctGood"});
  }
}

// A listed name far longer than any buffer is asked about and removed like any other.
TEST_F(CheckTest, VeryLongListedName) {
  std::string name = "qct" + std::string(3000, 'x');
  SetList(0, {name, "qctRel"});
  SetTargets(0);
  RunResult r = RunCheck("", {Ask(Q2(name), IDYES), Info(I2(name)), Info(W3())}, /*prefixOnly=*/true);
  EXPECT_EQ(0u, r.exitCode);
  ExpectList(0, {"qctRel"});
}

// ---- Cleaning -----------------------------------------------------------------------------------

struct CleanCase {
  const char *what;
  DWORD lowerType;
  Bytes lower;
  DWORD upperType;
  Bytes upper;
  bool reported;  // I1
  RawValue lowerAfter, upperAfter;
};

RawValue Multi(const Bytes &b) { return RawValue{true, REG_MULTI_SZ, b}; }
RawValue Gone() { return RawValue{}; }

TEST_F(CheckTest, MalformedListsAreCleanedAndReported) {
  const std::vector<CleanCase> cases = {
      {"missing closing NULs; REG_SZ without its NUL", REG_MULTI_SZ, B("qctGood\0qctRel", 14), REG_SZ,
       B("qctRel", 6), true, Multi(B("qctGood\0qctRel\0\0", 16)), Multi(B("qctRel\0\0", 8))},
      {"foreign types and an empty list are deleted", REG_DWORD, B("\1\0\0\0", 4), REG_MULTI_SZ, B("\0\0", 2),
       true, Gone(), Gone()},
      {"REG_EXPAND_SZ of the wrong size; junk after the empty string", REG_EXPAND_SZ, B("qctRel\0", 7),
       REG_MULTI_SZ, B("qctRel\0\0qctGood\0\0", 17), true, Multi(B("qctRel\0\0", 8)),
       Multi(B("qctRel\0\0", 8))},
      {"binary deleted; REG_SZ of the right size kept", REG_BINARY, B("qctRel\0\0", 8), REG_SZ,
       B("qctRel\0\0", 8), true, Gone(), RawValue{true, REG_SZ, B("qctRel\0\0", 8)}},
      {"no NUL at all; zero bytes", REG_MULTI_SZ, B("qctRel", 6), REG_MULTI_SZ, Bytes(), true,
       Multi(B("qctRel\0\0", 8)), Gone()},
      {"canonical lists and a one-byte empty list: nothing to report", REG_MULTI_SZ, B("\0", 1),
       REG_MULTI_SZ, B("qctRel\0qctGood\0\0", 16), false, Multi(B("\0", 1)),
       Multi(B("qctRel\0qctGood\0\0", 16))},
  };
  SetTargets(1);
  for (const CleanCase &c : cases) {
    SCOPED_TRACE(c.what);
    ResetClassKey();
    ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKEY_LOCAL_MACHINE, kClass, "LowerFilters", c.lowerType, c.lower));
    ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKEY_LOCAL_MACHINE, kClass, "UpperFilters", c.upperType, c.upper));
    RunResult r = RunCheck("", c.reported ? Script{Info(I1())} : Script{});
    EXPECT_EQ(0u, r.exitCode);
    ExpectRaw("LowerFilters", c.lowerAfter);
    ExpectRaw("UpperFilters", c.upperAfter);
  }
}

// ---- Verification walk --------------------------------------------------------------------------

// LowerFilters is walked before UpperFilters; a repeated name is asked about at each visit and
// put back at the end first; Yes removes every spelling of it.
TEST_F(CheckTest, WalkWithRepeatedNamesAndYesNoAnswers) {
  SetList(0, {"qctMissA", "qctRel", "QCTMISSA", "qctMissB"});
  SetList(1, {"qctMissB"});
  SetTargets(0);
  RunResult r = RunCheck("", {Ask(Q2("qctMissA"), IDYES), Info(I2("qctMissA")), Ask(Q2("QCTMISSA"), IDNO),
                        Ask(Q2("qctMissB"), IDNO), Ask(Q2("qctMissB"), IDYES), Info(I2("qctMissB")),
                        Info(W3())});
  EXPECT_EQ(0u, r.exitCode);
  ExpectList(0, {"qctRel", "QCTMISSA", "qctMissB"});
  ExpectRaw("UpperFilters", Gone());  // its only entry went: the value is deleted
}

TEST_F(CheckTest, WalkRemovesEveryOccurrenceAndAsksAgainAtTheNextVisit) {
  SetList(1, {"qctMissA", "qctDrv", "qctmissa"});
  SetTargets(0);
  RunResult r = RunCheck("", {Ask(Q2("qctMissA"), IDYES), Info(I2("qctMissA")), Ask(Q2("qctmissa"), IDNO),
                        Info(W3())});
  EXPECT_EQ(0u, r.exitCode);
  ExpectList(1, {"qctDrv", "qctmissa"});
}

// Lists stored as REG_SZ or REG_EXPAND_SZ in canonical size are not cleaned, but the walk reads
// them and writes each back as REG_MULTI_SZ.
TEST_F(CheckTest, WalkReadsSingleStringLists) {
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKEY_LOCAL_MACHINE, kClass, "LowerFilters", REG_SZ, B("qctMissA\0\0", 10)));
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKEY_LOCAL_MACHINE, kClass, "UpperFilters", REG_EXPAND_SZ, B("qctRel\0\0", 8)));
  SetTargets(0);
  RunResult r = RunCheck("", {Ask(Q2("qctMissA"), IDNO)});
  EXPECT_EQ(0u, r.exitCode);
  ExpectList(0, {"qctMissA"});
  ExpectList(1, {"qctRel"});
}

// ---- Failed registry writes show the real error code --------------------------------------------

TEST_F(CheckTest, FailedAddShowsTheRegistryError) {
  SetList(1, {"qctRel"});
  SetTargets(1);
  {
    DenySetValue deny(kClass);
    ASSERT_TRUE(deny.applied());
    RunResult r = RunCheck("/U qctGood", {Ask(Q1("qctGood"), IDYES), Info(E2(ERROR_ACCESS_DENIED, "qctGood"))});
    EXPECT_EQ(0u, r.exitCode);
  }
  ExpectList(1, {"qctRel"});
}

TEST_F(CheckTest, FailedRemovalShowsTheRegistryError) {
  SetList(0, {"qctMissA"});
  SetTargets(0);
  std::unique_ptr<DenySetValue> deny;
  RunResult r = RunCheck("", {Ask(Q2("qctMissA"), IDYES), Info(E3(ERROR_ACCESS_DENIED, "qctMissA"))}, false,
                   [&](size_t index, const ui::Box &) {
                     if (index == 0) deny.reset(new DenySetValue(kClass));
                   });
  ASSERT_TRUE(deny && deny->applied());
  deny.reset();
  EXPECT_EQ(0u, r.exitCode);
  ExpectList(0, {"qctMissA"});
}

// ---- Ways out -----------------------------------------------------------------------------------

TEST_F(CheckTest, HeldNameGivesExit30WithoutABoxAndShutsTheLayerDown) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "QuinCheck");
  ASSERT_TRUE(mutex != nullptr);
  SetRaw(HKEY_LOCAL_MACHINE, kClass, "LowerFilters", REG_MULTI_SZ, B("qctRel", 6));
  SetTargets(0);
  DWORD init = Calls("QuinCDIO_InitScsi"), enumT = Calls("QuinCDIO_EnumTargets");
  RunResult r = RunCheck("/U qctGood", {}, false, nullptr, /*deinitCalls=*/1);
  CloseHandle(mutex);
  EXPECT_EQ(30u, r.exitCode);
  EXPECT_EQ(init + 1, Calls("QuinCDIO_InitScsi"));
  EXPECT_EQ(enumT, Calls("QuinCDIO_EnumTargets"));
  ExpectRaw("LowerFilters", RawValue{true, REG_MULTI_SZ, B("qctRel", 6)});  // nothing cleaned
}

TEST_F(CheckTest, LayerThatDoesNotStartGivesExit20WithoutABox) {
  for (DWORD result : {1u, 0x100u}) {
    SCOPED_TRACE(result);
    ResetClassKey();
    SetRaw(HKEY_LOCAL_MACHINE, kClass, "LowerFilters", REG_MULTI_SZ, B("qctRel", 6));
    SetDword(HKEY_LOCAL_MACHINE, kEmulation, "InitResult", result);
    SetTargets(0);
    DWORD enumT = Calls("QuinCDIO_EnumTargets");
    RunResult r = RunCheck("/U qctGood", {}, false, nullptr, /*deinitCalls=*/0);
    EXPECT_EQ(20u, r.exitCode);
    EXPECT_EQ(enumT, Calls("QuinCDIO_EnumTargets"));
    ExpectRaw("LowerFilters", RawValue{true, REG_MULTI_SZ, B("qctRel", 6)});
  }
}

struct GateCase {
  const char *version;
  bool runs;
};

TEST_F(CheckTest, OnlyNtFiveAndLaterRun) {
  const std::string appKey = "Software\\Wine\\AppDefaults\\QuinCheck.exe";
  SavedKey savedApp(HKEY_CURRENT_USER, appKey);
  SetTargets(1);
  for (const GateCase &c : {GateCase{"win98", false}, GateCase{"nt40", false}, GateCase{"win2k", true}}) {
    SCOPED_TRACE(c.version);
    ResetClassKey();
    SetRaw(HKEY_LOCAL_MACHINE, kClass, "LowerFilters", REG_MULTI_SZ, B("qctRel", 6));
    ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, appKey, "Version", c.version));
    DWORD init = Calls("QuinCDIO_InitScsi");
    RunResult r = RunCheck("/U qctGood", c.runs ? Script{Info(I1()), Ask(Q1("qctGood"), IDNO)} : Script{}, false,
                     nullptr, c.runs ? 1 : 0);
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_EQ(init + (c.runs ? 1 : 0), Calls("QuinCDIO_InitScsi"));
    if (!c.runs) ExpectRaw("LowerFilters", RawValue{true, REG_MULTI_SZ, B("qctRel", 6)});
  }
  DeleteValue(HKEY_CURRENT_USER, appKey, "Version");
}

// Copies started while one runs wait, without any window, and go on one at a time: each end
// lets exactly one waiting copy make its own full run.
TEST_F(CheckTest, CopiesStartedTogetherRunOneAfterAnother) {
  SetList(0, {"qctMissA"});
  SetTargets(0);
  DWORD deinit = Calls("QuinCDIO_DeInitScsi");
  Program first(DistPath("QuinCheck.exe"), "", WorkDir());
  ui::Box box = ui::WaitBox("QuinCheck", first.pid());
  ASSERT_TRUE(box);
  EXPECT_EQ(Q2("qctMissA"), box.text);
  std::unique_ptr<Program> waiting[2] = {
      std::unique_ptr<Program>(new Program(DistPath("QuinCheck.exe"), "", WorkDir())),
      std::unique_ptr<Program>(new Program(DistPath("QuinCheck.exe"), "", WorkDir()))};
  Sleep(2500);  // time enough for both copies to start up and reach their wait
  for (auto &p : waiting) {
    EXPECT_TRUE(p->Running());
    EXPECT_TRUE(ui::WindowsOf(p->pid()).empty());
  }
  EXPECT_TRUE(first.Running());
  ASSERT_TRUE(ui::No(box.hwnd));
  EXPECT_EQ(0u, first.Wait(20000));

  // Exactly one of the two goes on; which one is the system's choice.
  int next = -1;
  for (DWORD start = GetTickCount(); next < 0 && GetTickCount() - start < ui::kWait;) {
    for (int i = 0; i < 2 && next < 0; ++i)
      if ((box = ui::WaitBox("QuinCheck", waiting[i]->pid(), 100))) next = i;
  }
  ASSERT_GE(next, 0);
  Program &second = *waiting[next], &third = *waiting[1 - next];
  EXPECT_EQ(Q2("qctMissA"), box.text);
  Sleep(1000);
  EXPECT_TRUE(third.Running());
  EXPECT_TRUE(ui::WindowsOf(third.pid()).empty());
  ASSERT_TRUE(ui::No(box.hwnd));
  EXPECT_EQ(0u, second.Wait(20000));

  const Script last = {Ask(Q2("qctMissA"), IDYES), Info(I2("qctMissA")), Info(W3())};
  std::vector<ui::Box> boxes;
  for (const Step &step : last) {
    box = ui::WaitBox("QuinCheck", third.pid());
    ASSERT_TRUE(box) << step.text;
    boxes.push_back(box);
    ui::Press(box.hwnd, step.answer);
    ASSERT_TRUE(ui::WaitGone(box.hwnd));
  }
  EXPECT_EQ(0u, third.Wait(20000));
  ExpectBoxes(boxes, last, false);
  EXPECT_EQ(deinit + 3, Calls("QuinCDIO_DeInitScsi"));
  ExpectRaw("LowerFilters", Gone());
}

// The scenario a user meets after a broken uninstall: a malformed UpperFilters naming a driver
// whose service is gone.
TEST_F(CheckTest, MalformedListWithADriverWithoutService) {
  ASSERT_EQ(ERROR_SUCCESS,
            SetRaw(HKEY_LOCAL_MACHINE, kClass, "UpperFilters", REG_MULTI_SZ, B("qctRel\0qctMissA", 15)));
  SetTargets(0);
  RunResult r = RunCheck("", {Info(I1()), Ask(Q2("qctMissA"), IDYES), Info(I2("qctMissA")), Info(W3())});
  EXPECT_EQ(0u, r.exitCode);
  ExpectRaw("UpperFilters", Multi(B("qctRel\0\0", 8)));
  ExpectRaw("LowerFilters", Gone());
}

// ---- The file itself ----------------------------------------------------------------------------

TEST(QuinCheckFile, VersionResourceAndSize) {
  std::string exe = DistPath("QuinCheck.exe");
  WIN32_FILE_ATTRIBUTE_DATA attrs;
  ASSERT_TRUE(GetFileAttributesExA(exe.c_str(), GetFileExInfoStandard, &attrs));
  EXPECT_LE(attrs.nFileSizeLow, 48u * 1024u);
  VersionInfo info = ReadVersionInfo(exe);
  ASSERT_TRUE(info.ok);
  const VS_FIXEDFILEINFO *fixed = &info.fixed;
  EXPECT_EQ(0x00020001u, fixed->dwFileVersionMS);
  EXPECT_EQ(0u, fixed->dwFileVersionLS);
  EXPECT_EQ(0x00020001u, fixed->dwProductVersionMS);
  EXPECT_EQ(0u, fixed->dwProductVersionLS);
  EXPECT_EQ(DWORD(VS_FF_PRIVATEBUILD | VS_FF_SPECIALBUILD), fixed->dwFileFlags & fixed->dwFileFlagsMask);
  ASSERT_FALSE(info.translations.empty());
  EXPECT_EQ(std::make_pair(WORD(0x0409), WORD(1200)), info.translations[0]) << "US English, Unicode";
  const std::vector<std::pair<const char *, const char *>> strings = {
      {"FileDescription", "QuinCheck"},
      {"InternalName", "QuinCheck"},
      {"OriginalFilename", "QuinCheck.exe"},
      {"Comments", "Checks Filter Drivers for the CD-ROM Class"},
      {"ProductName", "Quintessa QuinCheck"},
      {"PrivateBuild", "No"},
      {"SpecialBuild", "Windows 2000/XP"},
  };
  for (const auto &s : strings) EXPECT_EQ(s.second, info.String(s.first)) << s.first;
}

}  // namespace
