// The two surfaces a figure is drawn on: a canvas (the screen, PNG files) and SVG text (vector files, text kept as text).
//
// A painter takes coordinates in CSS pixels: rect, segments (a flat list of
// x0, y0, x1, y1 per segment), polyline (a flat list of points), circles
// (a flat list of centres), text, and clip (each clip replaces the last).

export const FONT = 'DejaVu Sans, Helvetica, Arial, sans-serif';
const FONT_SIZE = 12;

export function canvas_painter(context, scale = 1) {
  context.setTransform(scale, 0, 0, scale, 0, 0);
  let clip_box = null;  // the clip in force (inside one save()), or none
  const set_clip = (box) => {
    if (clip_box) context.restore();
    clip_box = box;
    if (!box) return;
    context.save();
    context.beginPath();
    context.rect(...box);
    context.clip();
  };
  const stroke = (colour, width, path) => {
    context.strokeStyle = colour;
    context.lineWidth = width;
    context.beginPath();
    path();
    context.stroke();
  };
  return {
    rect(x, y, w, h, fill) {
      context.fillStyle = fill;
      context.fillRect(x, y, w, h);
    },
    segments(flat, colour, width) {
      stroke(colour, width, () => {
        for (let i = 0; i + 3 < flat.length; i += 4) {
          context.moveTo(flat[i], flat[i + 1]);
          context.lineTo(flat[i + 2], flat[i + 3]);
        }
      });
    },
    polyline(flat, colour, width) {
      if (flat.length < 4) return;
      context.lineJoin = 'round';
      stroke(colour, width, () => {
        context.moveTo(flat[0], flat[1]);
        for (let i = 2; i + 1 < flat.length; i += 2) context.lineTo(flat[i], flat[i + 1]);
      });
    },
    circles(flat, radius, colour, width) {
      stroke(colour, width, () => {
        for (let i = 0; i + 1 < flat.length; i += 2) {
          context.moveTo(flat[i] + radius, flat[i + 1]);
          context.arc(flat[i], flat[i + 1], radius, 0, 2 * Math.PI);
        }
      });
    },
    // Text is never clipped: the clip is lifted around it.
    text(string, x, y, { anchor = 'start', baseline = 'alphabetic', colour = '#222222', size = FONT_SIZE, rotate = 0 } = {}) {
      const box = clip_box;
      set_clip(null);
      context.save();
      context.fillStyle = colour;
      context.font = `${size}px ${FONT}`;
      context.textAlign = anchor === 'middle' ? 'center' : anchor === 'end' ? 'right' : 'left';
      context.textBaseline = baseline;
      context.translate(x, y);
      if (rotate) context.rotate((rotate * Math.PI) / 180);
      context.fillText(string, 0, 0);
      context.restore();
      set_clip(box);
    },
    clip(x, y, w, h) {
      set_clip([x, y, w, h]);
    },
    unclip() {
      set_clip(null);
    },
  };
}

// Text as XML 1.0 holds it: markup escaped, and the characters it forbids
// (control characters, lone surrogates, U+FFFE and U+FFFF), which would make
// the file unreadable, shown as U+FFFD.
const escape_xml = (text) =>
  text
    .replace(/[\x00-\x08\x0b\x0c\x0e-\x1f\ufffe\uffff]|[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/g, '\ufffd')
    .replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' })[c]);
const n = (v) => (Math.round(v * 100) / 100).toString();

// An SVG painter; svg() returns the document once the figure is drawn.
export function svg_painter(width, height, title) {
  const parts = [];
  let clips = 0;
  let group_open = false;
  const close_group = () => {
    if (group_open) parts.push('</g>');
    group_open = false;
  };
  const path_of_segments = (flat) => {
    const d = [];
    for (let i = 0; i + 3 < flat.length; i += 4) d.push(`M${n(flat[i])} ${n(flat[i + 1])}L${n(flat[i + 2])} ${n(flat[i + 3])}`);
    return d.join('');
  };
  return {
    rect(x, y, w, h, fill) {
      parts.push(`<rect x="${n(x)}" y="${n(y)}" width="${n(w)}" height="${n(h)}" fill="${fill}"/>`);
    },
    segments(flat, colour, width) {
      if (flat.length < 4) return;
      parts.push(`<path d="${path_of_segments(flat)}" stroke="${colour}" stroke-width="${width}" fill="none"/>`);
    },
    polyline(flat, colour, width) {
      if (flat.length < 4) return;
      const points = [];
      for (let i = 0; i + 1 < flat.length; i += 2) points.push(`${n(flat[i])},${n(flat[i + 1])}`);
      parts.push(`<polyline points="${points.join(' ')}" stroke="${colour}" stroke-width="${width}" fill="none" stroke-linejoin="round"/>`);
    },
    circles(flat, radius, colour, width) {
      if (flat.length < 2) return;
      const d = [];
      for (let i = 0; i + 1 < flat.length; i += 2) {
        d.push(`M${n(flat[i] + radius)} ${n(flat[i + 1])}a${radius} ${radius} 0 1 0 ${-2 * radius} 0a${radius} ${radius} 0 1 0 ${2 * radius} 0`);
      }
      parts.push(`<path d="${d.join('')}" stroke="${colour}" stroke-width="${width}" fill="none"/>`);
    },
    text(string, x, y, { anchor = 'start', baseline = 'alphabetic', colour = '#222222', size = FONT_SIZE, rotate = 0 } = {}) {
      close_group();
      const shift = { top: 'hanging', middle: 'central', bottom: 'text-after-edge', alphabetic: 'auto' }[baseline];
      const turn = rotate ? ` transform="rotate(${rotate} ${n(x)} ${n(y)})"` : '';
      parts.push(`<text x="${n(x)}" y="${n(y)}" font-size="${size}" fill="${colour}" text-anchor="${anchor}" ` +
                 `dominant-baseline="${shift}" xml:space="preserve"${turn}>${escape_xml(string)}</text>`);
    },
    clip(x, y, w, h) {
      close_group();
      const id = `clip${++clips}`;
      parts.push(`<clipPath id="${id}"><rect x="${n(x)}" y="${n(y)}" width="${n(w)}" height="${n(h)}"/></clipPath>`,
                 `<g clip-path="url(#${id})">`);
      group_open = true;
    },
    unclip() {
      close_group();
    },
    svg() {
      close_group();
      return `<?xml version="1.0" encoding="UTF-8"?>\n<svg xmlns="http://www.w3.org/2000/svg" width="${width}" height="${height}" ` +
             `viewBox="0 0 ${width} ${height}" font-family="${FONT}">\n<title>${escape_xml(title)}</title>\n${parts.join('\n')}\n</svg>\n`;
    },
  };
}
