// The touch panel. The gate repeats a held button; this page only says when a hold begins,
// that the hand is still on it (every 100 ms), and when it ends. The dialogue is written
// down in docs/web-protocol.md.

const PROTOCOL = 1;
const CONFIRM_MS = 3000; // POWER OFF's second tap

const $ = (id) => document.getElementById(id);
let socket = null;
let nextId = 1;
let heartbeatMs = 100;
let target = null; // the chosen projector's address, or "all"
let hold = null; // {id, button, element, timer, pointerId}
let retryMs = 1000;
const asked = new Map(); // id: the button's label, for its outcome
const projectors = new Map(); // address: name

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) {
    socket.send(JSON.stringify(message));
    return true;
  }
  return false;
}

function say(text, bad) {
  const o = $('outcome');
  o.textContent = text;
  o.classList.toggle('bad', !!bad);
}

// Holds: begun by a press, ended by whatever can take the hand away.
function beginHold(button, element, pointerId) {
  endHold();
  const id = nextId++;
  if (!send({kind: 'hold', button: button.button, to: target, id})) {
    say('Not sent: the page has lost the gate', true);
    return;
  }
  asked.set(id, button.label);
  element.classList.add('held');
  element.setAttribute('aria-pressed', 'true');
  hold = {
    id, button, element, pointerId,
    timer: setInterval(() => send({kind: 'beat'}), heartbeatMs),
  };
}

// The hold as the page shows it ends; the gate is told unless it ended it.
function dropHold() {
  if (!hold) {
    return false;
  }
  clearInterval(hold.timer);
  hold.element.classList.remove('held');
  hold.element.setAttribute('aria-pressed', 'false');
  hold = null;
  return true;
}

function endHold() {
  if (dropHold()) {
    send({kind: 'release'});
  }
}

// A second tap counts only for the projector the first was meant for.
function disarmAll() {
  for (const b of document.querySelectorAll('#panel button.armed')) {
    clearTimeout(b.disarm);
    b.dataset.armed = 'no';
    b.classList.remove('armed');
    b.querySelector('.caption').textContent = b.dataset.caption;
  }
}

function tap(button, element) {
  if (button.confirm && element.dataset.armed !== 'yes') {
    element.dataset.armed = 'yes';
    element.classList.add('armed');
    const caption = element.querySelector('.caption');
    caption.textContent = 'Tap again';
    say(button.label + ': tap again within 3 s');
    element.disarm = setTimeout(() => disarm(element, button), CONFIRM_MS);
    return;
  }
  if (button.confirm) {
    clearTimeout(element.disarm);
    disarm(element, button);
  }
  endHold();
  const id = nextId++;
  if (send({kind: 'press', button: button.button, to: target, id})) {
    asked.set(id, button.label);
    say(button.label + ': sending…');
  } else {
    say('Not sent: the page has lost the gate', true);
  }
}

function disarm(element, button) {
  element.dataset.armed = 'no';
  element.classList.remove('armed');
  element.querySelector('.caption').textContent = button.caption;
}

function makeButton(button) {
  const b = document.createElement('button');
  b.type = 'button';
  b.dataset.button = button.button;
  b.dataset.caption = button.caption;
  b.setAttribute('aria-label', button.label);
  const caption = document.createElement('span');
  caption.className = 'caption';
  caption.textContent = button.caption;
  b.append(caption);
  if (!button.hold) {
    b.addEventListener('click', () => tap(button, b));
    return b;
  }
  b.classList.add('hold');
  b.setAttribute('aria-pressed', 'false');
  b.addEventListener('pointerdown', (e) => {
    if (e.button !== 0) {
      return;
    }
    e.preventDefault();
    b.setPointerCapture(e.pointerId);
    beginHold(button, b, e.pointerId);
  });
  const letGo = (e) => {
    if (hold && hold.element === b && (e.pointerId === undefined || e.pointerId === hold.pointerId)) {
      endHold();
    }
  };
  b.addEventListener('pointerup', letGo);
  b.addEventListener('pointercancel', letGo);
  b.addEventListener('lostpointercapture', letGo);
  b.addEventListener('keydown', (e) => {
    if ((e.key === ' ' || e.key === 'Enter') && !e.repeat) {
      e.preventDefault();
      beginHold(button, b, undefined);
    }
  });
  b.addEventListener('keyup', (e) => {
    if (e.key === ' ' || e.key === 'Enter') {
      e.preventDefault();
      if (hold && hold.element === b) {
        endHold();
      }
    }
  });
  b.addEventListener('blur', () => {
    if (hold && hold.element === b && hold.pointerId === undefined) {
      endHold();
    }
  });
  return b;
}

function showPanel(hello) {
  $('gate').textContent = 'VK9 · ' + hello.gate;
  heartbeatMs = hello.heartbeat_ms || 100;
  const choice = $('projectors');
  choice.replaceChildren();
  projectors.clear();
  const options = hello.projectors.map((p) => ({address: p.address, name: p.name}));
  if (options.some((p) => p.address !== '')) {
    options.push({address: 'all', name: 'All'});
  }
  if (!options.some((p) => p.address === target)) {
    target = options[0].address;
  }
  for (const p of options) {
    projectors.set(p.address, p.name);
    const label = document.createElement('label');
    const radio = document.createElement('input');
    radio.type = 'radio';
    radio.name = 'projector';
    radio.value = p.address;
    radio.checked = p.address === target;
    radio.addEventListener('change', () => {
      endHold();
      disarmAll();
      target = radio.value;
    });
    const text = document.createElement('span');
    text.textContent = p.name + (p.address && p.address !== 'all' ? ' (' + p.address + ')' : '');
    label.append(radio, text);
    choice.append(label);
  }
  const states = $('states');
  states.replaceChildren();
  for (const p of hello.projectors) {
    const card = document.createElement('article');
    card.className = 'state';
    card.id = 'state-' + (p.address || 'single');
    card.setAttribute('aria-label', p.name);
    const h = document.createElement('h2');
    h.textContent = p.name;
    const dl = document.createElement('dl');
    card.append(h, dl);
    states.append(card);
  }
  const panel = $('panel');
  panel.replaceChildren();
  for (const group of hello.groups) {
    const section = document.createElement('section');
    section.className = 'group';
    section.dataset.group = group.id;
    section.setAttribute('aria-label', group.title || group.label);
    if (group.title) {
      const h = document.createElement('h2');
      h.textContent = group.title;
      section.append(h);
    }
    const row = document.createElement('div');
    row.className = 'buttons';
    for (const button of group.buttons) {
      row.append(makeButton(button));
    }
    section.append(row);
    panel.append(section);
  }
}

const READINGS = [
  ['power', 'Power'], ['input', 'Input'], ['lamp_hours', 'Lamp hours'],
  ['lamp_mode', 'Lamp mode'], ['temperature', 'Temperatures'], ['reversal', 'Picture'],
];

function showState(state) {
  const card = $('state-' + (state.projector || 'single'));
  if (!card) {
    return;
  }
  card.classList.toggle('absent', state.answers === false);
  const dl = card.querySelector('dl');
  dl.replaceChildren();
  const row = (name, value) => {
    const dt = document.createElement('dt');
    dt.textContent = name;
    const dd = document.createElement('dd');
    dd.textContent = value;
    dl.append(dt, dd);
  };
  row('Answers', state.answers === null ? 'not asked yet' : state.answers ? 'yes' : 'no: absent');
  for (const [key, name] of READINGS) {
    const r = state.readings[key];
    if (!r) {
      continue;
    }
    let text = r.text;
    if (key === 'lamp_hours') {
      text = r.values.lamp_hours + ' h';
    } else if (key === 'temperature') {
      text = 'S1 ' + r.values.s1 + ' °C, S2 ' + r.values.s2 + ' °C';
    }
    row(name, text);
  }
}

const LINE = {
  up: 'Line up', lost: 'Line lost: the gate is reconnecting', reconnecting: 'Line down: the gate is reconnecting',
};
const OUTCOMES = {
  acknowledged: 'acknowledged', answered: 'answered', sent: 'sent',
  unanswered: 'no answer from the projector', absent: 'not sent: the projector does not answer',
  busy: 'not sent: the line is busy', lost: 'not sent: the line is lost',
};

const RELEASES = {
  'no heartbeat': 'the gate heard nothing from this page for 300 ms',
  absent: 'the projector does not answer', lost: 'the line is lost',
};

function received(event) {
  let m;
  try {
    m = JSON.parse(event.data);
  } catch {
    return;
  }
  if (m.kind === 'hello') {
    if (m.version !== PROTOCOL) {
      say('This page and the gate do not speak the same version: reload the page', true);
    }
    showPanel(m);
  } else if (m.kind === 'line') {
    const l = $('line');
    l.textContent = (LINE[m.state] || m.state) + (m.why ? ' (' + m.why + ')' : '');
    l.dataset.state = m.state;
    document.body.classList.toggle('line-down', m.state !== 'up');
  } else if (m.kind === 'state') {
    showState(m);
  } else if (m.kind === 'sent') {
    say((asked.get(m.id) || 'Sent') + ': sent');
  } else if (m.kind === 'outcome') {
    const label = asked.get(m.id) || 'Sent';
    const one = m.outcome === 'answered' && target === 'all' ? ' (the projector that speaks for all)' : '';
    say(label + ': ' + (OUTCOMES[m.outcome] || m.outcome) + one + (m.text ? ': ' + m.text : ''),
        !['acknowledged', 'answered'].includes(m.outcome));
    if (!hold || hold.id !== m.id) {
      asked.delete(m.id);
    }
  } else if (m.kind === 'released') {
    const label = asked.get(m.id) || m.button;
    asked.delete(m.id);
    if (m.why !== 'released' && m.why !== 'another press') {
      say(label + ' let go: ' + (RELEASES[m.why] || m.why), true);
    }
    if (hold && hold.id === m.id) { // only the hold it names: a newer one carries on
      dropHold();
    }
  }
}

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
  socket = new WebSocket(scheme + location.host + '/ws');
  socket.addEventListener('open', () => {
    retryMs = 1000;
    $('lost').hidden = true;
    document.body.classList.remove('gate-lost');
  });
  socket.addEventListener('message', received);
  socket.addEventListener('close', (e) => {
    dropHold();
    $('lost').hidden = false;
    document.body.classList.add('gate-lost');
    $('line').textContent = 'The gate is out of reach' + (e.reason ? ' (' + e.reason + ')' : '');
    if (e.code === 1008 && /not logged in|session is over/.test(e.reason)) {
      location.href = '/login';
      return;
    }
    setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, 5000);
  });
}

// Whatever takes the hand away from the page ends a hold at once.
document.addEventListener('visibilitychange', () => {
  if (document.hidden) {
    endHold();
  }
});
window.addEventListener('blur', endHold);
window.addEventListener('pagehide', endHold);
// A long press brings up no menu, selection or callout.
document.addEventListener('contextmenu', (e) => {
  if (e.target.closest('#panel')) {
    e.preventDefault();
  }
});

connect();
