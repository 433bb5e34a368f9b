'use strict';
// A test-only stand-in for the shell and backend behind window.__VELMORA_NATIVE__.
// installFake is serialised into the page by addInitScript, so it must not
// close over anything of this file.

function installFake(config) {
  const calls = [];
  const listeners = new Map();
  const published = new Set();
  const movies = new Map();
  const originals = new Map(); // by id: the record a movie had when it was stamped in place
  const inPlace = new Map(); // by id: {path, size} of the backup this process made, until restored or removed
  let restores = 0;
  let settings = config.settings || null;
  let cancelFlag = false;
  let busy = false;
  let resumeBatch = null;
  let counter = 0;

  const clone = (value) => (value === undefined ? undefined : JSON.parse(JSON.stringify(value)));
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
  const defaults = {
    append: false, continuous: false, copy: true, destination: null, direction: 'add', existing: 'skip', mode: 'auto',
    movieColumnWidth: null, number: false, offset: '00:00:00:00', prefix: 'TC_', recursive: true, reel: '', reelSource: 'none', rename: false,
    retain: true, source: 'embedded', start: '01:00:00:00', suffix: '_TC', timezone: 'camera',
  };

  // Like the shell: a JSON round trip, then every listener with {payload}.
  window.__VELMORA_EVENT__ = (name, payload) => {
    const set = listeners.get(name);
    if (!set) return;
    for (const callback of [...set]) callback({ payload: clone(payload) });
  };
  const emit = (name, payload) => window.__VELMORA_EVENT__(name, payload);

  // Like the backend's store: a path imported again keeps its id, and a file
  // the test touched comes back with its new fields.
  const ids = new Map();
  const touched = new Map();

  function record(path, overrides) {
    const slash = path.lastIndexOf('/');
    if (!ids.has(path)) {
      counter += 1;
      ids.set(path, '4242-1709993100000000000-' + counter);
    }
    return {
      engine: 'velmora-native', rate: '25/1', duration: 12.5, timecode: null, createdUnix: 1709993100,
      width: 1920, height: 1080, codec: 'h264', videoIndex: 0,
      streams: [{ index: 0, trackId: 1, type: 'video', codec: 'h264', tag: 'avc1', attachedPicture: false }],
      creationOrigin: 'Media metadata', created: '2024-03-09T14:05:00.000Z', modified: '2024-03-09T14:05:12.500Z',
      id: ids.get(path), path, name: path.slice(slash + 1), size: 52428800,
      relativeDir: '', ...overrides, ...touched.get(path),
    };
  }

  function importMovies(args) {
    if (!Array.isArray(args.paths) || args.paths.some((p) => typeof p !== 'string')) {
      throw 'invalid type: null, expected a sequence';
    }
    if (busy) throw 'Wait for the current batch to finish.';
    const files = [];
    const errors = [];
    for (const path of args.paths) {
      const entry = (config.library || {})[path];
      if (config.generate && path === config.generate.path) {
        for (let i = 0; i < config.generate.count; i += 1) {
          const name = 'clip' + String(i).padStart(4, '0') + '.mov';
          files.push(record(path + '/' + name, { rate: i % 2 ? '30000/1001' : '25/1',
            timecode: i % 2 ? '01:00:00;00' : '10:00:00:00' }));
        }
      } else if (entry && entry.error) {
        errors.push({ name: path.slice(path.lastIndexOf('/') + 1), message: entry.error });
      } else if (entry) {
        errors.push(...(entry.errors || []));
        for (const item of entry.files) {
          if (item.recursiveOnly && args.recursive !== true) continue;
          files.push(record(item.path, item.fields));
        }
      } else {
        errors.push({ name: path.slice(path.lastIndexOf('/') + 1), message: 'No such file or directory (os error 2)' });
      }
    }
    for (const file of files) movies.set(file.id, file);
    return { files, errors };
  }

  const taken = (path) => published.has(path) || (config.existing || []).includes(path);

  function outputFor(movie, options) {
    const dot = movie.name.lastIndexOf('.');
    const folder = movie.path.slice(0, movie.path.lastIndexOf('/'));
    if (options.copy === false) return movie.path;
    // Cards below a kept destination, as the backend places them.
    const kept = options.destination && options.retain && movie.card
      ? [movie.card, movie.relativeDir].filter(Boolean).join('/') + '/' : '';
    return (options.destination ? options.destination + '/' + kept : folder + '/Velmora Output/') +
      movie.name.slice(0, dot) + '_TC' + movie.name.slice(dot);
  }

  async function processMovies(args) {
    if (busy) throw 'A batch is already running.';
    const ids = args.ids;
    const timecodes = args.timecodes;
    if (!Array.isArray(ids) || !timecodes || typeof timecodes !== 'object') throw 'invalid type: expected a sequence';
    if (ids.some((id) => !movies.has(id))) throw 'Import files before processing.';
    const reels = args.reels === undefined ? {} : args.reels;
    if (!reels || typeof reels !== 'object' || Object.values(reels).some((reel) => typeof reel !== 'string')) {
      throw 'invalid type: expected a map';
    }
    if (new Set(ids).size !== ids.length || ids.some((id) => typeof timecodes[id] !== 'string')) {
      throw 'Invalid file list or timecode settings.';
    }
    busy = true;
    cancelFlag = false;
    const options = args.options || {};
    const results = [];
    const step = config.stepMs || 0;
    for (let index = 0; index < ids.length; index += 1) {
      if (cancelFlag) break;
      const id = ids[index];
      const movie = movies.get(id);
      const context = { id, index, total: ids.length };
      emit('progress', { ...context, state: 'processing', progress: 0 });
      await sleep(step);
      emit('progress', { ...context, state: 'processing', progress: 0.5 });
      if (config.pauseAt === index) await new Promise((resolve) => { resumeBatch = resolve; });
      await sleep(step);
      let result;
      const failure = (config.failures || {})[movie.path];
      if (cancelFlag) result = { error: 'Cancelled.', id, progress: 0, state: 'error' };
      else if (typeof failure === 'string') result = { error: failure, id, progress: 0, state: 'error' };
      else {
        const output = outputFor(movie, options);
        if (options.copy !== false && options.existing !== 'number' && taken(output)) {
          result = { id, message: 'Skipped: the output already exists.', output, progress: 0, state: 'skipped' };
          emit('progress', { ...context, ...result });
          results.push(result);
          continue;
        }
        emit('progress', { ...context, state: 'processing', progress: 1.0 });
        published.add(output);
        // Without a copy the store then holds the stamped file's record.
        const appended = options.copy === false && options.append === true;
        const backup = options.copy === false && !appended ? movie.path + '.velmora-backup-4242-1-' + index : null;
        if (backup !== null) {
          originals.set(id, movie);
          inPlace.set(id, { path: backup, size: movie.size });
        }
        if (appended) movies.set(id, { ...movie, appended: true, timecode: timecodes[id], size: movie.size + 4096 });
        result = { backup, id, output, progress: 1, state: 'done', timecode: timecodes[id] };
        if (appended) result = { appended: true, ...result };
      }
      emit('progress', { ...context, ...result });
      results.push(result);
    }
    busy = false;
    return { cancelled: cancelFlag, results };
  }

  // This process's own in-place backup first; else, as after a relaunch, the
  // first original the import listed, whose names are then exchanged.
  async function restore(args) {
    if (busy) throw 'Wait for the current batch to finish.';
    const movie = movies.get(args.id);
    if (!movie) throw 'Unknown movie. Import it again.';
    if (config.restorePauseAt === restores++) await new Promise((resolve) => { resumeBatch = resolve; });
    // Stamped without a copy: the stamp comes off, the file is read again.
    if (movie.appended === true) {
      const record = { ...movie, size: movie.size - 4096, timecode: null };
      delete record.appended;
      movies.set(args.id, record);
      return { backup: null, id: args.id, path: movie.path, record };
    }
    const session = inPlace.get(args.id);
    if (session) {
      inPlace.delete(args.id);
      return { backup: session.path, id: args.id, path: movie.path, record: originals.get(args.id) || movie };
    }
    const listed = movie.backups || [];
    if (listed.length === 0) throw 'This movie has no backup to restore. Nothing was changed.';
    const original = listed.find((b) => b.original === true);
    if (!original) throw listed[0].reason + ' Nothing was changed.';
    const failure = (config.restoreFailures || {})[movie.path];
    if (typeof failure === 'string') throw failure;
    const stamped = { path: original.path, size: movie.size, original: false,
      reason: 'The movie is not this backup with a timecode added.' };
    const backups = listed.map((b) => (b === original ? stamped : b));
    const record = { ...movie, size: original.size, timecode: null, backups };
    movies.set(args.id, record);
    return { backup: original.path, id: args.id, path: movie.path, record };
  }

  // Listed originals and this process's backup are removed unless the full
  // check (config.removeFailures by path) keeps them; the rest are kept.
  function removeBackups(args) {
    if (busy) throw 'Wait for the current batch to finish.';
    if (!Array.isArray(args.ids)) throw 'invalid type: null, expected a sequence';
    const removed = [];
    const kept = [];
    const check = (id, b) => {
      const failure = (config.removeFailures || {})[b.path];
      if (typeof failure === 'string') kept.push({ id, path: b.path, reason: failure });
      else removed.push({ id, path: b.path, size: b.size });
    };
    for (const id of args.ids) {
      const movie = movies.get(id);
      if (!movie) continue;
      const listed = movie.backups || [];
      for (const b of listed) {
        if (b.original === true) check(id, b);
        else kept.push({ id, path: b.path, reason: b.reason });
      }
      const session = inPlace.get(id);
      if (session && !listed.some((b) => b.path === session.path)) check(id, session);
      const gone = new Set(removed.filter((r) => r.id === id).map((r) => r.path));
      if (session && gone.has(session.path)) inPlace.delete(id);
      const rest = listed.filter((b) => !gone.has(b.path));
      const record = { ...movie, backups: rest };
      if (rest.length === 0) delete record.backups;
      movies.set(id, record);
    }
    return { removed, kept };
  }

  const handlers = {
    ui_ready: () => null,
    pick: (args) => clone((config.pick || {})[args.kind === 'folder' ? 'folder' : 'movies'] || []),
    destination: () => (config.destination === undefined ? null : config.destination),
    load_settings: () => clone(settings || defaults),
    save_settings: (args) => { settings = clone(args.value === undefined ? null : args.value); return null; },
    import_movies: importMovies,
    process_movies: processMovies,
    cancel: () => { cancelFlag = true; return null; },
    reveal: (args) => {
      if (!args || typeof args.file !== 'string') throw 'Missing output file';
      if (!published.has(args.file)) throw 'Unknown output file';
      if (config.revealError) throw config.revealError;
      return null;
    },
    copy_text: (args) => {
      if (!args || typeof args.text !== 'string') throw 'Nothing to copy';
      return null;
    },
    third_party_notices: () => null,
    outputs_exist: (args) => {
      if (!Array.isArray(args.paths)) throw 'invalid type: null, expected a sequence';
      return { exists: args.paths.map(taken) };
    },
    restore,
    remove_backups: removeBackups,
    // The shell's chooser answers a path (or null when cancelled).
    save_report: (args) => {
      if (typeof args.text !== 'string') throw 'invalid type: null, expected a string';
      return config.reportPath === undefined ? (args.folder || '') + '/' + args.name : config.reportPath;
    },
  };

  window.__VELMORA_NATIVE__ = {
    invoke(command, args = {}) {
      calls.push({ command, args: clone(args) });
      const handler = handlers[command];
      if (!handler) return Promise.reject('Unknown or unavailable native command');
      try {
        return Promise.resolve(handler(args)).then((result) => (result === undefined ? null : clone(result)));
      } catch (error) {
        return Promise.reject(error);
      }
    },
    listen(event, callback) {
      if (!listeners.has(event)) listeners.set(event, new Set());
      listeners.get(event).add(callback);
      return Promise.resolve(() => listeners.get(event).delete(callback));
    },
  };

  window.__FAKE__ = {
    calls,
    emit,
    resume: () => { if (resumeBatch) { resumeBatch(); resumeBatch = null; } },
    paused: () => resumeBatch !== null,
    settings: () => clone(settings),
    setDestination: (path) => { config.destination = path; },
    setRevealError: (message) => { config.revealError = message; },
    touch: (path, fields) => { touched.set(path, { ...touched.get(path), ...fields }); },
  };
}

module.exports = { installFake };
