"""How often could any radius chooser miss? A bound for the quality benchmark (needs numpy).

A chooser sees the outside vertices and their heights, never the true heights inside, so it must
give the same R for every interior that agrees with the ring. This module draws such interiors
from the terrain's own statistics: the two models `auto` fits to the 400 outside vertices
nearest the hole (a stationary stable variogram about the least-squares plane, and a power-law
variogram with a linear trend), each conditioned on those heights (conditional Gaussian
simulation, half the draws from each model). For every draw it takes the program's fills at the
scanned radii and finds the best of them, as the benchmark does with the true heights.

The share of draws in which the fill at one radius is more than `limit` times the best is then the
chance that a chooser taking that radius misses the limit, if the terrain is like its models;
the lowest share over the radii is the chance that the best possible chooser misses.
"""

import zlib

import numpy as np

REFERENCES = 400   # outside vertices nearest the hole (ties at the last distance: list order)
PROBES = 600       # inside vertices the draws are made at (evenly through the inside list)
DRAWS = 60         # draws per model


def pair_semivariances(xy, h):
    """Distances and half squared height differences of every pair."""
    i, j = np.triu_indices(len(h), 1)
    d = np.hypot(xy[i, 0] - xy[j, 0], xy[i, 1] - xy[j, 1])
    return d, 0.5 * (h[i] - h[j]) ** 2


def binned(d, g, dmax, bins):
    """Mean distance, mean semivariance and pair count of log-spaced bins up to dmax holding more
    than 20 pairs each."""
    keep = (d > 0) & (d <= dmax)
    d, g = d[keep], g[keep]
    edges = np.geomspace(d.min(), dmax, bins + 1)
    out = []
    for lo, hi in zip(edges[:-1], edges[1:]):
        s = (d >= lo) & (d < hi)
        if s.sum() > 20:
            out.append((d[s].mean(), g[s].mean(), s.sum()))
    return np.array(out).T


def power_law(xy, h, reach):
    """gamma(d) = c d^alpha over pairs closer than two reaches; alpha held to [0.1, 1.9]. (`auto`
    takes three spacings of the outside vertices instead when that is more, for a hole whose
    reach is under one and a half spacings; the benchmark cuts none.)"""
    D, G, _ = binned(*pair_semivariances(xy, h), 2 * reach, 11)
    alpha = float(np.clip(np.polyfit(np.log(D), np.log(G), 1)[0], 0.1, 1.9))
    return alpha, float(np.exp(np.mean(np.log(G) - alpha * np.log(D))))


def stable(xy, h, reach):
    """s (1 - exp(-(d/a)^k)) fitted to the heights about their least-squares plane: the grid
    search `auto` makes (40 ranges from the closest pair, at least 0.001, to 20 reaches; seven
    shapes; pair-weighted log misfit)."""
    T = np.column_stack([np.ones(len(h)), xy])
    residual = h - T @ np.linalg.lstsq(T, h, rcond=None)[0]
    d, g = pair_semivariances(xy, residual)
    D, G, N = binned(d, g, d.max(), 15)
    best = None
    for a in np.geomspace(max(d[d > 0].min(), 1e-3), 20 * reach, 40):
        for k in (0.5, 0.75, 1.0, 1.25, 1.5, 1.75, 1.95):
            f = 1 - np.exp(-(D / a) ** k)
            s = (N * f * G).sum() / (N * f * f).sum()
            misfit = (N * (np.log(s * f + 1e-300) - np.log(G)) ** 2).sum()
            if best is None or misfit < best[0]:
                best = (misfit, a, k, s)
    return best[1:]


def kriging_weights(K, xy, qxy):
    """Weights W (probes x references) of kriging with a linear drift under the (generalised)
    covariance K over references + probes: W h is the prediction, exact for planes."""
    n = len(xy)
    T = np.column_stack([np.ones(n), xy])
    Tq = np.column_stack([np.ones(len(qxy)), qxy])
    A = np.block([[K[:n, :n], T], [T.T, np.zeros((3, 3))]])
    X = np.linalg.solve(A, np.vstack([np.eye(n), np.zeros((3, n))]))
    return np.hstack([K[n:, :n], Tq]) @ X


def conditional_draws(C, W, h, rng):
    """Draws at the probes of a Gaussian field with covariance C over references + probes,
    conditioned on the heights h at the references."""
    n = len(h)
    scale = np.trace(C) / len(C)
    for jitter in (1e-9, 1e-7, 1e-5, 1e-3):      # a long range makes C nearly singular
        try:
            L = np.linalg.cholesky(C + jitter * scale * np.eye(len(C)))
            break
        except np.linalg.LinAlgError:
            pass
    else:
        raise np.linalg.LinAlgError("the covariance of the draws is not positive definite")
    Z = L @ rng.standard_normal((len(C), DRAWS))
    return (W @ h)[:, None] + Z[n:] - W @ Z[:n]


def interior_draws(xy, h, qxy, reach, rng):
    """DRAWS interiors from each of the two models, probes x (2 DRAWS)."""
    P = np.vstack([xy, qxy])
    DP = np.hypot(P[:, None, 0] - P[None, :, 0], P[:, None, 1] - P[None, :, 1])
    a, k, s = stable(xy, h, reach)
    C = s * np.exp(-(DP / a) ** k)
    stationary = conditional_draws(C, kriging_weights(C, xy, qxy), h, rng)
    # The power law as a fractional Brownian field anchored at the hole's centre: its
    # increments have the fitted variogram, and the kriging filters the anchor out.
    alpha, c = power_law(xy, h, reach)
    r = np.hypot(*(P - qxy.mean(0)).T) ** alpha
    C = c * (r[:, None] + r[None, :] - DP ** alpha)
    intrinsic = conditional_draws(C, kriging_weights(-DP ** alpha, xy, qxy), h, rng)
    return np.hstack([stationary, intrinsic])


def nearest_to_hole(out_xy, in_xy, count):
    """Indices of the count outside points nearest to any inside point (ties by list order)."""
    d = np.full(len(out_xy), np.inf)
    for start in range(0, len(in_xy), 512):
        q = in_xy[start:start + 512]
        d = np.minimum(d, np.hypot(out_xy[:, None, 0] - q[None, :, 0],
                                   out_xy[:, None, 1] - q[None, :, 1]).min(1))
    return np.argsort(d, kind="stable")[:count]


def chooser_bound(case, heights, reach, fills, auto_fill, limit):
    """heights: the model's heights, by vertex id; fills: the program's inside heights at each
    scanned R (lists in inside-list order); auto_fill: those at the R auto chose. Returns the
    chance, under the models, that the best possible choice among the scanned R is more than
    limit times the best one's RMSE, the index of that R, and the chance that auto's choice is."""
    nx, ny = case.nx, case.ny
    def plane(ids):
        ids = np.asarray(ids)
        return np.column_stack([(ids % nx) / (nx - 1), (ids // nx) / (ny - 1)])
    out_xy, in_xy = plane(case.outside_ids), plane(case.inside_ids)
    refs = nearest_to_hole(out_xy, in_xy, REFERENCES)
    h = np.asarray(heights, float)[np.asarray(case.outside_ids)[refs]]
    probes = np.unique(np.linspace(0, len(in_xy) - 1, min(len(in_xy), PROBES)).round().astype(int))
    rng = np.random.default_rng(zlib.crc32(case.name.encode()))
    draws = interior_draws(out_xy[refs], h, in_xy[probes], reach, rng)
    def rmse(fill):
        f = np.asarray(fill, float)[probes]
        return np.sqrt(((f[:, None] - draws) ** 2).mean(0))
    errors = np.array([rmse(f) for f in fills])          # radii x draws
    best = errors.min(0)
    miss = (errors > limit * best).mean(1)
    typical = np.log(errors / best).mean(1)
    k = int(np.lexsort((typical, miss))[0])    # ties: the lower mean log ratio
    return dict(p_best=float(miss[k]), k_best=k, p_auto=float((rmse(auto_fill) > limit * best).mean()))
