// The test helpers themselves: window automation, registry scratch keys and Wine's version settings.
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include "testsupport.h"
#include "uiauto.h"

using namespace testsupport;

TEST(UiAuto, AnswersAMessageBoxFromASecondThread) {
  int answer = 0;
  std::thread shower([&] {
    answer = MessageBoxA(nullptr, "Line one\nLine two", "UiAuto Caption", MB_YESNO | MB_ICONQUESTION);
  });
  ui::Box box = ui::WaitBox("UiAuto Caption", GetCurrentProcessId());
  ASSERT_TRUE(box);
  EXPECT_EQ("Line one\nLine two", box.text);
  EXPECT_EQ("&Yes|&No", box.ButtonTexts());
  EXPECT_TRUE(ui::No(box.hwnd));
  shower.join();
  EXPECT_EQ(IDNO, answer);
  EXPECT_TRUE(ui::WaitGone(box.hwnd, 5000));
}

TEST(UiAuto, MissingWindowTimesOut) {
  DWORD start = GetTickCount();
  EXPECT_FALSE(ui::WaitBox("No Such Window Anywhere", 0, 300));
  EXPECT_LT(GetTickCount() - start, 5000u);
}

TEST(Registry, RawValuesKeepTheirExactBytes) {
  ScratchKey k;
  // A multi-string without its closing NUL must stay exactly that.
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKEY_LOCAL_MACHINE, k.path(), "v", REG_MULTI_SZ, B("a\0b", 3)));
  RawValue r = ReadRaw(HKEY_LOCAL_MACHINE, k.path(), "v");
  ASSERT_TRUE(r.exists);
  EXPECT_EQ(DWORD(REG_MULTI_SZ), r.type);
  EXPECT_EQ(B("a\0b", 3), r.data);
}

TEST(Registry, SavedKeyRestoresValuesAndSubkeys) {
  ScratchKey k;
  std::string p = k.path() + "\\saved";
  SetDword(HKEY_LOCAL_MACHINE, p, "d", 7);
  SetString(HKEY_LOCAL_MACHINE, p + "\\sub", "s", "text");
  {
    SavedKey saved(HKEY_LOCAL_MACHINE, p);
    DeleteTree(HKEY_LOCAL_MACHINE, p);
    SetDword(HKEY_LOCAL_MACHINE, p, "other", 1);
  }
  EXPECT_EQ(B("\x07\0\0\0", 4), ReadRaw(HKEY_LOCAL_MACHINE, p, "d").data);
  EXPECT_EQ(B("text", 5), ReadRaw(HKEY_LOCAL_MACHINE, p + "\\sub", "s").data);
  EXPECT_FALSE(ReadRaw(HKEY_LOCAL_MACHINE, p, "other").exists);
}

namespace {

// An in-memory DIALOG template: one combo box (id 10), one auto check box
// (id 11) and OK, shown modally on a second thread.
std::vector<WORD> DialogTemplate() {
  std::vector<WORD> t;
  auto dword = [&](DWORD v) { t.push_back(LOWORD(v)); t.push_back(HIWORD(v)); };
  auto text = [&](const wchar_t *s) { do t.push_back(*s); while (*s++); };
  auto align = [&] { if (t.size() % 2) t.push_back(0); };  // items start on DWORDs
  dword(WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME | DS_SETFONT);
  dword(0);
  t.push_back(3);                        // items
  t.push_back(10); t.push_back(10); t.push_back(160); t.push_back(80);
  t.push_back(0); t.push_back(0);        // no menu, default class
  text(L"UiAuto Dialog");
  t.push_back(8); text(L"MS Sans Serif");
  struct Item { DWORD style; short x, y, cx, cy; WORD id, cls; const wchar_t *text; };
  const Item items[] = {
      {WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST | WS_VSCROLL, 5, 5, 100, 60, 10, 0x85, L""},
      {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 5, 25, 100, 10, 11, 0x80, L"Tick"},
      {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 5, 50, 50, 14, IDOK, 0x80, L"OK"},
  };
  for (const Item &i : items) {
    align();
    dword(i.style);
    dword(0);
    t.push_back(i.x); t.push_back(i.y); t.push_back(i.cx); t.push_back(i.cy);
    t.push_back(i.id);
    t.push_back(0xFFFF); t.push_back(i.cls);
    text(i.text);
    t.push_back(0);                      // no creation data
  }
  return t;
}

struct DialogResult {
  int selChanges = 0;
  int selection = -1;
  bool ticked = false;
};

INT_PTR CALLBACK TestDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  DialogResult *r = reinterpret_cast<DialogResult *>(GetWindowLongPtrA(dlg, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dlg, DWLP_USER, lp);
      for (const char *s : {"None", "One drive", "Two drives"})
        SendDlgItemMessageA(dlg, 10, CB_ADDSTRING, 0, (LPARAM)s);
      SendDlgItemMessageA(dlg, 10, CB_SETCURSEL, 0, 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == 10 && HIWORD(wp) == CBN_SELCHANGE) r->selChanges++;
      if (LOWORD(wp) == IDOK) {
        r->selection = (int)SendDlgItemMessageA(dlg, 10, CB_GETCURSEL, 0, 0);
        r->ticked = IsDlgButtonChecked(dlg, 11) == BST_CHECKED;
        EndDialog(dlg, IDOK);
      }
      return TRUE;
  }
  return FALSE;
}

}  // namespace

TEST(UiAuto, PicksAComboEntryAndTicksABox) {
  std::vector<WORD> tmpl = DialogTemplate();
  DialogResult result;
  INT_PTR ended = 0;
  std::thread shower([&] {
    ended = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), (LPCDLGTEMPLATEA)tmpl.data(), nullptr,
                                    TestDialogProc, (LPARAM)&result);
  });
  HWND dlg = ui::WaitWindow("UiAuto Dialog", GetCurrentProcessId(), ui::kWait, "#32770");
  ASSERT_TRUE(dlg);
  EXPECT_EQ((std::vector<std::string>{"None", "One drive", "Two drives"}), ui::ComboItems(dlg, 10));
  EXPECT_EQ(0, ui::ComboSelection(dlg, 10));
  EXPECT_TRUE(ui::PickCombo(dlg, 10, 2));
  EXPECT_FALSE(ui::PickCombo(dlg, 10, 7)) << "no such entry";
  EXPECT_FALSE(ui::IsChecked(dlg, 11));
  EXPECT_TRUE(ui::SetCheck(dlg, 11, true));
  EXPECT_TRUE(ui::SetCheck(dlg, 11, true)) << "already ticked: stays ticked";
  EXPECT_EQ("Tick", ui::ItemText(dlg, 11));
  EXPECT_EQ("OK", ui::Buttons(dlg).at(0).text);
  EXPECT_TRUE(ui::Ok(dlg));
  shower.join();
  EXPECT_EQ(IDOK, ended);
  EXPECT_EQ(1, result.selChanges);
  EXPECT_EQ(2, result.selection);
  EXPECT_TRUE(result.ticked);
}

// Run by the test below in a child process: two boxes, then the answers and the Windows version
// it was shown as its exit code.
TEST(SupportChild, DISABLED_ShowTwoBoxes) {
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  GetVersionExA(&v);
  int first = MessageBoxA(nullptr, "First?", "Support Child", MB_YESNO);
  char text[64];
  wsprintfA(text, "Windows %lu.%lu", v.dwMajorVersion, v.dwMinorVersion);
  int second = MessageBoxA(nullptr, text, "Support Child", MB_OK);
  ExitProcess((UINT)(first * 100 + second));
}

TEST(UiAuto, AnswerBoxesAnswersAnotherProgramUntilItEnds) {
  const std::string exe = SelfPath();
  const std::string file = exe.substr(exe.find_last_of('\\') + 1);
  const std::string appKey = "Software\\Wine\\AppDefaults\\" + file;
  SavedKey saved(HKEY_CURRENT_USER, appKey);
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_CURRENT_USER, appKey, "Other", "kept"));
  {
    WineVersion version(file, "win98");
    ASSERT_TRUE(version.ok());
    Program child(exe, "--gtest_also_run_disabled_tests --gtest_filter=SupportChild.*");
    ASSERT_TRUE(child.started());
    std::vector<size_t> asked;
    ui::BoxRun run = ui::AnswerBoxes(child.handle(), child.pid(), "Support Child",
                                     [&](size_t i, const ui::Box &) {
                                       asked.push_back(i);
                                       return i == 0 ? IDNO : IDOK;
                                     });
    EXPECT_EQ("", run.failure);
    EXPECT_EQ(DWORD(IDNO * 100 + IDOK), run.exitCode);
    ASSERT_EQ(2u, run.boxes.size());
    EXPECT_EQ("First?", run.boxes[0].text);
    EXPECT_EQ("Windows 4.10", run.boxes[1].text) << "Windows 98 as Wine presents it";
    EXPECT_EQ((std::vector<size_t>{0, 1}), asked);
  }
  EXPECT_FALSE(ReadRaw(HKEY_CURRENT_USER, appKey, "Version").exists) << "the version setting stayed";
  EXPECT_EQ(B("kept", 5), ReadRaw(HKEY_CURRENT_USER, appKey, "Other").data);
}

TEST(DialogTemplates, ReadsEveryFieldOfADialogTemplate) {
  std::vector<WORD> words = DialogTemplate();
  Bytes t((const unsigned char *)words.data(), (const unsigned char *)(words.data() + words.size()));
  DialogTemplateInfo d = ReadDialogTemplate(t);
  ASSERT_TRUE(d.ok);
  EXPECT_FALSE(d.extended);
  EXPECT_EQ(DWORD(WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME | DS_SETFONT), d.style);
  EXPECT_EQ(160, d.cx);
  EXPECT_EQ(80, d.cy);
  EXPECT_EQ("", d.menu);
  EXPECT_EQ("UiAuto Dialog", d.caption);
  EXPECT_EQ(8, d.pointSize);
  EXPECT_EQ("MS Sans Serif", d.face);
  ASSERT_EQ(3u, d.controls.size());
  EXPECT_EQ("COMBOBOX", d.controls[0].cls);
  EXPECT_EQ(10, d.controls[0].id);
  EXPECT_EQ("", d.controls[0].text);
  EXPECT_EQ("BUTTON", d.controls[1].cls);
  EXPECT_EQ("Tick", d.controls[1].text);
  EXPECT_EQ(25, d.controls[1].y);
  EXPECT_EQ(IDOK, d.controls[2].id);
  EXPECT_EQ(DWORD(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON), d.controls[2].style);

  // Cut anywhere, the template reads as bad, never past its end.
  for (size_t n = 0; n < t.size(); n += 3) {
    SCOPED_TRACE(n);
    EXPECT_FALSE(ReadDialogTemplate(Bytes(t.begin(), t.begin() + n)).ok);
  }
}

TEST(UiAuto, FindsABoxByItsOwnerWhenItHasNoCaption) {
  // Owner and box on one thread: a box disables its owner with a sent message.
  std::atomic<HWND> owner(nullptr);
  int answer = 0;
  std::thread shower([&] {
    HWND w = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    owner = w;
    answer = MessageBoxA(w, "Owned", "", MB_OK);
    DestroyWindow(w);
  });
  while (!owner) Sleep(10);
  ui::Box box = ui::WaitOwnedBox(owner);
  ASSERT_TRUE(box);
  EXPECT_EQ("", box.caption);
  EXPECT_EQ("Owned", box.text);
  EXPECT_EQ(nullptr, ui::WaitOwnedWindow(box.hwnd, 200)) << "the box owns nothing";
  EXPECT_TRUE(ui::Ok(box.hwnd));
  shower.join();
  EXPECT_EQ(IDOK, answer);
}
