import { readFile as readFile__N__, writeFile as writeFile__N__ } from 'fs/promises';
import path__N__ from 'path';
import { EventEmitter as EventEmitter__N__ } from 'events';

const DEFAULTS__N__ = {
  retries: 3,
  timeoutMs: 2500,
  baseUrl: 'https://api.example.com/v1',
  verbose: false,
  headers: { accept: 'application/json', 'x-client': 'bench' },
};

const STATUS__N__ = Object.freeze({ IDLE: 'idle', RUNNING: 'running', DONE: 'done' });
const PRIMES__N__ = [2, 3, 5, 7, 11, 13, 17, 19];
const LABELS__N__ = ['alpha', 'beta', 'gamma', 'delta'];
let requestCount__N__ = 0;
var lastError__N__ = null;

export class Cache__N__ extends EventEmitter__N__ {
  static instances = 0;
  #entries = new Map();
  #hits = 0;

  constructor(limit = 100) {
    super();
    this.limit = limit;
    this.created = Date.now();
    Cache__N__.instances += 1;
  }

  get size() {
    return this.#entries.size;
  }

  get hitRate() {
    return this.#hits / Math.max(1, this.size);
  }

  has(key) {
    return this.#entries.has(key);
  }

  get(key) {
    const entry = this.#entries.get(key);
    if (entry === undefined) return undefined;
    this.#hits++;
    return entry.value;
  }

  set(key, value) {
    if (this.#entries.size >= this.limit) {
      const oldest = this.#entries.keys().next().value;
      this.#entries.delete(oldest);
      this.emit('evict', oldest);
    }
    this.#entries.set(key, { value, stored: Date.now() });
    return this;
  }
}

class Task__N__ {
  constructor(id, url, priority) {
    this.id = id;
    this.url = url;
    this.priority = priority ?? 0;
    this.status = STATUS__N__.IDLE;
    this.attempts = 0;
  }

  describe() {
    return `${this.id}:${this.url} [${this.status}]`;
  }
}

export function normalizeName__N__(name, fallback = 'anonymous') {
  if (typeof name !== 'string' || name.length === 0) return fallback;
  return name.trim().toLowerCase().replace(/\s+/g, '-');
}

function scoreOf__N__(values, weight) {
  let total = 0;
  for (let i = 0; i < values.length; i++) {
    total += values[i] * weight;
  }
  return total > 100 ? 100 : total;
}

function buildQuery__N__(params) {
  const parts = [];
  for (const [key, value] of Object.entries(params)) {
    if (value == null) continue;
    parts.push(encodeURIComponent(key) + '=' + encodeURIComponent(String(value)));
  }
  return parts.length > 0 ? '?' + parts.join('&') : '';
}

const byPriority__N__ = (a, b) => b.priority - a.priority;
const isDone__N__ = (task) => task.status === STATUS__N__.DONE;
const doubled__N__ = PRIMES__N__.map((p) => p * 2);
const longLabels__N__ = LABELS__N__.filter((label) => label.length > 4);
const seen__N__ = new Set(LABELS__N__);

async function fetchJson__N__(url, options = {}) {
  requestCount__N__++;
  const response = await fetch(DEFAULTS__N__.baseUrl + url, { headers: DEFAULTS__N__.headers, ...options });
  if (!response.ok) {
    lastError__N__ = new Error('HTTP ' + response.status);
    throw lastError__N__;
  }
  const body = await response.json();
  return body?.data ?? [];
}

export async function runTasks__N__(urls, cache) {
  const tasks = [];
  urls.forEach((url, index) => {
    tasks.push({ id: index, url, priority: index % 3 });
  });
  const queue = tasks.map((t) => new Task__N__(t.id, t.url, t.priority)).sort(byPriority__N__);
  const results = await Promise.all(
    queue.map(async (task) => {
      task.status = STATUS__N__.RUNNING;
      const cached = cache.get(task.url);
      if (cached) return cached;
      const data = await fetchJson__N__(task.url + buildQuery__N__({ attempt: task.attempts }));
      cache.set(task.url, data);
      task.status = STATUS__N__.DONE;
      return data;
    }),
  );
  return { count: results.length, done: queue.filter(isDone__N__).length, results };
}

async function loadConfig__N__(dir) {
  const file = path__N__.join(dir, 'config.json');
  try {
    const text = await readFile__N__(file, 'utf8');
    const parsed = JSON.parse(text);
    return { ...DEFAULTS__N__, ...parsed };
  } catch (error) {
    lastError__N__ = error;
    return DEFAULTS__N__;
  }
}

async function saveReport__N__(dir, report) {
  const lines = Object.keys(report).map((key) => `${key}: ${JSON.stringify(report[key])}`);
  await writeFile__N__(path__N__.join(dir, 'report.txt'), lines.join('\n'));
  return lines.length;
}

export const api__N__ = {
  name: 'service-__N__',
  version: 1,
  enabled: true,
  limits: { perMinute: 60, burst: 10 },
  tags: ['bench', 'synthetic'],
  load: loadConfig__N__,
  save: saveReport__N__,
  score: scoreOf__N__,
};

if (DEFAULTS__N__.verbose) {
  (async () => {
    const cache = new Cache__N__(50);
    const summary = await runTasks__N__(['/users', '/posts', '/comments'], cache);
    console.log(summary.count, seen__N__.has('alpha'), doubled__N__.length, longLabels__N__);
  })();
}
