#!/bin/sh
# Installs the corpus of real npm packages (pinned in bench/corpus_files.txt)
# into .ci/corpus (project-local, no install scripts) and runs the corpus
# check on build/kvx. Skips with a message when the packages cannot be
# installed. Parse errors or duplicate declarations in the generated
# TypeScript fail the run; KVX_CORPUS_STRICT=0 only reports them.
set -eu
cd "$(dirname "$0")/.."

CORPUS=.ci/corpus
packages=$(grep -v '^#' bench/corpus_files.txt | awk 'NF { print $1 }' | sort -u | grep -v '^typescript@' || true)

installed_version() {
  # $1: package name
  file="$CORPUS/node_modules/$1/package.json"
  [ -f "$file" ] || return 0
  sed -n 's/^ *"version": *"\([^"]*\)".*/\1/p' "$file" | head -n 1
}

missing=""
for package in $packages; do
  [ "$(installed_version "${package%@*}")" = "${package##*@}" ] || missing="$missing $package"
done
if [ -n "$missing" ]; then
  if ! command -v npm >/dev/null 2>&1; then
    echo "corpus: SKIPPED, npm is not installed (needed for the corpus packages)"
    exit 0
  fi
  mkdir -p "$CORPUS"
  # A package.json of its own keeps npm from walking up into another project.
  [ -f "$CORPUS/package.json" ] || printf '{\n  "name": "kvx-corpus",\n  "private": true\n}\n' > "$CORPUS/package.json"
  # shellcheck disable=SC2086  # one word per package
  if ! npm install --prefix "$CORPUS" --save-exact --ignore-scripts --no-audit --no-fund --loglevel=error $packages; then
    echo "corpus: SKIPPED, the corpus packages could not be installed from the npm registry"
    exit 0
  fi
fi

mode=""
[ "${KVX_CORPUS_STRICT:-1}" = 0 ] && mode=--report-only
# shellcheck disable=SC2086  # empty when strict
bench/corpus_check.sh $mode --kvx build/kvx --modules "$CORPUS/node_modules"
