#!/usr/bin/env python3
"""Fails when a layer reaches above itself.

The layer order is VELMORA_LAYERS in the top CMakeLists.txt (lowest first), and nowhere else.
A source file belongs to the layer named by its first folder (app/config is in app). A layer may
be cut in sub-layers by its folders: VELMORA_<LAYER>_SUBLAYERS lists them lowest first, folders
of one rank joined by "|" (peers: none of them uses another), e.g. db's "core sqlite|pg registry". Tests,
benchmarks and fuzz targets (tests/<layer>, bench/<layer>, fuzz/<layer>) stand above every layer:
a test of the published methods may run them through the host. Three things are checked:
  - every `#include "folder/..."` of a layer names a layer at or below its own, never tests/,
    bench/ or fuzz/; a test includes tests/support or the tests of its own layer folder; inside
    a layer with sub-layers, a file includes its own sub-layer or a lower one, never a peer;
  - every velmora_* library in a target_link_libraries() of a layer's CMakeLists.txt is defined in
    a layer at or below it (and a sub-layer at or below, never a peer), and no layer links the
    test support;
  - every library of a layer links the libraries whose headers its own files include, and no other
    (what comes through a linked library's headers comes with that library).
Usage: scripts/check-layers.py [source root]. Prints one line per violation; exit status 1 if any.
"""

import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
SOURCE_SUFFIXES = {".h", ".hpp", ".cpp", ".cc"}
MIRRORS = {"tests", "bench", "fuzz"}  # folders whose subfolders mirror the layers
SUPPORT = "tests/support"  # shared test fixtures: above every layer, below every test

# Reaches above a layer that are known and meant to go, as (path prefix, target) -> why.
KNOWN_EXCEPTIONS = {}


def read_layers():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"set\(VELMORA_LAYERS\s+([^)]*)\)", text)
    if not match:
        sys.exit("check-layers: no set(VELMORA_LAYERS ...) in CMakeLists.txt")
    return match.group(1).split()


def read_sublayers():
    """layer -> {folder: rank} for every VELMORA_<LAYER>_SUBLAYERS list."""
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    found = {}
    for match in re.finditer(r"set\(VELMORA_(\w+)_SUBLAYERS\s+([^)]*)\)", text):
        ranks = {}
        for rank, peers in enumerate(match.group(2).split()):
            for folder in peers.split("|"):
                ranks[folder] = rank
        found[match.group(1).lower()] = ranks
    return found


LAYERS = read_layers()
RANK = {name: i for i, name in enumerate(LAYERS)}
SUBRANK = read_sublayers()


def tracked_files():
    try:
        out = subprocess.run(["git", "-C", str(ROOT), "ls-files", "--cached", "--others",
                                                    "--exclude-standard"], check=True, capture_output=True, text=True).stdout
        return [pathlib.PurePosixPath(p) for p in out.splitlines() if (ROOT / p).is_file()]
    except (OSError, subprocess.CalledProcessError):
        return [pathlib.PurePosixPath(p.relative_to(ROOT).as_posix()) for p in ROOT.rglob("*")
                        if p.is_file() and not p.relative_to(ROOT).parts[0].startswith("build")]


def owner(path):
    """(kind, layer) of a file: kind is "product", "test" or "support"; None when it is in no layer."""
    parts = path.parts
    if len(parts) < 2:
        return None
    if parts[0] in RANK:
        return ("product", parts[0])
    if parts[0] == "tests" and parts[1] == "support":
        return ("support", None)
    if parts[0] in MIRRORS and len(parts) > 2 and parts[1] in RANK:
        return ("test", parts[1])
    return None


def sublayer(parts):
    """The sub-layer folder of a path's parts inside a layer with sub-layers, else None."""
    return parts[1] if len(parts) > 2 and parts[0] in SUBRANK else None


def sublayer_problem(layer, own, target):
    """Why sub-layer `own` of `layer` may not use sub-layer `target`, or None when it may."""
    ranks = SUBRANK[layer]
    if target not in ranks:
        return f"{layer}/{target}/ is in no sub-layer of {layer}/ (add it to VELMORA_{layer.upper()}_SUBLAYERS)"
    if own is None or own == target:
        return None
    if ranks[target] > ranks[own]:
        return f"{layer}/{own}/ uses the higher sub-layer {layer}/{target}/"
    if ranks[target] == ranks[own]:
        return f"{layer}/{own}/ uses its peer {layer}/{target}/"
    return None


def excepted(path, target):
    return any(str(path).startswith(prefix) and target == t for prefix, t in KNOWN_EXCEPTIONS)


def include_problem(path, kind, layer, included):
    """Why `#include "included"` may not appear in `path`, or None when it may."""
    parts = included.split("/")
    if len(parts) < 2:
        return None  # beside the including file
    top = parts[0]
    if top in RANK:
        if kind == "product" and RANK[top] > RANK[layer]:
            return f"{layer}/ includes the higher layer {top}/"
        if top in SUBRANK and len(parts) > 2:
            own = sublayer(pathlib.PurePosixPath(path).parts) if kind == "product" and top == layer else None
            return sublayer_problem(top, own, parts[1])
        return None
    if top in MIRRORS:
        target = "/".join(parts[:2])
        if kind == "product":
            return None if excepted(path, target) else f"{layer}/ includes {target}/"
        if target == SUPPORT:
            return None
        if kind == "support":
            return f"test support includes {target}/"
        if top == "tests" and parts[1] == layer:
            return None
        return f"a test of {layer}/ includes {target}/"
    if (ROOT / top).is_dir():
        return f"{top}/ is in no layer (add it to VELMORA_LAYERS)"
    return None


def check_includes(files):
    problems = []
    pattern = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
    for path in files:
        if path.suffix not in SOURCE_SUFFIXES:
            continue
        place = owner(path)
        if place is None:
            if path.parts[0] not in MIRRORS and len(path.parts) > 1 and path.parts[0] != "cmake":
                problems.append(f"{path}: {path.parts[0]}/ is in no layer (add it to VELMORA_LAYERS)")
            continue
        kind, layer = place
        if kind == "product" and layer in SUBRANK and sublayer(path.parts) not in SUBRANK[layer]:
            problems.append(f"{path}: outside the sub-layers of {layer}/ "
                            f"(VELMORA_{layer.upper()}_SUBLAYERS)")
        for number, line in enumerate((ROOT / path).read_text(encoding="utf-8").splitlines(), 1):
            match = pattern.match(line)
            if match:
                why = include_problem(path, kind, layer, match.group(1))
                if why:
                    problems.append(f"{path}:{number}: {why}: \"{match.group(1)}\"")
    return problems


def cmake_files(files):
    return [p for p in files if p.name == "CMakeLists.txt" and len(p.parts) > 1]


def check_links(files):
    """Library -> layer from every add_library(); then every link of a folder against its layer."""
    defined = {}
    for path in cmake_files(files):
        place = owner(path)
        for name in re.findall(r"add_library\(\s*(velmora_\w+)", (ROOT / path).read_text("utf-8")):
            if place and place[0] == "product":
                defined[name] = ("product", place[1], sublayer(path.parts))
            elif place and place[0] == "support":
                defined[name] = ("support", None, None)
    problems = []
    for path in cmake_files(files):
        place = owner(path)
        if place is None:
            continue
        kind, layer = place
        text = (ROOT / path).read_text(encoding="utf-8")
        for block in re.finditer(r"(?:target_link_libraries|velmora_(?:test|bench))\(([^)]*)\)", text):
            number = text.count("\n", 0, block.start()) + 1
            for name in re.findall(r"\bvelmora_\w+", block.group(1)):
                if name not in defined or name in ("velmora_test", "velmora_bench"):
                    continue
                lib_kind, lib_layer, lib_sub = defined[name]
                if lib_kind == "support":
                    if kind == "product" and not excepted(path, SUPPORT):
                        problems.append(f"{path}:{number}: {layer}/ links the test support {name}")
                elif kind == "product" and RANK[lib_layer] > RANK[layer]:
                    problems.append(f"{path}:{number}: {layer}/ links {name} of the higher layer {lib_layer}/")
                elif kind == "product" and lib_layer == layer and lib_sub is not None:
                    why = sublayer_problem(layer, sublayer(path.parts), lib_sub)
                    if why:
                        problems.append(f"{path}:{number}: {why} (links {name})")
    return problems


def libraries(files):
    """name -> (its CMakeLists.txt, its sources) for every add_library() of a layer folder."""
    found = {}
    for path in cmake_files(files):
        place = owner(path)
        if not place or place[0] != "product":
            continue
        text = (ROOT / path).read_text(encoding="utf-8")
        for match in re.finditer(r"add_library\(\s*(velmora_\w+)([^)]*)\)", text):
            sources = [path.parent / token for token in match.group(2).split()
                       if token.endswith((".cpp", ".cc"))]
            found[match.group(1)] = (path, sources)
    return found


def check_links_match_includes(files):
    """Each layer library links the libraries whose headers its sources include, and no other.

    A header belongs to the library that compiles the source of the same name beside it; a header
    without a source belongs to the one library of its folder, if the folder has one.
    """
    libs = libraries(files)
    header_owner = {}
    folder_libs = {}
    for name, (_, sources) in libs.items():
        for source in sources:
            header_owner[str(source.with_suffix(".h"))] = name
            folder_libs.setdefault(str(source.parent), set()).add(name)
    for path in files:
        if path.suffix in (".h", ".hpp") and str(path) not in header_owner:
            owners = folder_libs.get(str(path.parent), set())
            if len(owners) == 1:
                header_owner[str(path)] = next(iter(owners))
    pattern = re.compile(r'^\s*#\s*include\s+"([^"]+/[^"]+)"', re.MULTILINE)
    problems = []
    for name, (cmake, sources) in sorted(libs.items()):
        own = sources + [s.with_suffix(".h") for s in sources]
        needed = set()
        for source in own:
            if (ROOT / source).is_file():
                for included in pattern.findall((ROOT / source).read_text(encoding="utf-8")):
                    needed.add(header_owner.get(included))
        needed.discard(None)
        needed.discard(name)
        text = (ROOT / cmake).read_text(encoding="utf-8")
        linked = set()
        for block in re.finditer(r"target_link_libraries\(\s*" + name + r"\b([^)]*)\)", text):
            linked |= set(re.findall(r"\bvelmora_\w+", block.group(1))) & set(libs)
        for missing in sorted(needed - linked):
            problems.append(f"{cmake}: {name} includes headers of {missing} but does not link it")
        for extra in sorted(linked - needed):
            problems.append(f"{cmake}: {name} links {extra} but includes none of its headers")
    return problems


def main():
    files = tracked_files()
    problems = check_includes(files) + check_links(files) + check_links_match_includes(files)
    for line in problems:
        print(line)
    if problems:
        print(f"check-layers: {len(problems)} problem(s); the order is {' < '.join(LAYERS)}")
        return 1
    print(f"check-layers: ok ({' < '.join(LAYERS)})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
