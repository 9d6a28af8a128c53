// SPDX-License-Identifier: BSD-3-Clause
// GoogleTest helpers for tests that call the real plug-in files through the
// emulated host.
#ifndef GTEST_SUPPORT_H
#define GTEST_SUPPORT_H

#include "support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testing_support {

using support::entry;
using support::plugin;
using support::raw;

inline std::string joined(const std::vector<std::string>& lines) {
    std::string t;
    for (const auto& l : lines)
        t += "\n  " + l;
    return t;
}
// The host's checks found nothing: no leak, no changed input, no misuse.
#define EXPECT_CLEAN(result)                                                                       \
    EXPECT_TRUE((result).clean()) << testing_support::joined((result).violations)

// The call succeeded and passed the host's checks.
#define ASSERT_OK(result)                                                                          \
    do {                                                                                           \
        ASSERT_TRUE((result).clean()) << testing_support::joined((result).violations);             \
        ASSERT_FALSE((result).failed)                                                              \
            << "error " << (result).error_id << ": " << (result).error_message;                    \
    } while (0)

// The call ended through the host's error call with this identifier and
// message, and passed the host's checks.
#define EXPECT_HOST_ERROR(result, id, message)                                                     \
    do {                                                                                           \
        EXPECT_CLEAN(result);                                                                      \
        EXPECT_TRUE((result).failed);                                                              \
        EXPECT_EQ((result).error_id, id);                                                          \
        EXPECT_EQ((result).error_message, message);                                                \
    } while (0)

// Bitwise equality of a result matrix with expected values: class, sizes
// and every bit (-0 and +0 differ).
inline ::testing::AssertionResult same_matrix(const mxArray* actual, int rows, int cols,
                                              const std::vector<double>& expected) {
    const std::string why = support::difference(actual, rows, cols, expected);
    if (why.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << why;
}

} // namespace testing_support

#endif
