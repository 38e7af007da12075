#!/usr/bin/env python3
"""A stand-in for the account service over HTTPS, for tests.

Raw HTTP/1.1 on a TLS socket, so a test controls every byte of each reply. What each path answers
comes from a JSON script file that is read again at every request:

    { "/oauth/token": { "status": 200, "body": "{...}" },
      "/api/user":    { "stall_seconds": 30 } }

Keys of a behaviour (all optional):
    status          HTTP status code (default 200)
    body            reply body as text (UTF-8)
    body_base64     reply body as base64, for bytes that are not text
    size            a body of this many bytes ("x" repeated), instead of body
    content_type    Content-Type of the reply (default application/json)
    headers         further header fields, a list of [name, value] pairs
    chunks          send the body with chunked transfer coding: a number of pieces to cut it into,
                    or a list of texts to send as the pieces
    stall_seconds   send the status line and header fields, then nothing for this long, then close
    drop            close the connection without any reply

Paths without an entry answer with the defaults: a token reply for /oauth/token, a small profile for
/api/user, 404 for anything else. Every request is logged as one JSON line: the connection number,
method, target, header fields in order as [name, value] pairs, and the body as base64 and as text.

Ends cleanly on SIGTERM or SIGINT.
"""

import argparse
import base64
import json
import os
import signal
import socket
import ssl
import sys
import threading
import time

DEFAULT_BEHAVIOURS = {
    "/oauth/token": {
        "status": 200,
        "body": json.dumps({"access_token": "default-access-token",
                            "refresh_token": "default-refresh-token",
                            "token_type": "bearer"}),
    },
    "/api/user": {
        "status": 200,
        "body": json.dumps({"id": 1, "name": "Test User"}),
    },
}

REASONS = {200: "OK", 201: "Created", 204: "No Content", 301: "Moved Permanently", 302: "Found",
           400: "Bad Request", 401: "Unauthorized", 403: "Forbidden", 404: "Not Found",
           500: "Internal Server Error", 503: "Service Unavailable"}

MAX_HEADER_BYTES = 64 * 1024
MAX_BODY_BYTES = 16 * 1024 * 1024

stopping = threading.Event()


class Service:
    def __init__(self, script_path, log_path):
        self.script_path = script_path
        self.log_path = log_path
        self.log_lock = threading.Lock()
        self.connection_count = 0
        self.count_lock = threading.Lock()

    def next_connection_number(self):
        with self.count_lock:
            self.connection_count += 1
            return self.connection_count

    def behaviour_for(self, path):
        script = {}
        if self.script_path and os.path.exists(self.script_path):
            try:
                with open(self.script_path, "r", encoding="utf-8") as f:
                    script = json.load(f)
            except (OSError, ValueError):
                script = {}
        if path in script:
            return script[path]
        return DEFAULT_BEHAVIOURS.get(path, {"status": 404, "body": "{\"error\":\"not_found\"}"})

    def log(self, entry):
        if not self.log_path:
            return
        line = json.dumps(entry, ensure_ascii=False)
        with self.log_lock:
            with open(self.log_path, "a", encoding="utf-8") as f:
                f.write(line + "\n")
                f.flush()


def read_request(stream, buffer):
    """Returns (method, target, headers, body, rest of buffer) or None at the end of the stream."""
    while b"\r\n\r\n" not in buffer:
        if len(buffer) > MAX_HEADER_BYTES:
            return None
        data = stream.recv(65536)
        if not data:
            return None
        buffer += data

    head, buffer = buffer.split(b"\r\n\r\n", 1)
    lines = head.decode("latin-1").split("\r\n")
    parts = lines[0].split(" ")
    if len(parts) != 3:
        return None
    method, target = parts[0], parts[1]

    headers = []
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers.append([name, value.strip(" \t")])

    def header(name):
        for n, v in headers:
            if n.lower() == name:
                return v
        return None

    body = b""
    if (header("transfer-encoding") or "").lower() == "chunked":
        while True:
            while b"\r\n" not in buffer:
                data = stream.recv(65536)
                if not data:
                    return None
                buffer += data
            size_line, buffer = buffer.split(b"\r\n", 1)
            size = int(size_line.split(b";")[0], 16)
            while len(buffer) < size + 2:
                data = stream.recv(65536)
                if not data:
                    return None
                buffer += data
            body += buffer[:size]
            buffer = buffer[size + 2:]
            if size == 0:
                break
    else:
        length = int(header("content-length") or 0)
        if length > MAX_BODY_BYTES:
            return None
        while len(buffer) < length:
            data = stream.recv(65536)
            if not data:
                return None
            buffer += data
        body, buffer = buffer[:length], buffer[length:]

    return method, target, headers, body, buffer


def reply_body(behaviour):
    if "size" in behaviour:
        return b"x" * int(behaviour["size"])
    if "body_base64" in behaviour:
        return base64.b64decode(behaviour["body_base64"])
    return behaviour.get("body", "").encode("utf-8")


def send_reply(stream, behaviour, keep_alive):
    status = int(behaviour.get("status", 200))
    body = reply_body(behaviour)
    chunks = behaviour.get("chunks")

    head = ["HTTP/1.1 %d %s" % (status, REASONS.get(status, "Status")),
            "Content-Type: %s" % behaviour.get("content_type", "application/json")]
    head += ["%s: %s" % (name, value) for name, value in behaviour.get("headers", [])]
    if chunks is not None:
        head.append("Transfer-Encoding: chunked")
    else:
        head.append("Content-Length: %d" % len(body))
    head.append("Connection: %s" % ("keep-alive" if keep_alive else "close"))
    stream.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1"))

    if "stall_seconds" in behaviour:
        deadline = time.monotonic() + float(behaviour["stall_seconds"])
        while time.monotonic() < deadline and not stopping.is_set():
            time.sleep(0.05)
        return False

    if chunks is None:
        stream.sendall(body)
        return keep_alive

    if isinstance(chunks, list):
        pieces = [c.encode("utf-8") for c in chunks]
    else:
        count = max(1, int(chunks))
        step = max(1, -(-len(body) // count))
        pieces = [body[i:i + step] for i in range(0, len(body), step)]
    for piece in pieces:
        if piece:
            stream.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
    stream.sendall(b"0\r\n\r\n")
    return keep_alive


def serve_connection(service, context, connection):
    number = service.next_connection_number()
    stream = None
    try:
        connection.settimeout(120)
        stream = context.wrap_socket(connection, server_side=True)
        buffer = b""
        while not stopping.is_set():
            request = read_request(stream, buffer)
            if request is None:
                break
            method, target, headers, body, buffer = request
            service.log({
                "connection": number,
                "method": method,
                "path": target,
                "headers": headers,
                "body_base64": base64.b64encode(body).decode("ascii"),
                "body_text": body.decode("utf-8", errors="replace"),
            })
            behaviour = service.behaviour_for(target.split("?", 1)[0])
            if behaviour.get("drop"):
                break
            keep_alive = not any(n.lower() == "connection" and v.lower() == "close" for n, v in headers)
            if not send_reply(stream, behaviour, keep_alive):
                break
    except (OSError, ssl.SSLError, ValueError):
        pass
    finally:
        try:
            (stream or connection).close()
        except OSError:
            pass


def main():
    parser = argparse.ArgumentParser(description="HTTPS stand-in for the account service")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port-file")
    parser.add_argument("--log")
    parser.add_argument("--script")
    arguments = parser.parse_args()

    def stop(_signal, _frame):
        stopping.set()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(arguments.cert, arguments.key)
    context.set_alpn_protocols(["http/1.1"])

    family = socket.AF_INET6 if ":" in arguments.host else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((arguments.host, arguments.port))
    listener.listen(64)
    listener.settimeout(0.1)

    if arguments.port_file:
        # Written whole and then renamed, so a reader never sees half a number.
        temporary = arguments.port_file + ".tmp"
        with open(temporary, "w", encoding="ascii") as f:
            f.write("%d\n" % listener.getsockname()[1])
        os.replace(temporary, arguments.port_file)

    service = Service(arguments.script, arguments.log)

    while not stopping.is_set():
        try:
            connection, _ = listener.accept()
        except socket.timeout:
            continue
        except OSError:
            if stopping.is_set():
                break
            raise
        connection.setblocking(True)
        threading.Thread(target=serve_connection, args=(service, context, connection), daemon=True).start()

    listener.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
