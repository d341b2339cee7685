#include "devices/JackMidiClient.h"

#include <cerrno>
#include <jack/jack.h>
#include <jack/midiport.h>

#include "devices/JackMidiOutput.h"
#include "devices/MidiPorts.h"

namespace mb {

bool JackMidiClient::Open(const char* portName,
                          bool output,
                          const std::string& other,
                          std::string* error) {
    JackMidiOutput::QuietErrors();
    output_ = output;
    other_ = other;
    client_ = jack_client_open(MidiPorts::kClientName, JackNoStartServer, nullptr);
    if (client_ == nullptr) {
        *error = "no JACK server is running";
        return false;
    }
    if (!output && jack_port_by_name(client_, other.c_str()) == nullptr) {
        *error = "it is not there";
        return false;
    }
    port_ = jack_port_register(client_, portName, JACK_DEFAULT_MIDI_TYPE,
                               output ? JackPortIsOutput : JackPortIsInput, 0);
    if (port_ == nullptr) {
        *error = "JACK refused the program's MIDI port";
        return false;
    }
    return true;
}

bool JackMidiClient::Activate(Process process, void* user, std::string* error) {
    jack_set_process_callback(client_, process, user);
    jack_on_shutdown(client_, &JackMidiClient::ShutDown, this);
    if (jack_activate(client_) != 0) {
        *error = "JACK did not start the program's MIDI client";
        return false;
    }
    const char* own = jack_port_name(port_);
    const int connected = output_ ? jack_connect(client_, own, other_.c_str())
                                  : jack_connect(client_, other_.c_str(), own);
    if (connected != 0 && connected != EEXIST) {
        *error = "JACK could not connect to it";
        return false;
    }
    return true;
}

void JackMidiClient::ShutDown(void* user) {
    static_cast<JackMidiClient*>(user)->lost_.store(true, std::memory_order_release);
}

void JackMidiClient::Close() {
    if (client_ == nullptr)
        return;
    // A client whose server is gone has no process thread left to stop.
    if (!lost_.load(std::memory_order_acquire))
        jack_deactivate(client_);
    cycles_.load(std::memory_order_acquire);
    jack_client_close(client_);
    client_ = nullptr;
    port_ = nullptr;
}

} // namespace mb
