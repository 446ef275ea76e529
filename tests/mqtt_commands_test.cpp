// Commands from the network, alone: a payload in, a value or a refusal out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/control_state_file.h"
#include "mqtt/mqtt_commands.h"

namespace {

TEST(MqttCommands, OnlyExactValuesWithinTheRangeAreTaken)
{
    const ControlRange cooler = {-5, 40, false}, heater = {-5, 40, true};
    struct Row {
        std::string payload;
        int halfDegrees;  // -1: refused
    };
    const std::vector<Row> limits = {
        {"22", 44}, {"22.0", 44}, {"-5", -10}, {"40", 80}, {"0", 0}, {"-0", 0},
        {"41", -1}, {"-6", -1}, {"22.5", -1}, {"22.00", -1}, {"022", -1}, {"+22", -1}, {" 22", -1}, {"22 ", -1},
        {"22\n", -1}, {"", -1}, {"-", -1}, {".0", -1}, {"abc", -1}, {"1e3", -1}, {"nan", -1}, {"inf", -1},
        {"0x16", -1}, {std::string("22\0", 3), -1}, {"99999999999999999999", -1}, {std::string(65, '1'), -1},
    };
    for (const Row &row : limits) {
        int halfDegrees = -1;
        bool taken = controlParseLimit(row.payload, cooler, &halfDegrees);
        EXPECT_EQ(taken, row.halfDegrees != -1) << '"' << row.payload << '"';
        if (taken) {
            EXPECT_EQ(halfDegrees, row.halfDegrees) << row.payload;
        }
    }
    const std::vector<std::pair<std::string, int>> modes = {{"off", 1}, {"cool", 0}, {"heat", -1}, {"Cool", -1},
                                                            {"cool ", -1}, {"", -1}, {"auto", -1}};
    for (const auto &[payload, off] : modes) {
        bool isOff = false;
        EXPECT_EQ(controlParseMode(payload, cooler, &isOff), off != -1) << payload;
        if (off != -1) {
            EXPECT_EQ(isOff, off == 1) << payload;
        }
    }
    bool isOff = true;
    EXPECT_TRUE(controlParseMode("heat", heater, &isOff) && !isOff);
    EXPECT_FALSE(controlParseMode("cool", heater, &isOff)) << "a heater is never made a cooler";

    ControlRange range = {0, 0, false};
    EXPECT_TRUE(controlParseRange("-5:5", &range) && range.minDegrees == -5 && range.maxDegrees == 5);
    EXPECT_TRUE(controlParseRange("20:20", &range));
    for (const char *bad : {"20:5", "5", "5:", ":5", "5:20:30", "5.0:20", "a:b", "5 :20", "-1073741825:0", "0:1073741824"})
        EXPECT_FALSE(controlParseRange(bad, &range)) << bad;

    // Within a cycle: the last accepted value of each setting, the first refusal.
    MqttCommands taken;
    for (const char *payload : {"21", "abc", "23.0", "99"})
        controlAddCommand(&taken, cooler, CommandTopic::limit, "t/limit/set", payload);
    controlAddCommand(&taken, cooler, CommandTopic::mode, "t/mode/set", "off");
    EXPECT_TRUE(taken.any && taken.hasLimit && taken.hasMode && taken.off && taken.refused);
    EXPECT_EQ(taken.limit, 46);
    EXPECT_EQ(taken.refusedPayload, "abc");
    EXPECT_EQ(taken.refusedHint, "give a whole number of degrees from -5 to 40, such as 40 or 40.0");
    // Of a limit (a hold) and the preset, the later wins: "schedule" after a limit resumes the schedule.
    controlAddCommand(&taken, cooler, CommandTopic::preset, "t/preset/set", "schedule");
    EXPECT_TRUE(taken.hasPreset && taken.resume && !taken.hasLimit);
    controlAddCommand(&taken, cooler, CommandTopic::limit, "t/limit/set", "22");
    EXPECT_TRUE(taken.hasLimit && !taken.hasPreset);
    MqttCommands presets;
    for (const char *payload : {"Schedule", "none ", "hold", "none"})
        controlAddCommand(&presets, cooler, CommandTopic::preset, "t/preset/set", payload);
    EXPECT_TRUE(presets.hasPreset && !presets.resume);
    EXPECT_EQ(presets.refusedHint, "give schedule or none");

    // The state file: what it keeps, a hold against the schedule, and why one is not taken.
    StoredControl stored;
    std::string reason;
    EXPECT_EQ(controlStateFormat(cooler, {44, true}), "limit 22\nmode off\n");
    EXPECT_EQ(controlStateFormat(cooler, {44, false, true, 1765311185}), "limit 22\nmode cool\nhold 1765311185\n");
    EXPECT_TRUE(controlStateParse("limit 22\nmode off\n", cooler, &stored, &reason) && stored.limit == 44 && stored.off &&
                !stored.held);
    EXPECT_TRUE(controlStateParse("limit 22\nmode cool\nhold 1765311185\n", cooler, &stored, &reason) && stored.held &&
                stored.holdStart == 1765311185 && !stored.off);
    EXPECT_FALSE(controlStateParse("limit 22\nmode heat\n", cooler, &stored, &reason));
    EXPECT_EQ(reason, "its mode heat is not this instance's: off or cool");
    EXPECT_FALSE(controlStateParse("limit 50\nmode cool\n", cooler, &stored, &reason));
    EXPECT_EQ(reason, "its limit 50 is outside --mqtt-control -5:40");
    for (const char *bad : {"", "limit 22\n", "limit 22\nmode off", "mode off\nlimit 22\n", "limit x\nmode off\n",
                            "limit 22\nmode off\nmore\n", "limit 22\nmode warm\n", "limit 22\nmode off\nhold\n",
                            "limit 22\nmode off\nhold -5\n", "limit 22\nmode off\nhold 5", "limit 22\nmode off\nhold 5\n\n"}) {
        EXPECT_FALSE(controlStateParse(bad, cooler, &stored, &reason)) << bad;
        EXPECT_EQ(reason, "it is not two lines \"limit N\" and \"mode M\"") << bad;
    }
}

}  // namespace
