#!/usr/bin/env python3
"""Ratios from one run of kazlib_bench: throughput and compressed size of each CKaZlib
operation (and of libdeflate's levels) against zlib's default level on the same bytes.

    build/bin/kazlib_bench --benchmark_format=json | python3 bench/kazlib_ratios.py
"""
import json
import sys

REFERENCES = {
    "BM_Compress_KaZlib": "BM_Compress_Zlib6",
    "BM_Compress_Libdeflate": "BM_Compress_Zlib6",
    "BM_Zip2File_KaZlib": "BM_Gzwrite_Zlib6",
    "BM_UnCompress_KaZlib": "BM_Uncompress_Zlib",
    "BM_UnZip2Buffer_KaZlib": "BM_Gzread_Zlib",
}


def main():
    runs = json.load(sys.stdin)["benchmarks"]
    # name -> input kind ("text"/"random") -> run; libdeflate runs keyed by level too.
    by = {}
    for r in runs:
        parts = r["name"].split("/")
        base, kind = parts[0], int(parts[1])
        key = base if base != "BM_Compress_Libdeflate" else f"{base}/level{parts[2]}"
        by.setdefault(key, {})[kind] = r
    print(f"{'benchmark':34} {'input':7} {'MB/s':>8} {'speed x':>8} {'size':>10} {'size x':>7}")
    for key, kinds in sorted(by.items()):
        ref_name = REFERENCES.get(key.split("/")[0])
        for kind, r in sorted(kinds.items()):
            mbps = r["bytes_per_second"] / 1e6
            line = f"{key:34} {r.get('label', ''):7} {mbps:8.1f}"
            ref = by.get(ref_name, {}).get(kind) if ref_name else None
            if ref:
                speed = r["bytes_per_second"] / ref["bytes_per_second"]
                size = r["compressed"] / ref["compressed"]
                line += f" {speed:8.2f} {r['compressed']:10.0f} {size:7.3f}"
            else:
                line += f" {'':8} {r['compressed']:10.0f}"
            print(line)


if __name__ == "__main__":
    main()
