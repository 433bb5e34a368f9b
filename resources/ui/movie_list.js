// The imported movies: one entry per movie id and one row per entry.
// Every change touches only the row it concerns, so a progress event costs the
// same with 2,000 rows as with one.
(function (root) {
  'use strict';

  const { VelmoraTimecode: T, VelmoraFormat: F, VelmoraOutputNaming: N, VelmoraRefusalHints: H,
    VelmoraReelName: Reel } = root;

  const STATE_TEXT = {
    ready: 'Ready', left: 'Left out', queued: 'Queued', processing: 'Processing',
    done: 'Done', error: 'Failed', unreached: 'Not processed', cancelled: 'Cancelled', skipped: 'Skipped',
  };
  // The backend's word for a movie stopped by "cancel": not a failure.
  const CANCELLED = 'Cancelled.';
  // "skipped": the backend left the movie because its output was taken;
  // "unreached": the batch ended before it.
  const WAITING = new Set(['ready', 'error', 'unreached', 'cancelled', 'skipped']);
  const FINAL = new Set(['done', 'error', 'skipped']);

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

  // A path too long for its line loses its middle, never its file name: the
  // folder part shrinks with an ellipsis, the name stays. The whole path is
  // the hover text and, through a hidden copy, what a screen reader reads.
  function pathView(className) {
    const node = el('span', 'mid-path' + (className ? ' ' + className : ''));
    const spoken = el('span', 'sr-only');
    const head = el('span', 'path-head');
    const tail = el('span', 'path-tail');
    head.setAttribute('aria-hidden', 'true');
    tail.setAttribute('aria-hidden', 'true');
    node.append(spoken, head, tail);
    return node;
  }

  function setPath(node, full, suffix) {
    const shown = full + (suffix || '');
    if (node.dataset.full === shown) return;
    node.dataset.full = shown;
    const slash = full.lastIndexOf('/');
    node.children[0].textContent = shown;
    node.children[1].textContent = full.slice(0, slash + 1);
    node.children[2].textContent = full.slice(slash + 1) + (suffix || '');
    node.title = shown;
  }

  // Where a movie comes from, as a collision mark names it: its card, else
  // its own folder.
  function placeOf(record) {
    if (typeof record.card === 'string' && record.card !== '') return record.card;
    const path = typeof record.path === 'string' ? record.path : '';
    const parent = path.slice(0, path.lastIndexOf('/'));
    return parent.slice(parent.lastIndexOf('/') + 1) || '/';
  }

  // The backups the import found beside the movie, as the record lists them.
  function listedBackups(record) {
    if (!Array.isArray(record.backups)) return [];
    return record.backups.filter((b) => b && typeof b === 'object' && typeof b.path === 'string');
  }

  const NOT_ORIGINAL = 'Not this movie\'s original: ';

  function create({ tbody, scroller, nameHeader, tip, onChange, onReveal, onRestore, checkOutputs }) {
    const entries = new Map();
    let settings = null;
    // Planned outputs the backend found taken; asked again after each change.
    let taken = new Set();
    let checkTimer = 0;
    let checkRound = 0;
    // The running movie stays in view while the user leaves the list where
    // it follows; scrolling it out of sight stops that, scrolling back to it
    // starts it again.
    let running = null;
    let follow = true;
    // While the page restores or removes backups, no row starts another restore.
    let restoreLocked = false;

    function inView(tr) {
      const box = tr.getBoundingClientRect();
      const area = scroller.getBoundingClientRect();
      const head = scroller.querySelector('.head');
      const top = area.top + (head ? head.getBoundingClientRect().height : 0);
      return box.bottom > top && box.top < area.bottom;
    }

    if (scroller) {
      scroller.addEventListener('scroll', () => {
        if (running) follow = inView(running.view.tr);
      }, { passive: true });
    }

    // ---- names: shortened in the middle to the Movie column's width ---------

    const measure = document.createElement('canvas').getContext('2d');
    let nameRoom = 0;
    let nameFont = '';

    function fitName(entry) {
      const v = entry.view;
      let shown = v.name;
      if (nameRoom > 0 && nameFont !== '') {
        measure.font = nameFont;
        shown = F.shortenMiddle(v.name, (text) => measure.measureText(text).width <= nameRoom);
      }
      if (v.shownName === shown) return;
      v.shownName = shown;
      if (shown === v.name) {
        v.nameText.textContent = shown;
        return;
      }
      // Screen readers get the whole name; the eye gets what fits.
      const eye = el('span', '', shown);
      eye.setAttribute('aria-hidden', 'true');
      v.nameText.replaceChildren(el('span', 'sr-only', v.name), eye);
    }

    // The column's room and the names' font, measured once for all rows.
    function fitNames() {
      if (!nameHeader) return;
      const style = getComputedStyle(nameHeader);
      nameRoom = nameHeader.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight) - 1;
      const first = entries.values().next();
      if (first.done) return;
      const font = getComputedStyle(first.value.view.nameText);
      nameFont = font.fontStyle + ' ' + font.fontWeight + ' ' + font.fontSize + ' ' + font.fontFamily;
      for (const entry of entries.values()) fitName(entry);
    }

    let fitFrame = 0;
    if (nameHeader && typeof ResizeObserver === 'function') {
      new ResizeObserver(() => {
        cancelAnimationFrame(fitFrame);
        fitFrame = requestAnimationFrame(fitNames);
      }).observe(nameHeader);
    }

    // The whole path at once, on hover and on keyboard focus, read as the
    // name's description; Escape hides it again.
    function showTip(target) {
      if (!tip) return;
      tip.textContent = target.dataset.path;
      tip.hidden = false;
      target.setAttribute('aria-describedby', tip.id);
      const box = target.getBoundingClientRect();
      const room = document.documentElement.clientWidth;
      tip.style.left = Math.max(0, Math.min(box.left, room - tip.offsetWidth)) + 'px';
      const below = box.bottom + 2;
      tip.style.top = (below + tip.offsetHeight > window.innerHeight ? box.top - tip.offsetHeight - 2 : below) + 'px';
    }

    function hideTip(target) {
      if (!tip) return;
      tip.hidden = true;
      if (target) target.removeAttribute('aria-describedby');
    }

    const nameAt = (event) => (event.target instanceof Element ? event.target.closest('.c-name .name') : null);
    tbody.addEventListener('mouseover', (event) => { const n = nameAt(event); if (n) showTip(n); });
    tbody.addEventListener('mouseout', (event) => {
      const n = nameAt(event);
      if (n && n !== document.activeElement) hideTip(n);
    });
    tbody.addEventListener('focusin', (event) => { const n = nameAt(event); if (n) showTip(n); });
    tbody.addEventListener('focusout', (event) => { const n = nameAt(event); if (n) hideTip(n); });
    tbody.addEventListener('keydown', (event) => {
      const n = nameAt(event);
      if (n && tip && event.key === 'Escape' && !tip.hidden) {
        event.preventDefault();
        hideTip(n);
      }
    });

    // What would be sent for this movie: a typed override wins over the derivation.
    function effective(entry) {
      if (entry.override !== null) {
        const typed = T.entryFor(entry.record, entry.override);
        if (!typed.ok) return { ok: false, error: typed.error, field: 'override', typed: true };
        const end = T.isContinuous(settings) ? T.endLabel(entry.record, entry.override) : null;
        return { ok: true, timecode: entry.override, note: null, typed: true, end: end && end.ok ? end.value : null };
      }
      return entry.derived;
    }

    // Continuous starts follow the movies before them in the order shown,
    // so the whole list derives at once. Sorting by start or status follows
    // the starts themselves; the run then keeps the import order.
    function deriveAll() {
      if (!T.isContinuous(settings)) {
        for (const entry of entries.values()) entry.derived = T.deriveStart(entry.record, settings);
        return;
      }
      const ordered = [...entries.values()];
      if (sortKey !== 'start' && sortKey !== 'status' && COMPARE[sortKey]) ordered.sort(compare());
      const results = T.deriveContinuous(ordered.map((e) => ({ movie: e.record, typed: e.override })), settings);
      ordered.forEach((entry, i) => { entry.derived = results[i]; });
    }

    // After a change that moves the run: every row's start again.
    function repaintRun() {
      if (!T.isContinuous(settings)) return;
      deriveAll();
      for (const entry of entries.values()) {
        paintStart(entry);
        paintState(entry);
      }
    }

    function buildRow(entry) {
      const r = entry.record;
      const name = typeof r.name === 'string' ? r.name : F.baseName(r.path || '');
      const tr = el('div', 'mrow');
      tr.setAttribute('role', 'row');
      tr.dataset.id = entry.id;

      const nameCell = cell('c-name');
      const where = el('div', 'secondary');
      // Focusable so the whole path shows from the keyboard as on hover.
      const nameText = el('div', 'primary name', name);
      nameText.tabIndex = 0;
      nameText.dataset.path = typeof r.path === 'string' ? r.path : name;
      nameCell.append(nameText, where);

      const created = cell('c-created');
      const createdText = el('div', 'primary mono');
      const createdBasis = el('div', 'secondary basis');
      created.append(createdText, createdBasis);

      const video = cell('c-video');
      const dims = Number.isFinite(r.width) && Number.isFinite(r.height) ? ` ${r.width}×${r.height}` : '';
      video.append(el('div', 'primary', F.codecText(r) + dims),
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
      const replaces = el('div', 'replaces');
      const end = el('div', 'end mono');
      end.hidden = true;
      const startLine = el('div', 'line');
      startLine.append(input, reset);
      start.append(startLine, startMsg, replaces, end);

      const status = cell('c-status');
      const bar = el('progress');
      bar.max = 1;
      bar.value = 0;
      bar.setAttribute('aria-label', 'Progress of ' + name);
      const state = el('div', 'state');
      const result = el('div', 'result');
      status.append(bar, state, result);

      // Where the movie goes: the preview before Process, the published
      // path and backup after it. It spans the row's second line.
      const output = cell('c-output');
      const outLine = el('div', 'line');
      const outLabel = el('span', 'out-label', 'Output:');
      const outPath = pathView('out-path');
      const reveal = button('mini reveal', 'Reveal', 'Reveal the output of ' + name);
      reveal.hidden = true;
      outLine.append(outLabel, outPath, reveal);
      const backupLine = el('div', 'line backup');
      const backupLabel = el('span', 'out-label', 'Backup:');
      const backupPath = pathView('backup-path');
      const restore = button('mini restore', 'Restore original', 'Restore the original of ' + name);
      restore.hidden = true;
      restore.disabled = restoreLocked;
      backupLine.append(backupLabel, backupPath, restore);
      const backupNote = el('div', 'msg note backup-note');
      backupNote.hidden = true;
      const outNote = el('div', 'msg bad');
      const collision = el('div', 'msg warn collision');
      collision.hidden = true;
      const failHint = el('div', 'hint-line fail-hint');
      failHint.hidden = true;
      output.append(failHint, outLine, backupLine, backupNote, outNote, collision);

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
        // Remove comes before the start field in keyboard order: Tab goes from
        // start field to start field, Shift+Tab reaches the row's own remove.
        removeCell, start, status, output);

      // The row is judged when the field is committed, never while typing.
      input.addEventListener('change', () => commitTyped(entry, input.value.trim()));
      input.addEventListener('keydown', (event) => {
        if (event.key === 'Enter') {
          commitTyped(entry, input.value.trim());
        } else if (event.key === 'Escape' && entry.override !== null) {
          event.preventDefault();
          commitTyped(entry, '');
        } else if (event.key === 'Tab' && !event.shiftKey && !event.ctrlKey && !event.altKey) {
          const next = nextStartField(tr);
          if (next) {
            event.preventDefault();
            next.focus();
            next.select();
          }
        }
      });
      reset.addEventListener('click', () => { commitTyped(entry, ''); input.focus(); });
      remove.addEventListener('click', () => removeEntry(entry.id, true));
      reveal.addEventListener('click', () => onReveal(entry.result.output));
      restore.addEventListener('click', () => onRestore(entry.id, restore));

      entry.view = { tr, nameText, shownName: name, where, createdText, createdBasis, input, reset, startMsg, replaces, end, bar, state, result,
        remove, name, output, outLabel, outPath, reveal, backupLine, backupLabel, backupPath, restore, backupNote,
        outNote,
        failHint, collision };
      fitName(entry);
    }

    // The next row below that shows a start field the user can type in.
    function nextStartField(tr) {
      for (let row = tr.nextElementSibling; row; row = row.nextElementSibling) {
        if (row.hidden) continue;
        const input = row.querySelector('input.tc');
        if (input && !input.disabled) return input;
      }
      return null;
    }

    // What was typed becomes the label it means (10000000 is 10:00:00:00);
    // text that means none is kept as typed, so the row says why.
    function commitTyped(entry, text) {
      const derived = entry.derived.ok ? entry.derived.timecode : null;
      const entered = T.entryFor(entry.record, text);
      const label = entered.ok ? entered.value : text;
      entry.override = text === '' || label === derived ? null : label;
      repaintRun();
      paintStart(entry, true);
      paintState(entry);
      changed();
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
      const existing = entry.record.timecode;
      const replaced = eff.ok && typeof existing === 'string' && existing !== eff.timecode;
      setText(v.replaces, replaced ? 'replaces ' + existing : '');
      v.replaces.hidden = !replaced;
      const end = eff.ok && T.isContinuous(settings) && typeof eff.end === 'string' ? eff.end : null;
      setText(v.end, end === null ? '' : 'ends ' + end);
      v.end.hidden = end === null;
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
      let hint = null;
      if (record && record.state === 'restored' && record.backup === '') {
        cell.append(el('div', 'secondary restored-note', 'Original restored; the timecode was taken off.'));
      } else if (record && record.state === 'restored') {
        const kept = el('div', 'secondary path restored-note',
          'Original restored; stamped copy kept as ' + record.backup);
        kept.title = record.backup;
        cell.append(kept);
      }
      if (record && record.state === 'skipped') {
        cell.append(el('div', 'msg note', typeof record.message === 'string' ? record.message : ''));
      }
      if (record && record.state === 'error' && entry.phase !== 'cancelled') {
        // An engine killed by a signal leaves no message of its own.
        const said = typeof record.error === 'string' && record.error.trim() !== '';
        const message = said ? record.error : 'The engine stopped without giving a reason.';
        cell.append(el('div', 'msg bad', message));
        hint = H.hintFor(message);
      }
      // The plain line under a failure gets the row's full width.
      setText(entry.view.failHint, hint || '');
      entry.view.failHint.hidden = !hint;
      paintOutput(entry);
    }

    // The output line: published files once done; the preview while the
    // movie may still be sent (numbered by its place among those); nothing
    // for a movie left out. Queued and running movies keep what they showed.
    // A backup made by this session's batch, else one the import found,
    // takes the backup line over the planned one.
    function paintOutput(entry, position) {
      const v = entry.view;
      const record = entry.result;
      if (entry.phase === 'queued' || entry.phase === 'processing') return;
      let shown = null;
      let backup = null;
      let problem = '';
      entry.planned = null;
      if (entry.phase === 'done' && record) {
        shown = typeof record.output === 'string' ? record.output : '';
      } else if (position !== undefined && position >= 0) {
        const planned = N.preview(entry.record, settings, position);
        if (planned.ok) {
          shown = planned.path;
          // Only a new file can meet another output; in place the movie is its own.
          if (settings.copy === true) entry.planned = planned.path;
          backup = planned.backup === null ? null : planned.backup + '…';
        } else {
          problem = planned.error;
        }
      }
      const existing = backupView(entry);
      if (existing) backup = existing.path;
      const note = existing ? existing.note : '';
      // Stamped where it lies: the line offers the restore, with no backup to name.
      const appended = existing !== null && existing.appended === true;
      setText(v.backupLabel, appended ? 'Stamped in place, no backup' : 'Backup:');
      v.backupPath.hidden = appended;
      const done = entry.phase === 'done';
      v.output.hidden = shown === null && backup === null && problem === '' && v.failHint.hidden;
      v.outPath.parentElement.hidden = shown === null;
      setText(v.outLabel, done ? 'Written:' : 'Output:');
      if (shown !== null) setPath(v.outPath, shown);
      v.reveal.hidden = !done;
      v.restore.hidden = !(existing && existing.restorable);
      v.backupLine.hidden = backup === null && !appended;
      if (backup !== null) setPath(v.backupPath, backup);
      setText(v.backupNote, note);
      v.backupNote.hidden = note === '';
      setText(v.outNote, problem);
      v.outNote.hidden = problem === '';
    }

    // A movie stamped without a copy, by this session's batch or an earlier one.
    const isAppended = (entry) => (entry.result && entry.result.state === 'done' && entry.result.appended === true) ||
      (entry.record && entry.record.appended === true && !(entry.result && entry.result.state === 'restored'));

    // The backup a row names: {path, restorable, note}, or null. Restore
    // takes this session's backup first, else the first original the
    // import found; a backup that is not the original is only named.
    function backupView(entry) {
      // The latest stamp comes off first, as the backend takes it.
      if (isAppended(entry)) return { path: null, restorable: true, note: '', appended: true };
      if (entry.sessionBackup) return { path: entry.sessionBackup.path, restorable: true, note: '' };
      const listed = listedBackups(entry.record);
      if (listed.length === 0) return null;
      const original = listed.find((b) => b.original === true);
      if (original) return { path: original.path, restorable: true, note: '' };
      const reason = typeof listed[0].reason === 'string' ? listed[0].reason : '';
      return { path: listed[0].path, restorable: false, note: NOT_ORIGINAL + reason };
    }

    // What "remove_backups" would try for a row: this session's backup (the
    // size the original had at import) and every original the import found.
    function triedBackups(entry) {
      const tried = new Map();
      if (entry.sessionBackup) tried.set(entry.sessionBackup.path, entry.sessionBackup.size);
      for (const b of listedBackups(entry.record)) {
        if (b.original === true && !tried.has(b.path)) tried.set(b.path, b.size);
      }
      return [...tried].map(([path, size]) => ({ path, size: Number.isFinite(size) ? size : 0 }));
    }

    // Every movie that may be sent gets its preview at its place in the batch.
    function paintOutputs() {
      let position = 0;
      for (const entry of entries.values()) {
        const waiting = entry.current.ok && WAITING.has(entry.phase);
        paintOutput(entry, waiting ? position : -1);
        if (waiting) position += 1;
      }
      paintCollisions();
      scheduleOutputCheck();
    }

    // A new file whose planned output another row plans too, or that a file
    // already holds: said on the row before Process. The backend then skips
    // or numbers it, as "existing" says.
    function paintCollisions() {
      const first = new Map();
      for (const entry of entries.values()) {
        if (entry.planned !== null && !first.has(entry.planned)) first.set(entry.planned, entry);
      }
      for (const entry of entries.values()) {
        let text = '';
        if (entry.planned !== null) {
          let other = first.get(entry.planned);
          if (other === entry) {
            other = [...entries.values()].find((e) => e !== entry && e.planned === entry.planned) || null;
          }
          if (other) text = 'Same output as ' + other.view.name + ' in ' + placeOf(other.record);
          else if (taken.has(entry.planned)) text = 'Output exists';
        }
        setText(entry.view.collision, text);
        entry.view.collision.hidden = text === '';
        if (text !== '') entry.view.output.hidden = false;
      }
    }

    // One question for all planned outputs once the changes of this turn are
    // in; an answer that a later change overtook is dropped.
    function scheduleOutputCheck() {
      if (!checkOutputs) return;
      clearTimeout(checkTimer);
      checkTimer = setTimeout(() => {
        const paths = [...new Set([...entries.values()].map((e) => e.planned).filter((p) => p !== null))];
        const round = ++checkRound;
        if (paths.length === 0) {
          taken = new Set();
          return;
        }
        checkOutputs(paths).then((exists) => {
          if (round !== checkRound || !Array.isArray(exists)) return;
          taken = new Set(paths.filter((p, i) => exists[i] === true));
          paintCollisions();
          applyFilter();
        }, () => {});
      }, 0);
    }

    function changed() {
      paintOutputs();
      applyFilter();
      onChange();
    }

    // ---- view: order and filter (the batch keeps the import order) ---------

    let sortKey = 'import';
    let descending = false;
    let problemsOnly = false;
    const collator = new Intl.Collator(undefined, { numeric: true, sensitivity: 'base' });
    const STATUS_ORDER = ['error', 'left', 'cancelled', 'skipped', 'unreached', 'processing', 'queued', 'ready',
      'done'];

    function shownPhase(entry) {
      return entry.phase === 'ready' && !entry.current.ok ? 'left' : entry.phase;
    }

    function rateValue(entry) {
      const match = /^(\d+)\/(\d+)$/.exec(String(entry.record.rate));
      return match && Number(match[2]) > 0 ? Number(match[1]) / Number(match[2]) : Infinity;
    }

    const byName = (a, b) => collator.compare(a.view.name, b.view.name);
    const COMPARE = {
      name: byName,
      folder: (a, b) => collator.compare(a.record.relativeDir || '', b.record.relativeDir || '') || byName(a, b),
      rate: (a, b) => rateValue(a) - rateValue(b) || byName(a, b),
      // Movies without a start go last.
      start: (a, b) => (a.current.ok ? 0 : 1) - (b.current.ok ? 0 : 1) ||
        (a.current.ok && b.current.ok ? collator.compare(a.current.timecode, b.current.timecode) : 0) || byName(a, b),
      status: (a, b) => STATUS_ORDER.indexOf(shownPhase(a)) - STATUS_ORDER.indexOf(shownPhase(b)) || byName(a, b),
    };

    // Descending turns the whole order round, ties included; equal rows keep
    // their import order either way, as the sort is stable.
    function compare() {
      const by = COMPARE[sortKey];
      return descending ? (a, b) => by(b, a) : by;
    }

    function applySort() {
      const ordered = [...entries.values()];
      if (COMPARE[sortKey]) ordered.sort(compare());
      let previous = null;
      for (const entry of ordered) {
        const tr = entry.view.tr;
        const expected = previous ? previous.nextElementSibling : tbody.firstElementChild;
        if (expected !== tr) {
          if (previous) previous.after(tr);
          else tbody.prepend(tr);
        }
        previous = tr;
      }
    }

    // A problem: a movie that failed, is left out, or whose output cannot be.
    function isProblem(entry) {
      const phase = shownPhase(entry);
      return phase === 'error' || phase === 'left' || !entry.view.outNote.hidden || !entry.view.collision.hidden;
    }

    function applyFilter() {
      let shown = 0;
      for (const entry of entries.values()) {
        const hide = problemsOnly && !isProblem(entry);
        if (entry.view.tr.hidden !== hide) entry.view.tr.hidden = hide;
        if (!hide) shown += 1;
      }
      return shown;
    }

    function setView(view) {
      const down = view.descending === true;
      if (typeof view.sort === 'string' && (view.sort !== sortKey || down !== descending)) {
        sortKey = view.sort;
        descending = down;
        repaintRun();
      }
      if (typeof view.problemsOnly === 'boolean') problemsOnly = view.problemsOnly;
      applySort();
      return applyFilter();
    }

    // The instant a "Creation time" start takes, in the chosen zone, and which one it is.
    function paintCreated(entry) {
      const created = T.creationTime(entry.record, settings.timezone);
      setText(entry.view.createdText, created.ok ? F.clockText(created.value.clock) : '—');
      setText(entry.view.createdBasis, created.ok ? created.value.basis : '');
    }

    // The folder below the one added, and the reel the movie is written with.
    function paintWhere(entry) {
      const dir = entry.record.relativeDir ? entry.record.relativeDir + '/' : '';
      entry.reel = Reel.reelFor(entry.record, settings);
      const reel = entry.reel === null ? '' : 'Reel ' + entry.reel;
      setText(entry.view.where, [dir, reel].filter(Boolean).join(' · ') || '—');
    }

    function paintFacts(entry) {
      paintStart(entry);
      paintState(entry);
      paintCreated(entry);
      paintWhere(entry);
    }

    // A file imported again keeps its id and so its row. One that changed since,
    // or came through another folder, brings a new record: the row shows it,
    // and keeps its typed start and what the last batch did with it.
    function replaceRecord(entry, record) {
      if (JSON.stringify(entry.record) === JSON.stringify(record)) return;
      const old = entry.view.tr;
      const focused = old.contains(document.activeElement) ? document.activeElement : null;
      entry.record = record;
      entry.derived = T.deriveStart(record, settings);
      buildRow(entry);
      old.replaceWith(entry.view.tr);
      paintFacts(entry);
      paintResult(entry);
      if (focused === old.querySelector('input.tc')) {
        entry.view.input.value = focused.value;
        entry.view.input.focus();
      } else if (focused) {
        entry.view.remove.focus();
      }
    }

    // Lists the new movies; answers how many were in the list already.
    function add(records, given) {
      settings = given;
      const fragment = document.createDocumentFragment();
      let known = 0;
      for (const record of records) {
        if (!record || typeof record.id !== 'string') continue;
        if (entries.has(record.id)) {
          known += 1;
          replaceRecord(entries.get(record.id), record);
          continue;
        }
        const entry = { id: record.id, record, override: null, derived: T.deriveStart(record, settings),
          phase: 'ready', progress: 0, result: null, view: null, current: null, reel: null, planned: null,
          sessionBackup: null };
        buildRow(entry);
        entries.set(entry.id, entry);
        paintFacts(entry);
        fragment.append(entry.view.tr);
      }
      tbody.append(fragment);
      if (nameFont === '') fitNames();
      repaintRun();
      if (sortKey !== 'import') applySort();
      changed();
      return known;
    }

    function rederive(given) {
      settings = given;
      deriveAll();
      for (const entry of entries.values()) paintFacts(entry);
      if (sortKey !== 'import') applySort();
      changed();
    }

    function removeEntry(id, focusNext, rerun = true) {
      const entry = entries.get(id);
      if (!entry || entry.phase === 'queued' || entry.phase === 'processing') return;
      const next = entry.view.tr.nextElementSibling || entry.view.tr.previousElementSibling;
      entry.view.tr.remove();
      entries.delete(id);
      if (rerun) repaintRun();
      if (focusNext && next) next.querySelector('button.remove').focus();
      changed();
    }

    function clear() {
      for (const entry of [...entries.values()]) removeEntry(entry.id, false, false);
      repaintRun();
    }

    // Movies that a batch may take now: a valid timecode, not yet published.
    function eligible() {
      const out = [];
      for (const entry of entries.values()) {
        if (entry.current.ok && WAITING.has(entry.phase)) {
          out.push({ id: entry.id, timecode: entry.current.timecode, typed: entry.override !== null,
            reel: entry.reel });
        }
      }
      return out;
    }

    function beginBatch(ids) {
      follow = true;
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
      if (FINAL.has(payload.state)) return applyFinal(payload);
      entry.phase = 'processing';
      if (running !== entry) {
        running = entry;
        if (follow && scroller && !inView(entry.view.tr)) entry.view.tr.scrollIntoView({ block: 'nearest' });
      }
      if (typeof payload.progress === 'number' && Number.isFinite(payload.progress)) {
        entry.progress = Math.min(1, Math.max(0, payload.progress));
      }
      paintState(entry);
    }

    function applyFinal(record) {
      const entry = entries.get(record && record.id);
      if (!entry) return;
      if (record.state === 'done' || record.state === 'skipped') entry.phase = record.state;
      else entry.phase = record.error === CANCELLED ? 'cancelled' : 'error';
      entry.progress = record.state === 'done' ? 1 : 0;
      entry.result = record;
      // The record is still the original's: its size is the backup's.
      if (record.state === 'done' && typeof record.backup === 'string') {
        entry.sessionBackup = { path: record.backup, size: entry.record.size };
      }
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
        entry.phase = results.length || entry.phase === 'processing' ? 'unreached' : 'ready';
        entry.progress = 0;
        paintState(entry);
      }
      if (sortKey !== 'import') applySort();
      changed();
    }

    // The original is back under its name: the movie can be processed again,
    // with the original's record should an import since have replaced it.
    function restored(id, reply) {
      const entry = entries.get(id);
      if (!entry) return;
      const hadFocus = entry.view.output.contains(document.activeElement);
      if (reply && reply.record && reply.record.id === id) replaceRecord(entry, reply.record);
      entry.phase = 'ready';
      entry.progress = 0;
      entry.sessionBackup = null;
      entry.result = { state: 'restored', backup: reply && typeof reply.backup === 'string' ? reply.backup : '',
        output: reply && typeof reply.path === 'string' ? reply.path : '' };
      paintResult(entry);
      paintState(entry);
      // Another original may still be there to restore.
      entry.view.restore.disabled = restoreLocked;
      if (hadFocus) entry.view.input.focus();
      changed();
    }

    // Rows whose original can be put back now, in the import order.
    function restorable() {
      const ids = [];
      for (const entry of entries.values()) {
        if (entry.phase === 'queued' || entry.phase === 'processing') continue;
        const view = backupView(entry);
        if (view && view.restorable) ids.push(entry.id);
      }
      return ids;
    }

    // What "Remove backups…" would try: the rows concerned, how many
    // backups and their bytes; `any` when a row names a backup at all.
    function backupPlan() {
      const plan = { ids: [], count: 0, bytes: 0, any: false };
      for (const entry of entries.values()) {
        const view = backupView(entry);
        if (view && !view.appended) plan.any = true;
        const tried = triedBackups(entry);
        if (tried.length === 0) continue;
        plan.ids.push(entry.id);
        plan.count += tried.length;
        for (const b of tried) plan.bytes += b.size;
      }
      return plan;
    }

    // Removed backups are gone from the rows, as from the backend's store.
    function backupsRemoved(removed) {
      for (const item of removed) {
        const entry = item && entries.get(item.id);
        if (!entry) continue;
        if (entry.sessionBackup && entry.sessionBackup.path === item.path) entry.sessionBackup = null;
        if (!Array.isArray(entry.record.backups)) continue;
        const rest = entry.record.backups.filter((b) => !b || b.path !== item.path);
        const record = { ...entry.record, backups: rest };
        if (rest.length === 0) delete record.backups;
        entry.record = record;
      }
      changed();
    }

    function setRestoreLocked(on) {
      restoreLocked = on;
      for (const entry of entries.values()) entry.view.restore.disabled = on;
    }

    // What the report says of each movie, in the import order: its phase as
    // shown, the start it would be sent with, or why it is left out.
    function reportEntries() {
      return [...entries.values()].map((entry) => ({ id: entry.id, record: entry.record, phase: shownPhase(entry),
        timecode: entry.current.ok ? entry.current.timecode : null, typed: entry.override !== null,
        reel: entry.reel, error: entry.current.ok ? null : entry.current.error, result: entry.result }));
    }

    function recordOf(id) {
      const entry = entries.get(id);
      return entry ? entry.record : null;
    }

    function counts() {
      const c = { total: entries.size, valid: 0, done: 0, failed: 0, cancelled: 0, skipped: 0, unreached: 0 };
      for (const entry of entries.values()) {
        if (entry.current.ok) c.valid += 1;
        if (entry.phase === 'done') c.done += 1;
        if (entry.phase === 'error') c.failed += 1;
        if (entry.phase === 'cancelled') c.cancelled += 1;
        if (entry.phase === 'skipped') c.skipped += 1;
        if (entry.phase === 'unreached') c.unreached += 1;
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

    // What a settings field does to the movies it fails: [{error, rate}], in the list's order.
    function problems(field) {
      const out = [];
      for (const entry of entries.values()) {
        if (entry.derived.ok || entry.derived.field !== field) continue;
        out.push({ error: entry.derived.error, rate: entry.record.rate });
      }
      return out;
    }

    function firstName() {
      const first = entries.values().next();
      return first.done ? null : first.value.view.name;
    }

    return { add, rederive, remove: (id) => removeEntry(id, false), clear, eligible, beginBatch,
      applyProgress, endBatch, restored, restorable, backupPlan, backupsRemoved, setRestoreLocked, recordOf,
      reportEntries, counts, problems, ratesInUse, firstName, setView, fitNames, shown: applyFilter,
      size: () => entries.size };
  }

  root.VelmoraMovieList = Object.freeze({ create });
})(window);
