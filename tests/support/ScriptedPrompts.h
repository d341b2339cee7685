#pragma once

#include <deque>
#include <string>
#include <vector>

#include "dialogs/Prompts.h"

namespace mb {

// Prompts answered from a script, for tests: every call is recorded, and each dialog
// takes the next queued answer of its kind (Cancel when none is queued).
class ScriptedPrompts : public Prompts {
public:
    void ShowNote(const std::string& text) override { notes.push_back(text); }
    void ShowNotice(const std::string& text) override { notices.push_back(text); }
    int SaveChanges(const std::string& message) override {
        asked.push_back("SaveChanges: " + message);
        return Next(saveChangesAnswers, static_cast<int>(kCancel));
    }
    bool OkCancel(const std::string& message) override {
        asked.push_back("OkCancel: " + message);
        return Next(okCancelAnswers, false);
    }
    std::optional<std::string> OpenSetupPath() override {
        asked.push_back("OpenSetupPath");
        return Next(openPaths, std::optional<std::string>{});
    }
    std::optional<std::string> SaveSetupPath(const std::string& proposed) override {
        asked.push_back("SaveSetupPath: " + proposed);
        return Next(savePaths, std::optional<std::string>{});
    }
    std::optional<std::string> ImportSoundFile() override {
        asked.push_back("ImportSoundFile");
        return Next(importPaths, std::optional<std::string>{});
    }
    std::optional<uint32_t> PickColor(uint32_t current) override {
        asked.push_back("PickColor: " + std::to_string(current));
        return Next(colors, std::optional<uint32_t>{});
    }
    std::optional<OutputChoice> ChooseSoundOutput(const OutputChoice& current,
                                                  const OutputStatus& /*status*/) override {
        asked.push_back("ChooseSoundOutput: " + current.api + "/" + current.device + "/" +
                        std::to_string(current.bufferFrames));
        return Next(outputChoices, std::optional<OutputChoice>{});
    }

    std::optional<ExportChoice> ExportAudioChoice(const ExportChoice& proposed) override {
        asked.push_back("ExportAudioChoice: " + proposed.path);
        return Next(exportChoices, std::optional<ExportChoice>{});
    }
    std::optional<std::string> ExportMidiPath(const std::string& proposed) override {
        asked.push_back("ExportMidiPath: " + proposed);
        return Next(midiPaths, std::optional<std::string>{});
    }
    // The progress display records each value in `progress` and reports Cancel once
    // cancelProgress is set.
    std::unique_ptr<ProgressPrompt> ShowProgress(const std::string& text) override {
        asked.push_back("ShowProgress: " + text);
        return std::make_unique<Progress>(*this);
    }

    std::optional<MidiChoice> ChooseMidi(const MidiChoice& current,
                                         const std::vector<MidiPortId>& /*outputs*/,
                                         const std::vector<MidiPortId>& /*inputs*/) override {
        asked.push_back("ChooseMidi: " + current.output.name + "/" + current.input.name + "/" +
                        std::to_string(current.channel));
        return Next(midiChoices, std::optional<MidiChoice>{});
    }

    std::vector<std::string> notes;
    std::vector<std::string> notices;
    std::vector<std::string> asked;
    std::deque<int> saveChangesAnswers;
    std::deque<bool> okCancelAnswers;
    std::deque<std::optional<std::string>> openPaths;
    std::deque<std::optional<std::string>> savePaths;
    std::deque<std::optional<std::string>> importPaths;
    std::deque<std::optional<uint32_t>> colors;
    std::deque<std::optional<OutputChoice>> outputChoices;
    std::deque<std::optional<ExportChoice>> exportChoices;
    std::deque<std::optional<std::string>> midiPaths;
    std::vector<int> progress;
    bool cancelProgress = false;
    std::deque<std::optional<MidiChoice>> midiChoices;

private:
    class Progress : public ProgressPrompt {
    public:
        explicit Progress(ScriptedPrompts& owner) : owner_(owner) {}
        void SetProgress(int value) override { owner_.progress.push_back(value); }
        bool Cancelled() const override { return owner_.cancelProgress; }

    private:
        ScriptedPrompts& owner_;
    };

    template <typename Queue, typename T> static T Next(Queue& queue, T fallback) {
        if (queue.empty())
            return fallback;
        T answer = queue.front();
        queue.pop_front();
        return answer;
    }
};

} // namespace mb
