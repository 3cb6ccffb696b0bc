#!/usr/bin/env python3
"""The demo: publishes a sample game with nginx on 127.0.0.1:8460, signed when a publisher key is given, runs the
launcher in a fresh game folder under Wine (inside Xvfb when there is no display) until its update run ends, saves a
screenshot and prints the log."""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import time
import zlib
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import harness  # noqa: E402

DEMO_HOST = "127.0.0.1:8460"


def write_png(bmp_path, png_path):
    width, height, pixel = harness.read_bmp(bmp_path)
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))
    Path(png_path).write_bytes(png)


def wait_for_end_of_run(game, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        log = game / harness.LOG_FILE
        if log.exists():
            text = log.read_text(errors="replace")
            if "All files up to date" in text or "Update incomplete" in text:
                return True
        time.sleep(0.25)
    return False


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True, type=Path, help="Windows build's bin folder")
    parser.add_argument("--native-bin", required=True, type=Path, help="native build's bin folder")
    parser.add_argument("--work", required=True, type=Path, help="folder for the demo's files")
    parser.add_argument("--key", type=Path, help="publisher's private key: sign the game (for a launcher built with "
                                                 "the matching public key)")
    args = parser.parse_args()
    args.bin = args.bin.resolve()
    os.environ["LAUNCHER_NATIVE_BIN_DIR"] = str(args.native_bin.resolve())
    os.environ["LAUNCHER_TEST_HOST"] = DEMO_HOST
    os.environ["WINE_TEMPLATE_PREFIX"] = str((args.work / "wine-template").resolve())
    work = args.work.resolve()
    work.mkdir(parents=True, exist_ok=True)

    # The published game: sample data files and the game client.
    server_root = work / "server"
    shutil.rmtree(server_root, ignore_errors=True)
    subprocess.run([sys.executable, str(REPO / "tools" / "make_sample_game.py"), str(server_root), "60", "6"],
                           check=True)
    shutil.copy2(args.bin / "standin" / "Client.exe", server_root / "Client.exe")
    harness.publish(server_root, *(["--sign", args.key.resolve()] if args.key else []))

    subprocess.run([sys.executable, str(REPO / "tests" / "e2e" / "prepare_prefix.py")], check=True)
    game = work / "game"
    shutil.rmtree(game, ignore_errors=True)
    game.mkdir()
    shutil.copy2(args.bin / "Launcher.exe", game / "Launcher.exe")

    xvfb = None
    display = os.environ.get("DISPLAY")
    if not display:
        xvfb = harness.Xvfb(work / "xvfb.log", size="1024x768x24")
        display = xvfb.display
    nginx = harness.Nginx(server_root, work / "nginx")
    prefix = harness.WinePrefix(work / "prefix", display)
    try:
        print(f"demo: update server http://{DEMO_HOST}/Quorvane/ serving {server_root}")
        run = harness.LauncherRun(prefix, game, work)
        driver = harness.Driver(prefix, args.bin, work)
        driver.one("wait", timeout=60)
        finished = wait_for_end_of_run(game, 300)
        driver.one("wait-enabled", 1, 30, check=False)
        time.sleep(0.5)
        shot = driver.one("screenshot", work / "screenshot.bmp")
        write_png(work / "screenshot.bmp", work / "screenshot.png")
        driver.one("close")
        code = run.wait_exit(30)
        print(f"demo: screenshot {work / 'screenshot.png'} ({shot['width']} x {shot['height']})")
        print(f"demo: launcher exited with code {code}; {len(nginx.requests())} requests served")
        print(f"---- {game / harness.LOG_FILE} ----")
        sys.stdout.write((game / harness.LOG_FILE).read_text(errors="replace"))
        accepted = game / "Launcher_manifest_version.txt"
        if args.key:
            print("----")
            print(f"demo: signed manifest version {accepted.read_text().strip()} accepted "
                  f"({accepted.name})" if accepted.exists() else "demo: the signed manifest was not accepted")
        return 0 if finished and code == 0 and (accepted.exists() or not args.key) else 1
    finally:
        prefix.stop()
        prefix.remove()
        nginx.stop()
        if xvfb:
            xvfb.stop()


if __name__ == "__main__":
    sys.exit(main())
