#!/usr/bin/env node
// Compares the inline output of each corpus file with the source copied to
// .ts unchanged, with the flags of kvx's compile step.
//
//   node bench/inline_corpus_check.js [--full-limit BYTES] [--module-baseline] MANIFEST
//
// --module-baseline: the copy is compiled as a module (`export {};` added
// where it has no import or export), as the inline file is one; its names
// then no longer meet the global ones (the DOM's `URL`, `screen`...).
//
// MANIFEST: name, source.js, inline output (or -), kvx status, annotations
// written, annotations kept. Exit status 1 when an output is missing, has a
// parse error the source has not, or more compiler errors than the source.
'use strict';

const fs = require('fs');
const path = require('path');
const check = require('./corpus_check.js');

function main() {
  const argv = process.argv.slice(2);
  let fullLimit = Infinity;
  let manifest = null;
  let moduleBaseline = false;
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--full-limit') fullLimit = Number(argv[++i]);
    else if (argv[i] === '--module-baseline') moduleBaseline = true;
    else manifest = argv[i];
  }
  const options = check.compilerOptions();
  const host = check.makeHost(options);
  const totals = { files: 0, worse: 0, better: 0, cleanInline: 0, cleanBase: 0, inline: 0, base: 0, written: 0, kept: 0, faults: 0, checked: false };
  const pad = (v, w) => String(v).padStart(w);
  console.log(`${'file'.padEnd(44)} ${pad('bytes', 9)} ${pad('inline', 7)} ${pad('copy', 7)} ${pad('written', 8)} ${pad('kept', 6)}`);
  for (const line of fs.readFileSync(manifest, 'utf8').split('\n')) {
    if (!line.trim()) continue;
    const [name, source, output, status, written, kept] = line.split('\t');
    const sourceText = fs.readFileSync(source, 'utf8');
    totals.files += 1;
    if (output === '-') {
      totals.faults += 1;
      console.log(`${name.padEnd(44)} no output (status ${status})`);
      continue;
    }
    const text = fs.readFileSync(output, 'utf8');
    const tsName = path.resolve(output);
    const parse = check.syntaxErrors(tsName, text).length;
    const sourceParse = check.syntaxErrors(tsName, sourceText).length;
    if (parse > sourceParse) totals.faults += 1;
    if (sourceText.length > fullLimit) {
      console.log(`${name.padEnd(44)} ${pad(sourceText.length, 9)}  parse ${parse} (copy ${sourceParse}), not compiled (size), ${written} annotations`);
      continue;
    }
    const inline = check.compileErrors(host, options, tsName, text).length;
    const copy = moduleBaseline ? check.asModule(tsName, sourceText) : sourceText;
    const base = check.compileErrors(host, options, tsName, copy).length;
    totals.inline += inline;
    totals.base += base;
    if (inline > base) totals.worse += 1;
    if (inline < base) totals.better += 1;
    if (inline === 0) totals.cleanInline += 1;
    if (base === 0) totals.cleanBase += 1;
    totals.written += Number(written) || 0;
    totals.kept += Number(kept) || 0;
    if (kept !== '-') totals.checked = true;
    console.log(`${name.padEnd(44)} ${pad(sourceText.length, 9)} ${pad(inline, 7)} ${pad(base, 7)} ${pad(written, 8)} ${pad(kept, 6)}${inline > base ? '  WORSE' : ''}`);
  }
  if (moduleBaseline) console.log('the copy is compiled as a module (export {} added where it has no import or export)');
  console.log(`files ${totals.files}: worse than the copy ${totals.worse}, better ${totals.better}; ` +
              `clean ${totals.cleanInline} (copy ${totals.cleanBase}); compiler errors ${totals.inline} (copy ${totals.base}); ` +
              (totals.checked ? `annotations kept ${totals.kept} of ${totals.written}` : `annotations written ${totals.written} (not checked)`) +
              `; missing outputs or new parse errors ${totals.faults}`);
  if (totals.worse + totals.faults > 0) process.exit(1);
}

main();
