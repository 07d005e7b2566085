"""Builds and installs the vokip Python package with the project's CMake:

    pip install --no-build-isolation .

(Debian's setuptools, wheel, pybind11-dev and the C++ build's packages, as
scripts/setup.sh installs them.) The extension is built for the Python that
runs pip."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = Path(__file__).resolve().parent


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(build),
                        "-DCMAKE_BUILD_TYPE=Release", f"-DPython3_EXECUTABLE={sys.executable}",
                        "-DVOKIP_TESTS=OFF", "-DVOKIP_BENCHMARKS=OFF"], check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "vokip_python",
                        "-j", str(os.cpu_count() or 1)], check=True)
        built = next((build / "python" / "vokip").glob("_vokip*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


version = re.search(r"project\(vokip VERSION ([0-9.]+)",
                    (SOURCE / "CMakeLists.txt").read_text()).group(1)

setup(
    name="vokip",
    version=version,
    description="MAR345 image-plate images to 1-D diffraction profiles",
    packages=["vokip"],
    package_dir={"": "python"},
    ext_modules=[CMakeExtension("vokip._vokip")],
    cmdclass={"build_ext": CMakeBuild},
    install_requires=["numpy"],
    python_requires=">=3.8",
    zip_safe=False,
)
