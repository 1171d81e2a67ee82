// The repair of the virtual drives' device entries in-process: the NT walk over DOS device
// names handed in by the test, the Windows 9x walk over real registry fixtures, and the real
// tray once end to end.
#include "tray_fixture.h"
#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace testsupport;
using namespace traytest;

namespace {

const HKEY HKLM = HKEY_LOCAL_MACHINE;

// The exact bytes of a string literal, embedded NULs included, its own NUL left out.
#define BY(s) B(s, sizeof(s) - 1)

Bytes Text(const std::string &s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); }
Bytes Unterminated(const std::string &s) { return Bytes(s.begin(), s.end()); }

RawValue Value(DWORD type, const Bytes &data) {
  RawValue v;
  v.exists = true;
  v.type = type;
  v.data = data;
  return v;
}
const RawValue kMissing;

std::string Show(const RawValue &v) {
  if (!v.exists) return "(no value)";
  std::string s = "type " + std::to_string(v.type) + " [";
  for (unsigned char c : v.data) {
    char hex[4];
    snprintf(hex, sizeof hex, "%02x", c);
    s += hex;
  }
  return s + "]";
}

void Put(HKEY root, const std::string &path, const std::string &name, const RawValue &v) {
  ASSERT_TRUE(CreateKey(root, path)) << path;
  if (v.exists) {
    ASSERT_EQ(ERROR_SUCCESS, SetRaw(root, path, name, v.type, v.data)) << path << " " << name;
  }
}


// ---- NT family: DOS device names ------------------------------------------------------------

// One DOS device as the test's QueryDosDeviceA knows it.
struct DosDevice {
  std::string name;
  Bytes targets;          // stored for the name: the targets, each with its NUL, and a NUL
  DWORD reported = 0;     // returned instead of the count stored, when not 0
  bool fails = false;     // the query for the name fails
  bool afterEnd = false;  // stored behind the list's closing NUL
};

std::vector<DosDevice> gDevices;
std::vector<DWORD> gListSizes;   // the buffer sizes given with no name
std::vector<DWORD> gTargetSizes; // the buffer sizes given with a name

Bytes NameList() {
  Bytes list;
  for (bool after : {false, true}) {
    for (const DosDevice &d : gDevices) {
      if (d.afterEnd != after) continue;
      list.insert(list.end(), d.name.begin(), d.name.end());
      list.push_back(0);
    }
    list.push_back(0);
  }
  // Without names behind the end the list ends at its first closing NUL.
  bool any = false;
  for (const DosDevice &d : gDevices) any = any || d.afterEnd;
  if (!any) list.pop_back();
  return list;
}

// Stores and counts as QueryDosDeviceA does: nothing and 0 when the data does not fit.
DWORD WINAPI FakeQueryDosDevice(LPCSTR name, LPSTR buffer, DWORD maxChars) {
  if (!name) {
    gListSizes.push_back(maxChars);
    Bytes list = NameList();
    if (list.size() > maxChars) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    memcpy(buffer, list.data(), list.size());
    return (DWORD)list.size();
  }
  gTargetSizes.push_back(maxChars);
  for (const DosDevice &d : gDevices) {
    if (d.name != name) continue;
    if (d.fails) break;
    if (d.targets.size() > maxChars) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    memcpy(buffer, d.targets.data(), d.targets.size());
    return d.reported ? d.reported : (DWORD)d.targets.size();
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return 0;
}

// One target and the list's closing NUL.
Bytes Target(const std::string &first) {
  Bytes b = Text(first);
  b.push_back(0);
  return b;
}

const char kGuid[] = "#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
const char kQuinTarget[] = "\\Device\\Scsi\\QuinVCD1";
const Bytes kRedbookOnly = BY("redbook\0\0");

std::string DeviceKey(const std::string &below) { return std::string(kNtScsiEnum) + "\\" + below; }
RawValue Upper(const std::string &below) { return ReadRaw(HKLM, DeviceKey(below), "UpperFilters"); }

class NtRepairTest : public TrayTest {
 protected:
  void SetUp() override {
    TrayTest::SetUp();
    ASSERT_TRUE(DeleteTree(HKLM, kNtScsiEnum));
    gDevices.clear();
    gListSizes.clear();
    gTargetSizes.clear();
  }
  void TearDown() override {
    gDevices.clear();
    TrayTest::TearDown();
  }
};

struct NtCase {
  const char *what;
  DosDevice device;
  std::string key;  // the device key below Enum\SCSI the name leads to
  bool repaired;
};

DosDevice Dev(const std::string &name, const Bytes &targets, DWORD reported = 0, bool fails = false) {
  DosDevice d;
  d.name = name;
  d.targets = targets;
  d.reported = reported;
  d.fails = fails;
  return d;
}

std::vector<NtCase> NtCases() {
  const std::string g = kGuid;
  const Bytes quin = Target(kQuinTarget);
  return {
      {"a virtual drive", Dev("SCSI#CdRom&Ven_Quin&Prod_A#1&2&3&0" + g, quin), "CdRom&Ven_Quin&Prod_A\\1&2&3&0", true},
      {"name in small letters", Dev("scsi#cdrom&ven_low#1&2&3&1" + g, quin), "cdrom&ven_low\\1&2&3&1", true},
      {"target in small letters", Dev("SCSI#CdRom&Ven_Tgt#1&2&3&2" + g, Target("\\device\\scsi\\quinvcd3")),
       "CdRom&Ven_Tgt\\1&2&3&2", true},
      {"first target of 20 characters (22 stored)", Dev("SCSI#CdRom&Ven_T20#1" + g, Target("\\Device\\Scsi\\QuinVCD")),
       "CdRom&Ven_T20\\1", true},
      {"21 characters stored", Dev("SCSI#CdRom&Ven_R21#1" + g, quin, 21), "CdRom&Ven_R21\\1", true},
      {"20 characters stored", Dev("SCSI#CdRom&Ven_R20#1" + g, quin, 20), "CdRom&Ven_R20\\1", false},
      {"short target", Dev("SCSI#CdRom&Ven_Short#1" + g, Target("\\Device\\CdRom0")), "CdRom&Ven_Short\\1", false},
      {"another driver", Dev("SCSI#CdRom&Ven_Other#1" + g, Target("\\Device\\Scsi\\QuinVCE1")), "CdRom&Ven_Other\\1",
       false},
      {"driver one place early", Dev("SCSI#CdRom&Ven_Early#1" + g, Target("\\Device\\Scs\\QuinVCD1x")),
       "CdRom&Ven_Early\\1", false},
      {"second target names the driver", Dev("SCSI#CdRom&Ven_Second#1" + g, BY("\\Device\\CdRom9\0\\Device\\Scsi\\QuinVCD1\0\0")),
       "CdRom&Ven_Second\\1", false},
      {"target of 258 characters", Dev("SCSI#CdRom&Ven_T258#1" + g, Target(kQuinTarget + std::string(237, 'x'))),
       "CdRom&Ven_T258\\1", true},
      {"target of 259 characters (does not fit)",
       Dev("SCSI#CdRom&Ven_T259#1" + g, Target(kQuinTarget + std::string(238, 'x'))), "CdRom&Ven_T259\\1", false},
      {"query for the name fails", Dev("SCSI#CdRom&Ven_Fails#1" + g, quin, 0, true), "CdRom&Ven_Fails\\1", false},
      {"a disk", Dev("SCSI#Disk&Ven_Quin#1&2&3&9" + g, quin), "Disk&Ven_Quin\\1&2&3&9", false},
      {"prefix cut short", Dev("SCSI#CdRo", quin), "CdRo", false},
      {"prefix misspelt", Dev("SCSI#CdRoX&Ven_Quin#1" + g, quin), "CdRoX&Ven_Quin\\1", false},
      {"one '#'", Dev("SCSI#CdRomQuinOne", quin), "CdRomQuinOne", true},
      {"two '#'", Dev("SCSI#CdRom&Ven_Two#inst", quin), "CdRom&Ven_Two\\inst", true},
      {"four '#'", Dev("SCSI#CdRom&Ven_Four#1&2" + g + "#tail", quin), "CdRom&Ven_Four\\1&2", true},
      // "SYSTEM\CurrentControlSet\Enum\" is 30 characters; 259 fit the key path buffer.
      {"key path of 259 characters", Dev("SCSI#CdRom" + std::string(217, 'L') + "#1" + g, quin),
       "CdRom" + std::string(217, 'L') + "\\1", true},
      {"key path of 260 characters (skipped)", Dev("SCSI#CdRom" + std::string(218, 'M') + "#1" + g, quin),
       "CdRom" + std::string(218, 'M') + "\\1", false},
  };
}

TEST_F(NtRepairTest, EachNameAndTargetIsTestedAsTheVirtualDrivesAreKnown) {
  std::vector<NtCase> cases = NtCases();
  NtCase behind{"behind the list's end", Dev("SCSI#CdRom&Ven_Behind#1" + std::string(kGuid), Target(kQuinTarget)),
                "CdRom&Ven_Behind\\1", false};
  behind.device.afterEnd = true;
  cases.push_back(behind);
  for (const NtCase &c : cases) {
    ASSERT_TRUE(CreateKey(HKLM, DeviceKey(c.key))) << c.what;
    gDevices.push_back(c.device);
  }

  RepairNtDeviceList(FakeQueryDosDevice);

  for (const NtCase &c : cases) {
    SCOPED_TRACE(c.what);
    RawValue upper = Upper(c.key);
    if (c.repaired) {
      EXPECT_TRUE(upper.exists && upper.type == REG_MULTI_SZ && upper.data == kRedbookOnly) << Show(upper);
    } else {
      EXPECT_FALSE(upper.exists) << Show(upper);
    }
  }
  // The list in its 65,535-byte buffer; each name's targets in 260 characters.
  EXPECT_EQ(std::vector<DWORD>{65535}, gListSizes);
  for (DWORD size : gTargetSizes) EXPECT_EQ(260u, size);
}

TEST_F(NtRepairTest, BuildsTheEnumKeyPathUpToTheThirdHash) {
  const std::string e = "SYSTEM\\CurrentControlSet\\Enum\\";
  struct Case {
    std::string name;
    bool fits;
    std::string path;
  } cases[] = {
      {"SCSI", true, e + "SCSI"},
      {"", true, e},
      {"SCSI#CdRom", true, e + "SCSI\\CdRom"},
      {"SCSI#CdRom&Ven_A&Prod_B#1&2&3&4", true, e + "SCSI\\CdRom&Ven_A&Prod_B\\1&2&3&4"},
      {"SCSI#CdRom&Ven_A&Prod_B#1&2&3&4#{x}", true, e + "SCSI\\CdRom&Ven_A&Prod_B\\1&2&3&4"},
      {"SCSI#CdRom&Ven_A&Prod_B#1&2&3&4#{x}#y#z", true, e + "SCSI\\CdRom&Ven_A&Prod_B\\1&2&3&4"},
      {"###", true, e + "\\\\"},
      {"SCSI#" + std::string(224, 'a'), true, e + "SCSI\\" + std::string(224, 'a')},
      {"SCSI#" + std::string(225, 'a'), false, ""},
      // Only what is copied counts: a long tail behind the third '#' is left out anyway.
      {"SCSI#CdRom#1#" + std::string(400, 't'), true, e + "SCSI\\CdRom\\1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name.substr(0, 40) + " (" + std::to_string(c.name.size()) + " characters)");
    char path[400];
    memset(path, 0xbd, sizeof path);
    EXPECT_EQ(c.fits ? TRUE : FALSE, BuildDeviceEnumKeyPath(c.name.c_str(), path));
    EXPECT_EQ(c.path, std::string(path));
    for (size_t i = 260; i < sizeof path; i++) ASSERT_EQ(0xbd, (unsigned char)path[i]) << "written at " << i;
  }
}

TEST_F(NtRepairTest, RedbookEndsTheUpperFiltersAndASecondRunChangesNothing) {
  const RawValue lower = Value(REG_MULTI_SZ, BY("low\0\0"));
  struct Case {
    const char *what;
    RawValue upper;
    Bytes after;
  } cases[] = {
      {"listed inside, in capitals", Value(REG_MULTI_SZ, BY("a\0REDBOOK\0b\0\0")), BY("a\0b\0redbook\0\0")},
      {"already last", Value(REG_MULTI_SZ, BY("a\0redbook\0\0")), BY("a\0redbook\0\0")},
      {"no UpperFilters", kMissing, kRedbookOnly},
      {"junk behind the end", Value(REG_MULTI_SZ, BY("x\0\0junk\0\0")), BY("x\0redbook\0\0")},
      {"a REG_SZ", Value(REG_SZ, BY("flt\0")), BY("flt\0redbook\0\0")},
  };
  int n = 0;
  for (const Case &c : cases) {
    std::string key = "CdRom&Ven_Run" + std::to_string(n) + "\\1";
    gDevices.push_back(Dev("SCSI#CdRom&Ven_Run" + std::to_string(n++) + "#1" + kGuid, Target(kQuinTarget)));
    Put(HKLM, DeviceKey(key), "UpperFilters", c.upper);
    Put(HKLM, DeviceKey(key), "LowerFilters", lower);
  }
  for (int run = 1; run <= 2; run++) {
    RepairNtDeviceList(FakeQueryDosDevice);
    n = 0;
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", run " + std::to_string(run));
      std::string key = "CdRom&Ven_Run" + std::to_string(n++) + "\\1";
      RawValue upper = Upper(key);
      EXPECT_TRUE(upper.exists && upper.type == REG_MULTI_SZ && upper.data == c.after) << Show(upper);
      RawValue low = ReadRaw(HKLM, DeviceKey(key), "LowerFilters");
      EXPECT_TRUE(low.exists && low.type == lower.type && low.data == lower.data) << Show(low);
    }
  }
}

TEST_F(NtRepairTest, AListThatDoesNotFitItsBufferRepairsNothing) {
  for (size_t listSize : {65535u, 65536u}) {
    SCOPED_TRACE(listSize);
    gDevices.clear();
    ASSERT_TRUE(DeleteTree(HKLM, kNtScsiEnum));
    gDevices.push_back(Dev("SCSI#CdRom&Ven_First#1" + std::string(kGuid), Target(kQuinTarget)));
    ASSERT_TRUE(CreateKey(HKLM, DeviceKey("CdRom&Ven_First\\1")));
    // Other devices up to the size wanted: each name with its NUL, and the closing NUL.
    size_t size = gDevices[0].name.size() + 1 + 1;
    for (int i = 0; size < listSize; i++) {
      // Never leave less than one character for the last name.
      size_t left = listSize - size - 1;
      size_t length = left <= 40 ? left : left <= 81 ? 20 : 40;
      char name[64];
      snprintf(name, sizeof name, "Volume%06d", i);
      std::string n = std::string(name) + std::string(length > 12 ? length - 12 : 0, 'v');
      n.resize(std::max<size_t>(1, length));
      gDevices.push_back(Dev(n, Target("\\Device\\HarddiskVolume1")));
      size += n.size() + 1;
    }
    ASSERT_EQ(listSize, NameList().size());
    RepairNtDeviceList(FakeQueryDosDevice);
    RawValue upper = Upper("CdRom&Ven_First\\1");
    if (listSize == 65535u)
      EXPECT_TRUE(upper.exists && upper.data == kRedbookOnly) << Show(upper);
    else
      EXPECT_FALSE(upper.exists) << Show(upper);
  }
}

// ---- Windows 9x: the Enum tree and the class keys ---------------------------------------------

const char kScsi9x[] = "Enum\\SCSI";

// "Enum\" and the instance name with '&' as '\', less its last two characters.
std::string RootKeyOf(const std::string &instance) {
  std::string path = "Enum\\" + instance;
  for (char &c : path)
    if (c == '&') c = '\\';
  return path.substr(0, path.size() - 2);
}

std::string ClassKey(const std::string &driver) { return std::string(kWin9xClasses) + "\\" + driver; }
RawValue Play(const std::string &driver) { return ReadRaw(HKLM, ClassKey(driver), "DigitalAudioPlay"); }

struct Win9xDevice {
  std::string device;
  std::string instance;
  std::string driver;                                   // the class key the device names
  RawValue deviceType = Value(REG_BINARY, {5});
  RawValue driverValue;                                 // default: the driver text with its NUL
  RawValue description = Value(REG_SZ, Text("Virtual Farodrive"));
  bool rootKey = true;
  RawValue play = Value(REG_BINARY, {0x02});
};

void Make(const Win9xDevice &d) {
  std::string instance = std::string(kScsi9x) + "\\" + d.device + "\\" + d.instance;
  Put(HKLM, instance, "DeviceType", d.deviceType);
  Put(HKLM, instance, "Driver", d.driverValue.exists ? d.driverValue : Value(REG_SZ, Text(d.driver)));
  if (d.rootKey) Put(HKLM, RootKeyOf(d.instance), "DeviceDesc", d.description);
  Put(HKLM, ClassKey(d.driver), "DigitalAudioPlay", d.play);
}

bool Same(const RawValue &a, const RawValue &b) {
  return a.exists == b.exists && (!a.exists || (a.type == b.type && a.data == b.data));
}

class Win9xRepairTest : public TrayTest {
 protected:
  void SetUp() override {
    TrayTest::SetUp();
    ASSERT_TRUE(DeleteTree(HKLM, kWin9xEnum));
    ASSERT_TRUE(DeleteTree(HKLM, kWin9xClasses));
    OsVersionCode = 2;
  }
  // A virtual drive of its own device name, instance and class key, numbered n.
  static Win9xDevice Drive(int n) {
    char number[16];
    snprintf(number, sizeof number, "%04d", n);
    Win9xDevice d;
    d.device = std::string("QUINVCD_CDROM") + number;
    d.instance = std::string("ROOT&QUINVCD&") + number + "&0";
    d.driver = std::string("CDROM\\") + number;
    return d;
  }
};

TEST_F(Win9xRepairTest, DigitalAudioPlayGetsBitZeroOnlyWhenItIsOneByteWithoutIt) {
  struct Case {
    const char *what;
    RawValue before;
    RawValue after;
  } cases[] = {
      {"0x02", Value(REG_BINARY, {0x02}), Value(REG_BINARY, {0x03})},
      {"0x00", Value(REG_BINARY, {0x00}), Value(REG_BINARY, {0x01})},
      {"0xfe", Value(REG_BINARY, {0xfe}), Value(REG_BINARY, {0xff})},
      {"0x02 of another type", Value(REG_NONE, {0x02}), Value(REG_BINARY, {0x03})},
      // Not written again: a write would make the type REG_BINARY.
      {"0x01 already", Value(REG_NONE, {0x01}), Value(REG_NONE, {0x01})},
      {"0x83 already", Value(REG_NONE, {0x83}), Value(REG_NONE, {0x83})},
      {"missing", kMissing, kMissing},
      {"two bytes", Value(REG_BINARY, {0x02, 0x00}), Value(REG_BINARY, {0x02, 0x00})},
      {"a REG_DWORD", Value(REG_DWORD, {0x02, 0, 0, 0}), Value(REG_DWORD, {0x02, 0, 0, 0})},
  };
  int n = 0;
  for (const Case &c : cases) {
    Win9xDevice d = Drive(n++);
    d.play = c.before;
    Make(d);
  }
  RepairVirtualDriveDevices();
  n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    RawValue now = Play(Drive(n++).driver);
    EXPECT_TRUE(Same(c.after, now)) << Show(now);
  }
}

TEST_F(Win9xRepairTest, OnlyADeviceTypeOfTheSingleByteFiveIsRepaired) {
  struct Case {
    const char *what;
    RawValue deviceType;
    bool repaired;
  } cases[] = {
      {"byte 5", Value(REG_BINARY, {5}), true},
      {"byte 5 of another type", Value(REG_NONE, {5}), true},
      {"byte 4", Value(REG_BINARY, {4}), false},
      {"5 and a zero", Value(REG_BINARY, {5, 0}), false},
      {"REG_DWORD 5", Value(REG_DWORD, {5, 0, 0, 0}), false},
      {"empty", Value(REG_BINARY, {}), false},
      {"missing", kMissing, false},
  };
  int n = 0;
  for (const Case &c : cases) {
    Win9xDevice d = Drive(n++);
    d.deviceType = c.deviceType;
    Make(d);
  }
  RepairVirtualDriveDevices();
  n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    RawValue now = Play(Drive(n++).driver);
    EXPECT_TRUE(Same(Value(REG_BINARY, {uint8_t(c.repaired ? 0x03 : 0x02)}), now)) << Show(now);
  }
}

TEST_F(Win9xRepairTest, TheFirstInstanceThatIsNoVirtualDriveEndsTheLookAtItsDeviceName) {
  struct Item {
    const char *what;
    Win9xDevice d;
    bool repaired;
  };
  std::vector<Item> items;
  auto add = [&](const char *what, const std::string &device, const std::string &instance, bool repaired) {
    Win9xDevice d = Drive((int)items.size());
    d.device = device;
    d.instance = instance;
    items.push_back({what, d, repaired});
    return &items.back().d;
  };
  add("first of two", "DEV_A", "ROOT&QUINVCD&0100&0", true);
  add("second of two", "DEV_A", "ROOT&QUINVCD&0101&0", true);
  add("after a non-ROOT instance", "DEV_B", "ROOT&QUINVCD&0102&0", false);
  add("after an instance of another description", "DEV_C", "ROOT&QUINVCD&0103&0", false);
  add("root in small letters", "DEV_D", "root&quinvcd&0104&0", true);
  add("without a root key", "DEV_E", "ROOT&QUINVCD&0105&0", false)->rootKey = false;
  add("after one without a root key", "DEV_E", "ROOT&QUINVCD&0106&0", false);
  add("description in small letters", "DEV_F", "ROOT&QUINVCD&0107&0", false)->description =
      Value(REG_SZ, Text("virtual farodrive"));
  add("virtual, before a non-ROOT instance", "DEV_G", "ROOT&QUINVCD&0108&0", true);
  for (const Item &i : items) Make(i.d);
  // Instances that are no virtual drive's, without Driver or DeviceType: a look at them would
  // not change anything anyway, so only the stop shows.
  ASSERT_TRUE(CreateKey(HKLM, std::string(kScsi9x) + "\\DEV_B\\PCI&VEN_1&0"));
  Put(HKLM, std::string(kScsi9x) + "\\DEV_C\\ROOT&CDROM&0000&0", "Driver", Value(REG_SZ, Text("CDROM\\0103")));
  Put(HKLM, "Enum\\ROOT\\CDROM\\0000", "DeviceDesc", Value(REG_SZ, Text("CD-ROM")));
  ASSERT_TRUE(CreateKey(HKLM, std::string(kScsi9x) + "\\DEV_G\\SCSI&X&0"));
  // The registry lists subkeys in this order; the cases above depend on it.
  ASSERT_EQ(std::vector<std::string>({"PCI&VEN_1&0", "ROOT&QUINVCD&0102&0"}), Subkeys(HKLM, std::string(kScsi9x) + "\\DEV_B"));
  ASSERT_EQ(std::vector<std::string>({"ROOT&CDROM&0000&0", "ROOT&QUINVCD&0103&0"}), Subkeys(HKLM, std::string(kScsi9x) + "\\DEV_C"));
  ASSERT_EQ(std::vector<std::string>({"ROOT&QUINVCD&0105&0", "ROOT&QUINVCD&0106&0"}), Subkeys(HKLM, std::string(kScsi9x) + "\\DEV_E"));
  ASSERT_EQ(std::vector<std::string>({"ROOT&QUINVCD&0108&0", "SCSI&X&0"}), Subkeys(HKLM, std::string(kScsi9x) + "\\DEV_G"));

  RepairVirtualDriveDevices();
  for (const Item &i : items) {
    SCOPED_TRACE(i.what);
    RawValue now = Play(i.d.driver);
    EXPECT_TRUE(Same(Value(REG_BINARY, {uint8_t(i.repaired ? 0x03 : 0x02)}), now)) << Show(now);
  }
}

// Text values are read into zeroed 260-byte buffers with room for the NUL: data stored without
// one still ends, data that does not fit skips the device, and a class path that does not fit
// is not formatted at all.
TEST_F(Win9xRepairTest, TextValuesThatDoNotFitSkipTheirDevice) {
  const std::string longDriver = std::string(109, 'A') + "\\" + std::string(109, 'B');  // 219
  const std::string tooLongDriver = std::string(110, 'C') + "\\" + std::string(109, 'D');  // 220
  struct Case {
    const char *what;
    Win9xDevice d;
    bool repaired;
  };
  std::vector<Case> cases;
  auto add = [&](const char *what, bool repaired) {
    cases.push_back({what, Drive(200 + (int)cases.size()), repaired});
    return &cases.back().d;
  };
  {
    Win9xDevice *d = add("Driver stored without its NUL", true);
    d->driverValue = Value(REG_SZ, Unterminated(d->driver));
  }
  {
    Win9xDevice *d = add("Driver of 260 bytes without a NUL", false);
    d->driverValue = Value(REG_SZ, Unterminated(d->driver + std::string(260 - d->driver.size(), 'x')));
  }
  {
    Win9xDevice *d = add("Driver of 300 bytes", false);
    Bytes v = Text(d->driver);
    v.resize(300, 'y');
    d->driverValue = Value(REG_SZ, v);
  }
  // 259 bytes fit beside the NUL kept free; 260 do not, even when a NUL comes early.
  for (size_t size : {259u, 260u}) {
    Win9xDevice *d = add(size == 259u ? "Driver of 259 bytes, NULs behind the text" : "Driver of 260 bytes, NULs behind the text",
                         size == 259u);
    Bytes v = Text(d->driver);
    v.resize(size, 0);
    d->driverValue = Value(REG_SZ, v);
  }
  for (size_t size : {259u, 260u}) {
    Bytes v = Text("Virtual Farodrive");
    v.resize(size, 0);
    add(size == 259u ? "DeviceDesc of 259 bytes, NULs behind the text" : "DeviceDesc of 260 bytes, NULs behind the text",
        size == 259u)->description = Value(REG_SZ, v);
  }
  {
    Win9xDevice *d = add("class path of 259 characters", true);
    d->driver = longDriver;
  }
  {
    Win9xDevice *d = add("class path of 260 characters", false);
    d->driver = tooLongDriver;
  }
  add("DeviceDesc stored without its NUL", true)->description = Value(REG_SZ, Unterminated("Virtual Farodrive"));
  add("DeviceDesc of 260 bytes without a NUL", false)->description =
      Value(REG_SZ, Unterminated("Virtual Farodrive" + std::string(243, ' ')));
  {
    Bytes v = Text("Virtual Farodrive");
    v.resize(300, 0);
    add("DeviceDesc of 300 bytes", false)->description = Value(REG_SZ, v);
  }
  {
    // As long as this test can make it: Wine's ANSI registry calls refuse the full path of a
    // longer one (280 characters failed); this instance key's is 260.
    Win9xDevice *d = add("a long instance name", true);
    d->instance = "ROOT&" + std::string(220, 'X') + "&0000&0";
  }
  add("a plain virtual drive after them", true);
  for (const Case &c : cases) Make(c.d);

  RepairVirtualDriveDevices();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    RawValue now = Play(c.d.driver);
    EXPECT_TRUE(Same(Value(REG_BINARY, {uint8_t(c.repaired ? 0x03 : 0x02)}), now)) << Show(now);
  }
}

// OsVersionCode picks the walk: below 4 the Windows 9x one, 4 none, above 4 the NT one, here
// with the real QueryDosDeviceA, which knows no virtual drive.
TEST_F(Win9xRepairTest, TheOsVersionCodePicksTheWalk) {
  const std::string ntKey = "CdRom&Ven_Quin&Prod_A\\1&2&3&0";
  for (int code : {1, 2, 3, 4, 5, 6}) {
    SCOPED_TRACE(code);
    ASSERT_TRUE(DeleteTree(HKLM, kWin9xEnum));
    ASSERT_TRUE(DeleteTree(HKLM, kNtScsiEnum));
    Make(Drive(1));
    Put(HKLM, DeviceKey(ntKey), "UpperFilters", Value(REG_MULTI_SZ, BY("a\0redbook\0b\0\0")));
    const std::string ntBefore = DumpTree(HKLM, kNtScsiEnum);
    OsVersionCode = code;
    RepairVirtualDriveDevices();
    RawValue now = Play(Drive(1).driver);
    EXPECT_TRUE(Same(Value(REG_BINARY, {uint8_t(code < 4 ? 0x03 : 0x02)}), now)) << Show(now);
    EXPECT_EQ(ntBefore, DumpTree(HKLM, kNtScsiEnum));
  }
}

// The real tray on a Windows 9x code repairs at its window's creation; with code 4 it leaves
// everything alone.
TEST_F(Win9xRepairTest, TheRealTrayRepairsAtStartOnWindows98Only) {
  for (DWORD code : {2u, 4u}) {
    SCOPED_TRACE(code);
    ASSERT_TRUE(DeleteTree(HKLM, kWin9xEnum));
    Make(Drive(7));
    const std::string before = DumpTree(HKLM, kWin9xEnum);
    SetCdio("OsVersion", code);
    SetVcd("Installed", 1);
    {
      RunningTray real;
      ASSERT_TRUE(real.up());
      EXPECT_EQ(0u, real.Close());
    }
    RawValue now = Play(Drive(7).driver);
    EXPECT_TRUE(Same(Value(REG_BINARY, {uint8_t(code == 2 ? 0x03 : 0x02)}), now)) << Show(now);
    EXPECT_EQ(before, DumpTree(HKLM, kWin9xEnum));
  }
}

}  // namespace
