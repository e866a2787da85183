// Buffer switches around capture discontinuities, packet by packet.
#include "overloadtracker.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* name;
    const char* packets;   // 'd' a discontinuity, '.' a clean packet
    const char* switches;  // 's' a switch happens, '-' it is withheld
};

class Overloads : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(Overloads, WithholdSwitchesFromTheSecondDiscontinuityInARowUntilAsManyCleanPackets)
{
    OverloadTracker tracker;
    std::string switches;
    for (const char* p = GetParam().packets; *p; ++p) switches += tracker.packetCompleted(*p == 'd') ? 's' : '-';
    EXPECT_EQ(switches, GetParam().switches);
}

INSTANTIATE_TEST_SUITE_P(Sequences, Overloads,
                         ::testing::Values(Case{"Clean", "....", "ssss"},             //
                                           Case{"One", ".d..", "ssss"},               //
                                           Case{"TwoInARow", ".dd..", "ss-ss"},       //
                                           Case{"ThreeInARow", "ddd...", "s---ss"},   // drains one per clean packet
                                           Case{"Apart", "d.d.d.", "ssssss"}),
                         [](const auto& info) { return std::string(info.param.name); });
