#!/usr/bin/env python3
"""A day of hostile play: simhost runs a 32-player scripted match with the plugin at a high game
speed while spectators come and go, heartbeats flood in from many ports, browser-style viewers
follow the stream over HTTP, hostile clients poke the web server and the console changes the
delay, switches recording and reloads. The process's memory, threads and descriptors are sampled
every few game minutes. Fails on growth after the warm-up, a crash, a sanitizer report, a demo
that kdem rejects, a file served from outside the plugin folder, a malformed live fragment, or a
spectator whose rebuilt scoreboard was never the game's.

Run through scripts/soak.sh, which builds the programs first."""

import argparse
import json
import os
import random
import re
import shutil
import signal
import socket
import struct
import statistics
import subprocess
import sys
import threading
import time

MAP_SECONDS = 1200          # a map change every 20 game minutes
PACKET_MAX = 512
MIN_DELAY = 30              # game seconds; the console cannot set less
HEAD_END = re.compile(rb"\r?\n\r?\n")  # the plugin ends its header lines with a bare line feed
SANITIZER = re.compile(r"ERROR: (AddressSanitizer|LeakSanitizer|ThreadSanitizer)|runtime error:|"
                       r"WARNING: ThreadSanitizer|SUMMARY: \w+Sanitizer")


CHILDREN = []  # every process started, ended on an interrupt


def spawn(*args, **kwargs):
    p = subprocess.Popen(*args, **kwargs)
    CHILDREN.append(p)
    return p


def log(msg):
    print("soak: " + msg, flush=True)


def free_port(kind):
    s = socket.socket(socket.AF_INET, kind)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Failures:
    def __init__(self):
        self.lock = threading.Lock()
        self.items = []

    def add(self, text):
        with self.lock:
            if len(self.items) < 200:
                self.items.append(text)


class Counters:
    def __init__(self):
        self.lock = threading.Lock()
        self.c = {}

    def add(self, key, n=1):
        with self.lock:
            self.c[key] = self.c.get(key, 0) + n


# --- the process under test ---------------------------------------------------------------------

def proc_sample(pid, tcp_port):
    """Resident memory (KiB), threads, open descriptors other than demo files, open demo files,
    web connections open on tcp_port (each holds a visitor and a descriptor), and the web
    visitors' threads (kept between connections, at most max_visitors)."""
    rss = threads = None
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
            elif line.startswith("Threads:"):
                threads = int(line.split()[1])
    fds = demos = 0
    sockets = set()
    for name in os.listdir(f"/proc/{pid}/fd"):
        try:
            target = os.readlink(f"/proc/{pid}/fd/{name}")
        except OSError:
            continue  # closed while we looked
        if target.endswith(".kdem"):
            demos += 1
        else:
            fds += 1
            if target.startswith("socket:["):
                sockets.add(target[8:-1])
    return rss, threads, fds, demos, web_connections(sockets, tcp_port), visitor_threads(pid)


VISITOR_THREAD = "kovitv-visitor"
MAX_VISITORS = 64  # the soak's max_visitors


def visitor_threads(pid):
    count = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/comm") as f:
                count += f.read().strip() == VISITOR_THREAD
        except OSError:
            continue  # ended while we looked
    return count


def web_connections(inodes, port):
    """Accepted TCP connections on port among the socket inodes (the listener not counted)."""
    count = 0
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f)
                for line in f:
                    cols = line.split()
                    if len(cols) < 10 or cols[9] not in inodes or cols[3] == "0A":  # 0A: LISTEN
                        continue
                    if int(cols[1].rsplit(":", 1)[1], 16) == port:
                        count += 1
        except OSError:
            continue
    return count


def udp_drops(pid):
    """Datagrams the kernel dropped on the UDP sockets of process pid (its receive buffer full)."""
    inodes = set()
    try:
        for name in os.listdir(f"/proc/{pid}/fd"):
            try:
                t = os.readlink(f"/proc/{pid}/fd/{name}")
            except OSError:
                continue
            if t.startswith("socket:["):
                inodes.add(t[8:-1])
        total = 0
        with open("/proc/net/udp") as f:
            next(f)
            for line in f:
                cols = line.split()
                if len(cols) >= 13 and cols[9] in inodes:
                    total += int(cols[12])
        return total
    except OSError:
        return None


# --- load ---------------------------------------------------------------------------------------

class Load:
    def __init__(self, args, ports, failures, counters, secret):
        self.args = args
        self.udp_port, self.tcp_port = ports
        self.failures = failures
        self.counters = counters
        self.secret = secret
        self.stop = threading.Event()
        self.rng = random.Random(args.seed)
        self.threads = []
        self.churners = []
        self.churn_lock = threading.Lock()

    def start(self):
        jobs = [self.churn, self.flood]
        jobs += [self.viewer] * self.args.viewers
        jobs += [self.hostile] * self.args.hostile
        for i, job in enumerate(jobs):
            t = threading.Thread(target=job, args=(random.Random(self.args.seed * 1000 + i),),
                                 daemon=True)
            t.start()
            self.threads.append(t)

    def finish(self):
        self.stop.set()
        for t in self.threads:
            t.join(timeout=60)
        with self.churn_lock:
            for p in self.churners:
                if p.poll() is None:
                    p.kill()
                p.wait()
            self.churners = []

    # Spectators that join for a while and leave, some without a word (killed).
    def churn(self, rng):
        while not self.stop.is_set():
            with self.churn_lock:
                alive = []
                for p in self.churners:
                    if p.poll() is None:
                        alive.append(p)
                    else:
                        self.counters.add("spectators finished")
                self.churners = alive
                if len(self.churners) < self.args.spectators:
                    p = spawn([self.args.spectate, "--server", f"127.0.0.1:{self.udp_port}",
                                          "--json", "--duration", str(rng.randint(1, 12))],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
                    self.churners.append(p)
                    CHILDREN[:] = [c for c in CHILDREN if c.poll() is None]
                    self.counters.add("spectators started")
                elif rng.random() < 0.2:
                    victim = rng.choice(self.churners)
                    victim.kill()
                    self.counters.add("spectators killed")
            self.stop.wait(rng.uniform(0.1, 0.6))

    # Bursts of heartbeats from many addresses and ports, with some garbage datagrams between.
    def flood(self, rng):
        beat = bytes([0, 0, 38, 2, 0, 0])
        while not self.stop.wait(rng.uniform(5, 20)):
            socks = []
            try:
                for _ in range(self.args.flood_ports):
                    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                    s.bind((f"127.0.{rng.randint(0, 3)}.{rng.randint(2, 254)}", 0))
                    socks.append(s)
                end = time.monotonic() + 2.0
                while time.monotonic() < end and not self.stop.is_set():
                    for s in socks:
                        r = rng.random()
                        if r < 0.9:
                            data = bytes([0, 0, 38, 2, rng.randint(0, 1), 0]) if r < 0.5 else beat
                        elif r < 0.95:
                            data = bytes(rng.getrandbits(8) for _ in range(rng.randint(0, 40)))
                        else:
                            data = os.urandom(rng.choice([1, 600, 1400]))
                        try:
                            s.sendto(data, ("127.0.0.1", self.udp_port))
                            self.counters.add("flood datagrams")
                        except OSError:
                            self.counters.add("flood send errors")
                    time.sleep(0.05)
            except OSError as e:
                self.counters.add("flood socket errors")
            finally:
                for s in socks:
                    s.close()

    def request(self, raw, timeout=5.0, limit=1 << 22):
        """One request on its own connection; (status, headers, body) or None when refused."""
        try:
            s = socket.create_connection(("127.0.0.1", self.tcp_port), timeout=timeout)
        except OSError:
            self.counters.add("http connect refused")
            return None
        try:
            s.sendall(raw)
            data = b""
            need = None  # the whole answer's length, once its head is in
            while len(data) < limit and (need is None or len(data) < need):
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
                end = HEAD_END.search(data) if need is None else None
                if end:
                    m = re.search(rb"(?im)^content-length:\s*(\d+)", data[:end.start()])
                    if m:
                        need = end.end() + int(m.group(1))
        except OSError:
            self.counters.add("http connection errors")
            return None
        finally:
            s.close()
        end = HEAD_END.search(data)
        head, body = (data[:end.start()], data[end.end():]) if end else (data, b"")
        m = re.match(rb"HTTP/1\.[01] (\d{3})", head)
        if not m:
            self.counters.add("http answers without status line" if data else
                              "http closed without answer")
            return None
        if need is not None and len(data) < need:
            self.counters.add("http answers cut short")
            return None
        return int(m.group(1)), head, body

    def get(self, path, timeout=5.0):
        return self.request(f"GET {path} HTTP/1.1\r\nHost: soak\r\nConnection: close\r\n\r\n".encode(), timeout)

    def check_elements(self, body, what, single):
        at = n = 0
        while at < len(body):
            if at + 2 > len(body):
                return self.bad(what, at, "element cut short in its head")
            flags, count = body[at], body[at + 1]
            if flags & ~1 or count == 0:
                return self.bad(what, at, f"flags {flags:#x}, {count} packets")
            at += 2
            for _ in range(count):
                if at + 2 > len(body):
                    return self.bad(what, at, "packet length cut short")
                length = struct.unpack(">H", body[at:at + 2])[0]
                if length < 2 or length > PACKET_MAX or at + 2 + length > len(body):
                    return self.bad(what, at, f"packet of {length} bytes")
                at += 2 + length
            n += 1
        if n == 0 or (single and n != 1):
            return self.bad(what, 0, f"{n} elements")
        return True

    def bad(self, what, at, why):
        self.failures.add(f"live fragment {what} malformed at byte {at}: {why}")
        return False

    # A browser viewer as fragments.js plays the stream: sync, the newest start, then each body.
    def viewer(self, rng):
        pages = ["/", "/index.html", "/viewer/index.html", "/viewer/stream.js", "/viewer/main.js",
                 "/toomany.html"]
        nxt = None
        while not self.stop.wait(rng.uniform(0.2, 0.6)):
            if rng.random() < 0.1:
                r = self.get(rng.choice(pages))
                self.counters.add("pages fetched" if r and r[0] == 200 else "pages not served")
                continue
            r = self.get("/live/sync")
            if not r or r[0] != 200:
                self.counters.add("sync not served")
                continue
            try:
                sync = json.loads(r[2])
                newest = int(sync["fragment"])
            except (ValueError, KeyError, TypeError):
                self.failures.add(f"/live/sync answered {r[2][:120]!r}")
                continue
            self.counters.add("syncs")
            if newest < 1:
                continue
            if nxt is None or nxt > newest + 1 or newest - nxt > 10:
                r = self.get(f"/live/{newest}/start")
                if r and r[0] == 200:
                    self.check_elements(r[2], f"{newest}/start", True)
                    self.counters.add("starts")
                    nxt = newest
                else:
                    self.counters.add("starts missed")
                    continue
            while nxt <= newest and not self.stop.is_set():
                r = self.get(f"/live/{nxt}/body")
                if r and r[0] == 200:
                    self.check_elements(r[2], f"{nxt}/body", False)
                    self.counters.add("bodies")
                elif r and r[0] == 404:
                    self.counters.add("bodies gone")
                    nxt = None
                    break
                else:
                    self.counters.add("bodies missed")
                    break
                nxt += 1
            # As fragments.js follows a server that holds: the next one, answered once it is out.
            if nxt == newest + 1 and rng.random() < 0.5 and not self.stop.is_set():
                r = self.get(f"/live/{nxt}/body", timeout=15.0)
                if r and r[0] == 200:
                    self.check_elements(r[2], f"{nxt}/body", False)
                    self.counters.add("held bodies")
                    nxt += 1
                elif r and r[0] == 404:
                    self.counters.add("holds ran out")
                else:
                    self.counters.add("bodies missed")

    # Clients that mean harm: garbage, slowloris, huge lines, traversal, silence.
    def hostile(self, rng):
        traversal = ["/../soak-secret.txt", "/../../soak-secret.txt", "/..%2f..%2fsoak-secret.txt",
                     "/%2e%2e/%2e%2e/soak-secret.txt", "/viewer/../../../soak-secret.txt",
                     "/..\\..\\soak-secret.txt", "//etc/passwd", "/../../../../../../etc/passwd",
                     "/viewer/%2e%2e%2f%2e%2e%2f%2e%2e%2fsoak-secret.txt", "/./../soak-secret.txt"]
        while not self.stop.wait(rng.uniform(0.1, 1.0)):
            kind = rng.randrange(7)
            if kind == 0:
                path = rng.choice(traversal)
                r = self.get(path)
                if r and (self.secret.encode() in r[2] or b"root:x:0:0" in r[2]):
                    self.failures.add(f"GET {path} served a file from outside the plugin folder")
                self.counters.add("traversal attempts")
            elif kind == 1:
                self.request(os.urandom(rng.randint(1, 4000)), timeout=3)
                self.counters.add("garbage requests")
            elif kind == 2:
                line = b"GET /" + b"A" * rng.choice([5000, 70000, 300000]) + b" HTTP/1.1\r\n\r\n"
                self.request(line, timeout=5)
                self.counters.add("huge lines")
            elif kind == 3:
                head = b"GET / HTTP/1.1\r\nHost: soak\r\n" + b"X-Pad: " + b"b" * 9000 + b"\r\n" * 300
                self.request(head + b"\r\n", timeout=5)
                self.counters.add("huge headers")
            elif kind == 4:
                self.slowloris(rng)
            elif kind == 5:
                try:
                    s = socket.create_connection(("127.0.0.1", self.tcp_port), timeout=2)
                    self.stop.wait(rng.uniform(0, 3))  # says nothing, then goes
                    s.close()
                except OSError:
                    pass
                self.counters.add("silent connections")
            else:
                verb = rng.choice([b"POST", b"DELETE", b"GET", b"\x00\xff"])
                self.request(verb + b" /index.html HTTP/1.0\r\nContent-Length: 99999\r\n\r\nxx",
                             timeout=3)
                self.counters.add("odd methods")

    def slowloris(self, rng):
        try:
            s = socket.create_connection(("127.0.0.1", self.tcp_port), timeout=3)
        except OSError:
            return
        self.counters.add("slowloris")
        try:
            s.sendall(b"GET / HTTP/1.1\r\n")
            for _ in range(rng.randint(3, 20)):
                if self.stop.wait(1.0):
                    break
                s.sendall(b"X-a: b\r\n")
        except OSError:
            self.counters.add("slowloris cut off")
        finally:
            s.close()


# --- the run ------------------------------------------------------------------------------------

def prepare_game(args, ports, secret):
    game = os.path.join(args.out, "cstrike")
    if os.path.exists(args.out):
        shutil.rmtree(args.out)
    os.makedirs(os.path.join(game, "addons"))
    plugin_dir = os.path.join(game, "addons", "kovitv")
    shutil.copytree(args.dist, plugin_dir)
    cfg = os.path.join(plugin_dir, "config.ini")
    with open(cfg) as f:
        text = f.read()
    keys = {"record_demos": "on", "udp_port": str(ports[0]), "tcp_port": str(ports[1]),
            "max_spec": "20", "max_visitors": str(MAX_VISITORS), "http_stream": "on"}
    for k, v in keys.items():
        text, n = re.subn(rf"(?m)^#* *{k} .*$", f"{k} {v}", text)
        if n == 0:
            text += f"\n{k} {v}\n"
    # One address may hold every seat in this test: spectators and viewers all come from here.
    text += "\nmax_spec_per_ip 20\n"
    with open(cfg, "w") as f:
        f.write(text)
    with open(os.path.join(game, "soak-secret.txt"), "w") as f:
        f.write(secret + "\n")
    return game


def console_commands(rng, args, write, stop, counters):
    """Random commands at random moments (game time: about one every three game minutes)."""
    while not stop.wait(rng.expovariate(1.0 / (180.0 / args.speed))):
        r = rng.random()
        if r < 0.35:
            cmd = f"kovitv delay {rng.choice([30, 30, 45, 60, 90, 120, 300, rng.randint(30, 300)])}"
        elif r < 0.5:
            cmd = "kovitv record off"
        elif r < 0.65:
            cmd = "kovitv record on"
        elif r < 0.8:
            cmd = "kovitv reload"
        elif r < 0.9:
            cmd = "kovitv"
        else:
            cmd = rng.choice(["kovitv delay 5", "kovitv delay x", "kovitv record", "kovitv bogus"])
        write(cmd)
        counters.add("console: " + cmd.split()[1] if len(cmd.split()) > 1 else "console: status")


def tail(path, size=65536):
    try:
        with open(path, "rb") as f:
            f.seek(0, os.SEEK_END)
            f.seek(max(0, f.tell() - size))
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


def game_clock(simlog_path, trace_path):
    """Game seconds played so far, from the map simhost last started (maps are numbered in
    order and each lasts MAP_SECONDS) and the time of the trace's last line; None before both."""
    maps = re.findall(r"simhost: map de_soak_(\d+) running", tail(simlog_path))
    times = re.findall(r'\{"t":([0-9.]+),', tail(trace_path, 8192))
    if not maps or not times:
        return None
    return (int(maps[-1]) - 1) * MAP_SECONDS + max(0.0, float(times[-1]) - 1.0)


def read_trace(path):
    """Per map: its score lines in order as (score_t, score_ct, {slot: (kills, deaths)}) deltas."""
    maps = {}
    order = []
    cur = None
    with open(path, errors="replace") as f:
        for line in f:
            try:
                e = json.loads(line)
            except ValueError:
                continue
            ev = e.get("event")
            if ev == "map":
                cur = e["map"]
                order.append(cur)
                maps[cur] = []
            elif cur is None:
                continue
            elif ev == "score":
                # The stream holds kills and deaths in a byte each.
                maps[cur].append(("p", e["t"], e["player"] - 1, e["frags"] % 256, e["deaths"] % 256))
            elif ev == "round_end":
                maps[cur].append(("s", e["t"], e["score_t"], e["score_ct"]))
    return order, maps


def compare_scoreboards(trace_path, witness_path, witness_start, drop_times, map_started, speed):
    """Every scoreboard the witness rebuilt must be one the game held, in the game's order: each
    is looked for from where the previous one matched (the stream is the game, delayed), and it
    must have arrived no sooner than the least delay (30 game seconds) after the game held it.
    map_started: per map, a moment before simhost started its clock; the game cannot run ahead
    of its pace, so game time t of that map came no sooner than that plus (t - 1) / speed."""
    order, maps = read_trace(trace_path)
    boards = {}
    resets = []
    with open(witness_path, errors="replace") as f:
        for line in f:
            try:
                e = json.loads(line)
            except ValueError:
                continue
            if e.get("type") == "scoreboard" and e["map"]:  # "": the map's opening, named next
                boards.setdefault(e["map"], []).append(e)
            elif e.get("type") == "reset":
                resets.append(witness_start + e["t"])
    matched = excused = 0
    faults = []
    lags = []
    early = []
    covered = set()
    for name, seen in boards.items():
        events = maps.get(name)
        if events is None:
            faults.append(f"the witness saw map {name!r}, which the game never played")
            continue
        score = [0, 0]
        players = {}
        states = [(tuple(score), dict(players), 1.0)]
        for ev in events:
            if ev[0] == "p":
                players[ev[2]] = (ev[3], ev[4])
            else:
                score = [ev[2], ev[3]]
            states.append((tuple(score), dict(players), ev[1]))
        pos = 0
        for b in seen:
            want = (b["score"]["t"], b["score"]["ct"])
            board = {p[0]: (p[1], p[2]) for p in b["players"]}
            j = pos
            while j < len(states):
                s, pl, _ = states[j]
                if s == want and all(pl.get(k, (0, 0)) == v for k, v in board.items()):
                    break
                j += 1
            if j < len(states):
                pos = j
                matched += 1
                covered.add(name)
                if name in map_started and "wall" in b:
                    held = map_started[name] + (states[j][2] - 1.0) / speed
                    lag = (b["wall"] - held) * speed  # game seconds, at most: held is a lower bound
                    lags.append(lag)
                    if lag < MIN_DELAY - 1.0:
                        early.append(f"map {name} score {want[0]}:{want[1]} arrived {lag:.1f} game s "
                                     f"after the game held it")
                continue
            at = witness_start + b["t"]
            since = max([r for r in resets if r <= at], default=witness_start)
            if any(since - 1.0 <= d <= at + 0.5 for d in drop_times):
                excused += 1  # the kernel dropped datagrams since the last full state
                continue
            # The closest game state with that score, to show what differs.
            diffs = ""
            for s, pl, _ in states[pos:]:
                if s == want:
                    d = [f"slot {k}: {v} vs game {pl.get(k, (0, 0))}" for k, v in sorted(board.items())
                         if pl.get(k, (0, 0)) != v]
                    diffs = "; ".join(d[:4])
                    break
            faults.append(f"map {name} score {want[0]}:{want[1]} at witness {b['t']:.1f} s: "
                          f"no such game state after the previous checkpoint ({diffs or 'score never held'})")
    played = [m for m in order if any(ev[0] == "s" for ev in maps[m])]
    missing = [m for m in played[:-1] if m not in covered]
    return matched, excused, faults + early, missing, len(played), lags


def slope_per_hour(points):
    """Least-squares slope of (hours, value) points."""
    n = len(points)
    if n < 2:
        return 0.0
    mx = sum(p[0] for p in points) / n
    my = sum(p[1] for p in points) / n
    sxx = sum((p[0] - mx) ** 2 for p in points)
    if sxx == 0:
        return 0.0
    return sum((p[0] - mx) * (p[1] - my) for p in points) / sxx


def growth(rows, warmup_h, column, level=min):
    """Growth after the warm-up from the level of each window, its floor unless told otherwise
    (load lifts single samples; a leak lifts the floor): (percent per game hour, rise over the
    whole span), or None when too few."""
    after = [r for r in rows if r[0] >= warmup_h]
    if len(after) < 6:
        return None
    windows = min(8, len(after) // 3)
    size = len(after) / windows
    floors = []
    for w in range(windows):
        part = after[int(w * size):int((w + 1) * size)]
        floors.append(((part[0][0] + part[-1][0]) / 2, level(r[column] for r in part)))
    slope = slope_per_hour(floors)
    return 100.0 * slope / (floors[0][1] or 1), slope * (after[-1][0] - after[0][0])


def write_svg(path, rows, warmup_h):
    w, h, pad = 720, 300, 50
    series = [("resident memory", 1, "#c0392b"), ("threads", 2, "#2980b9"), ("descriptors", 3, "#27ae60")]
    tmax = max(r[0] for r in rows) or 1
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" font-family="sans-serif" font-size="11">',
           f'<rect width="{w}" height="{h}" fill="white"/>',
           f'<text x="{pad}" y="18" font-size="13">Kovi TV soak: each series relative to its own maximum</text>',
           f'<line x1="{pad}" y1="{h - pad}" x2="{w - 20}" y2="{h - pad}" stroke="black"/>',
           f'<line x1="{pad}" y1="30" x2="{pad}" y2="{h - pad}" stroke="black"/>']
    sx = lambda t: pad + (w - pad - 20) * t / tmax
    sy = lambda v: (h - pad) - (h - pad - 30) * v
    wx = sx(warmup_h)
    out.append(f'<line x1="{wx:.1f}" y1="30" x2="{wx:.1f}" y2="{h - pad}" stroke="#999" stroke-dasharray="4"/>')
    out.append(f'<text x="{wx + 3:.1f}" y="42" fill="#666">warm-up ends</text>')
    for i in range(5):
        t = tmax * i / 4
        out.append(f'<text x="{sx(t):.1f}" y="{h - pad + 15}" text-anchor="middle">{t:.1f} h</text>')
    for i in range(3):
        out.append(f'<text x="{pad - 5}" y="{sy(i / 2) + 4:.1f}" text-anchor="end">{50 * i}%</text>')
    for k, (name, col, colour) in enumerate(series):
        top = max(r[col] for r in rows) or 1
        pts = " ".join(f"{sx(r[0]):.1f},{sy(r[col] / top):.1f}" for r in rows)
        out.append(f'<polyline fill="none" stroke="{colour}" stroke-width="1.5" points="{pts}"/>')
        label = f"{name} (max {top / 1024:.1f} MiB)" if col == 1 else f"{name} (max {top})"
        out.append(f'<text x="{pad + 10 + 220 * k}" y="{h - 12}" fill="{colour}">{label}</text>')
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def main():
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    try:
        return run()
    except KeyboardInterrupt:
        print("\nsoak: interrupted; stopping simhost and the clients", flush=True)
        for p in CHILDREN:
            if p.poll() is None:
                p.kill()
        return 130


def run():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--bin", required=True, help="folder with simhost, spectate, kdem and the plugin")
    ap.add_argument("--dist", default="dist/addons/kovitv", help="the plugin folder to install")
    ap.add_argument("--out", required=True, help="scratch folder for the run (emptied first)")
    ap.add_argument("--artefacts", default="build/artefacts", help="where the chart goes")
    ap.add_argument("--name", default="soak", help="name of the chart and table files")
    ap.add_argument("--game-hours", type=float, default=24.0, help="game time to play (default 24)")
    ap.add_argument("--speed", type=float, default=30.0, help="game seconds per real second")
    ap.add_argument("--sample-minutes", type=float, default=5.0, help="game minutes between samples")
    ap.add_argument("--warmup-hours", type=float, default=None,
                    help="game hours before growth counts (default: a sixth of the run, at most 2)")
    ap.add_argument("--spectators", type=int, default=8, help="spectate clients coming and going")
    ap.add_argument("--viewers", type=int, default=6, help="browser-style HTTP viewers")
    ap.add_argument("--hostile", type=int, default=4, help="hostile HTTP clients")
    ap.add_argument("--flood-ports", type=int, default=200, help="sockets in each heartbeat burst")
    ap.add_argument("--seed", type=int, default=1, help="seed of the match and of the load")
    ap.add_argument("--simhost-arg", action="append", default=[], help="passed on to simhost")
    ap.add_argument("--preload", default="", help="LD_PRELOAD for simhost (e.g. a slow disk)")
    args = ap.parse_args()

    if not os.path.isdir(args.dist):
        sys.exit(f"soak: no plugin folder at {args.dist}")
    # The programs run from a copy, so that a rebuild during a long run cannot touch them.
    plugins = [f for f in os.listdir(args.bin) if re.match(r"kovitv_mm.*\.so$", f)] \
        if os.path.isdir(args.bin) else []
    binaries = ["simhost", "spectate", "kdem"]
    for tool in binaries:
        if not os.access(os.path.join(args.bin, tool), os.X_OK):
            sys.exit(f"soak: {os.path.join(args.bin, tool)} is missing; build it first "
                     "(scripts/soak.sh does)")
    if not plugins:
        sys.exit(f"soak: no plugin library (kovitv_mm*.so) in {args.bin}")
    # Under a sanitizer resident memory is mostly the sanitizer's (freed blocks wait in its
    # quarantine): growth is shown but judged only without one, and leaks are its own report.
    try:
        with open(os.path.join(args.bin, "CMakeCache.txt")) as f:
            sanitized = re.search(r"^KOVITV_(SANITIZE|TSAN):BOOL=ON", f.read(), re.M) is not None
    except OSError:
        sanitized = False
    span = args.game_hours * 3600.0
    warmup_h = args.warmup_hours if args.warmup_hours is not None else min(2.0, args.game_hours / 6)
    os.makedirs(args.artefacts, exist_ok=True)
    ports = (free_port(socket.SOCK_DGRAM), free_port(socket.SOCK_STREAM))
    secret = f"SOAK-SECRET-{random.getrandbits(64):016x}"
    game = prepare_game(args, ports, secret)
    bindir = os.path.join(args.out, "bin")
    os.makedirs(bindir)
    for f in binaries + plugins:
        shutil.copy2(os.path.join(args.bin, f), bindir)
    for tool in binaries:
        setattr(args, tool, os.path.join(bindir, tool))
    trace = os.path.join(args.out, "trace.jsonl")
    simlog_path = os.path.join(args.out, "simhost.log")
    maps = [f"de_soak_{i:03d}" for i in range(1, int(span / MAP_SECONDS) + 3)]
    cmd = [args.simhost, "--game", game, "--players", "32", "--speed", str(args.speed),
           "--map-time", str(MAP_SECONDS), "--seed", str(args.seed), "--trace", trace,
           "--duration", str(span + 600 * args.speed),  # a cap in case the console is lost
           "--cvar", f"net_address=127.0.0.1:{ports[1]}"]
    for m in maps:
        cmd += ["--map", m]
    cmd += args.simhost_arg
    env = dict(os.environ)
    env.setdefault("ASAN_OPTIONS", "detect_leaks=1")
    # The allocator a real server has: glibc's defaults (a heap per thread, up to 8 per core).
    # The web visitors' threads are kept between connections so that those heaps do not fill one
    # after another as threads come and go.
    env.pop("MALLOC_ARENA_MAX", None)
    if args.preload:
        env["LD_PRELOAD"] = args.preload
    log(f"{args.game_hours:g} game hours at {args.speed:g}x (about {span / args.speed / 60:.0f} "
        f"minutes), UDP {ports[0]}, TCP {ports[1]}, run folder {args.out}")
    simlog = open(simlog_path, "w")
    launched = time.time()
    sim = spawn(cmd, stdin=subprocess.PIPE, stdout=simlog, stderr=subprocess.STDOUT, env=env)
    started = time.monotonic()
    console_lock = threading.Lock()

    def console(line):
        with console_lock:
            try:
                sim.stdin.write((line + "\n").encode())
                sim.stdin.flush()
            except (BrokenPipeError, ValueError):
                pass

    failures = Failures()
    counters = Counters()
    clock = {"at": 0.0, "seconds": 0.0}

    def game_hours():  # what simhost has played, which is less than speed x time when it lags
        if time.monotonic() - clock["at"] > 0.5:
            clock["at"] = time.monotonic()
            g = game_clock(simlog_path, trace)
            # The trace is written through a buffer and may still end on the last map: never
            # more than the pace allows.
            paced = (time.monotonic() - started) * args.speed
            g = paced if g is None else min(g, paced)
            if g >= clock["seconds"]:
                clock["seconds"] = g
        return clock["seconds"] / 3600.0
    time.sleep(1.0)
    if sim.poll() is not None:
        sys.exit(f"soak: simhost ended at once (status {sim.returncode}); see {simlog_path}")

    witness_path = os.path.join(args.out, "witness.jsonl")
    witness_out = open(witness_path, "w")
    witness_start = time.time()
    witness = spawn([args.spectate, "--server", f"127.0.0.1:{ports[0]}", "--json"],
                               stdin=subprocess.PIPE, stdout=witness_out, stderr=subprocess.DEVNULL)
    drop_times = []
    stop_watch = threading.Event()

    def watch_drops():
        last = udp_drops(witness.pid) or 0
        while not stop_watch.wait(0.5):
            d = udp_drops(witness.pid)
            if d is not None and d > last:
                drop_times.append(time.time())
                last = d

    def resyncs():
        while not stop_watch.wait(30.0):  # bounds what one lost datagram can spoil
            try:
                witness.stdin.write(b"r\n")
                witness.stdin.flush()
            except (BrokenPipeError, ValueError):
                return

    for job in (watch_drops, resyncs):
        threading.Thread(target=job, daemon=True).start()

    time.sleep(2.0)
    base = proc_sample(sim.pid, ports[1])
    log(f"at rest before the load: {base[0]} KiB, {base[1]} threads, {base[2]} descriptors "
        f"({base[5]} visitor threads)")
    load = Load(args, ports, failures, counters, secret)
    load.start()
    stop_console = threading.Event()
    threading.Thread(target=console_commands,
                     args=(random.Random(args.seed + 7), args, console, stop_console, counters),
                     daemon=True).start()

    map_started = {}
    log_seen = {"offset": 0, "polled": launched, "rest": ""}

    def watch_maps():  # every loop turn: a map line found now was printed after the last poll
        now = time.time()
        try:
            with open(simlog_path, "rb") as f:
                f.seek(log_seen["offset"])
                data = f.read()
        except OSError:
            return
        log_seen["offset"] += len(data)
        text = log_seen["rest"] + data.decode("utf-8", "replace")
        lines = text.split("\n")
        log_seen["rest"] = lines.pop()
        for line in lines:
            m = re.match(r"simhost: map (\S+) running", line)
            if m:
                map_started.setdefault(m.group(1), log_seen["polled"])
        log_seen["polled"] = now

    rows = []
    print(f"{'game h':>7} {'RSS KiB':>9} {'threads':>7} {'fds':>5} {'demos':>5} {'web':>4} "
          f"{'visitors':>8}", flush=True)
    next_sample = 0.0
    crashed = None
    while True:
        watch_maps()
        gh = game_hours()
        if sim.poll() is not None:
            crashed = sim.returncode
            break
        if gh * 3600 >= span:
            break
        if gh * 60 >= next_sample:
            try:
                s = proc_sample(sim.pid, ports[1])
            except OSError:
                continue
            rows.append((gh,) + s)
            print(f"{gh:7.2f} {s[0]:9d} {s[1]:7d} {s[2]:5d} {s[3]:5d} {s[4]:4d} {s[5]:8d}",
                  flush=True)
            next_sample += args.sample_minutes
        time.sleep(0.05)

    stop_console.set()
    load.finish()
    rest = None
    if crashed is None:
        console("kovitv delay 30")
        time.sleep(8.0)  # silent spectators go after 5 s, visitors as their connections close
        rest = proc_sample(sim.pid, ports[1])
        log(f"at rest after the load:  {rest[0]} KiB, {rest[1]} threads, {rest[2]} descriptors "
            f"({rest[5]} visitor threads)")
        console("quit")
        try:
            sim.wait(timeout=120)
        except subprocess.TimeoutExpired:
            failures.add("simhost did not quit within 120 s of the quit command")
            sim.kill()
            sim.wait()
    stop_watch.set()
    witness.send_signal(signal.SIGINT)
    try:
        witness.wait(timeout=10)
    except subprocess.TimeoutExpired:
        witness.kill()
    witness_out.close()
    simlog.close()

    status = sim.returncode
    if crashed is not None:
        failures.add(f"simhost ended on its own at {game_hours():.2f} game hours with status {crashed}")
    elif status != 0:
        failures.add(f"simhost exited with status {status}" +
                     (" (a hook left the game changed or Metamod's result unset)" if status == 3 else ""))
    with open(simlog_path, errors="replace") as f:
        lines = f.readlines()
    reports = [line.rstrip() for line in lines if SANITIZER.search(line)]
    timing = [i for i, line in enumerate(lines) if "time inside the plugin" in line]
    if timing:  # simhost --hook-times: its table ends where the log's lines start again
        print()
        for line in lines[timing[-1]:]:
            if line.startswith("L ") or line.startswith("simhost: plugin"):
                break
            print(line.rstrip())
    if reports:
        failures.add(f"sanitizer report in {simlog_path}: {reports[0]}")

    demos = sorted(os.path.join(d, f) for d, _, fs in os.walk(game) for f in fs if f.endswith(".kdem"))
    bad_demos = 0
    for demo in demos:
        r = subprocess.run([args.kdem, "verify", demo], capture_output=True, text=True)
        if r.returncode != 0:
            bad_demos += 1
            failures.add(f"kdem verify rejects {demo}: {(r.stdout + r.stderr).strip()[:200]}")
    if not demos:
        failures.add("no demo was recorded")

    matched, excused, faults, missing, played, lags = compare_scoreboards(
        trace, witness_path, witness_start, drop_times, map_started, args.speed)
    for f in faults[:10]:
        failures.add("spectator state differs from the game's: " + f)
    if missing:
        failures.add(f"the witness spectator saw no scoreboard on {len(missing)} map(s): "
                     + ", ".join(missing[:5]))

    # Visitors' threads stay for the next connections, bounded by max_visitors; any other thread
    # and every descriptor must be gone.
    if rest is not None and (rest[1] - rest[5] > base[1] - base[5] or rest[2] > base[2]):
        failures.add(f"at rest after the load the process holds {rest[1] - rest[5]} threads other "
                     f"than visitors' and {rest[2]} descriptors, {base[1] - base[5]} and {base[2]} "
                     f"before it")
    most_visitors = max([r[6] for r in rows] + ([rest[5]] if rest else [0]))
    if most_visitors > MAX_VISITORS:
        failures.add(f"{most_visitors} visitor threads at once, max_visitors {MAX_VISITORS}")
    grow = {}
    # Each open web connection holds a descriptor for as long as its client keeps it (a silent
    # one 5 s): those follow the load, so descriptors are judged without them, and threads
    # without the visitors' (kept for the next connections, bounded above). A leak stays when
    # the connections go. They come in whole units: a rise of less than one is the load's noise.
    # Threads and descriptors are judged by each window's median: a connection both ends have
    # closed is gone from the kernel's table a moment before its visitor closes the descriptor,
    # so a sample reads one or two high, and one taken during a reload reads the restarted
    # threads' wakes, the listening socket and the poller low (a floor of 7 beside 10 in every
    # other window read as +36 % a game hour).
    judged = [(r[0], r[1], r[2] - r[6], r[3] - r[5]) for r in rows]
    median = lambda values: statistics.median_low(list(values))
    for col, name, unit, level in ((1, "resident memory", 0, min), (2, "threads", 1, median),
                                   (3, "descriptors", 1, median)):
        g = growth(judged, warmup_h, col, level)
        grow[name] = g
        if col == 1 and sanitized:
            continue
        if g is not None and g[0] > 1.0 and g[1] >= unit:
            failures.add(f"{name} grew {g[0]:.2f} % per game hour after the warm-up (limit 1 %)")
    if rows:
        svg = os.path.join(args.artefacts, f"{args.name}.svg")
        write_svg(svg, rows, warmup_h)
        with open(os.path.join(args.artefacts, f"{args.name}.tsv"), "w") as f:
            f.write("game_hours\trss_kib\tthreads\tfds\tdemo_files\tweb_connections\t"
                    "visitor_threads\n")
            for r in rows:
                f.write(f"{r[0]:.3f}\t{r[1]}\t{r[2]}\t{r[3]}\t{r[4]}\t{r[5]}\t{r[6]}\n")
        log(f"chart {svg}")

    print()
    log(f"played {game_hours():.2f} game hours in {(time.monotonic() - started) / 60:.1f} minutes; "
        f"{len(rows)} samples")
    if rows:
        after = [r for r in rows if r[0] >= warmup_h] or rows
        log(f"resident memory {min(r[1] for r in after)}..{max(r[1] for r in after)} KiB, threads "
            f"{min(r[2] for r in after)}..{max(r[2] for r in after)}, descriptors "
            f"{min(r[3] for r in after)}..{max(r[3] for r in after)}, visitor threads "
            f"{min(r[6] for r in after)}..{max(r[6] for r in after)} after the warm-up "
            f"({warmup_h:.2f} h)")
        log("growth per game hour after the warm-up (threads less the visitors', descriptors less "
            "the open web connections): " + ", ".join(
            f"{k} {'n/a' if v is None else f'{v[0]:+.2f} %'}" for k, v in grow.items()) +
            (" (a sanitizer build: memory is not judged)" if sanitized else ""))
    log(f"{len(demos)} demos verified, {bad_demos} rejected")
    log(f"witness scoreboards: {matched} matched the game, {excused} excused by kernel drops, "
        f"{len(faults)} differ; maps with score changes {played}")
    if lags:
        lags.sort()
        log(f"witness scoreboards arrived {lags[0]:.0f} to {lags[-1]:.0f} game s after the game held "
            f"them (median {lags[len(lags) // 2]:.0f}; the delay was 30 to 300 s, the rest is "
            f"the encoder's and sender's pace)")
    log("load: " + ", ".join(f"{k} {v}" for k, v in sorted(counters.c.items())))
    if failures.items:
        for f in failures.items:
            print("soak: FAILED: " + f, flush=True)
        return 1
    log("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
