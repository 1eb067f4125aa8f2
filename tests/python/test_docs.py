# The interpreter sessions in docs/*.md run as shown, so the user guide stays true.
#
# Each file's ```pycon blocks run in order in one namespace, as doctests. A block marked
# `<!-- example waits for: NAME -->` describes a feature the extension does not have yet:
# it runs once FEATURES[NAME] finds the feature, and is left out until then.
import copy
import doctest
import gc
import pathlib
import re

import pytest

import quil

DOCS = pathlib.Path(__file__).parents[2] / "docs"
BLOCK = re.compile(r"(?:<!-- example waits for: (\w+) -->\n)?```pycon\n(.*?)```", re.DOTALL)


def has_mutate():
    return hasattr(quil.HashTrieMap, "mutate") and hasattr(quil.HashTrieSet, "mutate")


def has_copy():
    queue = quil.Queue()
    try:
        return copy.copy(queue) is queue
    except TypeError:
        return False


def has_generics():
    try:
        quil.HashTrieMap[str, int]
    except TypeError:
        return False
    return True


def has_gc_tracking():
    return gc.is_tracked(quil.HashTrieMap(a=[]))


FEATURES = {
    "mutate": has_mutate,
    "copy": has_copy,
    "generics": has_generics,
    "gc": has_gc_tracking,
}
GUIDES = sorted(DOCS.glob("*.md"))


def blocks(path):
    """(line number, feature waited for or None, source) of each pycon block."""
    text = path.read_text(encoding="utf-8")
    for match in BLOCK.finditer(text):
        yield text.count("\n", 0, match.start(2)), match.group(1), match.group(2)


@pytest.mark.parametrize("path", GUIDES, ids=lambda path: path.name)
def test_examples_run_as_shown(path):
    namespace = {}
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    report = []
    ran = 0
    for line, feature, source in blocks(path):
        if feature is not None:
            assert feature in FEATURES, f"{path.name}:{line + 1}: unknown feature {feature!r}"
            if not FEATURES[feature]():
                continue
        test = parser.get_doctest(source, {}, f"{path.name}:{line + 1}", str(path), line)
        test.globs = namespace  # get_doctest copies the namespace; later blocks need it
        runner.run(test, out=report.append, clear_globs=False)
        ran += 1
    assert ran > 0
    assert runner.failures == 0, "".join(report)


@pytest.mark.parametrize("feature", sorted(FEATURES))
def test_waiting_examples(feature):
    marked = [path.name for path in GUIDES for _, f, _ in blocks(path) if f == feature]
    assert marked, f"no example waits for {feature!r}: drop it from FEATURES"
    if not FEATURES[feature]():
        pytest.skip(f"examples in {', '.join(sorted(set(marked)))} wait for {feature}")
