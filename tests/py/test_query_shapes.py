"""Hostile query shapes: deep nesting on small thread stacks, long chains, and ORDER BY with a
small LIMIT over a huge number of bindings. Each case runs in a child process, so a crash is
reported as a failure instead of ending the test run."""
import json

import pytest

import kuv
from conftest import jsonld_page, run_child

SMALL_STACK_RUNNER = """
    import json, sys, threading, kuv
    graph, queries = sys.argv[1], json.load(sys.stdin)
    outcomes = []
    def run():
        for text in queries:
            try:
                outcomes.append(kuv.query(graph, text))
            except ValueError as error:
                outcomes.append(str(error))
    threading.stack_size(256 * 1024)
    worker = threading.Thread(target=run)
    worker.start()
    worker.join()
    print(json.dumps(outcomes))
"""


@pytest.fixture(scope="module")
def shop(tmp_path_factory):
    path = str(tmp_path_factory.mktemp("shapes") / "shop.bin")
    kuv.build_graph([jsonld_page(f"P{i}", f"https://s.example/{i}", price=f"{i}.50", sku=f"S{i}") for i in range(6)],
                    path)
    return path


def where(condition):
    return f"MATCH (p:Product) WHERE {condition} RETURN p.name AS name"


@pytest.mark.parametrize("long_form, short_form", [
    ("p.price_cents = 2" + " OR p.price_cents = 2" * 999 + " OR p.price_cents = 150", "p.price_cents = 150"),
    ("p.price_cents > 100" + " AND p.price_cents < 500" * 20000, "p.price_cents > 100 AND p.price_cents < 500"),
    ("(" * 600 + "p.price_cents > 250" + ")" * 600, "p.price_cents > 250"),
    ("NOT " * 1000 + "p.price_cents > 250", "p.price_cents > 250"),
    ("NOT " * 1001 + "p.price_cents > 250", "NOT p.price_cents > 250"),
    ("(NOT " * 5001 + "p.name STARTS WITH 'P1'" + ")" * 5001, "NOT p.name STARTS WITH 'P1'"),
], ids=["long-or", "long-and", "deep-parentheses", "even-not", "odd-not", "deep-not"])
def test_deep_and_long_conditions_run_on_a_small_thread_stack(shop, long_form, short_form):
    queries = json.dumps([where(long_form), where(short_form)])
    outcomes = json.loads(run_child(SMALL_STACK_RUNNER, shop, stdin=queries).stdout)
    assert outcomes[0] == outcomes[1]
    assert isinstance(outcomes[0], list)


MEMORY_RUNNER = """
    import json, resource, sys, kuv
    graph, text = sys.argv[1], sys.argv[2]
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    rows = kuv.query(graph, text)
    grown_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
    print(json.dumps({"rows": rows, "grown_kib": grown_kib}))
"""


FAN = 4000


@pytest.fixture(scope="module")
def fan_in(tmp_path_factory):
    # Every product names the same brand, so the fan-in pattern below has FAN * FAN bindings.
    pages = [jsonld_page(f"P{i:04d}", f"https://s.example/{i}", sku=f"S{i:04d}") for i in range(FAN)]
    path = str(tmp_path_factory.mktemp("fan") / "fan.bin")
    kuv.build_graph(pages, path)
    return path


@pytest.mark.parametrize("returned, expected", [
    # The last product sorts first; among its bindings the matching order (by a) stays.
    ("a.name AS a, c.name AS c ORDER BY c.sku DESC SKIP 2 LIMIT 3",
     [{"a": f"P{i:04d}", "c": f"P{FAN - 1:04d}"} for i in (2, 3, 4)]),
    ("DISTINCT c.name AS c ORDER BY c.sku DESC SKIP 2 LIMIT 3", [{"c": f"P{FAN - i:04d}"} for i in (3, 4, 5)]),
    ("DISTINCT a.name AS a ORDER BY c.sku, a.sku DESC LIMIT 3", [{"a": f"P{FAN - i:04d}"} for i in (1, 2, 3)]),
    ("DISTINCT c.name AS c ORDER BY c.sku DESC", [{"c": f"P{i:04d}"} for i in reversed(range(FAN))]),
    # Every binding is a row of its own.
    ("DISTINCT a.name AS a, c.name AS c ORDER BY c.sku DESC, a.sku LIMIT 3",
     [{"a": f"P{i:04d}", "c": f"P{FAN - 1:04d}"} for i in (0, 1, 2)]),
], ids=["order-by-limit", "distinct-order-by-limit", "distinct-by-a-order-by-c-limit", "distinct-order-by",
        "distinct-pairs-order-by-limit"])
def test_ordering_keeps_only_the_rows_it_can_return(fan_in, returned, expected):
    text = "MATCH (a:Product)-[:Brand]->(b:Brand)<-[:Brand]-(c:Product) RETURN " + returned
    outcome = json.loads(run_child(MEMORY_RUNNER, fan_in, text).stdout)
    assert outcome["rows"] == expected
    # Keeping all 16 million bindings with their keys would take far more than this.
    assert outcome["grown_kib"] < 200 * 1024
