"""vokip-reduce --hdf5 and --join: a run's profiles in one NeXus/HDF5 file
that h5py reads, row for row what the .xy files and the Reducer give."""
from pathlib import Path

import h5py
import numpy as np
import pytest
import vokip
import vokip_fixtures as fx
from conftest import run_reduce


@pytest.fixture(scope="module")
def batch(tmp_path_factory):
    """Seven ring images and, sorted among them, a file that is no image."""
    folder = tmp_path_factory.mktemp("batch")
    for k in range(7):
        fx.ring_file(str(folder / f"r{k}.mar300"), seed=k + 1, overflow_pixels=2)
    (folder / "r3b.mar300").write_bytes(b"not an image")
    return folder, sorted(str(p) for p in folder.glob("r*.mar300"))


def test_rows_are_the_xy_profiles_with_names_in_order_and_the_damaged_file_named(batch, tmp_path):
    folder, files = batch
    run = tmp_path / "run.h5"
    code, err = run_reduce(*files, "-o", tmp_path, "--range", "3:40", "--bins", "300",
                           "--error-model", "poisson", "--hdf5", run)
    bad = files.index(str(folder / "r3b.mar300"))
    assert code == 1 and err.startswith(f"vokip-reduce: {files[bad]}: "), err
    error = err[len(f"vokip-reduce: {files[bad]}: "):].rstrip("\n")
    with h5py.File(run, "r") as f:
        # NeXus: the defaults lead to the signal and its axes.
        entry = f[f.attrs["default"]]
        data = entry[entry.attrs["default"]]
        assert data.attrs["NX_class"] == "NXdata"
        intensity = data[data.attrs["signal"]][()]
        rows, axis = data.attrs["axes"]
        radial, count, sigma = data[axis][()], data["count"][()], data["errors"][()]
        assert data[axis].attrs["units"] == "deg"
        assert intensity.shape == (len(files), 300)
        assert list(data[rows][()]) == list(range(len(files)))
        assert list(entry["images/file_name"].asstr()[()]) == files
        assert np.isnan(intensity[bad]).all() and np.isnan(count[bad]).all()
        assert list(entry["failures/image_index"][()]) == [bad]
        assert list(entry["failures/file_name"].asstr()[()]) == [files[bad]]
        assert list(entry["failures/error"].asstr()[()]) == [error]
        header = entry["images/header/DISTANCE"].asstr()[()]
        distance = entry["images/distance"][()]
        assert "bins 300, from 3, to 40" in entry.attrs["settings"]
        for k, name in enumerate(files):
            if k == bad:
                continue
            # The .xy's text: 6 decimals for the position, 8 digits for the rest.
            xy = np.loadtxt(tmp_path / (Path(name).stem + ".xy"))
            kept = count[k] > 0
            np.testing.assert_allclose(radial[kept], xy[:, 0], rtol=0, atol=5.1e-7)
            np.testing.assert_allclose(intensity[k][kept], xy[:, 1], rtol=6e-8, atol=0)
            np.testing.assert_allclose(sigma[k][kept], xy[:, 2], rtol=6e-8, atol=0)
            assert np.isnan(intensity[k][~kept]).all()
            assert distance[k] == float(header[k]) == vokip.read_mar345(name)[1]["distance_mm"]

    got = vokip.read_run(run)
    np.testing.assert_array_equal(got.intensity, intensity)
    np.testing.assert_array_equal(got.sigma, sigma)
    assert got.unit == "2th_deg" and got.file_name == files and got.failures == {bad: error}
    np.testing.assert_array_equal(got.images["distance"], distance)
    assert got.header["DISTANCE"][0] == header[0] and got.cake is None


def contents(path):
    """Every attribute and dataset of the file by name, but the root's
    file_name."""
    items = {}
    with h5py.File(path, "r") as f:
        def visit(name, obj):
            for key, value in obj.attrs.items():
                items[(name, key)] = np.asarray(value)
            if isinstance(obj, h5py.Dataset):
                items[name] = obj[()]
        f.visititems(visit)
        items.update({("/", k): v for k, v in f.attrs.items() if k != "file_name"})
    return items


def same(a, b):
    a, b = np.asarray(a), np.asarray(b)
    if a.dtype.kind == "f":
        return np.array_equal(a, b, equal_nan=True)
    return a.shape == b.shape and a.tolist() == b.tolist()


def test_shares_joined_are_the_whole_run_and_rows_are_the_reducers(batch, tmp_path):
    folder, files = batch
    options = ["--unit", "d_A", "--range", "1:5", "--bins", "200", "--cake", "12",
               "--error-model", "azimuthal"]
    whole = tmp_path / "whole.h5"
    code, err = run_reduce(*files, "-o", tmp_path / "whole", *options, "--hdf5", whole)
    assert code == 1, err
    shares = tmp_path / "shares"
    for k in (1, 2, 3):
        code, err = run_reduce(str(folder / "r*.mar300"), "-o", shares, *options,
                               "--hdf5", shares / "run.h5", "--shard", f"{k}/3")
        assert code == (1 if k == 2 else 0), err
    named = [shares / f"run.{k}-of-3.h5" for k in (3, 1, 2)]
    code, err = run_reduce("--join", tmp_path / "joined.h5", *named[:2])
    assert code == 1 and "share 2 of 3 is missing" in err, err
    code, err = run_reduce("--join", tmp_path / "joined.h5", *named)
    assert code == 0, err
    expected, joined = contents(whole), contents(tmp_path / "joined.h5")
    assert sorted(expected, key=str) == sorted(joined, key=str)
    assert [name for name in expected if not same(expected[name], joined[name])] == []

    # Each row is the image's reduction, bit for bit (the cake in single precision).
    reducer = vokip.Reducer(unit="d_A", range=(1, 5), bins=200, cake=12,
                            error_model="azimuthal")
    with h5py.File(whole, "r") as f:
        np.testing.assert_array_equal(f["entry/profiles/d"][()], reducer.integrate_file(files[0]).radial)
        for k in (0, len(files) - 1):
            p = reducer.integrate_file(files[k])
            np.testing.assert_array_equal(f["entry/profiles/intensity"][k], p.intensity)
            np.testing.assert_array_equal(f["entry/profiles/errors"][k], p.sigma)
            np.testing.assert_array_equal(f["entry/cake/intensity"][k],
                                          p.cake.intensity.astype(np.float32))
            np.testing.assert_array_equal(f["entry/cake/count"][k],
                                          p.cake.count.astype(np.float32))
