# SPDX-License-Identifier: BSD-3-Clause
"""The report's figures from the benchmarks' results: rows of ratios against
targets, growth with size, bounds, crossings and the parallel calls' figures.
Functions of the loaded JSON alone: no process, no file."""

import math
import re

from . import fmt

# Speed-up targets (baseline time / our time) against the C++ reference loops.
REFERENCE_TARGETS = {"tally_pairs_full": 2.0, "tally_pairs_masked": 2.0, "fold_links_full": 1.2,
                     "fold_links_masked": 1.2, "align_series": 1.2}
# Native Octave functions against vectorised Octave code and against the MEX
# files in Octave (a ratio of 1: no slower). align_series keeps the 16x it
# reached in one session; in fresh processes both sides pay for the first
# touch of their outputs, and that figure is shown without a target.
NATIVE_VS_OCTAVE = {"fold_links_masked": 4.0, "fold_links_full": 4.0, "align_series": 16.0,
                    "tally_pairs_full": 5.0, "tally_pairs_masked": 5.0}
NATIVE_VS_MEX = {"fold_links_masked": 3.0, "fold_links_full": 3.0, "align_series": 1.5,
                 "tally_pairs_full": 1.0, "tally_pairs_masked": 1.0}
# Peak memory of a native align_series call: at most this factor of the bytes
# of its inputs plus outputs.
ALIGN_MEMORY_FACTOR = 1.2
# Targets of the fresh-process figures: (shape, baseline implementation) ->
# least ratio of the baseline's best call to the native function's.
FRESH_TARGETS = {("fold_links_full", "mex"): 5.0, ("fold_links_full", "octave"): 8.0,
                 ("tally_pairs_full/a", "loops"): 7.0, ("tally_pairs_full/a", "octave"): 5.0,
                 ("tally_pairs_full/b", "loops"): 7.0, ("tally_pairs_full/b", "octave"): 5.0}
# Memory factor of a native call, at most; and the huge-count call's time.
FRESH_MEMORY_TARGETS = {"fold_links_full": 1.3}
FRESH_HUGE_SECONDS = 1.0
# Below this many bytes of inputs and outputs, a memory factor would measure
# the granularity of pages rather than the call: the table leaves it out.
FRESH_FACTOR_BYTES = 1e6
FRESH_IMPLS = {"native": "native", "native1": "native, 1 thread", "nohuge":
               "native, no huge pages", "mex": "MEX file", "octave": "vectorised Octave",
               "loops": "straight loops (MEX)"}
# A native call on every processor of the run against one thread: least
# speed-up (the one-thread best call over the every-processor one), and the
# core counts the measured serial share is projected to.
THREAD_TARGETS = {"align_series": 1.7, "tally_pairs_full/b": 1.7, "fold_links_full": 1.5}
PROJECTED_CORES = (8, 16, 64)
# A range of sizes departs from linear growth where the log-log slope between
# neighbouring sizes lies outside these bounds and, over the whole range, the
# time ends up more than LINEAR_MARGIN off proportional growth (less is noise
# on a shared machine).
LINEAR_SLOPES = (0.9, 1.1)
LINEAR_MARGIN = 1.25
# The kernel's share of a call is only shown for calls at least this long:
# the system divides processor time between user and kernel by sampling.
KERNEL_TIME_MIN_S = 0.05
# Random reads count as served by the caches up to the largest array at
# which they cost at most CACHED_READ_FACTOR times their cost on the smallest
# array, and as served by memory from the smallest array at which they cost
# more than SLOW_READ_FACTOR times.
CACHED_READ_FACTOR = 1.5
SLOW_READ_FACTOR = 3.0
UNIT_S = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def as_list(x):
    """A JSON value that Octave writes as a scalar when it has one element."""
    if x is None:
        return []
    return x if isinstance(x, list) else [x]


class Row:
    """One line of the speed table."""

    def __init__(self, group, name, time_s=None, throughput=None, baseline="", baseline_s=None,
                 target=None, target_text="", note=""):
        self.group, self.name, self.time_s = group, name, time_s
        self.throughput = throughput  # bytes per second, or None
        self.baseline, self.baseline_s = baseline, baseline_s
        self.target = target  # least ratio required, or None
        self.target_text, self.note = target_text, note
        self.met_override = None  # a text for "met" that replaces the computed one

    @property
    def ratio(self):
        if self.time_s and self.baseline_s:
            return self.baseline_s / self.time_s
        return None

    @property
    def met(self):
        if self.met_override is not None:
            return self.met_override
        if self.target is None or self.ratio is None:
            return "n/a"
        return "yes" if self.ratio >= self.target else "no"


def target_text(target):
    return f">= {target:g}x" if target else ""


# --------------------------------------------------------------- Google Benchmark

def clean_bench_name(name):
    """Drops the decorations that Google Benchmark appends (min_time, repeats...)."""
    parts = [p for p in name.split("/")
             if not re.match(r"^(min_time|min_warmup_time|repeats|iterations|threads):", p)
             and p not in ("real_time", "manual_time")]
    return "/".join(parts)


def best_runs(data):
    """Best repetition of each benchmark (the least wall time per iteration):
    name -> {real_s, cpu_s, bytes per iteration}."""
    best = {}
    for b in data.get("benchmarks", []):
        if b.get("run_type", "iteration") != "iteration" or b.get("error_occurred"):
            continue
        name = clean_bench_name(b.get("run_name", b["name"]))
        unit = UNIT_S.get(b.get("time_unit", "ns"), 1e-9)
        real, cpu = b["real_time"] * unit, b["cpu_time"] * unit
        if name not in best or real < best[name]["real_s"]:
            # The rate is per CPU second.
            best[name] = {"real_s": real, "cpu_s": cpu,
                          "bytes": b.get("bytes_per_second", 0) * cpu}
    return best


def plugin_rows(best, plugins):
    """Plug-ins through the emulated host and kernels alone on plain memory,
    each against the reference loops of its name and shape."""
    rows, used = [], set()

    def rate(m):
        return m["bytes"] / m["real_s"] if m["bytes"] else None

    for kind in ("plugin", "kernel"):
        for name in sorted(best):
            m = re.match(rf"^BM_(\w+?)_{kind}(/.*)?$", name)
            if not m:
                continue
            plugin, shape = m.group(1), m.group(2) or ""
            mine, ref = best[name], best.get(f"BM_{plugin}_reference{shape}")
            used.update({name, f"BM_{plugin}_reference{shape}"})
            if kind == "plugin":
                target = REFERENCE_TARGETS.get(plugin)
                row = Row("C++", f"{plugin}{shape} plug-in (emulated host)", mine["real_s"],
                          rate(mine), "C++ reference loops" if ref else "(no reference benchmark)",
                          ref and ref["real_s"], target, target_text(target))
            else:
                row = Row("C++", f"{plugin}{shape} kernel alone (plain memory)", mine["real_s"],
                          rate(mine), "C++ reference loops", ref and ref["real_s"])
                host = best.get(f"BM_{plugin}_plugin{shape}")
                if host:
                    share = host["real_s"] - mine["real_s"]
                    row.note = (f"the host's part of a plug-in call: {fmt.time(share)} "
                                f"({100 * share / host['real_s']:.0f}% of "
                                f"{fmt.time(host['real_s'])})")
            rows.append(row)
    for name in sorted(set(best) - used):
        rows.append(Row("C++", name, best[name]["real_s"], note="unpaired benchmark"))
    built = {r.name.split("/")[0].split(" ")[0] for r in rows}
    rows += [Row("C++", f"{p} plug-in (emulated host)", note="no benchmark yet in plugin_bench")
             for p in plugins if p not in built]
    return rows


ISA_UNITS = {"generic": "SSE2", "avx2": "AVX2", "avx512": "AVX-512F"}


def isa_rows(paths, machine=None):
    """Per tally kernel and shape, its processor time on each code path:
    [(benchmark, {path: seconds, or None where the processor lacks the
    path's unit and the call takes the widest it has})]."""
    present = {w["unit"] for w in (machine or {}).get("throughput", []) if w.get("present")}
    runs = {isa: best_runs(data) for isa, data in paths.items()}
    names = sorted({n for b in runs.values() for n in b if re.match(r"^BM_\w+_kernel\b", n)})

    def ran(isa):  # every x86-64 processor runs the generic path
        return not machine or isa == "generic" or ISA_UNITS[isa] in present

    return [(name, {isa: b[name]["cpu_s"] if name in b and ran(isa) else None
                    for isa, b in runs.items()}) for name in names]


def cache_sizes(context, sysconf=None):
    """The data caches' sizes in bytes by level, one instance of each (what one
    core sees), from Google Benchmark's context; where it lists none, what the
    C library reports (sysconf(name) -> bytes, or None). Returns (sizes, source)."""
    sizes = {}
    for c in (context or {}).get("caches", []):
        if c.get("type") in ("Data", "Unified") and c.get("size"):
            sizes.setdefault(f"L{c['level']}" + ("d" if c["level"] == 1 else ""), c["size"])
    if sizes:
        return dict(sorted(sizes.items())), "as Google Benchmark's context lists them"
    for level, key in (("L1d", "SC_LEVEL1_DCACHE_SIZE"), ("L2", "SC_LEVEL2_CACHE_SIZE"),
                       ("L3", "SC_LEVEL3_CACHE_SIZE")):
        value = sysconf(key) if sysconf else None
        if value and value > 0:
            sizes[level] = value
    return sizes, "as the processor reports them to the C library (`getconf`)"


# --------------------------------------------------------------- maskdiff and Octave

def maskdiff_rows(data):
    mib = data["file_bytes"] / 1048576
    rows = []
    for key, label in (("a", "identical files"), ("b", "1 line in 1000 differs (tolerated)")):
        p = data["pairs"][key]
        rate = data["file_bytes"] / p["maskdiff_s"]
        name = f"maskdiff ({key}) {label}, {mib:.0f} MiB"
        if key == "a":
            rows.append(Row("maskdiff", name, p["maskdiff_s"], rate, "cmp", p["cmp_s"], 0.5,
                            "within 2x of cmp (>= 0.5x)"))
        else:
            rows.append(Row("maskdiff", name, p["maskdiff_s"], rate,
                            "cmp (stops at 1st difference)", p["cmp_s"], None,
                            "none: cmp reads only up to line 618",
                            note="cmp is not a full-read baseline on pair (b)"))
        d = Row("maskdiff", name, p["maskdiff_s"], rate, "diff", p["diff_s"], 1.0,
                "faster than diff (> 1x)")
        d.met_override = "yes" if d.ratio > 1.0 else "no"  # strictly faster
        rows.append(d)
    return rows


def octave_rows(data, problems):
    rows = []
    for res in data["results"]:
        name = res["name"]
        for baseline, key, targets, same, what in (
                ("vectorised Octave", "octave_s", NATIVE_VS_OCTAVE, "agree", "the Octave code"),
                ("MEX file in Octave", "mex_s", NATIVE_VS_MEX, "identical", "the MEX file")):
            t = targets.get(name)
            r = Row("Octave", f"{name} native in Octave", res["native_s"], None, baseline,
                    res[key], t, target_text(t))
            if key == "octave_s":
                r.note = f"{res['sizes']}; agreement: {res['check']}"
            if not res[same]:
                r.met_override = "no (results differ)"
                problems.append(f"{name}: the native function and {what} disagree")
            rows.append(r)
    return rows


def memory_rows(data):
    """Peak memory of one call: (name, input bytes, output bytes, impl ->
    (peak, factor = (inputs + peak) / (inputs + outputs)))."""
    rows = []
    for res in data["results"]:
        inp, total = res["input_bytes"], res["input_bytes"] + res["output_bytes"]
        cells = {impl: (res[f"{impl}_peak_bytes"],
                        (inp + res[f"{impl}_peak_bytes"]) / total if total else None)
                 for impl in ("native", "mex", "octave")}
        rows.append((res["name"], inp, res["output_bytes"], cells))
    return rows


# --------------------------------------------------------------- fresh processes

def fresh_figures(data):
    """Per shape: per implementation its best call over the processes, the range
    of the processes' best calls, the slowest first (warm-up) call and the memory
    factor of the largest peak."""
    shapes = []
    for shape in data.get("shapes", []):
        inp, outp = shape["input_bytes"], shape["output_bytes"]
        impls = {}
        for impl, m in shape["impls"].items():
            best, peak = as_list(m["best_s"]), max(as_list(m["peak_bytes"]))
            impls[impl] = {"best": min(best), "worst": max(best),
                           "first": max(as_list(m["first_s"])), "peak": peak,
                           "factor": (inp + peak) / (inp + outp) if inp + outp else None}
        shapes.append(dict(shape, impls=impls, check=shape.get("check", "")))
    return shapes


def fresh_targets(data):
    """(what, this run's figure as text, met) for every target of the fresh run."""
    out = []
    threads = {t["name"]: t for t in thread_figures(data)}
    for shape in fresh_figures(data):
        name, impls = shape["name"], shape["impls"]
        native = impls.get("native")
        if native is None:
            continue
        if name.endswith("/huge"):
            t = native["first"]
            out.append((f"`{shape['sizes'].split(':')[0]}` (native), first call in a fresh "
                        f"process, < {FRESH_HUGE_SECONDS:g} s", fmt.time(t),
                        "yes" if t < FRESH_HUGE_SECONDS else "no"))
            continue
        for impl in impls:
            target = FRESH_TARGETS.get((name, impl))
            if target is not None:
                ratio = impls[impl]["best"] / native["best"]
                out.append((f"{name} native >= {target:g}x {FRESH_IMPLS[impl]}",
                            f"{ratio:.2f}x", "yes" if ratio >= target else "no"))
        t = threads.get(name)
        if t and t["target"] is not None:
            out.append((f"{name} native on {data.get('processors')} processors >= "
                        f"{t['target']:g}x 1 thread", f"{t['speedup']:.2f}x",
                        "yes" if t["speedup"] >= t["target"] else "no"))
        limit = FRESH_MEMORY_TARGETS.get(name)
        if limit is not None and native["factor"] is not None:
            out.append((f"{name} native memory factor <= {limit:g}", f"{native['factor']:.2f}",
                        "yes" if native["factor"] <= limit else "no"))
    return out


def thread_figures(data):
    """Per shape timed on one thread and on every processor: both best calls,
    the speed-up, its target, and the serial share s that Amdahl's law gives
    from the speed-up S on the run's P processors, S = 1 / (s + (1 - s) / P),
    with the speed-up it projects for each of PROJECTED_CORES (None where
    the run had one processor)."""
    p = data.get("processors") or 1
    out = []
    for shape in fresh_figures(data):
        one, every = shape["impls"].get("native1"), shape["impls"].get("native")
        if one is None or every is None:
            continue
        speedup = one["best"] / every["best"]
        serial = min(1.0, max(0.0, (1 / speedup - 1 / p) / (1 - 1 / p))) if p > 1 else None
        out.append({"name": shape["name"], "one": one["best"], "every": every["best"],
                    "speedup": speedup, "target": THREAD_TARGETS.get(shape["name"]),
                    "serial": serial,
                    "projected": {n: 1 / (serial + (1 - serial) / n) for n in PROJECTED_CORES}
                    if serial is not None else {}})
    return out


def first_calls(data, machine):
    """Per shape and native implementation: (shape, implementation, first
    call, best call, output bytes, what first touch of the output costs at
    the machine's rate, its share of the first call)."""
    out = []
    for shape in fresh_figures(data):
        for impl in ("native", "nohuge"):
            f = shape["impls"].get(impl)
            if f is None or shape["name"].endswith("/huge"):
                continue
            touch = first_touch_s(shape["output_bytes"], machine)
            out.append((shape["name"], impl, f["first"], f["best"], shape["output_bytes"], touch,
                        min(1.0, touch / f["first"]) if touch is not None else None))
    return out


def bounds(data, machine):
    """Per fresh shape: (shape, what bounds it, the bound in s, the native best
    call in s). A tally element takes its terms one after another, so a tally
    takes at least its longest chain of dependent additions times the
    addition's latency, and at least its multiplications and additions over the
    widest unit's throughput. Folding and alignment read their inputs and write
    their outputs at least once: bytes over the copy bandwidth (read plus
    written); the first touch of fresh output pages is shown beside it."""
    widest = [w for w in machine.get("throughput", []) if w.get("present")]
    widest = max(widest, key=lambda w: w["lanes"]) if widest else None
    out = []
    for shape in fresh_figures(data):
        native = shape["impls"].get("native")
        if native is None or shape["name"].endswith("/huge"):
            continue
        work = shape.get("work")
        if work and widest:
            latency = work["chain"] * machine["add_latency_ns"] * 1e-9
            flops = max(work["muls"] / widest["mul_flops_per_ns"],
                        work["adds"] / widest["add_flops_per_ns"]) * 1e-9
            out.append((shape["name"], f"{work['chain']:,.0f} dependent additions x "
                        f"{machine['add_latency_ns']:g} ns", latency, native["best"]))
            out.append((shape["name"], f"{work['muls']:,.0f} multiplications, "
                        f"{work['adds']:,.0f} additions on {widest['unit']} "
                        f"({widest['lanes']} lanes)", flops, native["best"]))
            continue
        moved = shape["input_bytes"] + shape["output_bytes"]
        touch = first_touch_s(shape["output_bytes"], machine)
        out.append((shape["name"], f"{moved / 1e6:,.0f} MB read and written at "
                    f"{machine['copy_gb_per_s']:g} GB/s (output in fresh pages would add "
                    f"{fmt.time(touch)} of first touch)",
                    moved / (machine["copy_gb_per_s"] * 1e9), native["best"]))
    return out


def first_touch_s(nbytes, machine):
    """What writing NBYTES of fresh pages costs at the machine's first-touch rate."""
    return nbytes / 2**30 * machine["first_touch"]["s_per_gib"]


# --------------------------------------------------------------- how cost grows

def log_slope(x0, t0, x1, t1):
    if not (x0 and x1 and t0 and t1) or t0 <= 0 or t1 <= 0 or x0 == x1:
        return None
    return math.log(t1 / t0) / math.log(x1 / x0)


def fitted_slope(points):
    """Least-squares slope of log time against log size over (size, time) points."""
    pts = [(math.log(x), math.log(t)) for x, t in points if t and t > 0]
    if len(pts) < 2:
        return None
    mx = sum(p[0] for p in pts) / len(pts)
    my = sum(p[1] for p in pts) / len(pts)
    sxx = sum((p[0] - mx) ** 2 for p in pts)
    return sum((p[0] - mx) * (p[1] - my) for p in pts) / sxx if sxx else None


def growth_ranges(sizes, times):
    """The measured points of a line cut into ranges over which it grows
    linearly, faster or slower: [(kind, first index, last index, slope)]."""
    ks = [k for k, t in enumerate(times) if t]
    t = times

    def merged(kinds):
        out = []
        for (a, b), kind in zip(zip(ks, ks[1:]), kinds):
            if out and out[-1][0] == kind:
                out[-1][2] = b
            else:
                out.append([kind, a, b])
        return out

    def kind_of(s):
        return ("faster than linear" if s > LINEAR_SLOPES[1] else
                "slower than linear" if s < LINEAR_SLOPES[0] else "linear")

    kinds = [kind_of(log_slope(sizes[a], t[a], sizes[b], t[b])) for a, b in zip(ks, ks[1:])]
    # Ranges whose departure stays within the margin count as linear.
    for kind, a, b in merged(kinds):
        excess = (t[b] / t[a]) / (sizes[b] / sizes[a])
        if kind != "linear" and abs(math.log(excess)) < math.log(LINEAR_MARGIN):
            for i, k in enumerate(ks[:-1]):
                if a <= k < b:
                    kinds[i] = "linear"
    out = []
    for kind, a, b in merged(kinds):
        s = log_slope(sizes[a], t[a], sizes[b], t[b])
        if kind == "linear" and not LINEAR_SLOPES[0] <= s <= LINEAR_SLOPES[1]:
            kind = "about linear"
        out.append((kind, a, b, s))
    return out


def kernel_share(line, k):
    """The share of a call's time spent in the kernel; None for calls too
    short to tell, unless they took no page fault."""
    t, sys_s = line["time_s"][k], line["sys_s"][k]
    if not t or sys_s is None:
        return None
    if t < KERNEL_TIME_MIN_S:
        return 0.0 if line["faults"][k] == 0 else None
    return min(1.0, sys_s / t)


def read_edges(machine):
    """From the random reads: the largest array on which they cost at most
    CACHED_READ_FACTOR times their cost on the smallest, and the smallest on
    which they cost more than SLOW_READ_FACTOR times that (None where none)."""
    rr = machine.get("random_reads")
    if not rr:
        return None, None
    sizes, ns = as_list(rr["bytes"]), as_list(rr["ns_per_read"])
    cached = next((b for b, t, nxt in zip(sizes, ns, ns[1:] + [math.inf])
                   if t <= CACHED_READ_FACTOR * ns[0] < nxt), None)
    slow = next((b for b, t in zip(sizes, ns) if t > SLOW_READ_FACTOR * ns[0]), None)
    return cached, slow


def crossing(sizes, native, octave):
    """The indices of the sizes at which the native line, below the vectorised
    one at the smallest size both ran, lies above it; None where it never does
    (a noisy run may cross back, so every such size is listed)."""
    both = [k for k in range(len(sizes)) if native[k] and octave[k]]
    if not both or native[both[0]] >= octave[both[0]]:
        return None
    return [k for k in both if native[k] > octave[k]] or None


# --------------------------------------------------------------- parallel calls

def parallel_figures(data):
    """Per shape: cellfun's and parcellfun's times, parcellfun's speed-up
    (cellfun time / parcellfun time) and the bytes shipped per call."""
    out = []
    for s in data.get("shapes", []):
        shipped = s["input_bytes"] + s["output_bytes"]
        out.append(dict(s, speedup=s["cellfun_s"] / s["parcellfun_s"],
                        shipped_per_call=shipped / s["calls"],
                        pays=s["parcellfun_s"] < s["cellfun_s"]))
    return out
