// Helpers for tests that call the real plug-in files through the emulated host.
#ifndef PLUGIN_TEST_H
#define PLUGIN_TEST_H

#include "emulated_host.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// The plug-in build/mex/<name>.mexa64, loaded once per test program.
inline const emu::Plugin& plugin(const std::string& name) {
    static std::map<std::string, std::unique_ptr<emu::Plugin>> loaded;
    auto& p = loaded[name];
    if (!p) p = std::make_unique<emu::Plugin>(emu::plugin_path(name));
    return *p;
}

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

// Bitwise equality of a result matrix with expected values (any NaN matches
// any NaN; -0 and +0 differ).
inline ::testing::AssertionResult same_matrix(const mxArray* actual, int rows, int cols,
                                              const std::vector<double>& expected) {
    if (!actual) return ::testing::AssertionFailure() << "no array";
    const emu::Matrix m = emu::read(actual);
    if (m.rows != rows || m.cols != cols)
        return ::testing::AssertionFailure()
               << "size " << m.rows << "x" << m.cols << ", expected " << rows << "x" << cols;
    for (size_t i = 0; i < expected.size(); ++i)
        if (!emu::same_double(m.values[i], expected[i]))
            return ::testing::AssertionFailure()
                   << "element " << i << " (row " << i % size_t(rows) << ", column "
                   << i / size_t(rows) << ") is " << m.values[i] << ", expected " << expected[i]
                   << "; got " << emu::describe(actual);
    return ::testing::AssertionSuccess();
}

// Entry i of a cell list result.
inline const mxArray* entry(const mxArray* list, size_t i) {
    return emu::entries(list).at(i);
}

inline std::vector<const mxArray*> raw(const std::vector<emu::ArrayPtr>& arrays) {
    std::vector<const mxArray*> out;
    for (const auto& a : arrays)
        out.push_back(a.get());
    return out;
}

} // namespace testing_support

#endif
