#!/usr/bin/env python3
"""Plays a video in a real browser: serves its folder on localhost, has Debian's headless
Chromium (driven through chromedriver's WebDriver protocol) load it into a <video> element
and play it to its end, and prints what the page saw: "duration=SECONDS ended=true", or
"error=..." when it did not play.

Usage: play_in_browser.py VIDEO [SECONDS]   (SECONDS: how long to wait, default 60)
"""
import functools
import http.server
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

PAGE = """<!DOCTYPE html>
<html><body><pre id="result">waiting</pre>
<video id="video" src="%s" muted playsinline></video>
<script>
const video = document.getElementById('video');
const result = document.getElementById('result');
let duration = null;
video.addEventListener('loadedmetadata', () => { duration = video.duration; });
video.addEventListener('ended', () => {
  result.textContent = 'duration=' + duration.toFixed(3) + ' ended=' + video.ended;
});
video.addEventListener('error', () => {
  result.textContent = 'error=' + video.error.code + ' ' + video.error.message;
});
video.playbackRate = 4;
video.play().catch(e => { result.textContent = 'error=play ' + e; });
</script></body></html>
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def webdriver(port, method, path, body=None):
    data = json.dumps(body).encode() if body is not None else None
    request = urllib.request.Request("http://127.0.0.1:%d%s" % (port, path), data=data,
                                     method=method,
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=30) as answer:
        return json.loads(answer.read())["value"]


def main():
    video = os.path.abspath(sys.argv[1])
    limit = float(sys.argv[2]) if len(sys.argv) > 2 else 60
    folder = tempfile.mkdtemp(prefix="vexo-browser-")
    driver = None
    server = None
    try:
        shutil.copy(video, os.path.join(folder, os.path.basename(video)))
        with open(os.path.join(folder, "index.html"), "w") as f:
            f.write(PAGE % os.path.basename(video))
        class Quiet(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass
        handler = functools.partial(Quiet, directory=folder)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()

        port = free_port()
        driver = subprocess.Popen(["chromedriver", "--port=%d" % port],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while True:
            try:
                webdriver(port, "GET", "/status")
                break
            except OSError:
                if time.monotonic() > deadline:
                    sys.exit("chromedriver did not start")
                time.sleep(0.1)
        args = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--no-first-run",
                "--autoplay-policy=no-user-gesture-required",
                "--user-data-dir=" + os.path.join(folder, "profile")]
        session = webdriver(port, "POST", "/session", {"capabilities": {"alwaysMatch": {
            "browserName": "chrome",
            "goog:chromeOptions": {"binary": "/usr/bin/chromium", "args": args}}}})["sessionId"]
        try:
            webdriver(port, "POST", "/session/%s/url" % session,
                      {"url": "http://127.0.0.1:%d/index.html" % server.server_address[1]})
            deadline = time.monotonic() + limit
            text = "waiting"
            while text == "waiting" and time.monotonic() < deadline:
                time.sleep(0.2)
                text = webdriver(port, "POST", "/session/%s/execute/sync" % session,
                                 {"script": "return document.getElementById('result')"
                                            ".textContent", "args": []})
            print(text)
        finally:
            webdriver(port, "DELETE", "/session/%s" % session)
    finally:
        if driver:
            driver.terminate()
            driver.wait()
        if server:
            server.shutdown()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
