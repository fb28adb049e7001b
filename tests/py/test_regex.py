"""query with =~: the regular-expression library's syntax, matches and messages."""
import pytest

import kuv
from conftest import jsonld_page

NAMES = ["café", "x1", "Ab", "a.b", "q<r", "naïve"]


@pytest.fixture(scope="module")
def graph(tmp_path_factory):
    path = str(tmp_path_factory.mktemp("regex") / "g.bin")
    kuv.build_graph([jsonld_page(name, f"https://s.example/{i}", sku=f"S{i}") for i, name in enumerate(NAMES)], path)
    return path


def matching_names(graph, pattern):
    rows = kuv.query(graph, f"MATCH (n:Product) WHERE n.name =~ '{pattern}' RETURN n.name AS name")
    return sorted(row["name"] for row in rows)


@pytest.mark.parametrize("pattern, names", [
    (r"ï\B", ["naïve"]),  # word boundaries are Unicode-aware
    (r"(?x) c a f é", ["café"]),
    (r"\u0063af", ["café"]),
    (r"^[a-z&&[^c]]", ["a.b", "naïve", "q<r", "x1"]),  # class intersection
    (r"\p{Alphabetic}", sorted(NAMES)),
    (r"x{1001}", []),
    (r"(?<n>A)b", ["Ab"]),
    (r"a.b", ["a.b"]),
    (r"[.<]", ["a.b", "q<r"]),
])
def test_patterns_use_the_librarys_syntax(graph, pattern, names):
    assert matching_names(graph, pattern) == names


@pytest.mark.parametrize("pattern, message", [
    ("(", "regex parse error:\n    (\n    ^\nerror: unclosed group"),
    (r"\<", "regex parse error:\n    \\<\n    ^^\nerror: unrecognized escape sequence"),
    (r"\w{1000}", "Compiled regex exceeds size limit of 10485760 bytes."),
])
def test_rejected_patterns_report_the_librarys_text_and_nothing_else(graph, capfd, pattern, message):
    with pytest.raises(ValueError) as info:
        matching_names(graph, pattern)
    assert str(info.value) == "invalid regex in =~ : " + message
    assert capfd.readouterr() == ("", "")


def test_a_large_pattern_compiles_quietly(graph, capfd):
    assert matching_names(graph, "é" * 100_000 + "|x1") == ["x1"]
    assert capfd.readouterr() == ("", "")
