// SPDX-License-Identifier: BSD-3-Clause
// The fast path of the pair tally (tally_pairs.h): the contributing pairs of
// R planned once per call, and the adders that hand a value record's terms
// to the tally column by column.
//
// An adder is an object, built for one plan, one tally and the record's
// value rows, with
//   void entry(const double* wg)   takes the first factors W(k1, g) of the
//                                  plan's pairs once per list entry g;
//   void record(const double* wd, const double* x)
//                                  forms every pair's weight W(k1, g) *
//                                  W(k2, d) and adds weight[p] * x[i] to
//                                  tally(i, column) for every column of the
//                                  plan and every value row i, the column's
//                                  pairs p in plan order: at once, or (the
//                                  vector adders) with the entry's later
//                                  records in a batch, added at the next
//                                  entry(), when the batch is full, or at
//                                  finish();
//   void finish()                  adds and writes back what it still holds;
// each term formed and added as one IEEE multiplication and one addition
// (ieee.h), so that every element takes the same operations in the same
// order as the loop nest gives it. tally_planned takes the adder as a
// parameter: a call may run any adder the processor it runs on supports.
#ifndef KERNELS_TALLY_PAIRS_FAST_H
#define KERNELS_TALLY_PAIRS_FAST_H

#include "ieee.h"
#include "views.h"

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

namespace tally_pairs {

// The tally column of a contributing class number c (0 < c <= r): the
// truncation of c - 1. Below 1 that is column 0, also for a c so small that
// c - 1 rounds to -1.
inline int32_t class_column(double c) {
    return c < 1.0 ? 0 : static_cast<int32_t>(c - 1.0);
}

// From `count[c]`, the contributing pairs of tally column c (c < span), the
// columns of `plan` that take any (rising) and where their pairs start;
// `count` then holds each column's first slot.
template <class Plan> void group_columns(int32_t* count, int32_t span, Plan& plan) {
    using Column = std::remove_reference_t<decltype(plan.column[0])>;
    plan.columns = 0;
    int32_t at = 0;
    for (int32_t c = 0; c < span; ++c) {
        if (count[c] == 0) continue;
        plan.column[plan.columns] = static_cast<Column>(c);
        plan.start[plan.columns] = at;
        const int32_t next = at + count[c];
        count[c] = at;
        at = next;
        ++plan.columns;
    }
    plan.start[plan.columns] = at;
}

// Files every contributing pair of R at its column's next slot (`cursor`,
// from group_columns), in loop order, so that each column keeps it.
template <class Plan>
void file_pairs(const DoubleMatrix& R, int32_t K, int32_t* cursor, Plan& plan) {
    for (int32_t k1 = 0; k1 < K; ++k1)
        for (int32_t k2 = 0; k2 < K; ++k2) {
            const double c = R.at(k1, k2);
            if (!(c > 0.0)) continue;
            const int32_t at = cursor[class_column(c)]++;
            plan.k1[at] = static_cast<uint16_t>(k1);
            plan.k2[at] = static_cast<uint16_t>(k2);
        }
}

// The contributing pairs of R (class number above 0), found once per call
// and grouped by tally column; within a column they keep their loop order
// (k1 outer, k2 inner). A tally element only ever takes the terms of its own
// column's pairs, so walking a record's pairs column by column hands every
// element the same terms in the same order as the loop nest does.
//
// The plan lives on the stack and is bounded; a call whose pairs or classes
// do not fit, or whose R holds a contributing class number above r, takes
// tally_each_pair instead (or, on several threads, a PairList). (With such
// a class number every record that reaches a pair ends the call at it,
// after terms and F_switch reads that the loop nest makes in its own
// order.)
struct PairPlan {
    static constexpr int32_t kMaxPairs = 4096;
    static constexpr int32_t kMaxColumns = 1024;
    static constexpr int32_t kMaxRows = 65536; // k1 and k2 are held in 16 bits

    int32_t pairs = 0;   // contributing pairs
    int32_t columns = 0; // tally columns that take any of them
    uint16_t k1[kMaxPairs];
    uint16_t k2[kMaxPairs];
    uint16_t column[kMaxColumns];   // the columns taking pairs, rising
    int32_t start[kMaxColumns + 1]; // their pairs: start[c] .. start[c + 1] - 1
    int32_t cursor[kMaxColumns];    // scratch while the plan is built

    // Builds the plan for the K x K class numbers of R and r classes; false
    // when the call must take tally_each_pair.
    bool build(const DoubleMatrix& R, int32_t K, int32_t r) {
        if (K > kMaxRows || r > kMaxColumns) return false;
        const double limit = static_cast<double>(r);
        for (int32_t c = 0; c < r; ++c)
            cursor[c] = 0;
        for (int32_t k1 = 0; k1 < K; ++k1)
            for (int32_t k2 = 0; k2 < K; ++k2) {
                const double c = R.at(k1, k2);
                if (!(c > 0.0)) continue;
                if (c > limit || pairs == kMaxPairs) return false;
                ++pairs;
                ++cursor[class_column(c)];
            }
        group_columns(cursor, r, *this);
        file_pairs(R, K, cursor, *this);
        return true;
    }
};

// Two doubles of a column side by side, computed with the helpers of ieee.h.
using ieee::Lanes;

inline Lanes load_lanes(const double* p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store_lanes(double* p, Lanes v) {
    std::memcpy(p, &v, sizeof v);
}

// Rows [0, kRows) of kCols tally columns take the terms of their pairs in
// order: t[c][i] += w[c][p] * x[i] for p = 0 .. count[c] - 1. Each element
// is held in a register meanwhile and every term is added to it at once, as
// the loop nest adds it to the tally. Several columns at once give the
// processor independent sums to interleave; no element's terms change order,
// since every element belongs to one column.
template <int kRows, int kCols>
inline void add_terms(double* const (&t)[kCols], const double* const (&w)[kCols],
                      const int32_t (&count)[kCols], const double* x) {
    constexpr int kPairs = kRows / 2;
    constexpr bool kOdd = kRows % 2 != 0;
    Lanes acc[kCols][kPairs + 1];
    double acc_odd[kCols];
    Lanes val[kPairs + 1];
    for (int v = 0; v < kPairs; ++v)
        val[v] = load_lanes(x + 2 * v);
    const double val_odd = kOdd ? x[2 * kPairs] : 0.0;
    int32_t common = count[0];
    for (int c = 0; c < kCols; ++c) {
        for (int v = 0; v < kPairs; ++v)
            acc[c][v] = load_lanes(t[c] + 2 * v);
        acc_odd[c] = kOdd ? t[c][2 * kPairs] : 0.0;
        if (count[c] < common) common = count[c];
    }
    for (int32_t p = 0; p < common; ++p) {
        for (int c = 0; c < kCols; ++c) {
            const double wp = w[c][p];
            const Lanes wv = {wp, wp};
            for (int v = 0; v < kPairs; ++v)
                acc[c][v] = ieee::add(acc[c][v], ieee::mul(wv, val[v]));
            if (kOdd) acc_odd[c] = ieee::add(acc_odd[c], ieee::mul(wp, val_odd));
        }
    }
    for (int c = 0; c < kCols; ++c) {
        for (int32_t p = common; p < count[c]; ++p) {
            const double wp = w[c][p];
            const Lanes wv = {wp, wp};
            for (int v = 0; v < kPairs; ++v)
                acc[c][v] = ieee::add(acc[c][v], ieee::mul(wv, val[v]));
            if (kOdd) acc_odd[c] = ieee::add(acc_odd[c], ieee::mul(wp, val_odd));
        }
        for (int v = 0; v < kPairs; ++v)
            store_lanes(t[c] + 2 * v, acc[c][v]);
        if (kOdd) t[c][2 * kPairs] = acc_odd[c];
    }
}

// Calls f with rows (1 to 15) as a compile-time constant; nothing for 0.
template <class F, int... kRows>
inline void with_rows(int32_t rows, F& f, std::integer_sequence<int, kRows...>) {
    static_cast<void>(
        ((rows == kRows + 1 && (f(std::integral_constant<int, kRows + 1>()), true)) || ...));
}

// The adder of this header: rows go in blocks of 16, one column at a time
// (eight independent sums already); the rows left over, two columns at a
// time, in lanes of two doubles. Like every adder (see tally_planned), it
// takes the first factors W(k1, g) once per entry, then each value record.
struct LaneTerms {
    const PairPlan& plan;
    const DoubleMatrix& tally;
    const int32_t rows; // the values of a record, n - 1
    double first[PairPlan::kMaxPairs];
    double weight[PairPlan::kMaxPairs];

    LaneTerms(const PairPlan& pair_plan, const DoubleMatrix& t, int32_t value_rows)
        : plan(pair_plan), tally(t), rows(value_rows) {}

    void entry(const double* wg) {
        for (int32_t p = 0; p < plan.pairs; ++p)
            first[p] = wg[plan.k1[p]];
    }
    void finish() {}

    void record(const double* wd, const double* x) {
        for (int32_t p = 0; p < plan.pairs; ++p)
            weight[p] = ieee::mul(first[p], wd[plan.k2[p]]);
        const int32_t blocks = rows / 16 * 16;
        for (int32_t c = 0; c < plan.columns; ++c) {
            double* const t[1] = {tally.column(plan.column[c])};
            const double* const w[1] = {weight + plan.start[c]};
            const int32_t count[1] = {plan.start[c + 1] - plan.start[c]};
            for (int32_t i = 0; i < blocks; i += 16) {
                double* const ti[1] = {t[0] + i};
                add_terms<16, 1>(ti, w, count, x + i);
            }
        }
        auto left = [&](auto rows_left) {
            constexpr int kLeft = decltype(rows_left)::value;
            int32_t c = 0;
            for (; c + 1 < plan.columns; c += 2) {
                double* const t[2] = {tally.column(plan.column[c]) + blocks,
                                      tally.column(plan.column[c + 1]) + blocks};
                const double* const w[2] = {weight + plan.start[c], weight + plan.start[c + 1]};
                const int32_t count[2] = {plan.start[c + 1] - plan.start[c],
                                          plan.start[c + 2] - plan.start[c + 1]};
                add_terms<kLeft, 2>(t, w, count, x + blocks);
            }
            if (c < plan.columns) {
                double* const t[1] = {tally.column(plan.column[c]) + blocks};
                const double* const w[1] = {weight + plan.start[c]};
                const int32_t count[1] = {plan.start[c + 1] - plan.start[c]};
                add_terms<kLeft, 1>(t, w, count, x + blocks);
            }
        };
        with_rows(rows - blocks, left, std::make_integer_sequence<int, 15>());
    }
};

} // namespace tally_pairs

#endif
