"""Query benchmark through the Python module, each query set against Kuzu on the same data.

Run by hand, not by CI:

    pip install .            # the kuv module
    pip install kuzu         # the comparison engine
    python3 bench/query_bench.py [products ...]     # default: 100000 1000000

For each size the script generates shop product pages (JSON-LD with brand, offer and reviews),
builds a kuv graph file from them with kuv.build_graph, loads the same records into a Kuzu
database through CSV files, then times each query on both (best of three runs) and prints the
two times, their ratio (kuv / Kuzu) and both row counts. Times on the kuv side include opening
and validating the graph file, which every kuv.query call does.
"""

import csv
import json
import os
import random
import shutil
import sys
import tempfile
import time

import kuv

try:
    import kuzu
except ImportError:  # still useful without the comparison
    kuzu = None

BRANDS = 1000
RUNS = 3

# (kuv query, the same question for Kuzu's schema)
QUERIES = [
    ("MATCH (p:Product) WHERE p.price_cents > 90000 RETURN p.name",
     "MATCH (p:Product) WHERE p.price_cents > 90000 RETURN p.name"),
    ("MATCH (p:Product)-[:Brand]->(b:Brand) RETURN b.name, count(*), avg(p.price_cents)",
     "MATCH (p:Product)-[:HasBrand]->(b:Brand) RETURN b.name, count(*), avg(p.price_cents)"),
    ("MATCH (p:Product)-[:Review]->(r:Review) WHERE r.rating_value >= 4 RETURN count(*)",
     "MATCH (p:Product)-[:HasReview]->(r:Review) WHERE r.rating_value >= 4 RETURN count(*)"),
    ("MATCH (p:Product) RETURN p.name, p.price_cents ORDER BY p.price_cents DESC LIMIT 10",
     "MATCH (p:Product) RETURN p.name, p.price_cents ORDER BY p.price_cents DESC LIMIT 10"),
    ("MATCH (p:Product) RETURN p.name, p.sku LIMIT 10",
     "MATCH (p:Product) RETURN p.name, p.sku LIMIT 10"),
]


def records(count):
    """One dict per product: the values both engines are loaded with."""
    rng = random.Random(42)
    for i in range(count):
        cents = rng.randrange(100, 100000)
        yield {
            "i": i,
            "name": f"Product {i}",
            "sku": f"SKU-{i}",
            "url": f"https://shop.example/p/{i}",
            "cents": cents,
            "brand": f"Brand {rng.randrange(BRANDS)}",
            "rating": 1 + i % 5 if i % 4 == 0 else None,
        }


def page(rec):
    product = {
        "@context": "https://schema.org",
        "@type": "Product",
        "name": rec["name"],
        "sku": rec["sku"],
        "url": rec["url"],
        "brand": {"@type": "Brand", "name": rec["brand"]},
        "offers": {
            "@type": "Offer",
            "price": f"{rec['cents'] // 100}.{rec['cents'] % 100:02d}",
            "priceCurrency": "EUR",
            "availability": "https://schema.org/InStock",
        },
    }
    if rec["rating"] is not None:
        product["review"] = [{"@type": "Review", "reviewBody": "ok", "reviewRating": {"ratingValue": rec["rating"]},
                              "author": {"@type": "Person", "name": f"Person {rec['i']}"}}]
    return ('<html><head><script type="application/ld+json">' + json.dumps(product) +
            f"</script></head><body><h1>{rec['name']}</h1><p>{product['offers']['price']} €</p></body></html>")


def build_kuv(recs, out_path):
    start = time.perf_counter()
    size = kuv.build_graph([page(r) for r in recs], out_path)
    return time.perf_counter() - start, size


def build_kuzu(recs, db_dir, csv_dir):
    tables = {name: open(os.path.join(csv_dir, name + ".csv"), "w", newline="")
              for name in ("product", "brand", "review", "has_brand", "has_review")}
    writers = {name: csv.writer(f) for name, f in tables.items()}
    for b in range(BRANDS):
        writers["brand"].writerow([f"Brand {b}"])
    for r in recs:
        writers["product"].writerow([r["url"], r["name"], r["sku"], r["cents"]])
        writers["has_brand"].writerow([r["url"], r["brand"]])
        if r["rating"] is not None:
            review_id = r["url"] + "#review0"
            writers["review"].writerow([review_id, r["rating"]])
            writers["has_review"].writerow([r["url"], review_id])
    for f in tables.values():
        f.close()
    start = time.perf_counter()
    conn = kuzu.Connection(kuzu.Database(db_dir))
    for ddl in (
        "CREATE NODE TABLE Product(id STRING, name STRING, sku STRING, price_cents INT64, PRIMARY KEY(id))",
        "CREATE NODE TABLE Brand(name STRING, PRIMARY KEY(name))",
        "CREATE NODE TABLE Review(id STRING, rating_value INT64, PRIMARY KEY(id))",
        "CREATE REL TABLE HasBrand(FROM Product TO Brand)",
        "CREATE REL TABLE HasReview(FROM Product TO Review)",
    ):
        conn.execute(ddl)
    for table, name in (("Product", "product"), ("Brand", "brand"), ("Review", "review"),
                        ("HasBrand", "has_brand"), ("HasReview", "has_review")):
        conn.execute(f"COPY {table} FROM '{os.path.join(csv_dir, name + '.csv')}' (HEADER=false)")
    return time.perf_counter() - start, conn


def best_of(run):
    best, rows = float("inf"), 0
    for _ in range(RUNS):
        start = time.perf_counter()
        rows = run()
        best = min(best, time.perf_counter() - start)
    return best, rows


def kuzu_rows(conn, q):
    result = conn.execute(q)
    count = 0
    while result.has_next():
        result.get_next()
        count += 1
    return count


def bench(count, work_dir):
    recs = list(records(count))
    graph_path = os.path.join(work_dir, f"shop-{count}.bin")
    seconds, size = build_kuv(recs, graph_path)
    print(f"\n{count} products: kuv build_graph {seconds:.1f} s, {size / 1e6:.1f} MB")
    conn = None
    if kuzu is not None:
        csv_dir = os.path.join(work_dir, f"csv-{count}")
        os.makedirs(csv_dir)
        seconds, conn = build_kuzu(recs, os.path.join(work_dir, f"kuzu-{count}"), csv_dir)
        print(f"{count} products: kuzu load {seconds:.1f} s")
    print(f"  {'query':<70} {'kuv ms':>9} {'kuzu ms':>9} {'ratio':>7} {'rows kuv/kuzu':>14}")
    for kuv_q, kuzu_q in QUERIES:
        kuv_s, kuv_n = best_of(lambda: len(kuv.query(graph_path, kuv_q)))
        if conn is None:
            print(f"  {kuv_q[:70]:<70} {kuv_s * 1e3:9.2f} {'-':>9} {'-':>7} {kuv_n:>14}")
            continue
        kuzu_s, kuzu_n = best_of(lambda: kuzu_rows(conn, kuzu_q))
        print(f"  {kuv_q[:70]:<70} {kuv_s * 1e3:9.2f} {kuzu_s * 1e3:9.2f} {kuv_s / kuzu_s:7.2f} "
              f"{f'{kuv_n}/{kuzu_n}':>14}")


def main():
    sizes = [int(a) for a in sys.argv[1:]] or [100_000, 1_000_000]
    if kuzu is None:
        print("kuzu is not installed (pip install kuzu): timing kuv alone")
    work_dir = tempfile.mkdtemp(prefix="kuv_query_bench_")
    try:
        for count in sizes:
            bench(count, work_dir)
    finally:
        shutil.rmtree(work_dir)


if __name__ == "__main__":
    main()
