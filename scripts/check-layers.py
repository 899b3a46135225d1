#!/usr/bin/env python3
"""Checks that the source reads one way: each room of src/ includes only the rooms below it, and
no files of src/ call each other in a circle.

Rooms, from the ground up (a room may use any room below it, never one above or beside it):

    sdk, net          the host's declarations; sockets, threads, files
    host              engine and Metamod access, logging, the configuration store
    state             the capture ring, its records and events, the names
    capture           the game's hooks, writing into the state
    stream            chunks and packets, read from the state
    broadcast         delay buffer and encoder, sender, live fragments
    demo, web         the demo recorder and reader; the web server
    plugin            entry points, tables, lifecycle, console: wires the rest

The include rule is read from the sources. The circle rule is read from the object files of a
build (the symbols each defines and uses), so a call through a header that another file
implements counts too. Exit status 0 both hold; 1 a rule is broken (each break on a line);
2 bad usage.
"""
import argparse
import os
import re
import subprocess
import sys

ALLOWED = {
    "sdk": set(),
    "net": {"sdk"},
    "host": {"sdk", "net"},
    "state": {"sdk", "net", "host"},
    "capture": {"sdk", "host", "state"},
    "stream": {"sdk", "net", "host", "state"},
    "broadcast": {"sdk", "net", "host", "state", "stream"},
    "demo": {"sdk", "net", "host", "state", "stream", "broadcast"},
    "web": {"sdk", "net", "host", "state", "stream", "broadcast"},
}
ALLOWED["plugin"] = set(ALLOWED) - {"plugin"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/([^"]+)"', re.M)


def include_breaks(src):
    breaks = []
    for room in sorted(os.listdir(src)):
        folder = os.path.join(src, room)
        if not os.path.isdir(folder):
            continue
        if room not in ALLOWED:
            breaks.append(f"src/{room}/ is no known room (add it to scripts/check-layers.py)")
            continue
        for name in sorted(os.listdir(folder)):
            if not name.endswith((".h", ".cpp")):
                continue
            with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
                text = f.read()
            for target, header in INCLUDE.findall(text):
                if target != room and target not in ALLOWED[room]:
                    breaks.append(f"src/{room}/{name} includes {target}/{header}: "
                                  f"{room} may use only {', '.join(sorted(ALLOWED[room])) or 'nothing'}")
    return breaks


def object_files(objdir):
    objects = {}
    marker = os.sep + "src" + os.sep
    for root, _, files in os.walk(objdir):
        for name in files:
            if not name.endswith((".o", ".obj")):
                continue
            path = os.path.join(root, name)
            if marker not in path:
                continue
            source = "src/" + path.split(marker, 1)[1].replace(os.sep, "/")
            source = re.sub(r"\.(o|obj)$", "", source)
            objects[source] = path
    return objects


def symbols(path, nm):
    out = subprocess.run([nm, "--defined-only", "-g", path], capture_output=True, text=True,
                         check=True).stdout
    defined = set()
    for line in out.splitlines():
        parts = line.split()
        # Strong definitions only: inline functions, templates and vtables live in many files.
        if len(parts) >= 3 and parts[1] in "TDBR":
            defined.add(parts[2])
    out = subprocess.run([nm, "--undefined-only", path], capture_output=True, text=True,
                         check=True).stdout
    used = {line.split()[-1] for line in out.splitlines() if line.strip()}
    return defined, used


def circles(objects, nm):
    defined_by, uses = {}, {}
    for source, path in objects.items():
        defined, used = symbols(path, nm)
        uses[source] = used
        for symbol in defined:
            defined_by[symbol] = source
    edges = {s: sorted({defined_by[u] for u in used if u in defined_by and defined_by[u] != s})
             for s, used in uses.items()}
    # Tarjan's strongly connected components; any with two or more files is a circle.
    index, low, stack, on_stack, found = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in edges[v]:
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    sys.setrecursionlimit(10000)
    for v in sorted(edges):
        if v not in index:
            visit(v)
    breaks = []
    for component in found:
        members = set(component)
        calls = [f"{a} -> {b}" for a in component for b in edges[a] if b in members]
        breaks.append("files that call each other in a circle: " + "; ".join(calls))
    return breaks


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--src", default="src", help="the source folder (default src)")
    parser.add_argument("--objects", metavar="DIR",
                        help="a native build folder, whose kovitv_core object files are read for "
                             "the circle rule (without it only the include rule is checked)")
    parser.add_argument("--nm", default="nm", help="the nm program (default nm)")
    args = parser.parse_args()
    if not os.path.isdir(args.src):
        print(f"check-layers: no folder {args.src}", file=sys.stderr)
        return 2
    breaks = include_breaks(args.src)
    checked = "includes"
    if args.objects:
        # The shipped library's objects: those it shares with the tests' library, and its own.
        objects = {}
        for target in ("kovitv_core_shared.dir", "kovitv_core.dir"):
            folder = os.path.join(args.objects, "CMakeFiles", target)
            if os.path.isdir(folder):
                objects.update(object_files(folder))
        if not objects:
            print(f"check-layers: no object files of src/ under {args.objects}", file=sys.stderr)
            return 2
        breaks += circles(objects, args.nm)
        checked += f" and the calls between {len(objects)} object files"
    for line in breaks:
        print("check-layers: " + line)
    if breaks:
        return 1
    print(f"check-layers: every room uses only the rooms below it; no circle ({checked})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
