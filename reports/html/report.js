// The report pages of tumblewatch: an evaluation (tables, the recordings and
// the chart of the one selected), the chart of a single recording, and the
// scatter of a sweep's configurations. Everything the page shows is in the
// page itself: the report's data as JSON, each recording's series packed
// (16-bit differences, compressed, base64) in a script element of its own.
(function () {
  'use strict';

  const data = JSON.parse(document.getElementById('report-data').textContent);
  const app = document.getElementById('app');

  // What the page did, for people at the console and for the browser tests.
  const state = {
    kind: data.kind,
    ready: false,
    readyMs: null,
    selected: null,
    panels: [],
    scatters: [],
    markers: 0,  // alarm markers in the latest drawing of the first panel
    chart: null,
    select: null,
    zoomTo: null,
    nested: null,  // the nested selection's chart, when the sweep's page has one
  };
  window.tumblewatchReport = state;

  // ---- small helpers -------------------------------------------------------

  function el(tag, attrs, children) {
    const e = document.createElement(tag);
    if (attrs) {
      for (const [k, v] of Object.entries(attrs)) {
        if (v == null) continue;
        if (k === 'text') e.textContent = v;
        else if (k === 'class') e.className = v;
        else if (k.startsWith('on')) e.addEventListener(k.slice(2), v);
        else e.setAttribute(k, v);
      }
    }
    for (const c of children || []) {
      if (c != null) e.append(c);
    }
    return e;
  }

  function fixed(v, digits) {
    return v == null || Number.isNaN(v) ? '-' : Number(v).toFixed(digits);
  }

  // An interval given as [lower, upper] as {lower, upper}.
  function pair(i) {
    return i ? { lower: i[0], upper: i[1] } : null;
  }

  // An interval {lower, upper} as "[lower, upper]", "-" when undefined.
  function interval(i, digits) {
    return i ? '[' + fixed(i.lower, digits) + ', ' + fixed(i.upper, digits) + ']' : '-';
  }

  // The confidence level of a report's intervals as "95 %".
  function level(intervals) {
    return intervals ? String(Math.round(intervals.confidence * 1000) / 10) + ' %' : '';
  }

  function table(headers, rows, cls) {
    const head = el('tr', null, headers.map(h => el('th', { class: h.text ? 'text' : null, text: h.label })));
    const body = rows.map(r => el('tr', null, r.map((v, i) =>
      el('td', { class: headers[i].text ? 'text' : null, text: v }))));
    return el('table', { class: cls }, [el('thead', null, [head]), el('tbody', null, body)]);
  }

  function markReady() {
    if (state.ready) return;
    state.ready = true;
    state.readyMs = performance.now();
    document.documentElement.dataset.ready = 'true';
  }

  function fail(message) {
    app.append(el('p', { class: 'error', text: message }));
    console.error('tumblewatch report: ' + message);
  }

  // ---- the recording's series ----------------------------------------------

  // Why the block of name holds no series, or null.
  function blockFailure(name) {
    const holder = document.getElementById('series-' + name);
    return holder && holder.dataset.failure ? holder.dataset.failure : null;
  }

  // Unpacks the series of block name: n values of each series in order.
  async function decodeSeries(name, n, columns) {
    const holder = document.getElementById('series-' + name);
    if (!holder) throw new Error('the page lacks the series of block ' + name);
    if (holder.dataset.failure) throw new Error(holder.dataset.failure);
    const text = atob(holder.textContent.trim());
    const packed = new Uint8Array(text.length);
    for (let i = 0; i < text.length; i++) packed[i] = text.charCodeAt(i);
    const stream = new Blob([packed]).stream().pipeThrough(new DecompressionStream('deflate'));
    const bytes = new Uint8Array(await new Response(stream).arrayBuffer());
    if (bytes.length !== n * 2 * columns.length) {
      throw new Error('block ' + name + ' holds ' + bytes.length + ' bytes, not ' + n * 2 * columns.length);
    }
    const series = {};
    columns.forEach((column, s) => {
      const low = bytes.subarray(2 * n * s, 2 * n * s + n);
      const high = bytes.subarray(2 * n * s + n, 2 * n * (s + 1));
      const values = new Uint16Array(n);
      let v = 0;
      for (let i = 0; i < n; i++) {
        v = (v + (low[i] | (high[i] << 8))) & 0xffff;
        values[i] = v;
      }
      series[column.key] = column.signed ? new Int16Array(values.buffer) : values;
    });
    return series;
  }

  // Minimum and maximum per bucket of 4^k samples, level by level, built
  // when a zoom needs them: a view never holds more than about two points
  // per pixel, however long the recording. A recording too long for the
  // page comes as its level of bucket samples already (minimum and maximum
  // of each bucket in turn); the finer levels are not in the page.
  class Pyramid {
    constructor(series, n, bucket) {
      this.n = n;
      if (bucket > 1) {
        const min = {};
        const max = {};
        const count = Math.ceil(n / bucket);
        for (const key of Object.keys(series)) {
          const pairs = series[key];
          min[key] = new pairs.constructor(count);
          max[key] = new pairs.constructor(count);
          for (let j = 0; j < count; j++) {
            min[key][j] = pairs[2 * j];
            max[key][j] = pairs[2 * j + 1];
          }
        }
        this.base = Math.round(Math.log(bucket) / Math.log(4));
        this.levels = [{ size: bucket, count, min, max }];
      } else {
        this.base = 0;
        this.levels = [{ size: 1, count: n, min: series, max: series }];
      }
    }

    level(k) {
      k = Math.max(0, k - this.base);
      while (this.levels.length <= k) {
        const fine = this.levels[this.levels.length - 1];
        const count = Math.ceil(fine.count / 4);
        const min = {};
        const max = {};
        for (const key of Object.keys(fine.min)) {
          const fmin = fine.min[key];
          const fmax = fine.max[key];
          const lo = new fmin.constructor(count);
          const hi = new fmax.constructor(count);
          for (let j = 0; j < count; j++) {
            const a = 4 * j;
            const b = Math.min(a + 4, fine.count);
            let mn = fmin[a];
            let mx = fmax[a];
            for (let i = a + 1; i < b; i++) {
              if (fmin[i] < mn) mn = fmin[i];
              if (fmax[i] > mx) mx = fmax[i];
            }
            lo[j] = mn;
            hi[j] = mx;
          }
          min[key] = lo;
          max[key] = hi;
        }
        this.levels.push({ size: fine.size * 4, count, min, max });
      }
      return this.levels[k];
    }

    // The points of samples [a, b] for a plot of width pixels: x in
    // seconds and the values of each key (scaled), with one point beyond
    // each end so that lines reach the edges.
    view(a, b, width, keys, scales, rate) {
      const span = Math.max(1, b - a);
      let k = 0;
      while (span / Math.pow(4, k) > width && Math.pow(4, k) < this.n) k++;
      const lv = this.level(k);
      const first = Math.max(0, Math.floor(a / lv.size) - 1);
      const last = Math.min(lv.count - 1, Math.ceil(b / lv.size) + 1);
      const per = lv.size === 1 ? 1 : 2;
      const count = Math.max(0, (last - first + 1) * per);
      const x = new Float64Array(count);
      const ys = keys.map(() => new Float64Array(count));
      for (let j = first, p = 0; j <= last; j++) {
        const start = j * lv.size;
        x[p] = start / rate;
        if (per === 2) x[p + 1] = Math.min(start + lv.size / 2, this.n - 1) / rate;
        keys.forEach((key, s) => {
          const scale = scales[s];
          ys[s][p] = lv.min[key][j] * scale;
          if (per === 2) ys[s][p + 1] = lv.max[key][j] * scale;
        });
        p += per;
      }
      return { x, ys, bucket: lv.size };
    }
  }

  // ---- the chart of a recording ----------------------------------------------

  const COLORS = ['#1f77b4', '#ff7f0e', '#2ca02c', '#9467bd', '#17becf', '#8c564b', '#e377c2', '#7f7f7f'];
  const ALARM = '#e00000';
  const IMPACT = '#6a3fb5';
  const MARK = '#d97706';
  const THRESHOLD = '#555555';

  // The stacked panels: which series each shows, and the configuration's
  // thresholds drawn as dashed lines (legend entries like the series).
  function panelsOf(config) {
    const cfg = name => config[name];
    return [
      {
        title: 'Acceleration magnitude (0.01 g)',
        series: [
          { key: 'accRawMag', label: 'raw' },
          { key: 'accLpfMag', label: 'filtered' },
          { key: 'accLpf2Mag', label: 'second-filtered' },
          { key: 'accRawSum3', label: 'raw, mean of 3 (3-sample sum / 3)', scale: 1 / 3, show: false },
        ],
        lines: [
          { label: 'impactHardSum / 3 = ' + fixed(cfg('impactHardSum') / 3, 1), value: cfg('impactHardSum') / 3 },
          { label: 'impactSoftSum / 3 = ' + fixed(cfg('impactSoftSum') / 3, 1), value: cfg('impactSoftSum') / 3 },
        ],
      },
      {
        title: 'Rotation magnitude (deg/s)',
        series: [
          { key: 'gyroRawMag', label: 'raw' },
          { key: 'gyroLpfMag', label: 'filtered' },
          { key: 'gyroLpfAvg5', label: 'filtered, mean of 5', show: false },
        ],
        lines: [
          { label: 'rotationLow = ' + cfg('rotationLow'), value: cfg('rotationLow') },
          { label: 'rotationHigh = ' + cfg('rotationHigh'), value: cfg('rotationHigh') },
        ],
      },
      {
        title: 'Attitude (degrees)',
        series: [{ key: 'pitch', label: 'pitch' }, { key: 'tilt', label: 'tilt' }],
        lines: [
          { label: 'pitchLimit = ' + cfg('pitchLimit'), value: cfg('pitchLimit') },
          { label: '-pitchLimit', value: -cfg('pitchLimit') },
          { label: 'tiltLimit = ' + cfg('tiltLimit'), value: cfg('tiltLimit') },
        ],
      },
      {
        title: 'Low-g phase tracker (samples)',
        stepped: true,
        series: [
          { key: 'fallLength', label: 'fallLength' },
          { key: 'quietRun', label: 'quietRun' },
          { key: 'fallDeepCount', label: 'fallDeepCount' },
          { key: 'fallScore', label: 'fallScore' },
        ],
        lines: [],
      },
      {
        title: 'Jump and tumble (samples)',
        stepped: true,
        series: [{ key: 'jumpScore', label: 'jump score' }, { key: 'tumbleRun', label: 'tumble run' }],
        lines: [{ label: 'tumbleLength = ' + cfg('tumbleLength'), value: cfg('tumbleLength') }],
      },
    ];
  }

  function timeText(seconds, rate) {
    if (seconds == null) return '-';
    return seconds.toFixed(2) + ' s, sample ' + Math.round(seconds * rate);
  }

  // Vertical markers on a panel: events shaded, the impact dashed, every
  // alarm a line (labelled with its code on the first panel). Drawn from
  // the alarm list itself, so that no zoom level loses one.
  function drawMarkers(u, rec, labelled) {
    const ctx = u.ctx;
    const { left, top, width, height } = u.bbox;
    const xmin = u.scales.x.min;
    const xmax = u.scales.x.max;
    const px = v => u.valToPos(v, 'x', true);
    const ratio = window.devicePixelRatio || 1;
    ctx.save();
    ctx.beginPath();
    ctx.rect(left, top, width, height);
    ctx.clip();
    if (rec.window) {
      // A timed fall's window: the alarms in it detect the fall.
      const a = rec.window[0] / rec.rate;
      const b = (rec.window[1] + 1) / rec.rate;
      if (b >= xmin && a <= xmax) {
        ctx.fillStyle = 'rgba(0, 160, 80, 0.12)';
        ctx.fillRect(px(a), top, Math.max(px(b) - px(a), 2 * ratio), height);
      }
    }
    ctx.fillStyle = 'rgba(224, 0, 0, 0.10)';
    for (const e of rec.events) {
      const a = e.first / rec.rate;
      const b = e.last / rec.rate;
      if (b < xmin || a > xmax) continue;
      const x0 = px(a);
      const x1 = Math.max(px(b), x0 + 3 * ratio);
      ctx.fillRect(x0 - 1.5 * ratio, top, x1 - x0 + 3 * ratio, height);
    }
    if (rec.impact != null) {
      const t = rec.impact / rec.rate;
      if (t >= xmin && t <= xmax) {
        ctx.strokeStyle = IMPACT;
        ctx.lineWidth = 2 * ratio;
        ctx.setLineDash([6 * ratio, 4 * ratio]);
        ctx.beginPath();
        ctx.moveTo(Math.round(px(t)), top);
        ctx.lineTo(Math.round(px(t)), top + height);
        ctx.stroke();
        ctx.setLineDash([]);
        if (labelled) {
          ctx.fillStyle = IMPACT;
          ctx.font = 11 * ratio + 'px sans-serif';
          ctx.fillText('impact', Math.round(px(t)) + 4 * ratio, top + height - 6 * ratio);
        }
      }
    }
    ctx.strokeStyle = ALARM;
    ctx.fillStyle = ALARM;
    ctx.lineWidth = 2 * ratio;
    ctx.font = 'bold ' + 11 * ratio + 'px sans-serif';
    let lastLabel = -Infinity;
    let drawn = 0;
    for (const a of rec.alarms) {
      const t = a.sample / rec.rate;
      if (t < xmin || t > xmax) continue;
      const x = Math.round(px(t));
      ctx.beginPath();
      ctx.moveTo(x, top);
      ctx.lineTo(x, top + height);
      ctx.stroke();
      drawn++;
      if (labelled && x - lastLabel > 24 * ratio) {
        ctx.fillText(String(a.code), x + 3 * ratio, top + 12 * ratio);
        lastLabel = x;
      }
    }
    // An explanation's marks: each criterion's closest approach.
    ctx.strokeStyle = MARK;
    ctx.fillStyle = MARK;
    ctx.setLineDash([2 * ratio, 3 * ratio]);
    ctx.font = 11 * ratio + 'px sans-serif';
    let row = 0;
    for (const m of rec.marks || []) {
      const t = m.sample / rec.rate;
      if (t < xmin || t > xmax) continue;
      const x = Math.round(px(t));
      ctx.beginPath();
      ctx.moveTo(x, top);
      ctx.lineTo(x, top + height);
      ctx.stroke();
      if (labelled) {
        ctx.fillText(m.text, x + 3 * ratio, top + (26 + 13 * (row++ % 6)) * ratio);
      }
    }
    ctx.setLineDash([]);
    ctx.restore();
    if (labelled) state.markers = drawn;
  }

  // The stacked panels of one recording on a shared time axis: drag to
  // zoom, double-click to see the whole recording again.
  class RecordingChart {
    constructor(host, rec, series, config) {
      this.host = host;
      this.rec = rec;
      this.pyramid = new Pyramid(series, rec.samples, rec.bucket);
      this.end = Math.max(rec.samples - 1, 1) / rec.rate;
      this.range = [0, this.end];
      this.updating = false;
      this.pending = null;
      this.defs = panelsOf(config);
      this.readout = el('div', { class: 'readout', text: 'Hover for values; drag across a panel to zoom in, double-click to see the whole recording.' });
      host.append(this.readout);
      this.plots = this.defs.map((def, i) => this.makePanel(def, i));
      this.render();
      this.onResize = () => this.resize();
      window.addEventListener('resize', this.onResize);
    }

    width() {
      return Math.max(400, this.host.clientWidth - 8);
    }

    makePanel(def, index) {
      const rate = this.rec.rate;
      const box = el('div', { class: 'panel' }, [el('div', { class: 'panel-title', text: def.title })]);
      this.host.append(box);
      const stepped = def.stepped ? uPlot.paths.stepped({ align: 1 }) : undefined;
      const series = [{ label: 'time', value: (u, v) => timeText(v, rate) }];
      def.series.forEach((s, i) => {
        series.push({
          label: s.label,
          stroke: COLORS[i % COLORS.length],
          width: 1.25,
          show: s.show !== false,
          paths: stepped,
          points: { show: false },
          value: (u, v) => (v == null ? '-' : (Number.isInteger(v) ? String(v) : v.toFixed(1))),
        });
      });
      def.lines.forEach(line => {
        series.push({
          label: line.label,
          stroke: THRESHOLD,
          width: 1,
          dash: [5, 4],
          points: { show: false },
          value: () => String(Number.isInteger(line.value) ? line.value : line.value.toFixed(1)),
        });
      });
      const chart = this;
      const opts = {
        width: this.width(),
        height: index === 0 ? 210 : 160,
        series,
        // A little room above and below, so that a flat line on its
        // minimum or maximum stays in sight.
        scales: {
          x: { time: false },
          y: {
            range: (u, mn, mx) => {
              if (mn == null || mx == null) return [0, 1];
              const pad = Math.max((mx - mn) * 0.05, 1);
              return [mn - pad, mx + pad];
            },
          },
        },
        axes: [
          { label: index === this.defs.length - 1 ? 'time (s)' : null, size: index === this.defs.length - 1 ? 50 : 30 },
          { size: 56 },
        ],
        legend: { show: true, live: true },
        cursor: {
          sync: { key: 'recording-' + this.rec.block, setSeries: false },
          drag: { x: true, y: false, setScale: true },
          bind: {
            dblclick: () => () => {
              chart.setRange(0, chart.end);
              return null;
            },
          },
        },
        hooks: {
          draw: [u => drawMarkers(u, this.rec, index === 0)],
          setScale: [(u, key) => {
            if (key === 'x' && !chart.updating) chart.schedule(u.scales.x.min, u.scales.x.max);
          }],
          setCursor: [u => {
            const t = u.cursor.left >= 0 ? u.posToVal(u.cursor.left, 'x') : null;
            chart.showReadout(t);
          }],
        },
      };
      const u = new uPlot(opts, [[]].concat(series.slice(1).map(() => [])), box);
      u.panelDef = def;
      return u;
    }

    // The view and, under the cursor, its time and sample.
    showReadout(t) {
      const rate = this.rec.rate;
      const [min, max] = this.range;
      const view = 'view ' + min.toFixed(2) + ' to ' + max.toFixed(2) + ' s (' + Math.round((max - min) * rate + 1) +
        ' samples' + (this.bucket > 1 ? '; each point the min or max of ' + this.bucket + ' samples' +
        (this.rec.bucket > 1 && this.bucket === this.rec.bucket ? ', the finest this long recording is kept in' : ', zoom in for single samples') : '') + ')';
      this.readout.textContent = (t != null ? timeText(t, rate) + '; ' : '') + view +
        '. Drag across a panel to zoom in, double-click to see the whole recording.';
    }

    schedule(min, max) {
      this.pending = [min, max];
      if (this.scheduled) return;
      this.scheduled = true;
      requestAnimationFrame(() => {
        this.scheduled = false;
        const [a, b] = this.pending;
        this.setRange(a, b);
      });
    }

    setRange(min, max) {
      const least = 4 / this.rec.rate;
      min = Math.max(0, Math.min(min, this.end));
      max = Math.max(0, Math.min(max, this.end));
      if (max - min < least) {
        const mid = (min + max) / 2;
        min = Math.max(0, mid - least / 2);
        max = Math.min(this.end, min + least);
      }
      this.range = [min, max];
      this.render();
    }

    render() {
      const rate = this.rec.rate;
      const [min, max] = this.range;
      const width = this.width();
      this.updating = true;
      try {
        for (const u of this.plots) {
          const def = u.panelDef;
          const keys = def.series.map(s => s.key);
          const scales = def.series.map(s => s.scale || 1);
          const v = this.pyramid.view(min * rate, max * rate, width, keys, scales, rate);
          this.bucket = v.bucket;
          const lines = def.lines.map(line => new Float64Array(v.x.length).fill(line.value));
          u.batch(() => {
            u.setData([v.x].concat(v.ys, lines), false);
            u.setScale('x', { min, max });
          });
        }
      } finally {
        this.updating = false;
      }
      this.showReadout(null);
    }

    resize() {
      const width = this.width();
      for (const u of this.plots) u.setSize({ width, height: u.height });
      this.render();
    }

    destroy() {
      window.removeEventListener('resize', this.onResize);
      for (const u of this.plots) u.destroy();
      this.host.textContent = '';
    }
  }

  // The recording of report index i as the chart needs it.
  function recordingOf(i) {
    const r = data.report.recordings[i];
    const c = data.charts[i];
    return {
      index: i,
      block: c && c.block,
      samples: c ? c.samples : 0,
      bucket: c && c.bucket ? c.bucket : 1,
      rate: data.chart.rate,
      alarms: r.alarms || [],
      events: r.events || [],
      impact: r.impact ? r.impact.sample : null,
      impactSource: r.impact ? r.impact.source : null,
      window: r.fall_window ? [r.fall_window.first, r.fall_window.last] : null,
      marks: r.marks || [],
    };
  }

  const decoded = new Map();

  async function seriesOf(rec) {
    if (!decoded.has(rec.block)) {
      const values = rec.bucket > 1 ? 2 * Math.ceil(rec.samples / rec.bucket) : rec.samples;
      decoded.set(rec.block, await decodeSeries(rec.block, values, data.chart.series));
      // Keep a few recordings unpacked; a long list need not stay in memory.
      if (decoded.size > 6) decoded.delete(decoded.keys().next().value);
    }
    return decoded.get(rec.block);
  }

  let current = null;

  // Shows the chart of recording i below its heading, replacing any other.
  async function showRecording(i, host) {
    const r = data.report.recordings[i];
    const c = data.charts[i];
    if (current) {
      current.destroy();
      current = null;
    }
    host.textContent = '';
    state.selected = i;
    state.panels = [];
    const rec = recordingOf(i);
    const head = el('div', { class: 'chart-head' }, [
      el('span', { class: 'title', text: r.path }),
      outcomeBadge(r),
      el('span', { class: 'meta', text: [[r.activity, r.description && '(' + r.description + ')'].filter(Boolean).join(' '),
        r.subject].filter(Boolean).join(', ') }),
      r.read ? el('span', { class: 'meta', text: r.samples + ' samples, ' + fixed(r.duration_s, 1) + ' s' }) : null,
    ]);
    host.append(head);
    if (!r.read) {
      host.append(el('p', { class: 'error', text: 'Not read: ' + r.failure }));
      return;
    }
    const failure = c && c.block ? blockFailure(c.block) : null;
    if (!c || !c.block || failure) {
      host.append(el('p', { class: 'error', text: 'No chart: ' + (failure || (c && c.failure) || 'none was written') }));
      return;
    }
    const jumps = el('div', { class: 'alarms' });
    if (rec.impact != null) {
      jumps.append(el('button', {
        class: 'impact', type: 'button',
        text: 'impact ' + fixed(rec.impact / rec.rate, 2) + ' s (' + rec.impactSource + ')',
        onclick: () => current && current.setRange(rec.impact / rec.rate - 5, rec.impact / rec.rate + 5),
      }));
    }
    // One button per alarm event (alarms merged as in the report), which
    // zooms to it.
    rec.events.slice(0, 200).forEach(e => {
      const codes = [...new Set(rec.alarms.filter(a => a.sample >= e.first && a.sample <= e.last).map(a => a.code))];
      const a = e.first / rec.rate;
      const b = e.last / rec.rate;
      jumps.append(el('button', {
        type: 'button',
        text: 'code ' + codes.join(', ') + ' at ' + fixed(a, 2) + ' s' + (e.alarms > 1 ? ' (' + e.alarms + ' alarms)' : ''),
        title: 'samples ' + e.first + ' to ' + e.last,
        onclick: () => current && current.setRange(a - 5, b + 5),
      }));
    });
    if (rec.events.length > 200) jumps.append(el('span', { class: 'hint', text: '... ' + (rec.events.length - 200) + ' more alarm events' }));
    if (rec.alarms.length === 0) jumps.append(el('span', { class: 'hint', text: 'no alarm' }));
    if (r.alarm_count > rec.alarms.length) {
      jumps.append(el('span', { class: 'hint', text: 'the first ' + rec.alarms.length + ' of ' + r.alarm_count +
        ' alarms are marked' }));
    }
    host.append(jumps);
    const panels = el('div');
    host.append(panels);
    const series = await seriesOf(rec);
    if (state.selected !== i) return;  // another recording was chosen meanwhile
    current = new RecordingChart(panels, rec, series, data.report.config);
    state.chart = current;
    state.panels = current.plots;
    state.zoomTo = (a, b) => current.setRange(a, b);
  }

  function outcomeOf(r) {
    if (!r.read) return ['unreadable', 'unreadable'];
    if (r.label === 'fall') return r.detected ? ['detected', 'detected fall'] : ['missed', 'missed fall'];
    if (r.label === 'adl') return r.detected ? ['false-alarm', 'false alarm'] : ['quiet', 'no alarm'];
    return ['unlabelled', r.detected ? 'unlabelled, alarms' : 'unlabelled'];
  }

  function outcomeBadge(r) {
    const [cls, text] = outcomeOf(r);
    return el('span', { class: 'badge ' + cls, text });
  }

  function header(title) {
    const rep = data.report;
    app.append(el('h1', { text: title }));
    const parts = ['tumblewatch ' + data.kind + ' ' + rep.version];
    if ((rep.inputs || []).length) parts.push(rep.inputs.join(' '));
    if (rep.manifest) parts.push('labels ' + rep.manifest);
    parts.push('events merge alarms less than ' + rep.merge_seconds + ' s apart');
    app.append(el('p', { class: 'meta', text: parts.join('; ') }));
    app.append(el('p', { class: 'meta', text: 'Configuration: ' +
      (data.config_changes.length ? data.config_changes.join(' ') : 'the defaults') }));
  }

  // ---- the evaluation's page ----------------------------------------------

  // Every metric per dataset, when the manifests name datasets.
  function renderDatasets(rep) {
    if (!rep.by_dataset || !rep.by_dataset.length) return;
    app.append(el('h2', { text: 'By dataset' }));
    app.append(table(
      [{ label: 'dataset', text: true }, { label: 'falls' }, { label: 'TP' }, { label: 'FN' }, { label: 'ADLs' },
        { label: 'FP' }, { label: 'TN' }, { label: 'sensitivity' }, { label: 'specificity' }, { label: 'F1' },
        { label: 'false alarms per hour' }],
      rep.by_dataset.map(d => [d.dataset || '-', d.falls, d.tp, d.fn, d.adls, d.fp, d.tn, fixed(d.sensitivity, 3),
        fixed(d.specificity, 3), fixed(d.f1, 3), fixed(d.false_alarms_per_hour, 2)]), 'datasets'));
  }

  // The fall window's figures and the timed falls with alarms outside their windows.
  function renderOutsideWindow(rep) {
    const s = rep.summary;
    if (!s.timed_falls) return;
    const w = rep.fall_window || {};
    app.append(el('h2', { text: 'Fall window' }));
    app.append(el('p', { class: 'meta', text: s.timed_falls + ' of ' + s.falls + ' falls have their own timing; ' +
      'each counts as detected by an alarm from ' + w.before_s + ' s before the fall starts to ' + w.after_s +
      ' s after it ends. Latency is from the fall\'s start (median ' + fixed(s.latency_median, 2) +
      ' s) and to its end (median ' + fixed(s.latency_end_median, 2) + ' s). Outside the windows: ' +
      s.early_events + ' early and ' + s.late_events + ' late alarm events in ' + fixed(s.outside_hours, 3) +
      ' h, ' + fixed(s.outside_events_per_hour, 2) + ' per hour.' }));
    const outside = rep.recordings.filter(r => r.fall_window &&
      (r.fall_window.early_alarms > 0 || r.fall_window.late_alarms > 0));
    if (!outside.length) return;
    app.append(table(
      [{ label: 'recording', text: true }, { label: 'window (samples)', text: true }, { label: 'early events' },
        { label: 'late events' }, { label: 'first alarm in it' }],
      outside.map(r => [r.relative_path, r.fall_window.first + ' .. ' + r.fall_window.last,
        r.fall_window.early_events, r.fall_window.late_events,
        r.fall_window.first_alarm == null ? '-' : r.fall_window.first_alarm]), 'outside'));
  }

  function renderEval() {
    const rep = data.report;
    const s = rep.summary;
    header('tumblewatch eval: ' + rep.recordings.length + ' recordings');

    app.append(el('h2', { text: 'Summary' }));
    const iv = rep.intervals || {};
    const boot = iv.bootstrap;
    const rates = [
      ['sensitivity', fixed(s.sensitivity, 3), interval(iv.sensitivity, 3), s.tp + ' of ' + s.falls + ' falls detected'],
      ['specificity', fixed(s.specificity, 3), interval(iv.specificity, 3), s.tn + ' of ' + s.adls + ' ADLs without an alarm'],
      ['precision', fixed(s.precision, 3), interval(iv.precision, 3), s.tp + ' of ' + (s.tp + s.fp) + ' recordings with an alarm are falls'],
      ['F1', fixed(s.f1, 3), '', ''],
      ['accuracy', fixed(s.accuracy, 3), '', ''],
      ['false alarms per hour', fixed(s.false_alarms_per_hour, 2), interval(iv.false_alarms_per_hour, 2),
        s.false_alarm_events + ' events in ' + fixed(s.adl_hours, 2) + ' h of ADL'],
      ['latency (median, min, max)', fixed(s.latency_median, 2) + ' s', '',
        s.latency_count ? fixed(s.latency_min, 2) + ' to ' + fixed(s.latency_max, 2) + ' s over ' + s.latency_count + ' falls' : ''],
      ['recordings', String(s.recordings_found), '',
        s.unlabelled + ' unlabelled, ' + s.unreadable + ' unreadable, ' + s.samples + ' samples'],
    ];
    if (boot) {
      rates.push(['over subjects (bootstrap)', '', interval(boot.sensitivity, 3),
        'sensitivity; specificity ' + interval(boot.specificity, 3) + ', false alarms per hour ' +
        interval(boot.false_alarms_per_hour, 2) + ': ' + boot.resamples + ' resamples of ' + boot.subjects +
        ' subjects, seed ' + boot.seed]);
    }
    const summary = el('div', null, [
      table([{ label: 'metric', text: true }, { label: 'value' }, { label: level(rep.intervals) + ' interval' },
        { label: '', text: true }], rates, 'summary'),
      el('p', { class: 'meta', text: 'Intervals: Wilson for shares of recordings, exact (Garwood) Poisson for false alarms ' +
        'per hour; "-" where nothing was counted.' })]);
    const confusion = el('table', { class: 'confusion' }, [
      el('thead', null, [el('tr', null, [el('th'), el('th', { text: 'alarm' }), el('th', { text: 'no alarm' })])]),
      el('tbody', null, [
        el('tr', null, [el('th', { text: 'fall' }), el('td', { class: 'hit', text: 'TP ' + s.tp }), el('td', { class: 'miss', text: 'FN ' + s.fn })]),
        el('tr', null, [el('th', { text: 'ADL' }), el('td', { class: 'miss', text: 'FP ' + s.fp }), el('td', { class: 'hit', text: 'TN ' + s.tn })]),
      ]),
    ]);
    app.append(el('div', { class: 'grid' }, [summary, el('div', null, [el('h3', { text: 'Confusion matrix' }), confusion])]));

    app.append(el('h2', { text: 'By activity' }));
    // The activities' descriptions (from an import's manifest) beside their codes, when there are any.
    const described = rep.by_activity.some(a => a.description);
    app.append(table(
      [{ label: 'label', text: true }, { label: 'activity', text: true },
        ...(described ? [{ label: 'description', text: true }] : []), { label: 'recordings' },
        { label: 'with alarms' }, { label: 'share, ' + level(rep.intervals) + ' interval' }, { label: 'events' }, { label: 'hours' }],
      rep.by_activity.map((a, i) => [a.label, a.activity || '-', ...(described ? [a.description || '-'] : []),
        a.recordings, a.detected,
        interval(((iv.by_activity || [])[i] || {}).detected, 3), a.events, fixed(a.hours, 3)]),
      'activities'));
    app.append(el('h2', { text: 'By fall code' }));
    app.append(rep.by_code.length
      ? table([{ label: 'code' }, { label: 'alarms' }, { label: 'events on falls' }, { label: 'events on ADLs' }],
        rep.by_code.map(c => [c.code, c.alarms, c.events_on_falls, c.events_on_adls]), 'codes')
      : el('p', { class: 'meta', text: 'No alarm was raised.' }));
    if (rep.by_folder.length > 1) {
      app.append(el('h2', { text: 'By folder' }));
      app.append(table(
        [{ label: 'folder', text: true }, { label: 'recordings' }, { label: 'sensitivity' }, { label: 'interval' },
          { label: 'specificity' }, { label: 'interval' }, { label: 'false alarms per hour' }, { label: 'interval' }],
        rep.by_folder.map((f, i) => {
          const fi = (iv.by_folder || [])[i] || {};
          return [f.folder, f.recordings, fixed(f.sensitivity, 3), interval(fi.sensitivity, 3), fixed(f.specificity, 3),
            interval(fi.specificity, 3), fixed(f.false_alarms_per_hour, 2), interval(fi.false_alarms_per_hour, 2)];
        }), 'folders'));
    }
    renderDatasets(rep);
    renderOutsideWindow(rep);

    // Missed falls and false alarms first, then the others in input order.
    const order = rep.recordings.map((r, i) => i);
    const rank = i => {
      const c = outcomeOf(rep.recordings[i])[0];
      return c === 'missed' ? 0 : c === 'false-alarm' ? 1 : c === 'unreadable' ? 3 : 2;
    };
    order.sort((a, b) => rank(a) - rank(b) || a - b);
    app.append(el('h2', { text: 'Recordings (missed falls and false alarms first): select one to see its chart' }));
    const rows = order.map(i => {
      const r = rep.recordings[i];
      const codes = [...new Set((r.alarms || []).map(a => a.code))].join(' ');
      const tr = el('tr', { tabindex: '0', 'data-index': String(i) }, [
        el('td', { class: 'text' }, [outcomeBadge(r)]),
        el('td', { class: 'path', text: r.relative_path }),
        el('td', { class: 'text', text: r.activity || '-', title: r.description || null }),
        el('td', { class: 'text', text: r.subject || '-' }),
        el('td', { text: r.read ? fixed(r.duration_s, 1) : '-' }),
        el('td', { text: r.read ? String(r.alarms.length) : '-' }),
        el('td', { class: 'text', text: codes || '-' }),
        el('td', { text: r.read ? String(r.events.length) : '-' }),
        el('td', { text: r.latency_s == null ? '-' : fixed(r.latency_s, 2) }),
      ]);
      tr.addEventListener('click', () => select(i));
      tr.addEventListener('keydown', e => {
        if (e.key === 'Enter' || e.key === ' ') {
          e.preventDefault();
          select(i);
        }
      });
      return tr;
    });
    const list = el('div', { class: 'recordings' }, [el('table', null, [
      el('thead', null, [el('tr', null, ['outcome', 'recording', 'activity', 'subject', 'seconds', 'alarms', 'codes',
        'events', 'latency (s)'].map((h, k) => el('th', { class: k < 4 || k === 6 ? 'text' : null, text: h })))]),
      el('tbody', null, rows),
    ])]);
    app.append(list);
    const chartHost = el('section', { id: 'chart' });
    app.append(chartHost);
    footer();

    async function select(i) {
      for (const tr of rows) tr.classList.toggle('selected', Number(tr.dataset.index) === i);
      history.replaceState(null, '', '#recording=' + i);
      await showRecording(i, chartHost);
    }
    state.select = select;

    const fromHash = /^#recording=(\d+)$/.exec(location.hash);
    const wanted = fromHash && Number(fromHash[1]) < rep.recordings.length ? Number(fromHash[1]) : null;
    const first = wanted != null ? wanted : order.find(i => rep.recordings[i].read);
    return first == null ? Promise.resolve() : select(first);
  }

  // ---- one recording ----------------------------------------------------------

  function renderPlot() {
    const r = data.report.recordings[0];
    header('tumblewatch plot: ' + r.path);
    const host = el('section', { id: 'chart' });
    app.append(host);
    footer();
    return showRecording(0, host);
  }

  // ---- the sweep's page -------------------------------------------------------

  // False alarms per hour on an axis that is linear up to 0.1 per hour and
  // logarithmic beyond (uPlot's asinh scale), so that 0 has its place and
  // the figures under 1 per hour, where a wearable has to live, are spread.
  const FA_LINEAR_BELOW = 0.1;

  function faSplits(self, axisIdx, min, max) {
    const ticks = [0, 0.03, 0.1, 0.3, 1, 3, 10, 30, 100, 300, 1000, 3000, 10000, 30000, 100000];
    return ticks.filter(t => t >= min && t <= max);
  }

  // The axis of false alarms per hour on that scale: every split labelled.
  function faAxis(label) {
    return { label, splits: faSplits, filter: (self, splits) => splits,
      values: (self, ticks) => ticks.map(t => (t == null ? '' : String(t))) };
  }

  // One scatter of sensitivity against false alarms per hour: a point per
  // configuration, the front as a line, the base configuration marked; the
  // intervals of the front's points and the base's (where the view has
  // them) as whiskers.
  function scatter(host, sw, title, sensKey, faKey, frontRows, baseValue, intervals) {
    const sens = sw.metrics[sensKey];
    const fa = sw.metrics[faKey];
    const rows = [];
    let undefinedCount = 0;
    for (let i = 0; i < sw.config.length; i++) {
      if (sens[i] == null || fa[i] == null) undefinedCount++;
      else rows.push(i);
    }
    const points = rows.map(i => ({ x: fa[i], y: sens[i], row: i }));
    const base = sw.base;
    const baseRows = new Set(base.known ? base.rows : []);
    const extraBase = baseValue && baseValue.x != null && baseValue.y != null ? { x: baseValue.x, y: baseValue.y, row: -1 } : null;
    const all = extraBase ? points.concat([extraBase]) : points.slice();
    all.sort((a, b) => a.x - b.x || a.y - b.y);
    const front = new Set(frontRows);
    const xs = all.map(p => p.x);
    const ys = all.map(p => (p.row >= 0 ? p.y : null));
    const fs = all.map(p => (p.row >= 0 && front.has(p.row) ? p.y : null));
    const bs = all.map(p => (p.row === -1 || baseRows.has(p.row) ? p.y : null));
    const box = el('div', { class: 'scatter' }, [el('h3', { text: title })]);
    host.append(box);
    const tip = el('div', { class: 'tip' });
    const baseLabel = base.known ? base.label + (base.changes.length ? ' (' + base.changes.join(' ') + ')' : '') : 'base configuration';
    // Whiskers: the front's points and the base's rows, where the view has intervals.
    const whiskered = intervals ? all.filter(p => p.row >= 0 && (front.has(p.row) || baseRows.has(p.row))) : [];
    const drawWhiskers = self => {
      if (!whiskered.length) return;
      const ctx = self.ctx;
      ctx.save();
      ctx.lineWidth = Math.max(1, devicePixelRatio);
      ctx.strokeStyle = 'rgba(224, 0, 0, 0.55)';
      const cap = 4 * devicePixelRatio;
      for (const p of whiskered) {
        const xi = intervals.false_alarms_per_hour[p.row];
        const yi = intervals.sensitivity[p.row];
        const cx = self.valToPos(p.x, 'x', true);
        const cy = self.valToPos(p.y, 'y', true);
        ctx.beginPath();
        if (yi) {
          const y0 = self.valToPos(yi[0], 'y', true);
          const y1 = self.valToPos(yi[1], 'y', true);
          ctx.moveTo(cx, y0); ctx.lineTo(cx, y1);
          ctx.moveTo(cx - cap, y0); ctx.lineTo(cx + cap, y0);
          ctx.moveTo(cx - cap, y1); ctx.lineTo(cx + cap, y1);
        }
        if (xi) {
          const x0 = self.valToPos(xi[0], 'x', true);
          const x1 = self.valToPos(xi[1], 'x', true);
          ctx.moveTo(x0, cy); ctx.lineTo(x1, cy);
          ctx.moveTo(x0, cy - cap); ctx.lineTo(x0, cy + cap);
          ctx.moveTo(x1, cy - cap); ctx.lineTo(x1, cy + cap);
        }
        ctx.stroke();
      }
      ctx.restore();
    };
    // The x range takes in the whiskers.
    const dataMin = all.length ? all[0].x : null;
    const dataMax = all.length ? all[all.length - 1].x : null;
    let xMax = Math.max(1, ...all.map(p => p.x));
    for (const p of whiskered) {
      const xi = intervals.false_alarms_per_hour[p.row];
      if (xi) xMax = Math.max(xMax, xi[1]);
    }
    const u = new uPlot({
      width: Math.max(360, host.clientWidth - 8),
      height: Math.max(320, Math.min(560, Math.round(host.clientWidth * 0.45))),
      scales: {
        // The whole view from 0 to past the widest whisker; a zoom keeps its own range.
        x: { time: false, distr: 4, asinh: FA_LINEAR_BELOW,
          range: (self, mn, mx) => (mn === dataMin && mx === dataMax ? [0, Math.max(xMax, mx) * 1.1] : [mn, mx]) },
        y: { range: (self, mn, mx) => [Math.min(0, mn), Math.max(1, mx)] },
      },
      axes: [faAxis('false alarms per hour (linear below 0.1, logarithmic above)'), { label: 'sensitivity' }],
      legend: { live: false },
      cursor: { drag: { x: true, y: true, uni: 30 }, points: { show: false } },
      series: [
        { label: 'false alarms per hour' },
        { label: 'configurations (' + points.length + ')', stroke: '#1f77b4', paths: () => null,
          points: { show: true, size: 7, width: 1, stroke: '#1f77b4', fill: 'rgba(31, 119, 180, 0.45)' } },
        { label: 'Pareto front', stroke: '#e00000', width: 2, spanGaps: true,
          points: { show: true, size: 9, width: 2, stroke: '#e00000', fill: '#ffffff' } },
        { label: baseLabel, stroke: '#111111', paths: () => null,
          points: { show: true, size: 15, width: 2, stroke: '#111111', fill: 'rgba(255, 212, 0, 0.8)' } },
      ],
      hooks: {
        setCursor: [self => showTip(self)],
        draw: [drawWhiskers],
      },
    }, [xs, ys, fs, bs], box);
    box.append(tip);
    if (undefinedCount) {
      box.append(el('p', { class: 'hint', text: undefinedCount + ' configurations are not drawn: a measure is undefined' }));
    }
    box.append(el('p', { class: 'hint', text: 'Hover a point for its configuration; drag to zoom, double-click to see all.' }));

    function describe(p) {
      if (p.row === -1) {
        return '<b>' + escapeHtml(baseLabel) + '</b> as evaluated by the sweep<br>sensitivity ' + fixed(p.y, 3) +
          ', false alarms per hour ' + fixed(p.x, 2);
      }
      const i = p.row;
      const values = sw.varied.map(name => name + '=' + sw.values[name][i]).join(' ');
      let text = '<b>configuration ' + sw.config[i] + '</b>' + (front.has(i) ? ' (on the front)' : '') +
        (baseRows.has(i) ? ' (' + escapeHtml(base.label) + ')' : '') + '<br>' + escapeHtml(values) +
        '<br>sensitivity ' + fixed(p.y, 3) + ', false alarms per hour ' + fixed(p.x, 2) + ', F1 ' + fixed(sw.metrics.f1[i], 3);
      if (intervals) {
        text += '<br>' + level(intervals) + ' intervals: sensitivity ' + interval(pair(intervals.sensitivity[i]), 3) +
          ', false alarms per hour ' + interval(pair(intervals.false_alarms_per_hour[i]), 2);
      }
      if (sw.folds) {
        text += '<br>tuning: ' + fixed(sw.metrics.tune_sensitivity[i], 3) + ', ' + fixed(sw.metrics.tune_false_alarms_per_hour[i], 2) +
          '; held-out: ' + fixed(sw.metrics.held_sensitivity[i], 3) + ', ' + fixed(sw.metrics.held_false_alarms_per_hour[i], 2);
      }
      return text;
    }

    function showTip(self) {
      const { left, top } = self.cursor;
      if (left == null || left < 0) {
        tip.style.display = 'none';
        return;
      }
      let best = null;
      let bestD = 12 * 12;
      for (const p of all) {
        const dx = self.valToPos(p.x, 'x') - left;
        const dy = self.valToPos(p.y, 'y') - top;
        const d = dx * dx + dy * dy;
        if (d < bestD) {
          bestD = d;
          best = p;
        }
      }
      if (!best) {
        tip.style.display = 'none';
        return;
      }
      const same = all.filter(p => p !== best && p.x === best.x && p.y === best.y);
      tip.innerHTML = describe(best) + (same.length ? '<br><i>' + same.length + ' more configurations at this point: ' +
        escapeHtml(same.slice(0, 12).map(p => (p.row >= 0 ? sw.config[p.row] : 'base')).join(', ')) +
        (same.length > 12 ? ', ...' : '') + '</i>' : '');
      tip.style.display = 'block';
      const over = self.over.getBoundingClientRect();
      const boxRect = box.getBoundingClientRect();
      tip.style.left = Math.min(over.left - boxRect.left + left + 14, boxRect.width - 300) + 'px';
      tip.style.top = over.top - boxRect.top + top + 14 + 'px';
    }

    state.scatters.push({ title, plot: u, points: points.length, configurations: sw.config.length, undefined: undefinedCount,
      whiskers: whiskered.length });
    return u;
  }

  // The nested selection: per fold the configuration chosen on the other
  // folds, its figures on the fold's held-out subjects, and a chart of each
  // fold's tuning front with the chosen configuration on the tuning part
  // and on the held-out subjects, joined.
  function nestedSection(sw) {
    const n = sw.nested;
    const section = el('section', { class: 'nested' });
    section.append(el('h2', { text: 'Tuned on other subjects, tested on new ones' }));
    section.append(el('p', { class: 'meta', text: 'For each of the ' + n.folds.length + ' folds, the best configuration under ' +
      n.objective + ' on the other folds\' subjects alone (limit: its false alarms per hour there), scored on the fold\'s ' +
      'held-out subjects. Shift: held-out minus tuning.' }));
    // The figures first, then what they were measured on and with.
    const ci = (f, key, digits) => interval(f.intervals ? f.intervals[key] : null, digits);
    const headers = ['fold', 'config', 'TP', 'FN', 'FP', 'TN', 'sens.', level(n) + ' interval', 'specif.', 'F1', 'FA/h',
      level(n) + ' interval', 'tuning sens.', 'tuning FA/h', 'shift sens.', 'shift FA/h', 'limit', 'varied values',
      'held-out subjects']
      .map((label, i) => ({ label, text: i >= 17 }));
    const blanks = k => new Array(k).fill('');
    const rows = n.folds.map(f => {
      if (f.config == null) {
        return [String(f.fold), '-', ...blanks(14), fixed(f.limit, 2), 'no configuration meets the objective',
          f.subjects.join(' ')];
      }
      return [String(f.fold), String(f.config),
        String(f.tp), String(f.fn), String(f.fp), String(f.tn), fixed(f.sensitivity, 3), ci(f, 'sensitivity', 3),
        fixed(f.specificity, 3), fixed(f.f1, 3), fixed(f.false_alarms_per_hour, 2), ci(f, 'false_alarms_per_hour', 2),
        fixed(f.tuning.sensitivity, 3), fixed(f.tuning.false_alarms_per_hour, 2), fixed(f.shift.sensitivity, 3),
        fixed(f.shift.false_alarms_per_hour, 2), fixed(f.limit, 2),
        sw.varied.map(name => name + '=' + f.values[name]).join(' '), f.subjects.join(' ')];
    });
    for (const [what, s] of [['mean', n.mean], ['sd', n.sd]]) {
      rows.push([what, '', fixed(s.tp, 1), fixed(s.fn, 1), fixed(s.fp, 1), fixed(s.tn, 1), fixed(s.sensitivity, 3), '',
        fixed(s.specificity, 3), fixed(s.f1, 3), fixed(s.false_alarms_per_hour, 2), '', ...blanks(5),
        n.chosen + ' of ' + n.folds.length + ' folds chose one', '']);
    }
    section.append(el('div', { class: 'wide' }, [table(headers, rows, 'nested')]));
    if (n.pooled) {
      const p = n.pooled;
      const b = p.bootstrap;
      const line = (what, value, digits, key) => what + ' ' + fixed(value, digits) + ' ' +
        interval(p.intervals[key], digits) + (b ? ', over subjects ' + interval(b[key], digits) : '');
      section.append(el('p', { class: 'pooled', text: 'Pooled over every held-out subject, each scored by its fold\'s ' +
        'choice (TP ' + p.tp + ', FN ' + p.fn + ', FP ' + p.fp + ', TN ' + p.tn + '): ' +
        line('sensitivity', p.sensitivity, 3, 'sensitivity') + '; ' + line('specificity', p.specificity, 3, 'specificity') +
        '; ' + line('false alarms per hour', p.false_alarms_per_hour, 2, 'false_alarms_per_hour') + '.' }));
      section.append(el('p', { class: 'meta', text: level(n) + ' intervals: Wilson and exact Poisson from the counts' +
        (b ? '; over subjects: a percentile bootstrap of ' + b.resamples + ' resamples of the ' + b.subjects +
          ' subjects (seed ' + b.seed + ')' : '') + '.' }));
    }
    app.append(section);
    nestedChart(section, n);
  }

  function nestedChart(section, n) {
    const palette = ['#1f77b4', '#ff7f0e', '#2ca02c', '#d62728', '#9467bd', '#8c564b', '#e377c2', '#7f7f7f', '#bcbd22', '#17becf'];
    // Every point of every series on one sorted x axis; each series holds
    // its own points and null elsewhere.
    const points = [];
    const series = [{ label: 'false alarms per hour' }];
    const add = (info, pts) => {
      const id = series.length;
      series.push(info);
      for (const p of pts) {
        if (p.x != null && p.y != null) points.push({ x: p.x, y: p.y, id });
      }
    };
    n.folds.forEach((f, i) => {
      const c = palette[i % palette.length];
      add({ label: 'fold ' + f.fold + ': tuning front', stroke: c, width: 1, dash: [4, 4], spanGaps: true,
        points: { show: true, size: 5, stroke: c, fill: c } },
      f.tuning_front.map(p => ({ x: p.false_alarms_per_hour, y: p.sensitivity })));
      if (f.config == null) return;
      add({ label: 'fold ' + f.fold + ': chosen, tuning to held-out', stroke: c, width: 2, spanGaps: true,
        points: { show: true, size: 11, width: 2, stroke: c, fill: '#ffffff' } },
      [{ x: f.tuning.false_alarms_per_hour, y: f.tuning.sensitivity }, { x: f.false_alarms_per_hour, y: f.sensitivity }]);
    });
    points.sort((a, b) => a.x - b.x || a.y - b.y);
    const data = [points.map(p => p.x)];
    for (let id = 1; id < series.length; id++) data.push(points.map(p => (p.id === id ? p.y : null)));
    const box = el('div', { class: 'scatter' }, [el('h3', { text: 'Each fold: its tuning front, and the chosen configuration ' +
      'on the tuning part and on the held-out subjects, joined' })]);
    section.append(box);
    const u = new uPlot({
      width: Math.max(360, section.clientWidth - 8),
      height: Math.max(320, Math.min(480, Math.round(section.clientWidth * 0.4))),
      scales: {
        x: { time: false, distr: 4, asinh: FA_LINEAR_BELOW,
          range: (self, mn, mx) => (points.length && mn === points[0].x && mx === points[points.length - 1].x
            ? [0, Math.max(1, mx) * 1.1] : [mn, mx]) },
        y: { range: (self, mn, mx) => [Math.min(0, mn), Math.max(1, mx)] },
      },
      axes: [faAxis('false alarms per hour (linear below 0.1, logarithmic above)'), { label: 'sensitivity' }],
      legend: { live: false },
      cursor: { drag: { x: true, y: true, uni: 30 }, points: { show: false } },
      series,
    }, data, box);
    state.nested = { folds: n.folds.length, chosen: n.chosen, plot: u, points: points.length };
  }

  function escapeHtml(text) {
    return String(text).replace(/[&<>"']/g, c => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' })[c]);
  }

  function renderSweep() {
    const sw = data.sweep;
    app.append(el('h1', { text: 'tumblewatch sweep ' + sw.id + ': ' + sw.config.length + ' configurations' }));
    app.append(el('p', { class: 'meta', text: sw.path + ' (' + sw.format + ')' }));
    app.append(el('p', { class: 'meta', text: sw.description }));
    app.append(el('p', { class: 'meta', text: 'Varied: ' + (sw.varied.join(', ') || 'nothing') }));
    const base = sw.base;
    if (!base.known) {
      app.append(el('p', { class: 'meta', text: 'The base configuration cannot be told from the file.' }));
    } else if (!base.rows.length && !base.evaluated) {
      app.append(el('p', { class: 'meta', text: 'The ' + base.label + ' is not among the rows (run the sweep with --html to see it).' }));
    }
    const host = el('section', { class: 'scatters' });
    app.append(host);
    const ev = base.evaluated;
    const pick = (s, f) => (ev ? { x: ev[f], y: ev[s] } : null);
    const views = [
      { key: 'all', name: 'All recordings', title: sw.folds ? 'All recordings' : 'Sensitivity against false alarms per hour',
        sens: 'sensitivity', fa: 'false_alarms_per_hour', front: sw.fronts.all, intervals: sw.intervals },
    ];
    if (sw.folds) {
      views.push({ key: 'tune', name: 'Tuning parts', title: 'Tuning parts: each configuration on every fold\'s other ' +
        'subjects, mean over the folds', sens: 'tune_sensitivity', fa: 'tune_false_alarms_per_hour', front: sw.fronts.tune });
      views.push({ key: 'held', name: 'Held-out groups', title: 'Held-out groups: the same configuration on every fold\'s ' +
        'own subjects, mean over the folds (no choice per fold; the line joins the tuning front\'s configurations)',
      sens: 'held_sensitivity', fa: 'held_false_alarms_per_hour', front: sw.fronts.tune });
    }
    const chartBox = el('div', { class: 'scatter-host' });
    const show = key => {
      const v = views.find(w => w.key === key);
      for (const s of state.scatters) s.plot.destroy();
      state.scatters.length = 0;
      chartBox.replaceChildren();
      scatter(chartBox, sw, v.title, v.sens, v.fa, v.front, pick(v.sens, v.fa), v.intervals || null);
      state.view = key;
      for (const b of host.querySelectorAll('.views button')) b.setAttribute('aria-pressed', String(b.dataset.view === key));
    };
    if (views.length > 1) {
      host.append(el('div', { class: 'views', role: 'group', 'aria-label': 'figures shown' },
        views.map(v => el('button', { type: 'button', 'data-view': v.key, text: v.name, onclick: () => show(v.key) }))));
    }
    host.append(chartBox);
    if (sw.intervals) {
      host.append(el('p', { class: 'hint', text: 'Whiskers: ' + level(sw.intervals) + ' intervals of the front\'s ' +
        'configurations and the base\'s over all recordings (Wilson for sensitivity, exact Poisson for false alarms per ' +
        'hour); the means over folds have none.' }));
    }
    state.showView = show;
    show('all');
    if (sw.nested) {
      nestedSection(sw);
    } else if (sw.folds) {
      app.append(el('p', { class: 'meta', text: 'The nested selection (each fold\'s best configuration chosen on the other ' +
        'folds, scored on its held-out subjects) is in the sweep\'s --summary file: give it to report with --summary.' }));
    }
    footer();
    return Promise.resolve();
  }

  // ---- the scan's page -------------------------------------------------------

  // One small chart per parameter: sensitivity and false alarms per hour
  // against the value, the base value a vertical line.
  function scanChart(host, p) {
    const xs = p.rows.map(r => r.value);
    const sens = p.rows.map(r => r.sensitivity);
    const fa = p.rows.map(r => r.false_alarms_per_hour);
    const box = el('div', { class: 'multiple' }, [
      el('h3', { text: '#' + p.rank + ' ' + p.name + ' (' + p.unit + ')' }),
      el('p', { class: 'hint', text: (p.range.every_value ? 'every value ' : 'steps of ' + p.range.step + ' over ') +
        p.range.lo + '..' + p.range.hi + '; base ' + p.base_value + '; ' + p.reach.recordings_changed + ' recordings change' }),
    ]);
    host.append(box);
    const baseLine = u => {
      const x = Math.round(u.valToPos(p.base_value, 'x', true));
      const { top, height } = u.bbox;
      u.ctx.save();
      u.ctx.strokeStyle = '#111111';
      u.ctx.lineWidth = 2 * (window.devicePixelRatio || 1);
      u.ctx.setLineDash([5, 4]);
      u.ctx.beginPath();
      u.ctx.moveTo(x, top);
      u.ctx.lineTo(x, top + height);
      u.ctx.stroke();
      u.ctx.restore();
    };
    const u = new uPlot({
      width: 400,
      height: 230,
      scales: { x: { time: false }, sens: { range: [0, 1] }, fa: { range: (self, mn, mx) => [0, Math.max(1, mx)] } },
      axes: [{ label: p.name }, { scale: 'sens', label: 'sensitivity' },
        { scale: 'fa', side: 1, label: 'false alarms per hour', grid: { show: false } }],
      legend: { live: true },
      series: [
        { label: p.name },
        { label: 'sensitivity', scale: 'sens', stroke: '#1f77b4', width: 2, points: { show: xs.length < 80 } },
        { label: 'false alarms per hour', scale: 'fa', stroke: '#e00000', width: 2, points: { show: xs.length < 80 } },
      ],
      hooks: { draw: [baseLine] },
    }, [xs, sens, fa], box);
    state.scatters.push({ title: p.name, plot: u, points: xs.length });
  }

  function renderScan() {
    const sc = data.scan;
    app.append(el('h1', { text: 'tumblewatch scan: ' + sc.parameters.length + ' parameters over ' + sc.recordings.length + ' recordings' }));
    app.append(el('p', { class: 'meta', text: [sc.version, sc.inputs.join(' '), sc.manifest ? 'labels ' + sc.manifest : '']
      .filter(Boolean).join('; ') }));
    const b = sc.base;
    app.append(el('p', { class: 'meta', text: 'Base: sensitivity ' + fixed(b.sensitivity, 3) + ' (' + b.tp + ' of ' + (b.tp + b.fn) +
      '), false alarms per hour ' + fixed(b.false_alarms_per_hour, 2) + '. Each parameter alone, the others at the base.' }));
    const byRank = sc.parameters.slice().sort((a, c) => a.rank - c.rank);
    app.append(el('h2', { text: 'Ranking: how far each parameter alone moves the front' }));
    app.append(table([{ label: 'rank' }, { label: 'parameter', text: true }, { label: 'area' }, { label: 'sens. at base FA/h' },
      { label: 'FA/h at base sens.' }, { label: 'recordings changed' }],
    byRank.map(p => [p.rank, p.name, fixed(p.reach.area, 4), fixed(p.reach.best_sensitivity_at_base_fa, 3),
      fixed(p.reach.lowest_fa_at_base_sensitivity, 2), p.reach.recordings_changed])));
    const host = el('section', { class: 'multiples' });
    app.append(el('h2', { text: 'Each parameter against its value (dashed: the base value)' }));
    app.append(host);
    byRank.forEach(p => scanChart(host, p));
    footer();
    return Promise.resolve();
  }

  // ---- the explanation's page ---------------------------------------------------

  function renderExplain() {
    const ex = data.explain;
    header('tumblewatch explain: ' + ex.missed_falls + ' missed falls, ' + ex.false_alarms + ' false alarms');
    if (!ex.cases.length) {
      app.append(el('p', { text: 'Nothing to explain: every fall is detected and no activity raised an alarm.' }));
      footer();
      return Promise.resolve();
    }
    const changeText = (k, ch) => ch ? ch.parameter + ' ' + ch.from + ' \u2192 ' + ch.to + ' (' +
      (k.kind === 'missed fall' ? ch.false_alarms_added + ' false alarms added, ' + (ch.falls_gained - 1) + ' more falls'
        : ch.falls_lost + ' falls lost') + ')' : 'none';
    const rows = ex.cases.map((k, i) => el('tr', { tabindex: 0, 'data-index': i, onclick: () => select(i),
      onkeydown: e => { if (e.key === 'Enter') select(i); } }, [
      el('td', { class: 'text', text: k.kind }), el('td', { class: 'text', text: k.path }),
      el('td', { class: 'text', text: k.activity }), el('td', { class: 'text', text: changeText(k, k.changes[0]) })]));
    app.append(el('h2', { text: 'Cases (select one for its criteria, changes and chart)' }));
    app.append(el('table', { class: 'recordings' }, [el('thead', null, [el('tr', null, ['case', 'recording', 'activity',
      'smallest change, best first'].map(h => el('th', { class: 'text', text: h })))]), el('tbody', null, rows)]));
    const detail = el('section', { id: 'detail' });
    const host = el('section', { id: 'chart' });
    app.append(detail, host);
    footer();
    function select(i) {
      const k = ex.cases[i];
      detail.textContent = '';
      detail.append(el('h2', { text: k.kind + ': ' + k.path }));
      if (k.approaches) {
        detail.append(table([{ label: 'criterion', text: true }, { label: 'codes', text: true }, { label: 'quantity', text: true },
          { label: 'closest' }, { label: 'threshold', text: true }, { label: 'margin' }, { label: 'sample' }],
        k.approaches.map(a => [a.criterion, a.codes, a.quantity, a.seen ? a.value : '-', a.parameter + ' ' + a.threshold + ' ' + a.unit,
          a.seen ? (a.margin > 0 ? a.margin + ' short' : 'passed') : 'never tested', a.seen ? a.sample : '-'])));
      } else {
        detail.append(el('p', { text: k.alarm_count + ' alarms: ' + k.alarms.slice(0, 10).map(a => 'code ' + a.code + ' at sample ' + a.sample).join(', ') }));
      }
      if (!k.changes.length) {
        detail.append(el('p', { text: 'No change of one scanned parameter ' + (k.approaches ? 'catches this fall.' : 'removes this alarm.') }));
      }
      if (k.changes.length) detail.append(table([{ label: 'parameter', text: true }, { label: 'from' }, { label: 'to' }, { label: 'falls gained' },
        { label: 'falls lost' }, { label: 'false alarms added' }, { label: 'false alarms removed' }, { label: 'sensitivity' }, { label: 'FA/h' }],
      k.changes.map(c => [c.parameter, c.from, c.to, c.falls_gained, c.falls_lost, c.false_alarms_added,
        c.false_alarms_removed, fixed(c.figures.sensitivity, 3), fixed(c.figures.false_alarms_per_hour, 2)])));
      return showRecording(i, host);
    }
    state.select = select;
    return select(0);
  }

  function footer() {
    app.append(el('footer', { text: 'Written by tumblewatch; charts drawn with uPlot (MIT licence, in this file\'s source).' }));
  }

  // ---- start ------------------------------------------------------------------

  const render = { eval: renderEval, plot: renderPlot, sweep: renderSweep, scan: renderScan, explain: renderExplain }[data.kind];
  if (!render) {
    fail('unknown report kind ' + data.kind);
    return;
  }
  Promise.resolve()
    .then(render)
    .then(() => requestAnimationFrame(() => markReady()))
    .catch(e => fail(e && e.message ? e.message : String(e)));
})();
