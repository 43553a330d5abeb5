"""A minimal PEP 517 backend: the mediadetect package as a pure-Python wheel, made with the
standard library only (pip can then install it offline, without setuptools)."""
import base64
import hashlib
import os
import re
import zipfile

# The version is the package's own __version__, read as text (the backend must not import the package).
NAME = "mediadetect"
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), NAME, "__init__.py"), encoding="utf-8") as f:
    VERSION = re.search(r'^__version__ = "([^"]+)"', f.read(), re.M).group(1)
METADATA = f"""Metadata-Version: 2.1
Name: {NAME}
Version: {VERSION}
Summary: Media-file detection through the mediadetect module's binary interface (ctypes)
Requires-Python: >=3.9
"""
WHEEL = "Wheel-Version: 1.0\nGenerator: mediadetect build_backend\nRoot-Is-Purelib: true\nTag: py3-none-any\n"


def _files():
    here = os.path.dirname(os.path.abspath(__file__))
    for name in sorted(os.listdir(os.path.join(here, NAME))):
        if name.endswith(".py"):
            with open(os.path.join(here, NAME, name), "rb") as f:
                yield f"{NAME}/{name}", f.read()
    info = f"{NAME}-{VERSION}.dist-info"
    yield f"{info}/METADATA", METADATA.encode()
    yield f"{info}/WHEEL", WHEEL.encode()


def get_requires_for_build_wheel(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    filename = f"{NAME}-{VERSION}-py3-none-any.whl"
    record = []
    with zipfile.ZipFile(os.path.join(wheel_directory, filename), "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in _files():
            wheel.writestr(path, data)
            digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            record.append(f"{path},sha256={digest},{len(data)}")
        record.append(f"{NAME}-{VERSION}.dist-info/RECORD,,")
        wheel.writestr(f"{NAME}-{VERSION}.dist-info/RECORD", "\n".join(record) + "\n")
    return filename
