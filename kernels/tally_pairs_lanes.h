// SPDX-License-Identifier: BSD-3-Clause
// The terms of a value record on one vector path of tally_pairs_vector.h,
// written once for registers of two, four or eight doubles. That header
// includes this file once per path, after defining
//   TALLY_LANES_NS      the path's namespace,
//   TALLY_LANES_TARGET  the attributes of its functions (target, inlining),
//   TALLY_LANES_TYPE    its register: two, four or eight doubles,
// and, in that namespace, `splat(x)`: x in every lane, `load_part(p, live)`,
// `store_part(p, v, live)`: the first `live` lanes from or to p, touching no
// memory past them (the other lanes load as 0), and for eight lanes
// `repeat4(p)`: the four doubles at p, repeated to fill a register. Every
// term is formed and added with the helpers of ieee.h, one IEEE operation
// each, the element's own value on the left.
#if !defined(TALLY_LANES_NS) || !defined(TALLY_LANES_TARGET) || !defined(TALLY_LANES_TYPE)
#error "tally_pairs_lanes.h is included by tally_pairs_vector.h, once per vector path"
#endif

namespace tally_pairs {
namespace TALLY_LANES_NS {

using Vec = TALLY_LANES_TYPE;
typedef int64_t Mask __attribute__((vector_size(sizeof(Vec))));
constexpr int kLanes = static_cast<int>(sizeof(Vec) / sizeof(double));
static_assert(kLanes == 2 || kLanes == 4 || kLanes == 8,
              "a vector path of the pair tallies holds two, four or eight doubles per register");
// By columns a group's accumulators lie row by row, four columns a row:
// register v holds positions [kLanes * v, kLanes * (v + 1)) of that layout,
// so lane l is column (kLanes * v + l) % 4 of row (kLanes * v + l) / 4. The
// weights of a step repeat every four lanes: with fewer than four lanes per
// register, consecutive registers take consecutive parts of them.
constexpr int kWeightRegisters = kLanes < 4 ? 4 / kLanes : 1;

TALLY_LANES_TARGET inline Vec load(const double* p) {
    Vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
TALLY_LANES_TARGET inline void store(double* p, Vec v) {
    std::memcpy(p, &v, sizeof v);
}

// Calls f(std::integral_constant<int, k>{}) for the k from kFirst to kLast
// that equals n, and for kLast when none does: a count known at run time as
// a template argument.
template <int kFirst, int kLast, class F> TALLY_LANES_TARGET inline void with_count(int n, F f) {
    if constexpr (kFirst < kLast) {
        if (n != kFirst) return with_count<kFirst + 1, kLast>(n, f);
    }
    f(std::integral_constant<int, kFirst>{});
}

// Columns laid out by rows that go side by side for kVec registers each:
// enough independent sums to hide the addition's latency (one column of few
// registers would have each step wait for the last), within the registers
// the path has for accumulators and the columns' weights (the values may
// be read from memory).
template <int kVec> constexpr int side_by_side() {
    constexpr int registers = kLanes == 4 ? 16 : 32;
    int c = 4;
    while (c > 1 && (c * kVec > 12 || c * (kVec + 1) > registers - 2))
        --c;
    return c;
}

// Rows [0, kLanes * kVec) of kCols tally columns, the last register holding
// `live` rows (1 to kLanes), take their terms w[c][p] * x[i] in order,
// p = 0 .. count[c] - 1: first the steps every column takes, side by side,
// then each column's last ones.
template <int kVec, int kCols>
TALLY_LANES_TARGET inline void column_block(double* const (&t)[kCols], const double* x,
                                            int32_t live, const double* const (&w)[kCols],
                                            const int32_t (&count)[kCols]) {
    Vec acc[kCols][kVec];
    Vec val[kVec];
    for (int v = 0; v + 1 < kVec; ++v)
        val[v] = load(x + kLanes * v);
    val[kVec - 1] = load_part(x + kLanes * (kVec - 1), live);
    int32_t common = count[0];
    for (int c = 0; c < kCols; ++c) {
        for (int v = 0; v + 1 < kVec; ++v)
            acc[c][v] = load(t[c] + kLanes * v);
        acc[c][kVec - 1] = load_part(t[c] + kLanes * (kVec - 1), live);
        if (count[c] < common) common = count[c];
    }
    for (int32_t p = 0; p < common; ++p) {
        TABLEFOLD_UNROLL
        for (int c = 0; c < kCols; ++c) {
            const Vec wv = splat(w[c][p]);
            TABLEFOLD_UNROLL
            for (int v = 0; v < kVec; ++v)
                acc[c][v] = ieee::add(acc[c][v], ieee::mul(wv, val[v]));
        }
    }
    for (int c = 0; c < kCols; ++c) {
        for (int32_t p = common; p < count[c]; ++p) {
            const Vec wv = splat(w[c][p]);
            TABLEFOLD_UNROLL
            for (int v = 0; v < kVec; ++v)
                acc[c][v] = ieee::add(acc[c][v], ieee::mul(wv, val[v]));
        }
        for (int v = 0; v + 1 < kVec; ++v)
            store(t[c] + kLanes * v, acc[c][v]);
        store_part(t[c] + kLanes * (kVec - 1), acc[c][kVec - 1], live);
    }
}

// Up to kMaxSide tally columns laid out by rows (`cols` of them, each at
// t[c] with its weights w[c] and count[c] pairs): blocks of eight registers
// one column at a time (eight sums already), then the rest side by side.
constexpr int kMaxSide = 4;

template <int kVec>
TALLY_LANES_TARGET inline void rest_side_by_side(double* const (&t)[kMaxSide], const double* x,
                                                 int32_t live, const double* const (&w)[kMaxSide],
                                                 const int32_t (&count)[kMaxSide], int32_t cols) {
    constexpr int kSide = side_by_side<kVec>();
    int32_t c = 0;
    if constexpr (kSide > 1) {
        for (; c + kSide <= cols; c += kSide) {
            double* tc[kSide];
            const double* wc[kSide];
            int32_t nc[kSide];
            for (int l = 0; l < kSide; ++l) {
                tc[l] = t[c + l];
                wc[l] = w[c + l];
                nc[l] = count[c + l];
            }
            column_block<kVec, kSide>(tc, x, live, wc, nc);
        }
    }
    for (; c < cols; ++c) {
        double* const tc[1] = {t[c]};
        const double* const wc[1] = {w[c]};
        const int32_t nc[1] = {count[c]};
        column_block<kVec, 1>(tc, x, live, wc, nc);
    }
}

TALLY_LANES_TARGET inline void by_rows(double* const (&t)[kMaxSide], const double* x, int32_t rows,
                                       const double* const (&w)[kMaxSide],
                                       const int32_t (&count)[kMaxSide], int32_t cols) {
    constexpr int32_t kBlock = 8 * kLanes;
    int32_t i = 0;
    for (; i + kBlock <= rows; i += kBlock)
        for (int32_t c = 0; c < cols; ++c) {
            double* const tc[1] = {t[c] + i};
            const double* const wc[1] = {w[c]};
            const int32_t nc[1] = {count[c]};
            column_block<8, 1>(tc, x + i, kLanes, wc, nc);
        }
    const int32_t rest = rows - i;
    if (rest == 0) return;
    const int32_t vectors = (rest + kLanes - 1) / kLanes;
    const int32_t live = rest - kLanes * (vectors - 1);
    double* ti[kMaxSide];
    for (int32_t c = 0; c < cols; ++c)
        ti[c] = t[c] + i;
    double* const(&tr)[kMaxSide] = ti;
    x += i;
    with_count<1, 8>(vectors, [&](auto k) TALLY_LANES_TARGET {
        rest_side_by_side<decltype(k)::value>(tr, x, live, w, count, cols);
    });
}

// The weights of a step for register v of a group laid out by columns (a
// template, so that paths of fewer lanes need no repeat4).
template <class Weights> TALLY_LANES_TARGET inline Vec step_weights(Weights w, int v) {
    if constexpr (kLanes > 4) {
        static_cast<void>(v);
        return repeat4(w);
    } else {
        return load(w + (kLanes * v) % 4);
    }
}

// A group laid out by columns over the records of a batch (see
// VectorPlan): acc holds its rows x 4 accumulators row-major (rows padded to
// a whole register), held in registers from the first record to the last;
// a record's weights lie step by step at its own offset; in steps
// [full, steps) a column without a pair there keeps its sum (add_where).
// `ahead(b)` comes before record b's steps (see terms).
template <int kRows, class Next>
TALLY_LANES_TARGET inline void by_columns(double* acc_mem, const VectorPlan& vp,
                                          const VectorPlan::Segment& seg, const int32_t (&count)[4],
                                          const Next& ahead) {
    constexpr int kVec = (4 * kRows + kLanes - 1) / kLanes;
    Vec acc[kVec];
    Mask pairs[kWeightRegisters]; // each lane's column's pairs
    for (int v = 0; v < kWeightRegisters; ++v) {
        int64_t lane_pairs[kLanes];
        for (int l = 0; l < kLanes; ++l)
            lane_pairs[l] = count[(kLanes * v + l) % 4];
        std::memcpy(&pairs[v], lane_pairs, sizeof pairs[v]);
    }
    for (int v = 0; v < kVec; ++v)
        acc[v] = load(acc_mem + kLanes * v);
    for (int32_t b = 0; b < vp.batched; ++b) {
        ahead(b);
        const double* const x = vp.batch_x[b];
        const double* const w = vp.weight + static_cast<int64_t>(b) * vp.length + seg.at;
        // Lanes past the last row repeat it: their sums are never read back.
        Vec val[kVec];
        for (int v = 0; v < kVec; ++v) {
            Vec lanes = splat(0.0);
            for (int l = 0; l < kLanes; ++l) {
                const int row = (kLanes * v + l) / 4;
                lanes[l] = x[row < kRows ? row : kRows - 1];
            }
            val[v] = lanes;
        }
        int32_t s = 0;
        for (; s < seg.full; ++s) {
            Vec wv[kWeightRegisters];
            for (int v = 0; v < kWeightRegisters; ++v)
                wv[v] = step_weights(w + 4 * s, v);
            TABLEFOLD_UNROLL
            for (int v = 0; v < kVec; ++v)
                acc[v] = ieee::add(acc[v], ieee::mul(wv[v % kWeightRegisters], val[v]));
        }
        for (; s < seg.steps; ++s) {
            Vec wv[kWeightRegisters];
            Mask taken[kWeightRegisters];
            for (int v = 0; v < kWeightRegisters; ++v) {
                wv[v] = step_weights(w + 4 * s, v);
                taken[v] = pairs[v] > static_cast<int64_t>(s);
            }
            TABLEFOLD_UNROLL
            for (int v = 0; v < kVec; ++v)
                acc[v] = add_where(acc[v], ieee::mul(wv[v % kWeightRegisters], val[v]),
                                   taken[v % kWeightRegisters]);
        }
    }
    for (int v = 0; v < kVec; ++v)
        store(acc_mem + kLanes * v, acc[v]);
}

// The terms of the batch's value records (vp.batch_x: their n - 1 values).
// Each segment takes the records in order; the segments' elements are
// apart, so that every element takes its terms in loop order. `weights(b)`
// forms record b's weights in vp.weight: record 0's first, each next one's
// while the first segment takes the terms of the one before, so that the
// processor forms them while the sums wait for their additions.
template <class Weights> struct Ahead {
    const Weights& weights;
    int32_t batched;
    bool first;
    TALLY_LANES_TARGET void operator()(int32_t b) const {
        if (first && b + 1 < batched) weights(b + 1);
    }
};

template <class Weights>
TALLY_LANES_TARGET inline void terms(VectorPlan& vp, const PairPlan& plan,
                                     const DoubleMatrix& tally, const Weights& weights) {
    if (vp.batched > 0) weights(0);
    Ahead<Weights> ahead{weights, vp.batched, true};
    bool& first = ahead.first;
    for (int32_t s = 0; s < vp.segments; ++s, first = false) {
        const VectorPlan::Segment& seg = vp.segment[s];
        if (seg.lanes == 0) {
            // This column and the ones laid out by rows after it, side by side.
            double* t[kMaxSide] = {};
            int32_t at[kMaxSide] = {};
            int32_t count[kMaxSide] = {};
            int32_t cols = 0;
            for (; cols < kMaxSide && s < vp.segments && vp.segment[s].lanes == 0; ++cols, ++s) {
                t[cols] = tally.column(plan.column[vp.segment[s].column]);
                at[cols] = vp.segment[s].at;
                count[cols] = vp.segment[s].steps;
            }
            --s;
            for (int32_t b = 0; b < vp.batched; ++b) {
                ahead(b);
                const double* const w = vp.weight + static_cast<int64_t>(b) * vp.length;
                const double* wc[kMaxSide] = {};
                for (int32_t c = 0; c < cols; ++c)
                    wc[c] = w + at[c];
                by_rows(t, vp.batch_x[b], vp.rows, wc, count, cols);
            }
            continue;
        }
        int32_t count[4] = {0, 0, 0, 0};
        for (int32_t l = 0; l < seg.lanes; ++l)
            count[l] = plan.start[seg.column + l + 1] - plan.start[seg.column + l];
        double* const acc = vp.cross + seg.acc;
        with_count<1, 7>(vp.rows, [&](auto rows) TALLY_LANES_TARGET {
            by_columns<decltype(rows)::value>(acc, vp, seg, count, ahead);
        });
    }
}

} // namespace TALLY_LANES_NS
} // namespace tally_pairs
