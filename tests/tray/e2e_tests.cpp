// OrvandTray.exe end to end under Wine: start-up failures and their exit codes, the single
// instance, exit and close, the icon in Wine's notification area, drive messages from another
// process, and a tray installed in a folder whose path has a space.
#include "tray_fixture.h"
#include "lng_files.h"
#include <dbt.h>
#include <shellapi.h>

using namespace testsupport;
using namespace traytest;

namespace {

const char kCaption[] = "Orvand Tray V4.2";

class TrayRunTest : public TrayTest {
 protected:
  static DWORD Commands() { return CdioCalls("MaskRec_SendCommand"); }
  // Waits until the counter of MaskRec_SendCommand reaches `count`.
  static bool WaitCommands(DWORD count, DWORD timeoutMs = 10000) {
    DWORD start = GetTickCount();
    while (Commands() < count) {
      if (GetTickCount() - start > timeoutMs) return false;
      Sleep(50);
    }
    return true;
  }
  // Whether the shell holds an icon of `window` with id 0: a modify that changes nothing
  // succeeds only for an icon that exists.
  static bool IconShown(HWND window) {
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = 0;
    data.uFlags = 0;
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
  }
  static int TrayWindows() {
    int n = 0;
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, TRAY_CLASS_NAME, TRAY_WINDOW_TITLE)) != nullptr) n++;
    return n;
  }
};

struct FailureCase {
  const char *name;
  const char *cdioSetting;
  const char *vcdSetting;
  DWORD value;
  DWORD exitCode;
  const char *notCalled;  // a call that must not have happened
};

class StartupFailureTest : public TrayRunTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(StartupFailureTest, EndsQuietlyWithItsCode) {
  const FailureCase &c = GetParam();
  if (c.cdioSetting) SetCdio(c.cdioSetting, c.value);
  if (c.vcdSetting) SetVcd(c.vcdSetting, c.value);
  Program tray(DistPath("OrvandTray.exe"), "");
  ASSERT_TRUE(tray.started());
  EXPECT_EQ(c.exitCode, tray.Wait());
  EXPECT_EQ(0u, Commands()) << "no window was made";
  if (std::string(c.notCalled).find("VODD") == 0)
    EXPECT_EQ(0u, VcdCalls(c.notCalled));
  else
    EXPECT_EQ(0u, CdioCalls(c.notCalled));
  EXPECT_EQ(0u, CdioCalls("QuinCDIO_DeInitScsi")) << "the layer is never shut down";
}

INSTANTIATE_TEST_SUITE_P(
    Layers, StartupFailureTest,
    testing::Values(FailureCase{"CdioNotReady", "InitResult", nullptr, 1, 20, "VODDInit"},
                    FailureCase{"CdioAnyOtherAnswer", "InitResult", nullptr, 0xFFFFFFFF, 20, "VODDInit"},
                    FailureCase{"VirtualDrivesNotReady", nullptr, "InitResult", 0, 20, "QuinCDIO_GetOSVersion"},
                    FailureCase{"NoSystemCode", "OsVersion", nullptr, 0, 20, "MaskRec_SendCommand"}),
    [](const testing::TestParamInfo<FailureCase> &i) { return std::string(i.param.name); });

TEST_F(TrayRunTest, AnObjectOfTheEventsNameEndsTheStart) {
  // A mutex holds the name, so the event cannot be made.
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "OrvandTray");
  ASSERT_NE(nullptr, mutex);
  Program tray(DistPath("OrvandTray.exe"), "");
  EXPECT_EQ(0u, tray.Wait());
  EXPECT_EQ(0u, Commands());
  EXPECT_EQ(1u, VcdCalls("VODDInit"));
  CloseHandle(mutex);
}

// Every resource of a module: type, name and language with its bytes.
struct Resource {
  std::string type, name;  // "#n" for numbers
  WORD language;
  Bytes data;
};

std::string ResourceId(LPCSTR id) { return IS_INTRESOURCE(id) ? "#" + std::to_string((UINT_PTR)id) : std::string(id); }
LPCSTR ResourcePointer(const std::string &id) {
  return id[0] == '#' ? MAKEINTRESOURCEA(std::stoi(id.substr(1))) : id.c_str();
}

BOOL CALLBACK AddType(HMODULE, LPSTR type, LONG_PTR list) {
  ((std::vector<std::string> *)list)->push_back(ResourceId(type));
  return TRUE;
}
BOOL CALLBACK AddName(HMODULE, LPCSTR, LPSTR name, LONG_PTR list) {
  ((std::vector<std::string> *)list)->push_back(ResourceId(name));
  return TRUE;
}
BOOL CALLBACK AddLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR list) {
  ((std::vector<WORD> *)list)->push_back(language);
  return TRUE;
}

std::vector<Resource> ReadResources(const std::string &file) {
  std::vector<Resource> all;
  HMODULE module = LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return all;
  std::vector<std::string> types;
  EnumResourceTypesA(module, AddType, (LONG_PTR)&types);
  for (const std::string &type : types) {
    std::vector<std::string> names;
    EnumResourceNamesA(module, ResourcePointer(type), AddName, (LONG_PTR)&names);
    for (const std::string &name : names) {
      std::vector<WORD> languages;
      EnumResourceLanguagesA(module, ResourcePointer(type), ResourcePointer(name), AddLanguage,
                             (LONG_PTR)&languages);
      for (WORD language : languages) {
        HRSRC found = FindResourceExA(module, ResourcePointer(type), ResourcePointer(name), language);
        const unsigned char *bytes = (const unsigned char *)LockResource(LoadResource(module, found));
        all.push_back({type, name, language, Bytes(bytes, bytes + SizeofResource(module, found))});
      }
    }
  }
  FreeLibrary(module);
  return all;
}

// Writes the module's resources anew, without those of type `dropped`.
bool RewriteResourcesWithout(const std::string &file, LPCSTR dropped) {
  std::vector<Resource> all = ReadResources(file);
  if (all.empty()) return false;
  HANDLE update = BeginUpdateResourceA(file.c_str(), TRUE);
  if (!update) return false;
  for (const Resource &r : all) {
    if (r.type == ResourceId(dropped)) continue;
    if (!UpdateResourceA(update, ResourcePointer(r.type), ResourcePointer(r.name), r.language,
                         (void *)r.data.data(), (DWORD)r.data.size()))
      return false;
  }
  return EndUpdateResourceA(update, FALSE) != FALSE;
}

TEST_F(TrayRunTest, WithoutAVersionBlockTheTrayEndsWithZero) {
  std::string dir = InstallTray("tray without version");
  std::string exe = dir + "OrvandTray.exe";
  ASSERT_TRUE(RewriteResourcesWithout(exe, RT_VERSION));
  DWORD handle;
  ASSERT_EQ(0u, GetFileVersionInfoSizeA(exe.c_str(), &handle));
  ASSERT_FALSE(ReadResources(exe).empty()) << "the other resources stay";
  Program tray(exe, "", dir);
  EXPECT_EQ(0u, tray.Wait());
  EXPECT_EQ(0u, Commands());
}

TEST_F(TrayRunTest, ASecondStartMakesTheFirstRefreshAndEnds) {
  RunningTray first;
  ASSERT_TRUE(first.up());
  ASSERT_TRUE(WaitCommands(1));
  DWORD before = Commands();
  Program second(DistPath("OrvandTray.exe"), "");
  EXPECT_EQ(0u, second.Wait());
  EXPECT_TRUE(WaitCommands(before + 1)) << "the first tray asked the layer again";
  EXPECT_EQ(1, TrayWindows());
  EXPECT_TRUE(first.program().Running());
  EXPECT_EQ(0u, first.Close());
}

TEST_F(TrayRunTest, ExitAnsweredNoThenYes) {
  RunningTray tray;
  ASSERT_TRUE(tray.up());
  PostMessageA(tray.window(), WM_COMMAND, IDM_EXIT, 0);
  ui::Box box = ui::WaitBox(kCaption, tray.program().pid());
  ASSERT_TRUE(box);
  EXPECT_EQ("&Yes|&No", box.ButtonTexts());
  EXPECT_EQ(nullptr, GetWindow(box.hwnd, GW_OWNER));
  ui::No(box.hwnd);
  ASSERT_TRUE(ui::WaitGone(box.hwnd));
  EXPECT_EQ(STILL_ACTIVE, tray.program().Wait(1000));

  PostMessageA(tray.window(), WM_COMMAND, IDM_EXIT, 0);
  box = ui::WaitBox(kCaption, tray.program().pid());
  ASSERT_TRUE(box);
  ui::Yes(box.hwnd);
  EXPECT_EQ(0u, tray.program().Wait());
}

TEST_F(TrayRunTest, TheIconIsInTheNotificationAreaWhileTheTrayRuns) {
  HWND window;
  {
    RunningTray tray;
    ASSERT_TRUE(tray.up());
    window = tray.window();
    EXPECT_TRUE(IconShown(window));
    EXPECT_EQ(0u, tray.Close());
  }
  EXPECT_FALSE(IconShown(window));
}

// A volume record as another process sends it: exactly `size` bytes cross.
LRESULT SendVolume(HWND window, WPARAM event, DWORD unitMask, DWORD size) {
  DEV_BROADCAST_VOLUME v{};
  v.dbcv_size = size;
  v.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  v.dbcv_unitmask = unitMask;
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, WM_DEVICECHANGE, event, (LPARAM)&v, SMTO_NORMAL, 10000, &result);
  return (LRESULT)result;
}

TEST_F(TrayRunTest, DriveMessagesFromAnotherProcess) {
  SetVirtualDrives("R");
  RunningTray tray;
  ASSERT_TRUE(tray.up());
  ASSERT_TRUE(WaitCommands(1));
  DWORD commands = Commands(), opens = VcdCalls("OpenVODDLetter"), closes = VcdCalls("CloseVODD");

  // A record shorter than a volume's is not read.
  SendVolume(tray.window(), DBT_DEVICEARRIVAL, 1u << ('R' - 'A'), sizeof(DEV_BROADCAST_HDR));
  EXPECT_EQ(commands, Commands());

  SetCdio("MaskState", 0);
  SendVolume(tray.window(), DBT_DEVICEARRIVAL, 1u << ('R' - 'A'), sizeof(DEV_BROADCAST_VOLUME));
  EXPECT_EQ(commands + 1, Commands());
  EXPECT_EQ(1u, LayerMaskState()) << "the stored choice (none: on) is applied again";
  EXPECT_EQ(opens + 1, VcdCalls("OpenVODDLetter"));
  EXPECT_EQ(closes + 1, VcdCalls("CloseVODD"));
  const std::string machineLetter = std::string(kMachineDriveIcons) + "\\R";
  const std::string userLetter = std::string(kUserDriveIcons) + "\\R";
  EXPECT_TRUE(ReadRaw(HKEY_LOCAL_MACHINE, machineLetter, "VirtualFarodrive").exists);
  EXPECT_TRUE(ReadRaw(HKEY_CURRENT_USER, userLetter + "\\DefaultLabel", "").exists);

  SendVolume(tray.window(), DBT_DEVICEREMOVECOMPLETE, 1u << ('R' - 'A'), sizeof(DEV_BROADCAST_VOLUME));
  EXPECT_EQ(commands + 2, Commands());
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, machineLetter));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, userLetter));
  EXPECT_EQ(0u, tray.Close());
}

TEST_F(TrayRunTest, InstalledInAFolderWithASpace) {
  SavedKey stub(HKEY_CURRENT_USER, "Software\\QuinTests\\SuiteStub");
  DeleteTree(HKEY_CURRENT_USER, "Software\\QuinTests\\SuiteStub");
  std::string dir = InstallTray("Orvand Tray Folder");
  ASSERT_TRUE(CopyFileA((SelfFolder() + "suite_stub.exe").c_str(), (dir + "Orvand.exe").c_str(), FALSE));

  RunningTray tray(dir + "OrvandTray.exe", dir);
  ASSERT_TRUE(tray.up());
  PostMessageA(tray.window(), WM_COMMAND, IDM_AUTOSTART, 0);
  ui::Box box = ui::WaitBox(kCaption, tray.program().pid());
  ASSERT_TRUE(box);
  ui::Yes(box.hwnd);
  ui::WaitGone(box.hwnd);
  std::string want = "\"" + dir + "OrvandTray.exe\"";
  RawValue run;
  for (int i = 0; i < 50 && !(run = ReadRaw(HKEY_LOCAL_MACHINE, kRunKey, "OrvandTray")).exists; i++) Sleep(100);
  EXPECT_EQ((DWORD)REG_SZ, run.type);
  EXPECT_EQ(B(want.c_str(), want.size() + 1), run.data);

  PostMessageA(tray.window(), WM_COMMAND, IDM_START, 0);
  RawValue started;
  for (int i = 0; i < 150 && !(started = ReadRaw(HKEY_CURRENT_USER, "Software\\QuinTests\\SuiteStub", "Module")).exists; i++)
    Sleep(100);
  std::string module = dir + "Orvand.exe";
  EXPECT_EQ(B(module.c_str(), module.size() + 1), started.data);
  EXPECT_EQ(0u, tray.Close());
}

// The exit question of a running tray: its caption and text, answered with `answer`.
ui::Box AskToExit(RunningTray &tray, int answer) {
  PostMessageA(tray.window(), WM_COMMAND, IDM_EXIT, 0);
  // Found by its process: the caption is what the test wants to see.
  for (DWORD start = GetTickCount(); GetTickCount() - start < ui::kWait; Sleep(50)) {
    for (HWND w : ui::WindowsOf(tray.program().pid())) {
      char cls[16] = "";
      GetClassNameA(w, cls, sizeof cls);
      if (std::string(cls) != "#32770") continue;
      ui::Box box = ui::ReadBox(w);
      if (!box.buttons.empty()) {
        ui::Press(box.hwnd, answer);
        ui::WaitGone(box.hwnd);
        return box;
      }
    }
  }
  return ui::Box{};
}

TEST_F(TrayRunTest, ALanguageChangeShowsAtTheNextRefreshPerUserOverMachineWide) {
  std::string dir = InstallTray("tray with languages");
  // Two languages of the test's own, each with its caption and exit question.
  ASSERT_TRUE(WriteBytes(dir + "Texts\\ORVTrayxa.lng",
                         lng::NarrowFile(0, {{5, "Leave XA"}, {8, "Question XA"}, {9, "Caption XA V"}})));
  ASSERT_TRUE(WriteBytes(dir + "Texts\\ORVTrayxb.lng",
                         lng::NarrowFile(0, {{5, "Leave XB"}, {8, "Question XB"}, {9, "Caption XB V"}})));
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_LOCAL_MACHINE, kSettings, "LocaleName", "xa"));

  RunningTray tray(dir + "OrvandTray.exe", dir);
  ASSERT_TRUE(tray.up());
  ui::Box box = AskToExit(tray, IDNO);
  EXPECT_EQ("Caption XA V4.2", box.caption);
  EXPECT_EQ("Question XA", box.text);

  // Per user, another language: nothing changes until the tray is asked to refresh.
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, kSettings, "LocaleName", "xb"));
  box = AskToExit(tray, IDNO);
  EXPECT_EQ("Caption XA V4.2", box.caption);
  PostMessageA(tray.window(), ShowIconMessage, 0, 0);
  box = AskToExit(tray, IDNO);
  EXPECT_EQ("Caption XB V4.2", box.caption);
  EXPECT_EQ("Question XB", box.text);

  // Back to the machine-wide language once the per-user value goes, at the next refresh.
  DeleteValue(HKEY_CURRENT_USER, kSettings, "LocaleName");
  PostMessageA(tray.window(), ShowIconMessage, 0, 0);
  box = AskToExit(tray, IDYES);
  EXPECT_EQ("Caption XA V4.2", box.caption);
  EXPECT_EQ(0u, tray.program().Wait());
}

}  // namespace
