#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Runs the programs as a new user would, under strace, and fails on anything that could leave
the computer or litter it: a socket or connection of the internet families, a file written
outside the library, the user's Quillmere folders and Qt's own caches, or a new
/tmp/mat-debug-* log (the telemetry of some ONNX Runtime builds).

privacy-test.py BUILD_DIR APP(0|1)
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

WRITE_FLAGS = ("O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC")
# Calls that make or move a name; their first path argument is the one written.
NAMING_CALLS = ("mkdir", "mkdirat", "creat", "rename", "renameat", "renameat2", "link",
                "linkat", "symlink", "symlinkat", "unlink", "unlinkat")
TRACED = "socket,connect,sendto,openat,open," + ",".join(NAMING_CALLS)


def fail(message):
    print(f"privacy test: {message}", file=sys.stderr)
    sys.exit(1)


def network_calls(log):
    """Lines that open or use a socket of the internet families."""
    return [line for line in log if re.search(r"\b(AF_INET6?|PF_INET6?)\b", line)]


def written_paths(log):
    """Every path a traced process opened for writing or named, made absolute."""
    paths = []
    for line in log:
        call = re.match(r"^\d+\s+(\w+)\((.*)", line)
        if not call:
            continue
        name, arguments = call.groups()
        strings = re.findall(r'"((?:[^"\\]|\\.)*)"', arguments)
        # A name relative to a directory descriptor (strace -y shows its path) is joined to it.
        for directory, name_at in re.findall(r'\d+<([^>]*)>,\s*"((?:[^"\\]|\\.)*)"', arguments):
            strings[strings.index(name_at)] = os.path.join(directory, name_at)
        if not strings or "= -1" in line:
            continue
        if name in ("open", "openat"):
            if any(flag in arguments for flag in WRITE_FLAGS):
                paths.append(strings[0])
        elif name in NAMING_CALLS:
            paths.extend(strings)
    return paths


def allowed(path, places):
    return any(path == place or path.startswith(place.rstrip("/") + "/") for place in places)


def run_traced(command, env, log_path, cwd):
    """The command's exit status and the trace's lines."""
    done = subprocess.run(["strace", "-f", "-qq", "-y", "-s", "4096", "-e", f"trace={TRACED}",
                           "-o", log_path] + command, env=env, cwd=cwd, check=False,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode not in (0, 124):
        print(done.stderr, file=sys.stderr)
    with open(log_path, encoding="utf-8", errors="replace") as f:
        return done.returncode, f.read().splitlines()


def main():
    if len(sys.argv) != 3:
        fail("usage: privacy-test.py BUILD_DIR APP(0|1)")
    build, app = os.path.abspath(sys.argv[1]), sys.argv[2] == "1"
    if not shutil.which("strace"):
        fail("strace is not installed")
    # A machine whose sandbox forbids ptrace cannot run this check at all: skipped, loudly.
    probe = subprocess.run(["strace", "-f", "-qq", "-o", os.devnull, "true"],
                           capture_output=True, text=True, check=False)
    if probe.returncode != 0:
        print(f"privacy test: skipped: strace cannot trace here: {probe.stderr.strip()}",
              file=sys.stderr)
        sys.exit(77)
    tmp = tempfile.mkdtemp(prefix="quillmere-privacy-")
    try:
        check(build, app, tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def check(build, app, tmp):
    home = os.path.join(tmp, "home")
    media = os.path.join(tmp, "media")
    work = os.path.join(tmp, "work")
    for d in (home, media, work):
        os.makedirs(d)
    photos = sorted(glob.glob("/usr/share/backgrounds/mate/nature/*.jpg"))[:3]
    if not photos:
        fail("no wallpaper photos in /usr/share/backgrounds/mate/nature")
    for photo in photos:
        subprocess.run(["vips", "thumbnail", photo, os.path.join(media, os.path.basename(photo))
                        + "[Q=85]", "320"], check=True)
    subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "color=c=0xcc1a1a:s=160x90:r=10:d=2", "-c:v", "libx264", "-pix_fmt",
                    "yuv420p", os.path.join(media, "red.mp4")], check=True)

    # A new user: nothing in the home folder, nothing of ours in the environment.
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("QUILLMERE_", "XDG_", "ORT_"))}
    # A desktop session's runtime folder, where the single-instance socket lives.
    runtime = os.path.join(tmp, "runtime")
    os.makedirs(runtime, mode=0o700)
    env.update(HOME=home, QT_QPA_PLATFORM="offscreen", TMPDIR=work, XDG_RUNTIME_DIR=runtime)
    # LeakSanitizer cannot work under ptrace; the sanitized suites look for leaks.
    env["ASAN_OPTIONS"] = (env.get("ASAN_OPTIONS", "") + ":detect_leaks=0").lstrip(":")
    places = [os.path.join(home, ".local/share/Quillmere"),
              os.path.join(home, ".config/Quillmere"),
              os.path.join(home, ".cache/quillmere"),
              # Qt's own: the QML and shader caches, the settings, fontconfig's cache.
              os.path.join(home, ".cache/Quillmere"),
              os.path.join(home, ".cache/fontconfig"),
              os.path.join(home, ".config/quillmere.org"),
              runtime, "/dev/null", "/dev/tty", "/dev/shm", "/proc/self", "/dev/dri"]
    # Directories the programs may make on the way to the places above.
    parents = set()
    for place in places:
        parent = os.path.dirname(place)
        while parent not in ("/", ""):
            parents.add(parent)
            parent = os.path.dirname(parent)
    stray_logs = set(glob.glob("/tmp/mat-debug-*")) | set(glob.glob(os.path.join(work, "mat-*")))

    cli = os.path.join(build, "cli", "quillmere-cli")
    runs = [("add", [cli, "add", media]), ("index", [cli, "index"]),
            ("search", [cli, "search", "red", "--limit", "3", "--exact"]),
            ("similar", [cli, "similar", os.path.join(media, os.path.basename(photos[0]))])]
    if app:
        # Start-up with an image query, left open a while, as the telemetry waited to upload.
        runs.append(("application", ["timeout", "-s", "INT", "25",
                                     os.path.join(build, "app", "quillmere"),
                                     os.path.join(media, os.path.basename(photos[0]))]))
    # The one connection allowed: the model download the user asks for, to the hub it names
    # (a stand-in on the loopback address).
    hub_root = os.path.join(tmp, "hub")
    os.makedirs(os.path.join(hub_root, "immich-app"))
    os.symlink(os.path.join(build, "published-models/immich/ViT-B-16-SigLIP2__webli"),
               os.path.join(hub_root, "immich-app/ViT-B-16-SigLIP2__webli"))
    hub = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__),
                                                         "../support/hub-server.py"), hub_root],
                           stdout=subprocess.PIPE, text=True)
    port = hub.stdout.readline().strip()
    runs.append(("download", ["env", f"HF_ENDPOINT=http://127.0.0.1:{port}", cli, "model",
                              "download", "immich-app/ViT-B-16-SigLIP2__webli"]))
    hub_address = f'sin_port=htons({port}), sin_addr=inet_addr("127.0.0.1")'
    problems = []
    for name, command in runs:
        status, log = run_traced(command, env, os.path.join(tmp, f"{name}.strace"), work)
        if name == "download":
            log = [line for line in log if not (
                re.search(r"\bsocket\(AF_INET", line) or
                (re.search(r"\bconnect\(", line) and hub_address in line))]
        # The application runs until timeout stops it (124).
        if status != (124 if name == "application" else 0):
            problems.append(f"{name}: exited with {status}")
        problems += [f"{name}: network: {line}" for line in network_calls(log)]
        for path in written_paths(log):
            path = os.path.normpath(os.path.join(work, path))
            if not (allowed(path, places) or path in parents):
                problems.append(f"{name}: wrote {path}")
    hub.kill()
    hub.wait()
    new_logs = (set(glob.glob("/tmp/mat-debug-*")) |
                set(glob.glob(os.path.join(work, "mat-*")))) - stray_logs
    problems += [f"left {log}" for log in sorted(new_logs)]
    if not os.path.isfile(os.path.join(home, ".local/share/Quillmere/Library.sqlite")):
        problems.append("the command line made no library in the home folder")
    for problem in dict.fromkeys(problems):
        print(problem, file=sys.stderr)
    if problems:
        fail(f"{len(problems)} findings")
    print(f"privacy test: {len(runs)} runs, no network but the download's own connection to "
          "the hub, nothing written outside the user's Quillmere folders")


if __name__ == "__main__":
    main()
