"""The package as built and installed: one copy of the internals behind one
exported symbol, stubs that match the extension, an installation that
Debian's python finds, and documentation that help() shows."""

from __future__ import annotations

import ast
import os
import pydoc
import subprocess
import sys
from pathlib import Path


import plinth
import plinth.cluster
from plinth import _plinth
from conftest import BUILD_DIR, run_tool

EXTENSION = Path(_plinth.__file__)


def nm(*args: str) -> str:
    return subprocess.run(["nm", *args, str(EXTENSION)], capture_output=True, text=True, check=True).stdout


def test_extension_holds_the_internals_once_and_exports_only_its_entry():
    assert [line.split()[-1] for line in nm("-D", "--defined-only").splitlines()] == ["PyInit__plinth"]
    symbols = nm("-C").splitlines()
    for function in ("plinth::planResampling(int, int)", "plinth::renderSong(", "plinth::convertFile("):
        assert sum(function in line and "[clone" not in line for line in symbols) == 1, function
    # Neither shared library's C entry is linked in.
    for entry in ("ResampleWav", "MODWAV", "resampleWavWide", "modwavWide"):
        assert not any(line.endswith(" " + entry) or f" {entry}(" in line for line in symbols), entry


def stub_names(path: Path) -> set[str]:
    tree = ast.parse(path.read_text())
    names = set()
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names.add(node.name)
        elif isinstance(node, ast.AnnAssign):
            names.add(node.target.id)
    return names


def test_stubs_name_what_the_extension_has():
    public = {name for name in dir(_plinth) if not name.startswith("_")}
    assert stub_names(EXTENSION.parent / "_plinth.pyi") == public
    assert (EXTENSION.parent / "py.typed").exists()


def test_help_shows_the_package_documentation():
    text = pydoc.render_doc(plinth, renderer=pydoc.plaintext)
    for name in plinth.__all__:
        assert name in text
    for function in (plinth.resample, plinth.resample_file, plinth.render_module, plinth.mod_to_wav, plinth.info):
        assert function.__doc__ and function.__annotations__, function.__name__
    assert plinth.cluster.convert.__doc__


def test_version_is_the_projects_as_the_tool_prints_it():
    assert run_tool("--version").stdout == f"plinth {plinth.__version__}\n"
    assert plinth.__version__.count(".") == 2 and all(part.isdigit() for part in plinth.__version__.split("."))


def test_cmake_install_puts_a_working_package_where_python_finds_it(tmp_path):
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", str(BUILD_DIR), "--component", "Python", "--prefix", str(prefix)],
                   capture_output=True, check=True)
    version = f"python{sys.version_info.major}.{sys.version_info.minor}"
    folders = list(prefix.glob(f"lib/{version}/*-packages/plinth"))
    assert len(folders) == 1, list(prefix.rglob("*"))
    site = folders[0].parent
    code = ("import plinth, numpy; print(plinth.__file__); print(plinth.__version__); "
            "print(plinth.resample(numpy.zeros(441, numpy.int16), 44100, 8000).size)")
    environment = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    environment["PYTHONPATH"] = str(site)
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=environment,
                            cwd=tmp_path, check=True)
    assert result.stdout.splitlines() == [str(site / "plinth" / "__init__.py"), plinth.__version__, "80"]
    assert {p.name for p in (site / "plinth").iterdir()} >= {"__init__.py", "_plinth.pyi", "py.typed", "cluster",
                                                             EXTENSION.name}
