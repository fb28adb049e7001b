"""Shared fixtures: small product pages and helpers to build and query graphs."""
import pathlib

import pytest

import kuv

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


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
