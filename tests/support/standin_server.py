"""Stand-in for the maker's web server: standin_server.py DIR. Serves a free
loopback port, written to DIR/port (removed when closed); logs each request to
DIR/requests.log (path, Host and User-Agent); answers the update document with DIR/body, DIR/status and
after DIR/delay seconds, anything else with "ok". Ends when DIR/stop appears or
DIR goes, and after a minute at most."""
import http.server, os, sys, time

def read(folder, name, default):
    try:
        with open(os.path.join(folder, name), 'rb') as f:
            return f.read()
    except OSError:
        return default

class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        d = self.server.folder
        with open(os.path.join(d, 'requests.log'), 'a') as log:
            log.write('GET %s Host=%s UA=%s\n' % (self.path, self.headers.get('Host', ''),
                                                  self.headers.get('User-Agent', '')))
        status, body = 200, b'ok'
        if self.path.split('?')[0].endswith('/version.json'):
            time.sleep(min(float(read(d, 'delay', b'0')), 10))
            status, body = int(read(d, 'status', b'200')), read(d, 'body', b'')
        self.send_response(status)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass

folder = sys.argv[1]
server = http.server.HTTPServer(('127.0.0.1', 0), Handler)
server.folder, server.timeout = folder, 0.1
with open(os.path.join(folder, 'port.tmp'), 'w') as f:
    f.write(str(server.server_address[1]))
os.replace(os.path.join(folder, 'port.tmp'), os.path.join(folder, 'port'))
end = time.monotonic() + 60
while time.monotonic() < end and os.path.isdir(folder) and not os.path.exists(os.path.join(folder, 'stop')):
    server.handle_request()
server.server_close()
if os.path.isdir(folder):
    os.remove(os.path.join(folder, 'port'))
