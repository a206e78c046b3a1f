"""What the Python tests share: the command line and tools they compare with, the sample."""
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest
from PIL import Image


def _env_path(name):
    value = os.environ.get(name)
    if not value:
        pytest.fail(f"{name} is not set: run the tests through tests/python/run_pytest.sh")
    return Path(value)


@pytest.fixture(scope="session")
def executable():
    return _env_path("VANTOREL_EXECUTABLE")


@pytest.fixture(scope="session")
def metadata_tool():
    return _env_path("VANTOREL_TEST_METADATA")


def read_bgr(path):
    """A picture file's pixels as the package takes them, decoded by Pillow."""
    with Image.open(path) as picture:
        rgb = np.asarray(picture.convert("RGB"))
    return np.ascontiguousarray(rgb[:, :, ::-1])


def write_bgr(array, path):
    Image.fromarray(np.ascontiguousarray(array[:, :, ::-1])).save(path)


@pytest.fixture(scope="session")
def sample():
    """The bundled 1.7-megapixel sample, read only, so no test can change it for another."""
    array = read_bgr(_env_path("VANTOREL_SOURCE_DIR") / "samples" / "hazy_mountains.jpg")
    array.flags.writeable = False
    return array


@pytest.fixture(scope="session")
def run_cli(executable):
    """Runs the command line's single form; returns the completed process."""
    def run(*arguments):
        return subprocess.run([str(executable), *map(str, arguments)],
                              capture_output=True, text=True, check=False)
    return run
