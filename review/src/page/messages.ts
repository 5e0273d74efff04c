// What the page and its worker say to each other.

import type { Kind } from "../core/identify";
import type { Views } from "../core/views";

export type ToWorker = { type: "files"; files: File[] } | { type: "make"; name: string };

export type FromWorker =
  | { type: "progress"; share: number; what: string }
  | { type: "waiting"; missing: Kind[]; have: string[] }
  | { type: "error"; text: string }
  | { type: "done"; views: Views; files: string[] }
  | { type: "file"; name: string; bytes: Uint8Array };
