"""The quality benchmark's chooser bound: its kriging, its conditional draws and its count.

    test_quality_bound.py <scripts dir>
"""

import sys
import unittest

import numpy as np

sys.path.insert(0, sys.argv.pop(1))
import quality_bound as qb


class GridCase:
    """A 30 x 30 grid with a disc of radius 5 cells cut out of its middle; the outside list is
    every other vertex."""
    def __init__(self):
        self.name = "grid"
        self.nx = self.ny = 30
        ids = range(self.nx * self.ny)
        inside = lambda v: (v % 30 - 14.5) ** 2 + (v // 30 - 14.5) ** 2 < 25
        self.inside_ids = [v for v in ids if inside(v)]
        self.outside_ids = [v for v in ids if not inside(v)]


def distances(P):
    return np.hypot(P[:, None, 0] - P[None, :, 0], P[:, None, 1] - P[None, :, 1])


class KrigingAndDraws(unittest.TestCase):
    def setUp(self):
        rng = np.random.default_rng(7)
        self.xy = rng.random((80, 2))
        self.q = np.vstack([self.xy[:5], rng.random((20, 2))])    # five probes on references
        self.P = np.vstack([self.xy, self.q])

    def covariances(self):
        D = distances(self.P)
        yield "stable", np.exp(-(D / 0.3) ** 1.5), np.exp(-(D / 0.3) ** 1.5)
        r = np.hypot(*(self.P - 0.5).T)
        yield "power", -D ** 1.2, r[:, None] ** 1.2 + r[None, :] ** 1.2 - D ** 1.2

    def test_weights_interpolate_and_reproduce_planes(self):
        plane = lambda p: 3.0 - 2.0 * p[:, 0] + 0.5 * p[:, 1]
        for name, K, _ in self.covariances():
            W = qb.kriging_weights(K, self.xy, self.q)
            np.testing.assert_allclose(W @ plane(self.xy), plane(self.q), atol=1e-9, err_msg=name)
            np.testing.assert_allclose(W[:5], np.eye(80)[:5], atol=1e-9, err_msg=name)

    def test_draws_honour_the_references_and_vary_between_them(self):
        h = np.sin(4 * self.xy[:, 0]) + self.xy[:, 1]
        for name, K, C in self.covariances():
            W = qb.kriging_weights(K, self.xy, self.q)
            draws = qb.conditional_draws(C, W, h, np.random.default_rng(3))
            self.assertEqual(draws.shape, (25, qb.DRAWS))
            np.testing.assert_allclose(draws[:5], np.repeat(h[:5, None], qb.DRAWS, 1), atol=1e-3,
                                       err_msg=name)
            self.assertGreater(draws[5:].std(1).min(), 1e-3, name)
            # Their mean is the kriging prediction, within the draws' own scatter.
            spread = draws[5:].std(1) / np.sqrt(qb.DRAWS)
            self.assertTrue(np.all(np.abs(draws[5:].mean(1) - W[5:] @ h) < 5 * spread), name)

    def test_a_covariance_singular_beyond_rounding_gets_a_larger_jitter(self):
        _, K, C = next(self.covariances())
        W = qb.kriging_weights(K, self.xy, self.q)
        h = self.xy[:, 0]
        shifted = C - 1e-8 * np.eye(len(C))      # too far below definite for the first jitter
        draws = qb.conditional_draws(shifted, W, h, np.random.default_rng(5))
        self.assertTrue(np.all(np.isfinite(draws)))
        np.testing.assert_allclose(draws[:5], np.repeat(h[:5, None], qb.DRAWS, 1), atol=1e-2)
        with self.assertRaises(np.linalg.LinAlgError):
            qb.conditional_draws(C - 0.5 * np.eye(len(C)), W, h, np.random.default_rng(5))

class Variograms(unittest.TestCase):
    def test_power_law_exponent_of_a_plane_and_of_noise(self):
        rng = np.random.default_rng(1)
        xy = rng.random((300, 2))
        self.assertAlmostEqual(qb.power_law(xy, xy @ [1.0, 2.0], 0.3)[0], 1.9)
        self.assertAlmostEqual(qb.power_law(xy, rng.standard_normal(300), 0.3)[0], 0.1)

    def test_stable_model_of_noise_about_a_plane(self):
        rng = np.random.default_rng(2)
        xy = rng.random((300, 2))
        a, k, s = qb.stable(xy, 0.5 * rng.standard_normal(300) + xy @ [5.0, -3.0], 0.1)
        self.assertLess(a, 0.05)
        self.assertAlmostEqual(s, 0.25, delta=0.05)


class Bound(unittest.TestCase):
    def test_a_fill_at_the_prediction_never_misses_and_one_far_off_always_does(self):
        case = GridCase()
        nx = case.nx
        heights = [np.sin((v % nx) / 6.0) + np.cos((v // nx) / 9.0) for v in range(nx * nx)]
        near = [heights[v] for v in case.inside_ids]      # the smooth surface itself
        far = [z + 10.0 for z in near]
        b = qb.chooser_bound(case, heights, 5.0 / 29, [near, far], far, 1.35)
        self.assertEqual(b["k_best"], 0)
        self.assertEqual(b["p_best"], 0.0)
        self.assertEqual(b["p_auto"], 1.0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
