// Tests of QuinCDIO.dll and QuinVCD.dll: emulation settings, call counters, exports.
#include <gtest/gtest.h>
#include <algorithm>
#include <climits>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>
#include "quincdio.h"
#include "quinvcd.h"
#include "testsupport.h"

using namespace testsupport;

namespace {

const char kCdioRoot[] = "SOFTWARE\\Quintessa\\QuinCDIO";
const char kVcdRoot[] = "SOFTWARE\\Quintessa\\QuinVCD";
const std::string kCdioEmu = std::string(kCdioRoot) + "\\Emulation";
const std::string kVcdEmu = std::string(kVcdRoot) + "\\Emulation";
const std::string kCdioCalls = kCdioEmu + "\\Calls";
const std::string kVcdCalls = kVcdEmu + "\\Calls";
const HKEY HKLM = HKEY_LOCAL_MACHINE;

Bytes Dword(DWORD v) { return Bytes((unsigned char *)&v, (unsigned char *)&v + 4); }

// The OsVersionCode worked out independently from GetVersionExA.
int ExpectedOsVersion() {
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof(v);
  if (!GetVersionExA(&v)) return 0;
  if (v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
    if (v.dwMajorVersion == 4 && v.dwMinorVersion == 0) return 1;
    if (v.dwMajorVersion == 4 && v.dwMinorVersion == 10) return 2;
    return 3;
  }
  if (v.dwMajorVersion <= 4) return 4;
  if (v.dwMajorVersion == 5 && v.dwMinorVersion == 0) return 5;
  return 6;
}

// The counter of `function` under `callsKey`, or -1 when it is missing or not a DWORD.
long long Calls(const std::string &callsKey, const std::string &function) {
  RawValue r = ReadRaw(HKLM, callsKey, function);
  if (!r.exists || r.type != REG_DWORD || r.data.size() != 4) return -1;
  return *(DWORD *)r.data.data();
}

// Both libraries' real keys are saved and put back; each test starts without emulation settings.
class DeviceLibs : public ::testing::Test {
 protected:
  DeviceLibs() : cdio_(HKLM, kCdioRoot), vcd_(HKLM, kVcdRoot) {}
  void SetUp() override {
    ASSERT_TRUE(DeleteTree(HKLM, kCdioEmu));
    ASSERT_TRUE(DeleteTree(HKLM, kVcdEmu));
  }
  void SetLetters(const std::string &s) {
    ASSERT_EQ(ERROR_SUCCESS, SetString(HKLM, kVcdEmu, "DriveLetters", s));
  }
  // The letters for which OpenVODDLetter gives a handle, checking CloseVODD on each.
  std::string VirtualLetters() {
    std::string found;
    for (int index = 0; index < 26; ++index) {
      HANDLE h = OpenVODDLetter((BYTE)index, 0);
      if (h) {
        found += (char)('A' + index);
        EXPECT_NE(0, CloseVODD(h)) << "index " << index;
      }
    }
    return found;
  }
  RawValue StoredLetters() { return ReadRaw(HKLM, kVcdEmu, "DriveLetters"); }

 private:
  SavedKey cdio_;
  SavedKey vcd_;
};

// ---------------------------------------------------------------- plain DWORD settings

struct DwordSetting {
  const char *name;
  std::string key;  // the Emulation key
  DWORD fallback;
  std::function<DWORD()> call;
};

std::vector<DwordSetting> DwordSettings() {
  return {
      {"InitResult", kCdioEmu, 0, [] { return (DWORD)QuinCDIO_InitScsi(8); }},
      {"OsVersion", kCdioEmu, (DWORD)ExpectedOsVersion(), [] { return (DWORD)QuinCDIO_GetOSVersion(); }},
      {"TargetsFound", kCdioEmu, 1, [] {
         unsigned char scratch = 0xbd;
         return (DWORD)QuinCDIO_EnumTargets(1, &scratch);
       }},
      {"MaskState", kCdioEmu, 1, [] {
         WORD w = 0xbdbd;
         return MaskRec_SendCommand(MASKREC_GET, &w) ? (DWORD)w : 0xdeadbeef;
       }},
      {"InitResult", kVcdEmu, 1, [] { return (DWORD)VODDInit(1); }},
      {"Installed", kVcdEmu, 1, [] { return (DWORD)VODDIsInstalled(); }},
  };
}

TEST_F(DeviceLibs, DwordSettingsAreReturnedAndMissingOnesGiveTheirDefault) {
  for (const DwordSetting &s : DwordSettings()) {
    SCOPED_TRACE(s.key + "\\" + s.name);
    EXPECT_EQ(s.fallback, s.call()) << "missing value";
    // MaskState hands back a 16-bit word; the others are full 32-bit results.
    bool word = std::string(s.name) == "MaskState";
    for (DWORD v : {0u, 1u, 7u, 0x8001u}) {
      ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, s.key, s.name, v));
      EXPECT_EQ(v, s.call()) << "value " << v;
    }
    ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, s.key, s.name, 0x12345678));
    EXPECT_EQ(word ? 0x5678u : 0x12345678u, s.call());
    ASSERT_EQ(ERROR_SUCCESS, DeleteValue(HKLM, s.key, s.name));
    EXPECT_EQ(s.fallback, s.call()) << "deleted again";
  }
}

struct Malformed {
  const char *label;
  DWORD type;
  Bytes data;
};

// Values that look like 7 but are not a four-byte REG_DWORD.
std::vector<Malformed> MalformedDwords() {
  return {
      {"REG_DWORD of 0 bytes", REG_DWORD, Bytes()},
      {"REG_DWORD of 1 byte", REG_DWORD, B("\x07", 1)},
      {"REG_DWORD of 2 bytes", REG_DWORD, B("\x07\0", 2)},
      {"REG_DWORD of 3 bytes", REG_DWORD, B("\x07\0\0", 3)},
      {"REG_DWORD of 8 bytes", REG_DWORD, B("\x07\0\0\0\0\0\0\0", 8)},
      {"REG_SZ \"7\"", REG_SZ, B("7\0", 2)},
      {"REG_SZ of 4 bytes", REG_SZ, Dword(7)},
      {"REG_BINARY of 4 bytes", REG_BINARY, Dword(7)},
      {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN, Dword(7)},
      {"REG_MULTI_SZ", REG_MULTI_SZ, B("7\0\0", 3)},
  };
}

TEST_F(DeviceLibs, MalformedDwordSettingsGiveTheirDefault) {
  for (const DwordSetting &s : DwordSettings()) {
    for (const Malformed &m : MalformedDwords()) {
      SCOPED_TRACE(s.key + "\\" + s.name + ": " + m.label);
      ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, s.key, s.name, m.type, m.data));
      EXPECT_EQ(s.fallback, s.call());
    }
  }
}

TEST_F(DeviceLibs, OsVersionDefaultFollowsTheRunningWindows) {
  int os = QuinCDIO_GetOSVersion();
  EXPECT_EQ(ExpectedOsVersion(), os);
  EXPECT_GE(os, 1);
  EXPECT_LE(os, 6);
}

// Run by the test below in a child process that Wine presents as another Windows version.
TEST(OsVersionChild, DISABLED_ExitWithOsVersion) { ExitProcess((UINT)QuinCDIO_GetOSVersion()); }

TEST_F(DeviceLibs, OsVersionDefaultForEachWindows) {
  const std::string exe = SelfPath();
  const std::string file = exe.substr(exe.find_last_of('\\') + 1);
  struct Case {
    const char *wine;
    int expected;
  };
  for (const Case &c : std::vector<Case>{{"win95", 1}, {"win98", 2}, {"winme", 3}, {"nt40", 4},
                                          {"win2k", 5}, {"winxp", 6}, {"win7", 6}}) {
    SCOPED_TRACE(c.wine);
    // Wine reports this version to programs of this file name, from their start on.
    WineVersion version(file, c.wine);
    ASSERT_TRUE(version.ok());
    Program child(exe, "--gtest_also_run_disabled_tests --gtest_filter=OsVersionChild.*");
    ASSERT_TRUE(child.started());
    EXPECT_EQ(DWORD(c.expected), child.Wait(30000));
  }
  // A stored OsVersion wins over the running Windows.
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, kCdioEmu, "OsVersion", 0));
  EXPECT_EQ(0, QuinCDIO_GetOSVersion());
}

TEST_F(DeviceLibs, TargetsFoundIsReturnedAsItStands) {
  // 256 has a zero low byte: callers that look at the low byte only see "no targets".
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, kCdioEmu, "TargetsFound", 256));
  unsigned char scratch = 0xbd;
  EXPECT_EQ(256, QuinCDIO_EnumTargets(1, &scratch));
  EXPECT_EQ(0xbd, scratch);
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, kCdioEmu, "TargetsFound", 0));
  EXPECT_EQ(0, QuinCDIO_EnumTargets(1, &scratch));
  EXPECT_EQ(0, QuinCDIO_EnumTargets(1, nullptr));
}

// ---------------------------------------------------------------- masking word

TEST_F(DeviceLibs, MaskRecSetStoresTheWordAndGetHandsItBack) {
  WORD w = 0x8001;
  ASSERT_NE(0, MaskRec_SendCommand(MASKREC_SET, &w));
  EXPECT_EQ(0x8001, w);
  RawValue stored = ReadRaw(HKLM, kCdioEmu, "MaskState");
  EXPECT_EQ(DWORD(REG_DWORD), stored.type);
  EXPECT_EQ(Dword(0x8001), stored.data);
  w = 0xbdbd;
  ASSERT_NE(0, MaskRec_SendCommand(MASKREC_GET, &w));
  EXPECT_EQ(0x8001, w);

  w = 0;
  ASSERT_NE(0, MaskRec_SendCommand(MASKREC_SET, &w));
  w = 0xbdbd;
  ASSERT_NE(0, MaskRec_SendCommand(MASKREC_GET, &w));
  EXPECT_EQ(0, w);
}

TEST_F(DeviceLibs, MaskRecFailsWithoutChangeWhenMaskingIsUnavailable) {
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, kCdioEmu, "MaskState", 5));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, kCdioEmu, "MaskingAvailable", 0));
  WORD w = 0x0102;
  EXPECT_EQ(0, MaskRec_SendCommand(MASKREC_SET, &w));
  EXPECT_EQ(Dword(5), ReadRaw(HKLM, kCdioEmu, "MaskState").data);
  w = 0xbdbd;
  EXPECT_EQ(0, MaskRec_SendCommand(MASKREC_GET, &w));
  EXPECT_EQ(0xbdbd, w);

  // Any non-zero value, and any malformed one (default 1), makes masking available.
  for (const Malformed &m : std::vector<Malformed>{{"2", REG_DWORD, Dword(2)},
                                                   {"REG_SZ 0", REG_SZ, B("0\0", 2)},
                                                   {"2-byte 0", REG_DWORD, B("\0\0", 2)}}) {
    SCOPED_TRACE(m.label);
    ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, kCdioEmu, "MaskingAvailable", m.type, m.data));
    w = 0xbdbd;
    EXPECT_NE(0, MaskRec_SendCommand(MASKREC_GET, &w));
    EXPECT_EQ(5, w);
  }
}

TEST_F(DeviceLibs, MaskRecRefusesUnknownCommandsAndANullWord) {
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, kCdioEmu, "MaskState", 5));
  for (int command : {0, 3, -1, 0x102}) {
    SCOPED_TRACE(command);
    WORD w = 0x0707;
    EXPECT_EQ(0, MaskRec_SendCommand(command, &w));
    EXPECT_EQ(0x0707, w);
    EXPECT_EQ(Dword(5), ReadRaw(HKLM, kCdioEmu, "MaskState").data);
  }
  EXPECT_EQ(0, MaskRec_SendCommand(MASKREC_GET, nullptr));
  EXPECT_EQ(0, MaskRec_SendCommand(MASKREC_SET, nullptr));
  EXPECT_EQ(Dword(5), ReadRaw(HKLM, kCdioEmu, "MaskState").data);
}

// ---------------------------------------------------------------- virtual drive letters

struct LettersCase {
  const char *label;
  bool present;
  DWORD type;
  Bytes data;
  std::string expected;  // normalised letters in stored order
};

TEST_F(DeviceLibs, DriveLettersAreNormalisedSafely) {
  // A long junk value: repeated lower-case alphabet with digits, no NUL anywhere.
  Bytes huge;
  for (int i = 0; huge.size() < 200000; ++i) huge.push_back((unsigned char)("zyxwvutsrqponmlkjihgfedcba0123456789"[i % 36]));
  std::vector<LettersCase> cases = {
      {"missing", false, REG_SZ, {}, ""},
      {"VW", true, REG_SZ, B("VW\0", 3), "VW"},
      {"lower case", true, REG_SZ, B("vw\0", 3), "VW"},
      {"no NUL", true, REG_SZ, B("VW", 2), "VW"},
      {"junk and repeats", true, REG_SZ, B("V1w-v W!x\0", 10), "VWX"},
      {"A and B dropped", true, REG_SZ, B("ABVCab\0", 7), "VC"},
      {"stops at the first NUL", true, REG_SZ, B("V\0W\0", 4), "V"},
      {"high bytes", true, REG_SZ, B("\xc0\xe1V\xff\0", 5), "V"},
      {"empty", true, REG_SZ, B("\0", 1), ""},
      {"zero bytes", true, REG_SZ, Bytes(), ""},
      {"REG_EXPAND_SZ", true, REG_EXPAND_SZ, B("VW\0", 3), ""},
      {"REG_MULTI_SZ", true, REG_MULTI_SZ, B("VW\0\0", 4), ""},
      {"REG_BINARY", true, REG_BINARY, B("VW\0", 3), ""},
      {"REG_DWORD", true, REG_DWORD, B("VW\0\0", 4), ""},
      {"huge", true, REG_SZ, huge, "ZYXWVUTSRQPONMLKJIHGFEDC"},
  };
  for (const LettersCase &c : cases) {
    SCOPED_TRACE(c.label);
    DeleteValue(HKLM, kVcdEmu, "DriveLetters");
    if (c.present) {
      ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, kVcdEmu, "DriveLetters", c.type, c.data));
    }
    EXPECT_EQ(c.expected.size(), VODDGetDrives());
    std::string sorted(c.expected);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, VirtualLetters());
    // Reading never rewrites the value.
    RawValue after = StoredLetters();
    EXPECT_EQ(c.present, after.exists);
    if (c.present) {
      EXPECT_EQ(c.data, after.data);
    }
  }
}

TEST_F(DeviceLibs, OpenVODDLetterOnlyForVirtualLettersInRange) {
  SetLetters("ABCVZ");
  for (int index : {0, 1, 26, 27, 90, 255}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(nullptr, OpenVODDLetter((BYTE)index, 0));
  }
  for (int index : {2, 21, 25}) {
    SCOPED_TRACE(index);
    HANDLE h = OpenVODDLetter((BYTE)index, 0);
    EXPECT_NE(nullptr, h);
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_NE(0, CloseVODD(h));
  }
  EXPECT_EQ(nullptr, OpenVODDLetter('W' - 'A', 0));
  // Handles for different letters differ.
  EXPECT_NE(OpenVODDLetter(2, 0), OpenVODDLetter(25, 0));
}

TEST_F(DeviceLibs, CloseVODDIsSafeWithForeignValues) {
  for (UINT_PTR v : {(UINT_PTR)0, (UINT_PTR)1, (UINT_PTR)-1, (UINT_PTR)0x56440041, (UINT_PTR)0x12345678}) {
    SCOPED_TRACE(v);
    EXPECT_EQ(0, CloseVODD((HANDLE)v));
  }
}

// Letters from Z: downward that neither `taken` nor the system uses.
std::string FreeLetters(const std::string &taken, size_t n) {
  DWORD used = GetLogicalDrives();
  std::string out;
  for (int index = 25; index >= 2 && out.size() < n; --index) {
    char letter = (char)('A' + index);
    if (taken.find(letter) == std::string::npos && !(used & (1u << index))) out += letter;
  }
  return out;
}

TEST_F(DeviceLibs, SetDrivesGrowsAndShrinks) {
  struct Step {
    const char *label;
    bool present;
    Bytes before;
    int count;
    std::string expected;
  };
  std::vector<Step> steps = {
      {"none to two", false, {}, 2, FreeLetters("", 2)},
      {"none to eight", false, {}, 8, FreeLetters("", 8)},
      {"two to four keeps the two", true, B("VW\0", 3), 4, "VW" + FreeLetters("VW", 2)},
      {"three to one keeps the first", true, B("XVW\0", 4), 1, "X"},
      {"to zero", true, B("VW\0", 3), 0, ""},
      {"same number is normalised", true, B("v1w", 3), 2, "VW"},
      {"junk grows", true, B("vv\0", 3), 3, "V" + FreeLetters("V", 2)},
      {"twelve to eight", true, B("CDEFGHIJKLMN\0", 13), 8, "CDEFGHIJ"},
      {"foreign type counts as none", true, B("VW\0", 3), 1, FreeLetters("", 1)},
  };
  for (const Step &s : steps) {
    SCOPED_TRACE(s.label);
    DeleteValue(HKLM, kVcdEmu, "DriveLetters");
    DWORD type = std::string(s.label).find("foreign") == 0 ? REG_BINARY : REG_SZ;
    if (s.present) {
      ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, kVcdEmu, "DriveLetters", type, s.before));
    }
    ASSERT_EQ(size_t(s.count), s.expected.size());
    EXPECT_NE(0, VODDSetDrives(s.count));
    RawValue after = StoredLetters();
    EXPECT_EQ(DWORD(REG_SZ), after.type);
    EXPECT_EQ(Bytes(s.expected.c_str(), s.expected.c_str() + s.expected.size() + 1), after.data);
    EXPECT_EQ(unsigned(s.count), VODDGetDrives());
  }
}

TEST_F(DeviceLibs, SetDrivesNeverTakesASystemDriveLetter) {
  DWORD used = GetLogicalDrives();
  ASSERT_NE(0, VODDSetDrives(8));
  std::string letters = VirtualLetters();
  ASSERT_EQ(8u, letters.size());
  for (char c : letters) EXPECT_FALSE(used & (1u << (c - 'A'))) << c;
}

TEST_F(DeviceLibs, SetDrivesRefusesOutOfRangeAndSetDrivesFails) {
  Bytes before = B("vw", 2);  // malformed on purpose: a refusal must not even normalise it
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, kVcdEmu, "DriveLetters", REG_SZ, before));
  for (int n : {-1, 9, 24, 100, INT_MIN, INT_MAX}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(0, VODDSetDrives(n));
    EXPECT_EQ(before, StoredLetters().data);
  }
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, kVcdEmu, "SetDrivesFails", 1));
  for (int n : {0, 1, 2, 8}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(0, VODDSetDrives(n));
    EXPECT_EQ(before, StoredLetters().data);
  }
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, kVcdEmu, "SetDrivesFails", 0xffffffff));
  EXPECT_EQ(0, VODDSetDrives(1));
  // A malformed SetDrivesFails counts as its default 0.
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, kVcdEmu, "SetDrivesFails", REG_SZ, B("1\0", 2)));
  EXPECT_NE(0, VODDSetDrives(1));
  EXPECT_EQ(B("V\0", 2), StoredLetters().data);
}

TEST_F(DeviceLibs, SetDrivesWithoutEmulationKeyCreatesIt) {
  ASSERT_TRUE(DeleteTree(HKLM, kVcdRoot));
  EXPECT_NE(0, VODDSetDrives(1));
  EXPECT_EQ(1u, VODDGetDrives());
}

TEST_F(DeviceLibs, RestoreDrivesChangesNothing) {
  SetLetters("VW");
  VODDRestoreDrives(0);
  EXPECT_EQ(B("VW\0", 3), StoredLetters().data);
}

// ---------------------------------------------------------------- call counters

struct Counted {
  const char *name;
  std::string callsKey;
  std::function<void()> call;
};

std::vector<Counted> CountedFunctions() {
  static HKEY key;  // closed right after each pass-through call
  return {
      {"QuinCDIO_InitScsi", kCdioCalls, [] { QuinCDIO_InitScsi(7); }},
      {"QuinCDIO_DeInitScsi", kCdioCalls, [] { QuinCDIO_DeInitScsi(); }},
      {"QuinCDIO_GetOSVersion", kCdioCalls, [] { QuinCDIO_GetOSVersion(); }},
      {"QuinCDIO_EnumTargets", kCdioCalls, [] { unsigned char b; QuinCDIO_EnumTargets(1, &b); }},
      {"QuinCDIO_RegOpenKeyEx", kCdioCalls, [] {
         if (!QuinCDIO_RegOpenKeyEx(HKLM, "SOFTWARE", 0, KEY_READ, &key)) RegCloseKey(key);
       }},
      {"QuinCDIO_RegCreateKeyEx", kCdioCalls, [] {
         if (!QuinCDIO_RegCreateKeyEx(HKLM, "SOFTWARE", 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr))
           RegCloseKey(key);
       }},
      {"QuinCDIO_RegDeleteKey", kCdioCalls, [] { QuinCDIO_RegDeleteKey(HKLM, "SOFTWARE\\QuinNoSuchKey"); }},
      {"MaskRec_SendCommand", kCdioCalls, [] { WORD w = 1; MaskRec_SendCommand(MASKREC_GET, &w); }},
      {"VODDInit", kVcdCalls, [] { VODDInit(1); }},
      {"VODDIsInstalled", kVcdCalls, [] { VODDIsInstalled(); }},
      {"VODDRestoreDrives", kVcdCalls, [] { VODDRestoreDrives(0); }},
      {"VODDGetDrives", kVcdCalls, [] { VODDGetDrives(); }},
      {"VODDSetDrives", kVcdCalls, [] { VODDSetDrives(9); }},
      {"OpenVODDLetter", kVcdCalls, [] { OpenVODDLetter(21, 0); }},
      {"CloseVODD", kVcdCalls, [] { CloseVODD((HANDLE)1); }},
  };
}

TEST_F(DeviceLibs, EachCallCountsUnderItsOwnName) {
  for (const Counted &f : CountedFunctions()) {
    SCOPED_TRACE(f.name);
    ASSERT_TRUE(DeleteTree(HKLM, kCdioCalls));
    ASSERT_TRUE(DeleteTree(HKLM, kVcdCalls));
    f.call();
    EXPECT_EQ(1, Calls(f.callsKey, f.name));
    f.call();
    f.call();
    EXPECT_EQ(3, Calls(f.callsKey, f.name));
    // No other function was counted.
    for (const Counted &g : CountedFunctions()) {
      if (g.name != f.name) {
        EXPECT_EQ(-1, Calls(g.callsKey, g.name)) << g.name;
      }
    }
  }
}

TEST_F(DeviceLibs, MalformedCountersStartFromZero) {
  for (const Malformed &m : MalformedDwords()) {
    SCOPED_TRACE(m.label);
    ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, kCdioCalls, "QuinCDIO_DeInitScsi", m.type, m.data));
    QuinCDIO_DeInitScsi();
    EXPECT_EQ(1, Calls(kCdioCalls, "QuinCDIO_DeInitScsi"));
  }
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, kVcdCalls, "VODDGetDrives", 41));
  VODDGetDrives();
  EXPECT_EQ(42, Calls(kVcdCalls, "VODDGetDrives"));
}

TEST_F(DeviceLibs, CountedCallsKeepTheCallersLastError) {
  // Settings of the wrong type make the libraries' own registry reads fail: their codes must not
  // leak to the caller either.
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, kCdioEmu, "MaskState", REG_SZ, B("x", 1)));
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, kVcdEmu, "DriveLetters", REG_BINARY, B("x", 1)));
  const DWORD sentinel = 0x2bad0cde;
  for (const Counted &f : CountedFunctions()) {
    std::string n = f.name;
    if (n.find("QuinCDIO_Reg") == 0) continue;  // pass-through: the real call's error stands
    SCOPED_TRACE(n);
    SetLastError(sentinel);
    f.call();
    EXPECT_EQ(sentinel, GetLastError());
  }
  const std::vector<std::function<void()>> more = {
      [] { WORD w = 3; MaskRec_SendCommand(MASKREC_SET, &w); },
      [] { VODDSetDrives(2); },
      [] { CloseVODD(OpenVODDLetter(21, 0)); },
  };
  for (size_t i = 0; i < more.size(); ++i) {
    SCOPED_TRACE(i);
    SetLastError(sentinel);
    more[i]();
    EXPECT_EQ(sentinel, GetLastError());
  }
}

// ---------------------------------------------------------------- registry pass-through

TEST_F(DeviceLibs, RegistryFunctionsPassStraightThrough) {
  ScratchKey scratch;
  const std::string path = scratch.path() + "\\Made";
  const DWORD sentinel = 0x2bad0cde;
  HKEY key = (HKEY)0xbdbdbdbd;

  // A missing key: the same result and last error as RegOpenKeyExA itself.
  SetLastError(sentinel);
  LONG real = RegOpenKeyExA(HKLM, path.c_str(), 0, KEY_READ, &key);
  DWORD realError = GetLastError();
  SetLastError(sentinel);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, QuinCDIO_RegOpenKeyEx(HKLM, path.c_str(), 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, real);
  EXPECT_EQ(realError, GetLastError());

  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, QuinCDIO_RegCreateKeyEx(HKLM, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, &key, &disposition));
  EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), disposition);
  DWORD v = 5;
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "v", 0, REG_DWORD, (BYTE *)&v, 4));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  ASSERT_EQ(ERROR_SUCCESS, QuinCDIO_RegCreateKeyEx(HKLM, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                                   nullptr, &key, &disposition));
  EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
  RegCloseKey(key);

  // The opened key is an ordinary key: enumerate and read it with the Win32 calls.
  ASSERT_EQ(ERROR_SUCCESS, QuinCDIO_RegOpenKeyEx(HKLM, path.c_str(), 0, KEY_READ, &key));
  DWORD got = 0, size = 4, type = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "v", nullptr, &type, (BYTE *)&got, &size));
  EXPECT_EQ(5u, got);
  RegCloseKey(key);

  // Delete relative to an open key, then again: the second gives the registry's own code.
  HKEY parent;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKLM, scratch.path().c_str(), 0, KEY_ALL_ACCESS, &parent));
  EXPECT_EQ(ERROR_SUCCESS, QuinCDIO_RegDeleteKey(parent, "Made"));
  EXPECT_FALSE(KeyExists(HKLM, path));
  SetLastError(sentinel);
  real = RegDeleteKeyA(parent, "Made");
  realError = GetLastError();
  SetLastError(sentinel);
  EXPECT_EQ(real, QuinCDIO_RegDeleteKey(parent, "Made"));
  EXPECT_NE(ERROR_SUCCESS, real);
  EXPECT_EQ(realError, GetLastError());
  RegCloseKey(parent);

  // A key that still has a subkey: whatever the registry answers, we answer the same.
  const std::string deep = scratch.path() + "\\Deep\\Child";
  ASSERT_EQ(ERROR_SUCCESS, SetDword(HKLM, deep, "v", 1));
  LONG ours = QuinCDIO_RegDeleteKey(HKLM, (scratch.path() + "\\Deep").c_str());
  if (ours == ERROR_SUCCESS) {
    EXPECT_FALSE(KeyExists(HKLM, scratch.path() + "\\Deep"));
  } else {
    EXPECT_EQ(ours, RegDeleteKeyA(HKLM, (scratch.path() + "\\Deep").c_str()));
    EXPECT_TRUE(KeyExists(HKLM, deep));
  }
}

// ---------------------------------------------------------------- export tables

std::set<std::string> ExportNames(HMODULE module, std::string *dllName, DWORD *functions) {
  std::set<std::string> names;
  const BYTE *base = (const BYTE *)module;
  auto dos = (const IMAGE_DOS_HEADER *)base;
  auto nt = (const IMAGE_NT_HEADERS32 *)(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (!dir.VirtualAddress) return names;
  auto exp = (const IMAGE_EXPORT_DIRECTORY *)(base + dir.VirtualAddress);
  *dllName = (const char *)(base + exp->Name);
  *functions = exp->NumberOfFunctions;
  auto nameRvas = (const DWORD *)(base + exp->AddressOfNames);
  for (DWORD i = 0; i < exp->NumberOfNames; ++i) names.insert((const char *)(base + nameRvas[i]));
  return names;
}

std::vector<std::string> ImportedDlls(HMODULE module) {
  std::vector<std::string> dlls;
  const BYTE *base = (const BYTE *)module;
  auto nt = (const IMAGE_NT_HEADERS32 *)(base + ((const IMAGE_DOS_HEADER *)base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto imp = (const IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress); imp->Name; ++imp) {
    std::string name = (const char *)(base + imp->Name);
    for (char &c : name) c = (char)tolower((unsigned char)c);
    dlls.push_back(name);
  }
  return dlls;
}

TEST(DeviceLibExports, ExactlyTheDeclaredNamesUndecorated) {
  struct Dll {
    const char *file;
    std::set<std::string> names;
  };
  std::vector<Dll> dlls = {
      {"QuinCDIO.dll",
       {"QuinCDIO_InitScsi", "QuinCDIO_DeInitScsi", "QuinCDIO_GetOSVersion", "QuinCDIO_EnumTargets",
        "QuinCDIO_RegOpenKeyEx", "QuinCDIO_RegCreateKeyEx", "QuinCDIO_RegDeleteKey",
        "MaskRec_SendCommand"}},
      {"QuinVCD.dll",
       {"VODDInit", "VODDIsInstalled", "VODDRestoreDrives", "VODDGetDrives", "VODDSetDrives",
        "OpenVODDLetter", "CloseVODD"}},
  };
  for (const Dll &d : dlls) {
    SCOPED_TRACE(d.file);
    HMODULE module = LoadLibraryA(d.file);
    ASSERT_NE(nullptr, module);
    std::string dllName;
    DWORD functions = 0;
    EXPECT_EQ(d.names, ExportNames(module, &dllName, &functions));
    EXPECT_EQ(d.names.size(), functions) << "no exports by ordinal only";
    EXPECT_STRCASEEQ(d.file, dllName.c_str());
    for (const std::string &dll : ImportedDlls(module)) {
      EXPECT_EQ(std::string::npos, dll.find("libgcc")) << dll;
      EXPECT_EQ(std::string::npos, dll.find("libstdc++")) << dll;
      EXPECT_EQ(std::string::npos, dll.find("winpthread")) << dll;
    }
    FreeLibrary(module);
  }
}

}  // namespace
