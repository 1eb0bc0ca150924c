"""Allocation workload for the large benchmark input (run under massif).

Builds a few hundred thousand small objects in nested structures, then
serialises them in several ways, in phases so that the heap rises and
falls. The recursion in build/serialise gives deep native call stacks.

    python3 workload.py [SCALE]     (SCALE 1.0 = the default size)
"""
import io
import json
import pickle
import sys


class Record:
    __slots__ = ("key", "value", "tags", "children")

    def __init__(self, key, value, tags):
        self.key = key
        self.value = value
        self.tags = tags
        self.children = []


def build_tree(depth, fanout, prefix, counter):
    node = Record(prefix, counter[0] * 1.5, [prefix[-3:], str(depth)])
    counter[0] += 1
    if depth > 0:
        for i in range(fanout):
            node.children.append(build_tree(depth - 1, fanout, f"{prefix}.{i}", counter))
    return node


def to_plain(node):
    return {
        "key": node.key,
        "value": node.value,
        "tags": list(node.tags),
        "children": [to_plain(c) for c in node.children],
    }


def render_text(node, out, indent=0):
    out.write(" " * indent + f"{node.key}={node.value:.1f} [{','.join(node.tags)}]\n")
    for c in node.children:
        render_text(c, out, indent + 1)


def make_strings(n):
    return ["item-%06d-%s" % (i, "x" * (i % 40)) for i in range(n)]


def make_index(strings):
    index = {}
    for s in strings:
        index.setdefault(s[-5:], []).append(s)
    return index


def main():
    scale = float(sys.argv[1]) if len(sys.argv) > 1 else 1.0
    counter = [0]
    forest = []
    sinks = []
    # Phase 1: grow a forest of small records.
    for t in range(max(1, int(12 * scale))):
        forest.append(build_tree(6, 4, f"t{t}", counter))
    # Phase 2: serialise part of it in three ways, keeping some results.
    for i, tree in enumerate(forest):
        plain = to_plain(tree)
        if i % 3 == 0:
            sinks.append(json.dumps(plain))
        elif i % 3 == 1:
            sinks.append(pickle.dumps(plain))
        else:
            buf = io.StringIO()
            render_text(tree, buf)
            sinks.append(buf.getvalue())
        del plain
    # Phase 3: drop half the forest, then build strings and an index.
    del forest[::2]
    strings = make_strings(int(60000 * scale))
    index = make_index(strings)
    # Phase 4: release everything in stages.
    del sinks[: len(sinks) // 2]
    del forest
    del strings
    total = sum(len(v) for v in index.values())
    del index
    print(counter[0], total)


if __name__ == "__main__":
    main()
