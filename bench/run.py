#!/usr/bin/env python3
"""Benchmarks turning screenshots into video: vexo-encode against the FFmpeg command line.

Makes screenshot folders, then times, alternately in the same run, `vexo-encode --interval 0`
and `ffmpeg -framerate 25 -i shot%04d.tga -c:v CODEC out.avi` on the same frames with the
same codec, at gamma 1.0 and 1.2 (FFmpeg applies the same curve with lutrgb), and the floor
(reading every file once). H.264 is timed into MP4 and into Matroska against FFmpeg's
`-c:v libx264 -crf 23 ... out.mp4` with the encoder set up as ours. Prints a table of median
wall time, frames per second, peak memory, the ratio ours / FFmpeg and the ratio of the
files' sizes, and writes it to bench/out/results.md.
"""
import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "bin")
OUT = os.path.join(ROOT, "bench", "out")
VIDEOS = OUT  # where the videos go (--videos)

# x264 as the program sets it up: crf 23 (quality 68 %), preset medium, no B-frames, no
# look-ahead, frames taken as constant-rate, threads that split each frame into slices, and
# the same conversion into YUV (bicubic, accurate rounding): the same frames, byte for byte.
X264 = ["-sws_flags", "bicubic+accurate_rnd", "-c:v", "libx264", "-crf", "23", "-pix_fmt", "yuv420p",
        "-bf", "0", "-rc-lookahead", "0",
        "-x264-params", "force-cfr=1:sliced-threads=1"]

CODECS = [  # (name, our four-character code, our file, ffmpeg encoder arguments, ffmpeg's file)
    ("uncompressed", "DIB", "avi", ["-c:v", "rawvideo", "-pix_fmt", "bgr24"], "avi"),
    ("huffyuv", "HFYU", "avi", ["-c:v", "huffyuv"], "avi"),
    ("ffv1", "FFV1", "avi", ["-c:v", "ffv1"], "avi"),
    ("h264-mp4", "H264", "mp4", X264, "mp4"),
    ("h264-mkv", "H264", "mkv", X264, "mp4"),
]


def gamma_expr(g):
    """The program's gamma curve as an FFmpeg expression of the channel value."""
    e = 1.8 - g
    e = min(max(e, 0.1), 5.0)
    return "clip(trunc(pow((val+0.5)*0.003913894324853229\\,%r)*255+0.5)\\,0\\,255)" % e


def gamma_table(g):
    """The program's gamma curve as a byte table, computed as the program computes it (the
    exponent in single precision)."""
    f32 = lambda x: struct.unpack("f", struct.pack("f", x))[0]
    e = f32(f32(1.8) - f32(g))
    e = min(max(e, 0.1), 5.0)
    return bytes(min(255, max(0, int(((v + 0.5) * 0.003913894324853229) ** e * 255 + 0.5)))
                 for v in range(256))


def curved_set(folder, g):
    """A copy of a folder of uncompressed 24-bit screenshots with the gamma curve already
    applied: gamma 1.0 on it makes the very frames gamma g makes on the original."""
    target = folder + "-curved-%s" % g
    stamp = os.path.join(target, ".done")
    if os.path.exists(stamp):
        return target
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    table = gamma_table(g)
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".tga"):
            continue
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        start = 18 + data[0]
        with open(os.path.join(target, name), "wb") as f:
            f.write(data[:start] + data[start:].translate(table))
    open(stamp, "w").close()
    return target


def framemd5(avi):
    out = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", avi, "-f", "framemd5", "-"],
                         check=True, capture_output=True, text=True).stdout
    return [line.split(",")[-1].strip() for line in out.splitlines() if not line.startswith("#")]


def gamma_cost(args):
    """What the gamma step itself costs: ours at gamma 1.2 against ours at gamma 1.0 on a copy
    of the screenshots with the curve already applied. Both make the same frames (checked),
    so the encoder has the same work and only the gamma step differs. Beside it, gamma 1.2
    against gamma 1.0 on the original screenshots, ours and FFmpeg's, where the encoder also
    works on different pictures."""
    lines = ["| frames | codec | ours 1.0 s | ours 1.2 s | ours 1.0 on curved s | "
             "gamma step (1.2 / curved) | ours 1.2 / 1.0 | ffmpeg 1.2 / 1.0 |",
             "|---|---|---|---|---|---|---|---|"]
    ffmpeg = shutil.which("ffmpeg")
    for dims in args.sets.split(","):
        w, h, bits = (int(x) for x in dims.split("x"))
        if bits != 24:
            continue
        folder = make_set("screens-%s-%d" % (dims, args.frames), args.frames, w, h, bits)
        curved = curved_set(folder, 1.2)
        for cname, fourcc, _, fargs, _ in CODECS:
            if cname not in args.codecs.split(",") or fargs is X264:
                continue
            avi = lambda tag: os.path.join(VIDEOS, "gamma-%s.avi" % tag)
            ours = lambda src, g, tag: [os.path.join(BIN, "vexo-encode"), "--interval", "0",
                                        "--fourcc", fourcc, "--gamma", str(g), src, avi(tag)]
            theirs = lambda vf, tag: ([ffmpeg, "-nostdin", "-loglevel", "error", "-y",
                                       "-framerate", "25", "-i",
                                       os.path.join(folder, "shot%04d.tga")] + vf + fargs +
                                      [avi(tag)])
            e = gamma_expr(1.2)
            cmds = {"o10": ours(folder, 1.0, "o10"), "o12": ours(folder, 1.2, "o12"),
                    "oc": ours(curved, 1.0, "oc"), "t10": theirs([], "t10"),
                    "t12": theirs(["-vf", "lutrgb=r=%s:g=%s:b=%s" % (e, e, e)], "t12")}
            times = {k: [] for k in cmds}
            for _ in range(args.runs):
                for k, cmd in cmds.items():
                    times[k].append(timed(cmd)[0])
            if framemd5(avi("o12")) != framemd5(avi("oc")):
                sys.exit("gamma 1.2 and the curved copy make different frames (%s %s)"
                         % (dims, cname))
            m = {k: statistics.median(v) for k, v in times.items()}
            lines.append("| %s | %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |" % (
                dims, cname, m["o10"], m["o12"], m["oc"], m["o12"] / m["oc"],
                m["o12"] / m["o10"], m["t12"] / m["t10"]))
            print(lines[-1], flush=True)
    table = "\n".join(lines)
    print(table)
    with open(os.path.join(OUT, "gamma.md"), "w") as f:
        f.write("%d frames per set, median of %d alternating runs, %s\n\n%s\n" % (
            args.frames, args.runs, time.strftime("%Y-%m-%d"), table))


def timed(cmd):
    """Runs cmd; returns (wall seconds, peak resident memory in MiB)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), err[-2000:]))
    return wall, usage.ru_maxrss / 1024.0


def read_floor(folder):
    start = time.perf_counter()
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            while f.read(1 << 20):
                pass
    return time.perf_counter() - start, 0.0


def make_set(name, count, width, height, bits):
    folder = os.path.join(OUT, name)
    stamp = os.path.join(folder, ".done")
    if os.path.exists(stamp):
        return folder
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    subprocess.check_call([os.path.join(BIN, "vexo-make-screens"), folder, str(count),
                           str(width), str(height), str(bits)])
    open(stamp, "w").close()
    return folder


def realtime(seconds, fourcc):
    """The stand-in game writes 640x480 frames at 125 per second while vexo-encode collects
    them as the program does in Realtime (interval 1000, files emptied as they are taken).
    Samples the screenshots folder every 20 ms: frames written (files present) minus frames
    taken (files emptied). Returns (frames written, frames in the AVI, worst lag in frames,
    worst lag in seconds at 125 fps, lag at the game's end, seconds from the game's end
    until the collector finished)."""
    tree = os.path.join(OUT, "realtime")
    shutil.rmtree(tree, ignore_errors=True)
    mod = os.path.join(tree, "baseq3")
    shots = os.path.join(mod, "screenshots")
    os.makedirs(os.path.join(mod, "demos"))
    os.makedirs(shots)
    with open(os.path.join(mod, "demos", "bench.dm_68"), "w") as f:
        f.write("length %d\n" % seconds)
    with open(os.path.join(mod, "vexo_bench.cfg"), "w") as f:
        f.write("set cl_avidemo 125\nset r_mode 3\ndemo bench\n")
    avi = os.path.join(OUT, "realtime.avi")
    enc = subprocess.Popen([os.path.join(BIN, "vexo-encode"), "--interval", "1000", "--consume",
                            "--fourcc", fourcc, shots, avi],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    game = subprocess.Popen([os.path.join(BIN, "vexo-stand-in-game"), "+set", "fs_game", "baseq3",
                             "+exec", "vexo_bench"], cwd=tree,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    worst = 0
    most = 0
    game_end = None
    lag_at_end = None
    while enc.poll() is None:
        written = taken = 0
        try:
            with os.scandir(shots) as it:
                for e in it:
                    if e.name.startswith("shot"):
                        try:
                            size = e.stat().st_size
                        except FileNotFoundError:
                            continue  # deleted at the end
                        written += 1
                        taken += size == 0
        except FileNotFoundError:
            pass
        most = max(most, written)
        if written == most:  # the files are deleted when the collector ends
            worst = max(worst, written - taken)
        if game_end is None and game.poll() is not None:
            game_end = time.perf_counter()
            lag_at_end = written - taken
        time.sleep(0.02)
    end = time.perf_counter()
    err = enc.stderr.read().decode(errors="replace")
    if game.wait() != 0 or enc.returncode != 0:
        sys.exit("realtime run failed:\n" + err[-2000:])
    if game_end is None:
        game_end = end
        lag_at_end = 0
    frames = 0
    for line in err.splitlines():
        if line.startswith("Wrote "):
            frames = int(line.split()[1])
    return most, frames, worst, worst / 125.0, lag_at_end, end - game_end


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--frames", type=int, default=300)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--sets", default="640x480x24,1600x1200x24,640x480x32")
    ap.add_argument("--codecs", default=",".join(c[0] for c in CODECS))
    ap.add_argument("--floor", action=argparse.BooleanOptionalAction, default=True,
                    help="time reading the files as well (--no-floor: only the codecs)")
    ap.add_argument("--realtime", type=int, metavar="SECONDS", default=0,
                    help="instead: the Realtime run with a demo of this many seconds")
    ap.add_argument("--videos", metavar="DIR", default=OUT,
                    help="write the videos there (default bench/out, on disk like a user's)")
    ap.add_argument("--blend", type=int, metavar="K", default=0,
                    help="motion blur: K sub-frames a frame, ours (--blend K) against FFmpeg's "
                         "tmix=frames=K and every K-th frame")
    ap.add_argument("--earlier", metavar="VEXO_ENCODE", default="",
                    help="also time this vexo-encode (an earlier build), alternating with ours")
    ap.add_argument("--gamma-cost", action="store_true",
                    help="instead: what the gamma step itself costs (see gamma_cost)")
    args = ap.parse_args()
    global VIDEOS
    VIDEOS = args.videos
    os.makedirs(OUT, exist_ok=True)
    os.makedirs(VIDEOS, exist_ok=True)
    if args.gamma_cost:
        gamma_cost(args)
        return
    if args.realtime:
        lines = ["| codec | frames written | frames in AVI | worst lag frames | worst lag s | "
                 "lag at game end | collector done after game s |", "|---|---|---|---|---|---|---|"]
        for cname, fourcc, ext, _, _ in CODECS:
            if cname not in args.codecs.split(",") or ext != "avi":
                continue
            for _ in range(args.runs):
                r = realtime(args.realtime, fourcc)
                lines.append("| %s | %d | %d | %d | %.2f | %d | %.1f |" % ((cname,) + r))
                print(lines[-1], flush=True)
        table = "\n".join(lines)
        print(table)
        with open(os.path.join(OUT, "realtime.md"), "w") as f:
            f.write("640x480 at 125 fps, demo of %d s, %s\n\n%s\n" % (
                args.realtime, time.strftime("%Y-%m-%d"), table))
        return
    ffmpeg = shutil.which("ffmpeg")
    if not ffmpeg:
        sys.exit("ffmpeg not found")
    rows = []
    for dims in args.sets.split(","):
        w, h, bits = (int(x) for x in dims.split("x"))
        folder = make_set("screens-%s-%d" % (dims, args.frames), args.frames, w, h, bits)
        if args.floor:
            floor = statistics.median(read_floor(folder)[0] for _ in range(args.runs))
            rows.append((dims, "floor (read files)", "", floor, None, None, None, None))
        for cname, fourcc, ext, fargs, fext in CODECS:
            if cname not in args.codecs.split(","):
                continue
            for g in (1.0, 1.2):
                if (bits == 32 or args.blend) and g != 1.0:
                    continue
                ours_avi = os.path.join(VIDEOS, "ours." + ext)
                theirs_avi = os.path.join(VIDEOS, "ffmpeg." + fext)
                ours_cmd = [os.path.join(BIN, "vexo-encode"), "--interval", "0", "--fourcc", fourcc,
                            "--gamma", str(g), folder, ours_avi]
                if fargs is X264:
                    ours_cmd[3:3] = ["--quality", "68"]
                vf = []
                if g != 1.0:
                    e = gamma_expr(g)
                    vf = ["-vf", "lutrgb=r=%s:g=%s:b=%s" % (e, e, e)]
                if args.blend:
                    k = args.blend
                    ours_cmd[1:1] = ["--blend", str(k)]
                    # Every K-th frame of tmix, each written once (no frames repeated to fill
                    # the gaps select leaves).
                    vf = ["-vf", "tmix=frames=%d,select='eq(mod(n\\,%d)\\,%d)'" % (k, k, k - 1),
                          "-fps_mode", "passthrough"]
                theirs_cmd = [ffmpeg, "-nostdin", "-loglevel", "error", "-y", "-framerate", "25",
                              "-i", os.path.join(folder, "shot%04d.tga")] + vf + fargs + [theirs_avi]
                ours, theirs, earlier = [], [], []
                for _ in range(args.runs):  # alternate, so both see the same machine
                    ours.append(timed(ours_cmd))
                    theirs.append(timed(theirs_cmd))
                    if args.earlier:
                        earlier.append(timed([args.earlier] + ours_cmd[1:]))
                ow = statistics.median(t for t, _ in ours)
                tw = statistics.median(t for t, _ in theirs)
                if earlier:
                    ew = statistics.median(t for t, _ in earlier)
                    print("%-12s %-13s g=%.1f earlier %.2fs ratio %.2f, ours/earlier %.3f"
                          % (dims, cname, g, ew, ew / tw, ow / ew), flush=True)
                om = max(m for _, m in ours)
                tm = max(m for _, m in theirs)
                size = os.path.getsize(ours_avi) / os.path.getsize(theirs_avi)
                rows.append((dims, cname, "%.1f" % g, ow, tw, om, tm, ow / tw, size))
                print("%-12s %-13s g=%.1f ours %.2fs ffmpeg %.2fs ratio %.2f mem %.0f/%.0f MiB "
                      "size %.3f" % (dims, cname, g, ow, tw, ow / tw, om, tm, size), flush=True)
    lines = ["| frames | codec | gamma | ours s | ours fps | ffmpeg s | ffmpeg fps | ours MiB | "
             "ffmpeg MiB | ours/ffmpeg | size ours/ffmpeg |",
             "|---|---|---|---|---|---|---|---|---|---|---|"]
    for dims, cname, g, ow, tw, om, tm, ratio, *size in rows:
        if tw is None:
            lines.append("| %s | %s | | %.2f | %.0f | | | | | | |" % (
                dims, cname, ow, args.frames / ow))
        else:
            lines.append("| %s | %s | %s | %.2f | %.0f | %.2f | %.0f | %.0f | %.0f | %.2f | %.3f |"
                         % (dims, cname, g, ow, args.frames / ow, tw, args.frames / tw, om, tm,
                            ratio, size[0]))
    table = "\n".join(lines)
    print(table)
    with open(os.path.join(OUT, "results.md"), "w") as f:
        f.write("%d frames per set, median of %d alternating runs, %s\n\n%s\n" % (
            args.frames, args.runs, time.strftime("%Y-%m-%d"), table))


if __name__ == "__main__":
    main()
