#!/usr/bin/env python3
"""Iconweld benchmark: CPU time, wall time and peak memory against cat and other converters.

    python3 bench/run_bench.py [--rounds N] [--peer-rounds N] [--svg PATH] [--also LABEL=PATH]

Builds iconweld and the two helpers (bench/make_bench_inputs.cc, bench/measure.cc) with the
default preset, writes the input pictures under build/bench/, then measures, case by case:

  iconweld   the tool, standard output to /dev/null
  cat        copying the same input bytes to a file: the floor
  dd         a plain read/write copy with 512 KiB blocks (single pictures only): cat copies
             inside the kernel (copy_file_range) where a converter has to read and write
  netpbm     bmptopnm | pnmtopalm, where installed; one pipeline per icon for the family,
             run by sh and joined with pnmtopalm -offset
  ImageMagick  /usr/bin/convert in.bmp PALM:out, where installed

Each measured run is paired with a cat run just before it; a tool's ratio to cat is the median
of the per-pair ratios, so that load on the other core does not skew it. CPU time is user plus
system time of all processes of a run. Peak memory is the largest resident set seen over the
runs, added up over the processes of a pipeline.

Prints the machine, the figures as Markdown tables and the targets met or missed, and writes a
chart of CPU time against input size as SVG (docs/benchmark-cpu.svg by default). --also adds
another build of iconweld, measured the same way (docs/benchmarks.md uses it for a build with
libstdc++ linked statically).
"""

import argparse
import glob
import json
import math
import os
import platform
import shutil
import statistics
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "default")
WORK = os.path.join(ROOT, "build", "bench")
IMAGEMAGICK = "/usr/bin/convert"  # /usr/local/bin/convert may be something else

ICONWELD = "iconweld"
CAT = "cat"
DD = "dd"
NETPBM = "netpbm"
MAGICK = "ImageMagick"
TOOL_ORDER = [ICONWELD, CAT, DD, NETPBM, MAGICK]
PEERS = {NETPBM, MAGICK}
COLOURS = {ICONWELD: "#d62728", CAT: "#333333", DD: "#7f7f7f", NETPBM: "#1f77b4",
           MAGICK: "#2ca02c"}
# Other builds of iconweld to measure beside it (--also), by label: they are run like iconweld.
OTHER_BUILDS = {}
OTHER_COLOURS = ["#ff7f0e", "#9467bd", "#8c564b"]

TARGETS_CPU = {"big-8": 1.3, "big-1": 1.4, "icons": 3.0}
MEMORY_LIMIT_KIB = 8 * 1024
MEMORY_GROWTH_KIB = 1024


def run_quiet(argv, **kwargs):
    return subprocess.run(argv, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, **kwargs).stdout


def build():
    if not os.path.exists(os.path.join(BUILD, "CMakeCache.txt")):
        run_quiet(["cmake", "--preset", "default"], cwd=ROOT)
    run_quiet(["cmake", "--build", "--preset", "default", "--target", "iconweld",
               "make_bench_inputs", "measure"], cwd=ROOT)


def first_line(argv):
    try:
        out = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return out.stdout.strip().splitlines()[0]
    except (OSError, IndexError):
        return "not found"


def cache_value(name):
    with open(os.path.join(BUILD, "CMakeCache.txt")) as cache:
        for line in cache:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return ""


def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return {
        "nproc": len(os.sched_getaffinity(0)),
        "cpu": model,
        "kernel": platform.release(),
        "compiler": first_line([cache_value("CMAKE_CXX_COMPILER"), "--version"]),
        "build type": cache_value("CMAKE_BUILD_TYPE"),
        "cat": first_line(["cat", "--version"]),
        "netpbm": first_line(["pnmtopalm", "--version"]) if shutil.which("pnmtopalm") else
                  "not installed",
        "ImageMagick": first_line([IMAGEMAGICK, "-version"]) if os.access(IMAGEMAGICK, os.X_OK)
                       else "not installed",
    }


def make_inputs():
    inputs = os.path.join(WORK, "in")
    shutil.rmtree(inputs, ignore_errors=True)
    run_quiet([os.path.join(BUILD, "make_bench_inputs"), inputs])
    return inputs


def bit_count(path):
    with open(path, "rb") as bmp:
        header = bmp.read(30)
    return int.from_bytes(header[28:30], "little")


def cases(inputs):
    """Each case: name, label, tag on the chart, input files."""
    icons = sorted(glob.glob(os.path.join(inputs, "icons", "*.bmp")))
    return [
        ("small", "4-bit 48 x 36 (1 KB)", "1 KB 4-bit", [os.path.join(inputs, "small-4.bmp")]),
        ("icons", "1,000 icons 32 x 32, 1/2/4/8-bit", "1,000 icons", icons),
        ("icons-20", "the first 20 icons, 1/2/4/8-bit", "", icons[:20]),
        ("icons-15", "the 15 of them that are 1/4/8-bit", "",
         [p for p in icons[:20] if bit_count(p) != 2]),
        ("mid-8", "8-bit 2000 x 2000 (4 MB)", "4 MB 8-bit", [os.path.join(inputs, "mid-8.bmp")]),
        ("big-1", "1-bit 16000 x 16000, inverted (32 MB)", "32 MB 1-bit",
         [os.path.join(inputs, "big-1.bmp")]),
        ("big-8", "8-bit 8000 x 8000 (64 MB)", "64 MB 8-bit", [os.path.join(inputs, "big-8.bmp")]),
    ]


def tools_for(case_name, files):
    """The tools measured on a case, in order. ImageMagick takes about half a second per
    picture, so it gets the two small families in place of the 1,000 icons."""
    if case_name in ("icons-20", "icons-15"):
        tools = [ICONWELD] + list(OTHER_BUILDS)
        return tools + [MAGICK] if os.access(IMAGEMAGICK, os.X_OK) else tools
    tools = [ICONWELD] + list(OTHER_BUILDS)
    if len(files) == 1:
        tools.append(DD)
    if shutil.which("bmptopnm") and shutil.which("pnmtopalm"):
        tools.append(NETPBM)
    if os.access(IMAGEMAGICK, os.X_OK) and case_name != "icons":
        tools.append(MAGICK)
    return tools


def netpbm_script(files, path):
    """One bmptopnm | pnmtopalm pipeline per picture, at the picture's own depth; -offset chains
    each record to the next, as the family file does."""
    with open(path, "w") as script:
        for i, f in enumerate(files):
            offset = " -offset" if i + 1 < len(files) else ""
            script.write("bmptopnm -quiet '%s' | pnmtopalm -depth=%d%s\n"
                         % (f, bit_count(f), offset))


def command(tool, files, out, case_name):
    """The measure arguments after the executable: where standard output goes, then the
    command."""
    if tool == CAT:
        return [out, "cat"] + files
    if tool == ICONWELD:
        return ["-", os.path.join(BUILD, "iconweld")] + files + [out]
    if tool in OTHER_BUILDS:
        return ["-", OTHER_BUILDS[tool]] + files + [out]
    if tool == DD:
        return ["-", "dd", "if=" + files[0], "of=" + out, "bs=512K", "status=none"]
    if tool == NETPBM:
        if len(files) == 1:
            return [out, "bmptopnm", "-quiet", files[0], "|", "pnmtopalm",
                    "-depth=%d" % bit_count(files[0])]
        script = os.path.join(WORK, case_name + "-netpbm.sh")
        netpbm_script(files, script)
        return [out, "sh", script]
    if tool == MAGICK:
        return ["-", IMAGEMAGICK] + files + ["PALM:" + out]
    raise ValueError(tool)


def measure(tool, files, case_name):
    out = os.path.join(WORK, "out-" + "".join(c if c.isalnum() else "-" for c in tool))
    if os.path.exists(out):
        # A fresh file every run: rewriting a file truncated to zero makes ext4 start writing
        # it back at close, a cost that would fall on whichever command came next.
        os.unlink(out)
    argv = [os.path.join(BUILD, "measure")] + command(tool, files, out, case_name)
    run = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if run.returncode != 0:
        sys.exit("measure failed: %s\n%s" % (" ".join(argv), run.stderr))
    wall, user, system, rss_sum, _, status = run.stdout.split()
    return {"wall": float(wall), "cpu": float(user) + float(system), "rss": int(rss_sum),
            "status": int(status), "stderr": run.stderr.strip(),
            "out_bytes": os.path.getsize(out) if os.path.exists(out) else 0}


def run_case(case_name, files, rounds, peer_rounds):
    tools = [t for t in tools_for(case_name, files) if peer_rounds > 0 or t not in PEERS]
    refused = {}
    for tool in [CAT] + tools:  # warm the page cache and see who refuses the input
        first = measure(tool, files, case_name)
        if first["status"] != 0 or first["out_bytes"] == 0:
            lines = first["stderr"].replace(ROOT + "/", "").splitlines()
            refused[tool] = "exit status %d%s" % (first["status"],
                                                  ": " + lines[0] if lines else "")
    runs = {tool: [] for tool in [CAT] + tools}
    ratios = {tool: {"cpu": [], "wall": []} for tool in tools}
    for r in range(rounds):
        for tool in tools:
            if tool in refused or (tool in PEERS and r >= peer_rounds):
                continue
            floor = measure(CAT, files, case_name)
            result = measure(tool, files, case_name)
            if result["status"] != 0:
                sys.exit("%s failed on %s: %s" % (tool, case_name, result["stderr"]))
            runs[CAT].append(floor)
            runs[tool].append(result)
            ratios[tool]["cpu"].append(result["cpu"] / max(floor["cpu"], 1e-6))
            ratios[tool]["wall"].append(result["wall"] / max(floor["wall"], 1e-6))
    summary = {}
    for tool, results in runs.items():
        if tool in refused:
            summary[tool] = {"refused": refused[tool]}
            continue
        summary[tool] = {
            "runs": len(results),
            "cpu": statistics.median(r["cpu"] for r in results),
            "wall": statistics.median(r["wall"] for r in results),
            "rss": max(r["rss"] for r in results),
        }
        if tool != CAT:
            summary[tool]["cpu_ratio"] = statistics.median(ratios[tool]["cpu"])
            summary[tool]["wall_ratio"] = statistics.median(ratios[tool]["wall"])
    if case_name == "icons" and os.access(IMAGEMAGICK, os.X_OK):
        summary[MAGICK] = {"note": "not run on 1,000 pictures: see the 20- and 15-icon families"}
    return summary


def print_tables(results, info):
    print("## Machine\n")
    for key, value in info.items():
        print("- %s: %s" % (key, value))
    print("\n## Figures\n")
    print("Medians over the runs; ratios are medians of per-pair ratios to the cat run just "
          "before; peak RSS is the largest seen (summed over a pipeline's processes).\n")
    print("| case | tool | runs | CPU ms | CPU / cat | wall ms | wall / cat | peak RSS KiB |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    for case in results:
        for tool in TOOL_ORDER:
            s = case["tools"].get(tool)
            if s is None:
                continue
            if "refused" in s or "note" in s:
                note = "refused, " + s["refused"] if "refused" in s else s["note"]
                print("| %s | %s | | %s | | | | |" % (case["label"], tool, note.replace("|", "/")))
                continue
            print("| %s | %s | %d | %.1f | %s | %.1f | %s | %d |" % (
                case["label"], tool, s["runs"], s["cpu"] * 1e3,
                "%.2f" % s["cpu_ratio"] if "cpu_ratio" in s else "1",
                s["wall"] * 1e3, "%.2f" % s["wall_ratio"] if "wall_ratio" in s else "1",
                s["rss"]))


def check_targets(results):
    by_name = {case["name"]: case["tools"] for case in results}
    lines = []
    for build_label in [ICONWELD] + list(OTHER_BUILDS):
        for name, limit in TARGETS_CPU.items():
            s = by_name[name][build_label]
            lines.append(("met" if s["cpu_ratio"] <= limit else "MISSED",
                          "%s: %s CPU / cat = %.2f (target at most %.1f)"
                          % (name, build_label, s["cpu_ratio"], limit)))
        small = by_name["small"][build_label]["rss"]
        for case in results:
            rss = case["tools"][build_label]["rss"]
            ok = rss < MEMORY_LIMIT_KIB and rss - small <= MEMORY_GROWTH_KIB
            lines.append(("met" if ok else "MISSED",
                          "%s: %s peak RSS %d KiB (under %d, and within %d of the 1 KB "
                          "input's %d)" % (case["name"], build_label, rss, MEMORY_LIMIT_KIB,
                                           MEMORY_GROWTH_KIB, small)))
    print("\n## Targets\n")
    for verdict, text in lines:
        print("- %s: %s" % (verdict, text))


def write_svg(results, path):
    """CPU time against input size, both on log scales: one line per tool through the single
    pictures, and a hollow square for the 1,000-icon family at its total size."""
    width, height = 740, 500
    left, right, top, bottom = 70, 170, 30, 90
    x_lo, x_hi = 2.5, 8.0   # log10 bytes: 316 B .. 100 MB
    y_lo, y_hi = -3.5, 2.0  # log10 seconds: 0.3 ms .. 100 s
    plot_bottom = height - bottom

    def px(size):
        return left + (math.log10(size) - x_lo) / (x_hi - x_lo) * (width - left - right)

    def py(seconds):
        v = min(max(math.log10(max(seconds, 1e-6)), y_lo), y_hi)
        return plot_bottom - (v - y_lo) / (y_hi - y_lo) * (plot_bottom - top)

    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
           'font-family="sans-serif" font-size="12">' % (width, height),
           '<rect width="100%" height="100%" fill="white"/>',
           '<text x="%d" y="18" font-size="14">CPU time (user + system, median) against input '
           'size</text>' % left]
    for e in range(3, 9):
        x = px(10 ** e)
        out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#e4e4e4"/>'
                   % (x, top, x, plot_bottom))
        label = {3: "1 KB", 4: "10 KB", 5: "100 KB", 6: "1 MB", 7: "10 MB", 8: "100 MB"}[e]
        out.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>'
                   % (x, plot_bottom + 16, label))
    for e in range(-3, 3):
        y = py(10 ** e)
        out.append('<line x1="%d" y1="%.1f" x2="%d" y2="%.1f" stroke="#e4e4e4"/>'
                   % (left, y, width - right, y))
        label = {-3: "1 ms", -2: "10 ms", -1: "100 ms", 0: "1 s", 1: "10 s", 2: "100 s"}[e]
        out.append('<text x="%d" y="%.1f" text-anchor="end">%s</text>' % (left - 6, y + 4, label))
    tagged = sorted((case["bytes"], case["tag"]) for case in results if case["tag"])
    for row, (size, tag) in enumerate(tagged):
        # One row per case, so that tags of neighbouring sizes do not overlap.
        x = px(size)
        out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#aaa" '
                   'stroke-dasharray="3,3"/>' % (x, top, x, plot_bottom))
        anchor = "end" if x > (left + width - right) / 2 else "start"
        out.append('<text x="%.1f" y="%d" font-size="11" fill="#555" text-anchor="%s">%s</text>'
                   % (x - 4 if anchor == "end" else x + 4,
                      plot_bottom - 6 - 13 * (len(tagged) - 1 - row), anchor, tag))
    out.append('<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#333"/>'
               % (left, top, width - left - right, plot_bottom - top))
    out.append('<text x="%d" y="%d" text-anchor="middle">input size (log scale)</text>'
               % ((left + width - right) // 2, plot_bottom + 34))

    legend_y = top + 10
    for tool in TOOL_ORDER:
        points, family = [], None
        for case in results:
            s = case["tools"].get(tool)
            if s is None or "cpu" not in s:
                continue
            if case["name"] == "icons":
                family = (case["bytes"], s["cpu"])
            elif case["files"] == 1:
                points.append((case["bytes"], s["cpu"]))
        if not points and family is None:
            continue
        colour = COLOURS[tool]
        points.sort()
        if len(points) > 1:
            out.append('<polyline fill="none" stroke="%s" stroke-width="2" points="%s"/>'
                       % (colour, " ".join("%.1f,%.1f" % (px(b), py(c)) for b, c in points)))
        for b, c in points:
            out.append('<circle cx="%.1f" cy="%.1f" r="3.5" fill="%s"/>' % (px(b), py(c), colour))
        if family is not None:
            out.append('<rect x="%.1f" y="%.1f" width="8" height="8" fill="white" stroke="%s" '
                       'stroke-width="2"/>' % (px(family[0]) - 4, py(family[1]) - 4, colour))
        out.append('<line x1="%d" y1="%d" x2="%d" y2="%d" stroke="%s" stroke-width="2"/>'
                   % (width - right + 12, legend_y, width - right + 32, legend_y, colour))
        out.append('<text x="%d" y="%d">%s</text>' % (width - right + 38, legend_y + 4, tool))
        legend_y += 20
    out.append('<rect x="%d" y="%d" width="8" height="8" fill="white" stroke="#333" '
               'stroke-width="2"/>' % (width - right + 18, legend_y))
    out.append('<text x="%d" y="%d">1,000-icon family</text>' % (width - right + 38, legend_y + 8))
    out.append('<text x="%d" y="%d">(total input size)</text>'
               % (width - right + 38, legend_y + 22))

    missing = ["%s on %s" % (tool, case["tag"]) for case in results if case["tag"]
               for tool in TOOL_ORDER if "refused" in case["tools"].get(tool, {})]
    if missing:
        out.append('<text x="%d" y="%d" font-size="11" fill="#555">Refused the input, so not '
                   'drawn: %s.</text>' % (left, plot_bottom + 56, "; ".join(missing)))
    out.append('<text x="%d" y="%d" font-size="11" fill="#555">ImageMagick was not run on the '
               '1,000 icons; the 20- and 15-icon families in docs/benchmarks.md stand in.</text>'
               % (left, plot_bottom + 72))
    out.append("</svg>")
    with open(path, "w") as svg:
        svg.write("\n".join(out) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=31,
                        help="paired runs of iconweld and dd (default 31)")
    parser.add_argument("--peer-rounds", type=int, default=3,
                        help="paired runs of netpbm and ImageMagick (default 3)")
    parser.add_argument("--svg", default=os.path.join(ROOT, "docs", "benchmark-cpu.svg"))
    parser.add_argument("--also", action="append", default=[], metavar="LABEL=PATH",
                        help="also measure another build of iconweld, run like iconweld")
    args = parser.parse_args()
    for item in args.also:
        label, _, path = item.partition("=")
        if not label or not os.access(path, os.X_OK) or label in TOOL_ORDER:
            sys.exit("--also wants LABEL=PATH of an executable, with a new label: " + item)
        OTHER_BUILDS[label] = os.path.abspath(path)
        COLOURS[label] = OTHER_COLOURS[(len(OTHER_BUILDS) - 1) % len(OTHER_COLOURS)]
        TOOL_ORDER.insert(len(OTHER_BUILDS), label)

    build()
    os.makedirs(WORK, exist_ok=True)
    info = machine()
    inputs = make_inputs()
    results = []
    for name, label, tag, files in cases(inputs):
        print("measuring %s ..." % label, file=sys.stderr, flush=True)
        results.append({"name": name, "label": label, "tag": tag, "files": len(files),
                        "bytes": sum(os.path.getsize(f) for f in files),
                        "tools": run_case(name, files, args.rounds, args.peer_rounds)})
    print_tables(results, info)
    check_targets(results)
    with open(os.path.join(WORK, "results.json"), "w") as f:
        json.dump({"machine": info, "cases": results}, f, indent=1)
    os.makedirs(os.path.dirname(os.path.abspath(args.svg)), exist_ok=True)
    write_svg(results, args.svg)
    print("\nChart: %s; figures also in %s" % (os.path.relpath(args.svg, ROOT),
                                              os.path.relpath(os.path.join(WORK, "results.json"),
                                                              ROOT)))


if __name__ == "__main__":
    main()
