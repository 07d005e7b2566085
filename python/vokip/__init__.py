"""vokip: MAR345 image-plate images to 1-D diffraction profiles.

read_mar345(path)            the image (uint32, overflow pixels applied) and header
decode(stream, shape)        the 16-bit image of a bare packed stream
polar_angles(...), azimuths(...), integrate(...)
                             the module's geometry and integration procedures
Reducer(...)                 vokip-reduce's reduction, its plan kept from image
                             to image: .integrate(image), .integrate_file(path)
read_run(path)               the arrays of a run file of vokip-reduce --hdf5 (with h5py)

Errors of a bad file are ValueError (OSError when it cannot be read), with
the message vokip-reduce prints for it.
"""

from ._vokip import (
    Profile,
    Reducer,
    __version__,
    azimuths,
    decode,
    integrate,
    polar_angles,
    read_mar345,
)
from .runs import Run, read_run

__all__ = [
    "Profile",
    "Reducer",
    "Run",
    "azimuths",
    "decode",
    "integrate",
    "polar_angles",
    "read_mar345",
    "read_run",
]
