"""Pages built to hurt the extraction: odd characters, parser corner cases, numbers and sizes at the limits."""
import json
import subprocess
import sys
import textwrap

import pytest

import kuv

REPLACEMENT = "\ufffd"


def microdata_page(name_html):
    return f'<div itemscope itemtype="https://schema.org/Product"><span itemprop="name">{name_html}</span></div>'


def built_rows(tmp_path, pages, query="MATCH (p:Product) RETURN p.name AS name, p.price AS price"):
    out = tmp_path / "g.bin"
    kuv.build_graph(pages, str(out))
    return kuv.query(str(out), query)


def run_child(script, *args, timeout=120):
    """Runs `script` in a fresh interpreter, so that a crash, a signal or a hang fails one test only."""
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(script), *map(str, args)],
                            capture_output=True, text=True, timeout=timeout)
    assert result.returncode == 0, result.stderr
    return result.stdout


@pytest.mark.parametrize("name_html, name", [
    # U+0000 in body text is dropped, in attribute values, raw text and RCDATA it reads as U+FFFD.
    ("\0\0ab\0c", "abc"),
    ("\0\0\u00e9\0i", "\u00e9i"),
    ("a\0\0&amp;\0\0b&#x41;\0", "a&bA"),
    ('<meta itemprop="name" content="x\0\0y">', "x" + REPLACEMENT * 2 + "y"),
    ("a<style>b\0\0c</style><textarea>d\0e</textarea>", "ab" + REPLACEMENT * 2 + "cd" + REPLACEMENT + "e"),
    # Raw-text elements keep character references as written, also after an end tag that does not close them.
    ("A<noscript>x&amp;</div></noscript>", "Ax&amp;</div>"),
    ("A<iframe>x&amp;</div>y&lt;</iframe>", "Ax&amp;</div>y&lt;"),
    ("A<style>x&amp;</p></style><xmp>&gt;</b></xmp>", "Ax&amp;</p>&gt;</b>"),
    ("A<noembed>&amp;</i></noembed><noframes>&amp;</i></noframes>", "A&amp;</i>&amp;</i>"),
    ("A<textarea>x&amp;</div></textarea><title>&lt;</b></title>", "Ax&</div><</b>"),
    # Text appended to a node whose first newline the parser cropped.
    ("<pre>\nfoo</b>bar</pre>", "foobar"),
])
def test_page_text_reaches_the_graph_as_the_html_rules_read_it(tmp_path, name_html, name):
    assert built_rows(tmp_path, [microdata_page(name_html)]) == [{"name": name, "price": None}]


def test_a_graph_written_from_nul_laden_pages_merges_and_queries(tmp_path):
    built = tmp_path / "built.bin"
    kuv.build_graph([microdata_page("\0\0\u00e9\0i"), microdata_page("\0\0ab\0c")], str(built))
    merged = tmp_path / "merged.bin"
    kuv.merge_graph(str(built), [microdata_page("\0new\0\0")], [], str(merged))
    rows = kuv.query(str(merged), "MATCH (p:Product) RETURN p.name AS name")
    assert [row["name"] for row in rows] == ["\u00e9i", "abc", "new"]


def test_fuzz_reproducer_pages_build_in_a_child_process(tmp_path):
    pages = tmp_path / "pages"
    pages.mkdir()
    (pages / "raw.html").write_bytes(b"\n          ></e>)\n \xff\xff>")
    (pages / "replaced.html").write_bytes("\n          ></e>)\n \ufffd\ufffd>".encode())
    (pages / "product.html").write_bytes(
        b'\n   <span itemprop="name">\n          ></e>)\n \xff\xff></span>')
    script = """
        import sys, kuv
        count, _ = kuv.build_graph_from_dir(sys.argv[1], sys.argv[2])
        print(count, [row["n"] for row in kuv.query(sys.argv[2], "MATCH (p:Product) RETURN p.name AS n")])
    """
    output = run_child(script, pages, tmp_path / "g.bin")
    assert output.strip() == "3 ['>)\\n \ufffd\ufffd>']"


def jsonld_price_page(price_text):
    return ('<script type="application/ld+json">{"@type": "Product", "name": "P", "sku": "S",'
            f' "offers": {{"price": {price_text}}}}}</script>')


@pytest.mark.parametrize("price_text, same_as", [
    # Too small reads as zero; too large fails like any float out of range, dropping the block.
    ("0.001e-9223372036854775807", "0.0"),
    ("-1e-9223372036854775808", "-0.0"),
    ("1e9223372036854775807", "1e400"),
    ("0.001e+9223372036854775807", "1e400"),
    ("1000e9223372036854775806", "1e400"),
])
def test_prices_with_huge_exponents_read_like_their_plain_equivalents(tmp_path, price_text, same_as):
    query = "MATCH (p:Product)-[:Offers]->(o:Offer) RETURN p.name AS name, o.name AS offer, p.price AS price"
    rows = built_rows(tmp_path, [jsonld_price_page(price_text)], query)
    assert rows == built_rows(tmp_path, [jsonld_price_page(same_as)], query)
    assert len(rows) == (0 if same_as == "1e400" else 1)


SCOPE = '<span itemscope itemtype="https://schema.org/Product">'


@pytest.mark.parametrize("depth", [3, 200_000])
def test_nested_product_scopes_each_give_their_record_in_linear_time(tmp_path, depth):
    script = """
        import sys, kuv
        depth = int(sys.argv[1])
        scope = sys.argv[3]
        page = "".join(scope + f'<span itemprop="name">N{i}</span><span itemprop="price">{i}</span>' for i in range(depth))
        kuv.build_graph([page], sys.argv[2])
        rows = kuv.query(sys.argv[2], "MATCH (p:Product) RETURN p.name AS name, p.price AS price")
        assert [(row["name"], row["price"]) for row in rows] == [(f"N{i}", str(i)) for i in range(depth)], rows[:5]
        print(len(rows))
    """
    # Linear work takes seconds; the quadratic lookups this guards against took hours at this depth.
    assert run_child(script, depth, tmp_path / "g.bin", SCOPE, timeout=300).strip() == str(depth)


def test_memory_of_a_huge_page_is_given_back_after_the_call(tmp_path):
    script = """
        import os, sys, kuv
        def rss_mb():
            with open("/proc/self/statm") as f:
                return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20
        out = sys.argv[1]
        kuv.build_graph(["<p>warm up every worker</p>"] * 64, out)
        page = '<b class="x">ab</b>' * 300_000 + '<span itemprop="name">last</span>'
        before = rss_mb()
        kuv.build_graph([page] * 4, out)
        print(round(rss_mb() - before))
    """
    if not sys.platform.startswith("linux"):
        pytest.skip("reads the resident set size from /proc")
    # Each of these pages grows a parse tree of about 200 MB; kept per worker, they added 800 MB.
    assert int(run_child(script, tmp_path / "g.bin")) < 150
