// Scans a log folder with Node.js APIs: require, fs, path, process, Maps.
const fs = require('fs');
const path = require('path');

const LEVELS = { ERROR: 'error', WARN: 'warn', INFO: 'info' };
const counts = new Map();
const root = process.cwd();

function levelOf(line) {
  const text = line.trim();
  if (text.startsWith('E')) {
    return LEVELS.ERROR;
  }
  return text.startsWith('W') ? 'warn' : 'info';
}

function scanFile(file) {
  const body = fs.readFileSync(file, 'utf8');
  for (const entry of body.split('\n')) {
    const level = levelOf(entry);
    counts.set(level, (counts.get(level) || 0) + 1);
  }
}

function report(dir) {
  const folder = path.join(root, dir.trim());
  const names = fs.existsSync(folder) ? fs.readdirSync(folder) : [];
  for (const name of names) {
    if (name.endsWith('.log')) {
      scanFile(path.join(folder, name));
    }
  }
  console.log(`${names.length} file(s)`, Object.fromEntries(counts));
}

report('logs');
