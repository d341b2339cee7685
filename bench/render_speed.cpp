// Rendering: the command-line tool rendering a setup by passes into a 16-bit WAV file, as
// whole commands (start-up, loading and writing included), median of several runs each
// for one pass and for 320 passes. Prints each command's median time and largest peak
// resident memory, and the speed of rendering alone as a multiple of real time: the
// sound added by the longer render over the time it added.
//
//   bench_render CLI SETUP.mbx [runs, default 5] [output folder, default the temp folder]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kShortPasses = 1;
constexpr int kLongPasses = 320;

struct Measure {
    double seconds = 0.0;      // median wall time of the command
    long peakKb = 0;           // largest peak resident memory
    double soundSeconds = 0.0; // length of the file written
};

// Runs the tool once; its wall time and peak memory, and the seconds of sound it reports
// on its standard output. False when it failed.
bool RunOnce(const std::vector<std::string>& args, double& seconds, long& peakKb, double& sound) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return false;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peakKb = usage.ru_maxrss;
    // "OUT.wav: 609.524 s at ..."
    const size_t colon = out.find(": ");
    sound = colon == std::string::npos ? 0.0 : std::atof(out.c_str() + colon + 2);
    return true;
}

bool Run(const std::string& cli,
         const std::string& setup,
         const std::string& output,
         int passes,
         int runs,
         Measure& m) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        double seconds = 0.0;
        long peak = 0;
        if (!RunOnce({cli, "render", setup, "-o", output, "--passes", std::to_string(passes)},
                     seconds, peak, m.soundSeconds))
            return false;
        times.push_back(seconds);
        m.peakKb = std::max(m.peakKb, peak);
    }
    std::sort(times.begin(), times.end());
    m.seconds = times[times.size() / 2];
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_render CLI SETUP.mbx [runs] [output folder]\n");
        return 2;
    }
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const std::filesystem::path folder =
        argc > 4 ? std::filesystem::path(argv[4]) : std::filesystem::temp_directory_path();
    const std::string output = (folder / "bench_render.wav").string();
    Measure shortRender;
    Measure longRender;
    if (!Run(argv[1], argv[2], output, kShortPasses, runs, shortRender) ||
        !Run(argv[1], argv[2], output, kLongPasses, runs, longRender)) {
        std::fprintf(stderr, "bench_render: the render failed\n");
        return 1;
    }
    std::filesystem::remove(output);
    std::printf("render %3d pass(es): %8.1f s of sound in %.3f s (median of %d), peak %.1f MB\n",
                kShortPasses, shortRender.soundSeconds, shortRender.seconds, runs,
                static_cast<double>(shortRender.peakKb) / 1024.0);
    std::printf("render %3d passes:   %8.1f s of sound in %.3f s (median of %d), peak %.1f MB\n",
                kLongPasses, longRender.soundSeconds, longRender.seconds, runs,
                static_cast<double>(longRender.peakKb) / 1024.0);
    std::printf("rendering alone: %.0fx real time (goal at least 1000x; peak goal 40 MB)\n",
                (longRender.soundSeconds - shortRender.soundSeconds) /
                    (longRender.seconds - shortRender.seconds));
    return 0;
}
