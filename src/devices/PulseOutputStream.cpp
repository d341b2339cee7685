#include "devices/PulseOutputStream.h"

#include <algorithm>

#include "devices/PulseSinks.h"

namespace mb {

std::unique_ptr<OutputStream> PulseOutputStream::Open(const OutputChoice& choice,
                                                      StreamClient& client,
                                                      Doorbell& wake,
                                                      uint32_t& rate) {
    std::string sink;
    const uint32_t sinkRate = PulseSinks::Rate(choice.device, &sink);
    if (sinkRate == 0)
        return nullptr; // no server, or no such sink
    const auto frames = static_cast<unsigned>(std::clamp(
        choice.bufferFrames, OutputChoice::kMinBufferFrames, OutputChoice::kMaxBufferFrames));
    std::unique_ptr<PulseOutputStream> stream(new PulseOutputStream(client));
    std::string error;
    rate = sinkRate;
    if (!stream->stream_.Open(choice.device.empty() ? std::string() : sink, sinkRate, frames,
                              &PulseOutputStream::OnBlock, &PulseOutputStream::OnRewrite, &wake,
                              stream.get(), &error))
        return nullptr;
    const std::string device =
        choice.device.empty() ? "default device" : "\"" + choice.device + "\"";
    Facts& facts = stream->facts_;
    facts.api = "pulse";
    facts.description = "PulseAudio, " + device + ", " + std::to_string(sinkRate) + " Hz, " +
                        std::to_string(frames) + " frames";
    facts.rate = sinkRate;
    facts.bufferFrames = frames;
    facts.saysWhenHeard = true;
    facts.queuedNs = stream->stream_.queuedNs();
    return stream;
}

void PulseOutputStream::OnBlock(
    float* out, unsigned frames, int64_t playNs, bool known, void* user) {
    auto* self = static_cast<PulseOutputStream*>(user);
    const int64_t rewriteNs = known ? self->stream_.rewriteNs() : 0;
    self->stream_.ReportOften(self->client_.HeardBlock(out, frames, playNs, known, rewriteNs));
}

int64_t PulseOutputStream::OnRewrite(int64_t most, int64_t playNs, void* user) {
    return static_cast<PulseOutputStream*>(user)->client_.Rewrite(most, playNs);
}

} // namespace mb
