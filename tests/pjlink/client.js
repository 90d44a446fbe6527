// A real PJLink client, the pjlink package from the npm registry, driving one projector of
// the gate: each step as one JSON line, its result or its error. Steps run one after
// another; "wait MS" pauses between them.
// Usage: node client.js MODULES_DIR PORT PASSWORD|- STEP...
const PJLink = require(require('path').join(process.argv[2], 'node_modules', 'pjlink'));
const port = parseInt(process.argv[3], 10);
const password = process.argv[4] === '-' ? null : process.argv[4];
const pj = new PJLink({ host: '127.0.0.1', port, password, timeout: 5000 });
const calls = {
  powerOn: cb => pj.powerOn(cb),
  powerOff: cb => pj.powerOff(cb),
  getPower: cb => pj.getPowerState(cb),
  setInput31: cb => pj.setInput(31, cb),
  setInput21: cb => pj.setInput(21, cb),
  getInput: cb => pj.getInput((e, i) => cb(e, i && i.code)),
  muteVideo: cb => pj.setMute({ video: true, audio: false }, cb),
  unmute: cb => pj.setMute(false, cb),
  getMute: cb => pj.getMute(cb),
  getErrors: cb => pj.getErrors(cb),
  getLamps: cb => pj.getLamps(cb),
  getName: cb => pj.getName((e, ...words) => cb(e, words.join(' '))),
  getClass: cb => pj.getClass(cb),
  getInputs: cb => pj.getInputs((e, list) => cb(e, list && list.map(i => i.code))),
};
(async () => {
  for (const step of process.argv.slice(5)) {
    if (step.startsWith('wait')) {
      await new Promise(r => setTimeout(r, parseInt(step.slice(4), 10)));
      continue;
    }
    const line = await new Promise(resolve => calls[step]((err, result) =>
      resolve(err ? { [step]: 'error: ' + err.message } : { [step]: result === undefined ? 'ok' : result })));
    console.log(JSON.stringify(line));
  }
  pj.disconnect();
})();
