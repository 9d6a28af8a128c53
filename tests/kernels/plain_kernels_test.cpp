// SPDX-License-Identifier: BSD-3-Clause
// The kernels on plain memory, with no host at all: each family's io policy
// of plain_io.h against the reference, bit for bit, and what the
// kernels ask of their policy; and, through the MEX accessor over emulated
// arrays, what the input checks ask of their accessor on a long list.
#include "emulated_host.h"
#include "fold_links_in_place.h"
#include "mex_host.h"
#include "plain_io.h"
#include "random_inputs.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using random_inputs::kNaN;

// Views of reference tables, as a CellList over `views`.
CellList list_of(const std::vector<reference::Table>& tables, std::vector<DoubleMatrix>& views) {
    views.clear();
    for (const auto& t : tables)
        views.push_back(DoubleMatrix{const_cast<double*>(t.v.data()), t.rows, t.cols});
    return CellList{views.data(), int32_t(views.size())};
}

// The thread counts every split is tried with: one, two, uneven splits, and
// more threads than most calls have work for.
const int kThreadCounts[] = {1, 2, 3, 7};

// Calls of any size run on the threads they are given.
void set_env(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

// The same shape and bytes (NaN payloads, signs of zero).
::testing::AssertionResult same_bytes(const DoubleMatrix& got, const DoubleMatrix& want) {
    if (got.rows != want.rows || got.cols != want.cols)
        return ::testing::AssertionFailure() << "size " << got.rows << " x " << got.cols << ", not "
                                             << want.rows << " x " << want.cols;
    if (want.elements() > 0 &&
        std::memcmp(got.data, want.data, size_t(want.elements()) * sizeof(double)) != 0)
        return ::testing::AssertionFailure() << "other bytes";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult same(const DoubleMatrix& got, int rows, int cols,
                                const std::vector<double>& want) {
    const std::vector<double> values(got.data, got.data + got.elements());
    const std::string why = support::difference(support::Values{got.rows, got.cols, values},
                                                support::Values{rows, cols, want});
    if (why.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << why;
}

TEST(PlainKernels, AlignSeriesMatchesTheReference) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        const auto [c, want] = random_inputs::align_with_reference(rng);
        std::vector<DoubleMatrix> views[4];
        const CellList lists[4] = {list_of(c.in[0], views[0]), list_of(c.in[1], views[1]),
                                   list_of(c.in[2], views[2]), list_of(c.in[3], views[3])};
        const align_series::Shape shape{c.v, c.e, c.n};
        plain::AlignIo io(lists, shape);
        align_series::run(shape, io);
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < c.n; ++i) {
                const auto& w = want.out[k][size_t(i)];
                ASSERT_TRUE(same(io.out[k].entries[size_t(i)], w.rows, w.cols, w.v))
                    << "round " << round << ", output " << k + 1 << ", entry " << i + 1;
            }
        for (const int threads : kThreadCounts) {
            plain::AlignIo split(lists, shape);
            align_series::run_threaded(shape, split, threads, nullptr);
            for (int k = 0; k < 4; ++k)
                for (int i = 0; i < c.n; ++i)
                    ASSERT_TRUE(
                        same_bytes(split.out[k].entries[size_t(i)], io.out[k].entries[size_t(i)]))
                        << "round " << round << ", " << threads << " threads, output " << k + 1
                        << ", entry " << i + 1;
        }
    }
}

template <class V> void fold_matches_the_reference(bool masked, std::mt19937& rng) {
    for (int round = 0; round < 300; ++round) {
        random_inputs::FoldCase c = random_inputs::fold(rng, masked);
        const auto want = reference::fold_links(c.links, c.v, c.n, c.counts, c.N, masked);
        const fold_links::Inputs in{DoubleMatrix{c.links.data(), c.v, c.n}, c.counts.data(), c.N,
                                    c.v - 1};
        plain::FoldIo io(in), in_place(in);
        ASSERT_EQ(fold_links::run<V>(in, io).link, -1) << "round " << round;
        ASSERT_EQ(fold_links::fold_in_place<V>(in, in_place).link, -1) << "round " << round;
        for (const int threads : kThreadCounts) {
            plain::FoldIo split(in);
            ASSERT_EQ(fold_links::fold_in_place_threaded<V>(in, split, threads, nullptr).link, -1);
            for (int s = 0; s < 2; ++s)
                for (int i = 0; i < c.N; ++i)
                    ASSERT_TRUE(same_bytes(split.out[s].entries[size_t(i)],
                                           in_place.out[s].entries[size_t(i)]))
                        << V::name << ", round " << round << ", " << threads << " threads, output "
                        << s + 1 << ", entry " << i + 1;
        }
        for (const plain::FoldIo* got : {&io, &in_place})
            for (int i = 0; i < c.N; ++i) {
                const auto& w1 = want.by_second[size_t(i)];
                const auto& w2 = want.by_first[size_t(i)];
                ASSERT_TRUE(same(got->out[0].entries[size_t(i)], w1.rows, w1.cols, w1.v))
                    << V::name << ", round " << round << ", output 1, entry " << i + 1;
                ASSERT_TRUE(same(got->out[1].entries[size_t(i)], w2.rows, w2.cols, w2.v))
                    << V::name << ", round " << round << ", output 2, entry " << i + 1;
            }
        // With one count too small, both kernels stop at the same link; in
        // odd rounds both buckets of link j are full when j comes, so the
        // second end's is reported.
        if (c.n == 0) continue;
        if (round % 2) {
            const int j = int(rng() % unsigned(c.n));
            auto ends = [&](int k) { return &c.links[size_t(k) * size_t(c.v)]; };
            if (masked && ends(j)[2] != ends(j)[2]) continue;
            double& second = c.counts[2 * size_t(ends(j)[1] - 1)];
            double& first = c.counts[2 * size_t(ends(j)[0] - 1) + 1];
            second = first = 0;
            for (int k = 0; k < j; ++k)
                if (!(masked && ends(k)[2] != ends(k)[2])) {
                    second += int(ends(k)[1]) == int(ends(j)[1]);
                    first += int(ends(k)[0]) == int(ends(j)[0]);
                }
        } else {
            double& count = c.counts[rng() % c.counts.size()];
            if (count < 1) continue;
            count -= 1;
        }
        plain::FoldIo short_io(in), short_in_place(in);
        const fold_links::Overflow want_stop = fold_links::run<V>(in, short_io);
        const fold_links::Overflow got_stop = fold_links::fold_in_place<V>(in, short_in_place);
        ASSERT_EQ(got_stop.link, want_stop.link) << "round " << round;
        if (want_stop.link < 0) continue;
        EXPECT_EQ(got_stop.index, want_stop.index);
        EXPECT_EQ(got_stop.second_end, want_stop.second_end);
        EXPECT_EQ(got_stop.capacity, want_stop.capacity);
        for (const int threads : kThreadCounts) {
            plain::FoldIo split(in);
            const fold_links::Overflow split_stop =
                fold_links::fold_in_place_threaded<V>(in, split, threads, nullptr);
            ASSERT_EQ(split_stop.link, want_stop.link) << "round " << round << ", " << threads;
            EXPECT_EQ(split_stop.index, want_stop.index);
            EXPECT_EQ(split_stop.second_end, want_stop.second_end);
            EXPECT_EQ(split_stop.capacity, want_stop.capacity);
        }
    }
}

TEST(PlainKernels, FoldLinksMatchesTheReference) {
    std::mt19937 rng(20261208);
    fold_matches_the_reference<fold_links::Full>(false, rng);
    fold_matches_the_reference<fold_links::Masked>(true, rng);
}

// A bucket that receives more links than its count ends the filing at that
// link, before any of it is written.
TEST(PlainKernels, FoldLinksStopsAtAFullBucket) {
    std::vector<double> links = {1, 2, 5, 1, 2, 6};
    const std::vector<double> counts = {0, 2, 1, 0}; // second-end bucket 2 holds one link
    const fold_links::Inputs in{DoubleMatrix{links.data(), 3, 2}, counts.data(), 2, 2};
    plain::FoldIo io(in);
    const fold_links::Overflow stop = fold_links::run<fold_links::Full>(in, io);
    EXPECT_EQ(stop.link, 1);
    EXPECT_EQ(stop.index, 1);
    EXPECT_TRUE(stop.second_end);
    EXPECT_EQ(stop.capacity, 1);
    EXPECT_TRUE(same(io.filing(fold_links::by_first, 0), 2, 2, {2, 5, 0, 0}));
}

// The tally of `in` on the path `isa`; with `threads` above 0, through
// run_threaded on that many threads. `status`, where given, takes how the
// run ended.
template <class V>
reference::TallyResult plain_tally(const reference::TallyInput& in, int64_t* switch_reads,
                                   tally_pairs::Isa isa = tally_pairs::Isa::generic,
                                   int threads = 0, tally_pairs::Status* status = nullptr) {
    std::vector<reference::Table> tables;
    for (const auto& e : in.records)
        tables.push_back(reference::Table{in.n, int(e.size()) / in.n, e});
    std::vector<DoubleMatrix> views;
    const CellList records = list_of(tables, views);
    const int32_t r = int32_t(in.r);
    const int32_t rows = V::nan_records ? in.n : in.n - 1;
    reference::TallyResult out;
    out.rows = rows;
    out.cols = r;
    out.v.assign(size_t(rows) * size_t(r), 0.0);
    auto W = in.W, R = in.R, F = in.F;
    plain::TallyIo io(records, in.n, in.F_switch);
    const tally_pairs::Inputs inputs{DoubleMatrix{W.data(), in.K, in.G},
                                     DoubleMatrix{R.data(), in.K, in.K},
                                     DoubleMatrix{F.data(), 2, in.G},
                                     r,
                                     in.n,
                                     rows};
    const DoubleMatrix tally{out.v.data(), rows, r};
    const tally_pairs::Status ended =
        threads > 0 ? tally_pairs::run_threaded<V>(inputs, tally, io, threads, nullptr, isa)
                    : tally_pairs::run<V>(inputs, tally, io, isa);
    out.misspecified = ended.code == tally_pairs::Status::misspecified;
    if (switch_reads) *switch_reads = io.switch_reads;
    if (status) *status = ended;
    return out;
}

// Every code path this processor runs, on small tables and on tables wide
// enough for every vector layout (rows in and beyond blocks of 32, groups of
// columns with unequal pairs, K beyond 16): each matches the reference, and
// every path gives the generic path's bits, NaN payloads included, on any
// number of threads.
TEST(PlainKernels, TallyPairsMatchesTheReference) {
    std::mt19937 rng(4242);
    set_env("TABLEFOLD_THREAD_WORK", "0");
    std::vector<tally_pairs::Isa> paths;
    for (int i = 0; i < tally_pairs::kIsaPathCount; ++i)
        if (tally_pairs::isa_runs() & (1u << i)) paths.push_back(tally_pairs::kIsaPaths[i].isa);
    int errors = 0;
    for (int round = 0; round < 600; ++round) {
        const reference::TallyInput in = random_inputs::tally(rng, round % 3 == 2, true);
        for (bool full : {true, false}) {
            const auto want = reference::tally_pairs(in, full);
            std::vector<double> generic;
            for (tally_pairs::Isa isa : paths) {
                const auto g = full ? plain_tally<tally_pairs::Full>(in, nullptr, isa)
                                    : plain_tally<tally_pairs::Masked>(in, nullptr, isa);
                SCOPED_TRACE(std::string(full ? "full" : "masked") + ", round " +
                             std::to_string(round) + ", " + tally_pairs::isa_name(isa));
                ASSERT_EQ(g.misspecified, want.misspecified);
                if (want.misspecified) {
                    errors += isa == tally_pairs::Isa::generic;
                    continue;
                }
                ASSERT_EQ(support::difference(support::Values{g.rows, g.cols, g.v},
                                              support::Values{want.rows, want.cols, want.v}),
                          "");
                if (isa == tally_pairs::Isa::generic)
                    generic = g.v;
                else // the same bytes (an empty tally has no data to compare)
                    ASSERT_TRUE(generic.empty() ||
                                std::memcmp(g.v.data(), generic.data(), generic.size() * 8) == 0);
                for (const int threads : kThreadCounts) {
                    const auto t =
                        full ? plain_tally<tally_pairs::Full>(in, nullptr, isa, threads)
                             : plain_tally<tally_pairs::Masked>(in, nullptr, isa, threads);
                    ASSERT_EQ(t.misspecified, want.misspecified) << threads << " threads";
                    ASSERT_TRUE(generic.empty() ||
                                std::memcmp(t.v.data(), generic.data(), generic.size() * 8) == 0)
                        << threads << " threads";
                }
            }
        }
    }
    EXPECT_GT(errors, 20); // both outcomes are exercised
}

// Calls that no plan holds (over 4096 contributing pairs, over 1024
// classes) on every number of threads: the reference's bytes, and where a
// partner names no entry (in a later entry, so that terms come before it)
// or a class number lies above r, the same end and the same bytes as on one.
TEST(PlainKernels, TallyPairsWithoutAPlanOnThreads) {
    std::mt19937 rng(2525);
    set_env("TABLEFOLD_THREAD_WORK", "0");
    int ends[3] = {0, 0, 0};
    for (int round = 0; round < 120; ++round) {
        reference::TallyInput in = random_inputs::tally(rng, true, true, true);
        const bool bad_partner = round % 4 == 3 && in.G > 0 && !in.records.back().empty();
        if (bad_partner) in.records.back()[0] = in.G + 1;
        for (bool full : {true, false}) {
            SCOPED_TRACE(std::string(full ? "full" : "masked") + ", round " +
                         std::to_string(round));
            tally_pairs::Status want_end;
            const auto want = full ? plain_tally<tally_pairs::Full>(
                                         in, nullptr, tally_pairs::Isa::generic, 0, &want_end)
                                   : plain_tally<tally_pairs::Masked>(
                                         in, nullptr, tally_pairs::Isa::generic, 0, &want_end);
            ++ends[want_end.code];
            if (want_end.code == tally_pairs::Status::ok) {
                const auto ref = reference::tally_pairs(in, full);
                ASSERT_EQ(support::difference(support::Values{want.rows, want.cols, want.v},
                                              support::Values{ref.rows, ref.cols, ref.v}),
                          "");
            }
            for (const int threads : kThreadCounts) {
                tally_pairs::Status end;
                const auto t = full ? plain_tally<tally_pairs::Full>(
                                          in, nullptr, tally_pairs::Isa::generic, threads, &end)
                                    : plain_tally<tally_pairs::Masked>(
                                          in, nullptr, tally_pairs::Isa::generic, threads, &end);
                ASSERT_EQ(end.code, want_end.code) << threads << " threads";
                ASSERT_EQ(end.entry, want_end.entry) << threads << " threads";
                ASSERT_EQ(end.record, want_end.record) << threads << " threads";
                ASSERT_TRUE(want.v.empty() ||
                            std::memcmp(t.v.data(), want.v.data(), want.v.size() * 8) == 0)
                    << threads << " threads";
            }
        }
    }
    for (const int n : ends)
        EXPECT_GT(n, 4); // every end is exercised
}

// F_switch is read once for every contributing pair of a NaN record, and
// never by the masked variant.
TEST(PlainKernels, TallyPairsReadsFSwitchPerContributingPair) {
    reference::TallyInput in;
    in.K = 2;
    in.G = 1;
    in.W = {2, 3};
    in.n = 2;
    in.records = {{1, kNaN, 1, 4, 1, kNaN}}; // two NaN records, one value record
    in.R = {1, 0, -1, 2};                    // two contributing pairs
    in.r = 2;
    in.F = {1, 1};
    in.F_switch = 0;
    int64_t reads = -1;
    const auto full = plain_tally<tally_pairs::Full>(in, &reads);
    EXPECT_EQ(reads, 4);
    EXPECT_EQ(support::difference(support::Values{full.rows, full.cols, full.v},
                                  support::Values{2, 2, {16, -8, 36, -18}}),
              "");
    plain_tally<tally_pairs::Masked>(in, &reads);
    EXPECT_EQ(reads, 0);
}

// TABLEFOLD_THREADS counts when it is a whole number from 1 to
// threads::kMaxThreads in digits alone; anything else leaves the processors
// the process may use. TABLEFOLD_THREAD_WORK sets the least work threaded.
TEST(Threads, CountForACall) {
    const int processors = threads::processors();
    EXPECT_GE(processors, 1);
    const struct {
        const char* value;
        int threads;
    } cases[] = {{"3", 3},
                 {"1", 1},
                 {"1024", 1024},
                 {"007", 7},
                 {"", processors},
                 {"0", processors},
                 {"-2", processors},
                 {"2x", processors},
                 {" 2", processors},
                 {"two", processors},
                 {"1025", processors},
                 {"99999999999999999999", processors}};
    for (const auto& c : cases) {
        set_env("TABLEFOLD_THREADS", c.value);
        EXPECT_EQ(threads::for_call(), c.threads) << "TABLEFOLD_THREADS=\"" << c.value << "\"";
    }
    set_env("TABLEFOLD_THREADS", "");
    set_env("TABLEFOLD_THREAD_WORK", "");
    const int64_t least = int64_t(1) << 20;
    EXPECT_EQ(threads::for_work(least - 1, least, 8), 1);
    EXPECT_EQ(threads::for_work(least, least, 8), 2);
    EXPECT_EQ(threads::for_work(100 * least, least, 8), 8);
    set_env("TABLEFOLD_THREAD_WORK", "0");
    EXPECT_EQ(threads::for_work(0, least, 8), 8);
    set_env("TABLEFOLD_THREAD_WORK", "1x");
    EXPECT_EQ(threads::for_work(least - 1, least, 8), 1);
}

// The MEX accessor over emulated arrays, counting the checks' polls.
struct PollCounter : mexhost::Access {
    int polls = 0;
    void poll() { ++polls; }
};

// A list of `n` entries, each a copy of `entry`.
emu::ArrayPtr repeated(int n, const mxArray* entry) {
    std::vector<emu::ArrayPtr> entries;
    for (int i = 0; i < n; ++i)
        entries.push_back(emu::copy(entry));
    return emu::cell_column(std::move(entries));
}

// A check that walks every entry of a long list polls for an interrupt on
// the way, so that Ctrl-C reaches a native function before its kernel starts.
TEST(InputChecks, LongListWalksPollForInterrupts) {
    const int n = 5 * checks::kPollEvery;
    const emu::ArrayPtr values = repeated(n, emu::matrix(2, 1, {1, 5}).get());
    const emu::ArrayPtr stats = repeated(n, emu::matrix(2, 1, {1, 0.5}).get());
    {
        const mxArray* in[4] = {values.get(), values.get(), stats.get(), stats.get()};
        PollCounter h;
        align_series::Shape shape;
        ASSERT_FALSE(align_series::check_inputs(h, 4, 4, in, shape));
        EXPECT_EQ(shape.n, n);
        // four list walks and the size walk, five polls each
        EXPECT_EQ(h.polls, 5 * 5);
    }
    {
        const emu::ArrayPtr W = emu::zeros(1, n);
        const emu::ArrayPtr R = emu::scalar(1);
        const emu::ArrayPtr r = emu::scalar(1);
        const mxArray* in[4] = {W.get(), values.get(), R.get(), r.get()};
        PollCounter h;
        tally_pairs::Inputs inputs;
        ASSERT_FALSE(tally_pairs::check_inputs<tally_pairs::Masked>(h, 1, 4, in, inputs));
        EXPECT_EQ(h.polls, 5);
    }
}

} // namespace
