"""200 uploads at once through nginx in front of two script hosts: half saved to disk under one
name (each must get a number of its own), half into the shared database. Every byte must be
kept, every saved name and row distinct, and both hosts must have served uploads.
    load.py BASE_URL SITE_DIR"""
import concurrent.futures
import os
import sys
import urllib.request

base, site = sys.argv[1].rstrip("/"), sys.argv[2]
UPLOADS = 200
BOUNDARY = "----ClusterLoad7e3f"


def post(path, payload):
    body = (f"--{BOUNDARY}\r\nContent-Disposition: form-data; name=\"f\"; "
            f"filename=\"same.bin\"\r\nContent-Type: application/octet-stream\r\n\r\n").encode()
    body += payload + f"\r\n--{BOUNDARY}--\r\n".encode()
    request = urllib.request.Request(
        base + path, data=body,
        headers={"Content-Type": f"multipart/form-data; boundary={BOUNDARY}"})
    with urllib.request.urlopen(request, timeout=120) as answer:
        return answer.read().decode()


def get(path):
    with urllib.request.urlopen(base + path, timeout=120) as answer:
        return answer.read()


get("/init.asp")
# Sizes from a few bytes to 64 KiB, each upload's bytes its own.
payloads = [os.urandom(7 + (i * 2654435761) % (64 << 10)) for i in range(UPLOADS)]
with concurrent.futures.ThreadPoolExecutor(max_workers=UPLOADS) as pool:
    answers = list(pool.map(
        lambda i: post("/save_file.asp" if i % 2 == 0 else "/save_db.asp", payloads[i]),
        range(UPLOADS)))

failures = []
hosts = {}
names = {}
rows = {}
for i, answer in enumerate(answers):
    host, _, saved = answer.partition("|")
    hosts[host] = hosts.get(host, 0) + 1
    (names if i % 2 == 0 else rows).setdefault(saved, []).append(i)
for kind, seen in (("file name", names), ("row", rows)):
    for saved, uploads in seen.items():
        if len(uploads) > 1:
            failures.append(f"uploads {uploads} were all saved as {kind} {saved!r}")
for name, (i, *_) in names.items():
    path = os.path.join(site, "files", name)
    if not os.path.exists(path) or open(path, "rb").read() != payloads[i]:
        failures.append(f"file {name!r} does not hold upload {i}")
for row, (i, *_) in rows.items():
    if get(f"/down_db.asp?id={row}") != payloads[i]:
        failures.append(f"row {row} does not hold upload {i}")
files_on_disk = len(os.listdir(os.path.join(site, "files")))
if files_on_disk != UPLOADS // 2:
    failures.append(f"{files_on_disk} files on disk, not {UPLOADS // 2}")
if sorted(hosts) != ["a", "b"]:
    failures.append(f"uploads served by hosts {hosts}, not by both a and b")

print(f"load.py: {UPLOADS} uploads, {len(names)} files and {len(rows)} rows, hosts {hosts}")
for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
