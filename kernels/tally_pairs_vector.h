// SPDX-License-Identifier: BSD-3-Clause
// The pair tally's wide adders: AVX2 and AVX-512 code in one build, chosen
// per call by what the processor runs (run-time dispatch, no build flag), so
// that one plug-in serves every x86-64 machine.
//
// Every tally element still takes its terms one by one, in plan order, each
// formed as weight * value and added at once (ieee.h): a vector instruction
// advances several elements by one step of their own sequences, never two
// steps of one. Two layouts share a value record's work:
//
//   by rows     one tally column at a time, four rows per register; the
//               column's weights are broadcast. For columns of many rows.
//   by columns  a group of up to four tally columns side by side, one
//               register per row; the groups' weights are laid out step by
//               step (step s, lane l: the s-th pair of the group's column
//               l). Columns of few rows (n - 1 at most 7) would leave most
//               of a register empty in the other layout. A column with
//               fewer pairs than the group's longest takes -0.0 instead of
//               a term in the steps it has no pair for: x + (-0.0) is x for
//               every x under the default rounding, the sign of zero and
//               NaN included.
//
// Per value record the weights W(k1, g) * W(k2, d) of all pairs are formed
// first, in the layout's order: four at a time from factors loaded one by
// one, or on AVX-512 with K <= 16 eight at a time from factors permuted out
// of two registers that hold W(:, g) and W(:, d). The W(k1, g) are gathered
// once per entry.
#ifndef KERNELS_TALLY_PAIRS_VECTOR_H
#define KERNELS_TALLY_PAIRS_VECTOR_H

#include "ieee.h"
#include "tally_pairs_fast.h"
#include "views.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(IEEE_DISPATCH)
#include <immintrin.h>
#endif

namespace tally_pairs {

// The code paths of the value records' terms.
enum class Isa { generic = 0, avx2 = 1, avx512 = 2 };

inline const char* isa_name(Isa isa) {
    return isa == Isa::avx512 ? "avx512" : isa == Isa::avx2 ? "avx2" : "generic";
}

// The widest path this processor and its operating system run.
inline Isa isa_supported() {
#if defined(IEEE_DISPATCH)
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2")) return Isa::generic;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")) return Isa::avx512;
    return Isa::avx2;
#else
    return Isa::generic;
#endif
}

// The path of a call: the widest supported, or a narrower one that
// TABLEFOLD_ISA names ("generic", "avx2", "avx512"), to compare paths or to
// rule one out. A name the processor cannot run, or an unknown one, leaves
// the widest.
inline Isa isa_for_call() {
    const Isa best = isa_supported();
    const char* const asked = std::getenv("TABLEFOLD_ISA");
    if (asked == nullptr) return best;
    for (Isa isa : {Isa::generic, Isa::avx2, Isa::avx512})
        if (std::strcmp(asked, isa_name(isa)) == 0)
            return static_cast<int>(isa) < static_cast<int>(best) ? isa : best;
    return best;
}

// Whether `name` is one of the paths' names, a value TABLEFOLD_ISA may take
// (for reports: isa_for_call ignores any other).
inline bool isa_known(const char* name) {
    for (Isa isa : {Isa::generic, Isa::avx2, Isa::avx512})
        if (std::strcmp(name, isa_name(isa)) == 0) return true;
    return false;
}

#if defined(IEEE_DISPATCH)

using ieee::Lanes4;
using ieee::Lanes8;

IEEE_AVX2 inline Lanes4 load4(const double* p) {
    Lanes4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
IEEE_AVX2 inline void store4(double* p, Lanes4 v) {
    std::memcpy(p, &v, sizeof v);
}

// A plan's pairs in the vector layouts (see the top of this file), built
// once per call. It lives on the heap (tally_planned's caller owns it).
struct VectorPlan {
    static constexpr int32_t kMaxCrossRows = 7;
    static constexpr int32_t kMaxCrossGroups = 64;
    // Room for every pair once, the empty steps of the groups laid out by
    // columns, and a last vector of eight.
    static constexpr int32_t kCapacity = PairPlan::kMaxPairs + 1024 + 8;

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
    alignas(64) double first[kCapacity];  // W(k1, g) of the current entry
    alignas(64) double weight[kCapacity]; // the current record's weights
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

    // Lays the plan out for registers of `lanes` doubles (4 or 8): a group
    // of columns goes by columns when that takes fewer register steps.
    void build(const PairPlan& plan, int32_t value_rows, int32_t K_rows,
               int32_t lanes_per_register) {
        rows = value_rows;
        K = K_rows;
        length = 0;
        segments = 0;
        int32_t extra = 0; // empty steps laid out so far
        int32_t groups = 0;
        const int32_t rows_per_register = lanes_per_register / 4;
        const int32_t by_rows_registers = (rows + lanes_per_register - 1) / lanes_per_register;
        const int32_t by_columns_registers = (rows + rows_per_register - 1) / rows_per_register;
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
IEEE_AVX2 inline Lanes4 repeat4(const double* p) {
    return load4(p);
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

// weight[j] = first[j] * W(k2[j], d), four at a time.
IEEE_AVX2 inline void weights_by_four(VectorPlan& vp, const double* wd) {
    GatherLoads::gather(vp.k2, wd, vp.K, vp.weight, vp.length);
    for (int32_t j = 0; j < vp.length; j += 4)
        store4(vp.weight + j, ieee::mul(load4(vp.first + j), load4(vp.weight + j)));
}

// The same eight at a time, the second factors permuted from registers as
// the first ones (K <= 16).
IEEE_AVX512 inline void weights_by_eight(VectorPlan& vp, const double* wd) {
    if (vp.K > 16) {
        weights_by_four(vp, wd);
        return;
    }
    const Table16 second_factors = table16(wd, vp.K);
    for (int32_t j = 0; j < vp.length; j += 8) {
        Lanes8 first;
        std::memcpy(&first, vp.first + j, sizeof first);
        const Lanes8 weight = ieee::mul(first, (Lanes8)lookup(second_factors, vp.k2 + j));
        std::memcpy(vp.weight + j, &weight, sizeof weight);
    }
}

__attribute__((target("avx2"), noinline)) inline void
vector_record_avx2(VectorPlan& vp, const PairPlan& plan, const DoubleMatrix& tally,
                   const double* wd, const double* x) {
    weights_by_four(vp, wd);
    avx2_lanes::terms(vp, plan, tally, x);
}

__attribute__((target("avx2,avx512f,avx512vl"), noinline)) inline void
vector_record_avx512(VectorPlan& vp, const PairPlan& plan, const DoubleMatrix& tally,
                     const double* wd, const double* x) {
    weights_by_eight(vp, wd);
    avx512_lanes::terms(vp, plan, tally, x);
}

// The first factors W(k1, g) of an entry, by permutes (K <= 16) or one by one.
__attribute__((target("avx2,avx512f,avx512vl"), noinline)) inline void
vector_entry_avx512(VectorPlan& vp, const double* wg) {
    if (vp.K > 16) {
        GatherLoads::gather(vp.k1, wg, vp.K, vp.first, vp.length);
        return;
    }
    const Table16 first_factors = table16(wg, vp.K);
    for (int32_t j = 0; j < vp.length; j += 8)
        _mm512_storeu_pd(vp.first + j, lookup(first_factors, vp.k1 + j));
}

// The adder of a planned tally on the AVX2 or AVX-512 path (see
// tally_planned): gathers the first factors once per entry, then takes each
// value record, and writes the groups' accumulators back at the end.
struct VectorTerms {
    VectorPlan& vp;
    const PairPlan& plan;
    const DoubleMatrix& tally;
    Isa isa;

    VectorTerms(VectorPlan& vector_plan, const PairPlan& pair_plan, const DoubleMatrix& t,
                int32_t rows, int32_t K, Isa path)
        : vp(vector_plan), plan(pair_plan), tally(t), isa(path) {
        vp.build(plan, rows, K, isa == Isa::avx512 ? 8 : 4);
        vp.exchange<false>(plan, tally);
    }
    void entry(const double* wg) {
        if (isa == Isa::avx512)
            vector_entry_avx512(vp, wg);
        else
            GatherLoads::gather(vp.k1, wg, vp.K, vp.first, vp.length);
    }
    void record(const double* wd, const double* x) {
        if (isa == Isa::avx512)
            vector_record_avx512(vp, plan, tally, wd, x);
        else
            vector_record_avx2(vp, plan, tally, wd, x);
    }
    void finish() { vp.exchange<true>(plan, tally); }
};

#endif

} // namespace tally_pairs

#endif
