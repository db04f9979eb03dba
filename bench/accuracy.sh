#!/bin/sh
# Accuracy of the types kvx writes (bench/accuracy/README.md): installs the
# pinned compiler and the corpus packages when missing, then runs
# bench/accuracy/accuracy.js with the given options (--kvx PATH,
# --list-wrong inline|declarations|tsc, --json FILE, --only TEXT, --work DIR).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/.ci/install-node-tools.sh"
"$root/bench/accuracy/install.sh"
exec node "$root/bench/accuracy/accuracy.js" "$@"
