// The list's column headers: a header sorts (ascending, then descending, as
// its aria-sort says) and the Movie column takes the width the user drags or
// keys it to.
(function (root) {
  'use strict';

  // rem, as the settings keep it: the column follows the text size.
  const MIN_WIDTH = root.VelmoraSettings.LIMITS.columnRemMin;
  const MAX_WIDTH = root.VelmoraSettings.LIMITS.columnRemMax;
  const KEY_STEP = 1;

  const clampWidth = (rem) => Math.min(MAX_WIDTH, Math.max(MIN_WIDTH, Math.round(rem * 4) / 4));

  function create({ head, table, onSort, onWidth }) {
    const headers = [...head.querySelectorAll('[data-sort]')];
    let key = 'import';
    let descending = false;

    // The arrow is for the eye; aria-sort says it to screen readers.
    const marks = headers.map((header) => {
      const mark = document.createElement('span');
      mark.className = 'sort-mark';
      mark.setAttribute('aria-hidden', 'true');
      header.querySelector('button').append(mark);
      return mark;
    });

    function paintSort() {
      headers.forEach((header, i) => {
        const sorted = header.dataset.sort === key;
        if (sorted) header.setAttribute('aria-sort', descending ? 'descending' : 'ascending');
        else header.removeAttribute('aria-sort');
        marks[i].textContent = sorted ? (descending ? ' ▼' : ' ▲') : '';
      });
    }

    for (const header of headers) {
      header.querySelector('button').addEventListener('click', () => {
        descending = header.dataset.sort === key ? !descending : false;
        key = header.dataset.sort;
        paintSort();
        onSort(key, descending);
      });
    }

    // The separate sort list chose: ascending, and no header marked for the
    // orders no header stands for.
    function setSort(next) {
      key = next;
      descending = false;
      paintSort();
    }

    const grip = head.querySelector('.col-grip');
    const column = grip.closest('[role="columnheader"]');
    const remPx = () => parseFloat(getComputedStyle(document.documentElement).fontSize) || 16;
    let width = null;

    const shownWidth = () => (width !== null ? width : column.getBoundingClientRect().width / remPx());

    function paintWidth() {
      table.classList.toggle('sized', width !== null);
      if (width === null) table.style.removeProperty('--name-width');
      else table.style.setProperty('--name-width', width + 'rem');
      grip.setAttribute('aria-valuenow', String(Math.round(shownWidth())));
    }

    // From the settings: null gives the column its share of the list again.
    function setWidth(rem) {
      width = typeof rem === 'number' && Number.isFinite(rem) ? clampWidth(rem) : null;
      paintWidth();
    }

    // A drag saves once, when it ends; a key press at once.
    function resizeTo(rem, save) {
      const next = clampWidth(rem);
      if (next !== width) {
        width = next;
        paintWidth();
      }
      if (save && width !== null) onWidth(width);
    }

    grip.addEventListener('pointerdown', (event) => {
      if (event.button !== 0) return;
      event.preventDefault();
      grip.setPointerCapture(event.pointerId);
      const startX = event.clientX;
      const startWidth = shownWidth();
      const move = (e) => resizeTo(startWidth + (e.clientX - startX) / remPx(), false);
      const end = (e) => {
        resizeTo(startWidth + (e.clientX - startX) / remPx(), true);
        grip.removeEventListener('pointermove', move);
        grip.removeEventListener('pointerup', end);
        grip.removeEventListener('pointercancel', end);
      };
      grip.addEventListener('pointermove', move);
      grip.addEventListener('pointerup', end);
      grip.addEventListener('pointercancel', end);
    });

    grip.addEventListener('keydown', (event) => {
      const step = { ArrowRight: KEY_STEP, ArrowUp: KEY_STEP, ArrowLeft: -KEY_STEP, ArrowDown: -KEY_STEP }[event.key];
      if (step === undefined) return;
      event.preventDefault();
      resizeTo(shownWidth() + step, true);
    });

    // The shared width changes with the window: the handle says so.
    if (typeof ResizeObserver === 'function') {
      new ResizeObserver(() => grip.setAttribute('aria-valuenow', String(Math.round(shownWidth())))).observe(column);
    }
    grip.setAttribute('aria-valuemin', String(MIN_WIDTH));
    grip.setAttribute('aria-valuemax', String(MAX_WIDTH));
    paintSort();
    paintWidth();
    return { setSort, setWidth };
  }

  root.VelmoraListHeader = Object.freeze({ create, MIN_WIDTH, MAX_WIDTH });
})(window);
