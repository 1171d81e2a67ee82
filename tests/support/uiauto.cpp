// Window automation for tests; see uiauto.h.
#include "uiauto.h"

namespace ui {
namespace {

constexpr UINT kSendTimeout = 5000;

std::string Narrow(const std::wstring &w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), (int)w.size(), nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_ACP, 0, w.c_str(), (int)w.size(), &s[0], n, nullptr, nullptr);
  return s;
}

std::string ClassOf(HWND w) {
  char cls[64] = "";
  GetClassNameA(w, cls, sizeof cls);
  return cls;
}

struct FindArgs {
  const std::string *caption;
  DWORD pid;
  const char *cls;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTop(HWND w, LPARAM lp) {
  FindArgs *a = reinterpret_cast<FindArgs *>(lp);
  if (!IsWindowVisible(w)) return TRUE;
  if (a->pid) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != a->pid) return TRUE;
  }
  if (a->cls && ClassOf(w) != a->cls) return TRUE;
  if (a->caption && Text(w) != *a->caption) return TRUE;
  a->found.push_back(w);
  return TRUE;
}

std::vector<HWND> Collect(const std::string *caption, DWORD pid, const char *cls) {
  FindArgs a{caption, pid, cls, {}};
  EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&a));
  return a.found;
}

BOOL CALLBACK CollectChild(HWND w, LPARAM lp) {
  reinterpret_cast<std::vector<HWND> *>(lp)->push_back(w);
  return TRUE;
}

std::vector<HWND> Children(HWND dlg) {
  std::vector<HWND> v;
  EnumChildWindows(dlg, CollectChild, reinterpret_cast<LPARAM>(&v));
  return v;
}

LRESULT Send(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR r = 0;
  if (!SendMessageTimeoutW(w, msg, wp, lp, SMTO_ABORTIFHUNG, kSendTimeout, &r)) return -1;
  return (LRESULT)r;
}

}  // namespace

std::string Box::ButtonTexts() const {
  std::string s;
  for (const Button &b : buttons) {
    if (!s.empty()) s += '|';
    s += b.text;
  }
  return s;
}

std::string Text(HWND w) {
  wchar_t buf[4096];
  DWORD_PTR n = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXT, sizeof buf / sizeof buf[0], (LPARAM)buf, SMTO_ABORTIFHUNG,
                           kSendTimeout, &n))
    return std::string();
  return Narrow(std::wstring(buf, n));
}

std::string ItemText(HWND dlg, int id) {
  HWND item = GetDlgItem(dlg, id);
  return item ? Text(item) : std::string();
}

std::vector<HWND> FindWindows(const std::string &caption, DWORD pid) {
  return Collect(&caption, pid, nullptr);
}

std::vector<HWND> WindowsOf(DWORD pid) { return Collect(nullptr, pid, nullptr); }

HWND WaitWindow(const std::string &caption, DWORD pid, DWORD timeoutMs, const char *cls) {
  DWORD start = GetTickCount();
  for (;;) {
    std::vector<HWND> v = Collect(&caption, pid, cls);
    if (!v.empty()) return v.front();
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(50);
  }
}

HWND WaitOwnedWindow(HWND owner, DWORD timeoutMs, const char *cls) {
  DWORD start = GetTickCount();
  for (;;) {
    for (HWND w : Collect(nullptr, 0, cls))
      if (owner && GetWindow(w, GW_OWNER) == owner) return w;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(50);
  }
}

HWND OpenMenu(DWORD pid) {
  HWND w = nullptr;
  while ((w = FindWindowExA(nullptr, w, "#32768", nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == pid && IsWindowVisible(w)) return w;
  }
  return nullptr;
}

HWND WaitMenu(DWORD pid, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (HWND w = OpenMenu(pid)) return w;
    if (GetTickCount() - start > timeoutMs) return nullptr;
    Sleep(20);
  }
}

bool WaitGone(HWND w, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (IsWindow(w) && IsWindowVisible(w)) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

std::vector<Button> Buttons(HWND dlg) {
  std::vector<Button> v;
  for (HWND c : Children(dlg)) {
    if (GetParent(c) != dlg || ClassOf(c) != "Button") continue;
    LONG style = GetWindowLongA(c, GWL_STYLE) & BS_TYPEMASK;
    if (style != BS_PUSHBUTTON && style != BS_DEFPUSHBUTTON) continue;
    if (!IsWindowVisible(c)) continue;
    v.push_back(Button{GetDlgCtrlID(c), Text(c)});
  }
  return v;
}

Box ReadBox(HWND w) {
  Box b;
  if (!w) return b;
  b.hwnd = w;
  b.caption = Text(w);
  for (HWND c : Children(w)) {
    if (GetParent(c) != w || ClassOf(c) != "Static") continue;
    LONG type = GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK;
    if (type == SS_ICON || type == SS_BITMAP) continue;
    std::string t = Text(c);
    if (!t.empty()) {
      b.text = t;
      break;
    }
  }
  b.buttons = Buttons(w);
  return b;
}

// A box is shown before its buttons are all in place on a slow start: settle briefly.
static Box ReadSettled(HWND w) {
  if (!w) return Box();
  Box b = ReadBox(w);
  for (int i = 0; i < 20 && b.buttons.empty(); ++i) {
    Sleep(50);
    b = ReadBox(w);
  }
  return b;
}

Box WaitBox(const std::string &caption, DWORD pid, DWORD timeoutMs) {
  return ReadSettled(WaitWindow(caption, pid, timeoutMs, "#32770"));
}

Box WaitOwnedBox(HWND owner, DWORD timeoutMs) {
  return ReadSettled(WaitOwnedWindow(owner, timeoutMs, "#32770"));
}

bool Press(HWND dlg, int id) {
  HWND item = GetDlgItem(dlg, id);
  return PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)item) != 0;
}

bool IsChecked(HWND dlg, int id) {
  HWND item = GetDlgItem(dlg, id);
  return item && Send(item, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool SetCheck(HWND dlg, int id, bool on) {
  HWND item = GetDlgItem(dlg, id);
  if (!item) return false;
  if (IsChecked(dlg, id) != on) Send(item, BM_CLICK, 0, 0);
  return IsChecked(dlg, id) == on;
}

BoxRun AnswerBoxes(HANDLE process, DWORD pid, const std::string &caption,
                   const std::function<int(size_t, const Box &)> &answer, DWORD timeoutMs) {
  BoxRun run;
  DWORD start = GetTickCount();
  while (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
    if (GetTickCount() - start > timeoutMs) {
      run.failure = caption + " did not end";
      return run;
    }
    if (!WaitWindow(caption, pid, 250, "#32770")) continue;
    Box box = WaitBox(caption, pid, 2000);
    if (!box) continue;
    run.boxes.push_back(box);
    Press(box.hwnd, answer(run.boxes.size() - 1, box));
    if (!WaitGone(box.hwnd, 10000)) {
      run.failure = "box stays after the answer: " + box.text;
      return run;
    }
  }
  GetExitCodeProcess(process, &run.exitCode);
  return run;
}

std::vector<std::string> ComboItems(HWND dlg, int id) {
  std::vector<std::string> v;
  HWND item = GetDlgItem(dlg, id);
  if (!item) return v;
  LRESULT n = Send(item, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < n; ++i) {
    LRESULT len = Send(item, CB_GETLBTEXTLEN, i, 0);
    if (len < 0) break;
    std::wstring w(len + 1, L'\0');
    LRESULT got = Send(item, CB_GETLBTEXT, i, (LPARAM)&w[0]);
    w.resize(got > 0 ? got : 0);
    v.push_back(Narrow(w));
  }
  return v;
}

int ComboSelection(HWND dlg, int id) {
  HWND item = GetDlgItem(dlg, id);
  return item ? (int)Send(item, CB_GETCURSEL, 0, 0) : -1;
}

bool PickCombo(HWND dlg, int id, int index) {
  HWND item = GetDlgItem(dlg, id);
  if (!item || Send(item, CB_SETCURSEL, index, 0) != index) return false;
  return PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)item) != 0;
}

}  // namespace ui
