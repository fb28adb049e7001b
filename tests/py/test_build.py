"""build_graph, build_graph_from_dir and merge_graph as a caller sees them."""
import errno
import os
import subprocess
import sys

import pytest

import kuv
from conftest import EXAMPLES, jsonld_page, node_count, product_names

def empty_graph_size(tmp_path):
    return kuv.build_graph([], str(tmp_path / "empty.bin"))


def test_build_graph_writes_file_and_returns_its_size(tmp_path, example_pages):
    out = tmp_path / "g.bin"
    written = kuv.build_graph(list(example_pages.values()), str(out))
    assert written == out.stat().st_size
    names = set(product_names(out))
    assert {"Ridgeline Trail Runner 3", "Hand-thrown Ceramic Pour-Over Dripper", "Washed Linen Camp Shirt",
            "Conical Burr Espresso Grinder"} <= names


def test_empty_batch_gives_empty_graph(tmp_path):
    out = tmp_path / "g.bin"
    assert kuv.build_graph([], str(out)) == out.stat().st_size
    assert node_count(out) == 0


def test_later_page_wins_for_the_same_product_id(tmp_path):
    pages = [jsonld_page("Old name", "https://s.example/p/1", sku="A1"),
             jsonld_page("New name", "https://s.example/p/1", sku="A1")]
    out = tmp_path / "g.bin"
    kuv.build_graph(pages, str(out))
    assert product_names(out) == ["New name"]


def test_input_order_is_node_order_for_large_batches(tmp_path):
    pages = [jsonld_page(f"Item {i}", f"https://s.example/p/{i}", sku=f"S{i}") for i in range(300)]
    out = tmp_path / "g.bin"
    kuv.build_graph(pages, str(out))
    assert product_names(out) == [f"Item {i}" for i in range(300)]


@pytest.mark.parametrize("relative", ["out/sub/g.bin", "out//sub/./g.bin", "a/../b/g.bin"])
def test_missing_parent_directories_are_created(tmp_path, relative):
    out = tmp_path / relative
    assert kuv.build_graph([], str(tmp_path) + "/" + relative) == os.path.getsize(out)


def test_bare_file_name_creates_no_directory(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    kuv.build_graph([], "g.bin")
    assert sorted(os.listdir(tmp_path)) == ["g.bin"]


def test_parent_that_is_a_file_raises_eexist(tmp_path):
    blocker = tmp_path / "file"
    blocker.write_text("x")
    with pytest.raises(ValueError) as info:
        kuv.build_graph([], str(blocker / "g.bin"))
    assert str(info.value) == f"{os.strerror(errno.EEXIST)} (os error {errno.EEXIST})"
    with pytest.raises(ValueError, match=r"^Not a directory \(os error 20\)$"):
        kuv.build_graph([], str(blocker / "deeper" / "g.bin"))


def test_nul_in_output_directory(tmp_path):
    with pytest.raises(ValueError, match="^file name contained an unexpected NUL byte$"):
        kuv.build_graph([], str(tmp_path / "a\0b" / "g.bin"))


def test_nul_in_output_file_name_fails_the_save(tmp_path):
    with pytest.raises(ValueError, match="^write tmp graph.bin$"):
        kuv.build_graph([], str(tmp_path / "g\0.bin"))


def test_save_failure_is_value_error(tmp_path):
    target = tmp_path / "dir.bin"
    target.mkdir()
    (target / "occupied").write_text("x")
    with pytest.raises(ValueError, match="^atomic rename graph.bin$"):
        kuv.build_graph([], str(target))


def test_from_dir_selects_by_extension_in_listing_order(tmp_path, capfd):
    html = tmp_path / "html"
    html.mkdir()
    names = ["a.html", "b.HTM", "c.htm", "d.txt", ".html", "..html", "x.html.bak", "y.", "html"]
    for i, name in enumerate(names):
        (html / name).write_text(jsonld_page(f"P {name}", f"https://s.example/{i}", sku=f"K{i}"))
    (html / "e.html").mkdir()
    listing = [n for n in os.listdir(html) if n in ("a.html", "c.htm", "..html", "e.html")]
    out = tmp_path / "g.bin"
    count, written = kuv.build_graph_from_dir(str(html), str(out))
    assert count == 4
    assert written == out.stat().st_size
    expected = [f"P {n}" for n in listing if n != "e.html"]
    assert product_names(out) == expected
    err = capfd.readouterr().err
    assert err == f'kuv: skip "{html}/e.html": {os.strerror(errno.ENODEV)} (os error {errno.ENODEV})\n'


def test_from_dir_skips_unreadable_files_with_a_warning(tmp_path, capfd):
    html = tmp_path / "html"
    html.mkdir()
    (html / "ok.html").write_text(jsonld_page("Readable", "https://s.example/ok"))
    os.symlink(tmp_path / "missing", html / "gone.html")
    count, _ = kuv.build_graph_from_dir(str(html) + "/", str(tmp_path / "g.bin"))
    assert count == 2
    assert product_names(tmp_path / "g.bin") == ["Readable"]
    assert capfd.readouterr().err == (
        f'kuv: skip "{html}/gone.html": {os.strerror(errno.ENOENT)} (os error {errno.ENOENT})\n'
    )


def test_from_dir_skips_named_pipes_without_hanging(tmp_path):
    html = tmp_path / "html"
    html.mkdir()
    os.mkfifo(html / "pipe.html")
    script = "import kuv, sys; print(kuv.build_graph_from_dir(sys.argv[1], sys.argv[2])[0])"
    result = subprocess.run([sys.executable, "-c", script, str(html), str(tmp_path / "g.bin")],
                            capture_output=True, text=True, timeout=60)
    assert result.stdout.strip() == "1"
    assert result.stderr == f'kuv: skip "{html}/pipe.html": {os.strerror(errno.ENODEV)} (os error {errno.ENODEV})\n'


def test_from_dir_reads_empty_and_invalid_utf8_files(tmp_path, capfd):
    html = tmp_path / "html"
    html.mkdir()
    (html / "empty.html").write_bytes(b"")
    page = jsonld_page("Caf\u00e9 \xff", "https://s.example/c").encode("utf-8").replace(b"\xc3\xbf", b"\xff")
    (html / "bad.html").write_bytes(page)
    count, _ = kuv.build_graph_from_dir(str(html), str(tmp_path / "g.bin"))
    assert count == 2
    assert product_names(tmp_path / "g.bin") == ["Caf\u00e9 \ufffd"]
    assert capfd.readouterr().err == ""


def test_from_dir_examples(tmp_path):
    count, written = kuv.build_graph_from_dir(str(EXAMPLES), str(tmp_path / "out" / "g.bin"))
    assert count == len(list(EXAMPLES.glob("*.html")))
    assert written == (tmp_path / "out" / "g.bin").stat().st_size


def test_from_dir_without_matches_still_writes(tmp_path):
    (tmp_path / "html").mkdir()
    out = tmp_path / "g.bin"
    assert kuv.build_graph_from_dir(str(tmp_path / "html"), str(out)) == (0, empty_graph_size(tmp_path))
    assert out.exists()


@pytest.mark.parametrize(
    "make_dir, code",
    [(lambda tmp: str(tmp / "missing"), errno.ENOENT), (lambda tmp: str(tmp / "file.txt"), errno.ENOTDIR)],
)
def test_from_dir_listing_errors(tmp_path, make_dir, code):
    (tmp_path / "file.txt").write_text("x")
    out = tmp_path / "g.bin"
    with pytest.raises(ValueError) as info:
        kuv.build_graph_from_dir(make_dir(tmp_path), str(out))
    assert str(info.value) == f"{os.strerror(code)} (os error {code})"
    assert not out.exists()


def test_from_dir_nul_in_path(tmp_path):
    with pytest.raises(ValueError, match="^file name contained an unexpected NUL byte$"):
        kuv.build_graph_from_dir(str(tmp_path) + "\0x", str(tmp_path / "g.bin"))


def test_merge_without_existing_graph_is_a_fresh_build(tmp_path):
    pages = [jsonld_page("Kept", "https://s.example/k", sku="K"), jsonld_page("Gone", "https://s.example/g", sku="G")]
    (tmp_path / "dir").mkdir()
    for existing in ["", str(tmp_path / "missing.bin"), str(tmp_path / "dir"), str(tmp_path) + "\0x"]:
        out = tmp_path / "merged.bin"
        written = kuv.merge_graph(existing, pages, ["https://s.example/g"], str(out))
        assert written == out.stat().st_size
        assert product_names(out) == ["Kept"]


def test_merge_updates_in_place_and_removes(tmp_path):
    graph = tmp_path / "g.bin"
    kuv.build_graph([jsonld_page("A", "https://s.example/a", sku="A"), jsonld_page("B", "https://s.example/b", sku="B"),
                     jsonld_page("C", "https://s.example/c", sku="C")], str(graph))
    kuv.merge_graph(str(graph), [jsonld_page("B2", "https://s.example/b", sku="B"),
                                 jsonld_page("D", "https://s.example/d", sku="D")],
                    ["https://s.example/a", "https://s.example/unknown"], str(graph))
    assert product_names(graph) == ["B2", "C", "D"]


def test_merge_same_file_without_changes_is_stable(tmp_path, example_pages):
    graph = tmp_path / "g.bin"
    kuv.build_graph(list(example_pages.values()), str(graph))
    query = "MATCH (a)-[]->(b) RETURN a.name AS a, b.name AS b"
    before = kuv.query(str(graph), query)
    nodes_before = kuv.query(str(graph), "MATCH (n) RETURN n")
    written = kuv.merge_graph(str(graph), [], [], str(graph))
    assert written == graph.stat().st_size
    assert kuv.query(str(graph), "MATCH (n) RETURN n") == nodes_before
    assert kuv.query(str(graph), query) == before


def test_merge_url_given_twice_removes_one_node(tmp_path):
    out = tmp_path / "g.bin"
    pages = [jsonld_page("One", "https://s.example/same", sku="1"), jsonld_page("Two", "https://s.example/same", sku="2")]
    kuv.merge_graph("", pages, ["https://s.example/same", "https://s.example/same"], str(out))
    assert product_names(out) == ["Two"]


def test_merge_rejects_empty_or_corrupt_graph_files(tmp_path):
    existing = tmp_path / "empty.bin"
    existing.write_bytes(b"")
    out = tmp_path / "out.bin"
    with pytest.raises(ValueError, match=r"^rkyv access \(corrupt graph\.bin\?\)$"):
        kuv.merge_graph(str(existing), [], [], str(out))
    assert not out.exists()


def test_merge_unreadable_existing_file(tmp_path):
    if os.geteuid() == 0:
        pytest.skip("root reads every file")
    existing = tmp_path / "locked.bin"
    kuv.build_graph([], str(existing))
    existing.chmod(0)
    with pytest.raises(ValueError, match=f'^open "{existing}"$'):
        kuv.merge_graph(str(existing), [], [], str(tmp_path / "out.bin"))


def test_corrupt_string_pool_raises_panic_exception_and_module_stays_usable(tmp_path):
    graph = tmp_path / "g.bin"
    kuv.build_graph([jsonld_page("ZZZZ", "https://s.example/z", sku="Q")], str(graph))
    data = graph.read_bytes()
    assert data.count(b"ZZZZ") >= 1
    graph.write_bytes(data.replace(b"ZZZZ", b"Z\xffZZ"))
    panic = None
    try:
        kuv.merge_graph(str(graph), [], [], str(tmp_path / "out.bin"))
    except Exception:  # noqa: BLE001 - a fatal error must not be an Exception
        pytest.fail("fatal error caught as Exception")
    except BaseException as error:  # noqa: BLE001
        panic = error
    assert type(panic).__name__ == "PanicException"
    assert type(panic).__module__ == "pyo3_runtime"
    assert type(panic).__bases__ == (BaseException,)
    assert str(panic).startswith("string_pool utf8")
    assert kuv.build_graph([], str(tmp_path / "after.bin")) > 0
