#include "devices/PulseSinks.h"

#include <pulse/pulseaudio.h>

#include "platform/Clocks.h"

namespace mb {

namespace {

constexpr int64_t kTimeoutNs = 1000000000;

// One connection to the server on a private main loop, iterated until a question is
// answered or the time is up.
class Connection {
public:
    Connection() {
        loop_ = pa_mainloop_new();
        context_ = pa_context_new(pa_mainloop_get_api(loop_), "marrowbeat");
        if (context_ == nullptr ||
            pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return;
        const bool ready = Until([this] {
            const pa_context_state_t s = pa_context_get_state(context_);
            return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        });
        ready_ = ready && pa_context_get_state(context_) == PA_CONTEXT_READY;
    }
    ~Connection() {
        if (context_ != nullptr) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        pa_mainloop_free(loop_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool ready() const { return ready_; }
    pa_context* context() const { return context_; }

    // Iterates the loop until done() or the time is up; whether done() came true.
    template <typename Done> bool Until(Done done) {
        const int64_t end = MonotonicNs() + kTimeoutNs;
        while (!done()) {
            if (MonotonicNs() > end || pa_mainloop_iterate(loop_, 0, nullptr) < 0)
                return false;
            if (!done())
                SleepUntilNs(MonotonicNs() + 1000000);
        }
        return true;
    }

    // Waits for an operation to finish; false when it does not in time.
    bool Wait(pa_operation* op) {
        if (op == nullptr)
            return false;
        const bool done =
            Until([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
        pa_operation_unref(op);
        return done;
    }

private:
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool ready_ = false;
};

} // namespace

std::vector<OutputDevice> PulseSinks::List() {
    std::vector<OutputDevice> sinks;
    Connection connection;
    if (!connection.ready())
        return sinks;
    connection.Wait(pa_context_get_sink_info_list(
        connection.context(),
        [](pa_context*, const pa_sink_info* info, int eol, void* user) {
            if (eol == 0 && info != nullptr)
                static_cast<std::vector<OutputDevice>*>(user)->push_back(
                    {info->name, info->description != nullptr ? info->description : info->name});
        },
        &sinks));
    return sinks;
}

uint32_t PulseSinks::Rate(const std::string& sink, std::string* name) {
    Connection connection;
    if (!connection.ready())
        return 0;
    struct Query {
        std::string wanted;
        std::string byName;
        uint32_t byNameRate = 0;
        std::string byDescription;
        uint32_t byDescriptionRate = 0;
    } query;
    query.wanted = sink;
    if (sink.empty()) {
        connection.Wait(pa_context_get_server_info(
            connection.context(),
            [](pa_context*, const pa_server_info* info, void* user) {
                if (info != nullptr && info->default_sink_name != nullptr)
                    static_cast<Query*>(user)->wanted = info->default_sink_name;
            },
            &query));
    }
    connection.Wait(pa_context_get_sink_info_list(
        connection.context(),
        [](pa_context*, const pa_sink_info* info, int eol, void* user) {
            auto* q = static_cast<Query*>(user);
            if (eol != 0 || info == nullptr)
                return;
            if (q->wanted == info->name) {
                q->byName = info->name;
                q->byNameRate = info->sample_spec.rate;
            } else if (info->description != nullptr && q->wanted == info->description &&
                       q->byDescriptionRate == 0) {
                q->byDescription = info->name;
                q->byDescriptionRate = info->sample_spec.rate;
            }
        },
        &query));
    const bool named = query.byNameRate != 0;
    if (name != nullptr)
        *name = named ? query.byName : query.byDescription;
    return named ? query.byNameRate : query.byDescriptionRate;
}

} // namespace mb
