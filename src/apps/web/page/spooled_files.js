// The module's output files, written straight into Blobs.
//
// Emscripten's memory file system keeps a file as one growing array; a
// million points' files (240 MB) would stand in the worker's memory whole,
// grown by copying, and then be copied again into the Blobs the page
// offers. Instead, once spool() is called, a file the module writes from
// its start onwards goes to Blob parts of a few MB as it is written, its
// CRC-32 (for the zip) found on the way. Anything else the module does with
// such a file — seek back, read, truncate — first turns it back into an
// ordinary file (taken(), below, reads it whole), so that the module sees
// the file system it expects and only the common case is spooled.

import { crc32 } from './zip_file.js';

const PART = 4 << 20;  // bytes gathered before they become one Blob part

// Makes the module's memory file system spool the files written after this
// call. Returns take(path, type): the file's {bytes} if it stands whole in
// memory, else its {blob (of that media type), crc}; null when there is no
// such file.
export function spool(trov) {
  const memfs = trov.FS.filesystems.MEMFS;
  const file_ops = memfs.ops_table.file;  // shared by every file node
  const write = file_ops.stream.write;
  const read = file_ops.stream.read;
  const setattr = file_ops.node.setattr;

  // A spooled node back to an ordinary one, its bytes in node.contents.
  const unspool = (node) => {
    const { spooled } = node;
    if (!spooled) return;
    node.spooled = null;
    const contents = new Uint8Array(spooled.size);
    let at = 0;
    for (const part of spooled.parts) {
      contents.set(new Uint8Array(new FileReaderSync().readAsArrayBuffer(part)), at);
      at += part.size;
    }
    contents.set(spooled.pending.subarray(0, spooled.filled), at);
    node.contents = contents;
    node.usedBytes = spooled.size;
  };

  const flush = (spooled) => {
    if (spooled.filled === 0) return;
    spooled.parts.push(new Blob([spooled.pending.subarray(0, spooled.filled)]));
    spooled.filled = 0;
  };

  file_ops.stream.write = function (stream, buffer, offset, length, position, can_own) {
    const node = stream.node;
    if (!node.spooled && node.usedBytes === 0 && position === 0 && length > 0) {
      node.spooled = { parts: [], pending: new Uint8Array(PART), filled: 0, size: 0, crc: 0 };
      node.contents = null;
    }
    const { spooled } = node;
    if (!spooled || position !== spooled.size) {
      unspool(node);
      return write.call(this, stream, buffer, offset, length, position, can_own);
    }
    const bytes = buffer.subarray(offset, offset + length);
    spooled.crc = crc32(bytes, spooled.crc);
    for (let done = 0; done < length;) {
      const count = Math.min(length - done, PART - spooled.filled);
      spooled.pending.set(bytes.subarray(done, done + count), spooled.filled);
      spooled.filled += count;
      done += count;
      if (spooled.filled === PART) flush(spooled);
    }
    spooled.size += length;
    node.usedBytes = spooled.size;  // what stat and a seek from the end see
    node.timestamp = Date.now();
    return length;
  };
  file_ops.stream.read = function (stream, ...rest) {
    unspool(stream.node);
    return read.call(this, stream, ...rest);
  };
  file_ops.node.setattr = function (node, attr) {
    if (node.spooled && attr.size !== undefined) {
      if (attr.size === 0) node.spooled = null;  // truncated: an empty file again
      else unspool(node);
    }
    return setattr.call(this, node, attr);
  };

  return (path, type) => {
    let node;
    try {
      node = trov.FS.lookupPath(path).node;
    } catch {
      return null;
    }
    const { spooled } = node;
    if (!spooled) return { bytes: trov.FS.readFile(path) };
    flush(spooled);
    node.spooled = null;
    return { blob: new Blob(spooled.parts, { type }), crc: spooled.crc };
  };
}
