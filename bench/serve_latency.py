#!/usr/bin/python3
"""What a person waits for on the page of `vantorel serve`, measured at its HTTP interface:
from the start of an upload to the first quick preview, from a slider change to its quick
preview (and the dehaze's own part of that), and from a slider change to the exact result (the full-size result shrunk for a
1366 x 768 screen), beside the command line's whole run on the same picture.
    bench/serve_latency.py [PICTURE...]   (default: the bundled sample and the 15.9 MP photo)
Each figure is the median of RUNS (default 5) slider changes; VANTOREL_BUILD_DIR as in
scripts/build.sh. Run it on a quiet machine: every figure is wall-clock time.
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
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
