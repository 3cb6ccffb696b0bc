"""End-to-end tests of the signed manifest: the real Launcher.exe built with the test publisher key (bin/signed) against
nginx serving games signed by the native publisher tool; a good pair updates as before, and every refused one (changed
manifest or signature, no signature, another key, an older version, an expired signature) changes no game file and
leaves "Play Game" usable; the signed listing keeps out a SHA-1 collision and a body longer than its signed length,
and checks a patched pack as any other file.
"""

import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import urllib.request
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from test_update import NO_SUCH_FILE, UpdateTestCase, read_manifest, temp_leftovers, update_lines  # noqa: E402
from test_client import REPAIR, wait_until  # noqa: E402

VERSION_FILE = "Launcher_manifest_version.txt"
REFUSED_END = "Update incomplete: the file list was refused"
NOT_VALID = "Manifest refused: the signature is not valid"
READING = "Try to reading update.cfg"
EXPIRED = "Manifest refused: it expired on 2020-01-02"
LISTING_LINE = "Download: update.cfg.files complete."


def collision_pairs():
    """The SHA-1 collision pairs SHAttered and SHA-mbles from the test folder of Debian's
    librust-sha1collisiondetection-dev: the installed package's, else fetched with apt-get download and unpacked
    into the build tree once."""
    unpacked = harness.env_path("LAUNCHER_WORK_DIR") / "sha1-collisions"
    folders = "usr/share/cargo/registry/sha1collisiondetection-*/test"
    test = next(Path("/").glob(folders), None)
    if test is None and not list(unpacked.glob("*.deb")):
        unpacked.mkdir(parents=True, exist_ok=True)
        subprocess.run(["apt-get", "download", "librust-sha1collisiondetection-dev"], cwd=unpacked, check=True,
                       capture_output=True, timeout=300)
    if test is None:
        subprocess.run(["dpkg", "-x", str(next(unpacked.glob("*.deb"))), str(unpacked)], check=True, timeout=120)
        test = next(unpacked.glob(folders))
    return [((test / f"{stem}-1{ext}").read_bytes(), (test / f"{stem}-2{ext}").read_bytes())
            for stem, ext in (("shattered", ".pdf"), ("sha-mbles", ".bin"))]


def make_game(folder, files=4):
    subprocess.run([sys.executable, str(harness.REPO / "tools" / "make_sample_game.py"), str(folder), str(files), "1"],
                   check=True, stdout=subprocess.DEVNULL, timeout=120)
    (Path(folder) / "Client.exe").write_bytes(b"MZ" + bytes(500))


class SignedManifestTest(UpdateTestCase):

    def setUp(self):
        self.key = harness.env_path("LAUNCHER_TEST_KEY")
        super().setUp()
        self.site = self.work / "site"
        self.server = self.serve_nginx(self.site)

    def install_launcher(self, folder=None):
        shutil.copy2(self.bin_dir / "signed" / "Launcher.exe", Path(folder or self.game_dir) / "Launcher.exe")

    def serve_copy(self, source):
        shutil.rmtree(self.site, ignore_errors=True)
        shutil.copytree(source, self.site)

    def serve(self, source, *sign_options, key=None, error=None):
        """Serves a copy of the source game folder, signed with the test key (or key) and the given options; error:
        the last line of a tool that writes what launchers refuse and exits with 1."""
        self.serve_copy(source)
        if error is None:
            harness.publish(self.site, "--sign", key or self.key, *sign_options)
        else:
            result = self.tool(self.site, "--sign", key or self.key, *sign_options)
            self.assertEqual((result.returncode, result.stderr.splitlines()[-1]), (1, error))
        return read_manifest(self.site)

    def tool(self, *args):
        return subprocess.run([str(harness.publisher_tool()), *[str(a) for a in args]], capture_output=True,
                              text=True, timeout=300)

    def check_served(self, *options):
        """publish_manifest --check of what nginx serves: the exit code and the lines but the notes."""
        result = self.tool("--check", self.url(""), *options)
        return result.returncode, [line for line in result.stdout.splitlines() if not line.startswith("note:")]

    def game_state(self):
        """SHA-1 of every file of the game folder but the log and the settings file, which are not the manifest's."""
        return {p.relative_to(self.game_dir).as_posix(): harness.sha1_of(p) for p in self.game_dir.rglob("*")
                if p.is_file() and p.name not in (harness.LOG_FILE, "launcher.ini")}

    def requests_since(self, count):
        return [path for _, path, _ in self.server.requests()[count:]]

    def run_signed_update(self):
        lines = self.run_update()
        self.assertFalse(self.game_file_exists("update.cfg.sig"), "update.cfg.sig is deleted")
        return update_lines(lines)

    def test_versions_only_grow(self):
        first, second = self.work / "first", self.work / "second"
        make_game(first)
        shutil.copytree(first, second)
        (second / "Client.exe").write_bytes(b"MZ" + b"second" * 100)

        with self.subTest("a good signed manifest updates as an unsigned one, with the signature's download line"):
            entries = self.serve(first, "--version", "100")
            paths = [path for path, _ in entries]
            tool = harness.env_path("LAUNCHER_NATIVE_BIN_DIR") / "publish_manifest"
            check = subprocess.run([str(tool), "--check", str(self.site), "--key", str(self.key.with_suffix(".pub"))],
                                   capture_output=True, text=True, timeout=120)
            self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
            self.assertIn("update.cfg.sig is valid", check.stdout)
            unverified = self.tool("--check", self.site)
            self.assertEqual(unverified.returncode, 0, unverified.stdout)
            self.assertEqual(unverified.stdout.splitlines()[-1], f"publish_manifest: {len(paths)} files match "
                             f"{self.site}/update.cfg; the signature was not verified: give --key PUBLIC_KEY")
            lines = self.run_signed_update()
            self.assert_list_lines(lines, ["Download: update.cfg complete.", "Download: update.cfg.sig complete.",
                                           LISTING_LINE, READING, f"Total files to check: {len(paths)}"]
                                   + [f"{{Error: {NO_SUCH_FILE} {path}}}" for path in paths]
                                   + ["Checking files..."] + [f"File {path} needs updating" for path in paths]
                                   + ["Checking for updates..."] + [f"Download: {path} complete." for path in paths]
                                   + ["All files up to date"])
            for path in paths:
                self.assertEqual((self.game_dir / path).read_bytes(), (self.site / path).read_bytes(), path)
            self.assertEqual((self.game_dir / VERSION_FILE).read_text(), "100\n")
            self.assertEqual(self.requests_since(0)[:3], ["/Quorvane/update.cfg", "/Quorvane/update.cfg.sig",
                                                          "/Quorvane/update.cfg.files"])
            first_pair = self.work / "first-pair"
            shutil.copytree(self.site, first_pair)

        with self.subTest("a version that does not rise is refused, and nothing written"):
            published = {name: (self.site / name).read_bytes() for name in ("update.cfg", "update.cfg.sig")}
            (self.site / "Client.exe").write_bytes(b"MZ changed")
            for version in ("100", "99"):
                result = self.tool(self.site, "--sign", self.key, "--version", version)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stderr.splitlines(), [
                    f"publish_manifest: refused --version {version}: it must be above version 100 of "
                    f"{self.site}/update.cfg.sig, which launchers may have accepted already; nothing written"])
            self.assertEqual({name: (self.site / name).read_bytes() for name in published}, published)

        with self.subTest("a newer version updates"):
            self.serve(second, "--version", "200")
            self.assertEqual(harness.run_publisher_tool("--changed-since", first_pair / "update.cfg",
                                                        self.site).splitlines(),
                             ["Client.exe", "update.cfg.files", "update.cfg.sig", "update.cfg"])
            lines = self.run_signed_update()
            self.assertIn("File Client.exe needs updating", lines)
            self.assertEqual(lines[-2:], ["Download: Client.exe complete.", "All files up to date"])
            self.assertEqual((self.game_dir / "Client.exe").read_bytes(), (second / "Client.exe").read_bytes())
            self.assertEqual((self.game_dir / VERSION_FILE).read_text(), "200\n")
            installed = self.game_state()
            second_pair = self.work / "second-pair"
            shutil.copytree(self.site, second_pair)

        # A replay: the first pair exactly as it was served; a rollback: the first game signed anew, still older.
        for what, version in (("replay of an earlier valid pair", "100"), ("rollback", "150")):
            with self.subTest(what):
                if what == "rollback":
                    self.serve(first, "--version", version)
                else:
                    self.serve_copy(first_pair)
                requests = len(self.server.requests())
                lines = self.run_signed_update()
                self.assert_list_lines(lines, [
                    "Download: update.cfg complete.", "Download: update.cfg.sig complete.",
                    f"Manifest refused: version {version} is older than the installed version 200",
                    READING, "Total files to check: 0", "Checking files...", "Checking for updates...", REFUSED_END])
                self.assertEqual(self.game_state(), installed, "no game file changed")
                self.assertEqual(self.requests_since(requests), ["/Quorvane/update.cfg", "/Quorvane/update.cfg.sig"])

        with self.subTest("the same version again is accepted"):
            self.serve_copy(second_pair)
            lines = self.run_signed_update()
            self.assertEqual(lines[-3:], ["Checking files...", "Checking for updates...", "All files up to date"])

    def test_refused_manifests_change_nothing(self):
        game = self.work / "game-source"
        make_game(game)
        # The folder holds an older installation that a used manifest would change.
        for path in ("Client.exe", "sprites/ui/old.spr"):
            (self.game_dir / path).parent.mkdir(parents=True, exist_ok=True)
            (self.game_dir / path).write_bytes(b"installed earlier")
        other_key = self.work / "other"
        harness.run_publisher_tool("--make-key", other_key)

        def change_manifest():
            with open(self.site / "update.cfg", "ab") as manifest:
                manifest.write(b"sprites/ui/old.spr 0123456789abcdef0123456789abcdef01234567\n")

        def change_signature():
            text = (self.site / "update.cfg.sig").read_text()
            (self.site / "update.cfg.sig").write_text(text.replace("version 5000", "version 5001"))

        def change_listing():
            text = (self.site / "update.cfg.files").read_text()
            (self.site / "update.cfg.files").write_text(text.replace(" ", " 0", 1))

        # A list or listing that the signature does not name is fetched once more under the named digest, which no
        # cache on the way can have answered before.
        list_again = "Download: update.cfg complete."
        unknown_key = (f"Manifest refused: signed with key {(Path(f'{other_key}.pub')).read_text().split()[-1][:16]}"
                       ", which this launcher does not know; a newer launcher is needed")
        cases = [
            ("update.cfg changed after signing", [], None, change_manifest, [list_again, NOT_VALID, READING]),
            ("update.cfg.sig changed", [], None, change_signature, [NOT_VALID, READING]),
            ("update.cfg.sig missing", [], None, lambda: (self.site / "update.cfg.sig").unlink(),
             [f"URL is invalid: {self.url('update.cfg.sig')}.", "Manifest refused: no signature", READING]),
            ("signed with another key", [], Path(f"{other_key}.key"), None, [unknown_key, READING]),
            ("expired", ["--expires", "2020-01-02"], None, None, [EXPIRED, READING]),
            # Signed as it is, the version is not recorded: game_state() would show the version file.
            ("update.cfg.files changed", [], None, change_listing,
             [LISTING_LINE, READING, LISTING_LINE,
              "Manifest refused: update.cfg.files is not the one the signature names"]),
        ]
        checked = {  # what the check says of each
            "update.cfg changed after signing": "signature file: it was made for another update.cfg; sign again",
            "update.cfg.sig changed": NOT_VALID,
            "update.cfg.sig missing": "no signature: update.cfg.sig is missing",
            "signed with another key": unknown_key,
            "expired": EXPIRED,
            "update.cfg.files changed": "update.cfg.files is not the one the signature names",
        }
        fetched_again = {"update.cfg changed after signing": "update.cfg?sha256={sha256}",
                         "update.cfg.files changed": "update.cfg.files?sha256={files}"}
        before = self.game_state()
        public_key = self.key.with_suffix(".pub")
        for what, options, key, spoil, refusal in cases:
            with self.subTest(what):
                # An expired signature is written all the same, so that launchers can be seen to refuse it.
                error = ("publish_manifest: error: the signature expired on 2020-01-02, so every launcher refuses "
                         "this manifest; sign again with a later --expires") if what == "expired" else None
                self.serve(game, "--version", "5000", *options, key=key, error=error)
                if spoil:
                    spoil()
                # The check of what the server serves refuses what the launcher refuses.
                code, lines = self.check_served("--key", public_key)
                self.assertEqual(code, 1, lines)
                self.assertIn(checked[what], lines)
                requests = len(self.server.requests())
                run = self.start_launcher(timeout=90)
                self.driver.one("wait-enabled", 1, "120", timeout=150)  # Play Game is usable
                self.wait_progress(0, 5, 5)
                signature_line = [] if "missing" in what else ["Download: update.cfg.sig complete."]
                expected = (["Download: update.cfg complete."] + signature_line + refusal
                            + ["Total files to check: 0", "Checking files...", "Checking for updates...", REFUSED_END])
                self.assert_list_lines(update_lines(self.driver.one("list")["lines"]), expected)
                named = dict(line.split(" ", 1) for line in (self.site / "update.cfg.sig").read_text().splitlines()
                             if " " in line) if (self.site / "update.cfg.sig").exists() else {}
                listing = ["/Quorvane/update.cfg.files"] if LISTING_LINE in refusal else []
                if what in fetched_again:
                    listing.append("/Quorvane/" + fetched_again[what].format(**named))
                self.assertEqual(self.requests_since(requests),
                                 ["/Quorvane/update.cfg", "/Quorvane/update.cfg.sig"] + listing)
                if what == "expired":
                    # Repair runs on the same refused manifest and keeps the client it could not bring back.
                    self.driver.one("click", REPAIR)
                    wait_until(lambda: update_lines(self.driver.one("list")["lines"]).count(REFUSED_END) == 2,
                               "the repair run's end")
                    self.assertEqual(update_lines(self.driver.one("list")["lines"])[-4:], expected[-1:] + expected[-3:])
                self.assertEqual(self.close_launcher(run), 0)
                self.assertEqual(self.game_state(), before, "no game file changed")
                self.assertFalse(self.game_file_exists("update.cfg") or self.game_file_exists("update.cfg.sig")
                                 or self.game_file_exists("update.cfg.files"))

    def test_list_hosts_and_the_signed_mirror_list(self):
        game, second_site = self.work / "game-source", self.work / "second-site"
        make_game(game)
        port = harness.test_host()[1]
        origin, mirror = f"http://127.0.0.1:{port}/Quorvane/", f"http://127.0.0.3:{port}/Quorvane/"

        with self.subTest("an older signed list on the origin: passed over, the list from the second list host"):
            shutil.copy2(self.bin_dir / "signed-hosts" / "Launcher.exe", self.game_dir / "Launcher.exe")
            (self.game_dir / VERSION_FILE).write_text("200\n")
            self.serve(game, "--version", "100")
            shutil.copytree(game, second_site)
            harness.publish(second_site, "--sign", self.key, "--version", "300")
            self.serve_nginx(second_site, host="127.0.0.2")
            lines = self.run_signed_update()
            self.assertEqual(lines[:5], [
                f"Update server {origin} passed over: version 100 is older than the installed version 200.",
                "Download: update.cfg complete.", "Download: update.cfg.sig complete.", LISTING_LINE, READING])
            self.assertEqual(lines[-1], "All files up to date")
            self.assertEqual((self.game_dir / VERSION_FILE).read_text(), "300\n")

        with self.subTest("a mirror list changed after signing: refused, the files from the build's host"):
            self.install_launcher()
            (game / "Client.exe").write_bytes(b"MZ" + b"third" * 100)
            entries = self.serve(game, "--version", "400", "--mirror", mirror)
            (self.site / harness.MIRROR_LIST).write_text(f"http://127.0.0.2:{port}/Quorvane/\n")
            lines = self.run_signed_update()
            self.assertEqual(lines, [
                "Download: update.cfg complete.", "Download: update.cfg.sig complete.", LISTING_LINE, READING,
                "Mirror list refused: update.cfg.mirrors is not the one the signature names",
                f"Total files to check: {len(entries)}", "Checking files...", "File Client.exe needs updating",
                "Checking for updates...", "Download: Client.exe complete.", "All files up to date"])
            self.assertEqual((self.game_dir / "Client.exe").read_bytes(), (game / "Client.exe").read_bytes())

    def test_publisher_refuses_what_launchers_would_refuse(self):
        """Publishing a signed folder without --sign, or with the --sign key inside it, writes nothing."""
        game = self.work / "game-source"
        make_game(game)
        self.serve(game, "--version", "10")
        lists = ("update.cfg", "update.cfg.sig", "update.cfg.files")
        published = {name: (self.site / name).read_bytes() for name in lists}
        (self.site / "Client.exe").write_bytes(b"MZ changed")
        inside = self.site / "contents" / "publisher.key"
        shutil.copy2(self.key, inside)
        site = self.site
        rows = [  # arguments, the tool's error lines
            ([site], [f"publish_manifest: refused to publish without --sign: {site}/update.cfg.sig and "
                      f"{site}/update.cfg.files are from an earlier signing and would not match the new update.cfg, "
                      "which launchers built with a key then refuse; sign again with --sign KEY, or delete "
                      f"{site}/update.cfg.sig and {site}/update.cfg.files to publish unsigned; nothing written"]),
            ([site, "--sign", inside, "--version", "11"],
             ["publish_manifest: refused contents/publisher.key: it is the --sign key; keep private keys outside the "
              "published folder", "publish_manifest: 1 file(s) refused; update.cfg not written"]),
        ]
        for arguments, errors in rows:
            with self.subTest(arguments=arguments[1:]):
                result = self.tool(*arguments)
                self.assertEqual((result.returncode, result.stderr.splitlines()), (1, errors))
                self.assertEqual({name: (site / name).read_bytes() for name in lists}, published)

    def test_publisher_checks_what_nginx_serves(self):
        """The cache headers nginx gives, and the check of what it serves against the folder just published and
        against one published after it but not uploaded yet."""
        game = self.work / "game-source"
        make_game(game)
        entries = self.serve(game, "--version", "10")
        site = self.site
        lists = ("update.cfg", "update.cfg.sig", "update.cfg.files")
        with self.subTest("cache headers"):
            (site / "update.cfg.mirrors").write_text("a list another tool may publish\n")
            headers = {name: urllib.request.urlopen(self.url(name), timeout=30).headers["Cache-Control"]
                       for name in lists + ("update.cfg.mirrors", entries[0][0])}
            (site / "update.cfg.mirrors").unlink()
            self.assertEqual(headers, {**{name: "no-cache" for name in lists + ("update.cfg.mirrors",)},
                                       entries[0][0]: "public, max-age=86400"})

        public_key = self.key.with_suffix(".pub")
        valid = (f"publish_manifest: update.cfg.sig is valid for {public_key} (key "
                 f"{public_key.read_text().splitlines()[-1][:16]}, version 10, expires never)")
        with self.subTest("what is served is what was published"):
            self.assertEqual(self.check_served("--key", public_key, "--folder", site), (0, [
                valid, f"publish_manifest: {len(entries)} files served by {self.url('')} match its update.cfg"]))

        with self.subTest("a publish not yet uploaded"):
            newer = self.work / "newer"
            shutil.copytree(site, newer)
            (newer / "Client.exe").write_bytes(b"MZ newer")
            harness.publish(newer, "--sign", self.key, "--version", "11")
            code, lines = self.check_served("--folder", newer)
            self.assertEqual(code, 1)
            self.assertEqual(lines[-1], f"publish_manifest: 4 problem(s) with what {self.url('')} serves; the signature "
                                        "was not verified: give --key PUBLIC_KEY")
            for name in lists + ("Client.exe",):
                self.assertIn(f"served copy differs from {newer}: {name}", lines)

    def test_mirror_list_is_signed_and_checked(self):
        """--mirror writes update.cfg.mirrors and signs it in format 3, which the launcher reads as before; --check of
        the folder and of the server refuses an altered list; publishing again keeps the list only while the
        signature names it, and --no-mirrors drops it."""
        game = self.work / "game-source"
        make_game(game)
        mirrors = ["http://127.0.0.2:18460/Quorvane/", "http://cdn.example.com/q/"]
        entries = self.serve(game, "--version", "10", "--mirror", mirrors[0], "--mirror", mirrors[1])
        site, public_key = self.site, self.key.with_suffix(".pub")
        self.assertEqual((site / "update.cfg.mirrors").read_text(), "".join(m + "\n" for m in mirrors))
        self.assertEqual((site / "update.cfg.sig").read_text().splitlines()[0], "quorvane-manifest-signature 3")
        listed = "publish_manifest: update.cfg.mirrors lists 2 mirror(s)"
        served = f"publish_manifest: {len(entries)} files served by {self.url('')} match its update.cfg"
        with self.subTest("the launcher takes a format 3 signature"):
            self.assertEqual(self.run_signed_update()[-1], "All files up to date")
            self.assertEqual((self.game_dir / VERSION_FILE).read_text(), "10\n")
        with self.subTest("what is served is what was published"):
            code, lines = self.check_served("--key", public_key, "--folder", site)
            self.assertEqual((code, lines[1:]), (0, [listed, served]))

        (site / "update.cfg.mirrors").write_text("".join(m + "\n" for m in mirrors) + "http://127.0.0.3:18460/x/\n")
        altered = "update.cfg.mirrors is not the one the signature names, so signed launchers use no mirror"
        rows = [  # the check, its exit code, its last two lines
            (["--check", site, "--key", public_key], 1,
             [altered, f"publish_manifest: 1 mismatch(es) between {site} and its update.cfg"]),
            (["--check", self.url(""), "--key", public_key], 1,
             [altered, f"publish_manifest: 1 problem(s) with what {self.url('')} serves"]),
            ([site, "--sign", self.key], 1,
             [f"publish_manifest: refused to keep {site}/update.cfg.mirrors: it is not the one the signature names "
              f"({site}/update.cfg.sig); give the mirrors again with --mirror URL, or --no-mirrors; nothing written"]),
            ([site, "--mirror", "https://cdn.example.com/q/"], 2,
             ["publish_manifest: --mirror https://cdn.example.com/q/ does not start with http://; give a base URL "
              "such as http://mirror.example.com/Quorvane/"]),
            ([site, "--mirror", "http://cdn.example.com/q"], 2,
             ["publish_manifest: --mirror http://cdn.example.com/q does not end with / (a base URL names a folder); "
              "give a base URL such as http://mirror.example.com/Quorvane/"]),
        ]
        for arguments, code, last in rows:
            with self.subTest(arguments=arguments):
                result = self.tool(*arguments)
                output = (result.stdout + result.stderr).splitlines()
                self.assertEqual((result.returncode, [l for l in output if not l.startswith(("note:", "usage:", " "))]
                                  [-len(last):]), (code, last))

        with self.subTest("dropped with --no-mirrors"):
            harness.publish(site, "--sign", self.key, "--no-mirrors")
            self.assertFalse((site / "update.cfg.mirrors").exists())
            self.assertEqual((site / "update.cfg.sig").read_text().splitlines()[0], "quorvane-manifest-signature 2")
            result = self.tool("--check", site, "--key", public_key)
            self.assertEqual(result.returncode, 0, result.stdout)
            self.assertNotIn(listed, result.stdout)

    def test_listing_keeps_out_collisions_and_longer_bodies(self):
        game = self.work / "game-source"
        make_game(game)
        pairs = collision_pairs()
        spoiled = [f"contents/collision{i}.bin" for i in range(len(pairs))]
        for path, (first, _) in zip(spoiled, pairs):
            (game / path).write_bytes(first)
        (game / "contents/longer.dat").write_bytes(b"signed length " * 100)
        launcher = (self.game_dir / "Launcher.exe").read_bytes()
        (game / "Launcher.exe").write_bytes(launcher + b"a new launcher")  # a self-update, spoiled below
        entries = self.serve(game, "--version", "10")
        # Served after signing: each collision partner under its twin's name, and the longer file with more bytes.
        for path, (_, second) in zip(spoiled, pairs):
            (self.site / path).write_bytes(second)
            self.assertEqual(harness.sha1_of(self.site / path), dict(entries)[path], "a SHA-1 collision")
        for path in ("contents/longer.dat", "Launcher.exe"):
            (self.site / path).write_bytes((self.site / path).read_bytes() + b"and then some")
        code, checked = self.check_served("--key", self.key.with_suffix(".pub"))
        self.assertEqual(code, 1, checked)
        for path in spoiled:
            self.assertRegex("\n".join(checked), rf"(?m)^differs from update\.cfg\.files: {re.escape(path)} \(SHA-256 "
                             rf"[0-9a-f]{{64}} served, [0-9a-f]{{64}} listed\)$")
        for path in ("contents/longer.dat", "Launcher.exe"):
            length = dict((p, int(n)) for p, _, n in
                          (line.split(" ") for line in (self.site / "update.cfg.files").read_text().splitlines()))[path]
            self.assertIn(f"differs from update.cfg.files: {path} (more than {length} bytes served, {length} listed)",
                          checked)
        self.assertEqual(checked[-1], f"publish_manifest: {len(spoiled) + 2} problem(s) with what {self.url('')} serves")
        lines = self.run_signed_update()
        self.assertIn("Launcher not updated: the new program could not be downloaded", self.file_messages())
        self.assertEqual((self.game_dir / "Launcher.exe").read_bytes(), launcher)
        for path in spoiled:
            self.assertIn(f"Download: {path} does not match its signed length and SHA-256.", lines)
        self.assertIn("Download: contents/longer.dat is larger than 1400 bytes.", lines)
        self.assertEqual(lines[-1], f"Update incomplete: {len(spoiled) + 2} of {len(entries)} files could not be updated")
        for path in spoiled + ["contents/longer.dat"]:
            self.assertFalse(self.game_file_exists(path), f"{path} never lands")
        self.assertEqual(temp_leftovers(self.game_dir), [])

    def test_publications_reach_players_through_a_caching_edge(self):
        """Publish, update, change a file, publish again, update: through an edge that follows the server block's
        advice, and through one that keeps the listing for a day whatever it is told, which the launcher passes by
        fetching the listing once more under the digest the signature names."""
        self.server.stop()
        game = self.work / "game-source"
        make_game(game)
        for keep in ((), (r"^/Quorvane/update\.cfg\.files$",)):
            with self.subTest("an edge that keeps the listing" if keep else "an edge that follows the advice"):
                version = 300 if keep else 100
                self.serve(game, "--version", str(version))
                port = harness.test_host()[1] + 1
                backend = harness.Nginx(self.site, self.work / f"nginx{len(keep)}", port=port)
                edge = harness.CachingEdge(port, self.work / f"edge{len(keep)}", keep)
                try:
                    self.assertEqual(self.run_signed_update()[-1], "All files up to date")
                    (game / "Client.exe").write_bytes(b"MZ" + bytes(600) + bytes([version % 256]))
                    self.serve(game, "--version", str(version + 1))
                    lines = self.run_signed_update()
                    self.assertEqual(lines[-2:], ["Download: Client.exe complete.", "All files up to date"])
                    self.assertEqual((self.game_dir / "Client.exe").read_bytes(), (game / "Client.exe").read_bytes())
                    self.assertEqual((self.game_dir / VERSION_FILE).read_text(), f"{version + 1}\n")
                    busted = [path for _, path, _ in backend.requests() if "?sha256=" in path]
                    listing = hashlib.sha256((self.site / "update.cfg.files").read_bytes()).hexdigest()
                    self.assertEqual(busted, [f"/Quorvane/update.cfg.files?sha256={listing}"] if keep else [])
                finally:
                    edge.stop()
                    backend.stop()

    def test_run_that_does_not_fit_downloads_nothing(self):
        """The signed lengths of what a run needs are weighed against the volume first: short of space, nothing is
        asked for, nothing changes, and the run ends incomplete with Play usable."""
        self.small_game_volume(100)
        game = self.work / "game-source"
        make_game(game)
        (game / "contents/pack.dat").write_bytes(random.Random(3).randbytes(40_000_000))
        entries = self.serve(game, "--version", "10")
        (self.game_dir / "Client.exe").write_bytes(b"MZ old client")
        before, requests = self.game_state(), len(self.server.requests())
        lines = self.run_signed_update()
        self.assertRegex(lines[-2], r"^Not enough disk space: 10[4-9] MB needed, (9\d|10[0-4]) MB free$")
        self.assertEqual(lines[-1], f"Update incomplete: {len(entries)} of {len(entries)} files could not be updated")
        self.assertEqual([path for path in self.requests_since(requests) if "update.cfg" not in path], [])
        after = self.game_state()
        after.pop("Launcher_manifest_version.txt")  # the accepted list's version, as after any run
        self.assertEqual(after, before)

    def test_patched_pack_meets_the_signed_listing(self):
        """A pack changed in many places is patched from its block index, several ranges to a request, and lands as
        the signed listing has it; an index that names the listed digest but another length than the signed one
        falls back to the whole file."""
        game = self.work / "game-source"
        make_game(game)
        old = random.Random(9).randbytes(2 << 20)
        new = bytearray(old[:0x80000] + random.Random(10).randbytes(0x10000) + old[0x90000:])
        for offset in [0x10000, 0x30000, 0x50000] + [0x100000 + i * 0x18000 for i in range(10)]:
            new[offset:offset + 100] = random.Random(offset).randbytes(100)
        new = bytes(new)
        (game / "contents/pack.dat").write_bytes(new)
        self.serve(game, "--version", "10")
        index = next(self.site.glob("contents/pack.dat.*.blocks"))
        good = index.read_bytes()
        # One block more than the signed length: still a consistent index of the listed digest.
        entry, count = 4 + good[6], int.from_bytes(good[36:40], "little")
        longer = (good[:8] + (len(new) + 4096).to_bytes(8, "little") + good[16:36] + (count + 1).to_bytes(4, "little")
                  + good[40:] + good[-entry:])
        fallback = "Patch of contents/pack.dat not used: its block index does not have the signed length; " \
                   "downloading the whole file."
        for name, data, first in (("patched", good, "Download: contents/pack.dat complete."),
                                  ("an index longer than the signed file", longer, fallback)):
            with self.subTest(name):
                index.write_bytes(data)
                (self.game_dir / "contents").mkdir(exist_ok=True)
                (self.game_dir / "contents/pack.dat").write_bytes(old)
                before = len(self.server.ranges("/Quorvane/contents/pack.dat"))
                lines = [line for line in self.run_signed_update() if "contents/pack.dat" in line]
                self.assertEqual(lines[0], "File contents/pack.dat needs updating")
                self.assertEqual(lines[1], first)
                if data is good:
                    self.assertRegex(lines[2], r"^Patched contents/pack\.dat: 0\.[1-9] of 2\.0 MB fetched\.$")
                    # nginx sends several ranges in one answer: a few requests, each for several of the 14 ranges.
                    asked = self.server.ranges("/Quorvane/contents/pack.dat")[before:]
                    self.assertTrue(asked and all(re.fullmatch(r"bytes=\d+-\d+(,\d+-\d+)+", r) for r in asked), asked)
                    self.assertLess(3 * len(asked), sum(r.count(",") + 1 for r in asked), asked)
                self.assertEqual((self.game_dir / "contents/pack.dat").read_bytes(), new)
                self.assertEqual(temp_leftovers(self.game_dir), [])


if __name__ == "__main__":
    harness.main()
