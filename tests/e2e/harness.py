"""End-to-end test harness: runs the real launcher under Wine inside Xvfb, drives it through driver.exe and serves
its updates with nginx (or another HTTP server); used by every tests/e2e/test_*.py. Python standard library only.

Environment (set by ctest, see tests/wine_tests.cmake):
  LAUNCHER_BIN_DIR         Windows build's bin dir (Launcher.exe, driver.exe, ...)
  LAUNCHER_NATIVE_BIN_DIR  native build's bin dir (publish_manifest)
  LAUNCHER_TEST_HOST       host:port baked into the test build's update URL "http://HOST/Quorvane/"
  WINE_TEMPLATE_PREFIX     the prepared Wine prefix (tests/e2e/prepare_prefix.py)
  LAUNCHER_WORK_DIR        where each test gets its own folder

Everything started here is stopped again, also when a test fails: Wine through `wineserver -k` of the test's own
prefix, Xvfb and the HTTP servers by their process ids.
"""

import atexit
import ctypes
import hashlib
import json
import os
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import time
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WINE_SH = REPO / "tools" / "wine.sh"
FAULT_SERVER = REPO / "tests" / "e2e" / "fault_server.py"

# The Windows version the prepared prefix reports, and the line the launcher logs for it.
WINDOWS_VERSION = "win10"
EXPECTED_VERSION_LINE = "Microsoft Windows 10 "
# Marks a finished template prefix; a half-made one never carries it.
PREFIX_READY_MARK = ".quorvane-prefix-ready"

MAIN_WINDOW_CLASS = "Quorvane Launcher"
LOG_FILE = "Launcher_log.txt"
# "[%4d/%2d/%2d %2d:%2d:%2d] ": fields padded with blanks, never zeros.
LOG_PREFIX = re.compile(r"^\[\d{4}/[ \d]\d/[ \d]\d [ \d]\d:[ \d]\d:[ \d]\d\] ")

# Files of a Wine prefix that are only ever replaced, never written in place: a test's prefix links them to the
# template's instead of copying 700 MB. Everything else (registry, .ini files, user folders) is copied.
LINKED_SUFFIXES = {".dll", ".exe", ".drv", ".sys", ".acm", ".ocx", ".cpl", ".tlb", ".nls", ".msstyles", ".ax",
                   ".ds", ".com", ".vxd", ".mui", ".ttf", ".ttc", ".fon", ".msi"}


def env_path(name, required=True):
    value = os.environ.get(name)
    if not value:
        if required:
            raise RuntimeError(f"{name} is not set; run the end-to-end tests through ctest")
        return None
    return Path(value)


def test_host():
    host = os.environ.get("LAUNCHER_TEST_HOST", "127.0.0.1:18460")
    name, _, port = host.partition(":")
    return name, int(port or 80)


def log(message):
    print(f"[harness] {message}", file=sys.stderr, flush=True)


# ---- Processes that must not outlive the run -------------------------------------------------------------------

_running = []  # objects with stop(), stopped in reverse order at exit as a last resort


def _stop_all():
    while _running:
        item = _running.pop()
        try:
            item.stop()
        except Exception as error:  # the other cleanups must still run
            log(f"cleanup of {item!r} failed: {error}")


atexit.register(_stop_all)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


def _track(item):
    _running.append(item)
    return item


def _untrack(item):
    if item in _running:
        _running.remove(item)


def _die_with_parent():
    """Runs in a started server before it execs: the kernel ends it when the harness dies, even by SIGKILL
    (a ctest timeout), so no Xvfb or nginx outlives a killed test."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def _end_process(process, grace=5):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def wait_for_port(host, port, timeout=15, process=None):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process is not None and process.poll() is not None:
            raise RuntimeError(f"server exited with code {process.returncode} before listening on {port}")
        try:
            with socket.create_connection((host, port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"nothing listens on {host}:{port} after {timeout} s")


def port_is_free(host, port):
    try:
        with socket.create_connection((host, port), timeout=0.5):
            return False
    except OSError:
        return True


# ---- X server ------------------------------------------------------------------------------------------------------

class Xvfb:
    """A virtual X server on a display number it picks itself (-displayfd): another Xvfb may hold any fixed one."""

    def __init__(self, log_path, size="1280x1024x24"):
        read_end, write_end = os.pipe()
        self.log_file = open(log_path, "wb")
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", size, "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=self.log_file, stderr=subprocess.STDOUT,
            preexec_fn=_die_with_parent)
        os.close(write_end)
        _track(self)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([read_end], [], [], remaining)[0]:
                os.close(read_end)
                self.stop()
                raise RuntimeError("Xvfb did not report its display")
            chunk = os.read(read_end, 16)
            if not chunk:
                os.close(read_end)
                self.stop()
                raise RuntimeError(f"Xvfb exited (see {log_path})")
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()

    def stop(self):
        _end_process(self.process)
        self.log_file.close()
        _untrack(self)


# ---- Wine --------------------------------------------------------------------------------------------------------

def wine_environment(prefix, display=None):
    env = os.environ.copy()
    env["WINEPREFIX"] = str(prefix)
    env.setdefault("WINEDEBUG", "-all")
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    return env


def wine_command(*args):
    return ["bash", str(WINE_SH), *[str(a) for a in args]]


def copy_prefix(template, target):
    """Makes a private prefix from the template: binaries hard-linked, everything Wine may write in place copied."""
    template, target = Path(template), Path(target)
    if not (template / PREFIX_READY_MARK).exists():
        raise RuntimeError(f"{template} is not a prepared Wine prefix; run tests/e2e/prepare_prefix.py")
    same_device = True
    for directory, subdirs, files in os.walk(template):
        source_dir = Path(directory)
        relative = source_dir.relative_to(template)
        destination_dir = target / relative
        destination_dir.mkdir(parents=True, exist_ok=True)
        shutil.copystat(source_dir, destination_dir)
        for name in subdirs + files:
            source, destination = source_dir / name, destination_dir / name
            if source.is_symlink():
                os.symlink(os.readlink(source), destination)
                if name in subdirs:
                    subdirs.remove(name)  # never walk into a linked folder
            elif name in files:
                linkable = relative.parts[:1] == ("drive_c",) and source.suffix.lower() in LINKED_SUFFIXES
                if linkable and same_device:
                    try:
                        os.link(source, destination)
                        continue
                    except OSError:
                        same_device = False
                shutil.copy2(source, destination)


class WinePrefix:
    """A test's own copy of the template prefix, with a wineserver that is killed at the end."""

    def __init__(self, path, display=None, template=None):
        self.path = Path(path)
        self.display = display
        template = template or env_path("WINE_TEMPLATE_PREFIX")
        if self.path.exists():
            shutil.rmtree(self.path)
        started = time.monotonic()
        copy_prefix(template, self.path)
        self.copy_seconds = time.monotonic() - started
        self.env = wine_environment(self.path, display)
        # The server first, with its output sent nowhere: Wine's background processes inherit the output of the
        # program that starts them, and a pipe kept open by them would hang whoever reads it. It lingers 60 s
        # after its last client, so a killed test leaves no server behind for long.
        subprocess.run(wine_command("--server", "-p60"), env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=True)
        _track(self)

    def popen(self, args, cwd, stdout_path, stderr_path):
        """Starts a Windows program under Wine; output goes to files, never to pipes."""
        env = dict(self.env, PWD=str(cwd))
        with open(stdout_path, "wb") as out, open(stderr_path, "wb") as err:
            return subprocess.Popen(wine_command(*args), cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err)

    def run(self, args, cwd, output_dir, name, timeout=120):
        """Runs a Windows program to its end; returns (exit code, stdout text, stderr text)."""
        out_path, err_path = Path(output_dir) / f"{name}.out", Path(output_dir) / f"{name}.err"
        process = self.popen(args, cwd, out_path, err_path)
        try:
            code = process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise
        return code, out_path.read_text(errors="replace"), err_path.read_text(errors="replace")

    def stop(self):
        subprocess.run(wine_command("--server", "-k"), env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run(wine_command("--server", "-w"), env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        _untrack(self)

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)


# ---- The launcher and the driver ---------------------------------------------------------------------------------

class DriverError(AssertionError):
    pass


class LauncherRun:
    """One Launcher.exe process started in a game folder."""

    def __init__(self, prefix, game_dir, output_dir, exe_name="Launcher.exe", index=0):
        self.game_dir = Path(game_dir)
        self.stdout_path = Path(output_dir) / f"launcher{index}.out"
        self.stderr_path = Path(output_dir) / f"launcher{index}.err"
        self.started = time.monotonic()
        self.process = prefix.popen([exe_name], self.game_dir, self.stdout_path, self.stderr_path)

    def wait_exit(self, timeout=30):
        """The process's exit code as Wine passes it on; raises when it is still running after timeout."""
        return self.process.wait(timeout)

    @property
    def running(self):
        return self.process.poll() is None

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Driver:
    """Runs driver.exe commands; each command answers one JSON object."""

    def __init__(self, prefix, bin_dir, output_dir):
        self.prefix = prefix
        self.exe = Path(bin_dir) / "driver.exe"
        self.output_dir = Path(output_dir)
        self.calls = 0

    def run(self, *commands, timeout=30, check=True, window_class=MAIN_WINDOW_CLASS):
        """commands: strings or tuples ("click", 1). Returns the list of answers, one per command that ran."""
        self.calls += 1
        out_path = self.output_dir / f"driver{self.calls}.json"
        args = [self.exe, "--out", out_path, "--timeout", timeout, "--class", window_class]
        for i, command in enumerate(commands):
            if i:
                args.append("+")
            args.extend([command] if isinstance(command, str) else command)
        code, stdout, stderr = self.prefix.run(args, self.output_dir, self.output_dir, f"driver{self.calls}",
                                               timeout=timeout * max(1, len(commands)) + 60)
        answers = []
        if out_path.exists():
            answers = [json.loads(line) for line in out_path.read_text(encoding="utf-8").splitlines() if line]
        if check and (code != 0 or len(answers) != len(commands)):
            raise DriverError(f"driver {commands!r} exited with {code}: {answers!r} {stdout} {stderr}".strip())
        return answers

    def one(self, *command, timeout=30, check=True, window_class=MAIN_WINDOW_CLASS):
        return self.run(tuple(command), timeout=timeout, check=check, window_class=window_class)[0]

    def hold_file(self, path, seconds, cwd, share_read=False):
        """Holds a file open without sharing (as a running program would; with share_read others may still read
        it, but neither write nor delete it) for seconds, in the background. Returns once the file is held; the
        returned process ends by itself (kill it to release early)."""
        self.calls += 1
        out_path = self.output_dir / f"lock{self.calls}.json"
        command = [self.exe, "--out", out_path, "lock", path, seconds] + (["read"] if share_read else [])
        process = self.prefix.popen(command, cwd,
                                    self.output_dir / f"lock{self.calls}.out", self.output_dir / f"lock{self.calls}.err")
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            # The exit is read before the answer, so an answer written just before the driver ended is seen.
            ended = process.poll() is not None
            if out_path.exists() and out_path.read_text().strip():
                answer = json.loads(out_path.read_text().splitlines()[0])
                if not answer["ok"]:
                    raise DriverError(f"lock {path}: {answer}")
                return process
            if ended:
                raise DriverError(f"lock {path} ended with {process.returncode} and no answer")
            time.sleep(0.05)
        process.kill()
        raise DriverError(f"lock {path}: no answer")


# ---- Files the launcher writes -------------------------------------------------------------------------------------

# Every start of an unsigned program asks for the mirror list beside update.cfg, published or not.
MIRROR_LIST = "update.cfg.mirrors"


def without_mirror_list(requests):
    """requests (paths, or tuples holding a path) but those of the mirror list."""
    return [r for r in requests if not any(str(part).endswith(MIRROR_LIST) for part in
                                           (r if isinstance(r, tuple) else (r,)))]


def read_log_lines(game_dir):
    """Launcher_log.txt as a list of lines; every line must end with CR LF (text mode on Windows)."""
    data = (Path(game_dir) / LOG_FILE).read_bytes()
    if data and not data.endswith(b"\r\n"):
        raise AssertionError(f"{LOG_FILE} does not end with CR LF: {data[-40:]!r}")
    lines = data.split(b"\r\n")[:-1] if data else []
    for line in lines:
        if b"\n" in line or b"\r" in line:
            raise AssertionError(f"{LOG_FILE} holds a bare line break: {line!r}")
    return [line.decode("cp1252", errors="replace") for line in lines]


def strip_log_prefix(line):
    match = LOG_PREFIX.match(line)
    if not match:
        raise AssertionError(f"log line without its timestamp prefix: {line!r}")
    return line[match.end():]


def read_bmp(path):
    """Reads a 24- or 32-bit uncompressed BMP; returns (width, height, pixel(x, y) -> (r, g, b))."""
    data = Path(path).read_bytes()
    if data[:2] != b"BM":
        raise ValueError(f"{path} is not a BMP file")
    offset, = struct.unpack_from("<I", data, 10)
    _, width, height, _, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if bits not in (24, 32) or compression not in (0, 3):
        raise ValueError(f"{path}: {bits} bits per pixel, compression {compression} not supported")
    bottom_up = height > 0
    height = abs(height)
    step = bits // 8
    row_size = (width * step + 3) & ~3

    def pixel(x, y):
        row = height - 1 - y if bottom_up else y
        at = offset + row * row_size + x * step
        b, g, r = data[at:at + 3]
        return (r, g, b)

    return width, height, pixel


# ---- Update servers ------------------------------------------------------------------------------------------------

def sha1_of(path):
    digest = hashlib.sha1()
    with open(path, "rb") as source:
        for block in iter(lambda: source.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def game_files(folder):
    """Relative "/"-separated paths of the files under folder, in a stable order, the manifest excluded."""
    folder = Path(folder)
    paths = [p.relative_to(folder).as_posix() for p in folder.rglob("*") if p.is_file()]
    return sorted(p for p in paths if p != "update.cfg")


def write_manifest(folder, entries=None):
    """Writes folder/update.cfg: "path sha1\\n" per file. entries: (path, digest) pairs to write instead, for
    manifests that do not match the folder."""
    folder = Path(folder)
    if entries is None:
        entries = [(path, sha1_of(folder / path)) for path in game_files(folder)]
    (folder / "update.cfg").write_bytes("".join(f"{path} {digest}\n" for path, digest in entries).encode())
    return entries


def publisher_tool():
    native = env_path("LAUNCHER_NATIVE_BIN_DIR", required=False)
    return native / "publish_manifest" if native else None


def run_publisher_tool(*args):
    result = subprocess.run([str(publisher_tool()), *[str(a) for a in args]], stdin=subprocess.DEVNULL,
                            capture_output=True, text=True, timeout=300)
    if result.returncode != 0:
        raise RuntimeError(f"publish_manifest failed: {result.stdout}{result.stderr}")
    return result.stdout


def publish(folder, *options):
    """Publishes a game folder with the publisher tool when it is built, else with the same format written here.
    options (such as "--sign", KEY) go to the tool, which must then exist."""
    tool = publisher_tool()
    if options or (tool and tool.exists()):
        run_publisher_tool(folder, *options)
        return
    write_manifest(folder)


class ServerProcess:
    """An HTTP server started as a command (nginx, tests/e2e/fault_server.py) that listens on the test host's
    port; it owns the process and stops it."""

    def __init__(self, argv, work_dir, port=None, output_name="server.out", host=None):
        default_host, default_port = test_host()
        self.host, self.port = host or default_host, port or default_port
        if not port_is_free(self.host, self.port):
            raise RuntimeError(f"{self.host}:{self.port} is already in use")
        Path(work_dir).mkdir(parents=True, exist_ok=True)
        self.log_file = open(Path(work_dir) / output_name, "wb")
        self.process = subprocess.Popen([str(a) for a in argv], stdin=subprocess.DEVNULL, stdout=self.log_file,
                                        stderr=subprocess.STDOUT, preexec_fn=_die_with_parent)
        _track(self)
        try:
            wait_for_port(self.host, self.port, process=self.process)
        except Exception:
            self.stop()
            raise

    def stop(self):
        _end_process(self.process)
        self.log_file.close()
        _untrack(self)


class Nginx(ServerProcess):
    """Debian's nginx on 127.0.0.1:port with a configuration of the test's own, serving root under /Quorvane/."""

    def __init__(self, root, work_dir, port=None, host=None):
        default_host, default_port = test_host()
        self.host, self.port = host or default_host, port or default_port
        self.work_dir = Path(work_dir)
        self.work_dir.mkdir(parents=True, exist_ok=True)
        for sub in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"):
            (self.work_dir / sub).mkdir(exist_ok=True)
        self.access_log = self.work_dir / "access.log"
        self.error_log = self.work_dir / "error.log"
        config = self.work_dir / "nginx.conf"
        w = self.work_dir
        # One process (no master, no user switch), in the foreground so the harness owns its process id.
        config.write_text(f"""daemon off;
master_process off;
worker_processes 1;
pid {w}/nginx.pid;
error_log {self.error_log} info;
events {{ worker_connections 256; }}
http {{
    log_format ranged '$remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent "$http_range" '
                      '"$http_user_agent"';
    access_log {self.access_log} ranged;
    client_body_temp_path {w}/client_body;
    proxy_temp_path {w}/proxy;
    fastcgi_temp_path {w}/fastcgi;
    uwsgi_temp_path {w}/uwsgi;
    scgi_temp_path {w}/scgi;
    default_type application/octet-stream;
    sendfile on;
    keepalive_timeout 30;
    include {w}/server.conf;
}}
""")
        # The server block publishers are given, pointed at this server's port and folder.
        block = (REPO / "tools" / "nginx-update-server.conf").read_text()
        block = block.replace("127.0.0.1:8460", f"{self.host}:{self.port}")
        block = block.replace("/srv/quorvane/game/", f"{Path(root).resolve()}/")
        (self.work_dir / "server.conf").write_text(block)
        super().__init__(["/usr/sbin/nginx", "-p", self.work_dir, "-c", config], self.work_dir, self.port,
                         "nginx.out", self.host)

    def requests(self):
        """(method, path, status) of every request so far."""
        if not self.access_log.exists():
            return []
        found = []
        for line in self.access_log.read_text(errors="replace").splitlines():
            match = re.search(r'"(\w+) (\S+) [^"]*" (\d{3})', line)
            if match:
                found.append((match.group(1), match.group(2), int(match.group(3))))
        return found

    def ranges(self, path):
        """The Range header ("-" when none) of every request for path (as in the request line), in order."""
        text = self.access_log.read_text(errors="replace") if self.access_log.exists() else ""
        return re.findall(r'"\w+ ' + re.escape(path) + r' [^"]*" \d{3} \d+ "([^"]*)"', text)


class CachingEdge(ServerProcess):
    """Debian's Varnish on the test host's port in front of a backend on 127.0.0.1:backend_port, with its
    built-in rules: what the backend lets be cached (game files, for a day) is served from its cache. keep_for_a_day:
    paths (regular expressions of the URL) the edge caches for a day whatever the backend advises, as a
    misconfigured CDN does."""

    def __init__(self, backend_port, work_dir, keep_for_a_day=()):
        host, port = test_host()
        work_dir = Path(work_dir)
        work_dir.mkdir(parents=True, exist_ok=True)
        backend = ["-b", f"127.0.0.1:{backend_port}"]
        if keep_for_a_day:
            rules = "".join(f'    if (bereq.url ~ "{pattern}") {{\n        set beresp.ttl = 1d;\n'
                            "        set beresp.uncacheable = false;\n        return (deliver);\n    }\n"
                            for pattern in keep_for_a_day)
            vcl = work_dir / "edge.vcl"
            vcl.write_text(f'vcl 4.1;\nbackend default {{ .host = "127.0.0.1"; .port = "{backend_port}"; }}\n'
                           f"sub vcl_backend_response {{\n{rules}}}\n")
            backend = ["-f", vcl]
        # In the foreground, without a jail (no user switch), so the harness owns the process.
        super().__init__(["/usr/sbin/varnishd", "-F", "-j", "none", "-a", f"{host}:{port}", *backend,
                          "-n", work_dir / "state", "-s", "malloc,64m"],
                         work_dir, port, "varnish.out")


class Tinyproxy(ServerProcess):
    """Debian's tinyproxy on the test host and the given port, in the foreground; with user set it asks every client
    for that user's password (407)."""

    def __init__(self, work_dir, port, user=None):
        host, _ = test_host()
        work_dir = Path(work_dir)
        work_dir.mkdir(parents=True, exist_ok=True)
        self.log = work_dir / "tinyproxy.log"
        config = work_dir / "tinyproxy.conf"
        lines = [f"Port {port}", f"Listen {host}", f"Allow {host}", f"LogFile \"{self.log}\"", "LogLevel Info",
                 "MaxClients 32", "Timeout 60"]
        if user:
            lines.append(f"BasicAuth {user} secret")
        config.write_text("\n".join(lines) + "\n")
        super().__init__(["/usr/bin/tinyproxy", "-d", "-c", config], work_dir, port, "tinyproxy.out")

    def requests(self):
        """The request lines the proxy passed on ("GET http://..."), in order."""
        text = self.log.read_text(errors="replace") if self.log.exists() else ""
        return re.findall(r"Request \(file descriptor \d+\): (\S+ \S+)", text)


class FaultServer(ServerProcess):
    """tests/e2e/fault_server.py on the test host's port, serving root, with "PATH=KIND" faults (see that file).
    The rules can be changed while it runs: set_rules() replaces them, release() lets every held response go."""

    def __init__(self, root, work_dir, *faults, host=None):
        work_dir = Path(work_dir)
        work_dir.mkdir(parents=True, exist_ok=True)
        self.requests_file = work_dir / "requests.log"
        self.control = work_dir / "rules.txt"
        self.set_rules(*faults)
        argv = [sys.executable, str(FAULT_SERVER), "--root", root, "--port", test_host()[1], "--log", self.requests_file,
                "--control", self.control, "--host", host or test_host()[0]]
        super().__init__([str(a) for a in argv], work_dir, output_name="fault_server.out", host=host)

    def set_rules(self, *faults):
        self.faults = list(faults)
        text = "".join(fault.replace("=", " ", 1) + "\n" for fault in faults) or "# no faults\n"
        temporary = self.control.with_suffix(".tmp")
        temporary.write_text(text)
        os.replace(temporary, self.control)

    def release(self):
        self.set_rules(*[fault for fault in self.faults if not fault.split("=", 1)[1].startswith("hold")])

    def log_lines(self):
        return self.requests_file.read_text().splitlines() if self.requests_file.exists() else []

    def requests(self):
        """(path relative to /Quorvane/, status text) of every answered request, in order."""
        found = []
        for line in self.log_lines():
            method, path, status = (line.split(" ") + ["", ""])[:3]
            if method in ("GET", "HEAD"):
                found.append((path.removeprefix("/Quorvane/"), status))
        return found

    def requested(self):
        return [path for path, _ in self.requests()]

    def held_now(self):
        """How many responses are held back at this moment."""
        lines = self.log_lines()
        return sum(line.startswith("HOLD ") for line in lines) - sum(line.startswith("RELEASE ") for line in lines)

    def wait_held(self, path, timeout=90):
        """Waits until a request of path is being held."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if f"HOLD /Quorvane/{path}" in self.log_lines():
                return
            time.sleep(0.05)
        raise AssertionError(f"the launcher never asked for {path}")


# ---- Test case base --------------------------------------------------------------------------------------------

class LauncherTestCase(unittest.TestCase):
    """Per test file: one Xvfb. Per test: a fresh folder under LAUNCHER_WORK_DIR holding a game folder, a private
    Wine prefix and every output file."""

    display = None

    @classmethod
    def setUpClass(cls):
        cls.bin_dir = env_path("LAUNCHER_BIN_DIR")
        cls.work_root = env_path("LAUNCHER_WORK_DIR") / Path(sys.argv[0]).stem
        cls.work_root.mkdir(parents=True, exist_ok=True)
        xvfb = Xvfb(cls.work_root / "xvfb.log")
        cls.addClassCleanup(xvfb.stop)
        cls.display = xvfb.display

    def setUp(self):
        self.work = self.work_root / self._testMethodName
        if self.work.exists():
            shutil.rmtree(self.work)
        self.game_dir = self.work / "game"
        self.out_dir = self.work / "out"
        self.game_dir.mkdir(parents=True)
        self.out_dir.mkdir()
        self.launcher_runs = []
        self.prefix = WinePrefix(self.work / "prefix", self.display)
        self.addCleanup(self.prefix.remove)
        self.addCleanup(self.prefix.stop)
        self.driver = Driver(self.prefix, self.bin_dir, self.out_dir)
        self.install_launcher()

    def install_launcher(self, folder=None):
        shutil.copy2(self.bin_dir / "Launcher.exe", Path(folder or self.game_dir) / "Launcher.exe")

    def start_launcher(self, wait_visible=True, timeout=60):
        """Starts Launcher.exe in the game folder; by default waits until its window is visible."""
        run = LauncherRun(self.prefix, self.game_dir, self.out_dir, index=len(self.launcher_runs))
        self.launcher_runs.append(run)
        self.addCleanup(run.kill)
        if wait_visible:
            self.driver.one("wait", timeout=timeout)
        return run

    def close_launcher(self, run, timeout=30):
        """Closes the window as a player would and returns the exit code."""
        self.driver.one("close")
        return run.wait_exit(timeout)

    # Another build's tests may be serving the test port, and the launcher under test always asks that
    # port, so each server waits until it is free.
    # host and port: another loopback address, or the next port, for a second update host.
    def serve_nginx(self, root, host=None, port=None):
        wait_port_free(host, port)
        server = Nginx(root, self.work / f"nginx-{host or ''}{port or ''}".rstrip("-"), port, host)
        self.addCleanup(server.stop)
        return server

    def serve_through_cache(self, root, keep_for_a_day=()):
        """Serves root with nginx on the next port, behind a caching edge on the test port; returns the nginx."""
        wait_port_free()
        host, port = test_host()
        server = Nginx(root, self.work / "nginx", port=port + 1)
        self.addCleanup(server.stop)
        edge = CachingEdge(port + 1, self.work / "edge", keep_for_a_day)
        self.addCleanup(edge.stop)
        return server

    def serve_faults(self, root, *faults, host=None):
        """Serves root with tests/e2e/fault_server.py and the given "PATH=KIND" faults (on host, when given)."""
        wait_port_free(host)
        server = FaultServer(root, self.work / f"server-{host or ''}".rstrip("-"), *faults, host=host)
        self.addCleanup(server.stop)
        return server

    def log_lines(self):
        return read_log_lines(self.game_dir)

    def small_game_volume(self, megabytes):
        """Puts the game folder on a tmpfs of that size, as a player's nearly full disk; skips where this machine
        cannot mount one."""
        try:
            subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={megabytes}m", "tmpfs", str(self.game_dir)],
                           check=True, capture_output=True, timeout=30)
        except (OSError, subprocess.SubprocessError) as error:
            self.skipTest(f"no tmpfs can be mounted here: {error}")
        self.addCleanup(subprocess.run, ["umount", "-l", str(self.game_dir)], capture_output=True, timeout=30)
        self.install_launcher()


def main():
    """Runs the test file's tests, prints a summary and exits non-zero on any failure."""
    program = unittest.main(exit=False, verbosity=2)
    result = program.result
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    print(f"\n{Path(sys.argv[0]).name}: {result.testsRun} run, {failed} failed, {len(result.skipped)} skipped",
          flush=True)
    _stop_all()
    sys.exit(1 if failed or result.testsRun == 0 else 0)


# ---- Sharing the fixed port with other test runs ----------------------------------------------------------------

def wait_port_free(host=None, port=None, timeout=300):
    """Waits until nothing listens on the test host's port (another build's tests may be serving it, and the
    launcher under test always asks that port); raises after timeout seconds."""
    default_host, default_port = test_host()
    host, port = host or default_host, port or default_port
    deadline = time.monotonic() + timeout
    announced = False
    while not port_is_free(host, port):
        if time.monotonic() > deadline:
            raise RuntimeError(f"{host}:{port} is still in use after {timeout} s")
        if not announced:
            log(f"{host}:{port} is in use; waiting for it to be free")
            announced = True
        time.sleep(0.5)


class PortBlocker:
    """Holds the test host's port bound but not listening: connections are refused at once, as from a server
    that is down. The socket does not allow address reuse, so no other server can take the port meanwhile,
    unless closed connections of an earlier server still linger on it (TIME_WAIT): a socket without reuse cannot
    be bound then, and one with reuse is taken instead."""

    def __init__(self, host=None, port=None, timeout=300):
        default_host, default_port = test_host()
        self.host, self.port = host or default_host, port or default_port
        wait_port_free(self.host, self.port, timeout)
        for reuse in (0, 1):
            self.socket = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, reuse)
            try:
                self.socket.bind((self.host, self.port))
                break
            except OSError:
                self.socket.close()
                if reuse:
                    raise
        _track(self)

    def stop(self):
        self.socket.close()
        _untrack(self)
