#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/SequencerPorts.h"

namespace mb::test {

struct Posted {
    int message;
    intptr_t wParam;
    intptr_t lParam;
    bool operator==(const Posted&) const = default;
};

struct SoundCall {
    std::string what; // "play": a step that is on
    int loop;
    int step;
    GridTime due;
};

// Records everything the sequencer does to the window, the face, the sound and the
// other instances; the window's wake-ups are counted, and the test takes the step
// clock's news in itself (Sequencer::TakeClockNews).
class SequencerRecorder : public MessagePoster,
                          public PlaybackFace,
                          public StepSound,
                          public KeyboardState,
                          public InstanceLink {
public:
    SequencerPorts Ports() {
        SequencerPorts ports{this, this, this, this, this};
        ports.windowSteps = &windowSteps;
        return ports;
    }

    void PostMessage(int message, intptr_t wParam, intptr_t lParam) override {
        posted.push_back({message, wParam, lParam});
    }
    void SetPlayButton(bool state) override { playButton = state; }
    bool IsSoundOn() const override { return soundOn; }
    void SetStepLit(int column, bool lit) override {
        litCalls.push_back(lit ? column : -1 - column);
        if (column >= 0 && column < 16)
            this->lit[column] = lit;
    }
    void SetPlayingLoop(int loop) override { playingLoop = loop; }
    void TakeStep(const StepEvent& step) override {
        events.push_back(step);
        if (step.on)
            sound.push_back({"play", step.loop, step.step, step.due});
    }
    void RunBegins(uint32_t run) override { begunRuns.push_back(run); }
    void RunEnded(uint32_t run) override { endedRuns.push_back(run); }
    void SilenceAll() override { ++silenceAll; }
    void MuteAll() override { ++muteAll; }
    void UnmuteAll() override { ++unmuteAll; }
    int64_t SendAheadNs() const override { return sendAheadNs; }
    int64_t LeadNs() const override { return leadNs; }
    int64_t EarliestNs(int64_t /*nowNs*/) const override { return earliestNs; }
    bool IsCtrlDown() const override { return ctrlDown; }
    unsigned Broadcast(int message, intptr_t wParam, intptr_t lParam) override {
        broadcasts.push_back({message, wParam, lParam});
        return 1;
    }
    bool HasOthers() override { return others; }
    int64_t OthersLeadNs(bool /*quick*/) override { return othersLeadNs; }
    int64_t OwnLeadNs() override { return ownLeadNs; }

    std::vector<SoundCall> Plays() const {
        std::vector<SoundCall> out;
        for (const SoundCall& c : sound)
            if (c.what == "play")
                out.push_back(c);
        return out;
    }
    int CountPosted(int message) const {
        int n = 0;
        for (const Posted& p : posted)
            n += p.message == message ? 1 : 0;
        return n;
    }

    std::vector<Posted> posted;
    std::vector<Posted> broadcasts;
    std::vector<SoundCall> sound;
    std::vector<StepEvent> events;
    std::vector<uint32_t> begunRuns;
    std::vector<int> litCalls;
    std::vector<uint32_t> endedRuns;
    bool lit[16] = {};
    bool playButton = false;
    bool soundOn = true;
    bool ctrlDown = false;
    bool others = false;
    int playingLoop = -2;
    int silenceAll = 0;
    int muteAll = 0;
    int unmuteAll = 0;
    int64_t sendAheadNs = 0;
    int64_t leadNs = 0;
    int64_t othersLeadNs = 0;
    int64_t ownLeadNs = 0;
    int64_t earliestNs = INT64_MAX;
    int wakes = 0;
    // The window's follower: counts its wake-ups.
    struct WindowSteps : StepFollower {
        explicit WindowSteps(int& wakes) : wakes(wakes) {}
        void TakeStep(const StepEvent&) override { ++wakes; }
        int& wakes;
    } windowSteps{wakes};
};

} // namespace mb::test
