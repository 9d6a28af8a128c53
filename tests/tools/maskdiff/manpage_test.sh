#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Renders a manual page with groff, every warning on, and fails on any
# warning or error, or when the page's footer (the source of its .TH line)
# does not name SOURCE. groff is required (Debian package groff-base):
# without it the test fails and says so.
#
# Usage: manpage_test.sh PAGE SOURCE
set -u
page=$1
source=$2
if ! head -1 "$page" | grep -qF " \"$source\" "; then
    head -1 "$page"
    echo "FAIL: the footer of $page does not name $source"
    exit 1
fi
if ! command -v groff >/dev/null 2>&1; then
    echo "FAIL: groff not found; install the groff-base package" >&2
    exit 1
fi
out=$(groff -man -ww -z "$page" 2>&1)
status=$?
if [ "$status" -ne 0 ] || [ -n "$out" ]; then
    printf '%s\n' "$out"
    echo "FAIL: groff -man -ww -z $page: status $status, output above"
    exit 1
fi
echo "$page renders without warnings"
