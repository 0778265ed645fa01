#!/usr/bin/env python3
"""Tries docs/console.html in headless Chromium as a site developer would, against the real program.

The page is served over https under an allowed host name (and under one that is not allowed), Orvessa and the
simulated radio run from build/, and the page is driven through Chromium's DevTools protocol on a pipe. Each
check prints "ok" or "FAILED" with what was seen; the exit status is the number of failures. Not part of the test
run: a developer runs it after changing the page.

Usage: scripts/console-check.py [build-folder]    (needs chromium and openssl: scripts/setup.sh --tests)
"""
import http.server
import json
import os
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
ALLOWED = "orvessa.example"
STRANGER = "stranger.example"
failures = 0


def check(name, passed, seen=""):
    global failures
    print(("ok      " if passed else "FAILED  ") + name + ("" if passed else "   seen: " + str(seen)[:600]))
    failures += 0 if passed else 1


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(os.path.join(ROOT, "docs", "console.html"), "rb") as page:
            body = page.read()
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class Browser:
    """Headless Chromium driven over --remote-debugging-pipe (file descriptors 3 and 4)."""

    def __init__(self, work, page_port):
        to_browser = os.pipe()
        from_browser = os.pipe()

        def descriptors():
            os.dup2(to_browser[0], 3)
            os.dup2(from_browser[1], 4)

        self.log = work + "/browser.log"
        self.process = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--ignore-certificate-errors", "--remote-debugging-pipe", "--user-data-dir=" + work + "/profile",
             "--host-resolver-rules=MAP %s:443 127.0.0.1:%d, MAP %s:443 127.0.0.1:%d"
             % (ALLOWED, page_port, STRANGER, page_port), "about:blank"],
            pass_fds=(3, 4), preexec_fn=descriptors,
            stdout=subprocess.DEVNULL, stderr=open(self.log, "w"))
        os.close(to_browser[0])
        os.close(from_browser[1])
        self.writer = os.fdopen(to_browser[1], "wb", buffering=0)
        self.reader = os.fdopen(from_browser[0], "rb", buffering=0)
        self.pending = b""
        self.next_id = 1
        self.session = None

    def command(self, method, params=None, session=True):
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session and self.session:
            message["sessionId"] = self.session
        self.next_id += 1
        self.writer.write(json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.pending:
                chunk = self.reader.read(65536)
                if not chunk:
                    with open(self.log) as log:
                        raise RuntimeError("the browser ended:\n" + log.read()[-2000:])
                self.pending += chunk
            text, self.pending = self.pending.split(b"\0", 1)
            answer = json.loads(text)
            if answer.get("id") == message["id"]:
                if "error" in answer:
                    raise RuntimeError(answer["error"])
                return answer["result"]

    def open(self, url):
        if self.session is None:
            target = self.command("Target.createTarget", {"url": "about:blank"}, session=False)["targetId"]
            self.session = self.command("Target.attachToTarget", {"targetId": target, "flatten": True},
                                        session=False)["sessionId"]
            self.command("Page.enable")
        self.command("Page.navigate", {"url": url})
        until(lambda: self.js("document.readyState === 'complete' && !!document.getElementById('method')"), 15)

    def js(self, expression):
        result = self.command("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                   "awaitPromise": True})
        if "exceptionDetails" in result:
            # A page without what a check looks for fails that check, not the run.
            return None
        return result["result"].get("value")

    def close(self):
        self.process.kill()
        self.process.wait()


def until(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    return condition()


# Small helpers inside the page: set a field as typing does, click, read the log.
PAGE_HELPERS = r"""
window.t = {
  type(id, text) { const f = document.getElementById(id); if (!f) return;
                   f.value = text; f.dispatchEvent(new Event('input')); },
  method(name) { const m = document.getElementById('method'); m.value = name;
                 m.dispatchEvent(new Event('change')); },
  click(id) { const e = document.getElementById(id); if (e) e.click(); },
  text(id) { const e = document.getElementById(id); return e ? e.textContent : ''; },
  lines(kind) { return Array.from(document.querySelectorAll('#log .' + kind)).map((l) => l.textContent); },
  visible(kind) { return Array.from(document.querySelectorAll('#log .' + kind))
                       .filter((l) => l.offsetParent !== null).length; },
};
true
"""


def main():
    if os.geteuid() == 0 and "CONSOLE_CHECK_PRIVATE_TMP" not in os.environ:
        # Orvessa's instance lock lives in /tmp: a private one keeps a running Orvessa out of the way.
        os.environ["CONSOLE_CHECK_PRIVATE_TMP"] = "1"
        os.execvp("unshare", ["unshare", "-m", "sh", "-c", 'mount -t tmpfs tmpfs /tmp && exec "$0" "$@"',
                              sys.executable, os.path.abspath(__file__)] + sys.argv[1:])
    work = tempfile.mkdtemp(prefix="console-check-")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=page",
                    "-keyout", work + "/key.pem", "-out", work + "/cert.pem"], check=True, capture_output=True)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(work + "/cert.pem", work + "/key.pem")
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()

    port = free_port()
    os.makedirs(work + "/config/Marovell")
    with open(work + "/config/Marovell/Orvessa.conf", "w") as settings:
        settings.write("[General]\nserverPort1=%d\n" % port)
    environment = dict(os.environ, XDG_CONFIG_HOME=work + "/config", QT_QPA_PLATFORM="offscreen")
    environment.pop("DISPLAY", None)
    orvessa = subprocess.Popen([BUILD + "/src/orvessa"], env=environment, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    for line in orvessa.stdout:
        if "listening on port" in line:
            break
    threading.Thread(target=lambda: [None for _ in orvessa.stdout], daemon=True).start()
    radio = subprocess.Popen([BUILD + "/tools/orvessa-rigsim"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             text=True)
    pty = radio.stdout.readline().strip()
    browser = Browser(work, server.server_address[1])
    try:
        run_checks(browser, port, pty, orvessa)
    finally:
        browser.close()
        radio.kill()
        orvessa.kill()
        server.shutdown()
    print("%d failed" % failures)
    return failures


def connect(browser, port):
    browser.js("t.type('port', '%s'); t.click('connect'); true" % port)


def run_checks(browser, port, pty, orvessa):
    b = browser

    # From an origin that is not on the list: the failure names both likely causes and the page recovers.
    b.open("https://%s/" % STRANGER)
    b.js(PAGE_HELPERS)
    check("the page shows its own origin", b.js("t.text('origin')") == "https://" + STRANGER, b.js("t.text('origin')"))
    connect(b, port)
    failed = until(lambda: b.js("t.lines('fail').join('\\n')"), 10)
    check("refused origin: both likely causes named",
          "403" in failed and "not running" in failed and "https://" + STRANGER in failed, failed)
    check("refused origin: Connect usable again", until(lambda: b.js("!document.getElementById('connect').disabled"
                                                                     " && t.text('state') === 'closed'"), 5))

    b.open("https://%s/" % ALLOWED)
    b.js(PAGE_HELPERS)
    for typed in ["73510", "0", "-1", "7351x", ""]:
        connect(b, typed)
        problem = b.js("t.text('portProblem')")
        check("port %r refused before connecting" % typed,
              problem != "" and b.js("!document.getElementById('connect').disabled && t.text('state') === 'closed'"),
              problem + " / " + b.js("t.text('state')"))
    nobody = free_port()
    connect(b, nobody)
    failed = until(lambda: b.js("t.lines('fail').join('\\n')"), 10)
    check("nothing on the port: failure with the causes, Connect usable again",
          "not running" in failed and until(lambda: b.js("!document.getElementById('connect').disabled"), 5), failed)

    connect(b, port)
    check("connects to Orvessa", until(lambda: b.js("t.text('state').startsWith('open')"), 10), b.js("t.text('state')"))
    b.js("t.method('ovInfo'); t.click('send'); true")
    check("ovInfo answered", until(lambda: any("OrvessaVersion" in l for l in b.js("t.lines('reply')")), 5))
    failures_before = len(b.js("t.lines('fail')"))
    b.js("t.click('disconnect'); true")
    check("closing it is not reported as a failure",
          until(lambda: b.js("t.text('state') === 'closed'"), 5) and len(b.js("t.lines('fail')")) == failures_before,
          b.js("t.lines('fail')"))
    connect(b, port)
    until(lambda: b.js("t.text('state').startsWith('open')"), 10)

    # Values typed survive changes of method, and the last connected radio's port is offered.
    b.js("t.method('setFreq'); t.type('param-frequency', '7100000'); t.method('rigInfo'); t.method('setFreq'); true")
    check("a typed value survives a change of method", b.js("document.getElementById('param-frequency').value")
          == "7100000", b.js("document.getElementById('param-frequency').value"))
    b.js("t.method('connectRig'); t.type('param-serial', '%s'); t.click('send'); true" % pty)
    check("connectRig answered", until(lambda: any("Rig connected" in l for l in b.js("t.lines('reply')")), 15),
          b.js("t.lines('reply')"))
    b.js("t.method('rigInfo'); true")
    check("the connected radio's port is offered to the next method",
          b.js("document.getElementById('param-serialName').value") == pty
          and b.js("document.querySelector('#radioPorts option').value") == pty,
          b.js("document.getElementById('param-serialName').value"))

    # A request edited by hand stays as written through form changes and sends; the form rebuilds it on demand.
    edited = '{"jsonrpc": "2.0", "id": 900, "method": "rigInfo", "params": ["%s"]}' % pty
    b.js("t.type('request', %s); t.type('param-serialName', '/dev/other'); true" % json.dumps(edited))
    check("a hand edit survives a form change", b.js("document.getElementById('request').value") == edited)
    b.js("t.click('send'); true")
    check("a hand edit survives sending", b.js("document.getElementById('request').value") == edited)
    check("the hand-edited request is answered", until(lambda: any('"900"' in l for l in b.js("t.lines('reply')")), 5))
    b.js("t.click('rebuild'); true")
    rebuilt = json.loads(b.js("document.getElementById('request').value"))
    check("rebuilding takes the form's values", rebuilt.get("params") == ["/dev/other"], rebuilt)

    # What gets no answer is flagged before it is sent; an id without an answer is reported after a few seconds.
    for name, text in [("no id", '{"jsonrpc": "2.0", "method": "ovInfo"}'),
                       ("wrong jsonrpc", '{"jsonrpc": "1.0", "id": 901, "method": "ovInfo"}'),
                       ("a batch", '[{"jsonrpc": "2.0", "id": 902, "method": "ovInfo"}]'),
                       ("not JSON", '{"jsonrpc": "2.0", "id": 903, "method": "ovInfo"')]:
        b.js("t.type('request', %s); true" % json.dumps(text))
        warning = b.js("t.text('warning')")
        check("warned before sending: " + name, warning != "", warning)
    b.js("t.click('rebuild'); t.method('setFreq'); t.type('param-frequency', ''); true")
    warning = b.js("t.text('warning')")
    check("warned before sending: an emptied number field", "frequency" in warning, warning)
    b.js("t.type('request', '{\"jsonrpc\": \"1.0\", \"id\": 904, \"method\": \"ovInfo\"}'); t.click('send'); true")
    late = until(lambda: [l for l in b.js("t.lines('fail')") if "id 904" in l], 9)
    check("an id without an answer is reported after a few seconds", late, b.js("t.lines('fail')"))

    # Pushes: QsoInfo apart from RigInfo, each with its filter; scrolling can be paused.
    b.js("t.click('rebuild'); t.method('rigInfoSubscribe'); t.type('param-serialName', '%s'); t.click('send'); true"
         % pty)
    relay = free_port(socket.SOCK_DGRAM)
    b.js("t.method('udpQsoStart'); t.type('param-port', '%d'); t.click('send');"
         "t.method('udpQsoSubscribe'); t.click('send'); true" % relay)
    until(lambda: any("Subscribed to UDP QSO" in l for l in b.js("t.lines('reply')")), 10)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
        sender.sendto(b"<CALL:4>W1AW <EOR>", ("127.0.0.1", relay))
    qso = until(lambda: b.js("t.lines('qso')"), 5) or []
    check("a QsoInfo shows, decoded, in its own kind", qso and "W1AW" in qso[0], qso)
    check("RigInfo pushes show in theirs", until(lambda: len(b.js("t.lines('rig')")) >= 4, 5), b.js("t.lines('reply')"))
    colours = b.js("[getComputedStyle(document.querySelector('#log .qso')).color,"
                   " getComputedStyle(document.querySelector('#log .rig')).color]")
    check("QsoInfo and RigInfo have their own colours", colours and colours[0] != colours[1], colours)
    b.js("t.click('showRig'); true")
    check("hiding RigInfo keeps QsoInfo in sight", b.js("t.visible('rig') === 0 && t.visible('qso') === 1"))
    b.js("t.click('showRig'); t.click('pause'); document.getElementById('log').scrollTop = 0; true")
    time.sleep(1.5)
    check("paused scrolling stays put while pushes arrive", b.js("document.getElementById('log').scrollTop") == 0)

    # Orvessa going away while connected: the page says so and can connect again.
    orvessa.terminate()
    check("Orvessa quitting closes the connection and frees Connect",
          until(lambda: b.js("!document.getElementById('connect').disabled && t.text('state') === 'closed'"), 10))


if __name__ == "__main__":
    sys.exit(main())
