"""Builds and installs the vokip Python package with the project's CMake:

    pip install --no-build-isolation .

(Debian's setuptools, wheel, pybind11-dev and the C++ build's packages, as
scripts/setup.sh installs them.) The extension is built for the Python that
runs pip, in a CMake build of its own, or in the configured build folder
VOKIP_CMAKE_BUILD_DIR names (scripts/package.sh: the .deb and the wheel from
one build)."""
import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = Path(__file__).resolve().parent


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        given = os.environ.get("VOKIP_CMAKE_BUILD_DIR")
        if given:
            build = Path(given).resolve()
            if not (build / "CMakeCache.txt").is_file():
                sys.exit(f"VOKIP_CMAKE_BUILD_DIR={given} is not a configured CMake build")
        else:
            build = Path(self.build_temp).resolve() / "cmake"
            subprocess.run(["cmake", "-S", str(SOURCE), "-B", str(build),
                            "-DCMAKE_BUILD_TYPE=Release", f"-DPython3_EXECUTABLE={sys.executable}",
                            "-DVOKIP_TESTS=OFF", "-DVOKIP_BENCHMARKS=OFF"], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build), "--target", "vokip_python", "-j", jobs],
                       check=True)
        # Only an extension built for this very interpreter will do.
        built = build / "python" / "vokip" / ("_vokip" + sysconfig.get_config_var("EXT_SUFFIX"))
        if not built.is_file():
            sys.exit(f"{build} has no {built.name}: it is configured for another Python")
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
    # setuptools' own folders, away from the CMake build folder build/.
    options={"build": {"build_base": "build-python"}},
    install_requires=["numpy"],
    python_requires=">=3.8",
    zip_safe=False,
)
