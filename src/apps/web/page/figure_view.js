// The figure on screen: a canvas redrawn for each zoom, pan, axis or size, by pointer, touch, wheel, buttons or keys.

import { canvas_painter } from './painters.js';
import { draw_figure, figure_steps, finite_range } from './figure.js';

const MIN_SPAN = 1e-6;  // of the full range: the deepest zoom
const SLICED_POINTS = 100000;  // more: the figure is drawn in steps
const STEP_MS = 30;            // the longest a step holds the page's thread

export class FigureView {
  // canvas: the element drawn on; data: figure.js's data; on_cursor(x)
  // hears the position under the pointer, on_hint(text) what to do for a
  // wheel that scrolled the page rather than zooming.
  constructor(canvas, data, on_cursor = () => {}, on_hint = () => {}) {
    this.canvas = canvas;
    this.data = data;
    this.on_cursor = on_cursor;
    this.on_hint = on_hint;
    this.axis = 'position';
    this.full = {};
    for (const axis of Object.keys(data.x)) this.full[axis] = (data.full ? data.full[axis] : finite_range(data.x[axis])) || [0, 1];
    this.range = this.full.position.slice();
    this.descending = false;  // larger x to the left (d-spacings as crystallographers often draw them)
    this.scale = 'linear';    // of the intensities: figure.js's SCALES
    this.background = false;  // drawn where the profile holds one
    this.panel = '';          // below the curves: '' (none) or a key of figure.js's PANELS
    this.magnify = null;      // {first, last, factor}: points first to last drawn factor times higher
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
    if (this.on_range) this.on_range(this);
  }

  // Zooms by factor (< 1 in) around x value at (the middle by default).
  zoom(factor, at = (this.range[0] + this.range[1]) / 2) {
    const span = this.range[1] - this.range[0];
    this.zoom_to(span * factor, at, (at - this.range[0]) / span);
  }

  // A view span wide with x value at at a share of its width from the left.
  zoom_to(span, at, share) {
    const [full_lo, full_hi] = this.full[this.axis];
    span = Math.min(full_hi - full_lo, Math.max((full_hi - full_lo) * MIN_SPAN, span));
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
    if (this.on_range) this.on_range(this);
  }

  // Shows range on axis, the whole of which is full (several histograms on
  // one d axis: the range their points span together).
  share(axis, full, range) {
    this.axis = axis;
    this.full[axis] = full.slice();
    this.range = range.slice();
    this.draw();
  }

  // Magnifies the points the view shows factor times (keeping the region
  // chosen before, if any), and shows the whole range; factor 0: none.
  magnify_shown(factor) {
    if (!factor) {
      this.magnify = null;
    } else if (this.magnify) {
      this.magnify = { ...this.magnify, factor };
    } else {
      const x = this.data.x[this.axis];
      const [lo, hi] = this.range;
      let first = -1;
      let last = -1;
      for (let i = 0; i < x.length; ++i) {
        if (!(x[i] >= lo && x[i] <= hi)) continue;
        if (first < 0) first = i;
        last = i;
      }
      this.magnify = first < 0 ? null : { first, last, factor };
    }
    this.reset();
  }

  // Another way of showing the same view: {descending}, {scale}, {background} or {panel}.
  set_view(options) {
    Object.assign(this, options);
    this.draw();
  }

  view() {
    const [lo, hi] = this.range;
    return { axis: this.axis, range: hi > lo ? [lo, hi] : [lo - 0.5, lo + 0.5], descending: this.descending, scale: this.scale,
             background: this.background, panel: this.panel, magnify: this.magnify };
  }

  draw() {
    if (this.canvas.closest('details:not([open])')) return;  // folded away: drawn when opened
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
    this.drawing = null;  // a figure in steps that this one overtakes stops
    if (this.data.count > SLICED_POINTS) {
      this.draw_in_steps(scale);
      return;
    }
    const painter = canvas_painter(this.canvas.getContext('2d'), scale);
    this.drawn(draw_figure(painter, this.data, this.view(), this.size), painter);
  }

  // A large figure is drawn a few tens of milliseconds at a time, so that
  // the page's thread is never held long, on a canvas of its own that is
  // copied onto the figure when it is whole.
  draw_in_steps(scale) {
    const off = document.createElement('canvas');
    off.width = this.canvas.width;
    off.height = this.canvas.height;
    const painter = canvas_painter(off.getContext('2d'), scale);
    const steps = figure_steps(painter, this.data, this.view(), this.size);
    const token = {};
    this.drawing = token;
    const step = () => {
      if (this.drawing !== token) return;
      const started = performance.now();
      let box = null;
      for (;;) {
        const next = steps.next();
        if (next.done) {
          box = next.value;
          break;
        }
        if (performance.now() - started > STEP_MS) {
          setTimeout(step, 0);
          return;
        }
      }
      const context = this.canvas.getContext('2d');
      context.setTransform(1, 0, 0, 1, 0, 0);
      context.clearRect(0, 0, this.canvas.width, this.canvas.height);
      context.drawImage(off, 0, 0);
      this.drawing = null;
      this.drawn(box, painter);
    };
    // The first step in a task of its own: the caller's task (a new page's
    // layout, a click) is long enough already.
    setTimeout(step, 0);
  }

  drawn(box, painter) {
    this.box = box;
    // What was drawn where, for the layout's tests: every text's box and the plot's frame.
    const { left, width: plot_width, curves, bottom } = box;
    this.canvas.dataset.layout = JSON.stringify({
      width: this.size.width, height: this.size.height, texts: painter.texts,
      plot: { x0: left, y0: curves.top, x1: left + plot_width, y1: bottom },
    });
    // The position under a pointer that has not moved changes with a zoom,
    // a pan or an axis by key or button.
    if (this.pointer !== null) this.on_cursor(this.x_at(this.pointer));
  }

  // The x value at a pointer's horizontal offset in the canvas.
  x_at(offset) {
    const { left, width } = this.box;
    const along = ((offset - left) / width) * (this.range[1] - this.range[0]);
    return this.descending ? this.range[1] - along : this.range[0] + along;
  }

  listen() {
    const canvas = this.canvas;
    // Pointers down on the figure, by id: one drags the view along, two
    // (fingers) pinch it. A vertical swipe never arrives: the page scrolls
    // (touch-action: pan-y).
    const pointers = new Map();
    let gesture = null;
    const begin = () => {
      const xs = [...pointers.values()];
      const range = this.range.slice();
      if (xs.length === 1) gesture = { x: xs[0], range };
      else if (xs.length === 2) {
        const middle = (xs[0] + xs[1]) / 2;
        const at = this.x_at(middle);
        gesture = { distance: Math.max(Math.abs(xs[0] - xs[1]), 10), at, share: (at - range[0]) / (range[1] - range[0]), range };
      } else gesture = null;
    };
    canvas.addEventListener('pointerdown', (event) => {
      pointers.set(event.pointerId, event.offsetX);
      canvas.setPointerCapture(event.pointerId);
      begin();
    });
    canvas.addEventListener('pointermove', (event) => {
      this.pointer = event.offsetX;
      if (this.box) this.on_cursor(this.x_at(event.offsetX));
      if (!pointers.has(event.pointerId) || !gesture) return;
      pointers.set(event.pointerId, event.offsetX);
      const span = gesture.range[1] - gesture.range[0];
      if (pointers.size === 1) {
        const moved = ((event.offsetX - gesture.x) / this.box.width) * span;
        this.set_range(gesture.range[0] + (this.descending ? moved : -moved), span);
      } else if (pointers.size === 2) {
        const xs = [...pointers.values()];
        this.zoom_to(span * (gesture.distance / Math.max(Math.abs(xs[0] - xs[1]), 10)), gesture.at, gesture.share);
      }
    });
    const end = (event) => {
      pointers.delete(event.pointerId);
      begin();
    };
    canvas.addEventListener('pointerup', end);
    canvas.addEventListener('pointercancel', end);
    canvas.addEventListener('pointerleave', () => {
      this.pointer = null;
      this.on_cursor(null);
    });
    canvas.addEventListener('dblclick', () => this.reset());
    // The wheel zooms a figure the user has chosen (a click or Tab gives it
    // the focus) or with Ctrl or ⌘ held (a trackpad's pinch too), as embedded
    // maps do; otherwise it scrolls the page past the figure.
    canvas.addEventListener('wheel', (event) => {
      if (document.activeElement !== canvas && !event.ctrlKey && !event.metaKey) {
        this.on_hint('Click the figure, or hold Ctrl (⌘ on a Mac), to zoom with the wheel');
        return;
      }
      event.preventDefault();
      this.zoom(event.deltaY > 0 ? 1.25 : 0.8, this.x_at(event.offsetX));
    }, { passive: false });
    canvas.addEventListener('keydown', (event) => {
      const actions = {
        ArrowLeft: () => this.pan(this.descending ? 0.1 : -0.1),
        ArrowRight: () => this.pan(this.descending ? -0.1 : 0.1),
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
