'use strict';
// Stands in for the sentence engine's loader where a fault is easier to make on purpose: speaks
// the same protocol, and misbehaves as told.
//
//   node engine_stand_in.cjs ENGINE_DIR MODEL_DIR
//
// At start, by MODEL_DIR's last part: "mute" never becomes ready, "quits" exits at once,
// "chatty" writes something after "ready", anything else becomes ready. Then each request
// "echo TEXT" is answered with TEXT, and these misbehave: "kill" and "stop" send the process
// SIGKILL and SIGSTOP, "garbage" writes a line out of frame, "extra" writes bytes after its
// answer, "error" answers with an error and goes on, a request that starts with "deaf" stops it reading and is
// never answered,
// "invalid" answers with bytes that are not UTF-8, "slowly" answers in pieces a while apart.

const path = require('node:path');

function record(kind, body) {
  return Buffer.concat([Buffer.from(`${kind} ${body.length}\n`), body]);
}

function answer(text) {
  if (text.startsWith('echo ')) return record('ok', Buffer.from(text.slice(5)));
  if (text.startsWith('deaf')) {
    process.stdin.pause();
    return null;
  }
  switch (text) {
    case 'kill':
      process.kill(process.pid, 'SIGKILL');
      return null;
    case 'stop':
      process.kill(process.pid, 'SIGSTOP');
      return record('ok', Buffer.from('continued'));
    case 'garbage':
      return Buffer.from('something else\n');
    case 'extra':
      return Buffer.concat([record('ok', Buffer.from('answer')), Buffer.from('more')]);
    case 'error':
      return record('error', Buffer.from('it went wrong'));
    case 'invalid':
      return record('ok', Buffer.from([0x61, 0xff, 0xfe]));
    case 'slowly': {
      const whole = record('ok', Buffer.from('in pieces'));
      process.stdout.write(whole.subarray(0, 3));
      setTimeout(() => process.stdout.write(whole.subarray(3, 8)), 100);
      setTimeout(() => process.stdout.write(whole.subarray(8)), 200);
      return null;
    }
    default:
      return record('ok', Buffer.from(text));
  }
}

const how = path.basename(process.argv[3] ?? '');
if (how === 'quits') process.exit(1);
if (how === 'mute') {
  process.stdin.resume();
} else {
  process.stdout.write(how === 'chatty' ? 'ready\nhello' : 'ready\n');
  let buffered = Buffer.alloc(0);
  process.stdin.on('data', (chunk) => {
    buffered = Buffer.concat([buffered, chunk]);
    for (;;) {
      const newline = buffered.indexOf(0x0a);
      if (newline < 0) return;
      const size = Number(buffered.subarray(0, newline).toString('latin1'));
      if (buffered.length < newline + 1 + size) return;
      const text = buffered.subarray(newline + 1, newline + 1 + size).toString('utf8');
      buffered = buffered.subarray(newline + 1 + size);
      const reply = answer(text);
      if (reply) process.stdout.write(reply);
    }
  });
  process.stdin.on('end', () => process.exit(0));
}
