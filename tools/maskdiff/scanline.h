// SPDX-License-Identifier: BSD-3-Clause
// Matching of one text line against one pattern of the tolerated-line table.
#ifndef MASKDIFF_SCANLINE_H
#define MASKDIFF_SCANLINE_H

namespace maskdiff {

// scanline's result when matching reached an item character it does not know.
inline constexpr int kScanBadItem = -1;

// Tests the NUL-terminated `line` against the NUL-terminated `pattern` in a
// single left-to-right pass. Returns 1 on a match, with the line's normalised
// form in `out`, NUL-terminated: starred fields replaced by "*", blanks
// tolerated by the pattern reduced. Returns 0 when the line does not fit.
// `out` needs room for the line's length plus one byte per item of the
// pattern plus one.
//
// Pattern items ("%" [ "*" ] char): "%%" a percent sign, "% " any run of
// blanks, "%\n" trailing spaces and the final newline, "%c" one non-blank
// character, "%d" an integer, "%f" a decimal number without exponent, "%s" a
// field up to the next pattern character. Any other item character (a second
// "*", or the end of the pattern inside an item, too) makes the result
// kScanBadItem as soon as matching reaches it; out[0] then holds that
// character. Nothing is written anywhere but `out`.
int scanline(const char* line, const char* pattern, char* out);

} // namespace maskdiff

#endif
