#!/usr/bin/env python3
"""Calls Orvessa's JSON-RPC methods from a terminal, over one WebSocket connection.

Usage: orvessa-call.py [--port N] [--origin URL] [--listen SECONDS] METHOD [PARAMS] [METHOD [PARAMS]...]

PARAMS is JSON: an array (by position) or an object (by name). The calls run in order on one
connection, so a subscription made by one call holds for the rest of the run. Every message
Orvessa sends is printed as it arrives; with --listen the connection stays open that many
seconds after the last answer, to show the pushes.

Only Python's standard library is used. Orvessa admits a client only when its Origin is on the
allow-list the program was built with; pass one of those with --origin.
"""
import argparse
import base64
import json
import os
import socket
import struct
import sys
import time


class WebSocket:
    def __init__(self, host, port, origin, timeout):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        request = (f"GET / HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                   f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\nOrigin: {origin}\r\n\r\n")
        self.sock.sendall(request.encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise ConnectionError("the server closed the connection during the handshake "
                                      "(is the Origin on the allow-list?)")
            head += chunk
        head, self.pending = head.split(b"\r\n\r\n", 1)
        status = head.split(b"\r\n", 1)[0].decode(errors="replace")
        if " 101 " not in status:
            raise ConnectionError(f"handshake refused: {status}")

    def _read(self, count):
        while len(self.pending) < count:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("connection closed")
            self.pending += chunk
        data, self.pending = self.pending[:count], self.pending[count:]
        return data

    def _send_frame(self, opcode, payload):
        mask = os.urandom(4)
        length = len(payload)
        if length < 126:
            header = struct.pack("!BB", 0x80 | opcode, 0x80 | length)
        elif length < 65536:
            header = struct.pack("!BBH", 0x80 | opcode, 0x80 | 126, length)
        else:
            header = struct.pack("!BBQ", 0x80 | opcode, 0x80 | 127, length)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(header + mask + masked)

    def send_text(self, text):
        self._send_frame(0x1, text.encode())

    def receive_text(self):
        """Returns the next text message, or None once the server has closed."""
        message = b""
        while True:
            first, second = self._read(2)
            opcode, length = first & 0x0F, second & 0x7F
            if length == 126:
                length = struct.unpack("!H", self._read(2))[0]
            elif length == 127:
                length = struct.unpack("!Q", self._read(8))[0]
            payload = self._read(length)
            if opcode == 0x8:
                return None
            if opcode == 0x9:
                self._send_frame(0xA, payload)
                continue
            if opcode in (0x0, 0x1):
                message += payload
                if first & 0x80:
                    return message.decode()

    def close(self):
        try:
            self._send_frame(0x8, struct.pack("!H", 1000))
        finally:
            self.sock.close()


def parse_calls(words):
    calls = []
    for word in words:
        if word[:1] in "[{" and calls and calls[-1][1] is None:
            calls[-1][1] = json.loads(word)
        else:
            calls.append([word, None])
    return calls


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=7351)
    parser.add_argument("--origin", default="https://orvessa.example")
    parser.add_argument("--listen", type=float, default=0, help="seconds to keep printing pushes")
    parser.add_argument("--timeout", type=float, default=10, help="seconds to wait for each answer")
    parser.add_argument("calls", nargs="+", metavar="METHOD [PARAMS]")
    options = parser.parse_args()

    try:
        ws = WebSocket("127.0.0.1", options.port, options.origin, options.timeout)
    except OSError as error:
        print(f"orvessa-call.py: {error}", file=sys.stderr)
        return 1
    try:
        for number, (method, params) in enumerate(parse_calls(options.calls), start=1):
            request = {"jsonrpc": "2.0", "id": number, "method": method}
            if params is not None:
                request["params"] = params
            text = json.dumps(request)
            print(">>> " + text, flush=True)
            ws.send_text(text)
            while True:
                reply = ws.receive_text()
                if reply is None:
                    print("<<< (connection closed)")
                    return 1
                print("<<< " + reply.rstrip(), flush=True)
                if json.loads(reply).get("id") == str(number):
                    break
        deadline = time.monotonic() + options.listen
        while time.monotonic() < deadline:
            ws.sock.settimeout(max(0.01, deadline - time.monotonic()))
            try:
                reply = ws.receive_text()
            except socket.timeout:
                break
            if reply is None:
                break
            print("<<< " + reply.rstrip(), flush=True)
    finally:
        ws.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
