#include "engine/RenderJob.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/AudioMixer.h"
#include "engine/WaveStreamWriter.h"
#include "midi/MidiFileWriter.h"
#include "model/Setup.h"
#include "platform/Notifier.h"

namespace mb {

namespace {

constexpr int kChannels = 2;

int StepCountOf(const Setup& setup) {
    return std::clamp<int>(setup.stepCount, 1, kStepsPerLoop);
}

std::string CannotWrite(const std::string& path, const std::string& cause) {
    if (path == WaveStreamWriter::kStandardOutput)
        return "cannot write to standard output: " + cause;
    return "cannot write '" + path + "': " + cause;
}

// The folders made for stems: those that were missing are made, and removed again (when
// empty) unless the render is kept.
class MadeFolders {
public:
    MadeFolders() = default;
    MadeFolders(const MadeFolders&) = delete;
    MadeFolders& operator=(const MadeFolders&) = delete;
    ~MadeFolders() {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it)
            ::rmdir(it->c_str());
    }

    // Makes dir and the missing folders above it. The cause of a failure, or empty.
    std::string Make(const std::filesystem::path& dir) {
        std::vector<std::filesystem::path> missing;
        std::error_code ec;
        for (std::filesystem::path p = dir; !p.empty() && !std::filesystem::exists(p, ec);
             p = p.parent_path()) {
            missing.push_back(p);
            if (p == p.parent_path())
                break;
        }
        for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
            if (::mkdir(it->c_str(), 0777) == 0)
                made_.push_back(*it);
            else if (errno != EEXIST)
                return std::strerror(errno);
        }
        if (!std::filesystem::is_directory(dir, ec))
            return std::strerror(ec ? ec.value() : EEXIST);
        return {};
    }
    // The render is complete: its folders stay.
    void Keep() { made_.clear(); }

private:
    std::vector<std::filesystem::path> made_;
};

} // namespace

struct RenderJob::Part {
    std::unique_ptr<Setup> setup = std::make_unique<Setup>();
    // The stems' sessions report nothing: the first session has said it all.
    SilentNotifier quiet;
    std::unique_ptr<OfflineSession> session;
    WaveStreamWriter writer;
    std::string path;
};

RenderJob::RenderJob(SetupSource source, const RenderSettings& settings, Notifier& notifier)
    : source_(std::move(source)), settings_(settings), notifier_(notifier) {}

RenderJob::~RenderJob() = default;

std::string RenderJob::StemName(int sound, const std::string& soundName) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d-", sound + 1);
    return number + std::filesystem::path(soundName).stem().string() + ".wav";
}

double RenderJob::period() const {
    return Sequencer::PeriodFromTempo(setup_->bpm);
}

int RenderJob::loadedSounds() const {
    int loaded = 0;
    for (int i = 0; i < session_->engine().soundCount(); ++i)
        loaded += session_->engine().IsLoaded(i) ? 1 : 0;
    return loaded;
}

std::string RenderJob::Prepare() {
    if (settings_.rate < kMinRate || settings_.rate > kMaxRate)
        return "the rate must be from " + std::to_string(kMinRate) + " to " +
               std::to_string(kMaxRate) + " Hz";
    if (settings_.seconds <= 0.0 && (settings_.passes < 1 || settings_.passes > kMaxPasses))
        return "the number of passes must be from 1 to " + std::to_string(kMaxPasses);
    setup_ = std::make_unique<Setup>();
    source_(*setup_);
    chain_ = LoopChain::Of(*setup_);
    if (settings_.loopable && !chain_.ReturnsToStart())
        return "a loopable file needs a loop chain that comes back to loop " +
               std::to_string(chain_.leadIn.front().loop + 1) +
               ", where it starts; it goes on to loop " +
               std::to_string(chain_.cycle.front().loop + 1) + " and stays in a cycle from there";

    if (!midiPath_.empty())
        midi_ = std::make_unique<MidiFileWriter>(period(), settings_.midiChannel);
    session_ = std::make_unique<OfflineSession>(
        *setup_, notifier_, OfflineSession::Options{settings_.rate, true, -1, midi_.get()});
    session_->engine().LoadAll();

    // The frame of step k, as the mixer places it.
    const auto frameOfStep = [this](int64_t k) {
        return GridTime{1, 0, static_cast<double>(k) * period()}.OffsetFrames(settings_.rate);
    };
    if (settings_.seconds > 0.0) {
        writeFrames_ = std::llround(settings_.seconds * settings_.rate);
        if (midi_)
            midi_->KeepBetween(0.0, settings_.seconds * 1000.0);
        return {};
    }
    const int64_t steps = chain_.PassesFor(settings_.passes) * StepCountOf(*setup_);
    if (settings_.loopable) {
        stepLimit_ = 2 * steps;
        skipFrames_ = frameOfStep(steps);
        writeFrames_ = frameOfStep(2 * steps) - skipFrames_;
        // The notes of the second half, as the WAV file holds its sound.
        if (midi_)
            midi_->KeepBetween(static_cast<double>(steps) * period(),
                               static_cast<double>(2 * steps) * period());
    } else {
        stepLimit_ = steps;
        writeFrames_ = frameOfStep(steps);
        ringOut_ = true;
    }
    return {};
}

std::vector<int> RenderJob::SoundsThatPlay() const {
    int64_t passes = chain_.PassesFor(settings_.passes);
    if (settings_.seconds > 0.0) {
        const double stepFrames = period() * settings_.rate / 1000.0;
        const auto steps = static_cast<int64_t>(static_cast<double>(writeFrames_) / stepFrames) + 1;
        passes = (steps + StepCountOf(*setup_) - 1) / StepCountOf(*setup_);
    }
    const std::vector<bool> loops = chain_.LoopsIn(passes);
    std::set<int> sounds;
    for (int l = 0; l < kLoopCount; ++l) {
        if (!loops[static_cast<size_t>(l)])
            continue;
        for (int s = 0; s < StepCountOf(*setup_); ++s) {
            const Step& step = setup_->loop(l).steps[static_cast<size_t>(s)];
            if (step.on != 0 && session_->engine().IsLoaded(step.sound))
                sounds.insert(step.sound);
        }
    }
    return {sounds.begin(), sounds.end()};
}

void RenderJob::LoadPart(Part& part, int soloSound) {
    source_(*part.setup);
    part.session = std::make_unique<OfflineSession>(
        *part.setup, part.quiet, OfflineSession::Options{settings_.rate, false, soloSound});
    part.session->engine().LoadAll();
}

std::string
RenderJob::Run(const std::string& output, const std::string& stemsDir, const Progress& progress) {
    cancelled_ = false;
    written_ = 0;
    // Declared first so that it goes last, after the files in the folders it made.
    MadeFolders folders;
    WaveStreamWriter mix;
    std::vector<std::unique_ptr<Part>> parts;

    // Every target is checked before any file is made: one that cannot be written, or
    // two outputs that would be one file, change nothing. The stems' folder comes first,
    // so that a mix of the same name is refused as a folder.
    if (!stemsDir.empty())
        if (const std::string cause = folders.Make(stemsDir); !cause.empty())
            return "cannot make the folder '" + stemsDir + "': " + cause;
    if (!output.empty())
        if (const std::string cause = mix.Prepare(output); !cause.empty())
            return CannotWrite(output, cause);
    OutputFile midiFile;
    if (midi_) {
        if (const std::string cause = midiFile.Prepare(midiPath_); !cause.empty())
            return CannotWrite(midiPath_, cause);
        if (!output.empty() && mix.file() != nullptr && midiFile.SameTarget(*mix.file()))
            return "the mix '" + output + "' and the MIDI file '" + midiPath_ +
                   "' would be one file";
    }
    if (!stemsDir.empty()) {
        for (int sound : SoundsThatPlay()) {
            const std::string path =
                (std::filesystem::path(stemsDir) /
                 StemName(sound, setup_->soundNames[static_cast<size_t>(sound)]))
                    .string();
            auto part = std::make_unique<Part>();
            part->path = path;
            if (const std::string cause = part->writer.Prepare(path); !cause.empty())
                return CannotWrite(path, cause);
            if (!output.empty() && part->writer.SameTarget(mix))
                return "the mix '" + output + "' and the stem '" + path + "' would be one file";
            if (midi_ && part->writer.file() != nullptr &&
                midiFile.SameTarget(*part->writer.file()))
                return "the MIDI file '" + midiPath_ + "' and the stem '" + path +
                       "' would be one file";
            for (const auto& other : parts)
                if (part->writer.SameTarget(other->writer))
                    return "the stems '" + other->path + "' and '" + path + "' would be one file";
            LoadPart(*part, sound);
            parts.push_back(std::move(part));
        }
    }
    std::string error = Render(parts, !stemsDir.empty(), output.empty() ? nullptr : &mix, output,
                               midi_ ? &midiFile : nullptr, progress);
    if (error.empty() && !cancelled_)
        folders.Keep();
    return error;
}

std::string RenderJob::Render(std::vector<std::unique_ptr<Part>>& parts,
                              bool summed,
                              WaveStreamWriter* mix,
                              const std::string& output,
                              OutputFile* midiFile,
                              const Progress& progress) {
    const auto encoding =
        settings_.floatOutput ? WaveWriter::Encoding::kFloat32 : WaveWriter::Encoding::kPcm16;
    // A pipe's header can state the length only when it is known now.
    const uint64_t expected =
        ringOut_ ? WaveStreamWriter::kUnknownLength : static_cast<uint64_t>(writeFrames_);
    // The first failure, with the file it concerns.
    std::string error;
    const auto check = [&error](const std::string& cause, const std::string& path) {
        if (!cause.empty() && error.empty())
            error = CannotWrite(path, cause);
    };
    if (mix != nullptr)
        check(mix->Start(kChannels, settings_.rate, encoding, expected), output);
    for (auto& part : parts)
        if (error.empty())
            check(part->writer.Start(kChannels, settings_.rate, encoding, expected), part->path);
    if (!error.empty())
        return error;

    // The MIDI file's notes come from the main session, which plays beside the stems
    // when they are rendered (its sound is not used then).
    const bool mainPlays = !summed || midiFile != nullptr;
    for (auto& part : parts)
        part->session->Start(stepLimit_);
    if (mainPlays)
        session_->Start(stepLimit_);
    const int64_t block = OfflineSession::kBlockFrames;
    std::vector<float> sum(static_cast<size_t>(kChannels * block));
    std::vector<float> buffer(summed ? sum.size() : 0);
    // Renders n frames of every part into the sum; writes them from the first frame of
    // the file on.
    const auto renderBlock = [&](int64_t n, bool write) {
        const size_t count = static_cast<size_t>(kChannels * n);
        if (!summed) {
            session_->Render(sum.data(), n);
        } else {
            if (mainPlays)
                session_->Render(buffer.data(), n);
            std::fill_n(sum.begin(), count, 0.0f);
            for (auto& part : parts) {
                part->session->Render(buffer.data(), n);
                for (size_t i = 0; i < count; ++i)
                    sum[i] += buffer[i];
                if (write)
                    check(part->writer.Write(buffer.data(), static_cast<int>(n)), part->path);
            }
            AudioMixer::Limit(sum.data(), count);
        }
        if (write && mix != nullptr)
            check(mix->Write(sum.data(), static_cast<int>(n)), output);
    };
    const auto sounding = [&] {
        if (!summed)
            return session_->Sounding();
        return std::any_of(parts.begin(), parts.end(),
                           [](const auto& part) { return part->session->Sounding(); });
    };

    const int64_t planned = plannedFrames();
    const auto maxRingOut = static_cast<int64_t>(kMaxRingOutSeconds * settings_.rate);
    int64_t done = 0;
    while (error.empty()) {
        int64_t n = 0;
        if (done < skipFrames_)
            n = std::min(block, skipFrames_ - done);
        else if (done < planned)
            n = std::min(block, planned - done);
        else if (ringOut_ && done - planned < maxRingOut && sounding())
            n = std::min(block, planned + maxRingOut - done);
        else
            break;
        renderBlock(n, done >= skipFrames_);
        done += n;
        if (progress && !progress(done, planned)) {
            cancelled_ = true;
            return {};
        }
    }
    if (!error.empty())
        return error;
    written_ = done - skipFrames_;

    // Every file is complete before any takes its name.
    std::vector<OutputFile*> files;
    if (mix != nullptr) {
        check(mix->Finish(), output);
        files.push_back(mix->file());
    }
    for (auto& part : parts) {
        check(part->writer.Finish(), part->path);
        files.push_back(part->writer.file());
    }
    if (midiFile != nullptr && error.empty()) {
        check(midiFile->Create(), midiPath_);
        if (error.empty())
            check(midiFile->Write(midi_->Bytes()), midiPath_);
        files.push_back(midiFile);
    }
    if (!error.empty())
        return error;
    const OutputFile::Failure failure = OutputFile::CommitAll(files);
    return failure.cause.empty() ? std::string() : CannotWrite(failure.path, failure.cause);
}

} // namespace mb
