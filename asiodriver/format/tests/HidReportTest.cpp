// The vendor report bytes of every command, on and off, in buffers of several lengths.
#include <gtest/gtest.h>

#include <vector>

#include "HidReport.h"
#include "SampleRates.h"

namespace tess::fmt {
namespace {

TEST(HidReport, CommandTable) {
  struct Case {
    HidCommand command;
    bool on;
    uint8_t b1, b2, b3, b4;
  };
  for (Case c : {Case{HidCommand::kDsd64Mode, true, 0xF5, 0x21, 0x32, 0x2E},
                 Case{HidCommand::kDsd64Mode, false, 0xF5, 0x21, 0x32, 0x08},
                 Case{HidCommand::kDsd128Mode, true, 0xF6, 0x21, 0x33, 0x2E},
                 Case{HidCommand::kDsd128Mode, false, 0xF6, 0x21, 0x33, 0x08},
                 Case{HidCommand::kDsd256Mode, true, 0xF7, 0x21, 0x34, 0x2E},
                 Case{HidCommand::kDsd256Mode, false, 0xF7, 0x21, 0x34, 0x08},
                 Case{HidCommand::kDop, true, 0xF8, 0x21, 0x35, 0x01},
                 Case{HidCommand::kDop, false, 0xF8, 0x21, 0x35, 0x00}}) {
    for (size_t length : {kHidReportBytes, kHidCommandBytes, size_t{65}}) {
      std::vector<uint8_t> report(length, 0xCC);
      ASSERT_TRUE(buildHidReport(c.command, c.on, report.data(), report.size()));
      std::vector<uint8_t> expected(length, 0);
      expected[1] = c.b1, expected[2] = c.b2, expected[3] = c.b3, expected[4] = c.b4;
      EXPECT_EQ(report, expected) << int(c.command) << (c.on ? " on" : " off") << " in " << length;
    }
  }
}

TEST(HidReport, RefusesWhatCannotHoldTheCommand) {
  std::vector<uint8_t> report(4, 0xCC);
  EXPECT_FALSE(buildHidReport(HidCommand::kDop, true, report.data(), report.size()));
  EXPECT_EQ(report, std::vector<uint8_t>(4, 0xCC));
  EXPECT_FALSE(buildHidReport(HidCommand::kDop, true, nullptr, 64));
  std::vector<uint8_t> full(64, 0xCC);
  EXPECT_FALSE(buildHidReport(static_cast<HidCommand>(9), true, full.data(), full.size()));
  EXPECT_EQ(full, std::vector<uint8_t>(64, 0xCC));
}

TEST(HidReport, DsdRatesSelectTheirModeCommand) {
  HidCommand c{};
  ASSERT_TRUE(dsdModeCommand(kDsd64, c));
  EXPECT_EQ(c, HidCommand::kDsd64Mode);
  ASSERT_TRUE(dsdModeCommand(kDsd128, c));
  EXPECT_EQ(c, HidCommand::kDsd128Mode);
  ASSERT_TRUE(dsdModeCommand(kDsd256, c));
  EXPECT_EQ(c, HidCommand::kDsd256Mode);
  EXPECT_FALSE(dsdModeCommand(176400, c));
  EXPECT_EQ(kDsdModesOffOrder[0], HidCommand::kDsd64Mode);
  EXPECT_EQ(kDsdModesOffOrder[2], HidCommand::kDsd256Mode);
}

}  // namespace
}  // namespace tess::fmt
