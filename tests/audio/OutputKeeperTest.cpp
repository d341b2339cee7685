#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/OutputKeeper.h"

namespace mb {
namespace {

// A stream that opens where the test says, never calls back, and fails on request.
class FakeStream : public OutputStream {
public:
    FakeStream(const std::string& api, const std::string& device, std::atomic<bool>& fail)
        : fail_(fail) {
        facts_.api = api;
        facts_.description = api + " " + device;
        facts_.rate = 48000;
        facts_.bufferFrames = 256;
    }
    const Facts& facts() const override { return facts_; }
    void Start() override {}
    void Stop() override {}
    void Close() override {}
    bool failed() const override { return fail_.load(); }

private:
    Facts facts_;
    std::atomic<bool>& fail_;
};

// Opens the choices named "api/device" in `opens` ("" for the defaults).
struct FakeDevices {
    std::set<std::string> opens;
    std::atomic<bool> fail{false};

    StreamOpener Opener() {
        return [this](const OutputChoice& choice, StreamClient&, Doorbell&, uint32_t& rate) {
            rate = 48000;
            const std::string api = choice.api.empty() ? "pulse" : choice.api;
            if (opens.count(api + "/" + choice.device) == 0)
                return std::unique_ptr<OutputStream>();
            return std::unique_ptr<OutputStream>(new FakeStream(api, choice.device, fail));
        };
    }
};

TEST(OutputKeeperTest, FallsBackToTheDefaultDeviceAndThenAnyBackEndAndSaysSo) {
    struct Case {
        OutputChoice choice;
        std::set<std::string> opens;
        bool opened;
        std::string note;
        std::string api;
    };
    const Case cases[] = {
        {{"alsa", "hw:1", 256}, {"alsa/hw:1"}, true, "", "alsa"},
        {{"alsa", "hw:1", 256},
         {"alsa/"},
         true,
         "The sound device \"hw:1\" could not be opened. Marrowbeat plays through the "
         "default device.",
         "alsa"},
        {{"jack", "", 256},
         {"pulse/"},
         true,
         "The jack output could not be opened. Marrowbeat plays through the default device "
         "(pulse).",
         "pulse"},
        {{"jack", "system", 256},
         {"pulse/"},
         true,
         "The sound device \"system\" could not be opened. Marrowbeat plays through the "
         "default device (pulse).",
         "pulse"},
        {{"", "", 256}, {}, false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.choice.api + "/" + c.choice.device);
        FakeDevices devices;
        devices.opens = c.opens;
        std::string note;
        const auto device = OutputKeeper::Open(devices.Opener(), c.choice, {}, &note);
        ASSERT_EQ(device != nullptr, c.opened);
        if (!device)
            continue;
        EXPECT_EQ(note, c.note);
        const OutputStatus status = device->output()->Status();
        EXPECT_EQ(status.api, c.api);
        EXPECT_EQ(status.rate, 48000u);
        EXPECT_EQ(device->rate(), 48000u);
    }
}

TEST(OutputKeeperTest, AFailedStreamIsLostAndOpenedAgain) {
    FakeDevices devices;
    devices.opens = {"pulse/"};
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<OutputKeeper::Event::Kind> kinds;
    const auto device = OutputKeeper::Open(devices.Opener(), {}, [&](const OutputKeeper::Event& e) {
        if (e.kind == OutputKeeper::Event::kLatency)
            return;
        std::lock_guard lock(mutex);
        kinds.push_back(e.kind);
        changed.notify_all();
    });
    ASSERT_NE(device, nullptr);
    const auto waitFor = [&](size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5),
                                [&] { return kinds.size() >= count; });
    };
    devices.fail = true;
    ASSERT_TRUE(waitFor(1));
    EXPECT_TRUE(device->output()->Status().lost);
    devices.fail = false;
    ASSERT_TRUE(waitFor(2));
    std::lock_guard lock(mutex);
    EXPECT_EQ(kinds, (std::vector{OutputKeeper::Event::kLost, OutputKeeper::Event::kBack}));
}

} // namespace
} // namespace mb
