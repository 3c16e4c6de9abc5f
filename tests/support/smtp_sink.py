"""A real SMTP server for tests: aiosmtpd on 127.0.0.1, a free port.

Usage: smtp_sink.py FOLDER

Listens on a port chosen by the system and writes it to FOLDER/port once the
server accepts connections. Every accepted message becomes a folder
FOLDER/msg-N holding helo, from, rcpt (one recipient a line) and data (the
message bytes as received, after dot-unstuffing); the folder appears whole,
by a rename, before the server answers the end of the message.
Runs until it is terminated.
"""

import asyncio
import os
import signal
import sys

from aiosmtpd.smtp import SMTP


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
        self._write(os.path.join(staging, "helo"),
                    (session.host_name or "").encode("utf-8", "surrogateescape"))
        self._write(os.path.join(staging, "from"),
                    (envelope.mail_from or "").encode("utf-8", "surrogateescape"))
        self._write(os.path.join(staging, "rcpt"),
                    "".join(r + "\n" for r in envelope.rcpt_tos).encode("utf-8", "surrogateescape"))
        self._write(os.path.join(staging, "data"), envelope.original_content)
        os.rename(staging, os.path.join(self.folder, "msg-%d" % self.count))
        return "250 Message accepted for delivery"


async def serve(folder):
    loop = asyncio.get_running_loop()
    handler = FolderHandler(folder)
    server = await loop.create_server(
        lambda: SMTP(handler, hostname="orvalin-test-sink"), "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    staging = os.path.join(folder, "port.tmp")
    with open(staging, "w") as f:
        f.write("%d\n" % port)
    os.rename(staging, os.path.join(folder, "port"))

    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    await stop.wait()
    server.close()


if __name__ == "__main__":
    asyncio.run(serve(sys.argv[1]))
