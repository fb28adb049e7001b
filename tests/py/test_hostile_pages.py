"""Pages built to hurt the extraction, through the module: odd characters, and memory after huge pages."""
import sys

import pytest

import kuv
from conftest import product_names, run_child


def microdata_page(name_html):
    return f'<div itemscope itemtype="https://schema.org/Product"><span itemprop="name">{name_html}</span></div>'


def test_nuls_and_raw_text_reach_the_graph_as_the_html_rules_read_them_and_merge(tmp_path):
    # U+0000 in body text is dropped, in attribute values it reads as U+FFFD; raw text keeps its
    # character references as written, also past an end tag that does not close it.
    built, merged = tmp_path / "built.bin", tmp_path / "merged.bin"
    pages = ["\0\0\u00e9\0i", "A<noscript>x&amp;</div></noscript>", '<meta itemprop="name" content="x\0\0y">']
    kuv.build_graph([microdata_page(page) for page in pages], str(built))
    kuv.merge_graph(str(built), [microdata_page("\0new\0\0")], [], str(merged))
    assert product_names(merged) == ["\u00e9i", "Ax&amp;</div>", "x\ufffd\ufffdy", "new"]


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads the resident set size from /proc")
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
    # Each of these pages grows a parse tree of about 200 MB; kept per worker, they added 800 MB.
    assert int(run_child(script, tmp_path / "g.bin").stdout) < 150
