#!/usr/bin/env python3
"""Serves the notice page on 127.0.0.1 for the desktop tests.

  notice_server.py --port 47803 --page shell/notice/notice.html --log FILE
                   [--title 4119] [--link URL] [--lifetime 300]

GET /notice.html answers the page, with the title or the download link swapped
when asked; every request line is appended to the log with its User-Agent. The server ends by
itself after --lifetime seconds.
"""

import argparse
import http.server
import re
import threading


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--page", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--title")
    parser.add_argument("--link")
    parser.add_argument("--lifetime", type=float, default=300)
    args = parser.parse_args()

    with open(args.page, encoding="utf-8") as f:
        page = f.read()
    if args.title is not None:
        page = re.sub(r'(title content-title">).*?(</h2>)', lambda m: m.group(1) + args.title + m.group(2), page)
    if args.link is not None:
        page = re.sub(r'(clearfix"> <p>).*?(</p> </div>)', lambda m: m.group(1) + args.link + m.group(2), page)
    body = page.encode("utf-8")

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            with open(args.log, "a", encoding="utf-8") as log:
                log.write("%s UA=%s\n" % (self.requestline, self.headers.get("User-Agent", "")))
            if self.path.split("?")[0] != "/notice.html":
                self.send_error(404)
                return
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *_):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    threading.Timer(args.lifetime, server.shutdown).start()
    print("ready", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
