"""A CMake install into a virtual environment is a package that pip shows and removes."""

import os
import pathlib
import subprocess
import sys

import pytest

BUILD_DIR = os.environ.get("ZTROI_BUILD_DIR")
CMAKE = os.environ.get("ZTROI_CMAKE", "cmake")
# Where the build installs the package below its prefix (the interpreter's folder there).
PACKAGE_DIR = os.environ.get("ZTROI_PYTHON_PACKAGE_DIR")


def run(*command, check=True, **options):
    # Neither the build tree nor the tests' folder may be what the environment imports.
    env = {name: value for name, value in os.environ.items() if name != "PYTHONPATH"}
    return subprocess.run([os.fspath(part) for part in command], capture_output=True, text=True,
                          check=check, env=env, **options)


def test_pip_shows_and_uninstalls_the_cmake_install(tmp_path):
    if not BUILD_DIR or not PACKAGE_DIR:
        pytest.skip("run by CTest, which names the build")
    venv = tmp_path / "venv"
    run(sys.executable, "-m", "venv", "--system-site-packages", venv)
    python = venv / "bin" / "python3"
    site = pathlib.Path(run(python, "-c", "import sysconfig; print(sysconfig.get_path('platlib'))"
                            ).stdout.strip())
    # The build was configured for another prefix, whose folder may be dist-packages where the
    # environment's is site-packages, at the same depth: the one stands for the other.
    configured = venv / PACKAGE_DIR
    if configured != site:
        configured.parent.mkdir(parents=True, exist_ok=True)
        configured.symlink_to(site)
    run(CMAKE, "--install", BUILD_DIR, "--prefix", venv)

    imported = run(python, "-c", "import ztroi; print(ztroi.__version__); print(ztroi.__file__)",
                   cwd=tmp_path).stdout.split()
    assert pathlib.Path(imported[1]).resolve().parent == (site / "ztroi").resolve()
    shown = run(python, "-m", "pip", "--no-input", "show", "ztroi").stdout
    assert "Name: ztroi" in shown and f"Version: {imported[0]}" in shown

    run(python, "-m", "pip", "--no-input", "uninstall", "--yes", "ztroi")
    assert not (site / "ztroi").exists() and not list(site.glob("ztroi-*.dist-info"))
    assert run(python, "-c", "import ztroi", check=False, cwd=tmp_path).returncode != 0
