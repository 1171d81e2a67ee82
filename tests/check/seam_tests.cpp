// The checker's run compiled into the test with the service manager's opening redirected here:
// Wine's service manager never refuses a local GENERIC_READ open, a locked-down Windows can.
// Its message boxes come here too, so that their flags and owner can be read: under Wine a
// box's icon cannot be read back from the window.
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include "check_fixture.h"
#include "checker.h"

using namespace testsupport;
using namespace checktest;

namespace {
int seamCalls;
bool seamNullNames;
DWORD seamAccess;
bool seamRefuse = true;  // false: the real service manager is opened

// One message box as the checker asked for it.
struct Shown {
  HWND owner;
  std::string text, caption;
  UINT flags;
};
std::vector<Shown> seamShown;
// Answers a box without showing it; empty: the real box is shown.
std::function<int(size_t, const Shown &)> seamAnswer;
}  // namespace

// checker.cpp is built for this test with OpenSCManagerA renamed to this function.
extern "C" SC_HANDLE WINAPI SeamOpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) {
  ++seamCalls;
  seamNullNames = machine == nullptr && database == nullptr;
  seamAccess = access;
  if (!seamRefuse) return OpenSCManagerA(machine, database, access);
  SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
}

// ... and MessageBoxA to this one.
extern "C" int WINAPI SeamMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT flags) {
  seamShown.push_back(Shown{owner, text ? text : "<null>", caption ? caption : "<null>", flags});
  if (!seamAnswer) return MessageBoxA(owner, text, caption, flags);
  return seamAnswer(seamShown.size() - 1, seamShown.back());
}

namespace {

TEST_F(CheckTest, RefusedServiceManagerGivesE1AndExit20) {
  SetRaw(HKEY_LOCAL_MACHINE, kClass, "LowerFilters", REG_MULTI_SZ, B("qctRel", 6));
  SetTargets(0);
  DWORD init = Calls("QuinCDIO_InitScsi"), deinit = Calls("QuinCDIO_DeInitScsi"),
        enumT = Calls("QuinCDIO_EnumTargets");
  std::vector<ui::Box> boxes;
  std::atomic<bool> done(false);
  DWORD deinitAtBox = 0;
  std::thread answerer([&] {
    while (!done) {
      ui::Box box = ui::WaitBox("QuinCheck", GetCurrentProcessId(), 200);
      if (!box) continue;
      boxes.push_back(box);
      deinitAtBox = Calls("QuinCDIO_DeInitScsi");
      ui::Press(box.hwnd, IDOK);
      ui::WaitGone(box.hwnd, 5000);
    }
  });
  seamCalls = 0;
  int exitCode = CheckerRun("/U qctGood");
  done = true;
  answerer.join();
  EXPECT_EQ(20, exitCode);
  ExpectBoxes(boxes, {Info(E1())}, false);
  EXPECT_EQ(1, seamCalls);
  EXPECT_TRUE(seamNullNames);
  EXPECT_EQ(DWORD(GENERIC_READ), seamAccess);
  EXPECT_EQ(init + 1, Calls("QuinCDIO_InitScsi"));
  EXPECT_EQ(deinit + 1, Calls("QuinCDIO_DeInitScsi"));
  EXPECT_EQ(deinit + 1, deinitAtBox) << "the layer is shut down before the box";
  EXPECT_EQ(enumT, Calls("QuinCDIO_EnumTargets"));
  ExpectRaw("LowerFilters", RawValue{true, REG_MULTI_SZ, B("qctRel", 6)});
}

// ---- Every box: text, icon, buttons, caption, no owner -----------------------------------------

// One box the run must show, the flags it must carry and the answer it gets.
struct Expected {
  std::string text;
  UINT flags;
  int answer;
};

struct BoxCase {
  const char *what;
  bool refuseServiceManager;
  std::function<void()> setUp;
  std::string args;
  std::vector<Expected> boxes;
  // Runs before the answer to box `index` is given.
  std::function<void(size_t index)> onBox;
};

class CheckBoxFlags : public CheckTest {
 protected:
  void TearDown() override {
    seamRefuse = true;
    seamAnswer = nullptr;
    CheckTest::TearDown();
  }
};

TEST_F(CheckBoxFlags, EveryBoxHasItsIconAndButtonsAndNoOwner) {
  const UINT kInfo = MB_ICONINFORMATION, kWarn = MB_ICONWARNING, kError = MB_ICONERROR;
  std::unique_ptr<DenySetValue> deny;
  const std::vector<BoxCase> cases = {
      {"E1", true, [] {}, "", {{E1(), kError, IDOK}}, nullptr},
      {"I1, W1, Q1, W2, Q2, I2, W3", false,
       [this] {
         SetTargets(0);
         SetRaw(HKEY_LOCAL_MACHINE, kClass, "LowerFilters", REG_MULTI_SZ, B("qctMissA\0qctRel", 15));
       },
       "/U qctMissB qctGood",
       {{I1(), kInfo, IDOK},
        {W1("qctMissB"), kWarn, IDOK},
        {Q1("qctGood"), MB_ICONQUESTION | MB_YESNO, IDYES},
        {W2(), kWarn, IDOK},
        {Q2("qctMissA"), MB_ICONWARNING | MB_YESNO, IDYES},
        {I2("qctMissA"), kInfo, IDOK},
        {W3(), kWarn, IDOK}},
       nullptr},
      {"E2", false,
       [&] {
         SetList(1, {"qctRel"});
         deny.reset(new DenySetValue(kClass));
         EXPECT_TRUE(deny->applied());
       },
       "/U qctGood",
       {{Q1("qctGood"), MB_ICONQUESTION | MB_YESNO, IDYES}, {E2(ERROR_ACCESS_DENIED, "qctGood"), kError, IDOK}},
       nullptr},
      {"E3", false,
       [this] {
         SetTargets(0);
         SetList(0, {"qctMissA"});
       },
       "",
       {{Q2("qctMissA"), MB_ICONWARNING | MB_YESNO, IDYES}, {E3(ERROR_ACCESS_DENIED, "qctMissA"), kError, IDOK}},
       [&](size_t index) {
         if (index == 0) {
           deny.reset(new DenySetValue(kClass));
           EXPECT_TRUE(deny->applied());
         }
       }},
  };
  for (const BoxCase &c : cases) {
    SCOPED_TRACE(c.what);
    ResetClassKey();
    SetTargets(1);
    c.setUp();
    seamRefuse = c.refuseServiceManager;
    seamShown.clear();
    seamAnswer = [&](size_t index, const Shown &shown) {
      if (c.onBox) c.onBox(index);
      if (index < c.boxes.size()) return c.boxes[index].answer;
      return (shown.flags & MB_YESNO) ? IDNO : IDOK;
    };
    int exitCode = CheckerRun(c.args.c_str());
    seamAnswer = nullptr;
    seamRefuse = true;
    deny.reset();
    EXPECT_EQ(c.refuseServiceManager ? 20 : 0, exitCode);
    ASSERT_EQ(c.boxes.size(), seamShown.size());
    for (size_t i = 0; i < seamShown.size(); ++i) {
      SCOPED_TRACE("box " + std::to_string(i + 1));
      EXPECT_EQ(c.boxes[i].text, seamShown[i].text);
      EXPECT_EQ("QuinCheck", seamShown[i].caption);
      EXPECT_EQ(c.boxes[i].flags, seamShown[i].flags);
      EXPECT_TRUE(seamShown[i].owner == nullptr);
    }
  }
}

}  // namespace
