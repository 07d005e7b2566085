#!/usr/bin/env python3
"""Derives the polynomial of vector_atan_portable.h by the Remez exchange.

atan(t) = t + t*z*Q(z), z = t*t, |t| <= tan(pi/8): Q of the given degree is
the minimax approximation of (atan(t) - t) / t^3 on z in [0, ZMAX]. Prints
the coefficients from the highest power down, as doubles, and the largest
error |z*(Q - exact)| (a fraction of t) with the coefficients so rounded.

    python3 atan_polynomial.py [DEGREE [ZMAX]]      (default 10, 0.1716)
Needs mpmath (Debian: python3-mpmath).
"""
import sys

import mpmath as mp

mp.mp.dps = 60
degree = int(sys.argv[1]) if len(sys.argv) > 1 else 10
zmax = mp.mpf(sys.argv[2]) if len(sys.argv) > 2 else mp.mpf("0.1716")


def target(z):
    if z == 0:
        return mp.mpf(-1) / 3
    t = mp.sqrt(z)
    return (mp.atan(t) - t) / (z * t)


def polynomial(c, z):
    r = mp.mpf(0)
    for a in reversed(c):
        r = r * z + a
    return r


def chebyshev_points(count):
    return [zmax * (1 - mp.cos(mp.pi * i / (count - 1))) / 2 for i in range(count)]


n = degree + 1
points = chebyshev_points(n + 1)
grid = chebyshev_points(4001)
for _ in range(30):
    # Q(z_i) - target(z_i) = (-1)^i E at the reference points.
    a = mp.matrix(n + 1, n + 1)
    b = mp.matrix(n + 1, 1)
    for i, z in enumerate(points):
        for j in range(n):
            a[i, j] = z**j
        a[i, n] = (-1) ** i
        b[i] = target(z)
    solution = mp.lu_solve(a, b)
    c = [solution[j] for j in range(n)]
    level = abs(solution[n])

    def error(z):
        return polynomial(c, z) - target(z)

    # The error's extrema: the grid's, refined by golden-section search.
    values = [error(z) for z in grid]
    extrema = [grid[0]]
    for i in range(1, len(grid) - 1):
        if (values[i] - values[i - 1]) * (values[i + 1] - values[i]) <= 0:
            lo, hi = grid[i - 1], grid[i + 1]
            for _ in range(60):
                m1, m2 = lo + (hi - lo) * 0.382, lo + (hi - lo) * 0.618
                if abs(error(m1)) > abs(error(m2)):
                    hi = m2
                else:
                    lo = m1
            extrema.append((lo + hi) / 2)
    extrema.append(grid[-1])
    # One point per run of equal sign (the largest), n + 1 of them.
    alternating = []
    for z in extrema:
        e = error(z)
        if alternating and mp.sign(alternating[-1][1]) == mp.sign(e):
            if abs(e) > abs(alternating[-1][1]):
                alternating[-1] = (z, e)
        else:
            alternating.append((z, e))
    while len(alternating) > n + 1:
        alternating.pop(0 if abs(alternating[0][1]) < abs(alternating[-1][1]) else -1)
    points = [z for z, _ in alternating]
    largest = max(abs(e) for _, e in alternating)
    if (largest - level) / level < 1e-6:
        break

rounded = [mp.mpf(float(a)) for a in c]
worst = max(abs(polynomial(rounded, z) - target(z)) * z for z in chebyshev_points(20001))
for a in reversed(c):
    print(repr(float(a)))
print(f"largest |z*(Q - exact)|: {mp.nstr(worst, 4)} = {mp.nstr(worst / mp.mpf(2) ** -53, 3)} * 2^-53")
