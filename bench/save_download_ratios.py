#!/usr/bin/env python3
"""Ratios from one run of save_download_bench: each save or download of the server against the
plain C file calls on the same bytes, the compressed save against zlib's default level, and the
peak memory of a download against the file size.

    build/bin/save_download_bench --benchmark_format=json | python3 bench/save_download_ratios.py
"""
import json
import sys

REFERENCES = {
    "BM_SaveFile": ["BM_Fwrite"],
    "BM_SaveFileByZip": ["BM_GzipFileZlib6"],
    "BM_DownFromFile": ["BM_Fread", "BM_FreadNewBuffer"],
}


def main():
    data = json.load(sys.stdin)
    by = {}
    for r in data["benchmarks"]:
        base, kind = r["name"].split("/")[:2]
        by.setdefault(base, {})[kind] = r
    print(f"{'benchmark':18} {'input':7} {'MB/s':>8}  {'against':18} {'speed x':>8} {'size x':>7}")
    for base, kinds in sorted(by.items()):
        for kind, r in sorted(kinds.items()):
            mbps = r["bytes_per_second"] / 1e6
            head = f"{base:18} {r.get('label', ''):7} {mbps:8.1f}"
            refs = [(name, by.get(name, {}).get(kind)) for name in REFERENCES.get(base, [])]
            refs = [(name, ref) for name, ref in refs if ref]
            if not refs:
                print(head)
            for name, ref in refs:
                line = f"{head}  {name:18} {r['bytes_per_second'] / ref['bytes_per_second']:8.3f}"
                if "compressed" in r and "compressed" in ref:
                    line += f" {r['compressed'] / ref['compressed']:7.3f}"
                print(line)
    peak = float(data["context"].get("download_peak_ratio", "-1"))
    print(f"peak memory of one 64 MiB download: {peak:.2f} x the file size")


if __name__ == "__main__":
    main()
