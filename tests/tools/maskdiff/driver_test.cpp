// SPDX-License-Identifier: BSD-3-Clause
// The comparison driver on inputs in memory, in temporary files and on one
// shared stream, checking the report and the exit status byte for byte.
#include "driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <vector>
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

using namespace std::string_literals;

struct Result {
    std::string report;
    int status;
};

// A scratch file, open for writing and reading in binary mode, and its name.
// On Windows the C runtime's tmpfile() creates its files in the root of the
// drive and fails now and then there: the files go to the folder TEMP names.
#if defined(_WIN32)
std::string scratch_name() {
    static int count = 0;
    const char* const folder = std::getenv("TEMP");
    return std::string(folder ? folder : ".") + "\\maskdiff-test-" +
           std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
}
std::FILE* scratch_file() {
    const std::string name = scratch_name();
    std::FILE* f = std::fopen(name.c_str(), "w+bD"); // D: removed once closed
    return f;
}
#else
std::FILE* scratch_file() {
    return std::tmpfile();
}
#endif

// A report stream whose bytes are read back when it closes.
class Report {
  public:
    Report() : file_(scratch_file()) {
        if (!file_) std::abort();
    }
    ~Report() {
        if (file_) std::fclose(file_);
    }
    std::FILE* stream() const { return file_; }
    std::string close() {
        std::string text;
        std::fflush(file_);
        std::rewind(file_);
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file_)) > 0;)
            text.append(chunk, n);
        std::fclose(file_);
        file_ = nullptr;
        return text;
    }

  private:
    std::FILE* file_;
};

// Runs the comparison with the report captured.
Result compare(const maskdiff::Input& in1, const maskdiff::Input& in2) {
    Report report;
    const int status = maskdiff::compare(in1, in2, report.stream());
    return Result{report.close(), status};
}

Result compare_memory(const std::string& a, const std::string& b) {
    return compare(maskdiff::memory_input(a.data(), a.size()),
                   maskdiff::memory_input(b.data(), b.size()));
}

// A temporary file holding `text`, read through its descriptor from the start.
class TempFile {
  public:
    explicit TempFile(const std::string& text) : file_(scratch_file()) {
        if (!file_) std::abort();
        std::fwrite(text.data(), 1, text.size(), file_);
        std::fflush(file_);
        lseek(fileno(file_), 0, SEEK_SET);
    }
    ~TempFile() { std::fclose(file_); }
    int fd() const { return fileno(file_); }

  private:
    std::FILE* file_;
};

Result compare_files(const std::string& a, const std::string& b) {
    TempFile f1(a), f2(b);
    return compare(maskdiff::fd_input(f1.fd()), maskdiff::fd_input(f2.fd()));
}

// Both inputs read from one stream, as with the operands "-" "-".
Result compare_one_stream(const std::string& text) {
    TempFile f(text);
    return compare(maskdiff::fd_input(f.fd()), maskdiff::fd_input(f.fd()));
}

std::string diff_report(int line, const std::string& a, const std::string& b) {
    return "----Difference on line " + std::to_string(line) + ":\n" + a + b;
}

struct PairCase {
    const char* name;
    std::string file1;
    std::string file2;
    std::string report;
    int status;
};

void expect_pairs(const std::vector<PairCase>& cases) {
    for (const PairCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Result mem = compare_memory(c.file1, c.file2);
        EXPECT_EQ(mem.report, c.report);
        EXPECT_EQ(mem.status, c.status);
        const Result fd = compare_files(c.file1, c.file2);
        EXPECT_EQ(fd.report, c.report);
        EXPECT_EQ(fd.status, c.status);
    }
}

// One tolerated pair (only starred fields differ) and one reported pair (a
// plain field or literal text differs) for every entry of the table.
TEST(MaskdiffCompare, EachTableEntryToleratesOnlyItsFreeFields) {
    struct Entry {
        const char* same1;
        const char* same2;
        const char* other;
    };
    const Entry entries[maskdiff::kSpecialCount] = {
        {"Vantarn version 2.8 (64 bits).\n", "Vantarn version 3.01 (32 bits).\n",
         "Vantarn version 2.8 (64 bytes).\n"},
        {"cpu time = 0.12 seconds\n", "cpu time = 7 seconds\n", "cpu time = 0.12 second\n"},
        {"canupdates=3; cpu time = 0.5 seconds\n", "canupdates= 3; cpu time = 12 seconds\n",
         "canupdates=4; cpu time = 0.9 seconds\n"},
        {"Mode=x1 m=1 n=10 labelorg=0 edges=20 options=(abc))\n",
         "Mode=x1 m=7 n=10 labelorg=0 edges=20 options=(abc))\n",
         "Mode=x1 m=1 n=11 labelorg=0 edges=20 options=(abc))\n"},
        {"group time: 0.01, 0.02, 0.03, group order time: 0.00;   \n",
         "group time: 1.01, 2.02, 3.03, group order time: 4.00;\n",
         "group time: 0.01, 0.02, 0.03, group order time: 0.00;\t\n"},
        {">Z 10 graphs generated in 0.01 sec\n", ">Z 10 graphs generated in 2.50 sec\n",
         ">Z 11 graphs generated in 0.01 sec\n"},
        {">Z 10 graphs labelled from a.g6 to b.g6 in 0.01 sec.\n",
         ">Z 10 graphs labelled from a.g6 to b.g6 in 9.99 sec.\n",
         ">Z 10 graphs labelled from a.g6 to c.g6 in 0.01 sec.\n"},
        {"12 graphs altogether; cpu=0.10 sec\n", "12 graphs altogether; cpu=0.20 sec\n",
         "13 graphs altogether; cpu=0.10 sec\n"},
        {"group time: 0.1,0.2,0.3, order:0.4 total:0.5 (Schreier fails: 2); exp_paths "
         "time:0.6; aut_check time:0.7\n",
         "group time: 1.1, 1.2, 1.3, order: 1.4 total:1.5 (Schreier fails: 2); exp_paths "
         "time:1.6; aut_check time:1.7\n",
         "group time: 0.1,0.2,0.3, order:0.4 total:0.5 (Schreier fails: 3); exp_paths "
         "time:0.6; aut_check time:0.7\n"},
        {"1 cell; code = 5; cpu time = 0.1 seconds\n", "1 cell; code = 5; cpu time = 0.2 seconds\n",
         "1 cell; code = 6; cpu time = 0.1 seconds\n"},
        {"3 cells; code = 5; cpu time = 0.1 seconds\n",
         "3 cells; code = 5; cpu time = 0.2 seconds\n",
         "4 cells; code = 5; cpu time = 0.1 seconds\n"},
        {">Z 5 graphs read from stdin; 5 coloured graphs written to stdout; 0.01 sec\n",
         ">Z 5 graphs read from stdin; 5 coloured graphs written to stdout; 0.02 sec\n",
         ">Z 5 graphs read from stdin; 4 coloured graphs written to stdout; 0.01 sec\n"},
        {">Z 5 graphs read from stdin; 4 written to stdout; 0.01 sec\n",
         ">Z 5 graphs read from stdin; 4 written to stdout; 0.02 sec\n",
         ">Z 5 graphs read from stdin; 3 written to stdout; 0.01 sec\n"},
        {"7 graphs altogether from 9 read; cpu=0.5 sec\n",
         "7 graphs altogether from 9 read; cpu=1.5 sec\n",
         "7 graphs altogether from 8 read; cpu=0.5 sec\n"},
        {">A prog1 -x file\n", ">A  /usr/bin/prog2 -x file\n", ">A prog1 -y file\n"},
    };
    for (int i = 0; i < maskdiff::kSpecialCount; ++i) {
        SCOPED_TRACE(testing::Message() << "entry " << i + 1);
        const Entry& e = entries[i];
        const Result same = compare_memory("x\n"s + e.same1, "x\n"s + e.same2);
        EXPECT_EQ(same.report, "OK\n");
        EXPECT_EQ(same.status, 0);
        const Result other = compare_memory("x\n"s + e.same1, "x\n"s + e.other);
        EXPECT_EQ(other.report, diff_report(2, e.same1, e.other));
        EXPECT_EQ(other.status, 1);
    }
}

TEST(MaskdiffCompare, ReportsAndStatuses) {
    const std::string six_diffs = "1\n2\n3\n4\n5\n6\n";
    expect_pairs({
        {"identical", "a\nb\n", "a\nb\n", "OK\n", 0},
        {"both empty", "", "", "OK\n", 0},
        {"blank-run forms differ", "Mode=x1 m=1 n=10 labelorg=0 edges=20 options=(abc))\n",
         "Mode= x1 m=1 n=10 labelorg=0 edges=20 options=(abc))\n",
         diff_report(1, "Mode=x1 m=1 n=10 labelorg=0 edges=20 options=(abc))\n",
                     "Mode= x1 m=1 n=10 labelorg=0 edges=20 options=(abc))\n"),
         1},
        {"file 1 longer", "a\nb\nextra\n", "a\nb\n", "File 1 is longer\n", 1},
        {"file 2 longer", "", "a\n", "File 2 is longer\n", 1},
        {"difference then longer", "a\nb\n", "a\nc\nd\n",
         diff_report(2, "b\n", "c\n") + "File 2 is longer\n", 1},
        {"final lines without newline", "a\nx", "a\ny", diff_report(2, "x", "y"), 1},
        {"final newline missing", "x", "x\n", diff_report(1, "x", "x\n"), 1},
        {"tolerated line without newline", "cpu time = 0.1 seconds", "cpu time = 0.2 seconds",
         diff_report(1, "cpu time = 0.1 seconds", "cpu time = 0.2 seconds"), 1},
        {"five differences", "1\n2\n3\n4\n5\n", "a\nb\nc\nd\ne\nf\n",
         diff_report(1, "1\n", "a\n") + diff_report(2, "2\n", "b\n") +
             diff_report(3, "3\n", "c\n") + diff_report(4, "4\n", "d\n") +
             diff_report(5, "5\n", "e\n") + "File 2 is longer\n",
         1},
        {"six differences", six_diffs, "a\nb\nc\nd\ne\nf\n",
         diff_report(1, "1\n", "a\n") + diff_report(2, "2\n", "b\n") +
             diff_report(3, "3\n", "c\n") + diff_report(4, "4\n", "d\n") +
             diff_report(5, "5\n", "e\n") + "----And more differences not reported.\n",
         1},
        {"six differences and a longer file", six_diffs + "7\n8\n", "a\nb\nc\nd\ne\nf\n",
         diff_report(1, "1\n", "a\n") + diff_report(2, "2\n", "b\n") +
             diff_report(3, "3\n", "c\n") + diff_report(4, "4\n", "d\n") +
             diff_report(5, "5\n", "e\n") + "----And more differences not reported.\n",
         1},
        {"tolerated pairs do not count", "cpu time = 1 seconds\n1\n2\n3\n4\n5\nz\n",
         "cpu time = 2 seconds\na\nb\nc\nd\ne\nz\n",
         diff_report(2, "1\n", "a\n") + diff_report(3, "2\n", "b\n") +
             diff_report(4, "3\n", "c\n") + diff_report(5, "4\n", "d\n") +
             diff_report(6, "5\n", "e\n"),
         1},
    });
}

// Lines are compared and reported as the bytes read, NUL bytes included.
TEST(MaskdiffCompare, NulBytesAreCompared) {
    const std::string a = "x\na\0b\n"s, b = "x\na\0c\n"s;
    expect_pairs({
        {"differ after a NUL", a, b, diff_report(2, "a\0b\n"s, "a\0c\n"s), 1},
        {"same with a NUL", a, a, "OK\n", 0},
        {"NUL against nothing", "\0\n"s, "\n", diff_report(1, "\0\n"s, "\n"), 1},
        // Identical inputs without a newline give the block sweep nothing to
        // take; it must leave them to the line reads untouched.
        {"same, no newline", "\x8a\0\0\0\0\0\0\0\0\0\0\0\0"s, "\x8a\0\0\0\0\0\0\0\0\0\0\0\0"s,
         "OK\n", 0},
        {"same text, no newline", "abc", "abc", "OK\n", 0},
    });
}

TEST(MaskdiffCompare, LongLinesArriveInPieces) {
    const std::string piece(99999, 'a');
    expect_pairs({
        // 99,998 characters and the newline: one read.
        {"fits one read", piece.substr(1) + "\nx\n", piece.substr(1) + "\ny\n",
         diff_report(2, "x\n", "y\n"), 1},
        // 99,999 characters and the newline: the newline is a second piece.
        {"newline alone", piece + "\nx\n", piece + "\ny\n", diff_report(3, "x\n", "y\n"), 1},
        {"second piece differs", piece + "aaa\n", piece + "aab\n", diff_report(2, "aaa\n", "aab\n"),
         1},
        {"first piece differs", "b" + piece + "\n", "c" + piece + "\n",
         diff_report(1, "b" + piece.substr(1), "c" + piece.substr(1)), 1},
        {"piece against short line", piece + "a\n", piece + "\n", diff_report(2, "a\n", "\n"), 1},
        {"pieces line up", piece + piece + "\n", piece + piece + "\n", "OK\n", 0},
    });
}

// Builds text of `lines` lines of varied lengths, some far longer than one
// read and than the blocks compared at once, from a fixed pseudo-random
// sequence.
std::string varied_text(unsigned seed, int lines) {
    // Letters, and bytes that a sloppy newline test could take for one.
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyz\x8a\x0b\x0e\0"s;
    std::string text;
    unsigned x = seed;
    auto next = [&x] {
        x = x * 1103515245u + 12345u;
        return (x >> 16) & 0x7fff;
    };
    for (int i = 0; i < lines; ++i) {
        const unsigned kind = next() % 100;
        std::size_t len;
        if (kind < 2) {
            text.append(next() % 5000, '\n'); // a run of empty lines
            len = 0;
        } else if (kind < 60)
            len = next() % 8;
        else if (kind < 95)
            len = next() % 200;
        else if (kind < 98)
            len = 40000 + next(); // more than a compared block
        else
            len = 99990 + next() * 4; // around and beyond one read
        for (std::size_t k = 0; k < len; ++k)
            text += alphabet[(k + i) % alphabet.size()];
        text += '\n';
    }
    return text;
}

// The reads a text splits into: lines, with longer ones cut into pieces.
std::size_t reads_before(const std::string& text, std::size_t offset) {
    std::size_t reads = 0, start = 0;
    while (start <= offset) {
        const std::size_t nl = text.find('\n', start);
        const std::size_t line_end = nl == std::string::npos ? text.size() : nl + 1;
        const std::size_t end = line_end - start > 99999 ? start + 99999 : line_end;
        if (end > offset) break;
        ++reads;
        start = end;
    }
    return reads;
}

// A single changed byte anywhere in a long varied text is reported on the
// line number that counting the reads one by one gives.
TEST(MaskdiffCompare, LineNumbersCountEveryRead) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const std::string text = varied_text(seed, 3000);
        for (std::size_t offset :
             {std::size_t{0}, text.size() / 3, text.size() / 2 + 7, text.size() - 2}) {
            std::string changed = text;
            changed[offset] = changed[offset] == '\n' ? '#' : '\n';
            const std::size_t line = reads_before(text, offset) + 1;
            SCOPED_TRACE(testing::Message() << "seed " << seed << " offset " << offset);
            const std::string head = "----Difference on line " + std::to_string(line) + ":\n";
            const Result mem = compare_memory(text, changed);
            EXPECT_EQ(mem.report.substr(0, head.size()), head);
            EXPECT_EQ(mem.status, 1);
            const Result fd = compare_files(text, changed);
            EXPECT_EQ(fd.report, mem.report);
            EXPECT_EQ(fd.status, 1);
        }
        const Result same = compare_files(text, text);
        EXPECT_EQ(same.report, "OK\n");
    }
}

// With one stream for both inputs, odd lines are file 1 and even lines file 2.
TEST(MaskdiffCompare, OneStreamAlternates) {
    struct Case {
        std::string input;
        std::string report;
        int status;
    };
    // Pairs of equal long lines, each pair different from the others and of
    // its own length, so that either line of a pair may cross a buffer end.
    std::string many;
    for (int i = 0; i < 25; ++i) {
        const std::string line =
            std::string(20000 + 2777 * i, static_cast<char>('a' + i % 26)) + "\n";
        many += line + line;
    }
    const Case cases[] = {
        {"x\nx\ny\ny\n", "OK\n", 0},
        {"", "OK\n", 0},
        {"x\nx\nz\n", "File 1 is longer\n", 1},
        {"p\nq\n", diff_report(1, "p\n", "q\n"), 1},
        {"cpu time = 1 seconds\ncpu time = 2 seconds\n", "OK\n", 0},
        // Pairs that cross the reader's buffer boundaries.
        {many + "r\ns\n", diff_report(26, "r\n", "s\n"), 1},
        {many + "z\n", "File 1 is longer\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.substr(0, 40));
        const Result r = compare_one_stream(c.input);
        EXPECT_TRUE(r.report == c.report) << "report begins: " << r.report.substr(0, 200);
        EXPECT_EQ(r.status, c.status);
    }
}

// A bad item in a pattern ends the comparison when matching reaches it: the
// report so far is kept, the message goes to standard error, status 1.
TEST(MaskdiffCompare, BadPatternItemEndsTheComparison) {
    const char* const table[] = {"x=%d\n", "y=%q\n"};
    struct Case {
        const char* name;
        std::string file1;
        std::string file2;
        std::string report;
        std::string message;
    };
    const Case cases[] = {
        // "y=" fails on these lines before the bad item is reached.
        {"not reached", "x=1\n", "x=2\n", diff_report(1, "x=1\n", "x=2\n"), ""},
        {"reached", "p\nq\ny=1\nz\n", "p\nr\ny=2\nw\n", diff_report(2, "q\n", "r\n"),
         "Bad format item %q\n"},
        // Lines holding NUL bytes are never matched against a pattern.
        {"NUL line", "y=\0\n"s, "y=1\n", diff_report(1, "y=\0\n"s, "y=1\n"), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStderr();
        Report report;
        const int status = maskdiff::compare(maskdiff::memory_input(c.file1.data(), c.file1.size()),
                                             maskdiff::memory_input(c.file2.data(), c.file2.size()),
                                             report.stream(), table, 2);
        const std::string got = report.close();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
        EXPECT_EQ(got, c.report);
        EXPECT_EQ(status, 1);
    }
}

// A report that cannot be written fails the comparison, whatever it says:
// the agreeing case, a short report, and one large enough to fail while it
// is written rather than when it is flushed at the end.
TEST(MaskdiffCompare, UnwritableReportFails) {
    const std::string long_line = std::string(99998, 'a') + "\n";
    struct Case {
        const char* name;
        std::string file1;
        std::string file2;
    };
    const Case cases[] = {
        {"agree", "a\ncpu time = 1 seconds\n", "a\ncpu time = 2 seconds\n"},
        {"differ", "a\nb\n", "a\nc\n"},
        {"file 2 longer", "", "a\n"},
        {"large report", "x" + long_line + "y" + long_line, "z" + long_line + "w" + long_line},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
#if defined(_WIN32)
        // No device is ever full there: a stream open for reading refuses writes.
        const std::string name = scratch_name();
        std::fclose(std::fopen(name.c_str(), "wb"));
        std::FILE* full = std::fopen(name.c_str(), "rbD"); // D: removed once closed
#else
        std::FILE* full = std::fopen("/dev/full", "w");
#endif
        ASSERT_NE(full, nullptr);
        testing::internal::CaptureStderr();
        const int status =
            maskdiff::compare(maskdiff::memory_input(c.file1.data(), c.file1.size()),
                              maskdiff::memory_input(c.file2.data(), c.file2.size()), full);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), ">E maskdiff can't write output\n");
        EXPECT_EQ(status, 1);
        std::fclose(full);
    }
}

// An input that opens but cannot be read is an error, not an end of file.
TEST(MaskdiffCompare, UnreadableInputIsAnError) {
#if defined(_WIN32)
    // A folder does not open as a file there: a file open for writing only.
    const std::string name = scratch_name();
    const int dir = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_TEMPORARY | _O_BINARY, 0600);
#else
    const int dir = open(".", O_RDONLY);
#endif
    ASSERT_GE(dir, 0);
    const std::string text = "a\n";
    for (int file = 1; file <= 2; ++file) {
        SCOPED_TRACE(file);
        const maskdiff::Input mem = maskdiff::memory_input(text.data(), text.size());
        testing::internal::CaptureStderr();
        const Result r = file == 1 ? compare(maskdiff::fd_input(dir), mem)
                                   : compare(mem, maskdiff::fd_input(dir));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, ">E maskdiff can't read file " + std::to_string(file) + "\n");
        EXPECT_EQ(r.report, "");
        EXPECT_EQ(r.status, 1);
    }
#if defined(_WIN32)
    _close(dir);
#else
    close(dir);
#endif
}

} // namespace
