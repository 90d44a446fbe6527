// The web panel in a real browser: Debian's Chromium driven by playwright-core, against the
// gate in front of vk9sim behind a pseudo-terminal. Frames are timed at the far end, by the
// simulator's own log. Run by check_web_panel.sh, which gives the paths in the environment.
import {test, before, after} from 'node:test';
import assert from 'node:assert/strict';
import {execFileSync, spawn, spawnSync} from 'node:child_process';
import {mkdtempSync, readFileSync, writeFileSync, chmodSync, readdirSync, rmSync} from 'node:fs';
import {createServer} from 'node:http';
import {createServer as netServer} from 'node:net';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {performance} from 'node:perf_hooks';
import {pathToFileURL} from 'node:url';
import {setTimeout as sleep} from 'node:timers/promises';

const env = process.env;
const {chromium} = await import(
  pathToFileURL(join(env.VK9_MODULES, 'node_modules/playwright-core/index.mjs')).href);
const CHROMIUM = '/usr/lib/chromium/chromium-headless-shell';

// Expected values, as the panel's description gives them.
const POWER_ON = 'A001C00\r';
const POWER_OFF = 'A001C02\r';
const LENS_UP = 'A001C5D\r'; // LENS SHIFT up, repeated every 50 ms
const LENS_PERIOD_MS = 50;
const FRAME_MS = (8 * 10 * 1000) / 9600; // eight characters at 9600 bit/s
const HEARTBEAT_LIMIT_MS = 300;

const dir = mkdtempSync(join(tmpdir(), 'vk9web-'));
const children = [];
let sim;
let gate;

function freePort() {
  return new Promise((resolve) => {
    const s = netServer().listen(0, '127.0.0.1', () => {
      const {port} = s.address();
      s.close(() => resolve(port));
    });
  });
}

function waitFor(stream, pattern, what) {
  return new Promise((resolve, reject) => {
    let seen = '';
    const timer = setTimeout(() => reject(new Error(what + ' did not start:\n' + seen)), 10000);
    stream.on('data', (chunk) => {
      seen += chunk;
      if (pattern.test(seen)) {
        clearTimeout(timer);
        resolve(performance.now());
      }
    });
  });
}

// The simulator; its log's times (microseconds from its start) on this test's clock.
async function startSim(line) {
  const log = join(dir, line + '.log');
  const p = spawn(env.VK9SIM, ['--projectors', '2', '--state', '1:power=on,input=1', '--state', '2:power=on,input=1',
                               '--warm-up', '300', '--cool-down', '300', '--log', log,
                               join(dir, line)]);
  children.push(p);
  const started = await waitFor(p.stdout, /vk9sim:/, 'vk9sim');
  return {
    frames() {
      return readFileSync(log, 'utf8').split('\n').filter((l) => / rx [0-9-] /.test(l)).map((l) => {
        const [us, , , frame] = l.split(' ');
        return {t: started + Number(us) / 1000, frame: frame.replace('<0D>', '\r')};
      });
    },
  };
}

async function startGate(name, line, web, scheme = 'http') {
  const share = await freePort();
  const port = await freePort();
  const file = join(dir, name + '.toml');
  writeFileSync(file, `[line]
port = "${join(dir, line)}"
speed = 9600
listen = "127.0.0.1:${share}"

[[projector]]
address = "001"
name = "Hall left"

[[projector]]
address = "002"
name = "Hall right"

[web]
listen = "127.0.0.1:${port}"
${web}
`);
  const p = spawn(env.VK9GATE, ['--config', file]);
  children.push(p);
  let log = '';
  p.stderr.on('data', (chunk) => { log += chunk; });
  await waitFor(p.stderr, /web panel on/, 'vk9gate');
  return {url: `${scheme}://127.0.0.1:${port}/`, share, port, process: p, log: () => log};
}

function launch(...more) {
  return chromium.launch({
    executablePath: CHROMIUM,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--no-first-run', ...more],
  });
}

async function openPanel(browser, url, options = {}) {
  const context = await browser.newContext(options);
  const page = await context.newPage();
  await page.goto(url);
  await page.locator('[data-button="power-on"]').waitFor();
  await page.locator('#line[data-state="up"]').waitFor();
  return page;
}

const count = (frames, frame, from = 0) => frames.filter((f) => f.frame === frame && f.t >= from);

// The copies of a hold: at the button's period, the last within a frame and 20 ms of the
// release.
function checkHold(frames, from, released) {
  const copies = count(frames, LENS_UP, from);
  const expected = (released - from) / LENS_PERIOD_MS;
  assert.ok(copies.length >= expected - 3 && copies.length <= expected + 2,
            `${copies.length} copies in ${Math.round(released - from)} ms`);
  const gaps = copies.slice(1).map((c, i) => c.t - copies[i].t).sort((a, b) => a - b);
  const median = gaps[Math.floor(gaps.length / 2)];
  assert.ok(Math.abs(median - LENS_PERIOD_MS) <= 5, `copies ${median.toFixed(1)} ms apart`);
  const last = copies.at(-1).t - released;
  assert.ok(last <= FRAME_MS + 20, `the last copy came ${last.toFixed(1)} ms after the release`);
}

// The browser's processes: those of this test's that run Chromium.
function browserProcesses() {
  return tree(process.pid).filter((pid) => {
    try {
      return readFileSync(`/proc/${pid}/cmdline`, 'utf8').includes('chromium');
    } catch {
      return false;
    }
  });
}

function tree(pid) {
  const all = [pid];
  for (const p of readdirSync('/proc').filter((n) => /^\d+$/.test(n))) {
    try {
      const stat = readFileSync(`/proc/${p}/stat`, 'utf8');
      const parent = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
      if (parent === pid) {
        all.push(...tree(Number(p)));
      }
    } catch {
      // gone meanwhile
    }
  }
  return all;
}

before(async () => {
  sim = await startSim('line');
  gate = await startGate('open', 'line', '');
});

after(() => {
  for (const c of children) {
    c.kill('SIGKILL');
  }
  rmSync(dir, {recursive: true, force: true});
});

test('a tap on POWER ON sends one C00; POWER OFF needs a second tap within 3 s', async () => {
  const browser = await launch();
  const page = await openPanel(browser, gate.url);
  const from = performance.now();
  await page.click('[data-button="power-on"]');
  await page.locator('#outcome', {hasText: 'POWER ON: acknowledged'}).waitFor();
  await sleep(300);
  assert.equal(count(sim.frames(), POWER_ON, from).length, 1);

  await page.click('[data-button="power-off"]');
  await page.click('#projectors input[value="002"]'); // the second tap is for another one
  await page.click('[data-button="power-off"]');
  await page.click('#projectors input[value="001"]');
  await sleep(3300); // the first tap's time runs out
  await page.click('[data-button="power-off"]');
  await sleep(500);
  assert.equal(count(sim.frames(), POWER_OFF, from).length, 0, 'one tap at a time sent POWER OFF');
  assert.equal(count(sim.frames(), 'A002C02\r', from).length, 0, 'a tap armed for 001 turned 002 off');
  await page.click('[data-button="power-off"]');
  await page.locator('#outcome', {hasText: 'POWER OFF: acknowledged'}).waitFor();
  assert.equal(count(sim.frames(), POWER_OFF, from).length, 1);
  await browser.close();
});

test('a lens button held 2 s with a mouse, then with touch', async () => {
  const browser = await launch();
  const page = await openPanel(browser, gate.url, {hasTouch: true});
  const box = await page.locator('[data-button="lens-shift-up"]').boundingBox();
  const x = box.x + box.width / 2;
  const y = box.y + box.height / 2;

  await page.mouse.move(x, y);
  let from = performance.now();
  await page.mouse.down();
  await sleep(2000);
  let released = performance.now();
  await page.mouse.up();
  await sleep(400);
  checkHold(sim.frames(), from, released);

  // Let go and pressed again at once: the new hold carries on, whatever the last one's end.
  for (let i = 0; i < 3; ++i) {
    await page.mouse.down();
    await sleep(300);
    await page.mouse.up();
    from = performance.now();
    await page.mouse.down();
    await sleep(1000);
    released = performance.now();
    await page.mouse.up();
    await sleep(400);
    checkHold(sim.frames(), from, released);
  }

  const cdp = await page.context().newCDPSession(page);
  await sleep(300);
  from = performance.now();
  await cdp.send('Input.dispatchTouchEvent', {type: 'touchStart', touchPoints: [{x, y}]});
  for (let i = 0; i < 10; ++i) { // a finger that rests moves a little
    await sleep(200);
    await cdp.send('Input.dispatchTouchEvent', {type: 'touchMove', touchPoints: [{x, y: y + 1}]});
  }
  released = performance.now();
  await cdp.send('Input.dispatchTouchEvent', {type: 'touchEnd', touchPoints: []});
  await sleep(400);
  checkHold(sim.frames(), from, released);
  const menu = await page.evaluate(() => document.getSelection().toString());
  assert.equal(menu, '', 'a long press selected text');
  await browser.close();
});

test('a hold stops within 300 ms when the tab closes, the browser stops or is killed', async () => {
  for (const how of ['close', 'SIGSTOP', 'SIGKILL']) {
    const browser = await launch();
    const page = await openPanel(browser, gate.url);
    const box = await page.locator('[data-button="lens-shift-up"]').boundingBox();
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.mouse.down();
    await sleep(1000);
    const pids = browserProcesses();
    const at = performance.now();
    if (how === 'close') {
      await page.close();
    } else {
      for (const pid of pids) {
        try {
          process.kill(pid, how);
        } catch {
          // gone already
        }
      }
    }
    await sleep(800);
    const copies = count(sim.frames(), LENS_UP, at - 1000);
    assert.ok(copies.length > 10, `${how}: the hold did not run (${copies.length} copies)`);
    const last = copies.at(-1).t - at;
    assert.ok(last <= HEARTBEAT_LIMIT_MS + FRAME_MS,
              `${how}: the last copy came ${last.toFixed(0)} ms after`);
    if (how === 'SIGSTOP') {
      for (const pid of pids) {
        try {
          process.kill(pid, 'SIGKILL');
        } catch {
          // gone already
        }
      }
    } else if (how === 'close') {
      await browser.close();
    }
  }
});

test('a change made by vk9ctl is on the page within 1.5 s', async () => {
  const browser = await launch();
  const page = await openPanel(browser, gate.url);
  const card = page.locator('#state-002');
  await card.locator('dd', {hasText: 'Input 1'}).waitFor();
  const from = performance.now();
  const ctl = spawnSync(env.VK9CTL, ['--port', `gate://127.0.0.1:${gate.share}`, '--address', '2',
                                     'mode-set-3']);
  assert.equal(ctl.status, 0, String(ctl.stdout) + String(ctl.stderr));
  await card.locator('dd', {hasText: 'Input 3'}).waitFor({timeout: 1500});
  const took = performance.now() - from;
  assert.ok(took <= 1500, `${took} ms`);
  await browser.close();
});

test('a phone upright and a tablet: every target at least 48 px, nothing wider than the screen', async () => {
  const browser = await launch();
  const views = [
    {name: 'phone', viewport: {width: 390, height: 844}, isMobile: true, hasTouch: true,
     deviceScaleFactor: 2},
    {name: 'tablet', viewport: {width: 1024, height: 768}, hasTouch: true},
  ];
  for (const view of views) {
    const {name, ...options} = view;
    const page = await openPanel(browser, gate.url, {...options, colorScheme: 'dark'});
    const small = await page.evaluate(() => [...document.querySelectorAll('button, label')]
      .map((b) => ({label: b.getAttribute('aria-label') || b.textContent, r: b.getBoundingClientRect()}))
      .filter((b) => b.r.width < 48 || b.r.height < 48).map((b) => b.label));
    assert.deepEqual(small, [], `${name}: targets under 48 px`);
    const wide = await page.evaluate(() => document.scrollingElement.scrollWidth);
    assert.ok(wide <= view.viewport.width, `${name}: ${wide} px wide`);
    const unlabelled = await page.evaluate(() => [...document.querySelectorAll('#panel button')]
      .filter((b) => !b.getAttribute('aria-label')).length);
    assert.equal(unlabelled, 0);
    if (env.VK9_SHOTS) {
      await page.locator('#state-001 dd', {hasText: 'Input'}).waitFor();
      await page.screenshot({path: join(env.VK9_SHOTS, `web-${name}.png`), fullPage: name === 'tablet'});
    }
  }
  await browser.close();
});

test('with a password: the login, another site refused, a bad message closing only its own', async () => {
  const secret = join(dir, 'secret');
  writeFileSync(secret, 'hall 2026\n'); // a space, as a form sends it: "+"
  chmodSync(secret, 0o600);
  await startSim('line2');
  const locked = await startGate('locked', 'line2', `password_file = "${secret}"`);
  const browser = await launch();
  const context = await browser.newContext();
  const page = await context.newPage();
  await page.goto(locked.url);
  assert.match(page.url(), /\/login$/);
  const submit = await page.locator('button[type=submit]').boundingBox();
  assert.ok(submit.height >= 48, `the login's button is ${submit.height} px high`);
  await page.fill('#password', 'wrong');
  await page.click('button[type=submit]');
  await page.locator('[role=alert]').waitFor();
  await page.fill('#password', 'hall 2026');
  await page.click('button[type=submit]');
  await page.locator('#line[data-state="up"]').waitFor();
  const cookie = (await context.cookies()).find((c) => c.name === `vk9session-${locked.port}`);
  assert.ok(cookie.httpOnly && cookie.sameSite === 'Strict' && cookie.value.length === 32);

  // Another site, opened in the same browser: its WebSocket is refused.
  const other = createServer((_, res) => res.end('<!doctype html><title>other</title>'));
  await new Promise((r) => other.listen(0, '127.0.0.1', r));
  const intruder = await context.newPage();
  await intruder.goto(`http://127.0.0.1:${other.address().port}/`);
  const refused = await intruder.evaluate((url) => new Promise((resolve) => {
    const ws = new WebSocket(url);
    ws.onclose = (e) => resolve(e.code);
    setTimeout(() => resolve('still open after 3 s'), 3000);
  }), `ws://127.0.0.1:${locked.port}/ws`);
  assert.equal(refused, 1008);
  other.close();

  // A bad message on a second connection of the same page: only that one is closed.
  const closed = await page.evaluate((url) => new Promise((resolve) => {
    const ws = new WebSocket(url);
    ws.onopen = () => ws.send('{"kind": "dance"}');
    ws.onclose = (e) => resolve(e.code);
    setTimeout(() => resolve('still open after 3 s'), 3000);
  }), `ws://127.0.0.1:${locked.port}/ws`);
  assert.equal(closed, 1008);
  await page.click('[data-button="query-status"]');
  await page.locator('#outcome', {hasText: 'STATUS: answered'}).waitFor();
  const lines = locked.log().split('\n').filter((l) => l.includes('"dance"'));
  assert.equal(lines.length, 1, locked.log());
  await browser.close();
});

test('over TLS: the page, its WebSocket and a Secure cookie', async () => {
  const key = join(dir, 'web.key');
  const cert = join(dir, 'web.crt');
  execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-sha256', '-days', '2',
                           '-nodes', '-subj', '/CN=127.0.0.1', '-addext',
                           'subjectAltName=IP:127.0.0.1', '-keyout', key, '-out', cert],
               {stdio: 'ignore'});
  chmodSync(key, 0o600);
  const secret = join(dir, 'tls-secret');
  writeFileSync(secret, 'hall-2026\n');
  chmodSync(secret, 0o600);
  await startSim('line3');
  const tls = await startGate('tls', 'line3', `password_file = "${secret}"
cert_file = "${cert}"
key_file = "${key}"`, 'https');
  const browser = await launch();
  const context = await browser.newContext({ignoreHTTPSErrors: true});
  const page = await context.newPage();
  await page.goto(tls.url);
  await page.fill('#password', 'hall-2026');
  await page.click('button[type=submit]');
  await page.locator('#line[data-state="up"]').waitFor();
  const cookie = (await context.cookies()).find((c) => c.name === `vk9session-${tls.port}`);
  assert.ok(cookie.secure && cookie.httpOnly, JSON.stringify(cookie));
  await page.click('[data-button="query-status"]');
  await page.locator('#outcome', {hasText: 'STATUS: answered'}).waitFor();
  await browser.close();
});

test('a site whose name a name server points at the gate cannot drive it', async () => {
  const browser = await launch('--host-resolver-rules=MAP evil.example 127.0.0.1');
  const page = await (await browser.newContext()).newPage();
  await page.goto(`http://evil.example:${gate.port}/`);
  const closed = await page.evaluate(() => new Promise((resolve) => {
    const ws = new WebSocket(`ws://${location.host}/ws`);
    ws.onclose = (e) => resolve(`${e.code} ${e.reason}`);
    setTimeout(() => resolve('still open after 3 s'), 3000);
  }));
  assert.match(closed, /^1008 .*another site/);
  await browser.close();
});
