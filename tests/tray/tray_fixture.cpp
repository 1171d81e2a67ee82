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

const char kSettings[] = "SOFTWARE\\Quintessa\\Orvand\\Settings";
const char kCdioEmulation[] = "SOFTWARE\\Quintessa\\QuinCDIO\\Emulation";
const char kVcdEmulation[] = "SOFTWARE\\Quintessa\\QuinVCD\\Emulation";
const char kRunKey[] = "SOFTWARE\\MICROSOFT\\WINDOWS\\CurrentVersion\\Run";
const char kMachineDriveIcons[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";
const char kUserDriveIcons[] = "Applications\\Explorer.exe\\Drives\\DriveIcons";
const char kIconOption[] = "SOFTWARE\\Quintessa\\Orvand\\VirtualFarodrive";
const char kNtScsiEnum[] = "SYSTEM\\CurrentControlSet\\Enum\\SCSI";
const char kWin9xEnum[] = "Enum";
const char kWin9xClasses[] = "SYSTEM\\CurrentControlSet\\Services\\Class";

SavedTrayState::SavedTrayState() {
  const std::pair<HKEY, const char *> keys[] = {
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Quintessa"},
      {HKEY_CURRENT_USER, "SOFTWARE\\Quintessa"},
      {HKEY_LOCAL_MACHINE, kRunKey},
      {HKEY_LOCAL_MACHINE, kMachineDriveIcons},
      {HKEY_CURRENT_USER, kUserDriveIcons},
      {HKEY_LOCAL_MACHINE, kNtScsiEnum},
      {HKEY_LOCAL_MACHINE, kWin9xEnum},
      {HKEY_LOCAL_MACHINE, kWin9xClasses},
  };
  for (const auto &k : keys) keys_.push_back(std::make_unique<SavedKey>(k.first, k.second));
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

static DWORD ReadDword(HKEY root, const std::string &path, const char *name, DWORD fallback) {
  RawValue v = ReadRaw(root, path, name);
  if (!v.exists || v.data.size() != 4) return fallback;
  DWORD d;
  memcpy(&d, v.data.data(), 4);
  return d;
}

DWORD TrayTest::LayerMaskState() { return ReadDword(HKEY_LOCAL_MACHINE, kCdioEmulation, "MaskState", 1); }

DWORD TrayTest::CdioCalls(const char *function) {
  return ReadDword(HKEY_LOCAL_MACHINE, std::string(kCdioEmulation) + "\\Calls", function, 0);
}

DWORD TrayTest::VcdCalls(const char *function) {
  return ReadDword(HKEY_LOCAL_MACHINE, std::string(kVcdEmulation) + "\\Calls", function, 0);
}

void TrayTest::StoreStatus(bool exists, DWORD value) {
  if (exists) {
    ASSERT_EQ(ERROR_SUCCESS, SetDword(HKEY_CURRENT_USER, kSettings, "OrvandTrayStatus", value));
  } else {
    DeleteValue(HKEY_CURRENT_USER, kSettings, "OrvandTrayStatus");
  }
}

HWND WaitTrayWindow(DWORD pid, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, TRAY_CLASS_NAME, TRAY_WINDOW_TITLE)) != nullptr) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == pid) return w;
    }
    if (GetTickCount() - start > timeoutMs) return nullptr;
    Sleep(50);
  }
}

static void CopyTree(const std::string &from, const std::string &to) {
  CreateDirectoryA(to.c_str(), nullptr);
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((from + "\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      CopyTree(from + "\\" + name, to + "\\" + name);
    else
      CopyFileA((from + "\\" + name).c_str(), (to + "\\" + name).c_str(), FALSE);
  } while (FindNextFileA(find, &found));
  FindClose(find);
}

std::string InstallTray(const std::string &folderName) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string dir(self);
  dir = dir.substr(0, dir.find_last_of('\\') + 1) + folderName;
  std::string dist = DistPath("OrvandTray.exe");
  dist = dist.substr(0, dist.find_last_of('\\'));
  CreateDirectoryA(dir.c_str(), nullptr);
  for (const char *file : {"OrvandTray.exe", "QuinCDIO.dll", "QuinVCD.dll", "VirtualFarodrive.ico"})
    CopyFileA((dist + "\\" + file).c_str(), (dir + "\\" + file).c_str(), FALSE);
  if (GetFileAttributesA((dist + "\\Texts").c_str()) != INVALID_FILE_ATTRIBUTES)
    CopyTree(dist + "\\Texts", dir + "\\Texts");
  return dir + "\\";
}

RunningTray::RunningTray(const std::string &exe, const std::string &dir)
    : program_(exe.empty() ? DistPath("OrvandTray.exe") : exe, "", dir) {
  if (program_.started()) window_ = WaitTrayWindow(program_.pid());
  // The window is found while its WM_CREATE still runs, and a message sent to it is answered
  // already while the creation waits on the shell; the process is idle once the creation is
  // done and its message loop waits.
  if (window_ && WaitForInputIdle(program_.handle(), 15000) != 0) window_ = nullptr;
}

RunningTray::~RunningTray() {
  if (program_.Running()) Close();
}

DWORD RunningTray::Close() {
  if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
  window_ = nullptr;
  return program_.Wait(15000);
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

static void DumpKey(HKEY root, const std::string &base, const std::string &rel, std::string &out) {
  std::string full = rel.empty() ? base : base + "\\" + rel;
  HKEY key;
  if (RegOpenKeyExA(root, full.c_str(), 0, KEY_READ, &key)) return;
  out += "[" + rel + "]\n";
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD nameLen = sizeof name;
    if (RegEnumValueA(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr)) break;
    RawValue v = ReadRaw(root, full, name);
    char head[64];
    snprintf(head, sizeof head, "=%lu:", v.type);
    out += std::string(name) + head;
    for (unsigned char c : v.data) {
      char hex[4];
      snprintf(hex, sizeof hex, "%02x", c);
      out += hex;
    }
    out += "\n";
  }
  std::vector<std::string> subs;
  for (DWORD i = 0;; ++i) {
    char name[256];
    if (RegEnumKeyA(key, i, name, sizeof name)) break;
    subs.push_back(name);
  }
  RegCloseKey(key);
  for (const std::string &s : subs) DumpKey(root, base, rel.empty() ? s : rel + "\\" + s, out);
}

std::string DumpTree(HKEY root, const std::string &path) {
  std::string out;
  DumpKey(root, path, "", out);
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
