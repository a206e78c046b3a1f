#!/usr/bin/python3
"""What a person waits for on the page of `vantorel serve`, measured at its HTTP interface:
from the start of an upload to the first quick preview, from a slider change to its quick
preview (and the dehaze's own part of that), and from a slider change to the exact result (the full-size result shrunk for a
1366 x 768 screen), beside the command line's whole run on the same picture.
Then the page under abuse: how long `GET /` waits (median and longest, asked every 0.2 s)
while 200 slow clients hold connections for SLOW_SECONDS (default 60), each sending a
header byte every 3 s and connecting again when cut off, and while 44 clients upload the
15.9 MP photo at once; with the server's peak resident memory during each.
    bench/serve_latency.py [PICTURE...]   (default: the bundled sample and the 15.9 MP photo)
Each figure is the median of RUNS (default 5) slider changes; VANTOREL_BUILD_DIR as in
scripts/build.sh. Run it on a quiet machine: every figure is wall-clock time. All traffic
goes to 127.0.0.1, and every loop ends by itself.
"""
import http.client
import json
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(root, "tests", "server"))
from server_process import ServerProcess, read_file  # noqa: E402

build = os.environ.get("VANTOREL_BUILD_DIR", os.path.join(root, "build"))
vantorel = os.path.join(build, "vantorel")
runs = int(os.environ.get("RUNS", "5"))
large = os.path.join(root, "..", "shared", "samples", "dandelions_5312x2988.jpg")
pictures = sys.argv[1:] or [os.path.join(root, "samples", "hazy_mountains.jpg")] + ([large] if os.path.exists(large) else [])


def timed(call):
    start = time.perf_counter()
    result = call()
    return time.perf_counter() - start, result


def ok(answer):
    status, _, body = answer
    if status != 200 and status != 201:
        raise RuntimeError("status %d: %r" % (status, body[:200]))
    return answer


slow_seconds = float(os.environ.get("SLOW_SECONDS", "60"))


def page_wait(port):
    """Seconds until GET / is answered (inf when it is not within 30 s)."""
    start = time.perf_counter()
    try:
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        connection.request("GET", "/")
        response = connection.getresponse()
        response.read()
        connection.close()
        return time.perf_counter() - start if response.status == 200 else float("inf")
    except OSError:
        return float("inf")


def peak_resident_mib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return 0


def reset_peak_resident(pid):
    """Starts the kernel's peak count (VmHWM) afresh; False where that is not allowed."""
    try:
        with open("/proc/%d/clear_refs" % pid, "w") as clear:
            clear.write("5")
        return True
    except OSError:
        return False


def under_load(name, server, load, seconds):
    """Runs `load(stop_at)` in its threads and times GET / meanwhile."""
    fresh_peak = reset_peak_resident(server.process.pid)
    stop_at = time.monotonic() + seconds
    threads = load(stop_at)
    time.sleep(1)
    waits = []
    while time.monotonic() < stop_at or any(thread.is_alive() for thread in threads):
        waits.append(page_wait(server.port))
        time.sleep(0.2)
        if time.monotonic() > stop_at + 600:
            break
    for thread in threads:
        thread.join()
    print("%-44s %8.1f ms %8.1f ms %6d %9.0f MiB%s" % (
        name, statistics.median(waits) * 1000, max(waits) * 1000, len(waits), peak_resident_mib(server.process.pid),
        "" if fresh_peak else " (since start)"))


def slow_clients(port, count):
    def load(stop_at):
        def one():
            while time.monotonic() < stop_at:
                try:
                    slow = socket.create_connection(("127.0.0.1", port), timeout=10)
                    for byte in b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + b"a" * 1000:
                        if time.monotonic() >= stop_at:
                            break
                        slow.send(bytes([byte]))
                        time.sleep(3)
                    slow.close()
                except OSError:
                    time.sleep(0.5)
        threads = [threading.Thread(target=one) for _ in range(count)]
        for thread in threads:
            thread.start()
        return threads
    return load


def uploads(port, count, data, statuses):
    def load(stop_at):
        def one():
            try:
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=600)
                connection.request("POST", "/api/pictures", data)
                response = connection.getresponse()
                response.read()
                statuses.append(response.status)
            except OSError as error:
                statuses.append(type(error).__name__)
        threads = [threading.Thread(target=one) for _ in range(count)]
        for thread in threads:
            thread.start()
        return threads
    return load


def abuse_cases():
    print()
    print("%-44s %11s %11s %6s %13s" % ("GET / while", "median", "longest", "asked", "peak memory"))
    server = ServerProcess(vantorel)
    try:
        under_load("200 slow clients, %.0f s" % slow_seconds, server, slow_clients(server.port, 200), slow_seconds)
    finally:
        server.stop()
    if not os.path.exists(large):
        print("(no %s: the uploads are left out)" % large)
        return
    server = ServerProcess(vantorel)
    statuses = []
    try:
        under_load("44 uploads of the 15.9 MP photo at once", server,
                   uploads(server.port, 44, read_file(large), statuses), 0)
    finally:
        server.stop()
    print("  the uploads' answers: %s" % ", ".join("%s x %d" % (status, statuses.count(status))
                                                   for status in sorted(set(statuses), key=str)))


server = ServerProcess(vantorel)
print("%-28s %6s %13s %13s %13s %13s %13s" % ("picture", "MP", "upload>quick", "change>quick", "(its dehaze)",
                                              "change>exact", "command line"))
try:
    with tempfile.TemporaryDirectory() as scratch:
        for path in pictures:
            data = read_file(path)

            def upload_then_preview():
                held = json.loads(ok(server.request("POST", "/api/pictures", data))[2])
                ok(server.request("GET", "/api/pictures/%s/preview?thickness=0.90" % held["id"]))
                return held

            first_preview, held = timed(upload_then_preview)
            picture = "/api/pictures/" + held["id"]
            quick, quick_dehaze, exact, command_line = [], [], [], []
            for run in range(runs):
                # A fresh value each time, as the slider gives: nothing is reused.
                value = "%.2f" % (0.3 + 0.07 * run)
                seconds, answer = timed(lambda: ok(server.request("GET", picture + "/preview?thickness=" + value)))
                quick.append(seconds)
                quick_dehaze.append(float(answer[1]["x-dehaze-seconds"]))
                exact.append(timed(lambda: ok(server.request(
                    "GET", picture + "/exact?thickness=%s&width=683&height=600" % value)))[0])
                command_line.append(timed(lambda: subprocess.run(
                    [vantorel, path, os.path.join(scratch, "out.jpg"), value], check=True,
                    stdout=subprocess.DEVNULL))[0])
            print("%-28s %6.1f %10.0f ms %10.0f ms %10.0f ms %10.0f ms %10.0f ms" % (
                os.path.basename(path)[:28], held["width"] * held["height"] / 1e6, first_preview * 1000,
                statistics.median(quick) * 1000, statistics.median(quick_dehaze) * 1000,
                statistics.median(exact) * 1000, statistics.median(command_line) * 1000))
finally:
    server.stop()
abuse_cases()
