#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "audio/OutputStream.h"

class RtAudio;
typedef struct _jack_client jack_client_t;

namespace mb {

// An output stream through RtAudio to ALSA or JACK, at 44 100 Hz where the device takes
// it and at its own rate otherwise: it says only when it asks for a block. A stream whose
// writes fail (its server went away) is aborted instead of calling back without pause,
// and then counts as failed.
//
// Through JACK every callback runs in one of the server's cycles: its time is the
// cycle's start as the server keeps it (read through a client of its own that takes no
// part in the graph), not the moment the callback happens to run, and the stream says
// that this time is exact (Facts::cycleTimes), so that a moment maps to the frame the
// server's other clients (a transport, MIDI) give it from the first block on.
class RtAudioStream : public OutputStream {
public:
    // A stream on the choice's back end ("alsa" or "jack"; "" for the first that opens)
    // and device ("" for the back end's default output), or nothing when none opens.
    // `rate` gets the rate of every stream tried.
    static std::unique_ptr<OutputStream>
    Open(const OutputChoice& choice, StreamClient& client, uint32_t& rate);
    // The devices a back end offers ("alsa" or "jack"). Not on the audio thread.
    static std::vector<OutputDevice> ListDevices(const std::string& api);

    ~RtAudioStream() override;

    const Facts& facts() const override { return facts_; }
    void Start() override;
    void Stop() override;
    void Close() override;
    bool failed() const override { return failed_.load(std::memory_order_acquire); }

private:
    explicit RtAudioStream(StreamClient& client);
    static int
    Callback(void* out, void* in, unsigned frames, double streamTime, unsigned status, void* user);

    StreamClient& client_;
    Facts facts_;
    std::unique_ptr<RtAudio> audio_;
    std::atomic<bool> failed_{false};
    // Through JACK: the client whose cycle times the callback reads (closed after the
    // stream, so never while a callback runs).
    jack_client_t* cycleClient_ = nullptr;
    // Audio thread only (set by Start while no callback runs).
    int64_t firstCallbackNs_ = 0;
    int64_t framesTaken_ = 0;
    // Through JACK: the server's frame count at the last block and the block's length.
    bool cycleKnown_ = false;
    uint32_t lastCycleFrame_ = 0;
    unsigned lastFrames_ = 0;
};

} // namespace mb
