# The benchmark script runs every workload once at a tiny size, so it does not rot; its
# recordings feed the chart, and a peer library that is missing only loses its cases.
import importlib.util
import json
import pathlib
import subprocess
import sys

import pytest

BENCH = pathlib.Path(__file__).parents[2] / "benchmarks" / "python" / "bench.py"


def load_bench():
    spec = importlib.util.spec_from_file_location("quil_bench", BENCH)
    bench = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(bench)
    return bench


@pytest.fixture(scope="module")
def recorded(tmp_path_factory):
    """One tiny run of every group, recorded with --json: (record, its file, output)."""
    path = tmp_path_factory.mktemp("bench") / "run.json"
    bench = load_bench()
    bench.main(["--sizes", "10,20", "--repeat", "1", "--json", str(path)])
    return json.loads(path.read_text(encoding="utf-8")), path


def test_every_group_runs_and_is_recorded_with_quil_first(recorded):
    record, _ = recorded
    bench = load_bench()
    assert [(r["group"], r["n"]) for r in record["results"]] == [
        (entry[0], n) for entry in bench.GROUPS for n in (10, 20)
    ]
    for result in record["results"]:
        assert result["cases"][0]["label"].startswith(("quil", "hash(HashTrie", "list(HashTrie"))
        assert all(case["value"] > 0 for case in result["cases"])


def test_chart_rows_take_the_largest_size_and_sort_cases_into_series(recorded):
    record, _ = recorded
    n, rows = load_bench().chart_rows(record)
    assert n == 20
    timed = [r["group"] for r in record["results"] if r["unit"] == "ns/op" and r["n"] == 20]
    assert [group for group, _, _ in rows] == timed
    by_group = {group: (values, builtin) for group, values, builtin in rows}
    peers = {"pyrsistent"} | ({"immutables"} if importlib.util.find_spec("immutables") else set())
    values, builtin = by_group["map: m[k] hit"]
    assert set(values) == {"quil", "built-in"} | peers and builtin == "dict"
    values, builtin = by_group["map: insert chain"]
    assert set(values) == {"quil"} | peers and builtin is None


@pytest.mark.parametrize(
    "label, first, series",
    [
        ("hash(HashTrieMap)", True, "quil"),
        ("pyrsistent.pmap items()", False, "pyrsistent"),
        ("immutables.Map.set", False, "immutables"),
        ("hash(frozenset(d.items()))", False, "built-in"),
        ("tuple copy-then-prepend", False, "built-in"),
        ("quil.HashTrieMap, same keys", False, None),
        ("list(HashTrieSet)", False, None),
    ],
)
def test_series_of_a_case_label(label, first, series):
    assert load_bench().series_of(label, first) == series


def test_a_missing_peer_loses_only_its_cases(monkeypatch, capsys):
    monkeypatch.setitem(sys.modules, "pyrsistent", None)  # makes `import pyrsistent` fail
    bench = load_bench()
    bench.main(["--sizes", "10", "--repeat", "1", "--only", "map: m[k] hit"])
    out = capsys.readouterr().out
    assert "pyrsistent is not installed: its cases are skipped" in out
    assert "quil.HashTrieMap" in out and "dict" in out and "pyrsistent.pmap" not in out


def test_drawing_a_recorded_run_imports_neither_quil_nor_a_peer(recorded, tmp_path):
    _, path = recorded
    png = tmp_path / "chart.png"
    # None in sys.modules makes an import fail, whether or not the module is installed.
    script = (
        "import runpy, sys\n"
        "sys.modules.update(quil=None, pyrsistent=None, immutables=None)\n"
        "sys.argv = sys.argv[1:]\n"
        "runpy.run_path(sys.argv[0], run_name='__main__')\n"
    )
    run = subprocess.run(
        [sys.executable, "-c", script, str(BENCH), "--plot", str(png), "--from", str(path)],
        capture_output=True, text=True,
    )
    if importlib.util.find_spec("matplotlib") is None:
        assert run.returncode != 0 and "--plot needs matplotlib" in run.stderr
        assert not png.exists()
    else:
        assert run.returncode == 0, run.stderr
        assert png.read_bytes().startswith(b"\x89PNG")
