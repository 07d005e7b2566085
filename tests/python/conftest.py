"""Shared fixtures: ring images written by the tests' generator, and
vokip-reduce run on files."""
import os
import subprocess

import pytest
import vokip_fixtures


def run_reduce(*args):
    """vokip-reduce's exit code and standard error for the arguments."""
    done = subprocess.run([os.environ["VOKIP_REDUCE"], "-q", *map(str, args)],
                          capture_output=True, text=True, check=False)
    return done.returncode, done.stderr


def command_line_message(path, *options):
    """What vokip-reduce says about a file it cannot reduce, without its
    own name in front."""
    code, err = run_reduce(path, *options)
    assert code in (1, 2), err
    prefix = "vokip-reduce: "
    assert err.startswith(prefix) and err.count("\n") == 1, err
    return err[len(prefix):].rstrip("\n")


@pytest.fixture(scope="session")
def rings(tmp_path_factory):
    """A tilted 300 x 300 ring image with pixels above 65535: its file and
    the image the generator wrote into it."""
    path = tmp_path_factory.mktemp("rings") / "rings.mar300"
    image = vokip_fixtures.ring_file(str(path), size=300, tilt=1.5,
                                     tilt_direction=30, seed=3)
    return path, image
