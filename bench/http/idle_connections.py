#!/usr/bin/env python3
"""The server's memory with many idle kept-alive connections open while
sign-ins go on.

    idle_connections.py --port PORT --pid PID [--connections 1000]
                        [--seconds 30] [--signers 2]

The idle connections come from 127.0.0.2 onwards, 250 from each address
(under the default cap per address); each asks for the sign-in page once
and then again every 3 seconds, so that the server keeps it alive. Meanwhile
--signers threads sign in as ann, one after the other. Prints the server's
resident memory (VmRSS) before, at its highest and at the end, the sign-ins
done, and how many idle connections were refused or lost.
"""
import argparse
import http.client
import json
import socket
import threading
import time

PER_ADDRESS = 250


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def read_answer(sock):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(body) < length:
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("closed")
        body += chunk
    return head.split(b"\r\n")[0]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--connections", type=int, default=1000)
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--signers", type=int, default=2)
    args = parser.parse_args()

    request = b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
    before = rss_kib(args.pid)
    peak = before
    idle = []
    refused = 0
    for i in range(args.connections):
        source = f"127.0.0.{2 + i // PER_ADDRESS}"
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.settimeout(20)
        try:
            sock.bind((source, 0))
            sock.connect(("127.0.0.1", args.port))
            sock.sendall(request)
            if read_answer(sock) != b"HTTP/1.1 200 OK":
                raise ConnectionError("refused")
            idle.append(sock)
        except (OSError, ConnectionError):
            refused += 1
            sock.close()

    done = threading.Event()
    counts = {"ok": 0, "failed": 0}
    lock = threading.Lock()

    def sign_in():
        form = "LoginName=ann&LoginPwd=ann123&oldwin=true"
        while not done.is_set():
            conn = http.client.HTTPConnection("127.0.0.1", args.port, timeout=20)
            try:
                conn.request("POST", "/", form, {
                    "Content-Type": "application/x-www-form-urlencoded"})
                ok = conn.getresponse().status == 302
            except OSError:
                ok = False
            finally:
                conn.close()
            with lock:
                counts["ok" if ok else "failed"] += 1

    signers = [threading.Thread(target=sign_in) for _ in range(args.signers)]
    for t in signers:
        t.start()
    lost = 0
    end = time.monotonic() + args.seconds
    while time.monotonic() < end:
        round_start = time.monotonic()
        kept = []
        for sock in idle:
            try:
                sock.sendall(request)
                read_answer(sock)
                kept.append(sock)
            except (OSError, ConnectionError):
                lost += 1
                sock.close()
        idle = kept
        peak = max(peak, rss_kib(args.pid))
        time.sleep(max(0.0, 3 - (time.monotonic() - round_start)))
    done.set()
    for t in signers:
        t.join()
    peak = max(peak, rss_kib(args.pid))
    print(json.dumps({
        "connections": args.connections,
        "held_open": len(idle),
        "refused": refused,
        "lost": lost,
        "signins_ok": counts["ok"],
        "signins_failed": counts["failed"],
        "rss_before_kib": before,
        "rss_peak_kib": peak,
        "rss_end_kib": rss_kib(args.pid),
    }))
    for sock in idle:
        sock.close()


if __name__ == "__main__":
    main()
