// The packages under Wine: the installer run unattended into a folder whose path has a space,
// with and without the device-layer emulation, what it put where, the tray started from there
// and ended by a second setup and by the uninstaller, and what the uninstaller leaves; then each
// program started from the unpacked ZIP with the stand-ins put beside it.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <algorithm>
#include <string>
#include <vector>
#include "testsupport.h"
#include "trayprocess.h"
#include "uiauto.h"

using namespace testsupport;

namespace {

const HKEY HKLM = HKEY_LOCAL_MACHINE;
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OrvandUtilities";
const char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E965-E325-11CE-BFC1-08002BE10318}";
const char kAutostart[] = "OrvandTray";
const char kOtherRunValue[] = "QuinTestsOtherProgram";
const char kControlCaption[] = "QuinCDIO Driver Control 4.2";
const std::string kInstallDir = "C:\\Program Files\\Orvand Test Dir";
const DWORD kSetupWait = 120000;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return (char)tolower(c); });
  return s;
}

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return (char)toupper(c); });
  return s;
}

bool EndsWith(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && Lower(s.substr(s.size() - tail.size())) == Lower(tail);
}

std::vector<std::string> SortedCaseBlind(std::vector<std::string> v) {
  std::sort(v.begin(), v.end(), [](const std::string &a, const std::string &b) {
    return lstrcmpiA(a.c_str(), b.c_str()) < 0;
  });
  return v;
}

// The string value, "<missing>" when it is absent or not a REG_SZ.
std::string RegString(HKEY root, const std::string &path, const std::string &name) {
  RawValue v = ReadRaw(root, path, name);
  if (!v.exists || v.type != REG_SZ) return "<missing>";
  std::string s(v.data.begin(), v.data.end());
  return s.substr(0, s.find('\0'));
}

// The Start-menu folder of the installation, in the all-users Programs folder.
std::string StartMenuFolder() {
  char path[MAX_PATH] = "";
  if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_COMMON_PROGRAMS, FALSE) || !path[0]) return "";
  return std::string(path) + "\\Orvand";
}

// The language files of the deployable folder, as "Texts\<name>".
std::vector<std::string> DistTexts() {
  std::vector<std::string> texts;
  for (const std::string &f : ListFiles(DistPath("Texts")))
    if (EndsWith(f, ".lng") && f.find('\\') == std::string::npos) texts.push_back("Texts\\" + f);
  return texts;
}

// What a shortcut starts.
struct Shortcut {
  bool ok = false;
  std::string target, directory;
};

Shortcut ReadShortcut(const std::string &lnk) {
  Shortcut s;
  HRESULT init = CoInitialize(nullptr);
  IShellLinkA *link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                 reinterpret_cast<void **>(&link)))) {
    IPersistFile *file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
      wchar_t wide[MAX_PATH];
      char text[MAX_PATH];
      if (MultiByteToWideChar(CP_ACP, 0, lnk.c_str(), -1, wide, MAX_PATH) &&
          SUCCEEDED(file->Load(wide, STGM_READ)) &&
          SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) {
        s.ok = true;
        s.target = text;
        if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) s.directory = text;
      }
      file->Release();
    }
    link->Release();
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return s;
}

// The deployable folder taken off PATH while this lives (tools/wine-run puts it there), so that
// a program started from elsewhere finds the device-layer DLLs only beside itself.
class WithoutDistOnPath {
 public:
  WithoutDistOnPath() {
    std::vector<char> buffer(32768);
    DWORD n = GetEnvironmentVariableA("PATH", buffer.data(), (DWORD)buffer.size());
    saved_.assign(buffer.data(), n < buffer.size() ? n : 0);
    std::string dist = Lower(DistPath(""));
    while (!dist.empty() && dist.back() == '\\') dist.pop_back();
    std::string kept;
    size_t start = 0;
    while (start <= saved_.size()) {
      size_t end = saved_.find(';', start);
      if (end == std::string::npos) end = saved_.size();
      std::string entry = saved_.substr(start, end - start);
      std::string bare = Lower(entry);
      while (!bare.empty() && bare.back() == '\\') bare.pop_back();
      if (!entry.empty() && bare != dist) kept += (kept.empty() ? "" : ";") + entry;
      start = end + 1;
    }
    SetEnvironmentVariableA("PATH", kept.c_str());
  }
  ~WithoutDistOnPath() { SetEnvironmentVariableA("PATH", saved_.c_str()); }
  WithoutDistOnPath(const WithoutDistOnPath &) = delete;
  WithoutDistOnPath &operator=(const WithoutDistOnPath &) = delete;
 private:
  std::string saved_;
};

// The process `pid` runs with the stand-ins of `dir`, not with those of the deployable folder.
void ExpectStandInsFrom(DWORD pid, const std::string &dir) {
  std::vector<std::string> modules = ProcessModules(pid);
  ASSERT_FALSE(modules.empty()) << "the modules of the process cannot be read";
  for (const char *dll : {"QuinCDIO.dll", "QuinVCD.dll"}) {
    auto loaded = std::find_if(modules.begin(), modules.end(),
                               [&](const std::string &m) { return EndsWith(m, std::string("\\") + dll); });
    ASSERT_TRUE(loaded != modules.end()) << dll << " is not loaded";
    EXPECT_EQ(Lower(dir + "\\" + dll), Lower(*loaded));
  }
}

bool HasNo(const ui::Box &box) {
  for (const ui::Button &b : box.buttons)
    if (b.id == IDNO) return true;
  return false;
}

// ---- The installer ----------------------------------------------------------------------------

// The installer run unattended: `options`, then /D, which must come last and unquoted.
DWORD RunSetup(const std::string &options, const std::string &dir = kInstallDir) {
  Program setup(BuildPath(SETUP_FILE), options + " /D=" + dir);
  EXPECT_TRUE(setup.started()) << BuildPath(SETUP_FILE);
  return setup.Wait(kSetupWait);
}

// The uninstaller as Add/Remove Programs starts it, from the registered UninstallString, but
// waited for.  An NSIS uninstaller copies itself to the temp folder, starts the copy with
// "_?=<its folder>" and ends at once, so that the one in the folder can be deleted; the test
// makes the same copy and runs it itself, so that it sees the end of the real work and its
// exit code.
DWORD RunUninstaller() {
  const std::string command = RegString(HKLM, kUninstallKey, "UninstallString");
  const std::string folder = RegString(HKLM, kUninstallKey, "InstallLocation");
  if (command.size() < 3 || command.front() != '"' || command.back() != '"') {
    ADD_FAILURE() << "UninstallString is not a quoted path: " << command;
    return STILL_ACTIVE;
  }
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string copy = std::string(temp) + "QuinTestsUninstall.exe";
  if (!CopyFileA(command.substr(1, command.size() - 2).c_str(), copy.c_str(), FALSE)) {
    ADD_FAILURE() << "no uninstaller at " << command;
    return STILL_ACTIVE;
  }
  DWORD code;
  {
    Program uninstaller(copy, "/S _?=" + folder);
    EXPECT_TRUE(uninstaller.started());
    code = uninstaller.Wait(kSetupWait);
  }
  DeleteFileA(copy.c_str());
  return code;
}

// The files an installation holds.
std::vector<std::string> InstalledFiles(bool emulation) {
  std::vector<std::string> files = {"ControlQuinCDIO.exe", "OrvandTray.exe", "QuinCheck.exe",
                                    "uninst.exe", "VirtualFarodrive.ico"};
  if (emulation) {
    files.push_back("QuinCDIO.dll");
    files.push_back("QuinVCD.dll");
  }
  for (const std::string &t : DistTexts()) files.push_back(t);
  return files;
}

// The installation in kInstallDir: exactly its files (and `others`, which something else put
// there), each as in the deployable folder; the two Start-menu entries; the uninstall entry.
void ExpectInstallation(bool emulation, const std::vector<std::string> &others = {}) {
  std::vector<std::string> ours = InstalledFiles(emulation), all = ours;
  all.insert(all.end(), others.begin(), others.end());
  EXPECT_EQ(SortedCaseBlind(all), ListFiles(kInstallDir));
  for (const std::string &f : ours) {
    if (f == "uninst.exe") continue;
    SCOPED_TRACE(f);
    Bytes installed, shipped;
    installed = ReadBytes(kInstallDir + "\\" + f);
    EXPECT_FALSE(installed.empty()) << f;
    shipped = ReadBytes(DistPath(f));
    ASSERT_FALSE(shipped.empty()) << f;
    EXPECT_TRUE(installed == shipped) << "differs from the deployable folder's";
  }

  const std::string menu = StartMenuFolder();
  ASSERT_NE("", menu);
  EXPECT_EQ((std::vector<std::string>{"Orvand Tray.lnk", "QuinCDIO Driver Control.lnk"}), ListFiles(menu));
  const std::pair<const char *, const char *> shortcuts[] = {
      {"Orvand Tray.lnk", "OrvandTray.exe"}, {"QuinCDIO Driver Control.lnk", "ControlQuinCDIO.exe"}};
  for (const auto &s : shortcuts) {
    SCOPED_TRACE(s.first);
    Shortcut link = ReadShortcut(menu + "\\" + s.first);
    ASSERT_TRUE(link.ok) << "unreadable";
    EXPECT_EQ(Lower(kInstallDir + "\\" + s.second), Lower(link.target));
    EXPECT_EQ(Lower(kInstallDir), Lower(link.directory));
  }

  const std::pair<const char *, std::string> strings[] = {
      {"DisplayName", "Orvand Utilities"},
      {"DisplayVersion", QUIN_VERSION},
      {"Publisher", "Quintessa"},
      {"UninstallString", "\"" + kInstallDir + "\\uninst.exe\""},
      {"QuietUninstallString", "\"" + kInstallDir + "\\uninst.exe\" /S"},
      {"InstallLocation", kInstallDir},
      {"DisplayIcon", kInstallDir + "\\OrvandTray.exe,0"},
  };
  for (const auto &v : strings) EXPECT_EQ(v.second, RegString(HKLM, kUninstallKey, v.first)) << v.first;
  const std::pair<const char *, DWORD> dwords[] = {
      {"NoModify", 1}, {"NoRepair", 1}, {"Emulation", emulation ? 1u : 0u}};
  for (const auto &v : dwords) EXPECT_EQ(v.second, ReadDword(HKLM, kUninstallKey, v.first, 0xFFFFFFFF)) << v.first;
}

// After the uninstaller: the Start-menu folder and the uninstall entry are gone, and of the
// installation folder only the files `others` that something else put there are left, or not
// even the folder.
void ExpectUninstalled(const std::vector<std::string> &others = {}) {
  EXPECT_FALSE(KeyExists(HKLM, kUninstallKey)) << "the uninstall entry is left";
  EXPECT_FALSE(FileExists(StartMenuFolder())) << "the Start-menu folder is left";
  if (others.empty()) {
    std::string left;
    for (const std::string &f : ListFiles(kInstallDir)) left += " " + f;
    EXPECT_FALSE(FileExists(kInstallDir)) << "the folder is left, with:" << left;
  } else {
    EXPECT_EQ(SortedCaseBlind(others), ListFiles(kInstallDir));
    EXPECT_FALSE(FileExists(kInstallDir + "\\Texts")) << "the Texts folder is left";
  }
}

class InstallerTest : public ::testing::Test {
 protected:
  SavedTrayState trayState_;
  SavedKey uninstallEntry_{HKLM, kUninstallKey};

  void SetUp() override {
    Clean();
    DeleteTree(HKLM, kCdioEmulation);
    DeleteTree(HKLM, kVcdEmulation);
    DeleteTree(HKEY_CURRENT_USER, kSettings);
    DeleteValue(HKLM, kRunKey, kAutostart);
  }
  void TearDown() override { Clean(); }

  // What an earlier, failed run may have left.
  static void Clean() {
    RemoveTree(kInstallDir);
    std::string menu = StartMenuFolder();
    if (!menu.empty()) RemoveTree(menu);
    DeleteTree(HKLM, kUninstallKey);
  }
};

// The setup carries the version of the utilities, which is the tray's product version (the
// checker and the settings program keep versions of their own).
TEST(SetupFile, CarriesTheVersion) {
  VersionInfo setup = ReadVersionInfo(BuildPath(SETUP_FILE));
  ASSERT_TRUE(setup.ok);
  EXPECT_EQ(QUIN_VERSION, setup.String("ProductVersion"));
  EXPECT_EQ(QUIN_VERSION, setup.String("FileVersion"));
  EXPECT_EQ("Quintessa", setup.String("CompanyName"));
  EXPECT_EQ("Orvand Utilities", setup.String("ProductName"));
  EXPECT_EQ((DWORD)MAKELONG(2, 4), setup.fixed.dwFileVersionMS);
  EXPECT_EQ(0u, setup.fixed.dwFileVersionLS);
  VersionInfo tray = ReadVersionInfo(DistPath("OrvandTray.exe"));
  ASSERT_TRUE(tray.ok);
  EXPECT_EQ(tray.fixed.dwProductVersionMS, setup.fixed.dwProductVersionMS);
  EXPECT_EQ(tray.fixed.dwProductVersionLS, setup.fixed.dwProductVersionLS);
}

// With the emulation: the tray starts from the folder with the stand-ins there; a second setup
// ends it before it replaces the files; the uninstaller ends it again, removes what was
// installed and the tray's autostart, and leaves another program's Run value and a file the user
// put into the folder, and with it the folder.
TEST_F(InstallerTest, WithTheEmulation) {
  ASSERT_EQ(0u, RunSetup("/S /EMULATION"));
  ExpectInstallation(true);

  {
    RunningTray tray(kInstallDir + "\\OrvandTray.exe", kInstallDir);
    ASSERT_TRUE(tray.up()) << "the installed tray did not start";
    ExpectStandInsFrom(tray.program().pid(), kInstallDir);
    ASSERT_EQ(0u, RunSetup("/S /EMULATION"));
    EXPECT_EQ(0u, tray.program().Wait(15000)) << "the setup did not end the running tray";
  }
  ExpectInstallation(true);

  RunningTray tray(kInstallDir + "\\OrvandTray.exe", kInstallDir);
  ASSERT_TRUE(tray.up());
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKLM, kRunKey, kAutostart, "\"" + kInstallDir + "\\OrvandTray.exe\""));
  const std::string other = "\"C:\\Program Files\\Other\\Other.exe\" /quiet";
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKLM, kRunKey, kOtherRunValue, other));
  const Bytes notes = B("the user's own notes", 20);
  ASSERT_TRUE(WriteBytes(kInstallDir + "\\notes.txt", notes));

  EXPECT_EQ(0u, RunUninstaller());
  EXPECT_EQ(0u, tray.program().Wait(15000)) << "the uninstaller did not end the running tray";
  ExpectUninstalled({"notes.txt"});
  Bytes left;
  left = ReadBytes(kInstallDir + "\\notes.txt");
  EXPECT_EQ(notes, left);
  EXPECT_FALSE(ReadRaw(HKLM, kRunKey, kAutostart).exists) << "the tray's autostart is left";
  EXPECT_EQ(other, RegString(HKLM, kRunKey, kOtherRunValue));
}

// A folder that holds the suite's own libraries: the emulation is refused there before anything
// is installed; the programs alone install beside the libraries and the uninstaller leaves them,
// and a tray of another folder, with its autostart, runs on through setup and uninstaller.
TEST_F(InstallerTest, WithoutTheEmulationBesideTheSuitesLibraries) {
  ASSERT_TRUE(CreateDirectoryA(kInstallDir.c_str(), nullptr));
  const std::vector<std::string> suite = {"QuinCDIO.dll", "QuinVCD.dll"};
  for (const std::string &dll : suite) ASSERT_TRUE(WriteBytes(kInstallDir + "\\" + dll, B(dll.data(), dll.size())));
  auto expectSuiteUntouched = [&] {
    for (const std::string &dll : suite) {
      Bytes b;
      EXPECT_TRUE((b = ReadBytes(kInstallDir + "\\" + dll)) == B(dll.data(), dll.size()))
          << "the suite's " << dll << " was changed";
    }
  };

  EXPECT_EQ(2u, RunSetup("/S /EMULATION")) << "the emulation went over the suite's libraries";
  EXPECT_EQ(suite, ListFiles(kInstallDir));
  expectSuiteUntouched();
  EXPECT_FALSE(KeyExists(HKLM, kUninstallKey));
  EXPECT_FALSE(FileExists(StartMenuFolder()));

  RunningTray other;  // from the deployable folder
  ASSERT_TRUE(other.up());
  const std::string otherAutostart = "\"" + DistPath("OrvandTray.exe") + "\"";
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKLM, kRunKey, kAutostart, otherAutostart));

  ASSERT_EQ(0u, RunSetup("/S"));
  EXPECT_TRUE(other.program().Running()) << "the setup ended the tray of another folder";
  ExpectInstallation(false, suite);
  expectSuiteUntouched();

  EXPECT_EQ(0u, RunUninstaller());
  EXPECT_TRUE(other.program().Running()) << "the uninstaller ended the tray of another folder";
  ExpectUninstalled(suite);
  expectSuiteUntouched();
  EXPECT_EQ(otherAutostart, RegString(HKLM, kRunKey, kAutostart));
  EXPECT_EQ(0u, other.Close());
}

// The tray's autostart value as it may read; whether it starts this installation's tray.
struct Autostart {
  const char *name;
  std::string (*data)();
  bool ours;
};

void PrintTo(const Autostart &a, std::ostream *os) { *os << a.name; }

std::string InstalledTray() { return kInstallDir + "\\OrvandTray.exe"; }

const Autostart kAutostarts[] = {
    {"UnquotedInCapitals", [] { return Upper(InstalledTray()); }, true},
    {"QuotedShortName",
     [] {
       char brief[MAX_PATH] = "";
       GetShortPathNameA(InstalledTray().c_str(), brief, sizeof brief);
       return "\"" + std::string(brief) + "\"";
     },
     true},
    {"QuotedNeighbourFolder", [] { return "\"" + kInstallDir + "2\\OrvandTray.exe\""; }, false},
    {"WithAnArgument", [] { return "\"" + InstalledTray() + "\" /x"; }, false},
};

class AutostartTest : public InstallerTest, public ::testing::WithParamInterface<Autostart> {};

TEST_P(AutostartTest, GoesWithTheUninstallOnlyWhenItStartsThisInstallation) {
  ASSERT_EQ(0u, RunSetup("/S"));
  const std::string data = GetParam().data();
  SCOPED_TRACE(data);
  ASSERT_NE("\"\"", data);
  if (std::string(GetParam().name) == "QuotedShortName") {
    ASSERT_NE(Lower("\"" + InstalledTray() + "\""), Lower(data)) << "Wine gave no short name";
  }
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKLM, kRunKey, kAutostart, data));

  EXPECT_EQ(0u, RunUninstaller());
  ExpectUninstalled();
  if (GetParam().ours) {
    EXPECT_FALSE(ReadRaw(HKLM, kRunKey, kAutostart).exists) << "the tray's autostart is left";
  } else {
    EXPECT_EQ(data, RegString(HKLM, kRunKey, kAutostart)) << "another program's autostart went";
  }
}

INSTANTIATE_TEST_SUITE_P(Values, AutostartTest, ::testing::ValuesIn(kAutostarts),
                         [](const ::testing::TestParamInfo<Autostart> &info) { return info.param.name; });

// ---- The ZIP ----------------------------------------------------------------------------------

// Unpacked by the package_zip_contents step; the stand-ins are put beside the programs here.
TEST(ZipTest, EachProgramStartsFromTheUnpackedFolderWithTheStandInsBesideIt) {
  SavedTrayState trayState;
  SavedKey classKey(HKLM, kClassKey);
  DeleteTree(HKLM, kCdioEmulation);
  DeleteTree(HKLM, kVcdEmulation);
  DeleteTree(HKEY_CURRENT_USER, kSettings);

  const std::string dir = BuildPath(ZIP_FOLDER);
  ASSERT_TRUE(FileExists(dir + "\\OrvandTray.exe")) << dir;
  WithoutDistOnPath path;
  for (const char *dll : {"QuinCDIO.dll", "QuinVCD.dll"}) DeleteFileA((dir + "\\" + dll).c_str());

  // As unpacked, the stand-ins are in emulation\ and a program that binds them does not start.
  {
    Program check(dir + "\\QuinCheck.exe", "", dir);
    DWORD code = check.started() ? check.Wait(15000) : 0xDEAD;
    EXPECT_NE(0u, code) << "QuinCheck ran without the device layer beside it";
    EXPECT_NE(STILL_ACTIVE, code);
  }
  for (const char *dll : {"QuinCDIO.dll", "QuinVCD.dll"})
    ASSERT_TRUE(CopyFileA((dir + "\\emulation\\" + dll).c_str(), (dir + "\\" + dll).c_str(), FALSE)) << dll;

  {
    SCOPED_TRACE("OrvandTray");
    RunningTray tray(dir + "\\OrvandTray.exe", dir);
    ASSERT_TRUE(tray.up());
    ExpectStandInsFrom(tray.program().pid(), dir);
    EXPECT_EQ(0u, tray.Close());
  }
  {
    SCOPED_TRACE("ControlQuinCDIO");
    Program control(dir + "\\ControlQuinCDIO.exe", "", dir);
    ASSERT_TRUE(control.started());
    HWND dialog = ui::WaitWindow(kControlCaption, control.pid(), ui::kWait, "#32770");
    ASSERT_TRUE(dialog != nullptr) << "no dialog";
    ASSERT_TRUE(ui::Press(dialog, IDCANCEL));
    EXPECT_EQ(0u, control.Wait(15000));
  }
  {
    SCOPED_TRACE("QuinCheck");
    const DWORD init = CdioCalls("QuinCDIO_InitScsi");
    Program check(dir + "\\QuinCheck.exe", "", dir);
    ASSERT_TRUE(check.started());
    ui::BoxRun run = ui::AnswerBoxes(check.handle(), check.pid(), "QuinCheck",
                                     [](size_t, const ui::Box &box) { return HasNo(box) ? IDNO : IDOK; });
    EXPECT_EQ("", run.failure);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(init + 1, CdioCalls("QuinCDIO_InitScsi")) << "the checker did not run on the stand-in";
  }
}

}  // namespace
