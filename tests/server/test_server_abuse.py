"""`vantorel serve` under hostile or careless clients, through the real process on a free
loopback port: a chunked body over the limit, slow clients, a burst of uploads, multipart
and cross-site posts, odd methods and framings, error bodies for bytes that are not UTF-8,
and formats the image library would pass through the temporary folder. Every loop is
bounded and sends only to 127.0.0.1.
    test_server_abuse.py VANTOREL SOURCE_DIR
"""
import http.client
import json
import os
import shutil
import socket
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from server_process import Checks, ServerProcess, read_file  # noqa: E402

vantorel, source_dir = sys.argv[1:3]
checks = Checks()
scratch = tempfile.mkdtemp()
opencv_temp = os.path.join(scratch, "opencv-temp")
os.mkdir(opencv_temp)
sample_bytes = read_file(os.path.join(source_dir, "samples", "hazy_mountains.jpg"))
LIMIT_MB = 4
server = ServerProcess(vantorel, "--max-upload-mb", str(LIMIT_MB),
                       env=dict(os.environ, OPENCV_TEMP_PATH=opencv_temp, TMPDIR=opencv_temp))
HOST = "Host: 127.0.0.1:%d\r\n" % server.port


def memory_kib(field):
    with open("/proc/%d/status" % server.process.pid) as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def raw_exchange(request_bytes, timeout=10):
    """Sends the bytes as they are and reads the answer until the server closes."""
    connection = socket.create_connection(("127.0.0.1", server.port), timeout=timeout)
    answer = b""
    try:
        connection.sendall(request_bytes)
        while True:
            data = connection.recv(65536)
            if not data:
                break
            answer += data
    except OSError as error:
        answer += b"<" + repr(error).encode() + b">"
    finally:
        connection.close()
    return answer


def status_and_json(answer):
    """(status, the JSON body or None) of a raw answer."""
    head, _, body = answer.partition(b"\r\n\r\n")
    try:
        status = int(head.split(b" ")[1])
    except (IndexError, ValueError):
        return 0, None
    try:
        return status, json.loads(body)
    except ValueError:
        return status, None


def page_answers_within(seconds):
    start = time.monotonic()
    try:
        connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=seconds)
        connection.request("GET", "/")
        response = connection.getresponse()
        ok = response.status == 200 and b"<html" in response.read()
        connection.close()
    except OSError:
        return False, time.monotonic() - start
    return ok, time.monotonic() - start


try:
    # A chunked body is counted as it arrives: 413 soon after the limit, without the rest
    # being read, and the server's memory stays within twice the limit.
    # The baseline after a first upload, which starts what every upload uses.
    server.request("POST", "/api/pictures", b"P3\n1 1\n255\n1 2 3\n")
    resident_before = memory_kib("VmHWM")
    connection = socket.create_connection(("127.0.0.1", server.port), timeout=10)
    connection.sendall(("POST /api/pictures HTTP/1.1\r\n" + HOST + "Transfer-Encoding: chunked\r\n\r\n").encode())
    chunk = os.urandom(1 << 16)
    sent = 0
    try:
        while sent < 16 * LIMIT_MB << 20:
            connection.sendall(b"%x\r\n%s\r\n" % (len(chunk), chunk))
            sent += len(chunk)
    except OSError:
        pass
    answer = b""
    try:
        answer = connection.recv(4096)
    except OSError:
        pass
    connection.close()
    status, body = status_and_json(answer)
    checks.check(status == 413 and body and "upload limit" in body.get("error", ""),
                 "a chunked body over the limit: 413 (%r, %d bytes sent)" % (answer[:120], sent))
    checks.check(sent < 16 * LIMIT_MB << 20, "the server stopped reading the chunked body (%d bytes sent)" % sent)
    growth = (memory_kib("VmHWM") - resident_before) * 1024
    checks.check(growth < 2 * LIMIT_MB << 20, "memory grew by %d bytes, under twice the limit" % growth)

    # Slow clients (one header byte every half second, reconnecting when cut off) do not
    # keep the page from answering within a second.
    stop_at = time.monotonic() + 6

    def slow_client():
        while time.monotonic() < stop_at:
            try:
                slow = socket.create_connection(("127.0.0.1", server.port), timeout=5)
                for byte in ("GET / HTTP/1.1\r\n" + HOST + "X-Slow: " + "a" * 100).encode():
                    if time.monotonic() >= stop_at:
                        break
                    slow.send(bytes([byte]))
                    time.sleep(0.5)
                slow.close()
            except OSError:
                time.sleep(0.1)

    slow_threads = [threading.Thread(target=slow_client) for _ in range(32)]
    for thread in slow_threads:
        thread.start()
    time.sleep(1)
    waits = []
    while time.monotonic() < stop_at:
        answered, seconds = page_answers_within(5)
        waits.append(seconds if answered else float("inf"))
        time.sleep(0.25)
    for thread in slow_threads:
        thread.join()
    checks.check(waits and max(waits) < 1, "GET / among 32 slow clients: longest wait %.3f s of %d"
                 % (max(waits or [0]), len(waits)))

    # 60 uploads at once, each on a connection the client keeps open: every one is answered
    # soon (201, or 503 past the documented bounds), none is reset or left waiting.
    tiny = b"P3\n2 2\n255\n" + b"10 20 30 " * 4
    upload_request = (("POST /api/pictures HTTP/1.1\r\n" + HOST + "Content-Length: %d\r\n\r\n" % len(tiny)).encode()
                      + tiny)
    start_together = threading.Barrier(60)
    outcomes, kept_open = [], []

    def upload():
        client = socket.socket()
        client.settimeout(10)
        kept_open.append(client)
        start_together.wait()
        start = time.monotonic()
        try:
            client.connect(("127.0.0.1", server.port))
            client.sendall(upload_request)
            status, _ = status_and_json(client.recv(4096))
            outcomes.append((status, time.monotonic() - start))
        except OSError as error:
            outcomes.append((repr(error), time.monotonic() - start))

    burst_threads = [threading.Thread(target=upload) for _ in range(60)]
    for thread in burst_threads:
        thread.start()
    for thread in burst_threads:
        thread.join()
    for client in kept_open:
        client.close()
    checks.check(all(status in (201, 503) and seconds < 3 for status, seconds in outcomes),
                 "60 uploads at once, each answered within 3 s: %r"
                 % sorted((str(status), round(seconds, 2)) for status, seconds in outcomes)[-3:])

    # A multipart upload (curl -F, an HTML form) is the same picture as the raw body.
    boundary = "vantorelTestBoundary"
    part = (("--%s\r\nContent-Disposition: form-data; name=\"file\"; filename=\"hazy.jpg\"\r\n"
             "Content-Type: image/jpeg\r\n\r\n" % boundary).encode() + sample_bytes + b"\r\n")
    end = ("--%s--\r\n" % boundary).encode()
    form = {"Content-Type": "multipart/form-data; boundary=" + boundary}
    status, _, body = server.request("POST", "/api/pictures", part + end, form)
    described = json.loads(body) if status == 201 else {}
    checks.check((described.get("width"), described.get("height")) == (1600, 1066),
                 "multipart upload: 201 with the picture's size (%d %r)" % (status, body[:150]))
    status, _, body = server.request("POST", "/api/pictures", part + part + end, form)
    checks.check(status == 400 and b"one file" in body,
                 "multipart with two files: 400 saying how to send (%d %r)" % (status, body[:150]))

    # A plain form on another site sends no Origin but its Referer; a command-line client
    # sends neither, whatever its Content-Type.
    ppm = b"P3\n1 1\n255\n200 180 160\n"
    for referer, content_type, wanted in [("http://evil.example/form.html", "text/plain", 403),
                                          ("http://127.0.0.1:%d/" % server.port, "text/plain", 200),
                                          (None, "application/x-www-form-urlencoded", 200)]:
        headers = {"Content-Type": content_type}
        if referer:
            headers["Referer"] = referer
        status, _, _ = server.request("POST", "/api/dehaze?thickness=0.5&format=png", ppm, headers)
        checks.check(status == wanted, "POST with Referer %s, %s: %d, wanted %d" % (referer, content_type, status, wanted))

    # Methods, lengths and encodings the server does not take are answered at once, each
    # with a JSON error, and close the connection when a body may follow.
    for what, request, wanted_status, wanted_allow in [
            ("TRACE /", "TRACE / HTTP/1.1\r\n" + HOST + "Connection: close\r\n\r\n", 405, b"Allow: GET\r\n"),
            ("an unknown method", "BREW / HTTP/1.1\r\n" + HOST + "\r\n", 405, b"Allow: GET, POST, DELETE\r\n"),
            ("PUT without a body", "PUT /api/pictures HTTP/1.1\r\n" + HOST + "Connection: close\r\n\r\n", 405, b"Allow: POST\r\n"),
            ("Content-Length -1", "POST /api/pictures HTTP/1.1\r\n" + HOST + "Content-Length: -1\r\n\r\n", 400, b""),
            ("Transfer-Encoding gzip", "POST /api/pictures HTTP/1.1\r\n" + HOST + "Transfer-Encoding: gzip\r\n\r\n",
             501, b""),
            ("a name that is not UTF-8", "POST /api/pictures?name=%FF%FEx HTTP/1.1\r\n" + HOST +
             "Content-Length: 3\r\nConnection: close\r\n\r\nabc", 400, b"")]:
        start = time.monotonic()
        answer = raw_exchange(request.encode(), timeout=10)
        seconds = time.monotonic() - start
        status, body = status_and_json(answer)
        checks.check(status == wanted_status and body is not None and isinstance(body.get("error"), str)
                     and wanted_allow in answer and seconds < 2,
                     "%s: %d with a JSON error in %.2f s (%r)" % (what, status, seconds, answer[:200]))

    # Error texts name the parameter as the HTTP interface does.
    status, _, body = server.request("POST", "/api/dehaze?thickness=abc&format=png", sample_bytes)
    checks.check(status == 400 and json.loads(body)["error"].startswith("thickness 'abc'"), "thickness named: %r" % body)

    # Formats the image library reads or writes only through a temporary file are refused,
    # and its temporary folder stays empty.
    hdr = b"#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 2 +X 2\n" + bytes([128, 128, 128, 129]) * 4
    status, _, body = server.request("POST", "/api/pictures?name=scene.hdr", hdr)
    checks.check(status == 400 and b"Radiance HDR" in body, "an HDR upload: 400 naming the format (%r)" % body)
    status, _, body = server.request("POST", "/api/dehaze?thickness=0.5&format=jp2", sample_bytes)
    checks.check(status == 400 and b"jp2" in body, "a .jp2 result: 400 (%r)" % body)
    checks.check(os.listdir(opencv_temp) == [], "nothing in the temporary folder: %r" % os.listdir(opencv_temp))

    checks.check(page_answers_within(5)[0], "the page still answers")
    checks.check(server.stop() == 0, "the server stops cleanly")
finally:
    server.kill()
    shutil.rmtree(scratch)

sys.exit(checks.finish())
