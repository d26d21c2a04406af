#!/usr/bin/env python3
"""Drives a review page in headless Chromium through the DevTools protocol over a pipe (no
driver package, no network port). Used by tst_ZTReviewPageBrowser.

    review_page_keys.py CHROMIUM PROFILE_DIR PAGE_URL SCENARIO...

Each scenario loads the page in a fresh tab, applies its steps, separated by spaces, then prints
one line of what the page shows. A step is "key:X" (a key pressed and released) or
"select:ID=VALUE" (a choice in one of the page's menus). The line is

    CURRENT heat:open|closed shown:TEXT order:I,J,... view:in|out

with CURRENT the id of the picture selected ("none" without one) and order the input numbers of
the pictures shown, in page order. Then every script error and console error of the page is
printed, one line each, starting with "error:". Exit status 0 when the page could be driven.
"""

import fcntl
import json
import os
import select
import subprocess
import sys
import time

TIMEOUT_SECONDS = 60

PROBE = """(function () {
  var current = document.querySelector('article.current');
  var heat = current && current.querySelector('details.heat');
  var shown = Array.prototype.filter.call(document.querySelector('main').children,
      function (p) { return !p.hidden; }).map(function (p) { return p.dataset.index; });
  var box = current && current.getBoundingClientRect();
  // Scrolling goes by whole pixels, boxes do not: half a pixel either way is in view.
  var inView = box && box.top >= -1 && box.bottom <= window.innerHeight + 1;
  return (current ? current.id : 'none') + ' heat:' + (heat && heat.open ? 'open' : 'closed')
      + ' shown:' + document.getElementById('shown').textContent + ' order:' + shown.join(',')
      + ' view:' + (!current || inView && document.activeElement === current ? 'in' : 'out');
})()"""


class Browser:
    """One Chromium whose fds 3 and 4 are the protocol's pipe: commands in, replies out."""

    def __init__(self, chromium, profile):
        to_child = os.pipe()
        from_child = os.pipe()
        # Above the fds that the child gets, so that moving them to 3 and 4 cannot clobber them;
        # the originals stay open until the child runs, so that no pipe of Popen's own is 3 or 4.
        self.child_ends = [fcntl.fcntl(to_child[0], fcntl.F_DUPFD, 10),
                           fcntl.fcntl(from_child[1], fcntl.F_DUPFD, 10)]
        self.commands = to_child[1]
        self.replies = from_child[0]
        child_in, child_out = self.child_ends

        def move_fds():
            os.dup2(child_in, 3)
            os.dup2(child_out, 4)

        self.process = subprocess.Popen(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--remote-debugging-pipe", "--user-data-dir=" + profile, "--window-size=1200,900",
             "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=move_fds, pass_fds=(3, 4))
        for fd in self.child_ends + [to_child[0], from_child[1]]:
            os.close(fd)
        self.buffer = b""
        self.next_id = 0
        self.events = []
        self.deadline = time.monotonic() + TIMEOUT_SECONDS

    def close(self):
        os.close(self.commands)
        os.close(self.replies)
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def message(self):
        while b"\0" not in self.buffer:
            left = self.deadline - time.monotonic()
            if left <= 0 or not select.select([self.replies], [], [], left)[0]:
                raise TimeoutError("Chromium did not answer in time")
            chunk = os.read(self.replies, 65536)
            if not chunk:
                raise EOFError("Chromium closed the pipe")
            self.buffer += chunk
        text, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(text)

    def call(self, method, session=None, **params):
        self.next_id += 1
        command = {"id": self.next_id, "method": method, "params": params}
        if session:
            command["sessionId"] = session
        os.write(self.commands, json.dumps(command).encode() + b"\0")
        while True:
            reply = self.message()
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(method + ": " + json.dumps(reply["error"]))
                return reply["result"]
            self.events.append(reply)

    def errors(self):
        found = []
        for event in self.events:
            params = event.get("params", {})
            if event.get("method") == "Runtime.exceptionThrown":
                details = params["exceptionDetails"]
                found.append(details.get("exception", {}).get("description", details["text"]))
            elif event.get("method") == "Log.entryAdded" and params["entry"]["level"] == "error":
                found.append(params["entry"]["text"])
            elif event.get("method") == "Runtime.consoleAPICalled" and params["type"] == "error":
                found.append(json.dumps(params["args"]))
        return found


def evaluate(browser, session, expression):
    result = browser.call("Runtime.evaluate", session, expression=expression, returnByValue=True)
    return result["result"].get("value")


def press(browser, session, key):
    code = ord(key.upper())
    common = {"key": key, "code": "Key" + key.upper(), "windowsVirtualKeyCode": code}
    browser.call("Input.dispatchKeyEvent", session, type="keyDown", text=key, **common)
    browser.call("Input.dispatchKeyEvent", session, type="keyUp", **common)


def choose(browser, session, menu, value):
    evaluate(browser, session, "(function () { var s = document.getElementById(%s); s.value = %s; "
             "s.dispatchEvent(new Event('change')); })()" % (json.dumps(menu), json.dumps(value)))


def scenario(browser, url, steps):
    target = browser.call("Target.createTarget", url="about:blank")["targetId"]
    session = browser.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
    for domain in ("Runtime.enable", "Log.enable", "Page.enable"):
        browser.call(domain, session)
    browser.call("Emulation.setFocusEmulationEnabled", session, enabled=True)
    browser.call("Page.navigate", session, url=url)
    while evaluate(browser, session, "document.readyState") != "complete":
        time.sleep(0.05)
    for step in steps:
        kind, _, argument = step.partition(":")
        if kind == "key":
            press(browser, session, argument)
        elif kind == "select":
            menu, _, value = argument.partition("=")
            choose(browser, session, menu, value)
        else:
            raise ValueError("unknown step " + step)
    shown = evaluate(browser, session, PROBE)
    browser.call("Target.closeTarget", targetId=target)
    return shown


def main():
    chromium, profile, url = sys.argv[1:4]
    browser = Browser(chromium, profile)
    try:
        for steps in sys.argv[4:]:
            print(scenario(browser, url, steps.split()))
        for error in browser.errors():
            print("error: " + error)
    finally:
        browser.close()


if __name__ == "__main__":
    main()
