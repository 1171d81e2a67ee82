// Shared ground of the in-process tray tests: the tray's modules run inside the test
// executable, with its resources linked in; the device layer is steered through the
// stand-ins' emulation settings and every key the tray touches is saved and put back.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include "testsupport.h"
#include "trayprocess.h"
#include "uiauto.h"
#include "tray.h"
#include "resource.h"

namespace traytest {

// What the tray asked of the three calls the test build records (see CMakeLists.txt).
struct BoxCall {
  HWND owner;
  std::string text, caption;
  UINT flags;
  int result;
};
struct ShellCall {
  HWND window;
  std::string verb, file, parameters, directory;  // "<null>" for a null pointer
  int show;
};
struct IconCall {
  DWORD operation;
  DWORD cbSize;
  HWND window;
  UINT id, flags, callbackMessage;
  HICON icon;
  std::string tip;
  BOOL result;
};
namespace seam {
extern std::vector<BoxCall> boxes;
extern std::vector<ShellCall> shellCalls;
extern std::vector<IconCall> iconCalls;
// Answers for the next boxes, taken in turn without showing a box (0: a box that could not
// be shown).  When none is left, the real box is shown.
extern std::deque<int> boxAnswers;
// False: ShellExecuteA is carried out after it was recorded.  True (the default after each
// reset): only recorded, so no test opens a browser by accident.
extern bool shellRecordOnly;
void Reset();
}  // namespace seam

// Answers the next real box of this process captioned `caption` with `button` from a second
// thread; the destructor waits for that thread.  `seen` is the box as it was read.
class BoxAnswerer {
 public:
  BoxAnswerer(const std::string &caption, int button);
  ~BoxAnswerer();
  const ui::Box &seen();  // waits for the answer
 private:
  std::thread thread_;
  ui::Box box_;
  bool joined_ = false;
};

// The keys, the saved state and the real tray's process helpers live in tests/support.
using testsupport::kSettings;
using testsupport::kCdioEmulation;
using testsupport::kVcdEmulation;
using testsupport::kRunKey;
using testsupport::kMachineDriveIcons;
using testsupport::kUserDriveIcons;
using testsupport::kIconOption;
using testsupport::kNtScsiEnum;
using testsupport::kWin9xEnum;
using testsupport::kWin9xClasses;
using testsupport::SavedTrayState;
using testsupport::RunningTray;
using testsupport::WaitTrayWindow;

// Base of the in-process tests.  SetUp saves the state, clears the emulation settings and
// their call counters, and fills the start-up values as the program's start would (the test
// executable carries the tray's resources and version block).  TearDown destroys a window
// left open and puts the state back.
class TrayTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The hidden window as the program makes it; WM_CREATE has run when it returns.
  HWND CreateTray();
  // DestroyWindow, and the WM_QUIT it posts taken out of the queue.
  void DestroyTray();
  HWND tray() const { return tray_; }
  HMENU Popup() const { return TrayPopupMenu(tray_); }

  // Emulation settings of the stand-ins (REG_DWORD), and removal of one.
  static void SetCdio(const char *name, DWORD value);
  static void SetVcd(const char *name, DWORD value);
  static void SetVirtualDrives(const std::string &letters);  // DriveLetters
  static DWORD LayerMaskState();                             // MaskState as the layer holds it

  // The stored choice in HKCU; `exists` false deletes it.
  static void StoreStatus(bool exists, DWORD value);

 private:
  std::unique_ptr<SavedTrayState> saved_;
  HWND tray_ = nullptr;
};

// A folder below the test executable's, made anew, holding a copy of the tray, its two
// libraries and its language files from the deployable folder; its path ends in a backslash.
std::string InstallTray(const std::string &folderName);

// Handles what is waiting in this thread's queue; WM_QUIT is taken and dropped.
void Pump();
// The text of a popup item by position ("" for a separator) and its state flags.
std::string ItemText(HMENU menu, UINT position);
// The labels of a popup, "-" for separators: {"&Start Orvand...", "-", ...}.
std::vector<std::string> MenuShape(HMENU menu);
UINT ItemState(HMENU menu, UINT command);  // GetMenuState by command
// The shared 16 by 16 icon `id` of the test executable's resources: the very handle the tray
// loads for its notification icon.
HICON Icon(int id);

// A key with all its subkeys and values as text, to see that something was left exactly as it
// was: one line per key ("[sub\path]") and per value ("name=type:hex"), in the registry's order;
// "" when the key does not exist.
std::string DumpTree(HKEY root, const std::string &path);
// Creates a key (and the keys above it); true when it exists afterwards.
bool CreateKey(HKEY root, const std::string &path);

}  // namespace traytest
