#pragma once

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include "plugin/PluginUris.h"

namespace mb::test {

// One instance of the program's LV2 plugin (from the bundle at MARROWBEAT_LV2_BUNDLE),
// hosted as a DAW hosts it through lilv: a URID map, a worker run on the host's thread after
// each block, a control input built anew for each block, and the ports' buffers. What it
// hears back is kept: the note-ons of the MIDI output and the setup the notify output
// names. For the plugin's tests and the benchmark of its run().
class LilvHost {
public:
    static constexpr size_t kAtomBytes = 16384;

    struct Note {
        int64_t at;
        int note;
    };

    LilvHost(uint32_t rate, uint32_t block) : block_(block), left_(block), right_(block) {
        world_ = lilv_world_new();
        LilvNode* bundle = lilv_new_file_uri(world_, nullptr, MARROWBEAT_LV2_BUNDLE "/");
        lilv_world_load_bundle(world_, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(world_, MARROWBEAT_LV2_URI);
        plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), uri);
        lilv_node_free(uri);
        lv2_atom_forge_init(&forge_, &map_);
        if (plugin_ != nullptr)
            instance_ = lilv_plugin_instantiate(plugin_, rate, features_);
        if (instance_ == nullptr)
            return;
        worker_ = static_cast<const LV2_Worker_Interface*>(
            lilv_instance_get_extension_data(instance_, LV2_WORKER__interface));
        void* ports[] = {control_.data(), notify_.data(), midi_.data(), left_.data(),
                         right_.data()};
        for (uint32_t i = 0; i < 5; ++i)
            lilv_instance_connect_port(instance_, i, ports[i]);
        lilv_instance_activate(instance_);
        Clear();
    }
    LilvHost(const LilvHost&) = delete;
    LilvHost& operator=(const LilvHost&) = delete;
    ~LilvHost() {
        if (instance_ != nullptr) {
            lilv_instance_deactivate(instance_);
            lilv_instance_free(instance_);
        }
        lilv_world_free(world_);
    }
    bool ok() const { return instance_ != nullptr && worker_ != nullptr; }
    LV2_URID Urid(const char* uri) { return Map(this, uri); }

    // What the next block's control input says, at frame `at` of the block.
    void Position(uint32_t at, float speed, int64_t frame, double quarters, float bpm) {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge_, at);
        lv2_atom_forge_object(&forge_, &object, 0, Urid(LV2_TIME__Position));
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__speed));
        lv2_atom_forge_float(&forge_, speed);
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__frame));
        lv2_atom_forge_long(&forge_, frame);
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__bar));
        lv2_atom_forge_long(&forge_, static_cast<int64_t>(quarters / 4));
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__barBeat));
        lv2_atom_forge_float(&forge_, static_cast<float>(std::fmod(quarters, 4.0)));
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__beatUnit));
        lv2_atom_forge_int(&forge_, 4);
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__beatsPerBar));
        lv2_atom_forge_float(&forge_, 4.0f);
        lv2_atom_forge_key(&forge_, Urid(LV2_TIME__beatsPerMinute));
        lv2_atom_forge_float(&forge_, bpm);
        lv2_atom_forge_pop(&forge_, &object);
    }
    void SetSetup(const std::string& path) {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge_, 0);
        lv2_atom_forge_object(&forge_, &object, 0, Urid(LV2_PATCH__Set));
        lv2_atom_forge_key(&forge_, Urid(LV2_PATCH__property));
        lv2_atom_forge_urid(&forge_, Urid(MARROWBEAT_LV2_SETUP_URI));
        lv2_atom_forge_key(&forge_, Urid(LV2_PATCH__value));
        lv2_atom_forge_path(&forge_, path.c_str(), static_cast<uint32_t>(path.size()));
        lv2_atom_forge_pop(&forge_, &object);
    }
    void Get() {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge_, 0);
        lv2_atom_forge_object(&forge_, &object, 0, Urid(LV2_PATCH__Get));
        lv2_atom_forge_pop(&forge_, &object);
    }

    // One block: run() on the control input as built (its time returned, in seconds), then
    // the worker and its answers, and a fresh control input. The block's sound is appended
    // to `out` (interleaved) when given.
    double Run(std::vector<float>* out = nullptr) {
        lv2_atom_forge_pop(&forge_, &sequence_);
        for (auto* port : {&notify_, &midi_}) {
            auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(port->data());
            seq->atom.type = Urid(LV2_ATOM__Chunk);
            seq->atom.size = kAtomBytes - sizeof(LV2_Atom);
        }
        Counting(true);
        const auto start = std::chrono::steady_clock::now();
        lilv_instance_run(instance_, block_);
        const auto end = std::chrono::steady_clock::now();
        Counting(false);
        TakeOutputs();
        if (out != nullptr)
            for (uint32_t i = 0; i < block_; ++i) {
                out->push_back(left_[i]);
                out->push_back(right_[i]);
            }
        frames += block_;
        Clear();
        const LV2_Handle handle = lilv_instance_get_handle(instance_);
        for (size_t i = 0; i < work_.size(); ++i)
            worker_->work(handle, &LilvHost::Respond, this, static_cast<uint32_t>(work_[i].size()),
                          work_[i].data());
        work_.clear();
        for (const std::vector<char>& answer : answers_)
            worker_->work_response(handle, static_cast<uint32_t>(answer.size()), answer.data());
        answers_.clear();
        return std::chrono::duration<double>(end - start).count();
    }

    // The plugin's state as a host saves it with the song, and restored into this one.
    LilvState* Save() {
        return lilv_state_new_from_instance(plugin_, instance_, &map_, nullptr, nullptr, nullptr,
                                            nullptr, &LilvHost::NoPortValue, nullptr, 0, features_);
    }
    void Restore(const LilvState* state) {
        lilv_state_restore(state, instance_, nullptr, nullptr, 0, features_);
    }

    // Frames run so far; the note-ons heard (frames counted from the host's start); the
    // setup the notify output named last.
    int64_t frames = 0;
    std::vector<Note> notes;
    std::string told;
    // When given: true while run() runs (the host's own queue does not count).
    std::atomic<bool>* counting = nullptr;

private:
    void Counting(bool on) {
        if (counting != nullptr)
            counting->store(on, std::memory_order_relaxed);
    }
    void Clear() {
        lv2_atom_forge_set_buffer(&forge_, reinterpret_cast<uint8_t*>(control_.data()), kAtomBytes);
        lv2_atom_forge_sequence_head(&forge_, &sequence_, 0);
    }
    void TakeOutputs() {
        const auto* midi = reinterpret_cast<const LV2_Atom_Sequence*>(midi_.data());
        LV2_ATOM_SEQUENCE_FOREACH(midi, event) {
            const auto* bytes = static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&event->body));
            if (event->body.type == Urid(LV2_MIDI__MidiEvent) && (bytes[0] & 0xF0) == 0x90 &&
                bytes[2] > 0)
                notes.push_back({frames + event->time.frames, bytes[1]});
        }
        const auto* notify = reinterpret_cast<const LV2_Atom_Sequence*>(notify_.data());
        LV2_ATOM_SEQUENCE_FOREACH(notify, event) {
            const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
            if (event->body.type != Urid(LV2_ATOM__Object) ||
                object->body.otype != Urid(LV2_PATCH__Set))
                continue;
            const LV2_Atom* value = nullptr;
            lv2_atom_object_get(object, Urid(LV2_PATCH__value), &value, 0);
            if (value != nullptr && value->type == Urid(LV2_ATOM__Path))
                told = static_cast<const char*>(LV2_ATOM_BODY_CONST(value));
        }
    }
    static const void* NoPortValue(const char*, void*, uint32_t* size, uint32_t* type) {
        *size = 0;
        *type = 0;
        return nullptr;
    }
    static LV2_URID Map(LV2_URID_Map_Handle handle, const char* uri) {
        auto& uris = static_cast<LilvHost*>(handle)->uris_;
        for (size_t i = 0; i < uris.size(); ++i)
            if (uris[i] == uri)
                return static_cast<LV2_URID>(i + 1);
        uris.emplace_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }
    static LV2_Worker_Status
    Schedule(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data) {
        auto* self = static_cast<LilvHost*>(handle);
        // The host's own queue (a real host's is a ring made beforehand) is not run()'s.
        const bool was = self->counting != nullptr && self->counting->exchange(false);
        const auto* bytes = static_cast<const char*>(data);
        self->work_.emplace_back(bytes, bytes + size);
        self->Counting(was);
        return LV2_WORKER_SUCCESS;
    }
    static LV2_Worker_Status
    Respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data) {
        const auto* bytes = static_cast<const char*>(data);
        static_cast<LilvHost*>(handle)->answers_.emplace_back(bytes, bytes + size);
        return LV2_WORKER_SUCCESS;
    }

    LilvWorld* world_ = nullptr;
    const LilvPlugin* plugin_ = nullptr;
    LilvInstance* instance_ = nullptr;
    const LV2_Worker_Interface* worker_ = nullptr;
    std::vector<std::string> uris_;
    LV2_URID_Map map_{this, &LilvHost::Map};
    LV2_Worker_Schedule schedule_{this, &LilvHost::Schedule};
    LV2_Feature mapFeature_{LV2_URID__map, &map_};
    LV2_Feature scheduleFeature_{LV2_WORKER__schedule, &schedule_};
    const LV2_Feature* features_[3] = {&mapFeature_, &scheduleFeature_, nullptr};
    LV2_Atom_Forge forge_{};
    LV2_Atom_Forge_Frame sequence_{};
    std::vector<uint64_t> control_ = std::vector<uint64_t>(kAtomBytes / 8);
    std::vector<uint64_t> notify_ = std::vector<uint64_t>(kAtomBytes / 8);
    std::vector<uint64_t> midi_ = std::vector<uint64_t>(kAtomBytes / 8);
    uint32_t block_;
    std::vector<float> left_;
    std::vector<float> right_;
    std::vector<std::vector<char>> work_;
    std::vector<std::vector<char>> answers_;
};

} // namespace mb::test
