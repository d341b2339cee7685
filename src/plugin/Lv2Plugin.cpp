// The LV2 plugin: a setup played on the host's timeline, its sound on two audio outputs
// and its notes on an atom MIDI output. The setup is named by a path parameter (patch:Set
// on the control input, kept in the plugin's state); it is read and its sounds loaded by
// the host's worker, never in run(), and a file that changes on disk is read again and
// takes over at the next bar.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/log/logger.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "midi/MidiTarget.h"
#include "platform/Snapshots.h"
#include "plugin/HostedPlayer.h"
#include "plugin/PluginUris.h"

namespace {

using mb::HostedPlayer;
using mb::HostedSession;

enum Port : uint32_t { kControl = 0, kNotify = 1, kMidiOut = 2, kOutLeft = 3, kOutRight = 4 };

// Paths longer than this are refused: a worker message must fit the host's ring.
constexpr size_t kMaxPath = 2048;
// How often the worker looks whether the setup's file changed, in seconds.
constexpr double kCheckSeconds = 0.5;

struct PathText {
    std::array<char, kMaxPath + 1> text{};
};

struct Uris {
    LV2_URID atomPath, atomString, atomFloat, atomDouble, atomInt, atomLong, atomUrid, atomObject,
        atomBlank, atomSequence, midiEvent, patchSet, patchGet, patchProperty, patchValue,
        patchSubject, timePosition, timeSpeed, timeFrame, timeBar, timeBarBeat, timeBeatUnit,
        timeBeatsPerBar, timeBeatsPerMinute, setup;

    explicit Uris(LV2_URID_Map* m) {
        const auto map = [m](const char* uri) { return m->map(m->handle, uri); };
        atomPath = map(LV2_ATOM__Path);
        atomString = map(LV2_ATOM__String);
        atomFloat = map(LV2_ATOM__Float);
        atomDouble = map(LV2_ATOM__Double);
        atomInt = map(LV2_ATOM__Int);
        atomLong = map(LV2_ATOM__Long);
        atomUrid = map(LV2_ATOM__URID);
        atomObject = map(LV2_ATOM__Object);
        atomBlank = map(LV2_ATOM__Blank);
        atomSequence = map(LV2_ATOM__Sequence);
        midiEvent = map(LV2_MIDI__MidiEvent);
        patchSet = map(LV2_PATCH__Set);
        patchGet = map(LV2_PATCH__Get);
        patchProperty = map(LV2_PATCH__property);
        patchValue = map(LV2_PATCH__value);
        patchSubject = map(LV2_PATCH__subject);
        timePosition = map(LV2_TIME__Position);
        timeSpeed = map(LV2_TIME__speed);
        timeFrame = map(LV2_TIME__frame);
        timeBar = map(LV2_TIME__bar);
        timeBarBeat = map(LV2_TIME__barBeat);
        timeBeatUnit = map(LV2_TIME__beatUnit);
        timeBeatsPerBar = map(LV2_TIME__beatsPerBar);
        timeBeatsPerMinute = map(LV2_TIME__beatsPerMinute);
        setup = map(MARROWBEAT_LV2_SETUP_URI);
    }
};

// What run() asks of the worker and what the worker answers.
struct Message {
    enum Kind : uint32_t { kLoad, kCheck, kFree, kLoaded, kRefused };
    Kind kind = kLoad;
    HostedSession* session = nullptr;
    uint32_t pathSize = 0;
    // Followed by pathSize bytes of the path (no terminating zero).
};

class Plugin;

// The MIDI output's atom sequence as a MIDI target: places are session frames.
class AtomMidi : public mb::MidiTarget {
public:
    AtomMidi(LV2_Atom_Forge& forge, const Uris& uris, uint32_t rate)
        : forge_(forge), uris_(uris), rate_(rate) {}
    void Begin(int64_t blockStart, uint32_t frames) {
        blockStart_ = blockStart;
        frames_ = frames;
        last_ = 0;
    }
    int64_t PlaceOf(int64_t ns) override {
        return static_cast<int64_t>((static_cast<__int128>(ns) * rate_ + 500000000) / 1000000000);
    }
    double UnitsPerMs() const override { return rate_ / 1000.0; }
    void Emit(const mb::MidiEvent& event) override {
        if (event.size == 0 || event.size > 3 || frames_ == 0)
            return;
        // In order and inside the block, whatever two setups ringing together send.
        int64_t at = std::clamp<int64_t>(event.at - blockStart_, 0, frames_ - 1);
        at = std::max(at, last_);
        last_ = at;
        // Whole events only: one that does not fit the host's buffer is left out.
        const uint32_t need = sizeof(LV2_Atom_Event) + lv2_atom_pad_size(event.size);
        if (forge_.offset + need > forge_.size)
            return;
        lv2_atom_forge_frame_time(&forge_, at);
        const LV2_Atom atom{event.size, uris_.midiEvent};
        lv2_atom_forge_raw(&forge_, &atom, sizeof atom);
        lv2_atom_forge_raw(&forge_, event.bytes, event.size);
        lv2_atom_forge_pad(&forge_, event.size);
    }

private:
    LV2_Atom_Forge& forge_;
    const Uris& uris_;
    uint32_t rate_;
    int64_t blockStart_ = 0;
    int64_t last_ = 0;
    uint32_t frames_ = 0;
};

// The object's properties as lv2_atom_object_get found them, each only when it lies
// wholly inside the object: a host's sizes are not taken on trust.
bool Inside(const LV2_Atom_Object* object, const LV2_Atom* atom) {
    if (atom == nullptr)
        return false;
    const auto* begin = reinterpret_cast<const char*>(object);
    const auto* end = begin + sizeof(LV2_Atom) + object->atom.size;
    const auto* at = reinterpret_cast<const char*>(atom);
    return at >= begin && at + sizeof(LV2_Atom) <= end &&
           atom->size <= static_cast<size_t>(end - at) - sizeof(LV2_Atom);
}

bool NumberOf(const Uris& u, const LV2_Atom* atom, double& out) {
    if (atom == nullptr)
        return false;
    if (atom->type == u.atomFloat && atom->size >= sizeof(float))
        out = reinterpret_cast<const LV2_Atom_Float*>(atom)->body;
    else if (atom->type == u.atomDouble && atom->size >= sizeof(double))
        out = reinterpret_cast<const LV2_Atom_Double*>(atom)->body;
    else if (atom->type == u.atomInt && atom->size >= sizeof(int32_t))
        out = reinterpret_cast<const LV2_Atom_Int*>(atom)->body;
    else if (atom->type == u.atomLong && atom->size >= sizeof(int64_t))
        out = static_cast<double>(reinterpret_cast<const LV2_Atom_Long*>(atom)->body);
    else
        return false;
    return std::isfinite(out);
}

// The text of a path or string atom, when it is one whole string of a usable length.
bool PathOf(const Uris& u, const LV2_Atom* atom, const char*& text, size_t& size) {
    if (atom == nullptr || (atom->type != u.atomPath && atom->type != u.atomString) ||
        atom->size == 0)
        return false;
    text = static_cast<const char*>(LV2_ATOM_BODY_CONST(atom));
    size = strnlen(text, atom->size);
    return size < atom->size && size > 0 && size <= kMaxPath;
}

class Plugin {
public:
    Plugin(double rate,
           const std::string& bundle,
           LV2_URID_Map* map,
           LV2_Worker_Schedule* schedule,
           LV2_Log_Log* log)
        : rate_(static_cast<uint32_t>(rate)), uris_(map), schedule_(schedule), player_(rate_),
          midi_(midiForge_, uris_, rate_) {
        lv2_atom_forge_init(&midiForge_, map);
        lv2_atom_forge_init(&notifyForge_, map);
        lv2_log_logger_init(&logger_, map, log);
        demoPath_ = bundle + (bundle.empty() || bundle.back() == '/' ? "" : "/") + "kit/demo.mbx";
        Load(demoPath_);
        checkFrames_ = static_cast<int64_t>(kCheckSeconds * rate_);
    }

    void Connect(uint32_t port, void* data) {
        switch (port) {
        case kControl:
            control_ = static_cast<const LV2_Atom_Sequence*>(data);
            break;
        case kNotify:
            notify_ = static_cast<LV2_Atom_Sequence*>(data);
            break;
        case kMidiOut:
            midiOut_ = static_cast<LV2_Atom_Sequence*>(data);
            break;
        case kOutLeft:
            left_ = static_cast<float*>(data);
            break;
        case kOutRight:
            right_ = static_cast<float*>(data);
            break;
        default:
            break;
        }
    }

    void Run(uint32_t frames);

    // Worker.
    LV2_Worker_Status Work(LV2_Worker_Respond_Function respond,
                           LV2_Worker_Respond_Handle handle,
                           uint32_t size,
                           const void* data);
    LV2_Worker_Status Response(uint32_t size, const void* data);

    // State.
    LV2_State_Status Save(LV2_State_Store_Function store,
                          LV2_State_Handle handle,
                          const LV2_Feature* const* features);
    LV2_State_Status Restore(LV2_State_Retrieve_Function retrieve,
                             LV2_State_Handle handle,
                             const LV2_Feature* const* features);

    ~Plugin() {
        while (auto retired = player_.TakeRetired())
            retired.reset();
    }

private:
    // Loads a setup at once (instantiation, state): false, said to the log, when it is
    // not one.
    bool Load(const std::string& path);
    void Tell(const std::string& text, bool error) {
        if (text.empty())
            return;
        if (error)
            lv2_log_error(&logger_, "Marrowbeat: %s\n", text.c_str());
        else
            lv2_log_note(&logger_, "Marrowbeat: %s\n", text.c_str());
    }
    void SetPath(const char* text, size_t size) {
        size = std::min(size, kMaxPath);
        std::memcpy(path_.text.data(), text, size);
        path_.text[size] = '\0';
        paths_.Publish(path_);
        tellPath_ = true;
    }
    // The file of the setup playing: the one chosen, or the demo.
    const char* SetupFile() const {
        return path_.text[0] != '\0' ? path_.text.data() : demoPath_.c_str();
    }
    bool Schedule(Message::Kind kind, HostedSession* session, const char* path, size_t size);
    void Handle(const LV2_Atom_Object* object);
    void RenderUntil(uint32_t until, uint32_t& done);
    void WritePath();

    uint32_t rate_;
    Uris uris_;
    LV2_Worker_Schedule* schedule_;
    LV2_Log_Logger logger_{};
    HostedPlayer player_;
    LV2_Atom_Forge midiForge_{};
    LV2_Atom_Forge notifyForge_{};
    AtomMidi midi_;
    std::string demoPath_;

    const LV2_Atom_Sequence* control_ = nullptr;
    LV2_Atom_Sequence* notify_ = nullptr;
    LV2_Atom_Sequence* midiOut_ = nullptr;
    float* left_ = nullptr;
    float* right_ = nullptr;

    // The setup's path as the user chose it (empty: the demo). Audio thread; published
    // for Save, which may run beside it.
    PathText path_;
    mb::Snapshots<PathText> paths_;
    // The host is told the path at the next run.
    bool tellPath_ = true;
    bool loading_ = false;
    int64_t checkFrames_ = 0;
    int64_t sinceCheck_ = 0;
    // A setup done with whose message to the worker found no room: sent again next run.
    std::unique_ptr<HostedSession> unsent_;

    // The worker's own: the file last read and its stamp.
    std::string watched_;
    struct stat stamp_ {};
};

bool SameStamp(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_dev == b.st_dev && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

bool Plugin::Load(const std::string& path) {
    struct stat st {};
    const bool stamped = ::stat(path.c_str(), &st) == 0;
    HostedSession::Loaded loaded = HostedSession::Load(path, rate_, player_.timeline());
    if (!loaded.session) {
        Tell(loaded.error, true);
        return false;
    }
    Tell(loaded.notice, false);
    watched_ = path;
    stamp_ = stamped ? st : decltype(st){};
    player_.Offer(std::move(loaded.session));
    while (auto retired = player_.TakeRetired())
        retired.reset();
    return true;
}

bool Plugin::Schedule(Message::Kind kind, HostedSession* session, const char* path, size_t size) {
    if (schedule_ == nullptr)
        return false;
    alignas(Message) std::array<char, sizeof(Message) + kMaxPath> bytes;
    Message message;
    message.kind = kind;
    message.session = session;
    message.pathSize = static_cast<uint32_t>(std::min(size, kMaxPath));
    std::memcpy(bytes.data(), &message, sizeof message);
    if (message.pathSize > 0)
        std::memcpy(bytes.data() + sizeof message, path, message.pathSize);
    return schedule_->schedule_work(schedule_->handle, sizeof message + message.pathSize,
                                    bytes.data()) == LV2_WORKER_SUCCESS;
}

void Plugin::Handle(const LV2_Atom_Object* object) {
    if (object->body.otype == uris_.timePosition) {
        const LV2_Atom *speed = nullptr, *frame = nullptr, *bar = nullptr, *barBeat = nullptr,
                       *beatUnit = nullptr, *beatsPerBar = nullptr, *bpm = nullptr;
        lv2_atom_object_get(object, uris_.timeSpeed, &speed, uris_.timeFrame, &frame, uris_.timeBar,
                            &bar, uris_.timeBarBeat, &barBeat, uris_.timeBeatUnit, &beatUnit,
                            uris_.timeBeatsPerBar, &beatsPerBar, uris_.timeBeatsPerMinute, &bpm, 0);
        for (const LV2_Atom** a : {&speed, &frame, &bar, &barBeat, &beatUnit, &beatsPerBar, &bpm})
            if (!Inside(object, *a))
                *a = nullptr;
        mb::HostPosition p;
        double value = 0.0;
        p.hasSpeed = NumberOf(uris_, speed, p.speed);
        if (NumberOf(uris_, frame, value) && std::fabs(value) < 9e15) {
            p.hasFrame = true;
            p.frame = static_cast<int64_t>(value);
        }
        double barValue = 0.0;
        if (NumberOf(uris_, bar, barValue) && NumberOf(uris_, barBeat, p.barBeat) &&
            std::fabs(barValue) < 1e12) {
            p.hasBeat = true;
            p.bar = static_cast<int64_t>(barValue);
            if (!NumberOf(uris_, beatUnit, p.beatUnit))
                p.beatUnit = 4.0;
            if (!NumberOf(uris_, beatsPerBar, p.beatsPerBar))
                p.beatsPerBar = 4.0;
        }
        p.hasTempo = NumberOf(uris_, bpm, p.bpm);
        player_.Position(p);
        return;
    }
    if (object->body.otype == uris_.patchGet) {
        tellPath_ = true;
        return;
    }
    if (object->body.otype != uris_.patchSet)
        return;
    const LV2_Atom *property = nullptr, *value = nullptr;
    lv2_atom_object_get(object, uris_.patchProperty, &property, uris_.patchValue, &value, 0);
    if (!Inside(object, value))
        value = nullptr;
    if (!Inside(object, property) || property->type != uris_.atomUrid ||
        property->size < sizeof(LV2_URID) ||
        reinterpret_cast<const LV2_Atom_URID*>(property)->body != uris_.setup)
        return;
    const char* text = nullptr;
    size_t size = 0;
    if (!PathOf(uris_, value, text, size)) {
        // Said by the worker: the log may not be safe to call here.
        Schedule(Message::kRefused, nullptr, nullptr, 0);
        return;
    }
    if (Schedule(Message::kLoad, nullptr, text, size))
        loading_ = true;
}

void Plugin::RenderUntil(uint32_t until, uint32_t& done) {
    if (until <= done)
        return;
    player_.Render(left_ + done, right_ + done, static_cast<int>(until - done), midi_);
    done = until;
}

void Plugin::WritePath() {
    const char* text = SetupFile();
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_frame_time(&notifyForge_, 0);
    lv2_atom_forge_object(&notifyForge_, &frame, 0, uris_.patchSet);
    lv2_atom_forge_key(&notifyForge_, uris_.patchProperty);
    lv2_atom_forge_urid(&notifyForge_, uris_.setup);
    lv2_atom_forge_key(&notifyForge_, uris_.patchValue);
    lv2_atom_forge_path(&notifyForge_, text, static_cast<uint32_t>(std::strlen(text)));
    lv2_atom_forge_pop(&notifyForge_, &frame);
}

void Plugin::Run(uint32_t frames) {
    if (left_ == nullptr || right_ == nullptr)
        return;
    LV2_Atom_Forge_Frame midiFrame, notifyFrame;
    const bool haveMidi = midiOut_ != nullptr;
    if (haveMidi) {
        lv2_atom_forge_set_buffer(&midiForge_, reinterpret_cast<uint8_t*>(midiOut_),
                                  midiOut_->atom.size);
        lv2_atom_forge_sequence_head(&midiForge_, &midiFrame, 0);
    }
    midi_.Begin(player_.frame(), haveMidi ? frames : 0);
    if (notify_ != nullptr) {
        lv2_atom_forge_set_buffer(&notifyForge_, reinterpret_cast<uint8_t*>(notify_),
                                  notify_->atom.size);
        lv2_atom_forge_sequence_head(&notifyForge_, &notifyFrame, 0);
        if (tellPath_) {
            tellPath_ = false;
            WritePath();
        }
    }

    uint32_t done = 0;
    if (control_ != nullptr && control_->atom.type == uris_.atomSequence) {
        LV2_ATOM_SEQUENCE_FOREACH(control_, event) {
            // Events out of order or past the block count at the block's frame reached.
            const auto at = static_cast<uint32_t>(
                std::clamp<int64_t>(event->time.frames, static_cast<int64_t>(done), frames));
            RenderUntil(at, done);
            if ((event->body.type == uris_.atomObject || event->body.type == uris_.atomBlank) &&
                event->body.size >= sizeof(LV2_Atom_Object_Body) &&
                reinterpret_cast<const char*>(&event->body) + sizeof(LV2_Atom) + event->body.size <=
                    reinterpret_cast<const char*>(control_) + sizeof(LV2_Atom) +
                        control_->atom.size)
                Handle(reinterpret_cast<const LV2_Atom_Object*>(&event->body));
        }
    }
    RenderUntil(frames, done);

    if (haveMidi)
        lv2_atom_forge_pop(&midiForge_, &midiFrame);
    if (notify_ != nullptr)
        lv2_atom_forge_pop(&notifyForge_, &notifyFrame);

    // What is done with goes to the worker to be destroyed.
    if (unsent_ && Schedule(Message::kFree, unsent_.get(), nullptr, 0))
        (void)unsent_.release();
    while (!unsent_) {
        std::unique_ptr<HostedSession> retired = player_.TakeRetired();
        if (!retired)
            break;
        if (Schedule(Message::kFree, retired.get(), nullptr, 0))
            (void)retired.release();
        else
            unsent_ = std::move(retired);
    }
    sinceCheck_ += frames;
    if (sinceCheck_ >= checkFrames_ && !loading_) {
        sinceCheck_ = 0;
        const char* text = SetupFile();
        Schedule(Message::kCheck, nullptr, text, std::strlen(text));
    }
}

LV2_Worker_Status Plugin::Work(LV2_Worker_Respond_Function respond,
                               LV2_Worker_Respond_Handle handle,
                               uint32_t size,
                               const void* data) {
    Message message;
    if (size < sizeof message)
        return LV2_WORKER_ERR_UNKNOWN;
    std::memcpy(&message, data, sizeof message);
    if (message.kind == Message::kFree) {
        delete message.session;
        return LV2_WORKER_SUCCESS;
    }
    if (message.kind == Message::kRefused) {
        Tell("the setup must be named by a path of at most " + std::to_string(kMaxPath) + " bytes",
             true);
        return LV2_WORKER_SUCCESS;
    }
    if (message.pathSize > size - sizeof message)
        return LV2_WORKER_ERR_UNKNOWN;
    const std::string path(static_cast<const char*>(data) + sizeof message, message.pathSize);
    struct stat st {};
    const bool stamped = ::stat(path.c_str(), &st) == 0;
    if (message.kind == Message::kCheck) {
        if (path != watched_) {
            watched_ = path;
            stamp_ = stamped ? st : decltype(st){};
            return LV2_WORKER_SUCCESS;
        }
        // Gone for now (being replaced): looked at again next time.
        if (!stamped || SameStamp(st, stamp_))
            return LV2_WORKER_SUCCESS;
    }
    if (message.kind != Message::kLoad && message.kind != Message::kCheck)
        return LV2_WORKER_ERR_UNKNOWN;
    // Read once whatever comes of it: a file that is no setup is not read again until it
    // changes.
    if (message.kind == Message::kCheck)
        stamp_ = st;
    HostedSession::Loaded loaded = HostedSession::Load(path, rate_, player_.timeline());
    Message answer;
    answer.kind = Message::kLoaded;
    answer.pathSize = message.kind == Message::kLoad ? message.pathSize : 0;
    if (!loaded.session) {
        Tell(loaded.error, true);
        respond(handle, sizeof answer, &answer);
        return LV2_WORKER_SUCCESS;
    }
    Tell(loaded.notice, false);
    if (message.kind == Message::kLoad) {
        watched_ = path;
        stamp_ = stamped ? st : decltype(st){};
    }
    answer.session = loaded.session.get();
    std::array<char, sizeof(Message) + kMaxPath> bytes;
    std::memcpy(bytes.data(), &answer, sizeof answer);
    std::memcpy(bytes.data() + sizeof answer, path.data(), answer.pathSize);
    if (respond(handle, sizeof answer + answer.pathSize, bytes.data()) == LV2_WORKER_SUCCESS)
        (void)loaded.session.release();
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status Plugin::Response(uint32_t size, const void* data) {
    Message message;
    if (size < sizeof message)
        return LV2_WORKER_ERR_UNKNOWN;
    std::memcpy(&message, data, sizeof message);
    if (message.kind != Message::kLoaded)
        return LV2_WORKER_ERR_UNKNOWN;
    loading_ = false;
    if (message.session == nullptr)
        return LV2_WORKER_SUCCESS;
    player_.Offer(std::unique_ptr<HostedSession>(message.session));
    if (message.pathSize > 0 && message.pathSize <= size - sizeof message)
        SetPath(static_cast<const char*>(data) + sizeof message, message.pathSize);
    return LV2_WORKER_SUCCESS;
}

const LV2_Feature* Find(const LV2_Feature* const* features, const char* uri) {
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i)
        if (std::strcmp(features[i]->URI, uri) == 0)
            return features[i];
    return nullptr;
}

// A path as the host's state keeps it (abstract: relative to the saved session, say) or
// as it names a file here, through the host's mapping when it gives one.
std::string StatePath(const LV2_Feature* const* features, const char* path, bool abstract) {
    const LV2_Feature* mapFeature = Find(features, LV2_STATE__mapPath);
    const LV2_Feature* freeFeature = Find(features, LV2_STATE__freePath);
    auto* map = mapFeature ? static_cast<LV2_State_Map_Path*>(mapFeature->data) : nullptr;
    if (map == nullptr)
        return path;
    char* mapped =
        abstract ? map->abstract_path(map->handle, path) : map->absolute_path(map->handle, path);
    if (mapped == nullptr)
        return path;
    std::string out = mapped;
    if (freeFeature != nullptr) {
        auto* free = static_cast<LV2_State_Free_Path*>(freeFeature->data);
        free->free_path(free->handle, mapped);
    } else {
        std::free(mapped);
    }
    return out;
}

LV2_State_Status Plugin::Save(LV2_State_Store_Function store,
                              LV2_State_Handle handle,
                              const LV2_Feature* const* features) {
    const PathText saved = paths_.Read();
    // The demo is what plays without a path: nothing to keep.
    if (saved.text[0] == '\0')
        return LV2_STATE_SUCCESS;
    const std::string text = StatePath(features, saved.text.data(), true);
    const LV2_State_Status status = store(handle, uris_.setup, text.c_str(), text.size() + 1,
                                          uris_.atomPath, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
    return status;
}

LV2_State_Status Plugin::Restore(LV2_State_Retrieve_Function retrieve,
                                 LV2_State_Handle handle,
                                 const LV2_Feature* const* features) {
    size_t size = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    const void* value = retrieve(handle, uris_.setup, &size, &type, &flags);
    if (value == nullptr) {
        // No setup named: the demo.
        if (path_.text[0] != '\0' && Load(demoPath_))
            SetPath("", 0);
        return LV2_STATE_SUCCESS;
    }
    const auto* text = static_cast<const char*>(value);
    const size_t length = strnlen(text, size);
    if ((type != uris_.atomPath && type != uris_.atomString) || length == 0 || length >= size ||
        length > kMaxPath) {
        Tell("the stored setup is not a path", true);
        return LV2_STATE_ERR_BAD_TYPE;
    }
    const std::string path = StatePath(features, text, false);
    if (path.size() > kMaxPath || !Load(path))
        return LV2_STATE_ERR_UNKNOWN;
    SetPath(path.data(), path.size());
    return LV2_STATE_SUCCESS;
}

// The C entry points.

LV2_Handle Instantiate(const LV2_Descriptor*,
                       double rate,
                       const char* bundle,
                       const LV2_Feature* const* features) {
    LV2_URID_Map* map = nullptr;
    LV2_Worker_Schedule* schedule = nullptr;
    LV2_Log_Log* log = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<LV2_URID_Map*>(features[i]->data);
        else if (std::strcmp(features[i]->URI, LV2_WORKER__schedule) == 0)
            schedule = static_cast<LV2_Worker_Schedule*>(features[i]->data);
        else if (std::strcmp(features[i]->URI, LV2_LOG__log) == 0)
            log = static_cast<LV2_Log_Log*>(features[i]->data);
    }
    if (map == nullptr || schedule == nullptr || !(rate >= 1000.0 && rate <= 1e6))
        return nullptr;
    try {
        return new Plugin(rate, bundle != nullptr ? bundle : "", map, schedule, log);
    } catch (const std::exception&) {
        return nullptr;
    }
}

void ConnectPort(LV2_Handle instance, uint32_t port, void* data) {
    static_cast<Plugin*>(instance)->Connect(port, data);
}

void Run(LV2_Handle instance, uint32_t frames) {
    static_cast<Plugin*>(instance)->Run(frames);
}

void Cleanup(LV2_Handle instance) {
    delete static_cast<Plugin*>(instance);
}

LV2_Worker_Status Work(LV2_Handle instance,
                       LV2_Worker_Respond_Function respond,
                       LV2_Worker_Respond_Handle handle,
                       uint32_t size,
                       const void* data) {
    return static_cast<Plugin*>(instance)->Work(respond, handle, size, data);
}

LV2_Worker_Status WorkResponse(LV2_Handle instance, uint32_t size, const void* data) {
    return static_cast<Plugin*>(instance)->Response(size, data);
}

LV2_State_Status Save(LV2_Handle instance,
                      LV2_State_Store_Function store,
                      LV2_State_Handle handle,
                      uint32_t,
                      const LV2_Feature* const* features) {
    return static_cast<Plugin*>(instance)->Save(store, handle, features);
}

LV2_State_Status Restore(LV2_Handle instance,
                         LV2_State_Retrieve_Function retrieve,
                         LV2_State_Handle handle,
                         uint32_t,
                         const LV2_Feature* const* features) {
    return static_cast<Plugin*>(instance)->Restore(retrieve, handle, features);
}

const void* ExtensionData(const char* uri) {
    static const LV2_Worker_Interface worker = {Work, WorkResponse, nullptr};
    static const LV2_State_Interface state = {Save, Restore};
    if (std::strcmp(uri, LV2_WORKER__interface) == 0)
        return &worker;
    if (std::strcmp(uri, LV2_STATE__interface) == 0)
        return &state;
    return nullptr;
}

const LV2_Descriptor kDescriptor = {
    MARROWBEAT_LV2_URI, Instantiate, ConnectPort, nullptr, Run, nullptr, Cleanup, ExtensionData};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
