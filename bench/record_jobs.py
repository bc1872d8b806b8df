#!/usr/bin/env python3
"""Four short real demos through vexo-record: one at a time (--jobs 1), two at a time
(--jobs 2) and with GNU parallel -j2 (one vexo-record per demo), alternating in the same run.

Lays out a game folder as ioquake3's own release does (the engine beside OpenArena's data,
as the tests do) in bench/out/record/, with tests/data/openarena/short.dm_71 copied four
times, and a portable copy of build/bin/vexo-record with our default.cfg. Every case runs
without DISPLAY, so each game gets a virtual display of its own, as on a server. Each run's
JSON lines must say that all four demos were recorded. Prints each case's median wall time
and the ratios to --jobs 1."""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ENGINE = "/usr/lib/ioquake3"
DATA = "/usr/lib/openarena/baseoa"
DEMOS = ["short1", "short2", "short3", "short4"]


def lay_out(out):
    shutil.rmtree(out, ignore_errors=True)
    game = os.path.join(out, "Open Arena")
    mod = os.path.join(game, "baseoa")
    os.makedirs(os.path.join(mod, "demos"))
    for name in os.listdir(ENGINE):
        source = os.path.join(ENGINE, name)
        if os.path.isfile(source) and name != "ioq3ded":
            target = "ioquake3.x86_64" if name == "ioquake3" else name
            shutil.copy2(source, os.path.join(game, target))
    for name in os.listdir(DATA):
        os.symlink(os.path.realpath(os.path.join(DATA, name)), os.path.join(mod, name))
    for demo in DEMOS:
        shutil.copy(os.path.join(ROOT, "tests/data/openarena/short.dm_71"),
                    os.path.join(mod, "demos", demo + ".dm_71"))
    program = os.path.join(out, "program")
    os.makedirs(os.path.join(program, "configs"))
    shutil.copy(os.path.join(ROOT, "build/bin/vexo-record"), program)
    shutil.copy(os.path.join(ROOT, "configs/default.cfg"), os.path.join(program, "configs"))
    videos = os.path.join(out, "videos")
    os.makedirs(videos)
    with open(os.path.join(program, "vexo.ini"), "w") as ini:
        ini.write("[paths]\nquake=%s\noutput=%s\n" % (game, videos))
    return program, videos


def run(case, program, videos, out):
    for name in os.listdir(videos):
        os.remove(os.path.join(videos, name))
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env["XDG_STATE_HOME"] = os.path.join(out, "state")
    recorder = os.path.join(program, "vexo-record")
    if case == "parallel -j2":
        command = ["parallel", "-j2", recorder, "--json", "{}", ":::"] + DEMOS
    else:
        command = [recorder, "--json", "--jobs", case.split()[-1]] + DEMOS
    start = time.monotonic()
    done = subprocess.run(command, env=env, capture_output=True, text=True)
    took = time.monotonic() - start
    reports = [json.loads(line) for line in done.stdout.splitlines()]
    recorded = sorted(r["demo"] for r in reports if r["result"] == "recorded")
    if done.returncode != 0 or recorded != [d + ".dm_71" for d in DEMOS]:
        sys.exit("%s failed (exit %d):\n%s\n%s" % (case, done.returncode, done.stdout,
                                                   done.stderr[-2000:]))
    return took


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--out", default=os.path.join(ROOT, "bench/out/record"))
    args = parser.parse_args()
    program, videos = lay_out(args.out)
    cases = ["--jobs 1", "--jobs 2", "parallel -j2"]
    times = {case: [] for case in cases}
    for i in range(args.runs):
        for case in cases:
            times[case].append(run(case, program, videos, args.out))
            print("run %d %-13s %6.1f s" % (i + 1, case, times[case][-1]), flush=True)
    base = statistics.median(times["--jobs 1"])
    print("\n| case | median wall time | against --jobs 1 |\n|---|---|---|")
    for case in cases:
        median = statistics.median(times[case])
        print("| `%s` | %.1f s | %.2f |" % (case, median, median / base))
    shutil.rmtree(args.out, ignore_errors=True)


if __name__ == "__main__":
    main()
