#!/usr/bin/python3
"""A local HTTPS job server for the job server client's tests.

Started with a working folder: it makes its own test CA and server
certificate there with openssl, listens on a free loopback port and writes
"<port>\n" to <folder>/port when it is ready. With "--end-with-parent" after
the folder it ends when the process that started it does. It serves the token endpoint
"/connect/token" and the job server requests (the last path segment names
the request: "hentAdJobListe", "hentAdJob?brovaltId=<id>", "gemAdJobsvar").

Before every request it reads <folder>/scenario, a sequence of entries

    <key> <length>\n<length bytes>\n

with the keys
    auth           the Base64 credential the token endpoint expects
    token          the token endpoint's answer body
    bearer         the Authorization value the job server expects
    list           the job list body
    job:<id>       the body of job <id>
    upload         the body of the answer to "gemAdJobsvar"
    fault:<name>   how to answer request <name> ("token" for the token
                   endpoint): "404", "500", "nolength", "drop", "cut",
                   "empty", "slow <seconds>", "big <bytes>"

Every request is appended to <folder>/requests as

    REQUEST <method> <path>\n
    HEADER <name>: <value>\n            (as received, in order)
    BODY <length>\n<length bytes>\n
    END\n
"""

import http.server
import os
import socket
import ssl
import subprocess
import sys
import threading
import time

FOLDER = sys.argv[1]
RECORD_LOCK = threading.Lock()


def make_certificates(folder):
    def run(*args):
        subprocess.run(["openssl", *args], check=True, cwd=folder,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    run("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
        "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
        "-subj", "/CN=Tavlevagt test CA")
    run("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
        "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost")
    with open(os.path.join(folder, "san.cnf"), "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "san.cnf")


def read_scenario():
    entries = {}
    try:
        with open(os.path.join(FOLDER, "scenario"), "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return entries
    pos = 0
    while pos < len(data):
        end = data.index(b"\n", pos)
        key, length = data[pos:end].decode("utf-8").rsplit(" ", 1)
        start = end + 1
        entries[key] = data[start:start + int(length)]
        pos = start + int(length) + 1
    return entries


def record(method, path, raw_headers, body):
    out = bytearray()
    out += b"REQUEST %s %s\n" % (method.encode("latin-1"), path.encode("latin-1"))
    for name, value in raw_headers:
        out += b"HEADER %s: %s\n" % (name.encode("latin-1"), value.encode("latin-1"))
    out += b"BODY %d\n" % len(body) + body + b"\nEND\n"
    with RECORD_LOCK:
        with open(os.path.join(FOLDER, "requests"), "ab") as f:
            f.write(out)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body, length=True):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        if length:
            self.send_header("Content-Length", str(len(body)))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if length > 0 else b""
        record(self.command, self.path, self.headers.items(), body)
        scenario = read_scenario()

        if self.path == "/connect/token":
            name = "token"
        else:
            name = self.path.rsplit("/", 1)[-1]

        fault = scenario.get("fault:" + name, b"").decode("utf-8")
        if fault.startswith("slow "):
            time.sleep(float(fault.split()[1]))
            fault = ""
        if fault == "drop":
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if fault in ("404", "500"):
            self.answer(int(fault), b"fejl")
            return
        if fault.startswith("big "):
            self.answer(200, b"A" * int(fault.split()[1]))
            return

        if name == "token":
            status, answer = self.token(scenario, body)
        else:
            status, answer = self.job_server(scenario, name)

        if fault == "empty":
            answer = b""
        if fault == "nolength":
            self.answer(status, answer, length=False)
        elif fault == "cut":
            self.send_response(status)
            self.send_header("Content-Length", str(len(answer) + 100))
            self.end_headers()
            self.wfile.write(answer)
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
        else:
            self.answer(status, answer)

    def token(self, scenario, body):
        expected = b"Basic " + scenario.get("auth", b"dGVzdDpzZWNyZXQ=")
        if (self.headers.get("Authorization", "").encode("latin-1") != expected
                or self.headers.get("Content-Type") != "application/x-www-form-urlencoded"
                or body != b"grant_type=client_credentials"):
            return 401, b'{"error":"invalid_client"}'
        return 200, scenario.get(
            "token",
            b'{"access_token":"abc.def","expires_in":3600,"token_type":"Bearer","scope":"ad"}')

    def job_server(self, scenario, name):
        expected = scenario.get("bearer", b"Bearer abc.def")
        if self.headers.get("Authorization", "").encode("latin-1") != expected:
            return 401, b"unauthorized"
        if name == "hentAdJobListe":
            return 200, scenario.get("list", b"")
        if name.startswith("hentAdJob?brovaltId="):
            key = "job:" + name[len("hentAdJob?brovaltId="):]
            if key in scenario:
                return 200, scenario[key]
            return 404, b"ukendt job"
        if name == "gemAdJobsvar":
            return 200, scenario.get("upload", b"OK")
        return 404, b"ukendt"


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, context):
        super().__init__(("127.0.0.1", 0), Handler)
        self.context = context

    def finish_request(self, request, client_address):
        try:
            request = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        super().finish_request(request, client_address)


def end_with_parent():
    # A test that crashes cannot stop its server; one left running would keep
    # the test runner's output pipe open and hold the whole run up.
    parent = os.getppid()
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


def main():
    # Started by a test itself (not by a fixture script that detaches it).
    if "--end-with-parent" in sys.argv[2:]:
        threading.Thread(target=end_with_parent, daemon=True).start()
    make_certificates(FOLDER)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(FOLDER, "server.pem"), os.path.join(FOLDER, "server.key"))
    server = Server(context)
    with open(os.path.join(FOLDER, "port.part"), "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.rename(os.path.join(FOLDER, "port.part"), os.path.join(FOLDER, "port"))
    server.serve_forever()


if __name__ == "__main__":
    main()
