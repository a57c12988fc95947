"""TCP peers shared by the network benchmarks: a listener that serves each connection on a thread
of its own, a handler that closes at once and one that sends a given number of bytes."""
import socket
import threading


def serve_tcp(handler, host="127.0.0.1"):
    """Listens on an ephemeral port of host, runs handler(conn) for each connection; the port."""
    listener = socket.socket()
    listener.bind((host, 0))
    listener.listen(1024)

    def loop():
        while True:
            conn, _ = listener.accept()
            threading.Thread(target=handler, args=(conn,), daemon=True).start()
    threading.Thread(target=loop, daemon=True).start()
    return listener.getsockname()[1]


def close_at_once(conn):
    conn.close()


def bulk_sender(total_bytes):
    """A handler that sends total_bytes in 1 MiB blocks, then closes."""
    def send_bulk(conn):
        block = b"x" * (1 << 20)
        try:
            for _ in range(total_bytes // len(block)):
                conn.sendall(block)
        except OSError:
            pass
        conn.close()
    return send_bulk
