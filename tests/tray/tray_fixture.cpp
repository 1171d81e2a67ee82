// Shared ground of the in-process tray tests.
#include "tray_fixture.h"
#include <shellapi.h>
#include <cstdio>

using namespace testsupport;

namespace traytest {

namespace seam {
std::vector<BoxCall> boxes;
std::vector<ShellCall> shellCalls;
std::vector<IconCall> iconCalls;
std::deque<int> boxAnswers;
bool shellRecordOnly = true;

void Reset() {
  boxes.clear();
  shellCalls.clear();
  iconCalls.clear();
  boxAnswers.clear();
  shellRecordOnly = true;
}
}  // namespace seam

static std::string OrNull(const char *s) { return s ? s : "<null>"; }

BoxAnswerer::BoxAnswerer(const std::string &caption, int button) {
  DWORD pid = GetCurrentProcessId();
  thread_ = std::thread([this, caption, button, pid] {
    box_ = ui::WaitBox(caption, pid);
    if (box_) ui::Press(box_.hwnd, button);
  });
}

BoxAnswerer::~BoxAnswerer() {
  if (!joined_) thread_.join();
}

const ui::Box &BoxAnswerer::seen() {
  if (!joined_) thread_.join();
  joined_ = true;
  return box_;
}

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void TrayTest::SetUp() {
  saved_ = std::make_unique<SavedTrayState>();
  seam::Reset();
  DeleteTree(HKEY_LOCAL_MACHINE, kCdioEmulation);
  DeleteTree(HKEY_LOCAL_MACHINE, kVcdEmulation);
  DeleteTree(HKEY_CURRENT_USER, kSettings);
  DeleteTree(HKEY_LOCAL_MACHINE, kSettings);
  DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, "OrvandTray");

  // What the program's start does before its window exists.
  ASSERT_TRUE(ReadStartupValues());
  OsVersionCode = 6;
  ShowIconMessage = RegisterWindowMessageA("OrvandTrayShowIcon");
  EnableMessage = RegisterWindowMessageA("OrvandTrayEnable");
  static bool registered = false;
  if (!registered) {
    ASSERT_TRUE(RegisterTrayClass(GetModuleHandleA(nullptr)));
    registered = true;
  }
  TrayStatus = 0;
  MaskingChosen = FALSE;
  DisableCount = 0;
}

void TrayTest::TearDown() {
  if (tray_) DestroyTray();
  FreeTexts();
  saved_.reset();
}

HWND TrayTest::CreateTray() {
  EXPECT_EQ(nullptr, tray_) << "one tray window at a time";
  if (!CreateTrayWindow(GetModuleHandleA(nullptr))) return nullptr;
  tray_ = FindWindowA(TRAY_CLASS_NAME, TRAY_WINDOW_TITLE);
  return tray_;
}

void TrayTest::DestroyTray() {
  if (tray_ && IsWindow(tray_)) DestroyWindow(tray_);
  tray_ = nullptr;
  Pump();
}

void TrayTest::SetCdio(const char *name, DWORD value) {
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKEY_LOCAL_MACHINE, kCdioEmulation, name, value)) << name;
}

void TrayTest::SetVcd(const char *name, DWORD value) {
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKEY_LOCAL_MACHINE, kVcdEmulation, name, value)) << name;
}

void TrayTest::SetVirtualDrives(const std::string &letters) {
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_LOCAL_MACHINE, kVcdEmulation, "DriveLetters", letters));
}

DWORD TrayTest::LayerMaskState() { return ReadDword(HKEY_LOCAL_MACHINE, kCdioEmulation, "MaskState", 1); }

void TrayTest::StoreStatus(bool exists, DWORD value) {
  if (exists) {
    ASSERT_EQ(ERROR_SUCCESS, SetDword(HKEY_CURRENT_USER, kSettings, "OrvandTrayStatus", value));
  } else {
    DeleteValue(HKEY_CURRENT_USER, kSettings, "OrvandTrayStatus");
  }
}

std::string InstallTray(const std::string &folderName) {
  std::string dir = SelfFolder() + folderName;
  std::string dist = DistPath("");
  if (!dist.empty()) dist.pop_back();
  CreateDirectoryA(dir.c_str(), nullptr);
  for (const char *file : {"OrvandTray.exe", "QuinCDIO.dll", "QuinVCD.dll", "VirtualFarodrive.ico"})
    CopyFileA((dist + "\\" + file).c_str(), (dir + "\\" + file).c_str(), FALSE);
  if (GetFileAttributesA((dist + "\\Texts").c_str()) != INVALID_FILE_ATTRIBUTES)
    CopyTree(dist + "\\Texts", dir + "\\Texts");
  return dir + "\\";
}

std::string ItemText(HMENU menu, UINT position) {
  char text[256] = "";
  GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
  return text;
}

std::vector<std::string> MenuShape(HMENU menu) {
  std::vector<std::string> shape;
  int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; i++) {
    UINT state = GetMenuState(menu, i, MF_BYPOSITION);
    shape.push_back((state & MF_SEPARATOR) ? "-" : ItemText(menu, i));
  }
  return shape;
}

UINT ItemState(HMENU menu, UINT command) { return GetMenuState(menu, command, MF_BYCOMMAND); }

HICON Icon(int id) {
  return (HICON)LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_SHARED);
}

std::string DumpTree(HKEY root, const std::string &path) {
  KeyTree tree = ReadKeyTree(root, path);
  std::string out;
  for (const std::string &key : tree.keys) {
    out += "[" + key + "]\n";
    for (const auto &v : tree.values) {
      size_t bar = v.first.find('|');
      if (v.first.compare(0, bar, key) != 0 || bar != key.size()) continue;
      char head[64];
      snprintf(head, sizeof head, "=%lu:", v.second.type);
      out += v.first.substr(bar + 1) + head;
      for (unsigned char c : v.second.data) {
        char hex[4];
        snprintf(hex, sizeof hex, "%02x", c);
        out += hex;
      }
      out += "\n";
    }
  }
  return out;
}

bool CreateKey(HKEY root, const std::string &path) {
  HKEY key;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
    return false;
  RegCloseKey(key);
  return true;
}

}  // namespace traytest

using namespace traytest;

extern "C" int WINAPI TrayTestMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT flags) {
  int result;
  if (!seam::boxAnswers.empty()) {
    result = seam::boxAnswers.front();
    seam::boxAnswers.pop_front();
  } else {
    result = MessageBoxA(owner, text, caption, flags);
  }
  seam::boxes.push_back({owner, OrNull(text), OrNull(caption), flags, result});
  return result;
}

extern "C" HINSTANCE WINAPI TrayTestShellExecuteA(HWND window, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                                  LPCSTR directory, INT show) {
  seam::shellCalls.push_back({window, OrNull(verb), OrNull(file), OrNull(parameters), OrNull(directory), show});
  if (seam::shellRecordOnly) return (HINSTANCE)33;
  return ShellExecuteA(window, verb, file, parameters, directory, show);
}

extern "C" BOOL WINAPI TrayTestShell_NotifyIconA(DWORD operation, PNOTIFYICONDATAA data) {
  BOOL result = Shell_NotifyIconA(operation, data);
  char tip[65];
  memcpy(tip, data->szTip, 64);
  tip[64] = 0;
  seam::iconCalls.push_back({operation, data->cbSize, data->hWnd, data->uID, data->uFlags,
                             data->uCallbackMessage, data->hIcon, tip, result});
  return result;
}
