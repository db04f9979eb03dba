#!/usr/bin/env node
// Starts the kvx binary of this platform's package (kvx-<platform>-<arch>,
// an optional dependency that npm installs only where its os and cpu fields
// fit) with the same arguments, standard streams and working directory, and
// ends with its exit status. Node.js built-ins only.
'use strict';

const childProcess = require('child_process');

// The platform packages, keyed by process.platform and process.arch, and the
// binary each holds below its folder.
const PLATFORM_PACKAGES = {
  'linux-x64': { name: 'kvx-linux-x64', binary: 'bin/kvx' },
  'win32-x64': { name: 'kvx-win32-x64', binary: 'bin/kvx.exe' },
};

// Where the binary for platform and arch is: { path } when its package is
// installed, else { error } with a one-line message naming the platform.
// `resolve` is require.resolve, which finds the package wherever npm put it
// (beside this one or nested below it).
function findBinary(platform, arch, resolve = require.resolve) {
  const key = `${platform}-${arch}`;
  const entry = PLATFORM_PACKAGES[key];
  if (entry === undefined) {
    const known = Object.keys(PLATFORM_PACKAGES).join(', ');
    return {
      error: `kvx: no prebuilt binary for ${key} (process.platform ${platform}, process.arch ${arch}); ` +
        `the npm packages hold ${known}: build kvx from source for this platform`,
    };
  }
  try {
    return { path: resolve(`${entry.name}/${entry.binary}`) };
  } catch (notFound) {
    return {
      error: `kvx: the package ${entry.name} with the binary for ${key} is not installed ` +
        '(npm leaves it out with --omit=optional, and on Linux where the C library is not glibc): ' +
        'reinstall kvx with optional dependencies',
    };
  }
}

// Runs program with args on this process's streams and working directory;
// calls done(status) with its exit status, or ends this process with the
// signal that ended the program, so that a shell sees the same death.
function run(program, args, done = process.exit) {
  const child = childProcess.spawn(program, args, { stdio: 'inherit' });
  // A signal sent to this process alone (kill PID, a supervisor's SIGTERM)
  // goes to the program, which decides how to end; a terminal's Ctrl+C
  // reaches both anyway.
  const forwarded = ['SIGINT', 'SIGTERM', 'SIGHUP'];
  const forward = (signal) => {
    try {
      child.kill(signal);
    } catch (ignored) {
      // The program has just ended: its exit is on the way.
    }
  };
  if (process.platform !== 'win32') forwarded.forEach((signal) => process.on(signal, forward));
  const stopForwarding = () => forwarded.forEach((signal) => process.removeListener(signal, forward));
  child.on('error', (error) => {
    stopForwarding();
    process.stderr.write(`kvx: cannot start ${program}: ${error.message}\n`);
    done(1);
  });
  child.on('exit', (status, signal) => {
    stopForwarding();
    if (signal !== null) {
      process.kill(process.pid, signal);
      // A signal Node.js does not die from (or that is ignored here) still
      // ends the launcher with the shell's code for it.
      const number = require('os').constants.signals[signal];
      done(128 + (number === undefined ? 1 : number));
      return;
    }
    done(status === null ? 1 : status);
  });
}

function main() {
  const found = findBinary(process.platform, process.arch);
  if (found.error !== undefined) {
    process.stderr.write(found.error + '\n');
    process.exit(1);
  }
  run(found.path, process.argv.slice(2));
}

module.exports = { PLATFORM_PACKAGES, findBinary, run };

if (require.main === module) main();
