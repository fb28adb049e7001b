"""query: file checks before the query text, row dictionaries, value conversion."""
import pytest

import kuv
from conftest import jsonld_page


@pytest.fixture
def graph(tmp_path):
    path = str(tmp_path / "g.bin")
    kuv.build_graph([jsonld_page("Lamp", "https://s.example/lamp", price="12.50", sku="L1")], path)
    return path


@pytest.mark.parametrize("name, text, message", [
    ("nope.bin", "this is not cypher", 'open "{dir}/nope.bin"'),
    ("a\0b.bin", "MATCH (n) RETURN n", 'open "{dir}/a\\0b.bin"'),
    ("junk.bin", "MATCH (n) RETURN n", "rkyv access (corrupt graph.bin?)"),
    ("g.bin", "RETURN 1", "query must start with MATCH"),
    ("g.bin", "MATCH (n:Gadget) RETURN n", "unknown node label :Gadget"),
])
def test_errors_are_value_errors(tmp_path, graph, name, text, message):
    (tmp_path / "junk.bin").write_bytes(b"not a graph at all")
    with pytest.raises(ValueError) as info:
        kuv.query(f"{tmp_path}/{name}", text)
    assert type(info.value) is ValueError
    assert str(info.value) == message.format(dir=tmp_path)


def test_rows_are_dicts_of_converted_values(graph):
    rows = kuv.query(graph, "MATCH (p:Product)-[:Brand]->(b:Brand) RETURN p, b.name AS brand, p.price_cents AS cents,"
                            " p.price_confident AS sure, p.no_such_key AS missing, p.name AS x, p.url AS x")
    assert rows == [{"p": {"idx": 0, "kind": "Product", "name": "Lamp"}, "brand": "Acme", "cents": 1250,
                     "sure": True, "missing": None, "x": "https://s.example/lamp"}]
    assert list(rows[0]) == ["p", "brand", "cents", "sure", "missing", "x"]
    assert list(rows[0]["p"]) == ["idx", "kind", "name"]
    assert type(rows[0]["sure"]) is bool and type(rows[0]["cents"]) is int
    (average,) = kuv.query(graph, "MATCH (p:Product) RETURN avg(p.price_cents) AS a")
    assert average == {"a": 1250.0} and type(average["a"]) is float


def test_rewritten_file_is_seen_afresh(graph):
    kuv.build_graph([jsonld_page("Second", "https://s.example/2", sku="2")], graph)
    assert kuv.query(graph, "MATCH (p:Product) RETURN p.name AS n") == [{"n": "Second"}]
