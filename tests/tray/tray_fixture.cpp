// Shared ground of the in-process tray tests.
#include "tray_fixture.h"
#include <cstdio>

using namespace testsupport;

namespace traytest {

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
  if (exists)
    ASSERT_EQ(ERROR_SUCCESS, SetDword(HKEY_CURRENT_USER, kSettings, "OrvandTrayStatus", value));
  else
    DeleteValue(HKEY_CURRENT_USER, kSettings, "OrvandTrayStatus");
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

RunningTray::RunningTray(const std::string &exe, const std::string &dir)
    : program_(exe.empty() ? DistPath("OrvandTray.exe") : exe, "", dir) {
  if (program_.started()) window_ = WaitTrayWindow(program_.pid());
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
