#!/usr/bin/env python3
"""Mutation testing for the native build: one-line mutants of the product code,
each rebuilt in a private copy of the tree and run against the native tests.

  scripts/mutation.py run --count 200 --seed 1 --results /work/mutation/before.jsonl
  scripts/mutation.py report /work/mutation/before.jsonl [--survivors]
  scripts/mutation.py list [--files packer/]        # the mutants it would make

A mutant is one changed line: a comparison or boundary flipped, an integer
constant moved by one, && and || swapped, or a statement deleted. The sample is
drawn with a fixed seed from every mutant of the chosen files, so the same
command always tests the same mutants; results are appended one JSON line per
mutant, and a rerun skips the mutants already in the results file.

Each worker owns a copy of the sources and a build folder under --workdir
(never the developer's tree). A mutant rebuilds only the mutated object, the
library that holds it and the binaries that link it; only the test binaries
that link the mutated code run, fastest first, each stopping at its first
failure and bounded by a timeout. Outcomes: killed (with the test that failed,
or "timeout"/"crash" and the binary), survived, no-build (the mutant did not
compile). With --all-tests every test runs on every mutant, and
`report --tests` then shows, per test, the mutants that no other test kills.
"""
import argparse
import collections
import concurrent.futures
import fnmatch
import hashlib
import json
import os
import random
import re
import shutil
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Product code the native tests reach: the reader, the writer side, the
# portable support layer, the portable setup logic and vxpack.
DEFAULT_FILES = [
    "archive/*.cpp", "packer/*.cpp", "support/text.cpp", "support/charset.cpp",
    "support/*_posix.cpp", "setup/ui_strings.cpp", "setup/package_text.cpp",
    "setup/install_names.cpp", "setup/uninstall_list.cpp", "tools/vxpack/*.cpp",
]

COMPARISONS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
LOGICAL = {"&&": "||", "||": "&&"}
# Binary operators are written with a space on each side, templates and
# shifts are not: " < " is a comparison, "vector<int>" and "<<" are not.
OPERATOR_RE = re.compile(r"(?<=\s)(<=|>=|==|!=|<|>|&&|\|\|)(?=\s)")
NUMBER_RE = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uU]?[lL]{0,2})(?![\w.])")
# Lines the native build never compiles: mutants there cannot be tested here.
WINDOWS_IF_RE = re.compile(r"#\s*(ifdef\s+_WIN32|if\s+defined\s*\(?_WIN32\)?\s*$)")
NATIVE_IF_RE = re.compile(r"#\s*elif")
DECLARATION_RE = re.compile(
    r"^(const|constexpr|static|auto|unsigned|signed|int|long|short|bool|char|wchar_t|double|float|"
    r"size_t|std::\w+|u?int\d+_t|using|typedef|struct|enum|class|namespace|template)\b"
    r"|^[A-Z]\w*(<[^>]*>)?[\s*&]+\w+\s*(=|;|\(|\[|\{)")


def strip_strings_and_comments(line):
    """The line with string and character literals blanked and any // comment cut."""
    out, i, quote = [], 0, None
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            out.append(" " if c != quote else c)
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)


def deletable(code, previous):
    """Whether the line is one whole statement whose removal still parses."""
    s = code.strip()
    if not s.endswith(";") or s.count("(") != s.count(")") or s.count("{") != s.count("}"):
        return False
    if DECLARATION_RE.match(s) or s.startswith(("return", "}", "case ", "default", "static_assert")):
        return False
    # Must start a statement: the previous line ended one or opened a block.
    return previous.endswith((";", "{", "}")) or previous == "" or previous.endswith(":")


class Tree:
    """The sources under test: the working tree (tracked and new files) or one commit."""

    def __init__(self, rev=None):
        self.rev = rev
        command = ["ls-tree", "-r", "--name-only", rev] if rev else ["ls-files", "-co", "--exclude-standard"]
        self.files = sorted(git(*command).split("\n")[:-1])

    def read(self, path):
        if self.rev:
            return subprocess.run(["git", "-C", ROOT, "show", "%s:%s" % (self.rev, path)],
                                  capture_output=True, check=True).stdout
        with open(os.path.join(ROOT, path), "rb") as f:
            return f.read()


def git(*args):
    return subprocess.run(["git", "-C", ROOT] + list(args), capture_output=True, text=True, check=True).stdout


def mutants_of(tree, path):
    """Every one-line mutant of a source file, as dicts (file, line, op, old, new)."""
    lines = tree.read(path).decode("utf-8", "surrogateescape").split("\n")
    found, in_block_comment, previous = [], False, ""
    windows_only = []  # per open #if: whether the native build skips its lines
    for number, line in enumerate(lines, 1):
        directive = line.strip()
        if directive.startswith("#if"):
            windows_only.append(bool(WINDOWS_IF_RE.match(directive)))
        elif directive.startswith("#el") and windows_only:
            windows_only[-1] = not windows_only[-1] if NATIVE_IF_RE.match(directive) is None else False
        elif directive.startswith("#endif") and windows_only:
            windows_only.pop()
        if any(windows_only):
            continue
        code = line
        if in_block_comment:
            if "*/" not in code:
                continue
            code = code.split("*/", 1)[1]
            in_block_comment = False
        if "/*" in code:
            code, in_block_comment = code.split("/*", 1)[0], "*/" not in code.split("/*", 1)[1]
        code = strip_strings_and_comments(code)
        stripped = code.strip()
        if not stripped or stripped.startswith("#") or "static_assert" in stripped:
            continue

        def add(op, start, end, replacement):
            found.append({"file": path, "line": number, "op": op, "old": line,
                          "new": line[:start] + replacement + line[end:]})

        for m in OPERATOR_RE.finditer(code):
            token = m.group(1)
            if token in LOGICAL:
                add("logical", m.start(1), m.end(1), LOGICAL[token])
            else:
                add("compare", m.start(1), m.end(1), COMPARISONS[token])
        for m in NUMBER_RE.finditer(code):
            text, suffix = m.group(1), m.group(2)
            value = int(text, 16) if text[:2].lower() == "0x" else int(text, 10) if text == "0" or text[0] != "0" else None
            if value is None:
                continue
            for delta in (1, -1):
                if value + delta < 0:
                    continue
                moved = hex(value + delta) if text[:2].lower() == "0x" else str(value + delta)
                add("constant%+d" % delta, m.start(1), m.end(2), moved + suffix)
        if deletable(code, previous):
            indent = line[: len(line) - len(line.lstrip())]
            add("delete", 0, len(line), indent + ";")
        previous = stripped
    for m in found:
        key = "%s:%d:%s:%s" % (m["file"], m["line"], m["op"], m["new"])
        m["id"] = hashlib.sha1(key.encode("utf-8", "surrogateescape")).hexdigest()[:12]
    return found


def source_files(tree, patterns):
    return [path for path in tree.files
            if path.endswith(".cpp") and not path.endswith("_win32.cpp")
            and any(fnmatch.fnmatch(path, p) or (p.endswith("/") and path.startswith(p)) for p in patterns)]


def sample(tree, patterns, count, seed, like=None):
    everything = [m for path in source_files(tree, patterns) for m in mutants_of(tree, path)]
    if like:
        # The same changes as in an earlier results file, matched by file
        # name, line and text, so a moved file keeps its mutants.
        with open(like) as f:
            wanted = {same_change(json.loads(line)) for line in f if line.strip()}
        return everything, [m for m in everything if same_change(m) in wanted]
    rng = random.Random(seed)
    picked = everything if count <= 0 or count >= len(everything) else rng.sample(everything, count)
    return everything, picked


def same_change(m):
    return os.path.basename(m["file"]), m["line"], m["old"], m["new"]


# ---- the private build ------------------------------------------------------

class Worker:
    """One private copy of the tree with its own build folder."""

    def __init__(self, workdir, index, build_type, cores):
        self.base = os.path.join(workdir, "w%d" % index)
        self.src = os.path.join(self.base, "src")
        self.build = os.path.join(self.base, "build")
        self.build_type = build_type
        self.cores = cores       # ninja's parallel jobs for this worker
        self.mutated = None  # path of the file currently holding a mutant
        self.pristine = {}   # path -> unmutated text, read when the copy was made

    def prepare(self, tree):
        """Brings the copy in line with the tree (rewriting only what differs) and builds it."""
        for path in tree.files:
            target = os.path.join(self.src, path)
            if not tree.rev and not os.path.isfile(os.path.join(ROOT, path)):
                continue  # deleted in the working tree
            content = tree.read(path)
            if os.path.exists(target) and open(target, "rb").read() == content:
                continue  # unchanged: keep its time so nothing rebuilds
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(content)
            if not tree.rev:
                shutil.copymode(os.path.join(ROOT, path), target)
            elif path.endswith(".sh"):
                os.chmod(target, 0o755)
        if not os.path.exists(os.path.join(self.build, "build.ninja")):
            subprocess.run(["cmake", "-S", self.src, "-B", self.build, "-G", "Ninja",
                            "-DCMAKE_BUILD_TYPE=" + self.build_type,
                            "-DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST"],
                           check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["ninja", "-C", self.build, "-j%d" % self.cores], check=True, stdout=subprocess.DEVNULL)
        self.graph = read_ninja_graph(os.path.join(self.build, "build.ninja"))

    def write(self, path, text):
        with open(os.path.join(self.src, path), "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write(text)

    def restore(self):
        if self.mutated:
            self.write(self.mutated, self.pristine[self.mutated])
            self.mutated = None

    def apply(self, mutant):
        if self.mutated and self.mutated != mutant["file"]:
            self.restore()
        if mutant["file"] not in self.pristine:
            with open(os.path.join(self.src, mutant["file"]), encoding="utf-8", errors="surrogateescape") as f:
                self.pristine[mutant["file"]] = f.read()
        lines = self.pristine[mutant["file"]].split("\n")
        if lines[mutant["line"] - 1] != mutant["old"]:
            sys.exit("%s changed since the sample was drawn" % mutant["file"])
        lines[mutant["line"] - 1] = mutant["new"]
        self.write(mutant["file"], "\n".join(lines))
        self.mutated = mutant["file"]


def read_ninja_graph(path):
    """output -> (rule, explicit and implicit inputs) for every build edge."""
    graph = {}
    with open(path) as f:
        for line in f:
            if not line.startswith("build "):
                continue
            outputs, _, rest = line[6:].rstrip("\n").partition(": ")
            words = rest.split("||")[0].split()
            rule, inputs = words[0], [w for w in words[1:] if w != "|"]
            for out in outputs.split("|")[0].split():
                graph[out] = (rule, inputs)
    return graph


def is_test(graph, output):
    rule, inputs = graph[output]
    return "EXECUTABLE_LINKER" in rule and "lib/libgtest_main.a" in inputs


def dependent_tests(graph, source):
    """The test binaries that link the object built from source."""
    reached, frontier = set(), {source}
    while frontier:
        frontier = {out for out, (_, ins) in graph.items() if frontier.intersection(ins)} - reached
        reached |= frontier
    return sorted(o for o in reached if is_test(graph, o))


# ---- running one mutant ------------------------------------------------------

FAILED_RE = re.compile(r"^\[  FAILED  \] (\S+)", re.M)


def run_mutant(worker, mutant, baseline, build_timeout, all_tests=False):
    worker.apply(mutant)
    source = os.path.join(worker.src, mutant["file"])
    tests = dependent_tests(worker.graph, source)
    result = dict(mutant)
    if not tests:
        result.update(outcome="survived", by=None, note="no test binary links this file")
        return result
    started = time.time()
    result["outcome"] = "survived"
    killers = []  # with all_tests: every test that failed
    # Each test binary is linked just before it runs: once one fails, the
    # others are never linked (unless every test is to run).
    for test in sorted(tests, key=lambda t: baseline.get(t, 0)):
        try:
            built = subprocess.run(["ninja", "-C", worker.build, "-j%d" % worker.cores, test],
                                   capture_output=True, timeout=build_timeout).returncode == 0
        except subprocess.TimeoutExpired:
            built = False
        if not built:
            result["outcome"] = "no-build"
            killers = []
            break
        binary = os.path.join(worker.build, test)
        limit = 10 + 5 * baseline.get(test, 10)
        flags = ["--gtest_brief=1"] if all_tests else ["--gtest_fail_fast", "--gtest_brief=1"]
        try:
            run = subprocess.run([binary] + flags, capture_output=True,
                                 text=True, errors="replace", timeout=limit, cwd=os.path.dirname(binary))
        except subprocess.TimeoutExpired:
            by = ["timeout in " + os.path.basename(test)]
        else:
            by = FAILED_RE.findall(run.stdout)
            if run.returncode < 0:
                by.append("crash (signal %d) in %s" % (-run.returncode, os.path.basename(test)))
            elif run.returncode != 0 and not by:
                by.append("exit %d in %s" % (run.returncode, os.path.basename(test)))
        if by:
            if not killers:  # the first test that failed
                result.update(outcome="killed", by=by[0])
            killers += by
            if not all_tests:
                break
    if all_tests and result["outcome"] == "killed":
        result["killers"] = sorted(set(killers))
    result["seconds"] = round(time.time() - started, 1)
    return result


def timed_baseline(worker, tree):
    """Seconds each test binary takes on the unmutated tree; every one must pass.
    Kept beside the build for a commit, so that a resumed run skips it."""
    cache = os.path.join(worker.base, "baseline.json")
    key = git("rev-parse", tree.rev).strip() if tree.rev else None
    if key and os.path.exists(cache):
        with open(cache) as f:
            saved = json.load(f)
        if saved.get("commit") == key:
            return saved["times"]
    print("timing the tests on the unmutated tree", flush=True)
    times = {}
    for test in sorted(out for out in worker.graph if is_test(worker.graph, out)):
        started = time.time()
        run = subprocess.run([os.path.join(worker.build, test), "--gtest_brief=1"], capture_output=True,
                             text=True, errors="replace", cwd=os.path.dirname(os.path.join(worker.build, test)))
        if run.returncode != 0:
            sys.exit("baseline: %s fails without a mutant:\n%s" % (test, run.stdout[-2000:]))
        times[test] = time.time() - started
    if key:
        with open(cache, "w") as f:
            json.dump({"commit": key, "times": times}, f)
    return times


def work(worker, mutants, baseline, results_path, build_timeout, lock, all_tests):
    for mutant in mutants:
        result = run_mutant(worker, mutant, baseline, build_timeout, all_tests)
        with lock:
            with open(results_path, "a") as f:
                f.write(json.dumps(result) + "\n")
            print("%-8s %s:%d %s%s" % (result["outcome"], mutant["file"], mutant["line"], mutant["op"],
                                       "  <- " + result["by"] if result.get("by") else ""), flush=True)
    worker.restore()


def command_run(args):
    tree = Tree(args.rev)
    everything, picked = sample(tree, args.files, args.count, args.seed, args.like)
    done = set()
    if os.path.exists(args.results):
        with open(args.results) as f:
            done = {json.loads(line)["id"] for line in f if line.strip()}
    todo = [m for m in picked if m["id"] not in done]
    print("%d mutants in the files, %d picked (%s), %d already done, %d to run"
          % (len(everything), len(picked), "like " + args.like if args.like else "seed %d" % args.seed,
             len(picked) - len(todo), len(todo)), flush=True)
    if not todo:
        return
    os.makedirs(os.path.dirname(os.path.abspath(args.results)), exist_ok=True)
    # Each file goes to one worker, so a worker rebuilds the original of a
    # file only when it moves on to the next one.
    by_file = collections.defaultdict(list)
    for m in todo:
        by_file[m["file"]].append(m)
    queues = [[] for _ in range(args.jobs)]
    for path in sorted(by_file, key=lambda p: -len(by_file[p])):
        min(queues, key=len).extend(sorted(by_file[path], key=lambda m: m["line"]))
    cores = max(1, (os.cpu_count() or 2) // args.jobs)
    workers = [Worker(args.workdir, i, args.build_type, cores) for i in range(args.jobs)]
    for w in workers:
        w.prepare(tree)
    baseline = timed_baseline(workers[0], tree)
    lock = threading.Lock()
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = [pool.submit(work, w, q, baseline, args.results, args.build_timeout, lock, args.all_tests)
                   for w, q in zip(workers, queues) if q]
        for f in futures:
            f.result()
    command_report(argparse.Namespace(results=args.results, survivors=False, tests=False))


def command_report(args):
    results = {}
    with open(args.results) as f:
        for line in f:
            if line.strip():
                r = json.loads(line)
                results[r["id"]] = r
    per_file = collections.defaultdict(collections.Counter)
    for r in results.values():
        per_file[r["file"]][r["outcome"]] += 1
    print("%-34s %7s %9s %9s %7s" % ("file", "killed", "survived", "no-build", "score"))
    total = collections.Counter()
    for path in sorted(per_file):
        c = per_file[path]
        total.update(c)
        scored = c["killed"] + c["survived"]
        print("%-34s %7d %9d %9d %6.0f%%" % (path, c["killed"], c["survived"], c["no-build"],
                                            100.0 * c["killed"] / scored if scored else 0))
    scored = total["killed"] + total["survived"]
    print("%-34s %7d %9d %9d %6.1f%%" % ("total", total["killed"], total["survived"], total["no-build"],
                                        100.0 * total["killed"] / scored if scored else 0))
    killers = collections.Counter(r["by"].split(".")[0] if "." in r["by"] else r["by"]
                                  for r in results.values() if r.get("by"))
    print("killed by (suite): " + ", ".join("%s %d" % kv for kv in killers.most_common()))
    if args.tests:
        # Which tests kill which mutants, from a run with --all-tests: a test
        # that kills no mutant alone adds nothing the others do not catch
        # (among these mutants).
        kills, alone = collections.Counter(), collections.Counter()
        for r in results.values():
            for k in r.get("killers", []):
                kills[k] += 1
            if len(r.get("killers", [])) == 1:
                alone[r["killers"][0]] += 1
        print("%-70s %6s %6s" % ("test", "kills", "alone"))
        for test, n in sorted(kills.items(), key=lambda kv: (alone[kv[0]], kv[1])):
            print("%-70s %6d %6d" % (test, n, alone[test]))
    if args.survivors:
        for r in sorted(results.values(), key=lambda r: (r["file"], r["line"])):
            if r["outcome"] == "survived":
                print("%s:%d %s\n  - %s\n  + %s" % (r["file"], r["line"], r["op"], r["old"].strip(), r["new"].strip()))


def command_list(args):
    everything, picked = sample(Tree(args.rev), args.files, args.count, args.seed, args.like)
    for m in sorted(picked, key=lambda m: (m["file"], m["line"])):
        print("%s %s:%d %s: %s" % (m["id"], m["file"], m["line"], m["op"], (m["new"] if m["op"] != "delete" else m["old"]).strip()))
    print("%d of %d mutants" % (len(picked), len(everything)), file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    for name in ("run", "list"):
        p = sub.add_parser(name)
        p.add_argument("--files", nargs="+", default=DEFAULT_FILES,
                       help="source globs or folders/ to mutate (default: all product code the native tests reach)")
        p.add_argument("--count", type=int, default=200, help="mutants to sample (0: all)")
        p.add_argument("--seed", type=int, default=1)
        p.add_argument("--rev", help="test this commit instead of the working tree")
        p.add_argument("--like", metavar="RESULTS",
                       help="instead of a sample: the mutants of an earlier results file (same file name, line and change)")
    run = sub.choices["run"]
    run.add_argument("--results", required=True, help="JSON-lines file the results are appended to")
    run.add_argument("--workdir", default=os.path.join(os.path.expanduser("~"), ".cache", "vx-mutation"),
                     help="private copies and builds (one per job)")
    run.add_argument("--jobs", type=int, default=2)
    run.add_argument("--build-type", default="Release")
    run.add_argument("--build-timeout", type=int, default=600)
    run.add_argument("--all-tests", action="store_true",
                     help="run every test on each mutant (not only up to the first failure) and record each killer")
    report = sub.add_parser("report")
    report.add_argument("results")
    report.add_argument("--survivors", action="store_true", help="also list every surviving mutant")
    report.add_argument("--tests", action="store_true",
                        help="per test: the mutants it kills and those it alone kills (runs with --all-tests)")
    args = parser.parse_args()
    {"run": command_run, "report": command_report, "list": command_list}[args.command](args)


if __name__ == "__main__":
    main()
