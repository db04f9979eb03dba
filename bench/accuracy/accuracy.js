#!/usr/bin/env node
// Accuracy of the types kvx writes, against the types the packages declare.
//
//   node bench/accuracy/accuracy.js [--kvx PATH] [--packages DIR] [--work DIR]
//        [--corpus FILE] [--only TEXT] [--list-wrong inline|declarations|tsc]
//        [--json FILE]
//
// For each file of the corpus (packages.txt) three producers type the same
// JavaScript: `kvx w --inline` (inline), `kvx w` (declarations) and the
// compiler alone (`tsc --allowJs --declaration --emitDeclarationOnly`,
// tsc). Each position (parameter, result, value; see positions.js) is
// compared with the declared type: the package's own .d.ts for packages
// written in TypeScript, the JSDoc for JavaScript packages. A producer typed
// a position when it wrote a type other than any/unknown; it is right when
// that type is the declared one once spaces are normalised, or the two are
// assignable both ways in the compiler's checker. Both types are evaluated
// in the scope of the declared .d.ts (the written type is appended to it as
// a type alias), so a class or an interface of the package named by the
// written type is the package's own. strictNullChecks is off, as in kvx's
// compile step: `string | undefined` is `string`.
'use strict';

const fs = require('fs');
const path = require('path');
const childProcess = require('child_process');

const here = __dirname;
const root = path.resolve(here, '..', '..');
const toolsModules = path.join(root, '.ci', 'tools', 'node_modules');
let ts;
try {
  ts = require(path.join(toolsModules, 'typescript'));
} catch (error) {
  console.error(`accuracy: the TypeScript compiler is missing from ${toolsModules}: run .ci/install-node-tools.sh`);
  process.exit(2);
}
const positionsOf = require('./positions.js').create(ts);

const PRODUCERS = ['inline', 'declarations', 'tsc'];
const KINDS = ['param', 'result', 'value'];

function parseArgs(argv) {
  const args = {
    kvx: path.join(root, 'build', 'kvx'),
    packages: path.join(here, 'packages', 'node_modules'),
    work: path.join(root, 'build', 'accuracy-work'),
    corpus: path.join(here, 'packages.txt'),
    only: '',
    listWrong: null,
    json: null,
    project: false,
  };
  for (let i = 0; i < argv.length; i++) {
    const value = () => {
      if (i + 1 >= argv.length) usage(`${argv[i]} needs a value`);
      return argv[++i];
    };
    switch (argv[i]) {
      case '--kvx': args.kvx = path.resolve(value()); break;
      case '--packages': args.packages = path.resolve(value()); break;
      case '--work': args.work = path.resolve(value()); break;
      case '--corpus': args.corpus = path.resolve(value()); break;
      case '--only': args.only = value(); break;
      case '--list-wrong': args.listWrong = value(); break;
      case '--json': args.json = path.resolve(value()); break;
      case '--project': args.project = true; break;
      case '--help': case '-h': usage(null); break;
      default: usage(`unknown argument '${argv[i]}'`);
    }
  }
  if (args.listWrong !== null && !PRODUCERS.includes(args.listWrong)) {
    usage(`--list-wrong takes one of ${PRODUCERS.join(', ')}`);
  }
  return args;
}

function usage(message) {
  if (message) console.error(`accuracy: ${message}`);
  console.error('usage: accuracy.js [--kvx PATH] [--packages DIR] [--work DIR] [--corpus FILE] [--only TEXT]\n' +
                '                   [--list-wrong inline|declarations|tsc] [--json FILE]');
  process.exit(message ? 2 : 0);
}

function readCorpus(file) {
  const packages = [];
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    const words = line.trim().split(/\s+/);
    if (words[0] !== 'package') continue;
    const [, entry, group, ...files] = words;
    const at = entry.lastIndexOf('@');
    if (at <= 0 || !['ts', 'jsdoc'].includes(group) || files.length === 0) {
      throw new Error(`packages.txt: cannot read '${line.trim()}'`);
    }
    packages.push({ name: entry.slice(0, at), version: entry.slice(at + 1), group, files });
  }
  return packages;
}

// --- the compiler ------------------------------------------------------

// Library and package files are parsed once for the whole run; files given
// in `virtual` are served from memory.
const sharedFiles = new Map();

function makeHost(options, virtual) {
  const host = ts.createCompilerHost(options, true);
  const getSourceFile = host.getSourceFile.bind(host);
  const fileExists = host.fileExists.bind(host);
  const readFile = host.readFile.bind(host);
  host.getSourceFile = (fileName, languageVersion, onError) => {
    if (virtual.has(fileName)) {
      return ts.createSourceFile(fileName, virtual.get(fileName), languageVersion, true);
    }
    if (!sharedFiles.has(fileName)) sharedFiles.set(fileName, getSourceFile(fileName, languageVersion, onError));
    return sharedFiles.get(fileName);
  };
  host.fileExists = (fileName) => virtual.has(fileName) || fileExists(fileName);
  host.readFile = (fileName) => (virtual.has(fileName) ? virtual.get(fileName) : readFile(fileName));
  host.writeFile = () => {};
  return host;
}

function baseOptions() {
  const options = {
    target: ts.ScriptTarget.ES2020,
    module: ts.ModuleKind.CommonJS,
    esModuleInterop: true,
    strict: false,
    strictNullChecks: false,
  };
  if (fs.existsSync(path.join(toolsModules, '@types', 'node', 'index.d.ts'))) {
    options.types = ['node'];
    options.typeRoots = [path.join(toolsModules, '@types')];
  }
  return options;
}

// The .d.ts the compiler's declaration emit writes for one JavaScript file
// (null when it writes none). `alone`: the file's imports are not followed,
// so the compiler sees what kvx sees.
function declarationEmit(jsFile, alone) {
  const options = Object.assign(baseOptions(), {
    allowJs: true, declaration: true, emitDeclarationOnly: true, skipLibCheck: true, noResolve: alone,
  });
  const host = makeHost(options, new Map());
  let text = null;
  const program = ts.createProgram([jsFile], options, host);
  program.emit(program.getSourceFile(jsFile), (name, data) => {
    if (name.endsWith('.d.ts')) text = data;
  });
  return text;
}

// --- the producers -----------------------------------------------------

function runKvx(kvx, dir, base, inline) {
  fs.mkdirSync(dir, { recursive: true });
  const arguments_ = inline ? ['w', '--inline', base] : ['w', base];
  const result = childProcess.spawnSync(kvx, arguments_, { cwd: dir, encoding: 'utf8', timeout: 300000 });
  const output = path.join(dir, 'generated', base.replace(/\.js$/, '.ts'));
  if (result.status === 0 && fs.existsSync(output)) return { text: fs.readFileSync(output, 'utf8'), failure: null };
  const reason = result.error ? result.error.message : `exit ${result.status}`;
  return { text: null, failure: reason };
}

// `kvx go src --inline` (mode w) over the files copied with their paths
// into dir/src: relative path -> { text, failure }.
function runKvxProject(kvx, dir, folder, relatives) {
  fs.rmSync(dir, { recursive: true, force: true });
  for (const relative of relatives) {
    fs.mkdirSync(path.dirname(path.join(dir, 'src', relative)), { recursive: true });
    fs.copyFileSync(path.join(folder, relative), path.join(dir, 'src', relative));
  }
  const result = childProcess.spawnSync(kvx, ['go', 'src', '--inline'], { cwd: dir, encoding: 'utf8', timeout: 300000 });
  const runs = new Map();
  for (const relative of relatives) {
    const output = path.join(dir, 'generated', relative.replace(/\.js$/, '.ts'));
    if (fs.existsSync(output)) {
      runs.set(relative, { text: fs.readFileSync(output, 'utf8'), failure: null });
    } else {
      runs.set(relative, { text: null, failure: result.error ? result.error.message : `exit ${result.status}, no output` });
    }
  }
  return runs;
}

// What one producer wrote for a file: the positions by path, and its own
// interfaces and type aliases (the written types may name them).
function readProduced(fileName, text) {
  if (text === null) return { positions: new Map(), declarations: [], sourceFile: null };
  const sourceFile = ts.createSourceFile(fileName, text, ts.ScriptTarget.ES2020, true, ts.ScriptKind.TS);
  const declarations = [];
  for (const statement of sourceFile.statements) {
    if ((ts.isInterfaceDeclaration(statement) || ts.isTypeAliasDeclaration(statement)) && statement.name) {
      declarations.push({ name: statement.name.text, text: statement.getText(sourceFile) });
    }
  }
  return { positions: positionsOf.collect(sourceFile), declarations, sourceFile };
}

// The type a producer wrote at a position, as text (null when none).
function writtenText(produced, position, producer) {
  if (!position) return null;
  if (position.typeNode) return position.typeNode.getText(produced.sourceFile);
  // The compiler's .d.ts writes `declare const X = "1"`: its type is the
  // literal. kvx's outputs without an annotation leave the type unwritten.
  if (producer === 'tsc' && position.valueNode && position.valueNode.initializer) {
    const initializer = position.valueNode.initializer;
    if (literalKind(initializer)) return initializer.getText(produced.sourceFile);
  }
  // kvx's inline form leaves a parameter with a literal default unwritten on
  // purpose (`offset = 0`): the compiler types it from the default, so the
  // team gets that type, as with the compiler's `declare const X = "1"`.
  if (producer === 'inline' && position.kind === 'param' && position.initializer) {
    const kind = literalKind(position.initializer);
    if (kind) return kind;
  }
  // The same for a destructured options parameter whose every property has a
  // literal default (`{ windowsPathsNoEscape = false } = {}`): the compiler
  // types it `{ windowsPathsNoEscape?: boolean }` from the pattern.
  if (producer === 'inline' && position.kind === 'param' && position.pattern) {
    const members = [];
    for (const element of position.pattern.elements) {
      const kind = !element.dotDotDotToken && element.initializer && literalKind(element.initializer);
      if (!kind) return null;
      members.push(`${(element.propertyName || element.name).getText(produced.sourceFile)}?: ${kind}`);
    }
    if (members.length > 0) return `{ ${members.join('; ')} }`;
  }
  return null;
}

// `string`, `number` or `boolean` for a literal the compiler types by its
// kind (a string, a number, `-1`, `true`, a template without placeholders).
function literalKind(node) {
  if (ts.isStringLiteral(node) || ts.isNoSubstitutionTemplateLiteral(node)) return 'string';
  if (ts.isNumericLiteral(node)) return 'number';
  if (ts.isPrefixUnaryExpression(node) && ts.isNumericLiteral(node.operand)) return 'number';
  if (node.kind === ts.SyntaxKind.TrueKeyword || node.kind === ts.SyntaxKind.FalseKeyword) return 'boolean';
  return null;
}

// --- scoring -----------------------------------------------------------

function normalise(text) {
  const flat = text.replace(/\s+/g, '').replace(/;/g, ',').replace(/,([}\]])/g, '$1');
  // Top-level union members in a fixed order.
  const members = [];
  let depth = 0;
  let start = 0;
  for (let i = 0; i < flat.length; i++) {
    const c = flat[i];
    if ('([{<'.includes(c)) depth += 1;
    else if (')]}>'.includes(c) && flat[i - 1] !== '=') depth -= 1;
    else if (c === '|' && depth === 0) { members.push(flat.slice(start, i)); start = i + 1; }
  }
  members.push(flat.slice(start));
  return members.filter((m) => m !== '').sort().join('|');
}

function parsesAsType(text) {
  const file = ts.createSourceFile('check.ts', `type T = ${text};`, ts.ScriptTarget.ES2020, true, ts.ScriptKind.TS);
  return file.parseDiagnostics.length === 0 && file.statements.length === 1;
}

const IDENTIFIER = (name) => new RegExp(`(?<![\\w$.])${name.replace(/\$/g, '\\$')}(?![\\w$])`, 'g');

// A producer's own interface `Options` becomes `__kvx_inline_Options` so
// that it cannot merge with the package's `Options`.
function renameOwn(text, renames) {
  let result = text;
  for (const [name, renamed] of renames) result = result.replace(IDENTIFIER(name), renamed);
  return result;
}

// `Cache` -> `Cache<any, any>` where the package's `Cache` is generic: the
// JavaScript has no type arguments to give.
function fillTypeArguments(text, generics) {
  if (generics.size === 0) return text;
  const file = ts.createSourceFile('fill.ts', `type T = ${text};`, ts.ScriptTarget.ES2020, true, ts.ScriptKind.TS);
  const inserts = [];
  const visit = (node) => {
    if (ts.isTypeReferenceNode(node) && !node.typeArguments && ts.isIdentifier(node.typeName) &&
        generics.has(node.typeName.text)) {
      inserts.push({ at: node.typeName.end, text: `<${new Array(generics.get(node.typeName.text)).fill('any').join(', ')}>` });
    }
    ts.forEachChild(node, visit);
  };
  visit(file);
  let full = file.text;
  for (const insert of inserts.sort((a, b) => b.at - a.at)) full = full.slice(0, insert.at) + insert.text + full.slice(insert.at);
  return full.slice('type T = '.length, -1);
}

// The package's generic types in scope of a declared file: name -> count of
// type parameters without a default.
function genericsInScope(checker, program, sourceFile) {
  const generics = new Map();
  const flags = ts.SymbolFlags.Type | ts.SymbolFlags.Alias;
  for (let symbol of checker.getSymbolsInScope(sourceFile, flags)) {
    const name = symbol.name;
    if (symbol.flags & ts.SymbolFlags.Alias) {
      try { symbol = checker.getAliasedSymbol(symbol); } catch (error) { continue; }
    }
    const declaration = (symbol.declarations || [])[0];
    if (!declaration || program.isSourceFileDefaultLibrary(declaration.getSourceFile())) continue;
    if (declaration.getSourceFile().fileName.includes('/@types/')) continue;
    const parameters = declaration.typeParameters;
    if (parameters && parameters.length > 0) {
      generics.set(name, parameters.filter((p) => !p.default).length || parameters.length);
    }
  }
  return generics;
}

function isAnyOrUnknown(type) {
  return (type.flags & (ts.TypeFlags.Any | ts.TypeFlags.Unknown)) !== 0;
}

// The declared type of a position, from the declared file in the program.
function declaredType(checker, position) {
  if (position.typeNode) {
    if (position.typeNode.kind === ts.SyntaxKind.ThisType) {
      let node = position.typeNode.parent;
      while (node && !ts.isClassLike(node)) node = node.parent;
      if (node && node.name) return checker.getTypeAtLocation(node.name);
    }
    return checker.getTypeFromTypeNode(position.typeNode);
  }
  if (position.valueNode) return checker.getBaseTypeOfLiteralType(checker.getTypeAtLocation(position.valueNode.name));
  return null;
}

function declaredText(checker, position, sourceFile) {
  if (position.typeNode) return position.typeNode.getText(sourceFile);
  if (position.valueNode) {
    return checker.typeToString(checker.getBaseTypeOfLiteralType(checker.getTypeAtLocation(position.valueNode.name)));
  }
  return '';
}

// Scores every file of one package. `files`: { name, truthPath, truthText,
// jsdoc (Set or null), produced: { producer: readProduced(...) } }.
function scorePackage(files) {
  const options = Object.assign(baseOptions(), { noEmit: true, skipLibCheck: false });
  const results = [];

  // First the declared files alone, for the generic types in their scope.
  const plain = new Map(files.map((f) => [f.truthPath, f.truthText]));
  const plainProgram = ts.createProgram([...plain.keys()], options, makeHost(options, plain));
  const plainChecker = plainProgram.getTypeChecker();
  const generics = new Map();
  for (const file of files) {
    const sourceFile = plainProgram.getSourceFile(file.truthPath);
    generics.set(file.truthPath, sourceFile ? genericsInScope(plainChecker, plainProgram, sourceFile) : new Map());
  }

  // Then each declared file with the written types appended as aliases.
  const virtual = new Map();
  const aliases = new Map(); // truthPath -> [{ alias, file, path, producer, text }]
  files.forEach((file, fileIndex) => {
    const declared = positionsOf.collect(ts.createSourceFile(file.truthPath, file.truthText, ts.ScriptTarget.ES2020, true));
    // Names unique in the package: a declared file that is a script shares
    // its scope with the others.
    const prefix = (producer) => `__kvx_${producer}_f${fileIndex}_`;
    let appendix = '\n// accuracy benchmark\n';
    const list = [];
    for (const producer of PRODUCERS) {
      const produced = file.produced[producer];
      const renames = new Map(produced.declarations.map((d) => [d.name, `${prefix(producer)}${d.name}`]));
      for (const declaration of produced.declarations) {
        const text = renameOwn(declaration.text.replace(/^(export\s+|declare\s+)+/, ''), renames);
        const check = ts.createSourceFile('d.ts', text, ts.ScriptTarget.ES2020, true, ts.ScriptKind.TS);
        if (check.parseDiagnostics.length === 0) appendix += text + '\n';
      }
      let index = 0;
      for (const [path_] of declared) {
        const text = writtenText(produced, produced.positions.get(path_), producer);
        if (text === null) continue;
        // `own`: the text names a type the producer declares itself, so the
        // same words as the declared type may mean another type.
        const own = renameOwn(text, renames) !== text;
        const entry = { alias: `${prefix(producer)}w${index++}`, path: path_, producer, text, own, start: -1, end: -1 };
        list.push(entry);
        if (!parsesAsType(text)) { entry.unparsed = true; continue; }
        const filled = fillTypeArguments(renameOwn(text, renames), generics.get(file.truthPath));
        entry.start = file.truthText.length + appendix.length;
        appendix += `type ${entry.alias} = ${filled};\n`;
        entry.end = file.truthText.length + appendix.length;
      }
    }
    virtual.set(file.truthPath, file.truthText + appendix);
    aliases.set(file.truthPath, list);
  });
  const program = ts.createProgram([...virtual.keys()], options, makeHost(options, virtual));
  const checker = program.getTypeChecker();

  for (const file of files) {
    const sourceFile = program.getSourceFile(file.truthPath);
    const declared = positionsOf.collect(sourceFile);
    const aliasNodes = new Map();
    for (const statement of sourceFile.statements) {
      if (ts.isTypeAliasDeclaration(statement)) aliasNodes.set(statement.name.text, statement);
    }
    const list = aliases.get(file.truthPath);
    const broken = new Set();
    for (const diagnostic of program.getSemanticDiagnostics(sourceFile)) {
      if (diagnostic.start === undefined) continue;
      for (const entry of list) {
        if (diagnostic.start >= entry.start && diagnostic.start < entry.end) broken.add(entry);
      }
    }
    const written = new Map();
    for (const entry of list) written.set(`${entry.producer} ${entry.path}`, entry);

    for (const [path_, position] of declared) {
      if (file.jsdoc && !file.jsdoc.has(path_)) continue;
      const result = { file: file.name, path: path_, kind: position.kind, declared: '', excluded: null, producers: {} };
      results.push(result);
      if (position.overloaded) { result.excluded = 'overloaded'; continue; }
      const truth = declaredType(checker, position);
      result.declared = declaredText(checker, position, sourceFile);
      if (!truth || isAnyOrUnknown(truth)) { result.excluded = 'any'; continue; }
      for (const producer of PRODUCERS) {
        const entry = written.get(`${producer} ${path_}`);
        const verdict = { typed: false, right: false, loose: false, written: entry ? entry.text : null, note: null };
        result.producers[producer] = verdict;
        if (!entry) continue;
        const wordy = normalise(entry.text);
        if (wordy === 'any' || wordy === 'unknown') continue;
        if (entry.unparsed) { verdict.typed = true; verdict.note = 'not a type'; continue; }
        if (!entry.own && wordy === normalise(result.declared)) { verdict.typed = true; verdict.right = true; continue; }
        if (broken.has(entry)) { verdict.typed = true; verdict.note = 'unresolved'; continue; }
        let type = checker.getTypeFromTypeNode(aliasNodes.get(entry.alias).type);
        if (isAnyOrUnknown(type)) continue;
        verdict.typed = true;
        if (position.kind === 'value') type = checker.getBaseTypeOfLiteralType(type);
        verdict.right = checker.isTypeAssignableTo(type, truth) && checker.isTypeAssignableTo(truth, type);
        // `any[]` for `string[]` passes both ways only through the any.
        if (!verdict.right && entry.own) verdict.note = 'its own type of that name';
        verdict.loose = verdict.right && /(?<![\w$])(any|unknown)(?![\w$])/.test(entry.text);
      }
    }
  }
  return results;
}

// --- the run -----------------------------------------------------------

function processPackage(args, pkg, failures) {
  const folder = path.join(args.packages, pkg.name);
  const installed = path.join(folder, 'package.json');
  if (!fs.existsSync(installed) || JSON.parse(fs.readFileSync(installed, 'utf8')).version !== pkg.version) {
    throw new Error(`${pkg.name}@${pkg.version} is not installed in ${args.packages}: run bench/accuracy/install.sh`);
  }
  const files = [];
  // --project: the inline form of all the package's files in one run
  // (`kvx go DIR --inline`), so that each knows what the others export.
  const together = args.project ? runKvxProject(args.kvx, path.join(args.work, pkg.name.replace(/\//g, '+'), 'project'), folder, pkg.files) : null;
  pkg.files.forEach((relative, index) => {
    const source = path.join(folder, relative);
    const base = path.basename(relative);
    const scratch = path.join(args.work, pkg.name.replace(/\//g, '+'), String(index));
    const truthPath = source.replace(/\.js$/, '.d.ts');
    let truthText;
    let jsdoc = null;
    if (pkg.group === 'ts') {
      truthText = fs.readFileSync(truthPath, 'utf8');
    } else {
      truthText = declarationEmit(source, false);
      if (truthText === null) {
        failures.push(`${pkg.name}/${relative}: the compiler gave no declarations for the JSDoc; no position counted`);
        truthText = '';
      }
      const js = ts.createSourceFile(source, fs.readFileSync(source, 'utf8'), ts.ScriptTarget.ES2020, true, ts.ScriptKind.JS);
      jsdoc = positionsOf.jsdocPaths(js);
    }
    const produced = {};
    for (const producer of ['inline', 'declarations']) {
      const dir = path.join(scratch, producer);
      fs.rmSync(dir, { recursive: true, force: true });
      fs.mkdirSync(dir, { recursive: true });
      fs.copyFileSync(source, path.join(dir, base));
      const run = producer === 'inline' && together ? together.get(relative) : runKvx(args.kvx, dir, base, producer === 'inline');
      if (run.failure) failures.push(`${pkg.name}/${relative}: kvx ${producer === 'inline' ? 'w --inline' : 'w'} failed (${run.failure}); counted untyped`);
      produced[producer] = readProduced(path.join(dir, 'generated', base.replace(/\.js$/, '.ts')), run.text);
    }
    const tscDir = path.join(scratch, 'tsc');
    fs.rmSync(tscDir, { recursive: true, force: true });
    fs.mkdirSync(tscDir, { recursive: true });
    fs.copyFileSync(source, path.join(tscDir, base));
    const emitted = declarationEmit(path.join(tscDir, base), true);
    if (emitted === null) failures.push(`${pkg.name}/${relative}: the compiler wrote no declarations; counted untyped`);
    produced.tsc = readProduced(path.join(tscDir, base.replace(/\.js$/, '.d.ts')), emitted);
    files.push({ name: `${pkg.name}/${relative}`, truthPath, truthText, jsdoc, produced });
  });
  return scorePackage(files);
}

function emptyCounts() {
  const counts = { positions: 0, excluded: 0 };
  for (const producer of PRODUCERS) counts[producer] = { typed: 0, right: 0, loose: 0 };
  return counts;
}

function addResult(counts, result) {
  if (result.excluded) { counts.excluded += 1; return; }
  counts.positions += 1;
  for (const producer of PRODUCERS) {
    const verdict = result.producers[producer];
    if (verdict.typed) counts[producer].typed += 1;
    if (verdict.right) counts[producer].right += 1;
    if (verdict.loose) counts[producer].loose += 1;
  }
}

const percent = (part, whole) => (whole === 0 ? '-' : `${Math.round((100 * part) / whole)}%`);

function row(label, counts) {
  let line = `${label.padEnd(26)} ${String(counts.positions).padStart(5)} ${String(counts.excluded).padStart(5)}`;
  for (const producer of PRODUCERS) {
    const c = counts[producer];
    line += `  ${percent(c.typed, counts.positions).padStart(5)} ${percent(c.right, c.typed).padStart(5)}`;
  }
  return line;
}

function main() {
  const args = parseArgs(process.argv.slice(2));
  if (!fs.existsSync(args.kvx)) {
    console.error(`accuracy: no kvx binary at ${args.kvx} (build it first, or give --kvx)`);
    process.exit(2);
  }
  const corpus = readCorpus(args.corpus).filter((p) => `${p.name}@${p.version}`.includes(args.only));
  const failures = [];
  const packages = [];
  for (const pkg of corpus) {
    const results = processPackage(args, pkg, failures);
    const counts = emptyCounts();
    results.forEach((r) => addResult(counts, r));
    packages.push({ pkg, results, counts });
  }

  const total = emptyCounts();
  const byGroup = { ts: emptyCounts(), jsdoc: emptyCounts() };
  const byKind = Object.fromEntries(KINDS.map((k) => [k, emptyCounts()]));
  for (const { pkg, results } of packages) {
    for (const result of results) {
      addResult(total, result);
      addResult(byGroup[pkg.group], result);
      addResult(byKind[result.kind], result);
    }
  }

  const header1 = `${''.padEnd(26)} ${''.padStart(5)} ${''.padStart(5)}` +
    PRODUCERS.map((p) => `  ${p.padStart(11)}`).join('');
  const header2 = `${'package'.padEnd(26)} ${'pos'.padStart(5)} ${'excl'.padStart(5)}` +
    PRODUCERS.map(() => `  ${'cov'.padStart(5)} ${'prec'.padStart(5)}`).join('');
  console.log('accuracy: written types against declared types; strictNullChecks off (string | undefined = string)');
  console.log('cov = typed / positions, prec = right / typed; excl = declared any/unknown or overloaded (not scored)');
  console.log(header1);
  console.log(header2);
  for (const { pkg, counts } of packages) console.log(row(`${pkg.name}${pkg.group === 'jsdoc' ? ' (jsdoc)' : ''}`, counts));
  console.log(row('TypeScript packages', byGroup.ts));
  console.log(row('JSDoc packages', byGroup.jsdoc));
  for (const kind of KINDS) console.log(row(`kind ${kind}`, byKind[kind]));
  console.log(row('total', total));
  const overloaded = packages.reduce((n, { results }) => n + results.filter((r) => r.excluded === 'overloaded').length, 0);
  console.log(`excluded: ${total.excluded} positions (${total.excluded - overloaded} declared any/unknown, ${overloaded} of overloaded functions)`);
  for (const producer of PRODUCERS) {
    const c = total[producer];
    console.log(`${producer.padEnd(13)} typed ${c.typed} of ${total.positions}, right ${c.right} of ${c.typed}` +
                ` (${c.loose} of them right only through an any/unknown inside the written type)`);
  }
  for (const failure of failures) console.log(`note: ${failure}`);

  if (args.listWrong) {
    console.log(`\nwrong ${args.listWrong} annotations (file, position, written, declared):`);
    for (const { results } of packages) {
      for (const result of results) {
        const verdict = result.producers[args.listWrong];
        if (result.excluded || !verdict || !verdict.typed || verdict.right) continue;
        const note = verdict.note ? ` (${verdict.note})` : '';
        console.log(`${result.file}\t${result.path}\t${verdict.written.replace(/\s+/g, ' ')}${note}\t${result.declared.replace(/\s+/g, ' ')}`);
      }
    }
  }

  if (args.json) {
    const summary = (counts) => {
      const out = { positions: counts.positions, excluded: counts.excluded };
      for (const producer of PRODUCERS) {
        const c = counts[producer];
        out[producer] = { typed: c.typed, right: c.right, loose: c.loose };
      }
      return out;
    };
    const report = {
      strictNullChecks: false,
      producers: PRODUCERS,
      packages: packages.map(({ pkg, counts }) => Object.assign({ name: pkg.name, version: pkg.version, group: pkg.group }, summary(counts))),
      groups: { ts: summary(byGroup.ts), jsdoc: summary(byGroup.jsdoc) },
      kinds: Object.fromEntries(KINDS.map((k) => [k, summary(byKind[k])])),
      total: summary(total),
      failures,
      positions: packages.flatMap(({ results }) => results),
    };
    fs.mkdirSync(path.dirname(args.json), { recursive: true });
    fs.writeFileSync(args.json, JSON.stringify(report, null, 1) + '\n');
  }
}

main();
