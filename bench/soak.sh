#!/usr/bin/env bash
# The soak, one command (bench/soak.cpp drives the program; docs/benchmarks.md has what it gave):
#   bench/soak.sh [BUILD_DIR] [CHECKS]          CHECKS checks (20,000; 100,000 for two years' worth)
#                                               with everything that goes wrong mixed in
#   bench/soak.sh --growth [BUILD_DIR] [CHECKS] [POLLWICK.exe]
#                                               plain checks by pollwick.exe (this build's, or the one
#                                               named) beside stand-ins that make its platform calls
#                                               without it (bench/standin.cpp), to tell whose memory grows
#   bench/soak.sh --only NAME [BUILD_DIR] [CHECKS]
#                                               one thing at every check and nothing else (taskbar, display,
#                                               log, sheet, apply, refused, reset, lookup, deadname, tls, resume,
#                                               stls), to tell which of them memory grows with
# Everything runs in a network namespace whose resolver never answers (scripts/fixtures/dead_dns.sh):
# the program's servers, its Wine and its X server too. Meanwhile this script samples the Wine side
# from Linux, in the quiet moments the soak announces (no check running, so no socket open): the
# open file descriptors of pollwick.exe and of its Wine server (which holds every kernel object),
# and pollwick.exe's resident memory, whole and by kind. It passes when the soak's own verdicts are
# right, no descriptor count of the second half of the run stays above the first half's highest, and
# the private resident memory (the heaps) of the second half grows by no more than its noise or
# 10 bytes a check, whichever is more (the rule is with its reckoning below). The samples, a table
# and a plot go to BUILD_DIR (soak.samples, soak.md, soak.png).
# --growth and --only together: that one thing at every check beside the stand-ins of
# POLLWICK_SOAK_STANDINS (for the sheet: POLLWICK_SOAK_STANDINS=sheet).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
growth=0
while :; do
  case ${1:-} in
    --growth) growth=1; shift ;;
    --only) export POLLWICK_SOAK_ONLY=$2; shift 2 ;;
    *) break ;;
  esac
done
build=$(cd "${1:-$top/build}" && pwd)
export POLLWICK_SOAK_CHECKS=${2:-20000}
export POLLWICK_SOAK_SCHEDULE="Z:$build/soak.schedule"
if [ "$growth" = 1 ]; then
  export POLLWICK_SOAK_STANDINS=${POLLWICK_SOAK_STANDINS:-"net,log,tray,timer;net;log;icon;notify;timer"}
  [ -z "${3:-}" ] || export POLLWICK_PROGRAM="Z:$(cd "$(dirname "$3")" && pwd)/$(basename "$3")"
fi
prefix=$build/fixtures/wine/prefix

POLLWICK_BENCH=1 bash "$top/scripts/setup.sh" >/dev/null  # gnuplot for the plot
cmake -S "$top" -B "$build" -DPOLLWICK_SOAK=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
log=$build/soak.log samples=$build/soak.samples
: >"$samples"
rm -f "$build/soak.schedule"
(cd "$build" && if "$top/scripts/fixtures/dead_dns.sh" ctest -R '^bench\.soak$' -V --timeout 14400 >"$log" 2>&1
  then echo 0; else echo 1; fi >"$build/soak.status") &
runner=$!

# The processes of the prefix whose command line holds the text.
pids() {
  for dir in /proc/[0-9]*; do
    grep -qa "$1" "$dir/cmdline" 2>/dev/null || continue
    tr '\0' '\n' <"$dir/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && basename "$dir"
  done
  return 0
}
fds() { ls "/proc/$1/fd" 2>/dev/null | wc -l; }
# The fewest of three reads in half a second: the program's own timer (a minute) may be checking at a
# sample, and its socket is not a leak.
least_fds() {
  local least=999999 n
  for _ in 1 2 3; do n=$(fds "$1"); [ "$n" -lt "$least" ] && least=$n; sleep 0.15; done
  echo "$least"
}
rss() { awk '/^VmRSS/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }
# The resident memory by kind: private (the heaps), mapped files (the DLLs, fonts), shared memory.
kinds() { awk '/^Rss(Anon|File|Shmem)/ {printf " %s", $2}' "/proc/$1/status" 2>/dev/null; }

seen=0
while kill -0 "$runner" 2>/dev/null; do
  if [ "$growth" = 1 ]; then
    # Every 5 s, each program's resident memory, whole and by kind, named by the parts it was given.
    for pid in $(pids 'pollwick.exe') $(pids 'standin.exe'); do
      name=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -o 'pollwick.exe\|standin.exe [a-z,]*' | head -n1 | tr ' ' ':') || true
      [ -z "$name" ] || echo "$SECONDS $name $(rss "$pid")$(kinds "$pid")" >>"$samples"
    done
    sleep 5
    continue
  fi
  reported=$(grep -c 'soak: after check' "$log" 2>/dev/null || true)
  if [ "${reported:-0}" -gt "$seen" ] && pid=$(pids 'pollwick.exe' | head -n1) && [ -n "$pid" ]; then
    seen=$reported
    sleep 0.3
    server=$(pids wineserver | head -n1)
    check=$(grep 'soak: after check' "$log" | tail -n1 | sed 's/.*after check \([0-9]*\).*/\1/') || true
    echo "$check $(least_fds "$pid") $(least_fds "$server") $(rss "$pid")$(kinds "$pid")" >>"$samples"
  fi
  sleep 0.2
done
wait "$runner" || true
grep -E '^[0-9: ]*soak:' "$log" | sed 's/^[0-9]*: //' || true

python3 - "$build" "$growth" "$POLLWICK_SOAK_CHECKS" <<'EOF'
import statistics, subprocess, sys
build, growth, checks = sys.argv[1], sys.argv[2] == '1', int(sys.argv[3])
rows = [line.split() for line in open(f'{build}/soak.samples')]
out = []
if growth:
    # Per program: growth per check over the last three quarters of its run (the first quarter
    # fills what every later check reuses), by a least-squares line through its samples.
    series = {}
    for t, name, kb, private, *_ in rows:
        series.setdefault(name, []).append((int(t), int(kb), int(private)))
    out += ['| program | samples | resident at a quarter (KB) | at the end (KB) | growth per check (bytes) '
            '| private at a quarter (KB) | at the end (KB) | growth per check (bytes) |',
            '|---|---:|---:|---:|---:|---:|---:|---:|']
    for name, points in sorted(series.items()):
        points = points[:-1] if len(points) > 4 else points  # the last may be its exit
        tail = points[len(points) // 4:]
        ts = [p[0] for p in tail]
        row = f'| {name.replace(":", " ")} | {len(points)}'
        for k in (1, 2):
            ks = [p[k] for p in tail]
            slope = statistics.linear_regression(ts, ks).slope if len(set(ts)) > 1 else 0.0
            # The checks are spread evenly over its run: KB a second, times its seconds, over its checks.
            per_check = slope * (points[-1][0] - points[0][0]) * 1024 / checks
            row += f' | {tail[0][k]} | {points[-1][k]} | {per_check:.0f}'
        out.append(row + ' |')
    print('\n'.join(out))
    open(f'{build}/soak.md', 'w').write('\n'.join(out) + '\n')
    sys.exit(0)

samples = [tuple(int(x) for x in row[:4]) for row in rows]
kinds_kb = {int(row[0]): [int(x) for x in row[4:7]] for row in rows if len(row) >= 7}
half = [x for x in samples if x[0] > checks // 2]
first = [x for x in samples if x[0] <= checks // 2]
out += ['| after check | pollwick.exe fds | wineserver fds | pollwick.exe resident (KB) | of it private / files / shared (KB) |',
        '|---:|---:|---:|---:|---:|']
out += [f'| {c} | {f} | {s} | {r} | {" / ".join(map(str, kinds_kb.get(c, [])))} |' for c, f, s, r in samples
        if c % (checks // 10 or 1) == 0 or c == 10]
verdicts = []
if len(half) > 2 and first:
    # The trend of the second half: the median of the slopes between every two of its samples (a
    # sample caught beside a passing megabyte, which the next one no longer holds, does not tilt
    # it), through the median of the samples about it. The bound: three times the scatter of the
    # samples about that line, or 10 bytes a check (a megabyte over a year of checks every five
    # minutes), whichever is more. The settings sheet settles by about 70 bytes an opening over its
    # first hundred or so (bench/soak.sh --only sheet), so memory exactly as flat as its pages
    # cannot be asked for; the growth of 184 bytes a check that the icons once had is 18 times the
    # bound. Judged on the private part, where the heaps are: the
    # whole also holds the X server's shared window pictures, which come and go with the windows
    # on screen (596 KB for the sheet's), and the pages of DLLs and fonts read in once.
    cs = [x[0] for x in half]
    def trend(ys):
        slope = statistics.median((ys[j] - ys[i]) / (cs[j] - cs[i]) for i in range(len(cs))
                                  for j in range(i + 1, len(cs)) if cs[j] != cs[i])
        level = statistics.median(y - slope * c for c, y in zip(cs, ys))
        grown = slope * (cs[-1] - cs[0])
        # The median distance from the line, as a standard deviation (times 1.48): blind, as the
        # line is, to the samples caught beside a passing megabyte.
        scatter = 3 * 1.4826 * statistics.median(abs(y - (slope * c + level)) for c, y in zip(cs, ys))
        bound = max(scatter, 10 * (cs[-1] - cs[0]) / 1024)
        return (f'{grown:+.0f} KB by its trend, {ys[-1] - ys[0]:+d} KB from its first sample to its last, '
                f'{grown * 1024 / (cs[-1] - cs[0]):.1f} bytes a check (bound: {bound:.0f} KB; three times the '
                f'scatter about the trend {scatter:.0f} KB, 10 bytes a check {10 * (cs[-1] - cs[0]) / 1024:.0f} KB)'), grown <= bound
    whole, _ = trend([x[3] for x in half])
    out += ['', f'- resident memory over the second half, all of it (not judged): {whole}']
    if all(c in kinds_kb for c in cs):
        private, flat = trend([kinds_kb[c][0] for c in cs])
        verdicts.append((f'private resident memory over the second half: {private}', flat))
    else:
        verdicts.append(('the private part of the resident memory sampled', False))
    # A descriptor that leaked stays; one of a thread still ending (the name lookup's, which has
    # its own pipes to the Wine server) is gone at the next sample. So: never above the first
    # half's highest at two samples in a row, nor at the last.
    for index, name in ((1, 'pollwick.exe'), (2, 'wineserver')):
        top = max(x[index] for x in first)
        above = [x[index] > top for x in half]
        stays = above[-1] or any(a and b for a, b in zip(above, above[1:]))
        verdicts.append((f'{name} descriptors in the second half: at most {max(x[index] for x in half)} (the first '
                         f'half\'s highest: {top}; above it at {sum(above)} of {len(above)} samples, '
                         f'{"staying" if stays else "never two in a row nor at the last"})', not stays))
else:
    out.append('')
    verdicts.append(('samples from both halves of the run', False))
status = open(f'{build}/soak.status').read().strip() == '0'
verdicts.append(('the soak\'s own verdicts', status))
out += [f'- {text}: {"pass" if good else "FAIL"}' for text, good in verdicts]
print('\n'.join(out))
open(f'{build}/soak.md', 'w').write('\n'.join(out) + '\n')

# The plot: memory and descriptors over the checks, each kind of fault a row of marks below.
kinds = ['plain', 'refused login', 'reset mid-reply', 'silent server', 'dead name lookup', 'server stopped',
         'TLS succeeds', 'TLS refused', 'after waking']
marks = [line.split() for line in open(f'{build}/soak.schedule')] if subprocess.run(
    ['test', '-s', f'{build}/soak.schedule']).returncode == 0 else []
with open(f'{build}/soak.marks', 'w') as f:
    for check, kind in marks:
        f.write(f'{check} {int(kind)}\n')
script = f'''
set terminal pngcairo size 1100,700 font ",10"
set output "{build}/soak.png"
set multiplot
set lmargin 17; set rmargin 12
set origin 0,0.38; set size 1,0.62
set title "pollwick.exe under Wine: {checks:,} checks by one running program"
set xrange [0:{checks}]; set format x ""
set ylabel "resident memory (KB)"; set y2label "open file descriptors"; set ytics nomirror; set y2tics
set key right center
plot "{build}/soak.samples" using 1:4 with linespoints title "pollwick.exe resident (KB)", \\
     "" using 1:5 with linespoints title "of it private (KB)", \\
     "" using 1:2 axes x1y2 with steps title "pollwick.exe fds", "" using 1:3 axes x1y2 with steps title "wineserver fds"
set origin 0,0; set size 1,0.40; unset title; set format x "%g"; set xlabel "check"
unset y2tics; unset y2label; set ylabel ""; set yrange [0.5:8.5]
set ytics ({", ".join(f'"{k}" {i}' for i, k in enumerate(kinds) if i > 0)})
unset key
plot "{build}/soak.marks" using 1:2 with points pointtype 7 pointsize 0.4
unset multiplot
'''
subprocess.run(['gnuplot'], input=script, text=True, check=False)
sys.exit(0 if all(good for _, good in verdicts) else 1)
EOF
