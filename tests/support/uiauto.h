// Drives real windows for tests: finds message boxes and dialogs by caption,
// reads their texts and buttons, presses buttons, ticks boxes, picks combo
// entries.  Works from a second thread of the test process and against
// windows of another process.  Every wait has a time-out.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace ui {

constexpr DWORD kWait = 15000;  // default time-out for windows to come or go, in ms

struct Button {
  int id;
  std::string text;
};

// A dialog or message box as a user sees it.
struct Box {
  HWND hwnd = nullptr;
  std::string caption;
  std::string text;              // a message box's message; empty for other dialogs
  std::vector<Button> buttons;   // push buttons in child order
  explicit operator bool() const { return hwnd != nullptr; }
  std::string ButtonTexts() const;  // "Yes|No"
};

// A visible top-level window titled `caption` (exact), of process `pid` (0: any)
// and of window class `cls` (nullptr: any); nullptr after `timeoutMs`.
HWND WaitWindow(const std::string &caption, DWORD pid = 0, DWORD timeoutMs = kWait,
                const char *cls = nullptr);
// Every visible top-level window of process `pid` (0: any) titled `caption`.
std::vector<HWND> FindWindows(const std::string &caption, DWORD pid = 0);
// Visible top-level windows of process `pid`.
std::vector<HWND> WindowsOf(DWORD pid);
// A visible top-level window owned by `owner` (GW_OWNER) and of window class `cls`
// (nullptr: any); nullptr after `timeoutMs`.  Finds a dialog or box whose caption is empty
// or not known.
HWND WaitOwnedWindow(HWND owner, DWORD timeoutMs = kWait, const char *cls = "#32770");
// The popup menu window ("#32768") of process `pid` that is showing, or nullptr; and the same
// waited for.
HWND OpenMenu(DWORD pid);
HWND WaitMenu(DWORD pid, DWORD timeoutMs = kWait);
// Waits until `w` no longer exists (or is hidden); false on time-out.
bool WaitGone(HWND w, DWORD timeoutMs = kWait);

// Waits for a dialog-class ("#32770") window titled `caption` and reads it.
Box WaitBox(const std::string &caption, DWORD pid = 0, DWORD timeoutMs = kWait);
Box ReadBox(HWND w);
// Waits for a dialog-class window owned by `owner` (see WaitOwnedWindow) and reads it.
Box WaitOwnedBox(HWND owner, DWORD timeoutMs = kWait);

std::string Text(HWND w);  // WM_GETTEXT (Unicode across processes), as ANSI
std::string ItemText(HWND dlg, int id);
std::vector<Button> Buttons(HWND dlg);

// Posts WM_COMMAND(id, BN_CLICKED) as a click on that button would.
bool Press(HWND dlg, int id);
// Message box answers.
inline bool Yes(HWND box) { return Press(box, IDYES); }
inline bool No(HWND box) { return Press(box, IDNO); }
inline bool Ok(HWND box) { return Press(box, IDOK); }

bool IsChecked(HWND dlg, int id);
// Clicks the check box when its state differs from `on`; true when it now matches.
bool SetCheck(HWND dlg, int id, bool on);

// What a run of a program that talks through message boxes came to.
struct BoxRun {
  DWORD exitCode = STILL_ACTIVE;  // STILL_ACTIVE: it did not end in time
  std::vector<Box> boxes;         // every box it showed, in order
  std::string failure;            // why the run was cut short; empty when it ended by itself
};
// Until `process` (whose id is `pid`) ends, answers each dialog-class window titled `caption`
// that it shows with the button that `answer` picks for it (boxes are numbered from 0);
// `answer` runs while the box is up.  Gives up after `timeoutMs`, or when a box stays after
// its answer.
BoxRun AnswerBoxes(HANDLE process, DWORD pid, const std::string &caption,
                   const std::function<int(size_t, const Box &)> &answer, DWORD timeoutMs = 60000);

std::vector<std::string> ComboItems(HWND dlg, int id);
int ComboSelection(HWND dlg, int id);
// Selects entry `index` and tells the dialog as the user's pick would (CBN_SELCHANGE).
bool PickCombo(HWND dlg, int id, int index);

}  // namespace ui
