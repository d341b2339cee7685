#include "engine/RenderJob.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>

#include "engine/WaveStreamWriter.h"
#include "model/Setup.h"
#include "platform/AudioMixer.h"
#include "platform/ScriptedPrompts.h"

namespace mb {

namespace {

constexpr int kChannels = 2;

int StepCountOf(const Setup& setup) {
    return std::clamp<int>(setup.stepCount, 1, kStepsPerLoop);
}

} // namespace

struct RenderJob::Part {
    std::unique_ptr<Setup> setup = std::make_unique<Setup>();
    // The stems' sessions report nothing: the first session has said it all.
    ScriptedPrompts quiet;
    std::unique_ptr<OfflineSession> session;
    WaveStreamWriter writer;
    std::string path;
};

RenderJob::RenderJob(SetupSource source, const RenderSettings& settings, Prompts& prompts)
    : source_(std::move(source)), settings_(settings), prompts_(prompts) {}

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

    session_ = std::make_unique<OfflineSession>(*setup_, prompts_,
                                                OfflineSession::Options{settings_.rate, true, -1});
    session_->engine().LoadAll();

    // The frame of step k, as the mixer places it.
    const auto frameOfStep = [this](int64_t k) {
        return GridTime{1, 0, static_cast<double>(k) * period()}.OffsetFrames(settings_.rate);
    };
    if (settings_.seconds > 0.0) {
        writeFrames_ = std::llround(settings_.seconds * settings_.rate);
        return {};
    }
    const int64_t steps = chain_.PassesFor(settings_.passes) * StepCountOf(*setup_);
    if (settings_.loopable) {
        stepLimit_ = 2 * steps;
        skipFrames_ = frameOfStep(steps);
        writeFrames_ = frameOfStep(2 * steps) - skipFrames_;
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

std::unique_ptr<RenderJob::Part> RenderJob::MakePart(int soloSound) {
    auto part = std::make_unique<Part>();
    source_(*part->setup);
    part->session = std::make_unique<OfflineSession>(
        *part->setup, part->quiet, OfflineSession::Options{settings_.rate, false, soloSound});
    part->session->engine().LoadAll();
    return part;
}

std::string
RenderJob::Run(const std::string& output, const std::string& stemsDir, const Progress& progress) {
    cancelled_ = false;
    written_ = 0;
    std::vector<std::unique_ptr<Part>> parts;
    if (stemsDir.empty())
        return Render(parts, false, output, progress);

    std::error_code error;
    std::filesystem::create_directories(stemsDir, error);
    if (!std::filesystem::is_directory(stemsDir))
        return "cannot make the folder '" + stemsDir + "'";
    for (int sound : SoundsThatPlay()) {
        parts.push_back(MakePart(sound));
        parts.back()->path = (std::filesystem::path(stemsDir) /
                              StemName(sound, setup_->soundNames[static_cast<size_t>(sound)]))
                                 .string();
    }
    return Render(parts, true, output, progress);
}

std::string RenderJob::Render(std::vector<std::unique_ptr<Part>>& parts,
                              bool summed,
                              const std::string& output,
                              const Progress& progress) {
    const auto encoding =
        settings_.floatOutput ? WaveWriter::Encoding::kFloat32 : WaveWriter::Encoding::kPcm16;
    // A pipe's header can state the length only when it is known now.
    const uint64_t expected =
        ringOut_ ? WaveStreamWriter::kUnknownLength : static_cast<uint64_t>(writeFrames_);
    WaveStreamWriter mix;
    if (!output.empty() && !mix.Open(output, kChannels, settings_.rate, encoding, expected))
        return "cannot write '" + output + "'";
    for (auto& part : parts)
        if (!part->writer.Open(part->path, kChannels, settings_.rate, encoding, expected))
            return "cannot write '" + part->path + "'";

    if (summed) {
        for (auto& part : parts)
            part->session->Start(stepLimit_);
    } else {
        session_->Start(stepLimit_);
    }
    const int64_t block = OfflineSession::kBlockFrames;
    std::vector<float> sum(static_cast<size_t>(kChannels * block));
    std::vector<float> buffer(summed ? sum.size() : 0);
    bool ok = true;
    // Renders n frames of every part into the sum; writes them from the first frame of
    // the file on.
    const auto renderBlock = [&](int64_t n, bool write) {
        const size_t count = static_cast<size_t>(kChannels * n);
        if (!summed) {
            session_->Render(sum.data(), n);
        } else {
            std::fill_n(sum.begin(), count, 0.0f);
            for (auto& part : parts) {
                part->session->Render(buffer.data(), n);
                for (size_t i = 0; i < count; ++i)
                    sum[i] += buffer[i];
                if (write)
                    ok = part->writer.Write(buffer.data(), static_cast<int>(n)) && ok;
            }
            AudioMixer::Limit(sum.data(), count);
        }
        if (write && !output.empty())
            ok = mix.Write(sum.data(), static_cast<int>(n)) && ok;
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
    while (ok) {
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
    if (!ok) {
        for (auto& part : parts)
            if (!part->writer.ok())
                return "cannot write '" + part->path + "'";
        return "cannot write '" + output + "'";
    }
    written_ = done - skipFrames_;
    if (!output.empty() && !mix.Finish())
        return "cannot write '" + output + "'";
    for (auto& part : parts)
        if (!part->writer.Finish())
            return "cannot write '" + part->path + "'";
    return {};
}

} // namespace mb
