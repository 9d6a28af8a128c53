#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Runs the benchmarks of the toolbox and reports them against their targets.

In this order:
  0. BUILD/bench/machine_probe measures the machine (first-touch cost,
     floating-point latency and throughput, memory bandwidth), reported as
     "This machine";
  1. BUILD/bench/plugin_bench (Google Benchmark): each plug-in through the
     emulated host against the plain reference loops, paired by name
     (BM_<plugin>_plugin[/shape] against BM_<plugin>_reference[/shape]), and
     each kernel alone on plain memory (BM_<plugin>_kernel), which separates
     the kernel's cost from the host's; its context gives the machine's
     processors, clock and caches;
  2. bench/maskdiff_bench.sh BUILD: maskdiff against cmp and diff;
  3. bench/octave_bench.m in octave-cli: each plug-in as a native Octave
     function, as a MEX file in Octave and as vectorised Octave code, with
     the peak memory of one call of each;
  4. bench/octave_scaling.m: how the cost of a native call and of the
     vectorised code grows with the size of the data, one log-log picture
     per family (written next to the report) and the section "How cost
     grows" of the report;
  5. bench/octave_fresh.m: the native functions, the MEX files, vectorised
     Octave code and the straight loops of the pair tallies, each timed in
     fresh octave-cli processes the way users run them, against targets;
  6. bench/octave_parallel.m: the same calls through cellfun and through
     parcellfun of the parallel package, two worker processes.
Then prints the speed table (benchmark, time, throughput, baseline, baseline
time, ratio = baseline time / our time, target, met) and writes the generated
blocks of docs/performance.md (summary, latest run, how cost grows) and the
measured figures that README.md quotes; the text around the blocks is kept.

The code lives in bench/tablefold_bench: collect (runs the programs, loads
their JSON), compute (figures, ratios, growth, bounds, targets) and render
(tables and text, its prose in template.md). Every ratio compares two
figures measured in the same run on the same machine. Standard library only.
"""

import argparse
import datetime
import json
import os
import subprocess
import sys

from tablefold_bench import collect, compute, render

ROOT = collect.ROOT
README = os.path.join(ROOT, "README.md")


def plugin_list():
    """The plug-ins, from kernels/plugins.txt ('#' starts a comment)."""
    with open(os.path.join(ROOT, "kernels", "plugins.txt"), encoding="utf-8") as f:
        names = (line.split("#", 1)[0].strip() for line in f)
        return [name for name in names if name]


def sysconf(name):
    """A sysconf value of the C library; getconf knows names that Python lacks."""
    try:
        return os.sysconf(name)
    except (ValueError, OSError):
        pass
    try:
        out = subprocess.run(["getconf", name.removeprefix("SC_")], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True).stdout.strip()
        return int(out) if out.isdigit() else None
    except OSError:
        return None


def parse_args():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default="build", help="build folder (default: build)")
    for step, what in (("plugin-bench", "the plug-ins against the reference loops (plugin_bench)"),
                       ("maskdiff", "the maskdiff timings"), ("octave", "the Octave timings"),
                       ("scaling", "how cost grows with size (bench/octave_scaling.m)"),
                       ("fresh", "the timings in fresh Octave processes"),
                       ("machine", "the machine's figures (machine_probe)"),
                       ("parallel", "cellfun against parcellfun (bench/octave_parallel.m)"),
                       ("isa", "the pair tallies' kernels on each code path")):
        ap.add_argument(f"--skip-{step}", action="store_true", help=f"leave out {what}")
    ap.add_argument("--scaling-only", action="store_true",
                    help="run bench/octave_scaling.m alone and rewrite only its section")
    ap.add_argument("--quick", action="store_true",
                    help="smoke run: smaller sizes (maskdiff 64 MiB, Octave data x0.1, "
                         "sizes of how cost grows x0.05), one benchmark repetition")
    ap.add_argument("--output", default=os.path.join(ROOT, "docs", "performance.md"),
                    help="Markdown report (default: docs/performance.md)")
    ap.add_argument("--readme", default=README,
                    help="file whose block of parallel figures is rewritten (default: README.md; "
                         "'' for none)")
    return ap.parse_args()


def collect_all(args, build, picture_dir, problems):
    """Runs every step not skipped; returns the results by step."""
    steps = [("machine_probe", args.skip_machine, collect.machine_probe),
             ("plugin_bench", args.skip_plugin_bench, collect.plugin_bench),
             ("isa_paths", args.skip_isa or args.skip_plugin_bench, collect.isa_paths),
             ("maskdiff", args.skip_maskdiff, collect.maskdiff),
             ("octave", args.skip_octave, collect.octave),
             ("scaling", args.skip_scaling,
              lambda b, q, p: collect.scaling(b, q, picture_dir, p)),
             ("octave_fresh", args.skip_fresh, collect.fresh),
             ("parallel", args.skip_parallel, collect.parallel)]
    if args.scaling_only:
        steps = [s for s in steps if s[0] == "scaling"]
    return {name: run(build, args.quick, problems) for name, skip, run in steps if not skip}


def speed_rows(results, problems):
    rows = []
    if "plugin_bench" in results:
        data = results["plugin_bench"]
        rows += (compute.plugin_rows(compute.best_runs(data), plugin_list()) if data else
                 [compute.Row("C++", "plug-in benchmarks", note="failed or not built")])
    if "maskdiff" in results:
        rows += (compute.maskdiff_rows(results["maskdiff"]) if results["maskdiff"] else
                 [compute.Row("maskdiff", "maskdiff", note="failed")])
    if "octave" in results:
        rows += (compute.octave_rows(results["octave"], problems) if results["octave"] else
                 [compute.Row("Octave", "Octave benchmarks", note="failed")])
    return rows


def main():
    args = parse_args()
    build = os.path.abspath(args.build)
    output = os.path.abspath(args.output)
    started = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M")
    problems = []
    os.makedirs(collect.results_dir(build), exist_ok=True)
    load_start = collect.load_average()
    results = collect_all(args, build, os.path.dirname(output), problems)
    context = (results.get("plugin_bench") or {}).get("context")
    info = dict(collect.machine_info(context), load_start=load_start, load=collect.load_average())
    caches, cache_source = compute.cache_sizes(context, sysconf)
    blocks = []
    if results.get("scaling"):
        blocks.append(("how cost grows", render.scaling_markdown(
            results["scaling"], caches, cache_source, started, args.quick,
            results.get("machine_probe")), "## How cost grows"))
    if args.scaling_only:
        render.write_blocks(output, blocks)
        print(f"\nWrote the section \"How cost grows\" of {os.path.relpath(output)}")
        return report_problems(problems)

    rows = speed_rows(results, problems)
    print("\n=== Report" + (" (quick run, reduced sizes)" if args.quick else ""))
    if rows:
        print(render.text_table(rows))
    for r in rows:
        if r.note and r.time_s is not None:
            print(f"  note: {r.name}: {r.note}")
    if results.get("octave_fresh"):
        print("\n" + "\n".join(render.md_fresh(results["octave_fresh"])))
    if results.get("parallel"):
        print("\n" + "\n".join(render.md_parallel(results["parallel"])))

    summary_path = os.path.join(collect.results_dir(build), "report.json")
    with open(summary_path, "w", encoding="utf-8") as f:
        json.dump({"date_utc": started, "quick": args.quick, "machine": info,
                   "rows": [dict(zip(render.HEADER, render.cells(r)), ratio_value=r.ratio,
                                 time_s=r.time_s, baseline_s=r.baseline_s) for r in rows],
                   "problems": problems}, f, indent=2)
    reproduce = "python3 bench/report.py --quick" if args.quick else "make bench"
    blocks = [("summary", render.md_summary(results, info, started, reproduce), "## Summary"),
              ("latest run", render.generated_markdown(rows, info, started, args.quick, results,
                                                       problems), "## Latest run")] + blocks
    render.write_blocks(output, blocks)
    if results.get("parallel") and args.readme:
        render.write_blocks(args.readme, [("parallel figures", render.parallel_sentence(
            results["parallel"]), "## Parallel and cluster use")])
    print(f"\nWrote {os.path.relpath(output)} and {os.path.relpath(summary_path)}")
    return report_problems(problems)


def report_problems(problems):
    if problems:
        print("\nProblems:\n" + "\n".join(f"  - {p}" for p in problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
