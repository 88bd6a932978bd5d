#!/usr/bin/env python3
# The HTTP server the HTTP tests talk to: binds 127.0.0.1 on a free port, prints the port on its first line
# and serves until its standard input closes (so it never outlives the test that started it).
#   /echo            the method, the request's header lines and then its body, as a text body
#   /headers         a reply with a repeated header, a header without a space after its colon and padded values
#   /redirect        a 302 to /echo (with a header of its own that must not reach the result); /redirect/twice
#                    a 301 to /redirect
#   /status/N        status N with a short body
#   /text            a UTF-8 body whose lines end in CR LF, a lone CR and LF
#   /big/N           N bytes, byte i being i % 251
#   /cut             promises 100000 bytes, sends 1000 and closes the connection
#   /stall           promises 10 bytes, sends 2 and then waits
# Every method reaches the same routes; a HEAD gets the headers of the GET without the body.
import http.server
import os
import socket
import sys
import threading
import time


def pattern(n):
    block = bytes(range(251))
    return (block * (n // 251 + 1))[:n]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def __getattr__(self, name):
        if name.startswith("do_"):
            return self.serve
        raise AttributeError(name)

    def reply(self, status, body, headers=(), content_type="text/plain; charset=utf-8"):
        lines = ["HTTP/1.1 %d %s" % (status, self.responses.get(status, ("Other",))[0])]
        lines.append("Content-Type: " + content_type)
        lines.append("Content-Length: %d" % len(body))
        lines.extend(headers)
        self.wfile.write(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))
        if self.command != "HEAD":
            self.wfile.write(body)

    def serve(self):
        length = int(self.headers.get("Content-Length") or 0)
        data = self.rfile.read(length) if length else b""
        path = self.path.split("?")[0]
        if path == "/echo":
            text = self.command + "\n" + "".join("%s: %s\n" % item for item in self.headers.items()) + "\n"
            self.reply(200, text.encode("latin-1") + data, content_type="application/octet-stream")
        elif path == "/headers":
            self.reply(200, b"headers", ["X-Twice: one", "X-Twice: two", "X-A:1", "X-Pad: \t padded \t "])
        elif path == "/redirect":
            self.reply(302, b"", ["Location: /echo", "X-Hop: first"])
        elif path == "/redirect/twice":
            self.reply(301, b"", ["Location: /redirect", "X-Hop: second"])
        elif path.startswith("/status/"):
            status = int(path[len("/status/"):])
            self.reply(status, ("status %d" % status).encode())
        elif path == "/text":
            self.reply(200, "one\r\ntwo\rthree\n\u00e9t\u00e9 \u20ac".encode("utf-8"))
        elif path.startswith("/big/"):
            self.reply(200, pattern(int(path[len("/big/"):])), content_type="application/octet-stream")
        elif path == "/cut":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + pattern(1000))
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
        elif path == "/stall":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab")
            self.wfile.flush()
            time.sleep(60)
            self.close_connection = True
        else:
            self.reply(404, b"no such route")


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)

    def watch_stdin():
        sys.stdin.buffer.read()
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
