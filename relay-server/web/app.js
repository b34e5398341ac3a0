'use strict';
// The phone's view of its paired machines. Every text shown comes from the relay as data and is
// inserted with textContent, never as markup. Tokens live only in this origin's localStorage.

const STORAGE_KEY = 'korvo.pairings';
const ANSWER_CACHE = 'korvo-answers';
const REFRESH_MS = 30000;
// Relative texts are written again this often on the phone's clock, online or not.
const RETEXT_MS = 30000;
// Connectors upload about every 30 s: data older than this is not current.
const STALE_MS = 3 * 60 * 1000;
const DEVICE_NAME = 'Web browser';

const $ = (id) => document.getElementById(id);
let pairings = loadPairings();
const views = new Map(); // syncSpaceId -> {answer, offline, error}
let timer = null;
let refreshing = null;

function isPairing(p) {
  return p && typeof p.syncSpaceId === 'string' && typeof p.deviceId === 'string' &&
    typeof p.token === 'string';
}

function loadPairings() {
  try {
    const list = JSON.parse(localStorage.getItem(STORAGE_KEY) || '[]');
    return Array.isArray(list) ? list.filter(isPairing) : [];
  } catch (e) {
    return [];
  }
}

function savePairings() {
  localStorage.setItem(STORAGE_KEY, JSON.stringify(pairings));
}

function viewPath(p) {
  return '/v1/sync-spaces/' + encodeURIComponent(p.syncSpaceId) + '/snapshots/latest/view';
}

// One request to the relay; resolves to {ok, status, data, offline}, rejects when unreachable.
async function api(method, path, token, body) {
  const headers = {};
  if (token) headers.authorization = 'Bearer ' + token;
  if (body) headers['content-type'] = 'application/json';
  const res = await fetch(path, {
    method, headers, body: body ? JSON.stringify(body) : undefined,
    cache: 'no-store', credentials: 'omit', referrerPolicy: 'no-referrer',
  });
  let data = null;
  try {
    data = await res.json();
  } catch (e) {
    data = null;
  }
  return {ok: res.ok, status: res.status, data, offline: res.headers.get('x-korvo-offline') === '1'};
}

function errorText(r, fallback) {
  return r.data && typeof r.data.error === 'string' ? r.data.error : fallback + ' (HTTP ' + r.status + ')';
}

// Screens

function showPairing(code) {
  $('home').hidden = true;
  $('pair').hidden = false;
  $('pair-cancel').hidden = pairings.length === 0;
  $('pair-error').textContent = '';
  if (code) $('code').value = code;
  $('code').focus();
}

function showHome() {
  $('pair').hidden = true;
  $('home').hidden = false;
  render();
}

async function claim(event) {
  event.preventDefault();
  const code = $('code').value.replace(/\s+/g, '');
  if (!/^[0-9]{6}$/.test(code)) {
    $('pair-error').textContent = 'Enter the 6 digits of the pairing code.';
    return;
  }
  $('pair-button').disabled = true;
  $('pair-error').textContent = '';
  try {
    const r = await api('POST', '/v1/pairing/claim', null, {pairingCode: code, deviceName: DEVICE_NAME});
    const d = r.data || {};
    const pairing = {syncSpaceId: d.syncSpaceId, deviceId: d.phoneDeviceId, token: d.phoneDeviceToken};
    if (!r.ok || !isPairing(pairing)) {
      $('pair-error').textContent = errorText(r, 'Pairing failed');
      return;
    }
    pairings.push(pairing);
    savePairings();
    $('code').value = '';
    history.replaceState(null, '', '/');
    showHome();
    refreshAll();
  } catch (e) {
    $('pair-error').textContent = 'The relay could not be reached. Try again.';
  } finally {
    $('pair-button').disabled = false;
  }
}

async function unpair(p, name) {
  if (!confirm('Unpair ' + name + '? This phone stops showing its limits.')) return;
  const view = views.get(p.syncSpaceId) || {};
  try {
    const r = await api('DELETE', '/v1/sync-spaces/' + encodeURIComponent(p.syncSpaceId) +
      '/devices/' + encodeURIComponent(p.deviceId), p.token);
    // 401: the relay no longer knows this phone there; forgetting it is all that is left.
    if (!r.ok && r.status !== 401 && r.status !== 404) {
      view.error = errorText(r, 'Unpairing failed');
      views.set(p.syncSpaceId, view);
      render();
      return;
    }
  } catch (e) {
    view.error = 'The relay could not be reached. Try again.';
    views.set(p.syncSpaceId, view);
    render();
    return;
  }
  pairings = pairings.filter((q) => q.syncSpaceId !== p.syncSpaceId);
  savePairings();
  views.delete(p.syncSpaceId);
  if (window.caches) caches.open(ANSWER_CACHE).then((c) => c.delete(viewPath(p))).catch(() => {});
  if (pairings.length === 0) showPairing(); else render();
}

// Refresh

async function refreshOne(p) {
  const previous = views.get(p.syncSpaceId) || {};
  try {
    const r = await api('GET', viewPath(p) + '?utcOffset=' + String(-new Date().getTimezoneOffset()),
      p.token);
    if (r.ok && r.data && Array.isArray(r.data.providers)) {
      views.set(p.syncSpaceId, {answer: r.data, offline: r.offline, fetchedAt: Date.now()});
    } else if (r.status === 401) {
      views.set(p.syncSpaceId, {answer: previous.answer, revoked: true, fetchedAt: previous.fetchedAt,
        error: 'This machine no longer accepts this phone. Unpair it and pair again.'});
    } else {
      views.set(p.syncSpaceId, {answer: previous.answer, fetchedAt: previous.fetchedAt,
        error: errorText(r, 'The relay refused')});
    }
  } catch (e) {
    views.set(p.syncSpaceId, {answer: previous.answer, offline: true, fetchedAt: previous.fetchedAt});
  }
}

function refreshAll() {
  clearTimeout(timer);
  timer = null;
  if (!refreshing) {
    refreshing = Promise.all(pairings.map(refreshOne)).then(() => {
      refreshing = null;
      render();
      schedule();
    });
  }
  return refreshing;
}

// Idle while hidden: the next refresh is only planned for a visible page.
function schedule() {
  clearTimeout(timer);
  timer = null;
  if (document.visibilityState === 'visible' && pairings.length > 0) {
    timer = setTimeout(refreshAll, REFRESH_MS);
  }
}

// Times, on the phone's clock and in its time zone

const WEEKDAYS = ['Sun', 'Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat'];
const MONTHS = ['Jan', 'Feb', 'Mar', 'Apr', 'May', 'Jun', 'Jul', 'Aug', 'Sep', 'Oct', 'Nov', 'Dec'];

function parseDate(value) {
  if (typeof value !== 'string') return null;
  const ms = Date.parse(value);
  return isFinite(ms) ? ms : null;
}

function two(n) {
  return String(n).padStart(2, '0');
}

function clockText(ms, withDate) {
  const d = new Date(ms);
  let out = WEEKDAYS[d.getDay()] + ' ' + two(d.getHours()) + ':' + two(d.getMinutes());
  if (withDate) out += ' (' + d.getDate() + ' ' + MONTHS[d.getMonth()] + ')';
  return out;
}

// "1 h 40 min", "40 min"; minutes rounded up for what is ahead, down for what is past.
function spanText(ms, up) {
  const minutes = up ? Math.ceil(ms / 60000) : Math.floor(ms / 60000);
  const h = Math.floor(minutes / 60);
  const m = minutes % 60;
  return [h > 0 ? h + ' h' : '', m > 0 ? m + ' min' : ''].filter(Boolean).join(' ');
}

// As the connector writes a reset: "in 1 h 40 min", "Mon 09:00" beyond a day, "now".
function resetPhrase(resetMs, now) {
  const ahead = resetMs - now;
  if (ahead <= 0) return 'now';
  if (ahead < 60000) return 'in less than 1 min';
  if (ahead <= 86400000) return 'in ' + spanText(ahead, true);
  return clockText(resetMs, ahead >= 6.5 * 86400000);
}

function agoPhrase(pastMs, now) {
  const ago = now - pastMs;
  if (ago < 60000) return 'less than 1 min ago';
  if (ago < 86400000) return spanText(ago, false) + ' ago';
  return 'on ' + clockText(pastMs, ago >= 6.5 * 86400000);
}

// Drawing

function text(root, selector, value) {
  const node = root.querySelector(selector);
  node.textContent = value == null ? '' : String(value);
  return node;
}

function setGauge(gauge, value, name) {
  if (typeof value !== 'number' || !isFinite(value)) return;
  const shown = Math.max(0, Math.min(100, value));
  gauge.hidden = false;
  gauge.setAttribute('aria-valuenow', String(Math.round(shown)));
  gauge.setAttribute('aria-label', name);
  gauge.querySelector('.gauge-fill').style.width = shown + '%';
}

const SVG_NS = 'http://www.w3.org/2000/svg';
const SPARK_MAX_POINTS = 200;

// A row's used percentage over its current window, from its first reading to its last: 0 at
// the bottom, 100 % at the top. Nothing with fewer than two well-formed readings.
function drawSparkline(svg, line, name) {
  if (!Array.isArray(line)) return;
  const points = line.slice(0, SPARK_MAX_POINTS).filter((p) => Array.isArray(p) &&
    typeof p[0] === 'number' && isFinite(p[0]) && typeof p[1] === 'number' && isFinite(p[1]));
  if (points.length < 2) return;
  const from = points[0][0];
  const span = points[points.length - 1][0] - from;
  if (!(span > 0)) return;
  const coordinates = points.map((p) => {
    const x = Math.max(0, Math.min(100, (p[0] - from) / span * 100));
    const y = 100 - Math.max(0, Math.min(100, p[1]));
    return x.toFixed(2) + ',' + y.toFixed(2);
  });
  const polyline = document.createElementNS(SVG_NS, 'polyline');
  polyline.setAttribute('points', coordinates.join(' '));
  polyline.setAttribute('class', 'spark-line');
  svg.replaceChildren(polyline);
  svg.setAttribute('aria-label', name + ' used over its current window');
  svg.removeAttribute('hidden');
}

function providerCard(row, now) {
  const card = $('provider-template').content.firstElementChild.cloneNode(true);
  card.dataset.status = String(row.status || 'unknown');
  text(card, '.title', row.title);
  text(card, '.subtitle', row.subtitle);
  text(card, '.remaining', row.remaining);
  const caption = typeof row.figureCaption === 'string' ? row.figureCaption : 'remaining';
  text(card, '.figure-caption', caption);
  // A usage figure is not a status: no status word, no status colour.
  const usage = caption !== 'remaining' && !caption.endsWith(' remaining');
  card.classList.toggle('usage', usage);
  text(card, '.status-text', usage && row.status === 'unknown' ? '' : row.statusText);
  text(card, '.used', row.used).hidden = typeof row.used !== 'string';
  text(card, '.window', row.window);
  const resetMs = parseDate(row.resetAt);
  const reset = resetMs != null ? 'Reset ' + resetPhrase(resetMs, now) : row.reset;
  text(card, '.reset', reset).hidden = typeof reset !== 'string';
  if (typeof row.details === 'string') text(card, '.details', row.details).hidden = false;
  drawSparkline(card.querySelector('.spark'), row.sparkline, String(row.title));
  if (typeof row.pace === 'string') text(card, '.pace', row.pace).hidden = false;
  setGauge(card.querySelector('.gauge'), row.gauge,
    String(row.title) + ' ' + String(row.remaining) + ' remaining');
  const second = row.second;
  if (second && typeof second === 'object') {
    const block = card.querySelector('.second');
    block.hidden = false;
    block.dataset.status = String(second.status || 'unknown');
    text(block, '.second-name', String(second.name) + ' window');
    text(block, '.second-remaining', String(second.remaining) + ' remaining');
    const secondReset = parseDate(second.resetAt);
    text(block, '.second-reset',
      secondReset != null ? 'Resets ' + resetPhrase(secondReset, now) : second.reset);
    setGauge(block.querySelector('.gauge'), second.gauge,
      String(row.title) + ' ' + String(second.name) + ' ' + String(second.remaining) + ' remaining');
  }
  return card;
}

// The lowest remaining share of a row, or Infinity without one.
function lowestOf(row) {
  return row && typeof row.lowest === 'number' && isFinite(row.lowest) ? row.lowest : Infinity;
}

function rowsOf(view) {
  const answer = view && view.answer;
  const rows = answer && Array.isArray(answer.providers) ? answer.providers : [];
  // Most urgent first; rows without a share keep their order after those with one.
  return rows.filter((r) => r && typeof r === 'object')
    .map((r, i) => [r, i])
    .sort((a, b) => (lowestOf(a[0]) - lowestOf(b[0])) || (a[1] - b[1]))
    .map((pair) => pair[0]);
}

function machineName(view) {
  const answer = view && view.answer;
  return answer && typeof answer.machine === 'string' && answer.machine ? answer.machine
    : 'Paired machine';
}

// Whether the figures of a machine are not current: the relay is out of reach, the connector no
// longer uploads, or it was unlinked.
function staleness(view, now) {
  const answer = view.answer;
  const updated = answer ? parseDate(answer.updatedAt) : null;
  if (view.revoked || (answer && answer.connectorRevoked)) return 'revoked';
  if (view.offline) return 'offline';
  if (updated != null && now - updated > STALE_MS) return 'stale';
  return '';
}

function updatedText(view, now) {
  const answer = view.answer;
  if (!answer) return 'Loading…';
  const updated = parseDate(answer.updatedAt);
  if (updated == null) return answer.updatedText;
  return 'Updated ' + agoPhrase(updated, now);
}

function machineEntry(p, now) {
  const view = views.get(p.syncSpaceId) || {};
  const answer = view.answer;
  const node = $('machine-template').content.firstElementChild.cloneNode(true);
  node.dataset.syncSpace = p.syncSpaceId;
  const name = machineName(view);
  text(node, '.machine-name', name);
  text(node, '.updated-text', updatedText(view, now));
  const state = staleness(view, now);
  node.classList.toggle('dimmed', state !== '');
  const badge = node.querySelector('.badge');
  badge.hidden = state === '';
  badge.textContent = {offline: 'Offline', stale: 'Not updating', revoked: 'Unlinked'}[state] || '';
  if (view.error) {
    text(node, '.machine-error', view.error).hidden = false;
  } else if (answer && answer.connectorRevoked) {
    text(node, '.machine-error', 'Korvo Connector on this machine was unlinked. ' +
      'These are its last figures; pair it again to see new ones.').hidden = false;
  }
  const list = node.querySelector('.providers');
  const rows = rowsOf(view);
  for (const row of rows) list.appendChild(providerCard(row, now));
  node.querySelector('.empty').hidden = !answer || rows.length > 0;
  const button = node.querySelector('.unpair');
  button.setAttribute('aria-label', 'Unpair ' + name);
  button.addEventListener('click', () => unpair(p, name));
  return node;
}

function machineLowest(p) {
  const rows = rowsOf(views.get(p.syncSpaceId));
  return rows.length ? lowestOf(rows[0]) : Infinity;
}

// One line at the top: the tool closest to its limit, on which machine, until when, and
// whether that is current.
function summaryText(ordered, now) {
  for (const p of ordered) {
    const view = views.get(p.syncSpaceId) || {};
    const row = rowsOf(view)[0];
    if (!row || lowestOf(row) === Infinity) continue;
    const windowName = typeof row.lowestWindow === 'string' && row.lowestWindow ? row.lowestWindow
      : '';
    let out = 'Closest to its limit: ' + row.title + ' on ' + machineName(view) + ', ' +
      Math.round(lowestOf(row)) + '% left' + (windowName ? ' (' + windowName + ')' : '');
    const second = row.second && windowName ? row.second : null;
    const resetMs = parseDate(second ? second.resetAt : row.resetAt);
    if (resetMs != null) out += ', resets ' + resetPhrase(resetMs, now);
    const state = staleness(view, now);
    if (state) out += ' · ' + updatedText(view, now).replace(/^Updated/, 'as of');
    return out;
  }
  return '';
}

function render() {
  const now = Date.now();
  const focused = document.activeElement && document.activeElement.closest('.machine');
  const focusedSpace = focused ? focused.dataset.syncSpace : null;
  const machines = $('machines');
  const ordered = pairings.map((p, i) => [p, i])
    .sort((a, b) => (machineLowest(a[0]) - machineLowest(b[0])) || (a[1] - b[1]))
    .map((pair) => pair[0]);
  machines.replaceChildren(...ordered.map((p) => machineEntry(p, now)));
  const summary = summaryText(ordered, now);
  text(document, '#summary', summary).hidden = summary === '';
  $('offline').hidden = ![...views.values()].some((v) => v.offline);
  if (focusedSpace) {
    for (const node of machines.children) {
      if (node.dataset.syncSpace === focusedSpace) node.querySelector('.unpair').focus();
    }
  }
}

// Relative texts age with the phone's clock, whether or not the relay answers.
function retext() {
  if (!$('home').hidden) render();
}

function start() {
  $('pair-form').addEventListener('submit', claim);
  $('pair-cancel').addEventListener('click', showHome);
  $('add').addEventListener('click', () => showPairing());
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') refreshAll(); else clearTimeout(timer);
  });
  window.addEventListener('online', () => refreshAll());
  setInterval(retext, RETEXT_MS);
  const params = new URLSearchParams(location.search);
  const code = location.pathname === '/pair' ? params.get('code') : null;
  if (code || pairings.length === 0) {
    showPairing(code && /^[0-9]{6}$/.test(code) ? code : '');
  } else {
    showHome();
    refreshAll();
  }
  if ('serviceWorker' in navigator) navigator.serviceWorker.register('/sw.js').catch(() => {});
}

start();
