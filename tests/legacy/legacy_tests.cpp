// Each program's smoke run under the older Windows versions that Wine presents on request: it
// starts, takes its main path and ends with its exit code, with the device layer's OsVersion
// left to follow the Windows the program sees.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "testsupport.h"
#include "trayprocess.h"
#include "uiauto.h"

using namespace testsupport;

namespace {

const char kClass[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E965-E325-11CE-BFC1-08002BE10318}";
const char kCdio[] = "SOFTWARE\\Quintessa\\QuinCDIO";
const HKEY HKLM = HKEY_LOCAL_MACHINE;

// One smoke run: the program, the Windows that Wine presents to it, and its main path, which
// starts the program and checks what it did.
struct Smoke {
  const char *program;
  const char *windows;  // Wine's name of the version: "win98", "win2k"
  bool nt;              // whether that Windows is of the NT family
  void (*mainPath)(const Smoke &);
};

void PrintTo(const Smoke &s, std::ostream *os) { *os << s.program << " as " << s.windows; }

bool HasNo(const ui::Box &box) {
  for (const ui::Button &b : box.buttons)
    if (b.id == IDNO) return true;
  return false;
}

// ---- QuinCheck.exe ----------------------------------------------------------------------------

// A box the checker must show: a piece of its text, whether it asks Yes/No, and the answer.
struct Step {
  const char *says;
  bool yesNo;
  int answer;
};

// A class list that needs cleaning and names a driver that is not installed, a command line that
// names another, and no CD targets, so the lists are verified as well: on NT every part of the
// run shows its box; the Windows 9x gate ends the run before anything is touched.
void CheckerRun(const Smoke &s) {
  DeleteTree(HKLM, kClass);
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKLM, kClass, "Class", "CDROM"));
  const Bytes unterminated = B("qlgGone", 7);
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, kClass, "LowerFilters", REG_MULTI_SZ, unterminated));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, kCdioEmulation, "TargetsFound", 0));
  const DWORD init = CdioCalls("QuinCDIO_InitScsi"), deinit = CdioCalls("QuinCDIO_DeInitScsi");

  std::vector<Step> script;
  if (s.nt)
    script = {{"has corrected invalid entries", false, IDOK},
              {"Filter Driver qlgMissing is not installed!", false, IDOK},
              {"corrupt Filter Driver qlgGone!", true, IDYES},
              {"The Filter Driver qlgGone has been removed!", false, IDOK},
              {"needs to be restarted", false, IDOK}};

  Program p(DistPath("QuinCheck.exe"), "/U qlgMissing");
  ASSERT_TRUE(p.started());
  ui::BoxRun run = ui::AnswerBoxes(p.handle(), p.pid(), "QuinCheck", [&](size_t i, const ui::Box &box) {
    return i < script.size() ? script[i].answer : (HasNo(box) ? IDNO : IDOK);
  });
  ASSERT_EQ("", run.failure);
  EXPECT_EQ(0u, run.exitCode);
  for (size_t i = 0; i < run.boxes.size(); ++i) {
    SCOPED_TRACE("box " + std::to_string(i + 1) + ": " + run.boxes[i].text);
    if (i >= script.size()) {
      ADD_FAILURE() << "unexpected box";
      continue;
    }
    EXPECT_NE(std::string::npos, run.boxes[i].text.find(script[i].says)) << "expected: " << script[i].says;
    EXPECT_EQ(script[i].yesNo, HasNo(run.boxes[i]));
  }
  EXPECT_EQ(script.size(), run.boxes.size());

  RawValue lower = ReadRaw(HKLM, kClass, "LowerFilters");
  if (s.nt) {
    EXPECT_EQ(init + 1, CdioCalls("QuinCDIO_InitScsi"));
    EXPECT_EQ(deinit + 1, CdioCalls("QuinCDIO_DeInitScsi"));
    EXPECT_FALSE(lower.exists) << "the removed driver was the list's only entry";
  } else {
    EXPECT_EQ(init, CdioCalls("QuinCDIO_InitScsi")) << "the device layer was started on Windows 9x";
    EXPECT_TRUE(lower.exists && lower.type == REG_MULTI_SZ && lower.data == unterminated)
        << "the class list was changed on Windows 9x";
  }
}

// ---- ControlQuinCDIO.exe ----------------------------------------------------------------------

const char kControlCaption[] = "QuinCDIO Driver Control 4.2";
const int kTimedBox = 1001;
const int kLockedBox = 1002;

// A message box that `dialog` owns, once it is up with its buttons; empty after the time-out.
ui::Box WaitOwnedBox(HWND dialog, DWORD pid) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < ui::kWait; Sleep(50)) {
    for (HWND w : ui::FindWindows(kControlCaption, pid)) {
      if (w == dialog || GetWindow(w, GW_OWNER) != dialog) continue;
      ui::Box box = ui::ReadBox(w);
      if (!box.buttons.empty() && !box.text.empty()) return box;
    }
  }
  return ui::Box();
}

// Both switches off at the start; ticking "No Timed I/O" and OK asks first, and Yes writes it.
void SettingsRun(const Smoke &) {
  DeleteValue(HKLM, kCdio, "NoTimedIO");
  DeleteValue(HKLM, kCdio, "NoLockedIO");
  Program p(DistPath("ControlQuinCDIO.exe"), "");
  ASSERT_TRUE(p.started());
  HWND dialog = ui::WaitWindow(kControlCaption, p.pid(), ui::kWait, "#32770");
  ASSERT_TRUE(dialog != nullptr) << "no dialog";
  EXPECT_FALSE(ui::IsChecked(dialog, kTimedBox));
  EXPECT_FALSE(ui::IsChecked(dialog, kLockedBox));
  ASSERT_TRUE(ui::SetCheck(dialog, kTimedBox, true));
  ASSERT_TRUE(ui::Press(dialog, IDOK));

  ui::Box warning = WaitOwnedBox(dialog, p.pid());
  ASSERT_TRUE(warning) << "no warning before the switch goes on";
  EXPECT_EQ(0u, warning.text.find("WARNING!\nYou are going to disable I/O Timing!")) << warning.text;
  EXPECT_TRUE(HasNo(warning));
  ASSERT_TRUE(ui::Yes(warning.hwnd));
  EXPECT_EQ(0u, p.Wait(15000));

  RawValue timed = ReadRaw(HKLM, kCdio, "NoTimedIO");
  EXPECT_TRUE(timed.exists && timed.type == REG_DWORD && timed.data == B("\x01\0\0\0", 4))
      << "NoTimedIO is not the DWORD 1";
  EXPECT_FALSE(ReadRaw(HKLM, kCdio, "NoLockedIO").exists);
}

// ---- OrvandTray.exe -------------------------------------------------------------------------

const char kTrayCaption[] = "Orvand Tray V4.2";

// A virtual drive as Windows 9x lists it: its SCSI instance, its root key and its class key,
// whose digital audio is still off.
const char kEnum9x[] = "Enum";
const char kClasses9x[] = "SYSTEM\\CurrentControlSet\\Services\\Class";
const char kDriveClass9x[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\CDROM\\0007";

void MakeWin9xVirtualDrive() {
  const char instance[] = "Enum\\SCSI\\QUINVCD_VIRTUAL\\ROOT&SCSIADAPTER&0000&0";
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, instance, "DeviceType", REG_BINARY, B("\x05", 1)));
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKLM, instance, "Driver", "CDROM\\0007"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKLM, "Enum\\ROOT\\SCSIADAPTER\\0000", "DeviceDesc", "Virtual Farodrive"));
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, kDriveClass9x, "DigitalAudioPlay", REG_BINARY, B("\x02", 1)));
}

// The tray starts, applies the stored choice (none: masking on) to the layer and repairs the
// virtual drives the way of its Windows: on 98 it turns on their digital audio in the class
// key, on 2000 it looks for them among the NT device names and leaves the 9x keys alone.  It
// asks before it exits and ends with 0 on Yes.
void TrayRun(const Smoke &s) {
  SavedKey settings(HKEY_CURRENT_USER, kSettings);
  SavedKey enum9x(HKLM, kEnum9x), classes9x(HKLM, kClasses9x);
  DeleteTree(HKEY_CURRENT_USER, kSettings);
  MakeWin9xVirtualDrive();
  if (::testing::Test::HasFatalFailure()) return;
  RunningTray tray;
  ASSERT_TRUE(tray.up()) << "no tray window, or its creation did not end";
  EXPECT_EQ(1u, CdioCalls("QuinCDIO_InitScsi"));
  EXPECT_EQ(2u, CdioCalls("MaskRec_SendCommand")) << "the apply of its creation and one refresh";
  RawValue state = ReadRaw(HKLM, kCdioEmulation, "MaskState");
  EXPECT_TRUE(state.exists && state.data == B("\x01\0\0\0", 4)) << "masking was not applied";
  RawValue play = ReadRaw(HKLM, kDriveClass9x, "DigitalAudioPlay");
  EXPECT_EQ(s.nt ? B("\x02", 1) : B("\x03", 1), play.data) << "digital audio of the 9x virtual drive";

  PostMessageA(tray.window(), WM_COMMAND, 115, 0);  // Exit
  ui::Box box = ui::WaitBox(kTrayCaption, tray.program().pid());
  ASSERT_TRUE(box) << "no question before the exit";
  EXPECT_TRUE(HasNo(box));
  ASSERT_TRUE(ui::Yes(box.hwnd));
  EXPECT_EQ(0u, tray.program().Wait(15000));
  EXPECT_EQ(0u, CdioCalls("QuinCDIO_DeInitScsi"));
}

// ---- The table ----------------------------------------------------------------------------------

// The keys the programs read and write are put back afterwards.  Each run starts with the
// device layer ready and without a stored OsVersion, so the layer reports the Windows that
// Wine presents: 2 (the 9x paths) under "win98", 5 (the NT paths) under "win2k".
class LegacyWindows : public ::testing::TestWithParam<Smoke> {
 protected:
  SavedKey class_{HKLM, kClass};
  SavedKey cdio_{HKLM, kCdio};
  void SetUp() override {
    ASSERT_TRUE(DeleteTree(HKLM, kCdioEmulation));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, kCdioEmulation, "InitResult", 0));
  }
};

TEST_P(LegacyWindows, StartsTakesItsMainPathAndEnds) {
  const Smoke &s = GetParam();
  WineVersion version(s.program, s.windows);
  ASSERT_TRUE(version.ok());
  s.mainPath(s);
}

INSTANTIATE_TEST_SUITE_P(Programs, LegacyWindows,
                         ::testing::Values(Smoke{"OrvandTray.exe", "win98", false, TrayRun},
                                           Smoke{"OrvandTray.exe", "win2k", true, TrayRun},
                                           Smoke{"QuinCheck.exe", "win98", false, CheckerRun},
                                           Smoke{"QuinCheck.exe", "win2k", true, CheckerRun},
                                           Smoke{"ControlQuinCDIO.exe", "win98", false, SettingsRun},
                                           Smoke{"ControlQuinCDIO.exe", "win2k", true, SettingsRun}),
                         [](const ::testing::TestParamInfo<Smoke> &info) {
                           std::string name = info.param.program;
                           name = name.substr(0, name.find('.'));
                           return name + "_" + info.param.windows;
                         });

}  // namespace
