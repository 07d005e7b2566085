"""Reducer: vokip-reduce's profiles for the same options, bit for bit,
whether the image comes from a file or an array; its refusals."""
import threading
import time

import numpy as np
import pytest
import vokip
import vokip_fixtures as fx
from conftest import command_line_message, run_reduce


@pytest.fixture(scope="module")
def inputs(tmp_path_factory, rings):
    """The files the option sets name: a mask, a dark, a flat and a .poni."""
    folder = tmp_path_factory.mktemp("inputs")
    path = rings[0]
    mask = np.zeros((300, 300), np.uint8)
    mask[120:140, :] = 1
    mask[:, 200:215] = 255
    (folder / "band.pgm").write_bytes(b"P5 300 300 255\n" + mask.tobytes())
    fx.ring_file(str(folder / "dark.mar300"), seed=11, overflow_pixels=0)
    fx.ring_file(str(folder / "flat.mar300"), seed=12, overflow_pixels=0)
    code, err = run_reduce(path, "-o", folder, "--write-poni", folder / "plate.poni",
                           "--distance", 118, "--tilt", 1.2, "--tilt-direction", 25,
                           "--wavelength", 0.8)
    assert code == 0, err
    return {"mask": folder / "band.pgm", "mask_array": mask,
            "dark": folder / "dark.mar300", "flat": folder / "flat.mar300",
            "poni": folder / "plate.poni"}


def option_sets(f):
    """vokip-reduce's options and the Reducer's keywords that say the same."""
    dark_array = vokip.read_mar345(f["dark"])[0].astype(np.float32)
    return [
        ([], {}),
        (["--median", "--cake", "36", "--azimuth", "0:180", "--split", "none"],
         {"median": True, "cake": 36, "azimuth": (0, 180), "split": "none"}),
        (["--cake", "12", "--cake-bins", "40", "--split", "full", "--error-model", "azimuthal"],
         {"cake": 12, "cake_bins": 40, "split": "full", "error_model": "azimuthal"}),
        (["--unit", "q_A^-1", "--bin-width", "0.01"], {"unit": "q_A^-1", "bin_width": 0.01}),
        (["--unit", "d_A", "--bins", "400", "--error-model", "azimuthal"],
         {"unit": "d_A", "bins": 400, "error_model": "azimuthal"}),
        (["--unit", "r_mm", "--range", "10:80", "--error-model", "poisson"],
         {"unit": "r_mm", "range": (10, 80), "error_model": "poisson"}),
        (["--azimuth", "-45:120", "--median", "--mask", f["mask"]],
         {"azimuth": (-45, 120), "median": True, "mask": f["mask"]}),
        (["--mask", f["mask"], "--low", "20", "--high", "5000", "--no-solid-angle"],
         {"mask": f["mask_array"], "low": 20, "high": 5000, "solid_angle": False}),
        (["--poni", f["poni"], "--polarization", "0.95", "--error-model", "poisson",
          "--range", "5:"],
         {"poni": str(f["poni"]), "polarization": 0.95, "error_model": "poisson",
          "range": (5, None)}),
        (["--dark", f["dark"], "--flat", f["flat"], "--error-model", "poisson",
          "--plate-absorption", "0.6"],
         {"dark": dark_array, "flat": f["flat"], "error_model": "poisson",
          "plate_absorption": 0.6}),
        (["--distance", "110", "--center", "150,140", "--pixel-size", "600,610", "--tilt", "1",
          "--tilt-direction", "20", "--wavelength", "0.5", "--unit", "q_nm^-1", "--bins", "250"],
         {"distance": 110, "center": (150, 140), "pixel_size": (600, 610), "tilt": 1,
          "tilt_direction": 20, "wavelength": 0.5, "unit": "q_nm^-1", "bins": 250}),
    ]


def same(a, b):
    return np.array_equal(a, b, equal_nan=True)


def written_columns(path):
    return [line.split() for line in path.read_text().splitlines() if not line.startswith("#")]


def test_profiles_equal_vokip_reduces(tmp_path, rings, inputs):
    path = rings[0]
    for k, (args, keywords) in enumerate(option_sets(inputs)):
        args = [str(a) for a in args]
        profile = vokip.Reducer(**keywords).integrate_file(path)

        # The engine's numbers for the command line, at full precision.
        engine = fx.reduce_as_command_line(args + [str(path)])
        assert same(profile.count, engine["count"]), args
        for name, theirs in (("intensity", "value"), ("variance", "variance"),
                             ("spread", "spread"), ("sigma", "sigma")):
            if engine[theirs] is None:
                assert getattr(profile, name) is None
            else:
                assert same(getattr(profile, name), engine[theirs]), (args, name)
        if "cake_bins" in keywords:
            cake = profile.cake
            assert cake.intensity.shape == (12, 40) and len(cake.radial) == 40
            assert same(cake.intensity.ravel(), engine["cake_value"])
            # The cake's coarser bins hold the pixels of the profile's.
            assert cake.count.sum() == pytest.approx(profile.count.sum(), rel=1e-9)
        elif "cake" in keywords:
            cake = profile.cake
            assert cake.intensity.shape == cake.count.shape == (36, len(profile.count))
            assert cake.azimuth[0] == 2.5 and cake.azimuth_width == 5
            assert same(cake.intensity.ravel(), engine["cake_value"])
            assert same(cake.count.ravel(), engine["cake_count"])
            assert (cake.count.sum(axis=0) == profile.count).all()
        else:
            assert profile.cake is None
        if keywords.get("unit") == "d_A":
            assert profile.radial == pytest.approx(2 * np.pi / engine["centre"], rel=1e-15)
        else:
            assert same(profile.radial, engine["centre"])

        # The files vokip-reduce writes.
        out = tmp_path / str(k)
        sigma = profile.sigma is not None
        code, err = run_reduce(path, *args, "--csv", "-o", out)
        assert code == 0, err
        kept = profile.count > 0
        lines = [[f"{x:.6f}", f"{y:.8g}"] + ([f"{s:.8g}"] if sigma else [])
                 for x, y, s in zip(profile.radial[kept], profile.intensity[kept],
                                    profile.sigma[kept] if sigma else profile.radial[kept])]
        assert written_columns(out / "rings.xy") == lines, args
        rows = [line.split(",") for line in (out / "rings.csv").read_text().splitlines()[1:]]
        assert [int(r[0]) for r in rows] == list(range(len(profile.count)))
        at = rows[0].index(f"{profile.count[0]:.10g}", 2) if rows else 0
        for i, row in enumerate(rows):
            assert row[at] == f"{profile.count[i]:.10g}"
            if profile.count[i] == 0:
                continue
            expected = [profile.intensity[i], profile.variance[i], profile.spread[i]]
            assert row[at + 1:at + 4] == [f"{v:.10g}" for v in expected], (args, i)
            if sigma:
                assert row[-1] == f"{profile.sigma[i]:.10g}"


def test_an_array_reduces_as_its_file_does(rings, inputs):
    path, written = rings
    reducer = vokip.Reducer(poni=inputs["poni"], error_model="poisson", median=True)
    from_file = reducer.integrate_file(path)
    image, _ = vokip.read_mar345(path)
    for given in (image, written, written.astype(np.int64), np.asfortranarray(written)):
        profile = reducer.integrate(given)
        for a, b in zip(profile, from_file):
            assert same(a, b)
    assert reducer.shape == (300, 300)
    assert reducer.geometry["distance_mm"] == pytest.approx(118)
    x, y, sigma, n = from_file
    assert len(x) == len(y) == len(sigma) == len(n) > 100
    # Each pixel's shares add up to one, but for those of pixels on the
    # range's ends.
    assert from_file.pixels["used"] == pytest.approx(n.sum(), rel=1e-3)
    assert n.sum() > 0.9 * 300 * 300


def test_images_of_another_shape_are_refused(tmp_path, rings, inputs):
    path, written = rings
    reducer = vokip.Reducer(poni=inputs["poni"])
    reducer.integrate(written)
    with pytest.raises(ValueError, match=r"^the image is 300 x 200 pixels, not the 300 x 300 this "
                                         r"reduction is planned for \[shape="):
        reducer.integrate(written[:200])
    small = tmp_path / "small.mar200"
    fx.ring_file(str(small), size=200)
    with pytest.raises(ValueError, match=rf"^{small}: the image is 200 x 200 pixels"):
        reducer.integrate_file(small)
    # The .poni is of a 300 x 300 detector: a Reducer for 200 x 200 images
    # is refused by the same rule.
    with pytest.raises(ValueError, match=r"^the image is 200 x 200 pixels, not the 300 x 300 of "
                                         r"the .poni's detector \(its Detector_config max_shape\)"):
        vokip.Reducer(poni=inputs["poni"], shape=(200, 200))
    planned = vokip.Reducer(distance=118, center=(100, 100), pixel_size=600, shape=(200, 200))
    assert planned.geometry is not None and planned.shape == (200, 200)
    with pytest.raises(ValueError, match=r"the image is 300 x 300 pixels, not the 200 x 200"):
        planned.integrate(written)
    assert len(planned.integrate_file(small).count) > 0


def test_images_of_floats(rings, inputs):
    path, written = rings
    counting = vokip.Reducer(poni=inputs["poni"], error_model="poisson")
    counts = counting.integrate(written)
    # Floats that are whole numbers are the counts they are; NaN is no data
    # as 0 is.
    floats = written.astype(np.float32)
    floats[written == 0] = np.nan
    for given in (written.astype(np.float64), floats):
        for a, b in zip(counting.integrate(given), counts):
            assert same(a, b)
    # Other values are taken as they are: negative after a background is
    # taken off, fractional after a normalisation. Without a normalisation
    # the mean follows them.
    plain = vokip.Reducer(poni=inputs["poni"], solid_angle=False)
    mean = plain.integrate(written).intensity
    kept = written != 0
    shifted = np.where(kept, written * 0.5 - 100.25, 0)
    assert np.allclose(plain.integrate(shifted).intensity, mean * 0.5 - 100.25, rtol=0,
                       atol=1e-9 * np.nanmax(mean), equal_nan=True)
    with pytest.raises(ValueError, match="counting error model needs counts.*error_model="):
        counting.integrate(shifted)
    with pytest.raises(ValueError, match="finite"):
        plain.integrate(np.where(kept, np.inf, 0))


def test_bad_images_and_keywords_are_refused(rings, inputs):
    written = rings[1]
    geometry = {"distance": 120, "center": (150, 150), "pixel_size": 600}
    reducer = vokip.Reducer(**geometry)
    with pytest.raises(TypeError, match="integers or floats"):
        reducer.integrate(written.astype(complex))
    with pytest.raises(ValueError, match="from 0 to 4294967295"):
        reducer.integrate(written.astype(np.int32) - 1)
    with pytest.raises(ValueError, match="2-D"):
        reducer.integrate(written[None])
    with pytest.raises(ValueError, match=r"^an image without a header needs the whole geometry \[poni=, or distance="):
        vokip.Reducer(distance=120).integrate(written)
    with pytest.raises(ValueError, match=r"^the wavelength is not known \(the unit q_A\^-1 needs it\) \[wavelength=\]$"):
        vokip.Reducer(unit="q_A^-1", **geometry).integrate(written)
    for keywords, message in (({"bins": 0}, r"the number of bins must be 1 to 10000000 \[bins=\]"),
                              ({"bins": 10, "bin_width": 0.1}, "a number of bins or a bin width, not both"),
                              ({"polarization": 1.5}, r"from -1 to 1 \[polarization=\]"),
                              ({"unit": "2theta_rad"}, r"the unit '2theta_rad' is not one of .* \[unit=\]"),
                              ({"azimuth": (10, 5)}, r"start must lie below its end \[azimuth=\]"),
                              ({"range": (5, 1)}, r"low end must lie below its high end \[range=\]"),
                              ({"error_model": "gauss"}, r"the error model 'gauss' is not one of .*\[error_model=\]"),
                              ({"distance": -3, "center": (1, 1), "pixel_size": 100},
                               r"the distance must be a positive number of mm \[distance=\]")):
        with pytest.raises(ValueError, match=message):
            vokip.Reducer(**keywords)
    with pytest.raises(ValueError, match="center takes two numbers"):
        vokip.Reducer(center=5)
    for keywords in ({"distance": "far"}, {"bins": 10.5}):
        with pytest.raises(TypeError):
            vokip.Reducer(**keywords)
    # An image the plan cannot take leaves the Reducer free for the next.
    masked = vokip.Reducer(mask=np.zeros((300, 300)), **geometry)
    with pytest.raises(ValueError, match="^the mask is 300 x 300 pixels, the image 300 x 200"):
        masked.integrate(written[:200])
    assert masked.shape is None and len(masked.integrate(written).count) > 0
    # The files a Reducer is given fail as vokip-reduce's options do.
    missing = inputs["mask"].with_name("none.pgm")
    expected = command_line_message(rings[0], "--mask", missing)
    assert expected == f"mask {missing}: cannot open: No such file or directory"
    with pytest.raises(OSError, match=f"^{expected}$"):
        vokip.Reducer(mask=missing)
    with pytest.raises(ValueError, match=f"^.poni {inputs['dark']}: the .poni line"):
        vokip.Reducer(poni=inputs["dark"])


def test_reductions_run_outside_the_interpreter_lock(tmp_path):
    path = tmp_path / "large.mar900"
    image = fx.ring_file(str(path), size=900)
    reducer = vokip.Reducer(distance=120, center=(450, 450), pixel_size=600, median=True,
                            threads=1)
    expected = reducer.integrate(image)
    stamps, done = [], threading.Event()

    def tick():
        while not done.is_set():
            stamps.append(time.perf_counter())

    ticker = threading.Thread(target=tick)
    ticker.start()
    start = time.perf_counter()
    profile = reducer.integrate(image)
    end = time.perf_counter()
    done.set()
    ticker.join()
    assert same(profile.intensity, expected.intensity)
    inside = [start] + [t for t in stamps if start < t < end] + [end]
    # Held throughout, the lock would leave the ticker no moment inside the call.
    assert max(np.diff(inside)) < 0.9 * (end - start)

    # Reducers of their own on other threads give the profiles they give alone.
    other = tmp_path / "other.mar900"
    fx.ring_file(str(other), size=900, seed=9)
    alone = [vokip.Reducer(median=True).integrate_file(p) for p in (path, other)]
    results = [None, None]

    def reduce(k, p):
        results[k] = vokip.Reducer(median=True).integrate_file(p)

    workers = [threading.Thread(target=reduce, args=(k, p)) for k, p in enumerate((path, other))]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    for a, b in zip(alone, results):
        assert same(a.intensity, b.intensity) and same(a.count, b.count)
