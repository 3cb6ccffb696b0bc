#!/usr/bin/env python3
"""The launcher's benchmark: digests, a full first update and start-up, beside their anchors; prints a table of
min / median / max over the runs with ratios. It asserts nothing and never runs in the tests.

Usage: tools/bench.py [--runs N] [--work DIR] [--build DIR] [--host 127.0.0.1:PORT]
                      [--only digest,update,signature,net,delta,limit,mirrors] [--profiles home,far] [--net-runs N]

It builds what it needs from the CMake presets (release for the native programs, windows-i686 for the Windows
ones, or windows-x86_64 where this machine cannot run 32-bit programs) under --build (default build-bench/), makes
its own data under --work (default build-bench/work: one 1 GiB file, 1000 files of 1 GiB in all, 1000 files of
4 KiB, a sparse file over 4 GiB, a published 200-file ~300 MB game; kept for the next run), and serves the game
with nginx on --host (default 127.0.0.1:18469). Programs under Wine run in a prefix whose wineserver is already up,
once on any CPU and once with Wine held on one CPU (taskset -c 0).

The net section installs a client-shaped game (500 files, ~93 MB) through tools/linesim.py, a line simulator on
--host (where the launcher's build points) in front of nginx one port above, for each --profiles line (default
home): home (60 ms, 200/20 Mbit/s) and far (150 ms, 20/5 Mbit/s); the launcher, the bare loop, curl and aria2c, on
any CPU.

The limit section (--only limit) holds one 80 MB transfer on loopback at 2 and 5 MB/s with the settings file's
download limit and prints the rate the launcher kept over 10 s.

The mirrors section (--only mirrors) installs the client-shaped game from several hosts on 127.0.0.1-3, each
behind a line of its own: the origin dead or silent with one good mirror, one slow mirror and one good, a mirror
serving the previous release, two good mirrors; against the good mirror alone and aria2c given every URI.

The delta section (--only delta, not in the default run) updates a game folder holding an old 256 MB pack on the
home line: the launcher patching it from its block index beside zsync with 4 KiB blocks (bytes from nginx's log,
time), once for 20 scattered 64 KiB changes and a 10 KiB insertion, once for 1000 changes of 100 bytes spread
evenly and once for a pack with no block in common (--delta-packs chooses); then tools/bench_block_scan on a 256 MB and a 4 GiB pack natively and under Wine (about 13 GB written under --work and removed).

Times: native commands by wall clock; digests under Wine as the program measures them (without Wine's start);
the update from starting Launcher.exe to its last log line, and the bare URLDownloadToFileA loop from starting its
program to its end, so both include Wine's start; the visible window as driver.exe, polling every 5 ms, sees it.
"""

import argparse
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

from bench_lib import (PLACEMENTS, REPO, Table, build, can_run_32, clear_url_cache, fields, harness, linux_peak_kib,
                       load_average, note, prepare_template, run_wine, timed, wine_prefix)
from linesim import LineSim
from make_sample_game import EXTENSIONS, FOLDERS

GIB = 1 << 30
SETS = (("one", "one 1 GiB file"), ("many", "1000 files, 1 GiB in all"), ("small", "1000 files of 4 KiB"))
READ_SIZES = (65536, 16384, 262144, 1048576, 4194304)  # the chosen size first: the others are compared with it


def make_data(data):
    """The digest inputs, in data; made once (random bytes) and kept while complete."""
    data.mkdir(parents=True, exist_ok=True)
    if not (data / ".made").exists():
        note("making the digest data (1 GiB of random bytes, split into 1000 files; 1000 files of 4 KiB)")
        for old in ("many", "small"):
            shutil.rmtree(data / old, ignore_errors=True)
        subprocess.run(f"head -c {GIB} /dev/urandom > one.bin && mkdir many small && "
                       f"split -n 1000 -a 3 -d one.bin many/f && "
                       f"for i in $(seq -w 0 999); do head -c 4096 /dev/urandom > small/f$i; done",
                       shell=True, cwd=data, check=True)
        # Past 4 GiB, so the 32-bit build's reads and the 64-bit length are exercised; sparse, so it is quick to make.
        with open(data / "huge.bin", "wb") as huge:
            huge.truncate(4 * GIB + 4096)
            huge.seek(0, 2)
            huge.write(b"the end of a file past 4 GiB")
        (data / ".made").write_text("ok\n")
    for name, _ in SETS:
        files = ["one.bin"] if name == "one" else sorted(f"{name}/{p.name}" for p in (data / name).iterdir())
        (data / f"{name}.list").write_text("".join(f + "\n" for f in files))
    (data / "huge.list").write_text("huge.bin\n")
    subprocess.run("cat one.bin many/* small/* > /dev/null", shell=True, cwd=data, check=True)  # into the page cache


def list_files(data, name):
    return (data / f"{name}.list").read_text().split()


def digest_section(args, native_bin, windows_bin, data, display, template, work):
    table = Table("Digests (seconds; ratio = speed relative to the anchor, by median)", "s")
    anchors = {}
    for name, title in SETS:
        files = list_files(data, name)
        launcher = f"{title}: launcher, native"
        other = f"{title}: launcher, native, " + ("portable SHA-1" if name == "one" else "one thread")
        openssl = f"{title}: openssl dgst -sha1"
        sha1sum = f"{title}: sha1sum"
        commands = {launcher: [native_bin / "bench_digest", f"{name}.list"],
                    other: [native_bin / "bench_digest", "--portable" if name == "one" else "--one-thread",
                            f"{name}.list"],
                    openssl: ["openssl", "dgst", "-sha1", *files], sha1sum: ["sha1sum", *files]}
        # Taken in turns, so a change in the machine's load touches every command alike.
        times = {label: [] for label in commands}
        for _ in range(args.runs):
            for label, command in commands.items():
                times[label].append(timed(command, data))
        table.row(launcher, times[launcher])
        table.row(other, times[other], ratio_to=launcher)
        table.row(openssl, times[openssl])
        table.row(sha1sum, times[sha1sum])
        anchors[name] = (openssl, sha1sum)
        table.row(f"{title}: launcher / openssl", table.rows[launcher], ratio_to=openssl)
        table.row(f"{title}: launcher / sha1sum", table.rows[launcher], ratio_to=sha1sum)

    for placement, wrap in PLACEMENTS:
        prefix = wine_prefix(work / "prefix", display, template, wrap)
        try:
            exe = windows_bin / "bench_digest.exe"
            for name, title in SETS:
                label = f"{title}: launcher, Wine, {placement}"
                results = [fields(run_wine(prefix, wrap, [exe, f"{name}.list"], data)[1]) for _ in range(args.runs)]
                table.row(label, [float(r["seconds"]) for r in results], ratio_to=anchors[name][0],
                          note_text=f"SHA {results[0]['sha']}")
                table.row(f"{title}: launcher, Wine, {placement} / sha1sum", table.rows[label],
                          ratio_to=anchors[name][1])
                if name == "many":
                    table.row(f"{title}: launcher, Wine, {placement}, one thread",
                              [float(fields(run_wine(prefix, wrap, [exe, "--one-thread", "many.list"], data)[1])
                                     ["seconds"]) for _ in range(args.runs)], ratio_to=label)
                if name == "small":
                    opens = [float(fields(run_wine(prefix, wrap, [exe, "--open-only", "small.list"], data)[1])
                                   ["seconds"]) for _ in range(args.runs)]
                    per_file = statistics.median(table.rows[label]) / 1000 * 1e6
                    per_open = statistics.median(opens) / 1000 * 1e6
                    table.row(f"{title}: Wine {placement}, opening alone, one thread", opens,
                              note_text=f"{per_file:.0f} us/file on 2 threads; open alone {per_open:.0f} us")
            if not wrap:
                for size in READ_SIZES:
                    table.row(f"read size {size // 1024} KiB, one 1 GiB file, Wine, one thread",
                              [float(fields(run_wine(prefix, wrap, [exe, "--read-size", size, "one.list"], data)[1])
                                     ["seconds"]) for _ in range(args.runs)],
                              ratio_to="read size 64 KiB, one 1 GiB file, Wine, one thread")
                wine_huge = fields(run_wine(prefix, wrap, [exe, "huge.list"], data)[1])
        finally:
            prefix.stop()
            prefix.remove()
    for size in READ_SIZES:
        table.row(f"read size {size // 1024} KiB, one 1 GiB file, native, one thread",
                  [timed([native_bin / "bench_digest", "--read-size", size, "one.list"], data)
                   for _ in range(args.runs)], ratio_to="read size 64 KiB, one 1 GiB file, native, one thread")

    # Correctness past 4 GiB, once: the launcher natively and under Wine against sha1sum.
    native_huge = fields(subprocess.run([native_bin / "bench_digest", "huge.list"], cwd=data, check=True,
                                        capture_output=True, text=True).stdout)
    reference = subprocess.run(["sha1sum", "huge.bin"], cwd=data, check=True, capture_output=True,
                               text=True).stdout.split()[0]
    print(f"\nA sparse file of {(data / 'huge.bin').stat().st_size / GIB:.2f} GiB: sha1sum {reference}; launcher native "
          f"{native_huge['last']} in {float(native_huge['seconds']):.2f} s, under Wine {wine_huge['last']} in "
          f"{float(wine_huge['seconds']):.2f} s: "
          f"{'all equal' if reference == native_huge['last'] == wine_huge['last'] else 'DIFFERENT'}")


PHASE_MARKERS = ("Total files to check", "Checking files...", "Checking for updates...", "All files up to date",
                 "Update incomplete")


def launcher_run(prefix, wrap, bin_dir, work, index, entries, prepared=None):
    """One update, watched by a driver.exe that notes when the window appears: a first install in a fresh folder,
    or with prepared, an update of a copy of that folder (an older game). Returns (seconds to the last line,
    seconds per phase, ms to the visible window, peak working set, VmHWM KiB, files that differ from the
    manifest, the launcher's log)."""
    game, out = work / f"game{index}", work / f"out{index}"
    for folder in (game, out):
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
    if prepared:
        shutil.rmtree(game)
        shutil.copytree(prepared, game)
    shutil.copy2(bin_dir / "Launcher.exe", game / "Launcher.exe")
    env = dict(prefix.env, PWD=str(out))
    waiter = subprocess.Popen(wrap + harness.wine_command(bin_dir / "driver.exe", "--out", out / "wait.json",
                                                          "--timeout", "60", "wait"),
                              cwd=out, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    time.sleep(2.0)  # the driver is polling before the launcher starts
    started_ms, started = time.time() * 1000, time.perf_counter()
    launcher = subprocess.Popen(wrap + harness.wine_command("Launcher.exe"), cwd=game,
                                env=dict(prefix.env, PWD=str(game)), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seen = {}
    log_path = game / harness.LOG_FILE
    try:
        deadline = time.monotonic() + 900
        while time.monotonic() < deadline and not {"All files up to date", "Update incomplete"} & seen.keys():
            if log_path.exists():
                text, now = log_path.read_text(errors="replace"), time.perf_counter() - started
                for marker in PHASE_MARKERS:
                    if marker not in seen and "] " + marker in text:
                        seen[marker] = now
            if launcher.poll() is not None:
                break
            time.sleep(0.01)
        waiter.wait(90)
        answer = harness.json.loads((out / "wait.json").read_text().splitlines()[0])
        visible = answer["seen_unix_ms"] - started_ms if answer.get("ok") and not answer.get("first_poll") else None
        driver = harness.Driver(prefix, bin_dir, out)
        memory = driver.one("memory")["peak_working_set"]
        vm_hwm = linux_peak_kib()
        driver.one("close")
        launcher.wait(60)
    finally:
        for process in (launcher, waiter):
            if process.poll() is None:
                process.kill()
                process.wait()
    end = seen.get("All files up to date")
    marks = [0.0] + [seen.get(m) for m in PHASE_MARKERS[:4]]
    phases = [b - a if a is not None and b is not None else None for a, b in zip(marks, marks[1:])]
    wrong = sum(1 for path, digest in entries if not (game / path).is_file() or harness.sha1_of(game / path) != digest)
    log = log_path.read_text(errors="replace") if log_path.exists() else ""
    shutil.rmtree(game, ignore_errors=True)
    return end, phases, visible, memory, vm_hwm, wrong, log


def published_game(native_bin, work):
    """The 200-file ~300 MB sample game, published once and kept."""
    site = work / "site"
    if not (site / "update.cfg").exists():
        note("making and publishing the sample game (200 files, ~300 MB)")
        shutil.rmtree(site, ignore_errors=True)
        subprocess.run([sys.executable, str(REPO / "tools" / "make_sample_game.py"), site, "200", "300"], check=True,
                       stdout=subprocess.DEVNULL)
        os.environ["LAUNCHER_NATIVE_BIN_DIR"] = str(native_bin)
        harness.publish(site)
    return site


def bench_key(native_bin, work):
    """The benchmark's publisher key pair, work/keys/bench.key and .pub, made once."""
    key = work / "keys" / "bench"
    if not key.with_suffix(".pub").exists():
        key.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run([native_bin / "publish_manifest", "--make-key", key], check=True, stdout=subprocess.DEVNULL)
    return key


def signature_section(args, native_bin, windows_bin, display, template, work):
    """The signed manifest's start-up check alone, on the published game's update.cfg signed with a key of the
    benchmark's own (made once under --work, never committed)."""
    site = published_game(native_bin, work)
    key = bench_key(native_bin, work)
    signed = work / "signed"
    shutil.rmtree(signed, ignore_errors=True)
    signed.mkdir()
    shutil.copy2(site / "update.cfg", signed / "update.cfg")
    # Signing rewrites the same update.cfg beside the files it lists; the copy then takes its signature and listing.
    subprocess.run([native_bin / "publish_manifest", site, "--sign", key.with_suffix(".key")], check=True,
                   stdout=subprocess.DEVNULL)
    for name in ("update.cfg.sig", "update.cfg.files"):
        shutil.copy2(site / name, signed / name)
        (site / name).unlink()
    table = Table("Signed manifest: the start-up check alone (ms), 200 runs in one process", "ms")
    for placement, wrap in PLACEMENTS:
        prefix = wine_prefix(work / "prefix", display, template, wrap)
        try:
            (signed / "Launcher_manifest_version.txt").unlink(missing_ok=True)
            _, out = run_wine(prefix, wrap, [windows_bin / "bench_signature.exe", ".", key.with_suffix(".pub"), "200"],
                              signed)
            # "first run: F ms; median of N runs: M ms (min A, max B); ..."
            numbers = [float(word.rstrip(",);")) for word in out.replace("(", " ").split()
                       if word.rstrip(",);").replace(".", "", 1).isdigit()]
            first, median, low, high = numbers[0], numbers[2], numbers[3], numbers[4]
            table.row(f"first check, {placement}", [first])
            table.row(f"check, {placement}", [low, median, high])
        finally:
            prefix.stop()
            prefix.remove()
    signed_update_rows(args, windows_bin, display, template, work, site, signed)


def signed_update_rows(args, windows_bin, display, template, work, site, signed):
    """The full first update of the published game by the signed launcher (list, signature, listing, every
    download's signed length and SHA-256) beside the unsigned one, in turns, on any CPU."""
    entries = [tuple(line.split(" ")[:2]) for line in (site / "update.cfg").read_text().splitlines()]
    signed_bin = work / "signed-bin"
    signed_bin.mkdir(exist_ok=True)
    shutil.copy2(windows_bin / "signed" / "Launcher.exe", signed_bin / "Launcher.exe")
    shutil.copy2(windows_bin / "driver.exe", signed_bin / "driver.exe")
    for name in ("update.cfg.sig", "update.cfg.files"):
        shutil.copy2(signed / name, site / name)
    host, port = harness.test_host()
    nginx = harness.Nginx(site, work / "nginx-signed", port)
    prefix = wine_prefix(work / "prefix", display, template, [])
    table = Table("Signed launcher: the full first update of the published game (s), any CPU", "s")
    times = {"unsigned": [], "signed": []}
    wrong = 0
    try:
        for i in range(args.runs):
            for label, bin_dir in (("unsigned", windows_bin), ("signed", signed_bin)):
                clear_url_cache(prefix)
                run = launcher_run(prefix, [], bin_dir, work, i, entries)
                times[label].append(run[0])
                wrong += run[5]
    finally:
        prefix.stop()
        prefix.remove()
        nginx.stop()
        for name in ("update.cfg.sig", "update.cfg.files"):
            (site / name).unlink(missing_ok=True)
    table.row("first update, unsigned launcher", times["unsigned"])
    table.row("first update, signed launcher", times["signed"], ratio_to="first update, unsigned launcher",
              faster_is_higher=False, note_text=f"{wrong} files wrong" if wrong else "")


def update_section(args, native_bin, windows_bin, display, template, work):
    site = published_game(native_bin, work)
    entries = [tuple(line.split(" ")[:2]) for line in (site / "update.cfg").read_text().splitlines()]
    megabytes = sum((site / path).stat().st_size for path, _ in entries) / 1e6
    host, port = harness.test_host()
    urls = [f"http://{host}:{port}/Quorvane/{path}" for path, _ in entries]
    nginx = harness.Nginx(site, work / "nginx", port)
    table = Table(f"Full first update: {len(entries)} files, {megabytes:.0f} MB from nginx on {host}:{port} "
                  f"(seconds; ratio = time relative to the anchor); start-up (ms) and peak memory (MiB)", "s")
    try:
        curl_config = work / "curl.config"
        curl_config.write_text("".join(f'url = "{url}"\noutput = "{work}/curl-out/f{i:04d}"\n'
                                       for i, url in enumerate(urls)))
        fetch_list = work / "fetch" / "fetch.list"
        fetch_list.parent.mkdir(parents=True, exist_ok=True)
        fetch_list.write_text("".join(f"{url} out\\f{i:04d}\n" for i, url in enumerate(urls)))
        for placement, wrap in PLACEMENTS:
            curl = f"curl, one process, keep-alive, {placement}"
            times = []
            for _ in range(args.runs):
                shutil.rmtree(work / "curl-out", ignore_errors=True)
                times.append(timed(["curl", "--silent", "--fail", "--noproxy", "*", "--create-dirs", "--config",
                                    curl_config], wrap=wrap))
            table.row(curl, times)
            prefix = wine_prefix(work / "prefix", display, template, wrap)
            try:
                bare = f"bare URLDownloadToFileA loop, Wine, {placement}"
                times, runs = [], []
                # In turns, so a change in the machine's load touches both alike.
                for i in range(args.runs):
                    shutil.rmtree(fetch_list.parent / "out", ignore_errors=True)
                    (fetch_list.parent / "out").mkdir()
                    clear_url_cache(prefix)
                    times.append(run_wine(prefix, wrap, [windows_bin / "bench_fetch.exe", "fetch.list"],
                                          fetch_list.parent)[0])
                    clear_url_cache(prefix)
                    runs.append(launcher_run(prefix, wrap, windows_bin, work, i, entries))
                table.row(bare, times, ratio_to=curl, faster_is_higher=False)
                wininet = f"bare WinINet loop, {MAX_TRANSFER_SLOTS} threads, Wine, {placement}"
                wininet_times = []
                for _ in range(args.runs):
                    shutil.rmtree(fetch_list.parent / "out", ignore_errors=True)
                    (fetch_list.parent / "out").mkdir()
                    wininet_times.append(run_wine(prefix, wrap, [windows_bin / "bench_fetch_wininet.exe", "fetch.list",
                                                                 MAX_TRANSFER_SLOTS], fetch_list.parent)[0])
                table.row(wininet, wininet_times, ratio_to=curl, faster_is_higher=False)
                label = f"launcher, Wine, {placement}"
                wrong = sum(r[5] for r in runs)
                table.row(label, [r[0] for r in runs], ratio_to=bare, faster_is_higher=False,
                          note_text=f"{wrong} files wrong" if wrong else "")
                table.row(f"launcher, Wine, {placement} / curl", table.rows[label], ratio_to=curl,
                          faster_is_higher=False)
                table.row(f"launcher, Wine, {placement} / WinINet loop", table.rows[label], ratio_to=wininet,
                          faster_is_higher=False)
                for i, phase in enumerate(("start-up and manifest", "digests and their log lines",
                                           "pending list and its log lines", "downloads")):
                    table.row(f"  phase: {phase}, {placement}", [r[1][i] for r in runs])
                # 200 missing files: 200 list lines in the digest phase, 200 list and 200 file-only lines in
                # the pending phase (the phases also open the files and compare the digests).
                table.row(f"log, digest phase, ms per line, {placement}",
                          [r[1][1] * 1000 / len(entries) if r[1][1] is not None else None for r in runs])
                table.row(f"log, pending phase, ms per list line, {placement}",
                          [r[1][2] * 1000 / len(entries) if r[1][2] is not None else None for r in runs])
                table.row(f"window visible after start (ms), {placement}", [r[2] for r in runs])
                # The floor under it: a Windows program that does nothing, from its start to its end.
                (fetch_list.parent / "empty.list").write_text("")
                table.row(f"Wine start and exit of an empty program (ms), {placement}",
                          [run_wine(prefix, wrap, [windows_bin / "bench_digest.exe", "empty.list"],
                                    fetch_list.parent)[0] * 1000 for _ in range(args.runs)])
                table.row(f"peak working set (MiB), {placement}", [r[3] / 1048576 for r in runs])
                table.row(f"peak resident, VmHWM (MiB), {placement}", [r[4] / 1024 if r[4] else None for r in runs])
            finally:
                prefix.stop()
                prefix.remove()
    finally:
        nginx.stop()


# The launcher's transfers in flight (MaxTransferSlots), which the bare WinINet loop uses too.
MAX_TRANSFER_SLOTS = 8

# Round-trip ms, Mbit/s down, Mbit/s up.
PROFILES = {"home": (60, 200, 20), "far": (150, 20, 5)}


def client_game(native_bin, work):
    """A client-shaped game, published once and kept: 400 files of 2-8 KiB, 90 of 380-500 KiB and 10 of 4.6-5 MiB
    (about 93 MB) of random bytes from a fixed seed, spread over the game's folders."""
    site = work / "net-site"
    if not (site / "update.cfg").exists():
        note("making and publishing the client-shaped game (500 files, ~93 MB)")
        shutil.rmtree(site, ignore_errors=True)
        rng = random.Random(18460)
        shapes = ((400, 2 << 10, 8 << 10), (90, 380 << 10, 500 << 10), (10, 4823449, 5 << 20))
        sizes = [rng.randint(low, high) for count, low, high in shapes for _ in range(count)]
        rng.shuffle(sizes)
        for index, size in enumerate(sizes):
            directory = FOLDERS[index % len(FOLDERS)]
            path = site / directory / f"file{index:03d}{EXTENSIONS.get(directory.split('/')[0], '.dat')}"
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(rng.randbytes(size))
        os.environ["LAUNCHER_NATIVE_BIN_DIR"] = str(native_bin)
        harness.publish(site)
    return site


def net_section(args, native_bin, windows_bin, display, template, work):
    """A first install through the line simulator. The launcher's build points at --host, so the simulator listens
    there and nginx one port above; every client fetches through the simulator."""
    site = client_game(native_bin, work)
    entries = [tuple(line.split(" ")[:2]) for line in (site / "update.cfg").read_text().splitlines()]
    total = sum((site / path).stat().st_size for path, _ in entries)
    host, port = harness.test_host()
    urls = [f"http://{host}:{port}/Quorvane/{path}" for path, _ in entries]
    net = work / "net"
    shutil.rmtree(net, ignore_errors=True)
    (net / "fetch").mkdir(parents=True)
    curl_config, aria2_list, fetch_list = net / "curl.config", net / "aria2.list", net / "fetch" / "fetch.list"
    curl_config.write_text("".join(f'url = "{url}"\noutput = "{net}/out/f{i:04d}"\n' for i, url in enumerate(urls)))
    aria2_list.write_text("".join(f"{url}\n  out=f{i:04d}\n" for i, url in enumerate(urls)))
    # aria2c's own cost per file, which no line removes: the same list straight from nginx.
    direct_list = net / "aria2-direct.list"
    direct_list.write_text(aria2_list.read_text().replace(f"{host}:{port}/", f"{host}:{port + 1}/"))
    fetch_list.write_text("".join(f"{url} out\\f{i:04d}\n" for i, url in enumerate(urls)))
    # No control file saved during each download: its fsyncs, not the line, made up most of aria2c's time.
    aria2_options = ["--dir", net / "out", "-j8", "-x8", "--no-proxy=127.0.0.1", "--file-allocation=none",
                     "--auto-save-interval=0", "--allow-overwrite=true", "--auto-file-renaming=false", "--quiet"]
    commands = {
        "aria2c, 8 connections": ["aria2c", "--input-file", aria2_list, *aria2_options],
        "aria2c, 8 connections, straight from nginx (no line)": ["aria2c", "--input-file", direct_list,
                                                                 *aria2_options],
        "curl, one keep-alive connection": ["curl", "--silent", "--fail", "--noproxy", "*", "--create-dirs",
                                            "--config", curl_config]}
    aria2, aria2_direct, curl = commands
    bare, launcher = "bare URLDownloadToFileA loop, Wine", "launcher, Wine"
    wininet = f"bare WinINet loop, {MAX_TRANSFER_SLOTS} threads, Wine (the launcher's floor)"
    nginx = harness.Nginx(site, work / "net-nginx", port + 1)
    prefix = wine_prefix(work / "prefix", display, template, [])
    try:
        for profile in [p for p in args.profiles.split(",") if p in PROFILES]:
            rtt, down, up = PROFILES[profile]
            floor = total * 8 / (down * 1e6)
            table = Table(f"Network, {profile}: first install of {len(entries)} files, {total / 1e6:.0f} MB through "
                          f"the line simulator ({rtt} ms round trip, {down} Mbit/s down, {up} up); seconds, the "
                          f"Wine rows with Wine's start; ratio = time relative to aria2c and to the floor; "
                          f"{args.net_runs} run(s) per row", "s")
            line = LineSim(port, port + 1, rtt, down, up)
            times = {label: [] for label in (aria2, aria2_direct, curl, bare, wininet, launcher)}
            wrong, peaks = 0, []
            try:
                # In turns, so a change in the machine's load touches every client alike.
                for i in range(args.net_runs):
                    for label, command in commands.items():
                        shutil.rmtree(net / "out", ignore_errors=True)
                        times[label].append(timed(command, net))
                    shutil.rmtree(fetch_list.parent / "out", ignore_errors=True)
                    (fetch_list.parent / "out").mkdir()
                    clear_url_cache(prefix)
                    times[bare].append(run_wine(prefix, [], [windows_bin / "bench_fetch.exe", "fetch.list"],
                                                fetch_list.parent)[0])
                    shutil.rmtree(fetch_list.parent / "out", ignore_errors=True)
                    (fetch_list.parent / "out").mkdir()
                    times[wininet].append(run_wine(prefix, [], [windows_bin / "bench_fetch_wininet.exe", "fetch.list",
                                                                MAX_TRANSFER_SLOTS], fetch_list.parent)[0])
                    clear_url_cache(prefix)
                    run = launcher_run(prefix, [], windows_bin, work, i, entries)
                    times[launcher].append(run[0])
                    peaks.append(run[3] / 1048576)
                    wrong += run[5]
            finally:
                line.stop()
            table.row(f"floor: {total / 1e6:.0f} MB at {down} Mbit/s", [floor])
            for label, values in times.items():
                done = [v for v in values if v is not None]
                ratio = f"{statistics.median(done) / floor:.2f}x floor" if done and label != aria2_direct else ""
                if label == launcher and wrong:
                    ratio += f"; {wrong} files wrong"
                table.row(label, values, ratio_to=None if label == aria2 else aria2, faster_is_higher=False,
                          note_text=ratio)
            table.row(f"{launcher} / {wininet}", times[launcher], ratio_to=wininet, faster_is_higher=False)
            table.row("launcher, peak working set (MiB)", peaks)
        if "cut" in args.profiles.split(","):
            cut_section(native_bin, windows_bin, work, prefix, port)
    finally:
        prefix.stop()
        prefix.remove()
        nginx.stop()


def one_file_site(native_bin, site, path, size, seed):
    """A published site of one file of random bytes from seed, made once and kept under --work."""
    if not (site / "update.cfg").exists():
        (site / path).parent.mkdir(parents=True, exist_ok=True)
        (site / path).write_bytes(random.Random(seed).randbytes(size))
        os.environ["LAUNCHER_NATIVE_BIN_DIR"] = str(native_bin)
        harness.publish(site)
    return site


def cut_section(native_bin, windows_bin, work, prefix, port):
    """One 64 MB file on the home line whose first connection is cut at 48 MB: the time of the run, whether it
    ended up to date, and the bytes the server sent, against the file's size."""
    site = one_file_site(native_bin, work / "net-cut-site", "data/pack.dat", 64_000_000, 48)
    entries = [tuple(line.split(" ")[:2]) for line in (site / "update.cfg").read_text().splitlines()]
    rtt, down, up = PROFILES["home"]
    nginx = harness.Nginx(site, work / "net-cut-nginx", port + 2)
    line = LineSim(port, port + 2, rtt, down, up, cut_after=48_000_000, cut_once=True)
    # The log is kept between runs of the benchmark: only this run's lines count.
    start = nginx.access_log.stat().st_size if nginx.access_log.exists() else 0
    try:
        clear_url_cache(prefix)
        run = launcher_run(prefix, [], windows_bin, work, 90, entries)
    finally:
        line.stop()
        nginx.stop()
    # nginx counts what it wrote, and the line drops what it still held at the cut: the first request
    # brought the launcher at most the cut's bytes, every later one all it sent.
    with open(nginx.access_log, "rb") as log:
        log.seek(start)
        text = log.read().decode(errors="replace")
    sent = [int(m.group(1)) for m in re.finditer(r'"GET /Quorvane/data/pack\.dat[^"]*" \d{3} (\d+)', text)]
    sent = min(sent[0], 48_000_000) + sum(sent[1:]) if sent else 0
    table = Table("Network, home line: one 64 MB file, the first connection cut at 48 MB", "s")
    table.row("launcher, Wine: to the end of the run", [run[0]],
              note_text=f"{'up to date' if run[0] is not None and not run[5] else 'NOT up to date'}; "
                        f"{sent / 64e6:.3f}x the file fetched")


def limit_section(args, native_bin, windows_bin, display, template, work):
    """The download limit kept in the settings file, on loopback: one 80 MB file fetched by the launcher for each
    limit, the bytes that reached its staging file sampled every 100 ms, and the rate over 10 s from the second
    second on (so the first answer's burst stays out of it), against the limit."""
    site = one_file_site(native_bin, work / "limit-site", "data/big.dat", 80_000_000, 77)
    host, port = harness.test_host()
    nginx = harness.Nginx(site, work / "limit-nginx", port)
    prefix = wine_prefix(work / "limit-prefix", display, template, [])
    table = Table("Download limit, loopback: the rate held over 10 s (MB/s of 10^6 bytes); ratio = rate / limit",
                  "MB/s")
    try:
        for limit in (2, 5):
            rates = []
            for i in range(min(args.runs, 3)):
                game = work / f"limit-game{i}"
                shutil.rmtree(game, ignore_errors=True)
                (game / "contents").mkdir(parents=True)
                (game / "contents" / "launcher.ini").write_bytes(f"[Launcher]\r\ndownload_limit = {limit}\r\n".encode())
                shutil.copy2(windows_bin / "Launcher.exe", game / "Launcher.exe")
                launcher = subprocess.Popen(harness.wine_command("Launcher.exe"), cwd=game,
                                            env=dict(prefix.env, PWD=str(game)), stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                staging, samples, deadline = game / "Launcher staging", [], time.monotonic() + 120
                try:
                    while time.monotonic() < deadline and (not samples or samples[-1][0] - samples[0][0] < 11.5):
                        size = sum(f.stat().st_size for f in staging.glob("*")) if staging.is_dir() else 0
                        if size or samples:
                            samples.append((time.monotonic(), size))
                        time.sleep(0.1)
                finally:
                    launcher.kill()
                    launcher.wait()
                    prefix.stop()
                start = next((s for s in samples if s[0] - samples[0][0] >= 1.0), None)
                end = next((s for s in samples if start and s[0] - start[0] >= 10.0), None)
                rates.append((end[1] - start[1]) / (end[0] - start[0]) / 1e6 if start and end else None)
            done = [r for r in rates if r is not None]
            table.row(f"launcher, Wine: limit {limit} MB/s", rates,
                      note_text=f"{statistics.median(done) / limit:.3f}x the limit" if done else "")
    finally:
        prefix.stop()
        prefix.remove()
        nginx.stop()


# Round-trip ms, Mbit/s down, Mbit/s up of each simulated host in the mirrors section.
MIRROR_LINE = (60, 100, 20)
SLOW_LINE = PROFILES["far"]


def mirrors_section(args, native_bin, windows_bin, display, template, work):
    """A first install of the client-shaped game from several hosts, each behind its own simulated line on its own
    loopback address and port --host: the origin 127.0.0.1 and the build's second list host 127.0.0.2 (the program
    built with both, bin/hosts), and 127.0.0.3; the mirrors are those of update.cfg.mirrors, written per case. The
    good mirror alone (the origin, no mirror list) is the anchor; aria2c gets every URI of each file."""
    site = client_game(native_bin, work)
    entries = [tuple(line.split(" ")[:2]) for line in (site / "update.cfg").read_text().splitlines()]
    total = sum((site / path).stat().st_size for path, _ in entries)
    stale = work / "mirrors-stale-site"
    if not (stale / "update.cfg").exists():
        # The previous release: every file of the same path, other bytes.
        shutil.rmtree(stale, ignore_errors=True)
        for path, _ in entries:
            (stale / path).parent.mkdir(parents=True, exist_ok=True)
            data = bytearray((site / path).read_bytes())
            data[0] ^= 0xFF
            (stale / path).write_bytes(bytes(data))
        shutil.copy2(site / "update.cfg", stale / "update.cfg")
    _, port = harness.test_host()
    bin_dir = windows_bin / "hosts"
    shutil.copy2(windows_bin / "driver.exe", bin_dir / "driver.exe")
    mirrors_file = site / "update.cfg.mirrors"
    base = {n: f"http://127.0.0.{n}:{port}/Quorvane/" for n in (1, 2, 3)}
    # Each case: its hosts as (address number, line, served site or "silent"), and the mirror list.
    cases = {
        "good mirror alone (the anchor)": ([(1, MIRROR_LINE, site)], []),
        "origin dead, one good mirror": ([(2, MIRROR_LINE, site)], [2]),
        "origin silent, one good mirror": ([(1, MIRROR_LINE, "silent"), (2, MIRROR_LINE, site)], [2]),
        "one slow mirror (far line) and one good": ([(1, MIRROR_LINE, site), (3, SLOW_LINE, site)], [3]),
        "a mirror serving the previous release": ([(1, MIRROR_LINE, site), (3, MIRROR_LINE, stale)], [3]),
        "two good mirrors of 100 Mbit/s each": ([(1, MIRROR_LINE, site), (3, MIRROR_LINE, site)], [3]),
    }
    aria2_cases = ("one slow mirror (far line) and one good", "two good mirrors of 100 Mbit/s each")
    nginx = {site: harness.Nginx(site, work / "mirrors-nginx", port + 1),
             stale: harness.Nginx(stale, work / "mirrors-stale-nginx", port + 2)}
    prefix = wine_prefix(work / "mirrors-prefix", display, template, [])
    table = Table(f"Mirrors: first install of {len(entries)} files, {total / 1e6:.0f} MB, each host behind a line of "
                  f"its own ({MIRROR_LINE[0]} ms, {MIRROR_LINE[1]} Mbit/s; the slow one {SLOW_LINE[0]} ms, "
                  f"{SLOW_LINE[1]} Mbit/s); seconds with Wine's start; ratio to the good mirror alone or to aria2c "
                  f"with every URI; {args.net_runs} run(s) per row", "s")
    anchor = "launcher: good mirror alone (the anchor)"
    try:
        for name, (hosts, mirrors) in cases.items():
            if mirrors:
                mirrors_file.write_text("".join(f"{base[n]}\n" for n in mirrors))
            elif mirrors_file.exists():
                mirrors_file.unlink()
            lines = [LineSim(port, port + (2 if served is stale else 1), *line, listen_host=f"127.0.0.{n}",
                             silent=served == "silent") for n, line, served in hosts]
            times, visible, wrong, aria2 = [], [], 0, []
            try:
                for i in range(args.net_runs):
                    clear_url_cache(prefix)
                    run = launcher_run(prefix, [], bin_dir, work, 60 + i, entries)
                    times.append(run[0])
                    visible.append(run[2])
                    wrong += run[5]
                    if name in aria2_cases:
                        out = work / "mirrors-aria2"
                        shutil.rmtree(out, ignore_errors=True)
                        uris = [n for n, _, _ in hosts]
                        listing = work / "mirrors-aria2.list"
                        listing.write_text("".join("\t".join(f"{base[n]}{path}" for n in uris) + f"\n  out={path}\n"
                                                   for path, _ in entries))
                        aria2.append(timed(["aria2c", "--input-file", listing, "--dir", out, "-j8",
                                            "--uri-selector=adaptive", "--no-proxy=127.0.0.1,127.0.0.2,127.0.0.3",
                                            "--file-allocation=none", "--auto-save-interval=0",
                                            "--allow-overwrite=true", "--auto-file-renaming=false", "--quiet"],
                                           work))
            finally:
                for line in lines:
                    line.stop()
            label = f"launcher: {name}"
            table.row(label, times, ratio_to=None if label == anchor else anchor, faster_is_higher=False,
                      note_text=f"{wrong} files wrong" if wrong else "")
            if name.startswith("origin"):
                table.row(f"  window visible (ms): {name}", visible)
            if aria2:
                table.row(f"aria2c, every URI, adaptive: {name}", aria2)
                table.row(f"  launcher / aria2c: {name}", times, ratio_to=f"aria2c, every URI, adaptive: {name}",
                          faster_is_higher=False)
    finally:
        if mirrors_file.exists():
            mirrors_file.unlink()
        prefix.stop()
        prefix.remove()
        for server in nginx.values():
            server.stop()


DELTA_BYTES = 256_000_000
DELTA_PATH = "data/pack.dat"


def changed_pack(old):
    """The old pack with 20 scattered 64 KiB changes (at odd offsets, so each spans parts of 17 blocks) and a
    10 KiB insertion in the middle, from a fixed seed."""
    rng, new, spacing = random.Random(2064), bytearray(old), len(old) // 21
    for i in range(1, 21):
        start = i * spacing + 777 * i
        new[start:start + 65536] = rng.randbytes(65536)
    middle = len(old) // 2 + 1234
    new[middle:middle] = rng.randbytes(10 * 1024)
    return bytes(new)


def scattered_pack(old):
    """The old pack with 1000 changes of 100 bytes spread evenly, from a fixed seed: each its own range to fetch."""
    rng, new, spacing = random.Random(1000), bytearray(old), len(old) // 1000
    for i in range(1000):
        start = i * spacing + spacing // 2
        new[start:start + 100] = rng.randbytes(100)
    return bytes(new)


DELTA_PACKS = {"changed": changed_pack, "fresh": lambda old: random.Random(257).randbytes(DELTA_BYTES),
               "scattered": scattered_pack}


def delta_sites(native_bin, work):
    """The old 256 MB pack in a game folder of its own, and three published sites: the pack changed in a few
    places, changed in 1000 small places, and replaced by new random bytes (no block in common). Each site is
    published with the old pack first, then republished with the new one, as a publisher would. Made once and
    kept (a site added later is made beside the others)."""
    root = work / "delta"
    if not (root / ".made").exists():
        shutil.rmtree(root, ignore_errors=True)
    old = None
    for name, make in DELTA_PACKS.items():
        site = root / name
        if (site / ".made").exists() or ((root / ".made").exists() and name != "scattered"):
            continue
        note(f"making the delta pack {name} (from 256 MB of random bytes) and publishing it")
        if old is None:
            old = random.Random(256).randbytes(DELTA_BYTES)
            (root / "old" / "data").mkdir(parents=True, exist_ok=True)
            (root / "old" / DELTA_PATH).write_bytes(old)
        os.environ["LAUNCHER_NATIVE_BIN_DIR"] = str(native_bin)
        shutil.rmtree(site, ignore_errors=True)
        (site / "data").mkdir(parents=True)
        (site / DELTA_PATH).write_bytes(old)
        harness.publish(site)
        (site / DELTA_PATH).write_bytes(make(old))
        harness.publish(site)
        (site / ".made").write_text("ok\n")
    (root / ".made").write_text("ok\n")
    return root


def sent_bytes(access_log, start):
    """Body bytes nginx sent per requested path in its log after offset start; "requests" counts the requests."""
    sent = {"requests": 0}
    with open(access_log, "rb") as log:
        log.seek(start)
        for match in re.finditer(r'"GET /Quorvane/(\S+) [^"]*" \d{3} (\d+)', log.read().decode(errors="replace")):
            sent[match.group(1)] = sent.get(match.group(1), 0) + int(match.group(2))
            sent["requests"] += 1
    return sent


def delta_section(args, native_bin, windows_bin, display, template, work):
    """A delta update of a 256 MB pack on the home line: the launcher patching it from its block index beside
    zsync with 4 KiB blocks, bytes and time; a pack with nothing in common; the block scan of a 4 GiB pack."""
    root = delta_sites(native_bin, work)
    host, port = harness.test_host()
    rtt, down, up = PROFILES["home"]
    prefix = wine_prefix(work / "prefix", display, template, [])
    zsync_dir = root / "zsync-run"
    try:
        packs = (("changed", "20 scattered 64 KiB changes and a 10 KiB insertion"),
                 ("fresh", "no block in common (new random bytes)"),
                 ("scattered", "1000 changes of 100 bytes spread evenly"))
        for offset, (name, title) in enumerate(packs):
            if name not in args.delta_packs.split(","):
                continue
            site = root / name
            entries = [tuple(line.split(" ")[:2]) for line in (site / "update.cfg").read_text().splitlines()]
            size = (site / DELTA_PATH).stat().st_size
            index_name = f"{DELTA_PATH}.{entries[0][1]}.blocks"
            # zsync's control file, made for this host: 4 KiB blocks, as the launcher's index of this size.
            control = site / "data" / "pack.zsync"
            control.unlink(missing_ok=True)
            started = time.perf_counter()
            subprocess.run(["zsyncmake", "-b", "4096", "-u", f"http://{host}:{port}/Quorvane/{DELTA_PATH}",
                            "-o", control, site / DELTA_PATH], check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            zsyncmake_seconds = time.perf_counter() - started
            nginx = harness.Nginx(site, work / f"delta-nginx-{name}", port + 1 + offset)
            line = LineSim(port, port + 1 + offset, rtt, down, up)
            floor = size * 8 / (down * 1e6)
            (launcher_times, patch_times, launcher_bytes, index_bytes, zsync_times, zsync_bytes, control_bytes,
             memory) = ([] for _ in range(8))
            wrong, different, patched, launcher_requests, zsync_requests = 0, 0, "", 0, 0
            try:
                for i in range(args.net_runs):
                    start = nginx.access_log.stat().st_size if nginx.access_log.exists() else 0
                    clear_url_cache(prefix)
                    run = launcher_run(prefix, [], windows_bin, work, 80 + i, entries, prepared=root / "old")
                    sent = sent_bytes(nginx.access_log, start)
                    launcher_times.append(run[0])
                    patch_times.append(run[1][3])
                    memory.append(run[3] / 1048576)
                    launcher_bytes.append(sent.get(DELTA_PATH, 0) + sent.get(index_name, 0))
                    index_bytes.append(sent.get(index_name, 0))
                    launcher_requests = sent["requests"]
                    wrong += run[5]
                    patched = next((text.split("] ", 1)[-1] for text in run[6].splitlines()
                                    if "Patched " in text or "Patch of " in text), "no patch line in the log")

                    start = nginx.access_log.stat().st_size
                    shutil.rmtree(zsync_dir, ignore_errors=True)
                    zsync_dir.mkdir()
                    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
                    started = time.perf_counter()
                    subprocess.run(["zsync", "-q", "-i", root / "old" / DELTA_PATH, "-o", zsync_dir / "pack.dat",
                                    f"http://{host}:{port}/Quorvane/data/pack.zsync"], cwd=zsync_dir, env=env,
                                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
                    zsync_times.append(time.perf_counter() - started)
                    sent = sent_bytes(nginx.access_log, start)
                    zsync_requests = sent.pop("requests")
                    zsync_bytes.append(sum(sent.values()))
                    control_bytes.append(sent.get("data/pack.zsync", 0))
                    different += harness.sha1_of(zsync_dir / "pack.dat") != entries[0][1]
            finally:
                line.stop()
                nginx.stop()
                shutil.rmtree(zsync_dir, ignore_errors=True)
            table = Table(f"Delta update, home line ({rtt} ms, {down}/{up} Mbit/s): a {size / 1e6:.0f} MB pack, "
                          f"{title}; seconds, MB (10^6 bytes) from nginx's log; {args.net_runs} run(s) per row", "s")
            table.row(f"floor: the whole pack at {down} Mbit/s", [floor])
            launcher = "launcher, Wine, whole run (s)"
            done = [t for t in launcher_times if t is not None]
            table.row(launcher, launcher_times, note_text=(f"{statistics.median(done) / floor:.2f}x floor; "
                                                           if done else "") +
                      ("identical" if not wrong else f"{wrong} files NOT identical"))
            # The run also holds Wine's start, the manifest and the digest of the old pack before the patch.
            patch = "launcher: download phase (s)"
            table.row(patch, patch_times, note_text="index, scan, ranges or whole file, digest")
            table.row("zsync -b 4096 (s)", zsync_times, ratio_to=launcher, faster_is_higher=False,
                      note_text="identical" if not different else f"{different} runs NOT identical")
            table.row("zsync beside the launcher's download phase", zsync_times, ratio_to=patch,
                      faster_is_higher=False)
            fetched = "launcher bytes (MB), pack and its index"
            table.row(fetched, [b / 1e6 for b in launcher_bytes],
                      note_text=f"{statistics.median(launcher_bytes) / size:.4f}x the file; "
                                f"{launcher_requests} requests in the run")
            table.row("  of which the block index (MB)", [b / 1e6 for b in index_bytes])
            table.row("zsync bytes (MB), control file included", [b / 1e6 for b in zsync_bytes], ratio_to=fetched,
                      faster_is_higher=False,
                      note_text=f"{statistics.median(zsync_bytes) / size:.4f}x the file; "
                                f"{zsync_requests} requests in the run")
            table.row("  of which the control file (MB)", [b / 1e6 for b in control_bytes])
            table.row("zsyncmake -b 4096 on the publisher's side (s)", [zsyncmake_seconds])
            table.row("launcher, peak working set (MiB)", memory)
            print(f"\nThe launcher's log: {patched}")
    finally:
        prefix.stop()
        prefix.remove()
    if "scan" in args.delta_packs.split(","):
        block_scan_section(native_bin, windows_bin, display, template, work)


def block_scan_section(native_bin, windows_bin, display, template, work):
    """tools/bench_block_scan on a 256 MB and a 4 GiB pack, natively and under Wine: it writes the pack, its
    changed copy and the rebuilt file under work (about 12.9 GB for the larger), and removes them."""
    folder = work / "scan4g"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    sizes = [("256 MB", "244"), ("4 GiB", "4096")]
    free = shutil.disk_usage(folder).free
    if free < 16 * GIB:
        print(f"\nBlock scan of a 4 GiB pack skipped: {free / GIB:.1f} GiB free under {folder}, 16 GiB needed.")
        sizes.pop()
    results = {}
    prefix = wine_prefix(work / "prefix", display, template, [])
    try:
        for name, megabytes in sizes:
            results[f"{name}, native"] = fields(subprocess.run(
                [native_bin / "bench_block_scan", "--megabytes", megabytes, folder],
                check=True, capture_output=True, text=True).stdout)
            results[f"{name}, Wine"] = fields(run_wine(prefix, [], [windows_bin / "bench_block_scan.exe",
                                                                    "--megabytes", megabytes, "."],
                                                       folder, timeout=3600)[1])
    finally:
        prefix.stop()
        prefix.remove()
        shutil.rmtree(folder, ignore_errors=True)
    table = Table("Block scan of a 256 MB and a 4 GiB pack (20 scattered 64 KiB changes, a 10 KiB insertion; the "
                  "4 GiB pack has 128 KiB blocks): seconds, peak memory of the whole program (MiB)", "s")
    for where, r in results.items():
        table.row(f"scan of the old pack, two halves at once, {where}", [float(r["scan_seconds"])],
                  note_text=f"{r['result']}; {int(r['fetch_bytes']) / 1e6:.1f} MB in {r['ranges']} ranges")
        table.row(f"scan of the old pack, one thread, {where}", [float(r["single_scan_seconds"])])
        table.row(f"index of the new pack, {where}", [float(r["index_seconds"])])
        table.row(f"rebuild, {where}", [float(r["build_seconds"])])
        table.row(f"peak memory (MiB), {where}", [int(r["peak_rss_kib"]) / 1024],
                  note_text=f"index {int(r['index_bytes']) / 1024:.0f} KiB")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--build", type=Path, default=REPO / "build-bench")
    parser.add_argument("--work", type=Path, default=None)
    parser.add_argument("--host", default="127.0.0.1:18469")
    parser.add_argument("--only", default="digest,update,signature,net")
    parser.add_argument("--profiles", default="home",
                        help="line profiles of the net section: home, far, and cut (64 MB cut once at 48 MB)")
    parser.add_argument("--net-runs", type=int, default=1, help="runs per line profile")
    parser.add_argument("--delta-packs", default="changed,fresh,scattered,scan",
                        help="the delta section's packs (changed, fresh, scattered) and the block scan (scan)")
    args = parser.parse_args()
    sections = set(args.only.split(","))
    build_dir = args.build.resolve()
    work = (args.work or build_dir / "work").resolve()
    os.environ["LAUNCHER_TEST_HOST"] = args.host

    note("building from the presets (release; the Windows build for the update host)")
    native_bin = build("release", build_dir / "release", ["bench_digest", "publish_manifest", "bench_block_scan"])
    # The benchmark's own publisher key (made once under --work, never committed); the Windows build makes a
    # signed launcher with its public half beside the unsigned one.
    work.mkdir(parents=True, exist_ok=True)
    key = bench_key(native_bin, work)
    windows = "windows-i686" if can_run_32() else "windows-x86_64"
    list_hosts = f"{args.host},127.0.0.2:{args.host.rsplit(':', 1)[1]}"
    windows_bin = build(windows, build_dir / windows, ["Launcher", "Launcher_signed", "Launcher_hosts", "driver",
                                                       "bench_digest",
                                                       "bench_fetch", "bench_fetch_wininet", "bench_signature",
                                                       "bench_block_scan"],
                        f"-DLAUNCHER_UPDATE_HOST={args.host}", f"-DLAUNCHER_TEST_MANIFEST_KEY={key}.pub",
                        f"-DLAUNCHER_TEST_LIST_HOSTS={list_hosts}")
    template = build_dir / "wine-template"
    prepare_template(template)
    work.mkdir(parents=True, exist_ok=True)
    cpu = next((line.split(":", 1)[1].strip() for line in Path("/proc/cpuinfo").read_text().splitlines()
                if line.startswith("model name")), "?")
    print(f"# Launcher benchmark, {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}\n\n{os.cpu_count()} CPUs "
          f"({cpu}; SHA extensions: {'yes' if 'sha_ni' in Path('/proc/cpuinfo').read_text() else 'no'}); "
          f"Windows build {windows}; {args.runs} runs per row; load average at start {load_average()}")

    xvfb = harness.Xvfb(work / "xvfb.log")
    try:
        if "digest" in sections:
            make_data(work / "data")
            digest_section(args, native_bin, windows_bin, work / "data", xvfb.display, template, work)
        if "update" in sections:
            update_section(args, native_bin, windows_bin, xvfb.display, template, work)
        if "signature" in sections:
            signature_section(args, native_bin, windows_bin, xvfb.display, template, work)
        if "net" in sections:
            net_section(args, native_bin, windows_bin, xvfb.display, template, work)
        if "delta" in sections:
            delta_section(args, native_bin, windows_bin, xvfb.display, template, work)
        if "limit" in sections:
            limit_section(args, native_bin, windows_bin, xvfb.display, template, work)
        if "mirrors" in sections:
            mirrors_section(args, native_bin, windows_bin, xvfb.display, template, work)
    finally:
        xvfb.stop()
    print(f"\nLoad average at the end: {load_average()}")


if __name__ == "__main__":
    main()
