// SPDX-License-Identifier: BSD-3-Clause
// Reference inputs as the emulated host's arrays, and a plug-in's result on
// them compared with the reference loops: written once for the tests that
// call the plug-ins, the benchmarks (their one check before timing) and the
// fuzz targets (their valid calls).
#ifndef HOST_INPUTS_H
#define HOST_INPUTS_H

#include "align_series_ref.h"
#include "fold_links_ref.h"
#include "support.h"
#include "tally_pairs_ref.h"

#include <string>
#include <vector>

namespace support {

// A list of tables as a column cell array, one matrix per table.
inline emu::ArrayPtr list_of(const std::vector<reference::Table>& tables) {
    std::vector<emu::ArrayPtr> v;
    for (const auto& t : tables)
        v.push_back(emu::matrix(t.rows, t.cols, t.v));
    return emu::cell_column(std::move(v));
}

// Record lists of n rows as a column cell array, one matrix per entry.
inline emu::ArrayPtr list_of(int n, const std::vector<std::vector<double>>& records) {
    std::vector<emu::ArrayPtr> v;
    for (const auto& e : records)
        v.push_back(emu::matrix(n, int(e.size()) / n, e));
    return emu::cell_column(std::move(v));
}

// The host arrays of one pair-tally call; a test may replace any of them.
struct TallyArrays {
    emu::ArrayPtr W, list, R, r, F, F_switch;

    // The arguments of tally_pairs_full (full) or tally_pairs_masked.
    std::vector<const mxArray*> args(bool full) const {
        std::vector<const mxArray*> in = {W.get(), list.get(), R.get(), r.get()};
        if (full) in.insert(in.end(), {F.get(), F_switch.get()});
        return in;
    }
};

inline TallyArrays arrays_of(const reference::TallyInput& in) {
    return TallyArrays{emu::matrix(in.K, in.G, in.W),
                       list_of(in.n, in.records),
                       emu::matrix(in.K, in.K, in.R),
                       emu::scalar(in.r),
                       emu::matrix(2, int(in.F.size()) / 2, in.F),
                       emu::scalar(in.F_switch)};
}

// The link matrix (v x n) and the count matrix (2 x N) of one fold call.
struct FoldArrays {
    emu::ArrayPtr links, counts;

    std::vector<const mxArray*> args() const { return {links.get(), counts.get()}; }
};

inline FoldArrays arrays_of(const std::vector<double>& links, int v, int n,
                            const std::vector<double>& counts, int N) {
    return FoldArrays{emu::matrix(v, n, links), emu::matrix(2, N, counts)};
}

// How a plug-in's result differs from the reference's, or "" when every
// output is a double matrix of the reference's size and bits.

// Entry i of output k against the reference's table `w` (rows, cols, v).
template <class Table>
std::string entry_against(const emu::CallResult& r, int k, int i, const Table& w) {
    const std::string why =
        difference(entry(r.outputs[size_t(k)].get(), size_t(i)), w.rows, w.cols, w.v);
    if (why.empty()) return why;
    return "output " + std::to_string(k + 1) + ", entry " + std::to_string(i + 1) + ": " + why;
}

inline std::string against_reference(const emu::CallResult& r, const reference::AlignResult& want,
                                     int n) {
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < n; ++i)
            if (std::string why = entry_against(r, k, i, want.out[k][size_t(i)]); !why.empty())
                return why;
    return "";
}

inline std::string against_reference(const emu::CallResult& r, const reference::FoldResult& want,
                                     int N) {
    for (int i = 0; i < N; ++i)
        for (int k = 0; k < 2; ++k)
            if (std::string why = entry_against(
                    r, k, i, k == 0 ? want.by_second[size_t(i)] : want.by_first[size_t(i)]);
                !why.empty())
                return why;
    return "";
}

// A misspecified call must end with its fixed message.
inline std::string against_reference(const emu::CallResult& r, const reference::TallyResult& want) {
    if (want.misspecified)
        return r.failed && r.error_message == "Misspecification: R[k1,k2] > r\n"
                   ? ""
                   : "the misspecification was not reported: " + r.error_message;
    if (r.failed) return "refused: " + r.error_message;
    const std::string why = difference(r.outputs[0].get(), want.rows, want.cols, want.v);
    return why.empty() ? why : "tally: " + why;
}

} // namespace support

#endif
