#!/usr/bin/env python3
"""The minimal client of the speed benchmark: the least a mail check can do. It connects, reads
the greeting, logs in with USER/PASS or APOP, sends STAT and QUIT, and reads each reply before the
next command; nothing else (no CAPA, no TLS, no listing). Prints the STAT count.
  minimal.py HOST PORT USER PASSWORD APOP(0|1)

bench/bench.py times it from the packet capture, as every other client, so its start-up and exit
are not counted; what it adds to the exchange is one Python read and one send per reply."""
import hashlib
import re
import socket
import sys


def main():
    host, port, user, password, apop = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5] == '1'
    with socket.create_connection((host, port), timeout=30) as s:
        pending = b''

        def reply():
            # One reply line, however the server cuts it into segments.
            nonlocal pending
            while b'\n' not in pending:
                data = s.recv(1024)
                if not data:
                    sys.exit('minimal: the server closed the connection')
                pending += data
            line, _, pending = pending.partition(b'\n')
            if not line.startswith(b'+OK'):
                sys.exit('minimal: ' + line.decode('latin-1').strip())
            return line.decode('latin-1')

        def command(text):
            s.sendall(text.encode('latin-1') + b'\r\n')
            return reply()

        greeting = reply()
        if apop:
            stamp = re.search(r'<[^>]*>', greeting)
            if stamp is None:
                sys.exit('minimal: the greeting has no APOP timestamp')
            command(f'APOP {user} ' + hashlib.md5((stamp.group(0) + password).encode('latin-1')).hexdigest())
        else:
            command('USER ' + user)
            command('PASS ' + password)
        count = int(command('STAT').split()[1])
        command('QUIT')
    print(count)


if __name__ == '__main__':
    main()
