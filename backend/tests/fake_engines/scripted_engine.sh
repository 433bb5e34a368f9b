#!/bin/sh
# A stand-in for velmora-engine. The movie (probe) or source (write) path
# names the behaviour: its last component, without any extension.
command=$1
case=${2##*/}
case=${case%.*}

flood() {
    # $1 lines of $2 characters each (plus the line feed), numbered.
    awk -v lines="$1" -v width="$2" 'BEGIN {
        for (i = 1; i <= lines; i++) {
            line = sprintf("status line %05d ", i)
            while (length(line) < width) line = line "x"
            print line
        }
    }' >&2
}

case "$command:$case" in
probe:report) printf '{"engine":"velmora-native","rate":"25/1","streams":[]}\n' ;;
probe:empty-array) printf '[]' ;;
probe:no-output) ;;
probe:not-json) printf 'not json\n' ;;
probe:trailing-text) printf '{} x\n' ;;
probe:spaced-failure) printf '  Unsupported frame rate \n' >&2; exit 1 ;;
probe:silent-failure) exit 1 ;;
probe:report-then-failure) printf '{}\n'; printf 'late failure\n' >&2; exit 4 ;;
probe:lossy-failure) printf '\377bad \303\n' >&2; exit 1 ;;
probe:killed) printf 'dying\n' >&2; kill -9 $$ ;;
probe:big-streams)
    # A megabyte on each stream, the error stream first: a reader that
    # drains one pipe after the other would never see the end.
    awk 'BEGIN { for (i = 0; i < 16384; i++) print "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcde" }' >&2
    awk 'BEGIN { printf "["; for (i = 0; i < 200000; i++) printf "%s1", (i ? "," : ""); print "]" }' ;;
probe:never-answers) sleep 600 ;;
probe:closes-streams-and-stays) exec >&- 2>&-; sleep 600 ;;
probe:answers-after-a-pause) sleep 0.2; printf '{}' ;;
probe:stdin) printf '{"stdin":"%s"}' "$(readlink /proc/$$/fd/0)" ;;
write:arguments) printf '%s\n' "$@" > "$3" ;;
write:streams)
    input=$(readlink /proc/$$/fd/0)
    output=$(readlink /proc/$$/fd/1)
    printf '%s\n%s\n' "$input" "$output" > "$3" ;;
write:success) printf 'progress=0\nprogress=0.5\nprogress=1\n' >&2 ;;
write:quiet-then-succeeds) exec 2>&-; sleep 0.3 ;;
write:quiet-then-fails) exec 2>&-; sleep 0.3; exit 1 ;;
write:progress-table)
    printf 'progress=0.5\nprogress=1.7\nprogress=-2\nprogress= 0.5\nprogress=abc\n' >&2
    printf 'progress=0.25\r\nprogress=\nprogress=1e-1\nprogress=-inf\nprogress=+.5\n' >&2
    printf 'progress=NaN\nprogress=5.\nprogress=1e400\nprogress=0.5 \nprogressx=0.5\nprogress=0x1p-1\n' >&2
    exit 1 ;;
write:carriage-return-at-end) printf 'progress=0.5\r' >&2; exit 1 ;;
write:message) printf '  Output already exists\n\n' >&2; exit 1 ;;
write:flood-100) flood 200 99; exit 2 ;;
write:flood-101) flood 200 100; exit 2 ;;
write:progress-only) printf 'progress=0.1\nprogress=0.9\n' >&2; exit 3 ;;
write:blank-status) printf '   \n\t\n' >&2; exit 1 ;;
write:invalid-utf8) printf 'fine\n\377\n' >&2 ;;
write:truncated-utf8) printf 'caf\303' >&2 ;;
write:invalid-utf8-then-flood)
    # Far more than a pipe holds after the bad line: only a reader that lets
    # go of the pipe once it has failed lets this engine end.
    printf '\377\n' >&2; flood 40000 99; exit 1 ;;
write:long-line)
    # One line of 8191 bytes, then a three-byte character across the
    # reader's 8192-byte buffer boundary.
    awk 'BEGIN { s = ""; for (i = 0; i < 8191; i++) s = s "a"; printf "%s\342\202\254\n", s }' >&2
    exit 1 ;;
write:killed) kill -9 $$ ;;
write:sleep) exec sleep 30 ;;
write:sleep-in-child) sleep 30; echo finished >&2 ;;
write:progress-then-sleep) printf 'progress=0.5\n' >&2; exec sleep 30 ;;
*) printf 'scripted engine: unknown case %s:%s\n' "$command" "$case" >&2; exit 64 ;;
esac
