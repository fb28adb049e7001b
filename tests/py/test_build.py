"""build_graph, build_graph_from_dir and merge_graph as a caller sees them."""
import errno
import os
import time

import pytest

import kuv
from conftest import jsonld_page, numbered_pages, product_names, run_child


def os_error(code):
    return f"{os.strerror(code)} (os error {code})"


def test_build_returns_the_size_written_and_an_empty_merge_keeps_the_graph(tmp_path, example_pages):
    graph = str(tmp_path / "g.bin")
    assert kuv.build_graph(example_pages, graph) == os.path.getsize(graph)
    assert {"Ridgeline Trail Runner 3", "Hand-thrown Ceramic Pour-Over Dripper", "Washed Linen Camp Shirt",
            "Conical Burr Espresso Grinder"} <= set(product_names(graph))
    queries = ["MATCH (n) RETURN n", "MATCH (a)-[]->(b) RETURN a.name AS a, b.name AS b"]
    before = [kuv.query(graph, q) for q in queries]
    assert kuv.merge_graph(graph, [], [], graph) == os.path.getsize(graph)
    assert [kuv.query(graph, q) for q in queries] == before


def test_empty_input_writes_an_empty_graph_and_a_bare_file_name_creates_no_directory(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "html").mkdir()
    size = kuv.build_graph([], "a.bin")
    assert size == os.path.getsize("a.bin")
    assert kuv.query("a.bin", "MATCH (n) RETURN n") == []
    assert kuv.build_graph_from_dir("html", "b.bin") == (0, size)
    assert sorted(os.listdir(tmp_path)) == ["a.bin", "b.bin", "html"]


@pytest.mark.parametrize("relative", ["out/sub/g.bin", "out//sub/./g.bin", "a/../b/g.bin"])
def test_missing_parent_directories_are_created(tmp_path, relative):
    assert kuv.build_graph([], f"{tmp_path}/{relative}") == os.path.getsize(tmp_path / relative)


@pytest.mark.parametrize("call, message", [
    (lambda d: kuv.build_graph([], f"{d}/file/g.bin"), os_error(errno.EEXIST)),
    (lambda d: kuv.build_graph([], f"{d}/file/deeper/g.bin"), os_error(errno.ENOTDIR)),
    (lambda d: kuv.build_graph([], f"{d}/a\0b/g.bin"), "file name contained an unexpected NUL byte"),
    (lambda d: kuv.build_graph([], f"{d}/g\0.bin"), "write tmp graph.bin"),
    (lambda d: kuv.build_graph([], f"{d}/dir.bin"), "atomic rename graph.bin"),
    (lambda d: kuv.build_graph_from_dir(f"{d}/missing", f"{d}/g.bin"), os_error(errno.ENOENT)),
    (lambda d: kuv.build_graph_from_dir(f"{d}/file", f"{d}/g.bin"), os_error(errno.ENOTDIR)),
    (lambda d: kuv.build_graph_from_dir(f"{d}/\0x", f"{d}/g.bin"), "file name contained an unexpected NUL byte"),
])
def test_path_errors(tmp_path, call, message):
    (tmp_path / "file").write_text("x")
    (tmp_path / "dir.bin").mkdir()
    (tmp_path / "dir.bin" / "occupied").write_text("x")
    with pytest.raises(ValueError) as info:
        call(tmp_path)
    assert str(info.value) == message
    assert not (tmp_path / "g.bin").exists()


def test_from_dir_reads_html_files_in_listing_order_and_skips_unreadable_ones(tmp_path, capfd):
    html = tmp_path / "html"
    html.mkdir()
    for i, name in enumerate(["a.html", "b.HTM", "c.htm", "d.txt", ".html", "..html", "x.html.bak", "y.", "html"]):
        (html / name).write_text(jsonld_page(f"P {name}", f"https://s.example/{i}", sku=f"K{i}"))
    (html / "empty.html").write_bytes(b"")
    bad_utf8 = jsonld_page("Caf\u00e9 \xff", "https://s.example/c").encode().replace(b"\xc3\xbf", b"\xff")
    (html / "bad.htm").write_bytes(bad_utf8)
    (html / "e.html").mkdir()
    os.symlink(tmp_path / "missing", html / "gone.html")
    skipped = {"e.html": errno.ENODEV, "gone.html": errno.ENOENT}
    listing = [n for n in os.listdir(html) if n in {"a.html", "c.htm", "..html", "empty.html", "bad.htm", *skipped}]
    assert kuv.build_graph_from_dir(str(html) + "/", str(tmp_path / "g.bin"))[0] == len(listing)
    products = [n for n in listing if n not in skipped and n != "empty.html"]
    assert product_names(tmp_path / "g.bin") == ["Caf\u00e9 \ufffd" if n == "bad.htm" else f"P {n}" for n in products]
    warnings = [f'kuv: skip "{html}/{n}": {os_error(skipped[n])}\n' for n in listing if n in skipped]
    assert capfd.readouterr().err == "".join(warnings)


def test_from_dir_skips_named_pipes_without_hanging(tmp_path):
    os.mkfifo(tmp_path / "pipe.html")
    script = "import kuv, sys; print(kuv.build_graph_from_dir(sys.argv[1], sys.argv[2])[0])"
    result = run_child(script, tmp_path, tmp_path / "g.bin", timeout=60)
    assert result.stdout.strip() == "1"
    assert result.stderr == f'kuv: skip "{tmp_path}/pipe.html": {os_error(errno.ENODEV)}\n'


@pytest.mark.parametrize("plant", [
    lambda tmp, victim: os.mkfifo(tmp),
    lambda tmp, victim: os.symlink(victim, tmp),
    lambda tmp, victim: os.link(victim, tmp),
    lambda tmp, victim: tmp.write_text("stale"),
])
def test_whatever_sits_at_the_temporary_path_is_replaced_not_opened(tmp_path, plant):
    victim, out = tmp_path / "victim", tmp_path / "g.bin"
    victim.write_text("not yours")
    plant(tmp_path / "g.bin.tmp", victim)
    script = "import kuv, sys; print(kuv.build_graph([], sys.argv[1]))"
    assert run_child(script, out, timeout=60).stdout.strip() == str(out.stat().st_size)
    assert out.is_file() and not out.is_symlink() and kuv.query(str(out), "MATCH (n) RETURN n") == []
    assert victim.read_text() == "not yours"
    assert sorted(os.listdir(tmp_path)) == ["g.bin", "victim"]


@pytest.mark.parametrize("existing", ["", "missing.bin", "dir", "\0x"])
def test_merge_without_existing_graph_is_a_fresh_build(tmp_path, existing):
    (tmp_path / "dir").mkdir()
    pages = [jsonld_page("Kept", "https://s.example/k", sku="K"), jsonld_page("Gone", "https://s.example/g", sku="G")]
    out = tmp_path / "merged.bin"
    written = kuv.merge_graph(existing and f"{tmp_path}/{existing}", pages, ["https://s.example/g"], str(out))
    assert written == out.stat().st_size
    assert product_names(out) == ["Kept"]


def test_merge_updates_in_place_and_removes(tmp_path):
    graph = str(tmp_path / "g.bin")
    kuv.build_graph(numbered_pages(3), graph)
    updates = [jsonld_page("B2", "https://s.example/1", sku="S1"), jsonld_page("D", "https://s.example/d", sku="D")]
    kuv.merge_graph(graph, updates, ["https://s.example/0", "https://s.example/unknown"], graph)
    assert product_names(graph) == ["B2", "P2", "D"]
    same_url = [jsonld_page(name, "https://s.example/same", sku=name) for name in ("One", "Two")]
    kuv.merge_graph("", same_url, ["https://s.example/same"] * 2, graph)
    assert product_names(graph) == ["Two"]


def test_merge_removes_a_long_url_list_in_one_pass(tmp_path):
    graph = str(tmp_path / "g.bin")
    kuv.build_graph(numbered_pages(5000), graph)
    urls = [f"https://s.example/{i}" for i in range(0, 5000, 2)] + [f"https://elsewhere/{i}" for i in range(20000)]
    start = time.monotonic()
    kuv.merge_graph(graph, [], urls, graph)
    assert time.monotonic() - start < 20  # a scan of every node per URL takes minutes here
    assert product_names(graph) == [f"P{i}" for i in range(1, 5000, 2)]


def test_merge_rejects_corrupt_or_unreadable_graph_files(tmp_path):
    existing, out = tmp_path / "existing.bin", str(tmp_path / "out.bin")
    existing.write_bytes(b"")
    with pytest.raises(ValueError, match=r"^rkyv access \(corrupt graph\.bin\?\)$"):
        kuv.merge_graph(str(existing), [], [], out)
    assert not os.path.exists(out)
    if os.geteuid() != 0:  # root reads every file
        existing.chmod(0)
        with pytest.raises(ValueError, match=f'^open "{existing}"$'):
            kuv.merge_graph(str(existing), [], [], out)


def test_corrupt_string_pool_raises_panic_exception_and_module_stays_usable(tmp_path):
    graph = tmp_path / "g.bin"
    kuv.build_graph([jsonld_page("ZZZZ", "https://s.example/z", sku="Q")], str(graph))
    graph.write_bytes(graph.read_bytes().replace(b"ZZZZ", b"Z\xffZZ"))
    with pytest.raises(BaseException) as info:
        kuv.merge_graph(str(graph), [], [], str(tmp_path / "out.bin"))
    kind = type(info.value)  # a fatal error is no Exception, so `except Exception` cannot swallow it
    assert (kind.__name__, kind.__module__, kind.__bases__) == ("PanicException", "pyo3_runtime", (BaseException,))
    assert str(info.value).startswith("string_pool utf8")
    assert kuv.build_graph([], str(tmp_path / "after.bin")) > 0
