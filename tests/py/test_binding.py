"""Argument binding and conversion: every TypeError text a caller can meet."""
import pathlib
import sys

import pytest

import kuv
from conftest import StrSubclass


class TypeErrorSubclass(TypeError):
    pass


class Pages:
    """Two pages behind a length that says otherwise; the length or the items fail as configured."""

    def __init__(self, length=1, length_error=None, item_error=None):
        self.length, self.length_error, self.item_error = length, length_error, item_error

    def __len__(self):
        if self.length_error:
            raise self.length_error
        return self.length

    def __getitem__(self, index):
        if self.item_error or index >= 2:
            raise self.item_error or IndexError
        return "<html></html>"


PATH_TYPE = type(pathlib.Path("g.bin")).__qualname__
NOT_SEQUENCE = "object cannot be converted to 'Sequence'"
NOT_STR = "object cannot be converted to 'PyString'"


@pytest.mark.parametrize("call, message", [
    (lambda: kuv.query("a"), "query() missing 1 required positional argument: 'cypher_query'"),
    (lambda: kuv.query(), "query() missing 2 required positional arguments: 'graph_path' and 'cypher_query'"),
    (lambda: kuv.merge_graph("x"),
     "merge_graph() missing 3 required positional arguments: 'pages', 'removed_urls', and 'out_path'"),
    (lambda: kuv.query("a", "b", "c", foo=1), "query() takes 2 positional arguments but 3 were given"),
    (lambda: kuv.query("a", graph_path="b"), "query() got multiple values for argument 'graph_path'"),
    (lambda: kuv.query("a", foo=1), "query() got an unexpected keyword argument 'foo'"),
    # keywords are checked in the order given, before missing parameters
    (lambda: kuv.build_graph(bar=1, pages=[], out_path="x"), "build_graph() got an unexpected keyword argument 'bar'"),
    (lambda: kuv.build_graph([], pages=[]), "build_graph() got multiple values for argument 'pages'"),
    (lambda: kuv.build_graph("<p>", "x"), "argument 'pages': Can't extract `str` to `Vec`"),
    (lambda: kuv.build_graph((p for p in "a"), "x"), f"argument 'pages': 'generator' {NOT_SEQUENCE}"),
    (lambda: kuv.build_graph({"a": 1}, "x"), f"argument 'pages': 'dict' {NOT_SEQUENCE}"),
    (lambda: kuv.build_graph(b"ab", "x"), f"argument 'pages': 'int' {NOT_STR}"),
    (lambda: kuv.build_graph(Pages(item_error=TypeError("broken item")), "x"), "argument 'pages': broken item"),
    (lambda: kuv.build_graph([], 2), f"argument 'out_path': 'int' {NOT_STR}"),
    (lambda: kuv.query(pathlib.Path("g"), "q"), f"argument 'graph_path': '{PATH_TYPE}' {NOT_STR}"),
    (lambda: kuv.merge_graph("", [], [None], "x"), f"argument 'removed_urls': 'NoneType' {NOT_STR}"),
    (lambda: kuv.build_graph_from_dir(b"dir", "x"), f"argument 'html_dir': 'bytes' {NOT_STR}"),
])
def test_type_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert str(info.value) == message


@pytest.mark.parametrize("call, error, message", [
    (lambda: kuv.build_graph([], "\udc80"), UnicodeEncodeError, "surrogates not allowed$"),
    (lambda: kuv.build_graph(Pages(item_error=TypeErrorSubclass("sub")), "x"), TypeErrorSubclass, "^sub$"),
])
def test_exceptions_other_than_type_error_pass_unchanged(call, error, message):
    with pytest.raises(error, match=message) as info:
        call()
    assert type(info.value) is error


@pytest.mark.parametrize("call", [
    lambda out: kuv.build_graph([], out),
    lambda out: kuv.build_graph(pages=(), out_path=out),
    lambda out: kuv.merge_graph("", [], removed_urls=[], out_path=out),
    lambda out: kuv.build_graph([], StrSubclass(out)),
    # the length is only a size hint, whether it fails or is absurdly large
    lambda out: kuv.build_graph(Pages(length_error=RuntimeError("no length")), out),
    lambda out: kuv.build_graph(Pages(length=sys.maxsize), out),
    lambda out: kuv.merge_graph("", Pages(length=2**40), Pages(length=2**40), out),
])
def test_arguments_by_position_or_keyword(tmp_path, call):
    assert call(str(tmp_path / "g.bin")) > 0
