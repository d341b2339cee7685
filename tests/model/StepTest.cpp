#include <gtest/gtest.h>

#include "model/Step.h"

namespace mb {
namespace {

TEST(Step, SetParamStoresEachCodeAndIgnoresUnknownCodes) {
    struct Case {
        int code;
        int value;
        int expected;
    };
    const Case cases[] = {
        {kParamOn, 5, 1},
        {kParamOn, 0, 0},
        {kParamOn, -3, 1},
        {kParamPitch, -60, -60},
        {kParamSound, 15, 15},
        {kParamVolume, 127, 127},
        {kParamPan, 0, 0},
        {kParamDValue, 99, 99},
        // 16-bit truncation: 70000 = 0x11170 keeps 0x1170.
        {kParamVolume, 70000, 0x1170},
        {kParamPitch, 0x18000, -32768},
    };
    for (const Case& c : cases) {
        Step step;
        step.SetParam(c.code, c.value);
        EXPECT_EQ(step.GetParam(c.code), c.expected) << "code " << c.code << " value " << c.value;
    }

    Step step;
    const Step before = step;
    step.SetParam(70, 9);
    step.SetParam(0, 9);
    EXPECT_EQ(step.GetParam(70), 0);
    for (int code : {10, 20, 30, 40, 50, 60})
        EXPECT_EQ(step.GetParam(code), before.GetParam(code));
}

TEST(Step, GetParamReportsOnAsZeroOrOne) {
    Step step;
    step.on = 7; // a damaged file may hold any value
    EXPECT_EQ(step.GetParam(kParamOn), 1);
}

TEST(Step, CopyValuesCopiesTheSixValues) {
    Step source;
    source.on = 0;
    source.pitch = -12;
    source.sound = 3;
    source.volume = 90;
    source.pan = 10;
    source.dValue = 5;

    Step destination;
    destination.CopyValues(source);
    for (int code : {10, 20, 30, 40, 50, 60})
        EXPECT_EQ(destination.GetParam(code), source.GetParam(code));

    destination.pitch = 4;
    destination.CopyValues(destination);
    EXPECT_EQ(destination.pitch, 4) << "from itself it changes nothing";
}

TEST(Step, ClipboardRecordIsSixLittleEndianValuesInClipboardOrder) {
    Step step;
    step.on = 1;
    step.pitch = -2;
    step.sound = 0x0102;
    step.volume = 127;
    step.pan = 64;
    step.dValue = 300;
    ByteWriter out;
    step.WriteValues(out);
    const std::vector<uint8_t> expected = {0x01, 0x00, 0xFE, 0xFF, 0x02, 0x01,
                                           0x7F, 0x00, 0x40, 0x00, 0x2C, 0x01};
    EXPECT_EQ(out.bytes(), expected);

    Step back;
    ByteReader in(out.bytes());
    back.ReadValues(in);
    EXPECT_FALSE(in.failed());
    for (int code : {10, 20, 30, 40, 50, 60})
        EXPECT_EQ(back.GetParam(code), step.GetParam(code));
}

} // namespace
} // namespace mb
