// The pair tally shared by tally_pairs_full and tally_pairs_masked: the loop
// nest (a kernel on views, with the variant as a template parameter) and the
// entry code that checks the inputs, creates the tally and reports errors.
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
// rows); the plug-ins are compiled with -ffp-contract=off so that no fused
// multiply-add changes a result.
#ifndef KERNELS_TALLY_PAIRS_H
#define KERNELS_TALLY_PAIRS_H

#include "mex_host.h"

#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tally_pairs {

enum class Variant { full, masked };

// ---- Kernel ------------------------------------------------------------------

// How a tally run ended. Errors found in the loop are returned, not raised:
// the entry reports them once the kernel is back.
struct Status {
    enum Code { ok, misspecified, bad_partner };
    Code code = ok;
    int32_t entry = 0;  // bad_partner: the entry (from 0) ...
    int32_t record = 0; // ... and the record (from 0) that holds it,
    double partner = 0; // and its index value as given
};

// True when an index value truncates to an entry from 1 to `count`. The test
// is made on the double, so NaN, infinities and values beyond the 32-bit
// range are refused before any conversion.
inline bool names_entry(double index, int32_t count) {
    return index >= 1.0 && index < static_cast<double>(count) + 1.0;
}

// The tally column of a contributing class number c (0 < c <= r): the
// truncation of c - 1. Below 1 that is column 0, also for a c so small that
// c - 1 rounds to -1.
inline int32_t class_column(double c) {
    return c < 1.0 ? 0 : static_cast<int32_t>(c - 1.0);
}

// The walk over the records shared by both loop nests, in loop order: the
// host's NaN test of every record, the masked variant's skip of NaN
// records, and the partner check (a partner that names no entry ends the walk
// before any of the record's pairs). `visit(g, d, rec, n, nan_record)` takes
// every other record and returns false to end the walk at a class number
// above r.
struct Record {
    int32_t g;          // its entry
    int32_t d;          // its partner's entry
    const double* data; // its n values
    int32_t n;
    bool nan_record;
};

template <Variant V, class IsNaN, class Visit>
Status walk_records(const DoubleMatrix& W, const CellList& records, IsNaN is_nan, Visit visit) {
    const int32_t G = W.cols;
    Status status;
    for (int32_t g = 0; g < G; ++g) {
        const DoubleMatrix E = records[g];
        for (int32_t j = 0; j < E.cols; ++j) {
            const double* const rec = E.column(j);
            const bool nan_record = is_nan(rec[1]);
            if (V == Variant::masked && nan_record) continue;
            if (!names_entry(rec[0], G)) {
                status.code = Status::bad_partner;
                status.entry = g;
                status.record = j;
                status.partner = rec[0];
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
// the path for every call the planned path below does not take (a class
// number above r, more contributing pairs or classes than a plan holds).
// `W` is K x G, `R` K x K, `F` 2 x G (full only); `records` holds at least G
// entries, each viewed with n rows; `tally` is n x r (full) or (n - 1) x r
// (masked), zero-filled. `is_nan(x)` tests a marker and `read_switch()` reads
// F_switch; both go to the host, which is why they are parameters: F_switch
// is read afresh for every contributing pair of a NaN record, after its
// class check.
//
// Errors, in loop order: a record whose partner index does not name an entry
// (every record in the full variant, value records in the masked one) ends
// the run before any of its pairs; a contributing class number above r ends
// it at that pair. Terms already added stay in the tally.
template <Variant V, class IsNaN, class ReadSwitch>
Status tally_each_pair(const DoubleMatrix& W, const CellList& records, const DoubleMatrix& R,
                       int32_t r, const DoubleMatrix& F, const DoubleMatrix& tally, IsNaN is_nan,
                       ReadSwitch read_switch) {
    const int32_t K = W.rows;
    const double limit = static_cast<double>(r);
    return walk_records<V>(W, records, is_nan, [&](const Record& x) {
        const double* const wg = W.column(x.g);
        const double* const wd = W.column(x.d);
        const int32_t n = x.n;
        for (int32_t k1 = 0; k1 < K; ++k1) {
            for (int32_t k2 = 0; k2 < K; ++k2) {
                const double c = R.at(k1, k2);
                if (!(c > 0.0)) continue;
                if (c > limit) return false;
                double* const t = tally.column(class_column(c));
                if (!x.nan_record) {
                    const double w = wg[k1] * wd[k2];
                    for (int32_t i = 0; i < n - 1; ++i)
                        t[i] += w * x.data[i + 1];
                } else {
                    const double p = read_switch() != 0.0
                                         ? ((F.at(1, x.g) * wg[k1]) * F.at(0, x.d)) * wd[k2]
                                         : wg[k1] * wd[k2];
                    t[n - 1] -= p;
                }
            }
        }
        return true;
    });
}

// The contributing pairs of R (class number above 0), found once per call
// and grouped by tally column; within a column they keep their loop order
// (k1 outer, k2 inner). A tally element only ever takes the terms of its own
// column's pairs, so walking a record's pairs column by column hands every
// element the same terms in the same order as the loop nest does.
//
// The plan lives on the stack and is bounded; a call whose pairs or classes
// do not fit, or whose R holds a contributing class number above r, takes
// tally_each_pair instead. (With such a class number every record that
// reaches a pair ends the call at it, after terms and F_switch reads that
// the loop nest makes in its own order.)
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
        for (int32_t c = 0; c < r; ++c) {
            if (cursor[c] == 0) continue;
            const int32_t at = columns == 0 ? 0 : start[columns];
            column[columns] = static_cast<uint16_t>(c);
            start[columns + 1] = at + cursor[c];
            cursor[c] = at;
            start[columns] = at;
            ++columns;
        }
        for (int32_t k1 = 0; k1 < K; ++k1)
            for (int32_t k2 = 0; k2 < K; ++k2) {
                const double c = R.at(k1, k2);
                if (!(c > 0.0)) continue;
                const int32_t at = cursor[class_column(c)]++;
                this->k1[at] = static_cast<uint16_t>(k1);
                this->k2[at] = static_cast<uint16_t>(k2);
            }
        return true;
    }
};

// Two doubles of a column side by side (one SSE2 register on x86-64). Lane
// arithmetic is the same IEEE multiplication and addition per element as
// scalar code; -ffp-contract=off keeps them unfused.
typedef double Lanes __attribute__((vector_size(16)));

inline Lanes load_lanes(const double* p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store_lanes(double* p, Lanes v) {
    std::memcpy(p, &v, sizeof v);
}

// Rows [0, 2 * kPairsOfRows + kOdd) of one tally column take the terms of
// `count` pairs in order: t[i] += weight[p] * x[i] for p = 0, 1, ...; each
// element is held in a register meanwhile and every term is added to it at
// once, as the loop nest adds it to the tally.
template <int kPairsOfRows, bool kOdd>
inline void add_terms(double* t, const double* x, const double* weight, int32_t count) {
    Lanes acc[kPairsOfRows + 1];
    Lanes val[kPairsOfRows + 1];
    for (int v = 0; v < kPairsOfRows; ++v) {
        acc[v] = load_lanes(t + 2 * v);
        val[v] = load_lanes(x + 2 * v);
    }
    double acc_odd = kOdd ? t[2 * kPairsOfRows] : 0.0;
    const double val_odd = kOdd ? x[2 * kPairsOfRows] : 0.0;
    for (int32_t p = 0; p < count; ++p) {
        const double w = weight[p];
        const Lanes wv = {w, w};
        for (int v = 0; v < kPairsOfRows; ++v)
            acc[v] = acc[v] + wv * val[v];
        if (kOdd) acc_odd = acc_odd + w * val_odd;
    }
    for (int v = 0; v < kPairsOfRows; ++v)
        store_lanes(t + 2 * v, acc[v]);
    if (kOdd) t[2 * kPairsOfRows] = acc_odd;
}

// The terms of `count` pairs of one column for a value record: t[i] +=
// weight[p] * x[i] for i < rows, in blocks of up to 16 rows.
inline void add_column(double* t, const double* x, const double* weight, int32_t count,
                       int32_t rows) {
    int32_t i = 0;
    for (; i + 16 <= rows; i += 16)
        add_terms<8, false>(t + i, x + i, weight, count);
    t += i;
    x += i;
    switch (rows - i) {
    case 1:
        add_terms<0, true>(t, x, weight, count);
        break;
    case 2:
        add_terms<1, false>(t, x, weight, count);
        break;
    case 3:
        add_terms<1, true>(t, x, weight, count);
        break;
    case 4:
        add_terms<2, false>(t, x, weight, count);
        break;
    case 5:
        add_terms<2, true>(t, x, weight, count);
        break;
    case 6:
        add_terms<3, false>(t, x, weight, count);
        break;
    case 7:
        add_terms<3, true>(t, x, weight, count);
        break;
    case 8:
        add_terms<4, false>(t, x, weight, count);
        break;
    case 9:
        add_terms<4, true>(t, x, weight, count);
        break;
    case 10:
        add_terms<5, false>(t, x, weight, count);
        break;
    case 11:
        add_terms<5, true>(t, x, weight, count);
        break;
    case 12:
        add_terms<6, false>(t, x, weight, count);
        break;
    case 13:
        add_terms<6, true>(t, x, weight, count);
        break;
    case 14:
        add_terms<7, false>(t, x, weight, count);
        break;
    case 15:
        add_terms<7, true>(t, x, weight, count);
        break;
    default:
        break;
    }
}

// The loop nest over a plan (see PairPlan): per record, the host's NaN test
// and the partner check as in tally_each_pair, then the record's terms
// column by column. A value record first forms the weight product of every
// pair, then adds weight times value row by row; a NaN record (full variant)
// reads F_switch once per pair, as the loop nest does, and subtracts its
// term from the column's last row.
template <Variant V, class IsNaN, class ReadSwitch>
Status tally_planned(const PairPlan& plan, const DoubleMatrix& W, const CellList& records,
                     const DoubleMatrix& F, const DoubleMatrix& tally, IsNaN is_nan,
                     ReadSwitch read_switch) {
    double weight[PairPlan::kMaxPairs];
    return walk_records<V>(W, records, is_nan, [&](const Record& x) {
        const double* const wg = W.column(x.g);
        const double* const wd = W.column(x.d);
        const int32_t n = x.n;
        if (!x.nan_record) {
            for (int32_t p = 0; p < plan.pairs; ++p)
                weight[p] = wg[plan.k1[p]] * wd[plan.k2[p]];
            for (int32_t c = 0; c < plan.columns; ++c) {
                const int32_t first = plan.start[c];
                add_column(tally.column(plan.column[c]), x.data + 1, weight + first,
                           plan.start[c + 1] - first, n - 1);
            }
        } else if (V == Variant::full) {
            const double fg = F.at(1, x.g);
            const double fd = F.at(0, x.d);
            for (int32_t c = 0; c < plan.columns; ++c) {
                double* const last = tally.column(plan.column[c]) + (n - 1);
                double acc = *last;
                for (int32_t p = plan.start[c]; p < plan.start[c + 1]; ++p) {
                    const double a = wg[plan.k1[p]];
                    const double b = wd[plan.k2[p]];
                    acc -= read_switch() != 0.0 ? ((fg * a) * fd) * b : a * b;
                }
                *last = acc;
            }
        }
        return true;
    });
}

// The pair tally of one call (see tally_each_pair for the inputs and the
// errors): over a plan of R's contributing pairs where one fits, else pair
// by pair.
template <Variant V, class IsNaN, class ReadSwitch>
Status tally(const DoubleMatrix& W, const CellList& records, const DoubleMatrix& R, int32_t r,
             const DoubleMatrix& F, const DoubleMatrix& tally, IsNaN is_nan,
             ReadSwitch read_switch) {
    PairPlan plan;
    if (plan.build(R, W.rows, r))
        return tally_planned<V>(plan, W, records, F, tally, is_nan, read_switch);
    return tally_each_pair<V>(W, records, R, r, F, tally, is_nan, read_switch);
}

// ---- Entry -------------------------------------------------------------------

// The record list as the kernel fetches it: entry g through the host, in the
// order of calls the plug-ins keep (cell and column count, then cell and
// data), viewed with n rows. An entry never set reads as [] (no columns).
struct HostRecords {
    const mxArray* list;
    int32_t n;
};

inline DoubleMatrix fetch_records(const void* context, int32_t g) {
    const HostRecords& h = *static_cast<const HostRecords*>(context);
    const mxArray* const e = mxGetCell_700(h.list, g);
    if (!e) return DoubleMatrix{nullptr, h.n, 0};
    const int32_t m = mxGetDimensions_700(e)[1];
    double* const data = mxGetPr(mxGetCell_700(h.list, g));
    return DoubleMatrix{data, h.n, m};
}

using mexhost::reject;

// Why a scalar input cannot be read as a number, or null when it can.
inline const char* not_a_number(const mxArray* a) {
    if (mxGetNumberOfElements(a) == 0) return "empty";
    if (mxIsCell(a)) return "a cell array";
    return nullptr;
}

// Refuses input that the loop nest would read outside of or misread; called
// after the argument-count and cell checks, with the values read from the
// inputs, before the tally exists. Entries without columns are never read
// and may have any shape.
template <Variant V>
void check_inputs(const mxArray* const prhs[], double r_given, int32_t K, int32_t G, int32_t n) {
    constexpr bool full = V == Variant::full;
    const char* const plugin = full ? "tally_pairs_full" : "tally_pairs_masked";
    const char* const list_name = full ? "S_out" : "T_out";
    const mxArray* const list = prhs[1];

    if (!(r_given > -1.0 && r_given < 2147483648.0))
        reject(plugin, "badClassCount",
               "Input 4 (r) must be a number of classes from 0 to 2147483647, but it is %g",
               r_given);
    if (n < 2)
        reject(plugin, "tooFewRows",
               "Input 2 (%s): entry 1 has %d rows, but every record needs at least 2 (its "
               "partner index and its marker)",
               list_name, n);
    const size_t count = mxGetNumberOfElements(list);
    if (count < static_cast<size_t>(G))
        reject(plugin, "tooFewEntries",
               "Input 2 (%s) has %zu entries, but W has %d columns: every column of W needs an "
               "entry",
               list_name, count, G);
    if (static_cast<int64_t>(K) * G > INT32_MAX || static_cast<int64_t>(K) * K > INT32_MAX)
        reject(plugin, "tooLarge",
               "Input 1 (W) is %d x %d: W and the %d x %d pairs of R must each hold at most "
               "2147483647 elements",
               K, G, K, K);
    const size_t r_elements = mxGetNumberOfElements(prhs[2]);
    if (r_elements < static_cast<size_t>(K) * static_cast<size_t>(K))
        reject(plugin, "tooFewElements",
               "Input 3 (R) has %zu elements, but W has %d rows: R needs %d x %d", r_elements, K, K,
               K);
    if (full) {
        const size_t f_elements = mxGetNumberOfElements(prhs[4]);
        if (f_elements < 2 * static_cast<size_t>(G))
            reject(plugin, "tooFewElements",
                   "Input 5 (F) has %zu elements, but W has %d columns: F needs 2 x %d", f_elements,
                   G, G);
    }
    for (int32_t g = 0; g < G; ++g) {
        const mxArray* const e = mxGetCell_700(list, g);
        if (!mexhost::is_plain_matrix(e))
            reject(plugin, "notDouble", "Input 2 (%s): entry %d is not a real double matrix",
                   list_name, g + 1);
        if (!e) continue;
        const auto dims = mxGetDimensions_700(e);
        if (dims[1] == 0) continue;
        if (dims[0] != n)
            reject(plugin, "rowCount",
                   "Input 2 (%s): entry %d has %d rows, but entry 1 sets n = %d for every "
                   "entry",
                   list_name, g + 1, dims[0], n);
        if (static_cast<int64_t>(n) * dims[1] > INT32_MAX)
            reject(plugin, "tooLarge",
                   "Input 2 (%s): entry %d holds %d x %d elements, more than 2147483647", list_name,
                   g + 1, n, dims[1]);
    }
    const int64_t rows = full ? n : n - 1;
    if (rows * static_cast<int32_t>(r_given) > INT32_MAX)
        reject(plugin, "tooLarge",
               "The tally of %lld x %d elements would exceed 2147483647 elements",
               static_cast<long long>(rows), static_cast<int32_t>(r_given));
}

// The entry of either plug-in. nlhs is never examined: the tally always goes
// to plhs[0], which the host offers even when no output is requested.
template <Variant V> void run(mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    constexpr bool full = V == Variant::full;
    const char* const plugin = full ? "tally_pairs_full" : "tally_pairs_masked";
    const char* const list_name = full ? "S_out" : "T_out";

    if (nrhs != (full ? 6 : 4)) mexErrMsgTxt("Incorrect number of input arguments");
    if (!mxIsCell(prhs[1]))
        mexErrMsgTxt(full ? "Second Arg: S_out needs to be a cell array"
                          : "Second Arg: T_out needs to be a cell array");

    // The data of W, R and F is read as doubles: anything else would be read
    // in a layout it does not have. r and F_switch are read as scalars.
    if (!mexhost::is_real_double(prhs[0]))
        reject(plugin, "notDouble", "Input 1 (W) must be a real double matrix");
    if (!mexhost::is_real_double(prhs[2]))
        reject(plugin, "notDouble", "Input 3 (R) must be a real double matrix");
    if (full && !mexhost::is_real_double(prhs[4]))
        reject(plugin, "notDouble", "Input 5 (F) must be a real double matrix");
    if (mxGetNumberOfElements(prhs[1]) == 0)
        reject(plugin, "noEntries",
               "Input 2 (%s) has no entries, but its first entry sets the rows of every record",
               list_name);
    if (const char* why = not_a_number(prhs[3]))
        reject(plugin, "badClassCount",
               "Input 4 (r) must be a number of classes from 0 to 2147483647, but it is %s", why);
    if (const char* why = full ? not_a_number(prhs[5]) : nullptr)
        reject(plugin, "badSwitch", "Input 6 (F_switch) must be a number, but it is %s", why);

    double* const w_data = mxGetPr(prhs[0]);
    double* const r_data = mxGetPr(prhs[2]);
    const double r_given = mxGetScalar(prhs[3]);
    double* const f_data = full ? mxGetPr(prhs[4]) : nullptr;
    const auto w_dims = mxGetDimensions_700(prhs[0]);
    const int32_t K = w_dims[0];
    const int32_t G = w_dims[1];
    const mxArray* const first = mxGetCell_700(prhs[1], 0);
    if (!mexhost::is_plain_matrix(first))
        reject(plugin, "notDouble", "Input 2 (%s): entry 1 is not a real double matrix", list_name);
    const int32_t n = first ? mxGetDimensions_700(first)[0] : 0;

    check_inputs<V>(prhs, r_given, K, G, n);
    const int32_t r = static_cast<int32_t>(r_given);
    const int32_t rows = full ? n : n - 1;

    plhs[0] = mxCreateDoubleMatrix_700(rows, r, mxREAL);
    const DoubleMatrix out{mxGetPr(plhs[0]), rows, r};

    const HostRecords host_records{prhs[1], n};
    const CellList records{&host_records, G, fetch_records};
    const mxArray* const f_switch = full ? prhs[5] : nullptr;
    const Status status = tally<V>(
        DoubleMatrix{w_data, K, G}, records, DoubleMatrix{r_data, K, K}, r,
        DoubleMatrix{f_data, 2, G}, out, [](double x) { return mxIsNaN(x); },
        [f_switch] { return mxGetScalar(f_switch); });

    // The tally already stands in plhs[0]; on an error the host discards it.
    if (status.code == Status::misspecified) mexErrMsgTxt("Misspecification: R[k1,k2] > r\n");
    if (status.code == Status::bad_partner)
        reject(plugin, "badPartner",
               "Input 2 (%s): entry %d, record %d names partner %g, but partner indices must "
               "lie from 1 to %d (the columns of W)",
               list_name, status.entry + 1, status.record + 1, status.partner, G);
}

} // namespace tally_pairs

#endif
