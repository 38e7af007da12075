#!/usr/bin/env python3
"""A stand-in for the account service over HTTPS, for tests: raw HTTP/1.1 on a TLS socket, so a test
controls every byte of each reply. What each path answers comes from a JSON script file, read again
at every request, e.g. { "/oauth/token": { "status": 200, "body": "{...}" } }. Keys of a behaviour:
    status          HTTP status code (default 200)
    body            reply body as text (UTF-8)
    body_base64     reply body as base64, for bytes that are not text
    size            a body of this many bytes ("x" repeated), instead of body
    content_type    Content-Type of the reply (default application/json)
    headers         further header fields, a list of [name, value] pairs
    chunks          chunked transfer coding: a number of pieces to cut the body into, or a list of texts
    stall_seconds   send the status line and header fields, then nothing for this long, then close
    trickle_seconds send the body one byte at a time, this many seconds apart
    drop            close the connection without any reply
Paths without an entry answer with defaults: a token reply for /oauth/token, a small profile for
/api/user, 404 otherwise. Each request is logged as one JSON line: the connection number, method,
target, header fields in order as [name, value] pairs, and the body as base64 and as text.
"""

import argparse
import base64
import http
import itertools
import json
import os
import signal
import socket
import ssl
import threading
import time

DEFAULT_BEHAVIOURS = {
    "/oauth/token": {"body": json.dumps({"access_token": "default-access-token",
                                         "refresh_token": "default-refresh-token",
                                         "token_type": "bearer"})},
    "/api/user": {"body": json.dumps({"id": 1, "name": "Test User"})},
}
NOT_FOUND = {"status": 404, "body": "{\"error\":\"not_found\"}"}
MAX_HEADER_BYTES = 64 * 1024
MAX_BODY_BYTES = 16 * 1024 * 1024

stopping = threading.Event()
log_lock = threading.Lock()
connection_numbers = itertools.count(1)


def behaviour_for(script_path, path):
    try:
        with open(script_path, encoding="utf-8") as f:
            script = json.load(f)
    except (TypeError, OSError, ValueError):
        script = {}
    return script[path] if path in script else DEFAULT_BEHAVIOURS.get(path, NOT_FOUND)


def log(log_path, entry):
    if log_path:
        with log_lock, open(log_path, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry, ensure_ascii=False) + "\n")


def read_request(stream, buffer):
    """Returns (method, target, headers, body, rest of buffer) or None at the end of the stream.
    Request bodies come with a Content-Length, as the product's transport sends them."""
    def fill(enough):
        nonlocal buffer
        while not enough():
            data = stream.recv(65536)
            if not data:
                return False
            buffer += data
        return True

    if not fill(lambda: b"\r\n\r\n" in buffer or len(buffer) > MAX_HEADER_BYTES) or b"\r\n\r\n" not in buffer:
        return None
    head, buffer = buffer.split(b"\r\n\r\n", 1)
    lines = head.decode("latin-1").split("\r\n")
    parts = lines[0].split(" ")
    if len(parts) != 3:
        return None
    headers = [[name, value.strip(" \t")] for name, _, value in (line.partition(":") for line in lines[1:])]
    length = int(next((v for n, v in headers if n.lower() == "content-length"), 0))
    if length > MAX_BODY_BYTES or not fill(lambda: len(buffer) >= length):
        return None
    return parts[0], parts[1], headers, buffer[:length], buffer[length:]


def send_reply(stream, behaviour, keep_alive):
    """Sends the scripted reply; returns whether the connection stays open."""
    status = int(behaviour.get("status", 200))
    if "size" in behaviour:
        body = b"x" * int(behaviour["size"])
    elif "body_base64" in behaviour:
        body = base64.b64decode(behaviour["body_base64"])
    else:
        body = behaviour.get("body", "").encode("utf-8")
    chunks = behaviour.get("chunks")
    try:
        reason = http.HTTPStatus(status).phrase
    except ValueError:
        reason = "Status"

    head = ["HTTP/1.1 %d %s" % (status, reason),
            "Content-Type: %s" % behaviour.get("content_type", "application/json")]
    head += ["%s: %s" % (name, value) for name, value in behaviour.get("headers", [])]
    head.append("Transfer-Encoding: chunked" if chunks is not None else "Content-Length: %d" % len(body))
    head.append("Connection: %s" % ("keep-alive" if keep_alive else "close"))
    stream.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1"))

    if "stall_seconds" in behaviour:
        stopping.wait(float(behaviour["stall_seconds"]))
        return False
    if "trickle_seconds" in behaviour:
        for i in range(len(body)):
            if stopping.wait(float(behaviour["trickle_seconds"])):
                return False
            stream.sendall(body[i:i + 1])
        return keep_alive
    if chunks is None:
        stream.sendall(body)
        return keep_alive

    if isinstance(chunks, list):
        pieces = [c.encode("utf-8") for c in chunks]
    else:
        step = max(1, -(-len(body) // max(1, int(chunks))))
        pieces = [body[i:i + step] for i in range(0, len(body), step)]
    for piece in filter(None, pieces):
        stream.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
    stream.sendall(b"0\r\n\r\n")
    return keep_alive


def serve_connection(arguments, context, connection):
    number = next(connection_numbers)
    stream = connection
    try:
        connection.settimeout(120)
        stream = context.wrap_socket(connection, server_side=True)
        buffer = b""
        while not stopping.is_set():
            request = read_request(stream, buffer)
            if request is None:
                break
            method, target, headers, body, buffer = request
            log(arguments.log, {"connection": number, "method": method, "path": target, "headers": headers,
                                "body_base64": base64.b64encode(body).decode("ascii"),
                                "body_text": body.decode("utf-8", errors="replace")})
            behaviour = behaviour_for(arguments.script, target.split("?", 1)[0])
            keep_alive = not any(n.lower() == "connection" and v.lower() == "close" for n, v in headers)
            if behaviour.get("drop") or not send_reply(stream, behaviour, keep_alive):
                break
    except (OSError, ssl.SSLError, ValueError):
        pass
    finally:
        try:
            stream.close()
        except OSError:
            pass


def main():
    parser = argparse.ArgumentParser(description="HTTPS stand-in for the account service")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    for name in ("--cert", "--key"):
        parser.add_argument(name, required=True)
    for name in ("--port-file", "--log", "--script"):
        parser.add_argument(name)
    arguments = parser.parse_args()

    for number in (signal.SIGTERM, signal.SIGINT):
        signal.signal(number, lambda *_: stopping.set())

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(arguments.cert, arguments.key)
    context.set_alpn_protocols(["http/1.1"])

    listener = socket.socket(socket.AF_INET6 if ":" in arguments.host else socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((arguments.host, arguments.port))
    listener.listen(64)
    listener.settimeout(0.1)

    if arguments.port_file:
        # Written whole and then renamed, so a reader never sees half a number.
        with open(arguments.port_file + ".tmp", "w", encoding="ascii") as f:
            f.write("%d\n" % listener.getsockname()[1])
        os.replace(arguments.port_file + ".tmp", arguments.port_file)

    # A test that dies without ending the server would otherwise leave it holding the test's output.
    parent = os.getppid()
    while not stopping.is_set() and os.getppid() == parent:
        try:
            connection, _ = listener.accept()
        except socket.timeout:
            continue
        except OSError:
            if stopping.is_set():
                break
            raise
        connection.setblocking(True)
        # Header and body go out in separate writes; without this, delayed acknowledgements add
        # tens of milliseconds to every reply.
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=serve_connection, args=(arguments, context, connection), daemon=True).start()

    listener.close()
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
