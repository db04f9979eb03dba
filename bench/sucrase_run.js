#!/usr/bin/env node
// One Sucrase run as bench/whole_run.sh times it: read the file, apply the
// `imports` transform, write the result.
//
//   node bench/sucrase_run.js IN.js OUT.js
'use strict';
const fs = require('fs');
const path = require('path');

const [input, output] = process.argv.slice(2);
if (!input || !output) {
  console.error('usage: node sucrase_run.js IN.js OUT.js');
  process.exit(2);
}
const { transform } = require(path.join(__dirname, 'tools', 'node_modules', 'sucrase'));
const code = fs.readFileSync(input, 'utf8');
fs.writeFileSync(output, transform(code, { transforms: ['imports'], filePath: input }).code);
