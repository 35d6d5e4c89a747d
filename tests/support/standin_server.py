#!/usr/bin/env python3
"""Stand-in for the maker's web server in the online tests.

Usage: standin_server.py DIR

Listens on a free loopback port and writes it to DIR/port. Every request is
appended to DIR/requests.log as "METHOD TARGET Host=HOST". The update document
is answered with the bytes of DIR/body and the status in DIR/status (200 when
absent), after DIR/delay seconds if that file exists; every other path gets
200 "ok". Ends when DIR/stop appears or DIR is removed, and after a minute
whatever happens; DIR/port is removed once the port is closed.
"""
import http.server
import os
import sys
import time
import urllib.parse

LIFETIME = 60


def read(path, default):
    try:
        with open(path, 'rb') as f:
            return f.read()
    except OSError:
        return default


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        folder = self.server.folder
        with open(os.path.join(folder, 'requests.log'), 'a') as log:
            log.write('%s %s Host=%s\n' % (self.command, self.path, self.headers.get('Host', '')))
        if urllib.parse.urlsplit(self.path).path.endswith('/version.json'):
            delay = float(read(os.path.join(folder, 'delay'), b'0') or 0)
            time.sleep(min(delay, 10))
            status = int(read(os.path.join(folder, 'status'), b'200'))
            body = read(os.path.join(folder, 'body'), b'')
        else:
            status, body = 200, b'ok'
        self.send_response(status)
        self.send_header('Content-Type', 'application/json')
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main():
    folder = sys.argv[1]
    server = http.server.HTTPServer(('127.0.0.1', 0), Handler)
    server.folder = folder
    server.timeout = 0.1
    with open(os.path.join(folder, 'port.tmp'), 'w') as f:
        f.write(str(server.server_address[1]))
    os.replace(os.path.join(folder, 'port.tmp'), os.path.join(folder, 'port'))
    end = time.monotonic() + LIFETIME
    while time.monotonic() < end and os.path.isdir(folder) and not os.path.exists(os.path.join(folder, 'stop')):
        server.handle_request()
    server.server_close()
    if os.path.isdir(folder):
        os.remove(os.path.join(folder, 'port'))


if __name__ == '__main__':
    main()
