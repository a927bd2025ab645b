// The settings key and the status block against the real registry and real named
// file mappings under Wine, including a second process of this program as the peer.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <aclapi.h>
#include <sddl.h>

#include "RegKey.h"
#include "Settings.h"

using namespace tess;

namespace {

const Identity kParent = {{0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55,
                           0x55, 0x55}};

void deleteSettingsKey() {
  RegKey asio;
  if (asio.open(HKEY_CURRENT_USER, kAsioKeyPath, KEY_ALL_ACCESS) == ERROR_SUCCESS)
    RegDeleteKeyA(asio.get(), kDriverName);
}

void createSettingsKey(RegKey& key) {
  RegKey asio;
  ASSERT_EQ(asio.create(HKEY_CURRENT_USER, kAsioKeyPath, KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(key.create(asio.get(), kDriverName, KEY_ALL_ACCESS), ERROR_SUCCESS);
}

void setRaw(const RegKey& key, const char* name, DWORD type, const void* data, DWORD size) {
  ASSERT_EQ(RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

std::string uniqueBlockName(const char* tag) {
  char name[96];
  std::snprintf(name, sizeof name, "TessTestBlock_%s_%lu", tag, GetCurrentProcessId());
  return name;
}

class SettingsKey : public ::testing::Test {
 protected:
  void SetUp() override { deleteSettingsKey(); }
  void TearDown() override { deleteSettingsKey(); }
};

struct LocalBlock {
  alignas(8) uint8_t bytes[kStatusBlockSize] = {};
  LocalBlock() { view().initialiseCreated(); }
  StatusBlockView view() { return StatusBlockView(bytes); }
};

// Starts this program again as the peer with the given arguments.
struct Peer {
  PROCESS_INFORMATION pi{};
  bool start(const std::string& args) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    std::string cmd = std::string("\"") + self + "\" --peer " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    return CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != 0;
  }
  DWORD wait() {
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    return code;
  }
  ~Peer() {
    if (pi.hProcess) CloseHandle(pi.hProcess);
    if (pi.hThread) CloseHandle(pi.hThread);
  }
};

struct Event {
  HANDLE h;
  explicit Event(const std::string& name) : h(CreateEventA(nullptr, TRUE, FALSE, name.c_str())) {}
  ~Event() {
    if (h) CloseHandle(h);
  }
};

}  // namespace

// --- Registry values ---------------------------------------------------------

TEST_F(SettingsKey, MissingKeyChangesNothing) {
  LocalBlock b;
  uint32_t rate = 0;
  EXPECT_FALSE(loadSettings(b.view(), rate));
  EXPECT_EQ(rate, 0u);
  EXPECT_FALSE(b.view().settingsLoaded());
  BlockSettings s = readBlockSettings();  // the panel takes all four defaults
  EXPECT_EQ(s.bufferSize, 10u);
  EXPECT_EQ(s.bitsPerSample, 32u);
  EXPECT_EQ(s.supportedRates, 2u);
  EXPECT_EQ(s.supportedWidths, 2u);
}

TEST_F(SettingsKey, ValuesOfWrongTypeOrSizeTakeTheirDefaults) {
  RegKey key;
  createSettingsKey(key);
  const DWORD good = 7;
  const uint16_t twoBytes = 0x30;
  const uint64_t eightBytes = 0x30;
  const char text[] = "48000";
  struct Case {
    DWORD type;
    const void* data;
    DWORD size;
    bool accepted;
  } cases[] = {
      {REG_DWORD, &good, 4, true},
      {REG_SZ, text, sizeof text, false},
      {REG_DWORD, &twoBytes, 2, false},
      {REG_BINARY, &good, 4, false},
      {REG_QWORD, &eightBytes, 8, false},
      {REG_DWORD_BIG_ENDIAN, &good, 4, false},
  };
  for (const Case& c : cases) {
    for (const char* name : {kValueSampleRate, kValueBufferSize, kValueBitsPerSample, kValueSupportSampleRate,
                             kValueSupportBitsPerSample})
      setRaw(key, name, c.type, c.data, c.size);
    LocalBlock b;
    uint32_t rate = 0;
    ASSERT_TRUE(loadSettings(b.view(), rate));
    BlockSettings s;
    ASSERT_TRUE(b.view().readSettings(s));
    SCOPED_TRACE(c.type * 100 + c.size);
    EXPECT_EQ(rate, c.accepted ? 7u : 44100u);
    EXPECT_EQ(s.bufferSize, c.accepted ? 7u : 10u);
    EXPECT_EQ(s.bitsPerSample, c.accepted ? 7u : 32u);
    EXPECT_EQ(s.supportedRates, c.accepted ? 7u : 2u);
    EXPECT_EQ(s.supportedWidths, c.accepted ? 7u : 2u);
    EXPECT_TRUE(b.view().settingsLoaded());
  }
}

TEST_F(SettingsKey, BlockSettingsAreTakenOnlyWhileNotLoaded) {
  RegKey key;
  createSettingsKey(key);
  ASSERT_TRUE(key.writeDword(kValueSampleRate, 96000));
  ASSERT_TRUE(key.writeDword(kValueBufferSize, 50));
  LocalBlock b;
  ASSERT_TRUE(b.view().loadSettingsOnce(BlockSettings{30, 24, 0x1FF, 0xE}));  // the panel was first
  uint32_t rate = 0;
  ASSERT_TRUE(loadSettings(b.view(), rate));
  EXPECT_EQ(rate, 96000u);  // the driver still reads its rate
  EXPECT_EQ(b.view().field(36), 30u);
}

TEST_F(SettingsKey, SaveCreatesTheKeyAndRoundTrips) {
  LocalBlock b;
  ASSERT_TRUE(b.view().loadSettingsOnce(BlockSettings{70, 24, 0x7F, 0xC}));
  ASSERT_TRUE(saveSettings(b.view(), 192000));
  LocalBlock fresh;
  uint32_t rate = 0;
  ASSERT_TRUE(loadSettings(fresh.view(), rate));
  BlockSettings s;
  ASSERT_TRUE(fresh.view().readSettings(s));
  EXPECT_EQ(rate, 192000u);
  EXPECT_EQ(s.bufferSize, 70u);
  EXPECT_EQ(s.bitsPerSample, 24u);
  EXPECT_EQ(s.supportedRates, 0x7Fu);
  EXPECT_EQ(s.supportedWidths, 0xCu);

  ASSERT_TRUE(savePanelSettings(150, 16));
  s = readBlockSettings();
  EXPECT_EQ(s.bufferSize, 150u);
  EXPECT_EQ(s.bitsPerSample, 16u);
}

TEST_F(SettingsKey, SaveWithoutLoadedBlockWritesOnlyTheRate) {
  LocalBlock b;  // settings not loaded
  ASSERT_TRUE(saveSettings(b.view(), 48000));
  RegKey asio, key;
  ASSERT_EQ(asio.open(HKEY_CURRENT_USER, kAsioKeyPath, KEY_READ), ERROR_SUCCESS);
  ASSERT_EQ(key.open(asio.get(), kDriverName, KEY_READ), ERROR_SUCCESS);
  DWORD v = 0;
  EXPECT_TRUE(key.readDword(kValueSampleRate, v));
  EXPECT_EQ(v, 48000u);
  EXPECT_FALSE(key.readDword(kValueBufferSize, v));
}

// --- The mapping --------------------------------------------------------------

TEST_F(SettingsKey, DriverCreatorWithoutKeyStartsFromDefaults) {
  std::string name = uniqueBlockName("defaults");
  CStatusBlockMapping m;
  uint32_t rate = 0;
  ASSERT_TRUE(m.attach(BlockSide::Driver, &rate, name.c_str()));
  EXPECT_TRUE(m.created());
  EXPECT_EQ(rate, 0u);
  StatusBlockView v = m.view();
  EXPECT_TRUE(v.valid());
  EXPECT_EQ(v.field(8), 1u);
  EXPECT_EQ(v.field(36), 10u);
  EXPECT_EQ(v.field(40), 32u);
  EXPECT_EQ(v.field(56), 2u);
  EXPECT_EQ(v.field(60), 2u);
  EXPECT_TRUE(v.free());
}

TEST_F(SettingsKey, DriverCreatorLoadsTheKey) {
  RegKey key;
  createSettingsKey(key);
  ASSERT_TRUE(key.writeDword(kValueSampleRate, 88200));
  ASSERT_TRUE(key.writeDword(kValueBitsPerSample, 24));
  std::string name = uniqueBlockName("key");
  CStatusBlockMapping m;
  uint32_t rate = 0;
  ASSERT_TRUE(m.attach(BlockSide::Driver, &rate, name.c_str()));
  EXPECT_EQ(rate, 88200u);
  EXPECT_EQ(m.view().field(40), 24u);
  EXPECT_EQ(m.view().field(36), 10u);

  // A second attach in the same process opens the same memory and loads nothing.
  CStatusBlockMapping second;
  uint32_t rate2 = 0;
  ASSERT_TRUE(second.attach(BlockSide::Driver, &rate2, name.c_str()));
  EXPECT_FALSE(second.created());
  EXPECT_EQ(rate2, 0u);
  ASSERT_TRUE(m.view().claim(kParent));
  EXPECT_TRUE(second.view().ownedBy(kParent));
}

TEST_F(SettingsKey, ABlockWithoutMagicIsNeverTouched) {
  std::string name = uniqueBlockName("nomagic");
  HANDLE foreign = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kStatusBlockSize, name.c_str());
  ASSERT_NE(foreign, nullptr);
  uint8_t* bytes = static_cast<uint8_t*>(MapViewOfFile(foreign, FILE_MAP_ALL_ACCESS, 0, 0, kStatusBlockSize));
  ASSERT_NE(bytes, nullptr);
  for (uint32_t i = 0; i < kStatusBlockSize; ++i) bytes[i] = uint8_t(i * 7 + 1);
  uint8_t before[kStatusBlockSize];
  std::memcpy(before, bytes, sizeof before);

  RegKey key;
  createSettingsKey(key);
  ASSERT_TRUE(key.writeDword(kValueBufferSize, 55));
  for (BlockSide side : {BlockSide::Driver, BlockSide::ControlPanel}) {
    CStatusBlockMapping m;
    uint32_t rate = 0;
    ASSERT_TRUE(m.attach(side, &rate, name.c_str()));
    EXPECT_FALSE(m.created());
    StatusBlockView v = m.view();
    EXPECT_FALSE(v.valid());
    EXPECT_FALSE(loadSettings(v, rate) && v.settingsLoaded());
    EXPECT_FALSE(v.claim(kParent));
    EXPECT_FALSE(v.publishRate(44100));
    ASSERT_TRUE(saveSettings(v, 44100));
  }
  EXPECT_EQ(std::memcmp(before, bytes, sizeof before), 0);
  DWORD v = 0;
  EXPECT_FALSE(key.readDword(kValueBitsPerSample, v));  // nothing taken from the foreign block
  UnmapViewOfFile(bytes);
  CloseHandle(foreign);
}

TEST_F(SettingsKey, ControlPanelCreatorTakesTheKeyThenTheDriverOnlyItsRate) {
  RegKey key;
  createSettingsKey(key);
  ASSERT_TRUE(key.writeDword(kValueSampleRate, 48000));
  ASSERT_TRUE(key.writeDword(kValueBufferSize, 30));
  ASSERT_TRUE(key.writeDword(kValueBitsPerSample, 16));
  std::string name = uniqueBlockName("panel");
  CStatusBlockMapping panel;
  ASSERT_TRUE(panel.attach(BlockSide::ControlPanel, nullptr, name.c_str()));
  EXPECT_TRUE(panel.created());
  EXPECT_EQ(panel.view().field(36), 30u);
  EXPECT_EQ(panel.view().field(40), 16u);
  panel.view().setPanelSettings(100, 24);

  CStatusBlockMapping driver;
  uint32_t rate = 0;
  ASSERT_TRUE(driver.attach(BlockSide::Driver, &rate, name.c_str()));
  EXPECT_FALSE(driver.created());
  ASSERT_TRUE(loadSettings(driver.view(), rate));  // what init does
  EXPECT_EQ(rate, 48000u);
  EXPECT_EQ(driver.view().field(36), 100u);  // the panel's choice survives
  EXPECT_EQ(driver.view().field(40), 24u);
}

// --- Two processes --------------------------------------------------------------

// This process creates the block; the peer opens it, checks our writes and answers.
TEST(StatusBlockProcesses, PeerOpensWhatWeCreated) {
  deleteSettingsKey();
  std::string name = uniqueBlockName("first");
  CStatusBlockMapping m;
  ASSERT_TRUE(m.attach(BlockSide::Driver, nullptr, name.c_str()));
  ASSERT_TRUE(m.created());
  StatusBlockView v = m.view();
  ASSERT_TRUE(v.claim(kParent));
  ASSERT_TRUE(v.publishDeviceName(kParent, "Parent Device"));
  v.takeChanged();

  Peer peer;
  ASSERT_TRUE(peer.start("open " + name));
  EXPECT_EQ(peer.wait(), 0u);
  EXPECT_EQ(v.field(48), 192000u);  // the peer's any-instance write
  EXPECT_TRUE(v.takeChanged());
  EXPECT_TRUE(v.ownedBy(kParent));  // and it did not take the block
}

// Whoever creates the block gives it the explicit descriptor: the interactive user's
// processes may read and write it, and its label is medium (an elevated creator would
// otherwise lock out a host at medium integrity).
TEST(StatusBlockProcesses, TheCreatorGivesTheBlockItsExplicitSecurity) {
  deleteSettingsKey();
  std::string name = uniqueBlockName("security");
  CStatusBlockMapping m;
  ASSERT_TRUE(m.attach(BlockSide::ControlPanel, nullptr, name.c_str()));
  ASSERT_TRUE(m.created());
  PSECURITY_DESCRIPTOR sd = nullptr;
  PACL dacl = nullptr;
  ASSERT_EQ(GetSecurityInfo(m.handle(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &sd),
            DWORD(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr);
  char* text = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                   &text, nullptr));
  const std::string dacls = text;
  LocalFree(text);
  LocalFree(sd);
  EXPECT_NE(dacls.find(";;;IU)"), std::string::npos) << dacls;  // the interactive user
  EXPECT_NE(dacls.find(";;;SY)"), std::string::npos) << dacls;
}

// The peer creates the block and holds it; this process opens it second.
TEST(StatusBlockProcesses, WeOpenWhatThePeerCreated) {
  deleteSettingsKey();
  std::string name = uniqueBlockName("second");
  Event ready(name + "_ready"), done(name + "_done");
  ASSERT_TRUE(ready.h && done.h);
  Peer peer;
  ASSERT_TRUE(peer.start("create " + name));
  ASSERT_EQ(WaitForSingleObject(ready.h, 30000), WAIT_OBJECT_0);

  CStatusBlockMapping m;
  ASSERT_TRUE(m.attach(BlockSide::ControlPanel, nullptr, name.c_str()));
  EXPECT_FALSE(m.created());
  StatusBlockView v = m.view();
  EXPECT_TRUE(v.valid());
  EXPECT_EQ(v.state(), uint32_t(kStateRunning));
  char device[64];
  v.deviceName(device, sizeof device);
  EXPECT_STREQ(device, "Peer Device");
  EXPECT_TRUE(v.takeChanged());
  ASSERT_TRUE(v.setPanelSettings(50, 24));
  ASSERT_TRUE(v.requestReset());
  SetEvent(done.h);
  EXPECT_EQ(peer.wait(), 0u);
  EXPECT_EQ(v.field(336), 0u);  // the peer, as owner, took the reset request
}

// --- Peer side ------------------------------------------------------------------

namespace {

const Identity kPeer = {{0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0, 1, 2, 3, 4, 5, 6}};

int peerOpen(const char* name) {
  CStatusBlockMapping m;
  if (!m.attach(BlockSide::Driver, nullptr, name) || m.created()) return 1;
  StatusBlockView v = m.view();
  char device[64];
  v.deviceName(device, sizeof device);
  if (!v.ownedBy(kParent) || v.state() != kStateLoaded || std::strcmp(device, "Parent Device") != 0) return 2;
  if (v.claim(kPeer) || v.publishState(kPeer, kStateRunning)) return 3;  // owned by the parent
  return v.publishRate(192000) ? 0 : 4;
}

int peerCreate(const char* name) {
  std::string n = name;
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, (n + "_ready").c_str());
  HANDLE done = OpenEventA(SYNCHRONIZE, FALSE, (n + "_done").c_str());
  int rc = 0;
  CStatusBlockMapping m;
  if (!ready || !done) {
    rc = 10;
  } else if (!m.attach(BlockSide::Driver, nullptr, name) || !m.created()) {
    rc = 11;
  } else {
    StatusBlockView v = m.view();
    v.claim(kPeer);
    v.publishDeviceName(kPeer, "Peer Device");
    v.publishState(kPeer, kStateRunning);
    SetEvent(ready);
    if (WaitForSingleObject(done, 30000) != WAIT_OBJECT_0) rc = 12;
    else if (v.field(36) != 50 || v.field(40) != 24) rc = 13;
    else if (!v.takeResetRequest(kPeer)) rc = 14;
  }
  if (ready) CloseHandle(ready);
  if (done) CloseHandle(done);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--peer") == 0) {
    if (std::strcmp(argv[2], "open") == 0) return peerOpen(argv[3]);
    if (std::strcmp(argv[2], "create") == 0) return peerCreate(argv[3]);
    return 99;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
