// SPDX-License-Identifier: BSD-3-Clause
// The pair tally's vector adders and the table of its code paths. On x86-64
// the AVX2 and AVX-512 paths are in one build, chosen per call by what the
// processor runs (run-time dispatch, no build flag), so that one plug-in
// serves every x86-64 machine; on aarch64 the NEON path, which every such
// processor runs. All paths share one layout code (tally_pairs_lanes.h).
//
// Every tally element still takes its terms one by one, in plan order, each
// formed as weight * value and added at once (ieee.h): a vector instruction
// advances several elements by one step of their own sequences, never two
// steps of one. Two layouts share a value record's work:
//
//   by rows     a tally column's rows, one register per kLanes rows; the
//               column's weights are broadcast. For columns of many rows.
//               Columns of few registers go up to four side by side, so
//               that enough independent sums hide the addition's latency.
//   by columns  a group of up to four tally columns side by side, one
//               register per row; the groups' weights are laid out step by
//               step (step s, lane l: the s-th pair of the group's column
//               l). Columns of few rows (n - 1 at most 7) would leave most
//               of a register empty in the other layout. A column with
//               fewer pairs than the group's longest takes -0.0 instead of
//               a term in the steps it has no pair for (or keeps its sum,
//               the same): x + (-0.0) is x for every x under the default
//               rounding, the sign of zero and NaN included.
//
// Value records go in batches of one entry's records (VectorPlan): each
// layout holds its sums in registers across the batch. Per value record the
// weights W(k1, g) * W(k2, d) of all pairs are formed in the layout's
// order, the next record's while the first layout adds the terms of this
// one: two (NEON) or four (AVX2) at a time from factors loaded one by one,
// or on AVX-512 with K <= 16 eight at a time from factors permuted out of
// two registers that hold W(:, g) and W(:, d). The W(k1, g) are gathered
// once per entry.
#ifndef KERNELS_TALLY_PAIRS_VECTOR_H
#define KERNELS_TALLY_PAIRS_VECTOR_H

#include "ieee.h"
#include "tally_pairs_fast.h"
#include "views.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if defined(IEEE_DISPATCH)
#include <immintrin.h>
#endif

#if defined(IEEE_DISPATCH) || defined(IEEE_NEON)
#define TALLY_VECTOR_PATHS 1
#endif

namespace tally_pairs {

// The code paths of the value records' terms, as the table below lists them.
enum class Isa { generic = 0, avx2 = 1, avx512 = 2, neon = 3 };

// A plan's pairs in the vector layouts (see the top of this file), built
// once per call. It lives on the heap (tally_planned's caller owns it).
struct VectorPlan {
    static constexpr int32_t kMaxCrossRows = 7;
    static constexpr int32_t kMaxCrossGroups = 64;
    // Room for every pair once, the empty steps of the groups laid out by
    // columns, and a last vector of eight.
    static constexpr int32_t kCapacity = PairPlan::kMaxPairs + 1024 + 8;
    // A batch: value records of one entry whose terms are added together,
    // each segment's accumulators held in registers across them. At most
    // kMaxBatch records and, with their weights, kBatchWeights doubles.
    static constexpr int32_t kMaxBatch = 32;
    static constexpr int32_t kBatchWeights = 8192;

    struct Segment {
        int32_t at;     // first entry in the layout
        int32_t steps;  // by columns: the longest column's pairs; by rows: the pairs
        int32_t full;   // by columns: steps that every lane takes
        int32_t column; // first plan column (plan.column[...] is the tally's)
        int32_t lanes;  // by columns: 1 to 4 plan columns; 0 when laid out by rows
        int32_t acc;    // by columns: its accumulators in `cross`
    };

    int32_t length = 0; // layout entries, a multiple of 8
    int32_t segments = 0;
    int32_t rows = 0; // the value rows of a record, n - 1
    int32_t K = 0;
    Segment segment[PairPlan::kMaxColumns];
    alignas(64) uint16_t k1[kCapacity];
    alignas(64) uint16_t k2[kCapacity];
    alignas(64) double first[kCapacity]; // W(k1, g) of the current entry
    // The batch's records: their second factors W(:, d), their values, and
    // their weights, record b's at weight + b * length.
    int32_t batch_limit = 1; // records per batch
    int32_t batched = 0;
    const double* batch_wd[kMaxBatch];
    const double* batch_x[kMaxBatch];
    alignas(64) double weight[kBatchWeights > kCapacity ? kBatchWeights : kCapacity];
    // Accumulators of the groups laid out by columns: 8 x 4 each, row-major
    // (rows past n - 1 fill the last register and are never read back).
    alignas(64) double cross[kMaxCrossGroups * 8 * 4];

    void put(int32_t at, const PairPlan& plan, int32_t p) {
        k1[at] = p < 0 ? 0 : plan.k1[p];
        k2[at] = p < 0 ? 0 : plan.k2[p];
    }

    // A step of one register's sums costs as much as a step of two: each
    // addition waits for the one before.
    static int32_t at_least_two(int32_t registers) { return registers < 2 ? 2 : registers; }

    // Lays the plan out for registers of `lanes` doubles (2, 4 or 8): a
    // group of columns goes by columns when that takes fewer register steps.
    // `most_records`: the records a batch may hold (at least 1).
    void build(const PairPlan& plan, int32_t value_rows, int32_t K_rows, int32_t lanes_per_register,
               int32_t most_records) {
        rows = value_rows;
        K = K_rows;
        length = 0;
        segments = 0;
        int32_t extra = 0; // empty steps laid out so far
        int32_t groups = 0;
        const int32_t by_rows_registers = (rows + lanes_per_register - 1) / lanes_per_register;
        const int32_t by_columns_registers =
            (4 * rows + lanes_per_register - 1) / lanes_per_register;
        std::memset(cross, 0, sizeof cross);
        for (int32_t c = 0; c < plan.columns; c += 4) {
            const int32_t lanes = plan.columns - c < 4 ? plan.columns - c : 4;
            int32_t longest = 0, shortest = 1 << 30, pairs = 0;
            for (int32_t l = 0; l < lanes; ++l) {
                const int32_t count = plan.start[c + l + 1] - plan.start[c + l];
                longest = count > longest ? count : longest;
                shortest = count < shortest ? count : shortest;
                pairs += count;
            }
            const int32_t empty = 4 * longest - pairs;
            if (rows <= kMaxCrossRows && groups < kMaxCrossGroups && extra + empty <= 1024 &&
                longest * at_least_two(by_columns_registers) <
                    pairs * at_least_two(by_rows_registers)) {
                segment[segments++] = {length, longest, shortest, c, lanes, groups * 8 * 4};
                for (int32_t s = 0; s < longest; ++s)
                    for (int32_t l = 0; l < 4; ++l) {
                        const bool taken =
                            l < lanes && s < plan.start[c + l + 1] - plan.start[c + l];
                        put(length++, plan, taken ? plan.start[c + l] + s : -1);
                    }
                extra += empty;
                ++groups;
                continue;
            }
            for (int32_t l = 0; l < lanes; ++l) {
                const int32_t count = plan.start[c + l + 1] - plan.start[c + l];
                segment[segments++] = {length, count, count, c + l, 0, 0};
                for (int32_t s = 0; s < count; ++s)
                    put(length++, plan, plan.start[c + l] + s);
            }
        }
        while (length % 8 != 0)
            put(length++, plan, -1);
        batched = 0;
        batch_limit = length > 0 ? kBatchWeights / length : kMaxBatch;
        if (batch_limit > most_records) batch_limit = most_records;
        if (batch_limit > kMaxBatch) batch_limit = kMaxBatch;
        if (batch_limit < 1) batch_limit = 1;
    }

    // The accumulators laid out by columns, from the tally or back into it.
    template <bool kToTally> void exchange(const PairPlan& plan, const DoubleMatrix& tally) {
        for (int32_t s = 0; s < segments; ++s) {
            const Segment& seg = segment[s];
            for (int32_t l = 0; l < seg.lanes; ++l) {
                double* const t = tally.column(plan.column[seg.column + l]);
                for (int32_t i = 0; i < rows; ++i) {
                    double& a = cross[seg.acc + 4 * i + l];
                    if (kToTally)
                        t[i] = a;
                    else
                        a = t[i];
                }
            }
        }
    }
};

// The first factors W(k1, g) of an entry, loaded one by one.
inline void gather_first(VectorPlan& vp, const double* wg) {
    for (int32_t j = 0; j < vp.length; ++j)
        vp.first[j] = wg[vp.k1[j]];
}

} // namespace tally_pairs

#if defined(IEEE_DISPATCH)

namespace tally_pairs {

using ieee::Lanes4;
using ieee::Lanes8;

namespace avx2_lanes {
IEEE_AVX2 inline Lanes4 splat(double x) {
    return (Lanes4)_mm256_set1_pd(x);
}
IEEE_AVX2 inline __m256i first_lanes(int32_t live) {
    return _mm256_cmpgt_epi64(_mm256_set1_epi64x(live), _mm256_setr_epi64x(0, 1, 2, 3));
}
IEEE_AVX2 inline Lanes4 load_part(const double* p, int32_t live) {
    return (Lanes4)_mm256_maskload_pd(p, first_lanes(live));
}
IEEE_AVX2 inline void store_part(double* p, Lanes4 v, int32_t live) {
    _mm256_maskstore_pd(p, first_lanes(live), (__m256d)v);
}
typedef int64_t Mask4 __attribute__((vector_size(32)));
IEEE_AVX2 inline Lanes4 add_where(Lanes4 acc, Lanes4 term, Mask4 taken) {
    return ieee::add(acc,
                     (Lanes4)_mm256_blendv_pd(_mm256_set1_pd(-0.0), (__m256d)term, (__m256d)taken));
}
} // namespace avx2_lanes
namespace avx512_lanes {
IEEE_AVX512 inline Lanes8 splat(double x) {
    return (Lanes8)_mm512_set1_pd(x);
}
IEEE_AVX512 inline Lanes8 load_part(const double* p, int32_t live) {
    return (Lanes8)_mm512_maskz_loadu_pd(static_cast<__mmask8>((1u << live) - 1), p);
}
IEEE_AVX512 inline void store_part(double* p, Lanes8 v, int32_t live) {
    _mm512_mask_storeu_pd(p, static_cast<__mmask8>((1u << live) - 1), (__m512d)v);
}
IEEE_AVX512 inline Lanes8 repeat4(const double* p) {
    return (Lanes8)_mm512_maskz_broadcast_f64x4(0xff, _mm256_loadu_pd(p));
}
typedef int64_t Mask8 __attribute__((vector_size(64)));
// The lanes not taken keep acc, which is acc + (-0.0) for every sum: a sum
// is never a signalling NaN (it starts at 0 and every NaN an operation
// passes on is quiet).
IEEE_AVX512 inline Lanes8 add_where(Lanes8 acc, Lanes8 term, Mask8 taken) {
    const __mmask8 k = _mm512_test_epi64_mask((__m512i)taken, (__m512i)taken);
    Lanes8 r;
    asm("vaddpd %2, %1, %0%{%3%}" : "=v"(r) : "v"(acc), "vm"(term), "Yk"(k), "0"(acc));
    return r;
}
} // namespace avx512_lanes
} // namespace tally_pairs

#define TALLY_LANES_NS avx2_lanes
#define TALLY_LANES_TARGET IEEE_AVX2
#define TALLY_LANES_TYPE ieee::Lanes4
#include "tally_pairs_lanes.h"
#undef TALLY_LANES_NS
#undef TALLY_LANES_TARGET
#undef TALLY_LANES_TYPE

#define TALLY_LANES_NS avx512_lanes
#define TALLY_LANES_TARGET IEEE_AVX512
#define TALLY_LANES_TYPE ieee::Lanes8
#include "tally_pairs_lanes.h"
#undef TALLY_LANES_NS
#undef TALLY_LANES_TARGET
#undef TALLY_LANES_TYPE

namespace tally_pairs {

// The first or second factors of every weight in the layout: out[j] =
// w[k[j]]. Loads one by one are faster than the AVX2 gather instruction on
// the processors measured; the AVX-512 path permutes from two registers
// when w has at most 16 entries.
struct GatherLoads {
    static void gather(const uint16_t* k, const double* w, int32_t, double* out, int32_t length) {
        for (int32_t j = 0; j < length; ++j)
            out[j] = w[k[j]];
    }
};

// A column of W with at most 16 entries held in two registers (entries past
// K are not read), and the entries that eight 16-bit positions name.
struct Table16 {
    __m512d low;
    __m512d high;
};

IEEE_AVX512 inline Table16 table16(const double* w, int32_t K) {
    const __m512d low =
        _mm512_maskz_loadu_pd(static_cast<__mmask8>(K >= 8 ? 0xff : (1u << K) - 1), w);
    const __m512d high =
        K > 8 ? _mm512_maskz_loadu_pd(static_cast<__mmask8>((1u << (K - 8)) - 1), w + 8)
              : _mm512_setzero_pd();
    return Table16{low, high};
}

IEEE_AVX512 inline __m512d lookup(const Table16& t, const uint16_t* k) {
    const __m512i at =
        _mm512_maskz_cvtepu16_epi64(0xff, _mm_loadu_si128(reinterpret_cast<const __m128i*>(k)));
    return _mm512_permutex2var_pd(t.low, at, t.high);
}

// out[j] = first[j] * W(k2[j], d), four at a time, the second factors
// loaded one by one into a register.
IEEE_AVX2 inline void weights_by_four(const VectorPlan& vp, const double* wd, double* out) {
    for (int32_t j = 0; j < vp.length; j += 4) {
        const uint16_t* const k = vp.k2 + j;
        const Lanes4 second = (Lanes4)_mm256_set_pd(wd[k[3]], wd[k[2]], wd[k[1]], wd[k[0]]);
        avx2_lanes::store(out + j, ieee::mul(avx2_lanes::load(vp.first + j), second));
    }
}

// The same eight at a time, the second factors permuted from registers as
// the first ones (K <= 16).
IEEE_AVX512 inline void weights_by_eight(const VectorPlan& vp, const double* wd, double* out) {
    if (vp.K > 16) {
        weights_by_four(vp, wd, out);
        return;
    }
    const Table16 second_factors = table16(wd, vp.K);
    for (int32_t j = 0; j < vp.length; j += 8) {
        Lanes8 first;
        std::memcpy(&first, vp.first + j, sizeof first);
        const Lanes8 weight = ieee::mul(first, (Lanes8)lookup(second_factors, vp.k2 + j));
        std::memcpy(out + j, &weight, sizeof weight);
    }
}

// A batch's weights, record by record (see the lanes' `terms`).
struct WeightsByFour {
    VectorPlan& vp;
    IEEE_AVX2 void operator()(int32_t b) const {
        weights_by_four(vp, vp.batch_wd[b], vp.weight + static_cast<int64_t>(b) * vp.length);
    }
};
struct WeightsByEight {
    VectorPlan& vp;
    IEEE_AVX512 void operator()(int32_t b) const {
        weights_by_eight(vp, vp.batch_wd[b], vp.weight + static_cast<int64_t>(b) * vp.length);
    }
};

TABLEFOLD_NOINLINE __attribute__((target("avx2"))) inline void
vector_records_avx2(VectorPlan& vp, const PairPlan& plan, const DoubleMatrix& tally) {
    avx2_lanes::terms(vp, plan, tally, WeightsByFour{vp});
}

TABLEFOLD_NOINLINE __attribute__((target("avx2,avx512f,avx512vl"))) inline void
vector_records_avx512(VectorPlan& vp, const PairPlan& plan, const DoubleMatrix& tally) {
    avx512_lanes::terms(vp, plan, tally, WeightsByEight{vp});
}

// The first factors W(k1, g) of an entry, by permutes (K <= 16) or one by one.
TABLEFOLD_NOINLINE __attribute__((target("avx2,avx512f,avx512vl"))) inline void
vector_entry_avx512(VectorPlan& vp, const double* wg) {
    if (vp.K > 16) {
        GatherLoads::gather(vp.k1, wg, vp.K, vp.first, vp.length);
        return;
    }
    const Table16 first_factors = table16(wg, vp.K);
    for (int32_t j = 0; j < vp.length; j += 8)
        _mm512_storeu_pd(vp.first + j, lookup(first_factors, vp.k1 + j));
}

// Whether the processor and its operating system run a path's instructions.
inline bool runs_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
inline bool runs_avx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("avx512vl");
}

} // namespace tally_pairs

#endif // IEEE_DISPATCH

#if defined(IEEE_NEON)

namespace tally_pairs {
namespace neon_lanes {
using ieee::Lanes;
IEEE_NEON inline Lanes splat(double x) {
    return Lanes{x, x};
}
IEEE_NEON inline Lanes load_part(const double* p, int32_t live) {
    return Lanes{p[0], live > 1 ? p[1] : 0.0};
}
IEEE_NEON inline void store_part(double* p, Lanes v, int32_t live) {
    p[0] = v[0];
    if (live > 1) p[1] = v[1];
}
typedef int64_t Mask2 __attribute__((vector_size(16)));
IEEE_NEON inline Lanes add_where(Lanes acc, Lanes term, Mask2 taken) {
    const Mask2 minus_zero = (Mask2)splat(-0.0);
    return ieee::add(acc, (Lanes)(((Mask2)term & taken) | (minus_zero & ~taken)));
}
} // namespace neon_lanes
} // namespace tally_pairs

#define TALLY_LANES_NS neon_lanes
#define TALLY_LANES_TARGET IEEE_NEON
#define TALLY_LANES_TYPE ieee::Lanes
#include "tally_pairs_lanes.h"
#undef TALLY_LANES_NS
#undef TALLY_LANES_TARGET
#undef TALLY_LANES_TYPE

namespace tally_pairs {

// A batch's terms, with weight[j] = first[j] * W(k2[j], d) of each record
// two at a time.
TABLEFOLD_NOINLINE inline void vector_records_neon(VectorPlan& vp, const PairPlan& plan,
                                                   const DoubleMatrix& tally) {
    neon_lanes::terms(vp, plan, tally, [&vp](int32_t b) {
        const double* const wd = vp.batch_wd[b];
        double* const out = vp.weight + static_cast<int64_t>(b) * vp.length;
        for (int32_t j = 0; j < vp.length; j += 2)
            store_lanes(out + j,
                        ieee::mul(load_lanes(vp.first + j), Lanes{wd[vp.k2[j]], wd[vp.k2[j + 1]]}));
    });
}

} // namespace tally_pairs

#endif // IEEE_NEON

namespace tally_pairs {

// ---- The table of code paths -----------------------------------------------
//
// Every path this build holds, narrowest first: its name (as TABLEFOLD_ISA
// names it), the processor features it needs, the doubles per register, the
// test whether the processor runs it (none: every processor of this
// architecture does) and its functions (none for the generic path, whose
// adder is LaneTerms). The tests are made once per process; a call takes
// one path for all its records.
struct IsaPath {
    Isa isa;
    const char* name;
    const char* needs;
    int lanes;
    bool (*runs)();
    void (*entry)(VectorPlan& vp, const double* wg);
    void (*records)(VectorPlan& vp, const PairPlan& plan, const DoubleMatrix& tally);
};

inline constexpr IsaPath kIsaPaths[] = {
    {Isa::generic, "generic", "", 2, nullptr, nullptr, nullptr},
#if defined(IEEE_DISPATCH)
    {Isa::avx2, "avx2", "avx2", 4, runs_avx2, gather_first, vector_records_avx2},
    {Isa::avx512, "avx512", "avx2 avx512f avx512vl", 8, runs_avx512, vector_entry_avx512,
     vector_records_avx512},
#endif
#if defined(IEEE_NEON)
    {Isa::neon, "neon", "asimd", 2, nullptr, gather_first, vector_records_neon},
#endif
};
inline constexpr int kIsaPathCount = static_cast<int>(sizeof kIsaPaths / sizeof kIsaPaths[0]);

// Bit i: this processor runs kIsaPaths[i]; probed at the first call of the
// process.
inline unsigned isa_runs() {
    static const unsigned runs = [] {
        unsigned bits = 0;
        for (int i = 0; i < kIsaPathCount; ++i)
            if (kIsaPaths[i].runs == nullptr || kIsaPaths[i].runs()) bits |= 1u << i;
        return bits;
    }();
    return runs;
}

inline const IsaPath& isa_path(Isa isa) {
    for (const IsaPath& path : kIsaPaths)
        if (path.isa == isa) return path;
    return kIsaPaths[0];
}

inline const char* isa_name(Isa isa) {
    switch (isa) {
    case Isa::avx2:
        return "avx2";
    case Isa::avx512:
        return "avx512";
    case Isa::neon:
        return "neon";
    default:
        return "generic";
    }
}

// The widest path this processor and its operating system run.
inline Isa isa_supported() {
    const unsigned runs = isa_runs();
    Isa widest = Isa::generic;
    for (int i = 0; i < kIsaPathCount; ++i)
        if (runs & (1u << i)) widest = kIsaPaths[i].isa;
    return widest;
}

// The path of a call: the widest supported, or another one the processor
// runs that TABLEFOLD_ISA names ("generic", "avx2", "avx512", "neon"), to
// compare paths or to rule one out. A name the processor cannot run, or an
// unknown one, leaves the widest. The variable is read at every call.
inline Isa isa_for_call() {
    const Isa best = isa_supported();
    const char* const asked = std::getenv("TABLEFOLD_ISA");
    if (asked == nullptr) return best;
    const unsigned runs = isa_runs();
    for (int i = 0; i < kIsaPathCount; ++i)
        if ((runs & (1u << i)) && std::strcmp(asked, kIsaPaths[i].name) == 0)
            return kIsaPaths[i].isa;
    return best;
}

// Whether `name` names a path of this build, a value TABLEFOLD_ISA may take
// (for reports: isa_for_call ignores any other).
inline bool isa_known(const char* name) {
    for (const IsaPath& path : kIsaPaths)
        if (std::strcmp(name, path.name) == 0) return true;
    return false;
}

#if defined(TALLY_VECTOR_PATHS)

// The adder of a planned tally on a vector path (see tally_planned): takes
// the first factors once per entry, then the value records in batches of
// up to `most_records` (see VectorPlan), and writes the groups'
// accumulators back at the end. A batch is added when it is full, when the
// next entry starts and at the end.
struct VectorTerms {
    VectorPlan& vp;
    const PairPlan& plan;
    const DoubleMatrix& tally;
    const IsaPath& path;

    VectorTerms(VectorPlan& vector_plan, const PairPlan& pair_plan, const DoubleMatrix& t,
                int32_t rows, int32_t K, const IsaPath& isa_path, int32_t most_records)
        : vp(vector_plan), plan(pair_plan), tally(t), path(isa_path) {
        vp.build(plan, rows, K, path.lanes, most_records);
        vp.exchange<false>(plan, tally);
    }
    void entry(const double* wg) {
        add_batch();
        path.entry(vp, wg);
    }
    void record(const double* wd, const double* x) {
        vp.batch_wd[vp.batched] = wd;
        vp.batch_x[vp.batched] = x;
        if (++vp.batched == vp.batch_limit) add_batch();
    }
    void finish() {
        add_batch();
        vp.exchange<true>(plan, tally);
    }
    void add_batch() {
        if (vp.batched == 0) return;
        path.records(vp, plan, tally);
        vp.batched = 0;
    }
};

#endif

} // namespace tally_pairs

#endif
