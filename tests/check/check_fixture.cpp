// Fixture services, image files, saved keys and the box-answering runner of the QuinCheck tests.
#include "check_fixture.h"
#include <algorithm>

using namespace testsupport;

namespace checktest {

const char kClass[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E965-E325-11CE-BFC1-08002BE10318}";
const char kCdio[] = "SOFTWARE\\Quintessa\\QuinCDIO";
const char kEmulation[] = "SOFTWARE\\Quintessa\\QuinCDIO\\Emulation";
const char kCalls[] = "SOFTWARE\\Quintessa\\QuinCDIO\\Emulation\\Calls";
const char kNationalName[] = "\xC4" "qctX";

std::string E1() { return "Can't open Windows Service manager!\nQuinCheck will stop!"; }
std::string I1() {
  return "QuinCheck has performed a sanity check on the Filter drivers of the CD-ROM class in your registry "
         "and has corrected invalid entries.";
}
std::string W1(const std::string &n) {
  return "QuinCheck has detected, that the Filter Driver " + n +
         " is not installed!\n\nThis driver is required for proper operation of software made by "
         "Quintessa.\nYou will need to reinstall the application, which requires the driver " +
         n + "!";
}
std::string Q1(const std::string &n) {
  return "QuinCheck has detected, that the Filter Driver " + n +
         " is not installed!\n\nThis driver is required for proper operation of software made by "
         "Quintessa.\nInstall missing driver " +
         n + "?";
}
std::string W2() { return "You need to restart your computer for the changes to take effect."; }
std::string E2(DWORD code, const std::string &n) {
  return "Error " + std::to_string(code) + ":\n\nFailed to add driver " + n + "!";
}
std::string W3() {
  return "Your Computer needs to be restarted for the changes to take effect!\n\nUntil your computer is "
         "restarted, your CD-ROM drives may be invisible!";
}
std::string Q2(const std::string &n) {
  return "QuinCheck has detected a corrupt Filter Driver " + n +
         "!\n\nThis driver will prevent your CD-ROMs to work properly.\nRemove corrupt driver from Registry?";
}
std::string I2(const std::string &n) {
  return "The Filter Driver " + n +
         " has been removed!\n\nYou may need to reinstall the application, which requires this driver.";
}
std::string E3(DWORD code, const std::string &n) {
  return "Error " + std::to_string(code) + ":\n\nFailed to remove driver " + n + "!";
}

namespace {

std::wstring Wide(const std::string &s) {
  std::wstring w(s.size(), L'\0');
  int n = MultiByteToWideChar(CP_ACP, 0, s.data(), (int)s.size(), &w[0], (int)w.size());
  w.resize(n > 0 ? n : 0);
  return w;
}

// Wide calls: the ANSI file functions refuse paths of MAX_PATH characters and more, and some
// fixtures are exactly that long.
bool MakeFile(const std::string &path) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(h, "MZ", 2, &written, nullptr);
  CloseHandle(h);
  return true;
}

struct Placed {
  std::vector<std::string> files, dirs;
};
Placed &PlacedItems() {
  static Placed p;
  return p;
}

std::string Dir(UINT (*get)(LPSTR, UINT)) {
  char buf[MAX_PATH];
  UINT n = get(buf, MAX_PATH);
  return std::string(buf, n);
}
UINT WindowsDir(LPSTR b, UINT n) { return GetWindowsDirectoryA(b, n); }
UINT SystemDir(LPSTR b, UINT n) { return GetSystemDirectoryA(b, n); }

// Without a window manager (Xvfb) Wine's X11 driver waits two seconds for each hidden managed
// window to be withdrawn; the checker's boxes need no managing, so its runs go unmanaged.
const char kAppDefaults[] = "Software\\Wine\\AppDefaults\\QuinCheck.exe";
std::unique_ptr<SavedKey> &SavedAppDefaults() {
  static std::unique_ptr<SavedKey> saved;
  return saved;
}

std::vector<Fixture> &MutableFixtures() {
  static std::vector<Fixture> f;
  return f;
}

bool InstallService(SC_HANDLE scm, const Fixture &f) {
  SC_HANDLE s = CreateServiceA(scm, f.name.c_str(), f.name.c_str(), SERVICE_ALL_ACCESS, f.type, f.start,
                               SERVICE_ERROR_NORMAL, f.image.c_str(), nullptr, nullptr, nullptr, nullptr,
                               nullptr);
  if (!s && GetLastError() == ERROR_SERVICE_EXISTS) {
    // Left over from an interrupted run: bring it to the wanted shape.
    s = OpenServiceA(scm, f.name.c_str(), SERVICE_ALL_ACCESS);
    if (s && !ChangeServiceConfigA(s, f.type, f.start, SERVICE_ERROR_NORMAL, f.image.c_str(), nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr)) {
      CloseServiceHandle(s);
      s = nullptr;
    }
  }
  if (!s) return false;
  CloseServiceHandle(s);
  return true;
}

}  // namespace

const std::string &WorkDir() {
  static std::string dir;
  if (dir.empty()) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir = std::string(temp) + "qctwork";
  }
  return dir;
}

const std::vector<Fixture> &Fixtures() { return MutableFixtures(); }

void CheckTest::SetUpTestSuite() {
  if (!MutableFixtures().empty()) return;
  SavedAppDefaults().reset(new SavedKey(HKEY_CURRENT_USER, kAppDefaults));
  const std::string win = Dir(WindowsDir), sys = Dir(SystemDir), drv = sys + "\\drivers";
  const std::string cwd = WorkDir();
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  CreateDirectoryA(cwd.c_str(), nullptr);

  const DWORD K = SERVICE_KERNEL_DRIVER, D = SERVICE_DEMAND_START;
  Placed &placed = PlacedItems();
  auto file = [&](const std::string &path) {
    EXPECT_TRUE(MakeFile(path)) << path;
    placed.files.push_back(path);
  };
  auto dir = [&](const std::string &path) {
    EXPECT_TRUE(CreateDirectoryW(Wide(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) << path;
    placed.dirs.push_back(path);
  };
  std::vector<Fixture> &f = MutableFixtures();

  // Found in each of the four places, in turn.
  f.push_back({"qctCur", K, D, "qctCur.sys", true});
  file(cwd + "\\qctCur.sys");
  f.push_back({"qctWin", K, D, "qctWin.sys", true});
  file(win + "\\qctWin.sys");
  f.push_back({"qctSys", K, D, "qctSys.sys", true});
  file(sys + "\\qctSys.sys");
  f.push_back({"qctDrv", K, D, "qctDrv.sys", true});
  file(drv + "\\qctDrv.sys");
  // The usual shapes of a driver's image path.
  f.push_back({"qctRel", K, D, "System32\\drivers\\qctRel.sys", true});
  file(drv + "\\qctRel.sys");
  f.push_back({"qctGood", K, D, "system32\\DRIVERS\\qctGood.sys", true});
  file(drv + "\\qctGood.sys");
  f.push_back({"qctGood2", K, D, "qctGood2.sys", true});
  file(drv + "\\qctGood2.sys");
  f.push_back({"qctAbs", K, D, std::string(temp) + "qctAbs.sys", true});
  file(std::string(temp) + "qctAbs.sys");
  f.push_back({"qctRoot", K, D, "\\SystemRoot\\System32\\drivers\\qctRoot.sys", true});
  file(drv + "\\qctRoot.sys");
  f.push_back({"qctRootCase", K, D, "\\SYSTEMROOT\\system32\\Drivers\\qctRootCase.sys", true});
  file(drv + "\\qctRootCase.sys");
  f.push_back({"qctDosPath", K, D, "\\??\\" + drv + "\\qctDosPath.sys", true});
  file(drv + "\\qctDosPath.sys");
  f.push_back({"qctSysStart", K, SERVICE_SYSTEM_START, "qctSysStart.sys", true});
  file(drv + "\\qctSysStart.sys");
  // A name with letters of the Western code page above 0x7F.
  f.push_back({kNationalName, K, D, std::string(kNationalName) + ".sys", true});
  file(drv + "\\" + kNationalName + ".sys");
  // The drivers-directory candidate of exactly 259 characters fits its buffer, 260 does not.
  const size_t room = MAX_PATH - 1 - (drv.size() + 1);
  std::string fits = "qctFits" + std::string(room - 7 - 4, 'f') + ".sys";
  f.push_back({"qctFits", K, D, fits, true});
  file(drv + "\\" + fits);
  std::string tooLong = "qctTooLong" + std::string(room + 1 - 10 - 4, 't') + ".sys";
  f.push_back({"qctTooLong", K, D, tooLong, false});
  file(drv + "\\" + tooLong);
  f.push_back({"qctLongImage", K, D, "C:\\" + std::string(300, 'l') + ".sys", false});
  // Not properly installed although the file is there.
  f.push_back({"qctDisabled", K, SERVICE_DISABLED, "qctDisabled.sys", false});
  file(drv + "\\qctDisabled.sys");
  f.push_back({"qctFsd", SERVICE_FILE_SYSTEM_DRIVER, D, "qctFsd.sys", false});
  file(drv + "\\qctFsd.sys");
  f.push_back({"qctOwnProcess", SERVICE_WIN32_OWN_PROCESS, D, "qctOwnProcess.sys", false});
  file(drv + "\\qctOwnProcess.sys");
  // Nothing but directories, or nothing at all.
  f.push_back({"qctDir", K, D, "qctDir.sys", false});
  for (const std::string &place : {cwd, win, sys, drv}) dir(place + "\\qctDir.sys");
  f.push_back({"qctNoFile", K, D, "qctNoFile.sys", false});
  f.push_back({"qctRootMissing", K, D, "\\SystemRoot\\System32\\drivers\\qctRootMissing.sys", false});

  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_TRUE(scm != nullptr);
  for (const Fixture &x : f) EXPECT_TRUE(InstallService(scm, x)) << x.name << " error " << GetLastError();
  CloseServiceHandle(scm);
}

void CheckTest::TearDownTestSuite() {
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (scm) {
    for (const Fixture &x : Fixtures()) {
      SC_HANDLE s = OpenServiceA(scm, x.name.c_str(), DELETE);
      if (!s) continue;
      DeleteService(s);
      CloseServiceHandle(s);
    }
    CloseServiceHandle(scm);
  }
  MutableFixtures().clear();
  for (const std::string &file : PlacedItems().files) DeleteFileW(Wide(file).c_str());
  for (const std::string &dir : PlacedItems().dirs) RemoveDirectoryW(Wide(dir).c_str());
  PlacedItems() = Placed();
  RemoveDirectoryA(WorkDir().c_str());
  SavedAppDefaults().reset();
}

void CheckTest::SetUp() {
  savedClass_.reset(new SavedKey(HKEY_LOCAL_MACHINE, kClass));
  savedCdio_.reset(new SavedKey(HKEY_LOCAL_MACHINE, kCdio));
  ResetClassKey();
  SetDword(HKEY_LOCAL_MACHINE, kEmulation, "InitResult", 0);
  SetTargets(1);
}

void CheckTest::TearDown() {
  savedCdio_.reset();
  savedClass_.reset();
}

// The class key as a machine has it: present, here without filter values.
void CheckTest::ResetClassKey() {
  DeleteTree(HKEY_LOCAL_MACHINE, kClass);
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kClass, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &key, nullptr));
  RegCloseKey(key);
  SetString(HKEY_LOCAL_MACHINE, kClass, "Class", "CDROM");
}

void CheckTest::SetList(int upper, const std::vector<std::string> &entries) {
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKEY_LOCAL_MACHINE, kClass, upper ? "UpperFilters" : "LowerFilters",
                                  REG_MULTI_SZ, MultiSz(entries)));
}

void CheckTest::SetTargets(DWORD targets) {
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKEY_LOCAL_MACHINE, kEmulation, "TargetsFound", targets));
}

void CheckTest::ExpectList(int upper, const std::vector<std::string> &entries) {
  ExpectRaw(upper ? "UpperFilters" : "LowerFilters",
            entries.empty() ? RawValue{} : RawValue{true, REG_MULTI_SZ, MultiSz(entries)});
}

namespace {
std::string Show(const Bytes &b) {
  std::string s;
  for (unsigned char c : b) s += c ? std::string(1, (char)c) : std::string("\\0");
  return s;
}
}  // namespace

void CheckTest::ExpectRaw(const char *value, const RawValue &expected) {
  RawValue got = ReadRaw(HKEY_LOCAL_MACHINE, kClass, value);
  EXPECT_EQ(expected.exists, got.exists) << value;
  if (!expected.exists || !got.exists) return;
  EXPECT_EQ(expected.type, got.type) << value;
  EXPECT_EQ(Show(expected.data), Show(got.data)) << value;
}

DWORD CheckTest::Calls(const char *function) { return CdioCalls(function); }

namespace {
std::vector<int> ButtonIds(const ui::Box &b) {
  std::vector<int> ids;
  for (const ui::Button &x : b.buttons) ids.push_back(x.id);
  std::sort(ids.begin(), ids.end());
  return ids;
}
}  // namespace

void CheckTest::ExpectBoxes(const std::vector<ui::Box> &boxes, const Script &script, bool prefixOnly) {
  for (size_t i = 0; i < boxes.size() && i < script.size(); ++i) {
    SCOPED_TRACE("box " + std::to_string(i + 1));
    if (prefixOnly) {
      // Cut at the message buffer's end, never shorter.
      EXPECT_GE(boxes[i].text.size(), std::min<size_t>(script[i].text.size(), 1023));
      EXPECT_EQ(script[i].text.substr(0, boxes[i].text.size()), boxes[i].text);
    } else
      EXPECT_EQ(script[i].text, boxes[i].text);
    const std::vector<int> expected = script[i].yesNo ? std::vector<int>{IDYES, IDNO} : std::vector<int>{IDOK};
    EXPECT_EQ(expected, ButtonIds(boxes[i]));
  }
  EXPECT_EQ(script.size(), boxes.size());
  for (size_t i = script.size(); i < boxes.size(); ++i) ADD_FAILURE() << "unexpected box: " << boxes[i].text;
}

RunResult CheckTest::RunCheck(const std::string &args, const Script &script, bool prefixOnly,
                        std::function<void(size_t, const ui::Box &)> onBox, DWORD deinitCalls) {
  DWORD deinit = Calls("QuinCDIO_DeInitScsi");
  Program p(DistPath("QuinCheck.exe"), args, WorkDir());
  return Answer(p, deinit, script, prefixOnly, onBox, deinitCalls);
}

RunResult CheckTest::RunCheckAs(const std::string &exe, const std::string &commandLine, const Script &script) {
  DWORD deinit = Calls("QuinCDIO_DeInitScsi"), init = Calls("QuinCDIO_InitScsi");
  // A copy that finds the checker's event waits for it: held here, it keeps the copy from
  // running on before its command line has been read back.
  HANDLE hold = CreateEventA(nullptr, FALSE, FALSE, "QuinCheck");
  EXPECT_TRUE(hold != nullptr);
  Program p(exe, CommandLine{commandLine}, WorkDir());
  // Its process parameters are filled in during its start-up, so they are read only once the
  // copy has called into the CD I/O layer.
  for (DWORD start = GetTickCount(); p.Running() && Calls("QuinCDIO_InitScsi") == init;) {
    if (GetTickCount() - start > ui::kWait) break;
    Sleep(20);
  }
  EXPECT_EQ(commandLine, p.CommandLineSeen()) << "the command line the copy holds";
  SetEvent(hold);
  RunResult r = Answer(p, deinit, script, false, nullptr, 1);
  CloseHandle(hold);
  return r;
}

RunResult CheckTest::Answer(Program &p, DWORD deinitBefore, const Script &script, bool prefixOnly,
                            std::function<void(size_t, const ui::Box &)> onBox, DWORD deinitCalls) {
  RunResult r;
  EXPECT_TRUE(p.started());
  if (!p.started()) return r;
  ui::BoxRun run = ui::AnswerBoxes(p.handle(), p.pid(), "QuinCheck", [&](size_t index, const ui::Box &box) {
    EXPECT_TRUE(GetWindow(box.hwnd, GW_OWNER) == nullptr) << "a box with an owner: " << box.text;
    if (onBox) onBox(index, box);
    bool hasNo = false;
    for (const ui::Button &b : box.buttons) hasNo = hasNo || b.id == IDNO;
    return index < script.size() ? script[index].answer : (hasNo ? IDNO : IDOK);
  });
  if (!run.failure.empty()) ADD_FAILURE() << run.failure;
  r.boxes = run.boxes;
  r.exitCode = p.Wait(20000);
  ExpectBoxes(r.boxes, script, prefixOnly);
  EXPECT_EQ(deinitBefore + deinitCalls, Calls("QuinCDIO_DeInitScsi")) << "QuinCDIO_DeInitScsi calls";
  return r;
}

DenySetValue::DenySetValue(const std::string &path) {
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL | WRITE_DAC, &key_)) {
    key_ = nullptr;
    return;
  }
  DWORD size = 0;
  RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, nullptr, &size);
  saved_.resize(size ? size : 1);
  if (RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data(), &size)) return;

  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) return;
  std::vector<unsigned char> aclBuf(1024);
  PACL acl = reinterpret_cast<PACL>(aclBuf.data());
  SECURITY_DESCRIPTOR sd;
  if (InitializeAcl(acl, (DWORD)aclBuf.size(), ACL_REVISION) &&
      AddAccessDeniedAce(acl, ACL_REVISION, KEY_SET_VALUE, everyone) &&
      AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone) &&
      InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) && SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE))
    applied_ = RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, &sd) == ERROR_SUCCESS;
  FreeSid(everyone);
}

DenySetValue::~DenySetValue() {
  if (!key_) return;
  if (applied_) RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data());
  RegCloseKey(key_);
}

}  // namespace checktest
