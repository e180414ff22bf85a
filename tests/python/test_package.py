"""The package as installed from the build tree: its surface, versions, stubs."""

import ast
from pathlib import Path

import tumblewatch


def test_versions():
    assert tumblewatch.__version__ == "2.1.1" or tumblewatch.__version__.count(".") == 2
    assert tumblewatch.version() == "J6-Tumblewatch-" + tumblewatch.__version__


def test_the_surface_is_documented():
    for name in tumblewatch.__all__:
        value = getattr(tumblewatch, name)
        if callable(value):
            doc = value.__doc__ or ""
            assert doc.strip(), name
            if not isinstance(value, type) or name in ("Config", "Detector"):
                assert "Returns" in doc or "Parameters" in doc, name


def test_stubs_name_every_parameter_and_function():
    package = Path(tumblewatch.__file__).parent
    assert (package / "py.typed").exists()
    config_stub = ast.parse((package / "_config.pyi").read_text())
    config_class = [n for n in config_stub.body if isinstance(n, ast.ClassDef) and n.name == "Config"][0]
    declared = [n.target.id for n in config_class.body
                if isinstance(n, ast.AnnAssign) and not n.target.id.startswith("_")]
    assert declared == [p.name for p in tumblewatch.params()]
    core_stub = ast.parse((package / "_tumblewatch.pyi").read_text())
    stubbed = {n.name for n in core_stub.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    compiled = {n for n in dir(tumblewatch._tumblewatch) if not n.startswith("_")}
    assert stubbed == compiled
