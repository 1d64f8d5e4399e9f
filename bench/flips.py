#!/usr/bin/env python3
"""Silent-corruption rate of single bit flips.

Compresses a 20 KB sample in 7000-byte blocks with each method, flips one
bit at a time at random positions inside the block payloads (or inside the
headers with --headers), extracts, and counts the runs that exit 0 with
bytes different from the input.

usage: bench/flips.py BINARY [--flips N] [--headers] [--seed S]
"""
import os, random, subprocess, sys, tempfile, struct

def main():
    args = sys.argv[1:]
    binary = args[0]
    flips = int(args[args.index('--flips') + 1]) if '--flips' in args else 900
    seed = int(args[args.index('--seed') + 1]) if '--seed' in args else 1
    headers = '--headers' in args
    here = os.path.dirname(os.path.abspath(__file__))
    sample_src = os.path.join(here, '..', 'tests', 'data', 'paper1')
    data = open(sample_src, 'rb').read()[:20000]
    rng = random.Random(seed)
    modes = [('dc', []), ('-m', ['-m']), ('-m --norle0', ['-m', '--norle0']),
             ('-m -s', ['-m', '-s']), ('-m --norle0 -s', ['-m', '--norle0', '-s'])]
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, 'in')
        open(src, 'wb').write(data)
        for name, opts in modes:
            packed = os.path.join(tmp, 'p')
            subprocess.run([binary, '-c', src, '-o', packed, '-b', '7000'] + opts,
                           check=True, stdout=subprocess.DEVNULL)
            blob = open(packed, 'rb').read()
            # Locate payloads and headers.
            spans, pos = [], 12
            hdr = [(0, 12)]
            while pos < len(blob):
                size = struct.unpack_from('<I', blob, pos + 4)[0]
                hdr.append((pos, pos + 18))
                spans.append((pos + 18, pos + 18 + size))
                pos += 18 + size
            targets = hdr if headers else spans
            bits = [b for (a, e) in targets for b in range(a * 8, e * 8)]
            silent = refused = same = 0
            for _ in range(flips):
                b = rng.choice(bits)
                damaged = bytearray(blob)
                damaged[b // 8] ^= 1 << (b % 8)
                dpath = os.path.join(tmp, 'd')
                out = os.path.join(tmp, 'o')
                open(dpath, 'wb').write(damaged)
                if os.path.exists(out):
                    os.remove(out)
                r = subprocess.run([binary, '-e', dpath, '-o', out],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                if r.returncode != 0:
                    refused += 1
                elif open(out, 'rb').read() == data:
                    same += 1
                else:
                    silent += 1
            print(f"{name:16} flips {flips}: refused {refused}, exact {same}, "
                  f"silently wrong {silent} ({100.0 * silent / flips:.1f} %)")

main()
