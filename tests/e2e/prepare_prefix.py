"""Prepares the template Wine prefix that every Wine test copies (ctest fixture wine.prefix); fast when it exists.

A new prefix takes Wine 10 to 20 s to set up, so it is made once: `wineboot -i` without the Mono and Gecko
prompts, the Windows version fixed (harness.WINDOWS_VERSION), then a mark file. The prefix is built beside its
final place and renamed into it, so a prefix that was interrupted half-way is never taken for a ready one.
"""

import fcntl
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402


def run_wine(args, prefix, timeout=300):
    env = harness.wine_environment(prefix)
    # Output to /dev/null: Wine's background processes inherit it and would hold a pipe open.
    result = subprocess.run(harness.wine_command(*args), env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
    return result.returncode


def wine_fingerprint():
    """Which Wine the prefix is made for: its version and whether it runs 32-bit programs. A prefix made by
    another Wine would be updated by Wine at every start of every test's copy, or would lack the 32-bit half."""
    version = subprocess.run(harness.wine_command("--version"), stdin=subprocess.DEVNULL, capture_output=True,
                             text=True, timeout=60).stdout.strip()
    can_run_32 = subprocess.run(harness.wine_command("--can-run-32"), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60).returncode == 0
    return f"wine={version} 32-bit={'yes' if can_run_32 else 'no'}"


def is_ready(template, fingerprint):
    mark = template / harness.PREFIX_READY_MARK
    return mark.exists() and fingerprint in mark.read_text().splitlines()


def prepare(template):
    fingerprint = wine_fingerprint()
    if is_ready(template, fingerprint):
        return False
    building = template.with_name(template.name + ".building")
    if building.exists():
        shutil.rmtree(building)
    building.parent.mkdir(parents=True, exist_ok=True)
    try:
        code = run_wine(["wineboot", "-i"], building)
        if code != 0:
            raise RuntimeError(f"wineboot -i failed with code {code}")
        if run_wine(["winecfg", "-v", harness.WINDOWS_VERSION], building) != 0:
            raise RuntimeError(f"winecfg -v {harness.WINDOWS_VERSION} failed")
        run_wine(["--server", "-w"], building)
        (building / harness.PREFIX_READY_MARK).write_text(
            f"{fingerprint}\nwindows={harness.WINDOWS_VERSION}\nversion_line={harness.EXPECTED_VERSION_LINE}\n")
    finally:
        run_wine(["--server", "-k"], building, timeout=60)
    if template.exists():
        shutil.rmtree(template)
    building.rename(template)
    return True


def main():
    template = harness.env_path("WINE_TEMPLATE_PREFIX")
    template.parent.mkdir(parents=True, exist_ok=True)
    started = time.monotonic()
    # One preparer at a time: a second ctest run waits for the first one's prefix instead of building its own.
    with open(template.parent / (template.name + ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        made = prepare(template)
    if made:
        print(f"prepared Wine prefix {template} ({harness.WINDOWS_VERSION}) in {time.monotonic() - started:.1f} s")
    else:
        print(f"Wine prefix {template} is ready")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Exception as error:
        print(f"prepare_prefix: {error}", file=sys.stderr)
        sys.exit(1)
