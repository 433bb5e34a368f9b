#!/bin/sh
# A stand-in for velmora-engine's probe: every probe is logged in the file
# named by PROBE_LOG, if set; the movie's name picks the report.
[ "$1" = probe ] || { echo "probe only" >&2; exit 64; }
printf '%s\n' "$2" >> "${PROBE_LOG:-/dev/null}"
case ${2##*/} in
*refused*) printf '  Unsupported frame rate\n' >&2; exit 1 ;;
*created-zero*) printf '{"createdUnix":0,"engine":"fake"}' ;;
*created-negative*) printf '{"createdUnix":-1}' ;;
*created-recent*) printf '{"createdUnix":1700000000}' ;;
*created-year-one*) printf '{"createdUnix":-62135596800}' ;;
*created-year-10000*) printf '{"createdUnix":253402300800}' ;;
*created-float*) printf '{"createdUnix":1700000000.0}' ;;
*created-exponent*) printf '{"createdUnix":17e8}' ;;
*created-string*) printf '{"createdUnix":"1700000000"}' ;;
*created-huge*) printf '{"createdUnix":18446744073709551615}' ;;
*created-far*) printf '{"createdUnix":9000000000000000000}' ;;
*created-min*) printf '{"createdUnix":-9223372036854775808}' ;;
*created-missing*) printf '{"rate":"25/1"}' ;;
*members*) printf '{"card":"x","created":"x","createdUnix":1700000000,"creationOrigin":"x","id":"engine","modified":"x","name":"x","path":"x","relativeDir":"x","size":-1,"streams":[{"index":0}]}' ;;
*array*) printf '[]' ;;
*changing*) printf 'more' >> "$2"; printf '{}' ;;
*vanishing*) rm -f "$2"; printf '{}' ;;
*held*)
    # Waits (at most 60 s, for a loaded machine) until the test creates "<movie>.release".
    i=0
    while [ ! -e "$2.release" ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i + 1)); done
    printf '{}' ;;
*) printf '{"createdUnix":null,"engine":"fake"}' ;;
esac
