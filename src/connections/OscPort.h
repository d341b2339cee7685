#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <netinet/in.h>

namespace mb {

// One UDP socket that sends and receives OSC messages, encoded and decoded by liblo.
// The socket is its own rather than liblo's server, so that it can listen on the
// loopback interface alone when its peer is on this machine, and take datagrams from
// that peer alone. It never waits: sends and receives are non-blocking, and Receive
// returns nothing when no datagram is queued. One thread at a time (the window thread,
// in the program).
class OscPort {
public:
    // The argument types the session protocol uses: i, f and s.
    using Argument = std::variant<int32_t, float, std::string>;
    struct Message {
        std::string path;
        // The type tags, one letter per argument ("sss", "" ...).
        std::string types;
        std::vector<Argument> arguments;
        // The sender's address.
        sockaddr_in from{};
    };

    OscPort() = default;
    ~OscPort();
    OscPort(const OscPort&) = delete;
    OscPort& operator=(const OscPort&) = delete;

    // The IPv4 address of an OSC URL "osc.udp://HOST:PORT/"; an error message when the
    // URL is not of that form or the host has no IPv4 address.
    static std::variant<sockaddr_in, std::string> Resolve(const std::string& url);
    static bool IsLoopback(const sockaddr_in& address);

    // Binds the socket to a free port of the loopback interface (loopbackOnly) or of all
    // interfaces. An error message, or empty.
    std::string Open(bool loopbackOnly);
    int Socket() const { return socket_; }
    uint16_t Port() const { return port_; }

    // From now on Receive reads only datagrams that peer sent; any other is dropped
    // unread and counted. A peer on the loopback interface also sends from 127.0.0.1
    // (what a socket bound to every interface sends from over loopback, whichever
    // loopback address names it), always from its own port.
    void AcceptOnlyFrom(const sockaddr_in& peer) { peer_ = peer; }
    // The datagrams dropped so far because they did not come from the peer.
    uint64_t Refused() const { return refused_; }

    // Sends one message; false when it could not be encoded or sent whole.
    bool
    Send(const sockaddr_in& to, const std::string& path, const std::vector<Argument>& arguments);
    // The next queued message; datagrams that are not an OSC message with i, f and s
    // arguments only, or not from the peer, are skipped. Nothing when none is queued, or
    // once kMaxSkipped datagrams have been skipped in one call (the rest stay queued),
    // so that a flood of them cannot hold up the caller.
    std::optional<Message> Receive();

    static constexpr size_t kMaxDatagram = 65536;
    static constexpr int kMaxSkipped = 64;

private:
    bool FromPeer(const sockaddr_in& from) const;

    int socket_ = -1;
    uint16_t port_ = 0;
    std::vector<char> buffer_;
    std::optional<sockaddr_in> peer_;
    uint64_t refused_ = 0;
};

} // namespace mb
