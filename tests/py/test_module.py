"""What importing kuv gives: attributes, docstrings, signatures, one initialisation per process."""
import inspect
import subprocess
import sys

import kuv


def test_module_attributes():
    assert kuv.__doc__ == ""
    assert kuv.__version__ == "0.7.0"
    assert kuv.__all__ == ["build_graph", "build_graph_from_dir", "merge_graph", "query", "__version__"]
    for name in kuv.__all__[:4]:
        function = getattr(kuv, name)
        assert function.__self__ is kuv
        assert function.__module__ == "kuv"
        assert function.__name__ == name


def test_signatures_and_docstrings():
    expected = {
        "build_graph": ["pages", "out_path"],
        "build_graph_from_dir": ["html_dir", "out_path"],
        "merge_graph": ["existing_path", "pages", "removed_urls", "out_path"],
        "query": ["graph_path", "cypher_query"],
    }
    for name, parameters in expected.items():
        assert list(inspect.signature(getattr(kuv, name)).parameters) == parameters
    assert kuv.build_graph.__doc__ == (
        "Build a graph from in-memory HTML strings and serialize it to `out_path`\n"
        "(rkyv `graph.bin`). Returns the byte size written. Suited to small batches\n"
        "where holding all HTML in memory is fine."
    )
    assert "\u2014 independent of page count" in kuv.build_graph_from_dir.__doc__
    assert kuv.merge_graph.__doc__.endswith("fully deserializes into memory before the atomic rewrite).")
    assert kuv.query.__doc__.endswith('value becomes a nested dict `{"idx", "kind", "name"}`.')


def test_second_initialisation_raises_import_error():
    script = (
        "import sys, kuv\n"
        "del sys.modules['kuv']\n"
        "try:\n"
        "    import kuv\n"
        "except ImportError as e:\n"
        "    print(e)\n"
    )
    output = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    assert output.strip() == (
        "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per interpreter process"
    )


def test_only_init_symbol_exported():
    output = subprocess.run(["nm", "-D", "--defined-only", kuv.__file__], capture_output=True, text=True)
    if output.returncode != 0:
        return
    exported = [line.split()[-1] for line in output.stdout.splitlines() if " T " in line]
    assert exported == ["PyInit_kuv"]
