#!/usr/bin/env python3
"""tests/bench/report_test.py - the regression guard of bench/report, on handmade CSVs and stand-in programs.

The comparison decides whether a developer's change is reported as a slowdown, so it is checked on small tables
whose answer is known; the run mode is driven through stand-in bench_* scripts that print the closing table of a
benchmark program, which keeps the test to a second instead of the minutes a real report takes.

Usage: report_test.py PATH/TO/bench/report"""
import csv
import os
import stat
import subprocess
import sys
import tempfile
import textwrap
import unittest

REPORT = None
HEADER = ["family", "operation", "kel MB/s", "peer", "peer MB/s", "speedup", "kel comp", "peer comp"]


def row(family, operation, peer, kel, peer_mbps, comp="-"):
    return [family, operation, f"{kel:.1f}", peer, f"{peer_mbps:.1f}", f"{kel / peer_mbps:.2f}", comp, "-"]


class ReportTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def write(self, name, rows):
        with open(self.path(name), "w", newline="") as f:
            w = csv.writer(f)
            w.writerow(HEADER)
            w.writerows(rows)
        return self.path(name)

    def report(self, *args):
        done = subprocess.run([sys.executable, REPORT, *args], capture_output=True, text=True, cwd=self.dir.name)
        return done.returncode, done.stdout, done.stderr

    def line_of(self, out, operation):
        lines = [l for l in out.splitlines() if operation in l]
        self.assertEqual(len(lines), 1, out)
        return lines[0]


class CompareCsv(ReportTest):
    def test_flags_only_the_row_that_fell_past_the_threshold(self):
        base = self.write("base.csv", [row("inflate", "Inflate html", "zlib", 400, 200),
                                       row("inflate", "Inflate urls", "zlib", 300, 200),
                                       row("lz4", "Lz4Encode html", "lz4", 500, 500)])
        cur = self.write("cur.csv", [row("inflate", "Inflate html", "zlib", 350, 200),   # -12.5%
                                     row("inflate", "Inflate urls", "zlib", 275, 200),   # -8.3%
                                     row("lz4", "Lz4Encode html", "lz4", 600, 500)])     # +20%
        rc, out, _ = self.report("--compare-csv", cur, base)
        self.assertEqual(rc, 1, out)
        self.assertIn("SLOWER", self.line_of(out, "Inflate html"))
        self.assertIn("-12.5%", self.line_of(out, "Inflate html"))
        self.assertNotIn("SLOWER", self.line_of(out, "Inflate urls"))
        self.assertNotIn("SLOWER", self.line_of(out, "Lz4Encode html"))
        self.assertIn("+20.0%", self.line_of(out, "Lz4Encode html"))
        self.assertIn("3 rows compared, 1 marked", out)

    def test_threshold_option_moves_the_limit(self):
        base = self.write("base.csv", [row("inflate", "Inflate urls", "zlib", 300, 200)])
        cur = self.write("cur.csv", [row("inflate", "Inflate urls", "zlib", 275, 200)])
        self.assertEqual(self.report("--compare-csv", cur, base)[0], 0)
        self.assertEqual(self.report("--compare-csv", cur, base, "--threshold", "5")[0], 1)

    def test_rows_on_one_side_are_listed_but_do_not_fail(self):
        base = self.write("base.csv", [row("lzo", "LzoEncode html", "lzo2", 300, 300),
                                       row("lzo", "LzoDecode html", "lzo2", 900, 900)])
        cur = self.write("cur.csv", [row("lzo", "LzoEncode html", "lzo2", 300, 300),
                                     row("lzo", "LzoEncode html", "zlib", 900, 90)])
        rc, out, _ = self.report("--compare-csv", cur, base)
        self.assertEqual(rc, 0, out)
        base_part = out.split("only in the baseline")[1].split("only in the current run")[0]
        cur_part = out.split("only in the current run")[1]
        self.assertIn("LzoDecode html  lzo2", base_part)
        self.assertIn("LzoEncode html  zlib", cur_part)
        self.assertIn("1 rows compared, 0 marked", out)

    def test_rows_match_on_peer_too(self):
        # The same operation against two peers: a fall against one must not hide behind the other.
        base = self.write("base.csv", [row("deflate", "Deflate6 html", "zlib", 200, 100),
                                       row("deflate", "Deflate6 html", "libdeflate", 200, 200)])
        cur = self.write("cur.csv", [row("deflate", "Deflate6 html", "libdeflate", 200, 200),
                                     row("deflate", "Deflate6 html", "zlib", 200, 150)])
        rc, out, _ = self.report("--compare-csv", cur, base)
        self.assertEqual(rc, 1, out)
        lines = [l for l in out.splitlines() if "Deflate6 html" in l]
        self.assertIn("SLOWER", [l for l in lines if " zlib " in l][0])
        self.assertNotIn("SLOWER", [l for l in lines if "libdeflate" in l][0])

    def test_small_speedups_are_not_judged_on_the_rounded_column(self):
        # 0.05 -> 0.04 in the two-decimal column reads as -20%; the throughputs say -5%.
        base = self.write("base.csv", [row("regexp", "Find urls", "pcre2", 52.4, 1000)])
        cur = self.write("cur.csv", [row("regexp", "Find urls", "pcre2", 49.6, 1000)])
        rc, out, _ = self.report("--compare-csv", cur, base)
        self.assertEqual(rc, 0, out)
        self.assertIn("-5.3%", self.line_of(out, "Find urls"))

    def test_fall_of_kel_compression_ratio_is_marked(self):
        base = self.write("base.csv", [row("deflate", "Deflate6 html", "zlib", 100, 100, "3.500"),
                                       row("deflate", "Deflate1 html", "zlib", 100, 100, "3.000")])
        cur = self.write("cur.csv", [row("deflate", "Deflate6 html", "zlib", 130, 100, "3.400"),
                                     row("deflate", "Deflate1 html", "zlib", 100, 100, "2.990")])
        rc, out, _ = self.report("--compare-csv", cur, base)
        self.assertEqual(rc, 1, out)
        self.assertIn("LARGER", self.line_of(out, "Deflate6 html"))
        self.assertNotIn("LARGER", self.line_of(out, "Deflate1 html"))

    def test_only_limits_both_sides(self):
        base = self.write("base.csv", [row("lz4", "Lz4Encode html", "lz4", 500, 500),
                                       row("lzss", "LzssEncode html", "zlib", 500, 100)])
        cur = self.write("cur.csv", [row("lz4", "Lz4Encode html", "lz4", 500, 500),
                                     row("lzss", "LzssEncode html", "zlib", 100, 100)])
        rc, out, _ = self.report("--compare-csv", cur, base, "--only", "lz4")
        self.assertEqual(rc, 0, out)
        self.assertNotIn("Lzss", out)

    def test_unreadable_baseline_is_an_error_not_a_pass(self):
        cur = self.write("cur.csv", [row("lz4", "Lz4Encode html", "lz4", 500, 500)])
        self.assertEqual(self.report("--compare-csv", cur, self.path("missing.csv"))[0], 2)
        with open(self.path("junk.csv"), "w") as f:
            f.write("a,b\n1,2\n")
        self.assertEqual(self.report("--compare-csv", cur, self.path("junk.csv"))[0], 2)


# A stand-in benchmark program: prints a closing table like bench_main.cpp; its kel figure grows by 100 MB/s with
# each run (counted in a file, beside its arguments), and it fails when $FAIL names it.
FAKE = textwrap.dedent("""\
    #!/bin/sh
    n=$(cat "$0.runs" 2>/dev/null || echo 0); n=$((n + 1)); echo $n > "$0.runs"
    echo "$@" > "$0.args"
    [ "$FAIL" = "$(basename "$0")" ] && exit 3
    echo "BM_Noise/kel/x   12 ns"
    echo
    echo "family                       input                      peer           kel MB/s  peer MB/s  speedup  kel comp peer comp"
    echo "BM_{op}                  html                       zlib              $((n * 100)).0      100.0     $n.00     2.000     1.900"
    echo "BM_{op}Plain                                       zlib               50.0      100.0     0.50         -         -"
    echo "{n} benchmarks"
    """)


class RunMode(ReportTest):
    def setUp(self):
        super().setUp()
        os.makedirs(self.path("build/bench"))
        for family, op in (("alpha", "AlphaEncode"), ("beta", "BetaDecode")):
            prog = self.path(f"build/bench/bench_{family}")
            with open(prog, "w") as f:
                f.write(FAKE.replace("{op}", op))
            os.chmod(prog, os.stat(prog).st_mode | stat.S_IXUSR)

    def read(self, name):
        with open(self.path(name), newline="") as f:
            return list(csv.DictReader(f))

    def test_repeat_keeps_the_best_run_and_only_picks_programs(self):
        rc, out, err = self.report("build", "--only", "alpha", "--repeat", "3", "--csv", "out.csv")
        self.assertEqual(rc, 0, err)
        rows = self.read("out.csv")
        self.assertEqual([(r["family"], r["operation"]) for r in rows],
                         [("alpha", "AlphaEncode html"), ("alpha", "AlphaEncodePlain")])
        self.assertEqual((rows[0]["kel MB/s"], rows[0]["speedup"], rows[0]["kel comp"]), ("300.0", "3.00", "2.000"))
        self.assertFalse(os.path.exists(self.path("build/bench/bench_beta.runs")))

    def test_unknown_family_is_refused(self):
        rc, _, err = self.report("build", "--only", "alpha,gamma")
        self.assertEqual(rc, 2)
        self.assertIn("gamma", err)

    def test_baseline_round_trip_and_partial_rerecord(self):
        self.assertEqual(self.report("build", "--write-baseline", "base.csv")[0], 0)
        self.assertEqual(len(self.read("base.csv")), 4)
        # Second run of each program is faster: nothing is marked.
        rc, out, _ = self.report("build", "--compare", "base.csv")
        self.assertEqual(rc, 0, out)
        self.assertIn("4 rows compared, 0 marked", out)
        # Re-recording one family leaves the other's rows as they were.
        self.assertEqual(self.report("build", "--only", "beta", "--write-baseline", "base.csv")[0], 0)
        rows = {(r["family"], r["operation"]): r["speedup"] for r in self.read("base.csv")}
        self.assertEqual(rows, {("alpha", "AlphaEncode html"): "1.00", ("alpha", "AlphaEncodePlain"): "0.50",
                                ("beta", "BetaDecode html"): "3.00", ("beta", "BetaDecodePlain"): "0.50"})

    def test_failed_program_shows_up_as_missing_rows(self):
        self.assertEqual(self.report("build", "--write-baseline", "base.csv")[0], 0)
        env = dict(os.environ, FAIL="bench_beta")
        done = subprocess.run([sys.executable, REPORT, "build", "--compare", "base.csv"], capture_output=True,
                              text=True, cwd=self.dir.name, env=env)
        self.assertIn("bench_beta exited with status 3", done.stderr)
        self.assertIn("only in the baseline (2)", done.stdout)
        self.assertIn("2 rows compared", done.stdout)

    def runs(self, family):
        with open(self.path(f"build/bench/bench_{family}.runs")) as f:
            return int(f.read())

    def baseline(self, alpha_html_kel):
        # The stand-ins' first run measures speedup 1.00 on "html" and 0.50 on the plain rows.
        return self.write("base.csv", [row("alpha", "AlphaEncode html", "zlib", alpha_html_kel, 100, "2.000"),
                                       row("alpha", "AlphaEncodePlain", "zlib", 50, 100),
                                       row("beta", "BetaDecode html", "zlib", 100, 100, "2.000"),
                                       row("beta", "BetaDecodePlain", "zlib", 50, 100)])

    def test_recheck_clears_a_row_that_was_slow_once(self):
        self.baseline(190)  # the first run falls 47% short; the second (2.00) is above the baseline
        rc, out, err = self.report("build", "--compare", "base.csv")
        self.assertEqual(rc, 0, out)
        self.assertIn("rechecking 1 marked rows", err)
        self.assertEqual((self.runs("alpha"), self.runs("beta")), (2, 1))
        with open(self.path("build/bench/bench_alpha.args")) as f:
            self.assertIn(r"--benchmark_filter=^BM_AlphaEncode/[^/]*/html$ ", f.read())  # the marked row alone
        self.assertIn("+5.3%", self.line_of(out.split("against")[1], "AlphaEncode html"))

    def test_recheck_keeps_a_row_that_stays_slow(self):
        self.baseline(500)
        rc, out, _ = self.report("build", "--compare", "base.csv")
        self.assertEqual(rc, 1, out)
        self.assertIn("SLOWER", self.line_of(out.split("against")[1], "AlphaEncode html"))
        self.assertIn("-60.0%", self.line_of(out.split("against")[1], "AlphaEncode html"))

    def test_no_recheck_judges_the_first_pass(self):
        self.baseline(190)
        rc, out, _ = self.report("build", "--compare", "base.csv", "--no-recheck")
        self.assertEqual(rc, 1, out)
        self.assertEqual(self.runs("alpha"), 1)

    def test_compare_reads_the_baseline_before_running(self):
        rc, _, _ = self.report("build", "--compare", "missing.csv")
        self.assertEqual(rc, 2)
        self.assertFalse(os.path.exists(self.path("build/bench/bench_alpha.runs")))


if __name__ == "__main__":
    REPORT = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
