# SPDX-License-Identifier: BSD-3-Clause
"""Runs the benchmark programs and loads what they write. Every step returns
its loaded results, or None after adding what went wrong to PROBLEMS."""

import json
import os
import platform
import shlex
import subprocess
import sys
import time

from .compute import as_list

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCALING_FAMILIES = ("align_series", "fold_links", "tally_pairs")


def run_step(title, cmd, env=None, capture=False):
    """Runs one step; returns (status, stdout text or None)."""
    print(f"\n=== {title}\n$ {' '.join(shlex.quote(c) for c in cmd)}", flush=True)
    started = time.monotonic()
    try:
        p = subprocess.run(cmd, cwd=ROOT, env=dict(os.environ, **(env or {})),
                           stdout=subprocess.PIPE if capture else None, text=True)
    except OSError as e:
        print(f"cannot run {cmd[0]}: {e}", file=sys.stderr)
        return 127, None
    print(f"--- {title}: {time.monotonic() - started:.0f} s", flush=True)
    return p.returncode, p.stdout


def remove(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def load_json(path):
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError) as e:
        print(f"cannot read {path}: {e}", file=sys.stderr)
        return None


def parse_json(text):
    try:
        return json.loads(text) if text else None
    except ValueError:
        return None


def octave_script(title, script, out, env, problems, load=True):
    """Runs bench/SCRIPT in octave-cli (its results file OUT removed first) and
    loads OUT; a failure is added to PROBLEMS."""
    if out:
        remove(out)
    # run() changes into the script's folder: give an absolute path.
    path = os.path.join(ROOT, "bench", script).replace("'", "''")
    cmd = [os.path.join(ROOT, "scripts", "octave-cli-quiet"), "--eval", f"run('{path}')"]
    status, _ = run_step(title, cmd, env=env)
    data = load_json(out) if load and out and os.path.exists(out) else None
    if status != 0 or (load and data is None):
        problems.append(f"{script} failed (status {status})")
    return data


def results_dir(build):
    return os.path.join(build, "bench-results")


def plugin_bench(build, quick, problems):
    """BUILD/bench/plugin_bench's JSON (Google Benchmark), or None."""
    exe = os.path.join(build, "bench", "plugin_bench")
    if not os.access(exe, os.X_OK):
        problems.append(f"{exe} not found: plug-in benchmarks skipped")
        return None
    # --benchmark_min_time only shortens benchmarks that do not fix their own.
    cmd = [exe, "--benchmark_format=json", f"--benchmark_repetitions={1 if quick else 3}"]
    cmd += ["--benchmark_min_time=0.05"] if quick else []
    status, out = run_step("Plug-ins against the reference loops (Google Benchmark)", cmd,
                           capture=True)
    data = parse_json(out)
    if status != 0 or data is None:
        problems.append(f"plugin_bench failed (status {status})")
    return data


def isa_paths(build, quick, problems):
    """The pair tallies' kernels timed on each code path that TABLEFOLD_ISA
    names: {path: plugin_bench's JSON}."""
    exe = os.path.join(build, "bench", "plugin_bench")
    out = {}
    for isa in ("generic", "avx2", "avx512"):
        cmd = [exe, "--benchmark_format=json", "--benchmark_filter=^BM_tally_pairs_[a-z]+_kernel"]
        status, text = run_step(f"Pair tallies' kernels on the {isa} path", cmd,
                                env={"TABLEFOLD_ISA": isa}, capture=True)
        out[isa] = parse_json(text) if status == 0 else None
        if out[isa] is None:
            problems.append(f"plugin_bench on the {isa} path failed (status {status})")
            return None
    return out


def machine_probe(build, quick, problems):
    """BUILD/bench/machine_probe: first touch, latencies, throughput, bandwidth."""
    exe = os.path.join(build, "bench", "machine_probe")
    if not os.access(exe, os.X_OK):
        problems.append(f"{exe} not found: the machine's figures are missing")
        return None
    status, out = run_step("The machine: first touch, floating point, bandwidth",
                           [exe] + (["--quick"] if quick else []), capture=True)
    data = parse_json(out) if status == 0 else None
    if data is None:
        problems.append(f"machine_probe failed (status {status})")
        return None
    with open(os.path.join(results_dir(build), "machine.json"), "w", encoding="utf-8") as f:
        json.dump(data, f, indent=2)
    return data


def maskdiff(build, quick, problems):
    out = os.path.join(results_dir(build), "maskdiff.json")
    remove(out)
    env = {"MASKDIFF_BENCH_OUT": out}
    if quick:
        env["MASKDIFF_BENCH_MB"] = "64"
    status, _ = run_step("maskdiff against cmp and diff",
                         ["bash", os.path.join(ROOT, "bench", "maskdiff_bench.sh"), build], env=env)
    data = load_json(out) if status == 0 else None
    if data is None:
        problems.append(f"maskdiff_bench.sh failed (status {status})")
    return data


def toolbox_env(build):
    return {"OCTAVE_BENCH_NATIVE": os.path.join(build, "octave"),
            "OCTAVE_BENCH_MEX": os.path.join(build, "octave-mex")}


def octave(build, quick, problems):
    out = os.path.join(results_dir(build), "octave.json")
    env = dict(toolbox_env(build), OCTAVE_BENCH_OUT=out)
    if quick:
        env["OCTAVE_BENCH_SCALE"] = "0.1"
    return octave_script("Native functions, MEX files and vectorised Octave code",
                         "octave_bench.m", out, env, problems)


def fresh(build, quick, problems):
    out = os.path.join(results_dir(build), "octave_fresh.json")
    env = dict(toolbox_env(build), OCTAVE_FRESH_OUT=out,
               OCTAVE_FRESH_LOOPS=os.path.join(build, "bench", "octave-mex"))
    if quick:
        env.update({"OCTAVE_BENCH_SCALE": "0.1", "OCTAVE_FRESH_PROCESSES": "1"})
    data = octave_script("Fresh Octave processes, the way users run", "octave_fresh.m", out,
                         env, problems)
    for shape in (data or {}).get("shapes", []):
        if not shape.get("identical", True):
            problems.append(f"{shape['name']} in fresh processes: the native function, the MEX "
                            "file and the straight loops do not give the same bytes")
        if not shape.get("agree", True):
            problems.append(f"{shape['name']}: the native function and the vectorised code "
                            "disagree")
    return data


def parallel(build, quick, problems):
    out = os.path.join(results_dir(build), "parallel.json")
    env = dict(toolbox_env(build), OCTAVE_PARALLEL_OUT=out)
    if quick:
        env["OCTAVE_BENCH_SCALE"] = "0.1"
    return octave_script("cellfun against parcellfun", "octave_parallel.m", out, env, problems)


def load_scaling(path):
    res = load_json(path) if os.path.exists(path) else None
    if res:
        res["sizes"] = as_list(res["sizes"])
        res["lines"] = as_list(res["lines"])
        for line in res["lines"]:
            for key in ("time_s", "faults", "sys_s", "peak_bytes", "input_bytes",
                        "output_bytes", "detail"):
                line[key] = as_list(line[key])
    return res


def scaling(build, quick, picture_dir, problems):
    """bench/octave_scaling.m: {"families": the results by family, "machine":
    its measurements of the machine, "load": load averages before and after}."""
    out = results_dir(build)
    for name in [f"scaling_{f}{s}.json" for f in SCALING_FAMILIES for s in ("", "_kept")]:
        remove(os.path.join(out, name))
    env = {"OCTAVE_SCALING_NATIVE": os.path.join(build, "octave"), "OCTAVE_SCALING_OUT": out,
           "OCTAVE_SCALING_PLOTS": picture_dir}
    if quick and "OCTAVE_SCALING_SCALE" not in os.environ:
        env["OCTAVE_SCALING_SCALE"] = "0.05"
    load = [load_average()]
    machine = octave_script("How cost grows: native functions and vectorised Octave code over "
                            "sizes", "octave_scaling.m", os.path.join(out, "scaling_machine.json"),
                            env, problems)
    load.append(load_average())
    data = {}
    for family in SCALING_FAMILIES:
        res = load_scaling(os.path.join(out, f"scaling_{family}.json"))
        if not res:
            problems.append(f"octave_scaling.m wrote no results for {family}")
            continue
        kept = load_scaling(os.path.join(out, f"scaling_{family}_kept.json"))
        if kept:
            res["lines"] += kept["lines"]
            res["allocator"] = kept["allocator"]
            res["first_touch_kept"] = kept["first_touch"]
        data[family] = res
    return {"families": data, "machine": machine or {}, "load": load} if data else None


def load_average():
    try:
        return "%.2f %.2f %.2f" % os.getloadavg()
    except OSError:
        return "unknown"


def first_line(path, prefix, sep):
    """The rest of the first line of PATH that starts with PREFIX, after SEP."""
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                if line.startswith(prefix):
                    return line.split(sep, 1)[1].strip().strip('"')
    except OSError:
        pass
    return ""


def machine_info(context):
    """What the report says of the machine: the processor's count and clock from
    Google Benchmark's context where it carries them; its model, the memory and
    the system from /proc and /etc/os-release, which the context lacks."""
    context = context or {}
    mem = first_line("/proc/meminfo", "MemTotal:", ":")
    return {"nproc": context.get("num_cpus") or os.cpu_count(),
            "mhz": context.get("mhz_per_cpu"),
            "cpu": first_line("/proc/cpuinfo", "model name", ":") or platform.processor()
            or "unknown",
            "memory": f"{int(mem.split()[0]) / 1048576:.1f} GiB" if mem else "unknown",
            "os": f"{first_line('/etc/os-release', 'PRETTY_NAME=', '=') or platform.system()} "
                  f"(kernel {platform.release()})",
            "load_start": load_average()}
