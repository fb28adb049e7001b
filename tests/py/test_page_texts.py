"""Pages of every kind of str reach the graph as their UTF-8 text, and a page without one is refused."""
import os

import pytest

import kuv
from conftest import jsonld_page

# Characters that make a str latin-1, UCS-2 or UCS-4 inside, and surrogates, which have no UTF-8.
KINDS = {"ascii": "plain", "latin-1": "caf\u00e9 \u00ff", "ucs-2": "\u20ac \u0416 \u4e2d", "ucs-4": "\U0001f600 \U00010348"}
SURROGATES = ["\ud800", "\udbff", "\udc00", "\udfff"]


class StrSubclass(str):
    pass


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


@pytest.mark.parametrize("kind", KINDS)
def test_every_kind_of_str_gives_the_bytes_of_its_utf8_file(tmp_path, kind):
    pages = pages_of(kind)
    html = tmp_path / "html"
    html.mkdir()
    for i, page in enumerate(pages):
        (html / f"{i:04}.html").write_bytes(page.encode("utf-8"))
    order = {f"{i:04}.html": page for i, page in enumerate(pages)}
    in_listing_order = [order[name] for name in os.listdir(html)]
    kuv.build_graph_from_dir(str(html), str(tmp_path / "dir.bin"))
    kuv.build_graph(in_listing_order, str(tmp_path / "mem.bin"))
    kuv.merge_graph("", tuple(in_listing_order), [], str(tmp_path / "merge.bin"))
    expected = (tmp_path / "dir.bin").read_bytes()
    assert (tmp_path / "mem.bin").read_bytes() == expected
    assert (tmp_path / "merge.bin").read_bytes() == expected


def lone_surrogate_cases():
    for kind in KINDS:
        for surrogate in SURROGATES:
            for where in ("start", "middle", "end"):
                for item in (0, 1, 299):
                    yield kind, surrogate, where, item


@pytest.mark.parametrize("kind, surrogate, where, item", list(lone_surrogate_cases()))
def test_a_lone_surrogate_raises_the_encoders_error_at_its_page_and_writes_nothing(tmp_path, kind, surrogate, where, item):
    pages = [jsonld_page(f"{KINDS[kind]} {i}", f"https://s.example/{i}") + "x" * (i * 37) for i in range(300)]
    page = pages[item]
    cut = {"start": 0, "middle": len(page) // 2, "end": len(page)}[where]
    pages[item] = page[:cut] + surrogate + page[cut:]
    with pytest.raises(UnicodeEncodeError) as expected:
        pages[item].encode("utf-8")
    for call in (lambda seq, out: kuv.build_graph(seq, out), lambda seq, out: kuv.merge_graph("", seq, [], out)):
        given = RecordingPages(pages + [b"not a str"])  # reached only if conversion went past the bad page
        out = tmp_path / "g.bin"
        with pytest.raises(UnicodeEncodeError) as raised:
            call(given, str(out))
        assert type(raised.value) is UnicodeEncodeError
        assert raised.value.args == expected.value.args
        assert max(given.asked) == item
        assert not out.exists()


@pytest.mark.parametrize("kind", KINDS)
def test_a_failed_call_leaves_the_module_ready(tmp_path, kind):
    pages = [jsonld_page(f"{KINDS[kind]} {i}", f"https://s.example/{i}", sku=f"S{i}") for i in range(50)]
    with pytest.raises(UnicodeEncodeError):
        kuv.build_graph(pages[:25] + ["\udc80"] + pages[25:], str(tmp_path / "bad.bin"))
    kuv.build_graph(pages, str(tmp_path / "g.bin"))
    names = [r["n"] for r in kuv.query(str(tmp_path / "g.bin"), "MATCH (p:Product) RETURN p.name AS n")]
    assert names == [f"{KINDS[kind]} {i}" for i in range(50)]
