// The checker's run compiled into the test with the service manager's opening redirected here:
// Wine's service manager never refuses a local GENERIC_READ open, a locked-down Windows can.
#include <atomic>
#include <thread>
#include "check_fixture.h"
#include "checker.h"

using namespace testsupport;
using namespace checktest;

namespace {
int seamCalls;
bool seamNullNames;
DWORD seamAccess;
}  // namespace

// checker.cpp is built for this test with OpenSCManagerA renamed to this function.
extern "C" SC_HANDLE WINAPI SeamOpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) {
  ++seamCalls;
  seamNullNames = machine == nullptr && database == nullptr;
  seamAccess = access;
  SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
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

}  // namespace
