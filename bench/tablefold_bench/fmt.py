# SPDX-License-Identifier: BSD-3-Clause
"""How the report writes times, rates, ratios and sizes."""


def time(s):
    if s is None:
        return "-"
    if s >= 1:
        return f"{s:.3f} s"
    if s >= 1e-3:
        return f"{s * 1e3:.2f} ms"
    return f"{s * 1e6:.1f} µs"


def rate(bps):
    if not bps:
        return "-"
    if bps >= 1e9:
        return f"{bps / 1e9:.2f} GB/s"
    return f"{bps / 1e6:.0f} MB/s"


def ratio(r):
    return "-" if r is None else f"{r:.2f}x"


def nbytes(b):
    if b is None:
        return "-"
    for unit, size in (("GiB", 1 << 30), ("MiB", 1 << 20), ("KiB", 1 << 10)):
        if b >= size:
            return f"{b / size:.3g} {unit}"
    return f"{b:.0f} B"


def size(x):
    return f"{x:,.0f}"


def num(x, digits=2):
    return "-" if x is None else f"{x:.{digits}f}"
