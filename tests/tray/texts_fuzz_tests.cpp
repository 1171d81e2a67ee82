// Mutated and cut language files fed to the tray's reader: nothing crashes, every slot ends as
// a terminated text or empty, LanguageCodePage tells a failed file, and neither memory nor a
// file is left behind.  Seeded: TEXTS_FUZZ_SEED=<seed> TEXTS_FUZZ_ONLY=<case> replays one case,
// TEXTS_FUZZ_COUNT sets how many run.
#include <io.h>
#include <fcntl.h>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include "lng_files.h"
#include "tray_fixture.h"

using namespace testsupport;
using namespace traytest;
using lng::Bytes;

namespace {

const unsigned long kDefaultSeed = 20240611;
const unsigned long kDefaultCount = 10000;

unsigned long EnvNumber(const char *name, unsigned long fallback) {
  const char *v = std::getenv(name);
  return v && *v ? std::strtoul(v, nullptr, 0) : fallback;
}

// What the table should hold: no value for an empty slot.
struct Slot {
  bool filled = false;
  std::string text;
};
using Table = std::array<Slot, TEXT_COUNT + 1>;

struct Expected {
  bool whole = false;
  int codePage = -1;
  Table table;
};

// The conversion as the file format describes it, the flags left out for code pages that
// refuse them.  `fails` when the second pass does not give what the first one measured (the
// symbol code page measures texts that it then refuses to convert).
Slot Convert(UINT codePage, const Bytes &text, bool &fails) {
  Slot slot;
  fails = false;
  int count = (int)(text.size() / 2);
  if (count == 0) return slot;
  std::wstring units = lng::FromUtf16(text);
  DWORD flags = WC_COMPOSITECHECK | WC_DEFAULTCHAR;
  int needed = WideCharToMultiByte(codePage, flags, units.data(), count, nullptr, 0, nullptr, nullptr);
  if (needed == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;
    needed = WideCharToMultiByte(codePage, 0, units.data(), count, nullptr, 0, nullptr, nullptr);
  }
  if (needed == 0) return slot;
  std::string out(needed, '\0');
  if (WideCharToMultiByte(codePage, flags, units.data(), count, &out[0], needed, nullptr, nullptr) != needed) {
    fails = true;
    return slot;
  }
  slot.filled = true;
  slot.text = out;
  return slot;
}

// The reader's result worked out from the bytes, over the table as it was.
Expected Predict(const Bytes &file, const Table &before) {
  Expected e;
  e.table = before;
  if (file.size() < (size_t)lng::kHeaderBytes || lng::Get32(file, 0) != lng::kMagic || lng::Get32(file, 4) != 2)
    return e;
  bool wide = (file[28] & 1) != 0;
  uint32_t field = lng::Get32(file, 32);
  size_t at = lng::kHeaderBytes;
  while (file.size() - at >= 4) {
    unsigned number = file[at] | (file[at + 1] << 8);
    size_t length = file[at + 2] | (file[at + 3] << 8);
    at += 4;
    bool slot = number >= 1 && number <= TEXT_COUNT;
    if (slot) e.table[number] = Slot();
    if (file.size() - at < length) return e;
    Bytes text(file.begin() + at, file.begin() + at + length);
    at += length;
    if (!slot || length == 0) continue;
    if (wide) {
      bool fails;
      e.table[number] = Convert(field, text, fails);
      if (fails) return e;
    } else {
      e.table[number].filled = true;
      e.table[number].text.assign(text.begin(), text.end());
    }
  }
  e.whole = true;
  e.codePage = (int)field;
  return e;
}

// ---- Files -------------------------------------------------------------------------------

class Maker {
 public:
  explicit Maker(unsigned long seed) : rng_(seed) {}
  unsigned Below(unsigned n) { return n ? (unsigned)(rng_() % n) : 0; }
  bool Chance(unsigned percent) { return Below(100) < percent; }

  Bytes Text(bool wide) {
    unsigned pick = Below(100);
    // Mostly short; some about the 4096 bytes of the conversion buffer, a few beyond it.
    size_t units = pick < 70 ? Below(25) : pick < 92 ? 25 + Below(200) : pick < 99 ? 2040 + Below(20)
                                                                                  : 2049 + Below(2500);
    Bytes b;
    if (!wide) {
      for (size_t i = 0; i < units; i++) b.push_back((unsigned char)(Chance(80) ? 0x20 + Below(0x5F) : Below(256)));
      return b;
    }
    static const unsigned ranges[][2] = {{0x20, 0x7F},     {0xA0, 0x100},   {0x400, 0x460}, {0x3040, 0x3100},
                                         {0x4E00, 0xA000}, {0xD800, 0xE000}, {0, 0x10000},  {0xFF00, 0xFFF0}};
    const unsigned *range = ranges[Below(8)];
    for (size_t i = 0; i < units; i++) lng::Put16(b, range[0] + Below(range[1] - range[0]));
    if (Chance(10)) b.push_back((unsigned char)Below(256));  // odd length
    return b;
  }

  unsigned Number() {
    unsigned pick = Below(100);
    if (pick < 80) return 1 + Below(TEXT_COUNT);
    if (pick < 90) return Chance(50) ? 0 : TEXT_COUNT + 1;
    return Below(0x10000);
  }

  // A well-formed file.
  Bytes File(bool wide) {
    static const uint32_t fields[] = {0, 1252, 1251, 932, 936, 949, 65000, 65001, 42, 12345, 437, 20127, 204, 128};
    Bytes b = lng::Header(wide, fields[Below(sizeof fields / sizeof fields[0])]);
    unsigned records = Below(21);
    for (unsigned i = 0; i < records; i++) lng::Record(b, Number(), Text(wide));
    return b;
  }

  void Mutate(Bytes &b) {
    switch (Below(8)) {
    case 0:  // one bit
      if (!b.empty()) b[Below((unsigned)b.size())] ^= (unsigned char)(1u << Below(8));
      break;
    case 1:  // one byte
      if (!b.empty()) b[Below((unsigned)b.size())] = (unsigned char)Below(256);
      break;
    case 2:  // cut anywhere, the header included
      b.resize(Below((unsigned)b.size() + 1));
      break;
    case 3:  // a record's length field, or any two bytes after the header
      if (b.size() > 42) {
        size_t at = 40 + Below((unsigned)b.size() - 41);
        b[at] = (unsigned char)Below(256);
        b[at + 1] = (unsigned char)Below(256);
      }
      break;
    case 4: {  // bytes put in
      size_t at = Below((unsigned)b.size() + 1);
      unsigned n = 1 + Below(8);
      for (unsigned i = 0; i < n; i++) b.insert(b.begin() + at, (unsigned char)Below(256));
      break;
    }
    case 5:  // bytes taken out
      if (!b.empty()) {
        size_t at = Below((unsigned)b.size());
        size_t n = 1 + Below((unsigned)(b.size() - at));
        b.erase(b.begin() + at, b.begin() + at + n);
      }
      break;
    case 6:  // a stretch repeated
      if (!b.empty()) {
        size_t at = Below((unsigned)b.size());
        size_t n = 1 + Below((unsigned)std::min<size_t>(64, b.size() - at));
        Bytes part(b.begin() + at, b.begin() + at + n);
        b.insert(b.begin() + Below((unsigned)b.size() + 1), part.begin(), part.end());
      }
      break;
    case 7:  // the header's meaningful fields
      if (b.size() >= 40) {
        switch (Below(4)) {
        case 0: b[28] ^= 1; break;
        case 1: for (int i = 32; i < 36; i++) b[i] = (unsigned char)Below(256); break;
        case 2: b[4] = (unsigned char)Below(4); break;
        default: b[Below(4)] ^= (unsigned char)(1 + Below(255)); break;
        }
      }
      break;
    }
  }

  // The number of the file read first, to fill some slots, and the file under test.
  void Case(unsigned &before, Bytes &file) {
    before = Below(kBeforeFiles);
    file = File(Chance(50));
    unsigned mutations = Chance(15) ? 0 : 1 + Below(4);
    for (unsigned i = 0; i < mutations; i++) Mutate(file);
  }

  static const unsigned kBeforeFiles = 16;

 private:
  std::mt19937 rng_;
};

unsigned long CaseSeed(unsigned long seed, unsigned long index) { return seed * 1000003UL + index; }

// ---- Counting --------------------------------------------------------------------------

struct HeapCount {
  size_t blocks = 0;
  size_t bytes = 0;
  bool operator==(const HeapCount &o) const { return blocks == o.blocks && bytes == o.bytes; }
};

HeapCount CountProcessHeap() {
  HeapCount c;
  HANDLE heap = GetProcessHeap();
  PROCESS_HEAP_ENTRY entry{};
  HeapLock(heap);
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
      c.blocks++;
      c.bytes += entry.cbData;
    }
  }
  HeapUnlock(heap);
  return c;
}

// The lowest free handle and the lowest free C file number: a file or handle left open by the
// reader would take them.
struct OpenCount {
  uintptr_t handle = 0;
  int fd = -1;
  bool operator==(const OpenCount &o) const { return handle == o.handle && fd == o.fd; }
};

OpenCount ProbeOpen(const std::string &probe) {
  OpenCount c;
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  c.handle = (uintptr_t)event;
  CloseHandle(event);
  c.fd = _open(probe.c_str(), _O_RDONLY | _O_BINARY);
  if (c.fd >= 0) _close(c.fd);
  return c;
}

std::string HexHead(const Bytes &b) {
  std::ostringstream out;
  out << b.size() << " bytes:";
  for (size_t i = 0; i < b.size() && i < 96; i++) {
    char part[4];
    std::snprintf(part, sizeof part, " %02X", b[i]);
    out << part;
  }
  return out.str();
}

// Every slot against the prediction: an empty slot gives the one empty text, a filled slot a
// heap block of exactly its text and a NUL.
::testing::AssertionResult TableMatches(const Table &expected) {
  const char *empty = GetText(0);
  for (int n = 1; n <= TEXT_COUNT; n++) {
    const char *p = GetText(n);
    if (!p) return ::testing::AssertionFailure() << "text " << n << " is NULL";
    if (!expected[n].filled) {
      if (p != empty) return ::testing::AssertionFailure() << "text " << n << " should be empty";
      continue;
    }
    if (p == empty) return ::testing::AssertionFailure() << "text " << n << " is empty";
    const std::string &want = expected[n].text;
    SIZE_T size = HeapSize(GetProcessHeap(), 0, p);
    if (size != want.size() + 1)
      return ::testing::AssertionFailure() << "text " << n << " is a block of " << size << " bytes, not "
                                           << want.size() + 1;
    if (p[want.size()] != '\0') return ::testing::AssertionFailure() << "text " << n << " is not terminated";
    if (std::memcmp(p, want.data(), want.size()) != 0)
      return ::testing::AssertionFailure() << "text " << n << " differs";
  }
  return ::testing::AssertionSuccess();
}

Table EmptyTable() { return Table(); }

class TextsFuzzTest : public TrayTest {};

TEST_F(TextsFuzzTest, MutatedAndCutFilesNeverHurtTheTable) {
  const unsigned long seed = EnvNumber("TEXTS_FUZZ_SEED", kDefaultSeed);
  const unsigned long count = EnvNumber("TEXTS_FUZZ_COUNT", kDefaultCount);
  const long only = std::getenv("TEXTS_FUZZ_ONLY") ? (long)EnvNumber("TEXTS_FUZZ_ONLY", 0) : -1;
  // One-time work of the system (code page tables, stream blocks, handles it keeps) happens in
  // these first cases; the counts are taken after them.
  const unsigned long warmup = only >= 0 ? 0 : std::min<unsigned long>(count, 300);
  RecordProperty("seed", (int)seed);
  ScratchFolder folder("texts_fuzz");
  const std::string path = folder.path() + "case.lng";
  const std::string probe = folder.path() + "probe.bin";
  ASSERT_TRUE(WriteBytes(probe, Bytes{1}));

  // Well-formed 8-bit files that fill slots before each case, so that releases show.
  std::vector<std::string> beforePaths;
  std::vector<Table> beforeTables;
  Maker filler(seed);
  for (unsigned k = 0; k < Maker::kBeforeFiles; k++) {
    Bytes b = filler.File(false);
    beforePaths.push_back(folder.path() + "before" + std::to_string(k) + ".lng");
    ASSERT_TRUE(WriteBytes(beforePaths.back(), b));
    beforeTables.push_back(Predict(b, EmptyTable()).table);
  }

  // Every code page a case names is loaded before the counts, whichever case comes first.
  std::vector<uint32_t> fields;
  unsigned before = 0;
  Bytes file;
  for (unsigned long i = 0; i < count; i++) {
    if (only >= 0 && (long)i != only) continue;
    Maker maker(CaseSeed(seed, i));
    maker.Case(before, file);
    if (file.size() >= 36) fields.push_back(lng::Get32(file, 32));
  }
  std::sort(fields.begin(), fields.end());
  fields.erase(std::unique(fields.begin(), fields.end()), fields.end());
  for (uint32_t field : fields) {
    char out[8];
    for (DWORD flags : {(DWORD)(WC_COMPOSITECHECK | WC_DEFAULTCHAR), (DWORD)0})
      WideCharToMultiByte(field, flags, L"a\x00E9", 2, out, sizeof out, nullptr, nullptr);
  }

  HeapCount heapBefore;
  OpenCount openBefore;
  unsigned long whole = 0, failed = 0, run = 0;
  for (unsigned long i = 0; i < count; i++) {
    if (only >= 0 && (long)i != only) continue;
    if (i == warmup) {
      FreeTexts();
      heapBefore = CountProcessHeap();
      openBefore = ProbeOpen(probe);
    }
    Maker maker(CaseSeed(seed, i));
    maker.Case(before, file);
    const Expected expected = Predict(file, beforeTables[before]);
    ASSERT_TRUE(WriteBytes(path, file));

    FreeTexts();
    int firstResult = ReadLanguageFile(beforePaths[before].c_str());
    int result = ReadLanguageFile(path.c_str());
    run++;

    std::ostringstream where;
    where << "case " << i << " (replay: TEXTS_FUZZ_SEED=" << seed << " TEXTS_FUZZ_ONLY=" << i << "), file "
          << HexHead(file);
    ASSERT_EQ(1, firstResult) << where.str();
    ASSERT_EQ(expected.whole ? 1 : 0, result) << where.str();
    // -1 exactly when the file failed (a file read whole whose field is -1 looks the same).
    if (result)
      ASSERT_EQ(expected.codePage, LanguageCodePage) << where.str();
    else
      ASSERT_EQ(-1, LanguageCodePage) << where.str();
    ASSERT_TRUE(TableMatches(expected.table)) << where.str();
    // A file still open cannot be deleted.
    ASSERT_TRUE(DeleteFileA(path.c_str())) << "left open: " << where.str();
    (result ? whole : failed)++;
  }
  FreeTexts();
  for (int n = 1; n <= TEXT_COUNT; n++) EXPECT_EQ(GetText(0), GetText(n));
  for (const std::string &p : beforePaths) EXPECT_TRUE(DeleteFileA(p.c_str())) << "left open: " << p;

  if (only < 0) {
    const HeapCount heapAfter = CountProcessHeap();
    EXPECT_EQ(heapBefore.blocks, heapAfter.blocks) << "heap blocks";
    EXPECT_EQ(heapBefore.bytes, heapAfter.bytes) << "heap bytes";
    const OpenCount openAfter = ProbeOpen(probe);
    EXPECT_EQ(openBefore.handle, openAfter.handle) << "lowest free handle";
    EXPECT_EQ(openBefore.fd, openAfter.fd) << "lowest free file number";
    // Both outcomes are well represented, or the mutations are too mild or too wild.
    EXPECT_GT(whole, run / 10);
    EXPECT_GT(failed, run / 10);
  }
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
  std::printf("%lu files (seed %lu): %lu read whole, %lu failed\n", run, seed, whole, failed);
}

}  // namespace
