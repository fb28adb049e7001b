"""Build throughput and memory of kuv, and a comparison with extruct.

Measures, over a directory of generated product pages (plus the public sample pages in
../shared/corpus/schema-samples when that folder exists):

* build_graph (pages in memory) and build_graph_from_dir: MB/s and pages/s, on one core and on
  all cores (each run is a fresh process pinned with sched_setaffinity before kuv is imported, so
  the worker pool is sized to the allowed cores);
* peak RSS of build_graph_from_dir at 1x and 10x the page count (ru_maxrss of a fresh process);
* the speed ratio against extruct extracting JSON-LD and microdata from the same pages, one core.

Run from the repository root:

    python3 -m pip install . extruct
    python3 bench/build_bench.py [--pages 2000]

Not run by CI.
"""
import argparse
import json
import os
import pathlib
import random
import resource
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
SAMPLES = ROOT.parent / "shared" / "corpus" / "schema-samples"

ADJECTIVES = ["Classic", "Ultralight", "Heritage", "Compact", "Modular", "Insulated", "Everyday", "Pro"]
NOUNS = ["Backpack", "Kettle", "Desk Lamp", "Rain Jacket", "Chef Knife", "Headphones", "Skillet", "Tent"]
BRANDS = ["Northwind", "Harbour Street", "Ridgeline", "Kiln & Leaf", "Bellhop", "Fernwood"]


def filler(rng, paragraphs):
    """Navigation, description and footer markup of the size real shop pages carry."""
    words = "durable lightweight recycled stitched waterproof adjustable warranty shipping returns".split()
    nav = "".join(f'<li><a href="/c/{i}">Category {i}</a></li>' for i in range(40))
    body = "".join(
        "<p>" + " ".join(rng.choice(words) for _ in range(60)) + "</p>" for _ in range(paragraphs)
    )
    styles = "<style>" + ".c{margin:0;padding:0}" * 200 + "</style>"
    return styles, f"<nav><ul>{nav}</ul></nav>", body


def jsonld_page(rng, i):
    name = f"{rng.choice(ADJECTIVES)} {rng.choice(NOUNS)} {i}"
    price = f"{rng.randint(10, 900)}.{rng.randint(0, 99):02d}"
    product = {
        "@context": "https://schema.org", "@type": "Product", "name": name, "sku": f"SKU-{i}",
        "url": f"https://shop.example/p/{i}", "brand": {"@type": "Brand", "name": rng.choice(BRANDS)},
        "offers": [{"@type": "Offer", "price": price, "priceCurrency": "USD",
                    "availability": "https://schema.org/InStock"}],
        "aggregateRating": {"@type": "AggregateRating", "ratingValue": round(rng.uniform(3, 5), 1),
                            "reviewCount": rng.randint(1, 500)},
        "review": [{"@type": "Review", "author": {"@type": "Person", "name": f"Reviewer {k}"},
                    "reviewBody": "Works as described.", "datePublished": "2026-05-01"} for k in range(3)],
    }
    styles, nav, body = filler(rng, 12)
    return (f"<!DOCTYPE html><html><head><title>{name}</title>{styles}"
            f'<script type="application/ld+json">{json.dumps(product)}</script></head>'
            f"<body>{nav}<h1>{name}</h1><p class=price>${price}</p>{body}</body></html>")


def microdata_page(rng, i):
    name = f"{rng.choice(ADJECTIVES)} {rng.choice(NOUNS)} {i}"
    price = f"{rng.randint(10, 900)}.00"
    styles, nav, body = filler(rng, 12)
    return (f"<!DOCTYPE html><html><head><title>{name}</title>{styles}"
            f'<meta property="og:url" content="https://shop.example/m/{i}"></head><body>{nav}'
            f'<div itemscope itemtype="https://schema.org/Product"><h1 itemprop="name">{name}</h1>'
            f'<img itemprop="image" src="/img/{i}.jpg"><div itemprop="offers" itemscope '
            f'itemtype="https://schema.org/Offer">&euro;<span itemprop="price" content="{price}">{price}</span>'
            f'<meta itemprop="priceCurrency" content="EUR"></div>{body}</div></body></html>')


def platform_page(rng, i):
    name = f"{rng.choice(ADJECTIVES)} {rng.choice(NOUNS)} {i}"
    cents = rng.randint(1000, 90000)
    product = {"id": 100000 + i, "handle": f"item-{i}", "title": name, "price": cents,
               "url": f"https://shop.example/products/item-{i}",
               "variants": [{"id": 500000 + i * 10 + k, "title": f"Size {k}", "price": cents} for k in range(4)]}
    styles, nav, body = filler(rng, 12)
    return (f"<!DOCTYPE html><html><head><title>{name}</title>{styles}"
            f"<script>window.state = {{\"products\": [{json.dumps(product)}]}};</script></head>"
            f"<body>{nav}<h1>{name}</h1><p>£{cents // 100}.{cents % 100:02d}</p>{body}</body></html>")


def write_pages(directory, count, seed=7):
    rng = random.Random(seed)
    makers = [jsonld_page, jsonld_page, microdata_page, platform_page]
    directory.mkdir(parents=True, exist_ok=True)
    for i in range(count):
        (directory / f"page-{i:06d}.html").write_text(makers[i % len(makers)](rng, i), encoding="utf-8")
    if SAMPLES.is_dir():
        for sample in SAMPLES.glob("*.html"):
            (directory / f"sample-{sample.name}").write_bytes(sample.read_bytes())


def read_pages(directory):
    return [p.read_text(encoding="utf-8", errors="replace") for p in sorted(directory.glob("*.html"))]


def worker(mode, directory, cpus):
    """Runs in a fresh process: one measurement, printed as JSON."""
    os.sched_setaffinity(0, set(sorted(os.sched_getaffinity(0))[:cpus]))
    directory = pathlib.Path(directory)
    pages = read_pages(directory) if mode in ("build_graph", "extruct") else None
    megabytes = sum(p.stat().st_size for p in directory.glob("*.html")) / 1e6
    pages_total = len(list(directory.glob("*.html")))
    with tempfile.TemporaryDirectory() as out:
        start = time.perf_counter()
        if mode == "build_graph":
            import kuv
            kuv.build_graph(pages, os.path.join(out, "g.bin"))
        elif mode == "from_dir":
            import kuv
            kuv.build_graph_from_dir(str(directory), os.path.join(out, "g.bin"))
        else:
            import extruct
            for page in pages:
                try:
                    extruct.extract(page, syntaxes=["json-ld", "microdata"], uniform=False)
                except Exception:  # noqa: BLE001 - malformed samples
                    pass
        seconds = time.perf_counter() - start
    print(json.dumps({"seconds": seconds, "mb_per_s": megabytes / seconds, "pages_per_s": pages_total / seconds,
                      "peak_rss_mib": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024}))


def measure(mode, directory, cpus):
    result = subprocess.run([sys.executable, __file__, "--worker", mode, str(directory), str(cpus)],
                            capture_output=True, text=True)
    if result.returncode != 0:
        return {"error": result.stderr.strip().splitlines()[-1] if result.stderr.strip() else "failed"}
    return json.loads(result.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pages", type=int, default=2000)
    parser.add_argument("--worker", nargs=3, metavar=("MODE", "DIR", "CPUS"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        worker(args.worker[0], args.worker[1], int(args.worker[2]))
        return
    all_cores = len(os.sched_getaffinity(0))
    with tempfile.TemporaryDirectory() as scratch:
        small = pathlib.Path(scratch) / "1x"
        large = pathlib.Path(scratch) / "10x"
        write_pages(small, args.pages)
        write_pages(large, args.pages * 10)
        print(f"{len(list(small.glob('*.html')))} pages, "
              f"{sum(p.stat().st_size for p in small.glob('*.html')) / 1e6:.1f} MB; {all_cores} cores")
        for mode in ("build_graph", "from_dir"):
            for cpus in sorted({1, all_cores}):
                r = measure(mode, small, cpus)
                if "error" in r:
                    print(f"{mode:12} {cpus:3} core(s): {r['error']}")
                    continue
                print(f"{mode:12} {cpus:3} core(s): {r['mb_per_s']:8.1f} MB/s {r['pages_per_s']:9.0f} pages/s")
        for label, directory in (("1x", small), ("10x", large)):
            r = measure("from_dir", directory, 1)
            print(f"build_graph_from_dir peak RSS at {label:3}: {r.get('peak_rss_mib', float('nan')):.1f} MiB")
        kuv_one_core = measure("build_graph", small, 1)
        extruct_run = measure("extruct", small, 1)
        if "error" in extruct_run:
            print(f"extruct: not measured ({extruct_run['error']}); pip install extruct")
        else:
            ratio = kuv_one_core["pages_per_s"] / extruct_run["pages_per_s"]
            print(f"extruct (json-ld + microdata, 1 core): {extruct_run['pages_per_s']:.0f} pages/s; "
                  f"kuv build_graph is {ratio:.1f}x faster")


if __name__ == "__main__":
    main()
