// The real OrvandTray.exe seen from another process: its hidden window, a started tray that
// is closed again at the end, and every key the tray touches, saved and put back.
#pragma once
#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include "testsupport.h"

namespace testsupport {

extern const char kSettings[];      // "SOFTWARE\Quintessa\Orvand\Settings" (HKCU and HKLM)
extern const char kRunKey[];        // HKLM "SOFTWARE\MICROSOFT\WINDOWS\CurrentVersion\Run"
extern const char kMachineDriveIcons[];  // HKLM "...\Explorer\DriveIcons"
extern const char kUserDriveIcons[];     // HKCU "Applications\Explorer.exe\Drives\DriveIcons"
extern const char kIconOption[];    // HKLM "SOFTWARE\Quintessa\Orvand\VirtualFarodrive"
extern const char kNtScsiEnum[];    // HKLM "SYSTEM\CurrentControlSet\Enum\SCSI"
extern const char kWin9xEnum[];     // HKLM "Enum" (the Windows 9x device tree)
extern const char kWin9xClasses[];  // HKLM "SYSTEM\CurrentControlSet\Services\Class"

// Every key the tray reads or writes, saved when made and put back at the end of the scope.
class SavedTrayState {
 public:
  SavedTrayState();
 private:
  std::vector<std::unique_ptr<SavedKey>> keys_;
};

// The tray window ("MainWClass", "QuinTrayWindow", hidden) of process `pid`, waited for.
HWND WaitTrayWindow(DWORD pid, DWORD timeoutMs = 15000);

// The real OrvandTray.exe, started from `exe` (empty: the one in the deployable folder) and
// waited for until its window's creation is done and its message loop runs; a tray still
// running at the end of the scope is closed, then killed.  Being up costs the tray one refresh
// ("OrvandTrayShowIcon"), so it has sent the layer two masking commands by then: the apply of
// its creation and the refresh's query.
class RunningTray {
 public:
  explicit RunningTray(const std::string &exe = "", const std::string &dir = "");
  ~RunningTray();
  RunningTray(const RunningTray &) = delete;
  RunningTray &operator=(const RunningTray &) = delete;
  bool up() const { return window_ != nullptr; }
  HWND window() const { return window_; }
  Program &program() { return program_; }
  // Posts WM_CLOSE and returns the exit code (STILL_ACTIVE when it did not end).
  DWORD Close();
 private:
  DWORD commandsBefore_;  // the layer's count of MaskRec_SendCommand before the start
  Program program_;
  HWND window_ = nullptr;
};

}  // namespace testsupport
