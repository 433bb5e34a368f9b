// The imported movies: one entry per movie id and one row per entry.
// Every change touches only the row it concerns, so a progress event costs the
// same with 2,000 rows as with one.
(function (root) {
  'use strict';

  const T = root.VelmoraTimecode;
  const F = root.VelmoraFormat;

  const STATE_TEXT = {
    ready: 'Ready', left: 'Left out', queued: 'Queued', processing: 'Processing',
    done: 'Done', error: 'Failed', skipped: 'Not processed',
  };

  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function cell(className, text) {
    const node = el('div', className, text);
    node.setAttribute('role', 'cell');
    return node;
  }

  function button(className, text, label) {
    const node = el('button', className, text);
    node.type = 'button';
    if (label) node.setAttribute('aria-label', label);
    return node;
  }

  function setText(node, text) {
    if (node.textContent !== text) node.textContent = text;
  }

  function create({ tbody, onChange, onReveal, onRestore }) {
    const entries = new Map();

    // What would be sent for this movie: a typed override wins over the derivation.
    function effective(entry) {
      if (entry.override !== null) {
        const typed = T.validateFor(entry.record, entry.override);
        return typed.ok ? { ok: true, timecode: entry.override, note: null, typed: true }
          : { ok: false, error: typed.error, field: 'override', typed: true };
      }
      return entry.derived;
    }

    function buildRow(entry) {
      const r = entry.record;
      const name = typeof r.name === 'string' ? r.name : F.baseName(r.path || '');
      const tr = el('div', 'mrow');
      tr.setAttribute('role', 'row');
      tr.dataset.id = entry.id;

      const nameCell = cell('c-name');
      nameCell.append(el('div', 'primary', name), el('div', 'secondary', r.relativeDir ? r.relativeDir + '/' : '—'));
      nameCell.title = typeof r.path === 'string' ? r.path : '';

      const created = cell('c-created');
      const createdText = el('div', 'primary mono');
      created.append(createdText, el('div', 'secondary', typeof r.creationOrigin === 'string' ? r.creationOrigin : ''));

      const video = cell('c-video');
      const dims = Number.isFinite(r.width) && Number.isFinite(r.height) ? ` ${r.width}×${r.height}` : '';
      video.append(el('div', 'primary', (typeof r.codec === 'string' ? r.codec : '—') + dims),
        el('div', 'secondary', F.sizeText(r.size)));
      if (Number.isFinite(r.size)) video.title = r.size.toLocaleString('en-US') + ' bytes';

      const start = cell('c-start');
      const input = el('input', 'tc mono');
      input.type = 'text';
      input.spellcheck = false;
      input.autocomplete = 'off';
      input.maxLength = 11;
      input.placeholder = 'HH:MM:SS:FF';
      input.setAttribute('aria-label', 'Start timecode for ' + name);
      const reset = button('mini reset', '↺', 'Use the derived timecode for ' + name);
      reset.title = 'Use the derived timecode';
      reset.hidden = true;
      const startMsg = el('div', 'msg');
      const startLine = el('div', 'line');
      startLine.append(input, reset);
      start.append(startLine, startMsg);

      const status = cell('c-status');
      const bar = el('progress');
      bar.max = 1;
      bar.value = 0;
      bar.setAttribute('aria-label', 'Progress of ' + name);
      const state = el('div', 'state');
      const result = el('div', 'result');
      status.append(bar, state, result);

      const rateCell = cell('c-rate mono');
      const ratePrimary = el('div', 'primary', F.rateText(r.rate, r.measuredRate));
      const measured = F.measuredRateText(r.measuredRate);
      if (measured) {
        ratePrimary.title = measured;
        ratePrimary.setAttribute('aria-description', measured);
      }
      rateCell.append(ratePrimary, el('div', 'secondary', F.durationText(r.duration)));

      const remove = button('mini remove', '✕', 'Remove ' + name + ' from the list');
      const removeCell = cell('c-remove');
      removeCell.append(remove);
      tr.append(nameCell, rateCell,
        cell('c-timecode mono', typeof r.timecode === 'string' ? r.timecode : '—'),
        created, video, cell('c-tracks', F.tracksText(r.streams)),
        start, status, removeCell);

      input.addEventListener('input', () => showTyped(entry, input.value.trim()));
      input.addEventListener('change', () => commitTyped(entry, input.value.trim()));
      input.addEventListener('keydown', (event) => {
        if (event.key === 'Escape' && entry.override !== null) {
          event.preventDefault();
          commitTyped(entry, '');
        }
      });
      reset.addEventListener('click', () => { commitTyped(entry, ''); input.focus(); });
      remove.addEventListener('click', () => removeEntry(entry.id, true));

      entry.view = { tr, createdText, input, reset, startMsg, bar, state, result, remove, name };
    }

    // While typing: say what is wrong, without committing.
    function showTyped(entry, text) {
      if (text === '') return paintStart(entry);
      const typed = T.validateFor(entry.record, text);
      setText(entry.view.startMsg, typed.ok ? '' : typed.error);
      entry.view.startMsg.classList.toggle('bad', !typed.ok);
    }

    function commitTyped(entry, text) {
      const derived = entry.derived.ok ? entry.derived.timecode : null;
      entry.override = text === '' || text === derived ? null : text;
      paintStart(entry, true);
      paintState(entry);
      onChange();
    }

    // A focused field keeps what the user is typing unless the change is theirs.
    function paintStart(entry, committed) {
      const v = entry.view;
      const eff = effective(entry);
      entry.current = eff;
      if (committed || document.activeElement !== v.input) {
        const shown = entry.override !== null ? entry.override : (eff.ok ? eff.timecode : '');
        if (v.input.value !== shown) v.input.value = shown;
      }
      v.input.classList.toggle('overridden', entry.override !== null);
      v.input.setAttribute('aria-invalid', eff.ok ? 'false' : 'true');
      v.reset.hidden = entry.override === null;
      setText(v.startMsg, eff.ok ? (eff.note || '') : eff.error);
      v.startMsg.classList.toggle('bad', !eff.ok);
      v.startMsg.classList.toggle('note', eff.ok && Boolean(eff.note));
    }

    function paintState(entry) {
      const v = entry.view;
      let phase = entry.phase;
      if (phase === 'ready' && !entry.current.ok) phase = 'left';
      let text = STATE_TEXT[phase];
      if (phase === 'processing') text += ' ' + Math.floor(entry.progress * 100) + '%';
      if (phase === 'done' && typeof entry.result.timecode === 'string') text += ' · ' + entry.result.timecode;
      setText(v.state, text);
      v.state.dataset.phase = phase;
      v.tr.dataset.phase = phase;
      if (v.bar.value !== entry.progress) v.bar.value = entry.progress;
      const busy = phase === 'queued' || phase === 'processing';
      v.remove.disabled = busy;
      v.input.disabled = busy;
    }

    function paintResult(entry) {
      const cell = entry.view.result;
      cell.replaceChildren();
      const record = entry.result;
      if (!record) return;
      if (record.state === 'done') {
        const output = typeof record.output === 'string' ? record.output : '';
        const line = el('div', 'line');
        const file = el('span', 'path', F.baseName(output));
        file.title = output;
        const reveal = button('mini', 'Reveal', 'Reveal the output of ' + entry.view.name);
        reveal.addEventListener('click', () => onReveal(record.output));
        line.append(file, reveal);
        const folder = el('div', 'secondary path', output.slice(0, output.length - F.baseName(output).length));
        folder.title = output;
        cell.append(line, folder);
        if (typeof record.backup === 'string') {
          const backup = el('div', 'secondary path backup', 'Backup: ' + record.backup);
          backup.title = record.backup;
          const restore = button('mini restore', 'Restore original', 'Restore the original of ' + entry.view.name);
          restore.addEventListener('click', () => onRestore(entry.id, restore));
          cell.append(backup, restore);
        }
      } else if (record.state === 'restored') {
        const kept = el('div', 'secondary path backup', 'Original restored; stamped copy kept as ' + record.backup);
        kept.title = record.backup;
        cell.append(kept);
      } else if (record.state === 'error') {
        // An engine killed by a signal leaves no message of its own.
        const said = typeof record.error === 'string' && record.error.trim() !== '';
        cell.append(el('div', 'msg bad', said ? record.error : 'The engine stopped without giving a reason.'));
      }
    }

    function paintCreated(entry, settings) {
      const text = F.instantText(entry.record.created, settings.timezone);
      setText(entry.view.createdText, text === null ? '—' : text);
    }

    function add(records, settings) {
      const fragment = document.createDocumentFragment();
      for (const record of records) {
        if (!record || typeof record.id !== 'string' || entries.has(record.id)) continue;
        const entry = { id: record.id, record, override: null, derived: T.deriveStart(record, settings),
          phase: 'ready', progress: 0, result: null, view: null, current: null };
        buildRow(entry);
        paintStart(entry);
        paintState(entry);
        paintCreated(entry, settings);
        entries.set(entry.id, entry);
        fragment.append(entry.view.tr);
      }
      tbody.append(fragment);
      onChange();
    }

    function rederive(settings) {
      for (const entry of entries.values()) {
        entry.derived = T.deriveStart(entry.record, settings);
        paintStart(entry);
        paintState(entry);
        paintCreated(entry, settings);
      }
      onChange();
    }

    function removeEntry(id, focusNext) {
      const entry = entries.get(id);
      if (!entry || entry.phase === 'queued' || entry.phase === 'processing') return;
      const next = entry.view.tr.nextElementSibling || entry.view.tr.previousElementSibling;
      entry.view.tr.remove();
      entries.delete(id);
      if (focusNext && next) next.querySelector('button.remove').focus();
      onChange();
    }

    function clear() {
      for (const entry of [...entries.values()]) removeEntry(entry.id, false);
    }

    // Movies that a batch may take now: a valid timecode, not yet published.
    function eligible() {
      const out = [];
      for (const entry of entries.values()) {
        if (entry.current.ok && (entry.phase === 'ready' || entry.phase === 'error' || entry.phase === 'skipped')) {
          out.push({ id: entry.id, timecode: entry.current.timecode, typed: entry.override !== null });
        }
      }
      return out;
    }

    function beginBatch(ids) {
      for (const id of ids) {
        const entry = entries.get(id);
        if (!entry) continue;
        entry.phase = 'queued';
        entry.progress = 0;
        entry.result = null;
        paintResult(entry);
        paintState(entry);
      }
    }

    function applyProgress(payload) {
      if (!payload || typeof payload !== 'object') return;
      const entry = entries.get(payload.id);
      if (!entry) return;
      if (payload.state === 'done' || payload.state === 'error') return applyFinal(payload);
      entry.phase = 'processing';
      if (typeof payload.progress === 'number' && Number.isFinite(payload.progress)) {
        entry.progress = Math.min(1, Math.max(0, payload.progress));
      }
      paintState(entry);
    }

    function applyFinal(record) {
      const entry = entries.get(record && record.id);
      if (!entry) return;
      entry.phase = record.state === 'done' ? 'done' : 'error';
      entry.progress = record.state === 'done' ? 1 : 0;
      entry.result = record;
      paintResult(entry);
      paintState(entry);
    }

    // The reply's records are final; a movie the batch never reached goes back
    // to the pool, and so does every movie of a batch that failed as a whole.
    function endBatch(ids, results) {
      const reached = new Set();
      for (const record of results) {
        applyFinal(record);
        if (record) reached.add(record.id);
      }
      for (const id of ids) {
        const entry = entries.get(id);
        if (!entry || reached.has(id)) continue;
        entry.phase = results.length || entry.phase === 'processing' ? 'skipped' : 'ready';
        entry.progress = 0;
        paintState(entry);
      }
      onChange();
    }

    // The original is back under its name: the movie can be processed again.
    function restored(id, reply) {
      const entry = entries.get(id);
      if (!entry) return;
      const hadFocus = entry.view.result.contains(document.activeElement);
      entry.phase = 'ready';
      entry.progress = 0;
      entry.result = { state: 'restored', backup: reply && typeof reply.backup === 'string' ? reply.backup : '' };
      paintResult(entry);
      paintState(entry);
      if (hadFocus) entry.view.input.focus();
      onChange();
    }

    function recordOf(id) {
      const entry = entries.get(id);
      return entry ? entry.record : null;
    }

    function counts() {
      const c = { total: entries.size, valid: 0, done: 0, failed: 0 };
      for (const entry of entries.values()) {
        if (entry.current.ok) c.valid += 1;
        if (entry.phase === 'done') c.done += 1;
        if (entry.phase === 'error') c.failed += 1;
      }
      return c;
    }

    function ratesInUse() {
      const rates = new Map();
      for (const entry of entries.values()) {
        if (!rates.has(entry.record.rate)) rates.set(entry.record.rate, entry);
      }
      return [...rates.values()];
    }

    function problems(field) {
      const seen = new Map();
      for (const entry of entries.values()) {
        if (entry.derived.ok || entry.derived.field !== field) continue;
        const key = entry.derived.error + ' (' + F.fpsText(entry.record.rate) + ' fps)';
        seen.set(key, (seen.get(key) || 0) + 1);
      }
      return [...seen.keys()];
    }

    function firstName() {
      const first = entries.values().next();
      return first.done ? null : first.value.view.name;
    }

    return { add, rederive, remove: (id) => removeEntry(id, false), clear, eligible, beginBatch,
      applyProgress, endBatch, restored, recordOf, counts, problems, ratesInUse, firstName, size: () => entries.size };
  }

  root.VelmoraMovieList = Object.freeze({ create });
})(window);
