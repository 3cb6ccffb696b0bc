"""End-to-end tests of the launcher shell: the window, its controls and tooltips, the activity log in the list and
in Launcher_log.txt, the exit code and the banner on screen; the real Launcher.exe under Wine + Xvfb, driven by
driver.exe. No update server listens, so the manifest download fails at once and the window appears.
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from harness import EXPECTED_VERSION_LINE, LauncherTestCase, strip_log_prefix  # noqa: E402

WELCOME_LINES = [
    "Welcome to Quorvane Launcher.",
    "To enter game, you must wait until upater checks and downloads all files.",
    'When program finished the work, you can click "Play Game".',
    "",
]

WS_CHILD, WS_VISIBLE, WS_VSCROLL, WS_TABSTOP = 0x40000000, 0x10000000, 0x00200000, 0x00010000
WS_CAPTION, WS_CLIPSIBLINGS, WS_SYSMENU, WS_MINIMIZEBOX = 0x00C00000, 0x04000000, 0x00080000, 0x00020000
WS_THICKFRAME, WS_MAXIMIZEBOX = 0x00040000, 0x00010000
WS_EX_CLIENTEDGE, WS_EX_APPWINDOW, WS_EX_TOPMOST = 0x200, 0x40000, 0x8
BS_PUSHBUTTON, BS_CHECKBOX, BS_GROUPBOX = 0, 2, 7
CHILD = WS_CHILD | WS_VISIBLE
LISTBOX_STYLE = 0x50210141
TTS_ALWAYSTIP, TTS_NOPREFIX, TTS_BALLOON = 0x01, 0x02, 0x40
TTF_IDISHWND, TTF_SUBCLASS = 0x01, 0x10
ABOVE_NORMAL_PRIORITY_CLASS = 0x8000
COLOR_WINDOW_BRUSH = 6  # COLOR_WINDOW + 1
CS_HREDRAW_VREDRAW = 3

# Class, caption, style, exstyle, x, y, width, height, id, enabled; in creation order. The log list's rectangle
# is None here: the layout gives it its real one from the client size.
CONTROLS = [
    ("ListBox", "", LISTBOX_STYLE, WS_EX_CLIENTEDGE, None, None, None, None, 101),
    ("Button", "Play Game", CHILD | BS_PUSHBUTTON, 0, 240, 418, 120, 30, 1),
    ("Button", "Repair", CHILD | BS_PUSHBUTTON, 0, 455, 455, 120, 30, 11),
    ("Button", "Options (mouse over for more information", CHILD | BS_GROUPBOX, 0, 40, 450, 380, 140, 6),
    ("Button", "Windowed", CHILD | BS_GROUPBOX, 0, 55, 470, 350, 105, 6),
    ("Button", "Windowed", CHILD | BS_CHECKBOX, 0, 65, 485, 150, 25, 7),
    ("Button", "Lock mouse to game area", CHILD | BS_CHECKBOX, 0, 65, 505, 150, 25, 8),
    ("Button", "Resizable window", CHILD | BS_CHECKBOX, 0, 65, 525, 150, 25, 9),
    ("Button", "Ignore Windows's Scaling", CHILD | BS_CHECKBOX, 0, 65, 545, 150, 25, 12),
    ("Button", "Double Window size", CHILD | BS_CHECKBOX, 0, 245, 485, 150, 25, 14),
    ("Button", "VSync", CHILD | BS_CHECKBOX, 0, 245, 505, 150, 25, 10),
    ("Button", "Unlock FPS", CHILD | BS_CHECKBOX, 0, 245, 525, 150, 25, 13),
    ("Button", "Antyaliasing", CHILD | BS_CHECKBOX, 0, 245, 545, 150, 25, 15),
    ("msctls_progress32", "", CHILD, 0, 40, 385, 534, 25, 10),
]

# After them, the player's controls of a long update: the status line, Pause and the download limit.
RUN_CONTROLS = [("Static", "", 16), ("Button", "Pause", 17), ("ComboBox", "No download limit", 18)]

# Control id and balloon text of each tooltip, in the order in which they are made.
TOOLTIPS = [
    (1, "Press to start the game when the button is enabled."),
    (8, "Prevents the mouse from moving out of the game area while playing."),
    (7, "Enables playing in windowed mode."),
    (9, "Allows resizing the window in windowed mode."),
    (10, "VSync keeps your graphics in sync with your monitor's refresh rate."),
    (13, "May provide smoother gameplay on some machines, but consumes more resources."),
    (12, "Prevents Windows from scaling the game window by its default scaling setting. This may make the less "
         "burry or small enough to fit on your monitor."),
    (14, "Doubles the size of the window to 1280x960."),
    (15, "Disabled fixes artifacts and lines between the tile map when stretching the window."),
]

# Lines of the update run, which may fall between the main thread's lines in the list and the file.
UPDATE_RUN_PREFIXES = ("Checking files...", "Checking for updates...", "All files up to date", "Update incomplete",
                       "File ", "{Error:", "Download:", "URL is invalid", "Buffer length invalid", "Unsafe path",
                       "Manifest ")

BANNER = harness.REPO / "resources" / "banner.bmp"
BANNER_ORIGIN = (28, 0)
WHITE = (255, 255, 255)
# A window colour no banner pixel is likely to have, so that transparency shows.
TEST_WINDOW_COLOR = (30, 120, 90)


def main_thread_lines(lines):
    return [line for line in lines if not line.startswith(UPDATE_RUN_PREFIXES)]


class ShellTest(LauncherTestCase):

    def test_window_controls_and_tooltips(self):
        run = self.start_launcher()
        window, controls, tooltips = self.driver.run("window", "controls", "tooltips")

        with self.subTest("window"):
            self.assertEqual(window["title"], "Quorvane Launcher")
            self.assertEqual(window["class"], "Quorvane Launcher")
            full_width, full_height = window["fullscreen"]
            self.assertEqual(window["rect"], [full_width // 2 - 310, full_height // 2 - 317, 620, 635])
            style = window["style"]
            self.assertEqual(style & ~(WS_VISIBLE | WS_CAPTION | WS_CLIPSIBLINGS), WS_SYSMENU | WS_MINIMIZEBOX,
                             hex(style))
            self.assertFalse(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), "the window must keep its size")
            self.assertTrue(window["exstyle"] & WS_EX_APPWINDOW, hex(window["exstyle"]))
            self.assertTrue(window["visible"])
            self.assertEqual(window["class_style"], CS_HREDRAW_VREDRAW)
            # Wine does not tell another process a class's brush or icons (null); the brush then shows in
            # test_banner_on_screen, where the background follows the system window colour.
            if window["class_brush"] is not None:
                self.assertEqual(window["class_brush"], COLOR_WINDOW_BRUSH)
            for icon in ("class_icon", "class_small_icon"):
                if window[icon] is not None:
                    self.assertNotEqual(window[icon], 0, icon)
            self.assertEqual(window["priority_class"], ABOVE_NORMAL_PRIORITY_CLASS)

        client_width, client_height = window["client"][2:]
        with self.subTest("controls"):
            # The design's controls first, then the player's controls of a long update in free space of their own.
            self.assertEqual(controls["count"], len(CONTROLS) + len(RUN_CONTROLS))
            for i, (expected, actual) in enumerate(zip(CONTROLS, controls["controls"])):
                class_name, caption, style, exstyle, x, y, width, height, control_id = expected
                if x is None:  # the log list, laid out from the client area
                    x, y, width, height = 40, 190, client_width - 70, client_height - 410
                with self.subTest(control=i + 1, caption=caption):
                    self.assertEqual(actual["class"].lower(), class_name.lower())
                    self.assertEqual(actual["caption"], caption)
                    self.assertEqual(actual["id"], control_id)
                    actual_style = actual["style"]
                    if control_id == 101:  # the list box drops WS_VSCROLL while all its lines fit
                        actual_style |= WS_VSCROLL
                    self.assertEqual(hex(actual_style), hex(style))
                    self.assertEqual(hex(actual["exstyle"]), hex(exstyle))
                    self.assertEqual(actual["rect"], [x, y, width, height])
                    self.assertTrue(actual["visible"])
                    # Fonts are not checked: under Wine WM_GETFONT from another process answers 0.
            repair = controls["controls"][2]
            self.assertTrue(repair["enabled"], "Repair is usable from the start")
            design = controls["controls"][:len(CONTROLS)]
            for (class_name, caption, control_id), actual in zip(RUN_CONTROLS, controls["controls"][len(CONTROLS):]):
                with self.subTest(control=caption or class_name):
                    self.assertEqual((actual["class"].lower(), actual["caption"], actual["id"]),
                                     (class_name.lower(), caption, control_id))
                    x, y, width, _ = actual["rect"]
                    self.assertLessEqual(x + width, client_width)
                    for other in design:
                        ox, oy, ow, oh = other["rect"]
                        # The drop-down list of a combo box opens over others; its closed field must not.
                        height = 24 if class_name == "ComboBox" else actual["rect"][3]
                        self.assertFalse(x < ox + ow and ox < x + width and y < oy + oh and oy < y + height,
                                         f"overlaps {other['caption'] or other['class']}")

        with self.subTest("tooltips"):
            made = []
            sizes = {c["id"]: c["rect"][2:] for c in controls["controls"] if c["class"].lower() == "button"}
            for tip in tooltips["tooltips"]:
                self.assertEqual(tip["style"] & (TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON),
                                 TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON, hex(tip["style"]))
                self.assertTrue(tip["exstyle"] & WS_EX_TOPMOST)
                self.assertEqual(tip["max_width"], 300)
                for tool in tip["tools"]:
                    self.assertEqual(tool["flags"] & (TTF_IDISHWND | TTF_SUBCLASS), TTF_IDISHWND | TTF_SUBCLASS)
                    self.assertTrue(tool["tool_is_control"])
                    self.assertEqual(tool["rect"], [0, 0] + sizes[tool["control_id"]], "the control's client area")
                    made.append((tool["control_id"], tool["text"]))
            self.assertEqual(tooltips["count"], len(TOOLTIPS), "one tooltip window per control")
            self.assertEqual(made, TOOLTIPS, "the tooltips in the order in which they are made")

        self.assertEqual(self.close_launcher(run), 0)

    def test_activity_log_in_list_and_file(self):
        run = self.start_launcher()
        listing = self.driver.one("wait-list", EXPECTED_VERSION_LINE, "60")
        # The empty line after the version line is the last of the block; wait for it as well.
        for _ in range(50):
            lines = listing["lines"]
            if lines.index(EXPECTED_VERSION_LINE) < len(lines) - 1 and "" in lines[lines.index(EXPECTED_VERSION_LINE):]:
                break
            listing = self.driver.one("list")
        lines = listing["lines"]

        with self.subTest("list"):
            self.assertEqual(lines[:4], WELCOME_LINES)
            self.assertEqual(listing["count"], len(lines))
            self.assertEqual(listing["selected"], len(lines) - 1, "the newest line is selected")
            own = main_thread_lines(lines)
            at = own.index("System Information:")
            self.assertEqual(own[at + 1:at + 3], [EXPECTED_VERSION_LINE, ""])
            self.assertTrue(any(line.startswith("Total files to check: ") for line in own[4:at]),
                            "the manifest count comes before the system information")

        self.assertEqual(self.close_launcher(run), 0)

        with self.subTest("file"):
            file_lines = self.log_lines()
            for line in file_lines:
                self.assertRegex(line, harness.LOG_PREFIX)
            messages = [strip_log_prefix(line) for line in file_lines]
            self.assertEqual(messages[:4], WELCOME_LINES)
            self.assertEqual(file_lines[3], file_lines[3].rstrip(" ") + " ", "the empty line keeps its prefix")
            own = main_thread_lines(messages)
            at = own.index("System Information:")
            self.assertEqual(own[at + 1:at + 3], [EXPECTED_VERSION_LINE, ""])
            # Every list line reached the file once; lines of the two threads may interleave differently.
            remaining = list(messages)
            for line in lines:
                self.assertIn(line, remaining)
                remaining.remove(line)

    def test_log_file_is_appended_across_runs(self):
        earlier = b"[2025/ 1/ 2  3: 4: 5] A line of an earlier launcher\r\n"
        (self.game_dir / harness.LOG_FILE).write_bytes(earlier)

        self.assertEqual(self.close_launcher(self.start_launcher()), 0)
        after_first = (self.game_dir / harness.LOG_FILE).read_bytes()
        self.assertTrue(after_first.startswith(earlier))
        first_count = len(self.log_lines())

        self.assertEqual(self.close_launcher(self.start_launcher()), 0)
        after_second = (self.game_dir / harness.LOG_FILE).read_bytes()
        self.assertTrue(after_second.startswith(after_first), "the second run must not rewrite the file")
        messages = [strip_log_prefix(line) for line in self.log_lines()]
        self.assertEqual(messages[1:5], WELCOME_LINES)
        self.assertEqual(messages[first_count:first_count + 4], WELCOME_LINES)
        self.assertEqual(main_thread_lines(messages[1:first_count]), main_thread_lines(messages[first_count:]),
                         "both runs log the same start-up lines")

    def test_banner_on_screen(self):
        # With a window colour other than white, a pure-white banner pixel that shows it proves the transparency.
        color = " ".join(str(c) for c in TEST_WINDOW_COLOR)
        code, _, _ = self.prefix.run(["reg", "add", r"HKCU\Control Panel\Colors", "/v", "Window", "/t", "REG_SZ",
                                      "/d", color, "/f"], self.out_dir, self.out_dir, "reg")
        self.assertEqual(code, 0)
        run = self.start_launcher()
        self.driver.one("wait-list", EXPECTED_VERSION_LINE, "60")
        controls, shot = self.driver.run("controls", ("screenshot", self.out_dir / "window.bmp"))
        self.assertEqual(tuple(shot["window_color"]), TEST_WINDOW_COLOR,
                         "the prefix's window colour did not take effect")
        width, height, screen = harness.read_bmp(self.out_dir / "window.bmp")
        banner_width, banner_height, banner = harness.read_bmp(BANNER)
        self.assertEqual((banner_width, banner_height), (530, 225))
        self.assertEqual(banner(529, 0), (253, 253, 253))
        self.assertEqual(banner(0, 0), WHITE)

        left, top = BANNER_ORIGIN
        with self.subTest("corners"):
            self.assertEqual(screen(left + 529, top), (253, 253, 253), "the near-white corner is drawn")
            self.assertEqual(screen(left, top), TEST_WINDOW_COLOR, "a pure-white pixel shows the background")
            self.assertEqual(screen(left + 529, top + 224), TEST_WINDOW_COLOR)

        covered = [c["rect"] for c in controls["controls"]]

        def under_control(x, y):
            return any(cx <= x < cx + cw and cy <= y < cy + ch for cx, cy, cw, ch in covered)

        wrong = []
        for y in range(banner_height):
            for x in range(banner_width):
                sx, sy = left + x, top + y
                if sx >= width or sy >= height or under_control(sx, sy):
                    continue
                pixel = banner(x, y)
                expected = TEST_WINDOW_COLOR if pixel == WHITE else pixel
                if screen(sx, sy) != expected:
                    wrong.append(((sx, sy), screen(sx, sy), expected))
        self.assertEqual(wrong[:10], [], f"{len(wrong)} banner pixels differ on screen")
        # Outside the banner and the controls the window shows its background.
        self.assertEqual(screen(10, 10), TEST_WINDOW_COLOR)
        self.assertEqual(screen(width - 5, 100), TEST_WINDOW_COLOR)
        self.assertEqual(self.close_launcher(run), 0)

    def test_wine_passes_the_exit_code_on(self):
        # The exit code checks above mean something only if a non-zero code would come through the wrapper.
        code, _, _ = self.prefix.run([self.bin_dir / "driver.exe"], self.out_dir, self.out_dir, "usage")
        self.assertEqual(code, 2)


if __name__ == "__main__":
    harness.main()
