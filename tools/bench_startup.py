#!/usr/bin/env python3
"""Start-up benchmark of the launcher under Wine + Xvfb: time from process start to the window being visible
(median over N runs) and peak memory; prints figures, asserts nothing.

Usage: tools/bench_startup.py [--runs N] [--nginx [--key KEY]] [--bin DIR] [--work DIR] [--template DIR]
  --nginx  serve a small published game on the test host (otherwise nothing listens and the manifest fetch fails)
  --key    sign that game with this private key and measure the signed program (bin/signed, built with the test
           key pair, build/test-keys) beside the unsigned one: the difference is what the signature adds
Defaults are those of a native build in ./build: the Windows programs of build/windows-i686/bin, or of
build/windows-x86_64/bin where this machine cannot run 32-bit programs; build/wine-template as the prefix.

Each run starts Launcher.exe in a fresh game folder while driver.exe, already running, polls for the visible window
every 5 ms and notes the wall-clock time it saw it. Runs go in one Wine prefix whose wineserver is already up (the
first run, with a cold cache, is reported on its own), once with Wine free to use every CPU and once with Wine held
on one CPU (taskset), since Wine's server round-trips cost much more across CPUs.
Peak memory: the peak working set that Windows reports for the process (GetProcessMemoryInfo through the driver)
and VmHWM of the Linux process that runs Launcher.exe.
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


def linux_peak_kib(name="Launcher.exe"):
    """VmHWM of the Linux process whose command line names the program (largest one if several)."""
    best = None
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes()
            if name.encode() not in cmdline:
                continue
            for line in (entry / "status").read_text().splitlines():
                if line.startswith("VmHWM:"):
                    kib = int(line.split()[1])
                    best = kib if best is None else max(best, kib)
        except OSError:
            continue
    return best


def one_run(prefix, driver_exe, bin_dir, work, index, taskset, launcher_exe):
    game = work / f"game{index}"
    out = work / f"out{index}"
    shutil.rmtree(game, ignore_errors=True)
    shutil.rmtree(out, ignore_errors=True)
    game.mkdir(parents=True)
    out.mkdir()
    shutil.copy2(launcher_exe, game / "Launcher.exe")
    wrap = ["taskset", "-c", "0"] if taskset else []

    waiter = subprocess.Popen(wrap + harness.wine_command(driver_exe, "--out", out / "wait.json", "--timeout", "60",
                                                          "wait"),
                              cwd=out, env=dict(prefix.env, PWD=str(out)), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(2.0)  # the driver is polling before the launcher starts
    started_ms = time.time() * 1000
    launcher = subprocess.Popen(wrap + harness.wine_command("Launcher.exe"), cwd=game,
                                env=dict(prefix.env, PWD=str(game)), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        waiter.wait(90)
        answer = harness.json.loads((out / "wait.json").read_text().splitlines()[0])
        if not answer.get("ok") or answer.get("first_poll"):
            raise RuntimeError(f"no clean measurement: {answer}")
        visible_ms = answer["seen_unix_ms"] - started_ms
        time.sleep(1.0)  # let the update run finish its work before reading the peaks
        driver = harness.Driver(prefix, bin_dir, out)
        memory = driver.one("memory")
        linux_kib = linux_peak_kib()
        driver.one("close")
        code = launcher.wait(30)
        return visible_ms, memory["peak_working_set"], linux_kib, code
    finally:
        if launcher.poll() is None:
            launcher.kill()
            launcher.wait()
        if waiter.poll() is None:
            waiter.kill()
            waiter.wait()


def series(label, prefix, driver_exe, bin_dir, work, runs, taskset, launcher_exe):
    results = [one_run(prefix, driver_exe, bin_dir, work, i, taskset, launcher_exe) for i in range(runs + 1)]
    first, rest = results[0], results[1:]
    times = [r[0] for r in rest]
    print(f"{label}:")
    print(f"  first run (cold):        {first[0]:8.0f} ms to visible window")
    print(f"  median of {runs:2d} runs:       {statistics.median(times):8.0f} ms "
          f"(min {min(times):.0f}, max {max(times):.0f})")
    peaks = [r[1] for r in results]
    linux = [r[2] for r in results if r[2]]
    print(f"  peak working set:        {max(peaks) / 1048576:8.1f} MiB (GetProcessMemoryInfo, largest of all runs)")
    if linux:
        print(f"  peak resident (VmHWM):   {max(linux) / 1024:8.1f} MiB (Linux process running Launcher.exe)")
    codes = sorted({r[3] for r in results})
    print(f"  exit codes after close:  {codes}")
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--nginx", action="store_true")
    parser.add_argument("--key", type=Path, default=None)
    parser.add_argument("--bin", type=Path, default=None)
    parser.add_argument("--work", type=Path, default=REPO / "build" / "e2e-work" / "bench")
    parser.add_argument("--template", type=Path, default=REPO / "build" / "wine-template")
    args = parser.parse_args()
    bin_dir = (args.bin or harness.windows_bin_dir(REPO / "build")).resolve()
    os.environ.setdefault("LAUNCHER_BIN_DIR", str(bin_dir))
    os.environ.setdefault("LAUNCHER_WORK_DIR", str(args.work.resolve().parent))
    os.environ.setdefault("LAUNCHER_NATIVE_BIN_DIR", str(REPO / "build" / "bin"))  # the publisher tool that signs
    harness.check_benchmark_inputs("bench_startup", bin_dir, args.template)
    work = args.work.resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)

    xvfb = harness.Xvfb(work / "xvfb.log")
    try:
        if args.nginx:
            site = work / "site"
            (site / "data").mkdir(parents=True)
            for i in range(20):
                (site / "data" / f"file{i:02d}.bin").write_bytes(os.urandom(4096))
            harness.publish(site, *(["--sign", args.key.resolve()] if args.key else []))
            harness.Nginx(site, work / "nginx")
        print(f"Launcher start-up under Wine ({'nginx serving 20 small files' if args.nginx else 'no update server'})")
        programs = [("", bin_dir / "Launcher.exe")]
        if args.key:
            programs = [("unsigned program, ", bin_dir / "Launcher.exe"), ("signed program, ", bin_dir / "signed" /
                                                                           "Launcher.exe")]
        for label, taskset in (("Wine on any CPU", False), ("Wine held on one CPU (taskset -c 0)", True)):
            medians = []
            for program_label, launcher_exe in programs:
                prefix = harness.benchmark_prefix(work / "prefix", xvfb.display, args.template, taskset)
                try:
                    medians.append(series(program_label + label, prefix, bin_dir / "driver.exe", bin_dir, work,
                                          args.runs, taskset, launcher_exe))
                finally:
                    prefix.stop()
                    prefix.remove()
            if len(medians) == 2:
                print(f"  signature fetch and check add {medians[1] - medians[0]:+.0f} ms to the median ({label})")
    finally:
        harness._stop_all()


if __name__ == "__main__":
    main()
