# %% [markdown]
# # MAR345 images to profiles with vokip
#
# A notebook-style script (cells marked `# %%`, as Jupyter's jupytext, VS Code
# and Spyder read them) on the sample image shipped with vokip, a
# 1200 x 1200 image of silicon powder rings. Run it whole with
#
#     PYTHONPATH=build/python python3 examples/python/reduce_rings.py [IMAGE]
#
# or cell by cell in a notebook.

# %%
import sys
from pathlib import Path

import numpy as np
import vokip

here = Path(__file__).resolve().parent if "__file__" in globals() else Path.cwd()
sample = Path(sys.argv[1]) if len(sys.argv) > 1 else here.parents[1] / "samples/rings.mar1200"

# %% [markdown]
# ## Reading the image
# `read_mar345` gives every pixel at its full intensity: the pixels above
# 65535, kept in the file's overflow records, are applied.

# %%
image, header = vokip.read_mar345(sample)
print(image.shape, image.dtype, "max", image.max())
print("pixels above 65535:", np.count_nonzero(image > 65535), "of", header["overflow_pixels"])
print("distance", header["distance_mm"], "mm; wavelength", header["wavelength_angstrom"], "A;",
      "beam centre", header["center_x_px"], header["center_y_px"])
print(header["keywords"].get("REMARK"))

# %% [markdown]
# ## The procedures, by hand
# The module's procedures on arrays: each pixel's polar angle 2-theta from
# its coordinates (micrometres from the beam centre, distance in mm), the
# pixels sorted by it, and the values binned. Pixels of value 0 are no
# data.

# %%
size = header["size"]
x = (np.arange(size) + 0.5 - header["center_x_px"]) * header["pixel_length_um"]
y = (np.arange(size) + 0.5 - header["center_y_px"]) * header["pixel_height_um"]
# x along a row and y down the columns: broadcast to the image's grid.
two_theta = vokip.polar_angles(header["distance_mm"], 0, 0, x, y[:, None])
chi = vokip.azimuths(y[:, None], x)
print("2-theta from", two_theta.min(), "to", two_theta.max(), "degrees")

data = image.ravel() > 0
order = np.argsort(two_theta.ravel()[data], kind="stable")
keys = two_theta.ravel()[data][order]
values = image.ravel()[data][order].astype(float)
centres = np.linspace(keys[0], keys[-1], 800)
mean, variance, dispersion = vokip.integrate(keys, values, centres)
median, _, _ = vokip.integrate(keys, values, centres, median=True)
print("strongest bin by hand at", centres[np.argmax(mean)], "degrees")

# %% [markdown]
# ## The Reducer
# What `vokip-reduce` does, with the same options as keywords: the geometry
# from the header (or a `.poni`, or keywords), the solid-angle correction
# on, bins over the data. The Reducer keeps its plan, so further images of
# the same geometry cost only their reading and binning.

# %%
reducer = vokip.Reducer(bins=800, error_model="poisson")
profile = reducer.integrate_file(sample)
x2, intensity, sigma, count = profile
print(profile, "peak at", x2[np.nanargmax(intensity)], "degrees")
print("pixels:", profile.pixels)

# An image already in memory, with the geometry given whole:
g = reducer.geometry
same = vokip.Reducer(distance=g["distance_mm"], center=g["center"],
                     pixel_size=g["pixel_size_um"], wavelength=g["wavelength_angstrom"],
                     bins=800, error_model="poisson")
print("array and file give the same profile:",
      np.array_equal(same.integrate(image).intensity, intensity, equal_nan=True))

# %% [markdown]
# ## In q, within a sector, with a mask
# A mask is a file or an array of the image's shape (not 0: left out); the
# sector keeps the azimuths from 0 to 90 degrees.

# %%
mask = np.zeros(image.shape, bool)
mask[:, : size // 4] = True
in_q = vokip.Reducer(unit="q_A^-1", bin_width=0.005, mask=mask, azimuth=(0, 90),
                     polarization=0.95, error_model="azimuthal")
q_profile = in_q.integrate_file(sample)
kept = q_profile.count > 0
print("q from", q_profile.radial[kept][0], "to", q_profile.radial[kept][-1], "1/A;",
      q_profile.pixels["used"], "pixels used")

# Three columns as GSAS-II and TOPAS read them.
out = Path("rings_q.xye")
np.savetxt(out, np.column_stack([q_profile.radial, q_profile.intensity, q_profile.sigma])[kept],
           fmt="%.6f %.8g %.8g")
print("wrote", out)

# %% [markdown]
# ## A plot, when matplotlib is there

# %%
try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    plt = None
if plt is not None:
    fig, ax = plt.subplots()
    ax.plot(x2, intensity, lw=0.8, label="Reducer (solid angle corrected)")
    ax.plot(centres, mean, lw=0.8, label="by hand (uncorrected)")
    ax.set_xlabel("2-theta (degrees)")
    ax.set_ylabel("intensity")
    ax.legend()
    fig.savefig("rings.png", dpi=120)
    print("wrote rings.png")
