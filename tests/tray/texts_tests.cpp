// The tray's language texts in-process: the table, the file reader, the locale name, the
// relabelled menu, caption and web address, the dialog font, and the files that ship.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include "lng_files.h"
#include "tray_fixture.h"

using namespace testsupport;
using namespace traytest;
using lng::Bytes;

namespace {

// The version block of the test executable, which carries the tray's resources.
const char kVersion[] = "4.2";

// Texts of the English base file that the relabel tests use.
const std::vector<std::pair<unsigned, std::string>> kEnglish = {
    {1, "&Start it"}, {2, "&Mask it"}, {3, "&Help it"}, {4, "&Auto it"}, {5, "E&xit it"},
    {6, "&Web it"}, {7, "Change autostart?"}, {8, "Exit now?"}, {9, "Tray V"},
    {10, "http://www.example.com/en/"}, {11, "Drives:"}, {12, "None"}, {13, "Cancel"},
    {14, "OK"}, {15, "&Drives it"}, {16, "Drives"}, {17, "Failed."}, {18, "Icons"}};

std::string Hex(const std::string &s) {
  std::string out;
  char part[4];
  for (unsigned char c : s) {
    std::snprintf(part, sizeof part, "%02X ", c);
    out += part;
  }
  return out;
}

// Every test works in a folder of its own: ProgramFolder points there, and the language files
// go into its Texts folder.
class TextsTest : public TrayTest {
 protected:
  void SetUp() override {
    TrayTest::SetUp();
    FreeTexts();
    folder_ = std::make_unique<ScratchFolder>("texts");
    texts_ = folder_->Make("Texts");
    SetProgramFolder(folder_->path());
  }
  void TearDown() override {
    TrayTest::TearDown();
    folder_.reset();
  }
  static void SetProgramFolder(const std::string &folder) {
    ASSERT_LT(folder.size(), sizeof ProgramFolder);
    lstrcpyA(ProgramFolder, folder.c_str());
  }
  std::string LanguageFile(const std::string &code) const { return texts_ + "ORVTray" + code + ".lng"; }
  void WriteLanguage(const std::string &code, const Bytes &data) const {
    ASSERT_TRUE(WriteBytes(LanguageFile(code), data)) << code;
  }
  static void SetLocale(HKEY root, const std::string &name) {
    ASSERT_EQ(ERROR_SUCCESS, SetString(root, kSettings, "LocaleName", name));
  }
  // The table as strings, slot 1 at index 0.
  static std::vector<std::string> Table() {
    std::vector<std::string> t;
    for (int n = 1; n <= TEXT_COUNT; n++) t.push_back(GetText(n));
    return t;
  }

  std::unique_ptr<ScratchFolder> folder_;
  std::string texts_;
};

// ---- The table ---------------------------------------------------------------------------

TEST_F(TextsTest, NumbersOutsideTheTableAndEmptySlotsGiveOneEmptyText) {
  const char *empty = GetText(0);
  ASSERT_NE(nullptr, empty);
  EXPECT_STREQ("", empty);
  WriteLanguage("en", lng::NarrowFile(0, {{1, "one"}, {18, "eighteen"}}));
  ASSERT_EQ(1, ReadLanguageFile(LanguageFile("en").c_str()));
  for (int n : {INT_MIN, -1, 0, 19, 256, 65536, INT_MAX}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(empty, GetText(n));
  }
  EXPECT_STREQ("one", GetText(1));
  EXPECT_STREQ("eighteen", GetText(18));
  EXPECT_EQ(empty, GetText(2));

  FreeTexts();
  for (int n = 1; n <= TEXT_COUNT; n++) EXPECT_EQ(empty, GetText(n)) << n;
  FreeTexts();  // twice is harmless
  EXPECT_EQ(empty, GetText(1));
}

// ---- The file reader ---------------------------------------------------------------------

struct ReadCase {
  const char *name;
  std::function<Bytes()> file;  // an empty function: no file at all
  int result;
  int codePage;                 // LanguageCodePage afterwards
  std::map<int, std::string> texts;  // slots that differ from the texts loaded before
};

// Before each case slots 1 to 3 hold "old1" to "old3" from an earlier file.
const std::map<int, std::string> kBefore = {{1, "old1"}, {2, "old2"}, {3, "old3"}};

std::string AnsiOf(const std::wstring &s) {
  char out[64] = "";
  int n = WideCharToMultiByte(CP_ACP, 0, s.c_str(), (int)s.size(), out, sizeof out - 1, nullptr, nullptr);
  return std::string(out, n > 0 ? n : 0);
}

std::vector<ReadCase> ReadCases() {
  using namespace lng;
  std::vector<ReadCase> cases = {
      {"eight_bit_texts_byte_for_byte", [] { return NarrowFile(204, {{1, "Eins"}, {5, "F\xFCnf \x80"}}); },
       1, 204, {{1, "Eins"}, {5, "F\xFCnf \x80"}}},
      {"later_record_of_a_number_wins", [] { return NarrowFile(0, {{4, "first"}, {4, "second"}}); },
       1, 0, {{4, "second"}}},
      {"record_of_length_zero_empties_its_slot", [] { return NarrowFile(7, {{2, ""}}); }, 1, 7, {{2, ""}}},
      {"no_file", {}, 0, -1, {}},
      {"empty_file", [] { return Bytes(); }, 0, -1, {}},
      {"header_of_39_bytes", [] { Bytes b = Header(false, 0); b.pop_back(); return b; }, 0, -1, {}},
      {"version_1", [] { Bytes b = Header(false, 0, 1); return Record(b, 1, Narrow("new")); }, 0, -1, {}},
      {"version_3", [] { Bytes b = Header(false, 0, 3); return Record(b, 1, Narrow("new")); }, 0, -1, {}},
      {"wrong_magic", [] { Bytes b = Header(false, 0, 2, 0x4835C9B9); return Record(b, 1, Narrow("new")); },
       0, -1, {}},
      {"magic_byte_swapped", [] { Bytes b = Header(false, 0, 2, 0xB8C93548); return Record(b, 1, Narrow("new")); },
       0, -1, {}},
      {"header_alone", [] { return Header(false, 1252); }, 1, 1252, {}},
      {"one_byte_after_the_last_record", [] { Bytes b = NarrowFile(0, {{1, "new"}}); b.push_back(1); return b; },
       1, 0, {{1, "new"}}},
      {"two_bytes_after_the_last_record",
       [] { Bytes b = NarrowFile(0, {{1, "new"}}); b.insert(b.end(), {2, 0}); return b; }, 1, 0, {{1, "new"}}},
      {"three_bytes_after_the_last_record",
       [] { Bytes b = NarrowFile(0, {{1, "new"}}); b.insert(b.end(), {2, 0, 9}); return b; }, 1, 0, {{1, "new"}}},
      // The texts before the failure are taken; the slot of the cut text is left empty.
      {"ends_inside_an_eight_bit_text",
       [] { Bytes b = NarrowFile(0, {{4, "four"}}); return Record(b, 1, Narrow("abc"), 10); }, 0, -1,
       {{4, "four"}, {1, ""}}},
      {"records_after_a_failure_are_not_read",
       [] { Bytes b = NarrowFile(0, {{4, "four"}}); Record(b, 2, Narrow("xy"), 3); return b; }, 0, -1,
       {{4, "four"}, {2, ""}}},
      {"ends_inside_a_utf16_text",
       [] { Bytes b = WideFile(1252, {{4, L"four"}}); return Record(b, 3, Utf16(L"ab"), 8); }, 0, -1,
       {{4, "four"}, {3, ""}}},
      {"number_0_19_and_65535_are_skipped_and_reading_goes_on",
       [] { return NarrowFile(0, {{0, "zero"}, {19, "nineteen"}, {65535, "max"}, {2, "two"}}); }, 1, 0,
       {{2, "two"}}},
      {"a_skipped_record_cut_short_fails_the_file",
       [] { Bytes b = NarrowFile(0, {{2, "two"}}); return Record(b, 19, Narrow("abc"), 50); }, 0, -1,
       {{2, "two"}}},
      {"eight_bit_text_of_65535_bytes", [] { return NarrowFile(0, {{3, std::string(65535, 'z')}}); }, 1, 0,
       {{3, std::string(65535, 'z')}}},
      {"nul_inside_an_eight_bit_text_ends_it",
       [] { Bytes b = Header(false, 0); return Record(b, 1, Bytes{'a', 0, 'b'}); }, 1, 0, {{1, "a"}}},
      {"utf16_into_1251", [] { return WideFile(1251, {{1, L"\x0414\x0430"}}); }, 1, 1251, {{1, "\xC4\xE0"}}},
      {"utf16_into_932", [] { return WideFile(932, {{5, L"\x7D42\x4E86(&X)"}}); }, 1, 932,
       {{5, "\x8F\x49\x97\xB9(&X)"}}},
      {"utf16_into_1252_with_a_default_character_for_what_it_lacks",
       [] { return WideFile(1252, {{1, L"\x00C4-\x0414"}}); }, 1, 1252, {{1, "\xC4-?"}}},
      {"utf16_field_0_is_the_ansi_code_page", [] { return WideFile(0, {{1, L"\x00E9t\x00E9"}}); }, 1, 0,
       {{1, AnsiOf(L"\x00E9t\x00E9")}}},
      {"utf16_odd_length_drops_the_last_byte",
       [] { Bytes t = Utf16(L"Ab"); t.push_back('C'); Bytes b = Header(true, 1252); return Record(b, 1, t); },
       1, 1252, {{1, "Ab"}}},
      {"utf16_of_one_byte_converts_to_nothing",
       [] { Bytes b = Header(true, 1252); Record(b, 1, Bytes{'A'}); return Record(b, 2, Utf16(L"two")); }, 1,
       1252, {{1, ""}, {2, "two"}}},
      // A code page that Windows does not have converts nothing: every slot stays empty.
      {"utf16_unknown_code_page", [] { return WideFile(12345, {{1, L"one"}, {2, L"two"}}); }, 1, 12345,
       {{1, ""}, {2, ""}}},
      // UTF-7 refuses the conversion flags; the text is converted without them.
      {"utf16_into_utf7_which_refuses_the_flags", [] { return WideFile(65000, {{1, L"A+b"}}); }, 1, 65000,
       {{1, "A+-b"}}},
      {"utf16_of_exactly_4096_bytes", [] { return WideFile(1252, {{1, std::wstring(2048, L'w')}}); }, 1, 1252,
       {{1, std::string(2048, 'w')}}},
      // Longer than the conversion buffer: converted whole, and the next record is read from
      // the right place.
      {"utf16_longer_than_4096_bytes",
       [] { return WideFile(1252, {{1, std::wstring(2049, L'x')}, {2, L"after"}}); }, 1, 1252,
       {{1, std::string(2049, 'x')}, {2, "after"}}},
      {"utf16_of_65534_bytes", [] { return WideFile(1252, {{3, std::wstring(32767, L'y')}}); }, 1, 1252,
       {{3, std::string(32767, 'y')}}},
  };
  return cases;
}

class FileReaderTest : public TextsTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(FileReaderTest, TakesWhatTheFileHolds) {
  const ReadCase &c = GetParam();
  WriteLanguage("old", lng::NarrowFile(0, {{1, "old1"}, {2, "old2"}, {3, "old3"}}));
  ASSERT_EQ(1, ReadLanguageFile(LanguageFile("old").c_str()));
  const std::string path = LanguageFile("case");
  if (c.file) WriteLanguage("case", c.file());

  EXPECT_EQ(c.result, ReadLanguageFile(path.c_str()));
  EXPECT_EQ(c.codePage, LanguageCodePage);
  for (int n = 1; n <= TEXT_COUNT; n++) {
    SCOPED_TRACE("text " + std::to_string(n));
    std::string expected;
    if (c.texts.count(n))
      expected = c.texts.at(n);
    else if (kBefore.count(n))
      expected = kBefore.at(n);
    std::string got = GetText(n);
    EXPECT_EQ(expected, got) << (got.size() < 40 ? Hex(got) : "");
  }
  // The reader closed the file on its way out, whichever way that was.
  if (c.file) {
    EXPECT_TRUE(DeleteFileA(path.c_str())) << GetLastError();
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FileReaderTest, ::testing::ValuesIn(ReadCases()),
                         [](const ::testing::TestParamInfo<ReadCase> &info) { return std::string(info.param.name); });

// ---- Loading the English file and the chosen one -----------------------------------------

TEST_F(TextsTest, EnglishAloneForAnEmptyOrEnglishLocaleName) {
  WriteLanguage("en", lng::NarrowFile(0, {{1, "Start"}, {2, "Mask"}}));
  WriteLanguage("de", lng::NarrowFile(0, {{1, "Starten"}}));
  for (const char *name : {"", "EN", "en", "En", "eN"}) {
    SCOPED_TRACE(name);
    FreeTexts();
    EXPECT_EQ(1, LoadLanguageTexts(ProgramFolder, name));
    EXPECT_STREQ("Start", GetText(1));
    EXPECT_STREQ("Mask", GetText(2));
  }
}

TEST_F(TextsTest, ChosenLanguageOverEnglishAndEnglishWhereItIsSilent) {
  WriteLanguage("en", lng::NarrowFile(1252, {{1, "Start"}, {2, "Mask"}, {6, "Web"}, {18, "Icons"}}));
  WriteLanguage("de", lng::NarrowFile(0, {{1, "Starten"}, {2, "Maske"}, {3, "Hilfe"}, {4, "Auto"}, {5, "Ende"}}));
  EXPECT_EQ(1, LoadLanguageTexts(ProgramFolder, "de"));
  EXPECT_EQ(0, LanguageCodePage);  // the last file tried
  std::vector<std::string> expected(TEXT_COUNT);
  expected[0] = "Starten";
  expected[1] = "Maske";
  expected[2] = "Hilfe";
  expected[3] = "Auto";
  expected[4] = "Ende";
  expected[5] = "Web";
  expected[17] = "Icons";
  EXPECT_EQ(expected, Table());
}

TEST_F(TextsTest, AChosenFileThatFailsLeavesEnglishAndNoCodePage) {
  WriteLanguage("en", lng::NarrowFile(0, {{1, "Start"}, {2, "Mask"}}));
  EXPECT_EQ(1, LoadLanguageTexts(ProgramFolder, "xx"));  // no such file
  EXPECT_EQ(-1, LanguageCodePage);
  EXPECT_STREQ("Start", GetText(1));
  Bytes cut = lng::NarrowFile(0, {{1, "Starten"}});
  lng::Record(cut, 2, lng::Narrow("Ma"), 5);
  WriteLanguage("de", cut);
  EXPECT_EQ(1, LoadLanguageTexts(ProgramFolder, "de"));
  EXPECT_EQ(-1, LanguageCodePage);
  EXPECT_STREQ("Starten", GetText(1));
  EXPECT_STREQ("", GetText(2));
}

TEST_F(TextsTest, WithoutAnEnglishFileNothingIsReadAndEarlierTextsStay) {
  WriteLanguage("en", lng::NarrowFile(0, {{1, "Start"}}));
  ASSERT_EQ(1, LoadLanguageTexts(ProgramFolder, ""));
  ASSERT_TRUE(DeleteFileA(LanguageFile("en").c_str()));
  WriteLanguage("de", lng::NarrowFile(0, {{1, "Starten"}, {2, "Maske"}}));
  EXPECT_EQ(0, LoadLanguageTexts(ProgramFolder, "de"));
  EXPECT_EQ(-1, LanguageCodePage);
  EXPECT_STREQ("Start", GetText(1));
  EXPECT_STREQ("", GetText(2));

  WriteLanguage("en", lng::Header(false, 0, 3));
  EXPECT_EQ(0, LoadLanguageTexts(ProgramFolder, "de"));
  EXPECT_STREQ("Start", GetText(1));
}

// A name with a path separator or ".." would read a file outside Texts; such a name is no
// language, and the English texts alone are read.
TEST_F(TextsTest, ALocaleNameThatLeavesTheTextsFolderReadsEnglishAlone) {
  WriteLanguage("en", lng::NarrowFile(0, {{1, "Start"}}));
  ASSERT_TRUE(WriteBytes(folder_->path() + "evil.lng", lng::NarrowFile(204, {{1, "EVIL"}})));
  ASSERT_TRUE(WriteBytes(folder_->Make("ORVTray") + "evil.lng", lng::NarrowFile(204, {{1, "EVIL"}})));
  WriteLanguage("plain", lng::NarrowFile(161, {{1, "Plain"}}));
  // The control: an ordinary name reads its file.
  EXPECT_EQ(1, LoadLanguageTexts(ProgramFolder, "plain"));
  EXPECT_STREQ("Plain", GetText(1));
  EXPECT_EQ(161, LanguageCodePage);
  for (const char *name : {"\\..\\..\\evil", "/../../evil", "\\evil", "/evil", "..", "x..y",
                           "c:evil", ":evil"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(1, LoadLanguageTexts(ProgramFolder, name));
    EXPECT_STREQ("Start", GetText(1));
    EXPECT_EQ(0, LanguageCodePage);  // English was the last file tried
  }
}

// The name "%sTexts\ORVTray%s.lng" must fit 260 bytes with its NUL.
TEST_F(TextsTest, AFileNameOver259CharactersIsRefused) {
  // A folder whose English file name takes exactly 259 characters.
  std::string folder = folder_->path();
  const size_t wanted = 259 - std::strlen("Texts\\ORVTrayen.lng");
  ASSERT_LT(folder.size() + 2, wanted);
  while (folder.size() < wanted) {
    // Each step is a name and its backslash; never leave a single character over.
    size_t rest = wanted - folder.size();
    size_t step = rest <= 60 ? rest : (rest - 60 >= 2 ? 60 : 30);
    folder += std::string(step - 1, 'd') + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
  }
  ASSERT_EQ(wanted, folder.size());
  std::string texts = folder + "Texts\\";
  ASSERT_TRUE(CreateDirectoryA(texts.c_str(), nullptr)) << GetLastError();
  ASSERT_TRUE(WriteBytes(texts + "ORVTrayen.lng", lng::NarrowFile(0, {{1, "Start"}})));
  ASSERT_TRUE(WriteBytes(texts + "ORVTrayde.lng", lng::NarrowFile(0, {{1, "Starten"}})));

  EXPECT_EQ(1, LoadLanguageTexts(folder.c_str(), "de"));  // 259 characters each: read
  EXPECT_STREQ("Starten", GetText(1));
  FreeTexts();
  EXPECT_EQ(1, LoadLanguageTexts(folder.c_str(), "deu"));  // 260: refused, English stands
  EXPECT_STREQ("Start", GetText(1));
  EXPECT_EQ(-1, LanguageCodePage);
  FreeTexts();
  std::string longer = folder + "x";
  EXPECT_EQ(0, LoadLanguageTexts(longer.c_str(), ""));
  EXPECT_STREQ("", GetText(1));
  std::string huge(2000, 'h');
  EXPECT_EQ(0, LoadLanguageTexts(huge.c_str(), huge.c_str()));
}

// ---- The relabelled menu, caption and web address ----------------------------------------

TEST_F(TextsTest, WithoutLanguageFilesTheResourceTextsStay) {
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_EQ((std::vector<std::string>{"&Start Orvand...", "-", "&Mask Rec", "-", "Virtual Farodrive...", "-",
                                      "&Help...", "Quintessa &Website...", "-", "Autostart", "-", "E&xit"}),
            MenuShape(Popup()));
  EXPECT_STREQ("Orvand Tray V4.2", TrayCaption);
  EXPECT_EQ(nullptr, WebAddress());
  EXPECT_EQ(std::vector<std::string>(TEXT_COUNT), Table());
  EXPECT_EQ(-1, GetMenuDefaultItem(Popup(), FALSE, 0));
}

TEST_F(TextsTest, RelabelPutsTheTextsOnTheMenuCaptionAndWebAddress) {
  WriteLanguage("en", lng::NarrowFile(0, kEnglish));
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_EQ((std::vector<std::string>{"&Start it", "-", "&Mask it", "-", "&Drives it", "-", "&Help it", "&Web it",
                                      "-", "&Auto it", "-", "E&xit it"}),
            MenuShape(Popup()));
  EXPECT_EQ(std::string("Tray V") + kVersion, TrayCaption);
  ASSERT_NE(nullptr, WebAddress());
  EXPECT_STREQ("http://www.example.com/en/", WebAddress());
  // The start item is the bold default item, the only one.
  EXPECT_EQ(IDM_START, (int)GetMenuDefaultItem(Popup(), FALSE, 0));
  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STATE;
  ASSERT_TRUE(GetMenuItemInfoA(Popup(), IDM_START, FALSE, &info));
  EXPECT_TRUE(info.fState & MFS_DEFAULT);
  for (UINT command : {IDM_MASKING, IDM_HELP, IDM_WEBSITE, IDM_AUTOSTART, IDM_EXIT, IDM_VIRTUALDRIVES})
    EXPECT_FALSE(ItemState(Popup(), command) & MF_DEFAULT) << command;
}

TEST_F(TextsTest, MaskItemIsGrayedWhileTheSwitchIsUnavailable) {
  WriteLanguage("en", lng::NarrowFile(0, kEnglish));
  SetCdio("MaskingAvailable", 0);
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_TRUE(ItemState(Popup(), IDM_MASKING) & MF_GRAYED);
  EXPECT_EQ("&Mask it", ItemText(Popup(), 2));
  RelabelMenu(tray(), 1);
  EXPECT_FALSE(ItemState(Popup(), IDM_MASKING) & MF_GRAYED);
  RelabelMenu(tray(), 0);
  EXPECT_TRUE(ItemState(Popup(), IDM_MASKING) & MF_GRAYED);
  EXPECT_EQ(IDM_START, (int)GetMenuDefaultItem(Popup(), FALSE, 0));
}

// ModifyMenuA replaces an item's state; the relabel hands the check marks on.
TEST_F(TextsTest, RelabelKeepsTheCheckMarks) {
  WriteLanguage("en", lng::NarrowFile(0, kEnglish));
  ASSERT_NE(nullptr, CreateTray());
  CheckMenuItem(Popup(), IDM_AUTOSTART, MF_BYCOMMAND | MF_CHECKED);
  CheckMenuItem(Popup(), IDM_MASKING, MF_BYCOMMAND | MF_CHECKED);
  RelabelMenu(tray(), 0);
  EXPECT_TRUE(ItemState(Popup(), IDM_AUTOSTART) & MF_CHECKED);
  EXPECT_TRUE(ItemState(Popup(), IDM_MASKING) & MF_CHECKED);
  EXPECT_TRUE(ItemState(Popup(), IDM_MASKING) & MF_GRAYED);
  EXPECT_FALSE(ItemState(Popup(), IDM_EXIT) & MF_CHECKED);
}

// A text that no file holds leaves the label on screen instead of a blank item.
TEST_F(TextsTest, AnEmptyTextLeavesTheItemsLabel) {
  WriteLanguage("en", lng::NarrowFile(0, {{1, "&Start it"}, {2, ""}, {5, "E&xit it"}}));
  SetCdio("MaskingAvailable", 0);
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_EQ((std::vector<std::string>{"&Start it", "-", "&Mask Rec", "-", "Virtual Farodrive...", "-", "&Help...",
                                      "Quintessa &Website...", "-", "Autostart", "-", "E&xit it"}),
            MenuShape(Popup()));
  EXPECT_TRUE(ItemState(Popup(), IDM_MASKING) & MF_GRAYED);
  EnableMenuItem(Popup(), IDM_MASKING, MF_BYCOMMAND | MF_ENABLED);
  RelabelMenu(tray(), 0);
  EXPECT_TRUE(ItemState(Popup(), IDM_MASKING) & MF_GRAYED);
  EXPECT_EQ("&Mask Rec", ItemText(Popup(), 2));
  // Neither file holds text 9: the caption is the version alone; text 10: an empty address.
  EXPECT_STREQ(kVersion, TrayCaption);
  ASSERT_NE(nullptr, WebAddress());
  EXPECT_STREQ("", WebAddress());
}

TEST_F(TextsTest, AnItemRemovedFromTheMenuStaysAway) {
  WriteLanguage("en", lng::NarrowFile(0, kEnglish));
  SetVcd("Installed", 0);
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_EQ((std::vector<std::string>{"&Start it", "-", "&Mask it", "-", "&Help it", "&Web it", "-", "&Auto it",
                                      "-", "E&xit it"}),
            MenuShape(Popup()));
  EXPECT_EQ((UINT)-1, ItemState(Popup(), IDM_VIRTUALDRIVES));
}

TEST_F(TextsTest, ALongCaptionTextIsCutSoTheVersionStillShows) {
  std::vector<std::pair<unsigned, std::string>> texts = kEnglish;
  texts[8].second = std::string(100, 'C');
  WriteLanguage("en", lng::NarrowFile(0, texts));
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_EQ(std::string(76, 'C') + kVersion, TrayCaption);
  EXPECT_EQ(79u, std::strlen(TrayCaption));
}

TEST_F(TextsTest, PerUserLocaleNameWinsAtTheNextRelabel) {
  WriteLanguage("en", lng::NarrowFile(0, kEnglish));
  WriteLanguage("de", lng::NarrowFile(0, {{1, "&Starten"}, {10, "http://www.example.com/de/"}}));
  WriteLanguage("fr", lng::NarrowFile(0, {{1, "&D\xE9marrer"}}));
  SetLocale(HKEY_LOCAL_MACHINE, "de");
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_EQ("&Starten", ItemText(Popup(), 0));
  EXPECT_STREQ("http://www.example.com/de/", WebAddress());

  SetLocale(HKEY_CURRENT_USER, "fr");
  SendMessageA(tray(), ShowIconMessage, 0, 0);
  EXPECT_EQ("&D\xE9marrer", ItemText(Popup(), 0));
  EXPECT_STREQ("http://www.example.com/en/", WebAddress());  // French lacks text 10

  SetLocale(HKEY_CURRENT_USER, "EN");
  RelabelMenu(tray(), 1);
  EXPECT_EQ("&Start it", ItemText(Popup(), 0));
}

TEST_F(TextsTest, LocaleNameValuesOfOddShapes) {
  WriteLanguage("en", lng::NarrowFile(0, {{1, "English"}}));
  WriteLanguage("de", lng::NarrowFile(0, {{1, "Deutsch"}}));
  WriteLanguage("fr", lng::NarrowFile(0, {{1, "Francais"}}));
  WriteLanguage("abcdefghijklmnopqr", lng::NarrowFile(0, {{1, "Eighteen"}}));
  WriteLanguage("abcdefghijklmnopqrs", lng::NarrowFile(0, {{1, "Nineteen"}}));
  struct Shape {
    const char *name;
    DWORD type;
    Bytes data;
    const char *text1;
  };
  const Shape shapes[] = {
      {"plain", REG_SZ, B("de\0", 3), "Deutsch"},
      {"without its NUL", REG_SZ, B("fr", 2), "Francais"},
      {"18 characters and the NUL fill the 19 bytes", REG_SZ, B("abcdefghijklmnopqr\0", 19), "Eighteen"},
      {"19 characters without a NUL fill them too", REG_SZ, B("abcdefghijklmnopqrs", 19), "Nineteen"},
      // Too long for 19 bytes: no language code, English alone.
      {"19 characters and the NUL", REG_SZ, B("abcdefghijklmnopqrs\0", 20), "English"},
      {"too long", REG_SZ, Bytes(300, 'x'), "English"},
      {"empty", REG_SZ, B("\0", 1), "English"},
      // The type is not asked for: bytes are bytes.
      {"binary", REG_BINARY, B("de", 2), "Deutsch"},
  };
  for (const Shape &s : shapes) {
    SCOPED_TRACE(s.name);
    // A name of 8 characters first, so that a shorter value shows whether it mixes with it.
    SetLocale(HKEY_CURRENT_USER, "zzzzzzzz");
    ReadLocaleName();
    ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKEY_CURRENT_USER, kSettings, "LocaleName", s.type, s.data));
    RelabelMenu(nullptr, 1);
    EXPECT_STREQ(s.text1, GetText(1));
  }
}

// Where neither key holds a value, the name read last time stays.
TEST_F(TextsTest, WithoutAnyLocaleValueTheNameReadBeforeStays) {
  WriteLanguage("en", lng::NarrowFile(0, {{1, "English"}}));
  WriteLanguage("de", lng::NarrowFile(0, {{1, "Deutsch"}}));
  SetLocale(HKEY_CURRENT_USER, "de");
  RelabelMenu(nullptr, 1);
  EXPECT_STREQ("Deutsch", GetText(1));
  DeleteValue(HKEY_CURRENT_USER, kSettings, "LocaleName");
  FreeTexts();
  RelabelMenu(nullptr, 1);
  EXPECT_STREQ("Deutsch", GetText(1));
}

TEST_F(TextsTest, AFailedEnglishFileLeavesMenuCaptionAndWebAddress) {
  WriteLanguage("en", lng::NarrowFile(0, kEnglish));
  ASSERT_NE(nullptr, CreateTray());
  const std::vector<std::string> shape = MenuShape(Popup());
  const std::string caption = TrayCaption;
  // The new English file replaces text 10 and then ends inside a text: the old text 10 is
  // released, the relabel stops, and the web address must not go with it.
  Bytes cut = lng::NarrowFile(0, {{10, "http://www.example.com/changed/"}, {9, "New V"}});
  lng::Record(cut, 1, lng::Narrow("Sta"), 9);
  WriteLanguage("en", cut);
  RelabelMenu(tray(), 1);
  EXPECT_STREQ("http://www.example.com/changed/", GetText(10));
  EXPECT_EQ(shape, MenuShape(Popup()));
  EXPECT_EQ(caption, TrayCaption);
  ASSERT_NE(nullptr, WebAddress());
  EXPECT_STREQ("http://www.example.com/en/", WebAddress());
  // The copy lives in a block of its own, not in a released slot.
  EXPECT_NE((SIZE_T)-1, HeapSize(GetProcessHeap(), 0, WebAddress()));

  FreeTexts();
  EXPECT_EQ(nullptr, WebAddress());
}

// ---- The dialog's font -------------------------------------------------------------------

INT_PTR CALLBACK PlainDialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

struct FontCase {
  const char *name;
  bool wide;
  uint32_t field;
  int charset;
};

class LanguageFontTest : public TextsTest, public ::testing::WithParamInterface<FontCase> {};

// 8-bit files and a field of 0 take the field's low byte; a UTF-16 file takes the set that
// Windows pairs with its code page, and the low byte where there is none.
TEST_P(LanguageFontTest, CharacterSetForTheFile) {
  const FontCase &c = GetParam();
  WriteLanguage("en", c.wide ? lng::WideFile(c.field, {{1, L"x"}}) : lng::NarrowFile(c.field, {{1, "x"}}));
  ASSERT_EQ(1, ReadLanguageFile(LanguageFile("en").c_str()));
  HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_VIRTUALDRIVES), nullptr,
                                   PlainDialog, 0);
  ASSERT_NE(nullptr, dialog);
  HFONT resourceFont = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
  LOGFONTA before{};
  ASSERT_NE(0, GetObjectA(resourceFont, sizeof before, &before));

  HFONT font = CreateLanguageFont(dialog, LanguageCodePage);
  ASSERT_NE(nullptr, font);
  LOGFONTA made{};
  ASSERT_NE(0, GetObjectA(font, sizeof made, &made));
  EXPECT_EQ(c.charset, made.lfCharSet);
  EXPECT_STREQ(before.lfFaceName, made.lfFaceName);
  EXPECT_EQ(before.lfHeight, made.lfHeight);
  // Every control that shows text; the icon keeps no font.
  int children = 0;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char cls[32] = "";
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
    EXPECT_EQ((WPARAM)font, (WPARAM)SendMessageA(child, WM_GETFONT, 0, 0)) << GetDlgCtrlID(child);
    children++;
  }
  EXPECT_EQ(5, children);
  DestroyWindow(dialog);
  EXPECT_TRUE(DeleteObject(font));
}

INSTANTIATE_TEST_SUITE_P(
    Files, LanguageFontTest,
    ::testing::Values(FontCase{"eight_bit_field_0", false, 0, ANSI_CHARSET},
                      FontCase{"eight_bit_field_204", false, 204, RUSSIAN_CHARSET},
                      FontCase{"eight_bit_field_128", false, 128, SHIFTJIS_CHARSET},
                      FontCase{"eight_bit_field_932_keeps_its_low_byte", false, 932, 164},
                      FontCase{"utf16_932", true, 932, SHIFTJIS_CHARSET},
                      FontCase{"utf16_1251", true, 1251, RUSSIAN_CHARSET},
                      FontCase{"utf16_1252", true, 1252, ANSI_CHARSET},
                      FontCase{"utf16_936", true, 936, GB2312_CHARSET},
                      FontCase{"utf16_field_0", true, 0, ANSI_CHARSET},
                      FontCase{"utf16_code_page_windows_does_not_pair", true, 12345, 12345 & 0xFF}),
    [](const ::testing::TestParamInfo<FontCase> &info) { return std::string(info.param.name); });

TEST_F(TextsTest, NoLanguageFontWithoutACodePageOrADialogFont) {
  HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_VIRTUALDRIVES), nullptr,
                                   PlainDialog, 0);
  ASSERT_NE(nullptr, dialog);
  HFONT resourceFont = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
  EXPECT_EQ(nullptr, CreateLanguageFont(dialog, -1));
  EXPECT_EQ(nullptr, CreateLanguageFont(dialog, INT_MIN));
  EXPECT_EQ((WPARAM)resourceFont, (WPARAM)SendMessageA(dialog, WM_GETFONT, 0, 0));
  DestroyWindow(dialog);
  // A window without a font of its own.
  HWND plain = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, plain);
  EXPECT_EQ(nullptr, CreateLanguageFont(plain, 0));
  DestroyWindow(plain);
}

// ---- The files that ship -----------------------------------------------------------------

struct Shipped {
  const char *code;
  int codePage;
};
const Shipped kShipped[] = {{"en", 0}, {"de", 0}, {"fr", 0}, {"ja", 932}};

TEST_F(TextsTest, ShippedFilesHoldAll18TextsAndTheirWebAddress) {
  for (const Shipped &s : kShipped) {
    SCOPED_TRACE(s.code);
    std::string path = DistPath(std::string("Texts\\ORVTray") + s.code + ".lng");
    lng::Parsed parsed = lng::Parse(ReadBytes(path));
    ASSERT_TRUE(parsed.complete);
    EXPECT_EQ(s.codePage != 0, parsed.wide);
    FreeTexts();
    ASSERT_EQ(1, ReadLanguageFile(path.c_str()));
    EXPECT_EQ(s.codePage, LanguageCodePage);
    for (int n = 1; n <= TEXT_COUNT; n++) EXPECT_STRNE("", GetText(n)) << n;
    EXPECT_EQ(std::string("http://www.example.com/orvand/") + s.code + "/", GetText(10));
    EXPECT_STREQ("Orvand Tray V", GetText(9));
  }
}

TEST_F(TextsTest, ShippedGermanAndFrenchReachTheMenuAsWindowsLatin) {
  std::string dist = DistPath("");
  SetProgramFolder(dist);
  SetLocale(HKEY_CURRENT_USER, "de");
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_EQ("&Beenden", ItemText(Popup(), 11));
  SetLocale(HKEY_CURRENT_USER, "fr");
  RelabelMenu(tray(), 1);
  wchar_t label[64] = L"";
  GetMenuStringW(Popup(), IDM_START, label, 64, MF_BYCOMMAND);
  EXPECT_STREQ(L"&D\x00E9marrer Orvand...", label);
  EXPECT_STREQ("Orvand Tray V4.2", TrayCaption);
  EXPECT_STREQ("http://www.example.com/orvand/fr/", WebAddress());
}

// ---- A Japanese system -------------------------------------------------------------------

// Runs where the ANSI code page is 932: in the test entry that starts the tests under a
// Japanese locale (TRAY_LOCALE_RUN=ja), where it must be, or on a Japanese system.
class JapaneseLocale : public TextsTest {
 protected:
  void SetUp() override {
    const char *run = std::getenv("TRAY_LOCALE_RUN");
    if (run && std::string(run) == "ja") {
      ASSERT_EQ(932u, GetACP());
    } else if (GetACP() != 932) {
      GTEST_SKIP() << "not a Japanese system";
    }
    TextsTest::SetUp();
  }
};

TEST_F(JapaneseLocale, TextsComeOutAsShiftJis) {
  // The same source compiled by the tool into an 8-bit file of code page 932: Python's codec
  // says which bytes the tray's conversion must give.
  std::vector<std::string> expected;
  std::string reference = DistPath("") + "..\\tests\\texts\\ORVTrayja-cp932.lng";
  ASSERT_EQ(1, ReadLanguageFile(reference.c_str()));
  EXPECT_EQ(SHIFTJIS_CHARSET, LanguageCodePage);
  expected = Table();
  FreeTexts();
  ASSERT_EQ(1, ReadLanguageFile(DistPath("Texts\\ORVTrayja.lng").c_str()));
  EXPECT_EQ(932, LanguageCodePage);
  for (int n = 1; n <= TEXT_COUNT; n++) {
    SCOPED_TRACE(n);
    EXPECT_EQ(expected[n - 1], GetText(n)) << Hex(GetText(n));
    EXPECT_STRNE("", GetText(n));
  }
  // "終了(&X)", text 5.
  EXPECT_STREQ("\x8F\x49\x97\xB9(&X)", GetText(5));
}

TEST_F(JapaneseLocale, MenuShowsTheJapaneseTexts) {
  lng::Parsed shipped = lng::Parse(ReadBytes(DistPath("Texts\\ORVTrayja.lng")));
  ASSERT_TRUE(shipped.complete);
  std::map<unsigned, std::wstring> texts;
  for (const auto &r : shipped.records) texts[r.first] = lng::FromUtf16(r.second);
  SetProgramFolder(DistPath(""));
  SetLocale(HKEY_CURRENT_USER, "ja");
  ASSERT_NE(nullptr, CreateTray());
  const std::pair<UINT, unsigned> items[] = {{IDM_START, 1}, {IDM_MASKING, 2}, {IDM_HELP, 3}, {IDM_AUTOSTART, 4},
                                             {IDM_EXIT, 5}, {IDM_WEBSITE, 6}, {IDM_VIRTUALDRIVES, 15}};
  for (const auto &item : items) {
    SCOPED_TRACE(item.second);
    wchar_t label[128] = L"";
    GetMenuStringW(Popup(), item.first, label, 128, MF_BYCOMMAND);
    EXPECT_EQ(texts[item.second], std::wstring(label));
  }
  wchar_t caption[128] = L"";
  MultiByteToWideChar(CP_ACP, 0, TrayCaption, -1, caption, 128);
  EXPECT_EQ(texts[9] + L"4.2", std::wstring(caption));
}

int CALLBACK CountFace(const LOGFONTA *, const TEXTMETRICA *, DWORD, LPARAM count) {
  ++*(int *)count;
  return 1;
}

TEST_F(JapaneseLocale, DialogFontIsShiftJisAndTheSystemHasSuchAFont) {
  ASSERT_EQ(1, ReadLanguageFile(DistPath("Texts\\ORVTrayja.lng").c_str()));
  HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_VIRTUALDRIVES), nullptr,
                                   PlainDialog, 0);
  ASSERT_NE(nullptr, dialog);
  HFONT font = CreateLanguageFont(dialog, LanguageCodePage);
  ASSERT_NE(nullptr, font);
  LOGFONTA made{};
  GetObjectA(font, sizeof made, &made);
  EXPECT_EQ(SHIFTJIS_CHARSET, made.lfCharSet);
  // What the screen gets: a face that draws Shift_JIS and has the glyphs of "終了".
  HDC dc = GetDC(dialog);
  HGDIOBJ old = SelectObject(dc, font);
  EXPECT_EQ(SHIFTJIS_CHARSET, GetTextCharset(dc));
  WORD glyphs[2] = {0, 0};
  EXPECT_EQ(2u, GetGlyphIndicesW(dc, L"\x7D42\x4E86", 2, glyphs, GGI_MARK_NONEXISTING_GLYPHS));
  EXPECT_NE(0xFFFF, glyphs[0]);
  EXPECT_NE(0xFFFF, glyphs[1]);
  // The menus and boxes draw with the Japanese interface font, which the prefix maps to an
  // installed face.
  HFONT ui = CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, 0, 0, 0, 0,
                         "MS UI Gothic");
  SelectObject(dc, ui);
  glyphs[0] = glyphs[1] = 0;
  EXPECT_EQ(2u, GetGlyphIndicesW(dc, L"\x7D42\x4E86", 2, glyphs, GGI_MARK_NONEXISTING_GLYPHS));
  EXPECT_NE(0xFFFF, glyphs[0]);
  EXPECT_NE(0xFFFF, glyphs[1]);
  char face[LF_FACESIZE] = "";
  GetTextFaceA(dc, sizeof face, face);
  std::printf("Japanese interface font: %s\n", face);
  SelectObject(dc, old);
  DeleteObject(ui);
  LOGFONTA want{};
  want.lfCharSet = SHIFTJIS_CHARSET;
  int faces = 0;
  EnumFontFamiliesExA(dc, &want, CountFace, (LPARAM)&faces, 0);
  ReleaseDC(dialog, dc);
  EXPECT_GT(faces, 0);
  DestroyWindow(dialog);
  DeleteObject(font);
}

}  // namespace
