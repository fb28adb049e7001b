"""What importing kuv gives: attributes, signatures, one initialisation per process."""
import inspect

import kuv
from conftest import run_child

PARAMETERS = {
    "build_graph": ["pages", "out_path"],
    "build_graph_from_dir": ["html_dir", "out_path"],
    "merge_graph": ["existing_path", "pages", "removed_urls", "out_path"],
    "query": ["graph_path", "cypher_query"],
}


def test_module_attributes_and_signatures():
    assert (kuv.__doc__, kuv.__version__) == ("", "0.7.0")
    assert kuv.__all__ == [*PARAMETERS, "__version__"]
    for name, parameters in PARAMETERS.items():
        function = getattr(kuv, name)
        assert (function.__self__, function.__module__, function.__name__) == (kuv, "kuv", name)
        assert list(inspect.signature(function).parameters) == parameters


def test_second_initialisation_raises_import_error():
    script = "import sys, kuv\ndel sys.modules['kuv']\ntry:\n    import kuv\nexcept ImportError as e:\n    print(e)\n"
    assert run_child(script).stdout.strip() == (
        "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per interpreter process"
    )
