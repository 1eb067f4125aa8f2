# The benchmark script runs every workload once at a tiny size, so it does not rot.
import importlib.util
import pathlib

BENCH = pathlib.Path(__file__).parents[2] / "benchmarks" / "python" / "bench.py"


def test_every_benchmark_group_runs(capsys):
    spec = importlib.util.spec_from_file_location("quil_bench", BENCH)
    bench = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(bench)
    bench.main(["--sizes", "10", "--repeat", "1"])
    assert "quil" in capsys.readouterr().out
