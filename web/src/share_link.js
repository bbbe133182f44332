// The score in the address's fragment, compressed, so a shared score never reaches a server:
// "#score=" + base64url(deflate-raw(UTF-8 text)), and ";utf8" when the score saves as UTF-8.
const PREFIX = "#score=";

function toBase64Url(bytes) {
  let binary = "";
  for (let i = 0; i < bytes.length; i += 0x8000)
    binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(binary).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
}

function fromBase64Url(text) {
  const binary = atob(text.replace(/-/g, "+").replace(/_/g, "/"));
  return Uint8Array.from(binary, (c) => c.charCodeAt(0));
}

async function pipe(bytes, stream) {
  const out = new Blob([bytes]).stream().pipeThrough(stream);
  return new Uint8Array(await new Response(out).arrayBuffer());
}

export async function shareFragment(text, encoding) {
  const packed = await pipe(new TextEncoder().encode(text), new CompressionStream("deflate-raw"));
  return PREFIX + toBase64Url(packed) + (encoding === "utf8" ? ";utf8" : "");
}

// The score of a fragment: null when the fragment carries none, { error } when it is broken
// (cut short, altered), else { text, encoding }.
export async function readFragment(fragment) {
  if (!fragment.startsWith(PREFIX)) return null;
  let body = fragment.slice(PREFIX.length);
  const utf8 = body.endsWith(";utf8");
  if (utf8) body = body.slice(0, -";utf8".length);
  try {
    const bytes = await pipe(fromBase64Url(body), new DecompressionStream("deflate-raw"));
    const text = new TextDecoder("utf-8", { fatal: true }).decode(bytes);
    return { text, encoding: utf8 ? "utf8" : "cp932" };
  } catch (error) {
    return { error: String(error) };
  }
}
