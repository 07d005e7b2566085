"""The module's procedures on NumPy arrays: the same values as their cores
called on plain lists, in both addressing modes, and the cases the
procedures are defined by."""
import numpy as np
import pytest
import vokip
import vokip_fixtures as fx


def core_polar(d, t, r, x, y, shape):
    n, w = int(np.prod(shape)), shape[-1]
    return np.array(fx.polar_angle_map(d, t, r, list(map(float, np.ravel(x))),
                                       list(map(float, np.ravel(y))), n, w)).reshape(shape)


def core_azimuth(y, x, shape):
    n, w = int(np.prod(shape)), shape[-1]
    return np.array(fx.azimuth_map(list(map(float, np.ravel(y))),
                                   list(map(float, np.ravel(x))), n, w)).reshape(shape)


def test_polar_angles_equal_the_core_on_grids_and_pairs():
    rng = np.random.default_rng(1)
    x = (np.arange(37) - 18.4) * 150.0
    y = (np.arange(23) - 11.7) * 150.0
    for tilt, direction in ((0, 0), (2.5, 40), (-7, 200)):
        grid = vokip.polar_angles(150, tilt, direction, x, y[:, None])
        assert grid.shape == (23, 37)
        assert np.array_equal(grid, core_polar(150, tilt, direction, x, y, (23, 37)))
        px, py = rng.normal(0, 5e4, (2, 6, 9))
        pairs = vokip.polar_angles(150, tilt, direction, px, py)
        assert pairs.shape == (6, 9)
        assert np.array_equal(pairs, core_polar(150, tilt, direction, px, py, (6, 9)))
    # Other types and layouts are converted, giving the same angles.
    spaced = np.repeat(y, 2)[::2][:, None]
    assert np.array_equal(vokip.polar_angles(150, 1, 2, x.astype(np.float32), spaced),
                          core_polar(150, 1, 2, x.astype(np.float32), y, (23, 37)))
    assert np.array_equal(vokip.polar_angles(150, 1, 2, list(x), np.asfortranarray(y[:, None])),
                          core_polar(150, 1, 2, x, y, (23, 37)))


def test_polar_angles_are_the_defined_ones():
    assert vokip.polar_angles(1, 0, 0, [1000], [0])[0] == pytest.approx(45, abs=1e-12)
    tilted = vokip.polar_angles(0.1, 30, 0, [100, -100, 0, 0], [0, 0, 100, 0])
    assert tilted == pytest.approx([30, 60, 45, 0], abs=1e-12)
    assert vokip.polar_angles(0.1, 30, 90, [0, 100], [100, 0]) == pytest.approx([30, 45],
                                                                             abs=1e-12)


def test_polar_angles_follow_the_modules_addressing_with_a_shape():
    x, y = np.array([1.0, 2.0, 3.0]) * 100, np.array([10.0, 20.0]) * 100
    grid = vokip.polar_angles(1, 3, 10, x, y, shape=(2, 3))
    assert grid[1, 1] == vokip.polar_angles(1, 3, 10, [x[1]], [y[1]])[0]
    assert np.array_equal(grid, core_polar(1, 3, 10, x, y, (2, 3)))
    # A shape shorter than x: one row of the first elements, y[0] throughout.
    short = vokip.polar_angles(1, 3, 10, x, y, shape=2)
    assert np.array_equal(short, core_polar(1, 3, 10, x, y, (2,)))
    assert short[1] == grid[0, 1]
    # Elements whose coordinates are missing are NaN.
    missing = vokip.polar_angles(1, 3, 10, x, y, shape=(3, 3))
    assert np.isnan(missing[2]).all() and np.array_equal(missing[:2], grid)
    # One row, given as pairs, holds the values the same row of a grid does;
    # so do coordinates broadcast otherwise.
    row = vokip.polar_angles(1, 3, 10, x, y[:1])
    assert row.shape == (3,) and np.array_equal(row, grid[0])
    spread = vokip.polar_angles(1, 3, 10, np.tile(x, (2, 1)), y[:, None])
    assert np.array_equal(spread, grid)
    with pytest.raises(ValueError):
        vokip.polar_angles(1, 3, 10, x, y)


def test_azimuths_equal_the_core_and_are_the_defined_ones():
    x = np.arange(-20, 21) * 100.0
    y = np.arange(-9, 12) * 100.0
    grid = vokip.azimuths(y[:, None], x)
    assert grid.shape == (21, 41)
    assert np.array_equal(grid, core_azimuth(y, x, (21, 41)))
    quadrants = vokip.azimuths([1, 1, -1, -1], [1, -1, -1, 1])
    assert quadrants == pytest.approx([45, 135, 225, 315], abs=1e-12)
    on_axes = vokip.azimuths([0, 5, 0], [5, 0, 0])
    assert on_axes == pytest.approx([np.degrees(np.arctan2(1, 5)),
                                     np.degrees(np.arctan2(5, 1)), 45], abs=1e-12)
    shaped = vokip.azimuths([1.0, 2.0], [3.0, -4.0, 5.0], shape=(2, 3))
    assert shaped[1, 2] == vokip.azimuths([2.0], [5.0])[0]
    column = vokip.azimuths(y[:, None], x[:1])
    assert column.shape == (21, 1) and np.array_equal(column[:, 0], grid[:, 0])


def test_integrate_equals_the_cores():
    rng = np.random.default_rng(2)
    keys = np.sort(rng.uniform(0, 30, 5000))
    values = rng.poisson(200, 5000).astype(float)
    centres = np.linspace(-1, 33, 300)  # bins below and above the keys stay empty
    for median in (False, True):
        got = vokip.integrate(keys, values, centres, median=median)
        expected = fx.integration(list(keys), list(values), list(centres), median)
        for a, b in zip(got, expected):
            assert np.array_equal(a, np.array(b), equal_nan=True)
    mean = vokip.integrate(keys, values, centres)
    assert mean[0][0] == 0 and np.isnan(mean[2][0])  # an empty bin's mean and dispersion
    assert np.isnan(vokip.integrate(keys, values, centres, median=True)[0][0])


def test_integrate_gives_the_defined_statistics():
    mean, variance, dispersion = vokip.integrate([0.9, 1.0, 1.1, 2.0], [4, 6, 8, 5], [1, 2])
    assert list(mean) == [6, 5] and list(variance) == [4, 0]
    assert dispersion == pytest.approx([8 / 6, 0])
    median, variance, absdev = vokip.integrate([1, 1, 1, 2, 2, 2, 2], [1, 2, 9, 4, 1, 3, 2],
                                               [1, 2], median=True)
    assert list(median) == [2, 2.5]
    assert variance == pytest.approx([50 / 3, 1.25])
    assert absdev == pytest.approx([8 / 3, 1])
    with pytest.raises(ValueError, match="3 keys but only 2 values"):
        vokip.integrate([1, 2, 3], [1, 2], [1, 2])
    # Keys or centres out of order would bin nonsense: refused, naming them.
    for keys, centres, message in (([1, 3, 2], [1, 2], r"^keys must be in ascending order: "
                                                        r"keys\[2\] = 2 follows 3$"),
                                   ([1, np.nan], [1, 2], r"^keys .* keys\[1\] = nan"),
                                   ([1, 2, 3], [2, 1], r"^centres .* centres\[1\] = 1 follows 2")):
        with pytest.raises(ValueError, match=message):
            vokip.integrate(keys, [1, 1, 1], centres)
