#!/usr/bin/python3
"""Reduces MAR345 files with fabio and pyFAI in one Python process, as a
user of those packages would: read each file with fabio, integrate it with
one AzimuthalIntegrator set up once from the FIT2D-style geometry.

  pyfai_batch.py DISTANCE_MM CENTER_X CENTER_Y PIXEL_UM TILT_DEG TILT_DIR_DEG BINS FILE...

Prints one line per file: its name and the seconds its read and integration
took."""
import sys
import time

import fabio
import pyFAI.azimuthalIntegrator


def main():
    distance, cx, cy, pixel, tilt, direction = (float(v) for v in sys.argv[1:7])
    bins = int(sys.argv[7])
    ai = pyFAI.azimuthalIntegrator.AzimuthalIntegrator()
    ai.setFit2D(distance, cx, cy, tilt=tilt, tiltPlanRotation=direction,
                pixelX=pixel, pixelY=pixel)
    for path in sys.argv[8:]:
        start = time.perf_counter()
        data = fabio.open(path).data
        ai.integrate1d(data, bins, unit="2th_deg", correctSolidAngle=False,
                       mask=(data == 0))
        print(path, time.perf_counter() - start, flush=True)


if __name__ == "__main__":
    main()
