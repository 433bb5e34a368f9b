// The settings form: shows a settings object and reads one back. It knows the
// controls, not what the settings mean for movies.
(function (root) {
  'use strict';

  const { VelmoraSettings: S, VelmoraTimecode: T, VelmoraReelName: Reel } = root;

  function create(form, { onChange, onChooseDestination }) {
    const field = (id) => form.querySelector('#' + id);
    const radios = (name) => [...form.querySelectorAll('input[name="' + name + '"]')];
    let destination = null;
    let timer = 0;

    function radioValue(name, fallback) {
      const checked = radios(name).find((input) => input.checked);
      return checked ? checked.value : fallback;
    }

    function setRadio(name, value) {
      for (const input of radios(name)) input.checked = input.value === value;
    }

    // The zone as chosen: "fixed" stands for the offset typed beside it.
    function zoneText() {
      const choice = radioValue('timezone', 'camera');
      return choice === 'fixed' ? field('zone-offset').value.trim() : choice;
    }

    // "append" counts only in place, as the backend reads it.
    const outputChoice = (settings) => {
      if (settings.copy) return 'copy';
      return settings.append ? 'append' : 'inplace';
    };

    function read() {
      return S.normalize({
        source: radioValue('source', 'embedded'),
        start: field('start').value,
        continuous: field('continuous').checked,
        mode: field('mode').value,
        offset: field('offset').value,
        direction: field('direction').value,
        timezone: zoneText(),
        reelSource: radioValue('reelSource', 'none'),
        reel: field('reel').value,
        copy: radioValue('output', 'copy') === 'copy',
        append: radioValue('output', 'copy') === 'append',
        destination,
        retain: field('retain').checked,
        rename: field('rename').checked,
        prefix: field('prefix').value,
        number: field('number').checked,
        suffix: field('suffix').value,
        existing: field('existing').value,
        recursive: field('recursive').checked,
      });
    }

    function paintDependent(settings) {
      field('start').disabled = settings.source !== 'custom';
      field('continuous').disabled = settings.source !== 'custom';
      field('zone-offset').disabled = radioValue('timezone', 'camera') !== 'fixed';
      field('reel').disabled = settings.reelSource !== 'custom';
      field('copy-options').disabled = !settings.copy;
      field('rename-options').disabled = !settings.copy || !settings.rename;
      // A renamed output takes the prefix rule, which has no suffix.
      field('suffix').disabled = !settings.copy || settings.rename;
      field('destination-text').textContent = settings.destination === null
        ? '“Velmora Output” beside each movie' : settings.destination;
      field('destination-text').title = settings.destination || '';
      field('destination-clear').disabled = settings.destination === null;
      // Options without effect: the kept structure applies only below a
      // chosen destination, and in place nothing is renamed.
      field('retain').disabled = !settings.copy || settings.destination === null;
      field('name-example-line').hidden = !settings.copy;
      field('inplace-note').classList.toggle('warn-text', outputChoice(settings) === 'inplace');
      field('append-note').classList.toggle('warn-text', outputChoice(settings) === 'append');
    }

    function show(settings) {
      setRadio('source', settings.source);
      field('start').value = settings.start;
      field('mode').value = settings.mode;
      field('offset').value = settings.offset;
      field('direction').value = settings.direction;
      field('continuous').checked = settings.continuous;
      const fixed = !S.CHOICES.timezone.includes(settings.timezone);
      setRadio('timezone', fixed ? 'fixed' : settings.timezone);
      if (fixed) field('zone-offset').value = settings.timezone;
      setRadio('reelSource', settings.reelSource);
      field('reel').value = settings.reel;
      setRadio('output', outputChoice(settings));
      destination = settings.destination;
      field('retain').checked = settings.retain;
      field('rename').checked = settings.rename;
      field('prefix').value = settings.prefix;
      field('number').checked = settings.number;
      field('suffix').value = settings.suffix;
      field('existing').value = settings.existing;
      field('recursive').checked = settings.recursive;
      paintDependent(settings);
    }

    function changed(debounce) {
      clearTimeout(timer);
      const fire = () => {
        const settings = read();
        paintDependent(settings);
        onChange(settings);
      };
      if (debounce) timer = setTimeout(fire, 250);
      else fire();
    }

    function setDestination(path) {
      destination = typeof path === 'string' && path !== '' ? path : null;
      changed(false);
    }

    // Timecode fields are read as typed (10000000 is 10:00:00:00) and only
    // when committed, so no row is left out half-way through typing.
    const TIMECODE_FIELDS = new Set(['start', 'offset']);

    function commitTimecode(input) {
      const entered = T.enterTimecode(input.value);
      if (entered.ok && input.value !== entered.value) input.value = entered.value;
    }

    // Other text fields save while typing (briefly debounced) and at once on commit.
    form.addEventListener('input', (event) => {
      if (event.target.matches('input[type="text"]') && !TIMECODE_FIELDS.has(event.target.id)) changed(true);
    });
    form.addEventListener('keydown', (event) => {
      if (event.key !== 'Enter' || !TIMECODE_FIELDS.has(event.target.id)) return;
      commitTimecode(event.target);
      changed(false);
    });
    form.addEventListener('change', (event) => {
      if (TIMECODE_FIELDS.has(event.target.id)) commitTimecode(event.target);
      // A fixed zone starts from the computer's offset now, ready to edit.
      if (event.target.id === 'timezone-fixed' && field('zone-offset').value.trim() === '') {
        field('zone-offset').value = T.offsetText(-new Date().getTimezoneOffset());
      }
      changed(false);
    });
    form.addEventListener('submit', (event) => event.preventDefault());
    field('destination-choose').addEventListener('click', () => onChooseDestination());
    field('destination-clear').addEventListener('click', () => setDestination(null));

    function showMessage(id, text) {
      const node = field(id);
      node.textContent = text || '';
      node.hidden = !text;
      const input = field(node.dataset.for);
      if (input) input.setAttribute('aria-invalid', text ? 'true' : 'false');
    }

    // While a batch runs its options are fixed; so is the form.
    function setLocked(locked) {
      for (const group of form.querySelectorAll(':scope > fieldset')) group.disabled = locked;
    }

    // What the settings cannot keep but the user typed: an offset or a reel
    // name that is not valid, said next to its field.
    function problems() {
      const zone = radioValue('timezone', 'camera') === 'fixed' && T.fixedOffsetMinutes(zoneText()) === null
        ? S.ZONE_MESSAGE : null;
      const reelText = field('reel').value;
      const reel = radioValue('reelSource', 'none') === 'custom' && reelText !== '' && !Reel.isValid(reelText)
        ? Reel.MESSAGE : null;
      const suffix = S.isValidSuffix(field('suffix').value) ? null : S.SUFFIX_MESSAGE;
      return { zone, reel, suffix };
    }

    return { show, read, problems, setDestination, showMessage, setLocked,
      setExample: (text) => { field('name-example').textContent = text; } };
  }

  root.VelmoraSettingsPanel = Object.freeze({ create });
})(window);
