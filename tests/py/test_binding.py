"""Argument binding and conversion: every TypeError text a caller can meet."""
import pathlib

import pytest

import kuv


class StrSubclass(str):
    pass


class BadSequence:
    def __len__(self):
        raise RuntimeError("no length")

    def __getitem__(self, index):
        if index < 2:
            return "<html></html>"
        raise IndexError


class FailingIteration:
    def __len__(self):
        return 1

    def __getitem__(self, index):
        raise TypeError("broken item")


class TypeErrorSubclass(TypeError):
    pass


class FailingWithSubclass(FailingIteration):
    def __getitem__(self, index):
        raise TypeErrorSubclass("sub")


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: kuv.query("a"), "query() missing 1 required positional argument: 'cypher_query'"),
        (lambda: kuv.query(), "query() missing 2 required positional arguments: 'graph_path' and 'cypher_query'"),
        (
            lambda: kuv.merge_graph("x"),
            "merge_graph() missing 3 required positional arguments: 'pages', 'removed_urls', and 'out_path'",
        ),
        (lambda: kuv.query("a", "b", "c"), "query() takes 2 positional arguments but 3 were given"),
        (lambda: kuv.query("a", "b", "c", foo=1), "query() takes 2 positional arguments but 3 were given"),
        (lambda: kuv.query("a", graph_path="b"), "query() got multiple values for argument 'graph_path'"),
        (lambda: kuv.query("a", foo=1), "query() got an unexpected keyword argument 'foo'"),
        # keywords are checked in the order given, before missing parameters
        (
            lambda: kuv.build_graph(bar=1, pages=[], out_path="x"),
            "build_graph() got an unexpected keyword argument 'bar'",
        ),
        (lambda: kuv.build_graph(pages=[], foo=1), "build_graph() got an unexpected keyword argument 'foo'"),
        (lambda: kuv.build_graph([], pages=[]), "build_graph() got multiple values for argument 'pages'"),
        (lambda: kuv.build_graph("<p>", "x"), "argument 'pages': Can't extract `str` to `Vec`"),
        (lambda: kuv.build_graph(StrSubclass("p"), "x"), "argument 'pages': Can't extract `str` to `Vec`"),
        (
            lambda: kuv.build_graph((p for p in ["a"]), "x"),
            "argument 'pages': 'generator' object cannot be converted to 'Sequence'",
        ),
        (lambda: kuv.build_graph({"a"}, "x"), "argument 'pages': 'set' object cannot be converted to 'Sequence'"),
        (lambda: kuv.build_graph({"a": 1}, "x"), "argument 'pages': 'dict' object cannot be converted to 'Sequence'"),
        (lambda: kuv.build_graph([1], "x"), "argument 'pages': 'int' object cannot be converted to 'PyString'"),
        (lambda: kuv.build_graph(b"ab", "x"), "argument 'pages': 'int' object cannot be converted to 'PyString'"),
        (lambda: kuv.build_graph(FailingIteration(), "x"), "argument 'pages': broken item"),
        (lambda: kuv.build_graph(1, 2), "argument 'pages': 'int' object cannot be converted to 'Sequence'"),
        (lambda: kuv.build_graph([], 2), "argument 'out_path': 'int' object cannot be converted to 'PyString'"),
        (
            lambda: kuv.query(pathlib.Path("g.bin"), "MATCH (n) RETURN n"),
            f"argument 'graph_path': '{type(pathlib.Path('g.bin')).__qualname__}' object cannot be converted to 'PyString'",
        ),
        (
            lambda: kuv.merge_graph("", [], [None], "x"),
            "argument 'removed_urls': 'NoneType' object cannot be converted to 'PyString'",
        ),
        (
            lambda: kuv.build_graph_from_dir(b"dir", "x"),
            "argument 'html_dir': 'bytes' object cannot be converted to 'PyString'",
        ),
    ],
)
def test_type_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert str(info.value) == message


def test_exceptions_other_than_type_error_pass_unchanged():
    with pytest.raises(UnicodeEncodeError):
        kuv.build_graph([], "\udc80")
    with pytest.raises(UnicodeEncodeError):
        kuv.build_graph(["\ud800"], "x")
    with pytest.raises(TypeErrorSubclass, match="^sub$"):
        kuv.build_graph(FailingWithSubclass(), "x")


def test_sequence_size_failure_is_only_a_hint(tmp_path):
    assert kuv.build_graph(BadSequence(), str(tmp_path / "g.bin")) > 0


@pytest.mark.parametrize(
    "call",
    [
        lambda out: kuv.build_graph([], out),
        lambda out: kuv.build_graph(pages=(), out_path=out),
        lambda out: kuv.build_graph(out_path=out, pages=[]),
        lambda out: kuv.build_graph([], out_path=out),
        lambda out: kuv.merge_graph("", [], removed_urls=[], out_path=out),
        lambda out: kuv.build_graph([], StrSubclass(out)),
    ],
)
def test_arguments_by_position_or_keyword(tmp_path, call):
    assert call(str(tmp_path / "g.bin")) > 0


def test_first_bad_argument_wins(tmp_path):
    with pytest.raises(TypeError, match="^argument 'pages'"):
        kuv.build_graph("oops", 42)
