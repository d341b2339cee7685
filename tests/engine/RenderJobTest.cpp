#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <sys/stat.h>

#include "ScriptedPrompts.h"
#include "WaveFiles.h"
#include "audio/AudioMixer.h"
#include "engine/RenderJob.h"
#include "model/Setup.h"

namespace mb {
namespace {

constexpr int kStepCount = 4;

std::vector<uint8_t> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The samples of a 32-bit float file.
std::vector<float> Floats(const std::string& path) {
    const std::vector<uint8_t> bytes = test::DataBytes(path);
    std::vector<float> out(bytes.size() / sizeof(float));
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(float));
    return out;
}

class RenderJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        // a: a click of 50 frames; b: a tone that rings for several steps; c: never played.
        std::vector<int16_t> click(50, 0);
        click[0] = 30000;
        std::vector<int16_t> tone(30000);
        for (size_t i = 0; i < tone.size(); ++i)
            tone[i] = static_cast<int16_t>(12000.0 * std::sin(0.05 * static_cast<double>(i)) *
                                           (1.0 - static_cast<double>(i) / 30000.0));
        dir.Write("a.wav", test::MonoFile(click));
        dir.Write("b.wav", test::MonoFile(tone));
        dir.Write("c.wav", test::MonoFile(click));
    }

    // Four steps a pass, only step 0 on (sound a) in every loop; `edit` adds the rest.
    RenderJob::SetupSource Source(std::function<void(mb::Setup&)> edit) {
        return [this, edit](mb::Setup& s) {
            s.soundFolder = dir.path();
            s.soundNames = {"a.wav", "b.wav", "c.wav"};
            s.stepCount = kStepCount;
            for (int l = 0; l < kLoopCount; ++l)
                for (int k = 0; k < kStepsPerLoop; ++k) {
                    s.loop(l).steps[static_cast<size_t>(k)].on = k == 0 ? 1 : 0;
                    s.loop(l).steps[static_cast<size_t>(k)].sound = 0;
                }
            edit(s);
        };
    }

    // Renders into a file of the folder; the job's error.
    std::string Render(const std::string& name,
                       const RenderSettings& settings,
                       const std::function<void(mb::Setup&)>& edit,
                       const std::string& stems = {}) {
        RenderJob job(Source(edit), settings, prompts);
        std::string error = job.Prepare();
        return error.empty() ? job.Run(name.empty() ? "" : dir.path() + "/" + name, stems) : error;
    }

    static int64_t FrameOfStep(int64_t k) {
        return GridTime{1, 0, static_cast<double>(k) * Sequencer::PeriodFromTempo(126.0)}
            .OffsetFrames(44100);
    }

    ScriptedPrompts prompts;
    test::TempFolder dir;
};

TEST_F(RenderJobTest, TheStreamedFileIsTheInMemoryRenderEncoded) {
    for (const bool floatOutput : {false, true}) {
        RenderSettings settings;
        settings.seconds = 3.0;
        settings.floatOutput = floatOutput;
        const auto everyStep = [](mb::Setup& s) {
            for (Step& step : s.loop(0).steps)
                step.on = 1;
            s.loop(0).steps[1].sound = 1;
        };
        ASSERT_EQ(Render("streamed.wav", settings, everyStep), "");

        mb::Setup setup;
        Source(everyStep)(setup);
        OfflineSession session(setup, prompts);
        session.engine().LoadAll();
        const auto expected = WaveWriter::Encode(session.Render(3 * 44100), 2, 44100,
                                                 floatOutput ? WaveWriter::Encoding::kFloat32
                                                             : WaveWriter::Encoding::kPcm16);
        EXPECT_EQ(Bytes(dir.path() + "/streamed.wav"), expected) << floatOutput;
    }
}

TEST_F(RenderJobTest, PassesFollowTheChainAndALoopableFileContinuesItself) {
    // Loop 1 once, then loops 2 (twice) and 3 round and round: a lead-in of one pass and
    // a cycle of three.
    const auto leadIn = [](mb::Setup& s) {
        s.loop(0).nextLoop = 1;
        s.loop(1).nextLoop = 2;
        s.loop(1).repeatCount = 2;
        s.loop(2).nextLoop = 1;
    };
    mb::Setup chained;
    Source(leadIn)(chained);
    const LoopChain chain = LoopChain::Of(chained);
    EXPECT_EQ(chain.leadInPasses, 1);
    EXPECT_EQ(chain.cyclePasses, 3);
    EXPECT_FALSE(chain.ReturnsToStart());

    RenderSettings settings;
    settings.passes = 2;
    settings.floatOutput = true;
    ASSERT_EQ(Render("lead.wav", settings, leadIn), "");
    std::vector<int64_t> starts;
    for (int pass = 0; pass < 1 + 2 * 3; ++pass)
        starts.push_back(FrameOfStep(pass * kStepCount));
    EXPECT_EQ(test::FindOnsets(test::Left(Floats(dir.path() + "/lead.wav")), 1000, 100), starts);

    settings.loopable = true;
    EXPECT_NE(Render("never.wav", settings, leadIn).find("loop 1"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/never.wav"));

    // Loop 1 twice, then loop 2, back to loop 1; the last step of loop 2 starts the tone,
    // which rings on into the next pass.
    const auto round = [](mb::Setup& s) {
        s.polyphonic = 1;
        s.loop(0).nextLoop = 1;
        s.loop(0).repeatCount = 2;
        s.loop(1).nextLoop = 0;
        s.loop(1).steps[3].on = 1;
        s.loop(1).steps[3].sound = 1;
    };
    settings.passes = 1;
    ASSERT_EQ(Render("loop.wav", settings, round), "");
    settings.passes = 2;
    settings.loopable = false;
    ASSERT_EQ(Render("two.wav", settings, round), "");
    const std::vector<float> loop = Floats(dir.path() + "/loop.wav");
    const std::vector<float> two = Floats(dir.path() + "/two.wav");
    const auto pass = static_cast<size_t>(FrameOfStep(3 * kStepCount));
    ASSERT_EQ(loop.size(), 2 * (static_cast<size_t>(FrameOfStep(6 * kStepCount)) - pass));
    ASSERT_GE(two.size(), 2 * pass + loop.size());
    // The file played again after itself is what follows the first pass of two.
    EXPECT_TRUE(std::equal(loop.begin(), loop.end(), two.begin() + static_cast<long>(2 * pass)));
    EXPECT_NE(loop[2 * 100], 0.0f) << "the tone rings on after the click at the start";
}

TEST_F(RenderJobTest, StemsOfTheSoundsThatPlayAddUpToTheMix) {
    const auto both = [](mb::Setup& s) {
        s.polyphonic = 1;
        s.masterVolume = 100;
        for (int k = 0; k < kStepCount; ++k) {
            s.loop(0).steps[static_cast<size_t>(k)].on = 1;
            s.loop(0).steps[static_cast<size_t>(k)].volume = 127;
            s.loop(0).steps[static_cast<size_t>(k)].sound = static_cast<int16_t>(k % 2);
        }
    };
    for (const bool floatOutput : {true, false}) {
        RenderSettings settings;
        settings.passes = 3;
        settings.floatOutput = floatOutput;
        const std::string stems = dir.path() + (floatOutput ? "/float" : "/pcm");
        ASSERT_EQ(Render("mix.wav", settings, both, stems), "");
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(stems))
            files.push_back(entry.path().filename().string());
        std::sort(files.begin(), files.end());
        ASSERT_EQ(files, (std::vector<std::string>{"01-a.wav", "02-b.wav"}));

        const auto a = Bytes(stems + "/01-a.wav");
        const auto b = Bytes(stems + "/02-b.wav");
        const auto mix = Bytes(dir.path() + "/mix.wav");
        ASSERT_EQ(a.size(), mix.size());
        ASSERT_EQ(b.size(), mix.size());
        constexpr size_t kHeader = 44;
        if (floatOutput) {
            std::vector<float> sum(Floats(stems + "/01-a.wav"));
            const std::vector<float> other = Floats(stems + "/02-b.wav");
            for (size_t i = 0; i < sum.size(); ++i)
                sum[i] += other[i];
            AudioMixer::Limit(sum.data(), sum.size());
            EXPECT_EQ(sum, Floats(dir.path() + "/mix.wav"));
            // The mix rendered without stems differs at most by rounding.
            ASSERT_EQ(Render("plain.wav", settings, both), "");
            const std::vector<float> plain = Floats(dir.path() + "/plain.wav");
            ASSERT_EQ(plain.size(), sum.size());
            for (size_t i = 0; i < sum.size(); ++i)
                ASSERT_NEAR(plain[i], sum[i], 1e-6f) << i;
        } else {
            // Below the limiter's knee (-1 dBFS).
            constexpr int kKnee = 29200;
            for (size_t i = kHeader; i + 1 < mix.size(); i += 2) {
                const auto sample = [i](const std::vector<uint8_t>& v) {
                    return static_cast<int16_t>(v[i] | (v[i + 1] << 8));
                };
                const int sum = sample(a) + sample(b);
                if (std::abs(sum) < kKnee) {
                    ASSERT_LE(std::abs(sum - sample(mix)), 2) << i;
                }
            }
        }
    }
}

// Every name under a folder (links not followed) with what it holds: a file's mode and
// bytes, a link's target, or its kind.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string path = entry.path().string();
        struct stat st {};
        ::lstat(path.c_str(), &st);
        std::string& what = names[path.substr(folder.size() + 1)];
        if (S_ISLNK(st.st_mode))
            what = "link " + std::filesystem::read_symlink(path).string();
        else if (S_ISREG(st.st_mode))
            what = (std::ostringstream() << std::oct << (st.st_mode & 0777) << " ").str() +
                   std::string(std::istreambuf_iterator<char>(
                                   std::ifstream(path, std::ios::binary).rdbuf()),
                               {});
        else
            what = S_ISDIR(st.st_mode) ? "folder" : "other";
    }
    return names;
}

TEST_F(RenderJobTest, ARenderThatFailsChangesNoFileAndOneThatCompletesKeepsTheModes) {
    const auto both = [](mb::Setup& s) {
        s.loop(0).steps[1].on = 1;
        s.loop(0).steps[1].sound = 1;
    };
    const std::string out = dir.path() + "/out";
    struct Case {
        const char* what;
        // Changes the previous render before this one.
        std::function<void()> arrange;
        // Part of the error; empty when the render completes.
        std::string error;
        bool cancel = false;
    };
    const auto replaceByLink = [&](const std::string& name, const std::string& target) {
        std::filesystem::remove(out + "/" + name);
        std::filesystem::create_symlink(target, out + "/" + name);
    };
    const Case cases[] = {
        {"a stem that is a pipe",
         [&] {
             std::filesystem::remove(out + "/stems/02-b.wav");
             ASSERT_EQ(::mkfifo((out + "/stems/02-b.wav").c_str(), 0600), 0);
         },
         "stems/02-b.wav': Not a regular file"},
        {"the mix linked to a stem", [&] { replaceByLink("mix.wav", "stems/01-a.wav"); },
         "would be one file"},
        {"two stems linked", [&] { replaceByLink("stems/02-b.wav", "01-a.wav"); },
         "would be one file"},
        {"a cancelled render", [] {}, "", true},
        {"a link planted where a temporary file might be",
         [&] {
             std::ofstream(out + "/victim") << "victim";
             std::filesystem::create_symlink("../victim", out + "/stems/02-b.wav.part");
             std::filesystem::create_symlink("victim", out + "/mix.wav.part");
         },
         ""},
    };
    const mode_t umask = ::umask(022);
    for (const Case& c : cases) {
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        RenderSettings settings;
        ASSERT_EQ(Render("out/mix.wav", settings, both, out + "/stems"), "");
        ::chmod((out + "/mix.wav").c_str(), 0600);
        c.arrange();
        const auto before = Snapshot(out);

        // Files that differ from the previous ones.
        settings.floatOutput = true;
        RenderJob job(Source(both), settings, prompts);
        ASSERT_EQ(job.Prepare(), "");
        const std::string error =
            job.Run(out + "/mix.wav", out + "/stems", [&c](int64_t, int64_t) { return !c.cancel; });
        const auto after = Snapshot(out);
        if (!c.error.empty() || c.cancel) {
            EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
            EXPECT_EQ(error.empty(), c.error.empty()) << c.what;
            EXPECT_TRUE(after == before) << c.what;
            continue;
        }
        EXPECT_EQ(error, "") << c.what;
        ASSERT_EQ(after.size(), before.size()) << c.what;
        for (const auto& [name, what] : before) {
            const bool rendered = name.ends_with(".wav");
            EXPECT_EQ(after.at(name) == what, !rendered) << c.what << ": " << name;
            if (rendered) {
                EXPECT_EQ(after.at(name).substr(0, 4), name == "mix.wav" ? "600 " : "644 ")
                    << c.what << ": " << name;
            }
        }
    }
    ::umask(umask);
}

} // namespace
} // namespace mb
