"""Helpers of the benchmark (tools/bench.py): builds from the CMake presets, the Wine prefix and its CPU placement,
timing, statistics and the table. Python standard library only; Wine, Xvfb and nginx come from the test harness's
public classes."""

import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import harness  # noqa: E402  (Xvfb, WinePrefix, Driver, Nginx, wine_command, publish, sha1_of)

ONE_CPU = ["taskset", "-c", "0"]
PLACEMENTS = (("any CPU", []), ("one CPU", ONE_CPU))


def note(message):
    print(f"[bench] {message}", file=sys.stderr, flush=True)


def build(preset, build_dir, targets, *cache_settings):
    """Configures build_dir from a CMake preset (no sanitizers in release and the Windows presets) and builds the
    targets; returns build_dir/bin."""
    subprocess.run(["cmake", "--preset", preset, "-S", str(REPO), "-B", str(build_dir), *cache_settings],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build_dir), "--target", *targets], check=True, stdout=subprocess.DEVNULL)
    return Path(build_dir) / "bin"


def can_run_32():
    return subprocess.run(harness.wine_command("--can-run-32"), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def prepare_template(template):
    """The prepared Wine prefix that every run copies (made once, by the tests' own preparer)."""
    env = dict(os.environ, WINE_TEMPLATE_PREFIX=str(template))
    subprocess.run([sys.executable, str(REPO / "tests" / "e2e" / "prepare_prefix.py")], env=env, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)


def wine_prefix(path, display, template, wrap):
    """A private prefix; held on one CPU, its wineserver is restarted there, where the programs will run too."""
    prefix = harness.WinePrefix(path, display, template=template)
    if wrap:
        prefix.stop()
        subprocess.run(wrap + harness.wine_command("--server", "-p60"), env=prefix.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=60)
    return prefix


def clear_url_cache(prefix):
    """Empties the prefix's URL cache. Wine's download service keeps a copy of every body there whatever the bind
    flags say; the launcher drops its own copies, the bare loop does not, so each timed run starts from an empty
    cache rather than paying for what the run before it left."""
    for cache in Path(prefix.path, "drive_c", "users").glob("*/AppData/Local/Microsoft/Windows/INetCache"):
        shutil.rmtree(cache, ignore_errors=True)


def run_wine(prefix, wrap, args, cwd, timeout=900):
    """Runs a Windows program to its end; returns (wall seconds, its standard output)."""
    out_path = Path(cwd) / ".bench.out"
    with open(out_path, "wb") as out:
        started = time.perf_counter()
        subprocess.run(wrap + harness.wine_command(*args), cwd=cwd, env=dict(prefix.env, PWD=str(cwd)),
                       stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL, timeout=timeout, check=True)
        elapsed = time.perf_counter() - started
    return elapsed, out_path.read_text(errors="replace")


def timed(argv, cwd=None, wrap=()):
    """Wall seconds of a native command, its output discarded."""
    started = time.perf_counter()
    subprocess.run(list(wrap) + [str(a) for a in argv], cwd=cwd, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL)
    return time.perf_counter() - started


def fields(output):
    """The key=value pairs of a benchmark program's last output line."""
    line = [text for text in output.splitlines() if "=" in text][-1]
    return dict(part.split("=", 1) for part in line.split())


def linux_peak_kib(name="Launcher.exe"):
    """VmHWM of the Linux process whose command line names the program (the largest if several)."""
    best = None
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if name.encode() not in (entry / "cmdline").read_bytes():
                continue
            for line in (entry / "status").read_text().splitlines():
                if line.startswith("VmHWM:"):
                    best = max(best or 0, int(line.split()[1]))
        except OSError:
            continue
    return best


def load_average():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


class Table:
    """Rows of min / median / max over the runs, with an optional ratio to another row (by median)."""

    def __init__(self, title, unit):
        self.title, self.unit, self.rows = title, unit, {}
        print(f"\n## {title}\n")
        print(f"| {'measure':<64} | {'min':>8} | {'median':>8} | {'max':>8} | {'ratio':<28} |")
        print(f"|{'-' * 66}|{'-' * 10}|{'-' * 10}|{'-' * 10}|{'-' * 30}|")

    def row(self, label, values, ratio_to=None, faster_is_higher=True, note_text=""):
        """Prints a row; ratio_to names an earlier row: speed ratio (its time / this time) or, with
        faster_is_higher False, this / it (for costs, e.g. 1.05x the bare loop)."""
        values = [v for v in values if v is not None]
        self.rows[label] = values
        if not values:
            print(f"| {label:<64} | {'-':>8} | {'-':>8} | {'-':>8} | {'no result':<28} |")
            return
        ratio = note_text
        if ratio_to and self.rows.get(ratio_to):
            anchor = statistics.median(self.rows[ratio_to])
            mine = statistics.median(values)
            value = anchor / mine if faster_is_higher else mine / anchor
            short = ratio_to.split(": ", 1)[-1].split(",")[0]
            ratio = f"{value:.2f}x {short}" + (f"; {note_text}" if note_text else "")
        print(f"| {label:<64} | {min(values):8.3f} | {statistics.median(values):8.3f} | {max(values):8.3f} | "
              f"{ratio:<28} |", flush=True)
