#!/usr/bin/env python3
"""kwsnmpd under load, as managers on loopback see it. Two runs of kwsnmpd (simulated panel):

1. Resend storm: resident memory idle, then after one 600-varbind GET is sent and resent
   10,000 times with the same request id while it is in flight; the replies that come back and
   the panel commands it took.
2. Flood: one manager sends back-to-back GETs of 120 display varbinds while another sends
   single GETs; the second one's p50/p99; panel commands per display varbind answered; then
   SIGTERM under the flood: time to exit, exit status, runtime directory left behind.

Requests go to 127.0.0.1 only and every loop is bounded in count and time. Raw UDP with a
minimal BER encoder, so the exact bytes of a request can be resent.

usage: bench/load.py [--kwsnmpd build/bin/kwsnmpd] [--window 20] [--storm-wait 90]
"""
import argparse
import os
import re
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CONTROL = (1, 3, 6, 1, 4, 1, 32473, 1, 1, 1)


def tlv(tag, body):
    n = len(body)
    if n < 0x80:
        head = bytes([n])
    else:
        size = n.to_bytes((n.bit_length() + 7) // 8, "big")
        head = bytes([0x80 | len(size)]) + size
    return bytes([tag]) + head + body


def integer(value):
    return tlv(0x02, value.to_bytes(max(1, (value.bit_length() + 8) // 8), "big", signed=True))


def oid(arcs):
    body = bytearray([40 * arcs[0] + arcs[1]])
    for arc in arcs[2:]:
        chunk = [arc & 0x7F]
        arc >>= 7
        while arc:
            chunk.append(0x80 | (arc & 0x7F))
            arc >>= 7
        body += bytes(reversed(chunk))
    return tlv(0x06, bytes(body))


def get_request(request_id, oids, community=b"public"):
    varbinds = b"".join(tlv(0x30, oid(o) + b"\x05\x00") for o in oids)
    pdu = tlv(0xA0, integer(request_id) + integer(0) + integer(0) + tlv(0x30, varbinds))
    return tlv(0x30, integer(1) + tlv(0x04, community) + pdu)


def read_tlv(data, at):
    tag, n = data[at], data[at + 1]
    at += 2
    if n & 0x80:
        count = n & 0x7F
        n = int.from_bytes(data[at:at + count], "big")
        at += count
    return tag, at, n


def response_id(data):
    """The request id of a response, or None."""
    try:
        _, at, _ = read_tlv(data, 0)  # message
        for _ in range(2):  # version, community
            _, body, n = read_tlv(data, at)
            at = body + n
        tag, at, _ = read_tlv(data, at)
        if tag != 0xA2:
            return None
        _, body, n = read_tlv(data, at)
        return int.from_bytes(data[body:body + n], "big", signed=True)
    except IndexError:
        return None


def readable_oids():
    """kwdControl's readable scalars, from the agent's object table."""
    text = open(os.path.join(HERE, "..", "snmp", "ObjectTable.cpp")).read()
    rows = re.findall(r'\{(\d+), "kwd\w+", (RW|RO|WO),', text)
    return [CONTROL + (int(index) + 1, 0) for index, access in rows if access != "WO"]


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class Agent:
    def __init__(self, kwsnmpd, base):
        probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        probe.bind(("127.0.0.1", 0))
        self.port = probe.getsockname()[1]
        probe.close()
        args = [kwsnmpd, "--verbose", "--listen", f"udp:127.0.0.1:{self.port}"]
        help_text = subprocess.run([kwsnmpd, "--help"], capture_output=True, text=True).stdout
        if "--max-varbinds" in help_text:
            args += ["--max-varbinds", "600"]
        # A base of its own, to see whether its runtime directory is left behind.
        self.base = os.path.join(base, str(self.port))
        os.mkdir(self.base, 0o700)
        self.err_path = os.path.join(base, f"stderr.{self.port}")
        self.err = open(self.err_path, "w")
        env = dict(os.environ, TMPDIR=self.base)
        self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=self.err, env=env)
        deadline = time.monotonic() + 15
        while "listening on" not in self.stderr():
            if self.proc.poll() is not None or time.monotonic() > deadline:
                sys.exit("bench-load: kwsnmpd did not start:\n" + self.stderr())
            time.sleep(0.05)

    def stderr(self):
        with open(self.err_path, errors="replace") as f:
            return f.read()

    def panel_commands(self):
        return sum(1 for line in self.stderr().splitlines() if line.startswith("kwsnmpd: panel cmd"))

    def stop(self):
        start = time.monotonic()
        self.proc.send_signal(signal.SIGTERM)
        try:
            status = self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            status = "killed after 15 s"
        left = "yes" if os.listdir(self.base) else "no"
        return time.monotonic() - start, f"{status}, runtime directory left: {left}"


class Manager:
    """One manager: its own socket, request ids of its own."""

    def __init__(self, port, first_id):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.connect(("127.0.0.1", port))
        self.next_id = first_id

    def get(self, oids, timeout):
        """Seconds to the matching response, or None after `timeout`."""
        request_id = self.next_id
        self.next_id += 1
        start = time.monotonic()
        self.sock.send(get_request(request_id, oids))
        while True:
            left = start + timeout - time.monotonic()
            if left <= 0:
                return None
            self.sock.settimeout(left)
            try:
                if response_id(self.sock.recv(65535)) == request_id:
                    return time.monotonic() - start
            except socket.timeout:
                return None


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def storm(kwsnmpd, base, oids, wait):
    print("== resend storm: one 600-varbind GET, resent 10,000 times with the same request id")
    agent = Agent(kwsnmpd, base)
    Manager(agent.port, 1).get([(1, 3, 6, 1, 2, 1, 1, 1, 0)], 5)  # sysDescr: the agent is up
    time.sleep(1)
    idle = rss_kb(agent.proc.pid)
    print(f"RSS idle: {idle / 1024:.1f} MB")

    request = get_request(424242, [oids[i % len(oids)] for i in range(600)])
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 22)
    sock.connect(("127.0.0.1", agent.port))
    commands_before = agent.panel_commands()
    start = time.monotonic()
    for i in range(10000):
        sock.send(request)
        if i % 200 == 199:
            time.sleep(0.01)  # a little pacing, so the agent's socket buffer keeps up
    sent = time.monotonic() - start
    time.sleep(1)
    after = rss_kb(agent.proc.pid)
    print(f"10,000 copies ({len(request)} bytes each) sent in {sent:.1f} s; "
          f"RSS after: {after / 1024:.1f} MB ({after / idle:.2f}x idle)")

    replies = 0
    deadline = time.monotonic() + wait
    sock.settimeout(1)
    while time.monotonic() < deadline:
        try:
            if response_id(sock.recv(65535)) == 424242:
                replies += 1
                deadline = min(deadline, time.monotonic() + 2)  # the rest follow at once
        except socket.timeout:
            pass
        except ConnectionRefusedError:
            break
    commands = agent.panel_commands() - commands_before
    print(f"replies to the resent request: {replies}"
          + ("" if replies else f" (none within {wait} s)"))
    # A PDU that names an object more than once reads it from the panel once.
    distinct = len({oids[i % len(oids)] for i in range(600)})
    print(f"panel commands for it: {commands} (600 varbinds naming {distinct} objects: "
          f"each once is {distinct})")
    seconds, status = agent.stop()
    print(f"SIGTERM after the storm: exit after {seconds:.2f} s, status {status}")


def flood(kwsnmpd, base, oids, window):
    print(f"== flood: back-to-back GETs of 120 display varbinds; another manager's GETs, {window} s")
    agent = Agent(kwsnmpd, base)
    flood_oids = [oids[i % len(oids)] for i in range(120)]
    stop = threading.Event()
    answered = [0]

    def flooder():
        manager = Manager(agent.port, 100000)
        while not stop.is_set():
            if manager.get(flood_oids, 30) is not None:
                answered[0] += 1

    commands_before = agent.panel_commands()
    thread = threading.Thread(target=flooder, daemon=True)
    thread.start()
    time.sleep(0.5)
    prober = Manager(agent.port, 1)
    latencies, timeouts = [], 0
    end = time.monotonic() + window
    while time.monotonic() < end and len(latencies) + timeouts < 200:
        took = prober.get([CONTROL + (4, 0)], min(5.0, max(0.5, end - time.monotonic())))
        if took is None:
            timeouts += 1
        else:
            latencies.append(took)
            time.sleep(0.1)
    commands = agent.panel_commands() - commands_before
    # A probe that timed out counts as slower than any answer.
    samples = latencies + [float("inf")] * timeouts

    def shown(seconds):
        return "> 5000 ms (timed out)" if seconds == float("inf") else f"{seconds * 1000:.0f} ms"

    if samples:
        print(f"other manager's GET: p50 {shown(percentile(samples, 50))}, "
              f"p99 {shown(percentile(samples, 99))} "
              f"({len(latencies)} answered, {timeouts} timed out)")
    varbinds = answered[0] * 120 + len(latencies)
    print(f"flood GETs answered: {answered[0]}; panel commands: {commands} for {varbinds} "
          f"display varbinds answered"
          + (f" ({commands / varbinds:.2f} per varbind)" if varbinds else ""))

    seconds, status = agent.stop()
    stop.set()
    print(f"SIGTERM under the flood: exit after {seconds:.2f} s, status {status}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kwsnmpd", default=os.path.join(HERE, "..", "build", "bin", "kwsnmpd"))
    parser.add_argument("--window", type=float, default=20, help="seconds of flood (max 120)")
    parser.add_argument("--storm-wait", type=float, default=90,
                        help="seconds to wait for the resent request's replies (max 300)")
    args = parser.parse_args()
    if not os.access(args.kwsnmpd, os.X_OK):
        sys.exit(f"bench-load: {args.kwsnmpd} is not built (make build)")
    oids = readable_oids()
    with tempfile.TemporaryDirectory() as base:
        os.chmod(base, 0o700)
        storm(args.kwsnmpd, base, oids, min(args.storm_wait, 300))
        flood(args.kwsnmpd, base, oids, min(args.window, 120))


if __name__ == "__main__":
    main()
