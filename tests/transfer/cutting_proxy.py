"""A plain-FTP proxy for the transfer tests that breaks the first upload's data connection.

It forwards the control connection to the server, rewrites 227 and 229 replies so that the data
connection comes to the proxy, and forwards the data. The first data connection that carries an
upload (after STOR or APPE) is cut after --cut-after bytes: reset towards the client, closed in order
towards the server. The number of upload
bytes forwarded in all is kept in --count-file.
"""

import argparse
import os
import re
import socket
import threading


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server-port", type=int, required=True)
    parser.add_argument("--cut-after", type=int, required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--count-file", required=True)
    args = parser.parse_args()

    state = {"cut_done": False, "forwarded": 0}
    lock = threading.Lock()

    def save_count():
        with open(args.count_file + ".tmp", "w") as out:
            out.write(str(state["forwarded"]))
        os.replace(args.count_file + ".tmp", args.count_file)

    def pump_upload(client, server, cut):
        sent = 0
        try:
            while True:
                want = 65536
                if cut is not None:
                    want = min(want, cut - sent)
                    if want <= 0:
                        break
                data = client.recv(want)
                if not data:
                    break
                server.sendall(data)
                sent += len(data)
                with lock:
                    state["forwarded"] += len(data)
                    save_count()
        except OSError:
            pass
        if cut is not None and sent >= cut:
            # The client sees its connection end abruptly; the server gets every byte forwarded
            # and then the end of the data, as if the upload were complete.
            try:
                client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            except OSError:
                pass
        try:
            server.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        for s in (client, server):
            try:
                s.close()
            except OSError:
                pass

    def pump_plain(source, sink):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                sink.sendall(data)
        except OSError:
            pass
        for s in (source, sink):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def data_bridge(listener, server_port, session):
        listener.settimeout(30)
        try:
            client, _ = listener.accept()
        except OSError:
            return
        finally:
            listener.close()
        server = socket.create_connection(("127.0.0.1", server_port))
        if session["upload"]:
            cut = None
            with lock:
                if not state["cut_done"]:
                    state["cut_done"] = True
                    cut = args.cut_after
            pump_upload(client, server, cut)
        else:
            threading.Thread(target=pump_plain, args=(client, server), daemon=True).start()
            pump_plain(server, client)

    def control(client):
        server = socket.create_connection(("127.0.0.1", args.server_port))
        session = {"upload": False}
        pending = []

        def from_client():
            buffer = b""
            try:
                while True:
                    data = client.recv(4096)
                    if not data:
                        break
                    buffer += data
                    while b"\n" in buffer:
                        line, buffer = buffer.split(b"\n", 1)
                        word = line.split(b" ", 1)[0].upper()
                        if word in (b"STOR", b"APPE"):
                            session["upload"] = True
                        elif word in (b"LIST", b"MLSD", b"RETR", b"NLST"):
                            session["upload"] = False
                        # The data bridge starts when the transfer command is known.
                        if word in (b"STOR", b"APPE", b"LIST", b"MLSD", b"RETR", b"NLST") and pending:
                            listener, port = pending.pop(0)
                            threading.Thread(target=data_bridge, args=(listener, port, dict(session)),
                                             daemon=True).start()
                        server.sendall(line + b"\n")
            except OSError:
                pass
            try:
                server.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

        threading.Thread(target=from_client, daemon=True).start()
        buffer = b""
        try:
            while True:
                data = server.recv(4096)
                if not data:
                    break
                buffer += data
                while b"\n" in buffer:
                    line, buffer = buffer.split(b"\n", 1)
                    text = line.decode("latin-1")
                    port = None
                    if text.startswith("229 "):
                        found = re.search(r"\(\|\|\|(\d+)\|\)", text)
                        port = int(found.group(1)) if found else None
                    elif text.startswith("227 "):
                        found = re.search(r"(\d+),(\d+),(\d+),(\d+),(\d+),(\d+)", text)
                        port = int(found.group(5)) * 256 + int(found.group(6)) if found else None
                    if port is not None:
                        listener = socket.socket()
                        listener.bind(("127.0.0.1", 0))
                        listener.listen(1)
                        mine = listener.getsockname()[1]
                        pending.append((listener, port))
                        if text.startswith("229 "):
                            line = ("229 Entering Extended Passive Mode (|||%d|)\r" % mine).encode()
                        else:
                            line = ("227 Entering Passive Mode (127,0,0,1,%d,%d)\r" % (mine // 256, mine % 256)).encode()
                    client.sendall(line + b"\n")
        except OSError:
            pass
        for s in (client, server):
            try:
                s.close()
            except OSError:
                pass

    save_count()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    with open(args.port_file + ".tmp", "w") as out:
        out.write(str(listener.getsockname()[1]))
    os.replace(args.port_file + ".tmp", args.port_file)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=control, args=(client,), daemon=True).start()


if __name__ == "__main__":
    main()
