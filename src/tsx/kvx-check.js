// kvx's compiler session: one TypeScript language service for a whole run,
// driven over standard input and output with one JSON request a line and one
// JSON answer a line. kvx writes this script into .kvx/ and starts it with
// `node`; the compiler is the working folder's node_modules/typescript (or a
// parent folder's), else the global one or the one npx has cached, as
// `npx tsc` would find it.
//
// Requests:
//   {"op":"init","types":["node"],"rootDir":"generated","outDir":"dist"}
//   {"op":"set","file":F,"text":T}        a file's text for the next checks
//   {"op":"check","file":F}               the file's diagnostics as tsc prints them
//   {"op":"emit","file":F}                the same, and its JavaScript written to outDir
//   {"op":"declaration","file":F,"line":L,"column":C}
//                                         where the name at L:C is declared
//   {"op":"memory"}                       the process's resident and heap bytes
// Every answer carries "ok"; a check or emit answers "status" (0, or tsc's
// 1 when nothing was emitted and 2 when emitted with errors) and "output".
'use strict';

const fs = require('fs');
const path = require('path');
const readline = require('readline');

function resolveFrom(place) {
  try {
    return require(require.resolve('typescript', { paths: [place] }));
  } catch (error) {
    return null;
  }
}

function loadTypeScript() {
  const local = resolveFrom(process.cwd());
  if (local) return local;
  const places = [];
  try {
    const { execSync } = require('child_process');
    const globalRoot = execSync('npm root -g', { stdio: ['ignore', 'pipe', 'ignore'], encoding: 'utf8' }).trim();
    if (globalRoot) places.push(globalRoot);
  } catch (error) {
    // no npm
  }
  const npxCache = path.join(require('os').homedir(), '.npm', '_npx');
  try {
    for (const entry of fs.readdirSync(npxCache)) places.push(path.join(npxCache, entry, 'node_modules'));
  } catch (error) {
    // no npx cache
  }
  for (const place of places) {
    const found = resolveFrom(place);
    if (found) return found;
  }
  return null;
}

function answer(value) {
  process.stdout.write(JSON.stringify(value) + '\n');
}

// KVX_CHECK_LOG names a file where the session notes its start, the time of
// each request, the memory after each check and its peak at the end (for
// tests and the benchmark).
const log = (line) => {
  if (process.env.KVX_CHECK_LOG) fs.appendFileSync(process.env.KVX_CHECK_LOG, line + '\n');
};
log('start');

const ts = loadTypeScript();
if (!ts) {
  answer({ ok: false, error: 'typescript not found' });
  process.exit(0);
}

const normal = (file) => path.resolve(file).replace(/\\/g, '/');
const files = new Map(); // normal path -> { version, text }
// The program of a check is the checked file and what it imports, as when
// the compiler is given that file alone: files without import or export
// share the global scope of a program, and two such files of a run would
// clash over their top-level names. Every file parsed and bound once stays
// in the service's registry for the whole run, so a later program that
// holds it again does not read, parse or bind it again.
let current = null;
let options = {};

const host = {
  getScriptFileNames: () => (current ? [current] : []),
  getScriptVersion: (file) => (files.has(file) ? String(files.get(file).version) : '0'),
  getScriptSnapshot: (file) => {
    const entry = files.get(file);
    if (entry) return ts.ScriptSnapshot.fromString(entry.text);
    const text = ts.sys.readFile(file);
    return text === undefined ? undefined : ts.ScriptSnapshot.fromString(text);
  },
  getCurrentDirectory: () => process.cwd(),
  getCompilationSettings: () => options,
  getDefaultLibFileName: (settings) => ts.getDefaultLibFilePath(settings),
  fileExists: (file) => files.has(file) || ts.sys.fileExists(file),
  readFile: (file, encoding) => (files.has(file) ? files.get(file).text : ts.sys.readFile(file, encoding)),
  readDirectory: ts.sys.readDirectory,
  directoryExists: ts.sys.directoryExists,
  getDirectories: ts.sys.getDirectories,
  useCaseSensitiveFileNames: () => ts.sys.useCaseSensitiveFileNames,
};
const service = ts.createLanguageService(host, ts.createDocumentRegistry());
const formatHost = {
  getCanonicalFileName: (file) => file,
  getCurrentDirectory: () => process.cwd(),
  getNewLine: () => '\n',
};

function diagnosticsOf(file) {
  current = file;
  return [
    ...service.getCompilerOptionsDiagnostics(),
    ...service.getSyntacticDiagnostics(file),
    ...service.getSemanticDiagnostics(file),
  ];
}

function report(diagnostics, emitted) {
  log('rss ' + process.memoryUsage().rss);
  const errors = diagnostics.filter((d) => d.category === ts.DiagnosticCategory.Error).length;
  return {
    ok: true,
    status: errors === 0 ? 0 : emitted ? 2 : 1,
    errors,
    output: ts.formatDiagnostics(diagnostics, formatHost),
  };
}

const handlers = {
  init(request) {
    options = {
      target: ts.ScriptTarget.ES2020,
      module: ts.ModuleKind.CommonJS,
      esModuleInterop: true,
      strict: false,
      skipLibCheck: true,
      outDir: normal(request.outDir || 'dist'),
      rootDir: normal(request.rootDir || 'generated'),
    };
    if (request.types) options.types = request.types;
    return { ok: true, version: ts.version };
  },
  set(request) {
    const file = normal(request.file);
    const entry = files.get(file);
    files.set(file, { version: entry ? entry.version + 1 : 1, text: request.text });
    return { ok: true };
  },
  check(request) {
    return report(diagnosticsOf(normal(request.file)), false);
  },
  emit(request) {
    const file = normal(request.file);
    const diagnostics = diagnosticsOf(file);
    const output = service.getEmitOutput(file);
    for (const out of output.outputFiles) {
      fs.mkdirSync(path.dirname(out.name), { recursive: true });
      fs.writeFileSync(out.name, out.text);
    }
    return report(diagnostics, !output.emitSkipped);
  },
  declaration(request) {
    const file = normal(request.file);
    current = file;
    const source = service.getProgram().getSourceFile(file);
    if (!source) return { ok: true, found: false };
    const lines = source.getLineStarts();
    if (request.line < 1 || request.line > lines.length) return { ok: true, found: false };
    const position = lines[request.line - 1] + request.column - 1;
    const found = (service.getDefinitionAtPosition(file, position) || []).find((d) => normal(d.fileName) === file);
    if (!found) return { ok: true, found: false };
    const at = source.getLineAndCharacterOfPosition(found.textSpan.start + found.textSpan.length);
    // The place right after the declared name, where its annotation stands.
    return { ok: true, found: true, line: at.line + 1, column: at.character + 1 };
  },
  memory() {
    const usage = process.memoryUsage();
    return { ok: true, rss: usage.rss, heap: usage.heapUsed };
  },
};

answer({ ok: true, ready: true, version: ts.version });
const input = readline.createInterface({ input: process.stdin, terminal: false });
input.on('close', () => log('peak ' + process.resourceUsage().maxRSS * 1024));
input.on('line', (line) => {
  if (line.trim() === '') return;
  let request;
  try {
    request = JSON.parse(line);
  } catch (error) {
    answer({ ok: false, error: 'bad request' });
    return;
  }
  const handler = handlers[request.op];
  if (!handler) {
    answer({ ok: false, error: 'unknown op ' + request.op });
    return;
  }
  try {
    const began = Date.now();
    const result = handler(request);
    if (request.op !== 'set') log('took ' + request.op + ' ' + (Date.now() - began) + ' ' + (request.file || ''));
    answer(result);
  } catch (error) {
    answer({ ok: false, error: String(error && error.message ? error.message : error) });
  }
});
