#pragma once

#include <atomic>

#include <jack/jack.h>

namespace mb::test {

// The cycles a JACK server missed, as it tells its clients (a machine held it up): frames
// recorded around them say nothing of where the program placed its events.
class JackXruns {
public:
    // Before the client is activated.
    void Watch(jack_client_t* client) {
        jack_set_xrun_callback(
            client,
            [](void* user) {
                static_cast<JackXruns*>(user)->count_.fetch_add(1, std::memory_order_relaxed);
                return 0;
            },
            this);
    }
    int count() const { return count_.load(std::memory_order_relaxed); }

private:
    std::atomic<int> count_{0};
};

} // namespace mb::test
