// SPDX-License-Identifier: BSD-3-Clause
// maskdiff file1 file2: compares two text files line by line, tolerating the
// run times and version numbers of a fixed table of line patterns. "-" reads
// standard input. A lone --help or --version prints the usage or the version.
#include "driver.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// Every byte is read and written as it is: on Windows the files and the
// standard streams are switched to binary mode, where text mode would read
// CR LF as LF and Ctrl-Z as the end of a file, and write LF as CR LF.
#if defined(_WIN32)
constexpr int kStdin = 0;
constexpr int kStderr = 2;
void binary_streams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}
int open_file(const char* name) {
    return ::_open(name, _O_RDONLY | _O_BINARY);
}
// The lowest free descriptor above the standard ones, holding what fd does.
int move_up(int fd) {
    int moved = ::_dup(fd);
    if (moved >= 0 && moved <= kStderr) {
        const int higher = move_up(moved);
        ::_close(moved);
        moved = higher;
    }
    return moved;
}
#else
constexpr int kStdin = STDIN_FILENO;
constexpr int kStderr = STDERR_FILENO;
void binary_streams() {}
int open_file(const char* name) {
    return ::open(name, O_RDONLY);
}
int move_up(int fd) {
    return ::fcntl(fd, F_DUPFD, kStderr + 1);
}
#endif

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
    if (std::strcmp(name, "-") == 0) return kStdin;
    const int fd = open_file(name);
    if (fd < 0 || fd > kStderr) return fd;
    const int moved = move_up(fd);
#if defined(_WIN32)
    ::_close(fd);
#else
    ::close(fd);
#endif
    return moved;
}

const char kUsage[] = "Usage: maskdiff file1 file2\n";

const char kHelp[] =
    "Compares two text files line by line and reports up to five differing\n"
    "pairs of lines; lines that differ only in the run times and version numbers\n"
    "of its table of tolerated lines count as equal. An operand \"-\" is standard\n"
    "input. Writes OK and exits with status 0 when the files agree, exits with\n"
    "status 1 when they differ or a file cannot be read.\n"
    "\n"
    "  --help     print this help and exit (alone only)\n"
    "  --version  print the version and exit (alone only)\n";

// Writes `first` and `second` to standard output: status 0, or 1 (with the
// message) when they cannot be written.
int print(const char* first, const char* second) {
    std::fputs(first, stdout);
    std::fputs(second, stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs(">E maskdiff can't write output\n", stderr);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    binary_streams();
    // Options only as the one argument: with two operands, "--help" and
    // "--version" are file names like any other.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return print(kUsage, kHelp);
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0)
        return print("maskdiff (" MASKDIFF_PACKAGE ") " MASKDIFF_VERSION "\n", "");
    if (argc != 3) {
        std::fputs(kUsage, stderr);
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
