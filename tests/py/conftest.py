"""Shared fixtures: small product pages, helpers to build and query graphs, and child processes."""
import pathlib
import subprocess
import sys
import textwrap

import pytest

import kuv

HERE = pathlib.Path(__file__).resolve()
EXAMPLES = HERE.parents[2] / "examples"
# The sample pages sit in shared/corpus beside the checkout (or beside the folder of worktrees).
SAMPLES = next((p / "shared/corpus/schema-samples" for p in HERE.parents[2:]
                if (p / "shared/corpus/schema-samples").is_dir()), None)


class StrSubclass(str):
    pass


def jsonld_page(name, url, price="19.99", sku=None):
    """A minimal page whose only product source is one JSON-LD Product block."""
    sku_member = f'"sku": "{sku}", ' if sku else ""
    return (
        "<html><head><script type=\"application/ld+json\">"
        f'{{"@type": "Product", {sku_member}"name": "{name}", "url": "{url}",'
        f' "brand": {{"@type": "Brand", "name": "Acme"}},'
        f' "offers": {{"@type": "Offer", "price": "{price}", "priceCurrency": "USD"}}}}'
        f"</script></head><body><h1>{name}</h1><p>${price}</p></body></html>"
    )


def numbered_pages(count):
    return [jsonld_page(f"P{i}", f"https://s.example/{i}", sku=f"S{i}") for i in range(count)]


@pytest.fixture
def example_pages():
    return [p.read_text(encoding="utf-8") for p in sorted(EXAMPLES.glob("*.html"))]


def product_names(graph_path):
    return [row["name"] for row in kuv.query(str(graph_path), "MATCH (p:Product) RETURN p.name AS name")]


def run_child(script, *args, stdin="", timeout=300):
    """Runs `script` in a fresh interpreter, so that a crash, a signal or a hang fails one test only."""
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(script), *map(str, args)], input=stdin,
                            capture_output=True, text=True, timeout=timeout)
    assert result.returncode == 0, result.stderr
    return result
