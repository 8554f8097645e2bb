#!/usr/bin/env bash
# Runs the examples of README.md and docs/*.md against a built tree and
# checks their relative links. Stops at the first failure.
#
# Usage: scripts/check_docs.sh [--show] [BUILD_DIR] [FILE.md...]
#   BUILD_DIR defaults to build/, which needs the command and the generated
#   models: cmake --build build -j2 --target velmora_cli models
#   FILE.md   only these files (default: README.md and docs/*.md)
#   --show    print what each console command printed (to bring a
#             transcript up to date)
#
# What a fenced block's info string means:
#   sh           run, in document order, with bash -e in a scratch folder
#   sh slow      a real command that is too slow or reaches outside the
#                scratch folder (set-up, the whole suite, installs): skipped
#   console      a transcript: every "$ COMMAND" line is run and the lines
#                shown after it must come out, in order, with every number
#                (and unit of bytes) allowed to differ, and the scratch
#                folder read as /tmp/doc
#                ("..." stands for lines left out); with none shown, the
#                command must succeed
#   c, cpp       compiled (syntax only) against include/
#   c fragment   not compiled
#   json         parsed
#   anything else is not run.
# Each file runs in a fresh copy of the scratch folder, which holds `build`
# and `third_party` (links to the tree's), the pictures page.png (a page of
# printed text, 1600 x 1200), photo.png (2000 x 1500), small.png (400 x
# 300) and scans/ (three pages of 1200 x 900), and the models
# ch_PP-OCRv4_det_infer.onnx with its profile, matte.onnx
# (build/models/global_mix_t256.onnx, which reads the picture as a whole)
# and upscale_x4.onnx (build/models/up4_conv_open.onnx, an upscaler of open
# size). The build's bin/ leads the PATH.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
show=0
[ "${1:-}" = --show ] && { show=1; shift; }
build="$root/build"
if [ $# -gt 0 ] && [ -d "$1" ]; then build="$(cd "$1" && pwd)"; shift; fi
files=("$@")
((${#files[@]})) || files=("$root/README.md" "$root"/docs/*.md)

for need in "$build/bin/velmora" "$build/models/.stamp" "$root/third_party/models/ch_PP-OCRv4_det_infer.onnx"; do
  if [ ! -e "$need" ]; then
    echo "check_docs: $need is missing; run scripts/setup.sh, then" \
      "cmake --build ${build#"$root"/} -j2 --target velmora_cli models" >&2
    exit 2
  fi
done

scratch="$(mktemp -d "${TMPDIR:-/tmp}/velmora-docs.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
base="$scratch/base"
mkdir -p "$base/scans"
ln -s "$build" "$base/build"
ln -s "$root/third_party" "$base/third_party"
py=/usr/bin/python3
$py "$root/scripts/make_page.py" "$base/page.png" --width 1600 --height 1200 >/dev/null
$py "$root/scripts/make_photo.py" "$base/photo.png" >/dev/null
$py "$root/scripts/make_photo.py" "$base/small.png" --width 400 --height 300 >/dev/null
$py "$root/scripts/make_page.py" "$base/scans/page1.png" --width 1200 --height 900 >/dev/null
cp "$base/scans/page1.png" "$base/scans/page2.png"
cp "$base/scans/page1.png" "$base/scans/page3.png"
ln -s "$root/third_party/models/ch_PP-OCRv4_det_infer.onnx" "$base/"
ln -s "$root/third_party/models/ch_PP-OCRv4_det_infer.onnx.json" "$base/"
ln -s "$build/models/global_mix_t256.onnx" "$base/matte.onnx"
ln -s "$build/models/up4_conv_open.onnx" "$base/upscale_x4.onnx"

PATH="$build/bin:$PATH" $py - "$root" "$scratch" "$show" "${files[@]}" <<'PY'
import json, os, re, shutil, subprocess, sys

root, scratch, show, files = sys.argv[1], sys.argv[2], sys.argv[3] == "1", sys.argv[4:]


def fail(where, text):
    print(f"check_docs: {where}: {text}", file=sys.stderr)
    sys.exit(1)


def blocks(path):
    """(line, info string, text) of every fenced block."""
    lines = open(path, encoding="utf-8").read().split("\n")
    i = 0
    while i < len(lines):
        m = re.match(r"^(\s*)```(.*)$", lines[i])
        if m:
            indent, info, start = len(m.group(1)), m.group(2).strip(), i + 1
            body = []
            i += 1
            while i < len(lines) and not re.match(r"^\s*```\s*$", lines[i]):
                body.append(lines[i][indent:] if lines[i][:indent].strip() == "" else lines[i])
                i += 1
            yield start, info, "\n".join(body) + "\n"
        i += 1


def slug(heading):
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def anchors(path):
    found, counts = set(), {}
    inside = False
    for line in open(path, encoding="utf-8"):
        if line.lstrip().startswith("```"):
            inside = not inside
        m = None if inside else re.match(r"^#+\s+(.*?)\s*$", line)
        if m:
            s = slug(m.group(1))
            n = counts.get(s, 0)
            counts[s] = n + 1
            found.add(s if n == 0 else f"{s}-{n}")
    return found


def check_links(path):
    text = open(path, encoding="utf-8").read()
    text = re.sub(r"```.*?```", "", text, flags=re.S)
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"^[a-z]+:", target):
            continue
        file, _, anchor = target.partition("#")
        dest = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
        if not os.path.exists(dest):
            fail(os.path.relpath(path, root), f"the link {target} leads nowhere")
        if anchor and dest.endswith(".md") and anchor not in anchors(dest):
            fail(os.path.relpath(path, root), f"the link {target}: no heading makes #{anchor}")


def masked(line, folder):
    line = line.replace(folder, "/tmp/doc").rstrip()
    line = re.sub(r"\d+(\.\d+)?", "N", line)
    line = re.sub(r"\bN [kMGT]?B\b", "N B", line)
    return re.sub(r"\b(run|tile|channel|picture|second)s\b", r"\1", line)


def run(command, folder):
    return subprocess.run(["bash", "-e", "-o", "pipefail", "-c", command], cwd=folder,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def check_console(where, text, folder):
    commands = []
    for line in text.splitlines():
        if line.startswith("$ "):
            commands.append((line[2:], []))
        elif commands:
            commands[-1][1].append(line)
        elif line.strip():
            fail(where, "a console block starts with output, not a $ line")
    for command, expected in commands:
        done = run(command, folder)
        if show:
            print(f"$ {command}\n{done.stdout.replace(folder, '/tmp/doc')}", end="")
        got = [masked(line, folder) for line in done.stdout.splitlines()]
        want = [masked(line, folder) for line in expected if line.strip() and line.strip() != "..."]
        if not want and done.returncode != 0:
            fail(where, f"$ {command}\nexited with {done.returncode}:\n{done.stdout}")
        position = 0
        for line in want:
            while position < len(got) and got[position] != line:
                position += 1
            if position == len(got):
                fail(where, f"$ {command}\ndid not print, in this order, a line like\n  {line}\n"
                            f"it printed (exit {done.returncode}):\n{done.stdout}")
            position += 1


ran = skipped = 0
for path in files:
    path = os.path.abspath(path)
    name = os.path.relpath(path, root)
    check_links(path)
    folder = os.path.join(scratch, "run-" + re.sub(r"\W", "_", name))
    shutil.copytree(os.path.join(scratch, "base"), folder, symlinks=True)
    for line, info, text in blocks(path):
        where = f"{name}:{line}"
        words = info.split()
        kind = words[0] if words else ""
        if kind == "sh" and len(words) == 1:
            done = run("set -x\n" + text, folder)
            if done.returncode != 0:
                fail(where, f"the block failed (exit {done.returncode}):\n{done.stdout}")
            ran += 1
        elif kind == "console":
            check_console(where, text, folder)
            ran += 1
        elif kind in ("c", "cpp") and len(words) == 1:
            compiler = ["cc", "-std=c11", "-x", "c"] if kind == "c" else ["c++", "-std=c++17", "-x", "c++"]
            done = subprocess.run(compiler + ["-fsyntax-only", "-Wall", "-Werror", "-I", os.path.join(root, "include"),
                                              "-"], input=text, text=True, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT)
            if done.returncode != 0:
                fail(where, f"the {kind} example does not compile:\n{done.stdout}")
            ran += 1
        elif kind == "json":
            try:
                json.loads(text)
            except ValueError as e:
                fail(where, f"not JSON: {e}")
            ran += 1
        elif kind == "sh":
            skipped += 1
    print(f"check_docs: {name}: examples and links hold")
print(f"check_docs: {ran} blocks run or checked, {skipped} slow ones left out, in {len(files)} files")
PY
