// The pages' service worker: every file of the pages is kept in the browser's cache when the
// worker installs and again at every answer from the server, and served from there when the
// server cannot be reached, so that a browser that opened the pages once runs them offline.
// The server is asked first: a new build reaches the browser as soon as it is online.
'use strict';

const kCache = 'pyokoran-pages';
const kFiles = ['index.html', 'task.js', 'task.css', 'simulate.html', 'simulate.js', 'zip.js', 'pyokoran_page.js', 'pyokoran_page.wasm',
                'pyokoran_page.worker.js', 'stim/files.json'];

self.addEventListener('install', (event) => {
  event.waitUntil((async () => {
    const cache = await caches.open(kCache);
    await cache.addAll(kFiles);
    const stimuli = await (await cache.match('stim/files.json')).json();
    await cache.addAll(stimuli.map((name) => 'stim/' + name));
    await self.skipWaiting();
  })());
});

self.addEventListener('activate', (event) => event.waitUntil(self.clients.claim()));

self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET') return;
  event.respondWith((async () => {
    try {
      const response = await fetch(event.request);
      if (response.ok) {
        const copy = response.clone();
        event.waitUntil(caches.open(kCache).then((cache) => cache.put(event.request, copy)));
      }
      return response;
    } catch (error) {
      const cached = await caches.match(event.request, {ignoreSearch: true});
      if (cached) return cached;
      throw error;
    }
  })());
});
