#pragma once

#include <string>
#include <vector>

#include "files/DocumentWindow.h"

namespace mb {

// Records every call the document makes on its window, in order, as text.
class FakeDocumentWindow : public DocumentWindow {
public:
    void SetTitle(const std::string& t) override {
        title = t;
        calls.push_back("SetTitle");
    }
    uint32_t SchemeColor5() const override { return color5; }
    void ApplyColor(uint32_t c) override { calls.push_back("ApplyColor " + std::to_string(c)); }
    int32_t WindowX() const override { return x; }
    int32_t WindowY() const override { return y; }
    void MoveTo(int32_t nx, int32_t ny) override {
        calls.push_back("MoveTo " + std::to_string(nx) + " " + std::to_string(ny));
    }
    void Hide() override { calls.push_back("Hide"); }
    void Show() override { calls.push_back("Show"); }
    void ResizeToColumns(int n) override {
        calls.push_back("ResizeToColumns " + std::to_string(n));
    }
    void FitColumnsToWidth() override { calls.push_back("FitColumnsToWidth"); }
    void SetTempoUnit(int unit) override {
        calls.push_back("SetTempoUnit " + std::to_string(unit));
    }
    void SetTempo(double bpm) override { calls.push_back("SetTempo " + std::to_string(bpm)); }
    void SetMasterVolume(int v) override {
        calls.push_back("SetMasterVolume " + std::to_string(v));
    }
    void SetEValue(int v) override { calls.push_back("SetEValue " + std::to_string(v)); }
    void SelectLoop(int n) override { calls.push_back("SelectLoop " + std::to_string(n)); }
    void SetSoundToggle(bool on) override { calls.push_back(on ? "SoundOn" : "SoundOff"); }
    void RestoreFocus() override { calls.push_back("RestoreFocus"); }
    void ShowStatus(const std::string& text) override { calls.push_back("ShowStatus " + text); }

    std::string title;
    std::vector<std::string> calls;
    uint32_t color5 = 0x00123456;
    int32_t x = 0;
    int32_t y = 0;
};

} // namespace mb
