#!/usr/bin/env python3
"""Ratios from one run of save_download_bench: each save or download of the server against the
plain C file calls on the same bytes, the compressed save against zlib's default level, and the
peak memory of a download against the file size.

    build/bin/save_download_bench --benchmark_format=json | python3 bench/save_download_ratios.py
"""
import json
import sys

REFERENCES = {
    "BM_SaveFile": "BM_Fwrite",
    "BM_SaveFileByZip": "BM_GzipFileZlib6",
    "BM_DownFromFile": "BM_Fread",
}


def main():
    data = json.load(sys.stdin)
    by = {}
    for r in data["benchmarks"]:
        base, kind = r["name"].split("/")[:2]
        by.setdefault(base, {})[kind] = r
    print(f"{'benchmark':20} {'input':7} {'MB/s':>8} {'reference':18} {'speed x':>8} {'size x':>7}")
    for base, kinds in sorted(by.items()):
        for kind, r in sorted(kinds.items()):
            mbps = r["bytes_per_second"] / 1e6
            line = f"{base:20} {r.get('label', ''):7} {mbps:8.1f}"
            ref_name = REFERENCES.get(base)
            ref = by.get(ref_name, {}).get(kind) if ref_name else None
            if ref:
                line += f" {ref_name:18} {r['bytes_per_second'] / ref['bytes_per_second']:8.2f}"
                if "compressed" in r and "compressed" in ref:
                    line += f" {r['compressed'] / ref['compressed']:7.3f}"
            print(line)
    peak = float(data["context"].get("download_peak_ratio", "-1"))
    print(f"peak memory of a 64 MiB download: {peak:.2f} x the file size")


if __name__ == "__main__":
    main()
