#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/OutputChoice.h"

namespace mb {

class Doorbell;

// What an output stream asks of the one who renders its blocks, on the stream's audio
// thread: neither may block or allocate. A stream calls Block when it only knows when it
// asks, HeardBlock and Rewrite when it says when each frame is heard.
class StreamClient {
public:
    virtual ~StreamClient() = default;
    // Fills `frames` interleaved stereo float frames, asked for at nowNs (CLOCK_MONOTONIC).
    // `skippedFrames`: how many frames the device counted since the last block beyond
    // those it asked for (a JACK client that missed cycles), where the stream knows.
    virtual void Block(float* out, unsigned frames, int64_t nowNs, int64_t skippedFrames) = 0;
    // Fills `frames` interleaved stereo float frames, heard from playNs on; a guess while
    // `known` is false. When known, rewriteNs is how long after now a frame written again
    // now is heard at the soonest (0: not known yet). Returns whether nothing has sounded
    // for a while (a start may come at any moment).
    virtual bool
    HeardBlock(float* out, unsigned frames, int64_t playNs, bool known, int64_t rewriteNs) = 0;
    // Of the last `most` frames written, how many are given again (0: none); the next frame
    // to write is heard from playNs on. HeardBlock is then called for them.
    virtual int64_t Rewrite(int64_t most, int64_t playNs) = 0;
};

// A stereo float stream to one device of one back end, opened and silent until Start.
// Threads: Start, Stop and Close on one thread at a time, never from inside the client's
// calls; failed on any thread.
class OutputStream {
public:
    // What the stream is, as opened.
    struct Facts {
        // The back end ("pulse", "alsa" or "jack") and a line for people.
        std::string api;
        std::string description;
        uint32_t rate = 0;
        unsigned bufferFrames = 0;
        // Frames the device adds after a block, as the back end says (0: none said).
        long deviceLatency = 0;
        // The stream says when each frame is heard (HeardBlock, Rewrite), not only when it
        // asks (Block).
        bool saysWhenHeard = false;
        // The time Block gets is the start of the server's cycle the block is played in on
        // the server's graph, as the server keeps it (JACK): exact to the frame, so the
        // mapping takes it as it comes instead of guessing from the callbacks' rhythm.
        bool cycleTimes = false;
        // Such a stream: about how long after it is written a frame is heard, until the
        // server has said it.
        int64_t queuedNs = 0;
    };

    virtual ~OutputStream() = default;
    virtual const Facts& facts() const = 0;
    // Throws std::exception when the back end does not start.
    virtual void Start() = 0;
    // Once Stop has returned the client is not called until the next Start. May throw.
    virtual void Stop() = 0;
    virtual void Close() = 0;
    // The stream has failed (its server went away, its writes go wrong).
    virtual bool failed() const = 0;
};

// Opens a stream exactly as chosen (an empty api: the first back end that opens; an empty
// device: the back end's default), which calls `client` and rings `wake` when it may want
// to write again; nothing when none opens. `rate` gets the rate of every stream tried.
using StreamOpener = std::function<std::unique_ptr<OutputStream>(
    const OutputChoice& choice, StreamClient& client, Doorbell& wake, uint32_t& rate)>;

} // namespace mb
