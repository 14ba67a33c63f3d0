// SPDX-License-Identifier: GPL-3.0-or-later
// The phone remote: logs in, builds its controls from what the role may change, follows every
// change over the WebSocket and sends the user's moves. Served by the amplifier's host; no
// external assets, no build step.
'use strict';

(function () {
  const TEXTS = {
    en: {
      title: 'Q7 Remote',
      welcome: 'Welcome',
      pin_hint: 'Enter the PIN you were given, or continue as a guest.',
      pin: 'PIN',
      login: 'Log in',
      guest: 'Continue as guest',
      logout: 'Log out',
      modes: 'User modes',
      mode_n: 'User {n}',
      mutes: 'Mute',
      volumes: 'Volume',
      meters: 'Levels',
      // The six meters in the order the level report gives them: music left and right, then
      // the four microphone ports.
      meter_names: ['Music L', 'Music R', 'Mic 1', 'Mic 2', 'Mic 3', 'Mic 4'],
      meter_n: 'Input {n}',
      all_params: 'All parameters',
      filter: 'Search parameters',
      filter_more: 'Type more to narrow the list ({n} found).',
      role_owner: 'Owner',
      role_guest: 'Guest',
      st_connecting: 'Connecting…',
      st_reconnecting: 'Reconnecting…',
      st_connected: 'Connected',
      st_no_amp: 'No amplifier',
      current_mode: 'User mode {n}',
      on: 'On',
      off: 'Off',
      decrease: 'Decrease {p}',
      increase: 'Increase {p}',
      nothing: 'There is nothing here for you to change.',
      err_pin: 'Wrong PIN.',
      err_pin_empty: 'Enter your PIN.',
      err_closed: 'Remote access is closed: the owner has set no PIN.',
      err_guest_pin: 'Guest access needs a PIN. Ask the owner for it.',
      err_rate: 'Too many attempts. Try again in {s} s.',
      err_rate_later: 'Too many attempts. Try again later.',
      err_forbidden: 'Not allowed: {p}',
      err_forbidden_plain: 'Not allowed.',
      err_no_amp: 'No amplifier is connected.',
      err_bad: 'Value refused: {p}',
      err_session: 'Your session has ended. Please log in again.',
      err_offline: 'Cannot reach the amplifier’s host. Retrying…',
      err_server: 'The server could not do that.',
    },
    zh: {
      title: 'Q7 遥控',
      welcome: '欢迎',
      pin_hint: '请输入获得的 PIN 码，或以访客身份继续。',
      pin: 'PIN 码',
      login: '登录',
      guest: '以访客身份继续',
      logout: '退出',
      modes: '用户模式',
      mode_n: '用户 {n}',
      mutes: '静音',
      volumes: '音量',
      meters: '电平',
      meter_names: ['音乐 左', '音乐 右', '话筒口1', '话筒口2', '话筒口3', '话筒口4'],
      meter_n: '输入 {n}',
      all_params: '全部参数',
      filter: '搜索参数',
      filter_more: '请输入更多文字以缩小范围（找到 {n} 项）。',
      role_owner: '管理员',
      role_guest: '访客',
      st_connecting: '正在连接…',
      st_reconnecting: '正在重新连接…',
      st_connected: '已连接',
      st_no_amp: '未连接功放',
      current_mode: '用户模式 {n}',
      on: '开',
      off: '关',
      decrease: '减小{p}',
      increase: '增大{p}',
      nothing: '没有可供您调整的项目。',
      err_pin: 'PIN 码错误。',
      err_pin_empty: '请输入 PIN 码。',
      err_closed: '远程访问未开放：管理员尚未设置 PIN 码。',
      err_guest_pin: '访客访问需要 PIN 码，请向管理员索取。',
      err_rate: '尝试次数过多，请 {s} 秒后再试。',
      err_rate_later: '尝试次数过多，请稍后再试。',
      err_forbidden: '无权调整：{p}',
      err_forbidden_plain: '无权进行此操作。',
      err_no_amp: '未连接功放。',
      err_bad: '数值被拒绝：{p}',
      err_session: '会话已结束，请重新登录。',
      err_offline: '无法连接功放主机，正在重试…',
      err_server: '服务器无法完成此操作。',
    },
  };

  const SEND_INTERVAL_MS = 60;  // at most ~16 sets a second while a finger moves
  const SETTLE_MS = 1500;       // how long a released slider ignores older echoes of its own moves
  const STATUS_POLL_MS = 4000;
  const POLL_MS = 2000;         // values fetched this often while the socket is down
  const MAIN_LIMIT = 40;        // above this many parameters the rest go into searchable groups

  const $ = (id) => document.getElementById(id);

  const state = {
    lang: 'en',
    role: null,
    params: new Map(),   // name -> description from whoami
    values: {},          // name -> value as the server sends it
    controls: new Map(), // name -> control
    modes: false,
    status: {},
    ws: null,
    wsOpen: false,
    retries: 0,
    reconnectTimer: null,
    statusTimer: null,
    pollTimer: null,
    entered: false,
    openGuest: false,    // logged in as a guest without a PIN
    meterEls: [],
  };

  // ---- language ---------------------------------------------------------------------------

  function pickLanguage() {
    const query = new URLSearchParams(location.search).get('lang');
    if (query === 'zh' || query === 'en') return query;
    try {
      const saved = localStorage.getItem('q7.lang');
      if (saved === 'zh' || saved === 'en') return saved;
    } catch (e) { /* storage may be off in private windows */ }
    const langs = navigator.languages && navigator.languages.length ? navigator.languages : [navigator.language || 'en'];
    for (const l of langs) {
      const s = String(l).toLowerCase();
      if (s.startsWith('zh')) return 'zh';
      if (s.startsWith('en')) return 'en';
    }
    return 'en';
  }

  function t(key, vars) {
    let s = (TEXTS[state.lang] && TEXTS[state.lang][key]) || TEXTS.en[key] || key;
    if (vars) for (const k of Object.keys(vars)) s = s.split('{' + k + '}').join(String(vars[k]));
    return s;
  }

  function labelOf(p) {
    if (!p) return '';
    const own = state.lang === 'zh' ? p.label_zh : p.label_en;
    return String(own || p.label_en || p.label_zh || p.name);
  }

  function applyLanguage() {
    document.documentElement.lang = state.lang === 'zh' ? 'zh-CN' : 'en';
    document.title = t('title');
    for (const el of document.querySelectorAll('[data-t]')) el.textContent = t(el.dataset.t);
    $('lang').textContent = state.lang === 'zh' ? 'English' : '中文';
    $('pin').setAttribute('aria-label', t('pin'));
    $('filter').placeholder = t('filter');
    $('filter').setAttribute('aria-label', t('filter'));
    if (state.entered) buildControls();
    renderStatus();
  }

  // ---- small helpers ----------------------------------------------------------------------

  let toastTimer = null;
  function toast(text) {
    const el = $('toast');
    el.textContent = text;
    el.hidden = false;
    clearTimeout(toastTimer);
    toastTimer = setTimeout(() => { el.hidden = true; }, 4000);
  }

  function banner(text) {
    const el = $('banner');
    el.textContent = text || '';
    el.hidden = !text;
  }

  function el(tag, cls, attrs) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (attrs) for (const k of Object.keys(attrs)) e.setAttribute(k, attrs[k]);
    return e;
  }

  async function api(method, path, body) {
    const init = { method, credentials: 'same-origin', headers: {} };
    if (body !== undefined) {
      init.headers['Content-Type'] = 'application/json';
      init.body = JSON.stringify(body);
    }
    let res;
    try {
      res = await fetch('/api/v1/' + path, init);
    } catch (e) {
      return { ok: false, status: 0, data: null };
    }
    let data = null;
    try { data = await res.json(); } catch (e) { /* an empty or non-JSON body */ }
    return { ok: res.ok, status: res.status, data, retryAfter: res.headers.get('Retry-After') };
  }

  // The error a refusal means to the user, in the page's language.
  function errorText(status, data) {
    const p = data && data.param && state.params.get(data.param);
    const label = p ? labelOf(p) : (data && data.param) || '';
    switch (status) {
      case 400: return label ? t('err_bad', { p: label }) : t('err_server');
      case 401: return t('err_session');
      case 403: return label ? t('err_forbidden', { p: label }) : t('err_forbidden_plain');
      case 409: return t('err_no_amp');
      case 429: return t('err_rate_later');
      default: return t('err_server');
    }
  }

  // WebSocket errors carry no HTTP status; tell them apart by what they say.
  function wsErrorStatus(msg) {
    const code = Number(msg.status || msg.code);
    if (code >= 400 && code < 600) return code;
    const text = String(msg.error || '');
    if (/allow|forbid|whitelist|role|permi/i.test(text)) return 403;
    if (/amplifier|connect/i.test(text)) return 409;
    if (/token|session|log ?in|auth/i.test(text)) return 401;
    return 400;
  }

  // ---- parameter kinds and values ---------------------------------------------------------

  function isSwitch(p) {
    const k = String(p.kind || '').toLowerCase();
    if (['switch', 'onoff', 'on_off', 'bool', 'boolean', 'toggle', 'mute'].includes(k)) return true;
    return k === '' && Number(p.min) === 0 && Number(p.max) === 1 && /\.(mute|bypass|on)$/.test(p.name);
  }

  // The words a switch or a choice takes, as the server names them.
  function wordsOf(p) {
    return Array.isArray(p.values) ? p.values : Array.isArray(p.choices) ? p.choices : null;
  }

  function isNumber(p) {
    return !isSwitch(p) && p.min !== null && p.max !== null && Number.isFinite(Number(p.min)) &&
           Number.isFinite(Number(p.max)) && Number(p.max) > Number(p.min) && !wordsOf(p);
  }

  function isOn(v) {
    return v === true || v === 1 || v === '1' || (typeof v === 'string' && v.toLowerCase() === 'on');
  }

  // A switch's value in the same form the server uses for it.
  function switchValue(on, sample) {
    if (typeof sample === 'number') return on ? 1 : 0;
    if (typeof sample === 'boolean') return on;
    return on ? 'on' : 'off';
  }

  function decimals(step) {
    const s = String(step);
    const i = s.indexOf('.');
    return i < 0 ? 0 : Math.min(4, s.length - i - 1);
  }

  function snap(p, v) {
    const min = Number(p.min), max = Number(p.max);
    const step = Number(p.step) > 0 ? Number(p.step) : 1;
    let x = Math.round((v - min) / step) * step + min;
    x = Math.min(max, Math.max(min, x));
    return Number(x.toFixed(decimals(step)));
  }

  function formatValue(p, v) {
    if (typeof v !== 'number') return v === undefined || v === null ? '–' : String(v);
    const step = Number(p.step) > 0 ? Number(p.step) : 1;
    const text = v.toFixed(decimals(step));
    return p.unit ? text + ' ' + p.unit : text;
  }

  // ---- sending ----------------------------------------------------------------------------

  function sendValue(name, value) {
    if (state.ws && state.wsOpen) {
      state.ws.send(JSON.stringify({ type: 'set', params: { [name]: value } }));
      return;
    }
    // Without the socket (it is reconnecting) the plain API still takes the edit.
    api('PUT', 'params/' + encodeURIComponent(name), { value }).then((r) => {
      if (!r.ok) refused(r.status, Object.assign({ param: name }, r.data || {}));
      else if (r.data && typeof r.data === 'object' && 'value' in r.data) received({ [name]: r.data.value });
    });
  }

  function refused(status, data) {
    if (status === 401) return sessionEnded();
    toast(errorText(status, data));
    const name = data && data.param;
    const c = name && state.controls.get(name);
    if (c) {
      c.settleUntil = 0;
      c.expect = undefined;
      // Show the amplifier's value again, fetched fresh.
      api('GET', 'params/' + encodeURIComponent(name)).then((r) => {
        if (r.ok && r.data !== null && typeof r.data === 'object' && 'value' in r.data) {
          state.values[name] = r.data.value;
        } else if (r.ok && r.data !== null && typeof r.data === 'object' && name in r.data) {
          state.values[name] = r.data[name];
        }
        c.render();
      });
    }
  }

  // ---- controls ---------------------------------------------------------------------------

  function makeSlider(p) {
    const name = p.name;
    const min = Number(p.min), max = Number(p.max);
    const step = Number(p.step) > 0 ? Number(p.step) : 1;
    const label = labelOf(p);
    const id = 'p-' + name.replace(/[^a-z0-9]/gi, '-');

    const row = el('div', 'slider-row');
    const head = el('div', 'slider-head');
    const lab = el('span', 'slider-label', { id: id + '-label' });
    lab.textContent = label;
    const out = el('output', 'slider-value', { 'aria-hidden': 'true' });
    head.append(lab, out);

    const line = el('div', 'slider-line');
    const minus = el('button', 'step', { type: 'button', 'aria-label': t('decrease', { p: label }) });
    minus.textContent = '−';
    const plus = el('button', 'step', { type: 'button', 'aria-label': t('increase', { p: label }) });
    plus.textContent = '+';
    const slider = el('div', 'slider', {
      role: 'slider', tabindex: '0', 'aria-label': label, 'aria-valuemin': String(min),
      'aria-valuemax': String(max), 'data-param': name,
    });
    const track = el('div', 'track');
    const fill = el('div', 'fill');
    const thumb = el('div', 'thumb');
    track.append(fill);
    slider.append(track, thumb);
    line.append(minus, slider, plus);
    row.append(head, line);

    const c = {
      p, row, dragging: false, shown: undefined, lastSent: undefined, expect: undefined,
      settleUntil: 0, pending: undefined, timer: null, lastSendAt: 0,
    };

    function show(v) {
      c.shown = v;
      const known = typeof v === 'number' && Number.isFinite(v);
      const frac = known ? (Math.min(max, Math.max(min, v)) - min) / (max - min) : 0;
      fill.style.width = (frac * 100) + '%';
      thumb.style.left = 'calc(14px + (100% - 28px) * ' + frac + ')';
      out.textContent = formatValue(p, v);
      if (known) {
        slider.setAttribute('aria-valuenow', String(v));
        slider.setAttribute('aria-valuetext', formatValue(p, v));
      }
    }

    c.render = function () {
      if (c.dragging) return;
      const v = state.values[name];
      if (c.expect !== undefined && performance.now() < c.settleUntil && v !== c.expect) return;
      c.expect = undefined;
      show(typeof v === 'number' ? v : Number(v));
    };

    function flush() {
      c.timer = null;
      if (c.pending === undefined) return;
      const v = c.pending;
      c.pending = undefined;
      if (v === c.lastSent) return;
      c.lastSent = v;
      c.lastSendAt = performance.now();
      sendValue(name, v);
    }

    // Throttled while moving: the first move goes at once, then at most one per interval, and the
    // newest value always follows.
    function queue(v) {
      c.pending = v;
      if (c.timer) return;
      const wait = SEND_INTERVAL_MS - (performance.now() - c.lastSendAt);
      if (wait <= 0) flush();
      else c.timer = setTimeout(flush, wait);
    }

    function commit(v) {
      clearTimeout(c.timer);
      c.timer = null;
      c.pending = undefined;
      c.expect = v;
      c.settleUntil = performance.now() + SETTLE_MS;
      if (v !== c.lastSent) {
        c.lastSent = v;
        c.lastSendAt = performance.now();
        sendValue(name, v);
      }
      // The server's echo of this value ends the settling; until then older echoes are ignored.
      state.values[name] = v;
      c.lastSent = undefined;
      // Whatever arrived meanwhile from elsewhere shows once settling ends.
      setTimeout(c.render, SETTLE_MS + 20);
    }

    function valueAt(clientX) {
      const r = track.getBoundingClientRect();
      const frac = r.width > 0 ? (clientX - r.left) / r.width : 0;
      return snap(p, min + Math.min(1, Math.max(0, frac)) * (max - min));
    }

    let startX = 0, moved = false, pointerId = null;
    slider.addEventListener('pointerdown', (e) => {
      if (pointerId !== null || (e.pointerType === 'mouse' && e.button !== 0)) return;
      pointerId = e.pointerId;
      try { slider.setPointerCapture(e.pointerId); } catch (err) { /* already released */ }
      c.dragging = true;
      moved = false;
      startX = e.clientX;
      slider.classList.add('active');
      // A mouse jumps at once; a finger waits to see whether it drags or scrolls the page.
      if (e.pointerType === 'mouse') {
        moved = true;
        const v = valueAt(e.clientX);
        show(v);
        queue(v);
      }
      e.preventDefault();
    });
    slider.addEventListener('pointermove', (e) => {
      if (e.pointerId !== pointerId) return;
      if (!moved && Math.abs(e.clientX - startX) < 4) return;
      moved = true;
      const v = valueAt(e.clientX);
      if (v !== c.shown) {
        show(v);
        queue(v);
      }
    });
    function end(e, cancelled) {
      if (e.pointerId !== pointerId) return;
      pointerId = null;
      c.dragging = false;
      slider.classList.remove('active');
      if (!cancelled || moved) {
        // A tap without a drag sets the tapped value too.
        const v = moved ? c.shown : valueAt(e.clientX);
        show(v);
        commit(v);
      } else {
        c.render();
      }
    }
    slider.addEventListener('pointerup', (e) => end(e, false));
    slider.addEventListener('pointercancel', (e) => end(e, true));
    slider.addEventListener('lostpointercapture', (e) => { if (e.pointerId === pointerId) end(e, true); });

    function nudge(delta) {
      const base = typeof c.shown === 'number' && Number.isFinite(c.shown) ? c.shown : min;
      const v = snap(p, base + delta);
      if (v === c.shown) return;
      show(v);
      commit(v);
    }
    slider.addEventListener('keydown', (e) => {
      const big = Math.max(step, (max - min) / 10);
      const moves = {
        ArrowLeft: -step, ArrowDown: -step, ArrowRight: step, ArrowUp: step,
        PageDown: -big, PageUp: big, Home: -(max - min), End: max - min,
      };
      if (!(e.key in moves)) return;
      e.preventDefault();
      nudge(moves[e.key]);
    });
    minus.addEventListener('click', () => nudge(-step));
    plus.addEventListener('click', () => nudge(step));

    c.render();
    return c;
  }

  function makeSwitch(p) {
    const name = p.name;
    const label = labelOf(p);
    const words = wordsOf(p);
    const on = (v) => (words && words.length === 2 && typeof v === 'string' ? v === words[1] : isOn(v));
    const b = el('button', 'toggle', { type: 'button', role: 'switch', 'aria-label': label, 'data-param': name });
    const lab = el('span', 'toggle-label');
    lab.textContent = label;
    const st = el('span', 'toggle-state');
    b.append(lab, st);
    if (/\.mute$/.test(name)) b.classList.add('mute');
    const c = { p, row: b, dragging: false };
    c.render = function () {
      const checked = on(state.values[name]);
      b.setAttribute('aria-checked', checked ? 'true' : 'false');
      st.textContent = checked ? t('on') : t('off');
    };
    b.addEventListener('click', () => {
      const next = !on(state.values[name]);
      const v = words && words.length === 2 ? words[next ? 1 : 0] : switchValue(next, state.values[name]);
      state.values[name] = v;
      c.render();
      sendValue(name, v);
    });
    c.render();
    return c;
  }

  function makeChoice(p) {
    const name = p.name;
    const row = el('label', 'choice-row');
    const lab = el('span', 'slider-label');
    lab.textContent = labelOf(p);
    const sel = el('select', 'choice', { 'aria-label': labelOf(p), 'data-param': name });
    for (const ch of wordsOf(p) || []) {
      const o = el('option');
      o.value = String(ch);
      o.textContent = String(ch);
      sel.append(o);
    }
    row.append(lab, sel);
    const c = { p, row, dragging: false };
    c.render = function () { sel.value = String(state.values[name]); };
    sel.addEventListener('change', () => {
      state.values[name] = sel.value;
      sendValue(name, sel.value);
    });
    c.render();
    return c;
  }

  function makeControl(p) {
    if (isSwitch(p)) return makeSwitch(p);
    if (isNumber(p)) return makeSlider(p);
    if (wordsOf(p) && wordsOf(p).length) return makeChoice(p);
    return null;
  }

  function buildControls() {
    state.controls.clear();
    const sliders = $('sliders'), mutes = $('mutes'), groups = $('groups');
    sliders.textContent = '';
    mutes.textContent = '';
    groups.textContent = '';

    const all = [...state.params.values()];
    const many = all.length > MAIN_LIMIT;
    // With the whole set (the owner) the first view keeps to the room's own controls.
    const inMain = (p) => /^[a-z_]+\.(volume|mute|level|on)$/.test(p.name);
    const main = many ? all.filter(inMain) : all;
    const rest = many ? all.filter((p) => !inMain(p)) : [];

    let nSliders = 0, nMutes = 0;
    for (const p of main) {
      const c = makeControl(p);
      if (!c) { rest.push(p); continue; }
      state.controls.set(p.name, c);
      if (isSwitch(p)) { mutes.append(c.row); nMutes++; } else { sliders.append(c.row); nSliders++; }
    }
    $('main-card').hidden = nSliders === 0;
    $('mutes-card').hidden = nMutes === 0;

    buildGroups(rest);
    buildModes();
    if (!nSliders && !nMutes && !rest.length && !state.modes) toast(t('nothing'));
  }

  // The owner's other parameters, grouped by the name's first word; each group is built when
  // opened so the page stays light on a phone.
  function buildGroups(rest) {
    const groups = $('groups');
    $('more-card').hidden = rest.length === 0;
    if (!rest.length) return;
    const byGroup = new Map();
    for (const p of rest) {
      const g = p.name.split('.')[0];
      if (!byGroup.has(g)) byGroup.set(g, []);
      byGroup.get(g).push(p);
    }
    for (const [g, list] of byGroup) {
      const d = el('details', 'group');
      d.dataset.group = g;
      const s = el('summary');
      s.textContent = g + ' (' + list.length + ')';
      const body = el('div', 'group-body');
      d.append(s, body);
      d.addEventListener('toggle', () => {
        if (d.open && !body.childElementCount) fillGroup(body, list);
      });
      groups.append(d);
    }
    const filter = $('filter');
    filter.oninput = () => applyFilter(rest);
    if (filter.value) applyFilter(rest);
  }

  function fillGroup(body, list) {
    for (const p of list) {
      const c = makeControl(p);
      if (c) {
        state.controls.set(p.name, c);
        body.append(c.row);
      } else {
        const row = el('div', 'readonly-row');
        const a = el('span', 'slider-label');
        a.textContent = labelOf(p);
        const b = el('span', 'slider-value');
        b.textContent = formatValue(p, state.values[p.name]);
        row.append(a, b);
        body.append(row);
      }
    }
  }

  function applyFilter(rest) {
    const q = $('filter').value.trim().toLowerCase();
    let box = $('filter-results');
    if (!box) {
      box = el('div', 'group-body', { id: 'filter-results' });
      $('groups').before(box);
    }
    for (const [n, c] of state.controls) if (box.contains(c.row)) state.controls.delete(n);
    box.textContent = '';
    $('groups').hidden = !!q;
    if (!q) return;
    const hits = rest.filter((p) => p.name.toLowerCase().includes(q) ||
                                    String(p.label_en || '').toLowerCase().includes(q) ||
                                    String(p.label_zh || '').includes(q));
    if (hits.length > 60) {
      const note = el('p', 'hint');
      note.textContent = t('filter_more', { n: hits.length });
      box.append(note);
      return;
    }
    fillGroup(box, hits);
  }

  function buildModes() {
    const box = $('modes');
    box.textContent = '';
    $('modes-card').hidden = !state.modes;
    if (!state.modes) return;
    for (let n = 1; n <= 4; n++) {
      const b = el('button', 'mode', { type: 'button', 'data-mode': String(n) });
      b.textContent = t('mode_n', { n });
      b.addEventListener('click', async () => {
        b.classList.add('busy');
        const r = await api('POST', 'modes/' + n + '/recall');
        b.classList.remove('busy');
        if (!r.ok) return refused(r.status, r.data);
        state.status.mode = n;
        renderStatus();
        refreshAll();
      });
      box.append(b);
    }
    renderStatus();
  }

  // ---- meters -----------------------------------------------------------------------------

  const METER_FLOOR_DB = -60;

  function levelList(msg) {
    return Array.isArray(msg.levels) ? msg.levels : null;
  }

  function renderLevels(list) {
    if (!list) return;
    const box = $('meters');
    $('meters-card').hidden = list.length === 0;
    if (state.meterEls.length !== list.length) {
      box.textContent = '';
      state.meterEls = list.map((_, i) => {
        const row = el('div', 'meter');
        const name = el('span', 'meter-label');
        const bar = el('div', 'meter-bar', { role: 'meter', 'aria-valuemin': String(METER_FLOOR_DB), 'aria-valuemax': '0' });
        const fill = el('div', 'meter-fill');
        bar.append(fill);
        const val = el('span', 'meter-value');
        row.append(name, bar, val);
        box.append(row);
        return { name, bar, fill, val, i };
      });
    }
    list.forEach((item, i) => {
      const m = state.meterEls[i];
      const db = typeof item === 'number' ? item : NaN; // null: silence below the meter's floor
      const names = (TEXTS[state.lang] || TEXTS.en).meter_names;
      const label = list.length === names.length ? names[i] : t('meter_n', { n: i + 1 });
      m.name.textContent = label;
      m.bar.setAttribute('aria-label', label);
      const ok = Number.isFinite(db);
      const frac = ok ? Math.min(1, Math.max(0, (db - METER_FLOOR_DB) / -METER_FLOOR_DB)) : 0;
      m.fill.style.transform = 'scaleX(' + (1 - frac) + ')';
      m.val.textContent = ok && db > METER_FLOOR_DB ? db.toFixed(0) + ' dB' : '–∞';
      if (ok) m.bar.setAttribute('aria-valuenow', String(Math.round(db)));
    });
  }

  // ---- status -----------------------------------------------------------------------------

  function renderStatus() {
    const dot = $('status-dot'), text = $('status-text');
    let cls = 'wait', label = t('st_connecting');
    if (state.entered) {
      if (!state.wsOpen) {
        cls = 'down';
        label = state.retries ? t('st_reconnecting') : t('st_connecting');
      } else if (state.status.connected === false) {
        cls = 'warn';
        label = t('st_no_amp');
      } else {
        cls = 'up';
        label = t('st_connected');
      }
    } else if (!$('login').hidden) {
      label = '';
      cls = 'none';
    }
    dot.className = 'dot ' + cls;
    text.textContent = label;
    const mode = Number(state.status.mode);
    $('mode-text').textContent = mode >= 1 && mode <= 4 ? t('current_mode', { n: mode }) : '';
    for (const b of document.querySelectorAll('.mode')) {
      const current = Number(b.dataset.mode) === mode;
      b.classList.toggle('current', current);
      b.setAttribute('aria-pressed', current ? 'true' : 'false');
    }
    $('role').textContent = state.role ? t(state.role === 'owner' ? 'role_owner' : 'role_guest') : '';
    $('role').hidden = !state.role;
  }

  function takeStatus(s) {
    if (!s || typeof s !== 'object') return;
    for (const k of ['connected', 'mode', 'model', 'input_format']) if (k in s) state.status[k] = s[k];
    renderStatus();
    const l = levelList(s);
    if (l) renderLevels(l);
  }

  async function refreshStatus() {
    const r = await api('GET', 'status');
    if (r.ok) takeStatus(r.data);
    else if (r.status === 401) sessionEnded();
  }

  // ---- live updates -----------------------------------------------------------------------

  function received(params) {
    if (!params || typeof params !== 'object') return;
    for (const name of Object.keys(params)) {
      state.values[name] = params[name];
      const c = state.controls.get(name);
      if (c) c.render();
    }
  }

  async function refreshAll() {
    const r = await api('GET', 'params');
    if (r.status === 401) return sessionEnded();
    if (r.ok && r.data && typeof r.data === 'object') received(r.data);
    refreshStatus();
  }

  function connect() {
    clearTimeout(state.reconnectTimer);
    if (state.ws) return;
    const ws = new WebSocket((location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/api/v1/ws');
    state.ws = ws;
    ws.onopen = () => {
      state.wsOpen = true;
      clearInterval(state.pollTimer);
      state.pollTimer = null;
      state.retries = 0;
      banner('');
      renderStatus();
      // Whatever changed while the socket was down.
      refreshAll();
    };
    ws.onmessage = (e) => {
      let msg;
      try { msg = JSON.parse(e.data); } catch (err) { return; }
      if (!msg || typeof msg !== 'object') return;
      if (msg.type === 'changed') {
        received(msg.params);
        if ('mode' in msg || 'connected' in msg) takeStatus(msg);
      } else if (msg.type === 'levels') {
        renderLevels(levelList(msg));
        takeStatus(Object.assign({}, msg, { levels: undefined }));
      } else if (msg.type === 'status') {
        takeStatus(msg);
      } else if (msg.type === 'error') {
        refused(wsErrorStatus(msg), msg);
      }
    };
    ws.onclose = () => {
      const wasOpen = state.wsOpen;
      state.ws = null;
      state.wsOpen = false;
      if (!state.entered) return;
      state.retries++;
      renderStatus();
      // Without the socket (a proxy that drops upgrades, a host restarting) the values are
      // still fetched now and then, so the page never shows stale numbers for long.
      if (!state.pollTimer) {
        state.pollTimer = setInterval(() => { if (!document.hidden && !state.wsOpen) refreshAll(); }, POLL_MS);
      }
      // A refused upgrade may mean the session ended: ask before trying again.
      api('GET', 'whoami').then((r) => {
        if (!state.entered) return;
        if (r.status === 401) return sessionEnded();
        if (r.status === 0 && !wasOpen) banner(t('err_offline'));
        const delay = Math.min(8000, 400 * Math.pow(2, Math.min(state.retries - 1, 5)));
        state.reconnectTimer = setTimeout(connect, delay);
      });
    };
  }

  // ---- login ------------------------------------------------------------------------------

  function showLogin(message) {
    state.entered = false;
    document.body.classList.remove('in-app');
    $('app').hidden = true;
    $('logout').hidden = true;
    $('login').hidden = false;
    const err = $('login-error');
    err.textContent = message || '';
    err.hidden = !message;
    renderStatus();
    setTimeout(() => $('pin').focus(), 0);
  }

  async function sessionEnded() {
    if (!state.entered) return;
    const openGuest = state.openGuest;
    leave();
    // Open guest access needs no PIN: a restarted host ends the session, the phone simply
    // comes back.
    if (openGuest) {
      const r = await api('POST', 'login', { pin: '' });
      const w = r.ok ? await api('GET', 'whoami') : null;
      if (w && w.ok && w.data) {
        state.openGuest = true;
        return enter(w.data);
      }
    }
    showLogin(t('err_session'));
  }

  function leave() {
    state.entered = false;
    state.openGuest = false;
    state.role = null;
    clearTimeout(state.reconnectTimer);
    clearInterval(state.statusTimer);
    clearInterval(state.pollTimer);
    state.pollTimer = null;
    if (state.ws) {
      const ws = state.ws;
      state.ws = null;
      state.wsOpen = false;
      ws.onclose = null;
      ws.close();
    }
  }

  function enter(who) {
    state.role = who.role === 'owner' ? 'owner' : 'guest';
    state.modes = !!who.modes;
    state.params = new Map();
    for (const p of Array.isArray(who.params) ? who.params : []) {
      if (p && typeof p.name === 'string') state.params.set(p.name, p);
    }
    state.entered = true;
    state.retries = 0;
    document.body.classList.add('in-app');
    $('login').hidden = true;
    $('app').hidden = false;
    $('logout').hidden = false;
    banner('');
    buildControls();
    renderStatus();
    refreshAll();
    connect();
    clearInterval(state.statusTimer);
    state.statusTimer = setInterval(() => { if (!document.hidden) refreshStatus(); }, STATUS_POLL_MS);
  }

  async function login(pin, asGuest) {
    const button = asGuest ? $('guest-button') : $('login-button');
    const err = $('login-error');
    if (!asGuest && !pin) {
      err.textContent = t('err_pin_empty');
      err.hidden = false;
      return;
    }
    button.disabled = true;
    const r = await api('POST', 'login', { pin: asGuest ? '' : pin });
    button.disabled = false;
    if (r.ok) {
      $('pin').value = '';
      const w = await api('GET', 'whoami');
      state.openGuest = asGuest;
      if (w.ok && w.data) return enter(w.data);
      return showLogin(errorText(w.status, w.data));
    }
    let msg;
    if (r.status === 429) {
      const s = Number(r.retryAfter || (r.data && (r.data.retry_after || r.data.retryAfter)));
      msg = s > 0 ? t('err_rate', { s: Math.ceil(s) }) : t('err_rate_later');
    } else if (r.status === 403) {
      msg = t('err_closed');
    } else if (r.status === 401 || r.status === 400) {
      msg = asGuest ? t('err_guest_pin') : t('err_pin');
    } else if (r.status === 0) {
      msg = t('err_offline');
    } else {
      msg = t('err_server');
    }
    err.textContent = msg;
    err.hidden = false;
    if (!asGuest) $('pin').select();
  }

  async function start() {
    const w = await api('GET', 'whoami');
    if (w.ok && w.data) return enter(w.data);
    if (w.status === 0) {
      banner(t('err_offline'));
      setTimeout(start, 3000);
      return;
    }
    banner('');
    showLogin('');
  }

  // ---- wiring -----------------------------------------------------------------------------

  state.lang = pickLanguage();
  $('lang').addEventListener('click', () => {
    state.lang = state.lang === 'zh' ? 'en' : 'zh';
    try { localStorage.setItem('q7.lang', state.lang); } catch (e) { /* not kept then */ }
    applyLanguage();
  });
  $('login-form').addEventListener('submit', (e) => {
    e.preventDefault();
    login($('pin').value, false);
  });
  $('guest-button').addEventListener('click', () => login('', true));
  $('logout').addEventListener('click', async () => {
    leave();
    await api('POST', 'logout');
    showLogin('');
  });
  document.addEventListener('visibilitychange', () => {
    if (!document.hidden && state.entered && !state.ws) connect();
  });

  applyLanguage();
  start();
})();
