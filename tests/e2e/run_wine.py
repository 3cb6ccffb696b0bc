"""Runs one test program of the Windows build under Wine in a private copy of the template prefix and passes its
exit code on (ctest tests wine.unit_tests and wine.win_tests).

Usage: run_wine.py PROGRAM.exe [ARGS...]   (the program is taken from LAUNCHER_BIN_DIR)
The program's output goes to a file, which is printed afterwards: a pipe could be held open by Wine's
background processes.
"""

import shutil
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    bin_dir = harness.env_path("LAUNCHER_BIN_DIR")
    program = bin_dir / argv[1]
    if not program.exists():
        print(f"run_wine: {program} does not exist", file=sys.stderr)
        return 2
    work_root = harness.env_path("LAUNCHER_WORK_DIR")
    work_root.mkdir(parents=True, exist_ok=True)
    work = Path(tempfile.mkdtemp(prefix=program.stem + "-", dir=work_root))
    prefix = None
    xvfb = None
    try:
        # Windows-side tests create windows (the log list), so they get a display of their own.
        xvfb = harness.Xvfb(work / "xvfb.log")
        prefix = harness.WinePrefix(work / "prefix", xvfb.display)
        run_dir = work / "run"
        run_dir.mkdir()
        code, out, err = prefix.run([program, *argv[2:]], run_dir, work, program.stem, timeout=3600)
        sys.stdout.write(out)
        sys.stdout.write(err)
        print(f"run_wine: {argv[1]} exited with code {code}")
        return code
    finally:
        if prefix:
            prefix.stop()
            prefix.remove()
        if xvfb:
            xvfb.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
