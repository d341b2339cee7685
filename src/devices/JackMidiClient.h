#pragma once

#include <atomic>
#include <cstdint>
#include <string>

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace mb {

// A JACK client of the program's own (MidiPorts::kClientName) with one MIDI port,
// connected with a port of another program's: what the MIDI output and the MIDI input
// share. Open gives the client and its port; Activate sets the owner's process callback,
// starts the client and connects the port. The server may shut the client down (Lost).
//
// Threads. Open, Activate and Close run on the window thread; the owner's process
// callback runs on JACK's real-time thread and calls CycleDone last.
class JackMidiClient {
public:
    using Process = int (*)(uint32_t frames, void* user);

    JackMidiClient() = default;
    JackMidiClient(const JackMidiClient&) = delete;
    JackMidiClient& operator=(const JackMidiClient&) = delete;
    ~JackMidiClient() { Close(); }

    // The client, with a port `portName` that sends (`output`) or hears, to be connected
    // with `other` (a JACK port's full name: where an output sends, what an input hears;
    // an input's must be there already). False, with the reason in *error, when that fails.
    bool Open(const char* portName, bool output, const std::string& other, std::string* error);
    // `process` is called with `user` every cycle from now on; then the port is connected.
    bool Activate(Process process, void* user, std::string* error);
    // No process call is made once it returns.
    void Close();

    // The process thread, at the end of each call: see cycles_.
    void CycleDone() { cycles_.fetch_add(1, std::memory_order_release); }
    // The server has shut the client down. Any thread.
    bool Lost() const { return lost_.load(std::memory_order_acquire); }
    jack_client_t* client() const { return client_; }
    jack_port_t* port() const { return port_; }

private:
    static void ShutDown(void* user);

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    bool output_ = false;
    std::string other_;
    // Counted at the end of every cycle: the window thread reads it once the client is
    // deactivated, which orders the callback's last accesses before what follows.
    std::atomic<uint64_t> cycles_{0};
    std::atomic<bool> lost_{false};
};

} // namespace mb
