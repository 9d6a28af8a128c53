// SPDX-License-Identifier: BSD-3-Clause
// The emulated host catches every kind of misbehaviour it promises to, and
// lets a well-behaved call through with its outputs.
#include "gtest_support.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

using testing_support::joined;

emu::CallResult run(int mode, int slots = 2) {
    static emu::Plugin p(std::string(TEST_PLUGIN_DIR) + "/misbehaving" + TEST_PLUGIN_SUFFIX);
    auto mode_in = emu::scalar(mode);
    auto list = emu::list(emu::scalar(1));
    return p.call(1, {mode_in.get(), list.get()}, slots);
}

bool mentions(const emu::CallResult& r, const std::string& text) {
    for (const auto& v : r.violations)
        if (v.find(text) != std::string::npos) return true;
    return false;
}

TEST(EmulatedHost, WellBehavedCallHandsOverItsOutput) {
    auto r = run(0);
    ASSERT_OK(r);
    EXPECT_TRUE(testing_support::same_matrix(r.outputs[0].get(), 2, 2, {0, 0, 0, 7}));
}

TEST(EmulatedHost, EachBrokenRuleIsReported) {
    const struct {
        int mode;
        const char* finding;
    } cases[] = {
        {1, "leak: #2"},
        {2, "input prhs[0] was changed"},
#ifndef MEX_SANITIZE // there the sanitizer itself stops the write (below)
        {3, "write outside the data of #1"},
#endif
        {4, "mxDestroyArray on input prhs[0]"},
        {5, "is held twice"},
        {6, "used after mxDestroyArray"},
        {7, "C++ exception left mexFunction: escaped"},
        {9, "leak: #2"},
        {10, "index outside the 1 entries"},
        {11, "write past the 2 output slots"},
    };
    for (const auto& c : cases) {
        auto r = run(c.mode);
        EXPECT_TRUE(mentions(r, c.finding)) << "mode " << c.mode << " should report '" << c.finding
                                            << "'; got" << joined(r.violations);
        EXPECT_TRUE(r.outputs.empty()) << "mode " << c.mode;
    }
}

#ifdef MEX_SANITIZE
// The guard zones around array data are poisoned for AddressSanitizer, so a
// write past an array stops the process with a report.
TEST(EmulatedHostDeathTest, SanitizerStopsAWritePastAnArray) {
    EXPECT_DEATH(run(3), "AddressSanitizer");
}
#endif

TEST(EmulatedHost, ErrorCallEndsTheCallAndDiscardsOutputs) {
    auto r = run(8);
    EXPECT_HOST_ERROR(r, "test:failed", "failed with 42");
    EXPECT_TRUE(r.outputs.empty());
}

TEST(EmulatedHost, CreationBeyondTheMemoryLimitReportsOutOfMemory) {
    emu::set_memory_limit(16);
    auto r = run(0);
    emu::set_memory_limit(size_t(6) << 30);
    EXPECT_HOST_ERROR(r, "MATLAB:nomem", "Out of memory.");
    // The host frees what the plug-in held when it ran out: no leak to report.
    emu::set_memory_limit(1024);
    r = run(12);
    emu::set_memory_limit(size_t(6) << 30);
    EXPECT_HOST_ERROR(r, "MATLAB:nomem", "Out of memory.");
}

TEST(EmulatedHost, ArraysCompareBitwise) {
    auto a = emu::matrix(1, 2, {0.0, 1.0});
    auto b = emu::matrix(1, 2, {-0.0, 1.0});
    auto c = emu::copy(a.get());
    EXPECT_FALSE(emu::same_array(a.get(), b.get()));
    EXPECT_TRUE(emu::same_array(a.get(), c.get()));
    EXPECT_FALSE(emu::same_array(emu::list(emu::scalar(1)).get(), emu::list(emu::scalar(2)).get()));
}

// mxGetScalar reads the first element of every numeric class as that type
// (two's complement integers, the element's own bits for the float classes).
TEST(EmulatedHost, ScalarOfEveryNumericClass) {
    const struct {
        mxClassID cls;
        size_t size;
        int64_t bits; // the element's bytes: the low `size` ones of this value (little-endian)
        double want;
    } cases[] = {
        {mxLOGICAL_CLASS, 1, 1, 1},
        {mxINT8_CLASS, 1, -1, -1},
        {mxUINT8_CLASS, 1, 255, 255},
        {mxINT16_CLASS, 2, -2, -2},
        {mxUINT16_CLASS, 2, 65534, 65534},
        {mxINT32_CLASS, 4, -3, -3},
        {mxUINT32_CLASS, 4, 4294967293, 4294967293.0},
        {mxINT64_CLASS, 8, -4, -4},
        {mxUINT64_CLASS, 8, -1, 18446744073709551616.0},
        {mxSINGLE_CLASS, 4, 0x3fc00000, 1.5},
        {mxDOUBLE_CLASS, 8, 0x4004000000000000, 2.5},
    };
    for (const auto& c : cases) {
        // Created as a plug-in creates it (its data may then be written
        // through mxGetPr), freed by the harness.
        const emu::ArrayPtr a(mxCreateNumericMatrix_700(1, 1, c.cls, mxREAL));
        std::memcpy(mxGetPr(a.get()), &c.bits, c.size);
        EXPECT_EQ(mxGetScalar(a.get()), c.want) << mxGetClassName(a.get());
    }
    EXPECT_EQ(mxGetScalar(emu::char_array("A").get()), 65);
}

} // namespace
