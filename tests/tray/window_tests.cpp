// The tray's hidden window in-process: start-up values, creation, the icon, the menu's shape,
// the commands, the icon's mouse messages and drive arrival and removal.
#include "tray_fixture.h"
#include <dbt.h>
#include <shellapi.h>
#include <algorithm>
#include <cstddef>
#include <functional>

using namespace testsupport;
using namespace traytest;

namespace {

const char kCaption[] = "Orvand Tray V4.2";

std::string Quoted(const std::string &s) { return "\"" + s + "\""; }

// ---- start-up values -------------------------------------------------------------------

TEST(StartupValues, ProgramFolderEndsInTheLastBackslash) {
  const std::pair<const char *, const char *> cases[] = {
      {"C:\\Apps\\OrvandTray.exe", "C:\\Apps\\"},
      {"C:\\OrvandTray.exe", "C:\\"},
      {"C:\\Program Files\\Orvand\\OrvandTray.exe", "C:\\Program Files\\Orvand\\"},
      {"\\\\server\\share\\OrvandTray.exe", "\\\\server\\share\\"},
      {"OrvandTray.exe", "OrvandTray.exe\\"},  // no backslash: the copy stays whole
      {"\\OrvandTray.exe", "\\OrvandTray.exe\\"},  // position 0 is never taken
  };
  char saved[MAX_PATH];
  lstrcpyA(saved, ModulePath);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.first);
    lstrcpyA(ModulePath, c.first);
    MakeProgramFolder();
    EXPECT_STREQ(c.second, ProgramFolder);
  }
  // A path of 259 characters without a backslash has no room for one more.
  std::string longest(259, 'x');
  lstrcpyA(ModulePath, longest.c_str());
  MakeProgramFolder();
  EXPECT_EQ(longest, std::string(ProgramFolder));
  lstrcpyA(ModulePath, saved);
  MakeProgramFolder();
}

TEST(StartupValues, ReadFromTheRunningModule) {
  ASSERT_TRUE(ReadStartupValues());
  EXPECT_EQ(SelfPath(), std::string(ModulePath));
  EXPECT_EQ(SelfFolder(), std::string(ProgramFolder));
  EXPECT_EQ(4, FileVersion.major);
  EXPECT_EQ(2, FileVersion.minor);
  EXPECT_EQ(0, FileVersion.build);
  EXPECT_EQ(0, FileVersion.revision);
  EXPECT_STREQ(kCaption, TrayCaption);
}

TEST(StartupValues, FileVersionOfOtherFiles) {
  TrayFileVersion v{9, 9, 9, 9};
  EXPECT_TRUE(ReadFileVersion(DistPath("QuinCheck.exe").c_str(), &v));
  EXPECT_EQ(2, v.major);
  EXPECT_EQ(1, v.minor);
  v = TrayFileVersion{9, 9, 9, 9};
  // No version resource, and no file: nothing is filled.
  EXPECT_FALSE(ReadFileVersion((SelfFolder() + "suite_stub.exe").c_str(), &v));
  EXPECT_FALSE(ReadFileVersion((SelfFolder() + "no such file.exe").c_str(), &v));
  EXPECT_EQ(9, v.major);
}

TEST(StartupValues, CaptionKeepsItsVersionWhenThePrefixIsLong) {
  TrayFileVersion saved = FileVersion;
  FileVersion = TrayFileVersion{4, 2, 0, 0};
  SetTrayCaption(std::string(200, 'p').c_str());
  EXPECT_EQ(std::string(76, 'p') + "4.2", std::string(TrayCaption));
  FileVersion = TrayFileVersion{65535, 65535, 0, 0};
  SetTrayCaption("Orvand Tray V");
  EXPECT_STREQ("Orvand Tray V65535.65535", TrayCaption);
  SetTrayCaption("");
  EXPECT_STREQ("65535.65535", TrayCaption);
  FileVersion = saved;
  SetTrayCaption("Orvand Tray V");
}

TEST(StartupValues, CutTextNeverSplitsADoubleByteCharacter) {
  // Only where the system's code page has lead bytes; Wine's default here is 1252.
  char out[8];
  CopyTextCut(out, "abcdefghij", sizeof out);
  EXPECT_STREQ("abcdefg", out);
  CopyTextCut(out, "", sizeof out);
  EXPECT_STREQ("", out);
  if (IsDBCSLeadByte(0x82)) {
    CopyTextCut(out, "abcdef\x82\xa0", sizeof out);
    EXPECT_STREQ("abcdef", out);
  }
}

struct ProbeCase {
  const char *dll;
  DWORD version;
  bool driveIcons;
};

TEST(StartupValues, ShellVersionProbe) {
  const ProbeCase cases[] = {
      {"probe471.dll", 0x00040047, false},
      {"probe472.dll", 0x00040048, true},
      {"probe500.dll", 0x00050000, true},
      {"probe_wide.dll", 0x00040047, false},  // each part cut to 16 bits
      {"probe_fails.dll", 0, false},
      {"probe_none.dll", 0, false},
      {"no_such_probe.dll", 0, false},
  };
  for (const ProbeCase &c : cases) {
    SCOPED_TRACE(c.dll);
    std::string path = SelfFolder() + "probe\\" + c.dll;
    EXPECT_EQ(c.version, ProbeDllVersion(path.c_str()));
    EXPECT_EQ(c.driveIcons, ShellHasDriveIcons(path.c_str()) != FALSE);
    // Every load is paired with a FreeLibrary.
    EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str()));
  }
}

// ---- the window ------------------------------------------------------------------------

class WindowTest : public TrayTest {
 protected:
  LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageA(tray(), message, wParam, lParam);
  }
  LRESULT Command(UINT id) { return Send(WM_COMMAND, id); }
  // Icon calls of one operation, in order.
  static std::vector<IconCall> IconCalls(DWORD operation) {
    std::vector<IconCall> calls;
    for (const IconCall &c : seam::iconCalls)
      if (c.operation == operation) calls.push_back(c);
    return calls;
  }
};

TEST_F(WindowTest, HiddenWindowOfItsClassWithTheClassMenu) {
  HWND w = CreateTray();
  ASSERT_NE(nullptr, w);
  EXPECT_FALSE(IsWindowVisible(w));
  char cls[64] = "", title[64] = "";
  GetClassNameA(w, cls, sizeof cls);
  GetWindowTextA(w, title, sizeof title);
  EXPECT_STREQ("MainWClass", cls);
  EXPECT_STREQ("QuinTrayWindow", title);
  EXPECT_EQ((LONG)WS_OVERLAPPEDWINDOW, GetWindowLongA(w, GWL_STYLE) & ~(WS_CLIPSIBLINGS | WS_CLIPCHILDREN));
  EXPECT_EQ(0, GetWindowLongA(w, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE);
  EXPECT_NE(nullptr, GetMenu(w));

  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), "MainWClass", &wc));
  EXPECT_EQ((UINT)(CS_HREDRAW | CS_VREDRAW), wc.style);
  EXPECT_EQ(0, wc.cbClsExtra);
  EXPECT_EQ(0, wc.cbWndExtra);
  EXPECT_EQ(MAKEINTRESOURCEA(IDR_TRAYMENU), wc.lpszMenuName);
  EXPECT_EQ((HBRUSH)GetStockObject(WHITE_BRUSH), wc.hbrBackground);
  EXPECT_NE(nullptr, wc.hIcon);
  EXPECT_EQ(LoadCursorA(nullptr, (LPCSTR)IDC_ARROW), wc.hCursor);
}

TEST_F(WindowTest, MenuShapeWithAndWithoutVirtualDrives) {
  const std::vector<std::string> full = {"&Start Orvand...", "-", "&Mask Rec", "-", "Virtual Farodrive...", "-",
                                         "&Help...", "Quintessa &Website...", "-", "Autostart", "-", "E&xit"};
  const UINT fullIds[] = {IDM_START, 0, IDM_MASKING, 0, IDM_VIRTUALDRIVES, 0, IDM_HELP, IDM_WEBSITE, 0,
                          IDM_AUTOSTART, 0, IDM_EXIT};
  std::vector<std::string> without = full;
  without.erase(without.begin() + 4, without.begin() + 6);

  for (DWORD installed : {1u, 0u}) {
    SCOPED_TRACE(installed);
    SetVcd("Installed", installed);
    DWORD restores = VcdCalls("VODDRestoreDrives");
    ASSERT_NE(nullptr, CreateTray());
    EXPECT_EQ(installed ? full : without, MenuShape(Popup()));
    if (installed) {
      for (int i = 0; i < 12; i++) {
        if (fullIds[i]) {
          EXPECT_EQ(fullIds[i], GetMenuItemID(Popup(), i)) << i;
        }
      }
      EXPECT_EQ(restores + 1, VcdCalls("VODDRestoreDrives"));
    } else {
      EXPECT_EQ(0xFFFFFFFFu, ItemState(Popup(), IDM_VIRTUALDRIVES));
      EXPECT_EQ(restores, VcdCalls("VODDRestoreDrives"));
    }
    DestroyTray();
  }
}

TEST_F(WindowTest, TheMenuResourceCarriesNoMarks) {
  HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAYMENU));
  ASSERT_NE(nullptr, menu);
  char title[32] = "";
  GetMenuStringA(menu, 0, title, sizeof title, MF_BYPOSITION);
  EXPECT_STREQ("Menu", title);
  HMENU popup = GetSubMenu(menu, 0);
  ASSERT_EQ(12, GetMenuItemCount(popup));
  for (int i = 0; i < 12; i++) {
    UINT state = GetMenuState(popup, i, MF_BYPOSITION);
    if (state & MF_SEPARATOR) continue;  // separators always read as grayed
    EXPECT_EQ(0u, state & (MF_CHECKED | MF_GRAYED | MF_DISABLED | MFS_DEFAULT)) << i;
  }
  EXPECT_EQ((UINT)-1, GetMenuDefaultItem(popup, FALSE, 0));
  DestroyMenu(menu);
}

TEST_F(WindowTest, TheIconIsAddedAfterTheMenuIsUpToDate) {
  ASSERT_NE(nullptr, CreateTray());
  ASSERT_FALSE(seam::iconCalls.empty());
  // The refresh inside creation asks for a modify before the icon exists; the add follows.
  EXPECT_EQ((DWORD)NIM_MODIFY, seam::iconCalls.front().operation);
  std::vector<IconCall> adds = IconCalls(NIM_ADD);
  ASSERT_EQ(1u, adds.size());
  const IconCall &add = adds[0];
  EXPECT_EQ(88u, add.cbSize);
  EXPECT_EQ(tray(), add.window);
  EXPECT_EQ(0u, add.id);
  EXPECT_EQ((UINT)(NIF_MESSAGE | NIF_TIP | NIF_ICON), add.flags);
  EXPECT_EQ(0x8064u, add.callbackMessage);
  EXPECT_EQ(kCaption, add.tip);
  EXPECT_TRUE(add.result) << "Wine's notification area took the icon";
  EXPECT_EQ((DWORD)NIM_ADD, seam::iconCalls.back().operation) << "nothing after the add";
}

struct IconCase {
  DWORD os;
  DWORD stored;
  int icon;
};

TEST_F(WindowTest, TheIconFollowsTheSwitchAndTheSystem) {
  const IconCase cases[] = {
      {1, 1, IDI_MASKING_ON},  {1, 0, IDI_MASKING_OFF},  {5, 1, IDI_MASKING_ON},
      {5, 0, IDI_MASKING_OFF}, {6, 1, IDI_MASKING_ON_XP}, {6, 0, IDI_MASKING_OFF_XP},
      {7, 1, IDI_MASKING_ON_XP}, {0xFFFFFFFF, 1, IDI_MASKING_ON},  // -1 is below 6
  };
  for (const IconCase &c : cases) {
    SCOPED_TRACE(testing::Message() << "os " << (int)c.os << " stored " << c.stored);
    seam::Reset();
    SetCdio("OsVersion", c.os);
    StoreStatus(true, c.stored);
    ASSERT_NE(nullptr, CreateTray());
    std::vector<IconCall> adds = IconCalls(NIM_ADD);
    ASSERT_EQ(1u, adds.size());
    EXPECT_EQ(Icon(c.icon), adds[0].icon);
    EXPECT_NE(nullptr, adds[0].icon);
    DestroyTray();
  }
}

TEST_F(WindowTest, DestroyRemovesTheIconAndPostsQuit) {
  ASSERT_NE(nullptr, CreateTray());
  seam::Reset();
  HWND w = tray();
  DestroyWindow(w);
  ASSERT_EQ(1u, seam::iconCalls.size());
  const IconCall &del = seam::iconCalls[0];
  EXPECT_EQ((DWORD)NIM_DELETE, del.operation);
  EXPECT_EQ(w, del.window);
  EXPECT_EQ((UINT)(NIF_MESSAGE | NIF_TIP), del.flags);
  EXPECT_EQ(nullptr, del.icon);
  EXPECT_TRUE(del.result);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(0u, msg.wParam);
  DestroyTray();
}

TEST_F(WindowTest, CloseEndsWithoutAQuestion) {
  ASSERT_NE(nullptr, CreateTray());
  HWND w = tray();
  EXPECT_EQ(0, Send(WM_CLOSE));
  EXPECT_FALSE(IsWindow(w));
  EXPECT_TRUE(seam::boxes.empty());
  DestroyTray();
}

TEST_F(WindowTest, TaskbarCreatedAddsTheIconAgain) {
  StoreStatus(true, 0);
  ASSERT_NE(nullptr, CreateTray());
  seam::Reset();
  lstrcpyA(TrayCaption, "Caption Now");
  EXPECT_EQ(0, Send(RegisterWindowMessageA("TaskbarCreated")));
  ASSERT_EQ(1u, seam::iconCalls.size());
  EXPECT_EQ((DWORD)NIM_ADD, seam::iconCalls[0].operation);
  EXPECT_EQ(Icon(IDI_MASKING_OFF_XP), seam::iconCalls[0].icon);
  EXPECT_EQ("Caption Now", seam::iconCalls[0].tip);
}

TEST_F(WindowTest, TooltipIsTheCaptionCutToSixtyThreeCharacters) {
  ASSERT_NE(nullptr, CreateTray());
  seam::Reset();
  std::string caption(79, 'c');
  lstrcpyA(TrayCaption, caption.c_str());
  NotifyTrayIcon(tray(), NIM_MODIFY, nullptr);
  ASSERT_EQ(1u, seam::iconCalls.size());
  EXPECT_EQ(std::string(63, 'c'), seam::iconCalls[0].tip);
  // Without an icon the shell keeps the picture it has.
  EXPECT_EQ((UINT)(NIF_MESSAGE | NIF_TIP), seam::iconCalls[0].flags);
}

TEST_F(WindowTest, UnknownCommandsAndMessagesAnswerAsDocumented) {
  ASSERT_NE(nullptr, CreateTray());
  seam::Reset();
  EXPECT_EQ(0, Command(999));
  EXPECT_EQ(0, Send(WM_COMMAND, MAKEWPARAM(0, 1), 12345));
  EXPECT_TRUE(seam::boxes.empty());
  EXPECT_TRUE(seam::shellCalls.empty());
  // Anything else goes to the default procedure.
  EXPECT_EQ(DefWindowProcA(tray(), WM_GETMINMAXINFO + 0x300, 1, 2), Send(WM_GETMINMAXINFO + 0x300, 1, 2));
}

// ---- autostart -------------------------------------------------------------------------

struct AutostartCase {
  const char *name;
  bool setBefore;
  int answer;   // what the box gives
  bool setAfter;
};

class AutostartTest : public WindowTest, public testing::WithParamInterface<AutostartCase> {};

TEST_P(AutostartTest, TheQuestionDecides) {
  const AutostartCase &c = GetParam();
  if (c.setBefore) {
    ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_LOCAL_MACHINE, kRunKey, "OrvandTray", "x"));
  }
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_EQ(c.setBefore ? (UINT)MF_CHECKED : 0u, ItemState(Popup(), IDM_AUTOSTART) & MF_CHECKED);
  seam::boxAnswers.push_back(c.answer);
  EXPECT_EQ(0, Command(IDM_AUTOSTART));

  ASSERT_EQ(1u, seam::boxes.size());
  EXPECT_EQ(nullptr, seam::boxes[0].owner);
  EXPECT_EQ((UINT)(MB_YESNO | MB_ICONQUESTION), seam::boxes[0].flags);
  EXPECT_EQ(kCaption, seam::boxes[0].caption);
  EXPECT_EQ(GetText(7), seam::boxes[0].text);

  RawValue v = ReadRaw(HKEY_LOCAL_MACHINE, kRunKey, "OrvandTray");
  EXPECT_EQ(c.setAfter, v.exists);
  if (c.setAfter && !c.setBefore) {
    std::string want = Quoted(ModulePath);
    EXPECT_EQ((DWORD)REG_SZ, v.type);
    EXPECT_EQ(B(want.c_str(), want.size() + 1), v.data);
  }
  EXPECT_EQ(c.setAfter ? (UINT)MF_CHECKED : 0u, ItemState(Popup(), IDM_AUTOSTART) & MF_CHECKED);
}

INSTANTIATE_TEST_SUITE_P(Answers, AutostartTest,
                         testing::Values(AutostartCase{"OnYes", false, IDYES, true},
                                         AutostartCase{"OnNo", false, IDNO, false},
                                         AutostartCase{"OnNoBox", false, 0, true},
                                         AutostartCase{"OffYes", true, IDYES, false},
                                         AutostartCase{"OffNo", true, IDNO, true},
                                         AutostartCase{"OffNoBox", true, 0, false}),
                         [](const testing::TestParamInfo<AutostartCase> &i) { return std::string(i.param.name); });

TEST_F(WindowTest, AutostartCountsAnyValueAsSet) {
  // Longer than 260 bytes, or of another type: it is there, so the toggle removes it.
  const std::pair<DWORD, Bytes> values[] = {
      {REG_SZ, Bytes(600, 'a')},
      {REG_DWORD, Bytes(4, 0)},
      {REG_BINARY, Bytes()},
  };
  for (const auto &v : values) {
    SCOPED_TRACE(v.second.size());
    ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKEY_LOCAL_MACHINE, kRunKey, "OrvandTray", v.first, v.second));
    EXPECT_TRUE(AutostartIsSet());
    ASSERT_NE(nullptr, CreateTray());
    EXPECT_EQ((UINT)MF_CHECKED, ItemState(Popup(), IDM_AUTOSTART) & MF_CHECKED);
    seam::boxAnswers.push_back(IDYES);
    Command(IDM_AUTOSTART);
    EXPECT_FALSE(ReadRaw(HKEY_LOCAL_MACHINE, kRunKey, "OrvandTray").exists);
    EXPECT_EQ(0u, ItemState(Popup(), IDM_AUTOSTART) & MF_CHECKED);
    DestroyTray();
  }
}

TEST_F(WindowTest, AutostartWithTheRealBox) {
  ASSERT_NE(nullptr, CreateTray());
  {
    BoxAnswerer answer(kCaption, IDYES);
    Command(IDM_AUTOSTART);
    EXPECT_EQ("&Yes|&No", answer.seen().ButtonTexts());
  }
  EXPECT_TRUE(ReadRaw(HKEY_LOCAL_MACHINE, kRunKey, "OrvandTray").exists);
  {
    BoxAnswerer answer(kCaption, IDNO);
    Command(IDM_AUTOSTART);
    ASSERT_TRUE(answer.seen());
  }
  EXPECT_TRUE(ReadRaw(HKEY_LOCAL_MACHINE, kRunKey, "OrvandTray").exists);
  EXPECT_EQ((UINT)MF_CHECKED, ItemState(Popup(), IDM_AUTOSTART) & MF_CHECKED);
}

TEST_F(WindowTest, AutostartThatCannotBeWrittenKeepsItsMark) {
  // Without the Run key nothing can be opened, so nothing changes.
  DeleteTree(HKEY_LOCAL_MACHINE, kRunKey);
  ASSERT_NE(nullptr, CreateTray());
  seam::boxAnswers.push_back(IDYES);
  Command(IDM_AUTOSTART);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRunKey));
  EXPECT_EQ(0u, ItemState(Popup(), IDM_AUTOSTART) & MF_CHECKED);
  EXPECT_FALSE(AutostartAdd());
  EXPECT_FALSE(AutostartRemove());
  EXPECT_FALSE(AutostartIsSet());
}

// ---- exit ------------------------------------------------------------------------------

TEST_F(WindowTest, ExitAsksFirst) {
  ASSERT_NE(nullptr, CreateTray());
  HWND w = tray();
  {
    BoxAnswerer answer(kCaption, IDNO);
    EXPECT_EQ(0, Command(IDM_EXIT));
    EXPECT_EQ("&Yes|&No", answer.seen().ButtonTexts());
    EXPECT_EQ(GetText(8), answer.seen().text);
  }
  EXPECT_TRUE(IsWindow(w));
  ASSERT_EQ(1u, seam::boxes.size());
  EXPECT_EQ(nullptr, seam::boxes[0].owner);
  EXPECT_EQ((UINT)(MB_YESNO | MB_ICONQUESTION), seam::boxes[0].flags);
  EXPECT_EQ(kCaption, seam::boxes[0].caption);

  seam::boxAnswers.push_back(0);  // a box that cannot be shown keeps the tray
  Command(IDM_EXIT);
  EXPECT_TRUE(IsWindow(w));

  {
    BoxAnswerer answer(kCaption, IDYES);
    Command(IDM_EXIT);
    ASSERT_TRUE(answer.seen());
  }
  EXPECT_FALSE(IsWindow(w));
  DestroyTray();
}

// ---- the icon's mouse messages ---------------------------------------------------------



// Runs `open` on this thread while a second thread waits for the popup menu, notes where it
// opened and presses `keys` into it.  Returns the menu's top left corner, or {-1,-1}.
POINT WithMenu(HWND tray, const std::function<void()> &open, const std::vector<WPARAM> &keys) {
  POINT corner{-1, -1};
  std::thread closer([&] {
    HWND menu = ui::WaitMenu(GetCurrentProcessId(), 10000);
    if (!menu) return;
    RECT r;
    GetWindowRect(menu, &r);
    corner = POINT{r.left, r.top};
    for (WPARAM key : keys) {
      PostMessageA(tray, WM_KEYDOWN, key, 0);
      Sleep(50);
    }
  });
  open();
  closer.join();
  return corner;
}

TEST_F(WindowTest, ClicksOnTheIconOpenTheMenuAtTheCursor) {
  ASSERT_NE(nullptr, CreateTray());
  for (LPARAM mouse : {(LPARAM)WM_RBUTTONDOWN, (LPARAM)WM_LBUTTONDOWN, (LPARAM)WM_CONTEXTMENU}) {
    SCOPED_TRACE(mouse);
    ASSERT_TRUE(SetCursorPos(200, 150));
    POINT corner = WithMenu(tray(), [&] { EXPECT_EQ(0, Send(TrayCallbackMessage, 0, mouse)); }, {VK_ESCAPE});
    EXPECT_EQ(200, corner.x);
    EXPECT_EQ(150, corner.y);
    EXPECT_EQ(nullptr, ui::OpenMenu(GetCurrentProcessId()));
    Pump();
  }
}

TEST_F(WindowTest, ACommandChosenInTheMenuArrivesAsWmCommand) {
  ASSERT_NE(nullptr, CreateTray());
  ASSERT_TRUE(SetCursorPos(100, 100));
  // Down to the first item, "Start", and Enter: the main program is started.
  WithMenu(tray(), [&] { Send(TrayCallbackMessage, 0, WM_RBUTTONDOWN); }, {VK_DOWN, VK_RETURN});
  Pump();
  ASSERT_EQ(1u, seam::shellCalls.size());
  EXPECT_EQ(std::string(ProgramFolder) + "Orvand.exe", seam::shellCalls[0].file);
}

TEST_F(WindowTest, OtherMouseMessagesDoNothing) {
  ASSERT_NE(nullptr, CreateTray());
  for (LPARAM mouse : {(LPARAM)WM_MOUSEMOVE, (LPARAM)WM_LBUTTONUP, (LPARAM)WM_RBUTTONUP, (LPARAM)WM_RBUTTONDBLCLK}) {
    EXPECT_EQ(0, Send(TrayCallbackMessage, 0, mouse));
    EXPECT_EQ(nullptr, ui::OpenMenu(GetCurrentProcessId()));
  }
  EXPECT_TRUE(seam::shellCalls.empty());
}

TEST_F(WindowTest, NoMenuWhileABoxIsOpen) {
  ASSERT_NE(nullptr, CreateTray());
  HWND w = tray();
  LRESULT clicked = -1;
  bool menuSeen = true;
  std::thread clicker([&] {
    ui::Box box = ui::WaitBox(kCaption, GetCurrentProcessId());
    if (!box) return;
    // Handled by the tray's thread inside the box's own loop.
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(w, TrayCallbackMessage, 0, WM_RBUTTONDOWN, SMTO_NORMAL, 5000, &result))
      clicked = (LRESULT)result;
    SendMessageTimeoutA(w, TrayCallbackMessage, 0, WM_LBUTTONDBLCLK, SMTO_NORMAL, 5000, &result);
    menuSeen = ui::WaitMenu(GetCurrentProcessId(), 500) != nullptr;
    ui::No(box.hwnd);
  });
  Command(IDM_EXIT);
  clicker.join();
  EXPECT_EQ(DefWindowProcA(w, TrayCallbackMessage, 0, WM_RBUTTONDOWN), clicked);
  EXPECT_FALSE(menuSeen);
  EXPECT_TRUE(seam::shellCalls.empty()) << "no start while busy";
  // Once the box is gone, clicks work again.
  WithMenu(tray(), [&] { Send(TrayCallbackMessage, 0, WM_RBUTTONDOWN); }, {VK_ESCAPE});
}

// ---- starting the suite's programs -----------------------------------------------------

struct StartCase {
  const char *name;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  const char *program;
};

class StartTest : public WindowTest, public testing::WithParamInterface<StartCase> {};

TEST_P(StartTest, ByItsFullPathFromTheTraysFolder) {
  const StartCase &c = GetParam();
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_EQ(0, Send(c.message, c.wParam, c.lParam));
  ASSERT_EQ(1u, seam::shellCalls.size());
  const ShellCall &call = seam::shellCalls[0];
  EXPECT_EQ(tray(), call.window);
  EXPECT_EQ("open", call.verb);
  EXPECT_EQ(std::string(ProgramFolder) + c.program, call.file);
  EXPECT_EQ("<null>", call.parameters);
  EXPECT_EQ(ProgramFolder, call.directory);
  EXPECT_EQ(SW_SHOWNORMAL, call.show);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, StartTest,
    testing::Values(StartCase{"Start", WM_COMMAND, IDM_START, 0, "Orvand.exe"},
                    StartCase{"StartHighWord", WM_COMMAND, MAKEWPARAM(IDM_START, 1), 77, "Orvand.exe"},
                    StartCase{"Help", WM_COMMAND, IDM_HELP, 0, "Assistview.exe"},
                    StartCase{"DoubleClick", TrayCallbackMessage, 0, WM_LBUTTONDBLCLK, "Orvand.exe"}),
    [](const testing::TestParamInfo<StartCase> &i) { return std::string(i.param.name); });

// A folder of this test run with the recording stand-in copied in under the given names.
std::string SuiteFolder(const std::string &name, const std::vector<std::string> &programs) {
  std::string dir = SelfFolder() + name + "\\";
  CreateDirectoryA(dir.c_str(), nullptr);
  for (const std::string &p : programs)
    EXPECT_TRUE(CopyFileA((SelfFolder() + "suite_stub.exe").c_str(), (dir + p).c_str(), FALSE)) << p;
  return dir;
}

RawValue WaitStubStart(DWORD starts, DWORD timeoutMs = 15000) {
  DWORD start = GetTickCount();
  for (;;) {
    RawValue v = ReadRaw(HKEY_CURRENT_USER, "Software\\QuinTests\\SuiteStub", "Starts");
    if (v.exists && v.data.size() == 4 && *(DWORD *)v.data.data() >= starts) return v;
    if (GetTickCount() - start > timeoutMs) return RawValue{};
    Sleep(100);
  }
}

std::string StubValue(const char *name) {
  RawValue v = ReadRaw(HKEY_CURRENT_USER, "Software\\QuinTests\\SuiteStub", name);
  return v.exists && !v.data.empty() ? std::string(v.data.begin(), v.data.end() - 1) : "";
}

TEST_F(WindowTest, TheProgramsReallyStartFromThereAndNotFromThePath) {
  SavedKey stub(HKEY_CURRENT_USER, "Software\\QuinTests\\SuiteStub");
  DeleteTree(HKEY_CURRENT_USER, "Software\\QuinTests\\SuiteStub");
  std::string dir = SuiteFolder("suite folder", {"Orvand.exe", "Assistview.exe"});
  ASSERT_NE(nullptr, CreateTray());
  lstrcpyA(ProgramFolder, dir.c_str());
  seam::shellRecordOnly = false;

  Command(IDM_HELP);
  ASSERT_TRUE(WaitStubStart(1).exists);
  EXPECT_EQ(dir + "Assistview.exe", StubValue("Module"));
  EXPECT_EQ(dir.substr(0, dir.size() - 1), StubValue("Directory"));

  // A folder without the programs starts nothing, though one of the same name lies in the
  // current directory, which a search would find.
  std::string empty = SuiteFolder("empty suite folder", {});
  SuiteFolder("decoy", {"Orvand.exe"});
  char cwd[MAX_PATH];
  GetCurrentDirectoryA(sizeof cwd, cwd);
  SetCurrentDirectoryA((SelfFolder() + "decoy").c_str());
  lstrcpyA(ProgramFolder, empty.c_str());
  Command(IDM_START);
  SetCurrentDirectoryA(cwd);
  EXPECT_FALSE(WaitStubStart(2, 3000).exists);
}

TEST_F(WindowTest, AFolderTooLongForTheProgramStartsNothing) {
  ASSERT_NE(nullptr, CreateTray());
  std::string folder = "C:\\" + std::string(245, 'f') + "\\";  // 249 characters
  lstrcpyA(ProgramFolder, folder.c_str());
  Command(IDM_START);  // 249 + 10 = 259 fits
  Command(IDM_HELP);   // 249 + 14 does not
  ASSERT_EQ(1u, seam::shellCalls.size());
  EXPECT_EQ(folder + "Orvand.exe", seam::shellCalls[0].file);
}

TEST_F(WindowTest, WebsiteOpensTheAddressOfTheLanguageTexts) {
  std::string dist = DistPath("OrvandTray.exe");
  dist = dist.substr(0, dist.find_last_of('\\') + 1);
  lstrcpyA(ProgramFolder, dist.c_str());
  // The name read last stays when no value is there, so English is named.
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, kSettings, "LocaleName", "en"));
  ASSERT_NE(nullptr, CreateTray());  // reads the shipped English texts
  ASSERT_NE(nullptr, WebAddress());
  EXPECT_EQ(0, Command(IDM_WEBSITE));
  ASSERT_EQ(1u, seam::shellCalls.size());
  const ShellCall &call = seam::shellCalls[0];
  EXPECT_EQ(tray(), call.window);
  EXPECT_EQ("open", call.verb);
  EXPECT_EQ("http://www.example.com/orvand/en/", call.file);
  EXPECT_EQ("<null>", call.parameters);
  EXPECT_EQ("<null>", call.directory);
  EXPECT_EQ(SW_SHOWNORMAL, call.show);
}

TEST_F(WindowTest, WebsiteWithoutAnAddressDoesNothing) {
  ASSERT_NE(nullptr, CreateTray());
  ASSERT_TRUE(WebAddress() == nullptr || !*WebAddress());
  EXPECT_EQ(0, Command(IDM_WEBSITE));
  EXPECT_TRUE(seam::shellCalls.empty());
}

// ---- drives arriving and leaving -------------------------------------------------------

DEV_BROADCAST_VOLUME Volume(DWORD unitMask, WORD flags = 0) {
  DEV_BROADCAST_VOLUME v{};
  v.dbcv_size = sizeof v;
  v.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  v.dbcv_unitmask = unitMask;
  v.dbcv_flags = flags;
  return v;
}

DWORD Letter(char c) { return 1u << (c - 'A'); }

class DeviceTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    if (HasFatalFailure()) return;
    char root[] = "R:\\";
    for (char c : {'A', 'R', 'S'}) {
      root[0] = c;
      ASSERT_EQ((UINT)DRIVE_CDROM, GetDriveTypeA(root)) << c << ": is set up as a CD-ROM in the prefix";
    }
    ASSERT_EQ((UINT)DRIVE_FIXED, GetDriveTypeA("C:\\"));
  }
  LRESULT Change(WPARAM event, DEV_BROADCAST_VOLUME v) { return Send(WM_DEVICECHANGE, event, (LPARAM)&v); }
  struct Counts {
    DWORD commands, opens, closes;
  };
  Counts Now() { return {CdioCalls("MaskRec_SendCommand"), VcdCalls("OpenVODDLetter"), VcdCalls("CloseVODD")}; }
};

TEST_F(DeviceTest, ArrivalsThatChangeNothing) {
  SetVirtualDrives("RS");
  ASSERT_NE(nullptr, CreateTray());
  DEV_BROADCAST_HDR port{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_PORT, 0};
  DEV_BROADCAST_VOLUME shortRecord = Volume(Letter('R'));
  shortRecord.dbcv_size = offsetof(DEV_BROADCAST_VOLUME, dbcv_flags);
  struct Case {
    const char *name;
    WPARAM event;
    LPARAM lParam;
  } cases[] = {
      {"disc in a drive", DBT_DEVICEARRIVAL, 0},
      {"network share", DBT_DEVICEARRIVAL, 0},
      {"A: and B: only", DBT_DEVICEARRIVAL, 0},
      {"hard disk", DBT_DEVICEARRIVAL, 0},
      {"no CD letter at all", DBT_DEVICEARRIVAL, 0},
      {"no record", DBT_DEVICEARRIVAL, 0},
      {"not a volume", DBT_DEVICEARRIVAL, (LPARAM)&port},
      {"record shorter than a volume's", DBT_DEVICEARRIVAL, (LPARAM)&shortRecord},
      {"removal without a record", DBT_DEVICEREMOVECOMPLETE, 0},
      {"another event: its lParam is not a record", DBT_DEVNODES_CHANGED, 1},
      {"query before removal", DBT_DEVICEQUERYREMOVE, 1},
  };
  DEV_BROADCAST_VOLUME volumes[] = {Volume(Letter('R'), DBTF_MEDIA), Volume(Letter('R'), DBTF_NET),
                                    Volume(Letter('A') | Letter('B')), Volume(Letter('C')), Volume(Letter('Q'))};
  for (int i = 0; i < 5; i++) cases[i].lParam = (LPARAM)&volumes[i];

  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    seam::Reset();
    Counts before = Now();
    EXPECT_EQ(DefWindowProcA(tray(), WM_DEVICECHANGE, c.event, c.lParam), Send(WM_DEVICECHANGE, c.event, c.lParam));
    Counts after = Now();
    EXPECT_EQ(before.commands, after.commands);
    EXPECT_EQ(before.opens, after.opens);
    EXPECT_TRUE(seam::iconCalls.empty());
  }
}

TEST_F(DeviceTest, ACdRomArrivingReappliesTheStoredChoice) {
  SetVirtualDrives("RS");
  StoreStatus(true, 1);
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_EQ(1u, LayerMaskState());
  // Someone else turned the layer's switch off; the stored choice comes back with the drive.
  SetCdio("MaskState", 0);
  Counts before = Now();
  EXPECT_EQ(DefWindowProcA(tray(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0),
            Change(DBT_DEVICEARRIVAL, Volume(Letter('R') | Letter('S'))));
  Counts after = Now();
  EXPECT_EQ(1u, LayerMaskState());
  EXPECT_EQ(1, TrayStatus);
  EXPECT_EQ(before.commands + 1, after.commands);
  // Icons on and drives installed: both letters asked, each handle given back.
  EXPECT_EQ(before.opens + 2, after.opens);
  EXPECT_EQ(before.closes + 2, after.closes);
  ASSERT_FALSE(seam::iconCalls.empty());
  EXPECT_EQ((DWORD)NIM_MODIFY, seam::iconCalls.back().operation);
}

TEST_F(DeviceTest, WithoutIconsOrVirtualDrivesTheScanStopsAtTheFirstCdRom) {
  for (int installed : {1, 0}) {
    SCOPED_TRACE(installed);
    SetVcd("Installed", installed);
    SetVirtualDrives("RS");
    ASSERT_NE(nullptr, CreateTray());
    SheepIconsOn = installed ? 0 : 1;
    Counts before = Now();
    Change(DBT_DEVICEARRIVAL, Volume(Letter('C') | Letter('R') | Letter('S')));
    Counts after = Now();
    EXPECT_EQ(before.opens, after.opens);
    EXPECT_EQ(before.commands + 1, after.commands) << "the switch is applied again all the same";
    DestroyTray();
    SheepIconsOn = 1;
  }
}

TEST_F(DeviceTest, OnlyVirtualDrivesAreAskedForAHandleBack) {
  SetVirtualDrives("S");
  ASSERT_NE(nullptr, CreateTray());
  Counts before = Now();
  Change(DBT_DEVICEARRIVAL, Volume(Letter('R') | Letter('S')));
  Counts after = Now();
  EXPECT_EQ(before.opens + 2, after.opens);
  EXPECT_EQ(before.closes + 1, after.closes);
}

TEST_F(DeviceTest, RemovalReadsTheSwitchBackForAnyDrive) {
  StoreStatus(true, 1);
  ASSERT_NE(nullptr, CreateTray());
  SetCdio("MaskState", 0x0100);
  Counts before = Now();
  Change(DBT_DEVICEREMOVECOMPLETE, Volume(Letter('C')));
  EXPECT_EQ(before.commands + 1, Now().commands);
  EXPECT_EQ(0x0100, TrayStatus);
  EXPECT_EQ(0u, ItemState(Popup(), IDM_MASKING) & MF_CHECKED);
  EXPECT_EQ(Icon(IDI_MASKING_OFF_XP), seam::iconCalls.back().icon);
  EXPECT_EQ(0x0100u, LayerMaskState()) << "a removal only asks";
}

}  // namespace
