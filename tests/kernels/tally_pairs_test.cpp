// SPDX-License-Identifier: BSD-3-Clause
// tally_pairs_full and tally_pairs_masked through the emulated host, loading
// build/mex/tally_pairs_full.mexa64 and build/mex/tally_pairs_masked.mexa64.
// Every call also passes the host's checks: no leak, no input changed, no
// write outside an array.
#include "gtest_support.h"
#include "host_inputs.h"
#include "random_inputs.h"
#include "tally_pairs_ref.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <string>

namespace {

using emu::ArrayPtr;
using reference::TallyInput;
using testing_support::same_matrix;
using Records = std::vector<std::vector<double>>;

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();
const char* const kMisspecified = "Misspecification: R[k1,k2] > r\n";

enum Variant { kFull, kMasked };

const char* name_of(Variant variant) {
    return variant == kFull ? "tally_pairs_full" : "tally_pairs_masked";
}

TallyInput make(int K, int G, std::vector<double> W, int n, Records records, std::vector<double> R,
                double r, std::vector<double> F = {}, double F_switch = 1) {
    if (F.empty()) F.assign(size_t(2 * G), 1.0);
    return TallyInput{K, G, W, n, records, R, r, F, F_switch};
}

// The worked example: W = [2 3], entry 1 holds a value record naming entry 2,
// entry 2 a NaN record naming entry 1; one class.
TallyInput worked(double F_switch = 1) {
    return make(1, 2, {2, 3}, 3, {{2, 5, 7}, {1, NaN, 0}}, {1}, 1, {5, 6, 7, 8}, F_switch);
}

// W = [2; 3] and one value record of value 1 naming its own entry: the pair
// products are (0,0) 4, (0,1) 6, (1,0) 6, (1,1) 9. R is column-major.
TallyInput four_pairs(std::vector<double> R, double r, Records records = {{1, 1}}) {
    return make(2, 1, {2, 3}, 2, records, R, r);
}

// The host arrays of one call; a test may replace any of them.
using Inputs = support::TallyArrays;
using support::arrays_of;
using support::list_of;

emu::CallResult call(Variant variant, const Inputs& a, bool trace = false, int nlhs = 1) {
    return testing_support::plugin(name_of(variant))
        .call(nlhs, a.args(variant == kFull), -1, trace);
}

emu::CallResult call(Variant variant, const TallyInput& in, bool trace = false) {
    return call(variant, arrays_of(in), trace);
}

reference::TallyResult reference_of(Variant variant, const TallyInput& in) {
    return reference::tally_pairs(in, variant == kFull);
}

bool creates(const emu::CallResult& r) {
    return std::any_of(r.trace.begin(), r.trace.end(),
                       [](const std::string& l) { return l.rfind("mxCreate", 0) == 0; });
}

TEST(TallyPairs, WorkedExample) {
    const struct {
        Variant variant;
        double F_switch;
        int nlhs;
        std::vector<double> tally;
    } cases[] = {
        {kFull, 1, 1, {30, 42, -240}},  {kFull, 0, 1, {30, 42, -6}},
        {kFull, -0.0, 1, {30, 42, -6}}, {kFull, NaN, 1, {30, 42, -240}},
        {kFull, -3, 1, {30, 42, -240}}, {kMasked, 1, 1, {30, 42}},
        {kFull, 1, 0, {30, 42, -240}},  {kMasked, 1, 0, {30, 42}}, // no output requested
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(name_of(c.variant)) + ", F_switch " + std::to_string(c.F_switch) +
                     ", nlhs " + std::to_string(c.nlhs));
        auto r = call(c.variant, arrays_of(worked(c.F_switch)), false, c.nlhs);
        ASSERT_OK(r);
        ASSERT_EQ(r.outputs.size(), 1u);
        EXPECT_TRUE(same_matrix(r.outputs[0].get(), int(c.tally.size()), 1, c.tally));
    }
}

// r and F_switch may be of any real numeric or logical class: the worked
// example's F_switch as false or int32(0) selects plain terms, and r as
// false counts no classes, so its class number 1 is misspecified.
TEST(TallyPairs, ScalarsOfOtherNumericClasses) {
    Inputs a = arrays_of(worked());
    for (mxClassID cls : {mxLOGICAL_CLASS, mxINT32_CLASS}) {
        a.F_switch = emu::numeric(cls, 1, 1);
        auto r = call(kFull, a);
        ASSERT_OK(r);
        EXPECT_TRUE(same_matrix(r.outputs[0].get(), 3, 1, {30, 42, -6}));
    }
    a.r = emu::logical(1, 1);
    EXPECT_HOST_ERROR(call(kMasked, a), "", kMisspecified);
}

TEST(TallyPairs, ClassNumbersSelectColumns) {
    const struct {
        std::vector<double> R; // (0,0), (1,0), (0,1), (1,1)
        double r;
        std::vector<double> row; // the value row of the tally, one per class
    } cases[] = {
        {{1, 2, 2, 1}, 2, {13, 12}},       // (0,1), (1,0) are separate; a class adds up
        {{0.5, 1.7, 2, 0}, 2.9, {10, 6}},  // fractions; r = 2.9 counts as 2
        {{1e-300, 5e-324, 0, 0}, 1, {10}}, // c - 1 rounds to -1: still column 0
        {{0, -1, NaN, 1}, 1, {9}},         // zero, negative, NaN never contribute
        {{0, -1, NaN, -0.0}, 0, {}},       // ... nor are they compared with r
        {{-5, -0.0, 0, NaN}, -0.5, {}},    // r = -0.5 counts as 0
        {{3, 0, 0, 0}, 3, {0, 0, 4}},      // classes no pair reaches stay zero
        {{1, 0, 0, 2}, 5, {4, 9, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("R " + ::testing::PrintToString(c.R) + ", r " + std::to_string(c.r));
        auto m = call(kMasked, four_pairs(c.R, c.r));
        ASSERT_OK(m);
        EXPECT_TRUE(same_matrix(m.outputs[0].get(), 1, int(c.row.size()), c.row));
        std::vector<double> full; // the full tally's last row stays zero
        for (double v : c.row)
            full.insert(full.end(), {v, 0});
        auto f = call(kFull, four_pairs(c.R, c.r));
        ASSERT_OK(f);
        EXPECT_TRUE(same_matrix(f.outputs[0].get(), 2, int(c.row.size()), full));
    }
}

TEST(TallyPairs, RecordsAndShapes) {
    const struct {
        const char* what;
        TallyInput in;
        int columns;
        std::vector<double> full, masked;
    } cases[] = {
        // A NaN among later values spreads; an infinite marker makes a value
        // record; row n-1 moves only through NaN records (entry 1 naming
        // itself, entry 3 naming entry 1); entry 2 has no columns.
        {"NaN records, plain",
         make(1, 3, {2, 3, 5}, 4, {{2, 1, NaN, 4, 1, NaN, 0, 0, 3, Inf, 1, -1}, {}, {1, NaN, 9, 9}},
              {1}, 1, {1, 2, 3, 4, 5, 6}, 0),
         1,
         {Inf, NaN, 14, -(2 * 2) - (5 * 2)},
         {Inf, NaN, 14}},
        {"NaN records, factor-weighted",
         make(1, 3, {2, 3, 5}, 4, {{2, 1, NaN, 4, 1, NaN, 0, 0, 3, Inf, 1, -1}, {}, {1, NaN, 9, 9}},
              {1}, 1, {1, 2, 3, 4, 5, 6}, 1),
         1,
         {Inf, NaN, 14, -((2 * 2) * 1) * 2 - ((6 * 5) * 1) * 2},
         {Inf, NaN, 14}},
        {"n = 2",
         make(1, 2, {2, 3}, 2, {{2, 5, 2, NaN}, {1, 7}}, {1}, 1, {5, 6, 7, 8}),
         1,
         {2 * 3 * 5 + 3 * 2 * 7, -((6 * 2) * 7) * 3},
         {2 * 3 * 5 + 3 * 2 * 7}},
        {"records naming their own entry",
         make(1, 2, {2, 3}, 3, {{1, 1, 2}, {2, 10, 20}}, {1}, 1),
         1,
         {4 + 90, 8 + 180, 0},
         {4 + 90, 8 + 180}},
        // Nothing reaches a pair, not even a misspecified one: the tally is zero.
        {"G = 0", make(2, 0, {}, 4, {{}}, {5, 5, 5, 5}, 1), 1, {0, 0, 0, 0}, {0, 0, 0}},
        {"K = 0", make(0, 2, {}, 2, {{1, NaN, 2, 3}, {2, 4}}, {}, 0), 0, {}, {}},
        {"no columns", four_pairs({9, 9, 9, 9}, 1, {{}}), 1, {0, 0}, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int rows = c.in.n;
        auto m = call(kMasked, c.in);
        ASSERT_OK(m);
        EXPECT_TRUE(same_matrix(m.outputs[0].get(), rows - 1, c.columns, c.masked));
        auto f = call(kFull, c.in);
        ASSERT_OK(f);
        EXPECT_TRUE(same_matrix(f.outputs[0].get(), rows, c.columns, c.full));
    }
}

TEST(TallyPairs, ListsShapedOtherwise) {
    // A row of tables is a list of two; an entry never set reads as [], and
    // an entry without columns may have any rows and further dimensions.
    Inputs a = arrays_of(worked());
    std::vector<ArrayPtr> row;
    row.push_back(emu::matrix(3, 1, {2, 5, 7}));
    row.push_back(emu::matrix(3, 1, {1, NaN, 0}));
    a.list = emu::cell(1, 2, std::move(row));
    auto r = call(kFull, a);
    ASSERT_OK(r);
    EXPECT_TRUE(same_matrix(r.outputs[0].get(), 3, 1, {30, 42, -240}));
    for (int variant = 0; variant < 3; ++variant) {
        std::vector<ArrayPtr> entries;
        entries.push_back(emu::matrix(3, 1, {2, 5, 7}));
        entries.push_back(variant == 0   ? nullptr
                          : variant == 1 ? emu::zeros(5, 0)
                                         : emu::nd_double({5, 0, 2}));
        a.list = emu::cell(2, 1, std::move(entries));
        r = call(kFull, a);
        ASSERT_OK(r);
        EXPECT_TRUE(same_matrix(r.outputs[0].get(), 3, 1, {30, 42, 0}));
    }
}

TEST(TallyPairs, Misspecification) {
    const struct {
        Variant variant;
        TallyInput in;
    } cases[] = {
        {kMasked, four_pairs({0, 0, 0, 1}, 0)},
        {kFull, four_pairs({1, 0, 0, 2}, 1)},
        {kMasked, four_pairs({2.5, 0, 0, 0}, 2.9)},
        {kFull, four_pairs({0, 0, 7, 0}, 1, {{1, NaN}})},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(reference_of(c.variant, c.in).misspecified);
        // The tally already stands in plhs[0]: the host finds no leak.
        EXPECT_HOST_ERROR(call(c.variant, c.in), "", kMisspecified);
    }
    // The masked variant never examines the pairs of a NaN record.
    auto r = call(kMasked, four_pairs({0, 0, 7, 0}, 1, {{1, NaN}}));
    ASSERT_OK(r);
    EXPECT_TRUE(same_matrix(r.outputs[0].get(), 1, 1, {0}));
}

// F_switch is read once per contributing pair of a NaN record, after the
// pair's class check, and never otherwise. Pairs run (0,0) (0,1) (1,0) (1,1).
TEST(TallyPairs, FSwitchIsReadPerContributingPairOfNaNRecords) {
    const struct {
        std::vector<double> R;
        std::vector<double> records;
        int reads;
        bool error;
    } cases[] = {
        {{1, 0, 2, -1}, {1, NaN, 1, 5, 1, NaN, 1, 6, 1, NaN}, 6, false},
        {{1, 1, 1, 1}, {1, 5, 1, 6}, 0, false},
        {{0, -1, NaN, 0}, {1, NaN, 1, NaN}, 0, false},
        {{3, 0, 1, 0}, {1, NaN}, 0, true},
        {{1, 0, 3, 0}, {1, NaN}, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.R));
        auto r = call(kFull, four_pairs(c.R, 2, {c.records}), true);
        if (c.error)
            EXPECT_HOST_ERROR(r, "", kMisspecified);
        else
            ASSERT_OK(r);
        EXPECT_EQ(std::count(r.trace.begin(), r.trace.end(), "mxGetScalar(prhs[5])"), c.reads);
    }
}

TEST(TallyPairs, HostCallsInOrder) {
    // The specified calls up to the first entry's dimensions (after the test
    // that r and F_switch are no cell arrays); after the input checks, the
    // tally's creation into the empty slot and the walk of the entries.
    for (Variant variant : {kFull, kMasked}) {
        SCOPED_TRACE(name_of(variant));
        auto r = call(variant, worked(), true);
        ASSERT_OK(r);
        std::vector<std::string> head = {
            "mxIsCell(prhs[1])",        "mxIsCell(prhs[3])",
            "mxIsCell(prhs[5])",        "mxGetPr(prhs[0])",
            "mxGetPr(prhs[2])",         "mxGetScalar(prhs[3])",
            "mxGetPr(prhs[4])",         "mxGetDimensions_700(prhs[0])",
            "mxGetCell_700(prhs[1],0)", "mxGetDimensions_700(prhs[1]{0})"};
        std::vector<std::string> tail = {variant == kFull
                                             ? "mxCreateDoubleMatrix_700(3,1) -> #1 {slots -}"
                                             : "mxCreateDoubleMatrix_700(2,1) -> #1 {slots -}",
                                         "mxGetPr(#1)"};
        for (const char* g : {"0", "1"})
            for (const char* pattern :
                 {"mxGetCell_700(prhs[1],*)", "mxGetDimensions_700(prhs[1]{*})",
                  "mxGetCell_700(prhs[1],*)", "mxGetPr(prhs[1]{*})"}) {
                std::string line = pattern;
                tail.push_back(line.replace(line.find('*'), 1, g));
            }
        if (variant == kFull) {
            tail.push_back("mxGetScalar(prhs[5])");
        } else {
            head.erase(head.begin() + 6);
            head.erase(head.begin() + 2);
        }
        ASSERT_GT(r.trace.size(), head.size() + tail.size());
        EXPECT_EQ(std::vector<std::string>(r.trace.begin(), r.trace.begin() + long(head.size())),
                  head);
        EXPECT_EQ(std::vector<std::string>(r.trace.end() - long(tail.size()), r.trace.end()), tail);
    }
}

TEST(TallyPairs, SpecifiedChecksInTheirOrder) {
    auto bad = emu::char_array("bad input is only looked at later");
    auto cell = emu::list(emu::zeros(2, 0));
    auto x = emu::scalar(0);
    const mxArray *b = bad.get(), *c = cell.get(), *s = x.get();
    const struct {
        Variant variant;
        std::vector<const mxArray*> inputs;
        const char* message;
        int nlhs = 1;
    } cases[] = {
        {kFull, {b, s, s, s, s}, "Incorrect number of input arguments"},
        {kFull, {b, c, s, s, s, s, s}, "Incorrect number of input arguments"},
        {kFull, {}, "Incorrect number of input arguments"},
        {kMasked, {b, c, s}, "Incorrect number of input arguments"},
        {kMasked, {b, c, s, s, s, s}, "Incorrect number of input arguments"},
        {kFull, {b, s, s, s, s, s}, "Second Arg: S_out needs to be a cell array"},
        {kMasked, {b, b, s, s}, "Second Arg: T_out needs to be a cell array"},
        // The tally is the one output: a second would be left unset.
        {kMasked, {b}, "Incorrect number of input arguments", 2},
        {kFull, {b, s, s, s, s, s}, "Incorrect number of output arguments", 2},
        {kMasked, {b, b, s, s}, "Incorrect number of output arguments", 3},
    };
    for (const auto& k : cases) {
        auto r = testing_support::plugin(name_of(k.variant)).call(k.nlhs, k.inputs, -1, true);
        EXPECT_HOST_ERROR(r, "", k.message);
        EXPECT_FALSE(creates(r));
    }
}

TEST(TallyPairs, RejectsInputItWouldMisread) {
    using Change = std::function<void(Inputs&)>;
    auto r_is = [](double v) -> Change { return [v](Inputs& a) { a.r = emu::scalar(v); }; };
    auto two = [](ArrayPtr e1, ArrayPtr e2) {
        std::vector<ArrayPtr> v;
        v.push_back(std::move(e1));
        v.push_back(std::move(e2));
        return emu::cell_column(std::move(v));
    };
    auto second = [&](std::function<ArrayPtr()> e2) -> Change {
        return [=](Inputs& a) { a.list = two(emu::matrix(3, 1, {2, 5, 7}), e2()); };
    };
    auto records = [](Records rec, double r = 1) -> Change {
        return [=](Inputs& a) {
            a.list = list_of(3, rec);
            a.r = emu::scalar(r);
        };
    };
    const std::string r_msg = "Input 4 (r) must be a number of classes from 0 to 2147483647, but "
                              "it is ";
    const std::string rows_msg = ", but every record needs at least 2 (its partner index "
                                 "and its marker)";
    auto partner = [](int entry, int record, const std::string& value) {
        return "Input 2 (S_out): entry " + std::to_string(entry) + ", record " +
               std::to_string(record) + " names partner " + value +
               ", but partner indices must lie from 1 to 2 (the columns of W)";
    };
    const struct {
        Change change;
        const char* reason;
        std::string message;
    } cases[] = {
        // Before the tally exists, in this order:
        {[](Inputs& a) { a.W = emu::char_array("ab"); }, "notDouble",
         "Input 1 (W) must be a real double matrix"},
        {[](Inputs& a) { a.W = emu::complex_matrix(1, 2); }, "notDouble",
         "Input 1 (W) must be a real double matrix"},
        {[](Inputs& a) { a.W = emu::sparse_matrix(1, 2); }, "notDouble",
         "Input 1 (W) must be a real double matrix"},
        {[](Inputs& a) { a.R = emu::numeric(mxINT32_CLASS, 1, 1); }, "notDouble",
         "Input 3 (R) must be a real double matrix"},
        {[](Inputs& a) { a.F = emu::logical(2, 2); }, "notDouble",
         "Input 5 (F) must be a real double matrix"},
        {[](Inputs& a) { a.list = emu::cell(0, 3, {}); }, "noEntries",
         "Input 2 (S_out) has no entries, but its first entry sets the rows of every record"},
        {[](Inputs& a) { a.r = emu::zeros(0, 1); }, "badClassCount", r_msg + "empty"},
        {[](Inputs& a) { a.r = emu::list(emu::scalar(1)); }, "badClassCount",
         r_msg + "a cell array"},
        {[](Inputs& a) { a.F_switch = emu::zeros(1, 0); }, "badSwitch",
         "Input 6 (F_switch) must be a number, but it is empty"},
        {[](Inputs& a) { a.F_switch = emu::cell(1, 1, {}); }, "badSwitch",
         "Input 6 (F_switch) must be a number, but it is a cell array"},
        // Of more elements than one, all but the first would be ignored.
        {[](Inputs& a) { a.r = emu::zeros(1, 2); }, "badClassCount",
         r_msg + "an array of 2 elements"},
        {[](Inputs& a) { a.F_switch = emu::sparse_matrix(2, 1); }, "badSwitch",
         "Input 6 (F_switch) must be a number, but it is an array of 2 elements"},
        // Characters would be read as their codes, complex values without
        // their imaginary parts.
        {[](Inputs& a) { a.r = emu::char_array("3"); }, "badClassCount", r_msg + "of class char"},
        {[](Inputs& a) { a.r = emu::complex_matrix(1, 1); }, "badClassCount", r_msg + "complex"},
        {[](Inputs& a) { a.F_switch = emu::complex_matrix(1, 1); }, "badSwitch",
         "Input 6 (F_switch) must be a number, but it is complex"},
        {[&](Inputs& a) { a.list = two(emu::char_array("abc"), nullptr); }, "notDouble",
         "Input 2 (S_out): entry 1 is not a real double matrix"},
        {r_is(NaN), "badClassCount", r_msg + "NaN"},
        {r_is(Inf), "badClassCount", r_msg + "Inf"},
        {r_is(-1), "badClassCount", r_msg + "-1"},
        {r_is(2147483648.0), "badClassCount", r_msg + "2147483648"},
        {[&](Inputs& a) { a.list = two(emu::scalar(1), emu::scalar(1)); }, "tooFewRows",
         "Input 2 (S_out): entry 1 has 1 row" + rows_msg},
        {[](Inputs& a) { a.list = emu::cell(2, 1, {}); }, "tooFewRows",
         "Input 2 (S_out): entry 1 has 0 rows" + rows_msg},
        {records({{2, 5, 7}}), "tooFewEntries",
         "Input 2 (S_out) has 1 entry, but W has 2 columns: every column of W needs an entry"},
        {[](Inputs& a) { a.W = emu::zeros(46341, 0); }, "tooLarge",
         "Input 1 (W) is 46341 x 0: W and the 46341 x 46341 pairs of R must each hold at most "
         "2147483647 elements"},
        {[](Inputs& a) {
             a.W = emu::nd_double({1, 2, 2});
         },
         "notDouble", "Input 1 (W) must be a matrix of two dimensions, but it has 3"},
        {[](Inputs& a) { a.R = emu::zeros(0, 0); }, "tooFewElements",
         "Input 3 (R) has 0 elements, but W has 1 row: R needs 1 x 1"},
        {[](Inputs& a) {
             a.F = emu::column({5, 6, 7});
         },
         "tooFewElements", "Input 5 (F) has 3 elements, but W has 2 columns: F needs 2 x 2"},
        {[](Inputs& a) { a.F = emu::scalar(5); }, "tooFewElements",
         "Input 5 (F) has 1 element, but W has 2 columns: F needs 2 x 2"},
        {second([] { return emu::numeric(mxINT8_CLASS, 3, 1); }), "notDouble",
         "Input 2 (S_out): entry 2 is not a real double matrix"},
        {second([] {
             return emu::nd_double({3, 1, 2});
         }),
         "notDouble",
         "Input 2 (S_out): entry 2 has 3 dimensions, but an entry with records must be a matrix "
         "of two"},
        {second([] { return emu::zeros(4, 1); }), "rowCount",
         "Input 2 (S_out): entry 2 has 4 rows, but entry 1 sets n = 3 for every entry"},
        {second([] { return emu::zeros(1, 1); }), "rowCount",
         "Input 2 (S_out): entry 2 has 1 row, but entry 1 sets n = 3 for every entry"},
        {r_is(1073741824), "tooLarge",
         "The tally of 3 x 1073741824 elements would exceed 2147483647 elements"},
        // Partner indices, as each record is reached (the tally exists):
        {records({{0, 5, 7}, {1, NaN, 0}}), "badPartner", partner(1, 1, "0")},
        {records({{2, 5, 7, 0.999, 1, 1}, {1, 2, 3}}), "badPartner", partner(1, 2, "0.999")},
        {records({{2, 5, 7}, {1, 1, 1, 3, 1, 1}}), "badPartner", partner(2, 2, "3")},
        {records({{2, 5, 7}, {NaN, NaN, 0}}), "badPartner", partner(2, 1, "NaN")},
        {records({{-Inf, 5, 7}, {1, 1, 1}}), "badPartner", partner(1, 1, "-Inf")},
        {records({{1e10, 5, 7}, {1, 1, 1}}), "badPartner", partner(1, 1, "10000000000")},
        {records({{-0.5, 5, 7}, {1, 1, 1}}), "badPartner", partner(1, 1, "-0.5")},
        // ... before the record's own pairs, after those of earlier records.
        {records({{5, 5, 7}, {1, 1, 1}}, 0), "badPartner", partner(1, 1, "5")},
        {records({{2, 5, 7}, {9, 1, 1}}, 0), "", kMisspecified},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i + 1));
        Inputs a = arrays_of(worked());
        c.change(a);
        auto r = call(kFull, a, true);
        EXPECT_HOST_ERROR(r, *c.reason ? std::string("tally_pairs_full:") + c.reason : "",
                          c.message);
        EXPECT_EQ(creates(r), c.message.find("names partner") != std::string::npos || !*c.reason);
    }
}

TEST(TallyPairs, MaskedChecksWhatItReads) {
    // The masked variant names its list T_out and never converts the
    // partner index of a NaN record, only those of its value records.
    TallyInput in = worked();
    in.records = {{2, 5, 7, NaN, NaN, 1, 1e300, NaN, 0}, {-Inf, NaN, 1}};
    auto r = call(kMasked, in);
    ASSERT_OK(r);
    EXPECT_TRUE(same_matrix(r.outputs[0].get(), 2, 1, {30, 42}));
    in.records = {{2, 5, 7}, {1, NaN, 1, 0, 1, 1}};
    EXPECT_HOST_ERROR(call(kMasked, in), "tally_pairs_masked:badPartner",
                      "Input 2 (T_out): entry 2, record 2 names partner 0, but partner indices "
                      "must lie from 1 to 2 (the columns of W)");
    in.r = 1073741824; // (n - 1) x r = 2^31
    EXPECT_HOST_ERROR(call(kMasked, in), "tally_pairs_masked:tooLarge",
                      "The tally of 2 x 1073741824 elements would exceed 2147483647 elements");
}

// Each term is formed left to right and added at once in loop order; these
// inputs give another result under a fused multiply-add or another order.
TEST(TallyPairs, ExactlyTheSpecifiedOperations) {
    const double x = 1 + 0x1p-27; // x * x = 1 + 2^-26 + 2^-54 rounds to 1 + 2^-26
    const double big = 0x1p53;    // big + 1 rounds back to big
    const struct {
        const char* what;
        TallyInput in;
        std::vector<double> tally; // the full tally, one column
        std::vector<double> other; // what fusion or another order gives
    } cases[] = {
        // Value row: -1, then (x * x) * x. NaN row: +x, then -(((1 * x) * 1) * x).
        {"fusion",
         make(1, 2, {1, x}, 2, {{1, -1, 2, NaN}, {2, x, 2, NaN}}, {1}, 1, {1, -1, 1, 1}),
         {0x1.8p-26, -0x1p-27},
         {std::fma(x * x, x, -1.0), std::fma(-x, x, x)}},
        {"records in order",
         make(1, 2, {1, 1}, 2, {{1, big, 1, 1}, {2, 1, 2, -big}}, {1}, 1),
         {0, 0},
         {(1 + -big) + (big + 1), 0}},
        // Pairs with k1 outer: (0,0) 2^53, (0,1) 1, (1,0) -2^53, (1,1) -1.
        {"pairs in order",
         make(2, 2, {big, -big, 1, 0x1p-53}, 2, {{2, 1}, {}}, {1, 1, 1, 1}, 1),
         {-1, 0},
         {((big + -big) + 1) + -1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NE(c.other, c.tally) << "the case does not tell the orders apart";
        EXPECT_EQ(reference::tally_pairs_full(c.in).v, c.tally);
        auto r = call(kFull, c.in);
        ASSERT_OK(r);
        EXPECT_TRUE(same_matrix(r.outputs[0].get(), 2, 1, c.tally));
        auto m = call(kMasked, c.in);
        ASSERT_OK(m);
        EXPECT_TRUE(same_matrix(m.outputs[0].get(), 1, 1, {c.tally[0]}));
    }
}

// Random valid inputs against the plain reference, bit for bit (see
// random_inputs.h).
TEST(TallyPairs, MatchesTheReferenceOnRandomInputs) {
    std::mt19937 rng(4242);
    int errors = 0;
    for (int round = 0; round < 400; ++round) {
        const TallyInput in = random_inputs::tally(rng);
        for (Variant variant : {kFull, kMasked}) {
            SCOPED_TRACE(std::string(name_of(variant)) + ", round " + std::to_string(round));
            const auto want = reference_of(variant, in);
            auto r = call(variant, in);
            EXPECT_CLEAN(r);
            EXPECT_EQ(r.error_id, "");
            ASSERT_EQ(support::against_reference(r, want), "");
            errors += want.misspecified;
        }
    }
    EXPECT_GT(errors, 20); // both outcomes are exercised
    EXPECT_LT(errors, 600);
}

// Larger shapes against the reference, bit for bit: records of every row
// count up to 40 (the value rows are summed in blocks of up to 16), and R
// with up to 4,096 contributing pairs and 1,024 classes, which the plug-ins
// walk column by column, as well as more pairs or classes than that, which
// they walk pair by pair.
TEST(TallyPairs, MatchesTheReferenceOnLargerShapes) {
    std::mt19937 rng(977);
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    const struct {
        int K, n;
        double r;
        int top_class; // class numbers run from 1 to this one
    } shapes[] = {
        {3, 2, 3, 3},  {3, 17, 3, 3},      {3, 33, 2, 2},      {5, 40, 4, 4},        {64, 3, 3, 3},
        {65, 3, 3, 3}, {2, 5, 1024, 1024}, {2, 5, 1025, 1025}, {4, 9, 3000.5, 3000},
    };
    for (const auto& shape : shapes) {
        for (int n = 2; n <= shape.n; n += (shape.n > 20 ? 7 : 1)) {
            const int K = shape.K, G = 3;
            TallyInput in = make(K, G, {}, n, {}, {}, shape.r, {}, 1);
            for (int i = 0; i < K * G; ++i)
                in.W.push_back(uniform(-3, 3));
            for (int i = 0; i < K * K; ++i) {
                const unsigned pick = rng() % 8;
                in.R.push_back(K > 60      ? 1 + double(rng() % unsigned(shape.top_class))
                               : pick == 0 ? 0
                               : pick == 1 ? -2
                                           : 1 + double(rng() % unsigned(shape.top_class)));
            }
            if (K <= 60) in.R[0] = shape.top_class; // the highest column is taken
            for (double& f : in.F)
                f = uniform(-2, 2);
            for (int g = 0; g < G; ++g) {
                std::vector<double> e;
                for (int j = 0; j < 3; ++j) {
                    e.push_back(1 + int(rng() % unsigned(G)));
                    e.push_back(j == 1 ? NaN : uniform(-10, 10));
                    for (int i = 2; i < n; ++i)
                        e.push_back(uniform(-10, 10));
                }
                in.records.push_back(e);
            }
            for (Variant variant : {kFull, kMasked}) {
                SCOPED_TRACE(std::string(name_of(variant)) + ", K " + std::to_string(K) + ", n " +
                             std::to_string(n) + ", r " + std::to_string(shape.r));
                const auto want = reference_of(variant, in);
                ASSERT_FALSE(want.misspecified);
                auto r = call(variant, in);
                ASSERT_OK(r);
                ASSERT_TRUE(same_matrix(r.outputs[0].get(), want.rows, want.cols, want.v));
            }
        }
    }
}

} // namespace
