#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The phone page in a real browser: headless Chromium through its WebDriver against
`q7ctl --simulator serve`. A guest moves the mic volume by touch, the amplifier receives it and a
second phone shows it; what guests may not touch is neither offered nor accepted; the owner may.

    remote_page_test.py --q7ctl build/default/src/cli/q7ctl

Exits 77 (skipped) only when Chromium or its driver is not installed, and then not when
Q7_REQUIRE_BROWSER is set (.ci/run sets it)."""

import argparse
import os
import re
import sys
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser_rig as rig  # noqa: E402


def log(msg):
    print("browser: " + msg, flush=True)


class Phone:
    """One browser on the page, driven as a person would."""

    def __init__(self, server, width, lang):
        from selenium.webdriver.common.by import By
        self.By = By
        self.browser = rig.Browser(width, 800, lang)
        self.d = self.browser.driver
        self.d.get(server.url)
        rig.wait_for("the page", lambda: self.d.find_elements(
            By.CSS_SELECTOR, "#login:not([hidden]), #app:not([hidden])"))

    def quit(self):
        self.browser.quit()

    def visible(self, selector):
        return [e for e in self.d.find_elements(self.By.CSS_SELECTOR, selector) if e.is_displayed()]

    def as_guest(self):
        self.wait_login()
        self.visible("#guest-button")[0].click()
        self.wait_connected()

    def wait_login(self):
        rig.wait_for("the login form", lambda: self.visible("#pin"))

    def type_pin(self, pin):
        field = self.visible("#pin")[0]
        field.clear()
        field.send_keys(pin)
        self.visible("#login-button")[0].click()

    def wait_connected(self):
        rig.wait_for("the controls", lambda: self.visible("#app"))
        rig.wait_for("the live connection",
                     lambda: "up" in self.d.find_element(self.By.ID, "status-dot").get_attribute("class"))

    def header_problems(self, texts=()):
        """What is wrong with the top bar: a part cut short, outside the screen or over another.
        texts: statuses to try besides the one shown (the longest the page can say)."""
        return self.d.execute_script("""
            const bar = document.querySelector('.bar');
            const status = document.getElementById('status-text');
            const shown = status.textContent;
            const problems = [];
            const check = () => {
              const parts = [...bar.children].filter(e => e.offsetParent !== null);
              const boxes = parts.map(e => [e.className, e.getBoundingClientRect()]);
              for (const [name, r] of boxes)
                if (r.left < 0 || r.right > window.innerWidth + 0.5)
                  problems.push(name + ' leaves the screen');
              for (let i = 0; i < boxes.length; ++i)
                for (let j = i + 1; j < boxes.length; ++j) {
                  const [a, p] = boxes[i], [b, q] = boxes[j];
                  if (p.left < q.right - 0.5 && q.left < p.right - 0.5 &&
                      p.top < q.bottom - 0.5 && q.top < p.bottom - 0.5)
                    problems.push(a + ' overlaps ' + b);
                }
              for (const e of [status, document.getElementById('title')])
                if (e.offsetParent === null || e.scrollWidth > e.clientWidth + 0.5)
                  problems.push('"' + e.textContent + '" is cut short');
            };
            check();
            for (const t of arguments[0]) { status.textContent = t; check(); }
            status.textContent = shown;
            return problems;""", list(texts))

    def slider(self, label):
        """The slider whose accessible name is label, as assistive technology finds it."""
        found = [e for e in self.visible("[role=slider]") if e.accessible_name == label]
        return found[0] if len(found) == 1 else None

    def value_of(self, label):
        s = self.slider(label)
        return None if s is None else float(s.get_attribute("aria-valuenow"))

    def drag(self, slider, fraction):
        """A finger down on the thumb, moved in steps to fraction of the track, then lifted."""
        from selenium.webdriver.common.actions import interaction
        from selenium.webdriver.common.actions.action_builder import ActionBuilder
        from selenium.webdriver.common.actions.pointer_input import PointerInput

        self.d.execute_script("arguments[0].scrollIntoView({block: 'center'})", slider)
        geo = self.d.execute_script(
            "const s = arguments[0].getBoundingClientRect();"
            "const t = arguments[0].querySelector('.track').getBoundingClientRect();"
            "const th = arguments[0].querySelector('.thumb').getBoundingClientRect();"
            "return [s.left + s.width / 2, t.left, t.width, th.left + th.width / 2];", slider)
        centre, left, width, thumb = geo
        target = left + fraction * width
        finger = PointerInput(interaction.POINTER_TOUCH, "finger")
        actions = ActionBuilder(self.d, mouse=finger, duration=40)
        actions.pointer_action.move_to(slider, int(thumb - centre), 0).pointer_down()
        for i in range(1, 9):
            x = thumb + (target - thumb) * i / 8
            actions.pointer_action.move_to(slider, int(round(x - centre)), 0)
        actions.pointer_action.pointer_up()
        actions.perform()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--q7ctl", required=True)
    args = ap.parse_args()

    if not rig.find_chromium() or not rig.find_chromedriver():
        if os.environ.get("Q7_REQUIRE_BROWSER"):
            print("FAILED: chromium and chromium-driver are required here (Q7_REQUIRE_BROWSER is set); "
                  "tools/bootstrap.sh installs them")
            return 1
        print("SKIPPED: the browser test needs chromium and chromium-driver "
              "(tools/bootstrap.sh installs them)")
        return rig.SKIP
    try:
        import selenium  # noqa: F401
    except ImportError:
        print("FAILED: chromium is installed but python3-selenium is not "
              "(tools/bootstrap.sh installs it; run the test with Debian's /usr/bin/python3)")
        return 1

    server = rig.Server(args.q7ctl, owner_pin="2468", guest_open=True)
    phones = []
    try:
        owner = server.login("2468")
        guest = server.login("")
        _, who = server.request("GET", "whoami", token=owner)
        labels = {p["name"]: p for p in who["params"]}
        mic_en = labels["mic.volume"]["label_en"]
        mic_zh = labels["mic.volume"]["label_zh"]
        _, guest_who = server.request("GET", "whoami", token=guest)
        guest_names = {p["name"] for p in guest_who["params"]}
        assert "mic.volume" in guest_names, guest_names
        # A volume the owner may change and guests may not.
        locked = next(n for n in ("effect.volume", "echo.volume", "reverb.volume")
                      if n in labels and n not in guest_names)
        locked_en = labels[locked]["label_en"]

        log("two phones log in as guests, one in English, one in Chinese")
        a = Phone(server, 360, "en-US")
        phones.append(a)
        b = Phone(server, 412, "zh-CN")
        phones.append(b)
        a.as_guest()
        b.as_guest()
        rig.wait_for("the English mic slider", lambda: a.slider(mic_en))
        rig.wait_for("the Chinese mic slider", lambda: b.slider(mic_zh))

        log("the top bar fits a phone's width whole, the longest status too")
        assert a.header_problems(["Reconnecting…", "No amplifier"]) == [], a.header_problems()
        assert b.header_problems(["正在重新连接…", "未连接功放"]) == [], b.header_problems()

        start = rig.wait_for("the page showing the amplifier's value", lambda: a.value_of(mic_en) is not None
                             and a.value_of(mic_en))
        writes_before = len(server.trace_writes())

        log("the mic volume dragged by touch to a quarter of its track")
        slider = a.slider(mic_en)
        lo = float(slider.get_attribute("aria-valuemin"))
        hi = float(slider.get_attribute("aria-valuemax"))
        a.drag(slider, 0.25)
        want = lo + 0.25 * (hi - lo)
        moved = rig.wait_for("the slider to settle", lambda: abs(a.value_of(mic_en) - want) <= (hi - lo) / 25
                             and a.value_of(mic_en))
        assert moved != start, "the drag did not move the slider (still %s)" % start

        log("the amplifier got %g" % moved)
        rig.wait_for("the server's value", lambda: _value(
            server.request("GET", "params/mic.volume", token=guest)[1]) == moved)
        expected = rig.expected_writes(args.q7ctl, "mic.volume", _fmt(moved))
        rig.wait_for("the report on the trace",
                     lambda: rig.amplifier_got(server.trace_writes()[writes_before:], expected))

        log("the second phone shows it")
        rig.wait_for("the value on the second phone", lambda: b.value_of(mic_zh) == moved)

        log("the second phone switches to English and keeps the value")
        b.visible("#lang")[0].click()
        rig.wait_for("the English name on the second phone", lambda: b.value_of(mic_en) == moved)
        assert b.header_problems(["Reconnecting…"]) == [], b.header_problems(["Reconnecting…"])
        a.visible("#lang")[0].click()
        rig.wait_for("the Chinese name on the first phone", lambda: a.slider(mic_zh))
        assert a.header_problems(["正在重新连接…"]) == [], a.header_problems(["正在重新连接…"])
        a.visible("#lang")[0].click()
        rig.wait_for("the English name again", lambda: a.slider(mic_en))
        b.visible("#lang")[0].click()
        rig.wait_for("the Chinese name again", lambda: b.slider(mic_zh))

        log("a guest is offered no control for %s and the API refuses it" % locked)
        assert a.slider(locked_en) is None
        assert not a.visible("[data-param='%s']" % locked)
        writes_before = len(server.trace_writes())
        code, body = server.request("PUT", "params/" + locked, {"value": 1}, token=guest)
        assert code == 403, (code, body)
        # The level poll writes on; nothing may go where the refused value would have gone.
        places = {w[:17] for w in rig.expected_writes(args.q7ctl, locked, 1)}
        got = [w for w in server.trace_writes()[writes_before:] if w[:17] in places]
        assert got == [], "a refused edit reached the amplifier: %r" % got

        log("a wrong PIN is refused on the page")
        a.visible("#logout")[0].click()
        a.wait_login()
        a.type_pin("0000")
        rig.wait_for("the wrong-PIN message", lambda: a.visible("#login-error")
                     and a.visible("#login-error")[0].text.strip() == "Wrong PIN.")

        log("the owner moves %s" % locked)
        a.type_pin("2468")
        a.wait_connected()
        owner_slider = rig.wait_for("the owner's slider", lambda: a.slider(locked_en))
        old = a.value_of(locked_en)
        lo = float(owner_slider.get_attribute("aria-valuemin"))
        hi = float(owner_slider.get_attribute("aria-valuemax"))
        fraction = 0.75 if (old - lo) / (hi - lo) < 0.5 else 0.2
        writes_before = len(server.trace_writes())
        a.drag(owner_slider, fraction)
        want = lo + fraction * (hi - lo)
        value = rig.wait_for("the owner's slider to move", lambda: abs(a.value_of(locked_en) - want)
                             <= (hi - lo) / 25 and a.value_of(locked_en))
        assert value != old
        rig.wait_for("the server's value", lambda: _value(
            server.request("GET", "params/" + locked, token=owner)[1]) == value)
        expected = rig.expected_writes(args.q7ctl, locked, _fmt(value))
        rig.wait_for("the owner's report on the trace",
                     lambda: rig.amplifier_got(server.trace_writes()[writes_before:], expected))
        assert b.slider(labels[locked]["label_zh"]) is None, "the guest's phone offers the owner's control"

        log("the host restarts: the guest's phone comes back by itself and follows again")
        server.restart()
        b.wait_connected()
        owner = server.login("2468")
        _, now = server.request("GET", "params/mic.volume", token=owner)
        other = 10 if _value(now) != 10 else 20
        code, body = server.request("PUT", "params/mic.volume", {"value": other}, token=owner)
        assert code == 200, (code, body)
        rig.wait_for("the value on the phone after the restart", lambda: b.value_of(mic_zh) == other)

        log("the owner's phone asks for the PIN again after the restart")
        a.wait_login()
        rig.wait_for("the session-ended message", lambda: a.visible("#login-error")
                     and a.visible("#login-error")[0].text.startswith("Your session has ended"))

        log("wrong PINs again and again: the page says how long to wait")

        def refused_for_now():
            text = a.visible("#login-error")[0].text if a.visible("#login-error") else ""
            if re.fullmatch(r"Too many attempts\. Try again in \d+ s\.", text):
                return text
            a.type_pin("0000")  # each try waits for the page's answer before the next
            rig.wait_for("an answer", lambda: a.visible("#login-error")
                         and not a.d.find_element(a.By.ID, "login-button").get_attribute("disabled"))
            return None
        rig.wait_for("the rate-limit message", refused_for_now, timeout=60)
        # Phones came and went, sockets were refused: nothing of that is Qt's complaint in the log.
        noise = [line for line in server.output().splitlines() if "QIODevice" in line or "QAbstractSocket" in line]
        assert noise == [], noise
        log("passed")
        return 0
    except Exception:
        traceback.print_exc()
        print("---- q7ctl serve said:\n" + server.output())
        for i, p in enumerate(phones):
            try:
                for entry in p.d.get_log("browser"):
                    print("browser %d console: %s" % (i, entry.get("message")))
            except Exception:
                pass
        return 1
    finally:
        for p in phones:
            p.quit()
        server.close()


def _value(body):
    """A parameter's value from GET /params/NAME, whichever of its documented shapes."""
    if isinstance(body, dict):
        if "value" in body:
            return body["value"]
        if len(body) == 1:
            return next(iter(body.values()))
    return body


def _fmt(v):
    return str(int(v)) if float(v).is_integer() else repr(v)


if __name__ == "__main__":
    sys.exit(main())
