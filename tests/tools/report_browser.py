"""Loads report pages in headless Chromium through its DevTools protocol,
with scripts on and with scripts off, and checks each: no console error,
no request but for the file itself, the expected texts in the DOM, and a
1280 x 900 screenshot that is not blank with ink in its charts.

    report_browser.py PAGE.html TEXT [TEXT...] [-- PAGE.html TEXT...]

Exit 0 when every page passes, 1 with a line per fault, 77 when Chromium
cannot start here (the stage skips with that reason)."""

import base64
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request
from html import unescape

import websocket
from PIL import Image

SKIP = 77
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-extensions",
         "--disable-default-apps", "--remote-debugging-port=0", "--window-size=1280,900", "about:blank"]


class Browser:
    """A Chromium of its own profile, and one page driven over a websocket."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="vorlax-report-chromium-")
        self.process = subprocess.Popen(["chromium", "--user-data-dir=" + self.profile] + FLAGS,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        for _ in range(300):
            if os.path.exists(port_file) and open(port_file).read().count("\n") >= 1:
                break
            if self.process.poll() is not None:
                raise OSError("chromium ended at once: %s" % self.process.stderr.read().decode()[-400:])
            time.sleep(0.1)
        else:
            raise OSError("chromium gave no DevTools port in 30 s")
        port = open(port_file).read().split()[0]
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port, timeout=30))
        page = next(t for t in targets if t.get("type") == "page")
        self.socket = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=60)
        self.number, self.events = 0, []

    def call(self, method, **params):
        self.number += 1
        self.socket.send(json.dumps({"id": self.number, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == self.number:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            self.events.append(message)

    def wait_for(self, method, seconds=30):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if any(e.get("method") == method for e in self.events):
                return
            self.events.append(json.loads(self.socket.recv()))
        raise RuntimeError("no %s in %d s" % (method, seconds))

    def close(self):
        self.socket.close()
        self.process.terminate()
        self.process.wait(timeout=30)
        shutil.rmtree(self.profile, ignore_errors=True)


def ink(image, box) -> int:
    """How many pixels in box are coloured (not grey): the series' lines and dots."""
    left, top, right, bottom = (int(v) for v in box)
    crop = image.crop((max(0, left), max(0, top), min(image.width, right), min(image.height, bottom))).convert("RGB")
    pixels = list(crop.getdata())
    return sum(1 for r, g, b in pixels if max(r, g, b) - min(r, g, b) > 60)


def check_page(browser, path, texts, scripts):
    """The faults of one page, as lines."""
    faults, url = [], "file://" + os.path.abspath(path)
    browser.events.clear()
    browser.call("Emulation.setScriptExecutionDisabled", value=not scripts)
    browser.call("Page.navigate", url=url)
    browser.wait_for("Page.loadEventFired")
    label = "%s (scripts %s)" % (os.path.join(*path.split(os.sep)[-2:]), "on" if scripts else "off")
    for event in browser.events:
        method, params = event.get("method"), event.get("params", {})
        if method == "Network.requestWillBeSent" and params["request"]["url"] not in (url, "about:blank"):
            faults.append("%s: a request outside the file: %s" % (label, params["request"]["url"][:200]))
        if method == "Log.entryAdded" and params["entry"]["level"] == "error":
            faults.append("%s: console error: %s" % (label, params["entry"]["text"][:200]))
        if method in ("Runtime.exceptionThrown",) or (method == "Runtime.consoleAPICalled"
                                                        and params.get("type") == "error"):
            faults.append("%s: script error: %s" % (label, json.dumps(params)[:200]))
    root = browser.call("DOM.getDocument", depth=-1)["root"]["nodeId"]
    html = browser.call("DOM.getOuterHTML", nodeId=root)["outerHTML"]
    shown = unescape(re.sub(r"<[^>]*>", " ", html.split("<body>", 1)[-1]))
    shown = re.sub(r"\s+", " ", shown)
    faults += ["%s: %r is not in the page" % (label, text) for text in texts if text not in shown]
    faults += ["%s: %s in the page" % (label, word) for word in ("NaN", "Traceback", "Infinity") if word in shown]
    picture = Image.open(io.BytesIO(base64.b64decode(browser.call("Page.captureScreenshot", format="png")["data"])))
    if picture.size != (1280, 900):
        faults.append("%s: the screenshot is %dx%d, not 1280x900" % (label, picture.width, picture.height))
    if len(picture.convert("RGB").getcolors(1 << 20) or []) < 16:
        faults.append("%s: the screenshot is blank" % label)
    charts = browser.call("DOM.querySelectorAll", nodeId=root, selector="svg.chart rect.area")["nodeIds"]
    seen = 0
    for node in charts:
        quad = browser.call("DOM.getBoxModel", nodeId=node)["model"]["content"]
        box = (quad[0], quad[1], quad[4], quad[5])
        if box[3] > 900:
            continue
        seen += 1
        if ink(picture, box) < 40:  # a dot of radius 4 has about 50
            faults.append("%s: the chart at y %d is empty" % (label, box[1]))
    if charts and not seen:
        faults.append("%s: no chart in the first 900 pixels" % label)
    if os.environ.get("REPORT_SHOTS"):
        picture.save(os.path.join(os.environ["REPORT_SHOTS"], "%s-%s.png" % (
            os.path.basename(path), "on" if scripts else "off")))
    return faults


def main(argv):
    pages, current = [], None
    for word in argv:
        if word == "--":
            current = None
        elif current is None:
            current = (word, [])
            pages.append(current)
        else:
            current[1].append(word)
    try:
        browser = Browser()
    except (OSError, RuntimeError, StopIteration, ValueError) as error:
        print("chromium cannot start here: %s" % error)
        return SKIP
    try:
        for domain in ("Page", "Network", "Runtime", "Log", "DOM"):
            browser.call(domain + ".enable")
        browser.call("Emulation.setDeviceMetricsOverride", width=1280, height=900, deviceScaleFactor=1, mobile=False)
        faults = []
        for path, texts in pages:
            for scripts in (True, False):
                faults += check_page(browser, path, texts, scripts)
    finally:
        browser.close()
    print("\n".join(faults) if faults else "%d pages, scripts on and off: no fault" % len(pages))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
