#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Screenshots of the phone page at phone (360 and 412 px) and tablet (820 px) widths in both
languages.

    screenshots.py OUTDIR --q7ctl build/default/src/cli/q7ctl   (starts q7ctl --simulator serve)
    screenshots.py OUTDIR --url http://127.0.0.1:8470/          (a server already running)
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser_rig as rig  # noqa: E402

from selenium.webdriver.common.by import By  # noqa: E402

SIZES = {"phone": (360, 780), "phone412": (412, 915), "tablet": (820, 1180)}
LANGS = {"en": "en-US", "zh": "zh-CN"}


def shoot(browser, url, path, login_path=None):
    d = browser.driver
    d.get(url)
    rig.wait_for("the login or the controls", lambda: d.find_elements(By.CSS_SELECTOR, "#login:not([hidden]), #app:not([hidden])"))
    if d.find_elements(By.CSS_SELECTOR, "#login:not([hidden])"):
        if login_path:
            d.save_screenshot(login_path)
        d.find_element(By.ID, "guest-button").click()
    rig.wait_for("the sliders", lambda: d.find_elements(By.CSS_SELECTOR, "#sliders [role=slider]"))
    rig.wait_for("the connection", lambda: "up" in d.find_element(By.ID, "status-dot").get_attribute("class"))
    rig.wait_for("the meters", lambda: d.find_elements(By.CSS_SELECTOR, ".meter"))
    # The whole page in one picture.
    height = d.execute_script("return document.documentElement.scrollHeight")
    width = d.execute_script("return window.innerWidth")
    d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": max(height, 600), "deviceScaleFactor": 2 if width < 600 else 1,
        "mobile": width < 600})
    d.save_screenshot(path)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("outdir")
    ap.add_argument("--q7ctl")
    ap.add_argument("--url")
    args = ap.parse_args()
    if not rig.find_chromium() or not rig.find_chromedriver():
        print("screenshots: chromium and chromedriver are needed", file=sys.stderr)
        return 1
    os.makedirs(args.outdir, exist_ok=True)
    server = None
    url = args.url
    if not url:
        if not args.q7ctl:
            ap.error("give --q7ctl or --url")
        server = rig.Server(args.q7ctl)
        url = server.url
    try:
        for lang, accept in LANGS.items():
            for size, (w, h) in SIZES.items():
                b = rig.Browser(w, h, accept)
                try:
                    name = os.path.join(args.outdir, "remote-%s-%s.png" % (size, lang))
                    login = os.path.join(args.outdir, "remote-login-%s-%s.png" % (size, lang))
                    shoot(b, url, name, login)
                    print(name)
                finally:
                    b.quit()
    finally:
        if server:
            server.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
