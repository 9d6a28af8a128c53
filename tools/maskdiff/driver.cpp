// SPDX-License-Identifier: BSD-3-Clause
#include "driver.h"

#include "scanline.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unistd.h>

namespace maskdiff {

// The tolerated lines: versions and times are free (starred), counts must
// agree (plain).
const char* const special[kSpecialCount] = {
    "Vantarn version %*f (%*d bits).\n",
    "cpu time = %*f seconds\n",
    "canupdates=%d; cpu time = %*f seconds\n",
    "Mode=%s m=%*d n=%d labelorg=%d edges=%d options=(%s))\n",
    "group time: %*f, %*f, %*f, group order time: %*f;%\n",
    ">Z %d graphs generated in %*f sec\n",
    ">Z %d graphs labelled from %s to %s in %*f sec.\n",
    "%d graphs altogether; cpu=%*f sec\n",
    // One entry, split for the line length.
    ("group time: %*f,%*f,%*f, order:%*f total:%*f (Schreier fails: %d); exp_paths "
     "time:%*f; aut_check time:%*f\n"),
    "%d cell; code = %d; cpu time = %*f seconds\n",
    "%d cells; code = %d; cpu time = %*f seconds\n",
    ">Z %d graphs read from stdin; %d coloured graphs written to stdout; %*f sec\n",
    ">Z %d graphs read from stdin; %d written to stdout; %*f sec\n",
    "%d graphs altogether from %d read; cpu=%*f sec\n",
    ">A %*s %s\n",
};

namespace {

// One line read stores at most this many characters; a longer line arrives in
// pieces, each of which counts as a line.
constexpr std::size_t kMaxRead = 99999;

// Per-input read buffer. It must hold an unfinished piece (< kMaxRead bytes)
// and still leave room for a large read after it.
constexpr std::size_t kReadBufferSize = 1 << 18;
static_assert(kReadBufferSize >= 2 * kMaxRead, "read buffer too small");

// A line as read: its bytes, newline included when it has one; not
// NUL-terminated, and it may hold NUL bytes.
struct LineView {
    const char* data;
    std::size_t size;
};

// The work space of the pattern look-up: the two lines as NUL-terminated
// strings, as scanline takes them, and their normalised forms (a line plus
// one byte per pattern item, at most 8 in the table and up to 100 fit, plus
// the terminator).
struct LookupSpace {
    char line1[kMaxRead + 2];
    char line2[kMaxRead + 2];
    char line1mod[100100];
    char line2mod[100100];
};
LookupSpace lookup_work;

// File 1's line when both inputs share one stream: it must outlive the read of
// file 2's line, which may refill the buffer it was read into.
char held_line[kMaxRead];

char read_buffer1[kReadBufferSize];
char read_buffer2[kReadBufferSize];

// Splits an input into line reads. A file descriptor is read in large blocks
// into its buffer; an input in memory is split where it lies.
struct Reader {
    int fd;
    char* buffer;     // null for an input in memory
    const char* data; // the bytes at hand: buffer or the memory input
    std::size_t pos;  // start of the next line within data
    std::size_t end;  // end of the bytes at hand
    std::size_t seen; // bytes after pos already known to hold no newline
    bool at_eof;
    bool failed;

    Reader(const Input& in, char* buf)
        : fd(in.fd), buffer(in.fd >= 0 ? buf : nullptr), data(in.fd >= 0 ? buf : in.data), pos(0),
          end(in.fd >= 0 ? 0 : in.size), seen(0), at_eof(in.fd < 0), failed(false) {}

    // Moves the unread bytes to the front of the buffer and reads once more.
    void refill() {
        const std::size_t left = end - pos;
        if (pos > 0) {
            std::memmove(buffer, buffer + pos, left);
            pos = 0;
            end = left;
        }
        ssize_t n;
        do {
            n = ::read(fd, buffer + end, kReadBufferSize - end);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            failed = true;
        else if (n == 0)
            at_eof = true;
        else
            end += static_cast<std::size_t>(n);
    }

    // Delivers the next line read as *line (valid until the next call):
    // returns 1 for a line, 0 at the end of the input, -1 when it cannot be read.
    int next(LineView* line) {
        std::size_t n;
        for (;;) {
            const std::size_t avail = end - pos;
            const std::size_t limit = avail < kMaxRead ? avail : kMaxRead;
            if (seen < limit) {
                const void* nl = std::memchr(data + pos + seen, '\n', limit - seen);
                if (nl != nullptr) {
                    n = static_cast<std::size_t>(static_cast<const char*>(nl) - (data + pos)) + 1;
                    break;
                }
                seen = limit;
            }
            if (avail >= kMaxRead) {
                n = kMaxRead;
                break;
            }
            if (failed) return -1;
            if (at_eof) {
                if (avail == 0) return 0;
                n = avail; // the last line, without its newline
                break;
            }
            refill();
        }
        *line = {data + pos, n};
        pos += n;
        seen = 0;
        return 1;
    }
};

// Counts the newlines in p[0, n) eight bytes at a time.
std::size_t count_newlines(const char* p, std::size_t n) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t low7 = 0x7f7f7f7f7f7f7f7fu;
    constexpr std::uint64_t newlines = ones * '\n';
    constexpr std::uint64_t even_bytes = 0x00ff00ff00ff00ffu;
    std::size_t count = 0;
    std::size_t i = 0;
    while (n - i >= 8) {
        // Byte lanes count up to 255 words before they are summed.
        std::size_t words = (n - i) / 8;
        if (words > 255) words = 255;
        std::uint64_t lanes = 0;
        for (const std::size_t stop = i + 8 * words; i < stop; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, p + i, 8);
            w ^= newlines;
            // High bit of a byte set exactly when that byte of w is zero.
            lanes += ~(((w & low7) + low7) | w | low7) >> 7;
        }
        const std::uint64_t pairs = (lanes & even_bytes) + ((lanes >> 8) & even_bytes);
        count += static_cast<std::size_t>((pairs * 0x0001000100010001u) >> 48);
    }
    for (; i < n; ++i)
        count += p[i] == '\n';
    return count;
}

// The length of the common prefix of a[0, n) and b[0, n).
std::size_t common_prefix(const char* a, const char* b, std::size_t n) {
    if (std::memcmp(a, b, n) == 0) return n;
    std::size_t i = 0;
    for (; n - i >= 8; i += 8) {
        if (std::memcmp(a + i, b + i, 8) != 0) break;
    }
    while (a[i] == b[i])
        ++i;
    return i;
}

// Takes every identical pair of lines at hand in both buffers in one sweep,
// without splitting them into lines: it compares in blocks and only counts
// the newlines. It stops at the first difference, at the end of the shorter
// data at hand, and before any block without a newline, where a line might
// exceed one read and has to go through the line-by-line path. While each
// block holds a newline, no line spans more than two blocks, so each line is
// one read and the lines equal the newlines. Both readers must stand at the
// start of a read.
long long skip_identical(Reader& r1, Reader& r2) {
    constexpr std::size_t block = 1 << 15;
    static_assert(2 * block <= kMaxRead, "a line of two blocks must fit one read");
    const char* a = r1.data + r1.pos;
    const char* b = r2.data + r2.pos;
    const std::size_t avail1 = r1.end - r1.pos;
    const std::size_t avail2 = r2.end - r2.pos;
    const std::size_t region = avail1 < avail2 ? avail1 : avail2;

    long long lines = 0;
    std::size_t done = 0; // bytes swept, all identical
    while (done < region) {
        const std::size_t len = region - done < block ? region - done : block;
        const std::size_t same = common_prefix(a + done, b + done, len);
        const std::size_t count = count_newlines(a + done, same);
        if (count == 0) break;
        lines += static_cast<long long>(count);
        done += same;
        if (same < len) break;
    }
    if (lines == 0) return 0;
    // Back up to just after the last newline swept.
    while (a[done - 1] != '\n')
        --done;
    r1.pos += done;
    r2.pos += done;
    return lines;
}

// What the pattern look-up found for a pair of lines.
enum class Lookup { differ, tolerated, bad_item };

// Whether some entry of `patterns` fits both lines with identical normalised
// forms; file 2's line is tried on an entry only after file 1's line fits it.
// On Lookup::bad_item, *bad holds the item character that matching reached.
Lookup look_up(LineView l1, LineView l2, const char* const* patterns, int count, LookupSpace& work,
               char* bad) {
    // A line holding a NUL byte is not a text line any pattern describes.
    if (std::memchr(l1.data, '\0', l1.size) != nullptr ||
        std::memchr(l2.data, '\0', l2.size) != nullptr)
        return Lookup::differ;
    std::memcpy(work.line1, l1.data, l1.size);
    work.line1[l1.size] = '\0';
    std::memcpy(work.line2, l2.data, l2.size);
    work.line2[l2.size] = '\0';
    for (int i = 0; i < count; ++i) {
        const int fits1 = scanline(work.line1, patterns[i], work.line1mod);
        if (fits1 == kScanBadItem) {
            *bad = work.line1mod[0];
            return Lookup::bad_item;
        }
        if (fits1 == 0) continue;
        // File 1's line fitted the whole pattern, so every item of it is
        // valid and file 2's line cannot reach a bad one.
        const int fits2 = scanline(work.line2, patterns[i], work.line2mod);
        if (fits2 == 1 && std::strcmp(work.line1mod, work.line2mod) == 0) return Lookup::tolerated;
    }
    return Lookup::differ;
}

void write_difference(std::FILE* report, long long line_number, LineView l1, LineView l2) {
    std::fprintf(report, "----Difference on line %lld:\n", line_number);
    std::fwrite(l1.data, 1, l1.size, report);
    std::fwrite(l2.data, 1, l2.size, report);
}

// Flushes the report and returns `status`, or 1 when some of the report could
// not be written: a comparison whose result was lost has not succeeded.
int finish(std::FILE* report, int status) {
    if (std::fflush(report) != 0 || std::ferror(report)) {
        std::fputs(">E maskdiff can't write output\n", stderr);
        return 1;
    }
    return status;
}

// The report so far goes out before the message that ends the comparison.
int read_error(int file, std::FILE* report) {
    finish(report, 1);
    std::fprintf(stderr, ">E maskdiff can't read file %d\n", file);
    return 1;
}

int bad_item(char item, std::FILE* report) {
    finish(report, 1);
    std::fprintf(stderr, "Bad format item %%%c\n", item);
    return 1;
}

} // namespace

int compare(const Input& in1, const Input& in2, std::FILE* report, const char* const* patterns,
            int count) {
    // The same descriptor twice is one stream: both reads take turns on one
    // reader, and file 1's line is copied out before file 2's read may refill.
    const bool shared = in1.fd >= 0 && in1.fd == in2.fd;
    Reader r1(in1, read_buffer1);
    Reader r2_own(in2, read_buffer2);
    Reader& r2 = shared ? r1 : r2_own;

    long long line_number = 0;
    int differences = 0;
    for (;;) {
        if (!shared) line_number += skip_identical(r1, r2);
        LineView l1{}, l2{};
        const int got1 = r1.next(&l1);
        if (got1 < 0) return read_error(1, report);
        if (got1 > 0 && shared) {
            std::memcpy(held_line, l1.data, l1.size);
            l1.data = held_line;
        }
        const int got2 = r2.next(&l2);
        if (got2 < 0) return read_error(2, report);

        if (got1 == 0 || got2 == 0) {
            if (got1 > 0 || got2 > 0) {
                ++differences;
                std::fputs(got1 > 0 ? "File 1 is longer\n" : "File 2 is longer\n", report);
            }
            break;
        }

        ++line_number;
        if (l1.size == l2.size && std::memcmp(l1.data, l2.data, l1.size) == 0) continue;
        char item;
        const Lookup found = look_up(l1, l2, patterns, count, lookup_work, &item);
        if (found == Lookup::tolerated) continue;
        if (found == Lookup::bad_item) return bad_item(item, report);

        if (differences == 5) {
            std::fputs("----And more differences not reported.\n", report);
            break;
        }
        write_difference(report, line_number, l1, l2);
        ++differences;
    }

    if (differences == 0) std::fputs("OK\n", report);
    return finish(report, differences == 0 ? 0 : 1);
}

} // namespace maskdiff
