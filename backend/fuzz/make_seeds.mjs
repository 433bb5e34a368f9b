// node backend/fuzz/make_seeds.mjs FOLDER: writes the backend fuzzer's seeds
// into FOLDER, one file per case. The fuzz target reads every input both as
// the shell's request stream and as an engine's standard error, so a seed is
// either request lines or status lines. Fuzz with the seeds (run.sh adds
// corpus/ to its working folder), then merge what adds coverage into corpus/,
// which the unit tests replay:
//   node backend/fuzz/make_seeds.mjs build-fuzz/backend-fuzz-corpus
//   backend/fuzz/run.sh 600
//   cd build-fuzz && backend/fuzz/backend_input_fuzzer -merge=1 -max_len=65536 \
//       ../backend/fuzz/corpus backend-fuzz-corpus
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';

const folder = process.argv[2];
if (!folder) {
    console.error('Usage: node backend/fuzz/make_seeds.mjs FOLDER');
    process.exit(2);
}
mkdirSync(folder, { recursive: true });

let written = 0;
function seed(name, content) {
    writeFileSync(join(folder, `seed-${name}`), typeof content === 'string' ? Buffer.from(content, 'utf8') : content);
    ++written;
}
const line = (value) => JSON.stringify(value) + '\n';
const request = (command, args, id = 1) => (args === undefined ? { id, command } : { id, command, args });

// Values of every JSON type, for arguments that want another one.
const wrongTypes = {
    null: null,
    true: true,
    false: false,
    integer: 5,
    negative: -1,
    big: 18446744073709551615,
    float: 1.5,
    whole_float: 2.0e300,
    string: 'x',
    empty_string: '',
    array: [],
    strings: ['a'],
    mixed: ['a', 1],
    object: {},
    map: { m1: 5 },
};

// The settings the backend stores, from the settings case table the backend's
// and the page's tests share; every key below gets wrong types and values.
const goodSettings = JSON.parse(
    readFileSync(new URL('../../tests/data/settings_cases.json', import.meta.url), 'utf8')).defaults;
const wrongSettingValues = {
    source: ['Embedded', 'embedded ', '', 'typed'],
    start: ['01:00:00:000', '', 'é'.repeat(11), 'é'.repeat(12), '01:00:00;00'],
    offset: ['-00:00:01:00', '0'.repeat(12), 'é'.repeat(11)],
    mode: ['dropframe', 'DROP', ''],
    direction: ['minus', 'Add'],
    timezone: ['+14:01', '-12:01', '+14:00', '-12:00', '+05:59', '+05:60', '+5:30', '+0530', 'Z', '-00:00', '+1a:00',
        'UTC', 'Europe/Berlin', '+05:30 '],
    reelSource: ['Card', 'reel', ''],
    existing: ['overwrite', 'Skip'],
    prefix: ['a'.repeat(100), 'a'.repeat(101), 'é'.repeat(100), 'é'.repeat(101), '😀'.repeat(100), 'TC/', 'T\u0000C', ''],
    destination: ['', 'relative/folder', '/' + 'd'.repeat(4095), '/' + 'd'.repeat(4096), '/out\u0000', '//'],
    reel: ['A'.repeat(32), 'A'.repeat(33), 'é'.repeat(16), 'é'.repeat(17), 'A\tB', 'A\u007fB', 'A\u0000B', '\u0085', ' '],
    suffix: ['', '_'.repeat(16), '_'.repeat(17), 'é'.repeat(8), 'é'.repeat(9), '/', 'a\u0000', '.', '..'],
};
const switches = ['copy', 'append', 'retain', 'rename', 'number', 'recursive', 'continuous'];

function requestSeeds() {
    const plain = ['load_settings', 'cancel', 'busy', 'third_party_notices', 'shutdown'];
    for (const command of plain) {
        seed(`request-${command}`, line(request(command)) + line(request(command, {}, 2)));
        seed(`request-${command}-odd-args`, line(request(command, null)) + line(request(command, [1], 2)) +
            line(request(command, 'x', 3)));
    }
    // Valid requests with every argument, then each argument of the wrong type.
    const valid = {
        save_settings: { value: goodSettings },
        import_movies: { paths: ['/movies/A001.mov', '/movies/card/'], recursive: true },
        process_movies: {
            ids: ['m1', 'm2'],
            timecodes: { m1: '01:00:00:00', m2: '01:00:10;02' },
            reels: { m1: 'A001', m2: '' },
            options: goodSettings,
        },
        reveal: { file: '/movies/Velmora Output/A001_TC.mov' },
        restore: { id: '4242-1733740000000000000-1' },
        save_report: { path: '/tmp/Velmora report.csv', text: 'Status,Message\r\ndone,\r\n', replace: false },
        outputs_exist: { paths: ['/movies/Velmora Output/A001_TC.mov', '', '/x\u0000y'] },
        remove_backups: { ids: ['m1', 'm1', 'unknown'] },
    };
    for (const [command, args] of Object.entries(valid)) {
        seed(`request-${command}`, line(request(command, args)));
        for (const key of Object.keys(args)) {
            let text = '';
            let id = 1;
            for (const wrong of Object.values(wrongTypes)) text += line(request(command, { ...args, [key]: wrong }, id++));
            const { [key]: _, ...without } = args;
            text += line(request(command, without, id++));
            seed(`request-${command}-${key}-types`, text);
        }
    }
    // Arguments of the right type whose values the handlers refuse.
    const wrongValues = {
        'import_movies-paths': { paths: ['', 'relative.mov', '/a/\u0000b.mov', '/notes.txt', '/' + 'p'.repeat(5000)] },
        'import_movies-paths-empty': { paths: [] },
        'process_movies-ids': { ids: ['m1', 'm1'], timecodes: { m1: '01:00:00:00' } },
        'process_movies-timecodes': {
            ids: ['m1', 'm2', 'm3', 'm4'],
            timecodes: { m1: '24:00:00:00', m2: '01:00:00:30', m3: '01:00:00\u000000', m4: '' },
        },
        'process_movies-missing-timecode': { ids: ['m1', 'm2'], timecodes: { m1: '01:00:00:00' } },
        'process_movies-reels': {
            ids: ['m1', 'm2', 'm3'],
            timecodes: { m1: '01:00:00:00', m2: '01:00:00:00', m3: '01:00:00:00' },
            reels: { m1: 'R'.repeat(33), m2: 'A\u0000', m3: 'A\nB', m9: 'unasked' },
        },
        'process_movies-options': { ids: ['m1'], timecodes: { m1: '01:00:00:00' }, options: 'fast' },
        'reveal-file': { file: '' },
        'reveal-relative': { file: 'A001_TC.mov' },
        'restore-id': { id: '' },
        'save_report-relative': { path: 'report.csv', text: '', replace: true },
        'save_report-root': { path: '/', text: '' },
        'save_report-dot': { path: '/tmp/..', text: '' },
        'save_report-nul': { path: '/tmp/r\u0000.csv', text: 'a' },
        'save_report-replace': { path: '/tmp/r.csv', text: 'a', replace: 'yes' },
        'remove_backups-ids': { ids: [] },
    };
    for (const [name, args] of Object.entries(wrongValues)) {
        seed(`request-${name}-values`, line(request(name.split('-')[0], args)));
    }
}

function envelopeSeeds() {
    const ids = [0, -7, 9007199254740993, 1.25, 'a', '', null, [1], { n: 1 }, true];
    seed('envelope-ids', ids.map((id, i) => line({ id, command: 'busy', seq: i })).join(''));
    seed('envelope-no-id', line({ command: 'busy' }));
    seed('envelope-commands', [null, 5, '', 'BUSY', 'busy ', 'unknown_command', ['busy'], { busy: 1 }]
        .map((command) => line({ id: 1, command })).join(''));
    seed('envelope-not-objects', '[]\n"busy"\n5\nnull\ntrue\n{}\n');
    seed('envelope-crlf-and-blank', '{"id":1,"command":"busy"}\r\n\r\n\n   \n{"id":2,"command":"cancel"}\r\n');
    seed('envelope-last-line-unended', '{"id":1,"command":"busy"}\n{"id":2,"command":"cancel"}');
    seed('envelope-lone-cr', '{"id":1,"command":"busy"}\r{"id":2}\n\r');
    seed('envelope-spaced', '  { "id" : 1 ,\t"command" : "busy" , "args" : { } }  \n');
    seed('envelope-duplicate-keys', '{"id":1,"command":"busy","command":"cancel","args":{"paths":["/a"],"paths":5}}\n');
    seed('envelope-bom', Buffer.concat([Buffer.from([0xef, 0xbb, 0xbf]), Buffer.from(line(request('busy')))]));
    seed('envelope-nul', Buffer.from('{"id":1,"command":"bu\\u0000sy"}\n{"id":2,"command":"busy"}\n', 'utf8'));
    seed('envelope-raw-nul', Buffer.concat([Buffer.from('{"id":1,'), Buffer.from([0]), Buffer.from('}\n')]));
    seed('envelope-bad-utf8-after', Buffer.concat([Buffer.from(line(request('busy'))), Buffer.from([0xc0, 0x80, 0x0a])]));
    seed('envelope-truncated', '{"id":1,"command":"import_movies","args":{"paths":["/mov');
    seed('envelope-syntax', '{"id":1,}\n{"id":1 "command":"busy"}\n{\'id\':1}\n{"id":01}\n{"id":1e}\n{"id":-}\n' +
        '{"id":tru}\n{"id":"\\x"}\n{"id":"\\u12"}\n{"id":"a\tb"}\n]\n');
    seed('envelope-numbers', '[1e400,-1e400,1e-400,123456789012345678901234567890,-9223372036854775809,' +
        '0.1e1,1E+2,-0,0e0]\n{"id":1e400,"command":"busy"}\n');
    seed('envelope-escapes', '{"id":"\\ud83d\\ude00\\ud800\\udc00\\u0000\\b\\f\\n\\r\\t\\/\\\\\\"","command":"busy"}\n' +
        '{"id":"\\ud800","command":"busy"}\n{"id":"\\udc00x","command":"busy"}\n');
    seed('envelope-unicode', line({ id: 'é😀\u{10ffff}\u2028', command: 'reveal', args: { file: '/é/😀.mov' } }));
    seed('envelope-nesting-at-limit', '['.repeat(512) + ']'.repeat(512) + '\n' + '{"a":'.repeat(511) + '1' + '}'.repeat(511) + '\n');
    seed('envelope-nesting-over-limit', '['.repeat(513) + ']'.repeat(513) + '\n');
    seed('envelope-brackets-in-strings', line({ id: 1, command: 'busy', args: { text: '[[[{{{\\"]]]' } }));
}

function settingsSeeds() {
    const save = (value, id = 1) => line(request('save_settings', { value }, id));
    seed('settings-good', save(goodSettings));
    seed('settings-good-all-choices', ['creation', 'modification', 'custom'].map((source, i) => save({
        ...goodSettings, source, mode: ['non-drop', 'drop', 'auto'][i], direction: i ? 'subtract' : 'add',
        timezone: ['local', 'utc', '-07:00'][i], reelSource: ['card', 'folder', 'custom'][i], existing: 'number',
        copy: i !== 0, append: i === 2, rename: true, number: true, destination: '/Export', reel: 'A001',
    }, i + 1)).join(''));
    // As the backend writes settings.json: two-space indentation, keys in order.
    const pretty = JSON.stringify(goodSettings, null, 2);
    seed('settings-file-pretty', pretty);
    seed('settings-file-compact', JSON.stringify(goodSettings) + '\n');
    seed('settings-file-older', save({ source: 'creation', timezone: 'local', rename: true, prefix: 'TC_' }));
    seed('settings-file-empty', save({}) + '\n');
    const compact = save(goodSettings);
    for (const cut of [1, 40, 41, compact.indexOf('"prefix"') + 4, compact.indexOf('TC_') + 1, compact.length - 3]) {
        seed(`settings-truncated-${cut}`, compact.slice(0, cut));
    }
    seed('settings-truncated-pretty', pretty.slice(0, Math.floor(pretty.length / 2)));
    seed('settings-truncated-escape', '{"id":1,"command":"save_settings","args":{"value":{"reel":"A\\u00');
    seed('settings-truncated-utf8', Buffer.concat([Buffer.from('{"id":1,"command":"save_settings","args":{"value":' +
        '{"reel":"A'), Buffer.from([0xc3])]));
    for (const key of Object.keys(goodSettings)) {
        let text = '';
        let id = 1;
        for (const wrong of Object.values(wrongTypes)) text += save({ ...goodSettings, [key]: wrong }, id++);
        seed(`settings-${key}-types`, text);
        const values = wrongSettingValues[key];
        if (values) seed(`settings-${key}-values`, values.map((v) => save({ ...goodSettings, [key]: v }, id++)).join(''));
    }
    seed('settings-switches-as-text', save(Object.fromEntries(switches.map((key) => [key, 'true']))));
    seed('settings-switches-as-numbers', save(Object.fromEntries(switches.map((key, i) => [key, i % 2]))));
    seed('settings-unknown-members', save({ ...goodSettings, theme: 'dark', Source: 'custom', '': 1 }));
    seed('settings-not-objects', [[], 'embedded', 1, null, true, [goodSettings]].map((v, i) => save(v, i)).join(''));
}

// An engine's standard error: progress as the engine writes it, and failures.
function statusSeeds() {
    let progress = '';
    for (let k = 1; k <= 90; ++k) progress += `progress=${k / 100}\n`;
    seed('status-progress-run', progress);
    seed('status-progress-then-failure', 'progress=0.01\nprogress=0.02\nSource changed or was truncated during copying\n');
    seed('status-progress-forms', ['0', '1', '0.5', '.5', '5.', '+0.25', '-0', '1e-2', '1E2', '25e-2', '1e+0', '1e',
        '1e+', 'e1', '.', '', ' 0.5', '0.5 ', '0x1p-1', '0,5', '1/2', 'inf', '-INF', 'Infinity', '+infinity',
        'NaN', '-nan', 'nan(1)', 'infinit', '1e999999999999', '1e-999999999999', '0.' + '0'.repeat(400) + '1',
        '1' + '0'.repeat(400), '0'.repeat(400) + '.5', '00000.000e0000'].map((v) => `progress=${v}\n`).join(''));
    seed('status-progress-near-prefix', 'progress\nprogress:0.5\nPROGRESS=0.5\nprogress==0.5\n progress=0.5\n' +
        'progress=0.5\r\nprogress=0.6\r\rprogress=0.7\n');
    const failures = ['Unsupported frame rate', 'Fragmented movies are not supported yet',
        'Trimmed or complex video edit lists are not supported yet', 'Invalid timecode string', 'Invalid reel name',
        'Movie metadata exceeds the 128 MB safety limit', 'Input is not a regular file',
        'No such file or directory (os error 2)', 'Permission denied (os error 13)',
        'Verification failed. The original is unchanged.', 'Not a movie stamped in place by Velmora',
        'Usage: velmora-engine probe INPUT | write INPUT OUTPUT HH:MM:SS:FF | stamp INPUT HH:MM:SS:FF | ' +
        'unstamp INPUT | --version'];
    failures.forEach((message, i) => seed(`status-failure-${i}`, message + '\n'));
    seed('status-failure-unended', 'progress=0.3\nWritten timecode failed verification');
    seed('status-failure-crlf', 'Unsupported frame rate\r\n');
    seed('status-failure-several-lines', 'warning: café\n\n  Invalid sample size table  \n\t\n');
    seed('status-failure-long', ('x'.repeat(79) + '\n').repeat(200));
    seed('status-failure-long-line', 'progress=0.1\n' + 'é'.repeat(20000) + '\nprogress=0.2\n');
    seed('status-utf8-edges', Buffer.concat([Buffer.from('ok \u{7f}\u{80}\u{7ff}\u{800}\u{ffff}\u{10000}\u{10ffff}\n'),
        Buffer.from('progress=0.5\n')]));
    const invalid = { overlong: [0xc0, 0xaf], surrogate: [0xed, 0xa0, 0x80], above_max: [0xf4, 0x90, 0x80, 0x80],
        stray_continuation: [0x80], cut_at_end: [0xe2, 0x82], lone_lead: [0xf0, 0x0a], ff: [0xff] };
    for (const [name, bytes] of Object.entries(invalid)) {
        seed(`status-invalid-utf8-${name}`, Buffer.concat([Buffer.from('progress=0.4\nfailed: '), Buffer.from(bytes),
            Buffer.from('\n')]));
    }
}

// What the engine prints on standard output and the backend sends the shell:
// JSON lines that reach the request reader too.
function reportSeeds() {
    const stream = (index, type, codec, tag) => ({ index, trackId: index + 1, type, codec, tag, attachedPicture: false });
    const report = {
        engine: 'velmora-native', rate: '30000/1001', duration: 10.01, timecode: '01:00:00;00', reel: 'A001',
        appended: true, createdUnix: -2082844800, width: 1920, height: 1080, codec: 'hevc', videoIndex: 0,
        streams: [stream(0, 'video', 'hevc', 'hvc1'), stream(1, 'audio', 'aac', 'mp4a'), stream(2, 'data', 'timecode', 'tmcd')],
        measuredRate: '36000/1201', recordedUnix: 1714557600, recordedOffset: '+02:00',
    };
    seed('report-probe', line(report));
    seed('report-probe-plain', line({ engine: 'velmora-native', rate: '25/1', duration: 0.5, timecode: null,
        createdUnix: null, width: 640, height: 480, codec: 'opaque', videoIndex: 0, streams: [] }));
    seed('report-replies', line({ id: 1, result: null }) + line({ error: 'Unknown native command', id: 2 }) +
        line({ id: 3, result: { errors: [{ message: 'Not a movie file or folder.', name: 'a.txt' }], files: [report] } }));
    seed('report-progress-events', [
        { progress: 0, state: 'processing' }, { progress: 0.5, state: 'processing' }, { progress: null, state: 'processing' },
        { backup: null, id: 'm1', index: 0, output: '/o/A001_TC.mov', progress: 1, state: 'done', timecode: '01:00:00:00', total: 2 },
        { error: 'Cancelled.', id: 'm2', index: 1, progress: 0, state: 'error', total: 2 },
    ].map((payload) => line({ event: 'progress', payload })).join(''));
}

requestSeeds();
envelopeSeeds();
settingsSeeds();
statusSeeds();
reportSeeds();
console.log(`${written} seeds in ${folder}`);
