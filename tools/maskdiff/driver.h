// Line-by-line comparison of two inputs with a table of tolerated patterns.
#pragma once

#include <cstddef>
#include <cstdio>

// One input of the comparison: an open file descriptor (read with read(2)),
// or, when `fd` is negative, `size` bytes already in memory.
struct maskdiff_input {
    int fd;
    const char* data;
    std::size_t size;
};

inline maskdiff_input maskdiff_fd_input(int fd) {
    return {fd, nullptr, 0};
}
inline maskdiff_input maskdiff_memory_input(const char* data, std::size_t size) {
    return {-1, data, size};
}

// The number of patterns in `special`, tried in table order.
constexpr int special_count = 15;
extern const char* const special[special_count];

// Compares the two inputs line by line and writes the report ("OK", up to five
// differing pairs, "File N is longer") to `report`. Returns the exit status:
// 0 when the inputs agree, 1 when they differ or an input cannot be read (the
// message for that goes to standard error). When both inputs are the same file
// descriptor, the two line reads alternate on that one stream.
//
// Not reentrant: the line buffers are static. The process ends only on a bad
// pattern item, which the table does not hold.
int maskdiff_compare(const maskdiff_input& in1, const maskdiff_input& in2, std::FILE* report);
