"""query: file checks before the query text, row dictionaries, value conversion."""
import pytest

import kuv
from conftest import jsonld_page


@pytest.fixture
def graph(tmp_path, example_pages):
    path = tmp_path / "g.bin"
    kuv.build_graph(list(example_pages.values()), str(path))
    return str(path)


def test_missing_file_is_reported_before_a_bad_query(tmp_path):
    missing = str(tmp_path / "nope.bin")
    with pytest.raises(ValueError) as info:
        kuv.query(missing, "this is not cypher")
    assert str(info.value) == f'open "{missing}"'


def test_nul_in_graph_path_is_an_open_error(tmp_path):
    with pytest.raises(ValueError) as info:
        kuv.query(str(tmp_path) + "/a\0b.bin", "MATCH (n) RETURN n")
    assert str(info.value) == f'open "{tmp_path}/a\\0b.bin"'


def test_corrupt_file_is_value_error(tmp_path):
    path = tmp_path / "junk.bin"
    path.write_bytes(b"not a graph at all")
    with pytest.raises(ValueError):
        kuv.query(str(path), "MATCH (n) RETURN n")


@pytest.mark.parametrize(
    "text, message",
    [
        ("RETURN 1", "query must start with MATCH"),
        ("MATCH (n:Gadget) RETURN n", "unknown node label :Gadget"),
    ],
)
def test_query_errors_are_value_errors(graph, text, message):
    with pytest.raises(ValueError) as info:
        kuv.query(graph, text)
    assert type(info.value) is ValueError
    assert str(info.value) == message


def test_node_values_become_dicts(graph):
    rows = kuv.query(graph, "MATCH (p:Product)-[:Brand]->(b:Brand) RETURN p, b.name AS brand")
    assert rows
    for row in rows:
        assert list(row) == ["p", "brand"]
        assert list(row["p"]) == ["idx", "kind", "name"]
        assert row["p"]["kind"] == "Product"
        assert isinstance(row["p"]["idx"], int) and row["p"]["idx"] >= 0
    assert {"Ridgeline", "Bellhop"} <= {row["brand"] for row in rows}


def test_scalar_values(tmp_path):
    path = tmp_path / "g.bin"
    kuv.build_graph([jsonld_page("Lamp", "https://s.example/lamp", price="12.50", sku="L1")], str(path))
    (row,) = kuv.query(
        str(path),
        "MATCH (p:Product) RETURN p.name AS name, p.price_cents AS cents, p.price_confident AS sure,"
        " p.no_such_key AS missing, p.url AS url",
    )
    assert row == {"name": "Lamp", "cents": 1250, "sure": row["sure"], "missing": None, "url": "https://s.example/lamp"}
    assert isinstance(row["sure"], bool)
    (avg,) = kuv.query(str(path), "MATCH (p:Product) RETURN avg(p.price_cents) AS a")
    assert avg == {"a": 1250.0} and isinstance(avg["a"], float)


def test_repeated_column_keeps_the_later_value(graph):
    rows = kuv.query(graph, "MATCH (p:Product) RETURN p.name AS x, p.url AS x LIMIT 1")
    assert len(rows) == 1 and list(rows[0]) == ["x"]
    assert rows[0]["x"].startswith("https://")


def test_no_match_gives_empty_list(graph):
    assert kuv.query(graph, "MATCH (p:Product) WHERE p.name = 'No such thing' RETURN p") == []
    assert kuv.query(graph, "MATCH (p:Product) WHERE p.name = 'No such thing' RETURN count(*) AS n") == []


def test_rewritten_file_is_seen_afresh(tmp_path):
    path = str(tmp_path / "g.bin")
    kuv.build_graph([jsonld_page("First", "https://s.example/1", sku="1")], path)
    assert kuv.query(path, "MATCH (p:Product) RETURN p.name AS n") == [{"n": "First"}]
    kuv.build_graph([jsonld_page("Second", "https://s.example/2", sku="2")], path)
    assert kuv.query(path, "MATCH (p:Product) RETURN p.name AS n") == [{"n": "Second"}]
