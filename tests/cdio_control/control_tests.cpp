// End-to-end tests of ControlQuinCDIO.exe under Wine: the real program, its
// dialog and message boxes, the registry switches it reads and writes, and its
// resources.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>
#include "testsupport.h"
#include "uiauto.h"

using namespace testsupport;

namespace {

const char kCaption[] = "QuinCDIO Driver Control 4.2";
const char kKey[] = "SOFTWARE\\Quintessa\\QuinCDIO";
const char kParentKey[] = "SOFTWARE\\Quintessa";
const char kTimed[] = "NoTimedIO";
const char kLocked[] = "NoLockedIO";
const int kTimedBox = 1001;
const int kLockedBox = 1002;

const char kTimedWarning[] =
    "WARNING!\nYou are going to disable I/O Timing!\nOnly disable this mode, if you have trouble running\n"
    "Quintessa Tessaro on your computer!\n\nDo you really want to disable I/O Timing?";
const char kLockedWarning[] =
    "WARNING!\nYou are going to disable Locked I/O mode!\nOnly enable this mode, if you have trouble running\n"
    "Quintessa Tessaro on your computer!\n\nDo you really want to disable Locked I/O mode?";
const char kWriteFailed[] = "Can't write changes to Registry!";

// How long a box that should not come is given to come anyway.
const DWORD kNoBoxWait = 800;

std::string ExePath() { return DistPath("ControlQuinCDIO.exe"); }

Bytes Dword(DWORD v) { return Bytes((unsigned char *)&v, (unsigned char *)&v + 4); }

std::string ClassOf(HWND w) {
  char cls[64] = "";
  GetClassNameA(w, cls, sizeof cls);
  return cls;
}

// A value to store before the program starts; `present` false: no value.
struct Stored {
  bool present;
  DWORD type;
  Bytes data;
};
Stored Missing() { return {false, 0, {}}; }
Stored Raw(DWORD type, const Bytes &data) { return {true, type, data}; }
Stored Dw(DWORD v) { return {true, REG_DWORD, Dword(v)}; }

void Store(const char *name, const Stored &s) {
  if (s.present) {
    ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKEY_LOCAL_MACHINE, kKey, name, s.type, s.data)) << name;
  } else {
    DeleteValue(HKEY_LOCAL_MACHINE, kKey, name);
  }
}

::testing::AssertionResult Same(const RawValue &a, const RawValue &b) {
  if (a.exists != b.exists) return ::testing::AssertionFailure() << "exists " << a.exists << " vs " << b.exists;
  if (a.exists && (a.type != b.type || a.data != b.data))
    return ::testing::AssertionFailure() << "type/size " << a.type << "/" << a.data.size() << " vs " << b.type
                                         << "/" << b.data.size();
  return ::testing::AssertionSuccess();
}

// The program's value as written by it: a 4-byte REG_DWORD of exactly `v`.
::testing::AssertionResult IsDword(const char *name, DWORD v) {
  RawValue r = ReadRaw(HKEY_LOCAL_MACHINE, kKey, name);
  if (!r.exists) return ::testing::AssertionFailure() << name << " is missing";
  if (r.type != REG_DWORD) return ::testing::AssertionFailure() << name << " has type " << r.type;
  if (r.data != Dword(v))
    return ::testing::AssertionFailure() << name << " has " << r.data.size() << " bytes, not the DWORD " << v;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult IsMissing(const char *name) {
  if (ReadRaw(HKEY_LOCAL_MACHINE, kKey, name).exists)
    return ::testing::AssertionFailure() << name << " was written";
  return ::testing::AssertionSuccess();
}

// Both switches as they are now, to see later that nothing was written.
struct Switches {
  RawValue timed, locked;
};
Switches Snapshot() {
  return {ReadRaw(HKEY_LOCAL_MACHINE, kKey, kTimed), ReadRaw(HKEY_LOCAL_MACHINE, kKey, kLocked)};
}
void ExpectUnchanged(const Switches &before) {
  EXPECT_TRUE(Same(before.timed, ReadRaw(HKEY_LOCAL_MACHINE, kKey, kTimed))) << kTimed;
  EXPECT_TRUE(Same(before.locked, ReadRaw(HKEY_LOCAL_MACHINE, kKey, kLocked))) << kLocked;
}

// One run of the program, with its dialog once it is up.
struct Session {
  Program prog;
  HWND dlg = nullptr;
  Session() : prog(ExePath(), "") {
    if (prog.started()) dlg = ui::WaitWindow(kCaption, prog.pid(), ui::kWait, "#32770");
  }

  // A message box of the program: a dialog-class window with its caption
  // other than the settings dialog itself. Empty after `timeoutMs`.
  ui::Box WaitMessageBox(DWORD timeoutMs = ui::kWait) const {
    DWORD start = GetTickCount();
    for (;;) {
      for (HWND w : ui::FindWindows(kCaption, prog.pid())) {
        if (w == dlg || ClassOf(w) != "#32770") continue;
        ui::Box b = ui::ReadBox(w);
        for (int i = 0; i < 20 && (b.buttons.empty() || b.text.empty()); ++i) {
          Sleep(50);
          b = ui::ReadBox(w);
        }
        return b;
      }
      if (GetTickCount() - start >= timeoutMs) return ui::Box();
      Sleep(50);
    }
  }

  bool Open() const { return prog.Running() && IsWindow(dlg) && IsWindowVisible(dlg); }
};

void Answer(const ui::Box &box, int id) {
  ASSERT_TRUE(ui::Press(box.hwnd, id));
  ASSERT_TRUE(ui::WaitGone(box.hwnd, 5000));
}

// The warning for one switch, owned by the dialog, with Yes and No.
void ExpectWarning(const Session &s, const ui::Box &box, const char *text) {
  ASSERT_TRUE(box) << "no warning came";
  EXPECT_EQ(kCaption, box.caption);
  EXPECT_EQ(text, box.text);
  EXPECT_EQ("&Yes|&No", box.ButtonTexts());
  ASSERT_EQ(2u, box.buttons.size());
  EXPECT_EQ(IDYES, box.buttons[0].id);
  EXPECT_EQ(IDNO, box.buttons[1].id);
  EXPECT_EQ(s.dlg, GetWindow(box.hwnd, GW_OWNER));
}

// The refusal, owned by the dialog, with OK only.
void ExpectWriteFailed(const Session &s, const ui::Box &box) {
  ASSERT_TRUE(box) << "no error box came";
  EXPECT_EQ(kCaption, box.caption);
  EXPECT_EQ(kWriteFailed, box.text);
  EXPECT_EQ("OK", box.ButtonTexts());
  ASSERT_EQ(1u, box.buttons.size());
  EXPECT_EQ(IDOK, box.buttons[0].id);
  EXPECT_EQ(s.dlg, GetWindow(box.hwnd, GW_OWNER));
}

// After an answer: no further box comes, and the dialog is still up.
void ExpectStaysOpenQuietly(const Session &s) {
  ui::Box extra = s.WaitMessageBox(kNoBoxWait);
  EXPECT_FALSE(extra) << "unexpected box: " << extra.text;
  if (extra) Answer(extra, extra.buttons.size() == 2 ? IDNO : IDOK);
  EXPECT_TRUE(s.Open());
}

void ExpectEndsWithZero(Session &s) {
  DWORD code = s.prog.Wait(10000);
  EXPECT_EQ(0u, code) << (code == STILL_ACTIVE ? "still running" : "exit code");
  if (code == STILL_ACTIVE) {
    ui::Box b = s.WaitMessageBox(100);
    if (b) ADD_FAILURE() << "a box is open: " << b.text;
  }
}

// Starts a program that must end at once with 0 without ever showing a window.
void ExpectEndsSilently(const char *why) {
  SCOPED_TRACE(why);
  Program p(ExePath(), "");
  ASSERT_TRUE(p.started());
  bool window = false;
  DWORD code = STILL_ACTIVE;
  DWORD start = GetTickCount();
  while (GetTickCount() - start < 15000) {
    if (!ui::WindowsOf(p.pid()).empty()) window = true;
    code = p.Wait(20);
    if (code != STILL_ACTIVE) break;
  }
  EXPECT_EQ(0u, code) << (code == STILL_ACTIVE ? "still running" : "exit code");
  EXPECT_FALSE(window) << "it showed a window";
}

// The registry switches of the I/O layer are the program's whole output; the
// fixture puts the real key back as it was, with the device-layer emulation
// settings that other programs keep in its subkey "Emulation".
class ControlTest : public ::testing::Test {
 protected:
  SavedKey saved_{HKEY_LOCAL_MACHINE, kKey};
  void SetUp() override {
    DeleteValue(HKEY_LOCAL_MACHINE, kKey, kTimed);
    DeleteValue(HKEY_LOCAL_MACHINE, kKey, kLocked);
  }
};

// ---------------------------------------------------------------------------
// Start state: each box shows its own value, read by its bytes.

struct StartCase {
  const char *name;
  bool keyMissing;
  Stored timed, locked;
  bool timedOn, lockedOn;
};

void PrintTo(const StartCase &c, std::ostream *os) { *os << c.name; }

class StartState : public ControlTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartState, BoxesShowTheStoredSwitchesAndOkWithoutChangeWritesNothing) {
  const StartCase &c = GetParam();
  if (c.keyMissing) {
    ASSERT_TRUE(DeleteTree(HKEY_LOCAL_MACHINE, kKey));
  } else {
    ASSERT_EQ(ERROR_SUCCESS, SetDword(HKEY_LOCAL_MACHINE, kKey, "Unrelated", 1));
    Store(kTimed, c.timed);
    Store(kLocked, c.locked);
  }
  Switches before = Snapshot();

  Session s;
  ASSERT_TRUE(s.dlg) << "no dialog";
  EXPECT_EQ(c.timedOn, ui::IsChecked(s.dlg, kTimedBox)) << kTimed;
  EXPECT_EQ(c.lockedOn, ui::IsChecked(s.dlg, kLockedBox)) << kLocked;

  // Unchanged boxes: OK closes at once, asks nothing and leaves odd values as they are.
  ASSERT_TRUE(ui::Press(s.dlg, IDOK));
  ExpectEndsWithZero(s);
  ExpectUnchanged(before);
  EXPECT_EQ(!c.keyMissing, KeyExists(HKEY_LOCAL_MACHINE, kKey));
}

const Bytes kQword1 = B("\x01\0\0\0\0\0\0\0", 8);

INSTANTIATE_TEST_SUITE_P(
    Values, StartState,
    ::testing::Values(
        StartCase{"KeyMissing", true, Missing(), Missing(), false, false},
        StartCase{"ValuesMissing", false, Missing(), Missing(), false, false},
        StartCase{"TimedOnly", false, Dw(1), Dw(0), true, false},
        StartCase{"LockedOnly", false, Dw(0), Dw(1), false, true},
        // Any non-zero bit counts, not just the low byte or the value 1.
        StartCase{"HighBits", false, Dw(0x100), Dw(0x80000000), true, true},
        StartCase{"OneByteBinary", false, Raw(REG_BINARY, B("\x01", 1)), Raw(REG_BINARY, B("\0", 1)), true, false},
        StartCase{"TwoByteBinary", false, Raw(REG_BINARY, B("\0\0", 2)), Raw(REG_BINARY, B("\0\x01", 2)), false,
                  true},
        StartCase{"ThreeAndZeroBytes", false, Raw(REG_BINARY, B("\0\0\x01", 3)), Raw(REG_BINARY, Bytes()), true,
                  false},
        // "0" is the bytes '0' and NUL: non-zero. The empty string is one NUL.
        StartCase{"Strings", false, Raw(REG_SZ, B("0", 2)), Raw(REG_SZ, B("", 1)), true, false},
        StartCase{"OtherFourByteTypes", false, Raw(REG_DWORD_BIG_ENDIAN, B("\0\0\0\x01", 4)),
                  Raw(REG_MULTI_SZ, B("a\0", 3)), true, true},
        // Longer than 4 bytes: the read fails and the box stays unchecked.
        StartCase{"LongerThanFourBytes", false, Raw(REG_QWORD, kQword1), Raw(REG_BINARY, B("\x01\x01\x01\x01\x01", 5)),
                  false, false},
        StartCase{"LongStrings", false, Raw(REG_SZ, B("1234", 5)), Raw(REG_MULTI_SZ, B("1\0002\0003\0", 7)), false,
                  false}),
    [](const ::testing::TestParamInfo<StartCase> &i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// Switching one switch on: the warning, then Yes writes and closes, No writes
// nothing and leaves the dialog open.

struct SwitchOnCase {
  const char *name;
  const char *value;
  const char *other;
  int box;
  const char *warning;
  bool yes;
  bool keyMissing;
};

void PrintTo(const SwitchOnCase &c, std::ostream *os) { *os << c.name; }

class SwitchOn : public ControlTest, public ::testing::WithParamInterface<SwitchOnCase> {};

TEST_P(SwitchOn, WarnsThenWritesOnYesOnly) {
  const SwitchOnCase &c = GetParam();
  if (c.keyMissing) {
    ASSERT_TRUE(DeleteTree(HKEY_LOCAL_MACHINE, kKey));
  } else {
    Store(kTimed, Dw(0));
    Store(kLocked, Dw(0));
  }
  Switches before = Snapshot();

  Session s;
  ASSERT_TRUE(s.dlg);
  ASSERT_TRUE(ui::SetCheck(s.dlg, c.box, true));
  ASSERT_TRUE(ui::Press(s.dlg, IDOK));
  ui::Box warning = s.WaitMessageBox();
  ExpectWarning(s, warning, c.warning);
  ASSERT_TRUE(warning);
  Answer(warning, c.yes ? IDYES : IDNO);

  if (c.yes) {
    ExpectEndsWithZero(s);
    EXPECT_TRUE(IsDword(c.value, 1));
    if (c.keyMissing) {
      EXPECT_TRUE(IsMissing(c.other));
    } else {
      EXPECT_TRUE(IsDword(c.other, 0));
    }
    return;
  }
  ExpectStaysOpenQuietly(s);
  EXPECT_TRUE(ui::IsChecked(s.dlg, c.box)) << "the box is as the user left it";
  ExpectUnchanged(before);
  EXPECT_EQ(!c.keyMissing, KeyExists(HKEY_LOCAL_MACHINE, kKey)) << "a declined warning creates no key";
  ASSERT_TRUE(ui::Press(s.dlg, IDCANCEL));
  ExpectEndsWithZero(s);
  ExpectUnchanged(before);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SwitchOn,
    ::testing::Values(SwitchOnCase{"TimedYesCreatesKey", kTimed, kLocked, kTimedBox, kTimedWarning, true, true},
                      SwitchOnCase{"LockedYesCreatesKey", kLocked, kTimed, kLockedBox, kLockedWarning, true, true},
                      SwitchOnCase{"TimedYes", kTimed, kLocked, kTimedBox, kTimedWarning, true, false},
                      SwitchOnCase{"TimedNo", kTimed, kLocked, kTimedBox, kTimedWarning, false, false},
                      SwitchOnCase{"LockedNoKeyMissing", kLocked, kTimed, kLockedBox, kLockedWarning, false, true}),
    [](const ::testing::TestParamInfo<SwitchOnCase> &i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// Switching off asks nothing and writes a REG_DWORD 0 over whatever was there.

struct SwitchOffCase {
  const char *name;
  const char *value;
  const char *other;
  int box;
  Stored start;
};

void PrintTo(const SwitchOffCase &c, std::ostream *os) { *os << c.name; }

class SwitchOff : public ControlTest, public ::testing::WithParamInterface<SwitchOffCase> {};

TEST_P(SwitchOff, WritesZeroWithoutAsking) {
  const SwitchOffCase &c = GetParam();
  Store(c.value, c.start);
  Store(c.other, Raw(REG_BINARY, B("\x01\x01\x01\x01\x01", 5)));  // reads 0, stays as it is
  RawValue otherBefore = ReadRaw(HKEY_LOCAL_MACHINE, kKey, c.other);

  Session s;
  ASSERT_TRUE(s.dlg);
  ASSERT_TRUE(ui::IsChecked(s.dlg, c.box));
  ASSERT_TRUE(ui::SetCheck(s.dlg, c.box, false));
  ASSERT_TRUE(ui::Press(s.dlg, IDOK));
  ExpectEndsWithZero(s);  // a question would have kept it running
  EXPECT_TRUE(IsDword(c.value, 0));
  EXPECT_TRUE(Same(otherBefore, ReadRaw(HKEY_LOCAL_MACHINE, kKey, c.other)));
}

INSTANTIATE_TEST_SUITE_P(
    Values, SwitchOff,
    ::testing::Values(SwitchOffCase{"TimedDword", kTimed, kLocked, kTimedBox, Dw(1)},
                      SwitchOffCase{"LockedOneByteBinary", kLocked, kTimed, kLockedBox, Raw(REG_BINARY, B("\x01", 1))},
                      SwitchOffCase{"LockedString", kLocked, kTimed, kLockedBox, Raw(REG_SZ, B("1", 2))}),
    [](const ::testing::TestParamInfo<SwitchOffCase> &i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// Both switches changed at once.

TEST_F(ControlTest, BothOnAsksLockedFirstAndNoThereWritesNothing) {
  Store(kTimed, Dw(0));
  Switches before = Snapshot();
  Session s;
  ASSERT_TRUE(s.dlg);
  ASSERT_TRUE(ui::SetCheck(s.dlg, kTimedBox, true));
  ASSERT_TRUE(ui::SetCheck(s.dlg, kLockedBox, true));
  ASSERT_TRUE(ui::Press(s.dlg, IDOK));
  ui::Box first = s.WaitMessageBox();
  ExpectWarning(s, first, kLockedWarning);
  ASSERT_TRUE(first);
  Answer(first, IDNO);
  ExpectStaysOpenQuietly(s);  // no question about NoTimedIO
  EXPECT_TRUE(ui::IsChecked(s.dlg, kTimedBox));
  EXPECT_TRUE(ui::IsChecked(s.dlg, kLockedBox));
  ExpectUnchanged(before);
  ASSERT_TRUE(ui::Press(s.dlg, IDCANCEL));
  ExpectEndsWithZero(s);
  ExpectUnchanged(before);
}

TEST_F(ControlTest, YesThenNoWritesLockedOnlyAndASecondOkAsksAndWritesAgain) {
  Session s;
  ASSERT_TRUE(s.dlg);
  ASSERT_TRUE(ui::SetCheck(s.dlg, kTimedBox, true));
  ASSERT_TRUE(ui::SetCheck(s.dlg, kLockedBox, true));

  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("OK number " + std::to_string(round));
    ASSERT_TRUE(ui::Press(s.dlg, IDOK));
    ui::Box locked = s.WaitMessageBox();
    ExpectWarning(s, locked, kLockedWarning);
    ASSERT_TRUE(locked);
    Answer(locked, IDYES);
    ui::Box timed = s.WaitMessageBox();
    ExpectWarning(s, timed, kTimedWarning);
    ASSERT_TRUE(timed);
    EXPECT_TRUE(IsDword(kLocked, 1)) << "NoLockedIO is written before NoTimedIO is asked";
    Answer(timed, IDNO);
    ExpectStaysOpenQuietly(s);
    EXPECT_TRUE(IsDword(kLocked, 1));
    EXPECT_TRUE(IsMissing(kTimed));
    // The dialog still compares with what it read at the start, so the next
    // OK must store NoLockedIO again: make that visible.
    if (round == 1) {
      ASSERT_EQ(ERROR_SUCCESS, SetDword(HKEY_LOCAL_MACHINE, kKey, kLocked, 0));
    }
  }
  ASSERT_TRUE(ui::Press(s.dlg, IDCANCEL));
  ExpectEndsWithZero(s);
  EXPECT_TRUE(IsDword(kLocked, 1)) << "Cancel leaves what was written";
  EXPECT_TRUE(IsMissing(kTimed));
}

TEST_F(ControlTest, YesToBothWritesBothAndKeepsTheEmulationSettings) {
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKEY_LOCAL_MACHINE, std::string(kKey) + "\\Emulation", "Marker", 77));
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_LOCAL_MACHINE, kKey, "Unrelated", "kept"));
  Session s;
  ASSERT_TRUE(s.dlg);
  ASSERT_TRUE(ui::SetCheck(s.dlg, kTimedBox, true));
  ASSERT_TRUE(ui::SetCheck(s.dlg, kLockedBox, true));
  ASSERT_TRUE(ui::Press(s.dlg, IDOK));
  ui::Box locked = s.WaitMessageBox();
  ExpectWarning(s, locked, kLockedWarning);
  ASSERT_TRUE(locked);
  Answer(locked, IDYES);
  ui::Box timed = s.WaitMessageBox();
  ExpectWarning(s, timed, kTimedWarning);
  ASSERT_TRUE(timed);
  Answer(timed, IDYES);
  ExpectEndsWithZero(s);
  EXPECT_TRUE(IsDword(kLocked, 1));
  EXPECT_TRUE(IsDword(kTimed, 1));
  EXPECT_EQ(Dword(77), ReadRaw(HKEY_LOCAL_MACHINE, std::string(kKey) + "\\Emulation", "Marker").data);
  EXPECT_EQ(B("kept", 5), ReadRaw(HKEY_LOCAL_MACHINE, kKey, "Unrelated").data);
}

TEST_F(ControlTest, OneOnOneOffAsksOnlyAboutTheOneSwitchedOn) {
  Store(kTimed, Dw(1));
  Store(kLocked, Dw(0));
  Session s;
  ASSERT_TRUE(s.dlg);
  ASSERT_TRUE(ui::SetCheck(s.dlg, kTimedBox, false));
  ASSERT_TRUE(ui::SetCheck(s.dlg, kLockedBox, true));
  ASSERT_TRUE(ui::Press(s.dlg, IDOK));
  ui::Box locked = s.WaitMessageBox();
  ExpectWarning(s, locked, kLockedWarning);
  ASSERT_TRUE(locked);
  Answer(locked, IDYES);
  ExpectEndsWithZero(s);
  EXPECT_TRUE(IsDword(kLocked, 1));
  EXPECT_TRUE(IsDword(kTimed, 0));
}

// ---------------------------------------------------------------------------
// Leaving without OK writes nothing, whichever way the dialog is closed.

struct CloseCase {
  const char *name;
  UINT msg;
  WPARAM wp;
};

void PrintTo(const CloseCase &c, std::ostream *os) { *os << c.name; }

class CloseWays : public ControlTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseWays, WriteNothingAndEndWithZero) {
  const CloseCase &c = GetParam();
  Store(kTimed, Dw(0));
  Store(kLocked, Dw(1));
  Switches before = Snapshot();
  Session s;
  ASSERT_TRUE(s.dlg);
  ASSERT_TRUE(ui::SetCheck(s.dlg, kTimedBox, true));
  ASSERT_TRUE(ui::SetCheck(s.dlg, kLockedBox, false));
  ASSERT_TRUE(PostMessageW(s.dlg, c.msg, c.wp, 0));
  ExpectEndsWithZero(s);
  ExpectUnchanged(before);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, CloseWays,
    ::testing::Values(CloseCase{"CancelButton", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)},
                      CloseCase{"CloseButton", WM_SYSCOMMAND, SC_CLOSE},
                      CloseCase{"WmClose", WM_CLOSE, 0},
                      // Only the low word names the command.
                      CloseCase{"CancelWithOddHighWord", WM_COMMAND, MAKEWPARAM(IDCANCEL, 0x1234)}),
    [](const ::testing::TestParamInfo<CloseCase> &i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// A registry that refuses the write.

// Gives a key a DACL that lets everyone read it but not write it, and puts the
// old one back at the end of the scope (before the key itself is restored).
class ReadOnlyKey {
 public:
  explicit ReadOnlyKey(const std::string &path) : path_(path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL | WRITE_DAC, &key)) return;
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    old_.resize(size ? size : 1);
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, old_.data(), &size) != ERROR_SUCCESS) old_.clear();

    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    std::vector<unsigned char> acl(256);
    SECURITY_DESCRIPTOR sd;
    bool ok = everyone && InitializeAcl((PACL)acl.data(), (DWORD)acl.size(), ACL_REVISION) &&
              AddAccessAllowedAce((PACL)acl.data(), ACL_REVISION, KEY_READ | READ_CONTROL | WRITE_DAC, everyone) &&
              InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&sd, TRUE, (PACL)acl.data(), FALSE) &&
              RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd) == ERROR_SUCCESS;
    if (everyone) FreeSid(everyone);
    RegCloseKey(key);
    applied_ = ok;
  }
  ~ReadOnlyKey() {
    if (!applied_ || old_.empty()) return;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, WRITE_DAC, &key)) return;
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, old_.data());
    RegCloseKey(key);
  }
  bool applied() const { return applied_; }

 private:
  std::string path_;
  std::vector<unsigned char> old_;
  bool applied_ = false;
};

TEST_F(ControlTest, ReadOnlyKeyShowsTheErrorAndKeepsTheDialogOpen) {
  Store(kTimed, Dw(0));
  Store(kLocked, Dw(1));
  Switches before = Snapshot();
  ReadOnlyKey readOnly(kKey);
  ASSERT_TRUE(readOnly.applied());
  HKEY probe;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_WRITE, &probe);
  if (rc == ERROR_SUCCESS) RegCloseKey(probe);
  ASSERT_EQ(ERROR_ACCESS_DENIED, rc) << "the key still lets writers in";

  Session s;
  ASSERT_TRUE(s.dlg);
  EXPECT_TRUE(ui::IsChecked(s.dlg, kLockedBox)) << "reading still works";

  // Switching on: the warning, Yes, then the refusal.
  ASSERT_TRUE(ui::SetCheck(s.dlg, kTimedBox, true));
  ASSERT_TRUE(ui::Press(s.dlg, IDOK));
  ui::Box warning = s.WaitMessageBox();
  ExpectWarning(s, warning, kTimedWarning);
  ASSERT_TRUE(warning);
  Answer(warning, IDYES);
  ui::Box error = s.WaitMessageBox();
  ExpectWriteFailed(s, error);
  ASSERT_TRUE(error);
  Answer(error, IDOK);
  ExpectStaysOpenQuietly(s);
  EXPECT_TRUE(ui::IsChecked(s.dlg, kTimedBox));

  // Switching NoLockedIO off as well: no question, the refusal at once, and
  // the failure stops before NoTimedIO is asked about again.
  ASSERT_TRUE(ui::SetCheck(s.dlg, kLockedBox, false));
  ASSERT_TRUE(ui::Press(s.dlg, IDOK));
  error = s.WaitMessageBox();
  ExpectWriteFailed(s, error);
  ASSERT_TRUE(error);
  Answer(error, IDOK);
  ExpectStaysOpenQuietly(s);
  EXPECT_TRUE(ui::IsChecked(s.dlg, kTimedBox));
  EXPECT_FALSE(ui::IsChecked(s.dlg, kLockedBox));

  ASSERT_TRUE(ui::Press(s.dlg, IDCANCEL));
  ExpectEndsWithZero(s);
  ExpectUnchanged(before);
}

TEST_F(ControlTest, KeyThatCannotBeCreatedShowsTheErrorAndKeepsTheDialogOpen) {
  // Below a volatile key only volatile keys can be made; the program asks for
  // a lasting one, so its create fails.
  SavedKey parent(HKEY_LOCAL_MACHINE, kParentKey);
  ASSERT_TRUE(DeleteTree(HKEY_LOCAL_MACHINE, kParentKey));
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParentKey, 0, nullptr, REG_OPTION_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegCloseKey(key);
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                            &key, nullptr);
  if (rc == ERROR_SUCCESS) {
    RegCloseKey(key);
    DeleteTree(HKEY_LOCAL_MACHINE, kKey);
  }
  ASSERT_NE(ERROR_SUCCESS, rc) << "a lasting key could be made below a volatile one";

  Session s;
  ASSERT_TRUE(s.dlg);
  EXPECT_FALSE(ui::IsChecked(s.dlg, kTimedBox));
  EXPECT_FALSE(ui::IsChecked(s.dlg, kLockedBox));
  ASSERT_TRUE(ui::SetCheck(s.dlg, kLockedBox, true));
  ASSERT_TRUE(ui::Press(s.dlg, IDOK));
  ui::Box warning = s.WaitMessageBox();
  ExpectWarning(s, warning, kLockedWarning);
  ASSERT_TRUE(warning);
  Answer(warning, IDYES);
  ui::Box error = s.WaitMessageBox();
  ExpectWriteFailed(s, error);
  ASSERT_TRUE(error);
  Answer(error, IDOK);
  ExpectStaysOpenQuietly(s);
  EXPECT_TRUE(ui::IsChecked(s.dlg, kLockedBox));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kKey));
  ASSERT_TRUE(ui::Press(s.dlg, IDCANCEL));
  ExpectEndsWithZero(s);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kKey));
}

// ---------------------------------------------------------------------------
// One copy at a time.

TEST_F(ControlTest, SecondStartWhileTheDialogIsOpenEndsSilently) {
  Session first;
  ASSERT_TRUE(first.dlg);
  ExpectEndsSilently("second copy");
  EXPECT_TRUE(first.Open()) << "the first copy goes on";
  ASSERT_TRUE(ui::Press(first.dlg, IDCANCEL));
  ExpectEndsWithZero(first);
  // With the first copy gone its event is gone too: a new start shows the dialog.
  Session again;
  EXPECT_TRUE(again.dlg);
  if (again.dlg) {
    ASSERT_TRUE(ui::Press(again.dlg, IDCANCEL));
    ExpectEndsWithZero(again);
  }
}

TEST_F(ControlTest, StartWhileTheEventNameIsTakenEndsSilently) {
  // A mutex of that name makes the program's CreateEventA fail.
  HANDLE mutex = CreateMutexA(nullptr, TRUE, "ControlQuinCDIO");
  ASSERT_TRUE(mutex);
  ExpectEndsSilently("event name held by a mutex");
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

// ---------------------------------------------------------------------------
// The dialog as it appears: controls, tab order, texts, layout, focus.

struct ControlSpec {
  int id;
  const char *text;
  LONG buttonType;
  RECT units;  // left, top, right, bottom in dialog units
};

const ControlSpec kControls[] = {
    {IDOK, "OK", BS_DEFPUSHBUTTON, {57, 57, 57 + 50, 57 + 14}},
    {IDCANCEL, "Cancel", BS_PUSHBUTTON, {117, 57, 117 + 50, 57 + 14}},
    {kTimedBox, "No Timed I/O", BS_AUTOCHECKBOX, {16, 17, 16 + 157, 17 + 8}},
    {kLockedBox, "No Locked I/O Buffer", BS_AUTOCHECKBOX, {16, 34, 16 + 157, 34 + 8}},
};

// The dialog resource of the program file, read without running it.
struct ExeModule {
  HMODULE h = LoadLibraryExA(ExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ~ExeModule() {
    if (h) FreeLibrary(h);
  }
  // The resource's bytes; empty when it is missing.
  Bytes Resource(LPCSTR type, LPCSTR name, WORD lang = 0xFFFF) const {
    HRSRC r = lang == 0xFFFF ? FindResourceA(h, name, type) : FindResourceExA(h, type, name, lang);
    if (!r) return Bytes();
    HGLOBAL g = LoadResource(h, r);
    const unsigned char *p = g ? (const unsigned char *)LockResource(g) : nullptr;
    return p ? Bytes(p, p + SizeofResource(h, r)) : Bytes();
  }
};

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST_F(ControlTest, DialogHasItsControlsInTabOrderAtTheirPlaces) {
  // Dialog units become pixels through the dialog's font: a hidden copy of
  // the program's own dialog in this process does the conversion.
  ExeModule exe;
  ASSERT_TRUE(exe.h);
  Bytes tmpl = exe.Resource(RT_DIALOG, MAKEINTRESOURCEA(101));
  ASSERT_FALSE(tmpl.empty());
  HWND ruler = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), (LPCDLGTEMPLATEA)tmpl.data(), nullptr,
                                          QuietDialogProc, 0);
  ASSERT_TRUE(ruler);
  std::unique_ptr<HWND__, decltype(&DestroyWindow)> rulerGuard(ruler, DestroyWindow);

  Session s;
  ASSERT_TRUE(s.dlg);
  EXPECT_EQ(kCaption, ui::Text(s.dlg));
  LONG style = GetWindowLongA(s.dlg, GWL_STYLE);
  for (LONG bit : {(LONG)WS_POPUP, (LONG)WS_CAPTION, (LONG)WS_SYSMENU, (LONG)DS_MODALFRAME})
    EXPECT_EQ(bit, style & bit) << std::hex << bit;
  EXPECT_EQ(nullptr, GetWindow(s.dlg, GW_OWNER)) << "the dialog has no owner";

  RECT client;
  ASSERT_TRUE(GetClientRect(s.dlg, &client));
  RECT size = {0, 0, 186, 78};
  ASSERT_TRUE(MapDialogRect(ruler, &size));
  EXPECT_EQ(size.right, client.right);
  EXPECT_EQ(size.bottom, client.bottom);

  // Centred on the work area.
  RECT work, frame;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  ASSERT_TRUE(GetWindowRect(s.dlg, &frame));
  EXPECT_NEAR((work.left + work.right) / 2, (frame.left + frame.right) / 2, 2);
  EXPECT_NEAR((work.top + work.bottom) / 2, (frame.top + frame.bottom) / 2, 2);

  // Child order is resource order; each control in turn.
  HWND child = GetWindow(s.dlg, GW_CHILD);
  for (const ControlSpec &c : kControls) {
    SCOPED_TRACE(c.text);
    ASSERT_TRUE(child) << "control missing";
    EXPECT_EQ(c.id, GetDlgCtrlID(child));
    EXPECT_EQ("Button", ClassOf(child));
    EXPECT_EQ(c.text, ui::Text(child));
    LONG cs = GetWindowLongA(child, GWL_STYLE);
    EXPECT_EQ(c.buttonType, cs & BS_TYPEMASK);
    EXPECT_TRUE(cs & WS_TABSTOP);
    EXPECT_TRUE(cs & WS_VISIBLE);
    RECT want = c.units, got;
    ASSERT_TRUE(MapDialogRect(ruler, &want));
    ASSERT_TRUE(GetWindowRect(child, &got));
    MapWindowPoints(nullptr, s.dlg, (POINT *)&got, 2);
    EXPECT_EQ(want.left, got.left);
    EXPECT_EQ(want.top, got.top);
    EXPECT_EQ(want.right, got.right);
    EXPECT_EQ(want.bottom, got.bottom);
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(nullptr, child) << "more controls than four";

  // Tab goes OK, Cancel, the two boxes, and round again.
  HWND item = GetDlgItem(s.dlg, IDOK);
  std::vector<int> order;
  for (int i = 0; i < 4 && item; ++i) {
    item = GetNextDlgTabItem(s.dlg, item, FALSE);
    order.push_back(item ? GetDlgCtrlID(item) : 0);
  }
  EXPECT_EQ((std::vector<int>{IDCANCEL, kTimedBox, kLockedBox, IDOK}), order);

  // WM_INITDIALOG returned TRUE: the focus is on OK.
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(s.dlg, nullptr), &gui));
  EXPECT_EQ(GetDlgItem(s.dlg, IDOK), gui.hwndFocus);

  ASSERT_TRUE(ui::Press(s.dlg, IDCANCEL));
  ExpectEndsWithZero(s);
}

TEST_F(ControlTest, ManifestGivesTheRunningProgramCommonControls6) {
  Session s;
  ASSERT_TRUE(s.dlg);
  // Version 6 comes from the side-by-side store, never from system32.
  HMODULE mods[256];
  DWORD needed = 0;
  ASSERT_TRUE(EnumProcessModules(s.prog.handle(), mods, sizeof mods, &needed));
  std::string comctl;
  for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 256; ++i) {
    char name[MAX_PATH] = "";
    GetModuleFileNameExA(s.prog.handle(), mods[i], name, sizeof name);
    std::string lower(name);
    for (char &ch : lower) ch = (char)tolower((unsigned char)ch);
    if (lower.size() >= 12 && lower.compare(lower.size() - 12, 12, "comctl32.dll") == 0) comctl = lower;
  }
  EXPECT_NE(std::string::npos, comctl.find("\\winsxs\\x86_microsoft.windows.common-controls_6595b64144ccf1df_6."))
      << "common controls loaded from '" << comctl << "'";
  ASSERT_TRUE(ui::Press(s.dlg, IDCANCEL));
  ExpectEndsWithZero(s);
}

// ---------------------------------------------------------------------------
// The program file: its resources and its image.

// Reads a sz_Or_Ord field of a dialog template; returns the text, or "#n" for an ordinal.
std::string TemplateField(const WORD *&p) {
  if (*p == 0xFFFF) {
    std::string s = "#" + std::to_string(p[1]);
    p += 2;
    return s;
  }
  std::string s;
  while (*p) s += (char)*p++;
  ++p;
  return s;
}

TEST(ControlResources, DialogIsAPlainUsEnglishTemplateWithTheGivenControls) {
  ExeModule exe;
  ASSERT_TRUE(exe.h);
  Bytes t = exe.Resource(RT_DIALOG, MAKEINTRESOURCEA(101), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_GE(t.size(), 18u) << "no US English dialog 101";
  const WORD *p = (const WORD *)t.data();
  ASSERT_FALSE(p[0] == 1 && p[1] == 0xFFFF) << "a DIALOGEX template";
  const DLGTEMPLATE *d = (const DLGTEMPLATE *)t.data();
  EXPECT_EQ((DWORD)(DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT), d->style);
  EXPECT_EQ(0u, d->dwExtendedStyle);
  ASSERT_EQ(4, d->cdit);
  EXPECT_EQ(186, d->cx);
  EXPECT_EQ(78, d->cy);
  p = (const WORD *)(d + 1);
  EXPECT_EQ("", TemplateField(p)) << "menu";
  EXPECT_EQ("", TemplateField(p)) << "class";
  EXPECT_EQ("Dialog", TemplateField(p)) << "caption";
  EXPECT_EQ(8, *p++) << "font size";
  EXPECT_EQ("MS Sans Serif", TemplateField(p));

  const DWORD styles[] = {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX};
  for (int i = 0; i < 4; ++i) {
    const ControlSpec &c = kControls[i];
    SCOPED_TRACE(c.text);
    p = (const WORD *)(((uintptr_t)p + 3) & ~(uintptr_t)3);
    const DLGITEMTEMPLATE *item = (const DLGITEMTEMPLATE *)p;
    ASSERT_LE((const unsigned char *)(item + 1), t.data() + t.size());
    EXPECT_EQ(styles[i], item->style);
    EXPECT_EQ(c.id, item->id);
    EXPECT_EQ(c.units.left, item->x);
    EXPECT_EQ(c.units.top, item->y);
    EXPECT_EQ(c.units.right - c.units.left, item->cx);
    EXPECT_EQ(c.units.bottom - c.units.top, item->cy);
    p = (const WORD *)(item + 1);
    EXPECT_EQ("#128", TemplateField(p)) << "the predefined Button class";
    EXPECT_EQ(c.text, TemplateField(p));
    WORD extra = *p++;
    p = (const WORD *)((const unsigned char *)p + extra);
  }
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colors, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST(ControlResources, IconGroupHasA32And16PixelImageIn16Colours) {
  ExeModule exe;
  ASSERT_TRUE(exe.h);
  Bytes g = exe.Resource(RT_GROUP_ICON, MAKEINTRESOURCEA(102));
  ASSERT_GE(g.size(), 6u) << "no icon group 102";
  const WORD *head = (const WORD *)g.data();
  EXPECT_EQ(1, head[1]) << "an icon group";
  ASSERT_EQ(2, head[2]);
  ASSERT_EQ(6 + 2 * sizeof(GroupIconEntry), g.size());
  const GroupIconEntry *e = (const GroupIconEntry *)(g.data() + 6);
  const int sizes[] = {32, 16};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(sizes[i]);
    EXPECT_EQ(sizes[i], e[i].width);
    EXPECT_EQ(sizes[i], e[i].height);
    EXPECT_EQ(16, e[i].colors);
    EXPECT_EQ(4, e[i].bitCount);
    Bytes img = exe.Resource(RT_ICON, MAKEINTRESOURCEA(e[i].id));
    ASSERT_EQ(e[i].bytes, img.size());
    const BITMAPINFOHEADER *bih = (const BITMAPINFOHEADER *)img.data();
    EXPECT_EQ(sizes[i], bih->biWidth);
    EXPECT_EQ(sizes[i] * 2, bih->biHeight) << "colour and mask";
    EXPECT_EQ(4, bih->biBitCount);
    HICON icon = CreateIconFromResourceEx(img.data(), (DWORD)img.size(), TRUE, 0x00030000, sizes[i], sizes[i], 0);
    EXPECT_TRUE(icon) << "not a usable icon image";
    if (icon) DestroyIcon(icon);
  }
}

TEST(ControlResources, VersionBlockCarriesTheGivenNumbersAndStrings) {
  VersionInfo info = ReadVersionInfo(ExePath());
  ASSERT_TRUE(info.ok);
  const VS_FIXEDFILEINFO *fixed = &info.fixed;
  EXPECT_EQ(0x00040002u, fixed->dwFileVersionMS);
  EXPECT_EQ(0x00000002u, fixed->dwFileVersionLS);
  EXPECT_EQ(0x00040002u, fixed->dwProductVersionMS);
  EXPECT_EQ(0x00000000u, fixed->dwProductVersionLS);

  ASSERT_FALSE(info.translations.empty());
  EXPECT_EQ(0x0409, info.translations[0].first) << "US English";
  const std::pair<const char *, const char *> strings[] = {
      {"FileDescription", "ControlQuinCDIO"}, {"InternalName", "ControlQuinCDIO"},
      {"OriginalFilename", "ControlQuinCDIO.exe"}, {"ProductName", "Tessaro"},
      {"Comments", "Set behaviour of QuinCDIO layer"}, {"FileVersion", "4.2.0.2"},
      {"ProductVersion", "4.2.0.0"}};
  for (const auto &s : strings) EXPECT_EQ(s.second, info.String(s.first)) << s.first;
}

// The value of attribute `name` in the first element `tag` found from `from` on.
std::string Attribute(const std::string &xml, const std::string &tag, const std::string &name, size_t from = 0) {
  size_t open = xml.find("<" + tag, from);
  if (open == std::string::npos) return "<no " + tag + ">";
  size_t close = xml.find('>', open);
  std::string element = xml.substr(open, close - open);
  size_t at = element.find(" " + name + "=\"");
  if (at == std::string::npos) at = element.find("\n" + name + "=\"");
  if (at == std::string::npos) {
    // Attributes may follow any white space.
    for (size_t i = 0; i < element.size(); ++i)
      if (isspace((unsigned char)element[i]) && element.compare(i + 1, name.size() + 2, name + "=\"") == 0) {
        at = i;
        break;
      }
  }
  if (at == std::string::npos) return "<no " + name + ">";
  size_t start = element.find('"', at) + 1;
  return element.substr(start, element.find('"', start) - start);
}

TEST(ControlResources, ManifestNamesTheProgramAndAsksForCommonControls6) {
  ExeModule exe;
  ASSERT_TRUE(exe.h);
  Bytes m = exe.Resource(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));  // RT_MANIFEST, id 1
  ASSERT_FALSE(m.empty()) << "no manifest";
  std::string xml(m.begin(), m.end());
  size_t dependency = xml.find("<dependentAssembly");
  ASSERT_NE(std::string::npos, dependency);
  ASSERT_LT(xml.find("<assemblyIdentity"), dependency) << "the program's own identity comes first";
  EXPECT_EQ("QUIN.ControlQuinCDIO", Attribute(xml, "assemblyIdentity", "name"));
  EXPECT_EQ("1.0.0.0", Attribute(xml, "assemblyIdentity", "version"));
  EXPECT_EQ("X86", Attribute(xml, "assemblyIdentity", "processorArchitecture"));
  EXPECT_EQ("win32", Attribute(xml, "assemblyIdentity", "type"));
  size_t d0 = xml.find("<description>"), d1 = xml.find("</description>");
  ASSERT_NE(std::string::npos, d1);
  EXPECT_EQ("Quintessa QuinCDIO Control", xml.substr(d0 + 13, d1 - d0 - 13));
  EXPECT_EQ("Microsoft.Windows.Common-Controls", Attribute(xml, "assemblyIdentity", "name", dependency));
  EXPECT_EQ("6.0.0.0", Attribute(xml, "assemblyIdentity", "version", dependency));
  EXPECT_EQ("X86", Attribute(xml, "assemblyIdentity", "processorArchitecture", dependency));
  EXPECT_EQ("win32", Attribute(xml, "assemblyIdentity", "type", dependency));
  EXPECT_EQ("6595b64144ccf1df", Attribute(xml, "assemblyIdentity", "publicKeyToken", dependency));
  EXPECT_EQ("*", Attribute(xml, "assemblyIdentity", "language", dependency));
}

TEST(ControlResources, SmallWindowsProgramThatBindsNeitherDeviceLibrary) {
  std::ifstream f(ExePath(), std::ios::binary);
  ASSERT_TRUE(f);
  Bytes img((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_LE(img.size(), 48u * 1024u);
  ASSERT_GE(img.size(), sizeof(IMAGE_DOS_HEADER));
  const IMAGE_DOS_HEADER *dos = (const IMAGE_DOS_HEADER *)img.data();
  ASSERT_LE(dos->e_lfanew + sizeof(IMAGE_NT_HEADERS32), img.size());
  const IMAGE_NT_HEADERS32 *nt = (const IMAGE_NT_HEADERS32 *)(img.data() + dos->e_lfanew);
  ASSERT_EQ((DWORD)IMAGE_NT_SIGNATURE, nt->Signature);
  EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
  EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt->OptionalHeader.Subsystem);
  EXPECT_EQ(4, nt->OptionalHeader.MajorSubsystemVersion);

  const IMAGE_SECTION_HEADER *sec = IMAGE_FIRST_SECTION(nt);
  auto offset = [&](DWORD rva) -> size_t {
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i)
      if (rva >= sec[i].VirtualAddress && rva < sec[i].VirtualAddress + sec[i].Misc.VirtualSize)
        return rva - sec[i].VirtualAddress + sec[i].PointerToRawData;
    return 0;
  };
  DWORD importRva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  size_t at = offset(importRva);
  ASSERT_NE(0u, at);
  std::vector<std::string> dlls;
  for (const IMAGE_IMPORT_DESCRIPTOR *imp = (const IMAGE_IMPORT_DESCRIPTOR *)(img.data() + at);
       (const unsigned char *)(imp + 1) <= img.data() + img.size() && imp->Name; ++imp) {
    size_t name = offset(imp->Name);
    ASSERT_NE(0u, name);
    std::string dll((const char *)img.data() + name);
    for (char &ch : dll) ch = (char)toupper((unsigned char)ch);
    dlls.push_back(dll);
  }
  auto has = [&](const std::string &d) { return std::find(dlls.begin(), dlls.end(), d) != dlls.end(); };
  EXPECT_TRUE(has("COMCTL32.DLL"));
  EXPECT_FALSE(has("QUINCDIO.DLL"));
  EXPECT_FALSE(has("QUINVCD.DLL"));
}

}  // namespace
