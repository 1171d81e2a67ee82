// The real tray seen from another process.
#include "trayprocess.h"

namespace testsupport {

const char kSettings[] = "SOFTWARE\\Quintessa\\Orvand\\Settings";
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

HWND WaitTrayWindow(DWORD pid, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "MainWClass", "QuinTrayWindow")) != nullptr) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == pid) return w;
    }
    if (GetTickCount() - start > timeoutMs) return nullptr;
    Sleep(50);
  }
}

RunningTray::RunningTray(const std::string &exe, const std::string &dir)
    : commandsBefore_(CdioCalls("MaskRec_SendCommand")), program_(exe.empty() ? DistPath("OrvandTray.exe") : exe, "", dir) {
  if (program_.started()) window_ = WaitTrayWindow(program_.pid());
  if (!window_) return;
  // The window is found while its WM_CREATE still runs, and a sent message, or Wine's idle
  // signal, can come while the creation waits on the shell.  A posted message is taken only by
  // the message loop: the refresh it asks for is the sign that the creation is done.
  PostMessageA(window_, RegisterWindowMessageA("OrvandTrayShowIcon"), 0, 0);
  DWORD start = GetTickCount();
  while (CdioCalls("MaskRec_SendCommand") < commandsBefore_ + 2) {
    if (!program_.Running() || GetTickCount() - start > 15000) {
      window_ = nullptr;
      return;
    }
    Sleep(20);
  }
}

RunningTray::~RunningTray() {
  if (program_.Running()) Close();
}

DWORD RunningTray::Close() {
  if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
  window_ = nullptr;
  return program_.Wait(15000);
}

}  // namespace testsupport
