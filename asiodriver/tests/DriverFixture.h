// Shared set-up of the driver tests: the virtual DAC behind the seam, no settings key,
// and the status block as the control panel sees it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include "HostHarness.h"
#include "RegKey.h"
#include "Settings.h"
#include "VirtualDac.h"

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    deleteSettingsKey();
    ASSERT_TRUE(tess::vdac::useVirtualDac(dacConfig()));
  }
  void TearDown() override {
    tess::vdac::stopUsingVirtualDac();
    deleteSettingsKey();
  }
  virtual tess::vdac::DacConfig dacConfig() { return tess::vdac::DacConfig{}; }

  static void deleteSettingsKey() {
    tess::RegKey asio;
    if (asio.open(HKEY_CURRENT_USER, tess::kAsioKeyPath, KEY_ALL_ACCESS) == ERROR_SUCCESS)
      RegDeleteKeyA(asio.get(), tess::kDriverName);
  }

  // The block, attached as the control panel does (it exists once a driver was created).
  tess::StatusBlockView block() {
    if (!m_block.memory()) m_block.attach(tess::BlockSide::ControlPanel);
    return m_block.view();
  }
  // The control panel's choices, taken by the driver at its next init.
  void choose(uint32_t bufferSizeTenthsMs, uint32_t bits) { block().setPanelSettings(bufferSizeTenthsMs, bits); }

  static bool sameIdentity(const tess::Identity& id, const CLSID& clsid) {
    return memcmp(id.bytes, &clsid, sizeof clsid) == 0;
  }

 private:
  tess::CStatusBlockMapping m_block;
};
