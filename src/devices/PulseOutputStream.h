#pragma once

#include <memory>

#include "audio/OutputStream.h"
#include "devices/PulseStream.h"

namespace mb {

// An output stream to a PulseAudio (or PipeWire) sink through libpulse (see PulseStream):
// it says when each frame is heard and writes its queue again when its owner gives frames
// again.
class PulseOutputStream : public OutputStream {
public:
    // A stream on the choice's sink (its device; "" for the server's default sink) at the
    // sink's own rate, or nothing when no server answers or the sink does not take it.
    // `rate` gets the sink's rate when there is one.
    static std::unique_ptr<OutputStream>
    Open(const OutputChoice& choice, StreamClient& client, Doorbell& wake, uint32_t& rate);

    const Facts& facts() const override { return facts_; }
    void Start() override { stream_.Start(); }
    void Stop() override { stream_.Stop(); }
    void Close() override { stream_.Close(); }
    bool failed() const override { return stream_.failed(); }

private:
    explicit PulseOutputStream(StreamClient& client) : client_(client) {}
    static void OnBlock(float* out, unsigned frames, int64_t playNs, bool known, void* user);
    static int64_t OnRewrite(int64_t most, int64_t playNs, void* user);

    StreamClient& client_;
    Facts facts_;
    PulseStream stream_;
};

} // namespace mb
