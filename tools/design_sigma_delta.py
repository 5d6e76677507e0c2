#!/usr/bin/env python3
"""Derives the loop coefficients of the fifth-order sigma-delta modulator in
tools/lib/SigmaDelta.cpp. Plain Python, no extra modules.

Noise transfer function NTF(z) = N(z) / D(z):
  * zeros on the unit circle at the optimal in-band positions (the roots of the
    fifth Legendre polynomial, scaled to the 0-20 kHz band);
  * poles of a fifth-order digital Butterworth filter whose cut-off is found by
    bisection so that max |NTF| over the unit circle equals H_INF.
The loop filter from the output bit to the quantiser input is L = 1 - 1/NTF.
The modulator's structure (see SigmaDeltaModulator::Step) is simulated with a
unit feedback into one integrator at a time; the feedback weights a[i] are the
least-squares fit of those impulse responses to the impulse response of L (the
fit is exact to rounding). The resonator weights are g = 2 - 2 cos(w) for each
complex zero pair at angle w.

Usage: design_sigma_delta.py [H_INF] (default 1.3)
"""
import cmath
import math
import sys

ORDER = 5
LEGENDRE5 = [0.0, 0.5384693101056831, -0.5384693101056831, 0.9061798459386640, -0.9061798459386640]


def polymul(a, b):
    r = [0j] * (len(a) + len(b) - 1)
    for i, x in enumerate(a):
        for j, y in enumerate(b):
            r[i + j] += x * y
    return r


def poly(roots):
    p = [1 + 0j]
    for r in roots:
        p = polymul(p, [1, -r])
    return p  # highest power first


def polyval(p, z):
    v = 0j
    for c in p:
        v = v * z + c
    return v


def butterworth_poles(fc):
    w = 2 * math.tan(math.pi * fc)
    poles = []
    for k in range(1, ORDER + 1):
        s = cmath.exp(1j * math.pi * (2 * k + ORDER - 1) / (2 * ORDER)) * w
        poles.append((2 + s) / (2 - s))
    return poles


def design_ntf(osr, hinf):
    zeros = [cmath.exp(1j * x * math.pi / osr) for x in LEGENDRE5]
    num = poly(zeros)

    def max_gain(fc):
        den = poly(butterworth_poles(fc))
        grid = (cmath.exp(1j * math.pi * k / 2048) for k in range(2049))
        return max(abs(polyval(num, z) / polyval(den, z)) for z in grid), den

    lo, hi = 1e-4, 0.49
    for _ in range(60):
        mid = (lo + hi) / 2
        if max_gain(mid)[0] > hinf:
            hi = mid
        else:
            lo = mid
    return zeros, num, max_gain(lo)[1]


def impulse(num, den, n):
    num = [c.real for c in num]
    den = [c.real for c in den]
    size = len(den)
    num = [0.0] * (size - len(num)) + num
    x = [1.0] + [0.0] * (n - 1)
    y = []
    for k in range(n):
        acc = sum(num[i] * x[k - i] for i in range(size) if k - i >= 0)
        acc -= sum(den[i] * y[k - i] for i in range(1, size) if k - i >= 0)
        y.append(acc / den[0])
    return y


def structure_impulse(a, g, n):
    """Quantiser input after a unit output bit at time 0 (same equations as Step)."""
    s = [0.0] * 5
    out = []
    for k in range(n):
        v = 1.0 if k == 0 else 0.0
        out.append(s[4])
        n1 = s[0] - a[0] * v
        n2 = s[1] + s[0] - a[1] * v - g[0] * s[2]
        n3 = s[2] + n2 - a[2] * v
        n4 = s[3] + s[2] - a[3] * v - g[1] * s[4]
        n5 = s[4] + n4 - a[4] * v
        s = [n1, n2, n3, n4, n5]
    return out


def solve(m, b):
    n = len(b)
    aug = [row[:] + [b[i]] for i, row in enumerate(m)]
    for c in range(n):
        p = max(range(c, n), key=lambda r: abs(aug[r][c]))
        aug[c], aug[p] = aug[p], aug[c]
        for r in range(n):
            if r != c:
                f = aug[r][c] / aug[c][c]
                for k in range(c, n + 1):
                    aug[r][k] -= f * aug[c][k]
    return [aug[i][n] / aug[i][i] for i in range(n)]


def main():
    hinf = float(sys.argv[1]) if len(sys.argv) > 1 else 1.3
    for rate in (2822400, 5644800, 11289600):
        osr = rate / 2 / 20000
        zeros, num, den = design_ntf(osr, hinf)
        taps = 30
        target = impulse([num[i] - den[i] for i in range(len(num))], num, taps)
        g = [2 - 2 * math.cos(cmath.phase(zeros[1])), 2 - 2 * math.cos(cmath.phase(zeros[3]))]
        paths = []
        for i in range(ORDER):
            a = [0.0] * ORDER
            a[i] = 1.0
            paths.append(structure_impulse(a, g, taps))
        normal = [[sum(paths[i][k] * paths[j][k] for k in range(taps)) for j in range(ORDER)] for i in range(ORDER)]
        rhs = [sum(paths[i][k] * target[k] for k in range(taps)) for i in range(ORDER)]
        a = solve(normal, rhs)
        err = max(abs(sum(a[i] * paths[i][k] for i in range(ORDER)) - target[k]) for k in range(taps))
        print("rate %d (OSR %.2f), fit error %.3g" % (rate, osr, err))
        print("  a = {%s}" % ", ".join("%.17g" % x for x in a))
        print("  g = {%s}" % ", ".join("%.17g" % x for x in g))


if __name__ == "__main__":
    main()
