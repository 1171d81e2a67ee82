// The test helpers themselves: window automation and registry scratch keys.
#include <gtest/gtest.h>
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
