"""`=~` benchmark through the Python module: several patterns over the names of 1M products.

Run by hand, not by CI:

    pip install .
    python3 bench/regex_bench.py [--products 1000000] [--graph-dir DIR] [--runs 7]

Builds two graphs of generated product pages (JSON-LD, one product each) with kuv.build_graph:
one whose names are ASCII ("Classic Lamp 12345") and one whose names mix in accented words
("Crème Lampshade 12345", about a third of them), so that Unicode-aware word boundaries and case
folding meet non-ASCII text. Graphs already in DIR are reused. Each query is timed as a whole
kuv.query call (opening and validating the file included); the script prints the median and
fastest of the runs and the row count. The first row, a count without WHERE, is the floor every
regex query shares. To compare two builds of kuv, run the script with each against the same
--graph-dir, one after the other.
"""
import argparse
import json
import os
import random
import statistics
import tempfile
import time

import kuv

ADJECTIVES = ["Classic", "Compact", "Deluxe", "Portable", "Smart", "Vintage", "Cordless", "Folding"]
NOUNS = ["Lamp", "Lampshade", "Kettle", "Desk", "Side Table", "Blender", "Chair", "Mixer"]
# The accented graph swaps these in.
ACCENTED = {"Cordless": "Crème", "Folding": "Électrique", "Side Table": "Café Table"}

COUNT = "MATCH (p:Product) RETURN count(*) AS n"
PATTERNS = [
    ("literal", "Kettle"),
    ("class", "[0-9]{6}$"),
    ("case-insensitive", "(?i)lamp"),
    ("word boundary", r"\bLamp\b"),
    ("Unicode classes", r"^\w+ \w+ \d+$"),
]


def product_page(rng, i, accented):
    words = [rng.choice(ADJECTIVES), rng.choice(NOUNS)]
    if accented:
        words = [ACCENTED.get(word, word) for word in words]
    name = f"{words[0]} {words[1]} {i}"
    product = {
        "@context": "https://schema.org",
        "@type": "Product",
        "name": name,
        "sku": f"SKU-{i}",
        "url": f"https://shop.example/p/{i}",
        "offers": {"@type": "Offer", "price": f"{rng.randrange(1, 1000)}.99", "priceCurrency": "EUR"},
    }
    return ('<html><head><script type="application/ld+json">' + json.dumps(product, ensure_ascii=False) +
            f"</script></head><body><h1>{name}</h1></body></html>")


def build(path, products, accented):
    rng = random.Random(7)
    start = time.perf_counter()
    size = kuv.build_graph([product_page(rng, i, accented) for i in range(products)], path)
    print(f"built {products} products in {time.perf_counter() - start:.1f} s, {size / 1e6:.1f} MB: {path}")


def timed(path, query, runs):
    kuv.query(path, query)  # warm-up: page cache and first-use costs
    times, rows = [], None
    for _ in range(runs):
        start = time.perf_counter()
        rows = kuv.query(path, query)
        times.append(time.perf_counter() - start)
    return statistics.median(times), min(times), rows[0]["n"] if rows else 0


def report(path, runs):
    print(f"  {'pattern':<18} {'=~':<16} {'median ms':>10} {'min ms':>9} {'rows':>9}")
    queries = [("(no WHERE)", "", COUNT)] + [
        (label, pattern, f"MATCH (p:Product) WHERE p.name =~ '{pattern}' RETURN count(*) AS n")
        for label, pattern in PATTERNS]
    for label, pattern, query in queries:
        median, fastest, rows = timed(path, query, runs)
        print(f"  {label:<18} {pattern:<16} {median * 1e3:10.1f} {fastest * 1e3:9.1f} {rows:>9}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--products", type=int, default=1_000_000)
    parser.add_argument("--graph-dir", help="folder of graph files to reuse, or to build when missing")
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()

    print(f"kuv from {kuv.__file__}, median and fastest of {args.runs} runs")
    with tempfile.TemporaryDirectory(prefix="kuv_regex_bench_") as work_dir:
        graph_dir = args.graph_dir or work_dir
        for names, accented in (("ASCII", False), ("accented", True)):
            path = os.path.join(graph_dir, f"shop-{names.lower()}-{args.products}.bin")
            if not os.path.exists(path):
                build(path, args.products, accented)
            print(f"{args.products} products, {names} names")
            report(path, args.runs)


if __name__ == "__main__":
    main()
