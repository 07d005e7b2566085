"""Every wrong argument raises TypeError, ValueError or MemoryError with a
message that starts with the argument's name: none of the binding library's
own texts reaches the user."""
import os
import subprocess
import sys

import numpy as np
import pytest
import vokip

GEOMETRY = {"distance": 100, "center": (5, 5), "pixel_size": 100}

WRONG = [
    (lambda: vokip.read_mar345(None), TypeError, "path must be a file name"),
    (lambda: vokip.decode("bytes?", 4), TypeError, "stream must be bytes-like"),
    (lambda: vokip.decode(b"abc", (2, 2.5)), TypeError, "shape is an int or a sequence of ints"),
    (lambda: vokip.decode(b"abc", 2**64), ValueError, "shape 18446744073709551616 has more "),
    (lambda: vokip.polar_angles("far", 0, 0, [1], [1]), TypeError, "distance must be a number"),
    (lambda: vokip.polar_angles(1, 0, 0, [[1], [1, 2]], [1]), TypeError, "x must be an array"),
    (lambda: vokip.azimuths([1.0, 2, 3], [1.0, 2]), ValueError,
     r"x of shape \(2,\) and y of shape \(3,\) do not broadcast"),
    (lambda: vokip.integrate("keys", [1.0], [1.0]), TypeError, "keys must be an array"),
    (lambda: vokip.integrate([1.0], [1.0], [1.0], median="yes"), TypeError,
     "median must be True or False"),
    (lambda: vokip.Reducer(unit=5), TypeError, "unit must be a str"),
    (lambda: vokip.Reducer(solid_angle="no"), TypeError, "solid_angle must be True or False"),
    (lambda: vokip.Reducer(bins=2**70), ValueError, r"the number of bins must be 1 to "),
    (lambda: vokip.Reducer(threads=2**40), ValueError, "threads must be 1 to 256"),
    (lambda: vokip.Reducer(poni=5), TypeError, "poni must be a file name"),
    (lambda: vokip.Reducer(poni="a\0b"), ValueError, "poni holds a NUL byte"),
    (lambda: vokip.Reducer(dark=[[1, 2], [3]]), TypeError, "dark must be an array of numbers"),
    (lambda: vokip.Reducer(mask=np.zeros((2, 2, 2))), ValueError, "mask: a mask array must be 2-D"),
    # 2**32 + 1 rows is not 1 row.
    (lambda: vokip.Reducer(shape=(2**32 + 1, 5), **GEOMETRY), ValueError,
     r"an image's shape is 1 x 1 to 65536 x 65536 pixels \[shape="),
    (lambda: vokip.Reducer(**GEOMETRY).integrate([[1, 2], [3, 4]]), TypeError,
     "image must be a NumPy array"),
    (lambda: vokip.Reducer(**GEOMETRY).integrate(np.zeros((2**17, 1), np.uint8)), ValueError,
     "image has 131072 pixels along a side"),
    (lambda: vokip.Reducer(**GEOMETRY).integrate(np.full((2, 2), 2**63, np.uint64)), ValueError,
     "image: an image's counts lie from 0 to 4294967295"),
    (lambda: vokip.Reducer(**GEOMETRY).integrate_file(5), TypeError, "path must be a file name"),
]


@pytest.mark.parametrize("call, error, message", WRONG)
def test_a_wrong_argument_is_named(call, error, message):
    with pytest.raises(error, match="^" + message) as raised:
        call()
    assert "Unable to cast" not in str(raised.value)


MEMORY = """
import resource, numpy as np, vokip
from vokip import decode, Reducer, polar_angles
pages = int(open("/proc/self/statm").read().split()[0])
limit = pages * resource.getpagesize() + (400 << 20)
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
# A stream of 128-pixel blocks of no width holds 2**31 pixels in 12 MiB.
blocks = bytes([0xC7, 0x71, 0x1C]) * (2**31 // 512)
calls = [
    lambda: decode(blocks, 2**31),
    lambda: polar_angles(1, 0, 0, [1.0], [1.0], shape=2**31),
    lambda: Reducer(distance=100, center=(5, 5), pixel_size=100).integrate(
        np.broadcast_to(np.int64(3), (30000, 30000))),
]
for call in calls:
    try:
        call()
        print("no error")
    except MemoryError as e:
        print(str(e).split(":")[0])
"""


def test_memory_running_out_is_a_memory_error_naming_the_argument():
    done = subprocess.run([sys.executable, "-c", MEMORY], capture_output=True, text=True,
                          env=os.environ, check=False, timeout=300)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["shape", "shape", "image"]
