// What a picture costs before it is shown or refused: a tiny progressive JPEG whose header claims
// N x N pixels, loaded by LoadPictureFile in a child process of its own. Time is the median of five
// loads; memory is the child's peak resident set, beside that of a child that loads nothing.
//
// usage: picture_load_bench [N...]   (default N: 32768 16384 4096 1024)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "platform/shared_memory.h"
#include "styledbuttons/pixels/jpeg_claims.h"
#include "styledbuttons/pixels/picture.h"

namespace {

struct TRun {
    double ms = 0;
    int loaded = 0;
    long peakKb = 0;
};

// Runs `work` in a child; its time as it reports it, its peak resident set from the kernel.
TRun InChild(const std::function<TRun()>& work) {
    int fds[2];
    TRun run;
    if (::pipe(fds) != 0) return run;
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const TRun r = work();
        const ssize_t n = ::write(fds[1], &r, sizeof r);
        platform::ExitReleasingNames(n == sizeof r ? 0 : 1);
    }
    ::close(fds[1]);
    if (::read(fds[0], &run, sizeof run) != static_cast<ssize_t>(sizeof run)) run = TRun{};
    ::close(fds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    run.peakKb = usage.ru_maxrss;
    return run;
}

TRun Load(const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    styledbuttons::TPicture picture;
    styledbuttons::LoadPictureFile(picture, path, false);
    TRun r;
    r.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    r.loaded = picture.Empty() ? 0 : 1;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<unsigned> sides;
    for (int i = 1; i < argc; ++i)
        sides.push_back(static_cast<unsigned>(std::strtoul(argv[i], nullptr, 10)));
    if (sides.empty()) sides = {32768, 16384, 4096, 1024};
    std::printf("%s\n", bench::MachineLine().c_str());
    bench::ScratchDir dir("picture_load");

    const TRun idle = InChild([] { return TRun{}; });
    std::printf("child that loads nothing: peak RSS %.1f MiB\n\n", idle.peakKb / 1024.0);
    std::printf(
        "| claimed sides | file bytes | result | median ms | peak RSS MiB |\n|---|---|---|---|---|\n");
    for (const unsigned side : sides) {
        const std::string bytes = sbtest::ProgressiveJpegClaiming(side, side);
        const std::string path = dir.Path("claims" + std::to_string(side) + ".jpg");
        dir.Write("claims" + std::to_string(side) + ".jpg", bytes);
        std::vector<TRun> runs;
        for (int i = 0; i < 5; ++i)
            runs.push_back(InChild([&] { return Load(path); }));
        std::sort(runs.begin(), runs.end(), [](const TRun& a, const TRun& b) { return a.ms < b.ms; });
        long peak = 0;
        for (const TRun& r : runs)
            peak = std::max(peak, r.peakKb);
        std::printf("| %u x %u | %zu | %s | %.3f | %.1f |\n", side, side, bytes.size(),
                    runs[2].loaded ? "decoded" : "refused", runs[2].ms, peak / 1024.0);
    }
    std::printf("\nload after: %s\n", bench::LoadAverage().c_str());
    return 0;
}
