#!/usr/bin/env python3
"""Plays VIDEO in Debian's headless Chromium, driven through chromedriver's WebDriver
protocol: a page served on localhost loads it into a <video> element and plays it to its end.
Prints what the page saw: "duration=SECONDS ended=true", or "error=..." when it did not play.

Usage: play_in_browser.py VIDEO [SECONDS to wait, default 60]
"""
import functools, http.server, json, os, shutil, socket, subprocess, sys, tempfile, threading
import time, urllib.request

PAGE = """<!DOCTYPE html><html><body><pre id="result">waiting</pre>
<video id="video" src="%s" muted playsinline></video><script>
const video = document.getElementById('video'), result = document.getElementById('result');
let duration = null;
video.onloadedmetadata = () => { duration = video.duration; };
video.onended = () => { result.textContent = 'duration=' + duration.toFixed(3) + ' ended=' + video.ended; };
video.onerror = () => { result.textContent = 'error=' + video.error.code + ' ' + video.error.message; };
video.playbackRate = 4;
video.play().catch(e => { result.textContent = 'error=play ' + e; });
</script></body></html>"""


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def main():
    video, limit = os.path.abspath(sys.argv[1]), float(sys.argv[2]) if len(sys.argv) > 2 else 60
    folder = tempfile.mkdtemp(prefix="vexo-browser-")
    shutil.copy(video, folder)
    with open(os.path.join(folder, "index.html"), "w") as f:
        f.write(PAGE % os.path.basename(video))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                             functools.partial(Quiet, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    driver = subprocess.Popen(["chromedriver", "--port=%d" % port], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)

    def call(method, path, body=None):
        request = urllib.request.Request(
            "http://127.0.0.1:%d%s" % (port, path), method=method,
            data=None if body is None else json.dumps(body).encode(),
            headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=30) as answer:
            return json.loads(answer.read())["value"]

    try:
        for _ in range(200):  # chromedriver takes a moment to listen
            try:
                call("GET", "/status")
                break
            except OSError:
                time.sleep(0.1)
        args = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--no-first-run",
                "--autoplay-policy=no-user-gesture-required",
                "--user-data-dir=" + os.path.join(folder, "profile")]
        session = call("POST", "/session", {"capabilities": {"alwaysMatch": {"goog:chromeOptions": {
            "binary": "/usr/bin/chromium", "args": args}}}})["sessionId"]
        try:
            call("POST", "/session/%s/url" % session,
                 {"url": "http://127.0.0.1:%d/index.html" % server.server_address[1]})
            deadline, text = time.monotonic() + limit, "waiting"
            while text == "waiting" and time.monotonic() < deadline:
                time.sleep(0.2)
                text = call("POST", "/session/%s/execute/sync" % session, {
                    "script": "return document.getElementById('result').textContent", "args": []})
            print(text)
        finally:
            call("DELETE", "/session/%s" % session)
    finally:
        driver.terminate()
        driver.wait()
        server.shutdown()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
