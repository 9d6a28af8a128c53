// SPDX-License-Identifier: BSD-3-Clause
// align_series through the emulated host, loading build/mex/align_series.mexa64.
#include "align_series_ref.h"
#include "gtest_support.h"
#include "host_inputs.h"
#include "random_inputs.h"

#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace {

using emu::ArrayPtr;
using testing_support::entry;
using testing_support::same_matrix;

const double NaN = std::numeric_limits<double>::quiet_NaN();

const emu::Plugin& align() {
    return testing_support::plugin("align_series");
}

emu::CallResult call4(const ArrayPtr& a, const ArrayPtr& b, const ArrayPtr& c, const ArrayPtr& d,
                      bool trace = false) {
    return align().call(4, {a.get(), b.get(), c.get(), d.get()}, -1, trace);
}

// A 2-row statistics table: the keys, and `base` * (column + 1) below them.
ArrayPtr stats(const std::vector<double>& keys, double base) {
    std::vector<double> v;
    for (size_t k = 0; k < keys.size(); ++k) {
        v.push_back(keys[k]);
        v.push_back(base * double(k + 1));
    }
    return emu::matrix(2, int(keys.size()), v);
}

ArrayPtr list1(ArrayPtr e) {
    std::vector<ArrayPtr> v;
    v.push_back(std::move(e));
    return emu::cell_column(std::move(v));
}

ArrayPtr value_list() {
    return list1(emu::matrix(2, 1, {1, 5}));
}

struct MergeCase {
    std::vector<double> keys3, keys4, merged, values3, values4;
};

// The merge and fill rules on one entry: keys of inputs 3 and 4, the merged
// keys, and the value rows of outputs 3 and 4 (input 3's values are 10, 20,
// ...; input 4's 100, 200, ...).
TEST(AlignSeries, MergesKeysAndFillsStatistics) {
    const MergeCase cases[] = {
        {{1, 2}, {1, 2}, {1, 2}, {10, 20}, {100, 200}},
        {{1, 3}, {2}, {1, 2, 3}, {10, 0, 20}, {0, 100, 0}},
        {{1, 1}, {1}, {1}, {10}, {100}},
        {{1}, {1, 1}, {1, 1}, {10, 0}, {100, 200}},
        {{1, 1}, {2}, {1, 1, 2}, {10, 20, 0}, {0, 0, 100}},
        {{1, 3}, {2, NaN}, {1, 2, NaN}, {10, 0, 0}, {0, 100, 0}},
        {{1, 2, 3}, {NaN, 5}, {NaN, 5}, {0, 0}, {0, 0}},
        {{NaN, 2}, {1, 3}, {1, 2, 3}, {0, 0, 0}, {100, 0, 200}},
        {{3, 1}, {2}, {2, 3, 1}, {0, 10, 20}, {100, 0, 0}},
        {{3, 1}, {}, {3, 1}, {10, 20}, {}},
        {{}, {4, 2}, {4, 2}, {}, {100, 200}},
        {{1, NaN}, {}, {1, NaN}, {10, 0}, {}},
        {{-0.0}, {0.0}, {0.0}, {10}, {100}},
        {{0.0}, {-0.0}, {-0.0}, {10}, {100}},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.keys3) + " with " +
                     ::testing::PrintToString(c.keys4));
        auto in1 = emu::cell_column({});
        auto in2 = emu::cell_column({});
        auto in3 = list1(stats(c.keys3, 10));
        auto in4 = list1(stats(c.keys4, 100));
        auto r = call4(in1, in2, in3, in4);
        ASSERT_OK(r);
        const int m = int(c.merged.size());
        std::vector<double> o3, o4;
        for (int w = 0; w < m; ++w) {
            o3.insert(o3.end(),
                      {c.merged[size_t(w)], c.values3.empty() ? 0 : c.values3[size_t(w)]});
            o4.insert(o4.end(),
                      {c.merged[size_t(w)], c.values4.empty() ? 0 : c.values4[size_t(w)]});
        }
        EXPECT_TRUE(same_matrix(entry(r.outputs[0].get(), 0), 1, m, c.merged));
        EXPECT_TRUE(same_matrix(entry(r.outputs[1].get(), 0), 1, m, c.merged));
        EXPECT_TRUE(same_matrix(entry(r.outputs[2].get(), 0), 2, m, o3));
        EXPECT_TRUE(same_matrix(entry(r.outputs[3].get(), 0), 2, m, o4));
    }
}

TEST(AlignSeries, CarriesValueTablesWithNaNForMissingKeys) {
    // Input 1 holds exactly input 3's keys; input 2's first key is not merged,
    // which holds its cursor there for good.
    auto in1 = list1(emu::matrix(3, 2, {1, 11, 12, 3, 31, 32}));
    auto in2 = list1(emu::matrix(3, 2, {7, 71, 72, 2, 21, 22}));
    auto in3 = list1(emu::matrix(2, 2, {1, 0.5, 3, 0.7}));
    auto in4 = list1(emu::matrix(2, 1, {2, 0.9}));
    auto r = call4(in1, in2, in3, in4);
    ASSERT_OK(r);
    EXPECT_TRUE(
        same_matrix(entry(r.outputs[0].get(), 0), 3, 3, {1, 11, 12, 2, NaN, NaN, 3, 31, 32}));
    EXPECT_TRUE(
        same_matrix(entry(r.outputs[1].get(), 0), 3, 3, {1, NaN, NaN, 2, NaN, NaN, 3, NaN, NaN}));
    EXPECT_TRUE(same_matrix(entry(r.outputs[2].get(), 0), 2, 3, {1, 0.5, 2, 0, 3, 0.7}));
    EXPECT_TRUE(same_matrix(entry(r.outputs[3].get(), 0), 2, 3, {1, 0, 2, 0.9, 3, 0}));
}

TEST(AlignSeries, ShapesOfTheOutputs) {
    // Both entries without columns: M = 0.
    {
        auto r =
            call4(value_list(), value_list(), list1(emu::zeros(3, 0)), list1(emu::zeros(3, 0)));
        ASSERT_OK(r);
        EXPECT_TRUE(same_matrix(entry(r.outputs[0].get(), 0), 2, 0, {}));
        EXPECT_TRUE(same_matrix(entry(r.outputs[3].get(), 0), 3, 0, {}));
    }
    // E = 1: outputs 3 and 4 hold the key row alone; the cursor still moves.
    {
        auto r = call4(value_list(), value_list(), list1(emu::row({1, 3})), list1(emu::row({3})));
        ASSERT_OK(r);
        EXPECT_TRUE(same_matrix(entry(r.outputs[2].get(), 0), 1, 2, {1, 3}));
        EXPECT_TRUE(same_matrix(entry(r.outputs[0].get(), 0), 2, 2, {1, 5, 3, NaN}));
    }
    // Input 3 given as one row of tables: N = 1, only its first table used.
    {
        std::vector<ArrayPtr> tables;
        tables.push_back(stats({1}, 10));
        tables.push_back(stats({2, 3}, 10));
        auto in3 = emu::cell(1, 2, std::move(tables));
        auto r = call4(emu::cell_column({}), emu::cell_column({}), in3, list1(stats({}, 1)));
        ASSERT_OK(r);
        ASSERT_EQ(emu::entries(r.outputs[0].get()).size(), 1u);
        EXPECT_TRUE(same_matrix(entry(r.outputs[2].get(), 0), 2, 1, {1, 10}));
    }
}

TEST(AlignSeries, WithoutValueRowsInput2IsNeverRead) {
    // Input 1 empty, or with key rows only: V = 0, input 2 may hold anything.
    for (int variant = 0; variant < 2; ++variant) {
        auto in1 = variant == 0 ? emu::cell_column({}) : list1(emu::row({1, 2}));
        auto in2 = emu::char_array("never read");
        auto r = call4(in1, in2, list1(stats({1, 2}, 10)), list1(stats({2}, 100)), true);
        ASSERT_OK(r);
        EXPECT_TRUE(same_matrix(entry(r.outputs[0].get(), 0), 1, 2, {1, 2}));
        EXPECT_TRUE(same_matrix(entry(r.outputs[1].get(), 0), 1, 2, {1, 2}));
        for (const std::string& line : r.trace)
            EXPECT_EQ(line.find("prhs[1]"), std::string::npos) << line;
    }
}

TEST(AlignSeries, ProcessesEveryEntryOnItsOwn) {
    std::vector<ArrayPtr> e3, e4;
    e3.push_back(stats({1, 2}, 10));
    e3.push_back(stats({5}, 10));
    e4.push_back(stats({2}, 100));
    e4.push_back(stats({4, 6}, 100));
    auto r = call4(emu::cell_column({}), emu::cell_column({}), emu::cell_column(std::move(e3)),
                   emu::cell_column(std::move(e4)));
    ASSERT_OK(r);
    EXPECT_TRUE(same_matrix(entry(r.outputs[2].get(), 0), 2, 2, {1, 10, 2, 20}));
    EXPECT_TRUE(same_matrix(entry(r.outputs[2].get(), 1), 2, 3, {4, 0, 5, 10, 6, 0}));
    EXPECT_TRUE(same_matrix(entry(r.outputs[3].get(), 1), 2, 3, {4, 100, 5, 0, 6, 200}));
}

TEST(AlignSeries, SpecifiedMessagesInTheirOrder) {
    auto ok3 = list1(stats({1}, 1));
    auto empty = emu::cell_column({});
    auto not_a_cell = emu::scalar(3);
    const emu::Plugin& p = align();
    // Wrong numbers of inputs win over wrong numbers of outputs.
    auto r = p.call(2, {empty.get(), empty.get(), ok3.get()});
    EXPECT_HOST_ERROR(r, "", "Incorrect number of input arguments");
    r = p.call(4, {empty.get(), empty.get(), ok3.get(), ok3.get(), ok3.get()});
    EXPECT_HOST_ERROR(r, "", "Incorrect number of input arguments");
    r = p.call(2, {empty.get(), empty.get(), ok3.get(), ok3.get()});
    EXPECT_HOST_ERROR(r, "", "Incorrect number of output arguments");
    // Input 3 empty, or its first table without rows; this is reported even
    // when input 1 is not a list at all.
    r = call4(empty, empty, empty, ok3);
    EXPECT_HOST_ERROR(r, "", "E_Distr statistics must not be empty");
    r = call4(not_a_cell, empty, list1(emu::zeros(0, 2)), ok3);
    EXPECT_HOST_ERROR(r, "", "E_Distr statistics must not be empty");
    r = call4(empty, empty, emu::cell(1, 1, {}), ok3);
    EXPECT_HOST_ERROR(r, "", "E_Distr statistics must not be empty");
}

TEST(AlignSeries, RejectsInputItWouldMisread) {
    auto empty = [] { return emu::cell_column({}); };
    auto two3 = [] {
        std::vector<ArrayPtr> v;
        v.push_back(stats({1}, 1));
        v.push_back(stats({2}, 1));
        return emu::cell_column(std::move(v));
    };
    auto values = [](int n, int rows) {
        std::vector<ArrayPtr> v;
        for (int i = 0; i < n; ++i)
            v.push_back(emu::zeros(rows, 1));
        return emu::cell_column(std::move(v));
    };
    const struct {
        ArrayPtr in1, in2, in3, in4;
        const char* id;
        const char* message;
    } cases[] = {
        {emu::scalar(1), empty(), two3(), two3(), "align_series:notCell",
         "Input 1 must be a cell array of real double matrices"},
        {empty(), empty(), emu::scalar(1), two3(), "align_series:notCell",
         "Input 3 (E_Distr statistics) must be a cell array of real double matrices"},
        {empty(), empty(), two3(), emu::zeros(2, 2), "align_series:notCell",
         "Input 4 must be a cell array of real double matrices"},
        {values(2, 2), emu::zeros(2, 1), two3(), two3(), "align_series:notCell",
         "Input 2 must be a cell array of real double matrices"},
        {empty(), empty(), two3(), list1(stats({1}, 1)), "align_series:tooFewEntries",
         "Input 4 has 1 entry, but input 3 has 2 rows: every list needs an entry for each row "
         "of input 3"},
        {values(1, 2), values(2, 2), two3(), two3(), "align_series:tooFewEntries",
         "Input 1 has 1 entry, but input 3 has 2 rows: every list needs an entry for each row "
         "of input 3"},
        {values(2, 2), values(1, 2), two3(), two3(), "align_series:tooFewEntries",
         "Input 2 has 1 entry, but input 3 has 2 rows: every list needs an entry for each row "
         "of input 3"},
        {empty(), empty(), two3(), emu::cell_column([] {
             std::vector<ArrayPtr> v;
             v.push_back(stats({1}, 1));
             v.push_back(emu::zeros(3, 1));
             return v;
         }()),
         "align_series:rowCount",
         "Input 4: entry 2 has 3 rows, but the first entry of its list sets 2"},
        {values(2, 3), emu::cell_column([] {
             std::vector<ArrayPtr> v;
             v.push_back(emu::zeros(3, 1));
             v.push_back(emu::zeros(1, 4));
             return v;
         }()),
         two3(), two3(), "align_series:rowCount",
         "Input 2: entry 2 has 1 row, but the first entry of its list sets 3"},
        {empty(), empty(), two3(), emu::cell_column([] {
             std::vector<ArrayPtr> v;
             v.push_back(emu::char_array("ab"));
             v.push_back(stats({1}, 1));
             return v;
         }()),
         "align_series:notDouble", "Input 4: entry 1 is not a real double matrix"},
        {empty(), empty(), emu::cell_column([] {
             std::vector<ArrayPtr> v;
             v.push_back(stats({1}, 1));
             v.push_back(emu::complex_matrix(2, 1));
             return v;
         }()),
         two3(), "align_series:notDouble", "Input 3: entry 2 is not a real double matrix"},
        {emu::cell_column([] {
             std::vector<ArrayPtr> v;
             v.push_back(emu::nd_double({2, 1, 2}));
             return v;
         }()),
         empty(), two3(), two3(), "align_series:notDouble",
         "Input 1: entry 1 has 3 dimensions, but an entry with columns must be a matrix of two"},
        {list1(emu::zeros(0, 3)), empty(), two3(), two3(), "align_series:noKeyRow",
         "Input 1: entry 1 has no rows, but its first row must hold the keys"},
    };
    for (const auto& c : cases) {
        auto r = call4(c.in1, c.in2, c.in3, c.in4, true);
        EXPECT_HOST_ERROR(r, c.id, c.message);
        for (const std::string& line : r.trace)
            EXPECT_EQ(line.find("mxCreate"), std::string::npos) << c.id << ": created " << line;
    }
}

TEST(AlignSeries, AcceptsListsShapedOtherwiseAndEntriesWithoutColumns) {
    // Input 4 as a row of two tables still counts two entries; an entry
    // without columns may have any row count; an entry never set reads as [].
    std::vector<ArrayPtr> e4;
    e4.push_back(emu::zeros(0, 0));
    e4.push_back(stats({2}, 100));
    std::vector<ArrayPtr> e3;
    e3.push_back(stats({1}, 10));
    e3.push_back(stats({1}, 10));
    auto r = call4(emu::cell_column({}), emu::cell_column({}), emu::cell_column(std::move(e3)),
                   emu::cell(1, 2, std::move(e4)));
    ASSERT_OK(r);
    EXPECT_TRUE(same_matrix(entry(r.outputs[3].get(), 0), 2, 1, {1, 0}));
    EXPECT_TRUE(same_matrix(entry(r.outputs[3].get(), 1), 2, 2, {1, 0, 2, 100}));

    auto unset = emu::cell(2, 1, {}); // entries never set
    std::vector<ArrayPtr> e3b;
    e3b.push_back(stats({1}, 10));
    e3b.push_back(emu::zeros(0, 0));
    r = call4(emu::cell_column({}), emu::cell_column({}), emu::cell_column(std::move(e3b)), unset);
    ASSERT_OK(r);
    EXPECT_TRUE(same_matrix(entry(r.outputs[2].get(), 0), 2, 1, {1, 10}));
    EXPECT_TRUE(same_matrix(entry(r.outputs[2].get(), 1), 2, 0, {}));
}

TEST(AlignSeries, CreatesOutputsInOrderAndStoresEachAtOnce) {
    auto r = call4(value_list(), value_list(), list1(stats({1}, 10)), list1(stats({2}, 100)), true);
    ASSERT_OK(r);
    std::vector<std::string> creations;
    for (const std::string& line : r.trace)
        if (line.rfind("mxCreate", 0) == 0 || line.rfind("mxSetCell", 0) == 0)
            creations.push_back(line);
    const std::vector<std::string> expected = {
        "mxCreateCellMatrix_700(1,1) -> #1 {slots - - - -}",
        "mxCreateCellMatrix_700(1,1) -> #2 {slots #1 - - -}",
        "mxCreateCellMatrix_700(1,1) -> #3 {slots #1 #2 - -}",
        "mxCreateCellMatrix_700(1,1) -> #4 {slots #1 #2 #3 -}",
        "mxCreateDoubleMatrix_700(2,2) -> #5 {slots #1 #2 #3 #4}",
        "mxSetCell_700(#1,0,#5)",
        "mxCreateDoubleMatrix_700(2,2) -> #6 {slots #1 #2 #3 #4}",
        "mxSetCell_700(#2,0,#6)",
        "mxCreateDoubleMatrix_700(2,2) -> #7 {slots #1 #2 #3 #4}",
        "mxSetCell_700(#3,0,#7)",
        "mxCreateDoubleMatrix_700(2,2) -> #8 {slots #1 #2 #3 #4}",
        "mxSetCell_700(#4,0,#8)",
    };
    EXPECT_EQ(creations, expected);
}

// Random lists against the plain reference (see random_inputs.h).
TEST(AlignSeries, MatchesTheReferenceOnRandomLists) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 200; ++round) {
        const auto [c, want] = random_inputs::align_with_reference(rng);
        using support::list_of;
        auto r = call4(list_of(c.in[0]), list_of(c.in[1]), list_of(c.in[2]), list_of(c.in[3]));
        ASSERT_OK(r);
        ASSERT_EQ(support::against_reference(r, want, c.n), "") << "round " << round;
    }
}

} // namespace
