# SPDX-License-Identifier: BSD-3-Clause
"""The benchmark report of the toolbox: collect (run the benchmark programs and
load what they write), compute (figures, ratios, growth, bounds, targets) and
render (the tables and docs/performance.md from template.md)."""
