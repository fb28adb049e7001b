#!/usr/bin/env bash
# Sets everything up, builds a graph from the example pages in examples/ and prints what a query
# over it returns.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

out_dir=$(mktemp -d)
trap 'rm -rf "$out_dir"' EXIT
cd "$out_dir"  # so that `import kuv` finds the installed module, not the source tree
python3 - "$OLDPWD/examples" "$out_dir/graph/examples.bin" <<'PY'
import sys

import kuv

html_dir, graph_path = sys.argv[1], sys.argv[2]
pages, size = kuv.build_graph_from_dir(html_dir, graph_path)
print(f"kuv {kuv.__version__}: {pages} pages -> {graph_path} ({size} bytes)")
rows = kuv.query(
    graph_path,
    "MATCH (p:Product) RETURN p.name AS product, p.price AS price, p.currency AS currency ORDER BY product",
)
for row in rows:
    print(f"  {row['product']:<40} {str(row['price']):>8} {row['currency'] or ''}")
variants = kuv.query(graph_path, "MATCH (p:Product)-[:Offers|HasVariant]->(o) RETURN count(*) AS n")
brands = kuv.query(graph_path, "MATCH (p:Product)-[:Brand]->(b:Brand) RETURN b.name AS brand ORDER BY brand")
print(f"offers and variants: {variants[0]['n']}; brands: {', '.join(r['brand'] for r in brands)}")
PY
