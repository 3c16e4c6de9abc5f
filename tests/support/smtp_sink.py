"""A real SMTP server for tests: aiosmtpd on 127.0.0.1, a free port.

Usage: smtp_sink.py FOLDER [--cert FILE --key FILE [--implicit-tls]]
                           [--user NAME --password TEXT [--login-only]]

Listens on a port chosen by the system and writes it to FOLDER/port once the
server accepts connections. Every accepted message becomes a folder
FOLDER/msg-N holding helo, from, rcpt (one recipient a line), data (the
message bytes as received, after dot-unstuffing), login (the user name it
logged in with, empty without login) and tls (1 when the message came over
TLS, else 0); the folder appears whole, by a rename, before the server answers
the end of the message.

With a certificate the server offers STARTTLS, or, with --implicit-tls,
speaks TLS from the first byte. With a user it requires a login (AUTH PLAIN
or LOGIN, only over TLS; --login-only offers LOGIN alone) before MAIL FROM.
Runs until it is terminated.
"""

import argparse
import asyncio
import os
import signal
import ssl

from aiosmtpd.smtp import SMTP, AuthResult


class FolderHandler:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    def _write(self, path, data):
        with open(path, "wb") as f:
            f.write(data)

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        staging = os.path.join(self.folder, "tmp-%d" % self.count)
        os.mkdir(staging)

        def text(value):
            return (value or "").encode("utf-8", "surrogateescape")

        login = session.auth_data.login if session.authenticated else b""
        secure = server.transport.get_extra_info("ssl_object") is not None
        self._write(os.path.join(staging, "helo"), text(session.host_name))
        self._write(os.path.join(staging, "from"), text(envelope.mail_from))
        self._write(os.path.join(staging, "rcpt"),
                    text("".join(r + "\n" for r in envelope.rcpt_tos)))
        self._write(os.path.join(staging, "data"), envelope.original_content)
        self._write(os.path.join(staging, "login"), login)
        self._write(os.path.join(staging, "tls"), b"1" if secure else b"0")
        os.rename(staging, os.path.join(self.folder, "msg-%d" % self.count))
        return "250 Message accepted for delivery"


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = auth_data.login == user.encode() and auth_data.password == password.encode()
        if ok:
            return AuthResult(success=True, auth_data=auth_data)
        # Not handled: the server answers with its standard 535 reply.
        return AuthResult(success=False, handled=False)
    return authenticate


async def serve(options):
    loop = asyncio.get_running_loop()
    handler = FolderHandler(options.folder)
    context = None
    if options.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(options.cert, options.key)

    def protocol():
        settings = dict(hostname="orvalin-test-sink")
        if context is not None and not options.implicit_tls:
            settings["tls_context"] = context
        if options.user:
            settings["authenticator"] = make_authenticator(options.user, options.password)
            settings["auth_required"] = True
            # Over implicit TLS the server cannot tell that the line is secure.
            settings["auth_require_tls"] = not options.implicit_tls
            if options.login_only:
                settings["auth_exclude_mechanism"] = ["PLAIN"]
        return SMTP(handler, **settings)

    server = await loop.create_server(
        protocol, "127.0.0.1", 0, ssl=context if options.implicit_tls else None)
    port = server.sockets[0].getsockname()[1]
    staging = os.path.join(options.folder, "port.tmp")
    with open(staging, "w") as f:
        f.write("%d\n" % port)
    os.rename(staging, os.path.join(options.folder, "port"))

    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    await stop.wait()
    server.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--implicit-tls", action="store_true")
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    parser.add_argument("--login-only", action="store_true")
    asyncio.run(serve(parser.parse_args()))
