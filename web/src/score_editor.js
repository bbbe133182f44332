// The score editor: CodeMirror with the core's colours and the check as you type. The spans
// and the diagnostic come from the worker and are kept as decorations of the text they were
// computed for; an edit maps them until the next answer replaces them.
import { EditorState, StateEffect, StateField, RangeSetBuilder } from "@codemirror/state";
import {
  Decoration,
  EditorView,
  WidgetType,
  keymap,
  lineNumbers,
  highlightActiveLine,
  drawSelection,
} from "@codemirror/view";
import { defaultKeymap, history, historyKeymap } from "@codemirror/commands";
import { search, searchKeymap, highlightSelectionMatches } from "@codemirror/search";

// The class of each SpanKind of the core (core/line_highlighter.h), in its order.
const SPAN_CLASSES = [
  null,
  "tv-keyword",
  "tv-comment",
  "tv-comment",
  "tv-string",
  "tv-note",
  "tv-number",
  "tv-parameter",
  "tv-tie",
  "tv-header",
  "tv-ignored",
];
const spanMarks = SPAN_CLASSES.map((c) => (c ? Decoration.mark({ class: c }) : null));

const setSpans = StateEffect.define();
const setSounding = StateEffect.define();
const soundingMark = Decoration.mark({ class: "tv-sounding" });
const setDiagnostic = StateEffect.define();

class DiagnosticMessage extends WidgetType {
  constructor(message) {
    super();
    this.message = message;
  }
  eq(other) {
    return other.message === this.message;
  }
  toDOM() {
    const div = document.createElement("div");
    div.className = "tv-diagnostic-message";
    div.textContent = this.message;
    return div;
  }
}

// Positions of [line, from, to] in the document, or null when the line is gone.
function range(doc, line, from, to) {
  if (line < 0 || line >= doc.lines) return null;
  const l = doc.line(line + 1);
  const a = l.from + Math.min(from, l.length);
  return [a, Math.max(a, l.from + Math.min(to, l.length)), l];
}

const spanField = StateField.define({
  create: () => Decoration.none,
  update(value, tr) {
    value = value.map(tr.changes);
    for (const e of tr.effects) {
      if (!e.is(setSpans)) continue;
      const builder = new RangeSetBuilder();
      for (const [line, from, to, kind] of e.value) {
        const r = range(tr.state.doc, line, from, to);
        if (r && r[1] > r[0] && spanMarks[kind]) builder.add(r[0], r[1], spanMarks[kind]);
      }
      value = builder.finish();
    }
    return value;
  },
  provide: (f) => EditorView.decorations.from(f),
});

const diagnosticField = StateField.define({
  create: () => Decoration.none,
  update(value, tr) {
    value = value.map(tr.changes);
    for (const e of tr.effects) {
      if (!e.is(setDiagnostic)) continue;
      const d = e.value;
      const r = d && range(tr.state.doc, d.line, d.from, d.to);
      if (!r) {
        value = Decoration.none;
        continue;
      }
      const [from, to, line] = r;
      const marks = [
        Decoration.widget({ widget: new DiagnosticMessage(d.message), block: true, side: 1 }).range(
          line.to,
        ),
      ];
      if (to > from)
        marks.unshift(
          Decoration.mark({ class: "tv-diagnostic", attributes: { title: d.message } }).range(
            from,
            to,
          ),
        );
      value = Decoration.set(marks, true);
    }
    return value;
  },
  provide: (f) => EditorView.decorations.from(f),
});

// The commands sounding while the score plays: [line, from, to] each.
const soundingField = StateField.define({
  create: () => Decoration.none,
  update(value, tr) {
    value = value.map(tr.changes);
    for (const e of tr.effects) {
      if (!e.is(setSounding)) continue;
      const marks = [];
      for (const [line, from, to] of e.value) {
        const r = range(tr.state.doc, line, from, to);
        if (r && r[1] > r[0]) marks.push(soundingMark.range(r[0], r[1]));
      }
      value = Decoration.set(marks, true);
    }
    return value;
  },
  provide: (f) => EditorView.decorations.from(f),
});

export class ScoreEditor {
  // onChange(text) is called after each edit, onScroll() when other lines came into view; the
  // owner decides when to check and colour.
  constructor(parent, text, onChange, onScroll) {
    this.view = new EditorView({
      parent,
      state: EditorState.create({
        doc: text,
        extensions: [
          lineNumbers(),
          history(),
          drawSelection(),
          highlightActiveLine(),
          highlightSelectionMatches(),
          search({ top: true }),
          keymap.of([...defaultKeymap, ...historyKeymap, ...searchKeymap]),
          spanField,
          diagnosticField,
          soundingField,
          EditorView.updateListener.of((u) => {
            if (u.docChanged) onChange(this.text());
            else if (u.viewportChanged) onScroll();
          }),
        ],
      }),
    });
  }

  text() {
    return this.view.state.doc.toString();
  }

  setText(text) {
    this.view.dispatch({ changes: { from: 0, to: this.view.state.doc.length, insert: text } });
  }

  // Spans and diagnostic apply only when the text is still the one they were made for.
  showSpans(forText, spans) {
    if (forText === this.text()) this.view.dispatch({ effects: setSpans.of(spans) });
  }

  showDiagnostic(forText, diagnostic) {
    if (forText === this.text()) this.view.dispatch({ effects: setDiagnostic.of(diagnostic) });
  }

  showSounding(commands) {
    this.view.dispatch({ effects: setSounding.of(commands) });
  }

  // The lines in view (CodeMirror's viewport, which runs a little past the screen): [first,
  // count], 0-based.
  visibleLines() {
    const { from, to } = this.view.viewport;
    const doc = this.view.state.doc;
    const first = doc.lineAt(from).number - 1;
    return [first, doc.lineAt(to).number - first];
  }

  // The caret as [line, column] (0-based, UTF-16 columns).
  caret() {
    const head = this.view.state.selection.main.head;
    const line = this.view.state.doc.lineAt(head);
    return [line.number - 1, head - line.from];
  }

  select(line, from, to) {
    const r = range(this.view.state.doc, line, from, to);
    if (r) this.view.dispatch({ selection: { anchor: r[0], head: r[1] }, scrollIntoView: true });
  }
}
