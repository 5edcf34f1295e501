// The figure on screen: a canvas redrawn for each zoom, pan, axis or size, by pointer, wheel, buttons or keys.

import { canvas_painter } from './painters.js';
import { draw_figure, finite_range } from './figure.js';

const MIN_SPAN = 1e-6;  // of the full range: the deepest zoom

export class FigureView {
  // canvas: the element drawn on; data: figure.js's data; on_cursor(text)
  // hears the position under the pointer.
  constructor(canvas, data, on_cursor = () => {}) {
    this.canvas = canvas;
    this.data = data;
    this.on_cursor = on_cursor;
    this.axis = 'position';
    this.full = {};
    for (const axis of Object.keys(data.x)) this.full[axis] = finite_range(data.x[axis]) || [0, 1];
    this.range = this.full.position.slice();
    this.box = null;
    this.pointer = null;  // the pointer's offset over the canvas, while it is there
    this.listen();
  }

  set_axis(axis) {
    this.axis = axis;
    this.reset();
  }

  reset() {
    this.range = this.full[this.axis].slice();
    this.draw();
  }

  // Zooms by factor (< 1 in) around x value at (the middle by default).
  zoom(factor, at = (this.range[0] + this.range[1]) / 2) {
    const [full_lo, full_hi] = this.full[this.axis];
    const span = Math.min(full_hi - full_lo, Math.max((full_hi - full_lo) * MIN_SPAN, (this.range[1] - this.range[0]) * factor));
    const share = (at - this.range[0]) / (this.range[1] - this.range[0]);
    this.set_range(at - share * span, span);
  }

  // Moves the view by a share of its width (positive: to higher x).
  pan(share) {
    this.set_range(this.range[0] + share * (this.range[1] - this.range[0]), this.range[1] - this.range[0]);
  }

  set_range(lo, span) {
    const [full_lo, full_hi] = this.full[this.axis];
    if (!(span > 0)) return;
    lo = Math.min(Math.max(lo, full_lo), full_hi - span);
    this.range = [lo, lo + span];
    this.draw();
  }

  view() {
    const [lo, hi] = this.range;
    return { axis: this.axis, range: hi > lo ? [lo, hi] : [lo - 0.5, lo + 0.5] };
  }

  draw() {
    const width = Math.max(200, this.canvas.parentElement.clientWidth);
    const height = width < 600 ? 340 : 440;
    const scale = window.devicePixelRatio || 1;
    if (this.canvas.width !== Math.round(width * scale) || this.canvas.height !== Math.round(height * scale)) {
      this.canvas.width = Math.round(width * scale);
      this.canvas.height = Math.round(height * scale);
      this.canvas.style.width = `${width}px`;
      this.canvas.style.height = `${height}px`;
    }
    this.size = { width, height };
    const painter = canvas_painter(this.canvas.getContext('2d'), scale);
    this.box = draw_figure(painter, this.data, this.view(), this.size);
    // What was drawn where, for the layout's tests: every text's box and the plot's frame.
    const { left, width: plot_width, curves, bottom } = this.box;
    this.canvas.dataset.layout = JSON.stringify({
      width, height, texts: painter.texts, plot: { x0: left, y0: curves.top, x1: left + plot_width, y1: bottom },
    });
    // The position under a pointer that has not moved changes with a zoom,
    // a pan or an axis by key or button.
    if (this.pointer !== null) this.on_cursor(this.x_at(this.pointer));
  }

  // The x value at a pointer's horizontal offset in the canvas.
  x_at(offset) {
    const { left, width } = this.box;
    return this.range[0] + ((offset - left) / width) * (this.range[1] - this.range[0]);
  }

  listen() {
    const canvas = this.canvas;
    let drag = null;
    canvas.addEventListener('pointerdown', (event) => {
      drag = { x: event.offsetX, range: this.range.slice() };
      canvas.setPointerCapture(event.pointerId);
    });
    canvas.addEventListener('pointermove', (event) => {
      this.pointer = event.offsetX;
      if (this.box) this.on_cursor(this.x_at(event.offsetX));
      if (!drag) return;
      const span = drag.range[1] - drag.range[0];
      this.set_range(drag.range[0] - ((event.offsetX - drag.x) / this.box.width) * span, span);
    });
    const end = () => {
      drag = null;
    };
    canvas.addEventListener('pointerup', end);
    canvas.addEventListener('pointercancel', end);
    canvas.addEventListener('pointerleave', () => {
      this.pointer = null;
      this.on_cursor(null);
    });
    canvas.addEventListener('dblclick', () => this.reset());
    canvas.addEventListener('wheel', (event) => {
      event.preventDefault();
      this.zoom(event.deltaY > 0 ? 1.25 : 0.8, this.x_at(event.offsetX));
    }, { passive: false });
    canvas.addEventListener('keydown', (event) => {
      const actions = {
        ArrowLeft: () => this.pan(-0.1),
        ArrowRight: () => this.pan(0.1),
        '+': () => this.zoom(0.8),
        '=': () => this.zoom(0.8),
        '-': () => this.zoom(1.25),
        0: () => this.reset(),
        Home: () => this.reset(),
      };
      const action = actions[event.key];
      if (!action) return;
      event.preventDefault();
      action();
    });
  }
}
