// SPDX-License-Identifier: BSD-3-Clause
// The pair tally shared by tally_pairs_full and tally_pairs_masked: the loop
// nest on views, with the variant (Full or Masked below) as a template
// parameter, and the input checks both bindings share.
//
// Records: column j of entry g of the record list is one record, with
//   E(0, j)         the partner's index value (d = its truncation - 1),
//   E(1, j)         the marker: NaN makes a NaN record, anything else a value
//                   record whose values are E(1, j) .. E(n-1, j).
// For every record and every pair (k1, k2) whose class number c = R(k1, k2)
// is above 0, a value record adds (W(k1, g) * W(k2, d)) * E(i+1, j) into
// tally(i, col) for i = 0 .. n-2, col = trunc(c - 1). In the full variant a
// NaN record subtracts W(k1, g) * W(k2, d), or with F_switch not 0
// ((F(1, g) * W(k1, g)) * F(0, d)) * W(k2, d), from tally(n-1, col); the
// masked variant skips NaN records whole and its tally has no row n-1.
//
// Every term is formed left to right by separate multiplications and added
// to its tally element at once, in loop order (entries, records, k1, k2,
// rows), each operation one IEEE operation that passes on its left operand's
// NaN (ieee.h), so that no fused multiply-add and no swapped operand changes
// a result.
//
// The kernel reaches the record list and the host's services through an
// `io` policy, which each binding implements over its own storage:
//   DoubleMatrix records(int32_t g)  entry g of the record list, viewed with
//                                    n rows and its own columns;
//   bool is_nan(double x)            the NaN test of a record's marker;
//   double read_switch()             F_switch (full variant), read afresh
//                                    for every contributing pair of a NaN
//                                    record, after its class check;
//   void poll()                      lets a long call be interrupted.
#ifndef KERNELS_TALLY_PAIRS_H
#define KERNELS_TALLY_PAIRS_H

#include "checks.h"
#include "ieee.h"
#include "tally_pairs_fast.h"
#include "tally_pairs_vector.h"
#include "threads.h"
#include "views.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <vector>

namespace tally_pairs {

// ---- Variants ----------------------------------------------------------------

struct Full {
    static constexpr const char* name = "tally_pairs_full";
    static constexpr int inputs = 6;
    static constexpr const char* list_name = "S_out";
    static constexpr const char* not_a_cell = "Second Arg: S_out needs to be a cell array";
    static constexpr bool nan_records = true; // they subtract from a last tally row
};

struct Masked {
    static constexpr const char* name = "tally_pairs_masked";
    static constexpr int inputs = 4;
    static constexpr const char* list_name = "T_out";
    static constexpr const char* not_a_cell = "Second Arg: T_out needs to be a cell array";
    static constexpr bool nan_records = false; // they are skipped whole
};

inline constexpr const char* kMisspecified = "Misspecification: R[k1,k2] > r\n";

// ---- Kernel ------------------------------------------------------------------

// How a tally run ended. Errors found in the loop are returned, not raised:
// the entry reports them once the kernel is back.
struct Status {
    enum Code { ok, misspecified, bad_partner };
    Code code = ok;
    int32_t entry = 0;       // bad_partner: the entry (from 0) ...
    int32_t record = 0;      // ... and the record (from 0) that holds it,
    double partner = 0;      // and its index value as given,
    int32_t entry_count = 0; // which had to lie in 1..G
};

// True when an index value truncates to an entry from 1 to `count`. The test
// is made on the double, so NaN, infinities and values beyond the 32-bit
// range are refused before any conversion.
inline bool names_entry(double index, int32_t count) {
    return index >= 1.0 && index < static_cast<double>(count) + 1.0;
}

// Work (terms added, elements read) between two polls for an interrupt: a
// loop polls once it has done this much since its last poll, however much
// or little each of its steps costs.
inline constexpr int64_t kPollWork = int64_t(1) << 20;
// The work (record_work summed over the records) that pays for a second
// thread: a call of less took longer on two threads than on one here (the
// threads' scratch and start cost some 80 us on their own).
inline constexpr int64_t kThreadWork = int64_t(1) << 24;

// The walk over the records shared by both loop nests, in loop order: the
// NaN test of every record, the masked variant's skip of NaN records, and the
// partner check (a partner that names no entry ends the walk before any of
// the record's pairs). `visit(record)` takes every other record and returns
// false to end the walk at a class number above r. The walk polls at every
// entry and once `record_cost` (the work of one record, at least 1) summed
// over the records since its last poll reaches kPollWork.
struct Record {
    int32_t g;          // its entry
    int32_t d;          // its partner's entry
    const double* data; // its n values
    int32_t n;
    bool nan_record;
};

template <class Variant, class Io, class Visit>
Status walk_records(const DoubleMatrix& W, Io& io, int64_t record_cost, Visit visit) {
    const int32_t G = W.cols;
    Status status;
    int64_t spent = 0;
    for (int32_t g = 0; g < G; ++g) {
        io.poll();
        spent = 0;
        const DoubleMatrix E = io.records(g);
        for (int32_t j = 0; j < E.cols; ++j) {
            spent += record_cost;
            if (spent >= kPollWork) {
                io.poll();
                spent = 0;
            }
            const double* const rec = E.column(j);
            const bool nan_record = io.is_nan(rec[1]);
            if (!Variant::nan_records && nan_record) continue;
            if (!names_entry(rec[0], G)) {
                status.code = Status::bad_partner;
                status.entry = g;
                status.record = j;
                status.partner = rec[0];
                status.entry_count = G;
                return status;
            }
            const int32_t d = static_cast<int32_t>(rec[0]) - 1;
            if (!visit(Record{g, d, rec, E.rows, nan_record})) {
                status.code = Status::misspecified;
                return status;
            }
        }
    }
    return status;
}

// The loop nest as written: every record walks all K x K pairs of R. It is
// the path for every call the planned path does not take (a class
// number above r, more contributing pairs or classes than a plan holds),
// unless it runs on several threads (run_unplanned).
// `W` is K x G, `R` K x K, `F` 2 x G (full only); the record list holds at
// least G entries, each viewed with n rows; `tally` is n x r (full) or
// (n - 1) x r (masked), zero-filled.
//
// Errors, in loop order: a record whose partner index does not name an entry
// (every record in the full variant, value records in the masked one) ends
// the run before any of its pairs; a contributing class number above r ends
// it at that pair. Terms already added stay in the tally.
template <class Variant, class Io>
Status tally_each_pair(const DoubleMatrix& W, const DoubleMatrix& R, int32_t r,
                       const DoubleMatrix& F, const DoubleMatrix& tally, Io& io) {
    const int32_t K = W.rows;
    const double limit = static_cast<double>(r);
    // A record may cost more than kPollWork: its pairs poll too.
    int64_t spent = 0;
    return walk_records<Variant>(W, io, 1, [&](const Record& x) {
        const double* const wg = W.column(x.g);
        const double* const wd = W.column(x.d);
        const int32_t n = x.n;
        for (int32_t k1 = 0; k1 < K; ++k1) {
            spent += static_cast<int64_t>(K) * n;
            if (spent >= kPollWork) {
                io.poll();
                spent = 0;
            }
            for (int32_t k2 = 0; k2 < K; ++k2) {
                const double c = R.at(k1, k2);
                if (!(c > 0.0)) continue;
                if (c > limit) return false;
                double* const t = tally.column(class_column(c));
                if (!x.nan_record) {
                    const double w = ieee::mul(wg[k1], wd[k2]);
                    for (int32_t i = 0; i < n - 1; ++i)
                        t[i] = ieee::add(t[i], ieee::mul(w, x.data[i + 1]));
                } else {
                    const double p =
                        io.read_switch() != 0.0
                            ? ieee::mul(ieee::mul(ieee::mul(F.at(1, x.g), wg[k1]), F.at(0, x.d)),
                                        wd[k2])
                            : ieee::mul(wg[k1], wd[k2]);
                    t[n - 1] = ieee::sub(t[n - 1], p);
                }
            }
        }
        return true;
    });
}

// The loop nest over a plan (see PairPlan): per record, the host's NaN test
// and the partner check as in tally_each_pair, then the record's terms
// column by column. A value record's terms go to the adder (LaneTerms,
// VectorTerms): it takes W(:, g) once per entry, and per value record
// W(:, d) and the values; it forms the weight of every pair first, then
// adds weight times value. A NaN record (full variant) reads F_switch once
// per pair, as the loop nest does, and subtracts its term from the column's
// last row, which no adder holds.
//
// A tile of the tally (see run_in_tiles) takes the adder of some of its
// columns and value rows: its values start at row `first_row`, and its NaN
// records' terms are left to another tile unless `nan_terms`.
template <class Variant, class Adder, class Io>
Status tally_planned(const PairPlan& plan, Adder& adder, const DoubleMatrix& W,
                     const DoubleMatrix& F, const DoubleMatrix& tally, Io& io, int64_t record_cost,
                     int32_t first_row = 0, bool nan_terms = true) {
    int32_t gathered = -1;
    const Status status = walk_records<Variant>(W, io, record_cost, [&](const Record& x) {
        const double* const wg = W.column(x.g);
        const double* const wd = W.column(x.d);
        if (!x.nan_record) {
            if (gathered != x.g) {
                adder.entry(wg);
                gathered = x.g;
            }
            adder.record(wd, x.data + 1 + first_row);
        } else if (Variant::nan_records && nan_terms) {
            const int32_t n = x.n;
            const double fg = F.at(1, x.g);
            const double fd = F.at(0, x.d);
            for (int32_t c = 0; c < plan.columns; ++c) {
                double* const last = tally.column(plan.column[c]) + (n - 1);
                double acc = *last;
                for (int32_t p = plan.start[c]; p < plan.start[c + 1]; ++p) {
                    const double a = wg[plan.k1[p]];
                    const double b = wd[plan.k2[p]];
                    acc = ieee::sub(acc, io.read_switch() != 0.0
                                             ? ieee::mul(ieee::mul(ieee::mul(fg, a), fd), b)
                                             : ieee::mul(a, b));
                }
                *last = acc;
            }
        }
        return true;
    });
    adder.finish();
    return status;
}

// The inputs as the kernel reads them.
struct Inputs {
    DoubleMatrix W; // K x G
    DoubleMatrix R; // K x K
    DoubleMatrix F; // 2 x G (full only)
    int32_t r;      // classes: the tally's columns
    int32_t n;      // rows of every record
    int32_t rows;   // the tally's rows: n (full) or n - 1 (masked)
};

// The work of one record on a plan: its weights and its terms.
template <class Plan> int64_t record_work(const Plan& plan, int32_t value_rows) {
    return static_cast<int64_t>(plan.pairs) * (value_rows + 1) + 16;
}

// The value records a vector adder may gather before adding their terms:
// no more work than lies between two polls, so that a poll waits for at
// most one batch.
inline int32_t batch_records(const PairPlan& plan, int32_t value_rows) {
    const int64_t records = kPollWork / record_work(plan, value_rows);
    return records < 1 ? 1 : records > (1 << 20) ? (1 << 20) : static_cast<int32_t>(records);
}

template <class Variant, class Io>
TABLEFOLD_NOINLINE Status planned_on_lanes(const PairPlan& plan, const Inputs& in,
                                           const DoubleMatrix& tally, Io& io) {
    LaneTerms adder(plan, tally, in.n - 1);
    return tally_planned<Variant>(plan, adder, in.W, in.F, tally, io, record_work(plan, in.n - 1));
}

// The pair tally over `plan` (see run) on the path `isa`.
template <class Variant, class Io>
Status run_planned(const PairPlan& plan, const Inputs& in, const DoubleMatrix& tally, Io& io,
                   Isa isa) {
#if defined(TALLY_VECTOR_PATHS)
    const IsaPath& path = isa_path(isa);
    if (path.records != nullptr) {
        // Its layouts take about 170 kB: the heap, not the host's stack.
        const std::unique_ptr<VectorPlan> vp(new (std::nothrow) VectorPlan);
        if (vp) {
            VectorTerms adder(*vp, plan, tally, in.n - 1, in.W.rows, path,
                              batch_records(plan, in.n - 1));
            return tally_planned<Variant>(plan, adder, in.W, in.F, tally, io,
                                          record_work(plan, in.n - 1));
        }
    }
#else
    static_cast<void>(isa);
#endif
    return planned_on_lanes<Variant>(plan, in, tally, io);
}

// The pair tally of one call into `tally`, in.rows x in.r and zero-filled
// (see tally_each_pair for the errors): over a plan of R's contributing
// pairs where one fits, else pair by pair. A planned call adds its value
// records' terms on the path `isa` (the widest the processor runs, unless
// TABLEFOLD_ISA names a narrower one); every path gives the same bits.
template <class Variant, class Io>
Status run(const Inputs& in, const DoubleMatrix& tally, Io& io, Isa isa = isa_for_call()) {
    PairPlan plan;
    if (!plan.build(in.R, in.W.rows, in.r))
        return tally_each_pair<Variant>(in.W, in.R, in.r, in.F, tally, io);
    return run_planned<Variant>(plan, in, tally, io, isa);
}

// ---- In tiles, on several threads ----------------------------------------------

// A tile of a planned tally: the tally columns of plan columns [c0, c1) and
// their value rows [i0, i1). A tile walks every record and adds the terms
// of its own elements alone, in loop order; the tile whose rows end the
// value rows also takes its columns' NaN-record terms. Every tally element
// lies in one tile, so it takes the operations, in the order, that the
// whole plan gives it.
struct Tile {
    int32_t c0, c1, i0, i1;
};

// The work of one record in one tile that a tile stays under, where its
// rows can be cut: the tile then polls between records often enough.
inline constexpr int64_t kTileWork = int64_t(1) << 22;
// Value rows below which a tile's rows are not cut.
inline constexpr int32_t kLeastCutRows = 128;

// The pairs of plan columns [c0, c1) as a plan of their own.
inline void select_columns(const PairPlan& plan, int32_t c0, int32_t c1, PairPlan& out) {
    const int32_t from = plan.start[c0];
    out.pairs = plan.start[c1] - from;
    out.columns = c1 - c0;
    for (int32_t p = 0; p < out.pairs; ++p) {
        out.k1[p] = plan.k1[from + p];
        out.k2[p] = plan.k2[from + p];
    }
    for (int32_t c = c0; c < c1; ++c) {
        out.column[c - c0] = plan.column[c];
        out.start[c - c0] = plan.start[c] - from;
    }
    out.start[c1 - c0] = out.pairs;
}

// Rows of a register on the widest path: where a column's rows are cut,
// tiles take whole registers of them.
inline constexpr int32_t kRowBlock = 8;

// The work of a tile, in pairs times registers of rows, one more for
// forming its weights. `plan` is a PairPlan or a PairList.
template <class Plan> int64_t tile_cost(const Plan& plan, const Tile& t) {
    const int64_t pairs = plan.start[t.c1] - plan.start[t.c0];
    return pairs * ((t.i1 - t.i0 + kRowBlock - 1) / kRowBlock + 1);
}

// Adds the tile of plan columns [c0, c1) and value rows [i0, i1), its rows
// cut so that one record's work in a tile stays under `tile_work`.
template <class Plan>
void add_tile(const Plan& plan, int32_t c0, int32_t c1, int32_t i0, int32_t i1, int64_t tile_work,
              std::vector<Tile>& tiles) {
    int64_t rows = i1 - i0;
    if (rows >= kLeastCutRows) {
        const int64_t pairs = plan.start[c1] - plan.start[c0];
        int64_t most = tile_work / (pairs > 0 ? pairs : 1);
        if (most < kLeastCutRows / 2) most = kLeastCutRows / 2;
        if (most < rows) rows = (most + 15) / 16 * 16 < rows ? (most + 15) / 16 * 16 : rows;
    }
    for (int32_t i = i0; i < i1; i += static_cast<int32_t>(rows))
        tiles.push_back(Tile{c0, c1, i, rows < i1 - i ? i + static_cast<int32_t>(rows) : i1});
}

// The tiles of a call on `threads` threads. The call's work, pairs times
// registers of rows taken column by column, is cut into one run of about
// equal work per thread, each cut at the column or the register of rows
// nearest its share; a run is whole columns, with the rest of the column
// before them and the start of the one after them as tiles of their own.
// The tiles go largest first, so that the threads end together. `plan` is
// a PairPlan or a PairList.
template <class Plan>
std::vector<Tile> make_tiles(const Plan& plan, int32_t value_rows, int threads,
                             int64_t tile_work = kTileWork) {
    const int32_t blocks = (value_rows + kRowBlock - 1) / kRowBlock;
    const int64_t total = static_cast<int64_t>(plan.pairs) * blocks;
    // The work before column c, register b of its rows.
    auto before = [&](int32_t c, int32_t b) {
        return static_cast<int64_t>(plan.start[c]) * blocks +
               static_cast<int64_t>(plan.start[c + 1] - plan.start[c]) * b;
    };
    auto row = [&](int32_t b) { return b * kRowBlock < value_rows ? b * kRowBlock : value_rows; };
    std::vector<Tile> tiles;
    int32_t c = 0, b = 0; // where the next run starts
    for (int k = 0; k < threads && c < plan.columns; ++k) {
        int32_t ce = plan.columns, be = 0; // where it ends
        if (k < threads - 1) {
            const int64_t goal = total / threads * (k + 1) + total % threads * (k + 1) / threads;
            ce = c;
            while (ce < plan.columns && before(ce + 1, 0) <= goal)
                ++ce;
            be = 0;
            if (ce < plan.columns) {
                const int64_t per = plan.start[ce + 1] - plan.start[ce];
                be = static_cast<int32_t>(per > 0 ? (goal - before(ce, 0) + per / 2) / per : 0);
                if (be >= blocks) {
                    ++ce;
                    be = 0;
                }
            }
            if (ce < c || (ce == c && be <= b)) continue;
        }
        if (ce == c) {
            add_tile(plan, c, c + 1, row(b), row(be), tile_work, tiles);
        } else {
            int32_t full = c;
            if (b > 0) add_tile(plan, c, ++full, row(b), value_rows, tile_work, tiles);
            if (full < ce) add_tile(plan, full, ce, 0, value_rows, tile_work, tiles);
            if (be > 0) add_tile(plan, ce, ce + 1, 0, row(be), tile_work, tiles);
        }
        c = ce;
        b = be;
    }
    std::stable_sort(tiles.begin(), tiles.end(), [&plan](const Tile& x, const Tile& y) {
        return tile_cost(plan, x) > tile_cost(plan, y);
    });
    return tiles;
}

// What a tile reads through: the call's records (`records` must be safe to
// call from any thread), F_switch as read once on the calling thread, and
// the poll of the thread that runs the tile.
template <class Io> struct TileIo {
    const Io& io;
    const threads::Poll& poller;
    double f_switch;

    DoubleMatrix records(int32_t g) const { return io.records(g); }
    bool is_nan(double x) const { return io.is_nan(x); }
    double read_switch() const { return f_switch; }
    void poll() const { poller.poll(); }
};

// What a thread needs for its tiles, allocated on the calling thread: the
// tile's plan and its adder's layouts.
struct TileScratch {
    PairPlan part;
#if defined(TALLY_VECTOR_PATHS)
    VectorPlan vector;
#endif
    std::optional<LaneTerms> lanes;
};

// One tile of `Variant` on the path `isa`, into the call's tally.
template <class Variant, class Io>
TABLEFOLD_NOINLINE Status run_tile(const PairPlan& plan, const Tile& t, const Inputs& in,
                                   const DoubleMatrix& tally, Io& io, Isa isa,
                                   TileScratch& scratch) {
    PairPlan& part = scratch.part;
    select_columns(plan, t.c0, t.c1, part);
    const DoubleMatrix rows{tally.data + t.i0, tally.rows, tally.cols};
    const int32_t value_rows = t.i1 - t.i0;
    const bool nan_terms = t.i1 == in.n - 1;
    const int64_t cost = record_work(part, value_rows);
#if defined(TALLY_VECTOR_PATHS)
    const IsaPath& path = isa_path(isa);
    if (path.records != nullptr) {
        VectorTerms adder(scratch.vector, part, rows, value_rows, in.W.rows, path,
                          batch_records(part, value_rows));
        return tally_planned<Variant>(part, adder, in.W, in.F, tally, io, cost, t.i0, nan_terms);
    }
#else
    static_cast<void>(isa);
#endif
    LaneTerms& adder = scratch.lanes.emplace(part, rows, value_rows);
    return tally_planned<Variant>(part, adder, in.W, in.F, tally, io, cost, t.i0, nan_terms);
}

// The records of a call, counted on the calling thread (polling).
template <class Io> int64_t count_records(const Inputs& in, Io& io) {
    int64_t records = 0;
    for (int32_t g = 0; g < in.W.cols; ++g) {
        checks::poll_at(io, g);
        records += io.records(g).cols;
    }
    return records;
}

// The contributing pairs of R grouped by tally column as in a PairPlan, for
// a call that no plan holds: on the heap, sized by its pairs and columns
// (k1 and k2 fit 16 bits, since R holds at most 2^31 - 1 elements).
struct PairList {
    int32_t pairs = 0;
    int32_t columns = 0;
    std::vector<uint16_t> k1, k2;
    std::vector<int32_t> column; // the columns taking pairs, rising
    std::vector<int32_t> start;  // their pairs: start[c] .. start[c + 1] - 1
};

// The pairs of one tally column that a record has still to add, [p, end),
// and the column from the tile's first row.
struct PairRun {
    double* col;
    int32_t p, end;
};

// `steps` pairs of each of M runs, `rows` value rows of each column and of
// `v`, the runs taking turns pair by pair: each column's terms keep their
// order, and the sums of different columns, which depend on nothing of
// each other's, overlap in the processor.
template <int M>
inline void add_runs(PairRun* run, int32_t steps, const PairList& list, const double* wg,
                     const double* wd, const double* v, int32_t rows) {
    const uint16_t* const k1 = list.k1.data();
    const uint16_t* const k2 = list.k2.data();
    double* col[M]; // held apart from `run`, which the stores might otherwise change
    int32_t first[M];
    for (int j = 0; j < M; ++j) {
        col[j] = run[j].col;
        first[j] = run[j].p;
        run[j].p += steps;
    }
    for (int32_t s = 0; s < steps; ++s)
        for (int j = 0; j < M; ++j) {
            const int32_t p = first[j] + s;
            const double w = ieee::mul(wg[k1[p]], wd[k2[p]]);
            for (int32_t i = 0; i < rows; ++i)
                col[j][i] = ieee::add(col[j][i], ieee::mul(w, v[i]));
        }
}

// The elements of a tile held apart from the tally while it runs, so that
// tiles whose elements share cache lines do not take them from each other:
// at most this many per tile.
inline constexpr int64_t kOwnElements = 8192;

// The tally rows a tile writes, from t.i0: its value rows, and the last row
// where it takes the NaN records' terms.
template <class Variant> int32_t tile_rows(const Tile& t, int32_t n) {
    return t.i1 - t.i0 + (Variant::nan_records && t.i1 == n - 1);
}

// A tile of a call on a PairList: as a planned tile (see Tile), every record
// walked and its own elements' terms added as tally_each_pair adds them, a
// value record's up to four columns at a time (add_runs), polling by work
// within a record too. With `own` (tile_rows x its columns) the tile adds
// into it, copied from the tally first and back at the end.
template <class Variant, class Io>
TABLEFOLD_NOINLINE Status run_listed_tile(const PairList& list, const Tile& t, const Inputs& in,
                                          const DoubleMatrix& tally, Io& io, double* own) {
    const int32_t n = in.n;
    const bool nan_terms = Variant::nan_records && t.i1 == n - 1;
    const int32_t rows = tile_rows<Variant>(t, n);
    auto column = [&](int32_t c) {
        return own ? own + static_cast<int64_t>(c - t.c0) * rows
                   : tally.column(list.column[static_cast<size_t>(c)]) + t.i0;
    };
    if (own)
        for (int32_t c = t.c0; c < t.c1; ++c)
            for (int32_t i = 0; i < rows; ++i)
                column(c)[i] = tally.column(list.column[static_cast<size_t>(c)])[t.i0 + i];
    const int64_t pair_work = t.i1 - t.i0 + 1;
    const int64_t chunk = kPollWork / pair_work > 4 ? kPollWork / pair_work : 4;
    const double f_switch = nan_terms ? io.read_switch() : 0.0;
    const uint16_t* const k1 = list.k1.data();
    const uint16_t* const k2 = list.k2.data();
    int64_t spent = 0;
    auto spend = [&](int64_t pairs) {
        spent += pairs * pair_work;
        if (spent >= kPollWork) {
            io.poll();
            spent = 0;
        }
    };
    const Status status = walk_records<Variant>(in.W, io, 1, [&](const Record& x) {
        if (x.nan_record && !nan_terms) return true;
        const double* const wg = in.W.column(x.g);
        const double* const wd = in.W.column(x.d);
        if (!x.nan_record) {
            const double* const v = x.data + 1 + t.i0;
            PairRun run[4];
            int m = 0;
            int32_t c = t.c0;
            for (;;) {
                for (; m < 4 && c < t.c1; ++c) {
                    const size_t at = static_cast<size_t>(c);
                    run[m++] = PairRun{column(c), list.start[at], list.start[at + 1]};
                }
                if (m == 0) break;
                int32_t steps = static_cast<int32_t>(chunk / m);
                for (int j = 0; j < m; ++j)
                    if (run[j].end - run[j].p < steps) steps = run[j].end - run[j].p;
                spend(static_cast<int64_t>(steps) * m);
                if (m == 4)
                    add_runs<4>(run, steps, list, wg, wd, v, t.i1 - t.i0);
                else if (m == 3)
                    add_runs<3>(run, steps, list, wg, wd, v, t.i1 - t.i0);
                else if (m == 2)
                    add_runs<2>(run, steps, list, wg, wd, v, t.i1 - t.i0);
                else
                    add_runs<1>(run, steps, list, wg, wd, v, t.i1 - t.i0);
                int kept = 0;
                for (int j = 0; j < m; ++j)
                    if (run[j].p < run[j].end) run[kept++] = run[j];
                m = kept;
            }
            return true;
        }
        const double fg = f_switch != 0.0 ? in.F.at(1, x.g) : 0.0;
        const double fd = f_switch != 0.0 ? in.F.at(0, x.d) : 0.0;
        for (int32_t c = t.c0; c < t.c1; ++c) {
            double* const last = column(c) + (n - 1 - t.i0);
            const int32_t end = list.start[static_cast<size_t>(c) + 1];
            for (int32_t p = list.start[static_cast<size_t>(c)]; p < end;) {
                const int32_t stop = end - p > chunk ? p + static_cast<int32_t>(chunk) : end;
                spend(stop - p);
                if (f_switch != 0.0)
                    for (; p < stop; ++p)
                        *last = ieee::sub(
                            *last, ieee::mul(ieee::mul(ieee::mul(fg, wg[k1[p]]), fd), wd[k2[p]]));
                else
                    for (; p < stop; ++p)
                        *last = ieee::sub(*last, ieee::mul(wg[k1[p]], wd[k2[p]]));
            }
        }
        return true;
    });
    if (own)
        for (int32_t c = t.c0; c < t.c1; ++c)
            for (int32_t i = 0; i < rows; ++i)
                tally.column(list.column[static_cast<size_t>(c)])[t.i0 + i] = column(c)[i];
    return status;
}

// The pair tally of a call that no PairPlan holds, on up to `threads`
// threads (see run_threaded): in tiles of its PairList when the call is
// worth more than one thread (threads::for_work) and splits into more than
// one tile, else tally_each_pair on the calling thread. So does a call whose
// R holds a contributing class number above r: tally_each_pair ends it at
// the first record that reaches a pair, as every tile would. A call whose
// highest class number passes its number of pairs by more than
// PairPlan::kMaxColumns stays on the calling thread too. Scratch,
// allocated here: the list, 4 bytes a pair, a count per column up to the
// last that takes a pair (freed before the tiles run), and up to
// kOwnElements doubles per tile.
template <class Variant, class Io>
Status run_unplanned(const Inputs& in, const DoubleMatrix& tally, Io& io, int threads,
                     void (*host_poll)()) {
    const int32_t K = in.W.rows;
    const double limit = static_cast<double>(in.r);
    int32_t pairs = 0;
    int32_t span = 0; // the columns up to the last that takes a pair
    for (int32_t k1 = 0; k1 < K; ++k1) {
        checks::poll_at<64>(io, k1);
        for (int32_t k2 = 0; k2 < K; ++k2) {
            const double c = in.R.at(k1, k2);
            if (!(c > 0.0)) continue;
            if (c > limit) return tally_each_pair<Variant>(in.W, in.R, in.r, in.F, tally, io);
            ++pairs;
            if (class_column(c) >= span) span = class_column(c) + 1;
        }
    }
    const int32_t value_rows = in.n - 1;
    PairList list;
    list.pairs = pairs;
    if (pairs > 0 && span - pairs <= PairPlan::kMaxColumns)
        threads = threads::for_work(count_records(in, io) * record_work(list, value_rows),
                                    kThreadWork, threads);
    if (pairs == 0 || span - pairs > PairPlan::kMaxColumns || threads == 1)
        return tally_each_pair<Variant>(in.W, in.R, in.r, in.F, tally, io);
    std::vector<int32_t> count(static_cast<size_t>(span), 0);
    for (int32_t k1 = 0; k1 < K; ++k1)
        for (int32_t k2 = 0; k2 < K; ++k2) {
            const double c = in.R.at(k1, k2);
            if (c > 0.0) ++count[static_cast<size_t>(class_column(c))];
        }
    for (const int32_t m : count)
        list.columns += m > 0;
    list.column.resize(static_cast<size_t>(list.columns));
    list.start.resize(static_cast<size_t>(list.columns) + 1);
    group_columns(count.data(), span, list);
    const std::vector<Tile> tiles = make_tiles(list, value_rows, threads, INT64_MAX);
    if (tiles.size() < 2) return tally_each_pair<Variant>(in.W, in.R, in.r, in.F, tally, io);
    list.k1.resize(static_cast<size_t>(pairs));
    list.k2.resize(static_cast<size_t>(pairs));
    file_pairs(in.R, K, count.data(), list);
    count = std::vector<int32_t>();
    // Where each tile's own elements start in `own` (-1: in the tally).
    std::vector<int64_t> at(tiles.size(), -1);
    int64_t owned = 0;
    for (size_t k = 0; k < tiles.size(); ++k) {
        const Tile& t = tiles[k];
        const int64_t elements = static_cast<int64_t>(tile_rows<Variant>(t, in.n)) * (t.c1 - t.c0);
        if (elements > kOwnElements) continue;
        at[k] = owned;
        owned += (elements + 7) / 8 * 8; // a cache line of 64 bytes apart
    }
    std::vector<double> own(static_cast<size_t>(owned + 8));
    double* const first_line =
        own.data() + (8 - reinterpret_cast<uintptr_t>(own.data()) / 8 % 8) % 8;
    const double f_switch = Variant::nan_records ? io.read_switch() : 0.0;
    std::vector<Status> status(tiles.size());
    threads::run(threads, static_cast<int32_t>(tiles.size()), host_poll,
                 [&](int32_t k, const threads::Poll& poll, int) {
                     const TileIo<Io> tile_io{io, poll, f_switch};
                     const size_t i = static_cast<size_t>(k);
                     status[i] = run_listed_tile<Variant>(list, tiles[i], in, tally, tile_io,
                                                          at[i] < 0 ? nullptr : first_line + at[i]);
                 });
    // Every tile walks the same records and meets the same first fault.
    return status[0];
}

// The pair tally of `run` on up to `threads` threads (threads.h), with the
// same results and faults: a planned call in tiles (see Tile) when it is
// worth more than one thread (threads::for_work) or when one record's terms
// would keep it from polling, else on the calling thread as `run` does; a
// call that no plan holds in tiles of its PairList (see run_unplanned).
// Besides the members `run` uses, `io.records` may be called from any
// thread; F_switch is read once, on the calling thread, before the tiles
// (a tile's NaN records then use that value). `host_poll` is the host's
// poll on the calling thread. Scratch: a TileScratch per thread (about 260
// kB), allocated here, so that the threads allocate nothing.
template <class Variant, class Io>
Status run_threaded(const Inputs& in, const DoubleMatrix& tally, Io& io, int threads,
                    void (*host_poll)(), Isa isa = isa_for_call()) {
    PairPlan plan;
    if (!plan.build(in.R, in.W.rows, in.r))
        return run_unplanned<Variant>(in, tally, io, threads, host_poll);
    const int32_t value_rows = in.n - 1;
    threads = threads::for_work(count_records(in, io) * record_work(plan, value_rows), kThreadWork,
                                threads);
    // Records of few values lay four columns side by side in a register
    // (VectorPlan), so that tiles of fewer columns would leave lanes empty
    // and each take nearly the whole call's steps: a thread per four columns.
    if (value_rows <= VectorPlan::kMaxCrossRows && threads > (plan.columns + 3) / 4)
        threads = (plan.columns + 3) / 4;
    if (plan.columns == 0 ||
        (threads == 1 && static_cast<int64_t>(plan.pairs) * value_rows <= kTileWork))
        return run_planned<Variant>(plan, in, tally, io, isa);
    const std::vector<Tile> tiles = make_tiles(plan, value_rows, threads);
    const double f_switch = Variant::nan_records ? io.read_switch() : 0.0;
    std::vector<Status> status(tiles.size());
    if (threads > static_cast<int>(tiles.size())) threads = static_cast<int>(tiles.size());
    std::vector<std::unique_ptr<TileScratch>> scratch(static_cast<size_t>(threads));
    for (std::unique_ptr<TileScratch>& s : scratch)
        s.reset(new TileScratch);
    threads::run(threads, static_cast<int32_t>(tiles.size()), host_poll,
                 [&](int32_t k, const threads::Poll& poll, int slot) {
                     const TileIo<Io> tile_io{io, poll, f_switch};
                     status[static_cast<size_t>(k)] =
                         run_tile<Variant>(plan, tiles[static_cast<size_t>(k)], in, tally, tile_io,
                                           isa, *scratch[static_cast<size_t>(slot)]);
                 });
    // Every tile walks the same records and meets the same first fault.
    return status.empty() ? Status() : status[0];
}

// ---- Input checks ------------------------------------------------------------

// Why a scalar input cannot stand for a number, written into `why`, or
// false when it can. One real numeric or logical element can (it is read as
// a double: true is 1, int8(3) is 3, a 1 x 1 sparse value is its value);
// characters would be read as their codes and complex values without their
// imaginary parts, cells, structs, function handles and objects hold no
// number at all, and of more elements than one all but the first would be
// ignored.
template <class A> bool not_a_number(A& h, typename A::Arg a, char (&why)[96]) {
    const uint64_t elements = h.numel(a);
    if (elements == 0) {
        std::snprintf(why, sizeof why, "empty");
        return true;
    }
    if (h.is_cell(a)) {
        std::snprintf(why, sizeof why, "a cell array");
        return true;
    }
    const checks::Kind k = h.kind(a);
    if (!k.number) {
        char name[64];
        h.class_name(a, name, sizeof name);
        std::snprintf(why, sizeof why, "of class %s", name);
        return true;
    }
    if (k.complex) {
        std::snprintf(why, sizeof why, "complex");
        return true;
    }
    if (elements > 1) {
        std::snprintf(why, sizeof why, "an array of %llu elements",
                      static_cast<unsigned long long>(elements));
        return true;
    }
    return false;
}

// Refuses what the loop nest would read outside of or misread, once the
// arguments' kinds are known and their values read; entries without columns
// are never read and may have any shape.
template <class Variant, class A>
checks::Fault check_values(A& h, const typename A::Arg* args, double r_given, int32_t K, int32_t G,
                           int32_t n) {
    const char* const plugin = Variant::name;
    const char* const list_name = Variant::list_name;
    const typename A::Arg list = args[1];

    if (!(r_given > -1.0 && r_given < 2147483648.0))
        return checks::reject(plugin, "badClassCount",
                              "Input 4 (r) must be a number of classes from 0 to 2147483647, but "
                              "it is %s",
                              checks::number(r_given).text);
    if (n < 2)
        return checks::reject(plugin, "tooFewRows",
                              "Input 2 (%s): entry 1 has %d %s, but every record needs at "
                              "least 2 (its partner index and its marker)",
                              list_name, n, checks::plural(n, "row", "rows"));
    char name[48];
    std::snprintf(name, sizeof name, "Input 2 (%s)", list_name);
    CHECK_OK(checks::check_count(h, list, G, plugin, name, [&](char* rest, size_t size) {
        std::snprintf(rest, size, "W has %d %s: every column of W needs an entry", G,
                      checks::plural(G, "column", "columns"));
    }));
    if (static_cast<int64_t>(K) * G > INT32_MAX || static_cast<int64_t>(K) * K > INT32_MAX)
        return checks::reject(plugin, "tooLarge",
                              "Input 1 (W) is %d x %d: W and the %d x %d pairs of R must each "
                              "hold at most 2147483647 elements",
                              K, G, K, K);
    const uint64_t r_elements = h.numel(args[2]);
    if (r_elements < static_cast<uint64_t>(K) * static_cast<uint64_t>(K))
        return checks::reject(plugin, "tooFewElements",
                              "Input 3 (R) has %llu %s, but W has %d %s: R needs %d x %d",
                              static_cast<unsigned long long>(r_elements),
                              checks::plural(r_elements, "element", "elements"), K,
                              checks::plural(K, "row", "rows"), K, K);
    if (Variant::nan_records) {
        const uint64_t f_elements = h.numel(args[4]);
        if (f_elements < 2 * static_cast<uint64_t>(G))
            return checks::reject(plugin, "tooFewElements",
                                  "Input 5 (F) has %llu %s, but W has %d %s: F needs 2 x %d",
                                  static_cast<unsigned long long>(f_elements),
                                  checks::plural(f_elements, "element", "elements"), G,
                                  checks::plural(G, "column", "columns"), G);
    }
    CHECK_OK(checks::check_entries(
        h, list, G, plugin, name, "records", [&](int32_t g, const checks::Dims& dims) {
            if (dims[0] != n)
                return checks::reject(plugin, "rowCount",
                                      "%s: entry %d has %d %s, but entry 1 sets n = %d for every "
                                      "entry",
                                      name, g + 1, dims[0], checks::plural(dims[0], "row", "rows"),
                                      n);
            if (static_cast<int64_t>(n) * dims[1] > INT32_MAX)
                return checks::reject(plugin, "tooLarge",
                                      "%s: entry %d holds %d x %d elements, more than 2147483647",
                                      name, g + 1, n, dims[1]);
            return checks::Fault{};
        }));
    const int64_t rows = Variant::nan_records ? n : n - 1;
    if (rows * static_cast<int32_t>(r_given) > INT32_MAX)
        return checks::reject(plugin, "tooLarge",
                              "The tally of %lld x %d elements would exceed 2147483647 elements",
                              static_cast<long long>(rows), static_cast<int32_t>(r_given));
    return {};
}

// Every test before the tally exists, in the order the callers rely on: the
// argument counts, the cell test of the record list (the input count and
// the cell test with their fixed messages), the kinds of the other inputs,
// the data of W, R, r and F and the sizes of W and of the list's first
// entry, then the values. The tally is the one output: a call that asks for
// more would leave the others unset. Fills `in`.
template <class Variant, class A>
checks::Fault check_inputs(A& h, int nlhs, int nrhs, const typename A::Arg* args, Inputs& in) {
    const char* const plugin = Variant::name;
    if (nrhs != Variant::inputs) return checks::fixed(checks::kInputCount);
    if (nlhs > 1) return checks::fixed(checks::kOutputCount);
    if (!h.is_cell(args[1])) return checks::fixed(Variant::not_a_cell);

    // The data of W, R and F is read as doubles: anything else would be read
    // in a layout it does not have. r and F_switch are read as scalars.
    const checks::Kind w_kind = h.kind(args[0]);
    if (!checks::real_double(w_kind))
        return checks::reject(plugin, "notDouble", "Input 1 (W) must be a real double matrix");
    // Rows and columns of W are entries' weights: further pages would be
    // ignored, and a trailing dimension of 0 (K x G x 0) leaves no weight.
    if (w_kind.ndims != 2)
        return checks::reject(plugin, "notDouble",
                              "Input 1 (W) must be a matrix of two dimensions, but it has %d",
                              w_kind.ndims);
    if (!checks::real_double(h.kind(args[2])))
        return checks::reject(plugin, "notDouble", "Input 3 (R) must be a real double matrix");
    if (Variant::nan_records && !checks::real_double(h.kind(args[4])))
        return checks::reject(plugin, "notDouble", "Input 5 (F) must be a real double matrix");
    if (h.numel(args[1]) == 0)
        return checks::reject(plugin, "noEntries",
                              "Input 2 (%s) has no entries, but its first entry sets the rows of "
                              "every record",
                              Variant::list_name);
    char why[96];
    if (not_a_number(h, args[3], why))
        return checks::reject(plugin, "badClassCount",
                              "Input 4 (r) must be a number of classes from 0 to 2147483647, but "
                              "it is %s",
                              why);
    if (Variant::nan_records && not_a_number(h, args[5], why))
        return checks::reject(plugin, "badSwitch",
                              "Input 6 (F_switch) must be a number, but it is %s", why);

    double* const w_data = h.data(args[0]);
    double* const r_data = h.data(args[2]);
    const double r_given = h.scalar(args[3]);
    double* const f_data = Variant::nan_records ? h.data(args[4]) : nullptr;
    const auto w_dims = h.dims(args[0]);
    const int32_t K = w_dims[0];
    const int32_t G = w_dims[1];
    const typename A::Arg first = h.cell(args[1], 0);
    if (!checks::double_entry(h.kind(first)))
        return checks::reject(plugin, "notDouble",
                              "Input 2 (%s): entry 1 is not a real double matrix",
                              Variant::list_name);
    const int32_t n = first ? h.dims(first)[0] : 0;

    CHECK_OK(check_values<Variant>(h, args, r_given, K, G, n));
    in.W = DoubleMatrix{w_data, K, G};
    in.R = DoubleMatrix{r_data, K, K};
    in.F = DoubleMatrix{f_data, 2, G};
    in.r = static_cast<int32_t>(r_given);
    in.n = n;
    in.rows = Variant::nan_records ? n : n - 1;
    return {};
}

// The fault a tally run ended with, if any.
template <class Variant> checks::Fault status_fault(const Status& status) {
    if (status.code == Status::misspecified) return checks::fixed(kMisspecified);
    if (status.code == Status::bad_partner)
        return checks::reject(Variant::name, "badPartner",
                              "Input 2 (%s): entry %d, record %d names partner %s, but partner "
                              "indices must lie from 1 to %d (the columns of W)",
                              Variant::list_name, status.entry + 1, status.record + 1,
                              checks::number(status.partner).text, status.entry_count);
    return {};
}

} // namespace tally_pairs

#endif
