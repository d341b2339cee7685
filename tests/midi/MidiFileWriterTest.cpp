#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <tuple>

#include "ScriptedPrompts.h"
#include "WaveFiles.h"
#include "engine/RenderJob.h"
#include "midi/MidiFileWriter.h"
#include "model/Groove.h"
#include "model/Setup.h"

namespace mb {
namespace {

// 120 BPM: 500 000 microseconds a quarter note, 1.92 ticks a millisecond.
constexpr double kPeriodMs = 125.0;

StepEvent At(double offsetMs, int sound, int volume = 100) {
    StepEvent e;
    e.on = true;
    e.sound = sound;
    e.volume = volume;
    e.due = GridTime{1, 0, offsetMs};
    e.periodMs = kPeriodMs;
    return e;
}

StepEvent Grooved(StepEvent e, double shiftMs, int hits = 1, double spacingMs = 0.0) {
    e.shiftMs = shiftMs;
    e.hits = hits;
    e.spacingMs = spacingMs;
    return e;
}

using NoteTuple = std::tuple<int64_t, int64_t, int, int>;

std::vector<NoteTuple> Tuples(const std::vector<MidiFileWriter::Note>& notes) {
    std::vector<NoteTuple> out;
    for (const auto& n : notes)
        out.emplace_back(n.on, n.off, n.note, n.velocity);
    return out;
}

TEST(MidiFileWriter, WritesOneTrackWithTheTempoTheNotesAndItsEnd) {
    MidiFileWriter writer(kPeriodMs, 10);
    writer.TakeStep(At(0.0, 0, 100));
    writer.TakeStep(At(kPeriodMs, 1, 127));
    // clang-format off
    const std::vector<uint8_t> expected = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x03, 0xC0, // format 0, 960 a quarter
        'M', 'T', 'r', 'k', 0, 0, 0, 28,
        0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,               // 500 000 us a quarter
        0x00, 0x99, 36, 100, 60, 0x89, 36, 0,                   // a quarter of a step long
        0x81, 0x34, 0x99, 37, 127, 60, 0x89, 37, 0,             // the next step, 240 ticks on
        0x00, 0xFF, 0x2F, 0x00,
    };
    // clang-format on
    EXPECT_EQ(writer.Bytes(), expected);
}

TEST(MidiFileWriter, PlacesTheNotesAsTheLiveOutputSendsThem) {
    const struct {
        const char* what;
        std::vector<StepEvent> steps;
        std::vector<NoteTuple> notes;
        double keepFrom = 0.0;
        double keepUntil = 1e9;
    } cases[] = {
        {"on the grid", {At(250.0, 3)}, {{480, 540, 39, 100}}},
        {"volume 0 sends no note", {At(0.0, 3, 0)}, {}},
        {"note and velocity clamped", {At(0.0, 120, 300)}, {{0, 60, 127, 127}}},
        {"shift rounds to the tick", {Grooved(At(0.0, 0), 10.0)}, {{19, 79, 36, 100}}},
        {"hits a quarter of their spacing long",
         {Grooved(At(0.0, 0), 0.0, 3, 40.0)},
         {{0, 19, 36, 100}, {77, 96, 36, 100}, {154, 173, 36, 100}}},
        {"the same note ends where it starts again",
         {At(0.0, 0), Grooved(At(kPeriodMs, 0), -120.0)},
         {{0, 10, 36, 100}, {10, 70, 36, 100}}},
        {"only the notes of the window, from its start",
         {At(0.0, 0), At(kPeriodMs, 1), At(2 * kPeriodMs, 2)},
         {{0, 60, 37, 100}},
         kPeriodMs,
         2 * kPeriodMs},
    };
    for (const auto& c : cases) {
        MidiFileWriter writer(kPeriodMs, 1);
        writer.KeepBetween(c.keepFrom, c.keepUntil);
        for (StepEvent step : c.steps)
            writer.TakeStep(step);
        EXPECT_EQ(Tuples(writer.Notes()), c.notes) << c.what;
    }
    StepEvent off = At(0.0, 0);
    off.on = false;
    MidiFileWriter writer(kPeriodMs, 1);
    writer.TakeStep(off);
    EXPECT_TRUE(writer.Notes().empty());
}

// The ticks of the note-ons of a file as MidiFileWriter writes it (no running status).
std::vector<int64_t> NoteOnTicks(const std::vector<uint8_t>& file) {
    std::vector<int64_t> ticks;
    int64_t tick = 0;
    for (size_t i = 22; i < file.size();) {
        int64_t delta = 0;
        do
            delta = (delta << 7) | (file[i] & 0x7F);
        while ((file[i++] & 0x80) != 0);
        tick += delta;
        if (file[i] == 0xFF) {
            i += 3 + file[i + 2];
            continue;
        }
        if ((file[i] & 0xF0) == 0x90)
            ticks.push_back(tick);
        i += 3;
    }
    return ticks;
}

TEST(MidiFileWriter, TheNotesLieOnTheOnsetsOfTheSoundWithinATick) {
    for (const DDial dial : {DDial::kDelay, DDial::kRepeats}) {
        test::TempFolder dir;
        std::vector<int16_t> click(50, 0);
        click[0] = 30000;
        dir.Write("a.wav", test::MonoFile(click));
        ScriptedPrompts prompts;
        RenderSettings settings;
        settings.floatOutput = true;
        RenderJob job(
            [&](mb::Setup& s) {
                s.soundFolder = dir.path();
                s.soundNames = {"a.wav"};
                s.dDial = static_cast<int16_t>(dial);
                s.loop(0).swing = 60;
                for (int k = 0; k < kStepsPerLoop; ++k) {
                    mb::Step& step = s.loop(0).steps[static_cast<size_t>(k)];
                    step.sound = 0;
                    step.dValue = static_cast<int16_t>(k * 8 + 3);
                }
            },
            settings, prompts);
        const std::string mid = dir.path() + "/out.mid";
        const std::string wav = dir.path() + "/out.wav";
        job.WriteMidi(mid);
        ASSERT_EQ(job.Prepare(), "");
        ASSERT_EQ(job.Run(wav, {}), "");

        const std::vector<uint8_t> bytes = test::DataBytes(wav);
        std::vector<float> samples(bytes.size() / sizeof(float));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
        const std::vector<int64_t> onsets = test::FindOnsets(test::Left(samples), 1000, 100);
        std::ifstream in(mid, std::ios::binary);
        const std::vector<int64_t> ticks = NoteOnTicks({std::istreambuf_iterator<char>(in), {}});
        ASSERT_EQ(ticks.size(), onsets.size()) << static_cast<int>(dial);
        EXPECT_EQ(ticks.size() > size_t{kStepsPerLoop}, dial == DDial::kRepeats);
        const double framesPerTick = job.period() * 44.1 / MidiFileWriter::kTicksPerStep;
        for (size_t i = 0; i < ticks.size(); ++i)
            EXPECT_NEAR(static_cast<double>(ticks[i]) * framesPerTick,
                        static_cast<double>(onsets[i]), framesPerTick)
                << static_cast<int>(dial) << " note " << i;
    }
}

} // namespace
} // namespace mb
