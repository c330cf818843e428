#!/usr/bin/python3
"""An FTP server for the saving tests, on 127.0.0.1 and a free port.

Prints "PORT <n>" once it listens, then serves until it is killed (or, with
--drop-after, until it drops a transfer). Faults it can play, each by
option: a quota of stored bytes answered with 552, a folder name whose MKD
is refused, a transfer that stops being read after some bytes (a stalled
server), a transfer cut off mid-file with the server gone, a SIZE that says
every name exists (each SIZE asked can be logged), a data connection that is opened and then neither
read nor answered, and (listening on ::1) a refusal of IPv6 data connections offered with EPRT.
"""
import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.ioloop import RetryError
from pyftpdlib.servers import FTPServer

p = argparse.ArgumentParser()
p.add_argument("--root", required=True)
p.add_argument("--user", default="saver")
p.add_argument("--password", default="secret")
p.add_argument("--login-dir", default="", help="folder (from the root) the user starts in")
p.add_argument("--quota", type=int, default=-1, help="bytes the server's folder may hold; beyond, 552")
p.add_argument("--active-only", action="store_true", help="refuse passive data connections")
p.add_argument("--refuse-mkd", default="", help="MKD of a folder of this name gets 550")
p.add_argument("--stall-after", type=int, default=-1, help="stop reading a transfer after this many bytes")
p.add_argument("--drop-after", type=int, default=-1, help="drop everything and exit after this many bytes")
p.add_argument("--size-always", action="store_true", help="SIZE of any path answers 213")
p.add_argument("--size-log", default="", help="file that gets the path of every SIZE asked, a line each")
p.add_argument("--silent-data", action="store_true", help="never read a transfer nor answer its end")
p.add_argument("--listen", default="127.0.0.1", help="address to listen on (::1 for IPv6)")
p.add_argument("--refuse-eprt-ipv6", action="store_true",
               help="EPRT of family 2 (IPv6) gets 522, as an IPv4-only server answers")
args = p.parse_args()



def used_bytes(but):
    total = 0
    for folder, _, files in os.walk(args.root):
        for f in files:
            path = os.path.join(folder, f)
            if path != but:
                total += os.path.getsize(path)
    return total


class Data(DTPHandler):
    over_quota = False

    def stalled(self):
        return args.silent_data or (args.stall_after >= 0 and self.tot_bytes_received >= args.stall_after)

    def handle_read(self):
        if self.stalled():
            # Stop reading: the client's sends fill the socket buffers and block.
            return
        if self.over_quota:
            # Past the quota the rest is read and dropped, and the refusal
            # comes once the client has sent the end of the file (as
            # quota-checking servers answer), so the client hears it however
            # far its sends had got when the quota ran out.
            try:
                self.recv(self.ac_in_buffer_size)  # calls handle_close at the end
            except RetryError:
                pass
            except OSError:
                self.handle_error()
            return
        DTPHandler.handle_read(self)
        if args.drop_after >= 0 and self.tot_bytes_received >= args.drop_after:
            os._exit(0)  # the server is gone: no reply, connections reset
        if args.quota >= 0 and self.file_obj is not None and \
                used_bytes(self.file_obj.name) + self.tot_bytes_received > args.quota:
            self.over_quota = True

    handle_read_event = handle_read  # the base class binds its own here

    def handle_close(self):
        if self.over_quota and not self._closed:
            self._resp = ("552 Exceeded storage allocation.", logging.info)
            self.transfer_finished = False
            self.close()
            return
        DTPHandler.handle_close(self)

    def readable(self):
        if self.stalled():
            return False
        return DTPHandler.readable(self)


class Handler(FTPHandler):
    dtp_handler = Data

    def on_login(self, username):
        if args.login_dir:
            self.fs.cwd = args.login_dir

    def ftp_PASV(self, line):
        if args.active_only:
            self.respond("502 Passive mode is not offered here.")
            return
        return FTPHandler.ftp_PASV(self, line)

    def ftp_EPSV(self, line):
        if args.active_only:
            self.respond("502 Passive mode is not offered here.")
            return
        return FTPHandler.ftp_EPSV(self, line)

    def ftp_EPRT(self, line):
        if args.refuse_eprt_ipv6 and line[1:3] == "2" + line[:1]:
            self.respond("522 Network protocol not supported (use 1).")
            return
        return FTPHandler.ftp_EPRT(self, line)

    def ftp_SIZE(self, path):
        if args.size_log:
            with open(args.size_log, "a") as log:
                log.write(self.fs.fs2ftp(path) + "\n")
        if args.size_always:
            self.respond("213 1024")
            return None
        return FTPHandler.ftp_SIZE(self, path)

    def ftp_MKD(self, path):
        if args.refuse_mkd and os.path.basename(path.rstrip("/")) == args.refuse_mkd:
            self.respond("550 Permission denied.")
            return None
        return FTPHandler.ftp_MKD(self, path)


authorizer = DummyAuthorizer()
authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
Handler.authorizer = authorizer
Handler.permit_foreign_addresses = False
Handler.use_sendfile = False
logging.basicConfig(level=logging.CRITICAL)
server = FTPServer((args.listen, 0), Handler)
server.max_cons = 64
print("PORT %d" % server.address[1], flush=True)
server.serve_forever(handle_exit=True)
