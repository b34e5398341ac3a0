'use strict';
// The phone's view of its paired machines. Every text shown comes from the relay as data and is
// inserted with textContent, never as markup. Tokens live only in this origin's localStorage.

const STORAGE_KEY = 'korvo.pairings';
const ANSWER_CACHE = 'korvo-answers';
const REFRESH_MS = 30000;
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
    const r = await api('GET', viewPath(p), p.token);
    if (r.ok && r.data && Array.isArray(r.data.providers)) {
      views.set(p.syncSpaceId, {answer: r.data, offline: r.offline});
    } else if (r.status === 401) {
      views.set(p.syncSpaceId, {answer: previous.answer,
        error: 'This machine no longer accepts this phone. Unpair it and pair again.'});
    } else {
      views.set(p.syncSpaceId, {answer: previous.answer, error: errorText(r, 'The relay refused')});
    }
  } catch (e) {
    views.set(p.syncSpaceId, {answer: previous.answer, offline: true});
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

// Drawing

function text(root, selector, value) {
  const node = root.querySelector(selector);
  node.textContent = value == null ? '' : String(value);
  return node;
}

function providerCard(row) {
  const card = $('provider-template').content.firstElementChild.cloneNode(true);
  card.dataset.status = String(row.status || 'unknown');
  text(card, '.title', row.title);
  text(card, '.subtitle', row.subtitle);
  text(card, '.remaining', row.remaining);
  text(card, '.status-text', row.statusText);
  text(card, '.used', row.used);
  text(card, '.window', row.window);
  text(card, '.reset', row.reset);
  if (typeof row.details === 'string') text(card, '.details', row.details).hidden = false;
  if (typeof row.gauge === 'number' && isFinite(row.gauge)) {
    const value = Math.max(0, Math.min(100, row.gauge));
    const gauge = card.querySelector('.gauge');
    gauge.hidden = false;
    gauge.setAttribute('aria-valuenow', String(Math.round(value)));
    gauge.setAttribute('aria-label', String(row.title) + ' remaining');
    gauge.querySelector('.gauge-fill').style.width = value + '%';
  }
  return card;
}

function machineEntry(p) {
  const view = views.get(p.syncSpaceId) || {};
  const answer = view.answer;
  const node = $('machine-template').content.firstElementChild.cloneNode(true);
  node.dataset.syncSpace = p.syncSpaceId;
  const name = answer && typeof answer.machine === 'string' && answer.machine ? answer.machine
    : 'Paired machine';
  text(node, '.machine-name', name);
  text(node, '.updated-text', answer ? answer.updatedText : 'Loading…');
  node.querySelector('.badge').hidden = !view.offline;
  if (view.error) text(node, '.machine-error', view.error).hidden = false;
  const list = node.querySelector('.providers');
  const rows = answer && Array.isArray(answer.providers) ? answer.providers : [];
  for (const row of rows) {
    if (row && typeof row === 'object') list.appendChild(providerCard(row));
  }
  node.querySelector('.empty').hidden = !answer || rows.length > 0;
  const button = node.querySelector('.unpair');
  button.setAttribute('aria-label', 'Unpair ' + name);
  button.addEventListener('click', () => unpair(p, name));
  return node;
}

function render() {
  const focused = document.activeElement && document.activeElement.closest('.machine');
  const focusedSpace = focused ? focused.dataset.syncSpace : null;
  const machines = $('machines');
  machines.replaceChildren(...pairings.map(machineEntry));
  $('offline').hidden = ![...views.values()].some((v) => v.offline);
  if (focusedSpace) {
    for (const node of machines.children) {
      if (node.dataset.syncSpace === focusedSpace) node.querySelector('.unpair').focus();
    }
  }
}

function start() {
  $('pair-form').addEventListener('submit', claim);
  $('pair-cancel').addEventListener('click', showHome);
  $('add').addEventListener('click', () => showPairing());
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') refreshAll(); else clearTimeout(timer);
  });
  window.addEventListener('online', () => refreshAll());
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
