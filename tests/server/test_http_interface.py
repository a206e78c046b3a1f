"""The HTTP interface of `vantorel serve`, through the real process on a free loopback port:
results byte-identical to the command line's, every error status with the server still
answering, eight requests at once, the Host and Origin refusals, a clean stop on SIGTERM
(with a dehaze running) and on SIGINT.
    test_http_interface.py VANTOREL TEST_IMAGE TEST_METADATA SOURCE_DIR
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from server_process import Checks, ServerProcess, command_line_result, read_file  # noqa: E402

vantorel, test_image, test_metadata, source_dir = sys.argv[1:5]
checks = Checks()
scratch = tempfile.mkdtemp()
server_tmp = os.path.join(scratch, "server-tmp")
os.mkdir(server_tmp)
os.chdir(scratch)

sample = os.path.join(source_dir, "samples", "hazy_mountains.jpg")
sample_bytes = read_file(sample)
# A small photo with camera data, a turned orientation and a colour profile: its result
# must carry them exactly as the command line's does.
subprocess.run([test_image, "scale", sample, "400", "266", "tagged.jpg"], check=True)
subprocess.run([test_metadata, "tag", "tagged.jpg", "6"], check=True)
tagged_bytes = read_file("tagged.jpg")

server = ServerProcess(vantorel, "--max-upload-mb", "1", "--max-pictures", "2",
                       env=dict(os.environ, TMPDIR=server_tmp))


def still_serving(after):
    status, headers, body = server.request("GET", "/")
    checks.check(status == 200 and b"<html" in body, "the page is still served after " + after)


def expect_error(status_wanted, after, method, path, body=None, headers=None, host=None):
    status, headers_got, body_got = server.request(method, path, body, headers, host)
    ok = checks.check(status == status_wanted, "%s: status %d, wanted %d (%r)" % (after, status, status_wanted,
                                                                                  body_got[:200]))
    if ok:
        try:
            message = json.loads(body_got)["error"]
            checks.check(isinstance(message, str) and message, after + ": a message in {\"error\": ...}")
        except (ValueError, KeyError):
            checks.check(False, after + ": the body is JSON with an error: %r" % body_got[:200])
    still_serving(after)
    return headers_got


try:
    checks.check(server.first_line == "Serving on http://127.0.0.1:%d/\n" % server.port, "the first line")

    # The page's files, compiled into the executable, are the repository's.
    for path, name, wanted_type in [("/", "index.html", "text/html"), ("/page.css", "page.css", "text/css"),
                                    ("/page.js", "page.js", "text/javascript")]:
        status, headers, body = server.request("GET", path)
        checks.check(status == 200 and body == read_file(os.path.join(source_dir, "src", "server", "page", name))
                     and headers.get("content-type", "").startswith(wanted_type), "GET %s serves %s" % (path, name))

    # One-shot: the same bytes as the command line, in each format, with the metadata.
    for source_name, source_bytes, source_path in [("sample", sample_bytes, sample),
                                                   ("tagged", tagged_bytes, "tagged.jpg")]:
        for extension, thickness in [("jpg", "0.9"), ("png", "0.55"), ("webp", "0.3")]:
            status, headers, body = server.request(
                "POST", "/api/dehaze?thickness=%s&format=%s" % (thickness, extension), source_bytes)
            expected = command_line_result(vantorel, source_path, "expected." + extension, thickness)
            checks.check(status == 200 and body == expected,
                         "one-shot %s %s %s: byte-identical to the command line's (status %d, %d vs %d bytes)"
                         % (source_name, extension, thickness, status, len(body), len(expected)))
            wanted_type = {"jpg": "image/jpeg", "png": "image/png", "webp": "image/webp"}[extension]
            checks.check(headers.get("content-type") == wanted_type, "Content-Type of " + extension)

    # Output options, named like the command line's, give the command line's bytes.
    for extension, query, cli_options in [("jpg", "&jpeg-quality=40", ["--jpeg-quality", "40"]),
                                          ("jpg", "&strip-metadata=1", ["--strip-metadata"]),
                                          ("webp", "&webp-quality=60", ["--webp-quality", "60"]),
                                          ("png", "&png-compression=9&strip-metadata=1",
                                           ["--png-compression", "9", "--strip-metadata"])]:
        status, _, body = server.request("POST", "/api/dehaze?thickness=0.8&format=%s%s" % (extension, query),
                                         tagged_bytes)
        expected = command_line_result(vantorel, "tagged.jpg", "expected." + extension, "0.8", *cli_options)
        checks.check(status == 200 and body == expected, "one-shot with %s: the command line's bytes" % query)
        if "strip" in query:
            checks.check(b"Exif" not in body and (b"iCCP" in body or b"ICC_PROFILE" in body),
                         "strip-metadata leaves out EXIF and keeps the colour profile")

    # look=natural gives the command line's --look natural bytes, not the classic ones.
    status, _, body = server.request("POST", "/api/dehaze?thickness=0.8&format=png&look=natural", tagged_bytes)
    expected = command_line_result(vantorel, "tagged.jpg", "natural.png", "0.8", "--look", "natural")
    classic = command_line_result(vantorel, "tagged.jpg", "classic.png", "0.8")
    checks.check(status == 200 and body == expected and body != classic,
                 "one-shot with look=natural: the command line's --look natural bytes")

    # Each error gets its status and a message, and the server goes on.
    expect_error(400, "a body that is not a picture", "POST", "/api/dehaze?thickness=0.5&format=jpg", b"not a picture")
    expect_error(400, "an empty body", "POST", "/api/dehaze?thickness=0.5&format=jpg", b"")
    for query, what in [("thickness=abc&format=jpg", "a thickness that is not a number"),
                        ("thickness=1.5&format=jpg", "a thickness above 1"),
                        ("thickness=-0.5&format=jpg", "a negative thickness"),
                        ("thickness=0.05&format=jpg", "a thickness below 0.1"),
                        ("format=jpg", "no thickness"),
                        ("thickness=0.5&format=pgm", "a format that cannot hold colour"),
                        ("thickness=0.5&format=exe", "an unknown format"),
                        ("thickness=0.5", "no format"),
                        ("thickness=0.5&format=jpg&jpeg-quality=101", "a JPEG quality above 100"),
                        ("thickness=0.5&format=jpg&jpeg_quality=80", "an unknown parameter"),
                        ("thickness=0.5&format=jpg&look=vivid", "an unknown look")]:
        expect_error(400, what, "POST", "/api/dehaze?" + query, sample_bytes)
    expect_error(413, "a body over the upload limit", "POST", "/api/dehaze?thickness=0.5&format=jpg",
                 os.urandom(3 << 20))
    subprocess.run([test_image, "craft", "claimed_size", "200000", "200000", "huge.png"], check=True)
    expect_error(413, "a picture too large for memory", "POST", "/api/dehaze?thickness=0.5&format=png",
                 read_file("huge.png"))
    expect_error(413, "an upload too large for memory", "POST", "/api/pictures", read_file("huge.png"))
    expect_error(404, "an unknown path", "GET", "/etc/passwd")
    expect_error(404, "an unknown picture", "GET", "/api/pictures/0123456789abcdef0123456789abcdef/original")
    headers = expect_error(405, "a GET of the one-shot call", "GET", "/api/dehaze?thickness=0.5&format=jpg")
    checks.check(headers.get("allow") == "POST", "405 says what is allowed: " + repr(headers.get("allow")))
    expect_error(405, "a PUT of a picture", "PUT", "/api/pictures", b"x")

    # Only this server's own address and page: others are refused before any work.
    port = server.port
    for host in ["evil.example:%d" % port, "evil.example", "127.0.0.1:%d" % (port + 1), "localhost.evil.example:%d" % port]:
        expect_error(403, "Host " + host, "GET", "/", host=host)
    for origin in ["http://evil.example", "null", "http://localhost:%d" % (port + 1), "https://127.0.0.1:%d" % port]:
        expect_error(403, "Origin " + origin, "POST", "/api/dehaze?thickness=0.5&format=jpg", sample_bytes,
                     {"Origin": origin})
    expect_error(403, "Sec-Fetch-Site cross-site", "GET", "/", headers={"Sec-Fetch-Site": "cross-site"})
    status, _, _ = server.request("GET", "/", host="localhost:%d" % port, headers={"Origin": "http://localhost:%d" % port})
    checks.check(status == 200, "localhost with its own origin is served")

    # A picture kept by id: its views, and the saved result as the command line writes it.
    status, headers, body = server.request("POST", "/api/pictures?name=tagged.jpg", tagged_bytes)
    held = json.loads(body) if status == 201 else {}
    checks.check(status == 201 and held.get("width") == 266 and held.get("height") == 400,
                 "upload: 201 with the upright size: %d %r" % (status, body[:200]))
    picture = "/api/pictures/" + held.get("id", "none")
    status, headers, body = server.request("GET", picture + "/exact?thickness=0.62&width=100&height=100")
    checks.check(status == 200 and headers.get("content-type") == "image/png" and float(headers["x-dehaze-seconds"]) > 0,
                 "exact view: a PNG and the pipeline's time")
    with open("view.png", "wb") as f:
        f.write(body)
    info = subprocess.run([test_image, "info", "view.png"], capture_output=True, text=True).stdout.split()
    checks.check(info[:2] == ["67", "100"], "exact view fitted in 100 x 100: %r" % info)
    status, headers, body = server.request("GET", picture + "/preview?thickness=0.62&view=map")
    checks.check(status == 200 and headers.get("content-type") == "image/jpeg", "quick preview of the map")
    for extension, options, cli_options in [("jpg", "", []), ("png", "", []),
                                            ("jpg", "&jpeg-quality=70&strip-metadata=1",
                                             ["--jpeg-quality", "70", "--strip-metadata"]),
                                            ("png", "&look=natural", ["--look", "natural"])]:
        status, headers, body = server.request("GET", picture + "/result?thickness=0.62&format=" + extension + options)
        expected = command_line_result(vantorel, "tagged.jpg", "expected." + extension, "0.62", *cli_options)
        checks.check(status == 200 and body == expected,
                     "saved result %s%s: the command line's bytes" % (extension, options))

    # A 16-bit picture: described as such, its results deep in PNG and TIFF by default, 8 bits
    # with depth=8, and depth=16 into JPEG refused naming the format; the command line's bytes.
    subprocess.run([test_image, "make", "rgb16", "90", "60", "deep.png"], check=True)
    status, headers, body = server.request("POST", "/api/pictures?name=deep.png", read_file("deep.png"))
    deep = json.loads(body) if status == 201 else {}
    checks.check(status == 201 and deep.get("depth") == 16, "upload of a 16-bit picture: depth 16: %r" % body[:200])
    deep_picture = "/api/pictures/" + deep.get("id", "none")
    for extension, options, cli_options, layout in [("png", "", [], "90 60 3 16"), ("tif", "", [], "90 60 3 16"),
                                                    ("png", "&depth=8", ["--depth", "8"], "90 60 3 8"),
                                                    ("jpg", "", [], "90 60 3 8")]:
        status, headers, body = server.request("GET", deep_picture + "/result?thickness=0.8&format=" + extension + options)
        expected = command_line_result(vantorel, "deep.png", "expected." + extension, "0.8", *cli_options)
        with open("got." + extension, "wb") as f:
            f.write(body)
        info = subprocess.run([test_image, "info", "got." + extension], capture_output=True, text=True).stdout.strip()
        checks.check(status == 200 and body == expected and info == layout,
                     "16-bit source saved as %s%s: %s, the command line's bytes" % (extension, options, info))
    expect_error(400, "depth=16 into JPEG", "GET", deep_picture + "/result?thickness=0.8&format=jpg&depth=16")
    status, headers, body = server.request("GET", deep_picture + "/result?thickness=0.8&format=jpg&depth=16")
    checks.check(b"JPEG cannot hold 16 bits" in body, "depth=16 into JPEG names the format: %r" % body[:200])
    expect_error(400, "depth=12", "GET", deep_picture + "/result?thickness=0.8&format=png&depth=12")
    status, headers, body = server.request("GET", deep_picture + "/exact?thickness=0.8&width=50&height=50")
    with open("deep_view.png", "wb") as f:
        f.write(body)
    info = subprocess.run([test_image, "info", "deep_view.png"], capture_output=True, text=True).stdout.split()
    checks.check(status == 200 and info[3:] == ["8"], "the page's view of a 16-bit result is 8-bit: %r" % info)
    server.request("DELETE", deep_picture)

    # At most two pictures are kept: a third upload drops the least recently used.
    ids = [json.loads(server.request("POST", "/api/pictures", sample_bytes)[2])["id"] for _ in range(2)]
    checks.check(server.request("GET", picture)[0] == 404, "the oldest picture was dropped for the third")
    checks.check(all(server.request("GET", "/api/pictures/" + i)[0] == 200 for i in ids), "the newer two are kept")
    checks.check(server.request("DELETE", "/api/pictures/" + ids[0])[0] == 204, "DELETE forgets a picture")
    expect_error(404, "a deleted picture", "GET", "/api/pictures/%s/original" % ids[0])

    # Eight requests at once, each answered with its own thickness's result.
    thicknesses = ["0.2", "0.3", "0.4", "0.5", "0.6", "0.7", "0.8", "1"]
    answers = {}

    def one_shot(thickness):
        answers[thickness] = server.request("POST", "/api/dehaze?thickness=%s&format=png" % thickness, tagged_bytes)

    threads = [threading.Thread(target=one_shot, args=(t,)) for t in thicknesses]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for thickness in thicknesses:
        expected = command_line_result(vantorel, "tagged.jpg", "expected.png", thickness)
        status, _, body = answers[thickness]
        checks.check(status == 200 and body == expected, "concurrent request at %s: the command line's bytes" % thickness)

    # SIGTERM while a dehaze runs: the request finishes (or is cut), the status is 0.
    in_flight = {}

    def long_request():
        try:
            in_flight["answer"] = server.request("POST", "/api/dehaze?thickness=0.9&format=png", sample_bytes)
        except (ConnectionError, OSError) as error:
            in_flight["answer"] = error

    request_thread = threading.Thread(target=long_request)
    request_thread.start()
    time.sleep(0.3)
    status = server.stop()
    request_thread.join()
    checks.check(status == 0, "SIGTERM stops the server with status 0, not %s" % status)
    answer = in_flight.get("answer")
    expected = command_line_result(vantorel, sample, "expected.png", "0.9")
    checks.check(isinstance(answer, OSError) or (answer[0] == 200 and answer[2] == expected),
                 "the request running at the stop was finished correctly or cut: " + repr(answer)[:200])
    checks.check(os.listdir(server_tmp) == [], "no temporary files left: %r" % os.listdir(server_tmp))

    server = ServerProcess(vantorel)
    checks.check(server.request("GET", "/")[0] == 200, "a second server answers")
    checks.check(server.stop(signal.SIGINT) == 0, "SIGINT stops the server with status 0")
finally:
    server.kill()
    shutil.rmtree(scratch)

sys.exit(checks.finish())
