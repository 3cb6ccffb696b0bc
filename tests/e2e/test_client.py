"""End-to-end tests of the client side of the launcher: the settings file contents\\launcher.ini and the option
boxes, the wait message before the update has finished, Repair, Play with the stand-in Client.exe, the window
commands 2 and 5 and the compatibility-layer registry value; the real Launcher.exe under Wine + Xvfb, driven by
driver.exe, its updates served by tests/e2e/fault_server.py, which holds chosen downloads until the test releases
them (so that the update run is seen unfinished for as long as a test needs).
"""

import re
import shutil
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from harness import LauncherTestCase, strip_log_prefix  # noqa: E402

LAYERS_KEY = r"HKCU\SOFTWARE\Microsoft\Windows NT\CurrentVersion\AppCompatFlags\Layers"
LAYERS_DATA = "~ RUNASADMIN WIN8RTM"
LAUNCH_ARGUMENT = "-xravtemloqs"
WAIT_MESSAGE = "Please wait for downloading all files..."
ABOUT_LINE = "This program will automatically update the game files."
ALL_UP_TO_DATE = "All files up to date"

PLAY, REPAIR = 1, 11
# Option box id -> settings key; borderless has no box.
OPTION_KEYS = {7: "windowed", 8: "lockmouse", 9: "resizable_window", 10: "vsync", 12: "ignore_windows_scaling",
               13: "unlockfps", 14: "double-size-window", 15: "antyaliasing"}
# The key lines of the file, in the order the launcher writes them.
FILE_KEYS = ["windowed", "borderless", "resizable_window", "ignore_windows_scaling", "lockmouse", "unlockfps",
             "vsync", "double-size-window", "antyaliasing"]
DEFAULTS = {key: 0 for key in FILE_KEYS} | {"antyaliasing": 1}
HEADER = [
    "// This configuration file allows you to customize the settings for the game client.",
    "// The options are explained below. Modify the values as needed and save the file.",
    "",
    "// General settings:",
    "// 0 - disable",
    "// 1 - enable",
    "",
]
# After the run has set UpdateFinished, the progress bar is set to show full: range 0 .. 5 at 5.
FINISHED_PROGRESS = (0, 5, 5)


def settings_text(values):
    """The whole settings file the launcher writes for the given flags."""
    lines = HEADER + [f"{key} = {values[key]}" for key in FILE_KEYS]
    return "".join(line + "\r\n" for line in lines).encode("ascii")


def windows_path(path):
    """The path Wine shows a Windows program for a Linux path (through its Z: drive)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def wait_until(condition, what, timeout=60, interval=0.2):
    """Polls condition() until it answers something true, which it returns."""
    deadline = time.monotonic() + timeout
    while True:
        answer = condition()
        if answer:
            return answer
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


# ---- Tests ---------------------------------------------------------------------------------------------------------

class ClientTest(LauncherTestCase):

    def setUp(self):
        super().setUp()
        self.settings_file = self.game_dir / "contents" / "launcher.ini"
        self.started_file = self.game_dir / "client_started.txt"
        self.client_value_name = windows_path(self.game_dir) + "\\Client.exe"

    # -- helpers --

    def serve(self, files=None, hold=None):
        """Publishes a game of the given files (relative path -> bytes or source Path) and serves it. hold: relative
        path -> the one request of it to hold (1 for the first), or "all" for every request until released."""
        published = self.work / "published"
        published.mkdir()
        for relative, content in (files or {}).items():
            target = published / relative
            target.parent.mkdir(parents=True, exist_ok=True)
            if isinstance(content, Path):
                shutil.copy2(content, target)
            else:
                target.write_bytes(content)
        harness.publish(published)
        holds = [f"{path}=hold" if number == "all" else f"{path}=hold@{number}"
                 for path, number in (hold or {}).items()]
        return self.serve_faults(published, *holds)

    def option_checks(self):
        controls = self.driver.one("controls")["controls"]
        return {c["id"]: c["check"] for c in controls if c["class"].lower() == "button" and c["id"] in OPTION_KEYS}

    def expected_checks(self, values):
        return {box: values[key] for box, key in OPTION_KEYS.items()}

    def button_enabled(self, control_id):
        controls = self.driver.one("controls")["controls"]
        return [c["enabled"] for c in controls if c["class"].lower() == "button" and c["id"] == control_id][0]

    def progress(self):
        answer = self.driver.one("progress")
        return answer["low"], answer["high"], answer["pos"]

    def wait_update_finished(self, timeout=120):
        wait_until(lambda: self.progress() == FINISHED_PROGRESS, "the update run to finish", timeout)

    def click_and_wait_check(self, box, state):
        self.driver.one("click", box)
        wait_until(lambda: self.option_checks()[box] == state, f"box {box} to show {state}", timeout=30)

    def list_lines(self):
        return self.driver.one("list")["lines"]

    def layers(self):
        """Values under the compatibility-layer key: name -> (type, data)."""
        code, out, err = self.prefix.run(["reg", "query", LAYERS_KEY], self.out_dir, self.out_dir,
                                         f"reg_query{time.monotonic_ns()}")
        if code != 0:
            return {}
        values = {}
        for line in out.splitlines():
            match = re.match(r"^ {4}(.+?) {4}(REG_\w+) {4}(.*)$", line.rstrip("\r"))
            if match:
                values[match.group(1)] = (match.group(2), match.group(3))
        return values

    def reg_add(self, name, data):
        code, out, err = self.prefix.run(["reg", "add", LAYERS_KEY, "/v", name, "/t", "REG_SZ", "/d", data, "/f"],
                                         self.out_dir, self.out_dir, f"reg_add{time.monotonic_ns()}")
        self.assertEqual(code, 0, out + err)

    def stored_layer_lines(self):
        """The compatibility value as Wine saved it in the prefix's user.reg: only a string stored with exactly
        its terminating zero is written there in the "name"="data" form. Stops the prefix's Wine first."""
        self.prefix.stop()
        text = (self.prefix.path / "user.reg").read_text(encoding="utf-8", errors="replace")
        escaped = self.client_value_name.replace("\\", "\\\\")
        return [line for line in text.splitlines() if line.startswith(f'"{escaped}"=')]

    def start_standin(self, index):
        """Starts the game folder's Client.exe as a player would, outside the launcher."""
        return self.prefix.popen([self.game_dir / "Client.exe"], self.game_dir,
                                 self.out_dir / f"standin{index}.out", self.out_dir / f"standin{index}.err")

    def started_lines(self):
        if not self.started_file.exists():
            return []
        return self.started_file.read_text(errors="replace").splitlines()

    # -- tests --

    def test_defaults_written_layers_overwritten_and_commands(self):
        (self.game_dir / "contents").mkdir()
        other_client = "Z:\\elsewhere\\Client.exe"
        self.reg_add(self.client_value_name, "~ HIGHDPIAWARE DISABLEDXMAXIMIZEDWINDOWEDMODE")
        self.reg_add(other_client, "~ WINXPSP3")
        self.serve()
        run = self.start_launcher()
        self.wait_update_finished()

        with self.subTest("settings file created with the defaults"):
            self.assertEqual(len(settings_text(DEFAULTS)), 390)
            self.assertEqual(self.settings_file.read_bytes(), settings_text(DEFAULTS))
            self.assertEqual(self.option_checks(), self.expected_checks(DEFAULTS), "only Antyaliasing is checked")

        with self.subTest("compatibility value overwritten, others kept"):
            self.assertEqual(self.layers(), {self.client_value_name: ("REG_SZ", LAYERS_DATA),
                                             other_client: ("REG_SZ", "~ WINXPSP3")})

        with self.subTest("command 2 logs the about line"):
            before = self.list_lines().count(ABOUT_LINE)
            self.driver.one("command", 2)
            wait_until(lambda: self.list_lines().count(ABOUT_LINE) == before + 1, "the about line")

        with self.subTest("command 5 ends the launcher with 0"):
            self.driver.one("command", 5)
            self.assertEqual(run.wait_exit(30), 0)

        messages = [strip_log_prefix(line) for line in self.log_lines()]
        self.assertEqual(messages.count(ABOUT_LINE), 1, "the about line reaches the log file once")
        self.assertEqual(self.settings_file.read_bytes(), settings_text(DEFAULTS), "nothing is written at exit")
        escaped_name = self.client_value_name.replace("\\", "\\\\")
        self.assertEqual(self.stored_layer_lines(), [f'"{escaped_name}"="{LAYERS_DATA}"'],
                         "saved as a string with its terminating zero")

    def test_no_contents_folder_first_click_writes_file_play_without_client(self):
        server = self.serve()
        run = self.start_launcher()
        self.wait_update_finished()

        with self.subTest("nothing written at start-up without contents"):
            self.assertTrue((self.game_dir / "contents").is_dir(), "the update run creates the data folders")
            self.assertFalse(self.settings_file.exists())
            self.assertEqual(self.option_checks(), self.expected_checks(DEFAULTS))

        with self.subTest("compatibility value created under a new key"):
            self.assertEqual(self.layers(), {self.client_value_name: ("REG_SZ", LAYERS_DATA)})

        with self.subTest("the first click writes the whole file"):
            self.click_and_wait_check(13, 1)
            self.assertEqual(self.settings_file.read_bytes(), settings_text(DEFAULTS | {"unlockfps": 1}))

        with self.subTest("Play without Client.exe still ends the launcher with 0"):
            self.assertFalse((self.game_dir / "Client.exe").exists())
            self.driver.one("click", PLAY)
            self.assertEqual(run.wait_exit(30), 0)
        self.assertEqual(harness.without_mirror_list(server.requested()), ["update.cfg"], server.requests())

    def test_hand_written_file_wait_message_and_toggles(self):
        (self.game_dir / "contents").mkdir()
        # Mixed case, blanks and tabs around key and value, duplicates (the last wins), a misspelt key, a key with
        # a blank inside it and remarks: none of the last three changes anything.
        hand_written = (
            "; written by hand\r\n"
            "WINDOWED=1\r\n"
            " \t VSync \t=\t 1\r\n"
            "LockMouse = 0\n"
            "lockmouse = 7 frames\r\n"
            "antyaliasing = 1\r\n"
            "AntyAliasing\t= 0\r\n"
            "Borderless = 1\r\n"
            "double_size_window = 1\r\n"
            "unlock fps = 1\r\n"
            "resizable_window =\r\n"
        ).encode("ascii")
        self.settings_file.write_bytes(hand_written)
        values = DEFAULTS | {"windowed": 1, "vsync": 1, "lockmouse": 1, "antyaliasing": 0, "borderless": 1}

        # Every attempt is held, so that a slow machine's retries cannot end the run while the test looks.
        server = self.serve({"data/held.bin": b"held until the test lets it go\n" * 100},
                            hold={"data/held.bin": "all"})
        run = self.start_launcher()
        wait_until(lambda: server.held_now() == 1, "the held download")

        with self.subTest("boxes shown from the hand-written file"):
            self.assertEqual(self.option_checks(), self.expected_checks(values))
            self.assertEqual(self.settings_file.read_bytes(), hand_written, "reading does not rewrite the file")

        with self.subTest("option and Repair before the update finished"):
            self.driver.one("click", 7)
            first = self.driver.one("messagebox", "20", "--keep")
            self.assertEqual(first["count"], 1)
            box = first["boxes"][0]
            self.assertEqual((box["text"], box["buttons"]), (WAIT_MESSAGE, ["OK"]))
            self.assertEqual(box["title"], "Error", "no caption of its own: the system's default title")
            # Without an owner the window stays usable while the message is open, and a further gated click
            # opens one more message.
            self.assertTrue(self.driver.one("window")["enabled"])
            self.driver.one("click", REPAIR)
            wait_until(lambda: self.driver.one("messagebox", "--keep")["count"] == 2, "a second wait message")
            boxes = self.driver.one("messagebox", "--keep")["boxes"]
            self.assertEqual([b["text"] for b in boxes], [WAIT_MESSAGE, WAIT_MESSAGE])
            self.assertEqual(self.driver.one("messagebox")["count"], 2)
            self.assertEqual(self.driver.one("messagebox")["count"], 0, "OK closes each message")
            self.assertEqual(self.option_checks(), self.expected_checks(values))
            self.assertEqual(self.settings_file.read_bytes(), hand_written)
            self.assertTrue(self.button_enabled(REPAIR), "Repair stays usable")
            self.assertFalse(self.button_enabled(PLAY))

        server.release()
        self.wait_update_finished()

        with self.subTest("a click flips the box and rewrites the file, a second flips it back"):
            self.click_and_wait_check(7, 0)
            self.assertEqual(self.settings_file.read_bytes(), settings_text(values | {"windowed": 0}))
            self.click_and_wait_check(7, 1)
            self.assertEqual(self.settings_file.read_bytes(), settings_text(values))

        with self.subTest("VSync shares its id with the progress bar"):
            self.click_and_wait_check(10, 0)
            self.assertEqual(self.settings_file.read_bytes(), settings_text(values | {"vsync": 0}))
            self.assertEqual(self.progress(), FINISHED_PROGRESS)
            self.assertEqual(self.option_checks(), self.expected_checks(values | {"vsync": 0}))

        self.assertEqual(self.close_launcher(run), 0)
        self.assertEqual(self.settings_file.read_bytes(), settings_text(values | {"vsync": 0}))

    def test_repair_then_play(self):
        standin = self.bin_dir / "standin" / "Client.exe"
        # The repair run's download of Client.exe is held, to look at the game folder while it runs.
        server = self.serve({"Client.exe": standin, "data/note.txt": b"a game file\r\n"},
                            hold={"Client.exe": 2})
        client = self.game_dir / "Client.exe"
        run = self.start_launcher()
        self.wait_update_finished()
        self.assertEqual(harness.sha1_of(client), harness.sha1_of(standin))

        # One after the other: two stand-ins appending to client_started.txt at the same moment may overwrite
        # each other's line (the runtime's append mode seeks to the end, then writes).
        standins = []
        self.addCleanup(lambda: [p.kill() for p in standins if p.poll() is None])
        for index in range(2):
            standins.append(self.start_standin(index))
            wait_until(lambda: len(self.started_lines()) == index + 1, f"stand-in client {index + 1} to run")
        self.assertTrue(all(p.poll() is None for p in standins))
        # A second installation's client, in a folder of its own.
        other_folder = self.work / "other game"
        other_folder.mkdir()
        shutil.copy2(standin, other_folder / "Client.exe")
        other = self.prefix.popen([other_folder / "Client.exe"], other_folder, self.out_dir / "other.out",
                                  self.out_dir / "other.err")
        self.addCleanup(lambda: other.poll() is None and other.kill())
        wait_until(lambda: (other_folder / "client_started.txt").exists(), "the other installation's client")

        with self.subTest("Repair stops the clients, deletes Client.exe and runs the update again"):
            self.driver.one("click", REPAIR)
            for process in standins:
                process.wait(30)
            self.assertIsNone(other.poll(), "the other installation's client keeps running")
            # What the window and the folder show while the repair run waits for Client.exe; looked at before the
            # download is let go, so that a failing check cannot leave the run waiting.
            wait_until(lambda: server.held_now() == 1, "the repair run's download of Client.exe")
            client_during_run = client.exists()
            progress_during_run = self.progress()
            enabled_during_run = self.button_enabled(REPAIR), self.button_enabled(PLAY)
            server.release()
            self.assertFalse(client_during_run, "Client.exe is deleted")
            self.assertEqual(progress_during_run[2], 0, "the progress bar starts again from 0")
            self.assertEqual(enabled_during_run, (False, True), "Repair disabled, Play still usable")
            wait_until(lambda: self.list_lines().count(ALL_UP_TO_DATE) == 2, "the repair run's end")
            self.assertEqual(self.progress(), FINISHED_PROGRESS)
            self.assertEqual(harness.sha1_of(client), harness.sha1_of(standin), "Client.exe is back")
            self.assertFalse(self.button_enabled(REPAIR), "Repair works once per run")

        with self.subTest("the repair run's log"):
            lines = self.list_lines()
            starts = [i for i, line in enumerate(lines) if line == "Checking files..."]
            ends = [i for i, line in enumerate(lines) if line == ALL_UP_TO_DATE]
            self.assertEqual(len(starts), 2)
            self.assertLess(ends[0], starts[1])
            second = lines[starts[1]:ends[1] + 1]
            self.assertEqual(second, ["Checking files...", "File Client.exe needs updating", "Checking for updates...",
                                      "Download: Client.exe complete.", ALL_UP_TO_DATE])

        with self.subTest("Play starts the client with its argument and ends the launcher with 0"):
            self.driver.one("click", PLAY)
            self.assertEqual(run.wait_exit(30), 0)
            wait_until(lambda: len(self.started_lines()) == 3, "the client started by Play")
            # The command line is the program, quoted or not, then one blank and the whole parameter string.
            line = self.started_lines()[2]
            match = re.fullmatch(r'("[^"]*"|[^ "]*) (.*)', line)
            self.assertIsNotNone(match, line)
            self.assertEqual(Path(match.group(1).strip('"').replace("\\", "/")).name.lower(), "client.exe", line)
            self.assertEqual(match.group(2), LAUNCH_ARGUMENT, line)

        with self.subTest("reports of the stopped clients"):
            out = run.stdout_path.read_text(errors="replace").splitlines()
            err = run.stderr_path.read_text(errors="replace").splitlines()
            self.assertEqual(out.count("Process terminated successfully"), 2, out)
            self.assertNotIn("Process not found", err)

        self.assertEqual(server.requested().count("update.cfg"), 1,
                         "the repair run uses the manifest loaded at start-up")


if __name__ == "__main__":
    harness.main()
