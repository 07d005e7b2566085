#!/usr/bin/python3
"""vokip-reduce's profiles and cakes against pyFAI's (Debian's python3-pyfai,
run as a black box) for one tilted MAR345 image, with the solid-angle and
polarization corrections, for each way of splitting pixels.

  pyfai_compare.py VOKIP_REDUCE IMAGE WORK_DIR

Both reduce IMAGE with one geometry (the header's, tilted as the image was
made; vokip-reduce writes it as a .poni that pyFAI loads), the same radial
range and bins; pixels of value 0 are no data.
Prints, per comparison, the relative difference of the intensities over the
inner bins (those a whole pixel's footprint away from the range's ends, and
for the cake cells with at least half a bin's share of pixels): its median,
99th percentile and largest."""
import os
import subprocess
import sys

import fabio
import numpy
import pyFAI

BINS = 3000
CAKE_RADIAL, CAKE_AZIMUTH = 500, 180
RANGE = (2.0, 48.0)  # 2-theta, degrees
POLARIZATION = 0.99
# The plate's tilt, over the image header's geometry (as the image was made).
TILT = ["--tilt", "0.5", "--tilt-direction", "40"]


def vokip(reduce, image, work, split, *options):
    out = os.path.join(work, split + "".join(options).replace("-", "_"))
    subprocess.run([reduce, image, "--split", split, "--polarization", str(POLARIZATION),
                    "--bins", str(BINS), "--range", f"{RANGE[0]}:{RANGE[1]}", "--csv", "-q",
                    "-o", out, "--write-poni", os.path.join(work, "geometry.poni"),
                    "--poni-version", "2", *TILT, *options], check=True)
    name = os.path.splitext(os.path.basename(image))[0]
    return out, name


def csv_profile(out, name):
    rows = numpy.genfromtxt(os.path.join(out, name + ".csv"), delimiter=",", names=True)
    # Split profiles count the pixels' shares, others whole pixels.
    count = "pixel_shares" if "pixel_shares" in rows.dtype.names else "count"
    return rows["two_theta_deg"], rows[count], rows["mean"]


def cake_of(out, name):
    return fabio.open(os.path.join(out, name + ".cake.tif")).data.astype(float)


def summary(label, ours, theirs, keep):
    ok = keep & numpy.isfinite(ours) & numpy.isfinite(theirs) & (theirs != 0)
    rel = numpy.abs(ours[ok] / theirs[ok] - 1)
    print(f"{label:34s} {ok.sum():7d} bins: relative difference median {numpy.median(rel):.2e}, "
          f"99th percentile {numpy.percentile(rel, 99):.2e}, largest {rel.max():.2e}")


def main():
    reduce, image, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    data = fabio.open(image).data
    vokip(reduce, image, work, "none")
    ai = pyFAI.load(os.path.join(work, "geometry.poni"))
    # A whole pixel's footprint (about its size in 2-theta, several bins)
    # from the range's ends: there the two differ in how a pixel partly
    # outside the range counts.
    width = (RANGE[1] - RANGE[0]) / BINS
    # Pixel centres: pyFAI keeps positions in single precision, which moves
    # pixels near an edge to the next bin; the estimator is checked against
    # sums over pyFAI's geometry in double precision instead.
    out, name = vokip(reduce, image, work, "none")
    centre, count, ours = csv_profile(out, name)
    rows, columns = numpy.mgrid[0:data.shape[0], 0:data.shape[1]]
    two_theta = numpy.degrees(ai.tth(rows, columns))
    norm = ai.solidAngleArray(data.shape) * ai.polarization(data.shape, POLARIZATION)
    edges = numpy.linspace(RANGE[0], RANGE[1], BINS + 1)
    kept = data != 0
    signal, _ = numpy.histogram(two_theta[kept], edges, weights=data[kept].astype(float))
    norms, _ = numpy.histogram(two_theta[kept], edges, weights=norm[kept])
    summary("profile, none, sums in double", ours, signal / norms, count > 0)
    for split, method in (("none", ("no", "histogram", "cython")),
                          ("bbox", ("bbox", "histogram", "cython")),
                          ("full", ("full", "histogram", "cython"))):
        out, name = vokip(reduce, image, work, split)
        centre, count, ours = csv_profile(out, name)
        result = ai.integrate1d(data, BINS, unit="2th_deg", radial_range=RANGE, method=method,
                                dummy=0, correctSolidAngle=True,
                                polarization_factor=POLARIZATION)
        inner = (centre > RANGE[0] + 10 * width) & (centre < RANGE[1] - 10 * width) & (count > 0)
        summary(f"profile, {split}", ours, result.intensity, inner)

    # chi from 0 to 360 degrees, as vokip's (set before pyFAI caches any array).
    ai = pyFAI.load(os.path.join(work, "geometry.poni"))
    ai.setChiDiscAtZero()
    for split, method in (("bbox", ("bbox", "histogram", "cython")),
                          ("full", ("full", "histogram", "cython"))):
        out, name = vokip(reduce, image, work, split, "--cake", str(CAKE_AZIMUTH),
                          "--cake-bins", str(CAKE_RADIAL))
        ours = cake_of(out, name)
        result = ai.integrate2d(data, CAKE_RADIAL, CAKE_AZIMUTH, unit="2th_deg",
                                radial_range=RANGE, azimuth_range=(0, 360), method=method,
                                dummy=0, correctSolidAngle=True,
                                polarization_factor=POLARIZATION)
        theirs = result.intensity
        counts = result.count
        rw = (RANGE[1] - RANGE[0]) / CAKE_RADIAL
        radial = numpy.broadcast_to(result.radial, theirs.shape)
        filled = (counts >= 0.5 * counts[counts > 0].mean()) & (radial > RANGE[0] + 2 * rw) & \
                 (radial < RANGE[1] - 2 * rw)
        summary(f"cake, {split}", ours, theirs, filled)


if __name__ == "__main__":
    main()
