// SPDX-License-Identifier: BSD-3-Clause
// What this machine's memory and floating-point units deliver, so that the
// benchmark figures can be read against it and translated to other machines.
// Prints one JSON object:
//   first touch   seconds per GiB to fault in fresh anonymous memory, one
//                 write per 4 KiB page, without and with
//                 madvise(MADV_HUGEPAGE), and the part of it that came in
//                 transparent huge pages;
//   latency       ns per dependent double addition and multiplication;
//   throughput    ns per independent double addition and multiplication
//                 instruction, scalar and 2, 4 and 8 lanes wide where the
//                 processor has the unit (checked at run time), and flops per ns;
//   bandwidth     GB/s reading (summing) and copying an array that is already
//                 resident;
//   clock         the "cpu MHz" that /proc/cpuinfo reports, if any;
//   processors    the widest unit's independent additions on every
//                 processor at once against on one: what a machine whose
//                 processors share cores, or whose host is busy, gives less of.
// Each figure is the best of several runs. Built with the project's flags and
// no -march: the wider units are reached through functions compiled for them
// alone, called only where __builtin_cpu_supports finds the unit.
//
//   machine_probe [--quick]     (--quick: 128 MiB arrays and shorter loops)
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Keeps a value in a register and opaque to the optimiser, so that neither
// loops nor lanes are merged, hoisted or dropped.
#if defined(__x86_64__) || defined(__i386__)
#define KEEP(x) __asm__ volatile("" : "+x"(x))
#elif defined(__aarch64__)
#define KEEP(x) __asm__ volatile("" : "+w"(x))
#else
#define KEEP(x) __asm__ volatile("" : "+m"(x))
#endif
#if defined(__x86_64__) || defined(__i386__)
#define KEEP_WIDE(x) __asm__ volatile("" : "+v"(x))
#endif

constexpr size_t kGiB = size_t(1) << 30;
constexpr size_t kPage = 4096;
constexpr size_t kHugePage = size_t(2) << 20;

// ------------------------------------------------------------ first touch

// The process's anonymous memory in transparent huge pages, in bytes (the
// AnonHugePages line of /proc/self/smaps_rollup; 0 where there is none).
double huge_page_bytes() {
    std::ifstream f("/proc/self/smaps_rollup");
    std::string line;
    while (std::getline(f, line)) {
        if (line.compare(0, 14, "AnonHugePages:") == 0) return std::atof(line.c_str() + 14) * 1024;
    }
    return 0;
}

// Seconds to map BYTES of fresh anonymous memory and write one byte per 4 KiB
// page; unmapped afterwards. huge: ask for transparent huge pages first (the
// mapping is aligned to 2 MiB so that every page can be one). *huge_share:
// the part of the mapping the kernel gave huge pages.
double first_touch(size_t bytes, bool huge, double* huge_share) {
    const size_t mapped = bytes + kHugePage;
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return -1;
    char* base = static_cast<char*>(p);
    char* start = base + (kHugePage - reinterpret_cast<uintptr_t>(base) % kHugePage) % kHugePage;
#ifdef MADV_HUGEPAGE
    const bool refused = huge && madvise(start, bytes, MADV_HUGEPAGE) != 0;
#else
    const bool refused = huge; // no transparent huge pages here
#endif
    if (refused) {
        munmap(p, mapped);
        return -1;
    }
    const Clock::time_point t0 = Clock::now();
    for (size_t i = 0; i < bytes; i += kPage)
        *static_cast<volatile char*>(start + i) = 1;
    const double s = seconds_since(t0);
    *huge_share = huge_page_bytes() / double(bytes);
    munmap(p, mapped);
    return s;
}

// ------------------------------------------------------------ floating point

// Every timing repeats "acc = acc op x" on its accumulators; x is 1 for
// additions and slightly above 1 for multiplications, so values stay normal
// (no slow subnormal path) over every run. A latency chain has one
// accumulator, so each step waits for the last; a throughput run has
// kChains independent ones, enough to keep every unit busy.
constexpr int kChains = 12;
constexpr int kUnroll = 12; // dependent steps per iteration of a latency chain

enum Op { kAdd, kMul };

// The loop of a throughput run over accumulators of type V (x splat into
// V as xs), timed: twelve named accumulators, each kept in a register of its
// own by KEEPM (an array would live in memory). Seconds per instruction.
#define THROUGHPUT_STEP(v, KEEPM, xs)                                                              \
    do {                                                                                           \
        if constexpr (op == kAdd)                                                                  \
            v = v + xs;                                                                            \
        else                                                                                       \
            v = v * xs;                                                                            \
        KEEPM(v);                                                                                  \
    } while (0)
#define THROUGHPUT_RUN(V, KEEPM, xs)                                                               \
    V a0 = xs, a1 = xs, a2 = xs, a3 = xs, a4 = xs, a5 = xs, a6 = xs, a7 = xs, a8 = xs, a9 = xs,    \
      a10 = xs, a11 = xs;                                                                          \
    const Clock::time_point t0 = Clock::now();                                                     \
    for (long i = 0; i < iters; ++i) {                                                             \
        THROUGHPUT_STEP(a0, KEEPM, xs);                                                            \
        THROUGHPUT_STEP(a1, KEEPM, xs);                                                            \
        THROUGHPUT_STEP(a2, KEEPM, xs);                                                            \
        THROUGHPUT_STEP(a3, KEEPM, xs);                                                            \
        THROUGHPUT_STEP(a4, KEEPM, xs);                                                            \
        THROUGHPUT_STEP(a5, KEEPM, xs);                                                            \
        THROUGHPUT_STEP(a6, KEEPM, xs);                                                            \
        THROUGHPUT_STEP(a7, KEEPM, xs);                                                            \
        THROUGHPUT_STEP(a8, KEEPM, xs);                                                            \
        THROUGHPUT_STEP(a9, KEEPM, xs);                                                            \
        THROUGHPUT_STEP(a10, KEEPM, xs);                                                           \
        THROUGHPUT_STEP(a11, KEEPM, xs);                                                           \
    }                                                                                              \
    const double seconds = seconds_since(t0);                                                      \
    volatile V sink = a0 + a1 + a2 + a3 + a4 + a5 + a6 + a7 + a8 + a9 + a10 + a11;                 \
    (void)sink;                                                                                    \
    return seconds / (double(iters) * kChains)

typedef double v2d __attribute__((vector_size(16)));

template <Op op> double latency(long iters, double x) {
    double a = x;
    const Clock::time_point t0 = Clock::now();
    for (long i = 0; i < iters; ++i) {
        for (int u = 0; u < kUnroll; ++u) {
            if constexpr (op == kAdd)
                a = a + x;
            else
                a = a * x;
            KEEP(a);
        }
    }
    const double seconds = seconds_since(t0);
    volatile double sink = a;
    (void)sink;
    return seconds / (double(iters) * kUnroll);
}

// Scalar and two lanes: the baseline instruction set of every x86-64 (SSE2).
template <Op op> double throughput1(long iters, double x) {
    const double xs = x;
    THROUGHPUT_RUN(double, KEEP, xs);
}
template <Op op> double throughput2(long iters, double x) {
    const v2d xs = {x, x};
    THROUGHPUT_RUN(v2d, KEEP, xs);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define PROBE_WIDE_UNITS 1
typedef double v4d __attribute__((vector_size(32)));
typedef double v8d __attribute__((vector_size(64)));

// Four lanes (AVX2) and eight (AVX-512F): compiled for the unit alone, and
// called only where it is present.
template <Op op> __attribute__((target("avx2"))) double throughput4(long iters, double x) {
    const v4d xs = {x, x, x, x};
    THROUGHPUT_RUN(v4d, KEEP_WIDE, xs);
}
template <Op op> __attribute__((target("avx512f"))) double throughput8(long iters, double x) {
    const v8d xs = {x, x, x, x, x, x, x, x};
    THROUGHPUT_RUN(v8d, KEEP_WIDE, xs);
}
#endif

// Best of RUNS calls of f(iters, x), in ns per instruction.
double best_ns(double (*f)(long, double), long iters, double x, int runs) {
    double best = 1e30;
    for (int k = 0; k < runs; ++k) {
        const double s = f(iters, x);
        if (s < best) best = s;
    }
    return best * 1e9;
}

// The work of f(iters, x) on `threads` threads at once, each running it
// whole, against one thread: the best of RUNS wall times of each; threads
// times the ratio of the two (the threads' speed-up on work they share
// nothing of).
double every_processor(double (*f)(long, double), long iters, double x, int threads, int runs) {
    double one = 1e30, all = 1e30;
    for (int k = 0; k < runs; ++k) {
        Clock::time_point t0 = Clock::now();
        f(iters, x);
        one = std::min(one, seconds_since(t0));
        t0 = Clock::now();
        std::vector<std::thread> team;
        for (int t = 1; t < threads; ++t)
            team.emplace_back([=] { f(iters, x); });
        f(iters, x);
        for (std::thread& t : team)
            t.join();
        all = std::min(all, seconds_since(t0));
    }
    return threads * one / all;
}

// ------------------------------------------------------------ bandwidth

// Sum of an array with eight independent accumulators (two lanes each), so
// that memory, not the addition latency, sets the pace.
double sum_array(const double* a, size_t n) {
    v2d acc[8] = {};
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        for (int c = 0; c < 8; ++c) {
            v2d v;
            std::memcpy(&v, a + i + 2 * c, sizeof v);
            acc[c] += v;
        }
    }
    double s = 0;
    for (; i < n; ++i)
        s += a[i];
    for (const v2d& v : acc)
        s += v[0] + v[1];
    return s;
}

// ------------------------------------------------------------ output

std::string cpu_mhz() {
    std::ifstream f("/proc/cpuinfo");
    std::string line;
    while (std::getline(f, line)) {
        if (line.compare(0, 7, "cpu MHz") == 0) {
            const size_t colon = line.find(':');
            if (colon != std::string::npos) {
                const double mhz = std::atof(line.c_str() + colon + 1);
                if (mhz > 0) {
                    char buf[32];
                    std::snprintf(buf, sizeof buf, "%.0f", mhz);
                    return buf;
                }
            }
        }
    }
    return "null";
}

std::string num(double x) {
    if (!(x > 0)) return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", x);
    return buf;
}

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const size_t bytes = quick ? kGiB / 8 : kGiB;
    const double gib = double(bytes) / double(kGiB);
    const int runs = 3;

    // First touch.
    double touch = 1e30, touch_huge = 1e30, share = 0, share_huge = 0;
    for (int k = 0; k < runs; ++k) {
        double sh = 0, hh = 0;
        const double s = first_touch(bytes, false, &sh);
        const double h = first_touch(bytes, true, &hh);
        if (s > 0 && s < touch) {
            touch = s;
            share = sh;
        }
        if (h > 0 && h < touch_huge) {
            touch_huge = h;
            share_huge = hh;
        }
    }

    // Floating point: each timing takes about 0.1 s on a machine of a few GHz
    // (240 million dependent or 600 million independent instructions).
    const long chain_iters = quick ? 2000000 : 20000000;
    const long tp_iters = quick ? 5000000 : 50000000;
    const double add_x = 1.0, mul_x = 1.0 + 1e-12;
    const double lat_add = best_ns(latency<kAdd>, chain_iters, add_x, runs);
    const double lat_mul = best_ns(latency<kMul>, chain_iters, mul_x, runs);

    struct Width {
        int lanes;
        const char* unit;
        bool present;
        double (*add)(long, double);
        double (*mul)(long, double);
    };
    std::vector<Width> widths = {{1, "scalar", true, throughput1<kAdd>, throughput1<kMul>},
                                 {2, "SSE2", true, throughput2<kAdd>, throughput2<kMul>}};
#ifdef PROBE_WIDE_UNITS
    __builtin_cpu_init();
    widths.push_back(
        {4, "AVX2", __builtin_cpu_supports("avx2") != 0, throughput4<kAdd>, throughput4<kMul>});
    widths.push_back({8, "AVX-512F", __builtin_cpu_supports("avx512f") != 0, throughput8<kAdd>,
                      throughput8<kMul>});
#endif

    // Every processor: the widest unit's additions.
    const int processors = static_cast<int>(std::thread::hardware_concurrency());
    const Width* widest = &widths[0];
    for (const Width& u : widths)
        if (u.present) widest = &u;
    const double scaling =
        processors > 1 ? every_processor(widest->add, tp_iters, add_x, processors, runs) : 1.0;

    // Bandwidth on resident memory: the source touched once, then summed;
    // the copy goes to a second resident array.
    const size_t n = bytes / sizeof(double);
    std::vector<double> src(n, 1.0), dst(n, 0.0);
    double best_read = 1e30, best_copy = 1e30, sink = 0;
    for (int k = 0; k < runs; ++k) {
        Clock::time_point t0 = Clock::now();
        sink += sum_array(src.data(), n);
        const double r = seconds_since(t0);
        t0 = Clock::now();
        std::memcpy(dst.data(), src.data(), bytes);
        const double c = seconds_since(t0);
        sink += dst[size_t(k) * 4099 % n];
        if (r < best_read) best_read = r;
        if (c < best_copy) best_copy = c;
    }
    if (sink != double(runs) * (double(n) + 1))
        std::fprintf(stderr, "machine_probe: unexpected sum %g\n", sink);

    std::printf("{\n  \"tool\": \"machine_probe\",\n  \"quick\": %s,\n  \"array_bytes\": %zu,\n",
                quick ? "true" : "false", bytes);
    std::printf("  \"cpu_mhz_proc_cpuinfo\": %s,\n", cpu_mhz().c_str());
    std::printf("  \"first_touch\": {\"s_per_gib\": %s, \"huge_page_share\": %.3f},\n",
                num(touch / gib).c_str(), share);
    std::printf("  \"first_touch_madvise_huge\": {\"s_per_gib\": %s, \"huge_page_share\": %.3f},\n",
                num(touch_huge / gib).c_str(), share_huge);
    std::printf("  \"add_latency_ns\": %s,\n  \"mul_latency_ns\": %s,\n", num(lat_add).c_str(),
                num(lat_mul).c_str());
    std::printf("  \"throughput\": [\n");
    for (size_t w = 0; w < widths.size(); ++w) {
        const Width& u = widths[w];
        double add = 0, mul = 0;
        if (u.present) {
            add = best_ns(u.add, tp_iters, add_x, runs);
            mul = best_ns(u.mul, tp_iters, mul_x, runs);
        }
        std::printf("    {\"lanes\": %d, \"unit\": \"%s\", \"present\": %s, \"add_ns\": %s, "
                    "\"mul_ns\": %s, \"add_flops_per_ns\": %s, \"mul_flops_per_ns\": %s}%s\n",
                    u.lanes, u.unit, u.present ? "true" : "false", num(add).c_str(),
                    num(mul).c_str(), num(add > 0 ? u.lanes / add : 0).c_str(),
                    num(mul > 0 ? u.lanes / mul : 0).c_str(), w + 1 < widths.size() ? "," : "");
    }
    std::printf("  ],\n");
    std::printf("  \"every_processor\": {\"processors\": %d, \"unit\": \"%s\", \"speedup\": %s},\n",
                processors > 1 ? processors : 1, widest->unit, num(scaling).c_str());
    std::printf("  \"read_gb_per_s\": %s,\n  \"copy_gb_per_s\": %s\n}\n",
                num(double(bytes) / best_read / 1e9).c_str(),
                num(2 * double(bytes) / best_copy / 1e9).c_str());
    return 0;
}
