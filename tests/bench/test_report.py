# SPDX-License-Identifier: BSD-3-Clause
"""Unit tests of the benchmark report's computations and of the blocks it
writes, on the small result files in fixtures/."""

import json
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "bench"))

from tablefold_bench import compute as C  # noqa: E402
from tablefold_bench import render  # noqa: E402


def fixture(name):
    with open(os.path.join(HERE, "fixtures", name), encoding="utf-8") as f:
        return json.load(f)


def scaling_family():
    """A family whose native line crosses above the vectorised one at the third
    size, paying page faults that the kept line does not."""
    base = {"faults": [0, 0, 0, 0], "sys_s": [0, 0, 0, 0], "peak_bytes": [0] * 4,
            "input_bytes": [10, 20, 40, 80], "output_bytes": [2**30] * 4,
            "detail": ["a", "b", "c", "d"], "overhead_s": 1e-6, "variant": "align_series"}
    return {"sizes": [100, 200, 400, 800], "first_touch": {"s_per_gib": 3.0, "s_per_fault": 1e-5},
            "lines": [dict(base, impl="native", time_s=[1.0, 2.0, 8.0, 16.0],
                           faults=[10, 20, 5000, 9000]),
                      dict(base, impl="octave", time_s=[4.0, 5.0, 6.0, 7.0]),
                      dict(base, impl="native_kept", time_s=[0.1, 0.2, 0.4, 0.8])]}


class Growth(unittest.TestCase):
    def test_slopes_of_a_power_law(self):
        pts = [(x, 3 * x ** 1.5) for x in (1, 10, 100, 1000)]
        self.assertAlmostEqual(C.fitted_slope(pts), 1.5)
        self.assertAlmostEqual(C.log_slope(10, 2.0, 1000, 200.0), 1.0)
        self.assertIsNone(C.log_slope(10, 0, 100, 1.0))
        self.assertIsNone(C.fitted_slope([(10, 1.0)]))

    def test_departures_from_linear(self):
        sizes = [1, 2, 4, 8, 16, 32]
        # Linear, then a step of 4x over one doubling, then linear again;
        # a missing point (None) is skipped.
        times = [1, 2, 4, 32, None, 128]
        self.assertEqual([(k, a, b) for k, a, b, _ in C.growth_ranges(sizes, times)],
                         [("linear", 0, 2), ("faster than linear", 2, 3), ("linear", 3, 5)])
        # A wobble within the margin of proportional growth counts as linear.
        wobble = C.growth_ranges([1, 2, 4], [1.0, 2.4, 4.2])
        self.assertEqual([(k, a, b) for k, a, b, _ in wobble], [("linear", 0, 2)])
        slower = C.growth_ranges([1, 10], [1.0, 2.0])
        self.assertEqual(slower[0][0], "slower than linear")
        self.assertAlmostEqual(slower[0][3], 0.30103, places=4)

    def test_crossing_and_its_caption(self):
        fam = scaling_family()
        nat, vec = fam["lines"][0]["time_s"], fam["lines"][1]["time_s"]
        self.assertEqual(C.crossing(fam["sizes"], nat, vec), [2, 3])
        self.assertEqual(C.crossing(fam["sizes"], [1, 6, 5, 8], vec), [1, 3])  # back and forth
        self.assertIsNone(C.crossing(fam["sizes"], vec, nat))  # above from the start
        caption = render.crossings(fam)
        self.assertEqual(len(caption), 1)
        self.assertIn("first touch of fresh pages", caption[0])
        self.assertIn("takes longer per call at size 400, 800 (8.000 s against 6.000 s at 400)",
                      caption[0])
        self.assertIn("5,000 page faults against the vectorised code's 0", caption[0])
        self.assertIn("15.0 times faster", caption[0])  # 6.0 / 0.4

    def test_read_edges(self):
        self.assertEqual(C.read_edges(fixture("machine.json")), (2048, 8192))
        self.assertEqual(C.read_edges({}), (None, None))

    def test_kernel_share(self):
        line = {"time_s": [0.01, 0.1, 0.1], "sys_s": [0.005, 0.05, 0.5], "faults": [3, 3, 3]}
        self.assertIsNone(C.kernel_share(line, 0))  # too short to tell
        self.assertAlmostEqual(C.kernel_share(line, 1), 0.5)
        self.assertEqual(C.kernel_share(line, 2), 1.0)


class Ratios(unittest.TestCase):
    def test_plugin_rows_pair_best_runs(self):
        rows = C.plugin_rows(C.best_runs(fixture("gbench.json")),
                             ["fold_links_full", "tally_pairs_full", "align_series"])
        by_name = {r.name: r for r in rows}
        fold = by_name["fold_links_full plug-in (emulated host)"]
        self.assertAlmostEqual(fold.time_s, 0.3)  # the best of two repetitions
        self.assertAlmostEqual(fold.ratio, 2.0)
        self.assertEqual((fold.target, fold.met), (1.2, "yes"))
        tally = by_name["tally_pairs_full/a plug-in (emulated host)"]
        self.assertAlmostEqual(tally.ratio, 1.5)
        self.assertEqual(tally.met, "no")  # target 2x
        kernel = by_name["fold_links_full kernel alone (plain memory)"]
        self.assertEqual(kernel.met, "n/a")
        self.assertIn("100.00 ms (33% of 300.00 ms)", kernel.note)
        self.assertIn("BM_lonely", by_name)
        self.assertEqual(by_name["align_series plug-in (emulated host)"].note,
                         "no benchmark yet in plugin_bench")
        self.assertNotIn("broken", " ".join(by_name))

    def test_machine_facts_from_the_context(self):
        sizes, source = C.cache_sizes(fixture("gbench.json")["context"])
        self.assertEqual(sizes, {"L1d": 49152, "L2": 1048576, "L3": 33554432})
        self.assertIn("context", source)
        sizes, source = C.cache_sizes({}, {"SC_LEVEL1_DCACHE_SIZE": 32768,
                                           "SC_LEVEL2_CACHE_SIZE": 0}.get)
        self.assertEqual(sizes, {"L1d": 32768})

    def test_code_paths(self):
        gb = fixture("gbench.json")
        rows = C.isa_rows({"generic": gb, "avx512": gb}, fixture("machine.json"))
        self.assertEqual([(n, {i: s and round(s, 9) for i, s in t.items()}) for n, t in rows],
                         [("BM_fold_links_full_kernel", {"generic": 0.2, "avx512": None})])
        self.assertIn("| fold_links_full | 200.00 ms | not on this processor |",
                      "\n".join(render.md_isa({"generic": gb, "avx512": gb},
                                              fixture("machine.json"))))

    def test_maskdiff_must_beat_diff_strictly(self):
        rows = C.maskdiff_rows(fixture("maskdiff.json"))
        self.assertEqual([(r.baseline, r.met) for r in rows],
                         [("cmp", "no"), ("diff", "no"),
                          ("cmp (stops at 1st difference)", "n/a"), ("diff", "yes")])

    def test_octave_rows_and_disagreement(self):
        problems = []
        rows = C.octave_rows(fixture("octave.json"), problems)
        self.assertEqual([(r.baseline, round(r.ratio, 2), r.met) for r in rows],
                         [("vectorised Octave", 3.0, "no"), ("MEX file in Octave", 3.5, "yes"),
                          ("vectorised Octave", 10.0, "yes"),
                          ("MEX file in Octave", 0.5, "no (results differ)")])
        self.assertEqual(problems, ["tally_pairs_full: the native function and the MEX file "
                                    "disagree"])
        memory = C.memory_rows(fixture("octave.json"))
        self.assertAlmostEqual(memory[0][3]["mex"][1], 1.75)  # (100 + 250) / 200


class FreshAndBounds(unittest.TestCase):
    def test_fresh_figures_and_targets(self):
        data = fixture("fresh.json")
        native = C.fresh_figures(data)[0]["impls"]["native"]
        self.assertEqual((native["best"], native["worst"], native["first"]), (0.2, 0.25, 0.5))
        self.assertAlmostEqual(native["factor"], (3e9 + 1.2e9) / 4e9)
        self.assertEqual(C.fresh_targets(data), [
            ("fold_links_full native >= 5x MEX file", "5.00x", "yes"),
            ("fold_links_full native >= 8x vectorised Octave", "7.50x", "no"),
            ("fold_links_full native on 2 processors >= 1.5x 1 thread", "1.55x", "yes"),
            ("fold_links_full native memory factor <= 1.3", "1.05", "yes"),
            ("tally_pairs_full/a native >= 7x straight loops (MEX)", "6.00x", "no"),
            ("`fold_links_full (zeros (2, 0), [2^31 - 1; 0])` (native), first call in a fresh "
             "process, < 1 s", "2.500 s", "no")])

    def test_threads_and_first_calls(self):
        data = fixture("fresh.json")
        [t] = C.thread_figures(data)  # the one shape timed on one thread
        # 0.31 s on one thread, 0.2 s on two: 1 / 1.55 = s + (1 - s) / 2
        s = 2 / 1.55 - 1
        self.assertAlmostEqual(t["serial"], s)
        self.assertAlmostEqual(t["projected"][8], 1 / (s + (1 - s) / 8))
        # superlinear speed-ups project no serial share below 0
        data["shapes"][0]["impls"]["native1"]["best_s"] = [0.5]
        self.assertEqual(C.thread_figures(data)[0]["serial"], 0.0)
        first = C.first_calls(data, fixture("machine.json"))
        self.assertEqual([(name, impl) for name, impl, *_ in first],
                         [("fold_links_full", "native"), ("tally_pairs_full/a", "native")])
        # 1e9 B at 2 s per GiB is 1.863 s: more than the first call, a share of 100%
        self.assertEqual(first[0][6], 1.0)

    def test_bounds(self):
        b = C.bounds(fixture("fresh.json"), fixture("machine.json"))
        self.assertEqual([(name, round(bound, 12)) for name, _, bound, _ in b],
                         [("fold_links_full", 0.2),  # 4 GB at 20 GB/s
                          ("tally_pairs_full/a", 5e-7),  # 1000 additions x 0.5 ns
                          ("tally_pairs_full/a", 4e-7)])  # 4000 multiplications at 10 per ns
        self.assertIn("1.863 s of first touch", b[0][1])  # 1e9 B at 2 s per GiB

    def test_parallel_figures(self):
        fold, tally = C.parallel_figures(fixture("parallel.json"))
        self.assertEqual((fold["pays"], tally["pays"]), (False, True))
        self.assertAlmostEqual(fold["speedup"], 0.025)
        self.assertEqual(fold["shipped_per_call"], 2000)
        text = render.parallel_sentence(fixture("parallel.json"))
        self.assertIn("took 500.00 ms with `cellfun` and 20.000 s with `parcellfun (2, ...)`", text)
        self.assertTrue(text.endswith("`parcellfun` paid for `tally_pairs_full` (1.60x). "
                                      "`parcellfun` did not pay for `fold_links_full` (0.03x)."))


class Rendering(unittest.TestCase):
    def test_blocks_are_replaced_in_place(self):
        doc = ("# P\n\nhand\n\n" + render.marker("x", False) + "\nold\n" + render.marker("x", True)
               + "\n\ntail\n")
        new = render.replace_block(doc, "x", "new", "## X")
        self.assertEqual(new.replace("old", "new"), doc.replace("old", "new"))
        self.assertNotIn("old", new)
        added = render.replace_block("# P\n", "y", "body", "## Y")
        self.assertTrue(added.endswith("## Y\n\n" + render.marker("y", False) + "\nbody\n"
                                       + render.marker("y", True) + "\n"))
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "doc.md")
            render.write_blocks(path, [("x", "one", "## X"), ("x", "two", "## X")])
            with open(path, encoding="utf-8") as f:
                self.assertEqual(f.read().count("## X"), 1)

    def test_report_from_fixtures(self):
        results = {"machine_probe": fixture("machine.json"), "octave": fixture("octave.json"),
                   "octave_fresh": fixture("fresh.json"), "maskdiff": fixture("maskdiff.json"),
                   "parallel": fixture("parallel.json"), "plugin_bench": fixture("gbench.json"),
                   "scaling": {"families": {"align_series": scaling_family()}}}
        info = {"nproc": 2, "mhz": 2100, "cpu": "Test CPU", "memory": "1 GiB", "os": "Test OS",
                "load_start": "1", "load": "2"}
        rows = C.maskdiff_rows(results["maskdiff"])
        text = render.generated_markdown(rows, info, "2026-01-01 00:00", False, results, ["p"])
        for expected in ("| clock | 2100 MHz |", "| first touch | 2.00 s per GiB |",
                         "| every processor | 1.50x | the widest unit's (AVX2)",
                         "run 1.50x as fast on its 2 processors at once as on one",
                         "| fold_links_full | native | 200.00 ms | 200.00 ms - 250.00 ms | "
                         "500.00 ms | - | 1200.0 MB (1.05) |",
                         "| fold_links_full | 4,000 MB read and written",
                         "### Parallel calls", "| 8 | 1.95 KiB | 500.00 ms | 20.000 s | 0.03x | no |",
                         "### Problems in this run"):
            self.assertIn(expected, text)
        self.assertNotIn("{", text)
        summary = render.md_summary(results, info, "2026-01-01 00:00", "make bench")
        self.assertIn("| `fold_links_full` | 100.00 ms | 350.00 ms (3.50x) | 300.00 ms (3.00x) |",
                      summary)
        self.assertIn("the first native call takes 500.00 ms, the calls after it 200.00 ms; the "
                      "first call writes its 1,000 MB of output into fresh pages, 1.863 s",
                      summary)
        self.assertIn("slower: `tally_pairs_full` against the MEX file in one session (0.50x).",
                      summary)
        # 3.5x in one session against 5x in fresh processes: within 1.5x, no remark.
        self.assertNotIn("speed-up of `fold_links_full`", summary)
        self.assertIn("\"How cost grows\", `align_series`: in a loop", summary)


if __name__ == "__main__":
    unittest.main()
