// SPDX-License-Identifier: BSD-3-Clause
#include "scanline.h"

namespace maskdiff {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

int scanline(const char* line, const char* pattern, char* out) {
    const char* s = line;
    const char* p = pattern;
    char* o = out;

    for (;;) {
        if (*p == '\0') {
            if (*s != '\0') return 0;
            *o = '\0';
            return 1;
        }
        if (*p != '%') {
            // A literal: the same byte must stand in the line.
            if (*s != *p) return 0;
            *o++ = *s++;
            ++p;
            continue;
        }

        ++p;
        const bool starred = *p == '*';
        if (starred) ++p;
        const char item = *p;
        switch (item) {
        case '%':
            if (*s != '%') return 0;
            ++s;
            *o++ = '%';
            break;

        case ' ':
            while (is_blank(*s))
                ++s;
            *o++ = ' ';
            break;

        case '\n':
            while (*s == ' ' || *s == '\n')
                ++s;
            if (*s != '\0') return 0;
            // The last character of the line must be its newline, also when an
            // earlier literal has already consumed it.
            if (s == line || s[-1] != '\n') return 0;
            *o++ = '\n';
            break;

        case 'c':
            if (*s == '\0' || *s == ' ' || *s == '\t' || *s == '\n') return 0;
            *o++ = starred ? '*' : *s;
            ++s;
            break;

        case 'd':
        case 'f': {
            // An optional sign, then digits; a decimal item takes one "."
            // among them too (a lone "." or sign matches).
            const bool decimal = item == 'f';
            while (is_blank(*s))
                ++s;
            if (!is_digit(*s) && !(decimal && *s == '.') && *s != '+' && *s != '-') return 0;
            const char* field = s;
            if (*s == '+' || *s == '-') ++s;
            bool point = !decimal; // no further "." belongs to the field
            while (is_digit(*s) || (*s == '.' && !point)) {
                if (*s == '.') point = true;
                ++s;
            }
            if (starred) {
                *o++ = '*';
            } else {
                while (field < s)
                    *o++ = *field++;
            }
            break;
        }

        case 's': {
            // The field ends before the pattern's next character, which is
            // left for the pattern to match (the end of the pattern when the
            // item is last).
            const char term = p[1];
            bool skipped = false;
            if (term == ' ' && is_blank(*s)) {
                while (is_blank(*s))
                    ++s;
                skipped = true;
            }
            const char* field = s;
            while (*s != '\0' && *s != '\n' && *s != term)
                ++s;
            if (starred) {
                *o++ = '*';
            } else {
                if (skipped) *o++ = ' ';
                while (field < s)
                    *o++ = *field++;
            }
            break;
        }

        default:
            // Also a second "*" and a pattern that ends inside an item.
            out[0] = item;
            return kScanBadItem;
        }
        ++p;
    }
}

} // namespace maskdiff
