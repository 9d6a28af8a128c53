// SPDX-License-Identifier: BSD-3-Clause
// The same bits on every platform: a fixed set of calls of every plug-in,
// drawn from the random input generators with fixed seeds (NaNs of both
// signs with payloads, quiet and signalling, signed zeros, infinities, and
// tables wide enough for every layout of the tallies' vector paths), with
// every byte of every output and every error message hashed. The hash must
// be the one stored here, which x86-64 gives: under Wine and under qemu as
// natively, on every code path of the tallies that the processor has. A
// path that the processor lacks is reported as skipped.
#include "host_inputs.h"
#include "random_inputs.h"
#include "support.h"

#include "tally_pairs_vector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

using emu::ArrayPtr;

// The hash of the calls below as x86-64 gives it.
constexpr uint64_t kStoredHash = 0x5ff7914ec1ba4949ULL;

// FNV-1a over bytes, 64 bits.
struct Hash {
    uint64_t value = 0xcbf29ce484222325ULL;
    void bytes(const void* p, size_t size) {
        const unsigned char* b = static_cast<const unsigned char*>(p);
        for (size_t i = 0; i < size; ++i)
            value = (value ^ b[i]) * 0x100000001b3ULL;
    }
    void number(int64_t x) { bytes(&x, sizeof x); }
    void text(const std::string& s) {
        number(int64_t(s.size()));
        bytes(s.data(), s.size());
    }
    // Shape and bytes of an array, cell entries included.
    void array(const mxArray* a) {
        for (int d : emu::dims_of(a))
            number(d);
        if (emu::is_cell(a)) {
            for (const mxArray* e : emu::entries(a))
                array(e);
            return;
        }
        const emu::Matrix m = emu::read(a);
        bytes(m.values.data(), m.values.size() * sizeof(double));
    }
    void call(const emu::CallResult& r) {
        number(r.failed);
        text(r.error_id);
        text(r.error_message);
        for (const ArrayPtr& out : r.outputs)
            array(out.get());
    }
};

double from_bits(uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// Every NaN of an input becomes one of these: quiet and signalling NaNs of
// both signs, with and without payloads.
void with_payloads(std::vector<double>& values, std::mt19937& rng) {
    static const uint64_t pool[] = {0x7ff8000000000000ULL, 0xfff8000000000000ULL,
                                    0x7ff800000000beefULL, 0xfff80000000c0ffeULL,
                                    0x7ff4000000000001ULL, 0xfff0000000000123ULL};
    for (double& x : values)
        if (x != x) x = from_bits(pool[rng() % 6]);
}

// NaN payloads in the values of every table, table by table.
void with_payloads(std::vector<reference::Table>& tables, std::mt19937& rng) {
    for (reference::Table& t : tables)
        with_payloads(t.v, rng);
}

// The hash of the fixed calls: align_series, both link folds and both pair
// tallies, in this order.
uint64_t hash_of_calls() {
    Hash h;
    std::mt19937 rng(20261210);
    const emu::Plugin& align = support::plugin("align_series");
    for (int round = 0; round < 300; ++round) {
        random_inputs::AlignCase c = random_inputs::align(rng);
        for (auto& tables : c.in)
            with_payloads(tables, rng);
        using support::list_of;
        const ArrayPtr in[4] = {list_of(c.in[0]), list_of(c.in[1]), list_of(c.in[2]),
                                list_of(c.in[3])};
        h.call(align.call(4, {in[0].get(), in[1].get(), in[2].get(), in[3].get()}));
    }
    for (int round = 0; round < 600; ++round) {
        const bool masked = round % 2 != 0;
        random_inputs::FoldCase c = random_inputs::fold(rng, masked);
        with_payloads(c.links, rng);
        h.call(support::plugin(masked ? "fold_links_masked" : "fold_links_full")
                   .call(2, support::arrays_of(c.links, c.v, c.n, c.counts, c.N).args()));
    }
    for (int round = 0; round < 900; ++round) {
        reference::TallyInput in = random_inputs::tally(rng, round % 3 != 0);
        with_payloads(in.W, rng);
        with_payloads(in.F, rng);
        for (auto& e : in.records)
            with_payloads(e, rng);
        const support::TallyArrays a = support::arrays_of(in);
        h.call(support::plugin("tally_pairs_full").call(1, a.args(true)));
        h.call(support::plugin("tally_pairs_masked").call(1, a.args(false)));
    }
    return h.value;
}

void set_path(const char* name) {
#if defined(_WIN32)
    _putenv_s("TABLEFOLD_ISA", name);
#else
    setenv("TABLEFOLD_ISA", name, 1);
#endif
}

// Whether the processor runs a path, found out here without the table's
// own test: the processor's identification and the registers the operating
// system saves.
bool processor_runs(tally_pairs::Isa isa) {
#if defined(__x86_64__)
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & (1u << 27)))
        return isa == tally_pairs::Isa::generic;
    unsigned saved, high;
    asm("xgetbv" : "=a"(saved), "=d"(high) : "c"(0));
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return isa == tally_pairs::Isa::generic;
    const bool avx2 = (b & (1u << 5)) && (saved & 0x6) == 0x6;
    const bool avx512 = avx2 && (b & (1u << 16)) && (b & (1u << 31)) && (saved & 0xe6) == 0xe6;
    switch (isa) {
    case tally_pairs::Isa::generic:
        return true;
    case tally_pairs::Isa::avx2:
        return avx2;
    case tally_pairs::Isa::avx512:
        return avx512;
    default:
        return false;
    }
#elif defined(__aarch64__)
    // Advanced SIMD (NEON) is part of every aarch64 processor.
    return isa == tally_pairs::Isa::generic || isa == tally_pairs::Isa::neon;
#endif
}

class SameBits : public testing::TestWithParam<int> {};

TEST_P(SameBits, OnEveryPathOfTheProcessor) {
    const tally_pairs::IsaPath& path = tally_pairs::kIsaPaths[GetParam()];
    const bool table_runs = (tally_pairs::isa_runs() >> GetParam()) & 1u;
    ASSERT_EQ(table_runs, processor_runs(path.isa)) << path.name << " (needs " << path.needs << ")";
    if (!table_runs) GTEST_SKIP() << "this processor lacks " << path.needs << " for " << path.name;
    set_path(path.name);
    const uint64_t got = hash_of_calls();
    set_path("");
    char text[32];
    std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(got));
    EXPECT_EQ(got, kStoredHash) << path.name << " gives " << text;
}

INSTANTIATE_TEST_SUITE_P(Paths, SameBits, testing::Range(0, tally_pairs::kIsaPathCount),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(tally_pairs::kIsaPaths[info.param].name);
                         });

} // namespace
