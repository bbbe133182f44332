// The piano roll: the notes of the last clean compilation on a canvas, a row a key and time
// from left to right, in the channel's colour; the play line while the score plays; a click on
// a note selects its command in the editor.
const PIXELS_PER_SECOND = 80;
const ROW_PIXELS = 4;
const CANVAS_MAX_PIXELS = 32000; // a canvas wider than this is not drawn by every browser
const KEY_MARGIN = 2;
// One colour a channel, ch1 to ch9.
const CHANNEL_COLOURS = [
  "#d33",
  "#d80",
  "#aa0",
  "#3a3",
  "#0aa",
  "#36d",
  "#83d",
  "#d3a",
  "#666",
];
// Note tuple fields (web/core/web_interface.cpp).
const [CHANNEL, START_MS, END_MS, LINE, FROM, TO, , KEY] = [0, 1, 2, 3, 4, 5, 6, 7];

export class PianoRoll {
  // onSelect(line, from, to) is called when a note is clicked.
  constructor(scroller, onSelect) {
    this.scroller = scroller;
    this.canvas = document.createElement("canvas");
    scroller.append(this.canvas);
    this.notes = [];
    this.playMs = -1;
    this.canvas.addEventListener("click", (event) => {
      const note = this.noteAt(event.offsetX, event.offsetY);
      if (note) onSelect(note[LINE], note[FROM], note[TO]);
    });
  }

  setNotes(notes) {
    this.notes = notes;
    let low = 127;
    let high = 0;
    let endMs = 0;
    for (const n of notes) {
      low = Math.min(low, n[KEY]);
      high = Math.max(high, n[KEY]);
      endMs = Math.max(endMs, n[END_MS]);
    }
    this.low = notes.length ? low - KEY_MARGIN : 60;
    this.high = notes.length ? high + KEY_MARGIN : 72;
    this.scale = Math.min(PIXELS_PER_SECOND / 1000, CANVAS_MAX_PIXELS / Math.max(endMs, 1));
    this.canvas.width = Math.max(this.scroller.clientWidth, Math.ceil(endMs * this.scale) + 1);
    this.canvas.height = (this.high - this.low + 1) * ROW_PIXELS;
    this.draw();
  }

  setPlayMs(ms) {
    this.playMs = ms;
    this.draw();
    if (ms >= 0) {
      const x = ms * this.scale;
      const { scrollLeft, clientWidth } = this.scroller;
      if (x < scrollLeft || x > scrollLeft + clientWidth) this.scroller.scrollLeft = x - 20;
    }
  }

  y(key) {
    return (this.high - key) * ROW_PIXELS;
  }

  draw() {
    const g = this.canvas.getContext("2d");
    g.fillStyle = "#fafafa";
    g.fillRect(0, 0, this.canvas.width, this.canvas.height);
    g.fillStyle = "#eee";
    for (let key = this.low; key <= this.high; key++)
      if ([1, 3, 6, 8, 10].includes(key % 12)) g.fillRect(0, this.y(key), this.canvas.width, ROW_PIXELS);
    for (const n of this.notes) {
      g.fillStyle = CHANNEL_COLOURS[n[CHANNEL] - 1];
      const x = n[START_MS] * this.scale;
      g.fillRect(x, this.y(n[KEY]), Math.max(1, (n[END_MS] - n[START_MS]) * this.scale - 1), ROW_PIXELS - 1);
    }
    if (this.playMs >= 0) {
      g.fillStyle = "#000";
      g.fillRect(this.playMs * this.scale, 0, 1, this.canvas.height);
    }
  }

  noteAt(x, y) {
    const key = this.high - Math.floor(y / ROW_PIXELS);
    const ms = x / this.scale;
    return this.notes.find((n) => n[KEY] === key && n[START_MS] <= ms && ms <= n[END_MS]) ?? null;
  }
}
