// Shared ground of the QuinCheck tests: fixture services and image files, the saved class and
// emulation keys, the checker's message texts, and a runner that answers the checker's boxes.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include "testsupport.h"
#include "uiauto.h"

namespace checktest {

extern const char kClass[];      // the CD-ROM class key below HKLM
extern const char kCdio[];       // HKLM "SOFTWARE\Quintessa\QuinCDIO"
extern const char kEmulation[];  // ...\Emulation
extern const char kCalls[];      // ...\Emulation\Calls
extern const char kNationalName[];  // an installed fixture driver named with a letter above 0x7F

// The checker's texts, word for word.
std::string E1();
std::string I1();
std::string W1(const std::string &name);
std::string Q1(const std::string &name);
std::string W2();
std::string E2(DWORD code, const std::string &name);
std::string W3();
std::string Q2(const std::string &name);
std::string I2(const std::string &name);
std::string E3(DWORD code, const std::string &name);

// One expected box: its text, whether it asks Yes/No, and the answer to give.
struct Step {
  std::string text;
  bool yesNo;
  int answer;
};
using Script = std::vector<Step>;
inline Step Info(const std::string &text) { return Step{text, false, IDOK}; }
inline Step Ask(const std::string &text, int answer) { return Step{text, true, answer}; }

struct RunResult {
  DWORD exitCode = STILL_ACTIVE;
  std::vector<ui::Box> boxes;
};

// A kernel-driver service made through the service manager, with its image file placed where
// the case needs it.
struct Fixture {
  std::string name;
  DWORD type;
  DWORD start;
  std::string image;
  bool installed;  // what the checker must decide
};
const std::vector<Fixture> &Fixtures();
// The current directory the checker runs in.
const std::string &WorkDir();

// Denies KEY_SET_VALUE on an HKLM key to everyone for its lifetime (so opening it with
// KEY_ALL_ACCESS fails with ERROR_ACCESS_DENIED), then puts the old DACL back.
class DenySetValue {
 public:
  explicit DenySetValue(const std::string &path);
  ~DenySetValue();
  bool applied() const { return applied_; }
 private:
  HKEY key_ = nullptr;
  std::vector<unsigned char> saved_;
  bool applied_ = false;
};

class CheckTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Starts dist\QuinCheck.exe with `args`, answers each box it shows (by `script`; extra boxes
  // get No or OK), waits for its end and checks the boxes, their order and their buttons, and
  // that QuinCDIO_DeInitScsi was called `deinitCalls` times.  `onBox` runs while a box is up.
  RunResult RunCheck(const std::string &args, const Script &script, bool prefixOnly = false,
               std::function<void(size_t, const ui::Box &)> onBox = nullptr, DWORD deinitCalls = 1);
  // Starts `exe` with exactly `commandLine` (program name included, quoted or not) and runs it
  // like RunCheck; first checks that the copy holds that command line, unchanged.
  RunResult RunCheckAs(const std::string &exe, const std::string &commandLine, const Script &script);
  // Checks boxes seen against the script.
  static void ExpectBoxes(const std::vector<ui::Box> &boxes, const Script &script, bool prefixOnly);

  void ResetClassKey();
  void SetList(int upper, const std::vector<std::string> &entries);
  void SetTargets(DWORD targets);
  void ExpectList(int upper, const std::vector<std::string> &entries);
  void ExpectRaw(const char *value, const testsupport::RawValue &expected);
  static DWORD Calls(const char *function);

 private:
  // Answers the boxes of the started `p` by `script` until it ends, then checks them.
  RunResult Answer(testsupport::Program &p, DWORD deinitBefore, const Script &script, bool prefixOnly,
                   std::function<void(size_t, const ui::Box &)> onBox, DWORD deinitCalls);
  std::unique_ptr<testsupport::SavedKey> savedClass_, savedCdio_;
};

}  // namespace checktest
