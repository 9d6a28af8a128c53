// SPDX-License-Identifier: BSD-3-Clause
// Matching and normalising single lines against patterns.
#include "scanline.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace {

struct Case {
    const char* pattern;
    const char* line;
    const char* form; // the normalised form, or nullptr for no match
};

void expect_cases(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        char out[512];
        const int matched = maskdiff::scanline(c.line, c.pattern, out);
        SCOPED_TRACE(testing::Message()
                     << "pattern \"" << c.pattern << "\" line \"" << c.line << "\"");
        if (c.form == nullptr) {
            EXPECT_EQ(matched, 0);
        } else {
            ASSERT_EQ(matched, 1);
            EXPECT_EQ(std::string(out), c.form);
        }
    }
}

TEST(Scanline, LiteralsMatchByteForByte) {
    expect_cases({
        {"abc\n", "abc\n", "abc\n"},
        {"abc\n", "abd\n", nullptr},
        {"abc\n", "abc", nullptr},    // line ends before the pattern
        {"abc", "abc\n", nullptr},    // line left over
        {"a b\n", "a  b\n", nullptr}, // a literal space is one space
        {"a b\n", "a\tb\n", nullptr},
        {"", "", ""},
        {"", "x", nullptr},
    });
}

TEST(Scanline, PercentAndBlankRunItems) {
    expect_cases({
        {"100%%\n", "100%\n", "100%\n"},
        {"100%*%\n", "100%\n", "100%\n"},
        {"100%%\n", "100\n", nullptr},
        {"a% b", "a \t b", "a b"},
        {"a% b", "ab", "a b"},      // an empty run is accepted
        {"a%* b", "a\t\tb", "a b"}, // starred acts as plain
        {"ab% ", "ab", "ab "},      // items left at the end of the line
        {"ab%*s", "ab", "ab*"},
    });
}

TEST(Scanline, CharItem) {
    expect_cases({
        {"<%c>", "<x>", "<x>"},
        {"<%*c>", "<x>", "<*>"},
        {"<%c>", "< >", nullptr},
        {"<%c>", "<\t>", nullptr},
        {"<%c", "<\n", nullptr},
        {"<%c", "<", nullptr},
        {"<%c", "<%", "<%"},
    });
}

TEST(Scanline, IntegerItem) {
    expect_cases({
        {"n=%d\n", "n=5\n", "n=5\n"},
        {"n=%d\n", "n= 5\n", "n=5\n"}, // skipped blanks are not written
        {"n=%d\n", "n=\t 5\n", "n=5\n"},
        {"n=%d\n", "n=+5\n", "n=+5\n"}, // the sign and digits as they stand
        {"n=%d\n", "n=05\n", "n=05\n"},
        {"n=%d\n", "n=-17\n", "n=-17\n"},
        {"n=%d\n", "n=+\n", "n=+\n"}, // a lone sign matches
        {"n=%d\n", "n=-\n", "n=-\n"},
        {"n=%d\n", "n=a\n", nullptr},
        {"n=%d", "n=", nullptr},
        {"n=%d\n", "n=1.5\n", nullptr}, // the field stops before "."
        {"n=%d\n", "n=--5\n", nullptr}, // one sign only
        {"n=%*d\n", "n= -123\n", "n=*\n"},
    });
}

TEST(Scanline, DecimalItem) {
    expect_cases({
        {"t=%f\n", "t=.\n", "t=.\n"},
        {"t=%f\n", "t=+.\n", "t=+.\n"},
        {"t=%f\n", "t=-\n", "t=-\n"},
        {"t=%f\n", "t= 3.25\n", "t=3.25\n"},
        {"t=%f\n", "t=3.\n", "t=3.\n"},
        {"t=%f\n", "t=x\n", nullptr},
        {"t=%f\n", "t=1e5\n", nullptr},                // no exponent
        {"v=%f.7;\n", "v=-12.5.7;\n", "v=-12.5.7;\n"}, // a second "." ends the field
        {"t=%*f\n", "t=\t-0.001\n", "t=*\n"},
    });
}

TEST(Scanline, StringItem) {
    expect_cases({
        {"a%s", "abc", "abc"},
        {"a%s", "abc\n", nullptr},          // the field stops before the newline
        {"x=%s;", "x=ab", nullptr},         // field runs to the end, ";" then fails
        {"x %s\n", "x  y\n", "x  y\n"},     // terminator newline: blanks belong to the field
        {"%*s,%s\n", "a,b,c\n", "*,b,c\n"}, // stops at the first terminator
        {"%s,%s\n", "a,b,c\n", "a,b,c\n"},
        {"a%sb", "ab", "ab"}, // empty field
        {"a%*sb", "ab", "a*b"},
        {"k=%s v\n", "k=\t  x v\n", "k= x v\n"}, // terminator space: one space for the run
        {"k=%s v\n", "k=x v\n", "k=x v\n"},
        {"k=%*s v\n", "k=  x v\n", "k=* v\n"},    // starred writes nothing for the run
        {"k=%s v\n", "k=x\ty v\n", "k=x\ty v\n"}, // a tab is not the terminator
        {"%s%%", "ab%", "ab%"},                   // directly followed by an item: stops at "%"
    });
}

TEST(Scanline, TrailingSpacesItem) {
    expect_cases({
        {"x;%\n", "x;\n", "x;\n"},
        {"x;%\n", "x;   \n", "x;\n"},
        {"x;%*\n", "x; \n", "x;\n"},
        {"x;%\n", "x;", nullptr},      // no final newline
        {"x;%\n", "x;  ", nullptr},    // spaces but no newline
        {"x;%\n", "x; \t\n", nullptr}, // a tab is not skipped
        {"x;%\n", "x; y\n", nullptr},
        {"%\n", "", nullptr}, // an empty line has no newline
        {"%\n", " \n\n", "\n"},
        {"abc\n%\n", "abc\n", "abc\n\n"}, // the newline already matched still counts
        {"x%\ny", "x\n", nullptr},        // the cursor stays at the end of the line
    });
}

TEST(Scanline, WorkedExamples) {
    const char* cpu = "cpu time = %*f seconds\n";
    const char* mode = "Mode=%s m=%*d n=%d labelorg=%d edges=%d options=(%s))\n";
    const char* group = "group time: %*f, %*f, %*f, group order time: %*f;%\n";
    expect_cases({
        {cpu, "cpu time = 1.25 seconds\n", "cpu time = * seconds\n"},
        {cpu, "cpu time =  0.00 seconds\n", "cpu time = * seconds\n"},
        {cpu, "cpu time = -.5 seconds\n", "cpu time = * seconds\n"},
        {cpu, "cpu time = + seconds\n", "cpu time = * seconds\n"},
        {cpu, "cpu time = 1.2.3 seconds\n", nullptr},
        {cpu, "cpu time = 1e-3 seconds\n", nullptr},
        {cpu, "cpu time =\t0.00 seconds\n", nullptr},
        {"canupdates=%d; cpu time = %*f seconds\n", "canupdates= 3; cpu time = 12 seconds\n",
         "canupdates=3; cpu time = * seconds\n"},
        {mode, "Mode=x1 m=1 n=10 labelorg=0 edges=20 options=(abc))\n",
         "Mode=x1 m=* n=10 labelorg=0 edges=20 options=(abc))\n"},
        {mode, "Mode=\t x1 m=2 n= 10 labelorg=0 edges=20 options=(abc))\n",
         "Mode= x1 m=* n=10 labelorg=0 edges=20 options=(abc))\n"},
        {group, "group time: 0.01, 0.02, 0.03, group order time: 0.00;   \n",
         "group time: *, *, *, group order time: *;\n"},
        {group, "group time: 0.01, 0.02, 0.03, group order time: 0.00;   ", nullptr},
        {group, "group time: 0.01, 0.02, 0.03, group order time: 0.00;\t\n", nullptr},
        {">A %*s %s\n", ">A  foo   bar baz\n", ">A *   bar baz\n"},
        {">A %*s %s\n", ">A x\ty\n", nullptr},
    });
}

// A bad item is returned, with its character in out[0], once matching reaches
// it; the process goes on.
TEST(Scanline, BadItemIsReturnedWhenReached) {
    struct BadCase {
        const char* line;
        const char* pattern;
        char item;
    };
    const BadCase cases[] = {
        {"a1", "a%x", 'x'},   {"a1", "a%*x", 'x'},
        {"a1", "a%**d", '*'}, {"a1", "a%", '\0'},      // the end of the pattern inside an item
        {"a1", "a%*", '\0'},  {"a 1\n", "a%d%q", 'q'}, // after an item that matched
        {"", "%y", 'y'},                               // reached at the end of the line
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "pattern \"" << c.pattern << "\"");
        char out[64];
        out[0] = '?';
        EXPECT_EQ(maskdiff::scanline(c.line, c.pattern, out), maskdiff::kScanBadItem);
        EXPECT_EQ(out[0], c.item);
    }
}

TEST(Scanline, BadItemAfterAFailureIsNotReached) {
    char out[64];
    EXPECT_EQ(maskdiff::scanline("b1", "a%x", out), 0);
    EXPECT_EQ(maskdiff::scanline("a", "a%d%x", out), 0);
}

} // namespace
