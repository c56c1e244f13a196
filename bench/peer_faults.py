#!/usr/bin/env python3
"""What odd peers cost the real program, on loopback only.

    peer_faults.py COMMAND...      (under an X server: DISPLAY set)

COMMAND starts the program (build/quillomarde, or the Windows build under
Wine: /usr/lib/wine/wine64 build-windows/quillomarde.exe). Each round
starts it afresh on 127.0.0.1, from the keyboard, and prints one line.
As a client:

- silent server: the program sends to a server that accepts and never
  answers, and is told to close (Escape) at once, which it does when its
  wait for the echo gives up. The time is from the message's arrival to
  the close of the connection.

As a server:

- stop: a silent client holds the server, with a good client queued
  behind it; STOP_AT seconds into the wait the program's process is
  stopped (SIGSTOP) for STOP_FOR seconds and continued. The times are
  counted from the silent client's connection: when the server let it go,
  and when the good client had its echo.
- resets: a first client holds the server while RESETTING peers connect
  and reset, and a good client queues behind them; the time is from the
  first client's message to the good client's echo.
"""
import os
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

TITLE = "Windows CE TCP/IP Socket Communication Demo"
STOP_AT = 20.0
STOP_FOR = 1.0
RESETTING = 50
# Far above the program's 30 s peer deadline.
LIMIT = 90.0


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def xdotool(*arguments):
    return subprocess.run(["xdotool", *arguments], stdout=subprocess.DEVNULL, timeout=20).returncode == 0


def show_dialog(command):
    """The program with its dialog in focus, or ended before that."""
    program = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    while not xdotool("search", "--all", "--onlyvisible", "--pid", str(program.pid), "--name", TITLE,
                      "windowfocus", "--sync", "%1"):
        if program.poll() is not None:
            break
        if time.monotonic() > deadline:
            raise SystemExit("the dialog never showed")
        time.sleep(0.1)
    return program


def start(command, port, role_keys):
    """The program, started on 127.0.0.1 and port in the role that role_keys
    choose in the role list (none: Server)."""
    # Now and then the program cannot connect to the X server and ends at
    # once (Qt aborts: -6); that is said, and it starts again.
    for _ in range(3):
        program = show_dialog(command)
        if program.returncode is None:
            break
        print(f"(the program ended with {program.returncode} before its dialog showed; starting it again)",
              file=sys.stderr, flush=True)
    else:
        raise SystemExit("the program never showed its dialog")
    # From Start: Tab to the port field, then the address, the role list,
    # and back to Start.
    xdotool("key", "--delay", "10", "Tab", "Tab", "Tab", "Tab", "ctrl+a")
    xdotool("type", "--delay", "10", str(port))
    xdotool("key", "--delay", "10", "Tab", "ctrl+a")
    xdotool("type", "--delay", "10", "127.0.0.1")
    xdotool("key", "--delay", "10", "Tab", *role_keys, "Tab", "Return")
    return program


def start_server(command, port):
    """The program, serving on port once it accepts connections there."""
    program = start(command, port, [])
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return program
        except OSError:
            time.sleep(0.1)
    raise SystemExit("the server never listened")


def connect(port):
    peer = socket.create_connection(("127.0.0.1", port), timeout=LIMIT)
    peer.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return peer


def message(text):
    return text.encode().ljust(100, b"\0")


def receive(peer, count):
    data = b""
    while len(data) < count:
        piece = peer.recv(count - len(data))
        if not piece:
            break
        data += piece
    return data


def finish(program, peer, text):
    """Ends the program once peer has had its echo, or not; "ok" if it had."""
    echo = receive(peer, 100)
    done = time.monotonic()
    program.terminate()
    program.wait(10)
    return done, "ok" if echo == message(text) else "NO ECHO"


def stop_round(command):
    port = free_port()
    program = start_server(command, port)
    time.sleep(0.5)  # the probe's connection is over
    silent = connect(port)
    start = time.monotonic()
    good = connect(port)
    good.sendall(message("behind the silent one"))
    time.sleep(STOP_AT)
    os.kill(program.pid, signal.SIGSTOP)
    time.sleep(STOP_FOR)
    os.kill(program.pid, signal.SIGCONT)
    silent.recv(1)  # ends when the server lets go
    dropped = time.monotonic() - start
    done, ok = finish(program, good, "behind the silent one")
    print(f"stop {STOP_FOR:.0f} s at {STOP_AT:.0f} s: silent client let go after {dropped:.2f} s, "
          f"good client echoed after {done - start:.2f} s ({ok})", flush=True)


def resets_round(command):
    port = free_port()
    program = start_server(command, port)
    time.sleep(0.5)
    first = connect(port)
    time.sleep(0.5)  # accepted: the server now waits for its message
    for _ in range(RESETTING):
        peer = connect(port)
        peer.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        peer.close()
    good = connect(port)
    good.sendall(message("behind the resets"))
    start = time.monotonic()
    first.sendall(message("first"))
    done, ok = finish(program, good, "behind the resets")
    print(f"resets: good client behind {RESETTING} resetting peers echoed {done - start:.3f} s after the "
          f"server was free ({ok})", flush=True)


def serve_silently(listener, seen):
    """Accepts one client and never answers it; seen gets the message it sent
    and the times at which it arrived and at which the client closed."""
    peer, _ = listener.accept()
    with peer:
        peer.settimeout(LIMIT)
        seen["message"] = receive(peer, 100)
        seen["arrived"] = time.monotonic()
        try:
            seen["rest"] = peer.recv(1)  # ends when the program closes its connection
        except ConnectionResetError:
            seen["rest"] = b""
        seen["closed"] = time.monotonic()


def silent_server_round(command):
    seen = {}
    with socket.socket() as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        listener.settimeout(LIMIT)
        # On a thread of its own, so that the times are taken as things
        # happen, not when a key press is over.
        server = threading.Thread(target=serve_silently, args=(listener, seen))
        server.start()
        program = start(command, listener.getsockname()[1], ["Down"])  # Client
        # From Start: the log box, then the data field; Enter sends, and
        # Escape waits until Send is over.
        xdotool("key", "--delay", "10", "Tab", "Tab")
        xdotool("type", "--delay", "10", "to a silent server")
        xdotool("key", "--delay", "10", "Return", "Escape")
        server.join(LIMIT)
    program.wait(10)
    ok = "ok" if seen.get("message") == message("to a silent server") and seen.get("rest") == b"" else "UNEXPECTED"
    closed = seen["closed"] - seen["arrived"] if "closed" in seen else float("nan")
    print(f"silent server: the client closed its connection {closed:.3f} s after its message arrived ({ok})",
          flush=True)


def main():
    command = sys.argv[1:]
    if not command:
        raise SystemExit(__doc__)
    for _ in range(3):
        silent_server_round(command)
    for _ in range(3):
        resets_round(command)
    stop_round(command)


if __name__ == "__main__":
    main()
