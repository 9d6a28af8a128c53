// Matching of one text line against one pattern of the tolerated-line table.
#pragma once

// Tests the NUL-terminated `line` against the NUL-terminated `pattern` in a
// single left-to-right pass and returns 1 on a match, 0 otherwise. On a match
// `out` holds the line's normalised form, NUL-terminated: starred fields
// replaced by "*", blanks tolerated by the pattern reduced. `out` needs room
// for the line's length plus one byte per item of the pattern plus one.
//
// Pattern items ("%" [ "*" ] char): "%%" a percent sign, "% " any run of
// blanks, "%\n" trailing spaces and the final newline, "%c" one non-blank
// character, "%d" an integer, "%f" a decimal number without exponent, "%s" a
// field up to the next pattern character. Any other item character writes
// "Bad format item %<char>" to standard error and exits the process with
// status 1, as soon as matching reaches it.
int scanline(const char* line, const char* pattern, char* out);
