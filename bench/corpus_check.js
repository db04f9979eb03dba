#!/usr/bin/env node
// Checks kvx's generated TypeScript with the compiler's own API, in one
// process for all files (one tsc per file would spend most of its time
// parsing the same library files again).
//
//   node bench/corpus_check.js [--report-only] [--details N] [--full-limit BYTES] MANIFEST
//
// MANIFEST has one tab-separated line per source file:
//   name  source.js  w-output.ts  auto-output.ts  w-status  auto-status
// (an output that was not written is "-"). For each file it prints the
// parse errors (TS1xxx) of the `kvx w` output and of the hardened output,
// the duplicate declarations in the compiled file, and the compiler's error
// count for the kvx output next to the rename baseline (the source copied to
// .ts unchanged), with the flags of kvx's compile step; sources above
// --full-limit bytes get no baseline (it takes the compiler minutes and
// gigabytes). Exit status 1 when any parse error or duplicate was found, or
// kvx wrote no output, unless --report-only.
'use strict';

const fs = require('fs');
const path = require('path');

const toolsModules = path.resolve(__dirname, '..', '.ci', 'tools', 'node_modules');
let ts;
try {
  ts = require(path.join(toolsModules, 'typescript'));
} catch (error) {
  console.error(`corpus_check: the TypeScript compiler is missing from ${toolsModules}: run .ci/install-node-tools.sh`);
  process.exit(2);
}

// Duplicate declarations in one file: duplicate identifier, duplicate
// function implementation, redeclared block-scoped variable, mismatched
// modifiers or property types of one member declared twice, misplaced this,
// an import clashing with a local declaration, a redeclared exported
// variable, two default exports.
const DUPLICATE_CODES = new Set([2300, 2393, 2451, 2687, 2717, 2680, 2440, 2323, 2528]);

function parseArgs(argv) {
  const args = { reportOnly: false, details: 0, fullLimit: Infinity, manifest: null };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--report-only') args.reportOnly = true;
    else if (argv[i] === '--details') args.details = Number(argv[++i]);
    else if (argv[i] === '--full-limit') args.fullLimit = Number(argv[++i]);
    else args.manifest = argv[i];
  }
  if (!args.manifest) {
    console.error('usage: corpus_check.js [--report-only] [--details N] [--full-limit BYTES] MANIFEST');
    process.exit(2);
  }
  return args;
}

// The flags of kvx's compile step (`--target ES2020 --module commonjs
// --esModuleInterop --strict false --skipLibCheck`, `--types node` when the
// Node type definitions are there); nothing is emitted here.
function compilerOptions() {
  const options = {
    target: ts.ScriptTarget.ES2020,
    module: ts.ModuleKind.CommonJS,
    esModuleInterop: true,
    strict: false,
    skipLibCheck: true,
    noEmit: true,
  };
  if (fs.existsSync(path.join(toolsModules, '@types', 'node', 'index.d.ts'))) {
    options.types = ['node'];
    options.typeRoots = [path.join(toolsModules, '@types')];
  }
  return options;
}

// A compiler host that serves the checked file from memory and parses every
// other file (the libraries, the Node types) once for the whole run.
function makeHost(options) {
  const host = ts.createCompilerHost(options, true);
  const shared = new Map();
  const readFile = host.getSourceFile.bind(host);
  let current = { fileName: '', text: '' };
  host.getSourceFile = (fileName, languageVersion, onError) => {
    if (fileName === current.fileName) {
      return ts.createSourceFile(fileName, current.text, languageVersion, true, ts.ScriptKind.TS);
    }
    if (!shared.has(fileName)) shared.set(fileName, readFile(fileName, languageVersion, onError));
    return shared.get(fileName);
  };
  host.setCurrent = (fileName, text) => { current = { fileName, text }; };
  return host;
}

function syntaxErrors(fileName, text) {
  const file = ts.createSourceFile(fileName, text, ts.ScriptTarget.ES2020, true, ts.ScriptKind.TS);
  return file.parseDiagnostics.filter((d) => d.category === ts.DiagnosticCategory.Error);
}

// All the errors tsc would print for `text` compiled as `fileName`.
function compileErrors(host, options, fileName, text) {
  host.setCurrent(fileName, text);
  const program = ts.createProgram([fileName], options, host);
  return ts.getPreEmitDiagnostics(program).filter((d) => d.category === ts.DiagnosticCategory.Error);
}

// `text` as a module: `export {};` added where it has no import or export
// (a `require` call does not make a .ts file a module).
function asModule(fileName, text) {
  const file = ts.createSourceFile(fileName, text, ts.ScriptTarget.ES2020, true, ts.ScriptKind.TS);
  return ts.isExternalModule(file) ? text : `${text}\nexport {};\n`;
}

function describe(diagnostic) {
  const message = ts.flattenDiagnosticMessageText(diagnostic.messageText, ' ');
  let where = '';
  if (diagnostic.file && diagnostic.start !== undefined) {
    const { line } = diagnostic.file.getLineAndCharacterOfPosition(diagnostic.start);
    where = `:${line + 1}`;
  }
  return `TS${diagnostic.code}${where} ${message.slice(0, 140)}`;
}

function readText(file) {
  return file === '-' ? null : fs.readFileSync(file, 'utf8');
}

function pad(value, width) {
  const text = String(value);
  return text.length >= width ? text : ' '.repeat(width - text.length) + text;
}

function main() {
  const args = parseArgs(process.argv.slice(2));
  const lines = fs.readFileSync(args.manifest, 'utf8').split('\n').filter((line) => line.trim() !== '');
  const options = compilerOptions();
  const host = makeHost(options);
  const totals = { parse: 0, hparse: 0, dup: 0, kvx: 0, rename: 0, missing: 0, autoFailed: 0 };

  console.log(`${'file'.padEnd(44)} ${pad('bytes', 9)} ${pad('parse', 5)} ${pad('hard', 5)} ${pad('dup', 5)} ${pad('kvx', 7)} ${pad('rename', 7)}  auto`);
  for (const line of lines) {
    const [name, source, wOutput, autoOutput, wStatus, autoStatus] = line.split('\t');
    const sourceText = fs.readFileSync(source, 'utf8');
    const generated = readText(wOutput);
    const hardened = readText(autoOutput);
    if (generated === null) {
      totals.missing += 1;
      console.log(`${name.padEnd(44)} ${pad(sourceText.length, 9)}  kvx w wrote nothing (status ${wStatus})`);
      continue;
    }
    const checkedName = path.join(path.dirname(path.resolve(source)), 'generated', path.basename(source, '.js') + '.ts');
    const parse = syntaxErrors(checkedName, generated);
    const hparse = hardened === null ? [] : syntaxErrors(checkedName, hardened);
    // The compiled file is the hardened one when the automatic pipeline got
    // that far, as in `kvx auto`.
    const compiled = compileErrors(host, options, checkedName, hardened === null ? generated : hardened);
    const duplicates = compiled.filter((d) => DUPLICATE_CODES.has(d.code) && d.file && d.file.fileName === checkedName);
    const renamed = path.join(path.dirname(path.resolve(source)), path.basename(source, '.js') + '.ts');
    const withBaseline = sourceText.length <= args.fullLimit;
    const baseline = withBaseline ? compileErrors(host, options, renamed, sourceText) : [];

    let autoNote = autoStatus === '0' ? 'built' : `failed (${autoStatus})`;
    if (autoStatus === 'skipped') autoNote = 'not compiled (size)';
    else if (autoStatus !== '0') totals.autoFailed += 1;
    totals.parse += parse.length;
    totals.hparse += hparse.length;
    totals.dup += duplicates.length;
    totals.kvx += compiled.length;
    totals.rename += baseline.length;
    console.log(`${name.padEnd(44)} ${pad(sourceText.length, 9)} ${pad(parse.length, 5)} ${pad(hparse.length, 5)} ${pad(duplicates.length, 5)} ${pad(compiled.length, 7)} ${pad(withBaseline ? baseline.length : '-', 7)}  ${autoNote}`);
    if (args.details > 0) {
      for (const d of parse.slice(0, args.details)) console.log(`    parse ${describe(d)}`);
      for (const d of hparse.slice(0, args.details)) console.log(`    hardened ${describe(d)}`);
      for (const d of duplicates.slice(0, args.details)) console.log(`    dup ${describe(d)}`);
    }
  }
  console.log(`${'TOTAL'.padEnd(44)} ${pad(lines.length + ' files', 9)} ${pad(totals.parse, 5)} ${pad(totals.hparse, 5)} ${pad(totals.dup, 5)} ${pad(totals.kvx, 7)} ${pad(totals.rename, 7)}  ${totals.autoFailed} not built`);
  console.log(`parse errors ${totals.parse} (hardened ${totals.hparse}), duplicate declarations ${totals.dup}, ` +
              `compiler errors ${totals.kvx} (rename baseline ${totals.rename}), files without output ${totals.missing}`);
  const faults = totals.parse + totals.hparse + totals.dup + totals.missing;
  if (faults > 0 && !args.reportOnly) process.exit(1);
}

module.exports = { ts, DUPLICATE_CODES, compilerOptions, makeHost, syntaxErrors, compileErrors, asModule, describe };

if (require.main === module) main();
