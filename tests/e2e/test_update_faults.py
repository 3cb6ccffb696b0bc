"""End-to-end tests of the update run against a faulty update server: HTTP errors, a connection cut in the middle
of a file, bodies that do not match their digests, headers too long to copy, a server that is down or stalls, the
launcher killed mid-download, and hostile manifests; the real Launcher.exe under Wine + Xvfb against
tests/e2e/fault_server.py.
"""

import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from test_update import (DATA_DIRECTORIES, NO_SUCH_FILE, PLAY_BUTTON, STAGING_FOLDER, UpdateTestCase,  # noqa: E402
                         temp_leftovers, update_lines)

EMPTY_SHA1 = "da39a3ee5e6b4b0d3255bfef95601890afd80709"
# The transfer time-out of the program built for the tests (the product's is 30 s): long enough for a good transfer
# on a loaded machine, short enough to stay fast.
TIMEOUT_SECONDS = int(os.environ.get("LAUNCHER_TEST_TIMEOUT_SECONDS", "8"))


def sha1_bytes(data):
    return hashlib.sha1(data).hexdigest()


def content(name, size):
    """Bytes of a test file that depend only on its name."""
    seed = hashlib.sha256(name.encode()).digest()
    return (seed * (size // len(seed) + 1))[:size]


class DownServerTest(UpdateTestCase):
    """Runs first in this file (its class name sorts first), before the fault server's closed connections linger
    on the port and the port can only be blocked in a way that another server could share."""

    def test_server_down(self):
        blocker = harness.PortBlocker()  # refuses every connection and keeps other servers off the port
        self.addCleanup(blocker.stop)
        # An installed client that Repair could not download again, since no file list arrived.
        client = self.game_dir / "Client.exe"
        client.write_bytes(b"MZ the installed client")
        lines = self.run_update(repair=True)
        self.assertEqual(client.read_bytes(), b"MZ the installed client", "Repair keeps the client")
        lines = lines[:lines.index("Update incomplete: the file list could not be downloaded") + 1]
        if "Download: update.cfg complete." in lines:
            self.fail("a server answered on the blocked port: another test run's server shared it")
        expected = [re.compile(rf"^(URL is invalid: {re.escape(self.url('update.cfg'))}\."
                               r"|Download: update\.cfg, error: -?\d+)$"),
                    "Try to reading update.cfg", "Total files to check: 0", "Checking files...",
                    "Checking for updates...", "Update incomplete: the file list could not be downloaded"]
        self.assert_list_lines(update_lines(lines), expected)
        messages = update_lines(self.file_messages())
        self.assert_list_lines(messages[:len(expected)], expected)
        self.assertEqual(messages[len(expected):], expected[-3:], "the repair run uses the same (missing) list")
        for directory in DATA_DIRECTORIES:
            self.assertTrue((self.game_dir / directory).is_dir(), directory)
        leftovers = sorted(p.name for p in self.game_dir.iterdir() if p.is_file())
        self.assertEqual(leftovers, ["Client.exe", "Launcher.exe", harness.LOG_FILE])
        self.assertEqual(temp_leftovers(self.game_dir), [])


class UpdateFaultTest(UpdateTestCase):

    def fault_server(self, site, *faults):
        self.server = self.serve_faults(site, *faults)
        return self.server

    def publish_files(self, files, old=None, digests=None):
        """Writes files (path -> bytes) into a new site with their manifest (digests: path -> digest to list
        instead of the file's own), and old (path -> bytes) as the local copies in the game folder."""
        site = self.work / "site"
        for path, data in files.items():
            (site / path).parent.mkdir(parents=True, exist_ok=True)
            (site / path).write_bytes(data)
        for path, data in (old or {}).items():
            (self.game_dir / path).parent.mkdir(parents=True, exist_ok=True)
            (self.game_dir / path).write_bytes(data)
        entries = [(path, (digests or {}).get(path, sha1_bytes(data))) for path, data in files.items()]
        return site, harness.write_manifest(site, entries)

    def requested(self):
        """Paths the server was asked for, in order, as /Quorvane/PATH."""
        return ["/Quorvane/" + path for path in harness.without_mirror_list(self.server.requested())]

    def test_http_errors_cut_and_bad_bodies_keep_what_was_there(self):
        files = {
            "sprites/ui/first.spr": content("first", 3000),
            "music/missing404.ogg": content("404", 5000),
            "music/missing500.ogg": content("500", 5000),
            "music/gateway502.ogg": content("502", 6000),
            "mapdata/cut.map": content("cut", 400000),
            "sounds/corrupt.wav": content("corrupt", 7000),
            "fonts/empty.ttf": content("empty", 2000),
            "sounds/huge.wav": content("huge", 4000),
            "fonts/padded.ttf": content("padded", 300000),
            "sprites/ui/last.spr": content("last", 3000),
        }
        # Older local copies of the files whose new version will not arrive intact.
        old = {"mapdata/cut.map": b"old map", "sounds/corrupt.wav": b"old sound", "fonts/empty.ttf": b"old font"}
        # The padded file has no digest to check, so only the announced length, far down the headers, can tell
        # that its body was cut short.
        site, entries = self.publish_files(files, old, digests={"fonts/padded.ttf": "unchecked"})
        self.fault_server(site, "music/missing404.ogg=404", "music/missing500.ogg=500",
                          "music/gateway502.ogg=502", "mapdata/cut.map=cut",
                          "sounds/corrupt.wav=corrupt", "fonts/empty.ttf=empty", "sounds/huge.wav=huge",
                          "fonts/padded.ttf=padded")

        lines = self.run_update()
        paths = [path for path, _ in entries]
        digest = dict(entries)
        corrupt_arrived = sha1_bytes(bytes(b ^ 0x5A for b in files["sounds/corrupt.wav"]))

        def retried(path):
            return [f"Download: {path} interrupted, trying again ({n} of 4)." for n in (2, 3, 4)]

        def mismatched(path, arrived):
            return [f"Download: {path} does not match the file list, trying again (2 of 4).",
                    f"Download: {path} does not match its digest ({arrived} - {digest[path]})."]
        huge_arrived = sha1_bytes(bytes(range(256)) * (20 * 1024 * 1024 // 256))
        expected = (["Download: update.cfg complete.", "Try to reading update.cfg", f"Total files to check: {len(paths)}"]
                    + [f"{{Error: {NO_SUCH_FILE} {path}}}" for path in paths if path not in old]
                    + ["Checking files..."]
                    + [f"File {path} needs updating" for path in paths]
                    + ["Checking for updates...",
                       "Download: sprites/ui/first.spr complete.",
                       # A client error is never retried; a server error, a cut and a short body are, 3 times.
                       f"URL is invalid: {self.url('music/missing404.ogg')}."]
                    + retried("music/missing500.ogg") + [f"URL is invalid: {self.url('music/missing500.ogg')}."]
                    + retried("music/gateway502.ogg") + [f"URL is invalid: {self.url('music/gateway502.ogg')}."]
                    # A cut transfer is a failed one, whichever way the download service reports it.
                    + retried("mapdata/cut.map")
                    + [re.compile(rf"^(URL is invalid: {re.escape(self.url('mapdata/cut.map'))}\."
                                  r"|Download: mapdata/cut\.map, error: -?\d+)$")]
                    # A body of the wrong digest is fetched once more, past any cache, then given up.
                    + mismatched("sounds/corrupt.wav", corrupt_arrived)
                    + mismatched("fonts/empty.ttf", EMPTY_SHA1)
                    + mismatched("sounds/huge.wav", huge_arrived)
                    + retried("fonts/padded.ttf")
                    + [re.compile(rf"^(URL is invalid: {re.escape(self.url('fonts/padded.ttf'))}\."
                                  r"|Download: fonts/padded\.ttf, error: -?\d+)$"),
                       "Download: sprites/ui/last.spr complete.",
                       "Update incomplete: 8 of 10 files could not be updated"])
        with self.subTest("list"):
            self.assert_list_lines(update_lines(lines), expected)
            self.assertNotIn("All files up to date", lines)
        with self.subTest("log file"):
            self.assert_list_lines([m for m in update_lines(self.file_messages()) if " HASH (" not in m], expected)

        with self.subTest("files"):
            for path in ("sprites/ui/first.spr", "sprites/ui/last.spr"):
                self.assertEqual((self.game_dir / path).read_bytes(), files[path], path)
            for path in ("music/missing404.ogg", "music/missing500.ogg", "music/gateway502.ogg", "sounds/huge.wav",
                         "fonts/padded.ttf"):
                self.assertFalse((self.game_dir / path).exists(), f"nothing stored as {path}")
            for path, data in old.items():
                self.assertEqual((self.game_dir / path).read_bytes(), data, f"{path} keeps its old version")
            # What arrived of the cut file waits, under its digest, for the next start.
            staged = sorted(p.name for p in (self.game_dir / STAGING_FOLDER).iterdir())
            self.assertEqual(staged, [f"{digest['mapdata/cut.map']}.part"])
            cut_size = (self.game_dir / STAGING_FOLDER / staged[0]).stat().st_size
            self.assertEqual(cut_size, 400000 * 15 // 16, "each attempt resumed where the last one stopped")
        with self.subTest("requests"):
            self.assertEqual(self.requested()[0], "/Quorvane/update.cfg")
            counts = {path: self.requested().count(f"/Quorvane/{path}") for path in paths}
            self.assertEqual(counts, {**dict.fromkeys(paths, 1), "music/missing500.ogg": 4,
                                      "music/gateway502.ogg": 4, "mapdata/cut.map": 4,
                                      "sounds/corrupt.wav": 1, "fonts/empty.ttf": 1, "sounds/huge.wav": 1,
                                      "fonts/padded.ttf": 4})
            for path in ("sounds/corrupt.wav", "fonts/empty.ttf", "sounds/huge.wav"):
                self.assertIn(f"/Quorvane/{path}?sha1={digest[path]}", self.requested())
            ranges = [line.split(" range=")[1] for line in self.server.log_lines()
                      if line.startswith("GET /Quorvane/mapdata/cut.map ") and " range=" in line]
            self.assertEqual(ranges, ["200000-", "300000-", "350000-"])

    def test_resumed_transfers_read_every_answer(self):
        """Bodies that wait in the staging folder from an earlier start, and the answers a server may give to
        their Range requests; a cut once and a server error once, each retried; the log in manifest order
        though the first file ends last."""
        files = {name: content(name, 100000) for name in
                 ("data/honoured.dat", "data/ignored.dat", "data/mislabelled.dat", "data/whole.dat",
                  "data/overlong.dat", "data/cut.dat", "data/busy.dat")}
        site, entries = self.publish_files(files)
        digest = dict(entries)
        staging = self.game_dir / STAGING_FOLDER
        staging.mkdir()
        waiting = {"data/honoured.dat": 40000, "data/ignored.dat": 40000, "data/mislabelled.dat": 40000,
                   "data/whole.dat": 100000}
        for path, size in waiting.items():
            (staging / f"{digest[path]}.part").write_bytes(files[path][:size])
        (staging / f"{digest['data/overlong.dat']}.part").write_bytes(files["data/overlong.dat"] + b"tail")
        (staging / f"{'0' * 40}.part").write_bytes(b"a partial of no listed file")
        # The first file ends last: its lines still come first. The list's first answer sets two cookies, which every
        # later request carries back, at the next start too.
        self.fault_server(site, "data/honoured.dat=late", "data/ignored.dat=norange", "data/mislabelled.dat=badrange:1",
                          "data/cut.dat=cut:1", "data/busy.dat=503:1", "update.cfg=cookie:1")

        lines = update_lines(self.run_update())
        retry = "Download: {} interrupted, trying again (2 of 4)."
        self.assertEqual(lines[lines.index("Checking for updates...") + 1:], [
            "Download: data/honoured.dat complete.", "Download: data/ignored.dat complete.",
            retry.format("data/mislabelled.dat"), "Download: data/mislabelled.dat complete.",
            "Download: data/whole.dat complete.",
            retry.format("data/overlong.dat"), "Download: data/overlong.dat complete.",
            retry.format("data/cut.dat"), "Download: data/cut.dat complete.",
            retry.format("data/busy.dat"), "Download: data/busy.dat complete.", "All files up to date"])
        for path, data in files.items():
            self.assertEqual((self.game_dir / path).read_bytes(), data, path)
        self.assertEqual(temp_leftovers(self.game_dir), [])
        def cookies(line):
            return sorted(line.partition(" cookie=")[2].split("; "))
        log = [line.split(" ", 1)[1] for line in self.server.log_lines() if line.startswith("GET /Quorvane/data/")]
        self.assertEqual([line for line in log if cookies(line) != ["edge=update.cfg", "region=eu"]], [])
        log = [line.partition(" cookie=")[0] for line in log]
        self.assertEqual(sorted(log), sorted([
            "/Quorvane/data/honoured.dat 206 60000 range=40000-",
            "/Quorvane/data/ignored.dat 200 100000 range=40000-",
            "/Quorvane/data/mislabelled.dat 206-badrange 100000 range=40000-",
            "/Quorvane/data/mislabelled.dat 200 100000",
            "/Quorvane/data/whole.dat 416 0 range=100000-",
            "/Quorvane/data/overlong.dat 416 0 range=100004-",
            "/Quorvane/data/overlong.dat 200 100000",
            "/Quorvane/data/cut.dat 200-cut 50000",
            "/Quorvane/data/cut.dat 206 50000 range=50000-",
            "/Quorvane/data/busy.dat 503 39",
            "/Quorvane/data/busy.dat 200 100000"]))
        before = len(self.server.log_lines())
        self.run_update()
        again = [line for line in self.server.log_lines()[before:] if line.startswith("GET /Quorvane/update.cfg ")]
        self.assertEqual([cookies(line) for line in again], [["edge=update.cfg", "region=eu"]])

    def test_caching_edge_cannot_hold_back_a_republished_file(self):
        files = {"data/pack.dat": content("first edition", 50000), "data/other.dat": content("other", 3000)}
        site, _ = self.publish_files(files)
        nginx = self.serve_through_cache(site)
        lines = update_lines(self.run_update())
        self.assertEqual(lines[-1], "All files up to date")

        # Republished under the same name: the edge still holds the first edition for a day.
        new = content("second edition", 60000)
        (site / "data/pack.dat").write_bytes(new)
        harness.write_manifest(site, [("data/pack.dat", sha1_bytes(new)), ("data/other.dat", sha1_bytes(files["data/other.dat"]))])
        lines = update_lines(self.run_update())
        stale = sha1_bytes(files["data/pack.dat"])
        self.assertEqual(lines[lines.index("Checking for updates...") + 1:], [
            "Download: data/pack.dat does not match the file list, trying again (2 of 4).",
            "Download: data/pack.dat complete.", "All files up to date"], f"the edge served {stale} first")
        self.assertEqual((self.game_dir / "data/pack.dat").read_bytes(), new)
        fetched = [path for method, path, _ in nginx.requests() if "pack.dat" in path]
        self.assertEqual(fetched, ["/Quorvane/data/pack.dat", f"/Quorvane/data/pack.dat?sha1={sha1_bytes(new)}"])

    def test_large_file_patched_from_its_block_index(self):
        """A 3 MiB pack changed in a few places is patched from its block index, several ranges to a request; a
        server that sends one range where several were asked gets one range per request; a server that ignores
        Range, a missing index and an index that lies each fall back to the whole file, never to a wrong one."""
        site = self.work / "site"
        (site / "data").mkdir(parents=True)
        old = random.Random(5).randbytes(3 << 20)
        (site / "data/pack.dat").write_bytes(old)
        harness.publish(site)
        old_index = (site / f"data/pack.dat.{sha1_bytes(old)}.blocks").read_bytes()
        new = bytearray(old)
        for offset in (0x40000, 0x130000, 0x260000):  # scattered 64 KiB regions, block-aligned
            new[offset:offset + 0x10000] = random.Random(offset).randbytes(0x10000)
        for offset in (0xa1234, 0xe0000, 0x1c0000, 0x210000, 0x2b5678):  # 100 bytes, in one block or across two
            new[offset:offset + 100] = random.Random(offset).randbytes(100)
        new[0x180000:0x180000] = random.Random(7).randbytes(10 << 10)
        new = bytes(new)
        (site / "data/pack.dat").write_bytes(new)
        harness.publish(site)
        index = site / f"data/pack.dat.{sha1_bytes(new)}.blocks"
        good_index = index.read_bytes()
        self.assertFalse((site / f"data/pack.dat.{sha1_bytes(old)}.blocks").exists(), "the old index is gone")
        server = self.fault_server(site)
        # The entry of the new file's block at 0x130000 given the sums of the old bytes there: the scan takes them.
        size = 4 + good_index[6]  # a weak sum, then the strong sum's bytes
        entry = 40 + size * (0x130000 // 4096)
        lying_index = good_index[:entry] + old_index[entry:entry + size] + good_index[entry + size:]

        fallback = "Patch of data/pack.dat not used: {}; downloading the whole file."
        one_by_one = "Patch of data/pack.dat: the server sends one range per request."
        rows = [("patched", [], good_index, None),
                ("a server that sends the first of several ranges", ["data/pack.dat=onerange"], good_index, None),
                ("a server that sends the whole file for several ranges", ["data/pack.dat=nomulti"], good_index, None),
                ("a server that ignores Range", ["data/pack.dat=norange"], good_index,
                 "the server ignores Range requests"),
                ("no index", [], None, "its block index could not be fetched"),
                ("an index that lies", [], lying_index, "the rebuilt file does not match its digest")]
        for name, rules, index_data, reason in rows:
            with self.subTest(name):
                (self.game_dir / "data").mkdir(exist_ok=True)
                (self.game_dir / "data/pack.dat").write_bytes(old)
                if index_data is None:
                    index.unlink()
                else:
                    index.write_bytes(index_data)
                server.set_rules(*rules)
                server.requests_file.unlink(missing_ok=True)
                lines = update_lines(self.run_update())
                outcome = lines[lines.index("Checking for updates...") + 1:]
                sent = [line.split(" ") for line in server.log_lines() if line.startswith("GET /Quorvane/data/pack.dat ")]
                self.assertEqual((self.game_dir / "data/pack.dat").read_bytes(), new)
                self.assertEqual(temp_leftovers(self.game_dir), [])
                if reason:
                    self.assertEqual(outcome, [fallback.format(reason), "Download: data/pack.dat complete.",
                                               "All files up to date"])
                    whole = [fields[2:] for fields in sent if len(fields) == 4]
                    self.assertEqual(whole, [["200", str(len(new))]], "then the whole file, once")
                    continue
                refused = bool(rules)
                self.assertEqual(outcome[0], "Download: data/pack.dat complete.")
                self.assertEqual(outcome[1:-2], [one_by_one] if refused else [])
                self.assertRegex(outcome[-2], r"^Patched data/pack\.dat: 0\.[1-9] of 3\.0 MB fetched\.$")
                self.assertEqual(outcome[-1], "All files up to date")
                ranges = [" ".join(fields[4:]) for fields in sent]
                self.assertTrue(ranges and all(re.fullmatch(r"range=\d+-\d+(,\d+-\d+)*", r) for r in ranges), ranges)
                several = [r for r in ranges if "," in r]
                self.assertTrue(several, "several ranges to a request")
                if refused:
                    # Once refused, one range per request for what is left.
                    self.assertNotIn(",", ranges[-1], ranges)
                    continue
                fetched = sum(int(fields[3]) for fields in sent)
                self.assertLess(fetched, len(new) // 8, "only the changed parts travel")
                harness.log(f"patch: {fetched} of {len(new)} bytes in {len(sent)} requests, index {len(good_index)}")

    def test_hostile_manifests(self):
        """Hostile manifests, one launcher run each: a table of refused lines (told apart by their log lines)
        among good entries, 1001 and 100000 lines, an HTML error page and a binary file."""
        site = self.work / "site"
        good = {"data/good.dat": content("good", 1000), "data/upper.dat": content("upper", 1500),
                "data/..dots.dat": content("dots", 700), "data/keep.dat": content("keep", 800),
                "data/cr.dat": content("cr", 600)}
        for path, data in good.items():
            (site / path).parent.mkdir(parents=True, exist_ok=True)
            (site / path).write_bytes(data)
        digest = {path: sha1_bytes(data) for path, data in good.items()}
        # Earlier good files: two up to date, one that no manifest lists.
        kept = {"data/keep.dat": good["data/keep.dat"], "data/cr.dat": good["data/cr.dat"],
                "data/unlisted.dat": b"unlisted"}
        for path, data in kept.items():
            (self.game_dir / path).parent.mkdir(parents=True, exist_ok=True)
            (self.game_dir / path).write_bytes(data)
        # Files the unsafe entries would reach if the launcher fetched them: beside and above the served folder.
        bait = content("bait", 900)
        bait_digest = sha1_bytes(bait).encode()
        (site.parent / "x").write_bytes(bait)
        for name in ("y", "CON", "AUX", "COM1", "NUL.txt", "lpt1.dat", "evil.txt.", "sprites/com2", "x:stream"):
            (site / name).parent.mkdir(parents=True, exist_ok=True)
            (site / name).write_bytes(bait)

        unsafe = ["../x", "..\\x", "data/../../x", "a/../../x", "/y", "\\y", "C:y", "C:x", "data/a:b", "x:stream",
                  "\\\\server\\share\\x", "CON", "AUX", "COM1", "NUL.txt", "lpt1.dat", ".", "evil.txt.",
                  "sprites/com2", "data//y", "q?.dat", "s*.dat", "l<t.dat", "g>t.dat", 'qu"ote.dat', "pi|pe.dat"]
        too_long = [b"data/" + b"p" * 195 + b" " + bait_digest,  # a 200-character path
                    b"data/long.dat " + b"d" * 150,  # a 150-character digest
                    b"data/" + b"q" * 60000 + b" " + bait_digest]  # a 60000-character line
        rows = [(f"data/good.dat {digest['data/good.dat']}".encode(), None)]
        rows += [(path.encode() + b" " + bait_digest, f"Unsafe path refused: {path}") for path in unsafe[:13]]
        rows += [(f"data/upper.dat {digest['data/upper.dat'].upper()}".encode(), None)]
        rows += [(line, "too long") for line in too_long]
        rows += [(b"\0data/zero.dat " + bait_digest, "")]  # a line starting with a zero byte is skipped silently
        rows += [(path.encode() + b" " + bait_digest, f"Unsafe path refused: {path}") for path in unsafe[13:]]
        rows += [(f"data/..dots.dat {digest['data/..dots.dat']}".encode(), None),
                 (f"data/keep.dat {digest['data/keep.dat']}".encode(), None)]
        # The last line ends in a bare CR: dropped like every other line end, so cr.dat is not fetched again.
        manifest = b"\n".join(line for line, _ in rows) + b"\n" + f"data/cr.dat {digest['data/cr.dat']}\r".encode()
        refusals = [f"Manifest line {number} skipped: field too long" if note == "too long" else note
                    for number, (_, note) in enumerate(rows, 1) if note]
        installed = ["data/good.dat", "data/upper.dat", "data/..dots.dat"]
        incomplete = "Update incomplete: some entries of the file list were refused"

        with self.subTest("the publisher tool refuses what the launcher refuses"):
            tool = harness.env_path("LAUNCHER_NATIVE_BIN_DIR") / "publish_manifest"
            result = subprocess.run([tool, site, self.work / "published.cfg"], capture_output=True, text=True,
                                    timeout=60)
            self.assertEqual(result.returncode, 1, result.stderr)
            refused = sorted(re.findall(r"^publish_manifest: refused (\S+):", result.stderr, re.M))
            self.assertEqual(refused, sorted(["AUX", "COM1", "CON", "NUL.txt", "evil.txt.", "lpt1.dat", "sprites/com2",
                                              "x:stream"]))
            self.assertFalse((self.work / "published.cfg").exists())

        self.fault_server(site)
        outside_before = self.outside_snapshot(site)

        def run(name, manifest, expected=None):
            (site / "update.cfg").write_bytes(manifest)
            with self.subTest(name):
                lines = update_lines(self.run_update())
                if expected:
                    self.assert_list_lines(lines, expected)
                self.assertTrue(lines[-1].startswith("Update incomplete: "), "the run never claims success")
                for path, data in kept.items():
                    self.assertEqual((self.game_dir / path).read_bytes(), data, f"{path} kept")
                self.assertEqual(temp_leftovers(self.game_dir), [])
                self.assertEqual(self.outside_snapshot(site), outside_before, "nothing written outside the game folder")

        run("refused lines among good ones", manifest,
            ["Download: update.cfg complete.", "Try to reading update.cfg"] + refusals
            + ["Total files to check: 5"]
            + [f"{{Error: {NO_SUCH_FILE} {path}}}" for path in installed]
            + ["Checking files..."] + [f"File {path} needs updating" for path in installed]
            + ["Checking for updates..."] + [f"Download: {path} complete." for path in installed] + [incomplete])
        for path in installed:
            self.assertEqual((self.game_dir / path).read_bytes(), good[path], path)
        self.assertEqual(self.requested()[0], "/Quorvane/update.cfg")
        self.assertEqual(sorted(self.requested()[1:]), sorted(f"/Quorvane/{path}" for path in installed))
        game_files = sorted(p.relative_to(self.game_dir).as_posix() for p in self.game_dir.rglob("*") if p.is_file())
        self.assertEqual(game_files, sorted(["Launcher.exe", harness.LOG_FILE] + installed + list(kept)))

        keep_line = f"data/keep.dat {digest['data/keep.dat']}\n".encode()
        run("1001 lines", keep_line * 1001,
            ["Download: update.cfg complete.", "Try to reading update.cfg",
             "Manifest has more than 1000 entries; the rest were skipped", "Total files to check: 1000",
             "Checking files...", "Checking for updates...", incomplete])
        not_fetched = ["Try to reading update.cfg", "Total files to check: 0", "Checking files...",
                       "Checking for updates...", "Update incomplete: the file list could not be downloaded"]
        run("100000 lines, over the list's 1 MiB", keep_line * 100000,
            ["Download: update.cfg is larger than 1048576 bytes."] + not_fetched)
        page = (b"<html>\r\n<head><title>500 Internal Server Error</title></head>\r\n<body>\r\n"
                b"<center><h1>500 Internal Server Error</h1></center>\r\n</body>\r\n</html>\r\n")
        run("an HTML error page", page,
            ["Download: update.cfg complete.", "Try to reading update.cfg"]
            + [f"Unsafe path refused: {line.split(b' ')[0].decode()}" for line in page.splitlines()]
            + ["Total files to check: 0", "Checking files...", "Checking for updates...", incomplete])
        run("a binary file", random.Random(8).randbytes(20000))

    def outside_snapshot(self, site):
        """What lies outside the game folder that a stray write could change: the test folder's own entries, the
        served files and the top of the prefix's drive C."""
        work = sorted(p.name for p in self.work.iterdir() if p.name != "requests.log")
        served = sorted((p.relative_to(site).as_posix(), p.stat().st_size) for p in site.rglob("*")
                        if p.is_file() and p.name != "update.cfg")
        drive_c = sorted(p.name for p in (self.prefix.path / "drive_c").iterdir())
        # "\\y" and "/y" name the top of the current drive, which is Linux's root when Wine runs the game folder on Z:.
        tops = [Path("/x").exists(), Path("/y").exists()]
        return work, served, drive_c, tops, (site.parent / "x").read_bytes()

    def timed_update(self, what):
        started = time.monotonic()
        lines = self.run_update()
        harness.log(f"{what}: Play usable and the run over {time.monotonic() - started:.1f} s after the start "
                    f"(time-out {TIMEOUT_SECONDS} s)")
        return lines

    def test_through_the_users_proxy(self):
        """The user's proxy (the prefix's Internet Settings) carries every request, the Range of a resumed file
        among them; a proxy that asks for a password stops the run with one clear line, and Play stays usable."""
        files = {"data/small.dat": content("small", 3000), "data/big.dat": content("big", 400000)}
        site, _ = self.publish_files(files)
        self.fault_server(site, "data/big.dat=cut:1")
        host, port = harness.test_host()
        settings = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
        for name, kind, value in (("ProxyEnable", "REG_DWORD", "1"), ("ProxyServer", "REG_SZ", f"{host}:{port + 2}")):
            code, _, err = self.prefix.run(["reg", "add", settings, "/v", name, "/t", kind, "/d", value, "/f"],
                                           self.game_dir, self.out_dir, f"reg-{name}")
            self.assertEqual(code, 0, err)
        base = f"http://{host}:{port}/Quorvane/"

        proxy = harness.Tinyproxy(self.work / "proxy", port + 2)
        with self.subTest("a first install and a resumed file"):
            try:
                lines = update_lines(self.run_update())
            finally:
                proxy.stop()
            self.assertEqual(lines[lines.index("Checking for updates...") + 1:], [
                "Download: data/small.dat complete.",
                "Download: data/big.dat interrupted, trying again (2 of 4).", "Download: data/big.dat complete.",
                "All files up to date"])
            for path, data in files.items():
                self.assertEqual((self.game_dir / path).read_bytes(), data, path)
            self.assertEqual(sorted(harness.without_mirror_list(proxy.requests())), sorted(
                f"GET {base}{path}" for path in ("update.cfg", "data/small.dat", "data/big.dat", "data/big.dat")))
            big = [line for line in self.server.log_lines() if line.startswith("GET /Quorvane/data/big.dat ")]
            self.assertEqual(big, ["GET /Quorvane/data/big.dat 200-cut 200000",
                                   "GET /Quorvane/data/big.dat 206 200000 range=200000-"])

        proxy = harness.Tinyproxy(self.work / "proxy-407", port + 2, user="player")
        self.addCleanup(proxy.stop)
        (self.game_dir / "data/big.dat").write_bytes(b"old big file")
        with self.subTest("a proxy that asks for a password"):
            lines = update_lines(self.run_update())
            self.assertEqual(lines, [
                "Download: update.cfg refused by the proxy: it asks for a user name and password (407).",
                "Try to reading update.cfg", "Total files to check: 0", "Checking files...",
                "Checking for updates...", "Update incomplete: the file list could not be downloaded"])
            self.assertEqual((self.game_dir / "data/big.dat").read_bytes(), b"old big file")
            self.assertEqual(temp_leftovers(self.game_dir), [])

    def test_stalled_transfers_time_out(self):
        files = {"data/first.dat": content("first", 3000), "data/stall.dat": content("stall", 200000),
                 "data/silent.dat": content("silent", 5000), "data/slow.dat": content("slow", 300000),
                 "data/last.dat": content("last", 3000)}
        site, _ = self.publish_files(files, {"data/stall.dat": b"old stalled file"})
        old = self.game_dir / "data" / "stall.dat"
        server = self.fault_server(site, "update.cfg=stall")

        with self.subTest("a stall on update.cfg: the window appears and Play becomes usable"):
            lines = self.timed_update("update.cfg stalled")
            self.assert_list_lines(update_lines(lines), [
                "Download: update.cfg timed out.", "Try to reading update.cfg", "Total files to check: 0",
                "Checking files...", "Checking for updates...",
                "Update incomplete: the file list could not be downloaded"])
            self.assertEqual(old.read_bytes(), b"old stalled file")
            self.assertEqual(temp_leftovers(self.game_dir), [])

        (site / "update.cfg").rename(site / "update.cfg.real")
        for name, rule, body, first in (
                ("an endless list", "update.cfg=endless", None, "Download: update.cfg is larger than 1048576 bytes."),
                ("a list that trickles in", "update.cfg=trickle", b"x" * 30000, "Download: update.cfg timed out.")):
            server.set_rules(rule)
            (site / "update.cfg").write_bytes(body or b"")
            with self.subTest(name):
                lines = self.timed_update(name)
                self.assert_list_lines(update_lines(lines), [
                    first, "Try to reading update.cfg", "Total files to check: 0", "Checking files...",
                    "Checking for updates...", "Update incomplete: the file list could not be downloaded"])
                self.assertEqual(temp_leftovers(self.game_dir), [])
        (site / "update.cfg.real").replace(site / "update.cfg")

        # The stalled file and the one sent too slowly are abandoned once, then resumed; the silent one never ends.
        server.set_rules("data/stall.dat=stall:1", "data/silent.dat=silent", "data/slow.dat=trickle:1")
        with self.subTest("a stall mid-file, a file sent too slowly and a server that never answers"):
            lines = self.timed_update("stalled, slow and silent files")
            paths = list(files)
            self.assert_list_lines(update_lines(lines), (
                ["Download: update.cfg complete.", "Try to reading update.cfg", f"Total files to check: {len(paths)}"]
                + [f"{{Error: {NO_SUCH_FILE} {path}}}" for path in paths if path != "data/stall.dat"]
                + ["Checking files..."] + [f"File {path} needs updating" for path in paths]
                + ["Checking for updates...", "Download: data/first.dat complete.",
                   "Download: data/stall.dat interrupted, trying again (2 of 4).", "Download: data/stall.dat complete."]
                + [f"Download: data/silent.dat interrupted, trying again ({n} of 4)." for n in (2, 3, 4)]
                + ["Download: data/silent.dat timed out.",
                   "Download: data/slow.dat interrupted, trying again (2 of 4).", "Download: data/slow.dat complete.",
                   "Download: data/last.dat complete.",
                   "Update incomplete: 1 of 5 files could not be updated"]))
            self.assertFalse((self.game_dir / "data" / "silent.dat").exists())
            for path in ("data/first.dat", "data/stall.dat", "data/slow.dat", "data/last.dat"):
                self.assertEqual((self.game_dir / path).read_bytes(), files[path], path)
            slow = [line for line in self.server.log_lines() if line.startswith("GET /Quorvane/data/slow.dat ")]
            self.assertEqual(len(slow), 2, slow)
            resumed = [line for line in slow if re.search(r" 206 \d+ range=[1-9]\d*-$", line)]
            self.assertEqual(len(resumed), 1, f"the slow file resumed from what arrived: {slow}")

    def test_status_line_limit_and_pause(self):
        """The download limit kept in the settings file holds the transfer back; the status line counts what arrives
        against the total the answer announced; Pause stops the transfer at once and sends nothing until Resume,
        which goes on from the partial with Range; the line then sums up."""
        files = {"data/big.dat": content("big", 12000000)}
        site, _ = self.publish_files(files)
        server = self.fault_server(site)
        (self.game_dir / "contents").mkdir(exist_ok=True)
        (self.game_dir / "contents" / "launcher.ini").write_bytes(b"[Launcher]\r\ndownload_limit = 1\r\n")
        run = self.start_launcher(timeout=90)

        def caption(index):
            return self.driver.one("controls")["controls"][index]["caption"]

        self.assertEqual(caption(16), "Up to 1 MB/s")
        deadline, seen = time.monotonic() + 60, []
        while not re.match(r"^\d+\.\d of 12\.0 MB - \d+\.\d MB/s", seen[-1] if seen else ""):
            self.assertLess(time.monotonic(), deadline, f"no status line: {seen}")
            seen.append(caption(14))
        self.driver.one("click", 17)
        self.assertEqual(caption(15), "Resume")
        # The transfer is given up at once; then nothing is asked for while paused.
        deadline = time.monotonic() + 10
        while not any(line.startswith("GET /Quorvane/data/big.dat ") for line in server.log_lines()):
            self.assertLess(time.monotonic(), deadline, "the paused transfer went on")
            time.sleep(0.2)
        before = server.log_lines()
        time.sleep(6)
        self.assertEqual(server.log_lines(), before, "a request while paused")
        self.driver.one("click", 17)
        self.driver.one("wait-enabled", PLAY_BUTTON, "120", timeout=150)
        self.assertEqual(update_lines(self.driver.one("list")["lines"])[-1], "All files up to date")
        summary = re.match(r"^12\.0 MB in (\d+) s$", caption(14))
        self.assertTrue(summary, caption(14))
        self.assertGreaterEqual(int(summary.group(1)), 8, "the limit of 1 MB/s holds the 12 MB back")
        self.assertEqual(self.close_launcher(run), 0)
        big = [line for line in server.log_lines() if line.startswith("GET /Quorvane/data/big.dat ")]
        self.assertEqual(len(big), 2, big)
        self.assertRegex(big[1], r" 206 \d+ range=[1-9]\d*-$")
        self.assertEqual((self.game_dir / "data/big.dat").read_bytes(), files["data/big.dat"])

    def test_closed_while_paused_then_started_again(self):
        """Closing the window while paused keeps what arrived; the next start resumes it with Range."""
        files = {"data/big.dat": content("big", 6000000)}
        site, _ = self.publish_files(files, {"data/big.dat": b"old big file"})
        server = self.fault_server(site)
        (self.game_dir / "contents").mkdir(exist_ok=True)
        (self.game_dir / "contents" / "launcher.ini").write_bytes(b"[Launcher]\r\ndownload_limit = 1\r\n")
        run = self.start_launcher(timeout=90)
        partial = self.game_dir / STAGING_FOLDER / f"{sha1_bytes(files['data/big.dat'])}.part"
        deadline = time.monotonic() + 60
        while not (partial.exists() and partial.stat().st_size > 500000):
            self.assertLess(time.monotonic(), deadline, "the big file never started to arrive")
            time.sleep(0.1)
        self.driver.one("click", 17)
        self.assertEqual(self.close_launcher(run), 0)
        kept = partial.stat().st_size
        self.assertGreater(kept, 500000, "what arrived before the pause is kept")
        self.assertEqual((self.game_dir / "data/big.dat").read_bytes(), b"old big file")

        (self.game_dir / "contents" / "launcher.ini").write_bytes(b"")
        self.assertEqual(update_lines(self.run_update())[-1], "All files up to date")
        self.assertEqual((self.game_dir / "data/big.dat").read_bytes(), files["data/big.dat"])
        big = [line for line in server.log_lines() if line.startswith("GET /Quorvane/data/big.dat ")]
        self.assertEqual(len(big), 2, big)
        self.assertRegex(big[1], rf" 206 \d+ range={kept}-$")

    def test_small_volume_keeps_its_reserve(self):
        """On a nearly full volume a body without a signed length stops at the reserve: the file fails with its own
        line, the old copy stays, what arrived waits for the next start, and the run ends incomplete."""
        self.small_game_volume(100)
        files = {"data/big.dat": content("big", 60000000)}
        site, _ = self.publish_files(files, {"data/big.dat": b"old big file"})
        self.fault_server(site)
        lines = update_lines(self.run_update())
        self.assertEqual(lines[-2:], ["Download: data/big.dat stopped: the disk is nearly full.",
                                      "Update incomplete: 1 of 1 files could not be updated"])
        self.assertEqual((self.game_dir / "data/big.dat").read_bytes(), b"old big file")
        partial = self.game_dir / STAGING_FOLDER / f"{sha1_bytes(files['data/big.dat'])}.part"
        self.assertGreater(partial.stat().st_size, 20000000)
        self.assertGreater(os.statvfs(self.game_dir).f_bavail * os.statvfs(self.game_dir).f_frsize, 60 << 20)

    def test_killed_mid_download_then_started_again(self):
        files = {"data/big.dat": content("big", 300000), "data/small.dat": content("small", 2000)}
        site, _ = self.publish_files(files, {"data/big.dat": b"old big file"})
        old = self.game_dir / "data" / "big.dat"
        self.fault_server(site, "data/big.dat=stall:1")  # only the first request stalls
        staging = self.game_dir / STAGING_FOLDER

        # Killed while the big file's transfer hangs after its first byte (Wine's download service keeps the
        # body elsewhere until the transfer ends, so the staging folder may be all that is left on disk).
        run = self.start_launcher(timeout=90)
        deadline = time.monotonic() + 60
        while not (staging.is_dir() and "GET /Quorvane/data/big.dat 200-stall 1" in self.server.log_lines()):
            self.assertLess(time.monotonic(), deadline, "the big file's transfer never started")
            time.sleep(0.1)
        run.kill()
        self.assertEqual(old.read_bytes(), b"old big file", "the earlier file survives the kill")
        # What a download service that writes as data arrives leaves: the start of the body under its digest,
        # and a stray file that belongs to no listed file.
        digest = sha1_bytes(files["data/big.dat"])
        (staging / f"{digest}.part").write_bytes(files["data/big.dat"][:123456])
        (staging / "data#big.dat").write_bytes(b"partial")

        lines = update_lines(self.run_update())
        self.assertIn("Download: data/big.dat complete.", lines)
        self.assertEqual(lines[-1], "All files up to date")
        for path, data in files.items():
            self.assertEqual((self.game_dir / path).read_bytes(), data, path)
        self.assertIn("GET /Quorvane/data/big.dat 206 176544 range=123456-", self.server.log_lines())
        self.assertEqual(temp_leftovers(self.game_dir), [], "the interrupted run's staging files are gone")

    # Several update hosts: a list host passed over at start-up (bin/hosts asks 127.0.0.1, then 127.0.0.2), and the
    # published mirrors sharing the files and taking over a file that failed, one of them by its host name.

    def host_url(self, host, port=None):
        return f"http://{host}:{port or harness.test_host()[1]}/Quorvane/"

    def ranking(self):
        """(bytes per second, base URL) of the ranking kept for the next start."""
        text = (self.game_dir / STAGING_FOLDER / "host ranking.txt").read_text()
        return [(int(line.split(" ")[0]), line.split(" ")[1]) for line in text.splitlines()]

    def test_a_dead_or_silent_origin_is_passed_over(self):
        shutil.copy2(self.bin_dir / "hosts" / "Launcher.exe", self.game_dir / "Launcher.exe")
        files = {f"data/f{i}.dat": content(f"f{i}", 20000) for i in range(4)}
        site, _ = self.publish_files(files)
        origin, second = self.host_url("127.0.0.1"), self.host_url("127.0.0.2")
        fallback = self.serve_faults(site, host="127.0.0.2")
        start = ["Download: update.cfg complete.", "Try to reading update.cfg", "Total files to check: 4"]

        with self.subTest("origin down: the list and every file from the second host"):
            blocker = harness.PortBlocker()
            lines = update_lines(self.run_update())
            blocker.stop()
            self.assertEqual(lines[:4], [f"Update server {origin} passed over: connection refused."] + start)
            self.assertEqual(lines[lines.index("Checking for updates...") + 1:],
                             [f"Download: {path} complete." for path in files] + ["All files up to date"])
            self.assertEqual(sorted(p for p in fallback.requested() if p.startswith("data/")), sorted(files))
            # The origin failed at start-up: it ranks last, at 0, for the next start.
            self.assertEqual([(base, rate > 0) for rate, base in self.ranking()], [(second, True), (origin, False)])

        with self.subTest("origin silent: passed over without waiting for the whole time-out"):
            (self.game_dir / "data" / "f2.dat").unlink()
            origin_server = self.serve_faults(site, "update.cfg=silent")
            lines = update_lines(self.run_update())
            self.assertEqual(lines[:4], [f"Update server {origin} passed over: timed out."] + start)
            self.assertEqual(lines[-2:], ["Download: data/f2.dat complete.", "All files up to date"])
            self.assertNotIn("data/f2.dat", origin_server.requested())
        for path, data in files.items():
            self.assertEqual((self.game_dir / path).read_bytes(), data, path)

    def test_mirrors_share_the_files_and_take_over_a_failed_one(self):
        files = {f"data/f{i:02}.dat": content(f"m{i}", 30000) for i in range(12)}
        site, _ = self.publish_files(files)
        port = harness.test_host()[1]
        origin, named = self.host_url("127.0.0.1"), f"http://localhost:{port + 1}/Quorvane/"
        (site / harness.MIRROR_LIST).write_text(named + "\n")
        mirror = self.serve_nginx(site, port=port + 1)
        origin_server = self.serve_nginx(site)
        tail = lambda lines: lines[lines.index("Checking for updates...") + 1:]  # noqa: E731

        with self.subTest("two hosts share the transfers"):
            lines = update_lines(self.run_update())
            self.assertEqual(tail(lines), [f"Download: {path} complete." for path in files] + ["All files up to date"])
            for server in (origin_server, mirror):
                self.assertTrue([path for _, path, _ in server.requests() if "/data/" in path], server.requests())
            self.assertEqual(sorted(base for _, base in self.ranking()), sorted([origin, named]))
        origin_server.stop()

        # Without a ranking, a file goes to the origin first: the fault is on the origin.
        for name, fault, reason, asked in (
                ("a cut file resumed on the mirror", "cut", "cut short", 206),
                ("wrong bytes: the file fetched again from the mirror", "corrupt", "wrong content", 200),
                ("a silent host: the file fetched from the mirror", "silent", "timed out", 200)):
            with self.subTest(name):
                path = f"data/{fault}.dat"
                files[path] = content(fault, 400000)
                site, _ = self.publish_files(files)
                (self.game_dir / STAGING_FOLDER / "host ranking.txt").unlink()
                faulty = self.serve_faults(site, f"{path}={fault}")
                lines = update_lines(self.run_update())
                self.assertEqual(tail(lines), [f"Download: {path} failed at {origin} ({reason}), trying {named}.",
                                               f"Download: {path} complete.", "All files up to date"])
                self.assertEqual((self.game_dir / path).read_bytes(), files[path])
                self.assertIn(("GET", f"/Quorvane/{path}", asked), mirror.requests())
                faulty.stop()
        # The staging folder stays with the ranking alone.
        self.assertEqual([p.name for p in (self.game_dir / STAGING_FOLDER).iterdir()], ["host ranking.txt"])


if __name__ == "__main__":
    harness.main()
