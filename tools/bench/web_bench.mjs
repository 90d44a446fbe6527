// The web panel's figures, in Debian's Chromium against the gate in front of vk9sim: a tap
// to the first byte at the far end, a release to silence, the three dead hands, and the
// gate's cost with 32 pages connected and idle. Times at the far end are the simulator's
// own log's. Writes its section of docs/PERFORMANCE.md in place.
// Usage: node web_bench.mjs MODULES_DIR VK9SIM VK9GATE PERFORMANCE_MD
import {spawn} from 'node:child_process';
import {mkdtempSync, readFileSync, readdirSync, writeFileSync, rmSync} from 'node:fs';
import {createServer} from 'node:net';
import {tmpdir, cpus} from 'node:os';
import {join} from 'node:path';
import {performance} from 'node:perf_hooks';
import {pathToFileURL} from 'node:url';
import {setTimeout as sleep} from 'node:timers/promises';

const [modules, simPath, gatePath, report] = process.argv.slice(2);
const {chromium} = await import(
  pathToFileURL(join(modules, 'node_modules/playwright-core/index.mjs')).href);
const dir = mkdtempSync(join(tmpdir(), 'vk9webbench-'));
const children = [];
const QUERY = 'A001CR0';
const LENS = 'A001C5D';

const freePort = () => new Promise((resolve) => {
  const s = createServer().listen(0, '127.0.0.1', () => {
    const {port} = s.address();
    s.close(() => resolve(port));
  });
});

function started(stream, pattern) {
  return new Promise((resolve) => {
    let seen = '';
    stream.on('data', (chunk) => {
      seen += chunk;
      if (pattern.test(seen)) {
        resolve(performance.now());
      }
    });
  });
}

const sim = spawn(simPath, ['--projectors', '1', '--state', '1:power=on', '--log',
                            join(dir, 'sim.log'), join(dir, 'line')]);
children.push(sim);
const simStart = await started(sim.stdout, /vk9sim:/);
const frames = () => readFileSync(join(dir, 'sim.log'), 'utf8').split('\n')
  .filter((l) => / rx [0-9-] /.test(l))
  .map((l) => ({t: simStart + Number(l.split(' ')[0]) / 1000, frame: l.split(' ')[3].replace('<0D>', '')}));

const port = await freePort();
writeFileSync(join(dir, 'gate.toml'), `[line]
port = "${join(dir, 'line')}"
speed = 9600
listen = "127.0.0.1:${await freePort()}"
[[projector]]
address = "001"
name = "Hall"
[web]
listen = "127.0.0.1:${port}"
`);
const gate = spawn(gatePath, ['--config', join(dir, 'gate.toml')]);
children.push(gate);
await started(gate.stderr, /web panel on/);
const url = `http://127.0.0.1:${port}/`;

const launch = () => chromium.launch({
  executablePath: '/usr/lib/chromium/chromium-headless-shell',
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking'],
});
async function open(browser) {
  const page = await (await browser.newContext()).newPage();
  await page.goto(url);
  await page.locator('#line[data-state="up"]').waitFor();
  return page;
}
const centre = async (page, button) => {
  await page.locator(`[data-button="${button}"]`).scrollIntoViewIfNeeded();
  const b = await page.locator(`[data-button="${button}"]`).boundingBox();
  return [b.x + b.width / 2, b.y + b.height / 2];
};
const quantile = (values, q) => {
  const s = [...values].sort((a, b) => a - b);
  return s[Math.min(s.length - 1, Math.ceil(q * s.length) - 1)];
};
const f = (ms) => ms.toFixed(1);
function browserPids() {
  const all = [];
  const walk = (pid) => {
    for (const p of readdirSync('/proc').filter((n) => /^\d+$/.test(n))) {
      try {
        const stat = readFileSync(`/proc/${p}/stat`, 'utf8');
        if (Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]) === pid) {
          all.push(Number(p));
          walk(Number(p));
        }
      } catch {
        // gone
      }
    }
  };
  walk(process.pid);
  return all.filter((p) => {
    try {
      return readFileSync(`/proc/${p}/cmdline`, 'utf8').includes('chromium');
    } catch {
      return false;
    }
  });
}

// A tap to the first byte at the far end: STATUS, 100 times.
let browser = await launch();
let page = await open(browser);
const taps = [];
const [qx, qy] = await centre(page, 'query-status');
await page.mouse.move(qx, qy);
await sleep(3000); // the page's first reading of the states is done
for (let i = 0; i < 100; ++i) {
  const at = performance.now();
  await page.mouse.down();
  await page.mouse.up();
  let first;
  for (let wait = 0; !first && wait < 40; ++wait) {
    await sleep(50);
    first = frames().find((x) => x.frame === QUERY && x.t >= at);
  }
  if (!first) {
    throw new Error(`tap ${i}: no ${QUERY} at the far end: ${readFileSync(join(dir, 'sim.log'), 'utf8').slice(-400)}`);
  }
  taps.push(first.t - at);
  await sleep(100);
}

// A release to silence: the lens held 1 s, 20 times.
const releases = [];
const [lx, ly] = await centre(page, 'lens-shift-up');
await page.mouse.move(lx, ly);
for (let i = 0; i < 20; ++i) {
  await page.mouse.down();
  await sleep(1000);
  const at = performance.now();
  await page.mouse.up();
  await sleep(400);
  const copies = frames().filter((x) => x.frame === LENS && x.t >= at - 1000);
  releases.push(copies.at(-1).t - at);
  await sleep(100);
}
await browser.close();

// The dead hands: the lens held, then the tab closed, the browser stopped or killed.
const dead = {};
for (const how of ['close', 'SIGSTOP', 'SIGKILL']) {
  dead[how] = [];
  for (let i = 0; i < 5; ++i) {
    browser = await launch();
    page = await open(browser);
    await page.mouse.move(...await centre(page, 'lens-shift-up'));
    await page.mouse.down();
    await sleep(700);
    const pids = browserPids();
    const at = performance.now();
    if (how === 'close') {
      await page.close();
    } else {
      pids.forEach((p) => { try { process.kill(p, how); } catch { /* gone */ } });
    }
    await sleep(700);
    dead[how].push(frames().filter((x) => x.frame === LENS && x.t >= at - 700).at(-1).t - at);
    pids.forEach((p) => { try { process.kill(p, 'SIGKILL'); } catch { /* gone */ } });
    if (how === 'close') {
      await browser.close();
    }
    await sleep(300);
  }
}

// 32 pages connected and idle: the gate's CPU over 20 s, and its memory.
const tick = 100; // clock ticks a second, as Linux counts them
const cpuOf = () => {
  const s = readFileSync(`/proc/${gate.pid}/stat`, 'utf8');
  const fields = s.slice(s.lastIndexOf(')') + 2).split(' ');
  return (Number(fields[11]) + Number(fields[12])) / tick;
};
const rssOf = () => Number(/VmRSS:\s+(\d+)/.exec(readFileSync(`/proc/${gate.pid}/status`, 'utf8'))[1]) / 1024;
const idle = async () => {
  await sleep(3000);
  const c0 = cpuOf();
  const t0 = performance.now();
  await sleep(20000);
  return {cpu: (100 * (cpuOf() - c0)) / ((performance.now() - t0) / 1000), rss: rssOf()};
};
const none = await idle();
browser = await launch();
for (let i = 0; i < 32; ++i) {
  await open(browser);
}
const many = await idle();
await browser.close();

for (const c of children) {
  c.kill('SIGTERM');
}
if (!process.env.VK9_KEEP) rmSync(dir, {recursive: true, force: true});

const when = new Date().toISOString().replace(/\.\d+Z$/, 'Z');
const section = `## The web panel

Measured by \`tools/bench/web_bench.mjs\` on ${when}: ${cpus()[0].model}, ${cpus().length} cores, Debian's Chromium headless, the gate in front of vk9sim at 9600 bit/s. Far-end times are the simulator's, by each frame's arrival.

| What | Samples | Median (ms) | p99 or max (ms) |
|---|---|---|---|
| a tap (mouse down and up) to STATUS's frame at the far end | ${taps.length} | ${f(quantile(taps, 0.5))} | ${f(quantile(taps, 0.99))} |
| a held lens button's release to its last copy at the far end | ${releases.length} | ${f(quantile(releases, 0.5))} | ${f(Math.max(...releases))} |
| mid-hold, the tab closed, to the last copy | ${dead.close.length} | ${f(quantile(dead.close, 0.5))} | ${f(Math.max(...dead.close))} |
| mid-hold, the browser stopped (SIGSTOP), to the last copy | ${dead.SIGSTOP.length} | ${f(quantile(dead.SIGSTOP, 0.5))} | ${f(Math.max(...dead.SIGSTOP))} |
| mid-hold, the browser killed (SIGKILL), to the last copy | ${dead.SIGKILL.length} | ${f(quantile(dead.SIGKILL, 0.5))} | ${f(Math.max(...dead.SIGKILL))} |

Each time is from the event to the arrival of the last copy; a negative time means the last copy had come before it, and nothing came after. A copy already on the wire at the release still arrives: a frame of 8 characters takes 8.3 ms at 9600 bit/s. The gate lets a hold go 300 ms after the page's last heartbeat (every 100 ms).

| The gate, idle | CPU (% of one core, over 20 s) | Memory (RSS, MiB) |
|---|---|---|
| no page | ${none.cpu.toFixed(2)} | ${none.rss.toFixed(1)} |
| 32 pages connected | ${many.cpu.toFixed(2)} | ${many.rss.toFixed(1)} |
`;
let text = '';
try {
  text = readFileSync(report, 'utf8');
} catch {
  text = '# Performance\n';
}
const start = text.indexOf('## The web panel');
if (start >= 0) {
  const next = text.indexOf('\n## ', start + 1);
  text = text.slice(0, start) + (next >= 0 ? text.slice(next + 1) : '');
}
writeFileSync(report, text.trimEnd() + '\n\n' + section);
console.log(section);
