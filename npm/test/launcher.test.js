// The npm launcher (npm/kvx/bin/kvx.js): which binary it picks for a
// platform, and how it runs a program: arguments, streams, working
// directory, exit status and signals. Run with `node --test npm/test/`
// (POSIX: the programs run are /bin/sh scripts).
'use strict';

const assert = require('node:assert');
const childProcess = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const test = require('node:test');

const launcherPath = path.join(__dirname, '..', 'kvx', 'bin', 'kvx.js');
const launcher = require(launcherPath);

// A require.resolve stand-in that knows the installed packages' files.
function resolverOf(files) {
  const asked = [];
  const resolve = (request) => {
    asked.push(request);
    if (files[request] === undefined) {
      const error = new Error(`Cannot find module '${request}'`);
      error.code = 'MODULE_NOT_FOUND';
      throw error;
    }
    return files[request];
  };
  return { resolve, asked };
}

test('findBinary picks the package of the platform and arch', () => {
  const { resolve, asked } = resolverOf({
    'kvx-linux-x64/bin/kvx': '/p/node_modules/kvx-linux-x64/bin/kvx',
    'kvx-win32-x64/bin/kvx.exe': 'C:\\p\\node_modules\\kvx-win32-x64\\bin\\kvx.exe',
  });
  assert.deepStrictEqual(launcher.findBinary('linux', 'x64', resolve),
    { path: '/p/node_modules/kvx-linux-x64/bin/kvx' });
  assert.deepStrictEqual(launcher.findBinary('win32', 'x64', resolve),
    { path: 'C:\\p\\node_modules\\kvx-win32-x64\\bin\\kvx.exe' });
  assert.deepStrictEqual(asked, ['kvx-linux-x64/bin/kvx', 'kvx-win32-x64/bin/kvx.exe']);
});

test('findBinary names the platform in one line when no binary fits', () => {
  const { resolve, asked } = resolverOf({});
  const cases = [
    // platform, arch, what the line must hold
    ['linux', 'arm64', ['no prebuilt binary for linux-arm64', 'process.platform linux', 'process.arch arm64',
      'linux-x64, win32-x64']],
    ['darwin', 'arm64', ['no prebuilt binary for darwin-arm64', 'process.platform darwin']],
    ['win32', 'ia32', ['no prebuilt binary for win32-ia32', 'process.arch ia32']],
    // A platform with a package that npm did not install.
    ['linux', 'x64', ['the package kvx-linux-x64 with the binary for linux-x64 is not installed']],
    ['win32', 'x64', ['the package kvx-win32-x64 with the binary for win32-x64 is not installed']],
  ];
  for (const [platform, arch, parts] of cases) {
    const found = launcher.findBinary(platform, arch, resolve);
    assert.strictEqual(found.path, undefined);
    assert.ok(found.error.startsWith('kvx: '), found.error);
    assert.ok(!found.error.includes('\n'), found.error);
    for (const part of parts) assert.ok(found.error.includes(part), `${found.error} lacks ${part}`);
  }
  // Only the known platforms are looked up.
  assert.deepStrictEqual(asked, ['kvx-linux-x64/bin/kvx', 'kvx-win32-x64/bin/kvx.exe']);
});

// Runs `run(program, args)` of the launcher in a Node.js process of its own,
// as the installed launcher runs the binary.
function runThroughLauncher(program, args, options = {}) {
  const script = `require(${JSON.stringify(launcherPath)}).run(${JSON.stringify(program)}, ` +
    `${JSON.stringify(args)})`;
  return childProcess.spawnSync(process.execPath, ['-e', script], { encoding: 'utf8', ...options });
}

test('run passes arguments, standard streams and working directory, and keeps the exit status', () => {
  const cwd = fs.mkdtempSync(path.join(os.tmpdir(), 'kvx-launcher-'));
  try {
    const result = runThroughLauncher('/bin/sh', ['-c',
      'pwd; printf "[%s]" "$@"; echo; read line; echo "read $line"; echo "to stderr" >&2; exit 7',
      'sh', 'two words', '', '--inline', '"quoted"'], { cwd, input: 'from stdin\n' });
    assert.strictEqual(result.status, 7, result.stderr);
    assert.strictEqual(result.stdout,
      `${fs.realpathSync(cwd)}\n[two words][][--inline]["quoted"]\nread from stdin\n`);
    assert.strictEqual(result.stderr, 'to stderr\n');
  } finally {
    fs.rmSync(cwd, { recursive: true, force: true });
  }
  for (const status of [0, 1, 2, 255]) {
    assert.strictEqual(runThroughLauncher('/bin/sh', ['-c', `exit ${status}`]).status, status);
  }
});

test('run ends with the signal that ended the program', () => {
  for (const signal of ['SIGTERM', 'SIGINT', 'SIGKILL']) {
    const result = runThroughLauncher('/bin/sh', ['-c', `kill -${signal.slice(3)} $$`]);
    assert.strictEqual(result.signal, signal, `status ${result.status}, stderr ${result.stderr}`);
  }
});

test('run hands a SIGTERM sent to the launcher to the program', async () => {
  const script = `require(${JSON.stringify(launcherPath)}).run('/bin/sh', ['-c', ` +
    `'trap "echo caught; exit 42" TERM; echo ready; sleep 30 & wait'])`;
  const child = childProcess.spawn(process.execPath, ['-e', script], { stdio: ['ignore', 'pipe', 'inherit'] });
  let output = '';
  const ended = new Promise((resolve) => child.on('exit', (status, signal) => resolve({ status, signal })));
  await new Promise((resolve) => child.stdout.on('data', (chunk) => {
    output += chunk;
    if (output.includes('ready')) resolve();
  }));
  child.kill('SIGTERM');
  const { status, signal } = await ended;
  assert.deepStrictEqual({ status, signal }, { status: 42, signal: null });
  assert.ok(output.includes('caught'), output);
});

test('run says in one line when the program cannot be started', () => {
  const result = runThroughLauncher('/nonexistent/kvx', ['--version']);
  assert.strictEqual(result.status, 1);
  assert.match(result.stderr, /^kvx: cannot start \/nonexistent\/kvx: .*ENOENT.*\n$/);
});
