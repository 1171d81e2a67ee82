// Tests of the filter-list library: buffer operations, registry operations, random values.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <mbctype.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>
#include "filterlist.h"
#include "testsupport.h"

using namespace testsupport;

namespace {

const HKEY HKLM = HKEY_LOCAL_MACHINE;
const char kCalls[] = "SOFTWARE\\Quintessa\\QuinCDIO\\Emulation\\Calls";
const char kEmulation[] = "SOFTWARE\\Quintessa\\QuinCDIO\\Emulation";
const DWORD kPoison = 0xdeadbeef;

// The exact bytes of a string literal, embedded NULs included, its own NUL left out.
#define BY(s) B(s, sizeof(s) - 1)

const char *ValueName(int upper) { return upper ? "UpperFilters" : "LowerFilters"; }

// Bytes as text: letters and digits as they are, every other byte as \xNN.
std::string Show(const Bytes &b) {
  std::string s;
  for (unsigned char c : b) {
    if (isalnum(c)) {
      s += (char)c;
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      s += hex;
    }
  }
  return s;
}

std::string Show(const RawValue &v) {
  if (!v.exists) return "(no value)";
  return "type " + std::to_string(v.type) + " [" + Show(v.data) + "]";
}

RawValue Raw(DWORD type, const Bytes &data) {
  RawValue v;
  v.exists = true;
  v.type = type;
  v.data = data;
  return v;
}

RawValue None() { return RawValue(); }

// A heap list buffer holding exactly `bytes`, as the library allocates them.
char *HeapList(const Bytes &bytes) {
  char *p = (char *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes.size());
  memcpy(p, bytes.data(), bytes.size());
  return p;
}

Bytes HeapBytes(const char *p) {
  SIZE_T n = HeapSize(GetProcessHeap(), 0, p);
  return Bytes(p, p + n);
}

void HeapFreeList(char *p) { HeapFree(GetProcessHeap(), 0, p); }

// A string whose NUL is the last readable byte before an inaccessible page:
// any read past its end faults.
class FencedString {
 public:
  explicit FencedString(const std::string &s) {
    base_ = (char *)VirtualAlloc(nullptr, 8192, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    DWORD old;
    VirtualProtect(base_ + 4096, 4096, PAGE_NOACCESS, &old);
    str_ = base_ + 4096 - (s.size() + 1);
    memcpy(str_, s.c_str(), s.size() + 1);
  }
  ~FencedString() { VirtualFree(base_, 0, MEM_RELEASE); }
  const char *c_str() const { return str_; }

 private:
  char *base_;
  char *str_;
};

// ---------------------------------------------------------------- buffer operations

TEST(MultiSzSize, CountsUpToTheFirstEmptyString) {
  struct Case {
    Bytes list;
    DWORD size;
  } cases[] = {
      {BY("\0"), 1},
      {BY("\0\0"), 1},
      {BY("\0abc\0\0"), 1},
      {BY("a\0bc\0\0"), 6},
      {BY("a\0\0b\0\0"), 3},
      {BY("abc\0\0"), 5},
      {BY("a\0b\0c\0\0"), 7},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(Show(c.list));
    EXPECT_EQ(c.size, MultiSzSize((const char *)c.list.data()));
  }
}

TEST(MultiSzRemoveAll, RemovesEveryEqualEntryInPlace) {
  struct Case {
    const char *name;
    Bytes list;
    LONG removed;
    Bytes after;  // the list up to its closing NUL
  } cases[] = {
      {"flt", BY("Flt\0x\0FLT\0\0"), 2, BY("x\0\0")},
      {"a", BY("a\0A\0b\0\0"), 2, BY("b\0\0")},     // adjacent equal entries
      {"b", BY("a\0B\0b\0\0"), 2, BY("a\0\0")},     // at the end
      {"a", BY("a\0\0"), 1, BY("\0")},              // the only entry
      {"a", BY("A\0a\0\0"), 2, BY("\0")},
      {"fl", BY("flt\0fl2\0\0"), 0, BY("flt\0fl2\0\0")},  // a prefix is no match
      {"flt", BY("fl\0flt2\0\0"), 0, BY("fl\0flt2\0\0")},
      {"x", BY("\0"), 0, BY("\0")},
      {"b", BY("a\0\0b\0\0"), 0, BY("a\0\0")},  // behind the end is no part of the list
      {"", BY("a\0b\0\0"), 0, BY("a\0b\0\0")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.name) + " from " + Show(c.list));
    // Poison behind the list shows any write past its closing NUL.
    Bytes buffer = c.list;
    buffer.insert(buffer.end(), {0xbd, 0xbd, 0xbd});
    DWORD size = kPoison;
    EXPECT_EQ(c.removed, MultiSzRemoveAll(c.name, (char *)buffer.data(), &size));
    EXPECT_EQ(c.after.size(), size);
    EXPECT_EQ(Show(c.after), Show(Bytes(buffer.begin(), buffer.begin() + c.after.size())));
    EXPECT_EQ(Bytes({0xbd, 0xbd, 0xbd}), Bytes(buffer.end() - 3, buffer.end()));
  }
}

TEST(MultiSzRemoveAll, SizeMayBeLeftOut) {
  Bytes buffer = BY("a\0b\0\0");
  EXPECT_EQ(1, MultiSzRemoveAll("B", (char *)buffer.data(), nullptr));
  EXPECT_EQ(BY("a\0\0"), Bytes(buffer.begin(), buffer.begin() + 3));
}

TEST(MultiSzInsert, PutsTheNameOnceAtTheChosenEndInANewBufferOfExactlyTheListSize) {
  struct Case {
    const char *name;
    bool atEnd;
    Bytes list;
    Bytes after;
  } cases[] = {
      {"redbook", true, BY("A\0REDBOOK\0B\0\0"), BY("A\0B\0redbook\0\0")},
      {"redbook", false, BY("A\0REDBOOK\0B\0\0"), BY("redbook\0A\0B\0\0")},
      {"n", true, BY("\0"), BY("n\0\0")},
      {"n", false, BY("\0"), BY("n\0\0")},
      {"Flt", false, BY("flt\0x\0\0"), BY("Flt\0x\0\0")},  // already first: the caller's case wins
      {"x", true, BY("flt\0x\0\0"), BY("flt\0x\0\0")},
      {"x", false, BY("X\0a\0x\0X\0\0"), BY("x\0a\0\0")},
      {"x", true, BY("X\0a\0x\0X\0\0"), BY("a\0x\0\0")},
      {"c", true, BY("a\0\0b\0\0"), BY("a\0c\0\0")},  // what lies behind the end is dropped
      {"c", false, BY("a\0\0b\0\0"), BY("c\0a\0\0")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.atEnd ? " at the end of " : " at the front of ") + Show(c.list));
    char *list = HeapList(c.list);
    char *old = list;
    ASSERT_TRUE(c.atEnd ? MultiSzAppend(c.name, &list) : MultiSzInsertFront(c.name, &list));
    EXPECT_NE(old, list);
    EXPECT_EQ(Show(c.after), Show(HeapBytes(list)));
    EXPECT_EQ(c.after.size(), MultiSzSize(list));
    HeapFreeList(list);
  }
}

TEST(MultiSzInsert, RefusesAnEmptyNameAndKeepsTheList) {
  // An empty first entry would end the list and hide every other entry.
  for (bool atEnd : {false, true}) {
    SCOPED_TRACE(atEnd ? "append" : "insert front");
    char *list = HeapList(BY("a\0b\0\0"));
    char *old = list;
    SetLastError(kPoison);
    EXPECT_FALSE(atEnd ? MultiSzAppend("", &list) : MultiSzInsertFront("", &list));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(old, list);
    EXPECT_EQ(BY("a\0b\0\0"), HeapBytes(list));
    HeapFreeList(list);
  }
}

// Sets the C runtime's multibyte code page for the scope, then restores the ANSI one.
class MultibyteCodePage {
 public:
  explicit MultibyteCodePage(int cp) : ok_(_setmbcp(cp) == 0) {}
  ~MultibyteCodePage() { _setmbcp(_MB_CP_ANSI); }
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

LONG RemoveFromFenced(const std::string &name, const Bytes &list, Bytes *after) {
  FencedString fenced(name);
  Bytes buffer = list;
  DWORD size = 0;
  LONG n = MultiSzRemoveAll(fenced.c_str(), (char *)buffer.data(), &size);
  *after = Bytes(buffer.begin(), buffer.begin() + size);
  return n;
}

TEST(EntryComparison, TheRuntimeStartsOnTheAnsiCodePage) {
  EXPECT_EQ((int)GetACP(), _getmbcp());
}

TEST(EntryComparison, TakesADoubleByteCharacterWhole) {
  // Shift-JIS 0x83 0x41 and 0x83 0x61 are two different katakana whose trail
  // bytes look like 'A' and 'a'.
  const Bytes list = BY("\x83\x41\0\x83\x61\0\0");
  Bytes after;
  CPINFO ansi{};
  if (GetCPInfo(GetACP(), &ansi) && ansi.MaxCharSize == 1) {
    // Under a single-byte code page they are plain bytes that differ in case only.
    EXPECT_EQ(2, RemoveFromFenced("\x83\x61", list, &after));
  }
  MultibyteCodePage cp932(932);
  if (!cp932.ok()) {
    GTEST_SKIP() << "the C runtime has no tables for code page 932";
  }
  ASSERT_EQ(932, _getmbcp());

  EXPECT_EQ(1, RemoveFromFenced("\x83\x61", list, &after));
  EXPECT_EQ(BY("\x83\x41\0\0"), after);
  EXPECT_EQ(1, RemoveFromFenced("\x83\x41", list, &after));
  EXPECT_EQ(BY("\x83\x61\0\0"), after);
  // Single-byte letters still compare without case.
  EXPECT_EQ(2, RemoveFromFenced("flt", BY("FLT\0x\0Flt\0\0"), &after));
  EXPECT_EQ(BY("x\0\0"), after);
  EXPECT_EQ(1, RemoveFromFenced("a\x83\x41z", BY("A\x83\x41Z\0a\x83\x61z\0\0"), &after));
  EXPECT_EQ(BY("a\x83\x61z\0\0"), after);
}

TEST(EntryComparison, ALeadByteBeforeTheNulIsComparedAsItIsWithoutReadingPastTheName) {
  MultibyteCodePage cp932(932);
  if (!cp932.ok()) {
    GTEST_SKIP() << "the C runtime has no tables for code page 932";
  }
  // The name's NUL is the last readable byte: a comparison that takes that NUL
  // as a trail byte and reads on faults here.
  struct Case {
    const char *name;
    Bytes list;
    LONG removed;
    Bytes after;
  } cases[] = {
      {"\x83", BY("\x83\0x\0\0"), 1, BY("x\0\0")},
      {"AB\x83", BY("ab\x83\0\0"), 1, BY("\0")},
      {"ab\x83", BY("ab\x84\0ab\0ab\x83\x41\0\0"), 0, BY("ab\x84\0ab\0ab\x83\x41\0\0")},
      {"ab", BY("ab\x83\0\0"), 0, BY("ab\x83\0\0")},
      {"ab\x83\x41", BY("ab\x83\0\0"), 0, BY("ab\x83\0\0")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(Show(Bytes(c.name, c.name + strlen(c.name))) + " from " + Show(c.list));
    Bytes after;
    EXPECT_EQ(c.removed, RemoveFromFenced(c.name, c.list, &after));
    EXPECT_EQ(Show(c.after), Show(after));
  }
}

// ---------------------------------------------------------------- registry operations

enum Op { kRead, kClean, kAddFront, kAddEnd, kRemove };

const char *OpName(Op op) {
  switch (op) {
    case kRead: return "Read";
    case kClean: return "Clean";
    case kAddFront: return "AddFront";
    case kAddEnd: return "AddEnd";
    case kRemove: return "Remove";
  }
  return "?";
}

// Runs one operation; for kRead the result is 1 when a buffer came back, and
// *readBack gets its whole heap block.
int RunOp(Op op, const std::string &path, const char *name, int upper, Bytes *readBack = nullptr) {
  switch (op) {
    case kRead: {
      char *list = FilterListRead(path.c_str(), upper);
      if (!list) return 0;
      DWORD error = GetLastError();
      if (readBack) *readBack = HeapBytes(list);
      HeapFreeList(list);
      SetLastError(error);
      return 1;
    }
    case kClean: return FilterListClean(path.c_str(), upper);
    case kAddFront: return FilterListAdd(path.c_str(), name, upper, 0);
    case kAddEnd: return FilterListAdd(path.c_str(), name, upper, 1);
    case kRemove: return FilterListRemove(path.c_str(), name, upper);
  }
  return -1;
}

struct RegCase {
  const char *title;
  Op op;
  const char *name;
  RawValue before;
  int result;
  RawValue after;  // for kRead: the buffer that comes back (exists = false: none)
  DWORD lastError;
};

void PrintTo(const RegCase &c, std::ostream *os) { *os << c.title; }

const DWORD kDword = 7;
const Bytes kDwordBytes((const unsigned char *)&kDword, (const unsigned char *)&kDword + 4);

const RegCase kRegCases[] = {
    // Reading: the data plus two zero bytes, whatever terminators it lacks.
    {"ReadMultiSz", kRead, "", Raw(REG_MULTI_SZ, BY("a\0bc\0\0")), 1, Raw(0, BY("a\0bc\0\0\0\0")), 0},
    {"ReadExpandSzAsOneEntry", kRead, "", Raw(REG_EXPAND_SZ, BY("drv\0")), 1, Raw(0, BY("drv\0\0\0")), 0},
    {"ReadSzWithoutNul", kRead, "", Raw(REG_SZ, BY("foo")), 1, Raw(0, BY("foo\0\0")), 0},
    {"ReadMultiSzWithoutTerminators", kRead, "", Raw(REG_MULTI_SZ, BY("a\0b")), 1, Raw(0, BY("a\0b\0\0")), 0},
    {"ReadEmptyData", kRead, "", Raw(REG_MULTI_SZ, BY("")), 1, Raw(0, BY("\0\0")), 0},
    {"ReadOneByte", kRead, "", Raw(REG_MULTI_SZ, BY("a")), 1, Raw(0, BY("a\0\0")), 0},
    {"ReadDwordGivesNone", kRead, "", Raw(REG_DWORD, kDwordBytes), 0, None(), ERROR_INVALID_DATATYPE},
    {"ReadBinaryGivesNone", kRead, "", Raw(REG_BINARY, BY("a\0\0")), 0, None(), ERROR_INVALID_DATATYPE},
    {"ReadMissingGivesNone", kRead, "", None(), 0, None(), ERROR_FILE_NOT_FOUND},

    // Cleaning.
    {"CleanSzOfFourBytesBecomesMultiSz", kClean, "", Raw(REG_SZ, BY("foo\0")), 1, Raw(REG_MULTI_SZ, BY("foo\0\0")), 0},
    {"CleanSzWithoutNulBecomesMultiSz", kClean, "", Raw(REG_SZ, BY("foo")), 1, Raw(REG_MULTI_SZ, BY("foo\0\0")), 0},
    {"CleanSzOfFiveBytesStaysSz", kClean, "", Raw(REG_SZ, BY("foo\0\0")), 0, Raw(REG_SZ, BY("foo\0\0")), 0},
    {"CleanExpandSzOfTwoBytesBecomesMultiSz", kClean, "", Raw(REG_EXPAND_SZ, BY("x\0")), 1, Raw(REG_MULTI_SZ, BY("x\0\0")), 0},
    {"CleanCanonicalExpandSzStays", kClean, "", Raw(REG_EXPAND_SZ, BY("x\0\0")), 0, Raw(REG_EXPAND_SZ, BY("x\0\0")), 0},
    {"CleanCanonicalMultiSzStays", kClean, "", Raw(REG_MULTI_SZ, BY("a\0b\0\0")), 0, Raw(REG_MULTI_SZ, BY("a\0b\0\0")), 0},
    {"CleanTwoNulsDeletes", kClean, "", Raw(REG_MULTI_SZ, BY("\0\0")), 1, None(), 0},
    {"CleanOneNulStays", kClean, "", Raw(REG_MULTI_SZ, BY("\0")), 0, Raw(REG_MULTI_SZ, BY("\0")), 0},
    {"CleanEmptyDataDeletes", kClean, "", Raw(REG_MULTI_SZ, BY("")), 1, None(), 0},
    {"CleanOneNulSzStays", kClean, "", Raw(REG_SZ, BY("\0")), 0, Raw(REG_SZ, BY("\0")), 0},
    {"CleanDropsWhatFollowsTheEnd", kClean, "", Raw(REG_MULTI_SZ, BY("a\0\0b\0\0")), 1, Raw(REG_MULTI_SZ, BY("a\0\0")), 0},
    {"CleanLeadingEmptyStringDeletes", kClean, "", Raw(REG_MULTI_SZ, BY("\0a\0\0")), 1, None(), 0},
    {"CleanAddsClosingNul", kClean, "", Raw(REG_MULTI_SZ, BY("a\0b\0")), 1, Raw(REG_MULTI_SZ, BY("a\0b\0\0")), 0},
    {"CleanAddsBothNuls", kClean, "", Raw(REG_MULTI_SZ, BY("a\0b")), 1, Raw(REG_MULTI_SZ, BY("a\0b\0\0")), 0},
    {"CleanOneByteList", kClean, "", Raw(REG_MULTI_SZ, BY("a")), 1, Raw(REG_MULTI_SZ, BY("a\0\0")), 0},
    {"CleanTwoByteList", kClean, "", Raw(REG_MULTI_SZ, BY("a\0")), 1, Raw(REG_MULTI_SZ, BY("a\0\0")), 0},
    {"CleanDwordDeletes", kClean, "", Raw(REG_DWORD, kDwordBytes), 1, None(), 0},
    {"CleanBinaryDeletes", kClean, "", Raw(REG_BINARY, BY("a\0\0")), 1, None(), 0},
    {"CleanNoneTypeDeletes", kClean, "", Raw(REG_NONE, BY("")), 1, None(), 0},
    {"CleanMissingChangesNothing", kClean, "", None(), 0, None(), ERROR_FILE_NOT_FOUND},

    // Adding.
    {"AddAtEndMovesTheNameThere", kAddEnd, "redbook", Raw(REG_MULTI_SZ, BY("A\0REDBOOK\0B\0\0")), 1,
     Raw(REG_MULTI_SZ, BY("A\0B\0redbook\0\0")), 0},
    {"AddAtFrontMovesTheNameThere", kAddFront, "redbook", Raw(REG_MULTI_SZ, BY("A\0REDBOOK\0B\0\0")), 1,
     Raw(REG_MULTI_SZ, BY("redbook\0A\0B\0\0")), 0},
    {"AddAtFrontWhereItIsStillWrites", kAddFront, "flt", Raw(REG_SZ, BY("flt\0\0")), 1,
     Raw(REG_MULTI_SZ, BY("flt\0\0")), 0},
    {"AddAtFrontOfMultiSzStartingWithIt", kAddFront, "flt", Raw(REG_MULTI_SZ, BY("flt\0x\0\0")), 1,
     Raw(REG_MULTI_SZ, BY("flt\0x\0\0")), 0},
    {"AddToMissingCreatesOneEntry", kAddEnd, "drv", None(), 1, Raw(REG_MULTI_SZ, BY("drv\0\0")), 0},
    {"AddToDwordReplacesIt", kAddFront, "drv", Raw(REG_DWORD, kDwordBytes), 1, Raw(REG_MULTI_SZ, BY("drv\0\0")), 0},
    {"AddToBinaryReplacesIt", kAddEnd, "drv", Raw(REG_BINARY, BY("a\0b\0\0")), 1, Raw(REG_MULTI_SZ, BY("drv\0\0")), 0},
    {"AddToSzWithoutNul", kAddEnd, "b", Raw(REG_SZ, BY("a")), 1, Raw(REG_MULTI_SZ, BY("a\0b\0\0")), 0},
    {"AddToListWithoutTerminators", kAddFront, "c", Raw(REG_MULTI_SZ, BY("a\0b")), 1, Raw(REG_MULTI_SZ, BY("c\0a\0b\0\0")), 0},
    {"AddDropsWhatFollowsTheEnd", kAddEnd, "c", Raw(REG_MULTI_SZ, BY("a\0\0b\0\0")), 1, Raw(REG_MULTI_SZ, BY("a\0c\0\0")), 0},
    {"AddToLeadingEmptyString", kAddFront, "d", Raw(REG_MULTI_SZ, BY("\0x\0\0")), 1, Raw(REG_MULTI_SZ, BY("d\0\0")), 0},
    {"AddToTwoNuls", kAddEnd, "n", Raw(REG_MULTI_SZ, BY("\0\0")), 1, Raw(REG_MULTI_SZ, BY("n\0\0")), 0},
    {"AddToEmptyData", kAddEnd, "n", Raw(REG_MULTI_SZ, BY("")), 1, Raw(REG_MULTI_SZ, BY("n\0\0")), 0},
    {"AddToExpandSz", kAddEnd, "n", Raw(REG_EXPAND_SZ, BY("N\0")), 1, Raw(REG_MULTI_SZ, BY("n\0\0")), 0},
    {"AddRemovesEveryCase", kAddFront, "x", Raw(REG_MULTI_SZ, BY("X\0a\0x\0X\0\0")), 1, Raw(REG_MULTI_SZ, BY("x\0a\0\0")), 0},
    {"AddEmptyNameIsRefused", kAddEnd, "", Raw(REG_MULTI_SZ, BY("a\0\0")), 0, Raw(REG_MULTI_SZ, BY("a\0\0")),
     ERROR_INVALID_PARAMETER},
    {"AddEmptyNameToMissingIsRefused", kAddEnd, "", None(), 0, None(), ERROR_INVALID_PARAMETER},

    // Removing.
    {"RemoveTheOnlyEntryDeletes", kRemove, "flt", Raw(REG_MULTI_SZ, BY("FLT\0\0")), 1, None(), 0},
    {"RemoveEveryCase", kRemove, "flt", Raw(REG_MULTI_SZ, BY("Flt\0x\0FLT\0\0")), 1, Raw(REG_MULTI_SZ, BY("x\0\0")), 0},
    {"RemoveUnlistedWritesNothing", kRemove, "bar", Raw(REG_SZ, BY("foo")), 1, Raw(REG_SZ, BY("foo")), 0},
    {"RemoveUnlistedLeavesJunk", kRemove, "flt", Raw(REG_MULTI_SZ, BY("x\0\0flt\0\0")), 1,
     Raw(REG_MULTI_SZ, BY("x\0\0flt\0\0")), 0},
    {"RemoveFromMissing", kRemove, "flt", None(), 1, None(), 0},
    {"RemoveFromDwordRefused", kRemove, "flt", Raw(REG_DWORD, kDwordBytes), 0, Raw(REG_DWORD, kDwordBytes),
     ERROR_INVALID_DATATYPE},
    {"RemoveFromBinaryRefused", kRemove, "a", Raw(REG_BINARY, BY("a\0\0")), 0, Raw(REG_BINARY, BY("a\0\0")),
     ERROR_INVALID_DATATYPE},
    {"RemoveFromSzWithoutNulDeletes", kRemove, "flt", Raw(REG_SZ, BY("flt")), 1, None(), 0},
    {"RemoveFromListWithoutTerminators", kRemove, "a", Raw(REG_MULTI_SZ, BY("a\0b")), 1, Raw(REG_MULTI_SZ, BY("b\0\0")), 0},
    {"RemoveLeavingOnlyJunkDeletes", kRemove, "flt", Raw(REG_MULTI_SZ, BY("flt\0\0junk\0\0")), 1, None(), 0},
    {"RemoveFromExpandSzRewritesAsMultiSz", kRemove, "a", Raw(REG_EXPAND_SZ, BY("a\0b\0")), 1,
     Raw(REG_MULTI_SZ, BY("b\0\0")), 0},
    {"RemoveFromLeadingEmptyString", kRemove, "a", Raw(REG_MULTI_SZ, BY("\0a\0\0")), 1, Raw(REG_MULTI_SZ, BY("\0a\0\0")), 0},
};

class FilterListRegistry : public ::testing::TestWithParam<std::tuple<RegCase, int>> {};

TEST_P(FilterListRegistry, GivesResultValueAndLastError) {
  const RegCase &c = std::get<0>(GetParam());
  const int upper = std::get<1>(GetParam());
  ScratchKey key;
  const char *value = ValueName(upper);
  const char *other = ValueName(!upper);
  if (c.before.exists) {
    ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, key.path(), value, c.before.type, c.before.data));
  }
  // The other list is never touched.
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, key.path(), other, REG_SZ, BY("other")));

  Bytes readBack;
  SetLastError(kPoison);
  int result = RunOp(c.op, key.path(), c.name, upper, &readBack);
  DWORD error = GetLastError();

  EXPECT_EQ(c.result, result);
  EXPECT_EQ(c.lastError, error);
  RawValue now = ReadRaw(HKLM, key.path(), value);
  if (c.op == kRead) {
    EXPECT_EQ(Show(c.before), Show(now));
    EXPECT_EQ(c.after.exists ? Show(c.after.data) : "", Show(readBack));
  } else {
    EXPECT_EQ(Show(c.after), Show(now));
  }
  EXPECT_EQ(Show(Raw(REG_SZ, BY("other"))), Show(ReadRaw(HKLM, key.path(), other)));
}

INSTANTIATE_TEST_SUITE_P(Table, FilterListRegistry,
                         ::testing::Combine(::testing::ValuesIn(kRegCases), ::testing::Values(0, 1)),
                         [](const ::testing::TestParamInfo<std::tuple<RegCase, int>> &info) {
                           return std::string(std::get<0>(info.param).title) +
                                  (std::get<1>(info.param) ? "_Upper" : "_Lower");
                         });

TEST(FilterListRegistryKey, AMissingKeyFailsWithItsOpenErrorAndIsNotCreated) {
  ScratchKey key;
  const std::string missing = key.path() + "\\Missing";
  for (Op op : {kRead, kClean, kAddFront, kAddEnd, kRemove}) {
    SCOPED_TRACE(OpName(op));
    SetLastError(kPoison);
    EXPECT_EQ(0, RunOp(op, missing, "flt", 1));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(KeyExists(HKLM, missing));
  }
}

TEST(FilterListRegistryKey, OpensEachKeyThroughTheCdIoLayer) {
  SavedKey saved(HKLM, kEmulation);
  ScratchKey key;
  auto opens = [] {
    RawValue v = ReadRaw(HKLM, kCalls, "QuinCDIO_RegOpenKeyEx");
    DWORD n = 0;
    if (v.exists && v.data.size() == 4) memcpy(&n, v.data.data(), 4);
    return n;
  };
  for (Op op : {kRead, kClean, kAddFront, kAddEnd, kRemove}) {
    SCOPED_TRACE(OpName(op));
    DWORD before = opens();
    RunOp(op, key.path(), "flt", 0);
    EXPECT_EQ(before + 1, opens());
  }
}

// Builds a security descriptor whose DACL grants Everyone only KEY_READ.
struct ReadOnlyDacl {
  SECURITY_DESCRIPTOR sd;
  BYTE aclBuffer[256];
  PSID everyone = nullptr;
  ReadOnlyDacl() {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    PACL acl = (PACL)aclBuffer;
    InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION);
    AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, everyone);
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  }
  ~ReadOnlyDacl() { FreeSid(everyone); }
};

TEST(FilterListRegistryKey, AKeyThatDeniesWritingFailsWithAccessDeniedAndKeepsTheValue) {
  ScratchKey key;
  const Bytes list = BY("a\0flt\0\0b\0\0");  // Clean, Add and Remove would all rewrite it
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, key.path(), "UpperFilters", REG_MULTI_SZ, list));

  // This handle keeps the rights it was opened with, so it can put the old
  // DACL back however the new one reads.
  HKEY handle;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKLM, key.path().c_str(), 0, KEY_ALL_ACCESS, &handle));
  std::vector<BYTE> saved(4096);
  DWORD savedSize = (DWORD)saved.size();
  ASSERT_EQ(ERROR_SUCCESS, RegGetKeySecurity(handle, DACL_SECURITY_INFORMATION, saved.data(), &savedSize));
  ReadOnlyDacl readOnly;
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, &readOnly.sd));

  for (Op op : {kClean, kAddFront, kAddEnd, kRemove, kRead}) {
    SCOPED_TRACE(OpName(op));
    SetLastError(kPoison);
    EXPECT_EQ(0, RunOp(op, key.path(), "flt", 1));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ(Show(Raw(REG_MULTI_SZ, list)), Show(ReadRaw(HKLM, key.path(), "UpperFilters")));
  }

  EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, saved.data()));
  RegCloseKey(handle);
  EXPECT_EQ(1, FilterListRemove(key.path().c_str(), "flt", 1));
}

TEST(FilterListRegistryKey, AValueChangingSizeUnderAReadGivesOneWholeListOrMoreData) {
  // The size is queried first and the data read into a buffer of that size:
  // a value that grew in between must fail the read, not overrun or truncate.
  ScratchKey key;
  const Bytes small = BY("a\0\0");
  const Bytes big = MultiSz({"first", "second", "third", std::string(300, 'x')});
  ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKLM, key.path(), "UpperFilters", REG_MULTI_SZ, small));
  volatile bool stop = false;
  std::thread writer([&] {
    HKEY h;
    if (RegOpenKeyExA(HKLM, key.path().c_str(), 0, KEY_SET_VALUE, &h)) return;
    for (unsigned i = 0; !stop; ++i) {
      const Bytes &b = i % 2 ? big : small;
      RegSetValueExA(h, "UpperFilters", 0, REG_MULTI_SZ, b.data(), (DWORD)b.size());
    }
    RegCloseKey(h);
  });
  int whole = 0, moreData = 0;
  DWORD start = GetTickCount();
  while (GetTickCount() - start < 1500 && !HasFailure()) {
    SetLastError(kPoison);
    char *list = FilterListRead(key.path().c_str(), 1);
    if (list) {
      Bytes got(list, list + MultiSzSize(list));
      EXPECT_TRUE(got == small || got == big) << Show(got);
      HeapFreeList(list);
      ++whole;
    } else {
      EXPECT_EQ(DWORD(ERROR_MORE_DATA), GetLastError());
      ++moreData;
    }
  }
  stop = true;
  writer.join();
  EXPECT_GT(whole, 0);
  std::printf("%d whole reads, %d reads failed with ERROR_MORE_DATA\n", whole, moreData);
}

// ---------------------------------------------------------------- random values

bool SameCaseless(const std::string &a, const std::string &b) {
  return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

bool IsListType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// The list that a value's data forms once two zero bytes follow it.
std::vector<std::string> ListOf(const Bytes &data) {
  Bytes closed = data;
  closed.push_back(0);
  closed.push_back(0);
  return Entries(closed);
}

size_t ListSize(const std::vector<std::string> &entries) { return MultiSz(entries).size(); }

struct Expected {
  int result;
  RawValue value;
  DWORD lastError;
};

Expected ModelClean(const RawValue &v) {
  if (!v.exists) return {0, v, ERROR_FILE_NOT_FOUND};
  if (!IsListType(v.type)) return {1, None(), 0};
  std::vector<std::string> list = ListOf(v.data);
  if (ListSize(list) == v.data.size()) return {0, v, 0};
  if (list.empty()) return {1, None(), 0};
  return {1, Raw(REG_MULTI_SZ, MultiSz(list)), 0};
}

Expected ModelAdd(const RawValue &v, const std::string &name, bool atEnd) {
  std::vector<std::string> list, kept;
  if (v.exists && IsListType(v.type)) list = ListOf(v.data);
  for (const std::string &e : list)
    if (!SameCaseless(e, name)) kept.push_back(e);
  kept.insert(atEnd ? kept.end() : kept.begin(), name);
  return {1, Raw(REG_MULTI_SZ, MultiSz(kept)), 0};
}

Expected ModelRemove(const RawValue &v, const std::string &name) {
  if (!v.exists) return {1, v, 0};
  if (!IsListType(v.type)) return {0, v, ERROR_INVALID_DATATYPE};
  std::vector<std::string> kept;
  bool removed = false;
  for (const std::string &e : ListOf(v.data)) {
    if (SameCaseless(e, name))
      removed = true;
    else
      kept.push_back(e);
  }
  if (!removed) return {1, v, 0};
  if (kept.empty()) return {1, None(), 0};
  return {1, Raw(REG_MULTI_SZ, MultiSz(kept)), 0};
}

RawValue RandomValue(std::mt19937 &rng) {
  if (rng() % 20 == 0) return None();
  // Types 0..11, mostly the three that hold lists.
  std::discrete_distribution<int> type({1, 10, 6, 1, 1, 1, 1, 14, 1, 1, 1, 1});
  RawValue v = Raw(type(rng), {});
  size_t size;
  switch (rng() % 5) {
    case 0: size = rng() % 4; break;
    case 1:
    case 2: size = rng() % 24; break;
    case 3: size = rng() % 200; break;
    default: size = rng() % 3072; break;
  }
  // Plain ASCII, so that the registry's conversion of string data to Unicode
  // and back gives the same bytes under any ANSI code page.
  static const char letters[] = "aAbBcx";
  bool anyByte = !IsListType(v.type) && rng() % 2;
  int nulPercent = 15 + rng() % 50;
  for (size_t i = 0; i < size; ++i) {
    if (anyByte)
      v.data.push_back((unsigned char)rng());
    else if ((int)(rng() % 100) < nulPercent)
      v.data.push_back(0);
    else
      v.data.push_back(letters[rng() % 6]);
  }
  return v;
}

std::string RandomName(std::mt19937 &rng) {
  static const char *names[] = {"a", "A", "b", "ab", "aB", "x", "bca", "cc"};
  return names[rng() % 8];
}

// Checks one operation on one value; true when everything matched.
bool CheckOp(const std::string &path, const RawValue &before, Op op, const std::string &name, int upper) {
  const char *value = ValueName(upper);
  if (before.exists) {
    EXPECT_EQ(ERROR_SUCCESS, SetRaw(HKLM, path, value, before.type, before.data));
  } else {
    DeleteValue(HKLM, path, value);
  }
  Expected want = op == kClean    ? ModelClean(before)
                  : op == kRemove ? ModelRemove(before, name)
                                  : ModelAdd(before, name, op == kAddEnd);
  SetLastError(kPoison);
  int result = RunOp(op, path, name.c_str(), upper);
  DWORD error = GetLastError();
  RawValue after = ReadRaw(HKLM, path, value);

  SCOPED_TRACE(std::string(OpName(op)) + " \"" + name + "\" on " + Show(before));
  EXPECT_EQ(want.result, result);
  EXPECT_EQ(want.lastError, error);
  EXPECT_EQ(Show(want.value), Show(after));

  // The promises themselves, independent of the model above.
  if (op == kClean && after.exists) {
    EXPECT_TRUE(IsListType(after.type));
    EXPECT_EQ(ListSize(ListOf(after.data)), after.data.size());
    if (result == 1) {
      EXPECT_EQ(DWORD(REG_MULTI_SZ), after.type);
    }
  }
  if ((op == kAddFront || op == kAddEnd) && after.exists) {
    std::vector<std::string> list = ListOf(after.data);
    int count = 0;
    for (const std::string &e : list) count += SameCaseless(e, name);
    EXPECT_EQ(1, count);
    EXPECT_EQ(name, op == kAddEnd ? list.back() : list.front());
  }
  if (op == kRemove && result == 1 && after.exists) {
    for (const std::string &e : ListOf(after.data)) EXPECT_FALSE(SameCaseless(e, name));
  }
  return !::testing::Test::HasFailure();
}

TEST(FilterListProperty, RandomValuesKeepEveryPromise) {
  unsigned seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
  if (const char *fixed = getenv("FILTERLIST_SEED")) seed = (unsigned)strtoul(fixed, nullptr, 10);
  SCOPED_TRACE("seed " + std::to_string(seed) + " (set FILTERLIST_SEED to repeat)");
  std::mt19937 rng(seed);
  ScratchKey key;
  const int rounds = 2500;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    RawValue before = RandomValue(rng);
    std::string name = RandomName(rng);
    int upper = rng() % 2;
    if (!CheckOp(key.path(), before, kClean, name, upper)) break;
    if (!CheckOp(key.path(), before, rng() % 2 ? kAddEnd : kAddFront, name, upper)) break;
    if (!CheckOp(key.path(), before, kRemove, name, upper)) break;
  }
}

}  // namespace
