'use strict';
// Runs the sentence engine (the translation engine built as WebAssembly) for one translation
// direction and answers translation requests over standard input and output.
//
//   node sentence_engine.cjs ENGINE_DIR MODEL_DIR
//
// ENGINE_DIR holds bergamot-translator-worker.js (the engine's Emscripten glue) and
// bergamot-translator-worker.wasm. MODEL_DIR holds the direction's files; the role of each comes
// from the start of its name: "model." (the model), "vocab." (one vocabulary for both sides) or
// "srcvocab." and "trgvocab.", and optionally "lex." (a binary shortlist). Names starting with a
// dot are ignored; two files for one role are an error.
//
// Protocol, all counts in bytes:
//   - once the model is loaded and has translated a first word: "ready\n";
//   - a failure before that: "error <n>\n" and n bytes of message, then exit status 1;
//   - each request: "<n>\n" and n bytes of UTF-8 text;
//   - each answer, one per request and in order: "ok <n>\n" and n bytes of translation, or
//     "error <n>\n" and n bytes of message;
//   - after an engine failure (an abort inside it, a thrown error) or a malformed request the
//     error answer is the last thing written and the exit status is 1, since the engine's state
//     can no longer be trusted; at the end of input the exit status is 0.
// Nothing else goes to standard output, and nothing to standard error.
//
// A request is translated line by line: line breaks (\n, \r\n, \r), empty and blank lines, and
// each line's leading and trailing white space come back exactly as they were. Each line is cut
// into sentences here, and all sentences of the request go to the engine in one call, each as
// a segment of its own: the models learnt from single sentences, and given several in one
// segment they may leave some out.
//
// When no request is pending the process sleeps in a read of standard input: no timers.

const fs = require('node:fs');
const path = require('node:path');

// Node's own warnings would go to standard error.
process.removeAllListeners('warning');
process.noDeprecation = true;

// V8 compiles the engine's code quickly at first and recompiles each function with its
// optimising compiler once it has run for a while. The default threshold leaves the first
// dozen or so sentences after start two to three times slower than later ones; at this one
// the recompiling happens during the first sentence, in background threads. (The flag exists
// in Node 18 and 20; V8 reports an unknown flag on standard error.)
require('node:v8').setFlagsFromString('--wasm-tiering-budget=200000');

const kMaxRequestBytes = 1 << 20;

// How the engine runs: greedy decoding, int8 products with the model's activation multipliers,
// and each input string taken as one sentence ("sentence"). Its own splitter, without a list of
// abbreviations, cuts English after "Dr." and never cuts Chinese, whose sentences are not
// followed by spaces; the splitting below does both.
const kEngineConfig = [
  'beam-size: 1',
  'normalize: 1.0',
  'word-penalty: 0',
  'cpu-threads: 0',
  'gemm-precision: int8shiftAlphaAll',
  'skip-cost: true',
  'alignment: soft',
  'quiet: true',
  'quiet-translation: true',
  'max-length-break: 128',
  'mini-batch-words: 1024',
  'workspace: 128',
  'max-length-factor: 2.0',
  'ssplit-mode: sentence',
  '',
].join('\n');

// The engine imports its int8 matrix products under these names and exports portable versions
// of them itself.
const kGemmFallbacks = {
  int8_prepare_a: 'int8PrepareAFallback',
  int8_prepare_b: 'int8PrepareBFallback',
  int8_prepare_b_from_transposed: 'int8PrepareBFromTransposedFallback',
  int8_prepare_b_from_quantized_transposed: 'int8PrepareBFromQuantizedTransposedFallback',
  int8_prepare_bias: 'int8PrepareBiasFallback',
  int8_multiply_and_add_bias: 'int8MultiplyAndAddBiasFallback',
  int8_select_columns_of_b: 'int8SelectColumnsOfBFallback',
};

function writeRecord(kind, text) {
  const body = Buffer.from(text, 'utf8');
  process.stdout.write(Buffer.concat([Buffer.from(`${kind} ${body.length}\n`), body]));
}

function fail(message) {
  writeRecord('error', message);
  process.exit(1);
}

// The engine's last words: what it printed just before failing says what was wrong (a missing
// parameter, a shape mismatch). Kept short and only ever sent inside an error answer.
let engineOutput = '';

function noteEngineOutput(text) {
  engineOutput = (engineOutput + text + '\n').slice(-600);
}

function describe(error) {
  const what = error instanceof Error ? `${error.name}: ${error.message}` : String(error);
  const said = engineOutput.trim();
  engineOutput = '';
  return said === '' ? what : `${what}\n${said}`;
}

// The direction's files by role, from their names.
function modelFiles(dir) {
  const roles = {model: [], vocab: [], srcvocab: [], trgvocab: [], lex: []};
  for (const name of fs.readdirSync(dir)) {
    if (name.startsWith('.')) continue;
    const role = name.slice(0, name.indexOf('.'));
    if (name.includes('.') && Object.hasOwn(roles, role)) roles[role].push(path.join(dir, name));
  }
  for (const [role, found] of Object.entries(roles)) {
    if (found.length > 1) throw new Error(`${dir}: more than one ${role} file`);
  }
  if (roles.model.length === 0) throw new Error(`${dir}: no model file`);
  const vocabs = `${roles.vocab.length}${roles.srcvocab.length}${roles.trgvocab.length}`;
  const shared = vocabs === '100';
  if (!shared && vocabs !== '011') {
    throw new Error(`${dir}: needs either a vocab file or both srcvocab and trgvocab files`);
  }
  return {
    model: roles.model[0],
    vocabs: shared ? roles.vocab : [roles.srcvocab[0], roles.trgvocab[0]],
    shortlist: roles.lex[0],
  };
}

// Starts the engine's runtime; resolves to its module once it can be called.
function startEngine(engineDir) {
  const glue = fs.readFileSync(path.join(engineDir, 'bergamot-translator-worker.js'), 'utf8');
  const wasm = fs.readFileSync(path.join(engineDir, 'bergamot-translator-worker.wasm'));
  return new Promise((resolve, reject) => {
    const runtime = {
      print: noteEngineOutput,
      printErr: noteEngineOutput,
      instantiateWasm(imports, accept) {
        const gemm = {};
        for (const [name, fallback] of Object.entries(kGemmFallbacks)) {
          gemm[name] = (...args) => runtime.asm[fallback](...args);
        }
        WebAssembly.instantiate(wasm, {...imports, wasm_gemm: gemm})
            .then(({instance}) => accept(instance))
            .catch(reject);
        return {};
      },
      onRuntimeInitialized: () => resolve(runtime),
      onAbort: (what) => reject(new Error(`engine aborted: ${what}`)),
    };
    // The glue declares `var Module` and keeps the object it finds under that name. The
    // standard Web Crypto object serves its random numbers on every Node version.
    new Function('Module', 'crypto', glue)(runtime, require('node:crypto').webcrypto);
  });
}

// Reads a file straight into engine memory with the given alignment.
function readAligned(engine, file, alignment) {
  const fd = fs.openSync(file, 'r');
  try {
    const size = fs.fstatSync(fd).size;
    const memory = new engine.AlignedMemory(size, alignment);
    const view = memory.getByteArrayView();
    for (let done = 0; done < size;) {
      const read = fs.readSync(fd, view, done, size - done, null);
      if (read === 0) throw new Error(`${file}: shorter than its size`);
      done += read;
    }
    return memory;
  } finally {
    fs.closeSync(fd);
  }
}

// The engine trusts the sizes and indices inside its files; a file that is cut short or made
// for another vocabulary would make it read or write past the data, silently. These checks
// cover what the engine does not.
function bytesOf(memory) {
  const view = memory.getByteArrayView();  // a fresh view: engine memory may have grown
  return new DataView(view.buffer, view.byteOffset, view.byteLength);
}

function uint64(data, offset) {
  if (offset + 8 > data.byteLength) throw new Error('ends inside its header');
  const value = data.getBigUint64(offset, true);
  if (value > BigInt(Number.MAX_SAFE_INTEGER)) throw new Error('has an impossible size');
  return Number(value);
}

// Model: version, item count, per item (name length, type, rank, payload size), names, shapes,
// a padding count and padding, payloads.
function checkModel(memory) {
  const data = bytesOf(memory);
  if (uint64(data, 0) !== 1) throw new Error('is not a model file of version 1');
  const count = uint64(data, 8);
  let needed = 16 + 32 * count;
  let payloads = 0;
  for (let i = 0; i < count; ++i) {
    const header = 16 + 32 * i;
    needed += uint64(data, header) + 4 * uint64(data, header + 16);
    payloads += uint64(data, header + 24);
  }
  needed += 8 + uint64(data, needed) + payloads;
  if (needed > data.byteLength) {
    throw new Error(`is ${data.byteLength} bytes, its header describes ${needed}`);
  }
}

// Pieces of a SentencePiece model: the repeated field 1 of its top-level protocol buffer.
function countPieces(memory) {
  const data = bytesOf(memory);
  let offset = 0;
  const varint = () => {
    let value = 0;
    for (let shift = 0; shift < 53; shift += 7) {
      if (offset >= data.byteLength) throw new Error('ends inside a field');
      const byte = data.getUint8(offset++);
      value += (byte & 0x7f) * 2 ** shift;
      if (byte < 0x80) return value;
    }
    throw new Error('has an impossible field');
  };
  let pieces = 0;
  while (offset < data.byteLength) {
    const key = varint();
    const wireType = key % 8;
    if (wireType === 0) varint();
    else if (wireType === 1) offset += 8;
    else if (wireType === 5) offset += 4;
    else if (wireType === 2) {
      const length = varint();  // read before offset is, since reading it moves offset
      offset += length;
    }
    else throw new Error('is not a vocabulary');
    if (key === 0x0a) ++pieces;
  }
  if (offset !== data.byteLength || pieces === 0) throw new Error('is not a vocabulary');
  return pieces;
}

// Shortlist: magic, checksum, two limits, the sizes of the offset table (one per source piece,
// and one more) and of the target list, then both. The engine's own checksum check does not
// match files made on other machines, so the structure is checked instead.
function checkShortlist(memory, sourcePieces, targetPieces) {
  const data = bytesOf(memory);
  if (data.byteLength < 48 || data.getBigUint64(0, true) !== 0xF11A48D5013417F5n) {
    throw new Error('is not a binary shortlist');
  }
  const offsets = uint64(data, 32);
  const targets = uint64(data, 40);
  if (48 + 8 * offsets + 4 * targets !== data.byteLength) {
    throw new Error('has a size that does not match its header');
  }
  if (offsets < sourcePieces + 1) throw new Error('lists fewer source pieces than the vocabulary');
  let previous = 0;
  for (let i = 0; i < offsets; ++i) {
    const offset = uint64(data, 48 + 8 * i);
    if (offset < previous || offset > targets) throw new Error('has offsets out of order');
    previous = offset;
  }
  if (previous !== targets) throw new Error('has offsets out of order');
  const start = 48 + 8 * offsets;
  for (let i = 0; i < targets; ++i) {
    if (data.getUint32(start + 4 * i, true) >= targetPieces) {
      throw new Error('lists target pieces the vocabulary does not have');
    }
  }
}

function checked(file, check) {
  try {
    return check();
  } catch (error) {
    throw new Error(`${file} ${error.message}`);
  }
}

function loadModel(engine, files) {
  const memories = [];
  const read = (file, alignment) => {
    const memory = readAligned(engine, file, alignment);
    memories.push(memory);
    return memory;
  };
  const vocabs = new engine.AlignedMemoryList();
  try {
    const model = read(files.model, 256);
    checked(files.model, () => checkModel(model));
    const vocabMemories = files.vocabs.map((file) => read(file, 64));
    const pieces =
        vocabMemories.map((memory, i) => checked(files.vocabs[i], () => countPieces(memory)));
    let shortlist;
    if (files.shortlist) {
      shortlist = read(files.shortlist, 64);
      const [sourcePieces, targetPieces] = [pieces[0], pieces[pieces.length - 1]];
      checked(files.shortlist, () => checkShortlist(shortlist, sourcePieces, targetPieces));
    } else {
      shortlist = new engine.AlignedMemory(0, 64);
      memories.push(shortlist);
    }
    for (const memory of vocabMemories) vocabs.push_back(memory);
    return new engine.TranslationModel(kEngineConfig, model, shortlist, vocabs, null);
  } finally {
    // The model took the contents; these are empty shells now.
    for (const memory of memories) memory.delete();
    vocabs.delete();
  }
}

// Line breaks and blank lines stay as they are; so does the white space around each line.
const kLineBreak = /(\r\n|\n|\r)/;
const kEdges = /^(\s*)([\s\S]*?)(\s*)$/;

function splitLines(text) {
  const parts = text.split(kLineBreak);  // lines at even indices, their breaks at odd ones
  const lines = [];
  for (let i = 0; i < parts.length; i += 2) {
    const [, lead, core, trail] = kEdges.exec(parts[i]);
    lines.push({lead, core, trail, lineBreak: parts[i + 1] ?? ''});
  }
  return lines;
}

// Characters of scripts written without spaces between words or sentences: Han, kana, Hangul,
// CJK punctuation and full-width forms.
const kClose = '\\u2e80-\\u2fdf\\u3000-\\u30ff\\u3100-\\u31ff\\u3400-\\u4dbf\\u4e00-\\u9fff' +
    '\\uac00-\\ud7af\\uf900-\\ufaff\\ufe30-\\ufe4f\\uff00-\\uffef\\u{20000}-\\u{3134f}';
const kCloseScript = new RegExp(`[${kClose}]`, 'u');

// A sentence ends with a run of terminators and any closing quotes or brackets. After a Chinese
// terminator the next sentence may start at once; after a Latin one it must be apart and start
// like a sentence (a capital, a digit, an opening quote or bracket, or a Chinese character).
const kSentenceEnd = new RegExp(
    `([。！？]+[”’」』）》】"')\\]]*)(\\s*)(?=\\S)|` +
        `([.!?]+[”’」』）》】"')\\]]*)(?:(\\s+)(?=[\\p{Lu}\\p{Nd}“‘「『（《【"'(\\[${kClose}])|` +
        `(?=[${kClose}]))`,
    'gu');
// Words after which a full stop does not end the sentence: titles, common abbreviations, and
// single letters (initials).
const kAbbreviation = new RegExp(
    '(?:^|[\\s(])(?:Mr|Mrs|Ms|Dr|Prof|St|Sr|Jr|Mt|No|Nos|Fig|Figs|Vol|Ch|Sec|Inc|Ltd|Co|Corp|' +
    'vs|etc|approx|cf|ca|e\\.g|i\\.e|[A-Za-z])$');

// Cuts a line (no line breaks, no white space at its ends) into sentences and the white space
// between them: [{text, gap}], where gap precedes text.
function splitSentences(line) {
  const sentences = [];
  let start = 0;
  let gap = '';
  for (const match of line.matchAll(kSentenceEnd)) {
    const latin = match[3] !== undefined;
    const end = match.index + (latin ? match[3] : match[1]).length;
    const space = (latin ? match[4] : match[2]) ?? '';
    if (latin && match[3] === '.' && kAbbreviation.test(line.slice(start, match.index))) continue;
    sentences.push({text: line.slice(start, end), gap});
    gap = space;
    start = end + space.length;
  }
  sentences.push({text: line.slice(start), gap});
  return sentences;
}

// The text between two translated sentences. The source's spacing is right only when both
// languages space sentences alike: Chinese sentences follow each other directly, English ones
// take a space.
function joinGap(sourceGap, before, after) {
  const closeBefore = kCloseScript.test(before.slice(-2));
  const closeAfter = kCloseScript.test(after.slice(0, 2));
  if (closeBefore && closeAfter) return '';
  if (!closeBefore && !closeAfter && sourceGap === '') return ' ';
  return sourceGap;
}

function slice(bytes, range) {
  return bytes.subarray(range.begin, range.end).toString('utf8');
}

// One sentence's translation. The engine cuts a sentence that is too long for it into pieces
// and repeats the source's spacing between their translations; the pieces are joined here.
function sentenceTranslation(response, sentence) {
  const count = response.size();
  if (count === 0) return sentence;  // nothing the engine could read: keep it
  const target = Buffer.from(response.getTranslatedText(), 'utf8');
  let text = '';
  for (let i = 0; i < count; ++i) {
    const piece = slice(target, response.getTranslatedSentence(i)).trim();
    text += i === 0 ? piece : joinGap('', text, piece) + piece;
  }
  return text;
}

function translate(engine, service, model, text) {
  const lines = splitLines(text);
  const sentences = [];
  for (const line of lines) {
    line.sentences = line.core === '' ? [] : splitSentences(line.core);
    sentences.push(...line.sentences);
  }
  if (sentences.length > 0) {
    const input = new engine.VectorString();
    const options = new engine.VectorResponseOptions();
    let responses = null;
    try {
      for (const sentence of sentences) {
        input.push_back(sentence.text);
        options.push_back({qualityScores: false, alignment: false, html: false});
      }
      responses = service.translate(model, input, options);
      sentences.forEach((sentence, i) => {
        const response = responses.get(i);
        try {
          sentence.translation = sentenceTranslation(response, sentence.text);
        } finally {
          response.delete();
        }
      });
    } finally {
      for (const handle of [input, options, responses]) handle?.delete();
    }
  }
  return lines
      .map((line) => {
        let core = '';
        for (const {gap, translation} of line.sentences) {
          core += core === '' ? translation : joinGap(gap, core, translation) + translation;
        }
        return line.lead + core + line.trail + line.lineBreak;
      })
      .join('');
}

// Reads "<n>\n" + n bytes requests from standard input and hands each to `handle`.
function serve(handle) {
  const decoder = new TextDecoder('utf-8', {fatal: true});
  let buffered = Buffer.alloc(0);
  process.stdin.on('data', (chunk) => {
    buffered = buffered.length === 0 ? chunk : Buffer.concat([buffered, chunk]);
    for (;;) {
      const newline = buffered.indexOf(0x0a);
      if (newline < 0) {
        if (buffered.length > 16) fail('malformed request header');
        return;
      }
      const header = buffered.subarray(0, newline).toString('latin1');
      if (!/^\d{1,9}$/.test(header)) fail('malformed request header');
      const size = Number(header);
      if (size > kMaxRequestBytes) fail(`request of ${size} bytes is over the limit`);
      if (buffered.length < newline + 1 + size) return;
      const body = buffered.subarray(newline + 1, newline + 1 + size);
      buffered = buffered.subarray(newline + 1 + size);
      let text;
      try {
        text = decoder.decode(body);
      } catch {
        writeRecord('error', 'request is not UTF-8');
        continue;
      }
      handle(text);
    }
  });
  process.stdin.on('end', () => process.exit(0));
}

async function main() {
  if (process.argv.length !== 4) fail('usage: sentence_engine.cjs ENGINE_DIR MODEL_DIR');
  const [engineDir, modelDir] = process.argv.slice(2);
  let engine;
  let service;
  let model;
  try {
    const files = modelFiles(modelDir);
    engine = await startEngine(engineDir);
    service = new engine.BlockingService({cacheSize: 0});
    model = loadModel(engine, files);
    // The engine reads and prepares the weights on the first translation: do it now, so that
    // "ready" means a model that works, and a damaged one fails here.
    translate(engine, service, model, 'a');
  } catch (error) {
    fail(`cannot load the model: ${describe(error)}`);
  }
  process.stdout.write('ready\n');
  serve((text) => {
    let translation;
    try {
      translation = translate(engine, service, model, text);
    } catch (error) {
      fail(`engine failure: ${describe(error)}`);
    }
    writeRecord('ok', translation);
  });
}

if (require.main === module) {
  process.on('uncaughtException', (error) => fail(`engine failure: ${describe(error)}`));
  process.on('unhandledRejection', (error) => fail(`engine failure: ${describe(error)}`));
  main();
} else {
  module.exports = {modelFiles, startEngine, loadModel, translate, splitLines, splitSentences};
}
