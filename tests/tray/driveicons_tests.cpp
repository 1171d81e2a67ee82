// Explorer's drive icon entries in-process: the option, both places, the marker rule, the
// key-tree deletion and the entries the window writes at creation.
#include "tray_fixture.h"
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

using namespace testsupport;
using namespace traytest;

namespace {

struct Place {
  HKEY root;
  const char *parent;
  const char *name;
};

const Place kPlaces[] = {
    {HKEY_LOCAL_MACHINE, kMachineDriveIcons, "machine-wide"},
    {HKEY_CURRENT_USER, kUserDriveIcons, "per-user"},
};

const char kFolder[] = "C:\\Apps\\";
const char kIconPath[] = "C:\\Apps\\VirtualFarodrive.ico";

int Index(char letter) { return letter - 'A'; }

std::string LetterKey(const Place &p, char letter) { return std::string(p.parent) + "\\" + letter; }

Bytes Dword(DWORD v) { return Bytes((unsigned char *)&v, (unsigned char *)&v + 4); }
Bytes Text(const std::string &s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); }
std::string Hex(const Bytes &b) {
  std::string s;
  for (unsigned char c : b) {
    char hex[4];
    snprintf(hex, sizeof hex, "%02x", c);
    s += hex;
  }
  return s;
}

::testing::AssertionResult HasValue(HKEY root, const std::string &path, const char *name, DWORD type,
                                    const Bytes &data) {
  RawValue v = ReadRaw(root, path, name);
  if (!v.exists) return ::testing::AssertionFailure() << path << " [" << name << "] is missing";
  if (v.type != type || v.data != data)
    return ::testing::AssertionFailure() << path << " [" << name << "] has type " << v.type << " and "
                                         << v.data.size() << " bytes";
  return ::testing::AssertionSuccess();
}

// The tray's entries for the letter, byte for byte: the marker, the icon and the label.
::testing::AssertionResult HasEntries(const Place &p, char letter, const std::string &iconPath) {
  std::string key = LetterKey(p, letter);
  ::testing::AssertionResult r = HasValue(p.root, key, "VirtualFarodrive", REG_DWORD, Dword(1));
  if (!r) return r;
  r = HasValue(p.root, key + "\\DefaultIcon", "", REG_SZ, Text(iconPath));
  if (!r) return r;
  return HasValue(p.root, key + "\\DefaultLabel", "", REG_SZ, Text("Virtual Farodrive"));
}


// A letter key as the tray wrote it, with more in it than the tray writes.
void MakeMarked(const Place &p, char letter) {
  std::string key = LetterKey(p, letter);
  ASSERT_EQ(ERROR_SUCCESS, SetDword(p.root, key, "VirtualFarodrive", 1));
  ASSERT_EQ(ERROR_SUCCESS, SetString(p.root, key + "\\DefaultIcon", "", "D:\\Old\\VirtualFarodrive.ico"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(p.root, key + "\\DefaultLabel", "", "Virtual Farodrive"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(p.root, key + "\\Extra\\Deep\\Deeper", "Note", "nested"));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(p.root, key + "\\Extra", "Count", 3));
}

// A letter key of another program: an icon and a label, no marker of the tray.
void MakeForeign(const Place &p, char letter) {
  std::string key = LetterKey(p, letter);
  ASSERT_EQ(ERROR_SUCCESS, SetString(p.root, key + "\\DefaultIcon", "", "C:\\Other\\drive.ico"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(p.root, key + "\\DefaultLabel", "", "Other drive"));
  ASSERT_EQ(ERROR_SUCCESS, SetString(p.root, key, "Owner", "another program"));
}

class DriveIconsTest : public TrayTest {
 protected:
  void SetUp() override {
    TrayTest::SetUp();
    for (const Place &p : kPlaces) ASSERT_TRUE(DeleteTree(p.root, p.parent)) << p.name;
    ASSERT_TRUE(DeleteTree(HKEY_LOCAL_MACHINE, kIconOption));
    lstrcpyA(ProgramFolder, kFolder);
    ShellIconSupport = TRUE;
    SheepIconsOn = 1;
  }
};

TEST_F(DriveIconsTest, SetDriveIconsWritesTheMarkedEntriesInBothPlaces) {
  SetDriveIcons(Index('V'));
  for (const Place &p : kPlaces) {
    SCOPED_TRACE(p.name);
    EXPECT_TRUE(HasEntries(p, 'V', kIconPath));
    EXPECT_EQ(std::vector<std::string>{"V"}, Subkeys(p.root, p.parent));
    // Exactly the tray's three values and nothing beside them.
    EXPECT_EQ("[]\nVirtualFarodrive=4:01000000\n"
              "[DefaultIcon]\n=1:" + Hex(Text(kIconPath)) + "\n"
              "[DefaultLabel]\n=1:" + Hex(Text("Virtual Farodrive")) + "\n",
              DumpTree(p.root, LetterKey(p, 'V')));
  }
}

TEST_F(DriveIconsTest, SetDriveIconsOverwritesItsOwnEarlierEntries) {
  for (const Place &p : kPlaces) MakeMarked(p, 'W');
  SetDriveIcons(Index('W'));
  for (const Place &p : kPlaces) {
    SCOPED_TRACE(p.name);
    EXPECT_TRUE(HasEntries(p, 'W', kIconPath));
    // What else was in the key stays: the tray only sets its own values.
    EXPECT_TRUE(HasValue(p.root, LetterKey(p, 'W') + "\\Extra\\Deep\\Deeper", "Note", REG_SZ, Text("nested")));
  }
}

TEST_F(DriveIconsTest, TheIconPathIsLeftOutWhenItDoesNotFit) {
  // 259 characters fit the path buffer with its NUL; one more does not, and a cut path would
  // name another file, so only the icon entry is left out.
  for (size_t folderLength : {239u, 240u, 259u}) {
    SCOPED_TRACE(folderLength);
    for (const Place &p : kPlaces) ASSERT_TRUE(DeleteTree(p.root, p.parent));
    std::string folder = "C:\\" + std::string(folderLength - 4, 'f') + "\\";
    ASSERT_EQ(folderLength, folder.size());
    lstrcpyA(ProgramFolder, folder.c_str());
    SetDriveIcons(Index('X'));
    for (const Place &p : kPlaces) {
      SCOPED_TRACE(p.name);
      std::string key = LetterKey(p, 'X');
      EXPECT_TRUE(HasValue(p.root, key, "VirtualFarodrive", REG_DWORD, Dword(1)));
      EXPECT_TRUE(HasValue(p.root, key + "\\DefaultLabel", "", REG_SZ, Text("Virtual Farodrive")));
      if (folderLength == 239u)
        EXPECT_TRUE(HasValue(p.root, key + "\\DefaultIcon", "", REG_SZ, Text(folder + "VirtualFarodrive.ico")));
      else
        EXPECT_FALSE(KeyExists(p.root, key + "\\DefaultIcon"));
    }
  }
}

TEST_F(DriveIconsTest, DriveIndexesOutsideAToZDoNothing) {
  for (const Place &p : kPlaces) MakeMarked(p, 'Z');
  std::string before[2] = {DumpTree(kPlaces[0].root, kPlaces[0].parent),
                           DumpTree(kPlaces[1].root, kPlaces[1].parent)};
  for (int index : {-1, 26, 27, 255, INT_MIN, INT_MAX}) {
    SCOPED_TRACE(index);
    SetDriveIcons(index);
    ClearDriveIcons(index);
    for (int i = 0; i < 2; i++) EXPECT_EQ(before[i], DumpTree(kPlaces[i].root, kPlaces[i].parent));
  }
}

// How a letter key's "VirtualFarodrive" value is read: four bytes, type not asked.
struct MarkerCase {
  const char *what;
  bool present;
  DWORD type;
  Bytes data;
  bool ours;
};

class MarkerRuleTest : public DriveIconsTest,
                       public ::testing::WithParamInterface<std::tuple<int, MarkerCase>> {};

TEST_P(MarkerRuleTest, OnlyKeysMarkedNonZeroAreDeletedAndForeignOnesAreNeverWritten) {
  const Place &place = kPlaces[std::get<0>(GetParam())];
  const Place &other = kPlaces[1 - std::get<0>(GetParam())];
  const MarkerCase &c = std::get<1>(GetParam());
  SCOPED_TRACE(std::string(place.name) + ", marker " + c.what);

  MakeForeign(place, 'Q');
  if (c.present) {
    ASSERT_EQ(ERROR_SUCCESS, SetRaw(place.root, LetterKey(place, 'Q'), "VirtualFarodrive", c.type, c.data));
  }
  ASSERT_EQ(ERROR_SUCCESS, SetString(place.root, LetterKey(place, 'Q') + "\\Sub\\Inner", "Keep", "me"));
  const std::string before = DumpTree(place.root, LetterKey(place, 'Q'));

  ClearDriveIcons(Index('Q'));
  if (c.ours) {
    EXPECT_FALSE(KeyExists(place.root, LetterKey(place, 'Q')));
    EXPECT_TRUE(KeyExists(place.root, place.parent));
    return;
  }
  EXPECT_EQ(before, DumpTree(place.root, LetterKey(place, 'Q')));

  // A foreign key is never marked: that would hand it to a later clear, whole.
  SetDriveIcons(Index('Q'));
  EXPECT_EQ(before, DumpTree(place.root, LetterKey(place, 'Q')));
  EXPECT_TRUE(HasEntries(other, 'Q', kIconPath)) << "the other place still gets its entries";

  ClearDriveIconsAll();
  EXPECT_EQ(before, DumpTree(place.root, LetterKey(place, 'Q')));
  EXPECT_FALSE(KeyExists(other.root, LetterKey(other, 'Q')));
}

const MarkerCase kMarkerCases[] = {
    {"REG_DWORD 1", true, REG_DWORD, {1, 0, 0, 0}, true},
    {"REG_DWORD 0x80000000", true, REG_DWORD, {0, 0, 0, 0x80}, true},
    {"one byte 1", true, REG_BINARY, {1}, true},
    {"REG_SZ \"1\" (read as bytes)", true, REG_SZ, {'1', 0}, true},
    {"missing", false, REG_DWORD, {}, false},
    {"REG_DWORD 0", true, REG_DWORD, {0, 0, 0, 0}, false},
    {"empty", true, REG_BINARY, {}, false},
    {"eight bytes (does not fit)", true, REG_BINARY, {1, 0, 0, 0, 1, 0, 0, 0}, false},
    {"eight bytes, first four zero", true, REG_BINARY, {0, 0, 0, 0, 1, 0, 0, 0}, false},
};

std::string CaseName(const char *what) {
  std::string n;
  for (const char *c = what; *c; c++) n += isalnum((unsigned char)*c) ? *c : '_';
  return n;
}

INSTANTIATE_TEST_SUITE_P(BothPlaces, MarkerRuleTest,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::ValuesIn(kMarkerCases)),
                         [](const ::testing::TestParamInfo<std::tuple<int, MarkerCase>> &info) {
                           return std::string(std::get<0>(info.param) ? "PerUser_" : "MachineWide_") +
                                  CaseName(std::get<1>(info.param).what);
                         });

TEST_F(DriveIconsTest, ClearDriveIconsDeletesAMarkedKeyWholeInBothPlaces) {
  for (const Place &p : kPlaces) {
    MakeMarked(p, 'V');
    MakeMarked(p, 'W');
  }
  const std::string wBefore[2] = {DumpTree(kPlaces[0].root, LetterKey(kPlaces[0], 'W')),
                                  DumpTree(kPlaces[1].root, LetterKey(kPlaces[1], 'W'))};
  ClearDriveIcons(Index('V'));
  for (int i = 0; i < 2; i++) {
    const Place &p = kPlaces[i];
    SCOPED_TRACE(p.name);
    EXPECT_FALSE(KeyExists(p.root, LetterKey(p, 'V')));
    EXPECT_EQ(wBefore[i], DumpTree(p.root, LetterKey(p, 'W')));
    EXPECT_TRUE(KeyExists(p.root, p.parent)) << "the parent keys are never deleted";
  }
}

TEST_F(DriveIconsTest, ApplyAllSetsTheVirtualDrivesClearsTheRestAndNeverTouchesAOrB) {
  SetVirtualDrives("VW");
  for (const Place &p : kPlaces) {
    MakeMarked(p, 'A');
    MakeMarked(p, 'B');
    MakeMarked(p, 'E');  // an earlier virtual drive that is gone
    MakeForeign(p, 'F');
  }
  std::vector<std::string> kept[2];
  for (int i = 0; i < 2; i++)
    for (char letter : {'A', 'B', 'F'}) kept[i].push_back(DumpTree(kPlaces[i].root, LetterKey(kPlaces[i], letter)));

  ApplyDriveIconsAll();
  for (int i = 0; i < 2; i++) {
    const Place &p = kPlaces[i];
    SCOPED_TRACE(p.name);
    EXPECT_TRUE(HasEntries(p, 'V', kIconPath));
    EXPECT_TRUE(HasEntries(p, 'W', kIconPath));
    EXPECT_EQ(std::vector<std::string>({"A", "B", "F", "V", "W"}), Subkeys(p.root, p.parent));
    int k = 0;
    for (char letter : {'A', 'B', 'F'}) EXPECT_EQ(kept[i][k++], DumpTree(p.root, LetterKey(p, letter))) << letter;
  }
  // C: to Z: asked once each, and both handles given back.
  EXPECT_EQ(24u, VcdCalls("OpenVODDLetter"));
  EXPECT_EQ(2u, VcdCalls("CloseVODD"));
}

TEST_F(DriveIconsTest, ClearAllRemovesEveryMarkedLetterFromAToZ) {
  for (const Place &p : kPlaces) {
    for (char letter : {'A', 'B', 'C', 'M', 'Z'}) MakeMarked(p, letter);
    MakeForeign(p, 'D');
  }
  const std::string foreign[2] = {DumpTree(kPlaces[0].root, LetterKey(kPlaces[0], 'D')),
                                  DumpTree(kPlaces[1].root, LetterKey(kPlaces[1], 'D'))};
  ClearDriveIconsAll();
  for (int i = 0; i < 2; i++) {
    SCOPED_TRACE(kPlaces[i].name);
    EXPECT_EQ(std::vector<std::string>{"D"}, Subkeys(kPlaces[i].root, kPlaces[i].parent));
    EXPECT_EQ(foreign[i], DumpTree(kPlaces[i].root, LetterKey(kPlaces[i], 'D')));
  }
}

// The option as start-up reads it.
struct OptionCase {
  const char *what;
  bool key;
  bool value;
  DWORD type;
  Bytes data;
  DWORD expected;
};

class ReadOptionTest : public DriveIconsTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(ReadOptionTest, ReadsVirtualSheep) {
  const OptionCase &c = GetParam();
  DeleteTree(HKEY_LOCAL_MACHINE, kIconOption);
  if (c.key) {
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, kIconOption));
  }
  if (c.value) {
    ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKEY_LOCAL_MACHINE, kIconOption, "VirtualSheep", c.type, c.data));
  }
  SheepIconsOn = 0xdeadbeef;
  ReadSheepIconsOption();
  EXPECT_EQ(c.expected, SheepIconsOn);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadOptionTest,
    ::testing::Values(OptionCase{"no key", false, false, 0, {}, 1},
                      OptionCase{"no value", true, false, 0, {}, 1},
                      OptionCase{"zero", true, true, REG_DWORD, {0, 0, 0, 0}, 0},
                      OptionCase{"one", true, true, REG_DWORD, {1, 0, 0, 0}, 1},
                      OptionCase{"seven", true, true, REG_DWORD, {7, 0, 0, 0}, 7},
                      // Shorter data replaces only the low bytes of the 1 it starts from.
                      OptionCase{"one byte zero", true, true, REG_BINARY, {0}, 0},
                      OptionCase{"one byte 2", true, true, REG_BINARY, {2}, 2},
                      OptionCase{"two bytes zero", true, true, REG_BINARY, {0, 0}, 0},
                      OptionCase{"empty", true, true, REG_BINARY, {}, 1},
                      // Longer data does not fit four bytes: the option stays on.
                      OptionCase{"eight bytes zero", true, true, REG_BINARY, {0, 0, 0, 0, 0, 0, 0, 0}, 1},
                      OptionCase{"five bytes", true, true, REG_BINARY, {0, 0, 0, 0, 9}, 1}),
    [](const ::testing::TestParamInfo<OptionCase> &info) { return CaseName(info.param.what); });

TEST_F(DriveIconsTest, WithoutShellSupportTheOptionIsOffAndNeverStored) {
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKEY_LOCAL_MACHINE, kIconOption, "VirtualSheep", 1));
  ShellIconSupport = FALSE;
  ReadSheepIconsOption();
  EXPECT_EQ(0u, SheepIconsOn);

  DeleteTree(HKEY_LOCAL_MACHINE, kIconOption);
  for (const Place &p : kPlaces) MakeMarked(p, 'V');
  const std::string before[2] = {DumpTree(kPlaces[0].root, kPlaces[0].parent),
                                 DumpTree(kPlaces[1].root, kPlaces[1].parent)};
  StoreSheepIconsOption();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kIconOption));
  for (int i = 0; i < 2; i++) EXPECT_EQ(before[i], DumpTree(kPlaces[i].root, kPlaces[i].parent));
}

TEST_F(DriveIconsTest, StoringTheOptionWritesADwordAndAppliesOrClearsAllLetters) {
  SetVirtualDrives("VW");
  DeleteTree(HKEY_LOCAL_MACHINE, kIconOption);

  SheepIconsOn = 1;
  StoreSheepIconsOption();
  EXPECT_TRUE(HasValue(HKEY_LOCAL_MACHINE, kIconOption, "VirtualSheep", REG_DWORD, Dword(1)));
  for (const Place &p : kPlaces) {
    SCOPED_TRACE(p.name);
    EXPECT_TRUE(HasEntries(p, 'V', kIconPath));
    EXPECT_TRUE(HasEntries(p, 'W', kIconPath));
    MakeMarked(p, 'A');
    MakeForeign(p, 'D');
  }
  const std::string foreign[2] = {DumpTree(kPlaces[0].root, LetterKey(kPlaces[0], 'D')),
                                  DumpTree(kPlaces[1].root, LetterKey(kPlaces[1], 'D'))};

  SheepIconsOn = 0;
  StoreSheepIconsOption();
  EXPECT_TRUE(HasValue(HKEY_LOCAL_MACHINE, kIconOption, "VirtualSheep", REG_DWORD, Dword(0)));
  for (int i = 0; i < 2; i++) {
    SCOPED_TRACE(kPlaces[i].name);
    EXPECT_EQ(std::vector<std::string>{"D"}, Subkeys(kPlaces[i].root, kPlaces[i].parent));
    EXPECT_EQ(foreign[i], DumpTree(kPlaces[i].root, LetterKey(kPlaces[i], 'D')));
  }

  // What was stored is what the next start reads.
  ReadSheepIconsOption();
  EXPECT_EQ(0u, SheepIconsOn);
}

// DeleteKeyTree through each kind of key it is given: a root and a path, or an open key and
// a name below it.
class DeleteKeyTreeTest : public DriveIconsTest {
 protected:
  // A tree of eight keys with values at several levels below `path`.
  static void MakeTree(HKEY root, const std::string &path) {
    for (const char *sub : {"", "\\a", "\\b\\c\\d", "\\b\\e", "\\f\\g"})
      ASSERT_EQ(ERROR_SUCCESS, SetString(root, path + sub, "v", sub));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(root, path + "\\b\\c", "n", 5));
  }
  static DWORD Deletes() { return CdioCalls("QuinCDIO_RegDeleteKey"); }
};

TEST_F(DeleteKeyTreeTest, DeletesAWholeTreeChildrenFirstAndReturnsZero) {
  ScratchKey scratch;
  struct Case {
    const char *what;
    HKEY root;
    std::string parent;
  } cases[] = {
      {"HKLM and a path", HKEY_LOCAL_MACHINE, scratch.path()},
      {"HKCU and a path", HKEY_CURRENT_USER, std::string(kUserDriveIcons)},
  };
  for (const Case &c : cases) {
    for (bool openParent : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (openParent ? ", parent opened" : ""));
      const std::string tree = c.parent + "\\Tree";
      MakeTree(c.root, tree);
      ASSERT_EQ(ERROR_SUCCESS, SetString(c.root, c.parent + "\\Sibling", "v", "stays"));
      const std::string sibling = DumpTree(c.root, c.parent + "\\Sibling");
      const DWORD deletesBefore = Deletes();
      LONG result;
      if (openParent) {
        HKEY parent;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(c.root, c.parent.c_str(), 0, KEY_ALL_ACCESS, &parent));
        result = DeleteKeyTree(parent, "Tree");
        RegCloseKey(parent);
      } else {
        result = DeleteKeyTree(c.root, tree.c_str());
      }
      EXPECT_EQ(ERROR_SUCCESS, result);
      EXPECT_FALSE(KeyExists(c.root, tree));
      // One deletion per key: the registry takes only keys without subkeys, so each went on
      // its own, after its children.
      EXPECT_EQ(8u, Deletes() - deletesBefore);
      EXPECT_EQ(sibling, DumpTree(c.root, c.parent + "\\Sibling"));
      EXPECT_TRUE(KeyExists(c.root, c.parent));
    }
  }
}

TEST_F(DeleteKeyTreeTest, AMissingKeyGivesItsErrorAndAnEmptyPathIsRefused) {
  ScratchKey scratch;
  MakeTree(HKEY_LOCAL_MACHINE, scratch.path() + "\\Tree");
  const std::string before = DumpTree(HKEY_LOCAL_MACHINE, scratch.path());
  const DWORD deletesBefore = Deletes();

  EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteKeyTree(HKEY_LOCAL_MACHINE, (scratch.path() + "\\Missing").c_str()));
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, (scratch.path() + "\\Tree").c_str(), 0,
                                         KEY_ALL_ACCESS, &key));
  // An empty path would name the open key itself, and for a root key everything below it.
  EXPECT_EQ(ERROR_INVALID_PARAMETER, DeleteKeyTree(key, ""));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, DeleteKeyTree(key, nullptr));
  RegCloseKey(key);
  EXPECT_EQ(ERROR_INVALID_PARAMETER, DeleteKeyTree(HKEY_CURRENT_USER, ""));

  EXPECT_EQ(deletesBefore, Deletes());
  EXPECT_EQ(before, DumpTree(HKEY_LOCAL_MACHINE, scratch.path()));
}

// The window's creation sets or clears the entries as the option and the drives say.
TEST_F(DriveIconsTest, WindowCreationWritesOrClearsTheEntries) {
  struct Case {
    const char *what;
    DWORD installed;
    DWORD option;
    bool written;
  } cases[] = {
      {"installed, option on", 1, 1, true},
      {"installed, option off", 1, 0, false},
      {"not installed, option on", 0, 1, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    SetVirtualDrives("VW");
    SetVcd("Installed", c.installed);
    SheepIconsOn = c.option;
    for (const Place &p : kPlaces) {
      MakeMarked(p, 'E');  // left over from an earlier run
      MakeForeign(p, 'F');
    }
    ASSERT_NE(nullptr, CreateTray());
    for (const Place &p : kPlaces) {
      SCOPED_TRACE(p.name);
      if (c.written) {
        EXPECT_TRUE(HasEntries(p, 'V', kIconPath));
        EXPECT_TRUE(HasEntries(p, 'W', kIconPath));
        EXPECT_EQ(std::vector<std::string>({"F", "V", "W"}), Subkeys(p.root, p.parent));
      } else {
        EXPECT_EQ(std::vector<std::string>{"F"}, Subkeys(p.root, p.parent));
      }
    }
    DestroyTray();
    for (const Place &p : kPlaces) ASSERT_TRUE(DeleteTree(p.root, p.parent));
  }
}

// The real tray names the icon file beside itself, and the file is there.
TEST_F(DriveIconsTest, TheRealTrayNamesTheIconThatShipsBesideIt) {
  SetVirtualDrives("V");
  RunningTray real;
  ASSERT_TRUE(real.up());
  EXPECT_EQ(0u, real.Close());

  std::string exe = DistPath("OrvandTray.exe");
  char full[MAX_PATH];
  ASSERT_NE(0u, GetFullPathNameA(exe.c_str(), sizeof full, full, nullptr));
  std::string icon = full;
  icon = icon.substr(0, icon.rfind('\\') + 1) + "VirtualFarodrive.ico";
  for (const Place &p : kPlaces) {
    SCOPED_TRACE(p.name);
    RawValue v = ReadRaw(p.root, LetterKey(p, 'V') + "\\DefaultIcon", "");
    ASSERT_TRUE(v.exists);
    EXPECT_EQ(0, lstrcmpiA(icon.c_str(), (const char *)v.data.data()));
  }
  HICON loaded = (HICON)LoadImageA(nullptr, icon.c_str(), IMAGE_ICON, 32, 32, LR_LOADFROMFILE);
  EXPECT_NE(nullptr, loaded) << icon;
  if (loaded) DestroyIcon(loaded);
}

}  // namespace
