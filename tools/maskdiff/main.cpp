// SPDX-License-Identifier: BSD-3-Clause
// maskdiff file1 file2: compares two text files line by line, tolerating the
// run times and version numbers of a fixed table of line patterns. "-" reads
// standard input.
#include "driver.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Opens an operand for reading: "-" (exactly) is standard input. Returns -1 on
// failure.
//
// A named file never takes one of the standard descriptors: when the caller
// started the program with one of them closed, the file would otherwise be
// read as standard input (or written to as output), and a file compared
// with a closed "-" would be compared with itself. Such a file is moved
// above them, so a closed standard input stays closed and reading "-" fails
// as a read error of that operand.
int open_operand(const char* name) {
    if (std::strcmp(name, "-") == 0) return STDIN_FILENO;
    const int fd = ::open(name, O_RDONLY);
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = ::fcntl(fd, F_DUPFD, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("Usage: maskdiff file1 file2\n", stderr);
        return 1;
    }
    const int fd1 = open_operand(argv[1]);
    if (fd1 < 0) {
        std::fputs(">E maskdiff can't open file 1\n", stderr);
        return 1;
    }
    const int fd2 = open_operand(argv[2]);
    if (fd2 < 0) {
        std::fputs(">E maskdiff can't open file 2\n", stderr);
        return 1;
    }
    // Inputs are left open; the process ends right after.
    return maskdiff::compare(maskdiff::fd_input(fd1), maskdiff::fd_input(fd2), stdout);
}
