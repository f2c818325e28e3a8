#!/usr/bin/env python3
"""The speed benchmark: Dovecot in a network namespace of its own behind a veth pair, a delay line
(NFQUEUE) adding a round-trip time, and every client timed by the same rule from a packet capture
on the host's end of the pair, interleaved round by round. Started by bench/run.sh, which builds
what it needs and makes the Wine prefixes and the X server; run as root.

The rule: per TCP connection, from the client's first SYN to the first segment of the server's
reply to QUIT, both as seen on the host's end of the veth pair. No client is timed from inside,
so the start-up and exit of a process, and what pollwick.exe does before it connects and after
the last reply, are left out for every client alike.

Everything it sets up (namespace, veth pair, iptables rules in that namespace, Dovecot, the delay
line, the capture, the pollwick.exe processes) is taken down again at the end, also after a
failure or an interrupt."""
import argparse, os, random, re, shutil, signal, socket, statistics, struct, subprocess, sys, tempfile, threading
import time

NS = 'pwbench'
HOST_IF, NS_IF = 'pwb0', 'pwb1'
HOST_ADDR, NS_ADDR = '10.213.7.1', '10.213.7.2'
PORT = 41187  # its own port and instance name: nothing to share with the tests' Dovecots
USER, PASSWORD = 'bench', 'bench-pass'
MESSAGES = 5
QUEUE = 7
RUN_TIMEOUT = 60  # seconds any one client run may take
SETTLE = 0.3  # seconds of quiet after each run, so that no client's leftovers overlap the next
POLLWICK_KEY = r'HKCU\Software\Quorvane\Pollwick'
LOGINS = ('USER/PASS', 'APOP')


def run(*command, check=True, **kw):
    return subprocess.run(command, check=check, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)


def end(process, wait=5, terminate=True):
    """Waits for a process to end (asked to with SIGTERM unless told not to), killing it after wait s."""
    if terminate:
        process.terminate()
    try:
        process.wait(wait)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def in_ns(*command, **kw):
    return run('ip', 'netns', 'exec', NS, *command, **kw)


class Connection:
    """One TCP connection to the server as the capture saw it."""

    def __init__(self, syn, seq):
        self.syn = syn  # the client's first SYN
        self.seq = seq  # its sequence number, to tell a retransmitted SYN from a new connection
        self.synack = None
        self.segments = []  # (time, from_client, first bytes of the payload)
        self.quit = None  # the client's QUIT
        self.quit_reply = None  # the first server segment after it: the end of the span
        self.stat_reply = None  # its first line: every client must have seen the whole mailbox

    def span(self):
        return (self.quit_reply - self.syn) * 1000

    def connect(self):
        return (self.synack - self.syn) * 1000


class Capture:
    """tcpdump on the host's end of the veth pair, read as it comes (pcap on a pipe) and also
    kept in a file. The kernel stamps each packet as it crosses the interface."""

    def __init__(self, keep_path):
        self.keep = open(keep_path, 'wb')
        self.errors = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            ['tcpdump', '-i', HOST_IF, '-n', '-s', '256', '--immediate-mode', '-U', '-w', '-', f'tcp port {PORT}'],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=self.errors)
        self.changed = threading.Condition()
        self.connections = []  # in order of their first SYN
        self.by_port = {}  # client port -> its latest connection
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        # tcpdump says "listening on" once its filter is in place.
        for _ in range(100):
            self.errors.seek(0)
            if b'listening on' in self.errors.read():
                return
            time.sleep(0.05)
        raise RuntimeError('tcpdump did not start')

    def _exact(self, size):
        data = self.process.stdout.read(size)
        if data is not None and len(data) == size:
            self.keep.write(data)
            return data
        return None

    def _read(self):
        header = self._exact(24)
        if header is None:
            return
        order = '<' if header[:4] == b'\xd4\xc3\xb2\xa1' else '>'
        while True:
            record = self._exact(16)
            if record is None:
                return
            seconds, micros, length, _ = struct.unpack(order + 'IIII', record)
            packet = self._exact(length)
            if packet is None:
                return
            with self.changed:
                self._packet(seconds + micros / 1e6, packet)
                self.changed.notify_all()

    def _packet(self, t, frame):
        if frame[12:14] != b'\x08\x00':  # Ethernet carrying IPv4
            return
        ip = frame[14:]
        header = (ip[0] & 15) * 4
        total = struct.unpack('>H', ip[2:4])[0]
        if ip[9] != 6:
            return
        tcp = ip[header:]
        source, destination, seq = struct.unpack('>HHI', tcp[:8])
        offset = (tcp[12] >> 4) * 4
        flags = tcp[13]
        syn, ack = flags & 0x02, flags & 0x10
        # The payload's length comes from the IP header: short frames are padded, long ones cut.
        payload_length = total - header - offset
        payload = tcp[offset:offset + min(payload_length, 64)]
        from_client = destination == PORT
        port = source if from_client else destination
        if from_client and syn and not ack:
            known = self.by_port.get(port)
            if known is None or known.seq != seq:
                self.by_port[port] = Connection(t, seq)
                self.connections.append(self.by_port[port])
            return
        c = self.by_port.get(port)
        if c is None:
            return
        if not from_client and syn and ack and c.synack is None:
            c.synack = t
        if payload_length <= 0:
            return
        c.segments.append((t, from_client, payload))
        if from_client and c.quit is None and payload[:4].upper() == b'QUIT':
            c.quit = t
        elif not from_client and c.quit is not None and c.quit_reply is None:
            c.quit_reply = t
        # The reply to STAT must give the mailbox's count: proof that the client logged in.
        if not from_client and c.segments[:-1] and c.segments[-2][1] and c.segments[-2][2][:4].upper() == b'STAT':
            c.stat_reply = payload.split(b'\r')[0].decode('latin-1')

    def finished_since(self, start, timeout):
        """The connections whose SYN came at or after START, once the first of them has had its
        reply to QUIT (or TIMEOUT seconds have passed)."""
        deadline = time.time() + timeout
        with self.changed:
            while True:
                found = [c for c in self.connections if c.syn >= start]
                if (found and found[0].quit_reply is not None) or time.time() >= deadline:
                    return found
                self.changed.wait(0.05)

    def since(self, start):
        with self.changed:
            return [c for c in self.connections if c.syn >= start]

    def stop(self):
        end(self.process)
        self.reader.join(5)
        self.keep.close()


def steps_of(c):
    """Where connection C's time went: the server's time to greet (from the SYN/ACK to the
    greeting's first segment, ms) and, per command, its first word, the client's own time before
    it (from the last segment of the reply before it) and the server's time to the first segment
    of its reply (the round trip included), in ms."""
    steps, last_server, current = [], None, None
    for t, from_client, data in c.segments:
        if c.quit_reply is not None and t > c.quit_reply:
            break
        if from_client:
            if last_server is not None:  # the first segment of a command only
                word = data.split(b' ')[0].split(b'\r')[0].upper().decode('latin-1')
                current = {'word': word, 'sent': t, 'client': (t - last_server) * 1000, 'server': None}
                steps.append(current)
                last_server = None
        else:
            if current is not None and current['server'] is None:
                current['server'] = (t - current['sent']) * 1000
            last_server = t
    # The greeting: from the SYN/ACK to its first segment.
    greeting = next(((t - c.synack) * 1000 for t, from_client, _ in c.segments if not from_client), None)
    return greeting, steps


class Pollwick:
    """One pollwick.exe under Wine, in a prefix of its own, its account set in the registry."""

    def __init__(self, exe, probe, prefix, apop, log_path):
        self.exe, self.probe, self.prefix = exe, probe, prefix
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEARCH='win32', WINEDEBUG='-all', LC_ALL='ja_JP.UTF-8',
                        WINEDLLOVERRIDES='mscoree,mshtml,winealsa.drv,winepulse.drv=')
        self.log = open(log_path, 'ab')
        self.process = None
        self.wine('reg', 'delete', POLLWICK_KEY, '/f')
        # No check at start-up and none from the timer in a run: every check is the probe's.
        for name, kind, value in (('POP3', 'REG_SZ', NS_ADDR), ('USER', 'REG_SZ', USER), ('PASS', 'REG_SZ', PASSWORD),
                                  ('PORT', 'REG_DWORD', PORT), ('APOP', 'REG_DWORD', int(apop)),
                                  ('TIME', 'REG_DWORD', 60), ('STCH', 'REG_DWORD', 0), ('TLSM', 'REG_DWORD', 0)):
            if self.wine('reg', 'add', POLLWICK_KEY, '/v', name, '/t', kind, '/d', str(value), '/f') != 0:
                raise RuntimeError(f'wine reg add {name} failed in {prefix}')

    def wine(self, *command):
        # Its output is code page 932 and of no use here; no pipe of ours may stay with Wine.
        return subprocess.run(['wine', *command], env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode

    def probe_run(self, *verb, timeout=30):
        return subprocess.run(['wine', self.probe, *verb], env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)

    def start(self):
        self.process = subprocess.Popen(['wine', self.exe], env=self.env, stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=self.log)
        if self.probe_run('wait', '30', timeout=60).returncode != 0:
            raise RuntimeError(f'pollwick.exe did not start in {self.prefix}')

    def pid(self):
        """The Linux process of pollwick.exe in this prefix."""
        for entry in os.listdir('/proc'):
            if not entry.isdigit():
                continue
            try:
                # Its own name first on its command line: not a process that only names it (this one).
                with open(f'/proc/{entry}/cmdline', 'rb') as f:
                    if not f.read().split(b'\0')[0].strip().endswith(b'pollwick.exe'):
                        continue
                with open(f'/proc/{entry}/environ', 'rb') as f:
                    if b'WINEPREFIX=' + self.prefix.encode() in f.read().split(b'\0'):
                        return int(entry)
            except OSError:
                continue
        return None

    def rss_kb(self):
        pid = self.pid()
        if pid is None:
            return None
        with open(f'/proc/{pid}/status') as f:
            for line in f:
                if line.startswith('VmRSS:'):
                    return int(line.split()[1])
        return None

    def stop(self):
        if self.process is None:
            return
        self.probe_run('exit', timeout=30)
        end(self.process, wait=20, terminate=False)
        self.process = None


class Bench:
    def __init__(self, args):
        self.args = args
        self.root = None
        self.delay = None
        self.capture = None
        self.pollwicks = {}

    # --- set-up and take-down -------------------------------------------------------------
    def up(self):
        run('ip', 'netns', 'add', NS)
        run('ip', 'link', 'add', HOST_IF, 'type', 'veth', 'peer', 'name', NS_IF)
        run('ip', 'link', 'set', NS_IF, 'netns', NS)
        run('ip', 'addr', 'add', HOST_ADDR + '/30', 'dev', HOST_IF)
        run('ip', 'link', 'set', HOST_IF, 'up')
        in_ns('ip', 'addr', 'add', NS_ADDR + '/30', 'dev', NS_IF)
        in_ns('ip', 'link', 'set', NS_IF, 'up')
        in_ns('ip', 'link', 'set', 'lo', 'up')
        # Dovecot's users must reach its files: a directory of its own under /tmp.
        self.root = tempfile.mkdtemp(prefix='pollwick-bench.', dir='/tmp')
        os.chmod(self.root, 0o755)
        for sub in ('run', 'state', f'home/{USER}/Maildir/new', f'home/{USER}/Maildir/cur', f'home/{USER}/Maildir/tmp'):
            os.makedirs(os.path.join(self.root, sub))
        for i in range(MESSAGES):
            with open(os.path.join(self.root, f'home/{USER}/Maildir/new/1765000000.M{i}P1.bench'), 'w') as f:
                f.write(f'From: bench@example.invalid\r\nSubject: {i}\r\n\r\nbody\r\n')
        run('chmod', '-R', 'a+rwX', os.path.join(self.root, 'home'))
        with open(os.path.join(self.root, 'passwd'), 'w') as f:
            f.write(f'{USER}:{{PLAIN}}{PASSWORD}::::::\n')
        os.chmod(os.path.join(self.root, 'passwd'), 0o644)
        # The tests' configuration without TLS, as root has it (as scripts/fixtures/dovecot.sh makes
        # it without a TLS port), listening on the namespace's address only.
        with open(os.path.join(self.args.source, 'scripts/fixtures/dovecot.conf.in')) as f:
            conf = ''.join(line for line in f if not line.startswith(('#tls ', '#user ')))
        for name, value in (('STATE', self.root), ('PORT', str(PORT)), ('INTERNAL_USER', 'dovecot'),
                            ('INTERNAL_GROUP', 'dovecot'), ('LOGIN_USER', 'dovenull'), ('MAIL_USER', 'nobody'),
                            ('MAIL_GROUP', 'nogroup')):
            conf = conf.replace(f'@{name}@', value)
        conf = re.sub(r'^(\s*)(listen|address) = .*$', rf'\1\2 = {NS_ADDR}', conf, flags=re.M)
        conf = re.sub(r'^instance_name = .*$', 'instance_name = pollwick-bench', conf, flags=re.M)
        with open(os.path.join(self.root, 'dovecot.conf'), 'w') as f:
            f.write(conf)
        # It daemonizes: no pipe of ours may stay with it.
        subprocess.run(['ip', 'netns', 'exec', NS, 'dovecot', '-c', os.path.join(self.root, 'dovecot.conf')],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            try:
                socket.create_connection((NS_ADDR, PORT), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        else:
            raise RuntimeError('Dovecot did not start in the namespace')
        # The clients' own files: mpop's and fetchmail's configuration, never the user's.
        self.home = os.path.join(self.root, 'client')
        os.makedirs(self.home)
        for name, proto in (('fetchmailrc', 'pop3'), ('fetchmailrc-apop', 'apop')):
            path = os.path.join(self.home, name)
            with open(path, 'w') as f:
                f.write(f"set no syslog\npoll {NS_ADDR} proto {proto} port {PORT} user \"{USER}\" "
                        f"password \"{PASSWORD}\" sslproto ''\n")
            os.chmod(path, 0o600)
        self.capture = Capture(os.path.join(self.args.work, 'capture.pcap'))
        # Today's program, and the one from before a change when it is given, each in prefixes of
        # its own: timed in the same rounds by the same rule.
        for name, exe, prefix in (('pollwick.exe', self.args.pollwick, 'prefix-'),
                                  ('pollwick.exe (before)', self.args.baseline, 'prefix-before-')):
            for login in LOGINS if exe else ():
                self.pollwicks[(name, login)] = Pollwick(exe, self.args.probe,
                                                         os.path.join(self.args.work, prefix + login_name(login)),
                                                         login == 'APOP', os.path.join(self.args.work, 'wine.log'))

    def set_delay(self, rtt_ms):
        self.stop_delay()
        in_ns('iptables', '-F', 'INPUT')
        in_ns('iptables', '-F', 'OUTPUT')
        if rtt_ms == 0:
            return
        # Half the round trip each way, both on the namespace's side of the pair: the capture on
        # the host's side sees the packets as the clients send and receive them.
        self.delay = subprocess.Popen(['ip', 'netns', 'exec', NS, self.args.delay, str(QUEUE), str(rtt_ms // 2),
                                       str(self.args.ttl)], stdin=subprocess.DEVNULL)
        time.sleep(0.3)
        for chain, direction in (('INPUT', '-i'), ('OUTPUT', '-o')):
            in_ns('iptables', '-A', chain, direction, NS_IF, '-p', 'tcp', '-j', 'NFQUEUE', '--queue-num', str(QUEUE),
                  '--queue-bypass')

    def stop_delay(self):
        if self.delay is not None:
            end(self.delay)
            self.delay = None

    def down(self):
        for pollwick in self.pollwicks.values():
            try:
                pollwick.stop()
            except Exception as error:  # the rest must still be taken down
                print(f'bench: stopping pollwick.exe: {error}', file=sys.stderr)
        # Rules first, so that no packet waits for a delay line that is gone.
        run('ip', 'netns', 'exec', NS, 'iptables', '-F', check=False)
        self.stop_delay()
        if self.capture is not None:
            self.capture.stop()
        if self.root is not None:
            pidfile = os.path.join(self.root, 'run', 'master.pid')
            if os.path.exists(pidfile):
                pid = int(open(pidfile).read())
                try:
                    os.kill(pid, signal.SIGTERM)
                    for _ in range(50):
                        os.kill(pid, 0)
                        time.sleep(0.1)
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        run('ip', 'link', 'del', HOST_IF, check=False)
        run('ip', 'netns', 'del', NS, check=False)
        if self.root is not None:
            shutil.rmtree(self.root, ignore_errors=True)

    # --- the clients ----------------------------------------------------------------------
    def clients(self):
        """(client, login, how to start one check) for every client; pollwick.exe's checks are
        started by the probe in a program that keeps running."""
        env = dict(os.environ, HOME=self.home, FETCHMAILHOME=self.home)
        mpop = ['mpop', '--host=' + NS_ADDR, f'--port={PORT}', '--auth=user', '--user=' + USER,
                '--passwordeval=echo ' + PASSWORD, '--tls=off', '--uidls-file=' + os.path.join(self.home, 'uidls'),
                '--delivery=mbox,' + os.path.join(self.home, 'mbox'), '-s']
        fm = lambda rc, *extra: ['fetchmail', '-f', os.path.join(self.home, rc), '-c', *extra]
        minimal = lambda apop: [sys.executable, self.args.minimal, NS_ADDR, str(PORT), USER, PASSWORD, apop]
        return [(name, login, pollwick, None) for (name, login), pollwick in self.pollwicks.items()] + [
            ('minimal client', 'USER/PASS', minimal('0'), env),
            ('minimal client', 'APOP', minimal('1'), env),
            ('fetchmail -c -a', 'USER/PASS', fm('fetchmailrc', '-a'), env),
            ('fetchmail -c -a', 'APOP', fm('fetchmailrc-apop', '-a'), env),
            ('fetchmail -c', 'USER/PASS', fm('fetchmailrc'), env),
            ('fetchmail -c', 'APOP', fm('fetchmailrc-apop'), env),
            ('mpop -s', 'USER/PASS', mpop, env),  # mpop refuses Dovecot's APOP timestamp (it holds '=')
        ]

    def run_one(self, command, env):
        """One check by one client; returns (connection, None) or (None, why it failed)."""
        start = time.time()
        if isinstance(command, Pollwick):
            # As the tray menu's "check" does: the probe posts the command, the check runs in the
            # program's own thread.
            posted = command.probe_run('check')
            if posted.returncode != 0:
                return None, 'probe check failed: ' + posted.stderr.decode(errors='replace').strip()[-200:]
            found = self.capture.finished_since(start, RUN_TIMEOUT)
        else:
            result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, text=True, env=env, timeout=RUN_TIMEOUT)
            # fetchmail -c exits 0 when there is mail; mpop -s and the minimal client 0 on success.
            if result.returncode != 0:
                return None, (result.stderr.strip() or result.stdout.strip())[-200:]
            found = self.capture.finished_since(start, 5)
        time.sleep(SETTLE)
        found = self.capture.since(start)
        if len(found) != 1:
            return None, f'{len(found)} connections'
        c = found[0]
        if c.quit_reply is None or c.synack is None:
            return None, 'no reply to QUIT in the capture'
        if c.stat_reply is None or not c.stat_reply.startswith(f'+OK {MESSAGES} '):
            return None, f'STAT answered {c.stat_reply!r}'
        return c, None

    def measure(self):
        results = {}
        rss = {}
        self.load = {}
        clients = self.clients()
        # The same mailbox, the same rounds: each round runs every client once, in a new order.
        for rtt in self.args.delays:
            self.set_delay(rtt)
            load_before = os.getloadavg()[0]
            # A fresh pollwick.exe per delay, its first checks untimed: the timed ones are checks
            # warmup+1 .. warmup+rounds of one running program.
            for (name, login), pollwick in self.pollwicks.items():
                pollwick.start()
                for _ in range(self.args.warmup):
                    c, error = self.run_one(pollwick, None)
                    if error:
                        raise RuntimeError(f'{name} {login}, untimed check: {error}')
            for round_ in range(self.args.rounds):
                order = list(range(len(clients)))
                random.Random(round_ * 1000 + rtt).shuffle(order)
                for i in order:
                    name, login, command, env = clients[i]
                    c, error = self.run_one(command, env)
                    entry = results.setdefault((rtt, name, login), {'runs': [], 'errors': []})
                    (entry['runs'] if c is not None else entry['errors']).append(c if c is not None else error)
            # Its memory after the last check, once the check's aftermath (icon, log window) is over.
            time.sleep(1)
            for (name, login), pollwick in self.pollwicks.items():
                rss[(rtt, name, login)] = pollwick.rss_kb()
                pollwick.stop()
            # The machine is shared: its load says how much the figures may be disturbed.
            self.load[rtt] = (load_before, os.getloadavg()[0])
            print(f'rtt {rtt} ms: {self.args.rounds} rounds done', file=sys.stderr)
        return results, rss, self.load


def login_name(login):
    return 'apop' if login == 'APOP' else 'userpass'


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt(value, digits=1):
    return '–' if value is None else f'{value:.{digits}f}'


def report(results, rss, load, args, stripped):
    order = ['pollwick.exe', 'pollwick.exe (before)', 'minimal client', 'fetchmail -c -a', 'fetchmail -c', 'mpop -s']
    keys = sorted(results, key=lambda k: (k[0], order.index(k[1]), k[2]))
    connect = {rtt: median(c.connect() for (r, _, _), e in results.items() if r == rtt for c in e['runs'])
               for rtt in args.delays}
    span = {k: median(c.span() for c in e['runs']) for k, e in results.items()}

    def client_time(c):
        _, steps = steps_of(c)
        return sum(s['client'] for s in steps)

    lines = ['Span: from the client\'s first SYN to the first segment of the server\'s reply to QUIT, per TCP '
             'connection, captured on the host\'s end of the veth pair (tcpdump). "own time": the client\'s '
             'share of the span, from the last segment of each reply to its next command. '
             f'pollwick.exe (the {args.arch} build): checks {args.warmup + 1} to {args.warmup + args.rounds} of one '
             'running program per delay, each posted by the probe.', '',
             '| RTT (ms) | connect (ms) | client | login | median span (ms) | round trips | own time (ms) | runs | failed |',
             '|---:|---:|---|---|---:|---:|---:|---:|---:|']
    for k in keys:
        rtt, name, login = k
        e = results[k]
        trips = median(c.span() / c.connect() for c in e['runs']) if rtt else None
        lines.append(f"| {rtt} | {fmt(connect[rtt], 2)} | {name} | {login} | {fmt(span[k])} | {fmt(trips, 2)} | "
                     f"{fmt(median(client_time(c) for c in e['runs']), 2)} | {len(e['runs'])} | {len(e['errors'])} |")

    lines += ['', 'pollwick.exe against the others (medians of the spans):', '',
              '| RTT (ms) | login | pollwick.exe (ms) | before (ms) | now / before | minimal client (ms) | ratio | '
              'within 1.05× | fetchmail -c -a (ms) | ahead of it | mpop -s (ms) | ahead of it |',
              '|---:|---|---:|---:|---:|---:|---:|---|---:|---|---:|---|']
    for rtt in args.delays:
        for login in LOGINS:
            pw, mc = span.get((rtt, 'pollwick.exe', login)), span.get((rtt, 'minimal client', login))
            before = span.get((rtt, 'pollwick.exe (before)', login))
            fa, mp = span.get((rtt, 'fetchmail -c -a', login)), span.get((rtt, 'mpop -s', login))
            ratio = pw / mc if pw and mc else None
            within = '–' if ratio is None else ('yes' if ratio <= 1.05 else 'NO')
            ahead = lambda other: '–' if other is None or pw is None else ('yes' if pw < other else 'NO')
            lines.append(f'| {rtt} | {login} | {fmt(pw)} | {fmt(before)} | '
                         f'{fmt(pw / before if pw and before else None, 3)} | {fmt(mc)} | {fmt(ratio, 3)} | {within} | '
                         f'{fmt(fa)} | {ahead(fa)} | {fmt(mp)} | {ahead(mp)} |')

    # Step by step, pollwick.exe beside the minimal client: they send the same commands.
    lines += ['', 'Step by step, medians (ms): the client\'s own time before each command / the server\'s time '
              'to the first segment of its reply (the round trip included).', '',
              '| RTT (ms) | login | client | greeting | ' + ' | '.join(['1st command', '2nd', '3rd', '4th']) + ' |',
              '|---:|---|---|---:|---|---|---|---|']
    for rtt in args.delays:
        for login in LOGINS:
            for name in ('pollwick.exe', 'minimal client'):
                runs = results.get((rtt, name, login), {'runs': []})['runs']
                if not runs:
                    continue
                parsed = [steps_of(c) for c in runs]
                cells = []
                for i in range(4 if login == 'USER/PASS' else 3):
                    at = [s[i] for _, s in parsed if len(s) > i]
                    if not at:
                        break
                    cells.append(f"{at[0]['word']} {fmt(median(s['client'] for s in at), 2)} / "
                                 f"{fmt(median(s['server'] for s in at), 2)}")
                lines.append(f'| {rtt} | {login} | {name} | {fmt(median(g for g, _ in parsed), 2)} | '
                             + ' | '.join(cells + [''] * (4 - len(cells))) + ' |')

    lines += ['', 'pollwick.exe under Wine, resident memory (VmRSS) after check '
              f'{args.warmup + args.rounds} of each program (KB):', '',
              '| RTT (ms) | program | ' + ' | '.join(LOGINS) + ' |', '|---:|---|' + '---:|' * len(LOGINS)]
    for rtt in args.delays:
        for name in sorted({n for (_, n, _) in rss}):
            lines.append(f'| {rtt} | {name} | ' + ' | '.join(f"{rss.get((rtt, name, login)) or '–'}" for login in LOGINS)
                         + ' |')
    lines += ['', 'Load average (1 min) at the start and the end of each delay\'s rounds: '
              + ', '.join(f'{rtt} ms {a:.2f} → {b:.2f}' for rtt, (a, b) in load.items()) + '.']
    if stripped is not None:
        lines += ['', f'Stripped pollwick.exe (i686-w64-mingw32-strip): {stripped:,} bytes (budget 153,600).']

    errors = [(k, e['errors'][0], len(e['errors'])) for k, e in sorted(results.items()) if e['errors']]
    if errors:
        lines += ['', 'First failure of each client that failed:']
        for (rtt, name, login), error, count in errors:
            lines.append(f'- RTT {rtt}, {name} {login} ({count} failed): {error}')
    return '\n'.join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--source', required=True)
    parser.add_argument('--work', required=True, help='the Wine prefixes live here; the capture is kept here')
    parser.add_argument('--pollwick', required=True, help='pollwick.exe as it runs here')
    parser.add_argument('--arch', default='i686', help='which Windows build --pollwick is')
    parser.add_argument('--shipped', help='the 32-bit pollwick.exe we ship, whose size is reported (default: --pollwick)')
    parser.add_argument('--baseline', help='an earlier pollwick.exe, timed beside it in the same rounds')
    parser.add_argument('--probe', required=True, help='probe.exe')
    parser.add_argument('--minimal', required=True, help='the minimal client (bench/minimal.py)')
    parser.add_argument('--delay', required=True, help='the delay line program')
    parser.add_argument('--rounds', type=int, default=9)
    parser.add_argument('--warmup', type=int, default=1, help='untimed checks of each new pollwick.exe')
    parser.add_argument('--delays', default='0,20,50,100')
    parser.add_argument('--ttl', type=int, default=900, help='seconds after which a delay line stops by itself')
    parser.add_argument('--out')
    args = parser.parse_args()
    args.delays = [int(d) for d in args.delays.split(',')]
    stripped_path = os.path.join(args.work, 'pollwick-stripped.exe')
    stripped = None
    if run('i686-w64-mingw32-strip', '-o', stripped_path, args.shipped or args.pollwick, check=False).returncode == 0:
        stripped = os.path.getsize(stripped_path)
    bench = Bench(args)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        bench.up()
        results, rss, load = bench.measure()
    finally:
        bench.down()
    text = report(results, rss, load, args, stripped)
    print(text)
    if args.out:
        with open(args.out, 'w') as f:
            f.write(text + '\n')


if __name__ == '__main__':
    main()
