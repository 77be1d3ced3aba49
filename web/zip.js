// A zip archive of files with their exact bytes (stored, not compressed), the names in UTF-8
// (flagged, and again in an Info-ZIP Unicode path field for unzip programs that read only
// that): how the page hands a folder's files to the computer. zipFiles({path: Uint8Array}) answers the
// archive as a Uint8Array; paths use "/" between folders.
'use strict';

const kCrcTable = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(bytes) {
  let c = 0xFFFFFFFF;
  for (let i = 0; i < bytes.length; ++i) c = kCrcTable[(c ^ bytes[i]) & 0xFF] ^ (c >>> 8);
  return (c ^ 0xFFFFFFFF) >>> 0;
}

// The date and time in the MS-DOS form zip keeps (local time, two-second steps).
function dosDateTime(date) {
  const time = (date.getHours() << 11) | (date.getMinutes() << 5) | (date.getSeconds() >> 1);
  const day = ((date.getFullYear() - 1980) << 9) | ((date.getMonth() + 1) << 5) | date.getDate();
  return [time, day];
}

function zipFiles(files, date = new Date()) {
  const encoder = new TextEncoder();
  const [time, day] = dosDateTime(date);
  const locals = [];
  const centrals = [];
  let offset = 0;
  for (const [path, data] of Object.entries(files)) {
    if (data.length >= 0xFFFFFFFF || offset >= 0xFFFFFFFF) throw new Error('zip: ' + path + ' is too large');
    const name = encoder.encode(path);
    const crc = crc32(data);
    // Info-ZIP Unicode path (0x7075): version 1, the CRC of the name field, the UTF-8 name.
    const extra = new Uint8Array(9 + name.length);
    const extraView = new DataView(extra.buffer);
    extraView.setUint16(0, 0x7075, true);
    extraView.setUint16(2, 5 + name.length, true);
    extra[4] = 1;
    extraView.setUint32(5, crc32(name), true);
    extra.set(name, 9);
    // Version 2.0, flag 0x0800 (UTF-8 names), stored, time, date, CRC, sizes, name length.
    const header = (signature, central) => {
      const size = central ? 46 : 30;
      const view = new DataView(new ArrayBuffer(size));
      let p = 0;
      const u16 = (v) => { view.setUint16(p, v, true); p += 2; };
      const u32 = (v) => { view.setUint32(p, v, true); p += 4; };
      u32(signature);
      if (central) u16(20);
      u16(20); u16(0x0800); u16(0); u16(time); u16(day);
      u32(crc); u32(data.length); u32(data.length); u16(name.length); u16(extra.length);
      if (central) { u16(0); u16(0); u16(0); u32(0); u32(offset); }
      return new Uint8Array(view.buffer);
    };
    locals.push(header(0x04034B50, false), name, extra, data);
    centrals.push(header(0x02014B50, true), name, extra);
    offset += 30 + name.length + extra.length + data.length;
  }
  const centralSize = centrals.reduce((n, part) => n + part.length, 0);
  const count = Object.keys(files).length;
  if (count > 0xFFFF) throw new Error('zip: too many files');
  const end = new DataView(new ArrayBuffer(22));
  end.setUint32(0, 0x06054B50, true);
  end.setUint16(8, count, true);
  end.setUint16(10, count, true);
  end.setUint32(12, centralSize, true);
  end.setUint32(16, offset, true);
  const parts = [...locals, ...centrals, new Uint8Array(end.buffer)];
  const zip = new Uint8Array(offset + centralSize + 22);
  let p = 0;
  for (const part of parts) {
    zip.set(part, p);
    p += part.length;
  }
  return zip;
}
