// The media-masking switch in-process: the stored choice, what reaches the I/O layer, the menu
// item and the icon, for every event that touches the switch.
#include "tray_fixture.h"
#include <shellapi.h>

using namespace testsupport;
using namespace traytest;

namespace {

class MaskingTest : public TrayTest {
 protected:
  void Enable(WPARAM wParam) { SendMessageA(tray(), EnableMessage, wParam, 0); }
  void ShowIcon() { SendMessageA(tray(), ShowIconMessage, 0, 0); }
  void Toggle() { SendMessageA(tray(), WM_COMMAND, IDM_MASKING, 0); }
  bool Checked() { return (ItemState(Popup(), IDM_MASKING) & MF_CHECKED) != 0; }
  bool Grayed() { return (ItemState(Popup(), IDM_MASKING) & MF_GRAYED) != 0; }
  DWORD Commands() { return CdioCalls("MaskRec_SendCommand"); }
  // The picture of the last icon call, or null when there was none since the last reset.
  HICON LastIcon() { return seam::iconCalls.empty() ? nullptr : seam::iconCalls.back().icon; }
  static RawValue Stored() { return ReadRaw(HKEY_CURRENT_USER, kSettings, "OrvandTrayStatus"); }
  static Bytes Dword(DWORD v) { return Bytes((unsigned char *)&v, (unsigned char *)&v + 4); }
};

// ---- the stored choice at window creation ----------------------------------------------

struct StoredCase {
  const char *name;
  bool exists;
  DWORD type;
  Bytes data;
  WORD status;  // what the tray applies
};

class StoredChoiceTest : public MaskingTest, public testing::WithParamInterface<StoredCase> {};

TEST_P(StoredChoiceTest, IsAppliedAtCreation) {
  const StoredCase &c = GetParam();
  if (c.exists) {
    ASSERT_EQ(ERROR_SUCCESS, SetRaw(HKEY_CURRENT_USER, kSettings, "OrvandTrayStatus", c.type, c.data));
  }
  RawValue before = Stored();
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_EQ(c.status, TrayStatus);
  EXPECT_EQ(c.status, LayerMaskState()) << "the word reaches the layer whole";
  EXPECT_EQ((c.status & 1) != 0, MaskingChosen != FALSE);
  EXPECT_EQ((c.status & 1) != 0, Checked());
  EXPECT_FALSE(Grayed());
  EXPECT_EQ(1u, Commands());
  // Creation reads the choice; only the menu command writes it.
  RawValue after = Stored();
  EXPECT_EQ(before.exists, after.exists);
  EXPECT_EQ(before.data, after.data);
}

INSTANTIATE_TEST_SUITE_P(
    Values, StoredChoiceTest,
    testing::Values(StoredCase{"FirstRun", false, 0, {}, 1},
                    StoredCase{"On", true, REG_DWORD, {1, 0, 0, 0}, 1},
                    StoredCase{"Off", true, REG_DWORD, {0, 0, 0, 0}, 0},
                    StoredCase{"OnlyTheLowWordCounts", true, REG_DWORD, {0, 0, 1, 0}, 0},  // 65536
                    StoredCase{"OtherBitsTravel", true, REG_DWORD, {0x03, 0x81, 0xFF, 0xFF}, 0x8103},
                    StoredCase{"TypeIsNotLookedAt", true, REG_BINARY, {1, 0, 0, 0}, 1},
                    StoredCase{"TwoBytes", true, REG_BINARY, {0x05, 0x01}, 0x0105},
                    StoredCase{"OneByteNoStrayBits", true, REG_BINARY, {0x02}, 0x0002},
                    StoredCase{"Empty", true, REG_BINARY, {}, 0},
                    StoredCase{"TooLongGivesOn", true, REG_BINARY, {0, 0, 0, 0, 0}, 1},
                    StoredCase{"StringOfFourBytes", true, REG_SZ, {'0', 0, 0, 0}, 0x0030}),
    [](const testing::TestParamInfo<StoredCase> &i) { return std::string(i.param.name); });

TEST_F(MaskingTest, LayerUnavailableAtCreation) {
  SetCdio("MaskingAvailable", 0);
  SetCdio("MaskState", 1);
  StoreStatus(true, 1);
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_EQ(0, TrayStatus);
  EXPECT_FALSE(MaskingChosen);
  EXPECT_TRUE(Grayed());
  EXPECT_FALSE(Checked());
  ASSERT_FALSE(seam::iconCalls.empty());
  EXPECT_EQ(Icon(IDI_MASKING_OFF_XP), LastIcon());
  EXPECT_EQ((DWORD)NIM_ADD, seam::iconCalls.back().operation);
}

TEST_F(MaskingTest, TheNextSuccessEnablesTheItemAgain) {
  SetCdio("MaskingAvailable", 0);
  ASSERT_NE(nullptr, CreateTray());
  ASSERT_TRUE(Grayed());
  SetCdio("MaskingAvailable", 1);
  SetCdio("MaskState", 1);
  SendMessageA(tray(), WM_DEVICECHANGE, 0x8004, 0);  // no record: nothing
  EXPECT_TRUE(Grayed());
  RefreshMaskingFromLayer(tray());
  EXPECT_FALSE(Grayed());
  EXPECT_TRUE(Checked());
  EXPECT_EQ(1, TrayStatus);
  EXPECT_FALSE(MaskingChosen) << "only the tray's own apply chooses";
}

// ---- the menu command ------------------------------------------------------------------

TEST_F(MaskingTest, MenuToggleStoresAndApplies) {
  StoreStatus(true, 0x0201);
  ASSERT_NE(nullptr, CreateTray());
  seam::Reset();
  Toggle();
  EXPECT_EQ(0x0200, TrayStatus);
  EXPECT_EQ((DWORD)REG_DWORD, Stored().type);
  EXPECT_EQ(Dword(0x0200), Stored().data);
  EXPECT_EQ(0x0200u, LayerMaskState());
  EXPECT_FALSE(MaskingChosen);
  EXPECT_FALSE(Checked());
  ASSERT_EQ(1u, seam::iconCalls.size());
  EXPECT_EQ((DWORD)NIM_MODIFY, seam::iconCalls[0].operation);
  EXPECT_EQ(Icon(IDI_MASKING_OFF_XP), LastIcon());

  Toggle();
  EXPECT_EQ(0x0201, TrayStatus);
  EXPECT_EQ(Dword(0x0201), Stored().data);
  EXPECT_EQ(0x0201u, LayerMaskState());
  EXPECT_TRUE(MaskingChosen);
  EXPECT_TRUE(Checked());
  EXPECT_EQ(Icon(IDI_MASKING_ON_XP), LastIcon());
}

TEST_F(MaskingTest, MenuToggleWhoseApplyFailsKeepsIconAndChoice) {
  ASSERT_NE(nullptr, CreateTray());
  ASSERT_TRUE(MaskingChosen);
  SetCdio("MaskingAvailable", 0);
  seam::Reset();
  Toggle();
  // Stored and checked, but the layer did not take it.
  EXPECT_EQ(Dword(0), Stored().data);
  EXPECT_FALSE(Checked());
  EXPECT_EQ(0, TrayStatus & 1);
  EXPECT_TRUE(MaskingChosen);
  EXPECT_TRUE(seam::iconCalls.empty());
  EXPECT_EQ(1u, LayerMaskState());
}

TEST_F(MaskingTest, MenuToggleWithoutASettingsKeyChangesOnlyTheMark) {
  ASSERT_NE(nullptr, CreateTray());
  // Under a volatile key no lasting key can be made, so the Settings key cannot be created.
  HKEY key;
  DeleteTree(HKEY_CURRENT_USER, "SOFTWARE\\Quintessa");
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Quintessa", 0, nullptr,
                                           REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegCloseKey(key);
  WORD probe = 1;
  if (StoreTrayStatus(&probe) != 0) GTEST_SKIP() << "this registry makes lasting keys below volatile ones";
  seam::Reset();
  DWORD commands = Commands();
  Toggle();
  EXPECT_FALSE(Checked());
  EXPECT_EQ(0, TrayStatus & 1);
  EXPECT_TRUE(MaskingChosen);
  EXPECT_TRUE(seam::iconCalls.empty());
  EXPECT_EQ(commands, Commands()) << "nothing applied";
}

TEST_F(MaskingTest, AGrayedItemCannotBeToggled) {
  SetCdio("MaskingAvailable", 0);
  StoreStatus(true, 1);
  ASSERT_NE(nullptr, CreateTray());
  ASSERT_TRUE(Grayed());
  SetCdio("MaskingAvailable", 1);
  DWORD commands = Commands();
  Toggle();
  EXPECT_FALSE(Checked());
  EXPECT_EQ(Dword(1), Stored().data);
  EXPECT_EQ(commands, Commands());
}

TEST_F(MaskingTest, MenuToggleOnWhileDisabledAppliesAtOnce) {
  ASSERT_NE(nullptr, CreateTray());
  Enable(0);
  Enable(0);
  ASSERT_EQ(2, DisableCount);
  ASSERT_EQ(0u, LayerMaskState() & 1);
  ASSERT_FALSE(Checked());
  Toggle();
  EXPECT_EQ(1u, LayerMaskState() & 1);
  EXPECT_TRUE(Checked());
  EXPECT_EQ(2, DisableCount);
}

// ---- requests of other programs --------------------------------------------------------

TEST_F(MaskingTest, DisableRequestsNest) {
  ASSERT_NE(nullptr, CreateTray());
  ASSERT_TRUE(MaskingChosen);
  struct Step {
    WPARAM request;
    LONG count;
    DWORD layer;
  } steps[] = {{0, 1, 0}, {0, 2, 0}, {1, 1, 0}, {1, 0, 1}, {1, 0, 1}, {7, 0, 1}, {0, 1, 0}, {0xFFFFFFFF, 0, 1}};
  int i = 0;
  for (const Step &s : steps) {
    SCOPED_TRACE(i++);
    seam::Reset();
    Enable(s.request);
    EXPECT_EQ(s.count, DisableCount);
    EXPECT_EQ(s.layer, LayerMaskState());
    EXPECT_EQ(s.layer != 0, Checked());
  }
  // Nothing of this is stored.
  EXPECT_FALSE(Stored().exists);
}

TEST_F(MaskingTest, AnEnableThatChangesNothingDoesNotApply) {
  ASSERT_NE(nullptr, CreateTray());
  Enable(0);
  Enable(0);
  seam::Reset();
  DWORD commands = Commands();
  Enable(1);  // count 2 -> 1: masking stays off
  EXPECT_EQ(commands + 1, Commands()) << "the query only";
  EXPECT_TRUE(seam::iconCalls.empty());
}

TEST_F(MaskingTest, EnableAtZeroReappliesAndRefreshes) {
  ASSERT_NE(nullptr, CreateTray());
  SetCdio("MaskState", 0);  // switched off behind the tray's back
  seam::Reset();
  Enable(1);
  EXPECT_EQ(0, DisableCount);
  EXPECT_EQ(1u, LayerMaskState());
  EXPECT_TRUE(Checked());
  ASSERT_EQ(1u, seam::iconCalls.size());
  EXPECT_EQ(Icon(IDI_MASKING_ON_XP), LastIcon());
}

TEST_F(MaskingTest, WithoutTheUsersChoiceRequestsOnlyMoveTheCount) {
  StoreStatus(true, 0);
  ASSERT_NE(nullptr, CreateTray());
  ASSERT_FALSE(MaskingChosen);
  SetCdio("MaskState", 0);
  seam::Reset();
  DWORD commands = Commands();
  Enable(1);
  EXPECT_EQ(1, TrayStatus & 1) << "in memory";
  EXPECT_EQ(0u, LayerMaskState()) << "the layer is not told";
  EXPECT_FALSE(Checked());
  Enable(0);
  Enable(0);
  EXPECT_EQ(2, DisableCount);
  EXPECT_EQ(0, TrayStatus & 1);
  EXPECT_EQ(commands + 3, Commands()) << "three queries and no apply";
  EXPECT_TRUE(seam::iconCalls.empty());
}

TEST_F(MaskingTest, RequestsWhileTheLayerCannotBeAskedChangeNothing) {
  ASSERT_NE(nullptr, CreateTray());
  Enable(0);
  SetCdio("MaskingAvailable", 0);
  seam::Reset();
  WORD status = TrayStatus;
  Enable(0);
  Enable(1);
  EXPECT_EQ(1, DisableCount);
  EXPECT_EQ(status, TrayStatus);
  EXPECT_TRUE(seam::iconCalls.empty());
  EXPECT_FALSE(Grayed()) << "requests do not gray the item";
}

TEST_F(MaskingTest, ShowIconReadsTheLayer) {
  ASSERT_NE(nullptr, CreateTray());
  SetCdio("MaskState", 0x0400);
  seam::Reset();
  ShowIcon();
  EXPECT_EQ(0x0400, TrayStatus);
  EXPECT_FALSE(Checked());
  ASSERT_EQ(1u, seam::iconCalls.size());
  EXPECT_EQ(Icon(IDI_MASKING_OFF_XP), LastIcon());
  EXPECT_EQ(0x0400u, LayerMaskState());
}

TEST_F(MaskingTest, ShowIconWhileTheLayerCannotBeAskedLeavesMarksAndIcon) {
  ASSERT_NE(nullptr, CreateTray());
  ASSERT_TRUE(Checked());
  SetCdio("MaskingAvailable", 0);
  seam::Reset();
  ShowIcon();
  EXPECT_EQ(1, TrayStatus);
  EXPECT_TRUE(Checked());
  EXPECT_TRUE(seam::iconCalls.empty());
  EXPECT_TRUE(MaskingChosen);
}

TEST_F(MaskingTest, AutostartMarkFollowsTheRunValueAtEveryRefresh) {
  ASSERT_NE(nullptr, CreateTray());
  EXPECT_EQ(0u, ItemState(Popup(), IDM_AUTOSTART) & MF_CHECKED);
  ASSERT_EQ(ERROR_SUCCESS, SetString(HKEY_LOCAL_MACHINE, kRunKey, "OrvandTray", "elsewhere"));
  ShowIcon();
  EXPECT_EQ((UINT)MF_CHECKED, ItemState(Popup(), IDM_AUTOSTART) & MF_CHECKED);
}

}  // namespace
