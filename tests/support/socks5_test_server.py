#!/usr/bin/env python3
"""Loopback SOCKS5 server for the network-stack tests (RFC 1928 with RFC 1929 authentication).

Authentication (--auth): "password" (the default) accepts only username/password, checked against
--user and --password; "none" accepts only no authentication (its events name the user "-");
"refuse" accepts no method at all. Serves CONNECT and UDP ASSOCIATE for IPv4 and IPv6. Connections
and datagrams to the targets leave from the --source address of the target's family when one is
given (a source of its own shows a peer what came through the server). Prints its port on the
first line of stdout, then one line per event, flushed at once:
  auth ok USER / auth refused USER / methods refused
  connect USER HOST PORT / connect-failed USER HOST PORT
  udp-associate USER RELAYPORT
  udp USER HOST PORT BYTES   (a datagram relayed out)
Serves until killed.
"""
import argparse
import ipaddress
import select
import socket
import struct
import sys
import threading

LOCK = threading.Lock()


def log(*words):
    with LOCK:
        print(*words, flush=True)


def read_exactly(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    return data


def read_address(conn):
    kind = read_exactly(conn, 1)[0]
    if kind == 1:
        host = str(ipaddress.IPv4Address(read_exactly(conn, 4)))
    elif kind == 4:
        host = str(ipaddress.IPv6Address(read_exactly(conn, 16)))
    elif kind == 3:
        host = read_exactly(conn, read_exactly(conn, 1)[0]).decode()
    else:
        raise ValueError("address type")
    return host, struct.unpack("!H", read_exactly(conn, 2))[0]


def encode_address(host, port):
    ip = ipaddress.ip_address(host)
    kind = 1 if ip.version == 4 else 4
    return bytes([kind]) + ip.packed + struct.pack("!H", port)


def parse_datagram(data):
    if len(data) < 4 or data[2] != 0:
        return None
    kind = data[3]
    if kind == 1 and len(data) >= 10:
        return str(ipaddress.IPv4Address(data[4:8])), struct.unpack("!H", data[8:10])[0], data[10:]
    if kind == 4 and len(data) >= 22:
        return str(ipaddress.IPv6Address(data[4:20])), struct.unpack("!H", data[20:22])[0], data[22:]
    return None


def reply(conn, code, host="0.0.0.0", port=0):
    conn.sendall(b"\x05" + bytes([code, 0]) + encode_address(host, port))


def readable(sockets):
    """The sockets of `sockets` that can be read; poll, since select() fails for a descriptor
    above 1023, which a server with hundreds of associations open reaches."""
    poller = select.poll()
    for s in sockets:
        poller.register(s, select.POLLIN)
    ready = {fd for fd, _ in poller.poll()}
    return [s for s in sockets if s.fileno() in ready]


def pump(a, b):
    sockets = [a, b]
    while True:
        for s in readable(sockets):
            data = s.recv(65536)
            if not data:
                return
            (b if s is a else a).sendall(data)


def source_for(host, args):
    """The --source address of host's family, or None."""
    try:
        version = ipaddress.ip_address(host).version
    except ValueError:
        return None
    return next((s for s in args.source if ipaddress.ip_address(s).version == version), None)


def serve_udp(conn, user, args):
    # The client's datagrams arrive on `relay`, at the address it reached the server on; they
    # leave for the targets from `outward`, which the targets answer.
    family = conn.family
    relay = socket.socket(family, socket.SOCK_DGRAM)
    relay.bind((conn.getsockname()[0], 0))
    outward = socket.socket(family, socket.SOCK_DGRAM)
    wildcard = "::" if family == socket.AF_INET6 else "0.0.0.0"
    outward.bind((source_for(wildcard, args) or wildcard, 0))
    client_ip = conn.getpeername()[0]
    log("udp-associate", user, relay.getsockname()[1])
    reply(conn, 0, relay.getsockname()[0], relay.getsockname()[1])
    client = None
    while True:
        ready = readable([conn, relay, outward])
        if conn in ready and not conn.recv(1):
            break
        if relay in ready:
            data, source = relay.recvfrom(65536)
            if source[0] == client_ip and (client is None or source[:2] == client):
                parsed = parse_datagram(data)
                if parsed is None:
                    continue
                client = source[:2]
                host, port, payload = parsed
                log("udp", user, host, port, len(payload))
                outward.sendto(payload, (host, port))
        if outward in ready:
            data, source = outward.recvfrom(65536)
            if client is not None:
                relay.sendto(b"\x00\x00\x00" + encode_address(source[0], source[1]) + data, client)
    relay.close()
    outward.close()


def handle(conn, args):
    user = "?"
    try:
        version, count = read_exactly(conn, 2)
        methods = read_exactly(conn, count)
        wanted = {"password": 2, "none": 0}.get(args.auth)
        if version != 5 or wanted is None or wanted not in methods:
            log("methods refused")
            conn.sendall(b"\x05\xff")
            return
        conn.sendall(bytes([5, wanted]))
        if wanted == 2:
            read_exactly(conn, 1)
            user = read_exactly(conn, read_exactly(conn, 1)[0]).decode("utf-8", "replace")
            password = read_exactly(conn, read_exactly(conn, 1)[0]).decode("utf-8", "replace")
            if user != args.user or password != args.password:
                log("auth refused", user)
                conn.sendall(b"\x01\x01")
                return
            conn.sendall(b"\x01\x00")
            log("auth ok", user)
        else:
            user = "-"
        _, command, _ = read_exactly(conn, 3)
        host, port = read_address(conn)
        if command == 1:
            try:
                source = source_for(host, args)
                target = socket.create_connection((host, port), timeout=5,
                                                  source_address=source and (source, 0))
            except OSError:
                log("connect-failed", user, host, port)
                reply(conn, 5)
                return
            target.settimeout(None)
            log("connect", user, host, port)
            bound = target.getsockname()
            reply(conn, 0, bound[0], bound[1])
            pump(conn, target)
            target.close()
        elif command == 3:
            serve_udp(conn, user, args)
        else:
            reply(conn, 7)
    except (ConnectionError, OSError, ValueError):
        pass
    finally:
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--auth", choices=("password", "none", "refuse"), default="password")
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--source", action="append", default=[])
    args = parser.parse_args()
    family = socket.AF_INET6 if ":" in args.bind else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.bind, 0))
    listener.listen(128)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=handle, args=(conn, args), daemon=True).start()


if __name__ == "__main__":
    main()
