// SPDX-License-Identifier: BSD-3-Clause
// Line-by-line comparison of two inputs with a table of tolerated patterns.
#ifndef MASKDIFF_DRIVER_H
#define MASKDIFF_DRIVER_H

#include <cstddef>
#include <cstdio>

namespace maskdiff {

// One input of the comparison: an open file descriptor (read with read(2)),
// or, when `fd` is negative, `size` bytes already in memory.
struct Input {
    int fd;
    const char* data;
    std::size_t size;
};

inline Input fd_input(int fd) {
    return {fd, nullptr, 0};
}
inline Input memory_input(const char* data, std::size_t size) {
    return {-1, data, size};
}

// The number of patterns in `special`, tried in table order.
inline constexpr int kSpecialCount = 15;
extern const char* const special[kSpecialCount];

// Compares the two inputs line by line and writes the report ("OK", up to five
// differing pairs, "File N is longer") to `report`, trying the `count`
// patterns of `patterns` (up to 100 items each) in order on every pair of
// lines that are not identical. Returns the exit status: 0 when the inputs
// agree, 1 when they differ. It is 1 as well, with a message on standard
// error, when an input cannot be read (">E maskdiff can't read file N"), when
// matching reaches a bad item in a pattern ("Bad format item %" and the item
// character), and when the report cannot be written or flushed (">E maskdiff
// can't write output"). When both inputs are the same file descriptor, the
// two line reads alternate on that one stream.
//
// Allocates nothing; not reentrant, since its buffers are static.
int compare(const Input& in1, const Input& in2, std::FILE* report,
            const char* const* patterns = special, int count = kSpecialCount);

} // namespace maskdiff

#endif
