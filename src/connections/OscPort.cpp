#include "connections/OscPort.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <lo/lo.h>

namespace mb {

namespace {

// A string that liblo allocated with malloc.
using LoString = std::unique_ptr<char, decltype(&std::free)>;

struct MessageDeleter {
    void operator()(lo_message m) const { lo_message_free(m); }
};
using LoMessage = std::unique_ptr<std::remove_pointer_t<lo_message>, MessageDeleter>;

template <typename T> T FromBytes(const char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

} // namespace

OscPort::~OscPort() {
    if (socket_ >= 0)
        ::close(socket_);
}

std::variant<sockaddr_in, std::string> OscPort::Resolve(const std::string& url) {
    const std::string form = "an OSC address of the form osc.udp://HOST:PORT/";
    if (lo_url_get_protocol_id(url.c_str()) != LO_UDP)
        return "'" + url + "' is not " + form;
    const LoString host(lo_url_get_hostname(url.c_str()), &std::free);
    const LoString port(lo_url_get_port(url.c_str()), &std::free);
    if (!host || !port || *host == '\0' || *port == '\0')
        return "'" + url + "' is not " + form;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int error = getaddrinfo(host.get(), port.get(), &hints, &found);
    if (error != 0 || found == nullptr)
        return "the host of '" + url + "' cannot be found (" + gai_strerror(error) + ")";
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    return address;
}

bool OscPort::IsLoopback(const sockaddr_in& address) {
    return (ntohl(address.sin_addr.s_addr) >> 24) == IN_LOOPBACKNET;
}

std::string OscPort::Open(bool loopbackOnly) {
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket_ < 0)
        return std::string("no UDP socket: ") + std::strerror(errno);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
    socklen_t length = sizeof local;
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        const std::string cause = std::strerror(errno);
        ::close(socket_);
        socket_ = -1;
        return "cannot bind a UDP socket: " + cause;
    }
    port_ = ntohs(local.sin_port);
    buffer_.resize(kMaxDatagram);
    return {};
}

bool OscPort::Send(const sockaddr_in& to,
                   const std::string& path,
                   const std::vector<Argument>& arguments) {
    if (socket_ < 0)
        return false;
    const LoMessage message(lo_message_new());
    for (const Argument& a : arguments) {
        if (const auto* i = std::get_if<int32_t>(&a))
            lo_message_add_int32(message.get(), *i);
        else if (const auto* f = std::get_if<float>(&a))
            lo_message_add_float(message.get(), *f);
        else
            lo_message_add_string(message.get(), std::get<std::string>(a).c_str());
    }
    size_t size = lo_message_length(message.get(), path.c_str());
    if (size == 0 || size > kMaxDatagram)
        return false;
    std::vector<char> bytes(size);
    if (lo_message_serialise(message.get(), path.c_str(), bytes.data(), &size) == nullptr)
        return false;
    const ssize_t sent = ::sendto(socket_, bytes.data(), size, MSG_DONTWAIT,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(size);
}

bool OscPort::FromPeer(const sockaddr_in& from) const {
    if (!peer_)
        return true;
    if (from.sin_family != AF_INET || from.sin_port != peer_->sin_port)
        return false;
    return from.sin_addr.s_addr == peer_->sin_addr.s_addr ||
           (IsLoopback(*peer_) && from.sin_addr.s_addr == htonl(INADDR_LOOPBACK));
}

std::optional<OscPort::Message> OscPort::Receive() {
    for (int skipped = 0; socket_ >= 0 && skipped < kMaxSkipped; ++skipped) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = ::recvfrom(socket_, buffer_.data(), buffer_.size(), MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0)
            return std::nullopt;
        if (!FromPeer(from)) {
            ++refused_;
            continue;
        }
        if (got == 0)
            continue;
        const char* path = lo_get_path(buffer_.data(), got);
        const LoMessage message(
            path != nullptr
                ? lo_message_deserialise(buffer_.data(), static_cast<size_t>(got), nullptr)
                : nullptr);
        if (!message)
            continue;
        const char* types = lo_message_get_types(message.get());
        Message out{path, types != nullptr ? types : "", {}, from};
        // liblo's arguments lie 4-byte aligned in its buffer, in host byte order; they are
        // read as bytes, not through its 8-byte union.
        lo_arg** argv = lo_message_get_argv(message.get());
        bool known = true;
        for (size_t i = 0; i < out.types.size() && known; ++i) {
            const char* bytes = reinterpret_cast<const char*>(argv[i]);
            switch (out.types[i]) {
            case LO_INT32:
                out.arguments.emplace_back(FromBytes<int32_t>(bytes));
                break;
            case LO_FLOAT:
                out.arguments.emplace_back(FromBytes<float>(bytes));
                break;
            case LO_STRING:
                out.arguments.emplace_back(std::string(bytes));
                break;
            default:
                known = false;
                break;
            }
        }
        if (known)
            return out;
    }
    return std::nullopt;
}

} // namespace mb
