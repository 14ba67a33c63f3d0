# SPDX-License-Identifier: GPL-3.0-or-later
"""What the browser tests and the screenshot script share: a headless Chromium through its
WebDriver, and `q7ctl --simulator serve` on a free port."""

import json
import os
import re
import shutil
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

SKIP = 77  # ctest's SKIP_RETURN_CODE

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-dev-shm-usage",
]


def find_chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def find_chromedriver():
    return shutil.which("chromedriver") or (
        "/usr/bin/chromedriver" if os.path.exists("/usr/bin/chromedriver") else None)


def wait_for(what, condition, timeout=20.0, poll=0.02):
    """Polls until condition() is truthy; the timeout only bounds a failure."""
    deadline = time.monotonic() + timeout
    last = None
    while time.monotonic() < deadline:
        try:
            last = condition()
        except Exception as e:  # the page may be between states
            last = e
        if last and not isinstance(last, Exception):
            return last
        time.sleep(poll)
    raise AssertionError("timed out waiting for %s (last: %r)" % (what, last))


class Browser:
    """One headless Chromium with its own profile, language and window size."""

    def __init__(self, width=412, height=915, lang="en-US"):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service

        self.profile = tempfile.mkdtemp(prefix="q7-browser-")
        options = webdriver.ChromeOptions()
        options.binary_location = find_chromium()
        for flag in CHROMIUM_FLAGS:
            options.add_argument(flag)
        options.add_argument("--user-data-dir=" + self.profile)
        options.add_argument("--window-size=%d,%d" % (width, height))
        options.add_argument("--lang=" + lang)
        options.add_experimental_option("prefs", {"intl.accept_languages": lang})
        service = Service(executable_path=find_chromedriver())
        self.driver = webdriver.Chrome(service=service, options=options)
        # The page's own viewport as a phone has it, whatever the window's frame takes.
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 2 if width < 600 else 1,
            "mobile": width < 600})
        self.driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled",
                                    {"enabled": True, "maxTouchPoints": 5})

    def quit(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)


class Server:
    """`q7ctl --simulator --trace FILE serve` on a free loopback port."""

    def __init__(self, q7ctl, owner_pin="2468", guest_open=True, guest_pin=None, config=None):
        self.workdir = tempfile.mkdtemp(prefix="q7-serve-")
        self.trace = os.path.join(self.workdir, "trace.txt")
        # Appending: the child writes at the end wherever our reads leave the shared offset.
        self.log = open(os.path.join(self.workdir, "serve.log"), "a+")
        self.owner_pin = owner_pin
        self.q7ctl = q7ctl
        args_tail = ["--owner-pin", owner_pin]
        if guest_open:
            args_tail.append("--guest-open")
        elif guest_pin:
            args_tail += ["--guest-pin", guest_pin]
        if config:
            path = os.path.join(self.workdir, "remote.json")
            with open(path, "w") as f:
                json.dump(config, f)
            os.chmod(path, 0o600)
            args_tail += ["--config", path]
        self.args_tail = args_tail
        # Any free port: serve prints the address it took.
        self.port = 0
        if not self._start():
            raise AssertionError("q7ctl serve did not start:\n" + self.output())

    def _start(self):
        self.log.seek(0)
        self.log.truncate()
        self.proc = subprocess.Popen(
            [self.q7ctl, "--simulator", "--trace", self.trace, "serve", "--listen",
             "127.0.0.1:%d" % self.port] + self.args_tail,
            stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        if self._wait_ready():
            return True
        self.stop()
        return False

    def restart(self):
        """The host goes away and comes back on the same port, its sessions gone."""
        self.stop()
        if not self._start():
            raise AssertionError("q7ctl serve did not come back:\n" + self.output())

    def _wait_ready(self):
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                return False
            said = re.search(r"serving http://[^\s/]*:(\d+)/", self.output())
            if said:
                self.port = int(said.group(1))
                try:
                    code, status = self.request("GET", "status", token=self.login(self.owner_pin))
                    if code == 200 and status.get("connected"):
                        return True
                except (AssertionError, OSError, ValueError):
                    pass
            time.sleep(0.05)
        return False

    @property
    def url(self):
        return "http://127.0.0.1:%d/" % self.port

    def request(self, method, path, body=None, token=None):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request(self.url + "api/v1/" + path, data=data, method=method)
        if data is not None:
            req.add_header("Content-Type", "application/json")
        if token:
            req.add_header("Authorization", "Bearer " + token)
        try:
            with urllib.request.urlopen(req, timeout=10) as r:
                text = r.read().decode()
                return r.status, (json.loads(text) if text else None)
        except urllib.error.HTTPError as e:
            text = e.read().decode()
            try:
                return e.code, json.loads(text)
            except ValueError:
                return e.code, text

    def login(self, pin):
        code, body = self.request("POST", "login", {"pin": pin})
        assert code == 200, "login failed: %s %r" % (code, body)
        return body["token"]

    def trace_writes(self):
        """The reports written to the amplifier so far, as hex strings."""
        try:
            with open(self.trace) as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        return [l.split(" ", 2)[2] for l in lines if l.count(" ") >= 2 and l.split(" ")[1] == ">"]

    def output(self):
        self.log.flush()
        self.log.seek(0)
        return self.log.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def close(self):
        self.stop()
        self.log.close()
        shutil.rmtree(self.workdir, ignore_errors=True)


def expected_writes(q7ctl, name, value):
    """The reports `q7ctl set` writes for one value: what the amplifier must receive, made by the
    command line's own path rather than restated here."""
    with tempfile.TemporaryDirectory(prefix="q7-ref-") as d:
        def writes(args, trace):
            subprocess.run([q7ctl, "--simulator", "--trace", trace] + args, check=True,
                           stdout=subprocess.DEVNULL)
            with open(trace) as f:
                return [l.split(" ", 2)[2] for l in f.read().splitlines()
                        if l.count(" ") >= 2 and l.split(" ")[1] == ">"]
        base = writes(["get", name], os.path.join(d, "get.txt"))
        setting = writes(["set", "%s=%s" % (name, value)], os.path.join(d, "set.txt"))
        extra = [w for w in setting if w not in base]
        assert extra, "q7ctl set %s %s wrote nothing new" % (name, value)
        return extra


def amplifier_got(writes, expected):
    """Every expected report is among writes, and it is the last report written to the same place
    (its first six bytes): no older value of the drag arrived after the final one."""
    for report in expected:
        place = report[:17]
        last = [w for w in writes if w.startswith(place)]
        if not last or last[-1] != report:
            return False
    return True
