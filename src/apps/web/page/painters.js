// The two surfaces a figure is drawn on: a canvas (the screen, PNG files) and SVG text (vector files, text kept as text).
//
// A painter takes coordinates in CSS pixels: rect, segments (a flat list of
// x0, y0, x1, y1 per segment), polyline (a flat list of points), circles
// (a flat list of centres), text, and clip (each clip replaces the last).
// measure(text, size) is a text's width, which the layout is built from;
// texts lists the box of every text drawn, for the layout's tests.

export const FONT = 'DejaVu Sans, Helvetica, Arial, sans-serif';
export const FONT_SIZE = 12;
// A text's height, and its top below the point it is drawn at, per baseline,
// as shares of its size.
const LINE = 1.2;
const TOP = { top: 0, hanging: 0, middle: -0.6, alphabetic: -0.95, bottom: -1.2 };

// A text's width where no canvas can measure it (SVG drawn outside a
// browser): DejaVu Sans' advance widths by kind of character, rounded up.
export function estimated_width(text, size) {
  let em = 0;
  for (const c of text) {
    if (/[A-Z]/.test(c)) em += 0.72;
    else if (/[0-9]/.test(c)) em += 0.64;
    else if (c === ' ' || /[.,:;'|il!]/.test(c)) em += 0.32;
    else if (/[a-z]/.test(c)) em += 0.6;
    else em += 0.8;
  }
  return em * size;
}

// The box a text covers, for the record: {text, x0, y0, x1, y1}.
function text_box(string, x, y, width, { anchor, baseline, size, rotate }) {
  const start = anchor === 'middle' ? -width / 2 : anchor === 'end' ? -width : 0;
  const top = TOP[baseline] * size;
  const corners = [[start, top], [start + width, top + LINE * size]].map(([dx, dy]) => {
    if (!rotate) return [x + dx, y + dy];
    const a = (rotate * Math.PI) / 180;
    return [x + dx * Math.cos(a) - dy * Math.sin(a), y + dx * Math.sin(a) + dy * Math.cos(a)];
  });
  const xs = corners.map((c) => c[0]);
  const ys = corners.map((c) => c[1]);
  return { text: string, x0: Math.min(...xs), y0: Math.min(...ys), x1: Math.max(...xs), y1: Math.max(...ys) };
}

const PIECE = 2 * 256;  // coordinates in one stroke of a polyline

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
  const measure = (string, size = FONT_SIZE) => {
    context.save();
    context.font = `${size}px ${FONT}`;
    const width = context.measureText(string).width;
    context.restore();
    return width;
  };
  const texts = [];
  return {
    measure,
    texts,
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
    polyline(flat, colour, width, dash = null) {
      if (flat.length < 4) return;
      context.lineJoin = 'round';
      if (dash) context.setLineDash(dash);
      // In pieces of a few hundred points, each its own path: a rasteriser
      // strokes one long zigzag (a column's low and high, column after
      // column) in time that grows faster than its length.
      // A dash runs on from one piece into the next.
      let dashed = 0;
      for (let from = 0; from + 3 < flat.length; from += PIECE - 2) {
        context.lineDashOffset = dashed;
        stroke(colour, width, () => {
          context.moveTo(flat[from], flat[from + 1]);
          for (let i = from + 2; i + 1 < flat.length && i < from + PIECE; i += 2) {
            context.lineTo(flat[i], flat[i + 1]);
            if (dash) dashed += Math.hypot(flat[i] - flat[i - 2], flat[i + 1] - flat[i - 1]);
          }
        });
      }
      context.lineDashOffset = 0;
      if (dash) context.setLineDash([]);
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
      texts.push(text_box(string, x, y, measure(string, size), { anchor, baseline, size, rotate }));
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
// measure: a text's width in the fonts that will show the file (a canvas's,
// in a browser); an estimate otherwise.
export function svg_painter(width, height, title, measure = estimated_width) {
  const parts = [];
  const texts = [];
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
    measure: (string, size = FONT_SIZE) => measure(string, size),
    texts,
    rect(x, y, w, h, fill) {
      parts.push(`<rect x="${n(x)}" y="${n(y)}" width="${n(w)}" height="${n(h)}" fill="${fill}"/>`);
    },
    segments(flat, colour, width) {
      if (flat.length < 4) return;
      parts.push(`<path d="${path_of_segments(flat)}" stroke="${colour}" stroke-width="${width}" fill="none"/>`);
    },
    polyline(flat, colour, width, dash = null) {
      if (flat.length < 4) return;
      const points = [];
      for (let i = 0; i + 1 < flat.length; i += 2) points.push(`${n(flat[i])},${n(flat[i + 1])}`);
      const dashes = dash ? ` stroke-dasharray="${dash.join(' ')}"` : '';
      parts.push(`<polyline points="${points.join(' ')}" stroke="${colour}" stroke-width="${width}" fill="none" stroke-linejoin="round"${dashes}/>`);
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
      texts.push(text_box(string, x, y, measure(string, size), { anchor, baseline, size, rotate }));
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
