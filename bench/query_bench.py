"""Query benchmark through the Python module, each query set against Kuzu on the same data.

Run by hand, not by CI:

    pip install .            # the kuv module
    pip install kuzu         # the comparison engine
    python3 bench/query_bench.py [products ...]     # default: 100000 1000000

    python3 bench/query_bench.py --data DIR [products ...]   # keep the generated data in DIR

For each size the script generates shop product pages (JSON-LD with brand, offer and reviews),
builds a kuv graph file from them with kuv.build_graph, loads the same records into a Kuzu
database through CSV files, then times each query (median of five runs) on kuv, on Kuzu limited
to one thread and on Kuzu with its default thread count. It checks that all three return the
same number of rows before printing the times and the ratios kuv / Kuzu. Times on the kuv side
include opening and validating the graph file, which every kuv.query call does; the first row,
a query with LIMIT 0, shows that fixed cost alone. With --data the graph and the database are
built once and reused by later runs.
"""

import csv
import json
import os
import random
import shutil
import sys
import tempfile
import statistics
import time

import kuv

try:
    import kuzu
except ImportError:  # still useful without the comparison
    kuzu = None

BRANDS = 1000
RUNS = 5

# (kuv query, the same question for Kuzu's schema)
QUERIES = [
    ("MATCH (p:Product) RETURN p.name LIMIT 0",
     "MATCH (p:Product) RETURN p.name LIMIT 0"),
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


def write_csv_files(recs, csv_dir):
    os.makedirs(csv_dir, exist_ok=True)
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


def load_kuzu(db_dir, csv_dir):
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


def median_of_runs(run):
    times, rows = [], 0
    for _ in range(RUNS):
        start = time.perf_counter()
        rows = run()
        times.append(time.perf_counter() - start)
    return statistics.median(times), rows


def kuzu_rows(conn, q):
    result = conn.execute(q)
    count = 0
    while result.has_next():
        result.get_next()
        count += 1
    return count


def prepare(count, work_dir):
    """The kuv graph file and the Kuzu database directory for `count` products, built when absent."""
    graph_path = os.path.join(work_dir, f"shop-{count}.bin")
    db_dir = os.path.join(work_dir, f"kuzu-{count}")
    recs = None
    if not os.path.exists(graph_path):
        recs = list(records(count))
        seconds, size = build_kuv(recs, graph_path)
        print(f"\n{count} products: kuv build_graph {seconds:.1f} s, {size / 1e6:.1f} MB")
    if kuzu is not None and not os.path.exists(db_dir):
        recs = recs or list(records(count))
        csv_dir = os.path.join(work_dir, f"csv-{count}")
        write_csv_files(recs, csv_dir)
        start = time.perf_counter()
        load_kuzu(db_dir, csv_dir)
        print(f"{count} products: kuzu load {time.perf_counter() - start:.1f} s")
        shutil.rmtree(csv_dir)
    return graph_path, db_dir


def bench(count, work_dir):
    graph_path, db_dir = prepare(count, work_dir)
    print(f"\n{count} products, medians of {RUNS} runs (ms)")
    if kuzu is None:
        print(f"  {'query':<72} {'kuv':>9} {'rows':>8}")
        for kuv_q, _ in QUERIES:
            kuv_s, kuv_n = median_of_runs(lambda: len(kuv.query(graph_path, kuv_q)))
            print(f"  {kuv_q[:72]:<72} {kuv_s * 1e3:9.2f} {kuv_n:>8}")
        return
    database = kuzu.Database(db_dir, read_only=True)
    single = kuzu.Connection(database, num_threads=1)
    default = kuzu.Connection(database)
    print(f"  {'query':<72} {'kuv':>9} {'kuzu 1t':>9} {'kuzu dflt':>9} {'/1t':>6} {'/dflt':>6} {'rows':>8}")
    for kuv_q, kuzu_q in QUERIES:
        kuv_s, kuv_n = median_of_runs(lambda: len(kuv.query(graph_path, kuv_q)))
        single_s, single_n = median_of_runs(lambda: kuzu_rows(single, kuzu_q))
        default_s, default_n = median_of_runs(lambda: kuzu_rows(default, kuzu_q))
        if not kuv_n == single_n == default_n:
            sys.exit(f"row counts differ for {kuv_q!r}: kuv {kuv_n}, kuzu {single_n} / {default_n}")
        print(f"  {kuv_q[:72]:<72} {kuv_s * 1e3:9.2f} {single_s * 1e3:9.2f} {default_s * 1e3:9.2f} "
              f"{kuv_s / single_s:6.2f} {kuv_s / default_s:6.2f} {kuv_n:>8}")


def main():
    args = sys.argv[1:]
    keep_dir = None
    if args[:1] == ["--data"]:
        keep_dir, args = args[1], args[2:]
    sizes = [int(a) for a in args] or [100_000, 1_000_000]
    if kuzu is None:
        print("kuzu is not installed (pip install kuzu): timing kuv alone")
    work_dir = keep_dir or tempfile.mkdtemp(prefix="kuv_query_bench_")
    os.makedirs(work_dir, exist_ok=True)
    try:
        for count in sizes:
            bench(count, work_dir)
    finally:
        if keep_dir is None:
            shutil.rmtree(work_dir)


if __name__ == "__main__":
    main()
