#!/usr/bin/env python3
"""For tst_ZTReviewPage: CHROMIUM PROFILE_DIR URL CHECKPOINT... Loads the page in headless Chromium
(DevTools over a pipe: no driver package, no port), applies each checkpoint's steps ("key:X",
"select:MENU=VALUE", "dom:FILE", "shot:FILE"), prints PROBE's line after each, then each script
error after "error: " (a script that the page's policy blocks gives one)."""

import fcntl
import json
import os
import subprocess
import sys
import time
from base64 import b64decode
from pathlib import Path

# The picture selected ("none" without one) and whether its heat map is open, the page's count
# and the input numbers of the pictures shown, in page order, and whether the selection is in view.
PROBE = """(function () {
  var current = document.querySelector('article.current');
  var heat = current && current.querySelector('details.heat');
  var shown = Array.prototype.filter.call(document.querySelector('main').children,
      function (p) { return !p.hidden; }).map(function (p) { return p.dataset.index; });
  var box = current && current.getBoundingClientRect();
  // Scrolling goes by whole pixels, boxes do not: half a pixel either way is in view.
  var inView = !current || box.top >= -1 && box.bottom <= window.innerHeight + 1
      && document.activeElement === current;
  return (current ? current.id : 'none') + (heat && heat.open ? ' heat' : '') + ', '
      + document.getElementById('shown').textContent + ': ' + shown.join(',')
      + (inView ? '' : ', out of view');
})()"""


class Browser:
    """One Chromium tab whose browser reads commands from fd 3 and writes replies to fd 4."""

    def __init__(self, chromium, profile):
        to_child, from_child = os.pipe(), os.pipe()
        # Above 4, so that moving them to 3 and 4 in the child cannot clobber one another.
        child_ends = [fcntl.fcntl(to_child[0], fcntl.F_DUPFD, 10),
                      fcntl.fcntl(from_child[1], fcntl.F_DUPFD, 10)]
        self.commands, self.replies = to_child[1], from_child[0]

        def move_fds():
            os.dup2(child_ends[0], 3)
            os.dup2(child_ends[1], 4)

        self.process = subprocess.Popen(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--force-color-profile=srgb", "--hide-scrollbars", "--remote-debugging-pipe",
             "--user-data-dir=" + profile, "--window-size=1200,900", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=move_fds, pass_fds=(3, 4))
        for fd in child_ends + [to_child[0], from_child[1]]:
            os.close(fd)
        self.buffer, self.next_id, self.errors, self.session = b"", 0, [], None
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.call("Runtime.enable")
        self.call("Log.enable")
        self.call("Emulation.setFocusEmulationEnabled", enabled=True)

    def message(self):
        while b"\0" not in self.buffer:
            chunk = os.read(self.replies, 65536)
            if not chunk:
                raise EOFError("Chromium closed the pipe")
            self.buffer += chunk
        text, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(text)

    def call(self, method, **params):
        self.next_id += 1
        command = {"id": self.next_id, "method": method, "params": params}
        if self.session:
            command["sessionId"] = self.session
        os.write(self.commands, json.dumps(command).encode() + b"\0")
        while True:
            reply = self.message()
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(method + ": " + json.dumps(reply["error"]))
                return reply["result"]
            params = reply.get("params", {})
            if reply.get("method") == "Runtime.exceptionThrown":
                details = params["exceptionDetails"]
                self.errors.append(details.get("exception", {}).get("description", details["text"]))
            elif reply.get("method") == "Log.entryAdded" and params["entry"]["level"] == "error":
                self.errors.append(params["entry"]["text"])

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return result["result"].get("value")

    def step(self, step):
        kind, _, argument = step.partition(":")
        menu, _, value = argument.partition("=")
        if kind == "key":
            common = {"key": argument, "code": "Key" + argument.upper(),
                      "windowsVirtualKeyCode": ord(argument.upper())}
            self.call("Input.dispatchKeyEvent", type="keyDown", text=argument, **common)
            self.call("Input.dispatchKeyEvent", type="keyUp", **common)
        elif kind == "select":
            self.evaluate("(function (s) { s.value = %s; s.dispatchEvent(new Event('change')); })"
                          "(document.getElementById(%s))" % (json.dumps(value), json.dumps(menu)))
        elif kind == "dom":
            Path(argument).write_text(self.evaluate("document.documentElement.outerHTML"), "utf-8")
        elif kind == "shot":
            Path(argument).write_bytes(b64decode(self.call("Page.captureScreenshot")["data"]))


def main():
    chromium, profile, url = sys.argv[1:4]
    browser = Browser(chromium, profile)
    try:
        browser.call("Page.navigate", url=url)
        while browser.evaluate("document.readyState") != "complete":
            time.sleep(0.05)
        for checkpoint in sys.argv[4:]:
            for step in checkpoint.split():
                browser.step(step)
            print(browser.evaluate(PROBE))
        for error in browser.errors:
            print("error: " + error)
    finally:
        browser.process.kill()
        browser.process.wait()


if __name__ == "__main__":
    main()
