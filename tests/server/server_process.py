"""`vantorel serve` as a real process on a free loopback port, for the server tests."""
import http.client
import os
import re
import select
import signal
import subprocess


class ServerProcess:
    """Starts `VANTOREL serve --port 0 ARGS...` and reads the address from its first line."""

    def __init__(self, vantorel, *args, env=None):
        self.process = subprocess.Popen([vantorel, "serve", "--port", "0", *args], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=env)
        ready, _, _ = select.select([self.process.stdout], [], [], 30)
        if not ready:
            self.process.kill()
            raise RuntimeError("the server printed nothing within 30 s")
        self.first_line = self.process.stdout.readline().decode()
        match = re.fullmatch(r"Serving on http://127\.0\.0\.1:(\d+)/\n", self.first_line)
        if not match:
            self.process.kill()
            raise RuntimeError("unexpected first line: %r" % self.first_line)
        self.port = int(match.group(1))
        self.url = "http://127.0.0.1:%d/" % self.port

    def request(self, method, path, body=None, headers=None, host=None):
        """(status, headers as a dict with lower-case names, body bytes)."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=300)
        try:
            all_headers = {"Content-Type": "application/octet-stream"} if body is not None else {}
            all_headers.update(headers or {})
            if host is not None:
                connection.putrequest(method, path, skip_host=True)
                connection.putheader("Host", host)
                for name, value in all_headers.items():
                    connection.putheader(name, value)
                connection.putheader("Content-Length", str(len(body or b"")))
                connection.endheaders(body)
            else:
                connection.request(method, path, body=body, headers=all_headers)
            response = connection.getresponse()
            return response.status, {k.lower(): v for k, v in response.getheaders()}, response.read()
        finally:
            connection.close()

    def stop(self, signal_number=signal.SIGTERM, timeout=60):
        """Sends the signal and returns the exit status."""
        self.process.send_signal(signal_number)
        status = self.process.wait(timeout=timeout)
        self.process.stdout.close()
        self.process.stderr.close()
        return status

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def command_line_result(vantorel, source, result, thickness, *options):
    """The bytes `vantorel [OPTIONS] SOURCE RESULT THICKNESS` writes."""
    subprocess.run([vantorel, *options, source, result, thickness], check=True, stdout=subprocess.DEVNULL)
    data = read_file(result)
    os.remove(result)
    return data


class Checks:
    """Counts failed checks; a test script exits with 1 when any failed."""

    def __init__(self):
        self.failures = 0
        self.count = 0

    def check(self, condition, what):
        self.count += 1
        if not condition:
            self.failures += 1
            print("FAIL:", what, flush=True)
        return condition

    def finish(self):
        print("%d checks, %d failed" % (self.count, self.failures))
        return 1 if self.failures else 0
