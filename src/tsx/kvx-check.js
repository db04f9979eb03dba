// kvx's compiler session: one TypeScript language service for a whole run,
// driven over standard input and output with one JSON request a line and one
// JSON answer a line, in order. kvx writes this script into .kvx/ and starts
// it with `node`; the compiler is the working folder's node_modules/typescript
// (or a parent folder's), else the global one or the one npx has cached, as
// `npx tsc` would find it.
//
// Requests:
//   {"op":"init","types":["node"],"rootDir":"generated","outDir":"dist"}
//                                         answers "workers": whether sources
//                                         can be checked in a thread of their own;
//                                         with "warm":true the library files are
//                                         then parsed ahead of the first check
//                                         (and the sources' thread started)
//   {"op":"set","file":F,"text":T}        a file's text for the next checks
//   {"op":"check","file":F}               the file's diagnostics as tsc prints them,
//                                         checked again only when it or a file
//                                         it imports changed since
//   {"op":"emit","file":F}                the same, and its JavaScript ("js")
//   {"op":"source","file":F,"text":T}     F's text as the source is, for a
//                                         second program: the sources'
//   {"op":"sources"}                      checks the sources' program in a
//                                         thread of its own while the main
//                                         program goes on
//   {"op":"sourceResult","file":F}        F's diagnostics there, once checked
//                                         ("lost" when the thread failed)
//   {"op":"declaration","file":F,"line":L,"column":C}
//                                         where the name at L:C is declared
//   {"op":"memory"}                       the process's resident and heap bytes
// Every answer carries "ok"; a check or emit answers "status" (0, or tsc's
// 1 when nothing was emitted and 2 when emitted with errors) and "output".
// All files handed over make one program, as `tsc -p` over them would.
'use strict';

const fs = require('fs');
const path = require('path');
const readline = require('readline');
const threads = require('worker_threads');

function resolveFrom(place) {
  try {
    return require.resolve('typescript', { paths: [place] });
  } catch (error) {
    return null;
  }
}

// Where the compiler's module is, or null.
function findTypeScript() {
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

const normal = (file) => path.resolve(file).replace(/\\/g, '/');

// A changed text larger than this share of the file is parsed whole: the
// incremental parser walks the old tree first, which only pays when most of
// it can be kept.
const kMostReparsed = 0.5;

// The snapshot of a file's text that tells the language service which span
// changed since the text it parsed last (the bytes between the common start
// and the common end): a round that takes out the annotations of one part of
// a file then reparses that part, not the whole file.
function snapshotOf(ts, text) {
  const snapshot = ts.ScriptSnapshot.fromString(text);
  if (typeof ts.createTextChangeRange !== 'function') return snapshot;
  snapshot.getChangeRange = (old) => {
    const before = old.getText(0, old.getLength());
    const shorter = Math.min(before.length, text.length);
    let start = 0;
    while (start < shorter && before.charCodeAt(start) === text.charCodeAt(start)) ++start;
    let tail = 0;
    while (
      tail < shorter - start &&
      before.charCodeAt(before.length - 1 - tail) === text.charCodeAt(text.length - 1 - tail)
    ) {
      ++tail;
    }
    const oldLength = before.length - start - tail;
    const newLength = text.length - start - tail;
    if (Math.max(oldLength, newLength) > kMostReparsed * text.length) return undefined;
    return ts.createTextChangeRange(ts.createTextSpan(start, oldLength), newLength);
  };
  return snapshot;
}

// One program of the files handed over (the inline files are modules, so
// they do not clash over top-level names): a round that changes some of them
// makes a new program that reuses every other file's parse and binding. The
// library and type files are read once, not once a program.
function createProject(ts, settings) {
  const files = new Map(); // normal path -> { version, text, snapshot }, in the order first set
  const snapshots = new Map(); // normal path -> snapshot of a file read from disk
  // The folders of the files handed over, which need not exist on disk yet
  // (kvx writes each file when the run reaches it): module resolution looks
  // only into folders that exist.
  const folders = new Set();
  const host = {
    getScriptFileNames: () => [...files.keys()],
    getScriptVersion: (file) => (files.has(file) ? String(files.get(file).version) : '0'),
    getScriptSnapshot: (file) => {
      const entry = files.get(file);
      if (entry) return entry.snapshot;
      if (snapshots.has(file)) return snapshots.get(file);
      const text = ts.sys.readFile(file);
      const snapshot = text === undefined ? undefined : ts.ScriptSnapshot.fromString(text);
      snapshots.set(file, snapshot);
      return snapshot;
    },
    getCurrentDirectory: () => process.cwd(),
    getCompilationSettings: () => settings,
    getDefaultLibFileName: (options) => ts.getDefaultLibFilePath(options),
    fileExists: (file) => files.has(file) || ts.sys.fileExists(file),
    readFile: (file, encoding) => (files.has(file) ? files.get(file).text : ts.sys.readFile(file, encoding)),
    readDirectory: ts.sys.readDirectory,
    directoryExists: (folder) => folders.has(normal(folder)) || ts.sys.directoryExists(folder),
    getDirectories: ts.sys.getDirectories,
    useCaseSensitiveFileNames: () => ts.sys.useCaseSensitiveFileNames,
    // As tsc parses: the comments of TypeScript files are read as JSDoc only
    // where a type error can come of it.
    jsDocParsingMode: ts.JSDocParsingMode ? ts.JSDocParsingMode.ParseForTypeErrors : undefined,
  };
  const service = ts.createLanguageService(
    host,
    ts.createDocumentRegistry(ts.sys.useCaseSensitiveFileNames, process.cwd(), host.jsDocParsingMode),
  );
  const formatHost = {
    getCanonicalFileName: (file) => file,
    getCurrentDirectory: () => process.cwd(),
    getNewLine: () => '\n',
  };

  // The files of the run that `file` imports, directly or through others,
  // with itself: its diagnostics change only when one of their texts does.
  function closureOf(program, file) {
    if (!program.getResolvedModuleFromModuleSpecifier) return null; // an older compiler
    const seen = new Set([file]);
    const queue = [file];
    while (queue.length > 0) {
      const source = program.getSourceFile(queue.pop());
      if (!source) continue;
      for (const literal of source.imports || []) {
        const resolved = program.getResolvedModuleFromModuleSpecifier(literal, source);
        const target = resolved && resolved.resolvedModule ? normal(resolved.resolvedModule.resolvedFileName) : null;
        if (target && files.has(target) && !seen.has(target)) {
          seen.add(target);
          queue.push(target);
        }
      }
    }
    return seen;
  }

  // The last diagnostics of each file, with the versions of the files they
  // were computed from: asked again while none of those changed, a file is
  // not checked again.
  const checked = new Map(); // normal path -> { versions | all, report }
  const versionsOf = (names) =>
    new Map([...names].filter((name) => files.has(name)).map((name) => [name, files.get(name).version]));

  function stillValid(entry) {
    if (!entry.versions) {
      // Without the imports known, any change of the run's files counts.
      for (const [file, value] of files) if (entry.all.get(file) !== value.version) return false;
      return entry.all.size === files.size;
    }
    for (const [file, version] of entry.versions) {
      const value = files.get(file);
      if (!value || value.version !== version) return false;
    }
    return true;
  }

  function report(diagnostics) {
    const errors = diagnostics.filter((d) => d.category === ts.DiagnosticCategory.Error).length;
    return { ok: true, status: errors === 0 ? 0 : 1, errors, output: ts.formatDiagnostics(diagnostics, formatHost) };
  }

  return {
    service,
    // Parses the library and type files before any file of the run is
    // handed over, while kvx still prepares them: a program of one empty
    // module, which the run's first program replaces, finding those files in
    // the registry. (No checker: the first check binds them, and a checker
    // made here would only be made again.)
    warm() {
      const file = normal(path.join('.kvx', 'warm-up.ts'));
      if (files.size > 0 || folders.size > 0) return;
      const text = 'export {};\n';
      files.set(file, { version: 1, text, snapshot: snapshotOf(ts, text) });
      service.getProgram();
      files.delete(file);
    },
    set(file, text) {
      const entry = files.get(file);
      if (entry && entry.text === text) return;
      for (let folder = path.posix.dirname(file); !folders.has(folder); folder = path.posix.dirname(folder)) {
        folders.add(folder);
        if (path.posix.dirname(folder) === folder) break;
      }
      files.set(file, { version: entry ? entry.version + 1 : 1, text, snapshot: snapshotOf(ts, text) });
    },
    has: (file) => files.has(file),
    check(file) {
      const entry = checked.get(file);
      if (entry && stillValid(entry)) return { report: entry.report, cached: true };
      const result = report([
        ...service.getCompilerOptionsDiagnostics(),
        ...service.getSyntacticDiagnostics(file),
        ...service.getSemanticDiagnostics(file),
      ]);
      const closure = closureOf(service.getProgram(), file);
      checked.set(file, closure ? { versions: versionsOf(closure), report: result } : { all: versionsOf(files.keys()), report: result });
      return { report: result, cached: false };
    },
  };
}

function compilerOptions(ts, request) {
  const options = {
    target: ts.ScriptTarget.ES2020,
    module: ts.ModuleKind.CommonJS,
    esModuleInterop: true,
    strict: false,
    skipLibCheck: true,
    outDir: normal(request.outDir || 'dist'),
    rootDir: normal(request.rootDir || 'generated'),
  };
  if (request.types) options.types = request.types;
  return options;
}

// The thread of the sources' program: it takes their texts, checks the
// files it is told to in order, and posts each file's diagnostics back.
function runSourcesThread() {
  const ts = require(threads.workerData.typescript);
  const project = createProject(ts, compilerOptions(ts, threads.workerData.init));
  if (threads.workerData.init.warm) project.warm();
  threads.parentPort.on('message', (message) => {
    if (message.op === 'set') project.set(message.file, message.text);
    if (message.op === 'check') {
      for (const file of message.files) threads.parentPort.postMessage({ file, report: project.check(file).report });
    }
  });
}

// A second thread pays only with a core to spare: with one core, or when
// the machine's other work keeps its cores busy (the load of the last
// minute as high as the cores), it only adds the thread's own start.
// KVX_CHECK_THREADS=1 keeps the session to one, =2 allows the second always.
function sourcesThreadWanted() {
  const os = require('os');
  const cores = typeof os.availableParallelism === 'function' ? os.availableParallelism() : os.cpus().length;
  const setting = process.env.KVX_CHECK_THREADS;
  if (typeof threads.Worker !== 'function' || cores < 2 || setting === '1') return false;
  return setting === '2' || os.loadavg()[0] < cores;
}

function runSession() {
  const answer = (value) => process.stdout.write(JSON.stringify(value) + '\n');
  // KVX_CHECK_LOG names a file where the session notes its start, the time
  // of each request, the memory after each check, and its peak and CPU time
  // (ms) at the end (for tests and the benchmark).
  const logging = Boolean(process.env.KVX_CHECK_LOG);
  const log = (line) => {
    if (logging) fs.appendFileSync(process.env.KVX_CHECK_LOG, line + '\n');
  };
  log('start');

  const typescript = findTypeScript();
  if (!typescript) {
    answer({ ok: false, error: 'typescript not found' });
    process.exit(0);
  }
  const ts = require(typescript);
  let project = null;
  let init = null;

  // The sources' program, checked in a thread of its own: the run's first
  // round checks the sources and the annotated texts side by side. The
  // thread ends once every result it was asked for is collected, and its
  // memory with it.
  let sources = null; // { worker, results: Map, waiting: Map, asked: Set, handed: Set, failure }
  function sourcesThread() {
    if (sources) return sources;
    const worker = new threads.Worker(__filename, { workerData: { typescript, init } });
    sources = { worker, results: new Map(), waiting: new Map(), asked: new Set(), handed: [], failure: null };
    const own = sources;
    worker.on('message', (message) => {
      own.results.set(message.file, message.report);
      const waiting = own.waiting.get(message.file);
      if (waiting) waiting(message.report);
    });
    worker.on('error', (error) => {
      own.failure = String(error && error.message ? error.message : error);
      for (const resolve of own.waiting.values()) resolve(null);
    });
    return sources;
  }
  // A thread started ahead that no source reached before the run's checks
  // began: the run checks its files one by one, and the thread goes.
  function dropUnusedSources() {
    if (sources && sources.handed.length === 0) {
      sources.worker.terminate();
      sources = null;
    }
  }

  const handlers = {
    init(request) {
      init = { outDir: request.outDir, rootDir: request.rootDir, types: request.types, warm: request.warm === true };
      project = createProject(ts, compilerOptions(ts, init));
      const workers = sourcesThreadWanted();
      // The sources' thread parses its own library files meanwhile.
      if (init.warm && workers) sourcesThread();
      return { ok: true, version: ts.version, workers };
    },
    set(request) {
      project.set(normal(request.file), request.text);
      return { ok: true };
    },
    check(request) {
      dropUnusedSources();
      const { report: result, cached } = project.check(normal(request.file));
      if (cached) request.cached = true;
      // The resident size alone: the whole memoryUsage() walks the heap's spaces.
      else if (logging) log('rss ' + (process.memoryUsage.rss ? process.memoryUsage.rss() : process.memoryUsage().rss));
      return result;
    },
    // The check, and the file's JavaScript in the answer ("js"): kvx writes
    // it when the run reaches the file.
    emit(request) {
      dropUnusedSources();
      const file = normal(request.file);
      const result = Object.assign({}, project.check(file).report);
      const output = project.service.getEmitOutput(file);
      const js = output.outputFiles.find((out) => out.name.endsWith('.js'));
      if (result.errors > 0 && !output.emitSkipped) result.status = 2;
      if (js && !output.emitSkipped) result.js = js.text;
      return result;
    },
    source(request) {
      const thread = sourcesThread();
      const file = normal(request.file);
      thread.worker.postMessage({ op: 'set', file, text: request.text });
      thread.handed.push(file);
      return { ok: true };
    },
    sources() {
      const thread = sourcesThread();
      const files = thread.handed.filter((file) => !thread.asked.has(file));
      for (const file of files) thread.asked.add(file);
      thread.worker.postMessage({ op: 'check', files });
      return { ok: true };
    },
    async sourceResult(request) {
      const thread = sources;
      const file = normal(request.file);
      if (!thread || !thread.asked.has(file)) return { ok: false, error: 'not asked: ' + request.file };
      const result =
        thread.results.get(file) ||
        (thread.failure ? null : await new Promise((resolve) => thread.waiting.set(file, resolve)));
      // The thread failed (out of memory, say): kvx checks the source in the main program.
      if (!result) return { ok: true, lost: true, error: thread.failure || 'the sources thread stopped' };
      thread.asked.delete(file);
      thread.results.delete(file);
      thread.waiting.delete(file);
      if (thread.asked.size === 0) {
        // Everything asked is collected: the thread and its program go.
        thread.worker.terminate();
        sources = null;
      }
      return result;
    },
    declaration(request) {
      const file = normal(request.file);
      const source = project.service.getProgram().getSourceFile(file);
      if (!source) return { ok: true, found: false };
      const lines = source.getLineStarts();
      if (request.line < 1 || request.line > lines.length) return { ok: true, found: false };
      const position = lines[request.line - 1] + request.column - 1;
      const found = (project.service.getDefinitionAtPosition(file, position) || []).find(
        (d) => normal(d.fileName) === file,
      );
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

  async function handle(line) {
    if (line.trim() === '') return;
    let request;
    try {
      request = JSON.parse(line);
    } catch (error) {
      answer({ ok: false, error: 'bad request' });
      return;
    }
    const handler = handlers[request.op];
    if (!handler || (!project && request.op !== 'init')) {
      answer({ ok: false, error: 'unknown op ' + request.op });
      return;
    }
    try {
      const began = Date.now();
      const result = await handler(request);
      if (request.op !== 'set' && request.op !== 'source') {
        log('took ' + request.op + ' ' + (Date.now() - began) + ' ' + (request.file || '') + (request.cached ? ' cached' : ''));
      }
      answer(result);
      if (request.op === 'init' && init.warm) project.warm();
    } catch (error) {
      answer({ ok: false, error: String(error && error.message ? error.message : error) });
    }
  }

  answer({ ok: true, ready: true, version: ts.version });
  // One request at a time, answered in order, though an answer may wait for
  // the sources' thread.
  let queue = Promise.resolve();
  const input = readline.createInterface({ input: process.stdin, terminal: false });
  input.on('line', (line) => {
    queue = queue.then(() => handle(line));
  });
  input.on('close', () => {
    queue.then(() => {
      if (sources) sources.worker.terminate();
      const usage = process.resourceUsage();
      log('peak ' + usage.maxRSS * 1024);
      log('cpu ' + Math.round((usage.userCPUTime + usage.systemCPUTime) / 1000));
    });
  });
}

if (threads.isMainThread) {
  runSession();
} else {
  runSourcesThread();
}
