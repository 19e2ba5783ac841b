#!/usr/bin/env python3
"""Writes multipart bodies of about SIZE bytes that cost a parser the most per byte.

  hostile_bodies.py DIR SIZE

Each body goes to DIR/<case>.body with its content type in DIR/<case>.type:
  file        one file part (the reference: what an honest upload of that size costs)
  fields      1-byte fields
  empty       empty parts without headers
  headers     parts with 4 KiB header lines
  longnames   parts whose names are as long as a header line allows
  preamble    a preamble of short lines that never reaches a delimiter
  boundary70  one-byte fields with a 70-character boundary (the longest RFC 2046 allows)
  boundary4k  one-byte fields with a 4,000-character boundary
"""
import os
import sys


def write(directory, name, boundary, chunks, size, closing=True, tail=b""):
    with open(os.path.join(directory, name + ".type"), "w") as f:
        f.write("multipart/form-data; boundary=" + boundary)
    end = tail + ("--" + boundary + "--\r\n").encode() if closing else b""
    written = 0
    with open(os.path.join(directory, name + ".body"), "wb") as f:
        for chunk in chunks:
            if written + len(chunk) + len(end) > size:
                break
            f.write(chunk)
            written += len(chunk)
        f.write(end)


def repeat(chunk):
    while True:
        yield chunk


def main():
    directory, size = sys.argv[1], int(sys.argv[2])
    b = "B"
    file_head = ('--%s\r\nContent-Disposition: form-data; name="f"; filename="big.bin"\r\n'
                 "Content-Type: application/octet-stream\r\n\r\n" % b).encode()

    def one_file():
        yield file_head
        block = bytes(range(256)) * 256
        while True:
            yield block

    write(directory, "file", b, one_file(), size, tail=b"\r\n")
    write(directory, "fields", b,
          repeat(('--%s\r\nContent-Disposition: form-data; name="a"\r\n\r\nx\r\n' % b).encode()),
          size)
    write(directory, "empty", b, repeat(("--%s\r\n\r\n\r\n" % b).encode()), size)
    header_line = "X-Pad: " + "h" * (4094 - 9) + "\r\n"
    write(directory, "headers", b,
          repeat(('--%s\r\nContent-Disposition: form-data; name="h"\r\n%s\r\nx\r\n'
                  % (b, header_line)).encode()), size)
    long_name = "n" * (4094 - 48)
    write(directory, "longnames", b,
          repeat(('--%s\r\nContent-Disposition: form-data; name="%s"\r\n\r\nx\r\n'
                  % (b, long_name)).encode()), size)

    write(directory, "preamble", b, repeat(b"p" * 62 + b"\r\n"), size, closing=False)
    for name, length in (("boundary70", 70), ("boundary4k", 4000)):
        long_b = "b" * length
        write(directory, name, long_b,
              repeat(('--%s\r\nContent-Disposition: form-data; name="a"\r\n\r\nx\r\n'
                      % long_b).encode()), size)


main()
