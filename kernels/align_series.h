// SPDX-License-Identifier: BSD-3-Clause
// Series alignment: lays four lists of keyed tables out on one key axis per
// list entry.
//
// For every entry i, the key rows (row 0) of input 3's and input 4's tables
// are merged into one key sequence; every output entry carries that sequence
// in its first row and, under each key, the values of the matching column of
// its input, or a missing value (NaN for outputs 1 and 2, 0 for outputs 3
// and 4) where the input has no column with that key.
//
// The kernel reaches its lists through an `io` policy, which each binding
// implements over its own storage (the host's arrays for the MEX entry,
// Octave values for the native function, plain memory for tests):
//   void stats(int32_t i, DoubleMatrix& a, DoubleMatrix& b)
//        entry i of inputs 3 and 4, viewed with E rows;
//   void create(int32_t i, int32_t m, const int32_t (&rows)[4],
//               DoubleMatrix (&out)[4])
//        creates entry i of outputs 1 to 4 with rows[k] rows and m columns,
//        in output order; the kernel writes every element;
//   double nan()                       the missing value of outputs 1 and 2;
//   DoubleMatrix values(int k, int32_t i)
//        entry i of input 1 (k = 0) or 2 (k = 1), viewed with V + 1 rows;
//   void poll()                        lets a long call be interrupted.
// `values` and `nan` are called only when entry i has keys and V > 0.
#ifndef KERNELS_ALIGN_SERIES_H
#define KERNELS_ALIGN_SERIES_H

#include "checks.h"
#include "threads.h"
#include "views.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace align_series {

inline constexpr const char* kName = "align_series";
// The elements written that pay for a second thread: a call of fewer took
// longer on two threads than on one here.
inline constexpr int64_t kThreadWork = int64_t(1) << 21;
inline constexpr const char* kEmptyStatistics = "E_Distr statistics must not be empty";

// The counts fixed once per call.
struct Shape {
    int32_t v;        // value rows of inputs 1 and 2
    int32_t e;        // rows of every statistics table, key row included
    int32_t n;        // list entries processed
    int64_t keys = 0; // key columns of inputs 3 and 4 over those entries
};

// ---- Kernel ------------------------------------------------------------------

// The merge of the key rows of one entry. `a` and `b` are the statistics
// tables of inputs 3 and 4 (keys in row 0). Equal keys, and any comparison
// with NaN, pass over the input-3 key; on equal keys the copy emitted is
// therefore input 4's, which shows for -0 against +0.
template <class Emit> void merge_keys(const DoubleMatrix& a, const DoubleMatrix& b, Emit emit) {
    int32_t k = 0;
    int32_t j = 0;
    const int32_t p = a.cols;
    const int32_t q = b.cols;
    while (k < p && j < q) {
        const double ak = a.at(0, k);
        const double bj = b.at(0, j);
        if (ak > bj) {
            emit(bj);
            ++j;
        } else if (bj > ak) {
            emit(ak);
            ++k;
        } else {
            ++k;
        }
    }
    for (; k < p; ++k)
        emit(a.at(0, k));
    for (; j < q; ++j)
        emit(b.at(0, j));
}

// Counting pass: the length M of the merged key sequence.
inline int32_t count_merged(const DoubleMatrix& a, const DoubleMatrix& b) {
    int32_t m = 0;
    merge_keys(a, b, [&m](double) { ++m; });
    return m;
}

// One output and the input it is filled from. Its cursor is the position of
// the input's next column that may be taken.
struct Lane {
    DoubleMatrix out;
    DoubleMatrix in; // no columns when the output takes no values
    double missing;  // NaN for outputs 1 and 2, 0 for outputs 3 and 4
    int32_t cursor;
};

// The fill of output column w from one input: the column takes the value rows
// of the input column at the cursor when that column's key equals the merged
// key (ordered equality: a NaN key matches nothing), and the cursor moves on;
// otherwise its value rows receive the missing value and the cursor stays.
inline void fill_column(Lane& lane, int32_t w, double key) {
    const int32_t value_rows = lane.out.rows - 1;
    double* dst = lane.out.column(w);
    if (lane.cursor < lane.in.cols && key == lane.in.at(0, lane.cursor)) {
        // A plain copy of the value rows: no arithmetic, so bits are kept.
        std::memcpy(dst + 1, lane.in.column(lane.cursor) + 1, sizeof(double) * size_t(value_rows));
        ++lane.cursor;
    } else {
        for (int32_t r = 1; r <= value_rows; ++r)
            dst[r] = lane.missing;
    }
}

// Writing pass of the merge and the fill, in one sweep over the output
// columns: the w-th merged key goes into row 0 of column w of every output,
// and each output's value rows of that column are filled at once, while the
// column is at hand. The fill of a column depends only on its key and on the
// columns before it, so this gives the same outputs as filling afterwards.
template <class Io>
void write_and_fill(const DoubleMatrix& a, const DoubleMatrix& b, Lane (&lanes)[4], const Io& io) {
    int32_t w = 0;
    merge_keys(a, b, [&](double key) {
        for (Lane& lane : lanes) {
            lane.out.at(0, w) = key;
            fill_column(lane, w, key);
        }
        checks::poll_at(io, w++);
    });
}

// The merge and fill of entry i into its outputs `out`, created with m
// columns; `nan` is read only when the entry takes values.
template <class Io, class Nan, class Poll>
void align_entry(const Shape& s, Io& io, int32_t i, int32_t m, const DoubleMatrix& a,
                 const DoubleMatrix& b, const DoubleMatrix (&out)[4], Nan nan, const Poll& poll) {
    Lane lanes[4];
    for (int k = 0; k < 4; ++k)
        lanes[k] = Lane{out[k], DoubleMatrix{nullptr, 0, 0}, 0.0, 0};
    if (m > 0 && s.v > 0) {
        const double missing = nan();
        lanes[0].in = io.values(0, i);
        lanes[1].in = io.values(1, i);
        lanes[0].missing = missing;
        lanes[1].missing = missing;
    }
    lanes[2].in = a;
    lanes[3].in = b;
    write_and_fill(a, b, lanes, poll);
}

// The whole alignment, entry by entry (see the top of this file for `io`).
template <class Io> void run(const Shape& s, Io& io) {
    const int32_t rows[4] = {s.v + 1, s.v + 1, s.e, s.e};
    for (int32_t i = 0; i < s.n; ++i) {
        io.poll();
        DoubleMatrix a{nullptr, s.e, 0};
        DoubleMatrix b{nullptr, s.e, 0};
        io.stats(i, a, b);
        const int32_t m = count_merged(a, b);
        DoubleMatrix out[4];
        io.create(i, m, rows, out);
        align_entry(
            s, io, i, m, a, b, out, [&io] { return io.nan(); }, io);
    }
}

// The same alignment on `threads` threads (threads.h), by ranges of list
// entries: the merged lengths of all entries first, then every output
// created on the calling thread, in entry order, then the entries merged and
// filled. Each output entry is written by one thread, as `run` writes it.
// Besides the members `run` uses, `io` offers
//   void output(int32_t i, int32_t m, DoubleMatrix (&out)[4])
//        the views of entry i's outputs, once created;
// and its `stats`, `values` and `output` may be called from any thread; its
// `nan`, `create` and `poll` are called on the calling thread alone.
// `host_poll` is the host's poll on the calling thread. Scratch: one count
// per entry.
template <class Io> void run_threaded(const Shape& s, Io& io, int threads, void (*host_poll)()) {
    const int32_t rows[4] = {s.v + 1, s.v + 1, s.e, s.e};
    std::vector<int32_t> merged(static_cast<size_t>(s.n));
    const int32_t per_part = s.n / (16 * threads) + 1;
    const int32_t parts = (s.n + per_part - 1) / per_part;
    threads::run(threads, parts, host_poll, [&](int32_t part, const threads::Poll& poll, int) {
        const int32_t last = part * per_part + per_part < s.n ? part * per_part + per_part : s.n;
        for (int32_t i = part * per_part; i < last; ++i) {
            checks::poll_at(poll, i);
            DoubleMatrix a{nullptr, s.e, 0};
            DoubleMatrix b{nullptr, s.e, 0};
            io.stats(i, a, b);
            merged[static_cast<size_t>(i)] = count_merged(a, b);
        }
    });
    for (int32_t i = 0; i < s.n; ++i) {
        checks::poll_at(io, i);
        DoubleMatrix out[4];
        io.create(i, merged[static_cast<size_t>(i)], rows, out);
    }
    const double nan = io.nan();
    threads::run(threads, parts, host_poll, [&](int32_t part, const threads::Poll& poll, int) {
        const int32_t last = part * per_part + per_part < s.n ? part * per_part + per_part : s.n;
        for (int32_t i = part * per_part; i < last; ++i) {
            poll.poll();
            DoubleMatrix a{nullptr, s.e, 0};
            DoubleMatrix b{nullptr, s.e, 0};
            io.stats(i, a, b);
            DoubleMatrix out[4];
            io.output(i, merged[static_cast<size_t>(i)], out);
            align_entry(
                s, io, i, merged[static_cast<size_t>(i)], a, b, out, [nan] { return nan; }, poll);
        }
    });
}

// ---- Input checks ------------------------------------------------------------

// Checks list `input` (numbered from 1, as the caller counts) for the entries
// 0..n-1 that the kernel reads: a cell array with at least n elements whose
// entries are real double matrices of `rows` rows (an entry without columns
// is never read and may have any shape).
template <class A>
checks::Fault check_list(A& h, typename A::Arg list, int input, int32_t n, int32_t rows) {
    if (!h.is_cell(list))
        return checks::reject(kName, "notCell",
                              "Input %d must be a cell array of real double matrices", input);
    char name[24];
    std::snprintf(name, sizeof name, "Input %d", input);
    CHECK_OK(checks::check_count(h, list, n, kName, name, [&](char* rest, size_t size) {
        std::snprintf(rest, size,
                      "input 3 has %d %s: every list needs an entry for each row of input 3", n,
                      checks::plural(n, "row", "rows"));
    }));
    return checks::check_entries(
        h, list, n, kName, name, "columns", [&](int32_t i, const checks::Dims& dims) {
            if (dims[0] == rows) return checks::Fault{};
            return checks::reject(kName, "rowCount",
                                  "%s: entry %d has %d %s, but the first entry of its list sets %d",
                                  name, i + 1, dims[0], checks::plural(dims[0], "row", "rows"),
                                  rows);
        });
}

// Refuses an entry whose outputs would exceed the 32-bit element range. The
// merged sequence is at most P + Q keys long. Sums the keys into `s`.
template <class A>
checks::Fault check_sizes(A& h, typename A::Arg in3, typename A::Arg in4, Shape& s) {
    const int64_t tallest = (s.v + 1 > s.e) ? s.v + 1 : s.e;
    s.keys = 0;
    for (int32_t i = 0; i < s.n; ++i) {
        checks::poll_at(h, i);
        const typename A::Arg a = h.cell(in3, i);
        const typename A::Arg b = h.cell(in4, i);
        const int64_t keys = int64_t(a ? h.dims(a)[1] : 0) + int64_t(b ? h.dims(b)[1] : 0);
        s.keys += keys;
        if (keys > INT32_MAX || keys * tallest > INT32_MAX)
            return checks::reject(kName, "tooLarge",
                                  "Entry %d: %lld keys of %lld %s exceed the largest output "
                                  "this plug-in can create (2147483647 elements)",
                                  i + 1, static_cast<long long>(keys),
                                  static_cast<long long>(tallest),
                                  checks::plural(tallest, "row", "rows"));
    }
    return {};
}

// Every test before the outputs exist, in the order the callers rely on: the
// argument counts, V from input 1, E from input 3 (with its fixed message),
// N; then whatever the kernel would misread or read outside of. Fills `s`.
template <class A>
checks::Fault check_inputs(A& h, int nlhs, int nrhs, const typename A::Arg* in, Shape& s) {
    if (nrhs != 4) return checks::fixed(checks::kInputCount);
    if (nlhs != 4) return checks::fixed(checks::kOutputCount);

    // V, the value rows of inputs 1 and 2, from the first entry of input 1.
    const bool in1_empty = h.is_empty(in[0]);
    const bool in1_cell = in1_empty || h.is_cell(in[0]);
    typename A::Arg first1{};
    s.v = 0;
    if (!in1_empty && in1_cell) {
        first1 = h.cell(in[0], 0);
        s.v = (first1 ? h.dims(first1)[0] : 0) - 1;
    }

    // E, the rows of the statistics tables, from the first entry of input 3.
    if (h.is_empty(in[2])) return checks::fixed(kEmptyStatistics);
    if (!h.is_cell(in[2]))
        return checks::reject(kName, "notCell",
                              "Input 3 (E_Distr statistics) must be a cell array of real double "
                              "matrices");
    const typename A::Arg first3 = h.cell(in[2], 0);
    s.e = first3 ? h.dims(first3)[0] : 0;
    if (s.e < 1) return checks::fixed(kEmptyStatistics);

    s.n = h.dims(in[2])[0];

    if (!in1_cell)
        return checks::reject(kName, "notCell",
                              "Input 1 must be a cell array of real double matrices");
    if (!in1_empty) {
        const checks::Kind kind1 = h.kind(first1);
        if (!checks::double_entry(kind1))
            return checks::reject(kName, "notDouble",
                                  "Input 1: entry 1 is not a real double matrix");
        if (kind1.ndims != 2 && h.dims(first1)[1] > 0)
            return checks::reject(kName, "notDouble",
                                  "Input 1: entry 1 has %d dimensions, but an entry with columns "
                                  "must be a matrix of two",
                                  kind1.ndims);
        if (s.v < 0)
            return checks::reject(kName, "noKeyRow",
                                  "Input 1: entry 1 has no rows, but its first row must hold the "
                                  "keys");
    }
    CHECK_OK(check_list(h, in[2], 3, s.n, s.e));
    CHECK_OK(check_list(h, in[3], 4, s.n, s.e));
    if (s.v > 0) {
        CHECK_OK(check_list(h, in[0], 1, s.n, s.v + 1));
        CHECK_OK(check_list(h, in[1], 2, s.n, s.v + 1));
    }
    return check_sizes(h, in[2], in[3], s);
}

} // namespace align_series

#endif
