"""Build throughput and memory of kuv, against extruct and against another kuv build.

Figures, each the median of several fresh processes (pages are read or generated before the
clock starts; CPU pinning is set before kuv is imported, so the worker pool fits it):

* corpus: build_graph_from_dir on one core over the real product pages, and extruct extracting
  JSON-LD and microdata from the same pages on one core (MB/s of page text);
* scaling: build_graph over the product pages copied ten times, held in memory, on 1, 2, 4
  and 8 cores (MB/s, and the speed-up over one core);
* small pages: build_graph over generated small product pages (the page shape of
  query_bench.py), seconds and the peak resident memory of the process.

The product pages are read from ../shared/corpus/product-pages (<key>.html.gz each), unpacked
into a temporary folder at run time; the step is skipped when they are absent. With --baseline
PYTHON, every kuv figure is also measured with that interpreter's kuv, run by run in turn with
this one, and both are printed side by side.

Run from the repository root, by hand (not by CI):

    python3 -m pip install . extruct
    python3 bench/build_bench.py [--baseline OTHER_PYTHON] [--runs 5] [--small-pages 1000000]
"""
import argparse
import gzip
import json
import os
import pathlib
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
CORPUS = ROOT.parent / "shared" / "corpus" / "product-pages"
CORES = [1, 2, 4, 8]


def unpack_corpus(source, target):
    """The product pages as plain .html files in `target`; the number of files."""
    target.mkdir(parents=True, exist_ok=True)
    count = 0
    for packed in sorted(source.glob("*.html.gz")):
        (target / packed.name[:-3]).write_bytes(gzip.decompress(packed.read_bytes()))
        count += 1
    return count


def read_pages(directory, copies=1):
    """The pages decoded `copies` times over: each copy a str object of its own, as a caller's
    pages are (a repeated object would let per-object work be done once)."""
    raw = [p.read_bytes() for p in sorted(directory.glob("*.html"))]
    return [page.decode("utf-8", "replace") for _ in range(copies) for page in raw]


def megabytes(pages):
    return sum(len(p.encode("utf-8")) for p in pages) / 1e6


def small_pages(count):
    sys.path.insert(0, str(ROOT / "bench"))
    from query_bench import page, records  # the query benchmark's page shape
    return [page(r) for r in records(count)]


def worker(job):
    """Runs in a fresh process: one measurement, printed as JSON."""
    if job.get("cores"):
        os.sched_setaffinity(0, set(sorted(os.sched_getaffinity(0))[:job["cores"]]))
    mode = job["mode"]
    with tempfile.TemporaryDirectory() as out:
        out_path = os.path.join(out, "g.bin")
        if mode == "from_dir":
            size = sum(p.stat().st_size for p in pathlib.Path(job["dir"]).glob("*.html")) / 1e6
            import kuv
            start = time.perf_counter()
            kuv.build_graph_from_dir(job["dir"], out_path)
        elif mode == "extruct":
            pages = read_pages(pathlib.Path(job["dir"]))
            size = megabytes(pages)
            import extruct
            start = time.perf_counter()
            for page in pages:
                extruct.extract(page, syntaxes=["json-ld", "microdata"], uniform=False, errors="ignore")
        else:
            pages = read_pages(pathlib.Path(job["dir"]), job["copies"]) if mode == "build" else small_pages(job["pages"])
            size = megabytes(pages)
            import kuv
            start = time.perf_counter()
            kuv.build_graph(pages, out_path)
        seconds = time.perf_counter() - start
    print(json.dumps({"seconds": seconds, "mb_per_s": size / seconds,
                      "peak_rss_mib": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024}))


def measure(python, job):
    result = subprocess.run([python, __file__, "--worker", json.dumps(job)], capture_output=True, text=True)
    if result.returncode != 0:
        lines = result.stderr.strip().splitlines()
        raise RuntimeError(lines[-1] if lines else f"exit status {result.returncode}")
    return json.loads(result.stdout)


def medians(pythons, job, runs):
    """Per interpreter, the median of each figure over `runs` runs taken in turn."""
    samples = {python: [] for python in pythons}
    for _ in range(runs):
        for python in pythons:
            samples[python].append(measure(python, job))
    return {python: {key: statistics.median(s[key] for s in samples[python]) for key in samples[python][0]}
            for python in pythons}


def table(title, header, rows):
    print(f"\n{title}\n")
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for row in rows:
        print("| " + " | ".join(row) + " |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", type=pathlib.Path, default=CORPUS)
    parser.add_argument("--baseline", help="another interpreter whose kuv is measured in the same runs")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--small-pages", type=int, default=1_000_000)
    parser.add_argument("--skip", nargs="*", default=[], choices=["corpus", "scaling", "small"])
    parser.add_argument("--worker", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        worker(json.loads(args.worker))
        return
    pythons = [sys.executable] + ([args.baseline] if args.baseline else [])
    names = ["this kuv"] + (["baseline"] if args.baseline else [])
    cores = [c for c in CORES if c <= len(os.sched_getaffinity(0))]
    print(f"{args.runs} runs per figure, medians; {len(os.sched_getaffinity(0))} cores")

    scratch = pathlib.Path(tempfile.mkdtemp(prefix="kuv-bench-"))
    try:
        corpus = scratch / "pages"
        have_corpus = args.corpus.is_dir() and unpack_corpus(args.corpus, corpus) > 0
        if not have_corpus and ("corpus" not in args.skip or "scaling" not in args.skip):
            print(f"no product pages at {args.corpus}: corpus and scaling figures skipped")
        if have_corpus and "corpus" not in args.skip:
            job = {"mode": "from_dir", "dir": str(corpus), "cores": 1}
            kuv_runs = medians(pythons, job, args.runs)
            extruct_run = medians([sys.executable], {**job, "mode": "extruct"}, args.runs)[sys.executable]
            rows = [[name, f"{kuv_runs[p]['mb_per_s']:.1f}", f"{kuv_runs[p]['mb_per_s'] / extruct_run['mb_per_s']:.2f}x"]
                    for name, p in zip(names, pythons)]
            rows.append(["extruct (JSON-LD + microdata)", f"{extruct_run['mb_per_s']:.1f}", "1.00x"])
            table("build_graph_from_dir, one core, product pages", ["", "MB/s", "vs extruct"], rows)
        if have_corpus and "scaling" not in args.skip:
            runs = {c: medians(pythons, {"mode": "build", "dir": str(corpus), "copies": 10, "cores": c}, args.runs)
                    for c in cores}
            rows = []
            for c in cores:
                row = [str(c)]
                for p in pythons:
                    row += [f"{runs[c][p]['mb_per_s']:.0f}", f"{runs[c][p]['mb_per_s'] / runs[1][p]['mb_per_s']:.2f}x"]
                rows.append(row)
            header = ["cores"] + [f"{name} {what}" for name in names for what in ("MB/s", "speed-up")]
            table("build_graph, product pages x10 in memory", header, rows)
        if "small" not in args.skip:
            runs = medians(pythons, {"mode": "small", "pages": args.small_pages}, args.runs)
            rows = [[name, f"{runs[p]['seconds']:.2f}", f"{runs[p]['peak_rss_mib']:.0f}"] for name, p in zip(names, pythons)]
            table(f"build_graph, {args.small_pages} generated small pages", ["", "seconds", "peak RSS MiB"], rows)
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
