#!/usr/bin/env python3
"""The speed benchmark: Dovecot in a network namespace of its own behind a veth pair, a delay
line (NFQUEUE) adding a round-trip time, and every client timed against the same mailbox,
interleaved round by round. Started by bench/run.sh, which builds what it needs; run as root.

Everything it sets up (namespace, veth pair, iptables rules in that namespace, Dovecot, the
delay line) is taken down again at the end, also after a failure or an interrupt."""
import argparse, os, random, shutil, signal, socket, statistics, subprocess, sys, tempfile, time

NS = 'pwbench'
HOST_IF, NS_IF = 'pwb0', 'pwb1'
HOST_ADDR, NS_ADDR = '10.213.7.1', '10.213.7.2'
PORT = 41187  # its own port and instance name: nothing to share with the tests' Dovecots
USER, PASSWORD = 'bench', 'bench-pass'
MESSAGES = 5
QUEUE = 7
RUN_TIMEOUT = 60  # seconds any one client run may take


def run(*command, check=True, **kw):
    return subprocess.run(command, check=check, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)


def in_ns(*command, **kw):
    return run('ip', 'netns', 'exec', NS, *command, **kw)


class Bench:
    def __init__(self, args):
        self.args = args
        self.root = None
        self.delay = None

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
        with open(os.path.join(self.args.source, 'tests/peers/dovecot.conf.in')) as f:
            conf = f.read().replace('@STATE@', self.root).replace('@PORT@', str(PORT)).replace('127.0.0.1', NS_ADDR)
            conf = conf.replace(f'pollwick-test-{PORT}', 'pollwick-bench')
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

    def set_delay(self, rtt_ms):
        self.stop_delay()
        in_ns('iptables', '-F', 'INPUT')
        in_ns('iptables', '-F', 'OUTPUT')
        if rtt_ms == 0:
            return
        # Half the round trip each way, both on the namespace's side of the pair.
        self.delay = subprocess.Popen(['ip', 'netns', 'exec', NS, self.args.delay, str(QUEUE), str(rtt_ms // 2),
                                       str(self.args.ttl)], stdin=subprocess.DEVNULL)
        time.sleep(0.3)
        for chain, direction in (('INPUT', '-i'), ('OUTPUT', '-o')):
            in_ns('iptables', '-A', chain, direction, NS_IF, '-p', 'tcp', '-j', 'NFQUEUE', '--queue-num', str(QUEUE),
                  '--queue-bypass')

    def stop_delay(self):
        if self.delay is not None:
            self.delay.terminate()
            try:
                self.delay.wait(5)
            except subprocess.TimeoutExpired:
                self.delay.kill()
                self.delay.wait()
            self.delay = None

    def down(self):
        # Rules first, so that no packet waits for a delay line that is gone.
        run('ip', 'netns', 'exec', NS, 'iptables', '-F', check=False)
        self.stop_delay()
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
        env = dict(os.environ, HOME=self.home, FETCHMAILHOME=self.home)
        pw = [self.args.check, NS_ADDR, str(PORT), USER, PASSWORD]
        mpop = ['mpop', '--host=' + NS_ADDR, f'--port={PORT}', '--auth=user', '--user=' + USER,
                '--passwordeval=echo ' + PASSWORD, '--tls=off', '--uidls-file=' + os.path.join(self.home, 'uidls'),
                '--delivery=mbox,' + os.path.join(self.home, 'mbox'),
                '-s']
        fm = lambda rc, *extra: ['fetchmail', '-f', os.path.join(self.home, rc), '-c', *extra]
        table = [
            ('pollwick native', 'USER/PASS', pw + ['0', '1'], 'inner', env),
            ('pollwick native', 'APOP', pw + ['1', '1'], 'inner', env),
            ('mpop -s', 'USER/PASS', mpop, 'process', env),
            ('fetchmail -c', 'USER/PASS', fm('fetchmailrc'), 'process', env),
            ('fetchmail -c -a', 'USER/PASS', fm('fetchmailrc', '-a'), 'process', env),
            ('fetchmail -c', 'APOP', fm('fetchmailrc-apop'), 'process', env),
            ('fetchmail -c -a', 'APOP', fm('fetchmailrc-apop', '-a'), 'process', env),
        ]
        if self.args.wine_check:
            wenv = dict(os.environ, WINEPREFIX=self.args.wine_prefix, WINEARCH='win32', WINEDEBUG='-all',
                        WINEDLLOVERRIDES='mscoree,mshtml,winealsa.drv,winepulse.drv=')
            wpw = ['wine', self.args.wine_check, NS_ADDR, str(PORT), USER, PASSWORD]
            table += [('pollwick wine', 'USER/PASS', wpw + ['0', '1'], 'inner', wenv),
                      ('pollwick wine', 'APOP', wpw + ['1', '1'], 'inner', wenv)]
        return table

    def time_one(self, command, kind, env):
        start = time.perf_counter()
        result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                text=True, env=env, timeout=RUN_TIMEOUT)
        took = (time.perf_counter() - start) * 1000
        if kind == 'inner':
            if result.returncode != 0:
                return None, result.stderr.strip()[-200:]
            count, inner = result.stdout.split()[:2]
            if int(count) != MESSAGES:
                return None, f'count {count}'
            return float(inner), None
        # fetchmail -c exits 0 when there is mail; mpop -s 0 on success.
        if result.returncode != 0:
            return None, (result.stderr.strip() or result.stdout.strip())[-200:]
        return took, None

    def connect_rtt(self):
        times = []
        for _ in range(9):
            start = time.perf_counter()
            socket.create_connection((NS_ADDR, PORT), timeout=5).close()
            times.append((time.perf_counter() - start) * 1000)
            time.sleep(0.05)
        return statistics.median(times)

    def measure(self):
        results = {}
        clients = self.clients()
        # The same mailbox, the same rounds: each round runs every client once, in a new order.
        for rtt in self.args.delays:
            self.set_delay(rtt)
            measured = self.connect_rtt()
            for round_ in range(self.args.rounds):
                order = list(range(len(clients)))
                random.Random(round_ * 1000 + rtt).shuffle(order)
                for i in order:
                    name, method, command, kind, env = clients[i]
                    ms, error = self.time_one(command, kind, env)
                    entry = results.setdefault((rtt, name, method), {'ms': [], 'errors': [], 'rtt': measured})
                    (entry['ms'] if ms is not None else entry['errors']).append(ms if ms is not None else error)
            print(f'rtt {rtt} ms (TCP connect {measured:.2f} ms): {self.args.rounds} rounds done', file=sys.stderr)
        return results


def report(results, delays):
    lines = ['| RTT (ms) | connect (ms) | client | login | median (ms) | ÷ connect | runs | failed |',
             '|---:|---:|---|---|---:|---:|---:|---:|']
    base = {}
    for (rtt, name, method), entry in sorted(results.items()):
        ms = statistics.median(entry['ms']) if entry['ms'] else None
        if rtt == 0 and ms is not None:
            base[(name, method)] = ms
        ratio = f"{ms / entry['rtt']:.2f}" if ms is not None and rtt else '–'
        lines.append(f"| {rtt} | {entry['rtt']:.2f} | {name} | {method} | "
                     f"{'–' if ms is None else f'{ms:.1f}'} | {ratio} | {len(entry['ms'])} | {len(entry['errors'])} |")
    lines.append('')
    lines.append('Pollwick against its floor: round trips × RTT + its own median at RTT 0 (the server\'s time).')
    lines.append('')
    lines.append('| RTT (ms) | client | login | median (ms) | floor (ms) | over the floor |')
    lines.append('|---:|---|---|---:|---:|---:|')
    for (rtt, name, method), entry in sorted(results.items()):
        if not name.startswith('pollwick') or rtt == 0 or not entry['ms'] or (name, method) not in base:
            continue
        trips = 6 if method == 'USER/PASS' else 5
        floor = trips * entry['rtt'] + base[(name, method)]
        ms = statistics.median(entry['ms'])
        lines.append(f'| {rtt} | {name} | {method} | {ms:.1f} | {floor:.1f} | {100 * (ms / floor - 1):+.1f}% |')
    errors = [(k, e['errors'][0]) for k, e in sorted(results.items()) if e['errors']]
    if errors:
        lines.append('')
        lines.append('First failure of each client that failed:')
        for (rtt, name, method), error in errors:
            lines.append(f'- RTT {rtt}, {name} {method}: {error}')
    return '\n'.join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--source', required=True)
    parser.add_argument('--check', required=True, help='the native check program')
    parser.add_argument('--delay', required=True, help='the delay line program')
    parser.add_argument('--wine-check', help='the Windows check program (run under Wine)')
    parser.add_argument('--wine-prefix')
    parser.add_argument('--rounds', type=int, default=9)
    parser.add_argument('--delays', default='0,20,50,100')
    parser.add_argument('--ttl', type=int, default=900, help='seconds after which a delay line stops by itself')
    parser.add_argument('--out')
    args = parser.parse_args()
    args.delays = [int(d) for d in args.delays.split(',')]
    bench = Bench(args)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        bench.up()
        results = bench.measure()
    finally:
        bench.down()
    text = report(results, args.delays)
    print(text)
    if args.out:
        with open(args.out, 'w') as f:
            f.write(text + '\n')


if __name__ == '__main__':
    main()
