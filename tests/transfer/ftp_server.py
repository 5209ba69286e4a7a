"""A pyftpdlib server for the transfer tests, on a port of 127.0.0.1 that the system chooses.

The chosen port is written to --port-file once the server listens; every command the server receives
is appended to --command-log (the password's argument included, so a test can see what went in clear).
"""

import argparse
import logging
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--command-log", required=True)
    parser.add_argument("--user", default="tester")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--tls", choices=["none", "explicit", "implicit"], default="none")
    parser.add_argument("--cert")
    parser.add_argument("--dos-list", action="store_true")
    parser.add_argument("--no-mlsd", action="store_true")
    parser.add_argument("--no-rename", action="store_true")
    parser.add_argument("--refuse-prot-p", action="store_true")
    parser.add_argument("--refuse-appe", action="store_true")
    parser.add_argument("--extra-user", help="a second login name with the same password, as a proxy would pass it on")
    args = parser.parse_args()

    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    class DosFS(AbstractedFS):
        def format_list(self, basedir, listing, ignore_err=True):
            for name in listing:
                path = os.path.join(basedir, name)
                try:
                    st = os.lstat(path)
                except OSError:
                    continue
                stamp = time.strftime("%m-%d-%y  %I:%M%p", time.localtime(st.st_mtime))
                size = "<DIR>" if os.path.isdir(path) else str(st.st_size)
                yield ("%s %14s %s\r\n" % (stamp, size, name)).encode("utf8")

    base = TLS_FTPHandler if args.tls != "none" else FTPHandler

    class Handler(base):
        def process_command(self, cmd, *rest, **kwargs):
            with open(args.command_log, "a") as log:
                log.write(cmd + (" " + rest[0] if rest and rest[0] else "") + "\n")
            if cmd == "RNFR" and args.no_rename:
                self.respond("502 Command not implemented.")
                return
            if cmd == "APPE" and args.refuse_appe:
                self.respond("502 Command not implemented.")
                return
            if cmd == "PROT" and args.refuse_prot_p and rest and rest[0].upper() == "P":
                self.respond("536 PROT P not available.")
                return
            super().process_command(cmd, *rest, **kwargs)

        if args.tls == "implicit":

            def handle(self):
                self.secure_connection(self.ssl_context)
                super().handle()

    if args.no_mlsd:
        Handler.proto_cmds = dict(Handler.proto_cmds)
        del Handler.proto_cmds["MLSD"]
    if args.tls != "none":
        Handler.certfile = args.cert
    if args.dos_list:
        Handler.abstracted_fs = DosFS

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    if args.extra_user:
        authorizer.add_user(args.extra_user, args.password, args.root, perm="elradfmwMT")
    Handler.authorizer = authorizer
    Handler.permit_foreign_addresses = True
    Handler.passive_ports = None

    server = FTPServer(("127.0.0.1", 0), Handler)
    port = server.socket.getsockname()[1]
    with open(args.port_file + ".tmp", "w") as out:
        out.write(str(port))
    os.rename(args.port_file + ".tmp", args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
