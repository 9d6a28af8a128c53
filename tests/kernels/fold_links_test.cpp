// SPDX-License-Identifier: BSD-3-Clause
// fold_links_masked and fold_links_full through the emulated host, loading
// build/mex/fold_links_masked.mexa64 and build/mex/fold_links_full.mexa64.
#include "fold_links_ref.h"
#include "gtest_support.h"
#include "host_inputs.h"
#include "random_inputs.h"

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using emu::ArrayPtr;
using testing_support::entry;
using testing_support::same_matrix;

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

enum Variant { kFull, kMasked };
const Variant kBoth[] = {kFull, kMasked};

const char* name_of(Variant v) {
    return v == kMasked ? "fold_links_masked" : "fold_links_full";
}

emu::CallResult fold(Variant v, const ArrayPtr& links, const ArrayPtr& counts, bool trace = false) {
    return testing_support::plugin(name_of(v)).call(2, {links.get(), counts.get()}, -1, trace);
}

// The 2 x N count matrix from its two rows.
ArrayPtr counts(const std::vector<double>& by_second, const std::vector<double>& by_first) {
    std::vector<double> v;
    for (size_t i = 0; i < by_second.size(); ++i) {
        v.push_back(by_second[i]);
        v.push_back(by_first[i]);
    }
    return emu::matrix(2, int(by_second.size()), v);
}

// An expected output entry: output k (1 or 2), entry i (from 1), its columns
// and values (v - 1 rows). Every entry not listed must have no columns.
struct Expect {
    int output, index, cols;
    std::vector<double> values;
};
Expect out1(int i, int cols, std::vector<double> values) {
    return {1, i, cols, std::move(values)};
}
Expect out2(int i, int cols, std::vector<double> values) {
    return {2, i, cols, std::move(values)};
}

struct FoldCase {
    const char* what;
    std::vector<Variant> variants;
    int v;
    std::vector<double> links;  // v x n
    std::vector<double> counts; // 2 x N
    std::vector<Expect> expect;
};
FoldCase fc(const char* what, std::vector<Variant> variants, int v, std::vector<double> links,
            std::vector<double> counts, std::vector<Expect> expect) {
    return {what, std::move(variants), v, std::move(links), std::move(counts), std::move(expect)};
}

TEST(FoldLinks, FoldsEveryIndexsLinks) {
    const std::vector<double> rising = {2, 1, 1, 5, 1, 10, 3, 1, 100, 5, 1, 1000, 7, 1, 10000};
    const std::vector<double> rising_counts = {5, 0, 0, 1, 0, 1, 0, 0, 0, 2, 0, 0, 0, 1};
    const std::vector<double> falling = {1, 3, 1, 1, 1, 2, 1, 3, 3, 1, 2, 4, 1, 4, 5};
    const std::vector<double> falling_counts = {1, 5, 1, 0, 2, 0, 1, 0};
    const std::vector<double> two_at_4 = {4, 1, 1.5, -1, 4, 1, 2.25, -2};
    const std::vector<double> surplus = {3, 1, 5, 1, 3, -0.0};
    const FoldCase cases[] = {
        fc("partner ends 2 5 3 5 7 (sums)", {kFull}, 3, rising, rising_counts,
           {out1(1, 3, {2, 1, 5, 1110, 7, 10000}), out2(2, 1, {1, 1}), out2(3, 1, {1, 100}),
            out2(5, 1, {1, 1010}), out2(7, 1, {1, 10000})}),
        fc("partner ends 2 5 3 5 7 (output 2 keeps the last)", {kMasked}, 3, rising, rising_counts,
           {out1(1, 3, {2, 1, 5, 1110, 7, 10000}), out2(2, 1, {1, 1}), out2(3, 1, {1, 100}),
            out2(5, 1, {1, 1000}), out2(7, 1, {1, 10000})}),
        fc("partner ends 3 1 3 2 4 (sums)", {kFull}, 3, falling, falling_counts,
           {out1(1, 1, {1, 2}), out1(2, 1, {1, 4}), out1(3, 1, {1, 4}), out1(4, 1, {1, 5}),
            out2(1, 2, {3, 10, 4, 5})}),
        fc("partner ends 3 1 3 2 4 (output 2 keeps the last)", {kMasked}, 3, falling,
           falling_counts,
           {out1(1, 1, {1, 2}), out1(2, 1, {1, 4}), out1(3, 1, {1, 4}), out1(4, 1, {1, 5}),
            out2(1, 2, {3, 4, 4, 5})}),
        fc("two links with partner end 4: x + y", {kFull}, 4, two_at_4, {2, 0, 0, 0, 0, 0, 0, 2},
           {out1(1, 1, {4, 3.75, -3}), out2(4, 1, {1, 3.75, -3})}),
        fc("two links with partner end 4: y", {kMasked}, 4, two_at_4, {2, 0, 0, 0, 0, 0, 0, 2},
           {out1(1, 1, {4, 3.75, -3}), out2(4, 1, {1, 2.25, -2})}),
        fc("ends 2.9 and 1.5 are indices 2 and 1; a count of 1.7 is 1", {kFull, kMasked}, 3,
           {2.9, 1.5, 7}, {1.7, 0, 0, 1.7}, {out1(1, 1, {2, 7}), out2(2, 1, {1, 7})}),
        fc("row 3 NaN skips a link, ends unused; NaN in row 4 is carried", {kMasked}, 4,
           {99, -3, NaN, 5, 1, 2, 4, 6, 1, 2, 3, NaN}, {0, 2, 2, 0},
           {out1(2, 1, {1, 7, NaN}), out2(1, 1, {2, 3, NaN})}),
        fc("row 3 NaN is a value like any other", {kFull}, 3, {1, 2, NaN, 1, 2, 4}, {0, 2, 2, 0},
           {out1(2, 1, {1, NaN}), out2(1, 1, {2, NaN})}),
        fc("surplus zero columns join the last column opened (sums onto +0)", {kFull}, 3, surplus,
           {3, 1, 0, 0, 1, 2},
           {out1(1, 1, {3, 5}), out1(3, 1, {1, 0.0}), out2(1, 1, {3, 0.0}), out2(3, 1, {1, 5})}),
        fc("surplus zero columns overwrite output 2's values", {kMasked}, 3, surplus,
           {3, 1, 0, 0, 1, 2},
           {out1(1, 1, {3, 5}), out1(3, 1, {1, 0.0}), out2(1, 1, {3, -0.0}), out2(3, 1, {1, 0})}),
        fc("v = 2: the rising partner ends alone", {kFull}, 2, {1, 2, 1, 3, 1, 2, 3, 1},
           {1, 3, 2, 0, 1, 1},
           {out1(1, 1, {3}), out1(2, 1, {1}), out1(3, 1, {1}), out2(1, 2, {2, 3}),
            out2(3, 1, {1})}),
        fc("a link whose ends are equal", {kFull, kMasked}, 3, {2, 2, 9}, {0, 0, 1, 1},
           {out1(2, 1, {2, 9}), out2(2, 1, {2, 9})}),
        fc("N = 0 with no links", {kFull, kMasked}, 3, {}, {}, {}),
        fc("positive counts receiving no link", {kFull, kMasked}, 3, {}, {2, 0, 0, 1}, {}),
        fc("an index whose links are all skipped for NaN", {kMasked}, 3, {1, 2, NaN, 1, 2, NaN},
           {0, 2, 2, 0}, {}),
    };
    for (const FoldCase& c : cases) {
        for (Variant variant : c.variants) {
            SCOPED_TRACE(std::string(name_of(variant)) + ": " + c.what);
            const int n = int(c.links.size()) / c.v, N = int(c.counts.size()) / 2;
            auto r = fold(variant, emu::matrix(c.v, n, c.links), emu::matrix(2, N, c.counts));
            ASSERT_OK(r);
            for (int k = 1; k <= 2; ++k) {
                const mxArray* out = r.outputs[size_t(k - 1)].get();
                ASSERT_EQ(emu::dims_of(out), (std::vector<int>{N, 1})) << "output " << k;
                for (int i = 1; i <= N; ++i) {
                    Expect want{k, i, 0, {}};
                    for (const Expect& e : c.expect)
                        if (e.output == k && e.index == i) want = e;
                    EXPECT_TRUE(
                        same_matrix(entry(out, size_t(i - 1)), c.v - 1, want.cols, want.values))
                        << "output " << k << ", entry " << i;
                }
            }
        }
    }
}

TEST(FoldLinks, CallsTheHostInTheSpecifiedOrder) {
    // N = 2, one link from 1 to 2, and a surplus column in first-end bucket 1.
    auto links = emu::matrix(3, 1, {1, 2, 5});
    auto r = fold(kFull, links, counts({0, 1}, {2, 0}), true);
    ASSERT_OK(r);
    // The trace on one line; creations once both outputs stand in their
    // slots drop that note.
    std::string calls;
    for (std::string line : r.trace) {
        const size_t at = line.find(" {slots #1 #2}");
        if (at != std::string::npos) line.erase(at);
        calls += line + "; ";
    }
    EXPECT_EQ(
        calls,
        // argument data and sizes; outputs, bucket lists, buckets, counters
        "mxGetPr(prhs[0]); mxGetPr(prhs[1]); mxGetDimensions_700(prhs[1]); "
        "mxGetDimensions_700(prhs[0]); mxCreateCellMatrix_700(2,1) -> #1 {slots - -}; "
        "mxCreateCellMatrix_700(2,1) -> #2 {slots #1 -}; mxCreateCellMatrix_700(2,1) -> #3; "
        "mxCreateCellMatrix_700(2,1) -> #4; mxCreateDoubleMatrix_700(2,0) -> #5; "
        "mxSetCell_700(#3,0,#5); mxCreateDoubleMatrix_700(2,2) -> #6; mxSetCell_700(#4,0,#6); "
        "mxCreateDoubleMatrix_700(2,1) -> #7; mxSetCell_700(#3,1,#7); "
        "mxCreateDoubleMatrix_700(2,0) -> #8; mxSetCell_700(#4,1,#8); "
        "mxCreateNumericMatrix_700(2,2) -> #9; mxGetPr(#9); "
        // bucketing: second-end bucket 2, then first-end bucket 1
        "mxGetCell_700(#3,1); mxGetPr(#7); mxGetCell_700(#4,0); mxGetPr(#6); "
        // folding output 1, entries 1 and 2
        "mxGetCell_700(#3,0); mxGetPr(#5); mxGetCell_700(#3,0); mxGetDimensions_700(#5); "
        "mxCreateDoubleMatrix_700(2,0) -> #10; mxSetCell_700(#1,0,#10); mxGetCell_700(#1,0); "
        "mxGetPr(#10); mxGetCell_700(#3,1); mxGetPr(#7); mxGetCell_700(#3,1); "
        "mxGetDimensions_700(#7); mxCreateDoubleMatrix_700(2,1) -> #11; "
        "mxSetCell_700(#1,1,#11); mxGetCell_700(#1,1); mxGetPr(#11); "
        // folding output 2, entries 1 and 2
        "mxGetCell_700(#4,0); mxGetPr(#6); mxGetCell_700(#4,0); mxGetDimensions_700(#6); "
        "mxCreateDoubleMatrix_700(2,1) -> #12; mxSetCell_700(#2,0,#12); mxGetCell_700(#2,0); "
        "mxGetPr(#12); mxGetCell_700(#4,1); mxGetPr(#8); mxGetCell_700(#4,1); "
        "mxGetDimensions_700(#8); mxCreateDoubleMatrix_700(2,0) -> #13; "
        "mxSetCell_700(#2,1,#13); mxGetCell_700(#2,1); mxGetPr(#13); "
        // the scratch goes
        "mxDestroyArray(#3); mxDestroyArray(#4); mxDestroyArray(#9); ");
    EXPECT_TRUE(same_matrix(entry(r.outputs[0].get(), 1), 2, 1, {1, 5}));
    EXPECT_TRUE(same_matrix(entry(r.outputs[1].get(), 0), 2, 1, {2, 5}));
}

TEST(FoldLinks, ArgumentCountsAreCheckedFirst) {
    auto links = emu::char_array("not even links");
    auto ok = counts({1}, {1});
    for (Variant variant : kBoth) {
        SCOPED_TRACE(name_of(variant));
        const emu::Plugin& p = testing_support::plugin(name_of(variant));
        const struct {
            int nlhs;
            std::vector<const mxArray*> inputs;
            const char* message;
        } cases[] = {
            {2, {links.get()}, "Incorrect number of input arguments"},
            {2, {links.get(), ok.get(), ok.get()}, "Incorrect number of input arguments"},
            {1, {}, "Incorrect number of input arguments"},
            {0, {links.get(), ok.get()}, "Incorrect number of output arguments"},
            {1, {links.get(), ok.get()}, "Incorrect number of output arguments"},
            {3, {links.get(), ok.get()}, "Incorrect number of output arguments"},
        };
        for (const auto& c : cases) {
            auto r = p.call(c.nlhs, c.inputs, -1, true);
            EXPECT_HOST_ERROR(r, "", c.message);
            EXPECT_EQ(r.trace.size(), 1u) << testing_support::joined(r.trace);
        }
    }
}

struct Rejection {
    std::vector<Variant> variants;
    ArrayPtr links, counts;
    const char* reason;
    std::string message;
};

std::vector<Rejection> rejections() {
    const std::string range = " does not truncate to an index from 1 to 3 (the columns of the "
                              "count matrix)";
    const std::string full_rows = "every link needs at least 2 (first end, second end)";
    const std::string masked_rows = "every link needs at least 3 (first end, second end, first "
                                    "value)";
    const std::string count_rows = ", but needs exactly 2 (row 1: links by second end, row "
                                   "2: links by first end)";
    auto bad_count = [](const char* where, const char* value) {
        return std::string(where) + " of the count matrix holds " + value +
               ", but a count must be at least 0 and below 2^31";
    };
    auto three = [] { return counts({1, 1, 1}, {1, 1, 1}); };
    auto link = [](std::vector<double> v) { return emu::matrix(3, int(v.size()) / 3, v); };
    std::vector<Rejection> r;
    auto add = [&r](std::vector<Variant> v, ArrayPtr l, ArrayPtr c, const char* reason,
                    std::string message) {
        r.push_back({std::move(v), std::move(l), std::move(c), reason, std::move(message)});
    };
    const std::vector<Variant> both{kFull, kMasked};
    // Inputs of another kind.
    const std::string links_kind = "Input 1 (the link matrix) must be a real double matrix";
    const std::string counts_kind = "Input 2 (the count matrix) must be a real double matrix";
    add(both, emu::numeric(mxINT8_CLASS, 3, 1), three(), "notDouble", links_kind);
    add(both, emu::nd_double({3, 1, 2}), three(), "notDouble", links_kind);
    add(both, emu::list(emu::zeros(3, 1)), three(), "notDouble", links_kind);
    add(both, link({1, 1, 1}), emu::complex_matrix(2, 3), "notDouble", counts_kind);
    add(both, link({1, 1, 1}), emu::sparse_matrix(2, 3), "notDouble", counts_kind);
    // Too few link rows; the link rows are checked before the count rows.
    add({kFull}, emu::zeros(1, 2), emu::zeros(3, 3), "linkRows",
        "The link matrix has 1 row, but " + full_rows);
    add({kFull}, emu::zeros(0, 0), emu::zeros(2, 0), "linkRows",
        "The link matrix has 0 rows, but " + full_rows);
    add({kMasked}, emu::matrix(2, 1, {1, 1}), three(), "linkRows",
        "The link matrix has 2 rows, but " + masked_rows);
    add({kMasked}, emu::zeros(2, 0), emu::zeros(2, 0), "linkRows",
        "The link matrix has 2 rows, but " + masked_rows);
    // Count matrices without exactly 2 rows.
    add(both, link({1, 1, 1}), emu::matrix(3, 1, {1, 1, 1}), "countRows",
        "The count matrix has 3 rows" + count_rows);
    add(both, link({1, 1, 1}), emu::matrix(1, 3, {1, 1, 1}), "countRows",
        "The count matrix has 1 row" + count_rows);
    add(both, emu::zeros(3, 0), emu::zeros(0, 0), "countRows",
        "The count matrix has 0 rows" + count_rows);
    // Counts out of range, found in index order.
    add(both, link({1, 1, 1}), counts({1, -1, 1}, {1, 1, 1}), "badCount",
        "Index 2: " + bad_count("row 1", "-1"));
    add(both, link({1, 1, 1}), counts({1, 1, 1}, {1, 1, -0.5}), "badCount",
        "Index 3: " + bad_count("row 2", "-0.5"));
    add(both, link({1, 1, 1}), counts({NaN, 1, 1}, {1, 1, 1}), "badCount",
        "Index 1: " + bad_count("row 1", "NaN"));
    add(both, link({1, 1, 1}), counts({1, 1, 1}, {Inf, 1, 1}), "badCount",
        "Index 1: " + bad_count("row 2", "Inf"));
    add(both, link({1, 1, 1}), counts({1, 2147483648.0, -1}, {1, 1, 1}), "badCount",
        "Index 2: " + bad_count("row 1", "2147483648"));
    // A bucket the host could create but the plug-in could not address.
    add(both, link({1, 1, 1}), counts({1, 1}, {1073741824.0, 1}), "tooLarge",
        "Index 1: the bucket for row 2 of the count matrix would hold 2 rows x 1073741824 "
        "columns, more than the 2147483647 elements this plug-in supports");
    // Link ends that do not name an index, in link order, first end first.
    add(both, link({1, 1, 1, 0, 1, 1}), three(), "badIndex", "Link 2: its first end 0" + range);
    add(both, link({0.99, 1, 1}), three(), "badIndex", "Link 1: its first end 0.99" + range);
    add(both, link({4, 4, 1}), three(), "badIndex", "Link 1: its first end 4" + range);
    add(both, link({1, 4, 1}), three(), "badIndex", "Link 1: its second end 4" + range);
    add(both, link({1, 3.5, 1, NaN, 1, 1}), three(), "badIndex",
        "Link 2: its first end NaN" + range);
    add(both, link({1, Inf, 1}), three(), "badIndex", "Link 1: its second end Inf" + range);
    add(both, link({1, 2147483648.0, 1}), three(), "badIndex",
        "Link 1: its second end 2147483648" + range);
    add(both, link({1, 1, 1}), emu::zeros(2, 0), "badIndex",
        "Link 1: its first end 1 does not truncate to an index from 1 to 0 (the columns of the "
        "count matrix)");
    // fold_links_full takes links with NaN in row 3, so their ends count.
    add({kFull}, link({5, 1, NaN}), three(), "badIndex", "Link 1: its first end 5" + range);
    add({kMasked}, emu::matrix(4, 1, {5, 1, 1, NaN}), three(), "badIndex",
        "Link 1: its first end 5" + range);
    return r;
}

TEST(FoldLinks, RejectsInputBeforeCreatingAnything) {
    for (const Rejection& c : rejections()) {
        for (Variant variant : c.variants) {
            SCOPED_TRACE(std::string(name_of(variant)) + ": " + c.message);
            auto r = fold(variant, c.links, c.counts, true);
            EXPECT_HOST_ERROR(r, std::string(name_of(variant)) + ":" + c.reason, c.message);
            for (const std::string& line : r.trace)
                EXPECT_EQ(line.find("mxCreate"), std::string::npos) << "created " << line;
        }
    }
}

TEST(FoldLinks, RejectsABucketReceivingMoreLinksThanItsCount) {
    const std::string more = "more links have ";
    const struct {
        std::vector<Variant> variants;
        std::vector<double> links, counts; // 3 x n, 2 x N
        std::string message;
    } cases[] = {
        {{kFull, kMasked},
         {1, 2, 1, 3, 3, 1, 1, 2, 1},
         {0, 2, 1, 0, 1, 1},
         "Link 3: " + more + "second end 2 than row 1 of the count matrix allows for it (1)"},
        {{kFull, kMasked},
         {1, 2, 1, 1, 3, 1},
         {0, 1, 1, 0, 1, 0},
         "Link 2: " + more + "first end 1 than row 2 of the count matrix allows for it (1)"},
        {{kFull, kMasked},
         {2, 2, 1},
         {0, 0, 0, 1},
         "Link 1: " + more + "second end 2 than row 1 of the count matrix allows for it (0)"},
        // A link taken only by fold_links_full overflows only there.
        {{kFull},
         {1, 2, 1, 1, 2, NaN},
         {0, 1, 1, 0},
         "Link 2: " + more + "second end 2 than row 1 of the count matrix allows for it (1)"},
    };
    for (const auto& c : cases) {
        for (Variant variant : c.variants) {
            SCOPED_TRACE(std::string(name_of(variant)) + ": " + c.message);
            auto links = emu::matrix(3, int(c.links.size()) / 3, c.links);
            auto r = fold(variant, links, emu::matrix(2, int(c.counts.size()) / 2, c.counts), true);
            EXPECT_HOST_ERROR(r, std::string(name_of(variant)) + ":bucketOverflow", c.message);
            // Both outputs, both bucket lists and the counter storage are
            // destroyed before the error is reported.
            int created = 0;
            std::vector<std::string> destroyed;
            for (const std::string& line : r.trace) {
                if (line.rfind("mxCreate", 0) == 0) ++created;
                if (line.rfind("mxDestroyArray", 0) == 0) destroyed.push_back(line);
            }
            EXPECT_GT(created, 5);
            EXPECT_EQ(destroyed,
                      (std::vector<std::string>{"mxDestroyArray(#3)", "mxDestroyArray(#4)",
                                                "mxDestroyArray(#" + std::to_string(created) + ")",
                                                "mxDestroyArray(#1)", "mxDestroyArray(#2)"}));
        }
    }
    // The same links fit fold_links_masked, which skips link 2.
    auto links = emu::matrix(3, 2, {1, 2, 1, 1, 2, NaN});
    auto r = fold(kMasked, links, counts({0, 1}, {1, 0}));
    ASSERT_OK(r);
    EXPECT_TRUE(same_matrix(entry(r.outputs[0].get(), 1), 2, 1, {1, 1}));
}

// Random valid inputs against the plain reference, bit for bit (see
// random_inputs.h).
TEST(FoldLinks, MatchesTheReferenceOnRandomInputs) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 400; ++round) {
        const Variant variant = round % 2 ? kMasked : kFull;
        const random_inputs::FoldCase c = random_inputs::fold(rng, variant == kMasked);
        const auto want =
            reference::fold_links(c.links, c.v, c.n, c.counts, c.N, variant == kMasked);
        const auto a = support::arrays_of(c.links, c.v, c.n, c.counts, c.N);
        auto r = fold(variant, a.links, a.counts);
        ASSERT_OK(r);
        ASSERT_EQ(support::against_reference(r, want, c.N), "")
            << name_of(variant) << ", round " << round;
    }
}

} // namespace
