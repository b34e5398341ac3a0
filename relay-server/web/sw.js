'use strict';
// Keeps the page's files and each machine's last answer, so the page opens and shows the last
// known limits, marked offline, when the relay cannot be reached.

const SHELL_CACHE = 'korvo-shell';
const ANSWER_CACHE = 'korvo-answers';
const SHELL = ['/', '/app.css', '/app.js', '/manifest.webmanifest', '/icon.svg', '/icon-192.png'];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(SHELL_CACHE).then((c) => c.addAll(SHELL)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(self.clients.claim());
});

function isAnswer(url) {
  return url.pathname.startsWith('/v1/sync-spaces/') && url.pathname.endsWith('/snapshots/latest/view');
}

async function answer(request, url) {
  const cache = await caches.open(ANSWER_CACHE);
  try {
    const response = await fetch(request);
    if (response.ok) await cache.put(url.pathname, response.clone());
    return response;
  } catch (e) {
    const kept = await cache.match(url.pathname);
    if (!kept) throw e;
    return new Response(await kept.blob(), {
      status: 200,
      headers: {'content-type': 'application/json', 'x-korvo-offline': '1'},
    });
  }
}

// The relay first, so a reload always shows the current page; the kept copy when it is away.
async function shell(request, url) {
  const cache = await caches.open(SHELL_CACHE);
  const key = url.pathname === '/pair' ? '/' : url.pathname;
  try {
    const response = await fetch(request);
    if (response.ok && SHELL.includes(key)) await cache.put(key, response.clone());
    return response;
  } catch (e) {
    const kept = await cache.match(key);
    if (!kept) throw e;
    return kept;
  }
}

self.addEventListener('fetch', (event) => {
  const request = event.request;
  const url = new URL(request.url);
  if (request.method !== 'GET' || url.origin !== self.location.origin) return;
  if (isAnswer(url)) {
    event.respondWith(answer(request, url));
  } else if (request.mode === 'navigate' || SHELL.includes(url.pathname)) {
    event.respondWith(shell(request, url));
  }
});
