// The virtual drive dialog in-process: its template, what it shows, what OK, Cancel and the
// close button do, its failure box and its font.  The dialog runs modally on the test thread
// while a second thread works it as a user would.
#include <atomic>
#include <functional>
#include <thread>
#include "tray_fixture.h"
#include "uiauto.h"
#include "quinvcd.h"

using namespace testsupport;
using namespace traytest;

// ---------------------------------------------------------------------------------------------
// The dialogSeam: a second copy of the dialog, built with its neighbours renamed to these.

extern "C" INT_PTR CALLBACK SeamVirtualDriveDialogProc(HWND, UINT, WPARAM, LPARAM);

namespace {

struct SeamRecord {
  std::atomic<bool> numberedTexts{true};
  unsigned drivesAnswer = 0;        // what VODDGetDrives answers
  HFONT fontToGive = nullptr;       // what CreateLanguageFont returns
  std::vector<std::pair<HWND, int>> fontCalls;  // (dialog, code page)
  std::vector<HGDIOBJ> deleted;
  struct Store {
    DWORD sheepIconsOn;
    DWORD setDrivesCallsBefore;
  };
  std::vector<Store> stores;
  std::function<DWORD()> setDrivesCalls;  // the stand-in's counter of VODDSetDrives
};
SeamRecord *dialogSeam;

}  // namespace

extern "C" const char *SeamGetText(int number) {
  static std::string texts[TEXT_COUNT + 1];
  if (number < 1 || number > TEXT_COUNT || !dialogSeam || !dialogSeam->numberedTexts) return "";
  texts[number] = "T" + std::to_string(number);
  return texts[number].c_str();
}

extern "C" HFONT SeamCreateLanguageFont(HWND dialog, int codePage) {
  dialogSeam->fontCalls.push_back({dialog, codePage});
  return dialogSeam->fontToGive;
}

extern "C" WINBOOL WINAPI SeamDeleteObject(HGDIOBJ object) {
  dialogSeam->deleted.push_back(object);
  return DeleteObject(object);
}

extern "C" void SeamStoreSheepIconsOption(void) { dialogSeam->stores.push_back({SheepIconsOn, dialogSeam->setDrivesCalls()}); }

extern "C" unsigned __cdecl SeamVODDGetDrives(void) { return dialogSeam->drivesAnswer; }

namespace {

constexpr int kCombo = IDC_VIRTUALDRIVES_COUNT;
constexpr int kSheep = IDC_VIRTUALDRIVES_SHEEP;
constexpr int kLabel = IDC_VIRTUALDRIVES_LABEL;

const std::vector<std::string> kNumbers = {"1", "2", "3", "4", "5", "6", "7", "8"};

std::vector<std::string> Entries(const std::string &first) {
  std::vector<std::string> v{first};
  v.insert(v.end(), kNumbers.begin(), kNumbers.end());
  return v;
}

// What a user sees of the open dialog.
struct Look {
  std::string title;
  std::vector<std::string> entries;
  int selection = -1;
  bool sheepEnabled = false;
  bool sheepTicked = false;
  std::string label, ok, cancel, sheep;
  HWND owner = nullptr;
  HICON smallIcon = nullptr, bigIcon = nullptr;
  HWND focus = nullptr;
  HWND okButton = nullptr;
};

Look LookAt(HWND dlg) {
  Look l;
  l.title = ui::Text(dlg);
  l.entries = ui::ComboItems(dlg, kCombo);
  l.selection = ui::ComboSelection(dlg, kCombo);
  l.sheepEnabled = IsWindowEnabled(GetDlgItem(dlg, kSheep)) != 0;
  l.sheepTicked = ui::IsChecked(dlg, kSheep);
  l.label = ui::ItemText(dlg, kLabel);
  l.ok = ui::ItemText(dlg, IDOK);
  l.cancel = ui::ItemText(dlg, IDCANCEL);
  l.sheep = ui::ItemText(dlg, kSheep);
  l.owner = GetWindow(dlg, GW_OWNER);
  l.smallIcon = (HICON)SendMessageA(dlg, WM_GETICON, ICON_SMALL, 0);
  l.bigIcon = (HICON)SendMessageA(dlg, WM_GETICON, ICON_BIG, 0);
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &gui)) l.focus = gui.hwndFocus;
  l.okButton = GetDlgItem(dlg, IDOK);
  return l;
}

// How a dialog run went.
struct Outcome {
  INT_PTR result = -7;            // what the opener returned
  bool opened = false;
  bool closed = false;            // gone after the driver's steps, without help
  std::vector<ui::Box> boxes;     // boxes owned by the dialog, each answered with OK
  bool openUnderBox = false;      // the dialog was still there while a box was
  Look look;                      // the dialog as it first showed
};

// Opens the dialog on this thread with `open` (which returns when it has closed) and hands
// it to `drive` on a second thread.  Afterwards boxes the dialog owns are read and answered
// until it is gone; a dialog still open after that is closed, so the test ends either way.
Outcome RunModal(HWND owner, const std::function<INT_PTR()> &open, const std::function<void(HWND)> &drive) {
  Outcome out;
  std::thread driver([&] {
    HWND dlg = ui::WaitOwnedWindow(owner);
    if (!dlg) return;
    out.opened = true;
    out.look = LookAt(dlg);
    drive(dlg);
    DWORD start = GetTickCount();
    while (IsWindow(dlg) && IsWindowVisible(dlg) && GetTickCount() - start < 10000) {
      ui::Box box = ui::WaitOwnedBox(dlg, 100);
      if (!box) continue;
      out.boxes.push_back(box);
      out.openUnderBox = IsWindowVisible(dlg) != 0;
      ui::Ok(box.hwnd);
      ui::WaitGone(box.hwnd, 5000);
    }
    out.closed = !IsWindow(dlg) || !IsWindowVisible(dlg);
    if (!out.closed) PostMessageA(dlg, WM_CLOSE, 0, 0);
  });
  out.result = open();
  driver.join();
  return out;
}

std::string RawText(HKEY root, const std::string &path, const char *name) {
  RawValue v = ReadRaw(root, path, name);
  if (!v.exists) return "<missing>";
  return std::string(v.data.begin(), v.data.end());
}

const char kSheepKey[] = "SOFTWARE\\Quintessa\\Orvand\\VirtualFarodrive";

class DriveDialogTest : public TrayTest {
 protected:
  void SetUp() override {
    TrayTest::SetUp();
    if (HasFatalFailure()) return;
    // What the program's start sets before any dialog can open.
    TrayInstance = GetModuleHandleA(nullptr);
    savedCodePage_ = LanguageCodePage;
    ASSERT_TRUE(CreateTray());
  }
  void TearDown() override {
    LanguageCodePage = savedCodePage_;
    TrayTest::TearDown();
  }

  // The dialog through its procedure, owned by the tray window, as ShowVirtualDriveDialog
  // makes it, but with the result at hand.
  Outcome RunDialog(const std::function<void(HWND)> &drive, DLGPROC proc = VirtualDriveDialogProc) {
    HWND owner = tray();
    return RunModal(owner, [=] {
      return DialogBoxParamA(TrayInstance, MAKEINTRESOURCEA(IDD_VIRTUALDRIVES), owner, proc, 0);
    }, drive);
  }

  // The number of drives the library has now, without counting the call.
  static unsigned Drives() {
    std::string letters = RawText(HKEY_LOCAL_MACHINE, kVcdEmulation, "DriveLetters");
    if (letters == "<missing>") return 0;
    return (unsigned)strlen(letters.c_str());
  }

 private:
  int savedCodePage_ = -1;
};

// ---------------------------------------------------------------------------------------------
// The template as the executable carries it.

struct ControlRow {
  int id;
  const char *cls;
  const char *text;
  DWORD style;
  DWORD exStyle;
  short x, y, cx, cy;
};

// Resource order, which is also the tab order.
const ControlRow kControls[] = {
    {IDOK, "BUTTON", "OK", 0x50010001, 0, 7, 74, 60, 14},
    {kCombo, "COMBOBOX", "", 0x50230003, 0, 111, 28, 54, 170},
    {kSheep, "BUTTON", "Sheep Icons", 0x50010023, WS_EX_RIGHT, 39, 49, 125, 11},
    {IDCANCEL, "BUTTON", "Cancel", 0x50010000, 0, 119, 74, 60, 14},
    {kLabel, "STATIC", "Number of Drives:", 0x50020002, 0, 14, 31, 90, 10},
    {-1, "STATIC", "#146", 0x50000003, 0, 7, 7, 20, 20},
};

TEST(DriveDialogResource, TemplateIsTheExtendedDialogWithItsSixControls) {
  Bytes bytes = ModuleResource(GetModuleHandleA(nullptr), RT_DIALOG, MAKEINTRESOURCEA(IDD_VIRTUALDRIVES));
  ASSERT_FALSE(bytes.empty()) << "no dialog 141";
  DialogTemplateInfo d = ReadDialogTemplate(bytes);
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.extended) << "a DIALOGEX template";
  EXPECT_EQ(0x80C808C0u, d.style);
  EXPECT_EQ(DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER), d.style);
  EXPECT_EQ(0u, d.exStyle);
  EXPECT_EQ(0u, d.helpId);
  EXPECT_EQ(0, d.x);
  EXPECT_EQ(0, d.y);
  EXPECT_EQ(186, d.cx);
  EXPECT_EQ(95, d.cy);
  EXPECT_EQ("", d.menu);
  EXPECT_EQ("", d.cls) << "the standard dialog class";
  EXPECT_EQ("Dialog", d.caption);
  ASSERT_TRUE(d.hasFont);
  EXPECT_EQ(8, d.pointSize);
  EXPECT_EQ(0, d.weight);
  EXPECT_EQ(0, d.italic);
  EXPECT_EQ(DEFAULT_CHARSET, d.charset);
  EXPECT_EQ("MS Sans Serif", d.face);

  ASSERT_EQ(6u, d.controls.size());
  for (size_t i = 0; i < d.controls.size(); ++i) {
    const ControlRow &want = kControls[i];
    const DialogControl &c = d.controls[i];
    SCOPED_TRACE("control " + std::to_string(i) + ": " + want.text);
    EXPECT_EQ(want.id, c.id);
    EXPECT_EQ(want.cls, c.cls);
    EXPECT_EQ(want.text, c.text);
    EXPECT_EQ(want.style, c.style) << std::hex << c.style;
    EXPECT_EQ(want.exStyle, c.exStyle) << std::hex << c.exStyle;
    EXPECT_EQ(want.x, c.x);
    EXPECT_EQ(want.y, c.y);
    EXPECT_EQ(want.cx, c.cx);
    EXPECT_EQ(want.cy, c.cy);
    EXPECT_EQ(0u, c.helpId);
    EXPECT_EQ(0, c.extraBytes);
  }
}

// ---------------------------------------------------------------------------------------------
// The open dialog.

// The width of an icon's image in pixels, or 0 when it is no icon (any more).
int IconWidth(HICON icon) {
  ICONINFO info = {};
  if (!icon || !GetIconInfo(icon, &info)) return 0;
  BITMAP bm = {};
  GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return bm.bmWidth;
}

struct PlacedChild {
  int id;
  std::string cls;
  bool visible;
  RECT got;   // in the dialog's client area
  // The template's place and size in pixels of the dialog's font; the dialog manager converts
  // the size on its own, so the right edge is not the mapped x + cx.
  RECT wantPlace;
  RECT wantSize;
};

TEST_F(DriveDialogTest, ShowsItsIconsFocusFontAndControlsWhereTheTemplatePutsThem) {
  std::vector<PlacedChild> children;
  std::vector<int> tabOrder;
  LOGFONTA lf = {};
  bool haveFont = false;
  Outcome out = RunDialog([&](HWND dlg) {
    size_t row = 0;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT), ++row) {
      PlacedChild p{GetDlgCtrlID(c), "", IsWindowVisible(c) != 0, {}, {}, {}};
      char cls[64] = "";
      GetClassNameA(c, cls, sizeof cls);
      p.cls = cls;
      GetWindowRect(c, &p.got);
      MapWindowPoints(nullptr, dlg, (POINT *)&p.got, 2);
      if (row < 6) {
        const ControlRow &t = kControls[row];
        p.wantPlace = RECT{t.x, t.y, 0, 0};
        p.wantSize = RECT{0, 0, t.cx, t.cy};
        MapDialogRect(dlg, &p.wantPlace);
        MapDialogRect(dlg, &p.wantSize);
      }
      children.push_back(p);
    }
    HWND item = GetDlgItem(dlg, IDOK);
    for (int i = 0; i < 4 && item; ++i) {
      item = GetNextDlgTabItem(dlg, item, FALSE);
      tabOrder.push_back(item ? GetDlgCtrlID(item) : 0);
    }
    HFONT font = (HFONT)SendMessageA(dlg, WM_GETFONT, 0, 0);
    haveFont = font && GetObjectA(font, sizeof lf, &lf) == sizeof lf;
    ui::Press(dlg, IDCANCEL);
  });
  ASSERT_TRUE(out.opened);
  EXPECT_TRUE(out.closed);
  EXPECT_EQ(2, out.result);
  EXPECT_EQ(tray(), out.look.owner);

  // Both icons are the shared ones: the same handles come back for the same loads.
  HICON small = (HICON)LoadImageA(TrayInstance, MAKEINTRESOURCEA(IDI_MASKING_ON_XP), IMAGE_ICON, 16, 16, LR_SHARED);
  HICON big = (HICON)LoadImageA(TrayInstance, MAKEINTRESOURCEA(IDI_DRIVES), IMAGE_ICON, 32, 32, LR_SHARED);
  ASSERT_NE(nullptr, out.look.smallIcon);
  ASSERT_NE(nullptr, out.look.bigIcon);
  EXPECT_EQ(small, out.look.smallIcon) << "group 139";
  EXPECT_EQ(big, out.look.bigIcon) << "group 146";
  EXPECT_EQ(16, IconWidth(out.look.smallIcon));
  EXPECT_EQ(32, IconWidth(out.look.bigIcon)) << "a shared icon outlives the dialog";

  // WM_INITDIALOG answered TRUE: the first tab stop, OK, has the focus.
  EXPECT_EQ(out.look.okButton, out.look.focus);
  EXPECT_NE(nullptr, out.look.focus);
  EXPECT_EQ((std::vector<int>{kCombo, kSheep, IDCANCEL, IDOK}), tabOrder);

  // Without a language font the dialog keeps the template's.
  ASSERT_TRUE(haveFont);
  EXPECT_STREQ("MS Sans Serif", lf.lfFaceName);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(-MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72), lf.lfHeight);
  ReleaseDC(nullptr, screen);

  ASSERT_EQ(6u, children.size()) << "six controls";
  const char *classes[] = {"Button", "ComboBox", "Button", "Button", "Static", "Static"};
  for (size_t i = 0; i < children.size(); ++i) {
    const PlacedChild &c = children[i];
    SCOPED_TRACE("control " + std::to_string(i) + ": " + kControls[i].text);
    EXPECT_EQ(kControls[i].id, c.id);
    EXPECT_EQ(classes[i], c.cls);
    EXPECT_TRUE(c.visible);
    EXPECT_EQ(c.wantPlace.left, c.got.left);
    EXPECT_EQ(c.wantPlace.top, c.got.top);
    // A closed drop-down list is one line high, and an icon control takes its icon's size.
    if (kControls[i].id != -1) {
      EXPECT_EQ(c.wantSize.right, c.got.right - c.got.left);
    }
    if (kControls[i].id != -1 && kControls[i].id != kCombo) {
      EXPECT_EQ(c.wantSize.bottom, c.got.bottom - c.got.top);
    }
  }
}

// Without language files every text is empty; the numbers stay.
TEST_F(DriveDialogTest, WithoutLanguageFilesTheTextsAreEmptyAndTheNumbersStay) {
  Outcome out = RunDialog([](HWND dlg) { ui::Press(dlg, IDCANCEL); });
  ASSERT_TRUE(out.opened);
  EXPECT_EQ("", out.look.title);
  EXPECT_EQ(Entries(""), out.look.entries);
  EXPECT_EQ("", out.look.label);
  EXPECT_EQ("", out.look.ok);
  EXPECT_EQ("", out.look.cancel);
  EXPECT_EQ("", out.look.sheep);
}

struct DrivesCase {
  const char *letters;   // DriveLetters of the stand-in
  int selection;
};

class DriveCountSelection : public DriveDialogTest, public ::testing::WithParamInterface<DrivesCase> {};

TEST_P(DriveCountSelection, SelectsTheEntryOfTheLibrarysNumber) {
  SetVirtualDrives(GetParam().letters);
  DWORD asked = VcdCalls("VODDGetDrives");
  Outcome out = RunDialog([](HWND dlg) { ui::Press(dlg, IDCANCEL); });
  ASSERT_TRUE(out.opened);
  EXPECT_EQ(Entries(""), out.look.entries);
  EXPECT_EQ(GetParam().selection, out.look.selection);
  EXPECT_EQ(asked + 1, VcdCalls("VODDGetDrives")) << "asked once";
  EXPECT_EQ(2, out.result);
}

INSTANTIATE_TEST_SUITE_P(Drives, DriveCountSelection,
                         ::testing::Values(DrivesCase{"", 0}, DrivesCase{"CDE", 3},
                                           DrivesCase{"CDEFGHIJ", 8}, DrivesCase{"CDEFGHIJK", 8},
                                           DrivesCase{"CDEFGHIJKLMN", 8}));

TEST_F(DriveDialogTest, CheckBoxFollowsShellSupportAndTheOption) {
  struct Case {
    BOOL support;
    DWORD sheepBefore;
    bool enabled, ticked;
    DWORD sheepAfter;
  };
  const Case cases[] = {
      {TRUE, 1, true, true, 1},
      {TRUE, 0, true, false, 0},
      {TRUE, 7, true, true, 7},      // any non-zero value ticks it; Cancel keeps it as it was
      {FALSE, 1, false, false, 0},   // no per-drive icons: no option, and it is off
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << "support " << c.support << ", option " << c.sheepBefore);
    ShellIconSupport = c.support;
    SheepIconsOn = c.sheepBefore;
    Outcome out = RunDialog([](HWND dlg) { ui::Press(dlg, IDCANCEL); });
    ASSERT_TRUE(out.opened);
    EXPECT_EQ(c.enabled, out.look.sheepEnabled);
    EXPECT_EQ(c.ticked, out.look.sheepTicked);
    EXPECT_EQ(c.sheepAfter, SheepIconsOn);
    EXPECT_EQ(2, out.result);
  }
}

// OK: the option from the box, the number from the list, handed on even when unchanged.
TEST_F(DriveDialogTest, OkStoresTheOptionAndSetsTheChosenNumberOfDrives) {
  struct Case {
    const char *name;
    BOOL support;
    DWORD sheepBefore;
    bool tick;
    const char *lettersBefore;
    int pick;               // -1: leave the selection
    DWORD sheepAfter;
    const char *lettersAfter;   // nullptr: only the number is known
    unsigned drivesAfter;
  };
  const Case cases[] = {
      {"more drives, icons turned on", TRUE, 0, true, "", 3, 1, nullptr, 3},
      {"fewer drives, icons turned off", TRUE, 1, false, "CDEFG", 2, 0, "CD", 2},
      {"nothing changed", TRUE, 1, true, "XY", -1, 1, "XY", 2},
      {"no drives", TRUE, 0, false, "VW", 0, 0, "", 0},
      {"eight drives", TRUE, 1, true, "", 8, 1, nullptr, 8},
      {"no shell support", FALSE, 1, false, "W", 8, 0, nullptr, 8},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ShellIconSupport = c.support;
    SheepIconsOn = c.sheepBefore;
    SetVirtualDrives(c.lettersBefore);
    DWORD calls = VcdCalls("VODDSetDrives");
    bool stillOpenAfterPick = false;
    Outcome out = RunDialog([&](HWND dlg) {
      if (c.pick >= 0) ui::PickCombo(dlg, kCombo, c.pick);
      if (c.support) ui::SetCheck(dlg, kSheep, c.tick);
      // The list's and the box's notifications do not end the dialog.
      Sleep(100);
      stillOpenAfterPick = IsWindowVisible(dlg) != 0;
      ui::Press(dlg, IDOK);
    });
    ASSERT_TRUE(out.opened);
    EXPECT_TRUE(stillOpenAfterPick);
    EXPECT_TRUE(out.closed);
    EXPECT_EQ(2, out.result);
    EXPECT_TRUE(out.boxes.empty()) << "no failure box";
    EXPECT_EQ(calls + 1, VcdCalls("VODDSetDrives")) << "VODDSetDrives once";
    EXPECT_EQ(c.drivesAfter, Drives());
    if (c.lettersAfter) {
      EXPECT_EQ(std::string(c.lettersAfter) + '\0', RawText(HKEY_LOCAL_MACHINE, kVcdEmulation, "DriveLetters"));
    }
    EXPECT_EQ(c.sheepAfter, SheepIconsOn);
    if (c.support) {
      // Stored, and applied to every letter at once, before the number of drives changed.
      RawValue stored = ReadRaw(HKEY_LOCAL_MACHINE, kSheepKey, "VirtualSheep");
      EXPECT_EQ((DWORD)REG_DWORD, stored.type);
      EXPECT_EQ(Bytes((const unsigned char *)&c.sheepAfter, (const unsigned char *)&c.sheepAfter + 4), stored.data);
      for (const char *l = c.lettersBefore; *l; l++) {
        std::string letterKey = std::string(kMachineDriveIcons) + "\\" + *l;
        EXPECT_EQ(c.sheepAfter != 0, ReadRaw(HKEY_LOCAL_MACHINE, letterKey, "VirtualFarodrive").exists) << *l;
      }
    }
  }
}

TEST_F(DriveDialogTest, WithoutShellSupportOkStoresNoOption) {
  ShellIconSupport = FALSE;
  SheepIconsOn = 0;
  DeleteValue(HKEY_LOCAL_MACHINE, kSheepKey, "VirtualSheep");
  Outcome out = RunDialog([](HWND dlg) { ui::Press(dlg, IDOK); });
  ASSERT_TRUE(out.opened);
  EXPECT_EQ("<missing>", RawText(HKEY_LOCAL_MACHINE, kSheepKey, "VirtualSheep"));
  EXPECT_EQ(0u, SheepIconsOn);
}

TEST_F(DriveDialogTest, RefusedNumberShowsTheFailureBoxOverTheDialogThenCloses) {
  ShellIconSupport = TRUE;
  SheepIconsOn = 1;
  SetVirtualDrives("VW");
  SetVcd("SetDrivesFails", 1);
  DWORD calls = VcdCalls("VODDSetDrives");
  Outcome out = RunDialog([](HWND dlg) {
    ui::PickCombo(dlg, kCombo, 5);
    ui::SetCheck(dlg, kSheep, false);
    ui::Press(dlg, IDOK);
  });
  ASSERT_TRUE(out.opened);
  EXPECT_TRUE(out.closed) << "closes once the box is answered";
  EXPECT_EQ(2, out.result);
  ASSERT_EQ(1u, out.boxes.size()) << "one box, owned by the dialog";
  EXPECT_TRUE(out.openUnderBox);
  EXPECT_EQ("", out.boxes[0].caption) << "text 16";
  EXPECT_EQ("", out.boxes[0].text) << "text 17";
  EXPECT_EQ("OK", out.boxes[0].ButtonTexts());
  EXPECT_EQ(calls + 1, VcdCalls("VODDSetDrives"));
  EXPECT_EQ(std::string("VW") + '\0', RawText(HKEY_LOCAL_MACHINE, kVcdEmulation, "DriveLetters"));
  EXPECT_EQ(0u, SheepIconsOn) << "the option was taken before the number failed";
}

TEST_F(DriveDialogTest, CancelAndTheCloseButtonChangeNothing) {
  struct Way {
    const char *name;
    std::function<void(HWND)> close;
  };
  const Way ways[] = {
      {"Cancel", [](HWND dlg) { ui::Press(dlg, IDCANCEL); }},
      {"WM_CLOSE", [](HWND dlg) { PostMessageA(dlg, WM_CLOSE, 0, 0); }},
      {"close button", [](HWND dlg) { PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0); }},
      {"Escape", [](HWND dlg) {
         HWND focus = GetDlgItem(dlg, IDOK);
         PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
         PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
       }},
  };
  SetDword(HKEY_LOCAL_MACHINE, kSheepKey, "VirtualSheep", 1);
  for (const Way &w : ways) {
    SCOPED_TRACE(w.name);
    ShellIconSupport = TRUE;
    SheepIconsOn = 1;
    SetVirtualDrives("XY");
    DWORD calls = VcdCalls("VODDSetDrives");
    std::string sheepValue = RawText(HKEY_LOCAL_MACHINE, kSheepKey, "VirtualSheep");
    Outcome out = RunDialog([&](HWND dlg) {
      ui::PickCombo(dlg, kCombo, 6);
      ui::SetCheck(dlg, kSheep, false);
      w.close(dlg);
    });
    ASSERT_TRUE(out.opened);
    EXPECT_TRUE(out.closed);
    EXPECT_EQ(2, out.result);
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_EQ(calls, VcdCalls("VODDSetDrives")) << "VODDSetDrives not called";
    EXPECT_EQ(std::string("XY") + '\0', RawText(HKEY_LOCAL_MACHINE, kVcdEmulation, "DriveLetters"));
    EXPECT_EQ(1u, SheepIconsOn);
    EXPECT_EQ(sheepValue, RawText(HKEY_LOCAL_MACHINE, kSheepKey, "VirtualSheep"));
  }
}


// The menu command opens the dialog over the tray window; clicks on the icon meanwhile open
// no menu over it.
TEST_F(DriveDialogTest, MenuCommandOpensTheDialogAndTrayClicksOpenNoMenuMeanwhile) {
  SetVirtualDrives("");
  DWORD calls = VcdCalls("VODDSetDrives");
  struct Click {
    LPARAM mouse;
    bool answered;
    bool menu;
  };
  std::vector<Click> clicks;
  HWND owner = tray();
  Outcome out = RunModal(owner, [=] { return SendMessageA(owner, WM_COMMAND, IDM_VIRTUALDRIVES, 0); },
                    [&](HWND dlg) {
    for (LPARAM mouse : {(LPARAM)WM_RBUTTONDOWN, (LPARAM)WM_LBUTTONDOWN, (LPARAM)WM_CONTEXTMENU}) {
      DWORD_PTR r = 0;
      Click c{mouse, SendMessageTimeoutA(owner, TrayCallbackMessage, 0, mouse, SMTO_NORMAL, 3000, &r) != 0,
              false};
      Sleep(100);
      HWND menu = ui::OpenMenu(GetCurrentProcessId());
      c.menu = menu != nullptr;
      // A menu that opened all the same is closed, so that the dialog can go on.
      if (menu) PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
      clicks.push_back(c);
    }
    ui::PickCombo(dlg, kCombo, 4);
    ui::Press(dlg, IDOK);
  });
  ASSERT_TRUE(out.opened) << "a dialog owned by the tray window";
  EXPECT_TRUE(out.closed);
  EXPECT_EQ(Entries(""), out.look.entries);
  ASSERT_EQ(3u, clicks.size());
  for (const Click &c : clicks) {
    SCOPED_TRACE(c.mouse);
    EXPECT_TRUE(c.answered) << "the click was handled at once";
    EXPECT_FALSE(c.menu);
  }
  EXPECT_EQ(calls + 1, VcdCalls("VODDSetDrives"));
  EXPECT_EQ(4u, Drives());
}

// ---------------------------------------------------------------------------------------------
// The dialogSeam copy: which text goes where, the icon option's moment, the box's flags, the font.

class DriveDialogSeamTest : public DriveDialogTest {
 protected:
  void SetUp() override {
    DriveDialogTest::SetUp();
    record_ = std::make_unique<SeamRecord>();
    record_->setDrivesCalls = [] { return VcdCalls("VODDSetDrives"); };
    dialogSeam = record_.get();
  }
  void TearDown() override {
    dialogSeam = nullptr;
    DriveDialogTest::TearDown();
  }
  Outcome RunSeam(const std::function<void(HWND)> &drive) { return RunDialog(drive, SeamVirtualDriveDialogProc); }

 private:
  std::unique_ptr<SeamRecord> record_;
};

TEST_F(DriveDialogSeamTest, EachControlTakesItsLanguageText) {
  ShellIconSupport = TRUE;
  SetVcd("SetDrivesFails", 1);
  Outcome out = RunSeam([](HWND dlg) { ui::Press(dlg, IDOK); });
  ASSERT_TRUE(out.opened);
  EXPECT_EQ("T16", out.look.title);
  EXPECT_EQ(Entries("T12"), out.look.entries);
  EXPECT_EQ("T11", out.look.label);
  EXPECT_EQ("T14", out.look.ok);
  EXPECT_EQ("T13", out.look.cancel);
  EXPECT_EQ("T18", out.look.sheep);
  ASSERT_EQ(1u, out.boxes.size());
  EXPECT_EQ("T16", out.boxes[0].caption);
  EXPECT_EQ("T17", out.boxes[0].text);
  ASSERT_EQ(1u, seam::boxes.size());
  EXPECT_EQ("T17", seam::boxes[0].text);
  EXPECT_EQ("T16", seam::boxes[0].caption);
  EXPECT_EQ(UINT(MB_OK | MB_ICONINFORMATION), seam::boxes[0].flags) << "an OK box with the information icon";
  EXPECT_EQ(2, out.result);
}

TEST_F(DriveDialogSeamTest, FailureBoxIsOwnedByTheDialog) {
  SetVcd("SetDrivesFails", 1);
  HWND dialog = nullptr;
  Outcome out = RunSeam([&](HWND dlg) {
    dialog = dlg;
    ui::Press(dlg, IDOK);
  });
  ASSERT_EQ(1u, seam::boxes.size());
  EXPECT_EQ(dialog, seam::boxes[0].owner);
  EXPECT_EQ(1u, out.boxes.size());
}

TEST_F(DriveDialogSeamTest, OkStoresTheOptionOnceBeforeTheNumberChanges) {
  struct Case {
    const char *name;
    BOOL support;
    DWORD sheepBefore;
    bool tick;
    bool fails;
    size_t stores;
    DWORD stored;
  };
  const Case cases[] = {
      {"turned on", TRUE, 0, true, false, 1, 1},
      {"turned off", TRUE, 1, false, false, 1, 0},
      {"unchanged on", TRUE, 1, true, false, 1, 1},
      {"unchanged off", TRUE, 0, false, false, 1, 0},
      {"number refused", TRUE, 0, true, true, 1, 1},
      {"no shell support", FALSE, 1, false, false, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    dialogSeam->stores.clear();
    ShellIconSupport = c.support;
    SheepIconsOn = c.sheepBefore;
    SetVcd("SetDrivesFails", c.fails ? 1 : 0);
    DWORD calls = VcdCalls("VODDSetDrives");
    Outcome out = RunSeam([&](HWND dlg) {
      if (c.support) ui::SetCheck(dlg, kSheep, c.tick);
      ui::Press(dlg, IDOK);
    });
    ASSERT_TRUE(out.opened);
    ASSERT_EQ(c.stores, dialogSeam->stores.size());
    if (c.stores) {
      EXPECT_EQ(c.stored, dialogSeam->stores[0].sheepIconsOn);
      EXPECT_EQ(calls, dialogSeam->stores[0].setDrivesCallsBefore) << "stored before VODDSetDrives";
    }
    EXPECT_EQ(calls + 1, VcdCalls("VODDSetDrives"));
    EXPECT_EQ(c.fails ? 1u : 0u, out.boxes.size());
  }
}

TEST_F(DriveDialogSeamTest, CancelAndCloseStoreNoOption) {
  ShellIconSupport = TRUE;
  for (UINT message : {(UINT)WM_CLOSE, (UINT)WM_COMMAND}) {
    SCOPED_TRACE(message);
    Outcome out = RunSeam([&](HWND dlg) {
      ui::SetCheck(dlg, kSheep, false);
      if (message == WM_CLOSE)
        PostMessageA(dlg, WM_CLOSE, 0, 0);
      else
        ui::Press(dlg, IDCANCEL);
    });
    ASSERT_TRUE(out.opened);
    EXPECT_TRUE(dialogSeam->stores.empty());
    EXPECT_TRUE(seam::boxes.empty());
  }
}

// Library answers the stand-in cannot give: anything above 8, compared unsigned.
TEST_F(DriveDialogSeamTest, AnswersOutsideNoneToEightSelectEight) {
  const std::pair<unsigned, int> cases[] = {
      {0, 0}, {1, 1}, {8, 8}, {9, 8}, {0x7FFFFFFFu, 8}, {0x80000000u, 8}, {0xFFFFFFFFu, 8}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.first);
    dialogSeam->drivesAnswer = c.first;
    Outcome out = RunSeam([](HWND dlg) { ui::Press(dlg, IDCANCEL); });
    ASSERT_TRUE(out.opened);
    EXPECT_EQ(c.second, out.look.selection);
    EXPECT_EQ(9u, out.look.entries.size());
  }
}

TEST_F(DriveDialogSeamTest, LanguageFontIsAskedForOnceAndDeletedWithTheDialog) {
  LOGFONTA lf = {};
  lf.lfHeight = -11;
  lstrcpyA(lf.lfFaceName, "MS Sans Serif");
  lf.lfCharSet = RUSSIAN_CHARSET;
  HFONT font = CreateFontIndirectA(&lf);
  ASSERT_TRUE(font);

  // A code page from a language file: the font made for it lives as long as the dialog.
  LanguageCodePage = 1251;
  dialogSeam->fontToGive = font;
  HWND dialog = nullptr;
  bool aliveWhileOpen = false;
  Outcome out = RunSeam([&](HWND dlg) {
    dialog = dlg;
    aliveWhileOpen = GetObjectType(font) == OBJ_FONT;
    ui::Press(dlg, IDCANCEL);
  });
  ASSERT_TRUE(out.opened);
  ASSERT_EQ(1u, dialogSeam->fontCalls.size());
  EXPECT_EQ(dialog, dialogSeam->fontCalls[0].first);
  EXPECT_EQ(1251, dialogSeam->fontCalls[0].second);
  EXPECT_TRUE(aliveWhileOpen);
  EXPECT_EQ(std::vector<HGDIOBJ>{font}, dialogSeam->deleted);
  EXPECT_EQ(0u, GetObjectType(font)) << "deleted";

  // No language font (none read, or the font could not be made): nothing is deleted.
  for (int codePage : {-1, 0}) {
    SCOPED_TRACE(codePage);
    LanguageCodePage = codePage;
    dialogSeam->fontToGive = nullptr;
    dialogSeam->fontCalls.clear();
    dialogSeam->deleted.clear();
    out = RunSeam([](HWND dlg) { ui::Press(dlg, IDOK); });
    ASSERT_TRUE(out.opened);
    ASSERT_EQ(1u, dialogSeam->fontCalls.size());
    EXPECT_EQ(codePage, dialogSeam->fontCalls[0].second);
    EXPECT_TRUE(dialogSeam->deleted.empty());
  }
}

}  // namespace
