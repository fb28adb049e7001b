"""Pages of every kind of str, and page files, reach the graph as their UTF-8 text; a page
without one is refused."""
import os
import sys

import pytest

import kuv
from conftest import EXAMPLES, SAMPLES, StrSubclass, jsonld_page, product_names

# Characters that make a str latin-1, UCS-2 or UCS-4 inside, and surrogates, which have no UTF-8.
KINDS = {"ascii": "plain", "latin-1": "caf\u00e9 \u00ff", "ucs-2": "\u20ac \u0416 \u4e2d", "ucs-4": "\U0001f600 \U00010348"}
SURROGATES = ["\ud800", "\udbff", "\udc00", "\udfff"]


class RecordingPages:
    """A sequence that notes which items were asked for."""

    def __init__(self, pages):
        self.pages, self.asked = pages, []

    def __len__(self):
        return len(self.pages)

    def __getitem__(self, index):
        self.asked.append(index)
        return self.pages[index]


def pages_of(kind):
    """Many small pages (several groups' worth), large ones, empty ones and ASCII ones in between,
    the kind's characters in names, brand, prices' neighbourhood and filler."""
    chars = KINDS[kind]
    pages = []
    for i in range(700):
        name = f"{chars} {i}" if i % 3 else f"P{i}"
        page = jsonld_page(name, f"https://s.example/{chars}/{i}", price=f"{i}.99", sku=f"{chars}-{i % 650}")
        if i % 97 == 5:
            page += f"<p>{chars * 30_000}</p>"  # larger than a group on its own
        pages.append(StrSubclass(page) if i % 11 == 0 else page)
    pages[10] = ""
    return pages


def listed_pages(source, html):
    """The pages of `source` in the listing order of the folder that holds them as files."""
    if source in KINDS:
        html.mkdir()
        by_name = {f"{i:04}.html": page for i, page in enumerate(pages_of(source))}
        for name, page in by_name.items():
            (html / name).write_bytes(page.encode("utf-8"))
        return html, [by_name[name] for name in os.listdir(html)]
    html = EXAMPLES if source == "examples" else SAMPLES
    if html is None:
        pytest.skip("the sample pages are absent")
    names = [n for n in os.listdir(html) if n.endswith((".html", ".htm"))]
    return html, [(html / n).read_bytes().decode("utf-8", "replace") for n in names]


@pytest.mark.parametrize("source", ["examples", "samples", *KINDS])
def test_the_parallel_and_the_file_pipelines_write_the_same_bytes(tmp_path, source):
    html, pages = listed_pages(source, tmp_path / "html")
    sizes = [sys.getsizeof(page) for page in pages]
    kuv.build_graph_from_dir(str(html), str(tmp_path / "dir.bin"))
    kuv.build_graph(pages, str(tmp_path / "mem.bin"))
    kuv.merge_graph("", tuple(pages), [], str(tmp_path / "merge.bin"))
    expected = (tmp_path / "dir.bin").read_bytes()
    assert (tmp_path / "mem.bin").read_bytes() == expected
    assert (tmp_path / "merge.bin").read_bytes() == expected
    # No UTF-8 copy of a page stays attached to the caller's str once the call is over.
    assert [sys.getsizeof(page) for page in pages] == sizes


def lone_surrogate_cases():
    for kind in KINDS:
        for surrogate in SURROGATES:
            for where in ("start", "middle", "end"):
                for item in (0, 1, 299):
                    yield kind, surrogate, where, item


@pytest.mark.parametrize("kind, surrogate, where, item", list(lone_surrogate_cases()))
def test_a_lone_surrogate_raises_the_encoders_error_at_its_page_and_the_module_stays_ready(
        tmp_path, kind, surrogate, where, item):
    names = [f"{KINDS[kind]} {i}" for i in range(300)]
    pages = [jsonld_page(name, f"https://s.example/{i}") + "x" * (i * 37) for i, name in enumerate(names)]
    cut = {"start": 0, "middle": len(pages[item]) // 2, "end": len(pages[item])}[where]
    bad = pages[:item] + [pages[item][:cut] + surrogate + pages[item][cut:]] + pages[item + 1:]
    with pytest.raises(UnicodeEncodeError) as expected:
        bad[item].encode("utf-8")
    out = tmp_path / "g.bin"
    for call in (lambda seq: kuv.build_graph(seq, str(out)), lambda seq: kuv.merge_graph("", seq, [], str(out))):
        given = RecordingPages(bad + [b"not a str"])  # reached only if conversion went past the bad page
        with pytest.raises(UnicodeEncodeError) as raised:
            call(given)
        assert type(raised.value) is UnicodeEncodeError
        assert raised.value.args == expected.value.args
        assert max(given.asked) == item
        assert not out.exists()
    kuv.build_graph(pages, str(out))
    assert product_names(out) == names
