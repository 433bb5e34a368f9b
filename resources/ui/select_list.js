// The lists the page's selects open, drawn by the page: WebKitGTK shows a
// select's options in a GTK popover that ignores the page's style (a black
// frame and the desktop's accent in either scheme). The select stays the
// control, with its value, label and change event; only its open list is ours.
(function (root) {
  'use strict';

  let open = null; // {select, list, items, active} while a list is open

  const usable = (select) => [...select.options];

  function paintActive() {
    open.items.forEach((item, i) => item.classList.toggle('active', i === open.active));
    const item = open.items[open.active];
    if (!item) return;
    open.list.setAttribute('aria-activedescendant', item.id);
    item.scrollIntoView({ block: 'nearest' });
  }

  // The next option that can be chosen from `from` in direction `step`.
  function move(from, step) {
    const options = usable(open.select);
    for (let i = from + step; i >= 0 && i < options.length; i += step) {
      if (!options[i].disabled) return i;
    }
    return from;
  }

  function close(choose) {
    if (!open) return;
    const { select, list, active } = open;
    open = null;
    list.remove();
    select.focus();
    const option = usable(select)[active];
    if (!choose || !option || option.disabled || select.value === option.value) return;
    select.value = option.value;
    select.dispatchEvent(new Event('input', { bubbles: true }));
    select.dispatchEvent(new Event('change', { bubbles: true }));
  }

  // Below the select, or above it where the window ends first.
  function place(list, select) {
    const box = select.getBoundingClientRect();
    list.style.minWidth = box.width + 'px';
    list.style.left = Math.max(0, Math.min(box.left, window.innerWidth - list.offsetWidth)) + 'px';
    const below = window.innerHeight - box.bottom;
    const up = list.offsetHeight > below && box.top > below;
    list.style.maxHeight = Math.max(below, box.top) - 8 + 'px';
    list.style.top = (up ? Math.max(0, box.top - list.offsetHeight) : box.bottom) + 'px';
  }

  function onListKey(event) {
    const keys = {
      ArrowDown: () => move(open.active, 1), ArrowUp: () => move(open.active, -1),
      Home: () => move(-1, 1), End: () => move(open.items.length, -1),
    };
    if (keys[event.key]) {
      open.active = keys[event.key]();
      paintActive();
    } else if (event.key === 'Enter' || event.key === ' ') {
      close(true);
    } else if (event.key === 'Escape') {
      close(false);
    } else if (event.key === 'Tab') {
      close(false);
      return; // Tab goes on from the select
    } else if (event.key.length === 1 && !event.ctrlKey && !event.altKey && !event.metaKey) {
      // Type-ahead: the next option starting with the letter.
      const letter = event.key.toLowerCase();
      const options = usable(open.select);
      for (let n = 1; n <= options.length; n += 1) {
        const i = (open.active + n) % options.length;
        if (!options[i].disabled && options[i].textContent.trim().toLowerCase().startsWith(letter)) {
          open.active = i;
          break;
        }
      }
      paintActive();
    } else {
      return;
    }
    // Escape here closes the list and nothing else, such as a running batch.
    event.preventDefault();
    event.stopPropagation();
  }

  function show(select) {
    if (select.disabled) return;
    close(false);
    const list = document.createElement('div');
    list.className = 'select-list';
    list.setAttribute('role', 'listbox');
    list.tabIndex = -1;
    const labels = select.labels && select.labels.length ? select.labels[0].textContent : null;
    list.setAttribute('aria-label', labels || select.getAttribute('aria-label') || '');
    const items = usable(select).map((option, i) => {
      const item = document.createElement('div');
      item.id = 'select-list-option-' + i;
      item.setAttribute('role', 'option');
      item.setAttribute('aria-selected', String(option.selected));
      if (option.disabled) item.setAttribute('aria-disabled', 'true');
      item.textContent = option.textContent;
      item.addEventListener('mousemove', () => {
        if (open && open.active !== i && !option.disabled) {
          open.active = i;
          paintActive();
        }
      });
      item.addEventListener('click', () => {
        if (option.disabled) return;
        open.active = i;
        close(true);
      });
      return item;
    });
    list.append(...items);
    list.addEventListener('keydown', onListKey);
    document.body.append(list);
    place(list, select);
    open = { select, list, items, active: Math.max(0, select.selectedIndex) };
    list.focus();
    paintActive();
  }

  const OPENING_KEYS = new Set([' ', 'Enter', 'F4']);

  function install(doc) {
    doc.addEventListener('mousedown', (event) => {
      if (open && !open.list.contains(event.target)) {
        // A press on the open list's own select closes it, as a native one does.
        const same = event.target === open.select;
        close(false);
        if (same) {
          event.preventDefault();
          return;
        }
      }
      const select = event.target.closest && event.target.closest('select');
      if (!select || event.button !== 0 || select.disabled) return;
      event.preventDefault();
      select.focus();
      show(select);
    }, true);
    doc.addEventListener('keydown', (event) => {
      const select = event.target;
      if (!(select instanceof HTMLSelectElement) || select.disabled) return;
      const altArrow = event.altKey && (event.key === 'ArrowDown' || event.key === 'ArrowUp');
      if (!altArrow && !(OPENING_KEYS.has(event.key) && !event.ctrlKey && !event.altKey)) return;
      event.preventDefault();
      show(select);
    }, true);
    // A list stays where its select is: anything that moves the page closes it.
    root.addEventListener('resize', () => close(false));
    root.addEventListener('blur', () => close(false));
    doc.addEventListener('scroll', (event) => {
      if (open && event.target !== open.list) close(false);
    }, true);
  }

  root.VelmoraSelectList = Object.freeze({ install, isOpen: () => open !== null });
  install(root.document);
})(window);
