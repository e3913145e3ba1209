#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Mutation sampler: puts one small fault at each of N sampled places in the product code, rebuilds, runs the
tests that can see the change and records whether they noticed.

  scripts/mutation.py --build BUILD_DIR [--seed S] [-n N] [--save-sites F] [--report F.json]
  scripts/mutation.py --build BUILD_DIR --sites F [--report F.json]   replay recorded sites on this tree
  scripts/mutation.py --compare OLD.json NEW.json                     kill rates over the sites both share
  scripts/mutation.py --list-sites [--seed S] [-n N]                  show the sampled sites, change nothing
  scripts/mutation.py --restore --build BUILD_DIR                     undo a mutant left by a killed run
  scripts/mutation.py --self-test

Kill rate = (killed + timed out) / (killed + timed out + survived); mutants that do not build are left out.
"""
import argparse
import base64
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

PRODUCT_DIRS = ("src", "station")
SKIP_PARTS = ("test", "fuzz", "bench", "tools")
SLOW_LABELS = ("e2e", "package", "interop")
JOURNAL = "mutation-journal.json"

# ---------------------------------------------------------------------------------------------------------------
# Masking: comments and literal contents become blanks so the fault finders only ever see code.


def mask_source(text):
    """Returns text of the same length with comments blanked and string/char literal contents blanked."""
    out = list(text)
    i, n = 0, len(text)
    state = None
    raw_end = None
    while i < n:
        c = text[i]
        if state is None:
            if text.startswith("//", i):
                state = "line"
                out[i] = " "
            elif text.startswith("/*", i):
                state = "block"
                out[i] = out[i + 1] = " "
                i += 1
            elif c == '"':
                raw = i > 0 and text[i - 1] == "R"
                m = re.match(r'R"([^()\\ ]{0,16})\(', text[i - 1:i + 20]) if raw else None
                if m:
                    state = "raw"
                    raw_end = ")" + m.group(1) + '"'
                    i += len(m.group(0)) - 1
                else:
                    state = "str"
            elif c == "'" and not (i > 0 and text[i - 1].isalnum()):
                state = "chr"
        elif state == "line":
            if c == "\n":
                state = None
            else:
                out[i] = " "
        elif state == "block":
            if text.startswith("*/", i):
                out[i] = out[i + 1] = " "
                i += 1
                state = None
            elif c != "\n":
                out[i] = " "
        elif state == "raw":
            if text.startswith(raw_end, i):
                i += len(raw_end) - 1
                state = None
            elif c != "\n":
                out[i] = " "
        else:  # str or chr
            quote = '"' if state == "str" else "'"
            if c == "\\" and i + 1 < n:
                out[i] = out[i + 1] = " "
                i += 1
            elif c == quote:
                state = None
            elif c == "\n":
                state = None  # unterminated: give up on this literal
            else:
                out[i] = " "
        i += 1
    return "".join(out)


# ---------------------------------------------------------------------------------------------------------------
# Fault finders: each takes (original line, masked line) and yields (kind, description, mutated line).

REL_FLIP = {"==": "!=", "!=": "==", "<=": "<", ">=": ">", "<": ">=", ">": "<="}
KEYWORDS = {"return", "delete", "throw", "co_return", "goto", "break", "continue", "using", "typedef", "case",
            "default", "else", "do", "new", "sizeof", "if", "for", "while", "switch", "static_assert"}
SKIP_STATEMENT = re.compile(r"^(Q_ASSERT\w*|Q_UNUSED|static_assert|q(C)?(Debug|Info|Warning|Critical|Fatal)\b|"
                            r"std::cerr|std::clog|(std::)?fprintf\s*\(\s*stderr)")
MACRO_CALL = re.compile(r"^[A-Z][A-Z0-9_]+\s*\(")


def _splice(line, start, end, new):
    return line[:start] + new + line[end:]


def find_comparisons(line, masked):
    for m in re.finditer(r"(?<![<>=!])(==|!=|<=|>=)(?![=>])|(?<= )(<|>)(?= )", masked):
        op = m.group(0)
        before = masked[:m.start()].rstrip()
        if before.endswith("operator") or "<=>" in masked[m.start() - 1:m.end() + 1]:
            continue
        new = REL_FLIP[op]
        yield "comparison", f"`{op}` -> `{new}`", _splice(line, m.start(), m.end(), new)


def find_logical(line, masked):
    for m in re.finditer(r"(?<= )(&&|\|\|)(?= )", masked):
        new = "||" if m.group(0) == "&&" else "&&"
        yield "logical", f"`{m.group(0)}` -> `{new}`", _splice(line, m.start(), m.end(), new)


def find_booleans(line, masked):
    for m in re.finditer(r"\b(true|false)\b", masked):
        new = "false" if m.group(0) == "true" else "true"
        yield "boolean", f"`{m.group(0)}` -> `{new}`", _splice(line, m.start(), m.end(), new)


def find_integers(line, masked):
    for m in re.finditer(r"(?<![\w.'])\d+(?![\w.'])", masked):
        value = int(m.group(0))
        for new in ([value - 1] if value > 0 else []) + [value + 1]:
            yield "integer", f"`{value}` -> `{new}`", _splice(line, m.start(), m.end(), str(new))


CALL_STATEMENT = re.compile(r"^(?:(?:emit|Q_EMIT)\s+)?[A-Za-z_~][\w]*(?:(?:::|\.|->)[A-Za-z_~][\w]*|\([^;]*?\)"
                            r"(?:\.|->)[A-Za-z_][\w]*)*\s*\(.*\)\s*;$")


def _balanced(s):
    depth = 0
    for c in s:
        depth += c in "([{"
        depth -= c in ")]}"
        if depth < 0:
            return False
    return depth == 0


def find_call_removal(line, masked, starts_statement):
    code = masked.strip()
    if not starts_statement or not CALL_STATEMENT.match(code) or not _balanced(code) or MACRO_CALL.match(code):
        return
    first = re.match(r"[A-Za-z_]\w*", code).group(0)
    if first in KEYWORDS or re.search(r"(?<![=!<>])=(?!=)", re.sub(r"\(.*\)", "()", code)):
        return
    indent = line[:len(line) - len(line.lstrip())]
    yield "call-removed", "call removed", indent + "{}" + ("\n" if line.endswith("\n") else "")


def line_faults(line, masked, starts_statement=True):
    """All faults for one line, in a fixed order."""
    code = masked.strip()
    if not code or code.startswith("#") or SKIP_STATEMENT.match(code):
        return []
    faults = []
    faults += find_comparisons(line, masked)
    faults += find_logical(line, masked)
    faults += find_booleans(line, masked)
    faults += find_integers(line, masked)
    faults += find_call_removal(line, masked, starts_statement)
    return faults


# ---------------------------------------------------------------------------------------------------------------
# Function bodies: an early return right after the opening brace of a function defined at namespace scope.

SPECIFIERS = re.compile(r"\b(static|inline|constexpr|consteval|virtual|explicit|Q_INVOKABLE|\[\[\w+\]\])\s*")


def early_return_for(signature):
    """The return statement that fits a function of this signature, or None when none is safe."""
    sig = re.sub(r"^template\s*<.*?>\s*", "", " ".join(signature.split()))
    if re.match(r"^(class|struct|enum|union|namespace|extern)\b", sig) or "operator" in sig:
        return None
    depth = 0
    for i, c in enumerate(sig):
        if c == "(" and depth == 0:
            head = sig[:i]
            break
        depth += c in "<"
        depth -= c in ">"
    else:
        return None
    if "=" in head or "[" in head:
        return None  # a lambda or an initializer, not a function definition
    m = re.search(r"(~?[A-Za-z_][\w]*(?:::~?[A-Za-z_][\w]*)*)\s*$", head)
    if not m:
        return None
    ret = SPECIFIERS.sub("", head[:m.start()]).strip()
    if not ret:
        return "return;"  # constructor or destructor
    if "&" in ret or re.search(r"\bauto\b", ret):
        return None
    if ret == "void":
        return "return;"
    if ret == "bool":
        return "return false;"
    return "return {};"


def find_function_bodies(masked):
    """Yields (offset of the body's opening brace, return statement) for functions at namespace scope."""
    stack = []  # "ns" for namespace/extern blocks, "init" for brace-inits in constructor lists, else "x"
    pending = []
    paren = 0
    for i, c in enumerate(masked):
        at_top = all(s == "ns" for s in stack)
        if c == "(":
            paren += 1
        elif c == ")":
            paren -= 1
        if c == "{" and at_top:
            sig = "".join(pending).strip()
            if re.match(r"^(namespace\b|extern\s*\")", sig) or sig == "extern":
                stack.append("ns")
                pending = []
                continue
            prev = sig[-1:] if sig else ""
            if paren == 0 and re.search(r"\)\s*:", sig) and re.match(r"[\w>]", prev) and "(" in sig:
                stack.append("init")  # brace-init of a member in a constructor's initializer list
                pending.append(c)
                continue
            ret = early_return_for(sig) if paren == 0 else None
            if ret:
                yield i, ret
            stack.append("x")
            pending = []
            continue
        if c == "{":
            stack.append("x")
        elif c == "}":
            if stack:
                kind = stack.pop()
                if kind == "init":
                    pending.append(c)
                    continue
            if all(s == "ns" for s in stack):
                pending = []
            continue
        if all(s == "ns" for s in stack):
            if c == ";" and paren == 0:
                pending = []
            elif c == "\n" and "".join(pending).lstrip().startswith("#"):
                pending = []
            else:
                pending.append(c)


# ---------------------------------------------------------------------------------------------------------------
# Sites of a file


def file_sites(path, text):
    """Every candidate fault in a file: list of dicts (file, line, original, kind, fault, mutated)."""
    masked = mask_source(text)
    lines = text.splitlines(keepends=True)
    mlines = masked.splitlines(keepends=True)
    sites = []
    prev_end, prev_code = "{", ""
    in_directive = False
    skipping = False
    for no, (line, mline) in enumerate(zip(lines, mlines), start=1):
        code = mline.strip()
        if in_directive or code.startswith("#"):
            in_directive = code.endswith("\\")
            continue
        if not code:
            continue
        # A line starts a statement after a complete one, or as the unbraced body of if/for/while/else.
        starts = prev_end in ";{}:" or (prev_end == ")" and re.match(r"^(\}\s*)?(else|if|for|while)\b", prev_code))
        starts = bool(starts) or prev_code.endswith("else")
        if starts:
            skipping = bool(SKIP_STATEMENT.match(code))
        if not skipping:
            for kind, fault, mutated in line_faults(line, mline, starts):
                sites.append(dict(file=path, line=no, original=line.rstrip("\r\n"), kind=kind, fault=fault,
                                  mutated=mutated.rstrip("\r\n")))
        prev_end = code[-1]
        prev_code = code
    offsets = [0]
    for line in lines:
        offsets.append(offsets[-1] + len(line))
    for pos, ret in find_function_bodies(masked):
        no = next(k for k in range(len(lines)) if offsets[k + 1] > pos) + 1
        line = lines[no - 1].rstrip("\r\n")
        col = pos - offsets[no - 1]
        sites.append(dict(file=path, line=no, original=line, kind="early-return", fault=f"`{ret}` at the top",
                          mutated=line[:col + 1] + " " + ret + line[col + 1:]))
    return sites


def product_files(root):
    files = []
    for top in PRODUCT_DIRS:
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, top)):
            dirnames[:] = sorted(d for d in dirnames if not any(p in d.lower() for p in SKIP_PARTS))
            for f in sorted(filenames):
                if f.endswith(".cpp"):
                    files.append(os.path.relpath(os.path.join(dirpath, f), root))
    return files


def sample_sites(root, seed, count):
    """Picks `count` distinct lines uniformly, then one of the faults on each line."""
    by_line = {}
    for rel in product_files(root):
        with open(os.path.join(root, rel), encoding="utf-8", newline="") as f:
            for site in file_sites(rel, f.read()):
                by_line.setdefault((site["file"], site["line"]), []).append(site)
    rng = random.Random(seed)
    keys = sorted(by_line)
    chosen = rng.sample(keys, min(count, len(keys)))
    sites = [rng.choice(by_line[k]) for k in chosen]
    return sorted(sites, key=lambda s: (s["file"], s["line"])), len(keys)


def locate(site, lines, window=400):
    """Line index (0-based) of the site's original text nearest to its recorded line, or None."""
    want = site["original"]
    target = site["line"] - 1
    best = None
    for k, line in enumerate(lines):
        if line.rstrip("\r\n") == want and abs(k - target) <= window:
            if best is None or abs(k - target) < abs(best - target):
                best = k
    return best


def site_key(site):
    return f'{site["file"]}|{site["original"].strip()}|{site["kind"]}|{site["mutated"].strip()}'


# ---------------------------------------------------------------------------------------------------------------
# Writing and restoring with a journal, so that a killed run can be undone by the next one.


def _write_bytes(path, data, not_before=0.0):
    with open(path, "r+b" if os.path.exists(path) else "wb") as f:
        f.seek(0)
        f.write(data)
        f.truncate()
        f.flush()
        os.fsync(f.fileno())
    # A fresh mtime, later than anything built from the previous content, so ninja rebuilds.
    now = time.time()
    if now <= not_before:
        now = not_before + 0.01
    os.utime(path, (now, now))


class Mutator:
    def __init__(self, root, state_dir):
        self.root = root
        self.journal = os.path.join(state_dir, JOURNAL)
        self.active = None

    def recover(self):
        """Restores a file that a killed run left mutated. Returns the restored path or None."""
        if not os.path.exists(self.journal):
            return None
        with open(self.journal) as f:
            entry = json.load(f)
        path = entry["path"]
        original = base64.b64decode(entry["original"])
        with open(path, "rb") as f:
            current = f.read()
        if current != original:
            if hashlib.sha256(current).hexdigest() != entry["mutated_sha256"]:
                print(f"warning: {path} changed since it was mutated; putting the original back anyway",
                      file=sys.stderr)
            _write_bytes(path, original, entry.get("not_before", 0))
        os.remove(self.journal)
        return path

    def apply(self, path, mutated_bytes, not_before=0.0):
        with open(path, "rb") as f:
            original = f.read()
        entry = dict(path=os.path.abspath(path), original=base64.b64encode(original).decode(),
                     mutated_sha256=hashlib.sha256(mutated_bytes).hexdigest(), not_before=not_before)
        tmp = self.journal + ".tmp"
        with open(tmp, "w") as f:
            json.dump(entry, f)
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, self.journal)
        self.active = (path, original)
        _write_bytes(path, mutated_bytes, not_before)

    def restore(self, not_before=0.0):
        if self.active is None:
            return
        path, original = self.active
        _write_bytes(path, original, not_before)
        self.active = None
        if os.path.exists(self.journal):
            os.remove(self.journal)


def mutate_bytes(data, site, index):
    lines = data.decode("utf-8").splitlines(keepends=True)
    line = lines[index]
    ending = line[len(line.rstrip("\r\n")):]
    lines[index] = site["mutated"] + ending
    return "".join(lines).encode("utf-8")


# ---------------------------------------------------------------------------------------------------------------
# Build graph and tests


def run(cmd, timeout=None, **kw):
    """Runs cmd in its own process group; kills the whole group on timeout. Returns (rc or None, output)."""
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            start_new_session=True, **kw)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        return None, out
    except BaseException:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()
        raise


class BuildGraph:
    def __init__(self, build):
        self.build = build
        with open(os.path.join(build, "compile_commands.json")) as f:
            entries = json.load(f)
        self.objects = {}
        for e in entries:
            out = e.get("output") or re.search(r"\s-o\s+(\S+)", e.get("command", "")).group(1)
            self.objects[os.path.realpath(os.path.join(e["directory"], e["file"]))] = out
        self.outputs = {}

    def _query(self, nodes):
        todo = [n for n in nodes if n not in self.outputs]
        if not todo:
            return
        rc, out = run(["ninja", "-C", self.build, "-t", "query"] + todo)
        current, section = None, None
        for line in out.splitlines():
            if not line.startswith(" "):
                current = line.rstrip(":")
                self.outputs.setdefault(current, set())
            elif line.strip() in ("input:", "outputs:") or line.strip().startswith("input:"):
                section = "out" if line.strip() == "outputs:" else "in"
            elif section == "out" and current:
                node = line.strip()
                if node.endswith(".a") or node.startswith("bin/"):
                    self.outputs[current].add(node)
        for n in todo:
            self.outputs.setdefault(n, set())

    def object_for(self, source):
        return self.objects.get(os.path.realpath(source))

    def programs_seeing(self, source):
        """Executables that link the source's object, or that depend on a program that does."""
        obj = self.object_for(source)
        if not obj:
            return set()
        seen, frontier = set(), [obj]
        while frontier:
            self._query(frontier)
            nxt = set()
            for node in frontier:
                for out in self.outputs.get(node, ()):
                    if out not in seen:
                        seen.add(out)
                        nxt.add(out)
            frontier = sorted(nxt)
        return {n for n in seen if n.startswith("bin/")}


def list_tests(build):
    rc, out = run(["ctest", "--test-dir", build, "--show-only=json-v1"])
    tests = []
    for t in json.loads(out)["tests"]:
        labels, timeout = [], None
        for p in t.get("properties", []):
            if p["name"] == "LABELS":
                labels = p["value"]
            elif p["name"] == "TIMEOUT":
                timeout = p["value"]
        tests.append(dict(name=t["name"], command=t.get("command", []), labels=labels, timeout=timeout))
    return tests


def tests_seeing(tests, programs, build):
    paths = {os.path.realpath(os.path.join(build, p)) for p in programs}
    return [t for t in tests if any(os.path.realpath(a) in paths for a in t["command"] if a.startswith("/"))]


# ---------------------------------------------------------------------------------------------------------------
# The run


class Stop(Exception):
    pass


def _on_signal(signum, frame):
    raise Stop(f"signal {signum}")


def ctest_cmd(args, build, name, timeout):
    cmd = ["ctest", "--test-dir", build, "-R", f"^{re.escape(name)}$", "--output-on-failure", "--timeout",
           str(int(timeout))]
    return ([args.netns] if args.netns else []) + cmd


def measure_tests(args, build, tests):
    """Runs every selected test once on the unmutated tree: durations, and which ones fail already."""
    durations, broken = {}, []
    for t in tests:
        start = time.time()
        rc, out = run(ctest_cmd(args, build, t["name"], t["timeout"] or 120), timeout=(t["timeout"] or 120) + 30)
        durations[t["name"]] = round(time.time() - start, 2)
        if rc != 0:
            broken.append(t["name"])
        print(f"  baseline {t['name']}: {'ok' if rc == 0 else 'FAILS'} in {durations[t['name']]} s", flush=True)
    return durations, broken


def run_mutants(args):
    root = os.path.realpath(args.root)
    build = os.path.realpath(args.build)
    mutator = Mutator(root, build)
    restored = mutator.recover()
    if restored:
        print(f"restored {restored}, left mutated by an earlier run")
    if args.restore:
        return 0

    if args.sites:
        with open(args.sites) as f:
            recorded = json.load(f)["sites"]
        total_lines = None
    else:
        recorded, total_lines = sample_sites(root, args.seed, args.n)
        print(f"{len(recorded)} sites sampled from {total_lines} mutable lines (seed {args.seed})")
    if args.save_sites:
        save_json(args.save_sites, dict(seed=args.seed, sites=recorded))

    # The unmutated tree must build and its tests pass before any mutant can mean anything.
    print("building the unmutated tree", flush=True)
    rc, out = run(["ninja", "-C", build, f"-j{args.jobs}"])
    if rc != 0:
        print(out[-4000:])
        print("the unmutated tree does not build", file=sys.stderr)
        return 2
    graph = BuildGraph(build)
    all_tests = list_tests(build)  # after the build: ctest names no command for a missing executable
    excluded = set() if args.all else set(SLOW_LABELS)
    tests = [t for t in all_tests if not excluded.intersection(t["labels"])]
    if args.tests:
        tests = [t for t in tests if re.search(args.tests, t["name"])]

    started = time.time()
    results = []
    interrupted = None
    old = {s: signal.signal(s, _on_signal) for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)}
    built = set()
    try:
        plan = []
        for site in recorded:
            path = current_path(root, site["file"])
            programs = graph.programs_seeing(path) if path else []
            plan.append((site, path, programs, tests_seeing(tests, programs, build)))
        needed = sorted({t["name"] for _, _, _, seeing in plan for t in seeing})
        durations, broken = measure_tests(args, build, [t for t in tests if t["name"] in needed])
        if broken:
            print(f"left out, failing already: {', '.join(broken)}")
        for n, (site, path, programs, seeing) in enumerate(plan, start=1):
            # Quickest first: the first failing test ends the mutant.
            seeing = [t for t in seeing if t["name"] not in broken]
            seeing.sort(key=lambda t: durations.get(t["name"], 0))
            result = run_one(args, build, graph, mutator, site, path, seeing, durations, programs)
            built.update(result.pop("_targets", []))
            results.append(result)
            print(f"[{n}/{len(plan)}] {result['status']:>9}  {site['file']}:{result.get('at', site['line'])}  "
                  f"{site['fault']}  ({result['seconds']} s{', ' + result['by'] if result.get('by') else ''})",
                  flush=True)
    except Stop as e:
        interrupted = str(e)
    finally:
        for s in old:
            signal.signal(s, signal.SIG_IGN)  # a second Ctrl+C must not cut the restore short
        mutator.restore()
        for s, h in old.items():
            signal.signal(s, h)
        if built and not args.no_final_build:
            run(["ninja", "-C", build, f"-j{args.jobs}"] + sorted(built))
    report = make_report(args, recorded, results, time.time() - started, interrupted, tests, excluded)
    print_report(report)
    if args.report:
        save_json(args.report, report)
    return 1 if interrupted else 0


def programs_for(seeing, programs, build, graph):
    """The programs worth building: the test executables, and the product programs those tests run."""
    wanted = set()
    for t in seeing:
        for a in t["command"]:
            rel = os.path.relpath(os.path.realpath(a), build) if a.startswith("/") else a
            if rel in programs:
                wanted.add(rel)
    # A test executable that depends on a program runs it; that program is rebuilt with it.
    return sorted(wanted | {p for p in programs if p not in wanted and graph.outputs.get(p, set()) & wanted})


def current_path(root, file):
    """The recorded file, or where it moved to (the one product file of that name), or None when it is gone."""
    path = os.path.join(root, file)
    if os.path.exists(path):
        return path
    name = os.path.basename(file)
    found = [os.path.join(d, f) for top in PRODUCT_DIRS for d, _, files in os.walk(os.path.join(root, top))
             for f in files if f == name]
    return found[0] if len(found) == 1 else None


def run_one(args, build, graph, mutator, site, path, seeing, durations, programs):
    start = time.time()
    result = dict(site=site, status=None, seconds=0)
    if path is None:
        result.update(status="gone")
        return result
    moved = os.path.relpath(path, os.path.realpath(args.root))
    if moved != site["file"]:
        result["moved"] = moved
    with open(path, "rb") as f:
        data = f.read()
    index = locate(site, data.decode("utf-8").splitlines(keepends=True))
    if index is None:
        result.update(status="gone")
        return result
    result["at"] = index + 1
    obj = graph.object_for(path)
    obj_path = os.path.join(build, obj) if obj else None
    not_before = os.path.getmtime(obj_path) if obj_path and os.path.exists(obj_path) else 0
    targets = ([obj] if obj else []) + programs_for(seeing, programs, build, graph)
    result["_targets"] = targets
    try:
        mutator.apply(path, mutate_bytes(data, site, index), not_before)
        rc, out = run(["ninja", "-C", build, f"-j{args.jobs}"] + targets, timeout=args.build_timeout)
        if rc is None:
            result.update(status="timeout", by="build")
        elif rc != 0:
            result.update(status="no-build")
        elif not seeing:
            result.update(status="survived", by="no test sees it")
        else:
            result.update(status="survived", tests=len(seeing))
            deadline = time.time() + args.timeout_factor * sum(
                durations.get(t["name"], 10) for t in seeing) + args.timeout_slack
            for t in seeing:
                left = deadline - time.time()
                if left <= 0:
                    result.update(status="timeout", by=t["name"])
                    break
                per_test = min(left, args.timeout_factor * durations.get(t["name"], 10) + args.timeout_slack)
                rc, out = run(ctest_cmd(args, build, t["name"], per_test), timeout=per_test + 5)
                if rc is None or "***Timeout" in out:
                    result.update(status="timeout", by=t["name"])
                    break
                if rc != 0:
                    result.update(status="killed", by=t["name"])
                    break
    finally:
        obj_mtime = os.path.getmtime(obj_path) if obj_path and os.path.exists(obj_path) else 0
        mutator.restore(obj_mtime)
    result["seconds"] = round(time.time() - start, 1)
    return result


def kill_rate(results):
    killed = sum(r["status"] in ("killed", "timeout") for r in results)
    survived = sum(r["status"] == "survived" for r in results)
    return (killed / (killed + survived)) if killed + survived else None


def make_report(args, sites, results, seconds, interrupted, tests, excluded):
    counts = {k: sum(r["status"] == k for r in results) for k in ("killed", "survived", "no-build", "timeout", "gone")}
    times = sorted(r["seconds"] for r in results if r["status"] != "gone")
    rate = kill_rate(results)
    return dict(
        seed=args.seed, sites=len(sites), done=len(results), interrupted=interrupted,
        kill_rate=None if rate is None else round(rate, 4), counts=counts, seconds=round(seconds),
        mutant_seconds=dict(min=times[0], median=times[len(times) // 2], max=times[-1]) if times else None,
        excluded_labels=sorted(excluded), tests=sorted(t["name"] for t in tests),
        results=[dict(file=r["site"]["file"], line=r.get("at", r["site"]["line"]), kind=r["site"]["kind"],
                      fault=r["site"]["fault"], original=r["site"]["original"], mutated=r["site"]["mutated"],
                      status=r["status"], by=r.get("by"), seconds=r["seconds"], key=site_key(r["site"]))
                 for r in results])


def print_report(report):
    c = report["counts"]
    rate = report["kill_rate"]
    print(f"\nkill rate: {'n/a' if rate is None else f'{rate:.1%}'}  (killed {c['killed']}, timed out "
          f"{c['timeout']}, survived {c['survived']}, did not build {c['no-build']}, gone {c['gone']}; "
          f"{report['done']}/{report['sites']} mutants in {report['seconds']} s)")
    if report["mutant_seconds"]:
        m = report["mutant_seconds"]
        print(f"seconds per mutant: min {m['min']}, median {m['median']}, max {m['max']}")
    if report["interrupted"]:
        print(f"interrupted ({report['interrupted']}); the report covers the mutants done so far")
    survivors = [r for r in report["results"] if r["status"] == "survived"]
    if survivors:
        print("survivors:")
        for r in survivors:
            note = f"  [{r['by']}]" if r.get("by") else ""
            print(f"  {r['file']}:{r['line']}  {r['kind']} {r['fault']}{note}\n      {r['original'].strip()}")


def compare(old_path, new_path):
    with open(old_path) as f:
        old = {r["key"]: r for r in json.load(f)["results"]}
    with open(new_path) as f:
        new = {r["key"]: r for r in json.load(f)["results"]}
    shared = [k for k in old if k in new and old[k]["status"] != "gone" and new[k]["status"] != "gone"]
    print(f"{len(shared)} sites in both ({len(old)} old, {len(new)} new)")
    for name, table in (("old", old), ("new", new)):
        rows = [table[k] for k in shared]
        rate = kill_rate(rows)
        counts = {s: sum(r["status"] == s for r in rows) for s in ("killed", "timeout", "survived", "no-build")}
        print(f"{name}: kill rate {'n/a' if rate is None else f'{rate:.1%}'}  {counts}")
    lost = [k for k in shared if old[k]["status"] in ("killed", "timeout") and new[k]["status"] == "survived"]
    for k in lost:
        r = new[k]
        print(f"  now survives: {r['file']}:{r['line']}  {r['kind']} {r['fault']}")
    return 0


def save_json(path, data):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w") as f:
        json.dump(data, f, indent=1)
        f.write("\n")


# ---------------------------------------------------------------------------------------------------------------
# Self-test: the fault finders on a table of lines, and restore by content.

FAULT_TABLE = [
    # line, kind, expected mutated line (None: the kind must not fire on this line)
    ("    if (a < b) {", "comparison", "    if (a >= b) {"),
    ("    if (a <= b) {", "comparison", "    if (a < b) {"),
    ("    if (a >= b) {", "comparison", "    if (a > b) {"),
    ("    if (a > b) {", "comparison", "    if (a <= b) {"),
    ("    return x == 3;", "comparison", "    return x != 3;"),
    ("    return x != y;", "comparison", "    return x == y;"),
    ("    QList<int> v = std::vector<int>();", "comparison", None),
    ("    stream << a >> b;", "comparison", None),
    ("    p->next = q;", "comparison", None),
    ("    return a && b;", "logical", "    return a || b;"),
    ("    return a || b;", "logical", "    return a && b;"),
    ("    void take(Foo&& f);", "logical", None),
    ("    enabled_ = true;", "boolean", "    enabled_ = false;"),
    ("    bool trueish = isTrue;", "boolean", None),
    ("    x = 10;", "integer", "    x = 9;"),
    ("    x = 0;", "integer", "    x = 1;"),
    ("    x = 1.5 + v2 + 0x10;", "integer", None),
    ("    timer_.start();", "call-removed", "    {}"),
    ("    emit changed(value);", "call-removed", "    {}"),
    ("    ui->list->clear();", "call-removed", "    {}"),
    ("    x = compute();", "call-removed", None),
    ("    QString s(x);", "call-removed", None),
    ("    return compute();", "call-removed", None),
    ("    Q_UNUSED(x);", "call-removed", None),
    ("    // if (a < b) { true; }", None, None),
    ('    const char* s = "a < b && true 1";', None, None),
    ("    Q_ASSERT(a < b && true);", None, None),
    ('    qWarning("%d", n < 3);', None, None),
    ("#define LIMIT (a < 3)", None, None),
]

BODY_TABLE = [
    ("void Foo::run() {\n    work();\n}\n", "void Foo::run() { return;"),
    ("bool Foo::ok(int a) const {\n    return a;\n}\n", "bool Foo::ok(int a) const { return false;"),
    ("QString name(int a) {\n    return {};\n}\n", "QString name(int a) { return {};"),
    ("Foo::Foo(int a)\n    : a_(a), b_{a} {\n    go();\n}\n", "    : a_(a), b_{a} { return;"),
    ("namespace {\nint twice(int a) {\n    return 2 * a;\n}\n}\n", "int twice(int a) { return {};"),
    ("const Foo& Foo::self() {\n    return *this;\n}\n", None),
    ("auto f() {\n    return 1;\n}\n", None),
    ("const int table[] = {\n    1, 2,\n};\n", None),
    ("struct S {\n    int f() {\n        return 1;\n    }\n};\n", None),
]


def self_test():
    failures = []
    for line, kind, expected in FAULT_TABLE:
        faults = line_faults(line, mask_source(line))
        if kind is None:
            if faults:
                failures.append(f"{line!r}: expected no fault, got {faults}")
            continue
        got = [m for k, _, m in faults if k == kind]
        if expected is None and got:
            failures.append(f"{line!r}: expected no {kind}, got {got}")
        elif expected is not None and expected not in got:
            failures.append(f"{line!r}: expected {expected!r} among {kind} {got}")
    for text, expected in BODY_TABLE:
        got = [s["mutated"] for s in file_sites("x.cpp", text) if s["kind"] == "early-return"]
        if (expected is None and got) or (expected is not None and got != [expected]):
            failures.append(f"{text!r}: early return {got}, expected {expected!r}")
    # A statement spread over lines: only its first line can lose a call.
    cont = [s for s in file_sites("x.cpp", "void f() {\n    const bool ok =\n        check(a);\n}\n")
            if s["kind"] == "call-removed"]
    if cont:
        failures.append(f"continuation line lost a call: {cont}")
    # Restore and recovery leave the file byte-identical, CRLF and odd bytes included.
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "a.cpp")
        original = b"int f() {\r\n    return 1 < 2;\r\n}\r\n\xef\xbb\xbf// tail without newline"
        with open(path, "wb") as f:
            f.write(original)
        site = dict(original="    return 1 < 2;", mutated="    return 1 >= 2;", line=2)
        index = locate(site, original.decode("utf-8").splitlines(keepends=True))
        mutated = mutate_bytes(original, site, index)
        if mutated != original.replace(b"1 < 2", b"1 >= 2"):
            failures.append(f"mutant text wrong: {mutated!r}")
        m = Mutator(tmp, tmp)
        m.apply(path, mutated)
        m.restore()
        with open(path, "rb") as f:
            if f.read() != original:
                failures.append("restore changed the file")
        m.apply(path, mutated)
        m.active = None  # as if the run had been killed here
        if Mutator(tmp, tmp).recover() != os.path.abspath(path):
            failures.append("recover did not find the journal")
        with open(path, "rb") as f:
            if f.read() != original:
                failures.append("recover changed the file")
        if os.path.exists(os.path.join(tmp, JOURNAL)):
            failures.append("journal left behind")
        moved = dict(site, line=40)
        if locate(moved, original.decode().splitlines(keepends=True)) != 1:
            failures.append("a site that moved was not found")
        if locate(dict(site, original="    return 2;"), original.decode().splitlines(keepends=True)) is not None:
            failures.append("a gone site was found")
    for f in failures:
        print("FAIL:", f)
    print(f"self-test: {len(FAULT_TABLE) + len(BODY_TABLE) + 6 - len(failures)} checks passed, "
          f"{len(failures)} failed")
    return 1 if failures else 0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--root", default=os.path.dirname(here), help="source tree (default: this script's tree)")
    p.add_argument("--build", help="build directory (Ninja), configured from --root")
    p.add_argument("--seed", type=int, default=2026)
    p.add_argument("-n", type=int, default=80, help="number of mutants")
    p.add_argument("--sites", help="replay the sites recorded in this file instead of sampling")
    p.add_argument("--save-sites", help="write the chosen sites to this file")
    p.add_argument("--report", help="write the JSON report here")
    p.add_argument("--compare", nargs=2, metavar=("OLD", "NEW"))
    p.add_argument("--list-sites", action="store_true")
    p.add_argument("--restore", action="store_true", help="only undo a mutant left by a killed run")
    p.add_argument("--all", action="store_true", help="include the slow labels: " + ", ".join(SLOW_LABELS))
    p.add_argument("--tests", help="only tests whose name matches this regular expression")
    p.add_argument("-j", "--jobs", type=int, default=2)
    p.add_argument("--build-timeout", type=float, default=600, help="seconds a mutant may take to build")
    p.add_argument("--timeout-factor", type=float, default=3, help="tests may take this many times their "
                   "unmutated duration...")
    p.add_argument("--timeout-slack", type=float, default=20, help="...plus this many seconds")
    p.add_argument("--no-final-build", action="store_true", help="leave the rebuild of the restored tree to later")
    p.add_argument("--no-netns", action="store_true", help="run the tests outside a private network namespace")
    p.add_argument("--no-nice", action="store_true")
    p.add_argument("--self-test", action="store_true")
    args = p.parse_args()
    if args.self_test:
        return self_test()
    if args.compare:
        return compare(*args.compare)
    if args.list_sites:
        sites, total = (json.load(open(args.sites))["sites"], None) if args.sites else sample_sites(
            os.path.realpath(args.root), args.seed, args.n)
        for s in sites:
            print(f"{s['file']}:{s['line']}  {s['kind']} {s['fault']}\n    - {s['original'].strip()}\n"
                  f"    + {s['mutated'].strip()}")
        if args.save_sites:
            save_json(args.save_sites, dict(seed=args.seed, sites=sites))
        return 0
    if not args.build:
        p.error("--build is needed")
    if not args.no_nice and os.nice(0) < 10:
        os.nice(10 - os.nice(0))
    netns = os.path.join(os.path.realpath(args.root), "tests", "station", "netns.sh")
    args.netns = None if args.no_netns else netns
    return run_mutants(args)


if __name__ == "__main__":
    sys.exit(main())
