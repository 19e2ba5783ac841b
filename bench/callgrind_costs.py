#!/usr/bin/env python3
"""Costs out of a callgrind profile, per unit of work (--per N: the count of requests, pages...).

  callgrind_costs.py FILE --per N --summary          total, and the image copy apart
  callgrind_costs.py FILE --per N --self [K]         the K functions costing most themselves
  callgrind_costs.py FILE --per N --inclusive REGEX  what functions matching REGEX cost with all
                                                     they call (a recursive one counts once a level)
  callgrind_costs.py FILE --per N --callers REGEX    who calls them, cost and calls per unit
  callgrind_costs.py FILE --per N --callees REGEX    what they call, cost per unit
"""
import argparse
import collections
import re


def read(path):
    """Self costs by function, and calls as (caller, callee) -> [count, inclusive cost]."""
    names, self_cost, calls = {}, collections.Counter(), {}
    fn = cfn = None
    pending = None

    def name(text):
        m = re.match(r'\((\d+)\)(?:\s+(.*))?', text)
        if not m:
            return text
        if m.group(2):
            names[m.group(1)] = m.group(2)
        return names.get(m.group(1), text)

    for line in open(path, errors='replace'):
        line = line.rstrip('\n')
        if line.startswith('fn='):
            fn = name(line[3:])
        elif line.startswith('cfn='):
            cfn = name(line[4:])
        elif line.startswith(('cfi=', 'cfl=', 'fi=', 'fe=', 'fl=', 'ob=', 'cob=')):
            continue
        elif line.startswith('calls='):
            pending = int(line[6:].split()[0])
        elif line and (line[0].isdigit() or line[0] in '+-*'):
            parts = line.split()
            if len(parts) < 2:
                continue
            cost = int(parts[1])
            if pending is not None:
                entry = calls.setdefault((fn, cfn), [0, 0])
                entry[0] += pending
                entry[1] += cost
                pending = None
            elif fn:
                self_cost[fn] += cost
    return self_cost, calls


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('file')
    ap.add_argument('--per', type=int, default=1)
    group = ap.add_mutually_exclusive_group(required=True)
    group.add_argument('--summary', action='store_true')
    group.add_argument('--self', type=int, nargs='?', const=30, dest='top')
    group.add_argument('--inclusive')
    group.add_argument('--callers')
    group.add_argument('--callees')
    a = ap.parse_args()
    self_cost, calls = read(a.file)
    n = max(a.per, 1)
    total = sum(self_cost.values())
    if a.summary:
        image = sum(c for (f, t), (k, c) in calls.items() if 'RestoreImage' in t and f != t)
        print(f"units {n} instructions per unit {total // n} of which the heap image copy "
              f"{image // n}, the rest {(total - image) // n}")
    elif a.top:
        for f, c in self_cost.most_common(a.top):
            print(f"{100 * c / total:5.1f}% {c // n:9d} {f[:110]}")
    else:
        pattern = re.compile(a.inclusive or a.callers or a.callees)
        rows = collections.Counter()
        counts = collections.Counter()
        for (f, t), (k, c) in calls.items():
            if f == t:
                continue
            if a.inclusive and pattern.search(t):
                rows[t] += c
                counts[t] += k
            elif a.callers and pattern.search(t):
                rows[f'{t[:40]} <- {f}'] += c
                counts[f'{t[:40]} <- {f}'] += k
            elif a.callees and pattern.search(f):
                rows[t] += c
                counts[t] += k
        for key, c in rows.most_common(25):
            print(f"{c // n:9d} x{counts[key] / n:7.1f} {key[:120]}")


if __name__ == '__main__':
    main()
