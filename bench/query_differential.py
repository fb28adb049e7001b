"""Differential check of the query engine: the same battery of queries against two builds of kuv.

Run by hand, not by CI, whenever the query engine changes:

    python3 bench/query_differential.py --reference /path/to/other/python [--work DIR] [graph.bin ...]

The Python running this script imports the kuv under test; --reference names an interpreter
that imports the kuv to compare with (for example the one of the previous release). The battery
covers every operator, aggregates, DISTINCT, ORDER BY with mixed kinds, SKIP and LIMIT, missing
properties, numeric strings, the "price" key, nested values, escapes, invalid props texts and
Unicode. It runs over generated graph files written here byte by byte (so they can hold props
that no page would produce) and over the graph files given on the command line. Results are
compared exactly, row order and error texts included; the first differences are printed and the
exit status is 1 when there is any. The reference's results are kept in the work folder and
reused while the battery and the reference stay the same.
"""

import argparse
import hashlib
import itertools
import json
import os
import pickle
import random
import struct
import subprocess
import sys
import tempfile
import time

KINDS = ["Product", "Offer", "Brand", "Organization", "Review", "AggregateRating", "Category", "Person", "Variant"]
RELS = ["Offers", "Brand", "Manufacturer", "Review", "AggregateRating", "IsVariantOf", "Category", "Author",
        "HasVariant", "BroaderCategory"]


# ---------------------------------------------------------------------------------------------
# Graph files written directly

def graph_image(nodes, edges):
    """nodes: (kind code, id bytes, name bytes, props bytes); edges: (source, rel code, target)."""
    pool = bytearray()

    def intern(raw):
        pool.extend(raw)
        return len(pool) - len(raw), len(raw)

    records = []
    for kind, node_id, name, props in nodes:
        records.append((kind, intern(node_id), intern(name), intern(props)))
    while len(pool) % 4:
        pool.append(0)
    out_runs = [[] for _ in nodes]
    in_runs = [[] for _ in nodes]
    for source, rel, target in edges:
        out_runs[source].append((rel, target))
        in_runs[target].append((rel, source))

    def edge_array(runs):
        data, offsets, total = bytearray(), [0], 0
        for run in runs:
            for rel, other in run:
                data += struct.pack("<B3xI", rel, other)
            total += len(run)
            offsets.append(total)
        return data, offsets

    node_bytes = b"".join(struct.pack("<B3xIIIIII", k, *i, *n, *p) for k, i, n, p in records)
    out_edges, out_offsets = edge_array(out_runs)
    in_edges, in_offsets = edge_array(in_runs)
    arrays = [(bytes(pool), len(pool)), (node_bytes, len(records)), (bytes(out_edges), len(out_edges) // 8),
              (struct.pack(f"<{len(out_offsets)}I", *out_offsets), len(out_offsets)),
              (bytes(in_edges), len(in_edges) // 8), (struct.pack(f"<{len(in_offsets)}I", *in_offsets), len(in_offsets))]
    image, starts = bytearray(), []
    for data, _ in arrays:
        starts.append(len(image))
        image += data
    root = len(image)
    image += b"KUV1" + struct.pack("<I", 4)
    for index, (start, (_, count)) in enumerate(zip(starts, arrays)):
        image += struct.pack("<iI", start - (root + 8 + 8 * index), count)
    return bytes(image)


HOSTILE_VALUES = [
    '"7"', '"-0"', '"0.5"', '"007"', '"1."', '".5"', '"+5"', '" 5"', '"1e5"', '"-0.0"', '"3.50"', '"00.5"', '"-05"',
    '"99999999999999999999"', '"9223372036854775807"', '"9223372036854775808"', '"-9223372036854775808"',
    '"-9223372036854775809"', '"1.7976931348623157e308"', '"12.50"', '"0"', '"10"', '"9"', '"100"', '"-1"',
    "7", "-0", "0", "-0.0", "12.5", "1E2", "1e-400", "2.5e-3", "18446744073709551615", "18446744073709551616",
    "-9223372036854775808", "-9223372036854775809", "9007199254740993", "1.7976931348623157e308", "4.9e-324",
    "1e16", "1e15", "0.0001", "0.00001", "123456789012345678901234567890", "-12.75", "10", "9", "100", "2", "1",
    "true", "false", "null", "[]", "[1,2]", '{"a":1}', "{}", '[{"x":[1,{"y":"z"}]}]',
    '""', '"a"', '"ab"', '"Acme Corp"', '"ACME"', '"acme"', '"\\u00e9t\\u00e9"', '"\\ud83d\\ude00"', '"a\\"b"',
    '"back\\\\slash"', '"line\\nbreak"', '"tab\\t"', '"\\u0000nul"', '"\\u001f"', '"\\/"', '"ÄÖÜ"', '"İstanbul"',
    '"ΣΑΣ ΟΔΟΣ"', '"straße"', '"STRASSE"', '"ǅ"', '"x²"', '"\u3000space"', '"日本語"', '"é"', '"e\u0301"',
    '"https://shop.example/a"', '"In Stock"', '"{\\"not\\":\\"nested\\"}"', '"\\u0130"', '"ß"',
]

INVALID_PROPS = [
    b'{"a":1,}', b'{"a":1', b'[1,2]', b'null', b'"str"', b'7', b'', b'{"a":1}x', b'{"a":1e400}',
    b'{"a":"\\ud800"}', b'{"a":"\\udc00x"}', b'{"a":"\x01"}', b'{"a":01}', b'{"a":-}', b'{"a":.5}',
    b'{"a":1.}', b'{"a":tru}', b'{"a":nul}', b'\xef\xbb\xbf{"a":1}', b'{"a":"\xff"}', b'{"a":"\xc3"}',
    b'{"a" 1}', b'{a:1}', b'{"a":1 "b":2}', b'{"a":[1,]}', b'{"a":"\\x"}', b'{"a":"\\u12"}',
    b'[' * 128 + b']' * 128, b'{"a":' + b'[' * 126 + b']' * 126 + b'}', b'{"a":' + b'[' * 127 + b']' * 127 + b'}',
    b' {"a":2} ', b'\t{"a":3}\n', b'{"a":4}\x0b', b'{"a":1,"a":2}', b'{"a":{"a":9},"a":5}', b'{"a":5,"a":{"a":9}}',
    b'{"name":"inner","kind":"inner","a":6}', b'{"\\u0061":7}', b'{"a\\u0000":8,"a":9}', b'{"a":"v","b":"\\u00"}',
]

KEYS = ["a", "b", "c", "price", "price_cents", "name", "kind", "url", "nosuch", "s", "n"]


def synthetic_graph(seed, node_count):
    """Nodes with hostile props under a few keys, and random edges (duplicates, self-loops)."""
    rng = random.Random(seed)
    names = ["Acme", "acme", "ACME Corp", "", "Ärger", "İnci", "ΣΟΦΙΑ", "x\\y", 'q"uote', "tab\tname", "日本",
             "Zed", "alpha", "Beta", "beta"]
    nodes = []
    for i in range(node_count):
        kind = rng.randrange(len(KINDS)) if rng.random() < 0.6 else 0
        if rng.random() < 0.15:
            props = rng.choice(INVALID_PROPS)
        else:
            members = {}
            for key in rng.sample(["a", "b", "c", "price", "price_cents", "url", "s", "n", "name", "kind", "x"],
                                  rng.randrange(0, 7)):
                members[key] = rng.choice(HOSTILE_VALUES)
            order = sorted(members) if rng.random() < 0.8 else list(members)
            props = ("{" + ",".join(json.dumps(k) + ":" + members[k] for k in order) + "}").encode()
        name = rng.choice(names).encode()
        if rng.random() < 0.03:
            name = b"bad\xffname"
        nodes.append((kind, f"n{i}".encode(), name, props))
    edges = []
    for _ in range(node_count * 2):
        source = rng.randrange(node_count)
        target = source if rng.random() < 0.05 else rng.randrange(node_count)
        edges.append((source, rng.randrange(len(RELS)), target))
        if rng.random() < 0.1:
            edges.append(edges[-1])
    return graph_image(nodes, edges)


def fan_in_graph(products):
    """Every product points at one brand whose props hold a long text (repeated reads of one node)."""
    long_text = ("Ünïcödé ΣΊΣΥΦΟΣ straße " * 2000).strip()
    nodes = [(2, b"brand", b"Brand", json.dumps({"s": long_text, "a": 1}, ensure_ascii=False).encode())]
    nodes += [(0, f"p{i}".encode(), f"P{i % 7}".encode(), json.dumps({"a": i % 5, "b": f"v{i % 3}"}).encode())
              for i in range(products)]
    edges = [(i + 1, 1, 0) for i in range(products)]
    return graph_image(nodes, edges)


# ---------------------------------------------------------------------------------------------
# The battery

LITERALS = ["0", "1", "2", "7", "10", "12.5", "0.0", "100000", "9007199254740993", "'a'", "'Acme'", "'12.50'",
            "'7'", "''", "true", "false", "'ACME Corp'", "'v1'"]
NEEDLES = ["'a'", "''", "'İ'", "'σ'", "'ACME'", "'ß'", "'SS'", "'e\u0301'", "'STRASSE'", "'ö'", "'corp'", "'Σ'"]
PATTERNS = ["'a'", "'^A'", "'(?i)acme'", "'\\d+'", "''", "'^$'", "'\u00e9'", "'[Σσς]'"]
IN_LISTS = ["[1, 2.5, 'x', TRUE, -1]", "[]", "['a', 'Acme', 7]", "[0, -0.0]", "[10, '10']"]
OPS = ["=", "<>", "!=", "<", "<=", ">", ">="]


def conditions(rng, var, keys):
    key = rng.choice(keys)
    prop = f"{var}.{key}"
    kind = rng.randrange(9)
    if kind == 0:
        return f"{prop} {rng.choice(OPS)} {rng.choice(LITERALS)}"
    if kind == 1:
        return f"{prop} {rng.choice(OPS)} {var}.{rng.choice(keys)}"
    if kind == 2:
        return f"{prop} IS {rng.choice(['', 'NOT '])}NULL"
    if kind == 3:
        return f"{prop} IN {rng.choice(IN_LISTS)}"
    if kind == 4:
        return f"{prop} {rng.choice(['CONTAINS', 'STARTS WITH', 'ENDS WITH'])} {rng.choice(NEEDLES)}"
    if kind == 5:
        return f"{prop} =~ {rng.choice(PATTERNS)}"
    if kind == 6:
        return prop
    if kind == 7:
        return f"{rng.choice(LITERALS)} {rng.choice(OPS)} {prop}"
    return f"({prop} = 1) IS NULL"


def where_clause(rng, variables, keys):
    if rng.random() < 0.3:
        return ""
    terms = [conditions(rng, rng.choice(variables), keys) for _ in range(rng.randrange(1, 4))]
    text = terms[0]
    for term in terms[1:]:
        glue = rng.choice([" AND ", " OR ", " AND NOT ", " OR NOT "])
        text = f"({text}){glue}{term}" if rng.random() < 0.4 else f"{text}{glue}{term}"
    if rng.random() < 0.15:
        text = f"NOT ({text})"
    return " WHERE " + text


def node_pattern(rng, var, labels, keys):
    label = rng.choice(labels) if rng.random() < 0.5 else ""
    props = ""
    if rng.random() < 0.15:
        props = " {" + f"{rng.choice(keys)}: {rng.choice(LITERALS + ['-1', '-0.0'])}" + "}"
    return f"({var}{':' + label if label else ''}{props})"


def path(rng, labels, keys):
    hops = rng.choice([0, 0, 0, 1, 1, 2])
    variables = ["a"]
    text = node_pattern(rng, "a", labels, keys)
    for hop in range(hops):
        var = "bcd"[hop]
        variables.append(var)
        types = rng.choice(["", "", ":" + rng.choice(RELS[:4]), ":" + "|".join(rng.sample(RELS, 3))])
        if rng.random() < 0.5:
            text += f"-[{types}]->" if types or rng.random() < 0.5 else "-->"
        else:
            text += f"<-[{types}]-" if types or rng.random() < 0.5 else "<--"
        text += node_pattern(rng, var, labels, keys)
    return text, variables


def paging(rng):
    text = ""
    if rng.random() < 0.4:
        text += f" SKIP {rng.choice([0, 1, 2, 5, 30, 300])}"
    if rng.random() < 0.5:
        text += f" LIMIT {rng.choice([0, 1, 3, 10, 50, 257, 1000])}"
    return text


def random_query(rng, labels, keys):
    pattern, variables = path(rng, labels, keys)
    where = where_clause(rng, variables, keys)
    shape = rng.randrange(4)
    if shape == 3:  # grouped
        plain = [f"{rng.choice(variables)}{rng.choice(['', '.' + rng.choice(keys)])}"
                 for _ in range(rng.randrange(0, 3))]
        aggs = [f"{rng.choice(['count', 'min', 'max', 'sum', 'avg', 'COUNT'])}({rng.choice(variables)}.{rng.choice(keys)})"
                for _ in range(rng.randrange(1, 3))]
        if rng.random() < 0.3:
            aggs.append("count(*)")
        items = plain + aggs
        rng.shuffle(items)
        distinct = " DISTINCT" if rng.random() < 0.2 else ""
        return f"MATCH {pattern}{where} RETURN{distinct} {', '.join(items)}{paging(rng)}"
    items = [f"{rng.choice(variables)}{rng.choice(['', '.' + rng.choice(keys)])}" for _ in range(rng.randrange(1, 4))]
    distinct = " DISTINCT" if rng.random() < 0.25 else ""
    returns = ", ".join(f"{item} AS c{i}" if rng.random() < 0.3 else item for i, item in enumerate(items))
    if shape == 0:
        return f"MATCH {pattern}{where} RETURN{distinct} {returns}{paging(rng)}"
    order_items, sort_keys = [], []
    for _ in range(rng.randrange(1, 3)):
        if rng.random() < 0.2 and " AS c0" in returns:
            order_items.append("c0")
            sort_keys.append(items[0])
        else:
            order_items.append(f"{rng.choice(variables)}{rng.choice(['', '.' + rng.choice(keys)])}")
            sort_keys.append(order_items[-1])
        order_items[-1] += rng.choice(["", " ASC", " DESC", " desc"])
    # The probe returns the sort keys of every row, to tell whether they form an order.
    probe = f"MATCH {pattern}{where} RETURN " + ", ".join(f"{key} AS k{i}" for i, key in enumerate(sort_keys))
    return f"MATCH {pattern}{where} RETURN{distinct} {returns} ORDER BY {', '.join(order_items)}{paging(rng)}", probe


FIXED_QUERIES = [
    "MATCH (n) RETURN count(*)",
    "MATCH (n) RETURN n.kind, count(*) AS c ORDER BY c",
    "MATCH (n) RETURN n ORDER BY n",
    "MATCH (n) RETURN n.a ORDER BY nosuch",
    "MATCH (n) RETURN nosuch.a",
    "MATCH (n) WHERE n.nosuch = 1 RETURN nosuch.a",
    "MATCH (n) RETURN count(nosuch), count(n.zz)",
    "MATCH (n) RETURN min(nosuch.a)",
    "MATCH (n) RETURN n.a, min(x.a)",
    ("MATCH (n) RETURN DISTINCT n.a ORDER BY n.a DESC", "MATCH (n) RETURN n.a AS k0"),
    ("MATCH (n) RETURN DISTINCT n.a, n.b ORDER BY n.b, n.a DESC SKIP 1 LIMIT 3", "MATCH (n) RETURN n.b AS k0, n.a AS k1"),
    "MATCH (n)-->(m) RETURN n.name AS x, m.name AS x ORDER BY x LIMIT 20",
    "MATCH (n)-->(m)-->(n) RETURN n, m LIMIT 50",
    "MATCH (n)-->(n) RETURN n",
    "MATCH (n) RETURN sum(n.a), avg(n.a), min(n.a), max(n.a), count(n.a)",
    "MATCH (n) RETURN n.a, sum(n.b), avg(n.price), min(n.price_cents), max(n.s)",
    "MATCH (n) WHERE n.s CONTAINS 'ς' RETURN n.s",
    "MATCH (n) WHERE n.name CONTAINS 'i̇' RETURN n.name",
    "MATCH (n) WHERE n.name STARTS WITH 'acme' RETURN n.name ORDER BY n.name",
    "MATCH (n) RETURN n.a ORDER BY n.a LIMIT 5",
    "MATCH (n) RETURN n.a ORDER BY n.a DESC LIMIT 5",
    "MATCH (n) RETURN n.a, n.b ORDER BY n.b DESC, n.a SKIP 3 LIMIT 7",
    "MATCH (n) RETURN n.s ORDER BY n.s SKIP 2",
    ("MATCH (n:Product) RETURN n.price, n.price_cents, n.a ORDER BY n.price_cents DESC, n.price LIMIT 12",
     "MATCH (n:Product) RETURN n.price_cents AS k0, n.price AS k1"),
    "MATCH (n) WHERE n.a > 1 AND n.a < 100 OR n.b = 'x' RETURN n.a, n.b",
    "MATCH (n) WHERE NOT n.a = 1 RETURN count(*)",
    "MATCH (n) WHERE n.a <> 1 RETURN count(*)",
    "MATCH (n) WHERE n.a RETURN count(*)",
    "MATCH (n) WHERE 1 = 1 RETURN count(*)",
    "MATCH (n) WHERE true RETURN count(*)",
    "MATCH (n) WHERE 'x' RETURN count(*)",
    "MATCH (n {a: 7}) RETURN n",
    "MATCH (n {a: 7.0, b: 'x'}) RETURN n",
    "MATCH (n {name: 'Acme'}) RETURN n",
    "MATCH (n {kind: 'Product'}) RETURN count(*)",
    "MATCH (n) RETURN n.a AS a, count(*) ORDER BY a",
    "MATCH (a)-[:Brand|Manufacturer]->(b) RETURN b.name, count(*), avg(a.a)",
    "MATCH (a)<-[:Offers]-(b) RETURN a, b SKIP 2 LIMIT 4",
    "MATCH (a)<--(b)<--(c) RETURN count(*)",
    "MATCH (n) RETURN n.a ORDER BY n.a SKIP 18446744073709551615",
    "MATCH (n) RETURN n.a SKIP 5 LIMIT 9223372036854775807",
    "MATCH (n) RETURN n.a ORDER BY n.a SKIP 9223372036854775807 LIMIT 9223372036854775807",
    "MATCH (n) RETURN DISTINCT n.kind",
    "MATCH (n) RETURN DISTINCT count(*)",
    "MATCH (n) WHERE n.a IN [1, 2.5, 'x', TRUE, -1] RETURN n.a",
    "MATCH (n) WHERE n.c =~ '(?i)é' RETURN n.c",
    "MATCH (n) WHERE n.s ENDS WITH '' RETURN count(*)",
    "MATCH (n) WHERE n.a = n.b RETURN n.a, n.b",
    "MATCH (n) WHERE n.a < n.b RETURN n.a, n.b ORDER BY n.a, n.b",
]


def battery_for(image_path, rng, count):
    """(graph, query, probe or None) triples."""
    labels = [""] + KINDS[:5]
    keys = KEYS + ["x", "`@type`", "sku", "currency", "rating_value", "price_score", "availability", "offers", "id"]
    queries = [q if isinstance(q, tuple) else (q, None) for q in FIXED_QUERIES]
    for _ in range(count):
        query = random_query(rng, labels, keys)
        queries.append(query if isinstance(query, tuple) else (query, None))
    return [(image_path, q, probe) for q, probe in queries]


def kind_of(value):
    if isinstance(value, bool):
        return "bool"
    if isinstance(value, (int, float)):
        return "nan" if value != value else "number"
    return type(value).__name__


def keys_form_an_order(rows):
    """Whether each sort key holds values of one kind (Null aside) and no NaN, so that the
    comparison is an order and every correct sort gives one arrangement."""
    for column in (rows[0] if rows else {}):
        kinds = {kind_of(row[column]) for row in rows if row[column] is not None}
        if len(kinds) > 1 or "nan" in kinds:
            return False
    return True


# ---------------------------------------------------------------------------------------------
# Running and comparing

def run_battery(battery_path, out_path):
    import kuv
    with open(battery_path) as f:
        battery = json.load(f)
    results = []
    for graph, text, _ in battery:
        try:
            outcome = repr(kuv.query(graph, text))
        except Exception as error:  # the message is part of the behaviour under test
            outcome = f"{type(error).__name__}: {error}"
        results.append(outcome)
    with open(out_path, "wb") as f:
        pickle.dump(results, f)


def timed_run(python, battery_path, out_path):
    start = time.perf_counter()
    subprocess.run([python, os.path.abspath(__file__), "--run", battery_path, out_path], check=True)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", nargs=2, help=argparse.SUPPRESS)
    parser.add_argument("--reference", help="Python interpreter that imports the kuv to compare with")
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "kuv_query_differential"))
    parser.add_argument("--random", type=int, default=2500, help="random queries per generated graph")
    parser.add_argument("--show", type=int, default=20, help="differences printed")
    parser.add_argument("graphs", nargs="*", help="more graph files (a smaller battery runs on each)")
    args = parser.parse_args()
    if args.run:
        run_battery(*args.run)
        return
    if not args.reference:
        parser.error("--reference is required")
    os.makedirs(args.work, exist_ok=True)
    images = {"synthetic-small.bin": synthetic_graph(1, 40), "synthetic-large.bin": synthetic_graph(2, 3000),
              "fan-in.bin": fan_in_graph(300), "empty.bin": graph_image([], [])}
    rng = random.Random(7)
    battery = []
    for name, image in images.items():
        path = os.path.join(args.work, name)
        with open(path, "wb") as f:
            f.write(image)
        battery += battery_for(path, rng, args.random if name.startswith("synthetic") else args.random // 10)
    for path in args.graphs:
        battery += battery_for(os.path.abspath(path), rng, 40)
    battery_path = os.path.join(args.work, "battery.json")
    with open(battery_path, "w") as f:
        json.dump(battery, f)

    digest = hashlib.sha256(json.dumps(battery).encode() + args.reference.encode())
    for name in sorted(images):
        digest.update(images[name])
    reference_out = os.path.join(args.work, f"reference-{digest.hexdigest()[:16]}.pkl")
    if not os.path.exists(reference_out):
        print(f"reference: {timed_run(args.reference, battery_path, reference_out):.1f} s")
    test_out = os.path.join(args.work, "under-test.pkl")
    print(f"under test: {timed_run(sys.executable, battery_path, test_out):.1f} s")
    with open(reference_out, "rb") as f:
        expected = pickle.load(f)
    with open(test_out, "rb") as f:
        actual = pickle.load(f)
    differences, unordered = [], 0
    import kuv
    for (graph, text, probe), want, got in zip(battery, expected, actual):
        if want == got:
            continue
        # Sort keys of mixed kinds give no order: any arrangement the sort makes is acceptable.
        if probe and want.startswith("[") and got.startswith("[") and not keys_form_an_order(kuv.query(graph, probe)):
            unordered += 1
            continue
        differences.append((graph, text, want, got))
    for graph, text, want, got in itertools.islice(differences, args.show):
        print(f"\n{os.path.basename(graph)}: {text}\n  reference: {want[:400]}\n  under test: {got[:400]}")
    errors = sum(1 for outcome in expected if not outcome.startswith("["))
    print(f"\n{len(battery)} queries ({errors} failing alike on purpose), {unordered} arranged differently over "
          f"sort keys of mixed kinds, {len(differences)} differences")
    sys.exit(1 if differences else 0)


if __name__ == "__main__":
    main()
