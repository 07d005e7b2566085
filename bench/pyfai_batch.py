#!/usr/bin/python3
"""Reduces MAR345 files with fabio and pyFAI in one Python process, as a
user of those packages would: read each file with fabio, integrate it with
one AzimuthalIntegrator set up once from the FIT2D-style geometry, whose
integration engine (the pixels' look-up table) is made for the first image
and kept for every further one. Pixels of value 0 are no data (dummy=0,
which keeps the engine, where a mask made from each image would not).

  pyfai_batch.py [--corrected] [--method SPLIT,ALGO,IMPL] DISTANCE_MM CENTER_X CENTER_Y
                 PIXEL_UM TILT_DEG TILT_DIR_DEG BINS FILE...

--corrected applies the solid angle and a polarization factor of 0.99 and
asks for Poisson error bars, as vokip-reduce --polarization 0.99
--error-model poisson does. --method is pyFAI's (default no,csr,cython:
pixel centres in a sparse matrix kept from image to image). Prints one line
per file: its name and the seconds its read and integration took."""
import sys
import time

import fabio
import pyFAI.azimuthalIntegrator


def main():
    args = sys.argv[1:]
    corrected = args[0] == "--corrected"
    if corrected:
        args = args[1:]
    method = ("no", "csr", "cython")
    if args[0] == "--method":
        method = tuple(args[1].split(","))
        args = args[2:]
    distance, cx, cy, pixel, tilt, direction = (float(v) for v in args[0:6])
    bins = int(args[6])
    ai = pyFAI.azimuthalIntegrator.AzimuthalIntegrator()
    ai.setFit2D(distance, cx, cy, tilt=tilt, tiltPlanRotation=direction,
                pixelX=pixel, pixelY=pixel)
    options = {"correctSolidAngle": False}
    if corrected:
        options = {"correctSolidAngle": True, "polarization_factor": 0.99,
                   "error_model": "poisson"}
    for path in args[7:]:
        start = time.perf_counter()
        data = fabio.open(path).data
        ai.integrate1d(data, bins, unit="2th_deg", dummy=0, method=method, **options)
        print(path, time.perf_counter() - start, flush=True)


if __name__ == "__main__":
    main()
