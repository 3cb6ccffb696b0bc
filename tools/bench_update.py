#!/usr/bin/env python3
"""Full-update benchmark: the time the launcher under Wine + Xvfb takes to bring an empty folder up to date with a
published sample game (200 files, ~300 MB by default) from nginx on loopback, beside one curl process fetching the
same files one after another over one kept-alive connection; prints figures, asserts nothing.

Usage: tools/bench_update.py [--files N] [--mb MB] [--runs N] [--bin DIR] [--native-bin DIR] [--work DIR]
                             [--template DIR]
Defaults are those of a native build in ./build: the Windows programs of build/windows-i686/bin, or of
build/windows-x86_64/bin where this machine cannot run 32-bit programs; build/bin for the publisher tool;
build/wine-template as the prefix. The Windows build must be made with its update host on the test host
(LAUNCHER_TEST_HOST, 127.0.0.1:18460 by default), where nginx is started.

The launcher's times come from watching Launcher_log.txt grow (every 10 ms): from starting the process to
"Checking for updates..." (start-up, manifest and digests of the missing files) and from there to "All files up
to date" (the downloads). Runs go once with Wine free to use every CPU and once with Wine and its server held on
one CPU (taskset -c 0): Wine's server round-trips cost much more across CPUs. Each run uses a fresh game folder in
a prefix whose wineserver is already up; the installed files are checked against the manifest afterwards.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import harness  # noqa: E402

# Lines whose first appearance in the log file marks the end of a phase.
MARKERS = ("Total files to check", "Checking files...", "Checking for updates...", "All files up to date",
           "Update incomplete")
PHASES = (("start-up and manifest", None, "Total files to check"),
          ("digests", "Total files to check", "Checking files..."),
          ("pending list", "Checking files...", "Checking for updates..."),
          ("downloads", "Checking for updates...", "end"))


def make_site(site, files, megabytes, native_bin):
    """The published sample game, made once and kept while its size and file count stay the same."""
    stamp = site / ".made"
    wanted = f"{files} {megabytes}\n"
    if stamp.exists() and stamp.read_text() == wanted and (site / "update.cfg").exists():
        return
    shutil.rmtree(site, ignore_errors=True)
    subprocess.run([sys.executable, str(REPO / "tools" / "make_sample_game.py"), str(site), str(files),
                    str(megabytes)], check=True, stdout=subprocess.DEVNULL)
    if native_bin:
        os.environ["LAUNCHER_NATIVE_BIN_DIR"] = str(native_bin)
    harness.publish(site)
    stamp.write_text(wanted)


def manifest_entries(site):
    return [tuple(line.split(" ")[:2]) for line in (site / "update.cfg").read_text().splitlines()]


def curl_time(urls, target, taskset):
    """Seconds one curl process takes to fetch every URL into target, one after another on one connection."""
    shutil.rmtree(target, ignore_errors=True)
    target.mkdir(parents=True)
    config = target.parent / "curl.config"
    with open(config, "w") as out:
        for i, url in enumerate(urls):
            out.write(f'url = "{url}"\noutput = "{target}/f{i:04d}"\n')
    wrap = ["taskset", "-c", "0"] if taskset else []
    started = time.perf_counter()
    subprocess.run(wrap + ["curl", "--silent", "--show-error", "--fail", "--noproxy", "*", "--config", str(config)],
                   check=True, stdin=subprocess.DEVNULL)
    elapsed = time.perf_counter() - started
    shutil.rmtree(target, ignore_errors=True)
    return elapsed


def launcher_run(prefix, bin_dir, work, index, taskset, entries):
    """One full update in a fresh folder; returns (seconds of each phase (None where unseen), the final line,
    files that differ from the manifest)."""
    game = work / f"game{index}"
    out = work / f"out{index}"
    shutil.rmtree(game, ignore_errors=True)
    shutil.rmtree(out, ignore_errors=True)
    game.mkdir(parents=True)
    out.mkdir()
    shutil.copy2(bin_dir / "Launcher.exe", game / "Launcher.exe")
    log_path = game / harness.LOG_FILE
    wrap = ["taskset", "-c", "0"] if taskset else []

    started = time.perf_counter()
    launcher = subprocess.Popen(wrap + harness.wine_command("Launcher.exe"), cwd=game,
                                env=dict(prefix.env, PWD=str(game)), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seen = {}
    try:
        deadline = time.monotonic() + 900
        while time.monotonic() < deadline and not ({"All files up to date", "Update incomplete"} & seen.keys()):
            if log_path.exists():
                text = log_path.read_text(errors="replace")
                now = time.perf_counter() - started
                for marker in MARKERS:
                    if marker not in seen and ("] " + marker) in text:
                        seen[marker] = now
            if launcher.poll() is not None:
                break
            time.sleep(0.01)
        driver = harness.Driver(prefix, bin_dir, out)
        if launcher.poll() is None:
            driver.one("close")
            launcher.wait(60)
    finally:
        if launcher.poll() is None:
            launcher.kill()
            launcher.wait()
    final = "All files up to date" if "All files up to date" in seen else (
        "Update incomplete" if "Update incomplete" in seen else "no end of the run seen")
    wrong = sum(1 for path, digest in entries
                if not (game / path).is_file() or harness.sha1_of(game / path) != digest)
    seen[None] = 0.0
    seen["end"] = seen.get(final)
    phases = [seen[end] - seen[begin] if seen.get(begin) is not None and seen.get(end) is not None else None
              for _, begin, end in PHASES]
    shutil.rmtree(game, ignore_errors=True)
    return phases, final, wrong


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=200)
    parser.add_argument("--mb", type=float, default=300)
    parser.add_argument("--runs", type=int, default=2, help="launcher runs per CPU placement")
    parser.add_argument("--bin", type=Path, default=None)
    parser.add_argument("--native-bin", type=Path, default=REPO / "build" / "bin")
    parser.add_argument("--work", type=Path, default=REPO / "build" / "e2e-work" / "bench-update")
    parser.add_argument("--template", type=Path, default=REPO / "build" / "wine-template")
    args = parser.parse_args()
    bin_dir = (args.bin or harness.windows_bin_dir(REPO / "build")).resolve()
    work = args.work.resolve()
    os.environ.setdefault("LAUNCHER_BIN_DIR", str(bin_dir))
    os.environ.setdefault("LAUNCHER_WORK_DIR", str(work.parent))
    harness.check_benchmark_inputs("bench_update", bin_dir, args.template)
    work.mkdir(parents=True, exist_ok=True)
    for old in work.iterdir():
        if old.name != "site":
            shutil.rmtree(old, ignore_errors=True) if old.is_dir() else old.unlink()

    site = work / "site"
    native_bin = args.native_bin.resolve() if (args.native_bin / "publish_manifest").exists() else None
    make_site(site, args.files, args.mb, native_bin)
    entries = manifest_entries(site)
    total_bytes = sum((site / path).stat().st_size for path, _ in entries)
    megabytes = total_bytes / 1e6
    host, port = harness.test_host()
    urls = [f"http://{host}:{port}/Quorvane/{path}" for path, _ in entries]

    harness.wait_port_free()
    xvfb = harness.Xvfb(work / "xvfb.log")
    try:
        harness.Nginx(site, work / "nginx")
        print(f"Full first update: {len(entries)} files, {megabytes:.1f} MB, nginx on {host}:{port} (loopback)")
        curl_time(urls, work / "curl-out", False)  # warms the page cache for both sides
        for label, taskset in (("any CPU", False), ("one CPU (taskset -c 0)", True)):
            curl = [curl_time(urls, work / "curl-out", taskset) for _ in range(3)]
            print(f"\ncurl, one process, keep-alive, {label}: median {statistics.median(curl):6.2f} s "
                  f"({megabytes / statistics.median(curl):6.0f} MB/s; runs {', '.join(f'{t:.2f}' for t in curl)})")
            prefix = harness.benchmark_prefix(work / "prefix", xvfb.display, args.template, taskset)
            try:
                for i in range(args.runs):
                    phases, final, wrong = launcher_run(prefix, bin_dir, work, i, taskset, entries)
                    downloads = phases[-1]
                    total = sum(p for p in phases if p is not None)
                    rate = f"{megabytes / downloads:.0f} MB/s" if downloads else "- MB/s"
                    parts = ", ".join(f"{name} {p:.2f} s" if p is not None else f"{name} -"
                                      for (name, _, _), p in zip(PHASES, phases))
                    print(f"Launcher under Wine, {label}, run {i + 1}: total {total:.2f} s ({parts}; "
                          f"downloads at {rate}); \"{final}\", {wrong} files differ from the manifest")
            finally:
                prefix.stop()
                prefix.remove()
    finally:
        harness._stop_all()


if __name__ == "__main__":
    main()
