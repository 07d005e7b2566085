#!/usr/bin/python3
"""The vokip package beside fabio and pyFAI in one Python process, by turns:
reading a MAR345 file (vokip.read_mar345 against fabio.open(...).data), and
reducing its image to a 1-D profile (vokip.Reducer.integrate against
pyFAI's integrate1d, both from one .poni, solid-angle correction on,
pixels of value 0 left out, the same number of bins in 2-theta), in steady
state: each reducer is set up and run once before the timed rounds.

  python_bench.py IMAGE PONI [ROUNDS] [BINS]

Prints each step's median time and the ratios, each taken within a round
and then the median over the rounds."""
import statistics
import sys
import time

import fabio
import numpy as np
import pyFAI
import vokip


def timed(step):
    start = time.perf_counter()
    result = step()
    return time.perf_counter() - start, result


def main():
    path, poni = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 9
    bins = int(sys.argv[4]) if len(sys.argv) > 4 else 3000

    image, header = vokip.read_mar345(path)
    data = fabio.open(path).data
    wrong = np.count_nonzero(data != image)
    print(f"{path}: {image.shape[1]} x {image.shape[0]} pixels; fabio {fabio.version} gives "
          f"{wrong} of them other values than read_mar345 (mean {data.mean():.1f} against "
          f"{image.mean():.1f})")

    reducer = vokip.Reducer(poni=poni, bins=bins)
    ai = pyFAI.load(poni)
    methods = {"pyFAI default": None, "pyFAI csr, no split": ("no", "csr", "cython")}

    def pyfai(method):
        kw = {} if method is None else {"method": method}
        return ai.integrate1d(image, bins, unit="2th_deg", correctSolidAngle=True, dummy=0,
                              **kw)

    ours = reducer.integrate(image)  # the plan is made here
    theirs = {name: pyfai(m) for name, m in methods.items()}  # and pyFAI's engines here
    for name, result in theirs.items():
        kept = ours.count > 0
        interpolated = np.interp(ours.radial[kept], result.radial, result.intensity)
        print(f"{name}: median |relative difference| of the profiles "
              f"{np.median(np.abs(interpolated / ours.intensity[kept] - 1)):.2e}")

    times = {k: [] for k in ["read_mar345", "fabio", "Reducer.integrate", *methods]}
    for _ in range(rounds):
        times["read_mar345"].append(timed(lambda: vokip.read_mar345(path))[0])
        times["fabio"].append(timed(lambda: fabio.open(path).data)[0])
        times["Reducer.integrate"].append(timed(lambda: reducer.integrate(image))[0])
        for name, method in methods.items():
            times[name].append(timed(lambda: pyfai(method))[0])
    for name, values in times.items():
        print(f"{name:22s} median {statistics.median(values) * 1000:7.1f} ms "
              f"(min {min(values) * 1000:.1f}, max {max(values) * 1000:.1f})")

    def ratio(slow, fast):
        return statistics.median(s / f for s, f in zip(times[slow], times[fast]))

    print(f"fabio.open(...).data / read_mar345: {ratio('fabio', 'read_mar345'):.2f}")
    for name in methods:
        print(f"{name} integrate1d / Reducer.integrate: {ratio(name, 'Reducer.integrate'):.2f}")


if __name__ == "__main__":
    main()
