#!/usr/bin/env python3
"""A local SMTP server for the e-mail tests.

Usage: smtp_test_server.py MODE OUT_DIR [CERT KEY]

MODE is a list joined by "+": plain, starttls, implicit, login (AUTH LOGIN and PLAIN offered),
plainonly (AUTH PLAIN only), required (MAIL without a login gets 530), badlogin (every login gets
535), reject (the message gets 552), silent (accepts and never greets). The server listens on a free
loopback port and writes it to OUT_DIR/port. Each message goes to OUT_DIR/msg-N.eml, and every
envelope step is appended to OUT_DIR/events.log.
"""

import asyncio
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def main():
    modes = set(sys.argv[1].split("+"))
    out = sys.argv[2]
    cert, key = (sys.argv[3], sys.argv[4]) if len(sys.argv) > 4 else (None, None)
    counter = [0]

    def event(text):
        with open(os.path.join(out, "events.log"), "a") as log:
            log.write(text + "\n")

    class Handler:
        async def handle_MAIL(self, server, session, envelope, address, options):
            event("MAIL " + address)
            envelope.mail_from = address
            return "250 OK"

        async def handle_RCPT(self, server, session, envelope, address, options):
            event("RCPT " + address)
            envelope.rcpt_tos.append(address)
            return "250 OK"

        async def handle_DATA(self, server, session, envelope):
            if "reject" in modes:
                event("DATA rejected")
                return "552 5.3.4 Message too big for this test"
            counter[0] += 1
            path = os.path.join(out, "msg-%d.eml" % counter[0])
            with open(path + ".part", "wb") as message:
                message.write(envelope.original_content)
            os.rename(path + ".part", path)
            event("DATA " + path)
            return "250 Message accepted"

    def authenticator(server, session, envelope, mechanism, auth_data):
        if isinstance(auth_data, LoginPassword):
            event("AUTH %s %s %s" % (mechanism, auth_data.login.decode(), auth_data.password.decode()))
        if "badlogin" in modes:
            return AuthResult(success=False, handled=False)
        return AuthResult(success=True)

    context = None
    if cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)

    def factory():
        return SMTP(
            Handler(),
            hostname="localhost",
            tls_context=context if "starttls" in modes else None,
            require_starttls=False,
            auth_required="required" in modes,
            auth_require_tls=False,
            authenticator=authenticator,
            auth_exclude_mechanism=["LOGIN"] if "plainonly" in modes else None,
            decode_data=False,
            data_size_limit=None,
        )

    async def silent(reader, writer):
        event("CONNECT silent")
        await reader.read()
        writer.close()

    async def serve():
        implicit = context if "implicit" in modes else None
        if "silent" in modes:
            server = await asyncio.start_server(silent, "127.0.0.1", 0)
        else:
            loop = asyncio.get_running_loop()
            server = await loop.create_server(factory, "127.0.0.1", 0, ssl=implicit)
        port = server.sockets[0].getsockname()[1]
        with open(os.path.join(out, "port.part"), "w") as f:
            f.write(str(port))
        os.rename(os.path.join(out, "port.part"), os.path.join(out, "port"))
        async with server:
            await server.serve_forever()

    asyncio.run(serve())


if __name__ == "__main__":
    main()
