// SPDX-License-Identifier: BSD-3-Clause
// What tests, benchmarks and fuzz targets share: the plug-in loader and the
// bitwise comparison of a result with expected values.
#ifndef TEST_SUPPORT_H
#define TEST_SUPPORT_H

#include "emulated_host.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace support {

// The plug-in build/mex/<name>.mexa64, loaded once per program.
inline const emu::Plugin& plugin(const std::string& name) {
    static std::map<std::string, std::unique_ptr<emu::Plugin>> loaded;
    auto& p = loaded[name];
    if (!p) p = std::make_unique<emu::Plugin>(emu::plugin_path(name));
    return *p;
}

// True when two doubles have the same bits, -0 and +0 differing, or are
// both NaN. A NaN's sign and payload are not compared: when an addition
// meets two NaNs, IEEE 754 lets it pass on either, and compilers swap the
// operands of a commutative operation, so the reference loops and the
// kernels' vector code may pass on different ones.
inline bool same_bits(double a, double b) {
    if (a != a && b != b) return true;
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

// Column-major values of a rows x cols matrix.
struct Values {
    int rows = 0;
    int cols = 0;
    std::vector<double> v;
};

// Why the values differ, or "" when they agree: the sizes, then every bit.
inline std::string difference(const Values& got, const Values& want) {
    if (want.v.size() != size_t(want.rows) * size_t(want.cols))
        return "the expected values hold " + std::to_string(want.v.size()) + " elements, not " +
               std::to_string(want.rows) + " x " + std::to_string(want.cols);
    if (got.rows != want.rows || got.cols != want.cols)
        return "size " + std::to_string(got.rows) + "x" + std::to_string(got.cols) + ", expected " +
               std::to_string(want.rows) + "x" + std::to_string(want.cols);
    for (size_t i = 0; i < want.v.size(); ++i)
        if (!same_bits(got.v[i], want.v[i]))
            return "element " + std::to_string(i) + " (row " +
                   std::to_string(i % size_t(want.rows)) + ", column " +
                   std::to_string(i / size_t(want.rows)) + ") is " + std::to_string(got.v[i]) +
                   ", expected " + std::to_string(want.v[i]);
    return "";
}

// Why a result array differs from the expected matrix, or "" when it is a
// real two-dimensional double matrix of that size with those bits.
inline std::string difference(const mxArray* got, const Values& want) {
    if (!got) return "no array";
    if (emu::class_of(got) != mxDOUBLE_CLASS) return "not a double matrix: " + emu::describe(got);
    const std::vector<int> dims = emu::dims_of(got);
    if (dims.size() != 2) return std::to_string(dims.size()) + " dimensions";
    const emu::Matrix m = emu::read(got);
    const std::string d = difference(Values{m.rows, m.cols, m.values}, want);
    return d.empty() ? d : d + "; got " + emu::describe(got);
}

inline std::string difference(const mxArray* got, int rows, int cols,
                              const std::vector<double>& want) {
    return difference(got, Values{rows, cols, want});
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

} // namespace support

#endif
