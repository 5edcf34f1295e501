// A run's files in one zip, made of the files' own Blobs: nothing is copied
// into one large buffer, so a zip of gigabytes costs the browser no more
// memory than its files and its headers.
//
// The layout is PKWARE's APPNOTE: for each file a local header, then its
// bytes; then the central directory and its end record. A file up to 16 MB
// is deflated (raw DEFLATE through the browser's CompressionStream, native
// and streamed) where the browser can; a larger one is stored: the browser
// deflates some 20 MB a second, and a million points' files (240 MB) would
// keep the zip waiting ten seconds to save a disk what a copy costs.
// Sizes or offsets past 4 GiB − 1 take the ZIP64 extra field and end
// records, which every unzip in use reads; a smaller zip is left without
// them, as unzip of old expects.

// CRC-32 eight bytes a step ("slicing by 8"): TABLES[k][b] is the CRC of
// byte b followed by k zero bytes, so eight lookups do what eight rounds of
// the byte-at-a-time loop do. Some four times as fast in a browser, where the
// CRC is found as the module writes each file.
const TABLES = (() => {
  const tables = Array.from({ length: 8 }, () => new Int32Array(256));
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    tables[0][n] = c;
  }
  for (let n = 0; n < 256; ++n) {
    for (let k = 1; k < 8; ++k) tables[k][n] = tables[0][tables[k - 1][n] & 0xff] ^ (tables[k - 1][n] >>> 8);
  }
  return tables;
})();

// The zip's CRC-32 of bytes, continuing from crc (that of the bytes before).
export function crc32(bytes, crc = 0) {
  const [t0, t1, t2, t3, t4, t5, t6, t7] = TABLES;
  let c = ~crc;
  let i = 0;
  for (const end = bytes.length - 7; i < end; i += 8) {
    const low = c ^ (bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16) | (bytes[i + 3] << 24));
    c = t7[low & 0xff] ^ t6[(low >>> 8) & 0xff] ^ t5[(low >>> 16) & 0xff] ^ t4[low >>> 24] ^
        t3[bytes[i + 4]] ^ t2[bytes[i + 5]] ^ t1[bytes[i + 6]] ^ t0[bytes[i + 7]];
  }
  for (; i < bytes.length; ++i) c = t0[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return ~c >>> 0;
}

const MAX32 = 0xffffffff;
const STORED = 0;
const DEFLATED = 8;
const LARGEST_DEFLATED = 16 << 20;

// DOS time and date, in local time as unzip shows them; the format starts in 1980.
function dos_time(date) {
  const year = Math.max(date.getFullYear(), 1980);
  return {
    time: (date.getHours() << 11) | (date.getMinutes() << 5) | (date.getSeconds() >> 1),
    date: ((year - 1980) << 9) | ((date.getMonth() + 1) << 5) | date.getDate(),
  };
}

// A little-endian record of fields [width in bytes, value], widths 2, 4 or 8.
function record(fields) {
  const bytes = new Uint8Array(fields.reduce((sum, [width]) => sum + width, 0));
  const view = new DataView(bytes.buffer);
  let at = 0;
  for (const [width, value] of fields) {
    if (width === 2) view.setUint16(at, value, true);
    else if (width === 4) view.setUint32(at, value, true);
    else view.setBigUint64(at, BigInt(value), true);
    at += width;
  }
  return bytes;
}

// The ZIP64 extra field: the 8-byte values whose 4-byte fields say 0xFFFFFFFF, in the order given.
function zip64_extra(values) {
  return values.length === 0 ? new Uint8Array(0) : record([[2, 0x0001], [2, 8 * values.length], ...values.map((v) => [8, v])]);
}

// A file's bytes as it goes into the zip: deflated by the browser, or as they are.
async function packed(blob, compress) {
  if (compress && blob.size <= LARGEST_DEFLATED && typeof CompressionStream === 'function') {
    try {
      const deflated = await new Response(blob.stream().pipeThrough(new CompressionStream('deflate-raw'))).blob();
      // Text compresses; a file that does not is stored, as zip tools do.
      if (deflated.size < blob.size) return { data: deflated, method: DEFLATED };
    } catch {
      // A browser without raw DEFLATE: stored below.
    }
  }
  return { data: blob, method: STORED };
}

// The zip of files: [name, Blob, crc] in the order given, crc being
// crc32 of the Blob's bytes (found where the bytes were made, not read
// again here). Returns a Blob. options.compress: false to store every file;
// options.date: the entries' time (now); options.zip64: the ZIP64 form even
// for a small zip (for tests).
export async function zip_blob(files, { compress = true, date = new Date(), zip64 = false } = {}) {
  const { time, date: day } = dos_time(date);
  const encoder = new TextEncoder();
  const parts = [];
  const central = [];
  let offset = 0;
  for (const [name, blob, crc] of files) {
    const { data, method } = await packed(blob, compress);
    const name_bytes = encoder.encode(name);
    const large = zip64 || blob.size >= MAX32 || data.size >= MAX32;
    const far = zip64 || offset >= MAX32;
    const version = large || far ? 45 : 20;
    // Bit 11: the name is UTF-8 (a name may hold any letter).
    const common = [[2, version], [2, 0x0800], [2, method], [2, time], [2, day], [4, crc],
                    [4, large ? MAX32 : data.size], [4, large ? MAX32 : blob.size], [2, name_bytes.length]];
    const local_extra = zip64_extra(large ? [blob.size, data.size] : []);
    const local = record([[4, 0x04034b50], ...common, [2, local_extra.length]]);
    parts.push(local, name_bytes, local_extra, data);
    const central_extra = zip64_extra([...(large ? [blob.size, data.size] : []), ...(far ? [offset] : [])]);
    // Made by version 4.5 on Unix (3), so that unzip gives the files mode 0644.
    central.push(record([[4, 0x02014b50], [2, (3 << 8) | 45], ...common, [2, central_extra.length], [2, 0], [2, 0],
                         [2, 0], [4, (0o100644 << 16) >>> 0], [4, far ? MAX32 : offset]]), name_bytes, central_extra);
    offset += local.length + name_bytes.length + local_extra.length + data.size;
  }
  const directory_size = central.reduce((sum, part) => sum + part.length, 0);
  const count = files.length;
  const zip64_end = zip64 || offset >= MAX32 || directory_size >= MAX32 || count >= 0xffff;
  const end = [];
  if (zip64_end) {
    const at = offset + directory_size;
    end.push(record([[4, 0x06064b50], [8, 44], [2, (3 << 8) | 45], [2, 45], [4, 0], [4, 0], [8, count], [8, count],
                     [8, directory_size], [8, offset]]),
             record([[4, 0x07064b50], [4, 0], [8, at], [4, 1]]));
  }
  const clip = (value, max) => (zip64_end ? max : value);
  end.push(record([[4, 0x06054b50], [2, 0], [2, 0], [2, clip(count, 0xffff)], [2, clip(count, 0xffff)],
                   [4, clip(directory_size, MAX32)], [4, clip(offset, MAX32)], [2, 0]]));
  return new Blob([...parts, ...central, ...end], { type: 'application/zip' });
}
