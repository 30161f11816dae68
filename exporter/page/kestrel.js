// The live page: asks the exporter for a reading once a second while the tab
// is shown, keeps the last ten minutes of every counter here in the browser
// (the exporter keeps nothing between requests), and draws them with
// dygraphs. Counters that share a unit share a chart; a counter without one
// gets a chart of its own.
'use strict';

(() => {
  const READINGS = 'api/v1/readings';
  const INTERVAL_MS = 1000;  // between readings
  const HISTORY = 600;       // points a chart keeps: ten minutes at one a second
  const TALL = 6;            // values beside a chart that make its card two rows high

  // How the counters of each unit are drawn, in the order of their charts.
  // `scale` takes the metric's base unit to the one shown.
  const GROUPS = {
    ratio: { title: 'Activity', unit: '%', scale: 100, range: [0, 100] },
    hertz: { title: 'Clocks', unit: 'MHz', scale: 1e-6 },
    watts: { title: 'Power', unit: 'W', scale: 1 },
    celsius: { title: 'Temperature', unit: '°C', scale: 1 },
    bytes: { title: 'Memory', unit: 'GiB', scale: 1 / 1073741824 },
    bytes_per_second: { title: 'Transfer', unit: 'MB/s', scale: 1e-6 },
    joules: { title: 'Energy', unit: 'kJ', scale: 1e-3 },
  };
  const GROUP_ORDER = Object.keys(GROUPS);
  // A limit or a total is what the others in its chart are measured
  // against: dashed (a percentage of a limit is not one).
  const REFERENCE = /(^|_)(limit|total)(_|$)/;
  const COLOURS = ['#1f77b4', '#e8710a', '#2ca02c', '#d62728', '#9467bd', '#8c564b',
    '#e377c2', '#7f7f7f', '#bcbd22', '#17becf', '#4e79a7', '#f28e2b', '#59a14f', '#b07aa1'];

  // The latest values stand beside each chart. dygraphs' own legend would
  // also write inline styles, which the page's security policy refuses.
  Dygraph.PLUGINS = Dygraph.PLUGINS.filter((plugin) => plugin !== Dygraph.Plugins.Legend);

  const statusLine = document.getElementById('status');
  const main = document.getElementById('gpus');
  const dark = window.matchMedia('(prefers-color-scheme: dark)');

  let layoutKey = '';   // the counters the charts were made for
  let charts = [];      // { graph, element, counters: [index], rows, group }
  let gpus = new Map(); // GPU -> { lost element, lostSince }
  let timer = null;     // the next reading's, while one is due
  let asking = false;   // a reading is on its way
  let lastTime = 0;
  let failingSince = null;

  function element(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function groupOf(counter) {
    return Object.hasOwn(GROUPS, counter.unit) ? counter.unit : null;
  }

  function scaled(counter, group) {
    if (counter.value === null) return null;
    return group ? counter.value * GROUPS[group].scale : counter.value;
  }

  // Few digits for large numbers, more for small ones; never exponents.
  function formatted(value) {
    const size = Math.abs(value);
    const digits = size >= 1000 ? 0 : size >= 100 ? 1 : 2;
    return Number(value.toFixed(digits)).toString();
  }

  function timeOfDay(date) {
    return date.toLocaleTimeString([], { hour12: false });
  }

  function chartOptions(labels, group, colours) {
    const options = {
      labels,
      colors: colours,
      connectSeparatedPoints: false,
      drawPoints: false,
      strokeWidth: 1.5,
      labelsKMB: true,
      axisLineColor: dark.matches ? '#5a6570' : '#b0b8bf',
      gridLineColor: dark.matches ? '#2c3136' : '#e3e7ea',
      axes: { x: { pixelsPerLabel: 70 }, y: { axisLabelWidth: 44 } },
      series: {},
    };
    if (group && GROUPS[group].range) options.valueRange = GROUPS[group].range;
    for (const label of labels.slice(1))
      if (group !== 'ratio' && REFERENCE.test(label)) options.series[label] = { strokePattern: [6, 3] };
    return options;
  }

  function addCard(into, title, unit, counters, group, reading) {
    const card = element('section', counters.length > TALL ? 'card tall' : 'card');
    card.appendChild(element('h3', '', unit ? `${title} (${unit})` : title));
    const graphElement = element('div', 'chart');
    card.appendChild(graphElement);
    const list = element('ul', 'values');
    const values = [];
    const colours = counters.map((_, i) => COLOURS[i % COLOURS.length]);
    counters.forEach((index, i) => {
      const item = element('li');
      const name = element('span', 'name');
      const swatch = element('span', 'swatch');
      swatch.style.background = colours[i];
      name.appendChild(swatch);
      name.appendChild(document.createTextNode(reading.counters[index].counter));
      const value = element('span', 'value', '—');
      value.dataset.counter = reading.counters[index].name;
      item.appendChild(name);
      item.appendChild(value);
      list.appendChild(item);
      values.push(value);
    });
    card.appendChild(list);
    into.appendChild(card);
    const labels = ['time', ...counters.map((index) => reading.counters[index].counter)];
    charts.push({ graphElement, labels, colours, counters, group, unit, values, rows: [], graph: null,
      onScreen: false, stale: false });
  }

  // One section a GPU: its charts by unit, then a chart for each counter
  // that has no unit of ours.
  function layOut(reading) {
    onScreen.disconnect();
    main.replaceChildren();
    charts = [];
    gpus = new Map();
    const byGpu = new Map();
    reading.counters.forEach((counter, index) => {
      if (!byGpu.has(counter.gpu)) byGpu.set(counter.gpu, []);
      byGpu.get(counter.gpu).push(index);
    });
    for (const [gpu, indexes] of byGpu) {
      const section = element('section', 'gpu');
      section.dataset.gpu = gpu;
      section.appendChild(element('h2', '', `GPU ${gpu}`));
      const lost = element('p', 'lost');
      lost.setAttribute('role', 'alert');
      section.appendChild(lost);
      const grid = element('div', 'charts');
      section.appendChild(grid);
      main.appendChild(section);
      gpus.set(gpu, { lost, lostSince: null });
      for (const group of GROUP_ORDER) {
        const members = indexes.filter((index) => groupOf(reading.counters[index]) === group);
        if (members.length > 0)
          addCard(grid, GROUPS[group].title, GROUPS[group].unit, members, group, reading);
      }
      for (const index of indexes)
        if (groupOf(reading.counters[index]) === null)
          addCard(grid, reading.counters[index].counter, '', [index], null, reading);
    }
    // Drawn once they are in the page, so that each takes its card's width.
    for (const chart of charts) {
      chart.graph = new Dygraph(chart.graphElement, [[new Date(), ...chart.counters.map(() => null)]],
        chartOptions(chart.labels, chart.group, chart.colours));
      onScreen.observe(chart.graphElement);
    }
  }

  function say(text, problem) {
    statusLine.textContent = text;
    statusLine.classList.toggle('problem', Boolean(problem));
  }

  function announceLost(reading, time) {
    const readable = new Map();
    for (const counter of reading.counters)
      readable.set(counter.gpu, readable.get(counter.gpu) || counter.value !== null);
    for (const [gpu, state] of gpus) {
      if (readable.get(gpu)) {
        state.lostSince = null;
        state.lost.textContent = '';
      } else {
        if (state.lostSince === null) state.lostSince = time;
        state.lost.textContent =
          `GPU ${gpu} is lost: none of its counters can be read since ${timeOfDay(state.lostSince)}.`;
      }
    }
  }

  function draw(reading) {
    const time = new Date(reading.time * 1000);
    if (!reading.up) {
      say('No counter library is loaded: there are no counters to draw.', true);
      return;
    }
    const key = reading.counters.map((counter) => counter.name).join('\n');
    if (key !== layoutKey) {
      layOut(reading);
      layoutKey = key;
    }
    if (reading.counters.length === 0) say('The counter library offers no counters.', true);
    else say('');
    // A gap in the readings (a hidden tab, an exporter that did not answer)
    // stays a gap: no line is drawn across it.
    const gap = lastTime !== 0 && reading.time - lastTime > 3 * INTERVAL_MS / 1000;
    if (reading.time === lastTime) return;  // the same reading again
    lastTime = reading.time;
    for (const chart of charts) {
      const row = chart.counters.map((index) => scaled(reading.counters[index], chart.group));
      if (gap) chart.rows.push([new Date(time.getTime() - 1), ...row.map(() => null)]);
      chart.rows.push([time, ...row]);
      if (chart.rows.length > HISTORY) chart.rows.splice(0, chart.rows.length - HISTORY);
      chart.graphElement.dataset.points = String(chart.rows.length);
      if (chart.onScreen) chart.graph.updateOptions({ file: chart.rows });
      else chart.stale = true;
      row.forEach((value, i) => {
        const unit = chart.unit ? ` ${chart.unit}` : '';
        chart.values[i].textContent = value === null ? '—' : formatted(value) + unit;
      });
    }
    announceLost(reading, time);
  }

  async function ask() {
    timer = null;
    asking = true;
    try {
      const answer = await fetch(READINGS, { cache: 'no-store' });
      if (!answer.ok) throw new Error(`${answer.status} ${answer.statusText}`);
      draw(await answer.json());
      failingSince = null;
    } catch (error) {
      if (failingSince === null) failingSince = new Date();
      say(`The exporter has not answered since ${timeOfDay(failingSince)} (${error.message}); ` +
          'asking again every second.', true);
    }
    asking = false;
    if (!document.hidden) timer = setTimeout(ask, INTERVAL_MS);
  }

  document.addEventListener('visibilitychange', () => {
    if (document.hidden) {
      clearTimeout(timer);
      timer = null;
    } else if (timer === null && !asking) {
      ask();
    }
  });

  dark.addEventListener('change', () => {
    for (const chart of charts)
      chart.graph.updateOptions(chartOptions(chart.labels, chart.group, chart.colours));
  });

  // A chart out of sight keeps its points but is drawn only when it comes
  // into sight: with many GPUs, most charts are.
  const onScreen = new IntersectionObserver((entries) => {
    for (const entry of entries) {
      const chart = charts.find((candidate) => candidate.graphElement === entry.target);
      if (!chart) continue;
      chart.onScreen = entry.isIntersecting;
      if (chart.onScreen && chart.stale) {
        chart.graph.updateOptions({ file: chart.rows });
        chart.stale = false;
      }
    }
  });

  // dygraphs sizes a chart once, when it is made: follow the page's width.
  window.addEventListener('resize', () => {
    for (const chart of charts) chart.graph.resize();
  });

  ask();
})();
