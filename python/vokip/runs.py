"""A run's profiles as vokip-reduce --hdf5 writes them, read with h5py."""

from dataclasses import dataclass, field
from typing import Optional

import numpy as np


@dataclass
class Run:
    """The arrays of a run file. Rows are images, in the run's order; an
    image that failed has a NaN row and its error in failures."""

    unit: str  # the unit's name, as --unit takes it
    radial: np.ndarray  # the bins' centres on the unit's axis
    intensity: np.ndarray  # images x bins
    sigma: Optional[np.ndarray]  # images x bins; None without an error model
    count: np.ndarray  # images x bins: pixels per bin (their shares, when split)
    file_name: list  # the images
    failures: dict  # row: error
    images: dict  # per image: distance, center_x, ..., wavelength, exposure_time, pixels_used
    header: dict  # per image: each header keyword's text
    settings: str  # what made it: program, outputs, every setting
    cake: Optional[dict] = field(default=None)  # azimuth, radial, intensity, count


def _texts(dataset):
    return list(dataset.asstr()[()])


def read_run(path, cake=False):
    """The arrays of a run file written by vokip-reduce --hdf5 (or --join),
    as a Run; with cake=True also its cake (images x azimuth x radial bins,
    which may be large). Needs h5py (Debian: python3-h5py)."""
    try:
        import h5py
    except ImportError as e:
        raise ImportError("vokip.read_run needs h5py (Debian: python3-h5py)") from e
    with h5py.File(path, "r") as f:
        entry = f["entry"]
        profiles = entry["profiles"]
        axis = profiles.attrs["axes"][1]
        images = entry["images"]
        failures = entry["failures"]
        run = Run(
            unit=profiles.attrs["unit"],
            radial=profiles[axis][()],
            intensity=profiles["intensity"][()],
            sigma=profiles["errors"][()] if "errors" in profiles else None,
            count=profiles["count"][()],
            file_name=_texts(images["file_name"]),
            failures=dict(zip(failures["image_index"][()].tolist(),
                              _texts(failures["error"]))),
            images={name: images[name][()] for name in images
                    if name not in ("file_name", "header")},
            header={name: _texts(images["header"][name]) for name in images["header"]},
            settings=entry.attrs["settings"],
        )
        if cake and "cake" in entry:
            group = entry["cake"]
            run.cake = {"azimuth": group["azimuth"][()], "radial": group[axis][()],
                        "intensity": group["intensity"][()], "count": group["count"][()]}
    return run
