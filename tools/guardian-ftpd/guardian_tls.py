"""FTP over TLS for guardian-ftpd, with data connections bound to their control connection.

A passive data port is open to every local process until the client connects, and another
user's process can win that race and read a file through TLS. So each control connection
gets its own TLS context (its own session cache and ticket keys), and a data connection is
accepted only when it resumes a TLS session of that context: only the client that logged in
on this control connection holds one."""

import os

from OpenSSL import SSL
from OpenSSL._util import lib as _ssl_lib
from pyftpdlib.handlers import FTPHandler, TLS_DTPHandler, TLS_FTPHandler

REFUSED_DATA = "522 Data connection refused: it must resume the control connection's TLS session."


class ResumingDTPHandler(TLS_DTPHandler):
    """A protected data connection that did not resume the control connection's session is
    closed before a byte of a file goes over it."""

    _resumption_checked = False

    def send(self, data):
        # Nothing goes out before the handshake is done and checked: a TLS 1.3 server's write
        # finishes the handshake by itself and sends the file before the client's last message.
        if self.cmd_channel._prot and not self._resumption_checked:
            return 0
        return super().send(data)

    def handle_ssl_established(self):
        if not _ssl_lib.SSL_session_reused(self.socket._ssl):
            self.cmd_channel.respond(REFUSED_DATA)
            self.cmd_channel.log_cmd("PROT", "P", 522, REFUSED_DATA[4:])
            self.close()
            return
        self._resumption_checked = True
        super().handle_ssl_established()


def tls_handler_bases(handler, certfile, keyfile):
    """The bases and class attributes of a session handler that offers AUTH TLS on top of
    `handler` with this certificate and key (PEM)."""

    class OwnContextTLSHandler(TLS_FTPHandler):
        dtp_handler = ResumingDTPHandler

        def __init__(self, conn, server, ioloop=None):
            super().__init__(conn, server, ioloop)
            if self.connected:
                self.ssl_context = self._own_context()

        def _own_context(self):
            # Per connection: a session (or ticket) of another control connection, another
            # user's included, cannot be resumed on this one's data connections.
            context = SSL.Context(self.ssl_protocol)
            context.use_certificate_chain_file(self.certfile)
            context.use_privatekey_file(self.keyfile)
            context.set_options(self.ssl_options)
            context.set_session_id(os.urandom(16))
            return context

    # The Guardian command table first in line would hide AUTH, PBSZ and PROT.
    tls_cmds = {k: v for k, v in TLS_FTPHandler.proto_cmds.items() if k not in FTPHandler.proto_cmds}
    extra = {"certfile": os.path.abspath(certfile), "keyfile": os.path.abspath(keyfile),
             "proto_cmds": {**handler.proto_cmds, **tls_cmds}}
    return (handler, OwnContextTLSHandler), extra
