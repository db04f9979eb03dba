#!/usr/bin/env node
// Writes a synthetic ES module of a given size by repeating
// bench/module_template.js, every __N__ in it replaced by the copy's number so
// that the top-level names stay unique and the repetition stays valid JS.
// The last copy is whole: the file is at least the asked size, by less than
// one copy more.
//
//   node bench/make_module.js SIZE_MB OUT.js      (MB = 2^20 bytes)
'use strict';
const fs = require('fs');
const path = require('path');

const [sizeArg, out] = process.argv.slice(2);
const megabytes = Number(sizeArg);
if (!out || !(megabytes > 0)) {
  console.error('usage: node make_module.js SIZE_MB OUT.js');
  process.exit(2);
}

const template = fs.readFileSync(path.join(__dirname, 'module_template.js'), 'utf8');
const target = Math.round(megabytes * 1024 * 1024);
const parts = [];
let size = 0;
for (let copy = 0; size < target; copy++) {
  const text = template.replaceAll('__N__', String(copy));
  parts.push(text);
  size += Buffer.byteLength(text);
}
fs.writeFileSync(out, parts.join(''));
